// DES (FIPS 46-3), the three-key triple DES built on it, and the engine's triple DES over a
// 24-byte block. Bits are numbered 1 to 64 from the most significant bit of the first byte,
// as in the standard's tables; the permutations are applied through byte-indexed lookup tables
// made from those tables at start-up.
#include <cstring>

#include "dbengine/file/orv_cipher.h"
#include "platform/base/byte_order.h"

namespace orv {

namespace {

constexpr uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                              35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                              46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0, 9, 14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7, 0, 9,  3,  4,
     6,  10, 2, 8,  5, 14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0, 11, 1, 2,  12,
     5,  10, 14, 7, 1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5, 2,  12},
    {7,  13, 14, 3, 0, 6, 9,  10, 1, 2, 8, 5,  11, 12, 4,  15, 13, 8,  11, 5,  6,  15,
     0,  3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1,  3,  14,
     5,  2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6, 8,  5,  3,  15, 13, 0, 14, 9, 14, 11, 2,  12, 4,  7,
     13, 1,  5,  0,  15, 10, 3,  9, 8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7, 1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0, 13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0, 11, 3,  8, 9,  14, 15, 5,  2,  8,  12, 3,  7,  0, 4,  10,
     1,  13, 11, 6,  4,  3,  2, 12, 9,  5, 15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7,  5,  10, 6, 1,  13, 0, 11, 7, 4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  1,  15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2,  0,  6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

inline uint64_t Bit64(int position) { return uint64_t{1} << (64 - position); }

struct Tables {
  uint64_t ip[8][256];  // initial permutation, one table per input byte
  uint64_t fp[8][256];  // final permutation (the inverse of IP)
  uint32_t sp[8][64];   // S-box i of a 6-bit input, placed and permuted by P

  Tables() {
    uint8_t inverse[64];
    for (int i = 0; i < 64; ++i) inverse[kIP[i] - 1] = static_cast<uint8_t>(i + 1);
    for (int byte = 0; byte < 8; ++byte)
      for (int v = 0; v < 256; ++v) {
        const uint64_t in = static_cast<uint64_t>(v) << (56 - 8 * byte);
        uint64_t a = 0, b = 0;
        for (int i = 0; i < 64; ++i) {
          if (in & Bit64(kIP[i])) a |= Bit64(i + 1);
          if (in & Bit64(inverse[i])) b |= Bit64(i + 1);
        }
        ip[byte][v] = a;
        fp[byte][v] = b;
      }
    for (int box = 0; box < 8; ++box)
      for (int v = 0; v < 64; ++v) {
        const int row = ((v >> 4) & 2) | (v & 1);
        const int col = (v >> 1) & 15;
        const uint32_t s = static_cast<uint32_t>(kS[box][row * 16 + col]) << (28 - 4 * box);
        uint32_t out = 0;
        for (int i = 0; i < 32; ++i)
          if (s & (1u << (32 - kP[i]))) out |= 1u << (31 - i);
        sp[box][v] = out;
      }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

inline uint64_t Permute(const uint64_t (&table)[8][256], uint64_t x) {
  uint64_t r = 0;
  for (int byte = 0; byte < 8; ++byte) r |= table[byte][(x >> (56 - 8 * byte)) & 0xFF];
  return r;
}

// The cipher function: E expansion of R, the subkey, the S-boxes and P. A subkey is kept as
// two words of four 6-bit groups, one group per byte, first group in the top byte.
inline uint32_t F(uint32_t r, const uint32_t* k, const Tables& t) {
  // R with its last bit before and its first bit after: the eight overlapping 6-bit groups of
  // the expansion are then plain shifts.
  const uint64_t r34 = (static_cast<uint64_t>(r & 1) << 33) | (static_cast<uint64_t>(r) << 1) | (r >> 31);
  uint32_t out = 0;
  for (int i = 0; i < 8; ++i) {
    const uint32_t group = static_cast<uint32_t>(r34 >> (28 - 4 * i)) & 0x3F;
    const uint32_t key = (k[i / 4] >> (24 - 8 * (i % 4))) & 0x3F;
    out |= t.sp[i][group ^ key];
  }
  return out;
}

TCipher* New1DES(const std::string& password, TProtection* p) { return new TCipher_1DES(password, p); }
TCipher* New3DES(const std::string& password, TProtection* p) { return new TCipher_3DES(password, p); }
TCipher* New3TDES(const std::string& password, TProtection* p) { return new TCipher_3TDES(password, p); }

constexpr int kWordsPerKey = 64;  // 32 encryption words, then 32 decryption words

void Exchange4To8(uint8_t* d) {
  for (int i = 0; i < 4; ++i) std::swap(d[4 + i], d[8 + i]);
}

}  // namespace

const TCipherClass& TCipher_1DES::Class() {
  static const TCipherClass cls{"TCipher_1DES", {8, 8, 256}, "TCipher_1DES.TestVector not implemented", New1DES};
  return cls;
}

const TCipherClass& TCipher_3DES::Class() {
  static const TCipherClass cls{"TCipher_3DES", {8, 24, 768}, "TCipher_3DES.TestVector not implemented 24", New3DES};
  return cls;
}

const TCipherClass& TCipher_3TDES::Class() {
  static const TCipherClass cls{"TCipher_3TDES", {24, 24, 768}, "TCipher_3TDES.TestVector not implemented 25",
                                New3TDES};
  return cls;
}

void TCipher_1DES::MakeSchedule(const uint8_t* Key8, uint32_t* Schedule) {
  const uint64_t key = platform::LoadBE64(Key8);
  uint32_t c = 0, d = 0;  // 28 bits each
  for (int i = 0; i < 28; ++i) {
    if (key & Bit64(kPC1[i])) c |= 1u << (27 - i);
    if (key & Bit64(kPC1[28 + i])) d |= 1u << (27 - i);
  }
  for (int round = 0; round < 16; ++round) {
    for (int s = 0; s < kShifts[round]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    const uint64_t cd = (static_cast<uint64_t>(c) << 28) | d;  // bit 1 of C||D at bit 55
    uint32_t groups[2] = {0, 0};
    for (int i = 0; i < 48; ++i)
      if (cd & (uint64_t{1} << (56 - kPC2[i]))) {
        const int group = i / 6, bit = i % 6;
        groups[group / 4] |= 1u << (24 - 8 * (group % 4) + (5 - bit));
      }
    Schedule[2 * round] = groups[0];
    Schedule[2 * round + 1] = groups[1];
    Schedule[32 + 2 * (15 - round)] = groups[0];
    Schedule[32 + 2 * (15 - round) + 1] = groups[1];
  }
}

void TCipher_1DES::DESFunc(const uint32_t* Subkeys, uint8_t* Block) {
  const Tables& t = T();
  const uint64_t x = Permute(t.ip, platform::LoadBE64(Block));
  uint32_t l = static_cast<uint32_t>(x >> 32), r = static_cast<uint32_t>(x);
  for (int round = 0; round < 16; ++round) {
    const uint32_t next = l ^ F(r, Subkeys + 2 * round, t);
    l = r;
    r = next;
  }
  platform::StoreBE64(Block, Permute(t.fp, (static_cast<uint64_t>(r) << 32) | l));
}

void TCipher_1DES::Init(const void* Key, int Size, const void* IVector) {
  InitBegin(Size);
  uint8_t key[8] = {};
  if (Key && Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));
  MakeSchedule(key, UserWords());
  explicit_bzero(key, sizeof(key));
  InitEnd(IVector);
}

void TCipher_1DES::Encode(void* Data) { DESFunc(UserWords(), static_cast<uint8_t*>(Data)); }

void TCipher_1DES::Decode(void* Data) { DESFunc(UserWords() + 32, static_cast<uint8_t*>(Data)); }

void TCipher_3DES::Init(const void* Key, int Size, const void* IVector) {
  InitBegin(Size);
  uint8_t key[24] = {};
  if (Key && Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));
  for (int k = 0; k < 3; ++k) MakeSchedule(key + 8 * k, UserWords() + kWordsPerKey * k);
  explicit_bzero(key, sizeof(key));
  InitEnd(IVector);
}

void TCipher_3DES::Encode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const uint32_t* k = UserWords();
  DESFunc(k, d);                         // encipher under K1
  DESFunc(k + kWordsPerKey + 32, d);     // decipher under K2
  DESFunc(k + 2 * kWordsPerKey, d);      // encipher under K3
}

void TCipher_3DES::Decode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const uint32_t* k = UserWords();
  DESFunc(k + 2 * kWordsPerKey + 32, d);
  DESFunc(k + kWordsPerKey, d);
  DESFunc(k + 32, d);
}

void TCipher_3TDES::Encode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const uint32_t* k = UserWords();
  for (int b = 0; b < 3; ++b) DESFunc(k, d + 8 * b);
  Exchange4To8(d);
  for (int b = 0; b < 3; ++b) DESFunc(k + kWordsPerKey + 32, d + 8 * b);
  Exchange4To8(d);
  for (int b = 0; b < 3; ++b) DESFunc(k + 2 * kWordsPerKey, d + 8 * b);
}

void TCipher_3TDES::Decode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const uint32_t* k = UserWords();
  for (int b = 0; b < 3; ++b) DESFunc(k + 2 * kWordsPerKey + 32, d + 8 * b);
  Exchange4To8(d);
  for (int b = 0; b < 3; ++b) DESFunc(k + kWordsPerKey, d + 8 * b);
  Exchange4To8(d);
  for (int b = 0; b < 3; ++b) DESFunc(k + 32, d + 8 * b);
}

}  // namespace orv
