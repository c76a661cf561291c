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
  const QWidget* page = Analyzepages->currentWidget();
  if (result == ModalResult::Ok) {
    int kind = -1;
    if (page == LAMS) {
      kind = archive::rkLAMS;
    } else if (page == Plate) {
      kind = archive::rkPlate;
    } else if (page == STRUCTURE) {
      kind = archive::rkStructure;
    } else if (page == FILM) {
      kind = archive::rkFilm;
    }
    // The camera and calibration pages have no report of their own.
    if (kind < 0) return;
    Reports().CreatePDF(kind, links_.PDFParam->ShowPDFbx->isChecked());
  } else if (result == kArchiveOnly) {
    if (page != LAMS && page != Plate && page != STRUCTURE && page != FILM) return;
    archive::ReportArchive& rows = Rows();
    const platform::TDateTime now = platform::GetClock().Now();
    const analysis::TMessung& mess = HRMain().MyMess;
    if (page == LAMS) {
      rows.AddLAMSMessung(now, *st.ibmp, mess, "");
    } else if (page == Plate) {
      rows.AddPLATEMessung(now, *st.ibmp, mess, "");
    } else if (page == STRUCTURE) {
      rows.AddSPLATEMessung(now, *st.ibmp, mess, "");
    } else {
      rows.AddFILMMessung(now, *st.ibmp, mess, "");
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
