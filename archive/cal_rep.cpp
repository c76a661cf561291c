#include "archive/cal_rep.h"

namespace archive {

TCalRepFrm::TCalRepFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("CalRepFrm");
  setWindowTitle("Report");
}

std::string TCalRepFrm::CreatePDF(int Index, bool Show) {
  if (!Source) throw EReportError("The report builder has no main window to report on.");
  ReportContext ctx = Source->MakeReportContext();
  ctx.History = History;
  const std::string fn = Rep.CreatePDF(ctx, Index, Show);
  if (Index == rkCalibration) Source->SetSerialEdit(ctx.Controls.Text("SerialEdit"));
  return fn;
}

}  // namespace archive
