#include "dbengine/access/orv_local_engine_cursor.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/access/tests/cursor_test_support.h"
#include "dbengine/storage/orv_design_mode.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"
#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/expression_double.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::CursorClient;
using testing::EngineTest;
using testing::RowTable;

class ScopedDesignMode {
 public:
  ScopedDesignMode() { SetDesignMode(true); }
  ~ScopedDesignMode() { SetDesignMode(false); }
};

// A user stream that only notes what the cursor tells it.
class UserStream : public IORVUserBLOBStream {
 public:
  void LocalStreamClosing(TORVLocalBLOBStream& Stream) override {
    ++closings;
    modified = Stream.Modified();
  }
  int closings = 0;
  bool modified = false;
};

class LocalCursorTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    memory = Connect("MEMORY");
    temp = Connect("TEMP");
  }
  void TearDown() override {
    memory.reset();
    temp.reset();
    EngineTest::TearDown();
  }
  std::unique_ptr<TORVLocalSession> Connect(const std::string& Name) {
    return ConnectBuiltinDatabase(engine.DBDataList(), Name);
  }
  std::unique_ptr<TORVLocalSession> memory;
  std::unique_ptr<TORVLocalSession> temp;
};

TEST_F(LocalCursorTest, TableLevelOperations) {
  RowTable().Create(*memory, "Film");
  RowTable().Create(*memory, "Other");
  {
    CursorClient film(*memory, "Film");
    film.Open();
    ASSERT_EQ(film.Insert(1), 0);
    ASSERT_EQ(film.Insert(2), 0);
    // A table open by a dataset is neither deleted nor renamed under it.
    TORVLocalCursor dropper;
    dropper.FSession = memory.get();
    dropper.FTableName = "Film";
    ExpectCode(20017, [&] { dropper.DeleteTable(); });
    ExpectCode(10150, [&] { dropper.RenameTable("Films"); });
    EXPECT_EQ(dropper.TableData(), nullptr);
  }

  struct Rename {
    const char* from;
    const char* to;
    int32_t code;
  };
  for (const Rename& r : std::vector<Rename>{{"Film", "Film", 30452},
                                             {"Film", "Other", 30451},
                                             {"Film", "OTHER", 30451},
                                             {"Missing", "X", 20134},
                                             {"Film", "FILM", 0},
                                             {"FILM", "Film", 0}}) {
    SCOPED_TRACE(std::string(r.from) + " -> " + r.to);
    TORVLocalCursor c;
    c.FSession = memory.get();
    c.FTableName = r.from;
    EXPECT_EQ(CodeOf([&] { c.RenameTable(r.to); }), r.code);
    EXPECT_EQ(c.FTableName, r.code ? r.from : r.to);
    EXPECT_EQ(c.TableData(), nullptr);
  }
  EXPECT_TRUE(memory->TableExists("Film"));

  {
    TORVLocalCursor c;
    c.FSession = memory.get();
    c.FTableName = "Missing";
    ExpectCode(20132, [&] { c.DeleteTable(); }, "Table 'Missing' not found - Native error: 20132");
    ExpectCode(20133, [&] { c.EmptyTable(); });
    ExpectCode(10028, [&] { c.OpenTableByFieldDefs(nullptr, nullptr, nullptr); },
               "Table not found, table name = Missing - Native error: 10028");
    EXPECT_FALSE(c.FIsOpen);
  }
  {
    TORVLocalCursor c;
    c.FSession = memory.get();
    c.FTableName = "Film";
    c.EmptyTable();
    CursorClient film(*memory, "Film");
    EXPECT_TRUE(film.Open().Ids().empty());
  }
  // Create replaces a table of that name, whatever it held.
  {
    CursorClient film(*memory, "Film");
    film.Open();
    ASSERT_EQ(film.Insert(7), 0);
  }
  TORVFieldDefs other_fields;
  testing::AddColumn(other_fields, "CODE", aftLargeint);
  {
    TORVLocalCursor c;
    c.FSession = memory.get();
    c.FTableName = "Film";
    c.CreateTable(other_fields, TORVIndexDefs(), TORVConstraintDefs());
  }
  {
    CursorClient film(*memory, "Film");
    film.Open();
    EXPECT_EQ(film.cursor.FFieldDefs->GetCount(), 1);
    EXPECT_EQ(film.cursor.FFieldDefs->GetDef(0)->Name, "CODE");
    EXPECT_EQ(film.cursor.GetRecordCount(), 0);
  }
  TORVLocalCursor dropper;
  dropper.FSession = memory.get();
  dropper.FTableName = "Film";
  dropper.DeleteTable();
  EXPECT_FALSE(memory->TableExists("Film"));

  // A cursor of a session that is not connected reaches no database.
  TORVLocalSession loose(engine.DBDataList());
  TORVLocalCursor nowhere;
  nowhere.FSession = &loose;
  nowhere.FTableName = "Other";
  ExpectCode(30560, [&] { nowhere.OpenTableByFieldDefs(nullptr, nullptr, nullptr); });
}

TEST_F(LocalCursorTest, DesignModeOpenMakesAMemoryTableAndItsCloseDropsIt) {
  const RowTable t(true);
  TORVLocalCursor c;
  c.FSession = memory.get();
  c.FTableName = "Draft";
  c.FIsDesignMode = true;
  c.FInMemory = true;
  c.OpenTableByFieldDefs(&t.fields, &t.indexes, &t.constraints);
  EXPECT_TRUE(memory->TableExists("Draft"));
  c.InternalInitFieldDefs();
  EXPECT_EQ(c.FFieldDefs->GetCount(), 3);
  EXPECT_EQ(c.FIndexDefs->GetCount(), 1);
  // Opened once: a second open does nothing.
  c.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  c.CloseTable();
  EXPECT_FALSE(memory->TableExists("Draft"));
  EXPECT_TRUE(c.FIsOpen);
}

// Null flags, fields, the 7-byte bookmark, the key buffer's 6-byte header.
TEST_F(LocalCursorTest, BufferLayout) {
  struct Layout {
    int fields;
    int32_t values_offset, bookmark_offset, record_size;
  };
  // 9 integers: 2 null-flag bytes, 9 x 4 bytes of values.
  for (const Layout& l : std::vector<Layout>{{0, 0, 0, 7}, {1, 1, 5, 12}, {8, 1, 33, 40}, {9, 2, 38, 45}}) {
    SCOPED_TRACE(l.fields);
    ScopedDesignMode design;  // a table without fields is allowed only while designing
    TORVFieldDefs defs;
    for (int i = 0; i < l.fields; ++i) testing::AddColumn(defs, "F" + std::to_string(i), aftInteger);
    {
      TORVLocalCursor maker;
      maker.FSession = memory.get();
      maker.FTableName = "L";
      maker.CreateTable(defs, TORVIndexDefs(), TORVConstraintDefs());
    }
    CursorClient c(*memory, "L");
    c.Open();
    EXPECT_EQ(c.cursor.FFieldValuesOffset, l.values_offset);
    EXPECT_EQ(c.cursor.FBookmarkOffset, l.bookmark_offset);
    EXPECT_EQ(c.cursor.FKeyOffset, l.bookmark_offset);
    EXPECT_EQ(c.cursor.FKeyBufferSize, l.bookmark_offset + 6);
    EXPECT_EQ(c.cursor.FRecordSize, l.record_size);
    EXPECT_EQ(c.cursor.FRecordBufferSize, l.record_size);
    EXPECT_EQ(c.cursor.FCalculatedFieldsOffset, l.record_size);
    // A fresh record: every null flag set, everything else zero, the bookmark untouched.
    std::vector<uint8_t> buffer(static_cast<size_t>(l.record_size), 0x5A);
    c.cursor.InternalInitRecord(buffer.data(), false);
    const size_t flags = static_cast<size_t>(l.values_offset);
    for (size_t i = 0; i < buffer.size(); ++i) {
      const uint8_t expected = i < flags ? 0xFF : i < static_cast<size_t>(l.bookmark_offset) ? 0 : 0x5A;
      EXPECT_EQ(buffer[i], expected) << i;
    }
  }
}

// The outcomes of edit, post and delete when another cursor changed or deleted the record in
// between: nothing is written, and the buffer keeps the values it had.
TEST_F(LocalCursorTest, OutcomesWhenAnotherCursorChangedTheRecord) {
  RowTable(true).Create(*memory, "T");
  CursorClient a(*memory, "T"), b(*memory, "T");
  a.Open();
  b.Open();
  for (int64_t id = 1; id <= 4; ++id) ASSERT_EQ(a.Insert(id, "v" + std::to_string(id)), 0);

  // A stale edit: A started from the old values, B posted in between.
  ASSERT_TRUE(a.Go(1));
  ASSERT_EQ(a.Edit(), 0);
  a.SetText("NAME", "mine");
  ASSERT_TRUE(b.Go(1));
  ASSERT_EQ(b.Edit(), 0);
  b.SetText("NAME", "theirs");
  ASSERT_EQ(b.Post(), 0);
  EXPECT_EQ(a.Post(), -4);
  EXPECT_EQ(a.Text("NAME"), "mine");
  ASSERT_TRUE(b.Go(1));
  EXPECT_EQ(b.Text("NAME"), "theirs");
  EXPECT_EQ(a.Cancel(), 0);

  // A row the other deleted: post -6, delete -7.
  ASSERT_TRUE(a.Go(2));
  ASSERT_EQ(a.Edit(), 0);
  a.SetText("NAME", "late");
  ASSERT_TRUE(b.Go(2));
  ASSERT_EQ(b.Delete(), 0);
  EXPECT_EQ(a.Post(), -6);
  EXPECT_EQ(a.Text("NAME"), "late");
  EXPECT_EQ(a.Cancel(), 0);
  EXPECT_EQ(a.Delete(), -7);

  // A delete after the other changed the row.
  ASSERT_TRUE(a.Go(3));
  ASSERT_TRUE(b.Go(3));
  ASSERT_EQ(b.Edit(), 0);
  b.SetText("NAME", "v3!");
  ASSERT_EQ(b.Post(), 0);
  EXPECT_EQ(a.Delete(), -5);
  EXPECT_EQ(a.Text("NAME"), "v3");
  EXPECT_EQ(a.Ids(), (std::vector<int64_t>{1, 3, 4}));

  // Constraint violations: -8 with the constraint's message; the buffer keeps the new values.
  EXPECT_EQ(a.Insert(4), -8);
  EXPECT_NE(a.cursor.FErrorMessage.find("C_PK$ID"), std::string::npos) << a.cursor.FErrorMessage;
  EXPECT_EQ(a.Cancel(true), 0);
  ASSERT_TRUE(a.Go(4));
  ASSERT_EQ(a.Edit(), 0);
  a.Set("ID", 1);
  EXPECT_EQ(a.Post(), -8);
  EXPECT_EQ(a.Int("ID"), 1);
  // Corrected and posted again.
  a.Set("ID", 5);
  EXPECT_EQ(a.Post(), 0);
  EXPECT_EQ(b.Ids(), (std::vector<int64_t>{1, 3, 5}));
  ASSERT_TRUE(a.Go(5));
  EXPECT_EQ(a.Delete(), 0);
  EXPECT_EQ(b.Ids(), (std::vector<int64_t>{1, 3}));
}

// Edit and delete are refused at once on a temporary table; an insert works and skips the
// constraint check.
TEST_F(LocalCursorTest, TemporaryTablesTakeInsertsOnly) {
  RowTable t;
  TORVConstraintDefNotNull* not_null = t.constraints.AddNotNull();
  not_null->ColumnName = "NAME";
  t.Create(*temp, "T");
  t.Create(*memory, "T");
  CursorClient tmp(*temp, "T"), mem(*memory, "T");
  tmp.Open();
  mem.Open();
  const auto insert_without_name = [](CursorClient& c) {
    c.cursor.InternalInitRecord(c.active, true);
    c.Set("ID", 1);
    c.cursor.InternalPost(true);
    return c.cursor.FErrorCode;
  };
  EXPECT_EQ(insert_without_name(tmp), 0);
  EXPECT_EQ(insert_without_name(mem), -8);
  ASSERT_TRUE(tmp.Go(1));
  EXPECT_EQ(tmp.Edit(), -9);
  EXPECT_EQ(tmp.Delete(), -10);
  EXPECT_EQ(tmp.Ids(), (std::vector<int64_t>{1}));
}

TEST_F(LocalCursorTest, CompareRecordsOrderFollowsTheIndexThenTheRecordIds) {
  RowTable t;
  TORVIndexDef* by_name = t.indexes.AddCreated();
  by_name->Name = "BYNAME";
  by_name->AssignByNames({"NAME"}, {"DESC"}, {"CASE"});
  t.Create(*memory, "T");
  CursorClient c(*memory, "T");
  c.Open();
  std::vector<TORVPageItemID> ids;
  for (const char* name : {"b", "c", "a", "c"}) {
    ASSERT_EQ(c.Insert(static_cast<int64_t>(ids.size()), name), 0);
    ids.push_back(c.cursor.CurrentRecordID);
  }
  const TORVPageItemID gone{999, 0};
  struct Case {
    TORVPageItemID x, y;
    int32_t physical, by_name;
  };
  const std::vector<Case> cases = {
      {ids[0], ids[1], -1, 1},   // b after c (descending)
      {ids[2], ids[0], 1, 1},    // a after b
      {ids[1], ids[3], -1, -1},  // equal names: the record ids decide
      {ids[3], ids[1], 1, 1},
      {ids[2], ids[2], 0, 0},
      {gone, ids[0], 1, -1},  // a record that cannot be read comes first ...
      {ids[0], gone, -1, 1},  // ... or last
  };
  for (const Case& k : cases) {
    c.cursor.SetIndexName("");
    EXPECT_EQ(c.cursor.CompareRecordsOrder(k.x, k.y), k.physical);
    c.cursor.SetIndexName("BYNAME");
    c.cursor.CurrentRecordID = ids[3];
    EXPECT_EQ(c.cursor.CompareRecordsOrder(k.x, k.y), k.by_name);
    // The position and the buffer stay where they were.
    EXPECT_EQ(c.cursor.CurrentRecordID, ids[3]);
    EXPECT_EQ(c.cursor.FCurrentRecordBuffer, c.active);
  }
}

TEST_F(LocalCursorTest, BLOBStreams) {
  RowTable().Create(*memory, "T");
  CursorClient c(*memory, "T");
  c.Open();
  ASSERT_EQ(c.Insert(1), 0);
  ASSERT_TRUE(c.Go(1));
  ASSERT_EQ(c.Edit(), 0);
  c.WriteBlob("PIC", "first picture");
  ASSERT_EQ(c.Post(), 0);
  ASSERT_TRUE(c.Go(1));
  EXPECT_EQ(c.ReadBlob("PIC"), "first picture");

  const int32_t pic = c.No("PIC");
  // Readers may be many; one writer per field.
  TORVLocalBLOBStream* r1 = c.OpenBlob("PIC", bomRead);
  TORVLocalBLOBStream* r2 = c.OpenBlob("PIC", bomRead);
  ASSERT_NE(r1, nullptr);
  ASSERT_NE(r2, nullptr);
  ExpectCode(10115, [&] { r1->WriteBuffer("x", 1); });
  ExpectCode(10116, [&] { r1->SetSize(0); });
  TORVLocalBLOBStream* w = c.OpenBlob("PIC", bomWrite);
  ASSERT_NE(w, nullptr);
  ExpectCode(10115, [&] { c.OpenBlob("PIC", bomReadWrite); },
             "BLOB field already opened. FieldNo = 2, FieldName = PIC - Native error: 10115");
  ExpectCode(10110, [&] { c.cursor.InternalCreateBlobStream(false, false, 3, bomRead, false); });
  ExpectCode(10118, [&] { c.cursor.InternalCloseBLOB(-1); });
  EXPECT_EQ(c.cursor.FBLOBStreams.size(), 3u);
  c.cursor.InternalCloseBLOB(pic);
  EXPECT_TRUE(c.cursor.FBLOBStreams.empty());
}

// Post, cancel and the close of the table close the streams left open: each is written and
// freed once, its user stream told once, and the walk ends also for streams without one.
TEST_F(LocalCursorTest, StreamsLeftOpenAreClosedOnce) {
  RowTable t;
  testing::AddColumn(t.fields, "DOC", aftMemo);
  t.Create(*memory, "T");
  CursorClient c(*memory, "T");
  c.Open();
  ASSERT_EQ(c.Insert(1), 0);
  ASSERT_TRUE(c.Go(1));

  // The insert of a new row with a picture written through a stream nobody closed.
  c.cursor.InternalInitRecord(c.active, true);
  c.Set("ID", 2);
  TORVLocalBLOBStream* pic = c.OpenBlob("PIC", bomWrite);
  pic->WriteBuffer("picture", 7);
  pic->SetModified(true);
  UserStream pic_user;
  pic->FUserBLOBStream = &pic_user;
  TORVLocalBLOBStream* doc = c.OpenBlob("DOC", bomWrite);  // no user stream
  doc->WriteBuffer("memo", 4);
  doc->SetModified(true);
  TORVLocalBLOBStream* reader = c.OpenBlob("PIC", bomRead);  // a reader of the written field
  UserStream reader_user;
  reader->FUserBLOBStream = &reader_user;
  c.cursor.InternalPost(true);
  ASSERT_EQ(c.cursor.FErrorCode, 0);
  EXPECT_TRUE(c.cursor.FBLOBStreams.empty());
  EXPECT_EQ(pic_user.closings, 1);
  EXPECT_TRUE(pic_user.modified);
  EXPECT_EQ(reader_user.closings, 1);
  ASSERT_TRUE(c.Go(2));
  EXPECT_EQ(c.ReadBlob("PIC"), "picture");
  EXPECT_EQ(c.ReadBlob("DOC"), "memo");

  // Cancel closes the writers only (and the readers of their fields); a reader of another
  // field stays open.
  ASSERT_EQ(c.Edit(), 0);
  TORVLocalBLOBStream* w = c.OpenBlob("PIC", bomWrite);
  w->WriteBuffer("other", 5);
  w->SetModified(true);
  TORVLocalBLOBStream* doc_reader = c.OpenBlob("DOC", bomRead);
  UserStream doc_user;
  doc_reader->FUserBLOBStream = &doc_user;
  EXPECT_EQ(c.Cancel(), 0);
  ASSERT_EQ(c.cursor.FBLOBStreams.size(), 1u);
  EXPECT_EQ(c.cursor.FBLOBStreams[0].get(), doc_reader);
  EXPECT_EQ(doc_user.closings, 0);
  ASSERT_TRUE(c.Go(2));
  EXPECT_EQ(c.ReadBlob("PIC"), "picture");

  // Closing the table drops what is left, unwritten, and tells its user.
  c.Close();
  EXPECT_EQ(doc_user.closings, 1);
}

TEST_F(LocalCursorTest, CopyFieldValueBetweenCursors) {
  RowTable().Create(*memory, "S");
  TORVFieldDefs wide;
  testing::AddColumn(wide, "BIG", aftLargeint);
  testing::AddColumn(wide, "NAME", aftString, 20);
  testing::AddColumn(wide, "PIC", aftBlob);
  testing::AddColumn(wide, "ID", aftInteger);
  {
    TORVLocalCursor maker;
    maker.FSession = memory.get();
    maker.FTableName = "D";
    maker.CreateTable(wide, TORVIndexDefs(), TORVConstraintDefs());
  }
  CursorClient s(*memory, "S"), d(*memory, "D");
  s.Open();
  d.Open();
  ASSERT_EQ(s.Insert(42, "answer"), 0);
  ASSERT_TRUE(s.Go(42));
  ASSERT_EQ(s.Edit(), 0);
  s.WriteBlob("PIC", "bytes of a picture");
  ASSERT_EQ(s.Post(), 0);
  ASSERT_TRUE(s.Go(42));

  d.cursor.InternalInitRecord(d.active, true);
  d.cursor.FCurrentRecordBuffer = d.active;
  s.cursor.CopyFieldValue(s.No("ID"), false, d.No("BIG"), &d.cursor);   // through a value
  s.cursor.CopyFieldValue(s.No("NAME"), true, d.No("NAME"), &d.cursor);  // bytes
  s.cursor.CopyFieldValue(s.No("PIC"), false, d.No("PIC"), &d.cursor);   // the stored BLOB
  d.Set("ID", 9);
  d.cursor.InternalPost(true);
  ASSERT_EQ(d.cursor.FErrorCode, 0);
  ASSERT_TRUE(d.Go(9));
  EXPECT_EQ(d.Int("BIG"), 42);
  EXPECT_EQ(d.Text("NAME"), "answer");
  EXPECT_EQ(d.ReadBlob("PIC"), "bytes of a picture");

  // NULL travels as NULL.
  s.Set("ID", std::nullopt);
  s.cursor.CopyFieldValue(s.No("ID"), false, d.No("BIG"), &d.cursor);
  EXPECT_EQ(d.Int("BIG"), std::nullopt);
  ExpectCode(10501, [&] { s.cursor.CopyFieldValue(3, true, 0, &d.cursor); });
  ExpectCode(10502, [&] { s.cursor.CopyFieldValue(0, true, 4, &d.cursor); });
}

TEST_F(LocalCursorTest, FiltersLocateAndConditionsGoThroughTheExpressionEngine) {
  RowTable().Create(*memory, "T");
  CursorClient c(*memory, "T");
  c.Open();
  for (int64_t id = 1; id <= 5; ++id) ASSERT_EQ(c.Insert(id, id % 2 ? "odd" : "even"), 0);
  TORVVariant three;
  three.SetDataAsSignedInt64(3);
  // Without the expression engine every one of them says what is missing.
  for (const auto& call : std::vector<std::function<void()>>{
           [&] { c.cursor.ActivateFilters("ID > 2", false, false); },
           [&] { c.cursor.Locate("ID", {TORVVarValue::Int(varInteger, 3)}, false, false); },
           [&] { c.cursor.IsAnyRecordMatchCondition("ID", doEQ, three); }}) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const std::logic_error& e) {
      EXPECT_NE(std::string(e.what()).find("expression engine"), std::string::npos) << e.what();
    }
  }
  testing::ScopedExpressionFactory expressions;
  c.cursor.ActivateFilters("ID > 2", false, false);
  EXPECT_EQ(c.cursor.GetRecordCount(), 3);
  EXPECT_EQ(c.Ids(), (std::vector<int64_t>{3, 4, 5}));
  c.cursor.DeactivateFilters();
  EXPECT_EQ(c.cursor.GetRecordCount(), 5);

  ASSERT_TRUE(c.Go(1));
  EXPECT_TRUE(c.cursor.Locate("NAME;ID", {TORVVarValue::Ansi("even"), TORVVarValue::Int(varInteger, 4)}, false,
                              false));
  c.cursor.FCurrentRecordBuffer = c.active;
  EXPECT_EQ(c.Int("ID"), 4);
  EXPECT_FALSE(c.cursor.Locate("ID", {TORVVarValue::Int(varInteger, 9)}, false, false));
  ExpectCode(30112, [&] { c.cursor.Locate("ID;NAME", {TORVVarValue::Int(varInteger, 1)}, false, false); });
  EXPECT_TRUE(c.cursor.IsAnyRecordMatchCondition("ID", doEQ, three));
  EXPECT_TRUE(c.cursor.IsAnyRecordMatchCondition("ID", doGT, three));
  TORVVariant nine;
  nine.SetDataAsSignedInt64(9);
  EXPECT_FALSE(c.cursor.IsAnyRecordMatchCondition("ID", doGE, nine));
}

TEST_F(LocalCursorTest, IndexesLocksBatchesAndConstraintChecks) {
  RowTable(true).Create(*memory, "T");
  CursorClient c(*memory, "T");
  c.Open();
  ASSERT_EQ(c.Insert(1), 0);
  ASSERT_TRUE(c.Go(1));
  // Tables kept in the process take no locks.
  EXPECT_TRUE(c.cursor.LockTable(ltX, 1, 0, false));
  EXPECT_TRUE(c.cursor.UnlockTable(ltX, false));
  EXPECT_FALSE(c.cursor.IsRecordLocked());

  TORVIndexDef again;
  again.Name = "PK";
  again.AssignByNames({"NAME"}, {"ASC"}, {"CASE"});
  ExpectCode(20022, [&] { c.cursor.AddIndex(again); });
  ExpectCode(20021, [&] { c.cursor.DeleteIndex("NOPE"); });
  TORVIndexDef unique;
  unique.Name = "UNAME";
  unique.Unique = true;
  unique.AssignByNames({"NAME"}, {"ASC"}, {"CASE"});
  c.cursor.AddIndex(unique);
  EXPECT_EQ(c.cursor.GetIndexDefs()->GetCount(), 2);
  EXPECT_EQ(c.cursor.FConstraintDefs->GetCount(), 2);  // the index's UNIQUE constraint came along
  c.cursor.DeleteIndex("uname");
  EXPECT_EQ(c.cursor.GetIndexDefs()->GetCount(), 1);
  EXPECT_EQ(c.cursor.FConstraintDefs->GetCount(), 1);

  // An alias of a projection stands for its field.
  c.cursor.ApplyProjection({"NAME", "ID"}, {"LABEL", ""});
  bool created = false;
  const std::string index = c.cursor.FindOrCreateIndex({"LABEL"}, {"ASC"}, {"CASE"}, created);
  EXPECT_TRUE(created);
  EXPECT_TRUE(c.cursor.IndexExists({"LABEL"}, {"ASC"}, {"CASE"}));
  EXPECT_EQ(c.cursor.GetIndexDefs()->GetIndexDefByName(index)->Columns(0).FieldName, "NAME");
  c.cursor.InternalInitFieldDefs();

  // A record against the constraints, reported rather than raised.
  c.cursor.InternalInitRecord(c.active, true);
  c.Set("ID", 1);
  c.cursor.FCurrentRecordBuffer = c.active;
  EXPECT_FALSE(c.cursor.CheckConstraints(true));
  c.Set("ID", 2);
  EXPECT_TRUE(c.cursor.CheckConstraints(true));

  // Batch updates only outside transactions.
  memory->StartTransaction();
  c.cursor.BeginBatchUpdate();
  EXPECT_FALSE(c.cursor.FBatchUpdate);
  memory->FInTransaction = false;
  c.cursor.BeginBatchUpdate();
  EXPECT_TRUE(c.cursor.FBatchUpdate);
  c.cursor.EndBatchUpdate();
  EXPECT_FALSE(c.cursor.FBatchUpdate);
  c.cursor.BeginBatchUpdate();
  c.cursor.CancelBatchUpdate();
  EXPECT_FALSE(c.cursor.FBatchUpdate);

  // Without a table the cursor says so.
  TORVLocalCursor closed;
  ExpectCode(10260, [&] { closed.LockTableData(); });
  ExpectCode(10261, [&] { closed.UnlockTableData(); });
  ExpectCode(20221, [&] { closed.LockTable(ltS, 1, 0, true); });
  ExpectCode(20222, [&] { closed.UnlockTable(ltS, true); });
}

}  // namespace
}  // namespace orv
