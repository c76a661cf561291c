#pragma once
// The index definitions of one table and the index objects open over them: creating,
// opening, emptying and dropping indexes, keeping every index current when a record
// changes, fetching in index order, and the temporary indexes of sorting and searching.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_base_index.h"
#include "platform/base/stream.h"

namespace orv {

class TORVCursor;
class TORVTableData;

class TORVBaseIndexManager : public IORVIndexManager {
 public:
  // The persistent indexes live in the table's page manager, the temporary ones in
  // TempPageManager.
  TORVBaseIndexManager(TORVTableData* aTableData, TORVPageManager* TempPageManager);
  // Closes every open index.
  ~TORVBaseIndexManager() override;
  TORVBaseIndexManager(const TORVBaseIndexManager&) = delete;
  TORVBaseIndexManager& operator=(const TORVBaseIndexManager&) = delete;

  virtual void LoadMetadata(platform::TStream& Stream);
  virtual void SaveMetadata(platform::TStream& Stream) const;
  virtual void CreateIndexDefs(const TORVIndexDefs& aIndexDefs);

  // ---- What an index needs of its manager ----
  TORVPageManager* GetPageManager(const TORVIndex& Index) override;
  IORVKeyTable* GetTableData() override;
  // Walks the record manager in physical order (grmNext from the first record).
  void ForEachTableRecord(int32_t SessionID, const std::string& TableName,
                          const std::function<void(IORVIndexCursor&)>& Visit) override;

  TORVIndex* FindOpenIndex(int32_t IndexID) const;
  // The open index, else opened from its definition (none: 20018).
  TORVIndex* OpenIndex(int32_t IndexID);
  void CloseIndex(int32_t IndexID);
  // Gives IndexDef a new object id, keeps a copy and builds the index; returns the id.
  int32_t CreateIndex(TORVCursor* Cursor, TORVIndexDef& IndexDef);
  void CreateIndexesByIndexDefs(TORVCursor* Cursor);
  // Builds the index of IndexDef's object id; a failed build removes its definition.
  void InternalCreateIndex(TORVCursor* Cursor, TORVIndexDef& IndexDef);
  TORVIndex* InternalOpenIndex(int32_t IndexID);
  void DropIndex(int32_t SessionID, int32_t IndexID);
  void DropAllIndexes(int32_t SessionID);
  void DropTemporaryIndexes(int32_t SessionID);
  void EmptyIndex(int32_t SessionID, int32_t IndexID);
  void EmptyAllIndexes(int32_t SessionID);
  bool IsIndexExists(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDescList,
                     const std::vector<std::string>& CaseSensitivityList, int32_t SessionID,
                     const TORVFieldDefs* FieldDefs) const;
  int32_t FindIndex(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDescList,
                    const std::vector<std::string>& CaseSensitivityList, int32_t SessionID,
                    const TORVFieldDefs* FieldDefs) const;
  // A temporary index of the cursor's session over the columns; returns its object id.
  int32_t CreateTemporaryIndex(TORVCursor* Cursor, const std::vector<std::string>& FieldNamesList,
                               const std::vector<std::string>& AscDescList,
                               const std::vector<std::string>& CaseSensitivityList);
  int32_t FindOrCreateIndex(TORVCursor* Cursor, const std::vector<std::string>& FieldNamesList,
                            const std::vector<std::string>& AscDescList,
                            const std::vector<std::string>& CaseSensitivityList, bool& IsCreated);
  // Next or prior in the index of NavigationInfo.IndexID; continues from the closest key
  // when the record at RecordID is gone.
  void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                       TORVIndexPositionCache* IndexPositionCache, int32_t TableState);
  // Keeping every index current (virtual so that the order of a record change can be
  // observed).
  virtual void InsertRecord(TORVCursor* Cursor);
  virtual void UpdateRecord(TORVCursor* Cursor, bool BeforeNewRecordIsStored);
  // Reads the stored record into the cursor's current buffer first, so that the entries
  // removed are the stored ones; a record already gone leaves the indexes alone (False).
  virtual bool DeleteRecord(TORVCursor* Cursor);
  // After a refused update: the entries that UpdateRecord(Cursor, True) took out of the
  // indexes (those of the edit buffer's changed keys) go back in.
  virtual void RestoreUpdatedRecord(TORVCursor* Cursor);
  // After a refused delete: the entries DeleteRecord took out go back in.
  virtual void RestoreDeletedRecord(TORVCursor* Cursor);
  // Rebuilds every temporary index that fell behind the table (at most one rebuild at a
  // time: a rebuild reads the table, which may ask again).
  void SynchronizeTemporaryIndexes(TORVCursor* Cursor, bool& IsChanged);
  void RenameField(const std::string& FieldName, const std::string& NewFieldName);

  TORVTableData* FTableData;  // borrowed
  TORVIndexDefs FIndexDefs;
  std::vector<std::unique_ptr<TORVIndex>> FOpenIndexList;
  TORVPageManager* FPageManager;           // borrowed
  TORVPageManager* FTemporaryPageManager;  // borrowed
  bool FSynchronizingTemporaryIndexes = false;

 private:
  void TakeRootPageNo(TORVIndexDef& Def, const TORVIndex& Index);
};

}  // namespace orv
