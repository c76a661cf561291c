#include "dbengine/storage/tests/support/vector_record_store.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "dbengine/storage/orv_except.h"

namespace orv::testing {

// ---- Records -------------------------------------------------------------------------------------

VectorRecordManager::VectorRecordManager(int32_t RecordBufferSize, CallLog* Log) : log_(Log) {
  FRecordBufferSize = RecordBufferSize;
}

void VectorRecordManager::Log(const std::string& Entry) const {
  if (log_) log_->push_back(Entry);
}

void VectorRecordManager::Empty(int32_t) {
  slots_.clear();
  live_.clear();
  FRecordCount = 0;
  ++FTableState;
}

bool VectorRecordManager::AddRecord(int32_t, const void* RecordBuffer, TORVPageItemID& RecordID) {
  Log("records.AddRecord");
  if (refuse_add) return false;
  const auto* p = static_cast<const uint8_t*>(RecordBuffer);
  slots_.emplace_back(p, p + FRecordBufferSize);
  live_.push_back(true);
  RecordID = {static_cast<int32_t>(slots_.size() - 1), 0};
  ++FRecordCount;
  ++FTableState;
  return true;
}

bool VectorRecordManager::UpdateRecord(int32_t, const void* RecordBuffer, const TORVPageItemID& RecordID) {
  Log("records.UpdateRecord");
  if (refuse_update || !IsLive(RecordID.PageNo)) return false;
  const auto* p = static_cast<const uint8_t*>(RecordBuffer);
  slots_[static_cast<size_t>(RecordID.PageNo)].assign(p, p + FRecordBufferSize);
  ++FTableState;
  return true;
}

bool VectorRecordManager::DeleteRecord(int32_t, TORVPageItemID& RecordID) {
  Log("records.DeleteRecord");
  if (refuse_delete || !IsLive(RecordID.PageNo)) return false;
  live_[static_cast<size_t>(RecordID.PageNo)] = false;
  --FRecordCount;
  ++FTableState;
  return true;
}

void VectorRecordManager::GetRecordBuffer(int32_t, TORVNavigationInfo& NavigationInfo) {
  if (on_read) on_read();
  TORVNavigationInfo& nav = NavigationInfo;
  const auto first_live = [&](int64_t from, int64_t step) {
    for (int64_t s = from; s >= 0 && s < SlotCount(); s += step)
      if (live_[static_cast<size_t>(s)]) return s;
    return int64_t{-1};
  };
  int64_t slot = -1;
  if (FRecordCount == 0) {
    nav.GetRecordResult = nav.GetRecordMode == grmPrior ? grrBOF : grrEOF;
    return;
  }
  if (nav.FirstPosition || nav.LastPosition) {
    if (nav.GetRecordMode == grmCurrent) {
      nav.GetRecordResult = grrError;
      return;
    }
    const bool forward = nav.GetRecordMode == grmNext;
    if (nav.FirstPosition != forward) {  // before the first going back, after the last going on
      nav.GetRecordResult = forward ? grrEOF : grrBOF;
      return;
    }
    slot = forward ? first_live(0, 1) : first_live(SlotCount() - 1, -1);
  } else if (nav.GetRecordMode == grmCurrent) {
    slot = IsLive(nav.RecordID.PageNo) ? nav.RecordID.PageNo : -1;
    if (slot < 0) {
      nav.GetRecordResult = grrError;
      return;
    }
  } else {
    const bool forward = nav.GetRecordMode == grmNext;
    slot = first_live(static_cast<int64_t>(nav.RecordID.PageNo) + (forward ? 1 : -1), forward ? 1 : -1);
    if (slot < 0) {
      nav.GetRecordResult = forward ? grrEOF : grrBOF;
      return;
    }
  }
  std::memcpy(nav.RecordBuffer, slots_[static_cast<size_t>(slot)].data(), static_cast<size_t>(FRecordBufferSize));
  nav.RecordID = {static_cast<int32_t>(slot), 0};
  nav.FirstPosition = false;
  nav.LastPosition = false;
  nav.GetRecordResult = grrOK;
}

int32_t VectorRecordManager::CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) {
  if (RecordID1.PageNo != RecordID2.PageNo) return RecordID1.PageNo < RecordID2.PageNo ? -1 : 1;
  return RecordID1.PageItemNo == RecordID2.PageItemNo ? 0 : (RecordID1.PageItemNo < RecordID2.PageItemNo ? -1 : 1);
}

int64_t VectorRecordManager::GetApproximateRecNo(int32_t, const TORVPageItemID& RecordID) {
  return RecNoOfSlot(RecordID.PageNo);
}

int64_t VectorRecordManager::SlotOfRecNo(int64_t RecNo) const {
  for (int64_t s = 0, n = 0; s < SlotCount(); ++s)
    if (live_[static_cast<size_t>(s)] && ++n == RecNo) return s;
  return -1;
}

int64_t VectorRecordManager::RecNoOfSlot(int64_t Slot) const {
  if (!IsLive(Slot)) return -1;
  return std::count(live_.begin(), live_.begin() + Slot + 1, true);
}

// ---- Index manager that logs ------------------------------------------------------------------------

void LoggingIndexManager::InsertRecord(TORVCursor* Cursor) {
  Log("indexes.InsertRecord");
  TORVBaseIndexManager::InsertRecord(Cursor);
}

void LoggingIndexManager::UpdateRecord(TORVCursor* Cursor, bool BeforeNewRecordIsStored) {
  Log(BeforeNewRecordIsStored ? "indexes.UpdateRecord(before)" : "indexes.UpdateRecord(after)");
  TORVBaseIndexManager::UpdateRecord(Cursor, BeforeNewRecordIsStored);
}

bool LoggingIndexManager::DeleteRecord(TORVCursor* Cursor) {
  Log("indexes.DeleteRecord");
  return TORVBaseIndexManager::DeleteRecord(Cursor);
}

void LoggingIndexManager::RestoreUpdatedRecord(TORVCursor* Cursor) {
  Log("indexes.RestoreUpdatedRecord");
  TORVBaseIndexManager::RestoreUpdatedRecord(Cursor);
}

void LoggingIndexManager::RestoreDeletedRecord(TORVCursor* Cursor) {
  Log("indexes.RestoreDeletedRecord");
  TORVBaseIndexManager::RestoreDeletedRecord(Cursor);
}

// ---- Table ------------------------------------------------------------------------------------------

VectorTableData::VectorTableData(VectorDatabaseData* Database, const std::string& TableName)
    : TORVTableData(Database) {
  FTableName = TableName;
  FPageManager = &pages_;
}

VectorTableData::~VectorTableData() {
  // The index pages go back to the page store before it goes, and no session keeps
  // changes the store never saw.
  try {
    FIndexManager.reset();
    pages_.ApplyChanges(SYSTEM_SESSION_ID);
  } catch (...) {
  }
}

CallLog* VectorTableData::Log() const { return static_cast<VectorDatabaseData*>(FDatabaseData)->log; }

void VectorTableData::CreateRecordManager() {
  FRecordManager = std::make_unique<VectorRecordManager>(GetRecordBufferSize(), Log());
}

void VectorTableData::CreateFieldManager(TORVFieldDefs& FieldDefs) {
  FFieldManager = std::make_unique<TORVBaseFieldManager>(this);
  TORVTableData::CreateFieldManager(FieldDefs);
}

void VectorTableData::CreateIndexManager(TORVIndexDefs& IndexDefs) {
  FIndexManager = std::make_unique<LoggingIndexManager>(this, &pages_, Log());
  TORVTableData::CreateIndexManager(IndexDefs);
}

void VectorTableData::ApplyChanges(int32_t SessionID, bool InTransaction) {
  if (CallLog* log = Log()) log->push_back("table.ApplyChanges");
  TORVTableData::ApplyChanges(SessionID, InTransaction);
}

void VectorTableData::CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                                  TORVConstraintDefs& ConstraintDefs) {
  if (FieldDefs.GetCount() == 0 && !IsDesignMode())
    throw EORVException(10025, "Error creating table - no fields were specified");
  if (Cursor) FTableName = Cursor->FTableName;
  CreateFieldManager(FieldDefs);
  CreateIndexManager(IndexDefs);
  CreateConstraintManager(ConstraintDefs);
  CreateRecordManager();
  if (Cursor) InitCursor(Cursor);
  FIndexManager->CreateIndexesByIndexDefs(Cursor);
  const int32_t session = Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID;
  pages_.ApplyChanges(session);
}

void VectorTableData::EmptyTable(TORVCursor* Cursor) {
  TORVTableData::EmptyTable(nullptr);
  FRecordManager->Empty(SYSTEM_SESSION_ID);
  pages_.ApplyChanges(SYSTEM_SESSION_ID);
  (void)Cursor;
}

void VectorTableData::AddIndex(TORVIndexDef& IndexDef, TORVCursor* Cursor) {
  TORVLockGuard<TORVTableData> guard(*this);
  const int32_t session = Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID;
  // Like the memory tables: whatever the build did is applied at once, a refused build's
  // pages given back included.
  try {
    TORVTableData::AddIndex(IndexDef, Cursor);
  } catch (...) {
    pages_.ApplyChanges(session);
    throw;
  }
  pages_.ApplyChanges(session);
}

void VectorTableData::DeleteIndex(int32_t IndexID, TORVCursor* Cursor) {
  TORVLockGuard<TORVTableData> guard(*this);
  TORVTableData::DeleteIndex(IndexID, Cursor);
  pages_.ApplyChanges(Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID);
}

int64_t VectorTableData::GetBitmapRecordCount(int32_t) { return Records().SlotCount(); }

void VectorTableData::ClearBLOBFieldsInRecordBuffer(void* RecordBuffer) {
  if (CallLog* log = Log()) log->push_back("table.ClearBLOBFieldsInRecordBuffer");
  TORVTableData::ClearBLOBFieldsInRecordBuffer(RecordBuffer);
}

namespace {
[[noreturn]] void NoBlobs() { throw std::logic_error("the vector record store keeps no BLOBs"); }
}  // namespace

void VectorTableData::WriteBLOBFieldToRecordBuffer(TORVCursor*, int32_t, TORVStream*) { NoBlobs(); }
TORVStream* VectorTableData::InternalCreateBlobStream(TORVCursor*, bool, int32_t, TORVBLOBOpenMode) { NoBlobs(); }
void VectorTableData::GetDirectBlobData(TORVCursor*, int32_t, void*, TORVPartialTemporaryBLOBDescriptor&, void*&) {
  NoBlobs();
}
void VectorTableData::SetDirectBlobData(TORVCursor*, int32_t, void*, TORVPartialTemporaryBLOBDescriptor&, void*&) {
  NoBlobs();
}
void VectorTableData::FreeDirectBlobData(TORVCursor*, int32_t, void*, TORVPartialTemporaryBLOBDescriptor&, void*&) {
  NoBlobs();
}

TORVRecordOperationSteps VectorTableData::StepsFor(TORVCursor* Cursor) const {
  TORVRecordOperationSteps s = steps;
  // Like the memory tables: every change is applied at once outside a transaction.
  s.CallApplyChanges = !(Cursor->FSession && Cursor->FSession->FInTransaction);
  return s;
}

bool VectorTableData::InsertRecord(TORVCursor* Cursor) { return RunInsertRecord(*Cursor, StepsFor(Cursor)); }
bool VectorTableData::DeleteRecord(TORVCursor* Cursor) { return RunDeleteRecord(*Cursor, StepsFor(Cursor)); }
bool VectorTableData::UpdateRecord(TORVCursor* Cursor) { return RunUpdateRecord(*Cursor, StepsFor(Cursor)); }

void VectorTableData::InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) {
  const int64_t slot = Records().SlotOfRecNo(RecNo);
  if (slot >= 0) Cursor->CurrentRecordID = {static_cast<int32_t>(slot), 0};
}

int64_t VectorTableData::InternalGetRecNo(TORVCursor* Cursor) {
  return Records().RecNoOfSlot(Cursor->CurrentRecordID.PageNo);
}

int64_t VectorTableData::InternalGetRecordCount(TORVCursor*) { return FRecordManager->FRecordCount; }

int64_t VectorTableData::LastAutoincValue(int32_t FieldNo, TORVBaseSession* Session) {
  return FFieldManager->GetLastAutoinc(Session, FieldNo);
}

// ---- Database --------------------------------------------------------------------------------------

VectorDatabaseData::~VectorDatabaseData() = default;

void VectorDatabaseData::ConnectSession(TORVBaseSession* Session) {
  TORVDatabaseData::ConnectSession(Session);
  Session->FSessionID = ++last_session_;
}

TORVTableData* VectorDatabaseData::CreateTableData(TORVCursor* Cursor) {
  return AddTableData(std::make_unique<VectorTableData>(this, Cursor->FTableName));
}

int32_t VectorDatabaseData::GetNewObjectId() {
  TORVLockGuard<TORVDatabaseData> guard(*this);
  return ++last_object_id_;
}

}  // namespace orv::testing
