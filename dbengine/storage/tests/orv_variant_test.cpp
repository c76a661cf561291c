#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/orv_variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_types_routines.h"
#include "platform/base/number_format.h"

namespace orv {
namespace {

std::vector<uint8_t> Saved(const TORVVariant& v) {
  TORVMemoryStream s;
  v.SaveToStream(s);
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.GetSize());
}

void LoadBytes(TORVVariant& v, const std::vector<uint8_t>& bytes) {
  TORVMemoryStream s;
  if (!bytes.empty()) s.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
  v.LoadFromStream(s);
}

TEST(Extended, TenByteLayout) {
  // Known bytes: 1.0 is 3FFF 8000000000000000, -2.5 is C000 A000000000000000.
  uint8_t b[10];
  ExtendedToBytes(1.0L, b);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 10), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
  ExtendedToBytes(-2.5L, b);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 10), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0xC0}));
  // On a host whose long double is the x87 format the bytes are its first ten bytes.
  if constexpr (std::numeric_limits<long double>::digits == 64) {
    std::mt19937_64 rng(1);
    for (int i = 0; i < 20000; ++i) {
      long double v = 0;
      unsigned char raw[sizeof(long double)] = {};
      const uint64_t m = rng() | (1ull << 63);
      const uint16_t e = static_cast<uint16_t>(rng() % 0x7FFF);
      std::memcpy(raw, &m, 8);
      const uint16_t top = static_cast<uint16_t>(e | ((rng() & 1) ? 0x8000 : 0));
      std::memcpy(raw + 8, &top, 2);
      std::memcpy(&v, raw, sizeof v);
      if (e == 0) continue;  // pseudo-denormals are not produced by arithmetic
      ExtendedToBytes(v, b);
      ASSERT_EQ(std::memcmp(b, raw, 10), 0) << i;
      ASSERT_EQ(BytesToExtended(b), v);
    }
  }
  for (long double v : {0.0L, -0.0L, std::numeric_limits<long double>::infinity(),
                        -std::numeric_limits<long double>::infinity(), std::numeric_limits<long double>::denorm_min(),
                        std::numeric_limits<long double>::min(), std::numeric_limits<long double>::max(), 1e-4940L}) {
    ExtendedToBytes(v, b);
    EXPECT_EQ(BytesToExtended(b), v);
    EXPECT_EQ(std::signbit(BytesToExtended(b)), std::signbit(v));
  }
  ExtendedToBytes(std::numeric_limits<long double>::quiet_NaN(), b);
  EXPECT_TRUE(std::isnan(BytesToExtended(b)));
}

TEST(TORVVariant, NullAndAccessorBasics) {
  TORVVariant v;
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.StrLen(), -1);
  EXPECT_EQ(v.GetDataAsAnsiString(), "");
  ExpectCode(30016, [&] { (void)v.GetDataAsSignedInt32(); }, "Value is Null - Native error: 30016");
  v.SetDataAsAnsiString("");
  EXPECT_TRUE(v.IsNull());
  v.SetDataAsAnsiString("abc");
  EXPECT_EQ(v.DataType(), bftVarchar);
  EXPECT_EQ(v.DataSize(), 4);
  EXPECT_EQ(v.StrLen(), 3);
  TORVVariant w;
  w.SetDataAsWideString(u"abc");
  EXPECT_EQ(w.DataType(), bftWideVarchar);
  EXPECT_EQ(w.DataSize(), 8);
  EXPECT_EQ(w.StrLen(), 3);

  // A typed value keeps its type: the setter converts.
  TORVVariant d(bftDouble);
  d.SetDataAsSignedInt32(3);
  EXPECT_EQ(d.DataType(), bftDouble);
  EXPECT_EQ(d.GetDataAsDouble(), 3.0);
  TORVVariant s(bftVarchar);
  s.SetDataAsSignedInt32(5);
  EXPECT_EQ(s.GetDataAsAnsiString(), "5");

  // SetNull keeps the buffer, which the next setter of that type reuses.
  TORVVariant i;
  i.SetDataAsSignedInt32(1);
  const void* buffer = i.pData();
  i.SetNull(bftSignedInt32);
  EXPECT_TRUE(i.IsNull());
  i.SetDataAsSignedInt32(7);
  EXPECT_FALSE(i.IsNull());
  EXPECT_EQ(i.pData(), buffer);
  EXPECT_EQ(i.GetDataAsSignedInt32(), 7);

  // Linked data is shared and never freed by the linking value.
  TORVVariant linked;
  linked.Assign(i, false);
  EXPECT_TRUE(linked.IsDataLinked());
  EXPECT_EQ(linked.pData(), i.pData());
  linked.Clear(bftUnknown);
  EXPECT_EQ(i.GetDataAsSignedInt32(), 7);
  TORVVariant copy;
  copy.Assign(i, true);
  EXPECT_NE(copy.pData(), i.pData());
  EXPECT_EQ(copy.GetDataAsSignedInt32(), 7);

  uint8_t out[4] = {};
  ExpectCode(20056, [&] { i.CopyDataToAddress(out, 3); });
  EXPECT_TRUE(i.CopyDataToAddress(out, -1));
  EXPECT_EQ(out[0], 7);
  TORVVariant empty_text;
  empty_text.SetData("", 1, bftVarchar, true);
  EXPECT_FALSE(empty_text.CopyDataToAddress(out, -1));

  TORVVariant wide;
  wide.SetDataAsWideString(u"abc");
  wide.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(wide.DataType(), bftVarchar);
  EXPECT_EQ(wide.GetDataAsAnsiString(), "abc");
  wide.Clear(bftUnknown);
  wide.SetDataAsWideString(u"\u0436x");  // Cyrillic: no Windows-1252 form
  wide.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(wide.DataType(), bftWideVarchar);
}

TEST(TORVVariant, SetDataTypeAndCast) {
  TORVVariant v;
  v.SetDataAsAnsiString("12");
  v.SetDataType(bftSignedInt16);
  EXPECT_EQ(v.GetDataAsSignedInt16(), 12);
  v.Clear(bftUnknown);
  v.SetDataAsAnsiString("letters");
  v.SetDataType(bftSignedInt32);  // cannot convert: cleared to the new type, nothing raised
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32);

  // A CLOB becomes a text by gaining its terminator, also when its buffer is linked.
  const char clob[3] = {'a', 'b', 'c'};
  TORVVariant c;
  c.SetData(clob, 3, bftClob, false);
  c.Cast(bftVarchar);
  EXPECT_FALSE(c.IsDataLinked());
  EXPECT_EQ(c.DataSize(), 4);
  EXPECT_EQ(c.GetDataAsAnsiString(), "abc");
}

TEST(TORVVariant, StreamForm) {
  TORVVariant one;
  one.SetDataAsSignedInt32(1);
  EXPECT_EQ(Saved(one), (std::vector<uint8_t>{0x07, 0x00, 0x04, 0, 0, 0, 0x01, 0, 0, 0}));
  TORVVariant null_date(bftDate);
  EXPECT_EQ(Saved(null_date), (std::vector<uint8_t>{0x0F, 0xFF}));

  std::vector<std::unique_ptr<TORVVariant>> values;
  auto add = [&](auto&& set) {
    values.push_back(std::make_unique<TORVVariant>());
    set(*values.back());
  };
  add([](TORVVariant& v) { v.SetDataAsSignedInt8(-5); });
  add([](TORVVariant& v) { v.SetDataAsSignedInt16(-300); });
  add([](TORVVariant& v) { v.SetDataAsSignedInt64(-1234567890123LL); });
  add([](TORVVariant& v) { v.SetDataAsUnsignedInt8(250); });
  add([](TORVVariant& v) { v.SetDataAsUnsignedInt16(65000); });
  add([](TORVVariant& v) { v.SetDataAsUnsignedInt32(4000000000u); });
  add([](TORVVariant& v) { v.SetDataAsSingle(1.5f); });
  add([](TORVVariant& v) { v.SetDataAsDouble(-0.1); });
  add([](TORVVariant& v) { v.SetDataAsExtended(1.0L / 3); });
  add([](TORVVariant& v) { v.SetDataAsAnsiString("text \xB5m"); });
  add([](TORVVariant& v) { v.SetDataAsWideString(u"wide \u20AC"); });
  add([](TORVVariant& v) { v.SetDataAsORVDate(738900); });
  add([](TORVVariant& v) { v.SetDataAsORVTime(43200000); });
  add([](TORVVariant& v) { v.SetDataAsORVDateTime({738900, 1}); });
  add([](TORVVariant& v) { v.SetDataAsBoolean(true); });
  add([](TORVVariant& v) { v.SetDataAsCurrency(12.3456); });
  add([](TORVVariant& v) { v.SetData("\x01\x00\x02", 3, bftBytes, true); });
  add([](TORVVariant& v) { v.SetData("blob", 4, bftBlob, true); });
  add([](TORVVariant& v) { v.Clear(bftWideVarchar); });
  for (const auto& v : values) {
    const auto bytes = Saved(*v);
    TORVVariant back;
    LoadBytes(back, bytes);
    EXPECT_EQ(back.DataType(), v->DataType());
    EXPECT_EQ(back.IsNull(), v->IsNull());
    ASSERT_EQ(back.DataSize(), v->DataSize());
    if (!v->IsNull()) { EXPECT_EQ(std::memcmp(back.pData(), v->pData(), static_cast<size_t>(v->DataSize())), 0);
    }
    EXPECT_EQ(Saved(back), bytes);
  }

  // Stored values that would make a reader overrun are refused.
  TORVVariant v;
  ExpectCode(10516, [&] { LoadBytes(v, {0x40, 0x00}); });
  ExpectCode(10517, [&] { LoadBytes(v, {0x07, 0x00, 0x02, 0, 0, 0, 1, 0}); });          // int32 of 2 bytes
  ExpectCode(10517, [&] { LoadBytes(v, {0x03, 0x00, 0x02, 0, 0, 0, 'a', 'b'}); });      // no terminator
  ExpectCode(10517, [&] { LoadBytes(v, {0x04, 0x00, 0x03, 0, 0, 0, 'a', 0, 0}); });      // odd wide size
  ExpectCode(10517, [&] { LoadBytes(v, {0x12, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}); });        // negative size
  ExpectCode(10186, [&] { LoadBytes(v, {0x07, 0x00, 0x04, 0, 0, 0, 1}); });
  ExpectCode(10185, [&] { LoadBytes(v, {0x07, 0x00, 0x04}); });
  ExpectCode(10184, [&] { LoadBytes(v, {0x07}); });
  ExpectCode(10183, [&] { LoadBytes(v, {}); });
  EXPECT_TRUE(v.IsNull());
}

TEST(TORVVariant, VariantForm) {
  TORVVariant v;
  v.SetDataAsVariant(TORVVarValue::Int(varWord, 65535));
  EXPECT_EQ(v.DataType(), bftUnsignedInt16);
  EXPECT_EQ(v.GetDataAsVariant().VType, varWord);
  v.Clear(bftUnknown);
  v.SetDataAsVariant(TORVVarValue::Float(varDate, 45306.25));
  EXPECT_EQ(v.DataType(), bftDateTime);
  const TORVVarValue back = v.GetDataAsVariant();
  EXPECT_EQ(back.VType, varDate);
  EXPECT_DOUBLE_EQ(std::get<double>(back.Value), 45306.25);
  v.SetDataAsVariant(TORVVarValue::Null());
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.GetDataAsVariant().VType, varNull);
  ExpectCode(30113, [&] { v.SetDataAsVariant({varDispatch, std::monostate{}}); },
             "Unsupported Variant Type 9 - Native error: 30113");
  TORVVariant w;
  w.SetDataAsVariant({varUString, std::u16string(u"\u20AC")});
  EXPECT_EQ(w.DataType(), bftWideVarchar);
  TORVVariant a;
  a.SetDataAsVariant({257, std::string("x")});
  EXPECT_EQ(a.DataType(), bftVarchar);
  TORVVariant blob;
  blob.SetDataAsAnsiString("abc");
  blob.Cast(bftBlob);
  EXPECT_EQ(std::get<std::string>(blob.GetDataAsVariant().Value), "abc");
  TORVVariant bytes;
  bytes.SetData("ab", 2, bftBytes, true);
  ExpectCode(30114, [&] { (void)bytes.GetDataAsVariant(); }, "Unsupported Variant Type BYTES - Native error: 30114");
}

// ---- Conversions --------------------------------------------------------------------------

std::string Text(TORVBaseFieldType from, const void* buffer, int32_t size = -1) {
  int32_t out = 0;
  void* p = CastToNewBuffer(buffer, size, from, bftVarchar, out);
  std::string s(static_cast<const char*>(p), static_cast<size_t>(out - 1));
  MemoryManager().FreeMem(p);
  return s;
}

TEST(CastToNewBuffer, Table) {
  TORVVariant v;
  // Text to numbers: a point is the separator whatever the process's setting.
  platform::FormatSettings saved = platform::ProcessFormatSettings();
  platform::ProcessFormatSettings().DecimalSeparator = ',';
  v.SetDataAsAnsiString("1.5");
  EXPECT_EQ(v.GetDataAsDouble(), 1.5);
  TORVVariant half;
  half.SetDataAsDouble(1.5);
  EXPECT_EQ(half.GetDataAsAnsiString(), "1,5");  // texts of numbers use the process's separator
  platform::ProcessFormatSettings() = saved;
  EXPECT_EQ(half.GetDataAsAnsiString(), "1.5");

  v.SetDataAsAnsiString("letters");
  ExpectCode(30051, [&] { (void)v.GetDataAsSignedInt32(); },
             "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
  TORVVariant l;
  l.SetDataAsBoolean(true);
  ExpectCode(30052, [&] { (void)l.GetDataAsORVDate(); }, "Cannot cast from 'LOGICAL' to 'DATE' - Native error: 30052");
  EXPECT_EQ(l.GetDataAsAnsiString(), "True");
  l.SetDataAsBoolean(false);
  EXPECT_EQ(l.GetDataAsAnsiString(), "False");
  EXPECT_EQ(l.GetDataAsSignedInt32(), 0);

  for (const char* t : {"true", "TRUE", "True", "1"}) {
    TORVVariant b;
    b.SetDataAsAnsiString(t);
    EXPECT_TRUE(b.GetDataAsBoolean()) << t;
  }
  for (const char* t : {"yes", "0", "2", " true"}) {
    TORVVariant b;
    b.SetDataAsAnsiString(t);
    EXPECT_FALSE(b.GetDataAsBoolean()) << t;
  }

  // Integer targets take the low bits; texts parse as 32-bit except for LARGEINT.
  TORVVariant big;
  big.SetDataAsSignedInt32(300);
  EXPECT_EQ(big.GetDataAsUnsignedInt8(), 44);
  big.Clear(bftUnknown);
  big.SetDataAsAnsiString("3000000000");
  ExpectCode(30051, [&] { (void)big.GetDataAsUnsignedInt32(); });
  EXPECT_EQ(big.GetDataAsSignedInt64(), 3000000000LL);
  TORVVariant f;
  f.SetDataAsDouble(-7.9);
  EXPECT_EQ(f.GetDataAsSignedInt32(), -7);
  f.SetDataAsDouble(1e30);
  ExpectCode(30051, [&] { (void)f.GetDataAsSignedInt64(); });
  TORVVariant u;
  u.SetDataAsUnsignedInt32(4000000000u);
  EXPECT_EQ(u.GetDataAsAnsiString(), "4000000000");
  EXPECT_EQ(u.GetDataAsSignedInt64(), 4000000000LL);

  // Date-times and floats.
  TORVVariant dt;
  dt.SetDataAsORVDateTime({693595, 43200000});
  EXPECT_EQ(dt.GetDataAsDouble(), 693595.5);
  EXPECT_EQ(dt.GetDataAsSingle(), 693595.5f);
  EXPECT_EQ(dt.GetDataAsExtended(), 693595.5L);
  EXPECT_EQ(dt.GetDataAsCurrency(), 693595.5);
  TORVVariant back(bftDateTime);
  back.SetDataAsDouble(693595.5);
  EXPECT_EQ(back.GetDataAsORVDateTime(), (TORVDateTime{693595, 43200000}));
  dt.SetDataAsORVDateTime({DATE_IS_NULL, 0});
  EXPECT_EQ(dt.GetDataAsAnsiString(), "");
  TORVVariant t;
  t.SetDataAsORVTime(0);
  EXPECT_EQ(t.GetDataAsAnsiString(), "");
  t.SetDataAsORVTime(3723004);
  EXPECT_EQ(t.GetDataAsAnsiString(), "01:02:03.004");
  EXPECT_EQ(t.GetDataAsORVDateTime(), (TORVDateTime{DATE_IS_NULL, 3723004}));
  TORVVariant day;
  day.SetDataAsORVDate(738900);
  EXPECT_EQ(day.GetDataAsAnsiString(), "2024-01-15");
  EXPECT_EQ(day.GetDataAsORVDateTime(), (TORVDateTime{738900, 0}));
  EXPECT_EQ(day.GetDataAsORVTime(), 738900);
  TORVVariant text_date;
  text_date.SetDataAsAnsiString("2024-01-15 06:00:00");
  EXPECT_EQ(text_date.GetDataAsORVDate(), 738900);
  EXPECT_EQ(text_date.GetDataAsORVDateTime(), (TORVDateTime{738900, 21600000}));
  text_date.SetDataAsAnsiString("2024-02-30");
  ExpectCode(30051, [&] { (void)text_date.GetDataAsORVDate(); });
  TORVVariant wide_date;
  wide_date.SetDataAsWideString(u"15.1.2024");  // not the engine's date order
  ExpectCode(30051, [&] { (void)wide_date.GetDataAsORVDate(); });
  wide_date.SetDataAsWideString(u"2024.1.15");
  EXPECT_EQ(wide_date.GetDataAsORVDate(), 738900);

  // Currency texts are rounded to four decimals.
  TORVVariant cur;
  cur.SetDataAsCurrency(1.23456);
  EXPECT_EQ(cur.GetDataAsAnsiString(), "1.2346");
  cur.SetDataAsAnsiString("2.34567");
  EXPECT_EQ(cur.GetDataAsCurrency(), 2.3457);

  // A float text has 15 significant digits.
  TORVVariant third;
  third.SetDataAsDouble(1.0 / 3);
  EXPECT_EQ(third.GetDataAsAnsiString(), "0.333333333333333");
  third.SetDataAsSingle(0.1f);
  EXPECT_EQ(third.GetDataAsAnsiString(), "0.100000001490116");

  // CLOBs: the bytes with a terminator; their integers parse as 32-bit.
  const char clob[] = {'1', '2'};
  EXPECT_EQ(Text(bftClob, clob, 2), "12");
  int32_t size = 0;
  ExpectCode(30051, [&] {
    const char long_clob[] = {'5', '0', '0', '0', '0', '0', '0', '0', '0', '0'};
    MemoryManager().FreeMem(CastToNewBuffer(long_clob, 10, bftClob, bftSignedInt64, size));
  });
  // Wide text becomes Windows-1252 with "?" where it has no character.
  const char16_t wide[] = u"\u00B5\u0436";
  EXPECT_EQ(Text(bftWideVarchar, wide), "\xB5?");

  for (TORVBaseFieldType target : {bftClob, bftWideClob, bftBytes, bftVarBytes, bftUnknown, bftBFile})
    ExpectCode(30052, [&] { MemoryManager().FreeMem(CastToNewBuffer("a", 2, bftVarchar, target, size)); });
  for (TORVBaseFieldType source : {bftBlob, bftBytes, bftVarBytes, bftUnknown})
    ExpectCode(30052, [&] { MemoryManager().FreeMem(CastToNewBuffer("abc", 4, source, bftVarchar, size)); });
  // Text converted to a BLOB keeps its terminator.
  void* p = CastToNewBuffer("ab", 3, bftVarchar, bftBlob, size);
  EXPECT_EQ(size, 3);
  MemoryManager().FreeMem(p);
}

TEST(GetCommonDataType, Rules) {
  struct Case {
    TORVBaseFieldType a, b;
    bool for_compare;
    TORVBaseFieldType common;
  };
  const Case cases[] = {
      {bftSignedInt8, bftUnsignedInt16, false, bftSignedInt32},
      {bftUnsignedInt16, bftSignedInt8, false, bftSignedInt32},
      {bftSignedInt16, bftUnsignedInt8, false, bftSignedInt16},
      {bftSignedInt32, bftUnsignedInt16, false, bftSignedInt32},
      {bftSignedInt8, bftUnsignedInt32, false, bftSignedInt64},
      {bftUnsignedInt8, bftUnsignedInt32, false, bftUnsignedInt32},
      {bftSingle, bftCurrency, false, bftCurrency},
      {bftCurrency, bftSingle, false, bftSingle},
      {bftCurrency, bftSignedInt64, false, bftCurrency},
      {bftSingle, bftExtended, false, bftExtended},
      {bftSignedInt64, bftSingle, false, bftSingle},
      {bftVarchar, bftDate, false, bftVarchar},
      {bftVarchar, bftDate, true, bftDate},
      {bftDate, bftTime, false, bftDateTime},
      {bftTime, bftTime, false, bftTime},
      {bftDate, bftSignedInt32, false, bftDate},
      {bftDate, bftCurrency, false, bftUnknown},
      {bftLogical, bftCurrency, false, bftUnknown},
      {bftLogical, bftDate, false, bftUnknown},
      {bftLogical, bftSignedInt16, false, bftSignedInt16},
      {bftLogical, bftVarchar, false, bftVarchar},
      {bftBlob, bftBlob, false, bftUnknown},
      {bftBlob, bftVarchar, false, bftUnknown},
      {bftChar, bftWideChar, false, bftWideChar},
      {bftChar, bftVarchar, false, bftVarchar},
      {bftWideChar, bftVarchar, false, bftWideChar},
      {bftVarchar, bftWideClob, false, bftWideVarchar},
      {bftChar, bftWideClob, false, bftWideChar},
      {bftClob, bftWideVarchar, false, bftWideVarchar},
      {bftClob, bftClob, false, bftChar},
      {bftClob, bftWideClob, false, bftWideChar},
      {bftClob, bftSignedInt32, false, bftUnknown},
      {bftVarchar, bftCurrency, false, bftVarchar},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetCommonDataType(c.a, c.b, c.for_compare), c.common) << BftToStr(c.a) << " " << BftToStr(c.b);
  EXPECT_EQ(GetCommonDataType(aftAutoInc, aftSmallint, false), aftAutoInc);
  EXPECT_EQ(GetCommonDataType(aftSmallint, aftWord, false), aftInteger);
  EXPECT_EQ(GetCommonDataType(aftDate, aftTime, false), aftDateTime);
}

// ---- Arithmetic ---------------------------------------------------------------------------

TEST(Arithmetic, OperatorsAndNullRules) {
  TORVVariant a, b;
  a.SetDataAsSignedInt8(100);
  b.SetDataAsSignedInt8(100);
  a.Add(b);
  EXPECT_EQ(a.DataType(), bftSignedInt8);
  EXPECT_EQ(a.GetDataAsSignedInt8(), -56);

  TORVVariant seven, two, zero;
  seven.SetDataAsSignedInt32(7);
  two.SetDataAsSignedInt32(2);
  zero.SetDataAsSignedInt32(0);
  seven.Division(two);
  EXPECT_EQ(seven.GetDataAsSignedInt32(), 3);
  ExpectCode(30128, [&] { seven.Division(zero); }, "Division error: Division by zero - Native error: 30128");
  TORVVariant x;
  x.SetDataAsDouble(1);
  TORVVariant fzero;
  fzero.SetDataAsDouble(0);
  ExpectCode(30128, [&] { x.Division(fzero); });
  TORVVariant mn, minus1;
  mn.SetDataAsSignedInt64(std::numeric_limits<int64_t>::min());
  minus1.SetDataAsSignedInt64(-1);
  ExpectCode(30128, [&] { mn.Division(minus1); });

  TORVVariant d1, d2;
  d1.SetDataAsORVDateTime({10, 86000000});
  d2.SetDataAsORVDateTime({1, 1000000});
  d1.Add(d2);
  EXPECT_EQ(d1.GetDataAsORVDateTime(), (TORVDateTime{12, 600000}));
  d1.SetDataAsORVDateTime({10, 1000});
  d2.SetDataAsORVDateTime({0, 2000});
  d1.Sub(d2);
  EXPECT_EQ(d1.GetDataAsORVDateTime(), (TORVDateTime{9, 86399000}));

  // Mixed types meet in the common type.
  TORVVariant i16, u16;
  i16.SetDataAsSignedInt16(-1);
  u16.SetDataAsUnsignedInt16(65535);
  i16.Add(u16);
  EXPECT_EQ(i16.DataType(), bftSignedInt32);
  EXPECT_EQ(i16.GetDataAsSignedInt32(), 65534);
  TORVVariant s, n;
  s.SetDataAsAnsiString("n=");
  n.SetDataAsSignedInt32(5);
  s.Add(n);
  EXPECT_EQ(s.GetDataAsAnsiString(), "n=5");
  ExpectCode(30125, [&] { s.Sub(n); }, "Not numeric argument in numeric operator '-' - Native error: 30125");
  TORVVariant date, days;
  date.SetDataAsORVDate(738900);
  days.SetDataAsSignedInt32(10);
  date.Add(days);
  EXPECT_EQ(date.DataType(), bftDate);
  EXPECT_EQ(date.GetDataAsORVDate(), 738910);
  TORVVariant logical, other;
  logical.SetDataAsBoolean(false);
  other.SetDataAsBoolean(true);
  logical.Mul(other);
  EXPECT_TRUE(logical.GetDataAsBoolean());
  TORVVariant cur, flt;
  cur.SetDataAsCurrency(2);
  flt.SetDataAsDouble(0.5);
  cur.Mul(flt);
  EXPECT_EQ(cur.DataType(), bftDouble);
  EXPECT_EQ(cur.GetDataAsDouble(), 1.0);
  TORVVariant blob, one;
  blob.SetData("ab", 2, bftBlob, true);
  one.SetDataAsSignedInt32(1);
  ExpectCode(30052, [&] { blob.Add(one); });

  // NULL rules.
  TORVVariant null_text(bftVarchar), five, null_int(bftSignedInt32), text;
  five.SetDataAsSignedInt32(5);
  null_text.Add(five);
  EXPECT_EQ(null_text.DataType(), bftSignedInt32);
  EXPECT_EQ(null_text.GetDataAsSignedInt32(), 5);
  text.SetDataAsAnsiString("ab");
  text.Add(null_int);
  EXPECT_EQ(text.GetDataAsAnsiString(), "ab");
  five.Add(null_int);
  EXPECT_TRUE(five.IsNull());
  TORVVariant m;
  m.SetDataAsSignedInt32(3);
  m.Mul(null_int);
  EXPECT_TRUE(m.IsNull());
  null_int.Sub(one);
  EXPECT_TRUE(null_int.IsNull());
}

TEST(Arithmetic, InvertValue) {
  TORVVariant v;
  v.SetDataAsUnsignedInt8(5);
  v.InvertValue();
  EXPECT_EQ(v.DataType(), bftUnsignedInt8);
  EXPECT_EQ(v.GetDataAsUnsignedInt8(), 251);
  v.Clear(bftUnknown);
  v.SetDataAsSignedInt8(-128);
  v.InvertValue();
  EXPECT_EQ(v.GetDataAsSignedInt8(), -128);
  v.Clear(bftUnknown);
  v.SetDataAsSignedInt32(std::numeric_limits<int32_t>::min());
  EXPECT_THROW(v.InvertValue(), std::overflow_error);
  v.Clear(bftUnknown);
  v.SetDataAsExtended(2.5L);
  v.InvertValue();
  EXPECT_EQ(v.GetDataAsExtended(), -2.5L);
  v.Clear(bftUnknown);
  v.SetDataAsBoolean(true);
  v.InvertValue();
  EXPECT_FALSE(v.GetDataAsBoolean());
  v.Clear(bftUnknown);
  v.SetDataAsORVTime(5);
  ExpectCode(30123, [&] { v.InvertValue(); }, "Cannot invert value with not numeric type 'TIME' - Native error: 30123");
  TORVVariant n(bftDouble);
  n.InvertValue();
  EXPECT_TRUE(n.IsNull());
}

// ---- Comparison ---------------------------------------------------------------------------

TEST(Compare, Cases) {
  TORVVariant f, t;
  f.SetDataAsBoolean(false);
  t.SetDataAsBoolean(true);
  EXPECT_EQ(f.Compare(t, true, false, false), cmprLower);
  TORVVariant six, three;
  six.SetDataAsAnsiString("abcdef");
  three.SetDataAsAnsiString("abc");
  EXPECT_EQ(six.Compare(three, true, false, true), cmprEqual);
  EXPECT_EQ(six.Compare(three, true, false, false), cmprGreater);
  TORVVariant upper;
  upper.SetDataAsAnsiString("ABCDEF");
  EXPECT_EQ(upper.Compare(six, true, true, false), cmprEqual);
  EXPECT_NE(upper.Compare(six, true, false, false), cmprEqual);
  TORVVariant null_v(bftSignedInt32), null_w(bftVarchar), i;
  i.SetDataAsSignedInt32(1);
  EXPECT_EQ(null_v.Compare(i, true, false, false), cmprLeftNull);
  EXPECT_EQ(i.Compare(null_v, true, false, false), cmprRightNull);
  EXPECT_EQ(null_v.Compare(null_w, true, false, false), cmprBothNull);
  EXPECT_EQ(null_v.Compare(i, false, false, false), cmprLower);
  EXPECT_EQ(null_v.Compare(null_w, false, false, false), cmprEqual);
  EXPECT_EQ(CompareValueBuffersForOrder(nullptr, i.pData(), bftSignedInt32, bftSignedInt32, true, false, -1, false, 0x400),
            -1);
  EXPECT_EQ(CompareValueBuffersForOrder(nullptr, nullptr, bftSignedInt32, bftDate, true, true, -1, false, 0x400), 0);
  // Text against a number compares as text; text against a date as a date.
  TORVVariant ten, nine;
  ten.SetDataAsAnsiString("10");
  nine.SetDataAsSignedInt32(9);
  EXPECT_EQ(ten.Compare(nine, true, false, false), cmprLower);
  TORVVariant text_date, date;
  text_date.SetDataAsAnsiString("2024-01-15");
  date.SetDataAsORVDate(738899);
  EXPECT_EQ(text_date.Compare(date, true, false, false), cmprGreater);
  TORVVariant clob1, clob2;
  clob1.SetData("abc", 3, bftClob, true);
  clob2.SetData("abd", 3, bftClob, true);
  EXPECT_EQ(clob1.Compare(clob2, true, false, false), cmprLower);
  TORVVariant blob;
  blob.SetData("x", 1, bftBlob, true);
  ExpectCode(30044, [&] { (void)blob.Compare(i, true, false, false); },
             "Cannot compare Incompatible DataTypes: 'BLOB' and 'INTEGER' - Native error: 30044");
  ExpectCode(30047, [&] { (void)blob.Compare(blob, true, false, false); });
  ExpectCode(30140, [&] {
    (void)CompareValueBuffers(nullptr, i.pData(), bftSignedInt32, bftSignedInt32, false, false, -1, false, 0x400);
  });
  // Wide text at an odd address inside a key compares like aligned text.
  uint8_t key[9] = {0, 'a', 0, 'b', 0, 0, 0};
  const char16_t ab[] = u"ab";
  EXPECT_EQ(CompareValueBuffers(key + 1, ab, bftWideVarchar, bftWideVarchar, false, false, -1, false, 0x400), cmprEqual);
}

// Random values of one type, NULLs included.
struct RandomValues {
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<bool> nulls;
};

RandomValues MakeValues(TORVBaseFieldType type, std::mt19937_64& rng, int count) {
  RandomValues r;
  const std::string alphabet = "aAbB \xE4\xC4\xDF-_.1209zZ\xB5";
  const std::u16string walphabet = u"aAbB \u00E4\u00C4\u00DF-_.1209zZ\u00B5\u0436\u4E2D";
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> b;
    r.nulls.push_back(rng() % 10 == 0);
    switch (type) {
      case bftChar:
      case bftVarchar:
      case bftBytes: {
        const size_t n = rng() % 6;
        for (size_t k = 0; k < n; ++k) b.push_back(static_cast<uint8_t>(alphabet[rng() % alphabet.size()]));
        b.push_back(0);
        break;
      }
      case bftWideChar:
      case bftWideVarchar: {
        const size_t n = rng() % 6;
        for (size_t k = 0; k < n; ++k) {
          const char16_t c = walphabet[rng() % walphabet.size()];
          b.push_back(static_cast<uint8_t>(c));
          b.push_back(static_cast<uint8_t>(c >> 8));
        }
        b.push_back(0);
        b.push_back(0);
        break;
      }
      default: {
        // Raw random bytes of the type's size: every bit pattern, NaNs and infinities too,
        // with small values often so that equal values occur.
        const int32_t size = type == bftDateTime ? 8 : GetDataSizeInMemory(type, 0);
        for (int32_t k = 0; k < size; ++k) b.push_back(static_cast<uint8_t>(rng()));
        if (rng() % 3 == 0) std::fill(b.begin() + 1, b.end(), 0);
        break;
      }
    }
    r.buffers.push_back(std::move(b));
  }
  return r;
}

TEST(Compare, IsATotalPreorderForEveryType) {
  std::mt19937_64 rng(99);
  const TORVBaseFieldType types[] = {bftChar,      bftWideChar,      bftVarchar,       bftWideVarchar, bftSignedInt8,
                                     bftSignedInt16, bftSignedInt32, bftSignedInt64,   bftUnsignedInt8, bftUnsignedInt16,
                                     bftUnsignedInt32, bftSingle,     bftDouble,        bftExtended,    bftDate,
                                     bftTime,      bftDateTime,      bftLogical,       bftCurrency,    bftBytes};
  for (TORVBaseFieldType type : types) {
    for (bool ignore_case : {false, true}) {
      const RandomValues v = MakeValues(type, rng, 40);
      const int n = static_cast<int>(v.buffers.size());
      std::vector<std::vector<int>> c(static_cast<size_t>(n), std::vector<int>(static_cast<size_t>(n)));
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          c[static_cast<size_t>(i)][static_cast<size_t>(j)] = CompareValueBuffersForOrder(
              v.buffers[static_cast<size_t>(i)].data(), v.buffers[static_cast<size_t>(j)].data(), type, type,
              v.nulls[static_cast<size_t>(i)], v.nulls[static_cast<size_t>(j)], -1, ignore_case, 0x400);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(c[static_cast<size_t>(i)][static_cast<size_t>(i)], 0) << BftToStr(type);
        for (int j = 0; j < n; ++j) {
          ASSERT_EQ(c[static_cast<size_t>(i)][static_cast<size_t>(j)], -c[static_cast<size_t>(j)][static_cast<size_t>(i)])
              << BftToStr(type);
          for (int k = 0; k < n; ++k)
            if (c[static_cast<size_t>(i)][static_cast<size_t>(j)] <= 0 && c[static_cast<size_t>(j)][static_cast<size_t>(k)] <= 0) {
              ASSERT_LE(c[static_cast<size_t>(i)][static_cast<size_t>(k)], 0) << BftToStr(type) << " " << i << j << k;
            }
        }
      }
    }
  }
}

}  // namespace
}  // namespace orv
