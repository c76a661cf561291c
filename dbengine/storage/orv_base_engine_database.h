#pragma once
// One open database as the storage engine sees it inside the process: its one lock (the lock
// of every table in it), the sessions connected to it, the table data of the tables open in
// the process, and its page manager. The storage kinds (memory, temporary, database file)
// derive from it. Also the record routines between a dataset's field buffers and records.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_page.h"

namespace orv {

class TORVBaseSession;
class TORVCursor;
class TORVTableData;

// Holds an object's Lock() for a scope, released also when an exception passes.
template <class T>
class TORVLockGuard {
 public:
  explicit TORVLockGuard(T& Object) : object_(Object) { object_.Lock(); }
  ~TORVLockGuard() { object_.Unlock(); }
  TORVLockGuard(const TORVLockGuard&) = delete;
  TORVLockGuard& operator=(const TORVLockGuard&) = delete;

 private:
  T& object_;
};

class TORVDatabaseData {
 public:
  TORVDatabaseData();
  // Frees every table data, then leaves the process-wide database list (LeaveDatabaseList).
  // The page manager is the storage kind's to free.
  virtual ~TORVDatabaseData();
  TORVDatabaseData(const TORVDatabaseData&) = delete;
  TORVDatabaseData& operator=(const TORVDatabaseData&) = delete;

  // The session joins (its number becomes 0; the database-file kind numbers them itself).
  virtual void ConnectSession(TORVBaseSession* Session);
  virtual void DisconnectSession(TORVBaseSession* Session);
  // With no session connected, hands the object to its owner's ReleaseIfUnused hook, which
  // frees it (the caller must not use the object afterwards). Without a hook nothing
  // happens. Returns True when it was handed over.
  virtual bool FreeIfNoSessionsConnected();
  // The tables open in the process, in list order; the database-file kind lists its file.
  virtual void GetTablesList(std::vector<std::string>& List);
  virtual void CreateDatabase() {}
  // Creates the kind's table data for the cursor's table and adds it to the list
  // (AddTableData).
  virtual TORVTableData* CreateTableData(TORVCursor* Cursor) = 0;
  // The table data whose name equals the cursor's table name without regard to case.
  virtual TORVTableData* FindTableData(TORVCursor* Cursor);
  virtual TORVTableData* FindOrCreateTableData(TORVCursor* Cursor);
  // A new object id, unique within the database (fields, indexes, constraints).
  virtual int32_t GetNewObjectId() = 0;
  virtual void Commit(int32_t SessionID, bool DoFlushBuffers);
  // Discards the session's page changes, then every table data rebuilds what went stale.
  virtual void Rollback(int32_t SessionID);
  virtual void FlushBuffers() {}

  void Lock() { FCSect.lock(); }
  void Unlock() { FCSect.unlock(); }
  bool TableExists(const std::string& TableName);
  // Takes the table data into the list and returns it.
  TORVTableData* AddTableData(std::unique_ptr<TORVTableData> TableData);
  // Takes the table data out of the list and frees it; nothing for one not in the list.
  void DeleteTableData(TORVTableData* TableData);
  int32_t TableDataCount() const { return static_cast<int32_t>(FTableDataList.size()); }
  TORVTableData* TableDataAt(int32_t Index) const { return FTableDataList[static_cast<size_t>(Index)].get(); }

  std::recursive_mutex FCSect;
  std::vector<TORVBaseSession*> FSessionList;  // borrowed
  std::vector<std::unique_ptr<TORVTableData>> FTableDataList;
  std::string FDatabaseName;
  TORVPageManager* FPageManager = nullptr;  // the storage kind's
  bool FReadOnly = false;
  uint32_t FTryCount = 20;
  uint32_t FDelayMS = 50;
  bool FMultiUser = false;
  std::string FSessionName;

  // Set by the owner of the process-wide database list: the destructor calls the first to
  // take the object out of that list; FreeIfNoSessionsConnected calls the second, which
  // frees the object.
  std::function<void(TORVDatabaseData&)> LeaveDatabaseList;
  std::function<void(TORVDatabaseData&)> ReleaseIfUnused;
};

// ---- Record routines -----------------------------------------------------------------------

// Field FieldNo of a memory record into a dataset field buffer (Buffer nil: only the NULL
// test); False for NULL. Shortint widens to 16 bits, Cardinal to 64, Single and Extended
// become doubles; BLOB fields copy nothing. FieldNo out of range: 10000; no record: 10003.
bool GetFieldData(int32_t FieldNo, const TORVFieldDefs& FieldDefs, void* Buffer, const void* RecordBuffer);
// The inverse. A nil Buffer, or an empty 8-bit or wide text, makes the field NULL. FieldNo
// out of range: 10004.
void SetFieldData(int32_t FieldNo, const TORVFieldDefs& FieldDefs, const void* Buffer, void* RecordBuffer);
// Byte-for-byte equality; a nil buffer: 10122 / 10123.
bool CompareRecordBuffers(const void* RecordBuffer1, const void* RecordBuffer2, int32_t RecordBufferSize);

}  // namespace orv
