// Capture modes and their texts, the frame rate setting, the configuration text and its
// restore into a control, and what this platform does not offer.
#include <gtest/gtest.h>

#include "capture/tests/capture_test_support.h"
#include "capture/utils.h"
#include "capture/vcap.h"
#include "platform/base/stream.h"

namespace capture {
namespace {

using namespace platform::video;
using test::CaptureTest;

TVCapMode Mode(TGUID subtype, int w, int h, int bits, double rate = 0) {
  TVCapMode m;
  m.MediaType = kMediaTypeVideo;
  m.MediaSubType = subtype;
  m.Width = w;
  m.Height = h;
  m.BitCount = bits;
  m.FrameRate = rate;
  return m;
}

TEST(CaptureModes, ModeStrings) {
  EXPECT_EQ(GetModeString(Mode(kSubtypeRGB24, 1280, 1024, 24)), "1280x1024x24b (RGB24)");
  EXPECT_EQ(GetModeString(Mode(kSubtypeMJPG, 640, 480, 16)), "640x480x16b");
  EXPECT_EQ(GetModeString(Mode(kSubtypeRGB565, 320, 240, 16)), "320x240x16b (RGB565)");
  EXPECT_EQ(GetModeString(Mode(kSubtypeYUY2, 640, 480, 16)), "640x480x16b (YUY2)");
  EXPECT_EQ(GetModeString(TVCapMode{}), "0x0x0b");
}

TEST(CaptureModes, EqualityIgnoresMajorTypeAndRates) {
  TVCapMode a = Mode(kSubtypeRGB24, 1280, 1024, 24, 15);
  TVCapMode b = Mode(kSubtypeRGB24, 1280, 1024, 24, 7.5);
  b.MediaType = kGuidNull;
  EXPECT_TRUE(IsEqualModes(a, b));
  EXPECT_FALSE(IsEqualModes(a, Mode(kSubtypeRGB24, 1280, 1024, 32)));
  EXPECT_FALSE(IsEqualModes(a, Mode(kSubtypeYUY2, 1280, 1024, 24)));
  EXPECT_FALSE(IsEqualModes(a, Mode(kSubtypeRGB24, 1024, 1280, 24)));

  TACapMode pcm{kMediaTypeAudio, kSubtypePCM, 44100, 16, 2, 176400};
  TACapMode other = pcm;
  other.AvgSampleRate = 1;
  EXPECT_TRUE(IsEqualModes(pcm, other));  // PCM: rate and sample size decide
  other.SampleSize = 8;
  EXPECT_FALSE(IsEqualModes(pcm, other));
  TACapMode comp = pcm;
  comp.MediaSubType = kSubtypeMJPG;
  TACapMode comp2 = comp;
  comp2.SampleSize = 4;
  EXPECT_TRUE(IsEqualModes(comp, comp2));  // others: average and sample rate decide
  comp2.AvgSampleRate = 1;
  EXPECT_FALSE(IsEqualModes(comp, comp2));
}

TEST_F(CaptureTest, SetFrameRateKeepsOnlyOneToFifty) {
  TVideoCapture cap;
  const std::pair<double, double> cases[] = {{0.5, 25.0}, {60, 25.0}, {1, 1.0}, {50, 50.0}, {15, 15.0}};
  for (const auto& [in, stored] : cases) {
    cap.SetFrameRate(in);
    EXPECT_EQ(cap.FrameRate(), stored) << in;
  }
}

TEST(CaptureConfig, TextWithQuotedNamesRoundTrips) {
  TGraphConfig c;
  c.VCapSource = "Ocuvant USB-C (2)";
  c.ACapSource = "My \"Cam\", left";
  c.WantPreview = true;
  c.WantBitmaps = true;
  c.PreallocFileSize = 3;
  c.VCapMode = Mode(kSubtypeRGB24, 1280, 1024, 24);
  c.VCompState = {0x01, 0xAB};
  c.CaptureFileName = "C:\\Video Files\\run.avi";
  const std::string text = c.SaveGraph();
  EXPECT_EQ(text,
            "WantCapture=0,WantDVAudio=0,WantAudio=0,DoPreallocFile=0,UseTempFile=0,PreallocFileSize=3,"
            "TempCaptureFileName=captemp.avi,\"CaptureFileName=C:\\Video Files\\run.avi\",DVResolution=1,"
            "PixelFormat=6,\"VCapSource=Ocuvant USB-C (2)\",\"ACapSource=My \"\"Cam\"\", left\",AComp=,VComp=,"
            "ACapModeMediaSubType=00000000000000000000000000000000,ACapModeSampleRate=0,ACapModeAvgSampleRate=0,"
            "ACapModeSampleSize=0,ACapModeChannels=0,VCapModeMediaSubType=" +
                GUIDToStr(kSubtypeRGB24) +
                ",VCapModeWidth=1280,VCapModeHeight=1024,VCapModeBits=24,VCompState=01AB");
  TGraphConfig back;
  back.RestoreGraph(text);
  EXPECT_EQ(back.SaveGraph(), text);
  EXPECT_EQ(back.VCapSource, "Ocuvant USB-C (2)");
  EXPECT_EQ(back.ACapSource, "My \"Cam\", left");
  EXPECT_TRUE(IsEqualModes(back.VCapMode, c.VCapMode));
  EXPECT_EQ(back.VCompState, c.VCompState);

  platform::TMemoryStream stream;
  ASSERT_TRUE(c.SaveGraphToStream(&stream));
  stream.SetPosition(0);
  TGraphConfig fromStream;
  ASSERT_TRUE(fromStream.RestoreGraphFromStream(&stream));
  EXPECT_EQ(fromStream.SaveGraph(), text);
  EXPECT_FALSE(fromStream.SaveGraphToStream(nullptr));
  EXPECT_FALSE(fromStream.RestoreGraphFromStream(nullptr));
}

TEST(CaptureConfig, RestoreDefaultsAndDamage) {
  TGraphConfig c;
  c.RestoreGraph("WantCapture=0,CaptureFileName=,DVResolution=7,PixelFormat=300,WantAudio=-1,WantBitmaps=x");
  EXPECT_TRUE(c.WantPreview);  // missing: wanted
  EXPECT_FALSE(c.WantCapture);
  EXPECT_FALSE(c.WantAudio);
  EXPECT_TRUE(c.WantBitmaps);  // unreadable: wanted
  EXPECT_EQ(c.CaptureFileName, "capture.avi");
  EXPECT_EQ(c.TempCaptureFileName, "captemp.avi");
  EXPECT_EQ(c.DVResolution, dvrFull);
  EXPECT_EQ(c.PixelFormat, pf24bit);  // 300 has the low byte 44
  c.RestoreGraph("PixelFormat=263");   // low byte 7
  EXPECT_EQ(c.PixelFormat, pf32bit);
  c.RestoreGraph("");
  EXPECT_EQ(c.DVResolution, dvrFull);
  EXPECT_EQ(c.PreallocFileSize, 0);

  // A stream whose length field claims more than it holds.
  platform::TMemoryStream stream(std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'});
  EXPECT_FALSE(c.RestoreGraphFromStream(&stream));
  platform::TMemoryStream cut(std::vector<uint8_t>{0x01, 0x00});
  EXPECT_FALSE(c.RestoreGraphFromStream(&cut));
}

TEST_F(CaptureTest, ModesOfTheBoundDevice) {
  AddCamera(OnRequest());
  TVideoCapture cap;
  VideoOnly(cap);
  EXPECT_EQ(cap.GetVCapModeCount(), 0);
  EXPECT_EQ(cap.GetVCapModeIdx(), -1);
  cap.ChooseDevices(0, -1);
  ASSERT_EQ(cap.GetVCapModeCount(), 2);
  const TVCapMode m0 = cap.GetVCapModes(0);
  EXPECT_EQ(GetModeString(m0), "1280x1024x24b (RGB24)");
  EXPECT_DOUBLE_EQ(m0.FrameRate, 10000000.0 / 666667);
  EXPECT_DOUBLE_EQ(m0.MinFrameRate, 1.0);
  EXPECT_DOUBLE_EQ(m0.MaxFrameRate, 50.0);
  EXPECT_EQ(GetModeString(cap.GetVCapModes(1)), "640x480x16b (YUY2)");
  EXPECT_EQ(GetModeString(cap.GetVCapModes(2)), "0x0x0b");
  EXPECT_EQ(cap.GetVCapModeIdx(), 0);
  EXPECT_EQ(cap.GetVCapMode().FrameRate, 0);  // the current mode carries no rates

  int changed = 0;
  cap.OnChangeVCapMode = [&](TVideoCapture*) { ++changed; };
  ASSERT_TRUE(cap.Previewing());
  EXPECT_TRUE(cap.SetVCapMode(1));
  EXPECT_FALSE(cap.GraphBuilt());  // torn down; the next build takes the mode
  EXPECT_FALSE(cap.Previewing());
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(cap.GetVCapModeIdx(), 1);
  EXPECT_TRUE(cap.SetVCapMode(Mode(kSubtypeYUY2, 640, 480, 16)));  // already so
  EXPECT_EQ(changed, 1);
  EXPECT_TRUE(cap.SetVCapMode(m0));
  EXPECT_EQ(changed, 2);
  EXPECT_FALSE(cap.SetVCapMode(Mode(kSubtypeRGB24, 800, 600, 24)));
  EXPECT_FALSE(cap.SetVCapMode(5));
  EXPECT_TRUE(cap.StartPreview(true));
}

TEST_F(CaptureTest, EqualCapabilitiesGoToTheFirst) {
  SimulatedCameraConfig c = OnRequest();
  c.modes = {SimulatedMode{kSubtypeYUY2, 640, 480}, SimulatedMode{kSubtypeRGB24, 320, 240},
             SimulatedMode{kSubtypeRGB24, 320, 240, true}};
  AddCamera(c);
  TVideoCapture cap;
  VideoOnly(cap);
  cap.SetWantPreview(false);
  cap.ChooseDevices(0, -1);
  EXPECT_TRUE(cap.SetVCapMode(Mode(kSubtypeRGB24, 320, 240, 24)));
  EXPECT_EQ(cap.GetVCapModeIdx(), 1);
  MediaType mt;
  cap.VCapFilter()->GetFormat(mt);
  EXPECT_EQ(mt.formattype, kFormatVideoInfo);
}

TEST_F(CaptureTest, SaveAndRestoreSwitchDevicesLikeTheCameraWindow) {
  auto first = AddCamera(OnRequest());
  auto second = AddCamera(OnRequest());
  TVideoCapture cap;
  VideoOnly(cap);
  cap.ChooseDevices(0, -1);
  cap.SetVCapMode(1);
  cap.StartPreview(true);
  TGraphConfig config;
  cap.SaveGraph(&config);
  EXPECT_EQ(config.VCapSource, "Ocuvant USB-C");
  EXPECT_EQ(config.ACapSource, "");
  EXPECT_EQ(GetModeString(config.VCapMode), "640x480x16b (YUY2)");
  EXPECT_TRUE(config.WantPreview);
  EXPECT_FALSE(config.WantAudio);

  std::vector<std::string> events;
  cap.OnChangeDevice = [&](TVideoCapture*) { events.push_back("device"); };
  cap.OnChangeCompressor = [&](TVideoCapture*) { events.push_back("compressor"); };
  config.VCapSource = "Ocuvant USB-C (2)";
  TGraphConfig viaText;
  viaText.RestoreGraph(config.SaveGraph());
  cap.RestoreGraph(&viaText);
  EXPECT_EQ(events, (std::vector<std::string>{"device", "compressor"}));
  ASSERT_TRUE(cap.Previewing());
  EXPECT_EQ(cap.VCapName(), "Ocuvant USB-C (2)");
  EXPECT_EQ(GetModeString(cap.GetVCapMode()), "640x480x16b (YUY2)");
  cap.CaptureFrame();
  TCapturedBitmap got;
  cap.OnBitmapGrabbed = [&](TCapturedBitmap& b) { got = b; };
  second->Trigger();
  ASSERT_TRUE(test::PumpUntil([&] { return !got.Empty(); }));
  EXPECT_EQ(got.Width(), 640);
  EXPECT_EQ(first->FramesDelivered(), 0u);
  EXPECT_TRUE(ui_.Messages().empty());

  // A name no device bears: no device, and the control says so.
  config.VCapSource = "Missing cam";
  cap.RestoreGraph(&config);
  EXPECT_FALSE(cap.Previewing());
  EXPECT_EQ(MessageTexts().size(), 1u);
  cap.RestoreGraph(nullptr);
  cap.SaveGraph(nullptr);
}

TEST_F(CaptureTest, WhatThisPlatformDoesNotOffer) {
  AddCamera(OnRequest());
  TVideoCapture cap;
  VideoOnly(cap);
  cap.ChooseDevices(0, -1);
  EXPECT_EQ(cap.Dialogs(), 0);
  for (int d = cdVFORMAT; d <= cdACOMPRESSION; ++d) EXPECT_FALSE(cap.ShowDialog(static_cast<TCaptureDialog>(d)));
  EXPECT_FALSE(cap.IsDVSource());
  EXPECT_EQ(cap.GetACapModeCount(), 0);
  EXPECT_FALSE(cap.SetACapMode(0));
  EXPECT_EQ(cap.ACapName(), "");
  EXPECT_EQ(cap.ACapIndex(), -1);
  cap.ChooseCompressors(0, 0);
  EXPECT_EQ(cap.VCompName(), "");
  EXPECT_EQ(cap.VCompIndex(), -1);
  EXPECT_TRUE(cap.Previewing());
  EXPECT_FALSE(cap.StopCapture());
  EXPECT_FALSE(cap.ControlCaptureStream(true));
  EXPECT_FALSE(cap.SaveCaptureFile("copy.avi"));
  cap.SetDVResolution(dvrHalf);
  EXPECT_EQ(cap.DVResolution(), dvrHalf);
  EXPECT_TRUE(ui_.Messages().empty());
  cap.SetMasterStream(1);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"SetMasterStream failed!"}));
  ui_.ClearRecords();
  cap.SetWantCapture(true);
  cap.SetCaptureFileName("run.avi");
  EXPECT_FALSE(cap.StartCapture(false));
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Can't set capture file!"}));
  EXPECT_FALSE(cap.Capturing());
}

}  // namespace
}  // namespace capture
