#pragma once
// What the main window's report commands ask of the report builder: a PDF report of one kind
// made from the window's state as it is. The program hands over the report builder's form;
// tests put a double in its place. The archive rows of the "archive only" answer go through
// the report builder's archive interface (archive::ReportArchive) directly. A command that
// finds neither says what is missing and writes nothing.
#include <string>

namespace archive {
class TCalRepFrm;
}

namespace app {

class ReportAccess {
 public:
  virtual ~ReportAccess() = default;
  // Writes report kind Index (archive::TReportKind) from the main window's current result,
  // images and the report dialog's job data; kinds 1 to 7 also append their archive row. Show
  // opens the finished file. Returns the file's path; errors are thrown to the caller.
  virtual std::string CreatePDF(int Index, bool Show) = 0;
};

// The report builder's form as ReportAccess.
class CalRepReports : public ReportAccess {
 public:
  explicit CalRepReports(archive::TCalRepFrm& frm) : frm_(frm) {}
  std::string CreatePDF(int Index, bool Show) override;

 private:
  archive::TCalRepFrm& frm_;
};

}  // namespace app
