// Capture modes and their text, frame rate and DV size, choosing devices and compressors,
// saving and restoring a configuration, file capture and the driver dialogs.
#include <QTimer>
#include <cmath>
#include <filesystem>

#include "capture/utils.h"
#include "capture/vcap.h"
#include "capture/vcap_graph.h"
#include "platform/base/byte_order.h"
#include "platform/base/clock.h"
#include "platform/base/number_parse.h"
#include "platform/base/stream.h"

namespace capture {

using namespace platform::video;

namespace {

struct SubTypeName {
  TGUID subtype;
  const char* name;
};
// Searched in order; the first entry with a mode's subtype names it.
const SubTypeName MediaSubTypeNames[13] = {
    {kSubtypeYVU9, "(YVU9)"},     {kSubtypeY411, "(Y411)"},     {kSubtypeY41P, "(Y41P)"},
    {kSubtypeYUY2, "(YUY2)"},     {kSubtypeYVYU, "(YVYU)"},     {kSubtypeUYVY, "(UYVY)"},
    {kSubtypeY211, "(Y211)"},     {kSubtypeRGB24, "(RGB24)"},   {kSubtypeRGB32, "(RGB32)"},
    {kSubtypeRGB565, "(RGB565)"}, {kSubtypeRGB555, "(RGB555)"}, {kSubtypeARGB32, "(ARGB32)"},
    {kSubtypeRGB565, "(RGB565)"},
};

double RateOf(int64_t frameTime) { return frameTime > 0 ? 10000000.0 / static_cast<double>(frameTime) : 0.0; }

void FillFromHeader(const MediaType& mt, TVCapMode& mode) {
  mode.MediaType = mt.majortype;
  mode.MediaSubType = mt.subtype;
  if (mt.HasVideoHeader()) {
    mode.Width = std::abs(mt.bmiHeader.biWidth);
    mode.Height = std::abs(mt.bmiHeader.biHeight);
    mode.BitCount = mt.bmiHeader.biBitCount;
  }
}

template <typename F>
void Raise(const F& handler, TVideoCapture* sender) {
  if (!handler) return;
  try {
    handler(sender);
  } catch (...) {
    // A failing handler does not undo the change it was told about.
  }
}

}  // namespace

// ---- modes ----

bool IsEqualModes(const TVCapMode& a, const TVCapMode& b) {
  return a.MediaSubType == b.MediaSubType && a.Height == b.Height && a.Width == b.Width && a.BitCount == b.BitCount;
}

bool IsEqualModes(const TACapMode& a, const TACapMode& b) {
  if (a.MediaSubType != b.MediaSubType || a.Channels != b.Channels) return false;
  if (a.MediaSubType == kSubtypePCM) return a.SampleRate == b.SampleRate && a.SampleSize == b.SampleSize;
  return a.AvgSampleRate == b.AvgSampleRate && a.SampleRate == b.SampleRate;
}

std::string GetModeString(const TVCapMode& mode) {
  std::string text = std::to_string(mode.Width) + "x" + std::to_string(mode.Height) + "x" +
                     std::to_string(mode.BitCount) + "b";
  for (const SubTypeName& entry : MediaSubTypeNames) {
    if (entry.subtype == mode.MediaSubType) return text + " " + entry.name;
  }
  return text;
}

int TVideoCapture::GetVCapModeCount() {
  if (GetIsDVSource()) return DVCapModesCount;
  return VStreamConf ? VStreamConf->CapabilityCount() : 0;
}

TVCapMode TVideoCapture::GetVCapMode() {
  TVCapMode mode;
  if (!VStreamConf || GetIsDVSource()) return mode;  // no DV decoder exists to ask
  MediaType mt;
  if (Succeeded(VStreamConf->GetFormat(mt))) FillFromHeader(mt, mode);
  return mode;
}

TVCapMode TVideoCapture::GetVCapModes(int i) {
  TVCapMode mode;
  if (!VStreamConf || GetIsDVSource() || i < 0 || i >= GetVCapModeCount()) return mode;
  VideoStreamCaps caps;
  if (!VStreamConf->GetCapability(i, caps)) return mode;
  FillFromHeader(caps.mt, mode);
  mode.FrameRate = RateOf(caps.mt.AvgTimePerFrame);
  mode.MinFrameRate = RateOf(caps.MaxFrameInterval);
  mode.MaxFrameRate = RateOf(caps.MinFrameInterval);
  return mode;
}

bool TVideoCapture::SetVCapMode(int i) {
  if (FCapturing) return false;
  TearDownGraph();  // the caller's next build takes the new mode
  if (GetIsDVSource()) {
    static const TDVResolution DVRes1[DVCapModesCount] = {dvrFull, dvrHalf, dvrQuater, dvrDC};
    if (i >= 0 && i < DVCapModesCount) FDVResolution = DVRes1[i];
    return false;
  }
  if (!VStreamConf || i < 0 || i >= GetVCapModeCount()) return false;
  VideoStreamCaps caps;
  if (!VStreamConf->GetCapability(i, caps) || Failed(VStreamConf->SetFormat(caps.mt))) return false;
  Raise(OnChangeVCapMode, this);
  return true;
}

bool TVideoCapture::SetVCapMode(const TVCapMode& mode) {
  if (IsEqualModes(GetVCapMode(), mode)) return true;
  const int count = GetVCapModeCount();
  for (int i = 0; i < count; ++i) {
    if (IsEqualModes(GetVCapModes(i), mode)) return SetVCapMode(i);
  }
  return false;
}

int TVideoCapture::GetVCapModeIdx() {
  const TVCapMode current = GetVCapMode();
  const int count = GetVCapModeCount();
  for (int i = 0; i < count; ++i) {
    if (IsEqualModes(GetVCapModes(i), current)) return i;
  }
  return -1;
}

// Audio: no audio source exists on this platform, so there is no stream configuration.
int TVideoCapture::GetACapModeCount() { return 0; }
TACapMode TVideoCapture::GetACapMode() { return TACapMode{}; }
TACapMode TVideoCapture::GetACapModes(int) { return TACapMode{}; }
bool TVideoCapture::SetACapMode(int) { return false; }
bool TVideoCapture::SetACapMode(const TACapMode& mode) { return IsEqualModes(GetACapMode(), mode); }
int TVideoCapture::GetACapModeIdx() { return -1; }

// ---- settings ----

void TVideoCapture::SetFrameRate(double Value) {
  FFrameRate = (Value < 1 || Value > 50) ? DefaultFrameRate : Value;
}

void TVideoCapture::SetDVResolution(TDVResolution Value) {
  if (FCapturing) return;
  FDVResolution = Value;
  if (Graph && GetIsDVSource() && Value != dvrDontWorry) TearDownGraph();
}

void TVideoCapture::SetMasterStream(int32_t) {
  // Only a file capture's multiplexer takes a master stream, and none exists here.
  ErrMsg("SetMasterStream failed!", 0);
}

void TVideoCapture::SetTempCaptureFileName(const std::string& Value) { FTempCaptureFileName = Value; }

// ---- devices and compressors ----

void TVideoCapture::ChooseFilters(std::optional<TMoniker>& video, const std::optional<TMoniker>& newVideo,
                                  std::optional<TMoniker>& audio, const std::optional<TMoniker>& newAudio,
                                  bool ForceGraphRebuild, const TNotifyEvent& changed) {
  if (!ForceGraphRebuild && newVideo == video && newAudio == audio) return;
  video = newVideo;
  audio = newAudio;
  TearDownGraph();
  InitCapFilters();
  BuildGraph();
  if (FWantPreview) StartPreview(true);
  Raise(changed, this);
}

namespace {

// The video and the audio list of a kind, built first when empty.
std::pair<TCapDeviceList*, TCapDeviceList*> Lists(bool compressors) {
  TCaptureDeviceLists& l = DeviceLists();
  if (compressors) {
    if (l.VideoCompressorsList.empty()) BuildVideoCompressorsList();
    if (l.AudioCompressorsList.empty()) BuildAudioCompressorsList();
    return {&l.VideoCompressorsList, &l.AudioCompressorsList};
  }
  if (l.VideoDevicesList.empty()) BuildVideoDevicesList();
  if (l.AudioDevicesList.empty()) BuildAudioDevicesList();
  return {&l.VideoDevicesList, &l.AudioDevicesList};
}

std::optional<TMoniker> ByIndex(const TCapDeviceList& list, int index) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return std::nullopt;
  return list[static_cast<size_t>(index)].Moniker;
}

}  // namespace

void TVideoCapture::ChooseDevices(const std::optional<TMoniker>& Video, const std::optional<TMoniker>& Audio,
                                  bool ForceGraphRebuild) {
  ChooseFilters(mVideo, Video, mAudio, Audio, ForceGraphRebuild, OnChangeDevice);
}

void TVideoCapture::ChooseDevices(const std::string& szVideo, const std::string& szAudio, bool ForceGraphRebuild) {
  const auto [video, audio] = Lists(false);
  ChooseDevices(GetMonikerByString(*video, szVideo), GetMonikerByString(*audio, szAudio), ForceGraphRebuild);
}

void TVideoCapture::ChooseDevices(int numVideo, int numAudio, bool ForceGraphRebuild) {
  const auto [video, audio] = Lists(false);
  ChooseDevices(ByIndex(*video, numVideo), ByIndex(*audio, numAudio), ForceGraphRebuild);
}

void TVideoCapture::ChooseCompressors(const std::optional<TMoniker>& VComp, const std::optional<TMoniker>& AComp,
                                      bool ForceGraphRebuild) {
  ChooseFilters(mVComp, VComp, mAComp, AComp, ForceGraphRebuild, OnChangeCompressor);
}

void TVideoCapture::ChooseCompressors(const std::string& szVComp, const std::string& szAComp,
                                      bool ForceGraphRebuild) {
  const auto [video, audio] = Lists(true);
  ChooseCompressors(GetMonikerByString(*video, szVComp), GetMonikerByString(*audio, szAComp), ForceGraphRebuild);
}

void TVideoCapture::ChooseCompressors(int numVComp, int numAComp, bool ForceGraphRebuild) {
  const auto [video, audio] = Lists(true);
  ChooseCompressors(ByIndex(*video, numVComp), ByIndex(*audio, numAComp), ForceGraphRebuild);
}

namespace {
// The entry of `list` holding `moniker`; when none does, the list is rebuilt and asked once more.
int IndexWithRebuild(TCapDeviceList& list, void (*rebuild)(), const std::optional<TMoniker>& moniker) {
  int i = GetIntByMoniker(list, moniker);
  if (i < 0) {
    rebuild();
    i = GetIntByMoniker(list, moniker);
  }
  return i;
}
std::string NameWithRebuild(TCapDeviceList& list, void (*rebuild)(), const std::optional<TMoniker>& moniker) {
  const int i = IndexWithRebuild(list, rebuild, moniker);
  return i < 0 ? std::string() : list[static_cast<size_t>(i)].DeviceNameInList;
}
}  // namespace

std::string TVideoCapture::GetVCapSource() {
  return NameWithRebuild(DeviceLists().VideoDevicesList, BuildVideoDevicesList, mVideo);
}
std::string TVideoCapture::GetACapSource() {
  return NameWithRebuild(DeviceLists().AudioDevicesList, BuildAudioDevicesList, mAudio);
}
std::string TVideoCapture::GetVCompDevice() {
  return NameWithRebuild(DeviceLists().VideoCompressorsList, BuildVideoCompressorsList, mVComp);
}
std::string TVideoCapture::GetACompDevice() {
  return NameWithRebuild(DeviceLists().AudioCompressorsList, BuildAudioCompressorsList, mAComp);
}
int TVideoCapture::GetVCapSourceIdx() {
  return IndexWithRebuild(DeviceLists().VideoDevicesList, BuildVideoDevicesList, mVideo);
}
int TVideoCapture::GetACapSourceIdx() {
  return IndexWithRebuild(DeviceLists().AudioDevicesList, BuildAudioDevicesList, mAudio);
}
int TVideoCapture::GetVCompDeviceIdx() {
  return IndexWithRebuild(DeviceLists().VideoCompressorsList, BuildVideoCompressorsList, mVComp);
}
int TVideoCapture::GetACompDeviceIdx() {
  return IndexWithRebuild(DeviceLists().AudioCompressorsList, BuildAudioCompressorsList, mAComp);
}

// ---- configuration ----

void TVideoCapture::SaveGraph(TGraphConfig* config) {
  if (!config) return;
  config->Clear();
  config->UseTempFile = FUseTempFile;
  config->WantBitmaps = FWantBitmaps;
  config->DoPreallocFile = FDoPreallocFile;
  config->WantCapture = FWantCapture;
  config->WantPreview = FWantPreview;
  config->WantDVAudio = FWantDVAudio;
  config->WantAudio = FWantAudio;
  config->WantAudioPreview = FWantAudioPreview;
  config->PreallocFileSize = FPreallocFileSize;
  config->CaptureFileName = FCaptureFileName;
  config->TempCaptureFileName = FTempCaptureFileName;
  config->DVResolution = FDVResolution;
  config->PixelFormat = FPixelFormat;
  config->ACapMode = GetACapMode();
  config->VCapMode = GetVCapMode();
  config->VCompState.clear();  // no compressor here has a state to keep
  config->VCapSource = VCapName();
  config->ACapSource = ACapName();
  config->VComp = VCompName();
  config->AComp = ACompName();
}

void TVideoCapture::RestoreGraph(TGraphConfig* config) {
  if (!config) return;
  TearDownGraph();
  FreeCapFilters();
  FUseTempFile = config->UseTempFile;
  FWantBitmaps = config->WantBitmaps;
  FDoPreallocFile = config->DoPreallocFile;
  FWantCapture = config->WantCapture;
  FWantPreview = config->WantPreview;
  FWantDVAudio = config->WantDVAudio;
  FWantAudio = config->WantAudio;
  FWantAudioPreview = config->WantAudioPreview;
  FPreallocFileSize = config->PreallocFileSize;
  SetDVResolution(config->DVResolution);
  FPixelFormat = config->PixelFormat;
  if (!config->CaptureFileName.empty()) FCaptureFileName = config->CaptureFileName;
  if (!config->TempCaptureFileName.empty()) SetTempCaptureFileName(config->TempCaptureFileName);
  BuildDevicesList();
  const TCaptureDeviceLists& lists = DeviceLists();
  mVideo = GetMonikerByString(lists.VideoDevicesList, config->VCapSource);
  mAudio = GetMonikerByString(lists.AudioDevicesList, config->ACapSource);
  mAComp = GetMonikerByString(lists.AudioCompressorsList, config->AComp);
  mVComp = GetMonikerByString(lists.VideoCompressorsList, config->VComp);
  InitCapFilters();
  SetACapMode(config->ACapMode);
  SetVCapMode(config->VCapMode);
  BuildGraph();
  if (FWantPreview) StartPreview(true);
  Raise(OnChangeDevice, this);
  Raise(OnChangeCompressor, this);
}

void TGraphConfig::Clear() {
  WantCapture = WantPreview = WantBitmaps = WantAudio = WantDVAudio = false;
  WantAudioPreview = true;
  DoPreallocFile = false;
  PreallocFileSize = 0;
  UseTempFile = false;
  TempCaptureFileName = "captemp.avi";
  CaptureFileName = "capture.avi";
  ACapMode = TACapMode{};
  VCapMode = TVCapMode{};
  DVResolution = dvrFull;
  PixelFormat = pf24bit;
  VCapSource.clear();
  ACapSource.clear();
  VComp.clear();
  AComp.clear();
}

std::string TGraphConfig::SaveGraph() const {
  std::vector<std::string> e;
  if (!WantBitmaps) e.push_back("WantBitmaps=0");
  if (!WantCapture) e.push_back("WantCapture=0");
  if (!WantPreview) e.push_back("WantPreview=0");
  if (!WantDVAudio) e.push_back("WantDVAudio=0");
  if (!WantAudio) e.push_back("WantAudio=0");
  if (!WantAudioPreview) e.push_back("WantAudioPreview=0");
  if (!DoPreallocFile) e.push_back("DoPreallocFile=0");
  if (!UseTempFile) e.push_back("UseTempFile=0");
  e.push_back("PreallocFileSize=" + std::to_string(PreallocFileSize));
  e.push_back("TempCaptureFileName=" + TempCaptureFileName);
  e.push_back("CaptureFileName=" + CaptureFileName);
  e.push_back("DVResolution=" + std::to_string(static_cast<int>(DVResolution)));
  e.push_back("PixelFormat=" + std::to_string(static_cast<int>(PixelFormat)));
  e.push_back("VCapSource=" + VCapSource);
  e.push_back("ACapSource=" + ACapSource);
  e.push_back("AComp=" + AComp);
  e.push_back("VComp=" + VComp);
  e.push_back("ACapModeMediaSubType=" + GUIDToStr(ACapMode.MediaSubType));
  e.push_back("ACapModeSampleRate=" + std::to_string(ACapMode.SampleRate));
  e.push_back("ACapModeAvgSampleRate=" + std::to_string(ACapMode.AvgSampleRate));
  e.push_back("ACapModeSampleSize=" + std::to_string(ACapMode.SampleSize));
  e.push_back("ACapModeChannels=" + std::to_string(ACapMode.Channels));
  e.push_back("VCapModeMediaSubType=" + GUIDToStr(VCapMode.MediaSubType));
  e.push_back("VCapModeWidth=" + std::to_string(VCapMode.Width));
  e.push_back("VCapModeHeight=" + std::to_string(VCapMode.Height));
  e.push_back("VCapModeBits=" + std::to_string(VCapMode.BitCount));
  e.push_back("VCompState=" + BytesToStr(VCompState));
  return CommaText(e);
}

void TGraphConfig::RestoreGraph(const std::string& layout) {
  Clear();
  const std::vector<std::string> e = ParseCommaText(layout);
  auto flag = [&](const char* name) { return platform::StrToIntDef(ValueOf(e, name), 1) > 0; };
  auto number = [&](const char* name) { return platform::StrToIntDef(ValueOf(e, name), 0); };
  WantBitmaps = flag("WantBitmaps");
  WantCapture = flag("WantCapture");
  WantPreview = flag("WantPreview");
  WantDVAudio = flag("WantDVAudio");
  WantAudio = flag("WantAudio");
  WantAudioPreview = flag("WantAudioPreview");
  DoPreallocFile = flag("DoPreallocFile");
  UseTempFile = flag("UseTempFile");
  PreallocFileSize = number("PreallocFileSize");
  TempCaptureFileName = ValueOf(e, "TempCaptureFileName");
  if (TempCaptureFileName.empty()) TempCaptureFileName = "captemp.avi";
  CaptureFileName = ValueOf(e, "CaptureFileName");
  if (CaptureFileName.empty()) CaptureFileName = "capture.avi";
  const int dv = platform::StrToIntDef(ValueOf(e, "DVResolution"), 1) & 0xFF;
  DVResolution = dv > dvrDC ? dvrFull : static_cast<TDVResolution>(dv);
  const int pf = platform::StrToIntDef(ValueOf(e, "PixelFormat"), pf24bit) & 0xFF;
  PixelFormat = pf > pfCustom ? pf24bit : static_cast<TPixelFormat>(pf);
  VCapSource = ValueOf(e, "VCapSource");
  ACapSource = ValueOf(e, "ACapSource");
  AComp = ValueOf(e, "AComp");
  VComp = ValueOf(e, "VComp");
  ACapMode.MediaSubType = StrToGUID(ValueOf(e, "ACapModeMediaSubType"));
  ACapMode.SampleRate = number("ACapModeSampleRate");
  ACapMode.AvgSampleRate = number("ACapModeAvgSampleRate");
  ACapMode.SampleSize = number("ACapModeSampleSize");
  ACapMode.Channels = number("ACapModeChannels");
  VCapMode.MediaSubType = StrToGUID(ValueOf(e, "VCapModeMediaSubType"));
  VCapMode.Width = number("VCapModeWidth");
  VCapMode.Height = number("VCapModeHeight");
  VCapMode.BitCount = number("VCapModeBits");
  VCompState = StrToBytes(ValueOf(e, "VCompState"));
}

bool TGraphConfig::SaveGraphToStream(platform::TStream* Stream) const {
  if (!Stream) return false;
  const std::string text = SaveGraph();
  uint8_t length[4];
  platform::StoreLE32(length, static_cast<uint32_t>(text.size()));
  if (Stream->Write(length, 4) != 4) return false;
  return Stream->Write(text.data(), static_cast<int32_t>(text.size())) == static_cast<int32_t>(text.size());
}

bool TGraphConfig::RestoreGraphFromStream(platform::TStream* Stream) {
  if (!Stream) return false;
  uint8_t length[4];
  if (Stream->Read(length, 4) != 4) return false;
  const uint32_t n = platform::LoadLE32(length);
  // A length beyond what the stream holds is damage, not a reason to allocate it.
  const int64_t left = Stream->GetSize() - Stream->GetPosition();
  if (n > INT32_MAX || static_cast<int64_t>(n) > left) return false;
  std::string text(n, '\0');
  if (Stream->Read(text.data(), static_cast<int32_t>(n)) != static_cast<int32_t>(n)) return false;
  RestoreGraph(text);
  return true;
}

// ---- file capture ----

bool TVideoCapture::StartCapture(bool) {
  if (!FWantCapture || FCapturing) return false;
  FCaptureTimer->stop();
  // Building with WantCapture fails with "Can't set capture file!": this platform has no
  // writer of capture files. A graph built before WantCapture was set has no file branch.
  if (!BuildGraph()) return false;
  ErrMsg("Can't set capture file!", E_NOTIMPL);
  return false;
}

bool TVideoCapture::StopCapture() {
  if (!FCapturing) return false;
  FCaptureTimer->stop();
  if (Graph) {
    const HRESULT hr = Graph->Stop();
    if (Failed(hr)) {
      ErrMsg("Error %x: Cannot stop graph!", hr);
      return false;
    }
  }
  FCapStopTime = platform::GetTickCount();
  FCapturing = false;
  FPreviewing = false;
  if (FUseTempFile && SaveCaptureFile(FCaptureFileName)) {
    std::error_code ec;
    std::filesystem::remove(FCaptureFile, ec);
  }
  Raise(OnCaptureProgress, this);
  update();
  if (OnStopCapture) OnStopCapture(this);
  if (FWantPreview) StartPreview(true);
  return true;
}

void TVideoCapture::CaptureProgress() {
  FCapTime = platform::GetTickCount() - static_cast<uint32_t>(FCapStartTime);
  if (!FCapturing) return;
  if (FUseTimeLimit && FCapTime / 1000 >= FTimeLimit) {
    StopCapture();
    if (FWantPreview) StartPreview(true);
  } else {
    Raise(OnCaptureProgress, this);
  }
}

bool TVideoCapture::ControlCaptureStream(bool) {
  // Stream control acts on the file branch's multiplexer, which this platform never builds.
  return false;
}

bool TVideoCapture::AllocCaptureFile(int32_t) { return false; }

bool TVideoCapture::SaveCaptureFile(const std::string& FileName) {
  if (FCaptureFile.empty()) return false;
  std::error_code ec;
  std::filesystem::copy_file(FCaptureFile, FileName, std::filesystem::copy_options::overwrite_existing, ec);
  return !ec;
}

// ---- dialogs ----

void TVideoCapture::GetAvailableDialogs() {
  // No device or filter of this platform offers driver dialogs or property pages.
  FDialogs = 0;
}

bool TVideoCapture::ShowDialog(TCaptureDialog DialogType) {
  if ((FDialogs & (1u << DialogType)) == 0 || FCapturing) return false;
  // Not reached: GetAvailableDialogs offers no dialog on this platform.
  return false;
}

}  // namespace capture
