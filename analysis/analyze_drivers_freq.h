#pragma once
// The frequency search of the main window: the strongest rings of the two-dimensional spectrum
// of the binarised gray image give a line pattern's or a structure's frequencies. With the
// display the three peaks are filtered out of the spectrum, each into a colour channel of a
// picture that shows where in the image each frequency lives.
#include <cstdint>

#include "analysis/analyze.h"
#include "analysis/analyze_drivers_mask.h"
#include "analysis/my_fft.h"
#include "platform/image/bitmap.h"
#include "platform/image/canvas.h"

namespace analysis {

// Side of the transform: the central 1024 columns (128..1151) and the first 1024 rows.
inline constexpr int32_t MaxFreqSize = 1024;

// The search on dbmp against the filled ThImage: writes maxa, maxf, maxf2, maxf3 and maxb of
// win (dx, dy: the main peak's position, as MaxAmp gives it). Without Show the result is 0 and
// nothing else changes. With Show the spectrum is ring-filtered around the three peaks (on the
// mask page every point off a ring becomes 0, elsewhere it is damped by 10), transformed back
// into the green (maxf), blue (maxf2) and red (maxf3, or maxf2 again without a third peak)
// channels of a 1024 x 1024 picture; rbmp becomes that picture's inverted gray, and the result
// is the difference of the shares above threshold of rbmp and dbmp (ImgDiffTH). When it is
// below 0 the picture is drawn at (0, 0) on `analyse` (the analysis image; may be nullptr).
// Uses the work images iComp, iComp2 and iComp3.
int32_t GetMaxFreq(AnalyzeState& st, const platform::Bitmap& dbmp, platform::Bitmap& rbmp, TDriverWindow& win,
                   double& dx, double& dy, bool Show, bool maskPage, platform::Canvas* analyse);

// The display of the search, from the spectrum in fft.iComp: the copies into iComp2 and
// iComp3, the ring filters and the three inverse transforms into a 1024 x 1024 picture.
platform::Bitmap MaxFreqPicture(MyFFTState& fft, const TDriverWindow& win, bool maskPage);

// The ring filters on the transform's block of the three work images (iComp2 and iComp3 hold
// copies of the spectrum in iComp). The four lowest frequencies (u, v <= 1) are left alone.
// Mask page: every point farther than 1 from its image's ring (maxf, maxf2, maxf3) becomes 0.
// Other pages: iComp is damped by 10 off its ring; then iComp2 becomes that damped spectrum
// divided by 10 off its own ring (keeping its copy on it), and iComp3 the damped spectrum
// times 10 on its ring and divided by 10 off it.
void MaxFreqRingFilters(MyFFTState& fft, double maxf, double maxf2, double maxf3, bool maskPage);

// The structure page's spectrum preview (MottleImage): the spectrum of the green byte of the
// central 1024 columns of dbmp, its magnitudes scaled by 2^(-position) (the track bar runs from
// -10 to 0: factor 1024 to 1), of which the 200 x 200 pixels around the zero frequency are
// shown; structure is the spectrum's structure value.
inline constexpr int32_t SpectrumPreviewSize = 200;
struct TSpectrumPreview {
  platform::Bitmap image;
  double structure = 0;
};
int32_t SpectrumPreviewFactor(int32_t position);
TSpectrumPreview SpectrumPreview(const platform::Bitmap& dbmp, int32_t position);

}  // namespace analysis
