#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/base/number_parse.h"
#include "platform/data/binary_field.h"
#include "platform/data/blob_field.h"
#include "platform/data/date_time_field.h"
#include "platform/data/date_time_text.h"
#include "platform/data/numeric_field.h"
#include "platform/data/string_field.h"
#include "platform/data/tests/vector_dataset.h"

namespace platform::data {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::Column;
using testing::VectorDataSet;

// One column of every type the engine maps to.
std::vector<Column> AllTypes() {
  return {{"Str", ftString, 6},         {"Fixed", ftFixedChar, 4},  {"Wide", ftWideString, 5},
          {"Small", ftSmallint},        {"Int", ftInteger},         {"Large", ftLargeint},
          {"Word", ftWord},             {"Auto", ftAutoInc},        {"Float", ftFloat},
          {"Bool", ftBoolean},          {"Money", ftCurrency},      {"Day", ftDate},
          {"Clock", ftTime},            {"Stamp", ftDateTime},      {"SqlStamp", ftTimeStamp},
          {"Bytes", ftBytes, 4},        {"VarBytes", ftVarBytes, 4}, {"Blob", ftBlob},
          {"Picture", ftGraphic},       {"Memo", ftMemo},           {"FmtMemo", ftFmtMemo},
          {"WideMemo", ftWideMemo},     {"Guid", ftGuid, 38}};
}

class FieldTest : public ::testing::Test {
 protected:
  FieldTest() : ds(AllTypes()) {
    ds.Open();
    ds.Append();
  }
  TField* F(const char* name) { return ds.FieldByName(name); }
  // The native bytes of a field's value in the record.
  std::vector<uint8_t> Native(const char* name) {
    TField* f = F(name);
    std::vector<uint8_t> b(static_cast<size_t>(f->DataSize()));
    EXPECT_TRUE(f->GetData(b.data()));
    return b;
  }
  VectorDataSet ds;
};

TEST_F(FieldTest, DefaultFieldsHaveTheClassOfTheirType) {
  EXPECT_TRUE(ds.DefaultFields());
  EXPECT_EQ(ds.FieldCount(), static_cast<int>(AllTypes().size()));
  EXPECT_NE(dynamic_cast<TStringField*>(F("Fixed")), nullptr);
  EXPECT_TRUE(dynamic_cast<TStringField*>(F("Fixed"))->FixedChar());
  EXPECT_NE(dynamic_cast<TAutoIncField*>(F("Auto")), nullptr);
  EXPECT_NE(dynamic_cast<TCurrencyField*>(F("Money")), nullptr);
  EXPECT_NE(dynamic_cast<TSQLTimeStampField*>(F("SqlStamp")), nullptr);
  EXPECT_NE(dynamic_cast<TGraphicField*>(F("Picture")), nullptr);
  EXPECT_NE(dynamic_cast<TMemoField*>(F("FmtMemo")), nullptr);
  EXPECT_NE(dynamic_cast<TWideMemoField*>(F("WideMemo")), nullptr);
  EXPECT_NE(dynamic_cast<TGuidField*>(F("Guid")), nullptr);
  EXPECT_EQ(F("Guid")->DataSize(), 39);
  EXPECT_EQ(F("Wide")->DataSize(), 12);
  EXPECT_EQ(F("VarBytes")->DataSize(), 6);
  EXPECT_EQ(F("SqlStamp")->DataSize(), 16);
  EXPECT_EQ(ds.Fields().FieldByNumber(2), F("Fixed"));
  EXPECT_EQ(ds.Fields().FieldByNumber(0), nullptr);
  for (int i = 0; i < ds.FieldCount(); ++i) EXPECT_TRUE(ds.Fields()[i]->IsNull()) << ds.Fields()[i]->FieldName();
}

struct TextCase {
  const char* field;
  const char* input;
  const char* as_string;
  double as_float;
};

class FieldTextTest : public FieldTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(FieldTextTest, TextInTypedValueOut) {
  const TextCase c = GetParam();
  F(c.field)->SetAsString(c.input);
  EXPECT_EQ(F(c.field)->AsString(), c.as_string);
  EXPECT_FALSE(F(c.field)->IsNull());
  if (!std::isnan(c.as_float)) {
    EXPECT_DOUBLE_EQ(F(c.field)->AsFloat(), c.as_float);
  }
}

constexpr double kNoFloat = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Types, FieldTextTest,
    ::testing::Values(TextCase{"Str", "abc", "abc", kNoFloat}, TextCase{"Str", "abcdefgh", "abcdef", kNoFloat},
                      TextCase{"Str", "12.5", "12.5", 12.5}, TextCase{"Str", "µm²°", "µm²°", kNoFloat},
                      TextCase{"Str", "€✓", "€?", kNoFloat}, TextCase{"Str", "€ and more", "€ and ", kNoFloat}, TextCase{"Wide", "✓€ab", "✓€ab", kNoFloat},
                      TextCase{"Wide", "abcdefg", "abcde", kNoFloat}, TextCase{"Small", "-32768", "-32768", -32768},
                      TextCase{"Int", " 42", "42", 42}, TextCase{"Large", "9007199254740993", "9007199254740993", 9007199254740992.0},
                      TextCase{"Word", "65535", "65535", 65535}, TextCase{"Float", "0.1", "0.1", 0.1},
                      TextCase{"Float", "1e300", "1E300", 1e300}, TextCase{"Money", "12.345", "12.345", 12.345},
                      TextCase{"Bool", "t", "True", kNoFloat}, TextCase{"Bool", "FALSE", "False", kNoFloat},
                      TextCase{"Day", "2024-06-13", "2024-06-13", 45456},
                      TextCase{"Clock", "12:00", "12:00:00", 0.5},
                      TextCase{"Stamp", "2024-06-13 06:00:00", "2024-06-13 06:00:00", 45456.25},
                      TextCase{"Stamp", "2024-06-13", "2024-06-13", 45456},
                      TextCase{"SqlStamp", "1999-12-31 23:59:59", "1999-12-31 23:59:59", kNoFloat},
                      TextCase{"Memo", "long text µ", "long text µ", kNoFloat},
                      TextCase{"WideMemo", "wide ✓", "wide ✓", kNoFloat},
                      TextCase{"Guid", "{00112233-4455-6677-8899-AABBCCDDEEFF}",
                               "{00112233-4455-6677-8899-AABBCCDDEEFF}", kNoFloat}));

struct BadTextCase {
  const char* field;
  const char* input;
  const char* message;
};

class FieldBadTextTest : public FieldTest, public ::testing::WithParamInterface<BadTextCase> {};

TEST_P(FieldBadTextTest, RefusedWithTheFieldsNameAndTheValueKept) {
  const BadTextCase c = GetParam();
  bool thrown = false;
  try {
    F(c.field)->SetAsString(c.input);
  } catch (const std::exception& e) {
    thrown = true;
    EXPECT_THAT(e.what(), HasSubstr(c.message));
  }
  EXPECT_TRUE(thrown);
  EXPECT_TRUE(F(c.field)->IsNull());
}

INSTANTIATE_TEST_SUITE_P(
    Types, FieldBadTextTest,
    ::testing::Values(BadTextCase{"Int", "abc", "'abc' is not a valid integer value for field 'Int'"},
                      BadTextCase{"Int", "4294967296", "4294967296 is not a valid value for field 'Int'"},
                      BadTextCase{"Small", "40000", "The allowed range is -32768 to 32767"},
                      BadTextCase{"Word", "-1", "-1 is not a valid value for field 'Word'"},
                      BadTextCase{"Float", "1,5x", "is not a valid floating point value for field 'Float'"},
                      BadTextCase{"Bool", "maybe", "'maybe' is not a valid boolean value for field 'Bool'"},
                      BadTextCase{"Day", "2024-02-30", "'2024-02-30' is not a valid date"},
                      BadTextCase{"Clock", "25:00", "is not a valid time"},
                      BadTextCase{"Guid", "{not-a-guid}", "is not a valid GUID value"}));

TEST_F(FieldTest, NativeDateAndTimeFormsAreThePlatformOnes) {
  const TDateTime day = EncodeDate(2024, 6, 13);
  F("Day")->SetAsDateTime(day + 0.75);  // a date field keeps the day only
  int32_t days = 0;
  std::memcpy(&days, Native("Day").data(), 4);
  EXPECT_EQ(days, 693594 + 45456);
  EXPECT_EQ(F("Day")->AsDateTime(), day);

  F("Clock")->SetAsDateTime(EncodeTime(12, 0, 0, 0));
  int32_t ms = 0;
  std::memcpy(&ms, Native("Clock").data(), 4);
  EXPECT_EQ(ms, 43200000);
  F("Clock")->SetAsDateTime(EncodeTime(23, 59, 59, 999) + 0.6 / kMSecsPerDay);
  std::memcpy(&ms, Native("Clock").data(), 4);
  EXPECT_EQ(ms, 86399999);  // never the next midnight

  const TDateTime stamp = day + EncodeTime(6, 30, 15, 250);
  F("Stamp")->SetAsDateTime(stamp);
  double native_ms = 0;
  std::memcpy(&native_ms, Native("Stamp").data(), 8);
  EXPECT_EQ(native_ms, (693594.0 + 45456) * 86400000.0 + 23415250.0);
  EXPECT_EQ(F("Stamp")->AsDateTime(), stamp);  // whole milliseconds survive exactly
  F("Stamp")->SetAsDateTime(-1.25);            // 1899-12-29 06:00 round trips too
  EXPECT_DOUBLE_EQ(F("Stamp")->AsDateTime(), -1.25);

  auto* ts = dynamic_cast<TSQLTimeStampField*>(F("SqlStamp"));
  ts->SetAsDateTime(stamp);
  EXPECT_EQ(ts->AsSQLTimeStamp(), (TSQLTimeStamp{2024, 6, 13, 6, 30, 15, 250}));
  EXPECT_EQ(ts->AsDateTime(), stamp);
  EXPECT_THROW(ts->SetAsSQLTimeStamp(TSQLTimeStamp{2024, 13, 1, 0, 0, 0, 0}), EConvertError);
  EXPECT_EQ(ts->AsDateTime(), stamp);
}

TEST_F(FieldTest, StringFieldsStoreCodePageBytesWithinTheirSize) {
  F("Str")->SetAsString("µm²");
  EXPECT_THAT(Native("Str"), ElementsAre(0xB5, 'm', 0xB2, 0, 0, 0, 0));
  EXPECT_EQ(F("Str")->AsAnsiString(), "\xB5m\xB2");
  EXPECT_EQ(F("Str")->AsVariant().Type(), VarType::AnsiString);
  F("Wide")->SetAsWideString(u"\u2713x");
  EXPECT_THAT(Native("Wide"), ElementsAre(0x13, 0x27, 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0));
  // a record whose text fills the buffer without a terminator still reads within the field
  std::vector<uint8_t> full(7, 'z');
  F("Str")->SetData(full.data());
  EXPECT_EQ(F("Str")->AsString(), "zzzzzzz");
}

TEST_F(FieldTest, AccessorsTheTypeDoesNotOfferAreRefused) {
  F("Int")->SetAsInteger(1);
  EXPECT_THAT([&] { F("Int")->AsBoolean(); },
              ::testing::ThrowsMessage<EDatabaseError>("Cannot access field 'Int' as type Boolean"));
  EXPECT_THAT([&] { F("Bool")->AsDateTime(); },
              ::testing::ThrowsMessage<EDatabaseError>("Cannot access field 'Bool' as type DateTime"));
  EXPECT_THROW(F("Day")->AsBytes(), EDatabaseError);
}

TEST_F(FieldTest, ClearVariantsAndAssign) {
  F("Int")->SetAsVariant(Variant("17"));
  EXPECT_EQ(F("Int")->AsInteger(), 17);
  F("Int")->SetAsVariant(Variant::Null());
  EXPECT_TRUE(F("Int")->IsNull());
  EXPECT_TRUE(F("Int")->AsVariant().IsNull());
  F("Float")->SetAsFloat(2.5);
  F("Int")->Assign(*F("Float"));
  EXPECT_EQ(F("Int")->AsInteger(), 2);  // half to even
  F("Money")->SetAsFloat(1.005);
  EXPECT_EQ(F("Money")->AsVariant().Type(), VarType::Currency);
  EXPECT_EQ(F("Money")->DisplayText(), "1.00");  // 1.005 is 1.00499999999999989... in binary
  F("Large")->SetAsLargeInt(int64_t{1} << 40);
  EXPECT_THROW(F("Large")->AsInteger(), EDatabaseError);
  F("Str")->Clear();
  EXPECT_TRUE(F("Str")->IsNull());
}

TEST_F(FieldTest, ValidateSeesTheNewValueAndMayRefuseIt) {
  F("Int")->SetAsInteger(5);
  std::vector<int> seen;
  F("Int")->OnValidate = [&](TField& f) {
    seen.push_back(f.AsInteger());
    if (f.AsInteger() < 0) throw EDatabaseError("negative");
  };
  F("Int")->SetAsInteger(7);
  EXPECT_THROW(F("Int")->SetAsInteger(-1), EDatabaseError);
  EXPECT_EQ(F("Int")->AsInteger(), 7);
  EXPECT_THAT(seen, ElementsAre(7, -1));
}

TEST_F(FieldTest, ChangeEventsTextEventsAndReadOnlyFields) {
  int changes = 0;
  F("Int")->OnChange = [&](TField&) { ++changes; };
  F("Int")->SetAsInteger(3);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(ds.Modified());
  F("Int")->OnGetText = [](TField& f, std::string& text, bool display) {
    text = display ? "#" + f.AsString() : f.AsString();
  };
  EXPECT_EQ(F("Int")->DisplayText(), "#3");
  EXPECT_EQ(F("Int")->Text(), "3");
  F("Int")->SetReadOnly(true);
  EXPECT_THAT([&] { F("Int")->SetAsInteger(4); },
              ::testing::ThrowsMessage<EDatabaseError>("Field 'Int' cannot be modified"));
  ds.Cancel();
  EXPECT_THAT([&] { F("Str")->SetAsString("x"); },
              ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Dataset not in edit or insert mode")));
}

TEST_F(FieldTest, ByteFieldsRefuseOversizedValuesAndDistrustStoredLengths) {
  F("Bytes")->SetAsBytes({1, 2});
  EXPECT_THAT(F("Bytes")->AsBytes(), ElementsAre(1, 2, 0, 0));
  F("VarBytes")->SetAsBytes({9, 8, 7});
  EXPECT_THAT(F("VarBytes")->AsBytes(), ElementsAre(9, 8, 7));
  EXPECT_THAT(Native("VarBytes"), ElementsAre(3, 0, 9, 8, 7, 0));
  EXPECT_THROW(F("Bytes")->SetAsBytes({1, 2, 3, 4, 5}), EDatabaseError);
  EXPECT_THAT(F("Bytes")->AsBytes(), ElementsAre(1, 2, 0, 0));
  std::vector<uint8_t> corrupt = {0xFF, 0xFF, 1, 2, 3, 4};
  F("VarBytes")->SetData(corrupt.data());
  EXPECT_THAT(F("VarBytes")->AsBytes(), ElementsAre(1, 2, 3, 4));
  EXPECT_EQ(F("Bytes")->DisplayText(), "(Bytes)");
}

TEST_F(FieldTest, BlobFieldsLoadAndSaveThroughStreams) {
  auto* blob = dynamic_cast<TBlobField*>(F("Blob"));
  std::vector<uint8_t> data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  TMemoryStream in(data);
  in.SetPosition(500);  // loading takes the whole stream, wherever it stands
  EXPECT_EQ(blob->DisplayText(), "(blob)");
  blob->LoadFromStream(in);
  EXPECT_TRUE(blob->Modified());
  EXPECT_EQ(blob->BlobSize(), 70000);
  EXPECT_EQ(blob->DisplayText(), "(BLOB)");
  F("Int")->SetAsInteger(1);
  ds.Post();
  EXPECT_FALSE(blob->Modified());

  TMemoryStream out;
  out.WriteBuffer("xy", 2);
  blob->SaveToStream(out);
  ASSERT_EQ(out.GetSize(), 70002);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.Bytes().begin() + 2));

  // a write stream starts empty; the stored value changes only with the post
  ds.Edit();
  {
    std::unique_ptr<TStream> s = ds.CreateBlobStream(blob, bmWrite);
    s->WriteBuffer("new", 3);
  }
  EXPECT_EQ(blob->AsString(), "new");
  ds.Cancel();
  EXPECT_EQ(blob->BlobSize(), 70000);
  EXPECT_THAT([&] { ds.CreateBlobStream(blob, bmWrite); },
              ::testing::ThrowsMessage<EDatabaseError>(HasSubstr("Dataset not in edit or insert mode")));

  ds.Edit();
  blob->Clear();
  EXPECT_TRUE(blob->IsNull());
  ds.Post();
  EXPECT_TRUE(blob->IsNull());
}

TEST_F(FieldTest, TextBlobsConvertTheirCharacters) {
  F("Memo")->SetAsString("µ and ✓");
  EXPECT_EQ(F("Memo")->AsAnsiString(), "\xB5 and ?");
  EXPECT_EQ(F("Memo")->AsVariant().Type(), VarType::AnsiString);
  F("WideMemo")->SetAsString("µ✓");
  EXPECT_THAT(F("WideMemo")->AsBytes(), ElementsAre(0xB5, 0, 0x13, 0x27));
  EXPECT_EQ(F("WideMemo")->AsWideString(), u"µ✓");
  F("Blob")->Assign(*F("WideMemo"));  // BLOB to BLOB copies the bytes unchanged
  EXPECT_THAT(F("Blob")->AsBytes(), ElementsAre(0xB5, 0, 0x13, 0x27));
  F("Memo")->Assign(*F("Str"));
  EXPECT_TRUE(F("Memo")->IsNull());
  F("Memo")->SetAsString("");
  EXPECT_TRUE(F("Memo")->IsNull());
  EXPECT_EQ(F("Memo")->DisplayText(), "(memo)");
}

TEST_F(FieldTest, GraphicFieldsWriteAndSkipTheirHeader) {
  auto* pic = dynamic_cast<TBlobField*>(F("Picture"));
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 1, 2, 3};
  pic->SetGraphicData(png);
  EXPECT_THAT(pic->AsBytes(), ElementsAre(1, 0, 0, 1, 7, 0, 0, 0, 0x89, 'P', 'N', 'G', 1, 2, 3));
  EXPECT_EQ(pic->GraphicData(), png);
  // a header whose size does not match is data, not a header
  const std::vector<uint8_t> odd = {1, 0, 0, 1, 9, 0, 0, 0, 5};
  pic->SetAsBytes(odd);
  EXPECT_EQ(pic->GraphicData(), odd);
  auto* plain = dynamic_cast<TBlobField*>(F("Blob"));
  plain->SetGraphicData(png);
  EXPECT_EQ(plain->AsBytes(), png);
}

TEST(DateTimeTextTest, FormatsAndReadsWithTheProcessSettings) {
  DateTimeTextSettings& s = ProcessDateTimeTextSettings();
  const DateTimeTextSettings saved = s;
  const TDateTime dt = EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 3, 42);
  EXPECT_EQ(DateTimeToStr(dt), "2024-03-07 09:05:03");
  EXPECT_EQ(FormatDateTime("d.m.yy h:n:s.zzz 'at' dd", dt), "7.3.24 9:5:3.042 at 07");
  s.ShortDateFormat = "dd.mm.yyyy";
  EXPECT_EQ(DateToStr(dt), "07.03.2024");
  TDateTime back = 0;
  EXPECT_TRUE(TryStrToDateTime("07.03.2024 09:05:03.042", back));
  EXPECT_EQ(back, dt);
  EXPECT_TRUE(TryStrToDate("7.3.24", back));
  EXPECT_EQ(back, EncodeDate(2024, 3, 7));
  EXPECT_TRUE(TryStrToDate("7.3.51", back));
  EXPECT_EQ(back, EncodeDate(1951, 3, 7));
  for (const char* bad : {"", "2024", "07.03.2024 xx", "32.01.2024", "07-03-2024 25:00", "1.2.3.4"})
    EXPECT_FALSE(TryStrToDateTime(bad, back)) << bad;
  s = saved;
}

}  // namespace
}  // namespace platform::data
