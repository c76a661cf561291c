#pragma once
// The three small files every database has, all internal files worked on by the system session:
//   - the system directory, a transacted file at page 2 that says where the other two begin;
//   - the sessions file, a direct-access file with one byte per possible connection: a
//     multi-user session holds a lock on one byte for as long as it is connected, and the
//     byte's position is its session id; a single-user process holds them all;
//   - the table list, a transacted file with one 272-byte item per table (its name in
//     Windows-1252, its id and the first pages of its three internal files).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/file/orv_disk_engine_internal_files.h"
#include "dbengine/file/orv_disk_engine_layout.h"

namespace orv {

class TORVDiskPageManager;

class TORVSystemDirectory {
 public:
  explicit TORVSystemDirectory(TORVDiskPageManager& PageManager);
  ~TORVSystemDirectory();

  // Creates the directory file for the system session; it must land on page 2 (30392).
  void CreateDirectory();
  // Registers a file (in memory, until SaveDirectory).
  void CreateFile(TORVDBFileType FileType, int32_t FirstPageNo);
  void SaveDirectory();
  void LoadDirectory();
  // The first page of the first file of that type; -1 when there is none.
  int32_t GetFileFirstPageNo(TORVDBFileType FileType) const;
  const std::vector<TORVSystemDirectoryListItem>& Items() const { return FFileList; }

 private:
  TORVDiskPageManager& LPageManager;
  std::unique_ptr<TORVInternalDBTransactedAccessFile> FHandle;
  std::vector<TORVSystemDirectoryListItem> FFileList;
};

class TORVActiveSessionsFile {
 public:
  explicit TORVActiveSessionsFile(TORVDiskPageManager& PageManager);
  ~TORVActiveSessionsFile();

  // A sessions file of aMaxSessionCount bytes; its first page (the file is not kept open).
  int32_t CreateFile(int32_t aMaxSessionCount);
  void OpenFile(int32_t aStartPageNo);
  void CloseFile();
  int32_t GetStartPageNo() const;
  int32_t GetMaxSessionCount() const { return FMaxSessionCount; }

  // Every operation below runs under the file's mutex, taken with the standard wait. A mutex
  // that cannot be taken stops the operation before it touches a session byte: 20094 for a
  // connect, 20095 for a disconnect, 30484 for the count. A mutex that cannot be released:
  // 20093, 20096, 20240, 20241, 30484 "Cannot unlock sessions file".

  // The first free session byte, locked for the session: its number. Not multi-user: 0 at
  // once. No free byte: 20094.
  int32_t MultiUserConnect();
  // Releases the session's byte; not held by this process: 20095.
  void MultiUserDisconnect(int32_t SessionID);
  // All bytes, when none is locked by anyone (this process included); False otherwise.
  bool SingleUserConnect();
  void SingleUserDisconnect();
  // The bytes locked by any process, this one included.
  int32_t GetDBFileConnectionsCount();

 private:
  TORVInternalDBDirectAccessFile& Opened(const char* OperationName) const;
  // Runs Body under the mutex (refused within the wait: LockErrorCode with LockErrorText;
  // not released afterwards: UnlockErrorCode).
  template <class Body>
  auto UnderMutex(int32_t LockErrorCode, const char* LockErrorText, int32_t UnlockErrorCode, Body&& body)
      -> decltype(body());

  TORVDiskPageManager& LPageManager;
  std::unique_ptr<TORVInternalDBDirectAccessFile> FHandle;
  int32_t FMaxSessionCount = 0;
};

class TORVTableListFile {
 public:
  explicit TORVTableListFile(TORVDiskPageManager& PageManager);
  ~TORVTableListFile();

  // A new, empty table list for the system session; its first page (not kept open).
  int32_t CreateFile();
  // Already open: 30393.
  void OpenFile(int32_t aStartPageNo);
  void CloseFile();
  int32_t GetStartPageNo() const;

  // Reads the whole list (synchronised with the other processes' commits).
  void Load();
  // Writes the whole list for the system session.
  void Save();
  // The first item whose name equals TableName when the letters a to z are compared without
  // case (other Windows-1252 letters compare exactly); -1 when none.
  int32_t GetTableIndex(const std::string& TableName) const;
  bool TableExists(const std::string& TableName) const { return GetTableIndex(TableName) >= 0; }
  // In memory only: the caller saves under the table-list lock and commits. Names are cut to
  // 255 characters. A listed name: 30395.
  void AddTable(int32_t TableID, const std::string& TableName, int32_t MetadataFilePageNo,
                int32_t MostUpdatedFilePageNo, int32_t LocksFilePageNo);
  // Not listed: 30396.
  void OpenTable(const std::string& TableName, int32_t& TableID, int32_t& MetadataFilePageNo,
                 int32_t& MostUpdatedFilePageNo, int32_t& LocksFilePageNo) const;
  // Not listed: 30405.
  void RemoveTable(const std::string& TableName);
  // Not listed: 30397. The new name is not checked against the others here.
  void RenameTable(const std::string& TableName, const std::string& NewTableName);
  // Loads the list, then gives every name in list order.
  void GetTablesList(std::vector<std::string>& List);
  const std::vector<TORVTableListItem>& Items() const { return FTableList; }

 private:
  TORVInternalDBTransactedAccessFile& Opened() const;

  TORVDiskPageManager& LPageManager;
  std::unique_ptr<TORVInternalDBTransactedAccessFile> FHandle;
  std::vector<TORVTableListItem> FTableList;
};

// Table names are equal when they differ only in the case of the letters a to z.
bool SameTableName(const std::string& A, const std::string& B);

}  // namespace orv
