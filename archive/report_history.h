#pragma once
// The rows of a history report taken from the archive table itself: the archive window's
// filtered table of the active tab, walked from its first record to its end, each value the
// column's display text. What the window adds of its own is what it shows beside the table
// (the filter lines, the chart, the tab and the algorithm choice), so it implements a history
// source by deriving from DataSetHistory and handing over the table of its active tab:
//
//   FilterLines()            the six filter lines, captions and values as the window shows them
//   ChartWidth/ChartHeight   the chart's size in pixels
//   PaintChart(bitmap)       the chart painted into a bitmap of that size, over a white field
//                            with a black frame
//   ActiveTab/AlgItemIndex   the tab page and the item index of the algorithm list
//   SetRows(table)           the filtered table of that tab (borrowed)
#include <string>
#include <string_view>

#include "archive/report_context.h"

namespace platform::data {
class TDataSet;
}

namespace archive {

class DataSetHistory : public HistorySource {
 public:
  // The table the rows come from, with whatever filter is set on it; null prints no rows.
  void SetRows(platform::data::TDataSet* rows) { rows_ = rows; }
  platform::data::TDataSet* Rows() const { return rows_; }

  // The table moves to its first record and is left after its last, as the window's grid
  // then shows it. A column the table lacks raises the dataset's field-not-found error.
  void First() override;
  bool Eof() override;
  void Next() override;
  std::string FieldText(std::string_view column) override;
  // The table's controls are disabled for the walk and show where it ended afterwards.
  void BeginRows() override;
  void EndRows() noexcept override;

 private:
  platform::data::TDataSet* rows_ = nullptr;
  platform::data::TDataSet* disabled_ = nullptr;  // the table BeginRows disabled
};

}  // namespace archive
