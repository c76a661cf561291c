#include "platform/data/variant.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/base/number_format.h"

namespace platform::data {
namespace {

struct ConvCase {
  const char* name;
  Variant value;
  const char* as_string;
  int64_t as_int;
  double as_double;
  bool as_bool;
};

class VariantConversionTest : public ::testing::TestWithParam<ConvCase> {};

TEST_P(VariantConversionTest, ConvertsToEveryScalarType) {
  const ConvCase& c = GetParam();
  EXPECT_EQ(c.value.AsString(), c.as_string);
  EXPECT_EQ(c.value.AsInt64(), c.as_int);
  EXPECT_DOUBLE_EQ(c.value.AsDouble(), c.as_double);
  EXPECT_EQ(c.value.AsBoolean(), c.as_bool);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VariantConversionTest,
    ::testing::Values(ConvCase{"Empty", Variant(), "", 0, 0, false}, ConvCase{"Int", Variant(42), "42", 42, 42, true},
                      ConvCase{"Int64", Variant(5000000000LL), "5000000000", 5000000000LL, 5e9, true},
                      ConvCase{"True", Variant(true), "True", -1, -1, true},
                      ConvCase{"DoubleHalfEven", Variant(2.5), "2.5", 2, 2.5, true},
                      ConvCase{"DoubleHalfEvenUp", Variant(3.5), "3.5", 4, 3.5, true},
                      ConvCase{"Currency", Variant::FromCurrency(12.34565), "12.3456", 12, 12.3456, true},
                      ConvCase{"TextNumber", Variant(" 17 "), " 17 ", 17, 17, true},
                      ConvCase{"TextFloat", Variant("1.5"), "1.5", 2, 1.5, true},
                      ConvCase{"Ansi", Variant::FromAnsi("12"), "12", 12, 12, true},
                      ConvCase{"Wide", Variant(u"0"), "0", 0, 0, false},
                      ConvCase{"Date", Variant::FromDate(45456.5), "2024-06-13 12:00:00", 45456, 45456.5, true}),
    [](const ::testing::TestParamInfo<ConvCase>& i) { return std::string(i.param.name); });

TEST(VariantTest, RefusedConversionsNameBothTypes) {
  EXPECT_TRUE(Variant("TRUE").AsBoolean());  // a Boolean word, but no number
  EXPECT_FALSE(Variant("false").AsBoolean());
  EXPECT_THROW(Variant("TRUE").AsInteger(), EVariantError);
  EXPECT_THROW(Variant("maybe").AsBoolean(), EVariantError);
  EXPECT_THAT([] { Variant::Null().AsString(); },
              ::testing::ThrowsMessage<EVariantError>("Could not convert variant of type (Null) into type (String)"));
  EXPECT_THAT([] { Variant("abc").AsInteger(); },
              ::testing::ThrowsMessage<EVariantError>("Could not convert variant of type (String) into type (Int64)"));
  EXPECT_THROW(Variant("12:xx").AsDateTime(), EVariantError);
  EXPECT_THROW(VarArrayOf({1, 2}).AsDouble(), EVariantError);
  EXPECT_THROW(Variant(5000000000LL).AsInteger(), EVariantError);
  EXPECT_THROW(Variant(1e300).AsInt64(), EVariantError);
  EXPECT_THROW(Variant(true).AsDateTime(), EVariantError);
  EXPECT_THROW(VarArrayOf({1})[1], EVariantError);
}

TEST(VariantTest, TextKindsConvertIntoEachOther) {
  const Variant utf8("µm² ✓");
  EXPECT_EQ(utf8.AsAnsiString(), "\xB5m\xB2 ?");
  EXPECT_EQ(utf8.AsWideString(), u"µm² ✓");
  EXPECT_EQ(Variant::FromAnsi("\x80").AsString(), "€");
  EXPECT_THAT(Variant(u"A✓").AsBytes(), ::testing::ElementsAre('A', 0, 0x13, 0x27));
  EXPECT_THAT(Variant("a\xC2\xB5").AsBytes(), ::testing::ElementsAre('a', 0xB5));
  EXPECT_EQ(VarToStr(Variant::Null()), "");
  EXPECT_EQ(Variant::FromBytes({'h', 0xE9}).AsString(), "hé");
}

TEST(VariantTest, FloatTextFollowsTheProcessDecimalSeparator) {
  FormatSettings& fs = ProcessFormatSettings();
  const FormatSettings saved = fs;
  fs.DecimalSeparator = ',';
  EXPECT_EQ(Variant(1.5).AsString(), "1,5");
  EXPECT_DOUBLE_EQ(Variant("2,25").AsDouble(), 2.25);
  fs = saved;
}

TEST(VariantTest, SameValueComparesWithinTypeFamilies) {
  EXPECT_TRUE(Variant::Null().SameValue(Variant::Null()));
  EXPECT_FALSE(Variant::Null().SameValue(Variant(0)));
  EXPECT_FALSE(Variant().SameValue(Variant::Null()));
  EXPECT_TRUE(Variant(3).SameValue(Variant(3.0)));
  EXPECT_TRUE(Variant(45000).SameValue(Variant::FromDate(45000)));
  EXPECT_TRUE(Variant("µ").SameValue(Variant::FromAnsi("\xB5")));
  EXPECT_TRUE(Variant("µ").SameValue(Variant(u"µ")));
  EXPECT_FALSE(Variant("1").SameValue(Variant(1)));
  EXPECT_TRUE(Variant::FromCurrency(0.1).SameValue(Variant::FromCurrencyUnits(1000)));
  EXPECT_TRUE(VarArrayOf({1, "a"}) == VarArrayOf({1.0, "a"}));
  EXPECT_FALSE(VarArrayOf({1, "a"}) == VarArrayOf({1}));
  EXPECT_TRUE(Variant::FromBytes({1, 2}) == Variant::FromBytes({1, 2}));
}

}  // namespace
}  // namespace platform::data
