#include "platform/fonts/sfnt.h"

namespace platform {

std::string TagText(uint32_t tag) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((tag >> (24 - 8 * i)) & 0xFF);
    s[static_cast<size_t>(i)] = (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return s;
}

void BeReader::Fail() const { throw EFontError("Invalid font data: " + std::string(what_) + " is truncated."); }

uint8_t BeReader::U8(size_t offset) const {
  if (!Has(offset, 1)) Fail();
  return data_[offset];
}

uint16_t BeReader::U16(size_t offset) const {
  if (!Has(offset, 2)) Fail();
  return static_cast<uint16_t>(data_[offset] << 8 | data_[offset + 1]);
}

uint32_t BeReader::U32(size_t offset) const {
  if (!Has(offset, 4)) Fail();
  return static_cast<uint32_t>(data_[offset]) << 24 | static_cast<uint32_t>(data_[offset + 1]) << 16 |
         static_cast<uint32_t>(data_[offset + 2]) << 8 | static_cast<uint32_t>(data_[offset + 3]);
}

std::span<const uint8_t> BeReader::Bytes(size_t offset, size_t count) const {
  if (!Has(offset, count)) Fail();
  return data_.subspan(offset, count);
}

void PutU16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xFF));
}

void PutU32(std::string& out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v >> 16));
  PutU16(out, static_cast<uint16_t>(v & 0xFFFF));
}

void SetU16(std::string& out, size_t offset, uint16_t v) {
  out.at(offset) = static_cast<char>(v >> 8);
  out.at(offset + 1) = static_cast<char>(v & 0xFF);
}

void SetU32(std::string& out, size_t offset, uint32_t v) {
  SetU16(out, offset, static_cast<uint16_t>(v >> 16));
  SetU16(out, offset + 2, static_cast<uint16_t>(v & 0xFFFF));
}

uint32_t SfntChecksum(std::span<const uint8_t> data) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 4 <= data.size(); i += 4) {
    sum += static_cast<uint32_t>(data[i]) << 24 | static_cast<uint32_t>(data[i + 1]) << 16 |
           static_cast<uint32_t>(data[i + 2]) << 8 | static_cast<uint32_t>(data[i + 3]);
  }
  uint32_t last = 0;
  for (size_t k = 0; i + k < data.size(); ++k) last |= static_cast<uint32_t>(data[i + k]) << (24 - 8 * k);
  return sum + last;
}

namespace {

constexpr uint32_t kTrueType = 0x00010000;
constexpr uint32_t kCollection = SfntTag("ttcf");

bool IsFaceVersion(uint32_t v) { return v == kTrueType || v == SfntTag("true") || v == SfntTag("OTTO"); }

}  // namespace

int SfntDirectory::FaceCount(std::span<const uint8_t> file) {
  const BeReader r(file, "font header");
  if (r.size() >= 4 && r.U32(0) == kCollection) {
    const uint32_t n = r.U32(8);
    return n > 0x10000 ? 0 : static_cast<int>(n);
  }
  return 1;
}

SfntDirectory SfntDirectory::Parse(std::span<const uint8_t> file, int faceIndex) {
  const BeReader r(file, "font table directory");
  if (r.size() < 12) throw EFontError("Invalid font data: not a TrueType font file.");
  size_t start = 0;
  if (r.U32(0) == kCollection) {
    const uint32_t faces = r.U32(8);
    if (faceIndex < 0 || static_cast<uint32_t>(faceIndex) >= faces) {
      throw EFontError("Invalid font data: the collection has no face " + std::to_string(faceIndex) + ".");
    }
    start = r.U32(12 + 4 * static_cast<size_t>(faceIndex));
  } else if (faceIndex != 0) {
    throw EFontError("Invalid font data: the file has no face " + std::to_string(faceIndex) + ".");
  }
  SfntDirectory d;
  d.file_ = file;
  d.version_ = r.U32(start);
  if (!IsFaceVersion(d.version_)) throw EFontError("Invalid font data: not a TrueType font file.");
  const uint16_t count = r.U16(start + 4);
  // The whole directory must be there; a file cut inside it is not a font.
  r.Bytes(start + 12, 16u * count);
  d.records_.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t at = start + 12 + 16 * i;
    SfntTableRecord rec{r.U32(at), r.U32(at + 4), r.U32(at + 8), r.U32(at + 12)};
    if (!r.Has(rec.Offset, rec.Length)) continue;
    d.records_.push_back(rec);
  }
  return d;
}

std::optional<std::span<const uint8_t>> SfntDirectory::Find(uint32_t tag) const {
  for (const SfntTableRecord& rec : records_) {
    if (rec.Tag == tag) return file_.subspan(rec.Offset, rec.Length);
  }
  return std::nullopt;
}

}  // namespace platform
