#pragma once
// The engine session a database component holds while it is connected, and the process-wide
// list of database data objects it finds its database in. Connections of the process to one
// database file under one session name share one database data object (one file handle, one
// page cache, one set of tables); "MEMORY" and "TEMP" reach the engine's two built-in
// databases.
//
// A file is matched by its canonical path (symbolic links and "." / ".." resolved; for a file
// still to be created, its folder's), compared exactly: on this system a.orv and A.orv are two
// files, and one file reached by two paths must not get two page caches in one process.
// Session names compare without regard to case.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/orv_security.h"
#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_engine_database.h"
#include "platform/files/file.h"

namespace orv {

// The names of the two built-in databases.
inline constexpr char MemoryDatabaseName[] = "MEMORY";
inline constexpr char TemporaryDatabaseName[] = "TEMP";

// DBDataList: every open database data object of the process, owned here. An object leaves
// the list when it is destroyed (its LeaveDatabaseList hook) and is freed through the list when
// its last session is gone (its ReleaseIfUnused hook). Guarded by its own re-entrant lock.
class TORVDatabaseDataList {
 public:
  TORVDatabaseDataList() = default;
  // Frees what is left, first entry first.
  ~TORVDatabaseDataList();
  TORVDatabaseDataList(const TORVDatabaseDataList&) = delete;
  TORVDatabaseDataList& operator=(const TORVDatabaseDataList&) = delete;

  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

  // Takes the object in (appended) and sets its hooks; returns it.
  TORVDatabaseData* Add(std::unique_ptr<TORVDatabaseData> DatabaseData);
  // Takes the object out and frees it; nothing for one not listed.
  void Release(TORVDatabaseData* DatabaseData);
  // Frees every entry, the first one first (engine shut-down).
  void Clear();
  int32_t Count();
  TORVDatabaseData* Items(int32_t Index);
  bool Contains(const TORVDatabaseData* DatabaseData);

 private:
  // The object is being destroyed: forget it without freeing it.
  void Forget(TORVDatabaseData& DatabaseData);

  std::recursive_mutex FLock;
  std::vector<std::unique_ptr<TORVDatabaseData>> FItems;
};

// The canonical form of a database file's path: the real path of the file, or of its folder
// followed by the file's name when the file does not exist yet; a path that cannot be resolved
// at all is made absolute and normalised.
std::string CanonicalDatabasePath(const std::string& FileName);

class TORVLocalSession : public TORVBaseSession {
 public:
  // Files are reached through Factory (plain files when empty; tests inject faults).
  explicit TORVLocalSession(TORVDatabaseDataList& DatabaseDataList, platform::FileFactory Factory = {});
  // Disconnects; errors are dropped (a destructor never raises).
  ~TORVLocalSession() override;

  bool GetConnected() override { return FDatabaseData != nullptr; }
  // Connecting finds or makes the database data object under the list's lock, connects to it
  // and takes the values of the open file (its password, geometry and session count). A
  // second connection with another password to an encrypted database open in the process:
  // 20298. A connect that fails leaves the session unconnected and, when nothing else uses
  // it, no database data object behind. Disconnecting a disk database's last session closes
  // the file and frees the object. Connecting twice, or disconnecting an unconnected
  // session, does nothing.
  void SetConnected(bool Value) override;
  bool GetSuppressDBHeaderErrors() override;
  void SetSuppressDBHeaderErrors(bool Value) override;
  // A new database file with this session's settings, left closed; the session stays
  // unconnected. The file open in the process under this session name: 20092. A failure
  // leaves no list entry.
  void CreateDatabase() override;
  // The database component deletes and renames files itself.
  void DeleteDatabase() override {}
  void RenameDatabase(const std::string& /*NewDatabaseFileName*/) override {}
  // On a connected session only (not connected: 30541).
  void GetTablesList(std::vector<std::string>& List) override;
  bool TableExists(const std::string& TableName) override;
  void StartTransaction() override { FInTransaction = true; }
  // Not in a transaction: 20229.
  void Commit(bool DoFlushBuffers) override;
  void Rollback() override;
  void FlushBuffers() override;

  TORVPassword* GetPassword() { return &FPassword; }
  bool IsAppropriateDatabaseData(const TORVDatabaseData* DBData) const;
  TORVDatabaseData* FindDatabaseData();
  TORVDatabaseData* CreateDatabaseData();
  TORVDatabaseData* FindOrCreateDatabaseData();
  // Connected to a database file: gives its free pages at the end back; else nothing.
  void TruncateDatabase();
  // Connected to a database file: the sessions of all processes that have it open; else 0.
  int32_t GetDBFileConnectionsCount();
  // The database file's object while connected to one; nullptr otherwise.
  TORVDiskDatabaseData* DiskDatabaseData() const;

  TORVDatabaseData* FDatabaseData = nullptr;  // borrowed: the list owns it
  TORVPassword FPassword;
  uint32_t FPageSize = DefaultPageSize;
  uint32_t FPageCountInExtent = DefaultExtentPageCount;

 private:
  void Connect();
  void Disconnect();
  // Frees the object through the list when no session is connected to it and it is a file's
  // (the built-in databases live as long as the engine).
  void ReleaseIfUnused(TORVDatabaseData* DBData);
  TORVDatabaseData& Connected(int32_t Code);

  TORVDatabaseDataList& FList;
  platform::FileFactory FFactory;
};

// A connected session of one of the engine's built-in databases ("MEMORY", "TEMP"), for code
// that reads tables without a database component (the SQL layer's result tables, tools, tests).
std::unique_ptr<TORVLocalSession> ConnectBuiltinDatabase(TORVDatabaseDataList& List, const std::string& Name);

}  // namespace orv
