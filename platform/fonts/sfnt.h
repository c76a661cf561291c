#pragma once
// Reading TrueType (sfnt) font files safely. A font file is input like any other: every read
// is checked against the bytes that are there, and a file that lies about its own layout
// raises EFontError instead of being read past its end.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Every failure of the font layer: a file that is not a font, a table that contradicts
// itself, a face that cannot be found.
class EFontError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The four characters of a table tag as one big-endian number ("glyf" -> 0x676C7966).
constexpr uint32_t SfntTag(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(s[3]));
}
// The tag as text, for messages ("glyf"; bytes outside printable ASCII as '?').
std::string TagText(uint32_t tag);

// Big-endian reads over a byte range. Every read outside the range throws EFontError naming
// `what`, so the caller never sees a value that was not in the data.
class BeReader {
 public:
  BeReader() = default;
  BeReader(std::span<const uint8_t> data, std::string_view what) : data_(data), what_(what) {}

  size_t size() const { return data_.size(); }
  std::span<const uint8_t> data() const { return data_; }
  bool Has(size_t offset, size_t count) const { return offset <= data_.size() && count <= data_.size() - offset; }

  uint8_t U8(size_t offset) const;
  uint16_t U16(size_t offset) const;
  int16_t S16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
  uint32_t U32(size_t offset) const;
  int32_t S32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  // A sub-range; throws when it does not lie inside this one.
  std::span<const uint8_t> Bytes(size_t offset, size_t count) const;
  BeReader Sub(size_t offset, size_t count) const { return BeReader(Bytes(offset, count), what_); }

  [[noreturn]] void Fail() const;

 private:
  std::span<const uint8_t> data_;
  std::string_view what_ = "font data";
};

// Big-endian writes for building font programs.
void PutU16(std::string& out, uint16_t v);
void PutU32(std::string& out, uint32_t v);
void SetU16(std::string& out, size_t offset, uint16_t v);
void SetU32(std::string& out, size_t offset, uint32_t v);

// The sum of a table's big-endian 32-bit words, the last word padded with zeros.
uint32_t SfntChecksum(std::span<const uint8_t> data);

struct SfntTableRecord {
  uint32_t Tag = 0;
  uint32_t Checksum = 0;
  uint32_t Offset = 0;
  uint32_t Length = 0;
};

// The table directory of one face of a font file (a plain TrueType/OpenType file, or one
// face of a collection). Tables whose records point outside the file are left out, so that
// Find never hands out a range that is not in the data.
class SfntDirectory {
 public:
  SfntDirectory() = default;
  // Throws EFontError when the data is not an sfnt file or the face index does not exist.
  static SfntDirectory Parse(std::span<const uint8_t> file, int faceIndex = 0);

  // The bytes of a table, or nothing when the face has no such table.
  std::optional<std::span<const uint8_t>> Find(uint32_t tag) const;
  bool Contains(uint32_t tag) const { return Find(tag).has_value(); }
  const std::vector<SfntTableRecord>& Records() const { return records_; }
  uint32_t Version() const { return version_; }
  // Number of faces of a collection (1 for a plain file).
  static int FaceCount(std::span<const uint8_t> file);

 private:
  std::span<const uint8_t> file_;
  uint32_t version_ = 0;
  std::vector<SfntTableRecord> records_;
};

}  // namespace platform
