#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "dbengine/file/orv_cipher.h"
#include "dbengine/file/tests/cipher_test_util.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::Hex;

std::string Digest(const THashClass& cls, const std::string& message) {
  auto hash = cls.Create();
  hash->Init();
  hash->Calc(message.data(), static_cast<int>(message.size()));
  hash->Done();
  return Hex(hash->DigestKey(), static_cast<size_t>(hash->DigestKeySize()));
}

const std::string kAZ = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kNumbers = [] {
  std::string s;
  for (int i = 0; i < 8; ++i) s += "1234567890";
  return s;
}();

struct Vector {
  std::string message;
  const char* md4;        // RFC 1320
  const char* ripemd128;  // published RIPEMD test values
  const char* ripemd256;
};

const Vector kVectors[] = {
    {"", "31D6CFE0D16AE931B73C59D7E0C089C0", "CDF26213A150DC3ECB610F18F6B38B46",
     "02BA4C4E5F8ECD1877FC52D64D30E37A2D9774FB1E5D026380AE0168E3C5522D"},
    {"a", "BDE52CB31DE33E46245E05FBDBD6FB24", "86BE7AFA339D0FC7CFC785E72F578D33",
     "F9333E45D857F5D90A91BAB70A1EBA0CFB1BE4B0783C9ACFCD883A9134692925"},
    {"abc", "A448017AAF21D8525FC10AE87AA6729D", "C14A12199C66E4BA84636B0F69144C77",
     "AFBD6E228B9D8CBBCEF5CA2D03E6DBA10AC0BC7DCBE4680E1E42D2E975459B65"},
    {"message digest", "D9130A8164549FE818874806E1C7014B", "9E327B3D6E523062AFC1132D7DF9D1B8",
     "87E971759A1CE47A514D5C914C392C9018C7C46BC14465554AFCDF54A5070C0E"},
    {"abcdefghijklmnopqrstuvwxyz", "D79E1C308AA5BBCDEEA8ED63DF412DA9", "FD2AA607F71DC8F510714922B371834E",
     "649D3034751EA216776BF9A18ACC81BC7896118A5197968782DD1FD97D8D5133"},
    {kAZ, "043F8582F241DB351CE627E153E7F0E4", "D1E959EB179C911FAEA4624C60C5C702",
     "5740A408AC16B720B84424AE931CBB1FE363D1D0BF4017F1A89F7EA6DE77A0B8"},
    {kNumbers, "E33B4DDC9C38F2199C3E7B164FCC0536", "3F45EF194732C2DBB2C4A2C769795FA3",
     "06FDCC7A409548AAF91368C06A6275B553E3F099BF0EA4EDFD6778DF89A890DD"},
};

TEST(THash, DigestsMatchPublishedValues) {
  for (const Vector& v : kVectors) {
    EXPECT_EQ(Digest(THash_MD4::Class(), v.message), v.md4) << v.message;
    EXPECT_EQ(Digest(THash_RipeMD128::Class(), v.message), v.ripemd128) << v.message;
    EXPECT_EQ(Digest(THash_RipeMD256::Class(), v.message), v.ripemd256) << v.message;
  }
  const std::string million(1000000, 'a');
  EXPECT_EQ(Digest(THash_MD4::Class(), million), "BBCE80CC6BB65E5C6745E30D4EECA9A4");  // openssl md4
  EXPECT_EQ(Digest(THash_RipeMD128::Class(), million), "4A7F5723F954EBA1216C9D8F6320431F");
  EXPECT_EQ(Digest(THash_RipeMD256::Class(), million),
            "AC953744E10E31514C150D4D8D7B677342E33399788296E43AE4850CE4F97978");
}

TEST(THash, MessagesFedInPiecesGiveTheSameDigest) {
  std::string message;
  for (int i = 0; i < 1000; ++i) message += static_cast<char>(i * 7 + 3);
  for (const THashClass* cls : {&THash_MD4::Class(), &THash_RipeMD128::Class(), &THash_RipeMD256::Class()}) {
    const std::string whole = Digest(*cls, message);
    for (int piece : {1, 63, 64, 65}) {
      auto hash = cls->Create();
      hash->Init();
      for (size_t pos = 0; pos < message.size(); pos += static_cast<size_t>(piece))
        hash->Calc(message.data() + pos, static_cast<int>(std::min<size_t>(piece, message.size() - pos)));
      hash->Done();
      EXPECT_EQ(Hex(hash->DigestKey(), static_cast<size_t>(hash->DigestKeySize())), whole)
          << cls->ClassName << " piece " << piece;
    }
  }
}

// The padding needs a second block exactly when the message leaves fewer than 8 bytes free.
TEST(THash, PaddingBoundaryAt56Bytes) {
  struct Counting : THash_MD4 {
    int blocks = 0;
    void Transform(const uint8_t* Block) override {
      ++blocks;
      THash_MD4::Transform(Block);
    }
  };
  const std::pair<int, const char*> cases[] = {{55, "C889C81DD86C4D2E025778944EA02881"},  // openssl md4
                                               {56, "D5F9A9E9257077A5F08B0B92F348B0AD"},
                                               {63, "7EA3DA77432D44C323671097D1348FC8"},
                                               {64, "52F5076FABD22680234A3FA9F9DC5732"},
                                               {65, "330E377BF231F3CACFECC2C182FE7E5B"}};
  for (const auto& [length, md4] : cases) {
    Counting hash;
    const std::string message(static_cast<size_t>(length), 'a');
    hash.Init();
    hash.Calc(message.data(), length);
    hash.Done();
    EXPECT_EQ(Hex(hash.DigestKey(), 16), md4) << length;
    EXPECT_EQ(hash.blocks, length < 56 ? 1 : length < 120 ? 2 : 3) << length;
  }
}

TEST(THash, OneCallDigestsInTheRequestedFormat) {
  // Base64 of the published RIPEMD-128 digest of the empty message.
  EXPECT_EQ(THash_RipeMD128::Class().CalcString(""), "zfJiE6FQ3D7LYQ8Y9rOLRg==");
  EXPECT_EQ(THash_RipeMD128::Class().CalcString("", nullptr, fmtCOPY), Bytes(kVectors[0].ripemd128));
  EXPECT_EQ(THash_MD4::Class().CalcString("abc", nullptr, fmtCOPY), Bytes(kVectors[2].md4));

  const std::string data = "message digest";
  TProtectionMemoryStream stream(data);
  stream.SetPosition(5);  // a whole-stream digest starts from position 0
  std::vector<std::pair<int64_t, int64_t>> progress;
  CipherUtilState().Progress = [&](const void*, int64_t current, int64_t maximal) {
    progress.emplace_back(current, maximal);
  };
  EXPECT_EQ(THash_MD4::Class().CalcStream(&stream, -1, nullptr, fmtCOPY), Bytes(kVectors[3].md4));
  CipherUtilState().Progress = nullptr;
  const std::vector<std::pair<int64_t, int64_t>> expected{{0, 14}, {14, 14}, {0, 0}};
  EXPECT_EQ(progress, expected);

  const std::string path = ::testing::TempDir() + "orv_hash_calcfile.txt";
  { std::ofstream(path, std::ios::binary) << std::string(1000000, 'a'); }
  EXPECT_EQ(THash_RipeMD128::Class().CalcFile(path, nullptr, fmtCOPY), Bytes("4A7F5723F954EBA1216C9D8F6320431F"));
  std::remove(path.c_str());
  EXPECT_THROW(THash_RipeMD128::Class().CalcFile(path), EProtection);
}

TEST(THash, ProtectionLayerCodesWithADigestKeystream) {
  std::string buffer(40, 'x');
  const std::string original = buffer;
  THash_MD4 hash;
  hash.CodeBuffer(buffer.data(), static_cast<int>(buffer.size()), paEncode);
  // The first piece of the keystream is the digest of the initial state's 16 bytes.
  std::string first_piece = buffer.substr(0, 16);
  for (size_t i = 0; i < 16; ++i) first_piece[i] = static_cast<char>(first_piece[i] ^ original[i]);
  EXPECT_EQ(Hex(first_piece), "31489CF63B7FC170E9046F0176A60B39");  // openssl md4 of 0123456789ABCDEFFEDCBA9876543210
  hash.CodeBuffer(buffer.data(), static_cast<int>(buffer.size()), paDecode);
  EXPECT_EQ(buffer, original);

  // paCalc leaves the data and finishes with the digest of it.
  std::string text = "abc";
  hash.CodeBuffer(text.data(), 3, paCalc);
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(Hex(hash.DigestKey(), 16), kVectors[2].md4);

  EXPECT_THROW(hash.CodeBuffer(text.data(), 3, paWipe), std::runtime_error);
}

TEST(THash, SelfTestsAreNotProvided) {
  const std::pair<const THashClass*, const char*> cases[] = {
      {&THash::Class(), "Not implemented 14"},
      {&THash_MD4::Class(), "THash_MD4.TestVector not implemented 28"},
      {&THash_RipeMD128::Class(), "THash_RipeMD128.TestVector not implemented 30"},
      {&THash_RipeMD256::Class(), "THash_RipeMD256.TestVector not implemented 31"}};
  for (const auto& [cls, text] : cases) {
    try {
      cls->TestVector();
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), text);
    }
    EXPECT_THROW(cls->SelfTest(), std::runtime_error);
  }
  EXPECT_THROW(THash::Class().Create(), std::runtime_error);
}

}  // namespace
}  // namespace orv
