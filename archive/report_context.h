#pragma once
// What the report builder reads of the program while it lays out a report, gathered into one
// snapshot: the main window's results, images, statistic and calibration page, the settings
// window's logo and report text, the report dialog's job description and, for a history
// report, the archive window's filtered table and chart. The main window fills it just before
// it asks for a report; tests fill it by hand. The builder never reaches into a window, so a
// report is made the same way with and without one.
//
// Texts are UTF-8 throughout.
#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyze.h"
#include "platform/base/datetime.h"
#include "platform/image/bitmap.h"

namespace archive {

// A report that cannot be made: the message says what is missing or what failed.
class EReportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The job description of the report dialog (and of an archive row).
struct TJobDesc {
  std::string JobID;
  std::string Plate;
  std::string User;
  std::string Info;
};

// The report dialog as the reports print it: the captions of its three labelled fields and
// the four texts.
struct ReportJob {
  std::string JobIDLabel = "Job ID:";
  std::string PlateLabel = "Plate:";
  std::string OperatorLabel = "Operator:";
  TJobDesc Job;
};

// The result panels, captions, values and edits of the main window that the reports copy,
// addressed by the control's name: a label's caption, an edit's text, and whether the control
// (a panel, or a page of a tab control) is shown. A report reads only the names it prints;
// asking for a name the snapshot lacks is an error that names it (see ReportControlNames).
class ReportControls {
 public:
  struct Control {
    std::string Text;
    bool Visible = true;
  };

  void Set(std::string_view name, std::string text, bool visible = true);
  void SetVisible(std::string_view name, bool visible);
  bool Has(std::string_view name) const;
  // Throws EReportError "The report context has no control <name>." for an unknown name.
  const std::string& Text(std::string_view name) const;
  bool Visible(std::string_view name) const;
  std::vector<std::string> Names() const;

 private:
  const Control& Get(std::string_view name) const;
  std::map<std::string, Control, std::less<>> controls_;
};

// Every control name a report may read; the main window snapshots these.
const std::vector<std::string_view>& ReportControlNames();

// A string grid of the main window: Cells[row][column], row titles in column 0.
struct ReportGrid {
  std::vector<std::vector<std::string>> Cells;
  int RowCount() const { return static_cast<int>(Cells.size()); }
  // The cell at column c, row r; empty outside the grid.
  const std::string& Cell(int c, int r) const;
};

// Where a measurement report's archive row goes: the four append operations of the archive
// window. The archive implements it; the report builder calls the one of the report's table
// after the file is written.
class ReportArchive {
 public:
  virtual ~ReportArchive() = default;
  virtual void AddLAMSMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                              const std::string& fn) = 0;
  virtual void AddPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                               const std::string& fn) = 0;
  virtual void AddSPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                                const std::string& fn) = 0;
  virtual void AddFILMMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                              const std::string& fn) = 0;
};

// The archive window's tab pages, each bound to one archive table.
enum class HistoryTab { MASK, PLATE, STRUCTURE, FILM, Other };

// What a history report prints of the archive window: its filter, its chart and the filtered
// table of the active tab, read record by record like the table component.
// (archive/report_history.h reads the rows from the archive table itself.)
class HistorySource {
 public:
  struct FilterLine {
    std::string Caption;
    std::string Value;
  };
  virtual ~HistorySource() = default;

  // The six filter lines as the window shows them: from date, to date, job, plate, operator,
  // algorithm (the dates already as the system's short date text).
  virtual std::vector<FilterLine> FilterLines() = 0;
  // The chart's size in pixels, and the chart painted into a bitmap of that size at (0, 0).
  virtual int ChartWidth() = 0;
  virtual int ChartHeight() = 0;
  virtual void PaintChart(platform::Bitmap& target) = 0;

  virtual HistoryTab ActiveTab() = 0;
  // The item index of the algorithm list (-1 when nothing is chosen).
  virtual int AlgItemIndex() = 0;

  // The filtered table of the active tab. FieldText gives the display text of a column of the
  // current record (empty when there is no current record) and throws when the table has no
  // such column.
  virtual void First() = 0;
  virtual bool Eof() = 0;
  // Around the walk over the rows: a table shown in a grid lets the grid follow only once
  // the walk is done (EndRows runs also when the report fails, and never throws).
  virtual void BeginRows() {}
  virtual void EndRows() noexcept {}
  virtual void Next() = 0;
  virtual std::string FieldText(std::string_view column) = 0;
};

struct ReportContext {
  // ---- the main window ----
  std::string HomeDir;  // the program folder, without a final separator
  std::string Sprache;  // the user-interface language
  std::string SerialNo;
  int Brand = 0;
  int BrandItemIndex = 0;  // BrandGrp's item index on the calibration page (-1: none)
  std::array<std::string, 5> Productnames{"QUIRVEL", "QUIRVEL", "QUIRVEL", "QUIRVEL", "QUIRVEL"};
  platform::Bitmap ibmp;          // the captured high-range image
  platform::Bitmap dbmp;          // the gray display image
  platform::Bitmap AnalyseImage;  // the analysis image with its overlay
  platform::Bitmap StripImage;    // the structure strip image
  std::vector<platform::Bitmap> LogoImgs;   // brand logos, 200 x 78
  std::vector<platform::Bitmap> MessIcons;  // 64 x 64, one per measurement type
  analysis::MType MESSTYPE = analysis::MT_NONE;
  double Maxsharp = 0;
  double ActSharp = 0;
  ReportControls Controls;
  ReportGrid MaskGrid, PlateGrid, StructGrid;
  // The localized measurement-type names, indexed like MType.
  std::array<std::string, analysis::MT_END + 1> mmodes{};
  // The language section MEASRESULT: MeasResult[k] is the text at offset k (0 is the section
  // line itself).
  std::vector<std::string> MeasResult;

  // ---- the current result and the statistic ----
  analysis::TMessung MyMess;
  std::vector<analysis::TMessung> StatMess;  // the entries in use (StatCount of them)

  // ---- analysis settings ----
  int SUnits = 0;
  int Digits = 2;
  double PixelperInch = 42701;

  // ---- the settings window ----
  platform::Bitmap LogoBmp;        // the report logo, 200 x 78
  std::vector<std::string> Memo1;  // the report header text, one entry per line

  // ---- the report dialog ----
  ReportJob Job;

  // ---- the archive window (history reports), borrowed ----
  HistorySource* History = nullptr;

  // MEASRESULT + offset; past the section's lines the text the language module gives for a
  // missing line (the line number followed by " not found").
  std::string MeasResultText(int offset) const;
};

// The report header text of the settings window as saved in PRLOGO.txt: UTF-8 after a
// byte-order mark, Windows-1252 without one; lines end with CR LF, LF or CR. A missing file
// gives no lines; a file that exists but cannot be read throws EReportError naming it.
std::vector<std::string> ReadReportText(const std::string& path);

}  // namespace archive
