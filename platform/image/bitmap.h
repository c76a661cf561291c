#pragma once
// A device-independent bitmap in the memory layout of a Windows DIB section, but top-down:
// row 0 is the top row as displayed. Each row is padded to a multiple of 4 bytes, so a
// 24-bit row of width w takes (3w + 3) & ~3 bytes. A 24-bit pixel is 3 bytes in the order
// blue, green, red; pixel x of a row starts at byte 3x.
//
// The pixel format is chosen when a bitmap is made and stays: resizing keeps it, and no
// routine converts a bitmap in place. Files always load as 24-bit.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

enum class PixelFormat {
  pf1bit,   // 1 bit per pixel, most significant bit first; 0 black, 1 white
  pf8bit,   // 8-bit gray, 0 black .. 255 white (no palette)
  pf24bit,  // blue, green, red
  pf32bit,  // blue, green, red and a fourth byte that is carried along but never read as alpha
};

// Bits per pixel of a format (1, 8, 24 or 32).
int BitsPerPixel(PixelFormat pf);

class Bitmap {
 public:
  // An empty 24-bit bitmap (0 x 0); Empty() is true and there is no scan line.
  Bitmap() = default;
  // A black bitmap (every byte 0). Throws std::invalid_argument for a negative size.
  Bitmap(int width, int height, PixelFormat pf = PixelFormat::pf24bit);

  // Copies are deep; a moved-from bitmap is empty.
  Bitmap(const Bitmap&) = default;
  Bitmap& operator=(const Bitmap&) = default;
  Bitmap(Bitmap&& other) noexcept;
  Bitmap& operator=(Bitmap&& other) noexcept;

  int Width() const { return width_; }
  int Height() const { return height_; }
  PixelFormat GetPixelFormat() const { return format_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  // Bytes from the start of one row to the start of the next (a multiple of 4).
  size_t Stride() const { return stride_; }
  // Bytes of a row that hold pixels, without the padding.
  size_t RowBytes() const;

  // The first byte of row y (0 = top). Throws std::out_of_range for y outside 0..Height-1
  // and for a bitmap without pixels, so fixed-size code that walks past the bitmap stops
  // instead of writing elsewhere.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;

  // All rows, top row first, Stride() apart (for handing the pixels to a widget or a codec).
  uint8_t* Bits() { return pixels_.data(); }
  const uint8_t* Bits() const { return pixels_.data(); }

  // Changes the size and keeps the pixel format. The overlap of the old and the new size
  // keeps its pixels (anchored at the top-left corner); pixels that were not there before
  // are black.
  void SetSize(int width, int height);

  // Sets every pixel byte (padding included) to value.
  void Fill(uint8_t value);

  // Same format, same size and the same pixel bytes; the padding bytes do not count.
  friend bool operator==(const Bitmap& a, const Bitmap& b);

 private:
  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::pf24bit;
  size_t stride_ = 0;
  std::vector<uint8_t> pixels_;
};

}  // namespace platform
