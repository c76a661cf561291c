#include "platform/image/bmp_codec.h"

#include <array>
#include <cstring>

#include "platform/image/codec_limits.h"
#include "platform/image/image_error.h"
#include "platform/image/image_file.h"

namespace platform {

namespace {

using Kind = EImageError::Kind;

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

// Reads little-endian fields; every read is checked against the end of the data.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> data) : data_(data) {}
  bool Has(uint64_t offset, uint64_t length) const { return offset <= data_.size() && length <= data_.size() - offset; }
  uint16_t U16(uint64_t offset) const {
    Need(offset, 2);
    return static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8);
  }
  uint32_t U32(uint64_t offset) const {
    Need(offset, 4);
    return static_cast<uint32_t>(data_[offset]) | static_cast<uint32_t>(data_[offset + 1]) << 8 |
           static_cast<uint32_t>(data_[offset + 2]) << 16 | static_cast<uint32_t>(data_[offset + 3]) << 24;
  }
  int32_t I32(uint64_t offset) const { return static_cast<int32_t>(U32(offset)); }
  const uint8_t* At(uint64_t offset) const { return data_.data() + offset; }
  void Need(uint64_t offset, uint64_t length) const {
    if (!Has(offset, length)) throw EImageError(Kind::Truncated, "BMP data ends early");
  }

 private:
  std::span<const uint8_t> data_;
};

struct Bgr {
  uint8_t b, g, r;
};

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFFu);
  Put16(out, v >> 16);
}

}  // namespace

Bitmap DecodeBmp(std::span<const uint8_t> data) {
  const Reader in(data);
  if (data.size() < 2) {
    if (data.empty() || data[0] == 'B') throw EImageError(Kind::Truncated, "BMP data ends early");
    throw EImageError(Kind::Corrupt, "not a BMP file");
  }
  if (data[0] != 'B' || data[1] != 'M') throw EImageError(Kind::Corrupt, "not a BMP file");
  const uint32_t pixelOffset = in.U32(10);
  const uint32_t headerSize = in.U32(14);
  const bool infoHeader = headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 || headerSize == 124;
  if (headerSize != kCoreHeaderSize && !infoHeader) {
    throw EImageError(Kind::Unsupported, "BMP header of " + std::to_string(headerSize) + " bytes");
  }
  in.Need(kFileHeaderSize, headerSize);

  int64_t width = 0;
  int64_t height = 0;
  uint32_t bitCount = 0;
  uint32_t compression = kBiRgb;
  uint32_t colorsUsed = 0;
  uint32_t paletteEntrySize = 4;
  uint64_t paletteOffset = kFileHeaderSize + uint64_t{headerSize};
  if (headerSize == kCoreHeaderSize) {
    width = in.U16(18);
    height = in.U16(20);
    bitCount = in.U16(24);
    paletteEntrySize = 3;
  } else {
    width = in.I32(18);
    height = in.I32(22);
    bitCount = in.U16(28);
    compression = in.U32(30);
    colorsUsed = in.U32(46);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  CheckDecodedSize(width, height);

  if (compression == kBiBitfields && bitCount == 32) {
    // The masks follow a 40-byte header and are part of the longer ones.
    const uint64_t masks = kFileHeaderSize + kInfoHeaderSize;
    if (headerSize == kInfoHeaderSize) paletteOffset += 12;
    if (in.U32(masks) != 0x00FF0000u || in.U32(masks + 4) != 0x0000FF00u || in.U32(masks + 8) != 0x000000FFu) {
      throw EImageError(Kind::Unsupported, "BMP with unusual colour masks");
    }
  } else if (compression != kBiRgb) {
    throw EImageError(Kind::Unsupported, "compressed BMP (method " + std::to_string(compression) + ")");
  }
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) {
    throw EImageError(Kind::Unsupported, "BMP with " + std::to_string(bitCount) + " bits per pixel");
  }

  std::array<Bgr, 256> palette{};
  uint32_t paletteSize = 0;
  if (bitCount <= 8) {
    const uint32_t maxColors = 1u << bitCount;
    paletteSize = colorsUsed == 0 ? maxColors : colorsUsed;
    if (paletteSize > maxColors) throw EImageError(Kind::Corrupt, "BMP palette larger than its bit depth allows");
    in.Need(paletteOffset, uint64_t{paletteSize} * paletteEntrySize);
    for (uint32_t i = 0; i < paletteSize; ++i) {
      const uint8_t* e = in.At(paletteOffset + uint64_t{i} * paletteEntrySize);
      palette[i] = Bgr{e[0], e[1], e[2]};
    }
  }
  if (pixelOffset < kFileHeaderSize + uint64_t{headerSize}) throw EImageError(Kind::Corrupt, "BMP pixels inside the header");

  const uint64_t stride = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
  const uint64_t rowBytes = (static_cast<uint64_t>(width) * bitCount + 7) / 8;
  // The last row may lack its padding; every row must be there.
  in.Need(pixelOffset, stride * static_cast<uint64_t>(height - 1) + rowBytes);

  Bitmap bmp(static_cast<int>(width), static_cast<int>(height), PixelFormat::pf24bit);
  for (int64_t fileRow = 0; fileRow < height; ++fileRow) {
    const uint8_t* src = in.At(pixelOffset + stride * static_cast<uint64_t>(fileRow));
    uint8_t* dst = bmp.ScanLine(static_cast<int>(topDown ? fileRow : height - 1 - fileRow));
    if (bitCount == 24) {
      std::memcpy(dst, src, static_cast<size_t>(rowBytes));
      continue;
    }
    for (int64_t x = 0; x < width; ++x) {
      Bgr c{};
      if (bitCount == 32) {
        c = Bgr{src[4 * x], src[4 * x + 1], src[4 * x + 2]};
      } else {
        const uint64_t bit = static_cast<uint64_t>(x) * bitCount;
        const unsigned shift = 8 - bitCount - static_cast<unsigned>(bit % 8);
        const uint32_t index = (src[bit / 8] >> shift) & ((1u << bitCount) - 1);
        if (index >= paletteSize) throw EImageError(Kind::Corrupt, "BMP pixel outside its palette");
        c = palette[index];
      }
      dst[3 * x] = c.b;
      dst[3 * x + 1] = c.g;
      dst[3 * x + 2] = c.r;
    }
  }
  return bmp;
}

std::vector<uint8_t> EncodeBmp(const Bitmap& bmp) {
  if (bmp.Empty()) throw EImageError(Kind::Unsupported, "an empty bitmap cannot be saved as BMP");
  const uint32_t bitCount = static_cast<uint32_t>(BitsPerPixel(bmp.GetPixelFormat()));
  const uint32_t paletteSize = bitCount <= 8 ? 1u << bitCount : 0;
  const uint64_t imageBytes = uint64_t{bmp.Stride()} * static_cast<uint64_t>(bmp.Height());
  const uint64_t pixelOffset = kFileHeaderSize + kInfoHeaderSize + 4 * uint64_t{paletteSize};
  if (pixelOffset + imageBytes > 0xFFFFFFFFu) throw EImageError(Kind::Unsupported, "bitmap too large for BMP");

  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(pixelOffset + imageBytes));
  out.push_back('B');
  out.push_back('M');
  Put32(out, static_cast<uint32_t>(pixelOffset + imageBytes));
  Put32(out, 0);  // reserved
  Put32(out, static_cast<uint32_t>(pixelOffset));
  Put32(out, kInfoHeaderSize);
  Put32(out, static_cast<uint32_t>(bmp.Width()));
  Put32(out, static_cast<uint32_t>(bmp.Height()));  // positive: bottom-up
  Put16(out, 1);                                    // planes
  Put16(out, bitCount);
  Put32(out, kBiRgb);
  Put32(out, static_cast<uint32_t>(imageBytes));
  Put32(out, 0);  // no resolution stated
  Put32(out, 0);
  Put32(out, 0);  // all palette entries used
  Put32(out, 0);
  for (uint32_t i = 0; i < paletteSize; ++i) {
    const auto v = static_cast<uint8_t>(paletteSize == 2 ? i * 255 : i);
    out.insert(out.end(), {v, v, v, 0});
  }
  // The bitmap's rows are already DIB rows (same padding, zeroed spare bytes); only their
  // order turns round.
  for (int y = bmp.Height() - 1; y >= 0; --y) {
    const uint8_t* row = bmp.ScanLine(y);
    out.insert(out.end(), row, row + bmp.Stride());
  }
  return out;
}

Bitmap LoadBmp(const std::string& fileName) { return LoadImageFile(fileName, DecodeBmp); }

void SaveBmp(const Bitmap& bmp, const std::string& fileName) {
  SaveImageFile(fileName, [&] { return EncodeBmp(bmp); });
}

}  // namespace platform
