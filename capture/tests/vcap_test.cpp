// The capture control: device lists, binding and building the graph, preview, graph events,
// device loss and the message boxes.
#include "capture/vcap.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>

#include "capture/tests/capture_test_support.h"
#include "capture/vcap_graph.h"

namespace capture {
namespace {

using namespace platform::video;
using test::CaptureTest;
using test::PumpUntil;

std::vector<std::string> ListNames() {
  std::vector<std::string> names;
  for (const auto& d : DeviceLists().VideoDevicesList) names.push_back(d.DeviceNameInList);
  return names;
}

SimulatedCameraConfig Named(const std::string& name) {
  SimulatedCameraConfig c;
  c.name = name;
  return c;
}

TEST_F(CaptureTest, DeviceNamesGetNumberedAndBlankNamesSkipped) {
  for (const char* name : {"Cam", "Cam", " ", "Cam ", "", "Other", "Cam"}) AddCamera(Named(name));
  BuildVideoDevicesList();
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"Cam", "Cam (2)", "Cam ", "Other", "Cam (3)"}));
  const auto& list = DeviceLists().VideoDevicesList;
  EXPECT_EQ(list[1].DeviceName, "Cam");
  EXPECT_EQ(FindDeviceNum("Cam", list), 4);
  EXPECT_EQ(GetStringByMoniker(list, list[4].Moniker), "Cam (3)");
  EXPECT_EQ(GetIntByMoniker(list, GetMonikerByString(list, "Cam (2)")), 1);
  EXPECT_EQ(GetMonikerByString(list, "Cam (4)"), std::nullopt);
  EXPECT_EQ(GetIntByMoniker(list, std::nullopt), -1);
  // No audio devices or compressors on this platform.
  BuildDevicesList();
  EXPECT_TRUE(DeviceLists().AudioDevicesList.empty());
  EXPECT_TRUE(DeviceLists().VideoCompressorsList.empty());
}

TEST_F(CaptureTest, CachedListUnlessRefreshed) {
  AddCamera();
  EXPECT_EQ(GetVideoDevicesList(false), (std::vector<std::string>{"Ocuvant USB-C"}));
  AddCamera();
  EXPECT_EQ(GetVideoDevicesList(false), (std::vector<std::string>{"Ocuvant USB-C"}));
  EXPECT_EQ(GetVideoDevicesList(true), (std::vector<std::string>{"Ocuvant USB-C", "Ocuvant USB-C (2)"}));
}

TEST_F(CaptureTest, InitNeedsAVideoDevice) {
  TVideoCapture cap;
  EXPECT_FALSE(cap.Init());
  AddCamera();
  EXPECT_TRUE(cap.Init());
  EXPECT_NE(cap.CaptureGraph(), nullptr);
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(CaptureTest, FrameRateBecomesTheDevicesFrameTime) {
  struct Case {
    double rate;
    int64_t frameTime;
  };
  const Case cases[] = {{15, 666667}, {7, 1428571}, {2, 5000000}};
  AddCamera(OnRequest());
  for (const Case& c : cases) {
    TVideoCapture cap;
    test::CaptureTest::VideoOnly(cap);
    cap.SetUseFrameRate(true);
    cap.SetFrameRate(c.rate);
    cap.ChooseDevices(0, -1);
    ASSERT_TRUE(cap.Previewing());
    MediaType mt;
    ASSERT_EQ(cap.VCapFilter()->GetFormat(mt), S_OK);
    EXPECT_EQ(mt.AvgTimePerFrame, c.frameTime) << c.rate;
  }
  EXPECT_TRUE(ui_.Messages().empty());

  // A device announcing its format with the second header form cannot take the frame time.
  SimulatedCameraConfig v2 = OnRequest(Named("Second"));
  v2.modes[0].videoInfo2 = true;
  AddCamera(v2);
  TVideoCapture cap;
  test::CaptureTest::VideoOnly(cap);
  cap.SetUseFrameRate(true);
  cap.ChooseDevices("Second", "");
  EXPECT_TRUE(cap.Previewing());
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Cannot set frame rate for capture!"}));
}

TEST_F(CaptureTest, PreviewStartsOnceAndStops) {
  auto cam = AddCamera();
  TVideoCapture cap;
  VideoOnly(cap);
  int started = 0, stopped = 0;
  cap.OnStartPreview = [&](TVideoCapture* s) {
    EXPECT_EQ(s, &cap);
    ++started;
  };
  cap.OnStopPreview = [&](TVideoCapture*) {
    // Raised before the flag drops.
    EXPECT_TRUE(cap.Previewing());
    ++stopped;
  };
  cap.ChooseDevices("Ocuvant USB-C", "");
  ASSERT_TRUE(cap.Previewing());
  EXPECT_EQ(started, 1);
  EXPECT_EQ(cap.VCapName(), "Ocuvant USB-C");
  EXPECT_EQ(cap.VCapIndex(), 0);
  EXPECT_EQ(cap.VCapFriendlyName(), "Ocuvant USB-C");
  EXPECT_EQ(cap.CaptureGraph()->FilterNames(),
            (std::vector<std::string>{"Ocuvant USB-C", "MySmartTee", "MyBitmapGrabber", "Video Renderer"}));
  EXPECT_TRUE(cap.StartPreview(true));  // running already: nothing changes
  EXPECT_EQ(started, 1);
  EXPECT_FALSE(cap.TestPreview());
  EXPECT_TRUE(cap.BuildGraph());  // built already

  // The video window fills the control and shows live frames.
  cap.show();
  cap.resize(320, 256);
  ASSERT_NE(cap.VideoWindow(), nullptr);
  EXPECT_EQ(cap.VideoWindow()->geometry(), QRect(0, 0, 320, 256));
  EXPECT_TRUE(PumpUntil([&] { return cap.VideoWindow()->HasFrame(); }));

  EXPECT_TRUE(cap.StopPreview());
  EXPECT_EQ(stopped, 1);
  EXPECT_FALSE(cap.Previewing());
  EXPECT_FALSE(cam->WaitForFrames(cam->FramesDelivered() + 1, 200));  // the stream is over
  EXPECT_FALSE(cap.StopPreview());
  EXPECT_TRUE(cap.TestPreview());
  EXPECT_FALSE(cap.Previewing());
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(CaptureTest, AudioWithoutAnAudioDeviceBuildsNothingSilently) {
  AddCamera();
  TVideoCapture cap;
  VideoOnly(cap);
  cap.SetWantAudio(true);
  cap.ChooseDevices(0, 0);  // no audio device to choose
  EXPECT_FALSE(cap.GraphBuilt());
  EXPECT_FALSE(cap.Previewing());
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(CaptureTest, FailingBuildShowsOneBoxAndLeavesNoHalfGraph) {
  auto cam = AddCamera();
  TVideoCapture cap;
  VideoOnly(cap);
  cap.SetWantPreview(false);
  cap.ChooseDevices(0, -1);
  ASSERT_TRUE(cap.GraphBuilt());
  cap.TearDownGraph();

  // File capture is wanted, but this platform writes no capture files.
  cap.SetWantCapture(true);
  cap.SetCaptureFileName("series.avi");
  ui_.ClearRecords();
  EXPECT_FALSE(cap.BuildGraph());
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text, "Can't set capture file!");
  EXPECT_EQ(ui_.Messages()[0].caption, "DirectShow - Capture");
  EXPECT_EQ(ui_.Messages()[0].kind, platform::ui::MsgKind::Error);
  EXPECT_FALSE(cap.GraphBuilt());
  EXPECT_EQ(cap.CaptureGraph()->FilterNames(), (std::vector<std::string>{"Ocuvant USB-C"}));
  EXPECT_EQ(cap.SampleGrabber(), nullptr);
  EXPECT_EQ(cap.VideoWindow(), nullptr);
  EXPECT_FALSE(cap.VCapFilter()->Streaming());
  EXPECT_FALSE(cap.CaptureFrame());

  cap.SetCaptureFileName("");
  ui_.ClearRecords();
  EXPECT_FALSE(cap.BuildGraph());
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Capture filename required!"}));
  EXPECT_FALSE(cap.StartCapture(false));
  EXPECT_FALSE(cap.Capturing());

  // Without file capture the same graph builds again.
  cap.SetWantCapture(false);
  EXPECT_TRUE(cap.BuildGraph());
}

TEST_F(CaptureTest, BindingWithoutADeviceOrToAGoneOne) {
  TVideoCapture cap;
  EXPECT_FALSE(cap.InitCapFilters());
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                "Error 0.\r\nCan't create video capture filter - propably you havn't video capture "
                                "device!"}));
  auto cam = AddCamera();
  BuildVideoDevicesList();
  const auto moniker = DeviceLists().VideoDevicesList.at(0).Moniker;
  cam->Unplug();
  ui_.ClearRecords();
  VideoOnly(cap);
  cap.ChooseDevices(moniker, std::nullopt);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                "Error 8007048F.\r\nCan't create video capture filter - propably you havn't video "
                                "capture device!"}));
  EXPECT_EQ(cap.VCapFilter(), nullptr);
  EXPECT_FALSE(cap.Previewing());
}

TEST_F(CaptureTest, PreviewThatCannotRunShowsItsCode) {
  SimulatedCameraConfig c;
  c.failsToStart = true;
  auto cam = AddCamera(c);
  TVideoCapture cap;
  VideoOnly(cap);
  cap.ChooseDevices(0, -1);
  EXPECT_FALSE(cap.Previewing());
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Error 80004005: Cannot run preview graph!"}));
  ui_.ClearRecords();
  EXPECT_FALSE(cap.StartPreview(false));
  EXPECT_FALSE(cap.TestPreview());
  EXPECT_TRUE(ui_.Messages().empty());
  cam->SetFailsToStart(false);
  EXPECT_TRUE(cap.TestPreview());
  EXPECT_TRUE(cap.StartPreview(true));
}

TEST_F(CaptureTest, DeviceLossIsReportedBeforeThePreviewStops) {
  auto cam = AddCamera();
  TVideoCapture cap;
  VideoOnly(cap);
  cap.ChooseDevices(0, -1);
  ASSERT_TRUE(cap.Previewing());
  ASSERT_TRUE(cap.InitMFilters(IID_OcuvantCOM, CLSID_Ocuvant24B13));
  ASSERT_NE(cap.MCMOSFilter(), nullptr);
  std::vector<std::string> order;
  cap.OnDeviceLost = [&](TVideoCapture* s) {
    order.push_back(s->Previewing() ? "lost while previewing" : "lost after stop");
    s->SetWantPreview(false);  // as the camera window does: no restart
  };
  cap.OnStopPreview = [&](TVideoCapture*) { order.push_back("stop"); };
  cam->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return !cap.Previewing(); }));
  EXPECT_EQ(order, (std::vector<std::string>{"lost while previewing", "stop"}));
  EXPECT_EQ(cap.MCMOSFilter(), nullptr);
  EXPECT_EQ(cap.MCOMFilter(), nullptr);
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(CaptureTest, DeviceLossWithPreviewStillWantedTriesARestart) {
  auto cam = AddCamera();
  TVideoCapture cap;
  VideoOnly(cap);
  cap.ChooseDevices(0, -1);
  int lost = 0;
  cap.OnDeviceLost = [&](TVideoCapture*) { ++lost; };
  cam->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return !ui_.Messages().empty(); }));
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Error 8007048F: Cannot run preview graph!"}));
  EXPECT_FALSE(cap.Previewing());
  // Plugged in again, the same control previews on request.
  cam->Replug();
  EXPECT_TRUE(cap.StartPreview(true));
}

TEST_F(CaptureTest, AbortEventStopsCaptureAndIsRaised) {
  AddCamera();
  TVideoCapture cap;
  VideoOnly(cap);
  cap.ChooseDevices(0, -1);
  int aborted = 0;
  cap.OnAborted = [&](TVideoCapture*) { ++aborted; };
  cap.CaptureGraph()->PostEvent(EC_USERABORT);
  cap.CaptureGraph()->PostEvent(1234);  // others are ignored
  ASSERT_TRUE(PumpUntil([&] { return aborted == 1; }));
  EXPECT_TRUE(cap.Previewing());
}

TEST_F(CaptureTest, ReplugedTwinIsToldApartByItsId) {
  auto first = AddCamera(OnRequest());
  auto second = AddCamera(OnRequest());
  TVideoCapture cap;
  VideoOnly(cap);
  cap.ChooseDevices("Ocuvant USB-C (2)", "");
  ASSERT_TRUE(cap.Previewing());
  cap.StopPreview();
  // The other twin goes away and comes back: now it is listed after ours.
  first->Unplug();
  first->Replug();
  BuildVideoDevicesList();
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"Ocuvant USB-C", "Ocuvant USB-C (2)"}));
  // Our device is now the one listed first; the name it was chosen by belongs to the other.
  EXPECT_EQ(cap.VCapName(), "Ocuvant USB-C");
  EXPECT_EQ(cap.VCapIndex(), 0);
  cap.TearDownGraph();
  cap.ChooseDevices(DeviceLists().VideoDevicesList[0].Moniker, std::nullopt, true);
  ASSERT_TRUE(cap.Previewing());
  second->Trigger();
  EXPECT_TRUE(second->WaitForFrames(1, 5000));
  EXPECT_EQ(first->FramesDelivered(), 0u);
}

TEST_F(CaptureTest, VendorInterfacesOnlyWhereTheDriverHasThem) {
  SimulatedCameraConfig bare;
  bare.vendorInterfaces = false;
  AddCamera();
  AddCamera(bare);
  TVideoCapture cap;
  VideoOnly(cap);
  EXPECT_FALSE(cap.InitMFilters(IID_OcuvantCOM, CLSID_Ocuvant24B13));  // no device bound
  cap.ChooseDevices(0, -1);
  EXPECT_TRUE(cap.InitMFilters(IID_OcuvantCOM, CLSID_Ocuvant24B13));
  uint16_t model = 0;
  EXPECT_EQ(cap.MCOMFilter()->GetModel(model), S_OK);
  EXPECT_EQ(model, 2413);
  cap.ChooseDevices(1, -1);
  EXPECT_EQ(cap.MCMOSFilter(), nullptr);  // released with the old filters
  EXPECT_FALSE(cap.InitMFilters(IID_OcuvantCOM, CLSID_Ocuvant24B13));
}

TEST_F(CaptureTest, MessageTextsCarryTheCodeInHex) {
  EXPECT_EQ(FormatCaptureMessage("Error %x: Cannot run preview graph!", E_FAIL),
            "Error 80004005: Cannot run preview graph!");
  EXPECT_EQ(FormatCaptureMessage("%x: can't set preview frame rate!", E_INVALIDARG),
            "80070057: can't set preview frame rate!");
  EXPECT_EQ(FormatCaptureMessage("Error %x.", 0), "Error 0.");
  EXPECT_EQ(FormatCaptureMessage("100% sure", 5), "100% sure");
  try {
    ErrMsgException("Error %x: Can't add video capture filter into graph!", E_NOINTERFACE);
    FAIL();
  } catch (const EVideoCaptureError& e) {
    EXPECT_STREQ(e.what(), "Error 80004002: Can't add video capture filter into graph!");
  }
  EXPECT_EQ(ui_.Messages().size(), 1u);
}

TEST_F(CaptureTest, ClickAndDestructionWhilePreviewing) {
  auto cam = AddCamera();
  auto cap = std::make_unique<TVideoCapture>();
  VideoOnly(*cap);
  int clicks = 0;
  cap->OnClick = [&](TVideoCapture*) { ++clicks; };
  cap->resize(160, 128);
  cap->ChooseDevices(0, -1);
  ASSERT_TRUE(cap->Previewing());
  QTest::mouseClick(cap.get(), Qt::LeftButton, {}, QPoint(80, 64));
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(cam->WaitForFrames(2, 5000));
  cap.reset();  // stops the stream and releases everything on the way
  const uint64_t frames = cam->FramesDelivered();
  EXPECT_FALSE(cam->WaitForFrames(frames + 1, 150));
  EXPECT_TRUE(DeviceLists().VideoDevicesList.empty());
}

}  // namespace
}  // namespace capture
