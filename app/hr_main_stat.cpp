// The running statistic of the LAMS mask, plate and structure pages: collecting results of one
// measurement type, the mean and standard deviation of every value, the grid of the page that
// owns the type, and the new, add, delete, save and report buttons of the three statistic tabs.
#include <QLabel>
#include <QTableWidget>
#include <QToolButton>
#include <algorithm>

#include "analysis/mymath.h"
#include "app/hr_main.h"
#include "app/language.h"
#include "archive/cal_rep_builder.h"
#include "platform/base/numeric.h"

namespace app {

namespace {

using analysis::TMessung;

// The floating-point values of a measurement, in the order of the record.
constexpr double TMessung::*kValueFields[] = {
    &TMessung::DotArea,  &TMessung::LCM,        &TMessung::Alpha,    &TMessung::EdgeFaktor, &TMessung::LineWidth,
    &TMessung::LineTol,  &TMessung::Freq1,      &TMessung::Freq2,    &TMessung::Periode1,   &TMessung::Periode2,
    &TMessung::DiamAvg,  &TMessung::DiamG,      &TMessung::DiamK,    &TMessung::StdDevDiam, &TMessung::SizeAvg,
    &TMessung::SizeG,    &TMessung::SizeK,      &TMessung::StdDevSize, &TMessung::DSTol,    &TMessung::LineLenght};
constexpr int32_t TMessung::*kCountFields[] = {&TMessung::CountAvg, &TMessung::CountG, &TMessung::CountK};

// A value as shown: multiplied, then divided (so that an unconverted value stays exact).
struct Unit {
  double mul = 1;
  double div = 1;
  double operator()(double v) const { return v * mul / div; }
};
constexpr Unit kAsStored{};
constexpr Unit kPerInch{2.54, 1};  // lines per cm to lines per inch
constexpr Unit kMil{1, 25.4};      // µm to mil

// One row of a statistic grid: its head, the value, its unit and the decimals of the mean and
// of the standard deviation.
struct GridRow {
  std::string head;
  double TMessung::*field;
  Unit unit;
  int mean_digits;
  int dev_digits;
};

void SetCell(QTableWidget* grid, int col, int row, const std::string& text) {
  if (QTableWidgetItem* item = grid->item(row, col)) {
    item->setText(Q(text));
  } else {
    grid->setItem(row, col, new QTableWidgetItem(Q(text)));
  }
}

void ClearGrid(QTableWidget* grid) {
  for (int r = 0; r < grid->rowCount(); ++r) {
    for (int c = 0; c < grid->columnCount(); ++c) SetCell(grid, c, r, "");
  }
  // The heads of the mean and standard deviation columns; a language file without the
  // section leaves them empty rather than showing some other line of the file.
  if (const int section = IndexOf("MEASRESULT"); section >= 0) {
    SetCell(grid, 1, 0, GetLanguageString(section + 26));
    SetCell(grid, 2, 0, GetLanguageString(section + 29));
  }
}

std::string LabelText(const QLabel* label) { return S(label->text()); }

}  // namespace

// ---- collecting ----

void THRMainFrm::AddStatistic() {
  HRMainModule& m = HRMain();
  const bool take =
      m.StatCount <= 0 || (m.StatCount < analysis::MAXSTAT && m.MyMess.aType == m.StatMess[0].aType);
  if (take) {
    if (m.StatCount < 0) m.StatCount = 0;
    m.StatMess[static_cast<size_t>(m.StatCount)] = m.MyMess;
    ++m.StatCount;
  }
  m.LastEntryIsMyMess = take;
  // A refused result still refreshes the display.
  CalcShowStat();
  UpdateStatImgs();
}

void THRMainFrm::CalcStat(TMessung& av, TMessung& stdsum) {
  const HRMainModule& m = HRMain();
  av = TMessung();
  stdsum = TMessung();
  const int n = std::min<int>(m.StatCount, analysis::MAXSTAT);
  if (n <= 0) return;
  if (n == 1) {
    av = m.StatMess[0];
    return;
  }
  av.aType = m.StatMess[0].aType;
  stdsum.aType = m.StatMess[0].aType;
  for (double TMessung::*f : kValueFields) {
    double sum = 0, squares = 0;
    for (int i = 0; i < n; ++i) {
      const double v = m.StatMess[static_cast<size_t>(i)].*f;
      sum += v;
      squares += v * v;
    }
    av.*f = sum / n;
    stdsum.*f = analysis::GetStd(n, av.*f, squares);
  }
  for (int32_t TMessung::*f : kCountFields) {
    int32_t sum = 0;
    for (int i = 0; i < n; ++i) sum += m.StatMess[static_cast<size_t>(i)].*f;
    av.*f = platform::Round(static_cast<double>(sum) / n);
  }
}

void THRMainFrm::CalcShowStat() {
  HRMainModule& m = HRMain();
  if (m.StatCount <= 0) return;
  CalcStat(m.av, m.StdSum);
  const analysis::AnalyzeState& a = analysis::Analysis();
  const int D = a.Digits;
  const int U = a.SUnits;
  const Unit ruling = U >= 1 ? kPerInch : kAsStored;
  const Unit length = U == 1 ? kMil : kAsStored;
  const std::string plus_minus = "\u00B1";

  const int t = m.StatMess[0].aType;
  QTableWidget* grid = nullptr;
  void (THRMainFrm::*clear)() = nullptr;
  std::vector<GridRow> rows;
  const auto row = [&](std::string head, double TMessung::*field, Unit unit) {
    rows.push_back({std::move(head), field, unit, D, D + 1});
  };
  // The line pattern of the LAMS page and of the structure page: only the structure's
  // frequencies follow the inch setting of the µm-per-inch units.
  const auto line_pattern = [&](Unit freq) {
    row(LabelText(DotAreaCapMask), &TMessung::DotArea, kAsStored);
    row(LabelText(LineWidthLabel), &TMessung::LineWidth, length);
    row(plus_minus + LabelText(LineWidthLabel), &TMessung::LineTol, length);
    row("F1", &TMessung::Freq1, freq);
    row("F2", &TMessung::Freq2, freq);
  };
  switch (t) {
    case analysis::MT_LAMSWSI:
      row(LabelText(DotAreaCapMask), &TMessung::DotArea, kAsStored);
      row(LabelText(LCMlabelMask), &TMessung::LCM, ruling);
      row(LabelText(AlphaCapMask), &TMessung::Alpha, kAsStored);
      break;
    case analysis::MT_LAMSMG:
      line_pattern(U == 1 ? kPerInch : kAsStored);
      break;
    case analysis::MT_LAMSDOT:
      row(LabelText(DotAreaCapMask), &TMessung::DotArea, kAsStored);
      row(LabelText(LCMlabelMask), &TMessung::LCM, ruling);
      row(LabelText(AlphaCapMask), &TMessung::Alpha, kAsStored);
      row(LabelText(EdgefaktorTitle), &TMessung::EdgeFaktor, kAsStored);
      break;
    case analysis::MT_LAMSLINE:
      row(LabelText(LineWidthLabel), &TMessung::LineWidth, length);
      break;
    case analysis::MT_PLATEDOT:
    case analysis::MT_PLATESDOT:
    case analysis::MT_NXPixel:
    case analysis::MT_NXBURL:
      row(LabelText(DotAreaCapPlate), &TMessung::DotArea, kAsStored);
      row(LabelText(LCMLabelPlate), &TMessung::LCM, ruling);
      rows.push_back({LabelText(DotDiameterCapPlate), &TMessung::DiamAvg, length, D, D});
      row(LabelText(AlphaCapPlate), &TMessung::Alpha, kAsStored);
      row(LabelText(EdgeFactorCapPlate), &TMessung::EdgeFaktor, kAsStored);
      break;
    case analysis::MT_PLATELINE:
      row(LabelText(PlateLineWidthLabel), &TMessung::LineWidth, length);
      break;
    case analysis::MT_PLATEWSI:
      row(LabelText(DotCapStruct), &TMessung::DotArea, kAsStored);
      break;
    case analysis::MT_PLATEWSIAREA:
      row(LabelText(DotAreaCapStruct), &TMessung::DotArea, kAsStored);
      row(LabelText(StructLCMLabel), &TMessung::LCM, ruling);
      row(LabelText(AlphaCapStruct), &TMessung::Alpha, kAsStored);
      break;
    case analysis::MT_PLATEMG:
      line_pattern(U >= 1 ? kPerInch : kAsStored);
      break;
    default:
      // Film, calibration and the other types have no statistic page.
      return;
  }
  if (t <= analysis::MT_LAMSLINE) {
    grid = MaskGrid;
    clear = &THRMainFrm::ClearMaskGrid;
  } else if (t <= analysis::MT_PLATELINE) {
    grid = PlateGrid;
    clear = &THRMainFrm::ClearPlateGrid;
  } else {
    grid = StructGrid;
    clear = &THRMainFrm::ClearStructGrid;
  }
  (this->*clear)();
  SetCell(grid, 0, 0, "# " + std::to_string(m.StatCount));
  for (size_t i = 0; i < rows.size(); ++i) {
    const GridRow& r = rows[i];
    const int line = static_cast<int>(i) + 1;
    SetCell(grid, 0, line, r.head);
    SetCell(grid, 1, line, analysis::SetVal(r.unit(m.av.*r.field), r.mean_digits));
    SetCell(grid, 2, line, analysis::SetVal(r.unit(m.StdSum.*r.field), r.dev_digits));
  }
}

void THRMainFrm::ClearMaskGrid() { ClearGrid(MaskGrid); }
void THRMainFrm::ClearPlateGrid() { ClearGrid(PlateGrid); }
void THRMainFrm::ClearStructGrid() { ClearGrid(StructGrid); }

// ---- the buttons of the statistic tabs ----

void THRMainFrm::StatPlus(QToolButton* plus, int first_type, int last_type) {
  const HRMainModule& m = HRMain();
  const int t = m.MyMess.aType;
  // The first entry must be of the page's types; after that only the statistic's type counts,
  // whichever page's button is pressed.
  const bool fits = m.StatCount <= 0 ? t >= first_type && t <= last_type : t == m.StatMess[0].aType;
  if (!st.StatActive && fits) {
    st.StatActive = true;
    plus->setChecked(true);
    AddStatistic();
  } else {
    plus->setChecked(false);
    st.StatActive = false;
  }
}

void THRMainFrm::StatDelete(void (THRMainFrm::*clear_own_grid)()) {
  HRMainModule& m = HRMain();
  if (m.StatCount > 0) --m.StatCount;
  m.LastEntryIsMyMess = false;
  if (m.StatCount <= 0) {
    (this->*clear_own_grid)();
  } else {
    CalcShowStat();
  }
  UpdateStatImgs();
}

void THRMainFrm::StatNew(void (THRMainFrm::*clear_own_grid)()) {
  // Collection mode, the mean and the deviations stay as they are: a statistics report right
  // after a restart still shows the mean computed before it.
  (this->*clear_own_grid)();
  HRMain().StatCount = 0;
  HRMain().LastEntryIsMyMess = false;
  UpdateStatImgs();
}

void THRMainFrm::NewStatbtnClick() { StatNew(&THRMainFrm::ClearMaskGrid); }
void THRMainFrm::NewPStatbtnClick() { StatNew(&THRMainFrm::ClearPlateGrid); }
void THRMainFrm::NewSStatbtnClick() { StatNew(&THRMainFrm::ClearStructGrid); }

void THRMainFrm::StatPlusbtnClick() { StatPlus(StatPlusbtn, analysis::MT_LAMSWSI, analysis::MT_LAMSLINE); }
void THRMainFrm::StatPPlusbtnClick() { StatPlus(StatPPlusbtn, analysis::MT_PLATEDOT, analysis::MT_PLATELINE); }
void THRMainFrm::StatSPlusbtnClick() { StatPlus(StatSPlusbtn, analysis::MT_PLATEWSI, analysis::MT_PLATEMG); }

void THRMainFrm::StatDelBtnClick() { StatDelete(&THRMainFrm::ClearMaskGrid); }
void THRMainFrm::StatPDelbtnClick() { StatDelete(&THRMainFrm::ClearPlateGrid); }
void THRMainFrm::StatSDelbtnClick() { StatDelete(&THRMainFrm::ClearStructGrid); }

void THRMainFrm::StatSavebtnClick() { SaveStatistik(); }
void THRMainFrm::StatPSavebtnClick() { SaveStatistik(); }
void THRMainFrm::StatSSavebtnClick() { SaveStatistik(); }

void THRMainFrm::StatPDFbtnClick() { StatisticReport(archive::rkLAMSStat, StatPlusbtn); }
void THRMainFrm::StatPPDFbtnClick() { StatisticReport(archive::rkPlateStat, StatPPlusbtn); }
void THRMainFrm::StatSPDFbtnClick() { StatisticReport(archive::rkStructStat, StatSPlusbtn); }

void THRMainFrm::ConnectStatisticControls() {
  const auto on = [this](QToolButton* b, void (THRMainFrm::*handler)()) { OnEvent(b, &QToolButton::clicked, handler); };
  on(NewStatbtn, &THRMainFrm::NewStatbtnClick);
  on(NewPStatbtn, &THRMainFrm::NewPStatbtnClick);
  on(NewSStatbtn, &THRMainFrm::NewSStatbtnClick);
  on(StatPlusbtn, &THRMainFrm::StatPlusbtnClick);
  on(StatPPlusbtn, &THRMainFrm::StatPPlusbtnClick);
  on(StatSPlusbtn, &THRMainFrm::StatSPlusbtnClick);
  on(StatDelBtn, &THRMainFrm::StatDelBtnClick);
  on(StatPDelbtn, &THRMainFrm::StatPDelbtnClick);
  on(StatSDelbtn, &THRMainFrm::StatSDelbtnClick);
  on(StatSavebtn, &THRMainFrm::StatSavebtnClick);
  on(StatPSavebtn, &THRMainFrm::StatPSavebtnClick);
  on(StatSSavebtn, &THRMainFrm::StatSSavebtnClick);
  on(StatPDFbtn, &THRMainFrm::StatPDFbtnClick);
  on(StatPPDFbtn, &THRMainFrm::StatPPDFbtnClick);
  on(StatSPDFbtn, &THRMainFrm::StatSPDFbtnClick);
}

}  // namespace app
