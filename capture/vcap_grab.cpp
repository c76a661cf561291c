// The one-shot frame grab: a request on the GUI thread, the copy on the streaming thread (in
// TSampleGrabberCB::BufferCB), and the hand-off as an upright bitmap on the GUI thread.
#include <cstring>

#include "capture/vcap.h"
#include "capture/vcap_graph.h"

namespace capture {

using namespace platform::video;

namespace {

platform::PixelFormat FormatForDepth(int bits, platform::PixelFormat fallback) {
  switch (bits) {
    case 1: return platform::PixelFormat::pf1bit;
    case 8: return platform::PixelFormat::pf8bit;
    case 24: return platform::PixelFormat::pf24bit;
    case 32: return platform::PixelFormat::pf32bit;
    default: return fallback;  // depths the bitmap has no format of keep its default
  }
}

// Draws an uncompressed 24- or 32-bit frame unscaled into `bmp` (of the same depth) and
// returns the number of rows drawn; 0 when the frame cannot be drawn, above all when the
// buffer holds fewer bytes than the header describes (the format may have changed between
// the copy and the drawing).
int DrawFrame(const BitmapInfoHeader& h, const uint8_t* buffer, size_t length, platform::Bitmap& bmp) {
  if (h.biCompression != 0 || (h.biBitCount != 24 && h.biBitCount != 32)) return 0;
  if (platform::BitsPerPixel(bmp.GetPixelFormat()) != h.biBitCount) return 0;
  const int rows = bmp.Height();
  const size_t stride = DibStride(h.biWidth, h.biBitCount);
  if (rows == 0 || stride == 0 || length / stride < static_cast<size_t>(rows)) return 0;
  const size_t rowBytes = bmp.RowBytes();
  for (int y = 0; y < rows; ++y) {
    const int src = h.biHeight > 0 ? rows - 1 - y : y;  // bottom-up frames end upright
    std::memcpy(bmp.ScanLine(y), buffer + stride * static_cast<size_t>(src), rowBytes);
  }
  return rows;
}

}  // namespace

bool TVideoCapture::CaptureFrame() {
  const bool request = Grabber != nullptr && FWantBitmaps && (FPreviewing || FCapturing);
  FGrabberCB->SetGrabbingEnabled(request);  // false withdraws a pending request
  return request;
}

void TVideoCapture::BitmapGrabbed(TWMSampleCaptured& Msg) {
  if (Msg.GrabberCB == nullptr || Msg.GrabberCB != FGrabberCB.get()) return;
  try {
    MediaType mt;
    if (!Grabber || !Grabber->GetConnectedMediaType(mt)) return;
    if (!mt.HasVideoHeader()) return;
    const BitmapInfoHeader header = mt.bmiHeader;
    if (header.biWidth <= 0 || header.biHeight == 0) return;
    TCapturedBitmap bmp(header.biWidth, std::abs(header.biHeight),
                        FormatForDepth(header.biBitCount, platform::PixelFormat::pf24bit));
    int lines = 0;
    FGrabberCB->DisableBufferAccess();  // the streaming thread may be copying the next frame
    try {
      if (FGrabberCB->BufferLength() > 0) {
        lines = DrawFrame(header, FGrabberCB->Buffer(), FGrabberCB->BufferLength(), bmp);
      }
    } catch (...) {
      FGrabberCB->EnableBufferAccess();
      throw;
    }
    FGrabberCB->EnableBufferAccess();
    if (lines > 0 && OnBitmapGrabbed) OnBitmapGrabbed(bmp);
  } catch (...) {
    // A failing handler (or a frame that cannot be made into a bitmap) ends this frame only;
    // the bitmap is freed on the way out and later frames are requested as before.
  }
}

void TVideoCapture::FramePassed(TWMSampleCaptured&) {
  if (OnFrameRendered) OnFrameRendered(this);
}

}  // namespace capture
