// Compact, repair, new password and new settings: the file keeps its data, the old file is left
// untouched by every failure, and it is never replaced under another process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dbengine/access/tests/table_test_support.h"
#include "platform/files/file.h"

namespace orv::testing {
namespace {

using namespace platform::data;

class MaintenanceTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    file = dir.File("m.orv");
    CreateFile(file);
    db = NewDatabase("MDb", file);
  }
  // T (ID, TXT) with Count rows, of which every row whose ID is not a multiple of Keep is
  // deleted again.
  void Fill(int Count, int Keep) {
    db->Open();
    auto t = MakeTable("MDb", "T", {{"ID", ftInteger}, {"TXT", ftString, 200}}, {{"PK", "ID", {ixPrimary}}});
    t->Open();
    for (int i = 1; i <= Count; ++i) t->AppendRecord({i, std::string(150, static_cast<char>('a' + i % 26))});
    for (t->First(); !t->Eof();) {
      if (t->FieldByName("ID")->AsInteger() % Keep != 0) {
        t->Delete();
      } else {
        t->Next();
      }
    }
    t->Close();
    db->Close();
  }
  std::vector<std::string> Dump() {
    std::vector<std::string> rows;
    auto t = OpenTable("MDb", "T");
    for (t->First(); !t->Eof(); t->Next())
      rows.push_back(t->Fields()[0]->AsString() + "|" + t->Fields()[1]->AsString());
    t->Close();
    db->Close();
    return rows;
  }

  std::string file;
  std::unique_ptr<TORVDatabase> db;
};

TEST_F(MaintenanceTest, CompactKeepsTheDataInASmallerFileUnderTheSameName) {
  Fill(1000, 10);
  const std::vector<std::string> before = Dump();
  ASSERT_EQ(before.size(), 100u);
  const int64_t size = platform::FileLength(file);
  std::vector<int> seen;
  db->OnCompactProgress = [&](TORVDatabase&, int p, bool&) { seen.push_back(p); };
  EXPECT_TRUE(db->CompactDatabase());
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->DatabaseFileName(), file);
  EXPECT_FALSE(platform::FileExists(file + ".tmp"));
  EXPECT_LT(platform::FileLength(file), size);
  EXPECT_EQ(Dump(), before);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);
}

TEST_F(MaintenanceTest, AbortAtTheFirstStepLeavesTheOriginalByteForByte) {
  Fill(200, 2);
  const std::vector<uint8_t> original = ReadAll(file);
  ui.AbortProgressAt(0);
  EXPECT_EQ(CodeOf([&] { db->CompactDatabase(); }), 30456);
  EXPECT_EQ(ReadAll(file), original);
  EXPECT_FALSE(platform::FileExists(file + ".tmp"));
  EXPECT_FALSE(db->Connected());
  ASSERT_EQ(ui.Progress().size(), 1u);
  EXPECT_EQ(ui.Progress()[0].texts, (std::vector<std::string>{"Compacting Database..."}));
  EXPECT_TRUE(ui.Progress()[0].closed);

  // Silent, without events: no form at all.
  ui.AbortProgressAt(std::nullopt);
  db->SetSilentMode(true);
  EXPECT_TRUE(db->CompactDatabase());
  EXPECT_EQ(ui.Progress().size(), 1u);
}

TEST_F(MaintenanceTest, SettingsPasswordAndTheRefusals) {
  Fill(50, 1);
  const std::vector<std::string> before = Dump();
  std::string log;
  EXPECT_EQ(CodeOf([&] { db->ChangeDatabaseSettings(log, false, "", craRijndael_128, 8192, 8, 0); }), 20274);
  EXPECT_FALSE(platform::FileExists(file + ".tmp"));

  // The archive's sequence: new settings, then a compact.
  EXPECT_TRUE(db->ChangeDatabaseSettings(log, false, "", craRijndael_128, 8192, 8, 20)) << log;
  EXPECT_TRUE(db->CompactDatabase());
  db->Open();
  EXPECT_EQ(db->PageSize(), 8192);
  EXPECT_EQ(db->MaxConnections(), 20);
  db->Close();
  EXPECT_EQ(Dump(), before);

  EXPECT_EQ(db->ChangePassword("s3cret"), "");
  EXPECT_EQ(db->Password(), "s3cret");
  EXPECT_EQ(Dump(), before);
  TORVDatabase wrong(nullptr);
  wrong.SetDatabaseName("Wrong");
  wrong.SetDatabaseFileName(file);
  wrong.SetSilentMode(true);
  EXPECT_NE(CodeOf([&] { wrong.Open(); }), 0);

  // Compact on an open database is refused.
  db->Open();
  EXPECT_EQ(DatabaseErrorOf([&] { db->CompactDatabase(); }), "Cannot perform this operation on an open database");
  db->Close();
}

TEST_F(MaintenanceTest, AFileInUseByAnotherProcessIsNotReplaced) {
  Fill(100, 2);
  const std::vector<uint8_t> original = ReadAll(file);
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    platform::File user;
    const char ok = user.Open(file, platform::FileAccess::ReadOnly, platform::FileShare::DenyNone) == 0 ? '1' : '0';
    (void)!::write(ready[1], &ok, 1);
    char c;
    (void)!::read(release[0], &c, 1);
    ::_exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, '1');
  EXPECT_NE(CodeOf([&] { db->CompactDatabase(); }), 0);
  (void)!::write(release[1], "x", 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
  EXPECT_EQ(ReadAll(file), original);
  EXPECT_FALSE(platform::FileExists(file + ".tmp"));
}

// Marks a commit that never finished: the header's WriteChangesState byte (42) set to 1.
void MarkUnfinished(const std::string& File) {
  std::vector<uint8_t> bytes = ReadAll(File);
  ASSERT_GE(bytes.size(), 76u);
  bytes[42] = 1;
  WriteAll(File, bytes);
}

TEST_F(MaintenanceTest, OpenRepairsAFileThatWasNotClosedCorrectlyAfterThePrompt) {
  Fill(30, 1);
  const std::vector<std::string> before = Dump();
  MarkUnfinished(file);
  ui.QueueMessageResult(platform::ui::ModalResult::Yes);
  db->Open();
  EXPECT_TRUE(db->Connected());
  ASSERT_FALSE(ui.Messages().empty());
  EXPECT_EQ(ui.Messages()[0].text, "Database file was not correctly closed last time. Do you want to repair it?");
  db->Close();
  EXPECT_EQ(Dump(), before);
  // Repaired: the next open asks nothing.
  db->Open();
  EXPECT_EQ(ui.Messages().size(), 1u);
  db->Close();
  EXPECT_FALSE(platform::FileExists(file + ".tmp"));
}

}  // namespace
}  // namespace orv::testing
