#pragma once
// The capture control: finds the video devices of the workstation, builds a capture graph for
// the chosen one (source, smart tee, sample grabber, video renderer), shows the live picture
// in a video window that is a child of the control, turns graph events into calls of its own
// and hands single frames to the GUI thread (OnBitmapGrabbed). It also carries what a general
// capture component offers (audio devices, compressors, file capture, driver dialogs, DV
// sizes); on this platform there are no audio capture devices, compressors, DV sources or
// driver dialogs, and file capture is not available, so those report "not available" the way
// the control always reported a missing device or filter.
//
// Everything runs on the GUI thread except the devices' streaming threads, which enter only
// the graph's sink, the grabber's callback object and the renderer, and hand over by posting
// messages to the control.
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/pixel_format.h"
#include "platform/image/bitmap.h"
#include "platform/video/video_device.h"

class QSocketNotifier;
class QTimer;

namespace platform {
class TStream;
}

namespace capture {

using platform::video::HRESULT;
using platform::video::TGUID;

class TVideoCapture;
class TFilterGraph;
class TCaptureGraphBuilder;
class TSampleGrabber;
class TVideoWindow;

// The filters a stream can be rendered from: the capture device, the smart tee after it and
// the sample grabber.
enum class TGraphNode { Capture, SmartTee, Grabber };

// ---- messages ----

inline constexpr uint32_t WM_USER = 1024;
inline constexpr uint32_t WM_FGNOTIFY = WM_USER + 1;        // graph events
inline constexpr uint32_t WM_SAMPLECAPTURED = WM_USER + 2;  // a requested frame is in the grab buffer
inline constexpr uint32_t WM_SAMPLEPASSED = WM_USER + 3;    // a frame has passed the grabber
inline constexpr uint32_t WM_VIDEOFRAME = WM_USER + 4;      // the renderer holds a new frame to show

// Graph event codes.
inline constexpr int32_t EC_USERABORT = 3;
inline constexpr int32_t EC_DEVICE_LOST = 31;

// The record of a message posted to the control. For the two frame messages `GrabberCB` is
// the callback object that posted it.
struct TWMSampleCaptured {
  uint32_t Msg = 0;
  const void* GrabberCB = nullptr;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

// ---- errors ----

// Raised only inside the guarded parts of filter binding and graph building, where it turns
// into a false result; it never leaves the control.
class EVideoCaptureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The message text: `szMsg` with its "%x" replaced by `hr` as unsigned upper-case
// hexadecimal without leading zeros.
std::string FormatCaptureMessage(const std::string& szMsg, HRESULT hr);
// Shows the text in an error box captioned "DirectShow - Capture" and returns it.
std::string MyMsg(const std::string& szMsg, HRESULT hr);
void ErrMsg(const std::string& szMsg, HRESULT hr);
// Shows the text, then raises EVideoCaptureError with it.
[[noreturn]] void ErrMsgException(const std::string& szMsg, HRESULT hr);

// ---- devices ----

// What identifies a listed device: the backend's stable id (so a rebuilt list still knows a
// chosen device, and a replugged twin camera is not taken for the other) and the name the
// device reported.
struct TMoniker {
  std::string Id;
  std::string FriendlyName;
  friend bool operator==(const TMoniker& a, const TMoniker& b) { return a.Id == b.Id; }
};

struct TCapDeviceInfo {
  std::string DeviceName;        // the friendly name as the device reports it
  std::string DeviceNameInList;  // unique name shown to users: a twin gets " (2)"
  TMoniker Moniker;
};
using TCapDeviceList = std::vector<TCapDeviceInfo>;

enum class TDeviceCategory { VideoInput, AudioInput, VideoCompressor, AudioCompressor };

// The four device lists of the module, shared by every control.
struct TCaptureDeviceLists {
  TCapDeviceList VideoDevicesList;
  TCapDeviceList AudioDevicesList;
  TCapDeviceList VideoCompressorsList;
  TCapDeviceList AudioCompressorsList;
};
TCaptureDeviceLists& DeviceLists();

void EnumFilters(TDeviceCategory category, TCapDeviceList& FiltersList);
void BuildVideoDevicesList();
void BuildAudioDevicesList();
void BuildVideoCompressorsList();
void BuildAudioCompressorsList();
void BuildDevicesList();
void ClearDevicesList();
// The listed names of the video devices; the list is rebuilt first when `Refresh` holds or it
// is empty.
std::vector<std::string> GetVideoDevicesList(bool Refresh);
int FindDeviceNum(const std::string& DeviceName, const TCapDeviceList& Devices);
int GetIntByMoniker(const TCapDeviceList& list, const std::optional<TMoniker>& moniker);
std::string GetStringByMoniker(const TCapDeviceList& list, const std::optional<TMoniker>& moniker);
std::optional<TMoniker> GetMonikerByString(const TCapDeviceList& list, const std::string& name);

// ---- modes and settings ----

struct TVCapMode {
  TGUID MediaType;
  TGUID MediaSubType;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitCount = 0;
  double FrameRate = 0;
  double MinFrameRate = 0;
  double MaxFrameRate = 0;
};

struct TACapMode {
  TGUID MediaType;
  TGUID MediaSubType;
  int32_t SampleRate = 0;
  int32_t SampleSize = 0;
  int32_t Channels = 0;
  int32_t AvgSampleRate = 0;
};

enum TDVResolution : uint8_t { dvrDontWorry = 0, dvrFull = 1, dvrHalf = 2, dvrQuater = 3, dvrDC = 4 };
inline constexpr int DVCapModesCount = 4;


enum TCaptureDialog : uint8_t {
  cdVFORMAT, cdVSOURCE, cdVDISPLAY, cdVCAPTURE, cdVCROSSBAR, cdTVTUNER, cdACAPTURE, cdACROSSBAR,
  cdTVAUDIO, cdVCAPTURE_PIN, cdVPREVIEW_PIN, cdACAPTURE_PIN, cdVCOMPRESSION, cdACOMPRESSION
};
using TCaptureDialogs = uint16_t;  // bit set over TCaptureDialog

inline constexpr double DefaultFrameRate = 25.0;

bool IsEqualModes(const TVCapMode& a, const TVCapMode& b);
bool IsEqualModes(const TACapMode& a, const TACapMode& b);
// "1280x1024x24b (RGB24)"; the subtype's name is left off when it has none.
std::string GetModeString(const TVCapMode& mode);

// A whole configuration of a control, kept by the windows that switch devices and modes.
class TGraphConfig {
 public:
  TGraphConfig() { Clear(); }
  void Clear();

  std::string VCapSource, ACapSource, VComp, AComp;  // names as listed
  TACapMode ACapMode;
  TVCapMode VCapMode;
  std::vector<uint8_t> VCompState;
  bool WantCapture = false, WantPreview = false, WantBitmaps = false, WantAudio = false, WantDVAudio = false,
       WantAudioPreview = true;
  TPixelFormat PixelFormat = pf24bit;
  TDVResolution DVResolution = dvrFull;
  std::string CaptureFileName;
  bool UseTempFile = false;
  std::string TempCaptureFileName;
  bool DoPreallocFile = false;
  int32_t PreallocFileSize = 0;

  // The configuration as comma text, and read back from it.
  std::string SaveGraph() const;
  void RestoreGraph(const std::string& layout);
  // A 4-byte little-endian byte count, then the text. False without a stream or when not
  // every byte could be moved.
  bool SaveGraphToStream(platform::TStream* Stream) const;
  bool RestoreGraphFromStream(platform::TStream* Stream);
};

// ---- the grab ----

using TCapturedBitmap = platform::Bitmap;
using TBitmapCapturedEvent = std::function<void(TCapturedBitmap& CapturedImage)>;
using TNotifyEvent = std::function<void(TVideoCapture* Sender)>;

// The grabber's callback object: the streaming thread copies a requested frame under the lock
// and posts WM_SAMPLECAPTURED, and posts WM_SAMPLEPASSED for every frame; it never waits for
// the GUI thread.
class TSampleGrabberCB {
 public:
  TSampleGrabberCB() = default;
  ~TSampleGrabberCB();
  TSampleGrabberCB(const TSampleGrabberCB&) = delete;
  TSampleGrabberCB& operator=(const TSampleGrabberCB&) = delete;

  void DisableBufferAccess() { FLock.lock(); }
  void EnableBufferAccess() { FLock.unlock(); }
  void ClearBuffer();

  HRESULT SampleCB(double SampleTime, const void* pSample);
  HRESULT BufferCB(double SampleTime, const uint8_t* pBuffer, int32_t BufferLen);

  TVideoCapture* Owner() const { return FOwner.load(std::memory_order_acquire); }
  void SetOwner(TVideoCapture* owner) { FOwner.store(owner, std::memory_order_release); }
  // Read only between DisableBufferAccess and EnableBufferAccess.
  const uint8_t* Buffer() const { return FBuffer.data(); }
  uint32_t BufferLength() const { return FBuffLen; }
  bool GrabbingEnabled() const { return FEnable.load(std::memory_order_acquire); }
  void SetGrabbingEnabled(bool enable) { FEnable.store(enable, std::memory_order_release); }

 private:
  std::vector<uint8_t> FBuffer;
  uint32_t FBuffLen = 0;
  std::atomic<TVideoCapture*> FOwner{nullptr};
  std::atomic<bool> FEnable{false};
  std::mutex FLock;
};

// ---- the control ----

class TVideoCapture : public QWidget {
  Q_OBJECT
 public:
  explicit TVideoCapture(QWidget* AOwner = nullptr);
  ~TVideoCapture() override;

  // graph state
  bool Init();
  bool MakeGraph();
  bool MakeBuilder();
  void CleanUp();
  void FreeCapFilters();
  bool InitCapFilters();
  bool BuildGraph();
  bool RenderVideoPreview(TGraphNode VSource);
  bool FindVideoWindow();
  bool GetIsDVSource();
  void ResizeWindow();
  void TearDownGraph();
  bool InitMFilters(const TGUID& COMGUID, const TGUID& CMOSGUID);

  // preview
  bool StartPreview(bool showError);
  bool StopPreview();
  bool TestPreview();

  // grab
  bool CaptureFrame();
  void BitmapGrabbed(TWMSampleCaptured& Msg);
  void FramePassed(TWMSampleCaptured& Msg);
  void GraphEvent(TWMSampleCaptured& Msg);
  void DoAborted();
  void DoDeviceLost();
  // Posts a message to the control from any thread; it is handled on the GUI thread in the
  // order posted.
  void PostMessage(const TWMSampleCaptured& Msg);

  // modes
  int GetVCapModeCount();
  TVCapMode GetVCapMode();
  TVCapMode GetVCapModes(int i);
  bool SetVCapMode(int i);
  bool SetVCapMode(const TVCapMode& mode);
  int GetVCapModeIdx();
  int GetACapModeCount();
  TACapMode GetACapMode();
  TACapMode GetACapModes(int i);
  bool SetACapMode(int i);
  bool SetACapMode(const TACapMode& mode);
  int GetACapModeIdx();

  // settings
  void SetFrameRate(double Value);
  double FrameRate() const { return FFrameRate; }
  void SetDVResolution(TDVResolution Value);
  TDVResolution DVResolution() const { return FDVResolution; }
  void SetMasterStream(int32_t Value);
  void SetCaptureFileName(const std::string& Value) { FCaptureFileName = Value; }
  const std::string& CaptureFileName() const { return FCaptureFileName; }
  void SetTempCaptureFileName(const std::string& Value);
  const std::string& TempCaptureFileName() const { return FTempCaptureFileName; }

  // devices and compressors
  void ChooseDevices(const std::optional<TMoniker>& Video, const std::optional<TMoniker>& Audio,
                     bool ForceGraphRebuild = false);
  void ChooseDevices(const std::string& szVideo, const std::string& szAudio, bool ForceGraphRebuild = false);
  void ChooseDevices(int numVideo, int numAudio, bool ForceGraphRebuild = false);
  void ChooseCompressors(const std::optional<TMoniker>& VComp, const std::optional<TMoniker>& AComp,
                         bool ForceGraphRebuild = false);
  void ChooseCompressors(const std::string& szVComp, const std::string& szAComp, bool ForceGraphRebuild = false);
  void ChooseCompressors(int numVComp, int numAComp, bool ForceGraphRebuild = false);
  std::string GetVCapSource();
  std::string GetACapSource();
  std::string GetVCompDevice();
  std::string GetACompDevice();
  int GetVCapSourceIdx();
  int GetACapSourceIdx();
  int GetVCompDeviceIdx();
  int GetACompDeviceIdx();

  // configuration
  void SaveGraph(TGraphConfig* config);
  void RestoreGraph(TGraphConfig* config);

  // file capture
  bool StartCapture(bool Dialog);
  bool StopCapture();
  void CaptureProgress();
  bool ControlCaptureStream(bool start);
  bool AllocCaptureFile(int32_t SizeMb);
  bool SaveCaptureFile(const std::string& FileName);

  // dialogs
  void GetAvailableDialogs();
  bool ShowDialog(TCaptureDialog DialogType);
  TCaptureDialogs Dialogs() const { return FDialogs; }

  // published properties
  bool WantBitmaps() const { return FWantBitmaps; }
  void SetWantBitmaps(bool v) { FWantBitmaps = v; }
  bool WantAudio() const { return FWantAudio; }
  void SetWantAudio(bool v) { FWantAudio = v; }
  bool WantDVAudio() const { return FWantDVAudio; }
  void SetWantDVAudio(bool v) { FWantDVAudio = v; }
  bool WantAudioPreview() const { return FWantAudioPreview; }
  void SetWantAudioPreview(bool v) { FWantAudioPreview = v; }
  bool WantPreview() const { return FWantPreview; }
  void SetWantPreview(bool v) { FWantPreview = v; }
  bool WantCapture() const { return FWantCapture; }
  void SetWantCapture(bool v) { FWantCapture = v; }
  bool UseFrameRate() const { return FUseFrameRate; }
  void SetUseFrameRate(bool v) { FUseFrameRate = v; }
  bool UseTempFile() const { return FUseTempFile; }
  void SetUseTempFile(bool v) { FUseTempFile = v; }
  bool UseTimeLimit() const { return FUseTimeLimit; }
  void SetUseTimeLimit(bool v) { FUseTimeLimit = v; }
  uint32_t TimeLimit() const { return FTimeLimit; }
  void SetTimeLimit(uint32_t v) { FTimeLimit = v; }
  bool DoPreallocFile() const { return FDoPreallocFile; }
  void SetDoPreallocFile(bool v) { FDoPreallocFile = v; }
  int32_t PreallocFileSize() const { return FPreallocFileSize; }
  void SetPreallocFileSize(int32_t v) { FPreallocFileSize = v; }
  TPixelFormat BitmapPixelFormat() const { return FPixelFormat; }
  void SetBitmapPixelFormat(TPixelFormat v) { FPixelFormat = v; }
  // The colour behind the video window (blue by default).
  void SetColor(uint32_t rgb);
  uint32_t Color() const { return FColor; }

  // public read access
  TFilterGraph* CaptureGraph() const { return Graph.get(); }
  platform::video::VideoDevice* VCapFilter() const { return VCap.get(); }
  std::shared_ptr<platform::video::IOcuvantCommon> MCOMFilter() const { return COMFilter; }
  std::shared_ptr<platform::video::IOcuvantCMOS> MCMOSFilter() const { return CMOSFilter; }
  TSampleGrabberCB* GrabberCallback() const { return FGrabberCB.get(); }
  TSampleGrabber* SampleGrabber() const { return Grabber; }
  TVideoWindow* VideoWindow() const { return FVideoWindow; }
  bool GraphBuilt() const { return FGraphBuilt; }
  bool Capturing() const { return FCapturing; }
  bool Previewing() const { return FPreviewing; }
  const std::string& VCapFriendlyName() const { return FVCapFriendlyName; }
  const std::string& ACapFriendlyName() const { return FACapFriendlyName; }
  std::string VCapName() { return GetVCapSource(); }
  int VCapIndex() { return GetVCapSourceIdx(); }
  std::string ACapName() { return GetACapSource(); }
  int ACapIndex() { return GetACapSourceIdx(); }
  std::string VCompName() { return GetVCompDevice(); }
  int VCompIndex() { return GetVCompDeviceIdx(); }
  std::string ACompName() { return GetACompDevice(); }
  int ACompIndex() { return GetACompDeviceIdx(); }
  bool IsDVSource() { return GetIsDVSource(); }
  int32_t FramesDropped() const { return FDroppedFrames; }
  int32_t NotDropped() const { return FNotDropped; }
  int32_t CapStartTime() const { return FCapStartTime; }
  uint32_t CapStopTime() const { return FCapStopTime; }
  uint32_t CapTime() const { return FCapTime; }

  // events
  TNotifyEvent OnStopPreview, OnStartPreview, OnStopCapture, OnStartCapture, OnChangeDevice, OnCaptureProgress,
      OnChangeACapMode, OnChangeVCapMode, OnChangeCompressor, OnFrameRendered, OnDeviceLost, OnAborted, OnClick,
      OnDblClick;
  TBitmapCapturedEvent OnBitmapGrabbed;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // The common part of choosing devices and compressors.
  void ChooseFilters(std::optional<TMoniker>& video, const std::optional<TMoniker>& newVideo,
                     std::optional<TMoniker>& audio, const std::optional<TMoniker>& newAudio, bool ForceGraphRebuild,
                     const TNotifyEvent& changed);
  void ProcessPostedMessages();
  void TearDownGraphParts();
  void DispatchMessage(TWMSampleCaptured& Msg);

  // graph objects
  std::unique_ptr<TFilterGraph> Graph;
  std::unique_ptr<TCaptureGraphBuilder> Builder;
  TFilterGraph* MediaEvent = nullptr;  // the graph's event interface while a graph is built
  std::shared_ptr<platform::video::VideoDevice> VCap;
  platform::video::VideoDevice* VStreamConf = nullptr;  // the capture pin's stream configuration
  std::shared_ptr<platform::video::IOcuvantCommon> COMFilter;
  std::shared_ptr<platform::video::IOcuvantCMOS> CMOSFilter;
  TSampleGrabber* Grabber = nullptr;  // owned by the graph
  std::unique_ptr<TSampleGrabberCB> FGrabberCB;
  TVideoWindow* FVideoWindow = nullptr;  // child widget
  bool FGraphBuilt = false;

  std::string FACapFriendlyName, FVCapFriendlyName;
  bool FCapturing = false, FPreviewing = false;
  bool FUseFrameRate = false, FUseTimeLimit = false;
  double FFrameRate = DefaultFrameRate;
  int32_t FCapStartTime = 0;
  uint32_t FCapStopTime = 0;
  int32_t FMasterStream = -1;
  int32_t FNotDropped = 0, FDroppedFrames = 0, FNotDroppedBase = 0, FDroppedBase = 0;
  uint32_t FCapTime = 0;
  std::optional<TMoniker> mVideo, mAudio, mVComp, mAComp;
  QTimer* FCaptureTimer = nullptr;
  TCaptureDialogs FDialogs = 0;
  bool FDoPreallocFile = false;
  std::string FTempCaptureFileName, FCaptureFileName;
  uint32_t FTimeLimit = 0;
  bool FUseTempFile = false;
  int32_t FPreallocFileSize = 1;
  std::string FCaptureFile;
  TDVResolution FDVResolution = dvrDontWorry;
  TPixelFormat FPixelFormat = pf24bit;
  bool FWantPreview = true, FWantCapture = true, FWantAudio = true, FWantDVAudio = true, FWantBitmaps = true,
       FWantAudioPreview = true;
  uint32_t FColor = 0x0000FF;  // RGB

  // Messages posted from the streaming threads. They wait in our own queue; a counter file
  // descriptor wakes the GUI thread's event loop, so that nothing crosses the threads inside
  // the toolkit.
  std::mutex FMessageLock;
  std::deque<TWMSampleCaptured> FMessages;
  bool FWakePending = false;
  int FWakeFd = -1;
  QSocketNotifier* FWakeNotifier = nullptr;
};

}  // namespace capture
