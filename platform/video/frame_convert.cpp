#include "platform/video/frame_convert.h"

#include <algorithm>
#include <cstring>

#include "platform/image/image_error.h"
#include "platform/image/jpeg_codec.h"
#include "platform/video/media_type.h"

namespace platform::video {
namespace {

uint8_t Clamp8(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

Bgr YuvToBgr(uint8_t y, uint8_t u, uint8_t v) {
  const int c = 298 * (static_cast<int>(y) - 16);
  const int d = static_cast<int>(u) - 128;
  const int e = static_cast<int>(v) - 128;
  return Bgr{Clamp8((c + 516 * d + 128) >> 8), Clamp8((c - 100 * d - 208 * e + 128) >> 8),
             Clamp8((c + 409 * e + 128) >> 8)};
}

uint8_t GrayToY(uint8_t gray) { return static_cast<uint8_t>(16 + (219 * gray + 127) / 255); }

bool YuyvToBgrDib(std::span<const uint8_t> src, size_t srcStride, int width, int height, std::span<uint8_t> dst) {
  if (width <= 0 || height <= 0) return false;
  const size_t pairs = (static_cast<size_t>(width) + 1) / 2;
  if (srcStride < pairs * 4) return false;
  if (src.size() < srcStride * static_cast<size_t>(height - 1) + pairs * 4) return false;
  const size_t dstStride = DibStride(width, 24);
  if (dst.size() < dstStride * static_cast<size_t>(height)) return false;
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = src.data() + srcStride * static_cast<size_t>(y);
    uint8_t* d = dst.data() + dstStride * static_cast<size_t>(height - 1 - y);
    for (int x = 0; x < width; x += 2, s += 4) {
      const Bgr p0 = YuvToBgr(s[0], s[1], s[3]);
      *d++ = p0.b;
      *d++ = p0.g;
      *d++ = p0.r;
      if (x + 1 < width) {
        const Bgr p1 = YuvToBgr(s[2], s[1], s[3]);
        *d++ = p1.b;
        *d++ = p1.g;
        *d++ = p1.r;
      }
    }
    std::memset(d, 0, dstStride - static_cast<size_t>(width) * 3);
  }
  return true;
}

bool MjpegToBgrDib(std::span<const uint8_t> jpeg, int width, int height, std::span<uint8_t> dst) {
  if (width <= 0 || height <= 0) return false;
  const size_t dstStride = DibStride(width, 24);
  if (dst.size() < dstStride * static_cast<size_t>(height)) return false;
  Bitmap frame;
  try {
    frame = DecodeJpeg(jpeg);
  } catch (const EImageError&) {
    return false;  // a damaged frame is dropped; the next one may be fine
  }
  if (frame.Width() != width || frame.Height() != height || frame.GetPixelFormat() != PixelFormat::pf24bit) {
    return false;
  }
  for (int y = 0; y < height; ++y) {
    uint8_t* d = dst.data() + dstStride * static_cast<size_t>(height - 1 - y);
    std::memcpy(d, frame.ScanLine(y), static_cast<size_t>(width) * 3);
    std::memset(d + static_cast<size_t>(width) * 3, 0, dstStride - static_cast<size_t>(width) * 3);
  }
  return true;
}

}  // namespace platform::video
