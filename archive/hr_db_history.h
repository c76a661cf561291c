#pragma once
// The archive window as the history report reads it (see THRDBFrm::History).
#include "archive/hr_db.h"
#include "archive/report_history.h"

namespace archive {

// The rows are the active tab's table as it stands (filtered by the last plot); the window
// adds its filter lines, its chart and its choices.
class THRDBFrm::HistoryView : public DataSetHistory {
 public:
  explicit HistoryView(THRDBFrm& frm) : frm_(frm) {}
  std::vector<FilterLine> FilterLines() override;
  int ChartWidth() override;
  int ChartHeight() override;
  void PaintChart(platform::Bitmap& target) override;
  HistoryTab ActiveTab() override { return frm_.ActiveTab(); }
  int AlgItemIndex() override;
  void BeginRows() override;
  void First() override;

 private:
  THRDBFrm& frm_;
};

}  // namespace archive
