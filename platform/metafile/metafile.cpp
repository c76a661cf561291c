#include "platform/metafile/metafile.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace platform {
namespace {

int CheckExtent(int v) {
  if (v < 0 || v > kMaxMetafileExtent)
    throw std::invalid_argument("metafile extent " + std::to_string(v) + " outside 0.." +
                                std::to_string(kMaxMetafileExtent));
  return v;
}

int CheckInch(int v) {
  if (v < 1 || v > kMaxMetafileResolution)
    throw std::invalid_argument("metafile units per inch " + std::to_string(v) + " outside 1.." +
                                std::to_string(kMaxMetafileResolution));
  return v;
}

void CheckSurface(int width, int height, int inch) {
  CheckExtent(width);
  CheckExtent(height);
  CheckInch(inch);
  if (width / inch >= kMaxMetafileInches || height / inch >= kMaxMetafileInches)
    throw std::invalid_argument("metafile surface " + std::to_string(width) + " x " + std::to_string(height) +
                                " at " + std::to_string(inch) + " units per inch is too large");
}

}  // namespace

Metafile::Metafile(int width, int height, int inch) : width_(width), height_(height), inch_(inch) {
  CheckSurface(width, height, inch);
}

void Metafile::SetWidth(int width) {
  CheckSurface(width, height_, inch_);
  width_ = width;
}
void Metafile::SetHeight(int height) {
  CheckSurface(width_, height, inch_);
  height_ = height;
}
void Metafile::SetInch(int inch) {
  CheckSurface(width_, height_, inch);
  inch_ = inch;
}

EmfRect Metafile::FrameRect() const {
  // 2540 hundredths of a millimetre per inch; the surface limit keeps this inside 32 bits.
  const auto to_mm100 = [this](int v) {
    return static_cast<int32_t>(std::llround(static_cast<double>(v) * 2540.0 / inch_));
  };
  EmfRect r;
  r.Right = to_mm100(width_);
  r.Bottom = to_mm100(height_);
  return r;
}

void Metafile::SetData(std::vector<uint8_t> data) {
  if (!data.empty()) ReadEmfRecords(data);
  data_ = std::move(data);
}

std::vector<EmfRecord> Metafile::Records() const {
  if (data_.empty()) return {};
  return ReadEmfRecords(data_);
}

bool Metafile::HasDrawing() const { return Records().size() > 2; }

}  // namespace platform
