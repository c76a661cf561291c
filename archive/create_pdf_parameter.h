#pragma once
// The report parameter dialog (job, plate, operator, comment). Its fields and buttons come
// with the report builder; until then the dialog holds the "show the PDF" box.
#include <QDialog>

class QCheckBox;

namespace archive {

class TPDFParam : public QDialog {
  Q_OBJECT
 public:
  explicit TPDFParam(QWidget* parent = nullptr);
  QCheckBox* ShowPDFbx = nullptr;
};

}  // namespace archive
