#pragma once
// Windows BMP files, read and written field by field (little-endian), no library.
//
// Writing: a 24-bit bitmap becomes a 24-bit BI_RGB file with a 40-byte info header, rows
// stored bottom-up (the bitmap's bottom row is the first row in the file) and padded to 4
// bytes, which is the layout every Windows program reads. 8-bit bitmaps are written with a
// 256-entry gray palette, 1-bit ones with a black and white palette, 32-bit ones as 32-bit
// BI_RGB.
//
// Reading gives a 24-bit bitmap from 1-, 4- and 8-bit palette files, 24-bit files and
// 32-bit files (BI_RGB, or BI_BITFIELDS with the standard masks), stored bottom-up or
// top-down, with an OS/2 core header or a Windows info header (40, 52, 56, 108 or 124
// bytes). Compressed files (RLE, JPEG, PNG inside) and 16-bit files are not read. A header
// that claims more pixels or palette than the file holds is an error.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/image/bitmap.h"

namespace platform {

// Throw EImageError (the Load/Save forms name the file in it).
Bitmap DecodeBmp(std::span<const uint8_t> data);
std::vector<uint8_t> EncodeBmp(const Bitmap& bmp);

Bitmap LoadBmp(const std::string& fileName);
void SaveBmp(const Bitmap& bmp, const std::string& fileName);

}  // namespace platform
