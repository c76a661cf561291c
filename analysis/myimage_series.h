#pragma once
// Combination of an exposure series: the frames of one shutter sweep are registered against
// a common window and added, each scaled to the exposure of the first frame, into one
// high-range image, with robust brightness extremes that ignore a few hot or dead pixels.
#include <array>
#include <cstdint>
#include <span>

#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

namespace analysis {

// Number of shutter steps of the camera.
constexpr int32_t ShutterSteps = 19;

// Exposure factor of each shutter step: step i exposes for 1/IMBR[i] seconds.
inline constexpr std::array<double, ShutterSteps> IMBR = {2,   4,   7.5, 15,  20,   30,   50,   60,   100, 120,
                                                           200, 250, 500, 750, 1000, 2000, 3000, 4000, 5000};

// Last index of the robust extreme lists (111 entries).
constexpr int32_t nmax = 110;

// The largest and the smallest distinct values seen, with how often each was seen. The
// robust extremes of a combination are the count-weighted means of these lists.
struct TExtremeLists {
  std::array<uint32_t, nmax + 1> maxarray{};
  std::array<uint32_t, nmax + 1> maxcount{};
  std::array<uint32_t, nmax + 1> minarray{};
  std::array<uint32_t, nmax + 1> mincount{};
  TExtremeLists() { minarray.fill(0xFFFFFFFFu); }
  void insertmax(uint32_t amax);
  void insertmin(uint32_t amin);
};

// Shift of each frame, measured as the centroid of its Sobel response in a window of
// (2 Mask + 1)² pixels (horizontally centred, starting at the middle row) against the
// window's centre. A shift larger than 4 pixels in either direction is taken as a failed
// measurement and set to (0, 0). Fills DeltaPos[0..count-1] and clears the rest; with fewer
// than two frames every shift is 0. ch is not used.
void OverlayImgs(std::span<const platform::Bitmap> bmps, std::span<platform::TPoint> DeltaPos, int32_t count,
                 int32_t ch, int32_t Mask);

// Writes the combined high-range image of frames 0..count-1 (frame k taken at shutter step
// fromBR + k and sampled at its shift) into fbmp: per pixel the mean of the frames' byte ch,
// each scaled to the exposure of the first frame. The robust maximum and minimum go into
// pixels 0 and 1 of the top row; avg is the mean combined value. Returns max.
// With fewer than two usable frames fbmp is a plain copy of frame frombmp (apart from the two
// top-row fields), max 0, min 0x7FFFFFF and avg 0. count is limited to the frames, the shifts
// and the shutter steps from fromBR on.
uint32_t KombinierenBR(platform::Bitmap& fbmp, std::span<const platform::Bitmap> bmps, int32_t frombmp,
                       int32_t fromBR, int32_t count, int32_t ch, std::span<const platform::TPoint> DeltaPos,
                       uint32_t& max, uint32_t& min, uint32_t& avg);

}  // namespace analysis
