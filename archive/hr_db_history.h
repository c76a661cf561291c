#pragma once
// The archive window as the history report reads it (see THRDBFrm::History).
#include "archive/hr_db.h"

namespace archive {

class THRDBFrm::HistoryView : public HistorySource {
 public:
  explicit HistoryView(THRDBFrm& frm) : frm_(frm) {}
  std::vector<FilterLine> FilterLines() override;
  int ChartWidth() override;
  int ChartHeight() override;
  void PaintChart(platform::Bitmap& target) override;
  HistoryTab ActiveTab() override { return frm_.ActiveTab(); }
  int AlgItemIndex() override;
  void First() override;
  bool Eof() override;
  void Next() override;
  std::string FieldText(std::string_view column) override;

 private:
  THRDBFrm& frm_;
};

}  // namespace archive
