#pragma once
// The report builder's form: it is never shown, it holds the builder (archive/cal_rep_builder.h)
// and the approval stamp, and it takes each report's context from the main window.
#include <QWidget>
#include <string>

#include "archive/cal_rep_builder.h"
#include "archive/report_context.h"

namespace archive {

// What the report builder asks of the main window: a snapshot of its state, and where the
// certificate's padded serial number goes back to.
class ReportContextSource {
 public:
  virtual ~ReportContextSource() = default;
  virtual ReportContext MakeReportContext() = 0;
  virtual void SetSerialEdit(const std::string& text) = 0;
};

class TCalRepFrm : public QWidget {
  Q_OBJECT
 public:
  explicit TCalRepFrm(QWidget* parent = nullptr);

  // The builder with its clock, viewer, archive and stamp.
  TCalRep Rep;
  // The main window (borrowed); set by the program block.
  ReportContextSource* Source = nullptr;
  // The archive window's filtered table and chart for history reports (borrowed).
  HistorySource* History = nullptr;

  // Makes report kind Index from the main window's state as it is now (see TCalRep::CreatePDF)
  // and returns the file's path. Throws EReportError when no main window is attached.
  std::string CreatePDF(int Index, bool Show);
};

}  // namespace archive
