// Data-changing statements of two processes on one database file, with the file's real
// byte-range locks. The other process is forked before this one starts its engine and acts
// only when asked over a pipe. Under the manual clock an UPDATE that finds the table locked
// gives up after its tries without taking time; inside a transaction the statement takes no
// table lock of its own. Under the real clock the processes really wait for each other.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_query.h"
#include "dbengine/storage/orv_except.h"

namespace orv::testing {
namespace {

enum PeerOp : int32_t {
  kQuit = 0,
  kOpen,     // opens the database and a cursor on T: 0
  kLockS,    // takes the shared table lock in one try: 1 when it got it
  kUnlockS,  // lets go of it: 1
  kHoldS,    // takes the shared lock, answers 1, holds it Arg ms of real time, lets go
  kUpdates,  // runs Arg times "UPDATE T SET V = V + 1" under the real clock: the updates that went through
};

int32_t RunStatement(const std::string& Sql) {
  TORVQuery q;
  q.SetDatabaseName("Archive");
  q.SetSQL(Sql);
  q.ExecSQL();
  return q.RowsAffected();
}

int64_t SumOfV() {
  TORVQuery q;
  q.SetDatabaseName("Archive");
  q.SetSQL("SELECT SUM(V) FROM T");
  q.Open();
  const int64_t sum = q.Fields()[0]->AsLargeInt();
  q.Close();
  return sum;
}

class SqlProcesses : public SharedFileTest {
 protected:
  void TearDown() override {
    if (other) {
      other->Send(kQuit);
      other->Send(0);
      EXPECT_EQ(other->Wait(), 0) << "the other process failed";
    }
    db.reset();
    SharedFileTest::TearDown();
  }
  // Table T (ID, V) with rows 1..3, V = 0; the other process; this process's engine.
  void StartBoth() {
    MakeFile([](TORVDatabase&) {
      RunStatement("CREATE TABLE T (ID INTEGER, V INTEGER)");
      return RunStatement("INSERT INTO T VALUES (1, 0), (2, 0), (3, 0)") == 3;
    });
    other = std::make_unique<Peer>([&](Peer& Self) { return Serve(Self); });
    Start();
    ASSERT_EQ(Ask(kOpen), 0);
  }
  int Serve(Peer& Self) {
    if (Self.Receive() != kOpen || Self.Receive() < 0) return 0;
    engine.Startup();
    {
      auto d = OpenDatabase();
      TORVLocalCursor c;
      c.FSession = d->Handle();
      c.FTableName = "T";
      c.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
      Self.Send(0);
      for (;;) {
        const int32_t op = Self.Receive();
        const int32_t arg = Self.Receive();
        if (op <= kQuit || arg < 0) break;
        switch (op) {
          case kLockS: Self.Send(c.LockTable(ltS, 1, 0, false) ? 1 : 0); break;
          case kUnlockS: Self.Send(c.UnlockTable(ltS, false) ? 1 : 0); break;
          case kHoldS: {
            const bool locked = c.LockTable(ltS, 1, 0, false);
            Self.Send(locked ? 1 : 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(arg));
            if (locked) c.UnlockTable(ltS, false);
            break;
          }
          case kUpdates: {
            platform::ScopedClock real(platform::SystemClock());
            int32_t done = 0;
            for (int32_t i = 0; i < arg; ++i) done += RunStatement("UPDATE T SET V = V + 1") == 3 ? 1 : 0;
            Self.Send(done);
            break;
          }
          default: Self.Send(-1);
        }
      }
      c.CloseTable();
    }
    engine.Shutdown();
    return 0;
  }
  int32_t Ask(PeerOp Op, int32_t Arg = 0) {
    other->Send(Op);
    other->Send(Arg);
    return other->Receive();
  }

  TORVScopedExpressionEngine expressions;
  std::unique_ptr<Peer> other;
};

TEST_F(SqlProcesses, UpdateGivesUpOnALockedTableAndATransactionTakesNoTableLock) {
  StartBoth();
  // The other process reads T under a shared lock: an UPDATE's ltRW is refused 1125 times,
  // 80 ms apart, and the statement ends with 20223, changing nothing.
  ASSERT_EQ(Ask(kLockS), 1);
  int32_t code = 0;
  const std::vector<uint32_t> pauses = PausesDuring([&] {
    try {
      RunStatement("UPDATE T SET V = V + 1");
    } catch (const EORVException& e) {
      code = e.NativeError();
    }
  });
  EXPECT_EQ(code, 20223);
  EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 80u), 1125);
  EXPECT_EQ(SumOfV(), 0);
  EXPECT_NE(DatabaseErrorOf([] { RunStatement("DELETE FROM T WHERE ID = 1"); }), "");

  // Inside a transaction the statement leaves isolation to it: no table lock of its own, so
  // the shared reader does not stop it, and nothing is waited for.
  EXPECT_TRUE(PausesDuring([&] {
                RunStatement("START TRANSACTION");
                EXPECT_EQ(RunStatement("UPDATE T SET V = V + 1 WHERE ID >= 2"), 2);
                EXPECT_EQ(RunStatement("DELETE FROM T WHERE ID = 1"), 1);
              }).empty());
  // The commit itself needs the reader gone.
  EXPECT_EQ(Ask(kUnlockS), 1);
  RunStatement("COMMIT");
  EXPECT_EQ(SumOfV(), 2);
  EXPECT_EQ(RunStatement("UPDATE T SET V = 0"), 2);
}

TEST_F(SqlProcesses, UpdatesOfBothProcessesWaitForEachOtherAndAllCount) {
  StartBoth();
  platform::ScopedClock real(platform::SystemClock());
  // A reader holds the table for 300 ms: the UPDATE waits for it and then goes through.
  ASSERT_EQ(Ask(kHoldS, 300), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunStatement("UPDATE T SET V = V + 1"), 3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

  // Both processes update every row at the same time; no update is lost.
  other->Send(kUpdates);
  other->Send(15);
  int32_t mine = 0;
  for (int i = 0; i < 15; ++i) mine += RunStatement("UPDATE T SET V = V + 1") == 3 ? 1 : 0;
  EXPECT_EQ(other->Receive(), 15);
  EXPECT_EQ(mine, 15);
  EXPECT_EQ(SumOfV(), 3 * 31);
}

}  // namespace
}  // namespace orv::testing
