#include "dbengine/storage/orv_base_engine_fields.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

namespace {

struct Range {
  int64_t low;
  int64_t high;
};

// The values a field of this storage type can hold; other types count as 64-bit.
Range RangeOf(TORVBaseFieldType type) {
  switch (type) {
    case bftSignedInt8: return {INT8_MIN, INT8_MAX};
    case bftSignedInt16: return {INT16_MIN, INT16_MAX};
    case bftSignedInt32: return {INT32_MIN, INT32_MAX};
    case bftUnsignedInt8: return {0, UINT8_MAX};
    case bftUnsignedInt16: return {0, UINT16_MAX};
    case bftUnsignedInt32: return {0, UINT32_MAX};
    default: return {INT64_MIN, INT64_MAX};
  }
}

bool IsSigned(TORVBaseFieldType type) {
  return type == bftSignedInt8 || type == bftSignedInt16 || type == bftSignedInt32 || type == bftSignedInt64;
}

// A stored integer of Size bytes (little-endian), sign-extended for the signed types.
int64_t ReadInteger(const uint8_t* data, int32_t size, TORVBaseFieldType type) {
  size = std::clamp(size, 0, 8);
  uint64_t v = 0;
  for (int32_t i = 0; i < size; ++i) v |= static_cast<uint64_t>(data[i]) << (8 * i);
  if (IsSigned(type) && size > 0 && size < 8 && (data[size - 1] & 0x80)) v |= ~0ull << (8 * size);
  return static_cast<int64_t>(v);
}

void WriteInteger(uint8_t* data, int32_t size, int64_t value) {
  const auto v = static_cast<uint64_t>(value);
  for (int32_t i = 0; i < std::clamp(size, 0, 8); ++i) data[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TORVBaseFieldManager::TORVBaseFieldManager(TORVTableData* TableData) : FTableData(TableData) {}

// ---- Metadata and counters ----------------------------------------------------------------------

void TORVBaseFieldManager::LoadMetadata(platform::TStream& Stream) {
  FFieldDefs.LoadFromStream(Stream);
  RecalcFieldOffsets();
  InitLastAutoIncValues();
}

void TORVBaseFieldManager::SaveMetadata(platform::TStream& Stream) const { FFieldDefs.SaveToStream(Stream); }

void TORVBaseFieldManager::InitLastAutoIncValues() {
  const int32_t count = FFieldDefs.GetCount();
  FLastAutoIncValues.assign(static_cast<size_t>(count), 0);
  for (int32_t i = 0; i < count; ++i) {
    const TORVFieldDef* f = FFieldDefs.GetDef(i);
    if (IsAutoincFieldType(f->AdvancedFieldType)) FLastAutoIncValues[static_cast<size_t>(i)] = f->AutoincInitialValue;
  }
}

void TORVBaseFieldManager::LoadMostUpdated(std::span<const uint8_t> Buf, int32_t& Offset) {
  const auto size = static_cast<int64_t>(Buf.size());
  if (Offset < 0 || Offset + 4 > size)
    throw EORVException(10433, "Invalid most updated block. Offset = %d, Count = %d, Size = %d", {Offset, 0, size});
  const auto n = static_cast<int32_t>(LoadLE32(Buf.data() + Offset));
  if (n < 0 || Offset + 4 + 8 * static_cast<int64_t>(n) > size)
    throw EORVException(10433, "Invalid most updated block. Offset = %d, Count = %d, Size = %d", {Offset, n, size});
  Offset += 4;
  FLastAutoIncValues.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i, Offset += 8)
    FLastAutoIncValues[static_cast<size_t>(i)] = static_cast<int64_t>(LoadLE64(Buf.data() + Offset));
}

void TORVBaseFieldManager::SaveMostUpdated(std::span<uint8_t> Buf, int32_t& Offset) const {
  const auto n = static_cast<int32_t>(FLastAutoIncValues.size());
  const auto size = static_cast<int64_t>(Buf.size());
  if (Offset < 0 || Offset + static_cast<int64_t>(MostUpdatedSize()) > size)
    throw EORVException(10434, "Invalid most updated block. Offset = %d, Count = %d, Size = %d", {Offset, n, size});
  StoreLE32(Buf.data() + Offset, static_cast<uint32_t>(n));
  Offset += 4;
  for (int64_t v : FLastAutoIncValues) {
    StoreLE64(Buf.data() + Offset, static_cast<uint64_t>(v));
    Offset += 8;
  }
}

int64_t TORVBaseFieldManager::GetNextAutoincVal(int32_t FieldNo) {
  if (FieldNo < 0 || FieldNo >= FFieldDefs.GetCount()) throw EORVException(30402, "Field #%d not found", {FieldNo});
  if (FieldNo >= static_cast<int32_t>(FLastAutoIncValues.size()))
    throw EORVException(30403, "Field #%d not found", {FieldNo});
  const TORVFieldDef* f = FFieldDefs.GetDef(FieldNo);
  int64_t& last = FLastAutoIncValues[static_cast<size_t>(FieldNo)];
  const int64_t increment = f->AutoincIncrement == 0 ? 1 : f->AutoincIncrement;
  // A value the field cannot hold would be cut to its width and repeat earlier values; an
  // overflow of 64 bits would wrap. Both count as passing the maximum.
  Range range = RangeOf(f->BaseFieldType);
  if (f->AutoincMaxValue != 0) range.high = std::min(range.high, f->AutoincMaxValue);
  int64_t next = 0;
  const bool overflow = __builtin_add_overflow(last, increment, &next);
  if (!overflow && next >= range.low && next <= range.high) {
    last = next;
    return last;
  }
  if (f->AutoincCycled) {
    last = f->AutoincMinValue;
    return last;
  }
  if (!overflow) last = next;
  throw EORVException(20160, "Autoinc max value exceeded for field '%s'", {f->Name});
}

void TORVBaseFieldManager::SetSessionLastValue(TORVBaseSession* Session, int32_t FieldNo, int64_t Value) {
  if (!Session) return;
  Session->SetObject(
      std::make_unique<TORVSessionNamedObjectSequenceValue>(FFieldDefs.GetDef(FieldNo)->ObjectID, Value));
}

int64_t TORVBaseFieldManager::GetNextAutoinc(TORVBaseSession* Session, int32_t FieldNo) {
  const int64_t value = GetNextAutoincVal(FieldNo);
  SetSessionLastValue(Session, FieldNo, value);
  return value;
}

int64_t TORVBaseFieldManager::GetLastAutoinc(TORVBaseSession* Session, int32_t FieldNo) {
  if (FieldNo < 0 || FieldNo >= FFieldDefs.GetCount()) throw EORVException(30402, "Field #%d not found", {FieldNo});
  const TORVFieldDef* f = FFieldDefs.GetDef(FieldNo);
  if (Session) {
    if (auto* value = dynamic_cast<TORVSessionNamedObjectSequenceValue*>(Session->GetObjectByID(f->ObjectID)))
      return value->FValue;
    if (Session->FMultiUser)
      throw EORVException(30012, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first", {f->Name});
  }
  if (!IsAutoincFieldType(f->AdvancedFieldType) || FieldNo >= static_cast<int32_t>(FLastAutoIncValues.size())) return 0;
  return FLastAutoIncValues[static_cast<size_t>(FieldNo)];
}

void TORVBaseFieldManager::UpdateLastAutoinc(TORVBaseSession* Session, int32_t FieldNo, int64_t InsertedValue) {
  if (FieldNo < 0 || FieldNo >= static_cast<int32_t>(FLastAutoIncValues.size()))
    throw EORVException(30403, "Field #%d not found", {FieldNo});
  int64_t& last = FLastAutoIncValues[static_cast<size_t>(FieldNo)];
  if (InsertedValue <= last) return;
  last = InsertedValue;
  SetSessionLastValue(Session, FieldNo, InsertedValue);
}

void TORVBaseFieldManager::ApplyAutoincsToRecordBuffer(TORVBaseSession* Session, void* RecordBuffer) {
  auto* record = static_cast<uint8_t*>(RecordBuffer);
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORVFieldDef* f = FFieldDefs.GetDef(i);
    if (!IsAutoincFieldType(f->AdvancedFieldType)) continue;
    uint8_t* data = record + f->MemoryOffset;
    if (CheckNullFlag(i, record)) {
      WriteInteger(data, f->MemoryDataSize, GetNextAutoinc(Session, i));
      SetNullFlag(false, i, record);
    } else {
      // Read as the field's type: -5 in an Integer column is -5, not 4294967291.
      UpdateLastAutoinc(Session, i, ReadInteger(data, f->MemoryDataSize, f->BaseFieldType));
    }
  }
}

// ---- Default values ---------------------------------------------------------------------------------

void TORVBaseFieldManager::ApplyDefaultValuesToRecordBuffer(TORVBaseSession* /*Session*/, void* RecordBuffer) {
  auto* record = static_cast<uint8_t*>(RecordBuffer);
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORVFieldDef* f = FFieldDefs.GetDef(i);
    if (IsBLOBFieldType(f->BaseFieldType) || !f->DefaultValue || f->DefaultValue->GetIsNull()) continue;
    TORVVariant value;
    if (f->DefaultValueExpr) {
      const TORVVariant* result = f->DefaultValueExpr->GetValue(true);
      if (!result || result->GetIsNull()) continue;
      value.Assign(*result, true);
    } else {
      value.Assign(*f->DefaultValue, true);
    }
    // A default kept in another type (a text for a number column) is stored as the field's
    // type, never as foreign bytes; and it never writes past the field.
    if (value.DataType() != f->BaseFieldType) value.Cast(f->BaseFieldType);
    uint8_t* data = record + f->MemoryOffset;
    std::memset(data, 0, static_cast<size_t>(f->MemoryDataSize));
    value.CopyDataToAddress(data, f->MemoryDataSize);
    SetNullFlag(false, i, record);
  }
}

// ---- Record forms ---------------------------------------------------------------------------------

namespace {

// A record from one form into the other: the target cleared, the null flags, then every
// field's stored bytes (a BLOB's memory-only part stays zero in memory).
void ConvertRecordForm(const TORVFieldDefs& Defs, int32_t NullFlagsSize, const void* From, void* To, bool ToDisk) {
  const auto* from = static_cast<const uint8_t*>(From);
  auto* to = static_cast<uint8_t*>(To);
  const int32_t size = ToDisk ? Defs.GetDiskRecordBufferSize() : Defs.GetMemoryRecordBufferSize();
  std::memset(to, 0, static_cast<size_t>(size));
  std::memcpy(to, from, static_cast<size_t>(NullFlagsSize));
  for (int32_t i = 0; i < Defs.GetCount(); ++i) {
    const TORVFieldDef* f = Defs.GetDef(i);
    const int32_t source = ToDisk ? f->MemoryOffset : f->DiskOffset;
    const int32_t target = ToDisk ? f->DiskOffset : f->MemoryOffset;
    std::memcpy(to + target, from + source, static_cast<size_t>(f->DiskDataSize));
  }
}

}  // namespace

void TORVBaseFieldManager::DiskRecordBufferToMemRecordBuffer(const void* DiskRecordBuffer,
                                                             void* MemRecordBuffer) const {
  ConvertRecordForm(FFieldDefs, NullFlagsSize(), DiskRecordBuffer, MemRecordBuffer, false);
}

void TORVBaseFieldManager::MemRecordBufferToDiskRecordBuffer(const void* MemRecordBuffer,
                                                             void* DiskRecordBuffer) const {
  ConvertRecordForm(FFieldDefs, NullFlagsSize(), MemRecordBuffer, DiskRecordBuffer, true);
}

bool TORVBaseFieldManager::CompareRecordBuffers(const void* RecordBuffer1, const void* RecordBuffer2) const {
  const auto* a = static_cast<const uint8_t*>(RecordBuffer1);
  const auto* b = static_cast<const uint8_t*>(RecordBuffer2);
  if (std::memcmp(a, b, static_cast<size_t>(NullFlagsSize())) != 0) return false;
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORVFieldDef* f = FFieldDefs.GetDef(i);
    if (std::memcmp(a + f->MemoryOffset, b + f->MemoryOffset, static_cast<size_t>(f->DiskDataSize)) != 0) return false;
  }
  return true;
}

bool TORVBaseFieldManager::BlobFieldsPresent() const {
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TORVFieldDef* f = FFieldDefs.GetDef(i);
    if (!IsBLOBFieldType(f->BaseFieldType)) continue;
    if (f->BLOBBlockSize == 0) throw EORVException(10421, "BLOB block size should be > 0 for field %s", {f->Name});
    return true;
  }
  return false;
}

}  // namespace orv
