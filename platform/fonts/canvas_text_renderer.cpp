#include "platform/fonts/canvas_text_renderer.h"

#include "platform/fonts/canvas_text.h"
#include "platform/image/canvas.h"

namespace platform {
namespace {

TCanvasFont ToFont(const TCanvasTextStyle& style) {
  TCanvasFont font;
  font.Name = style.Name;
  font.Size = style.Size;
  font.Height = style.Height;
  font.Style = style.Style;
  font.Color = style.Color;
  font.PixelsPerInch = style.PixelsPerInch;
  return font;
}

TTextAlign ToAlign(TCanvasTextAlign a) {
  switch (a) {
    case TCanvasTextAlign::taCenter: return TTextAlign::taCenter;
    case TCanvasTextAlign::taRight: return TTextAlign::taRight;
    case TCanvasTextAlign::taLeft: break;
  }
  return TTextAlign::taLeft;
}

class ProviderTextRenderer : public ICanvasTextRenderer {
 public:
  TRect TextOut(Bitmap& bitmap, int x, int y, std::string_view text, const TCanvasTextStyle& style) override {
    TTextOptions options;
    options.Align = ToAlign(style.Align);
    options.Opaque = style.Opaque;
    options.Background = style.Background;
    return TextOutUtf8(bitmap, x, y, text, ToFont(style), options);
  }
  TPoint TextExtent(std::string_view text, const TCanvasTextStyle& style) override {
    const TTextExtent e = TextExtentUtf8(ToFont(style), text);
    return TPoint{e.Width, e.Height};
  }
};

}  // namespace

void InstallCanvasTextRenderer() {
  static ProviderTextRenderer renderer;
  SetCanvasTextRenderer(&renderer);
}

}  // namespace platform
