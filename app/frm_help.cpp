#include "app/frm_help.h"

namespace app {

TFrmHelp::TFrmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("FrmHelp");
  setWindowTitle("Help");
  resize(800, 900);
}

}  // namespace app
