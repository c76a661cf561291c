#pragma once
// What the local cursor calls on a table stored in a database file beyond the operations every
// table data has: the table and record locks that guard a change between processes, the
// most-updated values reloaded before an insert, the BLOB caches of record buffers, and the
// release of a table object that no cursor uses any more.
//
// The disk table data implements it next to TORVTableData; the cursor recognises a disk table
// by it. In single-user mode every lock answers True and IsRecordLocked False.
#include <cstdint>

#include "dbengine/storage/orv_types.h"

namespace orv {

class IORVDiskTableData {
 public:
  virtual ~IORVDiskTableData() = default;

  // The table lock in the table's locks file: TryCount tries, Delay ms apart. False when it
  // was not granted.
  virtual bool LockTable(int32_t SessionID, TORVLockType LockType, int32_t TryCount, int32_t Delay,
                         bool AllowXIRWAfterSIRW) = 0;
  virtual bool UnlockTable(int32_t SessionID, TORVLockType LockType, bool IgnoreIfNoLock) = 0;
  // One locked record per session and table.
  virtual bool LockRecord(int32_t SessionID, const TORVPageItemID& RecordID, int32_t TryCount, int32_t Delay) = 0;
  virtual bool UnlockRecord(int32_t SessionID, const TORVPageItemID& RecordID) = 0;
  // Whether another session holds the record's lock.
  virtual bool IsRecordLocked(int32_t SessionID, const TORVPageItemID& RecordID) = 0;
  // Reloads the record count, table state and autoincrement counters other processes moved.
  virtual void LoadMostUpdated(int32_t SessionID) = 0;
  // Lets go of the changed BLOB values an edit wrote into the record buffer (the edit was
  // cancelled), so that the buffer refers to the stored ones again.
  virtual void ClearModifiedBLOBFieldsInRecordBuffer(void* RecordBuffer) = 0;
  // Frees the table object when no cursor has it open (the caller must not use it
  // afterwards); True when it was freed.
  virtual bool FreeIfNoCursorsConnected() = 0;
};

}  // namespace orv
