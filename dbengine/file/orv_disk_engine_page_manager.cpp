#include "dbengine/file/orv_disk_engine_page_manager.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "dbengine/file/orv_disk_engine_encryption.h"
#include "dbengine/file/orv_disk_engine_free_space.h"
#include "dbengine/storage/orv_compression.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/byte_order.h"

namespace orv {

namespace {

constexpr char kNotOpened[] = "Error - database file is not opened.";
constexpr int32_t kUnreadableState = 0x7FFFFFFF;

// The header fields that identify a database and its commit, without the page counts and the
// commit marker, which a cut-off commit may already have changed.
std::array<uint8_t, TORVDBHeader::StoredSize> IdentityOf(const uint8_t* header) {
  std::array<uint8_t, TORVDBHeader::StoredSize> id{};
  std::memcpy(id.data(), header, id.size());
  std::fill(id.begin() + 30, id.begin() + 38, 0);  // TotalPageCount, LastUsedPageNo
  id[db_header::WriteChangesState] = 0;
  return id;
}

int32_t NextPageState(int32_t State) {
  const int64_t next = static_cast<int64_t>(State) + 1;
  return next >= LAST_VALID_PAGE_STATE ? 0 : static_cast<int32_t>(next);
}

}  // namespace

// Brackets a file access with the design-time open and close, which only act while the
// components run inside a form designer.
class TORVDiskPageManager::DesignTimeAccess {
 public:
  explicit DesignTimeAccess(TORVDiskPageManager& PageManager) : pm_(PageManager), active_(IsDesignMode()) {
    if (active_) pm_.OpenFileForDesignTime();
  }
  ~DesignTimeAccess() {
    if (!active_) return;
    try {
      pm_.CloseFileForDesignTime();
    } catch (...) {
    }
  }
  DesignTimeAccess(const DesignTimeAccess&) = delete;
  DesignTimeAccess& operator=(const DesignTimeAccess&) = delete;

 private:
  TORVDiskPageManager& pm_;
  bool active_;
};

TORVDiskPageManager::TORVDiskPageManager(TORVMemoryManager& Memory, platform::FileFactory Factory)
    : TORVPageManager(Memory),
      FDatabaseFile(std::make_unique<TORVDatabaseFile>(Factory)),
      FJournal(std::make_unique<TORVRollbackJournal>(Factory)),
      FDBHeader(TORVDBHeader::NewFile()),
      FRandom(std::random_device{}()) {}

TORVDiskPageManager::~TORVDiskPageManager() { CloseDatabase(); }

void TORVDiskPageManager::ResetOffsets() {
  FOffsetToDBHeader = 0;
  FOffsetToCryptoHeader = ORVOffsetToCryptoHeader;
  FOffsetToLockedBytes = ORVOffsetToLockedBytes;
  FOffsetToLastObjectID = ORVOffsetToLastObjectID;
  FOffsetToFirstPage = ORVOffsetToFirstPage;
}

void TORVDiskPageManager::CheckFileOpened(int32_t Code) const {
  if (!FDatabaseFile->IsOpened()) throw EORVException(Code, kNotOpened);
}

// A page size or extent that the maps cannot address would divide by zero or overflow the page
// numbers; such a file is no database this engine can work on.
void TORVDiskPageManager::CheckGeometry(uint16_t PageSize, uint16_t ExtentPageCount) const {
  const int64_t d = static_cast<int64_t>(PageSize) - page_header::Size;
  if (PageSize < ORVMinimumPageSize || ExtentPageCount == 0 || 4 * d * ExtentPageCount >= (INT64_C(1) << 31))
    throw EORVException(20237, "Invalid database format");
}

// ---- File life ----------------------------------------------------------------------------

void TORVDiskPageManager::CreateAndOpenDatabase(const std::string& DatabaseFileName, const TORVPassword& Password,
                                                uint16_t PageSize, uint16_t ExtentPageCount) {
  if (FDatabaseFile->IsOpened())
    throw EORVException(10461, "Error - database file %s is in use.", {FDatabaseFile->FileName()});
  CheckGeometry(PageSize, ExtentPageCount);
  SetPageGeometry(PageSize, page_header::Size);
  FPassword = Password;
  FDatabaseFile->CreateAndOpenFile(DatabaseFileName);
  // The journal of a database that had this name before belongs to nothing now.
  TORVRollbackJournal::RemoveStale(DatabaseFileName);
  FJournal->Bind(DatabaseFileName, false);
  FExclusive = true;
  FMultiUser = false;
  FLockDBHeaderCount = 0;
  ResetOffsets();

  FDBHeader = TORVDBHeader::NewFile();
  FDBHeader.Encrypted = Password.Password.empty() ? 0 : 0xFF;
  FDBHeader.PageSize = PageSize;
  FDBHeader.PageCountInExtent = ExtentPageCount;
  FCryptoHeader = TORVCryptoHeader();
  FLockedBytes = TORVLockedBytes();
  if (FDBHeader.Encrypted) {
    FCryptoHeader.CryptoAlgorithm = Password.CryptoAlgorithm;
    std::uniform_int_distribution<int> byte(0, 254);
    for (auto& b : FCryptoHeader.ControlBlock) b = static_cast<uint8_t>(byte(FRandom));
    FCryptoHeader.ControlBlockCRC = CRC32(0, FCryptoHeader.ControlBlock.data(), ORV_CONTROL_BLOCK_SIZE);
    ORVEncryptBufferChecked(Password.CryptoAlgorithm, FCryptoHeader.ControlBlock.data(), ORV_CONTROL_BLOCK_SIZE,
                            Password.Password);
  }
  SaveDBHeader(true);
  SaveCryptoHeader();
  SaveLockedBytes();
  InitObjectID(LockLastObjectIDRetries, LockLastObjectIDDelay);
  FDatabaseFreeSpaceManager = std::make_unique<TORVDatabaseFreeSpaceManager>(*this);
}

void TORVDiskPageManager::OpenDatabase(const std::string& DatabaseFileName, const TORVPassword& Password,
                                       bool& ReadOnly, bool& RepairNeeded, bool Exclusive, bool& aMultiUser) {
  if (FDatabaseFile->IsOpened())
    throw EORVException(10462, "Error - database file %s is in use.", {FDatabaseFile->FileName()});
  FPassword = Password;
  if (!ReadOnly && platform::FileExists(DatabaseFileName)) ReadOnly = IsFileReadOnly(DatabaseFileName, aMultiUser);
  FExclusive = Exclusive;
  TORVAccessMode access = amReadWrite;
  TORVShareMode share = smShareDenyNone;
  if (ReadOnly) {
    access = amReadOnly;
  } else if (Exclusive) {
    share = smExclusive;
    aMultiUser = false;
  }
  FMultiUser = aMultiUser;
  FDatabaseFile->OpenFile(DatabaseFileName, access, share);
  FJournal->Bind(DatabaseFileName, ReadOnly);
  if (IsDesignMode()) FDatabaseFile->CloseFile();
  FLockDBHeaderCount = 0;
  ResetOffsets();

  // Taking the lock restores a commit that a dead process left unfinished, where the file may
  // be written; a reader only learns that the file needs it.
  if (!TryUsingTimeOut([this] { return LockDBHeader(); }, DBHeaderLockRetries, DBHeaderLockDelay))
    throw EORVException(20230, "Database is locked");
  bool journal_waits = false;
  try {
    DesignTimeAccess access_guard(*this);
    int64_t base = 0;
    FOffsetToDBHeader = FDatabaseFile->FindSignature(base) ? base : 0;
    LoadDBHeader();
    RepairNeeded = FDBHeader.WriteChangesState != WriteChangesFinished || FDBHeader.Version < ORVMinimumDatabaseVersion;
    if (access == amReadOnly) journal_waits = RecoverFromJournal(false, false);
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  RepairNeeded = RepairNeeded || journal_waits;

  if (std::memcmp(FDBHeader.Signature.data(), ORVDatabaseSignature, ORVDatabaseSignatureSize) != 0)
    throw EORVException(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
                        {std::string(FDBHeader.Signature.begin(), FDBHeader.Signature.end()),
                         std::string(ORVDatabaseSignature)});
  CheckGeometry(FDBHeader.PageSize, FDBHeader.PageCountInExtent);
  if (FDBHeader.TotalPageCount < 0) throw EORVException(20237, "Invalid database format");
  SetPageGeometry(FDBHeader.PageSize, page_header::Size);

  FOffsetToCryptoHeader = FOffsetToDBHeader + FDBHeader.HeaderSize;
  FOffsetToLockedBytes = FOffsetToCryptoHeader + TORVCryptoHeader::StoredSize;
  LoadCryptoHeader();
  if (FDBHeader.Encrypted != 0) {
    // The algorithm stored in the file wins over the caller's.
    FPassword.CryptoAlgorithm = static_cast<TORVCryptoAlgorithm>(FCryptoHeader.CryptoAlgorithm);
    ORVDecryptBufferChecked(FPassword.CryptoAlgorithm, FCryptoHeader.ControlBlock.data(), ORV_CONTROL_BLOCK_SIZE,
                            FPassword.Password);
    if (CRC32(0, FCryptoHeader.ControlBlock.data(), ORV_CONTROL_BLOCK_SIZE) != FCryptoHeader.ControlBlockCRC)
      throw EORVException(30445, "Cannot open database - incorrect password");
  }
  if (FOffsetToCryptoHeader + FCryptoHeader.CryptoHeaderSize != FOffsetToLockedBytes)
    throw EORVException(20237, "Invalid database format");
  LoadLockedBytes();
  // The lock bytes of the header and of the table list lie inside the area.
  if (FLockedBytes.LockedByteSize <= OffsetToDBHeaderLockByte) throw EORVException(20237, "Invalid database format");
  FOffsetToLastObjectID = FOffsetToLockedBytes + FLockedBytes.LockedByteSize;
  FOffsetToFirstPage = FOffsetToLastObjectID + 4;
  {
    // A file that ends before its last page lost data: it needs the repair that copies what is
    // left, not page reads that fail one by one.
    DesignTimeAccess access_guard(*this);
    const int64_t expected = FOffsetToFirstPage + static_cast<int64_t>(FDBHeader.TotalPageCount) * FDBHeader.PageSize;
    if (FDatabaseFile->IsOpened() && FDatabaseFile->GetSize() < expected) RepairNeeded = true;
  }
  FDatabaseFreeSpaceManager = std::make_unique<TORVDatabaseFreeSpaceManager>(*this);
}

void TORVDiskPageManager::CloseDatabase() {
  if (FDatabaseFile->IsOpened()) {
    try {
      FDatabaseFile->CloseFile();
    } catch (...) {
    }
  }
  FDatabaseFreeSpaceManager.reset();
  FJournal->Close();
  FLockDBHeaderCount = 0;
}

bool TORVDiskPageManager::IsFileReadOnly(const std::string& FileName, bool& MultiUser) {
  if (platform::IsReadOnlyFile(FileName)) {
    MultiUser = false;
    return true;
  }
  platform::File probe;
  // Single-user: refused while any other handle has the file, which then opens for reading.
  if (probe.Open(FileName, platform::FileAccess::ReadWrite,
                 MultiUser ? platform::FileShare::DenyNone : platform::FileShare::DenyRead) != 0)
    return true;
  uint8_t b = 0;
  bool result = false;
  if (probe.ReadAt(&b, 1, 0).count == 1) result = probe.WriteAt(&b, 1, 0).count != 1;
  probe.Close();
  return result;
}

// ---- Preamble -----------------------------------------------------------------------------

void TORVDiskPageManager::OpenFileForDesignTime() {
  if (IsDesignMode()) FDatabaseFile->OpenFileForDesignTime();
}

void TORVDiskPageManager::CloseFileForDesignTime() {
  if (IsDesignMode()) FDatabaseFile->CloseFileForDesignTime();
}

void TORVDiskPageManager::LoadDBHeader() {
  DesignTimeAccess guard(*this);
  CheckFileOpened(10459);
  uint8_t bytes[TORVDBHeader::StoredSize];
  // Read into a copy: a header that could not be read must never be written back as zeros.
  FDatabaseFile->ReadBuffer(bytes, sizeof bytes, FOffsetToDBHeader, 10464);
  FDBHeader = TORVDBHeader::ReadFrom(bytes);
}

void TORVDiskPageManager::SaveDBHeader(bool PerformExternalAppUpdateCheck) {
  DesignTimeAccess guard(*this);
  CheckFileOpened(10460);
  if (IsDesignMode()) {
    uint8_t bytes[TORVDBHeader::StoredSize];
    FDatabaseFile->ReadBuffer(bytes, sizeof bytes, FOffsetToDBHeader, 20195);
    const TORVDBHeader disk = TORVDBHeader::ReadFrom(bytes);
    if (disk.State != FDBHeader.State && disk.WriteChangesState == WriteChangesStarted && PerformExternalAppUpdateCheck)
      throw EORVException(20196, "Cannot write changes. Database file was modified by external application");
  }
  uint8_t bytes[TORVDBHeader::StoredSize];
  FDBHeader.WriteTo(bytes);
  FDatabaseFile->WriteBuffer(bytes, sizeof bytes, FOffsetToDBHeader, 10462);
}

void TORVDiskPageManager::LoadCryptoHeader() {
  DesignTimeAccess guard(*this);
  CheckFileOpened(30436);
  uint8_t bytes[TORVCryptoHeader::StoredSize];
  FDatabaseFile->ReadBuffer(bytes, sizeof bytes, FOffsetToCryptoHeader, 30439);
  FCryptoHeader = TORVCryptoHeader::ReadFrom(bytes);
}

void TORVDiskPageManager::SaveCryptoHeader() {
  DesignTimeAccess guard(*this);
  CheckFileOpened(30437);
  uint8_t bytes[TORVCryptoHeader::StoredSize];
  FCryptoHeader.WriteTo(bytes);
  FDatabaseFile->WriteBuffer(bytes, sizeof bytes, FOffsetToCryptoHeader, 30438);
}

void TORVDiskPageManager::LoadLockedBytes() {
  DesignTimeAccess guard(*this);
  CheckFileOpened(30441);
  uint8_t bytes[2];
  FDatabaseFile->ReadBuffer(bytes, sizeof bytes, FOffsetToLockedBytes, 30442);
  FLockedBytes.LockedByteSize = static_cast<int16_t>(platform::LoadLE16(bytes));
}

void TORVDiskPageManager::SaveLockedBytes() {
  DesignTimeAccess guard(*this);
  CheckFileOpened(30443);
  uint8_t bytes[TORVLockedBytes::StoredSize];
  FLockedBytes.WriteTo(bytes);
  FDatabaseFile->WriteBuffer(bytes, sizeof bytes, FOffsetToLockedBytes, 30444);
}

// ---- Pages --------------------------------------------------------------------------------

int64_t TORVDiskPageManager::GetPageOffset(int32_t PageNo) const {
  if (PageNo < 0) throw EORVException(10471, "Invalid PageNo = %d", {PageNo});
  return FOffsetToFirstPage + static_cast<int64_t>(PageNo) * FPageSize;
}

void TORVDiskPageManager::ReadPageRegion(void* Buffer, int32_t PageNo, uint16_t Offset, uint16_t Count) {
  DesignTimeAccess guard(*this);
  if (static_cast<int32_t>(Offset) + Count > FPageSize)
    throw EORVException(10476, "Error - invalid page offset = %d, page size = %d",
                        {static_cast<int32_t>(Offset) + Count, FPageSize});
  FDatabaseFile->ReadBuffer(Buffer, Count, GetPageOffset(PageNo) + Offset, 10474);
}

void TORVDiskPageManager::WritePageRegion(const void* Buffer, int32_t PageNo, uint16_t Offset, uint16_t Count) {
  DesignTimeAccess guard(*this);
  if (static_cast<int32_t>(Offset) + Count > FPageSize)
    throw EORVException(10477, "Error - invalid page offset = %d, page size = %d",
                        {static_cast<int32_t>(Offset) + Count, FPageSize});
  FDatabaseFile->WriteBuffer(Buffer, Count, GetPageOffset(PageNo) + Offset, 10475);
}

void TORVDiskPageManager::InternalAddPage(TORVPage& aPage) {
  if (!FDatabaseFreeSpaceManager) throw EORVException(30514, "Cannot add a page: the database file is not opened.");
  aPage.FPageNo = FDatabaseFreeSpaceManager->GetPage(-1);
  aPage.AllocPageBuffer();
}

void TORVDiskPageManager::InternalRemovePage(int32_t PageNo) {
  if (!FDatabaseFreeSpaceManager)
    throw EORVException(30514, "Cannot remove a page: the database file is not opened.");
  InternalWritePageState(PageNo, DELETED_PAGE_STATE);
  FDatabaseFreeSpaceManager->FreePage(PageNo);
}

bool TORVDiskPageManager::InternalReadPage(TORVPage& aPage) {
  DesignTimeAccess guard(*this);
  if (!aPage.FPageBuffer) aPage.AllocPageBuffer();
  uint8_t* buffer = aPage.FPageBuffer;
  if (!FDatabaseFile->ReadBuffer(buffer, FPageSize, GetPageOffset(aPage.FPageNo))) {
    aPage.SetHeaderState(DELETED_PAGE_STATE);
    return false;
  }
  DecodeStoredPage(buffer, aPage.FPageNo, aPage.FEncryptionEnabled);
  aPage.FReloaded = true;
  return true;
}

bool TORVDiskPageManager::ReadPagesPastCache(int32_t SessionID, const std::vector<int32_t>& PageNos,
                                             std::vector<uint8_t>& Buffer) {
  if (PageNos.empty()) return true;
  if (SessionID == -1) throw EORVException(20186, "Invalid Session ID");
  const int32_t first = PageNos.front();
  const int64_t span = static_cast<int64_t>(PageNos.back()) - first + 1;
  if (first < 0 || span < 1) return false;
  const size_t bytes = static_cast<size_t>(span) * FPageSize;
  if (Buffer.size() < bytes) Buffer.resize(bytes);
  {
    DesignTimeAccess guard(*this);
    if (!FDatabaseFile->ReadBuffer(Buffer.data(), static_cast<int64_t>(bytes), GetPageOffset(first))) return false;
  }
  const TORVSessionPageInfo* info = SessionInfo(SessionID);
  for (int32_t page_no : PageNos) {
    uint8_t* image = Buffer.data() + static_cast<size_t>(page_no - first) * FPageSize;
    // The session's own changes are what it must see; everything else committed is in the
    // file (commits write through, and a page another session is changing is not committed).
    const TORVPage* changed = info ? info->DirtyPages->Find(page_no) : nullptr;
    if (!changed) {
      const TORVPage* cached = FSharedPages->Find(page_no);
      if (cached && cached->FIsDirty && cached->FSessionID == SessionID) changed = cached;
    }
    if (changed) {
      if (!changed->FPageBuffer) return false;
      std::memcpy(image, changed->FPageBuffer, FPageSize);
    } else {
      DecodeStoredPage(image, page_no, true);
    }
  }
  return true;
}

void TORVDiskPageManager::DecodeStoredPage(uint8_t* Buffer, int32_t PageNo, bool EncryptionEnabled) {
  const bool system_page = FDatabaseFreeSpaceManager && FDatabaseFreeSpaceManager->IsPagePfsOrEam(PageNo);
  if (FDBHeader.Encrypted != 0 && !system_page && EncryptionEnabled) {
    uint8_t* data = Buffer + page_header::Size;
    ORVDecryptBufferChecked(static_cast<TORVCryptoAlgorithm>(Buffer[page_header::CipherType]), data, FPageDataSize,
                            FPassword.Password);
    if (!FIgnoreCRCErrors && CRC32(0, data, FPageDataSize) != platform::LoadLE32(Buffer + page_header::CRC32))
      throw EORVException(30446, "Decrypt page error. Check CRC failed. PageNo: %d", {PageNo});
  }
}

void TORVDiskPageManager::InternalWritePage(TORVPage& aPage) {
  DesignTimeAccess guard(*this);
  if (!aPage.FPageBuffer) throw EORVException(30514, "Nil pointer occured");
  uint8_t* buffer = aPage.FPageBuffer;
  aPage.SetHeaderState(NextPageState(aPage.GetHeaderState()));
  const bool system_page = FDatabaseFreeSpaceManager && FDatabaseFreeSpaceManager->IsPagePfsOrEam(aPage.FPageNo);
  const int64_t position = GetPageOffset(aPage.FPageNo);
  if (FDBHeader.Encrypted != 0 && !system_page && aPage.FEncryptionEnabled) {
    buffer[page_header::CipherType] = FPassword.CryptoAlgorithm;
    platform::StoreLE32(buffer + page_header::CRC32, CRC32(0, buffer + page_header::Size, FPageDataSize));
    // Enciphered in a copy: the cached page stays plain whatever happens to the write.
    std::vector<uint8_t> stored(buffer, buffer + FPageSize);
    ORVEncryptBufferChecked(FPassword.CryptoAlgorithm, stored.data() + page_header::Size, FPageDataSize,
                            FPassword.Password);
    FDatabaseFile->WriteBuffer(stored.data(), FPageSize, position, 10469);
  } else {
    FDatabaseFile->WriteBuffer(buffer, FPageSize, position, 10469);
  }
}

TORVPage* TORVDiskPageManager::GetPage(int32_t SessionID, int32_t PageNo, uint16_t PageType, bool SynchronizeAllowed) {
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(PageNo);
  return TORVPageManager::GetPage(SessionID, PageNo, PageType, SynchronizeAllowed);
}

void TORVDiskPageManager::RemovePage(int32_t SessionID, int32_t PageNo) {
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(PageNo);
  TORVPageManager::RemovePage(SessionID, PageNo);
}

int32_t TORVDiskPageManager::GetPageCount() {
  DesignTimeAccess guard(*this);
  if (!LockDBHeader()) throw EORVException(20236, "Database is locked");
  try {
    LoadDBHeader();
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  FPageCount = FDBHeader.TotalPageCount;
  return FDBHeader.TotalPageCount;
}

bool TORVDiskPageManager::IsSafeNotToSyncPage(int32_t SessionID, TORVPage& Page) {
  if (!FMultiUser) return true;
  int32_t work_state = 0, work_table = -1, page_state = 0, page_table = -1;
  if (!FTablePagesCacheManager || !FTablePagesCacheManager->GetWorkTableState(SessionID, work_state, work_table))
    return false;
  return Page.GetTableState(SessionID, page_state, &page_table) && page_state == work_state && page_table == work_table;
}

void TORVDiskPageManager::UpdatePageTableState(int32_t SessionID, TORVPage& Page) {
  int32_t work_state = 0, work_table = -1;
  if (FMultiUser && FTablePagesCacheManager &&
      FTablePagesCacheManager->GetWorkTableState(SessionID, work_state, work_table))
    Page.SetTableState(SessionID, work_state, work_table);
}

int32_t TORVDiskPageManager::InternalReadPageState(int32_t PageNo) {
  try {
    DesignTimeAccess guard(*this);
    uint8_t bytes[4];
    FDatabaseFile->ReadBuffer(bytes, 4, GetPageOffset(PageNo) + page_header::State, 20197);
    return static_cast<int32_t>(platform::LoadLE32(bytes));
  } catch (...) {
    return kUnreadableState;
  }
}

void TORVDiskPageManager::InternalWritePageState(int32_t PageNo, int32_t PageState) {
  DesignTimeAccess guard(*this);
  uint8_t bytes[4];
  platform::StoreLE32(bytes, static_cast<uint32_t>(PageState));
  FDatabaseFile->WriteBuffer(bytes, 4, GetPageOffset(PageNo) + page_header::State, 20198);
}

void TORVDiskPageManager::WriteEmptyPage(int32_t PageNo) {
  TORVPage page(this);
  page.FPageNo = PageNo;
  page.AllocPageBuffer();
  page.SetHeaderPageType(ptEmpty);
  InternalWritePage(page);
}

// ---- Commit -------------------------------------------------------------------------------

void TORVDiskPageManager::CollectCommitRegions(int32_t SessionID, TORVJournalContent& Content) {
  const TORVSessionPageInfo* info = SessionInfo(SessionID);
  std::set<int32_t> pages;
  for (int32_t i = 0; i < info->DirtyPages->Count(); ++i) pages.insert(info->DirtyPages->PageAt(i)->FPageNo);
  for (int32_t i = 0; i < info->RemovedPageNumbers->ItemCount; ++i) {
    const int32_t p = (*info->RemovedPageNumbers)[i];
    pages.insert(p);
    // Releasing the page rewrites its bits in the maps.
    if (FDatabaseFreeSpaceManager && p >= 0 && p < FDBHeader.TotalPageCount) {
      pages.insert(FDatabaseFreeSpaceManager->PfsPageNoForPageNo(p));
      pages.insert(FDatabaseFreeSpaceManager->EamPageNoForPageNo(p));
    }
  }
  Content.HeaderOffset = FOffsetToDBHeader;
  Content.HeaderState = FDBHeader.State;
  Content.FileLength = FDatabaseFile->GetSize();
  TORVJournalRegion header;
  header.PageNo = -1;
  header.Offset = FOffsetToDBHeader;
  header.Data.resize(TORVDBHeader::StoredSize);
  FDatabaseFile->ReadBuffer(header.Data.data(), TORVDBHeader::StoredSize, FOffsetToDBHeader, 30515);
  Content.Regions.push_back(std::move(header));
  for (int32_t p : pages) {
    // A number outside the file has no before-image; whatever a failing commit wrote there is
    // cut off again with the file length.
    if (p < 0 || p >= FDBHeader.TotalPageCount) continue;
    TORVJournalRegion region;
    region.PageNo = p;
    region.Offset = GetPageOffset(p);
    region.Data.assign(FPageSize, 0);
    FDatabaseFile->ReadAvailable(region.Data.data(), FPageSize, region.Offset);
    Content.Regions.push_back(std::move(region));
  }
}

void TORVDiskPageManager::ApplyChanges(int32_t SessionID) {
  ++FChangeGeneration;
  const TORVSessionPageInfo* info = SessionInfo(SessionID);
  if (!info || (info->DirtyPages->Count() == 0 && info->AddedPageNumbers->ItemCount == 0 &&
                info->RemovedPageNumbers->ItemCount == 0))
    return;
  // The checks of the page cache, made before the file is touched.
  for (int32_t i = 0; i < SharedPages().Count(); ++i) {
    const TORVPage* p = SharedPages().PageAt(i);
    if (p->FSessionID == SessionID && p->FUseCount > 0) throw EORVException(20152, "Some session pages not released");
  }
  for (int32_t i = 0; i < info->DirtyPages->Count(); ++i) {
    const TORVPage* p = info->DirtyPages->PageAt(i);
    if (!p->FIsDirty) throw EORVException(20085, "Invalid page");
    if (p->FUseCount > 0) throw EORVException(20086, "Cannot write used page");
  }

  DesignTimeAccess guard(*this);
  if (!TryUsingTimeOut([this] { return LockDBHeader(); }, DBHeaderLockRetries, DBHeaderLockDelay))
    throw EORVException(20213, "Database is locked");
  struct HeaderLock {
    TORVDiskPageManager* pm;
    ~HeaderLock() {
      try {
        pm->UnlockDBHeader();
      } catch (...) {
      }
    }
  } header_lock{this};

  LoadDBHeader();
  // A file that a dead process left mid-commit without a journal keeps its repair mark.
  const bool keep_repair_mark = FDBHeader.WriteChangesState != WriteChangesFinished;
  {
    TORVJournalContent journal;
    CollectCommitRegions(SessionID, journal);
    try {
      FJournal->Write(journal);
    } catch (...) {
      FJournal->Clear();
      throw;
    }
  }
  const std::vector<int32_t> added(info->AddedPageNumbers->Items.begin(),
                                   info->AddedPageNumbers->Items.begin() + info->AddedPageNumbers->ItemCount);
  const std::vector<int32_t> removed(info->RemovedPageNumbers->Items.begin(),
                                     info->RemovedPageNumbers->Items.begin() + info->RemovedPageNumbers->ItemCount);
  try {
    FDBHeader.WriteChangesState = WriteChangesStarted;
    SaveDBHeader(true);
    FInCommit = true;
    TORVPageManager::ApplyChanges(SessionID);
    FInCommit = false;
    FDatabaseFile->FlushFileBuffers();
    FDBHeader.State = static_cast<int32_t>(static_cast<uint32_t>(FDBHeader.State) + 1);
    FDBHeader.WriteChangesState = keep_repair_mark ? WriteChangesStarted : WriteChangesFinished;
    SaveDBHeader(false);
    FDatabaseFile->FlushFileBuffers();
  } catch (...) {
    FInCommit = false;
    // Put the file back at once; when that fails too, the journal waits for the next process
    // that takes the header lock.
    try {
      RecoverFromJournal(true, true);
    } catch (...) {
    }
    // The session still owns its new pages and its releases: the caller rolls back.
    if (TORVSessionPageInfo* mutable_info = MutableSessionInfo(SessionID)) {
      mutable_info->AddedPageNumbers->SetSize(0);
      for (int32_t p : added) mutable_info->AddedPageNumbers->Append(p);
      mutable_info->RemovedPageNumbers->SetSize(0);
      for (int32_t p : removed) mutable_info->RemovedPageNumbers->Append(p);
    }
    throw;
  }
  FJournal->Clear();
  // The commit is complete: a shortening it put off may run now; a failure there only leaves
  // the file longer than it needs to be.
  if (FDatabaseFreeSpaceManager && FDatabaseFreeSpaceManager->TruncatePending()) {
    try {
      FDatabaseFreeSpaceManager->TruncateAfterCommit();
    } catch (...) {
    }
  }
}

bool TORVDiskPageManager::RecoverFromJournal(bool Restore, bool Force) {
  if (!FJournal->HasContent()) return false;
  const bool writable = FDatabaseFile->IsOpened() && FDatabaseFile->AccessMode() == amReadWrite;
  TORVJournalContent content;
  if (!FJournal->Read(content)) {
    // Cut off while it was written: the database file was not touched yet.
    if (Restore && writable) FJournal->Clear();
    return false;
  }
  bool belongs = Force;
  if (!belongs) {
    uint8_t disk[TORVDBHeader::StoredSize];
    if (FDatabaseFile->ReadAvailable(disk, sizeof disk, content.HeaderOffset) == TORVDBHeader::StoredSize) {
      for (const auto& r : content.Regions) {
        if (r.PageNo == -1 && r.Offset == content.HeaderOffset && r.Data.size() == TORVDBHeader::StoredSize) {
          const TORVDBHeader journal_header = TORVDBHeader::ReadFrom(r.Data.data());
          // The commit counter moves only when a commit completes: equal means unfinished.
          belongs = IdentityOf(disk) == IdentityOf(r.Data.data()) && journal_header.State == content.HeaderState;
          break;
        }
      }
    }
  }
  if (!belongs) {
    // Left behind by a commit that completed: nothing to put back.
    if (Restore && writable) FJournal->Clear();
    return false;
  }
  if (!Restore || !writable) return true;
  // Pages first, the header last, so that a restore cut off in turn is simply done again.
  for (const auto& r : content.Regions)
    if (r.PageNo >= 0)
      FDatabaseFile->WriteBuffer(r.Data.data(), static_cast<int64_t>(r.Data.size()), r.Offset, 30512);
  for (const auto& r : content.Regions)
    if (r.PageNo < 0)
      FDatabaseFile->WriteBuffer(r.Data.data(), static_cast<int64_t>(r.Data.size()), r.Offset, 30512);
  if (FDatabaseFile->GetSize() != content.FileLength) FDatabaseFile->SetSize(content.FileLength);
  FDatabaseFile->FlushFileBuffers();
  FJournal->Clear();
  for (const auto& r : content.Regions)
    if (r.PageNo >= 0) ForgetCachedPage(r.PageNo);
  if (content.HeaderOffset == FOffsetToDBHeader) LoadDBHeader();
  return true;
}

// ---- Locks --------------------------------------------------------------------------------

bool TORVDiskPageManager::LockDBHeader() {
  if (FLockDBHeaderCount > 0) {
    ++FLockDBHeaderCount;
    return true;
  }
  DesignTimeAccess guard(*this);
  const int64_t byte = FOffsetToLockedBytes + OffsetToDBHeaderLockByte;
  if (!FDatabaseFile->LockByte(byte, 1)) return false;
  FLockDBHeaderCount = 1;
  if (FDatabaseFile->AccessMode() == amReadWrite) {
    try {
      RecoverFromJournal(true, false);
    } catch (...) {
      FLockDBHeaderCount = 0;
      FDatabaseFile->UnlockByte(byte, 1);
      throw;
    }
  }
  return true;
}

bool TORVDiskPageManager::UnlockDBHeader() {
  if (FLockDBHeaderCount > 1) {
    --FLockDBHeaderCount;
    return true;
  }
  DesignTimeAccess guard(*this);
  if (!FDatabaseFile->IsOpened()) return false;
  const bool released = FDatabaseFile->UnlockByte(FOffsetToLockedBytes + OffsetToDBHeaderLockByte, 1);
  if (released) FLockDBHeaderCount = 0;
  return released;
}

bool TORVDiskPageManager::LockFileByte(int64_t Offset) {
  DesignTimeAccess guard(*this);
  return FDatabaseFile->LockByte(Offset, 1);
}

bool TORVDiskPageManager::UnlockFileByte(int64_t Offset) {
  DesignTimeAccess guard(*this);
  return FDatabaseFile->UnlockByte(Offset, 1);
}

bool TORVDiskPageManager::LockTables() { return LockFileByte(FOffsetToLockedBytes + OffsetToTablesLockByte); }
bool TORVDiskPageManager::UnlockTables() { return UnlockFileByte(FOffsetToLockedBytes + OffsetToTablesLockByte); }
bool TORVDiskPageManager::LockFreeSpaceManager() {
  return LockFileByte(FOffsetToLockedBytes + OffsetToFreeSpaceManagerLockByte);
}
bool TORVDiskPageManager::UnlockFreeSpaceManager() {
  return UnlockFileByte(FOffsetToLockedBytes + OffsetToFreeSpaceManagerLockByte);
}
bool TORVDiskPageManager::LockLastObjectID() { return LockFileByte(FOffsetToLastObjectID); }
bool TORVDiskPageManager::UnlockLastObjectID() { return UnlockFileByte(FOffsetToLastObjectID); }
bool TORVDiskPageManager::LockPageByte(int32_t PageNo, uint16_t Offset) {
  return LockFileByte(GetPageOffset(PageNo) + Offset);
}
bool TORVDiskPageManager::UnlockPageByte(int32_t PageNo, uint16_t Offset) {
  return UnlockFileByte(GetPageOffset(PageNo) + Offset);
}

bool TORVDiskPageManager::IsPageByteLocked(int32_t PageNo, uint16_t Offset) {
  DesignTimeAccess guard(*this);
  return FDatabaseFile->IsByteLocked(GetPageOffset(PageNo) + Offset);
}

bool TORVDiskPageManager::IsPageRegionLocked(int32_t PageNo, uint16_t Offset, uint16_t Count) {
  DesignTimeAccess guard(*this);
  return FDatabaseFile->IsRegionLocked(GetPageOffset(PageNo) + Offset, Count);
}

// ---- Size and object numbers --------------------------------------------------------------

void TORVDiskPageManager::ExtendFile(int32_t PageCount) {
  if (PageCount < 1) return;
  DesignTimeAccess guard(*this);
  const int64_t end = FOffsetToFirstPage + static_cast<int64_t>(FDBHeader.TotalPageCount) * FPageSize;
  FDatabaseFile->AllocateSpace(end, static_cast<int64_t>(PageCount) * FPageSize, 30510);
  FDBHeader.TotalPageCount += PageCount;
}

void TORVDiskPageManager::TruncateFile(int32_t PageCount) {
  if (PageCount < 1 || FDBHeader.TotalPageCount - PageCount < 0) return;
  DesignTimeAccess guard(*this);
  // The header first: a file longer than its pages is harmless, a shorter one lost pages.
  FDBHeader.TotalPageCount -= PageCount;
  SaveDBHeader(true);
  FDatabaseFile->SetSize(FOffsetToFirstPage + static_cast<int64_t>(FDBHeader.TotalPageCount) * FPageSize);
}

void TORVDiskPageManager::TruncateDatabase() {
  // Through the free-space manager: under the header lock, with the counts of the file, and
  // with the map bits of the pages cut off cleared.
  if (FDatabaseFreeSpaceManager) {
    FDatabaseFreeSpaceManager->TruncateToLastUsed();
    return;
  }
  const int32_t n = FDBHeader.TotalPageCount - 1 - FDBHeader.LastUsedPageNo;
  if (n > 0) TruncateFile(n);
}

int32_t TORVDiskPageManager::GetNextObjectID(int32_t /*TryCount*/, int32_t /*DelayMS*/) {
  CheckFileOpened(30399);
  DesignTimeAccess guard(*this);
  if (!TryUsingTimeOut([this] { return LockLastObjectID(); }, LockLastObjectIDRetries, LockLastObjectIDDelay))
    throw EORVException(30401, "Cannot get NextObjectID. File area is Locked.");
  int32_t result = 0;
  try {
    uint8_t bytes[4];
    FDatabaseFile->ReadBuffer(bytes, 4, FOffsetToLastObjectID, 30400);
    result = static_cast<int32_t>(platform::LoadLE32(bytes) + 1);
    if (FDatabaseFile->AccessMode() == amReadWrite) {
      platform::StoreLE32(bytes, static_cast<uint32_t>(result));
      FDatabaseFile->WriteBuffer(bytes, 4, FOffsetToLastObjectID, 30404);
    } else {
      // A reader cannot store the number; a random distance keeps two readers apart.
      result += std::uniform_int_distribution<int32_t>(0, 9999)(FRandom);
    }
  } catch (...) {
    UnlockLastObjectID();
    throw;
  }
  UnlockLastObjectID();
  return result;
}

void TORVDiskPageManager::InitObjectID(int32_t /*TryCount*/, int32_t /*DelayMS*/) {
  DesignTimeAccess guard(*this);
  if (!TryUsingTimeOut([this] { return LockLastObjectID(); }, LockLastObjectIDRetries, LockLastObjectIDDelay)) return;
  try {
    if (FDatabaseFile->AccessMode() == amReadWrite) {
      const uint8_t zero[4] = {0, 0, 0, 0};
      FDatabaseFile->WriteBuffer(zero, 4, FOffsetToLastObjectID, 30406);
    }
  } catch (...) {
    UnlockLastObjectID();
    throw;
  }
  UnlockLastObjectID();
}

}  // namespace orv
