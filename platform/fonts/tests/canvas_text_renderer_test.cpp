#include "platform/fonts/canvas_text_renderer.h"

#include <gtest/gtest.h>

#include "platform/image/canvas.h"

namespace platform {
namespace {

int InkPixels(const Bitmap& b, const TRect& box) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x) {
      if (row[3 * x] < 128) {
        EXPECT_TRUE(x >= box.Left && x < box.Right && y >= box.Top && y < box.Bottom) << x << "," << y;
        ++n;
      }
    }
  }
  return n;
}

TEST(CanvasTextRenderer, CanvasTextDrawsInsideTheMeasuredBoxAndAlignsRight) {
  InstallCanvasTextRenderer();
  Bitmap bmp(300, 60);
  bmp.Fill(255);
  Canvas canvas(bmp);
  canvas.Font().Name = "Arial";
  canvas.Font().Size = 14;
  const int width = canvas.TextWidth("Dot area 42.5 %");
  EXPECT_GT(width, 60);
  EXPECT_GT(canvas.TextHeight("Dot area 42.5 %"), 10);
  const TRect box = canvas.TextOut(10, 5, "Dot area 42.5 %");
  EXPECT_EQ(box.Left, 10);
  EXPECT_EQ(box.Right - box.Left, width);
  EXPECT_GT(InkPixels(bmp, box), 100);

  bmp.Fill(255);
  canvas.Font().Align = TCanvasTextAlign::taRight;
  const TRect right = canvas.TextOut(290, 5, "Dot area 42.5 %");
  EXPECT_EQ(right.Right, 290);
  EXPECT_GT(InkPixels(bmp, right), 100);
}

}  // namespace
}  // namespace platform
