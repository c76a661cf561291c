#pragma once
// MD5 (RFC 1321) and RC4: the document identifier is an MD5 digest, and the standard security
// handler derives its keys with MD5 and encrypts strings and streams with RC4.
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

// RC4 state. Every string or stream is encrypted with a freshly initialised state.
struct TRC4Data {
  std::array<uint8_t, 256> Key{};     // the working permutation
  std::array<uint8_t, 256> OrgKey{};  // the permutation as initialised
  uint8_t I = 0, J = 0;               // stream counters
};

// The RC4 key schedule; throws EMRVXError "RC4: Invalid key length" outside 1..256 bytes.
void RC4Init(TRC4Data& Data, const uint8_t* Key, size_t len);
// XORs len bytes with the key stream; InData and OutData may be the same buffer.
void RC4Crypt(TRC4Data& Data, const uint8_t* InData, uint8_t* OutData, size_t len);

// AES-128 in CBC mode with PKCS#7 padding, as the AESV2 crypt filter of PDF wants it: the
// 16-byte IV followed by the encrypted blocks (an empty input still gives one block).
std::string AES128CBCEncrypt(const uint8_t Key[16], const uint8_t IV[16], std::string_view Data);
// One block (FIPS-197), for the published test vectors.
void AES128EncryptBlock(const uint8_t Key[16], const uint8_t In[16], uint8_t Out[16]);

// The 32-byte password padding of the PDF standard security handler.
extern const std::array<uint8_t, 32> PadStr;

}  // namespace pdfwriter
