#include "analysis/myimage_gray.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/myimage.h"

namespace analysis {
namespace {

// ---- The outside ground truth: tests/data/gray_truth.py ----

struct TruthPixel {
  int64_t v, z, zero16, bmp16, glevel, ggray, r, zlevel, zgray, r2, zlevel2, zgray2, w, o, w2, o2, dlevel, d16level;
};

struct Truth {
  std::map<std::string, double> param;
  std::vector<TruthPixel> px;
};

Truth RunTruth(int seed, int count) {
  const std::string command = "python3 '" + std::string(QUIRVEL_TEST_DATA) + "/gray_truth.py' " +
                              std::to_string(seed) + " " + std::to_string(count) + " 2>&1";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot start python3");
  std::array<char, 4096> buffer{};
  size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  const int status = pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("gray_truth.py failed: " + out);
  Truth t;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    if (line.rfind("PARAM ", 0) == 0) {
      std::string tag, name, value;
      in >> tag >> name >> value;
      t.param[name] = std::strtod(value.c_str(), nullptr);
      continue;
    }
    TruthPixel p{};
    in >> p.v >> p.z >> p.zero16 >> p.bmp16 >> p.glevel >> p.ggray >> p.r >> p.zlevel >> p.zgray >> p.r2 >>
        p.zlevel2 >> p.zgray2 >> p.w >> p.o >> p.w2 >> p.o2 >> p.dlevel >> p.d16level;
    if (!in) throw std::runtime_error("unreadable line: " + line);
    t.px.push_back(p);
  }
  return t;
}

constexpr int kW = 64;
constexpr int kH = 40;

// Source and zero image holding the script's pixels in scan order.
void FillImages(const Truth& t, Bitmap& src, Bitmap& zero) {
  src = Bitmap(kW, kH);
  zero = Bitmap(kW, kH);
  for (int i = 0; i < kW * kH; ++i) {
    Set16BitValue(src.ScanLine(i / kW), i % kW, static_cast<uint32_t>(t.px[static_cast<size_t>(i)].v));
    Set16BitValue(zero.ScanLine(i / kW), i % kW, static_cast<uint32_t>(t.px[static_cast<size_t>(i)].z));
  }
}

uint32_t HR(const Bitmap& b, int i) { return Get16BitValue(b.ScanLine(i / kW), i % kW); }
// The gray byte of pixel i; a gray image has it in all three bytes.
int Gray(const Bitmap& b, int i) {
  const uint8_t* p = b.ScanLine(i / kW) + 3 * (i % kW);
  EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "pixel " << i;
  return p[0];
}

// The histogram the expected levels make, with its first strict maximum over 0..maxBin.
void ExpectHistogram(const THist& h, const std::vector<int64_t>& levels, int maxBin) {
  std::vector<int32_t> want(HistWidth + 1, 0);
  for (int64_t l : levels) ++want[static_cast<size_t>(l)];
  int32_t maxHist = 0;
  int32_t maxPos = 0;
  for (int i = 0; i <= maxBin; ++i) {
    if (want[static_cast<size_t>(i)] > maxHist) {
      maxHist = want[static_cast<size_t>(i)];
      maxPos = i;
    }
  }
  for (int i = 0; i <= HistWidth; ++i) ASSERT_EQ(h.Hist[static_cast<size_t>(i)], want[static_cast<size_t>(i)]) << "bin " << i;
  EXPECT_EQ(h.MaxHist, maxHist);
  EXPECT_EQ(h.MaxPos, maxPos);
  EXPECT_EQ(h.Histsum, 0);
  EXPECT_EQ(h.Contrast, 0);
}

class GrayTruth : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { truth_ = new Truth(RunTruth(20240611, kW * kH)); }
  static void TearDownTestSuite() {
    delete truth_;
    truth_ = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(truth_->px.size(), static_cast<size_t>(kW * kH));
    FillImages(*truth_, src_, zero_);
  }
  double P(const char* name) const { return truth_->param.at(name); }
  const TruthPixel& px(int i) const { return truth_->px[static_cast<size_t>(i)]; }
  template <typename F>
  std::vector<int64_t> Levels(F f) const {
    std::vector<int64_t> out;
    for (const TruthPixel& p : truth_->px) out.push_back(f(p));
    return out;
  }

  static Truth* truth_;
  Bitmap src_;
  Bitmap zero_;
  // A stale histogram: every conversion must start from a cleared record.
  THist StaleHist() const {
    THist h;
    h.Hist.fill(3);
    h.Histsum = 5;
    h.Contrast = 6;
    return h;
  }
};
Truth* GrayTruth::truth_ = nullptr;

TEST_F(GrayTruth, RelativeAndRescaledImagesMatchTheFormula) {
  Bitmap rel;
  Get16bitBmpZero(src_, zero_, rel);
  Bitmap scaled;
  Get16BitBmp(src_, scaled, static_cast<int32_t>(P("MAX16")), static_cast<int32_t>(P("MIN16")));
  for (int i = 0; i < kW * kH; ++i) {
    ASSERT_EQ(HR(rel, i), px(i).zero16) << "v " << px(i).v << " z " << px(i).z;
    ASSERT_EQ(HR(scaled, i), px(i).bmp16) << "v " << px(i).v;
  }
  // In place gives the same.
  Bitmap inplace = src_;
  Get16bitBmpZero(inplace, zero_, inplace);
  EXPECT_EQ(inplace, rel);
}

TEST_F(GrayTruth, RangeConversionMatchesTheFormula) {
  THist h = StaleHist();
  Bitmap gray;
  GetGraybmpAndHist(h, src_, gray, P("GMAX"), P("GMIN"));
  for (int i = 0; i < kW * kH; ++i) ASSERT_EQ(Gray(gray, i), px(i).ggray) << "v " << px(i).v;
  ExpectHistogram(h, Levels([](const TruthPixel& p) { return p.glevel; }), 10000);
}

TEST_F(GrayTruth, ZeroReferenceConversionMatchesTheFormula) {
  struct Run {
    const char *m, *c, *gamma;
    int64_t TruthPixel::*r;
    int64_t TruthPixel::*level;
    int64_t TruthPixel::*gray;
  };
  const Run runs[] = {{"ZM", "ZC", "ZGAMMA", &TruthPixel::r, &TruthPixel::zlevel, &TruthPixel::zgray},
                      {"ZM2", "ZC2", "ZGAMMA2", &TruthPixel::r2, &TruthPixel::zlevel2, &TruthPixel::zgray2}};
  for (const Run& run : runs) {
    SCOPED_TRACE(run.gamma);
    Bitmap ibmp = src_;
    Bitmap dbmp;
    THist h = StaleHist();
    GetGraybmpAndHistZero(h, ibmp, dbmp, zero_, P(run.m), P(run.c), 0, 0, P(run.gamma));
    for (int i = 0; i < kW * kH; ++i) {
      if (i != 2) {
        ASSERT_EQ(HR(ibmp, i), px(i).*run.r) << "v " << px(i).v << " z " << px(i).z;
      }
      ASSERT_EQ(Gray(dbmp, i), px(i).*run.gray) << "v " << px(i).v << " z " << px(i).z;
    }
    // Pixel 2 of the top row now carries the origin marker 1 in its three bytes.
    const uint8_t* top = ibmp.ScanLine(0);
    EXPECT_EQ(top[6], 1);
    EXPECT_EQ(top[7], 1);
    EXPECT_EQ(top[8], 1);
    // Level 10000 is counted, but the maximum is looked for over 0..256 only.
    ExpectHistogram(h, Levels([&](const TruthPixel& p) { return p.*run.level; }), 256);
  }
}

TEST_F(GrayTruth, DisplayCurveMatchesTheFormula) {
  for (const char* gamma : {"DGAMMA", "DGAMMA2"}) {
    SCOPED_TRACE(gamma);
    const bool second = std::string(gamma) == "DGAMMA2";
    THist h = StaleHist();
    Bitmap gray;
    int32_t max = -1;
    int32_t min = -1;
    GetGrayBmp16Hist(static_cast<uint32_t>(P("LOW")), static_cast<uint32_t>(P("HIGH")),
                     static_cast<uint32_t>(P("DIM")), h, src_, gray, P("DM"), P("DC"), P(gamma), max, min);
    int64_t wantMax = 0;
    int64_t wantMin = HRMaxValue;
    for (int i = 0; i < kW * kH; ++i) {
      const int64_t w = second ? px(i).w2 : px(i).w;
      const int64_t o = second ? px(i).o2 : px(i).o;
      ASSERT_EQ(Gray(gray, i), std::min<int64_t>(o, 255)) << "v " << px(i).v;
      if (i / kW >= 20 && i % kW >= 20) {
        wantMin = std::min(wantMin, w);
        if (w >= 0) wantMax = std::max(wantMax, w);
      }
    }
    EXPECT_EQ(max, wantMax);
    EXPECT_EQ(min, wantMin);
    ExpectHistogram(h, Levels([&](const TruthPixel& p) { return second ? p.o2 : p.o; }), 255);
  }
}

TEST_F(GrayTruth, DensityImagesMatchTheFormula) {
  THist h = StaleHist();
  Bitmap dens;
  GetDensbmpAndHistZero(h, src_, dens, zero_, 0, 0);
  for (int i = 0; i < kW * kH; ++i) ASSERT_EQ(Gray(dens, i), px(i).dlevel) << "v " << px(i).v << " z " << px(i).z;
  ExpectHistogram(h, Levels([](const TruthPixel& p) { return p.dlevel; }), 256);

  h = StaleHist();
  GetDens16bmpAndHist(h, src_, dens, P("F"), P("K"));
  for (int i = 0; i < kW * kH; ++i) ASSERT_EQ(Gray(dens, i), px(i).d16level) << "v " << px(i).v;
  ExpectHistogram(h, Levels([](const TruthPixel& p) { return p.d16level; }), 256);
}

// ---- Single values with a known answer ----

Bitmap OnePixel(uint32_t v) {
  Bitmap b(1, 1);
  Set16BitValue(b.ScanLine(0), 0, v);
  return b;
}

TEST(GrayConversion, KnownValues) {
  Bitmap out;
  Get16bitBmpZero(OnePixel(5000), OnePixel(10000), out);
  EXPECT_EQ(Get16BitValue(out.ScanLine(0), 0), 5000u);
  Get16bitBmpZero(OnePixel(5000), OnePixel(0), out);
  EXPECT_EQ(Get16BitValue(out.ScanLine(0), 0), 0u);
  // max 0 and min 0: max counts as 1, the lower bound is 0.
  Get16BitBmp(OnePixel(1), out, 0, 0);
  EXPECT_EQ(Get16BitValue(out.ScanLine(0), 0), 10000u);
  Get16BitBmp(OnePixel(3), out, 0, 0);
  EXPECT_EQ(Get16BitValue(out.ScanLine(0), 0), 30000u);

  // The LAMS pair on a pixel as bright as the zero reference, then on one half as bright.
  THist h;
  for (auto [v, gray] : {std::pair{10000u, 255}, std::pair{5000u, 140}}) {
    Bitmap ibmp = OnePixel(v);
    GetGraybmpAndHistZero(h, ibmp, out, OnePixel(10000), BRConv[0].m, BRConv[0].c, 0, 0, 1);
    EXPECT_EQ(out.ScanLine(0)[0], gray);
    EXPECT_EQ(h.Hist[static_cast<size_t>(gray)], 1);
  }

  int32_t max = 0;
  int32_t min = 0;
  for (auto [v, level] : {std::pair{10000u, 255}, std::pair{5000u, 128}}) {
    GetGrayBmp16Hist(0, 10000, 255, h, OnePixel(v), out, 320, 0, 1, max, min);
    EXPECT_EQ(out.ScanLine(0)[0], level) << v;  // 127.5 goes to the even 128
  }
  GetDensbmpAndHistZero(h, OnePixel(1000), out, OnePixel(10000), 0, 0);
  EXPECT_EQ(out.ScanLine(0)[0], 100);
  GetDens16bmpAndHist(h, OnePixel(1000), out, 150, 50);
  EXPECT_EQ(out.ScanLine(0)[0], 100);
}

TEST(GrayConversion, DisplayRangeOnlyFromTheInnerRectangle) {
  // A bright frame 20 pixels wide around a dim interior: the frame shows, but the range is the
  // interior's.
  Bitmap src(60, 50);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 60; ++x) Set16BitValue(src.ScanLine(y), x, (x < 20 || y < 20) ? 9000 : 3200 + x);
  THist h;
  Bitmap out;
  int32_t max = 0;
  int32_t min = 0;
  GetGrayBmp16Hist(0, 10000, 255, h, src, out, 320, 0, 1, max, min);
  EXPECT_EQ(max, 3200 + 59);
  EXPECT_EQ(min, 3200 + 20);
  EXPECT_EQ(out.ScanLine(0)[0], 230);  // rnd(9000 x 255 / 10000) = rnd(229.5)

  // A black interior pixel under a negative offset: the range reaches below 0, and its level
  // is 0, not a wrapped one.
  Set16BitValue(src.ScanLine(30), 30, 0);
  GetGrayBmp16Hist(0, 10000, 255, h, src, out, 300, -20, 1, max, min);
  EXPECT_EQ(min, -20);
  EXPECT_EQ(max, 3035);  // rnd(3259 x 300 / 320) - 20
  EXPECT_EQ(out.ScanLine(30)[90], 0);
}

TEST(GrayConversion, RatiosSaturateInsteadOfWrapping) {
  // A zero-reference pixel of 1 under a bright pixel: the ratio is far beyond 24 bits and must
  // stay the brightest value, not come back as a dark one.
  Bitmap src = OnePixel(16000000);
  Bitmap zero = OnePixel(1);
  Bitmap out;
  Get16bitBmpZero(src, zero, out);
  EXPECT_EQ(Get16BitValue(out.ScanLine(0), 0), HRMaxValue);
  Get16BitBmp(src, out, 1, 0);
  EXPECT_EQ(Get16BitValue(out.ScanLine(0), 0), HRMaxValue);
  THist h;
  GetGraybmpAndHistZero(h, src, out, zero, 255, 0, 0, 0, 1);
  EXPECT_EQ(Get16BitValue(src.ScanLine(0), 0), HRMaxValue);
  EXPECT_EQ(out.ScanLine(0)[0], 255);
  EXPECT_EQ(h.Hist[10000], 1);
  // A zero base under a negative gamma is infinitely bright, not undefined.
  Bitmap dark = OnePixel(0);
  GetGraybmpAndHistZero(h, dark, out, zero, 255, 0, 0, 0, -1);
  EXPECT_EQ(Get16BitValue(dark.ScanLine(0), 0), HRMaxValue);
}

TEST(GrayConversion, ZeroImageSmallerThanTheSourceCoversOnlyItsPixels) {
  Bitmap src(4, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) Set16BitValue(src.ScanLine(y), x, 7000);
  Bitmap zero(2, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) Set16BitValue(zero.ScanLine(y), x, 10000);
  Bitmap ibmp = src;
  Bitmap dbmp;
  THist h;
  GetGraybmpAndHistZero(h, ibmp, dbmp, zero, 255, 0, 0, 0, 1);
  ASSERT_EQ(dbmp.Width(), 4);
  ASSERT_EQ(dbmp.Height(), 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      const bool covered = x < 2 && y < 2;
      if (y > 0 || x != 2) {
        EXPECT_EQ(Get16BitValue(ibmp.ScanLine(y), x), 7000u) << x << "," << y;
      }
      EXPECT_EQ(dbmp.ScanLine(y)[3 * x], covered ? 178 : 0) << x << "," << y;  // 178.5 to the even 178
    }
  }
  EXPECT_EQ(h.Hist[0], 8);
  Bitmap rel;
  Get16bitBmpZero(src, zero, rel);
  EXPECT_EQ(Get16BitValue(rel.ScanLine(2), 3), 0u);
  Bitmap dens;
  GetDensbmpAndHistZero(h, src, dens, zero, 0, 0);
  EXPECT_EQ(h.Hist[0], 8);
}

TEST(GrayConversion, OnlyTwentyFourBitBitmaps) {
  Bitmap gray8(4, 4, platform::PixelFormat::pf8bit);
  Bitmap ok(4, 4);
  Bitmap out;
  THist h;
  int32_t max = 0;
  int32_t min = 0;
  EXPECT_THROW(Get16bitBmpZero(gray8, ok, out), std::invalid_argument);
  EXPECT_THROW(GetGraybmpAndHist(h, gray8, out, 1, 0), std::invalid_argument);
  EXPECT_THROW(GetGrayBmp16Hist(0, 10000, 255, h, gray8, out, 320, 0, 1, max, min), std::invalid_argument);
  EXPECT_THROW(GetGraybmpAndHistZero(h, ok, ok, ok, 255, 0, 0, 0, 1), std::invalid_argument);
}

TEST(GrayConversion, DisplayRangePairsPerPage) {
  const TBRConv want[] = {{280, 0}, {300, -20}, {280, 0}, {300, -20}, {255, 0}, {255, 0}};
  for (size_t i = 0; i < BRConv.size(); ++i) {
    EXPECT_EQ(BRConv[i].m, want[i].m) << i;
    EXPECT_EQ(BRConv[i].c, want[i].c) << i;
  }
}

}  // namespace
}  // namespace analysis
