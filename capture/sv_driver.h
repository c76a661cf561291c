#pragma once
// The camera driver chooser: when the live-preview start finds two microscope cameras, it
// tries both in two small capture controls of its own. If exactly one works it decides alone;
// if both or neither work, it is shown modally with the two live pictures and the operator
// clicks the one to use. The caller creates it for one choice and frees it afterwards.
#include <QDialog>
#include <cstdint>
#include <string>

#include "platform/ui/ui_services.h"

namespace capture {

class TVideoCapture;

class TSVDriverFrm : public QDialog, public platform::ui::ModalWindow {
  Q_OBJECT
 public:
  explicit TSVDriverFrm(QWidget* parent = nullptr);
  ~TSVDriverFrm() override;

  // Tests both devices (names as listed) and sets `selected`.
  void StartPreview(const std::string& s1, const std::string& s2);
  void VCap1Click();
  void VCap2Click();

  platform::ui::ModalResult ExecModal() override;
  std::string ModalName() const override { return "TSVDriverFrm"; }

  TVideoCapture* VCap1 = nullptr;
  TVideoCapture* VCap2 = nullptr;
  // 0 first device, 1 second device, -1 undecided.
  int32_t selected = -1;
};

}  // namespace capture
