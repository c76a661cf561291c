#pragma once
// The main window as the report builder sees it: a snapshot of its results, images,
// statistic and calibration page, of the settings window's logo and report text and of the
// report dialog's job description, taken when a report is asked for.
#include <string>

#include "archive/cal_rep.h"
#include "archive/report_context.h"

namespace archive {
class TPDFParam;
}

namespace app {

class THRMainFrm;
class TFrmSettings;

class MainWindowReportSource : public archive::ReportContextSource {
 public:
  // The windows are borrowed; settings and dialog may be null (no logo, no job description).
  MainWindowReportSource(THRMainFrm& main, TFrmSettings* settings, archive::TPDFParam* dialog)
      : main_(main), settings_(settings), dialog_(dialog) {}

  archive::ReportContext MakeReportContext() override;
  void SetSerialEdit(const std::string& text) override;

 private:
  THRMainFrm& main_;
  TFrmSettings* settings_;
  archive::TPDFParam* dialog_;
};

}  // namespace app
