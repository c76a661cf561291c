#pragma once
// Small numeric helpers shared by the analysis, the main window, the statistics and the
// archive: number texts with a point as decimal separator, the standard deviation from running
// sums, a least-squares line, distances and angles between image points with a vertical
// distortion factor, 3-vectors and the weighted centre of a histogram. All are stateless.
//
// Texts and unit suffixes. The archive and the ini files hold Windows-1252 bytes ("°" 0xB0,
// "µ" 0xB5, "²" 0xB2), the windows hand over UTF-8 ("°" C2 B0, "µ" C2 B5, "²" C2 B2). The
// parsers below accept both spellings of each suffix, so a text read from the archive and a
// text typed into a field convert alike; for every suffix the UTF-8 spelling is looked for
// first, so that removing it never leaves half of a UTF-8 sequence behind. The producers
// (`MFTStr`, `SetVal`) write ASCII only and need no choice.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/number_format.h"
#include "platform/base/numeric.h"
#include "platform/image/geometry.h"

namespace analysis {

using platform::Extended;
using platform::TPoint;

// x, y, z as 80-bit floats.
using TVector = std::array<Extended, 3>;

// ---- Number texts ----

// FloatToStrF with the process format settings, then the first ',' turned into '.'.
std::string MFTStr(Extended value, platform::TFloatFormat format, int32_t Precision, int32_t Digits);

// Result text of r: digits 0 gives the nearest integer (ties to even) without blanks; 1..3
// give that many decimals, any other value 4; decimal texts are right-aligned to at least
// 5 characters ("  1.5"). The separator is always '.'.
std::string SetVal(double r, int32_t digits);

// The value of a result text: the first ',' becomes '.', then the first "°", "%", "µm²" and
// "µm" (in this order, each once) are removed and the rest is converted. A text that stops
// converting gives the value of its longest numeric prefix ("60.5 L/cm" reads 60.5, an empty
// text 0); callers that must reject such texts use IsVal.
double GetVal(std::string_view s);

// As GetVal; true only when the whole remaining text was a number. v receives what GetVal
// would return.
bool IsVal(std::string_view s, double& v);

// The value of an edit field's text: the first ',' becomes '.', no suffix is removed, and a
// text that stops converting gives its longest numeric prefix.
void GetValue(std::string_view text, double& v);

// ---- Statistics and lines ----

// Sample standard deviation from count, mean av and sum of squares stdsum; 0 for count <= 1
// or when the variance term is below 1e-10.
double GetStd(int32_t count, double av, double stdsum);

// Least-squares line y = m·x + c through the first n pairs (n is limited to the shorter
// array). False with m = c = 0 for n <= 1; false with m = 0, c = mean y when all x are equal.
bool regression(Extended& m, Extended& c, std::span<const double> xx, std::span<const double> yy, int32_t n);

// Line through two points; for x1 = x2 the result is m = 0, c = y1.
void GeradeDurch2Punkte(double x1, double y1, double x2, double y2, double& m, double& c);

// Distance of (x0, y0) from the line y = a·x + b.
Extended AbstandPunktGerade(Extended x0, Extended y0, Extended a, Extended b);

// ---- Distances and angles ----

double Abstand(double x1, double y1, double x2, double y2);
// Vertical differences are multiplied by Zerrfakt before a distance or angle is formed.
double PTAbstand(TPoint pt1, TPoint pt2, double Zerrfakt);
// Angle of pt1 seen from pt2 in degrees, in (-90, 270].
double PTWinkel(TPoint pt1, TPoint pt2, double Zerrfakt);
// Angle of (dx, dy) in radians, in (-π/2, 3π/2].
double GetWinkelDrad(double dx, double dy);

// ---- Vectors ----

void SubVector(const TVector& A, const TVector& B, TVector& C);
void VectorXproduct(const TVector& A, const TVector& B, TVector& C);
Extended BetragVector(const TVector& A);
// Signed distance of P from the line through A with direction B (0 for a zero direction).
Extended AbstandPunktGeradeVector(TVector A, TVector B, TVector P);

// ---- Other ----

// Centre of von..bis weighted with the squared counts (squared in 32-bit unsigned
// arithmetic, so counts are expected below 65536); 0 for an empty range or zero weights.
// The range is limited to the list.
double getSchwerpunkt(std::span<const uint32_t> liste, int32_t von, int32_t bis);

int32_t maxInt(int32_t a, int32_t b);
int32_t minInt(int32_t a, int32_t b);
// b only when it is strictly greater.
double max(double a, double b);
// a when b is greater or equal.
double min(double a, double b);

}  // namespace analysis
