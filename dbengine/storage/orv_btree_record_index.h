#pragma once
// The record index: the index columns of every record of a table mapped to the record's id
// in a B-tree whose leaves hold {short key, record id}. Equal keys are ordered by record id,
// so every entry is unique and a record's entry can always be found again.
#include <cstdint>
#include <memory>

#include "dbengine/storage/orv_base_index.h"
#include "dbengine/storage/orv_btree_key.h"
#include "dbengine/storage/orv_btree_page.h"

namespace orv {

// The state of one ranged scan.
struct TORVBTreeSearchInfo {
  bool GoForward = false;
  bool IsFilled = false;
  std::unique_ptr<TORVKeyPath> EndKeyPath;  // nil: the scan has no end
  std::unique_ptr<TORVKeyPath> CurrentKeyPath = std::make_unique<TORVKeyPath>();
  // The current position is the start of the range itself, to be returned without a step.
  bool StartPending = false;
  // A range of one condition whose end is not looked for yet: its first entry lies inside it
  // by how it was found, so the end is needed only for a step beyond it (a lookup by a key
  // then descends the tree once).
  bool EndPending = false;
};

class TORVBTreeRecordIndex : public TORVIndex {
 public:
  explicit TORVBTreeRecordIndex(IORVIndexManager* aIndexManager);
  ~TORVBTreeRecordIndex() override;

  void CreateIndex(IORVIndexCursor* Cursor, TORVIndexDef& aIndexDef) override;
  void DropIndex(int32_t SessionID) override;
  void EmptyIndex(int32_t SessionID) override;
  void OpenIndex(const TORVIndexDef& aIndexDef) override;
  void RebuildTemporaryIndex(IORVIndexCursor* Cursor) override;
  void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                       TORVIndexPositionCache* IndexPositionCache, int32_t TableState) override;
  void GetClosestRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                              TORVIndexPositionCache* IndexPositionCache, int32_t TableState) override;
  TORVKeyPath* CreateIndexPosition() override { return new TORVKeyPath(); }
  void FreeIndexPosition(TORVKeyPath*& IndexPosition) override {
    delete IndexPosition;
    IndexPosition = nullptr;
  }
  bool GetIndexPosition(int32_t SessionID, const TORVPageItemID& RecordID, const void* RecordBuffer,
                        TORVKeyPath* IndexPosition) override;
  int32_t CompareRecordPositionsInIndex(const TORVKeyPath* RecordPosition1, const TORVKeyPath* RecordPosition2) override;
  int64_t GetRecNoByRecordID(int32_t SessionID, const TORVPageItemID& RecordID, const void* RecordBuffer) override;
  TORVPageItemID GetRecordIDByRecNo(int32_t SessionID, int64_t RecNo) override;
  void ApplyDistinctToRecordBitmap(int32_t SessionID, IORVIndexRecordBitmap* Bitmap, int32_t DistinctFieldCount) override;
  void* CreateSearchInfo() override { return new TORVBTreeSearchInfo(); }
  void FreeSearchInfo(void* SearchInfo) override { delete static_cast<TORVBTreeSearchInfo*>(SearchInfo); }
  const TORVKeyPath& GetSearchInfoPosition(const void* SearchInfo) override;
  bool FindRecord(int32_t SessionID, bool Restart, bool GoForward, const TORVScanSearchCondition* StartScanCondition,
                  const TORVScanSearchCondition* EndScanCondition, const void* RecordBuffer, TORVPageItemID& RecordID,
                  void* SearchInfo) override;
  int32_t CompareRecordBuffersByIndex(const void* Buffer1, const void* Buffer2, int32_t IndexFieldCount) override;
  int32_t CompareConditions(const TORVScanSearchCondition& Condition1, const TORVScanSearchCondition& Condition2) override;
  int64_t GetApproxRangeRecordCount(int32_t SessionID, int64_t TableRecordCount,
                                    const TORVScanSearchCondition& RangeCondition1,
                                    const TORVScanSearchCondition& RangeCondition2) override;
  bool CanInsertRecord(int32_t SessionID, const void* RecordBuffer) override;
  bool CanUpdateRecord(int32_t SessionID, const void* OldRecordBuffer, const void* NewRecordBuffer) override;
  void InsertRecord(IORVIndexCursor& Cursor) override;
  void DeleteRecord(IORVIndexCursor& Cursor) override;
  void UpdateRecord(IORVIndexCursor& Cursor, bool BeforeNewRecordIsStored) override;
  int32_t GetMaxEntriesPerPage() override;
  int32_t GetIndexEntrySize() override;
  void GetRecordIDByIndexPosition(int32_t SessionID, const TORVKeyPath& IndexPos, TORVPageItemID& RecordID) override;

  bool GetFirstPosition(int32_t SessionID, TORVKeyPath& Position);
  bool GetLastPosition(int32_t SessionID, TORVKeyPath& Position);
  bool GetNextPosition(int32_t SessionID, TORVKeyPath& Position);
  bool GetPriorPosition(int32_t SessionID, TORVKeyPath& Position);
  // Restart: first (GoForward) or last; otherwise next or prior.
  bool GetPosition(int32_t SessionID, bool Restart, bool GoForward, TORVKeyPath& Position);
  // The record id at the path's leaf entry; an empty or stale path: 20068.
  void GetRecordID(int32_t SessionID, const TORVKeyPath& Position, TORVPageItemID& RecordID);

  TORVRecordKeyRef* KeyRef() const { return FKeyRef.get(); }

 private:
  void BuildKeyRef();
  TORVBTreePageRef GetRoot(int32_t SessionID, int32_t CodeWithoutRoot) const;
  TORVBTreePageRef GetIndexPage(int32_t SessionID, int32_t PageNo) const;
  void SetNavigationResult(int32_t SessionID, TORVNavigationInfo& NavigationInfo, const TORVKeyPath& Path,
                           TORVIndexPositionCache* IndexPositionCache, int32_t TableState);
  static void SetPastTheEnd(TORVNavigationInfo& NavigationInfo, bool Forward);
  bool GetCurrentPosition(int32_t SessionID, bool Restart, bool GoForward, const TORVScanSearchCondition* Start,
                          const void* RecordBuffer, const TORVPageItemID& RecordID, TORVBTreeSearchInfo& Info);
  bool GetEndPosition(int32_t SessionID, bool GoForward, const TORVScanSearchCondition* Start,
                      const TORVScanSearchCondition* End, TORVBTreeSearchInfo& Info);
  bool FindByConditionKey(int32_t SessionID, bool First, const TORVScanSearchCondition& Condition,
                          int32_t CompareFieldCount, bool PartialCompare, TORVKeyPath& Position, int32_t CodeWithoutRoot);
  int32_t ClampFieldCount(int32_t Count) const;

  std::unique_ptr<TORVRecordKeyRef> FKeyRef;
  std::unique_ptr<TORVBTreePage> FPageTemplate;  // gives out the tree's page wrappers
};

}  // namespace orv
