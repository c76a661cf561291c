#include "dbengine/storage/orv_base_engine_table.h"

#include <algorithm>
#include <stdexcept>

#include "dbengine/storage/orv_base_engine_bitmap.h"
#include "dbengine/storage/orv_base_engine_constraints.h"
#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_base_engine_indexes.h"
#include "dbengine/storage/orv_base_engine_scoped.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {


namespace {

using detail::IndexPosition;
using detail::SavedPosition;
using detail::ScratchBuffer;
using Guard = TORVLockGuard<TORVTableData>;

bool InTransaction(const TORVCursor* Cursor) { return Cursor && Cursor->FSession && Cursor->FSession->FInTransaction; }

int32_t SessionOf(const TORVCursor* Cursor) { return Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID; }

}  // namespace

// ---- Creation and managers -------------------------------------------------------------------

TORVTableData::TORVTableData(TORVDatabaseData* aDatabaseData) : FDatabaseData(aDatabaseData) {}

TORVTableData::~TORVTableData() {
  FIndexManager.reset();
  FConstraintManager.reset();
  FFieldManager.reset();
  FRecordManager.reset();
}

void TORVTableData::Lock() { FDatabaseData->Lock(); }
void TORVTableData::Unlock() { FDatabaseData->Unlock(); }

void TORVTableData::FillDefsByObjectId(TORVMetaObjectDefs& Defs) {
  for (int32_t i = 0; i < Defs.GetCount(); ++i) Defs.GetDef(i)->ObjectID = FDatabaseData->GetNewObjectId();
}

void TORVTableData::CreateFieldManager(TORVFieldDefs& FieldDefs) {
  if (!FFieldManager) FFieldManager = std::make_unique<TORVBaseFieldManager>(this);
  FillDefsByObjectId(FieldDefs);
  FFieldManager->FFieldDefs.Assign(FieldDefs);
  FFieldManager->RecalcFieldOffsets();
  FFieldManager->InitLastAutoIncValues();
}

void TORVTableData::CreateIndexManager(TORVIndexDefs& IndexDefs) {
  if (!FIndexManager) FIndexManager = std::make_unique<TORVBaseIndexManager>(this, FPageManager);
  FillDefsByObjectId(IndexDefs);
  FIndexManager->CreateIndexDefs(IndexDefs);
}

void TORVTableData::CreateConstraintManager(TORVConstraintDefs& ConstraintDefs) {
  for (int32_t i = 0; i < ConstraintDefs.GetCount(); ++i) {
    const TORVConstraintType type = ConstraintDefs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EORVException(30058, "Not implemented yet");
  }
  FillDefsByObjectId(ConstraintDefs);
  const std::string table = FTableName.substr(0, 255);
  for (int32_t i = 0; i < ConstraintDefs.GetCount(); ++i) {
    TORVConstraintDef* def = ConstraintDefs.GetDef(i);
    if (auto* nn = dynamic_cast<TORVConstraintDefNotNull*>(def)) nn->TableName = table;
    if (auto* uq = dynamic_cast<TORVConstraintDefUnique*>(def)) uq->TableName = table;
  }
  // The new manager takes over only when its definitions are complete.
  auto manager = std::make_unique<TORVBaseConstraintManager>(this);
  manager->FConstraintDefs.Assign(ConstraintDefs);
  manager->LinkObjectIds();
  manager->FillConstraintAutoNames();
  FConstraintManager = std::move(manager);
}

void TORVTableData::InitCursor(TORVCursor* Cursor) {
  const bool fields = FFieldManager && FFieldManager->FFieldDefs.GetCount() > 0;
  Cursor->FFieldValuesOffset = fields ? FFieldManager->FFieldDefs.GetDef(0)->MemoryOffset : 0;
  Cursor->FRecordSize = GetRecordBufferSize();
}

int32_t TORVTableData::GetRecordBufferSize() const {
  const int32_t count = FFieldManager ? FFieldManager->FFieldDefs.GetCount() : 0;
  if (count == 0 && !IsDesignMode()) throw EORVException(10131, "Error creating table - no fields were specified");
  return FFieldManager ? FFieldManager->FFieldDefs.GetMemoryRecordBufferSize() : 0;
}

void TORVTableData::ApplyChanges(int32_t SessionID, bool InTransaction) {
  if (!InTransaction && FPageManager) FPageManager->ApplyChanges(SessionID);
}

void TORVTableData::CancelChanges(int32_t SessionID, bool InTransaction) {
  if (!InTransaction && FPageManager) FPageManager->CancelChanges(SessionID);
}

// ---- Table-level operations --------------------------------------------------------------------

void TORVTableData::DeleteTable(TORVCursor* /*Cursor*/, bool DesignMode) {
  if (!DesignMode && !FCursorList.empty())
    throw EORVException(20017, "Cannot delete table '%s'. Table is open by another dataset", {FTableName});
}

void TORVTableData::EmptyTable(TORVCursor* Cursor) {
  if (FFieldManager) FFieldManager->InitLastAutoIncValues();
  EmptyAllIndexes(SessionOf(Cursor));
}

void TORVTableData::RenameTable(const std::string& NewTableName, TORVCursor* /*Cursor*/) {
  if (!FCursorList.empty())
    throw EORVException(10150, "Cannot rename table '%s'. Table is open by another dataset", {FTableName});
  FTableName = NewTableName;
}

void TORVTableData::OpenTable(TORVCursor* Cursor) { FCursorList.push_back(Cursor); }

void TORVTableData::CloseTable(TORVCursor* Cursor) {
  if (auto it = std::find(FCursorList.begin(), FCursorList.end(), Cursor); it != FCursorList.end())
    FCursorList.erase(it);
}

void TORVTableData::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  TORVFieldDef* field = FFieldManager ? FFieldManager->FFieldDefs.GetFieldDefByName(FieldName) : nullptr;
  if (!field) throw EORVException(30343, "Field '%s' not found", {FieldName});
  if (FFieldManager->FFieldDefs.GetFieldDefByName(NewFieldName))
    throw EORVException(30344, "Cannot rename field '%s'. Field '%s' already exists", {FieldName, NewFieldName});
  field->Name = NewFieldName.substr(0, 255);
  if (FIndexManager) FIndexManager->RenameField(FieldName, field->Name);
}

void TORVTableData::AddIndex(TORVIndexDef& IndexDef, TORVCursor* Cursor) {
  SavedPosition saved(Cursor);
  FIndexManager->CreateIndex(Cursor, IndexDef);
  if (FConstraintManager && !IndexDef.Temporary && !(Cursor && Cursor->FTemporary))
    FConstraintManager->AddConstraintFromIndex(IndexDef);
}

void TORVTableData::DeleteIndex(int32_t IndexID, TORVCursor* Cursor) {
  if (Cursor && FConstraintManager) {
    const auto* def = static_cast<const TORVIndexDef*>(FIndexManager->FIndexDefs.GetDefByObjectId(IndexID));
    if (def && !def->Temporary && !Cursor->FTemporary) FConstraintManager->DeleteConstraintForIndexID(IndexID);
  }
  FIndexManager->DropIndex(SessionOf(Cursor), IndexID);
}

void TORVTableData::EmptyIndex(int32_t IndexID, int32_t SessionID) {
  Guard guard(*this);
  FIndexManager->EmptyIndex(SessionID, IndexID);
}

void TORVTableData::EmptyAllIndexes(int32_t SessionID) {
  if (FIndexManager) FIndexManager->EmptyAllIndexes(SessionID);
}

void TORVTableData::DeleteAllIndexes(TORVCursor* Cursor) {
  while (FIndexManager && FIndexManager->FIndexDefs.GetCount() > 0)
    DeleteIndex(FIndexManager->FIndexDefs.GetDef(0)->ObjectID, Cursor);
}

void TORVTableData::ClearBLOBFieldsInRecordBuffer(void* RecordBuffer) {
  if (!FFieldManager || !FFieldManager->BlobFieldsPresent()) return;
  const TORVFieldDefs& defs = FFieldManager->FFieldDefs;
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBLOBFieldType(defs.GetDef(i)->BaseFieldType)) ClearBLOBFieldInRecordBuffer(RecordBuffer, i);
}

void TORVTableData::Rollback(int32_t SessionID) { RebuildTemporaryIndexes(SessionID); }

// ---- What record keys read -----------------------------------------------------------------------

bool TORVTableData::HasFieldDefs() const { return FFieldManager != nullptr; }

bool TORVTableData::FindKeyField(std::string_view FieldName, TORVKeyFieldInfo& Info) const {
  return FFieldManager && GetKeyFieldInfo(FFieldManager->FFieldDefs, FieldName, Info);
}

int32_t TORVTableData::GetMemoryRecordBufferSize() const {
  return FFieldManager ? FFieldManager->FFieldDefs.GetMemoryRecordBufferSize() : 0;
}

void TORVTableData::GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) {
  if (!FRecordManager) throw EORVException(10015, "Nil pointer occured");
  FRecordManager->GetRecordBuffer(SessionID, NavigationInfo);
}

// ---- Indexes asked for by column lists ---------------------------------------------------------

std::string TORVTableData::FindOrCreateIndex(TORVCursor* Cursor, const std::vector<std::string>& FieldNamesList,
                                             const std::vector<std::string>& AscDescList,
                                             const std::vector<std::string>& CaseSensitivityList, bool& IsCreated) {
  Guard guard(*this);
  SavedPosition saved(Cursor);
  const int32_t session = SessionOf(Cursor);
  const bool in_transaction = InTransaction(Cursor);
  try {
    const int32_t id = FIndexManager->FindOrCreateIndex(Cursor, FieldNamesList, AscDescList, CaseSensitivityList, IsCreated);
    const TORVMetaObjectDef* def = FIndexManager->FIndexDefs.GetDefByObjectId(id);
    if (!def) throw EORVException(10324, "Cannot find index by ID = %d", {id});
    std::string name = def->Name;
    ApplyChanges(session, in_transaction);
    return name;
  } catch (...) {
    CancelChanges(session, in_transaction);
    throw;
  }
}

bool TORVTableData::IndexExists(TORVCursor* Cursor, const std::vector<std::string>& FieldNamesList,
                                const std::vector<std::string>& AscDescList,
                                const std::vector<std::string>& CaseSensitivityList) {
  Guard guard(*this);
  return FIndexManager->IsIndexExists(FieldNamesList, AscDescList, CaseSensitivityList, SessionOf(Cursor),
                                      Cursor ? Cursor->FFieldDefs.get() : nullptr);
}

bool TORVTableData::IsUniqueConstraintFailed(int32_t SessionID, int32_t IndexID, const void* NewRecordBuffer,
                                             const void* OldRecordBuffer, bool ToInsert,
                                             const TORVPageItemID& /*CurrentRecordID*/) {
  if (!FRecordManager || FRecordManager->FRecordCount == 0) return false;
  TORVIndex* index = FIndexManager->OpenIndex(IndexID);
  return ToInsert ? !index->CanInsertRecord(SessionID, NewRecordBuffer)
                  : !index->CanUpdateRecord(SessionID, OldRecordBuffer, NewRecordBuffer);
}

void TORVTableData::RebuildTemporaryIndexes(int32_t SessionID) {
  if (!FIndexManager) return;
  // A rebuild may open or close cursors of the table: walk a copy.
  const std::vector<TORVCursor*> cursors = FCursorList;
  for (TORVCursor* c : cursors) {
    if (!c->FSession || c->FSession->FSessionID != SessionID) continue;
    bool changed = false;
    FIndexManager->SynchronizeTemporaryIndexes(c, changed);
  }
}

// ---- Record bitmaps --------------------------------------------------------------------------------

void TORVTableData::InitRecordBitmap(TORVRecordBitmap& RecordBitmap, int32_t IndexID) {
  RecordBitmap.Clear();
  RecordBitmap.FTableState = FRecordManager ? FRecordManager->FTableState : -1;
  RecordBitmap.FIndexBased = IndexID != -1;
}

void TORVTableData::RefreshCursorRecordBitmap(TORVCursor* Cursor) {
  TORVRecordBitmap* bitmap = Cursor->FRecordBitmap.get();
  if (!bitmap) return;
  if (bitmap->FActive ? bitmap->GetOutdated() : Cursor->IsViewRestricted()) BuildCursorRecordBitmap(Cursor);
}

void TORVTableData::BuildCursorRecordBitmap(TORVCursor* Cursor) {
  Guard guard(*this);
  TORVRecordBitmap& bitmap = *Cursor->FRecordBitmap;
  InitRecordBitmap(bitmap, Cursor->FIndexID);
  bitmap.SetSize(GetBitmapRecordCount(SessionOf(Cursor)));
  if (FRecordManager->FRecordCount == 0) return;
  SavedPosition saved(Cursor);
  void* const buffer = Cursor->FCurrentRecordBuffer;
  Cursor->FCurrentRecordBuffer = nullptr;
  Cursor->FirstPosition = true;
  Cursor->LastPosition = false;
  try {
    FindRecord(Cursor, nullptr, nullptr, true, true, nullptr, &bitmap, true);
  } catch (...) {
    Cursor->FCurrentRecordBuffer = buffer;
    throw;
  }
  Cursor->FCurrentRecordBuffer = buffer;
}

int64_t TORVTableData::GetBitmapRecNoByIndexPosition(int32_t IndexID, const TORVKeyPath& IndexPos) {
  return IndexPos.GetBitmapRecNoByIndexPosition(FIndexManager->OpenIndex(IndexID)->GetMaxEntriesPerPage());
}

void TORVTableData::GetIndexPositionByBitmapRecNo(int32_t IndexID, int64_t RecordNo, TORVKeyPath& IndexPos) {
  IndexPos.FillItemsByBitmapRecNo(RecordNo, FIndexManager->OpenIndex(IndexID)->GetMaxEntriesPerPage());
}

bool TORVTableData::GetIndexPositionByRecordID(int32_t SessionID, int32_t IndexID, const TORVPageItemID& RecordID,
                                               TORVKeyPath& IndexPos) {
  ScratchBuffer buffer(std::max(FRecordManager->FRecordBufferSize, GetMemoryRecordBufferSize()));
  TORVNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.RecordID = RecordID;
  nav.RecordBuffer = buffer.get();
  InternalGetRecordBuffer(SessionID, nav, nullptr, -1);
  if (nav.GetRecordResult != grrOK) return false;
  return FIndexManager->OpenIndex(IndexID)->GetIndexPosition(SessionID, RecordID, buffer.get(), &IndexPos);
}

void TORVTableData::GetRecordIDByIndexPosition(int32_t SessionID, int32_t IndexID, const TORVKeyPath& IndexPos,
                                               TORVPageItemID& RecordID) {
  FIndexManager->OpenIndex(IndexID)->GetRecordIDByIndexPosition(SessionID, IndexPos, RecordID);
}

// ---- Visibility ------------------------------------------------------------------------------------

bool TORVTableData::IsRecordInRange(TORVCursor* Cursor) {
  if (!Cursor->FRangeStartBuffer && !Cursor->FRangeEndBuffer) return true;
  TORVIndex* index = FIndexManager->OpenIndex(Cursor->FIndexID);
  const void* record = Cursor->FCurrentRecordBuffer;
  if (Cursor->FRangeStartBuffer) {
    const int32_t c = index->CompareRecordBuffersByIndex(record, Cursor->FRangeStartBuffer, Cursor->FRangeStartKeyFieldCount);
    if (Cursor->FRangeStartExclusive ? c <= 0 : c < 0) return false;
  }
  if (Cursor->FRangeEndBuffer) {
    const int32_t c = index->CompareRecordBuffersByIndex(record, Cursor->FRangeEndBuffer, Cursor->FRangeEndKeyFieldCount);
    if (Cursor->FRangeEndExclusive ? c >= 0 : c > 0) return false;
  }
  return true;
}

bool TORVTableData::IsRecordVisible(TORVCursor* Cursor) {
  if (!IsRecordInRange(Cursor)) return false;
  for (IORVExpression* e : {Cursor->FFilterExpression.get(), Cursor->FSQLFilterExpression}) {
    if (!e || e->IsEmpty()) continue;
    e->AssignCursorBuffer(Cursor->FCurrentRecordBuffer, false);
    if (!e->GetResult()) return false;
  }
  if (Cursor->FilterRecord && !Cursor->FilterRecord(Cursor->FCurrentRecordBuffer, Cursor->Dataset)) return false;
  return true;
}

// ---- Fetching ----------------------------------------------------------------------------------------

void TORVTableData::InternalGetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                                            TORVIndexPositionCache* IndexPositionCache, int32_t TableState) {
  if (!FRecordManager) throw EORVException(10015, "Nil pointer occured");
  if (!FIndexManager) throw EORVException(10380, "Nil pointer occured");
  if (!NavigationInfo.RecordBuffer) throw EORVException(10016, "Nil pointer occured");
  if (NavigationInfo.IndexID != -1 && NavigationInfo.GetRecordMode != grmCurrent)
    FIndexManager->GetRecordBuffer(SessionID, NavigationInfo, IndexPositionCache, TableState);
  else
    FRecordManager->GetRecordBuffer(SessionID, NavigationInfo);
}

TORVGetRecordResult TORVTableData::InternalFindOrGetRecordBuffer(TORVCursor* Cursor, TORVGetRecordMode GetRecordMode,
                                                                 bool ForceFillWholeBitmap) {
  const int32_t session = SessionOf(Cursor);
  TORVNavigationInfo nav;
  nav.RecordBuffer = Cursor->FCurrentRecordBuffer;
  if (GetRecordMode != grmCurrent && Cursor->IsViewRestricted()) {
    const bool forward = GetRecordMode == grmNext;
    TORVPageItemID found;
    if (!FindRecord(Cursor, nullptr, nullptr, Cursor->FirstPosition || Cursor->LastPosition, forward, &found,
                    Cursor->FRecordBitmap.get(), ForceFillWholeBitmap))
      return forward ? grrEOF : grrBOF;
    nav.GetRecordMode = grmCurrent;
    nav.RecordID = found;
    InternalGetRecordBuffer(session, nav, nullptr, -1);
  } else {
    nav.GetRecordMode = GetRecordMode;
    nav.IndexID = Cursor->FIndexID;
    nav.RecordID = Cursor->CurrentRecordID;
    nav.FirstPosition = Cursor->FirstPosition;
    nav.LastPosition = Cursor->LastPosition;
    InternalGetRecordBuffer(session, nav, Cursor->FIndexPositionCache.get(), FRecordManager->FTableState);
    if (nav.GetRecordResult == grrOK && Cursor->IsViewRestricted() && !IsRecordVisible(Cursor)) return grrError;
  }
  Cursor->CurrentRecordID = nav.RecordID;
  Cursor->FirstPosition = nav.FirstPosition;
  Cursor->LastPosition = nav.LastPosition;
  return nav.GetRecordResult;
}

TORVGetRecordResult TORVTableData::GetRecordBuffer(TORVCursor* Cursor, TORVGetRecordMode GetRecordMode) {
  Guard guard(*this);
  return GetRecordBufferLocked(Cursor, GetRecordMode);
}

TORVGetRecordResult TORVTableData::GetRecordBufferLocked(TORVCursor* Cursor, TORVGetRecordMode GetRecordMode) {
  if (!FRecordManager) throw EORVException(10015, "Nil pointer occured");
  if (FRecordManager->FRecordCount == 0) return grrEOF;
  const bool distinct_step = Cursor->IsDistinctApplied() && GetRecordMode != grmCurrent && !Cursor->FirstPosition &&
                             !Cursor->LastPosition;
  if (!distinct_step) return InternalFindOrGetRecordBuffer(Cursor, GetRecordMode, false);
  struct DistinctBuffer {
    TORVCursor* cursor;
    ~DistinctBuffer() {
      if (cursor->FDistinctRecordBuffer) cursor->FreeRecordBuffer(cursor->FDistinctRecordBuffer);
      cursor->FDistinctRecordBuffer = nullptr;
    }
  } release{Cursor};
  Cursor->FDistinctRecordBuffer = Cursor->AllocateRecordBuffer();
  TORVNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.RecordID = Cursor->CurrentRecordID;
  nav.RecordBuffer = Cursor->FDistinctRecordBuffer;
  FRecordManager->GetRecordBuffer(SessionOf(Cursor), nav);
  if (nav.GetRecordResult != grrOK) return grrError;
  return InternalFindOrGetRecordBuffer(Cursor, GetRecordMode, false);
}

int64_t TORVTableData::GetRecordCount(TORVCursor* Cursor) {
  Guard guard(*this);
  if (Cursor->IsViewRestricted()) {
    RefreshCursorRecordBitmap(Cursor);
    return Cursor->FRecordBitmap->GetRecordCount();
  }
  return InternalGetRecordCount(Cursor);
}

int64_t TORVTableData::GetRecNo(TORVCursor* Cursor) {
  Guard guard(*this);
  if (Cursor->FirstPosition || Cursor->LastPosition) return -1;
  if (GetRecordCount(Cursor) == 0) return -1;
  RefreshCursorRecordBitmap(Cursor);
  const int32_t session = SessionOf(Cursor);
  const bool restricted = Cursor->IsViewRestricted();
  if (!Cursor->IsIndexApplied())
    return restricted ? Cursor->FRecordBitmap->GetRecNoByRecordID(Cursor->CurrentRecordID) : InternalGetRecNo(Cursor);
  ScratchBuffer buffer(std::max(FRecordManager->FRecordBufferSize, GetRecordBufferSize()));
  TORVNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.IndexID = Cursor->FIndexID;
  nav.RecordID = Cursor->CurrentRecordID;
  nav.RecordBuffer = buffer.get();
  InternalGetRecordBuffer(session, nav, nullptr, -1);
  if (nav.GetRecordResult != grrOK) return -1;
  TORVIndex* index = FIndexManager->OpenIndex(Cursor->FIndexID);
  if (!restricted) return index->GetRecNoByRecordID(session, Cursor->CurrentRecordID, buffer.get());
  IndexPosition pos(*index);
  if (!GetIndexPositionByRecordID(session, Cursor->FIndexID, Cursor->CurrentRecordID, *pos)) return -1;
  return Cursor->FRecordBitmap->GetRecNoByIndexPos(Cursor->FIndexID, *pos);
}

void TORVTableData::SetRecNo(TORVCursor* Cursor, int64_t RecNo) {
  Guard guard(*this);
  const int64_t count = GetRecordCount(Cursor);
  if (count == 0) return;
  RecNo = std::clamp<int64_t>(RecNo, 1, count);
  const int32_t session = SessionOf(Cursor);
  const bool restricted = Cursor->IsViewRestricted();
  Cursor->FirstPosition = false;
  Cursor->LastPosition = false;
  if (Cursor->IsIndexApplied()) {
    TORVIndex* index = FIndexManager->OpenIndex(Cursor->FIndexID);
    if (restricted) {
      IndexPosition pos(*index);
      Cursor->FRecordBitmap->GetIndexPosByRecNo(Cursor->FIndexID, RecNo, *pos);
      GetRecordIDByIndexPosition(session, Cursor->FIndexID, *pos, Cursor->CurrentRecordID);
    } else {
      Cursor->CurrentRecordID = index->GetRecordIDByRecNo(session, RecNo);
    }
  } else if (restricted) {
    Cursor->CurrentRecordID = Cursor->FRecordBitmap->GetRecordIDByRecNo(RecNo);
  } else {
    InternalSetRecNo(Cursor, RecNo);
  }
}

// ---- Searching -------------------------------------------------------------------------------------

bool TORVTableData::Locate(TORVCursor* Cursor, IORVExpression* SearchExpression) {
  if (!SearchExpression) throw EORVException(10272, "Nil pointer occured");
  Guard guard(*this);
  SavedPosition saved(Cursor);
  TORVPageItemID found;
  if (!FindRecord(Cursor, SearchExpression, nullptr, true, true, &found, nullptr, false)) return false;
  saved.KeepNewPosition();
  Cursor->FirstPosition = false;
  Cursor->LastPosition = false;
  Cursor->CurrentRecordID = found;
  try {
    GetRecordBuffer(Cursor, grmCurrent);
  } catch (...) {
    saved.Restore();
    throw;
  }
  return true;
}

bool TORVTableData::FindKey(TORVCursor* Cursor, TORVSearchCondition SearchCondition) {
  Guard guard(*this);
  SavedPosition saved(Cursor);
  TORVScanSearchCondition key(true);
  key.Condition = SearchCondition;
  key.KeyFieldCount = Cursor->FKeyFieldCount;
  key.KeyRecordBuffer = Cursor->FKeyBuffer;
  key.KeyRecordBufferSize = Cursor->FKeyBufferSize;
  key.IndexID = Cursor->FIndexID;
  TORVPageItemID found;
  if (!FindRecord(Cursor, nullptr, &key, true, true, &found, nullptr, false)) return false;
  saved.KeepNewPosition();
  Cursor->FirstPosition = false;
  Cursor->LastPosition = false;
  Cursor->CurrentRecordID = found;
  return true;
}

// ---- The order of a record change --------------------------------------------------------------------

void TORVTableData::ApplySessionChanges(TORVCursor& Cursor, const TORVRecordOperationSteps& Steps) {
  if (Steps.CallApplyChanges) ApplyChanges(Cursor.GetSessionID(), InTransaction(&Cursor));
}

void TORVTableData::ShowOrHideInBitmap(TORVCursor& Cursor) {
  TORVRecordBitmap* bitmap = Cursor.FRecordBitmap.get();
  if (!bitmap || !bitmap->FActive) return;
  if (IsRecordVisible(&Cursor))
    bitmap->ShowRecord(Cursor.CurrentRecordID);
  else
    bitmap->HideRecord(Cursor.CurrentRecordID);
}

bool TORVTableData::RunInsertRecord(TORVCursor& Cursor, const TORVRecordOperationSteps& Steps) {
  Guard guard(*this);
  if (Steps.BeforeStore) Steps.BeforeStore(Cursor);
  TORVPageItemID id;
  if (!FRecordManager->AddRecord(Cursor.GetSessionID(), Cursor.FCurrentRecordBuffer, id)) return false;
  Cursor.CurrentRecordID = id;
  ShowOrHideInBitmap(Cursor);
  FIndexManager->InsertRecord(&Cursor);
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  if (Steps.AfterStore) Steps.AfterStore(Cursor);
  ApplySessionChanges(Cursor, Steps);
  return true;
}

bool TORVTableData::RunUpdateRecord(TORVCursor& Cursor, const TORVRecordOperationSteps& Steps) {
  Guard guard(*this);
  FIndexManager->UpdateRecord(&Cursor, true);
  bool stored = false;
  try {
    if (Steps.BeforeStore) Steps.BeforeStore(Cursor);
    stored = FRecordManager->UpdateRecord(Cursor.GetSessionID(), Cursor.FCurrentRecordBuffer, Cursor.CurrentRecordID);
  } catch (...) {
    // The record keeps its old values, so its indexes must keep pointing at them.
    try {
      FIndexManager->RestoreUpdatedRecord(&Cursor);
    } catch (...) {
      // The store's failure is the one to report.
    }
    throw;
  }
  if (!stored) {
    FIndexManager->RestoreUpdatedRecord(&Cursor);
    return false;
  }
  FIndexManager->UpdateRecord(&Cursor, false);
  ShowOrHideInBitmap(Cursor);
  if (Steps.AfterStore) Steps.AfterStore(Cursor);
  ApplySessionChanges(Cursor, Steps);
  return true;
}

bool TORVTableData::RunDeleteRecord(TORVCursor& Cursor, const TORVRecordOperationSteps& Steps) {
  Guard guard(*this);
  // The record the cursor stands on afterwards: the next one, else the prior one.
  bool has_neighbour = false;
  TORVPageItemID neighbour;
  {
    SavedPosition saved(&Cursor);
    void* const buffer = Cursor.FCurrentRecordBuffer;
    ScratchBuffer scratch(std::max(Cursor.FRecordBufferSize, GetRecordBufferSize()));
    Cursor.FCurrentRecordBuffer = scratch.get();
    try {
      if (GetRecordBuffer(&Cursor, grmNext) == grrOK) {
        has_neighbour = true;
      } else {
        saved.Restore();
        has_neighbour = GetRecordBuffer(&Cursor, grmPrior) == grrOK;
      }
      neighbour = Cursor.CurrentRecordID;
    } catch (...) {
      Cursor.FCurrentRecordBuffer = buffer;
      throw;
    }
    Cursor.FCurrentRecordBuffer = buffer;
  }
  ClearBLOBFieldsInRecordBuffer(Cursor.FCurrentRecordBuffer);
  if (Steps.BeforeStore) Steps.BeforeStore(Cursor);
  const bool unindexed = FIndexManager->DeleteRecord(&Cursor);
  const int32_t state = FRecordManager->FTableState;
  const TORVPageItemID deleted = Cursor.CurrentRecordID;
  TORVPageItemID id = deleted;
  bool removed = false;
  try {
    removed = FRecordManager->DeleteRecord(Cursor.GetSessionID(), id);
  } catch (...) {
    try {
      if (unindexed) FIndexManager->RestoreDeletedRecord(&Cursor);
    } catch (...) {
      // The store's failure is the one to report.
    }
    throw;
  }
  if (!removed) {
    // The record is still stored: it must stay findable through its indexes.
    if (unindexed) FIndexManager->RestoreDeletedRecord(&Cursor);
    return false;
  }
  if (TORVRecordBitmap* bitmap = Cursor.FRecordBitmap.get(); bitmap && bitmap->FActive) {
    bitmap->HideRecord(deleted);
    if (bitmap->FTableState == state && !Cursor.IsDistinctApplied()) bitmap->FTableState = FRecordManager->FTableState;
  }
  if (has_neighbour) {
    Cursor.CurrentRecordID = neighbour;
    Cursor.FirstPosition = false;
  } else {
    Cursor.FirstPosition = true;
  }
  Cursor.LastPosition = false;
  if (Steps.AfterStore) Steps.AfterStore(Cursor);
  ApplySessionChanges(Cursor, Steps);
  return true;
}

}  // namespace orv
