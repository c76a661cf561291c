// History reports: the archive window's filter and chart on the first page, then one line per
// record of the filtered table, 127 lines to a page. The columns depend on the table and on
// the measurement type chosen in the window's algorithm list.
#include "analysis/mymath.h"
#include "archive/cal_rep_layout.h"
#include "platform/image/canvas.h"

namespace archive::detail {

using namespace analysis;

namespace {

constexpr int kLineHeight = 6;

// A stored value text read as a number, converted, and written with two decimals.
std::string Converted(const std::string& text, double factor) {
  return MFTStr(GetVal(text) * factor, platform::TFloatFormat::ffFixed, 5, 2);
}

// The measurement type the algorithm list's choice stands for on a tab.
int TabType(HistoryTab tab, int item) {
  switch (tab) {
    case HistoryTab::MASK:
      return item + MT_LAMSWSI;
    case HistoryTab::PLATE:
      return item + MT_PLATEDOT;
    case HistoryTab::STRUCTURE:
      return item + MT_PLATEWSI;
    case HistoryTab::FILM:
      return item + MT_FILMDOT;
    default:
      return MT_NONE;
  }
}

}  // namespace

void ReportLayout::HistoryPageLabel(int p) {
  Font(5);
  y_ = 24;
  Text(24, static_cast<float>(y_), "PAGE: " + std::to_string(p));
  y_ += n_;
}

void ReportLayout::HistoryHeader(HistorySource& src, HistoryTab tab, int atype, int x, int dx, int y) {
  const int units = ctx_.SUnits;
  const auto at = [&](int column, const std::string& title) {
    Text(static_cast<float>(x + column * dx), static_cast<float>(y), title);
  };
  const auto mr = [&](int offset) { return ctx_.MeasResultText(offset); };
  // The ruling title stands a line lower in the inch setting.
  const auto ruling = [&](int column) {
    if (units <= 0) at(column, "L/cm");
    else Text(static_cast<float>(x + column * dx), static_cast<float>(y + n_), "L/Inch");
  };

  Color(kGray);
  switch (tab) {
    case HistoryTab::MASK:
      if (atype == MT_LAMSWSI) {
        at(0, "TOL ±" + src.FieldText("SizeTol") + "%");
        at(1, mr(1));
        ruling(2);
        at(3, mr(8));
        at(4, units == 1 ? "Ømil" : "Øµm");
        at(5, units == 1 ? "σ Ømil" : "σ Øµm");
      } else if (atype == MT_LAMSMG) {
        at(1, mr(20));
        at(2, mr(7));
        at(3, "±" + mr(7));
        at(4, mr(30) + " 1");
        at(5, mr(31) + " 1µm");
        at(6, mr(30) + " 2");
        at(7, mr(31) + " 2µm");
      } else if (atype == MT_LAMSDOT) {
        at(1, mr(1));
        ruling(2);
        at(3, mr(8));
        at(4, mr(6));
      } else if (atype == MT_LAMSLINE) {
        at(1, mr(7));
      }
      break;
    case HistoryTab::PLATE:
      if (atype >= MT_PLATEDOT && atype <= MT_NXBURL) {
        at(1, mr(1));
        ruling(2);
        at(3, mr(8));
        at(4, mr(6));
        at(5, mr(3));
        at(6, mr(13));
      } else if (atype == MT_PLATELINE) {
        at(1, mr(7));
      }
      break;
    case HistoryTab::STRUCTURE:
      if (atype == MT_PLATEWSI || atype == MT_PLATEWSIAREA) {
        at(1, mr(1));
      } else if (atype == MT_PLATEMG) {
        at(1, mr(20));
        at(2, mr(7));
        at(3, mr(30) + " 1");
        at(4, mr(31) + " 1");
        at(5, mr(30) + " 2");
        at(6, mr(31) + " 2");
      }
      break;
    case HistoryTab::FILM:
      if (atype >= MT_FILMDOT && atype <= MT_FILMSDOT) {
        at(1, mr(1));
        ruling(2);
        at(3, mr(8));
      }
      break;
    case HistoryTab::Other:
      break;
  }
  Color(kBlack);
}

void ReportLayout::HistoryRow(HistorySource& src, HistoryTab tab, int atype, int x, int dx, int y) {
  const int units = ctx_.SUnits;
  const auto at = [&](int column, const std::string& text) {
    Text(static_cast<float>(x + column * dx), static_cast<float>(y), text);
  };
  const auto field = [&](int column, const char* name) { at(column, src.FieldText(name)); };
  // A value printed converted only when the unit setting asks for it.
  const auto scaled = [&](int column, const char* name, bool convert, double factor) {
    at(column, convert ? Converted(src.FieldText(name), factor) : src.FieldText(name));
  };
  const bool mil = units == 1;

  switch (tab) {
    case HistoryTab::MASK:
      if (atype == MT_LAMSWSI) {
        field(0, "DateTime");
        field(1, "DOTAREA");
        scaled(2, "LCM", units > 0, 2.54);
        field(3, "ANGLE");
        scaled(4, "AVGDiameter", mil, 1 / 25.4);
        scaled(5, "StdDevDiam", mil, 1 / 25.4);
      } else if (atype == MT_LAMSMG) {
        field(0, "DateTime");
        field(1, "DOTAREA");
        scaled(2, "LineWidth", mil, 1 / 25.4);
        scaled(3, "LineTol", mil, 1 / 25.4);
        field(4, "Freq1");
        scaled(5, "Cycle1", mil, 1 / 25.4);
        field(6, "Freq2");
        scaled(7, "Cycle2", mil, 1 / 25.4);
      } else if (atype == MT_LAMSDOT) {
        field(0, "DateTime");
        field(1, "DOTAREA");
        field(2, "LCM");
        field(3, "ANGLE");
        field(4, "EdgeFaktor");
      } else if (atype == MT_LAMSLINE) {
        field(2, "LineWidth");
      }
      break;
    case HistoryTab::PLATE:
      if (atype >= MT_PLATEDOT && atype <= MT_NXBURL) {
        field(0, "DateTime");
        field(1, "DOTAREA");
        field(2, "LCM");
        field(3, "ANGLE");
        field(4, "EdgeFaktor");
        field(5, "Diameter");
        field(6, "StdDevDiam");
      } else if (atype == MT_PLATELINE) {
        field(2, "LineWidth");
      }
      break;
    case HistoryTab::STRUCTURE:
      if (atype == MT_PLATEWSI || atype == MT_PLATEWSIAREA) {
        field(0, "DateTime");
        field(1, "Structure");
      } else if (atype == MT_PLATEMG) {
        field(0, "DateTime");
        field(1, "Structure");
        field(2, "Line Structure");
        field(3, "Freq1");
        field(4, "Cycle1");
        field(5, "Freq2");
        field(6, "Cycle2");
      }
      break;
    case HistoryTab::FILM:
      if (atype >= MT_FILMDOT && atype <= MT_FILMSDOT) {
        field(0, "DateTime");
        field(1, "DOTAREA");
        field(2, "LCM");
        field(3, "ANGLE");
      }
      break;
    case HistoryTab::Other:
      break;
  }
}

void ReportLayout::HistoryBody() {
  HistorySource& src = *ctx_.History;
  ShowTitle(ProductName(ctx_.Brand) + " Report", "");

  Font(9);
  y_ = 120;
  n_ = 12;
  for (const HistorySource::FilterLine& line : src.FilterLines()) {
    Text(24, static_cast<float>(y_), line.Caption);
    Text(200, static_cast<float>(y_), line.Value);
    y_ += n_;
  }
  y_ += n_;

  // The chart paints itself on a white field with a black frame.
  abmp_ = platform::Bitmap(std::max(1, src.ChartWidth()), std::max(1, src.ChartHeight()));
  {
    platform::Canvas c(abmp_);
    c.Rectangle(0, 0, abmp_.Width() - 1, abmp_.Height() - 1);
  }
  src.PaintChart(abmp_);
  ShowWorkBitmap(100, static_cast<float>(y_), 400, 200);

  n_ = kLineHeight;
  int p = doc_.AddPage();
  HistoryPageLabel(p);

  const HistoryTab tab = src.ActiveTab();
  if (tab == HistoryTab::Other) return;
  const int atype = TabType(tab, src.AlgItemIndex());

  struct RowsWalk {
    HistorySource& src;
    explicit RowsWalk(HistorySource& s) : src(s) { src.BeginRows(); }
    ~RowsWalk() { src.EndRows(); }
  } walk(src);
  src.First();
  HistoryHeader(src, tab, atype, 24, 60, y_);
  y_ += 2 * n_;
  while (!src.Eof()) {
    HistoryRow(src, tab, atype, 24, 60, y_);
    y_ += n_;
    if (y_ > 800) {
      p = doc_.AddPage();
      HistoryPageLabel(p);
      HistoryHeader(src, tab, atype, 24, 60, y_);
      y_ += 2 * n_;
    }
    src.Next();
  }
}

}  // namespace archive::detail
