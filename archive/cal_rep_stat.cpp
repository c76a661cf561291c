// Statistics reports: a small analysis image, the page's result block and statistic grid on
// the left, one line per collected measurement on the right.
#include "analysis/mymath.h"
#include "archive/cal_rep_layout.h"

namespace archive::detail {

using namespace analysis;

namespace {

// The values of one measurement for the columns at X 300, 350, ... (count of them). Which
// values, and in which units, follows the type of the statistic's first entry.
struct StatColumns {
  double v[5];
  int count = 0;
};

// Whether a type belongs to the statistic page of a report kind.
bool AcceptedType(int kind, MType t) {
  switch (kind) {
    case rkLAMSStat:
      return t >= MT_LAMSWSI && t <= MT_LAMSLINE;
    case rkPlateStat:
      return t >= MT_PLATEDOT && t <= MT_PLATELINE;
    case rkStructStat:
      return t >= MT_PLATEWSI && t <= MT_PLATEMG;
    default:
      return false;
  }
}

StatColumns Columns(MType first, const TMessung& m, int SUnits) {
  // Rulings are stored per cm and shown per inch outside the metric setting; lengths are
  // stored in µm and shown in mil only in the inch-and-mil setting.
  const double ruling = SUnits > 0 ? 2.54 : 1;
  const double length = SUnits == 1 ? 1 / 25.4 : 1;
  const double freq = SUnits == 1 ? 2.54 : 1;
  switch (first) {
    case MT_LAMSWSI:
      return {{m.DotArea, m.LCM * ruling, m.Alpha}, 3};
    case MT_LAMSMG:
    case MT_PLATEMG:
      return {{m.DotArea, m.LineWidth * length, m.LineTol * length, m.Freq1 * freq, m.Freq2 * freq}, 5};
    case MT_LAMSDOT:
      return {{m.DotArea, m.LCM * ruling, m.Alpha, m.EdgeFaktor}, 4};
    case MT_LAMSLINE:
    case MT_PLATELINE:
      return {{m.LineWidth * length}, 1};
    case MT_PLATEDOT:
    case MT_PLATESDOT:
    case MT_NXPixel:
    case MT_NXBURL:
      return {{m.DotArea, m.LCM * ruling, m.DiamAvg * length, m.Alpha, m.EdgeFaktor}, 5};
    case MT_PLATEWSI:
      return {{m.DotArea}, 1};
    case MT_PLATEWSIAREA:
      return {{m.DotArea, m.LCM * ruling, m.DiamAvg * length, m.Alpha}, 4};
    default:
      return {{}, 0};
  }
}

}  // namespace

void ReportLayout::StatBody() {
  n_ = 12;
  y_ = ShowHeadLines(120, n_, ProductName(ctx_.Brand) + " Report", "");

  abmp_ = ctx_.AnalyseImage;
  ShowWorkBitmap(80, static_cast<float>(y_), 160, 128);

  Font(6);
  n_ = 8;
  int y0 = 0;
  const ReportGrid* grid = nullptr;
  switch (index_) {
    case rkLAMSStat:
      y0 = CopyLAMSData(y_ + 130, 8, 24, 50);
      grid = &ctx_.MaskGrid;
      break;
    case rkPlateStat:
      y0 = CopyPLATEData(y_ + 130, 8, 24, 50);
      grid = &ctx_.PlateGrid;
      break;
    default:
      y0 = CopyStructData(y_ + 130, 8, 24, 50);
      grid = &ctx_.StructGrid;
      break;
  }

  if (ctx_.MESSTYPE != MT_NONE) {
    ModeIcon(24, static_cast<float>(y_));
    // The mode name stands right-aligned above the value table's column titles: lower down it
    // would print over the table's lines.
    if (index_ == rkLAMSStat) ModeName(static_cast<float>(y_ - 10));
  }
  if (ctx_.StatMess.empty()) return;

  y0 += 3 * n_;
  for (int r = 0; r < grid->RowCount(); ++r) {
    const std::vector<std::string>& row = grid->Cells[static_cast<size_t>(r)];
    for (size_t c = 0; c < row.size(); ++c)
      Text(24 + 70 * static_cast<float>(c), static_cast<float>(y0 + 8 * r), row[c]);
  }

  Font(6);
  n_ = 8;
  Color(kGray);
  const MType first = ctx_.StatMess.front().aType;
  if (!AcceptedType(index_, first)) return;

  // The value table's column titles are the grid's row titles.
  Font(4);
  for (int r = 1; r < grid->RowCount(); ++r) Text(250 + 50 * static_cast<float>(r), static_cast<float>(y_), grid->Cell(0, r));

  Font(6);
  Color(kBlack);
  y_ += 8;
  n_ = 6;
  for (const TMessung& m : ctx_.StatMess) {
    const StatColumns cols = Columns(first, m, ctx_.SUnits);
    for (int c = 0; c < cols.count; ++c)
      Text(300 + 50 * static_cast<float>(c), static_cast<float>(y_), SetVal(cols.v[c], ctx_.Digits));
    y_ += 6;
  }
}

}  // namespace archive::detail
