#include "analysis/myimage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/base/numeric.h"
#include "platform/image/png_codec.h"

namespace analysis {

namespace {

// The bottom row when it can hold the header, else nullptr.
const uint8_t* HeaderRow(const Bitmap& bmp) {
  if (bmp.Width() < QuirvelHeaderPixels || bmp.Height() < 1) return nullptr;
  return bmp.ScanLine(bmp.Height() - 1);
}

// 0.15 b + 0.5 g + 0.35 r rounded to the nearest integer, ties to even, in exact integers.
uint8_t GrayValue(uint8_t b, uint8_t g, uint8_t r) {
  const int hundredths = 15 * b + 50 * g + 35 * r;
  int v = hundredths / 100;
  const int rest = hundredths % 100;
  if (rest > 50 || (rest == 50 && v % 2 == 1)) ++v;
  return static_cast<uint8_t>(v);
}

}  // namespace

uint32_t Get16BitValue(const uint8_t* ps, int32_t x) {
  const uint8_t* p = ps + 3 * static_cast<ptrdiff_t>(x);
  return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

void Set16BitValue(uint8_t* ps, int32_t x, uint32_t r) {
  uint8_t* p = ps + 3 * static_cast<ptrdiff_t>(x);
  p[0] = static_cast<uint8_t>(r >> 16);
  p[1] = static_cast<uint8_t>(r >> 8);
  p[2] = static_cast<uint8_t>(r);
}

void SetQuirvel(Bitmap& ibmp, int32_t sn, int32_t atype, int32_t m, int32_t c, uint32_t ppi, uint32_t max,
                uint32_t min) {
  Require24Bit(ibmp, "SetQuirvel");
  if (!HeaderRow(ibmp)) return;
  uint8_t* ps = ibmp.ScanLine(ibmp.Height() - 1);
  std::memcpy(ps, QuirvelSignature, 7);
  ps[7] = 0;
  ps[8] = platform::Wrap8(atype);
  Set16BitValue(ps, 3, static_cast<uint32_t>(sn));
  Set16BitValue(ps, 4, static_cast<uint32_t>(m));
  Set16BitValue(ps, 5, static_cast<uint32_t>(c));
  Set16BitValue(ps, 6, ppi);
  Set16BitValue(ps, 7, max);
  Set16BitValue(ps, 8, min);
}

bool GetQuirvel(const Bitmap& ibmp, int32_t& sn, int32_t& atype, int32_t& m, int32_t& c, uint32_t& ppi,
                uint32_t& max, uint32_t& min) {
  Require24Bit(ibmp, "GetQuirvel");
  const uint8_t* ps = HeaderRow(ibmp);
  if (!ps) {
    sn = atype = m = c = 0;
    ppi = max = min = 0;
    return false;
  }
  atype = ps[8];
  sn = static_cast<int32_t>(Get16BitValue(ps, 3));
  m = static_cast<int32_t>(Get16BitValue(ps, 4));
  c = platform::SignExtend24(Get16BitValue(ps, 5));
  ppi = Get16BitValue(ps, 6);
  max = Get16BitValue(ps, 7);
  min = Get16BitValue(ps, 8);
  return std::memcmp(ps, QuirvelSignature, 7) == 0;
}

void LoadBmpAsPng(Bitmap& abmp, const std::string& fn) { abmp = platform::LoadPng(fn); }

void SaveBmpAsPNG(const Bitmap& abmp, const std::string& fn) { platform::SavePng(abmp, fn); }

void TrimImgSize(const Bitmap& FromBit, TRect& aRect) {
  if (aRect.Left < 0) aRect.Left = 0;
  if (aRect.Top < 0) aRect.Top = 0;
  if (aRect.Right > FromBit.Width() - 1) aRect.Right = FromBit.Width() - 1;
  if (aRect.Bottom > FromBit.Height() - 1) aRect.Bottom = FromBit.Height() - 1;
}

void Img2Gray(const Bitmap& sbmp, Bitmap& dbmp) {
  Require24Bit(sbmp, "Img2Gray");
  Require24Bit(dbmp, "Img2Gray");
  const int width = std::min(sbmp.Width(), dbmp.Width());
  const int height = std::min(sbmp.Height(), dbmp.Height());
  if (width == 0) return;
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = sbmp.ScanLine(y);
    uint8_t* dst = dbmp.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const uint8_t* s = src + 3 * x;
      const auto inv = static_cast<uint8_t>(255 - GrayValue(s[0], s[1], s[2]));
      dst[3 * x] = inv;
      dst[3 * x + 1] = inv;
      dst[3 * x + 2] = inv;
    }
  }
}

void ImgRed(Bitmap& sbmp) {
  Require24Bit(sbmp, "ImgRed");
  if (sbmp.Empty()) return;
  for (int y = 0; y < sbmp.Height(); ++y) {
    uint8_t* row = sbmp.ScanLine(y);
    for (int x = 0; x < sbmp.Width(); ++x) {
      row[3 * x] = 0;
      row[3 * x + 1] = 0;
    }
  }
}

void InvImg(const Bitmap& FromBit, Bitmap& NewBit) {
  Require24Bit(FromBit, "InvImg");
  Require24Bit(NewBit, "InvImg");
  const int width = std::min(FromBit.Width(), NewBit.Width());
  const int height = std::min(FromBit.Height(), NewBit.Height());
  if (width == 0) return;
  const size_t bytes = 3 * static_cast<size_t>(width);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = FromBit.ScanLine(y);
    uint8_t* dst = NewBit.ScanLine(y);
    for (size_t i = 0; i < bytes; ++i) dst[i] = static_cast<uint8_t>(255 - src[i]);
  }
}

void Require24Bit(const Bitmap& bmp, const char* routine) {
  if (bmp.GetPixelFormat() != platform::PixelFormat::pf24bit) {
    throw std::invalid_argument(std::string(routine) + " needs a 24-bit bitmap");
  }
}

}  // namespace analysis
