// The multi-user protocol of the local cursor between two processes on one database file: each
// process drives its own cursor over the same table, the locks are the file's real byte-range
// locks, and every outcome has its result code. The peer is forked before this process starts
// its engine and opens the file only when told; each step is a request over a pipe answered
// with the peer's result, so the two never race. The manual clocks of both processes make the
// long lock waits take no time; this process counts what its waits slept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/access/orv_main_errors.h"
#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/access/tests/cursor_test_support.h"
#include "dbengine/file/orv_disk_engine_table_interface.h"

namespace orv::testing {
namespace {

// What the peer is asked to do; each request is followed by one argument and answered with
// one result.
enum PeerOp : int32_t {
  kQuit = 0,
  kOpen,        // opens the database and the table: 0
  kEdit,        // stands on row Arg and begins an edit (keeping its locks): the code
  kCancel,      // cancels its edit: the code
  kChange,      // row Arg's NAME "vN" becomes "wN" (one byte): the code of the edit, else of the post
  kDelete,      // deletes row Arg: the code
  kDeleteAside, // deletes row Arg without the record protocol, as a process ignoring it would
  kLock,        // takes the table lock Arg in one try: 1 when it got it
  kUnlock,      // lets go of the table lock Arg: 1
  kProbe,       // whether this process holds nothing of row Arg: ltXIRW in one try, then an
                // edit of the row; 0 when both went through
  kPicture,     // writes another picture into row Arg's PIC: the code of the post
};

class CursorProcessesTest : public SharedFileTest {
 protected:
  void TearDown() override {
    if (other) {
      other->Send(kQuit);
      EXPECT_EQ(other->Wait(), 0) << "the other process failed";
    }
    mine.reset();
    db.reset();
    SharedFileTest::TearDown();
  }
  // The file with table T (ID primary key, NAME, PIC) and rows 1 to 8 named "v1" ... "v8"; the
  // other process, waiting; then this process's engine, the database and its cursor on T; then
  // the other's.
  void StartBoth() {
    MakeFile([](TORVDatabase& d) {
      RowTable(true).Create(*d.Handle(), "T");
      CursorClient c(*d.Handle(), "T");
      c.Open();
      for (int64_t id = 1; id <= 8; ++id)
        if (c.Insert(id, "v" + std::to_string(id)) != 0) return false;
      return true;
    });
    other = std::make_unique<Peer>([&](Peer& Self) { return Serve(Self); });
    Start();
    mine = std::make_unique<CursorClient>(*db->Handle(), "T");
    mine->Open();
    ASSERT_EQ(Ask(kOpen), 0);
  }
  // The peer's side: serves requests until kQuit or until this process has gone.
  int Serve(Peer& Self) {
    if (Self.Receive() != kOpen || Self.Receive() < 0) return 0;
    engine.Startup();
    int32_t failures = 0;
    {
      auto d = OpenDatabase();
      CursorClient c(*d->Handle(), "T");
      c.Open();
      Self.Send(0);
      for (int32_t op = Self.Receive(); op > kQuit; op = Self.Receive()) {
        const int32_t arg = Self.Receive();
        int32_t result = -100;
        switch (op) {
          case kEdit:
            if (c.Go(arg)) result = c.Edit();
            break;
          case kCancel:
            result = c.Cancel();
            break;
          case kChange:
            if (c.Go(arg) && (result = c.Edit()) == 0) {
              c.SetText("NAME", "w" + std::to_string(arg));
              result = c.Post();
            }
            break;
          case kDelete:
            if (c.Go(arg)) result = c.Delete();
            break;
          case kDeleteAside:
            if (c.Go(arg)) {
              d->Handle()->FMultiUser = false;
              result = c.Delete();
              d->Handle()->FMultiUser = true;
            }
            break;
          case kLock:
            result = c.cursor.LockTable(static_cast<TORVLockType>(arg), 1, 0, false) ? 1 : 0;
            break;
          case kUnlock:
            result = c.cursor.UnlockTable(static_cast<TORVLockType>(arg), false) ? 1 : 0;
            break;
          case kProbe:
            if (!c.cursor.LockTable(ltXIRW, 1, 0, false)) {
              result = 1;
              break;
            }
            c.cursor.UnlockTable(ltXIRW, false);
            if (c.Go(arg) && (result = c.Edit()) == 0) result = c.Cancel();
            break;
          case kPicture:
            if (c.Go(arg) && (result = c.Edit()) == 0) {
              c.WriteBlob("PIC", "another picture");
              result = c.Post();
            }
            break;
          default:
            ++failures;
        }
        Self.Send(result);
      }
    }
    engine.Shutdown();
    return failures;
  }
  int32_t Ask(PeerOp Op, int32_t Arg = 0) {
    other->Send(Op);
    other->Send(Arg);
    return other->Receive();
  }

  std::unique_ptr<CursorClient> mine;
  std::unique_ptr<Peer> other;
};

// One table of outcomes: each row is a thing the other process did, then what this one tries.
TEST_F(CursorProcessesTest, OutcomeTable) {
  StartBoth();
  CursorClient& A = *mine;
  ASSERT_NE(dynamic_cast<IORVDiskTableData*>(A.cursor.TableData()), nullptr);

  // Edit while the other holds the record lock: -12 after 15 tries 100 ms apart; a delete too.
  // Nothing of either stays locked.
  ASSERT_EQ(Ask(kEdit, 1), 0);
  ASSERT_TRUE(A.Go(1));
  EXPECT_EQ(PausesDuring([&] { EXPECT_EQ(A.Edit(), -12); }), std::vector<uint32_t>(15, 100));
  EXPECT_EQ(A.Text("NAME"), "v1");
  EXPECT_EQ(PausesDuring([&] { EXPECT_EQ(A.Delete(), -12); }), std::vector<uint32_t>(15, 100));
  EXPECT_EQ(Ask(kCancel), 0);
  EXPECT_EQ(Ask(kProbe, 1), 0);

  // Post while the other holds a conflicting table lock (ltRW): -13 after 2,250 tries 40 ms
  // apart (2,249 pauses). The edit keeps its own locks (the other still gets -12) and posts once the table is
  // free.
  ASSERT_TRUE(A.Go(1));
  ASSERT_EQ(A.Edit(), 0);
  A.SetText("NAME", "after wait");
  ASSERT_EQ(Ask(kLock, ltRW), 1);
  EXPECT_EQ(PausesDuring([&] { EXPECT_EQ(A.Post(), -13); }), std::vector<uint32_t>(2249, 40));
  EXPECT_EQ(A.Text("NAME"), "after wait");
  ASSERT_EQ(Ask(kUnlock, ltRW), 1);
  EXPECT_EQ(Ask(kEdit, 1), -12);
  EXPECT_EQ(A.Post(), 0);
  EXPECT_EQ(Ask(kProbe, 1), 0);
  // Edit and delete try 900 times 100 ms apart for their table locks (ltSIRW, ltRW) while the
  // other holds ltXIRW. The edit leaves its pauses to the file's lock manager, which takes half
  // of each plus a random part of the other half, so that colliding processes fall out of step.
  ASSERT_EQ(Ask(kLock, ltXIRW), 1);
  ASSERT_TRUE(A.Go(1));
  EXPECT_EQ(A.Text("NAME"), "after wait");
  const std::vector<uint32_t> edit_pauses = PausesDuring([&] { EXPECT_EQ(A.Edit(), -13); });
  EXPECT_EQ(edit_pauses.size(), 900u);
  EXPECT_GE(*std::min_element(edit_pauses.begin(), edit_pauses.end()), 50u);
  EXPECT_LT(*std::max_element(edit_pauses.begin(), edit_pauses.end()), 100u);
  EXPECT_EQ(PausesDuring([&] { EXPECT_EQ(A.Delete(), -13); }), std::vector<uint32_t>(899, 100));
  ASSERT_EQ(Ask(kUnlock, ltXIRW), 1);
  EXPECT_EQ(Ask(kProbe, 1), 0);

  // A stale edit: -4, and the buffer shows what this process read, not the stored row.
  ASSERT_TRUE(A.Go(2));
  ASSERT_EQ(Ask(kChange, 2), 0);
  EXPECT_EQ(A.Edit(), -4);
  EXPECT_EQ(A.Text("NAME"), "v2");
  EXPECT_EQ(Ask(kProbe, 2), 0);

  // A row the other deleted: edit -6 and delete -7, the buffer keeping its values.
  ASSERT_TRUE(A.Go(3));
  ASSERT_EQ(Ask(kDelete, 3), 0);
  EXPECT_EQ(A.Edit(), -6);
  EXPECT_EQ(A.Text("NAME"), "v3");
  EXPECT_EQ(A.Delete(), -7);
  EXPECT_EQ(A.Text("NAME"), "v3");
  // The post of an edit begun before the row went: the other may not delete a row this process
  // has locked (-12), so it goes the way a process ignoring the record locks would take it.
  ASSERT_TRUE(A.Go(4));
  ASSERT_EQ(A.Edit(), 0);
  A.SetText("NAME", "late");
  EXPECT_EQ(Ask(kDelete, 4), -12);
  ASSERT_EQ(Ask(kDeleteAside, 4), 0);
  EXPECT_EQ(A.Post(), -6);
  EXPECT_EQ(A.Text("NAME"), "late");
  EXPECT_EQ(A.Cancel(), 0);
  EXPECT_EQ(Ask(kProbe, 5), 0);

  // A delete after the other changed one byte of the row: -5, and the row stays.
  ASSERT_TRUE(A.Go(5));
  ASSERT_EQ(Ask(kChange, 5), 0);
  EXPECT_EQ(A.Delete(), -5);
  EXPECT_EQ(A.Text("NAME"), "v5");
  EXPECT_EQ(A.Ids(), (std::vector<int64_t>{1, 2, 5, 6, 7, 8}));
  EXPECT_EQ(Ask(kProbe, 5), 0);

  // A constraint violation: -8 with its message; the edit keeps its locks (the other still
  // gets -12) until it is cancelled.
  ExpectPrimaryKeyRefusal(A, 6, 1);
  EXPECT_EQ(Ask(kEdit, 6), -12);
  EXPECT_EQ(Ask(kLock, ltXIRW), 0);
  EXPECT_EQ(A.Cancel(), 0);
  EXPECT_EQ(Ask(kProbe, 6), 0);

  // What the other process finds in the file at the end.
  ASSERT_EQ(Ask(kEdit, 1), 0);
  EXPECT_EQ(Ask(kCancel), 0);
  A.cursor.InternalFirst();
  std::vector<std::string> names;
  while (A.Read(grmNext) == grrOK) names.push_back(A.Text("NAME"));
  EXPECT_EQ(names, (std::vector<std::string>{"after wait", "w2", "w5", "v6", "v7", "v8"}));

  // A temporary table of this multi-user process takes inserts only: edit -9, delete -10.
  {
    TORVLocalSession temp(engine.DBDataList());
    temp.FDatabaseName = "TEMP";
    temp.FMultiUser = true;
    temp.SetConnected(true);
    RowTable(true).Create(temp, "T");
    CursorClient t(temp, "T");
    t.Open();
    EXPECT_EQ(t.Insert(1, "a"), 0);
    EXPECT_EQ(t.Insert(2, "b"), 0);
    ASSERT_TRUE(t.Go(1));
    EXPECT_EQ(t.Edit(), -9);
    EXPECT_EQ(t.Delete(), -10);
    EXPECT_EQ(t.Text("NAME"), "a");
    EXPECT_EQ(t.Ids(), (std::vector<int64_t>{1, 2}));
  }
}

// A picture opened from its stream leaves the disk table's cache reference in the record
// buffer; that is no change of the row, so the delete goes through. A row whose stored picture
// the other process changed is still reported changed.
TEST_F(CursorProcessesTest, DeletingARowWhosePictureIsOpen) {
  StartBoth();
  CursorClient& A = *mine;
  for (int64_t id : {1, 2}) {
    ASSERT_TRUE(A.Go(id));
    ASSERT_EQ(A.Edit(), 0);
    A.WriteBlob("PIC", "picture " + std::to_string(id));
    ASSERT_EQ(A.Post(), 0);
  }

  ASSERT_TRUE(A.Go(1));
  const std::vector<uint8_t> before(static_cast<uint8_t*>(A.active),
                                    static_cast<uint8_t*>(A.active) + A.cursor.FRecordSize);
  ASSERT_NE(A.OpenBlob("PIC", bomRead, true), nullptr);
  EXPECT_NE(std::memcmp(before.data(), A.active, before.size()), 0) << "the buffer holds no cache reference";
  EXPECT_EQ(A.Delete(), 0);
  A.cursor.InternalCloseBLOB(A.No("PIC"));
  EXPECT_EQ(Ask(kProbe, 2), 0);

  ASSERT_TRUE(A.Go(2));
  ASSERT_NE(A.OpenBlob("PIC", bomRead, true), nullptr);
  ASSERT_EQ(Ask(kPicture, 2), 0);
  EXPECT_EQ(A.Delete(), -5);
  A.cursor.InternalCloseBLOB(A.No("PIC"));
  EXPECT_EQ(A.Ids(), (std::vector<int64_t>{2, 3, 4, 5, 6, 7, 8}));
  ASSERT_TRUE(A.Go(2));
  EXPECT_EQ(A.ReadBlob("PIC"), "another picture");
  // The file after both processes wrote to it, for an outside check.
  other->Send(kQuit);
  EXPECT_EQ(other->Wait(), 0);
  other.reset();
  mine.reset();
  db.reset();
  engine.Shutdown();
  const std::string out = std::string(QUIRVEL_TEST_OUTPUT) + "/access";
  std::filesystem::create_directories(out);
  std::filesystem::copy_file(path, out + "/cursor_processes.orv", std::filesystem::copy_options::overwrite_existing);
}

}  // namespace
}  // namespace orv::testing
