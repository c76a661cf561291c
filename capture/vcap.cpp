#include "capture/vcap.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "capture/vcap_graph.h"
#include "platform/ui/ui_services.h"

namespace capture {

using namespace platform::video;

// ---- errors ----

std::string FormatCaptureMessage(const std::string& szMsg, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "%X", static_cast<unsigned>(static_cast<uint32_t>(hr)));
  std::string text;
  for (size_t i = 0; i < szMsg.size(); ++i) {
    if (szMsg[i] == '%' && i + 1 < szMsg.size() && (szMsg[i + 1] == 'x' || szMsg[i + 1] == 'X')) {
      text += code;
      ++i;
    } else {
      text += szMsg[i];
    }
  }
  return text;
}

std::string MyMsg(const std::string& szMsg, HRESULT hr) {
  const std::string text = FormatCaptureMessage(szMsg, hr);
  platform::ui::Services().MessageBox(text, "DirectShow - Capture", platform::ui::MsgButtons::Ok,
                                      platform::ui::MsgKind::Error);
  return text;
}

void ErrMsg(const std::string& szMsg, HRESULT hr) { MyMsg(szMsg, hr); }

void ErrMsgException(const std::string& szMsg, HRESULT hr) { throw EVideoCaptureError(MyMsg(szMsg, hr)); }

// ---- device lists ----

TCaptureDeviceLists& DeviceLists() {
  static TCaptureDeviceLists lists;
  return lists;
}

int FindDeviceNum(const std::string& DeviceName, const TCapDeviceList& Devices) {
  return 1 + static_cast<int>(std::count_if(Devices.begin(), Devices.end(),
                                            [&](const TCapDeviceInfo& d) { return d.DeviceName == DeviceName; }));
}

void EnumFilters(TDeviceCategory category, TCapDeviceList& FiltersList) {
  FiltersList.clear();
  // This platform captures video only: no audio capture devices and no compressors.
  if (category != TDeviceCategory::VideoInput) return;
  for (const DeviceInfo& device : EnumerateVideoDevices()) {
    const size_t first = device.name.find_first_not_of(' ');
    if (first == std::string::npos) continue;  // a blank name is not listed
    const int n = FindDeviceNum(device.name, FiltersList);
    std::string listName = device.name;
    if (n > 1) listName += " (" + std::to_string(n) + ")";
    FiltersList.push_back(TCapDeviceInfo{device.name, listName, TMoniker{device.id, device.name}});
  }
}

void BuildVideoDevicesList() { EnumFilters(TDeviceCategory::VideoInput, DeviceLists().VideoDevicesList); }
void BuildAudioDevicesList() { EnumFilters(TDeviceCategory::AudioInput, DeviceLists().AudioDevicesList); }
void BuildVideoCompressorsList() {
  EnumFilters(TDeviceCategory::VideoCompressor, DeviceLists().VideoCompressorsList);
}
void BuildAudioCompressorsList() {
  EnumFilters(TDeviceCategory::AudioCompressor, DeviceLists().AudioCompressorsList);
}

void BuildDevicesList() {
  BuildVideoDevicesList();
  BuildAudioDevicesList();
  BuildVideoCompressorsList();
  BuildAudioCompressorsList();
}

void ClearDevicesList() {
  TCaptureDeviceLists& l = DeviceLists();
  l.VideoDevicesList.clear();
  l.AudioDevicesList.clear();
  l.VideoCompressorsList.clear();
  l.AudioCompressorsList.clear();
}

std::vector<std::string> GetVideoDevicesList(bool Refresh) {
  if (Refresh || DeviceLists().VideoDevicesList.empty()) BuildVideoDevicesList();
  std::vector<std::string> names;
  for (const auto& d : DeviceLists().VideoDevicesList) names.push_back(d.DeviceNameInList);
  return names;
}

int GetIntByMoniker(const TCapDeviceList& list, const std::optional<TMoniker>& moniker) {
  if (!moniker) return -1;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].Moniker == *moniker) return static_cast<int>(i);
  }
  return -1;
}

std::string GetStringByMoniker(const TCapDeviceList& list, const std::optional<TMoniker>& moniker) {
  const int i = GetIntByMoniker(list, moniker);
  return i < 0 ? std::string() : list[static_cast<size_t>(i)].DeviceNameInList;
}

std::optional<TMoniker> GetMonikerByString(const TCapDeviceList& list, const std::string& name) {
  for (const auto& d : list) {
    if (d.DeviceNameInList == name) return d.Moniker;
  }
  return std::nullopt;
}

// ---- the grabber's callback object ----

TSampleGrabberCB::~TSampleGrabberCB() { ClearBuffer(); }

void TSampleGrabberCB::ClearBuffer() {
  std::lock_guard lock(FLock);
  FBuffLen = 0;
  std::vector<uint8_t>().swap(FBuffer);
}

HRESULT TSampleGrabberCB::SampleCB(double, const void*) { return S_OK; }

HRESULT TSampleGrabberCB::BufferCB(double, const uint8_t* pBuffer, int32_t BufferLen) {
  TVideoCapture* owner = Owner();
  // One atomic exchange takes the request: two requests before a frame give one copy, and a
  // request made while this frame is copied stays for the next one.
  if (FEnable.exchange(false, std::memory_order_acq_rel)) {
    {
      std::lock_guard lock(FLock);
      try {
        const size_t n = BufferLen > 0 && pBuffer != nullptr ? static_cast<size_t>(BufferLen) : 0;
        if (FBuffer.size() != n) FBuffer.resize(n);  // kept from frame to frame
        if (n > 0) std::memcpy(FBuffer.data(), pBuffer, n);
        FBuffLen = static_cast<uint32_t>(n);
      } catch (...) {
        FBuffLen = 0;
      }
    }
    if (owner) owner->PostMessage(TWMSampleCaptured{WM_SAMPLECAPTURED, this, 0, 0});
  }
  if (owner) owner->PostMessage(TWMSampleCaptured{WM_SAMPLEPASSED, this, 0, 0});
  return S_OK;
}

// ---- construction ----

TVideoCapture::TVideoCapture(QWidget* AOwner) : QWidget(AOwner) {
  CleanUp();
  resize(100, 100);
  FGrabberCB = std::make_unique<TSampleGrabberCB>();
  FCaptureTimer = new QTimer(this);
  FCaptureTimer->setInterval(100);
  connect(FCaptureTimer, &QTimer::timeout, this, [this] { CaptureProgress(); });
  FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FWakeFd >= 0) {
    FWakeNotifier = new QSocketNotifier(FWakeFd, QSocketNotifier::Read, this);
    connect(FWakeNotifier, &QSocketNotifier::activated, this, [this] { ProcessPostedMessages(); });
  }
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TVideoCapture::~TVideoCapture() {
  StopPreview();
  StopCapture();
  TearDownGraph();
  CleanUp();  // releases the graph, which held the grabber and its callback object
  FCaptureTimer->stop();
  FGrabberCB.reset();
  ClearDevicesList();
  delete FWakeNotifier;
  if (FWakeFd >= 0) ::close(FWakeFd);
}

void TVideoCapture::SetColor(uint32_t rgb) {
  FColor = rgb;
  update();
}

bool TVideoCapture::MakeGraph() {
  if (!Graph) Graph = std::make_unique<TFilterGraph>();
  return Graph != nullptr;
}

bool TVideoCapture::MakeBuilder() {
  if (!Builder) Builder = std::make_unique<TCaptureGraphBuilder>();
  return Builder != nullptr;
}

bool TVideoCapture::Init() {
  MakeGraph();
  MakeBuilder();
  if (Graph && Builder) Builder->SetFiltergraph(Graph.get());
  BuildDevicesList();
  return Graph && Builder && !DeviceLists().VideoDevicesList.empty();
}

void TVideoCapture::FreeCapFilters() {
  if (Graph) Graph->Stop();  // the device's thread must be done before its sink goes
  if (FVideoWindow) {
    delete FVideoWindow;
    FVideoWindow = nullptr;
  }
  MediaEvent = nullptr;
  Grabber = nullptr;
  Graph.reset();
  Builder.reset();
  VStreamConf = nullptr;
  VCap.reset();
  COMFilter.reset();
  CMOSFilter.reset();
  FDialogs = 0;
}

void TVideoCapture::CleanUp() {
  FreeCapFilters();
  FGraphBuilt = false;
  FCapturing = false;
  FPreviewing = false;
  FMasterStream = -1;
}

bool TVideoCapture::InitCapFilters() {
  FreeCapFilters();
  if (!MakeBuilder()) {
    ErrMsg("Can't init graph builder. Probably DirectShow is not installed!", 0);
    return false;
  }
  try {
    HRESULT hr = S_OK;
    if (mVideo) {
      FVCapFriendlyName = mVideo->FriendlyName;
      VCap = OpenVideoDevice(mVideo->Id, hr);
    }
    if (!VCap) {
      ErrMsgException("Error %x.\r\nCan't create video capture filter - propably you havn't video capture device!",
                      mVideo ? hr : 0);
    }
    if (!MakeGraph()) ErrMsgException("Can't init graph. Probably DirectShow is not installed!", 0);
    Builder->SetFiltergraph(Graph.get());
    Graph->AddSource(VCap.get(), FVCapFriendlyName);
    // Every device here configures its capture pin; without modes it has nothing to offer.
    if (VCap->CapabilityCount() > 0) {
      VStreamConf = VCap.get();
    } else {
      ErrMsg("Error %x: Can't find VCapture:IAMStreamConfig!", E_NOINTERFACE);
    }
    if (FWantAudio && mAudio) {
      // No audio capture device can be bound on this platform.
      FACapFriendlyName = mAudio->FriendlyName;
      ErrMsg("Can't create audio capture filter!", 0);
    }
    return true;
  } catch (const EVideoCaptureError&) {
    FreeCapFilters();
    return false;
  }
}

bool TVideoCapture::GetIsDVSource() {
  // DV sources deliver interleaved streams; no device of this platform does.
  if (!VStreamConf) return false;
  MediaType mt;
  return Succeeded(VStreamConf->GetFormat(mt)) && mt.majortype == kMediaTypeInterleaved;
}

bool TVideoCapture::BuildGraph() {
  if (!Graph) return false;
  if (FGraphBuilt) return true;
  if (!VCap) return false;
  if (FWantAudio && !(GetIsDVSource() && FWantDVAudio)) return false;  // no audio source exists here
  if (FWantCapture) {
    FCaptureFile = FUseTempFile ? FTempCaptureFileName : FCaptureFileName;
    if (FCaptureFile.empty()) {
      ErrMsg("Capture filename required!", 0);
      return false;
    }
    if (FDoPreallocFile && !AllocCaptureFile(FPreallocFileSize)) {
      ErrMsg("Can't allocate space for capture file! Disk full?", 0);
      return false;
    }
  }
  try {
    // The smart tee takes whatever the capture pin gives.
    MediaType upstream;
    const HRESULT teeHr = Builder->OutputType(TGraphNode::Capture, upstream);
    if (Failed(teeHr)) ErrMsgException("Can't add SmartTee", teeHr);
    Graph->AddSmartTee("MySmartTee");
    const TGraphNode vsource = TGraphNode::SmartTee;
    if (FWantCapture) {
      // No writer of capture files exists on this platform.
      ErrMsgException("Can't set capture file!", E_NOTIMPL);
    }
    if (FWantPreview && !RenderVideoPreview(vsource)) ErrMsgException("Can't render preview stream!", E_FAIL);
    if (!FindVideoWindow() && FWantPreview) ErrMsg("This graph cannot preview!", 0);

    HRESULT hr = FUseFrameRate ? E_FAIL : S_OK;
    MediaType mt;
    if (VStreamConf && FUseFrameRate && Succeeded(VStreamConf->GetFormat(mt))) {
      if (mt.formattype == kFormatVideoInfo) {
        mt.AvgTimePerFrame = static_cast<int64_t>(std::nearbyint(10000000.0 / FFrameRate));
        hr = VStreamConf->SetFormat(mt);
        if (Failed(hr)) ErrMsg("%x: can't set preview frame rate!", hr);
      }
    }
    if (Failed(hr)) ErrMsg("Cannot set frame rate for capture!", 0);

    MediaEvent = Graph.get();
    MediaEvent->SetNotifyWindow(this);
    GetAvailableDialogs();
    FGraphBuilt = true;
    return true;
  } catch (const EVideoCaptureError&) {
    // A half-built graph is torn down as well, so nothing of it is left to run.
    TearDownGraphParts();
    return false;
  }
}

bool TVideoCapture::RenderVideoPreview(TGraphNode VSource) {
  if (FWantBitmaps) {
    TSampleGrabber* g = Graph->FindGrabber("MyBitmapGrabber");
    if (!g) g = Graph->AddGrabber("MyBitmapGrabber");
    if (FPixelFormat != pfDevice) {
      MediaType mt;
      mt.majortype = kMediaTypeVideo;
      mt.formattype = kFormatVideoInfo;
      switch (FPixelFormat) {
        case pf1bit: mt.subtype = kSubtypeRGB1; break;
        case pf4bit: mt.subtype = kSubtypeRGB4; break;
        case pf8bit: mt.subtype = kSubtypeRGB8; break;
        case pf15bit: mt.subtype = kSubtypeRGB555; break;
        case pf16bit: mt.subtype = kSubtypeRGB565; break;
        case pf32bit: mt.subtype = kSubtypeRGB32; break;
        default: mt.subtype = kSubtypeRGB24; break;
      }
      g->SetMediaType(mt);
    }
    if (Failed(Builder->RenderStream(VSource, false))) {
      ErrMsg("Can't install SampleGrabber. Probably wrong color depth used?", 0);
      Graph->RemoveGrabber();
      Grabber = nullptr;
    } else {
      Grabber = g;
      g->SetBufferSamples(false);
      g->SetOneShot(false);
      FGrabberCB->SetOwner(this);
      g->SetCallback(FGrabberCB.get(), 1);
      VSource = TGraphNode::Grabber;
    }
  }
  return Succeeded(Builder->RenderStream(VSource, true));
}

bool TVideoCapture::FindVideoWindow() {
  TVideoRenderer* renderer = Graph ? Graph->Renderer() : nullptr;
  if (!renderer) return false;
  if (!FVideoWindow) FVideoWindow = new TVideoWindow(this, renderer);
  ResizeWindow();
  FVideoWindow->show();
  return true;
}

void TVideoCapture::ResizeWindow() {
  if (FVideoWindow) FVideoWindow->setGeometry(0, 0, width(), height());
}

void TVideoCapture::TearDownGraph() {
  if (FGraphBuilt) TearDownGraphParts();
}

void TVideoCapture::TearDownGraphParts() {
  StopCapture();
  StopPreview();
  if (Graph) Graph->Stop();
  if (FVideoWindow) {
    FVideoWindow->hide();
    delete FVideoWindow;
    FVideoWindow = nullptr;
  }
  Grabber = nullptr;
  if (MediaEvent) MediaEvent->SetNotifyWindow(nullptr);
  MediaEvent = nullptr;
  if (Graph) Graph->RemoveDownstream();
  FGraphBuilt = false;
}

bool TVideoCapture::InitMFilters(const TGUID& COMGUID, const TGUID& CMOSGUID) {
  COMFilter.reset();
  CMOSFilter.reset();
  if (!VCap) return false;
  COMFilter = std::dynamic_pointer_cast<IOcuvantCommon>(VCap->QueryInterface(COMGUID));
  CMOSFilter = std::dynamic_pointer_cast<IOcuvantCMOS>(VCap->QueryInterface(CMOSGUID));
  return COMFilter != nullptr || CMOSFilter != nullptr;
}

// ---- preview ----

bool TVideoCapture::StartPreview(bool showError) {
  if (Graph && FPreviewing) return true;
  if (!BuildGraph()) return false;
  if (FWantCapture) ControlCaptureStream(false);
  const HRESULT hr = Graph->Run();
  if (Succeeded(hr)) {
    FPreviewing = true;
    if (OnStartPreview) OnStartPreview(this);
    return true;
  }
  Graph->Stop();
  if (showError) ErrMsg("Error %x: Cannot run preview graph!", hr);
  return false;
}

bool TVideoCapture::StopPreview() {
  if (!FPreviewing) return false;
  if (Graph) {
    const HRESULT hr = Graph->Stop();
    if (Failed(hr)) {
      ErrMsg("Error %x: Cannot stop preview graph!", hr);
      return false;
    }
  }
  update();
  if (OnStopPreview) OnStopPreview(this);
  FPreviewing = false;
  return true;
}

bool TVideoCapture::TestPreview() {
  if (Graph && FPreviewing) return false;
  try {
    if (!BuildGraph()) return false;
    const HRESULT hr = Graph->Run();
    Graph->Stop();
    return Succeeded(hr);
  } catch (...) {
    return false;
  }
}

// ---- graph events ----

void TVideoCapture::GraphEvent(TWMSampleCaptured&) {
  const bool wasCapturing = FCapturing;
  const bool wasPreviewing = FPreviewing;
  if (!MediaEvent) return;
  int32_t code;
  intptr_t p1, p2;
  // A handler may tear the graph down; the event interface goes with it.
  while (MediaEvent && MediaEvent->GetEvent(code, p1, p2)) {
    if (code == EC_USERABORT) {
      DoAborted();
    } else if (code == EC_DEVICE_LOST) {
      DoDeviceLost();
    }
  }
  if ((wasCapturing != FCapturing || wasPreviewing != FPreviewing) && FWantPreview) StartPreview(true);
}

void TVideoCapture::DoAborted() {
  StopCapture();
  if (OnAborted) OnAborted(this);
}

void TVideoCapture::DoDeviceLost() {
  if (OnDeviceLost) OnDeviceLost(this);
  COMFilter.reset();
  CMOSFilter.reset();
  StopCapture();
  StopPreview();
}

// ---- posted messages ----

void TVideoCapture::PostMessage(const TWMSampleCaptured& Msg) {
  bool wake = false;
  {
    std::lock_guard lock(FMessageLock);
    FMessages.push_back(Msg);
    if (!FWakePending) FWakePending = wake = true;
  }
  if (!wake) return;
  if (FWakeFd >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(FWakeFd, &one, sizeof one);
  } else {
    // Without a counter descriptor (none was left to the process) the toolkit carries the wake-up.
    QMetaObject::invokeMethod(this, [this] { ProcessPostedMessages(); }, Qt::QueuedConnection);
  }
}

void TVideoCapture::ProcessPostedMessages() {
  if (FWakeFd >= 0) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(FWakeFd, &count, sizeof count);
  }
  // One at a time: a handler may run a modal loop that comes back here, and the order holds.
  for (;;) {
    TWMSampleCaptured msg;
    {
      std::lock_guard lock(FMessageLock);
      if (FMessages.empty()) {
        FWakePending = false;
        return;
      }
      msg = FMessages.front();
      FMessages.pop_front();
    }
    DispatchMessage(msg);
  }
}

void TVideoCapture::DispatchMessage(TWMSampleCaptured& Msg) {
  switch (Msg.Msg) {
    case WM_FGNOTIFY: GraphEvent(Msg); break;
    case WM_SAMPLECAPTURED: BitmapGrabbed(Msg); break;
    case WM_SAMPLEPASSED: FramePassed(Msg); break;
    case WM_VIDEOFRAME:
      if (FVideoWindow && Graph && Msg.GrabberCB == Graph->Renderer()) FVideoWindow->RefreshFrame();
      break;
    default: break;
  }
}

// ---- widget ----

void TVideoCapture::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ResizeWindow();
}

void TVideoCapture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor::fromRgb(static_cast<QRgb>(FColor)));
}

void TVideoCapture::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick) OnClick(this);
}

void TVideoCapture::mouseDoubleClickEvent(QMouseEvent* event) {
  QWidget::mouseDoubleClickEvent(event);
  if (OnDblClick) OnDblClick(this);
}

}  // namespace capture
