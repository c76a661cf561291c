#include "dbengine/storage/orv_local_engine_blob_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "dbengine/storage/tests/expect_code.h"

namespace orv {
namespace {

TORVBLOBDescriptor Zlib() {
  TORVBLOBDescriptor d;
  d.BlockSize = 4096;
  d.CompressionAlgorithm = acaZLIB;
  d.CompressionMode = 6;
  return d;
}

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 % 7);
  return v;
}

TEST(TORVLocalBLOBStream, AStreamOpenedForReadingRefusesChanges) {
  const std::vector<uint8_t> data = Bytes(10000);
  auto written = CreateLocalBLOBStream(nullptr, bomWrite, 3, Zlib(), true, nullptr);
  EXPECT_FALSE(written->Modified());
  written->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  EXPECT_TRUE(written->Modified());
  EXPECT_EQ(written->FieldNo(), 3);
  const TORVBLOBDescriptor stored = written->TemporaryStream().BLOBDescriptor();
  const std::vector<uint8_t> blocks = [&] {
    TStream& under = *written->TemporaryStream().CompressedStream();
    under.Seek(0, soBeginning);
    return under.ReadToEnd();
  }();
  EXPECT_EQ(stored.NumBlocks, 3);

  TORVBLOBDescriptor descriptor = Zlib();
  descriptor.NumBlocks = stored.NumBlocks;
  descriptor.UncompressedSize = stored.UncompressedSize;
  auto read = CreateLocalBLOBStream(nullptr, bomRead, 3, descriptor, true, [&](TORVStream& s) {
    s.WriteBuffer(blocks.data(), static_cast<int64_t>(blocks.size()));
  });
  EXPECT_EQ(read->GetSize(), 10000);
  EXPECT_EQ(read->Seek(5000, soBeginning), 5000);
  std::vector<uint8_t> tail(5000);
  read->ReadBuffer(tail.data(), 5000);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), data.begin() + 5000));
  const uint8_t b = 1;
  ExpectCode(10115, [&] { read->Write(&b, 1); }, "Cannot write to read only stream - Native error: 10115");
  ExpectCode(10116, [&] { read->SetSize(0); });
  EXPECT_FALSE(read->Modified());
  EXPECT_EQ(read->GetSize(), 10000);

  auto resized = CreateLocalBLOBStream(nullptr, bomReadWrite, 0, Zlib(), true, nullptr);
  resized->SetSize(100);
  EXPECT_TRUE(resized->Modified());
  EXPECT_EQ(resized->GetSize(), 100);
}

// A compressed stream that still reads the stream under it while it goes: freeing the stream
// under it first would be a use after free.
class LookingBack : public TORVCompressedBLOBStream {
 public:
  using TORVCompressedBLOBStream::TORVCompressedBLOBStream;
  ~LookingBack() override { seen = CompressedStream()->GetSize(); }
  static inline int64_t seen = -1;
};

TEST(TORVLocalBLOBStream, TheCompressedStreamGoesBeforeTheStreamUnderIt) {
  auto under = std::make_unique<TORVMemoryStream>();
  auto blob = std::make_unique<LookingBack>(under.get(), Zlib(), true, false);
  blob->WriteBuffer("abc", 3);
  {
    TORVLocalBLOBStream local(std::move(blob), std::move(under), nullptr, bomReadWrite, 0);
  }
  EXPECT_GT(LookingBack::seen, 0);
}

}  // namespace
}  // namespace orv
