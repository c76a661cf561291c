// The stripe analysis and the line pattern of the structure page: the raster geometry and its
// table edge, the window counts against a plain window walk, the stripe's centring and width,
// the structure value, and the whole command with its two bitmaps checked by an outside script.
#include "analysis/analyze_drivers_stripes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include <unistd.h>

#include "analysis/myimage_filters.h"
#include "analysis/mymath.h"
#include "analysis/tests/drivers_fixture.h"
#include "platform/image/bmp_codec.h"

namespace analysis {
namespace {

using namespace fixture;
namespace fs = std::filesystem;

// A plate surface: bright with a few dark specks (10 %), and an engraved stripe (x 290..989)
// in which 70 % of the pixels are dark, evenly spread so that every window sees that share.
Bitmap StripeSurface() {
  Bitmap b(ImWidth, ImHeight);
  for (int y = 0; y < ImHeight; ++y)
    for (int x = 0; x < ImWidth; ++x) {
      const bool stripe = x >= 290 && x < 990;
      SetGray(b, x, y, (x + 3 * y) % 10 < (stripe ? 7 : 1) ? 40 : 210);
    }
  return b;
}

// The window count of one raster cell, walked pixel by pixel.
int32_t NaiveCell(const Bitmap& A, const TIntImage& th, int32_t x, int32_t y) {
  int32_t n = 0, b = 0;
  for (int j = -StripeDim; j <= StripeDim; ++j)
    for (int i = -StripeDim; i <= StripeDim; ++i) {
      const int px = x + i, py = y + j;
      if (px < 0 || py < 0 || px >= A.Width() || py >= A.Height()) continue;
      ++n;
      b += Px(A, px, py) > th[px][py];
    }
  return n ? platform::Round(b * 1000.0 / n) : 0;
}

TEST(StripeRaster, GeometryAtTheCalibratedRuling) {
  State st;
  const Bitmap A = Filled(ImWidth, ImHeight, 200);
  auto r = std::make_unique<TStripeRaster>();
  std::vector<int32_t> progress;
  MakeStripeRaster(A, st->ThImage, 43000, 48, *r, [&](int32_t p) { progress.push_back(p); });
  EXPECT_NEAR(r->step, 16.93, 0.005);
  EXPECT_EQ(r->rows, 55);
  EXPECT_EQ((std::vector<int32_t>{r->ys[0], r->ys[1], r->ys[2], r->ys[3]}), (std::vector<int32_t>{48, 65, 82, 99}));
  EXPECT_EQ(r->xs[0], 48);
  EXPECT_EQ(r->xs[1], 65);
  EXPECT_LT(r->xs[static_cast<size_t>(r->cols - 1)], ImWidth - StripeDim);
  EXPECT_GE(r->xs[static_cast<size_t>(r->cols - 1)] + r->step, ImWidth - StripeDim - 1);
  // One gauge step per raster row, rnd(y x 100 / (height - 2 dim)).
  ASSERT_EQ(progress.size(), 55u);
  EXPECT_EQ(progress.front(), 5);
  EXPECT_EQ(progress.back(), platform::Round(r->ys[54] * 100.0 / (ImHeight - 2 * StripeDim)));
  // Every pixel above the threshold of 128.
  EXPECT_EQ(r->cells[3][7].value, 1000);
  EXPECT_EQ(r->cells[3][7].x, r->xs[3]);
  EXPECT_EQ(r->cells[3][7].y, r->ys[7] + 10);
  EXPECT_EQ(r->mean, 1000);
}

TEST(StripeRaster, WindowCountsEqualAWindowWalk) {
  State st;
  const Bitmap A = StripeSurface();
  // A threshold that varies over the image, so that the test is taken per pixel.
  for (int x = 0; x <= ImWidth; ++x)
    for (int y = 0; y <= ImHeight; ++y) st->ThImage[x][y] = static_cast<uint16_t>(x < 640 ? 100 : 220);
  auto r = std::make_unique<TStripeRaster>();
  // Start column 5: the first windows reach past the left edge and count only their part inside.
  MakeStripeRaster(A, st->ThImage, 43000, 5, *r, nullptr);
  for (const auto& [col, row] : std::vector<std::pair<int, int>>{{0, 0}, {1, 3}, {33, 20}, {37, 54}, {r->cols - 1, 54}}) {
    const TStripeCell& c = r->cells[static_cast<size_t>(col)][static_cast<size_t>(row)];
    EXPECT_EQ(c.value, NaiveCell(A, st->ThImage, r->xs[static_cast<size_t>(col)], r->ys[static_cast<size_t>(row)]))
        << col << "," << row;
  }
}

TEST(StripeRaster, AFineRulingStopsAtTheTableEdge) {
  State st;
  const Bitmap A = StripeSurface();
  for (const double ppi : {30000.0, 5000.0, 25.4}) {
    auto s = std::make_unique<TStripeAnalysis>();
    MakeStripeRaster(A, st->ThImage, ppi, 40, s->raster, nullptr);
    EXPECT_EQ(s->raster.cols, StripeMaxCols) << ppi;
    EXPECT_EQ(s->raster.rows, StripeMaxRows) << ppi;
    EvaluateStripes(*s, 240);
    EXPECT_LE(s->ri, StripeMaxCols - 1);
    EXPECT_TRUE(s->structure.valid);
  }
  // No step, no raster.
  for (const double ppi : {0.0, -43000.0, std::nan("")}) {
    auto r = std::make_unique<TStripeRaster>();
    MakeStripeRaster(A, st->ThImage, ppi, 40, *r, nullptr);
    EXPECT_EQ(r->cols * r->rows, 0) << ppi;
  }
}

TEST(StripeEvaluation, NothingAboveTheThreshold) {
  State st;
  FillTh(st->ThImage, 255);
  auto s = std::make_unique<TStripeAnalysis>();
  MakeStripeRaster(StripeSurface(), st->ThImage, 43000, 48, s->raster, nullptr);
  EvaluateStripes(*s, 240);
  EXPECT_EQ(s->raster.mean, 0);
  EXPECT_EQ(s->all.h[100], s->raster.cols * s->raster.rows);
  EXPECT_EQ(s->all.fullest, 100);
  EXPECT_TRUE(s->structure.valid);
  EXPECT_DOUBLE_EQ(s->structure.hmean, 100);
  EXPECT_EQ(s->structure.count, 2);  // one bin, above a third and above half of itself
}

TEST(StripeEvaluation, StructureValueWeightsBarsWithTheirSquaredCounts) {
  TStripeHist h;
  for (const auto& [bin, n] : std::vector<std::pair<int, int>>{{50, 10}, {60, 4}, {70, 2}, {20, 3}})
    for (int i = 0; i < n; ++i) h.Count(bin);
  EXPECT_EQ(h.fullest, 50);
  const TStripeStructure s = StripeStructure(h);
  // Bars above 10/3: 50 (also above half) and 60; bins 70 and 20 drop out.
  EXPECT_EQ(s.count, 3);
  EXPECT_NEAR(s.hmean, (51.0 * 100 + 61.0 * 16) / 116 - 1, 1e-12);
  EXPECT_FALSE(StripeStructure(TStripeHist()).valid);
  // A later bin of the same count does not take over.
  TStripeHist tie;
  tie.Count(30);
  tie.Count(40);
  EXPECT_EQ(tie.fullest, 30);
}

TEST(StripeEvaluation, GravureWidthSetsTheCentringWindowAndTheStripe) {
  // Two humps: a wide one around column 40 and a narrow one at column 8. Starting from the
  // middle (35), a window of 12 columns each side walks to the wide hump's centre.
  TStripeProfile p{};
  for (int c = 30; c <= 50; ++c) p[static_cast<size_t>(c)] = 1000;
  p[8] = 100000;
  EXPECT_EQ(StripeCentre(p, 70, 240), 40);
  // With a window of 2 columns (Gravurewidth 40) the walk cannot leave the plateau's edge.
  EXPECT_EQ(StripeCentre(p, 70, 40), 35);

  auto s = std::make_unique<TStripeAnalysis>();
  s->raster.cols = 70;
  s->raster.rows = 2;
  for (int c = 0; c < 70; ++c)
    for (int r = 0; r < 2; ++r) s->raster.cells[static_cast<size_t>(c)][static_cast<size_t>(r)].value = c >= 30 && c <= 50 ? 0 : 1000;
  EvaluateStripes(*s, 240);
  EXPECT_EQ(s->centre, 40);
  EXPECT_EQ(s->li, 16);
  EXPECT_EQ(s->ri, 64);
  EXPECT_EQ(s->profile[40], 200u);
  // Stripe: 21 dark columns and 28 bright ones of two rows.
  EXPECT_EQ(s->stripe.h[100], 42);
  EXPECT_EQ(s->stripe.h[0], 56);
  // A stripe near the table's end is cut at its last column.
  s->raster.cols = 80;
  for (int c = 0; c < 80; ++c)
    for (int r = 0; r < 2; ++r) s->raster.cells[static_cast<size_t>(c)][static_cast<size_t>(r)].value = c >= 46 ? 0 : 1000;
  EvaluateStripes(*s, 240);
  EXPECT_EQ(s->ri, 79);
}

// The home folder of the command: a fresh folder under the system's temporary folder.
struct StripeHost : RecordingHost {
  fs::path home;
  std::map<std::string, Bitmap, std::less<>> pictures;
  Bitmap zoomed;
  int spectrum = 0;
  std::string HomeFile(std::string_view name) override { return (home / std::string(name)).string(); }
  void SetPicture(std::string_view control, Bitmap bmp) override { pictures[std::string(control)] = std::move(bmp); }
  void DrawZoomed(const Bitmap& abmp) override { zoomed = abmp; }
  void FFTAmplitudeChange() override { ++spectrum; }
  std::string LanguageText(std::string_view section, int32_t offset) override {
    return section == "MEASRESULT" && offset == 36 ? "Stripe width" : "";
  }
};

struct StripeCommand : ::testing::Test {
  Window w{StripeSurface()};
  StripeHost host;
  TDriverContext ctx{w.st(), w.dbmp, w.rbmp, *w.hist, w.MyMess, w.win, host};
  StripeCommand() {
    host.home = fs::temp_directory_path() / ("quirvel_stripes_" + std::to_string(::getpid()));
    fs::create_directories(host.home);
    host.win = &w.win;
    host.dbmp = &w.dbmp;
    host.rbmp = &w.rbmp;
    host.st = &w.st();
    host.page = TAnalysisPage::Structure;
  }
  ~StripeCommand() override { fs::remove_all(host.home); }
};

TEST_F(StripeCommand, MeasuresTheStripeAndWritesBothBitmaps) {
  w.win.StatActive = true;
  StructureStreifenClick(ctx);

  EXPECT_EQ(w.MyMess.aType, MT_PLATEWSI);
  EXPECT_EQ(w.win.MESSTYPE, MT_PLATEWSI);
  EXPECT_EQ(host.statistics, 1);
  EXPECT_EQ(host.spectrum, 1);
  EXPECT_FALSE(host.visible.at("PlateStructAreaPanel"));
  EXPECT_TRUE(host.visible.at("PlateStructPanel"));
  EXPECT_EQ(host.texts.at("StructResLabel"), "Stripe width 480\u00B5m");
  // The stripe holds 70 % dark pixels, around it 10 %: the structure value is the stripe's.
  EXPECT_NEAR(w.MyMess.DotArea, 70, 1);
  EXPECT_EQ(host.texts.at("SDotAreaRes"), MFTStr(w.MyMess.DotArea, platform::TFloatFormat::ffFixed, 5, 1));
  EXPECT_FALSE(host.texts.at("AvgStructRes").empty());
  // The annotated image is shown; the gray image is left as it was.
  EXPECT_EQ(host.zoomed.Width(), ImWidth);
  EXPECT_EQ(w.dbmp, StripeSurface());

  // Profile picture: three pixels a column, the area under the curve filled.
  const Bitmap& strip = host.pictures.at("StripImage");
  EXPECT_EQ(strip.Height(), StripImageHeight);
  EXPECT_EQ((strip.Width() - 2) % 3, 0);
  EXPECT_EQ(Px(strip, 1, 0), 0);  // the black frame
  const int fx = 2, fy = strip.Height() - 3;  // beside the silver and gray lines
  EXPECT_EQ((std::vector<int>{Px(strip, fx, fy, 0), Px(strip, fx, fy, 1), Px(strip, fx, fy, 2)}),
            (std::vector<int>{0x96, 0xC8, 0xFF}));
  const Bitmap& hist = host.pictures.at("PlateStructHist");
  EXPECT_EQ(hist.Width(), StructHistWidth);
  EXPECT_EQ(hist.Height(), StructHistHeight);

  // Both bitmaps: BM, 24 bit, gray, one pixel a cell; SOBEL.bmp recomputed from STRUCTIMG.bmp
  // by an outside script.
  const fs::path img = host.home / "STRUCTIMG.bmp", sobel = host.home / "SOBEL.bmp";
  const Bitmap raster = platform::LoadBmp(img.string());
  EXPECT_GT(raster.Width(), 60);
  EXPECT_EQ(raster.Height(), 55);
  const std::string command = "python3 '" + std::string(QUIRVEL_TEST_DATA) + "/stripes_truth.py' '" +
                              img.string() + "' '" + sobel.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, pipe)) out += buf;
  EXPECT_EQ(::pclose(pipe), 0) << out;
  EXPECT_EQ(out.rfind("OK ", 0), 0u) << out;

  const fs::path output = fs::path(QUIRVEL_TEST_OUTPUT);
  fs::create_directories(output);
  fs::copy_file(img, output / "STRUCTIMG.bmp", fs::copy_options::overwrite_existing);
  fs::copy_file(sobel, output / "SOBEL.bmp", fs::copy_options::overwrite_existing);
}

TEST_F(StripeCommand, AnImageWithNothingAboveTheThreshold) {
  w.dbmp.Fill(0);
  StructureStreifenClick(ctx);
  EXPECT_DOUBLE_EQ(w.MyMess.DotArea, 100);
  EXPECT_EQ(host.texts.at("SDotAreaRes"), "100.0");
  EXPECT_EQ(host.statistics, 0);
  const Bitmap raster = platform::LoadBmp((host.home / "STRUCTIMG.bmp").string());
  for (int y = 0; y < raster.Height(); ++y)
    for (int x = 0; x < raster.Width(); ++x) ASSERT_EQ(Px(raster, x, y), 0);
}

TEST_F(StripeCommand, AFolderThatCannotBeWrittenEndsTheRun) {
  host.home /= "missing";
  EXPECT_ANY_THROW(StructureStreifenClick(ctx));
  EXPECT_EQ(host.spectrum, 0);
  EXPECT_NE(w.MyMess.aType, MT_PLATEWSI);
}

TEST_F(StripeCommand, NothingWithoutAnImage) {
  w.win.ImgCaptured = false;
  StructureStreifenClick(ctx);
  EXPECT_TRUE(host.shown.empty());
  EXPECT_FALSE(fs::exists(host.home / "STRUCTIMG.bmp"));
}

TEST(StructLinePattern, PeriodsInMilAndNoStatistic) {
  // Dark lines 8 pixels wide every 32 pixels: 32 cycles in the transform's 1024 columns.
  Window w(Grating(32, 8));
  w.host.page = TAnalysisPage::Structure;
  w.win.StatActive = true;
  w.st().SUnits = 1;
  StructAutoLineClick(w.ctx);
  EXPECT_EQ(w.host.statistics, 0);
  EXPECT_EQ(w.MyMess.aType, MT_PLATEMG);
  EXPECT_EQ(w.win.MESSTYPE, MT_PLATEMG);
  EXPECT_NEAR(w.win.maxf, 32, 0.5);
  EXPECT_NEAR(w.MyMess.DotArea, 25, 1);
  // 32 pixels at 43000 ppi: 18.9 µm, 0.744 mil; 1344 lines per inch.
  EXPECT_NEAR(w.MyMess.Periode1, 32 * 25400 / 43000.0, 0.5);
  const std::string& periode = w.host.texts.at("PeriodePlate");
  EXPECT_NE(periode.find(" mil"), std::string::npos) << periode;
  EXPECT_NEAR(GetVal(periode), 32 * 1000 / 43000.0, 0.02) << periode;
  const std::string& freq = w.host.texts.at("FreqPlate");
  EXPECT_NE(freq.find(" LPI"), std::string::npos) << freq;
  EXPECT_NEAR(GetVal(freq), 43000 / 32.0, 20) << freq;
  EXPECT_TRUE(w.host.visible.at("PlateLineStructPanel"));
  EXPECT_TRUE(w.host.visible.at("PlateStructAreaPanel"));
  EXPECT_NE(w.host.texts.at("PLineStructRes").find('%'), std::string::npos);
}

}  // namespace
}  // namespace analysis
