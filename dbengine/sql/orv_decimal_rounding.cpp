#include "dbengine/sql/orv_decimal_rounding.h"

#include <cmath>

namespace orv {

namespace {

constexpr long double kTwo63 = 9223372036854775808.0L;

// I of the rounding: an already integral value as a 64-bit integer; false beyond the 64-bit
// range, where the conversion has no result.
bool ToInt64(long double Integral, int64_t& I) {
  if (!(Integral >= -kTwo63 && Integral < kTwo63)) return false;
  I = std::llrintl(Integral);
  return true;
}

// Nearest 64-bit integer, ties to even (the default rounding mode; never changed here).
bool Round(long double x, int64_t& I) { return ToInt64(std::nearbyintl(x), I); }

}  // namespace

bool IsNAN(long double ext) { return !std::isfinite(ext); }

long double DecimalRound(long double Value, int32_t NDFD, double MaxRelErr, tDecimalRoundingCtrl Ctrl) {
  if (IsNAN(Value) || Ctrl == drNone) return Value;

  // 10^|NDFD|; beyond the extended range it stays infinite (no point in going on).
  const int64_t digits = NDFD < 0 ? -static_cast<int64_t>(NDFD) : NDFD;
  long double m = 1.0L;
  for (int64_t k = 0; k < digits && std::isfinite(m); ++k) m *= 10.0L;

  const long double error = std::fabs(static_cast<long double>(MaxRelErr) * Value);
  long double scaled = 0, scaled_err = 0;
  if (NDFD >= 0) {
    scaled = Value * m;
    scaled_err = error * m;
  } else {
    scaled = Value / m;
    scaled_err = error / m;
  }
  if (!std::isfinite(scaled) || std::isnan(scaled_err)) return Value;

  const long double magnitude = std::fabs(scaled);
  int64_t I = 0;
  bool ok = true;
  if (scaled_err >= 0.25L) {
    // The error window spans half a grid step or more: the value cannot be told from its
    // nearest grid value, so it is taken as lying on it. (The windowed formulas below would
    // step by up to twice the window.)
    ok = Round(scaled, I);
  } else {
    switch (Ctrl) {
      case drHalfEven: {
        int64_t J = 0;
        ok = Round(scaled - scaled_err, I) && Round(scaled + scaled_err, J);
        if (I % 2 != 0) I = J;
        break;
      }
      case drHalfPos: ok = Round(scaled + scaled_err, I); break;
      case drHalfNeg: ok = Round(scaled - scaled_err, I); break;
      case drHalfDown: ok = Round(magnitude - scaled_err, I); break;
      case drHalfUp: ok = Round(magnitude + scaled_err, I); break;
      // The truncating modes: a value within the window of a grid value stays on it. floor and
      // ceil keep a tiny value's side of zero, which a shift by one half would round away.
      case drRndNeg: ok = ToInt64(std::floor(scaled + scaled_err), I); break;
      case drRndPos: ok = ToInt64(std::ceil(scaled - scaled_err), I); break;
      case drRndDown: ok = ToInt64(std::floor(magnitude + scaled_err), I); break;
      case drRndUp: ok = ToInt64(std::ceil(magnitude - scaled_err), I); break;
      default: ok = Round(scaled, I); break;
    }
  }
  // A scaled value beyond the 64-bit integers already has no digit at this position.
  if (!ok) return Value;

  long double result = 0;
  if (NDFD >= 0)
    result = static_cast<long double>(I) / m;
  else
    result = I == 0 ? 0.0L : static_cast<long double>(I) * m;
  const bool on_magnitude =
      scaled_err < 0.25L && (Ctrl == drHalfDown || Ctrl == drHalfUp || Ctrl == drRndDown || Ctrl == drRndUp);
  if (on_magnitude && !(Value >= 0)) result = -result;
  return result;
}

long double DecimalRoundDbl(double Value, int32_t NDFD, tDecimalRoundingCtrl Ctrl) {
  return DecimalRound(Value, NDFD, static_cast<double>(MaxRelErrDbl), Ctrl);
}

}  // namespace orv
