#pragma once
// The focus aids of the live preview as plain decisions, shared by the main window's preview
// frame and its tests. Colours are 0x00BBGGRR.
#include <cstdint>

namespace app {

// The exposure indicator from the saturated-pixel count and the brightness figure of the
// frame's sharpness measure: red when overexposed or far too dark, yellow when dark, else green.
uint32_t ExposureColor(uint32_t ct255, double brf);

// The sharpness panel's colour for a loss of sharpness of d per mille against the stored
// reference: red above 150, orange above 100, yellow above 60, light green above 30, else green.
uint32_t SharpnessLossColor(int64_t d);

}  // namespace app
