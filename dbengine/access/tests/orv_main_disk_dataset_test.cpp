// The dataset and table components on a database file shared with other processes: a round
// trip of every column type read back by a second program, the multi-user edit seen from two
// processes, bookmarks and BLOB streams of rows another process deleted, orvtool's load and
// dump.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/access/orv_main_errors.h"
#include "dbengine/file/orv_disk_engine_table_interface.h"
#include "dbengine/access/tests/table_test_support.h"
#include "platform/base/datetime.h"
#include "platform/data/blob_field.h"

namespace orv::testing {
namespace {

using namespace platform::data;

class DiskDataSetTest : public SharedFileTest {
 protected:
  // The file with the table PEOPLE (ID primary key, NAME, PIC) and rows 1 to 3, each with a
  // picture.
  void MakePeopleFile() {
    MakeFile([](TORVDatabase&) {
      auto t = MakeTable("Archive", "PEOPLE", {{"ID", ftInteger}, {"NAME", ftString, 20}, {"PIC", ftBlob}},
                         {{"PK", "ID", {ixPrimary, ixUnique}}});
      t->Open();
      for (int id : {1, 2, 3}) {
        t->Append();
        t->FieldByName("ID")->SetAsInteger(id);
        t->FieldByName("NAME")->SetAsString("p" + std::to_string(id));
        t->FieldByName("PIC")->SetAsString(std::string(100, static_cast<char>('a' + id)));
        t->Post();
      }
      return true;
    });
  }
  static std::unique_ptr<TORVTable> People() { return OpenTable("Archive", "PEOPLE", "PK"); }
  // Whether the file's tables take the record and table locks that processes share.
  static bool TakesSharedLocks(TORVTable& Table) {
    auto* cursor = dynamic_cast<TORVLocalCursor*>(Table.Handle());
    return cursor && dynamic_cast<IORVDiskTableData*>(cursor->TableData()) != nullptr;
  }
  static bool GoTo(TORVTable& t, int id) { return t.FindKey({id}); }
  // The peer's side: deletes the rows whose numbers it is sent (0 ends it), answering 0.
  int DeleteRows(Peer& Self) {
    int32_t id = Self.Receive();  // the file is opened only when there is work
    if (id <= 0) return 0;
    engine.Startup();
    auto d = OpenDatabase();
    auto t = People();
    for (; id > 0; id = Self.Receive()) {
      GoTo(*t, id);
      t->Delete();
      Self.Send(0);
    }
    return 0;
  }
};

// What a command prints on its standard output, and its exit status.
std::pair<std::string, int> RunCommand(const std::string& command) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return {"", -1};
  std::string text;
  char buf[4096];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) text.append(buf, n);
  const int status = ::pclose(p);
  return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST_F(DiskDataSetTest, EveryColumnTypeRoundTripsThroughTheFileToAnotherProgram) {
  engine.Startup();
  {
    TORVDatabase maker(nullptr);
    maker.SetDatabaseName("Maker");
    maker.SetDatabaseFileName(path);
    maker.CreateDatabase();
  }
  db = OpenDatabase();
  auto t = MakeTable("Archive", "ALLTYPES",
                     {{"ID", ftAutoInc}, {"I", ftInteger}, {"L", ftLargeint}, {"S", ftSmallint}, {"W", ftWord},
                      {"F", ftFloat}, {"C", ftCurrency}, {"B", ftBoolean}, {"D", ftDate}, {"T", ftTime},
                      {"DT", ftDateTime}, {"TS", ftTimeStamp}, {"TX", ftString, 30}, {"FC", ftFixedChar, 4},
                      {"WS", ftWideString, 10}, {"G", ftGuid, 38}, {"M", ftMemo}, {"WM", ftWideMemo},
                      {"BL", ftBlob}, {"BY", ftBytes, 3}});
  t->Open();
  const platform::TDateTime moment = platform::EncodeDate(2024, 6, 13) + platform::EncodeTime(9, 30, 15, 250);
  t->Append();
  t->FieldByName("I")->SetAsInteger(-7);
  t->FieldByName("L")->SetAsLargeInt(9007199254740993LL);
  t->FieldByName("S")->SetAsInteger(-300);
  t->FieldByName("W")->SetAsInteger(65535);
  t->FieldByName("F")->SetAsFloat(0.1);
  t->FieldByName("C")->SetAsCurrency(12.5);
  t->FieldByName("B")->SetAsBoolean(true);
  t->FieldByName("D")->SetAsDateTime(platform::EncodeDate(2024, 6, 13));
  t->FieldByName("T")->SetAsDateTime(platform::EncodeTime(12, 0, 0, 0));
  t->FieldByName("DT")->SetAsDateTime(moment);
  t->FieldByName("TS")->SetAsDateTime(moment);
  t->FieldByName("TX")->SetAsString("tab\there");
  t->FieldByName("FC")->SetAsString("abcd");
  t->FieldByName("WS")->SetAsString("gr\xC3\xBC\xC3\x9F");
  t->FieldByName("G")->SetAsString("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
  t->FieldByName("M")->SetAsString("line\nfeed");
  t->FieldByName("WM")->SetAsString("\xE2\x82\xAC wide");
  t->FieldByName("BL")->SetAsBytes({0x00, 0xff, 0x10});
  t->FieldByName("BY")->SetAsBytes({0xab, 0xc0, 0xff});
  t->Post();
  t->Append();  // every column NULL; an empty text is NULL too
  t->FieldByName("TX")->SetAsString("");
  t->Post();
  t->Close();
  db.reset();
  engine.Shutdown();

  const auto [text, status] = RunCommand(std::string(ORVTOOL_PATH) + " dump " + path + " ALLTYPES");
  ASSERT_EQ(status, 0) << text;
  EXPECT_EQ(text,
            "1\t-7\t9007199254740993\t-300\t65535\t0.10000000000000001\t12.5\t1\t2024-06-13\t12:00:00\t"
            "2024-06-13 09:30:15.250\t2024-06-13 09:30:15.250\ttab\\there\tabcd\tgr\xC3\xBC\xC3\x9F\t"
            "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\tline\\nfeed\t\xE2\x82\xAC wide\t00ff10\tabc0ff\n"
            "2\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\n");
  const std::string out = std::string(QUIRVEL_TEST_OUTPUT) + "/access";
  std::filesystem::create_directories(out);
  std::filesystem::copy_file(path, out + "/alltypes.orv", std::filesystem::copy_options::overwrite_existing);
}

TEST_F(DiskDataSetTest, AFailedEditPostKeepsTheRecordUntilCancel) {
  MakePeopleFile();
  Peer peer([&](Peer& self) {
    // The peer opens only when asked: the two processes' pauses on the manual clock take no
    // time, so they must not contend for the file's table list at once.
    if (self.Receive() != 1) return 0;
    engine.Startup();
    auto d = OpenDatabase();
    auto t = People();
    int32_t result = 0;
    for (bool first = true; first || self.Receive() == 1; first = false) {
      GoTo(*t, 1);
      try {
        t->Edit();
        t->FieldByName("NAME")->SetAsString("peer");
        t->Post();
        result = 0;
      } catch (const EORVEngineError& e) {
        result = e.ErrorCode();
        if (t->State() != dsBrowse) t->Cancel();
      }
      self.Send(result);
    }
    return 0;
  });
  Start();
  auto t = People();
  if (!TakesSharedLocks(*t)) {
    peer.Send(0);
    FAIL() << "the disk table data takes no multi-user locks";
  }
  ASSERT_TRUE(GoTo(*t, 1));
  t->Edit();
  t->FieldByName("ID")->SetAsInteger(2);  // taken: the post is refused
  try {
    t->Post();
    FAIL() << "posted a duplicate key";
  } catch (const EORVEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), -8);
  }
  EXPECT_EQ(t->State(), dsEdit);
  EXPECT_EQ(t->FieldByName("ID")->OldValue().AsInteger(), 1);  // the copy from before the edit
  peer.Send(1);
  EXPECT_EQ(peer.Receive(), -12);  // the record stays locked
  t->Cancel();
  peer.Send(1);
  EXPECT_EQ(peer.Receive(), 0);  // free again
  peer.Send(0);
  EXPECT_EQ(peer.Wait(), 0);
  t->Refresh();
  GoTo(*t, 1);
  EXPECT_EQ(t->FieldByName("NAME")->AsString(), "peer");
}

// The peer deletes the rows whose numbers it is sent (0 ends it) and answers 0.
TEST_F(DiskDataSetTest, ABookmarkOfARowAnotherProcessDeletedIsInvalid) {
  MakePeopleFile();
  Peer peer([&](Peer& self) { return DeleteRows(self); });
  Start();
  auto t = People();
  ASSERT_TRUE(GoTo(*t, 2));
  const TBookmark second = t->GetBookmark();
  EXPECT_TRUE(t->BookmarkValid(second));
  peer.Send(2);
  ASSERT_EQ(peer.Receive(), 0);
  EXPECT_FALSE(t->BookmarkValid(second));
  peer.Send(0);
  EXPECT_EQ(peer.Wait(), 0);
}

TEST_F(DiskDataSetTest, TheBlobOfARowAnotherProcessDeletedReadsEmptyAndRefreshesOnce) {
  MakePeopleFile();
  Peer peer([&](Peer& self) { return DeleteRows(self); });
  Start();
  auto t = People();
  if (!TakesSharedLocks(*t)) {
    peer.Send(0);
    FAIL() << "the disk table data takes no multi-user locks";
  }
  ASSERT_TRUE(GoTo(*t, 3));
  int refreshes = 0;
  t->AfterRefresh = [&](TDataSet&) { ++refreshes; };
  peer.Send(3);  // the row the table stands on
  ASSERT_EQ(peer.Receive(), 0);
  EXPECT_TRUE(t->FieldByName("PIC")->AsBytes().empty());
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(t->RecordCount(), 2);
  peer.Send(0);
  EXPECT_EQ(peer.Wait(), 0);
}

TEST_F(DiskDataSetTest, ALargeBlobSurvivesTheFile) {
  MakePeopleFile();
  Start();
  std::mt19937 gen(31);
  std::vector<uint8_t> big(3u << 20);
  for (auto& b : big) b = static_cast<uint8_t>(gen());
  {
    auto t = People();
    GoTo(*t, 2);
    t->Edit();
    t->FieldByName("PIC")->SetAsBytes(big);
    t->Post();
  }
  db.reset();
  engine.Shutdown();
  // read back by another process
  EXPECT_EQ(InChild([&] {
              engine.Startup();
              auto d = OpenDatabase();
              auto t = People();
              GoTo(*t, 2);
              const bool same = t->FieldByName("PIC")->AsBytes() == big;
              t.reset();
              d.reset();
              engine.Shutdown();
              return same ? 0 : 1;
            }),
            0);
}

TEST_F(DiskDataSetTest, OrvtoolDumpGivesBackWhatLoadRead) {
  const std::string tsv = dir.Path() + "/rows.tsv";
  const std::string rows =
      "1\tAnna\t2024-06-13 12:00:00\tdeadbeef\t1\n"
      "2\t\\N\t2024-06-13 12:00:00.125\t\\N\t0\n"
      "3\tB\\\\C\\td\t1999-12-31 23:59:59.999\t00\t\\N\n";
  std::ofstream(tsv, std::ios::binary) << rows;
  const std::string tool = ORVTOOL_PATH;
  ASSERT_EQ(RunCommand(tool + " create " + path).second, 0);
  const auto loaded =
      RunCommand(tool + " load " + path + " ROWS 'id:AUTOINC,name:VARCHAR(40),d:DATETIME,img:BLOB,ok:BOOLEAN' " + tsv);
  EXPECT_EQ(loaded, (std::pair<std::string, int>{"3\n", 0}));
  EXPECT_EQ(RunCommand(tool + " dump " + path + " ROWS").first, rows);
  EXPECT_EQ(RunCommand(tool + " count " + path + " ROWS").first, "3\n");
  const auto bad = RunCommand(tool + " load " + path + " BAD 'id:INTEGER' " + tsv + " 2>&1");
  EXPECT_EQ(bad.second, 1);
  EXPECT_NE(bad.first.find("line 1"), std::string::npos) << bad.first;
}

}  // namespace
}  // namespace orv::testing
