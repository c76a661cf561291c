// Twofish: the published q permutations, MDS and RS matrices, h function, whitening and 16
// rounds, with the engine's own rule for the odd subkeys.
#include <cstring>

#include "dbengine/file/orv_cipher.h"
#include "platform/base/byte_order.h"

namespace orv {

namespace {

// The 4-bit tables from which the two fixed byte permutations q0 and q1 are built.
constexpr uint8_t kQT[2][4][16] = {
    {{8, 1, 7, 13, 6, 15, 3, 2, 0, 11, 5, 9, 14, 12, 10, 4},
     {14, 12, 11, 8, 1, 2, 3, 5, 15, 4, 10, 6, 7, 0, 9, 13},
     {11, 10, 5, 14, 6, 13, 9, 0, 12, 8, 15, 3, 2, 4, 7, 1},
     {13, 7, 15, 4, 1, 2, 6, 14, 9, 11, 3, 0, 8, 5, 12, 10}},
    {{2, 8, 11, 13, 15, 7, 6, 14, 3, 1, 9, 4, 0, 10, 12, 5},
     {1, 14, 2, 11, 4, 12, 3, 7, 6, 13, 10, 5, 15, 9, 0, 8},
     {4, 12, 7, 5, 1, 6, 9, 10, 0, 14, 13, 8, 2, 11, 3, 15},
     {11, 9, 5, 1, 12, 3, 13, 14, 6, 4, 7, 15, 2, 0, 8, 10}}};

constexpr uint8_t kMDS[4][4] = {{0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF},
                                {0xEF, 0x01, 0xEF, 0x5B}};

constexpr uint8_t kRS[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                               {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                               {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                               {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

constexpr uint8_t GFMul(uint8_t a, uint8_t b, uint16_t poly) {
  uint16_t x = a;
  uint8_t r = 0;
  while (b) {
    if (b & 1) r = static_cast<uint8_t>(r ^ x);
    x = static_cast<uint16_t>(x << 1);
    if (x & 0x100) x ^= poly;
    b >>= 1;
  }
  return r;
}

constexpr uint8_t Ror4(uint8_t x) { return static_cast<uint8_t>(((x >> 1) | (x << 3)) & 15); }

constexpr uint8_t QPerm(int which, uint8_t x) {
  const uint8_t a0 = x >> 4, b0 = x & 15;
  const uint8_t a1 = a0 ^ b0;
  const uint8_t b1 = static_cast<uint8_t>((a0 ^ Ror4(b0) ^ (8 * a0)) & 15);
  const uint8_t a2 = kQT[which][0][a1], b2 = kQT[which][1][b1];
  const uint8_t a3 = a2 ^ b2;
  const uint8_t b3 = static_cast<uint8_t>((a2 ^ Ror4(b2) ^ (8 * a2)) & 15);
  const uint8_t a4 = kQT[which][2][a3], b4 = kQT[which][3][b3];
  return static_cast<uint8_t>((b4 << 4) | a4);
}

struct QTables {
  uint8_t q[2][256] = {};
  uint32_t mds[4][256] = {};  // MDS column j times a byte
};

constexpr QTables MakeQ() {
  QTables t;
  for (int i = 0; i < 256; ++i) {
    t.q[0][i] = QPerm(0, static_cast<uint8_t>(i));
    t.q[1][i] = QPerm(1, static_cast<uint8_t>(i));
    for (int j = 0; j < 4; ++j) {
      uint32_t w = 0;
      for (int row = 0; row < 4; ++row)
        w |= static_cast<uint32_t>(GFMul(static_cast<uint8_t>(i), kMDS[row][j], 0x169)) << (8 * row);
      t.mds[j][i] = w;
    }
  }
  return t;
}

constexpr QTables kQ = MakeQ();

inline uint8_t Byte(uint32_t w, int i) { return static_cast<uint8_t>(w >> (8 * i)); }

// The q permutations applied to byte j of the input before the MDS multiplication, with the
// bytes of the key words L[0..k-1] added between them.
inline uint8_t HByte(int j, uint8_t y, const uint32_t* L, int k) {
  // Order of q0 (0) and q1 (1) per stage, for stages 4, 3, 2, 1, 0 (the last one is applied
  // after adding L[0]).
  static constexpr uint8_t kOrder[4][5] = {{1, 1, 0, 0, 1}, {0, 1, 1, 0, 0}, {0, 0, 0, 1, 1}, {1, 0, 1, 1, 0}};
  if (k == 4) y = kQ.q[kOrder[j][0]][y] ^ Byte(L[3], j);
  if (k >= 3) y = kQ.q[kOrder[j][1]][y] ^ Byte(L[2], j);
  y = kQ.q[kOrder[j][2]][y] ^ Byte(L[1], j);
  y = kQ.q[kOrder[j][3]][y] ^ Byte(L[0], j);
  return kQ.q[kOrder[j][4]][y];
}

uint32_t H(uint32_t x, const uint32_t* L, int k) {
  uint32_t z = 0;
  for (int j = 0; j < 4; ++j) z ^= kQ.mds[j][HByte(j, Byte(x, j), L, k)];
  return z;
}

TCipher* NewTwofish(const std::string& password, TProtection* p) { return new TCipher_Twofish(password, p); }

struct Keyed {
  const uint32_t* k;  // 40 subkeys
  const uint32_t* s;  // 4 x 256 key-dependent S-box words

  uint32_t G(uint32_t x) const {
    return s[Byte(x, 0)] ^ s[256 + Byte(x, 1)] ^ s[512 + Byte(x, 2)] ^ s[768 + Byte(x, 3)];
  }
};

}  // namespace

const TCipherClass& TCipher_Twofish::Class() {
  static const TCipherClass cls{"TCipher_Twofish", {16, 32, 4256}, "TCipher_Twofish.TestVector not implemented 26",
                                NewTwofish};
  return cls;
}

void TCipher_Twofish::Init(const void* Key, int Size, const void* IVector) {
  InitBegin(Size);
  SetupKey(Key, Size, false);
  InitEnd(IVector);
}

void TCipher_Twofish::SetupKey(const void* Key, int Size, bool Published) {
  uint8_t key[32] = {};
  if (Key && Size > 0) std::memcpy(key, Key, static_cast<size_t>(std::min(Size, 32)));
  const int len = Size <= 16 ? 16 : Size <= 24 ? 24 : 32;
  const int k = len / 8;

  uint32_t me[4] = {}, mo[4] = {}, sv[4] = {};
  for (int i = 0; i < k; ++i) {
    me[i] = platform::LoadLE32(key + 8 * i);
    mo[i] = platform::LoadLE32(key + 8 * i + 4);
    // The words of the S-box key come in reverse order.
    uint32_t s = 0;
    for (int row = 0; row < 4; ++row) {
      uint8_t v = 0;
      for (int col = 0; col < 8; ++col) v ^= GFMul(key[8 * i + col], kRS[row][col], 0x14D);
      s |= static_cast<uint32_t>(v) << (8 * row);
    }
    sv[k - 1 - i] = s;
  }

  uint32_t* sub = UserWords();
  constexpr uint32_t kRho = 0x01010101u;
  for (uint32_t i = 0; i < 20; ++i) {
    const uint32_t a = H(2 * i * kRho, me, k);
    const uint32_t b = ROL(H((2 * i + 1) * kRho, mo, k), 8);
    sub[2 * i] = a + b;
    // Databases enciphered by the engine depend on this odd-subkey rule (B halved, not doubled).
    sub[2 * i + 1] = ROL(Published ? a + 2 * b : a + (b >> 1), 9);
  }

  uint32_t* sbox = sub + 40;
  for (int j = 0; j < 4; ++j)
    for (int x = 0; x < 256; ++x) sbox[256 * j + x] = kQ.mds[j][HByte(j, static_cast<uint8_t>(x), sv, k)];

  explicit_bzero(key, sizeof(key));
  explicit_bzero(me, sizeof(me));
  explicit_bzero(mo, sizeof(mo));
  explicit_bzero(sv, sizeof(sv));
}

void TCipher_Twofish::Encode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const Keyed t{UserWords(), UserWords() + 40};
  uint32_t r[4];
  for (int i = 0; i < 4; ++i) r[i] = platform::LoadLE32(d + 4 * i) ^ t.k[i];
  for (int round = 0; round < 16; ++round) {
    const uint32_t t0 = t.G(r[0]);
    const uint32_t t1 = t.G(ROL(r[1], 8));
    const uint32_t f0 = t0 + t1 + t.k[2 * round + 8];
    const uint32_t f1 = t0 + 2 * t1 + t.k[2 * round + 9];
    const uint32_t n2 = ROR(r[2] ^ f0, 1);
    const uint32_t n3 = ROL(r[3], 1) ^ f1;
    r[2] = r[0];
    r[3] = r[1];
    r[0] = n2;
    r[1] = n3;
  }
  // The last exchange of halves is undone by the output order.
  platform::StoreLE32(d, r[2] ^ t.k[4]);
  platform::StoreLE32(d + 4, r[3] ^ t.k[5]);
  platform::StoreLE32(d + 8, r[0] ^ t.k[6]);
  platform::StoreLE32(d + 12, r[1] ^ t.k[7]);
}

void TCipher_Twofish::Decode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const Keyed t{UserWords(), UserWords() + 40};
  uint32_t r[4];
  r[2] = platform::LoadLE32(d) ^ t.k[4];
  r[3] = platform::LoadLE32(d + 4) ^ t.k[5];
  r[0] = platform::LoadLE32(d + 8) ^ t.k[6];
  r[1] = platform::LoadLE32(d + 12) ^ t.k[7];
  for (int round = 15; round >= 0; --round) {
    // Undo one round: (r0, r1) are the new halves, (r2, r3) the old inputs of F.
    const uint32_t t0 = t.G(r[2]);
    const uint32_t t1 = t.G(ROL(r[3], 8));
    const uint32_t f0 = t0 + t1 + t.k[2 * round + 8];
    const uint32_t f1 = t0 + 2 * t1 + t.k[2 * round + 9];
    const uint32_t old2 = ROL(r[0], 1) ^ f0;
    const uint32_t old3 = ROR(r[1] ^ f1, 1);
    r[0] = r[2];
    r[1] = r[3];
    r[2] = old2;
    r[3] = old3;
  }
  for (int i = 0; i < 4; ++i) platform::StoreLE32(d + 4 * i, r[i] ^ t.k[i]);
}

}  // namespace orv
