#pragma once
// The report builder: every PDF report of the program is made here from a report context
// (archive/report_context.h), without a window.
//
//   kind 0      calibration certificate      CALReports/<serial>_QUIRVEL_<stamp>.pdf
//   kinds 1..4  single measurement           Reports/QUIRVEL_<stamp>.pdf, then an archive row
//   kinds 5..7  statistics                   Reports/QUIRVEL_<stamp>.pdf, then an archive row
//   kind 10     archive history              PLOTReports/QUIRVEL_<stamp>.pdf
//
// <stamp> is YYYYMMDD_HHNNSS of one clock reading that also becomes the printed date and the
// archive row's date-time. A second report in the same second gets "_2" (then "_3", ...)
// before ".pdf" instead of replacing the first.
#include <functional>
#include <string>
#include <string_view>

#include "archive/report_context.h"
#include "pdfwriter/mrvx_doc.h"
#include "platform/base/clock.h"
#include "platform/image/bitmap.h"

namespace archive {

enum TReportKind : int {
  rkCalibration = 0,
  rkLAMS = 1,
  rkPlate = 2,
  rkStructure = 3,
  rkFilm = 4,
  rkLAMSStat = 5,
  rkPlateStat = 6,
  rkStructStat = 7,
  rkHistory = 10,
};

// The two texts made of a report's time stamp: "YYYYMMDD_HHNNSS" for the file name and
// "DD.MM.YYYY-HH:NN:SS" for the printed date.
std::string ReportFileStamp(platform::TDateTime dt);
std::string ReportDateText(platform::TDateTime dt);

// The approval stamp of a calibration certificate (270 x 170).
platform::Bitmap MakeApprovalStamp();

class TCalRep {
 public:
  TCalRep();

  // Where the time stamp and the document's dates come from (the process clock when null).
  platform::Clock* Clock = nullptr;
  // Opens a written report in the desktop's viewer; null opens nothing.
  pdfwriter::TMorvex::TLauncher Launcher;
  // Where measurement reports append their row (borrowed). Without one, a measurement report
  // is refused before anything is written.
  ReportArchive* Archive = nullptr;
  // Whether a font family is installed (the font provider by default).
  std::function<bool(std::string_view)> FontInstalled;
  // The approval stamp of the calibration certificate.
  platform::Bitmap Image1;

  // The report font family, set at the start of every report.
  std::string JPFontName;
  // The printed date of the last report.
  std::string sdr;

  // Builds report kind Index, opens it in the viewer when Show is set (a certificate always),
  // and for kinds 1 to 7 appends the measurement's archive row. Returns the file's full path.
  // The certificate writes the padded serial number back into the context's SerialEdit.
  // Throws EReportError for a kind that does not exist or a missing archive or history, and
  // passes on the PDF writer's errors; a report that fails leaves no file and no row.
  std::string CreatePDF(ReportContext& ctx, int Index, bool Show);

  // Lays out and writes one report under fn.
  void CreateJPPDF(const ReportContext& ctx, const std::string& fn, int Index, bool Show);

  // "Arial Unicode MS" when installed; for a Japanese user interface without it "Meiryo" when
  // installed, otherwise "Arial" after a hint to install the Unicode font.
  void SetRepFont(const std::string& Sprache);
};

}  // namespace archive
