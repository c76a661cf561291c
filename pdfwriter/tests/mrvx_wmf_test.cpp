#include "pdfwriter/mrvx_wmf.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <initializer_list>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/tests/emf_builder.h"
#include "pdfwriter/tests/test_tools.h"
#include "platform/base/clock.h"
#include "platform/metafile/emf_records.h"

namespace pdfwriter {
namespace {

using Lines = std::vector<std::string>;

struct Doc {
  platform::ManualClock clock{45000};
  TMorvex doc{&clock};
  std::string out;
  Doc() {
    doc.Launcher = nullptr;
    doc.SetOutputStream(&out);
    doc.BeginDoc();
  }
  TMRVXPage& page() { return *doc.CurrentPage(); }
};

int64_t Fw(float v) { return std::bit_cast<uint32_t>(v); }

using Emf = testing::EmfBuilder;
using testing::DibOf;
using testing::Font;
using testing::StretchDib;
using testing::Text;

// The lines a replay appends to the page.
Lines Play(Doc& d, TMRVXWmf& w, const Emf& emf) {
  const size_t before = d.page().PageContent().size();
  w.Analyse(emf.Bytes());
  return {d.page().PageContent().begin() + static_cast<std::ptrdiff_t>(before), d.page().PageContent().end()};
}
Lines Play(Doc& d, const Emf& emf) {
  TMRVXWmf w(&d.page(), d.doc);
  return Play(d, w, emf);
}

bool Has(const Lines& lines, const std::string& s) { return std::find(lines.begin(), lines.end(), s) != lines.end(); }

// Record numbers used below.
enum : uint32_t {
  POLYBEZIER = 2, POLYGON = 3, POLYLINE = 4, SETWINDOWEXTEX = 9, SETWINDOWORGEX = 10, SETVIEWPORTEXTEX = 11,
  SETVIEWPORTORGEX = 12, SETPIXELV = 15, SETMAPMODE = 17, MOVETOEX = 27, INTERSECTCLIPRECT = 30, SAVEDC = 33,
  RESTOREDC = 34, SETWORLDTRANSFORM = 35, MODIFYWORLDTRANSFORM = 36, SELECTOBJECT = 37, CREATEPEN = 38,
  CREATEBRUSHINDIRECT = 39, ANGLEARC = 41, RECTANGLE = 43, ARC = 45, CHORD = 46, PIE = 47, LINETO = 54,
  POLYDRAW = 56, SETARCDIRECTION = 57, BEGINPATH = 59, ENDPATH = 60, POLYPOLYGON = 8, EXTSELECTCLIPRGN = 75,
  EXTTEXTOUTW = 84, POLYDRAW16 = 92,
};
constexpr int64_t kStock = 0x80000000;

TEST(MetafileTranslator, EmptyRecordingDrawsNothingAndResetsTextState) {
  Doc d;
  d.page().TopTextPosition = false;
  EXPECT_TRUE(Play(d, Emf{}).empty());
  EXPECT_TRUE(d.page().TopTextPosition);
  // A text record inside a path bracket is dropped without opening a text run.
  Doc p;
  TMRVXWmf w(&p.page(), p.doc);
  Emf e;
  e.R(BEGINPATH, {}).R(EXTTEXTOUTW, {0, 0, 0, 0, 1, Fw(1), Fw(1)});
  EXPECT_NO_THROW(Play(p, w, e));
  EXPECT_FALSE(w.FTextContinue);
}

TEST(MetafileTranslator, MappingModesWindowAndViewport) {
  // MM_TEXT: only the viewport origin moves points; the window origin is ignored.
  Doc d;
  Emf e;
  e.R(SETWINDOWORGEX, {50, 50}).R(SETVIEWPORTORGEX, {10, 20}).R(LINETO, {100, 0});
  EXPECT_EQ(Play(d, e), (Lines{"7.5 827 m", "82.5 827 l", "S"}));

  // Anisotropic 1000 -> 500: the point 1000 lands at 500 device units, a 2-unit pen at 1.
  Doc a;
  Emf m;
  m.R(SETMAPMODE, {8}).R(SETWINDOWEXTEX, {1000, 1000}).R(SETVIEWPORTEXTEX, {500, 500})
      .R(CREATEPEN, {1, 0, 2, 0, 0}).R(SELECTOBJECT, {1}).R(LINETO, {1000, 0});
  const Lines lines = Play(a, m);
  EXPECT_TRUE(Has(lines, "0.75 w"));
  EXPECT_EQ(lines.back(), "S");
  EXPECT_EQ(lines[lines.size() - 2], "375 842 l");
  // A zero extent is refused as the recording device refuses it, instead of dividing by zero.
  Doc z;
  Emf ze;
  ze.R(SETMAPMODE, {8}).R(SETWINDOWEXTEX, {0, 0}).R(LINETO, {4, 0});
  EXPECT_EQ(Play(z, ze), (Lines{"0 842 m", "3 842 l", "S"}));
}

TEST(MetafileTranslator, LinesPolygonsAndCurves) {
  Doc d;
  Emf e;
  e.R(LINETO, {10, 0}).R(LINETO, {10, 10});
  EXPECT_EQ(Play(d, e), (Lines{"0 842 m", "7.5 842 l", "S", "7.5 842 m", "7.5 834.5 l", "S"}));

  // A polygon is closed and filled even-odd (the default alternate mode) and stroked.
  Emf p;
  p.R(POLYGON, {0, 0, 0, 0, 3, 0, 0, 40, 0, 0, 40});
  EXPECT_EQ(Play(d, p), (Lines{"n", "0 842 m", "30 842 l", "0 812 l", "h", "B*"}));

  // Bezier lists: 3 points draw nothing, 7 points two curves.
  Emf b3, b7;
  b3.R(POLYBEZIER, {0, 0, 0, 0, 3, 0, 0, 1, 1, 2, 2});
  EXPECT_TRUE(Play(d, b3).empty());
  b7.R(POLYBEZIER, {0, 0, 0, 0, 7, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6});
  const Lines curves = Play(d, b7);
  EXPECT_EQ(std::count_if(curves.begin(), curves.end(), [](const std::string& s) { return s.back() == 'c'; }), 2);
}

TEST(MetafileTranslator, PolyDrawClosesFiguresAndMovesTheCurrentPosition) {
  for (const bool small : {false, true}) {
    Doc d;
    TMRVXWmf w(&d.page(), d.doc);
    Emf e;
    std::vector<uint8_t> p(16, 0);
    p.push_back(3);
    p.insert(p.end(), 3, 0);
    const int32_t pts[] = {4, 4, 40, 4, 40, 40};
    for (int32_t v : pts) {
      for (int i = 0; i < (small ? 2 : 4); ++i) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    for (uint8_t t : {6, 2, 3}) p.push_back(t);
    e.Raw(small ? POLYDRAW16 : POLYDRAW, p);
    EXPECT_EQ(Play(d, w, e), (Lines{"n", "0 842 m", "3 839 m", "30 839 l", "30 812 l", "3 839 l", "S"}));
    EXPECT_EQ(w.CurrentVal, (platform::EmfPoint{4, 4}));
  }
}

TEST(MetafileTranslator, ArcsFollowTheArcDirection) {
  // Start left of the centre, end right of it: counter-clockwise on the page is the lower half,
  // which has the larger caller y and so the smaller PDF y.
  const auto lowest_y = [](const Lines& lines) {
    double lo = 1e9;
    for (const std::string& s : lines) {
      if (s.empty() || s.back() != 'c') continue;
      std::istringstream in(s);
      double v[6];
      for (double& x : v) in >> x;
      lo = std::min({lo, v[1], v[3], v[5]});
    }
    return lo;
  };
  for (const uint32_t type : {ARC, CHORD, PIE}) {
    Doc d;
    Emf ccw, cw;
    ccw.R(type, {0, 0, 200, 200, 0, 100, 200, 100});
    cw.R(SETARCDIRECTION, {2}).R(type, {0, 0, 200, 200, 0, 100, 200, 100});
    EXPECT_LT(lowest_y(Play(d, ccw)), 842 - 75 - 50) << type;  // below the centre
    EXPECT_GT(lowest_y(Play(d, cw)), 842 - 75 - 1) << type;     // never below it
  }
  // An angle arc draws its sweep, not a full circle: a quarter turn is one curve.
  Doc d;
  TMRVXWmf w(&d.page(), d.doc);
  Emf a;
  a.R(ANGLEARC, {100, 100, 40, Fw(0), Fw(90)});
  const Lines lines = Play(d, w, a);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& s) { return s.back() == 'c'; }), 1);
  EXPECT_EQ(w.CurrentVal, (platform::EmfPoint{100, 60}));
}

TEST(MetafileTranslator, StockObjectsAndShapePainting) {
  Doc d;
  Emf r;
  r.R(CREATEPEN, {1, 0, 1, 0, 0}).R(SELECTOBJECT, {1}).R(RECTANGLE, {0, 0, 10, 10});
  EXPECT_EQ(Play(d, r).back(), "B");
  Emf nullpen, nullbrush, flat;
  nullpen.R(CREATEPEN, {1, 0, 1, 0, 0}).R(SELECTOBJECT, {1}).R(SELECTOBJECT, {kStock | 8}).R(RECTANGLE, {0, 0, 10, 10});
  EXPECT_EQ(Play(d, nullpen).back(), "f");
  nullbrush.R(CREATEPEN, {1, 0, 1, 0, 0}).R(SELECTOBJECT, {1}).R(SELECTOBJECT, {kStock | 5})
      .R(RECTANGLE, {0, 0, 10, 10});
  EXPECT_EQ(Play(d, nullbrush).back(), "S");
  flat.R(RECTANGLE, {5, 0, 5, 10});
  EXPECT_EQ(Play(d, flat), (Lines{"n"}));
  // A stock black pen after the null pen draws again.
  Emf back;
  back.R(SELECTOBJECT, {kStock | 8}).R(SELECTOBJECT, {kStock | 7}).R(LINETO, {4, 0});
  EXPECT_EQ(Play(d, back).back(), "S");

  // A palette-index brush colour is sent as that entry of the default palette.
  Emf pal;
  pal.R(CREATEBRUSHINDIRECT, {2, 0, 0x01000005, 0}).R(SELECTOBJECT, {2});
  EXPECT_EQ(Play(d, pal), (Lines{"0.5 0 0.5 rg"}));
  // Indices beyond the handle table are ignored.
  Emf beyond;
  beyond.handles = 2;
  beyond.R(CREATEBRUSHINDIRECT, {5, 0, 0xFF, 0}).R(SELECTOBJECT, {5});
  EXPECT_TRUE(Play(d, beyond).empty());
}

TEST(MetafileTranslator, RestoredStateDecidesPenBrushAndTransform) {
  Doc d;
  TMRVXWmf w(&d.page(), d.doc);
  Emf e;
  e.R(CREATEBRUSHINDIRECT, {1, 0, 0xFF, 0}).R(SELECTOBJECT, {1}).R(SAVEDC, {})
      .R(CREATEBRUSHINDIRECT, {2, 1, 0, 0}).R(SELECTOBJECT, {2})
      .R(SETWORLDTRANSFORM, {Fw(2), 0, 0, Fw(2), Fw(10), Fw(0)}).R(RESTOREDC, {-1}).R(RECTANGLE, {0, 0, 8, 8});
  const Lines lines = Play(d, w, e);
  // The solid brush of the restored state fills again, at the identity transform.
  EXPECT_EQ(lines.back(), "f");
  EXPECT_EQ(lines[lines.size() - 2], "0 836 6 6 re");
  EXPECT_FALSE(w.IsNullBrush);
}

TEST(MetafileTranslator, WorldTransformsComposeOnTheirOwnStack) {
  const TMRVXXForm move10{1, 0, 0, 1, 10, 0};
  const TMRVXXForm rot90{0, 1, -1, 0, 0, 0};
  TMRVXXForm x = TMRVXWmf::MergeForms(move10, move10);
  EXPECT_FLOAT_EQ(x.eDx, 20);
  // Rotation first, then a translation (5, 7): the translation is taken as it stands.
  x = TMRVXWmf::MergeForms(rot90, {1, 0, 0, 1, 5, 7});
  EXPECT_FLOAT_EQ(x.eDx, 5);
  EXPECT_FLOAT_EQ(x.eDy, 7);
  // A translation then a rotation: the y translation uses A.eDx * B.eM12.
  x = TMRVXWmf::MergeForms({1, 0, 0, 1, 5, 7}, rot90);
  EXPECT_FLOAT_EQ(x.eDx, -7);
  EXPECT_FLOAT_EQ(x.eDy, 5);

  for (const bool mirror : {true, false}) {
    Doc d;
    TMRVXWmf w(&d.page(), d.doc);
    w.MirrorAcceptsTransform = mirror;
    Emf e;
    const auto left = [&](float dx) { e.R(MODIFYWORLDTRANSFORM, {Fw(1), 0, 0, Fw(1), Fw(dx), Fw(0), 2}); };
    left(10);
    e.R(SAVEDC, {});
    left(10);
    e.R(SAVEDC, {});
    left(10);
    // Restoring state 2 (the current depth) brings back the transform saved last.
    e.R(RESTOREDC, {2});
    Play(d, w, e);
    EXPECT_FLOAT_EQ(w.XOffset, 20 * 0.75f) << mirror;
    if (!mirror) {
      EXPECT_EQ(w.DCBufferLen, 0);  // emptied at the end of the replay
    }
  }
  // Mode 1 on the translator's own stack changes nothing.
  Doc d;
  TMRVXWmf w(&d.page(), d.doc);
  w.MirrorAcceptsTransform = false;
  Emf e;
  e.R(SETWORLDTRANSFORM, {Fw(1), 0, 0, Fw(1), Fw(8), Fw(0)}).R(MODIFYWORLDTRANSFORM, {Fw(1), 0, 0, Fw(1), 0, 0, 1});
  Play(d, w, e);
  EXPECT_FLOAT_EQ(w.XOffset, 6);
}

TEST(MetafileTranslator, ClipsHoldOneGraphicsStateLevel) {
  Doc d;
  TMRVXWmf w(&d.page(), d.doc);
  const int base = d.page().SavedStates();
  Emf e;
  e.R(INTERSECTCLIPRECT, {0, 0, 100, 100}).R(INTERSECTCLIPRECT, {40, 40, 200, 200});
  const Lines lines = Play(d, w, e);
  // The second rectangle narrows the first: both hold the same level.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "q"), 1);
  EXPECT_TRUE(Has(lines, "30 767 45 45 re"));
  // The replay gives the clip's level back at its end, so the content stays balanced.
  EXPECT_EQ(d.page().SavedStates(), base);

  // An empty region after the rectangle removes the clip and its level.
  Doc r;
  const int rb = r.page().SavedStates();
  Emf er;
  er.R(INTERSECTCLIPRECT, {0, 0, 100, 100}).R(EXTSELECTCLIPRGN, {0, 5});
  Play(r, er);
  EXPECT_EQ(r.page().SavedStates(), rb);
  // RESTOREDC drops the clip too.
  Doc s;
  const int sb = s.page().SavedStates();
  Emf es;
  es.R(SAVEDC, {}).R(INTERSECTCLIPRECT, {0, 0, 100, 100}).R(RESTOREDC, {-1});
  Play(s, es);
  EXPECT_EQ(s.page().SavedStates(), sb);
}

TEST(MetafileTranslator, PixelsKeepThePen) {
  Doc d;
  Emf e;
  e.R(CREATEPEN, {1, 0, 1, 0, 0xFF}).R(SELECTOBJECT, {1}).R(SETPIXELV, {4, 4, 0xFF});
  const Lines lines = Play(d, e);
  EXPECT_EQ(Lines(lines.end() - 4, lines.end()), (Lines{"n", "3 839 m", "3.01 838.99 l", "S"}));
}

TEST(MetafileTranslator, BrokenRecordsAreRefusedWithAClearError) {
  const auto fails = [](const Emf& e) {
    Doc d;
    try {
      Play(d, e);
    } catch (const EMRVXError& err) {
      return std::string(err.what());
    }
    return std::string();
  };
  Emf shortrec, counts, pdraw;
  shortrec.R(SETWINDOWEXTEX, {1});
  EXPECT_EQ(fails(shortrec), "Invalid metafile: a record of type 9 is too short for its fields.");
  counts.R(POLYPOLYGON, {0, 0, 0, 0, 2, 2, 2, 5, 0, 0, 1, 1});  // counts sum past the points
  EXPECT_NE(fails(counts), "");
  pdraw.R(POLYDRAW, {0, 0, 0, 0, 1000, 0, 0});
  EXPECT_NE(fails(pdraw), "");
  std::vector<uint8_t> bytes = Emf{}.Bytes();
  bytes[40] = 'X';  // the signature
  Doc d;
  TMRVXWmf w(&d.page(), d.doc);
  EXPECT_THROW(w.Analyse(bytes), EMRVXError);
}

// ---- text ----

// The x and y of the text matrix the replay wrote last.
std::pair<double, double> LastTm(const Lines& lines) {
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (it->size() < 3 || it->substr(it->size() - 3) != " Tm") continue;
    std::istringstream in(*it);
    double v[6];
    for (double& x : v) in >> x;
    return {v[4], v[5]};
  }
  return {-1, -1};
}

TEST(MetafileTranslatorText, FontAndReferencePoint) {
  Doc d;
  Emf e;
  Font(e, -16, u"helvetica", 0, 1);
  Text(e, 100, 50, u"Ag");
  const Lines lines = Play(d, e);
  // Height -16 at 96 dpi is a 12-point font; "helvetica" in another character set is Arial.
  EXPECT_EQ(d.page().CurrentFont().Name, "Arial");
  EXPECT_FLOAT_EQ(d.page().CurrentFont().Size, 12);
  const float h = d.page().TextHeight("Xg");
  const auto [x, y] = LastTm(lines);
  // Top-left alignment: the text's top at page point (75, 37.5).
  EXPECT_NEAR(x, 75, 0.0001);
  EXPECT_NEAR(y, 842 - 37.5 - h, 0.0001);  // the baseline one ascent below
  // The default opaque background paints nothing for an empty rectangle.
  EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& s) { return s.ends_with(" re"); }));
}

TEST(MetafileTranslatorText, AlignmentAndCurrentPosition) {
  struct Case {
    uint32_t align;
    double dx, dy;  // expected page offsets from (75, 37.5); dy in units of the text height
  };
  const Case cases[] = {
      {2, -150, 0},  // right: 200 logical units to the left
      {6, -75, 0},   // centre
      {0x18, 0, -1}, // baseline: the text's height above the reference point is its top
      {8, 0, -1},    // bottom: as the baseline
  };
  for (const Case& c : cases) {
    Doc d;
    Emf e;
    Font(e, -16, u"Arial").R(22, {c.align});
    Text(e, 100, 50, u"ab", 0, {0, 0, -1, -1}, {150, 50});
    const Lines lines = Play(d, e);
    const float h = d.page().TextHeight("Xg");
    const auto [x, y] = LastTm(lines);
    EXPECT_NEAR(x, 75 + c.dx, 0.001) << c.align;
    EXPECT_NEAR(y, 842 - (37.5 + c.dy * h) - h, 0.001) << c.align;
  }
  // With the current position, records of extent 30 start at x and x + 30.
  Doc d;
  Emf e;
  Font(e, -16, u"Arial").R(MOVETOEX, {20, 10}).R(22, {1});
  Text(e, 0, 0, u"a", 0, {0, 0, -1, -1}, {30});
  Text(e, 0, 0, u"b", 0, {0, 0, -1, -1}, {30});
  const Lines lines = Play(d, e);
  std::vector<double> xs;
  for (const std::string& s : lines)
    if (s.ends_with(" Tm")) xs.push_back(LastTm({s}).first);
  EXPECT_EQ(xs, (std::vector<double>{15, 37.5}));
}

// A record that would move the current position out of the logical coordinate range
// (bounds as wide as 32 bits allow: an extent of 4.3e9) is skipped whole; the next record
// starts where the position stood.
TEST(MetafileTranslatorText, PositionOutsideTheCoordinateRangeSkipsTheRecord) {
  Doc d;
  Emf e;
  Font(e, -16, u"Arial").R(MOVETOEX, {20, 10}).R(22, {1});
  Text(e, 0, 0, u"far", 2, {INT32_MIN, 0, INT32_MAX, 10});
  Text(e, 0, 0, u"b", 0, {0, 0, -1, -1}, {INT32_MAX, INT32_MAX, 5});
  Text(e, 0, 0, u"a", 0, {0, 0, -1, -1}, {30});
  TMRVXWmf w(&d.page(), d.doc);
  const Lines lines = Play(d, w, e);
  std::vector<double> xs;
  for (const std::string& s : lines)
    if (s.ends_with(" Tm")) xs.push_back(LastTm({s}).first);
  EXPECT_EQ(xs, (std::vector<double>{15}));
  EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& s) { return s.ends_with(" re"); }));
  EXPECT_EQ(w.CurrentVal, (platform::EmfPoint{50, 10}));
}

TEST(MetafileTranslatorText, ClippedTextAndBackground) {
  // A clipped record with no characters saves and restores nothing (it still paints its
  // background in the default opaque mode).
  Doc d;
  Emf none;
  Text(none, 0, 0, u"", 4, {0, 0, 40, 40});
  const Lines ln = Play(d, none);
  EXPECT_FALSE(Has(ln, "q"));
  EXPECT_FALSE(Has(ln, "Q"));
  EXPECT_TRUE(Has(ln, "f"));
  // An opaque record paints its rectangle in the background colour behind the text.
  Emf bg;
  bg.R(25, {0xFF0000});
  Font(bg, -16, u"Arial");
  Text(bg, 0, 0, u"a", 2, {0, 0, 40, 20});
  const Lines lbg = Play(d, bg);
  EXPECT_TRUE(Has(lbg, "0 0 1 rg"));
  EXPECT_TRUE(Has(lbg, "0 827 30 15 re"));
  // A clipped record inside a rectangle clip ends with that rectangle clip active again.
  Emf rect;
  rect.R(INTERSECTCLIPRECT, {0, 0, 100, 100});
  Font(rect, -16, u"Arial");
  Text(rect, 0, 0, u"a", 4, {0, 0, 40, 40});
  const Lines lr = Play(d, rect);
  ASSERT_GE(lr.size(), 4u);
  EXPECT_EQ(Lines(lr.end() - 5, lr.end()), (Lines{"q", "0 767 75 75 re", "W", "n", "Q"}));
  // Inside a region clip, it ends with no clip.
  Doc r;
  TMRVXWmf w(&r.page(), r.doc);
  Emf rgn;
  std::vector<uint8_t> region;
  const auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) region.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (uint32_t v : {48u, 5u, 32u, 1u, 1u, 16u, 0u, 0u, 100u, 100u, 0u, 0u, 100u, 100u}) put(v);
  rgn.Raw(EXTSELECTCLIPRGN, region);
  Font(rgn, -16, u"Arial");
  Text(rgn, 0, 0, u"a", 4, {0, 0, 40, 40});
  const int base = r.page().SavedStates();
  Play(r, w, rgn);
  EXPECT_FALSE(w.IsCliped);
  EXPECT_EQ(r.page().SavedStates(), base);
}

// Reads a binary PPM written by pdftoppm.
struct Pixmap {
  int w = 0, h = 0;
  std::string data;
  uint32_t At(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3;
    return static_cast<uint8_t>(data[i]) << 16 | static_cast<uint8_t>(data[i + 1]) << 8 |
           static_cast<uint8_t>(data[i + 2]);
  }
};
Pixmap ReadPpm(const std::string& path) {
  std::istringstream in(testing::ReadFile(path));
  std::string magic;
  int maxval = 0;
  Pixmap p;
  in >> magic >> p.w >> p.h >> maxval;
  in.get();
  p.data.assign(std::istreambuf_iterator<char>(in), {});
  return p;
}

TEST(MetafileTranslator, PageCanvasDrawsThroughTheTranslator) {
  testing::TempDir dir;
  Doc d;
  InstallMetafileTranslator(d.doc);
  platform::MetafileCanvas& c = *d.doc.Canvas();
  // 96-dpi canvas pixels: 4 pixels are 3 points.
  c.Brush().Color = platform::clRed;
  c.Pen().Color = platform::clRed;
  c.Rectangle(40, 40, 200, 120);
  c.Brush().Color = platform::clBlue;
  c.Pen().Style = platform::TPenStyle::psClear;
  c.Ellipse(240, 40, 400, 200);
  c.Pen().Style = platform::TPenStyle::psSolid;
  c.Pen().Color = platform::clLime;
  c.Pen().Width = 8;
  c.MoveTo(40, 300);
  c.LineTo(400, 300);
  const platform::TPoint tri[] = {{40, 400}, {200, 400}, {40, 560}};
  c.Brush().Color = platform::clBlack;
  c.Pen().Color = platform::clBlack;
  c.Pen().Width = 1;
  c.Polygon(tri);
  c.SaveDC();
  c.IntersectClipRect(440, 40, 480, 80);
  c.Brush().Color = platform::clBlue;
  c.Rectangle(420, 20, 520, 120);
  c.RestoreDC(-1);
  c.Brush().Style = platform::TBrushStyle::bsClear;
  c.Rectangle(40, 600, 200, 700);
  d.doc.EndDoc();
  testing::WriteFile(dir.File("c.pdf"), d.out);

  const auto check = testing::RunTool("qpdf --check " + dir.File("c.pdf"));
  EXPECT_EQ(check.exit_code, 0) << check.output;
  const auto r = testing::RunTool("pdftoppm -r 72 " + dir.File("c.pdf") + " " + dir.File("c"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const Pixmap p = ReadPpm(dir.File("c-1.ppm"));
  ASSERT_EQ(p.w, 595);
  EXPECT_EQ(p.At(90, 60), 0xFF0000u);   // rectangle (30..150, 30..90 pt)
  EXPECT_EQ(p.At(240, 90), 0x0000FFu);  // ellipse centre (240, 90 pt)
  EXPECT_EQ(p.At(185, 35), 0xFFFFFFu);  // corner outside the ellipse
  EXPECT_EQ(p.At(150, 225), 0x00FF00u); // line at y = 225 pt, 6 pt wide
  EXPECT_EQ(p.At(150, 230), 0xFFFFFFu);
  EXPECT_EQ(p.At(50, 320), 0x000000u);  // inside the triangle
  EXPECT_EQ(p.At(130, 400), 0xFFFFFFu); // beyond its hypotenuse
  EXPECT_EQ(p.At(345, 45), 0x0000FFu);  // clipped rectangle inside the clip (330..360, 30..60)
  EXPECT_EQ(p.At(325, 25), 0xFFFFFFu);  // and cut away outside it
  EXPECT_EQ(p.At(370, 70), 0xFFFFFFu);
  EXPECT_EQ(p.At(90, 490), 0xFFFFFFu);  // hollow rectangle: no fill...
  EXPECT_LT(p.At(30, 490) & 0xFF, 0x80u);  // ...but its outline, 0.75 pt wide
}

TEST(MetafileTranslatorText, CombiningDiacriticsAreComposed) {
  testing::TempDir dir;
  Doc d;
  Emf e;
  Font(e, -16, u"Arial");
  Text(e, 100, 100, u"Caf\u0065\u0301", 0, {0, 0, -1, -1}, {9, 9, 9, 9, 0});
  Play(d, e);
  d.doc.EndDoc();
  testing::WriteFile(dir.File("d.pdf"), d.out);
  const auto r = testing::RunTool("pdftotext " + dir.File("d.pdf") + " -");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Caf\u00E9"), std::string::npos) << r.output;
}

// ---- bitmaps ----

TEST(MetafileTranslatorBitmap, PicturesLandAtTheirBounds) {
  testing::TempDir dir;
  Doc d;
  Emf e;
  // Red and green above blue and black, 24 bits and through an 8-bit palette.
  StretchDib(e, {40, 40, 136, 136}, 2, 2, DibOf(2, 2, 24, {0xFF0000, 0x00FF00, 0x0000FF, 0}));
  StretchDib(e, {240, 40, 336, 136}, 2, 2,
             DibOf(2, 2, 8, {0, 1, 2, 3}, {0xFF0000, 0x00FF00, 0x0000FF, 0}), 4);
  // A 1-bit picture goes through the fax encoder: black and white on the diagonals.
  StretchDib(e, {440, 40, 536, 136}, 2, 2, DibOf(2, 2, 1, {0, 1, 1, 0}, {0x000000, 0xFFFFFF}), 2);
  Play(d, e);
  EXPECT_EQ(d.doc.XImages().size(), 3u);
  d.doc.EndDoc();
  testing::WriteFile(dir.File("b.pdf"), d.out);
  EXPECT_NE(d.out.find("/CCITTFaxDecode"), std::string::npos);
  const auto check = testing::RunTool("qpdf --check " + dir.File("b.pdf"));
  EXPECT_EQ(check.exit_code, 0) << check.output;
  ASSERT_EQ(testing::RunTool("pdftoppm -r 72 " + dir.File("b.pdf") + " " + dir.File("b")).exit_code, 0);
  const Pixmap p = ReadPpm(dir.File("b-1.ppm"));
  for (const int x0 : {30, 180}) {  // bounds 30..102 and 180..252 points
    EXPECT_EQ(p.At(x0 + 18, 48), 0xFF0000u) << x0;
    EXPECT_EQ(p.At(x0 + 54, 48), 0x00FF00u) << x0;
    EXPECT_EQ(p.At(x0 + 18, 84), 0x0000FFu) << x0;
    EXPECT_EQ(p.At(x0 + 54, 84), 0x000000u) << x0;
  }
  EXPECT_EQ(p.At(330 + 18, 48), 0x000000u);
  EXPECT_EQ(p.At(330 + 54, 48), 0xFFFFFFu);
  EXPECT_EQ(p.At(330 + 18, 84), 0xFFFFFFu);
  EXPECT_EQ(p.At(330 + 54, 84), 0x000000u);
}

TEST(MetafileTranslatorBitmap, StretchedAndBlendedPictures) {
  // Red beside blue, stretched over 96 x 48 device pixels; then white at half its alpha.
  const auto blt = [](Emf& e, uint32_t type, platform::EmfRect bounds, int64_t rop_or_blend,
                      const std::vector<uint8_t>& dib, int w, int h) {
    const uint32_t cb_bmi = 40;
    std::vector<int64_t> words = {bounds.Left, bounds.Top, bounds.Right, bounds.Bottom, bounds.Left, bounds.Top,
                                  bounds.Right - bounds.Left, bounds.Bottom - bounds.Top, rop_or_blend, 0, 0,
                                  Fw(1), 0, 0, Fw(1), 0, 0, 0, 0, 108, cb_bmi, 108 + cb_bmi,
                                  static_cast<int64_t>(dib.size() - cb_bmi), w, h};
    std::vector<uint8_t> p;
    for (int64_t v : words)
      for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    p.insert(p.end(), dib.begin(), dib.end());
    e.Raw(type, p);
  };
  testing::TempDir dir;
  Doc d;
  Emf e;
  blt(e, 77, {40, 40, 136, 88}, 0x00CC0020, DibOf(2, 1, 24, {0xFF0000, 0x0000FF}), 2, 1);
  blt(e, 114, {40, 200, 136, 248}, int64_t{128} << 16, DibOf(1, 1, 24, {0xFFFFFF}), 1, 1);
  Play(d, e);
  d.doc.EndDoc();
  testing::WriteFile(dir.File("s.pdf"), d.out);
  ASSERT_EQ(testing::RunTool("pdftoppm -r 72 " + dir.File("s.pdf") + " " + dir.File("s")).exit_code, 0);
  const Pixmap p = ReadPpm(dir.File("s-1.ppm"));
  EXPECT_EQ(p.At(40, 45), 0xFF0000u);  // 30..66 x 30..66 points: left half red
  EXPECT_EQ(p.At(90, 45), 0x0000FFu);  // right half blue
  EXPECT_EQ(p.At(60, 165), 0x808080u); // white blended at 128 onto black
}

TEST(MetafileTranslatorBitmap, RasterOperationsAndBrokenBits) {
  // A raster operation outside the named ones draws nothing; a pattern copy fills with the brush.
  Doc d;
  std::vector<int64_t> blt(23, 0);
  blt[4] = 10;
  blt[5] = 10;
  blt[6] = 20;
  blt[7] = 20;
  blt[8] = 0x00AA0029;
  Emf nop, pat;
  const auto bitblt = [](Emf& e, const std::vector<int64_t>& w) {
    std::vector<uint8_t> p;
    for (int64_t v : w)
      for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    e.Raw(76, p);
  };
  bitblt(nop, blt);
  EXPECT_TRUE(Play(d, nop).empty());
  blt[8] = 0x00F00021;
  pat.R(CREATEBRUSHINDIRECT, {1, 0, 0xFF, 0}).R(SELECTOBJECT, {1});
  bitblt(pat, blt);
  const Lines lines = Play(d, pat);
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()), (Lines{"1 0 0 rg", "7.5 819.5 15 15 re", "f"}));

  const auto error = [](const Emf& e) {
    Doc x;
    try {
      Play(x, e);
    } catch (const EMRVXError& err) {
      return std::string(err.what());
    }
    return std::string();
  };
  std::vector<uint8_t> dib = DibOf(2, 2, 24, {0, 0, 0, 0});
  Emf rle, cut;
  StretchDib(rle, {0, 0, 10, 10}, 2, 2, DibOf(2, 2, 24, {0, 0, 0, 0}, {}, 1));
  EXPECT_EQ(error(rle), "Unsupported metafile bitmap: compression 1.");
  dib.resize(dib.size() - 4);  // one row short of its bits
  StretchDib(cut, {0, 0, 10, 10}, 2, 2, dib);
  EXPECT_EQ(error(cut), "Invalid metafile: a record of type 81 is too short for its fields.");
}

TEST(MetafileTranslatorText, CanvasTextLandsWhereItWasDrawn) {
  testing::TempDir dir;
  Doc d;
  InstallMetafileTranslator(d.doc);
  platform::MetafileCanvas& c = *d.doc.Canvas();
  c.Font().Name = "Arial";
  c.Font().Size = 20;
  c.Brush().Style = platform::TBrushStyle::bsClear;
  c.TextOut(100, 200, u"Quirvel");
  c.Font().Color = platform::clRed;
  c.TextOut(100, 400, u"Stra\u00DFe");
  d.doc.EndDoc();
  testing::WriteFile(dir.File("t.pdf"), d.out);
  const auto check = testing::RunTool("qpdf --check " + dir.File("t.pdf"));
  EXPECT_EQ(check.exit_code, 0) << check.output;
  const auto r = testing::RunTool("pdftotext -bbox " + dir.File("t.pdf") + " -");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // Canvas pixels at 96 dpi: (100, 200) is the point (75, 150), the top of the text.
  const auto word = [&](const std::string& w) {
    const size_t at = r.output.find(">" + w + "<");
    if (at == std::string::npos) return std::pair<double, double>{-1, -1};
    const size_t open = r.output.rfind("<word", at);
    const std::string tag = r.output.substr(open, at - open);
    const auto attr = [&](const char* name) {
      const size_t k = tag.find(std::string(name) + "=\"");
      return std::stod(tag.substr(k + std::string(name).size() + 2));
    };
    return std::pair<double, double>{attr("xMin"), attr("yMin")};
  };
  const auto [x1, y1] = word("Quirvel");
  EXPECT_NEAR(x1, 75, 1);
  EXPECT_NEAR(y1, 150, 2);
  const auto [x2, y2] = word("Stra\u00DFe");
  EXPECT_NEAR(x2, 75, 1);
  EXPECT_NEAR(y2, 300, 2);
}

}  // namespace
}  // namespace pdfwriter
