#include "dbengine/file/orv_disk_engine_internal_files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

constexpr int32_t kFileHeaderSize = TORVInternalFileHeader::StoredSize;

// A size or count below zero comes only from a damaged header or a caller's mistake; either
// would turn into an enormous copy.
void CheckSize(int32_t Size) {
  if (Size < 0) throw EORVException(30516, "Invalid internal file size: %d", {Size});
}

// The most pages a chain of this file can have: a damaged chain that loops is cut off there,
// and a stored size beyond it is damage rather than a reason to allocate. Taken from the file's
// length, which another process may have grown since the header copy was last read.
int64_t ChainPageLimit(TORVDiskPageManager& PageManager) {
  TORVDatabaseFile& file = PageManager.DatabaseFile();
  if (!file.IsOpened()) return INT32_MAX;
  return (file.GetSize() - PageManager.OffsetToFirstPage()) / PageManager.PageSize() + 1;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The content of Stored decompressed, at most Expected bytes as the header says and at least
// Count of them; anything else is damage: 20189.
std::unique_ptr<void, FreeDeleter> Decompressed(TORVCompressionAlgorithm Algorithm, const std::vector<uint8_t>& Stored,
                                                int32_t Expected, int32_t Count) {
  void* out = nullptr;
  int32_t out_size = Expected;
  const bool ok =
      ORVInternalDecompressBuffer(Algorithm, Stored.data(), static_cast<int32_t>(Stored.size()), out, out_size);
  std::unique_ptr<void, FreeDeleter> plain(out);
  if (!ok || out_size < Count)
    throw EORVException(20189, "Table file decompression error. Possible table corruption (%s)",
                        {ok ? std::string("content shorter than its header says") : ORVCompressionGetLastError()});
  return plain;
}

}  // namespace

int32_t TORVHeldPage::NextPageNo() const {
  return static_cast<int32_t>(LoadLE32(page_->FPageBuffer + page_header::NextPageNo));
}

void TORVHeldPage::SetNextPageNo(int32_t PageNo) const {
  StoreLE32(page_->FPageBuffer + page_header::NextPageNo, static_cast<uint32_t>(PageNo));
}

// ---- Both kinds ---------------------------------------------------------------------------

void TORVInternalDBFile::CheckFileOpened(const char* OperationName) const {
  if (FStartPageNo == -1)
    throw EORVException(FNotOpenedCode, "Cannot perform this operation (%s) on closed internal file", {OperationName});
}

void TORVInternalDBFile::GetPageNoAndOffsetForPosition(int32_t Position, int32_t& PageNo, uint16_t& Offset) const {
  const int64_t p = static_cast<int64_t>(Position) + kFileHeaderSize;
  PageNo = static_cast<int32_t>(p / LPageManager.PageDataSize());
  Offset = static_cast<uint16_t>(p % LPageManager.PageDataSize());
}

int32_t TORVInternalDBFile::GetPageCountForDataSize(int32_t Size) const {
  const int64_t n = static_cast<int64_t>(std::max(Size, 0)) + kFileHeaderSize;
  return static_cast<int32_t>((n + LPageManager.PageDataSize() - 1) / LPageManager.PageDataSize());
}

// ---- Transacted files ---------------------------------------------------------------------

TORVPage* TORVInternalDBTransactedAccessFile::FetchPage(int32_t SessionID, int32_t PageNo, bool SynchronizeAllowed) {
  return LPageManager.GetPage(SessionID, PageNo, FPageTypeID, SynchronizeAllowed);
}

void TORVInternalDBTransactedAccessFile::CreateFile(int32_t SessionID) {
  if (FStartPageNo != -1)
    throw EORVException(30383, "Cannot create Internal file. File already exists. StartPageNo=%d", {FStartPageNo});
  TORVHeldPage page(LPageManager, LPageManager.AddPage(SessionID, FPageTypeID));
  FStartPageNo = page->FPageNo;
  TORVInternalFileHeader().WriteTo(page.Data());
}

void TORVInternalDBTransactedAccessFile::ReleaseChainFrom(int32_t SessionID, int32_t PageNo) {
  int64_t steps = 0;
  const int64_t limit = ChainPageLimit(LPageManager);
  while (PageNo != -1) {
    if (++steps > limit)
      throw EORVException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                          {static_cast<int32_t>(steps)});
    int32_t next = -1;
    {
      TORVHeldPage page(LPageManager, FetchPage(SessionID, PageNo, true));
      next = page.NextPageNo();
    }
    LPageManager.RemovePage(SessionID, PageNo);
    PageNo = next;
  }
}

void TORVInternalDBTransactedAccessFile::DeleteFile(int32_t SessionID, int32_t StartPageNo) {
  SetStartPageNo(StartPageNo);
  const int32_t start = FStartPageNo;
  FStartPageNo = -1;
  if (start != -1) ReleaseChainFrom(SessionID, start);
}

void TORVInternalDBTransactedAccessFile::GetFileSize(int32_t SessionID, int32_t& Size, int32_t& DecompressedSize,
                                                     TORVCompressionAlgorithm& CompressionAlgorithm,
                                                     bool& FileWasChanged, bool SynchronizeAllowed) {
  CheckFileOpened("GetSize");
  TORVHeldPage page(LPageManager, FetchPage(SessionID, FStartPageNo, SynchronizeAllowed));
  const TORVInternalFileHeader h = TORVInternalFileHeader::ReadFrom(page.Data());
  Size = h.FileSize;
  DecompressedSize = h.DecompressedSize;
  CompressionAlgorithm = h.CompressionAlgorithm;
  FileWasChanged = page->FReloaded;
}

int32_t TORVInternalDBTransactedAccessFile::GetSize(int32_t SessionID) {
  int32_t size = 0, decompressed = 0;
  TORVCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  GetFileSize(SessionID, size, decompressed, algorithm, changed, true);
  return decompressed;
}

void TORVInternalDBTransactedAccessFile::SetFileSize(int32_t SessionID, int32_t NewSize, int32_t DecompressedSize,
                                                     TORVCompressionAlgorithm CompressionAlgorithm) {
  CheckFileOpened("SetSize");
  CheckSize(NewSize);
  int32_t old_size = 0;
  {
    TORVHeldPage first(LPageManager, FetchPage(SessionID, FStartPageNo, true));
    old_size = TORVInternalFileHeader::ReadFrom(first.Data()).FileSize;
  }
  if (old_size < 0) old_size = NewSize;
  const int32_t old_count = GetPageCountForDataSize(old_size);
  const int32_t new_count = GetPageCountForDataSize(NewSize);

  // Each page is given back before the next is taken, so that no page changed here is fetched
  // again (and possibly re-read from the file) while it is still held.
  if (new_count > old_count) {
    int32_t page_no = GoToPage(SessionID, old_count - 1);
    for (int32_t k = old_count; k < new_count; ++k) {
      TORVHeldPage last(LPageManager, FetchPage(SessionID, page_no, true));
      int32_t next = last.NextPageNo();
      // Pages still linked behind the last content page (a file that once was longer) are
      // taken before new ones.
      if (next == -1) {
        TORVHeldPage added(LPageManager, LPageManager.AddPage(SessionID, FPageTypeID));
        next = added->FPageNo;
        last.SetNextPageNo(next);
        last.MarkDirty();
      }
      page_no = next;
    }
  } else if (new_count < old_count) {
    // The pages behind the new last page go back to the free-space map with the commit.
    int32_t rest = -1;
    {
      TORVHeldPage last(LPageManager, FetchPage(SessionID, GoToPage(SessionID, new_count - 1), true));
      rest = last.NextPageNo();
      if (rest != -1) {
        last.SetNextPageNo(-1);
        last.MarkDirty();
      }
    }
    ReleaseChainFrom(SessionID, rest);
  }

  TORVHeldPage first(LPageManager, FetchPage(SessionID, FStartPageNo, true));
  TORVInternalFileHeader h = TORVInternalFileHeader::ReadFrom(first.Data());
  h.FileSize = NewSize;
  h.DecompressedSize = DecompressedSize;
  h.CompressionAlgorithm = CompressionAlgorithm;
  h.WriteTo(first.Data());
  first.MarkDirty();
}

void TORVInternalDBTransactedAccessFile::WriteFile(int32_t SessionID, const void* Buffer, int32_t Count,
                                                   TORVCompressionAlgorithm Algorithm, int32_t CompressionMode) {
  CheckFileOpened("WriteFile");
  CheckSize(Count);
  const auto* data = static_cast<const uint8_t*>(Buffer);
  int32_t size = Count;
  std::unique_ptr<void, FreeDeleter> compressed;
  if (Algorithm != acaNone) {
    void* out = nullptr;
    if (!ORVInternalCompressBuffer(Algorithm, static_cast<uint8_t>(CompressionMode), Buffer, Count, out, size))
      throw EORVException(20187, "Table file compression error");
    compressed.reset(out);
    data = static_cast<const uint8_t*>(out);
  }
  SetFileSize(SessionID, size, Count, Algorithm);

  const int32_t d = LPageManager.PageDataSize();
  const int32_t pages = GetPageCountForDataSize(size);
  int32_t page_no = FStartPageNo;
  int32_t done = 0;
  for (int32_t i = 0; i < pages; ++i) {
    if (page_no == -1)
      throw EORVException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                          {i});
    TORVHeldPage page(LPageManager, FetchPage(SessionID, page_no, true));
    const int32_t offset = i == 0 ? kFileHeaderSize : 0;
    const int32_t n = std::min(d - offset, size - done);
    if (n > 0) std::memcpy(page.Data() + offset, data + done, static_cast<size_t>(n));
    done += std::max(n, 0);
    page.MarkDirty();
    page_no = page.NextPageNo();
  }
}

void TORVInternalDBTransactedAccessFile::ReadFile(int32_t SessionID, void* Buffer, int32_t Count,
                                                  bool SynchronizeAllowed) {
  CheckFileOpened("ReadFile");
  int32_t size = 0, decompressed = 0;
  TORVCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  GetFileSize(SessionID, size, decompressed, algorithm, changed, SynchronizeAllowed);
  if (Count < 0 || decompressed < Count)
    throw EORVException(30387, "Cannot Read internal file. FileSize=%d. ReadSize=%d", {decompressed, Count});
  const bool is_compressed = algorithm != acaNone;
  const int32_t to_read = is_compressed ? size : Count;
  const int32_t d = LPageManager.PageDataSize();
  if (to_read < 0 || (is_compressed && to_read > ChainPageLimit(LPageManager) * d))
    throw EORVException(30388, "Cannot Read internal file. Size to read=%d. Bytes read=%d. Count=%d",
                        {to_read, 0, Count});
  std::vector<uint8_t> stored(is_compressed ? static_cast<size_t>(to_read) : 0);
  ReadChain(SessionID, is_compressed ? stored.data() : static_cast<uint8_t*>(Buffer), to_read, Count,
            SynchronizeAllowed);
  if (!is_compressed) return;
  const auto plain = Decompressed(algorithm, stored, decompressed, Count);
  if (Count > 0) std::memcpy(Buffer, plain.get(), static_cast<size_t>(Count));
}

std::vector<uint8_t> TORVInternalDBTransactedAccessFile::ReadWholeFile(int32_t SessionID, bool SynchronizeAllowed) {
  CheckFileOpened("ReadFile");
  int32_t size = 0, decompressed = 0;
  TORVCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  GetFileSize(SessionID, size, decompressed, algorithm, changed, SynchronizeAllowed);
  if (decompressed <= 0) return {};
  // The sizes in the header are claims of the file: nothing is allocated for more than the
  // file can hold, and a compressed content is allocated as it really decompresses.
  const int64_t limit = ChainPageLimit(LPageManager) * LPageManager.PageDataSize();
  if (algorithm == acaNone) {
    if (decompressed > limit)
      throw EORVException(30388, "Cannot Read internal file. Size to read=%d. Bytes read=%d. Count=%d",
                          {decompressed, 0, decompressed});
    std::vector<uint8_t> bytes(static_cast<size_t>(decompressed));
    ReadFile(SessionID, bytes.data(), decompressed, SynchronizeAllowed);
    return bytes;
  }
  if (size <= 0 || size > limit)
    throw EORVException(30388, "Cannot Read internal file. Size to read=%d. Bytes read=%d. Count=%d",
                        {size, 0, decompressed});
  std::vector<uint8_t> stored(static_cast<size_t>(size));
  ReadChain(SessionID, stored.data(), size, decompressed, SynchronizeAllowed);
  const auto plain = Decompressed(algorithm, stored, decompressed, decompressed);
  const auto* first = static_cast<const uint8_t*>(plain.get());
  return std::vector<uint8_t>(first, first + decompressed);
}

void TORVInternalDBTransactedAccessFile::ReadChain(int32_t SessionID, uint8_t* Target, int32_t ToRead, int32_t Count,
                                                   bool SynchronizeAllowed) {
  const int32_t d = LPageManager.PageDataSize();
  int32_t page_no = FStartPageNo;
  int32_t done = 0;
  bool first = true;
  while (page_no != -1 && done < ToRead) {
    TORVHeldPage page(LPageManager, FetchPage(SessionID, page_no, SynchronizeAllowed));
    const int32_t offset = first ? kFileHeaderSize : 0;
    const int32_t n = std::min(d - offset, ToRead - done);
    std::memcpy(Target + done, page.Data() + offset, static_cast<size_t>(n));
    done += n;
    first = false;
    page_no = page.NextPageNo();
  }
  if (done < ToRead)
    throw EORVException(30388, "Cannot Read internal file. Size to read=%d. Bytes read=%d. Count=%d",
                        {ToRead, done, Count});
}

int32_t TORVInternalDBTransactedAccessFile::GoToPage(int32_t SessionID, int32_t PageIndex) {
  int32_t page_no = FStartPageNo;
  for (int32_t i = 0; i < PageIndex; ++i) {
    TORVHeldPage page(LPageManager, FetchPage(SessionID, page_no, true));
    const int32_t next = page.NextPageNo();
    if (next == -1)
      throw EORVException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                          {i});
    page_no = next;
  }
  return page_no;
}

void TORVInternalDBTransactedAccessFile::InitFileHeader(int32_t SessionID) {
  if (FStartPageNo == -1) throw EORVException(20301, "Invalid page number");
  // A damaged first page must still be readable to be reset.
  const bool ignored = LPageManager.IgnoreCRCErrors();
  LPageManager.SetIgnoreCRCErrors(true);
  TORVPage* fetched = nullptr;
  try {
    fetched = FetchPage(SessionID, FStartPageNo, true);
  } catch (...) {
    LPageManager.SetIgnoreCRCErrors(ignored);
    throw;
  }
  LPageManager.SetIgnoreCRCErrors(ignored);
  TORVHeldPage page(LPageManager, fetched);
  TORVDiskPageHeader fresh;
  fresh.PageType = FPageTypeID;
  fresh.WriteTo(page->GetPageHeader());
  TORVInternalFileHeader h;
  h.DecompressedSize = TORVInternalFileHeader::ReadFrom(page.Data()).DecompressedSize;
  h.WriteTo(page.Data());
}

bool TORVInternalDBTransactedAccessFile::LockFile() {
  CheckFileOpened("LockFile");
  return LPageManager.LockPageByte(FStartPageNo, 0);
}

bool TORVInternalDBTransactedAccessFile::UnlockFile() {
  CheckFileOpened("UnlockFile");
  return LPageManager.UnlockPageByte(FStartPageNo, 0);
}

// ---- Direct-access files ------------------------------------------------------------------

void TORVInternalDBDirectAccessFile::OpenFile(int32_t StartPageNo) {
  SetStartPageNo(StartPageNo);
  ReadPageList();
}

void TORVInternalDBDirectAccessFile::CreateFile(int32_t Size) {
  if (FStartPageNo != -1)
    throw EORVException(20157, "Cannot create Internal file. File already exists. StartPageNo=%d", {FStartPageNo});
  CheckSize(Size);
  const int32_t count = GetPageCountForDataSize(Size);
  std::vector<int32_t> pages;
  for (int32_t i = 0; i < count; ++i) {
    TORVHeldPage page(LPageManager, LPageManager.AddPage(SYSTEM_SESSION_ID, FPageTypeID));
    // The bytes are lock targets and live records of every process: never enciphered.
    page->FEncryptionEnabled = false;
    if (i == 0) {
      TORVInternalFileHeader h;
      h.FileSize = Size;
      h.WriteTo(page.Data());
    } else {
      TORVHeldPage previous(LPageManager, LPageManager.GetPage(SYSTEM_SESSION_ID, pages.back(), FPageTypeID, false));
      previous.SetNextPageNo(page->FPageNo);
      previous.MarkDirty();
    }
    pages.push_back(page->FPageNo);
  }
  FStartPageNo = pages.front();
  // Kept from here on, so that the new file's bytes can be locked before it is reopened.
  FFilePages = std::move(pages);
  FFileSize = Size;
}

void TORVInternalDBDirectAccessFile::DeleteFile(int32_t StartPageNo) {
  SetStartPageNo(StartPageNo);
  int32_t page_no = FStartPageNo;
  int64_t steps = 0;
  const int64_t limit = ChainPageLimit(LPageManager);
  while (page_no != -1 && ++steps <= limit) {
    TORVDiskPageHeader h;
    ReadPageHeader(page_no, h, page_no == FStartPageNo);
    LPageManager.RemovePage(SYSTEM_SESSION_ID, page_no);
    page_no = h.NextPageNo;
  }
  FStartPageNo = -1;
  FFilePages.clear();
  FFileSize = 0;
}

void TORVInternalDBDirectAccessFile::ReadPageHeader(int32_t PageNo, TORVDiskPageHeader& PageHeader,
                                                    bool SkipFirstByte) {
  uint8_t bytes[TORVDiskPageHeader::StoredSize] = {'O'};
  if (SkipFirstByte)
    LPageManager.ReadPageRegion(bytes + 1, PageNo, 1, TORVDiskPageHeader::StoredSize - 1);
  else
    LPageManager.ReadPageRegion(bytes, PageNo, 0, TORVDiskPageHeader::StoredSize);
  PageHeader = TORVDiskPageHeader::ReadFrom(bytes);
  if (PageHeader.PageType != FPageTypeID)
    throw EORVException(20155, "Invalid PageType found: %d but expecting: %d", {PageHeader.PageType, FPageTypeID});
}

int32_t TORVInternalDBDirectAccessFile::GetSize() {
  CheckFileOpened("GetSize");
  uint8_t bytes[TORVInternalFileHeader::StoredSize];
  LPageManager.ReadPageRegion(bytes, FStartPageNo, page_header::Size, TORVInternalFileHeader::StoredSize);
  return TORVInternalFileHeader::ReadFrom(bytes).FileSize;
}

void TORVInternalDBDirectAccessFile::ReadPageList() {
  FFileSize = GetSize();
  const int32_t count = GetPageCountForDataSize(FFileSize);
  const int32_t d = LPageManager.PageDataSize();
  FFilePages.clear();
  const int64_t limit = ChainPageLimit(LPageManager);
  int32_t page_no = FStartPageNo;
  for (int32_t i = 0; i < count && i < limit && page_no >= 0; ++i) {
    TORVDiskPageHeader h;
    ReadPageHeader(page_no, h, true);
    FFilePages.push_back(page_no);
    page_no = h.NextPageNo;
  }
  // One page offers all its bytes, whatever size it was created with.
  if (FFilePages.size() == 1) FFileSize = d - kFileHeaderSize;
  // A chain shorter than its header says offers only what it holds.
  const int64_t capacity = static_cast<int64_t>(FFilePages.size()) * d - kFileHeaderSize;
  if (FFileSize > capacity) FFileSize = static_cast<int32_t>(capacity);
}

int32_t TORVInternalDBDirectAccessFile::GoToPage(int32_t Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= FFilePages.size())
    throw EORVException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d", {FFileSize, Index});
  return FFilePages[static_cast<size_t>(Index)];
}

void TORVInternalDBDirectAccessFile::InternalSeek(int32_t Position, int32_t& PageNo, uint16_t& PageOffset) const {
  int32_t index = 0;
  uint16_t offset = 0;
  if (Position >= 0) GetPageNoAndOffsetForPosition(Position, index, offset);
  // The position just past the content of a full chain has no page.
  if (Position < 0 || Position > FFileSize || static_cast<size_t>(index) >= FFilePages.size())
    throw EORVException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d", {FFileSize, Position});
  PageNo = FFilePages[static_cast<size_t>(index)];
  PageOffset = static_cast<uint16_t>(page_header::Size + offset);
}

void TORVInternalDBDirectAccessFile::Transfer(uint8_t* Buffer, int32_t Count, int32_t Position, bool Write) {
  if (Count <= 0) return;
  int32_t page_no = 0;
  uint16_t offset = 0;
  InternalSeek(Position, page_no, offset);
  const int32_t page_size = LPageManager.PageSize();
  int32_t done = 0;
  for (;;) {
    TORVDiskPageHeader h;
    ReadPageHeader(page_no, h, false);
    const auto n = static_cast<uint16_t>(std::min(page_size - offset, Count - done));
    if (Write)
      LPageManager.WritePageRegion(Buffer + done, page_no, offset, n);
    else
      LPageManager.ReadPageRegion(Buffer + done, page_no, offset, n);
    done += n;
    offset = page_header::Size;
    if (done >= Count) return;
    if (h.NextPageNo == -1)
      throw EORVException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d",
                          {FFileSize, Position + Count});
    page_no = h.NextPageNo;
  }
}

void TORVInternalDBDirectAccessFile::ReadBuffer(void* Buffer, int32_t Count, int32_t Position) {
  CheckFileOpened("DirectReadBuffer");
  Transfer(static_cast<uint8_t*>(Buffer), Count, Position, false);
}

void TORVInternalDBDirectAccessFile::WriteBuffer(const void* Buffer, int32_t Count, int32_t Position) {
  CheckFileOpened("DirectWriteBuffer");
  const int32_t stored = GetSize();
  if (static_cast<int64_t>(Position) + Count > stored)
    throw EORVException(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {stored, Position, Count});
  Transfer(static_cast<uint8_t*>(const_cast<void*>(Buffer)), Count, Position, true);
}

bool TORVInternalDBDirectAccessFile::LockFile() {
  CheckFileOpened("LockFile");
  return LPageManager.LockPageByte(FStartPageNo, 0);
}

bool TORVInternalDBDirectAccessFile::UnlockFile() {
  CheckFileOpened("UnlockFile");
  return LPageManager.UnlockPageByte(FStartPageNo, 0);
}

bool TORVInternalDBDirectAccessFile::AtByte(const char* OperationName, int32_t ByteNo,
                                            bool (TORVDiskPageManager::*Operation)(int32_t, uint16_t)) {
  CheckFileOpened(OperationName);
  int32_t page_no = 0;
  uint16_t offset = 0;
  InternalSeek(ByteNo, page_no, offset);
  return (LPageManager.*Operation)(page_no, offset);
}

bool TORVInternalDBDirectAccessFile::LockByte(int32_t ByteNo) {
  return AtByte("LockByte", ByteNo, &TORVDiskPageManager::LockPageByte);
}

bool TORVInternalDBDirectAccessFile::UnlockByte(int32_t ByteNo) {
  return AtByte("UnlockByte", ByteNo, &TORVDiskPageManager::UnlockPageByte);
}

bool TORVInternalDBDirectAccessFile::IsByteLocked(int32_t ByteNo) {
  return AtByte("IsByteLocked", ByteNo, &TORVDiskPageManager::IsPageByteLocked);
}

bool TORVInternalDBDirectAccessFile::IsRegionLocked(int32_t ByteNo, int32_t ByteCount) {
  CheckFileOpened("IsRegionLocked");
  if (ByteCount <= 0) return false;
  const int64_t last = static_cast<int64_t>(ByteNo) + ByteCount - 1;
  if (last > FFileSize)
    throw EORVException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d",
                        {FFileSize, static_cast<int32_t>(std::min<int64_t>(last, INT32_MAX))});
  int32_t first_page = 0, last_page = 0;
  uint16_t first_offset = 0, last_offset = 0;
  InternalSeek(ByteNo, first_page, first_offset);
  InternalSeek(static_cast<int32_t>(last), last_page, last_offset);
  if (first_page == last_page) return LPageManager.IsPageRegionLocked(first_page, first_offset, ByteCount);
  int32_t first_index = 0, last_index = 0;
  uint16_t ignored = 0;
  GetPageNoAndOffsetForPosition(ByteNo, first_index, ignored);
  GetPageNoAndOffsetForPosition(static_cast<int32_t>(last), last_index, ignored);
  const int32_t page_size = LPageManager.PageSize();
  for (int32_t i = first_index; i <= last_index; ++i) {
    const int32_t from = i == first_index ? first_offset : page_header::Size;
    const int32_t to = i == last_index ? last_offset : page_size - 1;
    if (LPageManager.IsPageRegionLocked(FFilePages[static_cast<size_t>(i)], static_cast<uint16_t>(from),
                                        static_cast<uint16_t>(to - from + 1)))
      return true;
  }
  return false;
}

}  // namespace orv
