#include "dbengine/file/orv_cipher_util.h"

#include <gtest/gtest.h>

#include <random>

namespace orv {
namespace {

// Restores the unit's start-up state after tests that change the registry.
class CipherUtilTest : public ::testing::Test {
 protected:
  void TearDown() override { CipherUtilState().Reset(); }
};

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

// RFC 4648 section 10.
TEST_F(CipherUtilTest, Base64MatchesRfc4648Vectors) {
  const std::pair<const char*, const char*> cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, text] : cases) {
    EXPECT_EQ(StrToFormat(std::string_view(plain), fmtMIME64), text) << plain;
    EXPECT_EQ(StrToFormat(std::string_view(plain), fmtDEFAULT), text) << plain;
    EXPECT_EQ(FormatToStr(std::string_view(text), fmtMIME64), plain) << text;
  }
  // Text missing its "=" is completed first.
  EXPECT_EQ(FormatToStr(std::string_view("Zg"), fmtMIME64), "f");
  EXPECT_EQ(FormatToStr(std::string_view("Zm8"), fmtMIME64), "fo");
}

// The bytes 0..255 as coreutils base64 writes them: one line, and wrapped at 76 characters.
constexpr char kCoreutilsAllBytes[] =
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4"
    "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx"
    "cnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmq"
    "q6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj"
    "5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==";

TEST_F(CipherUtilTest, Base64MatchesCoreutilsAndDecodesWrappedTextExactly) {
  EXPECT_EQ(StrToFormat(AllBytes(), fmtMIME64), kCoreutilsAllBytes);
  EXPECT_EQ(FormatToStr(std::string_view(kCoreutilsAllBytes), fmtMIME64), AllBytes());

  std::string wrapped;
  const std::string one_line = kCoreutilsAllBytes;
  for (size_t i = 0; i < one_line.size(); i += 76) wrapped += one_line.substr(i, 76) + "\r\n";
  // The strict conversion refuses characters outside the alphabet...
  try {
    FormatToStr(wrapped, fmtMIME64);
    FAIL() << "expected EStringFormat";
  } catch (const EStringFormat& e) {
    EXPECT_STREQ(e.what(), "Input is not an valid MIME Base 64 Format.");
  }
  // ...while the direct decoding skips them and yields exactly the encoded bytes, no more.
  EXPECT_EQ(TStringFormat_MIME64::Class().ToStr(wrapped.data(), static_cast<int>(wrapped.size())), AllBytes());
}

TEST_F(CipherUtilTest, Base64DecodingIgnoresForeignCharactersWhereverTheyStand) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::string data(rng() % 40, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    const std::string text = StrToFormat(data, fmtMIME64);
    std::string noisy;
    for (char c : text) {
      while (rng() % 3 == 0) noisy += " \r\n\t*-"[rng() % 6];
      noisy += c;
    }
    noisy += "\r\n";
    EXPECT_EQ(TStringFormat_MIME64::Class().ToStr(noisy.data(), static_cast<int>(noisy.size())), data) << noisy;
  }
  // Text of nothing but foreign characters, or "=" alone, decodes to nothing; chunks joined
  // with their padding decode chunk by chunk; surplus "=" add nothing.
  for (const char* odd : {"\r\n", "====", "=", "*", "Q"})
    EXPECT_EQ(TStringFormat_MIME64::Class().ToStr(odd, -1), "") << odd;
  EXPECT_EQ(FormatToStr(std::string_view("Zg==Zm8=Zm9v"), fmtMIME64), "ffofoo");
  EXPECT_EQ(FormatToStr(std::string_view("Zm9v="), fmtMIME64), "foo");
}

TEST_F(CipherUtilTest, StrToFormatSelectsTheFormatById) {
  const std::string bytes("a\0b", 3);
  EXPECT_EQ(StrToFormat(bytes, fmtNONE), "");
  EXPECT_EQ(StrToFormat(bytes, fmtCOPY), bytes);
  EXPECT_EQ(FormatToStr(bytes, fmtCOPY), bytes);
  EXPECT_EQ(StrToFormat(bytes, fmtDEFAULT), "YQBi");
  EXPECT_EQ(StrToFormat(nullptr, 3, fmtMIME64), "");
  EXPECT_EQ(StrToFormat("abc", -1, fmtMIME64), "YWJj");  // Len below 0: up to the zero byte
  try {
    StrToFormat(bytes, 7);
    FAIL() << "expected EStringFormat";
  } catch (const EStringFormat& e) {
    EXPECT_STREQ(e.what(), "String Format \"7\" not exists.");
  }
  EXPECT_EQ(StringFormat(fmtDEFAULT), &TStringFormat_MIME64::Class());
  EXPECT_EQ(DefaultStringFormat(), fmtMIME64);
}

TEST_F(CipherUtilTest, FormatsWithoutATableRaiseTheirTextForAnyInput) {
  struct Case {
    int id;
    const char* name;
    const char* message;
  };
  const Case cases[] = {{fmtHEX, "Hexadecimal", "Not Implemented 2"},
                        {fmtHEXL, "Hexadecimal lowercase", "Not implemented 3"},
                        {fmtUU, "UU Coding", "Not implemented 5"},
                        {fmtXX, "XX Coding", "Not implemented 6"}};
  for (const Case& c : cases) {
    TStringFormatClass format = StringFormat(c.id);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->Name(), c.name);
    EXPECT_EQ(format->StrTo("", 0), "");
    EXPECT_EQ(format->ToStr("", 0), "");
    EXPECT_TRUE(format->IsValid("ab", 2, false));
    for (int direction = 0; direction < 2; ++direction) {
      try {
        direction ? FormatToStr(std::string_view("ab"), c.id) : StrToFormat(std::string_view("ab"), c.id);
        FAIL() << c.name;
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), c.message);
      }
    }
  }
  EXPECT_EQ(TStringFormat::Class().Name(), "copy Input to Output");
  EXPECT_EQ(GetShortClassName("TStringFormat_MIME64"), "MIME64");
  EXPECT_EQ(GetShortClassName("TPlain"), "TPlain");
}

TEST_F(CipherUtilTest, RegisteringAnIdAgainReplacesTheClass) {
  struct Upper : TStringFormat {
    int Format() const override { return fmtMIME64; }
    std::string StrTo(const void*, int) const override { return "replaced"; }
    const char* ClassName() const override { return "TStringFormat_Upper"; }
  };
  static const Upper upper;
  RegisterStringFormats({&upper, nullptr});
  EXPECT_EQ(StringFormat(fmtMIME64), &upper);
  EXPECT_EQ(StrToFormat(std::string_view("x"), fmtDEFAULT), "replaced");
  EXPECT_EQ(upper.Name(), "Upper");
  CipherUtilState().Reset();
  EXPECT_EQ(StringFormat(fmtMIME64), &TStringFormat_MIME64::Class());
}

TEST_F(CipherUtilTest, ByteHelpers) {
  const uint8_t a[] = {1, 2, 0x10, 4};
  const uint8_t b[] = {1, 2, 0x20, 0};
  EXPECT_EQ(MemCompare(a, a, 4), 0);
  EXPECT_EQ(MemCompare(a, b, 4), -16);
  EXPECT_EQ(MemCompare(b, a, 4), 16);
  EXPECT_EQ(MemCompare(a, b, 2), 0);

  uint8_t x[] = {0xF0, 0x0F, 0xAA};
  const uint8_t y[] = {0xFF, 0xFF, 0xAA};
  XORBuffers(x, y, 3, x);
  EXPECT_EQ(x[0], 0x0F);
  EXPECT_EQ(x[1], 0xF0);
  EXPECT_EQ(x[2], 0x00);

  EXPECT_EQ(TableFind('C', "ABC", 0), 2);
  EXPECT_EQ(TableFind('\0', "ABC", 99), -1);
  EXPECT_EQ(ROL(0x80000001u, 1), 0x00000003u);
  EXPECT_EQ(ROR(0x80000001u, 33), 0xC0000000u);
  EXPECT_EQ(BSwapInt(0x12345678u), 0x78563412u);
  EXPECT_EQ(CipherUtilState().SwapInteger(0x12345678u), 0x78563412u);
}

TEST_F(CipherUtilTest, RoutinesThatAreNotProvidedRaiseTheirText) {
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[] { SwapInt(1); }, "Not implemented: SwapInt"},
      {[] { SwapIntBuf(nullptr, nullptr, 0); }, "Not implemented 7"},
      {[] { BSwapIntBuf(nullptr, nullptr, 0); }, "Not implemented 8"},
      {[] { RndXORBuffer(0, nullptr, 0); }, "Not implemented 11"},
      {[] { RndTimeSeed(); }, "Not implemented 12"},
      {[] { CRC16(0, nullptr, 0); }, "Not implemented 13"},
      {[] { GetTestVector(); }, "Not implemented 14"},
      {[] { TProtection::Identity(); }, "Not implemented 13"},
  };
  for (const auto& [call, text] : cases) {
    try {
      call();
      ADD_FAILURE() << text;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), text);
    }
  }
}

TEST_F(CipherUtilTest, LiveObjectsAndCountedReferences) {
  struct Other : TProtection {};
  auto first = std::make_unique<TProtection>();
  const void* stale = first.get();
  EXPECT_TRUE(IsObject(stale));
  EXPECT_FALSE(IsObject<Other>(stale));
  EXPECT_FALSE(IsObject(&stale));  // not a protection at all

  TProtection holder;
  holder.SetProtection(first.get());
  EXPECT_EQ(holder.GetProtection(), first.get());
  EXPECT_EQ(first->RefCount(), 1);
  first.reset();  // its creator frees it; the chain notices
  EXPECT_FALSE(IsObject(stale));
  EXPECT_EQ(TProtection::AddRef(static_cast<TProtection*>(const_cast<void*>(stale))), 0);
  EXPECT_EQ(holder.GetProtection(), nullptr);

  // A counted object belongs to its references and goes with the last one.
  TProtection* counted = TProtection::NewCounted<Other>();
  holder.SetProtection(counted);
  EXPECT_TRUE(IsObject<Other>(counted));
  holder.SetProtection(nullptr);
  EXPECT_FALSE(IsObject(counted));
}

TEST_F(CipherUtilTest, CircularChainsAreRefusedAndLeaveTheChainAsItWas) {
  TProtection a, b, c;
  a.SetProtection(&b);
  b.SetProtection(&c);
  for (TProtection* loop : {&a}) {
    try {
      c.SetProtection(loop);
      FAIL();
    } catch (const EProtection& e) {
      EXPECT_STREQ(e.what(), "Circular Protection detected, Protection Object is invalid.");
    }
  }
  EXPECT_THROW(a.SetProtection(&a), EProtection);
  EXPECT_EQ(a.GetProtection(), &b);
  EXPECT_EQ(c.GetProtection(), nullptr);
  b.SetProtection(nullptr);
  c.SetProtection(&a);  // no longer a loop
  EXPECT_EQ(c.GetProtection(), &a);
  c.SetProtection(nullptr);
  a.SetProtection(nullptr);
}

}  // namespace
}  // namespace orv
