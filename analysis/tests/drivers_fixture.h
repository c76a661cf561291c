#pragma once
// A stand-in for the main window around the analysis drivers: the images, the histogram and
// the window fields, a host that records what the drivers show, and the main window's own
// frequency search.
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analysis/analyze_drivers_freq.h"
#include "analysis/analyze_drivers_mask.h"
#include "analysis/analyze_threshold.h"
#include "analysis/myimage_hist.h"
#include "analysis/tests/dots_fixture.h"

namespace analysis::fixture {

struct RecordingHost : TDriverHost {
  TDriverWindow* win = nullptr;
  const Bitmap* dbmp = nullptr;
  Bitmap* rbmp = nullptr;
  AnalyzeState* st = nullptr;
  std::vector<int32_t> gauge;
  std::vector<bool> busy;
  std::map<std::string, std::string, std::less<>> texts;
  std::map<std::string, bool, std::less<>> visible, down;
  std::set<std::string, std::less<>> checked;
  std::vector<std::string> shown;  // presentations, with their arguments
  TSortedDotList* shownList = nullptr;
  int statistics = 0;
  TAnalysisPage page = TAnalysisPage::Mask;
  std::vector<bool> freqShow;  // the Show argument of every frequency search

  void SetBusy(bool b) override { busy.push_back(b); }
  void SetGauge(int32_t v) override { gauge.push_back(v); }
  void SetDown(std::string_view b, bool d) override { down[std::string(b)] = d; }
  void SetVisible(std::string_view c, bool v) override { visible[std::string(c)] = v; }
  void SetText(std::string_view c, const std::string& t) override { texts[std::string(c)] = t; }
  std::string Text(std::string_view c) override {
    auto it = texts.find(c);
    return it == texts.end() ? std::string() : it->second;
  }
  bool Checked(std::string_view c) override { return checked.contains(c); }
  void AddStatistic() override { ++statistics; }
  void ShowEmpty() override { shown.push_back("ShowEmpty"); }
  void ShowMaskAlternative(TSortedDotList* l, int32_t mode, bool grid) override {
    shownList = l;
    shown.push_back("Mask " + std::to_string(mode) + (grid ? " grid" : ""));
  }
  void ShowPlateStructAlternative(TSortedDotList* l, int32_t mode, bool grid) override {
    shownList = l;
    shown.push_back("PlateStruct " + std::to_string(mode) + (grid ? " grid" : ""));
  }
  void ShowAlternative(TSortedDotList* l, bool mask) override {
    shownList = l;
    shown.push_back(std::string("Plate") + (mask ? " mask" : ""));
  }
  void ShowFilmAlternative(TSortedDotList* l, bool inv, bool mask) override {
    shownList = l;
    shown.push_back(std::string("Film") + (inv ? " inv" : "") + (mask ? " mask" : ""));
  }
  TAnalysisPage ActivePage() override { return page; }
  int32_t GetMaxFreq(double& dx, double& dy, bool Show) override {
    freqShow.push_back(Show);
    return analysis::GetMaxFreq(*st, *dbmp, *rbmp, *win, dx, dy, Show, page == TAnalysisPage::Mask, nullptr);
  }
};

// The main window's images and fields around one analysis state.
struct Window {
  State state;
  Bitmap dbmp, rbmp{ImWidth, ImHeight};
  std::unique_ptr<THist> hist = std::make_unique<THist>();
  TMessung MyMess;
  TDriverWindow win;
  RecordingHost host;
  TDriverContext ctx{*state, dbmp, rbmp, *hist, MyMess, win, host};

  explicit Window(Bitmap img) : dbmp(std::move(img)) {
    GetHistTH(*hist, dbmp);
    win.ImgCaptured = true;
    host.win = &win;
    host.dbmp = &dbmp;
    host.rbmp = &rbmp;
    host.st = &*state;
    state->PixelperInch = 43000;
  }
  AnalyzeState& st() { return *state; }
};

inline int32_t MemberCount(const TSortedDotList* l) {
  int32_t n = 0;
  for (const TDotList* m = l ? l->dots : nullptr; m; m = m->next) ++n;
  return n;
}

// Vertical dark lines of the given period and width over the whole image.
inline Bitmap Grating(int period, int width, uint8_t line = 30, uint8_t gap = 225) {
  Bitmap b(ImWidth, ImHeight);
  for (int y = 0; y < ImHeight; ++y)
    for (int x = 0; x < ImWidth; ++x) SetGray(b, x, y, x % period < width ? line : gap);
  return b;
}

}  // namespace analysis::fixture
