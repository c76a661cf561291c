#pragma once
// The complex number of the frequency analysis. Both parts are 80-bit extended floats so
// that spectra keep the precision of the sums formed over a whole 1024 x 1024 image.
#include "platform/base/numeric.h"

namespace analysis {

struct tcomplex {
  platform::Extended r = 0;  // real part
  platform::Extended i = 0;  // imaginary part
};

}  // namespace analysis
