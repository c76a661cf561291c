#pragma once
// The abstract index of a table and what an index needs of the layers around it. The index
// manager, the cursor and the record bitmap belong to the table layer and the access
// components above; they implement these small interfaces so that the B-tree index below
// never includes them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_btree_key.h"
#include "dbengine/storage/orv_btree_key_path.h"
#include "dbengine/storage/orv_page.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVIndex;

// A field of the table's definitions as a record key needs it: the table layer answers its
// key lookups through this, so that keys and record buffers share one layout.
bool GetKeyFieldInfo(const TORVFieldDefs& FieldDefs, std::string_view FieldName, TORVKeyFieldInfo& Info);

// A cursor as an index sees it while records are inserted, updated or deleted.
class IORVIndexCursor {
 public:
  virtual ~IORVIndexCursor() = default;
  virtual int32_t GetSessionID() const = 0;
  virtual std::string GetTableName() const = 0;
  // The record being inserted, posted or deleted; the new values of an update.
  virtual const void* GetCurrentRecordBuffer() const = 0;
  // During an update, the record as it was before the edit.
  virtual const void* GetEditRecordBuffer() const = 0;
  virtual TORVPageItemID GetCurrentRecordID() const = 0;
};

// The visible records of a cursor, numbered by index positions.
class IORVIndexRecordBitmap {
 public:
  virtual ~IORVIndexRecordBitmap() = default;
  virtual bool IsRecordVisible(int32_t IndexID, const TORVKeyPath& IndexPos) = 0;
  virtual void HideRecord(int32_t IndexID, const TORVKeyPath& IndexPos) = 0;
};

// The indexes of one table.
class IORVIndexManager {
 public:
  virtual ~IORVIndexManager() = default;
  // The temporary page manager for a temporary index, else the table's.
  virtual TORVPageManager* GetPageManager(const TORVIndex& Index) = 0;
  // The table's field definitions and its record manager, as record keys read them.
  virtual IORVKeyTable* GetTableData() = 0;
  // Opens a cursor of the session on the table, reads every record in physical order and
  // hands the cursor standing on each to Visit; the cursor is closed also when Visit raises.
  virtual void ForEachTableRecord(int32_t SessionID, const std::string& TableName,
                                  const std::function<void(IORVIndexCursor&)>& Visit) = 0;
};

class TORVIndex {
 public:
  explicit TORVIndex(IORVIndexManager* aIndexManager) : FIndexManager(aIndexManager) {}
  virtual ~TORVIndex() = default;
  TORVIndex(const TORVIndex&) = delete;
  TORVIndex& operator=(const TORVIndex&) = delete;

  // Holds a copy of aIndexDef unless it is the definition already held.
  virtual void CreateIndex(IORVIndexCursor* Cursor, TORVIndexDef& aIndexDef);
  virtual void OpenIndex(const TORVIndexDef& aIndexDef);

  virtual void DropIndex(int32_t SessionID) = 0;
  virtual void EmptyIndex(int32_t SessionID) = 0;
  virtual void RebuildTemporaryIndex(IORVIndexCursor* Cursor) = 0;
  // The first, last, next or prior record in index order, read into the navigation info's
  // record buffer. The cache (may be nil) spares the search for the current record.
  virtual void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                               TORVIndexPositionCache* IndexPositionCache, int32_t TableState) = 0;
  // The first record after (grmNext) or the last before the key of the navigation info's record.
  virtual void GetClosestRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                                      TORVIndexPositionCache* IndexPositionCache, int32_t TableState) = 0;
  virtual TORVKeyPath* CreateIndexPosition() = 0;
  virtual void FreeIndexPosition(TORVKeyPath*& IndexPosition) = 0;
  virtual bool GetIndexPosition(int32_t SessionID, const TORVPageItemID& RecordID, const void* RecordBuffer,
                                TORVKeyPath* IndexPosition) = 0;
  virtual int32_t CompareRecordPositionsInIndex(const TORVKeyPath* RecordPosition1,
                                                const TORVKeyPath* RecordPosition2) = 0;
  virtual int64_t GetRecNoByRecordID(int32_t SessionID, const TORVPageItemID& RecordID, const void* RecordBuffer) = 0;
  virtual TORVPageItemID GetRecordIDByRecNo(int32_t SessionID, int64_t RecNo) = 0;
  virtual void ApplyDistinctToRecordBitmap(int32_t SessionID, IORVIndexRecordBitmap* Bitmap,
                                           int32_t DistinctFieldCount) = 0;
  virtual void* CreateSearchInfo() = 0;
  virtual void FreeSearchInfo(void* SearchInfo) = 0;
  // The index position of the entry a ranged search (FindRecord) found last.
  virtual const TORVKeyPath& GetSearchInfoPosition(const void* SearchInfo) = 0;
  virtual bool FindRecord(int32_t SessionID, bool Restart, bool GoForward, const TORVScanSearchCondition* StartScanCondition,
                          const TORVScanSearchCondition* EndScanCondition, const void* RecordBuffer,
                          TORVPageItemID& RecordID, void* SearchInfo) = 0;
  virtual int32_t CompareRecordBuffersByIndex(const void* Buffer1, const void* Buffer2, int32_t IndexFieldCount) = 0;
  virtual int32_t CompareConditions(const TORVScanSearchCondition& Condition1,
                                    const TORVScanSearchCondition& Condition2) = 0;
  virtual int64_t GetApproxRangeRecordCount(int32_t SessionID, int64_t TableRecordCount,
                                            const TORVScanSearchCondition& RangeCondition1,
                                            const TORVScanSearchCondition& RangeCondition2) = 0;
  virtual bool CanInsertRecord(int32_t SessionID, const void* RecordBuffer) = 0;
  virtual bool CanUpdateRecord(int32_t SessionID, const void* OldRecordBuffer, const void* NewRecordBuffer) = 0;
  virtual void InsertRecord(IORVIndexCursor& Cursor) = 0;
  virtual void DeleteRecord(IORVIndexCursor& Cursor) = 0;
  virtual void UpdateRecord(IORVIndexCursor& Cursor, bool BeforeNewRecordIsStored) = 0;
  virtual int32_t GetMaxEntriesPerPage() = 0;
  // The bytes one entry of the index takes (its key and its record reference): scan costs
  // are counted in pages of entries.
  virtual int32_t GetIndexEntrySize() = 0;
  virtual void GetRecordIDByIndexPosition(int32_t SessionID, const TORVKeyPath& IndexPos, TORVPageItemID& RecordID) = 0;

  const TORVIndexDef* IndexDef() const { return FIndexDef.get(); }

 protected:
  void HoldCopy(const TORVIndexDef& aIndexDef);

  std::unique_ptr<TORVIndexDef> FIndexDef;
  IORVIndexManager* FIndexManager;
};

}  // namespace orv
