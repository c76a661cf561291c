#pragma once
// Conversions of camera frames into the 24-bit bottom-up bitmap every device delivers.
//
// YUYV (YUY2): two pixels in four bytes Y0 U Y1 V, top row first, ITU-R BT.601 with the
// studio range (Y 16..235, U and V 128 +- 112) as USB cameras send it; converted with the
// usual 8-bit fixed-point coefficients and clamped to 0..255.
// MJPEG: each frame one JPEG image (full-range YCbCr as JPEG defines it), also frames
// without their own Huffman tables, as many cameras send them.
//
// Both fail (false, nothing promised about `dst`) when the source is shorter than the frame
// it claims, when a JPEG is damaged or of another size, or when `dst` is too small.
#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::video {

// One BT.601 studio-range sample to blue, green and red.
struct Bgr {
  uint8_t b, g, r;
  friend bool operator==(const Bgr&, const Bgr&) = default;
};
Bgr YuvToBgr(uint8_t y, uint8_t u, uint8_t v);
// The studio-range luma of a gray level (its inverse up to rounding: YuvToBgr(GrayToY(g),
// 128, 128) is g within one level).
uint8_t GrayToY(uint8_t gray);

// `srcStride` is the byte distance of two source rows (at least 2 * width).
bool YuyvToBgrDib(std::span<const uint8_t> src, size_t srcStride, int width, int height, std::span<uint8_t> dst);
bool MjpegToBgrDib(std::span<const uint8_t> jpeg, int width, int height, std::span<uint8_t> dst);

}  // namespace platform::video
