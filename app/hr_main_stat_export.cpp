// The running statistic as a text file a spreadsheet opens: UTF-8 with a byte-order mark, CR LF
// line ends, TAB-separated columns; a head line whose columns depend on the statistic's type,
// then one line per entry. Means and deviations are not written: the spreadsheet makes its own.
#include <optional>
#include <string>
#include <vector>

#include "analysis/mymath.h"
#include "app/file_write.h"
#include "app/hr_main.h"
#include "app/language.h"
#include "platform/base/numeric.h"

namespace app {

namespace {

using analysis::TMessung;

// Language text at offset k of the section MEASRESULT (empty without the section).
std::string T(int k) {
  const int section = IndexOf("MEASRESULT");
  return section < 0 ? std::string() : GetLanguageString(section + k);
}

// A number of the file: fixed, 5 significant digits, 2 decimals, "." as separator. (A value
// with more than five integer digits comes out in exponent form, as the files always had it.)
std::string Num(double v) { return analysis::MFTStr(v, platform::TFloatFormat::ffFixed, 5, 2); }

std::string Join(const std::vector<std::string>& columns) {
  std::string line;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) line += '\t';
    line += columns[i];
  }
  return line;
}

// The units of the file: "mil" only for setting 1; rulings per inch for settings 1 and 2.
struct FileUnits {
  bool mil;
  bool per_inch;
  std::string Length() const { return mil ? "mil" : "\u00B5m"; }
  std::string Area() const { return mil ? "mil\u00B2" : "\u00B5m\u00B2"; }
  double Len(double v) const { return mil ? v / 25.4 : v; }
  double Sq(double v) const { return mil ? v / 645.16 : v; }
  double Ruling(double v) const { return per_inch ? v * 2.54 : v; }
  std::string RulingHead() const { return per_inch ? "L/Inch" : "L/cm"; }
};

bool IsLinePattern(int t) { return t == analysis::MT_LAMSMG || t == analysis::MT_PLATEMG; }
bool IsLine(int t) { return t == analysis::MT_LAMSLINE || t == analysis::MT_PLATELINE; }
bool IsPlateDot(int t) { return t >= analysis::MT_PLATEDOT && t <= analysis::MT_NXBURL; }
bool IsStructure(int t) { return t == analysis::MT_PLATEWSI || t == analysis::MT_PLATEWSIAREA; }

// The head line of a statistic of type t; dstol is the size tolerance of its first entry.
std::string SaveHeadLine(int t, const FileUnits& u, double dstol) {
  const std::string L = u.Length();
  if (t == analysis::MT_LAMSWSI) {
    const std::string diameter = "\u00D8 " + L;
    return Join({"TOL \u00B1" + std::to_string(platform::Round(dstol)) + "%", T(1), u.RulingHead(), T(8), "# AVG",
                 diameter, u.Area(), "# >", diameter, u.Area(), "# <", diameter, u.Area(), "\u03C3 " + diameter,
                 "\u03C3 " + u.Area()});
  }
  if (IsLinePattern(t)) {
    return Join({"", T(20), T(7) + " " + L, "\u00B1" + T(7) + " " + L, T(30) + " 1", T(31) + " 1" + L,
                 T(30) + " 2", T(31) + " 2" + L});
  }
  if (t == analysis::MT_LAMSDOT) return Join({"", T(1), u.RulingHead(), T(8), T(6)});
  if (IsLine(t)) return Join({"", T(7)});
  if (IsPlateDot(t)) return Join({"", T(1), u.RulingHead(), T(8), T(6), T(3), T(13)});
  if (IsStructure(t)) return Join({"", T(1)});
  return {};
}

// The line of one entry of a statistic of type t.
std::string SaveStatLine(const TMessung& e, int t, const FileUnits& u) {
  const std::string area = Num(e.DotArea) + "%";
  if (t == analysis::MT_LAMSWSI) {
    return Join({"", area, Num(u.Ruling(e.LCM)), Num(e.Alpha) + "\u00B0", std::to_string(e.CountAvg),
                 Num(u.Len(e.DiamAvg)), Num(u.Sq(e.SizeAvg)), std::to_string(e.CountG), Num(u.Len(e.DiamG)),
                 Num(u.Sq(e.SizeG)), std::to_string(e.CountK), Num(u.Len(e.DiamK)), Num(u.Sq(e.SizeK)),
                 Num(u.Len(e.StdDevDiam)), Num(u.Sq(e.StdDevSize))});
  }
  if (IsLinePattern(t)) {
    // The frequencies stay in lines per cm whatever the units.
    return Join({"", area, Num(u.Len(e.LineWidth)), Num(u.Len(e.LineTol)), Num(e.Freq1), Num(u.Len(e.Periode1)),
                 Num(e.Freq2), Num(u.Len(e.Periode2))});
  }
  if (t == analysis::MT_LAMSDOT) {
    return Join({"", area, Num(u.Ruling(e.LCM)), Num(e.Alpha) + "\u00B0", Num(e.EdgeFaktor)});
  }
  if (IsLine(t)) return Join({"", Num(u.Len(e.LineWidth))});
  if (IsPlateDot(t)) {
    return Join({"", area, Num(u.Ruling(e.LCM)), Num(e.Alpha) + "\u00B0", Num(e.EdgeFaktor), Num(u.Len(e.DiamAvg)),
                 Num(u.Len(e.StdDevDiam))});
  }
  if (IsStructure(t)) return Join({"", area});
  return {};
}

}  // namespace

void THRMainFrm::SaveStatistik() {
  HRMainModule& m = HRMain();
  if (m.StatCount <= 0) return;
  CalcStat(m.av, m.StdSum);
  const std::optional<std::string> file = platform::ui::Services().SaveFileDialog(SaveStatDlg);
  if (!file) return;

  const analysis::AnalyzeState& a = analysis::Analysis();
  const FileUnits units{a.SUnits == 1, a.SUnits > 0};
  const int t = m.av.aType;
  // The size tolerance of the head is the statistic's own (every entry of a type-1 statistic
  // was measured with the tolerance it carries), not a value of the archive.
  std::string text = "\xEF\xBB\xBF" + SaveHeadLine(t, units, m.StatMess[0].DSTol) + "\r\n";
  for (int i = 0; i < m.StatCount && i < analysis::MAXSTAT; ++i) {
    text += SaveStatLine(m.StatMess[static_cast<size_t>(i)], t, units) + "\r\n";
  }
  if (const std::string error = WriteWholeFile(*file, text); !error.empty()) {
    platform::ui::Services().MessageBox("The statistic could not be saved as " + *file + ": " + error, "QUIRVEL",
                                        platform::ui::MsgButtons::Ok, platform::ui::MsgKind::Error);
  }
}

}  // namespace app
