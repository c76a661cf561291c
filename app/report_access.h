#pragma once
// What the main window's report and archive commands ask of the report builder and of the
// archive window: a PDF report of one kind made from the window's state as it is, and one
// archive row appended without a report. The program registers the implementations; tests
// put doubles in their place. A command that finds no implementation says what is missing
// and writes nothing.
#include <string>

#include "analysis/analyze.h"
#include "platform/base/datetime.h"
#include "platform/image/bitmap.h"

namespace app {

// Report kinds: 0 the calibration certificate; 1 to 4 a LAMS mask, plate, structure or film
// measurement; 5 to 7 the LAMS mask, plate or structure statistic.
enum ReportKind : int {
  kReportCalibration = 0,
  kReportLAMS = 1,
  kReportPlate = 2,
  kReportStructure = 3,
  kReportFilm = 4,
  kReportLAMSStat = 5,
  kReportPlateStat = 6,
  kReportStructStat = 7,
};

class ReportAccess {
 public:
  virtual ~ReportAccess() = default;
  // Writes report kind Index from the main window's current result, images and the report
  // dialog's job data; kinds 1 to 7 also append their archive row. Show opens the finished
  // file. Returns the file's path; errors are thrown to the caller.
  virtual std::string CreatePDF(int Index, bool Show) = 0;
};

// The archive window's row-append operations of the tables MASK, PLATE, SPLATE and FILM:
// the date-time, the high-range image, the measurement and the report's path (empty when no
// report was written), with the job data of the report dialog. Errors are thrown.
class ArchiveRows {
 public:
  virtual ~ArchiveRows() = default;
  virtual void AddLAMSMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                              const std::string& fn) = 0;
  virtual void AddPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp,
                               const analysis::TMessung& aMess, const std::string& fn) = 0;
  virtual void AddSPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp,
                                const analysis::TMessung& aMess, const std::string& fn) = 0;
  virtual void AddFILMMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                              const std::string& fn) = 0;
};

}  // namespace app
