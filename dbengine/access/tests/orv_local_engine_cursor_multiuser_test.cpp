// The multi-user protocol of the local cursor: two sessions of one database edit, post and
// delete the same rows, each through its own cursor, and every outcome has its result code.
//
// Here both sessions live in one process over a memory table that answers the lock calls of a
// disk table from a lock table of its own (the same rules for what the cursor relies on: one
// record lock per session, table lock types that exclude each other, tries and pauses through
// the platform clock), so that the test sees every lock call the cursor makes and every lock it
// still holds. The same outcomes between two processes on a real database file are in
// orv_local_engine_cursor_processes_test.cpp. The manual clock of the fixture makes the long
// waits take no time and lets the tests count them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/access/orv_main_errors.h"
#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/access/tests/cursor_test_support.h"
#include "dbengine/file/orv_disk_engine_table_interface.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"
#include "dbengine/storage/orv_mem_engine.h"
#include "platform/base/clock.h"

namespace orv {
namespace {

using testing::CursorClient;
using testing::ExpectPrimaryKeyRefusal;
using testing::RowTable;

// What one session holds of the shared table, and the calls the cursor made.
struct LockState {
  std::map<int32_t, std::vector<TORVLockType>> table_locks;  // by session
  std::map<int32_t, TORVPageItemID> record_locks;            // by session
  struct Call {
    std::string what;
    int32_t session, tries, delay;
  };
  std::vector<Call> calls;
  int32_t refused_table_tries = 0;
  int32_t load_most_updated = 0;

  static bool Conflicts(TORVLockType Held, TORVLockType Wanted) {
    if (Held == ltX || Wanted == ltX) return true;
    return Held == ltRW && Wanted == ltRW;
  }
  bool TableFree(int32_t Session, TORVLockType Wanted) const {
    for (const auto& [session, held] : table_locks) {
      if (session == Session) continue;
      for (TORVLockType t : held)
        if (Conflicts(t, Wanted)) return false;
    }
    return true;
  }
  bool RecordFree(int32_t Session, const TORVPageItemID& Record) const {
    for (const auto& [session, held] : record_locks)
      if (session != Session && held == Record) return false;
    return true;
  }
  size_t Held(int32_t Session) const {
    auto it = table_locks.find(Session);
    return (it == table_locks.end() ? 0 : it->second.size()) + record_locks.count(Session);
  }
};

class SharedTableData : public TORVMemoryTableData, public IORVDiskTableData {
 public:
  SharedTableData(TORVDatabaseData* Database, LockState& State) : TORVMemoryTableData(Database, 100), S(State) {}

  bool LockTable(int32_t SessionID, TORVLockType LockType, int32_t TryCount, int32_t Delay, bool) override {
    S.calls.push_back({"table", SessionID, TryCount, Delay});
    for (int32_t i = 0; i < TryCount; ++i) {
      if (S.TableFree(SessionID, LockType)) {
        S.table_locks[SessionID].push_back(LockType);
        return true;
      }
      ++S.refused_table_tries;
      if (i + 1 < TryCount) platform::Sleep(static_cast<uint32_t>(Delay));
    }
    return false;
  }
  bool UnlockTable(int32_t SessionID, TORVLockType LockType, bool IgnoreIfNoLock) override {
    auto& held = S.table_locks[SessionID];
    auto it = std::find(held.begin(), held.end(), LockType);
    if (it == held.end()) {
      if (!IgnoreIfNoLock) ADD_FAILURE() << "session " << SessionID << " unlocks a table lock it does not hold";
      return false;
    }
    held.erase(it);
    if (held.empty()) S.table_locks.erase(SessionID);
    return true;
  }
  bool LockRecord(int32_t SessionID, const TORVPageItemID& RecordID, int32_t TryCount, int32_t Delay) override {
    S.calls.push_back({"record", SessionID, TryCount, Delay});
    for (int32_t i = 0; i < TryCount; ++i) {
      if (S.RecordFree(SessionID, RecordID) && !S.record_locks.count(SessionID)) {
        S.record_locks[SessionID] = RecordID;
        return true;
      }
      if (i + 1 < TryCount) platform::Sleep(static_cast<uint32_t>(Delay));
    }
    return false;
  }
  bool UnlockRecord(int32_t SessionID, const TORVPageItemID& RecordID) override {
    auto it = S.record_locks.find(SessionID);
    if (it == S.record_locks.end() || !(it->second == RecordID)) {
      ADD_FAILURE() << "session " << SessionID << " unlocks a record it does not hold";
      return false;
    }
    S.record_locks.erase(it);
    return true;
  }
  bool IsRecordLocked(int32_t SessionID, const TORVPageItemID& RecordID) override {
    return !S.RecordFree(SessionID, RecordID);
  }
  // A disk table caches an opened BLOB and leaves the cache's reference in the record buffer,
  // after the 6 stored bytes of the field; letting go of it clears the reference only.
  TORVStream* InternalCreateBlobStream(TORVCursor* Cursor, bool ToInsert, int32_t FieldNo,
                                       TORVBLOBOpenMode OpenMode) override {
    TORVStream* stream = TORVMemoryTableData::InternalCreateBlobStream(Cursor, ToInsert, FieldNo, OpenMode);
    if (stream && Cursor->FCurrentRecordBuffer && !CheckNullFlag(FieldNo, Cursor->FCurrentRecordBuffer))
      CacheReference(Cursor->FCurrentRecordBuffer, FieldNo)[0] = 0xCA;
    return stream;
  }
  void ClearBLOBFieldInRecordBuffer(void* RecordBuffer, int32_t FieldNo) override {
    if (RecordBuffer) CacheReference(RecordBuffer, FieldNo)[0] = 0;
  }
  void LoadMostUpdated(int32_t) override { ++S.load_most_updated; }
  void ClearModifiedBLOBFieldsInRecordBuffer(void*) override {}
  bool FreeIfNoCursorsConnected() override { return false; }

 private:
  uint8_t* CacheReference(void* RecordBuffer, int32_t FieldNo) const {
    return static_cast<uint8_t*>(RecordBuffer) + FFieldManager->FFieldDefs.GetDef(FieldNo)->MemoryOffset + 8;
  }

  LockState& S;
};

class SharedDatabaseData : public TORVMemoryDatabaseData {
 public:
  explicit SharedDatabaseData(LockState& State) : S(State) { FMultiUser = true; }
  // Each session keeps the number it was given: they stand for two processes.
  void ConnectSession(TORVBaseSession* Session) override {
    const int32_t id = Session->FSessionID;
    TORVMemoryDatabaseData::ConnectSession(Session);
    Session->FSessionID = id;
  }
  TORVTableData* CreateTableData(TORVCursor* Cursor) override {
    auto table = std::make_unique<SharedTableData>(this, S);
    table->FTableName = Cursor->FTableName;
    return AddTableData(std::move(table));
  }

 private:
  LockState& S;
};

class MultiUserCursorTest : public testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    db = std::make_unique<SharedDatabaseData>(locks);
    a = Connect(1);
    b = Connect(2);
    RowTable(true).Create(*a, "T");
    ca = std::make_unique<CursorClient>(*a, "T");
    cb = std::make_unique<CursorClient>(*b, "T");
    ca->Open();
    cb->Open();
    for (int64_t id = 1; id <= 6; ++id) ASSERT_EQ(ca->Insert(id, "v" + std::to_string(id)), 0);
    locks.calls.clear();
  }
  void TearDown() override {
    ca.reset();
    cb.reset();
    // The sessions were connected by hand: they let go of the database the same way.
    for (auto* s : {a.get(), b.get()}) {
      db->DisconnectSession(s);
      s->FDatabaseData = nullptr;
    }
    a.reset();
    b.reset();
    db.reset();
    EngineTest::TearDown();
  }
  std::unique_ptr<TORVLocalSession> Connect(int32_t Id) {
    auto s = std::make_unique<TORVLocalSession>(engine.DBDataList());
    s->FSessionID = Id;
    s->FMultiUser = true;
    db->ConnectSession(s.get());
    s->FDatabaseData = db.get();
    return s;
  }
  // Milliseconds the waits of Body slept on the manual clock.
  template <class F>
  uint32_t SleptDuring(F&& Body) {
    const uint32_t start = clock.TickCount();
    Body();
    return clock.TickCount() - start;
  }

  LockState locks;
  std::unique_ptr<SharedDatabaseData> db;
  std::unique_ptr<TORVLocalSession> a, b;
  std::unique_ptr<CursorClient> ca, cb;
};

// One table of outcomes: each row is a thing the other session did, then what this one tries.
TEST_F(MultiUserCursorTest, OutcomeTable) {
  CursorClient& A = *ca;
  CursorClient& B = *cb;

  // Edit while the other holds the record lock: -12 after 15 tries 100 ms apart, no lock left.
  ASSERT_TRUE(B.Go(1));
  ASSERT_EQ(B.Edit(), 0);
  EXPECT_EQ(locks.Held(2), 2u);  // ltSIRW and the record
  ASSERT_TRUE(A.Go(1));
  EXPECT_EQ(SleptDuring([&] { EXPECT_EQ(A.Edit(), -12); }), 14u * 100u);
  EXPECT_EQ(locks.calls.back().tries, 15);
  EXPECT_EQ(locks.calls.back().delay, 100);
  EXPECT_EQ(locks.Held(1), 0u);
  EXPECT_EQ(A.Delete(), -12);
  EXPECT_EQ(locks.Held(1), 0u);
  EXPECT_EQ(B.Cancel(), 0);
  EXPECT_EQ(locks.Held(2), 0u);

  // Post while the other holds a conflicting table lock: -13 after 2,250 tries 40 ms apart; the
  // edit keeps its own locks and posts once the other lets go.
  ASSERT_TRUE(A.Go(1));
  ASSERT_EQ(A.Edit(), 0);
  A.SetText("NAME", "after wait");
  ASSERT_TRUE(B.cursor.LockTable(ltRW, 1, 0, true));
  locks.refused_table_tries = 0;
  EXPECT_EQ(SleptDuring([&] { EXPECT_EQ(A.Post(), -13); }), 2249u * 40u);
  EXPECT_EQ(locks.refused_table_tries, 2250);
  EXPECT_EQ(A.Text("NAME"), "after wait");
  EXPECT_EQ(locks.Held(1), 2u);
  ASSERT_TRUE(B.cursor.UnlockTable(ltRW, false));
  EXPECT_EQ(A.Post(), 0);
  EXPECT_EQ(locks.Held(1), 0u);
  // And a delete waits 900 times 100 ms for its table lock.
  ASSERT_TRUE(B.cursor.LockTable(ltX, 1, 0, true));
  ASSERT_TRUE(A.Go(1));
  EXPECT_EQ(SleptDuring([&] { EXPECT_EQ(A.Delete(), -13); }), 899u * 100u);
  // An edit asks the table for 900 tries 100 ms apart itself.
  EXPECT_EQ(A.Edit(), -13);
  EXPECT_EQ(locks.calls.back().tries, 900);
  EXPECT_EQ(locks.calls.back().delay, 100);
  ASSERT_TRUE(B.cursor.UnlockTable(ltX, false));

  // A stale edit: -4, and the buffer shows what this session read, not the stored row.
  ASSERT_TRUE(A.Go(2));
  ASSERT_TRUE(B.Go(2));
  ASSERT_EQ(B.Edit(), 0);
  B.SetText("NAME", "theirs");
  ASSERT_EQ(B.Post(), 0);
  EXPECT_EQ(A.Edit(), -4);
  EXPECT_EQ(A.Text("NAME"), "v2");
  EXPECT_EQ(locks.Held(1), 0u);

  // A row the other deleted: edit -6; a post of an edit begun before -6; a delete -7.
  ASSERT_TRUE(A.Go(3));
  ASSERT_TRUE(B.Go(3));
  ASSERT_EQ(B.Delete(), 0);
  EXPECT_EQ(A.Edit(), -6);
  EXPECT_EQ(A.Text("NAME"), "v3");
  EXPECT_EQ(A.Delete(), -7);
  ASSERT_TRUE(A.Go(4));
  ASSERT_EQ(A.Edit(), 0);
  A.SetText("NAME", "late");
  ASSERT_TRUE(B.Go(4));
  // The other session may not delete a row this one has locked for its edit...
  EXPECT_EQ(B.Delete(), -12);
  // ... so the row goes the way another process would take it: behind the protocol.
  {
    CursorClient direct(*b, "T");
    direct.Open();
    ASSERT_TRUE(direct.Go(4));
    b->FMultiUser = false;
    EXPECT_EQ(direct.Delete(), 0);
    b->FMultiUser = true;
  }
  EXPECT_EQ(A.Post(), -6);
  EXPECT_EQ(A.Text("NAME"), "late");
  EXPECT_EQ(locks.Held(1), 0u);
  EXPECT_EQ(A.Cancel(), 0);

  // A delete after the other changed one byte: -5, the row stays.
  ASSERT_TRUE(A.Go(5));
  ASSERT_TRUE(B.Go(5));
  ASSERT_EQ(B.Edit(), 0);
  B.SetText("NAME", "v5!");
  ASSERT_EQ(B.Post(), 0);
  EXPECT_EQ(A.Delete(), -5);
  EXPECT_EQ(A.Text("NAME"), "v5");
  EXPECT_EQ(locks.Held(1), 0u);
  EXPECT_EQ(B.Ids(), (std::vector<int64_t>{1, 2, 5, 6}));

  // A constraint violation: -8 with its message; the edit keeps its locks (the other still
  // gets -12) until it is cancelled.
  ExpectPrimaryKeyRefusal(A, 6, 1);
  EXPECT_EQ(locks.Held(1), 2u);
  ASSERT_TRUE(B.Go(6));
  EXPECT_EQ(B.Edit(), -12);
  EXPECT_EQ(A.Cancel(), 0);
  EXPECT_EQ(locks.Held(1), 0u);
  EXPECT_EQ(B.Edit(), 0);
  EXPECT_EQ(B.Cancel(), 0);

  // What the dataset makes of the codes.
  try {
    Check(-8, A.cursor.FErrorMessage);
    ADD_FAILURE();
  } catch (const EORVEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), -8);
    EXPECT_EQ(e.ErrorMessage(), A.cursor.FErrorMessage);
  }

  // Inside a transaction an edit takes ltXIRW and keeps it after the post (until the commit).
  a->StartTransaction();
  ASSERT_TRUE(A.Go(2));
  ASSERT_EQ(A.Edit(), 0);
  EXPECT_EQ(locks.table_locks[1], (std::vector<TORVLockType>{ltXIRW}));
  A.SetText("NAME", "in tx");
  EXPECT_EQ(A.Post(), 0);
  EXPECT_EQ(locks.table_locks[1], (std::vector<TORVLockType>{ltXIRW, ltXIRW}));
  a->FInTransaction = false;
  locks.table_locks.erase(1);

  // An insert reloads what the other sessions moved before it takes its autoincrements.
  const int32_t reloads = locks.load_most_updated;
  EXPECT_EQ(A.Insert(7), 0);
  EXPECT_EQ(locks.load_most_updated, reloads + 1);
  EXPECT_EQ(locks.Held(1), 0u);
}

// A picture shown from a stream leaves its cache reference in the dataset's buffer; that is no
// change of the row, so the delete goes through. A row whose stored picture the other session
// changed is still reported changed.
TEST_F(MultiUserCursorTest, DeleteWhileThePictureIsOpen) {
  CursorClient& A = *ca;
  CursorClient& B = *cb;
  for (int64_t id : {1, 2}) {
    ASSERT_TRUE(A.Go(id));
    ASSERT_EQ(A.Edit(), 0);
    A.WriteBlob("PIC", "picture bytes");
    ASSERT_EQ(A.Post(), 0);
  }
  ASSERT_TRUE(A.Go(1));
  const std::vector<uint8_t> before(static_cast<uint8_t*>(A.active),
                                    static_cast<uint8_t*>(A.active) + A.cursor.FRecordSize);
  ASSERT_NE(A.OpenBlob("PIC", bomRead, true), nullptr);
  ASSERT_NE(std::memcmp(before.data(), A.active, before.size()), 0);  // the buffer holds the cache now
  EXPECT_EQ(A.Delete(), 0);
  A.cursor.InternalCloseBLOB(A.No("PIC"));
  EXPECT_EQ(A.Ids(), (std::vector<int64_t>{2, 3, 4, 5, 6}));

  ASSERT_TRUE(A.Go(2));
  ASSERT_NE(A.OpenBlob("PIC", bomRead, true), nullptr);
  ASSERT_TRUE(B.Go(2));
  ASSERT_EQ(B.Edit(), 0);
  B.WriteBlob("PIC", "another picture");
  ASSERT_EQ(B.Post(), 0);
  EXPECT_EQ(A.Delete(), -5);
  A.cursor.InternalCloseBLOB(A.No("PIC"));
}

}  // namespace
}  // namespace orv
