#pragma once
// A finished drawing recording in the enhanced-metafile layout, with the extent of the
// surface it was drawn for. A MetafileCanvas records into it; the PDF writer's translator
// reads the records back.
#include <cstdint>
#include <span>
#include <vector>

#include "platform/metafile/emf_records.h"

namespace platform {

// Extents and resolutions above these are refused: they would overflow the 32-bit fields of
// the header. A surface may be at most kMaxMetafileInches wide and high (254 m, far beyond
// any page).
constexpr int kMaxMetafileExtent = 1'000'000;
constexpr int kMaxMetafileResolution = 100'000;
constexpr int kMaxMetafileInches = 10'000;

class Metafile {
 public:
  // An empty metafile (no recording) for a surface of width x height units of which `inch`
  // make one inch. Throws std::invalid_argument for an extent outside 0..kMaxMetafileExtent,
  // a unit outside 1..kMaxMetafileResolution or a surface above kMaxMetafileInches.
  Metafile(int width = 0, int height = 0, int inch = 72);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Inch() const { return inch_; }
  void SetWidth(int width);
  void SetHeight(int height);
  void SetInch(int inch);

  // The frame of the surface in 0.01 mm, as the header records it.
  EmfRect FrameRect() const;

  // The recording: header first, end record last. Empty until a canvas has been closed on it.
  const std::vector<uint8_t>& Data() const { return data_; }
  bool Empty() const { return data_.empty(); }
  // Replaces the recording after checking it as ReadEmfRecords does (EMetafileError).
  void SetData(std::vector<uint8_t> data);
  void Clear() { data_.clear(); }

  // The records of the recording; an empty metafile has none.
  std::vector<EmfRecord> Records() const;
  // Whether the recording holds anything besides its header and end record.
  bool HasDrawing() const;

 private:
  int width_ = 0;
  int height_ = 0;
  int inch_ = 72;
  std::vector<uint8_t> data_;
};

}  // namespace platform
