#include "analysis/analyze.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/base/number_parse.h"
#include "platform/ini/profile.h"

namespace analysis {

namespace {

constexpr int kIniBuffer = 25;  // the calibration values are read into 25-character buffers

double ReadFloat(const std::string& inifile, const char* key, const char* def) {
  std::string text = platform::GetPrivateProfileString("QUIRVELCAL", key, def, kIniBuffer, inifile);
  double v = 0;
  platform::ValFloat(text, v);  // a text that stops converting keeps its numeric prefix
  return v;
}

}  // namespace

AnalyzeState::AnalyzeState()
    : images_(new TIntImage[2]()),
      hists_(std::make_unique<THistTiles>()),
      grid_(std::make_unique<TDotGrid>()),
      GResult(images_[0]),
      ThImage(images_[1]),
      GGrid(*grid_),
      Hists(*hists_) {}

AnalyzeState::~AnalyzeState() = default;

void AnalyzeState::Reset() {
  ClearResult(*this);
  std::memset(&images_[0], 0, 2 * sizeof(TIntImage));
  for (auto& column : Hists)
    for (THist& h : column) h.Clear();
  Ths = {};
  GlobalTH = 0;
  GDotID = 1;
  PixelperInch = 42701;
  CalPixelperInch = 42701;
  LUnits = 2.54;
  DUnits = 25.4;
  SUnits = 0;
  Digits = 2;
  Gravurewidth = 240;
  ShowSharp = false;
  WaitImg = 2;
  Imgseq = {{{1, 18}, {1, 18}, {1, 18}, {1, 18}}};
  ADDEDGE = 1.9;
  ADDEDGEK = -2.9;
}

AnalyzeState& Analysis() {
  static AnalyzeState state;
  return state;
}

void LoadCal(AnalyzeState& st, const std::string& inifile, int32_t& GGain) {
  st.PixelperInch = ReadFloat(inifile, "PIXELPERINCH", "43000");
  if (st.PixelperInch == 0) st.PixelperInch = 43000;
  st.CalPixelperInch = st.PixelperInch;

  std::string gain = platform::GetPrivateProfileString("QUIRVELCAL", "GAIN", "80", kIniBuffer, inifile);
  int64_t g = 0;
  platform::ValInt(gain, g);  // leading digits of a text that is not a whole integer
  g = std::clamp<int64_t>(g, INT32_MIN, INT32_MAX);
  GGain = g < 10 ? 10 : static_cast<int32_t>(g);

  st.ADDEDGE = ReadFloat(inifile, "SEDGE", "1.9");
  st.ADDEDGEK = ReadFloat(inifile, "KEDGE", "-2.9");
}

void LoadCal(const std::string& inifile, int32_t& GGain) { LoadCal(Analysis(), inifile, GGain); }

void CheckImgSeq(TImgSeq& Imgseq) {
  for (auto& pair : Imgseq) {
    int32_t& first = pair[0];
    int32_t& last = pair[1];
    if (first < 0) first = 0;
    if (last > 18) last = 18;
    // In 64 bits: a first step near the int range must not overflow the sums.
    if (int64_t{last} - first < 8) {
      if (int64_t{first} + 8 > 18) {
        first = 10;
        last = 18;
      } else {
        last = first + 8;
      }
    }
  }
}

void CheckImgSeq() { CheckImgSeq(Analysis().Imgseq); }

void ClearResult(AnalyzeState& st) {
  st.GAlternativencount = 0;
  Freedots(st.GDotList);
  st.GDotList = nullptr;
  FreeSortedDotList(st.GAlternative);
  st.GAlternative = nullptr;
  FreeSortedDotList(st.RetiredAlternatives);
  st.RetiredAlternatives = nullptr;
  st.ActAlternative = nullptr;
  st.GDot = nullptr;
  st.MaxDot = nullptr;
  // The grid's cells point into the chain just freed.
  st.GGrid = {};
  for (int32_t x = 0; x < ImWidth; ++x) std::fill_n(st.GResult[x], ImHeight, uint16_t{0});
  st.ResAvail = false;
}

void ClearResult() { ClearResult(Analysis()); }

}  // namespace analysis
