#include "dbengine/file/orv_security.h"

namespace orv {

const char* const CryptoAlgorithmNames[ORVCryptoAlgorithmCount] = {
    "Rijndael_128", "Rijndael_256", "DES_Single", "DES_Triple", "Blowfish", "Twofish_128", "Twofish_256", "Square"};

std::string CryptoAlgorithmName(TORVCryptoAlgorithm Algorithm) {
  const int index = static_cast<int>(Algorithm);
  return index < ORVCryptoAlgorithmCount ? CryptoAlgorithmNames[index] : std::string();
}

}  // namespace orv
