#include "dbengine/access/orv_local_engine_cursor.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/orv_disk_engine_table_interface.h"
#include "dbengine/storage/orv_base_engine_bitmap.h"
#include "dbengine/storage/orv_base_engine_constraints.h"
#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_base_engine_indexes.h"
#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/orv_temp_engine.h"
#include "platform/base/clock.h"

namespace orv {

namespace {

using TableGuard = TORVLockGuard<TORVTableData>;
using DatabaseGuard = TORVLockGuard<TORVDatabaseData>;
using W = TORVLockWaits;

// A copy of a record buffer that an operation puts back when it ends without a change.
class BufferCopy {
 public:
  BufferCopy(const void* Source, int32_t Size)
      : FData(static_cast<const uint8_t*>(Source), static_cast<const uint8_t*>(Source) + std::max(Size, 0)) {}
  void PutBack(void* Target) const {
    if (Target && !FData.empty()) std::memcpy(Target, FData.data(), FData.size());
  }
  const void* data() const { return FData.data(); }

 private:
  std::vector<uint8_t> FData;
};

// Lock releases on the way out of a failing operation: the first failure is the one that
// passes on.
template <class F>
void Quietly(F&& Release) noexcept {
  try {
    Release();
  } catch (...) {
  }
}

// Definitions copied out of an optional source.
template <class Defs>
std::unique_ptr<Defs> CopyOf(const Defs* Source) {
  auto copy = std::make_unique<Defs>();
  if (Source) copy->Assign(*Source);
  return copy;
}

}  // namespace

TORVLocalCursor::TORVLocalCursor() = default;

TORVLocalCursor::~TORVLocalCursor() {
  try {
    CloseTable();
  } catch (...) {
    // A destructor never raises; what the table held for this cursor goes with the table.
  }
}

// ---- Helpers ------------------------------------------------------------------------------------

TORVDatabaseData& TORVLocalCursor::SessionDatabaseData() {
  auto* local = dynamic_cast<TORVLocalSession*>(FSession);
  if (!local || !local->FDatabaseData)
    throw EORVException(30560, "Cannot reach table '%s': the cursor's session is not connected to a database",
                        {FTableName});
  FDatabaseData = local->FDatabaseData;
  return *FDatabaseData;
}

TORVTableData& TORVLocalCursor::Table(int32_t Code) const {
  if (!FTableData) throw EORVException(Code, "Nil pointer occured");
  return *FTableData;
}

IORVDiskTableData* TORVLocalCursor::DiskTable() const { return dynamic_cast<IORVDiskTableData*>(FTableData); }

bool TORVLocalCursor::IsTemporaryTable() const { return dynamic_cast<TORVTemporaryTableData*>(FTableData) != nullptr; }

bool TORVLocalCursor::MultiUser() const { return FSession && FSession->FMultiUser; }

bool TORVLocalCursor::InTransaction() const { return FSession && FSession->FInTransaction; }

TORVPageItemID TORVLocalCursor::BookmarkRecordID(const void* Buffer) const {
  if (!Buffer) throw EORVException(30564, "Nil pointer occured");
  return TORVPageItemID::ReadFrom(static_cast<const uint8_t*>(Buffer) + FBookmarkOffset);
}

void TORVLocalCursor::WriteBookmark(void* Buffer, const TORVPageItemID& RecordID, TORVBookmarkFlag Flag) const {
  auto* p = static_cast<uint8_t*>(Buffer) + FBookmarkOffset;
  RecordID.WriteTo(p);
  p[TORVPageItemID::StoredSize] = static_cast<uint8_t>(Flag);
}

TORVGetRecordResult TORVLocalCursor::ReadCurrentAgain() {
  FirstPosition = false;
  LastPosition = false;
  return GetRecordBuffer(grmCurrent);
}

bool TORVLocalCursor::LockTableWithPauses(IORVDiskTableData& Disk, TORVLockType LockType, int32_t Tries,
                                          int32_t Delay) {
  TORVTableData& table = Table(10260);
  for (int32_t attempt = 0; attempt < Tries; ++attempt) {
    if (Disk.LockTable(SessionID(), LockType, 1, 0, true)) return true;
    if (attempt + 1 == Tries) break;
    // The other cursors of the process go on while this one waits for other processes.
    table.Unlock();
    struct Relock {
      TORVTableData& t;
      ~Relock() { t.Lock(); }
    } relock{table};
    platform::Sleep(static_cast<uint32_t>(Delay));
  }
  return false;
}

void TORVLocalCursor::ReleaseRecordLock(IORVDiskTableData& Disk) {
  if (!FLockedRecordID) return;
  const TORVPageItemID record = *FLockedRecordID;
  FLockedRecordID.reset();
  Disk.UnlockRecord(SessionID(), record);
}

void TORVLocalCursor::ReleaseEditLocks(IORVDiskTableData& Disk) {
  const std::optional<TORVLockType> table_lock = std::exchange(FEditTableLock, std::nullopt);
  ReleaseRecordLock(Disk);
  if (table_lock == ltSIRW) Disk.UnlockTable(SessionID(), ltSIRW, false);
}

int32_t TORVLocalCursor::PhysicalFieldNo(int32_t VisibleFieldNo) const {
  return FVisibleFieldDefs->GetDef(VisibleFieldNo)->FieldNoReference;
}

void TORVLocalCursor::RefreshIndexAndConstraintDefs() {
  if (!FTableData) return;
  if (FIndexDefs && FTableData->FIndexManager) FIndexDefs->Assign(FTableData->FIndexManager->FIndexDefs);
  if (FConstraintDefs && FTableData->FConstraintManager)
    FConstraintDefs->Assign(FTableData->FConstraintManager->FConstraintDefs);
}

std::vector<std::string> TORVLocalCursor::PhysicalNames(const std::vector<std::string>& FieldNamesList) const {
  std::vector<std::string> names = FieldNamesList;
  if (!FFieldDefs || !FVisibleFieldDefs) return names;
  for (std::string& name : names) {
    if (FFieldDefs->GetDefByName(name)) continue;
    const int32_t visible = FVisibleFieldDefs->GetDefNumberByName(name);
    if (visible >= 0) name = FFieldDefs->GetDef(PhysicalFieldNo(visible))->Name;
  }
  return names;
}

// ---- Table-level operations -------------------------------------------------------------------

void TORVLocalCursor::TableOperation(const std::function<void(TORVDatabaseData&)>& Body) {
  TORVDatabaseData& db = SessionDatabaseData();
  DatabaseGuard guard(db);
  CloseTable();
  try {
    Body(db);
  } catch (...) {
    CloseTable();
    throw;
  }
  CloseTable();
}

void TORVLocalCursor::CreateTable(const TORVFieldDefs& FieldDefs, const TORVIndexDefs& IndexDefs,
                                  const TORVConstraintDefs& ConstraintDefs) {
  TableOperation([&](TORVDatabaseData& db) {
    if (db.TableExists(FTableName)) DeleteTable();
    FTableData = db.FindOrCreateTableData(this);
    if (!FTableData) throw EORVException(20151, "Pointer is nil");
    // The table takes the definitions over (object ids, table names): it gets copies.
    auto fields = CopyOf(&FieldDefs);
    auto indexes = CopyOf(&IndexDefs);
    auto constraints = CopyOf(&ConstraintDefs);
    FTableData->CreateTable(this, *fields, *indexes, *constraints);
  });
}

void TORVLocalCursor::DeleteTable() {
  TableOperation([&](TORVDatabaseData& db) {
    if (!db.TableExists(FTableName)) throw EORVException(20132, "Table '%s' not found", {FTableName});
    FTableData = db.FindOrCreateTableData(this);
    if (!FTableData) throw EORVException(10027, "Table not found, table name = %s", {FTableName});
    // The session forgets what it kept per field of the table (its last autoincrement values).
    if (FSession && FTableData->FFieldManager) {
      const TORVFieldDefs& fields = FTableData->FFieldManager->FFieldDefs;
      for (int32_t i = 0; i < fields.GetCount(); ++i) FSession->DeleteObject(fields.GetDef(i)->ObjectID);
    }
    const bool disk = DiskTable() != nullptr;
    FTableData->DeleteTable(this, false);
    // A memory or temporary table object has freed itself; a disk one stays until the close.
    if (!disk) FTableData = nullptr;
  });
}

void TORVLocalCursor::EmptyTable() {
  TableOperation([&](TORVDatabaseData& db) {
    if (!db.TableExists(FTableName)) throw EORVException(20133, "Table '%s' not found", {FTableName});
    FTableData = db.FindOrCreateTableData(this);
    if (!FTableData) throw EORVException(10073, "Table not found, table name = %s", {FTableName});
    FTableData->EmptyTable(this);
  });
}

void TORVLocalCursor::RenameTable(const std::string& NewTableName) {
  TableOperation([&](TORVDatabaseData& db) {
    if (!db.TableExists(FTableName)) throw EORVException(20134, "Table '%s' not found", {FTableName});
    if (AnsiUpperCase(FTableName) != AnsiUpperCase(NewTableName) && db.TableExists(NewTableName))
      throw EORVException(30451, "Table %s already exists", {NewTableName});
    if (NewTableName == FTableName)
      throw EORVException(30452, "Cannot rename table '%s' into itself", {FTableName});
    FTableData = db.FindOrCreateTableData(this);
    if (!FTableData) throw EORVException(10151, "Table not found, table name = %s", {FTableName});
    FTableData->RenameTable(NewTableName, this);
  });
  FTableName = NewTableName;
}

// ---- Opening and closing ---------------------------------------------------------------------

void TORVLocalCursor::InternalInitFieldDefs() {
  TORVTableData& table = Table(10260);
  FFieldDefs = std::make_unique<TORVFieldDefs>();
  FFieldDefs->Assign(table.FFieldManager->FFieldDefs);
  FFieldDefs->RecalcFieldOffsets();
  if (!FSettingProjection) {
    FVisibleFieldDefs = std::make_unique<TORVFieldDefs>();
    FVisibleFieldDefs->Assign(*FFieldDefs);
    for (int32_t i = 0; i < FVisibleFieldDefs->GetCount(); ++i) FVisibleFieldDefs->GetDef(i)->FieldNoReference = i;
  }
  const int32_t count = FFieldDefs->GetCount();
  FFieldValuesOffset = count ? FFieldDefs->GetDef(0)->MemoryOffset : 0;
  FBookmarkOffset =
      count ? FFieldDefs->GetDef(count - 1)->MemoryOffset + FFieldDefs->GetDef(count - 1)->MemoryDataSize : 0;
  FKeyOffset = FBookmarkOffset;
  FKeyBufferSize = FBookmarkOffset + 6;
  FRecordSize = FRecordBufferSize = FCalculatedFieldsOffset = FBookmarkOffset + TORVPageItemID::StoredSize + 1;
  FConstraintDefs = std::make_unique<TORVConstraintDefs>();
  FConstraintDefs->Assign(table.FConstraintManager->FConstraintDefs);
}

void TORVLocalCursor::ReleaseTableData(bool CreatedHere) {
  TORVTableData* table = std::exchange(FTableData, nullptr);
  if (!table) return;
  if (auto* disk = dynamic_cast<IORVDiskTableData*>(table)) {
    disk->FreeIfNoCursorsConnected();
  } else if (CreatedHere && table->FCursorList.empty()) {
    // A memory or temporary table made for a design-time open that failed goes again.
    table->FDatabaseData->DeleteTableData(table);
  }
}

void TORVLocalCursor::OpenTableByFieldDefs(const TORVFieldDefs* FieldDefs, const TORVIndexDefs* IndexDefs,
                                           const TORVConstraintDefs* ConstraintDefs) {
  if (FIsOpen) return;
  TORVDatabaseData& db = SessionDatabaseData();
  DatabaseGuard guard(db);
  bool created = false;
  try {
    FTableData = db.FindTableData(this);
    if (!FTableData) {
      if (dynamic_cast<TORVDiskDatabaseData*>(&db)) {
        FTableData = db.CreateTableData(this);
        created = true;
      } else if (!FIsDesignMode) {
        throw EORVException(10028, "Table not found, table name = %s", {FTableName});
      } else {
        FTableData = db.CreateTableData(this);
        created = true;
        auto fields = CopyOf(FieldDefs);
        auto indexes = CopyOf(IndexDefs);
        auto constraints = CopyOf(ConstraintDefs);
        FTableData->CreateTable(this, *fields, *indexes, *constraints);
      }
    }
    FTableData->FIsRepairing = FIsRepairing;
    FTableData->OpenTable(this);
  } catch (...) {
    Quietly([&] { ReleaseTableData(created); });
    throw;
  }
  FirstPosition = true;
  LastPosition = false;
  FIndexDefs = std::make_unique<TORVIndexDefs>();
  FIndexDefs->Assign(FTableData->FIndexManager->FIndexDefs);
  FBLOBStreams.clear();
  FRecordBitmap = std::make_unique<TORVRecordBitmap>(FTableData);
  FIsOpen = true;
}

void TORVLocalCursor::OpenTable(TORVTableData* aTableData) {
  if (!aTableData) throw EORVException(30561, "Cannot open a cursor over no table");
  DatabaseGuard guard(*aTableData->FDatabaseData);
  FDatabaseData = aTableData->FDatabaseData;
  FTableData = aTableData;
  FTableData->OpenTable(this);
  FirstPosition = true;
  LastPosition = false;
  FIndexDefs = std::make_unique<TORVIndexDefs>();
  FIndexDefs->Assign(FTableData->FIndexManager->FIndexDefs);
  FBLOBStreams.clear();
  InternalInitFieldDefs();
  FRecordBitmap = std::make_unique<TORVRecordBitmap>(FTableData);
  FIsOpen = true;
}

void TORVLocalCursor::CloseTable() {
  std::unique_ptr<DatabaseGuard> guard;
  if (FTableData) guard = std::make_unique<DatabaseGuard>(*FTableData->FDatabaseData);
  // The streams go first, while the table they belong to is there. They are not written: the
  // record buffer they would go into is the dataset's and may be gone by now.
  while (!FBLOBStreams.empty()) CloseStream(0, false);
  // The bitmap refers to the table object, which may go below.
  FRecordBitmap.reset();
  FFilterExpression.reset();
  if (FTableData) {
    // Locks an edit still held go with the cursor's table lock when the table closes.
    if (IORVDiskTableData* disk = DiskTable()) Quietly([&] { ReleaseEditLocks(*disk); });
    TORVTableData* table = FTableData;
    table->CloseTable(this);
    if (FIsDesignMode && (FInMemory || FTemporary) && !dynamic_cast<IORVDiskTableData*>(table)) {
      FTableData = nullptr;
      table->DeleteTable(this, true);
    } else {
      ReleaseTableData(false);
    }
    FTableData = nullptr;
  }
  FFieldDefs.reset();
  if (!FSettingProjection) FVisibleFieldDefs.reset();
  FIndexDefs.reset();
  FConstraintDefs.reset();
}

// ---- Locks -----------------------------------------------------------------------------------------

void TORVLocalCursor::LockTableData() { Table(10260).Lock(); }

void TORVLocalCursor::UnlockTableData() { Table(10261).Unlock(); }

bool TORVLocalCursor::LockTable(TORVLockType LockType, int32_t TryCount, int32_t Delay, bool AllowXIRWAfterSIRW) {
  if (!FTableData) throw EORVException(20221, "Pointer is nil");
  IORVDiskTableData* disk = DiskTable();
  return disk ? disk->LockTable(SessionID(), LockType, TryCount, Delay, AllowXIRWAfterSIRW) : true;
}

bool TORVLocalCursor::UnlockTable(TORVLockType LockType, bool IgnoreIfNoLock) {
  if (!FTableData) throw EORVException(20222, "Pointer is nil");
  IORVDiskTableData* disk = DiskTable();
  return disk ? disk->UnlockTable(SessionID(), LockType, IgnoreIfNoLock) : true;
}

// ---- Fields and indexes ----------------------------------------------------------------------------

void TORVLocalCursor::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  TORVTableData& table = Table(30562);
  TORVCursor::RenameField(FieldName, NewFieldName);
  table.RenameField(FieldName, NewFieldName);
}

TORVIndexDefs* TORVLocalCursor::GetIndexDefs() {
  if (FIndexDefs && FTableData && FTableData->FIndexManager) FIndexDefs->Assign(FTableData->FIndexManager->FIndexDefs);
  return FIndexDefs.get();
}

void TORVLocalCursor::AddIndex(TORVIndexDef& IndexDef) {
  TORVTableData& table = Table(30562);
  if (FIndexDefs && FIndexDefs->GetDefByName(IndexDef.Name))
    throw EORVException(20022, "Cannot create index '%s'. Index already exists", {IndexDef.Name});
  table.AddIndex(IndexDef, this);
  RefreshIndexAndConstraintDefs();
}

void TORVLocalCursor::DeleteIndex(const std::string& Name) {
  TORVTableData& table = Table(30562);
  const TORVMetaObjectDef* def = FIndexDefs ? FIndexDefs->GetDefByName(Name) : nullptr;
  if (!def) throw EORVException(20021, "Cannot delete index '%s'. Index not found", {Name});
  table.DeleteIndex(def->ObjectID, this);
  RefreshIndexAndConstraintDefs();
}

void TORVLocalCursor::DeleteAllIndexes() {
  Table(30562).DeleteAllIndexes(this);
  RefreshIndexAndConstraintDefs();
}

std::string TORVLocalCursor::FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                               const std::vector<std::string>& AscDescList,
                                               const std::vector<std::string>& CaseSensitivityList, bool& IsCreated) {
  TORVTableData& table = Table(30562);
  const std::string name =
      table.FindOrCreateIndex(this, PhysicalNames(FieldNamesList), AscDescList, CaseSensitivityList, IsCreated);
  if (FIndexDefs && table.FIndexManager) FIndexDefs->Assign(table.FIndexManager->FIndexDefs);
  return name;
}

bool TORVLocalCursor::IndexExists(const std::vector<std::string>& FieldNamesList,
                                  const std::vector<std::string>& AscDescList,
                                  const std::vector<std::string>& CaseSensitivityList) {
  return Table(30562).IndexExists(this, PhysicalNames(FieldNamesList), AscDescList, CaseSensitivityList);
}

void TORVLocalCursor::CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                                     TORVCursor* DestCursor) {
  if (!DestCursor || !FFieldDefs || !FVisibleFieldDefs || !DestCursor->FVisibleFieldDefs || !DestCursor->FFieldDefs)
    throw EORVException(30563, "Cannot copy a field value between cursors that are not open");
  const TORVFieldDefs& source = DirectAccess ? *FFieldDefs : *FVisibleFieldDefs;
  if (SrcFieldNo < 0 || SrcFieldNo >= source.GetCount())
    throw EORVException(10501, "Invalid field number - FieldNo = %d, FieldCount = %d", {SrcFieldNo, source.GetCount()});
  const int32_t dest_count = DestCursor->FVisibleFieldDefs->GetCount();
  if (DestFieldNo < 0 || DestFieldNo >= dest_count)
    throw EORVException(10502, "Invalid field number - FieldNo = %d, FieldCount = %d", {DestFieldNo, dest_count});
  const TORVFieldDef* src = source.GetDef(SrcFieldNo);
  const int32_t src_no = DirectAccess ? SrcFieldNo : src->FieldNoReference;
  const int32_t dst_no = DestCursor->FVisibleFieldDefs->GetDef(DestFieldNo)->FieldNoReference;
  const TORVFieldDef* dst = DestCursor->FFieldDefs->GetDef(dst_no);
  auto* from = static_cast<uint8_t*>(FCurrentRecordBuffer);
  auto* to = static_cast<uint8_t*>(DestCursor->FCurrentRecordBuffer);
  if (!from || !to) throw EORVException(30563, "Cannot copy a field value between cursors that are not open");
  if (CheckNullFlag(src_no, from)) {
    SetNullFlag(true, dst_no, to);
    return;
  }
  if (src->BaseFieldType == dst->BaseFieldType && !IsBLOBFieldType(src->BaseFieldType) &&
      src->MemoryDataSize == dst->MemoryDataSize) {
    SetNullFlag(false, dst_no, to);
    std::memcpy(to + dst->MemoryOffset, from + src->MemoryOffset, static_cast<size_t>(src->MemoryDataSize));
    return;
  }
  if (IsBLOBFieldType(src->BaseFieldType)) {
    auto* dest_local = dynamic_cast<TORVLocalCursor*>(DestCursor);
    if (!dest_local || !dest_local->FTableData)
      throw EORVException(30563, "Cannot copy a field value between cursors that are not open");
    TORVTableData& source_table = Table(30563);
    TORVPartialTemporaryBLOBDescriptor descriptor;
    void* data = nullptr;
    source_table.GetDirectBlobData(this, src_no, from, descriptor, data);
    try {
      // The destination's physical field: with a projection its visible number is another.
      dest_local->FTableData->SetDirectBlobData(DestCursor, dst_no, to, descriptor, data);
    } catch (...) {
      Quietly([&] { source_table.FreeDirectBlobData(this, src_no, from, descriptor, data); });
      throw;
    }
    source_table.FreeDirectBlobData(this, src_no, from, descriptor, data);
    return;
  }
  TORVVariant value;
  GetFieldValue(value, SrcFieldNo, DirectAccess);
  DestCursor->SetFieldValue(value, DestFieldNo, false, nullptr);
}

// ---- Records ----------------------------------------------------------------------------------------

void TORVLocalCursor::InternalInitRecord(void* RecordBuffer, bool InsertMode) {
  TORVTableData& table = Table(30562);
  const TORVBaseFieldManager& fields = *table.FFieldManager;
  auto* record = static_cast<uint8_t*>(RecordBuffer);
  const auto flags = static_cast<size_t>(fields.NullFlagsSize());
  const auto size = static_cast<size_t>(fields.FFieldDefs.GetMemoryRecordBufferSize());
  std::memset(record, 0xFF, flags);
  if (size > flags) std::memset(record + flags, 0, size - flags);
  if (InsertMode && !FTemporary) table.FFieldManager->ApplyDefaultValuesToRecordBuffer(FSession, RecordBuffer);
}

void TORVLocalCursor::FreeRecordBuffer(void*& Buffer) {
  if (FTableData && Buffer) FTableData->ClearBlobsCacheInRecordBuffer(Buffer);
  TORVCursor::FreeRecordBuffer(Buffer);
}

int64_t TORVLocalCursor::GetRecordCount() { return Table(30562).GetRecordCount(this); }

TORVGetRecordResult TORVLocalCursor::GetRecordBuffer(TORVGetRecordMode GetRecordMode) {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  return table.GetRecordBuffer(this, GetRecordMode);
}

void TORVLocalCursor::SetRecNo(int64_t Value) { Table(30562).SetRecNo(this, Value); }

int64_t TORVLocalCursor::GetRecNo() { return Table(30562).GetRecNo(this); }

int32_t TORVLocalCursor::CompareRecordsOrder(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) {
  if (IsIndexApplied()) {
    TORVTableData& table = Table(30562);
    TORVCursorPos* pos = SavePosition();
    void* const current = FCurrentRecordBuffer;
    void* first = AllocateRecordBuffer();
    void* second = AllocateRecordBuffer();
    const auto restore = [&] {
      FCurrentRecordBuffer = current;
      RestorePosition(pos);
      FreePosition(pos);
      FreeRecordBuffer(first);
      FreeRecordBuffer(second);
    };
    int32_t result = 0;
    try {
      const auto read = [&](const TORVPageItemID& id, void* buffer) {
        CurrentRecordID = id;
        FCurrentRecordBuffer = buffer;
        return ReadCurrentAgain() == grrOK;
      };
      if (!read(RecordID1, first)) {
        result = -1;
      } else if (!read(RecordID2, second)) {
        result = 1;
      } else {
        TORVIndex* index = table.FIndexManager->OpenIndex(FIndexID);
        result = index->CompareRecordBuffersByIndex(first, second, index->IndexDef()->ColumnCount());
      }
    } catch (...) {
      restore();
      throw;
    }
    restore();
    if (result != 0) return result < 0 ? -1 : 1;
  }
  if (RecordID1.PageNo != RecordID2.PageNo) return RecordID1.PageNo < RecordID2.PageNo ? -1 : 1;
  if (RecordID1.PageItemNo != RecordID2.PageItemNo) return RecordID1.PageItemNo < RecordID2.PageItemNo ? -1 : 1;
  return 0;
}

void TORVLocalCursor::InternalFirst() {
  FirstPosition = true;
  LastPosition = false;
}

void TORVLocalCursor::InternalLast() {
  FirstPosition = false;
  LastPosition = true;
}

void TORVLocalCursor::InternalEdit() {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  FErrorCode = ORV_ERR_OK;
  if (IsTemporaryTable()) {
    FErrorCode = ORV_ERR_UPDATE_RECORD_PROHIBITED;
    return;
  }
  IORVDiskTableData* disk = DiskTable();
  if (!disk || !MultiUser()) return;
  const TORVLockType lock_type = InTransaction() ? ltXIRW : ltSIRW;
  if (!disk->LockTable(SessionID(), lock_type, W::EditTableTries, W::EditTableDelay, true)) {
    FErrorCode = ORV_ERR_TABLE_LOCKED;
    return;
  }
  const auto release = [&] {
    FEditTableLock.reset();
    ReleaseRecordLock(*disk);
    disk->UnlockTable(SessionID(), lock_type, false);
  };
  try {
    // The record the dataset shows is the one its buffer's bookmark names.
    const TORVPageItemID record = BookmarkRecordID(FCurrentRecordBuffer);
    if (!disk->LockRecord(SessionID(), record, W::RecordTries, W::RecordDelay)) {
      disk->UnlockTable(SessionID(), lock_type, false);
      FErrorCode = ORV_ERR_RECORD_LOCKED;
      return;
    }
    FLockedRecordID = record;
    FEditTableLock = lock_type;
    const BufferCopy copy(FCurrentRecordBuffer, FRecordBufferSize);
    try {
      CurrentRecordID = record;
      if (ReadCurrentAgain() != grrOK)
        FErrorCode = ORV_ERR_UPDATE_RECORD_DELETED;
      else if (!table.FFieldManager->CompareRecordBuffers(copy.data(), FCurrentRecordBuffer))
        FErrorCode = ORV_ERR_UPDATE_RECORD_MODIFIED;
    } catch (...) {
      copy.PutBack(FCurrentRecordBuffer);
      throw;
    }
    if (FErrorCode != ORV_ERR_OK) {
      copy.PutBack(FCurrentRecordBuffer);
      release();
    }
  } catch (...) {
    Quietly(release);
    throw;
  }
}

void TORVLocalCursor::InternalCancel(bool ToInsert) {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  FErrorCode = ORV_ERR_OK;
  // What the streams write goes into the buffer, which the next steps let go of again.
  ClearBLOBStreams(true);
  IORVDiskTableData* disk = DiskTable();
  if (FCurrentRecordBuffer) {
    if (disk) disk->ClearModifiedBLOBFieldsInRecordBuffer(FCurrentRecordBuffer);
    if (ToInsert) table.ClearBLOBFieldsInRecordBuffer(FCurrentRecordBuffer);
  }
  table.ReleaseUnstoredBLOBs(this);
  if (!ToInsert && disk) ReleaseEditLocks(*disk);
}

void TORVLocalCursor::InternalPost(bool ToInsert) {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  FErrorCode = ORV_ERR_OK;
  if (!MultiUser()) {
    PostChanges(ToInsert);
    return;
  }
  IORVDiskTableData* disk = DiskTable();
  const bool transaction = InTransaction();
  const TORVLockType lock_type = transaction ? ltXIRW : ltRW;
  if (disk && !LockTableWithPauses(*disk, lock_type, W::PostTableTries, W::PostTableDelay)) {
    // An edit keeps its locks: it is posted again or cancelled.
    FErrorCode = ORV_ERR_TABLE_LOCKED;
    return;
  }
  const auto release = [&] {
    if (!disk) return;
    if (!ToInsert && FErrorCode != ORV_ERR_CONSTRAINT_VIOLATED) ReleaseEditLocks(*disk);
    if (!transaction) disk->UnlockTable(SessionID(), ltRW, false);
  };
  try {
    PostChanges(ToInsert);
  } catch (...) {
    Quietly(release);
    throw;
  }
  release();
}

void TORVLocalCursor::PostChanges(bool ToInsert) {
  TORVTableData& table = *FTableData;
  try {
    if (ToInsert) {
      if (IORVDiskTableData* disk = DiskTable()) disk->LoadMostUpdated(SessionID());
      table.FFieldManager->ApplyAutoincsToRecordBuffer(FSession, FCurrentRecordBuffer);
    }
    if (!IsTemporaryTable())
      table.FConstraintManager->CheckConstraints(SessionID(), FCurrentRecordBuffer, FEditRecordBuffer, ToInsert,
                                                 CurrentRecordID, true,
                                                 ToInsert || !FBatchUpdate || DoUniqueAndPrimaryKeysCheckOnUpdate);
  } catch (const std::exception& e) {
    FErrorCode = ORV_ERR_CONSTRAINT_VIOLATED;
    FErrorMessage = e.what();
    return;
  }
  // Streams still open for writing put their values into the record written next.
  ClearBLOBStreams(true);
  if (ToInsert) {
    FErrorCode = table.InsertRecord(this) ? ORV_ERR_OK : ORV_ERR_INSERT_RECORD;
    WriteBookmark(FCurrentRecordBuffer, CurrentRecordID, abfInserted);
    return;
  }
  CurrentRecordID = BookmarkRecordID(FCurrentRecordBuffer);
  const BufferCopy new_values(FCurrentRecordBuffer, FRecordBufferSize);
  try {
    if (ReadCurrentAgain() != grrOK) {
      FErrorCode = ORV_ERR_UPDATE_RECORD_DELETED;
    } else if (!table.FFieldManager->CompareRecordBuffers(FCurrentRecordBuffer, FEditRecordBuffer)) {
      FErrorCode = ORV_ERR_UPDATE_RECORD_MODIFIED;
    } else {
      new_values.PutBack(FCurrentRecordBuffer);
      FErrorCode = table.UpdateRecord(this) ? ORV_ERR_OK : ORV_ERR_UPDATE_RECORD;
      return;
    }
  } catch (...) {
    new_values.PutBack(FCurrentRecordBuffer);
    throw;
  }
  new_values.PutBack(FCurrentRecordBuffer);
}

void TORVLocalCursor::InternalDelete() {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  FErrorCode = ORV_ERR_OK;
  if (!MultiUser()) {
    DeleteCurrent();
    return;
  }
  IORVDiskTableData* disk = DiskTable();
  const bool transaction = InTransaction();
  const TORVLockType lock_type = transaction ? ltXIRW : ltRW;
  std::optional<TORVPageItemID> locked;
  if (disk) {
    if (!LockTableWithPauses(*disk, lock_type, W::DeleteTableTries, W::DeleteTableDelay)) {
      FErrorCode = ORV_ERR_TABLE_LOCKED;
      return;
    }
    try {
      const TORVPageItemID record = BookmarkRecordID(FCurrentRecordBuffer);
      if (!disk->LockRecord(SessionID(), record, W::RecordTries, W::RecordDelay)) {
        disk->UnlockTable(SessionID(), lock_type, false);
        FErrorCode = ORV_ERR_RECORD_LOCKED;
        return;
      }
      locked = record;
    } catch (...) {
      Quietly([&] { disk->UnlockTable(SessionID(), lock_type, false); });
      throw;
    }
  }
  const auto release = [&] {
    if (!disk) return;
    disk->UnlockRecord(SessionID(), *locked);
    if (!transaction) disk->UnlockTable(SessionID(), ltRW, false);
  };
  try {
    DeleteCurrent();
  } catch (...) {
    Quietly(release);
    throw;
  }
  release();
}

void TORVLocalCursor::DeleteCurrent() {
  TORVTableData& table = *FTableData;
  if (IsTemporaryTable()) {
    FErrorCode = ORV_ERR_DELETE_RECORD_PROHIBITED;
    return;
  }
  const TORVPageItemID record = BookmarkRecordID(FCurrentRecordBuffer);
  CurrentRecordID = record;
  const BufferCopy copy(FCurrentRecordBuffer, FRecordSize);
  try {
    if (ReadCurrentAgain() != grrOK) {
      FErrorCode = ORV_ERR_DELETE_RECORD_DELETED;
    } else if (CurrentRecordID == record &&
               table.FFieldManager->CompareRecordBuffers(copy.data(), FCurrentRecordBuffer)) {
      // Null flags and stored bytes, as an edit compares: what a BLOB field caches in the
      // buffer (its picture opened by the dataset) is no change of the record.
      copy.PutBack(FCurrentRecordBuffer);
      FErrorCode = table.DeleteRecord(this) ? ORV_ERR_OK : ORV_ERR_DELETE_RECORD;
      return;
    } else {
      FErrorCode = ORV_ERR_DELETE_RECORD_MODIFIED;
    }
  } catch (...) {
    copy.PutBack(FCurrentRecordBuffer);
    throw;
  }
  copy.PutBack(FCurrentRecordBuffer);
}

bool TORVLocalCursor::IsRecordLocked() {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  IORVDiskTableData* disk = DiskTable();
  if (!FCurrentRecordBuffer) return false;
  CurrentRecordID = BookmarkRecordID(FCurrentRecordBuffer);
  return disk && disk->IsRecordLocked(SessionID(), CurrentRecordID);
}

// ---- Views ------------------------------------------------------------------------------------------

void TORVLocalCursor::ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                                    const std::vector<std::string>& AscDescList,
                                    const std::vector<std::string>& CaseSensitivityList) {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  bool created = false;
  SetIndexName(FindOrCreateIndex(FieldNamesList, AscDescList, CaseSensitivityList, created));
  FDistinctFieldCount = static_cast<int32_t>(FieldNamesList.size());
  DisableRecordBitmap();
}

void TORVLocalCursor::ActivateFilters(const std::string& FilterText, bool CaseInsensitive, bool PartialKey) {
  FFilterExpression.reset();
  FFilterExpression = GetExpressionFactory().ParseForFilter(*this, FilterText, CaseInsensitive, PartialKey);
  DisableRecordBitmap();
}

void TORVLocalCursor::DeactivateFilters() {
  FFilterExpression.reset();
  DisableRecordBitmap();
}

bool TORVLocalCursor::Locate(const std::string& KeyFields, const std::vector<TORVVarValue>& KeyValues,
                             bool CaseInsensitive, bool PartialKey) {
  TORVTableData& table = Table(30562);
  std::unique_ptr<IORVExpression> search =
      GetExpressionFactory().ParseForLocate(*this, KeyFields, KeyValues, CaseInsensitive, PartialKey);
  return table.Locate(this, search.get());
}

bool TORVLocalCursor::FindKey(TORVSearchCondition SearchCondition) {
  return Table(30562).FindKey(this, SearchCondition);
}

bool TORVLocalCursor::IsAnyRecordMatchCondition(const std::string& FieldName, TORVDataOperator Operator,
                                                const TORVVariant& Value) {
  TORVTableData& table = Table(30562);
  std::unique_ptr<IORVExpression> search =
      GetExpressionFactory().ParseForIsAnyRecordMatchCondition(*this, FieldName, Operator, Value);
  return table.Locate(this, search.get());
}

// ---- BLOB streams ----------------------------------------------------------------------------------

TORVLocalBLOBStream& TORVLocalCursor::LocalStream(size_t Index) const {
  auto* local = dynamic_cast<TORVLocalBLOBStream*>(FBLOBStreams[Index].get());
  if (!local) throw EORVException(10121, "Nil pointer occured");
  return *local;
}

TORVStream* TORVLocalCursor::InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo,
                                                      TORVBLOBOpenMode OpenMode, bool CanDoGetRecordBuffer) {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  const auto create = [&]() -> TORVStream* {
    const int32_t count = FVisibleFieldDefs ? FVisibleFieldDefs->GetCount() : 0;
    if (FieldNo < 0 || FieldNo >= count)
      throw EORVException(10110, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, count});
    if (!FIsOpen) throw EORVException(10113, "Nil pointer occured");
    const int32_t physical = PhysicalFieldNo(FieldNo);
    if (OpenMode == bomWrite || OpenMode == bomReadWrite) {
      for (size_t i = 0; i < FBLOBStreams.size(); ++i) {
        const TORVLocalBLOBStream& open = LocalStream(i);
        if (open.FieldNo() == physical && open.OpenedForWriting())
          throw EORVException(10115, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                              {physical, FFieldDefs->GetDef(physical)->Name});
      }
    }
    std::unique_ptr<TORVStream> stream(table.InternalCreateBlobStream(this, ToInsert, physical, OpenMode));
    if (!stream) return nullptr;
    FBLOBStreams.push_back(std::move(stream));
    return FBLOBStreams.back().get();
  };
  IORVDiskTableData* disk = DiskTable();
  if (!disk || !table.FDatabaseData->FMultiUser) return create();
  if (!disk->LockTable(SessionID(), ltS, W::BLOBTableTries, W::BLOBTableDelay, true)) return nullptr;
  TORVStream* result = nullptr;
  try {
    bool readable = true;
    if (!ToInsert && !ToEdit && CanDoGetRecordBuffer && FBLOBStreams.empty()) {
      // A reader sees the value committed last, not the one its buffer was filled with.
      TORVCursorPos* pos = SavePosition();
      try {
        readable = ReadCurrentAgain() == grrOK;
      } catch (...) {
        RestorePosition(pos);
        FreePosition(pos);
        throw;
      }
      RestorePosition(pos);
      FreePosition(pos);
    }
    if (readable) result = create();
  } catch (...) {
    Quietly([&] { disk->UnlockTable(SessionID(), ltS, false); });
    throw;
  }
  disk->UnlockTable(SessionID(), ltS, false);
  return result;
}

void TORVLocalCursor::CloseStream(size_t Index, bool WriteIt) {
  // Out of the list first: whatever happens below, the stream is closed once.
  std::unique_ptr<TORVStream> owned = std::move(FBLOBStreams[Index]);
  FBLOBStreams.erase(FBLOBStreams.begin() + static_cast<std::ptrdiff_t>(Index));
  auto* local = dynamic_cast<TORVLocalBLOBStream*>(owned.get());
  if (!local) return;
  if (IORVUserBLOBStream* user = std::exchange(local->FUserBLOBStream, nullptr))
    Quietly([&] { user->LocalStreamClosing(*local); });
  if (!WriteIt || !FTableData) return;
  const int32_t field = local->FieldNo();
  if (local->OpenedForWriting()) FTableData->WriteBLOBFieldToRecordBuffer(this, field, local);
  if (!local->Modified() && DiskTable() && FCurrentRecordBuffer)
    FTableData->ClearBLOBFieldInRecordBuffer(FCurrentRecordBuffer, field);
}

void TORVLocalCursor::CloseField(int32_t PhysicalFieldNo) {
  for (size_t i = 0; i < FBLOBStreams.size();) {
    if (LocalStream(i).FieldNo() == PhysicalFieldNo)
      CloseStream(i, true);
    else
      ++i;
  }
}

void TORVLocalCursor::InternalCloseBLOB(int32_t FieldNo) {
  TORVTableData& table = Table(10260);
  TableGuard guard(table);
  const int32_t count = FVisibleFieldDefs ? FVisibleFieldDefs->GetCount() : 0;
  if (FieldNo < 0 || FieldNo >= count)
    throw EORVException(10118, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, count});
  if (!FIsOpen) throw EORVException(10119, "Nil pointer occured");
  CloseField(PhysicalFieldNo(FieldNo));
}

void TORVLocalCursor::ClearBLOBStreams(bool WriteOnly) {
  std::unique_ptr<TableGuard> guard;
  if (FTableData) guard = std::make_unique<TableGuard>(*FTableData);
  // Closing a stream closes every stream of its field, wherever in the list: the walk starts
  // again from the front after each close, and every close takes at least one entry away.
  for (;;) {
    size_t i = 0;
    while (i < FBLOBStreams.size() && !(!WriteOnly || LocalStream(i).OpenedForWriting())) ++i;
    if (i == FBLOBStreams.size()) return;
    CloseField(LocalStream(i).FieldNo());
  }
}

// ---- Autoincrements, batches, constraints -----------------------------------------------------------

int64_t TORVLocalCursor::LastAutoincValue(int32_t FieldNo) { return Table(30562).LastAutoincValue(FieldNo, FSession); }

void TORVLocalCursor::BeginBatchUpdate() {
  if (!InTransaction()) FBatchUpdate = true;
}

void TORVLocalCursor::EndBatchUpdate() {
  if (!FBatchUpdate || InTransaction()) return;
  if (DiskTable()) FTableData->ApplyChanges(SessionID(), InTransaction());
  FBatchUpdate = false;
}

void TORVLocalCursor::CancelBatchUpdate() {
  if (!FBatchUpdate || InTransaction()) return;
  if (DiskTable()) FTableData->CancelChanges(SessionID(), InTransaction());
  FBatchUpdate = false;
}

bool TORVLocalCursor::CheckConstraints(bool ToInsert) {
  return Table(30562).FConstraintManager->CheckConstraints(SessionID(), FCurrentRecordBuffer, FEditRecordBuffer,
                                                           ToInsert, CurrentRecordID, false, true);
}

}  // namespace orv
