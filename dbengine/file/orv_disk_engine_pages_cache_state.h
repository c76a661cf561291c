#pragma once
// Which tables each session currently works on under a table lock that keeps other processes
// from changing them (an ltS or ltRW lock), and under which table state it loaded their
// most-updated data. While a session works on such a table, a cached page it last checked under
// the same table state cannot have been changed by another process, so the page manager hands
// it out without reading its State from the file.
//
// The disk tables report their locks, the load of the most-updated data and the bracket of
// each operation on a table; the page manager asks GetWorkTableState. It is used under the
// callers' locks and has none of its own.
#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/file/orv_disk_engine_page_manager.h"

namespace orv {

class TORVDTPCTableInfo {
 public:
  explicit TORVDTPCTableInfo(int32_t aTableID) : TableID(aTableID) {}

  // Forgets the load: a new lock period begins.
  void Clear() {
    IsMostUpdatedLoaded = false;
    TableState = -1;
  }
  bool IsTableLockedFromModification() const { return TableSLockCount + TableRWLockCount > 0; }
  void TableIsSLocked() { Locked(TableSLockCount); }
  void TableIsSUnlocked() { Unlocked(TableSLockCount); }
  void TableIsRWLocked() { Locked(TableRWLockCount); }
  void TableIsRWUnlocked() { Unlocked(TableRWLockCount); }

  int32_t TableID;
  int32_t TableSLockCount = 0;
  int32_t TableRWLockCount = 0;
  bool IsMostUpdatedLoaded = false;
  int32_t TableState = -1;

 private:
  void Locked(int32_t& Count);
  void Unlocked(int32_t& Count);
};

class TORVDTPCSessionInfo {
 public:
  // The table's info, made on first use.
  TORVDTPCTableInfo& GetTableInfo(int32_t TableID);
  void BeginWorkWithTable(int32_t TableID) { FWorkTableIDs.push_back(TableID); }
  // Removes the first occurrence.
  void EndWorkWithTable(int32_t TableID);
  // The state of the innermost work table; True when it is locked against changes with its
  // most-updated data loaded. False (state untouched) without a work table.
  bool GetWorkTableState(int32_t& WorkTableState, int32_t* WorkTableID = nullptr);
  const std::vector<int32_t>& WorkTableIDs() const { return FWorkTableIDs; }
  int32_t TableInfoCount() const { return static_cast<int32_t>(FTableInfo.size()); }

 private:
  std::vector<std::unique_ptr<TORVDTPCTableInfo>> FTableInfo;
  std::vector<int32_t> FWorkTableIDs;
};

class TORVDiskTablePagesCacheManager : public TORVWorkTableStateSource {
 public:
  void TableIsSLocked(int32_t SessionID, int32_t TableID);
  void TableIsSUnlocked(int32_t SessionID, int32_t TableID);
  void TableIsRWLocked(int32_t SessionID, int32_t TableID);
  void TableIsRWUnlocked(int32_t SessionID, int32_t TableID);
  bool GetIsMostUpdatedLoaded(int32_t SessionID, int32_t TableID);
  // Records the load and its table state, unless a load was already recorded in this lock
  // period.
  void SetIsMostUpdatedLoaded(int32_t SessionID, int32_t TableID, int32_t TableState);
  void BeginWorkWithTable(int32_t SessionID, int32_t TableID);
  void EndWorkWithTable(int32_t SessionID, int32_t TableID);
  bool GetWorkTableState(int32_t SessionID, int32_t& WorkTableState, int32_t& WorkTableID) override;
  bool GetWorkTableState(int32_t SessionID, int32_t& WorkTableState) {
    int32_t table = -1;
    return GetWorkTableState(SessionID, WorkTableState, table);
  }
  // The session's info; the infos of every session id from -2 up to it exist afterwards. A
  // session id below -2: 30517.
  TORVDTPCSessionInfo& GetSessionInfo(int32_t SessionID);
  int32_t SessionInfoCount() const { return static_cast<int32_t>(FSessionInfo.size()); }

 private:
  std::vector<std::unique_ptr<TORVDTPCSessionInfo>> FSessionInfo;  // entry SessionID + 2
};

}  // namespace orv
