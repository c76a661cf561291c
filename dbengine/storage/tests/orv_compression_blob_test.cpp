#include "dbengine/storage/orv_compression_blob.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dbengine/storage/orv_except.h"

namespace orv {
namespace {

// Hostile inputs must end at once; this bound only tells "at once" from the endless or
// seconds-long runs they caused, it is not a speed goal.
constexpr auto kHangGuard = std::chrono::seconds(5);

using Bytes = std::vector<uint8_t>;

// Compressible but not trivial: measurement-like text lines.
Bytes Sample(size_t n, uint32_t seed = 3) {
  std::mt19937 rng(seed);
  Bytes b;
  b.reserve(n);
  while (b.size() < n) {
    const std::string line = "dot " + std::to_string(rng() % 1000) + " area " + std::to_string(rng() % 100) + "\n";
    b.insert(b.end(), line.begin(), line.end());
  }
  b.resize(n);
  return b;
}

TORVBLOBDescriptor Descriptor(TORVCompressionAlgorithm algorithm, uint8_t mode, int64_t start, int32_t block_size = 0) {
  TORVBLOBDescriptor d;
  d.BlockSize = block_size;
  d.StartPosition = start;
  d.CompressionAlgorithm = algorithm;
  d.CompressionMode = mode;
  return d;
}

Bytes ReadAll(TORVCompressedBLOBStream& s) {
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.Seek(0, soBeginning);
  if (!b.empty()) {
    EXPECT_EQ(s.Read(b.data(), static_cast<int32_t>(b.size())), static_cast<int32_t>(b.size()));
  }
  return b;
}

Bytes StreamBytes(TStream& s) {
  Bytes b(static_cast<size_t>(s.GetSize()));
  s.Seek(0, soBeginning);
  if (!b.empty()) s.Read(b.data(), static_cast<int32_t>(b.size()));
  return b;
}

void ReplaceStream(TORVMemoryStream& s, const Bytes& b) {
  s.SetSize(0);
  s.Seek(0, soBeginning);
  s.Write(b.data(), static_cast<int32_t>(b.size()));
}

int32_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EORVException& e) {
    return e.NativeError();
  }
  return 0;
}

// A 250,000-byte BLOB at zlib mode 0 behind a 7-byte prefix.
struct ThreeBlocks {
  static constexpr int64_t kStart = 7;
  TORVMemoryStream under;
  Bytes data = Sample(250000);
  TORVBLOBDescriptor desc;

  ThreeBlocks() {
    under.Write("PREFIX!", 7);
    TORVCompressedBLOBStream blob(&under, Descriptor(acaZLIB, 0, kStart), true, false);
    EXPECT_EQ(blob.Write(data.data(), static_cast<int32_t>(data.size())), 250000);
    desc = blob.BLOBDescriptor();
  }
};

TEST(TORVCompressedBLOBStream, ChainIsReadByAnIndependentParser) {
  ThreeBlocks f;
  EXPECT_EQ(f.desc.BlockSize, 102400);
  EXPECT_EQ(f.desc.NumBlocks, 3);
  EXPECT_EQ(f.desc.UncompressedSize, 250000);

  TORVCompressedBLOBStream blob(&f.under, f.desc, false, false);
  ASSERT_EQ(blob.Headers().ItemCount(), 3);
  EXPECT_EQ(blob.Headers().Items[0].UncompressedSize, 102400);
  EXPECT_EQ(blob.Headers().Items[1].UncompressedSize, 102400);
  EXPECT_EQ(blob.Headers().Items[2].UncompressedSize, 45200);
  EXPECT_EQ(blob.Headers().Positions[0], 7);
  EXPECT_EQ(ReadAll(blob), f.data);
  EXPECT_EQ(blob.GetCompressedSize(), f.under.GetSize());

  const auto dir = std::filesystem::temp_directory_path() / ("orv_blob_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto chain = dir / "chain.bin", expected = dir / "expected.bin";
  const Bytes raw = StreamBytes(f.under);
  std::ofstream(chain, std::ios::binary).write(reinterpret_cast<const char*>(raw.data()), static_cast<long>(raw.size()));
  std::ofstream(expected, std::ios::binary)
      .write(reinterpret_cast<const char*>(f.data.data()), static_cast<long>(f.data.size()));
  const std::string command = "python3 " + std::string(QUIRVEL_TEST_DATA) + "/parse_blob_chain.py " + chain.string() +
                              " 7 3 " + expected.string() + " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, p) != nullptr;
  const int status = ::pclose(p);
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(got);
  EXPECT_STREQ(line, "blocks=102400,102400,45200\n");
  EXPECT_EQ(status, 0);
}

TEST(TORVCompressedBLOBStream, ReadsAnyRangeAcrossBlocks) {
  ThreeBlocks f;
  TORVCompressedBLOBStream blob(&f.under, f.desc, false, false);
  struct Case {
    int64_t position;
    int32_t count, expected;
  };
  for (Case c : {Case{102399, 1, 1}, Case{102400, 1, 1}, Case{102000, 1000, 1000}, Case{0, 250000, 250000},
                 Case{249990, 100, 10}, Case{250000, 5, 0}, Case{300000, 5, 0}, Case{100, 0, 0}}) {
    Bytes out(static_cast<size_t>(c.count) + 1, 0xEE);
    blob.Seek(c.position, soBeginning);
    ASSERT_EQ(blob.Read(out.data(), c.count), c.expected) << c.position;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + c.expected, f.data.begin() + std::min<int64_t>(c.position, 250000)));
    EXPECT_EQ(out[static_cast<size_t>(c.expected)], 0xEE);
  }
  EXPECT_EQ(blob.Seek(-5, soBeginning), 0);
  EXPECT_EQ(blob.Seek(-10, soEnd), 249990);
  EXPECT_EQ(blob.Seek32(3, 9), 249990);
}

TEST(TORVCompressedBLOBStream, AppendsRewriteOnlyThePartialLastBlock) {
  ThreeBlocks f;
  TORVCompressedBLOBStream blob(&f.under, f.desc, false, false);
  const auto first_positions = blob.Headers().Positions;
  const Bytes more = Sample(10, 9);
  blob.Seek(0, soEnd);
  EXPECT_EQ(blob.Write(more.data(), 10), 10);
  ASSERT_EQ(blob.Headers().ItemCount(), 3);
  EXPECT_EQ(blob.Headers().Items[2].UncompressedSize, 45210);
  EXPECT_EQ(blob.Headers().Positions, first_positions);
  EXPECT_EQ(blob.BLOBDescriptor().UncompressedSize, 250010);
  Bytes expected = f.data;
  expected.insert(expected.end(), more.begin(), more.end());
  TORVCompressedBLOBStream reopened(&f.under, blob.BLOBDescriptor(), false, false);
  EXPECT_EQ(ReadAll(reopened), expected);

  // A write that starts inside the BLOB writes nothing.
  reopened.Seek(10, soBeginning);
  EXPECT_EQ(reopened.Write(more.data(), 10), 0);
  EXPECT_EQ(reopened.GetSize(), 250010);
  // A write past the end fills the gap with zeros.
  reopened.Seek(250100, soBeginning);
  EXPECT_EQ(reopened.Write(more.data(), 10), 10);
  expected.resize(250100, 0);
  expected.insert(expected.end(), more.begin(), more.end());
  EXPECT_EQ(ReadAll(reopened), expected);
}

TEST(TORVCompressedBLOBStream, TruncationKeepsWholeBlocksAndRecompressesAPartialOne) {
  {
    ThreeBlocks f;
    const int64_t under_size = f.under.GetSize();
    TORVCompressedBLOBStream blob(&f.under, f.desc, false, false);
    blob.SetSize(204800);
    EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 2);
    EXPECT_EQ(f.under.GetSize(), under_size);  // the underlying stream keeps its length
    TORVCompressedBLOBStream reopened(&f.under, blob.BLOBDescriptor(), false, false);
    EXPECT_EQ(ReadAll(reopened), Bytes(f.data.begin(), f.data.begin() + 204800));
  }
  {
    ThreeBlocks f;
    TORVCompressedBLOBStream blob(&f.under, f.desc, false, false);
    blob.Seek(0, soEnd);
    blob.SetSize(150000);
    EXPECT_EQ(blob.GetPosition(), 150000);
    ASSERT_EQ(blob.Headers().ItemCount(), 2);
    EXPECT_EQ(blob.Headers().Items[1].UncompressedSize, 47600);
    EXPECT_EQ(f.under.GetSize(), blob.Headers().Positions[1] + 20 + blob.Headers().Items[1].CompressedSize);
    TORVCompressedBLOBStream reopened(&f.under, blob.BLOBDescriptor(), false, false);
    EXPECT_EQ(ReadAll(reopened), Bytes(f.data.begin(), f.data.begin() + 150000));
    // The same size again changes nothing; a larger one extends with zeros.
    const Bytes before = StreamBytes(f.under);
    reopened.SetSize(150000);
    EXPECT_EQ(StreamBytes(f.under), before);
    reopened.SetSize(150005);
    Bytes expected(f.data.begin(), f.data.begin() + 150000);
    expected.resize(150005, 0);
    EXPECT_EQ(ReadAll(reopened), expected);
    EXPECT_EQ(CodeOf([&] { reopened.SetSize(-1); }), 10516);
  }
}

TEST(TORVCompressedBLOBStream, DamageIsReportedWithItsCode) {
  struct Case {
    const char* what;
    int64_t offset_from_block2;  // byte of block 2 to change (its header starts at 0)
    uint8_t xor_mask;
    int32_t code;
  };
  const Case cases[] = {
      {"a data byte", 20 + 3000, 0x01, 10087},  // zlib's own check fails
      {"the checksum", 8, 0x01, 10089},
      {"the uncompressed size", 4, 0x01, 10088},  // 45200 -> 45201
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ThreeBlocks f;
    Bytes raw = StreamBytes(f.under);
    TORVCompressedBLOBStream probe(&f.under, f.desc, false, false);
    const int64_t block2 = probe.Headers().Positions[2];
    raw[static_cast<size_t>(block2 + c.offset_from_block2)] ^= c.xor_mask;
    ReplaceStream(f.under, raw);
    TORVCompressedBLOBStream blob(&f.under, f.desc, false, false);
    Bytes out(10);
    blob.Seek(10, soBeginning);
    EXPECT_EQ(blob.Read(out.data(), 10), 10);  // other blocks still read
    blob.Seek(204800 + 5, soBeginning);
    EXPECT_EQ(CodeOf([&] { blob.Read(out.data(), 10); }), c.code);
  }
}

TEST(TORVCompressedBLOBStream, RepairKeepsTheReadableBlocks) {
  struct Case {
    const char* what;
    int64_t cut_in_block2;  // length kept of block 2 (header + data)
    int32_t code;
  };
  for (Case c : {Case{"cut in the header", 10, 10082}, Case{"cut in the data", 500, 10083}}) {
    SCOPED_TRACE(c.what);
    ThreeBlocks f;
    int64_t block2;
    {
      TORVCompressedBLOBStream probe(&f.under, f.desc, false, false);
      block2 = probe.Headers().Positions[2];
    }
    f.under.SetSize(block2 + c.cut_in_block2);
    EXPECT_EQ(CodeOf([&] { TORVCompressedBLOBStream blob(&f.under, f.desc, false, false); }), c.code);
    TORVCompressedBLOBStream repaired(&f.under, f.desc, false, true);
    EXPECT_EQ(repaired.BLOBDescriptor().NumBlocks, 2);
    EXPECT_EQ(repaired.BLOBDescriptor().UncompressedSize, 204800);
    EXPECT_EQ(ReadAll(repaired), Bytes(f.data.begin(), f.data.begin() + 204800));
  }
  // A block whose data no longer decompresses ends the kept chain in repair mode.
  ThreeBlocks f;
  Bytes raw = StreamBytes(f.under);
  TORVCompressedBLOBStream probe(&f.under, f.desc, false, false);
  raw[static_cast<size_t>(probe.Headers().Positions[1] + 20 + 777)] ^= 0xFF;
  ReplaceStream(f.under, raw);
  TORVCompressedBLOBStream repaired(&f.under, f.desc, false, true);
  EXPECT_EQ(repaired.BLOBDescriptor().NumBlocks, 1);
  EXPECT_EQ(ReadAll(repaired), Bytes(f.data.begin(), f.data.begin() + 102400));
}

TEST(TORVCompressedBLOBStream, BlockSizesByModeAndAlgorithms) {
  EXPECT_EQ(TORVCompressedBLOBStream::InternalGetBlockSize(0), 102400);
  EXPECT_EQ(TORVCompressedBLOBStream::InternalGetBlockSize(3), 524288);
  EXPECT_EQ(TORVCompressedBLOBStream::InternalGetBlockSize(4), 1048576);
  EXPECT_EQ(TORVCompressedBLOBStream::InternalGetBlockSize(9), 1572864);

  // bzip2 at mode 0 must be writable: its blocks are compressed as at mode 1.
  const Bytes data = Sample(250000, 5);
  TORVMemoryStream under;
  TORVCompressedBLOBStream blob(&under, Descriptor(acaBZIP, 0, 0), true, false);
  EXPECT_EQ(blob.Write(data.data(), 250000), 250000);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 3);
  EXPECT_GT(blob.GetCompressionRate(), 50.0);
  TORVCompressedBLOBStream reopened(&under, blob.BLOBDescriptor(), false, false);
  EXPECT_EQ(ReadAll(reopened), data);

  // PPM blocks: written, reopened, read at a block boundary, appended to and truncated.
  TORVMemoryStream ppm_under;
  TORVCompressedBLOBStream ppm(&ppm_under, Descriptor(acaPPM, 1, 0), true, false);
  EXPECT_EQ(ppm.Write(data.data(), 250000), 250000);
  EXPECT_EQ(ppm.BLOBDescriptor().NumBlocks, 1);
  EXPECT_GT(ppm.GetCompressionRate(), 50.0);
  {
    TORVCompressedBLOBStream reread(&ppm_under, ppm.BLOBDescriptor(), false, false);
    EXPECT_EQ(ReadAll(reread), data);
  }
  const Bytes more = Sample(300000, 9);
  EXPECT_EQ(ppm.Write(more.data(), 300000), 300000);
  EXPECT_EQ(ppm.BLOBDescriptor().NumBlocks, 2);
  ppm.SetSize(260000);
  TORVCompressedBLOBStream reopened_ppm(&ppm_under, ppm.BLOBDescriptor(), false, false);
  Bytes expected_ppm = data;
  expected_ppm.insert(expected_ppm.end(), more.begin(), more.begin() + 10000);
  EXPECT_EQ(ReadAll(reopened_ppm), expected_ppm);

  TORVMemoryStream bad_under;
  EXPECT_EQ(CodeOf([&] { TORVCompressedBLOBStream b(&bad_under, Descriptor(acaZLIB, 1, 0, -4), false, false); }),
            10515);
}

TEST(TORVCompressedBLOBStream, UncompressedBLOBStaysInsideItsBytes) {
  TORVMemoryStream under;
  {
    TORVCompressedBLOBStream empty(&under, Descriptor(acaNone, 0, 0), true, false);
    EXPECT_EQ(empty.GetCompressionRate(), 0);
    EXPECT_EQ(empty.GetCompressedSize(), 0);
  }
  under.Write("HEAD", 4);
  TORVBLOBDescriptor desc;
  const Bytes data = Sample(100);
  {
    TORVCompressedBLOBStream blob(&under, Descriptor(acaNone, 0, 4), true, false);
    EXPECT_EQ(blob.Write(data.data(), 100), 100);
    desc = blob.BLOBDescriptor();
  }
  EXPECT_EQ(desc.UncompressedSize, 100);
  under.Seek(0, soEnd);
  under.Write("TRAILING BYTES", 14);  // not part of the BLOB
  TORVCompressedBLOBStream blob(&under, desc, false, false);
  Bytes out(200, 0);
  EXPECT_EQ(blob.Read(out.data(), 200), 100);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
  blob.Seek(-3, soBeginning);
  EXPECT_EQ(blob.GetPosition(), 0);
  EXPECT_EQ(blob.Read(out.data(), 4), 4);
  EXPECT_EQ(std::memcmp(out.data(), data.data(), 4), 0);
  blob.SetSize(50);
  EXPECT_EQ(under.GetSize(), 54);

  desc.UncompressedSize = 80;
  EXPECT_EQ(CodeOf([&] { TORVCompressedBLOBStream b(&under, desc, false, false); }), 10081);
  TORVCompressedBLOBStream repaired(&under, desc, false, true);
  EXPECT_EQ(repaired.GetSize(), 50);
}

// Descriptors and block headers read from a hostile file: every stored field is checked
// against the stream before it is used, and each case ends at once with its damage code.
TEST(TORVCompressedBLOBStream, HostileDescriptorsAndHeadersEndPromptly) {
  ThreeBlocks f;
  struct Case {
    const char* what;
    TORVBLOBDescriptor desc;
    int32_t code;
  };
  auto with = [&](auto change) {
    TORVBLOBDescriptor d = f.desc;
    change(d);
    return d;
  };
  const Case cases[] = {
      {"negative start", with([](auto& d) { d.StartPosition = -7; }), 10103},
      {"start behind the stream", with([](auto& d) { d.StartPosition = int64_t{1} << 40; }), 10103},
      {"plain BLOB, start + size past 2^63",
       with([](auto& d) {
         d.CompressionAlgorithm = acaNone;
         d.UncompressedSize = INT64_MAX - 3;
       }),
       10081},
      {"negative block count", with([](auto& d) { d.NumBlocks = -1; }), 10517},
      {"block count past 2^63 / 20", with([](auto& d) { d.NumBlocks = INT64_MAX; }), 10082},
      {"block count the stream cannot hold", with([](auto& d) { d.NumBlocks = 1'000'000; }), 10082},
      {"block size smaller than a block", with([](auto& d) { d.BlockSize = 1000; }), 10083},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CodeOf([&] { TORVCompressedBLOBStream b(&f.under, c.desc, false, false); }), c.code);
  }
  // Repair keeps what can be read, never more than the stream holds.
  TORVCompressedBLOBStream huge_count(&f.under, cases[4].desc, false, true);
  EXPECT_EQ(huge_count.BLOBDescriptor().NumBlocks, 3);
  EXPECT_EQ(ReadAll(huge_count), f.data);
  TORVCompressedBLOBStream plain(&f.under, cases[2].desc, false, true);
  EXPECT_EQ(plain.GetSize(), f.under.GetSize() - ThreeBlocks::kStart);

  // Header fields: sizes that do not fit the stream or each other, a link past 2^63.
  const Bytes raw = StreamBytes(f.under);
  const int64_t block2 = [&] {
    TORVCompressedBLOBStream probe(&f.under, f.desc, false, false);
    return probe.Headers().Positions[2];
  }();
  struct Field {
    const char* what;
    int offset;
    int64_t value;
    int width;
  };
  for (const Field& h : {Field{"negative compressed size", 0, -20, 4}, Field{"compressed size past the end", 0, INT32_MAX, 4},
                         Field{"negative uncompressed size", 4, -1, 4}, Field{"link past 2^63", 12, INT64_MAX, 8},
                         Field{"negative link", 12, INT64_MIN, 8}}) {
    SCOPED_TRACE(h.what);
    Bytes bad = raw;
    for (int i = 0; i < h.width; ++i)
      bad[static_cast<size_t>(block2 + h.offset + i)] = static_cast<uint8_t>(static_cast<uint64_t>(h.value) >> (8 * i));
    ReplaceStream(f.under, bad);
    EXPECT_EQ(CodeOf([&] { TORVCompressedBLOBStream b(&f.under, f.desc, false, false); }), 10083);
    TORVCompressedBLOBStream repaired(&f.under, f.desc, false, true);
    EXPECT_EQ(repaired.BLOBDescriptor().NumBlocks, 2);
  }

  // A block whose few compressed bytes inflate far past the size its header claims (a
  // zlib bomb of 32 MiB behind a header that promises 100 bytes) is refused as damaged, when
  // read and when repair looks at it, without inflating it all.
  for (int32_t block_size : {102400, INT32_MAX}) {
    SCOPED_TRACE(block_size);
    const Bytes zeros(32u << 20, 0);
    void* packed = nullptr;
    int32_t packed_size = 0;
    ASSERT_TRUE(ORVInternalCompressBuffer(acaZLIB, 9, zeros.data(), static_cast<int32_t>(zeros.size()), packed,
                                          packed_size));
    TORVCompressedStreamBlockHeader h;
    h.CompressedSize = packed_size;
    h.UncompressedSize = 100;
    h.Crc32 = CRC32(0, zeros.data(), 100);
    h.OffsetToNextHeader = 20 + int64_t{packed_size};
    Bytes chain(20);
    h.WriteTo(chain.data());
    chain.insert(chain.end(), static_cast<uint8_t*>(packed), static_cast<uint8_t*>(packed) + packed_size);
    std::free(packed);
    TORVMemoryStream under;
    ReplaceStream(under, chain);
    TORVBLOBDescriptor d = Descriptor(acaZLIB, 9, 0, block_size);
    d.NumBlocks = 1;
    const auto bomb_start = std::chrono::steady_clock::now();
    TORVCompressedBLOBStream blob(&under, d, false, false);
    Bytes out(10);
    EXPECT_EQ(CodeOf([&] { blob.Read(out.data(), 10); }), 10087);
    TORVCompressedBLOBStream repaired(&under, d, false, true);
    EXPECT_EQ(repaired.BLOBDescriptor().NumBlocks, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - bomb_start, kHangGuard);
  }

  // A stored block size of 2 GiB: appends hold only what the block holds.
  TORVMemoryStream under;
  TORVBLOBDescriptor d = Descriptor(acaZLIB, 1, 0, INT32_MAX);
  {
    TORVCompressedBLOBStream blob(&under, d, true, false);
    EXPECT_EQ(blob.Write("first", 5), 5);
    d = blob.BLOBDescriptor();
  }
  const auto append_start = std::chrono::steady_clock::now();
  {
    TORVCompressedBLOBStream blob(&under, d, false, false);
    blob.Seek(0, soEnd);
    EXPECT_EQ(blob.Write(" second", 7), 7);
    d = blob.BLOBDescriptor();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - append_start, kHangGuard);
  TORVCompressedBLOBStream reopened(&under, d, false, false);
  const Bytes text = ReadAll(reopened);
  EXPECT_EQ(std::string(text.begin(), text.end()), "first second");
  EXPECT_EQ(d.NumBlocks, 1);

}

// Random appends, gaps, truncations, extensions and reads against a plain byte vector.
TEST(TORVCompressedBLOBStream, BehavesLikeAByteVector) {
  std::mt19937 rng(20240115);
  for (auto algorithm : {acaZLIB, acaBZIP}) {
    SCOPED_TRACE(static_cast<int>(algorithm));
    TORVMemoryStream under;
    under.Write("xx", 2);
    Bytes model;
    TORVBLOBDescriptor desc = Descriptor(algorithm, 1, 2, 1000);
    auto blob = std::make_unique<TORVCompressedBLOBStream>(&under, desc, true, false);
    for (int step = 0; step < 250; ++step) {
      const int op = static_cast<int>(rng() % 6);
      if (op <= 1) {  // append, sometimes after a gap
        const int64_t at = static_cast<int64_t>(model.size()) + (op == 1 ? rng() % 1500 : 0);
        const Bytes piece = Sample(rng() % 3500, static_cast<uint32_t>(step));
        blob->Seek(at, soBeginning);
        ASSERT_EQ(blob->Write(piece.data(), static_cast<int32_t>(piece.size())), static_cast<int32_t>(piece.size()));
        if (!piece.empty() || at <= static_cast<int64_t>(model.size())) {
          if (!piece.empty()) model.resize(static_cast<size_t>(at), 0);
          model.insert(model.end(), piece.begin(), piece.end());
        }
      } else if (op == 2) {  // resize
        const int64_t size = rng() % (model.size() + 2000);
        blob->SetSize(size);
        model.resize(static_cast<size_t>(size), 0);
      } else if (op == 3) {  // reopen from the descriptor
        desc = blob->BLOBDescriptor();
        blob = std::make_unique<TORVCompressedBLOBStream>(&under, desc, false, false);
      } else {  // read a random range
        const int64_t at = model.empty() ? 0 : rng() % (model.size() + 10);
        const int32_t count = static_cast<int32_t>(rng() % 4000);
        Bytes out(static_cast<size_t>(count));
        blob->Seek(at, soBeginning);
        const int32_t got = blob->Read(out.data(), count);
        const int64_t expect = std::max<int64_t>(0, std::min<int64_t>(count, static_cast<int64_t>(model.size()) - at));
        ASSERT_EQ(got, expect) << "step " << step;
        ASSERT_TRUE(std::equal(out.begin(), out.begin() + got, model.begin() + at)) << "step " << step;
      }
      ASSERT_EQ(blob->GetSize(), static_cast<int64_t>(model.size()));
      ASSERT_EQ(blob->BLOBDescriptor().UncompressedSize, static_cast<int64_t>(model.size()));
      ASSERT_EQ(blob->BLOBDescriptor().NumBlocks, (static_cast<int64_t>(model.size()) + 999) / 1000);
    }
    TORVCompressedBLOBStream last(&under, blob->BLOBDescriptor(), false, false);
    EXPECT_EQ(ReadAll(last), model);
  }
}

}  // namespace
}  // namespace orv
