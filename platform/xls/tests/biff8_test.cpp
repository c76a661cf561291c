#include "platform/xls/biff8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/base/byte_order.h"

namespace platform::xls {
namespace {

struct Rec {
  uint16_t id;
  size_t pos;  // of the record header in the stream
  std::vector<uint8_t> data;
};

std::vector<Rec> Records(const std::vector<uint8_t>& s) {
  std::vector<Rec> recs;
  size_t p = 0;
  while (p + 4 <= s.size()) {
    const uint16_t id = LoadLE16(&s[p]);
    const uint16_t len = LoadLE16(&s[p + 2]);
    EXPECT_LE(p + 4 + len, s.size());
    recs.push_back({id, p, std::vector<uint8_t>(s.begin() + static_cast<long>(p + 4),
                                                s.begin() + static_cast<long>(p + 4 + len))});
    p += 4 + len;
  }
  EXPECT_EQ(p, s.size());
  return recs;
}

// ---------------------------------------------------------------- RK numbers

TEST(Biff8, RkFormKeepsTheExactDoubleOrIsRefused) {
  for (double v : {0.0, 1.0, -1.0, 536870911.0, -536870912.0, 0.5, 12.25, 12.5, 1.23, -45.67, 5368709.11, 1e10,
                   0.1, 1.0 / 3, 1e300, 123456789.123, 5e-324, std::nextafter(1.0, 2.0), 536870912.0, -0.0,
                   std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    uint32_t rk = 0;
    if (EncodeRK(v, rk)) {
      const double back = DecodeRK(rk);
      EXPECT_EQ(std::memcmp(&back, &v, 8), 0) << v << " comes back as " << back;
    }
  }
  uint32_t rk = 0;
  EXPECT_TRUE(EncodeRK(12345, rk));
  EXPECT_EQ(rk, (12345u << 2) | 2u);
  EXPECT_TRUE(EncodeRK(1.23, rk));  // 123 hundredths
  EXPECT_EQ(rk, (123u << 2) | 3u);
  EXPECT_TRUE(EncodeRK(0.5, rk));  // the top bits of the double
  EXPECT_EQ(rk, 0x3FE00000u);
  EXPECT_FALSE(EncodeRK(-0.0, rk));
  EXPECT_FALSE(EncodeRK(1.0 / 3, rk));
  EXPECT_FALSE(EncodeRK(0.123, rk));
  EXPECT_FALSE(EncodeRK(std::numeric_limits<double>::quiet_NaN(), rk));
}

// ---------------------------------------------------------------- shared strings

// Reads the SST back the way a reader must: a string starts whole in one record (count and
// option byte together); its characters go on across CONTINUE records, each of which then
// starts with its own option byte.
std::vector<std::u16string> ReadSst(const std::vector<Rec>& recs, size_t first, uint32_t& total) {
  size_t r = first, off = 0;
  EXPECT_EQ(recs[r].id, kRecSST);
  auto next_record = [&] {
    ++r;
    off = 0;
    EXPECT_LT(r, recs.size());
    EXPECT_EQ(recs[r].id, kRecContinue);
  };
  const std::vector<uint8_t>* d = &recs[r].data;
  total = LoadLE32(&(*d)[0]);
  const uint32_t unique = LoadLE32(&(*d)[4]);
  off = 8;
  std::vector<std::u16string> out;
  for (uint32_t k = 0; k < unique; ++k) {
    if (off == recs[r].data.size()) next_record();
    d = &recs[r].data;
    EXPECT_LE(off + 3, d->size()) << "the header of string " << k << " straddles two records";
    const uint16_t cch = LoadLE16(&(*d)[off]);
    bool wide = (*d)[off + 2] & 1;
    off += 3;
    std::u16string s;
    while (s.size() < cch) {
      if (off == recs[r].data.size()) {
        next_record();
        wide = recs[r].data[off++] & 1;
      }
      d = &recs[r].data;
      if (wide) {
        s += static_cast<char16_t>(LoadLE16(&(*d)[off]));
        off += 2;
      } else {
        s += static_cast<char16_t>((*d)[off]);
        off += 1;
      }
    }
    out.push_back(s);
  }
  EXPECT_EQ(off, recs[r].data.size());
  EXPECT_EQ(recs.at(r + 1).id, kRecExtSST);
  return out;
}

TEST(Biff8, SharedStringsSplitIntoContinueRecordsAndIndexEveryEighth) {
  TSharedStrings sst;
  std::vector<std::u16string> expected;
  auto add = [&](const std::u16string& s) {
    const uint32_t before = sst.Unique();
    const uint32_t idx = sst.Add(s);
    if (idx == before) expected.push_back(s);
    EXPECT_EQ(expected.at(idx), s);
  };
  for (int i = 0; i < 3000; ++i) add(u"Job " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                    std::u16string(static_cast<size_t>(i % 40), u'\u00b5'));
  add(std::u16string(20000, u'x'));             // compressed, across three records
  add(std::u16string(9000, u'\u20ac'));         // UTF-16, across three records
  add(u"");
  for (int i = 0; i < 2000; ++i) add(u"\u00b0" + std::u16string(static_cast<size_t>(i % 300), u'\u0394'));
  add(u"Job A");  // a repeat: no new entry
  const uint32_t adds = 3000 + 3 + 2000 + 1;
  EXPECT_EQ(sst.Total(), adds);

  TBiffStream out;
  out.Record(kRecEOF, nullptr, 0);  // something before, so that stream positions are not record offsets
  sst.Write(out);
  const std::vector<Rec> recs = Records(out.Bytes());
  size_t continues = 0;
  for (const Rec& r : recs) {
    EXPECT_LE(r.data.size(), kMaxRecordData);
    continues += r.id == kRecContinue;
  }
  EXPECT_GT(continues, 10u);
  uint32_t total = 0;
  EXPECT_EQ(ReadSst(recs, 1, total), expected);
  EXPECT_EQ(total, adds);

  // EXTSST: each bucket points at the count field of every dsst-th string.
  const Rec& ext = recs.back();
  ASSERT_EQ(ext.id, kRecExtSST);
  const uint16_t dsst = LoadLE16(&ext.data[0]);
  EXPECT_GE(dsst, 8);
  const size_t buckets = (ext.data.size() - 2) / 8;
  EXPECT_LE(buckets, 128u);
  EXPECT_EQ(buckets, (expected.size() + dsst - 1) / dsst);
  for (size_t b = 0; b < buckets; ++b) {
    const uint32_t pos = LoadLE32(&ext.data[2 + 8 * b]);
    const uint16_t offset = LoadLE16(&ext.data[2 + 8 * b + 4]);
    const std::u16string& s = expected[b * dsst];
    EXPECT_EQ(LoadLE16(&out.Bytes()[pos]), s.size()) << "bucket " << b;
    // The offset counts from the record's header.
    const size_t rec_start = pos - offset;
    const uint16_t id = LoadLE16(&out.Bytes()[rec_start]);
    EXPECT_TRUE(id == kRecSST || id == kRecContinue) << "bucket " << b;
  }
}

TEST(Biff8, CompressesOnlyWhatFitsInOneByte) {
  EXPECT_TRUE(IsCompressible(u"\u00b5m\u00b2 45\u00b0 \u00ff"));
  EXPECT_FALSE(IsCompressible(u"\u20ac"));  // the euro sign of Windows-1252 is beyond U+00FF
  EXPECT_FALSE(IsCompressible(u"\u0100"));
  EXPECT_TRUE(IsCompressible(u""));
}

// ---------------------------------------------------------------- workbook

TEST(Biff8, WorkbookRefusesWhatTheFormatCannotHold) {
  for (const std::u16string& bad : {std::u16string(), std::u16string(32, u'a'), std::u16string(u"A:B"),
                                    std::u16string(u"A[1]"), std::u16string(u"x/y"), std::u16string(u"why?"),
                                    std::u16string(u"star*"), std::u16string(u"back\\slash")}) {
    EXPECT_THROW(TBiff8Workbook(bad, TXLSFont{}), EBiffError);
  }
  TBiff8Workbook book(u"LAMS", TXLSFont{});
  book.Number(3, 2, TBiff8Workbook::kDefaultXF, 1);
  EXPECT_THROW(book.Number(3, 2, TBiff8Workbook::kDefaultXF, 1), EBiffError);  // same cell again
  EXPECT_THROW(book.Number(2, 5, TBiff8Workbook::kDefaultXF, 1), EBiffError);  // an earlier row
  EXPECT_THROW(book.Number(65536, 0, TBiff8Workbook::kDefaultXF, 1), EBiffError);
  EXPECT_THROW(book.Number(4, 256, TBiff8Workbook::kDefaultXF, 1), EBiffError);
  EXPECT_THROW(book.Number(4, 0, 16, 1), EBiffError);  // no such cell format
  EXPECT_THROW(book.Text(5, 0, TBiff8Workbook::kDefaultXF, std::u16string(32768, u'a')), EBiffError);
  EXPECT_NO_THROW(book.Text(65535, 255, TBiff8Workbook::kDefaultXF, std::u16string(32767, u'a')));
}

TEST(Biff8, WorkbookStreamHasGlobalsThenTheSheetWhereBoundsheetSays) {
  TBiff8Workbook book(u"PLATE", TXLSFont{});
  const uint16_t bold = book.AddFont(TXLSFont{"Arial", 10, true, false});
  const uint16_t f2 = book.AddFont(TXLSFont{"Arial", 12, true, false});
  const uint16_t f3 = book.AddFont(TXLSFont{"Arial", 8, false, true});
  const uint16_t f4 = book.AddFont(TXLSFont{"Arial", 9, false, false});
  EXPECT_EQ(bold, 1);
  EXPECT_EQ(f2, 2);
  EXPECT_EQ(f3, 3);
  EXPECT_EQ(f4, 5);  // font index 4 does not exist
  const uint16_t fmt = book.AddNumberFormat(u"yyyy-mm-dd");
  EXPECT_EQ(fmt, 164);
  EXPECT_EQ(book.AddNumberFormat(u"yyyy-mm-dd"), 164);
  const uint16_t xf = book.AddCellFormat(bold, 0);
  EXPECT_EQ(xf, 16);
  book.Text(0, 0, xf, u"DateTime");
  book.Float(1, 0, TBiff8Workbook::kDefaultXF, 45000.5);
  book.Number(1, 3, TBiff8Workbook::kDefaultXF, 7);
  const std::vector<uint8_t> s = book.Build();
  const std::vector<Rec> recs = Records(s);

  ASSERT_GE(recs.size(), 2u);
  EXPECT_EQ(recs[0].id, kRecBOF);
  EXPECT_EQ(LoadLE16(&recs[0].data[2]), 0x0005);
  std::vector<uint16_t> ids;
  uint32_t sheet_pos = 0;
  size_t globals_end = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    ids.push_back(recs[i].id);
    if (recs[i].id == kRecBoundSheet) sheet_pos = LoadLE32(&recs[i].data[0]);
    if (recs[i].id == kRecEOF && globals_end == 0) globals_end = i;
  }
  auto count = [&](uint16_t id) { return std::count(ids.begin(), ids.end(), id); };
  EXPECT_EQ(count(kRecFont), 5);
  EXPECT_EQ(count(kRecXF), 17);
  EXPECT_EQ(count(kRecFormat), 1);
  EXPECT_EQ(count(kRecCodePage), 1);
  EXPECT_EQ(LoadLE16(&recs[1].data[0]), 1200);
  // The sheet's BOF is the record right after the globals' EOF, at the position BOUNDSHEET gives.
  ASSERT_LT(globals_end + 1, recs.size());
  EXPECT_EQ(recs[globals_end + 1].pos, sheet_pos);
  EXPECT_EQ(recs[globals_end + 1].id, kRecBOF);
  EXPECT_EQ(LoadLE16(&recs[globals_end + 1].data[2]), 0x0010);
  // DIMENSIONS: rows 0..1, columns 0..3 (one past the last of each).
  for (const Rec& r : recs) {
    if (r.id != kRecDimensions) continue;
    EXPECT_EQ(LoadLE32(&r.data[0]), 0u);
    EXPECT_EQ(LoadLE32(&r.data[4]), 2u);
    EXPECT_EQ(LoadLE16(&r.data[8]), 0u);
    EXPECT_EQ(LoadLE16(&r.data[10]), 4u);
  }
  EXPECT_EQ(recs.back().id, kRecEOF);
  EXPECT_EQ(recs[recs.size() - 2].id, kRecWindow2);
}

}  // namespace
}  // namespace platform::xls
