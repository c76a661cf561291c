#include "platform/data/data_source.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/data/grid_model.h"
#include "platform/data/tests/vector_dataset.h"

namespace platform::data {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::Column;
using testing::VectorDataSet;

// Records what a link is told: every scroll with its distance and the active row after it.
class RecordingLink : public TDataLink {
 public:
  struct Scroll {
    int distance;
    int active;
  };
  std::vector<Scroll> scrolls;
  int changes = 0;
  int active_changes = 0;
  std::vector<bool> editing;

 protected:
  void DataSetScrolled(int distance) override { scrolls.push_back({distance, ActiveRecord()}); }
  void DataSetChanged() override { ++changes; }
  void ActiveChanged() override { ++active_changes; }
  void EditingChanged() override { editing.push_back(Editing()); }
};

void FillNumbers(VectorDataSet& ds, int n) {
  ds.Open();
  for (int i = 1; i <= n; ++i) {
    if (ds.FieldCount() > 1) {
      ds.AppendRecord({i, "R" + std::to_string(i)});
    } else {
      ds.AppendRecord({i});
    }
  }
  ds.First();
}

TEST(DataLinkTest, SeesEveryScrollWithItsDistanceAndRow) {
  VectorDataSet ds({{"ID", ftInteger}});
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetBufferCount(3);
  grid.SetDataSource(&source);
  FillNumbers(ds, 6);
  EXPECT_EQ(grid.active_changes, 1);
  EXPECT_EQ(grid.RecordCount(), 3);

  grid.scrolls.clear();
  for (int i = 0; i < 5; ++i) ds.Next();
  // two moves inside the window, then the window follows record by record
  std::vector<std::pair<int, int>> seen;
  for (auto s : grid.scrolls) seen.emplace_back(s.distance, s.active);
  EXPECT_THAT(seen, ElementsAre(std::pair(0, 1), std::pair(0, 2), std::pair(1, 2), std::pair(1, 2), std::pair(1, 2)));
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 6);

  grid.scrolls.clear();
  ds.Next();  // trying to pass the end is a scroll of nothing; once at Eof there is none
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  ASSERT_EQ(grid.scrolls.size(), 1u);
  EXPECT_EQ(grid.scrolls[0].distance, 0);
  EXPECT_EQ(grid.scrolls[0].active, 2);

  grid.scrolls.clear();

  for (int i = 0; i < 5; ++i) ds.Prior();
  seen.clear();
  for (auto s : grid.scrolls) seen.emplace_back(s.distance, s.active);
  EXPECT_THAT(seen, ElementsAre(std::pair(0, 1), std::pair(0, 0), std::pair(-1, 0), std::pair(-1, 0), std::pair(-1, 0)));
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
  ds.Close();
  EXPECT_EQ(grid.active_changes, 2);
  EXPECT_FALSE(grid.Active());
}

TEST(DataLinkTest, SmallLinkBesideAGridFollowsTheActiveRecord) {
  VectorDataSet ds({{"ID", ftInteger}});
  TDataSource source(&ds);
  RecordingLink grid, edit;
  grid.SetBufferCount(4);
  grid.SetDataSource(&source);
  edit.SetDataSource(&source);
  FillNumbers(ds, 10);
  for (int i = 0; i < 7; ++i) {
    ds.Next();
    EXPECT_EQ(edit.ActiveRecord(), 0);
    EXPECT_EQ(edit.RecordCount(), 1);
    EXPECT_EQ(grid.ActiveRecord(), std::min(i + 1, 3));
  }
  // the grid reads another row of its window without moving the cursor
  grid.SetActiveRecord(0);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 5);
  grid.SetActiveRecord(3);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 8);
  EXPECT_EQ(ds.RecNo(), 8);
}

TEST(DataLinkTest, ShrinkingTheWindowKeepsTheActiveRecord) {
  VectorDataSet ds({{"ID", ftInteger}});
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetBufferCount(5);
  grid.SetDataSource(&source);
  FillNumbers(ds, 8);
  for (int i = 0; i < 4; ++i) ds.Next();  // row 4 of the window, ID 5
  grid.SetBufferCount(2);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 5);
  EXPECT_EQ(grid.ActiveRecord(), 1);
  EXPECT_EQ(ds.WindowRows(), 2);
  grid.SetBufferCount(6);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 5);
  EXPECT_EQ(ds.WindowRows(), 5);  // refilled up to the last record
  ds.Next();
  ds.Next();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 7);
}

TEST(DataLinkTest, EditingStateAndWritingBackPendingValues) {
  VectorDataSet ds({{"ID", ftInteger}, {"Name", ftString, 10}});
  TDataSource source(&ds);
  struct EditLink : RecordingLink {
    std::string pending;
    void UpdateData() override {
      if (!pending.empty()) DataSet()->FieldByName("Name")->SetAsString(pending);
    }
  } link;
  link.SetDataSource(&source);
  FillNumbers(ds, 1);
  link.editing.clear();
  EXPECT_TRUE(link.Edit());  // AutoEdit puts the dataset into edit state
  link.pending = "typed";
  ds.Post();  // asks the link for its value before storing
  EXPECT_EQ(ds.FieldByName("Name")->AsString(), "typed");
  EXPECT_THAT(link.editing, ElementsAre(true, false));
  source.SetAutoEdit(false);
  EXPECT_FALSE(link.Edit());
  link.SetReadOnly(true);
  ds.Edit();
  EXPECT_FALSE(link.Editing());
  ds.Cancel();
}

TEST(DataLinkTest, LinksAndSourcesDetachWhenEitherGoes) {
  auto ds = std::make_unique<VectorDataSet>(std::vector<Column>{{"ID", ftInteger}});
  auto source = std::make_unique<TDataSource>(ds.get());
  RecordingLink link;
  link.SetDataSource(source.get());
  FillNumbers(*ds, 2);
  EXPECT_TRUE(link.Active());
  ds.reset();  // closes, tells the source
  EXPECT_EQ(source->DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  source.reset();
  EXPECT_EQ(link.DataSource(), nullptr);
}

// ---------------------------------------------------------------- master and detail

class MasterDetailTest : public ::testing::Test {
 protected:
  MasterDetailTest()
      : master({{"ID", ftInteger}, {"Name", ftString, 10}}),
        detail({{"Line", ftInteger}, {"MasterID", ftInteger}}),
        master_source(&master) {
    master.Open();
    for (int i = 1; i <= 3; ++i) master.AppendRecord({i, "M" + std::to_string(i)});
    detail.Open();
    for (int line = 1; line <= 5; ++line) detail.AppendRecord({line, line <= 3 ? 1 : 3});
    detail.SetMasterSource(&master_source);
    detail.SetMasterFields("ID", "MasterID");
    master.First();
  }

  std::vector<int> DetailLines() {
    std::vector<int> lines;
    for (detail.First(); !detail.Eof(); detail.Next()) lines.push_back(detail.FieldByName("Line")->AsInteger());
    return lines;
  }

  VectorDataSet master, detail;
  TDataSource master_source;
};

TEST_F(MasterDetailTest, DetailFollowsItsMaster) {
  EXPECT_THAT(DetailLines(), ElementsAre(1, 2, 3));
  master.Next();  // master 2 has no lines
  EXPECT_TRUE(detail.IsEmpty());
  EXPECT_EQ(detail.RecordCount(), 0);
  master.Next();
  EXPECT_THAT(DetailLines(), ElementsAre(4, 5));
  EXPECT_TRUE(master.Locate("ID", 1, {}));
  EXPECT_THAT(DetailLines(), ElementsAre(1, 2, 3));
}

TEST_F(MasterDetailTest, NewDetailRecordTakesTheMasterKey) {
  master.Last();
  detail.Append();
  EXPECT_EQ(detail.FieldByName("MasterID")->AsInteger(), 3);
  detail.FieldByName("Line")->SetAsInteger(6);
  detail.Post();
  EXPECT_THAT(DetailLines(), ElementsAre(4, 5, 6));
}

TEST_F(MasterDetailTest, MasterScrollPostsThePendingDetailEdit) {
  detail.First();
  detail.Edit();
  detail.FieldByName("Line")->SetAsInteger(10);
  master.Next();
  EXPECT_EQ(detail.State(), dsBrowse);
  master.First();
  EXPECT_THAT(DetailLines(), ElementsAre(10, 2, 3));
}

TEST_F(MasterDetailTest, ClosingTheMasterLiftsTheRangeAndDisabledControlsFreezeIt) {
  master.DisableControls();
  master.Last();
  EXPECT_THAT(DetailLines(), ElementsAre(1, 2, 3));  // controls off: the detail does not follow
  master.EnableControls();
  EXPECT_THAT(DetailLines(), ElementsAre(4, 5));
  master.Close();
  EXPECT_THAT(DetailLines(), ElementsAre(1, 2, 3, 4, 5));
}

TEST_F(MasterDetailTest, CircularLinksAreRefused) {
  TDataSource detail_source(&detail);
  EXPECT_THAT([&] { master.SetMasterSource(&detail_source); },
              ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Circular datalinks are not allowed")));
  TDataSource other;
  other.SetDataSet(&master);
  EXPECT_THAT([&] { master_source.SetDataSet(&detail); },
              ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Circular datalinks are not allowed")));
  EXPECT_EQ(master_source.DataSet(), &master);
}

// ---------------------------------------------------------------- the grid model

class GridEvents : public DataGridListener {
 public:
  int resets = 0;
  std::vector<int> scrolls;
  std::vector<int> rows;
  std::vector<bool> editing;
  void GridReset() override { ++resets; }
  void GridScrolled(int distance) override { scrolls.push_back(distance); }
  void GridRowChanged(int row) override { rows.push_back(row); }
  void GridEditingChanged(bool e) override { editing.push_back(e); }
};

TEST(DataGridModelTest, ShowsTheWindowAndEditsThroughTheDataset) {
  VectorDataSet ds({{"ID", ftInteger}, {"Name", ftString, 10}, {"Hidden", ftInteger}});
  TDataSource source(&ds);
  GridEvents events;
  DataGridModel grid(&events);
  grid.SetVisibleRows(3);
  grid.SetDataSource(&source);
  FillNumbers(ds, 5);
  events.editing.clear();
  ds.FieldByName("Hidden")->SetVisible(false);
  ds.FieldByName("Name")->SetDisplayLabel("Name of record");

  EXPECT_TRUE(grid.Active());
  EXPECT_EQ(grid.ColumnCount(), 2);
  EXPECT_EQ(grid.ColumnTitle(1), "Name of record");
  EXPECT_EQ(grid.ColumnAlignment(0), taRightJustify);
  EXPECT_EQ(grid.RowCount(), 3);
  EXPECT_EQ(grid.CellText(2, 1), "R3");
  EXPECT_EQ(grid.CellText(3, 1), "");  // outside the window
  EXPECT_EQ(grid.CurrentRow(), 0);     // reading a row does not move
  EXPECT_EQ(grid.RecordCount(), 5);

  grid.SetCurrentRow(2);
  EXPECT_EQ(grid.RecNo(), 3);
  ds.Next();
  EXPECT_THAT(events.scrolls, ElementsAre(0, 1));
  EXPECT_EQ(grid.CellText(0, 0), "2");

  grid.SetCellText(1, 1, "edited");
  EXPECT_TRUE(grid.Editing());
  ds.Next();  // leaving the row posts it
  EXPECT_FALSE(grid.Editing());
  EXPECT_EQ(ds.Lookup("ID", 3, "Name").AsString(), "edited");
  EXPECT_THAT(events.editing, ElementsAre(true, false));
  EXPECT_FALSE(events.rows.empty());

  const int resets = events.resets;
  ds.Close();
  EXPECT_GT(events.resets, resets);
  EXPECT_EQ(grid.ColumnCount(), 0);
  EXPECT_EQ(grid.CellText(0, 0), "");
}

}  // namespace
}  // namespace platform::data
