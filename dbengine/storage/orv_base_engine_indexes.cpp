#include "dbengine/storage/orv_base_engine_indexes.h"

#include <algorithm>

#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_btree_record_index.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

// A cursor of one record as an index sees it, for the walks and repairs of this manager.
class RecordCursor : public IORVIndexCursor {
 public:
  RecordCursor(int32_t session, std::string table, const void* current, const void* edit, TORVPageItemID id)
      : session_(session), table_(std::move(table)), current_(current), edit_(edit), id_(id) {}
  int32_t GetSessionID() const override { return session_; }
  std::string GetTableName() const override { return table_; }
  const void* GetCurrentRecordBuffer() const override { return current_; }
  const void* GetEditRecordBuffer() const override { return edit_; }
  TORVPageItemID GetCurrentRecordID() const override { return id_; }
  void SetRecordID(const TORVPageItemID& id) { id_ = id; }

 private:
  int32_t session_;
  std::string table_;
  const void* current_;
  const void* edit_;
  TORVPageItemID id_;
};

TORVBaseRecordManager& RecordManagerOf(const TORVTableData* table) {
  if (!table || !table->FRecordManager) throw EORVException(10015, "Nil pointer occured");
  return *table->FRecordManager;
}

}  // namespace

TORVBaseIndexManager::TORVBaseIndexManager(TORVTableData* aTableData, TORVPageManager* TempPageManager)
    : FTableData(aTableData),
      FPageManager(aTableData ? aTableData->FPageManager : nullptr),
      FTemporaryPageManager(TempPageManager) {}

TORVBaseIndexManager::~TORVBaseIndexManager() { FOpenIndexList.clear(); }

void TORVBaseIndexManager::LoadMetadata(platform::TStream& Stream) {
  FOpenIndexList.clear();
  FIndexDefs.LoadFromStream(Stream);
}

void TORVBaseIndexManager::SaveMetadata(platform::TStream& Stream) const { FIndexDefs.SaveToStream(Stream); }

void TORVBaseIndexManager::CreateIndexDefs(const TORVIndexDefs& aIndexDefs) {
  FOpenIndexList.clear();
  FIndexDefs.Assign(aIndexDefs);
}

TORVPageManager* TORVBaseIndexManager::GetPageManager(const TORVIndex& Index) {
  return Index.IndexDef() && Index.IndexDef()->Temporary ? FTemporaryPageManager : FPageManager;
}

IORVKeyTable* TORVBaseIndexManager::GetTableData() { return FTableData; }

void TORVBaseIndexManager::ForEachTableRecord(int32_t SessionID, const std::string& TableName,
                                              const std::function<void(IORVIndexCursor&)>& Visit) {
  TORVBaseRecordManager& records = RecordManagerOf(FTableData);
  const int64_t size = std::max<int64_t>({records.FRecordBufferSize, FTableData->GetMemoryRecordBufferSize(), 1});
  void* buffer = MemoryManager().AllocMem(size);
  try {
    RecordCursor cursor(SessionID, TableName, buffer, nullptr, {});
    TORVNavigationInfo nav;
    nav.GetRecordMode = grmNext;
    nav.RecordBuffer = buffer;
    nav.FirstPosition = true;
    for (;;) {
      records.GetRecordBuffer(SessionID, nav);
      if (nav.GetRecordResult != grrOK) break;
      cursor.SetRecordID(nav.RecordID);
      Visit(cursor);
      nav.GetRecordMode = grmNext;
    }
  } catch (...) {
    MemoryManager().FreeAndNillMem(buffer);
    throw;
  }
  MemoryManager().FreeAndNillMem(buffer);
}

// ---- Opening and closing ---------------------------------------------------------------------------

TORVIndex* TORVBaseIndexManager::FindOpenIndex(int32_t IndexID) const {
  for (const auto& index : FOpenIndexList)
    if (index->IndexDef() && index->IndexDef()->ObjectID == IndexID) return index.get();
  return nullptr;
}

TORVIndex* TORVBaseIndexManager::OpenIndex(int32_t IndexID) {
  if (TORVIndex* open = FindOpenIndex(IndexID)) return open;
  return InternalOpenIndex(IndexID);
}

TORVIndex* TORVBaseIndexManager::InternalOpenIndex(int32_t IndexID) {
  const auto* def = static_cast<const TORVIndexDef*>(FIndexDefs.GetDefByObjectId(IndexID));
  if (!def) throw EORVException(20018, "Index not found");
  auto index = std::make_unique<TORVBTreeRecordIndex>(this);
  index->OpenIndex(*def);
  FOpenIndexList.push_back(std::move(index));
  return FOpenIndexList.back().get();
}

void TORVBaseIndexManager::CloseIndex(int32_t IndexID) {
  auto it = std::find_if(FOpenIndexList.begin(), FOpenIndexList.end(), [IndexID](const auto& index) {
    return index->IndexDef() && index->IndexDef()->ObjectID == IndexID;
  });
  if (it != FOpenIndexList.end()) FOpenIndexList.erase(it);
}

void TORVBaseIndexManager::TakeRootPageNo(TORVIndexDef& Def, const TORVIndex& Index) {
  if (Index.IndexDef() && Index.IndexDef()->RootPageNo != Def.RootPageNo) Def.RootPageNo = Index.IndexDef()->RootPageNo;
}

// ---- Creating ------------------------------------------------------------------------------------------

int32_t TORVBaseIndexManager::CreateIndex(TORVCursor* Cursor, TORVIndexDef& IndexDef) {
  IndexDef.ObjectID = FTableData->FDatabaseData->GetNewObjectId();
  auto copy = std::make_unique<TORVIndexDef>();
  copy->Assign(IndexDef);
  FIndexDefs.Add(std::move(copy));
  InternalCreateIndex(Cursor, IndexDef);
  return IndexDef.ObjectID;
}

void TORVBaseIndexManager::CreateIndexesByIndexDefs(TORVCursor* Cursor) {
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) InternalCreateIndex(Cursor, *FIndexDefs.GetIndexDef(i));
}

void TORVBaseIndexManager::InternalCreateIndex(TORVCursor* Cursor, TORVIndexDef& IndexDef) {
  const int32_t id = IndexDef.ObjectID;
  {
    TORVBTreeRecordIndex index(this);
    try {
      index.CreateIndex(Cursor, IndexDef);
    } catch (...) {
      // The index does not exist: neither its definition nor an open object of it stays.
      CloseIndex(id);
      if (const int32_t no = FIndexDefs.GetDefNumberByObjectId(id); no >= 0) FIndexDefs.Delete(no);
      throw;
    }
  }
  // IndexDef may be the managed definition itself (a table created with its indexes).
  if (auto* managed = static_cast<TORVIndexDef*>(FIndexDefs.GetDefByObjectId(id)); managed && managed != &IndexDef)
    managed->Assign(IndexDef);
  // An index object opened before the build knows an old root.
  CloseIndex(id);
}

// ---- Temporary indexes ---------------------------------------------------------------------------------

bool TORVBaseIndexManager::IsIndexExists(const std::vector<std::string>& FieldNames,
                                         const std::vector<std::string>& AscDescList,
                                         const std::vector<std::string>& CaseSensitivityList, int32_t SessionID,
                                         const TORVFieldDefs* FieldDefs) const {
  return FIndexDefs.IsIndexExists(&FieldNames, &AscDescList, &CaseSensitivityList, SessionID, FieldDefs);
}

int32_t TORVBaseIndexManager::FindIndex(const std::vector<std::string>& FieldNames,
                                        const std::vector<std::string>& AscDescList,
                                        const std::vector<std::string>& CaseSensitivityList, int32_t SessionID,
                                        const TORVFieldDefs* FieldDefs) const {
  return FIndexDefs.FindIndex(&FieldNames, &AscDescList, &CaseSensitivityList, SessionID, FieldDefs);
}

int32_t TORVBaseIndexManager::CreateTemporaryIndex(TORVCursor* Cursor, const std::vector<std::string>& FieldNamesList,
                                                   const std::vector<std::string>& AscDescList,
                                                   const std::vector<std::string>& CaseSensitivityList) {
  TORVIndexDef def;
  do {
    def.Name = GetTemporaryName("TEMPORARY_INDEX_").substr(0, 255);
  } while (FIndexDefs.GetDefByName(def.Name));
  def.Temporary = true;
  def.IndexType = itBTree;
  def.Unique = false;
  def.Primary = false;
  def.AssignByNames(FieldNamesList, AscDescList, CaseSensitivityList);
  def.SessionID = Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID;
  def.TableState = RecordManagerOf(FTableData).FTableState;
  return CreateIndex(Cursor, def);
}

int32_t TORVBaseIndexManager::FindOrCreateIndex(TORVCursor* Cursor, const std::vector<std::string>& FieldNamesList,
                                                const std::vector<std::string>& AscDescList,
                                                const std::vector<std::string>& CaseSensitivityList, bool& IsCreated) {
  const TORVFieldDefs* fields = Cursor && Cursor->FFieldDefs ? Cursor->FFieldDefs.get()
                                : FTableData->FFieldManager ? &FTableData->FFieldManager->FFieldDefs
                                                            : nullptr;
  const int32_t session = Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID;
  const int32_t found = FindIndex(FieldNamesList, AscDescList, CaseSensitivityList, session, fields);
  if (found != -1) {
    IsCreated = false;
    return found;
  }
  const int32_t id = CreateTemporaryIndex(Cursor, FieldNamesList, AscDescList, CaseSensitivityList);
  IsCreated = true;
  return id;
}

void TORVBaseIndexManager::SynchronizeTemporaryIndexes(TORVCursor* Cursor, bool& IsChanged) {
  IsChanged = false;
  if (FSynchronizingTemporaryIndexes) return;
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TORVIndexDef& def = *FIndexDefs.GetIndexDef(i);
    const int32_t state = RecordManagerOf(FTableData).FTableState;
    if (!def.Temporary || def.TableState == state) continue;
    struct Reentry {
      bool& flag;
      ~Reentry() { flag = false; }
    } reentry{FSynchronizingTemporaryIndexes};
    FSynchronizingTemporaryIndexes = true;
    TORVIndex* index = OpenIndex(def.ObjectID);
    index->RebuildTemporaryIndex(Cursor);
    TakeRootPageNo(def, *index);
    def.TableState = RecordManagerOf(FTableData).FTableState;
    IsChanged = true;
  }
}

// ---- Dropping and emptying -----------------------------------------------------------------------------

void TORVBaseIndexManager::DropIndex(int32_t SessionID, int32_t IndexID) {
  OpenIndex(IndexID)->DropIndex(SessionID);
  CloseIndex(IndexID);
  if (const int32_t no = FIndexDefs.GetDefNumberByObjectId(IndexID); no >= 0) FIndexDefs.Delete(no);
}

void TORVBaseIndexManager::DropAllIndexes(int32_t SessionID) {
  while (FIndexDefs.GetCount() > 0) DropIndex(SessionID, FIndexDefs.GetDef(0)->ObjectID);
}

void TORVBaseIndexManager::DropTemporaryIndexes(int32_t SessionID) {
  for (int32_t i = 0; i < FIndexDefs.GetCount();) {
    const TORVIndexDef* def = FIndexDefs.GetIndexDef(i);
    if (def->Temporary)
      DropIndex(SessionID, def->ObjectID);
    else
      ++i;
  }
}

void TORVBaseIndexManager::EmptyIndex(int32_t SessionID, int32_t IndexID) {
  OpenIndex(IndexID)->EmptyIndex(SessionID);
  CloseIndex(IndexID);
}

void TORVBaseIndexManager::EmptyAllIndexes(int32_t SessionID) {
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) EmptyIndex(SessionID, FIndexDefs.GetDef(i)->ObjectID);
}

// ---- Fetching in index order ---------------------------------------------------------------------------

void TORVBaseIndexManager::GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                                           TORVIndexPositionCache* IndexPositionCache, int32_t TableState) {
  TORVNavigationInfo current = NavigationInfo;
  current.GetRecordResult = grrOK;
  if (!NavigationInfo.FirstPosition && !NavigationInfo.LastPosition) {
    current.GetRecordMode = grmCurrent;
    current.FirstPosition = false;
    current.LastPosition = false;
    RecordManagerOf(FTableData).GetRecordBuffer(SessionID, current);
  }
  TORVIndex* index = OpenIndex(NavigationInfo.IndexID);
  if (current.GetRecordResult == grrError)
    index->GetClosestRecordBuffer(SessionID, NavigationInfo, IndexPositionCache, TableState);
  else
    index->GetRecordBuffer(SessionID, NavigationInfo, IndexPositionCache, TableState);
}

// ---- Keeping the indexes current -----------------------------------------------------------------------

void TORVBaseIndexManager::InsertRecord(TORVCursor* Cursor) {
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TORVIndexDef& def = *FIndexDefs.GetIndexDef(i);
    TORVIndex* index = OpenIndex(def.ObjectID);
    index->InsertRecord(*Cursor);
    ++def.TableState;
    TakeRootPageNo(def, *index);
  }
}

void TORVBaseIndexManager::UpdateRecord(TORVCursor* Cursor, bool BeforeNewRecordIsStored) {
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TORVIndexDef& def = *FIndexDefs.GetIndexDef(i);
    OpenIndex(def.ObjectID)->UpdateRecord(*Cursor, BeforeNewRecordIsStored);
    if (!BeforeNewRecordIsStored) ++def.TableState;
  }
}

bool TORVBaseIndexManager::DeleteRecord(TORVCursor* Cursor) {
  TORVNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.RecordID = Cursor->CurrentRecordID;
  nav.RecordBuffer = Cursor->FCurrentRecordBuffer;
  RecordManagerOf(FTableData).GetRecordBuffer(Cursor->GetSessionID(), nav);
  if (nav.GetRecordResult != grrOK) return false;
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TORVIndexDef& def = *FIndexDefs.GetIndexDef(i);
    OpenIndex(def.ObjectID)->DeleteRecord(*Cursor);
    ++def.TableState;
  }
  return true;
}

void TORVBaseIndexManager::RestoreUpdatedRecord(TORVCursor* Cursor) {
  // The roles of the two buffers swapped: the second half of an update then adds the
  // entries of the old values wherever the key had changed.
  RecordCursor old_values(Cursor->GetSessionID(), Cursor->GetTableName(), Cursor->FEditRecordBuffer,
                          Cursor->FCurrentRecordBuffer, Cursor->CurrentRecordID);
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TORVIndexDef& def = *FIndexDefs.GetIndexDef(i);
    TORVIndex* index = OpenIndex(def.ObjectID);
    index->UpdateRecord(old_values, false);
    TakeRootPageNo(def, *index);
  }
}

void TORVBaseIndexManager::RestoreDeletedRecord(TORVCursor* Cursor) {
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TORVIndexDef& def = *FIndexDefs.GetIndexDef(i);
    TORVIndex* index = OpenIndex(def.ObjectID);
    index->InsertRecord(*Cursor);
    --def.TableState;
    TakeRootPageNo(def, *index);
  }
}

void TORVBaseIndexManager::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  const std::string old_name = AnsiLowerCase(FieldName);
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TORVIndexDef& def = *FIndexDefs.GetIndexDef(i);
    for (int32_t c = 0; c < def.ColumnCount(); ++c)
      if (AnsiLowerCase(def.Columns(c).FieldName) == old_name) def.Columns(c).FieldName = NewFieldName;
  }
  // Open indexes hold the old names in their own copies; they reopen from the definitions.
  FOpenIndexList.clear();
}

}  // namespace orv
