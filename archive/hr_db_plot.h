#pragma once
// The archive window's filter and history plots without the window: the filter text made from
// the filter edits, and the points the nine plot routines take from a filtered table. The
// window (archive/hr_db.h) shows the points in its chart; tests and benchmarks use these
// directly.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/report_context.h"
#include "platform/base/datetime.h"

namespace platform::data {
class TDataSet;
}

namespace archive {

// The measurement types a tab's algorithm lists offer: MType values first..last.
struct TabTypes {
  int first = 0;
  int last = -1;
  int Count() const { return last - first + 1; }
};
TabTypes TypesOfTab(HistoryTab tab);

// A text between double quotes for the filter's lexer: a quote inside is doubled, so that the
// text can neither end the string early nor add filter text of its own.
std::string QuoteFilterText(std::string_view text);

// What the filter panel holds when a plot is asked for.
struct ArchiveFilterInput {
  platform::TDateTime From = 0;  // only the date counts
  platform::TDateTime To = 0;    // only the date counts
  std::string JobID = "%";       // LIKE patterns, as typed
  std::string Plate = "%";
  std::string User = "%";
  std::string Alg1;                 // MTYPENAMES text
  std::optional<std::string> Alg2;  // when the second list has a choice
};

// DateTime >= "<from> 00:00:00" AND DateTime <= "<to> 23:59:59" AND JOBID LIKE "<job>" AND
// Plate LIKE "<plate>" AND Operator LIKE "<user>" AND (Algorithm = "<alg1>"[ OR Algorithm =
// "<alg2>"]). The dates are written as the engine reads date texts (year-month-day), whatever
// the operator's display format.
std::string ArchiveFilterText(const ArchiveFilterInput& in);

// The nine plot routines of the window.
enum class PlotRoutine { MaskWSI, MaskMG, Mask, MaskLine, Plate, PlateLine, Struct, StructMG, Film };
// The routine for entry `item` (0-based) of a tab's algorithm list.
PlotRoutine RoutineFor(HistoryTab tab, int item);
// The table a routine reads: MASK, PLATE, SPLATE or FILM.
HistoryTab TableOf(PlotRoutine routine);

// One line series of the chart as a plot routine fills it.
struct PlotSeries {
  int Index = 0;  // 0..7
  std::string Title;
  std::vector<std::pair<double, double>> Points;  // (X, Y) in table order
};

// The chart's unit conversions of a unit system (0: L/cm and µm, 1: LPI and mil, 2: LPI and µm).
struct PlotUnits {
  double Ruling = 1;  // lines per cm times this
  double Length = 1;  // µm times this
  std::string RulingTitle;
  std::string LengthUnit;
  std::string TolTitle;
};
PlotUnits UnitsOf(int SUnits);

// The body of a plot routine: filters `table` (filter text emptied and switched off, then set
// to aFilter and switched on; the mask pixel-pattern routine leaves an empty filter off), walks
// its rows and returns the series with their points; the table ends on its first row and stays
// filtered. A row is plotted when its Algorithm equals alg, or, for an empty alg ("show all"),
// always. X is the row's DateTime when d is true, else 1, 2, 3 ... over the plotted rows.
// measResult(k) is the language line MEASRESULT + k. The filter's errors reach the caller.
std::vector<PlotSeries> PlotRows(PlotRoutine routine, platform::data::TDataSet& table, const std::string& aFilter,
                                 const std::string& alg, int v, bool d, int SUnits,
                                 const std::function<std::string(int)>& measResult);

}  // namespace archive
