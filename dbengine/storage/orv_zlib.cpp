#include "dbengine/storage/orv_zlib.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dbengine/storage/orv_compression.h"

namespace orv {
namespace {

// Sizes are 32-bit throughout the engine's buffer routines.
constexpr int64_t kMaxOut = INT32_MAX - 4096;

void* Grow(void* p, int64_t size) {
  void* q = std::realloc(p, static_cast<size_t>(size));
  if (!q) {
    std::free(p);
    throw std::bad_alloc();
  }
  return q;
}

}  // namespace

void ZLIBCompressBuf(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes, uint8_t compMode) {
  OutBuf = nullptr;
  OutBytes = 0;
  if (InBytes < 0 || (!InBuf && InBytes > 0)) throw ECompressionError("error " + std::to_string(Z_STREAM_ERROR));
  int64_t size = ((static_cast<int64_t>(InBytes) + InBytes / 10 + 12 + 255) / 256) * 256;
  auto* out = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size), 1));
  if (!out) throw std::bad_alloc();
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  int rc = deflateInit2(&zs, compMode, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  if (rc < 0) {
    std::free(out);
    throw ECompressionError("error " + std::to_string(rc));
  }
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  zs.avail_in = static_cast<uInt>(InBytes);
  zs.next_out = out;
  zs.avail_out = static_cast<uInt>(size);
  try {
    for (;;) {
      rc = deflate(&zs, Z_FINISH);
      if (rc == Z_STREAM_END) break;
      if (rc < 0 && rc != Z_BUF_ERROR) throw ECompressionError("error " + std::to_string(rc));
      if (zs.avail_out == 0) {
        if (size + 256 > kMaxOut) throw std::bad_alloc();
        const int64_t used = size;
        out = static_cast<uint8_t*>(Grow(out, size + 256));
        size += 256;
        std::memset(out + used, 0, 256);
        zs.next_out = out + used;
        zs.avail_out = 256;
      }
    }
  } catch (...) {
    deflateEnd(&zs);
    std::free(out);
    throw;
  }
  const int64_t produced = static_cast<int64_t>(zs.total_out);
  rc = deflateEnd(&zs);
  if (rc < 0) {
    std::free(out);
    throw ECompressionError("error " + std::to_string(rc));
  }
  if (produced > 0 && produced < size) out = static_cast<uint8_t*>(Grow(out, produced));
  OutBuf = out;
  OutBytes = static_cast<int32_t>(produced);
}

void ZLIBDecompressBuf(const void* InBuf, int32_t InBytes, int32_t OutEstimate, void*& OutBuf, int32_t& OutBytes) {
  OutBuf = nullptr;
  OutBytes = 0;
  if (InBytes <= 0 || !InBuf) return;
  // What the output may grow to: the caller's expected size, or the engine's cap when the
  // caller does not know it. Memory is taken as the output really grows, never on the word
  // of a size stored beside the data.
  const int64_t limit = DecompressionLimit(OutEstimate);
  const int64_t step = std::max<int64_t>(((static_cast<int64_t>(InBytes) + 255) / 256) * 256, 256);
  int64_t size = DecompressionFirstAllocation(OutEstimate, step);
  auto* out = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
  if (!out) throw std::bad_alloc();
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  zs.avail_in = static_cast<uInt>(InBytes);
  if (inflateInit2(&zs, 15) != Z_OK) {
    std::free(out);
    return;
  }
  zs.next_out = out;
  zs.avail_out = static_cast<uInt>(size);
  bool ok = false;
  try {
    for (;;) {
      const int rc = inflate(&zs, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        ok = true;
        break;
      }
      // Only Z_OK is progress. A preset dictionary (Z_NEED_DICT), corrupt data, a stream
      // that ends early (Z_BUF_ERROR with room left) or any other answer ends the call.
      if (rc != Z_OK && !(rc == Z_BUF_ERROR && zs.avail_out == 0)) break;
      if (zs.avail_out > 0) {
        if (zs.avail_in == 0) break;  // no more input and no end of stream: truncated
        continue;
      }
      if (size >= limit) {
        // The output fills all it may have: only the end of the stream may follow. One
        // byte of room tells a stream that ends here from one that would grow past it.
        uint8_t probe = 0;
        zs.next_out = &probe;
        zs.avail_out = 1;
        ok = inflate(&zs, Z_NO_FLUSH) == Z_STREAM_END && zs.avail_out == 1;
        break;
      }
      // Geometric growth: a stream that inflates far costs linear, not quadratic, copying.
      const int64_t used = size;
      size = std::min(limit, std::max(size + step, size * 2));
      out = static_cast<uint8_t*>(Grow(out, size));
      zs.next_out = out + used;
      zs.avail_out = static_cast<uInt>(size - used);
    }
  } catch (...) {
    inflateEnd(&zs);
    std::free(out);
    throw;
  }
  const int64_t produced = static_cast<int64_t>(zs.total_out);
  inflateEnd(&zs);
  if (!ok || produced == 0 || produced > limit) {
    std::free(out);
    return;
  }
  if (produced < size) out = static_cast<uint8_t*>(Grow(out, produced));
  OutBuf = out;
  OutBytes = static_cast<int32_t>(produced);
}

bool ZLIBDecompressInto(const void* InBuf, int32_t InBytes, void* OutBuf, int32_t OutCapacity, int32_t& OutBytes) {
  OutBytes = 0;
  if (InBytes <= 0 || !InBuf || !OutBuf || OutCapacity <= 0) return false;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  zs.avail_in = static_cast<uInt>(InBytes);
  if (inflateInit2(&zs, 15) != Z_OK) return false;
  zs.next_out = static_cast<Bytef*>(OutBuf);
  zs.avail_out = static_cast<uInt>(OutCapacity);
  const int rc = inflate(&zs, Z_FINISH);
  const bool ok = rc == Z_STREAM_END;
  OutBytes = ok ? static_cast<int32_t>(zs.total_out) : 0;
  inflateEnd(&zs);
  return ok && OutBytes > 0;
}

}  // namespace orv
