#pragma once
// MD5 (RFC 1321): the document identifier is an MD5 digest, and the standard security
// handler derives its keys with it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pdfwriter {

struct MD5Context {
  std::array<uint32_t, 4> State{};
  std::array<uint32_t, 2> Count{};  // bit count, low word first
  std::array<uint8_t, 64> Buffer{};
};

using MD5Digest = std::array<uint8_t, 16>;

void MD5Init(MD5Context& Context);
void MD5Update(MD5Context& Context, const uint8_t* Input, size_t Length);
void MD5Final(MD5Context& Context, MD5Digest& Digest);

// Digest of a byte block.
MD5Digest MD5String(const uint8_t* M, size_t len);
// 32 lower-case hexadecimal digits.
std::string MD5Print(const MD5Digest& D);
// MD5Print of the digest of an 8-bit string.
std::string MD5CalcString(std::string_view Data);

}  // namespace pdfwriter
