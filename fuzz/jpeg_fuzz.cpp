// JPEG files (pictures for reports, baseline and progressive): any bytes decode to a 24-bit
// picture of the stated size or are refused with an image error; a decoded picture saves and
// reads back at its size.
#include "fuzz/fuzz_support.h"
#include "platform/image/image_error.h"
#include "platform/image/jpeg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::Bitmap bmp;
  try {
    bmp = platform::DecodeJpeg(std::span<const uint8_t>(data, size));
  } catch (const platform::EImageError&) {
    return 0;
  }
  FUZZ_CHECK(bmp.GetPixelFormat() == platform::PixelFormat::pf24bit && !bmp.Empty());
  if (static_cast<int64_t>(bmp.Width()) * bmp.Height() <= 1 << 20) {
    const platform::Bitmap again = platform::DecodeJpeg(platform::EncodeJpeg(bmp, 75));
    FUZZ_CHECK(again.Width() == bmp.Width() && again.Height() == bmp.Height());
  }
  return 0;
}
