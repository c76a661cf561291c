#pragma once
// The device-profile chooser: a list of the profiles found in the home folder and two buttons.
#include <QDialog>
#include <string>
#include <vector>

#include "platform/ui/ui_services.h"

class QListWidget;
class QPushButton;

namespace app {

class TFrmConnect : public QDialog, public platform::ui::ModalWindow {
  Q_OBJECT
 public:
  explicit TFrmConnect(QWidget* parent = nullptr);

  // Every activation: the caption is the language text MAINMENU + 22.
  void FormActivate();

  void SetNames(const std::vector<std::string>& names);
  int Count() const;
  // The selected line, or "" when none is selected.
  std::string SelectedName() const;
  void Select(int row);

  platform::ui::ModalResult ExecModal() override;
  std::string ModalName() const override { return "TFrmConnect"; }

  QListWidget* FileList = nullptr;
  QPushButton* exitbtn = nullptr;
  QPushButton* MainCancelbtn = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace app
