#include "archive/create_pdf_parameter.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace archive {

TPDFParam::TPDFParam(QWidget* parent) : QDialog(parent) {
  setObjectName("PDFParam");
  setWindowTitle("Report");
  auto* layout = new QVBoxLayout(this);
  ShowPDFbx = new QCheckBox("Show PDF", this);
  ShowPDFbx->setObjectName("ShowPDFbx");
  layout->addWidget(ShowPDFbx);
}

}  // namespace archive
