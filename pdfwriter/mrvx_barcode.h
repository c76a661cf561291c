#pragma once
// One-dimensional barcodes drawn on a recording canvas: the text becomes a pattern of module
// characters (one per bar or space), each drawn as a filled quadrilateral, optionally rotated,
// with the human-readable text. On a page canvas the drawing reaches the PDF through the
// metafile translator.
//
//   TMRVXBarcode bc;
//   bc.SetTyp(TMRVXBarcodeType::bcCodeEAN13);
//   bc.SetText("400638133393");
//   bc.SetChecksum(true);          // the text becomes 4006381333931
//   bc.SetHeight(60);
//   bc.DrawBarcode(*doc.Canvas());
//
// Module characters: "0".."3" spaces and "5".."8" bars of the module widths 0..3, "A".."D"
// bars of two fifths of the height. Width 0 is Modul, width 1 Modul x Ratio, width 2 one and
// a half times width 1, width 3 twice width 1; at Ratio 2 these are 1, 2, 3 and 4 modules.
#include <cstdint>
#include <functional>
#include <string>

#include "pdfwriter/mrvx_types.h"
#include "platform/metafile/metafile_canvas.h"

namespace pdfwriter {

enum class TMRVXBarcodeType : uint8_t {
  bcCode_2_5_interleaved, bcCode_2_5_industrial, bcCode_2_5_matrix, bcCode39, bcCode39Extended, bcCode128A,
  bcCode128B, bcCode128C, bcCode93, bcCode93Extended, bcCodeMSI, bcCodePostNet, bcCodeCodabar, bcCodeEAN8,
  bcCodeEAN13, bcCodeUPC_A, bcCodeUPC_E0, bcCodeUPC_E1, bcCodeUPC_Supp2, bcCodeUPC_Supp5, bcCodeEAN128A,
  bcCodeEAN128B, bcCodeEAN128C,
};
enum class TMRVXBarLineType : uint8_t { white, black, black_half };
enum class TMRVXBarcodeOption : uint8_t { bcoNone, bcoCode, bcoTyp, bcoBoth };
enum class TMRVXShowTextPosition : uint8_t {
  stpTopLeft, stpTopRight, stpTopCenter, stpBottomLeft, stpBottomRight, stpBottomCenter,
};
enum class TMRVXCheckSumMethod : uint8_t { csmNone, csmModulo10 };

class TMRVXBarcode {
 public:
  TMRVXBarcode();
  virtual ~TMRVXBarcode() = default;
  TMRVXBarcode(const TMRVXBarcode&) = delete;
  TMRVXBarcode& operator=(const TMRVXBarcode&) = delete;
  // Copies every setting except the font.
  void Assign(const TMRVXBarcode& Source);

  // ---- settings; each setter notifies OnChange when the value changes ----
  int Height() const { return FHeight; }
  void SetHeight(int Value);
  const std::string& Text() const { return FText; }
  void SetText(std::string Value);
  int Top() const { return FTop; }
  void SetTop(int Value);
  int Left() const { return FLeft; }
  void SetLeft(int Value);
  // The narrowest module in canvas units; values outside 1..49 are ignored.
  int Modul() const { return FModul; }
  void SetModul(int Value);
  // Wide to narrow; kept within what the symbology allows when the pattern is made.
  double Ratio() const { return FRatio; }
  void SetRatio(double Value);
  TMRVXBarcodeType Typ() const { return FTyp; }
  void SetTyp(TMRVXBarcodeType Value);
  bool Checksum() const { return FCheckSum; }
  void SetChecksum(bool Value);
  TMRVXCheckSumMethod CheckSumMethod() const { return FCheckSumMethod; }
  void SetCheckSumMethod(TMRVXCheckSumMethod Value);
  // Degrees, counter-clockwise.
  double Angle() const { return FAngle; }
  void SetAngle(double Value);
  TMRVXBarcodeOption ShowText() const { return FShowText; }
  void SetShowText(TMRVXBarcodeOption Value);
  platform::TMetafileFont& ShowTextFont() { return FShowTextFont; }
  TMRVXShowTextPosition ShowTextPosition() const { return FShowTextPosition; }
  void SetShowTextPosition(TMRVXShowTextPosition Value);
  // The pattern's width in canvas units; setting it scales Modul.
  int Width();
  void SetWidth(int Value);
  // Spaces and background; bars and text.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TColor ColorBar() const { return FColorBar; }
  void SetColorBar(TColor Value);
  std::function<void(TMRVXBarcode&)> OnChange;
  // The size of the rotated barcode on the canvas.
  int CanvasWidth();
  int CanvasHeight();

  // The module pattern of the text. Errors: "Barcode must be numeric", "Invalid Text len
  // (EAN8)", "Invalid Text len (EAN13)", "TMRVXBarcode:Code93 bad Data <text>".
  std::string MakeData();
  // The symbology's display name.
  std::string GetTypText() const;
  // Draws bars and text; the canvas's font, pen and brush are put back afterwards.
  void DrawBarcode(platform::MetafileCanvas& Canvas);

  // ---- check digits (the text given, the digit or character that follows it) ----
  // Weights 3 and 1 from the right, the last character weighted 3.
  static char CheckSumModulo10(std::string_view Data);
  // MSI modulo 10: from the right, every second digit (the last one first) doubled.
  static char CheckSumMSI(std::string_view Data);
  // The check digit of a UPC-E body (six digits) of number system 0 or 1, computed over its
  // expansion into twelve-digit UPC-A form.
  static char CheckSumUPCE(std::string_view Body, int NumberSystem);
  // The add-on check value: digits weighted 3 and 9 from the right, the last weighted 3.
  static int GetSupp(std::string_view Data);
  // The UPC-A number a UPC-E body stands for (eleven digits, without check digit).
  static std::string ExpandUPCE(std::string_view Body, int NumberSystem);

 protected:
  virtual void DoChange();

 private:
  void MakeModules();
  std::string DoCheckSumming(std::string_view Data) const;
  std::string SetLen(size_t N) const;
  bool HasCheckDigit(std::string_view Digits, size_t N) const;
  void OneBarProps(char Code, int& Width, TMRVXBarLineType& LineType) const;
  void DoLines(const std::string& Data, platform::MetafileCanvas& Canvas);
  void DrawText(platform::MetafileCanvas& Canvas, int PatternWidth);
  platform::TPoint Place(double X, double Y, int PatternWidth) const;
  std::string Code128(std::string_view Text, bool Ean);
  std::string Code93(std::string_view Text);

  int FHeight = 0;
  std::string FText;
  int FTop = 0;
  int FLeft = 0;
  int FModul = 1;
  double FRatio = 2.0;
  TMRVXBarcodeType FTyp = TMRVXBarcodeType::bcCodeEAN13;
  bool FCheckSum = false;
  TMRVXBarcodeOption FShowText = TMRVXBarcodeOption::bcoCode;
  double FAngle = 0;
  TColor FColor = 0xFFFFFF;
  TColor FColorBar = 0;
  TMRVXCheckSumMethod FCheckSumMethod = TMRVXCheckSumMethod::csmModulo10;
  int Modules[4] = {1, 2, 3, 4};
  platform::TMetafileFont FShowTextFont;
  TMRVXShowTextPosition FShowTextPosition = TMRVXShowTextPosition::stpBottomCenter;
};

}  // namespace pdfwriter
