#include "platform/base/stream.h"

#include <gtest/gtest.h>

#include <numeric>

namespace platform {
namespace {

// A stream that hands out at most `limit` bytes per call, like a pipe or a short read.
class Trickle : public TMemoryStream {
 public:
  Trickle(std::vector<uint8_t> bytes, int32_t limit) : TMemoryStream(std::move(bytes)), limit_(limit) {}
  int32_t Read(void* b, int32_t n) override { return TMemoryStream::Read(b, std::min(n, limit_)); }

 private:
  int32_t limit_;
};

TEST(Stream, CopyFromMovesWholeStreamsAndReportsShortReads) {
  std::vector<uint8_t> data(200000);
  std::iota(data.begin(), data.end(), 0);
  TMemoryStream src(data);
  TMemoryStream dst;
  dst.WriteBuffer("ab", 2);
  EXPECT_EQ(dst.CopyFrom(src, 0), 200000);  // 0 copies all of it from the start
  ASSERT_EQ(dst.GetSize(), 200002);
  EXPECT_EQ(dst.Bytes()[2 + 70000], data[70000]);

  Trickle slow(data, 10);
  TMemoryStream out;
  EXPECT_THROW(out.CopyFrom(slow, 100), EStreamError);
}

TEST(Stream, MemoryStreamPositionsAndGaps) {
  TMemoryStream s;
  EXPECT_EQ(s.Seek(-1, soBeginning), -1);
  EXPECT_EQ(s.GetPosition(), 0);
  s.Seek(4, soBeginning);
  s.WriteBuffer("x", 1);
  EXPECT_EQ(s.Bytes(), (std::vector<uint8_t>{0, 0, 0, 0, 'x'}));
  s.SetPosition(3);
  EXPECT_EQ(s.ReadToEnd(), (std::vector<uint8_t>{0, 'x'}));
  s.SetSize(2);
  EXPECT_EQ(s.GetPosition(), 2);
  uint8_t b[4];
  EXPECT_THROW(s.ReadBuffer(b, 1), EStreamError);
}

}  // namespace
}  // namespace platform
