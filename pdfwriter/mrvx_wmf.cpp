// The metafile translator's frame: the replay, the dispatch of records, the device-context
// state (mapping, world transform, saved states, objects, colours and modes) and the mapping
// of logical coordinates to page units. The drawing records are in mrvx_wmf_draw.cpp.
#include "pdfwriter/mrvx_wmf.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_doc_page.h"
#include "platform/metafile/emf_records.h"

namespace pdfwriter {
namespace {

// Record types of the published format that the translator reads.
enum : uint32_t {
  R_POLYBEZIER = 2, R_POLYGON = 3, R_POLYLINE = 4, R_POLYBEZIERTO = 5, R_POLYLINETO = 6, R_POLYPOLYLINE = 7,
  R_POLYPOLYGON = 8, R_SETWINDOWEXTEX = 9, R_SETWINDOWORGEX = 10, R_SETVIEWPORTEXTEX = 11,
  R_SETVIEWPORTORGEX = 12, R_SETPIXELV = 15, R_SETMAPMODE = 17, R_SETBKMODE = 18, R_SETPOLYFILLMODE = 19,
  R_SETSTRETCHBLTMODE = 21, R_SETTEXTALIGN = 22, R_SETTEXTCOLOR = 24, R_SETBKCOLOR = 25, R_MOVETOEX = 27,
  R_INTERSECTCLIPRECT = 30, R_SAVEDC = 33, R_RESTOREDC = 34, R_SETWORLDTRANSFORM = 35,
  R_MODIFYWORLDTRANSFORM = 36, R_SELECTOBJECT = 37, R_CREATEPEN = 38, R_CREATEBRUSHINDIRECT = 39,
  R_DELETEOBJECT = 40, R_ANGLEARC = 41, R_ELLIPSE = 42, R_RECTANGLE = 43, R_ROUNDRECT = 44, R_ARC = 45,
  R_CHORD = 46, R_PIE = 47, R_LINETO = 54, R_ARCTO = 55, R_POLYDRAW = 56, R_SETARCDIRECTION = 57,
  R_BEGINPATH = 59, R_ENDPATH = 60, R_CLOSEFIGURE = 61, R_FILLPATH = 62, R_STROKEANDFILLPATH = 63,
  R_STROKEPATH = 64, R_SELECTCLIPPATH = 67, R_ABORTPATH = 68, R_FILLRGN = 71, R_EXTSELECTCLIPRGN = 75,
  R_BITBLT = 76, R_STRETCHBLT = 77, R_SETDIBITSTODEVICE = 80, R_STRETCHDIBITS = 81,
  R_EXTCREATEFONTINDIRECTW = 82, R_EXTTEXTOUTA = 83, R_EXTTEXTOUTW = 84, R_POLYBEZIER16 = 85, R_POLYGON16 = 86,
  R_POLYLINE16 = 87, R_POLYBEZIERTO16 = 88, R_POLYLINETO16 = 89, R_POLYPOLYLINE16 = 90, R_POLYPOLYGON16 = 91,
  R_POLYDRAW16 = 92, R_EXTCREATEPEN = 95, R_SMALLTEXTOUT = 108, R_ALPHABLEND = 114,
};

bool IsTextRecord(uint32_t t) { return t == R_EXTTEXTOUTA || t == R_EXTTEXTOUTW || t == R_SMALLTEXTOUT; }

// Records during which an open text run stays open.
bool KeepsTextRun(uint32_t t) {
  switch (t) {
    case R_SETBKMODE: case R_SETTEXTALIGN: case R_SETTEXTCOLOR: case R_SETBKCOLOR: case R_MOVETOEX:
    case R_SAVEDC: case R_RESTOREDC: case R_SELECTOBJECT: case R_CREATEPEN: case R_CREATEBRUSHINDIRECT:
    case R_DELETEOBJECT: case R_BITBLT: case R_EXTCREATEFONTINDIRECTW: case R_EXTTEXTOUTA: case R_EXTTEXTOUTW:
    case R_SMALLTEXTOUT:
      return true;
    default:
      return false;
  }
}

// The first 20 entries of the default palette, as colour references.
constexpr uint32_t kDefaultPalette[20] = {
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0, 0xC0DCC0, 0xF0CAA6,
    0xF0FBFF, 0xA4A0A0, 0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};

uint32_t PaletteColor(uint32_t c) {
  if (c >= 0x01000000u && c <= 0x01000013u) return kDefaultPalette[c - 0x01000000u];
  return c;
}

TColor ToColor(uint32_t c) { return static_cast<TColor>(c & 0x00FFFFFFu); }

}  // namespace

// ---- record reader ----

float TMRVXWmf::Rec::F32(size_t At) const { return std::bit_cast<float>(U32(At)); }

platform::EmfPoint TMRVXWmf::Rec::Point(size_t At, size_t I, bool Small) const {
  if (Small) return {I16(At + 4 * I), I16(At + 4 * I + 2)};
  return {I32(At + 8 * I), I32(At + 8 * I + 4)};
}

void TMRVXWmf::Rec::NeedItems(size_t At, uint64_t Count, size_t Each) const {
  if (At > D.size() || Count > (D.size() - At) / Each) Fail();
}

void TMRVXWmf::Rec::Fail() const {
  const uint32_t type = D.size() >= 4 ? static_cast<uint32_t>(D[0]) | static_cast<uint32_t>(D[1]) << 8 |
                                            static_cast<uint32_t>(D[2]) << 16 | static_cast<uint32_t>(D[3]) << 24
                                      : 0;
  throw EMRVXError("Invalid metafile: a record of type " + std::to_string(type) + " is too short for its fields.");
}

// ---- logical font and mirror ----

std::u16string TMRVXLogFont::FaceName() const {
  std::u16string s;
  for (char16_t c : lfFaceName) {
    if (c == 0) break;
    s += c;
  }
  return s;
}

void TMRVXLogFont::SetFaceName(std::u16string_view Name) {
  lfFaceName.fill(0);
  for (size_t i = 0; i < Name.size() && i < lfFaceName.size() - 1; ++i) lfFaceName[i] = Name[i];
}

TMRVXLogFont TMirrorDC::SystemFont() {
  TMRVXLogFont f;
  f.lfHeight = 16;
  f.lfWeight = 700;
  f.SetFaceName(u"System");
  return f;
}

TMirrorDC::TMirrorDC() { State.Font = SystemFont(); }

bool TMirrorDC::Restore(int32_t n) {
  const int depth = Depth();
  const int level = n < 0 ? depth + n + 1 : n;
  if (n == 0 || level < 1 || level > depth) return false;
  State = Saved[static_cast<size_t>(level - 1)];
  Saved.resize(static_cast<size_t>(level - 1));
  return true;
}

// ---- translator ----

TMRVXWmf::TMRVXWmf(TMRVXPage* ParentPage, TMorvex& doc) : FPage(ParentPage), FDocument(&doc) {
  PosiX = static_cast<float>(doc.Resolution()) / static_cast<float>(doc.ReferenceDpi());
  PosiY = PosiX;
  RefDpi = doc.ReferenceDpi();
}

void TMRVXWmf::Analyse(const platform::Metafile& MF) { Analyse(std::span<const uint8_t>(MF.Data())); }

void TMRVXWmf::Analyse(std::span<const uint8_t> Data) {
  if (Data.empty()) return;  // nothing was ever recorded
  std::vector<platform::EmfRecord> records;
  try {
    records = platform::ReadEmfRecords(Data);
  } catch (const platform::EMetafileError& e) {
    throw EMRVXError(e.what());
  }
  GDIObjectsCount = std::get<platform::EmrHeader>(records.front()).Handles;
  GDIObjects.assign(GDIObjectsCount, std::nullopt);

  Mirror = TMirrorDC();
  lpXForm = TMRVXXForm{};
  WTransform = MirrorAcceptsTransform;
  CurrentFont = Mirror.State.Font;
  Reset();

  size_t at = 0;
  while (at < Data.size()) {
    const Rec header(Data.subspan(at, 8));
    const uint32_t size = header.U32(4);
    ExecuteRecord(Data.subspan(at, size));
    at += size;
  }

  // A clip still active holds a graphics-state level of its own; it is given back here so
  // that the page's content stays balanced whatever the recording left selected.
  if (IsCliped) {
    IsCliped = false;
    FPage->GStateRestore();
  }
  GDIObjects.clear();
  DCBuffer.clear();
  DCBufferLen = 0;
  FPage->TopTextPosition = true;
  FPage->SetHorizontalScaling(100);
  FPage->SetCharacterSpacing(0);
  FPage->SetWordSpacing(0);
}

void TMRVXWmf::Reset() {
  PicturePixels = 0;
  ZScaleX = ZScaleY = 1;
  XOffset = YOffset = 0;
  DCBufferLen = 0;
  DCBuffer.clear();
  FPage->SetHorizontalScaling(100);
  FPage->SetCharacterSpacing(0);
  FPage->SetWordSpacing(0);
  BKMode = true;
  PolyFIllMode = true;
  VertMode = TMRVXVerticalJust::vvjUp;
  HorMode = TMRVXHorizJust::vhjLeft;
  IsCliped = false;
  UpdatePos = false;
  WinExtEx = WinExtEy = 1;
  FontScale = 1;
  MadeClip = true;
  ViewportExtEx = ViewportExtEy = 1;
  IsNullBrush = false;
  SetPathContinue(false);
  IsCounterClockwise = true;
  ProjectMode = 1;
  CurrentFill = 0;
  CurrentVal = {0, 0};
  BKColor = 0xFFFFFF;
}

void TMRVXWmf::ExecuteRecord(std::span<const uint8_t> Data) {
  const Rec r(Data);
  const uint32_t type = r.Type();
  if (FPathContinue && IsTextRecord(type)) return;
  if (FTextContinue && !KeepsTextRun(type)) SetTextContinue(false);
  if (IsTextRecord(type) && !FTextContinue) SetTextContinue(true);

  switch (type) {
    case R_POLYBEZIER: case R_POLYGON: case R_POLYLINE: case R_POLYBEZIERTO: case R_POLYLINETO:
      VEMRPOLY(r, false);
      break;
    case R_POLYBEZIER16: case R_POLYGON16: case R_POLYLINE16: case R_POLYBEZIERTO16: case R_POLYLINETO16:
      VEMRPOLY(r, true);
      break;
    case R_POLYPOLYLINE: VEMRPOLYPOLY(r, false, false); break;
    case R_POLYPOLYGON: VEMRPOLYPOLY(r, false, true); break;
    case R_POLYPOLYLINE16: VEMRPOLYPOLY(r, true, false); break;
    case R_POLYPOLYGON16: VEMRPOLYPOLY(r, true, true); break;
    case R_POLYDRAW: VEMRPOLYDRAW(r, false); break;
    case R_POLYDRAW16: VEMRPOLYDRAW(r, true); break;
    case R_SETWINDOWEXTEX: VEMRSETWINDOWEXTEX(r); break;
    case R_SETWINDOWORGEX: VEMRSETWINDOWORGEX(r); break;
    case R_SETVIEWPORTEXTEX: VEMRSETVIEWPORTEXTEX(r); break;
    case R_SETVIEWPORTORGEX: VEMRSETVIEWPORTORGEX(r); break;
    case R_SETPIXELV: VEMRSETPIXELV(r); break;
    case R_SETMAPMODE: VEMRSETMAPMODE(r); break;
    case R_SETBKMODE: VEMRSETBKMODE(r); break;
    case R_SETPOLYFILLMODE: VEMRSETPOLYFILLMODE(r); break;
    case R_SETSTRETCHBLTMODE: VEMRSETSTRETCHBLTMODE(r); break;
    case R_SETTEXTALIGN: VEMRSETTEXTALIGN(r); break;
    case R_SETTEXTCOLOR: VEMRSETTEXTCOLOR(r); break;
    case R_SETBKCOLOR: VEMRSETBKCOLOR(r); break;
    case R_MOVETOEX: VEMRMOVETOEX(r); break;
    case R_INTERSECTCLIPRECT: VEMRINTERSECTCLIPRECT(r); break;
    case R_SAVEDC: VEMRSAVEDC(r); break;
    case R_RESTOREDC: VEMRRESTOREDC(r); break;
    case R_SETWORLDTRANSFORM: VEMRSETWORLDTRANSFORM(r); break;
    case R_MODIFYWORLDTRANSFORM: VEMRMODIFYWORLDTRANSFORM(r); break;
    case R_SELECTOBJECT: VEMRSELECTOBJECT(r); break;
    case R_CREATEPEN: VEMRCREATEPEN(r); break;
    case R_CREATEBRUSHINDIRECT: VEMRCREATEBRUSHINDIRECT(r); break;
    case R_DELETEOBJECT: VEMRDELETEOBJECT(r); break;
    case R_ANGLEARC: VEMRANGLEARC(r); break;
    case R_ELLIPSE: VEMRELLIPSE(r); break;
    case R_RECTANGLE: VEMRRECTANGLE(r); break;
    case R_ROUNDRECT: VEMRROUNDRECT(r); break;
    case R_ARC: case R_CHORD: case R_PIE: VEMRARCS(r); break;
    case R_LINETO: VEMRLINETO(r); break;
    case R_ARCTO: VEMRARCTO(r); break;
    case R_SETARCDIRECTION: VEMRSETARCDIRECTION(r); break;
    case R_BEGINPATH: VEMRBEGINPATH(); break;
    case R_ENDPATH: SetPathContinue(false); break;
    case R_CLOSEFIGURE: FPage->ClosePath(); break;
    case R_FILLPATH:
      SetPathContinue(false);
      if (!IsNullBrush) FPage->Fill();
      FPage->NewPath();
      break;
    case R_STROKEANDFILLPATH:
      SetPathContinue(false);
      FSOrPath();
      FPage->NewPath();
      break;
    case R_STROKEPATH:
      SetPathContinue(false);
      StrokeOrPath();
      FPage->NewPath();
      break;
    case R_SELECTCLIPPATH: VEMRSELECTCLIPPATH(); break;
    case R_ABORTPATH:
      FPage->NewPath();
      SetPathContinue(false);
      break;
    case R_FILLRGN: VEMRFILLRGN(r); break;
    case R_EXTSELECTCLIPRGN: VEMREXTSELECTCLIPRGN(r); break;
    case R_EXTCREATEFONTINDIRECTW: VEMREXTCREATEFONTINDIRECTW(r); break;
    case R_EXTCREATEPEN: VEMREXTCREATEPEN(r); break;
    case R_EXTTEXTOUTA: case R_EXTTEXTOUTW: VEMREXTTEXTOUT(r); break;
    case R_SMALLTEXTOUT: VEMRSMALLTEXTOUT(r); break;
    case R_BITBLT: VEMRBITBLT(r); break;
    case R_STRETCHBLT: VEMRSTRETCHBLT(r, false); break;
    case R_ALPHABLEND: VEMRSTRETCHBLT(r, true); break;
    case R_SETDIBITSTODEVICE: VEMRSETDIBITSTODEVICE(r); break;
    case R_STRETCHDIBITS: VEMRSTRETCHDIBITS(r); break;
    default:
      break;  // every other record draws nothing and changes nothing
  }
}

// ---- coordinate mapping ----

float TMRVXWmf::ProjectX(float Value) const {
  if (ProjectMode == 7 || ProjectMode == 8)
    return static_cast<float>((static_cast<double>(Value) - WinOrgEx) * ViewportExtEx / WinExtEx + ViewportOrgEx);
  return static_cast<float>(static_cast<double>(Value) + ViewportOrgEx);
}

float TMRVXWmf::ProjectY(float Value) const {
  if (ProjectMode == 7 || ProjectMode == 8)
    return static_cast<float>((static_cast<double>(Value) - WinOrgEy) * ViewportExtEy / WinExtEy + ViewportOrgEy);
  return static_cast<float>(static_cast<double>(Value) + ViewportOrgEy);
}

float TMRVXWmf::ScaleX(float Value, bool Proj) const {
  if (!Proj) return Value * PosiX;
  return ProjectX(Value) * ZScaleX * PosiX + XOffset;
}

float TMRVXWmf::ScaleY(float Value, bool Proj) const {
  if (!Proj) return Value * PosiY;
  return ProjectY(Value) * ZScaleY * PosiY + YOffset;
}

float TMRVXWmf::ZoomX() const {
  if (ProjectMode == 1) return 1;
  return static_cast<float>(std::fabs(static_cast<double>(ViewportExtEx) / WinExtEx));
}

float TMRVXWmf::ZoomY() const {
  if (ProjectMode == 1) return 1;
  return static_cast<float>(std::fabs(static_cast<double>(ViewportExtEy) / WinExtEy));
}

// ---- window and viewport ----
// The recording device refuses a zero extent (it would divide by zero in the projection), so
// the translator keeps the extent it had, as the device does.

void TMRVXWmf::VEMRSETWINDOWEXTEX(const Rec& R) {
  const int32_t cx = R.I32(8), cy = R.I32(12);
  if (cx == 0 || cy == 0) return;
  WinExtEx = Mirror.State.WinExtX = cx;
  WinExtEy = Mirror.State.WinExtY = cy;
}

void TMRVXWmf::VEMRSETWINDOWORGEX(const Rec& R) {
  WinOrgEx = Mirror.State.WinOrgX = R.I32(8);
  WinOrgEy = Mirror.State.WinOrgY = R.I32(12);
}

void TMRVXWmf::VEMRSETVIEWPORTEXTEX(const Rec& R) {
  const int32_t cx = R.I32(8), cy = R.I32(12);
  if (cx == 0 || cy == 0) return;
  ViewportExtEx = Mirror.State.ViewExtX = cx;
  ViewportExtEy = Mirror.State.ViewExtY = cy;
}

void TMRVXWmf::VEMRSETVIEWPORTORGEX(const Rec& R) {
  ViewportOrgEx = Mirror.State.ViewOrgX = R.I32(8);
  ViewportOrgEy = Mirror.State.ViewOrgY = R.I32(12);
}

void TMRVXWmf::VEMRSETMAPMODE(const Rec& R) {
  ProjectMode = Mirror.State.MapMode = R.I32(8);
  MadeClip = true;
}

// ---- simple state records ----

void TMRVXWmf::VEMRSETBKMODE(const Rec& R) {
  Mirror.State.BkMode = R.U32(8);
  BKMode = Mirror.State.BkMode != 1;
}

void TMRVXWmf::VEMRSETBKCOLOR(const Rec& R) { BKColor = Mirror.State.BkColor = R.U32(8); }

void TMRVXWmf::VEMRSETTEXTCOLOR(const Rec& R) {
  TextColor = Mirror.State.TextColor = R.U32(8);
  if (FTextContinue) SetFontColor();
}

void TMRVXWmf::ApplyTextAlign(uint32_t Flags) {
  switch (Flags & 6) {
    case 0: HorMode = TMRVXHorizJust::vhjLeft; break;
    case 2: HorMode = TMRVXHorizJust::vhjRight; break;
    case 6: HorMode = TMRVXHorizJust::vhjCenter; break;
    default: break;
  }
  switch (Flags & 0x18) {
    case 0: VertMode = TMRVXVerticalJust::vvjUp; break;
    case 8: VertMode = TMRVXVerticalJust::vvjDown; break;
    case 0x18: VertMode = TMRVXVerticalJust::vvjCenter; break;
    default: break;
  }
  UpdatePos = (Flags & 1) != 0;
}

void TMRVXWmf::VEMRSETTEXTALIGN(const Rec& R) {
  Mirror.State.TextAlign = R.U32(8);
  ApplyTextAlign(Mirror.State.TextAlign);
}

void TMRVXWmf::VEMRSETPOLYFILLMODE(const Rec& R) {
  Mirror.State.PolyFillMode = R.U32(8);
  PolyFIllMode = Mirror.State.PolyFillMode == 1;
}

void TMRVXWmf::VEMRSETSTRETCHBLTMODE(const Rec& R) {
  Mirror.State.StretchMode = R.U32(8);
  BLMode = R.I32(8);
}

void TMRVXWmf::VEMRSETARCDIRECTION(const Rec& R) { IsCounterClockwise = R.U32(8) == 1; }

// ---- world transform ----

TMRVXXForm TMRVXWmf::MergeForms(const TMRVXXForm& A, const TMRVXXForm& B) {
  TMRVXXForm r;
  r.eM11 = A.eM11 * B.eM11 + A.eM12 * B.eM21;
  r.eM12 = A.eM11 * B.eM12 + A.eM12 * B.eM22;
  r.eM21 = A.eM21 * B.eM11 + A.eM22 * B.eM21;
  r.eM22 = A.eM21 * B.eM12 + A.eM22 * B.eM22;
  r.eDx = A.eDx * B.eM11 + A.eDy * B.eM21 + B.eDx;
  r.eDy = A.eDx * B.eM12 + A.eDy * B.eM22 + B.eDy;
  return r;
}

void TMRVXWmf::TransformFromXForm(const TMRVXXForm& X) {
  ZScaleX = X.eM11;
  ZScaleY = X.eM22;
  XOffset = X.eDx * PosiX;
  YOffset = X.eDy * PosiY;
}

namespace {
TMRVXXForm ReadXForm(const TMRVXWmf::Rec& R, size_t At) {
  return {R.F32(At), R.F32(At + 4), R.F32(At + 8), R.F32(At + 12), R.F32(At + 16), R.F32(At + 20)};
}
}  // namespace

void TMRVXWmf::VEMRSETWORLDTRANSFORM(const Rec& R) {
  const TMRVXXForm m = ReadXForm(R, 8);
  TransformFromXForm(m);
  if (WTransform) Mirror.State.XForm = m;
  else lpXForm = m;
}

void TMRVXWmf::VEMRMODIFYWORLDTRANSFORM(const Rec& R) {
  const TMRVXXForm m = ReadXForm(R, 8);
  const uint32_t mode = R.U32(32);
  if (WTransform) {
    TMRVXXForm& x = Mirror.State.XForm;
    switch (mode) {
      case 1: x = TMRVXXForm{}; break;
      case 2: x = MergeForms(m, x); break;
      case 3: x = MergeForms(x, m); break;
      case 4: x = m; break;
      default: break;
    }
    TransformFromXForm(x);
    return;
  }
  switch (mode) {
    case 2: lpXForm = MergeForms(m, lpXForm); break;
    case 3: lpXForm = MergeForms(lpXForm, m); break;
    case 4: lpXForm = m; break;
    default: return;
  }
  TransformFromXForm(lpXForm);
}

// ---- saved states ----

void TMRVXWmf::VEMRSAVEDC(const Rec& /*R*/) {
  Mirror.Save();
  if (!WTransform) {
    ++DCBufferLen;
    DCBuffer.resize(static_cast<size_t>(DCBufferLen));
    DCBuffer.back() = lpXForm;
  }
}

void TMRVXWmf::VEMRRESTOREDC(const Rec& R) {
  const int32_t n = R.I32(8);
  Mirror.Restore(n);
  const TMirrorState& s = Mirror.State;

  if (WTransform) {
    TransformFromXForm(s.XForm);
  } else if (n < 0) {
    const int64_t index = static_cast<int64_t>(DCBufferLen) + n;
    if (index < 0) {
      DCBufferLen = 0;
    } else {
      lpXForm = DCBuffer[static_cast<size_t>(index)];
      TransformFromXForm(lpXForm);
      DCBufferLen = static_cast<int32_t>(index);
    }
    DCBuffer.resize(static_cast<size_t>(DCBufferLen));
  } else if (n >= 1 && n <= DCBufferLen) {
    lpXForm = DCBuffer[static_cast<size_t>(n - 1)];
    TransformFromXForm(lpXForm);
    DCBufferLen = n - 1;
    DCBuffer.resize(static_cast<size_t>(DCBufferLen));
  }

  ProjectMode = s.MapMode;
  BKMode = s.BkMode != 1;
  TextColor = s.TextColor;
  if (FTextContinue) SetFontColor();
  BKColor = s.BkColor;
  PolyFIllMode = s.PolyFillMode == 1;
  ViewportExtEx = s.ViewExtX;
  ViewportExtEy = s.ViewExtY;
  WinExtEx = s.WinExtX;
  WinExtEy = s.WinExtY;
  ViewportOrgEx = s.ViewOrgX;
  ViewportOrgEy = s.ViewOrgY;
  WinOrgEx = s.WinOrgX;
  WinOrgEy = s.WinOrgY;

  if (IsCliped) {
    IsCliped = false;
    MadeClip = true;
    FPage->GStateRestore();
  }

  ApplyPen(s.Pen);
  if (s.Brush.lbColor != CurrentBrush.lbColor) {
    CurrentBrush.lbColor = s.Brush.lbColor;
    if (!FTextContinue) SetBrushColor(true);
  }
  CurrentBrush.lbStyle = s.Brush.lbStyle;
  CurrentBrush.lbHatch = s.Brush.lbHatch;
  // The restored brush decides both ways: a solid brush restored after a null one fills again.
  IsNullBrush = s.Brush.lbStyle == 1;
  ApplyFont(s.Font);
  ApplyTextAlign(s.TextAlign);
}

// ---- pens, brushes, fonts ----

void TMRVXWmf::SendLineWidth() { FPage->SetLineWidth(static_cast<float>(CurrentPen.lopnWidth * PosiX)); }

void TMRVXWmf::ApplyDash(uint32_t Style) {
  static const uint8_t dash[] = {8, 8}, dot[] = {2, 2}, dashdot[] = {8, 2, 2, 2}, dashdotdot[] = {8, 2, 2, 2, 2, 2};
  switch (Style) {
    case 0: case 6: FPage->NoDash(); break;
    case 1: FPage->SetDash(dash, 0); break;
    case 2: FPage->SetDash(dot, 0); break;
    case 3: FPage->SetDash(dashdot, 0); break;
    case 4: FPage->SetDash(dashdotdot, 0); break;
    default: break;
  }
}

void TMRVXWmf::ApplyPen(const TMRVXLogPen& Pen) {
  if (static_cast<TColor>(Pen.lopnColor) != CurrentPen.lopnColor) {
    CurrentPen.lopnColor = static_cast<TColor>(Pen.lopnColor);
    SetPenColor();
  }
  if (static_cast<int32_t>(Pen.lopnStyle) != CurrentPen.lopnStyle) {
    CurrentPen.lopnStyle = static_cast<int32_t>(Pen.lopnStyle);
    ApplyDash(Pen.lopnStyle);
  }
  const Extended w = static_cast<Extended>(ZoomX()) * (static_cast<Extended>(Pen.lopnWidth) * ZScaleX);
  if (w != CurrentPen.lopnWidth) {
    CurrentPen.lopnWidth = Pen.lopnWidth == 0 ? static_cast<Extended>(ZoomX()) * ZScaleX : w;
    SendLineWidth();
  }
}

void TMRVXWmf::ApplyBrush(const TMRVXLogBrush& Brush) {
  IsNullBrush = false;
  if (Brush.lbColor != CurrentBrush.lbColor) {
    CurrentBrush.lbColor = Brush.lbColor;
    if (!FTextContinue) SetBrushColor(true);
  }
  CurrentBrush.lbStyle = Brush.lbStyle;
  CurrentBrush.lbHatch = Brush.lbHatch;
  if (Brush.lbStyle == 1) IsNullBrush = true;
}

void TMRVXWmf::ApplyFont(const TMRVXLogFont& Font) {
  const TMRVXLogFont& c = CurrentFont;
  // The width is compared too: a font that differs only in its width is drawn scaled.
  const bool face = Font.lfFaceName != c.lfFaceName || Font.lfWeight != c.lfWeight ||
                    Font.lfItalic != c.lfItalic || Font.lfUnderline != c.lfUnderline ||
                    Font.lfStrikeOut != c.lfStrikeOut || Font.lfCharSet != c.lfCharSet ||
                    Font.lfHeight != c.lfHeight || Font.lfWidth != c.lfWidth;
  if (face) {
    CurrentFont = Font;
    MadeClip = true;
  } else if (Font != c) {
    CurrentFont = Font;
  }
}

TMRVXGdiObject* TMRVXWmf::Slot(uint32_t Index) {
  if (Index >= GDIObjectsCount || !GDIObjects[Index]) return nullptr;
  return &*GDIObjects[Index];
}

void TMRVXWmf::CreateObject(uint32_t Index, TMRVXGdiObject Obj) {
  // Slot 0 stands for the metafile itself and never holds an object.
  if (Index == 0 || Index >= GDIObjectsCount) return;
  GDIObjects[Index] = std::move(Obj);
}

void TMRVXWmf::VEMRCREATEPEN(const Rec& R) {
  TMRVXLogPen p;
  p.lopnStyle = R.U32(12);
  p.lopnWidth = R.I32(16);
  p.lopnColor = R.U32(24);
  CreateObject(R.U32(8), p);
}

void TMRVXWmf::VEMREXTCREATEPEN(const Rec& R) {
  TMRVXLogPen p;
  p.lopnStyle = R.U32(28) & 0xF;
  p.lopnWidth = static_cast<int32_t>(R.U32(32));
  p.lopnColor = R.U32(40);
  CreateObject(R.U32(8), p);
}

void TMRVXWmf::VEMRCREATEBRUSHINDIRECT(const Rec& R) {
  TMRVXLogBrush b;
  b.lbStyle = R.U32(12);
  b.lbColor = R.U32(16);
  b.lbHatch = R.U32(20);
  CreateObject(R.U32(8), b);
}

void TMRVXWmf::VEMREXTCREATEFONTINDIRECTW(const Rec& R) {
  TMRVXLogFont f;
  f.lfHeight = R.I32(12);
  f.lfWidth = R.I32(16);
  f.lfEscapement = R.I32(20);
  f.lfOrientation = R.I32(24);
  f.lfWeight = R.I32(28);
  f.lfItalic = R.U8(32);
  f.lfUnderline = R.U8(33);
  f.lfStrikeOut = R.U8(34);
  f.lfCharSet = R.U8(35);
  f.lfOutPrecision = R.U8(36);
  f.lfClipPrecision = R.U8(37);
  f.lfQuality = R.U8(38);
  f.lfPitchAndFamily = R.U8(39);
  for (size_t i = 0; i < 32; ++i) f.lfFaceName[i] = static_cast<char16_t>(R.U16(40 + 2 * i));
  f.lfFaceName[31] = 0;
  CreateObject(R.U32(8), f);
}

void TMRVXWmf::VEMRDELETEOBJECT(const Rec& R) {
  const uint32_t index = R.U32(8);
  if (index < GDIObjectsCount) GDIObjects[index].reset();
}

void TMRVXWmf::VEMRSELECTOBJECT(const Rec& R) {
  const uint32_t index = R.U32(8);
  if (index & platform::kStockObjectFlag) {
    const uint32_t stock = index & 0x7FFFFFFFu;
    TMirrorState& m = Mirror.State;
    static const uint32_t brushes[] = {0xFFFFFF, 0xAAAAAA, 0x808080, 0x666666, 0x000000, 0xFFFFFF};
    if (stock <= 5) {
      m.Brush = {stock == 5 ? 1u : 0u, brushes[stock], 0};
      CurrentBrush.lbColor = brushes[stock];
      CurrentBrush.lbStyle = m.Brush.lbStyle;
      IsNullBrush = stock == 5;
      if (!FTextContinue) SetBrushColor(true);
    } else if (stock == 6 || stock == 7) {
      m.Pen = {0, 0, stock == 6 ? 0xFFFFFFu : 0u};
      CurrentPen.lopnColor = static_cast<TColor>(m.Pen.lopnColor);
      FPage->SetRGBStrokeColor(CurrentPen.lopnColor);
      // A stock pen is solid: after the null pen it draws again.
      if (CurrentPen.lopnStyle != 0) {
        CurrentPen.lopnStyle = 0;
        ApplyDash(0);
      }
      CurrentPen.lopnWidth = static_cast<Extended>(ZoomX()) * ZScaleX;
      SendLineWidth();
    } else if (stock == 8) {
      m.Pen = {5, 0, 0};
      CurrentPen.lopnStyle = 5;
    } else if (stock >= 10 && stock <= 13) {
      m.Font = TMirrorDC::SystemFont();
      m.Font.SetFaceName(u"Arial");
      CurrentFont.SetFaceName(u"Arial");
      MadeClip = true;
    }
    return;
  }
  TMRVXGdiObject* obj = Slot(index);
  if (!obj) return;
  if (const auto* pen = std::get_if<TMRVXLogPen>(obj)) {
    Mirror.State.Pen = *pen;
    ApplyPen(*pen);
  } else if (const auto* brush = std::get_if<TMRVXLogBrush>(obj)) {
    Mirror.State.Brush = *brush;
    ApplyBrush(*brush);
  } else if (const auto* font = std::get_if<TMRVXLogFont>(obj)) {
    Mirror.State.Font = *font;
    ApplyFont(*font);
  }
}

// ---- colours ----

void TMRVXWmf::SetBrushColor(bool IsPath) {
  const uint32_t c = PaletteColor(CurrentBrush.lbColor);
  if (c != CurrentFill || !IsPath) {
    CurrentFill = c;
    FPage->SetRGBFillColor(ToColor(c));
  }
}

void TMRVXWmf::SetPenColor() {
  FPage->SetRGBStrokeColor(ToColor(PaletteColor(static_cast<uint32_t>(CurrentPen.lopnColor))));
}

void TMRVXWmf::SetFontColor() {
  if (TextColor != CurrentFill || MadeClip) {
    CurrentFill = TextColor;
    FPage->SetRGBFillColor(ToColor(TextColor));
  }
}

void TMRVXWmf::MFSetBKColor() {
  if (BKColor != CurrentFill) {
    CurrentFill = BKColor;
    FPage->SetRGBFillColor(ToColor(BKColor));
  }
}

// ---- path and text runs ----

void TMRVXWmf::SetPathContinue(bool Value) {
  FPathContinue = Value;
  if (Value) MoveToCurrent();
}

void TMRVXWmf::SetTextContinue(bool Value) {
  if (Value == FTextContinue) return;
  FTextContinue = Value;
  if (!Value) SetBrushColor(true);
}

void TMRVXWmf::StrokeOrPath() {
  if (CurrentPen.lopnStyle == 5) FPage->NewPath();
  else FPage->Stroke();
}

void TMRVXWmf::FSOrPath() {
  if (IsNullBrush) {
    StrokeOrPath();
  } else if (CurrentPen.lopnStyle == 5) {
    if (PolyFIllMode) FPage->EoFill();
    else FPage->Fill();
  } else {
    if (PolyFIllMode) FPage->EoFillAndStroke();
    else FPage->FillAndStroke();
  }
}

void TMRVXWmf::MoveToP(float X, float Y) { FPage->MoveTo(ScaleX(X, true), ScaleY(Y, true)); }
void TMRVXWmf::LineToP(float X, float Y) { FPage->LineTo(ScaleX(X, true), ScaleY(Y, true)); }
void TMRVXWmf::MoveToCurrent() {
  MoveToP(static_cast<float>(CurrentVal.X), static_cast<float>(CurrentVal.Y));
}

void TMRVXWmf::UseRecordingDevice(const platform::Metafile& MF) {
  if (MF.Empty()) return;
  const platform::EmrHeader h = std::get<platform::EmrHeader>(MF.Records().front());
  if (h.Device.cx <= 0 || h.Micrometers.cx <= 0) return;
  const int dpi = static_cast<int>(std::llround(static_cast<double>(h.Device.cx) * 25400 / h.Micrometers.cx));
  if (dpi < 1) return;
  RefDpi = dpi;
  PosiX = PosiY = static_cast<float>(FDocument->Resolution()) / static_cast<float>(dpi);
}

// ---- showing a metafile on a page ----

void TMRVXPage::ShowMetafile(const platform::Metafile& MetaFile) {
  GStateSave();
  const int resolution = FResolution;
  SetResolution(72);
  try {
    ShowMetafile(MetaFile, 0, 0, 1, 1);
  } catch (...) {
    SetResolution(resolution);
    GStateRestore();
    throw;
  }
  SetResolution(resolution);
  GStateRestore();
}

void TMRVXPage::ShowMetafile(const platform::Metafile& MetaFile, Extended X, Extended Y, Extended HorScale,
                             Extended VertScale) {
  if (MetaFile.Empty()) return;  // nothing was recorded
  const int depth = ISStated;
  // Placed and scaled by one matrix around the whole drawing, so that lines, text and
  // pictures scale with it: caller point (u, v) of the drawing lands on (X + u HorScale,
  // Y + v VertScale).
  const bool placed = X != 0 || Y != 0 || HorScale != 1 || VertScale != 1;
  if (placed) {
    GStateSave();
    const auto sx = static_cast<float>(HorScale), sy = static_cast<float>(VertScale);
    Concat(sx, 0, 0, sy, XProjection(static_cast<float>(X)) - sx * FMinXVal,
           YProjection(static_cast<float>(Y)) - sy * FMaxYVal);
  }
  try {
    TMRVXWmf wmf(this, *FParent);
    wmf.UseRecordingDevice(MetaFile);
    wmf.Analyse(MetaFile);
  } catch (...) {
    // The content stays balanced even when the drawing could not be translated.
    while (ISStated > depth) GStateRestore();
    throw;
  }
  if (placed) GStateRestore();
}

void InstallMetafileTranslator(TMorvex& Document) {
  Document.RecordingTranslator = [&Document](TMRVXPage& Page, const platform::Metafile& Recording) {
    TMRVXWmf wmf(&Page, Document);
    wmf.Analyse(Recording);
  };
}

}  // namespace pdfwriter
