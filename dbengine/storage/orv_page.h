#pragma once
// Pages and the page manager: a cache of pages shared by the sessions of one database, and
// per session the pages it changed, added and removed since its last commit. Where pages
// come from is left to four abstract operations of the storage kinds (disk file, memory,
// temporary file).
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_types.h"
#include "platform/base/stream.h"

namespace orv {

class TORVPageManager;
class TORVSortedPageList;

// The 40-byte header of a database page (its fields at these offsets, little-endian).
namespace page_header {
inline constexpr int32_t Size = 40;
inline constexpr int32_t Signature = 0;   // "ORVP"
inline constexpr int32_t State = 4;       // Int32, the page's version stamp
inline constexpr int32_t PageType = 8;    // Word
inline constexpr int32_t NextPageNo = 10; // Int32
inline constexpr int32_t CRC32 = 14;      // UInt32
inline constexpr int32_t CRCType = 18, HashType = 19, CipherType = 20, MACType = 21;
inline constexpr int32_t ObjectID = 22;   // Int32
inline constexpr int32_t RecordID = 26;   // TORVPageItemID, 6 bytes
inline constexpr int32_t Reserved = 32;   // 8 bytes
}  // namespace page_header

// What a session last saw of a page: the table it was working on and that table's state.
struct TORVPageTableStateInfo {
  int32_t TableState = 0;
  int32_t TableID = -1;
  bool IsTableStateValueAssigned = false;
};

// One page in memory.
class TORVPage {
 public:
  explicit TORVPage(TORVPageManager* PageManager);
  ~TORVPage();
  TORVPage(const TORVPage&) = delete;
  TORVPage& operator=(const TORVPage&) = delete;

  uint8_t* GetPageHeader() const { return FPageBuffer; }
  inline int32_t GetPageHeaderSize() const;
  inline int32_t GetPageSize() const;
  uint8_t* GetPageData() const { return FPageBuffer ? FPageBuffer + GetPageHeaderSize() : nullptr; }
  int32_t GetPageDataSize() const { return GetPageSize() - GetPageHeaderSize(); }
  // Bytes the buffer holds (at least the page size; more while an enlarged page waits for
  // its split).
  int32_t GetBufferSize() const { return FBufferSize; }

  // A fresh 40-byte header at the start of the buffer (reserved bytes untouched).
  void InitHeader();
  // A zero-filled buffer of page size with a fresh header; an owned buffer of that size
  // is reused.
  void AllocPageBuffer();
  void ClearPageBuffer();
  void FreeAndNilPageBuffer();
  // No buffer: 20038; NewSize below the page size: 20039. A borrowed buffer is replaced by
  // an owned copy.
  void EnlargePageBuffer(int32_t NewSize);
  // Lends the page a buffer owned elsewhere (at least page size bytes).
  void SetBorrowedBuffer(uint8_t* Buffer, int32_t Size);
  // Makes a cached page current where other processes may have written it.
  void Synchronize();
  // TableID (optional) tells which table the state is of: two tables' states are unrelated.
  bool GetTableState(int32_t SessionID, int32_t& TableState, int32_t* TableID = nullptr) const;
  void SetTableState(int32_t SessionID, int32_t TableState, int32_t TableID = -1);

  // Header fields (only meaningful when the manager has a page header).
  int32_t GetHeaderState() const;
  void SetHeaderState(int32_t Value);
  uint16_t GetHeaderPageType() const;
  void SetHeaderPageType(uint16_t Value);

  TORVPageManager* LPageManager;
  int32_t FPageNo = -1;
  uint8_t* FPageBuffer = nullptr;
  bool FOwnBuffer = true;
  bool FIsDirty = false;
  int32_t FUseCount = 0;
  TORVSortedPageList* FParentList = nullptr;  // nil: taken out of every list, freed at its last release
  int32_t FSessionID = -1;
  bool FReloaded = false;
  bool FEncryptionEnabled = true;
  std::vector<TORVPageTableStateInfo> FTableStates;  // entry SessionID + 2

 private:
  friend class TORVSortedPageList;
  int32_t FBufferSize = 0;
  // Least-recently-used order of the list the page is in (oldest first).
  TORVPage* FLRUPrev = nullptr;
  TORVPage* FLRUNext = nullptr;
};

// The base of the page classes that work on a page (B-tree, record and BLOB pages).
class TORVPageController {
 public:
  virtual ~TORVPageController() = default;

  int32_t GetPageNo() const { return LPage->FPageNo; }
  void SetPageNo(int32_t Value) { LPage->FPageNo = Value; }
  int32_t GetPageSize() const { return LPage->GetPageSize(); }
  uint8_t* GetPageBuffer() const { return LPage->FPageBuffer; }
  bool GetOwnBuffer() const { return LPage->FOwnBuffer; }
  bool GetIsDirty() const { return LPage->FIsDirty; }
  void SetIsDirty(bool Value) { LPage->FIsDirty = Value; }
  int32_t GetUseCount() const { return LPage->FUseCount; }
  TORVPageManager* GetPageManager() const { return LPage->LPageManager; }
  // Controllers work only on pages that have their buffer.
  uint8_t* GetPageData() const { return LPage->FPageBuffer + LPage->GetPageHeaderSize(); }
  int32_t GetPageDataSize() const { return LPage->GetPageDataSize(); }
  void EnlargePageBuffer(int32_t NewSize) { LPage->EnlargePageBuffer(NewSize); }

  TORVPage* LPage = nullptr;
};

struct TORVPageElement {
  TORVPage* Page = nullptr;
  int64_t LRUCount = 0;
};

// Pages sorted by page number, each with a use stamp; the list does not own its pages. The
// pages are also kept in a list in stamp order, so the least recently used one is found at
// once.
class TORVSortedPageList {
 public:
  explicit TORVSortedPageList(int32_t size = 0);
  ~TORVSortedPageList();
  TORVSortedPageList(const TORVSortedPageList&) = delete;
  TORVSortedPageList& operator=(const TORVSortedPageList&) = delete;

  int32_t Count() const { return ItemCount; }
  TORVPage* PageAt(int32_t ItemNo) const { return ValueItems[static_cast<size_t>(ItemNo)].Page; }

  void Insert(TORVPage* Page);
  // Empty: 20165; a page number that is not in the list: 20166.
  void Delete(int32_t PageNo);
  // Removes exactly this page (the list may briefly hold two pages of one number).
  void DeletePage(TORVPage* Page);
  void DeleteByPosition(int32_t ItemNo);
  TORVPage* Find(int32_t Key) const;
  int32_t FindPosition(int32_t Key) const;
  int32_t FindPositionForInsert(int32_t Key) const;
  void InsertByPosition(int32_t ItemNo, int32_t Key, const TORVPageElement& Value);
  // A page that is not in the list: 20167.
  void UpdateLRU(TORVPage* Page);
  // The least recently used page, nil for an empty list.
  TORVPage* FirstByLRU();
  // The page used next after the one last returned, in order of use; nil after the newest.
  TORVPage* NextByLRU();
  void Clear();
  void SetSize(int32_t newSize);

  std::vector<int32_t> KeyItems;
  std::vector<TORVPageElement> ValueItems;
  int32_t ItemCount = 0;
  int32_t AllocBy = 1000;
  int32_t deAllocBy = 1000;
  int32_t MaxAllocBy = 10000;
  int32_t AllocItemCount = 0;
  int64_t LRUCount = 0;
  int32_t LRULastFound = 0;

 private:
  void LinkNewest(TORVPage* Page);
  void Unlink(TORVPage* Page);

  TORVPage* FOldest = nullptr;
  TORVPage* FNewest = nullptr;
  TORVPage* FLRUCursor = nullptr;
};

struct TORVSessionPageInfo {
  int32_t SessionID = 0;
  std::unique_ptr<TORVSortedPageList> DirtyPages;
  std::unique_ptr<TORVIntegerArray> AddedPageNumbers;
  std::unique_ptr<TORVIntegerArray> RemovedPageNumbers;
};

class TORVPageManager {
 public:
  // Pages and their buffers come from Memory; the cache capacity follows its free size
  // (at most 1000 pages, one per 64 KiB).
  explicit TORVPageManager(TORVMemoryManager& Memory = MemoryManager());
  virtual ~TORVPageManager();
  TORVPageManager(const TORVPageManager&) = delete;
  TORVPageManager& operator=(const TORVPageManager&) = delete;

  // The check of the destructor, which itself never raises: a session with changes that
  // are neither applied nor cancelled raises 20097. Afterwards every page is freed.
  void Close();

  virtual int32_t GetPageCount() { return FPageCount; }
  virtual bool IsSafeNotToSyncPage(int32_t /*SessionID*/, TORVPage& /*Page*/) { return false; }
  virtual void UpdatePageTableState(int32_t /*SessionID*/, TORVPage& /*Page*/) {}
  virtual void LoadFromStream(platform::TStream& /*Stream*/) {}
  virtual void SaveToStream(platform::TStream& /*Stream*/) {}
  // The store: number and buffer for a new page; free a number; fill a page's buffer
  // (allocating it when nil; False when it cannot be read); store a page's buffer.
  virtual void InternalAddPage(TORVPage& Page) = 0;
  virtual void InternalRemovePage(int32_t PageNo) = 0;
  virtual bool InternalReadPage(TORVPage& Page) = 0;
  virtual void InternalWritePage(TORVPage& Page) = 0;
  // Freed when the session's changes are applied.
  virtual void RemovePage(int32_t SessionID, int32_t PageNo);
  // From the session's changed pages, else the cache, else the store. Session -1: 20186; a
  // page another session uses: 20090; a read that fails: 20299; a stored page of another
  // type: 20153 (not for PageType 255, with IgnoreCRCErrors, or without a page header).
  virtual TORVPage* GetPage(int32_t SessionID, int32_t PageNo, uint16_t PageType, bool SynchronizeAllowed);
  // Writes the session's pages in ascending order, each once.
  virtual void ApplyChanges(int32_t SessionID);
  void CancelChanges(int32_t SessionID);
  // A new page held by the session: use count 1, dirty, its header's type set.
  TORVPage* AddPage(int32_t SessionID, uint16_t PageType);
  // Gives one use back.
  void PutPage(TORVPage* aPage);

  int32_t AddNewSession(int32_t SessionID);
  bool FindSession(int32_t SessionID, int32_t& SessionNo) const;
  static bool FindPage(const TORVSortedPageList* Pages, int32_t PageNo, TORVPage*& Page);
  void RemovePageIfExists(TORVSortedPageList* Pages, int32_t PageNo);

  // Synchronisation with other processes (the disk kind in multi-user mode).
  virtual bool SynchronizationEnabled() const { return false; }
  // The State stamp of a page in the store; 0x7FFFFFFF when it cannot be read.
  virtual int32_t InternalReadPageState(int32_t /*PageNo*/) { return 0x7FFFFFFF; }

  uint16_t PageSize() const { return FPageSize; }
  uint16_t PageHeaderSize() const { return FPageHeaderSize; }
  uint16_t PageDataSize() const { return FPageDataSize; }
  int32_t CacheCapacity() const { return FCacheCapacity; }
  bool MultiUser() const { return FMultiUser; }
  bool IgnoreCRCErrors() const { return FIgnoreCRCErrors; }
  void SetIgnoreCRCErrors(bool Value) { FIgnoreCRCErrors = Value; }
  TORVMemoryManager& Memory() const { return FMemory; }
  const TORVSortedPageList& SharedPages() const { return *FSharedPages; }
  const TORVSessionPageInfo* SessionInfo(int32_t SessionID) const;
  // Moves on whenever what a session sees of a page may change other than through a page it
  // holds: changes applied or cancelled, a page number given out or freed, a cached page
  // dropped because the store changed. Copies of page data are good while it stays.
  uint64_t ChangeGeneration() const { return FChangeGeneration; }

 protected:
  // Sets the page geometry; the subclass calls it once before use.
  void SetPageGeometry(uint16_t PageSize, uint16_t PageHeaderSize);
  // Frees a page object (its buffer goes with it unless borrowed); a small pool keeps
  // released objects and their buffers for the next pages.
  void FreePage(TORVPage* Page);
  // For a store that puts a failed commit back: the session's lists, to hand its page numbers
  // back to it, and the dropping of a cached page whose stored bytes changed behind the cache
  // (unless the page is in use).
  TORVSessionPageInfo* MutableSessionInfo(int32_t SessionID);
  void ForgetCachedPage(int32_t PageNo);

  TORVMemoryManager& FMemory;
  std::recursive_mutex FCSect;
  int32_t FCacheCapacity = 0;
  std::unique_ptr<TORVSortedPageList> FSharedPages;
  std::vector<TORVSessionPageInfo> FSessions;
  uint16_t FPageSize = 0;
  uint16_t FPageHeaderSize = 0;
  uint16_t FPageDataSize = 0;
  int32_t FPageCount = 0;
  bool FMultiUser = false;
  bool FIgnoreCRCErrors = false;
  uint64_t FChangeGeneration = 0;

 private:
  TORVSessionPageInfo& SessionFor(int32_t SessionID);
  TORVPage* NewPage();
  // Takes a page out of the cache: freed, or, while another use holds it, freed at its
  // last release.
  void DropFromCache(TORVPage* Page);
  void TrimCache();
  void FreeAllPages();

  std::vector<TORVPage*> FPagePool;
  std::minstd_rand FRandom;
};

int32_t TORVPage::GetPageHeaderSize() const { return LPageManager->PageHeaderSize(); }
int32_t TORVPage::GetPageSize() const { return LPageManager->PageSize(); }

}  // namespace orv
