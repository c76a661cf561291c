#pragma once
// The main window as the host of the analysis drivers: what a driver asks of the window (the
// cursor, the progress gauge, controls by their names, language texts, the zoomed display,
// the frequency search, the statistic and the result presentations) done on the real window.
#include <optional>
#include <string>
#include <string_view>

#include "analysis/analyze_drivers_mask.h"
#include "platform/image/canvas.h"

namespace app {

class THRMainFrm;

class MainDriverHost : public analysis::TDriverHost {
 public:
  explicit MainDriverHost(THRMainFrm& frm) : frm_(frm) {}
  ~MainDriverHost() override;

  void SetBusy(bool busy) override;
  void SetGauge(int32_t percent) override;
  void SetDown(std::string_view button, bool down) override;
  void SetVisible(std::string_view control, bool visible) override;
  void SetText(std::string_view control, const std::string& text) override;
  std::string Text(std::string_view control) override;
  bool Checked(std::string_view control) override;
  analysis::TAnalysisPage ActivePage() override;
  void SetLanguageText(std::string_view control, std::string_view section, int32_t offset) override;
  void RedrawZoom() override;
  void AddStatistic() override;
  int32_t GetMaxFreq(double& dx, double& dy, bool Show) override;
  void ShowEmpty() override;
  void ShowMaskAlternative(analysis::TSortedDotList* aList, int32_t mode, bool ShowGrid) override;
  void ShowPlateStructAlternative(analysis::TSortedDotList* aList, int32_t mode, bool ShowGrid) override;
  void ShowAlternative(analysis::TSortedDotList* aList, bool mask) override;
  void ShowFilmAlternative(analysis::TSortedDotList* aList, bool inv, bool mask) override;
  platform::Canvas* AnalyseCanvas() override;
  void DrawZoomed(const platform::Bitmap& abmp) override;
  void SetPicture(std::string_view control, platform::Bitmap bmp) override;
  std::string HomeFile(std::string_view name) override;
  void FFTAmplitudeChange() override;
  std::string LanguageText(std::string_view section, int32_t offset) override;

 private:
  THRMainFrm& frm_;
  int busy_ = 0;  // hourglasses set and not yet taken back
  std::optional<platform::Canvas> canvas_;
};

}  // namespace app
