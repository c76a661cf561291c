#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/metafile/emf_records.h"
#include "platform/metafile/metafile.h"
#include "platform/metafile/metafile_canvas.h"

namespace platform {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

void Put32At(std::vector<uint8_t>& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint32_t> Types(const std::vector<EmfRecord>& records) {
  std::vector<uint32_t> t;
  for (const auto& r : records) t.push_back(RecordType(r));
  return t;
}

// The bytes of an empty A4 recording at 96 dpi, packed field by field with Python's struct
// module from the published header and end-record layouts.
const char* kEmptyA4 =
    "010000006c0000000000000000000000ffffffffffffffff0000000000000000fe5100000874000020454d4600000100"
    "800000000200000001000000000000000000000000000000c0030000a0050000fe0000007d0100000000000000000000"
    "0000000030e0030048d005000e00000014000000000000001000000014000000";

TEST(MetafileCanvas, EmptyRecordingIsHeaderAndEndRecordInThePublishedLayout) {
  Metafile mf(595, 842, 72);
  MetafileCanvas canvas(mf);
  EXPECT_EQ(canvas.Width(), 793);  // 595 pt at 96 dpi
  EXPECT_EQ(canvas.Height(), 1123);
  canvas.Close();
  EXPECT_EQ(mf.Data(), FromHex(kEmptyA4));
  EXPECT_FALSE(mf.HasDrawing());

  const auto records = mf.Records();
  ASSERT_EQ(records.size(), 2u);
  const auto& h = std::get<EmrHeader>(records[0]);
  // The reference device's resolution reads back exactly from its size.
  EXPECT_EQ(static_cast<int64_t>(h.Device.cx) * 25400 / h.Micrometers.cx, 96);
  EXPECT_EQ(static_cast<int64_t>(h.Device.cy) * 25400 / h.Micrometers.cy, 96);
}

TEST(MetafileCanvas, DpiIsAParameterAndTheSurfaceIsNotLimitedByAScreen) {
  Metafile mf(72 * 100, 72 * 40, 72);  // 100 x 40 inches
  MetafileCanvas canvas(mf, 300);
  EXPECT_EQ(canvas.Width(), 30000);
  EXPECT_EQ(canvas.Height(), 12000);
  canvas.Rectangle(0, 0, 30000, 12000);
  canvas.Close();
  const auto h = std::get<EmrHeader>(mf.Records()[0]);
  EXPECT_EQ(h.Device.cx, 100 * 300);
  EXPECT_EQ(h.Device.cy, 40 * 300);
  EXPECT_EQ(h.Bounds, (EmfRect{0, 0, 29999, 11999}));
  EXPECT_EQ(h.Frame, (EmfRect{0, 0, 254000, 101600}));

  EXPECT_THROW(MetafileCanvas(mf, 0), std::invalid_argument);
  EXPECT_THROW(Metafile(-1, 10), std::invalid_argument);
  EXPECT_THROW(Metafile(1'000'000, 10, 1), std::invalid_argument);
}

TEST(MetafileCanvas, DrawingRecordsPensAndBrushesLazilyAndReadsBack) {
  Metafile mf(200, 100);
  MetafileCanvas c(mf);
  c.MoveTo(1, 2);
  c.LineTo(30, 40);
  c.Pen().Color = 0x0000FF;
  c.Pen().Width = 3;
  c.Brush().Style = TBrushStyle::bsClear;
  c.Rectangle(10, 20, 110, 70);
  c.Ellipse(0, 0, 50, 25);  // same pen and brush: no new objects
  c.Close();

  const auto r = mf.Records();
  EXPECT_EQ(Types(r), (std::vector<uint32_t>{EMR_HEADER, EMR_MOVETOEX, EMR_CREATEPEN, EMR_SELECTOBJECT, EMR_LINETO,
                                             EMR_CREATEPEN, EMR_SELECTOBJECT, EMR_DELETEOBJECT,
                                             EMR_CREATEBRUSHINDIRECT, EMR_SELECTOBJECT, EMR_RECTANGLE, EMR_ELLIPSE,
                                             EMR_DELETEOBJECT, EMR_DELETEOBJECT, EMR_EOF}));
  EXPECT_EQ(std::get<EmrCreatePen>(r[2]), (EmrCreatePen{1, PS_SOLID, 1, 0}));
  EXPECT_EQ(std::get<EmrCreatePen>(r[5]), (EmrCreatePen{2, PS_SOLID, 3, 0x0000FF}));
  EXPECT_EQ(std::get<EmrDeleteObject>(r[7]).ihObject, 1u);
  // The freed slot is taken again.
  EXPECT_EQ(std::get<EmrCreateBrushIndirect>(r[8]), (EmrCreateBrushIndirect{1, BS_NULL, 0xFFFFFF, 0}));
  EXPECT_EQ(std::get<EmrBox>(r[10]), (EmrBox{EMR_RECTANGLE, {10, 20, 110, 70}}));
  const auto& h = std::get<EmrHeader>(r[0]);
  EXPECT_EQ(h.Handles, 3);
  EXPECT_EQ(h.Bounds, (EmfRect{0, 0, 109, 69}));
  EXPECT_EQ(h.Records, r.size());
}

TEST(MetafileCanvas, PolygonsChooseSixteenOrThirtyTwoBitPoints) {
  Metafile mf(200, 100);
  MetafileCanvas c(mf);
  const std::vector<TPoint> small{{0, 0}, {100, 0}, {50, -60}};
  const std::vector<TPoint> large{{0, 0}, {40000, 5}, {7, -40000}};
  c.Polygon(small);
  c.Polyline(large);
  c.Polygon({});  // nothing to draw
  c.Close();
  const auto r = mf.Records();
  const auto& p16 = std::get<EmrPoly>(r[5]);
  EXPECT_EQ(p16.Type, EMR_POLYGON16);
  EXPECT_EQ(p16.Points, (std::vector<EmfPoint>{{0, 0}, {100, 0}, {50, -60}}));
  EXPECT_EQ(p16.Bounds, (EmfRect{0, -60, 100, 0}));
  const auto& p32 = std::get<EmrPoly>(r[6]);
  EXPECT_EQ(p32.Type, EMR_POLYLINE);
  EXPECT_EQ(p32.Points[1], (EmfPoint{40000, 5}));
}

TEST(MetafileCanvas, SavedStatesKeepTheirObjectsAlive) {
  Metafile mf(200, 100);
  MetafileCanvas c(mf);
  c.LineTo(5, 5);  // pen in slot 1
  c.SaveDC();
  c.Pen().Color = 0xFF;
  c.LineTo(6, 6);  // pen in slot 2; slot 1 is still named by the saved state
  c.RestoreDC(-1);  // selects slot 1 again; slot 2 is no longer named anywhere
  c.Pen().Color = 0;
  c.LineTo(7, 7);  // the restored black pen is the one asked for: no new pen
  EXPECT_THROW(c.RestoreDC(-1), std::invalid_argument);
  c.Close();
  const auto r = mf.Records();
  EXPECT_EQ(Types(r), (std::vector<uint32_t>{EMR_HEADER, EMR_CREATEPEN, EMR_SELECTOBJECT, EMR_LINETO, EMR_SAVEDC,
                                             EMR_CREATEPEN, EMR_SELECTOBJECT, EMR_LINETO, EMR_RESTOREDC,
                                             EMR_DELETEOBJECT, EMR_LINETO, EMR_DELETEOBJECT, EMR_EOF}));
  EXPECT_EQ(std::get<EmrDeleteObject>(r[9]).ihObject, 2u);
  EXPECT_EQ(std::get<EmrDeleteObject>(r[11]).ihObject, 1u);
  EXPECT_THROW(c.LineTo(1, 1), std::logic_error);
}

TEST(EmfRecords, EveryRecordKindRoundTrips) {
  const std::vector<EmfRecord> body{
      EmrCreatePen{3, PS_DASH, 7, 0x123456},
      EmrCreateBrushIndirect{4, BS_SOLID, 0xABCDEF, 0},
      EmrSelectObject{kStockObjectFlag | 5},
      EmrDeleteObject{3},
      EmrValue{EMR_SETBKMODE, TRANSPARENT},
      EmrValue{EMR_SETPOLYFILLMODE, WINDING},
      EmrValue{EMR_SETROP2, R2_NOT},
      EmrValue{EMR_SETTEXTCOLOR, 0xFF},
      EmrValue{EMR_SETBKCOLOR, 0xFFFFFF},
      EmrSaveDC{},
      EmrValue{EMR_RESTOREDC, static_cast<uint32_t>(-1)},
      EmrPointRecord{EMR_MOVETOEX, {-5, 6}},
      EmrPointRecord{EMR_LINETO, {70000, -80000}},
      EmrBox{EMR_RECTANGLE, {1, 2, 3, 4}},
      EmrBox{EMR_ELLIPSE, {-1, -2, 3, 4}},
      EmrBox{EMR_INTERSECTCLIPRECT, {0, 0, 10, 10}},
      EmrRoundRect{{0, 0, 100, 50}, {10, 8}},
      EmrArc{EMR_ARC, {0, 0, 10, 10}, {10, 5}, {0, 5}},
      EmrArc{EMR_CHORD, {0, 0, 10, 10}, {1, 2}, {3, 4}},
      EmrArc{EMR_PIE, {0, 0, 10, 10}, {5, 6}, {7, 8}},
      EmrPoly{EMR_POLYGON16, {0, -1, 3, 4}, {{0, -1}, {3, 4}}},
      EmrPoly{EMR_POLYLINE16, {0, 0, 0, 0}, {}},
      EmrPoly{EMR_POLYGON, {0, 0, 100000, 1}, {{100000, 1}, {0, 0}, {1, 1}}},
      EmrPoly{EMR_POLYLINE, {0, 0, 1, 1}, {{1, 1}}},
      EmrUnknown{84, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  std::vector<uint8_t> data;
  EmrHeader h;
  h.Records = static_cast<uint32_t>(body.size() + 2);
  WriteEmfRecord(data, h);
  for (const auto& r : body) WriteEmfRecord(data, r);
  WriteEmfRecord(data, EmrEof{});
  h.Bytes = static_cast<uint32_t>(data.size());
  Put32At(data, 48, h.Bytes);

  const auto back = ReadEmfRecords(data);
  ASSERT_EQ(back.size(), body.size() + 2);
  EXPECT_EQ(std::get<EmrHeader>(back[0]), h);
  for (size_t i = 0; i < body.size(); ++i) EXPECT_EQ(back[i + 1], body[i]) << "record " << i;

  EXPECT_THROW(WriteEmfRecord(data, EmrBox{EMR_LINETO, {}}), std::invalid_argument);
  EXPECT_THROW(WriteEmfRecord(data, (EmrPoly{EMR_POLYGON16, {}, {{40000, 0}}})), std::invalid_argument);
}

TEST(EmfRecords, MalformedMetafilesAreRefusedWithAClearError) {
  Metafile mf(100, 100);
  MetafileCanvas c(mf);
  c.Polygon(std::vector<TPoint>{{0, 0}, {10, 0}, {5, 5}});
  c.Close();
  const std::vector<uint8_t> good = mf.Data();
  const size_t poly_at = 108 + 28 + 12 + 24 + 12;  // header, pen, select, brush, select
  ASSERT_EQ(good[poly_at], EMR_POLYGON16);

  struct Case {
    const char* name;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, auto change) {
    std::vector<uint8_t> d = good;
    change(d);
    cases.push_back({name, d});
  };
  with("empty", [](auto& d) { d.clear(); });
  with("truncated", [](auto& d) { d.resize(d.size() - 4); });
  with("no signature", [](auto& d) { d[40] = 'X'; });
  with("not a header first", [](auto& d) { d[0] = 2; });
  with("size not a multiple of 4", [&](auto& d) { Put32At(d, poly_at + 4, 30); });
  with("size past the end", [&](auto& d) { Put32At(d, poly_at + 4, 0x7FFFFFF0); });
  with("size below 8", [&](auto& d) { Put32At(d, poly_at + 4, 4); });
  with("point count too large", [&](auto& d) { Put32At(d, poly_at + 24, 0x40000001); });
  with("byte count wrong", [](auto& d) { Put32At(d, 48, 12); });
  with("record count wrong", [](auto& d) { Put32At(d, 52, 99); });
  with("no end record", [](auto& d) { d[d.size() - 20] = 15; });
  with("data after the end", [](auto& d) { d.insert(d.end(), {14, 0, 0, 0, 8, 0, 0, 0}); });
  with("second header", [&](auto& d) { d[poly_at] = 1; });
  for (const Case& k : cases) {
    try {
      ReadEmfRecords(k.data);
      ADD_FAILURE() << k.name << ": accepted";
    } catch (const EMetafileError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Invalid metafile: ", 0), 0u) << k.name;
    }
  }
  EXPECT_THROW(mf.SetData(cases[1].data), EMetafileError);
  EXPECT_EQ(mf.Data(), good);  // a refused recording leaves the old one in place

  // Random damage either reads or is refused, never more.
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> d = good;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) d[rng() % d.size()] = static_cast<uint8_t>(rng());
    try {
      ReadEmfRecords(d);
    } catch (const EMetafileError&) {
    }
  }
}

// The short header forms carry no micrometre size: it is derived from the millimetres, in
// 64 bits, and a size that does not fit the field is refused instead of wrapping round.
TEST(EmfRecords, ShortHeaderDerivesMicrometresWithoutOverflow) {
  Metafile mf(100, 100);
  MetafileCanvas c(mf);
  c.Close();
  std::vector<uint8_t> d = mf.Data();
  d.erase(d.begin() + 88, d.begin() + 108);  // the 88-byte form
  Put32At(d, 4, 88);
  Put32At(d, 48, static_cast<uint32_t>(d.size()));
  Put32At(d, 80, 210);
  Put32At(d, 84, 297);
  const auto h = std::get<EmrHeader>(ReadEmfRecords(d).front());
  EXPECT_EQ(h.Micrometers, (EmfSize{210000, 297000}));
  for (uint32_t mm : {3'000'000u, 0x80000000u}) {
    Put32At(d, 84, mm);  // 3 km, and -2^31 mm
    try {
      ReadEmfRecords(d);
      ADD_FAILURE() << mm << ": accepted";
    } catch (const EMetafileError& e) {
      EXPECT_NE(std::string(e.what()).find("reference device size out of range"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

uint32_t U32At(const std::vector<uint8_t>& p, size_t at) {
  return static_cast<uint32_t>(p[at]) | static_cast<uint32_t>(p[at + 1]) << 8 | static_cast<uint32_t>(p[at + 2]) << 16 |
         static_cast<uint32_t>(p[at + 3]) << 24;
}

TEST(MetafileCanvas, TextRecordsFontColourAndEveryAdvance) {
  Metafile mf(595, 842, 72);
  MetafileCanvas canvas(mf);
  canvas.Font().Size = 12;
  canvas.Font().Color = clRed;
  canvas.TextOut(10, 20, u"Ab");
  canvas.Brush().Style = TBrushStyle::bsClear;
  canvas.TextOut(10, 40, u"Ab");  // same font and colour: only the mode changes
  const int width = canvas.TextWidth(u"Ab");
  canvas.Close();
  const auto records = mf.Records();
  EXPECT_EQ(Types(records), (std::vector<uint32_t>{EMR_HEADER, EMR_EXTCREATEFONTINDIRECTW, EMR_SELECTOBJECT,
                                                   EMR_SETTEXTCOLOR, EMR_EXTTEXTOUTW, EMR_SETBKMODE,
                                                   EMR_EXTTEXTOUTW, EMR_DELETEOBJECT, EMR_EOF}));
  // The payloads, offsets counted after the 8-byte record prefix.
  const auto& font = std::get<EmrUnknown>(records[1]).Payload;
  EXPECT_EQ(static_cast<int32_t>(U32At(font, 4)), -16);  // 12 pt at 96 dpi
  EXPECT_EQ(font[32], 'A');                               // "Arial" from offset 32
  const auto& text = std::get<EmrUnknown>(records[4]).Payload;
  EXPECT_EQ(U32At(text, 28), 10u);
  EXPECT_EQ(U32At(text, 32), 20u);
  EXPECT_EQ(U32At(text, 36), 2u);
  EXPECT_EQ(text[68], 'A');  // the string at record offset 76
  EXPECT_EQ(text[70], 'b');
  const uint32_t dx_at = U32At(text, 64) - 8;
  EXPECT_EQ(static_cast<int>(U32At(text, dx_at) + U32At(text, dx_at + 4)), width);
  // An opaque background names the text box; a transparent one an empty rectangle.
  EXPECT_EQ(U32At(text, 56) - U32At(text, 48), static_cast<uint32_t>(width));
  const auto& clear = std::get<EmrUnknown>(records[6]).Payload;
  EXPECT_EQ(static_cast<int32_t>(U32At(clear, 56)), -1);
}

}  // namespace
}  // namespace platform
