#include "platform/video/media_type.h"

#include <cstdlib>
#include <limits>

namespace platform::video {

size_t DibStride(int32_t width, int bitCount) {
  if (width < 0 || bitCount <= 0 || bitCount > 64) return 0;
  const uint64_t bits = static_cast<uint64_t>(width) * static_cast<uint64_t>(bitCount);
  return static_cast<size_t>(((bits + 31) / 32) * 4);
}

size_t DibImageSize(const BitmapInfoHeader& h) {
  const size_t stride = DibStride(h.biWidth, h.biBitCount);
  const uint64_t rows = static_cast<uint64_t>(std::llabs(static_cast<long long>(h.biHeight)));
  if (stride != 0 && rows > std::numeric_limits<size_t>::max() / stride) return 0;
  return stride * static_cast<size_t>(rows);
}

BitmapInfoHeader Rgb24Header(int32_t width, int32_t height) {
  BitmapInfoHeader h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = 24;
  h.biSizeImage = static_cast<uint32_t>(DibImageSize(h));
  return h;
}

}  // namespace platform::video
