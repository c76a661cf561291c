#include "dbengine/storage/orv_base_engine_database.h"

#include <algorithm>
#include <cstring>

#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/orv_variant.h"

namespace orv {

namespace {

using Guard = TORVLockGuard<TORVDatabaseData>;

bool SameName(std::string_view a, std::string_view b) { return AnsiUpperCase(a) == AnsiUpperCase(b); }

}  // namespace

TORVDatabaseData::TORVDatabaseData() = default;

TORVDatabaseData::~TORVDatabaseData() {
  // Each table data is taken out of the list before it is freed, so that nothing it does on
  // the way out finds itself still listed.
  while (!FTableDataList.empty()) {
    std::unique_ptr<TORVTableData> last = std::move(FTableDataList.back());
    FTableDataList.pop_back();
    last.reset();
  }
  if (LeaveDatabaseList) {
    try {
      LeaveDatabaseList(*this);
    } catch (...) {
      // A destructor never raises; the list's owner reports its own failures.
    }
  }
}

void TORVDatabaseData::ConnectSession(TORVBaseSession* Session) {
  Guard guard(*this);
  FSessionList.push_back(Session);
  Session->FSessionID = 0;
}

void TORVDatabaseData::DisconnectSession(TORVBaseSession* Session) {
  Guard guard(*this);
  if (auto it = std::find(FSessionList.begin(), FSessionList.end(), Session); it != FSessionList.end())
    FSessionList.erase(it);
}

bool TORVDatabaseData::FreeIfNoSessionsConnected() {
  {
    Guard guard(*this);
    if (!FSessionList.empty() || !ReleaseIfUnused) return false;
  }
  // The hook frees this object: nothing may touch it afterwards.
  auto release = ReleaseIfUnused;
  release(*this);
  return true;
}

void TORVDatabaseData::GetTablesList(std::vector<std::string>& List) {
  Guard guard(*this);
  for (const auto& t : FTableDataList) List.push_back(t->FTableName);
}

TORVTableData* TORVDatabaseData::FindTableData(TORVCursor* Cursor) {
  Guard guard(*this);
  for (const auto& t : FTableDataList)
    if (SameName(t->FTableName, Cursor->FTableName)) return t.get();
  return nullptr;
}

TORVTableData* TORVDatabaseData::FindOrCreateTableData(TORVCursor* Cursor) {
  Guard guard(*this);
  if (TORVTableData* found = FindTableData(Cursor)) return found;
  return CreateTableData(Cursor);
}

void TORVDatabaseData::Commit(int32_t SessionID, bool /*DoFlushBuffers*/) {
  Guard guard(*this);
  if (FPageManager) FPageManager->ApplyChanges(SessionID);
}

void TORVDatabaseData::Rollback(int32_t SessionID) {
  Guard guard(*this);
  if (FPageManager) FPageManager->CancelChanges(SessionID);
  for (size_t i = 0; i < FTableDataList.size(); ++i) FTableDataList[i]->Rollback(SessionID);
}

bool TORVDatabaseData::TableExists(const std::string& TableName) {
  Guard guard(*this);
  std::vector<std::string> list;
  GetTablesList(list);
  return std::any_of(list.begin(), list.end(), [&](const std::string& n) { return SameName(n, TableName); });
}

TORVTableData* TORVDatabaseData::AddTableData(std::unique_ptr<TORVTableData> TableData) {
  Guard guard(*this);
  FTableDataList.push_back(std::move(TableData));
  return FTableDataList.back().get();
}

void TORVDatabaseData::DeleteTableData(TORVTableData* TableData) {
  std::unique_ptr<TORVTableData> doomed;
  {
    Guard guard(*this);
    auto it = std::find_if(FTableDataList.begin(), FTableDataList.end(),
                           [TableData](const auto& t) { return t.get() == TableData; });
    if (it == FTableDataList.end()) return;
    doomed = std::move(*it);
    FTableDataList.erase(it);
    doomed.reset();
  }
}

// ---- Record routines -----------------------------------------------------------------------

bool GetFieldData(int32_t FieldNo, const TORVFieldDefs& FieldDefs, void* Buffer, const void* RecordBuffer) {
  const int32_t count = FieldDefs.GetCount();
  if (FieldNo < 0 || FieldNo >= count)
    throw EORVException(10000, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, count});
  if (!RecordBuffer) throw EORVException(10003, "Nil pointer occured");
  const auto* record = static_cast<const uint8_t*>(RecordBuffer);
  if (CheckNullFlag(FieldNo, record)) return false;
  if (!Buffer) return true;
  const TORVFieldDef* f = FieldDefs.GetDef(FieldNo);
  switch (f->AdvancedFieldType) {
    case aftBlob:
    case aftGraphic:
    case aftMemo:
    case aftFormattedMemo:
    case aftWideMemo:
      return true;
    default:
      break;
  }
  const uint8_t* data = record + f->MemoryOffset;
  try {
    switch (f->AdvancedFieldType) {
      case aftShortint: {
        const auto v = static_cast<int16_t>(static_cast<int8_t>(data[0]));
        std::memcpy(Buffer, &v, sizeof v);
        break;
      }
      case aftCardinal: {
        const auto v = static_cast<int64_t>(LoadLE32(data));
        std::memcpy(Buffer, &v, sizeof v);
        break;
      }
      case aftSingle: {
        float s;
        std::memcpy(&s, data, sizeof s);
        const double v = s;
        std::memcpy(Buffer, &v, sizeof v);
        break;
      }
      case aftExtended: {
        const auto v = static_cast<double>(BytesToExtended(data));
        std::memcpy(Buffer, &v, sizeof v);
        break;
      }
      default:
        std::memcpy(Buffer, data, static_cast<size_t>(f->MemoryDataSize));
    }
  } catch (const std::exception&) {
    throw EORVException(10002, "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
                        {FieldNo, f->MemoryOffset, f->MemoryDataSize});
  }
  return true;
}

void SetFieldData(int32_t FieldNo, const TORVFieldDefs& FieldDefs, const void* Buffer, void* RecordBuffer) {
  const int32_t count = FieldDefs.GetCount();
  if (FieldNo < 0 || FieldNo >= count)
    throw EORVException(10004, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, count});
  if (!RecordBuffer) throw EORVException(10003, "Nil pointer occured");
  auto* record = static_cast<uint8_t*>(RecordBuffer);
  const TORVFieldDef* f = FieldDefs.GetDef(FieldNo);
  const auto* in = static_cast<const uint8_t*>(Buffer);
  bool empty = in == nullptr;
  if (!empty) {
    switch (f->AdvancedFieldType) {
      case aftChar:
      case aftString:
      case aftGuid:
        empty = in[0] == 0;
        break;
      case aftWideChar:
      case aftWideString:
        empty = in[0] == 0 && in[1] == 0;
        break;
      default:
        break;
    }
  }
  if (empty) {
    SetNullFlag(true, FieldNo, record);
    return;
  }
  SetNullFlag(false, FieldNo, record);
  uint8_t* data = record + f->MemoryOffset;
  switch (f->AdvancedFieldType) {
    case aftShortint: {
      int16_t v;
      std::memcpy(&v, in, sizeof v);
      data[0] = static_cast<uint8_t>(v);
      break;
    }
    case aftCardinal: {
      int64_t v;
      std::memcpy(&v, in, sizeof v);
      StoreLE32(data, static_cast<uint32_t>(v));
      break;
    }
    case aftSingle: {
      double v;
      std::memcpy(&v, in, sizeof v);
      const auto s = static_cast<float>(v);
      std::memcpy(data, &s, sizeof s);
      break;
    }
    case aftExtended: {
      double v;
      std::memcpy(&v, in, sizeof v);
      ExtendedToBytes(v, data);
      break;
    }
    default:
      std::memcpy(data, in, static_cast<size_t>(f->MemoryDataSize));
  }
}

bool CompareRecordBuffers(const void* RecordBuffer1, const void* RecordBuffer2, int32_t RecordBufferSize) {
  if (!RecordBuffer1) throw EORVException(10122, "Nil pointer occured");
  if (!RecordBuffer2) throw EORVException(10123, "Nil pointer occured");
  return std::memcmp(RecordBuffer1, RecordBuffer2, static_cast<size_t>(std::max(RecordBufferSize, 0))) == 0;
}

}  // namespace orv
