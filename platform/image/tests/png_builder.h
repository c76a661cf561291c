#pragma once
// Builds PNG files chunk by chunk with zlib, independent of libpng, so that the tests can
// make every colour type and bit depth and every kind of damage.
#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::testing {

struct PngChunk {
  std::string type;
  std::vector<uint8_t> data;
};

inline void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline std::vector<uint8_t> PngFile(const std::vector<PngChunk>& chunks) {
  std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const PngChunk& c : chunks) {
    PutBE32(out, static_cast<uint32_t>(c.data.size()));
    std::vector<uint8_t> typed(c.type.begin(), c.type.end());
    typed.insert(typed.end(), c.data.begin(), c.data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    PutBE32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
  }
  return out;
}

inline std::vector<uint8_t> Ihdr(uint32_t width, uint32_t height, int bitDepth, int colorType, int interlace = 0) {
  std::vector<uint8_t> d;
  PutBE32(d, width);
  PutBE32(d, height);
  d.push_back(static_cast<uint8_t>(bitDepth));
  d.push_back(static_cast<uint8_t>(colorType));
  d.push_back(0);  // deflate
  d.push_back(0);  // adaptive filters
  d.push_back(static_cast<uint8_t>(interlace));
  return d;
}

inline std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> out(size);
  if (compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) {
    throw std::runtime_error("compress2");
  }
  out.resize(size);
  return out;
}

// Rows of packed samples, each sent with filter type 0.
inline std::vector<uint8_t> RawRows(const std::vector<std::vector<uint8_t>>& rows) {
  std::vector<uint8_t> raw;
  for (const auto& row : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  return raw;
}

// A complete non-interlaced PNG; extra chunks (PLTE, tRNS, gAMA ...) go before the data.
inline std::vector<uint8_t> MakePng(uint32_t width, uint32_t height, int bitDepth, int colorType,
                                    const std::vector<std::vector<uint8_t>>& rows,
                                    const std::vector<PngChunk>& extra = {}) {
  std::vector<PngChunk> chunks{{"IHDR", Ihdr(width, height, bitDepth, colorType)}};
  chunks.insert(chunks.end(), extra.begin(), extra.end());
  chunks.push_back({"IDAT", Deflate(RawRows(rows))});
  chunks.push_back({"IEND", {}});
  return PngFile(chunks);
}

}  // namespace platform::testing
