// Rijndael with a 16-byte block: the AES round function with table lookups, and the key
// expansion that is the published one for 16- and 24-byte keys and the engine's own for
// 32-byte keys.
#include <array>
#include <cstring>

#include "dbengine/file/orv_cipher.h"
#include "platform/base/byte_order.h"

namespace orv {

namespace {

// Words hold four state bytes with the first byte (row 0, FIPS-197 a0) in the low bits.
using platform::LoadLE32;
using platform::StoreLE32;

constexpr uint8_t XTime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

constexpr uint8_t GMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return r;
}

constexpr uint8_t Rotl8(uint8_t x, int s) { return static_cast<uint8_t>((x << s) | (x >> (8 - s))); }

struct Tables {
  uint8_t sbox[256] = {};
  uint8_t inv[256] = {};
  uint32_t te[4][256] = {};
  uint32_t td[4][256] = {};
};

// The S-box is the multiplicative inverse in GF(2^8) followed by the FIPS-197 affine map; the
// round tables combine it with MixColumns (and the inverses with InvMixColumns).
constexpr Tables MakeTables() {
  Tables t;
  uint8_t p = 1, q = 1;
  do {
    p = static_cast<uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));  // p * 3
    q ^= static_cast<uint8_t>(q << 1);                                // q / 3
    q ^= static_cast<uint8_t>(q << 2);
    q ^= static_cast<uint8_t>(q << 4);
    if (q & 0x80) q ^= 0x09;
    const uint8_t x = static_cast<uint8_t>(q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4));
    t.sbox[p] = static_cast<uint8_t>(x ^ 0x63);
  } while (p != 1);
  t.sbox[0] = 0x63;
  for (int i = 0; i < 256; ++i) t.inv[t.sbox[i]] = static_cast<uint8_t>(i);
  for (int i = 0; i < 256; ++i) {
    const uint8_t s = t.sbox[i];
    const uint32_t e = static_cast<uint32_t>(GMul(s, 2)) | (static_cast<uint32_t>(s) << 8) |
                       (static_cast<uint32_t>(s) << 16) | (static_cast<uint32_t>(GMul(s, 3)) << 24);
    const uint8_t v = t.inv[i];
    const uint32_t d = static_cast<uint32_t>(GMul(v, 14)) | (static_cast<uint32_t>(GMul(v, 9)) << 8) |
                       (static_cast<uint32_t>(GMul(v, 13)) << 16) | (static_cast<uint32_t>(GMul(v, 11)) << 24);
    for (int k = 0; k < 4; ++k) {
      t.te[k][i] = ROL(e, static_cast<unsigned>(8 * k));
      t.td[k][i] = ROL(d, static_cast<unsigned>(8 * k));
    }
  }
  return t;
}

constexpr Tables kT = MakeTables();

inline uint32_t SubWord(uint32_t w) {
  return static_cast<uint32_t>(kT.sbox[w & 0xFF]) | (static_cast<uint32_t>(kT.sbox[(w >> 8) & 0xFF]) << 8) |
         (static_cast<uint32_t>(kT.sbox[(w >> 16) & 0xFF]) << 16) |
         (static_cast<uint32_t>(kT.sbox[(w >> 24) & 0xFF]) << 24);
}

// [a0,a1,a2,a3] -> [a1,a2,a3,a0]
inline uint32_t RotWord(uint32_t w) { return ROR(w, 8); }

inline uint32_t InvMixColumn(uint32_t w) {
  return kT.td[0][kT.sbox[w & 0xFF]] ^ kT.td[1][kT.sbox[(w >> 8) & 0xFF]] ^ kT.td[2][kT.sbox[(w >> 16) & 0xFF]] ^
         kT.td[3][kT.sbox[(w >> 24) & 0xFF]];
}

inline uint8_t B(uint32_t w, int row) { return static_cast<uint8_t>(w >> (8 * row)); }

TCipher* NewRijndael(const std::string& password, TProtection* p) { return new TCipher_Rijndael(password, p); }

constexpr int kScheduleWords = 60;  // 4 x 15 words per direction

}  // namespace

const TCipherClass& TCipher_Rijndael::Class() {
  static const TCipherClass cls{"TCipher_Rijndael", {16, 32, 480}, "TCipher_Rijndael.TestVector not implemented 20",
                                NewRijndael};
  return cls;
}

void TCipher_Rijndael::Init(const void* Key, int Size, const void* IVector) {
  InitBegin(Size);
  SetupKey(Key, Size, false);
  InitEnd(IVector);
}

void TCipher_Rijndael::SetupKey(const void* Key, int Size, bool Published) {
  uint8_t key[32] = {};
  if (Key && Size > 0) std::memcpy(key, Key, static_cast<size_t>(std::min(Size, 32)));
  const int nk = Size <= 16 ? 4 : Size <= 24 ? 6 : 8;
  FRounds = nk + 6;
  const int total = 4 * (FRounds + 1);

  uint32_t w[64] = {};
  for (int i = 0; i < nk; ++i) w[i] = LoadLE32(key + 4 * i);
  uint8_t rcon = 1;
  if (nk == 8 && !Published) {
    // Each new group of eight words is made from the previous one in place: every word is
    // chained to its predecessor, then word 4 takes the SubWord of word 3 and words 5 to 7
    // are chained once more. Databases enciphered with 32-byte keys depend on this.
    uint32_t t[8];
    std::memcpy(t, w, sizeof(t));
    for (int base = 8; base < total; base += 8) {
      t[0] ^= SubWord(RotWord(t[7])) ^ rcon;
      rcon = XTime(rcon);
      for (int j = 1; j <= 7; ++j) t[j] ^= t[j - 1];
      t[4] ^= SubWord(t[3]);
      for (int j = 5; j <= 7; ++j) t[j] ^= t[j - 1];
      for (int j = 0; j < 8 && base + j < total; ++j) w[base + j] = t[j];
    }
  } else {
    for (int i = nk; i < total; ++i) {
      uint32_t temp = w[i - 1];
      if (i % nk == 0) {
        temp = SubWord(RotWord(temp)) ^ rcon;
        rcon = XTime(rcon);
      } else if (nk > 6 && i % nk == 4) {
        temp = SubWord(temp);
      }
      w[i] = w[i - nk] ^ temp;
    }
  }

  // Encryption round keys as bytes in FIPS-197 order, then the decryption round keys of the
  // equivalent inverse cipher (reversed, InvMixColumns applied to the inner ones).
  uint8_t* user = User();
  for (int i = 0; i < total; ++i) StoreLE32(user + 4 * i, w[i]);
  uint32_t* dk = UserWords() + kScheduleWords;
  for (int r = 0; r <= FRounds; ++r)
    for (int c = 0; c < 4; ++c) {
      const uint32_t word = w[4 * (FRounds - r) + c];
      dk[4 * r + c] = (r == 0 || r == FRounds) ? word : InvMixColumn(word);
    }
  explicit_bzero(key, sizeof(key));
  explicit_bzero(w, sizeof(w));
}

void TCipher_Rijndael::Encode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const uint8_t* rk = User();
  uint32_t s[4], t[4];
  for (int c = 0; c < 4; ++c) s[c] = LoadLE32(d + 4 * c) ^ LoadLE32(rk + 4 * c);
  for (int r = 1; r < FRounds; ++r) {
    rk += 16;
    for (int c = 0; c < 4; ++c)
      t[c] = kT.te[0][B(s[c], 0)] ^ kT.te[1][B(s[(c + 1) & 3], 1)] ^ kT.te[2][B(s[(c + 2) & 3], 2)] ^
             kT.te[3][B(s[(c + 3) & 3], 3)] ^ LoadLE32(rk + 4 * c);
    std::memcpy(s, t, sizeof(s));
  }
  rk += 16;
  for (int c = 0; c < 4; ++c) {
    const uint32_t v = static_cast<uint32_t>(kT.sbox[B(s[c], 0)]) |
                       (static_cast<uint32_t>(kT.sbox[B(s[(c + 1) & 3], 1)]) << 8) |
                       (static_cast<uint32_t>(kT.sbox[B(s[(c + 2) & 3], 2)]) << 16) |
                       (static_cast<uint32_t>(kT.sbox[B(s[(c + 3) & 3], 3)]) << 24);
    StoreLE32(d + 4 * c, v ^ LoadLE32(rk + 4 * c));
  }
}

void TCipher_Rijndael::Decode(void* Data) {
  auto* d = static_cast<uint8_t*>(Data);
  const uint32_t* rk = UserWords() + kScheduleWords;
  uint32_t s[4], t[4];
  for (int c = 0; c < 4; ++c) s[c] = LoadLE32(d + 4 * c) ^ rk[c];
  for (int r = 1; r < FRounds; ++r) {
    rk += 4;
    for (int c = 0; c < 4; ++c)
      t[c] = kT.td[0][B(s[c], 0)] ^ kT.td[1][B(s[(c + 3) & 3], 1)] ^ kT.td[2][B(s[(c + 2) & 3], 2)] ^
             kT.td[3][B(s[(c + 1) & 3], 3)] ^ rk[c];
    std::memcpy(s, t, sizeof(s));
  }
  rk += 4;
  for (int c = 0; c < 4; ++c) {
    const uint32_t v = static_cast<uint32_t>(kT.inv[B(s[c], 0)]) |
                       (static_cast<uint32_t>(kT.inv[B(s[(c + 3) & 3], 1)]) << 8) |
                       (static_cast<uint32_t>(kT.inv[B(s[(c + 2) & 3], 2)]) << 16) |
                       (static_cast<uint32_t>(kT.inv[B(s[(c + 1) & 3], 3)]) << 24);
    StoreLE32(d + 4 * c, v ^ rk[c]);
  }
}

}  // namespace orv
