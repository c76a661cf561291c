// PNG files (the archive's pictures, .QVR and .zph images): any bytes decode to a 24-bit
// picture or are refused with an image error; a decoded picture saves and reads back equal.
#include "fuzz/fuzz_support.h"
#include "platform/image/image_error.h"
#include "platform/image/png_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::Bitmap bmp;
  try {
    bmp = platform::DecodePng(std::span<const uint8_t>(data, size));
  } catch (const platform::EImageError&) {
    return 0;
  }
  FUZZ_CHECK(bmp.GetPixelFormat() == platform::PixelFormat::pf24bit && !bmp.Empty());
  FUZZ_CHECK(platform::DecodePng(platform::EncodePng(bmp)) == bmp);
  return 0;
}
