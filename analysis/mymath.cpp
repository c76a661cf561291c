#include "analysis/mymath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/base/number_parse.h"

namespace analysis {
namespace {

void FirstCommaToPoint(std::string& s) {
  size_t p = s.find(',');
  if (p != std::string::npos) s[p] = '.';
}

// Removes the first occurrence of a suffix, in its UTF-8 spelling when the text has one,
// else in its Windows-1252 spelling.
void RemoveFirst(std::string& s, std::string_view utf8, std::string_view cp1252) {
  size_t p = s.find(utf8);
  if (p != std::string::npos) {
    s.erase(p, utf8.size());
    return;
  }
  p = s.find(cp1252);
  if (p != std::string::npos) s.erase(p, cp1252.size());
}

std::string CleanResultText(std::string_view text) {
  std::string s(text);
  FirstCommaToPoint(s);
  RemoveFirst(s, "\xC2\xB0", "\xB0");                  // °
  RemoveFirst(s, "%", "%");
  RemoveFirst(s, "\xC2\xB5m\xC2\xB2", "\xB5m\xB2");    // µm²
  RemoveFirst(s, "\xC2\xB5m", "\xB5m");                // µm
  return s;
}

}  // namespace

std::string MFTStr(Extended value, platform::TFloatFormat format, int32_t Precision, int32_t Digits) {
  std::string s = platform::FloatToStrF(value, format, Precision, Digits, platform::ProcessFormatSettings());
  FirstCommaToPoint(s);
  return s;
}

std::string SetVal(double r, int32_t digits) {
  if (digits == 0) return platform::IntToStr(platform::Round64(r));
  if (digits < 1 || digits > 3) digits = 4;
  return platform::StrFloat(r, 5, digits);
}

double GetVal(std::string_view s) {
  double v = 0;
  platform::ValFloat(CleanResultText(s), v);
  return v;
}

bool IsVal(std::string_view s, double& v) {
  v = 0;
  return platform::ValFloat(CleanResultText(s), v) == 0;
}

void GetValue(std::string_view text, double& v) {
  std::string s(text);
  FirstCommaToPoint(s);
  v = 0;
  platform::ValFloat(s, v);
}

double GetStd(int32_t count, double av, double stdsum) {
  if (count <= 1) return 0;
  const double n = count;
  const double spread = stdsum / n - av * av;
  const double t = n * spread / (n - 1);
  if (!(t >= 1e-10)) return 0;
  return std::sqrt(t);
}

bool regression(Extended& m, Extended& c, std::span<const double> xx, std::span<const double> yy, int32_t n) {
  m = 0;
  c = 0;
  const size_t count = std::min({static_cast<size_t>(std::max(n, 0)), xx.size(), yy.size()});
  if (count <= 1) return false;
  Extended x0 = 0, y0 = 0;
  for (size_t i = 0; i < count; ++i) {
    x0 += xx[i];
    y0 += yy[i];
  }
  x0 /= static_cast<Extended>(count);
  y0 /= static_cast<Extended>(count);
  Extended sxx = 0, sxy = 0;
  for (size_t i = 0; i < count; ++i) {
    const Extended dx = xx[i] - x0;
    sxx += dx * dx;
    sxy += dx * (yy[i] - y0);
  }
  if (sxx == 0) {
    c = y0;
    return false;
  }
  m = sxy / sxx;
  c = y0 - m * x0;
  return true;
}

void GeradeDurch2Punkte(double x1, double y1, double x2, double y2, double& m, double& c) {
  m = x2 - x1;
  if (m != 0) m = (y2 - y1) / (x2 - x1);
  c = y1 - m * x1;
}

Extended AbstandPunktGerade(Extended x0, Extended y0, Extended a, Extended b) {
  return std::fabs(a * x0 + b - y0) / std::sqrt(a * a + 1);
}

double Abstand(double x1, double y1, double x2, double y2) {
  const double dx = x1 - x2, dy = y1 - y2;
  return std::sqrt(dx * dx + dy * dy);
}

double PTAbstand(TPoint pt1, TPoint pt2, double Zerrfakt) {
  // Differences in 64 bits: points far outside the image must not overflow.
  const double dx = static_cast<double>(int64_t{pt1.X} - pt2.X);
  const double dy = static_cast<double>(int64_t{pt1.Y} - pt2.Y) * Zerrfakt;
  return std::sqrt(dx * dx + dy * dy);
}

double PTWinkel(TPoint pt1, TPoint pt2, double Zerrfakt) {
  const Extended dx = static_cast<Extended>(int64_t{pt1.X} - pt2.X);
  const Extended dy = static_cast<Extended>(int64_t{pt1.Y} - pt2.Y) * Zerrfakt;
  const Extended pi = std::numbers::pi_v<Extended>;
  Extended alpha;
  if (dx != 0) {
    alpha = std::atan(dy / dx);
    if (dx < 0) alpha += pi;
  } else {
    alpha = dy > 0 ? pi / 2 : 3 * pi / 2;
  }
  return static_cast<double>(alpha * 360 / (2 * pi));
}

double GetWinkelDrad(double dx, double dy) {
  const double pi = std::numbers::pi;
  if (std::fabs(dx) < 1e-10) return dy > 0 ? pi / 2 : 3 * pi / 2;
  double alpha = std::atan(dy / dx);
  if (dx < 0) alpha += pi;
  return alpha;
}

void SubVector(const TVector& A, const TVector& B, TVector& C) {
  C = {A[0] - B[0], A[1] - B[1], A[2] - B[2]};
}

void VectorXproduct(const TVector& A, const TVector& B, TVector& C) {
  C = {A[1] * B[2] - A[2] * B[1], A[2] * B[0] - A[0] * B[2], A[0] * B[1] - A[1] * B[0]};
}

Extended BetragVector(const TVector& A) { return std::sqrt(A[0] * A[0] + A[1] * A[1] + A[2] * A[2]); }

Extended AbstandPunktGeradeVector(TVector A, TVector B, TVector P) {
  const Extended len = BetragVector(B);
  if (len == 0) return 0;
  TVector d, x;
  SubVector(P, A, d);
  VectorXproduct(d, B, x);
  Extended dist = BetragVector(x) / len;
  // The side of the line, as the grid fitting has always judged it.
  if (d[0] * B[1] + d[1] * B[0] < 0) dist = -dist;
  return dist;
}

double getSchwerpunkt(std::span<const uint32_t> liste, int32_t von, int32_t bis) {
  if (liste.empty()) return 0;
  if (von < 0) von = 0;
  if (bis > static_cast<int32_t>(liste.size()) - 1) bis = static_cast<int32_t>(liste.size()) - 1;
  if (bis < von) return 0;
  double weighted = 0, total = 0;
  for (int32_t i = von; i <= bis; ++i) {
    const uint32_t w = liste[static_cast<size_t>(i)] * liste[static_cast<size_t>(i)];  // wraps as 32-bit
    weighted += static_cast<double>(i) * w;
    total += w;
  }
  if (weighted == 0) return 0;
  return weighted / total;
}

int32_t maxInt(int32_t a, int32_t b) { return b > a ? b : a; }
int32_t minInt(int32_t a, int32_t b) { return b < a ? b : a; }
double max(double a, double b) { return b > a ? b : a; }
double min(double a, double b) { return b >= a ? a : b; }

}  // namespace analysis
