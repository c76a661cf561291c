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
#include "dbengine/sql/orv_relational_algebra.h"
#include "dbengine/sql/orv_sql_dml.h"
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
  kEdit,     // begins an edit of row ID = Arg, keeping its record lock: 0
  kCancel,   // cancels that edit: 0
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
      TORVSQLTargetTable editor;
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
          case kEdit: {
            TORVAODataset rows(d->Handle(), nullptr);
            rows.Open("T", true);
            TORVVariant id(bftUnknown);
            for (rows.First(); !rows.Eof(); rows.Next()) {
              rows.GetFieldValue(id, 0, true);
              if (id.GetDataAsSignedInt64() == arg) break;
            }
            editor.Open(d->Handle(), "T");
            editor.GotoBookmark(rows.GetBookmark());
            editor.Edit();
            Self.Send(0);
            break;
          }
          case kCancel:
            editor.Close();
            Self.Send(0);
            break;
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
  code = 0;
  try {
    RunStatement("INSERT INTO T SELECT ID + 10, V FROM T");
  } catch (const EORVException& e) {
    code = e.NativeError();
  }
  EXPECT_EQ(code, 20224);

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

TEST_F(SqlProcesses, UpdateRefusedARowIsTriedAgainAndLeavesNothingHalfDone) {
  StartBoth();
  // The other process edits row 2: every attempt of the UPDATE changes row 1, is refused row 2
  // and is cancelled whole; after the fifteenth the refusal passes on.
  ASSERT_EQ(Ask(kEdit, 2), 0);
  std::string error;
  const std::vector<uint32_t> pauses = PausesDuring([&] { error = DatabaseErrorOf([] { RunStatement("UPDATE T SET V = V + 1"); }); });
  EXPECT_NE(error.find("-12"), std::string::npos) << error;
  // 15 attempts, each waiting out the record lock's 15 tries, and 14 pauses between them.
  EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 100u), 15 * 15 + 14);
  ASSERT_EQ(Ask(kCancel), 0);
  EXPECT_EQ(SumOfV(), 0) << "no attempt left its changes behind";
  EXPECT_EQ(RunStatement("UPDATE T SET V = V + 1"), 3);
  EXPECT_EQ(SumOfV(), 3);
}

}  // namespace
}  // namespace orv::testing
