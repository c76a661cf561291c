// The B-tree algorithms on leaf and node pages.
#include <algorithm>
#include <cstring>
#include <memory>

#include "dbengine/storage/orv_btree_page.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {

namespace {

struct FreeBuffer {
  void operator()(void* p) const { MemoryManager().FreeMem(p); }
};
using OwnedBuffer = std::unique_ptr<void, FreeBuffer>;

OwnedBuffer NewBuffer(int32_t size) { return OwnedBuffer(MemoryManager().AllocMem(std::max(size, 1))); }

[[noreturn]] void Damaged(int32_t PageNo) {
  throw EORVException(20307, "Index page is damaged. PageNo=%d", {PageNo});
}

[[noreturn]] void IntegrityError(int32_t code, int32_t PageNo, int32_t EntryNo) {
  const char* text = code == 20032   ? "Index integrity error. Circular links. PageNo=%d EntryNo=%d"
                     : code == 20033 || code == 20034 ? "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d"
                                                      : "Index integrity error. PageNo=%d EntryNo=%d";
  throw EORVException(code, text, {PageNo, EntryNo});
}

void PageNoBytes(int32_t PageNo, uint8_t (&bytes)[4]) { StoreLE32(bytes, static_cast<uint32_t>(PageNo)); }

}  // namespace

// ---- Walks --------------------------------------------------------------------------------

void TORVBTreeWalk::Enter(int32_t PageNo, int32_t FromPageNo, int32_t FromEntryNo) {
  if (FDepth >= TORVKeyPath::MaxLevels) Damaged(PageNo);
  const auto first_end = FFirstPages.begin() + FFirstCount;
  bool met = std::find(FFirstPages.begin(), first_end, PageNo) != first_end;
  if (!met) {
    if (FFirstCount < static_cast<int32_t>(FFirstPages.size()))
      FFirstPages[static_cast<size_t>(FFirstCount++)] = PageNo;
    else
      met = !FMorePages.insert(PageNo).second;
  }
  if (met) {
    if (FRepeatCode == 20307) Damaged(PageNo);
    IntegrityError(FRepeatCode, FromPageNo, FromEntryNo);
  }
  ++FDepth;
}

namespace {
// Leaves a walk's level on every path out of it.
class WalkLevel {
 public:
  explicit WalkLevel(TORVBTreeWalk& Walk) : walk_(Walk) {}
  ~WalkLevel() { walk_.Leave(); }
  WalkLevel(const WalkLevel&) = delete;
  WalkLevel& operator=(const WalkLevel&) = delete;

 private:
  TORVBTreeWalk& walk_;
};
}  // namespace

TORVBTreePageRef TORVBTreeNodeController::EnterChild(int32_t SessionID, int32_t EntryNo, TORVBTreeWalk& Walk) const {
  const int32_t child_no = ChildPageNo(EntryNo);
  Walk.Enter(child_no, FPage->GetPageNo(), EntryNo);
  try {
    return FPage->GetIndexPage(SessionID, child_no);
  } catch (...) {
    Walk.Leave();
    throw;
  }
}

// ---- Base controller ----------------------------------------------------------------------

TORVBTreeKeyRef* TORVBTreePageController::GetKeyRef() const { return FPage->LKeyRef; }
uint8_t* TORVBTreePageController::GetPKey(int32_t KeyPosition) const { return FPage->GetPKey(KeyPosition); }
uint8_t* TORVBTreePageController::GetPReference(int32_t RefPosition) const { return FPage->GetPReference(RefPosition); }

int32_t TORVBTreePageController::CompareKeys(bool MayUseFullKeys, int32_t SessionID, const void* Key1,
                                             uint16_t Key2Index) const {
  // A node entry's reference is a child page, never a record to read a full key from.
  const void* reference2 = FPage->GetIsLeaf() ? GetPReference(Key2Index) : nullptr;
  return GetKeyRef()->CompareShortKeys(Key1, GetPKey(Key2Index), MayUseFullKeys, SessionID, nullptr, reference2);
}

int32_t TORVBTreePageController::CompareReferences(const void* Reference1, uint16_t Reference2Index) const {
  return TORVBTreeKeyRef::CompareReferences(Reference1, GetPReference(Reference2Index), FPage->GetReferenceSize());
}

uint16_t TORVBTreePageController::GetKeyPosition(bool MayUseFullKeys, int32_t SessionID, const void* Key,
                                                 const void* Reference, int32_t StartPosition,
                                                 TORVKeyPathPosition* PositionType, TORVKeySearchType SearchType) {
  const int32_t n = FPage->GetEntryCount();
  if (n == 0) {
    if (PositionType) *PositionType = kppEOF;
    return 0;
  }
  int32_t lb = StartPosition, ub = n - 1, m = 0;
  bool found = false;
  do {
    m = (lb + ub) / 2;
    int32_t r = CompareKeys(MayUseFullKeys, SessionID, Key, static_cast<uint16_t>(m));
    if (r == 0 && Reference) r = CompareEntries(MayUseFullKeys, SessionID, Key, Reference, static_cast<uint16_t>(m));
    if (r < 0) {
      ub = m - 1;
    } else if (r > 0) {
      lb = m + 1;
    } else {
      found = true;
      break;
    }
  } while (lb <= ub);
  if (!found) {
    if (PositionType) *PositionType = kppBeforeKey;
    return static_cast<uint16_t>(lb);
  }
  if (PositionType) *PositionType = kppOnKey;
  if (SearchType == kstFirst) {
    while (m - 1 >= StartPosition && CompareKeys(MayUseFullKeys, SessionID, Key, static_cast<uint16_t>(m - 1)) == 0) --m;
  } else if (SearchType == kstLast) {
    while (m + 1 <= n - 1 && CompareKeys(MayUseFullKeys, SessionID, Key, static_cast<uint16_t>(m + 1)) == 0) ++m;
  }
  return static_cast<uint16_t>(m);
}

bool TORVBTreePageController::CanAddEntry() const {
  return (FPage->GetEntryCount() + 1) * FPage->GetEntrySize() + FPage->GetPagePrefixSize() + btree_header::Size <=
         FPage->GetPageDataSize();
}

bool TORVBTreePageController::IsOverflow() const {
  return FPage->GetEntryCount() * FPage->GetEntrySize() + FPage->GetPagePrefixSize() + btree_header::Size >
         FPage->GetPageDataSize();
}

bool TORVBTreePageController::CanUnderflow() const {
  return FPage->GetEntryCount() * FPage->GetEntrySize() <
         (FPage->GetPageDataSize() - FPage->GetPagePrefixSize() - btree_header::Size) / 2;
}

bool TORVBTreePageController::CanMergeWithPage(const TORVBTreePage& Page) const {
  // A page without entries always goes: nothing has to move. (The size test alone would
  // keep it beside exactly full neighbours, where the walks then meet an empty page.)
  if (FPage->GetEntryCount() == 0) return true;
  return (FPage->GetEntryCount() + Page.GetEntryCount()) * FPage->GetEntrySize() + FPage->GetEntriesOffset() <
         Page.GetPageDataSize();
}

void TORVBTreePageController::EnlargePageBuffer() {
  FPage->EnlargePageBuffer(FPage->GetPageSize() + FPage->GetEntrySize());
}

void TORVBTreePageController::InsertEntry(const void* Key, const void* Reference, int32_t Position) {
  if (!CanAddEntry()) EnlargePageBuffer();
  const int32_t n = FPage->GetEntryCount();
  if (n + 1 > FPage->BufferEntryCapacity() || Position < 0 || Position > n) Damaged(FPage->GetPageNo());
  const int32_t size = FPage->GetEntrySize();
  if (Position < n) ORVMove(GetPKey(Position), GetPKey(Position + 1), (n - Position) * size);
  uint8_t* key = GetPKey(Position);
  std::memset(key, 0, FPage->GetKeyPrefixSize());
  if (Key) std::memcpy(key, Key, FPage->GetKeyPrefixSize());
  std::memcpy(key + FPage->GetKeyPrefixSize(), Reference, static_cast<size_t>(FPage->GetReferenceSize()));
  FPage->SetEntryCount(static_cast<uint16_t>(n + 1));
}

void TORVBTreePageController::DeleteEntry(int32_t Position) {
  const int32_t n = FPage->GetEntryCount();
  if (n == 0) throw EORVException(20025, "Index error: page is empty");
  if (Position < 0 || Position >= n) Damaged(FPage->GetPageNo());
  if (Position < n - 1) ORVMove(GetPKey(Position + 1), GetPKey(Position), (n - 1 - Position) * FPage->GetEntrySize());
  FPage->SetEntryCount(static_cast<uint16_t>(n - 1));
}

void TORVBTreePageController::Split(int32_t SessionID, TORVKeyPath& KeyPath) {
  if (FPage->GetIsRoot())
    RootSplit(SessionID);
  else
    NonRootSplit(SessionID, KeyPath);
}

void TORVBTreePageController::RootSplit(int32_t SessionID) {
  TORVBTreePageRef left = FPage->AddIndexPage(SessionID);
  TORVBTreePageRef right = FPage->AddIndexPage(SessionID);
  const int32_t n = FPage->GetEntryCount();
  const int32_t middle = n / 2;
  left->CopyFrom(*FPage, 0, middle);
  right->CopyFrom(*FPage, middle, n - middle);
  left->SetIsRoot(false);
  right->SetIsRoot(false);
  left->SetRightPageNo(right->GetPageNo());
  right->SetLeftPageNo(left->GetPageNo());
  left->SetIsDirty(true);
  right->SetIsDirty(true);
  // The root stays in place and becomes the node above the two halves.
  FPage->SetIsLeaf(false);
  FPage->SetEntryCount(0);
  uint8_t child[4];
  PageNoBytes(left->GetPageNo(), child);
  FPage->FNodeController.InsertEntry(nullptr, child, 0);
  PageNoBytes(right->GetPageNo(), child);
  FPage->FNodeController.InsertEntry(right->GetPKey(0), child, 1);
  FPage->SetIsDirty(true);
}

void TORVBTreePageController::NonRootSplit(int32_t SessionID, TORVKeyPath& KeyPath) {
  TORVBTreePageRef added = FPage->AddIndexPage(SessionID);
  const int32_t n = FPage->GetEntryCount();
  const int32_t middle = n / 2;
  added->CopyFrom(*FPage, middle, n - middle);
  added->SetRightPageNo(FPage->GetRightPageNo());
  added->SetLeftPageNo(FPage->GetPageNo());
  added->SetIsDirty(true);
  if (added->GetRightPageNo() != -1) {
    TORVBTreePageRef right = FPage->GetIndexPage(SessionID, added->GetRightPageNo());
    right->SetLeftPageNo(added->GetPageNo());
    right->SetIsDirty(true);
  }
  FPage->SetRightPageNo(added->GetPageNo());
  FPage->SetEntryCount(static_cast<uint16_t>(middle));
  FPage->SetIsDirty(true);
  KeyPath.DecLevel();
  if (KeyPath.ItemNo < 0) Damaged(FPage->GetPageNo());
  {
    TORVBTreePageRef parent = FPage->GetIndexPage(SessionID, KeyPath.GetCurrentPageNo());
    uint8_t child[4];
    PageNoBytes(added->GetPageNo(), child);
    parent->InsertNodeEntry(SessionID, added->GetPKey(0), child, KeyPath);
    parent->SetIsDirty(true);
  }
  KeyPath.IncLevel();
}

bool TORVBTreePageController::TryMerge(int32_t SessionID, TORVKeyPath& KeyPath) {
  if (FPage->GetIsRoot()) return false;
  bool merged = false;
  if (FPage->GetLeftPageNo() != -1) merged = TryMergeWithPage(SessionID, FPage->GetLeftPageNo(), KeyPath);
  if (!merged && FPage->GetRightPageNo() != -1) merged = TryMergeWithPage(SessionID, FPage->GetRightPageNo(), KeyPath);
  return merged;
}

bool TORVBTreePageController::TryMergeWithPage(int32_t SessionID, int32_t MergePageNo, TORVKeyPath& KeyPath) {
  TORVBTreePageRef neighbour = FPage->GetIndexPage(SessionID, MergePageNo);
  if (!CanMergeWithPage(*neighbour)) return false;
  if (MergePageNo == FPage->GetLeftPageNo())
    MergeWithLeftPage(SessionID, *neighbour, KeyPath);
  else
    MergeWithRightPage(SessionID, *neighbour, KeyPath);
  FPage->RemoveIndexPage(SessionID, FPage->GetPageNo());
  return true;
}

void TORVBTreePageController::MergeWithLeftPage(int32_t SessionID, TORVBTreePage& LeftPage, TORVKeyPath& KeyPath) {
  if (FPage->GetRightPageNo() != -1) {
    TORVBTreePageRef right = FPage->GetIndexPage(SessionID, FPage->GetRightPageNo());
    right->SetLeftPageNo(FPage->GetLeftPageNo());
    right->SetIsDirty(true);
  }
  KeyPath.DecLevel();
  if (KeyPath.ItemNo < 0) Damaged(FPage->GetPageNo());
  TORVBTreePageRef parent = FPage->GetIndexPage(SessionID, KeyPath.GetCurrentPageNo());
  // Entry 0's key of a node was unused; behind the left page's entries it separates.
  if (!FPage->GetIsLeaf() && FPage->GetEntryCount() > 0) {
    OwnedBuffer key = NewBuffer(FPage->GetKeyPrefixSize());
    FPage->GetFirstKey(SessionID, key.get());
    FPage->UpdateKey(0, key.get());
  }
  LeftPage.AppendFrom(*FPage, 0, FPage->GetEntryCount());
  LeftPage.SetRightPageNo(FPage->GetRightPageNo());
  LeftPage.SetIsDirty(true);
  parent->DeleteNodeEntry(SessionID, KeyPath, true, nullptr);
}

void TORVBTreePageController::MergeWithRightPage(int32_t SessionID, TORVBTreePage& RightPage, TORVKeyPath& KeyPath) {
  if (FPage->GetLeftPageNo() != -1) {
    TORVBTreePageRef left = FPage->GetIndexPage(SessionID, FPage->GetLeftPageNo());
    left->SetRightPageNo(FPage->GetRightPageNo());
    left->SetIsDirty(true);
  }
  KeyPath.DecLevel();
  if (KeyPath.ItemNo < 0) Damaged(FPage->GetPageNo());
  TORVBTreePageRef parent = FPage->GetIndexPage(SessionID, KeyPath.GetCurrentPageNo());
  // The moved entries' first key becomes the separator in front of the right page's
  // subtree wherever that lies further up.
  OwnedBuffer first_key;
  if (FPage->GetEntryCount() > 0) {
    first_key = NewBuffer(FPage->GetKeyPrefixSize());
    FPage->GetFirstKey(SessionID, first_key.get());
  }
  if (!RightPage.GetIsLeaf()) {
    OwnedBuffer key = NewBuffer(RightPage.GetKeyPrefixSize());
    RightPage.GetFirstKey(SessionID, key.get());
    RightPage.UpdateKey(0, key.get());
  }
  RightPage.InsertFrom(*FPage, 0, FPage->GetEntryCount());
  RightPage.SetLeftPageNo(FPage->GetLeftPageNo());
  RightPage.SetIsDirty(true);
  parent->DeleteNodeEntry(SessionID, KeyPath, false, first_key.get());
}

// ---- Leaf controller ----------------------------------------------------------------------

int32_t TORVBTreeLeafController::CompareEntries(bool, int32_t, const void*, const void* Reference, uint16_t EntryNo) {
  return CompareReferences(Reference, EntryNo);
}

void TORVBTreeLeafController::InsertLeafEntry(int32_t SessionID, const void* Key, const void* Reference,
                                              TORVKeyPath& KeyPath) {
  const uint16_t pos = GetKeyPosition(true, SessionID, Key, Reference, 0, nullptr, kstAny);
  InsertEntry(Key, Reference, pos);
  if (IsOverflow()) {
    Split(SessionID, KeyPath);
  } else {
    FPage->SetIsDirty(true);
    KeyPath.AddItem(FPage->GetPageNo(), pos, FPage->GetEntryCount());
  }
}

bool TORVBTreeLeafController::FindEntryOnPage(int32_t SessionID, const void* Key, const void* Reference,
                                              int32_t& EntryNo) {
  EntryNo = -1;
  const int32_t n = FPage->GetEntryCount();
  if (Key) {
    // Entries with equal keys are in reference order: the entry is found by halving over
    // (key, reference), however many duplicates the key has.
    TORVKeyPathPosition type = kppUnknown;
    const uint16_t p = GetKeyPosition(true, SessionID, Key, Reference, 0, &type, Reference ? kstAny : kstFirst);
    if (type != kppOnKey) return false;
    EntryNo = p;
    return true;
  }
  for (int32_t i = 0; i < n; ++i) {
    if (CompareReferences(Reference, static_cast<uint16_t>(i)) == 0) {
      EntryNo = i;
      return true;
    }
  }
  return false;
}

bool TORVBTreeLeafController::DeleteLeafEntry(int32_t SessionID, const void* Key, const void* Reference,
                                              TORVKeyPath& KeyPath) {
  int32_t entry = -1;
  if (!FindEntryOnPage(SessionID, Key, Reference, entry)) return false;
  DeleteEntry(entry);
  FPage->SetIsDirty(true);
  if (CanUnderflow()) TryMerge(SessionID, KeyPath);
  return true;
}

void TORVBTreeLeafController::FreeAllPages(int32_t SessionID, bool KeepRootPage) {
  if (!(FPage->GetIsRoot() && KeepRootPage)) FPage->RemoveIndexPage(SessionID, FPage->GetPageNo());
}

void TORVBTreeLeafController::CheckIntegrity(int32_t, TORVKeyPath&) {
  TORVBTreeKeyRef* key_ref = GetKeyRef();
  const bool whole_keys = key_ref->FShortKeySize == key_ref->FFullKeySize;
  const int32_t n = FPage->GetEntryCount();
  for (int32_t i = 0; i + 1 < n; ++i) {
    const int32_t r = key_ref->CompareShortKeys(GetPKey(i), GetPKey(i + 1), false, -1, nullptr, nullptr);
    const bool wrong = whole_keys ? (r > 0 || (r == 0 && CompareReferences(GetPReference(i), static_cast<uint16_t>(i + 1)) >= 0))
                                  : r > 0;
    if (wrong) IntegrityError(20028, FPage->GetPageNo(), i);
  }
}

bool TORVBTreeLeafController::FindEntry(int32_t SessionID, const void* Key, const void* Reference,
                                        TORVKeyPath& Position) {
  int32_t entry = -1;
  if (!FindEntryOnPage(SessionID, Key, Reference, entry)) return false;
  Position.AddItem(FPage->GetPageNo(), entry, FPage->GetEntryCount());
  return true;
}

bool TORVBTreeLeafController::GetFirstPosition(int32_t, TORVKeyPath& Position) {
  if (FPage->GetEntryCount() == 0) return false;
  Position.AddItem(FPage->GetPageNo(), 0, FPage->GetEntryCount());
  return true;
}

bool TORVBTreeLeafController::GetLastPosition(int32_t, TORVKeyPath& Position) {
  const int32_t n = FPage->GetEntryCount();
  if (n == 0) return false;
  Position.AddItem(FPage->GetPageNo(), n - 1, n);
  return true;
}

bool TORVBTreeLeafController::FindByCondition(int32_t SessionID, bool First, const void* Key,
                                              TORVSearchCondition Operator, TORVKeyPath& Position) {
  return First ? FindFirstByCondition(SessionID, Key, Operator, Position)
               : FindLastByCondition(SessionID, Key, Operator, Position);
}

bool TORVBTreeLeafController::FindFirstByCondition(int32_t SessionID, const void* Key, TORVSearchCondition Operator,
                                                   TORVKeyPath& Position) {
  const int32_t n = FPage->GetEntryCount();
  TORVKeyPathPosition t = kppUnknown;
  auto pos = [&](TORVKeySearchType s) { return static_cast<int32_t>(GetKeyPosition(true, SessionID, Key, nullptr, 0, &t, s)); };
  int32_t chosen = 0;
  bool found = false;
  switch (Operator) {
    case scNone: found = true; break;
    case scEqual: chosen = pos(kstFirst); found = t == kppOnKey; break;
    case scLower: {
      const int32_t p = pos(kstFirst);
      found = p - ((t == kppOnKey || t == kppBeforeKey) ? 1 : 0) >= 0;
      break;
    }
    case scGreater: {
      const int32_t p = pos(kstLast);
      chosen = p + (t == kppOnKey ? 1 : 0);
      found = chosen < n;
      break;
    }
    case scLowerEqual: {
      const int32_t p = pos(kstFirst);
      found = p - (t == kppBeforeKey ? 1 : 0) >= 0;
      break;
    }
    case scGreaterEqual: chosen = pos(kstFirst); found = chosen < n; break;
  }
  if (found) Position.AddItem(FPage->GetPageNo(), chosen, n);
  return found;
}

bool TORVBTreeLeafController::FindLastByCondition(int32_t SessionID, const void* Key, TORVSearchCondition Operator,
                                                  TORVKeyPath& Position) {
  const int32_t n = FPage->GetEntryCount();
  TORVKeyPathPosition t = kppUnknown;
  auto pos = [&](TORVKeySearchType s) { return static_cast<int32_t>(GetKeyPosition(true, SessionID, Key, nullptr, 0, &t, s)); };
  int32_t chosen = n - 1;
  bool found = false;
  switch (Operator) {
    case scNone: found = true; break;
    case scEqual: chosen = pos(kstLast); found = t == kppOnKey; break;
    case scLower: {
      const int32_t p = pos(kstFirst);
      chosen = p - ((t == kppOnKey || t == kppBeforeKey) ? 1 : 0);
      found = chosen >= 0;
      break;
    }
    case scGreater: {
      const int32_t p = pos(kstLast);
      found = p + (t == kppOnKey ? 1 : 0) < n;
      break;
    }
    case scLowerEqual: {
      const int32_t p = pos(kstLast);
      chosen = p - (t == kppBeforeKey ? 1 : 0);
      found = chosen >= 0;
      break;
    }
    case scGreaterEqual: found = pos(kstAny) < n; break;
  }
  if (found) Position.AddItem(FPage->GetPageNo(), chosen, n);
  return found;
}

void TORVBTreeLeafController::GetFirstKey(int32_t, void* Key, int32_t) {
  if (FPage->GetEntryCount() == 0) throw EORVException(20025, "Index error: page is empty");
  std::memcpy(Key, GetPKey(0), FPage->GetKeyPrefixSize());
}

void TORVBTreeLeafController::GetLastKey(int32_t, void* Key, int32_t) {
  const int32_t n = FPage->GetEntryCount();
  if (n == 0) throw EORVException(20025, "Index error: page is empty");
  std::memcpy(Key, GetPKey(n - 1), FPage->GetKeyPrefixSize());
}

void TORVBTreeLeafController::GetFirstEntry(int32_t, void* Key, void* Reference, int32_t) {
  if (FPage->GetEntryCount() == 0) throw EORVException(20025, "Index error: page is empty");
  std::memcpy(Key, GetPKey(0), FPage->GetKeyPrefixSize());
  std::memcpy(Reference, GetPReference(0), GetKeyRef()->FReferenceSize);
}

void TORVBTreeLeafController::GetLastEntry(int32_t, void* Key, void* Reference, int32_t) {
  const int32_t n = FPage->GetEntryCount();
  if (n == 0) throw EORVException(20025, "Index error: page is empty");
  std::memcpy(Key, GetPKey(n - 1), FPage->GetKeyPrefixSize());
  std::memcpy(Reference, GetPReference(n - 1), GetKeyRef()->FReferenceSize);
}

// ---- Node controller ----------------------------------------------------------------------

int32_t TORVBTreeNodeController::ChildPageNo(int32_t EntryNo) const {
  return static_cast<int32_t>(LoadLE32(GetPReference(EntryNo)));
}

int32_t TORVBTreeNodeController::CompareEntries(bool, int32_t SessionID, const void* Key, const void* Reference,
                                                uint16_t EntryNo) {
  TORVBTreeKeyRef* key_ref = GetKeyRef();
  OwnedBuffer key = NewBuffer(FPage->GetKeyPrefixSize());
  OwnedBuffer reference = NewBuffer(key_ref->FReferenceSize);
  {
    TORVBTreePageRef child = FPage->GetIndexPage(SessionID, ChildPageNo(EntryNo));
    child->GetFirstEntry(SessionID, key.get(), reference.get());
  }
  int32_t r = key_ref->CompareShortKeys(Key, key.get(), true, SessionID, Reference, reference.get());
  if (r == 0) r = TORVBTreeKeyRef::CompareReferences(Reference, reference.get(), key_ref->FReferenceSize);
  return r;
}

int32_t TORVBTreeNodeController::ChildPosition(int32_t SessionID, const void* Key, const void* Reference) {
  TORVKeyPathPosition t = kppUnknown;
  int32_t pos = GetKeyPosition(false, SessionID, Key, Reference, 1, &t, kstAny);
  if (t == kppBeforeKey) --pos;
  return std::clamp(pos, 0, FPage->GetEntryCount() - 1);
}

void TORVBTreeNodeController::InsertLeafEntry(int32_t SessionID, const void* Key, const void* Reference,
                                              TORVKeyPath& KeyPath) {
  const int32_t pos = ChildPosition(SessionID, Key, Reference);
  KeyPath.AddItem(FPage->GetPageNo(), pos, FPage->GetEntryCount());
  TORVBTreePageRef child = FPage->GetIndexPage(SessionID, ChildPageNo(pos));
  child->InsertLeafEntry(SessionID, Key, Reference, KeyPath);
}

bool TORVBTreeNodeController::DeleteLeafEntry(int32_t SessionID, const void* Key, const void* Reference,
                                              TORVKeyPath& KeyPath) {
  const int32_t pos = ChildPosition(SessionID, Key, Reference);
  KeyPath.AddItem(FPage->GetPageNo(), pos, FPage->GetEntryCount());
  TORVBTreePageRef child = FPage->GetIndexPage(SessionID, ChildPageNo(pos));
  return child->DeleteLeafEntry(SessionID, Key, Reference, KeyPath);
}

void TORVBTreeNodeController::InsertNodeEntry(int32_t SessionID, const void* Key, const void* Reference,
                                              TORVKeyPath& KeyPath) {
  const int32_t n = FPage->GetEntryCount();
  int32_t pos = n > 1 ? KeyPath.Current().EntryNo + 1 : n;
  pos = std::clamp(pos, 0, n);
  InsertEntry(Key, Reference, pos);
  if (IsOverflow())
    Split(SessionID, KeyPath);
  else
    FPage->SetIsDirty(true);
}

void TORVBTreeNodeController::DeleteNodeEntry(int32_t SessionID, TORVKeyPath& KeyPath, bool MergeWithLeft,
                                              const void* FirstKeyOfMerged) {
  const int32_t current = KeyPath.ItemNo;
  const int32_t e = KeyPath.Current().EntryNo;
  if (e < 0 || e >= FPage->GetEntryCount()) Damaged(FPage->GetPageNo());
  if (MergeWithLeft) {
    // Entry 0 went: the subtree's first separator changes to the one of entry 1, further up
    // at the first level where this subtree is not the first child.
    if (e == 0 && FPage->GetEntryCount() > 1) {
      int32_t level = current - 1;
      while (level >= 0 && KeyPath.Item(level).EntryNo == 0) --level;
      if (level >= 0) {
        TORVBTreePageRef page = FPage->GetIndexPage(SessionID, KeyPath.Item(level).PageNo);
        page->UpdateKey(KeyPath.Item(level).EntryNo, GetPKey(1));
        page->SetIsDirty(true);
      }
    }
  } else if (FirstKeyOfMerged) {
    // The child's entries went to the front of its right neighbour: that neighbour's
    // separator, here or further up, becomes their first key.
    int32_t level = current;
    while (level >= 0 && KeyPath.Item(level).EntryNo >= KeyPath.Item(level).EntryCount - 1) --level;
    if (level == current) {
      FPage->UpdateKey(e + 1, FirstKeyOfMerged);
    } else if (level >= 0) {
      TORVBTreePageRef page = FPage->GetIndexPage(SessionID, KeyPath.Item(level).PageNo);
      if (KeyPath.Item(level).EntryNo + 1 < page->GetEntryCount()) {
        page->UpdateKey(KeyPath.Item(level).EntryNo + 1, FirstKeyOfMerged);
        page->SetIsDirty(true);
      }
    }
  }
  DeleteEntry(e);
  FPage->SetIsDirty(true);
  if (CanUnderflow()) {
    const bool merged = TryMerge(SessionID, KeyPath);
    if (!merged && FPage->GetIsRoot() && FPage->GetEntryCount() == 1) DecreaseTreeDepth(SessionID);
  }
}

void TORVBTreeNodeController::DecreaseTreeDepth(int32_t SessionID) {
  TORVBTreePageRef child = FPage->GetIndexPage(SessionID, ChildPageNo(0));
  FPage->CopyFrom(*child, 0, child->GetEntryCount());
  FPage->SetIsRoot(true);
  FPage->SetIsDirty(true);
  FPage->RemoveIndexPage(SessionID, child->GetPageNo());
}

void TORVBTreeNodeController::FreeAllPages(int32_t SessionID, bool KeepRootPage) {
  TORVBTreeWalk walk;
  walk.Enter(FPage->GetPageNo(), -1, -1);
  FreeAllPages(SessionID, KeepRootPage, walk);
}

void TORVBTreeNodeController::FreeAllPages(int32_t SessionID, bool KeepRootPage, TORVBTreeWalk& Walk) {
  // A page reached twice would be given back twice: the walk refuses it first.
  const int32_t n = FPage->GetEntryCount();
  for (int32_t i = 0; i < n; ++i) {
    TORVBTreePageRef child = EnterChild(SessionID, i, Walk);
    WalkLevel level(Walk);
    if (child->GetIsLeaf())
      child->FreeAllPages(SessionID, KeepRootPage);
    else
      child->FNodeController.FreeAllPages(SessionID, KeepRootPage, Walk);
  }
  if (!(FPage->GetIsRoot() && KeepRootPage)) FPage->RemoveIndexPage(SessionID, FPage->GetPageNo());
}

void TORVBTreeNodeController::CheckIntegrity(int32_t SessionID, TORVKeyPath& KeyPath) {
  // A page met twice anywhere in the check, not only on one path, is a circular link.
  TORVBTreeWalk walk(20032);
  walk.Enter(FPage->GetPageNo(), FPage->GetPageNo(), 0);
  CheckIntegrity(SessionID, KeyPath, walk);
}

void TORVBTreeNodeController::CheckIntegrity(int32_t SessionID, TORVKeyPath& KeyPath, TORVBTreeWalk& Walk) {
  const int32_t n = FPage->GetEntryCount();
  const int32_t page_no = FPage->GetPageNo();
  for (int32_t i = 0; i < n; ++i) {
    if (KeyPath.PageExists(page_no)) IntegrityError(20032, page_no, i);
    KeyPath.AddItem(page_no, i, n);
    {
      TORVBTreePageRef child = EnterChild(SessionID, i, Walk);
      WalkLevel level(Walk);
      if (i > 0 && child->GetLeftPageNo() != ChildPageNo(i - 1)) IntegrityError(20033, page_no, i);
      if (i < n - 1 && child->GetRightPageNo() != ChildPageNo(i + 1)) IntegrityError(20034, page_no, i);
      if (child->GetIsLeaf())
        child->CheckIntegrity(SessionID, KeyPath);
      else
        child->FNodeController.CheckIntegrity(SessionID, KeyPath, Walk);
    }
    KeyPath.DeleteLastItem();
  }
  TORVBTreeKeyRef* key_ref = GetKeyRef();
  const bool whole_keys = key_ref->FShortKeySize == key_ref->FFullKeySize;
  const int32_t key_size = FPage->GetKeyPrefixSize();
  OwnedBuffer last_key = NewBuffer(key_size), first_key = NewBuffer(key_size);
  OwnedBuffer last_ref = NewBuffer(key_ref->FReferenceSize), first_ref = NewBuffer(key_ref->FReferenceSize);
  auto compare = [&](const void* a, const void* b) {
    return key_ref->CompareShortKeys(a, b, false, -1, nullptr, nullptr);
  };
  for (int32_t i = 1; i < n; ++i) {
    if (i + 1 < n && compare(GetPKey(i), GetPKey(i + 1)) > 0) IntegrityError(20029, page_no, i);
    {
      TORVBTreePageRef left = FPage->GetIndexPage(SessionID, ChildPageNo(i - 1));
      left->GetLastEntry(SessionID, last_key.get(), last_ref.get());
    }
    {
      TORVBTreePageRef right = FPage->GetIndexPage(SessionID, ChildPageNo(i));
      right->GetFirstEntry(SessionID, first_key.get(), first_ref.get());
    }
    if (compare(last_key.get(), GetPKey(i)) > 0) IntegrityError(20030, page_no, i);
    if (compare(first_key.get(), GetPKey(i)) < 0) IntegrityError(20031, page_no, i);
    if (whole_keys && compare(last_key.get(), first_key.get()) == 0 &&
        TORVBTreeKeyRef::CompareReferences(last_ref.get(), first_ref.get(), key_ref->FReferenceSize) >= 0)
      IntegrityError(20194, page_no, i);
  }
}

bool TORVBTreeNodeController::FindEntry(int32_t SessionID, const void* Key, const void* Reference,
                                        TORVKeyPath& Position) {
  TORVBTreeWalk walk;
  walk.Enter(FPage->GetPageNo(), -1, -1);
  return FindEntry(SessionID, Key, Reference, Position, walk);
}

bool TORVBTreeNodeController::FindEntry(int32_t SessionID, const void* Key, const void* Reference,
                                        TORVKeyPath& Position, TORVBTreeWalk& Walk) {
  if (Key && Reference) {
    // With its reference an entry lies in exactly one child: no run of children with equal
    // keys is searched one by one.
    const int32_t pos = ChildPosition(SessionID, Key, Reference);
    Position.AddItem(FPage->GetPageNo(), pos, FPage->GetEntryCount());
    bool found = false;
    {
      TORVBTreePageRef child = EnterChild(SessionID, pos, Walk);
      WalkLevel level(Walk);
      found = child->GetIsLeaf() ? child->FindEntry(SessionID, Key, Reference, Position)
                                 : child->FNodeController.FindEntry(SessionID, Key, Reference, Position, Walk);
    }
    if (!found) Position.DeleteLastItem();
    return found;
  }
  int32_t start = 0, end = 0;
  GetChildPagesToCheck(SessionID, Key, scEqual, start, end);
  return FindEntryOnOneOfPages(SessionID, start, end, Key, Reference, Position, Walk);
}

bool TORVBTreeNodeController::GetFirstPosition(int32_t SessionID, TORVKeyPath& Position) {
  TORVBTreeWalk walk;
  walk.Enter(FPage->GetPageNo(), -1, -1);
  return GetEdgePosition(SessionID, true, Position, walk);
}

bool TORVBTreeNodeController::GetLastPosition(int32_t SessionID, TORVKeyPath& Position) {
  TORVBTreeWalk walk;
  walk.Enter(FPage->GetPageNo(), -1, -1);
  return GetEdgePosition(SessionID, false, Position, walk);
}

bool TORVBTreeNodeController::GetEdgePosition(int32_t SessionID, bool First, TORVKeyPath& Position,
                                              TORVBTreeWalk& Walk) {
  const int32_t n = FPage->GetEntryCount();
  const int32_t entry = First ? 0 : n - 1;
  Position.AddItem(FPage->GetPageNo(), entry, n);
  TORVBTreePageRef child = EnterChild(SessionID, entry, Walk);
  WalkLevel level(Walk);
  if (!child->GetIsLeaf()) return child->FNodeController.GetEdgePosition(SessionID, First, Position, Walk);
  return First ? child->GetFirstPosition(SessionID, Position) : child->GetLastPosition(SessionID, Position);
}

void TORVBTreeNodeController::GetChildPagesToCheck(int32_t SessionID, const void* Key,
                                                   TORVSearchCondition SearchCondition, int32_t& StartEntryNo,
                                                   int32_t& EndEntryNo) {
  const int32_t n = FPage->GetEntryCount();
  StartEntryNo = 0;
  EndEntryNo = n - 1;
  if (!Key || SearchCondition == scNone) return;
  TORVKeyPathPosition t = kppUnknown;
  auto pos = [&](TORVKeySearchType s) { return static_cast<int32_t>(GetKeyPosition(false, SessionID, Key, nullptr, 1, &t, s)); };
  // Node pages compare cut texts by their kept prefix only: a child behind an equal
  // separator may still hold greater texts, one in front of it smaller ones.
  const bool cut_keys = GetKeyRef()->FShortKeySize != GetKeyRef()->FFullKeySize;
  switch (SearchCondition) {
    case scEqual: {
      const int32_t p = pos(kstFirst);
      if (t == kppOnKey) {
        StartEntryNo = std::max(p - 1, 0);
        EndEntryNo = pos(kstLast);
      } else {
        StartEntryNo = t == kppBeforeKey ? p - 1 : p;
        EndEntryNo = StartEntryNo;
      }
      break;
    }
    case scLower: {
      const int32_t p = pos(kstFirst);
      EndEntryNo = (t == kppBeforeKey || t == kppOnKey) ? p - 1 : p;
      if (cut_keys && t == kppOnKey) EndEntryNo = pos(kstLast);
      break;
    }
    case scGreater: {
      const int32_t p = pos(kstLast);
      StartEntryNo = t == kppBeforeKey ? p - 1 : p;
      if (cut_keys && t == kppOnKey) StartEntryNo = pos(kstFirst) - 1;
      break;
    }
    case scLowerEqual: {
      const int32_t p = pos(kstLast);
      EndEntryNo = t == kppBeforeKey ? p - 1 : p;
      break;
    }
    case scGreaterEqual: {
      const int32_t p = pos(kstFirst);
      StartEntryNo = (t == kppBeforeKey || t == kppOnKey) ? p - 1 : p;
      break;
    }
    default: break;
  }
  StartEntryNo = std::clamp(StartEntryNo, 0, n - 1);
  EndEntryNo = std::clamp(EndEntryNo, 0, n - 1);
}

bool TORVBTreeNodeController::FindEntryOnOneOfPages(int32_t SessionID, int32_t StartEntryNo, int32_t EndEntryNo,
                                                    const void* Key, const void* Reference, TORVKeyPath& Position) {
  TORVBTreeWalk walk;
  walk.Enter(FPage->GetPageNo(), -1, -1);
  return FindEntryOnOneOfPages(SessionID, StartEntryNo, EndEntryNo, Key, Reference, Position, walk);
}

bool TORVBTreeNodeController::FindEntryOnOneOfPages(int32_t SessionID, int32_t StartEntryNo, int32_t EndEntryNo,
                                                    const void* Key, const void* Reference, TORVKeyPath& Position,
                                                    TORVBTreeWalk& Walk) {
  const int32_t step = EndEntryNo < StartEntryNo ? -1 : 1;
  for (int32_t i = StartEntryNo;; i += step) {
    Position.AddItem(FPage->GetPageNo(), i, FPage->GetEntryCount());
    bool found = false;
    {
      TORVBTreePageRef child = EnterChild(SessionID, i, Walk);
      WalkLevel level(Walk);
      found = child->GetIsLeaf() ? child->FindEntry(SessionID, Key, Reference, Position)
                                 : child->FNodeController.FindEntry(SessionID, Key, Reference, Position, Walk);
    }
    if (found) return true;
    Position.DeleteLastItem();
    if (i == EndEntryNo) break;
  }
  return false;
}

bool TORVBTreeNodeController::FindByConditionOnOneOfPages(int32_t SessionID, bool First, int32_t StartEntryNo,
                                                          int32_t EndEntryNo, const void* Key,
                                                          TORVSearchCondition Operator, TORVKeyPath& Position) {
  TORVBTreeWalk walk;
  walk.Enter(FPage->GetPageNo(), -1, -1);
  return FindByConditionOnOneOfPages(SessionID, First, StartEntryNo, EndEntryNo, Key, Operator, Position, walk);
}

bool TORVBTreeNodeController::FindByConditionOnOneOfPages(int32_t SessionID, bool First, int32_t StartEntryNo,
                                                          int32_t EndEntryNo, const void* Key,
                                                          TORVSearchCondition Operator, TORVKeyPath& Position,
                                                          TORVBTreeWalk& Walk) {
  if (EndEntryNo < StartEntryNo) return false;
  const int32_t from = First ? StartEntryNo : EndEntryNo;
  const int32_t to = First ? EndEntryNo : StartEntryNo;
  const int32_t step = First ? 1 : -1;
  for (int32_t i = from;; i += step) {
    Position.AddItem(FPage->GetPageNo(), i, FPage->GetEntryCount());
    bool found = false;
    {
      TORVBTreePageRef child = EnterChild(SessionID, i, Walk);
      WalkLevel level(Walk);
      found = child->GetIsLeaf() ? child->FindByCondition(SessionID, First, Key, Operator, Position)
                                 : child->FNodeController.FindByCondition(SessionID, First, Key, Operator, Position, Walk);
    }
    if (found) return true;
    Position.DeleteLastItem();
    if (i == to) break;
  }
  return false;
}

bool TORVBTreeNodeController::FindByCondition(int32_t SessionID, bool First, const void* Key,
                                              TORVSearchCondition Operator, TORVKeyPath& Position) {
  TORVBTreeWalk walk;
  walk.Enter(FPage->GetPageNo(), -1, -1);
  return FindByCondition(SessionID, First, Key, Operator, Position, walk);
}

bool TORVBTreeNodeController::FindByCondition(int32_t SessionID, bool First, const void* Key,
                                              TORVSearchCondition Operator, TORVKeyPath& Position,
                                              TORVBTreeWalk& Walk) {
  int32_t start = 0, end = 0;
  GetChildPagesToCheck(SessionID, Key, Operator, start, end);
  return FindByConditionOnOneOfPages(SessionID, First, start, end, Key, Operator, Position, Walk);
}

void TORVBTreeNodeController::GetFirstKey(int32_t SessionID, void* Key, int32_t Depth) {
  if (Depth >= TORVKeyPath::MaxLevels) Damaged(FPage->GetPageNo());
  TORVBTreePageRef child = FPage->GetIndexPage(SessionID, ChildPageNo(0));
  child->GetFirstKey(SessionID, Key, Depth + 1);
}

void TORVBTreeNodeController::GetLastKey(int32_t SessionID, void* Key, int32_t Depth) {
  if (Depth >= TORVKeyPath::MaxLevels) Damaged(FPage->GetPageNo());
  TORVBTreePageRef child = FPage->GetIndexPage(SessionID, ChildPageNo(FPage->GetEntryCount() - 1));
  child->GetLastKey(SessionID, Key, Depth + 1);
}

void TORVBTreeNodeController::GetFirstEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth) {
  if (Depth >= TORVKeyPath::MaxLevels) Damaged(FPage->GetPageNo());
  TORVBTreePageRef child = FPage->GetIndexPage(SessionID, ChildPageNo(0));
  child->GetFirstEntry(SessionID, Key, Reference, Depth + 1);
}

void TORVBTreeNodeController::GetLastEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth) {
  if (Depth >= TORVKeyPath::MaxLevels) Damaged(FPage->GetPageNo());
  TORVBTreePageRef child = FPage->GetIndexPage(SessionID, ChildPageNo(FPage->GetEntryCount() - 1));
  child->GetLastEntry(SessionID, Key, Reference, Depth + 1);
}

}  // namespace orv
