#include "pdfwriter/mrvx_doc_page.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_doc_font.h"
#include "pdfwriter/mrvx_zlib.h"

namespace pdfwriter {
namespace {

// Page content is long runs of operators and coordinates: zlib's default level packs it within a few percent of
// level 9 at a fraction of the time (level 9's lazy matching is what made a page of barcodes slow).
constexpr int kContentFlateLevel = 6;

std::string F(Extended v) { return _FloatToStrR(v); }

// A canvas extent in whole points, inside what a metafile can describe.
int CanvasExtent(float v) {
  constexpr float kMax =
      static_cast<float>(std::min(platform::kMaxMetafileExtent, 72 * (platform::kMaxMetafileInches - 1)));
  if (!(v > 0)) return 0;
  return static_cast<int>(std::lround(std::min(v, kMax)));
}

uint8_t ByteOf(Extended gray) {
  const Extended v = std::nearbyint(gray * 255);
  if (!(v > 0)) return 0;
  return v > 255 ? 255 : static_cast<uint8_t>(v);
}

}  // namespace

TMRVXFormatSize PageFormatSize(TMRVXPageSize size) {
  switch (size) {
    case TMRVXPageSize::psUserDefined: return {0, 0};
    case TMRVXPageSize::psLetter: return {612, 792};
    case TMRVXPageSize::psA4: return {595, 842};
    case TMRVXPageSize::psA3: return {842, 1190};
    case TMRVXPageSize::psLegal: return {612, 1008};
    case TMRVXPageSize::psB5: return {516, 728};
    case TMRVXPageSize::psC5: return {459, 649};
    case TMRVXPageSize::ps8x11: return {576, 792};
    case TMRVXPageSize::psB4: return {728, 1031};
    case TMRVXPageSize::psA5: return {419, 595};
    case TMRVXPageSize::psFolio: return {612, 936};
    case TMRVXPageSize::psExecutive: return {522, 756};
    case TMRVXPageSize::psEnvB4: return {728, 1031};
    case TMRVXPageSize::psEnvB5: return {499, 708};
    case TMRVXPageSize::psEnvC6: return {323, 459};
    case TMRVXPageSize::psEnvDL: return {312, 623};
    case TMRVXPageSize::psEnvMonarch: return {279, 540};
    case TMRVXPageSize::psEnv9: return {279, 639};
    case TMRVXPageSize::psEnv10: return {297, 684};
    case TMRVXPageSize::psEnv11: return {324, 747};
  }
  return {0, 0};
}

TMRVXPage::TMRVXPage(TMorvex* Parent, TMRVXDictionaryObject* PageObj)
    : FParent(Parent), FPageObj(PageObj), FCurrentFontObj(std::make_unique<TMRVXFontObj>()) {
  ResetCanvas();
}

TMRVXPage::~TMRVXPage() = default;

// ---- preparing the page ----

void TMRVXPage::ConvertPageObject() {
  TMorvex& doc = *FParent;

  // Content stream: only the last stream of a multi-stream page is extended.
  TMRVXObject* contents = FPageObj->GetValue("Contents");
  TMRVXObject* target = doc.Resolve(contents);
  if (TMRVXArrayObject* arr = AsArray(target)) {
    if (arr->Count() == 0) {
      TMRVXStreamObject* s = doc.CreateIndirectStream();
      s->Dictionary->AddIntegerValue("Length", 0);
      arr->AddLink(*s);
    }
    target = doc.Resolve(arr->GetIndexedItem(arr->Count() - 1));
  } else if (!contents) {
    // A page without content (possible in files from elsewhere) gets an empty stream, so
    // that what is drawn on it has somewhere to go.
    TMRVXStreamObject* s = doc.CreateIndirectStream();
    s->Dictionary->AddIntegerValue("Length", 0);
    FPageObj->AddLink("Contents", *s);
    target = s;
  }
  FPageObjStream = AsStream(target);
  if (!FPageObjStream) throw EMRVXError("Invalid page contents.");

  FPageContent.assign(1, "\r\n");

  if (TMRVXObject* mb = FPageObj->GetValue("MediaBox")) {
    TMRVXArrayObject* arr = AsArray(doc.Resolve(mb));
    if (!arr || arr->Count() < 4) throw EMRVXError("Invalid page media box.");
    float v[4];
    for (size_t i = 0; i < 4; ++i) {
      TMRVXNumericObject* n = AsNumber(doc.Resolve(arr->GetIndexedItem(i)));
      if (!n) throw EMRVXError("Invalid page media box.");
      v[i] = static_cast<float>(n->Value);
    }
    FMediaBoxArray = arr;
    FMinXVal = v[0];
    FMinYVal = v[1];
    FMaxXVal = v[2];
    FMaxYVal = v[3];
  } else {
    FMinXVal = doc.FParentMB[0];
    FMinYVal = doc.FParentMB[1];
    FMaxXVal = doc.FParentMB[2];
    FMaxYVal = doc.FParentMB[3];
    FMediaBoxArray = FPageObj->AddArray("MediaBox");
    for (float v : {FMinXVal, FMinYVal, FMaxXVal, FMaxYVal}) FMediaBoxArray->AddNumericValue(v);
  }
  FWidth = FMaxXVal - FMinXVal;
  FHeight = FMaxYVal - FMinYVal;
  mWidth = FWidth;
  mHeight = FHeight;

  TMRVXDictionaryObject* resources = AsDictionary(doc.Resolve(FPageObj->GetValue("Resources")));
  if (!resources) throw EMRVXError("Invalid page resources.");

  FXObjectNames.clear();
  FXObjectObj = AsDictionary(doc.Resolve(resources->GetValue("XObject")));
  if (FXObjectObj)
    for (const TMRVXDictionaryItem& item : FXObjectObj->Items) FXObjectNames.push_back(item.Key);

  FFontObjectObj = AsDictionary(doc.Resolve(resources->GetValue("Font")));
  doc.FontNames.clear();
  if (FFontObjectObj) {
    for (const TMRVXDictionaryItem& item : FFontObjectObj->Items) doc.FontNames.push_back(item.Key);
  } else {
    FFontObjectObj = resources->AddDictionary("Font");
  }
  ResetCanvas();
}

int TMRVXPage::CompareResName(int Index, std::string_view Name) const {
  const std::string name = LowerKey(Name);
  const auto find = [&name](const std::vector<std::string>& names) -> int {
    for (size_t i = 0; i < names.size(); ++i)
      if (LowerKey(names[i]) == name) return static_cast<int>(i);
    return -1;
  };
  if (Index != 0) return find(FParent->FontNames);
  const int image = find(FParent->XImageNames);
  return image >= 0 ? image : find(FXObjectNames);
}

std::string TMRVXPage::NewResourceName(int Index) {
  const bool font = Index != 0;
  int n = font ? FParent->FCurrentFontIndex : FParent->FCurrentImageIndex;
  const char* prefix = font ? "F" : "Im";
  std::string name = prefix + std::to_string(n);
  while (CompareResName(Index, name) >= 0) name = prefix + std::to_string(++n);
  if (font) FParent->FontNames.push_back(name);
  return name;
}

void TMRVXPage::ResetCanvas() {
  if (FKeepCanvas && FCanvas) return;
  FCanvas.reset();
  PageMeta = std::make_unique<platform::Metafile>(CanvasExtent(FWidth), CanvasExtent(FHeight), 72);
  FCanvas = std::make_unique<platform::MetafileCanvas>(*PageMeta, FParent->ReferenceDpi());
}

void TMRVXPage::CloseCanvas() {
  if (!FCanvas) return;
  FCanvas->Close();
  GStateSave();
  if (FParent->RecordingTranslator) {
    FParent->RecordingTranslator(*this, *PageMeta);
  } else if (PageMeta->HasDrawing()) {
    // Dropping the drawing would write a page that silently lacks part of what was drawn.
    throw EMRVXError("The page canvas holds drawing, but no metafile translator is installed.");
  }
  GStateRestore();
  FCanvas.reset();
  PageMeta.reset();
}

void TMRVXPage::ClosePage() {
  CloseCanvas();
  if (FCurrentFontObj->IsUsed) StoreCurrentFont();
  WriteContent();
  // The fonts are written here rather than when the page is freed, so that a font whose
  // program cannot be built fails the close instead of a destructor.
  StoreFonts();
}

TMRVXStreamObject* TMRVXPage::AppendContentStream(TMorvex& Doc, const TMRVXStreamObject& Last) {
  TMRVXStreamObject* added = Doc.CreateIndirectStream();
  added->Dictionary->AddIntegerValue("Length", 0);
  if (TMRVXArrayObject* list = AsArray(Doc.Resolve(FPageObj->GetValue("Contents")))) {
    list->AddLink(*added);
  } else {
    auto pair = std::make_unique<TMRVXArrayObject>(nullptr);
    pair->AddLink(Last);
    pair->AddLink(*added);
    FPageObj->AddValue("Contents", std::move(pair));
  }
  return added;
}

void TMRVXPage::WriteContent() {
  TMorvex& doc = *FParent;
  TMRVXStreamObject* stream = FPageObjStream;
  if (!stream || FPageContent.empty()) return;

  // What the stream already holds (a page made current again, or a page from a loaded file)
  // stays in front of the new content.
  std::string buffer;
  try {
    buffer = doc.DecodedStream(*stream);
  } catch (const EMRVXError&) {
    // A stream of a loaded file that this writer cannot decode (a filter it does not know,
    // decode parameters, damaged data) is left exactly as the file has it: the new content
    // goes into a stream of its own after it in the page's content list. Rewriting it would
    // lose the page, and refusing would leave the whole document unwritable.
    if (stream->ID.ObjectNumber == 0) throw;
    stream = AppendContentStream(doc, *stream);
    FPageObjStream = stream;
  }
  // Whatever parameters the old filters had (all empty, or the stream could not be read)
  // do not belong to the new one.
  if (stream->Dictionary->FindValue("DecodeParms") >= 0) stream->Dictionary->AddArray("DecodeParms");

  const bool flate = doc.Compression() == TMRVXCompressionMethod::cmFlateDecode;
  if (flate) {
    auto arr = std::make_unique<TMRVXArrayObject>(nullptr);
    arr->AddNameValue("FlateDecode");
    stream->Dictionary->AddValue("Filter", std::move(arr));
  } else {
    stream->Dictionary->DeleteValue("Filter");
  }

  FPageContent.push_back("\r\n");
  size_t total = buffer.size();
  for (const std::string& line : FPageContent) total += line.size() + 2;
  buffer.reserve(total);
  for (const std::string& line : FPageContent) {
    buffer += line;
    buffer += "\r\n";
  }
  stream->Stream = flate ? FlateEncode(buffer, kContentFlateLevel) : std::move(buffer);
  stream->Dictionary->AddIntegerValue("Length", static_cast<int64_t>(stream->Stream.size()));
  FPageContent.clear();
}

void TMRVXPage::SaveToPageStream(std::string ValStr) { FPageContent.push_back(std::move(ValStr)); }

// ---- size and orientation ----

Extended TMRVXPage::DocScale() const {
  if (FParent->FDocScale == 0) FParent->FDocScale = 1;
  return FParent->FDocScale;
}

float TMRVXPage::XProjection(float X) const {
  if (FSize == TMRVXPageSize::psUserDefined) return X + FMinXVal;
  return static_cast<float>(X / DocScale() * DPI + FMinXVal);
}

float TMRVXPage::YProjection(float Y) const {
  if (FSize == TMRVXPageSize::psUserDefined) return FMaxYVal - Y;
  return static_cast<float>(FMaxYVal - Y / DocScale() * DPI);
}

float TMRVXPage::Ls(float L) const {
  if (FSize == TMRVXPageSize::psUserDefined) return L;
  return static_cast<float>(L / DocScale() * DPI);
}

// A media box entry set to a number; a loaded box may name its numbers through references,
// which are replaced rather than followed into objects other pages may share.
void TMRVXPage::SetMediaBoxValue(size_t Index, float Value) {
  if (TMRVXNumericObject* n = AsNumber(FMediaBoxArray->GetIndexedItem(Index))) {
    n->Value = Value;
  } else {
    FMediaBoxArray->Items[Index] = std::make_unique<TMRVXNumericObject>(FMediaBoxArray, Value);
  }
}

void TMRVXPage::SetMediaRight(float Value) {
  FMaxXVal = FMinXVal + Value;
  SetMediaBoxValue(2, FMaxXVal);
}

void TMRVXPage::SetMediaTop(float Value) {
  FMaxYVal = FMinYVal + Value;
  SetMediaBoxValue(3, FMaxYVal);
}

void TMRVXPage::CalculateFormat() {
  FUpdateSize = true;
  if (FSize != TMRVXPageSize::psUserDefined) {
    const TMRVXFormatSize s = PageFormatSize(FSize);
    mWidth = static_cast<float>(s.Width);
    mHeight = static_cast<float>(s.Height);
  } else {
    mWidth = FWidth;
    mHeight = FHeight;
  }
  DPI = 72.0f / static_cast<float>(FResolution);
  if (FOrientation == TMRVXPageOrientation::poLandscape) std::swap(mWidth, mHeight);
  SetPageWidth(mWidth);
  SetPageHeight(mHeight);
  FWidth = static_cast<float>(platform::Trunc(mWidth / 72.0 * FResolution));
  FHeight = static_cast<float>(platform::Trunc(mHeight / 72.0 * FResolution));
  ResetCanvas();
  FUpdateSize = false;
}

void TMRVXPage::CalculateWidthFormat() {
  mWidth = FWidth;
  DPI = 72.0f / static_cast<float>(FResolution);
  SetMediaRight(mWidth);
  FWidth = static_cast<float>(platform::Trunc(mWidth / 72.0 * FResolution));
}

void TMRVXPage::CalculateHeightFormat() {
  mHeight = FHeight;
  DPI = 72.0f / static_cast<float>(FResolution);
  SetMediaTop(mHeight);
  FHeight = static_cast<float>(platform::Trunc(mHeight / 72.0 * FResolution));
}

// A width set directly makes the page user-defined; it is the width whatever the
// orientation (a landscape page keeps its height).
void TMRVXPage::SetPageWidth(float Value) {
  SetMediaRight(Value);
  if (!FUpdateSize) {
    FSize = TMRVXPageSize::psUserDefined;
    FWidth = Value;
    CalculateWidthFormat();
  }
  ResetCanvas();
}

void TMRVXPage::SetPageHeight(float Value) {
  SetMediaTop(Value);
  if (!FUpdateSize) {
    FSize = TMRVXPageSize::psUserDefined;
    FHeight = Value;
    CalculateHeightFormat();
  }
  ResetCanvas();
}

void TMRVXPage::SetPageSize(TMRVXPageSize Value) {
  FSize = Value;
  CalculateFormat();
}

void TMRVXPage::SetResolution(int Value) {
  if (Value <= 0) throw EMRVXError("Invalid page resolution.");
  FResolution = Value;
  // Only the unit of the page's coordinates changes: what the canvas holds is kept, so that
  // a metafile can be shown at another resolution and the resolution put back.
  FKeepCanvas = true;
  try {
    CalculateFormat();
  } catch (...) {
    FKeepCanvas = false;
    throw;
  }
  FKeepCanvas = false;
}

void TMRVXPage::TurnPage() {
  std::swap(FWidth, FHeight);
  std::swap(mWidth, mHeight);
  const float w = mWidth, h = mHeight;
  SetPageWidth(w);
  SetPageHeight(h);
}

void TMRVXPage::SetOrientation(TMRVXPageOrientation Value) {
  if ((Value == TMRVXPageOrientation::poPortrait && FWidth > FHeight) ||
      (Value == TMRVXPageOrientation::poLandscape && FWidth < FHeight))
    TurnPage();
  FOrientation = Value;
}

// ---- path construction and painting ----

void TMRVXPage::MoveTo(float X, float Y) { Line(F(XProjection(X)) + " " + F(YProjection(Y)) + " m"); }
void TMRVXPage::LineTo(float X, float Y) { Line(F(XProjection(X)) + " " + F(YProjection(Y)) + " l"); }
void TMRVXPage::RMoveTo(float X, float Y) { Line(F(X) + " " + F(Y) + " m"); }

void TMRVXPage::CurveToC(float X1, float Y1, float X2, float Y2, float X3, float Y3) {
  Line(F(XProjection(X1)) + " " + F(YProjection(Y1)) + " " + F(XProjection(X2)) + " " + F(YProjection(Y2)) + " " +
       F(XProjection(X3)) + " " + F(YProjection(Y3)) + " c");
}
void TMRVXPage::CurveToV(float X2, float Y2, float X3, float Y3) {
  Line(F(XProjection(X2)) + " " + F(YProjection(Y2)) + " " + F(XProjection(X3)) + " " + F(YProjection(Y3)) + " v");
}
void TMRVXPage::CurveToY(float X1, float Y1, float X3, float Y3) {
  Line(F(XProjection(X1)) + " " + F(YProjection(Y1)) + " " + F(XProjection(X3)) + " " + F(YProjection(Y3)) + " y");
}

void TMRVXPage::ClosePath() { Line("h"); }
void TMRVXPage::NewPath() { Line("n"); }
void TMRVXPage::Stroke() { Line("S"); }
void TMRVXPage::ClosePathStroke() { Line("s"); }
void TMRVXPage::Fill() { Line("f"); }
void TMRVXPage::EoFill() { Line("f*"); }
void TMRVXPage::FillAndStroke() { Line("B"); }
void TMRVXPage::EoFillAndStroke() { Line("B*"); }
void TMRVXPage::ClosePathFillAndStroke() { Line("b"); }
void TMRVXPage::ClosePathEoFillAndStroke() { Line("b*"); }
void TMRVXPage::Clip() { Line("W"); }
void TMRVXPage::EoClip() { Line("W*"); }

// ---- graphics state ----

void TMRVXPage::GStateSave() {
  ++ISStated;
  Line("q");
}

bool TMRVXPage::GStateRestore() {
  if (ISStated < 1) return false;
  Line("Q");
  --ISStated;
  return true;
}

void TMRVXPage::Concat(float A, float B, float C, float D, float E, float G) {
  Line(F(A) + " " + F(B) + " " + F(C) + " " + F(D) + " " + F(E) + " " + F(G) + " cm");
}

void TMRVXPage::SetLineWidth(float Width) { Line(F(Ls(Width)) + " w"); }
void TMRVXPage::SetLineCap(TLineCapStyle Linecap) { Line(std::to_string(static_cast<int>(Linecap)) + " J"); }
void TMRVXPage::SetLineJoin(TLineJoinStyle LineJoin) { Line(std::to_string(static_cast<int>(LineJoin)) + " j"); }
void TMRVXPage::SetMiterLimit(uint8_t MiterLimit) { Line(std::to_string(MiterLimit) + " M"); }
void TMRVXPage::SetFlat(uint8_t Flatness) { Line(std::to_string(Flatness) + " i"); }

void TMRVXPage::SetDash(std::span<const uint8_t> DashArray, uint8_t Phase) {
  std::string s = "[";
  if (!DashArray.empty() && DashArray[0] != 0)
    for (uint8_t e : DashArray) s += std::to_string(e) + " ";
  Line(s + "] " + std::to_string(Phase) + " d");
}

void TMRVXPage::NoDash() {
  const uint8_t none[] = {0, 0};
  SetDash(none, 0);
}

// ---- colour ----

void TMRVXPage::SetRGBStrokeColor(TColor Value) {
  FStrokeColor = Value;
  Line(_ColorToStrR(Value) + " RG");
}

void TMRVXPage::SetRGBFillColor(TColor Value) {
  FFillColor = Value;
  Line(_ColorToStrR(Value) + " rg");
}

void TMRVXPage::SetRGBColor(TColor Value) {
  SetRGBStrokeColor(Value);
  SetRGBFillColor(Value);
}

void TMRVXPage::SetGrayStrokeColor(Extended GrayColor) {
  const uint8_t b = ByteOf(GrayColor);
  FStrokeColor = static_cast<TColor>(b | b << 8 | b << 16);
  Line(F(GrayColor) + " G");
}

void TMRVXPage::SetGrayFillColor(Extended GrayColor) {
  const uint8_t b = ByteOf(GrayColor);
  FFillColor = static_cast<TColor>(b | b << 8 | b << 16);
  Line(F(GrayColor) + " g");
}

void TMRVXPage::SetGrayColor(Extended GrayColor) {
  SetGrayStrokeColor(GrayColor);
  SetGrayFillColor(GrayColor);
}

// ---- text state ----

void TMRVXPage::BeginText() {
  if (STextBegin) return;
  Line("BT");
  STextBegin = true;
}

void TMRVXPage::EndText() {
  if (!STextBegin) return;
  Line("ET");
  STextBegin = false;
}

void TMRVXPage::SetCharacterSpacing(float Spacing) {
  if (Spacing == FCharSpace) return;
  FCharSpace = Spacing;
  Line(F(Spacing) + " Tc");
}

void TMRVXPage::SetWordSpacing(float Spacing) {
  if (Spacing == FWordSpace) return;
  FWordSpace = Spacing;
  Line(F(Spacing) + " Tw");
}

void TMRVXPage::SetHorizontalScaling(float Scaling) {
  if (Scaling == FHorizontalScaling) return;
  FHorizontalScaling = Scaling;
  Line(F(Scaling) + " Tz");
}

void TMRVXPage::SetLeading(float Leading) {
  if (Leading == FLeading) return;
  FLeading = Leading;
  Line(F(Leading) + " TL");
}

void TMRVXPage::SetTextRenderingMode(TPDFTextRenderingMode Mode) {
  Line(std::to_string(static_cast<int>(Mode)) + " Tr");
}

void TMRVXPage::SetTextRise(int16_t Rise) { Line(std::to_string(Rise) + " Ts"); }

void TMRVXPage::MoveTextPoint(float X, float Y) { Line(F(XProjection(X)) + " " + F(YProjection(Y)) + " Td"); }

void TMRVXPage::MoveToNextLine() { Line("T*"); }

void TMRVXPage::SetTextMatrix(float A, float B, float C, float D, float X, float Y) {
  Line(_CutFloat(A) + " " + _CutFloat(B) + " " + _CutFloat(C) + " " + _CutFloat(D) + " " + _CutFloat(X) + " " +
       _CutFloat(Y) + " Tm");
}

// ---- external objects ----

void TMRVXPage::ExecuteXObject(std::string_view XOName) { Line("/" + std::string(XOName) + " Do"); }

void TMRVXPage::DrawXObjectEx(float X, float Y, float /*AWidth*/, float /*AHeight*/, float /*ClipX*/,
                              float /*ClipY*/, float ClipWidth, float ClipHeight, std::string_view AXObjectName,
                              Extended Angle, Extended /*ADocScale*/) {
  GStateSave();
  Concat(1, 0, 0, 1, XProjection(X), Y - Ls(ClipHeight));
  if (std::fabs(Angle) > 0.001L) {
    const Extended a = Angle * std::numbers::pi_v<Extended> / 180;
    const auto c = static_cast<float>(std::cos(a)), s = static_cast<float>(std::sin(a));
    Concat(c, s, -s, c, 0, 0);
  }
  Concat(Ls(ClipWidth), 0, 0, Ls(ClipHeight), 0, 0);
  ExecuteXObject(AXObjectName);
  GStateRestore();
}

// ---- shapes ----

void TMRVXPage::Rectangle(float X, float Y, float Width, float Height) {
  Line(F(XProjection(X)) + " " + F(static_cast<Extended>(YProjection(Y)) - Ls(Height)) + " " + F(Ls(Width)) + " " +
       F(Ls(Height)) + " re");
}

void TMRVXPage::MFRectangle(float X, float Y, float X1, float Y1) { Rectangle(X, Y, X1 - X, Y1 - Y); }

void TMRVXPage::RotateCoordinate(Extended X, Extended Y, Extended Angle, Extended& XR, Extended& YR) {
  const Extended a = Angle * std::numbers::pi_v<Extended> / 180;
  const Extended c = static_cast<float>(std::cos(a));
  const Extended s = static_cast<float>(std::sin(a));
  XR = X * c - Y * s;
  YR = X * s + Y * c;
}

void TMRVXPage::RectangleRotate(float X, float Y, float Width, float Height, Extended Angle) {
  MoveTo(X, Y);
  const Extended corners[3][2] = {{Width, 0}, {Width, Height}, {0, Height}};
  for (const auto& c : corners) {
    Extended xr = 0, yr = 0;
    RotateCoordinate(c[0], c[1], Angle, xr, yr);
    LineTo(static_cast<float>(X + xr), static_cast<float>(Y + yr));
  }
}

void TMRVXPage::Ellipse(float X, float Y, float Width, float Height) { FEllipse(X, Y, Width, Height); }

void TMRVXPage::FMEllipse(float X, float Y, float X1, float Y1) { Ellipse(X, Y, X1 - X, Y1 - Y); }

void TMRVXPage::Circle(float X, float Y, float Radius) {
  Ellipse(X - Radius * DPI, Y - Radius * DPI, 2 * Radius, 2 * Radius);
}

void TMRVXPage::FEllipse(float X, float Y, float Width, float Height) {
  const float rx = Width / 2, ry = Height / 2;
  const float cx = X + rx, cy = Y + ry;
  const float kx = rx * 11 / 20, ky = ry * 11 / 20;
  MoveTo(X, cy);
  CurveToC(X, cy - ky, cx - kx, Y, cx, Y);
  CurveToC(cx + kx, Y, X + Width, cy - ky, X + Width, cy);
  CurveToC(X + Width, cy + ky, cx + kx, Y + Height, cx, Y + Height);
  CurveToC(cx - kx, Y + Height, X, cy + ky, X, cy);
}

void TMRVXPage::RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3) {
  const Extended x1 = X1, y1 = Y1, x2 = X2, y2 = Y2;
  const Extended rx = X3 / 2.0L, ry = Y3 / 2.0L, k = 0.5522847498L;
  const auto f = [](Extended v) { return static_cast<float>(v); };
  MoveTo(f(x1 + rx), f(y1));
  LineTo(f(x2 - rx), f(y1));
  CurveToC(f(x2 - rx + k * rx), f(y1), f(x2), f(y1 + ry - k * ry), f(x2), f(y1 + ry));
  LineTo(f(x2), f(y2 - ry));
  CurveToC(f(x2), f(y2 - ry + k * ry), f(x2 - rx + k * rx), f(y2), f(x2 - rx), f(y2));
  LineTo(f(x1 + rx), f(y2));
  CurveToC(f(x1 + rx - k * rx), f(y2), f(x1), f(y2 - ry + k * ry), f(x1), f(y2 - ry));
  LineTo(f(x1), f(y1 + ry));
  CurveToC(f(x1), f(y1 + ry - k * ry), f(x1 + rx - k * rx), f(y1), f(x1 + rx), f(y1));
  ClosePath();
}

TMRVXCurrPoint TMRVXPage::DrawArc(float X1, float Y1, float X2, float Y2, float X3, float Y3, float X4, float Y4) {
  constexpr Extended pi = std::numbers::pi_v<Extended>;
  const Extended cx = (static_cast<Extended>(X1) + X2) / 2, cy = (static_cast<Extended>(Y1) + Y2) / 2;
  // The box is one unit smaller than its corner distance, as a raster device draws it.
  const Extended rx = std::max<Extended>(0, (std::fabs(static_cast<Extended>(X1) - X2) - 1) / 2);
  const Extended ry = std::max<Extended>(0, (std::fabs(static_cast<Extended>(Y1) - Y2) - 1) / 2);
  Extended s = std::atan2(rx * (cy - Y4), ry * (X4 - cx));
  const Extended e = std::atan2(rx * (cy - Y3), ry * (X3 - cx));
  TMRVXCurrPoint start{cx + rx * std::cos(s), cy - ry * std::sin(s)};
  Extended d = e - s;
  if (d <= 0) d += 2 * pi;
  bool first = true;
  // The tolerance keeps rounding in the sums of quarter turns from adding a sliver of a
  // fifth segment to a full ellipse.
  constexpr Extended kEps = 1e-9L;
  while (d > pi / 2 + kEps) {
    CurveArc(cx, cy, rx, ry, s, pi / 2, first);
    first = false;
    s += pi / 2;
    d -= pi / 2;
  }
  if (d > kEps || first) CurveArc(cx, cy, rx, ry, s, d, first);
  return start;
}

void TMRVXPage::CurveArc(Extended CenterX, Extended CenterY, Extended RadiusX, Extended RadiusY, Extended StartAngle,
                         Extended SweepRange, bool UseMoveTo) {
  if (SweepRange == 0 || !std::isfinite(SweepRange)) return;
  const Extended h = SweepRange / 2;
  const Extended sn = std::sin(h), cs = std::cos(h);
  const Extended t = 4 * (1 - cs) / 3;
  const Extended u = sn - t * cs / sn;
  const double m = static_cast<double>(StartAngle + h);
  const double ms = std::sin(m), mc = std::cos(m);
  const auto px = [&](Extended x, Extended y) {
    return static_cast<float>(CenterX + RadiusX * (x * mc + y * ms) - 0.0001L);
  };
  const auto py = [&](Extended x, Extended y) {
    return static_cast<float>(CenterY + RadiusY * (-x * ms + y * mc) - 0.0001L);
  };
  if (UseMoveTo) MoveTo(px(cs, sn), py(cs, sn));
  CurveToC(px(cs + t, u), py(cs + t, u), px(cs + t, -u), py(cs + t, -u), px(cs, -sn), py(cs, -sn));
}

void TMRVXPage::DrawPie(Extended X1, Extended Y1, Extended X2, Extended Y2, Extended X3, Extended Y3, Extended X4,
                        Extended Y4) {
  const auto f = [](Extended v) { return static_cast<float>(v); };
  const TMRVXCurrPoint p = DrawArc(f(X1), f(Y1), f(X2), f(Y2), f(X3), f(Y3), f(X4), f(Y4));
  const float xc = f(X1 + (X2 - X1) / 2), yc = f(Y1 + (Y2 - Y1) / 2);
  LineTo(xc, yc);
  MoveTo(f(p.X), f(p.Y));
  LineTo(xc, yc);
}

}  // namespace pdfwriter
