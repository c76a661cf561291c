#pragma once
// Page indexes: B-trees over page numbers that keep one 16-bit value per page. The record
// page index holds each record page's record count, the BLOB page index each BLOB page's
// allocated bytes; the disk record and BLOB managers find pages with room, keep the counts
// and map record numbers through them.
#include <cstdint>
#include <vector>

#include "dbengine/storage/orv_btree_key.h"
#include "dbengine/storage/orv_btree_page.h"
#include "dbengine/storage/orv_page.h"

namespace orv {

class TORVBTreePageIndex {
 public:
  explicit TORVBTreePageIndex(TORVPageManager* PageManager);
  virtual ~TORVBTreePageIndex() = default;
  TORVBTreePageIndex(const TORVBTreePageIndex&) = delete;
  TORVBTreePageIndex& operator=(const TORVBTreePageIndex&) = delete;

  // Whether a page holding OldValue can take an item of NewItemSize more.
  virtual bool CanAddNewItem(int32_t OldValue, int32_t NewItemSize) = 0;

  // A new empty root (a previous root is not freed).
  void CreateIndex(int32_t SessionID);
  // Frees every page, the root included; the index then has no root.
  void DropIndex(int32_t SessionID);
  // Frees every page but the root, which becomes an empty leaf root.
  void EmptyIndex(int32_t SessionID);
  void OpenIndex(int32_t RootPageNo) { FRootPageNo = RootPageNo; }
  int32_t RootPageNo() const { return FRootPageNo; }

  TORVBTreePageRef AddIndexPage(int32_t SessionID) const { return FPageTemplate.AddIndexPage(SessionID); }
  TORVBTreePageRef GetIndexPage(int32_t SessionID, int32_t PageNo) const {
    return FPageTemplate.GetIndexPage(SessionID, PageNo);
  }

  bool GetFirstPosition(int32_t SessionID, TORVKeyPath& Position);
  bool GetLastPosition(int32_t SessionID, TORVKeyPath& Position);
  bool GetNextPosition(int32_t SessionID, TORVKeyPath& Position);
  bool GetPriorPosition(int32_t SessionID, TORVKeyPath& Position);
  // The path to the page's entry; False when the page is not in the index.
  bool GetPosition(int32_t SessionID, int32_t PageNo, TORVKeyPath& Position);
  uint16_t GetPageValue(int32_t SessionID, const TORVKeyPath& Position);
  void SetPageValue(int32_t SessionID, const TORVKeyPath& Position, uint16_t Value);
  int32_t GetPageNo(int32_t SessionID, const TORVKeyPath& Position);

  // Looks for room only at the two ends of the page order: the last leaf from its end,
  // then the first leaf from its start.
  bool FindPageForNewItem(int32_t SessionID, int32_t ItemSize, int32_t& PageNo);
  void AddPageItem(int32_t SessionID, int32_t ItemSize, int32_t PageNo);
  // NewItemCount below 0 subtracts ItemSize; otherwise it is the new value. The entry goes
  // at 0.
  void DeletePageItem(int32_t SessionID, int32_t ItemSize, int32_t PageNo, int32_t NewItemCount);

  // The tree's integrity check (diagnosis).
  void CheckIntegrity(int32_t SessionID);

 protected:
  TORVBTreePageRef GetRoot(int32_t SessionID, int32_t CodeWithoutRoot);
  // The leaf page a path ends on and its entry, checked against the page.
  TORVBTreePageRef GetLeaf(int32_t SessionID, const TORVKeyPath& Position, int32_t CodeForEmptyPath, int32_t& EntryNo);

  int32_t FRootPageNo = -1;
  TORVPageKeyRef FKeyRef;
  TORVPageManager* LPageManager;
  TORVBTreePage FPageTemplate;  // gives out the tree's page wrappers; holds no page itself
};

class TORVBTreeRecordPageIndex : public TORVBTreePageIndex {
 public:
  using TORVBTreePageIndex::TORVBTreePageIndex;

  bool CanAddNewItem(int32_t OldValue, int32_t NewItemSize) override;

  uint16_t GetPageRecordCount(int32_t SessionID, const TORVKeyPath& Position) { return GetPageValue(SessionID, Position); }
  bool FindPageForNewRecord(int32_t SessionID, int32_t& PageNo) { return FindPageForNewItem(SessionID, 1, PageNo); }
  void AddRecord(int32_t SessionID, int32_t PageNo, int32_t AddCount) { AddPageItem(SessionID, AddCount, PageNo); }
  void DeleteRecord(int32_t SessionID, int32_t PageNo, int32_t NewItemCount) {
    DeletePageItem(SessionID, 1, PageNo, NewItemCount);
  }
  bool GetFirstRecordPage(int32_t SessionID, int32_t& PageNo);
  bool GetLastRecordPage(int32_t SessionID, int32_t& PageNo);
  bool GetNextRecordPage(int32_t SessionID, int32_t CurrentPageNo, int32_t& NextPageNo);
  bool GetPriorRecordPage(int32_t SessionID, int32_t CurrentPageNo, int32_t& PriorPageNo);
  // Appends the record pages after CurrentPageNo, in order, while they are below EndPageNo, until
  // Pages holds MaxCount (one walk along the leaves instead of a search for every page).
  // CurrentPageNo not in the index: 20104.
  void GetNextRecordPages(int32_t SessionID, int32_t CurrentPageNo, int32_t EndPageNo, size_t MaxCount,
                          std::vector<int32_t>& Pages);
  // The page and position on it of the 0-based record number RecNo.
  void GetRecordByRecNo(int32_t SessionID, int64_t RecNo, int32_t& PageNo, int32_t& RecNoOnPage);
  void GetRecNoByRecord(int32_t SessionID, int32_t PageNo, int32_t RecNoOnPage, int64_t& RecNo);
  void Validate(int32_t SessionID, int32_t StoredRecordCount);

  int32_t FMaxRecordsOnPage = 0;
};

class TORVBTreeBlobPageIndex : public TORVBTreePageIndex {
 public:
  using TORVBTreePageIndex::TORVBTreePageIndex;

  bool CanAddNewItem(int32_t OldValue, int32_t NewItemSize) override;

  bool FindPageForNewBlob(int32_t SessionID, int32_t BlobSize, int32_t& PageNo) {
    return FindPageForNewItem(SessionID, BlobSize, PageNo);
  }
  void AddBlob(int32_t SessionID, int32_t BlobSize, int32_t PageNo) { AddPageItem(SessionID, BlobSize, PageNo); }
  void DeleteBlob(int32_t SessionID, int32_t BlobSize, int32_t PageNo) { DeletePageItem(SessionID, BlobSize, PageNo, -1); }
  // -1 when the page is not in the index.
  int32_t GetBlobPageAllocatedSpace(int32_t SessionID, int32_t PageNo);
};

}  // namespace orv
