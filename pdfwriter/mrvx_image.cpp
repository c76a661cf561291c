#include "pdfwriter/mrvx_image.h"

#include <cstdio>

#include "pdfwriter/mrvx_ccitt.h"
#include "pdfwriter/mrvx_types.h"
#include "pdfwriter/mrvx_zlib.h"
#include "platform/image/image_file.h"
#include "platform/image/jpeg_codec.h"

namespace pdfwriter {
namespace {

[[noreturn]] void Unsupported() { throw EMRVXError("Unsupported image format."); }

int Be16(const std::vector<uint8_t>& d, size_t at) { return d[at] << 8 | d[at + 1]; }

// A bitmap of 24 bits with the same picture, for the encoders that take colour only.
platform::Bitmap To24Bit(const platform::Bitmap& src) {
  if (src.GetPixelFormat() == platform::PixelFormat::pf24bit) return src;
  platform::Bitmap out(src.Width(), src.Height(), platform::PixelFormat::pf24bit);
  for (int y = 0; y < src.Height(); ++y) {
    const uint8_t* s = src.ScanLine(y);
    uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < src.Width(); ++x) {
      uint8_t b, g, r;
      switch (src.GetPixelFormat()) {
        case platform::PixelFormat::pf1bit: b = g = r = (s[x / 8] >> (7 - x % 8) & 1) ? 255 : 0; break;
        case platform::PixelFormat::pf8bit: b = g = r = s[x]; break;
        default: b = s[4 * x]; g = s[4 * x + 1]; r = s[4 * x + 2]; break;
      }
      d[3 * x] = b;
      d[3 * x + 1] = g;
      d[3 * x + 2] = r;
    }
  }
  return out;
}

bool IsEightBit(const platform::Bitmap& b) {
  // 1-bit pictures are widened to 8-bit palette indices.
  return b.GetPixelFormat() == platform::PixelFormat::pf1bit || b.GetPixelFormat() == platform::PixelFormat::pf8bit;
}

}  // namespace

TMRVXJpegImage TMRVXJpegImage::FromData(std::vector<uint8_t> Data) {
  // Walks the markers up to the frame header; every length is checked against the data.
  const size_t n = Data.size();
  if (n < 4 || Data[0] != 0xFF || Data[1] != 0xD8) Unsupported();
  size_t at = 2;
  for (;;) {
    while (at < n && Data[at] == 0xFF && at + 1 < n && Data[at + 1] == 0xFF) ++at;  // fill bytes
    if (at + 4 > n || Data[at] != 0xFF) Unsupported();
    const uint8_t marker = Data[at + 1];
    const size_t len = static_cast<size_t>(Be16(Data, at + 2));
    if (len < 2 || at + 2 + len > n) Unsupported();
    // Baseline, extended and progressive Huffman frames are what the DCT filter reads.
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
      if (len < 8) Unsupported();
      TMRVXJpegImage img;
      const int precision = Data[at + 4];
      img.FHeight = Be16(Data, at + 5);
      img.FWidth = Be16(Data, at + 7);
      img.FComponents = Data[at + 9];
      if (precision != 8 || img.FWidth <= 0 || img.FHeight <= 0 || (img.FComponents != 1 && img.FComponents != 3))
        Unsupported();
      img.FData = std::move(Data);
      return img;
    }
    if ((marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) ||
        marker == 0xD9 || marker == 0xDA)
      Unsupported();  // arithmetic or lossless frames, or no frame before the scan
    at += 2 + len;
  }
}

TMRVXJpegImage TMRVXJpegImage::LoadFromFile(const std::string& FileName) {
  return FromData(platform::ReadImageFile(FileName));
}

std::string FlateSamples(const platform::Bitmap& ABitmap) {
  const int w = ABitmap.Width(), h = ABitmap.Height();
  const platform::PixelFormat pf = ABitmap.GetPixelFormat();
  const size_t per_pixel = IsEightBit(ABitmap) ? 1 : 3;
  // Sized once and written through a pointer: pictures of many megapixels pass through here.
  std::string out(static_cast<size_t>(w) * static_cast<size_t>(h) * per_pixel, '\0');
  char* d = out.data();
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = ABitmap.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      switch (pf) {
        case platform::PixelFormat::pf1bit: *d++ = static_cast<char>(s[x / 8] >> (7 - x % 8) & 1); break;
        case platform::PixelFormat::pf8bit: *d++ = static_cast<char>(s[x]); break;
        case platform::PixelFormat::pf24bit:
          *d++ = static_cast<char>(s[3 * x + 2]);
          *d++ = static_cast<char>(s[3 * x + 1]);
          *d++ = static_cast<char>(s[3 * x]);
          break;
        case platform::PixelFormat::pf32bit:
          *d++ = static_cast<char>(s[4 * x + 2]);
          *d++ = static_cast<char>(s[4 * x + 1]);
          *d++ = static_cast<char>(s[4 * x]);
          break;
      }
    }
  }
  return out;
}

TMRVXImage::TMRVXImage(const TMRVXGraphic& AImage, int Compression, bool IsMask, const TMRVXLink* MaskLink,
                       const std::string& Name, int FJpegQuality)
    : TMRVXStreamObject(nullptr) {
  if (IsMask) Compression = kFilterCCITT42;
  if (Compression < kFilterDCT || Compression > kFilterCCITT42) throw EMRVXError("Unsupported image format.");
  FIsMask = IsMask;

  if (Compression >= kFilterCCITT31) {
    const platform::Bitmap* const* bmp = std::get_if<const platform::Bitmap*>(&AImage);
    if (!bmp) throw EMRVXError("Image format must be B/W.");
    if (!*bmp || (*bmp)->Empty()) Unsupported();
    PictureWidth = (*bmp)->Width();
    PictureHeight = (*bmp)->Height();
    TVCCITTCompression coder;
    coder.CompressImage(**bmp, Compression == kFilterCCITT31 ? 31 : Compression == kFilterCCITT32 ? 32 : 42, Stream);
    SetupImageDictionary(PictureWidth, PictureHeight, Compression, Name, MaskLink, nullptr, false);
    return;
  }

  if (const auto* jpeg = std::get_if<const TMRVXJpegImage*>(&AImage)) {
    if (!*jpeg) Unsupported();
    const TMRVXJpegImage& j = **jpeg;
    PictureWidth = j.Width();
    PictureHeight = j.Height();
    if (Compression == kFilterDCT) {
      // The JPEG data is kept as it is; encoding it again would only lose quality.
      Stream.assign(j.Data().begin(), j.Data().end());
      SetupImageDictionary(j.Width(), j.Height(), kFilterDCT, Name, MaskLink, nullptr, false, j.Components());
    } else {
      const platform::Bitmap bmp = platform::DecodeJpeg(j.Data());
      Stream = FlateEncode(FlateSamples(bmp), 9);
      SetupImageDictionary(bmp.Width(), bmp.Height(), kFilterFlate, Name, MaskLink, &bmp, false);
    }
    return;
  }
  const platform::Bitmap* bmp = std::get<const platform::Bitmap*>(AImage);
  if (!bmp || bmp->Empty()) Unsupported();
  PictureWidth = bmp->Width();
  PictureHeight = bmp->Height();
  if (Compression == kFilterDCT) {
    // Always colour: the dictionary says DeviceRGB, so a gray bitmap is widened first.
    const std::vector<uint8_t> data = platform::EncodeJpeg(To24Bit(*bmp), FJpegQuality);
    Stream.assign(data.begin(), data.end());
    SetupImageDictionary(bmp->Width(), bmp->Height(), kFilterDCT, Name, MaskLink, nullptr, false);
  } else {
    const std::string samples = FlateSamples(*bmp);
    if (!samples.empty()) Stream = FlateEncode(samples, 9);
    SetupImageDictionary(bmp->Width(), bmp->Height(), kFilterFlate, Name, MaskLink, bmp, IsEightBit(*bmp));
  }
}

void TMRVXImage::SetupImageDictionary(int Width, int Height, int Filter, const std::string& Name,
                                      const TMRVXLink* MaskLink, const platform::Bitmap* ABitmap, bool IsEightBit,
                                      int JpegComponents) {
  TMRVXDictionaryObject& d = *Dictionary;
  d.AddNameValue("Type", "XObject");
  d.AddNameValue("Subtype", "Image");
  if (Filter == kFilterDCT) {
    // A one-component JPEG holds gray samples; naming it RGB would make readers refuse it.
    d.AddNameValue("ColorSpace", JpegComponents == 1 ? "DeviceGray" : "DeviceRGB");
    d.AddArray("Filter")->AddNameValue("DCTDecode");
  } else if (Filter == kFilterFlate) {
    d.AddArray("Filter")->AddNameValue("FlateDecode");
    if (IsEightBit && ABitmap) d.AddValue("ColorSpace", CreateIndexedColorArray(*ABitmap, &d));
    else d.AddNameValue("ColorSpace", "DeviceRGB");
  } else {
    // A stencil mask paints with the fill colour and must not name a colour space.
    if (!FIsMask) d.AddNameValue("ColorSpace", "DeviceGray");
    d.AddArray("Filter")->AddNameValue("CCITTFaxDecode");
  }
  d.AddIntegerValue("Width", Width);
  d.AddIntegerValue("Height", Height);
  if (Filter == kFilterDCT || Filter == kFilterFlate) {
    d.AddIntegerValue("BitsPerComponent", 8);
  } else {
    d.AddIntegerValue("BitsPerComponent", 1);
    TMRVXArrayObject* arr = d.AddArray("DecodeParms");
    auto* p = static_cast<TMRVXDictionaryObject*>(arr->AddObject(std::make_unique<TMRVXDictionaryObject>(arr)));
    p->AddIntegerValue("K", Filter == kFilterCCITT31 ? 0 : Filter == kFilterCCITT32 ? 1 : -1);
    p->AddIntegerValue("Columns", Width);
    p->AddIntegerValue("Rows", Height);
  }
  if (FIsMask) d.AddBooleanValue("ImageMask", true);
  if (MaskLink) d.AddValue("Mask", std::make_unique<TMRVXLink>(MaskLink->Value));
  d.AddNameValue("Name", Name);
}

std::unique_ptr<TMRVXArrayObject> TMRVXImage::CreateIndexedColorArray(const platform::Bitmap& ABitmap,
                                                                      TMRVXObject* Parent) {
  const platform::PixelFormat pf = ABitmap.GetPixelFormat();
  if (pf != platform::PixelFormat::pf8bit && pf != platform::PixelFormat::pf1bit)
    throw EMRVXError("Not supported pixel format.");
  auto arr = std::make_unique<TMRVXArrayObject>(Parent);
  arr->AddNameValue("Indexed");
  arr->AddNameValue("DeviceRGB");
  arr->AddIntegerValue(255);
  // An 8-bit bitmap holds gray levels; a 1-bit one black (0) and white (1). The rest of the
  // 256 entries is black.
  std::string palette;
  palette.reserve(256 * 7);
  char entry[8];
  for (int i = 0; i < 256; ++i) {
    int v = 0;
    if (pf == platform::PixelFormat::pf8bit) v = i;
    else if (i == 1) v = 255;
    std::snprintf(entry, sizeof entry, "%02X%02X%02X ", v, v, v);
    palette += entry;
  }
  arr->AddObject(std::make_unique<TMRVXStringObject>(arr.get(), std::move(palette), true));
  return arr;
}

}  // namespace pdfwriter
