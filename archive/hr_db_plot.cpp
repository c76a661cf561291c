#include "archive/hr_db_plot.h"

#include <stdexcept>

#include "analysis/analyze.h"
#include "analysis/mymath.h"
#include "platform/data/dataset.h"
#include "platform/data/date_time_text.h"
#include "platform/data/field.h"

namespace archive {

using namespace analysis;

TabTypes TypesOfTab(HistoryTab tab) {
  switch (tab) {
    case HistoryTab::MASK: return {MT_LAMSWSI, MT_LAMSLINE};
    case HistoryTab::PLATE: return {MT_PLATEDOT, MT_PLATELINE};
    case HistoryTab::STRUCTURE: return {MT_PLATEWSI, MT_PLATEMG};
    case HistoryTab::FILM: return {MT_FILMDOT, MT_FILMSDOT};
    default: return {};
  }
}

std::string QuoteFilterText(std::string_view text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string ArchiveFilterText(const ArchiveFilterInput& in) {
  // The engine reads date texts year first; a display format such as dd.mm.yyyy would be read
  // as another date, or not at all.
  const std::string from = platform::data::FormatDateTime("yyyy-mm-dd", in.From);
  const std::string to = platform::data::FormatDateTime("yyyy-mm-dd", in.To);
  std::string f = "DateTime >= " + QuoteFilterText(from + " 00:00:00") + " AND DateTime <= " +
                  QuoteFilterText(to + " 23:59:59") + " AND JOBID LIKE " + QuoteFilterText(in.JobID) +
                  " AND Plate LIKE " + QuoteFilterText(in.Plate) + " AND Operator LIKE " + QuoteFilterText(in.User) +
                  " AND (Algorithm = " + QuoteFilterText(in.Alg1);
  if (in.Alg2) f += " OR Algorithm = " + QuoteFilterText(*in.Alg2);
  return f + ")";
}

PlotRoutine RoutineFor(HistoryTab tab, int item) {
  const TabTypes types = TypesOfTab(tab);
  if (item < 0 || item >= types.Count()) throw std::out_of_range("No plot for entry " + std::to_string(item) + " of this tab");
  switch (tab) {
    case HistoryTab::MASK: {
      static constexpr PlotRoutine r[] = {PlotRoutine::MaskWSI, PlotRoutine::MaskMG, PlotRoutine::Mask,
                                          PlotRoutine::MaskLine};
      return r[item];
    }
    case HistoryTab::PLATE: return item == 4 ? PlotRoutine::PlateLine : PlotRoutine::Plate;
    case HistoryTab::STRUCTURE: return item == 2 ? PlotRoutine::StructMG : PlotRoutine::Struct;
    default: return PlotRoutine::Film;
  }
}

HistoryTab TableOf(PlotRoutine routine) {
  switch (routine) {
    case PlotRoutine::MaskWSI:
    case PlotRoutine::MaskMG:
    case PlotRoutine::Mask:
    case PlotRoutine::MaskLine: return HistoryTab::MASK;
    case PlotRoutine::Plate:
    case PlotRoutine::PlateLine: return HistoryTab::PLATE;
    case PlotRoutine::Struct:
    case PlotRoutine::StructMG: return HistoryTab::STRUCTURE;
    case PlotRoutine::Film: return HistoryTab::FILM;
  }
  return HistoryTab::Other;
}

PlotUnits UnitsOf(int SUnits) {
  PlotUnits u;
  u.Ruling = SUnits == 0 ? 1 : 2.54;
  u.Length = SUnits == 1 ? 1 / 25.4 : 1;
  u.RulingTitle = SUnits == 0 ? "L/cm" : "LPI";
  u.LengthUnit = SUnits == 1 ? " mil" : " \u00B5m";
  u.TolTitle = SUnits == 1 ? "+/- mil" : "+/- \u00B5m";
  return u;
}

namespace {

// One series of a routine: where it goes, its title, its column and the factor of its values.
struct SeriesSpec {
  int offset;
  std::string title;
  const char* column;
  double factor;
};

std::vector<SeriesSpec> SpecsOf(PlotRoutine routine, const PlotUnits& u, const std::function<std::string(int)>& mr) {
  const SeriesSpec dot{0, mr(1), "DOTAREA", 1};
  const SeriesSpec ruling{1, u.RulingTitle, "LCM", u.Ruling};
  const SeriesSpec width{0, mr(7) + u.LengthUnit, "LineWidth", u.Length};
  switch (routine) {
    case PlotRoutine::MaskWSI: return {dot, ruling};
    case PlotRoutine::MaskMG:
      return {{0, mr(20), "DOTAREA", 1}, {1, mr(7) + u.LengthUnit, "LineWidth", u.Length},
              {3, u.TolTitle, "LineTol", u.Length}};
    case PlotRoutine::Mask:
    case PlotRoutine::Plate:
    case PlotRoutine::Film: return {dot, ruling, {2, mr(6), "EdgeFaktor", 1}};
    case PlotRoutine::MaskLine:
    case PlotRoutine::PlateLine: return {width};
    case PlotRoutine::Struct: return {{0, mr(18), "Structure", 1}};
    case PlotRoutine::StructMG: return {{0, mr(18), "Structure", 1}, {1, mr(19), "Line Structure", 1}};
  }
  return {};
}

}  // namespace

std::vector<PlotSeries> PlotRows(PlotRoutine routine, platform::data::TDataSet& table, const std::string& aFilter,
                                 const std::string& alg, int v, bool d, int SUnits,
                                 const std::function<std::string(int)>& measResult) {
  const std::vector<SeriesSpec> specs = SpecsOf(routine, UnitsOf(SUnits), measResult);
  std::vector<PlotSeries> series;
  for (const SeriesSpec& s : specs) series.push_back({v + s.offset, s.title, {}});

  table.SetFilterText("");
  table.SetFiltered(false);
  if (routine != PlotRoutine::MaskWSI || !aFilter.empty()) {
    table.SetFilterText(aFilter);
    table.SetFiltered(true);
  }

  platform::data::TField* algorithm = table.FieldByName("Algorithm");
  platform::data::TField* date = table.FieldByName("DateTime");
  std::vector<platform::data::TField*> columns;
  for (const SeriesSpec& s : specs) columns.push_back(table.FieldByName(s.column));

  table.DisableControls();
  try {
    int n = 0;
    for (table.First(); !table.Eof(); table.Next()) {
      if (!alg.empty() && algorithm->AsString() != alg) continue;
      ++n;
      const double x = d ? date->AsDateTime() : n;
      for (size_t i = 0; i < specs.size(); ++i)
        series[i].Points.emplace_back(x, GetVal(columns[i]->AsString()) * specs[i].factor);
    }
    table.First();
  } catch (...) {
    table.EnableControls();
    throw;
  }
  table.EnableControls();
  return series;
}

}  // namespace archive
