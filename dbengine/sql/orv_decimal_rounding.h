#pragma once
// Rounding of binary floating-point values to decimal fraction digits, such that a value that
// lies on a decimal boundary up to the representation error of its binary format (2.675 is
// stored as 2.67499999...) counts as lying exactly on it. The SQL function ROUND uses it.
// Everything is computed in long double, the 80-bit extended format on x86-64.
#include <cstdint>

namespace orv {

enum tDecimalRoundingCtrl : uint8_t {
  drNone,      // no rounding: the value comes back unchanged
  drHalfEven,  // nearest; a half-way value to the even neighbour
  drHalfPos,   // nearest; a half-way value toward positive infinity
  drHalfNeg,   // nearest; a half-way value toward negative infinity
  drHalfDown,  // nearest; a half-way value toward zero
  drHalfUp,    // nearest; a half-way value away from zero
  drRndNeg,    // down to the grid value at or below (floor)
  drRndPos,    // up to the grid value at or above (ceiling)
  drRndDown,   // toward zero (truncation)
  drRndUp,     // away from zero
};

// Machine epsilons of the single, double and extended formats.
inline constexpr long double SglEps = 1.1920928955e-07L;
inline constexpr long double DblEps = 2.2204460493e-16L;
inline constexpr long double ExtEps = 1.0842021725e-19L;
inline constexpr long double KnownErrorLimit = 1.234375L;
inline constexpr long double SafetyFactor = 2.0L;
// The largest relative error up to which a value still counts as lying on a boundary.
inline constexpr long double MaxRelErrSgl = SglEps * KnownErrorLimit * SafetyFactor;
inline constexpr long double MaxRelErrDbl = DblEps * KnownErrorLimit * SafetyFactor;
inline constexpr long double MaxRelErrExt = ExtEps * KnownErrorLimit * SafetyFactor;
// The exponent field of an extended value with every exponent bit set.
inline constexpr uint16_t ExtExpBits = 0x7FFF;

// x87 control-word masks, kept with the rounding routines for callers that set the FPU
// themselves; the routines do not use them (they rely on the default round-to-nearest).
inline constexpr uint16_t IM = 1, DM = 2, ZM = 4, OM = 8, UM = 16, PM = 32, IntrM = 63;
inline constexpr uint16_t PC = 768, pcSingle = 0, pcDouble = 512, pcExtended = 768;
inline constexpr uint16_t RC = 3072, rcBankers = 0, rcFloor = 1024, rcCeil = 2048, rcChop = 3072;

// Rounds Value to NDFD decimal fraction digits (a negative NDFD rounds to tens, hundreds ...)
// under Ctrl, taking values within MaxRelErr (relative) of a boundary as on it. NaN and
// infinities come back unchanged, and so does a value that carries no digit at the asked
// position: one whose scaled magnitude is beyond the 64-bit integers or whose error window
// spans half a grid step or more.
long double DecimalRound(long double Value, int32_t NDFD, double MaxRelErr, tDecimalRoundingCtrl Ctrl);
// DecimalRound with the error bound of a double.
long double DecimalRoundDbl(double Value, int32_t NDFD, tDecimalRoundingCtrl Ctrl);

// True for a NaN and for an infinity (the extended significand of an infinity carries the
// explicit integer bit, so both have a non-zero significand under an all-ones exponent).
bool IsNAN(long double ext);

}  // namespace orv
