#pragma once
// Enciphering and deciphering of database pages and of the crypto header's control block.
// Each call is independent: a cipher of the database's algorithm is keyed from the RIPEMD
// digest of the password, starts from a chaining value of 0xFF bytes and codes the buffer in
// place in mode cmCTS, so equal plain buffers give equal cipher text wherever they lie in the
// file. The length never changes and no filler is added.
#include <cstdint>
#include <string>

#include "dbengine/file/orv_security.h"

namespace orv {

// True on success, and for an algorithm number above 7 (the buffer is then left as it is);
// false when the coding failed, in which case the buffer may be partly changed.
bool ORVInternalEncryptBuffer(TORVCryptoAlgorithm CryptoAlg, void* Buffer, int Size, const std::string& Password);
bool ORVInternalDecryptBuffer(TORVCryptoAlgorithm CryptoAlg, void* Buffer, int Size, const std::string& Password);

// The forms for writers and readers of the file, which must never store or use a buffer whose
// coding failed. Encrypting raises EORVException 30454 when the coding fails or the algorithm
// number names no cipher (the data would otherwise be written plain into an encrypted file);
// decrypting raises 30455 when the coding fails. An unknown algorithm on reading leaves the
// data as it is, for the caller's CRC check to reject.
void ORVEncryptBufferChecked(TORVCryptoAlgorithm CryptoAlg, void* Buffer, int Size, const std::string& Password);
void ORVDecryptBufferChecked(TORVCryptoAlgorithm CryptoAlg, void* Buffer, int Size, const std::string& Password);

}  // namespace orv
