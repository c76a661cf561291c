#pragma once
// The checks of the buffer decompressors: any buffer ends with a result or false, never more
// output than allowed, and a result read again with its own size gives the same bytes.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "dbengine/storage/orv_compression.h"
#include "fuzz/fuzz_support.h"

namespace fuzz {

struct HeapFree {
  void operator()(void* p) const { std::free(p); }
};
using HeapBytes = std::unique_ptr<uint8_t, HeapFree>;

// Decompresses In with the expected size Expected (0: unknown); the bytes, or nothing.
inline bool Decompress(orv::TORVCompressionAlgorithm a, std::span<const uint8_t> in, int32_t expected,
                       std::vector<uint8_t>& out) {
  void* p = nullptr;
  int32_t n = expected;
  const bool ok = orv::ORVInternalDecompressBuffer(a, in.data(), static_cast<int32_t>(in.size()), p, n);
  HeapBytes hold(static_cast<uint8_t*>(p));
  FUZZ_CHECK(ok == (p != nullptr));
  FUZZ_CHECK(ok ? n > 0 : n == 0);
  if (ok) FUZZ_CHECK(n <= orv::DecompressionLimit(expected));
  out.assign(hold.get(), hold.get() + (ok ? n : 0));
  return ok;
}

inline void CheckDecompression(orv::TORVCompressionAlgorithm a, std::span<const uint8_t> in, int32_t expected) {
  if (in.empty()) return;
  std::vector<uint8_t> first;
  if (!Decompress(a, in, expected, first)) return;
  // The cross-checks read the buffer three times more; for the long outputs of mutated bombs
  // that would take the fuzzer's time from the short inputs where the structure is.
  if (first.size() > (256u << 10)) return;
  const auto n = static_cast<int32_t>(first.size());
  // With its exact size: the same bytes, also straight into a buffer of that size.
  std::vector<uint8_t> again;
  FUZZ_CHECK(Decompress(a, in, n, again) && again == first);
  std::vector<uint8_t> into(first.size());
  int32_t got = 0;
  FUZZ_CHECK(orv::ORVInternalDecompressBufferInto(a, in.data(), static_cast<int32_t>(in.size()), into.data(), n, got));
  FUZZ_CHECK(got == n && into == first);
  // One byte less than it holds: refused.
  if (n > 1) {
    FUZZ_CHECK(!Decompress(a, in, n - 1, again));
    FUZZ_CHECK(!orv::ORVInternalDecompressBufferInto(a, in.data(), static_cast<int32_t>(in.size()), into.data(), n - 1,
                                                     got));
  }
}

// The bytes compressed at Mode and back.
inline void CheckRoundTrip(orv::TORVCompressionAlgorithm a, uint8_t mode, std::span<const uint8_t> data) {
  if (data.empty()) return;
  void* p = nullptr;
  int32_t n = 0;
  if (!orv::ORVInternalCompressBuffer(a, mode, data.data(), static_cast<int32_t>(data.size()), p, n)) return;
  HeapBytes packed(static_cast<uint8_t*>(p));
  std::vector<uint8_t> back;
  FUZZ_CHECK(Decompress(a, std::span<const uint8_t>(packed.get(), static_cast<size_t>(n)),
                        static_cast<int32_t>(data.size()), back));
  FUZZ_CHECK(back.size() == data.size() && std::memcmp(back.data(), data.data(), data.size()) == 0);
}

}  // namespace fuzz
