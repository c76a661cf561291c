#pragma once
// The help window, which shows the manual. Its command (menu Help, Help) comes with the menu
// commands of the main window; until then the window exists without content.
#include <QWidget>

namespace app {

class TFrmHelp : public QWidget {
  Q_OBJECT
 public:
  explicit TFrmHelp(QWidget* parent = nullptr);
};

}  // namespace app
