#include "pdfwriter/mrvx_crypt.h"

#include <gtest/gtest.h>

#include <random>

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

}  // namespace
}  // namespace pdfwriter
