// Square: 8 rounds over a 4 x 4 byte state whose rows are the four 4-byte quarters of the
// block. A round is the row transform theta (multiplication by c(x) = 2 + x + x^2 + 3x^3
// modulo x^4 + 1 over GF(2^8) with the polynomial 0x1F5), the S-box gamma, the transposition pi
// and the round key. The theta in front of each round is folded into the round keys and the
// lookup tables, as the cipher's authors describe.
#include <cstring>

#include "dbengine/file/orv_cipher.h"
#include "platform/base/byte_order.h"

namespace orv {

namespace {

constexpr uint8_t kSbox[256] = {
    0xB1, 0xCE, 0xC3, 0x95, 0x5A, 0xAD, 0xE7, 0x02, 0x4D, 0x44, 0xFB, 0x91, 0x0C, 0x87, 0xA1, 0x50,
    0xCB, 0x67, 0x54, 0xDD, 0x46, 0x8F, 0xE1, 0x4E, 0xF0, 0xFD, 0xFC, 0xEB, 0xF9, 0xC4, 0x1A, 0x6E,
    0x5E, 0xF5, 0xCC, 0x8D, 0x1C, 0x56, 0x43, 0xFE, 0x07, 0x61, 0xF8, 0x75, 0x59, 0xFF, 0x03, 0x22,
    0x8A, 0xD1, 0x13, 0xEE, 0x88, 0x00, 0x0E, 0x34, 0x15, 0x80, 0x94, 0xE3, 0xED, 0xB5, 0x53, 0x23,
    0x4B, 0x47, 0x17, 0xA7, 0x90, 0x35, 0xAB, 0xD8, 0xB8, 0xDF, 0x4F, 0x57, 0x9A, 0x92, 0xDB, 0x1B,
    0x3C, 0xC8, 0x99, 0x04, 0x8E, 0xE0, 0xD7, 0x7D, 0x85, 0xBB, 0x40, 0x2C, 0x3A, 0x45, 0xF1, 0x42,
    0x65, 0x20, 0x41, 0x18, 0x72, 0x25, 0x93, 0x70, 0x36, 0x05, 0xF2, 0x0B, 0xA3, 0x79, 0xEC, 0x08,
    0x27, 0x31, 0x32, 0xB6, 0x7C, 0xB0, 0x0A, 0x73, 0x5B, 0x7B, 0xB7, 0x81, 0xD2, 0x0D, 0x6A, 0x26,
    0x9E, 0x58, 0x9C, 0x83, 0x74, 0xB3, 0xAC, 0x30, 0x7A, 0x69, 0x77, 0x0F, 0xAE, 0x21, 0xDE, 0xD0,
    0x2E, 0x97, 0x10, 0xA4, 0x98, 0xA8, 0xD4, 0x68, 0x2D, 0x62, 0x29, 0x6D, 0x16, 0x49, 0x76, 0xC7,
    0xE8, 0xC1, 0x96, 0x37, 0xE5, 0xCA, 0xF4, 0xE9, 0x63, 0x12, 0xC2, 0xA6, 0x14, 0xBC, 0xD3, 0x28,
    0xAF, 0x2F, 0xE6, 0x24, 0x52, 0xC6, 0xA0, 0x09, 0xBD, 0x8C, 0xCF, 0x5D, 0x11, 0x5F, 0x01, 0xC5,
    0x9F, 0x3D, 0xA2, 0x9B, 0xC9, 0x3B, 0xBE, 0x51, 0x19, 0x1F, 0x3F, 0x5C, 0xB2, 0xEF, 0x4A, 0xCD,
    0xBF, 0xBA, 0x6F, 0x64, 0xD9, 0xF3, 0x3E, 0xB4, 0xAA, 0xDC, 0xD5, 0x06, 0xC0, 0x7E, 0xF6, 0x66,
    0x6C, 0x84, 0x71, 0x38, 0xB9, 0x1D, 0x7F, 0x9D, 0x48, 0x8B, 0x2A, 0xDA, 0xA5, 0x33, 0x82, 0x39,
    0xD6, 0x78, 0x86, 0xFA, 0xE4, 0x2B, 0xA9, 0x1E, 0x89, 0x60, 0x6B, 0xEA, 0x55, 0x4C, 0xF7, 0xE2,
};

constexpr uint16_t kPoly = 0x1F5;

uint8_t Mul(uint8_t a, uint8_t b) {
  uint16_t x = a;
  uint8_t r = 0;
  while (b) {
    if (b & 1) r = static_cast<uint8_t>(r ^ x);
    x = static_cast<uint16_t>(x << 1);
    if (x & 0x100) x ^= kPoly;
    b >>= 1;
  }
  return r;
}

uint8_t Inverse(uint8_t a) {
  uint8_t r = 1;  // a^254
  for (int i = 0; i < 254; ++i) r = Mul(r, a);
  return r;
}

struct Tables {
  uint8_t inv_sbox[256];
  uint32_t theta[4][256];      // theta of a row with byte m = a and the others 0
  uint32_t theta_inv[4][256];  // the same for the inverse transform
  uint32_t te[4][256];         // theta after the S-box
  uint32_t td[4][256];         // inverse theta after the inverse S-box

  Tables() {
    for (int i = 0; i < 256; ++i) inv_sbox[kSbox[i]] = static_cast<uint8_t>(i);
    const uint8_t c[4] = {2, 1, 1, 3};
    // d(x) = c(x)^-1 mod x^4 + 1: solve sum_m c[(j - m) mod 4] d[m] = (j == 0).
    uint8_t m[4][5];
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 4; ++k) m[j][k] = c[(j - k + 4) % 4];
      m[j][4] = j == 0 ? 1 : 0;
    }
    for (int col = 0; col < 4; ++col) {
      int pivot = col;
      while (m[pivot][col] == 0) ++pivot;
      std::swap(m[pivot], m[col]);
      const uint8_t inv = Inverse(m[col][col]);
      for (int k = 0; k < 5; ++k) m[col][k] = Mul(m[col][k], inv);
      for (int row = 0; row < 4; ++row)
        if (row != col && m[row][col]) {
          const uint8_t f = m[row][col];
          for (int k = 0; k < 5; ++k) m[row][k] ^= Mul(f, m[col][k]);
        }
    }
    const uint8_t d[4] = {m[0][4], m[1][4], m[2][4], m[3][4]};
    for (int pos = 0; pos < 4; ++pos)
      for (int a = 0; a < 256; ++a) {
        uint32_t t = 0, ti = 0;
        for (int j = 0; j < 4; ++j) {
          t |= static_cast<uint32_t>(Mul(c[(j - pos + 4) % 4], static_cast<uint8_t>(a))) << (8 * j);
          ti |= static_cast<uint32_t>(Mul(d[(j - pos + 4) % 4], static_cast<uint8_t>(a))) << (8 * j);
        }
        theta[pos][a] = t;
        theta_inv[pos][a] = ti;
      }
    for (int pos = 0; pos < 4; ++pos)
      for (int a = 0; a < 256; ++a) {
        te[pos][a] = theta[pos][kSbox[a]];
        td[pos][a] = theta_inv[pos][inv_sbox[a]];
      }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

inline uint8_t Byte(uint32_t w, int i) { return static_cast<uint8_t>(w >> (8 * i)); }

uint32_t ThetaRow(const Tables& t, uint32_t row) {
  return t.theta[0][Byte(row, 0)] ^ t.theta[1][Byte(row, 1)] ^ t.theta[2][Byte(row, 2)] ^ t.theta[3][Byte(row, 3)];
}

// One round over the transposed state: new row i is the table sum of byte i of every row.
void Round(const uint32_t (&table)[4][256], const uint32_t* in, uint32_t* out, const uint32_t* key) {
  for (int i = 0; i < 4; ++i)
    out[i] = table[0][Byte(in[0], i)] ^ table[1][Byte(in[1], i)] ^ table[2][Byte(in[2], i)] ^
             table[3][Byte(in[3], i)] ^ key[i];
}

void LastRound(const uint8_t (&sbox)[256], const uint32_t* in, uint32_t* out, const uint32_t* key) {
  for (int i = 0; i < 4; ++i)
    out[i] = (static_cast<uint32_t>(sbox[Byte(in[0], i)]) | (static_cast<uint32_t>(sbox[Byte(in[1], i)]) << 8) |
              (static_cast<uint32_t>(sbox[Byte(in[2], i)]) << 16) |
              (static_cast<uint32_t>(sbox[Byte(in[3], i)]) << 24)) ^
             key[i];
}

TCipher* NewSquare(const std::string& password, TProtection* p) { return new TCipher_Square(password, p); }

constexpr int kRounds = 8;
constexpr int kDecryptOffset = 4 * (kRounds + 1);

}  // namespace

const TCipherClass& TCipher_Square::Class() {
  static const TCipherClass cls{"TCipher_Square", {16, 16, 288}, "TCipher_Square.TestVector not implemented 27",
                                NewSquare};
  return cls;
}

void TCipher_Square::Init(const void* Key, int Size, const void* IVector) {
  InitBegin(Size);
  const Tables& t = T();
  uint8_t key[16] = {};
  if (Key && Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));

  // The round keys k^0 .. k^8 as rows: k0 ^= rotl(k3) ^ C, then each row chains to the one
  // before; C starts at 1 and is multiplied by x each round.
  uint32_t k[kRounds + 1][4];
  for (int i = 0; i < 4; ++i) k[0][i] = platform::LoadLE32(key + 4 * i);
  uint8_t constant = 1;
  for (int r = 1; r <= kRounds; ++r) {
    k[r][0] = k[r - 1][0] ^ ROR(k[r - 1][3], 8) ^ constant;
    for (int i = 1; i < 4; ++i) k[r][i] = k[r - 1][i] ^ k[r][i - 1];
    constant = Mul(constant, 2);
  }

  // Encryption: theta(k^0) .. theta(k^7), k^8. Decryption: k^8, k^7 .. k^1, theta(k^0).
  uint32_t* ek = UserWords();
  uint32_t* dk = ek + kDecryptOffset;
  for (int r = 0; r <= kRounds; ++r)
    for (int i = 0; i < 4; ++i) {
      ek[4 * r + i] = r < kRounds ? ThetaRow(t, k[r][i]) : k[r][i];
      dk[4 * r + i] = r == 0 ? k[kRounds][i] : r < kRounds ? k[kRounds - r][i] : ThetaRow(t, k[0][i]);
    }
  explicit_bzero(key, sizeof(key));
  explicit_bzero(k, sizeof(k));
  InitEnd(IVector);
}

void TCipher_Square::Encode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const Tables& t = T();
  const uint32_t* ek = UserWords();
  uint32_t a[4], b[4];
  for (int i = 0; i < 4; ++i) a[i] = platform::LoadLE32(d + 4 * i) ^ ek[i];
  for (int r = 1; r < kRounds; ++r) {
    Round(t.te, a, b, ek + 4 * r);
    std::memcpy(a, b, sizeof(a));
  }
  LastRound(kSbox, a, b, ek + 4 * kRounds);
  for (int i = 0; i < 4; ++i) platform::StoreLE32(d + 4 * i, b[i]);
}

void TCipher_Square::Decode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const Tables& t = T();
  const uint32_t* dk = UserWords() + kDecryptOffset;
  uint32_t a[4], b[4];
  for (int i = 0; i < 4; ++i) a[i] = platform::LoadLE32(d + 4 * i) ^ dk[i];
  for (int r = 1; r < kRounds; ++r) {
    Round(t.td, a, b, dk + 4 * r);
    std::memcpy(a, b, sizeof(a));
  }
  LastRound(t.inv_sbox, a, b, dk + 4 * kRounds);
  for (int i = 0; i < 4; ++i) platform::StoreLE32(d + 4 * i, b[i]);
}

}  // namespace orv
