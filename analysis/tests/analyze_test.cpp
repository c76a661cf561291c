#include "analysis/analyze.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace analysis {
namespace {

namespace fs = std::filesystem;

TEST(MeasurementTypes, NamesAreTheArchiveValues) {
  static_assert(MTYPENAMES.size() == 19);
  static_assert(sizeof(MType) == 1);
  EXPECT_EQ(MTYPENAMES[MT_NONE], "NONE");
  EXPECT_EQ(MTYPENAMES[MT_LAMSWSI], "MASK PIXELPATTERN");
  EXPECT_EQ(MTYPENAMES[MT_PLATESDOT], "PLATE DOT AREA ST");
  EXPECT_EQ(MTYPENAMES[MT_NXPixel], "PLATE PIXEL");
  EXPECT_EQ(MTYPENAMES[MT_PLATEWSIAREA], "PLATE PATTERN AREA");
  EXPECT_EQ(MTYPENAMES[MT_FILMSDOT], "FILM MINI DOTS");
  EXPECT_EQ(MTYPENAMES[MT_CALDOT], "CALIBRATION");
  EXPECT_EQ(MTYPENAMES[MT_END], "INVALID");
  EXPECT_EQ(MT_END, 18);
  EXPECT_EQ(MAXSTAT, 100);
  TMessung m;
  EXPECT_EQ(m.aType, MT_NONE);
  EXPECT_EQ(m.DotArea, 0);
  EXPECT_EQ(m.CountK, 0);
}

class LoadCalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "quirvel_cal_XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Put(const std::string& bytes) {
    std::string p = (dir_ / "QUIRVEL.INI").string();
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    return p;
  }
  fs::path dir_;
};

TEST_F(LoadCalTest, ReadsTheCalibrationSectionWithItsCorrections) {
  struct Case {
    const char* section;  // body of [QUIRVELCAL], nullptr: no file at all
    double ppi;
    int32_t gain;
    double sedge, kedge;
  };
  const Case cases[] = {
      {nullptr, 43000, 80, 1.9, -2.9},
      {"", 43000, 80, 1.9, -2.9},
      {"PIXELPERINCH=0\r\nGAIN=5\r\n", 43000, 10, 1.9, -2.9},
      {"PIXELPERINCH=43210.5\r\nGAIN=300\r\nSEDGE=2.25\r\nKEDGE=-3\r\n", 43210.5, 300, 2.25, -3},
      {"PIXELPERINCH= 4.30000000000000E+0004\r\n", 43000, 80, 1.9, -2.9},  // as a new profile writes it
      {"pixelperinch=\"41000\"\r\ngain=10\r\n", 41000, 10, 1.9, -2.9},
      {"PIXELPERINCH=43210.5 ppi\r\nGAIN=95abc\r\n", 43210.5, 95, 1.9, -2.9},  // numeric prefixes
      {"PIXELPERINCH=abc\r\nGAIN=abc\r\nSEDGE=x\r\n", 43000, 10, 0, -2.9},
      {"GAIN=-50\r\n", 43000, 10, 1.9, -2.9},
      {"GAIN=99999999999999\r\n", 43000, INT32_MAX, 1.9, -2.9},
      // Only 24 characters are seen: the exponent is cut away.
      {"PIXELPERINCH=4.300000000000000000000E+0004\r\n", 4.3, 80, 1.9, -2.9},
  };
  for (const Case& c : cases) {
    std::string path = (dir_ / "missing.ini").string();
    if (c.section) path = Put(std::string("[QUIRVEL]\r\nGAIN=1\r\n[QUIRVELCAL]\r\n") + c.section);
    AnalyzeState st;
    int32_t gain = -1;
    LoadCal(st, path, gain);
    const char* label = c.section ? c.section : "(missing)";
    EXPECT_DOUBLE_EQ(st.PixelperInch, c.ppi) << label;
    EXPECT_DOUBLE_EQ(st.CalPixelperInch, c.ppi) << label;
    EXPECT_EQ(gain, c.gain) << label;
    EXPECT_DOUBLE_EQ(st.ADDEDGE, c.sedge) << label;
    EXPECT_DOUBLE_EQ(st.ADDEDGEK, c.kedge) << label;
  }
}

TEST_F(LoadCalTest, AnUnreadableIniGivesTheDefaults) {
  std::string path = (dir_ / "QUIRVEL.INI").string();
  fs::create_directory(path);  // a folder in its place cannot be read, even by root
  AnalyzeState st;
  int32_t gain = -1;
  LoadCal(st, path, gain);
  EXPECT_EQ(st.PixelperInch, 43000);
  EXPECT_EQ(gain, 80);
}

TEST_F(LoadCalTest, TheProcessStateStartsUncalibratedAndResets) {
  AnalyzeState& st = Analysis();
  st.Reset();
  EXPECT_EQ(&st, &Analysis());
  EXPECT_EQ(st.PixelperInch, 42701);
  EXPECT_EQ(st.ADDEDGE, 1.9);
  EXPECT_EQ(st.ADDEDGEK, -2.9);
  EXPECT_EQ(st.GDotList, nullptr);
  EXPECT_EQ(st.GAlternative, nullptr);
  int32_t gain = 0;
  LoadCal(Put("[QUIRVELCAL]\r\nPIXELPERINCH=40000\r\nSEDGE=2\r\n"), gain);
  EXPECT_EQ(st.PixelperInch, 40000);
  EXPECT_EQ(st.CalPixelperInch, 40000);
  EXPECT_EQ(st.ADDEDGE, 2);
  st.ThImage[17][3] = 99;
  st.Imgseq[2] = {5, 6};
  st.Reset();
  EXPECT_EQ(st.PixelperInch, 42701);
  EXPECT_EQ(st.CalPixelperInch, 42701);
  EXPECT_EQ(st.ADDEDGE, 1.9);
  EXPECT_EQ(st.ThImage[17][3], 0);
  EXPECT_EQ(st.Imgseq[2], (std::array<int32_t, 2>{1, 18}));
}

TEST(CheckImgSeq, EveryPairSpansEightStepsWithinTheShutterRange) {
  struct Case { int32_t first, last, wantFirst, wantLast; };
  const Case cases[] = {
      {-3, 2, 0, 8},  {4, 30, 4, 18},  {12, 15, 10, 18}, {15, 18, 10, 18}, {0, 18, 0, 18}, {10, 18, 10, 18},
      {10, 17, 10, 18}, {9, 12, 9, 17}, {6, 2, 6, 14},   {-5, -1, 0, 8},   {INT32_MAX, INT32_MAX, 10, 18},
      {INT32_MIN, INT32_MIN, 0, 8},
  };
  for (const Case& c : cases) {
    TImgSeq seq{{{c.first, c.last}, {0, 18}, {c.first, c.last}, {3, 11}}};
    CheckImgSeq(seq);
    EXPECT_EQ(seq[0], (std::array<int32_t, 2>{c.wantFirst, c.wantLast})) << c.first << "," << c.last;
    EXPECT_EQ(seq[2], seq[0]);
    EXPECT_EQ(seq[1], (std::array<int32_t, 2>{0, 18}));
    EXPECT_EQ(seq[3], (std::array<int32_t, 2>{3, 11}));
  }
  AnalyzeState& st = Analysis();
  st.Imgseq[3] = {15, 18};
  CheckImgSeq();
  EXPECT_EQ(st.Imgseq[3], (std::array<int32_t, 2>{10, 18}));
  st.Reset();
}

TEST(ClearResult, ClearsTheImageAreaAndKeepsTheSpareColumnAndRow) {
  AnalyzeState st;
  for (int32_t x = 0; x <= ImWidth; ++x)
    for (int32_t y = 0; y <= ImHeight; ++y) st.GResult[x][y] = static_cast<uint16_t>(0xC000 | ((x + y) & 0x3FFF));
  st.ThImage[5][5] = 77;
  // Borrowed pointers are only forgotten, never followed; an odd address shows that.
  st.GDot = reinterpret_cast<TDot*>(uintptr_t{0x10});
  st.MaxDot = st.GDot;
  st.ActAlternative = reinterpret_cast<TSortedDotList*>(uintptr_t{0x20});
  st.GAlternativencount = 3;
  st.ResAvail = true;
  for (int round = 0; round < 2; ++round) {
    ClearResult(st);
    EXPECT_EQ(st.GDotList, nullptr);
    EXPECT_EQ(st.GDot, nullptr);
    EXPECT_EQ(st.MaxDot, nullptr);
    EXPECT_EQ(st.GAlternative, nullptr);
    EXPECT_EQ(st.ActAlternative, nullptr);
    EXPECT_EQ(st.GAlternativencount, 0);
    EXPECT_FALSE(st.ResAvail);
    size_t nonzero = 0;
    for (int32_t x = 0; x < ImWidth; ++x)
      for (int32_t y = 0; y < ImHeight; ++y) nonzero += st.GResult[x][y] != 0;
    EXPECT_EQ(nonzero, 0u);
    EXPECT_EQ(st.GResult[ImWidth][ImHeight], 0xC000 | ((ImWidth + ImHeight) & 0x3FFF));
    EXPECT_EQ(st.GResult[ImWidth][0], 0xC000 | ImWidth);
    EXPECT_EQ(st.GResult[0][ImHeight], 0xC000 | ImHeight);
    EXPECT_EQ(st.ThImage[5][5], 77);  // the threshold image is not part of the result
  }
}

}  // namespace
}  // namespace analysis
