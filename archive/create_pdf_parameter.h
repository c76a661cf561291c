#pragma once
// The report parameter dialog: job number, plate, operator and a comment, whether the finished
// PDF is opened, and the choice between a report (OK), nothing (Cancel) and storing the
// measurement in the archive without a report. The edits keep their texts from one use to the
// next, so the last job description is offered again; the report builder prints them and the
// archive stores them in every new row.
#include <QDialog>
#include <functional>
#include <string>
#include <string_view>

#include "archive/report_context.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace archive {

class TPDFParam : public QDialog {
  Q_OBJECT
 public:
  // The modal results of the three buttons.
  static constexpr int kOK = 1;
  static constexpr int kCancel = 2;
  static constexpr int kSaveToDB = 6;

  explicit TPDFParam(QWidget* parent = nullptr);

  // The four edits as the archive stores them and the reports print them.
  TJobDesc Job() const;
  // The labels' captions as the reports print them, with the job.
  ReportJob ReportJobData() const;

  // Label and box texts from the language section FRMREPORT (the line after the section plus
  // the offset); nothing changes without a language.
  void SetLanguage();
  std::function<std::string(std::string_view section, int offset)> LanguageLine;

  QLabel* JobIDLabel = nullptr;
  QLineEdit* JobIDEdit = nullptr;
  QLabel* PlateLabel = nullptr;
  QLineEdit* PlateEdit = nullptr;
  QLabel* OperatorLabel = nullptr;
  QLineEdit* OperatorEdit = nullptr;
  QLabel* CommentLabel = nullptr;
  QLineEdit* CommentEdit = nullptr;
  QCheckBox* ShowPDFbx = nullptr;
  QPushButton* Cancelbtn = nullptr;
  QPushButton* OKbtn = nullptr;
  QPushButton* SaveToDBbtn = nullptr;

 protected:
  // FormActivate: the language's texts, then the keyboard goes to the job edit.
  void showEvent(QShowEvent* event) override;
  // No button is the cancel button: Escape does not close the dialog.
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace archive
