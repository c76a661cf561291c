#pragma once
// The fixed image shape of the analysis. Kept apart from analyze.h so that the image model
// and the array images can use it without pulling in the measurement state.
#include <cstdint>

namespace analysis {

constexpr int32_t ImWidth = 1280;
constexpr int32_t ImHeight = 1024;

}  // namespace analysis
