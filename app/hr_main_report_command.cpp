// The report command of the menu panel and the statistics reports of the statistic tabs: the
// report parameter dialog, then a PDF report with its archive row, or the archive row alone.
// The layout of the reports and the rows are the report builder's and the archive's; the
// window only chooses the kind from the page and hands over.
#include <QCheckBox>
#include <QTabWidget>
#include <QToolButton>
#include <stdexcept>

#include "app/hr_main.h"
#include "app/report_access.h"
#include "archive/cal_rep_builder.h"
#include "archive/create_pdf_parameter.h"
#include "archive/report_context.h"
#include "platform/base/clock.h"

namespace app {

namespace {

using platform::ui::ModalResult;

// The report parameter dialog as a modal window of the UI services. Its buttons end it with 1
// (report and archive row), 2 (cancel) or 6 (archive row only).
class PDFParamWindow : public platform::ui::ModalWindow {
 public:
  explicit PDFParamWindow(archive::TPDFParam& dialog) : dialog_(dialog) {}
  ModalResult ExecModal() override { return static_cast<ModalResult>(dialog_.exec()); }
  std::string ModalName() const override { return "TPDFParam"; }

 private:
  archive::TPDFParam& dialog_;
};

// The dialog's answer for "store in the archive only".
constexpr ModalResult kArchiveOnly = ModalResult::Yes;

}  // namespace

ReportAccess& THRMainFrm::Reports() const {
  if (!links_.Reports) throw std::runtime_error("No report builder is available: no report was written.");
  return *links_.Reports;
}

archive::ReportArchive& THRMainFrm::Rows() const {
  if (!links_.Rows) {
    throw std::runtime_error("The measurement archive's tables are not available: the measurement was not stored.");
  }
  return *links_.Rows;
}

ModalResult THRMainFrm::AskReportParameters() {
  if (!links_.PDFParam) throw std::runtime_error("The report parameter dialog is missing: no report was written.");
  archive::TPDFParam& dialog = *links_.PDFParam;
  dialog.ShowPDFbx->setChecked(Ini().ReadInt(ini::SHOWPDF) == 1);
  PDFParamWindow window(dialog);
  const ModalResult result = platform::ui::Services().ShowModal(window);
  if (result == ModalResult::Ok) WriteIni(ini::kMain, ini::SHOWPDF.key, dialog.ShowPDFbx->isChecked() ? "1" : "0");
  return result;
}

void THRMainFrm::ReportbtnClick() {
  SetDisplayBarPosition();
  const ModalResult result = AskReportParameters();
  // The camera and calibration pages have neither a report nor an archive table.
  ini::Page page{};
  if (!ActiveAnalysisPage(page)) {
    // OK has written the box's state; nothing more happens.
    return;
  }
  if (result == ModalResult::Ok) {
    // Kinds 1 to 4 follow the pages' order.
    Reports().CreatePDF(archive::rkLAMS + static_cast<int>(page), links_.PDFParam->ShowPDFbx->isChecked());
  } else if (result == kArchiveOnly) {
    archive::ReportArchive& rows = Rows();
    const platform::TDateTime now = platform::GetClock().Now();
    const analysis::TMessung& mess = HRMain().MyMess;
    switch (page) {
      case ini::Page::LAMS: rows.AddLAMSMessung(now, *st.ibmp, mess, ""); break;
      case ini::Page::PLATE: rows.AddPLATEMessung(now, *st.ibmp, mess, ""); break;
      case ini::Page::STRUCT: rows.AddSPLATEMessung(now, *st.ibmp, mess, ""); break;
      case ini::Page::FILM: rows.AddFILMMessung(now, *st.ibmp, mess, ""); break;
    }
  }
}

void THRMainFrm::StatisticReport(int kind, QToolButton* plus) {
  // A statistics report ends the collection; the report and a later request show the mean
  // as the current result.
  st.StatActive = false;
  plus->setChecked(false);
  HRMainModule& m = HRMain();
  m.MyMess = m.av;
  m.LastEntryIsMyMess = false;
  if (AskReportParameters() != ModalResult::Ok) return;
  Reports().CreatePDF(kind, links_.PDFParam->ShowPDFbx->isChecked());
}

}  // namespace app
