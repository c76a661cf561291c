#pragma once
// The metafile translator: plays an enhanced-metafile recording back record by record and
// turns it into content operators of a page. A page's canvas recording goes through it when
// the page is closed.
//
// The translator keeps two views of the device-context state. Its own fields are what it has
// sent to the page (the fill colour last written, the pen width in page units, whether a clip
// holds a graphics-state level); the mirror (TMirrorDC) is the device context the recording
// was made on, replayed state by state, so that a restored state, the selected objects and the
// world transform can be read back exactly as the recording device would report them.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "pdfwriter/mrvx_types.h"
#include "platform/image/bitmap.h"
#include "platform/metafile/metafile.h"

namespace pdfwriter {

class TMRVXPage;
class TMorvex;

enum class TMRVXHorizJust : uint8_t { vhjLeft = 0, vhjCenter = 1, vhjRight = 2 };
enum class TMRVXVerticalJust : uint8_t { vvjUp = 0, vvjCenter = 1, vvjDown = 2 };

// World transform (eM11, eM12, eM21, eM22, eDx, eDy), single precision as recorded.
struct TMRVXXForm {
  float eM11 = 1, eM12 = 0, eM21 = 0, eM22 = 1, eDx = 0, eDy = 0;
  friend bool operator==(const TMRVXXForm&, const TMRVXXForm&) = default;
};

struct TMRVXLogPen {
  uint32_t lopnStyle = 0;
  int32_t lopnWidth = 0;  // x part; the y part is unused by the format
  uint32_t lopnColor = 0;
  friend bool operator==(const TMRVXLogPen&, const TMRVXLogPen&) = default;
};

struct TMRVXLogBrush {
  uint32_t lbStyle = 0;
  uint32_t lbColor = 0;
  uint32_t lbHatch = 0;
  friend bool operator==(const TMRVXLogBrush&, const TMRVXLogBrush&) = default;
};

struct TMRVXLogFont {
  int32_t lfHeight = 0, lfWidth = 0, lfEscapement = 0, lfOrientation = 0, lfWeight = 0;
  uint8_t lfItalic = 0, lfUnderline = 0, lfStrikeOut = 0, lfCharSet = 0;
  uint8_t lfOutPrecision = 0, lfClipPrecision = 0, lfQuality = 0, lfPitchAndFamily = 0;
  std::array<char16_t, 32> lfFaceName{};
  friend bool operator==(const TMRVXLogFont&, const TMRVXLogFont&) = default;
  // The face name up to its first zero.
  std::u16string FaceName() const;
  void SetFaceName(std::u16string_view Name);
};

using TMRVXGdiObject = std::variant<TMRVXLogPen, TMRVXLogBrush, TMRVXLogFont>;

// The recording device context as far as the translator reads it back.
struct TMirrorState {
  int32_t MapMode = 1;
  int32_t WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
  int32_t ViewOrgX = 0, ViewOrgY = 0, ViewExtX = 1, ViewExtY = 1;
  uint32_t BkMode = 2;  // opaque
  uint32_t BkColor = 0xFFFFFF;
  uint32_t TextColor = 0;
  uint32_t PolyFillMode = 1;  // alternate
  uint32_t StretchMode = 1;
  uint32_t TextAlign = 0;
  TMRVXLogPen Pen;        // the black stock pen
  TMRVXLogBrush Brush{0, 0xFFFFFF, 0};  // the white stock brush
  TMRVXLogFont Font;      // the system font
  TMRVXXForm XForm;
};

class TMirrorDC {
 public:
  TMirrorDC();
  TMirrorState State;
  void Save() { Saved.push_back(State); }
  // n < 0 counts back from the latest saved state, n > 0 names a saved state; false (and
  // nothing changed) for a state that does not exist.
  bool Restore(int32_t n);
  int Depth() const { return static_cast<int>(Saved.size()); }
  static TMRVXLogFont SystemFont();

 private:
  std::vector<TMirrorState> Saved;
};

class TMRVXWmf {
 public:
  // The document gives the resolution of page units and of the reference device.
  TMRVXWmf(TMRVXPage* ParentPage, TMorvex& Document);
  ~TMRVXWmf() = default;
  TMRVXWmf(const TMRVXWmf&) = delete;
  TMRVXWmf& operator=(const TMRVXWmf&) = delete;

  // Plays a whole recording onto the page. A recording that breaks the record layout is
  // refused with EMRVXError before anything is drawn.
  void Analyse(const platform::Metafile& MF);
  void Analyse(std::span<const uint8_t> Data);
  // One record (type, size and body). A record too short for the fields its type carries, or
  // whose counts run past its end, raises EMRVXError.
  void ExecuteRecord(std::span<const uint8_t> Data);

  float ScaleX(float Value, bool Proj) const;
  float ScaleY(float Value, bool Proj) const;
  float ProjectX(float Value) const;
  float ProjectY(float Value) const;
  float ZoomX() const;
  float ZoomY() const;
  static TMRVXXForm MergeForms(const TMRVXXForm& XFrm1, const TMRVXXForm& XFrm2);

  // Takes the pixels per inch of the device a recording was made on from its header, in
  // place of the document's reference device.
  void UseRecordingDevice(const platform::Metafile& MF);

  // Whether the mirror holds the world transform. It always can; a test may refuse it to run
  // the translator's own transform stack.
  bool MirrorAcceptsTransform = true;

  // ---- state (public for the record handlers' tests) ----
  TMirrorDC Mirror;
  TMRVXPage* FPage;
  TMorvex* FDocument;  // registers the pictures of bitmap records
  bool IsCounterClockwise = true;
  int32_t ProjectMode = 1;
  float FontScale = 1;
  float PosiX = 1, PosiY = 1;
  int32_t RefDpi = 96;  // pixels per inch of the reference device
  bool MadeClip = true;
  platform::EmfPoint CurrentVal;
  bool IsNullBrush = false;
  bool InterSectClipRect = false;
  bool FTextContinue = false;
  bool PolyFIllMode = true;
  int32_t BLMode = 0;
  bool BKMode = true;
  uint32_t BKColor = 0xFFFFFF, TextColor = 0;
  TMRVXVerticalJust VertMode = TMRVXVerticalJust::vvjUp;
  TMRVXHorizJust HorMode = TMRVXHorizJust::vhjLeft;
  bool UpdatePos = false;
  bool IsCliped = false;
  TMRVXPen CurrentPen;
  TMRVXLogBrush CurrentBrush;
  TMRVXLogFont CurrentFont;
  uint32_t CurrentFill = 0;
  TMRVXRectangle ClipRect;
  TMRVXXForm lpXForm;
  bool WTransform = true;
  std::vector<TMRVXXForm> DCBuffer;
  int32_t DCBufferLen = 0;
  float XOffset = 0, YOffset = 0, ZScaleX = 1, ZScaleY = 1;
  bool WTypeFont = false;
  std::vector<std::optional<TMRVXGdiObject>> GDIObjects;
  uint32_t GDIObjectsCount = 0;
  bool FPathContinue = false;
  int32_t WinOrgEx = 0, WinExtEx = 1, WinOrgEy = 0, WinExtEy = 1;
  // Pixels of the pictures the bitmap records of this replay have made so far: a few bytes
  // of records may ask for pictures of any size, so a replay has a budget for all of them.
  int64_t PicturePixels = 0;
  int32_t ViewportOrgEx = 0, ViewportExtEx = 1, ViewportOrgEy = 0, ViewportExtEy = 1;

  void SetPathContinue(bool Value);
  void SetTextContinue(bool Value);
  void FSOrPath();
  void StrokeOrPath();
  void SetBrushColor(bool IsPath);
  void SetPenColor();
  void SetFontColor();
  void MFSetBKColor();
  void ActivateCurrentFont();

  class Rec;

 private:
  void Reset();
  void TransformFromXForm(const TMRVXXForm& X);
  void ApplyPen(const TMRVXLogPen& Pen);
  void ApplyDash(uint32_t Style);
  void ApplyTextAlign(uint32_t Flags);
  void ApplyBrush(const TMRVXLogBrush& Brush);
  void ApplyFont(const TMRVXLogFont& Font);
  void SendLineWidth();
  TMRVXGdiObject* Slot(uint32_t Index);
  void CreateObject(uint32_t Index, TMRVXGdiObject Obj);
  // P(x, y) on the page.
  void MoveToP(float X, float Y);
  void LineToP(float X, float Y);
  void MoveToCurrent();

  // ---- state records ----
  void VEMRSETWINDOWEXTEX(const Rec& R);
  void VEMRSETWINDOWORGEX(const Rec& R);
  void VEMRSETVIEWPORTEXTEX(const Rec& R);
  void VEMRSETVIEWPORTORGEX(const Rec& R);
  void VEMRSETMAPMODE(const Rec& R);
  void VEMRSETBKMODE(const Rec& R);
  void VEMRSETPOLYFILLMODE(const Rec& R);
  void VEMRSETSTRETCHBLTMODE(const Rec& R);
  void VEMRSETTEXTALIGN(const Rec& R);
  void VEMRSETTEXTCOLOR(const Rec& R);
  void VEMRSETBKCOLOR(const Rec& R);
  void VEMRSAVEDC(const Rec& R);
  void VEMRRESTOREDC(const Rec& R);
  void VEMRSETWORLDTRANSFORM(const Rec& R);
  void VEMRMODIFYWORLDTRANSFORM(const Rec& R);
  void VEMRSELECTOBJECT(const Rec& R);
  void VEMRCREATEPEN(const Rec& R);
  void VEMREXTCREATEPEN(const Rec& R);
  void VEMRCREATEBRUSHINDIRECT(const Rec& R);
  void VEMREXTCREATEFONTINDIRECTW(const Rec& R);
  void VEMRDELETEOBJECT(const Rec& R);
  void VEMRSETARCDIRECTION(const Rec& R);

  // ---- drawing records ----
  void VEMRMOVETOEX(const Rec& R);
  void VEMRLINETO(const Rec& R);
  void VEMRPOLY(const Rec& R, bool Small);  // POLYLINE, POLYGON, POLYLINETO, POLYBEZIER(TO)
  void VEMRPOLYPOLY(const Rec& R, bool Small, bool Polygon);
  void VEMRPOLYDRAW(const Rec& R, bool Small);
  void VEMRRECTANGLE(const Rec& R);
  void VEMRROUNDRECT(const Rec& R);
  void VEMRELLIPSE(const Rec& R);
  void PaintShape();
  void VEMRARCS(const Rec& R);  // ARC, CHORD, PIE
  void VEMRARCTO(const Rec& R);
  void VEMRANGLEARC(const Rec& R);
  void DirectedArc(float L, float T, float Rt, float B, float AX, float AY, float BX, float BY, bool Pie,
                   float& StartX, float& StartY);
  void VEMRBEGINPATH();
  void VEMRINTERSECTCLIPRECT(const Rec& R);
  void VEMREXTSELECTCLIPRGN(const Rec& R);
  void VEMRSELECTCLIPPATH();
  void VEMRFILLRGN(const Rec& R);
  void VEMRSETPIXELV(const Rec& R);

  // ---- text records ----
  void VEMREXTTEXTOUT(const Rec& R);
  void VEMRSMALLTEXTOUT(const Rec& R);
  // Drops an active clip for a record's own clip rectangle (true when one was dropped), and
  // re-establishes it afterwards.
  bool DropClip();
  void ReestablishClip(bool Dropped);
  // ---- bitmap records ----
  void VEMRBITBLT(const Rec& R);
  void VEMRSTRETCHBLT(const Rec& R, bool Alpha);  // STRETCHBLT and ALPHABLEND
  void VEMRSETDIBITSTODEVICE(const Rec& R);
  void VEMRSTRETCHDIBITS(const Rec& R);
  void PlaceImage(const platform::Bitmap& Image, bool Mono, Extended X, Extended Y, Extended W, Extended H);
  void PlaceAtBounds(const Rec& R, const platform::Bitmap& Image, bool Mono);
  // The cell height of the current font in logical units, as the mirror measures it.
  float MirrorCellHeight() const;
};

// Makes a document's pages translate their canvas recordings through TMRVXWmf.
void InstallMetafileTranslator(TMorvex& Document);

}  // namespace pdfwriter

namespace pdfwriter {

// Checked little-endian reads inside one record; offsets count from the record's start.
class TMRVXWmf::Rec {
 public:
  explicit Rec(std::span<const uint8_t> Data) : D(Data) {}
  uint32_t Type() const { return U32(0); }
  size_t Size() const { return D.size(); }
  uint8_t U8(size_t At) const {
    Need(At, 1);
    return D[At];
  }
  uint32_t U32(size_t At) const {
    Need(At, 4);
    return static_cast<uint32_t>(D[At]) | static_cast<uint32_t>(D[At + 1]) << 8 |
           static_cast<uint32_t>(D[At + 2]) << 16 | static_cast<uint32_t>(D[At + 3]) << 24;
  }
  int32_t I32(size_t At) const { return static_cast<int32_t>(U32(At)); }
  int16_t I16(size_t At) const {
    Need(At, 2);
    return static_cast<int16_t>(static_cast<uint16_t>(D[At] | D[At + 1] << 8));
  }
  uint16_t U16(size_t At) const { return static_cast<uint16_t>(I16(At)); }
  float F32(size_t At) const;
  // Point i of an array at At, of 32-bit (8-byte) or 16-bit (4-byte) pairs.
  platform::EmfPoint Point(size_t At, size_t I, bool Small) const;
  // Refuses an array of Count items of Each bytes at At that does not fit the record.
  void NeedItems(size_t At, uint64_t Count, size_t Each) const;
  [[noreturn]] void Fail() const;

 private:
  void Need(size_t At, size_t N) const {
    if (At > D.size() || D.size() - At < N) Fail();
  }
  std::span<const uint8_t> D;
};

}  // namespace pdfwriter
