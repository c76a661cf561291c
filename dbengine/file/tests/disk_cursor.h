#pragma once
// The storage tests' cursor over disk tables, taking the locks the access components' local
// cursor takes around an edit, a post and a delete in multi-user mode (table lock with retries
// while the table data lock is let go, record lock, the stored record read again), and
// releasing a disk table data object when its last cursor closes.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/orv_disk_engine_table.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/tests/support/test_cursor.h"
#include "platform/base/clock.h"

namespace orv::testing {

class DiskTestCursor : public TestCursor {
 public:
  using TestCursor::TestCursor;
  ~DiskTestCursor() override {
    try {
      CloseTable();
    } catch (...) {
    }
  }

  TORVDiskTableData* Disk() const { return dynamic_cast<TORVDiskTableData*>(TableData()); }
  bool MultiUser() const { return FSession && FSession->FMultiUser; }
  bool InTx() const { return FSession && FSession->FInTransaction; }
  TORVPageItemID Bookmark() const {
    return TORVPageItemID::ReadFrom(static_cast<const uint8_t*>(FCurrentRecordBuffer) + FBookmarkOffset);
  }

  void CloseTable() override {
    TORVLockGuard<TORVDatabaseData> guard(Session().Database());
    TORVDiskTableData* disk = Disk();
    TestCursor::CloseTable();
    if (disk) disk->FreeIfNoCursorsConnected();
  }
  // Table-level operations run on a closed cursor and leave no table data behind.
  void DeleteTable() override {
    CloseTable();
    TestCursor::DeleteTable();
  }
  void EmptyTable() override {
    TORVLockGuard<TORVDatabaseData> guard(Session().Database());
    CloseTable();
    TestCursor::EmptyTable();
    ReleaseTableData();
  }
  void RenameTable(const std::string& NewTableName) override {
    TORVLockGuard<TORVDatabaseData> guard(Session().Database());
    CloseTable();
    TestCursor::RenameTable(NewTableName);
    ReleaseTableData();
    FTableName = NewTableName;
  }

  bool LockTable(TORVLockType LockType, int32_t TryCount, int32_t Delay, bool AllowXIRWAfterSIRW) override {
    return Disk()->LockTable(GetSessionID(), LockType, TryCount, Delay, AllowXIRWAfterSIRW);
  }
  bool UnlockTable(TORVLockType LockType, bool IgnoreIfNoLock) override {
    return Disk()->UnlockTable(GetSessionID(), LockType, IgnoreIfNoLock);
  }
  bool IsRecordLocked() override {
    TORVLockGuard<TORVTableData> guard(*TableData());
    CurrentRecordID = Bookmark();
    return Disk()->IsRecordLocked(GetSessionID(), CurrentRecordID);
  }

  void InternalEdit() override {
    TORVLockGuard<TORVTableData> guard(*TableData());
    FErrorCode = 0;
    if (!MultiUser()) return;
    TORVDiskTableData& table = *Disk();
    const TORVLockType type = InTx() ? ltXIRW : ltSIRW;
    if (!table.LockTable(GetSessionID(), type, 900, 100, true)) {
      FErrorCode = -13;
      return;
    }
    if (!table.LockRecord(GetSessionID(), CurrentRecordID, 15, 100)) {
      table.UnlockTable(GetSessionID(), type, false);
      FErrorCode = -12;
      return;
    }
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(FCurrentRecordBuffer),
                              static_cast<const uint8_t*>(FCurrentRecordBuffer) + FRecordBufferSize);
    FirstPosition = LastPosition = false;
    if (GetRecordBuffer(grmCurrent) != grrOK)
      FErrorCode = -6;
    else if (!table.FFieldManager->CompareRecordBuffers(copy.data(), FCurrentRecordBuffer))
      FErrorCode = -4;
    std::memcpy(FCurrentRecordBuffer, copy.data(), copy.size());
    if (FErrorCode != 0) {
      table.UnlockRecord(GetSessionID(), CurrentRecordID);
      table.UnlockTable(GetSessionID(), type, false);
    }
  }

  void InternalCancel(bool ToInsert) override {
    TestCursor::InternalCancel(ToInsert);
    if (!MultiUser() || ToInsert || !Disk()) return;
    TORVLockGuard<TORVTableData> guard(*TableData());
    Disk()->UnlockRecord(GetSessionID(), Bookmark());
    if (!InTx()) Disk()->UnlockTable(GetSessionID(), ltSIRW, true);
  }

  void InternalPost(bool ToInsert) override {
    if (!MultiUser()) {
      TestCursor::InternalPost(ToInsert);
      return;
    }
    TORVDiskTableData& table = *Disk();
    TORVLockGuard<TORVTableData> guard(table);
    const int32_t session = GetSessionID();
    const TORVLockType type = InTx() ? ltXIRW : ltRW;
    if (!LockWithPauses(table, type, 2250, 40)) {
      FErrorCode = -13;
      return;
    }
    const TORVPageItemID edited = Bookmark();
    struct Release {
      DiskTestCursor& c;
      TORVDiskTableData& t;
      bool insert;
      TORVPageItemID edited;
      ~Release() {
        try {
          if (!insert && c.FErrorCode != -8) {
            t.UnlockRecord(c.GetSessionID(), edited);
            t.UnlockTable(c.GetSessionID(), ltSIRW, c.InTx());
          }
          if (!c.InTx()) t.UnlockTable(c.GetSessionID(), ltRW, false);
        } catch (...) {
        }
      }
    } release{*this, table, ToInsert, edited};
    if (ToInsert) {
      try {
        table.LoadMostUpdated(session);
      } catch (const EORVException& e) {
        FErrorCode = -8;
        FErrorMessage = e.what();
        return;
      }
    }
    TestCursor::InternalPost(ToInsert);
  }

  void InternalDelete() override {
    if (!MultiUser()) {
      TestCursor::InternalDelete();
      return;
    }
    TORVDiskTableData& table = *Disk();
    TORVLockGuard<TORVTableData> guard(table);
    const int32_t session = GetSessionID();
    const TORVLockType type = InTx() ? ltXIRW : ltRW;
    if (!LockWithPauses(table, type, 900, 100)) {
      FErrorCode = -13;
      return;
    }
    const TORVPageItemID id = Bookmark();
    if (!table.LockRecord(session, id, 15, 100)) {
      table.UnlockTable(session, type, false);
      FErrorCode = -12;
      return;
    }
    struct Release {
      DiskTestCursor& c;
      TORVDiskTableData& t;
      TORVPageItemID id;
      ~Release() {
        try {
          t.UnlockRecord(c.GetSessionID(), id);
          if (!c.InTx()) t.UnlockTable(c.GetSessionID(), ltRW, false);
        } catch (...) {
        }
      }
    } release{*this, table, id};
    TestCursor::InternalDelete();
  }

 private:
  // One try at a time; between tries the table data lock is let go for the pause, so that the
  // process's other cursors go on.
  bool LockWithPauses(TORVDiskTableData& Table, TORVLockType LockType, int32_t Tries, uint32_t DelayMS) {
    for (int32_t i = 0; i < Tries; ++i) {
      if (Table.LockTable(GetSessionID(), LockType, 1, 0, true)) return true;
      Table.Unlock();
      platform::Sleep(DelayMS);
      Table.Lock();
    }
    return false;
  }
  void ReleaseTableData() {
    TORVDatabaseData& db = Session().Database();
    for (int32_t i = 0; i < db.TableDataCount(); ++i) {
      auto* disk = dynamic_cast<TORVDiskTableData*>(db.TableDataAt(i));
      if (disk && disk->FCursorList.empty() && disk->FTableName == FTableName) {
        disk->FreeIfNoCursorsConnected();
        return;
      }
    }
  }
};

// A database file with one session: Create makes the file with the geometry asked for.
struct DiskTable {
  // An encrypted file with a Password that names one.
  explicit DiskTable(const std::string& Path, bool MultiUser = false, uint16_t PageSize = 4096,
                     bool CreateFile = true, platform::FileFactory Factory = {}, const TORVPassword& Password = {})
      : db(std::make_unique<TORVDiskDatabaseData>(std::move(Factory))) {
    db->FDatabaseName = Path;
    db->FPageSize = PageSize;
    db->FPassword = Password;
    if (CreateFile) db->CreateDatabase();
    session = std::make_unique<TestSession>(*db, MultiUser);
  }
  ~DiskTable() {
    cursors.clear();
    session.reset();
    db.reset();
  }
  DiskTestCursor& Create(const std::string& Name, const TORVFieldDefs& Fields,
                         const TORVIndexDefs& Indexes = TORVIndexDefs(),
                         const TORVConstraintDefs& Constraints = TORVConstraintDefs()) {
    {
      DiskTestCursor creator(*session, Name);
      creator.CreateTable(Fields, Indexes, Constraints);
    }
    return Open(Name);
  }
  DiskTestCursor& Open(const std::string& Name, bool Exclusive = false) {
    auto c = std::make_unique<DiskTestCursor>(*session, Name);
    c->FExclusive = Exclusive;
    c->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    cursors.push_back(std::move(c));
    return *cursors.back();
  }

  std::unique_ptr<TORVDiskDatabaseData> db;
  std::unique_ptr<TestSession> session;
  std::vector<std::unique_ptr<DiskTestCursor>> cursors;
};

}  // namespace orv::testing
