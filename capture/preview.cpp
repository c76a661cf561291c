#include "capture/preview.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "analysis/myimage_series.h"
#include "capture/sv_driver.h"
#include "platform/base/clock.h"
#include "platform/image/canvas.h"
#include "platform/ui/ui_services.h"
#include "platform/video/ocuvant.h"

namespace capture {

using namespace platform::video;

int32_t GGain = 80;

TPreviewModule& PreviewModule() {
  static TPreviewModule module;
  return module;
}

namespace {

// What the window looks for in a device's listed name (case-sensitive).
constexpr const char* kCameraName = "Ocuvant USB-C";

// Gauge colours as 0x00BBGGRR: pale green while a series runs, sky blue while it is combined.
constexpr uint32_t kGaugeSeries = 0xC0DCC0;
constexpr uint32_t kGaugeCombine = 0xF0CAA6;

constexpr const char* kShutterNames[NIMG] = {"1/2",   "1/4",   "2/15",  "1/15",   "1/20",   "1/30",   "1/50",
                                             "1/60",  "1/100", "1/120", "1/200",  "1/250",  "1/500",  "1/750",
                                             "1/1000", "1/2000", "1/3000", "1/4000", "1/5000"};

bool IsCamera(const std::string& name) { return name.find(kCameraName) != std::string::npos; }

// The main window's part when the window has none (a test of the camera alone, or a window
// whose main window is gone): frames are dropped, a series is combined into a bitmap of its
// own, and messages use the English texts.
class TDetachedHost : public TPreviewHost {
 public:
  void PreviewImage(platform::Bitmap&) override {}
  platform::Bitmap& CapturedImage() override { return image_; }
  void SetCaptureRange(uint32_t, uint32_t, uint32_t) override {}
  void CaptureFinish() override {}
  void ClearLog() override {}
  void AppendLog(const std::string&) override {}
  void SetGauge(int32_t) override {}
  void SetGaugeColor(uint32_t) override {}
  int32_t GainBarPosition() override { return GGain; }
  std::string MessageText(int32_t offset) override {
    switch (offset) {
      case 1: return "No camera found.\rPlease connect the microscope camera.";
      case 2: return "The camera driver offers no camera controls.\rShutter and gain cannot be set.";
      case 4: return "The camera was disconnected.";
      default: return std::to_string(offset) + " not found";
    }
  }

 private:
  platform::Bitmap image_;
};

// The hourglass while the window waits on its own.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// Serves the window system for `ms` milliseconds of the process clock.
void PumpMessages(uint32_t ms) {
  const uint32_t start = platform::GetTickCount();
  while (platform::GetTickCount() - start < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    platform::Sleep(5);
  }
}

// While installed, takes every request to close a window or to quit the program, so that a
// wait can answer it by closing the camera window instead.
class CloseRequestFilter : public QObject {
 public:
  explicit CloseRequestFilter(const bool& passThrough) : passThrough_(passThrough) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~CloseRequestFilter() override { QCoreApplication::instance()->removeEventFilter(this); }
  bool requested = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (passThrough_) return QObject::eventFilter(watched, event);
    const bool close = event->type() == QEvent::Close && watched->isWidgetType();
    if (close || event->type() == QEvent::Quit) {
      requested = true;
      event->ignore();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  const bool& passThrough_;
};

QLabel* Caption(QWidget* parent, const char* text, int x, int y) {
  auto* l = new QLabel(text, parent);
  l->move(x, y);
  return l;
}

template <typename W>
W* Place(W* w, const char* name, int x, int y, int width, int height) {
  w->setObjectName(name);
  w->setGeometry(x, y, width, height);
  return w;
}

}  // namespace

double FrameRateForShutter(int32_t shutter) {
  switch (shutter) {
    case ssc2: return 2;
    case ssc4: return 4;
    case ssc7_5: return 7;  // the camera's 7.5 is set as 7
    default: return MAXFRAMERATE;
  }
}

std::string ShutterText(int32_t shutter) {
  if (shutter < 0 || shutter >= NIMG) return {};
  return std::string("    ") + kShutterNames[shutter] + " second";
}

// ---- creation ----

TFrmPreview::TFrmPreview(QWidget* parent) : QWidget(parent, Qt::Window) {
  PreviewModule().FrmPreview = this;
  CreateControls();
  FormCreate();
}

TFrmPreview::~TFrmPreview() {
  // The control goes first, while the handlers it calls still have their window.
  gCap->OnBitmapGrabbed = nullptr;
  gCap->OnDeviceLost = nullptr;
  delete gCap;
  gCap = nullptr;
  FormDestroy();
  if (PreviewModule().FrmPreview == this) PreviewModule().FrmPreview = nullptr;
}

void TFrmPreview::CreateControls() {
  setObjectName("FrmPreview");
  setWindowTitle("Camera Settings");
  // A fixed border with minimise and maximise buttons only: the window is hidden with OK.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint);
  resize(962, 705);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedHeight(153);
  layout->addWidget(Panel1);
  Caption(Panel1, "Video Source:", 8, 4);
  DriverList = Place(new QListWidget(Panel1), "DriverList", 8, 22, 300, 122);
  Caption(Panel1, "Image Resolution", 316, 4);
  RVList = Place(new QListWidget(Panel1), "RVList", 316, 22, 200, 122);
  Caption(Panel1, "Shutter", 526, 4);
  ShutterCombo = Place(new QComboBox(Panel1), "ShutterCombo", 526, 22, 150, 24);
  for (int32_t i = 0; i < NIMG; ++i) ShutterCombo->addItem(QString::fromStdString(ShutterText(i)));
  // The list opens on the entry it shows, so that Apply never sends "no entry" as a shutter.
  ShutterCombo->setCurrentIndex(ssc30);
  Caption(Panel1, "Gain", 526, 54);
  GainEdit = Place(new QSpinBox(Panel1), "GainEdit", 526, 72, 80, 24);
  GainEdit->setRange(0, 127);
  GainEdit->setValue(32);
  Mirror = Place(new QCheckBox("Mirror", Panel1), "Mirror", 690, 22, 100, 22);
  Flip = Place(new QCheckBox("Flip", Panel1), "Flip", 690, 48, 100, 22);
  Refreshbtn = Place(new QPushButton("Refresh", Panel1), "Refreshbtn", 690, 80, 80, 26);
  Applybtn = Place(new QPushButton("Apply", Panel1), "Applybtn", 778, 80, 80, 26);
  OKBtn = Place(new QPushButton("OK", Panel1), "OKBtn", 866, 80, 80, 26);
  RESET = Place(new QPushButton("RESET", Panel1), "RESET", 778, 114, 80, 26);
  GetModelbtn = Place(new QPushButton("GetModel", Panel1), "GetModelbtn", 866, 114, 80, 26);

  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName("ScrollBox1");
  layout->addWidget(ScrollBox1);

  // The control as the window keeps it: frame rate 15 applied, every branch wanted until the
  // camera set-up switches audio and file capture off, no temporary file, no time limit.
  gCap = new TVideoCapture;
  gCap->setObjectName("gCap");
  gCap->setFixedSize(1280, 1024);
  gCap->SetUseFrameRate(true);
  gCap->SetFrameRate(MAXFRAMERATE);
  gCap->SetWantBitmaps(true);
  gCap->SetWantAudio(true);
  gCap->SetWantDVAudio(true);
  gCap->SetWantAudioPreview(true);
  gCap->SetWantPreview(true);
  gCap->SetWantCapture(true);
  gCap->SetUseTempFile(false);
  gCap->SetUseTimeLimit(false);
  gCap->SetDoPreallocFile(false);
  gCap->SetTimeLimit(0);
  gCap->SetPreallocFileSize(1);
  gCap->SetDVResolution(dvrDontWorry);
  ScrollBox1->setWidget(gCap);
  ScrollBox1->horizontalScrollBar()->setValue(339);
  gCap->OnBitmapGrabbed = [this](TCapturedBitmap& bmp) { gCapBitmapGrabbed(bmp); };
  gCap->OnDeviceLost = [this](TVideoCapture*) { gCapDeviceLost(); };

  connect(Refreshbtn, &QPushButton::clicked, this, [this] { RefreshbtnClick(); });
  connect(Applybtn, &QPushButton::clicked, this, [this] { ApplybtnClick(); });
  connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
  connect(RESET, &QPushButton::clicked, this, [this] { RESETClick(); });
  connect(GetModelbtn, &QPushButton::clicked, this, [this] { GetModelbtnClick(); });
  connect(DriverList, &QListWidget::currentRowChanged, this, [this] { DriverListClick(); });
}

void TFrmPreview::FormCreate() {
  graphConfig = std::make_unique<TGraphConfig>();
  PreviewModule().MyDrvIndex = -1;
  PreviewModule().MyRvIndex = -1;
  DriverStatus = 0;
  // Allocated once: every series reuses them.
  for (platform::Bitmap& b : bmpscan) b = platform::Bitmap(1280, 1024);
  bmpcount = 0;
}

void TFrmPreview::FormDestroy() {
  for (platform::Bitmap& b : bmpscan) b = platform::Bitmap();
  graphConfig.reset();
}

void TFrmPreview::FormCloseQuery() {
  // The saved configuration stays: the window may set a camera up again after it was closed.
  if (gCap->Previewing()) gCap->StopPreview();
}

void TFrmPreview::closeEvent(QCloseEvent* event) {
  FormCloseQuery();
  event->accept();
}

void TFrmPreview::OKBtnClick() { hide(); }

// ---- the main window ----

void TFrmPreview::SetHost(TPreviewHost* host, QObject* lifetime) {
  host_ = host;
  hostLifetime_ = lifetime;
  hostGuarded_ = lifetime != nullptr;
}

TPreviewHost& TFrmPreview::Host() {
  if (host_ && (!hostGuarded_ || !hostLifetime_.isNull())) return *host_;
  if (!standIn_) standIn_ = std::make_unique<TDetachedHost>();
  return *standIn_;
}

void TFrmPreview::ShowMessageText(int32_t offset) {
  platform::ui::Services().ShowMessage(Host().MessageText(offset));
}

void TFrmPreview::AppendLog(int32_t count, int32_t shutter, int32_t gain) {
  Host().AppendLog(std::to_string(count) + ":" + std::to_string(shutter) + ":" + std::to_string(gain));
}

// ---- vendor camera controls ----

bool TFrmPreview::CameraSetUp() const {
  return PreviewModule().MyDrvIndex >= 0 && PreviewModule().MyRvIndex >= 0;
}

void TFrmPreview::SetShutterSpeed(int32_t shutter, int32_t gain, bool mirror, bool flip) {
  const auto sensor = CameraSetUp() ? gCap->MCMOSFilter() : nullptr;
  if (!sensor) return;
  // The camera's answers are not examined: a value it rejects keeps its old setting.
  sensor->SetAGC(static_cast<uint32_t>(gain));
  sensor->SetShutterSpeed(static_cast<eShutterSpeedCMOS>(shutter & 0xFF));
  sensor->SetMirror(mirror ? 1 : 0);
  sensor->SetFlip(flip ? 1 : 0);
  // Applies when the graph is next built, never to a running one.
  gCap->SetUseFrameRate(false);
  gCap->SetFrameRate(FrameRateForShutter(shutter));
  gCap->SetUseFrameRate(true);
}

void TFrmPreview::SetShutterGain(int32_t shutter, int32_t gain) {
  const auto sensor = CameraSetUp() ? gCap->MCMOSFilter() : nullptr;
  if (!sensor) return;
  sensor->SetAGC(static_cast<uint32_t>(gain));
  sensor->SetShutterSpeed(static_cast<eShutterSpeedCMOS>(shutter & 0xFF));
}

void TFrmPreview::SetGain(int32_t gain) {
  const auto sensor = CameraSetUp() ? gCap->MCMOSFilter() : nullptr;
  if (sensor) sensor->SetAGC(static_cast<uint32_t>(gain));
}

void TFrmPreview::ResetCam() {
  const auto sensor = CameraSetUp() ? gCap->MCMOSFilter() : nullptr;
  if (sensor) sensor->Reset();
}

uint16_t TFrmPreview::GetModel() {
  const auto common = CameraSetUp() ? gCap->MCOMFilter() : nullptr;
  uint16_t model = 0;
  if (!common || Failed(common->GetModel(model))) return 0;
  return model;
}

uint16_t TFrmPreview::ReadIC(uint8_t addr) {
  const auto common = CameraSetUp() ? gCap->MCOMFilter() : nullptr;
  uint16_t value = 0;
  if (!common || Failed(common->ReadI2C(0, addr, value))) return 0;
  return value;
}

int32_t TFrmPreview::WriteIC(uint8_t addr, uint16_t val) {
  const auto common = CameraSetUp() ? gCap->MCOMFilter() : nullptr;
  return common && Succeeded(common->WriteI2C(0, addr, val)) ? 1 : 0;
}

int32_t TFrmPreview::CheckKey() {
  if (!CameraSetUp() || !gCap) return -1;
  const auto common = gCap->MCOMFilter();
  if (!common) return 0;
  int32_t state = -3;
  if (Failed(common->GetSnapshotState(&state))) return -2;
  return state;
}

void TFrmPreview::WaitKeyRelease(int32_t TimeOut) {
  CloseRequestFilter filter(closingItself_);
  const uint32_t start = platform::GetTickCount();
  while (static_cast<int64_t>(platform::GetTickCount() - start) < TimeOut && CheckKey() != 0) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (filter.requested) {
      filter.requested = false;
      closingItself_ = true;
      close();
      closingItself_ = false;
    }
    platform::Sleep(1);
  }
}

void TFrmPreview::RESETClick() { ResetCam(); }

void TFrmPreview::GetModelbtnClick() {
  platform::ui::Services().ShowMessage("Model : " + std::to_string(GetModel()));
}

// ---- setting a camera up ----

int32_t TFrmPreview::InitCam(int32_t drvIndex, const std::string& s, int32_t RVIndex, int32_t Shutter) {
  TPreviewModule& m = PreviewModule();
  DriverStatus = 0;
  m.MyDrvIndex = drvIndex;
  m.MyRvIndex = RVIndex;
  gCap->SaveGraph(graphConfig.get());
  graphConfig->VCapSource = s;
  graphConfig->ACapSource = s;
  graphConfig->WantAudio = false;
  graphConfig->WantAudioPreview = false;
  graphConfig->WantCapture = false;
  graphConfig->WantDVAudio = false;
  graphConfig->WantBitmaps = true;
  graphConfig->WantPreview = true;
  // The chosen resolution becomes the mode the restore sets: the configuration was saved with
  // the mode before the choice.
  if (gCap->SetVCapMode(RVIndex)) graphConfig->VCapMode = gCap->GetVCapMode();
  gCap->RestoreGraph(graphConfig.get());
  if (!IsCamera(s)) return 0;
  DriverStatus = 1;
  if (gCap->InitMFilters(IID_OcuvantCOM, CLSID_Ocuvant24B13)) {
    gCap->SetUseFrameRate(false);
    gCap->SetFrameRate(FrameRateForShutter(Shutter));
    gCap->SetUseFrameRate(true);
    DriverStatus = 2;
  }
  gCap->CaptureFrame();
  VideoStatus = 0;
  return DriverStatus;
}

void TFrmPreview::Refresh(int32_t shutter, int32_t gain, bool mirror, bool flip) {
  if (gCap->Previewing()) {
    SetShutterSpeed(shutter, gain, mirror, flip);
    VideoStatus = 1;
    gCap->StartPreview(true);
    gCap->CaptureFrame();
    return;
  }
  const std::vector<std::string> names = GetVideoDevicesList(true);
  if (names.empty()) {
    ShowMessageText(1);
    return;
  }
  const auto first = std::find_if(names.begin(), names.end(), IsCamera);
  if (first == names.end()) return;
  auto chosen = first;
  const auto second = std::find_if(first + 1, names.end(), IsCamera);
  if (second != names.end()) {
    auto chooser = std::make_unique<TSVDriverFrm>();
    chooser->StartPreview(*first, *second);
    if (chooser->selected < 0) platform::ui::Services().ShowModal(*chooser);
    // Closing the chooser without a choice takes the second camera.
    chosen = chooser->selected == 0 ? first : second;
    chooser.reset();
    BusyCursor busy;
    PumpMessages(3000);
  }
  if (InitCam(static_cast<int32_t>(chosen - names.begin()), *chosen, 0, shutter) == 1) ShowMessageText(2);
  VideoStatus = 1;
  gCap->StartPreview(true);
  gCap->CaptureFrame();
  SetShutterSpeed(shutter, gain, mirror, flip);
  gCap->StartPreview(true);
  gCap->CaptureFrame();
}

void TFrmPreview::ApplybtnClick() {
  if (!gCap->Init()) return;
  TPreviewModule& m = PreviewModule();
  m.MyDrvIndex = DriverList->currentRow();
  if (m.MyDrvIndex < 0) return;
  const int32_t shutter = ShutterCombo->currentIndex();
  InitCam(m.MyDrvIndex, DriverList->item(m.MyDrvIndex)->text().toStdString(), RVList->currentRow(), shutter);
  SetShutterSpeed(shutter, GainEdit->value(), Mirror->isChecked(), Flip->isChecked());
  VideoStatus = 1;
  if (!gCap->Previewing()) gCap->StartPreview(true);
  gCap->CaptureFrame();
}

void TFrmPreview::RefreshbtnClick() {
  if (gCap->Previewing()) gCap->StopPreview();
  gCap->SetWantPreview(false);
  const std::vector<std::string> names = GetVideoDevicesList(true);
  if (names.empty()) {
    platform::ui::Services().ShowMessage("NO VIDEO DRIVER INSTALLED!");
    return;
  }
  const QSignalBlocker quiet(DriverList);
  RVList->clear();
  DriverList->clear();
  for (const std::string& name : names) DriverList->addItem(QString::fromStdString(name));
}

void TFrmPreview::DriverListClick() {
  const int row = DriverList->currentRow();
  if (row < 0) return;
  graphConfig->VCapSource = DriverList->item(row)->text().toStdString();
  const TVCapMode before = gCap->GetVCapMode();
  gCap->RestoreGraph(graphConfig.get());
  RVList->clear();
  int select = -1;
  const int count = gCap->GetVCapModeCount();
  for (int i = 0; i < count; ++i) {
    const TVCapMode mode = gCap->GetVCapModes(i);
    RVList->addItem(QString::fromStdString(GetModeString(mode)));
    if (select < 0 && IsEqualModes(mode, before)) select = i;
  }
  if (count > 0) RVList->setCurrentRow(std::max(select, 0));
}

void TFrmPreview::gCapDeviceLost() {
  if (DriverStatus <= 0) {
    // No camera of ours: the control tries to restart the preview afterwards.
    ShowMessageText(4);
    return;
  }
  if (gCap->Previewing()) gCap->StopPreview();
  gCap->SetWantPreview(false);
  PreviewModule().MyDrvIndex = -1;
  PreviewModule().MyRvIndex = -1;
  DriverStatus = 0;
  VideoStatus = 0;  // a running series ends without combining
  ShowMessageText(1);
}

// ---- frames: live preview and exposure series ----

void TFrmPreview::gCapBitmapGrabbed(TCapturedBitmap& bmp) {
  const int32_t V = VideoStatus;
  if (V == 1) {
    // The first frame after a start or a re-tune may still show the old settings.
    VideoStatus = 2;
    gCap->CaptureFrame();
  } else if (V == 2) {
    Host().PreviewImage(bmp);
    gCap->CaptureFrame();
  } else if (V >= 5) {
    SeriesFrame(bmp);
  }
  // 0 (and the unused 3 and 4): the frame is not used and no other is asked for.
}

void TFrmPreview::StartCapture(int32_t von, int32_t bis, int32_t Switch) {
  if (VideoStatus >= 3) return;
  // Steps outside the camera's range would make the gauge divide by nothing and the
  // combination read exposures that do not exist: such a request starts nothing.
  if (von < 0 || bis < von || bis >= NIMG || Switch < 1) return;
  TPreviewModule& m = PreviewModule();
  Host().ClearLog();
  bmpcount = 0;
  m.IMGSWITCH = Switch;
  m.FIRSTIMG = von;
  m.NUMIMG = bis - von + 1;
  SetShutterGain(von, GGain);
  AppendLog(0, von, Host().GainBarPosition());
  VideoStatus = von == bis ? 5 : 5 + Switch * m.NUMIMG;
  gCap->CaptureFrame();
  Host().SetGaugeColor(kGaugeSeries);
}

void TFrmPreview::StoreFrame(const TCapturedBitmap& bmp, int32_t slot) {
  platform::Bitmap& b = bmpscan[static_cast<size_t>(slot)];
  if (bmp.GetPixelFormat() == b.GetPixelFormat() && bmp.Width() == b.Width() && bmp.Height() == b.Height()) {
    b = bmp;  // same size: the slot's pixels are reused
  } else {
    // A frame of another mode is drawn into the slot's top left; the slot keeps the image size.
    b.Fill(0);
    platform::Canvas(b).Draw(0, 0, bmp);
  }
}

void TFrmPreview::SeriesFrame(TCapturedBitmap& bmp) {
  const TPreviewModule& m = PreviewModule();
  const int32_t V = VideoStatus;
  const int32_t S = m.IMGSWITCH;
  bool stored = false;
  if (bmpcount < m.NUMIMG && (S == 1 || V % S == 0 || (V == 5 && bmpcount == 0))) {
    StoreFrame(bmp, bmpcount);
    ++bmpcount;
    stored = true;
  }
  // The shutter moves on with the first frame of a step, which is not kept: the camera may
  // still be exposing the next frame with the old setting.
  if (V > 5 && bmpcount > 0 && bmpcount < m.NUMIMG && (S == 1 ? stored : !stored && V % S == S - 1)) {
    SetShutterGain(m.FIRSTIMG + bmpcount, GGain);
    AppendLog(bmpcount, m.FIRSTIMG + bmpcount, GGain);
  }
  Host().SetGauge(bmpcount * 90 / m.NUMIMG);
  if (V == 5) {
    FinishSeries();
  } else {
    gCap->CaptureFrame();
    VideoStatus = V - 1;
  }
}

void TFrmPreview::FinishSeries() {
  const TPreviewModule& m = PreviewModule();
  // Whatever happens below, the series is over and no frame is asked for.
  struct Idle {
    int32_t& status;
    ~Idle() { status = 0; }
  } idle{VideoStatus};
  TPreviewHost& host = Host();
  host.SetGaugeColor(kGaugeCombine);
  analysis::OverlayImgs(bmpscan, DeltaPos, bmpcount, 2, 128);
  uint32_t max = 0, min = 0, avg = 0;
  analysis::KombinierenBR(host.CapturedImage(), bmpscan, 0, m.FIRSTIMG, bmpcount, 2, DeltaPos, max, min, avg);
  host.SetCaptureRange(max, min, avg);
  host.SetGauge(100);
  host.CaptureFinish();
}

}  // namespace capture
