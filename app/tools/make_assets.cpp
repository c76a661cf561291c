// Writes the pictures and sounds of the home folder at build time, so that no large binary
// lives in the repository: the start picture, the zero reference image, the brand logos, the
// measurement-type icons, the about box artwork, the "OK" sound and the sample high-range
// images of a LAMS mask, a plate and a film in Images/.
//
//   quirvel_assets <home folder>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/analyze_consts.h"
#include "analysis/myimage.h"
#include "analysis/myimage_gray.h"
#include "platform/image/bitmap.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/png_codec.h"

namespace {

constexpr int W = analysis::ImWidth;
constexpr int H = analysis::ImHeight;

platform::Bitmap ToBitmap(const QImage& image) {
  const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
  platform::Bitmap bmp(bgr.width(), bgr.height());
  for (int y = 0; y < bgr.height(); ++y) std::memcpy(bmp.ScanLine(y), bgr.constScanLine(y), bmp.RowBytes());
  return bmp;
}

QFont Font(int pixel_size, bool bold, const char* family = "DejaVu Sans") {
  QFont f(family);
  f.setPixelSize(pixel_size);
  f.setBold(bold);
  return f;
}

// The picture shown until an image is captured or loaded: a quiet halftone wedge.
QImage DefaultImage() {
  QImage img(W, H, QImage::Format_RGB888);
  QLinearGradient bg(0, 0, 0, H);
  bg.setColorAt(0, QColor(232, 234, 236));
  bg.setColorAt(1, QColor(206, 210, 214));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(img.rect(), bg);
  const double period = 32.0;
  const double angle = 15.0 * M_PI / 180.0;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(150, 156, 162));
  for (int j = -10; j < H / period + 10; ++j) {
    for (int i = -10; i < W / period + 10; ++i) {
      const double x = i * period * std::cos(angle) - j * period * std::sin(angle) + 60;
      const double y = i * period * std::sin(angle) + j * period * std::cos(angle);
      if (x < 0 || x >= W || y < 0 || y >= H) continue;
      const double coverage = 0.03 + 0.6 * x / W;  // the wedge grows from left to right
      const double r = std::sqrt(coverage * period * period / M_PI);
      p.drawEllipse(QPointF(x, y), r, r);
    }
  }
  p.setBrush(QColor(255, 255, 255, 210));
  p.drawRoundedRect(QRectF(W / 2 - 330, H / 2 - 110, 660, 220), 18, 18);
  p.setPen(QColor(40, 60, 90));
  p.setFont(Font(96, true));
  p.drawText(QRectF(W / 2 - 330, H / 2 - 110, 660, 140), Qt::AlignCenter, "QUIRVEL");
  p.setFont(Font(26, false));
  p.drawText(QRectF(W / 2 - 330, H / 2 + 20, 660, 60), Qt::AlignCenter, "No image captured");
  return img;
}

// A zero reference image as the camera gives it for an empty, evenly lit field: 24-bit
// values packed big-endian (blue byte = bits 23..16), slightly darker towards the corners;
// the top row starts with the maximum, the minimum and the origin marker 0.
platform::Bitmap ZeroReference() {
  platform::Bitmap bmp(W, H);
  uint32_t max = 0, min = 0xFFFFFF;
  for (int y = 0; y < H; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < W; ++x) {
      const double dx = (x - W / 2.0) / (W / 2.0), dy = (y - H / 2.0) / (H / 2.0);
      const auto v = static_cast<uint32_t>(std::lround(30000.0 - 2000.0 * (dx * dx + dy * dy)));
      row[3 * x] = static_cast<uint8_t>(v >> 16);
      row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(v);
      max = std::max(max, v);
      min = std::min(min, v);
    }
  }
  uint8_t* top = bmp.ScanLine(0);
  const uint32_t head[3] = {max, min, 0};
  for (int k = 0; k < 3; ++k) {
    top[3 * k] = static_cast<uint8_t>(head[k] >> 16);
    top[3 * k + 1] = static_cast<uint8_t>(head[k] >> 8);
    top[3 * k + 2] = static_cast<uint8_t>(head[k]);
  }
  return bmp;
}

// A sample high-range image as a capture leaves it after the conversion against the zero
// reference: values relative to the empty light field (10000 = as bright), origin marker 1,
// the header of the page it was taken on. Round dots on a rotated lattice with soft edges,
// a little unevenness of the light and a little sensor noise.
struct SampleSpec {
  const char* file;
  int32_t page;       // 0 LAMS mask, 1 plate, 3 film
  double period;      // pixels
  double angle;       // degrees
  double coverage;    // share of the area covered by the dots
  double dot, ground; // relative levels
  double edge;        // width of the soft dot edge, pixels
  double noise;       // +- relative levels
};

// The camera of the samples: its serial number and its calibration (pixels per inch).
constexpr int32_t kSampleSerial = 1000;
constexpr double kSamplePpi = 43000;

platform::Bitmap Sample(const SampleSpec& s) {
  platform::Bitmap bmp(W, H);
  const double a = s.angle * M_PI / 180, ca = std::cos(a), sa = std::sin(a);
  const double r = s.period * std::sqrt(s.coverage / M_PI);
  uint32_t seed = 12345u + static_cast<uint32_t>(s.page);
  uint32_t max = 0, min = analysis::HRMaxValue;
  for (int y = 0; y < H; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < W; ++x) {
      const double u = (x * ca + y * sa) / s.period + 0.31, v = (-x * sa + y * ca) / s.period + 0.57;
      const double du = (u - std::nearbyint(u)) * s.period, dv = (v - std::nearbyint(v)) * s.period;
      const double d = std::sqrt(du * du + dv * dv) - r;  // negative inside a dot
      const double t = std::clamp(0.5 - d / s.edge, 0.0, 1.0);
      const double inside = t * t * (3 - 2 * t);
      const double dx = (x - W / 2.0) / W, dy = (y - H / 2.0) / H;
      const double light = 1.0 - 0.08 * (dx * dx + dy * dy);
      seed = seed * 1664525u + 1013904223u;
      const double noise = ((seed >> 8) / 16777216.0 - 0.5) * 2 * s.noise;
      const double value = (s.ground + (s.dot - s.ground) * inside) * light + noise;
      const auto w = static_cast<uint32_t>(std::clamp(std::lround(value), 1L, 16000L));
      analysis::Set16BitValue(row, x, w);
      max = std::max(max, w);
      min = std::min(min, w);
    }
  }
  uint8_t* top = bmp.ScanLine(0);
  analysis::Set16BitValue(top, 0, max);
  analysis::Set16BitValue(top, 1, min);
  top[6] = top[7] = top[8] = 1;
  const analysis::TBRConv conv = analysis::BRConv[static_cast<size_t>(s.page)];
  analysis::SetQuirvel(bmp, kSampleSerial, s.page, conv.m, conv.c, static_cast<uint32_t>(kSamplePpi * 100), max, min);
  return bmp;
}

QImage BrandLogo(const char* name, const QColor& colour) {
  QImage img(200, 78, QImage::Format_RGB888);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(QRectF(8, 17, 44, 44));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(20, 29, 20, 20));
  p.setPen(colour);
  p.setFont(Font(30, true));
  p.drawText(QRectF(58, 10, 140, 42), Qt::AlignLeft | Qt::AlignVCenter, name);
  p.setPen(QColor(90, 90, 90));
  p.setFont(Font(11, false));
  p.drawText(QRectF(60, 50, 140, 18), Qt::AlignLeft | Qt::AlignVCenter, "plate inspection");
  return img;
}

struct IconSpec {
  const char* text;
  QColor colour;
};

QImage TypeIcon(const IconSpec& spec) {
  QImage img(64, 64, QImage::Format_RGB888);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(spec.colour.darker(140), 2));
  p.setBrush(spec.colour);
  p.drawRoundedRect(QRectF(3, 3, 58, 58), 9, 9);
  p.setPen(Qt::white);
  p.setFont(Font(13, true));
  p.drawText(QRectF(3, 3, 58, 58), Qt::AlignCenter | Qt::TextWordWrap, spec.text);
  return img;
}

QImage AboutArt() {
  QImage img(604, 550, QImage::Format_RGB888);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 550);
  g.setColorAt(0, QColor(28, 46, 76));
  g.setColorAt(1, QColor(70, 110, 160));
  p.fillRect(img.rect(), g);
  p.setPen(Qt::NoPen);
  for (int j = 0; j < 18; ++j) {
    for (int i = 0; i < 20; ++i) {
      const double r = 2.0 + 10.0 * i / 20.0;
      p.setBrush(QColor(255, 255, 255, 40 + 6 * j));
      p.drawEllipse(QPointF(20 + i * 30.0, 300 + j * 14.0), r * 0.6, r * 0.6);
    }
  }
  QRadialGradient lens(302, 170, 120);
  lens.setColorAt(0, QColor(255, 255, 255, 90));
  lens.setColorAt(1, QColor(255, 255, 255, 0));
  p.setBrush(lens);
  p.drawEllipse(QPointF(302, 170), 120, 120);
  p.setPen(Qt::white);
  p.setFont(Font(64, true));
  p.drawText(QRectF(0, 100, 604, 110), Qt::AlignCenter, "QUIRVEL");
  p.setFont(Font(22, false));
  p.drawText(QRectF(0, 200, 604, 40), Qt::AlignCenter, "Dudiv Adavuzed");
  p.setFont(Font(15, false));
  p.drawText(QRectF(0, 240, 604, 30), Qt::AlignCenter, "Quality control of flexographic printing forms");
  return img;
}

QImage AboutStrip() {
  QImage img(604, 58, QImage::Format_RGB888);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const char* names[] = {"QUIRVEL", "SOLVO", "TRIXA", "VOSKA"};
  p.setPen(QColor(60, 80, 110));
  p.setFont(Font(16, true));
  for (int i = 0; i < 4; ++i) p.drawText(QRectF(i * 151, 0, 151, 58), Qt::AlignCenter, names[i]);
  return img;
}

// A short two-tone chime, 16-bit mono PCM.
std::vector<uint8_t> OkSound() {
  const int rate = 22050;
  const int n = rate * 22 / 100;
  std::vector<int16_t> samples(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double f = i < n / 2 ? 880.0 : 1320.0;
    const double envelope = std::exp(-6.0 * t) * std::min(1.0, i / 200.0);
    samples[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(9000.0 * envelope * std::sin(2 * M_PI * f * t)));
  }
  std::vector<uint8_t> out;
  auto u32 = [&](uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
  };
  auto u16 = [&](uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  const uint32_t data_bytes = static_cast<uint32_t>(n) * 2;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  u32(36 + data_bytes);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(rate);
  u32(rate * 2);
  u16(2);
  u16(16);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  u32(data_bytes);
  for (int16_t s : samples) u16(static_cast<uint16_t>(s));
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <home folder>\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  const std::string home = argv[1];
  try {
    std::filesystem::create_directories(home + "/LOGOS");
    std::filesystem::create_directories(home + "/ICONS");
    platform::SaveBmp(ToBitmap(DefaultImage()), home + "/defaultimage.bmp");
    platform::SavePng(ZeroReference(), home + "/background.zph");
    const char* brands[] = {"QUIRVEL", "SOLVO", "TRIXA", "VOSKA"};
    const QColor colours[] = {QColor(30, 80, 150), QColor(20, 130, 90), QColor(170, 80, 20), QColor(120, 40, 130)};
    for (int i = 0; i < 4; ++i) {
      platform::SaveBmp(ToBitmap(BrandLogo(brands[i], colours[i])), home + "/LOGOS/LOGO" + std::to_string(i) + ".bmp");
    }
    const QColor mask(40, 90, 170), plate(30, 140, 90), structure(200, 120, 30), film(130, 60, 150), other(110, 110, 110);
    const IconSpec icons[] = {
        {"", other},           {"PIXEL", mask},       {"LINES", mask},       {"DOTS", mask},
        {"LINE", mask},        {"DOTS", plate},       {"DOTS ST", plate},    {"PIXEL", plate},
        {"BURL", plate},       {"LINE", plate},       {"STRUC", structure},  {"AREA", structure},
        {"LINES", structure},  {"DOTS", film},        {"CLUS", film},        {"MINI", film},
        {"LINE", film},        {"CAL", other},        {"?", other},
    };
    for (int i = 0; i < 19; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/ICONS/MTYPE%02d.bmp", i);
      platform::SaveBmp(ToBitmap(TypeIcon(icons[i])), home + name);
    }
    AboutArt().save(QString::fromStdString(home + "/about.png"));
    AboutStrip().save(QString::fromStdString(home + "/aboutstrip.png"));
    WriteFile(home + "/OK.wav", OkSound());
    std::filesystem::create_directories(home + "/Images");
    // A LAMS mask: clear openings in the black layer; a plate: dots darker than the floor; a
    // film: black dots on clear film.
    const SampleSpec samples[] = {
        {"sample_mask.qvr", 0, 96, 45, 0.30, 9300, 400, 2.5, 120},
        {"sample_plate.qvr", 1, 110, 15, 0.35, 2600, 7800, 4.0, 150},
        {"sample_film.qvr", 3, 90, 75, 0.40, 150, 9600, 1.5, 80},
    };
    for (const SampleSpec& spec : samples) analysis::SaveBmpAsPNG(Sample(spec), home + "/Images/" + spec.file);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quirvel_assets: %s\n", e.what());
    return 1;
  }
  return 0;
}
