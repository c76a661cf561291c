#include "dbengine/file/orv_disk_engine_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "dbengine/file/tests/disk_session.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/base/clock.h"

namespace orv {
namespace {

using testing::CheckDbFiles;
using testing::CodeOf;
using testing::DiskDatabase;
using testing::DiskSession;
using testing::InChild;
using testing::LockSeenFromOutside;
using testing::Peer;
using testing::PythonLockHolder;

// With the defaults: the sessions file is page 3, its content byte s lies at page offset 50.
constexpr int64_t kSessionsMutexByte = 380 + 3 * 4096;
constexpr int64_t kSessionByte0 = kSessionsMutexByte + 40 + 10;

class DiskDatabaseTest : public testing::DiskFileTest {
 protected:
  void CreateFile() { DiskDatabase(path)->CreateDatabase(); }

  static std::vector<int64_t> HeldOffsets(TORVDiskDatabaseData& db) {
    std::vector<int64_t> offsets;
    for (const auto& r : db.GetDiskPageManager()->DatabaseFile().Handle()->HeldLocks()) offsets.push_back(r.offset);
    return offsets;
  }
  static std::vector<std::string> Tables(TORVDiskDatabaseData& db) {
    std::vector<std::string> names;
    db.GetTablesList(names);
    return names;
  }
};

// A table added the way a table create does it: under the tables lock, the list saved and the
// system session committed.
void AddTableCommitted(TORVDiskDatabaseData& db, const std::string& name, int32_t id) {
  db.LockTables();
  try {
    db.AddTable(id, name, 100 + id, 200 + id, 300 + id);
    db.GetDiskPageManager()->ApplyChanges(SYSTEM_SESSION_ID);
  } catch (...) {
    db.GetDiskPageManager()->CancelChanges(SYSTEM_SESSION_ID);
    db.UnlockTables();
    throw;
  }
  db.UnlockTables();
}

TEST_F(DiskDatabaseTest, ANewDatabaseIsLeftClosedAndReadsAsExpectedFromOutside) {
  const std::string folder = std::string(QUIRVEL_TEST_OUTPUT) + "/file";
  std::filesystem::create_directories(folder);
  const std::string fresh = folder + "/fresh.orv";
  {
    auto db = DiskDatabase(fresh);
    db->CreateDatabase();
    EXPECT_FALSE(db->IsOpened());
  }
  // Closed: nobody else has it open, so it opens with no sharing at all.
  platform::File file;
  EXPECT_EQ(file.Open(fresh, platform::FileAccess::ReadWrite, platform::FileShare::Exclusive), 0);
  file.Close();
  EXPECT_FALSE(std::filesystem::exists(fresh + "-journal"));
  const auto check = CheckDbFiles({"fresh", fresh});
  EXPECT_EQ(check.exit_code, 0) << check.output;
}

TEST_F(DiskDatabaseTest, TheFirstConnectOpensTheFileAndTheLastDisconnectClosesIt) {
  CreateFile();
  auto db = DiskDatabase(path);
  {
    DiskSession s(*db);
    EXPECT_EQ(s.Connect(), 0);
    EXPECT_TRUE(db->IsOpened());
    EXPECT_FALSE(s.FRepairNeeded);
    EXPECT_EQ(db->FMaxSessionCount, 500);
    EXPECT_EQ(db->FPageSize, 4096);
    EXPECT_EQ(db->FPageCountInExtent, 8);
    EXPECT_EQ(db->GetSystemDirectory()->GetFileFirstPageNo(dbftActiveSessionsList), 3);
    EXPECT_EQ(db->GetSystemDirectory()->GetFileFirstPageNo(dbftTablesList), 4);
    EXPECT_EQ(db->GetSystemDirectory()->GetFileFirstPageNo(dbftUnknown), -1);
    EXPECT_TRUE(Tables(*db).empty());
    EXPECT_EQ(CodeOf([&] { db->CreateDatabase(); }), 10461);
    AddTableCommitted(*db, "Plate", 1);
    s.Disconnect();
  }
  EXPECT_FALSE(db->IsOpened());
  EXPECT_EQ(CodeOf([&] { Tables(*db); }), 30519);
  int32_t id = 0, m = 0, u = 0, l = 0;
  EXPECT_EQ(CodeOf([&] { db->OpenTable("Plate", id, m, u, l); }), 20129);
  EXPECT_EQ(CodeOf([&] { db->RemoveTable("Plate"); }), 20130);
  EXPECT_EQ(CodeOf([&] { db->RenameTable("Plate", "P"); }), 20131);
  // Connected again: the directory and the list are read anew.
  DiskSession s(*db);
  s.Connect();
  EXPECT_EQ(Tables(*db), std::vector<std::string>{"Plate"});
}

TEST_F(DiskDatabaseTest, AWrongPasswordLeavesTheFileClosedForAnotherTry) {
  {
    auto db = DiskDatabase(path);
    db->FPassword = {"Rakel", craTwofish_256};
    db->CreateDatabase();
  }
  auto db = DiskDatabase(path);
  db->FPassword = {"rakel", craRijndael_128};
  DiskSession s(*db);
  EXPECT_EQ(CodeOf([&] { s.Connect(); }), 30445);
  EXPECT_FALSE(db->IsOpened());
  db->FPassword.Password = "Rakel";
  EXPECT_EQ(s.Connect(), 0);
  EXPECT_TRUE(db->GetEncrypted());
  EXPECT_EQ(db->FPassword.CryptoAlgorithm, craTwofish_256);  // the file's
  // The session bytes and their file header stay plain in an encrypted file.
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 1);
  EXPECT_EQ(db->FMaxSessionCount, 500);
  s.Disconnect();
  // A commit cut off without a journal: the next connect says the file needs its repair.
  std::vector<uint8_t> bytes = testing::ReadAll(path);
  bytes[42] = WriteChangesStarted;
  testing::WriteAll(path, bytes);
  EXPECT_EQ(s.Connect(), 0);
  EXPECT_TRUE(s.FRepairNeeded);
}

TEST(TableListFile, NamesAreWindows1252AndEqualWhenOnlyLettersAToZDifferInCase) {
  TORVDiskPageManager pm;
  TORVTableListFile list(pm);
  list.AddTable(1, "Plate", 10, 11, 12);
  list.AddTable(2, "FILM", 20, 21, 22);
  list.AddTable(3, "\xC9t\xE9", 30, 31, 32);  // Été
  EXPECT_TRUE(list.TableExists("plate"));
  EXPECT_TRUE(list.TableExists("\xC9T\xE9"));
  EXPECT_FALSE(list.TableExists("\xE9t\xE9"));  // é and É are other letters than a to z
  EXPECT_EQ(CodeOf([&] { list.AddTable(4, "film", 40, 41, 42); }), 30395);
  EXPECT_EQ(CodeOf([&] { list.RemoveTable("Lams"); }), 30405);
  EXPECT_EQ(CodeOf([&] { list.RenameTable("Lams", "X"); }), 30397);
  int32_t id = 0, m = 0, u = 0, l = 0;
  EXPECT_EQ(CodeOf([&] { list.OpenTable("Lams", id, m, u, l); }), 30396);
  list.RemoveTable("PLATE");
  ASSERT_EQ(list.Items().size(), 2u);
  EXPECT_EQ(list.Items()[0].TableName, "FILM");
  // A long name is kept, and found, as its first 255 characters.
  const std::string long_name(300, 'q');
  list.AddTable(5, long_name, 50, 51, 52);
  EXPECT_EQ(list.Items().back().TableName, long_name.substr(0, 255));
  list.OpenTable(long_name, id, m, u, l);
  EXPECT_EQ(std::vector<int32_t>({id, m, u, l}), std::vector<int32_t>({5, 50, 51, 52}));
  uint8_t stored[TORVTableListItem::StoredSize];
  list.Items().back().WriteTo(stored);
  EXPECT_EQ(stored[0], 255);
  EXPECT_EQ(TORVTableListItem::ReadFrom(stored).TableName, long_name.substr(0, 255));
  EXPECT_EQ(CodeOf([&] { list.Load(); }), 30389);  // no file behind it
}

TEST_F(DiskDatabaseTest, SessionsOfSeveralProcessesGetTheirOwnNumbers) {
  CreateFile();
  auto connected = [&](Peer& p) {
    auto db = DiskDatabase(path);
    DiskSession s(*db);
    p.Send(s.Connect());
    p.Receive();
    s.Disconnect();
    p.Send(-2);
    p.Receive();
    return 0;
  };
  Peer a(connected);
  ASSERT_EQ(a.Receive(), 0);
  Peer b(connected);
  ASSERT_EQ(b.Receive(), 1);
  // The other processes see session 0's byte locked for writing.
  EXPECT_EQ(LockSeenFromOutside(path, kSessionByte0), "write");
  EXPECT_EQ(LockSeenFromOutside(path, kSessionByte0 + 2), "none");

  auto db = DiskDatabase(path);
  DiskSession c(*db);
  EXPECT_EQ(c.Connect(), 2);
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 3);
  a.Send(0);
  ASSERT_EQ(a.Receive(), -2);
  // The number a gave back is the first free one again.
  DiskSession d(*db);
  EXPECT_EQ(d.Connect(), 0);
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 3);
  a.Send(0);
  EXPECT_EQ(a.Wait(), 0);
  b.Send(0);
  b.Send(0);
  EXPECT_EQ(b.Wait(), 0);
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 2);
}

TEST_F(DiskDatabaseTest, SessionsOfOneProcessShareItsHandle) {
  CreateFile();
  auto db = DiskDatabase(path);
  DiskSession s1(*db), s2(*db);
  EXPECT_EQ(s1.Connect(), 0);
  // The first byte is held by this very handle: its registry refuses it to the second session.
  EXPECT_EQ(s2.Connect(), 1);
  EXPECT_EQ(HeldOffsets(*db), (std::vector<int64_t>{kSessionByte0, kSessionByte0 + 1}));
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 2);
  s1.Disconnect();
  DiskSession s3(*db);
  EXPECT_EQ(s3.Connect(), 0);
  // A second database object of the file has a handle of its own.
  auto other = DiskDatabase(path);
  DiskSession s4(*other);
  EXPECT_EQ(s4.Connect(), 2);
  EXPECT_EQ(other->GetDBFileConnectionsCount(), 3);
  // One open file, one mode.
  DiskSession single(*db, false);
  EXPECT_EQ(CodeOf([&] { single.Connect(); }), 20235);
  EXPECT_FALSE(single.GetConnected());
}

TEST_F(DiskDatabaseTest, ASingleUserProcessHoldsEverySessionByte) {
  CreateFile();
  Peer holder([&](Peer& p) {
    auto db = DiskDatabase(path);
    DiskSession s(*db, false);
    s.Connect();
    p.Send(db->FReadOnly ? 1 : 0);
    p.Receive();
    return 0;
  });
  ASSERT_EQ(holder.Receive(), 0);
  {
    auto db = DiskDatabase(path);
    DiskSession multi(*db);
    EXPECT_EQ(CodeOf([&] { multi.Connect(); }), 20094);
    EXPECT_FALSE(db->IsOpened());
  }
  {
    auto db = DiskDatabase(path);
    DiskSession single(*db, false);
    EXPECT_EQ(single.Connect(), 0);
    EXPECT_TRUE(db->FReadOnly);
    EXPECT_FALSE(db->SingleUserConnected());
    EXPECT_EQ(db->GetDBFileConnectionsCount(), 500);
  }
  holder.Send(0);
  EXPECT_EQ(holder.Wait(), 0);

  auto db = DiskDatabase(path);
  DiskSession first(*db, false), second(*db, false);
  EXPECT_EQ(first.Connect(), 0);
  EXPECT_EQ(second.Connect(), 0);
  EXPECT_FALSE(db->FReadOnly);
  EXPECT_TRUE(db->SingleUserConnected());
  DiskSession multi(*db);
  EXPECT_EQ(CodeOf([&] { multi.Connect(); }), 20235);
  // The bytes stay held until the process's last session goes.
  first.Disconnect();
  EXPECT_TRUE(db->SingleUserConnected());
  EXPECT_EQ(LockSeenFromOutside(path, kSessionByte0 + 499), "write");
  second.Disconnect();
  EXPECT_FALSE(db->IsOpened());
  EXPECT_EQ(LockSeenFromOutside(path, kSessionByte0 + 499), "none");
}

TEST_F(DiskDatabaseTest, ASessionsFileMutexHeldElsewhereStopsConnectsBeforeAnyByte) {
  CreateFile();
  auto db = DiskDatabase(path);
  DiskSession first(*db);
  ASSERT_EQ(first.Connect(), 0);
  {
    PythonLockHolder mutex(path, kSessionsMutexByte);
    ASSERT_TRUE(mutex.Ready());
    DiskSession second(*db);
    const uint32_t before = clock.TickCount();
    EXPECT_EQ(CodeOf([&] { second.Connect(); }), 20094);
    EXPECT_EQ(clock.TickCount() - before, 4500u * 20u);
    EXPECT_EQ(CodeOf([&] { first.Disconnect(); }), 20095);
    EXPECT_EQ(CodeOf([&] { db->GetDBFileConnectionsCount(); }), 30484);
    // Nothing but the first session's byte was ever taken, and that one is still held.
    EXPECT_EQ(HeldOffsets(*db), std::vector<int64_t>{kSessionByte0});
    EXPECT_TRUE(first.GetConnected());
  }
  DiskSession second(*db);
  EXPECT_EQ(second.Connect(), 1);
  first.Disconnect();
  EXPECT_EQ(HeldOffsets(*db), std::vector<int64_t>{kSessionByte0 + 1});
}

TEST_F(DiskDatabaseTest, TwoProcessesChangingTheTableListAtOnceLoseNothing) {
  CreateFile();
  // Both connect (and so load the list) before either adds its table.
  auto adder = [&](std::string name, int32_t id) {
    return [this, name, id](Peer& p) {
      platform::SetClock(nullptr);  // real pauses: the other process holds the tables lock a moment
      auto db = DiskDatabase(path);
      DiskSession s(*db);
      s.Connect();
      p.Send(0);
      p.Receive();
      const int32_t code = CodeOf([&] { AddTableCommitted(*db, name, id); });
      return code == 0 ? 0 : code == 30395 ? 1 : 2;
    };
  };
  auto race = [&](std::pair<std::string, int32_t> x, std::pair<std::string, int32_t> y) {
    Peer a(adder(x.first, x.second)), b(adder(y.first, y.second));
    EXPECT_EQ(a.Receive(), 0);
    EXPECT_EQ(b.Receive(), 0);
    a.Send(0);
    b.Send(0);
    std::vector<int> results{a.Wait(), b.Wait()};
    std::sort(results.begin(), results.end());
    return results;
  };
  EXPECT_EQ(race({"Plate", 1}, {"FILM", 2}), (std::vector<int>{0, 0}));
  // The same name: one of them is told it exists.
  EXPECT_EQ(race({"Lams", 3}, {"LAMS", 4}), (std::vector<int>{0, 1}));

  auto db = DiskDatabase(path);
  DiskSession s(*db);
  s.Connect();
  std::vector<std::string> names = Tables(*db);
  ASSERT_EQ(names.size(), 3u);
  std::sort(names.begin(), names.begin() + 2);
  EXPECT_EQ(names[0], "FILM");
  EXPECT_EQ(names[1], "Plate");
  EXPECT_TRUE(names[2] == "Lams" || names[2] == "LAMS");
}

TEST_F(DiskDatabaseTest, OpenTableFindsATableAnotherProcessCreated) {
  CreateFile();
  auto db = DiskDatabase(path);
  DiskSession s(*db);
  s.Connect();
  int32_t id = 0, metadata = 0, most_updated = 0, locks = 0;
  EXPECT_EQ(CodeOf([&] { db->OpenTable("Plate", id, metadata, most_updated, locks); }), 30396);
  EXPECT_EQ(InChild([&] {
              auto other = DiskDatabase(path);
              DiskSession t(*other);
              t.Connect();
              AddTableCommitted(*other, "Plate", 7);
              return 0;
            }),
            0);
  db->OpenTable("PLATE", id, metadata, most_updated, locks);
  EXPECT_EQ(std::vector<int32_t>({id, metadata, most_updated, locks}), std::vector<int32_t>({7, 107, 207, 307}));

  AddTableCommitted(*db, "FILM", 8);
  db->LockTables();
  db->RenameTable("film", "Film2");
  EXPECT_EQ(CodeOf([&] { db->RemoveTable("Lams"); }), 30405);
  db->GetDiskPageManager()->ApplyChanges(SYSTEM_SESSION_ID);
  db->UnlockTables();
  EXPECT_EQ(Tables(*db), (std::vector<std::string>{"Plate", "Film2"}));
  EXPECT_TRUE(db->TableExists("plate"));
  EXPECT_EQ(CodeOf([&] { AddTableCommitted(*db, "film2", 9); }), 30395);
  // The tables lock is a byte of the file: a second handle waits its 200 tries for it.
  db->LockTables();
  auto other = DiskDatabase(path);
  DiskSession t(*other);
  t.Connect();
  const uint32_t before = clock.TickCount();
  EXPECT_EQ(CodeOf([&] { other->LockTables(); }), 20210);
  EXPECT_EQ(clock.TickCount() - before, 200u * 20u);
  db->UnlockTables();
  EXPECT_EQ(CodeOf([&] { db->UnlockTables(); }), 20211);
}

TEST_F(DiskDatabaseTest, ObjectIdsComeFromTheFile) {
  CreateFile();
  auto db = DiskDatabase(path);
  DiskSession s(*db);
  s.Connect();
  EXPECT_EQ(db->GetNewObjectId(), 1);
  EXPECT_EQ(db->GetNewObjectId(), 2);
  EXPECT_EQ(InChild([&] {
              auto other = DiskDatabase(path);
              DiskSession t(*other);
              t.Connect();
              return other->GetNewObjectId();
            }),
            3);
  EXPECT_EQ(db->GetNewObjectId(), 4);
  EXPECT_EQ(CodeOf([&] { DiskDatabase(path)->GetNewObjectId(); }), 30399);
}

class DiskDatabaseLocksTest : public DiskDatabaseTest {
 protected:
  void SetUp() override {
    CreateFile();
    db = DiskDatabase(path);
    session = std::make_unique<DiskSession>(*db);
    session->Connect();
    // A table's locks file, made the way a table create makes it.
    locks = std::make_unique<TORVTableLocksFile>(*db->GetDiskPageManager());
    table = locks->CreateFile(db->FMaxSessionCount);
    db->GetDiskPageManager()->ApplyChanges(SYSTEM_SESSION_ID);
  }
  void TearDown() override {
    locks.reset();
    session.reset();
    db.reset();
  }
  // What a second handle of the file sees of the session's lock byte of a type.
  bool ByteHeld(TORVLockType type, int32_t session_id) {
    auto other = DiskDatabase(path);
    DiskSession t(*other);
    t.Connect();
    TORVTableLocksFile view(*other->GetDiskPageManager());
    view.OpenFile(table);
    return view.Handle()->IsByteLocked(view.GetTableLockByteNo(session_id, type));
  }

  std::unique_ptr<TORVDiskDatabaseData> db;
  std::unique_ptr<DiskSession> session;
  std::unique_ptr<TORVTableLocksFile> locks;
  int32_t table = -1;
};

TEST_F(DiskDatabaseLocksTest, ACommitLeavesSIRWWhereARecordStaysLocked) {
  TORVDatabaseTableLockManager& manager = *db->GetTableLockManager();
  const int32_t id = session->FSessionID;
  session->StartTransaction();
  ASSERT_TRUE(manager.LockTable(id, ltXIRW, *locks, 1, 0, false, true));
  ASSERT_TRUE(manager.LockRecord(id, *locks, {5, 1}, 1, 0));
  session->Commit(true);
  const TORVTableLockList& list = manager.SessionLocks(id);
  EXPECT_TRUE(list.LockExists(ltSIRW, table));
  EXPECT_TRUE(list.LockExists(ltU, table));
  EXPECT_FALSE(list.LockExists(ltXIRW, table));
  EXPECT_FALSE(list.LockExists(ltRW, table));
  EXPECT_TRUE(ByteHeld(ltSIRW, id));
  EXPECT_TRUE(ByteHeld(ltU, id));
  EXPECT_FALSE(ByteHeld(ltXIRW, id));
  EXPECT_FALSE(ByteHeld(ltRW, id));
  EXPECT_TRUE(manager.UnlockRecord(id, *locks, {5, 1}));
  EXPECT_TRUE(manager.UnlockTable(id, ltSIRW, *locks, false, false));
}

TEST_F(DiskDatabaseLocksTest, ACommitWhoseTablesCannotBeLockedFailsAndRollsBack) {
  Peer reader([&](Peer& p) {
    auto other = DiskDatabase(path);
    DiskSession t(*other);
    t.Connect();
    TORVTableLocksFile view(*other->GetDiskPageManager());
    view.OpenFile(table);
    const bool locked = other->GetTableLockManager()->LockTable(t.FSessionID, ltS, view, 1, 0, false, false);
    p.Send(locked ? 1 : 0);
    p.Receive();
    other->GetTableLockManager()->UnlockTable(t.FSessionID, ltS, view, false, false);
    return 0;
  });
  ASSERT_EQ(reader.Receive(), 1);
  TORVDatabaseTableLockManager& manager = *db->GetTableLockManager();
  const int32_t id = session->FSessionID;
  session->StartTransaction();
  ASSERT_TRUE(manager.LockTable(id, ltXIRW, *locks, 1, 0, false, false));
  const uint32_t before = clock.TickCount();
  EXPECT_EQ(CodeOf([&] { session->Commit(false); }), 20233);
  // 900 tries, each pausing 50 to 99 ms.
  EXPECT_GE(clock.TickCount() - before, 900u * 50u);
  EXPECT_LT(clock.TickCount() - before, 900u * 100u);
  EXPECT_FALSE(manager.SessionLocks(id).LockExists(ltRW, table));
  EXPECT_TRUE(session->FInTransaction);
  session->Rollback();
  EXPECT_EQ(manager.SessionLocks(id).Count(), 0);
  reader.Send(0);
  EXPECT_EQ(reader.Wait(), 0);
}

TEST_F(DiskDatabaseLocksTest, ASessionLeavingInATransactionTakesItsLocksAlong) {
  DiskSession stays(*db);
  stays.Connect();
  TORVDatabaseTableLockManager& manager = *db->GetTableLockManager();
  const int32_t id = session->FSessionID;
  session->StartTransaction();
  ASSERT_TRUE(manager.LockTable(id, ltXIRW, *locks, 1, 0, false, false));
  session->Disconnect();
  EXPECT_EQ(manager.SessionLocks(id).Count(), 0);
  EXPECT_FALSE(ByteHeld(ltXIRW, id));
  // Locks still held when the file closes are reported once it is closed.
  ASSERT_TRUE(manager.LockTable(stays.FSessionID, ltIS, *locks, 1, 0, false, false));
  locks.reset();
  EXPECT_EQ(CodeOf([&] { stays.Disconnect(); }), 20201);
  EXPECT_FALSE(db->IsOpened());
}

}  // namespace
}  // namespace orv
