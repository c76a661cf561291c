#include "capture/sv_driver.h"

#include "capture/vcap.h"

namespace capture {

namespace {

// Sky blue behind an empty picture.
constexpr uint32_t kSkyBlue = 0xA6CAF0;  // RGB

TVideoCapture* SmallControl(QWidget* parent, const char* name, int x) {
  auto* cap = new TVideoCapture(parent);
  cap->setObjectName(name);
  cap->setGeometry(x, 8, 160, 128);
  cap->SetColor(kSkyBlue);
  // Stored like the camera window's control, but without a frame rate of its own.
  cap->SetUseFrameRate(false);
  cap->SetWantBitmaps(true);
  cap->SetUseTempFile(false);
  cap->SetUseTimeLimit(false);
  cap->SetDoPreallocFile(false);
  cap->SetTimeLimit(0);
  cap->SetPreallocFileSize(1);
  cap->SetDVResolution(dvrDontWorry);
  return cap;
}

// Binds `s` to `cap` without a preview window and runs its graph once; when that works, binds
// it again with the live picture. The chooser's controls never capture to a file or record
// sound.
bool TryDevice(TVideoCapture& cap, TGraphConfig& config, const std::string& s) {
  cap.SaveGraph(&config);
  config.VCapSource = s;
  config.ACapSource = s;
  config.WantAudio = false;
  config.WantAudioPreview = false;
  config.WantCapture = false;
  config.WantDVAudio = false;
  config.WantPreview = false;
  config.WantBitmaps = true;
  cap.RestoreGraph(&config);
  if (!cap.TestPreview()) return false;
  config.WantPreview = true;
  cap.RestoreGraph(&config);
  return true;
}

}  // namespace

TSVDriverFrm::TSVDriverFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("SVDriverFrm");
  setWindowTitle("Select QUIRVEL Video Driver");
  setFixedSize(345, 153);
  VCap1 = SmallControl(this, "VCap1", 8);
  VCap2 = SmallControl(this, "VCap2", 174);
  VCap1->OnClick = [this](TVideoCapture*) { VCap1Click(); };
  VCap2->OnClick = [this](TVideoCapture*) { VCap2Click(); };
}

TSVDriverFrm::~TSVDriverFrm() {
  // The controls stop their devices before the window goes.
  delete VCap1;
  delete VCap2;
}

void TSVDriverFrm::StartPreview(const std::string& s1, const std::string& s2) {
  TGraphConfig first, second;
  selected = -1;
  if (TryDevice(*VCap1, first, s1)) selected = 0;
  if (TryDevice(*VCap2, second, s2)) selected = selected == -1 ? 1 : -1;
}

void TSVDriverFrm::VCap1Click() {
  selected = 0;
  close();
}

void TSVDriverFrm::VCap2Click() {
  selected = 1;
  close();
}

platform::ui::ModalResult TSVDriverFrm::ExecModal() {
  exec();
  return selected >= 0 ? platform::ui::ModalResult::Ok : platform::ui::ModalResult::Cancel;
}

}  // namespace capture
