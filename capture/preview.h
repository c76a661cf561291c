#pragma once
// The camera settings window: the only place where the camera is chosen, set up and read. It
// owns the capture control `gCap` (the live picture unscaled, 1280 x 1024, in a scroll box),
// finds the microscope camera among the video devices (asking the driver chooser when there
// are two), wraps the camera's vendor interfaces, runs the live preview and the exposure
// series, and hands frames and the combined series to the main window.
//
// The main window is reached through TPreviewHost only, so that this layer never includes the
// application. Everything here runs on the GUI thread: frames arrive through the capture
// control's posted messages.
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/vcap.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollArea;
class QSpinBox;

namespace capture {

class TSVDriverFrm;

// Shutter steps of the camera and series bitmaps.
inline constexpr int32_t NIMG = 19;
inline constexpr int32_t MAXFRAMERATE = 15;

// What the camera window asks of the main window.
class TPreviewHost {
 public:
  virtual ~TPreviewHost() = default;
  // A frame of the live preview (the window may draw into it).
  virtual void PreviewImage(platform::Bitmap& abmp) = 0;
  // The bitmap the combined series goes into (the main window's high-range image).
  virtual platform::Bitmap& CapturedImage() = 0;
  // The series' brightness range, set before the capture finish.
  virtual void SetCaptureRange(uint32_t maxbr, uint32_t minbr, uint32_t avgbr) = 0;
  // The capture finish.
  virtual void CaptureFinish() = 0;
  // The log memo, the progress gauge (position and colour as 0x00BBGGRR) and the gain bar.
  virtual void ClearLog() = 0;
  virtual void AppendLog(const std::string& line) = 0;
  virtual void SetGauge(int32_t position) = 0;
  virtual void SetGaugeColor(uint32_t color) = 0;
  virtual int32_t GainBarPosition() = 0;
  // Message text `offset` of the language file's MESSAGES section.
  virtual std::string MessageText(int32_t offset) = 0;
};

class TFrmPreview;

// The module's state: the camera guard (list indexes of the set-up driver and capture mode,
// -1 when no camera is set up) and the running series' shape.
struct TPreviewModule {
  TFrmPreview* FrmPreview = nullptr;
  int32_t MyDrvIndex = -1;
  int32_t MyRvIndex = -1;
  int32_t IMGSWITCH = 1;  // frames per shutter step
  int32_t FIRSTIMG = 0;   // first shutter step
  int32_t NUMIMG = 0;     // number of steps
};
TPreviewModule& PreviewModule();

// Camera gain of the exposure series, a variable of the window's module: the calibration
// sets it before the window exists, the main window before every series.
extern int32_t GGain;

// The frame rate the window sets for a shutter step (the camera's longest exposures are slower
// than 15 frames per second).
double FrameRateForShutter(int32_t shutter);

// The text of the shutter list: four blanks and the exposure ("    1/30 second").
std::string ShutterText(int32_t shutter);

class TFrmPreview : public QWidget {
  Q_OBJECT
 public:
  explicit TFrmPreview(QWidget* parent = nullptr);
  ~TFrmPreview() override;

  // The main window; `lifetime` (when given) is the object whose destruction ends the link.
  void SetHost(TPreviewHost* host, QObject* lifetime = nullptr);

  // ---- called by the main window ----
  // Starts the live preview with these camera settings, or re-tunes a running one.
  void Refresh(int32_t shutter, int32_t gain, bool mirror, bool flip);
  // Starts an exposure series over the shutter steps von..bis with Switch frames per step.
  void StartCapture(int32_t von, int32_t bis, int32_t Switch);

  // ---- vendor camera controls (nothing is sent unless a camera is set up) ----
  void SetShutterSpeed(int32_t shutter, int32_t gain, bool mirror, bool flip);
  void SetShutterGain(int32_t shutter, int32_t gain);
  void SetGain(int32_t gain);
  void ResetCam();
  uint16_t GetModel();
  uint16_t ReadIC(uint8_t addr);
  int32_t WriteIC(uint8_t addr, uint16_t val);
  // The snapshot button: its state (0 released), -1 without a camera, 0 without the common
  // interface, -2 when the camera does not answer.
  int32_t CheckKey();
  // Waits up to TimeOut ms for the snapshot button to be released, keeping the window system
  // served; a request to close or quit in the meantime closes this window instead.
  void WaitKeyRelease(int32_t TimeOut);

  // ---- internal, public for the tests ----
  // Sets the camera up; returns the new DriverStatus.
  int32_t InitCam(int32_t drvIndex, const std::string& s, int32_t RVIndex, int32_t Shutter);
  void gCapBitmapGrabbed(TCapturedBitmap& bmp);
  void gCapDeviceLost();

  // handlers
  void FormCreate();
  void FormDestroy();
  void FormCloseQuery();
  void RefreshbtnClick();
  void ApplybtnClick();
  void OKBtnClick();
  void RESETClick();
  void GetModelbtnClick();
  void DriverListClick();

  // ---- controls ----
  QWidget* Panel1 = nullptr;
  QListWidget* DriverList = nullptr;
  QListWidget* RVList = nullptr;
  QComboBox* ShutterCombo = nullptr;
  QSpinBox* GainEdit = nullptr;
  QCheckBox* Mirror = nullptr;
  QCheckBox* Flip = nullptr;
  QPushButton* Refreshbtn = nullptr;
  QPushButton* Applybtn = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* RESET = nullptr;
  QPushButton* GetModelbtn = nullptr;
  QScrollArea* ScrollBox1 = nullptr;
  TVideoCapture* gCap = nullptr;

  // ---- fields ----
  std::unique_ptr<TGraphConfig> graphConfig;
  // 0 no camera set up (or not the microscope camera); 1 the camera without its vendor
  // interfaces; 2 the camera with them.
  int32_t DriverStatus = 0;
  // 0 idle, 1 preview starting, 2 live preview, 5 .. 5 + IMGSWITCH x NUMIMG a series counting down.
  int32_t VideoStatus = 0;
  int32_t bmpcount = 0;
  std::array<platform::Bitmap, NIMG> bmpscan;
  std::array<platform::TPoint, NIMG> DeltaPos{};

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  TPreviewHost& Host();
  void ShowMessageText(int32_t offset);
  void AppendLog(int32_t count, int32_t shutter, int32_t gain);
  void SeriesFrame(TCapturedBitmap& bmp);
  void StoreFrame(const TCapturedBitmap& bmp, int32_t slot);
  void FinishSeries();
  // The guard of the vendor controls.
  bool CameraSetUp() const;
  void CreateControls();

  TPreviewHost* host_ = nullptr;
  bool hostGuarded_ = false;
  QPointer<QObject> hostLifetime_;
  std::unique_ptr<TPreviewHost> standIn_;
  bool closingItself_ = false;
};

}  // namespace capture
