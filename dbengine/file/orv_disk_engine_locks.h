#pragma once
// Table and record locks between the sessions of all processes that share a database file.
//
// Every table has a locks file, a direct-access internal file whose content bytes stand for
// (lock type, session) pairs: byte t x N + s is held while session s holds lock type t on the
// table (N being the connection count of the file). ltX has no byte: it is the locks file's
// mutex, held for as long as the lock. A record lock is the session's ltU byte plus the record
// id in the session's 6-byte slot at 6N + 6s.
//
// Each session keeps a list of what it holds, with counts; an entry is physical (a byte, or
// the mutex, is held for it) or logical (covered by a stronger lock of the same session on the
// same table, turned physical when that stronger lock goes). The lock manager of a database
// takes and releases locks with retries and converts a transaction's locks around its commit.
//
// The sessions of one process share the database's one file handle: a byte held by another
// session of the process answers "locked" from the file layer's per-handle registry exactly as
// a byte of another process does, so compatibility tests exclude only the asking session's own
// bytes.
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "dbengine/file/orv_disk_engine_internal_files.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVDiskPageManager;

// Whether LockType1 is at least as strong as LockType2: every lock type another session may
// hold next to LockType1 it may also hold next to LockType2.
bool IsLockStronger(TORVLockType LockType1, TORVLockType LockType2);

class TORVTableLocksFile {
 public:
  explicit TORVTableLocksFile(TORVDiskPageManager& PageManager);
  ~TORVTableLocksFile();
  TORVTableLocksFile(const TORVTableLocksFile&) = delete;
  TORVTableLocksFile& operator=(const TORVTableLocksFile&) = delete;

  // A locks file for aMaxSessionCount sessions (12 bytes each), kept open; its first page.
  int32_t CreateFile(int32_t aMaxSessionCount);
  void OpenFile(int32_t aStartPageNo);
  void CloseFile();
  // Removes the file's pages for the system session.
  void DeleteFile();
  bool IsOpened() const { return FHandle != nullptr; }
  // Without a file: 10483.
  int32_t GetStartPageNo() const;
  int32_t GetMaxSessionCount() const { return FMaxSessionCount; }
  TORVInternalDBDirectAccessFile* Handle() const { return FHandle.get(); }

  bool LockFile();
  bool UnlockFile();
  // A session id not below N: 20200. ltX: False (it has no byte).
  bool LockTable(int32_t SessionID, TORVLockType LockType);
  bool UnlockTable(int32_t SessionID, TORVLockType LockType);
  bool IsTableLockedByAnyOtherSession(int32_t SessionID, TORVLockType LockType);
  bool IsTableLockAllowed(int32_t SessionID, TORVLockType LockType, bool AllowXIRWAfterSIRW);
  bool LockRecord(int32_t SessionID, const TORVPageItemID& RecordID);
  bool UnlockRecord(int32_t SessionID, const TORVPageItemID& RecordID);
  bool IsRecordLockedByAnyOtherSession(int32_t SessionID, const TORVPageItemID& RecordID);
  // Stores the record a session locks in its slot.
  void WriteRecordLockRecordID(int32_t SessionID, const TORVPageItemID& RecordID);

  int32_t GetTableLockByteNo(int32_t SessionID, TORVLockType LockType) const {
    return static_cast<int32_t>(LockType) * FMaxSessionCount + SessionID;
  }
  int32_t GetRecordLockByteNo(int32_t SessionID) const { return 5 * FMaxSessionCount + SessionID; }
  int32_t GetRecordLockRecordIDByteNo(int32_t SessionID) const { return 6 * FMaxSessionCount + 6 * SessionID; }

 private:
  TORVInternalDBDirectAccessFile& Opened(int32_t NilCode) const;
  // Whether any byte of the N bytes from Base other than Base + SessionID is locked.
  bool OthersLocked(int32_t Base, int32_t SessionID);

  TORVDiskPageManager& LPageManager;
  std::unique_ptr<TORVInternalDBDirectAccessFile> FHandle;
  int32_t FMaxSessionCount = 0;
};

struct TORVTableLock {
  TORVLockType LockType = ltIS;
  int32_t LocksFilePageNo = -1;
  int32_t LockCount = 0;
  bool HasPhysicalLock = false;
  bool IsXIRWAfterSIRWAllowed = false;
};

// The locks one session of this process holds.
class TORVTableLockList {
 public:
  bool FindLock(TORVLockType LockType, int32_t LocksFilePageNo, int32_t& ItemNo) const;
  bool FindLock(TORVLockType LockType, int32_t LocksFilePageNo, bool IsXIRWAfterSIRWAllowed, int32_t& ItemNo) const;
  bool LockExists(TORVLockType LockType, int32_t LocksFilePageNo) const;
  bool LockExists(TORVLockType LockType, int32_t LocksFilePageNo, bool IsXIRWAfterSIRWAllowed) const;
  static bool IsLockStronger(TORVLockType LockType1, TORVLockType LockType2) {
    return orv::IsLockStronger(LockType1, LockType2);
  }
  // An entry of another type on the table that is at least as strong as LockType.
  bool StrongerLockExists(TORVLockType LockType, int32_t LocksFilePageNo) const;
  // Counts up an entry of that type and table, or appends one with count 1 and the flags.
  void AddLock(TORVLockType LockType, int32_t LocksFilePageNo, bool HasPhysicalLock, bool IsXIRWAfterSIRWAllowed);
  // Counts down (or, with IgnoreCount, drops at once); HasPhysicalLock tells whether the entry
  // went and its byte is to be released. Not listed: 20202.
  void RemoveLock(TORVLockType LockType, int32_t LocksFilePageNo, bool& HasPhysicalLock, bool IgnoreCount);
  void SetPhysicalLock(int32_t ItemNo) { FLockList[static_cast<size_t>(ItemNo)].HasPhysicalLock = true; }
  bool IsWeakerNonPhysicalLock(int32_t ItemNo, TORVLockType LockType) const;
  // 20201 while entries are left (the check a destructor must not make).
  void CheckEmpty() const;

  int32_t Count() const { return static_cast<int32_t>(FLockList.size()); }
  const TORVTableLock& Item(int32_t ItemNo) const { return FLockList[static_cast<size_t>(ItemNo)]; }

 private:
  std::vector<TORVTableLock> FLockList;
};

class TORVDatabaseTableLockManager {
 public:
  TORVDatabaseTableLockManager(int32_t MaxSessionCount, TORVDiskPageManager& PageManager);
  ~TORVDatabaseTableLockManager();
  TORVDatabaseTableLockManager(const TORVDatabaseTableLockManager&) = delete;
  TORVDatabaseTableLockManager& operator=(const TORVDatabaseTableLockManager&) = delete;

  // 20201 when a session still holds locks.
  void Close() const;
  void Lock() { FCSect.lock(); }
  void Unlock() { FCSect.unlock(); }

  // With NoThreadLock the caller holds the critical section already and keeps it between the
  // tries. False when every try failed.
  bool LockTable(int32_t SessionID, TORVLockType LockType, TORVTableLocksFile& TableLocksFile, int32_t aTryCount,
                 int32_t aDelayMS, bool NoThreadLock, bool AllowXIRWAfterSIRW);
  bool UnlockTable(int32_t SessionID, TORVLockType LockType, TORVTableLocksFile& TableLocksFile, bool IgnoreIfNoLock,
                   bool IgnoreCount);
  // One locked record per session and table. The tries stop at aTryCount or once aTryCount x
  // aDelayMS milliseconds have passed on the engine's clock.
  bool LockRecord(int32_t SessionID, TORVTableLocksFile& TableLocksFile, const TORVPageItemID& RecordID,
                  int32_t aTryCount, int32_t aDelayMS);
  bool UnlockRecord(int32_t SessionID, TORVTableLocksFile& TableLocksFile, const TORVPageItemID& RecordID);
  bool IsRecordLocked(int32_t SessionID, TORVTableLocksFile& TableLocksFile, const TORVPageItemID& RecordID);
  // Before a commit: an ltRW lock on every table the session holds ltXIRW on. False when one
  // could not be had (the ltRW locks taken are released again).
  bool AddRWLocksBeforeCommit(int32_t SessionID);
  // After a commit or rollback: the transaction's ltXIRW and ltRW locks go, a table in which a
  // record stays locked keeps ltSIRW.
  bool ClearTransactionLocks(int32_t SessionID);
  bool AddSIRWLocksToULocks(int32_t SessionID);
  bool SetPhysicalLockForWeakerLocks(int32_t SessionID, TORVLockType LockType, TORVTableLocksFile& TableLocksFile);

  int32_t GetMaxSessionCount() const { return FMaxSessionCount; }
  // The session's list; a session id outside 0 .. N - 1: 20200.
  const TORVTableLockList& SessionLocks(int32_t SessionID) const;

 private:
  TORVTableLockList& List(int32_t SessionID) const;
  // Leaves the critical section (unless the caller keeps it), sleeps, enters it again.
  void PauseOutside(uint32_t DelayMS, bool KeepSection);
  uint32_t RandomDelay(int32_t DelayMS);

  std::vector<std::unique_ptr<TORVTableLockList>> FSessionLockList;
  int32_t FMaxSessionCount;
  std::recursive_mutex FCSect;
  TORVDiskPageManager& LPageManager;
  std::minstd_rand FRandom;
};

}  // namespace orv
