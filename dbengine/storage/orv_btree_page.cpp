#include "dbengine/storage/orv_btree_page.h"

#include <cstring>

#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {
[[noreturn]] void Damaged(int32_t PageNo) {
  throw EORVException(20307, "Index page is damaged. PageNo=%d", {PageNo});
}
}  // namespace

void TORVBTreePagePut::operator()(TORVBTreePage* Page) const noexcept {
  try {
    TORVBTreePage::PutIndexPage(Page);
  } catch (...) {
    // Giving a page back only fails when the manager's lists are already inconsistent;
    // the handle may be going because of another exception, which must not be replaced.
  }
}

TORVBTreePage::TORVBTreePage(TORVPageManager* PageManager, TORVBTreeKeyRef* KeyRef)
    : LKeyRef(KeyRef), LPageManager(PageManager), FLeafController(this), FNodeController(this) {}

TORVBTreePageRef TORVBTreePage::AddIndexPage(int32_t SessionID) const {
  TORVPage* page = LPageManager->AddPage(SessionID, ptTableIndex);
  TORVBTreePageRef ref(new TORVBTreePage(LPageManager, LKeyRef));
  ref->LPage = page;
  if (!page->FPageBuffer || page->GetBufferSize() - page->GetPageHeaderSize() < btree_header::Size) Damaged(page->FPageNo);
  ref->Init();
  return ref;
}

TORVBTreePageRef TORVBTreePage::GetIndexPage(int32_t SessionID, int32_t PageNo) const {
  TORVPage* page = LPageManager->GetPage(SessionID, PageNo, ptTableIndex, true);
  TORVBTreePageRef ref(new TORVBTreePage(LPageManager, LKeyRef));
  ref->LPage = page;
  ref->CheckPageHeader();
  return ref;
}

void TORVBTreePage::PutIndexPage(TORVBTreePage* Page) {
  if (!Page) return;
  std::unique_ptr<TORVBTreePage> owner(Page);
  if (Page->LPage) Page->LPageManager->PutPage(Page->LPage);
}

void TORVBTreePage::RemoveIndexPage(int32_t SessionID, int32_t PageNo) const { LPageManager->RemovePage(SessionID, PageNo); }

int32_t TORVBTreePage::BufferEntryCapacity() const {
  const int32_t data = LPage->GetBufferSize() - LPage->GetPageHeaderSize();
  const int32_t entry = GetEntrySize();
  if (entry <= 0) return 0;
  return (data - GetEntriesOffset()) / entry;
}

void TORVBTreePage::CheckPageHeader() const {
  // Every later access trusts these fields: a page that breaks them is refused here.
  const int32_t data = LPage->FPageBuffer ? LPage->GetBufferSize() - LPage->GetPageHeaderSize() : 0;
  if (data < btree_header::Size) Damaged(GetPageNo());
  const uint8_t* d = GetPageData();
  if (d[btree_header::IsRoot] > 1 || d[btree_header::IsLeaf] > 1 || d[btree_header::HasSuffixes] > 1 ||
      GetKeyPrefixSize() != LKeyRef->FShortKeySize || GetEntriesOffset() > data)
    Damaged(GetPageNo());
  if (GetEntryCount() > BufferEntryCapacity() || (!GetIsLeaf() && GetEntryCount() == 0)) Damaged(GetPageNo());
}

void TORVBTreePage::UpdateKey(int32_t Position, const void* Key) {
  std::memcpy(GetPKey(Position), Key, GetKeyPrefixSize());
}

void TORVBTreePage::UpdateReference(int32_t Position, const void* Reference) {
  std::memcpy(GetPReference(Position), Reference, static_cast<size_t>(GetReferenceSize()));
}

void TORVBTreePage::Init() {
  uint8_t* d = GetPageData();
  d[btree_header::IsRoot] = 0;
  d[btree_header::IsLeaf] = 0;
  SetLeftPageNo(-1);
  SetRightPageNo(-1);
  d[btree_header::HasKeys] = 0;
  d[btree_header::HasSuffixes] = 0;
  SetKeyPrefixSize(0);
  SetEntryCount(0);
  SetPagePrefixSize(0);
}

void TORVBTreePage::InitAsRoot() {
  Init();
  SetIsRoot(true);
  SetIsLeaf(true);
  SetHasKeys(true);
  SetHasSuffixes(false);
  SetPagePrefixSize(0);
  SetKeyPrefixSize(static_cast<uint16_t>(LKeyRef->FShortKeySize));
}

void TORVBTreePage::CopyFrom(const TORVBTreePage& Source, int32_t StartNo, int32_t Count) {
  const int32_t offset = Source.GetEntriesOffset();
  std::memcpy(GetPageData(), Source.GetPageData(), static_cast<size_t>(offset));
  if (Count < 0 || Count > BufferEntryCapacity()) Damaged(GetPageNo());
  const int32_t size = Source.GetEntrySize();
  if (Count > 0) ORVMove(Source.GetPKey(StartNo), GetPKey(0), Count * size);
  SetEntryCount(static_cast<uint16_t>(Count));
}

void TORVBTreePage::AppendFrom(const TORVBTreePage& Source, int32_t StartNo, int32_t Count) {
  const int32_t n = GetEntryCount();
  if (Count < 0 || n + Count > BufferEntryCapacity()) Damaged(GetPageNo());
  if (Count > 0) ORVMove(Source.GetPKey(StartNo), GetPKey(n), Count * Source.GetEntrySize());
  SetEntryCount(static_cast<uint16_t>(n + Count));
}

void TORVBTreePage::InsertFrom(const TORVBTreePage& Source, int32_t StartNo, int32_t Count) {
  const int32_t n = GetEntryCount();
  if (Count < 0 || n + Count > BufferEntryCapacity()) Damaged(GetPageNo());
  if (Count == 0) return;
  ORVMove(GetPKey(0), GetPKey(Count), n * GetEntrySize());
  ORVMove(Source.GetPKey(StartNo), GetPKey(0), Count * Source.GetEntrySize());
  SetEntryCount(static_cast<uint16_t>(n + Count));
}

void TORVBTreePage::InsertNodeEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) {
  if (GetIsLeaf()) throw EORVException(20020, "Internal index error");
  FNodeController.InsertNodeEntry(SessionID, Key, Reference, KeyPath);
}

void TORVBTreePage::DeleteNodeEntry(int32_t SessionID, TORVKeyPath& KeyPath, bool MergeWithLeft,
                                    const void* FirstKeyOfMerged) {
  if (GetIsLeaf()) throw EORVException(20024, "Internal index error");
  FNodeController.DeleteNodeEntry(SessionID, KeyPath, MergeWithLeft, FirstKeyOfMerged);
}

// ---- Stepping -----------------------------------------------------------------------------

namespace {

// Steps of empty pages a walk tolerates before it takes the links for a cycle.
constexpr int32_t kMaxEmptySteps = 1 << 20;

bool Step(const TORVBTreePage& AnyPage, int32_t SessionID, TORVKeyPath& Position, TORVBTreeStepCodes Codes,
          bool forward) {
  if (Position.Count <= 0) throw EORVException(Codes.EmptyPath, "Index error: invalid position");
  for (int32_t guard = 0; guard < kMaxEmptySteps; ++guard) {
    int32_t level = Position.Count - 1;
    while (level >= 0 && (forward ? Position.Item(level).EntryNo >= Position.Item(level).EntryCount - 1
                                  : Position.Item(level).EntryNo <= 0))
      --level;
    if (level < 0) return false;
    Position.Item(level).EntryNo += forward ? 1 : -1;
    for (int32_t d = level + 1; d < Position.Count; ++d) {
      TORVKeyPathItem& item = Position.Item(d);
      int32_t next = -1;
      {
        TORVBTreePageRef page = AnyPage.GetIndexPage(SessionID, item.PageNo);
        next = forward ? page->GetRightPageNo() : page->GetLeftPageNo();
      }
      if (next == -1) throw EORVException(Codes.MissingLink, "Index error: invalid page number");
      TORVBTreePageRef neighbour = AnyPage.GetIndexPage(SessionID, next);
      const int32_t count = neighbour->GetEntryCount();
      item = {next, forward ? 0 : count - 1, count};
    }
    // A leaf without entries (which older trees may hold) is stepped over.
    if (Position.Last().EntryCount > 0) return true;
  }
  throw EORVException(Codes.MissingLink, "Index error: invalid page number");
}

}  // namespace

bool BTreeNextPosition(const TORVBTreePage& AnyPage, int32_t SessionID, TORVKeyPath& Position,
                       TORVBTreeStepCodes Codes) {
  return Step(AnyPage, SessionID, Position, Codes, true);
}

bool BTreePriorPosition(const TORVBTreePage& AnyPage, int32_t SessionID, TORVKeyPath& Position,
                        TORVBTreeStepCodes Codes) {
  return Step(AnyPage, SessionID, Position, Codes, false);
}

}  // namespace orv
