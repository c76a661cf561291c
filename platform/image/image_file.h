#pragma once
// Whole-file reads and writes for the image codecs. The codecs work on bytes in memory, so
// a decoder never sees a half-read file and an encoder has finished before the file is
// touched.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/image/bitmap.h"

namespace platform {

// The largest image file we read (an uncompressed 1280 x 1024 BMP is under 4 MiB).
inline constexpr uint64_t kMaxImageFileBytes = uint64_t{1} << 30;

// The whole file. Throws EImageError: NotFound, ReadFailed (a folder, no permission, an I/O
// error) or Unsupported (larger than kMaxImageFileBytes).
std::vector<uint8_t> ReadImageFile(const std::string& fileName);

// Creates or replaces the file with data. Every write, the flush to the disk and the close
// are checked; when one fails, the partly written file is removed (only a regular file:
// a device or pipe given as the name is never removed) and EImageError WriteFailed is
// thrown. A name that cannot be opened for writing leaves an existing file as it was.
void WriteImageFile(const std::string& fileName, std::span<const uint8_t> data);

// The Load and Save functions of the codecs: read and decode, or encode and write, with
// every EImageError naming the file.
Bitmap LoadImageFile(const std::string& fileName, Bitmap (*decode)(std::span<const uint8_t>));
void SaveImageFile(const std::string& fileName, const std::function<std::vector<uint8_t>()>& encode);

}  // namespace platform
