// Text files written whole or not at all, and read back in either encoding.
#include "platform/base/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

class TextFileTest : public ::testing::Test {
 protected:
  TextFileTest() {
    std::string templ = (fs::temp_directory_path() / "quirvel_text_XXXXXX").string();
    dir = mkdtemp(templ.data());
  }
  ~TextFileTest() override {
    fs::permissions(dir, fs::perms::owner_all);
    fs::remove_all(dir);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }
  std::string dir;
};

TEST_F(TextFileTest, LinesWrittenWithMarkAndCrLfReadBackInBothEncodings) {
  const std::string path = dir + "/t.txt";
  WriteTextFileLines(path, {"\xC2\xB5m", "", "end"});
  EXPECT_EQ(Read(path), "\xEF\xBB\xBF\xC2\xB5m\r\n\r\nend\r\n");
  EXPECT_EQ(ReadTextFileLines(path), (std::vector<std::string>{"\xC2\xB5m", "", "end"}));
  Write(path, "\xB5m\rx\ny");  // no mark: Windows-1252; CR, LF and a last line without an end
  EXPECT_EQ(ReadTextFileLines(path), (std::vector<std::string>{"\xC2\xB5m", "x", "y"}));
  EXPECT_THROW(ReadTextFileLines(path, 4), ETextFileError);
  EXPECT_THROW(ReadTextFileLines(dir + "/missing.txt"), ETextFileError);
}

TEST_F(TextFileTest, ReplaceTakesTheLinkItselfAndAFailureLeavesWhatWasThere) {
  const std::string target = dir + "/target", link = dir + "/link";
  Write(target, "kept");
  fs::create_symlink(target, link);
  ReplaceFile(link, std::string_view("new"));
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(Read(link), "new");
  EXPECT_EQ(Read(target), "kept");
  EXPECT_EQ(Entries(), 2u);  // no temporary file left

  // A name that is a folder cannot be replaced: the folder and no new file stay.
  fs::create_directory(dir + "/folder");
  EXPECT_THROW(ReplaceFile(dir + "/folder", std::string_view("x")), ETextFileError);
  EXPECT_TRUE(fs::is_directory(dir + "/folder"));
  EXPECT_EQ(Entries(), 3u);
  EXPECT_THROW(ReplaceFile(dir + "/none/x", std::string_view("x")), ETextFileError);
  if (::geteuid() != 0) {  // root writes anywhere
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(ReplaceFile(target, std::string_view("x")), ETextFileError);
    EXPECT_EQ(Read(target), "kept");
  }
}

}  // namespace
}  // namespace platform
