#include "archive/cal_rep.h"

namespace archive {

TCalRepFrm::TCalRepFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("CalRepFrm");
  setWindowTitle("Report");
}

}  // namespace archive
