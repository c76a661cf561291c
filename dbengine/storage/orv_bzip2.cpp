#include "dbengine/storage/orv_bzip2.h"

#include <bzlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>

#include "dbengine/storage/orv_compression.h"
#include "platform/base/numeric.h"

namespace orv {
namespace {

constexpr int64_t kMaxOut = INT32_MAX - 4096;

std::string ErrorText(int rc) { return "error " + std::to_string(rc); }

// A decompression stream and its output buffer, both released on every path.
struct BzStream {
  bz_stream s{};
  bool initialised = false;
  char* out = nullptr;
  BzStream() = default;
  BzStream(const BzStream&) = delete;
  BzStream& operator=(const BzStream&) = delete;
  ~BzStream() {
    if (initialised) BZ2_bzDecompressEnd(&s);
    std::free(out);
  }
};

}  // namespace

void BZCompressBuf(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes, int32_t bzBlockSize) {
  OutBuf = nullptr;
  OutBytes = 0;
  if (InBytes < 0 || (!InBuf && InBytes > 0)) throw EBZCompressionError(ErrorText(BZ_PARAM_ERROR));
  const int64_t size = platform::Round64(static_cast<long double>(InBytes) * 1.01L) + 600;
  if (size > kMaxOut) throw std::bad_alloc();
  auto* out = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
  if (!out) throw std::bad_alloc();
  unsigned int produced = static_cast<unsigned int>(size);
  const int rc = BZ2_bzBuffToBuffCompress(out, &produced, static_cast<char*>(const_cast<void*>(InBuf)),
                                          static_cast<unsigned int>(InBytes), bzBlockSize, 0, 0);
  if (rc < 0) {
    std::free(out);
    throw EBZCompressionError(ErrorText(rc));
  }
  OutBuf = out;
  OutBytes = static_cast<int32_t>(produced);
}

void BZDecompressBuf(const void* InBuf, int32_t InBytes, int32_t OutEstimate, void*& OutBuf, int32_t& OutBytes) {
  OutBuf = nullptr;
  OutBytes = 0;
  if (InBytes <= 0 || !InBuf) throw EBZDecompressionError(ErrorText(BZ_PARAM_ERROR));
  // One pass over the input into a buffer that grows as the output does, up to the expected
  // size or the engine's cap: a small stream of long runs stops as soon as it passes the
  // limit instead of being decompressed again and again into ever larger buffers.
  const int64_t limit = DecompressionLimit(OutEstimate);
  const int64_t step = std::max<int64_t>(((static_cast<int64_t>(InBytes) * 10 + 65535) / 65536) * 65536, 65536);
  int64_t size = DecompressionFirstAllocation(OutEstimate, step);
  BzStream bz;
  auto* out = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
  if (!out) throw std::bad_alloc();
  bz.out = out;
  bz.s.next_in = static_cast<char*>(const_cast<void*>(InBuf));
  bz.s.avail_in = static_cast<unsigned int>(InBytes);
  bz.s.next_out = out;
  bz.s.avail_out = static_cast<unsigned int>(size);
  int rc = BZ2_bzDecompressInit(&bz.s, 0, 0);
  if (rc != BZ_OK) throw EBZDecompressionError(ErrorText(rc));
  bz.initialised = true;
  for (;;) {
    rc = BZ2_bzDecompress(&bz.s);
    if (rc == BZ_STREAM_END) break;
    if (rc != BZ_OK) throw EBZDecompressionError(ErrorText(rc));
    if (bz.s.avail_out > 0) {
      // Room left: either the input is used up before the end of the stream, or the library
      // stopped without being full, which is no progress either.
      throw EBZDecompressionError(ErrorText(BZ_UNEXPECTED_EOF));
    }
    if (size >= limit) {
      // Full at the limit: only the end of the stream may follow.
      char probe = 0;
      bz.s.next_out = &probe;
      bz.s.avail_out = 1;
      rc = BZ2_bzDecompress(&bz.s);
      if (rc == BZ_STREAM_END && bz.s.avail_out == 1) break;
      throw EBZDecompressionError(rc < 0 ? ErrorText(rc) : "error: output larger than " + std::to_string(limit));
    }
    const int64_t used = size;
    size = std::min(limit, std::max(size + step, size * 2));
    char* grown = static_cast<char*>(std::realloc(bz.out, static_cast<size_t>(size)));
    if (!grown) throw std::bad_alloc();
    bz.out = grown;
    bz.s.next_out = grown + used;
    bz.s.avail_out = static_cast<unsigned int>(size - used);
  }
  const int64_t produced = (static_cast<int64_t>(bz.s.total_out_hi32) << 32) | bz.s.total_out_lo32;
  if (produced <= 0 || produced > limit) throw EBZDecompressionError(ErrorText(BZ_DATA_ERROR));
  if (produced < size) {
    char* shrunk = static_cast<char*>(std::realloc(bz.out, static_cast<size_t>(produced)));
    if (shrunk) bz.out = shrunk;
  }
  OutBuf = bz.out;
  bz.out = nullptr;
  OutBytes = static_cast<int32_t>(produced);
}

bool BZDecompressInto(const void* InBuf, int32_t InBytes, void* OutBuf, int32_t OutCapacity, int32_t& OutBytes) {
  OutBytes = 0;
  if (InBytes <= 0 || !InBuf || !OutBuf || OutCapacity <= 0) return false;
  unsigned int produced = static_cast<unsigned int>(OutCapacity);
  const int rc = BZ2_bzBuffToBuffDecompress(static_cast<char*>(OutBuf), &produced,
                                            static_cast<char*>(const_cast<void*>(InBuf)),
                                            static_cast<unsigned int>(InBytes), 0, 0);
  if (rc != BZ_OK) return false;
  OutBytes = static_cast<int32_t>(produced);
  return OutBytes > 0;
}

}  // namespace orv
