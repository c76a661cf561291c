#pragma once
// A table as the storage engine sees it: one object per table and database data, shared by
// every cursor of the process that has the table open. It owns the field, index, constraint
// and record managers and does everything that does not depend on where records are kept;
// the storage kinds (memory, temporary, disk) derive from it and from the record manager.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_btree_key.h"
#include "dbengine/storage/orv_compression.h"
#include "dbengine/storage/orv_design_mode.h"
#include "dbengine/storage/orv_page.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVDatabaseData;
class TORVBaseFieldManager;
class TORVBaseIndexManager;
class TORVBaseConstraintManager;
class TORVRecordBitmap;

// IsDesignMode() lifts the "no fields" check of GetRecordBufferSize.

// The records of one table, kept the storage kind's way.
class TORVBaseRecordManager {
 public:
  TORVBaseRecordManager() = default;
  virtual ~TORVBaseRecordManager() = default;
  TORVBaseRecordManager(const TORVBaseRecordManager&) = delete;
  TORVBaseRecordManager& operator=(const TORVBaseRecordManager&) = delete;

  virtual void Empty(int32_t SessionID) = 0;
  // Stores a new memory record and returns its id.
  virtual bool AddRecord(int32_t SessionID, const void* RecordBuffer, TORVPageItemID& RecordID) = 0;
  // Overwrites the record in place.
  virtual bool UpdateRecord(int32_t SessionID, const void* RecordBuffer, const TORVPageItemID& RecordID) = 0;
  virtual bool DeleteRecord(int32_t SessionID, TORVPageItemID& RecordID) = 0;
  // Physical order: grmCurrent reads RecordID; grmNext/grmPrior the record after/before it
  // (the first/last with FirstPosition/LastPosition). Copies it into RecordBuffer, writes the
  // id reached, clears the position flags and sets grrOK, grrBOF, grrEOF or grrError.
  virtual void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) = 0;
  // Negative, 0, positive in physical order.
  virtual int32_t CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) = 0;
  // About how many records lie before RecordID in physical order.
  virtual int64_t GetApproximateRecNo(int32_t SessionID, const TORVPageItemID& RecordID) = 0;

  int64_t FRecordCount = 0;
  // Moved by every add, update and delete; record bitmaps and temporary indexes compare it
  // with the value they were built at.
  int32_t FTableState = 0;
  int32_t FRecordBufferSize = 0;
};

// What a storage kind adds to the shared order of a record change.
struct TORVRecordOperationSteps {
  // Runs just before the record store changes (after the old index entries left, for an
  // update; before the record leaves its indexes, for a delete): the disk kind writes the
  // record's changed BLOBs or deletes its stored ones here.
  std::function<void(TORVCursor&)> BeforeStore;
  // Runs after the store took the change: the disk kind saves its counters here.
  std::function<void(TORVCursor&)> AfterStore;
  // Whether the session's changes are applied at the end (the memory kinds: outside a
  // transaction; the disk kind: outside a batch update).
  bool CallApplyChanges = true;
};

class TORVTableData : public IORVKeyTable {
 public:
  // Empty cursor list, no managers.
  explicit TORVTableData(TORVDatabaseData* aDatabaseData);
  // Frees the managers. Taking the object out of its database data's list is the database
  // data's DeleteTableData, which is also what frees it.
  ~TORVTableData() override;
  TORVTableData(const TORVTableData&) = delete;
  TORVTableData& operator=(const TORVTableData&) = delete;

  // ---- Virtual operations, in slot order ----
  virtual void CreateRecordManager() = 0;
  // New object ids for the definitions, copied into the field manager; offsets and the
  // autoincrement counters are reset. The kinds first put a new field manager in place.
  virtual void CreateFieldManager(TORVFieldDefs& FieldDefs);
  virtual void CreateIndexManager(TORVIndexDefs& IndexDefs);
  // New object ids and the table's name for the definitions, then a new constraint manager
  // with a linked, named copy. A foreign key or an unknown type: 30058, before anything is
  // copied or replaced.
  virtual void CreateConstraintManager(TORVConstraintDefs& ConstraintDefs);
  virtual void InitCursor(TORVCursor* Cursor);
  virtual void ApplyChanges(int32_t SessionID, bool InTransaction);
  virtual void CancelChanges(int32_t SessionID, bool InTransaction);
  virtual void CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                           TORVConstraintDefs& ConstraintDefs) = 0;
  // The check the kinds run first: any cursor still open raises 20017 unless DesignMode.
  virtual void DeleteTable(TORVCursor* Cursor, bool DesignMode);
  virtual void EmptyTable(TORVCursor* Cursor);
  // Any cursor open: 10150.
  virtual void RenameTable(const std::string& NewTableName, TORVCursor* Cursor);
  virtual void OpenTable(TORVCursor* Cursor);
  virtual void CloseTable(TORVCursor* Cursor);
  // Missing: 30343; NewFieldName taken: 30344. Index columns follow the new name.
  virtual void RenameField(const std::string& FieldName, const std::string& NewFieldName);
  virtual void AddIndex(TORVIndexDef& IndexDef, TORVCursor* Cursor);
  virtual void DeleteIndex(int32_t IndexID, TORVCursor* Cursor);
  // The bits a record bitmap needs: every record id maps below it.
  virtual int64_t GetBitmapRecordCount(int32_t SessionID) = 0;
  virtual int64_t GetBitmapRecNoByRecordID(const TORVPageItemID& RecordID) = 0;
  virtual TORVPageItemID GetRecordIDByBitmapRecNo(int64_t RecordNo) = 0;
  virtual void ClearBlobsCacheInRecordBuffer(void* /*Buffer*/) {}
  // Fetches for a cursor, stepping over repeated DISTINCT keys.
  virtual TORVGetRecordResult GetRecordBuffer(TORVCursor* Cursor, TORVGetRecordMode GetRecordMode);
  // The first record in the cursor's order that matches and is visible; nil: 10272.
  virtual bool Locate(TORVCursor* Cursor, IORVExpression* SearchExpression);
  // Searches the cursor's index for the key in its key buffer.
  virtual bool FindKey(TORVCursor* Cursor, TORVSearchCondition SearchCondition);
  virtual void WriteBLOBFieldToRecordBuffer(TORVCursor* Cursor, int32_t FieldNo, TORVStream* BLOBStream) = 0;
  virtual void ClearBLOBFieldInRecordBuffer(void* /*RecordBuffer*/, int32_t /*FieldNo*/) {}
  // Every BLOB field, in field order (a BLOB field with block size 0: 10421).
  virtual void ClearBLOBFieldsInRecordBuffer(void* RecordBuffer);
  virtual TORVStream* InternalCreateBlobStream(TORVCursor* Cursor, bool ToInsert, int32_t FieldNo,
                                               TORVBLOBOpenMode OpenMode) = 0;
  virtual void GetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                                 TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) = 0;
  virtual void SetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                                 TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) = 0;
  virtual void FreeDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                                  TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) = 0;
  virtual bool InsertRecord(TORVCursor* Cursor) = 0;
  virtual bool DeleteRecord(TORVCursor* Cursor) = 0;
  virtual bool UpdateRecord(TORVCursor* Cursor) = 0;
  // 1-based; a number beyond the visible records stands for the last; an empty view does
  // nothing. The record is not read.
  virtual void SetRecNo(TORVCursor* Cursor, int64_t RecNo);
  // 1-based; -1 before the first, after the last record and on an empty view.
  virtual int64_t GetRecNo(TORVCursor* Cursor);
  virtual void InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) = 0;
  virtual int64_t InternalGetRecNo(TORVCursor* Cursor) = 0;
  virtual int64_t InternalGetRecordCount(TORVCursor* Cursor) = 0;
  virtual int64_t LastAutoincValue(int32_t /*FieldNo*/, TORVBaseSession* /*Session*/) { return 0; }
  virtual void Rollback(int32_t SessionID);

  // ---- What record keys read of the table ----
  bool HasFieldDefs() const override;
  bool FindKeyField(std::string_view FieldName, TORVKeyFieldInfo& Info) const override;
  int32_t GetMemoryRecordBufferSize() const override;
  // Reads the record NavigationInfo.RecordID from the record manager (grmCurrent).
  void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) override;

  // ---- Other operations ----
  // The database data's lock: one lock for all tables of a database.
  void Lock();
  void Unlock();
  void FillDefsByObjectId(TORVMetaObjectDefs& Defs);
  // No fields outside design mode: 10131.
  int32_t GetRecordBufferSize() const;
  void EmptyIndex(int32_t IndexID, int32_t SessionID);
  void EmptyAllIndexes(int32_t SessionID);
  void DeleteAllIndexes(TORVCursor* Cursor);
  std::string FindOrCreateIndex(TORVCursor* Cursor, const std::vector<std::string>& FieldNamesList,
                                const std::vector<std::string>& AscDescList,
                                const std::vector<std::string>& CaseSensitivityList, bool& IsCreated);
  bool IndexExists(TORVCursor* Cursor, const std::vector<std::string>& FieldNamesList,
                   const std::vector<std::string>& AscDescList, const std::vector<std::string>& CaseSensitivityList);
  // Whether a unique or primary index refuses the new record (never on an empty table).
  bool IsUniqueConstraintFailed(int32_t SessionID, int32_t IndexID, const void* NewRecordBuffer,
                                const void* OldRecordBuffer, bool ToInsert, const TORVPageItemID& CurrentRecordID);

  // Record bitmaps.
  void InitRecordBitmap(TORVRecordBitmap& RecordBitmap, int32_t IndexID);
  void RefreshCursorRecordBitmap(TORVCursor* Cursor);
  void BuildCursorRecordBitmap(TORVCursor* Cursor);
  int64_t GetBitmapRecNoByIndexPosition(int32_t IndexID, const TORVKeyPath& IndexPos);
  void GetIndexPositionByBitmapRecNo(int32_t IndexID, int64_t RecordNo, TORVKeyPath& IndexPos);
  bool GetIndexPositionByRecordID(int32_t SessionID, int32_t IndexID, const TORVPageItemID& RecordID,
                                  TORVKeyPath& IndexPos);
  void GetRecordIDByIndexPosition(int32_t SessionID, int32_t IndexID, const TORVKeyPath& IndexPos,
                                  TORVPageItemID& RecordID);

  // Visibility of the cursor's current record.
  bool IsRecordInRange(TORVCursor* Cursor);
  bool IsRecordVisible(TORVCursor* Cursor);

  // Fetching.
  // GetRecordBuffer's work, for a caller that holds the table lock already.
  TORVGetRecordResult GetRecordBufferLocked(TORVCursor* Cursor, TORVGetRecordMode GetRecordMode);
  TORVGetRecordResult InternalFindOrGetRecordBuffer(TORVCursor* Cursor, TORVGetRecordMode GetRecordMode,
                                                    bool ForceFillWholeBitmap);
  void InternalGetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                               TORVIndexPositionCache* IndexPositionCache, int32_t TableState);
  int64_t GetRecordCount(TORVCursor* Cursor);
  // The record search: the next record in the cursor's order (from the first or last with
  // Restart, else after or before the cursor's record) that meets the key condition, the
  // search expression and everything that restricts the cursor's view; or, with
  // ForceFillWholeBitmap, every such record marked in the cursor's bitmap (the result is then
  // False). An active, current bitmap answers alone.
  bool FindRecord(TORVCursor* Cursor, IORVExpression* SearchExpression, TORVScanSearchCondition* KeyCondition,
                  bool Restart, bool GoForward, TORVPageItemID* ResultRecordID, TORVRecordBitmap* RecordBitmap,
                  bool ForceFillWholeBitmap);
  void RebuildTemporaryIndexes(int32_t SessionID);

  // ---- The steps of the record search ----
  // The cursor's restrictions as conditions: the key condition (an index is required: 20258),
  // the search, filter and SQL filter expressions, the range bounds and the DISTINCT step.
  void PrepareConditions(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions,
                         const TORVScanSearchCondition* KeyCondition, IORVExpression* SearchExpression, bool GoForward);
  // Merges the conditions of each index where one can stand for two, drops duplicates and puts
  // the expression conditions last. Conditions no record can meet set NonCompatibleConditions
  // and leave the array as it was.
  void OptimizeSearchConditions(TORVScanSearchConditionArray& Conditions, bool& NonCompatibleConditions);
  // Whether two conditions of one index can be merged without changing what they accept: an
  // equality on fewer key fields than a strict bound cannot.
  bool CanBeCorrectlyMerged(const TORVScanSearchCondition& Condition1, const TORVScanSearchCondition& Condition2) const;
  // Condition1 becomes the one condition that accepts what both accept (HaveBeenMerged), or
  // Incompatible when no key meets both; otherwise both stay.
  void MergeAndCheckSearchConditionsCompatibility(TORVScanSearchCondition& Condition1,
                                                  TORVScanSearchCondition& Condition2, bool& Incompatible,
                                                  bool& HaveBeenMerged);
  bool IsEqualConditions(TORVScanSearchCondition& Condition1, TORVScanSearchCondition& Condition2);
  void RemoveDuplicateConditions(TORVScanSearchConditionArray& Conditions);
  // The plan: the condition whose index range is walked and the one that ends it (-1: none;
  // no scan condition means every record is visited in the cursor's order). An equality on a
  // one-column unique index, or the only index condition when it is on the cursor's index,
  // is taken at once; otherwise the cheapest range that costs less than reading every record.
  void ChooseScanConditions(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions, bool Restart,
                            bool GoForward, int32_t& ScanConditionNo, int32_t& ScanEndConditionNo);
  bool ChooseScanConditionsByHeuristsics(TORVScanSearchConditionArray& Conditions, int32_t CurrentIndexID,
                                         int32_t& ScanConditionNo, int32_t& ScanEndConditionNo);
  void ChooseScanConditionsWithMinScanCost(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions,
                                           bool Restart, bool GoForward, int32_t& ScanConditionNo,
                                           int32_t& ScanEndConditionNo);
  // Costs in pages read: walking the range StartNo..EndNo (EndNo -1: the one condition) of
  // an index, and visiting every remaining record in the cursor's order.
  virtual double GetIndexScanCost(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions, int32_t StartNo,
                                  int32_t EndNo);
  virtual double GetUnconditionalScanCost(TORVCursor* Cursor, bool Restart, bool GoForward);
  // Unique or primary, or over an autoincrement field first.
  bool IsIndexUnique(int32_t IndexID);
  bool IsRecordMatchCondition(TORVScanSearchCondition& Condition, const void* RecordBuffer);
  // Every condition but the two excluded ones, then the cursor's record filter callback.
  bool IsRecordMatchConditions(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions, int32_t Excluded1,
                               int32_t Excluded2, const void* RecordBuffer, const TORVPageItemID& RecordID);
  bool NeedToCheckOtherConditions(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions, int32_t Excluded1,
                                  int32_t Excluded2);

  // True when every bit number below GetBitmapRecordCount stands for a stored record, so that
  // an unrestricted full scan may mark every bit at once.
  virtual bool EveryBitmapRecNoHoldsARecord() { return false; }
  // Lets go of what the cursor's unsaved insert or edit holds in the table (BLOB values
  // written into its record buffer but never stored); the cursor calls it when the insert or
  // edit is cancelled.
  virtual void ReleaseUnstoredBLOBs(TORVCursor* /*Cursor*/) {}

  // ---- State ----
  std::recursive_mutex FCSect;  // the object's own; the table lock is the database data's
  bool FIsRepairing = false;
  TORVPageManager* FPageManager = nullptr;  // set (and owned where it is) by the storage kind
  TORVDatabaseData* FDatabaseData;          // borrowed
  std::string FTableName;
  TORVCompression FBLOBCompression;
  bool FActive = false;
  std::unique_ptr<TORVBaseFieldManager> FFieldManager;
  std::unique_ptr<TORVBaseConstraintManager> FConstraintManager;
  std::unique_ptr<TORVBaseIndexManager> FIndexManager;
  std::unique_ptr<TORVBaseRecordManager> FRecordManager;
  std::vector<TORVCursor*> FCursorList;  // borrowed
  bool FDisableTempFiles = false;

 protected:
  // The shared order of a record change, under the table lock; every storage kind runs its
  // insert, update and delete through these. Insert: the store adds the cursor's current
  // record (its id becomes the cursor's), an active bitmap shows or hides it, the indexes
  // take it, the cursor stands on it. Update: the old entries of changed keys leave the
  // indexes, the store overwrites the record, and only when it did the new entries enter;
  // a refused update puts the old entries back. Delete: the neighbour the cursor moves to is
  // found, the BLOB fields of the current record buffer are cleared, the indexes and then
  // the store let go of the record, an active bitmap hides it (and stays current when
  // nothing else changed meanwhile), the cursor stands on the neighbour. Each ends with the
  // session's changes applied when Steps asks for it.
  bool RunInsertRecord(TORVCursor& Cursor, const TORVRecordOperationSteps& Steps);
  bool RunUpdateRecord(TORVCursor& Cursor, const TORVRecordOperationSteps& Steps);
  bool RunDeleteRecord(TORVCursor& Cursor, const TORVRecordOperationSteps& Steps);

 private:
  void ApplySessionChanges(TORVCursor& Cursor, const TORVRecordOperationSteps& Steps);
  void ShowOrHideInBitmap(TORVCursor& Cursor);

  // One run of the chosen scan.
  struct ScanRequest {
    TORVCursor* Cursor;
    TORVScanSearchConditionArray* Conditions;
    int32_t ScanConditionNo;
    int32_t ScanEndConditionNo;
    bool Restart;
    bool GoForward;
    TORVPageItemID* ResultRecordID;
    TORVRecordBitmap* RecordBitmap;
    bool ForceFillWholeBitmap;
  };
  bool FindRecordByScan(const ScanRequest& Request);
  bool FindRecordByScanWithoutCondition(const ScanRequest& Request, void* RecordBuffer);
  bool FindRecordByScanWithConditionAndConditionIndex(const ScanRequest& Request, void* RecordBuffer);
  bool FindRecordByScanWithConditionAndWihtoutCurrentIndex(const ScanRequest& Request, void* RecordBuffer);
  bool FindRecordByScanWithConditionAndNonConditionIndex(const ScanRequest& Request, void* RecordBuffer);
  bool FindRecordByBitmapScan(TORVCursor* Cursor, bool Restart, bool GoForward, TORVPageItemID& ResultRecordID,
                              TORVRecordBitmap& RecordBitmap);
  // Reads RecordID (physical access) into Buffer; False when it is not there.
  bool ReadRecord(int32_t SessionID, const TORVPageItemID& RecordID, void* Buffer);
  // A bitmap about to be filled: empty, stamped, numbered the cursor's way.
  void ResetBitmapForSearch(TORVRecordBitmap& RecordBitmap, int32_t IndexID, int32_t SessionID);
};

}  // namespace orv
