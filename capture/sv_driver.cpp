#include "capture/sv_driver.h"

namespace capture {

TSVDriverFrm::TSVDriverFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("SVDriverFrm");
  setWindowTitle("Select QUIRVEL Video Driver");
  setFixedSize(345, 153);
}

}  // namespace capture
