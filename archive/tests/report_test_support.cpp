#include "archive/tests/report_test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "archive/hr_db_data.h"
#include "cmake/test_tools.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/base/datetime.h"
#include "platform/image/canvas.h"

namespace archive::testing {

using quirvel::testing::RunTool;

TempHome::TempHome() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "quirvel-rep-XXXXXX").string();
  path_ = ::mkdtemp(tmpl.data());
}

TempHome::~TempHome() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

platform::Bitmap MakeLogo(int variant) {
  platform::Bitmap bmp(200, 78);
  bmp.Fill(255);
  platform::Canvas c(bmp);
  const platform::TColor colors[] = {platform::RGBColor(20, 60, 140), platform::RGBColor(160, 30, 30),
                                     platform::RGBColor(30, 120, 40), platform::RGBColor(120, 60, 150)};
  c.Brush().Color = colors[variant & 3];
  c.Pen().Color = colors[variant & 3];
  c.Ellipse(6, 6, 72, 72);
  c.Rectangle(84, 22, 194, 56);
  return bmp;
}

platform::Bitmap MakeIcon(int type) {
  platform::Bitmap bmp(64, 64);
  bmp.Fill(255);
  platform::Canvas c(bmp);
  c.Brush().Color = platform::RGBColor(static_cast<uint8_t>(40 + 10 * type), 90, static_cast<uint8_t>(200 - 8 * type));
  c.Pen().Color = c.Brush().Color;
  c.Ellipse(8, 8, 56, 56);
  return bmp;
}

platform::Bitmap MakeHalftone() {
  // A dot screen with a measurement overlay: dark dots on white, a red frame.
  platform::Bitmap bmp(1280, 1024);
  for (int y = 0; y < bmp.Height(); ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < bmp.Width(); ++x) {
      const int dx = x % 32 - 16, dy = y % 32 - 16;
      const uint8_t v = dx * dx + dy * dy < 100 ? 40 : 235;
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
    }
  }
  platform::Canvas c(bmp);
  c.Brush().Style = platform::TCanvasBrushStyle::bsClear;
  c.Pen().Color = platform::clRed;
  c.Pen().Width = 5;
  c.Rectangle(100, 100, 1180, 924);
  return bmp;
}

namespace {

// The English language file's sections as the language module would give them.
std::vector<std::string> Section(const std::vector<std::string>& lines, std::string_view name, int count) {
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != name) continue;
    for (int k = 0; k <= count && i + static_cast<size_t>(k) < lines.size(); ++k) out.push_back(lines[i + static_cast<size_t>(k)]);
    break;
  }
  return out;
}

std::vector<std::string> EnglishLines() {
  return ReadReportText(std::string(QUIRVEL_SOURCE_DIR) + "/assets/LANGUAGE/English.txt");
}

}  // namespace

ReportContext MakeContext(const std::string& home, int stat_count) {
  ReportContext ctx;
  ctx.HomeDir = home;
  ctx.Sprache = "English";
  ctx.SerialNo = "12";
  ctx.Brand = 0;
  ctx.BrandItemIndex = 0;
  ctx.ibmp = platform::Bitmap(1280, 1024);
  ctx.AnalyseImage = MakeHalftone();
  ctx.dbmp = MakeHalftone();
  ctx.StripImage = platform::Bitmap(1280, 148);
  for (int y = 0; y < ctx.StripImage.Height(); ++y) {
    uint8_t* row = ctx.StripImage.ScanLine(y);
    for (int x = 0; x < ctx.StripImage.Width(); ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = x % 24 < 9 ? 60 : 210;
  }
  for (int i = 0; i < 4; ++i) ctx.LogoImgs.push_back(MakeLogo(i));
  for (int t = 0; t <= analysis::MT_END; ++t) ctx.MessIcons.push_back(MakeIcon(t));
  ctx.LogoBmp = MakeLogo(1);
  ctx.Memo1 = {"Flexo Print Ltd.", "Quality Lab, Hall 3", "Tel. 0123 456789"};
  ctx.Job.Job = {"J-4711", "P-0815", "Anna Meier", "Customer proof, cyan"};
  ctx.MESSTYPE = analysis::MT_PLATEDOT;
  ctx.Maxsharp = 120;
  ctx.ActSharp = 110;
  ctx.PixelperInch = 42701;

  const std::vector<std::string> lines = EnglishLines();
  ctx.MeasResult = Section(lines, "MEASRESULT", 40);
  const std::vector<std::string> modes = Section(lines, "MMODES", 19);
  for (size_t i = 0; i < ctx.mmodes.size() && i + 1 < modes.size(); ++i) ctx.mmodes[i] = modes[i + 1];

  ReportControls& c = ctx.Controls;
  const std::pair<const char*, const char*> texts[] = {
      {"DotAreaCapPlate", "Dot Area"}, {"PlateDotAreaRes", "12.34%"}, {"LCMLabelPlate", "L/cm"},
      {"PlateLCMResult", "60.02"}, {"DotDiameterCapPlate", "Diameter"}, {"PlateDotDiameterRes", "41.20"},
      {"DDPlateUnit", "µm"}, {"AlphaCapPlate", "Angle"}, {"PlateAlphaRes", "45.00°"},
      {"EdgeFactorCapPlate", "Edge Factor"}, {"EFRes", "1.12"}, {"StdDevCapPlate", "Std. Dev."},
      {"StdDevPlate", "2.10"}, {"StdPlateUnit", "µm"}, {"PlateLineWidthLabel", "Line Width"},
      {"FLineWidthRes", "---"}, {"FLineWidthUnit", "µm"},
      {"DotCapStruct", "Structure"}, {"SDotAreaRes", "23.10"}, {"DotAreaCapStruct", "Structure Area"},
      {"SStructAreaREs", "41.00%"}, {"StructLCMLabel", "L/cm"}, {"SLCMResult", "80.00"},
      {"AlphaCapStruct", "Angle"}, {"SAlphaRes", "15.00°"}, {"PlateLineStructLabel", "Line Pattern"},
      {"PLineStructRes", "33.00%"}, {"StructureFreqLabel", "Frequency"}, {"FreqPlate", "120.00"},
      {"StructureCycleLabel", "Period"}, {"PeriodePlate", "83.33 µm"}, {"StructResLabel", "Pixel pattern 23.10"},
      {"DotAreaCapFilm", "Dot Area"}, {"FilmDotAreaRes", "50.10%"}, {"LCMLabelFilm", "L/cm"},
      {"FilmLCMResult", "60.00"}, {"AlphaCapFilm", "Angle"}, {"FilmAlphaREs", "75.00°"},
      {"FilmEdgeFaktorTitle", "Edge Factor"}, {"FilmEdgeFaktorRes", "1.05"}, {"FLineWidthLabel", "Line Width"},
      {"FilmLineWidthRes", "---"}, {"FilmLWMicronsLabel", "µm"},
      {"DotAreaCapMask", "Dot Area"}, {"MaskDotAreaRes", "3.21%"}, {"LCMlabelMask", "L/cm"},
      {"LCMResult", "60.00"}, {"AlphaCapMask", "Angle"}, {"AlphaRes", "45.00°"},
      {"EdgefaktorTitle", "Edge Factor"}, {"LAMSEdgeFaktorRes", "1.30"}, {"LineWidthLabel", "Line Width"},
      {"LineWidthRes", "20.50"}, {"LWMicronsLabel", "µm"}, {"FreqTitleLabel", "Frequency"},
      {"FreqLabel", "---"}, {"CycleLabel", "Period"}, {"PeriodeLabel", "---"},
      {"CountCapMask", "Count"}, {"DotDiameterCapMask", "Diameter"}, {"DotSizeCapMask", "Dot Size"},
      {"DotAreammK", "Below"}, {"DotAreammG", "Above"}, {"AvgCapMask", "Average"}, {"StdDevCapMask", "Std. Dev."},
      {"CountValue", "812"}, {"CountValueG", "14"}, {"CountValueK", "9"}, {"DotDiameterValue", "22.40"},
      {"DotDiameterValueG", "25.10"}, {"DotDiameterValueK", "19.80"}, {"StdDevRes", "1.20"},
      {"DotSizeValue", "394.1"}, {"DotSizeValueG", "494.8"}, {"DotSizeValueK", "307.9"},
      {"DotSizeStdDev", "41.3"}, {"DotTolCapMask", "Tolerance"}, {"TolEdit", "10"},
      {"SharpnesLabel", "Sharpness:"}, {"Sharplabel", "-12"}, {"PPILabel", "Pixel per Inch:"},
      {"PPIValLabel", "42701"}, {"ScrLabel", "Screen ruling"}, {"CalLCMREs", "49.80"},
      {"BrTitleLabel", "Brightness:"}, {"BRLabel", "128"}, {"ScreenEdit", "50.00"}, {"SerialEdit", "12"}};
  for (const auto& [name, text] : texts) c.Set(name, text);
  for (const char* panel :
       {"PDotAreaPanel", "PLinePanel", "PlateStructPanel", "PlateStructAreaPanel", "StructLCMPanel",
        "PlateLineStructPanel", "FilmDotAreaPanel", "FilmLineWidthPanel", "LAMSDotAreaPanel", "LAMSSRPanel",
        "LAMSDotDetailspanel", "LamsLineWidthPanel", "LAMSFreqPanel", "MaskValues", "BrandPanel"})
    c.Set(panel, "");

  for (int i = 0; i < stat_count; ++i) {
    analysis::TMessung m;
    m.aType = analysis::MT_PLATEDOT;
    m.DotArea = 12 + 0.25 * i;
    m.LCM = 60 + 0.01 * i;
    m.DiamAvg = 40 + 0.1 * i;
    m.Alpha = 45;
    m.EdgeFaktor = 1.1;
    ctx.StatMess.push_back(m);
  }
  ctx.MyMess = ctx.StatMess.empty() ? analysis::TMessung{} : ctx.StatMess.front();
  ctx.MyMess.aType = analysis::MT_PLATEDOT;
  const std::vector<std::vector<std::string>> grid = {
      {"# " + std::to_string(stat_count), "Mean", "Std. Dev."},
      {"Dot Area", "12.50", "0.395"},
      {"L/cm", "60.02", "0.016"},
      {"Diameter", "40.20", "0.16"},
      {"Angle", "45.00", "0.000"},
      {"Edge Factor", "1.10", "0.000"}};
  ctx.PlateGrid.Cells = grid;
  ctx.MaskGrid.Cells = grid;
  ctx.StructGrid.Cells = grid;
  return ctx;
}

// ---- history ----

void TableHistory::PaintChart(platform::Bitmap& target) {
  platform::Canvas c(target);
  c.Pen().Color = platform::RGBColor(128, 64, 64);
  c.Pen().Width = 3;
  c.MoveTo(40, 340);
  for (int i = 1; i <= 10; ++i) c.LineTo(40 + 72 * i, 340 - ((i * 37) % 260));
  c.Pen().Color = platform::RGBColor(255, 0, 0);
  c.Pen().Width = 1;
  c.MoveTo(40, 200);
  for (int i = 1; i <= 10; ++i) c.LineTo(40 + 72 * i, 200 - ((i * 53) % 120));
}

std::string TableHistory::FieldText(std::string_view column) {
  if (pos_ >= rows.size()) return {};
  const Row& row = rows[pos_];
  const auto it = row.find(column);
  if (it == row.end()) throw EReportError("Field '" + std::string(column) + "' not found");
  return it->second;
}

std::vector<TableHistory::Row> MaskRows(int count) {
  std::vector<TableHistory::Row> rows;
  for (int i = 0; i < count; ++i) {
    char dt[32];
    std::snprintf(dt, sizeof dt, "13.06.2024 %02d:%02d:00", 8 + i / 60 % 16, i % 60);
    rows.push_back({{"DateTime", dt},
                    {"DOTAREA", "12.30%"},
                    {"LCM", "40.00"},
                    {"ANGLE", "45.00°"},
                    {"AVGDiameter", "25.40µm"},
                    {"StdDevDiam", "2.54µm"},
                    {"SizeTol", "10"},
                    {"EdgeFaktor", "1.20"},
                    {"LineWidth", "20.00µm"},
                    {"LineTol", "1.00µm"},
                    {"Freq1", "60.00"},
                    {"Cycle1", "166.67µm"},
                    {"Freq2", "0.00"},
                    {"Cycle2", "0.00µm"}});
  }
  return rows;
}

orv::TORVTable& StoreMaskHistory(THRDBData& data, int count) {
  analysis::TMessung wsi;
  wsi.aType = analysis::MT_LAMSWSI;
  wsi.DotArea = 12.3;
  wsi.LCM = 40;
  wsi.Alpha = 45;
  wsi.DiamAvg = 25.4;
  wsi.StdDevDiam = 2.54;
  wsi.DSTol = 10;
  analysis::TMessung dot;
  dot.aType = analysis::MT_LAMSDOT;
  dot.DotArea = 77;
  // The stored picture is not what a history prints: a small one keeps the rows quick.
  const platform::Bitmap small(8, 8);
  const platform::TDateTime start = platform::EncodeDate(2024, 6, 13) + platform::EncodeTime(8, 0, 0, 0);
  for (int i = 0; i < count; ++i) {
    const platform::TDateTime dt = start + i / 1440.0;
    data.AddLAMSMessung(dt, small, wsi, "");
    if (i % 10 == 0) data.AddLAMSMessung(dt + 1 / 86400.0, small, dot, "");
  }
  orv::TORVTable& mask = data.LAMSTAB();
  mask.SetFilterText("Algorithm = \"MASK PIXELPATTERN\"");
  mask.SetFiltered(true);
  return mask;
}

// ---- the outside tools ----

PdfFacts::PdfFacts(const std::string& pdf) {
  const std::string q = "'" + pdf + "'";
  const auto check = RunTool("qpdf --check " + q);
  qpdf_exit = check.exit_code;
  qpdf = check.output;
  info = RunTool("pdfinfo " + q).output;
  fonts = RunTool("pdffonts " + q).output;
  images = RunTool("pdfimages -list " + q).output;
  layout = RunTool("pdftotext -layout " + q + " -", false).output;
  bbox = RunTool("pdftotext -bbox " + q + " -", false).output;
  const std::string qdf = pdf + ".qdf";
  RunTool("qpdf --qdf --object-streams=disable " + q + " '" + qdf + "'");
  content = ReadBytes(qdf);
  ::unlink(qdf.c_str());
}

std::vector<PdfFacts::Word> PdfFacts::Words() const {
  // Lines of the form <word xMin="…" yMin="…" xMax="…" yMax="…">text</word>, read by hand:
  // the history reports have tens of thousands of them.
  std::vector<Word> words;
  int page = 0;
  size_t at = 0;
  while (at < bbox.size()) {
    size_t end = bbox.find('\n', at);
    if (end == std::string::npos) end = bbox.size();
    const std::string_view line(bbox.data() + at, end - at);
    at = end + 1;
    if (line.find("<page ") != std::string_view::npos) ++page;
    const size_t open = line.find("<word ");
    if (open == std::string_view::npos) continue;
    Word w{};
    w.page = page;
    double* values[] = {&w.xMin, &w.yMin, &w.xMax, &w.yMax};
    size_t pos = open;
    for (double* v : values) {
      pos = line.find('"', pos) + 1;
      *v = std::strtod(std::string(line.substr(pos, line.find('"', pos) - pos)).c_str(), nullptr);
      pos = line.find('"', pos) + 1;
    }
    const size_t text = line.find('>', pos) + 1;
    w.text = std::string(line.substr(text, line.find("</word>", text) - text));
    // The few entities pdftotext writes.
    for (const auto& [entity, ch] : {std::pair{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}}) {
      for (size_t e = w.text.find(entity); e != std::string::npos; e = w.text.find(entity, e + 1))
        w.text.replace(e, std::strlen(entity), ch);
    }
    words.push_back(std::move(w));
  }
  return words;
}

std::vector<std::string> PdfFacts::ImageSizes() const {
  std::vector<std::string> sizes;
  std::istringstream in(images);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    int page = 0, num = 0, w = 0, h = 0;
    std::string type;
    if (f >> page >> num >> type >> w >> h) sizes.push_back(std::to_string(w) + "x" + std::to_string(h));
  }
  return sizes;
}

int PdfFacts::Pages() const {
  std::smatch m;
  static const std::regex pages(R"(Pages:\s+(\d+))");
  return std::regex_search(info, m, pages) ? std::stoi(m[1]) : -1;
}

void KeepSample(const std::string& pdf, const std::string& name, int pages) {
  const std::filesystem::path dir = std::filesystem::path(QUIRVEL_TEST_OUTPUT) / "reports";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::filesystem::path target = dir / (name + ".pdf");
  std::filesystem::copy_file(pdf, target, std::filesystem::copy_options::overwrite_existing, ec);
  for (int p = 1; p <= pages; ++p) {
    const std::string png = (dir / (pages == 1 ? name : name + "_page" + std::to_string(p))).string();
    RunTool("pdftoppm -png -r 100 -singlefile -f " + std::to_string(p) + " -l " + std::to_string(p) + " '" +
            target.string() + "' '" + png + "'");
  }
}

}  // namespace archive::testing
