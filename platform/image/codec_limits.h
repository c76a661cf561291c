#pragma once
// The largest image any decoder accepts, checked before pixel memory is reserved, so that a
// header that claims a giant image is refused instead of exhausting the memory.
#include <cstdint>

#include "platform/image/image_error.h"

namespace platform {

inline constexpr int64_t kMaxImageSide = 65535;
// 64 megapixels (192 MiB as 24-bit): fifty times the camera's 1280 x 1024 frames, and far
// below what a few hundred hostile bytes may claim.
inline constexpr int64_t kMaxImagePixels = int64_t{64} << 20;

inline void CheckDecodedSize(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) throw EImageError(EImageError::Kind::Corrupt, "image without pixels");
  if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels) {
    throw EImageError(EImageError::Kind::Unsupported,
                      "image too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  }
}

}  // namespace platform
