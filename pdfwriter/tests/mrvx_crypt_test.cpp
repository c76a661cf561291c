#include "pdfwriter/mrvx_crypt.h"

#include <gtest/gtest.h>

#include <random>

#include "pdfwriter/mrvx_types.h"
#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter {
namespace {

TEST(MD5, TestSuiteOfRfc1321) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [in, out] : suite) EXPECT_EQ(MD5CalcString(in), out) << in;
}

TEST(MD5, PiecewiseUpdatesMatchPythonHashlib) {
  std::mt19937 rng(3);
  std::string data(100'003, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  testing::TempDir dir;
  testing::WriteFile(dir.File("d.bin"), data);
  const auto py = testing::RunTool("python3 -c \"import hashlib,sys; print(hashlib.md5(open(sys.argv[1],'rb').read()).hexdigest())\" " +
                                   dir.File("d.bin"));
  ASSERT_EQ(py.exit_code, 0) << py.output;

  MD5Context ctx;
  MD5Init(ctx);
  size_t at = 0;
  for (size_t step = 1; at < data.size(); step = step * 3 % 200 + 1) {
    const size_t n = std::min(step, data.size() - at);
    MD5Update(ctx, reinterpret_cast<const uint8_t*>(data.data() + at), n);
    at += n;
  }
  MD5Digest d{};
  MD5Final(ctx, d);
  EXPECT_EQ(MD5Print(d) + "\n", py.output);
  EXPECT_EQ(MD5CalcString(data) + "\n", py.output);
}

std::string Hex(const uint8_t* p, size_t n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(d[p[i] >> 4]);
    s.push_back(d[p[i] & 15]);
  }
  return s;
}

std::string Rc4(const std::string& key, const std::string& in) {
  TRC4Data st;
  RC4Init(st, reinterpret_cast<const uint8_t*>(key.data()), key.size());
  std::string out(in.size(), '\0');
  RC4Crypt(st, reinterpret_cast<const uint8_t*>(in.data()), reinterpret_cast<uint8_t*>(out.data()), in.size());
  return out;
}

TEST(RC4, PublishedVectors) {
  // Key stream of RFC 6229 for a 40-bit and a 128-bit key (offsets 0 and 16).
  const std::string k40 = "\x01\x02\x03\x04\x05";
  const std::string k128 = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10";
  const std::string zeros(32, '\0');
  const std::string s40 = Rc4(k40, zeros);
  EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(s40.data()), 32),
            "b2396305f03dc027ccc3524a0a1118a8"
            "6982944f18fc82d589c403a47a0d0919");
  const std::string s128 = Rc4(k128, zeros);
  EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(s128.data()), 16), "9ac7cc9a609d1ef7b2932899cde41b97");
  // The classic text vectors.
  const struct { const char* key; const char* plain; const char* cipher; } cases[] = {
      {"Key", "Plaintext", "bbf316e8d940af0ad3"},
      {"Wiki", "pedia", "1021bf0420"},
      {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
  };
  for (const auto& c : cases) {
    const std::string e = Rc4(c.key, c.plain);
    EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(e.data()), e.size()), c.cipher) << c.key;
    EXPECT_EQ(Rc4(c.key, e), c.plain) << c.key;  // its own inverse
  }
}

TEST(RC4, InPlaceAndContinuedCallsGiveOneKeyStream) {
  const std::string key = "0123456789abcdef";
  std::string data(1000, 'x');
  const std::string whole = Rc4(key, data);
  TRC4Data st;
  RC4Init(st, reinterpret_cast<const uint8_t*>(key.data()), key.size());
  auto* p = reinterpret_cast<uint8_t*>(data.data());
  RC4Crypt(st, p, p, 333);
  RC4Crypt(st, p + 333, p + 333, data.size() - 333);
  EXPECT_EQ(data, whole);
}

TEST(RC4, KeyLengthOutsideOneTo256IsRefused) {
  TRC4Data st;
  uint8_t key[257] = {};
  EXPECT_THROW(RC4Init(st, key, 0), EMRVXError);
  EXPECT_THROW(RC4Init(st, key, 257), EMRVXError);
  EXPECT_NO_THROW(RC4Init(st, key, 256));
  try {
    RC4Init(st, key, 0);
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "RC4: Invalid key length");
  }
}

TEST(AES, Fips197AndCbcVectors) {
  uint8_t key[16], in[16], out[16];
  for (int i = 0; i < 16; ++i) {
    key[i] = static_cast<uint8_t>(i);
    in[i] = static_cast<uint8_t>(i * 0x11);
  }
  AES128EncryptBlock(key, in, out);
  EXPECT_EQ(Hex(out, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");  // FIPS-197, appendix C.1

  // SP 800-38A F.2.1, first two blocks, and the padding block PKCS#7 adds.
  const uint8_t k2[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
  uint8_t iv[16];
  for (int i = 0; i < 16; ++i) iv[i] = static_cast<uint8_t>(i);
  const std::string plain = std::string("\x6b\xc1\xbe\xe2\x2e\x40\x9f\x96\xe9\x3d\x7e\x11\x73\x93\x17\x2a", 16) +
                            std::string("\xae\x2d\x8a\x57\x1e\x03\xac\x9c\x9e\xb7\x6f\xac\x45\xaf\x8e\x51", 16);
  const std::string c = AES128CBCEncrypt(k2, iv, plain);
  ASSERT_EQ(c.size(), 64u);
  EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(c.data()) + 16, 32),
            "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2");
  EXPECT_EQ(AES128CBCEncrypt(k2, iv, "").size(), 32u);
}

}  // namespace
}  // namespace pdfwriter
