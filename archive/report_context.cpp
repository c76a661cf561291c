#include "archive/report_context.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "platform/base/text_file.h"

namespace archive {

// ---- ReportControls ----

void ReportControls::Set(std::string_view name, std::string text, bool visible) {
  Control& c = controls_[std::string(name)];
  c.Text = std::move(text);
  c.Visible = visible;
}

void ReportControls::SetVisible(std::string_view name, bool visible) { controls_[std::string(name)].Visible = visible; }

bool ReportControls::Has(std::string_view name) const { return controls_.find(name) != controls_.end(); }

const ReportControls::Control& ReportControls::Get(std::string_view name) const {
  const auto it = controls_.find(name);
  if (it == controls_.end()) throw EReportError("The report context has no control " + std::string(name) + ".");
  return it->second;
}

const std::string& ReportControls::Text(std::string_view name) const { return Get(name).Text; }
bool ReportControls::Visible(std::string_view name) const { return Get(name).Visible; }

std::vector<std::string> ReportControls::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : controls_) names.push_back(entry.first);
  return names;
}

const std::vector<std::string_view>& ReportControlNames() {
  static const std::vector<std::string_view> names = {
      // plate page
      "PDotAreaPanel", "DotAreaCapPlate", "PlateDotAreaRes", "LCMLabelPlate", "PlateLCMResult", "DotDiameterCapPlate",
      "PlateDotDiameterRes", "DDPlateUnit", "AlphaCapPlate", "PlateAlphaRes", "EdgeFactorCapPlate", "EFRes",
      "StdDevCapPlate", "StdDevPlate", "StdPlateUnit", "PLinePanel", "PlateLineWidthLabel", "FLineWidthRes",
      "FLineWidthUnit",
      // structure page
      "PlateStructPanel", "DotCapStruct", "SDotAreaRes", "PlateStructAreaPanel", "DotAreaCapStruct", "SStructAreaREs",
      "StructLCMPanel", "StructLCMLabel", "SLCMResult", "AlphaCapStruct", "SAlphaRes", "PlateLineStructPanel",
      "PlateLineStructLabel", "PLineStructRes", "StructureFreqLabel", "FreqPlate", "StructureCycleLabel",
      "PeriodePlate", "StructResLabel",
      // film page
      "FilmDotAreaPanel", "DotAreaCapFilm", "FilmDotAreaRes", "LCMLabelFilm", "FilmLCMResult", "AlphaCapFilm",
      "FilmAlphaREs", "FilmEdgeFaktorTitle", "FilmEdgeFaktorRes", "FilmLineWidthPanel", "FLineWidthLabel",
      "FilmLineWidthRes", "FilmLWMicronsLabel",
      // LAMS mask page
      "LAMSDotAreaPanel", "DotAreaCapMask", "MaskDotAreaRes", "LAMSSRPanel", "LCMlabelMask", "LCMResult",
      "AlphaCapMask", "AlphaRes", "LAMSDotDetailspanel", "EdgefaktorTitle", "LAMSEdgeFaktorRes", "LamsLineWidthPanel",
      "LineWidthLabel", "LineWidthRes", "LWMicronsLabel", "LAMSFreqPanel", "FreqTitleLabel", "FreqLabel", "CycleLabel",
      "PeriodeLabel", "MaskValues", "CountCapMask", "DotDiameterCapMask", "DotSizeCapMask", "DotAreammK", "DotAreammG",
      "AvgCapMask", "StdDevCapMask", "CountValue", "CountValueG", "CountValueK", "DotDiameterValue",
      "DotDiameterValueG", "DotDiameterValueK", "StdDevRes", "DotSizeValue", "DotSizeValueG", "DotSizeValueK",
      "DotSizeStdDev", "DotTolCapMask", "TolEdit",
      // calibration page
      "SharpnesLabel", "Sharplabel", "PPILabel", "PPIValLabel", "ScrLabel", "CalLCMREs", "BrTitleLabel", "BRLabel",
      "ScreenEdit", "SerialEdit", "BrandPanel"};
  return names;
}

// ---- ReportGrid ----

const std::string& ReportGrid::Cell(int c, int r) const {
  static const std::string empty;
  if (r < 0 || r >= RowCount() || c < 0) return empty;
  const std::vector<std::string>& row = Cells[static_cast<size_t>(r)];
  return static_cast<size_t>(c) < row.size() ? row[static_cast<size_t>(c)] : empty;
}

// ---- ReportContext ----

std::string ReportContext::MeasResultText(int offset) const {
  if (offset < 0 || static_cast<size_t>(offset) >= MeasResult.size()) return std::to_string(offset) + " not found";
  return MeasResult[static_cast<size_t>(offset)];
}

// ---- the report text file ----

std::vector<std::string> ReadReportText(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    throw EReportError("Cannot read the report text " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw EReportError("Cannot read the report text " + path + ": not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EReportError("Cannot read the report text " + path + ": " + std::strerror(errno));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw EReportError("Cannot read the report text " + path + ": read error");

  // Read like every text file of the program: a byte-order mark, else Windows-1252.
  return platform::SplitLines(platform::DecodeTextFile(bytes.str()));
}

}  // namespace archive
