#pragma once
// Image XObjects: a picture encoded once into a stream of the document (JPEG or Flate) with
// its image dictionary. The document registers them (TMorvex::AddImage) and pages draw them
// by resource name (TMRVXPage::ShowImage).
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "pdfwriter/mrvx_objs.h"
#include "platform/image/bitmap.h"

namespace pdfwriter {

// JPEG data as it is: a JPEG picture is put into the document without being decoded and
// encoded again. FromData reads the header and refuses what a PDF reader could not show
// with the DCT filter.
class TMRVXJpegImage {
 public:
  // Throws EMRVXError "Unsupported image format." for data that is not a JPEG with 1 or 3
  // components and 8 bits per sample.
  static TMRVXJpegImage FromData(std::vector<uint8_t> Data);
  // Reads the whole file (the platform's image error when it cannot be read).
  static TMRVXJpegImage LoadFromFile(const std::string& FileName);

  const std::vector<uint8_t>& Data() const { return FData; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int Components() const { return FComponents; }

 private:
  std::vector<uint8_t> FData;
  int FWidth = 0, FHeight = 0, FComponents = 0;
};

// A picture given to the document: a platform bitmap or a JPEG picture (both borrowed).
using TMRVXGraphic = std::variant<const platform::Bitmap*, const TMRVXJpegImage*>;

// Filter codes of the image object.
inline constexpr int kFilterDCT = 0;
inline constexpr int kFilterFlate = 1;
inline constexpr int kFilterCCITT31 = 2;
inline constexpr int kFilterCCITT32 = 3;
inline constexpr int kFilterCCITT42 = 4;

class TMRVXImage : public TMRVXStreamObject {
 public:
  // Encodes AImage with the filter code Compression. A mask is always a Group 4 stencil. The
  // CCITT codes take 1-bit bitmaps only ("Image format must be B/W."). MaskLink (borrowed,
  // copied) names the mask image, or is null.
  TMRVXImage(const TMRVXGraphic& AImage, int Compression, bool IsMask, const TMRVXLink* MaskLink,
             const std::string& Name, int FJpegQuality);

  void SetupImageDictionary(int Width, int Height, int Filter, const std::string& Name, const TMRVXLink* MaskLink,
                            const platform::Bitmap* ABitmap, bool IsEightBit, int JpegComponents = 3);
  // [/Indexed /DeviceRGB 255 <palette>] of an 8-bit (or 1-bit) bitmap; "Not supported pixel
  // format." for any other.
  static std::unique_ptr<TMRVXArrayObject> CreateIndexedColorArray(const platform::Bitmap& ABitmap,
                                                                   TMRVXObject* Parent);

  bool FIsMask = false;
  int PictureWidth = 0;
  int PictureHeight = 0;
};

// The samples of the Flate encoding before compression: palette indices of 1- and 8-bit
// bitmaps (one byte per pixel), RGB of 24- and 32-bit ones, top row first, no row padding.
std::string FlateSamples(const platform::Bitmap& ABitmap);

}  // namespace pdfwriter
