// The stream decoders of loaded files, checked against Python's base64 and binascii.
#include "pdfwriter/mrvx_zlib.h"

#include <gtest/gtest.h>

#include <random>

#include "pdfwriter/mrvx_types.h"
#include "pdfwriter/tests/font_test_tools.h"
#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter {
namespace {

using testing::RunPython;
using testing::TempDir;

std::string Decode(std::string_view filter, std::string_view data) {
  std::string out;
  LoadUnFlateLZW(data, out, filter);
  return out;
}

std::string ErrorOf(std::string_view filter, std::string_view data) {
  try {
    Decode(filter, data);
  } catch (const EMRVXError& e) {
    return e.what();
  }
  return "no error";
}

// Python's decoding of the same text, as bytes in hexadecimal (or "error").
std::string PythonDecode(const std::string& function, const std::string& data) {
  TempDir dir;
  testing::WriteFile(dir.File("in"), data);
  const auto r = RunPython("import base64, binascii, sys\n"
                           "data = open(sys.argv[1], 'rb').read()\n"
                           "try:\n"
                           "  print((" + function + ").hex())\n"
                           "except Exception:\n"
                           "  print('error')\n",
                           dir.File("in"));
  std::string out = r.output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

TEST(StreamDecoders, CasesOfTheLoader) {
  struct Case {
    const char* filter;
    std::string data;
    std::string expected;
  };
  const Case cases[] = {
      {"ASCIIHexDecode", "41 42>", "AB"},
      {"ASCIIHexDecode", "414>", std::string("A\x40", 2)},
      {"ASCIIHexDecode", "4\n1\r4 2>ignored", "AB"},
      {"ASCIIHexDecode", "4142", "AB"},  // no end marker: stops at the end of the data
      {"ASCII85Decode", "z~>", std::string(4, '\0')},
      {"ASCII85Decode", "87cURD]j7BEbo7~>", "Hello world"},
      {"ASCII85Decode", "87cU\nRD]j7B Ebo7", "Hello world"},
      {"RunLengthDecode", std::string("\x02" "abc" "\xFE" "x" "\x80", 7), "abcxxx"},
      {"RunLengthDecode", std::string("\x05" "ab", 3), "ab"},  // a run cut short by the end
      {"/FlateDecode", FlateEncode("flate data"), "flate data"},
      {"DCTDecode", "\xFF\xD8", ""},  // a filter the loader does not decode leaves nothing
  };
  for (const Case& c : cases) EXPECT_EQ(Decode(c.filter, c.data), c.expected) << c.filter << " " << c.data;

  EXPECT_EQ(ErrorOf("ASCIIHexDecode", "4G>"), "Illegal character <47>");
  EXPECT_EQ(ErrorOf("ASCII85Decode", "87c{U~>"), "Illegal character <7B>");
  EXPECT_EQ(ErrorOf("ASCII85Decode", "uuuuu~>"), "Invalid ASCII85 group.");
  EXPECT_EQ(ErrorOf("LZWDecode", "\x80\x0b"), "Unsupported stream filter: LZWDecode.");
  EXPECT_EQ(ErrorOf("FlateDecode", "not zlib"), "Invalid FlateDecode stream.");

  // Python agrees on the texts above that both read.
  EXPECT_EQ(PythonDecode("base64.a85decode(data, adobe=True)", "87cURD]j7BEbo7~>"), Hex("Hello world"));
  EXPECT_EQ(PythonDecode("base64.a85decode(data, adobe=True)", "z~>"), "00000000");
  EXPECT_EQ(PythonDecode("base64.a85decode(data, adobe=True)", "uuuuu~>"), "error");
  EXPECT_EQ(PythonDecode("binascii.unhexlify(data.replace(b' ', b''))", "4142"), Hex("AB"));
}

TEST(StreamDecoders, RandomDataEncodedByPythonDecodesToItsBytes) {
  std::mt19937 rng(38);
  TempDir dir;
  std::string script = "import base64, binascii, sys\nd = sys.argv[1]\n";
  for (int i = 0; i < 20; ++i) {
    // Lengths of every remainder modulo 4, runs of zeros for "z" groups.
    std::string data(static_cast<size_t>(rng() % 300 + (i % 4)), '\0');
    for (char& c : data) c = rng() % 5 == 0 ? '\0' : static_cast<char>(rng());
    testing::WriteFile(dir.File(std::to_string(i) + ".bin"), data);
    script += "b = open(d + '/" + std::to_string(i) + ".bin', 'rb').read()\n"
              "open(d + '/" + std::to_string(i) + ".a85', 'wb').write(base64.a85encode(b, adobe=True, wrapcol=40)[2:])\n"
              "open(d + '/" + std::to_string(i) + ".hex', 'wb').write(binascii.hexlify(b) + b'>')\n";
  }
  ASSERT_EQ(RunPython(script, dir.Path()).exit_code, 0);
  for (int i = 0; i < 20; ++i) {
    const std::string data = testing::ReadFile(dir.File(std::to_string(i) + ".bin"));
    EXPECT_EQ(Decode("ASCII85Decode", testing::ReadFile(dir.File(std::to_string(i) + ".a85"))), data) << i;
    EXPECT_EQ(Decode("ASCIIHexDecode", testing::ReadFile(dir.File(std::to_string(i) + ".hex"))), data) << i;
  }
}

TEST(StreamDecoders, RunLengthOfRandomRunsAndLiterals) {
  // Encoded here by the format's two rules; the decoder must give back every byte.
  std::mt19937 rng(5);
  for (int round = 0; round < 50; ++round) {
    std::string plain, encoded;
    for (int piece = 0; piece < 20; ++piece) {
      if (rng() % 2) {
        const int n = static_cast<int>(rng() % 127) + 2;  // a run of 2..128 (129 would be the end marker)
        const char c = static_cast<char>(rng());
        plain.append(static_cast<size_t>(n), c);
        encoded.push_back(static_cast<char>(257 - n));
        encoded.push_back(c);
      } else {
        const int n = static_cast<int>(rng() % 128) + 1;  // 1..128 literal bytes
        encoded.push_back(static_cast<char>(n - 1));
        for (int k = 0; k < n; ++k) {
          const char c = static_cast<char>(rng());
          plain.push_back(c);
          encoded.push_back(c);
        }
      }
    }
    encoded.push_back(static_cast<char>(128));
    EXPECT_TRUE(IncFlushByte(encoded) == plain) << round;
  }
}

}  // namespace
}  // namespace pdfwriter
