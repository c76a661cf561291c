#pragma once
// The frame-difference motion detector of the live preview. Each frame is compared with the
// previous one pixel by pixel: a pixel whose largest byte difference reaches the sensitivity
// counts as changed, and a motion begins when the changed pixels reach the tolerance. A motion
// lasts at least `detectionSecs` from its beginning (further motion does not extend it) and
// ends with the first frame after that whose count is below the tolerance. The detector can
// paint the changed pixels into a frame.
//
// Used on the GUI thread only. Time comes from a monotonic millisecond tick that tests replace.
#include <cstdint>
#include <functional>
#include <vector>

#include "capture/pixel_format.h"
#include "platform/image/bitmap.h"

namespace capture {

enum TShowMask : uint8_t {
  smNone,      // no mask is written or painted
  smFullMask,  // changed pixels red, all others tinted green by their difference
  smMotion,    // changed pixels red
  smMotionNew  // like smMotion, but a pixel changed in this frame and the last one is not marked
};

// The millisecond tick since system start, 64 bits wide (never wraps during a run).
uint64_t tick64();

class TMotionDetect {
 public:
  using TNotifyEvent = std::function<void(TMotionDetect* Sender)>;

  TMotionDetect();
  virtual ~TMotionDetect();
  TMotionDetect(const TMotionDetect&) = delete;
  TMotionDetect& operator=(const TMotionDetect&) = delete;

  // Back to quiet without an event; the counters of the last frame are cleared.
  void reset();
  // Reallocates and clears the mask and the previous frame for this size.
  virtual void setSize(uint16_t w, uint16_t h);

  uint8_t detectionSecs() const { return fDetectionSecs; }
  void setDetectionSecs(int64_t secs);  // clamped to 1..5
  bool detectLightness() const { return fDetectLightness; }
  void setDetectLightness(bool v) { fDetectLightness = v; }
  uint8_t sensivity() const { return fSensivity; }
  void setSensivity(int64_t v);  // clamped to 1..255
  TShowMask showMask() const { return fShowMask; }
  void setShowMask(TShowMask v) { fShowMask = v; }
  TPixelFormat pixelFormat() const { return fPixelFormat; }
  // 8, 16, 24 or 32 bits; any other format is taken as 24 bits. Clears the buffers.
  void setPixelFormat(TPixelFormat pf);
  uint32_t tolerance() const { return fTolerance; }
  void setTolerance(int64_t v);  // clamped to 10..2,147,483,647
  uint16_t width() const { return fWidth; }
  uint16_t height() const { return fHeight; }

  bool HasMotion() const { return hasMotion; }
  uint32_t Value() const { return value; }
  uint8_t Lightness() const { return lightness; }
  uint8_t MaxDiff() const { return maxDiff; }
  // Bytes per pixel of the pixel format.
  uint8_t Res() const { return res; }

  // The tick source (tick64 unless a test sets its own).
  void SetTickSource(std::function<uint64_t()> source) { fTick = std::move(source); }

  TNotifyEvent onMotionBegin, onMotionEnd;

 protected:
  // Compares one row of `sz` pixels with the stored row at `lP` (which it then replaces) and
  // writes the differences to the mask at `mP` (none: nullptr); both advance past the row.
  virtual void motionProc(const uint8_t* p, uint32_t sz, uint8_t*& mP, uint8_t*& lP);
  virtual void motionBegin();
  virtual void motionEnd();

  uint8_t res = 3;
  uint64_t endTick = 0;
  uint64_t lh = 0;  // byte sum of the frame being fed (wide enough for any frame size)
  uint32_t vl = 0;
  bool init = false;
  uint8_t fDetectionSecs = 3;
  std::vector<uint8_t> pLastFrame;
  std::vector<uint8_t> pMotionMask;
  uint16_t fWidth = 0, fHeight = 0;
  uint32_t fTolerance = 1000;
  uint8_t fSensivity = 32;
  TShowMask fShowMask = smMotion;
  bool fDetectLightness = true;
  TPixelFormat fPixelFormat = pf24bit;
  bool hasMotion = false;
  uint8_t maxDiff = 0;
  uint32_t value = 0;
  uint8_t lightness = 0;
  std::function<uint64_t()> fTick;

 private:
  std::vector<uint8_t> rowDiff_;  // byte distances of the row being compared
  template <int Res>
  void CompareRow(const uint8_t* p, uint32_t sz, uint8_t*& mP, uint8_t*& lP);
};

// The detector for frames held in bitmaps.
class TMotionDetect_bmp : public TMotionDetect {
 public:
  using TMotionEventBmp = std::function<void(platform::Bitmap& bmp)>;

  // Primes the detector with a first frame; no motion is reported and the counters stay 0.
  void initialize(platform::Bitmap& bmp);
  // Compares a frame with the previous one; false when it was not compared (another pixel
  // format, smaller than 2 x 2, larger than 65535 in either direction, or no buffer).
  virtual bool feedFrame(platform::Bitmap& bmp);
  // Paints the mask into `bmp` (given the detector's format and size); with `rePaint` the
  // stored previous frame is drawn first. False when there is nothing to paint.
  virtual bool getImage(platform::Bitmap& bmp, bool rePaint);

  TMotionEventBmp onFeedFrame, onGetImage;
};

}  // namespace capture
