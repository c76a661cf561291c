#include "dbengine/storage/orv_btree_page_index.h"

#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {
void PageKey(int32_t PageNo, uint8_t (&key)[4]) { StoreLE32(key, static_cast<uint32_t>(PageNo)); }
void ValueBytes(int32_t Value, uint8_t (&bytes)[2]) { StoreLE16(bytes, static_cast<uint16_t>(Value)); }
}  // namespace

TORVBTreePageIndex::TORVBTreePageIndex(TORVPageManager* PageManager)
    : LPageManager(PageManager), FPageTemplate(PageManager, &FKeyRef) {}

TORVBTreePageRef TORVBTreePageIndex::GetRoot(int32_t SessionID, int32_t CodeWithoutRoot) {
  if (FRootPageNo == -1) throw EORVException(CodeWithoutRoot, "Index error: invalid page number");
  return GetIndexPage(SessionID, FRootPageNo);
}

void TORVBTreePageIndex::CreateIndex(int32_t SessionID) {
  TORVBTreePageRef root = AddIndexPage(SessionID);
  root->InitAsRoot();
  root->SetIsDirty(true);
  FRootPageNo = root->GetPageNo();
}

void TORVBTreePageIndex::DropIndex(int32_t SessionID) {
  if (FRootPageNo == -1) return;
  {
    TORVBTreePageRef root = GetIndexPage(SessionID, FRootPageNo);
    root->FreeAllPages(SessionID, false);
  }
  FRootPageNo = -1;
}

void TORVBTreePageIndex::EmptyIndex(int32_t SessionID) {
  if (FRootPageNo == -1) return;
  TORVBTreePageRef root = GetIndexPage(SessionID, FRootPageNo);
  root->FreeAllPages(SessionID, true);
  root->InitAsRoot();
  root->SetIsDirty(true);
}

bool TORVBTreePageIndex::GetFirstPosition(int32_t SessionID, TORVKeyPath& Position) {
  Position.Clear();
  TORVBTreePageRef root = GetRoot(SessionID, 20115);
  return root->GetFirstPosition(SessionID, Position);
}

bool TORVBTreePageIndex::GetLastPosition(int32_t SessionID, TORVKeyPath& Position) {
  Position.Clear();
  TORVBTreePageRef root = GetRoot(SessionID, 20116);
  return root->GetLastPosition(SessionID, Position);
}

bool TORVBTreePageIndex::GetNextPosition(int32_t SessionID, TORVKeyPath& Position) {
  return BTreeNextPosition(FPageTemplate, SessionID, Position, {20099, 20100});
}

bool TORVBTreePageIndex::GetPriorPosition(int32_t SessionID, TORVKeyPath& Position) {
  return BTreePriorPosition(FPageTemplate, SessionID, Position, {20101, 20102});
}

bool TORVBTreePageIndex::GetPosition(int32_t SessionID, int32_t PageNo, TORVKeyPath& Position) {
  Position.Clear();
  TORVBTreePageRef root = GetRoot(SessionID, 20117);
  uint8_t key[4];
  PageKey(PageNo, key);
  return root->FindByCondition(SessionID, true, key, scEqual, Position);
}

TORVBTreePageRef TORVBTreePageIndex::GetLeaf(int32_t SessionID, const TORVKeyPath& Position, int32_t CodeForEmptyPath,
                                             int32_t& EntryNo) {
  if (Position.Count <= 0) throw EORVException(CodeForEmptyPath, "Index error: invalid position");
  TORVBTreePageRef leaf = GetIndexPage(SessionID, Position.Last().PageNo);
  EntryNo = Position.Last().EntryNo;
  // A path taken before the tree changed may point past the page's entries.
  if (!leaf->GetIsLeaf() || EntryNo < 0 || EntryNo >= leaf->GetEntryCount())
    throw EORVException(CodeForEmptyPath, "Index error: invalid position");
  return leaf;
}

uint16_t TORVBTreePageIndex::GetPageValue(int32_t SessionID, const TORVKeyPath& Position) {
  int32_t entry = 0;
  TORVBTreePageRef leaf = GetLeaf(SessionID, Position, 20107, entry);
  return LoadLE16(leaf->GetPReference(entry));
}

void TORVBTreePageIndex::SetPageValue(int32_t SessionID, const TORVKeyPath& Position, uint16_t Value) {
  int32_t entry = 0;
  TORVBTreePageRef leaf = GetLeaf(SessionID, Position, 20108, entry);
  StoreLE16(leaf->GetPReference(entry), Value);
  leaf->SetIsDirty(true);
}

int32_t TORVBTreePageIndex::GetPageNo(int32_t SessionID, const TORVKeyPath& Position) {
  int32_t entry = 0;
  TORVBTreePageRef leaf = GetLeaf(SessionID, Position, 20103, entry);
  return static_cast<int32_t>(LoadLE32(leaf->GetPKey(entry)));
}

bool TORVBTreePageIndex::FindPageForNewItem(int32_t SessionID, int32_t ItemSize, int32_t& PageNo) {
  TORVKeyPath position;
  if (!GetLastPosition(SessionID, position)) return false;
  {
    TORVBTreePageRef leaf = GetIndexPage(SessionID, position.Last().PageNo);
    for (int32_t i = leaf->GetEntryCount() - 1; i >= 0; --i) {
      if (CanAddNewItem(LoadLE16(leaf->GetPReference(i)), ItemSize)) {
        PageNo = static_cast<int32_t>(LoadLE32(leaf->GetPKey(i)));
        return true;
      }
    }
  }
  if (!GetFirstPosition(SessionID, position)) return false;
  TORVBTreePageRef leaf = GetIndexPage(SessionID, position.Last().PageNo);
  for (int32_t i = 0; i < leaf->GetEntryCount(); ++i) {
    if (CanAddNewItem(LoadLE16(leaf->GetPReference(i)), ItemSize)) {
      PageNo = static_cast<int32_t>(LoadLE32(leaf->GetPKey(i)));
      return true;
    }
  }
  return false;
}

void TORVBTreePageIndex::AddPageItem(int32_t SessionID, int32_t ItemSize, int32_t PageNo) {
  if (FRootPageNo == -1) throw EORVException(20118, "Index error: invalid page number");
  TORVKeyPath position;
  if (!GetPosition(SessionID, PageNo, position)) {
    uint8_t key[4];
    uint8_t value[2];
    PageKey(PageNo, key);
    ValueBytes(ItemSize, value);
    TORVBTreePageRef root = GetIndexPage(SessionID, FRootPageNo);
    TORVKeyPath path;
    root->InsertLeafEntry(SessionID, key, value, path);
    return;
  }
  const int32_t value = GetPageValue(SessionID, position);
  if (!CanAddNewItem(value, ItemSize)) throw EORVException(20106, "Cannot add data item to page. Page is full");
  SetPageValue(SessionID, position, static_cast<uint16_t>(value + ItemSize));
}

void TORVBTreePageIndex::DeletePageItem(int32_t SessionID, int32_t ItemSize, int32_t PageNo, int32_t NewItemCount) {
  if (FRootPageNo == -1) throw EORVException(20110, "Invalid page number");
  TORVKeyPath position;
  if (!GetPosition(SessionID, PageNo, position)) throw EORVException(20111, "Invalid page number");
  const int32_t stored = GetPageValue(SessionID, position);
  int32_t value = NewItemCount;
  if (NewItemCount < 0) {
    if (stored == 0) throw EORVException(20112, "Index error: page is empty");
    value = stored - ItemSize;
  }
  if (static_cast<uint16_t>(value) != 0) {
    SetPageValue(SessionID, position, static_cast<uint16_t>(value));
    return;
  }
  uint8_t key[4];
  uint8_t reference[2];
  PageKey(PageNo, key);
  ValueBytes(stored, reference);
  TORVBTreePageRef root = GetIndexPage(SessionID, FRootPageNo);
  TORVKeyPath path;
  root->DeleteLeafEntry(SessionID, key, reference, path);
}

void TORVBTreePageIndex::CheckIntegrity(int32_t SessionID) {
  if (FRootPageNo == -1) return;
  TORVBTreePageRef root = GetIndexPage(SessionID, FRootPageNo);
  TORVKeyPath path;
  root->CheckIntegrity(SessionID, path);
}

// ---- Record page index --------------------------------------------------------------------

bool TORVBTreeRecordPageIndex::CanAddNewItem(int32_t OldValue, int32_t) { return OldValue < FMaxRecordsOnPage; }

bool TORVBTreeRecordPageIndex::GetFirstRecordPage(int32_t SessionID, int32_t& PageNo) {
  TORVKeyPath position;
  if (!GetFirstPosition(SessionID, position)) return false;
  PageNo = GetPageNo(SessionID, position);
  return true;
}

bool TORVBTreeRecordPageIndex::GetLastRecordPage(int32_t SessionID, int32_t& PageNo) {
  TORVKeyPath position;
  if (!GetLastPosition(SessionID, position)) return false;
  PageNo = GetPageNo(SessionID, position);
  return true;
}

bool TORVBTreeRecordPageIndex::GetNextRecordPage(int32_t SessionID, int32_t CurrentPageNo, int32_t& NextPageNo) {
  TORVKeyPath position;
  if (!GetPosition(SessionID, CurrentPageNo, position)) throw EORVException(20104, "Invalid page number");
  if (!GetNextPosition(SessionID, position)) return false;
  NextPageNo = GetPageNo(SessionID, position);
  return true;
}

void TORVBTreeRecordPageIndex::GetNextRecordPages(int32_t SessionID, int32_t CurrentPageNo, int32_t EndPageNo,
                                                  size_t MaxCount, std::vector<int32_t>& Pages) {
  TORVKeyPath position;
  if (!GetPosition(SessionID, CurrentPageNo, position)) throw EORVException(20104, "Invalid page number");
  while (Pages.size() < MaxCount && GetNextPosition(SessionID, position)) {
    const int32_t page_no = GetPageNo(SessionID, position);
    if (page_no >= EndPageNo) break;
    Pages.push_back(page_no);
  }
}

bool TORVBTreeRecordPageIndex::GetPriorRecordPage(int32_t SessionID, int32_t CurrentPageNo, int32_t& PriorPageNo) {
  TORVKeyPath position;
  if (!GetPosition(SessionID, CurrentPageNo, position)) throw EORVException(20105, "Invalid page number");
  if (!GetPriorPosition(SessionID, position)) return false;
  PriorPageNo = GetPageNo(SessionID, position);
  return true;
}

void TORVBTreeRecordPageIndex::GetRecordByRecNo(int32_t SessionID, int64_t RecNo, int32_t& PageNo,
                                                int32_t& RecNoOnPage) {
  if (RecNo >= 0) {
    int64_t total = 0;
    TORVKeyPath position;
    for (bool ok = GetFirstPosition(SessionID, position); ok; ok = GetNextPosition(SessionID, position)) {
      const int64_t count = GetPageValue(SessionID, position);
      if (RecNo < total + count) {
        PageNo = GetPageNo(SessionID, position);
        RecNoOnPage = static_cast<int32_t>(RecNo - total);
        return;
      }
      total += count;
    }
  }
  throw EORVException(20113, "Cannot set RecNo greater than RecordCount");
}

void TORVBTreeRecordPageIndex::GetRecNoByRecord(int32_t SessionID, int32_t PageNo, int32_t RecNoOnPage,
                                                int64_t& RecNo) {
  RecNo = 0;
  TORVKeyPath position;
  if (!GetPosition(SessionID, PageNo, position)) throw EORVException(20114, "Invalid page number");
  RecNo = RecNoOnPage;
  while (GetPriorPosition(SessionID, position)) RecNo += GetPageValue(SessionID, position);
}

void TORVBTreeRecordPageIndex::Validate(int32_t SessionID, int32_t StoredRecordCount) {
  uint32_t sum = 0;
  TORVKeyPath position;
  if (FRootPageNo != -1)
    for (bool ok = GetFirstPosition(SessionID, position); ok; ok = GetNextPosition(SessionID, position))
      sum += GetPageValue(SessionID, position);
  if (static_cast<int32_t>(sum) != StoredRecordCount)
    throw EORVException(20292,
                        "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, "
                        "MostUpdated.RecordCount=%d",
                        {static_cast<int32_t>(sum), StoredRecordCount});
}

// ---- BLOB page index ----------------------------------------------------------------------

bool TORVBTreeBlobPageIndex::CanAddNewItem(int32_t OldValue, int32_t NewItemSize) {
  return OldValue + NewItemSize < LPageManager->PageDataSize() - 2;
}

int32_t TORVBTreeBlobPageIndex::GetBlobPageAllocatedSpace(int32_t SessionID, int32_t PageNo) {
  TORVKeyPath position;
  if (!GetPosition(SessionID, PageNo, position)) return -1;
  return GetPageValue(SessionID, position);
}

}  // namespace orv
