// Images of TMorvex (part of the MRVXDoc module): registration of pictures as image objects
// and their drawing on a page.
#include <tiffio.h>

#include <cmath>
#include <filesystem>
#include <cstring>
#include <memory>

#include "pdfwriter/mrvx_doc.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/codec_limits.h"
#include "platform/image/jpeg_codec.h"

namespace pdfwriter {
namespace {

int FilterCode(TMRVXImageCompressionType c) {
  switch (c) {
    case TMRVXImageCompressionType::icJpeg: return kFilterDCT;
    case TMRVXImageCompressionType::icFlate: return kFilterFlate;
    case TMRVXImageCompressionType::icCCITT31: return kFilterCCITT31;
    case TMRVXImageCompressionType::icCCITT32: return kFilterCCITT32;
    case TMRVXImageCompressionType::icCCITT42: return kFilterCCITT42;
  }
  return kFilterFlate;
}

// An open TIFF file; libtiff's messages are kept for our errors instead of going to stderr.
struct TiffFile {
  std::string message;
  TIFF* tif = nullptr;
  static int Handler(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* self = static_cast<TiffFile*>(user);
    if (self->message.empty()) {
      char buf[512];
      std::vsnprintf(buf, sizeof buf, fmt, ap);
      self->message = std::string(module ? module : "") + (module ? ": " : "") + buf;
    }
    return 1;
  }
  static int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }
  explicit TiffFile(const std::string& name) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, &TiffFile::Handler, this);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, &TiffFile::Quiet, this);
    tif = TIFFOpenExt(name.c_str(), "r", opts);
    TIFFOpenOptionsFree(opts);
  }
  ~TiffFile() {
    if (tif) TIFFClose(tif);
  }
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;
  [[noreturn]] void Fail() const {
    throw EMRVXError("Invalid tiff image." + (message.empty() ? std::string() : " " + message));
  }
};


// Rows [first, first + count) of RGBA samples (top row first) as a 24-bit bitmap, or as a
// 1-bit one (white from half the brightness up) for the fax encodings.
platform::Bitmap RowsToBitmap(const uint32_t* rgba, uint32_t width, uint32_t first, uint32_t count, bool mono) {
  if (mono) {
    platform::Bitmap b(static_cast<int>(width), static_cast<int>(count), platform::PixelFormat::pf1bit);
    for (uint32_t y = 0; y < count; ++y) {
      const uint32_t* s = rgba + static_cast<size_t>(first + y) * width;
      uint8_t* d = b.ScanLine(static_cast<int>(y));
      for (uint32_t x = 0; x < width; ++x) {
        const uint32_t lum = 299 * TIFFGetR(s[x]) + 587 * TIFFGetG(s[x]) + 114 * TIFFGetB(s[x]);
        if (lum >= 128000) d[x >> 3] = static_cast<uint8_t>(d[x >> 3] | 0x80 >> (x & 7));
      }
    }
    return b;
  }
  platform::Bitmap b(static_cast<int>(width), static_cast<int>(count));
  for (uint32_t y = 0; y < count; ++y) {
    const uint32_t* s = rgba + static_cast<size_t>(first + y) * width;
    uint8_t* d = b.ScanLine(static_cast<int>(y));
    for (uint32_t x = 0; x < width; ++x) {
      d[3 * x] = static_cast<uint8_t>(TIFFGetB(s[x]));
      d[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(s[x]));
      d[3 * x + 2] = static_cast<uint8_t>(TIFFGetR(s[x]));
    }
  }
  return b;
}

bool EndsWith(const std::string& s, const char* ext) {
  const std::string e(ext);
  return s.size() >= e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
}

}  // namespace

int TMorvex::AddImage(const platform::Bitmap& Image, TMRVXImageCompressionType Compression, bool IsMask,
                      int MaskIndex) {
  return MapImage(TMRVXGraphic(&Image), Compression, IsMask, MaskIndex);
}

int TMorvex::AddImage(const TMRVXJpegImage& Image, TMRVXImageCompressionType Compression, bool IsMask,
                      int MaskIndex) {
  return MapImage(TMRVXGraphic(&Image), Compression, IsMask, MaskIndex);
}

int TMorvex::AddImage(const std::string& FileName, TMRVXImageCompressionType Compression, bool IsMask,
                      int MaskIndex) {
  const bool bmp = EndsWith(FileName, ".bmp");
  const bool jpg = EndsWith(FileName, ".jpg");
  if (Compression == TMRVXImageCompressionType::icJpeg && !bmp) {
    const TMRVXJpegImage jpeg = TMRVXJpegImage::LoadFromFile(FileName);
    return MapImage(TMRVXGraphic(&jpeg), Compression, IsMask, MaskIndex);
  }
  const platform::Bitmap picture =
      Compression == TMRVXImageCompressionType::icFlate && jpg ? platform::LoadJpeg(FileName) : platform::LoadBmp(FileName);
  return MapImage(TMRVXGraphic(&picture), Compression, IsMask, MaskIndex);
}

int TMorvex::MapImage(const TMRVXGraphic& Image, TMRVXImageCompressionType Compression, bool IsMask, int MaskIndex) {
  CheckNotEnded();
  if (!FDocStarted) throw EMRVXError("The document has not been started.");
  const int n = static_cast<int>(FXImages.size());

  const TMRVXLink* mask = nullptr;
  TMRVXLink mask_link;
  if (MaskIndex >= 0) {
    if (MaskIndex > FCurrentImageIndex) throw EMRVXError("Incorrect mask index.");
    for (const TMRVXImageObject& x : FXImages) {
      if (x.Index != MaskIndex) continue;
      // Only a stencil can be a /Mask; any other image there makes the file unreadable.
      if (!x.ImageObject->FIsMask) throw EMRVXError("Incorrect mask index.");
      mask_link.Value = x.ImageObject->ID;
      mask = &mask_link;
      break;
    }
  }

  std::string name = "Im" + std::to_string(FCurrentImageIndex);
  const auto taken = [this](const std::string& nm) {
    if (FCurrentPage) return FCurrentPage->CompareResName(0, nm) >= 0;
    for (const std::string& s : XImageNames)
      if (LowerKey(s) == LowerKey(nm)) return true;
    return false;
  };
  while (taken(name)) name = "Im" + std::to_string(++FCurrentImageIndex);

  auto image = std::make_unique<TMRVXImage>(Image, FilterCode(Compression), IsMask, mask, name, JpegQuality);
  const int32_t width = image->PictureWidth, height = image->PictureHeight;
  auto* obj = static_cast<TMRVXImage*>(AddIndirectObject(std::move(image)));
  FXImages.push_back({FCurrentImageIndex, name, obj, width, height});
  XImageNames.push_back(name);
  return n;
}

int TMorvex::AddImageFromTIFF(const platform::Bitmap& Image, TMRVXImageCompressionType Compression) {
  return MapImage(TMRVXGraphic(&Image), Compression, false, -1);
}

void TMorvex::AddTiffFromFile(const std::string& FileName, TMRVXImageCompressionType Compression,
                              TTIFFPaintType PaintType) {
  CheckNotEnded();
  if (!FDocStarted || !FCurrentPage) throw EMRVXError("The document has not been started.");
  TiffFile file(FileName);
  if (!file.tif) throw EMRVXError("Invalid tiff file name");

  const bool mono = Compression == TMRVXImageCompressionType::icCCITT31 ||
                    Compression == TMRVXImageCompressionType::icCCITT32 ||
                    Compression == TMRVXImageCompressionType::icCCITT42;
  bool first = true;
  do {
    if (!first) AddPage();
    first = false;
    uint32_t w = 0, h = 0;
    if (!TIFFGetField(file.tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(file.tif, TIFFTAG_IMAGELENGTH, &h) || w == 0 ||
        h == 0)
      file.Fail();
    // The same picture limit as every image reader, checked before the samples are reserved.
    if (w > platform::kMaxImageSide || h > platform::kMaxImageSide || uint64_t{w} * h > platform::kMaxImagePixels)
      throw EMRVXError("Invalid tiff image. Too large (" + std::to_string(w) + " x " + std::to_string(h) + ")");
    // Uncompressed rows take their full size in the file: a file shorter than that ends
    // before its rows, whatever its strips claim.
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(file.tif, TIFFTAG_COMPRESSION, &compression);
    std::error_code size_error;
    const uintmax_t file_size = std::filesystem::file_size(FileName, size_error);
    if (compression == COMPRESSION_NONE && !size_error && TIFFScanlineSize64(file.tif) > 0 &&
        static_cast<uint64_t>(TIFFScanlineSize64(file.tif)) * h > file_size)
      throw EMRVXError("Invalid tiff image. The file ends before its rows");
    TMRVXPage& page = *FCurrentPage;
    if (PaintType == TTIFFPaintType::tptResizePage) {
      page.SetPageWidth(static_cast<float>(w));
      page.SetPageHeight(static_cast<float>(h));
    }
    // Not zero-filled: libtiff writes every sample of a picture it reads, and a file that ends
    // before its rows stops at the first error (it is refused, not filled up), so that the
    // memory a few bytes claim is never even touched.
    const auto rgba = std::make_unique_for_overwrite<uint32_t[]>(static_cast<size_t>(w) * h);
    if (!TIFFReadRGBAImageOriented(file.tif, w, h, rgba.get(), ORIENTATION_TOPLEFT, 1)) file.Fail();

    if (h < static_cast<uint32_t>(PrintTempHeight)) {
      const platform::Bitmap b = RowsToBitmap(rgba.get(), w, 0, h, mono);
      page.ShowImage(AddImageFromTIFF(b, Compression), 0, 0, page.Width(), page.Height(), 0);
      continue;
    }
    // Strips share one row with the next, and overlap by one unit on the page.
    uint32_t r = 0;
    Extended yp = 0;
    while (r < h - 1) {
      const uint32_t s = r + PrintTempHeight < h - 1 ? static_cast<uint32_t>(PrintTempHeight) : h - r;
      const platform::Bitmap b = RowsToBitmap(rgba.get(), w, r, s, mono);
      const int index = AddImageFromTIFF(b, Compression);
      if (PaintType == TTIFFPaintType::tptResizePage) {
        page.ShowImage(index, 0, yp, w, s, 0);
        yp += s - 1;
      } else {
        const Extended sh = static_cast<Extended>(page.Width()) / w * s;
        page.ShowImage(index, 0, yp, page.Width(), sh, 0);
        yp += std::trunc(sh - 1);
      }
      r += s - 1;
    }
  } while (TIFFReadDirectory(file.tif));
}

void TMRVXPage::ShowImage(int ImageIndex, Extended X, Extended Y, Extended w, Extended h, Extended angle) {
  const std::vector<TMRVXImageObject>& images = FParent->FXImages;
  if (ImageIndex < 0 || static_cast<size_t>(ImageIndex) >= images.size()) throw EMRVXError("Invalid image index.");
  const TMRVXImageObject& entry = images[static_cast<size_t>(ImageIndex)];

  if (!FXObjectObj) {
    auto* resources = FPageObj->GetValue("Resources");
    resources = FParent->Resolve(resources);
    if (resources && resources->ObjectType() == TMRVXObjectType::otDictionary)
      FXObjectObj = static_cast<TMRVXDictionaryObject*>(resources)->AddDictionary("XObject");
    else
      throw EMRVXError("Invalid page resources.");
  }
  // An image a deleted page took with it is written again once a page shows it.
  entry.ImageObject->IsDeleted = false;
  FXObjectObj->AddLink(entry.Name, *entry.ImageObject);
  bool known = false;
  for (const std::string& s : FXObjectNames) known = known || LowerKey(s) == LowerKey(entry.Name);
  if (!known) FXObjectNames.push_back(entry.Name);

  if (FParent->KeepImageAspectRatio && entry.Width > 0 && entry.Height > 0) {
    const Extended zx = w / entry.Width, zy = h / entry.Height;
    if (zx < 1 && zy < 1) {
      if (zy <= zx) w = entry.Width * zy;
      else h = entry.Height * zx;
    } else {
      if (zy >= zx) w = entry.Width * zy;
      else h = entry.Height * zx;
    }
  }
  const auto fw = static_cast<float>(w), fh = static_cast<float>(h);
  DrawXObjectEx(static_cast<float>(X), YProjection(static_cast<float>(Y)), fw, fh, 0, 0, fw, fh, entry.Name, angle,
                FParent->DocScale());
}

}  // namespace pdfwriter
