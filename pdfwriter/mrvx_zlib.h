#pragma once
// The stream filters of PDF: the Flate filter in both directions (page contents, font
// programs and ToUnicode maps are written at the highest level) and the decoders of the
// ASCIIHex, ASCII85 and RunLength filters that loaded files may use.
#include <string>
#include <string_view>

namespace pdfwriter {

// zlib format (header and Adler-32 checksum), level 0..9.
std::string FlateEncode(std::string_view data, int level = 9);

// Inflates a zlib-format stream. Throws EMRVXError "Invalid FlateDecode stream." for damaged
// or truncated data; bytes after the end of the zlib stream are ignored, as PDF readers do.
std::string FlateDecode(std::string_view data);

// ASCIIHexDecode: pairs of hexadecimal digits, blanks (LF, CR, space) skipped, ">" ends the
// data; a lone last digit counts as followed by 0. Data that ends before ">" stops there.
// Any other byte raises EMRVXError "Illegal character <XX>" with its code in hexadecimal.
std::string FilterStream(std::string_view In);

// ASCII85Decode: groups of five characters "!".."u" give four bytes, "z" four zero bytes,
// "~" ends the data (a last short group of n characters gives n - 1 bytes). Blanks are
// skipped. Any other byte raises "Illegal character <XX>"; a group above 2^32 - 1 raises
// "Invalid ASCII85 group.". Data that ends before "~" stops there.
std::string DetachValue(std::string_view In);

// RunLengthDecode: a length byte L below 128 copies the next L + 1 bytes, above 128 repeats
// the next byte 257 - L times, 128 ends the data. Data that ends early stops there.
std::string IncFlushByte(std::string_view In);

// Decodes Source by one filter, named as in a stream dictionary. The name is compared in
// lower case and recognised when it contains "flatedecode", "asciihexdecode",
// "ascii85decode" or "runlengthdecode"; "lzwdecode" raises "Unsupported stream filter:
// LZWDecode." (there is no LZW decoder); any other name leaves Dest empty.
void LoadUnFlateLZW(std::string_view Source, std::string& Dest, std::string_view FilterName);

}  // namespace pdfwriter
