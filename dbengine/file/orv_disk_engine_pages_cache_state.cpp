#include "dbengine/file/orv_disk_engine_pages_cache_state.h"

#include <algorithm>

#include "dbengine/storage/orv_except.h"

namespace orv {

// ---- Table info ---------------------------------------------------------------------------

// A load and its state never outlive the lock period in which they were recorded.
void TORVDTPCTableInfo::Locked(int32_t& Count) {
  if (!IsTableLockedFromModification()) Clear();
  ++Count;
}

void TORVDTPCTableInfo::Unlocked(int32_t& Count) {
  if (Count > 0) --Count;
  if (!IsTableLockedFromModification()) Clear();
}

// ---- Session info -------------------------------------------------------------------------

TORVDTPCTableInfo& TORVDTPCSessionInfo::GetTableInfo(int32_t TableID) {
  for (const auto& info : FTableInfo)
    if (info->TableID == TableID) return *info;
  FTableInfo.push_back(std::make_unique<TORVDTPCTableInfo>(TableID));
  return *FTableInfo.back();
}

void TORVDTPCSessionInfo::EndWorkWithTable(int32_t TableID) {
  if (auto it = std::find(FWorkTableIDs.begin(), FWorkTableIDs.end(), TableID); it != FWorkTableIDs.end())
    FWorkTableIDs.erase(it);
}

bool TORVDTPCSessionInfo::GetWorkTableState(int32_t& WorkTableState, int32_t* WorkTableID) {
  if (FWorkTableIDs.empty()) return false;
  const TORVDTPCTableInfo& info = GetTableInfo(FWorkTableIDs.back());
  WorkTableState = info.TableState;
  if (WorkTableID) *WorkTableID = info.TableID;
  return info.IsTableLockedFromModification() && info.IsMostUpdatedLoaded;
}

// ---- Manager ------------------------------------------------------------------------------

TORVDTPCSessionInfo& TORVDiskTablePagesCacheManager::GetSessionInfo(int32_t SessionID) {
  if (SessionID < MIN_SESSION_ID) throw EORVException(30517, "Invalid Session ID: %d", {SessionID});
  const auto needed = static_cast<size_t>(SessionID - MIN_SESSION_ID + 1);
  while (FSessionInfo.size() < needed) FSessionInfo.push_back(std::make_unique<TORVDTPCSessionInfo>());
  return *FSessionInfo[static_cast<size_t>(SessionID - MIN_SESSION_ID)];
}

void TORVDiskTablePagesCacheManager::TableIsSLocked(int32_t SessionID, int32_t TableID) {
  GetSessionInfo(SessionID).GetTableInfo(TableID).TableIsSLocked();
}

void TORVDiskTablePagesCacheManager::TableIsSUnlocked(int32_t SessionID, int32_t TableID) {
  GetSessionInfo(SessionID).GetTableInfo(TableID).TableIsSUnlocked();
}

void TORVDiskTablePagesCacheManager::TableIsRWLocked(int32_t SessionID, int32_t TableID) {
  GetSessionInfo(SessionID).GetTableInfo(TableID).TableIsRWLocked();
}

void TORVDiskTablePagesCacheManager::TableIsRWUnlocked(int32_t SessionID, int32_t TableID) {
  GetSessionInfo(SessionID).GetTableInfo(TableID).TableIsRWUnlocked();
}

bool TORVDiskTablePagesCacheManager::GetIsMostUpdatedLoaded(int32_t SessionID, int32_t TableID) {
  return GetSessionInfo(SessionID).GetTableInfo(TableID).IsMostUpdatedLoaded;
}

void TORVDiskTablePagesCacheManager::SetIsMostUpdatedLoaded(int32_t SessionID, int32_t TableID, int32_t TableState) {
  TORVDTPCTableInfo& info = GetSessionInfo(SessionID).GetTableInfo(TableID);
  if (info.IsMostUpdatedLoaded) return;
  info.IsMostUpdatedLoaded = true;
  info.TableState = TableState;
}

void TORVDiskTablePagesCacheManager::BeginWorkWithTable(int32_t SessionID, int32_t TableID) {
  GetSessionInfo(SessionID).BeginWorkWithTable(TableID);
}

void TORVDiskTablePagesCacheManager::EndWorkWithTable(int32_t SessionID, int32_t TableID) {
  GetSessionInfo(SessionID).EndWorkWithTable(TableID);
}

bool TORVDiskTablePagesCacheManager::GetWorkTableState(int32_t SessionID, int32_t& WorkTableState,
                                                       int32_t& WorkTableID) {
  return GetSessionInfo(SessionID).GetWorkTableState(WorkTableState, &WorkTableID);
}

}  // namespace orv
