#pragma once
// JPEG files through libjpeg.
//
// Writing takes a quality of 1 (smallest file) to 100 (best picture) on the IJG scale that
// libjpeg and the usual image programs use; values outside are clamped. 24- and 32-bit
// bitmaps are written as colour (YCbCr), 8- and 1-bit ones as gray.
//
// Reading gives a 24-bit bitmap from gray and colour files (baseline or progressive).
// CMYK and arithmetic-coded files are not read. libjpeg repairs damaged data silently with
// gray blocks; we do not: a file that ends early or whose data libjpeg has to warn about is
// an error, and decoding stops at the first such sign.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/image/bitmap.h"

namespace platform {

inline constexpr int kDefaultJpegQuality = 90;

// Throw EImageError (the Load/Save forms name the file in it).
Bitmap DecodeJpeg(std::span<const uint8_t> data);
std::vector<uint8_t> EncodeJpeg(const Bitmap& bmp, int quality = kDefaultJpegQuality);

Bitmap LoadJpeg(const std::string& fileName);
void SaveJpeg(const Bitmap& bmp, const std::string& fileName, int quality = kDefaultJpegQuality);

}  // namespace platform
