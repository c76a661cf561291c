#pragma once
// The choice of cipher for an encrypted database and the password record that travels with a
// connection. The algorithm is stored as one byte in the crypto header and in every page
// header, so its numbers are fixed.
#include <cstdint>
#include <string>

namespace orv {

enum TORVCryptoAlgorithm : uint8_t {
  craRijndael_128 = 0,
  craRijndael_256 = 1,
  craDES_Single = 2,
  craDES_Triple = 3,
  craBlowfish = 4,
  craTwofish_128 = 5,
  craTwofish_256 = 6,
  craSquare = 7
};

inline constexpr int ORVCryptoAlgorithmCount = 8;

// Display names indexed by algorithm.
extern const char* const CryptoAlgorithmNames[ORVCryptoAlgorithmCount];

// The display name, or an empty string for a number that names no algorithm (a byte read from
// a damaged file may hold any value).
std::string CryptoAlgorithmName(TORVCryptoAlgorithm Algorithm);

struct TORVPassword {
  std::string Password;  // 8-bit characters; the key is made from these bytes
  TORVCryptoAlgorithm CryptoAlgorithm = craRijndael_128;
};
using PORVPassword = TORVPassword*;

}  // namespace orv
