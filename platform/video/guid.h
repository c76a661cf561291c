#pragma once
// A 128-bit interface or type identifier as the camera interfaces and the capture
// configuration text use it: 32-bit, two 16-bit fields and eight bytes. Its byte form (the
// configuration text stores it so) is the memory order of the original structure: the three
// number fields little-endian, then the eight bytes.
#include <array>
#include <cstdint>
#include <span>

namespace platform::video {

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  std::array<uint8_t, 8> D4{};

  friend bool operator==(const TGUID&, const TGUID&) = default;

  std::array<uint8_t, 16> Bytes() const;
  static TGUID FromBytes(std::span<const uint8_t, 16> bytes);
};

inline constexpr TGUID kGuidNull{};

// Media types named by a four-character code share one pattern: the code in the first field,
// the rest fixed. Codes are written as they read ("YUY2"): first character in the low byte.
constexpr uint32_t FourCC(const char (&code)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24;
}
constexpr TGUID FourCCGuid(uint32_t fourcc) {
  return TGUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

}  // namespace platform::video
