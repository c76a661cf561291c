#pragma once
// Colours as the drawing code of the whole program passes them: 0x00BBGGRR, red in the low
// byte. Zero and negative values (the original's system colours) draw black.
#include <cstdint>

namespace platform {

using TColor = int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clYellow = 0x00FFFF;

constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (b << 16); }
constexpr uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c); }
constexpr uint8_t GetGValue(TColor c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t GetBValue(TColor c) { return static_cast<uint8_t>(c >> 16); }

}  // namespace platform
