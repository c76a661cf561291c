#include "archive/create_pdf_parameter.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace archive {

TPDFParam::TPDFParam(QWidget* parent) : QDialog(parent) {
  setObjectName("PDFParam");
  setWindowTitle("TANDORIX Create Report");
  resize(550, 334);
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  auto field = [&](QLabel*& label, QLineEdit*& edit, const char* name, const char* caption, int row) {
    label = new QLabel(caption, this);
    label->setObjectName(QString(name) + "Label");
    edit = new QLineEdit(this);
    edit->setObjectName(QString(name) + "Edit");
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
  };
  field(JobIDLabel, JobIDEdit, "JobID", "Job ID:", 0);
  field(PlateLabel, PlateEdit, "Plate", "Plate:", 1);
  field(OperatorLabel, OperatorEdit, "Operator", "Operator:", 2);
  layout->addLayout(grid);
  CommentLabel = new QLabel("Comment:", this);
  CommentLabel->setObjectName("CommentLabel");
  CommentEdit = new QLineEdit(this);
  CommentEdit->setObjectName("CommentEdit");
  layout->addWidget(CommentLabel);
  layout->addWidget(CommentEdit);
  layout->addStretch();

  auto* bottom = new QHBoxLayout;
  ShowPDFbx = new QCheckBox("Show PDF", this);
  ShowPDFbx->setObjectName("ShowPDFbx");
  bottom->addWidget(ShowPDFbx);
  bottom->addStretch();
  // Cancel, OK, store: side by side at the bottom right, pictures without captions.
  auto button = [&](const char* name, QStyle::StandardPixmap icon, const char* tip, int result) {
    auto* b = new QPushButton(this);
    b->setObjectName(name);
    b->setIcon(style()->standardIcon(icon));
    b->setToolTip(tip);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, result] { done(result); });
    bottom->addWidget(b);
    return b;
  };
  Cancelbtn = button("Cancelbtn", QStyle::SP_DialogCancelButton, "Cancel", kCancel);
  OKbtn = button("OKbtn", QStyle::SP_DialogOkButton, "Report", kOK);
  SaveToDBbtn = button("SaveToDBbtn", QStyle::SP_DialogSaveButton, "Store in the archive without a report", kSaveToDB);
  OKbtn->setDefault(true);
  layout->addLayout(bottom);

  setTabOrder(JobIDEdit, PlateEdit);
  setTabOrder(PlateEdit, OperatorEdit);
  setTabOrder(OperatorEdit, CommentEdit);
  setTabOrder(CommentEdit, OKbtn);
  setTabOrder(OKbtn, Cancelbtn);
  setTabOrder(Cancelbtn, ShowPDFbx);
  setTabOrder(ShowPDFbx, SaveToDBbtn);
}

TJobDesc TPDFParam::Job() const {
  return {JobIDEdit->text().toStdString(), PlateEdit->text().toStdString(), OperatorEdit->text().toStdString(),
          CommentEdit->text().toStdString()};
}

ReportJob TPDFParam::ReportJobData() const {
  ReportJob j;
  j.JobIDLabel = JobIDLabel->text().toStdString();
  j.PlateLabel = PlateLabel->text().toStdString();
  j.OperatorLabel = OperatorLabel->text().toStdString();
  j.Job = Job();
  return j;
}

void TPDFParam::SetLanguage() {
  if (!LanguageLine) return;
  auto text = [this](int offset) { return QString::fromStdString(LanguageLine("FRMREPORT", offset)); };
  JobIDLabel->setText(text(1));
  PlateLabel->setText(text(2));
  OperatorLabel->setText(text(3));
  CommentLabel->setText(text(7));
  ShowPDFbx->setText(text(8));
}

void TPDFParam::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  SetLanguage();
  JobIDEdit->setFocus();
}

void TPDFParam::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  // Enter in any edit chooses OK, the default button.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    done(kOK);
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace archive
