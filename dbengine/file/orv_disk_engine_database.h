#pragma once
// One database file as one process sees it: the disk kind of the storage engine's database
// data. All sessions of the process that connect to the file under one session name share it.
// It creates new files, opens the file at the first connect and closes it at the last
// disconnect, numbers the sessions through the sessions file (multi-user: one byte each;
// single-user: the process holds every byte, or, when another process does, works read-only),
// hands out object ids from the file, keeps the table list, and commits and rolls back the
// sessions' changes together with their table locks.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/file/orv_disk_engine_locks.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/file/orv_disk_engine_pages_cache_state.h"
#include "dbengine/file/orv_disk_engine_system_files.h"
#include "dbengine/file/orv_security.h"
#include "dbengine/storage/orv_base_engine.h"

namespace orv {

class TORVDiskDatabaseData : public TORVDatabaseData {
 public:
  // The file is FDatabaseName; files are made by Factory (plain files when empty).
  explicit TORVDiskDatabaseData(platform::FileFactory Factory = {});
  ~TORVDiskDatabaseData() override;

  // ---- Storage-kind operations ----
  // Opens the file when it is not open yet, then numbers the session (multi-user: a free slot
  // of the sessions file; single-user: 0). A session of the other mode than the open file:
  // 20235.
  void ConnectSession(TORVBaseSession* Session) override;
  // Gives the session's slot back (the process's single-user hold with its last session),
  // rolls back a transaction it left open, and closes the file after the last session.
  void DisconnectSession(TORVBaseSession* Session) override;
  // The names of all tables of the file, in list order.
  void GetTablesList(std::vector<std::string>& List) override;
  // A new file with the defaults set on this object, left closed.
  void CreateDatabase() override;
  TORVTableData* CreateTableData(TORVCursor* Cursor) override;
  int32_t GetNewObjectId() override;
  // Multi-user: the session's transaction locks become ltRW locks first (refused: 20233) and
  // are released afterwards.
  void Commit(int32_t SessionID, bool DoFlushBuffers) override;
  void Rollback(int32_t SessionID) override;
  void FlushBuffers() override;

  // ---- File ----
  void OpenDatabase(TORVBaseSession* Session, bool Exclusive, bool& RepairNeeded);
  void CloseDatabase();
  bool IsOpened() const { return FDiskPageManager != nullptr && FDiskPageManager->GetIsOpened(); }
  void TruncateDatabase();
  int32_t GetDBFileConnectionsCount();
  TORVPassword* GetPassword() { return &FPassword; }
  bool GetEncrypted() const;
  bool GetSuppressDBHeaderErrors() const;
  void SetSuppressDBHeaderErrors(bool Value);

  // ---- Table list (names in Windows-1252) ----
  // The changes below reload the list first (synchronised with other processes' commits), so
  // that a table another process listed meanwhile is neither erased nor added twice, then save
  // it for the system session; the caller holds LockTables and commits the system session.
  // Listed already: 30395.
  void AddTable(int32_t TableID, const std::string& TableName, int32_t MetadataFilePageNo,
                int32_t MostUpdatedFilePageNo, int32_t LocksFilePageNo);
  // Looks in the list as last loaded, then in the file's current one. Not listed: 30396.
  void OpenTable(const std::string& TableName, int32_t& TableID, int32_t& MetadataFilePageNo,
                 int32_t& MostUpdatedFilePageNo, int32_t& LocksFilePageNo);
  void RemoveTable(const std::string& TableName);
  void RenameTable(const std::string& TableName, const std::string& NewTableName);
  // The file-wide lock that serialises changes of the table list between processes (200 tries
  // of 20 ms; refused: 20210; not released: 20211).
  void LockTables();
  void UnlockTables();

  // ---- What the disk tables work with ----
  TORVDiskPageManager* GetDiskPageManager() const { return FDiskPageManager.get(); }
  TORVDatabaseTableLockManager* GetTableLockManager() const { return FTableLockManager.get(); }
  TORVDiskTablePagesCacheManager* GetTablePagesCacheManager() const { return LTablePagesCacheManager; }
  TORVTableListFile* GetTableListFile() const { return FTableListFile.get(); }
  TORVActiveSessionsFile* GetActiveSessionsFile() const { return FActiveSessionsFile.get(); }
  TORVSystemDirectory* GetSystemDirectory() const { return FSystemDir.get(); }
  bool SingleUserConnected() const { return FSingleUserConnected; }

  // Set before CreateDatabase or the first connect; read from the file when it is opened.
  TORVPassword FPassword;
  int32_t FMaxSessionCount = DefaultMaxSessionCount;
  int32_t FPageSize = DefaultPageSize;
  int32_t FPageCountInExtent = DefaultExtentPageCount;

 private:
  TORVDiskPageManager& NewPageManager();
  TORVTableListFile& TableList(int32_t NilCode) const;
  void FreeFileObjects();

  platform::FileFactory FFactory;
  std::unique_ptr<TORVDiskPageManager> FDiskPageManager;
  std::unique_ptr<TORVSystemDirectory> FSystemDir;
  std::unique_ptr<TORVActiveSessionsFile> FActiveSessionsFile;
  std::unique_ptr<TORVTableListFile> FTableListFile;
  std::unique_ptr<TORVDatabaseTableLockManager> FTableLockManager;
  TORVDiskTablePagesCacheManager* LTablePagesCacheManager = nullptr;  // owned by the page manager
  bool FSingleUserConnected = false;
};

}  // namespace orv
