// Images of TMorvex (part of the MRVXDoc module): registration of pictures as image objects
// and their drawing on a page.
#include <cmath>

#include "pdfwriter/mrvx_doc.h"
#include "platform/image/bmp_codec.h"
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
