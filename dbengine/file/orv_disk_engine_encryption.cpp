#include "dbengine/file/orv_disk_engine_encryption.h"

#include <memory>

#include "dbengine/file/orv_cipher.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

struct AlgorithmClasses {
  const TCipherClass* cipher;
  const THashClass* hash;
};

bool ClassesFor(TORVCryptoAlgorithm alg, AlgorithmClasses& out) {
  switch (alg) {
    case craRijndael_128: out = {&TCipher_Rijndael::Class(), &THash_RipeMD128::Class()}; return true;
    case craRijndael_256: out = {&TCipher_Rijndael::Class(), &THash_RipeMD256::Class()}; return true;
    case craDES_Single: out = {&TCipher_1DES::Class(), &THash_RipeMD128::Class()}; return true;
    case craDES_Triple: out = {&TCipher_3TDES::Class(), &THash_RipeMD128::Class()}; return true;
    case craBlowfish: out = {&TCipher_Blowfish::Class(), &THash_RipeMD256::Class()}; return true;
    case craTwofish_128: out = {&TCipher_Twofish::Class(), &THash_RipeMD128::Class()}; return true;
    case craTwofish_256: out = {&TCipher_Twofish::Class(), &THash_RipeMD256::Class()}; return true;
    case craSquare: out = {&TCipher_Square::Class(), &THash_RipeMD128::Class()}; return true;
  }
  return false;
}

bool Code(TORVCryptoAlgorithm alg, void* buffer, int size, const std::string& password, bool encrypt) {
  AlgorithmClasses classes{};
  if (!ClassesFor(alg, classes)) return true;
  if (size < 0 || (!buffer && size > 0)) return false;
  try {
    // Keyed once, from the password's digest under the algorithm's hash class; the initial
    // chaining value is the cipher's own 0xFF block, passed as the initial vector so that it
    // is used as it is rather than enciphered.
    std::unique_ptr<TCipher> cipher = classes.cipher->Create();
    cipher->SetHashClass(classes.hash);
    cipher->InitKey(password, cipher->Vector());
    if (encrypt)
      cipher->EncodeBuffer(buffer, buffer, size);
    else
      cipher->DecodeBuffer(buffer, buffer, size);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool ORVInternalEncryptBuffer(TORVCryptoAlgorithm CryptoAlg, void* Buffer, int Size, const std::string& Password) {
  return Code(CryptoAlg, Buffer, Size, Password, true);
}

bool ORVInternalDecryptBuffer(TORVCryptoAlgorithm CryptoAlg, void* Buffer, int Size, const std::string& Password) {
  return Code(CryptoAlg, Buffer, Size, Password, false);
}

void ORVEncryptBufferChecked(TORVCryptoAlgorithm CryptoAlg, void* Buffer, int Size, const std::string& Password) {
  AlgorithmClasses classes{};
  if (!ClassesFor(CryptoAlg, classes) || !ORVInternalEncryptBuffer(CryptoAlg, Buffer, Size, Password))
    throw EORVException(30454, "Encrypt error. Cannot encrypt data with algorithm %d, Size = %d",
                        {static_cast<int>(CryptoAlg), Size});
}

void ORVDecryptBufferChecked(TORVCryptoAlgorithm CryptoAlg, void* Buffer, int Size, const std::string& Password) {
  if (!ORVInternalDecryptBuffer(CryptoAlg, Buffer, Size, Password))
    throw EORVException(30455, "Decrypt error. Cannot decrypt data with algorithm %d, Size = %d",
                        {static_cast<int>(CryptoAlg), Size});
}

}  // namespace orv
