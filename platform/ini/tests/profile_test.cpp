#include "platform/ini/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace platform {
namespace {

namespace fs = std::filesystem;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "quirvel_ini_XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Put(const std::string& bytes, const std::string& name = "test.ini") {
    std::string p = (dir_ / name).string();
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  static std::string Slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t FilesInDir() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

  fs::path dir_;
};

TEST_F(ProfileTest, ReadsStringsFromATableOfFiles) {
  struct Case {
    const char* file;  // nullptr: no file at all
    const char* section;
    const char* key;
    const char* def;
    int buffer;
    const char* expected;
  };
  const std::string longValue(30, 'x');
  const std::string longFile = "[A]\r\nk=" + longValue + "\r\n";
  const Case cases[] = {
      {nullptr, "A", "k", "dflt", 25, "dflt"},                                   // missing file
      {"[A]\r\nk=v\r\n", "B", "k", "dflt", 25, "dflt"},                         // missing section
      {"[A]\r\nk=v\r\n", "A", "other", "dflt", 25, "dflt"},                     // missing key
      {"[quirvelcal]\r\nPixelPerInch = 43210.5 \r\n", "QUIRVELCAL", "PIXELPERINCH", "", 25, "43210.5"},
      {"  [ A ]  \r\n\t k \t=\t v w \t\r\n", "a", "K", "", 25, "v w"},         // blanks around everything
      {"[A]\r\nk = \"  spaced  \" \r\n", "A", "k", "", 25, "  spaced  "},       // one pair of quotes
      {"[A]\r\nk='x'\r\n", "A", "k", "", 25, "x"},
      {"[A]\r\nk=\"\"x\"\"\r\n", "A", "k", "", 25, "\"x\""},                   // only one pair
      {"[A]\r\nk=\"x\r\n", "A", "k", "", 25, "\"x"},                             // unmatched quote stays
      {"[A]\r\nk='x\"\r\n", "A", "k", "", 25, "'x\""},
      {"[A]\r\nk=\r\n", "A", "k", "dflt", 25, ""},                               // blank value is a value
      {"[A]\r\nk\r\n", "A", "k", "dflt", 25, ""},                                // key without '='
      {"[A]\r\n=v\r\n", "A", "", "dflt", 25, "v"},                               // blank key
      {"[A]\r\n;k=v\r\n", "A", ";k", "dflt", 25, "dflt"},                        // comment
      {"k=v\r\n[A]\r\n", "", "k", "dflt", 25, "dflt"},                           // before any section
      {"[A]\r\nx=1\r\n[a]\r\nx=2\r\ny=3\r\n", "A", "x", "", 25, "1"},           // first section wins
      {"[A]\r\nx=1\r\n[a]\r\nx=2\r\ny=3\r\n", "A", "y", "dflt", 25, "dflt"},    // ...and only it counts
      {"[A]\r\nx=1\r\nX=2\r\n", "A", "x", "", 25, "1"},                          // first key wins
      {"[A]\nk=lf\n[B]\nk=b\n", "B", "k", "", 25, "b"},                          // LF-only file
      {"[A]\rk=v\r", "A", "k", "dflt", 25, "dflt"},                              // bare CR is no line break
      {"[A]\r\nk=last", "A", "k", "", 25, "last"},                               // no final line break
      {"\xEF\xBB\xBF[A]\r\nk=bom\r\n", "A", "k", "", 25, "bom"},                 // UTF-8 byte-order mark
      {"[MESS]\r\nUnit=\xB5m\xB2\r\n", "mess", "unit", "", 25, "\xB5m\xB2"},     // CP1252 bytes unchanged
      {"[\xC4NDERUNG]\r\nk=1\r\n", "\xE4nderung", "K", "", 25, "1"},            // Ä and ä match
      {"[A]\r\nk=[x]\r\n", "A", "k", "", 25, "[x]"},
      {"[A]\r\nk=abcdef\r\n", "A", "k", "", 4, "abc"},                           // buffer of 4: 3 characters
      {"[A]\r\nk=abcdef\r\n", "A", "k", "", 1, ""},
      {"[A]\r\nk=abcdef\r\n", "A", "k", "", 0, ""},
      {"[A]\r\nk=abcdef\r\n", "A", "k", "", -5, ""},
      {nullptr, "A", "k", "default", 4, "def"},                                  // the default is cut too
      {nullptr, "A", "k", "43000   ", 25, "43000"},                              // its trailing blanks go
  };
  for (const Case& c : cases) {
    std::string path = (dir_ / "none.ini").string();
    if (c.file) path = Put(c.file);
    std::string error;
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, c.def, c.buffer, path, &error), c.expected)
        << (c.file ? c.file : "(missing)") << " [" << c.section << "] " << c.key;
    EXPECT_EQ(error, "") << (c.file ? c.file : "(missing)");
  }
  std::string path = Put(longFile);
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", 25, path), longValue.substr(0, 24));
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", 256, path), longValue);
}

TEST_F(ProfileTest, ReadsIntegersFromLeadingDigits) {
  struct Case { const char* value; int32_t expected; };
  const Case cases[] = {
      {"42", 42},   {"-42", -42}, {"+7", 7},     {"  12abc", 12}, {"abc", 0},       {"- 5", 0},
      {"0x10", 0},  {"3.9", 3},   {"\"15\"", 15}, {"-0", 0},       {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN}, {"2147483647", INT32_MAX},        {"-2147483648", INT32_MIN},
  };
  for (const Case& c : cases) {
    std::string path = Put(std::string("[A]\r\nk=") + c.value + "\r\n");
    EXPECT_EQ(GetPrivateProfileInt("A", "k", 77, path), c.expected) << c.value;
  }
  EXPECT_EQ(GetPrivateProfileInt("A", "k", 77, Put("[A]\r\nk=\r\n")), 77);   // empty value: default
  EXPECT_EQ(GetPrivateProfileInt("A", "k", -3, Put("[A]\r\n")), -3);         // missing key
  EXPECT_EQ(GetPrivateProfileInt("A", "k", 5, (dir_ / "missing.ini").string()), 5);
}

TEST_F(ProfileTest, UnreadableFileGivesDefaultsAnErrorAndIsNeverOverwritten) {
  // Tests may run as root, who reads any file; a folder where the file should be cannot be read.
  std::string path = (dir_ / "folder.ini").string();
  fs::create_directory(path);
  std::string error;
  EXPECT_EQ(GetPrivateProfileString("A", "k", "dflt", 25, path, &error), "dflt");
  EXPECT_NE(error.find("folder.ini"), std::string::npos) << error;
  error.clear();
  EXPECT_EQ(GetPrivateProfileInt("A", "k", 9, path, &error), 9);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(GetPrivateProfileSectionNames(path).empty());
  error.clear();
  EXPECT_FALSE(WritePrivateProfileString("A", "k", "v", path, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(DeletePrivateProfileKey("A", "k", path));
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(FilesInDir(), 1u);  // no temporary file left behind
}

TEST_F(ProfileTest, WritesInPlaceAndKeepsEveryOtherByte) {
  struct Case {
    const char* before;  // nullptr: no file
    const char* section;
    const char* key;
    const char* value;
    const char* after;
  };
  const Case cases[] = {
      {nullptr, "QUIRVEL", "TCPIP", "1", "[QUIRVEL]\r\nTCPIP=1\r\n"},
      {"", "A", "k", "v", "[A]\r\nk=v\r\n"},
      {"; note\r\n[S]\r\n  Key = old \r\nz=1\r\n", "s", "KEY", "new", "; note\r\n[S]\r\nKey=new\r\nz=1\r\n"},
      {"[A]\r\nx=1\r\n\r\n; B follows\r\n[B]\r\ny=2\r\n", "a", "z", "3",
       "[A]\r\nx=1\r\nz=3\r\n\r\n; B follows\r\n[B]\r\ny=2\r\n"},
      {"[A]\r\n[B]\r\n", "A", "z", "3", "[A]\r\nz=3\r\n[B]\r\n"},
      {"[A]\r\nx=1", "A", "z", "3", "[A]\r\nx=1\r\nz=3"},
      {"[A]\r\nx=1", "B", "y", "2", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
      {"[A]\nx=1\n", "A", "y", "2", "[A]\nx=1\ny=2\n"},                       // a LF file stays LF
      {"[A]\nx=1\n", "C", "y", "2", "[A]\nx=1\n[C]\ny=2\n"},
      {"[A]\r\nx=1\r\n[a]\r\nx=2\r\n", "A", "x", "9", "[A]\r\nx=9\r\n[a]\r\nx=2\r\n"},
      {"[A]\r\nx=1\r\nX=2\r\n", "A", "x", "9", "[A]\r\nx=9\r\nX=2\r\n"},
      {"[A]\r\nk=\xB5m\r\n", "A", "k", "\xB0 \xB2", "[A]\r\nk=\xB0 \xB2\r\n"},
      {"\xEF\xBB\xBF[A]\r\nk=1\r\n", "A", "k", "2", "\xEF\xBB\xBF[A]\r\nk=2\r\n"},
      {"[A]\r\nk\r\n", "A", "k", "v", "[A]\r\nk=v\r\n"},
      {"[A]\r\nk=v\r\n", "A", "k", "", "[A]\r\nk=\r\n"},
  };
  for (const Case& c : cases) {
    std::string path = (dir_ / "w.ini").string();
    fs::remove(path);
    if (c.before) Put(c.before, "w.ini");
    std::string error;
    EXPECT_TRUE(WritePrivateProfileString(c.section, c.key, c.value, path, &error)) << error;
    EXPECT_EQ(Slurp(path), c.after) << (c.before ? c.before : "(missing)");
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "dflt", 256, path), c.value);
    EXPECT_EQ(FilesInDir(), 1u);
  }
}

TEST_F(ProfileTest, RefusesWritesThatWouldBreakTheFile) {
  const std::string before = "[A]\r\nk=1\r\n";
  std::string path = Put(before);
  struct Case { const char* section; const char* key; const char* value; };
  const Case cases[] = {{"A", "k", "1\r\n[B]"}, {"A", "k\n", "1"}, {"A", "k=x", "1"},
                        {"A]", "k", "1"},      {"", "k", "1"},    {"A", ";k", "1"}};
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(WritePrivateProfileString(c.section, c.key, c.value, path, &error)) << c.key;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Slurp(path), before);
  }
  std::string error;
  EXPECT_FALSE(WritePrivateProfileString("A", "k", "v", (dir_ / "no" / "such.ini").string(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(dir_ / "no"));
  EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(ProfileTest, WriteKeepsThePermissionsAndWritesThroughALink) {
  std::string path = Put("[A]\r\nk=1\r\n");
  ::chmod(path.c_str(), 0600);
  std::string link = (dir_ / "link.ini").string();
  fs::create_symlink(path, link);
  ASSERT_TRUE(WritePrivateProfileString("A", "k", "2", link));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Slurp(path), "[A]\r\nk=2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(ProfileTest, ListsAndDeletes) {
  std::string path = Put(
      "[Main]\r\nA=1\r\nb=2\r\n;c=3\r\nB=dup\r\n=blank\r\n[Other]\r\nx=1\r\n[MAIN]\r\nlate=1\r\n[Tail]\r\nt=1");
  EXPECT_EQ(GetPrivateProfileSectionNames(path), (std::vector<std::string>{"Main", "Other", "Tail"}));
  EXPECT_EQ(GetPrivateProfileKeys("main", path), (std::vector<std::string>{"A", "b"}));
  EXPECT_TRUE(GetPrivateProfileKeys("none", path).empty());
  EXPECT_TRUE(GetPrivateProfileSectionNames((dir_ / "missing.ini").string()).empty());

  ASSERT_TRUE(DeletePrivateProfileKey("MAIN", "B", path));  // every line of the key goes
  EXPECT_EQ(Slurp(path),
            "[Main]\r\nA=1\r\n;c=3\r\n=blank\r\n[Other]\r\nx=1\r\n[MAIN]\r\nlate=1\r\n[Tail]\r\nt=1");
  ASSERT_TRUE(DeletePrivateProfileKey("Main", "absent", path));
  ASSERT_TRUE(DeletePrivateProfileKey("absent", "A", path));
  ASSERT_TRUE(DeletePrivateProfileKey("A", "k", (dir_ / "missing.ini").string()));
  EXPECT_FALSE(fs::exists(dir_ / "missing.ini"));

  ASSERT_TRUE(DeletePrivateProfileSection("other", path));
  EXPECT_EQ(Slurp(path), "[Main]\r\nA=1\r\n;c=3\r\n=blank\r\n[MAIN]\r\nlate=1\r\n[Tail]\r\nt=1");
  ASSERT_TRUE(DeletePrivateProfileSection("tail", path));
  EXPECT_EQ(Slurp(path), "[Main]\r\nA=1\r\n;c=3\r\n=blank\r\n[MAIN]\r\nlate=1\r\n");
  ASSERT_TRUE(DeletePrivateProfileSection("main", path));  // the duplicate now answers
  EXPECT_EQ(GetPrivateProfileString("Main", "late", "", 25, path), "1");
}

}  // namespace
}  // namespace platform
