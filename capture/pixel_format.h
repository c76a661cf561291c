#pragma once
// Pixel formats of frames and bitmaps by ordinal, as the capture configuration text and the
// motion detector name them (0 the device's own format ... 8 custom).
#include <cstdint>

#include "platform/image/bitmap.h"

namespace capture {

enum TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// The format of a bitmap by that naming.
inline TPixelFormat PixelFormatOf(const platform::Bitmap& bmp) {
  switch (bmp.GetPixelFormat()) {
    case platform::PixelFormat::pf1bit: return pf1bit;
    case platform::PixelFormat::pf8bit: return pf8bit;
    case platform::PixelFormat::pf32bit: return pf32bit;
    default: return pf24bit;
  }
}

}  // namespace capture
