#include "platform/data/dataset.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/data/data_source.h"
#include "platform/data/exception_handler.h"
#include "platform/data/numeric_field.h"
#include "platform/data/string_field.h"
#include "platform/data/tests/vector_dataset.h"

namespace platform::data {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using testing::Column;
using testing::VectorDataSet;

std::vector<Column> People() {
  return {{"ID", ftInteger, 0, true}, {"Name", ftString, 20, false}, {"Amount", ftFloat, 0, false}};
}

// A link that only asks for a window of its size.
class WindowLink : public TDataLink {
 public:
  explicit WindowLink(int rows) { SetBufferCount(rows); }
};

class DataSetTest : public ::testing::Test {
 protected:
  DataSetTest() : ds(People()), source(&ds) {}

  void Fill(int n) {
    ds.Open();
    for (int i = 1; i <= n; ++i) ds.AppendRecord({i, "N" + std::to_string(i), i * 1.5});
  }
  int Id() { return ds.FieldByName("ID")->AsInteger(); }
  std::vector<int> Forward() {
    std::vector<int> ids;
    for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(Id());
    return ids;
  }
  void Record(const char* name) { events.push_back(name); }
  void WatchEvents() {
    ds.log = &events;
    ds.BeforeInsert = [this](TDataSet&) { Record("BeforeInsert"); };
    ds.AfterInsert = [this](TDataSet&) { Record("AfterInsert"); };
    ds.BeforeEdit = [this](TDataSet&) { Record("BeforeEdit"); };
    ds.AfterEdit = [this](TDataSet&) { Record("AfterEdit"); };
    ds.BeforePost = [this](TDataSet&) { Record("BeforePost"); };
    ds.AfterPost = [this](TDataSet&) { Record("AfterPost"); };
    ds.BeforeCancel = [this](TDataSet&) { Record("BeforeCancel"); };
    ds.AfterCancel = [this](TDataSet&) { Record("AfterCancel"); };
    ds.BeforeDelete = [this](TDataSet&) { Record("BeforeDelete"); };
    ds.AfterDelete = [this](TDataSet&) { Record("AfterDelete"); };
    ds.BeforeScroll = [this](TDataSet&) { Record("BeforeScroll"); };
    ds.AfterScroll = [this](TDataSet&) { Record("AfterScroll"); };
    ds.OnNewRecord = [this](TDataSet&) { Record("OnNewRecord"); };
  }

  VectorDataSet ds;
  TDataSource source;
  std::vector<std::string> events;
};

// ---------------------------------------------------------------- navigation

struct NavCase {
  int records;
  int window;
};

class NavigationTest : public DataSetTest, public ::testing::WithParamInterface<NavCase> {};

TEST_P(NavigationTest, WalksBothEndsWithFlagsAndRecordNumbers) {
  const NavCase c = GetParam();
  WindowLink link(c.window);
  link.SetDataSource(&source);
  Fill(c.records);
  std::vector<int> expected;
  for (int i = 1; i <= c.records; ++i) expected.push_back(i);

  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.Eof(), c.records == 0);
  EXPECT_EQ(ds.IsEmpty(), c.records == 0);
  std::vector<int> forward, recnos;
  while (!ds.Eof()) {
    forward.push_back(Id());
    recnos.push_back(ds.RecNo());
    ds.Next();
  }
  EXPECT_EQ(forward, expected);
  EXPECT_EQ(recnos, expected);
  // Eof is set only by trying to move past the last record; the last one stays current
  if (c.records > 0) {
    EXPECT_EQ(Id(), c.records);
  }

  ds.Last();
  EXPECT_TRUE(ds.Eof());
  std::vector<int> backward;
  while (!ds.Bof()) {
    backward.push_back(Id());
    ds.Prior();
  }
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, expected);

  ds.First();
  EXPECT_EQ(ds.MoveBy(1000), std::max(0, c.records - 1));
  EXPECT_EQ(ds.Eof(), true);
  EXPECT_EQ(ds.MoveBy(-1000), -std::max(0, c.records - 1));
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecordCount(), c.records);
  EXPECT_LE(ds.WindowRows(), c.window);
}

INSTANTIATE_TEST_SUITE_P(Ends, NavigationTest,
                         ::testing::Values(NavCase{0, 1}, NavCase{1, 1}, NavCase{5, 1}, NavCase{5, 3}, NavCase{2, 4},
                                           NavCase{12, 4}));

TEST_F(DataSetTest, ClosedDatasetRefusesNavigationAndEditing) {
  EXPECT_THAT([&] { ds.First(); }, ::testing::ThrowsMessage<EDatabaseError>(
                                       HasSubstr("Cannot perform this operation on a closed dataset")));
  EXPECT_THROW(ds.Append(), EDatabaseError);
  Fill(0);
  EXPECT_THAT([&] { ds.Delete(); },
              ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Cannot perform this operation on an empty dataset")));
  EXPECT_THAT([&] { ds.Post(); }, ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Dataset not in edit or insert mode")));
}

TEST_F(DataSetTest, RecordNumbersRefreshAndTheDefinitionsOfAClosedDataset) {
  ds.FieldDefs().Update();  // read through the cursor without opening the dataset
  EXPECT_EQ(ds.FieldDefs().Count(), 3);
  EXPECT_TRUE(ds.FieldDefs().Updated());
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.FieldCount(), 0);
  EXPECT_EQ(ds.RecordCount(), 0);

  Fill(6);
  ds.SetRecNo(4);
  EXPECT_EQ(Id(), 4);
  ds.SetRecNo(99);  // clamped to the last record
  EXPECT_EQ(Id(), 6);
  ds.SetRecNo(2);
  ds.Refresh();
  EXPECT_EQ(Id(), 2);
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_FALSE(ds.FindFirst());  // a dataset without a search of its own finds nothing
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);  // default fields go with the cursor
}

// ---------------------------------------------------------------- editing

TEST_F(DataSetTest, EditingOperationsRunTheirStatesAndEventsInOrder) {
  Fill(3);
  ds.First();
  ds.Next();  // on ID 2
  WatchEvents();

  ds.Insert();
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.RecNo(), -1);
  ds.FieldByName("ID")->SetAsInteger(9);
  ds.Post();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Id(), 9);
  EXPECT_THAT(events, ElementsAre("BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll",
                                  "BeforePost", "InternalPost", "AfterPost"));

  events.clear();
  ds.Edit();
  EXPECT_EQ(ds.State(), dsEdit);
  ds.FieldByName("Name")->SetAsString("changed");
  ds.Cancel();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName("Name")->AsString(), "");
  EXPECT_THAT(events, ElementsAre("BeforeEdit", "InternalEdit", "AfterEdit", "BeforeCancel", "InternalCancel",
                                  "AfterCancel"));

  events.clear();
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("nine");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("Name")->AsString(), "nine");
  EXPECT_THAT(events, ElementsAre("BeforeEdit", "InternalEdit", "AfterEdit", "BeforePost", "InternalPost", "AfterPost"));

  ds.First();  // back on ID 1; a cancelled insert returns to the record it stood before
  ds.Next();
  events.clear();
  ds.Insert();
  ds.Cancel();
  EXPECT_EQ(Id(), 2);
  EXPECT_THAT(events, ElementsAre("BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll",
                                  "BeforeCancel", "InternalCancel", "AfterCancel"));

  events.clear();
  ds.Delete();
  EXPECT_EQ(Id(), 3);  // the following record becomes current
  EXPECT_THAT(events, ElementsAre("BeforeDelete", "BeforeScroll", "InternalDelete", "AfterDelete", "AfterScroll"));
  ds.log = nullptr;
  EXPECT_THAT(Forward(), ElementsAre(1, 3, 9));
}

TEST_F(DataSetTest, UnchangedEditIsCancelledAndChangedOnePostedByBrowseMode) {
  Fill(2);
  ds.First();
  ds.Edit();
  ds.Next();  // nothing changed: the edit ends without a post
  EXPECT_EQ(ds.State(), dsBrowse);
  ds.Edit();
  ds.FieldByName("Amount")->SetAsFloat(99);
  ds.First();  // moving posts the change
  ds.Last();
  EXPECT_DOUBLE_EQ(ds.FieldByName("Amount")->AsFloat(), 99);
}

TEST_F(DataSetTest, RequiredFieldRefusesThePostAndKeepsTheInsert) {
  Fill(1);
  ds.FieldByName("ID")->SetDisplayLabel("Number");
  ds.Append();
  ds.FieldByName("Name")->SetAsString("nameless");
  EXPECT_THAT([&] { ds.Post(); }, ::testing::ThrowsMessage<EDatabaseError>("Field 'Number' must have a value"));
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.stored_count(), 1);
  ds.FieldByName("ID")->SetAsInteger(2);
  ds.Post();
  EXPECT_EQ(ds.stored_count(), 2);
}

TEST_F(DataSetTest, DeleteWhileEditingEndsTheEditFirst) {
  Fill(2);
  ds.First();
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("x");
  ds.log = &events;
  ds.Delete();
  EXPECT_THAT(events, ElementsAre("InternalCancel", "InternalDelete"));
  EXPECT_THAT(Forward(), ElementsAre(2));
}

TEST_F(DataSetTest, OldValueShowsTheRecordBeforeTheEdit) {
  Fill(1);
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("new");
  EXPECT_EQ(ds.FieldByName("Name")->OldValue().AsString(), "N1");
  EXPECT_EQ(ds.FieldByName("Name")->AsString(), "new");
}

TEST_F(DataSetTest, InsertRecordCancelsWhenAValueIsRefused) {
  Fill(1);
  EXPECT_THROW(ds.InsertRecord({2, "x", "not a number"}), EVariantError);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.stored_count(), 1);
}

// ---------------------------------------------------------------- error events

enum class Op { kPost, kEdit, kDelete };

struct ErrorCase {
  const char* name;
  Op op;
  int failures;
  bool handler;
  std::vector<TDataAction> actions;  // what the handler answers, call by call
  enum { kDone, kRaises, kAborts } outcome;
};

class ErrorEventTest : public DataSetTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorEventTest, ActionDecidesBetweenFailAbortAndRetry) {
  const ErrorCase c = GetParam();
  Fill(2);
  ds.First();
  int calls = 0;
  TDataSetErrorEvent handler = [&](TDataSet& d, EDatabaseError& e, TDataAction& action) {
    EXPECT_EQ(&d, &ds);
    EXPECT_THAT(e.what(), HasSubstr("Record locked by another user"));
    EXPECT_EQ(action, daFail);
    action = c.actions.at(static_cast<size_t>(calls++));
  };
  std::function<void()> run;
  switch (c.op) {
    case Op::kPost:
      ds.fail_posts = c.failures;
      if (c.handler) ds.OnPostError = handler;
      ds.Append();
      ds.FieldByName("ID")->SetAsInteger(3);
      run = [&] { ds.Post(); };
      break;
    case Op::kEdit:
      ds.fail_edits = c.failures;
      if (c.handler) ds.OnEditError = handler;
      run = [&] { ds.Edit(); };
      break;
    case Op::kDelete:
      ds.fail_deletes = c.failures;
      if (c.handler) ds.OnDeleteError = handler;
      run = [&] { ds.Delete(); };
      break;
  }
  const TDataSetState before = ds.State();
  switch (c.outcome) {
    case ErrorCase::kDone: EXPECT_NO_THROW(run()); break;
    case ErrorCase::kRaises: EXPECT_THROW(run(), EDatabaseError); break;
    case ErrorCase::kAborts: EXPECT_THROW(run(), EAbort); break;
  }
  EXPECT_EQ(calls, static_cast<int>(c.actions.size()));
  if (c.outcome != ErrorCase::kDone) {
    EXPECT_EQ(ds.State(), before);  // a refused operation leaves the state as it was
    EXPECT_EQ(ds.stored_count(), 2);
  } else {
    EXPECT_EQ(ds.stored_count(), c.op == Op::kPost ? 3 : (c.op == Op::kDelete ? 1 : 2));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, ErrorEventTest,
    ::testing::Values(ErrorCase{"PostNoHandler", Op::kPost, 1, false, {}, ErrorCase::kRaises},
                      ErrorCase{"PostFail", Op::kPost, 1, true, {daFail}, ErrorCase::kRaises},
                      ErrorCase{"PostAbort", Op::kPost, 1, true, {daAbort}, ErrorCase::kAborts},
                      ErrorCase{"PostRetryTwice", Op::kPost, 2, true, {daRetry, daRetry}, ErrorCase::kDone},
                      ErrorCase{"EditAbort", Op::kEdit, 1, true, {daAbort}, ErrorCase::kAborts},
                      ErrorCase{"EditRetry", Op::kEdit, 1, true, {daRetry}, ErrorCase::kDone},
                      ErrorCase{"DeleteFail", Op::kDelete, 1, true, {daFail}, ErrorCase::kRaises},
                      ErrorCase{"DeleteRetryThenAbort", Op::kDelete, 3, true, {daRetry, daAbort}, ErrorCase::kAborts},
                      ErrorCase{"DeleteRetry", Op::kDelete, 1, true, {daRetry}, ErrorCase::kDone}),
    [](const ::testing::TestParamInfo<ErrorCase>& i) { return std::string(i.param.name); });

TEST_F(DataSetTest, RequiredFieldErrorReachesThePostErrorEvent) {
  Fill(0);
  std::string seen;
  ds.OnPostError = [&](TDataSet&, EDatabaseError& e, TDataAction& action) {
    seen = e.what();
    action = daAbort;
  };
  ds.Append();
  EXPECT_THROW(ds.Post(), EAbort);
  EXPECT_EQ(seen, "Field 'ID' must have a value");
}

// ---------------------------------------------------------------- bookmarks

TEST_F(DataSetTest, BookmarksSurviveInsertsAndDeletesOfOtherRecords) {
  Fill(5);
  ASSERT_TRUE(ds.Locate("ID", 3, {}));
  const TBookmark three = ds.GetBookmark();
  ASSERT_EQ(three.size(), 4u);
  ds.Last();
  const TBookmark five = ds.GetBookmark();

  ds.First();
  ds.Insert();
  ds.FieldByName("ID")->SetAsInteger(10);
  ds.Post();
  ds.AppendRecord({11});
  ds.First();
  ds.Delete();  // ID 1
  ds.Delete();  // ID 2

  ds.GotoBookmark(three);
  EXPECT_EQ(Id(), 3);
  EXPECT_TRUE(ds.BookmarkValid(three));
  EXPECT_LT(ds.CompareBookmarks(three, five), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_GT(ds.CompareBookmarks({}, three), 0);

  ds.Delete();  // ID 3 itself
  EXPECT_FALSE(ds.BookmarkValid(three));
  EXPECT_THAT([&] { ds.GotoBookmark(three); }, ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Record not found")));
  EXPECT_THAT([&] { ds.GotoBookmark(TBookmark{1, 2}); },
              ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Invalid bookmark")));
  ds.GotoBookmark(five);
  EXPECT_EQ(Id(), 5);
}

TEST_F(DataSetTest, NoBookmarkForANewRecordOrAnEmptyDataset) {
  Fill(0);
  EXPECT_TRUE(ds.GetBookmark().empty());
  ds.Append();
  EXPECT_TRUE(ds.GetBookmark().empty());
  ds.Cancel();
}

// ---------------------------------------------------------------- filters and search

TEST_F(DataSetTest, FilterRecordShowsOnlyAcceptedRecords) {
  Fill(6);
  ds.SetOnFilterRecord([](TDataSet& d, bool& accept) { accept = d.FieldByName("ID")->AsInteger() % 2 == 0; });
  EXPECT_THAT(Forward(), ElementsAre(1, 2, 3, 4, 5, 6));  // not yet filtered
  ds.SetFiltered(true);
  EXPECT_EQ(Id(), 2);
  EXPECT_THAT(Forward(), ElementsAre(2, 4, 6));
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_FALSE(ds.Locate("ID", 3, {}));
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 6);
}

TEST_F(DataSetTest, FailingFilterHandlerIsReportedAndTheScanGoesOn) {
  Fill(4);
  std::vector<std::string> reported;
  SetExceptionHandler([&](const std::exception& e) { reported.push_back(e.what()); });
  ds.SetOnFilterRecord([](TDataSet& d, bool& accept) {
    const int id = d.FieldByName("ID")->AsInteger();
    if (id == 3) throw EDatabaseError("bad record");  // accept keeps its value: accepted
    if (id == 4) {
      accept = false;
      throw EDatabaseError("worse record");  // refused before raising
    }
  });
  ds.SetFiltered(true);
  EXPECT_THAT(Forward(), ElementsAre(1, 2, 3));
  SetExceptionHandler(nullptr);
  EXPECT_THAT(reported, ::testing::Contains("bad record"));
  EXPECT_THAT(reported, ::testing::Contains("worse record"));
}

TEST_F(DataSetTest, LocateAndLookup) {
  Fill(4);
  ds.First();
  EXPECT_TRUE(ds.Locate("Name", "n3", {loCaseInsensitive}));
  EXPECT_EQ(Id(), 3);
  EXPECT_FALSE(ds.Locate("Name", "n3", {}));  // case matters without the option
  EXPECT_EQ(Id(), 3);                          // and a miss leaves the record current
  EXPECT_TRUE(ds.Locate("ID;Name", VarArrayOf({2, "N2"}), {}));
  EXPECT_EQ(Id(), 2);
  EXPECT_TRUE(ds.Locate("Name", "N", {loPartialKey}));
  EXPECT_EQ(Id(), 1);

  ds.Last();
  EXPECT_DOUBLE_EQ(ds.Lookup("Name", "N2", "Amount").AsDouble(), 3.0);
  const Variant both = ds.Lookup("ID", 3, "Name;Amount");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both[0].AsString(), "N3");
  EXPECT_TRUE(ds.Lookup("ID", 99, "Name").IsNull());
  EXPECT_EQ(Id(), 4);  // Lookup never moves
  EXPECT_THAT([&] { ds.Locate("Missing", 1, {}); },
              ::testing::ThrowsMessage<EDatabaseError>("Vector: Field 'Missing' not found"));
}

TEST_F(DataSetTest, LocatePostsAPendingEditFirst) {
  Fill(3);
  ds.First();
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("edited");
  ASSERT_TRUE(ds.Locate("ID", 3, {}));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.Lookup("ID", 1, "Name").AsString(), "edited");
}

// ---------------------------------------------------------------- calculated fields

TEST_F(DataSetTest, CalculatedFieldsFollowTheRecordAndItsEdits) {
  auto id = std::make_unique<TIntegerField>();
  id->SetFieldName("ID");
  auto amount = std::make_unique<TFloatField>();
  amount->SetFieldName("Amount");
  auto twice = std::make_unique<TFloatField>();
  twice->SetFieldName("Twice");
  twice->SetFieldKind(fkCalculated);
  ds.AddField(std::move(id));
  ds.AddField(std::move(amount));
  TField* calc = ds.AddField(std::move(twice));
  ds.OnCalcFields = [](TDataSet& d) {
    d.FieldByName("Twice")->SetAsFloat(d.FieldByName("Amount")->AsFloat() * 2);
  };
  ds.Open();
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(ds.FieldCount(), 3);  // the persistent fields only: Name has no field object
  ds.AppendRecord({1, 2.5});
  EXPECT_DOUBLE_EQ(calc->AsFloat(), 5.0);
  ds.Edit();
  ds.FieldByName("Amount")->SetAsFloat(4);
  EXPECT_DOUBLE_EQ(calc->AsFloat(), 8.0);  // recalculated on the field change
  ds.Cancel();
  EXPECT_DOUBLE_EQ(calc->AsFloat(), 5.0);
  ds.Close();
}

TEST_F(DataSetTest, PersistentFieldMustMatchItsDefinition) {
  auto name = std::make_unique<TStringField>();
  name->SetFieldName("Name");
  name->SetSize(5);  // the definition says 20
  ds.AddField(std::move(name));
  EXPECT_THAT([&] { ds.Open(); },
              ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Size mismatch for field 'Name', expecting: 5 actual: 20")));
  EXPECT_FALSE(ds.Active());

  VectorDataSet other(People());
  auto wrong = std::make_unique<TIntegerField>();
  wrong->SetFieldName("Name");
  other.AddField(std::move(wrong));
  EXPECT_THAT([&] { other.Open(); },
              ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Type mismatch for field 'Name'")));
}

// ---------------------------------------------------------------- notification

class CountingLink : public TDataLink {
 public:
  int changes = 0;
  int scrolls = 0;
 protected:
  void DataSetChanged() override { ++changes; }
  void DataSetScrolled(int) override { ++scrolls; }
};

TEST_F(DataSetTest, DisabledControlsHearOneChangeWhenEnabledAgain) {
  CountingLink link;
  link.SetDataSource(&source);
  Fill(5);
  link.changes = link.scrolls = 0;
  ds.DisableControls();
  ds.DisableControls();
  for (ds.First(); !ds.Eof(); ds.Next()) {
  }
  ds.EnableControls();
  EXPECT_EQ(link.changes + link.scrolls, 0);
  ds.EnableControls();
  EXPECT_EQ(link.changes, 1);
  EXPECT_EQ(link.scrolls, 0);
}

TEST_F(DataSetTest, ReadOnlyDatasetRefusesChanges) {
  Fill(1);
  ds.read_only = true;
  EXPECT_THAT([&] { ds.Edit(); }, ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Cannot modify a read-only dataset")));
  EXPECT_THROW(ds.Append(), EDatabaseError);
  EXPECT_EQ(ds.State(), dsBrowse);
}

}  // namespace
}  // namespace platform::data
