#pragma once
// A report context as the main window would give it after a measurement, doubles for the
// archive and the archive window's history, and the outside PDF tools the report tests take
// as ground truth.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "archive/cal_rep_builder.h"
#include "archive/report_context.h"

namespace orv {
class TORVTable;
}

namespace archive {
class THRDBData;
}

namespace archive::testing {

// A scratch folder removed with the object (the program folder of a test).
class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Every control the reports read, with English captions and plausible values, all visible;
// images of the program's sizes with recognisable content; the English language texts; a
// statistic of `stat_count` plate measurements.
ReportContext MakeContext(const std::string& home, int stat_count = 5);

// Pictures with a known look: a 200 x 78 logo, a 64 x 64 icon, a 1280 x 1024 halftone.
platform::Bitmap MakeLogo(int variant);
platform::Bitmap MakeIcon(int type);
platform::Bitmap MakeHalftone();

// Records the rows a report appends; never stores anything.
class RecordingArchive : public ReportArchive {
 public:
  struct Call {
    std::string table;
    platform::TDateTime DT = 0;
    int width = 0, height = 0;
    analysis::TMessung mess;
    std::string fn;
  };
  void AddLAMSMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                      const std::string& fn) override {
    Record("MASK", DT, abmp, aMess, fn);
  }
  void AddPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                       const std::string& fn) override {
    Record("PLATE", DT, abmp, aMess, fn);
  }
  void AddSPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                        const std::string& fn) override {
    Record("SPLATE", DT, abmp, aMess, fn);
  }
  void AddFILMMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                      const std::string& fn) override {
    Record("FILM", DT, abmp, aMess, fn);
  }
  std::vector<Call> calls;

 private:
  void Record(const char* table, platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& m,
              const std::string& fn) {
    calls.push_back({table, DT, abmp.Width(), abmp.Height(), m, fn});
  }
};

// The archive window's filtered table as rows of column texts, its filter and a chart.
class TableHistory : public HistorySource {
 public:
  using Row = std::map<std::string, std::string, std::less<>>;
  HistoryTab tab = HistoryTab::MASK;
  int item = 0;
  std::vector<Row> rows;
  std::vector<FilterLine> filter = {{"From", "01.01.2017"}, {"To", "10.12.2026"}, {"Job ID", "%"},
                                    {"Plate", "%"},          {"Operator", "%"},    {"Algorithm", "Mask pixel pattern"}};

  std::vector<FilterLine> FilterLines() override { return filter; }
  int ChartWidth() override { return 800; }
  int ChartHeight() override { return 400; }
  void PaintChart(platform::Bitmap& target) override;
  HistoryTab ActiveTab() override { return tab; }
  int AlgItemIndex() override { return item; }
  void First() override { pos_ = 0; }
  bool Eof() override { return pos_ >= rows.size(); }
  void Next() override { ++pos_; }
  std::string FieldText(std::string_view column) override;

 private:
  size_t pos_ = 0;
};

// `count` MASK rows of pixel-pattern measurements, one a minute from 13.06.2024 08:00.
std::vector<TableHistory::Row> MaskRows(int count);

// Stores `count` pixel-pattern results as MASK rows of an archive, a minute apart from
// 13.06.2024 08:00 (12.30 %, 40.00 L/cm, 45.00°, diameter 25.40 µm, deviation 2.54 µm,
// tolerance 10), and a second after every tenth of them a dot-area row of 77.00 %; then sets
// the archive window's filter for the pixel patterns on MASK and returns the table.
orv::TORVTable& StoreMaskHistory(THRDBData& data, int count);

// The outside tools' view of one PDF file, each tool run once.
struct PdfFacts {
  explicit PdfFacts(const std::string& pdf);
  int qpdf_exit = -1;
  std::string qpdf;
  std::string info;     // pdfinfo
  std::string fonts;    // pdffonts
  std::string images;   // pdfimages -list
  std::string layout;   // pdftotext -layout
  std::string bbox;     // pdftotext -bbox
  std::string content;  // the page contents, uncompressed (qpdf --qdf)

  struct Word {
    std::string text;
    double xMin, yMin, xMax, yMax;
    int page;
  };
  std::vector<Word> Words() const;
  // The image lines of pdfimages -list as "width x height".
  std::vector<std::string> ImageSizes() const;
  int Pages() const;
};

// Copies a report into test-output/reports/ under `name` and renders its first `pages` pages
// beside it as PNG.
void KeepSample(const std::string& pdf, const std::string& name, int pages = 1);

std::string ReadBytes(const std::string& path);

}  // namespace archive::testing
