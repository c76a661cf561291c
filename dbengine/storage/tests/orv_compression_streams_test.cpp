#include "dbengine/storage/orv_compression_streams.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t n, uint32_t seed = 1) {
  Bytes b(n);
  uint32_t x = seed;
  for (auto& v : b) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<uint8_t>(x >> 24);
  }
  return b;
}

Bytes Contents(TStream& s) {
  const int64_t pos = s.GetPosition();
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.Seek(0, soBeginning);
  if (!b.empty()) {
    EXPECT_EQ(s.Read(b.data(), static_cast<int32_t>(b.size())), static_cast<int32_t>(b.size()));
  }
  s.Seek(pos, soBeginning);
  return b;
}

int32_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EORVException& e) {
    return e.NativeError();
  }
  return 0;
}

// A memory stream that moves at most `budget` more bytes in each direction, then comes up short.
class ShortStream : public TORVMemoryStream {
 public:
  int64_t read_budget = INT64_MAX, write_budget = INT64_MAX;
  int32_t Read(void* b, int32_t n) override {
    const auto k = static_cast<int32_t>(std::min<int64_t>(n, read_budget));
    read_budget -= k;
    return TORVMemoryStream::Read(b, k);
  }
  int32_t Write(const void* b, int32_t n) override {
    const auto k = static_cast<int32_t>(std::min<int64_t>(n, write_budget));
    write_budget -= k;
    return TORVMemoryStream::Write(b, k);
  }
};

// Every temporary file of the tests goes into a folder of its own, which must be empty again
// when the streams are gone.
class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orv_stream_testXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    const char* old = std::getenv("TMPDIR");
    if (old) old_tmpdir_ = old, had_tmpdir_ = true;
    ::setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (had_tmpdir_) ::setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    else ::unsetenv("TMPDIR");
    std::filesystem::remove_all(dir_);
  }
  size_t FilesInFolder() const {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      (void)e;
      ++n;
    }
    return n;
  }
  std::string dir_;
  std::string old_tmpdir_;
  bool had_tmpdir_ = false;
};

TEST(TORVMemoryStream, GrowsToTwiceTheRequest) {
  TORVMemoryStream s;
  std::vector<std::pair<int32_t, int32_t>> reallocations;  // (size, capacity) when it changed
  int32_t capacity = 0;
  for (int i = 0; i < 50; ++i) {
    const uint8_t b = static_cast<uint8_t>(i);
    ASSERT_EQ(s.Write(&b, 1), 1);
    if (s.AllocatedBufferSize() != capacity) {
      capacity = s.AllocatedBufferSize();
      reallocations.emplace_back(static_cast<int32_t>(s.GetSize()), capacity);
    }
  }
  const std::vector<std::pair<int32_t, int32_t>> expected = {{1, 1}, {2, 4}, {5, 10}, {11, 22}, {23, 46}, {47, 94}};
  EXPECT_EQ(reallocations, expected);
  Bytes all(50);
  std::iota(all.begin(), all.end(), uint8_t{0});
  EXPECT_EQ(Contents(s), all);
  s.SetSize(10);  // shrinking keeps the block
  EXPECT_EQ(s.AllocatedBufferSize(), 94);
  EXPECT_EQ(s.GetPosition(), 10);
  s.SetSize(0);
  EXPECT_EQ(s.AllocatedBufferSize(), 0);
  EXPECT_EQ(s.Memory(), nullptr);
}

TEST(TORVMemoryStream, ReadWriteSeekAndGaps) {
  TORVMemoryStream s(nullptr, 64);
  EXPECT_EQ(s.AllocatedBufferSize(), 64);
  EXPECT_EQ(s.GetSize(), 0);
  const Bytes data = Pattern(20);
  EXPECT_EQ(s.Write(data.data(), 20), 20);
  uint8_t out[40];
  EXPECT_EQ(s.Read(out, 10), 0);  // at the end
  EXPECT_EQ(s.Seek(-5, soEnd), 15);
  EXPECT_EQ(s.Read(out, 40), 5);
  EXPECT_EQ(std::memcmp(out, data.data() + 15, 5), 0);
  // Seeking past the end is legal; a write there fills the gap with zeros.
  EXPECT_EQ(s.Seek(30, soBeginning), 30);
  EXPECT_EQ(s.Read(out, 1), 0);
  EXPECT_EQ(s.Write(data.data(), 2), 2);
  Bytes expected = data;
  expected.resize(30, 0);
  expected.push_back(data[0]);
  expected.push_back(data[1]);
  EXPECT_EQ(Contents(s), expected);
  // A negative position neither reads nor writes.
  s.Seek(-3, soBeginning);
  EXPECT_EQ(s.Read(out, 4), 0);
  EXPECT_EQ(s.Write(out, 4), 0);
  EXPECT_EQ(s.Seek32(0, 7), -3);  // an unknown origin only reports the position
  EXPECT_EQ(Contents(s), expected);
}

TEST(TORVMemoryStream, AdoptsAManagerBlock) {
  const int64_t before = MemoryManager().TotalMemAllocated();
  auto* block = static_cast<uint8_t*>(MemoryManager().GetMem(6));
  std::memcpy(block, "QUIRVL", 6);
  {
    TORVMemoryStream s(block);
    EXPECT_EQ(s.GetSize(), 6);
    char out[6];
    EXPECT_EQ(s.Read(out, 6), 6);
    EXPECT_EQ(std::memcmp(out, "QUIRVL", 6), 0);
  }
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), before);
}

TEST(TORVStream, WholeStreamCopiesRestorePositionsAndReportProgress) {
  TORVMemoryStream source, target;
  const Bytes data = Pattern(250000);
  source.Write(data.data(), static_cast<int32_t>(data.size()));
  source.Seek(17, soBeginning);
  target.Write("head", 4);
  std::vector<double> progress;
  source.OnProgress = [&](TORVStream*, double p) { progress.push_back(p); };
  source.SaveToStream(target);
  EXPECT_EQ(source.GetPosition(), 17);
  EXPECT_EQ(target.GetPosition(), 4);
  Bytes expected = {'h', 'e', 'a', 'd'};
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(Contents(target), expected);
  // Three chunks of 102400 bytes at most, then 100.
  ASSERT_EQ(progress.size(), 5u);
  EXPECT_DOUBLE_EQ(progress.front(), 0);
  EXPECT_DOUBLE_EQ(progress[1], 102400.0 / 250000 * 100);
  EXPECT_DOUBLE_EQ(progress.back(), 100);

  TORVMemoryStream part;
  part.Write("old", 3);
  part.LoadFromStreamWithPosition(target, 4 + 1000, 5000);
  EXPECT_EQ(Contents(part), Bytes(data.begin() + 1000, data.begin() + 6000));
  EXPECT_EQ(target.GetPosition(), 4);

  // Empty copies report 0 and 100 and leave the target empty.
  TORVMemoryStream empty, sink;
  progress.clear();
  empty.OnProgress = [&](TORVStream*, double p) { progress.push_back(p); };
  empty.SaveToStream(sink);
  EXPECT_EQ(sink.GetSize(), 0);
  empty.LoadFromStreamWithPosition(target, 0, 0);
  EXPECT_EQ(empty.GetSize(), 0);
  EXPECT_EQ(progress, (std::vector<double>{0, 100, 0, 100}));
}

TEST(TORVStream, CopyErrorsCarryTheirCodes) {
  TORVMemoryStream data;
  const Bytes bytes = Pattern(1000);
  data.Write(bytes.data(), 1000);

  data.SetBlockSize(0);
  TORVMemoryStream sink;
  EXPECT_EQ(CodeOf([&] { data.SaveToStream(sink); }), 10418);
  EXPECT_EQ(CodeOf([&] { data.LoadFromStream(sink); }), 10419);
  data.SetBlockSize(300);

  ShortStream short_target;
  short_target.write_budget = 500;
  try {
    data.SaveToStream(short_target);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 10147);
    EXPECT_STREQ(e.what(),
                 "Cannot write to stream. Position = 300, Stream size = 500, Block size = 300, Bytes Write = 200"
                 " - Native error: 10147");
  }
  ShortStream short_source;
  short_source.Write(bytes.data(), 1000);
  short_source.read_budget = 400;
  short_source.SetBlockSize(300);
  EXPECT_EQ(CodeOf([&] { short_source.SaveToStream(sink); }), 10146);
  short_source.read_budget = 100;
  TORVMemoryStream loader;
  EXPECT_EQ(CodeOf([&] { loader.LoadFromStream(short_source); }), 10148);
  ShortStream short_loader;
  short_loader.write_budget = 10;
  EXPECT_EQ(CodeOf([&] { short_loader.LoadFromStream(data); }), 10149);
}

TEST(StreamHelpers, CheckedReadWriteAndPosition) {
  TORVMemoryStream s;
  const Bytes data = Pattern(10);
  SaveDataToStream(data.data(), 10, s, 12345);
  s.Seek(0, soBeginning);
  Bytes back(10);
  LoadDataFromStream(back.data(), 10, s, 12346);
  EXPECT_EQ(back, data);
  try {
    LoadDataFromStream(back.data(), 4, s, 20123);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 20123);
    EXPECT_STREQ(e.what(),
                 "Cannot read from stream. Position = 10, Stream size = 10, Block size = 4, Bytes Read = 0"
                 " - Native error: 20123");
  }
  ShortStream full;
  full.write_budget = 3;
  EXPECT_EQ(CodeOf([&] { SaveDataToStream(data.data(), 10, full, 30999); }), 30999);
  // Past the end is a legal position of a memory stream.
  EXPECT_NO_THROW(SetStreamPosition(s, 500, 10103));
  EXPECT_EQ(s.GetPosition(), 500);
}

TEST_F(TempFolder, FileStreamCreatesOpensAndResizes) {
  const std::string name = dir_ + "/data.bin";
  const Bytes data = Pattern(5000);
  {
    TORVFileStream f(name, fmCreate, false);
    EXPECT_EQ(f.BlockSize(), DefaultFileBlockSize);
    EXPECT_EQ(f.Write(data.data(), 5000), 5000);
    EXPECT_EQ(f.GetSize(), 5000);
    f.SetSize(3000);  // cut below the position: the position follows
    EXPECT_EQ(f.GetPosition(), 3000);
    f.Seek(100, soBeginning);
    f.SetSize(4000);  // grow: the position stays
    EXPECT_EQ(f.GetPosition(), 100);
    EXPECT_EQ(f.Seek(-1, soBeginning), -1);
    EXPECT_EQ(f.GetPosition(), 100);
  }
  {
    TORVFileStream f(name, fmOpenRead | fmShareDenyWrite, false);
    Bytes back = Contents(f);
    ASSERT_EQ(back.size(), 4000u);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 3000, back.begin()));
    EXPECT_EQ(back[3500], 0);
    EXPECT_EQ(f.Write(data.data(), 10), 0);  // opened for reading only
  }
  try {
    TORVFileStream f(dir_ + "/missing.bin", fmOpenRead, false);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 10105);
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file. FileName = " + dir_ + "/missing.bin, Mode = 0 - Native error: 10105");
  }
  EXPECT_EQ(CodeOf([&] { TORVFileStream f(dir_, fmOpenRead, false); }), 10105);  // a folder is no file
  EXPECT_EQ(CodeOf([&] { TORVFileStream f(dir_ + "/no/such/folder.bin", fmCreate, false); }), 10104);

  // Whole-file helpers of the base.
  TORVMemoryStream m;
  m.LoadFromFile(name);
  EXPECT_EQ(m.GetSize(), 4000);
  m.SaveToFile(dir_ + "/copy.bin");
  TORVMemoryStream again;
  again.LoadFromFile(dir_ + "/copy.bin");
  EXPECT_EQ(Contents(again), Contents(m));
}

TEST_F(TempFolder, TemporaryFilesVanishAtOnce) {
  const std::string name = GetTempFileName();
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.rfind(dir_ + "/ORV", 0), 0u) << name;
  EXPECT_EQ(FilesInFolder(), 1u);  // the unique name is reserved by an empty file
  {
    TORVFileStream f(name, fmCreate, true);
    EXPECT_EQ(FilesInFolder(), 0u);  // unlinked as soon as it is open
    const Bytes data = Pattern(1000);
    EXPECT_EQ(f.Write(data.data(), 1000), 1000);
    EXPECT_EQ(Contents(f), data);
  }
  EXPECT_EQ(FilesInFolder(), 0u);
}

TEST_F(TempFolder, TemporaryStreamMovesToAFileBeyondTheLimit) {
  const Bytes data = Pattern(1048576 + 1);
  {
    TORVTemporaryStream s;
    EXPECT_EQ(s.BlockSize(), DefaultTemporaryBlockSize);
    EXPECT_EQ(s.Write(data.data(), 1048576), 1048576);
    EXPECT_TRUE(s.InMemory());  // exactly the limit stays in memory
    s.Seek(-100, soCurrent);    // the file takes over the memory stream's position
    EXPECT_EQ(s.Write(data.data() + 1048576, 1), 1);
    EXPECT_FALSE(s.InMemory());
    EXPECT_EQ(s.FileName().rfind(dir_ + "/ORV", 0), 0u);
    EXPECT_EQ(FilesInFolder(), 0u);
    Bytes expected(data.begin(), data.begin() + 1048576);
    expected[1048576 - 100] = data[1048576];
    EXPECT_EQ(Contents(s), expected);
    EXPECT_EQ(s.GetPosition(), 1048576 - 99);
    s.SetSize(10);
    EXPECT_EQ(s.GetSize(), 10);
  }
  {
    TORVTemporaryStream s(true);  // temp files disabled: stays in memory
    EXPECT_EQ(s.Write(data.data(), static_cast<int32_t>(data.size())), static_cast<int32_t>(data.size()));
    EXPECT_TRUE(s.InMemory());
    EXPECT_EQ(Contents(s), data);
  }
  EXPECT_EQ(FilesInFolder(), 0u);
}

TEST_F(TempFolder, FailedMoveToAFileKeepsTheDataInMemory) {
  TORVTemporaryStream s;
  s.SetMemoryLimit(100);
  const Bytes data = Pattern(100);
  s.Write(data.data(), 100);
  ::setenv("TMPDIR", (dir_ + "/missing").c_str(), 1);
  const uint8_t more = 1;
  EXPECT_EQ(CodeOf([&] { s.Write(&more, 1); }), 10104);
  EXPECT_TRUE(s.InMemory());
  EXPECT_EQ(Contents(s), data);
}

}  // namespace
}  // namespace orv
