#pragma once
// The page manager of one database file: the page cache of the storage core with pages read
// from and written to the file (each page's data enciphered in an encrypted database, with the
// CRC of its plain data in the page header), pages numbered by the free-space manager, and the
// commit of a session's pages as a protected write:
//
//   1. the file-header lock is taken (whoever takes it first repairs a commit that a dead
//      process left unfinished, from the rollback journal);
//   2. the journal receives the header, the file length and the before-image of every page the
//      commit overwrites, and goes to the disk;
//   3. the header says WriteChangesState 1, the pages are written and go to the disk;
//   4. the header says WriteChangesState 2 with the commit counter moved on, and goes to the
//      disk; the journal is emptied.
//
// A failing commit puts the file back from the journal at once; a commit cut off by the end of
// its process is put back by the next process that takes the header lock. The file is never
// shortened inside a commit. A file left with WriteChangesState 1 and no journal that belongs
// to it is reported as needing repair when it is opened, and commits keep that mark.
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "dbengine/file/orv_disk_engine_file.h"
#include "dbengine/file/orv_disk_engine_journal.h"
#include "dbengine/file/orv_disk_engine_layout.h"
#include "dbengine/file/orv_security.h"
#include "dbengine/storage/orv_page.h"

namespace orv {

class TORVDatabaseFreeSpaceManager;

// What the page manager asks of the per-session table state of the disk tables: whether the
// session's current work table is locked against changes with its most-updated data loaded,
// which table that is and which table state it then has. Cached pages seen under that table
// and state need no check against the file. (The table belongs to the mark: table states are
// small counters, equal in many tables, and a page freed by one table may serve another.)
class TORVWorkTableStateSource {
 public:
  virtual ~TORVWorkTableStateSource() = default;
  virtual bool GetWorkTableState(int32_t SessionID, int32_t& TableState, int32_t& TableID) = 0;
};

class TORVDiskPageManager : public TORVPageManager {
 public:
  // Files (the database and its journal) are made by Factory; plain files when empty.
  explicit TORVDiskPageManager(TORVMemoryManager& Memory = MemoryManager(), platform::FileFactory Factory = {});
  ~TORVDiskPageManager() override;

  // ---- File life ----
  // Creates the file and writes its preamble. Already open: 10461; PageSize below 512, no pages
  // per extent, or free-space maps beyond 2^31 pages: 20237.
  void CreateAndOpenDatabase(const std::string& DatabaseFileName, const TORVPassword& Password, uint16_t PageSize,
                             uint16_t ExtentPageCount);
  // Opens and checks an existing file; ReadOnly, RepairNeeded and aMultiUser tell how.
  void OpenDatabase(const std::string& DatabaseFileName, const TORVPassword& Password, bool& ReadOnly,
                    bool& RepairNeeded, bool Exclusive, bool& aMultiUser);
  // Closes the file (errors swallowed) and frees the free-space manager.
  void CloseDatabase();
  bool IsFileReadOnly(const std::string& FileName, bool& MultiUser);
  bool GetIsOpened() const { return FDatabaseFile->IsOpened(); }
  TORVDBHeader* GetDbHeader() { return &FDBHeader; }
  TORVPassword* GetPassword() { return &FPassword; }
  bool GetEncrypted() const { return FDBHeader.Encrypted != 0; }
  const TORVCryptoHeader& CryptoHeader() const { return FCryptoHeader; }
  const TORVLockedBytes& LockedBytes() const { return FLockedBytes; }
  bool Exclusive() const { return FExclusive; }
  bool ReadOnly() const { return FDatabaseFile->IsOpened() && FDatabaseFile->AccessMode() == amReadOnly; }

  // ---- Preamble I/O ----
  void LoadDBHeader();
  void SaveDBHeader(bool PerformExternalAppUpdateCheck);
  void LoadCryptoHeader();
  void SaveCryptoHeader();
  void LoadLockedBytes();
  void SaveLockedBytes();
  void OpenFileForDesignTime();
  void CloseFileForDesignTime();

  // ---- Pages ----
  void InternalAddPage(TORVPage& aPage) override;
  void InternalRemovePage(int32_t PageNo) override;
  bool InternalReadPage(TORVPage& aPage) override;
  void InternalWritePage(TORVPage& aPage) override;
  TORVPage* GetPage(int32_t SessionID, int32_t PageNo, uint16_t PageType, bool SynchronizeAllowed) override;
  void RemovePage(int32_t SessionID, int32_t PageNo) override;
  int32_t GetPageCount() override;
  void ApplyChanges(int32_t SessionID) override;
  bool IsSafeNotToSyncPage(int32_t SessionID, TORVPage& Page) override;
  void UpdatePageTableState(int32_t SessionID, TORVPage& Page) override;
  bool SynchronizationEnabled() const override { return FMultiUser; }
  int32_t InternalReadPageState(int32_t PageNo) override;
  void InternalWritePageState(int32_t PageNo, int32_t PageState);
  void WriteEmptyPage(int32_t PageNo);
  // The pages PageNos (ascending) as the session sees them, for a reader that goes over them
  // once (a forward scan): the span from the first to the last comes from the file with one
  // read into Buffer (grown to hold it), page p at (p - PageNos[0]) * PageSize; the listed pages
  // are deciphered, the session's changed ones replaced by its copies. The cache is neither
  // asked nor filled, so the scan pushes out none of the pages other work keeps using; the
  // file holds every committed page (commits write through), and a page another session is
  // changing is not committed. The other pages of the span are left as stored. False when the
  // file cannot be read; a page that fails its check raises as in a read of it alone.
  bool ReadPagesPastCache(int32_t SessionID, const std::vector<int32_t>& PageNos, std::vector<uint8_t>& Buffer);
  // Raw transfers inside one page, past the cache and the cipher.
  int64_t GetPageOffset(int32_t PageNo) const;
  void ReadPageRegion(void* Buffer, int32_t PageNo, uint16_t Offset, uint16_t Count);
  void WritePageRegion(const void* Buffer, int32_t PageNo, uint16_t Offset, uint16_t Count);

  // ---- Locks ----
  bool LockDBHeader();
  bool UnlockDBHeader();
  bool LockTables();
  bool UnlockTables();
  bool LockFreeSpaceManager();
  bool UnlockFreeSpaceManager();
  bool LockLastObjectID();
  bool UnlockLastObjectID();
  bool LockPageByte(int32_t PageNo, uint16_t Offset);
  bool UnlockPageByte(int32_t PageNo, uint16_t Offset);
  bool IsPageByteLocked(int32_t PageNo, uint16_t Offset);
  bool IsPageRegionLocked(int32_t PageNo, uint16_t Offset, uint16_t Count);

  // ---- Size and object numbers ----
  // Grows the file to hold TotalPageCount + PageCount pages and reserves their disk space (a
  // full disk fails here, 30510), then counts them in the header copy (written by the caller).
  void ExtendFile(int32_t PageCount);
  // Removes PageCount pages from the end: the header first, then the file.
  void TruncateFile(int32_t PageCount);
  void TruncateDatabase();
  int32_t GetNextObjectID(int32_t TryCount, int32_t DelayMS);
  void InitObjectID(int32_t TryCount, int32_t DelayMS);

  TORVDatabaseFreeSpaceManager* FreeSpaceManager() const { return FDatabaseFreeSpaceManager.get(); }
  TORVDatabaseFile& DatabaseFile() { return *FDatabaseFile; }
  const std::string& JournalFileName() const { return FJournal->FileName(); }
  // True while a commit writes its pages (the file is then never shortened).
  bool InCommit() const { return FInCommit; }
  int64_t OffsetToDBHeader() const { return FOffsetToDBHeader; }
  int64_t OffsetToLockedBytes() const { return FOffsetToLockedBytes; }
  int64_t OffsetToLastObjectID() const { return FOffsetToLastObjectID; }
  int64_t OffsetToFirstPage() const { return FOffsetToFirstPage; }

  // The table state of the disk tables (set by the disk database; none: every cached page is
  // checked against the file in multi-user mode).
  void SetTablePagesCacheManager(std::unique_ptr<TORVWorkTableStateSource> Manager) {
    FTablePagesCacheManager = std::move(Manager);
  }
  TORVWorkTableStateSource* GetTablePagesCacheManager() const { return FTablePagesCacheManager.get(); }

  // Whether a journal that belongs to the header on disk is waiting to be restored; with
  // Restore and write access it is restored. Called with the header lock held.
  bool RecoverFromJournal(bool Restore, bool Force);

 private:
  class DesignTimeAccess;
  void CheckFileOpened(int32_t Code) const;
  // Deciphers and checks the stored bytes of page PageNo in place.
  void DecodeStoredPage(uint8_t* Buffer, int32_t PageNo, bool EncryptionEnabled);
  void CheckGeometry(uint16_t PageSize, uint16_t ExtentPageCount) const;
  void ResetOffsets();
  void CollectCommitRegions(int32_t SessionID, TORVJournalContent& Content);
  bool LockFileByte(int64_t Offset);
  bool UnlockFileByte(int64_t Offset);

  std::unique_ptr<TORVDatabaseFreeSpaceManager> FDatabaseFreeSpaceManager;
  std::unique_ptr<TORVDatabaseFile> FDatabaseFile;
  std::unique_ptr<TORVRollbackJournal> FJournal;
  TORVDBHeader FDBHeader;
  TORVCryptoHeader FCryptoHeader;
  TORVPassword FPassword;
  TORVLockedBytes FLockedBytes;
  int32_t FLockDBHeaderCount = 0;
  bool FExclusive = false;
  std::unique_ptr<TORVWorkTableStateSource> FTablePagesCacheManager;
  int64_t FOffsetToDBHeader = 0;
  int64_t FOffsetToCryptoHeader = ORVOffsetToCryptoHeader;
  int64_t FOffsetToLockedBytes = ORVOffsetToLockedBytes;
  int64_t FOffsetToLastObjectID = ORVOffsetToLastObjectID;
  int64_t FOffsetToFirstPage = ORVOffsetToFirstPage;
  bool FInCommit = false;
  std::minstd_rand FRandom;
};

}  // namespace orv
