// Recordings shown on a page: placed, scaled, and the page's own canvas kept meanwhile.
#include <gtest/gtest.h>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_zlib.h"
#include "pdfwriter/tests/image_doc_tools.h"
#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter {
namespace {

using testing::MemDoc;
using testing::TempDir;

// A red box of 96 x 48 pixels at the top-left corner of a 96-dpi recording: 72 x 36 points.
platform::Metafile RedBox() {
  platform::Metafile mf(200, 100, 72);
  platform::MetafileCanvas c(mf, 96);
  c.Pen().Style = platform::TPenStyle::psClear;
  c.Brush().Color = 0x0000FF;
  c.Rectangle(0, 0, 96, 48);
  c.Close();
  return mf;
}

TEST(ShowMetafile, PlacedAndScaledByOneMatrix) {
  const platform::Metafile box = RedBox();
  MemDoc d;
  d.doc.BeginDoc();
  TMRVXPage& p = *d.doc.CurrentPage();
  // The page's own canvas holds a drawing while the recordings are shown.
  platform::MetafileCanvas& canvas = *d.doc.Canvas();
  canvas.Brush().Color = 0xFF0000;
  canvas.Ellipse(400, 600, 500, 700);
  p.ShowMetafile(box);
  p.ShowMetafile(box, 100, 200, 2, 0.5);
  const std::vector<std::string>& lines = p.PageContent();
  const auto cm = std::find(lines.begin(), lines.end(), "2 0 0 0.5 100 221 cm");
  ASSERT_NE(cm, lines.end());
  EXPECT_EQ(*(cm - 1), "q");
  EXPECT_EQ(lines.back(), "Q");
  EXPECT_EQ(p.SavedStates(), 0);
  EXPECT_EQ(p.Resolution(), 72);
  ASSERT_NE(d.doc.Canvas(), nullptr);
  d.doc.EndDoc();
  testing::SaveSample("shown-metafile.pdf", d.out);

  // The box drawn twice: 72 x 36 at the corner, 144 x 18 from (100, 200).
  TempDir dir;
  testing::WriteFile(dir.File("shown.pdf"), d.out);
  testing::ExpectQpdfOk(dir.File("shown.pdf"));
  const testing::PageRaster r = testing::RenderPage(dir.File("shown.pdf"), dir.File("shown"));
  const auto red = [&](int x, int y) { return r.At(x, y, 0) > 200 && r.At(x, y, 1) < 60 && r.At(x, y, 2) < 60; };
  const auto white = [&](int x, int y) { return r.At(x, y, 0) > 240 && r.At(x, y, 1) > 240 && r.At(x, y, 2) > 240; };
  EXPECT_TRUE(red(2, 2));
  EXPECT_TRUE(red(70, 34));
  EXPECT_TRUE(white(74, 20));
  EXPECT_TRUE(white(20, 38));
  EXPECT_TRUE(red(102, 202));
  EXPECT_TRUE(red(242, 216));
  EXPECT_TRUE(white(246, 209));
  EXPECT_TRUE(white(170, 220));
  EXPECT_TRUE(white(98, 209));
  // The page canvas's blue ellipse (96 dpi: centred at 337.5, 487.5 points) is still there.
  EXPECT_GT(r.At(337, 487, 2), 200);
  EXPECT_LT(r.At(337, 487, 0), 60);
}

TEST(ShowMetafile, AResolutionChangeKeepsTheCanvas) {
  MemDoc d;
  d.doc.BeginDoc();
  TMRVXPage& p = *d.doc.CurrentPage();
  d.doc.Canvas()->Brush().Color = 0x00FF00;
  d.doc.Canvas()->Rectangle(0, 0, 40, 40);
  platform::MetafileCanvas* before = d.doc.Canvas();
  p.SetResolution(144);
  EXPECT_EQ(d.doc.Canvas(), before);
  p.SetResolution(72);
  d.doc.EndDoc();
  TempDir dir;
  testing::WriteFile(dir.File("kept.pdf"), d.out);
  const testing::PageRaster r = testing::RenderPage(dir.File("kept.pdf"), dir.File("kept"));
  EXPECT_GT(r.At(10, 10, 1), 200);
  EXPECT_LT(r.At(10, 10, 0), 60);
}

TEST(ShowMetafile, AnEmptyRecordingDrawsNothing) {
  MemDoc d;
  d.doc.BeginDoc();
  TMRVXPage& p = *d.doc.CurrentPage();
  const size_t lines = p.PageContent().size();
  p.ShowMetafile(platform::Metafile(10, 10, 72), 5, 5, 1, 1);  // never recorded
  EXPECT_EQ(p.PageContent().size(), lines);
  // A recording without drawing adds no drawing operators.
  platform::Metafile empty(10, 10, 72);
  platform::MetafileCanvas(empty, 96).Close();
  p.ShowMetafile(empty, 0, 0, 1, 1);
  for (size_t i = lines; i < p.PageContent().size(); ++i) {
    const std::string& l = p.PageContent()[i];
    EXPECT_TRUE(l.find(" re") == std::string::npos && l.find(" m") == std::string::npos) << l;
  }
  EXPECT_EQ(p.SavedStates(), 0);
}

}  // namespace
}  // namespace pdfwriter
