// The metafile translator's bitmap records (part of the MRVXWmf module): the device-
// independent bits of a record are read (after checking every size and offset against the
// record), drawn into a new bitmap with the record's raster operation, registered as an image
// of the document and placed on the page.
#include <algorithm>
#include <cmath>
#include <string>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_doc_page.h"
#include "pdfwriter/mrvx_wmf.h"
#include "platform/image/bitmap.h"

namespace pdfwriter {
namespace {

// Larger pictures than this many pixels are refused before any memory is taken for them, and
// one replay makes no more picture pixels than that in all (a report page holds a few camera
// images of 1.3 megapixels).
constexpr int64_t kMaxPixels = int64_t{1} << 24;

[[noreturn]] void Unsupported(const std::string& what) {
  throw EMRVXError("Unsupported metafile bitmap: " + what + ".");
}

// A device-independent bitmap inside a record. Pixel() answers 0x00RRGGBB for a pixel counted
// from the top-left corner, black outside the picture or outside the scan lines present.
struct Dib {
  int W = 0, H = 0;
  bool TopDown = false;
  int Bits = 0;
  bool Fields = false;
  uint32_t Masks[3] = {0, 0, 0};
  std::vector<uint32_t> Palette;
  size_t Stride = 0;
  int FirstScan = 0, Scans = 0;  // rows present, counted from the bottom
  const TMRVXWmf::Rec* R = nullptr;
  size_t BitsAt = 0;

  static uint32_t Channel(uint32_t v, uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const uint32_t max = mask >> shift;
    return ((v & mask) >> shift) * 255 / max;
  }

  // Coordinates in 64 bits: a record's source position plus an offset may leave 32 bits.
  uint32_t Pixel(int64_t x, int64_t y) const {
    if (x < 0 || y < 0 || x >= W || y >= H) return 0;
    int64_t row = 0;
    if (TopDown) {
      row = y;
      if (row >= Scans) return 0;
    } else {
      row = H - 1 - y - FirstScan;
      if (row < 0 || row >= Scans) return 0;
    }
    const size_t at = BitsAt + static_cast<size_t>(row) * Stride;
    switch (Bits) {
      case 1: return Palette[(R->U8(at + static_cast<size_t>(x) / 8) >> (7 - x % 8)) & 1];
      case 4: return Palette[(R->U8(at + static_cast<size_t>(x) / 2) >> (x % 2 ? 0 : 4)) & 0xF];
      case 8: return Palette[R->U8(at + static_cast<size_t>(x))];
      case 16: {
        const uint32_t v = R->U16(at + 2 * static_cast<size_t>(x));
        if (!Fields) return Channel(v, 0x7C00) << 16 | Channel(v, 0x03E0) << 8 | Channel(v, 0x001F);
        return Channel(v, Masks[0]) << 16 | Channel(v, Masks[1]) << 8 | Channel(v, Masks[2]);
      }
      case 24: {
        const size_t p = at + 3 * static_cast<size_t>(x);
        return static_cast<uint32_t>(R->U8(p + 2)) << 16 | static_cast<uint32_t>(R->U8(p + 1)) << 8 | R->U8(p);
      }
      default: {
        const uint32_t v = R->U32(at + 4 * static_cast<size_t>(x));
        if (!Fields) return v & 0xFFFFFF;
        return Channel(v, Masks[0]) << 16 | Channel(v, Masks[1]) << 8 | Channel(v, Masks[2]);
      }
    }
  }
};

Dib ReadDib(const TMRVXWmf::Rec& R, uint32_t OffBmi, uint32_t CbBmi, uint32_t OffBits, uint32_t CbBits,
            uint32_t Usage, int FirstScan = 0, int Scans = -1) {
  R.NeedItems(OffBmi, CbBmi, 1);
  R.NeedItems(OffBits, CbBits, 1);
  if (CbBmi < 40) Unsupported("a bitmap header of " + std::to_string(CbBmi) + " bytes");
  const uint32_t header = R.U32(OffBmi);
  if (header < 40 || header > CbBmi) R.Fail();
  Dib d;
  d.R = &R;
  const int32_t w = R.I32(OffBmi + 4), h = R.I32(OffBmi + 8);
  d.Bits = R.U16(OffBmi + 14);
  const uint32_t compression = R.U32(OffBmi + 16);
  const uint32_t used = R.U32(OffBmi + 32);
  if (w <= 0 || h == 0 || h == INT32_MIN) R.Fail();
  d.W = w;
  d.TopDown = h < 0;
  d.H = h < 0 ? -h : h;
  if (static_cast<int64_t>(d.W) * d.H > kMaxPixels) Unsupported("a picture of " + std::to_string(d.W) + " x " + std::to_string(d.H) + " pixels");
  if (d.Bits != 1 && d.Bits != 4 && d.Bits != 8 && d.Bits != 16 && d.Bits != 24 && d.Bits != 32)
    Unsupported(std::to_string(d.Bits) + " bits per pixel");
  if (Usage != 0) Unsupported("palette-index colours");
  size_t table_at = OffBmi + header;
  if (compression == 3 && (d.Bits == 16 || d.Bits == 32)) {
    d.Fields = true;
    if (header == 40) {
      R.NeedItems(table_at, 3, 4);
      if (table_at + 12 > static_cast<size_t>(OffBmi) + CbBmi) R.Fail();
      table_at += 12;
    }
    for (int i = 0; i < 3; ++i) d.Masks[i] = R.U32(OffBmi + 40 + 4 * static_cast<size_t>(i));
  } else if (compression != 0) {
    Unsupported("compression " + std::to_string(compression));
  }
  if (d.Bits <= 8) {
    const uint32_t full = 1u << d.Bits;
    const uint32_t n = used == 0 || used > full ? full : used;
    if (table_at + 4 * static_cast<size_t>(n) > static_cast<size_t>(OffBmi) + CbBmi) R.Fail();
    d.Palette.assign(full, 0);
    for (uint32_t i = 0; i < n; ++i) {
      const size_t p = table_at + 4 * static_cast<size_t>(i);
      d.Palette[i] = static_cast<uint32_t>(R.U8(p + 2)) << 16 | static_cast<uint32_t>(R.U8(p + 1)) << 8 | R.U8(p);
    }
  }
  d.Stride = (static_cast<size_t>(d.W) * static_cast<size_t>(d.Bits) + 31) / 32 * 4;
  d.FirstScan = std::max(0, FirstScan);
  d.Scans = Scans < 0 ? d.H : std::min(Scans, d.H);
  if (static_cast<uint64_t>(d.Stride) * static_cast<uint64_t>(d.Scans) > CbBits) R.Fail();
  d.BitsAt = OffBits;
  return d;
}

// A ternary raster operation on one byte of pattern, source and destination.
uint8_t Rop3(uint8_t Code, uint8_t P, uint8_t S, uint8_t D) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) {
    if (!((Code >> i) & 1)) continue;
    const auto pick = [](bool on, uint8_t v) { return on ? v : static_cast<uint8_t>(~v); };
    r |= pick(i & 4, P) & pick(i & 2, S) & pick(i & 1, D);
  }
  return r;
}

// A new 24-bit picture of W x H: pixel (x, y) takes the source at Source(x, y) through the
// raster operation, on the black of a new bitmap and with the brush as pattern. Budget counts
// the replay's picture pixels.
template <class F>
platform::Bitmap Render(int64_t& Budget, int W, int H, uint32_t Rop, uint32_t Brush, F Source) {
  if (W <= 0 || H <= 0 || static_cast<int64_t>(W) * H > kMaxPixels)
    Unsupported("a picture of " + std::to_string(W) + " x " + std::to_string(H) + " pixels");
  if (Budget + static_cast<int64_t>(W) * H > kMaxPixels)
    Unsupported("more than " + std::to_string(kMaxPixels) + " picture pixels on one page");
  Budget += static_cast<int64_t>(W) * H;
  platform::Bitmap b(W, H, platform::PixelFormat::pf24bit);
  // The operation on one channel depends on the source byte only: one table per channel.
  const uint8_t code = static_cast<uint8_t>(Rop >> 16);
  const uint8_t pattern[3] = {static_cast<uint8_t>(Brush >> 16), static_cast<uint8_t>(Brush >> 8),
                              static_cast<uint8_t>(Brush)};
  uint8_t table[3][256];
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 256; ++v) table[c][v] = Rop3(code, pattern[c], static_cast<uint8_t>(v), 0);
  for (int y = 0; y < H; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < W; ++x) {
      const uint32_t s = Source(x, y);
      row[3 * x] = table[0][s & 0xFF];
      row[3 * x + 1] = table[1][(s >> 8) & 0xFF];
      row[3 * x + 2] = table[2][(s >> 16) & 0xFF];
    }
  }
  return b;
}

bool NamedRop(uint32_t Rop) {
  static const uint32_t named[] = {0x00000042, 0x001100A6, 0x00330008, 0x00440328, 0x00550009,
                                   0x005A0049, 0x00660046, 0x008800C6, 0x00BB0226, 0x00C000CA,
                                   0x00CC0020, 0x00EE0086, 0x00F00021, 0x00FB0A09, 0x00FF0062};
  return std::find(std::begin(named), std::end(named), Rop) != std::end(named);
}

}  // namespace

void TMRVXWmf::PlaceImage(const platform::Bitmap& Image, bool Mono, Extended X, Extended Y, Extended W,
                          Extended H) {
  const int index =
      FDocument->AddImage(Image, Mono ? TMRVXImageCompressionType::icCCITT42 : TMRVXImageCompressionType::icFlate);
  FPage->ShowImage(index, X, Y, W, H, 0);
}

void TMRVXWmf::PlaceAtBounds(const Rec& R, const platform::Bitmap& Image, bool Mono) {
  const int32_t l = R.I32(8), t = R.I32(12), r = R.I32(16), b = R.I32(20);
  PlaceImage(Image, Mono, ScaleX(static_cast<float>(l), false), ScaleY(static_cast<float>(t), false),
             ScaleX(static_cast<float>(int64_t{r} - l), false), ScaleY(static_cast<float>(int64_t{b} - t), false));
}

void TMRVXWmf::VEMRBITBLT(const Rec& R) {
  const uint32_t rop = R.U32(40);
  if (!NamedRop(rop)) return;
  const bool run = FTextContinue;
  if (run) SetTextContinue(false);
  const int32_t xd = R.I32(24), yd = R.I32(28), cx = R.I32(32), cy = R.I32(36);
  const uint32_t cb_bmi = R.U32(88), cb_bits = R.U32(96);
  if (cb_bmi != 0 && cb_bits != 0) {
    const Dib dib = ReadDib(R, R.U32(84), cb_bmi, R.U32(92), cb_bits, R.U32(80));
    const int32_t xs = R.I32(44), ys = R.I32(48);
    PlaceAtBounds(R, Render(PicturePixels, cx, cy, rop, CurrentBrush.lbColor,
                            [&](int x, int y) { return dib.Pixel(int64_t{xs} + x, int64_t{ys} + y); }),
                  false);
  } else if (cx != 0 && cy != 0) {
    SetBrushColor(!MadeClip);
    FPage->MFRectangle(ScaleX(static_cast<float>(xd), true), ScaleY(static_cast<float>(yd), true),
                       ScaleX(static_cast<float>(int64_t{xd} + cx), true),
                       ScaleY(static_cast<float>(int64_t{yd} + cy), true));
    FPage->Fill();
  } else {
    FPage->NewPath();
  }
  if (run) SetTextContinue(true);
}

void TMRVXWmf::VEMRSTRETCHBLT(const Rec& R, bool Alpha) {
  const int32_t xd = R.I32(24), yd = R.I32(28), cx = R.I32(32), cy = R.I32(36);
  const uint32_t off_bmi = R.U32(84), off_bits = R.U32(92);
  const bool has = Alpha ? R.I32(100) >= 1 && R.I32(104) >= 1 : off_bmi != 0 && off_bits != 0;
  if (has) {
    const Dib dib = ReadDib(R, off_bmi, R.U32(88), off_bits, R.U32(96), R.U32(80));
    platform::Bitmap image;
    if (Alpha) {
      // Blended onto the black of a new bitmap: the source weighed by the constant alpha.
      const int32_t xs = R.I32(44), ys = R.I32(48);
      const uint32_t alpha = (R.U32(40) >> 16) & 0xFF;
      image = Render(PicturePixels, R.I32(100), R.I32(104), 0x00CC0020, 0, [&](int x, int y) {
        const uint32_t s = dib.Pixel(int64_t{xs} + x, int64_t{ys} + y);
        uint32_t out = 0;
        for (int k = 0; k < 24; k += 8) out |= (((s >> k) & 0xFF) * alpha / 255) << k;
        return out;
      });
    } else {
      // The whole picture stretched over the destination size; the source rectangle is not used.
      const int64_t lw = std::llabs(static_cast<int64_t>(cx)), lh = std::llabs(static_cast<int64_t>(cy));
      if (lw > INT32_MAX || lh > INT32_MAX) Unsupported("a destination of " + std::to_string(lw) + " pixels");
      const int w = static_cast<int>(lw), h = static_cast<int>(lh);
      image = Render(PicturePixels, w, h, R.U32(40), CurrentBrush.lbColor, [&](int x, int y) {
        return dib.Pixel(static_cast<int64_t>(x) * dib.W / w, static_cast<int64_t>(y) * dib.H / h);
      });
    }
    PlaceAtBounds(R, image, false);
  } else if (cx != 0 && cy != 0) {
    FPage->MFRectangle(ScaleX(static_cast<float>(xd), true), ScaleY(static_cast<float>(yd), true),
                       ScaleX(static_cast<float>(int64_t{xd} + cx), true),
                       ScaleY(static_cast<float>(int64_t{yd} + cy), true));
    FPage->Fill();
  } else {
    FPage->NewPath();
  }
}

void TMRVXWmf::VEMRSETDIBITSTODEVICE(const Rec& R) {
  const int32_t xs = R.I32(32), ys = R.I32(36), cx = R.I32(40), cy = R.I32(44);
  const Dib dib = ReadDib(R, R.U32(48), R.U32(52), R.U32(56), R.U32(60), R.U32(64), R.I32(68), R.I32(72));
  const platform::Bitmap image =
      Render(PicturePixels, cx, cy, 0x00CC0020, 0,
             [&](int x, int y) { return dib.Pixel(int64_t{xs} + x, int64_t{ys} + y); });
  PlaceImage(image, false, ScaleX(static_cast<float>(R.I32(8)), false), ScaleY(static_cast<float>(R.I32(12)), false),
             static_cast<Extended>(ZoomX()) * PosiX * ZScaleX * cx, static_cast<Extended>(ZoomY()) * PosiY * ZScaleY * cy);
}

void TMRVXWmf::VEMRSTRETCHDIBITS(const Rec& R) {
  const int32_t xs = R.I32(32), ys = R.I32(36), cxs = R.I32(40), cys = R.I32(44);
  const uint32_t rop = R.U32(68);
  const int32_t cxd = R.I32(72), cyd = R.I32(76);
  const Dib dib = ReadDib(R, R.U32(48), R.U32(52), R.U32(56), R.U32(60), R.U32(64));
  const int32_t l = R.I32(8), t = R.I32(12), r = R.I32(16), b = R.I32(20);
  const bool empty_bounds = int64_t{r} - l < 1 || int64_t{b} - t < 1;
  if (dib.Bits == 1 && !empty_bounds) {
    // The source rectangle stretched over a monochrome picture of the bitmap's own size.
    if (cxs <= 0 || cys <= 0) Unsupported("an empty source rectangle");
    const platform::Bitmap colour = Render(PicturePixels, dib.W, dib.H, rop, CurrentBrush.lbColor, [&](int x, int y) {
      return dib.Pixel(xs + static_cast<int64_t>(x) * cxs / dib.W, ys + static_cast<int64_t>(y) * cys / dib.H);
    });
    platform::Bitmap mono(dib.W, dib.H, platform::PixelFormat::pf1bit);
    for (int y = 0; y < dib.H; ++y) {
      const uint8_t* s = colour.ScanLine(y);
      uint8_t* d = mono.ScanLine(y);
      for (int x = 0; x < dib.W; ++x)
        if (s[3 * x] + s[3 * x + 1] + s[3 * x + 2] >= 3 * 128) d[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    PlaceAtBounds(R, mono, true);
    return;
  }
  const platform::Bitmap image =
      Render(PicturePixels, cxs, cys, rop, CurrentBrush.lbColor,
             [&](int x, int y) { return dib.Pixel(int64_t{xs} + x, int64_t{ys} + y); });
  if (!empty_bounds) {
    PlaceAtBounds(R, image, false);
  } else {
    PlaceImage(image, false, ScaleX(static_cast<float>(R.I32(24)), true), ScaleY(static_cast<float>(R.I32(28)), true),
               static_cast<Extended>(ZoomX()) * PosiX * ZScaleX * cxd,
               static_cast<Extended>(ZoomY()) * PosiY * ZScaleY * cyd);
  }
}

}  // namespace pdfwriter
