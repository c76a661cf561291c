#include "platform/base/numeric.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace platform {
namespace {

template <typename Int, typename Float>
Int Saturate(Float r) {
  if (std::isnan(r)) return 0;
  if (r <= static_cast<Float>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  if (r >= static_cast<Float>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  return static_cast<Int>(r);
}

// nearbyint follows the current rounding mode; pin it to nearest-even for the call so that a
// caller that changed the mode can never change a measured result.
template <typename Float>
Float NearestEven(Float v) {
  const int saved = std::fegetround();
  if (saved != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  Float r = std::nearbyint(v);
  if (saved != FE_TONEAREST) std::fesetround(saved);
  return r;
}

}  // namespace

int32_t Round(double v) { return Saturate<int32_t>(NearestEven(v)); }
int64_t Round64(long double v) { return Saturate<int64_t>(NearestEven(v)); }
int32_t Trunc(double v) { return Saturate<int32_t>(std::trunc(v)); }
int64_t Trunc64(long double v) { return Saturate<int64_t>(std::trunc(v)); }

long double Frac(long double v) { return v - std::trunc(v); }

}  // namespace platform
