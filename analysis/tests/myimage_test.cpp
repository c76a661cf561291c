#include "analysis/myimage.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "platform/image/bmp_codec.h"
#include "platform/image/image_error.h"
#include "platform/image/tests/test_support.h"

namespace analysis {
namespace {

using platform::EImageError;
using platform::PixelFormat;
using platform::testing::PatternBitmap;
using platform::testing::TempDir;
using platform::testing::ThrowsImageError;
using Kind = EImageError::Kind;

// ---- The outside ground truth: tests/data/qvr_truth.py ----

// The header and pattern the script writes and expects (its constants of the same names).
constexpr int32_t kSn = 0x123456;
constexpr int32_t kAtype = 3;
constexpr int32_t kM = 0xA1B2C3;
constexpr int32_t kC = -5;
constexpr uint32_t kPpi = 1234567;
constexpr uint32_t kMax = 16000000;
constexpr uint32_t kMin = 42;
constexpr uint32_t kTopMax = 0xFEDCBA;
constexpr uint32_t kTopMin = 0x000102;
constexpr uint8_t kOrigin = 1;

uint32_t Pattern(int x, int y) {
  const uint64_t ux = static_cast<uint64_t>(x);
  const uint64_t uy = static_cast<uint64_t>(y);
  return static_cast<uint32_t>((ux * 7919 + uy * 104729 + ux * uy) % 16777216);
}

// The image the script writes, made with our own routines.
Bitmap TruthImage(int width, int height) {
  Bitmap bmp(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < width; ++x) Set16BitValue(row, x, Pattern(x, y));
  }
  if (width >= 3) {
    uint8_t* top = bmp.ScanLine(0);
    Set16BitValue(top, 0, kTopMax);
    Set16BitValue(top, 1, kTopMin);
    top[6] = top[7] = top[8] = kOrigin;
  }
  SetQuirvel(bmp, kSn, kAtype, kM, kC, kPpi, kMax, kMin);
  return bmp;
}

struct ScriptRun {
  int exitCode = -1;
  std::string output;
};

ScriptRun RunTruth(const std::string& args) {
  const std::string command =
      "python3 '" + std::string(QUIRVEL_TEST_DATA) + "/qvr_truth.py' " + args + " 2>&1";
  ScriptRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 512> buffer{};
  size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

struct Header {
  int32_t sn = -7, atype = -7, m = -7, c = -7;
  uint32_t ppi = 7, max = 7, min = 7;
  bool ok = false;
};

Header ReadHeader(const Bitmap& bmp) {
  Header h;
  h.ok = GetQuirvel(bmp, h.sn, h.atype, h.m, h.c, h.ppi, h.max, h.min);
  return h;
}

void ExpectTruthHeader(const Header& h) {
  EXPECT_TRUE(h.ok);
  EXPECT_EQ(h.sn, kSn);
  EXPECT_EQ(h.atype, kAtype);
  EXPECT_EQ(h.m, kM);
  EXPECT_EQ(h.c, kC);
  EXPECT_EQ(h.ppi, kPpi);
  EXPECT_EQ(h.max, kMax);
  EXPECT_EQ(h.min, kMin);
}

void ExpectNoHeader(const Header& h) {
  EXPECT_FALSE(h.ok);
  EXPECT_EQ(h.sn, 0);
  EXPECT_EQ(h.atype, 0);
  EXPECT_EQ(h.m, 0);
  EXPECT_EQ(h.c, 0);
  EXPECT_EQ(h.ppi, 0u);
  EXPECT_EQ(h.max, 0u);
  EXPECT_EQ(h.min, 0u);
}

TEST(QvrGroundTruth, AFileWrittenOutsideLoadsWithItsHeader) {
  TempDir dir;
  const std::string file = dir.File("truth.qvr");
  const ScriptRun run = RunTruth("write-qvr " + Quoted(file));
  ASSERT_EQ(run.exitCode, 0) << run.output;

  Bitmap bmp;
  LoadBmpAsPng(bmp, file);
  ASSERT_EQ(bmp.Width(), ImWidth);
  ASSERT_EQ(bmp.Height(), ImHeight);
  ExpectTruthHeader(ReadHeader(bmp));
  // The byte order spelled out on a few pixels: value = blue * 65536 + green * 256 + red.
  const uint8_t* bottom = bmp.ScanLine(ImHeight - 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bottom), 7), "QUIRVEL");
  EXPECT_EQ(bottom[7], 0);
  EXPECT_EQ(bottom[8], kAtype);
  EXPECT_EQ(bottom[9], 0x12);  // serial number, high byte first
  EXPECT_EQ(bottom[11], 0x56);
  const uint8_t* top = bmp.ScanLine(0);
  EXPECT_EQ(Get16BitValue(top, 0), kTopMax);
  EXPECT_EQ(Get16BitValue(top, 1), kTopMin);
  EXPECT_EQ(top[6], kOrigin);
  const uint8_t* mid = bmp.ScanLine(500);
  const uint32_t v = Pattern(700, 500);
  EXPECT_EQ(mid[3 * 700], v >> 16);
  EXPECT_EQ(mid[3 * 700 + 2], v & 0xFF);
  EXPECT_EQ(Get16BitValue(mid, 700), v);
  // And every byte.
  EXPECT_TRUE(bmp == TruthImage(ImWidth, ImHeight));
}

TEST(QvrGroundTruth, OurSavedFileDecodesIntactOutside) {
  TempDir dir;
  const std::string file = dir.File("ours.qvr");
  SaveBmpAsPNG(TruthImage(ImWidth, ImHeight), file);
  const ScriptRun run = RunTruth("check-qvr " + Quoted(file));
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("VERDICT: OK"), std::string::npos) << run.output;
}

TEST(QvrGroundTruth, OtherSizesBothWaysAndTheCheckerSeesDamage) {
  TempDir dir;
  ASSERT_EQ(RunTruth("write-qvr " + Quoted(dir.File("odd.qvr")) + " 100 50").exitCode, 0);
  Bitmap odd;
  LoadBmpAsPng(odd, dir.File("odd.qvr"));
  EXPECT_TRUE(odd == TruthImage(100, 50));
  ExpectTruthHeader(ReadHeader(odd));

  SaveBmpAsPNG(TruthImage(100, 50), dir.File("ours.qvr"));
  EXPECT_EQ(RunTruth("check-qvr " + Quoted(dir.File("ours.qvr")) + " 100 50").exitCode, 0);

  // One wrong byte, in the pixels or in either header area, fails the verdict.
  for (const auto& [y, byte] : {std::pair{20, 150}, {0, 4}, {49, 17}}) {
    Bitmap bad = TruthImage(100, 50);
    bad.ScanLine(y)[byte] ^= 1;
    SaveBmpAsPNG(bad, dir.File("bad.qvr"));
    const ScriptRun run = RunTruth("check-qvr " + Quoted(dir.File("bad.qvr")) + " 100 50");
    EXPECT_EQ(run.exitCode, 1) << "row " << y << " byte " << byte << ": " << run.output;
    EXPECT_NE(run.output.find("VERDICT: FAIL"), std::string::npos) << run.output;
  }
}

class QvrVariants : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    const ScriptRun run = RunTruth("write-variants " + Quoted(dir_->path().string()));
    ASSERT_EQ(run.exitCode, 0) << run.output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static Bitmap Load(const std::string& name) {
    Bitmap bmp;
    LoadBmpAsPng(bmp, dir_->File(name));
    EXPECT_EQ(bmp.GetPixelFormat(), PixelFormat::pf24bit) << name;
    return bmp;
  }
  static std::vector<uint8_t> Row(const Bitmap& bmp, int y) {
    return {bmp.ScanLine(y), bmp.ScanLine(y) + bmp.RowBytes()};
  }
  static TempDir* dir_;
};
TempDir* QvrVariants::dir_ = nullptr;

TEST_F(QvrVariants, OtherDepthsLoadAsTwentyFourBit) {
  const Bitmap gray = Load("gray8.png");
  EXPECT_EQ(Row(gray, 0), (std::vector<uint8_t>{0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));
  EXPECT_EQ(Row(gray, 1), (std::vector<uint8_t>{1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}));
  ExpectNoHeader(ReadHeader(gray));

  // Palette entries (10,20,30) (40,50,60) (70,80,90) as red, green, blue; indices 2, 0, 1.
  EXPECT_EQ(Row(Load("palette.png"), 0), (std::vector<uint8_t>{90, 80, 70, 30, 20, 10, 60, 50, 40}));

  // 16-bit samples keep their high byte.
  EXPECT_EQ(Row(Load("rgb16.png"), 0), (std::vector<uint8_t>{0x55, 0x33, 0x11, 0x80, 0x00, 0xFF}));

  // Alpha is dropped and the colour bytes stay, header included, though every pixel is
  // fully transparent.
  const Bitmap rgba = Load("rgba_header.png");
  EXPECT_TRUE(rgba == TruthImage(12, 2));
  ExpectTruthHeader(ReadHeader(rgba));
}

TEST_F(QvrVariants, OtherSizesLoadAtTheirOwnSize) {
  Bitmap small = Load("small_8x3.png");
  ASSERT_EQ(small.Width(), 8);
  ASSERT_EQ(small.Height(), 3);
  EXPECT_TRUE(small == TruthImage(8, 3));
  // Too narrow for a header: nothing read, nothing written.
  ExpectNoHeader(ReadHeader(small));
  const Bitmap before = small;
  SetQuirvel(small, 1, 2, 3, 4, 5, 6, 7);
  EXPECT_TRUE(small == before);

  const Bitmap strip = Load("strip_9x1.png");
  EXPECT_TRUE(strip == TruthImage(9, 1));
  ExpectTruthHeader(ReadHeader(strip));

  // The whole-image routines keep to the overlap with a standard-size bitmap.
  Bitmap full(ImWidth, ImHeight);
  full.Fill(0x11);
  Img2Gray(small, full);
  InvImg(small, full);
  EXPECT_EQ(full.ScanLine(0)[3 * 8], 0x11);
  EXPECT_EQ(full.ScanLine(3)[0], 0x11);
  Bitmap inverted = small;
  InvImg(full, inverted);
  EXPECT_EQ(inverted.Width(), 8);
  EXPECT_EQ(inverted.ScanLine(2)[23], 255 - full.ScanLine(2)[23]);
}

TEST_F(QvrVariants, DamagedFilesThrowAndLeaveTheBitmapAlone) {
  struct Case {
    const char* file;
    Kind kind;
  };
  for (const Case c : {Case{"missing.qvr", Kind::NotFound}, {"truncated.qvr", Kind::Truncated},
                       {"signature_only.qvr", Kind::Truncated}, {"empty.qvr", Kind::Truncated},
                       {"garbage.qvr", Kind::Corrupt}, {"bad_crc.qvr", Kind::Corrupt},
                       {"bitmap.qvr", Kind::Corrupt}, {"lying.bmp", Kind::Corrupt}}) {
    Bitmap bmp = PatternBitmap(20, 10);
    const Bitmap before = bmp;
    EXPECT_TRUE(ThrowsImageError([&] { LoadBmpAsPng(bmp, dir_->File(c.file)); }, c.kind)) << c.file;
    EXPECT_TRUE(bmp == before) << c.file;
  }
  EXPECT_TRUE(ThrowsImageError([&] { platform::LoadBmp(dir_->File("lying.bmp")); }, Kind::Truncated));
  try {
    Bitmap bmp;
    LoadBmpAsPng(bmp, dir_->File("truncated.qvr"));
  } catch (const EImageError& e) {
    EXPECT_NE(std::string(e.what()).find("truncated.qvr"), std::string::npos) << e.what();
  }
}

// ---- Packing of high-range values ----

TEST(HighRangePixel, Set16BitValueStoresTheLow24BitsHighByteFirst) {
  struct Case { uint32_t value; std::array<uint8_t, 3> bytes; uint32_t readBack; };
  for (const Case c : {Case{10597059, {161, 178, 195}, 10597059}, {0, {0, 0, 0}, 0}, {256, {0, 1, 0}, 256},
                       {0xFFFFFF, {255, 255, 255}, 0xFFFFFF}, {0x1A1B2C3, {0xA1, 0xB2, 0xC3}, 0xA1B2C3},
                       {0xFFFFFFFF, {255, 255, 255}, 0xFFFFFF}}) {
    std::array<uint8_t, 12> line{};
    line.fill(0xEE);
    Set16BitValue(line.data(), 2, c.value);
    EXPECT_EQ((std::array<uint8_t, 3>{line[6], line[7], line[8]}), c.bytes) << c.value;
    EXPECT_EQ(line[5], 0xEE);
    EXPECT_EQ(line[9], 0xEE);
    EXPECT_EQ(Get16BitValue(line.data(), 2), c.readBack) << c.value;
  }
}

TEST(HighRangePixel, Get16BitValueReadsBlueGreenRedAsHighMiddleLow) {
  const std::array<uint8_t, 9> line{1, 2, 3, 161, 178, 195, 0, 0, 255};
  EXPECT_EQ(Get16BitValue(line.data(), 0), 0x010203u);
  EXPECT_EQ(Get16BitValue(line.data(), 1), 10597059u);
  EXPECT_EQ(Get16BitValue(line.data(), 2), 255u);
}

// ---- The bottom-row header ----

TEST(QuirvelHeader, LayoutOfTheBottomRow) {
  Bitmap bmp = PatternBitmap(ImWidth, ImHeight);
  const Bitmap before = bmp;
  SetQuirvel(bmp, 0x010203, 127, 255, -5, 0x0A0B0C, 0x112233, 0x445566);
  const uint8_t* row = bmp.ScanLine(ImHeight - 1);
  const std::array<uint8_t, 27> expected{'Q', 'U', 'I', 'R', 'V', 'E', 'L', 0, 127,
                                         1, 2, 3, 0, 0, 255, 255, 255, 251,
                                         10, 11, 12, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(row[i], expected[i]) << "byte " << i;
  // Nothing else changed.
  Bitmap restored = bmp;
  std::copy_n(before.ScanLine(ImHeight - 1), 27, restored.ScanLine(ImHeight - 1));
  EXPECT_TRUE(restored == before);
}

TEST(QuirvelHeader, NegativeOffsetReadsBackSignedOnlyInItsField) {
  Bitmap bmp(ImWidth, ImHeight);
  SetQuirvel(bmp, 0, 0, 0, -5, 0, 0, 0);
  Header h = ReadHeader(bmp);
  EXPECT_TRUE(h.ok);
  EXPECT_EQ(h.c, -5);
  uint8_t* row = bmp.ScanLine(ImHeight - 1);
  EXPECT_EQ(row[15], 255);
  EXPECT_EQ(row[16], 255);
  EXPECT_EQ(row[17], 251);
  // The same three bytes in the m field are an unsigned value.
  row[12] = 255;
  row[13] = 255;
  row[14] = 251;
  h = ReadHeader(bmp);
  EXPECT_EQ(h.m, 16777211);
  EXPECT_EQ(h.c, -5);
}

TEST(QuirvelHeader, ValuesAreCutTo24BitsAndThePageToOneByte) {
  struct Case {
    int32_t sn, atype, m, c;
    uint32_t ppi, max, min;
    Header read;
  };
  auto read = [](int32_t sn, int32_t atype, int32_t m, int32_t c, uint32_t ppi, uint32_t max, uint32_t min) {
    Header h;
    h.sn = sn; h.atype = atype; h.m = m; h.c = c; h.ppi = ppi; h.max = max; h.min = min; h.ok = true;
    return h;
  };
  const std::vector<Case> cases{
      {kSn, kAtype, kM, kC, kPpi, kMax, kMin, read(kSn, kAtype, kM, kC, kPpi, kMax, kMin)},
      {0x1234567, 259, -1, 0x7FFFFF, 0x1000000, 0xFFFFFFFF, 0,
       read(0x234567, 3, 16777215, 8388607, 0, 0xFFFFFF, 0)},
      {-1, -1, 0, 0x800000, 1, 2, 3, read(16777215, 255, 0, -8388608, 1, 2, 3)},
      {0, 0, 255, -8388608, 0, 0, 0, read(0, 0, 255, -8388608, 0, 0, 0)},
      {0, 0, 0, 8388608, 0, 0, 0, read(0, 0, 0, -8388608, 0, 0, 0)},
      {0, 128, 0, -16777216, 0, 0, 0, read(0, 128, 0, 0, 0, 0, 0)},
  };
  for (const Case& c : cases) {
    Bitmap bmp(ImWidth, ImHeight);
    SetQuirvel(bmp, c.sn, c.atype, c.m, c.c, c.ppi, c.max, c.min);
    const Header h = ReadHeader(bmp);
    SCOPED_TRACE(testing::Message() << "sn " << c.sn << " atype " << c.atype << " c " << c.c);
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(h.sn, c.read.sn);
    EXPECT_EQ(h.atype, c.read.atype);
    EXPECT_EQ(h.m, c.read.m);
    EXPECT_EQ(h.c, c.read.c);
    EXPECT_EQ(h.ppi, c.read.ppi);
    EXPECT_EQ(h.max, c.read.max);
    EXPECT_EQ(h.min, c.read.min);
  }
}

TEST(QuirvelHeader, OnlyTheSevenSignatureBytesDecide) {
  ExpectNoHeader(ReadHeader(Bitmap(ImWidth, ImHeight)));  // a fresh black bitmap

  Bitmap bmp(ImWidth, ImHeight);
  SetQuirvel(bmp, kSn, kAtype, kM, kC, kPpi, kMax, kMin);
  bmp.ScanLine(ImHeight - 1)[7] = 99;  // the reserved byte is not looked at
  ExpectTruthHeader(ReadHeader(bmp));

  bmp.ScanLine(ImHeight - 1)[6] = 'l';
  const Header h = ReadHeader(bmp);
  EXPECT_FALSE(h.ok);
  EXPECT_EQ(h.sn, kSn);  // the values are read all the same
  EXPECT_EQ(h.c, kC);
  EXPECT_EQ(h.min, kMin);

  // The header of a bitmap of another size is in its own bottom row.
  Bitmap other(20, 3);
  SetQuirvel(other, kSn, kAtype, kM, kC, kPpi, kMax, kMin);
  EXPECT_EQ(other.ScanLine(2)[0], 'Q');
  EXPECT_EQ(other.ScanLine(1)[0], 0);
  ExpectTruthHeader(ReadHeader(other));
}

TEST(QuirvelHeader, BitmapsTooSmallForAHeaderAreLeftAlone) {
  struct Case { int width, height; };
  for (const Case c : {Case{0, 0}, {8, ImHeight}, {1, 1}, {8, 1}, {9, 0}, {ImWidth, 0}, {0, 5}}) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    Bitmap bmp(c.width, c.height);
    bmp.Fill(0xAB);
    const Bitmap before = bmp;
    SetQuirvel(bmp, kSn, kAtype, kM, kC, kPpi, kMax, kMin);
    EXPECT_TRUE(bmp == before);
    ExpectNoHeader(ReadHeader(bmp));
  }
  // Nine pixels are enough; the padding byte after them stays.
  Bitmap narrow(9, 1);
  narrow.Fill(0xAB);
  SetQuirvel(narrow, kSn, kAtype, kM, kC, kPpi, kMax, kMin);
  ExpectTruthHeader(ReadHeader(narrow));
  EXPECT_EQ(narrow.ScanLine(0)[27], 0xAB);
}

TEST(QuirvelHeader, SavedAndLoadedEveryByteSurvives) {
  TempDir dir;
  Bitmap bmp = PatternBitmap(ImWidth, ImHeight);
  SetQuirvel(bmp, kSn, kAtype, kM, kC, kPpi, kMax, kMin);
  SaveBmpAsPNG(bmp, dir.File("a.qvr"));
  Bitmap back(3, 3);
  LoadBmpAsPng(back, dir.File("a.qvr"));
  EXPECT_TRUE(back == bmp);
  ExpectTruthHeader(ReadHeader(back));
}

TEST(ImageModel, OtherPixelFormatsAreAProgrammingError) {
  Bitmap gray(ImWidth, ImHeight, PixelFormat::pf8bit);
  Bitmap rgb(ImWidth, ImHeight);
  Header h;
  EXPECT_THROW(SetQuirvel(gray, 1, 1, 1, 1, 1, 1, 1), std::invalid_argument);
  EXPECT_THROW(GetQuirvel(gray, h.sn, h.atype, h.m, h.c, h.ppi, h.max, h.min), std::invalid_argument);
  EXPECT_THROW(Img2Gray(gray, rgb), std::invalid_argument);
  EXPECT_THROW(Img2Gray(rgb, gray), std::invalid_argument);
  EXPECT_THROW(ImgRed(gray), std::invalid_argument);
  EXPECT_THROW(InvImg(rgb, gray), std::invalid_argument);
}

// ---- Whole-image helpers ----

TEST(TrimImgSize, ClampsToTheBitmapOnly) {
  struct Case { int width, height; TRect in, out; };
  for (const Case c : {Case{ImWidth, ImHeight, {-5, -5, 2000, 2000}, {0, 0, 1279, 1023}},
                       {ImWidth, ImHeight, {10, 20, 30, 40}, {10, 20, 30, 40}},
                       {ImWidth, ImHeight, {0, 0, 1279, 1023}, {0, 0, 1279, 1023}},
                       {ImWidth, ImHeight, {1500, -1, 1600, 1023}, {1500, 0, 1279, 1023}},
                       {ImWidth, ImHeight, {-1, -1, -1, -1}, {0, 0, -1, -1}},
                       {ImWidth, ImHeight, {30, 40, 10, 20}, {30, 40, 10, 20}},
                       {100, 50, {-5, -5, 2000, 2000}, {0, 0, 99, 49}},
                       {0, 0, {-5, -5, 5, 5}, {0, 0, -1, -1}}}) {
    TRect r = c.in;
    TrimImgSize(Bitmap(c.width, c.height), r);
    EXPECT_EQ(r, c.out) << c.in.Left << "," << c.in.Top << "," << c.in.Right << "," << c.in.Bottom << " on "
                        << c.width << " x " << c.height;
  }
}

TEST(Img2Gray, InvertedWeightedGrayWithTiesToEven) {
  struct Case { uint8_t b, g, r, out; };
  for (const Case c : {Case{255, 255, 255, 0}, {0, 0, 0, 255}, {255, 0, 0, 217},  // 38.25 -> 38
                       {0, 255, 0, 127},                                          // 127.5 -> 128
                       {0, 0, 255, 166},                                          // 89.25 -> 89
                       {0, 1, 0, 255},                                            // 0.5 -> 0
                       {0, 3, 0, 253},                                            // 1.5 -> 2
                       {10, 0, 0, 253},                                           // 1.5 -> 2
                       {30, 0, 0, 251},                                           // 4.5 -> 4
                       {0, 0, 10, 251},                                           // 3.5 -> 4
                       {0, 0, 30, 245},                                           // 10.5 -> 10
                       {100, 100, 100, 155}, {20, 40, 60, 211}}) {                // 44
    Bitmap src(1, 1);
    src.ScanLine(0)[0] = c.b;
    src.ScanLine(0)[1] = c.g;
    src.ScanLine(0)[2] = c.r;
    Bitmap dst(1, 1);
    Img2Gray(src, dst);
    const uint8_t* p = dst.ScanLine(0);
    EXPECT_EQ(p[0], c.out) << +c.b << " " << +c.g << " " << +c.r;
    EXPECT_EQ(p[1], c.out);
    EXPECT_EQ(p[2], c.out);
  }
}

TEST(Img2Gray, WorksOverTheOverlapAndInPlace) {
  const Bitmap src = PatternBitmap(5, 3);
  Bitmap dst(8, 6);
  dst.Fill(0x11);
  Img2Gray(src, dst);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      const uint8_t* s = y < 3 && x < 5 ? src.ScanLine(y) + 3 * x : nullptr;
      const uint8_t got = dst.ScanLine(y)[3 * x];
      if (s) {
        Bitmap one(1, 1);
        std::copy_n(s, 3, one.ScanLine(0));
        Bitmap gray(1, 1);
        Img2Gray(one, gray);
        EXPECT_EQ(got, gray.ScanLine(0)[0]);
      } else {
        EXPECT_EQ(got, 0x11) << x << "," << y;
      }
    }
  }
  Bitmap smaller(2, 2);
  Img2Gray(PatternBitmap(9, 9), smaller);
  EXPECT_EQ(smaller.Width(), 2);
  EXPECT_EQ(smaller.ScanLine(1)[3], smaller.ScanLine(1)[5]);
  Bitmap same = src;
  Bitmap copy = src;
  Img2Gray(same, same);
  Bitmap separate(5, 3);
  Img2Gray(copy, separate);
  EXPECT_TRUE(same == separate);
}

TEST(ImgRed, KeepsOnlyTheLowByte) {
  Bitmap bmp = PatternBitmap(7, 4);
  const Bitmap before = bmp;
  ImgRed(bmp);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 7; ++x) {
      EXPECT_EQ(Get16BitValue(bmp.ScanLine(y), x), before.ScanLine(y)[3 * x + 2]);
    }
  }
  Bitmap empty;
  ImgRed(empty);
  Bitmap noWidth(0, 4);
  ImgRed(noWidth);
}

TEST(InvImg, InvertsEveryByteOverTheOverlap) {
  const Bitmap src = PatternBitmap(6, 5);
  Bitmap dst(4, 7);
  dst.Fill(0x22);
  InvImg(src, dst);
  for (int y = 0; y < 7; ++y) {
    for (int i = 0; i < 12; ++i) {
      const uint8_t expected = y < 5 ? static_cast<uint8_t>(255 - src.ScanLine(y)[i]) : 0x22;
      EXPECT_EQ(dst.ScanLine(y)[i], expected) << i << "," << y;
    }
  }
  Bitmap same = src;
  InvImg(same, same);
  InvImg(same, same);
  EXPECT_TRUE(same == src);
}

// ---- Array images ----

TEST(TIntImg, IsXMajorWithASpareColumnAndRowAndLivesOnTheHeap) {
  static_assert(sizeof(TIntImg) == sizeof(int32_t) * (ImWidth + 1) * (ImHeight + 1));
  const auto img = std::make_unique<TIntImg>();
  const PIntImg p = img.get();
  EXPECT_EQ((*p)[ImWidth][ImHeight], 0);
  EXPECT_EQ((*p)[640][512], 0);
  (*p)[1][0] = -7;
  EXPECT_EQ(&(*p)[1][0] - &(*p)[0][0], ImHeight + 1);
  EXPECT_EQ(p->e[1][0], -7);
}

}  // namespace
}  // namespace analysis
