#include "dbengine/storage/orv_compression.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <exception>

#include "dbengine/storage/orv_bzip2.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_ppm.h"
#include "dbengine/storage/orv_zlib.h"

namespace orv {
namespace {

// Per thread, so that concurrent compressions never see each other's failures.
thread_local std::string g_last_error;

void Fail(void*& OutBuf, int32_t& OutSize, std::string message) {
  if (OutBuf) std::free(OutBuf);
  OutBuf = nullptr;
  OutSize = 0;
  g_last_error = std::move(message);
}

uint32_t TableCRC(uint32_t CRC, const void* Data, size_t DataSize) {
  // zlib inverts before and after; undoing both gives the plain table-driven update.
  return static_cast<uint32_t>(crc32_z(CRC ^ 0xFFFFFFFFu, static_cast<const Bytef*>(Data), DataSize)) ^ 0xFFFFFFFFu;
}

#if defined(__x86_64__)
// Every block read is checked against its CRC, so the checksum decides much of the cost of
// reading a BLOB. Carry-less multiplication folds 64 bytes per step (the published folding
// method for the reflected IEEE polynomial); the register is the plain CRC, as ours is.
// Needs at least 64 bytes and a multiple of 16.
__attribute__((target("pclmul,sse4.1")))
uint32_t FoldCRC(const unsigned char* buf, size_t len, uint32_t crc) {
  alignas(16) static const uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const uint64_t k5[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const uint64_t poly[] = {0x01db710641, 0x01f7011641};
  __m128i x0, x1, x2, x3, x4, x5, x6, x7, x8, y5, y6, y7, y8;
  x1 = _mm_loadu_si128((const __m128i*)(buf + 0x00));
  x2 = _mm_loadu_si128((const __m128i*)(buf + 0x10));
  x3 = _mm_loadu_si128((const __m128i*)(buf + 0x20));
  x4 = _mm_loadu_si128((const __m128i*)(buf + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128((int)crc));
  x0 = _mm_load_si128((const __m128i*)k1k2);
  buf += 64; len -= 64;
  while (len >= 64) {
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00); x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x7 = _mm_clmulepi64_si128(x3, x0, 0x00); x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11); x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
    x3 = _mm_clmulepi64_si128(x3, x0, 0x11); x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
    y5 = _mm_loadu_si128((const __m128i*)(buf + 0x00)); y6 = _mm_loadu_si128((const __m128i*)(buf + 0x10));
    y7 = _mm_loadu_si128((const __m128i*)(buf + 0x20)); y8 = _mm_loadu_si128((const __m128i*)(buf + 0x30));
    x1 = _mm_xor_si128(x1, x5); x2 = _mm_xor_si128(x2, x6); x3 = _mm_xor_si128(x3, x7); x4 = _mm_xor_si128(x4, x8);
    x1 = _mm_xor_si128(x1, y5); x2 = _mm_xor_si128(x2, y6); x3 = _mm_xor_si128(x3, y7); x4 = _mm_xor_si128(x4, y8);
    buf += 64; len -= 64;
  }
  x0 = _mm_load_si128((const __m128i*)k3k4);
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00); x1 = _mm_clmulepi64_si128(x1, x0, 0x11); x1 = _mm_xor_si128(x1, x2); x1 = _mm_xor_si128(x1, x5);
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00); x1 = _mm_clmulepi64_si128(x1, x0, 0x11); x1 = _mm_xor_si128(x1, x3); x1 = _mm_xor_si128(x1, x5);
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00); x1 = _mm_clmulepi64_si128(x1, x0, 0x11); x1 = _mm_xor_si128(x1, x4); x1 = _mm_xor_si128(x1, x5);
  while (len >= 16) {
    x2 = _mm_loadu_si128((const __m128i*)buf);
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00); x1 = _mm_clmulepi64_si128(x1, x0, 0x11); x1 = _mm_xor_si128(x1, x2); x1 = _mm_xor_si128(x1, x5);
    buf += 16; len -= 16;
  }
  x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  x3 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_srli_si128(x1, 8);
  x1 = _mm_xor_si128(x1, x2);
  x0 = _mm_loadl_epi64((const __m128i*)k5);
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, x3);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  x0 = _mm_load_si128((const __m128i*)poly);
  x2 = _mm_and_si128(x1, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
  x2 = _mm_and_si128(x2, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return (uint32_t)_mm_extract_epi32(x1, 1);
}

bool HasFoldInstructions() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}
#endif

}  // namespace

TORVCompressionAlgorithm GetCompressionAlgorithm(std::string_view Name) {
  for (size_t i = 0; i < ORVCompressionAlgorithmNames.size(); ++i) {
    const auto& n = ORVCompressionAlgorithmNames[i];
    if (n.size() != Name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < n.size() && same; ++k) {
      char c = Name[k];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      same = c == n[k];
    }
    if (same) return static_cast<TORVCompressionAlgorithm>(i);
  }
  return acaNone;
}

bool ORVInternalCompressBuffer(TORVCompressionAlgorithm CompressionAlgorithm, uint8_t CompressionMode,
                               const void* InBuf, int32_t InSize, void*& OutBuf, int32_t& OutSize) {
  OutBuf = nullptr;
  OutSize = 0;
  if (CompressionAlgorithm == acaNone || CompressionAlgorithm > acaPPM || InSize <= 0 || !InBuf) return false;
  try {
    switch (CompressionAlgorithm) {
      case acaZLIB:
        ZLIBCompressBuf(InBuf, InSize, OutBuf, OutSize, CompressionMode);
        break;
      case acaBZIP:
        // A stored bzip2 block does not exist; mode 0 compresses like mode 1.
        BZCompressBuf(InBuf, InSize, OutBuf, OutSize, CompressionMode == 0 ? 1 : CompressionMode);
        break;
      default:
        PPMCompressBuf(InBuf, InSize, OutBuf, OutSize, CompressionMode);
        break;
    }
  } catch (const std::exception& e) {
    Fail(OutBuf, OutSize, e.what());
    return false;
  } catch (...) {
    Fail(OutBuf, OutSize, "Unknown compression error");
    return false;
  }
  if (OutSize <= 0) {
    Fail(OutBuf, OutSize, "Compressed size is 0");
    return false;
  }
  g_last_error.clear();
  return true;
}

bool ORVInternalDecompressBuffer(TORVCompressionAlgorithm CompressionAlgorithm, const void* InBuf, int32_t InSize,
                                 void*& OutBuf, int32_t& OutSize) {
  const int32_t expected = OutSize;
  OutBuf = nullptr;
  OutSize = 0;
  if (CompressionAlgorithm == acaNone || CompressionAlgorithm > acaPPM || InSize <= 0 || !InBuf) return false;
  try {
    switch (CompressionAlgorithm) {
      case acaZLIB:
        ZLIBDecompressBuf(InBuf, InSize, expected, OutBuf, OutSize);
        if (OutSize <= 0) {
          Fail(OutBuf, OutSize, "Invalid zlib data");
          return false;
        }
        break;
      case acaBZIP:
        BZDecompressBuf(InBuf, InSize, expected, OutBuf, OutSize);
        break;
      default:
        // The PPM buffer does not hold its size: the caller's expected size bounds the output.
        OutSize = expected;
        PPMDecompressBuf(InBuf, InSize, OutBuf, OutSize);
        break;
    }
  } catch (const std::exception& e) {
    Fail(OutBuf, OutSize, e.what());
    return false;
  } catch (...) {
    Fail(OutBuf, OutSize, "Unknown decompression error");
    return false;
  }
  if (OutSize <= 0) {
    Fail(OutBuf, OutSize, "Decompressed size is 0");
    return false;
  }
  g_last_error.clear();
  return true;
}

bool ORVInternalDecompressBufferInto(TORVCompressionAlgorithm CompressionAlgorithm, const void* InBuf, int32_t InSize,
                                     void* OutBuf, int32_t OutCapacity, int32_t& OutSize) {
  OutSize = 0;
  bool ok = false;
  switch (CompressionAlgorithm) {
    case acaZLIB:
      ok = ZLIBDecompressInto(InBuf, InSize, OutBuf, OutCapacity, OutSize);
      break;
    case acaBZIP:
      ok = BZDecompressInto(InBuf, InSize, OutBuf, OutCapacity, OutSize);
      break;
    case acaPPM:
      ok = PPMDecompressInto(InBuf, InSize, OutBuf, OutCapacity, OutSize);
      break;
    default:
      return false;
  }
  if (!ok) {
    OutSize = 0;
    g_last_error = CompressionAlgorithm == acaZLIB   ? "Invalid zlib data"
                   : CompressionAlgorithm == acaBZIP ? "Invalid bzip2 data"
                                                     : "PPM Decompression error";
    return false;
  }
  g_last_error.clear();
  return true;
}

std::string ORVCompressionGetLastError() { return g_last_error; }

int64_t DecompressionLimit(int32_t Expected) {
  // Sizes are 32-bit throughout the engine's buffer routines.
  constexpr int64_t kMaxOut = INT32_MAX - 4096;
  if (Expected > 0) return std::min<int64_t>(Expected, kMaxOut);
  return std::clamp<int64_t>(kUnknownSizeBlocks * BlockSizeForMax, 1, kMaxOut);
}

int64_t DecompressionFirstAllocation(int32_t Expected, int64_t Step) {
  const int64_t limit = DecompressionLimit(Expected);
  if (Expected > 0) return std::min(limit, std::max<int64_t>(4 * int64_t{BlockSizeForMax}, Step));
  return std::clamp<int64_t>(Step, 1, limit);
}

uint32_t CRC32(uint32_t CRC, const void* Data, uint32_t DataSize) {
  if (DataSize == 0 || !Data) return CRC;
  const auto* p = static_cast<const unsigned char*>(Data);
  size_t n = DataSize;
#if defined(__x86_64__)
  if (n >= 64 && HasFoldInstructions()) {
    const size_t bulk = n & ~size_t{15};
    CRC = FoldCRC(p, bulk, CRC);
    p += bulk;
    n -= bulk;
  }
#endif
  return n ? TableCRC(CRC, p, n) : CRC;
}

}  // namespace orv
