#include "capture/motiondetect.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace capture {

namespace {

// A buffer of `size` zero bytes, or none when it cannot be had.
void ReAlloc(std::vector<uint8_t>& buffer, size_t size) {
  try {
    std::vector<uint8_t>(size, 0).swap(buffer);
  } catch (const std::bad_alloc&) {
    std::vector<uint8_t>().swap(buffer);
  }
}

platform::PixelFormat BitmapFormat(TPixelFormat pf, bool& ok) {
  ok = true;
  switch (pf) {
    case pf8bit: return platform::PixelFormat::pf8bit;
    case pf24bit: return platform::PixelFormat::pf24bit;
    case pf32bit: return platform::PixelFormat::pf32bit;
    default: ok = false; return platform::PixelFormat::pf24bit;
  }
}

}  // namespace

uint64_t tick64() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TMotionDetect::TMotionDetect() : fTick(tick64) {}

TMotionDetect::~TMotionDetect() = default;

void TMotionDetect::reset() {
  hasMotion = false;
  value = 0;
  lightness = 0;
  maxDiff = 0;
}

void TMotionDetect::setSize(uint16_t w, uint16_t h) {
  reset();
  fWidth = w;
  fHeight = h;
  const size_t pixels = static_cast<size_t>(w) * h;
  ReAlloc(pMotionMask, pixels);
  ReAlloc(pLastFrame, pixels * res);
}

void TMotionDetect::setDetectionSecs(int64_t secs) { fDetectionSecs = static_cast<uint8_t>(std::clamp<int64_t>(secs, 1, 5)); }

void TMotionDetect::setSensivity(int64_t v) { fSensivity = static_cast<uint8_t>(std::clamp<int64_t>(v, 1, 255)); }

void TMotionDetect::setTolerance(int64_t v) {
  fTolerance = static_cast<uint32_t>(std::clamp<int64_t>(v, 10, 2147483647));
}

void TMotionDetect::setPixelFormat(TPixelFormat pf) {
  switch (pf) {
    case pf8bit: res = 1; break;
    case pf16bit: res = 2; break;
    case pf32bit: res = 4; break;
    default:
      pf = pf24bit;
      res = 3;
      break;
  }
  fPixelFormat = pf;
  setSize(fWidth, fHeight);
}

template <int Res>
void TMotionDetect::CompareRow(const uint8_t* p, uint32_t sz, uint8_t*& mP, uint8_t*& lP) {
  // Bytes first (a plain pass the compiler vectorises): the distances, the new bytes stored
  // and their sum; then pixels: the largest distance of each.
  const size_t bytes = static_cast<size_t>(sz) * Res;
  if (rowDiff_.size() < bytes) rowDiff_.resize(bytes);
  uint8_t* diff = rowDiff_.data();
  uint8_t* last = lP;
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) {
    const uint8_t nb = p[i];
    const uint8_t ob = last[i];
    diff[i] = static_cast<uint8_t>(nb > ob ? nb - ob : ob - nb);
    last[i] = nb;
    sum += nb;
  }
  if (fDetectLightness) lh += sum;
  lP = last + bytes;

  const uint8_t sens = fSensivity;
  uint32_t changed = 0;
  uint8_t largest = maxDiff;
  uint8_t* mask = mP;
  const bool onlyNew = fShowMask == smMotionNew;
  for (uint32_t i = 0; i < sz; ++i) {
    const uint8_t* px = diff + static_cast<size_t>(i) * Res;
    uint8_t d = px[0];
    for (int b = 1; b < Res; ++b) d = std::max(d, px[b]);
    largest = std::max(largest, d);
    changed += d >= sens;
    if (mask) {
      if (onlyNew && d >= sens && mask[i] >= sens) d = 0;
      mask[i] = d;
    }
  }
  vl += changed;
  maxDiff = largest;
  if (mP) mP = mask + sz;
}

void TMotionDetect::motionProc(const uint8_t* p, uint32_t sz, uint8_t*& mP, uint8_t*& lP) {
  switch (res) {
    case 1: CompareRow<1>(p, sz, mP, lP); break;
    case 2: CompareRow<2>(p, sz, mP, lP); break;
    case 4: CompareRow<4>(p, sz, mP, lP); break;
    default: CompareRow<3>(p, sz, mP, lP); break;
  }
}

void TMotionDetect::motionBegin() {
  if (hasMotion || init) return;
  hasMotion = true;
  endTick = fTick() + static_cast<uint64_t>(fDetectionSecs) * 1000;
  if (onMotionBegin) onMotionBegin(this);
}

void TMotionDetect::motionEnd() {
  if (!hasMotion) return;
  hasMotion = false;
  if (onMotionEnd) onMotionEnd(this);
}

void TMotionDetect_bmp::initialize(platform::Bitmap& bmp) {
  init = true;
  feedFrame(bmp);
  init = false;
  reset();
}

bool TMotionDetect_bmp::feedFrame(platform::Bitmap& bmp) {
  // The size fields are 16 bits wide: a larger frame would not fit the buffers.
  if (bmp.Width() > 65535 || bmp.Height() > 65535) return false;
  if (bmp.Width() != fWidth || bmp.Height() != fHeight) {
    setSize(static_cast<uint16_t>(bmp.Width()), static_cast<uint16_t>(bmp.Height()));
  }
  if (PixelFormatOf(bmp) != fPixelFormat || fWidth < 2 || fHeight < 2) return false;
  const size_t pixels = static_cast<size_t>(fWidth) * fHeight;
  if (pLastFrame.size() != pixels * res) return false;  // its allocation failed
  maxDiff = 0;
  vl = 0;
  lh = 0;
  uint8_t* mP = fShowMask != smNone && pMotionMask.size() == pixels ? pMotionMask.data() : nullptr;
  uint8_t* lP = pLastFrame.data();
  for (int y = 0; y < fHeight; ++y) motionProc(bmp.ScanLine(y), fWidth, mP, lP);
  value = vl;
  lightness = static_cast<uint8_t>(lh / (pixels * res));
  if (!hasMotion && value >= fTolerance) motionBegin();
  if (hasMotion && value < fTolerance && fTick() > endTick) motionEnd();
  if (onFeedFrame) onFeedFrame(bmp);
  return true;
}

bool TMotionDetect_bmp::getImage(platform::Bitmap& bmp, bool rePaint) {
  const size_t pixels = static_cast<size_t>(fWidth) * fHeight;
  if (fWidth < 2 || fHeight < 2 || pLastFrame.size() != pixels * res) return false;
  bool representable = false;
  const platform::PixelFormat format = BitmapFormat(fPixelFormat, representable);
  if (!representable) return false;  // no bitmap holds 16-bit pixels here
  if (bmp.GetPixelFormat() != format) {
    bmp = platform::Bitmap(fWidth, fHeight, format);
  } else if (bmp.Width() != fWidth || bmp.Height() != fHeight) {
    bmp.SetSize(fWidth, fHeight);
  }
  const bool paint = fShowMask != smNone && res >= 3 && pMotionMask.size() == pixels;
  const size_t rowBytes = static_cast<size_t>(fWidth) * res;
  for (int y = 0; y < fHeight; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    if (rePaint) std::memcpy(row, pLastFrame.data() + rowBytes * static_cast<size_t>(y), rowBytes);
    if (!paint) continue;
    const uint8_t* mask = pMotionMask.data() + static_cast<size_t>(fWidth) * static_cast<size_t>(y);
    for (int x = 0; x < fWidth; ++x) {
      uint8_t* px = row + static_cast<size_t>(x) * res;  // blue, green, red
      const uint8_t m = mask[x];
      if (m > fSensivity) {
        px[2] = static_cast<uint8_t>(std::min(px[2] + m, 255));
        px[1] = 0;
        px[0] = 0;
      } else if (fShowMask == smFullMask) {
        px[2] = 0;
        px[1] = static_cast<uint8_t>(std::min(px[1] + m, 255));
        px[0] = 0;
      }
    }
  }
  if (onGetImage) onGetImage(bmp);
  return true;
}

}  // namespace capture
