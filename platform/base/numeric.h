#pragma once
// Integer conversions the measured results depend on. Everything that turns a measured
// value into an integer goes through here, so that rounding is the same everywhere.
#include <cstdint>

namespace platform {

// The 80-bit float of the original; x86-64 long double has the same 64-bit mantissa.
using Extended = long double;

// Nearest integer, ties to the even neighbour (banker's rounding), independent of the
// current floating-point rounding mode. Values outside the int range saturate.
int32_t Round(double v);
int64_t Round64(long double v);

// Drops the fraction toward zero; values outside the range saturate, NaN gives 0.
int32_t Trunc(double v);
int64_t Trunc64(long double v);

// Integer division that truncates toward zero (the C++ rule, spelled out where it matters).
constexpr int32_t Div(int32_t a, int32_t b) { return a / b; }
// Remainder with the sign of the dividend (Pascal mod).
constexpr int32_t Mod(int32_t a, int32_t b) { return a % b; }

// Low bits of a value, the way fixed-width stores of the original cut them.
constexpr uint8_t Wrap8(int64_t v) { return static_cast<uint8_t>(static_cast<uint64_t>(v) & 0xFFu); }
constexpr uint16_t Wrap16(int64_t v) { return static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xFFFFu); }
constexpr uint32_t Wrap24(int64_t v) { return static_cast<uint32_t>(static_cast<uint64_t>(v) & 0xFFFFFFu); }
// A 24-bit two's complement value back to a signed integer.
constexpr int32_t SignExtend24(uint32_t v) {
  v &= 0xFFFFFFu;
  return (v & 0x800000u) ? static_cast<int32_t>(v | 0xFF000000u) : static_cast<int32_t>(v);
}

// Fractional part with the sign of the argument (Pascal Frac).
long double Frac(long double v);

}  // namespace platform
