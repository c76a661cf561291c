#pragma once
// The frame-difference motion detector of the live preview. Its detection comes with the
// capture subsystem; until then the component holds its image event.
#include <functional>

#include "platform/image/bitmap.h"

namespace capture {

class TMotionDetect_bmp {
 public:
  // Raised with the frame after the detector has painted its mask into it.
  std::function<void(platform::Bitmap& bmp)> OnImage;
};

}  // namespace capture
