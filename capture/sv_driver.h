#pragma once
// The camera driver chooser. Its device tests come with the capture control; until then the
// window holds its choice.
#include <QDialog>
#include <cstdint>

namespace capture {

class TSVDriverFrm : public QDialog {
  Q_OBJECT
 public:
  explicit TSVDriverFrm(QWidget* parent = nullptr);
  // 0 first device, 1 second device, -1 undecided.
  int32_t selected = -1;
};

}  // namespace capture
