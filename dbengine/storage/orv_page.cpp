#include "dbengine/storage/orv_page.h"

#include <algorithm>
#include <cstring>

#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {
constexpr size_t kPagePoolSize = 64;
constexpr int32_t kUnreadableState = 0x7FFFFFFF;
}  // namespace

// ---- TORVPage -----------------------------------------------------------------------------

TORVPage::TORVPage(TORVPageManager* PageManager) : LPageManager(PageManager) {}

TORVPage::~TORVPage() {
  if (FPageBuffer && FOwnBuffer) LPageManager->Memory().FreeMem(FPageBuffer);
}

void TORVPage::InitHeader() {
  if (!FPageBuffer || FBufferSize < page_header::Size) return;
  uint8_t* h = FPageBuffer;
  std::memcpy(h + page_header::Signature, "ORVP", 4);
  StoreLE32(h + page_header::State, 0);
  StoreLE16(h + page_header::PageType, 0);
  StoreLE32(h + page_header::NextPageNo, static_cast<uint32_t>(-1));
  StoreLE32(h + page_header::CRC32, 0);
  h[page_header::CRCType] = h[page_header::HashType] = h[page_header::CipherType] = h[page_header::MACType] = 0;
  StoreLE32(h + page_header::ObjectID, static_cast<uint32_t>(-1));
  TORVPageItemID{-1, 0}.WriteTo(h + page_header::RecordID);
}

void TORVPage::AllocPageBuffer() {
  const int32_t size = GetPageSize();
  if (!(FPageBuffer && FOwnBuffer && FBufferSize == size)) {
    FreeAndNilPageBuffer();
    FPageBuffer = static_cast<uint8_t*>(LPageManager->Memory().GetMem(size));
    FBufferSize = size;
    FOwnBuffer = true;
  }
  ClearPageBuffer();
  InitHeader();
}

void TORVPage::ClearPageBuffer() {
  if (FPageBuffer) std::memset(FPageBuffer, 0, static_cast<size_t>(FBufferSize));
}

void TORVPage::FreeAndNilPageBuffer() {
  if (FPageBuffer && FOwnBuffer) LPageManager->Memory().FreeMem(FPageBuffer);
  FPageBuffer = nullptr;
  FBufferSize = 0;
  FOwnBuffer = true;
}

void TORVPage::EnlargePageBuffer(int32_t NewSize) {
  if (!FPageBuffer) throw EORVException(20038, "Invalid page buffer. Buffer is Nil");
  if (NewSize < GetPageSize()) throw EORVException(20039, "Invalid page modification");
  if (NewSize == FBufferSize && FOwnBuffer) return;
  if (FOwnBuffer) {
    LPageManager->Memory().ReallocMem(FPageBuffer, NewSize, true);
  } else {
    auto* p = static_cast<uint8_t*>(LPageManager->Memory().AllocMem(NewSize));
    std::memcpy(p, FPageBuffer, static_cast<size_t>(std::min(FBufferSize, NewSize)));
    FPageBuffer = p;
    FOwnBuffer = true;
  }
  FBufferSize = NewSize;
}

void TORVPage::SetBorrowedBuffer(uint8_t* Buffer, int32_t Size) {
  FreeAndNilPageBuffer();
  FPageBuffer = Buffer;
  FBufferSize = Size;
  FOwnBuffer = false;
}

void TORVPage::Synchronize() {
  if (!LPageManager->SynchronizationEnabled() || GetPageHeaderSize() < page_header::Size) return;
  const int32_t stored = LPageManager->InternalReadPageState(FPageNo);
  // An unreadable stamp is kept, so that the next synchronisation reads the page again.
  if (stored == kUnreadableState || stored == GetHeaderState()) {
    SetHeaderState(stored);
  } else {
    LPageManager->InternalReadPage(*this);
  }
}

bool TORVPage::GetTableState(int32_t SessionID, int32_t& TableState, int32_t* TableID) const {
  const int64_t i = static_cast<int64_t>(SessionID) + 2;
  if (i < 0 || i >= static_cast<int64_t>(FTableStates.size())) return false;
  TableState = FTableStates[static_cast<size_t>(i)].TableState;
  if (TableID) *TableID = FTableStates[static_cast<size_t>(i)].TableID;
  return FTableStates[static_cast<size_t>(i)].IsTableStateValueAssigned;
}

void TORVPage::SetTableState(int32_t SessionID, int32_t TableState, int32_t TableID) {
  const int64_t i = static_cast<int64_t>(SessionID) + 2;
  if (i < 0) return;
  if (i >= static_cast<int64_t>(FTableStates.size())) FTableStates.resize(static_cast<size_t>(i) + 1);
  FTableStates[static_cast<size_t>(i)] = {TableState, TableID, true};
}

int32_t TORVPage::GetHeaderState() const {
  return FPageBuffer ? static_cast<int32_t>(LoadLE32(FPageBuffer + page_header::State)) : 0;
}
void TORVPage::SetHeaderState(int32_t Value) {
  if (FPageBuffer) StoreLE32(FPageBuffer + page_header::State, static_cast<uint32_t>(Value));
}
uint16_t TORVPage::GetHeaderPageType() const { return FPageBuffer ? LoadLE16(FPageBuffer + page_header::PageType) : 0; }
void TORVPage::SetHeaderPageType(uint16_t Value) {
  if (FPageBuffer) StoreLE16(FPageBuffer + page_header::PageType, Value);
}

// ---- TORVSortedPageList -------------------------------------------------------------------

TORVSortedPageList::TORVSortedPageList(int32_t size) { SetSize(size); }

TORVSortedPageList::~TORVSortedPageList() = default;

void TORVSortedPageList::SetSize(int32_t newSize) {
  if (newSize < 0) newSize = 0;
  const int32_t alloc = ArrayAllocCountFor<int32_t>(newSize, ItemCount, AllocBy, deAllocBy, MaxAllocBy, AllocItemCount);
  if (alloc < 0) {
    std::vector<int32_t>().swap(KeyItems);
    std::vector<TORVPageElement>().swap(ValueItems);
    AllocItemCount = 0;
  } else if (alloc != AllocItemCount) {
    KeyItems.resize(static_cast<size_t>(alloc));
    ValueItems.resize(static_cast<size_t>(alloc));
    if (alloc < AllocItemCount) {
      KeyItems.shrink_to_fit();
      ValueItems.shrink_to_fit();
    }
    AllocItemCount = alloc;
  }
  ItemCount = newSize;
}

void TORVSortedPageList::LinkNewest(TORVPage* Page) {
  Page->FLRUPrev = FNewest;
  Page->FLRUNext = nullptr;
  if (FNewest)
    FNewest->FLRUNext = Page;
  else
    FOldest = Page;
  FNewest = Page;
}

void TORVSortedPageList::Unlink(TORVPage* Page) {
  if (FLRUCursor == Page) FLRUCursor = Page->FLRUNext;
  if (Page->FLRUPrev)
    Page->FLRUPrev->FLRUNext = Page->FLRUNext;
  else if (FOldest == Page)
    FOldest = Page->FLRUNext;
  if (Page->FLRUNext)
    Page->FLRUNext->FLRUPrev = Page->FLRUPrev;
  else if (FNewest == Page)
    FNewest = Page->FLRUPrev;
  Page->FLRUPrev = Page->FLRUNext = nullptr;
}

int32_t TORVSortedPageList::FindPositionForInsert(int32_t Key) const {
  return static_cast<int32_t>(std::lower_bound(KeyItems.begin(), KeyItems.begin() + ItemCount, Key) - KeyItems.begin());
}

int32_t TORVSortedPageList::FindPosition(int32_t Key) const {
  const int32_t pos = FindPositionForInsert(Key);
  return pos < ItemCount && KeyItems[static_cast<size_t>(pos)] == Key ? pos : -1;
}

TORVPage* TORVSortedPageList::Find(int32_t Key) const {
  const int32_t pos = FindPosition(Key);
  return pos < 0 ? nullptr : ValueItems[static_cast<size_t>(pos)].Page;
}

void TORVSortedPageList::InsertByPosition(int32_t ItemNo, int32_t Key, const TORVPageElement& Value) {
  const int32_t old = ItemCount;
  SetSize(ItemCount + 1);
  ItemNo = std::clamp(ItemNo, 0, old);
  std::copy_backward(KeyItems.begin() + ItemNo, KeyItems.begin() + old, KeyItems.begin() + old + 1);
  std::copy_backward(ValueItems.begin() + ItemNo, ValueItems.begin() + old, ValueItems.begin() + old + 1);
  KeyItems[static_cast<size_t>(ItemNo)] = Key;
  ValueItems[static_cast<size_t>(ItemNo)] = Value;
}

void TORVSortedPageList::Insert(TORVPage* Page) {
  ++LRUCount;
  int32_t pos = 0;
  if (ItemCount == 1)
    pos = Page->FPageNo >= KeyItems[0] ? 1 : 0;
  else if (ItemCount > 1)
    pos = FindPositionForInsert(Page->FPageNo);
  InsertByPosition(pos, Page->FPageNo, {Page, LRUCount});
  LinkNewest(Page);
}

void TORVSortedPageList::DeleteByPosition(int32_t ItemNo) {
  if (ItemNo < 0 || ItemNo >= ItemCount) return;
  Unlink(ValueItems[static_cast<size_t>(ItemNo)].Page);
  std::copy(KeyItems.begin() + ItemNo + 1, KeyItems.begin() + ItemCount, KeyItems.begin() + ItemNo);
  std::copy(ValueItems.begin() + ItemNo + 1, ValueItems.begin() + ItemCount, ValueItems.begin() + ItemNo);
  SetSize(ItemCount - 1);
}

void TORVSortedPageList::Delete(int32_t PageNo) {
  if (ItemCount == 0) throw EORVException(20165, "TSortedPageList.Delete - no elements in array!");
  // Also a single element is only deleted when it is the page asked for.
  const int32_t pos = FindPosition(PageNo);
  if (pos < 0)
    throw EORVException(20166, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {PageNo, ItemCount});
  DeleteByPosition(pos);
}

void TORVSortedPageList::DeletePage(TORVPage* Page) {
  int32_t pos = FindPositionForInsert(Page->FPageNo);
  while (pos < ItemCount && KeyItems[static_cast<size_t>(pos)] == Page->FPageNo) {
    if (ValueItems[static_cast<size_t>(pos)].Page == Page) {
      DeleteByPosition(pos);
      return;
    }
    ++pos;
  }
  throw EORVException(20166, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                      {Page->FPageNo, ItemCount});
}

void TORVSortedPageList::UpdateLRU(TORVPage* Page) {
  int32_t pos = FindPositionForInsert(Page->FPageNo);
  while (pos < ItemCount && KeyItems[static_cast<size_t>(pos)] == Page->FPageNo &&
         ValueItems[static_cast<size_t>(pos)].Page != Page)
    ++pos;
  if (pos >= ItemCount || ValueItems[static_cast<size_t>(pos)].Page != Page) throw EORVException(20167, "Page not found");
  ValueItems[static_cast<size_t>(pos)].LRUCount = ++LRUCount;
  Unlink(Page);
  LinkNewest(Page);
}

TORVPage* TORVSortedPageList::FirstByLRU() {
  FLRUCursor = FOldest ? FOldest->FLRUNext : nullptr;
  if (!FOldest) return nullptr;
  const int32_t pos = FindPosition(FOldest->FPageNo);
  if (pos >= 0) LRULastFound = static_cast<int32_t>(ValueItems[static_cast<size_t>(pos)].LRUCount);
  return FOldest;
}

TORVPage* TORVSortedPageList::NextByLRU() {
  TORVPage* page = FLRUCursor;
  if (page) {
    FLRUCursor = page->FLRUNext;
    const int32_t pos = FindPosition(page->FPageNo);
    if (pos >= 0) LRULastFound = static_cast<int32_t>(ValueItems[static_cast<size_t>(pos)].LRUCount);
  }
  return page;
}

void TORVSortedPageList::Clear() {
  // The pages are not touched: they may already be freed or in another list, whose
  // insertion set their links anew.
  FOldest = FNewest = FLRUCursor = nullptr;
  ItemCount = 0;
}

// ---- TORVPageManager ----------------------------------------------------------------------

TORVPageManager::TORVPageManager(TORVMemoryManager& Memory)
    : FMemory(Memory), FSharedPages(std::make_unique<TORVSortedPageList>(0)), FRandom(std::random_device{}()) {
  FCacheCapacity = static_cast<int32_t>(std::min<int64_t>(1000, FMemory.GetFreeMemorySize() / 65536));
}

TORVPageManager::~TORVPageManager() { FreeAllPages(); }

void TORVPageManager::SetPageGeometry(uint16_t PageSize, uint16_t PageHeaderSize) {
  FPageSize = PageSize;
  FPageHeaderSize = PageHeaderSize;
  FPageDataSize = static_cast<uint16_t>(PageSize - PageHeaderSize);
}

void TORVPageManager::Close() {
  for (const auto& s : FSessions)
    if (s.DirtyPages->Count() > 0) throw EORVException(20097, "Cannot free non-commited pages");
  FreeAllPages();
}

void TORVPageManager::FreeAllPages() {
  std::vector<TORVPage*> pages;
  auto take = [&pages](TORVSortedPageList& list) {
    for (int32_t i = 0; i < list.Count(); ++i) pages.push_back(list.PageAt(i));
    list.Clear();
  };
  for (auto& s : FSessions) take(*s.DirtyPages);
  FSessions.clear();
  take(*FSharedPages);
  pages.insert(pages.end(), FPagePool.begin(), FPagePool.end());
  FPagePool.clear();
  for (TORVPage* p : pages) delete p;
}

int32_t TORVPageManager::AddNewSession(int32_t SessionID) {
  TORVSessionPageInfo info;
  info.SessionID = SessionID;
  info.DirtyPages = std::make_unique<TORVSortedPageList>(0);
  info.AddedPageNumbers = std::make_unique<TORVIntegerArray>(0, 10, 100);
  info.RemovedPageNumbers = std::make_unique<TORVIntegerArray>(0, 10, 100);
  FSessions.push_back(std::move(info));
  return static_cast<int32_t>(FSessions.size()) - 1;
}

bool TORVPageManager::FindSession(int32_t SessionID, int32_t& SessionNo) const {
  for (size_t i = 0; i < FSessions.size(); ++i) {
    if (FSessions[i].SessionID == SessionID) {
      SessionNo = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

const TORVSessionPageInfo* TORVPageManager::SessionInfo(int32_t SessionID) const {
  int32_t no = 0;
  return FindSession(SessionID, no) ? &FSessions[static_cast<size_t>(no)] : nullptr;
}

TORVSessionPageInfo* TORVPageManager::MutableSessionInfo(int32_t SessionID) {
  int32_t no = 0;
  return FindSession(SessionID, no) ? &FSessions[static_cast<size_t>(no)] : nullptr;
}

void TORVPageManager::ForgetCachedPage(int32_t PageNo) {
  // A page in use stays with its user, whose changes must not vanish at its release; the
  // page's stamp tells the synchronisation that the store changed.
  ++FChangeGeneration;
  TORVPage* cached = FSharedPages->Find(PageNo);
  if (cached && cached->FUseCount == 0) DropFromCache(cached);
}

TORVSessionPageInfo& TORVPageManager::SessionFor(int32_t SessionID) {
  int32_t no = 0;
  if (!FindSession(SessionID, no)) no = AddNewSession(SessionID);
  return FSessions[static_cast<size_t>(no)];
}

bool TORVPageManager::FindPage(const TORVSortedPageList* Pages, int32_t PageNo, TORVPage*& Page) {
  Page = Pages ? Pages->Find(PageNo) : nullptr;
  return Page != nullptr;
}

void TORVPageManager::RemovePageIfExists(TORVSortedPageList* Pages, int32_t PageNo) {
  TORVPage* page = nullptr;
  if (!FindPage(Pages, PageNo, page)) return;
  Pages->DeletePage(page);
  page->FParentList = nullptr;
  if (page->FUseCount == 0) FreePage(page);
}

TORVPage* TORVPageManager::NewPage() {
  TORVPage* page = nullptr;
  if (!FPagePool.empty()) {
    page = FPagePool.back();
    FPagePool.pop_back();
  } else {
    page = new TORVPage(this);
  }
  page->FPageNo = -1;
  page->FIsDirty = false;
  page->FUseCount = 0;
  page->FParentList = nullptr;
  page->FSessionID = -1;
  page->FReloaded = false;
  page->FEncryptionEnabled = true;
  page->FTableStates.clear();
  return page;
}

void TORVPageManager::FreePage(TORVPage* Page) {
  // Only an owned buffer of exactly the page size is worth keeping for the next page.
  const bool reusable = Page->FOwnBuffer && (!Page->FPageBuffer || Page->GetBufferSize() == FPageSize);
  if (FPagePool.size() < kPagePoolSize && reusable) {
    Page->FParentList = nullptr;
    FPagePool.push_back(Page);
  } else {
    delete Page;
  }
}

void TORVPageManager::DropFromCache(TORVPage* Page) {
  FSharedPages->DeletePage(Page);
  Page->FParentList = nullptr;
  if (Page->FUseCount == 0) FreePage(Page);
}

void TORVPageManager::RemovePage(int32_t SessionID, int32_t PageNo) {
  ++FChangeGeneration;
  SessionFor(SessionID).RemovedPageNumbers->Append(PageNo);
}

TORVPage* TORVPageManager::AddPage(int32_t SessionID, uint16_t PageType) {
  ++FChangeGeneration;
  TORVSessionPageInfo& info = SessionFor(SessionID);
  TORVPage* page = NewPage();
  try {
    InternalAddPage(*page);
  } catch (...) {
    FreePage(page);
    throw;
  }
  if (page->FPageNo == -1) {
    FreePage(page);
    throw EORVException(20064, "Invalid page number");
  }
  page->FUseCount = 1;
  page->FIsDirty = true;
  page->FReloaded = false;
  if (FPageHeaderSize > 0) {
    page->SetHeaderPageType(PageType);
    page->SetHeaderState(static_cast<int32_t>(FRandom() % 0x3FFFFFFF));
  }
  page->FParentList = info.DirtyPages.get();
  page->FSessionID = SessionID;
  // The number was given out again: an old copy of it in the cache is stale.
  if (TORVPage* stale = FSharedPages->Find(page->FPageNo)) DropFromCache(stale);
  info.DirtyPages->Insert(page);
  info.AddedPageNumbers->Append(page->FPageNo);
  return page;
}

TORVPage* TORVPageManager::GetPage(int32_t SessionID, int32_t PageNo, uint16_t PageType, bool SynchronizeAllowed) {
  if (SessionID == -1) throw EORVException(20186, "Invalid Session ID");
  TORVSessionPageInfo& info = SessionFor(SessionID);
  TORVPage* page = info.DirtyPages->Find(PageNo);
  if (!page) {
    page = FSharedPages->Find(PageNo);
    if (page) {
      // Checked before any synchronisation: re-reading a page another session works on
      // would overwrite its changes.
      if (page->FUseCount > 0 && page->FSessionID != SessionID)
        throw EORVException(20090, "Page is used by other session");
      if (SynchronizeAllowed && !IsSafeNotToSyncPage(SessionID, *page)) {
        page->Synchronize();
        UpdatePageTableState(SessionID, *page);
      }
    } else {
      page = NewPage();
      page->FPageNo = PageNo;
      page->FSessionID = SessionID;
      page->FParentList = FSharedPages.get();
      FSharedPages->Insert(page);
      // A page that could not be read, or not as the type asked for, leaves the cache at
      // once: a later request reads and checks it again instead of taking it as valid.
      bool read = false;
      try {
        read = InternalReadPage(*page);
      } catch (...) {
        DropFromCache(page);
        throw;
      }
      if (!read || !page->FPageBuffer) {
        DropFromCache(page);
        throw EORVException(20299, "Error reading database file page. Page No: %d, type %d", {PageNo, PageType});
      }
      if (!FIgnoreCRCErrors && FPageHeaderSize > 0 && PageType != 255 && page->GetHeaderPageType() != PageType) {
        const uint16_t found = page->GetHeaderPageType();
        DropFromCache(page);
        throw EORVException(20153, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
                            {PageType, found});
      }
      UpdatePageTableState(SessionID, *page);
    }
    page->FParentList = FSharedPages.get();
  }
  if (page->FUseCount > 0 && page->FSessionID != SessionID) throw EORVException(20090, "Page is used by other session");
  page->FSessionID = SessionID;
  ++page->FUseCount;
  return page;
}

void TORVPageManager::PutPage(TORVPage* aPage) {
  if (!aPage) return;
  if (aPage->FUseCount > 0) --aPage->FUseCount;
  if (aPage->FUseCount == 0) aPage->FReloaded = false;
  if (!aPage->FParentList) {
    if (aPage->FUseCount == 0) FreePage(aPage);
    return;
  }
  if (aPage->FUseCount == 0 && aPage->FParentList == FSharedPages.get()) {
    if (aPage->FIsDirty) {
      FSharedPages->DeletePage(aPage);
      TORVSessionPageInfo& info = SessionFor(aPage->FSessionID);
      aPage->FParentList = info.DirtyPages.get();
      info.DirtyPages->Insert(aPage);
    } else {
      FSharedPages->UpdateLRU(aPage);
    }
  }
  if (aPage->FParentList == FSharedPages.get() && FSharedPages->Count() > FCacheCapacity) TrimCache();
}

void TORVPageManager::TrimCache() {
  // Oldest first, skipping pages in use, until the cache is back within its capacity.
  TORVPage* page = FSharedPages->FirstByLRU();
  while (page && FSharedPages->Count() > FCacheCapacity) {
    TORVPage* next = FSharedPages->NextByLRU();
    if (page->FUseCount == 0) DropFromCache(page);
    page = next;
  }
}

void TORVPageManager::ApplyChanges(int32_t SessionID) {
  ++FChangeGeneration;
  for (int32_t i = 0; i < FSharedPages->Count(); ++i) {
    const TORVPage* p = FSharedPages->PageAt(i);
    if (p->FSessionID == SessionID && p->FUseCount > 0)
      throw EORVException(20152, "Some session pages not released");
  }
  int32_t no = 0;
  if (!FindSession(SessionID, no)) return;
  TORVSessionPageInfo& info = FSessions[static_cast<size_t>(no)];

  TORVIntegerArray& removed = *info.RemovedPageNumbers;
  for (int32_t i = 0; i < removed.ItemCount; ++i) {
    const int32_t page_no = removed[i];
    InternalRemovePage(page_no);
    RemovePageIfExists(info.DirtyPages.get(), page_no);
    if (TORVPage* cached = FSharedPages->Find(page_no)) DropFromCache(cached);
  }
  removed.SetSize(0);
  info.AddedPageNumbers->SetSize(0);

  TORVSortedPageList& dirty = *info.DirtyPages;
  int32_t done = 0;
  try {
    for (; done < dirty.Count(); ++done) {
      TORVPage* page = dirty.PageAt(done);
      if (!page->FIsDirty) throw EORVException(20085, "Invalid page");
      if (page->FUseCount > 0) throw EORVException(20086, "Cannot write used page");
      InternalWritePage(*page);
      page->FIsDirty = false;
      // Another session may have read the store's older copy meanwhile: it is stale now.
      if (TORVPage* stale = FSharedPages->Find(page->FPageNo)) DropFromCache(stale);
      if (FSharedPages->Count() < FCacheCapacity) {
        page->FParentList = FSharedPages.get();
        FSharedPages->Insert(page);
      } else {
        page->FParentList = nullptr;
        FreePage(page);
      }
    }
  } catch (...) {
    // The pages handled so far have left the list; the rest stay for the caller's decision.
    std::vector<TORVPage*> rest;
    for (int32_t i = done; i < dirty.Count(); ++i) rest.push_back(dirty.PageAt(i));
    dirty.Clear();
    for (TORVPage* p : rest) dirty.Insert(p);
    throw;
  }
  dirty.Clear();
}

void TORVPageManager::CancelChanges(int32_t SessionID) {
  ++FChangeGeneration;
  int32_t no = 0;
  if (!FindSession(SessionID, no)) return;
  TORVSessionPageInfo& info = FSessions[static_cast<size_t>(no)];
  TORVSortedPageList& dirty = *info.DirtyPages;
  int32_t done = 0;
  try {
    for (; done < dirty.Count(); ++done) {
      TORVPage* page = dirty.PageAt(done);
      if (!page->FIsDirty) throw EORVException(20087, "Invalid index page");
      if (page->FUseCount > 0) throw EORVException(20088, "Cannot remove used page");
      page->FParentList = nullptr;
      FreePage(page);
    }
  } catch (...) {
    std::vector<TORVPage*> rest;
    for (int32_t i = done; i < dirty.Count(); ++i) rest.push_back(dirty.PageAt(i));
    dirty.Clear();
    for (TORVPage* p : rest) dirty.Insert(p);
    throw;
  }
  dirty.Clear();
  TORVIntegerArray& added = *info.AddedPageNumbers;
  for (int32_t i = 0; i < added.ItemCount; ++i) InternalRemovePage(added[i]);
  added.SetSize(0);
  info.RemovedPageNumbers->SetSize(0);
}

}  // namespace orv
