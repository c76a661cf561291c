#pragma once
// Text files as lists of lines, the way the program's language files and report texts have
// always been kept: read with or without a byte-order mark, written as UTF-8 with one and
// CR LF line ends. And the one way a file is replaced without ever leaving half of it.
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A file that could not be read or written; the text names the file and the reason.
class ETextFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decodes the bytes of a text file to UTF-8: a byte-order mark makes them UTF-8 or UTF-16
// (either byte order); without one they are Windows-1252. Malformed sequences become U+FFFD.
std::string DecodeTextFile(std::string_view bytes);

// Splits a decoded text into lines: CR LF, LF and CR each end a line; a last line without an
// ending counts, an empty rest does not.
std::vector<std::string> SplitLines(std::string_view text);

// The lines of a text file (DecodeTextFile, then SplitLines). Throws ETextFileError when the
// file cannot be read or is larger than max_bytes.
std::vector<std::string> ReadTextFileLines(const std::string& path, size_t max_bytes = 16u << 20);

// Writes the lines as UTF-8 with a byte-order mark, each line followed by CR LF, through
// ReplaceFile. Throws ETextFileError.
void WriteTextFileLines(const std::string& path, const std::vector<std::string>& lines);

// Replaces `path` with `bytes`: they go into a new file beside it, which is flushed to the
// disk and then renamed over the name in one step. Readers see the old file or the new one,
// never a part; a failure leaves whatever was there and removes the new file. A symbolic
// link of that name is itself replaced: the file it pointed to is not touched. The new
// file's permissions follow the process's umask. Throws ETextFileError.
void ReplaceFile(const std::string& path, std::span<const uint8_t> bytes);
void ReplaceFile(const std::string& path, std::string_view bytes);

}  // namespace platform
