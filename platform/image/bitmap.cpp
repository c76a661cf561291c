#include "platform/image/bitmap.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

namespace {

size_t StrideOf(int width, PixelFormat pf) {
  const size_t bits = static_cast<size_t>(width) * static_cast<size_t>(BitsPerPixel(pf));
  return (bits + 31) / 32 * 4;
}

}  // namespace

int BitsPerPixel(PixelFormat pf) {
  switch (pf) {
    case PixelFormat::pf1bit: return 1;
    case PixelFormat::pf8bit: return 8;
    case PixelFormat::pf24bit: return 24;
    case PixelFormat::pf32bit: return 32;
  }
  throw std::invalid_argument("unknown pixel format");
}

Bitmap::Bitmap(int width, int height, PixelFormat pf) : format_(pf) {
  if (width < 0 || height < 0) {
    throw std::invalid_argument("bitmap size " + std::to_string(width) + " x " + std::to_string(height));
  }
  width_ = width;
  height_ = height;
  stride_ = StrideOf(width, pf);
  pixels_.assign(stride_ * static_cast<size_t>(height), 0);
}

Bitmap::Bitmap(Bitmap&& other) noexcept
    : width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      format_(other.format_),
      stride_(std::exchange(other.stride_, 0)),
      pixels_(std::move(other.pixels_)) {
  other.pixels_.clear();
}

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept {
  if (this != &other) {
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    format_ = other.format_;
    stride_ = std::exchange(other.stride_, 0);
    pixels_ = std::move(other.pixels_);
    other.pixels_.clear();
  }
  return *this;
}

size_t Bitmap::RowBytes() const {
  return (static_cast<size_t>(width_) * static_cast<size_t>(BitsPerPixel(format_)) + 7) / 8;
}

uint8_t* Bitmap::ScanLine(int y) {
  return const_cast<uint8_t*>(std::as_const(*this).ScanLine(y));
}

const uint8_t* Bitmap::ScanLine(int y) const {
  if (y < 0 || y >= height_ || width_ == 0) {
    throw std::out_of_range("scan line " + std::to_string(y) + " of a bitmap of height " +
                            std::to_string(height_));
  }
  return pixels_.data() + stride_ * static_cast<size_t>(y);
}

void Bitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  Bitmap resized(width, height, format_);
  const int rows = std::min(height, height_);
  const size_t bytes = std::min(resized.RowBytes(), RowBytes());
  for (int y = 0; y < rows; ++y) {
    std::memcpy(resized.ScanLine(y), ScanLine(y), bytes);
  }
  // A 1-bit row cut inside a byte keeps bits beyond the new width; clear them so that the
  // pixels that come back on a later widening are black.
  if (format_ == PixelFormat::pf1bit && width < width_ && width % 8 != 0) {
    const auto mask = static_cast<uint8_t>(0xFF00u >> (width % 8));
    for (int y = 0; y < rows; ++y) resized.ScanLine(y)[width / 8] &= mask;
  }
  *this = std::move(resized);
}

void Bitmap::Fill(uint8_t value) { std::fill(pixels_.begin(), pixels_.end(), value); }

bool operator==(const Bitmap& a, const Bitmap& b) {
  if (a.format_ != b.format_ || a.width_ != b.width_ || a.height_ != b.height_) return false;
  if (a.Empty()) return true;
  const size_t bytes = a.RowBytes();
  const size_t tailBits = static_cast<size_t>(a.width_) * static_cast<size_t>(BitsPerPixel(a.format_)) % 8;
  for (int y = 0; y < a.height_; ++y) {
    const uint8_t* ra = a.ScanLine(y);
    const uint8_t* rb = b.ScanLine(y);
    if (tailBits == 0) {
      if (std::memcmp(ra, rb, bytes) != 0) return false;
      continue;
    }
    // 1-bit rows: the bits of the last byte beyond the width are padding too.
    if (std::memcmp(ra, rb, bytes - 1) != 0) return false;
    const auto mask = static_cast<uint8_t>(0xFF00u >> tailBits);
    if ((ra[bytes - 1] & mask) != (rb[bytes - 1] & mask)) return false;
  }
  return true;
}

}  // namespace platform
