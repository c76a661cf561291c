#pragma once
// Profile strings: the ini files of the application (settings, calibration, device profiles).
//
// Files are Windows-1252 bytes; every text here is a std::string of raw bytes. The reading
// rules are those the settings code has always relied on:
// - `[Section]` lines open a section, `key=value` lines belong to the last section opened.
//   Lines starting with ';' are comments. A line without '=' inside a section is a key whose
//   value is empty.
// - Section and key names compare without regard to case (ASCII and the Latin letters of the
//   code page) and without their surrounding blanks; the first matching section and, in it,
//   the first matching key win. Later duplicates are ignored by every operation.
// - A value is trimmed of blanks and tabs and loses one pair of matching surrounding quotes
//   ('...' or "...").
// - A missing file, section or key yields the caller's default; a missing file is never an
//   error. A file that exists but cannot be read also yields the defaults; its error text is
//   reported through the optional `error` argument.
// - A leading UTF-8 byte-order mark is skipped when reading and kept when writing.
//
// Writes change the file in place: the line of an existing key is replaced, a missing key is
// added at the end of its section, a missing section (or file) is appended. Every other byte
// of the file stays as it was. New lines end in CRLF, unless the file already uses bare LF.
// The new content goes to a temporary file beside the old one, which then replaces it with
// one rename, so a failed write never leaves a truncated file behind.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The value of `key` in `section`, cut to `bufferLength` - 1 bytes as a fixed buffer of that
// many characters would hold it (0 or less gives an empty text). The default is used, also cut,
// when the file, the section or the key is missing; its trailing blanks are dropped.
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                                    int bufferLength, const std::string& path, std::string* error = nullptr);

// The value read as an integer: leading blanks, an optional sign and the leading decimal
// digits; 0 when the value does not start with a number. `def` when the key is missing or its
// value is empty. Values beyond the 32-bit range saturate.
int32_t GetPrivateProfileInt(std::string_view section, std::string_view key, int32_t def, const std::string& path,
                             std::string* error = nullptr);

// Writes `key=value` into `section`, creating the file, the section or the key as needed.
// Returns false (and the reason in `error`) when the file could not be written, or when a
// name or the value would break the line structure (line breaks, '=' in a key, ']' in a
// section name, an empty section name). The file is then unchanged.
bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path, std::string* error = nullptr);

// Removes every line of `key` from the first section named `section`. Returns true when the
// file now holds no such key (also when it never did or the file is missing).
bool DeletePrivateProfileKey(std::string_view section, std::string_view key, const std::string& path,
                             std::string* error = nullptr);

// Removes the first section named `section` with all its lines.
bool DeletePrivateProfileSection(std::string_view section, const std::string& path, std::string* error = nullptr);

// Section names in file order, each once (spelled as at its first occurrence).
std::vector<std::string> GetPrivateProfileSectionNames(const std::string& path, std::string* error = nullptr);

// Key names of the first section named `section`, in file order, each once.
std::vector<std::string> GetPrivateProfileKeys(std::string_view section, const std::string& path,
                                               std::string* error = nullptr);

// Compares two names the way sections and keys are matched.
bool ProfileNamesEqual(std::string_view a, std::string_view b);

}  // namespace platform
