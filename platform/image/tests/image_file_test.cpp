#include "platform/image/image_file.h"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "platform/image/image_error.h"
#include "platform/image/tests/test_support.h"

namespace platform {
namespace {

using Kind = EImageError::Kind;
using testing::TempDir;
using testing::ThrowsImageError;

TEST(ImageFile, WrittenBytesReadBack) {
  TempDir dir;
  const std::vector<uint8_t> data{0, 1, 2, 255, 13, 10, 26};
  WriteImageFile(dir.File("a.bin"), data);
  EXPECT_EQ(ReadImageFile(dir.File("a.bin")), data);
  WriteImageFile(dir.File("a.bin"), std::vector<uint8_t>{7});  // replaces, never appends
  EXPECT_EQ(ReadImageFile(dir.File("a.bin")), std::vector<uint8_t>{7});
  WriteImageFile(dir.File("empty.bin"), {});
  EXPECT_TRUE(ReadImageFile(dir.File("empty.bin")).empty());
}

TEST(ImageFile, ReadErrorsSayWhatAndWhich) {
  TempDir dir;
  EXPECT_TRUE(ThrowsImageError([&] { ReadImageFile(dir.File("missing.png")); }, Kind::NotFound));
  EXPECT_TRUE(ThrowsImageError([&] { ReadImageFile(dir.File("no/such/folder.png")); }, Kind::NotFound));
  EXPECT_TRUE(ThrowsImageError([&] { ReadImageFile(""); }, Kind::NotFound));
  EXPECT_TRUE(ThrowsImageError([&] { ReadImageFile(dir.path().string()); }, Kind::ReadFailed));
  try {
    ReadImageFile(dir.File("missing.png"));
  } catch (const EImageError& e) {
    EXPECT_EQ(e.fileName(), dir.File("missing.png"));
    EXPECT_NE(std::string(e.what()).find("missing.png"), std::string::npos) << e.what();
  }
}

TEST(ImageFile, AFileThatCannotBeCreatedLeavesNothing) {
  TempDir dir;
  EXPECT_TRUE(ThrowsImageError([&] { WriteImageFile(dir.File("no/folder/x.png"), std::vector<uint8_t>{1}); },
                               Kind::WriteFailed));
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
  // A folder of that name stays a folder.
  std::filesystem::create_directory(dir.File("sub"));
  EXPECT_TRUE(ThrowsImageError([&] { WriteImageFile(dir.File("sub"), std::vector<uint8_t>{1}); }, Kind::WriteFailed));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("sub")));
}

// A file size limit makes the kernel refuse the write half-way (EFBIG), as a full disk
// would. The partial file must not stay behind looking like a finished image. Runs in a
// child process (the limit would hold for the whole test run); exits 0 when all is well.
[[noreturn]] void WriteBeyondTheSizeLimit(const std::string& path) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = 4096;
  setrlimit(RLIMIT_FSIZE, &limit);
  int code = 1;
  try {
    WriteImageFile(path, std::vector<uint8_t>(1 << 20, 0x55));
  } catch (const EImageError& e) {
    code = e.kind() == Kind::WriteFailed && !std::filesystem::exists(path) ? 0 : 2;
  }
  _exit(code);
}

TEST(ImageFileDeathTest, AHalfWrittenFileIsRemoved) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  EXPECT_EXIT(WriteBeyondTheSizeLimit(dir.File("partial.png")), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform
