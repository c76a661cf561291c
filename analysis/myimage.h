#pragma once
// The image model of the analysis: high-range pixels packed into 24-bit bitmaps, the header
// areas that travel inside the pixel data of a high-range image, the high-range image files
// (.QVR, zero references and plain PNGs), the summed-area array image and a few whole-image
// helpers.
//
// A high-range pixel is one unsigned 24-bit value packed big-endian into the pixel's three
// bytes: byte 0 (the blue position) holds bits 23..16, byte 1 (green) bits 15..8, byte 2
// (red) bits 7..0. Saved as PNG, the file's red, green and blue samples therefore hold the
// low, middle and high byte.
//
// Header areas inside the pixels:
//   top row, bytes 0..8: maximum and minimum of the combined series (24-bit each), then an
//     origin marker repeated in three bytes (0 capture or zero image, 1 converted or loaded
//     from a high-range file, 2 loaded from a plain bitmap or PNG);
//   bottom row, bytes 0..26: "QUIRVEL", a zero byte, the analysis page, then serial number,
//     m, c (24-bit two's complement), pixels per inch x 100, maximum and minimum as pixels 3..8.
//
// Any bitmap may arrive here: files of other sizes and depths load as 24-bit bitmaps of
// their own size, and what to do with a size other than ImWidth x ImHeight is the caller's
// decision. None of these routines reads or writes outside a bitmap: the header routines
// need a bottom row of at least 9 pixels and otherwise write nothing and read nothing, the
// image routines work over the overlap of their bitmaps' sizes. They all expect 24-bit
// bitmaps; another pixel format is a programming error (std::invalid_argument).
#include <cstdint>
#include <string>

#include "analysis/analyze_consts.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

namespace analysis {

using platform::Bitmap;
using platform::TRect;

// Signed 32-bit per pixel, indexed [x][y] with one spare column and row (0..ImWidth,
// 0..ImHeight): the summed-area table. About 5 MiB, so it lives on the heap
// (std::make_unique<TIntImg>() gives a zeroed one), never on the stack.
struct TIntImg {
  int32_t e[ImWidth + 1][ImHeight + 1];
  int32_t* operator[](int32_t x) { return e[x]; }
  const int32_t* operator[](int32_t x) const { return e[x]; }
};
using PIntImg = TIntImg*;

// The signature at the start of the bottom row of a high-range image.
inline constexpr char QuirvelSignature[] = "QUIRVEL";
// Bytes of the bottom-row header and the width it needs.
inline constexpr int32_t QuirvelHeaderBytes = 27;
inline constexpr int32_t QuirvelHeaderPixels = 9;

// The 24-bit value of pixel x of a 24-bit scan line: byte 3x * 65536 + byte 3x+1 * 256 +
// byte 3x+2. The caller keeps x inside the line.
// Every image routine of the analysis reads and writes 3 bytes per pixel: another pixel format
// is a programming error and must not turn into reads past the rows. Throws
// std::invalid_argument naming the routine.
void Require24Bit(const Bitmap& bmp, const char* routine);

uint32_t Get16BitValue(const uint8_t* ps, int32_t x);
// Stores the low 24 bits of r into pixel x of a 24-bit scan line (high byte first).
void Set16BitValue(uint8_t* ps, int32_t x, uint32_t r);

// Writes the bottom-row header: signature, 0, the low byte of atype, then sn, m, c, ppi,
// max and min (each cut to 24 bits) as pixels 3..8. Nothing else changes. A bitmap
// narrower than 9 pixels or without rows is left as it is.
void SetQuirvel(Bitmap& ibmp, int32_t sn, int32_t atype, int32_t m, int32_t c, uint32_t ppi, uint32_t max,
                uint32_t min);

// Reads the bottom-row header. True only when the first seven bytes are the signature
// (byte 7 is not looked at). The out-values are filled from whatever bytes stand there in
// any case: atype 0..255, c sign-extended from bit 23, the others unsigned 24-bit. On a
// bitmap narrower than 9 pixels or without rows: False and every out-value 0.
bool GetQuirvel(const Bitmap& ibmp, int32_t& sn, int32_t& atype, int32_t& m, int32_t& c, uint32_t& ppi,
                uint32_t& max, uint32_t& min);

// Loads a PNG file (.QVR, .zph, .png) into abmp with the file's own size, as 24-bit; a
// 24-bit truecolour file arrives byte for byte, header areas included. Throws
// platform::EImageError on failure and then leaves abmp as it was.
void LoadBmpAsPng(Bitmap& abmp, const std::string& fn);
// Saves abmp as a lossless 24-bit truecolour PNG: every byte, both header areas included,
// is stored exactly. Throws platform::EImageError; a failed save leaves no file behind.
void SaveBmpAsPNG(const Bitmap& abmp, const std::string& fn);

// Clamps a rectangle of inclusive pixel coordinates to the bitmap: Left and Top below 0
// become 0, Right above Width-1 becomes Width-1, Bottom above Height-1 becomes Height-1.
// Nothing else is corrected (a Left beyond the right edge stays).
void TrimImgSize(const Bitmap& FromBit, TRect& aRect);

// Inverted gray: v = 0.15 blue + 0.5 green + 0.35 red of the sbmp pixel, rounded to the
// nearest integer with ties to even (computed exactly in hundredths, so a tie is a tie),
// and 255 - v into blue, green and red of the dbmp pixel; over the pixels both bitmaps have,
// the rest of dbmp stays. sbmp and dbmp may be the same bitmap.
void Img2Gray(const Bitmap& sbmp, Bitmap& dbmp);

// Sets blue and green of every pixel to 0, so that only the red byte (the low byte of a
// high-range value) remains.
void ImgRed(Bitmap& sbmp);

// 255 minus each byte of every FromBit pixel into NewBit, over the pixels both bitmaps
// have; the rest of NewBit stays. The two may be the same bitmap.
void InvImg(const Bitmap& FromBit, Bitmap& NewBit);

}  // namespace analysis
