#pragma once
// PNG files through libpng.
//
// Writing is lossless and byte-exact: a 24-bit bitmap becomes 8-bit RGB truecolour whose
// red, green and blue samples are the bitmap's bytes 2, 1 and 0 of each pixel, without
// gamma, colour-space or any other ancillary chunk, so a high-range image survives a save
// and a load bit for bit. 8-bit bitmaps are written as 8-bit gray, 1-bit ones as 1-bit
// gray, 32-bit ones as RGB (the fourth byte is not alpha and is not stored).
//
// Reading always gives a 24-bit bitmap and never changes sample values by gamma:
// gray expands to blue = green = red, palette entries to their colour, 16-bit samples keep
// their high byte, an alpha channel or a transparency chunk is dropped (the colour bytes
// stay as stored), interlaced files are read whole. A file that is cut short, fails a
// checksum or decompresses wrongly is an error, not a partly black picture.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/image/bitmap.h"

namespace platform {

// Throw EImageError (the Load/Save forms name the file in it).
Bitmap DecodePng(std::span<const uint8_t> data);
// How hard the encoder works: Small is the ordinary choice for files; Fast filters every row
// against the one above and lets deflate match only runs of equal bytes, several times quicker
// on a camera's noisy pixels at about the same size (for pictures stored while the operator
// waits). Both decode byte-exact.
enum class PngCompression { Small, Fast };
std::vector<uint8_t> EncodePng(const Bitmap& bmp, PngCompression compression = PngCompression::Small);

Bitmap LoadPng(const std::string& fileName);
void SavePng(const Bitmap& bmp, const std::string& fileName);

}  // namespace platform
