// High-range images (.QVR): a PNG whose bottom row carries the header. Any file is refused
// with an image error, or read with its header and turned into the gray images and histograms
// the main window shows.
#include "analysis/analyze_hist.h"
#include "analysis/myimage.h"
#include "analysis/myimage_gray.h"
#include "fuzz/fuzz_support.h"
#include "platform/image/image_error.h"
#include "platform/image/png_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::Bitmap img;
  try {
    img = platform::DecodePng(std::span<const uint8_t>(data, size));
  } catch (const platform::EImageError&) {
    return 0;
  }
  int32_t sn = 0, atype = 0, m = 0, c = 0;
  uint32_t ppi = 0, max = 0, min = 0;
  analysis::GetQuirvel(img, sn, atype, m, c, ppi, max, min);
  FUZZ_CHECK(atype >= 0 && atype <= 255 && max <= 0xFFFFFF && min <= 0xFFFFFF && ppi <= 0xFFFFFF);
  analysis::THist hist{};
  platform::Bitmap gray;
  analysis::GetGraybmpAndHist(hist, img, gray, max, min);
  FUZZ_CHECK(gray.Width() == img.Width() && gray.Height() == img.Height());
  int32_t shown_max = 0, shown_min = 0;
  analysis::GetGrayBmp16Hist(min, max, 10000, hist, img, gray, m, c, 1.0, shown_max, shown_min);
  analysis::THist dens{};
  analysis::GetDens16bmpAndHist(dens, img, gray, 100, 0);
  return 0;
}
