#include "dbengine/storage/orv_bzip2.h"

#include <bzlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/base/numeric.h"

namespace orv {
namespace {

constexpr int64_t kMaxOut = INT32_MAX - 4096;

std::string ErrorText(int rc) { return "error " + std::to_string(rc); }

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
  const int64_t step = std::max<int64_t>(((static_cast<int64_t>(InBytes) * 10 + 65535) / 65536) * 65536, 65536);
  int64_t size = OutEstimate > 0 ? OutEstimate : step;
  for (;;) {
    auto* out = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!out) throw std::bad_alloc();
    unsigned int produced = static_cast<unsigned int>(size);
    const int rc = BZ2_bzBuffToBuffDecompress(out, &produced, static_cast<char*>(const_cast<void*>(InBuf)),
                                              static_cast<unsigned int>(InBytes), 0, 0);
    if (rc == BZ_OK) {
      OutBuf = out;
      OutBytes = static_cast<int32_t>(produced);
      return;
    }
    std::free(out);
    if (rc != BZ_OUTBUFF_FULL) throw EBZDecompressionError(ErrorText(rc));
    if (size + step > kMaxOut) throw std::bad_alloc();
    size += step;
  }
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
