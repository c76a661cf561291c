#include "pdfwriter/mrvx_doc_page.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter {
namespace {

struct Doc {
  platform::ManualClock clock{45000};
  TMorvex doc{&clock};
  std::string out;
  explicit Doc(TMRVXCompressionMethod compression = TMRVXCompressionMethod::cmFlateDecode) {
    doc.Launcher = nullptr;
    doc.SetCompressionMethod(compression);
    doc.SetOutputStream(&out);
    doc.BeginDoc();
  }
  TMRVXPage& page() { return *doc.CurrentPage(); }
};

// The lines an operation appends to the page's content.
std::vector<std::string> LinesOf(TMRVXPage& page, const std::function<void()>& op) {
  const size_t before = page.PageContent().size();
  op();
  return {page.PageContent().begin() + static_cast<std::ptrdiff_t>(before), page.PageContent().end()};
}

using Lines = std::vector<std::string>;

TEST(PageOperators, LinesByteForByte) {
  Doc d;
  TMRVXPage& p = d.page();
  EXPECT_EQ(p.PageContent(), (Lines{"\r\n", "0 0 0 RG", "0 0 0 rg", "0 Tr"}));
  const uint8_t dash[] = {3, 2}, zero_dash[] = {0, 5};
  const std::pair<std::function<void()>, Lines> cases[] = {
      {[&] { p.Rectangle(10, 20, 100, 50); }, {"10 772 100 50 re"}},
      {[&] { p.MFRectangle(10, 20, 110, 70); }, {"10 772 100 50 re"}},
      {[&] { p.MoveTo(0, 0); }, {"0 842 m"}},
      {[&] { p.RMoveTo(0, 0); }, {"0 0 m"}},
      {[&] { p.LineTo(10.005f, 0.125f); }, {"10.01 841.88 l"}},
      {[&] { p.CurveToC(1, 2, 3, 4, 5, 6); }, {"1 840 3 838 5 836 c"}},
      {[&] { p.CurveToV(1, 2, 3, 4); }, {"1 840 3 838 v"}},
      {[&] { p.CurveToY(1, 2, 3, 4); }, {"1 840 3 838 y"}},
      {[&] {
         p.ClosePath(), p.NewPath(), p.Stroke(), p.ClosePathStroke(), p.Fill(), p.EoFill(), p.FillAndStroke();
         p.EoFillAndStroke(), p.ClosePathFillAndStroke(), p.ClosePathEoFillAndStroke(), p.Clip(), p.EoClip();
       },
       {"h", "n", "S", "s", "f", "f*", "B", "B*", "b", "b*", "W", "W*"}},
      {[&] { EXPECT_FALSE(p.GStateRestore()); }, {}},
      {[&] { p.GStateSave(); EXPECT_TRUE(p.GStateRestore()); }, {"q", "Q"}},
      {[&] { p.Concat(1, 0, 0, 1, 5.5f, -6); }, {"1 0 0 1 5.5 -6 cm"}},
      {[&] { p.SetLineWidth(1.5f); }, {"1.5 w"}},
      {[&] { p.SetLineCap(TLineCapStyle::lcRoundEnd), p.SetLineJoin(TLineJoinStyle::ljBevelJoin); }, {"1 J", "2 j"}},
      {[&] { p.SetMiterLimit(10), p.SetFlat(3); }, {"10 M", "3 i"}},
      {[&] { p.SetDash(dash, 0); }, {"[3 2 ] 0 d"}},
      {[&] { p.SetDash(zero_dash, 0); }, {"[] 0 d"}},
      {[&] { p.NoDash(); }, {"[] 0 d"}},
      {[&] { p.SetRGBColor(255); }, {"1 0 0 RG", "1 0 0 rg"}},
      {[&] { p.SetGrayColor(0.5); }, {"0.5 G", "0.5 g"}},
      {[&] { p.SetCharacterSpacing(0), p.SetHorizontalScaling(100), p.SetWordSpacing(0), p.SetLeading(0); }, {}},
      {[&] { p.SetWordSpacing(2), p.SetWordSpacing(2); }, {"2 Tw"}},
      {[&] { p.SetCharacterSpacing(0.25f), p.SetHorizontalScaling(80), p.SetLeading(12); }, {"0.25 Tc", "80 Tz", "12 TL"}},
      {[&] { p.BeginText(), p.BeginText(), p.EndText(), p.EndText(); }, {"BT", "ET"}},
      {[&] { p.SetTextRenderingMode(TPDFTextRenderingMode::trStroke), p.SetTextRise(-3); }, {"1 Tr", "-3 Ts"}},
      {[&] { p.MoveTextPoint(10, 20), p.MoveToNextLine(); }, {"10 822 Td", "T*"}},
      {[&] { p.SetTextMatrix(1, 0, 0, 1, 2.71828f, 0.5f); }, {"1 0 0 1 2.7183 0.5 Tm"}},
      {[&] { p.ExecuteXObject("Im0"); }, {"/Im0 Do"}},
      {[&] { p.DrawXObjectEx(10, 700, 0, 0, 0, 0, 100, 50, "Im0", 0, 1); },
       {"q", "1 0 0 1 10 650 cm", "100 0 0 50 0 0 cm", "/Im0 Do", "Q"}},
      {[&] { p.DrawXObjectEx(10, 700, 0, 0, 0, 0, 100, 50, "Im1", 90, 1); },
       {"q", "1 0 0 1 10 650 cm", "0 1 -1 0 0 0 cm", "100 0 0 50 0 0 cm", "/Im1 Do", "Q"}},
      {[&] { p.RectangleRotate(10, 10, 20, 10, 90); }, {"10 832 m", "10 812 l", "0 812 l", "0 832 l"}},
  };
  for (const auto& [op, want] : cases) EXPECT_EQ(LinesOf(p, op), want) << (want.empty() ? "" : want[0]);
  EXPECT_EQ(p.FillColor(), 0x808080);
  EXPECT_EQ(p.StrokeColor(), 0x808080);

  // Shapes: the first lines and the end of the first curve.
  const Lines ellipse = LinesOf(p, [&] { p.Ellipse(0, 0, 100, 50); });
  ASSERT_EQ(ellipse.size(), 5u);
  EXPECT_EQ(ellipse[0], "0 817 m");
  EXPECT_EQ(ellipse[1], "0 830.75 22.5 842 50 842 c");
  EXPECT_EQ(LinesOf(p, [&] { p.Circle(50, 50, 10); })[0], "40 792 m");
  const Lines round = LinesOf(p, [&] { p.RoundRect(0, 0, 100, 50, 20, 10); });
  ASSERT_EQ(round.size(), 10u);
  EXPECT_EQ(round[0], "10 842 m");
  EXPECT_EQ(round[1], "90 842 l");
  EXPECT_EQ(round[2], "95.52 842 100 839.76 100 837 c");
  EXPECT_EQ(round[9], "h");
}

// Points of the content lines (m, l, c) back in caller coordinates on an A4 page.
struct Pt {
  double x, y;
};
std::vector<std::vector<Pt>> Segments(const Lines& lines) {
  std::vector<std::vector<Pt>> segs;
  Pt last{0, 0};
  for (const std::string& line : lines) {
    std::istringstream in(line);
    std::vector<double> v;
    std::string tok;
    while (in >> tok && (std::isdigit(static_cast<unsigned char>(tok[0])) || tok[0] == '-' || tok[0] == '.'))
      v.push_back(std::stod(tok));
    for (size_t i = 1; i < v.size(); i += 2) v[i] = 842 - v[i];
    if (tok == "m") last = {v[0], v[1]};
    if (tok == "c") {
      segs.push_back({last, {v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}});
      last = {v[4], v[5]};
    }
  }
  return segs;
}

TEST(PageOperators, ArcsLieOnTheirEllipse) {
  Doc d;
  TMRVXPage& p = d.page();
  const double cx = 200.5, cy = 300.5, rx = 150, ry = 60;  // box (50, 240)-(351, 361), one unit smaller
  const auto check = [&](const Lines& lines, size_t segments) {
    const auto segs = Segments(lines);
    ASSERT_EQ(segs.size(), segments);
    for (const auto& s : segs) {
      for (double t = 0; t <= 1.0001; t += 0.125) {
        const double a = (1 - t) * (1 - t) * (1 - t), b = 3 * (1 - t) * (1 - t) * t, c = 3 * (1 - t) * t * t, e = t * t * t;
        const double x = a * s[0].x + b * s[1].x + c * s[2].x + e * s[3].x;
        const double y = a * s[0].y + b * s[1].y + c * s[2].y + e * s[3].y;
        const double r = std::hypot((x - cx) / rx, (y - cy) / ry);
        EXPECT_NEAR(r, 1.0, 0.003) << x << "," << y;
      }
    }
  };
  TMRVXCurrPoint start{};
  // Same start and end direction: the whole ellipse in four quarters.
  check(LinesOf(p, [&] { start = p.DrawArc(50, 240, 351, 361, 400, 300.5f, 400, 300.5f); }), 4);
  EXPECT_NEAR(static_cast<double>(start.X), cx + rx, 1e-3);
  EXPECT_NEAR(static_cast<double>(start.Y), cy, 1e-3);
  // From the right to the top, counterclockwise on the page: one quarter.
  const Lines quarter = LinesOf(p, [&] { p.DrawArc(50, 240, 351, 361, 200.5f, 0, 400, 300.5f); });
  check(quarter, 1);
  EXPECT_EQ(quarter.back().substr(quarter.back().size() - 13), "200.5 601.5 c");
  // From the top to the right: three quarters and a bit of rounding, in three segments.
  check(LinesOf(p, [&] { p.DrawArc(50, 240, 351, 361, 400, 300.5f, 200.5f, 0); }), 3);
  // A pie adds both radii.
  const Lines pie = LinesOf(p, [&] { p.DrawPie(50, 240, 351, 361, 200.5, 0, 400, 300.5); });
  ASSERT_EQ(pie.size(), 5u);
  EXPECT_EQ(pie[2], "200.5 541.5 l");
  EXPECT_EQ(pie[3], "350.5 541.5 m");
}

TEST(PageSize, FormatsOrientationResolutionAndDirectSizes) {
  Doc d;
  TMRVXPage& p = d.page();
  EXPECT_EQ(p.Size(), TMRVXPageSize::psA4);
  p.SetPageSize(TMRVXPageSize::psLetter);
  EXPECT_EQ(p.Width(), 612);
  EXPECT_EQ((std::vector<float>{p.MinX(), p.MinY(), p.MaxX(), p.MaxY()}), (std::vector<float>{0, 0, 612, 792}));
  p.SetOrientation(TMRVXPageOrientation::poLandscape);
  EXPECT_EQ((std::vector<float>{p.MaxX(), p.MaxY()}), (std::vector<float>{792, 612}));
  EXPECT_EQ(p.Size(), TMRVXPageSize::psUserDefined);
  p.SetOrientation(TMRVXPageOrientation::poPortrait);
  EXPECT_EQ((std::vector<float>{p.MaxX(), p.MaxY()}), (std::vector<float>{612, 792}));

  // A landscape format: the format's sides exchanged.
  p.SetOrientation(TMRVXPageOrientation::poLandscape);
  p.SetPageSize(TMRVXPageSize::psA4);
  EXPECT_EQ((std::vector<float>{p.MaxX(), p.MaxY()}), (std::vector<float>{842, 595}));
  EXPECT_EQ(p.Size(), TMRVXPageSize::psA4);

  // A width set directly makes the page user-defined; the media box array follows.
  p.SetPageWidth(300);
  EXPECT_EQ(p.Size(), TMRVXPageSize::psUserDefined);
  EXPECT_EQ((std::vector<float>{p.MaxX(), p.MaxY()}), (std::vector<float>{300, 595}));
  p.SetPageHeight(400.5f);
  const auto* box = static_cast<TMRVXArrayObject*>(p.PageObj()->GetValue("MediaBox"));
  EXPECT_EQ(static_cast<TMRVXNumericObject*>(box->GetIndexedItem(2))->Value, 300);
  EXPECT_EQ(static_cast<TMRVXNumericObject*>(box->GetIndexedItem(3))->Value, 400.5);
  EXPECT_EQ(LinesOf(p, [&] { p.MoveTo(0, 0.5f); })[0], "0 400 m");

  // The document's resolution scales caller units on format pages, not on user-defined ones.
  Doc hi;
  hi.doc.SetResolution(144);
  hi.doc.AddPage();
  TMRVXPage& q = hi.page();
  EXPECT_EQ(LinesOf(q, [&] { q.Rectangle(20, 40, 200, 100); })[0], "10 772 100 50 re");
  q.SetFont("Arial", fsBold, 20, 0, false);
  EXPECT_EQ(q.CurrentFont().Size, 10);
  EXPECT_EQ(q.CurrentFont().Style, fsBold);
  q.SetPageWidth(595);
  EXPECT_EQ(LinesOf(q, [&] { q.Rectangle(20, 40, 200, 100); })[0], "20 702 200 100 re");
  EXPECT_THROW(q.SetResolution(0), EMRVXError);
}

TEST(PageResources, NamesAreFreeOnlyWhenNoListHoldsThem) {
  Doc d;
  TMRVXPage& p = d.page();
  ASSERT_NE(p.FontObjectObj(), nullptr);
  EXPECT_EQ(p.FontObjectObj()->Count(), 0u);
  EXPECT_EQ(static_cast<TMRVXDictionaryObject*>(p.PageObj()->GetValue("Resources"))->GetValue("Font"),
            p.FontObjectObj());
  EXPECT_TRUE(d.doc.FontNames.empty());
  EXPECT_TRUE(p.XObjectNames().empty());
  EXPECT_EQ(p.Width(), 595);
  EXPECT_EQ(p.Height(), 842);

  EXPECT_EQ(p.CompareResName(1, "f0"), -1);
  EXPECT_EQ(p.NewResourceName(1), "F0");
  EXPECT_GE(p.CompareResName(1, "f0"), 0);
  EXPECT_EQ(p.NewResourceName(1), "F1");
  EXPECT_EQ(p.CompareResName(0, "F0"), -1);  // fonts and images are separate lists

  d.doc.XImageNames.push_back("Im0");
  d.doc.AddPage();
  EXPECT_GE(d.page().CompareResName(0, "IM0"), 0);  // registered images are taken on every page
  EXPECT_TRUE(d.doc.FontNames.empty());             // font names start again on a new page

  // Names already in the page's own XObject dictionary are taken too.
  auto* xobjects = static_cast<TMRVXDictionaryObject*>(
      static_cast<TMRVXDictionaryObject*>(d.page().PageObj()->GetValue("Resources"))->GetValue("XObject"));
  xobjects->AddValue("Im1", std::make_unique<TMRVXNullObject>());
  d.doc.SetCurrentPageNum(0);
  d.doc.SetCurrentPageNum(1);
  EXPECT_EQ(d.page().XObjectNames(), (std::vector<std::string>{"Im1"}));
  EXPECT_EQ(d.page().NewResourceName(0), "Im2");
}

TEST(PagePreparation, ContentStreamsMediaBoxAndResourcesOfOtherPages) {
  Doc d(TMRVXCompressionMethod::cmNone);
  d.doc.AddPage();
  d.doc.AddPage();
  TMRVXDictionaryObject* first = d.doc.PageArr()[0].PageObj;
  TMRVXDictionaryObject* second = d.doc.PageArr()[1].PageObj;
  TMRVXDictionaryObject* third = d.doc.PageArr()[2].PageObj;

  // First page: three content streams; only the last one is extended.
  auto* streams = static_cast<TMRVXArrayObject*>(first->ReplaceValue("Contents", std::make_unique<TMRVXArrayObject>(nullptr)));
  std::vector<TMRVXStreamObject*> parts;
  for (const char* text : {"% one\r\n", "% two\r\n", "% three\r\n"}) {
    TMRVXStreamObject* s = d.doc.CreateIndirectStream();
    s->Dictionary->AddIntegerValue("Length", 0);
    s->Stream = text;
    streams->AddLink(*s);
    parts.push_back(s);
  }
  // Second page: no media box of its own and no content stream.
  second->DeleteValue("MediaBox");
  second->DeleteValue("Contents");

  d.doc.SetCurrentPageNum(0);
  d.page().MoveTo(1, 1);
  d.doc.SetCurrentPageNum(1);
  EXPECT_EQ(d.page().MaxY(), 842);
  EXPECT_NE(second->GetValue("MediaBox"), nullptr);
  EXPECT_NE(second->GetValue("Contents"), nullptr);
  d.page().LineTo(2, 2);

  // Third page: without resources it cannot be drawn on.
  third->DeleteValue("Resources");
  try {
    d.doc.SetCurrentPageNum(2);
    ADD_FAILURE();
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "Invalid page resources.");
  }
  EXPECT_EQ(d.doc.CurrentPage(), nullptr);
  third->AddDictionary("Resources");
  d.doc.EndDoc();

  EXPECT_EQ(parts[0]->Stream, "% one\r\n");
  EXPECT_EQ(parts[1]->Stream, "% two\r\n");
  EXPECT_EQ(parts[2]->Stream, "% three\r\n\r\n\r\n0 0 0 RG\r\n0 0 0 rg\r\n0 Tr\r\n1 841 m\r\nq\r\nQ\r\n\r\n\r\n");
  // Without compression the stream holds the lines as they are and has no filter.
  EXPECT_EQ(parts[2]->Dictionary->FindValue("Filter"), -1);
  testing::TempDir dir;
  testing::WriteFile(dir.File("prepared.pdf"), d.out);
  const auto check = testing::RunTool("qpdf --check " + dir.File("prepared.pdf"));
  EXPECT_EQ(check.exit_code, 0) << check.output;
  EXPECT_NE(d.out.find("2 840 l"), std::string::npos);
}

TEST(PageCanvas, RecordsOnTheReferenceDeviceAndNeedsATranslatorForDrawing) {
  Doc d;
  platform::MetafileCanvas* canvas = d.doc.Canvas();
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(canvas, d.page().GetCanvas());
  EXPECT_EQ(canvas->Dpi(), 96);
  EXPECT_EQ(canvas->Width(), 793);
  EXPECT_EQ(canvas->Height(), 1123);
  // A size change replaces the canvas with one for the new surface.
  d.page().SetPageSize(TMRVXPageSize::psLetter);
  EXPECT_EQ(d.doc.Canvas()->Width(), 816);

  d.doc.SetReferenceDpi(300);
  d.doc.AddPage();
  EXPECT_EQ(d.doc.Canvas()->Width(), 2479);  // 595 pt at 300 dpi, no screen to stop it
  EXPECT_THROW(d.doc.SetReferenceDpi(0), EMRVXError);

  // Drawing without a translator is refused rather than dropped.
  d.doc.RecordingTranslator = nullptr;
  d.doc.Canvas()->Rectangle(0, 0, 10, 10);
  try {
    d.doc.EndDoc();
    ADD_FAILURE();
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "The page canvas holds drawing, but no metafile translator is installed.");
  }

  // With a translator installed, it gets the finished recording between "q" and "Q".
  Doc t;
  std::vector<size_t> seen;
  t.doc.RecordingTranslator = [&](TMRVXPage& page, const platform::Metafile& recording) {
    seen.push_back(recording.Records().size());
    EXPECT_EQ(recording.Inch(), 72);
    EXPECT_EQ(recording.Width(), 595);
    page.SaveToPageStream("% translated");
  };
  t.doc.Canvas()->Ellipse(5, 5, 50, 50);
  t.doc.AddPage();
  EXPECT_EQ(seen, (std::vector<size_t>{9}));  // header, pen, select, brush, select, ellipse, 2 deletes, end
  EXPECT_EQ(t.doc.PageArr().size(), 2u);
  const Lines before_close = t.page().PageContent();
  t.doc.EndDoc();
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(before_close.back(), "0 Tr");
}

}  // namespace
}  // namespace pdfwriter
