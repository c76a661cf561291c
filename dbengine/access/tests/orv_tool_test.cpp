// The tools' TSV row format, on a MEMORY table of every column type, and orvtool's errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/access/tests/table_test_support.h"
#include "dbengine/access/tools/orv_tool.h"
#include "dbengine/access/tools/orv_tsv.h"

namespace orv::testing {
namespace {

using namespace platform::data;
using tools::TsvField;

TEST(TsvTest, FieldsAreSplitAndUnescaped) {
  struct Case {
    std::string line;
    std::vector<std::pair<bool, std::string>> fields;  // null, text
  };
  const std::vector<Case> cases = {
      {"a\tb", {{false, "a"}, {false, "b"}}},
      {"", {{false, ""}}},
      {"\\N\t\t\\N", {{true, ""}, {false, ""}, {true, ""}}},
      {"x\\ty\\nz\\\\", {{false, "x\ty\nz\\"}}},
      {"\\\\N", {{false, "\\N"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::vector<TsvField> got = tools::TsvSplit(c.line);
    ASSERT_EQ(got.size(), c.fields.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].null, c.fields[i].first);
      EXPECT_EQ(got[i].text, c.fields[i].second);
    }
  }
  for (const char* bad : {"a\\", "a\\x", "x\\N", "\\Nx"}) EXPECT_THROW(tools::TsvSplit(bad), std::invalid_argument) << bad;
  EXPECT_EQ(tools::TsvEscape("a\tb\nc\\"), "a\\tb\\nc\\\\");
}

class TsvValueTest : public EngineTest {};

TEST_F(TsvValueTest, EveryColumnTypeFormatsAndParsesBack) {
  auto t = MakeTable("MEMORY", "ALLTYPES",
                     {{"I", ftInteger}, {"L", ftLargeint}, {"S", ftSmallint}, {"F", ftFloat}, {"C", ftCurrency},
                      {"B", ftBoolean}, {"D", ftDate}, {"T", ftTime}, {"DT", ftDateTime}, {"TX", ftString, 30},
                      {"W", ftWideString, 10}, {"M", ftMemo}, {"BL", ftBlob}, {"BY", ftBytes, 3}, {"VB", ftVarBytes, 3}});
  t->Open();
  const std::vector<std::string> rows = {
      "-7\t9007199254740993\t-300\t0.10000000000000001\t12.5\t1\t2024-06-13\t12:00:00\t2024-06-13 09:30:15.250\t"
      "tab\\there\tgr\xC3\xBC\xC3\x9F\tline\\nfeed\\\\\t00ff10\tabc0ff\t0a",
      "\\N\t\\N\t\\N\t\\N\t\\N\t0\t1899-12-30\t23:59:59.999\t0001-01-01 00:00:00\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N",
  };
  for (const std::string& line : rows) {
    const std::vector<TsvField> fields = tools::TsvSplit(line);
    ASSERT_EQ(static_cast<int>(fields.size()), t->FieldCount());
    t->Append();
    for (int i = 0; i < t->FieldCount(); ++i) tools::ParseTsvValue(*t->Fields()[i], fields[static_cast<size_t>(i)]);
    t->Post();
  }
  std::vector<std::string> dumped;
  for (t->First(); !t->Eof(); t->Next()) {
    std::string line;
    for (int i = 0; i < t->FieldCount(); ++i) line += (i ? "\t" : "") + tools::FormatTsvValue(*t->Fields()[i]);
    dumped.push_back(line);
  }
  EXPECT_EQ(dumped, rows);

  t->Append();
  EXPECT_THROW(tools::ParseTsvValue(*t->FieldByName("I"), {false, "12x"}), std::invalid_argument);
  tools::ParseTsvValue(*t->FieldByName("VB"), {false, "0102"});
  EXPECT_EQ(tools::FormatTsvValue(*t->FieldByName("VB")), "0102");
  // the engine has room for one byte less than the declared size of a variable byte column
  EXPECT_EQ(DatabaseErrorOf([&] { tools::ParseTsvValue(*t->FieldByName("VB"), {false, "010203"}); }),
            "ALLTYPESTable: Invalid field size: 3 bytes for field 'VB'");
  EXPECT_THROW(tools::ParseTsvValue(*t->FieldByName("B"), {false, "yes"}), std::invalid_argument);
  EXPECT_THROW(tools::ParseTsvValue(*t->FieldByName("D"), {false, "2024-02-30"}), std::invalid_argument);
  EXPECT_THROW(tools::ParseTsvValue(*t->FieldByName("DT"), {false, "2024-06-13T12:00:00"}), std::invalid_argument);
  EXPECT_THROW(tools::ParseTsvValue(*t->FieldByName("BL"), {false, "abc"}), std::invalid_argument);
  t->Cancel();
}

TEST(OrvToolTest, ErrorsGoToTheErrorStreamWithResultOne) {
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(tools::RunOrvTool({"frobnicate", "x.orv"}, in, out, err), 1);
  EXPECT_NE(err.str().find("unknown command 'frobnicate'"), std::string::npos);
  err.str("");
  EXPECT_EQ(tools::RunOrvTool({"load", "x.orv", "T", "id:NOSUCHTYPE"}, in, out, err), 1);
  EXPECT_NE(err.str().find("unknown type 'NOSUCHTYPE'"), std::string::npos) << err.str();
  EXPECT_TRUE(out.str().empty());

  // the program itself: the engine's message and exit code 1 for a file that is not there
  const std::string command = std::string(ORVTOOL_PATH) + " count /nonexistent/dir/none.orv T 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  char buf[256];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) text.append(buf, n);
  const int status = ::pclose(p);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(text, "Database file '/nonexistent/dir/none.orv' does not exist\n");
}

TEST(OrvToolTest, CopyCompactRepairAndExportSql) {
  ScratchDir dir;
  const std::string db = dir.File("tool.orv");
  const std::string other = dir.File("other.orv");
  auto run = [](const std::vector<std::string>& args, const std::string& input = {}) {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int rc = tools::RunOrvTool(args, in, out, err);
    EXPECT_EQ(rc, 0) << err.str();
    return out.str();
  };
  run({"create", db});
  run({"create", other});
  EXPECT_EQ(run({"load", db, "T", "ID:INTEGER,NAME:VARCHAR(10)"}, "1\tone\n2\tit's\n"), "2\n");
  run({"copy", db, "T", "U"});
  run({"copy", db, "T", "T", other});
  EXPECT_EQ(run({"dump", db, "U"}), run({"dump", other, "T"}));
  run({"compact", db});
  EXPECT_EQ(run({"repair", db}), "");
  EXPECT_EQ(run({"count", db, "U"}), "2\n");
  EXPECT_EQ(run({"exportsql", db, "U", "--data"}),
            "INSERT INTO U values (1, 'one');\r\nINSERT INTO U values (2, 'it''s');\r\n\r\n");
  EXPECT_EQ(run({"exportsql", db, "U"}).rfind("DROP TABLE U;\r\nCREATE TABLE U (\r\n", 0), 0u);

  // Onto itself: refused with the engine's message.
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(tools::RunOrvTool({"copy", db, "U", "u"}, in, out, err), 1);
  EXPECT_NE(err.str().find("30447"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace orv::testing
