#include "dbengine/storage/orv_btree_key.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_variant.h"
#include "dbengine/storage/orv_variant_buffer.h"

namespace orv {

namespace vb = value_buffer;

namespace {

struct FreeBuffer {
  void operator()(void* p) const { MemoryManager().FreeMem(p); }
};
using OwnedBuffer = std::unique_ptr<void, FreeBuffer>;

bool IsTextLike(TORVBaseFieldType t) {
  return t == bftChar || t == bftVarchar || t == bftBytes || t == bftVarBytes || t == bftWideChar ||
         t == bftWideVarchar;
}

// Bytes a fixed-size value is read with; 0 for the types read up to a terminator.
int32_t FixedReadSize(TORVBaseFieldType t) {
  if (IsTextLike(t)) return 0;
  switch (t) {
    case bftSignedInt8:
    case bftUnsignedInt8: return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical: return 2;
    case bftExtended: return 10;
    case bftSignedInt64:
    case bftDouble:
    case bftDateTime:
    case bftCurrency: return 8;
    default: return 4;
  }
}

}  // namespace

// ---- TORVBTreeKeyRef ----------------------------------------------------------------------

void* TORVBTreeKeyRef::AllocShortKeyBuffer() const { return MemoryManager().AllocMem(std::max(FShortKeySize, 1)); }
void* TORVBTreeKeyRef::AllocFullKeyBuffer() const { return MemoryManager().AllocMem(std::max(FFullKeySize, 1)); }
void TORVBTreeKeyRef::FreeAndNilKeyBuffer(void*& Buffer) const { MemoryManager().FreeAndNillMem(Buffer); }

int32_t TORVBTreeKeyRef::CompareReferences(const void* Reference1, const void* Reference2, int32_t Size) {
  const auto* a = static_cast<const uint8_t*>(Reference1);
  const auto* b = static_cast<const uint8_t*>(Reference2);
  if (Size == TORVPageItemID::StoredSize) {
    const TORVPageItemID x = TORVPageItemID::ReadFrom(a);
    const TORVPageItemID y = TORVPageItemID::ReadFrom(b);
    if (x.PageNo != y.PageNo) return x.PageNo < y.PageNo ? -1 : 1;
    if (x.PageItemNo != y.PageItemNo) return x.PageItemNo < y.PageItemNo ? -1 : 1;
    return 0;
  }
  for (int32_t i = 0; i < Size; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

// ---- TORVRecordKeyRef ---------------------------------------------------------------------

void TORVRecordKeyRef::SetPartCount(int32_t Value) {
  TORVBTreeKeyRef::SetPartCount(Value);
  FCompareLengths.assign(static_cast<size_t>(Value), -1);
}

void TORVRecordKeyRef::Assign(const std::vector<TORVKeyColumn>& Columns, IORVKeyTable* aTableData) {
  LTableData = aTableData;
  SetPartCount(static_cast<int32_t>(Columns.size()));
  FCompareFieldCount = GetPartCount();
  FShortKeySize = 0;
  FFullKeySize = 0;
  if (!aTableData) throw EORVException(20044, "Pointer is nil");
  if (!aTableData->HasFieldDefs()) throw EORVException(20045, "Pointer is nil");
  int32_t short_offset = 0, full_offset = 0;
  for (size_t i = 0; i < Columns.size(); ++i) {
    const TORVKeyColumn& column = Columns[i];
    TORVKeyPart& part = Parts[i];
    part.OffsetInShortKeyBuffer = short_offset;
    part.OffsetInFullKeyBuffer = full_offset;
    TORVKeyFieldInfo field;
    if (!aTableData->FindKeyField(column.FieldName, field))
      throw EORVException(20043, "Cannot find index field '%s'", {column.FieldName});
    if (IsBLOBFieldType(field.BaseFieldType))
      throw EORVException(20295,
                          "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, please "
                          "use CAST(blob_field, string) function to convert BLOB field to a string expression before "
                          "indexing.",
                          {column.FieldName});
    part.OffsetInRecordBuffer = field.MemoryOffset;
    part.FieldNo = field.FieldNo;
    if (column.MaxIndexedSize < field.MemoryDataSize) {
      part.AddedSize = 2;
      part.ShortSize = column.MaxIndexedSize + 3;
    } else {
      part.AddedSize = 0;
      part.ShortSize = field.MemoryDataSize + 1;
    }
    part.FullSize = field.MemoryDataSize + 1;
    short_offset += part.ShortSize;
    full_offset += part.FullSize;
    FShortKeySize += part.ShortSize;
    FFullKeySize += part.FullSize;
    part.DataType = field.BaseFieldType;
    part.Descending = column.Descending;
    part.CaseInsensitive = column.CaseInsensitive;
  }
}

void TORVRecordKeyRef::MakeShortKeyFromRecordBuffer(const void* RecordBuffer, void* KeyBuffer) {
  const auto* record = static_cast<const uint8_t*>(RecordBuffer);
  auto* key = static_cast<uint8_t*>(KeyBuffer);
  for (const TORVKeyPart& part : Parts) {
    uint8_t* p = key + part.OffsetInShortKeyBuffer;
    // The whole part is written, so that the cut part's added bytes are the zeros that
    // terminate its text whatever the buffer held before.
    std::memset(p, 0, static_cast<size_t>(part.ShortSize));
    if (CheckNullFlag(part.FieldNo, record)) {
      p[0] = BTreeKeyIsNull;
    } else {
      p[0] = BTreeKeyIsNotNull;
      std::memcpy(p + 1, record + part.OffsetInRecordBuffer, static_cast<size_t>(part.ShortSize - part.AddedSize - 1));
    }
  }
  LRecordBuffer = RecordBuffer;
}

void TORVRecordKeyRef::MakeFullKeyFromRecordBuffer(const void* RecordBuffer, void* KeyBuffer) const {
  const auto* record = static_cast<const uint8_t*>(RecordBuffer);
  auto* key = static_cast<uint8_t*>(KeyBuffer);
  for (const TORVKeyPart& part : Parts) {
    uint8_t* p = key + part.OffsetInFullKeyBuffer;
    std::memset(p, 0, static_cast<size_t>(part.FullSize));
    if (CheckNullFlag(part.FieldNo, record)) {
      p[0] = BTreeKeyIsNull;
    } else {
      p[0] = BTreeKeyIsNotNull;
      std::memcpy(p + 1, record + part.OffsetInRecordBuffer, static_cast<size_t>(part.FullSize - 1));
    }
  }
}

namespace {
template <class T>
int32_t Sign(T a, T b) {
  return (a > b) - (a < b);
}
}  // namespace

int32_t TORVRecordKeyRef::ComparePart(const TORVKeyPart& Part, int32_t PartNo, const uint8_t* Value1,
                                      const uint8_t* Value2, bool Null1, bool Null2, int32_t ValueSize) const {
  // Whole integers compare here directly: they are most keys, and every search compares
  // many of them.
  if (!Null1 && !Null2 && ValueSize >= 4) {
    switch (Part.DataType) {
      case bftSignedInt32:
      case bftDate:
      case bftTime: return Sign(vb::Load<int32_t>(Value1), vb::Load<int32_t>(Value2));
      case bftUnsignedInt32: return Sign(vb::Load<uint32_t>(Value1), vb::Load<uint32_t>(Value2));
      case bftSignedInt64:
        if (ValueSize >= 8) return Sign(vb::Load<int64_t>(Value1), vb::Load<int64_t>(Value2));
        break;
      default: break;
    }
  }
  // A fixed-size value cut shorter than its type is read from a zero-padded copy: the
  // comparison never reads past the key.
  uint8_t pad1[16], pad2[16];
  const int32_t fixed = FixedReadSize(Part.DataType);
  if (fixed > ValueSize) {
    std::memset(pad1, 0, sizeof pad1);
    std::memset(pad2, 0, sizeof pad2);
    std::memcpy(pad1, Value1, static_cast<size_t>(std::max(ValueSize, 0)));
    std::memcpy(pad2, Value2, static_cast<size_t>(std::max(ValueSize, 0)));
    Value1 = pad1;
    Value2 = pad2;
  }
  return CompareResultForOrder(CompareSizedValueBuffers(Value1, ValueSize, Value2, ValueSize, Part.DataType,
                                                        Part.DataType, Null1, Null2,
                                                        FCompareLengths[static_cast<size_t>(PartNo)],
                                                        Part.CaseInsensitive, 0x400));
}

namespace {
// Whether a cut value may be longer than what the key keeps: its kept bytes hold no
// terminator. Other types than text always may.
bool KeptValueIsFull(const TORVKeyPart& part, const uint8_t* value) {
  const int32_t kept = part.ShortSize - part.AddedSize - 1;
  switch (part.DataType) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes: return std::memchr(value, 0, static_cast<size_t>(kept)) == nullptr;
    case bftWideChar:
    case bftWideVarchar:
      for (int32_t i = 0; i + 1 < kept; i += 2)
        if ((value[i] | value[i + 1]) == 0) return false;
      return true;
    default: return true;
  }
}
}  // namespace

int32_t TORVRecordKeyRef::CompareByFullKeys(const void* Reference1, const void* Reference2, int32_t SessionID) {
  OwnedBuffer full1(AllocFullKeyBuffer());
  OwnedBuffer full2(AllocFullKeyBuffer());
  if (Reference1) {
    RetrieveFullKeyByRecordID(TORVPageItemID::ReadFrom(static_cast<const uint8_t*>(Reference1)), full1.get(), SessionID);
  } else {
    if (!LRecordBuffer) throw EORVException(20170, "Cannot retrieve record for index");
    MakeFullKeyFromRecordBuffer(LRecordBuffer, full1.get());
  }
  RetrieveFullKeyByRecordID(TORVPageItemID::ReadFrom(static_cast<const uint8_t*>(Reference2)), full2.get(), SessionID);
  return CompareFullKeys(full1.get(), full2.get());
}

int32_t TORVRecordKeyRef::CompareShortKeys(const void* KeyBuffer1, const void* KeyBuffer2, bool MayUseFullKeys,
                                           int32_t SessionID, const void* Reference1, const void* Reference2) {
  const auto* key1 = static_cast<const uint8_t*>(KeyBuffer1);
  const auto* key2 = static_cast<const uint8_t*>(KeyBuffer2);
  const int32_t n = std::min(FCompareFieldCount, GetPartCount());
  for (int32_t i = 0; i < n; ++i) {
    const TORVKeyPart& part = Parts[static_cast<size_t>(i)];
    const uint8_t* p1 = key1 + part.OffsetInShortKeyBuffer;
    const uint8_t* p2 = key2 + part.OffsetInShortKeyBuffer;
    const bool null1 = p1[0] == BTreeKeyIsNull;
    const bool null2 = p2[0] == BTreeKeyIsNull;
    int32_t r = ComparePart(part, i, p1 + 1, p2 + 1, null1, null2, part.ShortSize - 1);
    if (r == 0 && part.AddedSize != 0) {
      if (!MayUseFullKeys) return 0;
      // Equal kept prefixes decide nothing when the first value may go on beyond them: the
      // stored records do, without a further sign change.
      if (Reference2 && !null1 && KeptValueIsFull(part, p1 + 1)) return CompareByFullKeys(Reference1, Reference2, SessionID);
      continue;
    }
    if (part.Descending) r = -r;
    if (r != 0) return r;
  }
  return 0;
}

int32_t TORVRecordKeyRef::CompareFullKeys(const void* KeyBuffer1, const void* KeyBuffer2) {
  const auto* key1 = static_cast<const uint8_t*>(KeyBuffer1);
  const auto* key2 = static_cast<const uint8_t*>(KeyBuffer2);
  const int32_t n = std::min(FCompareFieldCount, GetPartCount());
  for (int32_t i = 0; i < n; ++i) {
    const TORVKeyPart& part = Parts[static_cast<size_t>(i)];
    const uint8_t* p1 = key1 + part.OffsetInFullKeyBuffer;
    const uint8_t* p2 = key2 + part.OffsetInFullKeyBuffer;
    int32_t r = ComparePart(part, i, p1 + 1, p2 + 1, p1[0] == BTreeKeyIsNull, p2[0] == BTreeKeyIsNull, part.FullSize - 1);
    if (part.Descending) r = -r;
    if (r != 0) return r;
  }
  return 0;
}

void TORVRecordKeyRef::SetPartialCompare(const void* RecordBuffer, bool PartialCompare) {
  const auto* record = static_cast<const uint8_t*>(RecordBuffer);
  FCompareLengths.assign(Parts.size(), -1);
  if (!PartialCompare || !record) return;
  for (size_t i = 0; i < Parts.size(); ++i) {
    const TORVKeyPart& part = Parts[i];
    if (CheckNullFlag(part.FieldNo, record)) continue;
    const uint8_t* value = record + part.OffsetInRecordBuffer;
    const int32_t size = part.FullSize - 1;
    if (part.DataType == bftWideChar || part.DataType == bftWideVarchar)
      FCompareLengths[i] = vb::TextLength<char16_t>(value, size);
    else if (part.DataType == bftChar || part.DataType == bftVarchar)
      FCompareLengths[i] = vb::TextLength<char>(value, size);
  }
}

void TORVRecordKeyRef::RetrieveFullKeyByRecordID(const TORVPageItemID& RecordID, void* FullKey, int32_t SessionID) {
  if (!LTableData) throw EORVException(20170, "Cannot retrieve record for index");
  OwnedBuffer record(MemoryManager().AllocMem(std::max(LTableData->GetMemoryRecordBufferSize(), 1)));
  TORVNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  info.RecordID = RecordID;
  info.FirstPosition = false;
  info.LastPosition = false;
  info.RecordBuffer = record.get();
  info.GetRecordResult = grrError;
  LTableData->GetRecordBuffer(SessionID, info);
  if (info.GetRecordResult != grrOK) throw EORVException(20170, "Cannot retrieve record for index");
  MakeFullKeyFromRecordBuffer(record.get(), FullKey);
}

// ---- TORVPageKeyRef -----------------------------------------------------------------------

TORVPageKeyRef::TORVPageKeyRef() {
  SetPartCount(1);
  TORVKeyPart& part = Parts[0];
  part.ShortSize = part.FullSize = 4;
  part.DataType = bftSignedInt32;
  FShortKeySize = FFullKeySize = 4;
  FReferenceSize = 2;
  FCompareFieldCount = 1;
}

int32_t TORVPageKeyRef::CompareShortKeys(const void* KeyBuffer1, const void* KeyBuffer2, bool, int32_t, const void*,
                                         const void*) {
  const auto a = static_cast<int32_t>(LoadLE32(static_cast<const uint8_t*>(KeyBuffer1)));
  const auto b = static_cast<int32_t>(LoadLE32(static_cast<const uint8_t*>(KeyBuffer2)));
  return a < b ? -1 : (a > b ? 1 : 0);
}

int32_t TORVPageKeyRef::CompareFullKeys(const void* KeyBuffer1, const void* KeyBuffer2) {
  return CompareShortKeys(KeyBuffer1, KeyBuffer2, false, -1, nullptr, nullptr);
}

}  // namespace orv
