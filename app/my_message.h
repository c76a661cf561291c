#pragma once
// The borderless message window shown while a scheduled export runs: one word-wrapped label.
#include <QWidget>

class QLabel;

namespace app {

class TMyMessageFrm : public QWidget {
  Q_OBJECT
 public:
  explicit TMyMessageFrm(QWidget* parent = nullptr);
  QLabel* Label1 = nullptr;
};

}  // namespace app
