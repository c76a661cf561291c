// Single-measurement reports: the analysed image, the type icon and name, and the result
// block of the page copied from the main window's visible result panels, so that the report
// shows the labels, numbers, units and language of the screen.
#include "archive/cal_rep_layout.h"
#include "platform/image/canvas.h"

namespace archive::detail {

using analysis::MT_NONE;
using analysis::MT_PLATEWSI;

void ReportLayout::Row(int& y, int n, int x, int dx, std::string_view label, std::string_view value,
                       std::string_view unit) {
  Text(static_cast<float>(x), static_cast<float>(y), label);
  std::string v(value);
  if (!unit.empty()) {
    v += ' ';
    v += unit;
  }
  Text(static_cast<float>(x + 2 * dx), static_cast<float>(y), v);
  y += n;
}

int ReportLayout::CopyPLATEData(int y, int n, int x, int dx) {
  if (V("PDotAreaPanel")) {
    Row(y, n, x, dx, C("DotAreaCapPlate"), C("PlateDotAreaRes"));
    Row(y, n, x, dx, C("LCMLabelPlate"), C("PlateLCMResult"));
    Row(y, n, x, dx, C("DotDiameterCapPlate"), C("PlateDotDiameterRes"), C("DDPlateUnit"));
    Row(y, n, x, dx, C("AlphaCapPlate"), C("PlateAlphaRes"));
    Row(y, n, x, dx, C("EdgeFactorCapPlate"), C("EFRes"));
    Row(y, n, x, dx, C("StdDevCapPlate"), C("StdDevPlate"), C("StdPlateUnit"));
  }
  if (V("PLinePanel")) Row(y, n, x, dx, C("PlateLineWidthLabel"), C("FLineWidthRes"), C("FLineWidthUnit"));
  return y + 3 * n;
}

int ReportLayout::CopyStructData(int y, int n, int x, int dx) {
  if (V("PlateStructPanel")) Row(y, n, x, dx, C("DotCapStruct"), C("SDotAreaRes"));
  if (V("PlateStructAreaPanel")) Row(y, n, x, dx, C("DotAreaCapStruct"), C("SStructAreaREs"));
  if (V("StructLCMPanel")) {
    Row(y, n, x, dx, C("StructLCMLabel"), C("SLCMResult"));
    Row(y, n, x, dx, C("AlphaCapStruct"), C("SAlphaRes"));
  }
  if (V("PlateLineStructPanel")) {
    Row(y, n, x, dx, C("PlateLineStructLabel"), C("PLineStructRes"));
    Row(y, n, x, dx, C("StructureFreqLabel"), C("FreqPlate"));
    Row(y, n, x, dx, C("StructureCycleLabel"), C("PeriodePlate"));
  }
  return y + 3 * n;
}

int ReportLayout::CopyFILMData(int y, int n, int x, int dx) {
  if (V("FilmDotAreaPanel")) {
    Row(y, n, x, dx, C("DotAreaCapFilm"), C("FilmDotAreaRes"));
    Row(y, n, x, dx, C("LCMLabelFilm"), C("FilmLCMResult"));
    Row(y, n, x, dx, C("AlphaCapFilm"), C("FilmAlphaREs"));
    Row(y, n, x, dx, C("FilmEdgeFaktorTitle"), C("FilmEdgeFaktorRes"));
  }
  if (V("FilmLineWidthPanel")) Row(y, n, x, dx, C("FLineWidthLabel"), C("FilmLineWidthRes"), C("FilmLWMicronsLabel"));
  return y + 3 * n;
}

int ReportLayout::CopyLAMSData(int y, int n, int x, int dx) {
  if (V("LAMSDotAreaPanel")) Row(y, n, x, dx, C("DotAreaCapMask"), C("MaskDotAreaRes"));
  if (V("LAMSSRPanel")) {
    Row(y, n, x, dx, C("LCMlabelMask"), C("LCMResult"));
    Row(y, n, x, dx, C("AlphaCapMask"), C("AlphaRes"));
  }
  if (V("LAMSDotDetailspanel")) Row(y, n, x, dx, C("EdgefaktorTitle"), C("LAMSEdgeFaktorRes"));
  if (V("LamsLineWidthPanel")) Row(y, n, x, dx, C("LineWidthLabel"), C("LineWidthRes"), C("LWMicronsLabel"));
  if (V("LAMSFreqPanel")) {
    Row(y, n, x, dx, C("FreqTitleLabel"), C("FreqLabel"));
    Row(y, n, x, dx, C("CycleLabel"), C("PeriodeLabel"));
  }
  y += n;

  if (V("MaskValues")) {
    const auto X = [&](int k) { return static_cast<float>(x + k * dx); };
    const auto Y = [&](int k) { return static_cast<float>(y + k * n); };
    // The frame of the dot-size class table.
    Color(kGray);
    Page().Rectangle(static_cast<float>(x - 4), static_cast<float>(y), static_cast<float>(5 * dx + 4),
                     static_cast<float>(8 * n));
    Page().Stroke();
    y += n;
    Text(X(2), Y(0), C("CountCapMask"));
    Text(X(3), Y(0), C("DotDiameterCapMask"));
    Text(X(4), Y(0), C("DotSizeCapMask"));

    // The class marks: a circle in the class colour with its caption in the same colour.
    // Each circle is stroked before its caption is written, because a text object cannot
    // stand inside an unfinished path.
    const float d = static_cast<float>(n - 2);
    const struct {
      TColor color;
      int line;
      const char* caption;
    } marks[] = {{kBlue, 3, "DotAreammK"}, {kGreen, 2, "DotAreammG"}, {kBlack, 1, "AvgCapMask"}};
    for (const auto& m : marks) {
      Color(m.color);
      Page().Ellipse(X(0), Y(m.line), d, d);
      Page().Stroke();
      Text(static_cast<float>(x + n), Y(m.line), C(m.caption));
    }
    Text(X(0), Y(4), C("StdDevCapMask"));

    const char* values[3][4] = {{"CountValue", "CountValueG", "CountValueK", nullptr},
                                {"DotDiameterValue", "DotDiameterValueG", "DotDiameterValueK", "StdDevRes"},
                                {"DotSizeValue", "DotSizeValueG", "DotSizeValueK", "DotSizeStdDev"}};
    for (int col = 0; col < 3; ++col) {
      for (int line = 0; line < 4; ++line) {
        if (values[col][line]) Text(X(2 + col), Y(1 + line), C(values[col][line]));
      }
    }
    Text(X(0), Y(5), C("DotTolCapMask"));
    Text(X(3), Y(5), C("TolEdit") + "%");
    y += 6 * n;
  }
  Color(kBlack);
  return y + 3 * n;
}

void ReportLayout::ModeIcon(float x, float y) {
  // The icon on a white field: icons are drawn for a light window background.
  abmp_ = platform::Bitmap(64, 64);
  platform::Canvas c(abmp_);
  c.Brush().Color = platform::clWhite;
  c.Brush().Style = platform::TCanvasBrushStyle::bsSolid;
  c.Pen().Color = platform::clWhite;
  c.Rectangle(-1, -1, 66, 66);
  const size_t t = ctx_.MESSTYPE;
  if (t < ctx_.MessIcons.size()) c.Draw(0, 0, ctx_.MessIcons[t]);
  ShowWorkBitmap(x, y, 32, 32);
}

void ReportLayout::ModeName(float y) {
  // Right-aligned by the width of the name's own glyphs, so that names in any script end at
  // the same edge.
  if (ctx_.MESSTYPE >= ctx_.mmodes.size()) return;
  const std::string& name = ctx_.mmodes[ctx_.MESSTYPE];
  Text(520 - TextWidth(name), y, name);
}

void ReportLayout::SingleBody() {
  n_ = 12;
  y_ = ShowHeadLines(120, n_, ProductName(ctx_.Brand) + " Report", "");

  abmp_ = ctx_.AnalyseImage;
  ShowWorkBitmap(80, static_cast<float>(y_), 450, 360);
  y_ += 380;

  if (index_ == rkStructure && ctx_.MESSTYPE == MT_PLATEWSI) {
    abmp_ = ctx_.StripImage;
    ShowWorkBitmap(86, static_cast<float>(y_), 433, 50);
    y_ += 50;
    Text(80, static_cast<float>(y_), C("StructResLabel"));
    y_ += 15;
  }

  const auto modeBlock = [&] {
    if (ctx_.MESSTYPE == MT_NONE) return;
    ModeIcon(488, static_cast<float>(y_));
    ModeName(static_cast<float>(y_ + 40));
  };
  switch (index_) {
    case rkLAMS:
      y_ = CopyLAMSData(y_, 12, 24, 100);
      modeBlock();
      break;
    case rkPlate:
      modeBlock();
      y_ = CopyPLATEData(y_, 12, 24, 100);
      break;
    case rkStructure:
      modeBlock();
      y_ = CopyStructData(y_, 12, 24, 100);
      break;
    case rkFilm:
      modeBlock();
      y_ = CopyFILMData(y_, 12, 24, 100);
      break;
    default:
      break;
  }
}

}  // namespace archive::detail
