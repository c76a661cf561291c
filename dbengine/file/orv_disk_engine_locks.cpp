#include "dbengine/file/orv_disk_engine_locks.h"

#include <algorithm>
#include <functional>

#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/clock.h"

namespace orv {

namespace {

using Section = std::unique_lock<std::recursive_mutex>;

constexpr int32_t kLockTypesWithByte = 6;  // ltIS .. ltU; ltX is the mutex
constexpr int32_t kBytesPerSession = 12;   // six lock types and the 6-byte record id

// A temporary view of a table's locks file, for the conversions around a commit that know the
// table only by its locks file's first page.
class OpenedLocksFile {
 public:
  OpenedLocksFile(TORVDiskPageManager& PageManager, int32_t StartPageNo) : file_(PageManager) {
    file_.OpenFile(StartPageNo);
  }
  TORVTableLocksFile& operator*() { return file_; }

 private:
  TORVTableLocksFile file_;
};

// Runs Take under the locks file's mutex, so that no two processes test and take at the same
// time. False when the mutex is refused or Take declines; the mutex is released afterwards
// (also when Take raises), except after a grant that keeps it.
bool UnderMutex(TORVTableLocksFile& File, bool KeepMutexOnGrant, const std::function<bool()>& Take) {
  if (!File.LockFile()) return false;
  bool granted = false;
  try {
    granted = Take();
  } catch (...) {
    File.UnlockFile();
    throw;
  }
  if (!granted || !KeepMutexOnGrant) File.UnlockFile();
  return granted;
}

}  // namespace

bool IsLockStronger(TORVLockType LockType1, TORVLockType LockType2) {
  for (int i = 0; i <= ltX; ++i)
    if (LocksCompatible[LockType1][i] && !LocksCompatible[LockType2][i]) return false;
  return true;
}

// ---- Locks file ---------------------------------------------------------------------------

TORVTableLocksFile::TORVTableLocksFile(TORVDiskPageManager& PageManager) : LPageManager(PageManager) {}

TORVTableLocksFile::~TORVTableLocksFile() { CloseFile(); }

int32_t TORVTableLocksFile::CreateFile(int32_t aMaxSessionCount) {
  FMaxSessionCount = aMaxSessionCount;
  FHandle = std::make_unique<TORVInternalDBDirectAccessFile>(LPageManager, ptTableLocksFile);
  FHandle->CreateFile(kBytesPerSession * aMaxSessionCount);
  return FHandle->GetStartPageNo();
}

void TORVTableLocksFile::OpenFile(int32_t aStartPageNo) {
  auto handle = std::make_unique<TORVInternalDBDirectAccessFile>(LPageManager, ptTableLocksFile);
  handle->OpenFile(aStartPageNo);
  FMaxSessionCount = handle->GetSize() / kBytesPerSession;
  FHandle = std::move(handle);
}

void TORVTableLocksFile::CloseFile() { FHandle.reset(); }

void TORVTableLocksFile::DeleteFile() {
  Opened(10483).DeleteFile(-1);
  FHandle.reset();
}

TORVInternalDBDirectAccessFile& TORVTableLocksFile::Opened(int32_t NilCode) const {
  if (!FHandle) throw EORVException(NilCode, "Nil pointer occured");
  return *FHandle;
}

int32_t TORVTableLocksFile::GetStartPageNo() const { return Opened(10483).GetStartPageNo(); }

bool TORVTableLocksFile::LockFile() { return Opened(10483).LockFile(); }
bool TORVTableLocksFile::UnlockFile() { return Opened(10483).UnlockFile(); }

bool TORVTableLocksFile::LockTable(int32_t SessionID, TORVLockType LockType) {
  TORVInternalDBDirectAccessFile& file = Opened(10489);
  if (SessionID < 0 || SessionID >= FMaxSessionCount)
    throw EORVException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of allowed connections");
  if (LockType == ltX) return false;
  return file.LockByte(GetTableLockByteNo(SessionID, LockType));
}

bool TORVTableLocksFile::UnlockTable(int32_t SessionID, TORVLockType LockType) {
  TORVInternalDBDirectAccessFile& file = Opened(10494);
  if (LockType == ltX) return false;
  return file.UnlockByte(GetTableLockByteNo(SessionID, LockType));
}

bool TORVTableLocksFile::OthersLocked(int32_t Base, int32_t SessionID) {
  TORVInternalDBDirectAccessFile& file = *FHandle;
  const int32_t own = std::clamp(SessionID, 0, FMaxSessionCount);
  // An empty region counts as not locked.
  if (file.IsRegionLocked(Base, own)) return true;
  return file.IsRegionLocked(Base + own + 1, FMaxSessionCount - own - 1);
}

bool TORVTableLocksFile::IsTableLockedByAnyOtherSession(int32_t SessionID, TORVLockType LockType) {
  Opened(10490);
  if (LockType == ltX) return false;
  return OthersLocked(static_cast<int32_t>(LockType) * FMaxSessionCount, SessionID);
}

bool TORVTableLocksFile::IsTableLockAllowed(int32_t SessionID, TORVLockType LockType, bool AllowXIRWAfterSIRW) {
  for (int h = ltIS; h <= ltX; ++h) {
    const auto held = static_cast<TORVLockType>(h);
    if (LocksCompatible[held][LockType]) continue;
    if (AllowXIRWAfterSIRW && LockType == ltXIRW && held == ltSIRW) continue;
    if (IsTableLockedByAnyOtherSession(SessionID, held)) return false;
  }
  return true;
}

void TORVTableLocksFile::WriteRecordLockRecordID(int32_t SessionID, const TORVPageItemID& RecordID) {
  uint8_t slot[TORVPageItemID::StoredSize];
  RecordID.WriteTo(slot);
  Opened(10491).WriteBuffer(slot, TORVPageItemID::StoredSize, GetRecordLockRecordIDByteNo(SessionID));
}

bool TORVTableLocksFile::LockRecord(int32_t SessionID, const TORVPageItemID& RecordID) {
  TORVInternalDBDirectAccessFile& file = Opened(10491);
  if (!file.LockByte(GetRecordLockByteNo(SessionID))) return false;
  WriteRecordLockRecordID(SessionID, RecordID);
  return true;
}

bool TORVTableLocksFile::UnlockRecord(int32_t SessionID, const TORVPageItemID& /*RecordID*/) {
  // The slot keeps its value: it is read only while the byte is held.
  return Opened(10492).UnlockByte(GetRecordLockByteNo(SessionID));
}

bool TORVTableLocksFile::IsRecordLockedByAnyOtherSession(int32_t SessionID, const TORVPageItemID& RecordID) {
  TORVInternalDBDirectAccessFile& file = Opened(10493);
  const int32_t base = GetRecordLockByteNo(0);
  if (!OthersLocked(base, SessionID)) return false;
  for (int32_t i = 0; i < FMaxSessionCount; ++i) {
    if (i == SessionID || !file.IsByteLocked(base + i)) continue;
    uint8_t slot[TORVPageItemID::StoredSize];
    file.ReadBuffer(slot, TORVPageItemID::StoredSize, GetRecordLockRecordIDByteNo(i));
    if (TORVPageItemID::ReadFrom(slot) == RecordID) return true;
  }
  return false;
}

// ---- Lock list ----------------------------------------------------------------------------

bool TORVTableLockList::FindLock(TORVLockType LockType, int32_t LocksFilePageNo, int32_t& ItemNo) const {
  for (size_t i = 0; i < FLockList.size(); ++i) {
    if (FLockList[i].LockType == LockType && FLockList[i].LocksFilePageNo == LocksFilePageNo) {
      ItemNo = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

bool TORVTableLockList::FindLock(TORVLockType LockType, int32_t LocksFilePageNo, bool IsXIRWAfterSIRWAllowed,
                                 int32_t& ItemNo) const {
  for (size_t i = 0; i < FLockList.size(); ++i) {
    const TORVTableLock& l = FLockList[i];
    if (l.LockType == LockType && l.LocksFilePageNo == LocksFilePageNo &&
        l.IsXIRWAfterSIRWAllowed == IsXIRWAfterSIRWAllowed) {
      ItemNo = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

bool TORVTableLockList::LockExists(TORVLockType LockType, int32_t LocksFilePageNo) const {
  int32_t i = 0;
  return FindLock(LockType, LocksFilePageNo, i);
}

bool TORVTableLockList::LockExists(TORVLockType LockType, int32_t LocksFilePageNo,
                                   bool IsXIRWAfterSIRWAllowed) const {
  int32_t i = 0;
  return FindLock(LockType, LocksFilePageNo, IsXIRWAfterSIRWAllowed, i);
}

bool TORVTableLockList::StrongerLockExists(TORVLockType LockType, int32_t LocksFilePageNo) const {
  return std::any_of(FLockList.begin(), FLockList.end(), [&](const TORVTableLock& l) {
    return l.LocksFilePageNo == LocksFilePageNo && l.LockType != LockType && IsLockStronger(l.LockType, LockType);
  });
}

void TORVTableLockList::AddLock(TORVLockType LockType, int32_t LocksFilePageNo, bool HasPhysicalLock,
                                bool IsXIRWAfterSIRWAllowed) {
  int32_t i = 0;
  if (FindLock(LockType, LocksFilePageNo, i)) {
    ++FLockList[static_cast<size_t>(i)].LockCount;
    return;
  }
  FLockList.push_back({LockType, LocksFilePageNo, 1, HasPhysicalLock, IsXIRWAfterSIRWAllowed});
}

void TORVTableLockList::RemoveLock(TORVLockType LockType, int32_t LocksFilePageNo, bool& HasPhysicalLock,
                                   bool IgnoreCount) {
  int32_t i = 0;
  if (!FindLock(LockType, LocksFilePageNo, i)) throw EORVException(20202, "Cannot remove table lock. Lock not found");
  TORVTableLock& l = FLockList[static_cast<size_t>(i)];
  --l.LockCount;
  if (l.LockCount <= 0 || IgnoreCount) {
    HasPhysicalLock = l.HasPhysicalLock;
    FLockList.erase(FLockList.begin() + i);
  } else {
    HasPhysicalLock = false;
  }
}

bool TORVTableLockList::IsWeakerNonPhysicalLock(int32_t ItemNo, TORVLockType LockType) const {
  const TORVTableLock& l = FLockList[static_cast<size_t>(ItemNo)];
  return IsLockStronger(LockType, l.LockType) && !l.HasPhysicalLock;
}

void TORVTableLockList::CheckEmpty() const {
  if (!FLockList.empty()) throw EORVException(20201, "Some table locks still exist");
}

// ---- Lock manager -------------------------------------------------------------------------

TORVDatabaseTableLockManager::TORVDatabaseTableLockManager(int32_t MaxSessionCount, TORVDiskPageManager& PageManager)
    : FMaxSessionCount(std::max(MaxSessionCount, 0)), LPageManager(PageManager), FRandom(std::random_device{}()) {
  for (int32_t i = 0; i < FMaxSessionCount; ++i) FSessionLockList.push_back(std::make_unique<TORVTableLockList>());
}

TORVDatabaseTableLockManager::~TORVDatabaseTableLockManager() = default;

void TORVDatabaseTableLockManager::Close() const {
  for (const auto& list : FSessionLockList) list->CheckEmpty();
}

TORVTableLockList& TORVDatabaseTableLockManager::List(int32_t SessionID) const {
  // The lists are indexed by session id: a number outside them is a session of a database
  // whose connection count was raised after its tables were made, or no session at all.
  if (SessionID < 0 || SessionID >= FMaxSessionCount)
    throw EORVException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of allowed connections");
  return *FSessionLockList[static_cast<size_t>(SessionID)];
}

const TORVTableLockList& TORVDatabaseTableLockManager::SessionLocks(int32_t SessionID) const { return List(SessionID); }

void TORVDatabaseTableLockManager::PauseOutside(uint32_t DelayMS, bool KeepSection) {
  if (!KeepSection) FCSect.unlock();
  platform::Sleep(DelayMS);
  if (!KeepSection) FCSect.lock();
}

// Half the delay plus a random part of the other half, so that processes that collided once
// do not collide again in step.
uint32_t TORVDatabaseTableLockManager::RandomDelay(int32_t DelayMS) {
  const int32_t half = std::max(DelayMS, 0) / 2;
  const int32_t extra = half > 0 ? static_cast<int32_t>(FRandom() % static_cast<uint32_t>(half)) : 0;
  return static_cast<uint32_t>(half + extra);
}

bool TORVDatabaseTableLockManager::LockTable(int32_t SessionID, TORVLockType LockType,
                                             TORVTableLocksFile& TableLocksFile, int32_t aTryCount, int32_t aDelayMS,
                                             bool NoThreadLock, bool AllowXIRWAfterSIRW) {
  if (LPageManager.Exclusive()) return true;
  Section section(FCSect, std::defer_lock);
  if (!NoThreadLock) section.lock();
  TORVTableLockList& list = List(SessionID);
  const int32_t table = TableLocksFile.GetStartPageNo();

  if (list.LockExists(LockType, table)) {
    if (LockType == ltSIRW) return false;
    list.AddLock(LockType, table, false, false);
    return true;
  }
  if (list.StrongerLockExists(LockType, table)) {
    list.AddLock(LockType, table, false, true);
    return true;
  }
  for (int32_t attempt = 0; attempt < aTryCount; ++attempt) {
    // A granted ltX is the mutex itself.
    const bool granted = UnderMutex(TableLocksFile, LockType == ltX, [&] {
      if (!TableLocksFile.IsTableLockAllowed(SessionID, LockType, AllowXIRWAfterSIRW)) return false;
      if (LockType != ltX && !TableLocksFile.LockTable(SessionID, LockType))
        throw EORVException(20203, "Cannot set table lock");
      return true;
    });
    if (granted) {
      list.AddLock(LockType, table, true, AllowXIRWAfterSIRW);
      return true;
    }
    PauseOutside(RandomDelay(aDelayMS), NoThreadLock);
  }
  return false;
}

bool TORVDatabaseTableLockManager::SetPhysicalLockForWeakerLocks(int32_t SessionID, TORVLockType LockType,
                                                                 TORVTableLocksFile& TableLocksFile) {
  // The holder of ltX holds the mutex already.
  if (LockType != ltX) {
    bool locked = false;
    for (int32_t attempt = 0; attempt < TableUnlockRetries && !locked; ++attempt) {
      locked = TableLocksFile.LockFile();
      if (!locked) PauseOutside(TableUnlockDelay, false);
    }
    if (!locked) return false;
  }
  TORVTableLockList& list = List(SessionID);
  const int32_t table = TableLocksFile.GetStartPageNo();
  bool result = true;
  try {
    for (int32_t i = 0; i < list.Count(); ++i) {
      if (list.Item(i).LocksFilePageNo != table || !list.IsWeakerNonPhysicalLock(i, LockType)) continue;
      result = TableLocksFile.LockTable(SessionID, list.Item(i).LockType);
      list.SetPhysicalLock(i);
    }
  } catch (...) {
    if (LockType != ltX) TableLocksFile.UnlockFile();
    throw;
  }
  if (LockType != ltX) TableLocksFile.UnlockFile();
  return result;
}

bool TORVDatabaseTableLockManager::UnlockTable(int32_t SessionID, TORVLockType LockType,
                                               TORVTableLocksFile& TableLocksFile, bool IgnoreIfNoLock,
                                               bool IgnoreCount) {
  if (LPageManager.Exclusive()) return true;
  Section section(FCSect);
  TORVTableLockList& list = List(SessionID);
  const int32_t table = TableLocksFile.GetStartPageNo();
  if (!list.LockExists(LockType, table) && IgnoreIfNoLock) return true;
  bool physical = false;
  list.RemoveLock(LockType, table, physical, IgnoreCount);
  if (!physical || list.LockExists(LockType, table)) return true;

  bool result = false;
  // The session's weaker logical locks on the table become real before this one goes, so
  // that the table is never without them.
  if (SetPhysicalLockForWeakerLocks(SessionID, LockType, TableLocksFile)) {
    for (int32_t attempt = 0; attempt < TableUnlockRetries && !result; ++attempt) {
      if (LockType == ltX) {
        result = TableLocksFile.UnlockFile();
      } else {
        result = UnderMutex(TableLocksFile, false, [&] {
          if (!TableLocksFile.UnlockTable(SessionID, LockType)) throw EORVException(20204, "Cannot unlock table");
          return true;
        });
      }
      if (!result) PauseOutside(TableUnlockDelay, false);
    }
  }
  if (!result) list.AddLock(LockType, table, physical, true);
  return result;
}

bool TORVDatabaseTableLockManager::LockRecord(int32_t SessionID, TORVTableLocksFile& TableLocksFile,
                                              const TORVPageItemID& RecordID, int32_t aTryCount, int32_t aDelayMS) {
  const uint32_t deadline =
      platform::GetTickCount() + static_cast<uint32_t>(std::max(aDelayMS, 0)) * static_cast<uint32_t>(std::max(aTryCount, 0));
  Section section(FCSect);
  TORVTableLockList& list = List(SessionID);
  const int32_t table = TableLocksFile.GetStartPageNo();
  if (list.LockExists(ltU, table)) return false;
  if (list.LockExists(ltX, table) || list.LockExists(ltXIRW, table, false)) {
    // Covered by the table lock. The slot gets the record all the same: when the table lock
    // goes, this lock turns into the session's held ltU byte, and other sessions then read the
    // slot to learn which record it stands for.
    TableLocksFile.WriteRecordLockRecordID(SessionID, RecordID);
    list.AddLock(ltU, table, false, true);
    return true;
  }
  for (int32_t attempt = 0; attempt < aTryCount; ++attempt) {
    const bool granted = UnderMutex(TableLocksFile, false, [&] {
      if (TableLocksFile.IsRecordLockedByAnyOtherSession(SessionID, RecordID)) return false;
      if (!TableLocksFile.LockRecord(SessionID, RecordID)) throw EORVException(20205, "Cannot lock record");
      return true;
    });
    if (granted) {
      list.AddLock(ltU, table, true, true);
      return true;
    }
    PauseOutside(static_cast<uint32_t>(std::max(aDelayMS, 0)), false);
    // Compared as a signed distance, so that the tick count wrapping around ends no wait early.
    if (static_cast<int32_t>(platform::GetTickCount() - deadline) >= 0) break;
  }
  return false;
}

bool TORVDatabaseTableLockManager::UnlockRecord(int32_t SessionID, TORVTableLocksFile& TableLocksFile,
                                                const TORVPageItemID& RecordID) {
  Section section(FCSect);
  TORVTableLockList& list = List(SessionID);
  const int32_t table = TableLocksFile.GetStartPageNo();
  if (!list.LockExists(ltU, table)) return false;
  bool physical = false;
  list.RemoveLock(ltU, table, physical, false);
  if (!physical) return true;
  for (int32_t attempt = 0; attempt < RecordUnlockRetries; ++attempt) {
    if (UnderMutex(TableLocksFile, false, [&] {
          if (!TableLocksFile.UnlockRecord(SessionID, RecordID)) throw EORVException(20206, "Cannot unlock record");
          return true;
        }))
      return true;
    PauseOutside(RecordUnlockDelay, false);
  }
  // Still held: listed again, so that a later unlock can release it.
  list.AddLock(ltU, table, true, true);
  return false;
}

bool TORVDatabaseTableLockManager::IsRecordLocked(int32_t SessionID, TORVTableLocksFile& TableLocksFile,
                                                  const TORVPageItemID& RecordID) {
  Section section(FCSect);
  return TableLocksFile.IsRecordLockedByAnyOtherSession(SessionID, RecordID);
}

namespace {

// The tables of the session's entries of the given types, in list order, as they are when the
// loop over them starts (the loop changes the list).
std::vector<std::pair<TORVLockType, int32_t>> EntriesOf(const TORVTableLockList& List,
                                                       std::initializer_list<TORVLockType> Types) {
  std::vector<std::pair<TORVLockType, int32_t>> entries;
  for (int32_t i = 0; i < List.Count(); ++i)
    if (std::find(Types.begin(), Types.end(), List.Item(i).LockType) != Types.end())
      entries.emplace_back(List.Item(i).LockType, List.Item(i).LocksFilePageNo);
  return entries;
}

}  // namespace

bool TORVDatabaseTableLockManager::AddRWLocksBeforeCommit(int32_t SessionID) {
  Section section(FCSect);
  TORVTableLockList& list = List(SessionID);
  if (list.Count() == 0) return true;
  bool ok = true;
  for (const auto& [type, table] : EntriesOf(list, {ltXIRW})) {
    if (list.StrongerLockExists(ltRW, table)) continue;
    OpenedLocksFile file(LPageManager, table);
    ok = LockTable(SessionID, ltRW, *file, CommitTablesLockRetries, CommitTablesLockDelay, true, true);
    if (!ok) break;
  }
  if (!ok) {
    for (const auto& [type, table] : EntriesOf(list, {ltRW})) {
      OpenedLocksFile file(LPageManager, table);
      UnlockTable(SessionID, ltRW, *file, false, false);
      if (list.LockExists(ltRW, table)) throw EORVException(20234, "Some table locks still exist");
    }
  }
  return ok;
}

bool TORVDatabaseTableLockManager::AddSIRWLocksToULocks(int32_t SessionID) {
  Section section(FCSect);
  TORVTableLockList& list = List(SessionID);
  for (const auto& [type, table] : EntriesOf(list, {ltU})) {
    // An ltSIRW the session holds already is what the table needs, also next to ltX.
    if (list.LockExists(ltSIRW, table)) continue;
    OpenedLocksFile file(LPageManager, table);
    if (!LockTable(SessionID, ltSIRW, *file, CommitTablesLockRetries, CommitTablesLockDelay, true, true)) return false;
  }
  return true;
}

bool TORVDatabaseTableLockManager::ClearTransactionLocks(int32_t SessionID) {
  Section section(FCSect);
  if (!AddSIRWLocksToULocks(SessionID)) return false;
  TORVTableLockList& list = List(SessionID);
  for (const auto& [type, table] : EntriesOf(list, {ltXIRW, ltRW})) {
    OpenedLocksFile file(LPageManager, table);
    UnlockTable(SessionID, type, *file, false, true);
  }
  return true;
}

}  // namespace orv
