#pragma once
// The Flate filter of PDF streams: zlib-format deflate (page contents, font programs and
// ToUnicode maps are written at the highest level) and its inverse for content that has to
// be read back, such as a page that becomes current a second time.
#include <string>
#include <string_view>

namespace pdfwriter {

// zlib format (header and Adler-32 checksum), level 0..9.
std::string FlateEncode(std::string_view data, int level = 9);

// Inflates a zlib-format stream. Throws EMRVXError "Invalid FlateDecode stream." for damaged
// or truncated data; bytes after the end of the zlib stream are ignored, as PDF readers do.
std::string FlateDecode(std::string_view data);

}  // namespace pdfwriter
