#pragma once
// The page a document is drawing (part of the MRVXDoc module, split off for size). Callers
// draw with the origin at the top-left corner, x to the right and y downwards; the page
// converts every coordinate into PDF space and appends one content line per operator. When
// the page is closed, its canvas recording is translated and all lines go into the page's
// content stream, deflated.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdfwriter/mrvx_objs.h"
#include "pdfwriter/mrvx_types.h"
#include "platform/image/geometry.h"
#include "platform/metafile/metafile.h"
#include "platform/metafile/metafile_canvas.h"

namespace pdfwriter {

class TMorvex;

enum class TMRVXPageSize : uint8_t {
  psUserDefined, psLetter, psA4, psA3, psLegal, psB5, psC5, ps8x11, psB4, psA5, psFolio, psExecutive,
  psEnvB4, psEnvB5, psEnvC6, psEnvDL, psEnvMonarch, psEnv9, psEnv10, psEnv11,
};
enum class TMRVXPageOrientation : uint8_t { poPortrait, poLandscape };
enum class TLineCapStyle : uint8_t { lcButtEnd, lcRoundEnd, lcProjectSquareEnd };
enum class TLineJoinStyle : uint8_t { ljMiterJoin, ljRoundJoin, ljBevelJoin };
enum class TPDFTextRenderingMode : uint8_t {
  trFill, trStroke, trFillThenStroke, trInvisible, trFillClipping, trStrokeClipping, trFillStrokeClipping, trClipping,
};

// Font styles as a set of bits: bold 1, italic 2, underline 4, strike-out 8.
using TFontStyles = uint8_t;
constexpr TFontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

struct TMRVXCurrPoint {
  Extended X = 0;
  Extended Y = 0;
};

// Width x height in points of a portrait page of a format (0 x 0 for psUserDefined).
struct TMRVXFormatSize {
  int Width;
  int Height;
};
TMRVXFormatSize PageFormatSize(TMRVXPageSize size);

class TMRVXFontObj;
class TMRVXAnnotation;
enum class TMRVXTextAnnotationType : uint8_t;
enum class TMRVXAnnotationSubType : uint8_t;
enum class TMRVXFreeTextAnnotationJust : uint8_t;
enum class TMRVXCSAnnotationType : uint8_t;
enum class TMRVXStampAnnotationType : uint8_t;
enum class TMRVXBarcodeType : uint8_t;

// The font the caller last selected (see CurrentFont). Selecting a font alone writes
// nothing; text drawn in it names it as a resource and writes its "Tf".
struct TMRVXFontSelection {
  std::string Name;
  TFontStyles Style = 0;
  float Size = 0;  // in points after the page's scale
  uint8_t Charset = 0;
  bool IsVertical = false;
};

class TMRVXPage {
 public:
  // Made by the document for a page dictionary it owns; the document then calls
  // ConvertPageObject.
  TMRVXPage(TMorvex* Parent, TMRVXDictionaryObject* PageObj);
  ~TMRVXPage();
  TMRVXPage(const TMRVXPage&) = delete;
  TMRVXPage& operator=(const TMRVXPage&) = delete;

  // ---- preparing, resources and the canvas ----

  // Finds the content stream, media box and resource dictionaries of the page dictionary.
  // Throws "Invalid page resources." without "Resources".
  void ConvertPageObject();
  // The recording canvas, null once the page has been closed. Its pixels are those of the
  // document's reference device (ReferenceDpi).
  platform::MetafileCanvas* GetCanvas() const { return FCanvas.get(); }
  // Whether a resource name is taken: >= 0 taken, -1 free. Index != 0 asks about font names
  // ("F<n>"), Index = 0 about external-object names ("Im<n>"). Case does not matter.
  int CompareResName(int Index, std::string_view Name) const;
  // The first free name "F<n>" (Index != 0) or "Im<n>" (Index = 0), counting from the
  // document's current index; a font name is recorded as taken at once.
  std::string NewResourceName(int Index);

  // Translates the canvas recording and writes all content into the page's stream.
  void ClosePage();
  void SaveToPageStream(std::string ValStr);
  // The content lines appended since the page became current (the first is a line break).
  const std::vector<std::string>& PageContent() const { return FPageContent; }

  // ---- size and orientation ----

  TMRVXPageSize Size() const { return FSize; }
  void SetPageSize(TMRVXPageSize Value);
  int Resolution() const { return FResolution; }
  void SetResolution(int Value);
  float Width() const { return FWidth; }
  float Height() const { return FHeight; }
  void SetPageWidth(float Value);
  void SetPageHeight(float Value);
  TMRVXPageOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TMRVXPageOrientation Value);
  bool TopTextPosition = false;

  // The media box (left, bottom, right, top) in PDF units.
  float MinX() const { return FMinXVal; }
  float MinY() const { return FMinYVal; }
  float MaxX() const { return FMaxXVal; }
  float MaxY() const { return FMaxYVal; }

  float XProjection(float X) const;
  float YProjection(float Y) const;

  // ---- path construction and painting ----

  void MoveTo(float X, float Y);
  void LineTo(float X, float Y);
  void RMoveTo(float X, float Y);
  void CurveToC(float X1, float Y1, float X2, float Y2, float X3, float Y3);
  void CurveToV(float X2, float Y2, float X3, float Y3);
  void CurveToY(float X1, float Y1, float X3, float Y3);
  void ClosePath();
  void NewPath();
  void Stroke();
  void ClosePathStroke();
  void Fill();
  void EoFill();
  void FillAndStroke();
  void EoFillAndStroke();
  void ClosePathFillAndStroke();
  void ClosePathEoFillAndStroke();
  void Clip();
  void EoClip();

  // ---- graphics state ----

  void GStateSave();
  // "Q" when a state is saved; false and nothing written otherwise.
  bool GStateRestore();
  void Concat(float A, float B, float C, float D, float E, float F);
  void SetLineWidth(float Width);
  void SetLineCap(TLineCapStyle Linecap);
  void SetLineJoin(TLineJoinStyle LineJoin);
  void SetMiterLimit(uint8_t MiterLimit);
  void SetFlat(uint8_t Flatness);
  void SetDash(std::span<const uint8_t> DashArray, uint8_t Phase);
  void NoDash();

  // ---- colour ----

  void SetRGBStrokeColor(TColor Value);
  void SetRGBFillColor(TColor Value);
  void SetRGBColor(TColor Value);
  void SetGrayStrokeColor(Extended GrayColor);
  void SetGrayFillColor(Extended GrayColor);
  void SetGrayColor(Extended GrayColor);
  TColor FillColor() const { return FFillColor; }
  TColor StrokeColor() const { return FStrokeColor; }

  // ---- text state ----

  void BeginText();
  void EndText();
  void SetCharacterSpacing(float Spacing);
  void SetWordSpacing(float Spacing);
  void SetHorizontalScaling(float Scaling);
  void SetLeading(float Leading);
  void SetTextRenderingMode(TPDFTextRenderingMode Mode);
  void SetTextRise(int16_t Rise);
  void MoveTextPoint(float X, float Y);
  void MoveToNextLine();
  void SetTextMatrix(float A, float B, float C, float D, float X, float Y);

  // ---- fonts (mrvx_doc_font.cpp) ----

  // Makes a font current. A family that is not installed becomes the Unicode fallback font
  // with the default character set. The same font at another size keeps its resource.
  void SetFont(std::string FontName, TFontStyles FontStyle, float ASize, uint8_t FontCharset, bool IsVertical);
  // The current font's face name (as used for the system queries), style, size, set, direction.
  TMRVXFontSelection CurrentFont() const;
  TMRVXFontObj& CurrentFontObj() const;
  // The fonts used for text on this page so far, one per font resource.
  const std::vector<std::unique_ptr<TMRVXFontObj>>& FontArr() const { return FFontArr; }
  // "/<FontName> <Size> Tf".
  void SetFontAndSize(std::string_view FontName, float Size);
  // Names the current font as a resource and selects it with "Tf" before text is written.
  void ProcessFont(bool Unicoded);
  // Copies the current font's usage into the font list.
  void StoreCurrentFont();
  // The font-list entry of the same font, style, set, direction and kind of text, or -1.
  int CompareCurrentFont() const;
  // Writes one font resource (dictionary, descriptor, program, widths, ToUnicode).
  void StoreFont(TMRVXFontObj& FontObj);

  // ---- text (mrvx_doc_text.cpp) ----

  // 8-bit (Windows-1252) text at X, Y (the top of the text, or its baseline with
  // TopTextPosition), counterclockwise by Angle degrees.
  void TextOut(float X, float Y, Extended Angle, std::string_view Text);
  void UnicodeTextOut(float X, float Y, Extended Angle, std::u16string_view Text);
  void UnicodeTextOut(float X, float Y, Extended Angle, const char16_t* Text, int TextLength);
  void InternUnicodeTextOut(float X, float Y, Extended Angle, const char16_t* Text, int TextLength);
  // The four hexadecimal digits of a code unit's glyph; records its use with the font.
  std::string ProcChar(char16_t ComposChar);
  void ShowText(std::string_view Text, bool IsHexadecimal);
  void ShowUnicodeText(std::string_view Text);
  // The ascent of the current font at its size (the text itself does not matter).
  float TextHeight(std::string_view Text) const;
  // Width of 8-bit text in the current font with the spacing and scaling set.
  float TextWidth(std::string_view Text) const;
  // Width of Unicode text, measured by its glyphs.
  float TextWidth(std::u16string_view Text);

  // ---- external objects ----

  void ExecuteXObject(std::string_view XOName);
  // Draws registered image ImageIndex with its top-left corner at (X, Y), w x h in size,
  // rotated by angle degrees counter-clockwise about its lower-left corner (mrvx_doc_image.cpp).
  // Throws "Invalid image index." for an index that names no registered image.
  void ShowImage(int ImageIndex, Extended X, Extended Y, Extended w, Extended h, Extended angle);
  // Places a registered XObject: X in caller units, Y already in PDF units, ClipWidth and
  // ClipHeight the drawn size; rotated counterclockwise by Angle degrees about its lower-left
  // corner. AWidth, AHeight, ClipX, ClipY and ADocScale are not used.
  void DrawXObjectEx(float X, float Y, float AWidth, float AHeight, float ClipX, float ClipY, float ClipWidth,
                     float ClipHeight, std::string_view AXObjectName, Extended Angle, Extended ADocScale);

  // ---- shapes ----

  void Rectangle(float X, float Y, float Width, float Height);
  void MFRectangle(float X, float Y, float X1, float Y1);
  static void RotateCoordinate(Extended X, Extended Y, Extended Angle, Extended& XR, Extended& YR);
  void RectangleRotate(float X, float Y, float Width, float Height, Extended Angle);
  void Ellipse(float X, float Y, float Width, float Height);
  void FMEllipse(float X, float Y, float X1, float Y1);
  void Circle(float X, float Y, float Radius);
  void FEllipse(float X, float Y, float Width, float Height);
  void RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3);
  TMRVXCurrPoint DrawArc(float X1, float Y1, float X2, float Y2, float X3, float Y3, float X4, float Y4);
  void CurveArc(Extended CenterX, Extended CenterY, Extended RadiusX, Extended RadiusY, Extended StartAngle,
                Extended SweepRange, bool UseMoveTo);
  void DrawPie(Extended X1, Extended Y1, Extended X2, Extended Y2, Extended X3, Extended Y3, Extended X4,
               Extended Y4);

  // ---- annotations and links (mrvx_doc_annot.cpp) ----
  // Rectangles are caller coordinates (left, top, right, bottom); colours of 0 or less (a
  // system colour code) become black.

  void AddTextAnnotation(std::string Contents, const platform::TRect& Rectangle, bool Open,
                         TMRVXTextAnnotationType Name, TColor Color);
  void AddFreeTextAnnotation(std::string Contents, const platform::TRect& Rectangle,
                             TMRVXFreeTextAnnotationJust Quadding, TColor Color);
  void AddLineAnnotation(std::string Contents, const TMRVXCurrPoint& BeginPoint, const TMRVXCurrPoint& EndPoint,
                         TColor Color);
  void AddCircleSquareAnnotation(std::string Contents, const platform::TRect& Rectangle, TMRVXCSAnnotationType CSType,
                                 TColor Color);
  void AddStampAnnotation(std::string Contents, const platform::TRect& Rectangle, TMRVXStampAnnotationType StampType,
                          TColor Color);
  // The file is read when the annotation is made ("Cannot open file ..." otherwise).
  void AddFileAttachmentAnnotation(std::string Contents, std::string FileName, const platform::TRect& Rectangle,
                                   TColor Color);
  void AddSoundAnnotation(std::string Contents, std::string FileName, const platform::TRect& Rectangle, TColor Color);
  // The movie is named, not embedded.
  void AddMovieAnnotation(std::string Contents, std::string FileName, const platform::TRect& Rectangle, TColor Color);

  // The colour of link text (blue by default).
  void SetRGBHyperlinkColor(TColor Value) { FHyperColor = Value; }
  TColor HyperlinkColor() const { return FHyperColor; }
  // Prints Text at (X, Y) in the link colour and makes it a link to the address Link; the
  // fill and stroke colours stay as they were.
  void PrintHyperlink(float X, float Y, std::string_view Text, std::string Link);
  // A link to a web address over a rectangle in PDF coordinates.
  void SetURIObject(std::string UriLink, Extended Left, Extended Top, Extended Right, Extended Bottom);
  // Prints Text at (X, Y) as a link to the point (DestX, DestY) of page PageIndex (caller
  // coordinates of that page). "Invalid page number." for a page that does not exist.
  void PrintDocumentLink(float X, float Y, std::string_view Text, int PageIndex, float DestX, float DestY);
  // A link to a point of page PageIndex over a rectangle in PDF coordinates.
  void SetGoToObject(int PageIndex, float DestX, float DestY, Extended Left, Extended Top, Extended Right,
                     Extended Bottom);
  // The page's annotation array, made on first use; links and annotations share it.
  TMRVXArrayObject* AnnotsArray();

  // ---- metafiles and barcodes ----

  // Draws a recording made on a metafile canvas (at whatever resolution it was recorded) with
  // its top-left corner at the page's top-left corner, one canvas unit per point.
  void ShowMetafile(const platform::Metafile& MetaFile);
  // The same at (X, Y) in caller units, scaled by HorScale and VertScale (lines and text too),
  // at the page's current resolution.
  void ShowMetafile(const platform::Metafile& MetaFile, Extended X, Extended Y, Extended HorScale,
                    Extended VertScale);
  // Draws a barcode on the page's canvas (canvas units: pixels of the reference device); it
  // reaches the content when the page is closed. Errors of the barcode's text are raised here.
  void DrawBarcode(TMRVXBarcodeType BCType, int X, int Y, int Height, int MUnit, float Angle, std::string Info,
                   bool UseCheckSum, TColor BarColor, TColor Color);

  // The graphics states saved and not restored, and whether a text object is open.
  int SavedStates() const { return ISStated; }
  bool TextObjectOpen() const { return STextBegin; }

  TMRVXDictionaryObject* PageObj() const { return FPageObj; }
  TMRVXStreamObject* PageObjStream() const { return FPageObjStream; }
  TMRVXDictionaryObject* XObjectObj() const { return FXObjectObj; }
  TMRVXDictionaryObject* FontObjectObj() const { return FFontObjectObj; }
  const std::vector<std::string>& XObjectNames() const { return FXObjectNames; }

 private:
  friend class TMorvex;
  friend class TMRVXAnnotation;

  void AddAnnotation(TMRVXAnnotation& A, std::string Contents, const platform::TRect& Rectangle, TColor Color);
  void AddFileAnnotation(TMRVXAnnotationSubType Type, std::string Contents, std::string FileName,
                         const platform::TRect& Rectangle, TColor Color);
  // A link annotation without its target, appended to the page's annotations.
  TMRVXDictionaryObject* AddLinkAnnotation(Extended Left, Extended Top, Extended Right, Extended Bottom);
  Extended DocScale() const;
  float Ls(float L) const;  // a length: scale only, no origin
  void CalculateFormat();
  void CalculateWidthFormat();
  void CalculateHeightFormat();
  void SetMediaRight(float Value);
  void SetMediaBoxValue(size_t Index, float Value);
  void SetMediaTop(float Value);
  void TurnPage();
  void ResetCanvas();
  void CloseCanvas();
  void Line(std::string s) { SaveToPageStream(std::move(s)); }
  void WriteContent();
  // A new, empty content stream after Last in the page's content list (made a list when it
  // named Last alone).
  TMRVXStreamObject* AppendContentStream(TMorvex& Doc, const TMRVXStreamObject& Last);
  void SelectCurrentFont(int Found);
  void StoreFonts();
  float AdvanceWidth(int32_t Advance, bool IsSpace, bool IsLast) const;
  void TextBars(float X, float Y, Extended Angle, float Width, float Baseline);

  TMorvex* FParent;
  TMRVXDictionaryObject* FPageObj;

  float DPI = 1;
  float FWordSpace = 0;
  float FCharSpace = 0;
  float FLeading = 0;
  float FHorizontalScaling = 100;
  int32_t ISStated = 0;
  bool STextBegin = false;
  TColor FFillColor = 0;
  TColor FStrokeColor = 0;
  TColor FHyperColor = 0xFF0000;
  float FMinXVal = 0, FMinYVal = 0, FMaxXVal = 0, FMaxYVal = 0;
  TMRVXStreamObject* FPageObjStream = nullptr;
  int32_t FResolution = 72;
  bool FUpdateSize = false;
  float mWidth = 0, mHeight = 0;
  float FWidth = 0, FHeight = 0;
  TMRVXArrayObject* FAnnotsObj = nullptr;
  TMRVXPageSize FSize = TMRVXPageSize::psUserDefined;
  TMRVXDictionaryObject* FXObjectObj = nullptr;
  TMRVXDictionaryObject* FFontObjectObj = nullptr;
  std::vector<std::string> FXObjectNames;
  std::unique_ptr<TMRVXFontObj> FCurrentFontObj;
  std::vector<std::unique_ptr<TMRVXFontObj>> FFontArr;
  TMRVXArrayObject* FMediaBoxArray = nullptr;
  TMRVXPageOrientation FOrientation = TMRVXPageOrientation::poPortrait;
  std::vector<std::string> FPageContent;
  std::unique_ptr<platform::Metafile> PageMeta;
  std::unique_ptr<platform::MetafileCanvas> FCanvas;
  // Set while the resolution changes: the canvas keeps what was drawn on it.
  bool FKeepCanvas = false;
};

}  // namespace pdfwriter
