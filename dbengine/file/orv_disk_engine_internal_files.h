#pragma once
// Internal files: the engine's small structured files kept inside the database file as chains
// of pages of one page type, linked through the page header's NextPageNo. The first page's data
// starts with the 10-byte internal file header; content byte p lies on chain page
// (p + 10) / D at page-data offset (p + 10) % D, D being the page data size.
//
// Two kinds:
//   - transacted files are read and written whole through the page cache under a session, so
//     a write becomes part of that session's commit; their content may be compressed (system
//     directory, table list, a table's metadata and most-updated files);
//   - direct-access files are created through the cache once and from then on read, written
//     and byte-locked in place in the file, past the cache, the cipher and the commit, because
//     their bytes are lock targets shared live by every process (sessions file, a table's locks
//     file). Byte 0 of the first page is the file's mutex.
#include <cstdint>
#include <vector>

#include "dbengine/file/orv_disk_engine_layout.h"
#include "dbengine/storage/orv_compression.h"
#include "dbengine/storage/orv_page.h"

namespace orv {

class TORVDiskPageManager;

// A page taken from the page cache, given back when the holder goes out of scope (also when an
// exception passes).
class TORVHeldPage {
 public:
  TORVHeldPage(TORVPageManager& PageManager, TORVPage* Page) : pm_(PageManager), page_(Page) {}
  ~TORVHeldPage() { Release(); }
  TORVHeldPage(const TORVHeldPage&) = delete;
  TORVHeldPage& operator=(const TORVHeldPage&) = delete;

  TORVPage* operator->() const { return page_; }
  TORVPage* Get() const { return page_; }
  uint8_t* Data() const { return page_->GetPageData(); }
  int32_t NextPageNo() const;
  void SetNextPageNo(int32_t PageNo) const;
  void MarkDirty() const { page_->FIsDirty = true; }
  void Release() {
    if (page_) pm_.PutPage(page_);
    page_ = nullptr;
  }

 private:
  TORVPageManager& pm_;
  TORVPage* page_;
};

// What both kinds share: the page manager, the first page of the chain (-1 while the object is
// not bound to a file) and the page type of its pages, and the addressing of the content.
class TORVInternalDBFile {
 public:
  // Bind to an existing file; -1 is ignored.
  void SetStartPageNo(int32_t StartPageNo) {
    if (StartPageNo != -1) FStartPageNo = StartPageNo;
  }
  int32_t GetStartPageNo() const { return FStartPageNo; }
  uint16_t GetPageTypeID() const { return FPageTypeID; }
  // The kind's code naming the operation while unbound.
  void CheckFileOpened(const char* OperationName) const;
  // Where content byte Position lies: the chain page index and the offset in its page data.
  void GetPageNoAndOffsetForPosition(int32_t Position, int32_t& PageNo, uint16_t& Offset) const;
  // The chain pages Size content bytes need (at least one).
  int32_t GetPageCountForDataSize(int32_t Size) const;

 protected:
  // Unbound until CreateFile or OpenFile.
  TORVInternalDBFile(TORVDiskPageManager& PageManager, uint16_t PageTypeID, int32_t NotOpenedCode)
      : LPageManager(PageManager), FPageTypeID(PageTypeID), FNotOpenedCode(NotOpenedCode) {}

  TORVDiskPageManager& LPageManager;
  int32_t FStartPageNo = -1;
  uint16_t FPageTypeID;

 private:
  int32_t FNotOpenedCode;
};

// Unbound, operations raise 30389.
class TORVInternalDBTransactedAccessFile : public TORVInternalDBFile {
 public:
  TORVInternalDBTransactedAccessFile(TORVDiskPageManager& PageManager, uint16_t PageTypeID)
      : TORVInternalDBFile(PageManager, PageTypeID, 30389) {}

  void OpenFile(int32_t StartPageNo) { SetStartPageNo(StartPageNo); }

  // A one-page file for the session (reaches the file with its commit). Already bound: 30383.
  void CreateFile(int32_t SessionID);
  // Removes every page of the chain for the session (released at its commit); unbinds.
  void DeleteFile(int32_t SessionID, int32_t StartPageNo);
  // The header of the first page; FileWasChanged tells that the page came from the file rather
  // than unchanged from the cache.
  void GetFileSize(int32_t SessionID, int32_t& Size, int32_t& DecompressedSize,
                   TORVCompressionAlgorithm& CompressionAlgorithm, bool& FileWasChanged, bool SynchronizeAllowed);
  // The content size the last writer passed in.
  int32_t GetSize(int32_t SessionID);
  // Makes the chain exactly as long as NewSize stored bytes need: pages are appended, or the
  // pages behind the new last page are given back, and the header is updated.
  void SetFileSize(int32_t SessionID, int32_t NewSize, int32_t DecompressedSize,
                   TORVCompressionAlgorithm CompressionAlgorithm);
  // Count content bytes (at most the stored size: 30387); a chain shorter than its header:
  // 30388; a compressed content that does not decompress: 20189.
  void ReadFile(int32_t SessionID, void* Buffer, int32_t Count, bool SynchronizeAllowed);
  // The whole content. The header's sizes are checked against what the file can hold before
  // anything is allocated for them (30388), so a damaged header never reserves gigabytes;
  // otherwise the errors of ReadFile.
  std::vector<uint8_t> ReadWholeFile(int32_t SessionID, bool SynchronizeAllowed);
  // Replaces the whole content. A compression that fails (also of 0 bytes): 20187.
  void WriteFile(int32_t SessionID, const void* Buffer, int32_t Count, TORVCompressionAlgorithm Algorithm,
                 int32_t CompressionMode);
  // The page number of chain page PageIndex (0 or less: the start page); a chain that ends
  // before: 20300.
  int32_t GoToPage(int32_t SessionID, int32_t PageIndex);
  // Resets the first page to an empty file of this type (table repair); not marked dirty: the
  // caller writes the file right afterwards. Unbound: 20301.
  void InitFileHeader(int32_t SessionID);
  bool LockFile();
  bool UnlockFile();

 private:
  TORVPage* FetchPage(int32_t SessionID, int32_t PageNo, bool SynchronizeAllowed);
  void ReleaseChainFrom(int32_t SessionID, int32_t PageNo);
  // ToRead stored bytes from the chain into Target; a chain that ends before: 30388.
  void ReadChain(int32_t SessionID, uint8_t* Target, int32_t ToRead, int32_t Count, bool SynchronizeAllowed);
};

// Unbound, operations raise 20156.
class TORVInternalDBDirectAccessFile : public TORVInternalDBFile {
 public:
  TORVInternalDBDirectAccessFile(TORVDiskPageManager& PageManager, uint16_t PageTypeID)
      : TORVInternalDBFile(PageManager, PageTypeID, 20156) {}

  // Binds and reads the page list from the file.
  void OpenFile(int32_t StartPageNo);

  // Creates the file with Size content bytes under the system session (its pages reach the
  // file with that session's next commit, unenciphered). Already bound: 20157.
  void CreateFile(int32_t Size);
  // Removes every page of the chain for the system session; unbinds.
  void DeleteFile(int32_t StartPageNo);
  // A page header straight from the file (without byte 0, the mutex of a first page, when
  // SkipFirstByte). Another page type: 20155.
  void ReadPageHeader(int32_t PageNo, TORVDiskPageHeader& PageHeader, bool SkipFirstByte);
  // The content size stored in the file's header.
  int32_t GetSize();
  // The chain's page numbers and the usable size; a one-page file offers the whole page.
  void ReadPageList();
  int32_t GoToPage(int32_t Index) const;
  // The page and page offset of a content position; beyond the usable size: 20159.
  void InternalSeek(int32_t Position, int32_t& PageNo, uint16_t& PageOffset) const;
  void ReadBuffer(void* Buffer, int32_t Count, int32_t Position);
  // Beyond the stored size: 20158.
  void WriteBuffer(const void* Buffer, int32_t Count, int32_t Position);
  // The file's mutex (byte 0 of its first page).
  bool LockFile();
  bool UnlockFile();
  bool LockByte(int32_t ByteNo);
  bool UnlockByte(int32_t ByteNo);
  bool IsByteLocked(int32_t ByteNo);
  // Whether any content byte of the range is locked, by this process (any of its sessions) or
  // another one.
  bool IsRegionLocked(int32_t ByteNo, int32_t ByteCount);

  int32_t FileSize() const { return FFileSize; }
  const std::vector<int32_t>& FilePages() const { return FFilePages; }

 private:
  // The page manager's Operation on the file byte of content byte ByteNo.
  bool AtByte(const char* OperationName, int32_t ByteNo, bool (TORVDiskPageManager::*Operation)(int32_t, uint16_t));
  // Moves Count bytes between Buffer and the content at Position, page by page.
  void Transfer(uint8_t* Buffer, int32_t Count, int32_t Position, bool Write);

  int32_t FFileSize = 0;
  std::vector<int32_t> FFilePages;
};

}  // namespace orv
