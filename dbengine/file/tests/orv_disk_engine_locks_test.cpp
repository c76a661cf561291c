#include "dbengine/file/orv_disk_engine_locks.h"

#include <gtest/gtest.h>

#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/tests/disk_session.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/base/clock.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::DiskDatabase;
using testing::DiskSession;
using testing::Peer;

TEST(LockStrength, FollowsFromWhichLocksOthersMayHoldBesideIt) {
  // Row: the lock; column: the lock it is at least as strong as.
  constexpr bool kStronger[7][7] = {
      // ltIS  ltS    ltSIRW ltXIRW ltRW   ltU    ltX
      {true, false, false, false, false, true, false},  // ltIS
      {true, true, false, false, false, true, false},   // ltS
      {true, false, true, false, false, true, false},   // ltSIRW
      {true, true, true, true, false, true, false},     // ltXIRW
      {true, true, true, false, true, true, false},     // ltRW
      {true, false, false, false, false, true, false},  // ltU
      {true, true, true, true, true, true, true},       // ltX
  };
  for (int a = ltIS; a <= ltX; ++a)
    for (int b = ltIS; b <= ltX; ++b)
      EXPECT_EQ(IsLockStronger(static_cast<TORVLockType>(a), static_cast<TORVLockType>(b)), kStronger[a][b])
          << a << " over " << b;
}

TEST(TableLockList, CountsEntriesAndTellsStrongerAndWeakerOnes) {
  TORVTableLockList list;
  list.AddLock(ltS, 10, true, false);
  list.AddLock(ltS, 10, false, true);  // counted, flags unchanged
  list.AddLock(ltU, 10, false, true);
  list.AddLock(ltS, 20, true, false);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Item(0).LockCount, 2);
  EXPECT_TRUE(list.Item(0).HasPhysicalLock);
  EXPECT_TRUE(list.StrongerLockExists(ltIS, 10));
  EXPECT_FALSE(list.StrongerLockExists(ltS, 10));
  EXPECT_FALSE(list.StrongerLockExists(ltRW, 10));
  EXPECT_TRUE(list.LockExists(ltU, 10, true));
  EXPECT_FALSE(list.LockExists(ltU, 10, false));
  EXPECT_TRUE(list.IsWeakerNonPhysicalLock(1, ltX));
  EXPECT_FALSE(list.IsWeakerNonPhysicalLock(0, ltX));  // physical
  bool physical = true;
  list.RemoveLock(ltS, 10, physical, false);
  EXPECT_FALSE(physical);
  list.RemoveLock(ltS, 10, physical, false);
  EXPECT_TRUE(physical);
  list.AddLock(ltXIRW, 20, true, false);
  list.AddLock(ltXIRW, 20, true, false);
  list.RemoveLock(ltXIRW, 20, physical, true);  // whatever its count
  EXPECT_TRUE(physical);
  EXPECT_FALSE(list.LockExists(ltXIRW, 20));
  EXPECT_EQ(CodeOf([&] { list.RemoveLock(ltRW, 10, physical, false); }), 20202);
  EXPECT_EQ(CodeOf([&] { list.CheckEmpty(); }), 20201);
}

// A database with two tables' locks files (for 500 sessions: two pages each), closed.
class TableLocksTest : public testing::DiskFileTest {
 protected:
  struct Open {
    std::unique_ptr<TORVDiskDatabaseData> db;
    std::unique_ptr<DiskSession> session;
    std::unique_ptr<TORVTableLocksFile> a, b;
    TORVDatabaseTableLockManager& manager() const { return *db->GetTableLockManager(); }
    platform::File& handle() const { return *db->GetDiskPageManager()->DatabaseFile().Handle(); }
    // Whether this process's handle holds session s's byte of lock type t on table a.
    bool Holds(TORVLockType t, int32_t s) const {
      return handle().HoldsLock(ByteOffset(*a, a->GetTableLockByteNo(s, t)), 1);
    }
    int64_t ByteOffset(TORVTableLocksFile& file, int32_t byte_no) const {
      int32_t page = 0;
      uint16_t offset = 0;
      file.Handle()->InternalSeek(byte_no, page, offset);
      return db->GetDiskPageManager()->GetPageOffset(page) + offset;
    }
  };

  void SetUp() override {
    DiskDatabase(path)->CreateDatabase();
    Open o = Connect();
    TORVTableLocksFile a(*o.db->GetDiskPageManager()), b(*o.db->GetDiskPageManager());
    table_a = a.CreateFile(o.db->FMaxSessionCount);
    table_b = b.CreateFile(o.db->FMaxSessionCount);
    o.db->GetDiskPageManager()->ApplyChanges(SYSTEM_SESSION_ID);
  }

  Open Connect(bool exclusive = false) const {
    Open o;
    o.db = DiskDatabase(path);
    o.session = std::make_unique<DiskSession>(*o.db, !exclusive, exclusive);
    o.session->Connect();
    if (table_a == -1) return o;
    o.a = std::make_unique<TORVTableLocksFile>(*o.db->GetDiskPageManager());
    o.a->OpenFile(table_a);
    o.b = std::make_unique<TORVTableLocksFile>(*o.db->GetDiskPageManager());
    o.b->OpenFile(table_b);
    return o;
  }

  int32_t table_a = -1, table_b = -1;
};

TEST_F(TableLocksTest, TheLocksFileMapsTypesAndSessionsToBytes) {
  Open o = Connect();
  TORVTableLocksFile& f = *o.a;
  EXPECT_EQ(f.GetMaxSessionCount(), 500);
  EXPECT_EQ(f.Handle()->FileSize(), 6000);
  EXPECT_EQ(f.GetTableLockByteNo(7, ltRW), 2007);
  EXPECT_EQ(f.GetRecordLockByteNo(7), f.GetTableLockByteNo(7, ltU));
  EXPECT_EQ(f.GetRecordLockRecordIDByteNo(499), 5994);
  EXPECT_FALSE(f.LockTable(1, ltX));
  EXPECT_EQ(CodeOf([&] { f.LockTable(500, ltS); }), 20200);
  TORVTableLocksFile closed(*o.db->GetDiskPageManager());
  EXPECT_EQ(CodeOf([&] { closed.GetStartPageNo(); }), 10483);
  EXPECT_EQ(CodeOf([&] { closed.LockTable(0, ltS); }), 10489);
  EXPECT_EQ(CodeOf([&] { closed.IsTableLockedByAnyOtherSession(0, ltS); }), 10490);
  EXPECT_EQ(CodeOf([&] { closed.LockRecord(0, {1, 1}); }), 10491);
  EXPECT_EQ(CodeOf([&] { closed.UnlockRecord(0, {1, 1}); }), 10492);
  EXPECT_EQ(CodeOf([&] { closed.IsRecordLockedByAnyOtherSession(0, {1, 1}); }), 10493);
  EXPECT_EQ(CodeOf([&] { closed.UnlockTable(0, ltS); }), 10494);
  // The edges of the session range: the first and the last session's bytes are seen.
  ASSERT_TRUE(f.LockTable(0, ltS));
  ASSERT_TRUE(f.LockTable(499, ltS));
  EXPECT_TRUE(f.IsTableLockedByAnyOtherSession(250, ltS));
  EXPECT_TRUE(f.IsTableLockedByAnyOtherSession(0, ltS));
  EXPECT_TRUE(f.UnlockTable(499, ltS));
  EXPECT_FALSE(f.IsTableLockedByAnyOtherSession(0, ltS));
  EXPECT_TRUE(f.UnlockTable(0, ltS));
}

TEST_F(TableLocksTest, SessionsOfOneProcessMeetThroughTheHandleRegistry) {
  Open o = Connect();
  TORVDatabaseTableLockManager& m = o.manager();
  ASSERT_TRUE(m.LockTable(3, ltS, *o.a, 1, 0, false, false));
  ASSERT_TRUE(m.LockTable(3, ltS, *o.a, 1, 0, false, false));
  const uint32_t before = clock.TickCount();
  EXPECT_FALSE(m.LockTable(5, ltRW, *o.a, 3, 100, false, false));
  // Three rounds, each followed by a pause of 50 to 99 ms.
  EXPECT_GE(clock.TickCount() - before, 150u);
  EXPECT_LE(clock.TickCount() - before, 297u);
  EXPECT_TRUE(m.LockTable(5, ltIS, *o.a, 1, 0, false, false));
  EXPECT_TRUE(m.UnlockTable(3, ltS, *o.a, false, false));
  EXPECT_TRUE(o.Holds(ltS, 3));
  EXPECT_TRUE(m.UnlockTable(3, ltS, *o.a, false, false));
  EXPECT_FALSE(o.Holds(ltS, 3));
  EXPECT_TRUE(m.LockTable(5, ltRW, *o.a, 1, 0, false, false));
  EXPECT_TRUE(m.UnlockTable(5, ltRW, *o.a, false, false));
  EXPECT_TRUE(m.UnlockTable(5, ltIS, *o.a, false, false));
  EXPECT_TRUE(m.UnlockTable(5, ltIS, *o.a, true, false));  // not held, ignored
  EXPECT_EQ(CodeOf([&] { m.UnlockTable(5, ltIS, *o.a, false, false); }), 20202);
  EXPECT_EQ(CodeOf([&] { m.LockTable(500, ltS, *o.a, 1, 0, false, false); }), 20200);
  m.Close();
}

TEST_F(TableLocksTest, AnXLockCoversTheWeakerLocksOfItsTableAndHandsThemOver) {
  Open o = Connect();
  TORVDatabaseTableLockManager& m = o.manager();
  ASSERT_TRUE(m.LockTable(1, ltX, *o.a, 1, 0, false, false));
  EXPECT_TRUE(m.LockTable(1, ltS, *o.a, 1, 0, false, false));
  EXPECT_FALSE(o.Holds(ltS, 1));  // logical
  EXPECT_TRUE(m.LockTable(1, ltS, *o.b, 1, 0, false, false));
  EXPECT_TRUE(o.handle().HoldsLock(o.ByteOffset(*o.b, o.b->GetTableLockByteNo(1, ltS)), 1));
  // Another session of the process finds the mutex taken.
  EXPECT_FALSE(m.LockTable(2, ltIS, *o.a, 2, 10, false, false));
  EXPECT_TRUE(m.UnlockTable(1, ltX, *o.a, false, false));
  EXPECT_TRUE(o.Holds(ltS, 1));
  EXPECT_TRUE(m.LockTable(2, ltIS, *o.a, 1, 0, false, false));
  EXPECT_FALSE(m.LockTable(2, ltX, *o.a, 1, 0, false, false));  // the ltS of session 1
  for (auto [s, t, f] : {std::tuple{1, ltS, o.a.get()}, {1, ltS, o.b.get()}, {2, ltIS, o.a.get()}})
    EXPECT_TRUE(m.UnlockTable(s, t, *f, false, false));
  m.Close();
}

TEST_F(TableLocksTest, RecordLocks) {
  Open o = Connect();
  TORVDatabaseTableLockManager& m = o.manager();
  const TORVPageItemID r1{11, 1}, r2{11, 2}, r3{12, 1};
  ASSERT_TRUE(m.LockRecord(1, *o.a, r1, 1, 0));
  ASSERT_TRUE(m.LockRecord(2, *o.a, r2, 1, 0));
  EXPECT_FALSE(m.LockRecord(1, *o.a, r3, 1, 0));  // one record per session and table
  EXPECT_TRUE(m.LockRecord(1, *o.b, r3, 1, 0));
  const uint32_t before = clock.TickCount();
  EXPECT_FALSE(m.LockRecord(3, *o.a, r1, 4, 25));
  EXPECT_EQ(clock.TickCount() - before, 100u);
  EXPECT_FALSE(m.LockRecord(3, *o.a, r2, 1, 0));
  EXPECT_TRUE(m.IsRecordLocked(3, *o.a, r1));
  EXPECT_FALSE(m.IsRecordLocked(1, *o.a, r1));  // its own
  EXPECT_FALSE(m.IsRecordLocked(3, *o.a, r3));
  EXPECT_TRUE(m.UnlockRecord(1, *o.a, r1));
  EXPECT_FALSE(m.UnlockRecord(1, *o.a, r1));
  EXPECT_TRUE(m.LockRecord(3, *o.a, r1, 1, 0));
  for (auto [s, f, r] : {std::tuple{2, o.a.get(), r2}, {3, o.a.get(), r1}, {1, o.b.get(), r3}})
    EXPECT_TRUE(m.UnlockRecord(s, *f, r));
  m.Close();
}

TEST_F(TableLocksTest, ARecordWaitEndsOnTimeAcrossTheTickCountWrap) {
  Open o = Connect();
  TORVDatabaseTableLockManager& m = o.manager();
  ASSERT_TRUE(m.LockRecord(1, *o.a, {3, 3}, 1, 0));
  platform::ManualClock wrapping(0, 0xFFFFFF00u);
  platform::ScopedClock scoped_wrap(wrapping);
  EXPECT_FALSE(m.LockRecord(2, *o.a, {3, 3}, 5, 100));
  EXPECT_EQ(wrapping.TickCount() - 0xFFFFFF00u, 500u);  // all five tries, none cut short
  EXPECT_TRUE(m.UnlockRecord(1, *o.a, {3, 3}));
}

TEST_F(TableLocksTest, OtherProcessesLocksAreRespected) {
  // The other process takes (code t) or releases (code 10 + t) lock type t on table a as its
  // session, or locks (20) and releases (21) record {9, 9}; it answers 1 for True.
  Peer other([&](Peer& p) {
    Open c = Connect();
    p.Send(1);
    TORVDatabaseTableLockManager& m = c.manager();
    const int32_t s = c.session->FSessionID;
    for (int32_t cmd = p.Receive(); cmd >= 0; cmd = p.Receive()) {
      bool ok = false;
      if (cmd < 10)
        ok = m.LockTable(s, static_cast<TORVLockType>(cmd), *c.a, 1, 0, false, false);
      else if (cmd < 20)
        ok = m.UnlockTable(s, static_cast<TORVLockType>(cmd - 10), *c.a, false, false);
      else if (cmd == 20)
        ok = m.LockRecord(s, *c.a, {9, 9}, 1, 0);
      else
        ok = m.UnlockRecord(s, *c.a, {9, 9});
      p.Send(ok ? 1 : 0);
    }
    return 0;
  });
  // Connected one after the other: the sessions file's mutex is not waited for here.
  ASSERT_EQ(other.Receive(), 1);
  auto ask = [&](int32_t cmd) {
    other.Send(cmd);
    return other.Receive() == 1;
  };
  Open o = Connect();
  TORVDatabaseTableLockManager& m = o.manager();
  const int32_t me = o.session->FSessionID;

  ASSERT_TRUE(ask(ltS));
  uint32_t before = clock.TickCount();
  EXPECT_FALSE(m.LockTable(me, ltRW, *o.a, 3, 100, false, false));
  EXPECT_GE(clock.TickCount() - before, 150u);
  EXPECT_TRUE(m.LockTable(me, ltIS, *o.a, 1, 0, false, false));
  ASSERT_TRUE(ask(10 + ltS));
  EXPECT_TRUE(m.LockTable(me, ltRW, *o.a, 1, 0, false, false));
  EXPECT_TRUE(m.UnlockTable(me, ltRW, *o.a, false, false));
  EXPECT_TRUE(m.UnlockTable(me, ltIS, *o.a, false, false));

  ASSERT_TRUE(ask(ltSIRW));
  EXPECT_FALSE(m.LockTable(me, ltXIRW, *o.a, 2, 10, false, false));
  EXPECT_TRUE(m.LockTable(me, ltXIRW, *o.a, 1, 0, false, true));
  EXPECT_TRUE(m.SessionLocks(me).LockExists(ltXIRW, table_a, true));
  EXPECT_TRUE(m.UnlockTable(me, ltXIRW, *o.a, false, false));
  ASSERT_TRUE(ask(10 + ltSIRW));

  ASSERT_TRUE(ask(ltX));
  EXPECT_FALSE(m.LockTable(me, ltS, *o.a, 3, 10, false, false));
  EXPECT_TRUE(m.LockTable(me, ltS, *o.b, 1, 0, false, false));  // another table
  ASSERT_TRUE(ask(10 + ltX));
  EXPECT_TRUE(m.LockTable(me, ltS, *o.a, 1, 0, false, false));
  EXPECT_FALSE(ask(ltX));  // the other process now meets this one's ltS
  EXPECT_TRUE(m.UnlockTable(me, ltS, *o.a, false, false));
  EXPECT_TRUE(m.UnlockTable(me, ltS, *o.b, false, false));

  ASSERT_TRUE(ask(20));
  EXPECT_FALSE(m.LockRecord(me, *o.a, {9, 9}, 2, 10));
  EXPECT_TRUE(m.IsRecordLocked(me, *o.a, {9, 9}));
  EXPECT_TRUE(m.LockRecord(me, *o.a, {9, 8}, 1, 0));
  EXPECT_TRUE(m.UnlockRecord(me, *o.a, {9, 8}));
  ASSERT_TRUE(ask(21));
  EXPECT_FALSE(m.IsRecordLocked(me, *o.a, {9, 9}));
  m.Close();
  other.Send(-1);
  EXPECT_EQ(other.Wait(), 0);
}

TEST_F(TableLocksTest, ACommitTurnsTransactionLocksIntoReadLocksOnTheRecordsKept) {
  Open o = Connect();
  TORVDatabaseTableLockManager& m = o.manager();
  ASSERT_TRUE(m.LockTable(4, ltXIRW, *o.a, 1, 0, false, true));
  ASSERT_TRUE(m.LockRecord(4, *o.a, {7, 1}, 1, 0));
  ASSERT_TRUE(m.LockTable(4, ltXIRW, *o.b, 1, 0, false, true));
  ASSERT_TRUE(m.AddRWLocksBeforeCommit(4));
  EXPECT_TRUE(o.Holds(ltRW, 4));
  EXPECT_TRUE(m.SessionLocks(4).LockExists(ltRW, table_b));
  ASSERT_TRUE(m.ClearTransactionLocks(4));
  const TORVTableLockList& list = m.SessionLocks(4);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_TRUE(list.LockExists(ltU, table_a));
  EXPECT_TRUE(list.LockExists(ltSIRW, table_a));
  for (TORVLockType t : {ltXIRW, ltRW}) EXPECT_FALSE(o.Holds(t, 4)) << t;
  EXPECT_TRUE(o.Holds(ltSIRW, 4));
  EXPECT_TRUE(o.Holds(ltU, 4));
  // A second transaction on the same record does not stack up another ltSIRW.
  ASSERT_TRUE(m.LockTable(4, ltXIRW, *o.a, 1, 0, false, true));
  ASSERT_TRUE(m.ClearTransactionLocks(4));
  EXPECT_EQ(m.SessionLocks(4).Count(), 2);
  EXPECT_TRUE(m.UnlockRecord(4, *o.a, {7, 1}));
  EXPECT_TRUE(m.UnlockTable(4, ltSIRW, *o.a, false, false));
  m.Close();
}

TEST_F(TableLocksTest, ASIRWLockHeldBesideAnXLockDoesNotKeepTheTransactionLocks) {
  Open o = Connect();
  TORVDatabaseTableLockManager& m = o.manager();
  // A record kept locked from an earlier transaction, then the table opened exclusively.
  ASSERT_TRUE(m.LockTable(6, ltSIRW, *o.a, 1, 0, false, true));
  ASSERT_TRUE(m.LockTable(6, ltX, *o.a, 1, 0, false, false));
  ASSERT_TRUE(m.LockTable(6, ltXIRW, *o.a, 1, 0, false, false));  // logical under ltX
  ASSERT_TRUE(m.LockRecord(6, *o.a, {8, 2}, 1, 0));               // logical under ltX
  ASSERT_TRUE(m.AddRWLocksBeforeCommit(6));
  EXPECT_TRUE(m.ClearTransactionLocks(6));
  EXPECT_FALSE(m.SessionLocks(6).LockExists(ltXIRW, table_a));
  // The exclusive lock goes: the record lock becomes a held byte, and no ltXIRW is left to
  // turn into one and shut the table for everybody.
  EXPECT_TRUE(m.UnlockTable(6, ltX, *o.a, false, false));
  EXPECT_FALSE(o.Holds(ltXIRW, 6));
  EXPECT_TRUE(o.Holds(ltU, 6));
  EXPECT_TRUE(m.LockTable(7, ltRW, *o.a, 1, 0, false, false));
  // The held byte stands for the record that was locked under the exclusive lock.
  EXPECT_TRUE(m.IsRecordLocked(7, *o.a, {8, 2}));
  EXPECT_TRUE(m.UnlockTable(7, ltRW, *o.a, false, false));
  EXPECT_TRUE(m.UnlockRecord(6, *o.a, {8, 2}));
  EXPECT_TRUE(m.UnlockTable(6, ltSIRW, *o.a, false, false));
  m.Close();
}

TEST_F(TableLocksTest, AnExclusiveOpenTakesNoTableLocks) {
  Open o = Connect(true);
  ASSERT_TRUE(o.db->GetDiskPageManager()->Exclusive());
  TORVDatabaseTableLockManager& m = o.manager();
  EXPECT_TRUE(m.LockTable(0, ltX, *o.a, 1, 0, false, false));
  EXPECT_TRUE(m.LockTable(0, ltS, *o.a, 1, 0, false, false));
  EXPECT_TRUE(m.UnlockTable(0, ltRW, *o.a, false, false));
  EXPECT_EQ(m.SessionLocks(0).Count(), 0);
  // The handle holds the session bytes of the single user, but nothing in the locks file.
  for (int32_t page : o.a->Handle()->FilePages()) {
    const int64_t start = o.db->GetDiskPageManager()->GetPageOffset(page);
    for (const auto& r : o.handle().HeldLocks()) EXPECT_FALSE(r.offset >= start && r.offset < start + 4096) << r.offset;
  }
}

}  // namespace
}  // namespace orv
