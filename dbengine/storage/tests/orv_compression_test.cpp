#include "dbengine/storage/orv_compression.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/storage/orv_ppm.h"

namespace orv {
namespace {

// Hostile inputs must end at once; this bound only tells "at once" from the endless or
// seconds-long runs they caused, it is not a speed goal.
constexpr auto kHangGuard = std::chrono::seconds(5);

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& name) {
  std::ifstream f(std::string(QUIRVEL_TEST_DATA) + "/compression/" + name, std::ios::binary);
  EXPECT_TRUE(f.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes Input(const std::string& kind) {
  if (kind == "zeros") return Bytes(100000, 0);
  return ReadFile(kind + ".bin");
}

struct HeapBytes {
  void* p = nullptr;
  int32_t size = 0;
  ~HeapBytes() { std::free(p); }
  Bytes bytes() const { return Bytes(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + size); }
};

// Output equal to Python's zlib.compress(data, level) and to the bzip2 program, and back.
TEST(ORVInternalCompressBuffer, MatchesTheReferenceCompressorsByteForByte) {
  struct Case {
    TORVCompressionAlgorithm algorithm;
    const char* kind;
    uint8_t mode;
    const char* reference;
  };
  const Case cases[] = {
      {acaZLIB, "text", 0, "zlib_text_0.bin"},     {acaZLIB, "text", 1, "zlib_text_1.bin"},
      {acaZLIB, "text", 6, "zlib_text_6.bin"},     {acaZLIB, "text", 9, "zlib_text_9.bin"},
      {acaZLIB, "random", 0, "zlib_random_0.bin"}, {acaZLIB, "random", 6, "zlib_random_6.bin"},
      {acaZLIB, "zeros", 1, "zlib_zeros_1.bin"},   {acaZLIB, "zeros", 9, "zlib_zeros_9.bin"},
      {acaBZIP, "text", 1, "bzip2_text_1.bin"},    {acaBZIP, "text", 9, "bzip2_text_9.bin"},
      {acaBZIP, "random", 5, "bzip2_random_5.bin"}, {acaBZIP, "zeros", 1, "bzip2_zeros_1.bin"},
      {acaBZIP, "zeros", 9, "bzip2_zeros_9.bin"},
      // A stored bzip2 block does not exist: mode 0 compresses as mode 1.
      {acaBZIP, "text", 0, "bzip2_text_1.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reference);
    const Bytes in = Input(c.kind);
    const Bytes expected = ReadFile(c.reference);
    HeapBytes out;
    ASSERT_TRUE(ORVInternalCompressBuffer(c.algorithm, c.mode, in.data(), static_cast<int32_t>(in.size()), out.p,
                                          out.size));
    EXPECT_EQ(out.bytes(), expected);

    // The reference output decompresses, with and without the expected size.
    for (int32_t expected_size : {static_cast<int32_t>(in.size()), 0}) {
      HeapBytes back;
      back.size = expected_size;
      ASSERT_TRUE(ORVInternalDecompressBuffer(c.algorithm, expected.data(), static_cast<int32_t>(expected.size()),
                                              back.p, back.size));
      EXPECT_EQ(back.bytes(), in);
    }
  }
}

TEST(ORVInternalCompressBuffer, RefusalsAndFailuresAreFalseWithoutABuffer) {
  const Bytes in(1000, 'x');
  void* out = reinterpret_cast<void*>(0x1);
  int32_t size = 77;
  EXPECT_FALSE(ORVInternalCompressBuffer(acaNone, 1, in.data(), 1000, out, size));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_FALSE(ORVInternalCompressBuffer(acaZLIB, 1, in.data(), 0, out, size));
  EXPECT_FALSE(ORVInternalCompressBuffer(static_cast<TORVCompressionAlgorithm>(4), 1, in.data(), 1000, out, size));
  EXPECT_FALSE(ORVInternalCompressBuffer(acaZLIB, 10, in.data(), 1000, out, size));  // no such level
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(ORVCompressionGetLastError().empty());

  // PPM buffers do not hold their size: without the expected size there is no buffer.
  size = 0;
  EXPECT_FALSE(ORVInternalDecompressBuffer(acaPPM, in.data(), 1000, out, size));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ORVCompressionGetLastError(), "PPM DecpmpressBuf: OutSize must be set");
}

TEST(ORVInternalCompressBuffer, PPMRoundTripsThroughTheDispatch) {
  const Bytes text = Input("text");
  HeapBytes packed;
  ASSERT_TRUE(ORVInternalCompressBuffer(acaPPM, 5, text.data(), static_cast<int32_t>(text.size()), packed.p,
                                        packed.size));
  EXPECT_EQ(packed.bytes()[1] >> 4, 6);  // the variant letter G
  HeapBytes back;
  back.size = static_cast<int32_t>(text.size());
  ASSERT_TRUE(ORVInternalDecompressBuffer(acaPPM, packed.p, packed.size, back.p, back.size));
  EXPECT_EQ(back.bytes(), text);
  Bytes into(text.size());
  int32_t size = 0;
  ASSERT_TRUE(ORVInternalDecompressBufferInto(acaPPM, packed.p, packed.size, into.data(),
                                              static_cast<int32_t>(into.size()), size));
  EXPECT_EQ(into, text);
  EXPECT_FALSE(ORVInternalDecompressBufferInto(acaPPM, packed.p, packed.size, into.data(), 100, size));
  EXPECT_EQ(size, 0);
}

TEST(ORVInternalDecompressBuffer, DamagedInputGivesFalse) {
  const Bytes text = Input("text");
  for (auto algorithm : {acaZLIB, acaBZIP}) {
    SCOPED_TRACE(static_cast<int>(algorithm));
    HeapBytes packed;
    ASSERT_TRUE(ORVInternalCompressBuffer(algorithm, 6, text.data(), static_cast<int32_t>(text.size()), packed.p,
                                          packed.size));
    Bytes bytes = packed.bytes();
    Bytes truncated(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2));
    Bytes flipped = bytes;
    flipped[flipped.size() / 2] ^= 0x55;
    const Bytes garbage(500, 0xA7);
    for (const Bytes* bad : std::vector<const Bytes*>{&truncated, &flipped, &garbage}) {
      void* out = nullptr;
      int32_t size = static_cast<int32_t>(text.size());
      EXPECT_FALSE(ORVInternalDecompressBuffer(algorithm, bad->data(), static_cast<int32_t>(bad->size()), out, size));
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(size, 0);
    }
  }
}

// Hostile buffers end at once with false: a stream that asks for a preset dictionary, and
// bombs that inflate far beyond what the caller expects (or, without an expected size, beyond
// the engine's cap).
TEST(ORVInternalDecompressBuffer, HostileBuffersEndPromptlyWithFalse) {
  // zlib header with the preset-dictionary flag, a dictionary id, then some deflate bytes.
  const Bytes dictionary = {0x78, 0xBB, 0x12, 0x34, 0x56, 0x78, 0x4B, 0x4C, 0x4A, 0x06, 0x00};
  Bytes zlib_bomb(static_cast<size_t>(compressBound(32u << 20)));
  {
    const Bytes zeros(32u << 20, 0);
    uLongf n = zlib_bomb.size();
    ASSERT_EQ(compress2(zlib_bomb.data(), &n, zeros.data(), zeros.size(), 9), Z_OK);
    zlib_bomb.resize(n);  // about 32 KB
  }
  const Bytes bzip2_bomb = ReadFile("bzip2_bomb_200mib.bin");  // 177 bytes
  ASSERT_LT(DecompressionLimit(0), int64_t{32} << 20);  // the zlib bomb passes the cap
  struct Case {
    const char* what;
    TORVCompressionAlgorithm algorithm;
    const Bytes* data;
    int32_t expected;
  };
  const Case cases[] = {
      {"zlib preset dictionary", acaZLIB, &dictionary, 0},
      {"zlib preset dictionary, size given", acaZLIB, &dictionary, 16},
      {"zlib bomb, 16 bytes expected", acaZLIB, &zlib_bomb, 16},
      {"zlib bomb, one byte short", acaZLIB, &zlib_bomb, (32 << 20) - 1},
      {"zlib bomb, size unknown", acaZLIB, &zlib_bomb, 0},
      {"bzip2 bomb, 16 bytes expected", acaBZIP, &bzip2_bomb, 16},
      {"bzip2 bomb, a block expected", acaBZIP, &bzip2_bomb, 1572864},
      {"bzip2 bomb, size unknown", acaBZIP, &bzip2_bomb, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = std::chrono::steady_clock::now();
    void* out = nullptr;
    int32_t size = c.expected;
    EXPECT_FALSE(ORVInternalDecompressBuffer(c.algorithm, c.data->data(), static_cast<int32_t>(c.data->size()), out,
                                             size));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(ORVCompressionGetLastError().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, kHangGuard);

    uint8_t into[64];
    EXPECT_FALSE(ORVInternalDecompressBufferInto(c.algorithm, c.data->data(), static_cast<int32_t>(c.data->size()),
                                                 into, sizeof into, size));
  }
  // The exact size is still accepted: a limit never cuts a stream that ends on it.
  HeapBytes whole;
  whole.size = 32 << 20;
  ASSERT_TRUE(ORVInternalDecompressBuffer(acaZLIB, zlib_bomb.data(), static_cast<int32_t>(zlib_bomb.size()), whole.p,
                                          whole.size));
  EXPECT_EQ(whole.size, 32 << 20);
}

TEST(CRC32, ReflectedWithoutInversion) {
  // Vectors of this exact variant (start 0, no final inversion).
  EXPECT_EQ(CRC32(0, "abc", 3), 0xCA6598D0u);
  EXPECT_EQ(CRC32(0, "123456789", 9), 0x2DFD2D88u);
  // Size 0 returns the CRC unchanged.
  EXPECT_EQ(CRC32(0x12345678u, "abc", 0), 0x12345678u);
  // Continuing over a second buffer equals one pass over the concatenation.
  EXPECT_EQ(CRC32(CRC32(0, "1234", 4), "56789", 5), CRC32(0, "123456789", 9));
  // Long buffers (values from Python: zlib.crc32(data, c ^ 0xFFFFFFFF) ^ 0xFFFFFFFF).
  Bytes ramp;
  for (int k = 0; k < 40; ++k)
    for (int i = 0; i < 256; ++i) ramp.push_back(static_cast<uint8_t>(i));
  EXPECT_EQ(CRC32(0, ramp.data(), static_cast<uint32_t>(ramp.size())), 0x9CD3E507u);
  Bytes steps(1000);
  for (size_t i = 0; i < steps.size(); ++i) steps[i] = static_cast<uint8_t>(i * 7 + 3);
  EXPECT_EQ(CRC32(0x12345678u, steps.data(), 1000), 0xB567F6F3u);
}

// The definition bit by bit, against every length and alignment the fast paths split into.
TEST(CRC32, AgreesWithTheBitwiseDefinition) {
  auto plain = [](uint32_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      crc ^= p[i];
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0u);
    }
    return crc;
  };
  Bytes data(5000);
  uint32_t x = 99;
  for (auto& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 23);
  for (size_t offset : {0u, 1u, 7u, 15u})
    for (size_t n = 0; n < 300; ++n) {
      const uint32_t start = static_cast<uint32_t>(n * 2654435761u);
      ASSERT_EQ(CRC32(start, data.data() + offset, static_cast<uint32_t>(n)), plain(start, data.data() + offset, n))
          << offset << " " << n;
    }
  EXPECT_EQ(CRC32(5, data.data(), 4999), plain(5, data.data(), 4999));
}

TEST(GetCompressionAlgorithm, NamesInAnyCase) {
  EXPECT_EQ(GetCompressionAlgorithm("zlib"), acaZLIB);
  EXPECT_EQ(GetCompressionAlgorithm("Bzip"), acaBZIP);
  EXPECT_EQ(GetCompressionAlgorithm("PPM"), acaPPM);
  EXPECT_EQ(GetCompressionAlgorithm("NONE"), acaNone);
  EXPECT_EQ(GetCompressionAlgorithm("gzip"), acaNone);
  EXPECT_EQ(GetCompressionAlgorithm(""), acaNone);
}

TEST(PPMHeaderWord, ModeSelectsOrderAndMemory) {
  EXPECT_EQ(PPMHeaderWord(5), 0x6156u);   // order 7, 22 MB
  EXPECT_EQ(PPMHeaderWord(12), 0x663Fu);  // clamped to mode 9
  EXPECT_EQ(PPMHeaderWord(0), PPMHeaderWord(1));
}

TEST(ORVInternalCompressBuffer, ConcurrentCallsKeepTheirOwnResults) {
  const Bytes text = Input("text");
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const auto algorithm = (t % 2) ? acaBZIP : acaZLIB;
        HeapBytes packed, back;
        if (!ORVInternalCompressBuffer(algorithm, static_cast<uint8_t>(1 + t), text.data(),
                                       static_cast<int32_t>(text.size()), packed.p, packed.size))
          return;
        back.size = static_cast<int32_t>(text.size());
        if (!ORVInternalDecompressBuffer(algorithm, packed.p, packed.size, back.p, back.size)) return;
        if (back.bytes() != text) return;
      }
      ok[static_cast<size_t>(t)] = 1;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok, std::vector<int>(4, 1));
}

}  // namespace
}  // namespace orv
