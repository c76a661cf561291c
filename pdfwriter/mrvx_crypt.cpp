#include "pdfwriter/mrvx_crypt.h"

#include <cstring>

#include "pdfwriter/mrvx_types.h"

namespace pdfwriter {
namespace {

constexpr uint8_t PADDING[64] = {0x80};

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }
inline uint32_t rot(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline void FF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a = rot(a + F(b, c, d) + x + ac, s) + b;
}
inline void GG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a = rot(a + G(b, c, d) + x + ac, s) + b;
}
inline void HH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a = rot(a + H(b, c, d) + x + ac, s) + b;
}
inline void II(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a = rot(a + I(b, c, d) + x + ac, s) + b;
}

void Decode(uint32_t* out, const uint8_t* in, size_t len) {
  for (size_t i = 0, j = 0; j < len; ++i, j += 4)
    out[i] = static_cast<uint32_t>(in[j]) | static_cast<uint32_t>(in[j + 1]) << 8 |
             static_cast<uint32_t>(in[j + 2]) << 16 | static_cast<uint32_t>(in[j + 3]) << 24;
}

void Encode(uint8_t* out, const uint32_t* in, size_t len) {
  for (size_t i = 0, j = 0; j < len; ++i, j += 4) {
    out[j] = static_cast<uint8_t>(in[i]);
    out[j + 1] = static_cast<uint8_t>(in[i] >> 8);
    out[j + 2] = static_cast<uint8_t>(in[i] >> 16);
    out[j + 3] = static_cast<uint8_t>(in[i] >> 24);
  }
}

void Transform(std::array<uint32_t, 4>& state, const uint8_t* block) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], x[16];
  Decode(x, block, 64);

  FF(a, b, c, d, x[0], 7, 0xd76aa478); FF(d, a, b, c, x[1], 12, 0xe8c7b756);
  FF(c, d, a, b, x[2], 17, 0x242070db); FF(b, c, d, a, x[3], 22, 0xc1bdceee);
  FF(a, b, c, d, x[4], 7, 0xf57c0faf); FF(d, a, b, c, x[5], 12, 0x4787c62a);
  FF(c, d, a, b, x[6], 17, 0xa8304613); FF(b, c, d, a, x[7], 22, 0xfd469501);
  FF(a, b, c, d, x[8], 7, 0x698098d8); FF(d, a, b, c, x[9], 12, 0x8b44f7af);
  FF(c, d, a, b, x[10], 17, 0xffff5bb1); FF(b, c, d, a, x[11], 22, 0x895cd7be);
  FF(a, b, c, d, x[12], 7, 0x6b901122); FF(d, a, b, c, x[13], 12, 0xfd987193);
  FF(c, d, a, b, x[14], 17, 0xa679438e); FF(b, c, d, a, x[15], 22, 0x49b40821);

  GG(a, b, c, d, x[1], 5, 0xf61e2562); GG(d, a, b, c, x[6], 9, 0xc040b340);
  GG(c, d, a, b, x[11], 14, 0x265e5a51); GG(b, c, d, a, x[0], 20, 0xe9b6c7aa);
  GG(a, b, c, d, x[5], 5, 0xd62f105d); GG(d, a, b, c, x[10], 9, 0x02441453);
  GG(c, d, a, b, x[15], 14, 0xd8a1e681); GG(b, c, d, a, x[4], 20, 0xe7d3fbc8);
  GG(a, b, c, d, x[9], 5, 0x21e1cde6); GG(d, a, b, c, x[14], 9, 0xc33707d6);
  GG(c, d, a, b, x[3], 14, 0xf4d50d87); GG(b, c, d, a, x[8], 20, 0x455a14ed);
  GG(a, b, c, d, x[13], 5, 0xa9e3e905); GG(d, a, b, c, x[2], 9, 0xfcefa3f8);
  GG(c, d, a, b, x[7], 14, 0x676f02d9); GG(b, c, d, a, x[12], 20, 0x8d2a4c8a);

  HH(a, b, c, d, x[5], 4, 0xfffa3942); HH(d, a, b, c, x[8], 11, 0x8771f681);
  HH(c, d, a, b, x[11], 16, 0x6d9d6122); HH(b, c, d, a, x[14], 23, 0xfde5380c);
  HH(a, b, c, d, x[1], 4, 0xa4beea44); HH(d, a, b, c, x[4], 11, 0x4bdecfa9);
  HH(c, d, a, b, x[7], 16, 0xf6bb4b60); HH(b, c, d, a, x[10], 23, 0xbebfbc70);
  HH(a, b, c, d, x[13], 4, 0x289b7ec6); HH(d, a, b, c, x[0], 11, 0xeaa127fa);
  HH(c, d, a, b, x[3], 16, 0xd4ef3085); HH(b, c, d, a, x[6], 23, 0x04881d05);
  HH(a, b, c, d, x[9], 4, 0xd9d4d039); HH(d, a, b, c, x[12], 11, 0xe6db99e5);
  HH(c, d, a, b, x[15], 16, 0x1fa27cf8); HH(b, c, d, a, x[2], 23, 0xc4ac5665);

  II(a, b, c, d, x[0], 6, 0xf4292244); II(d, a, b, c, x[7], 10, 0x432aff97);
  II(c, d, a, b, x[14], 15, 0xab9423a7); II(b, c, d, a, x[5], 21, 0xfc93a039);
  II(a, b, c, d, x[12], 6, 0x655b59c3); II(d, a, b, c, x[3], 10, 0x8f0ccc92);
  II(c, d, a, b, x[10], 15, 0xffeff47d); II(b, c, d, a, x[1], 21, 0x85845dd1);
  II(a, b, c, d, x[8], 6, 0x6fa87e4f); II(d, a, b, c, x[15], 10, 0xfe2ce6e0);
  II(c, d, a, b, x[6], 15, 0xa3014314); II(b, c, d, a, x[13], 21, 0x4e0811a1);
  II(a, b, c, d, x[4], 6, 0xf7537e82); II(d, a, b, c, x[11], 10, 0xbd3af235);
  II(c, d, a, b, x[2], 15, 0x2ad7d2bb); II(b, c, d, a, x[9], 21, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void MD5Init(MD5Context& Context) {
  Context.Count = {0, 0};
  Context.State = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  Context.Buffer.fill(0);
}

void MD5Update(MD5Context& Context, const uint8_t* Input, size_t Length) {
  size_t index = (Context.Count[0] >> 3) & 0x3F;
  const uint64_t bits = (static_cast<uint64_t>(Context.Count[1]) << 32 | Context.Count[0]) +
                        (static_cast<uint64_t>(Length) << 3);
  Context.Count[0] = static_cast<uint32_t>(bits);
  Context.Count[1] = static_cast<uint32_t>(bits >> 32);

  const size_t part = 64 - index;
  size_t i = 0;
  if (Length >= part) {
    std::memcpy(&Context.Buffer[index], Input, part);
    Transform(Context.State, Context.Buffer.data());
    for (i = part; i + 63 < Length; i += 64) Transform(Context.State, Input + i);
    index = 0;
  }
  if (Length > i) std::memcpy(&Context.Buffer[index], Input + i, Length - i);
}

void MD5Final(MD5Context& Context, MD5Digest& Digest) {
  uint8_t bits[8];
  Encode(bits, Context.Count.data(), 8);
  const size_t index = (Context.Count[0] >> 3) & 0x3F;
  const size_t pad_len = index < 56 ? 56 - index : 120 - index;
  MD5Update(Context, PADDING, pad_len);
  MD5Update(Context, bits, 8);
  Encode(Digest.data(), Context.State.data(), 16);
  MD5Init(Context);  // nothing of the message stays behind
}

MD5Digest MD5String(const uint8_t* M, size_t len) {
  MD5Context ctx;
  MD5Init(ctx);
  MD5Update(ctx, M, len);
  MD5Digest d{};
  MD5Final(ctx, d);
  return d;
}

std::string MD5Print(const MD5Digest& D) {
  static const char Digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : D) {
    out.push_back(Digits[b >> 4]);
    out.push_back(Digits[b & 0x0F]);
  }
  return out;
}

std::string MD5CalcString(std::string_view Data) {
  return MD5Print(MD5String(reinterpret_cast<const uint8_t*>(Data.data()), Data.size()));
}

const std::array<uint8_t, 32> PadStr = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                       0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                       0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

void RC4Init(TRC4Data& Data, const uint8_t* Key, size_t len) {
  if (len < 1 || len > 256 || !Key) throw EMRVXError("RC4: Invalid key length");
  for (int i = 0; i < 256; ++i) Data.Key[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + Data.Key[i] + Key[i % len]);
    std::swap(Data.Key[i], Data.Key[j]);
  }
  Data.OrgKey = Data.Key;
  Data.I = 0;
  Data.J = 0;
}

void RC4Crypt(TRC4Data& Data, const uint8_t* InData, uint8_t* OutData, size_t len) {
  uint8_t i = Data.I, j = Data.J;
  for (size_t n = 0; n < len; ++n) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + Data.Key[i]);
    std::swap(Data.Key[i], Data.Key[j]);
    OutData[n] = InData[n] ^ Data.Key[static_cast<uint8_t>(Data.Key[i] + Data.Key[j])];
  }
  Data.I = i;
  Data.J = j;
}

namespace {

uint8_t XTime(uint8_t x) { return static_cast<uint8_t>(x << 1 ^ ((x & 0x80) ? 0x1B : 0)); }

uint8_t GfMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return r;
}

// The S-box from its definition: the multiplicative inverse in GF(2^8), then the affine map.
struct SBox {
  uint8_t s[256];
  SBox() {
    for (int i = 0; i < 256; ++i) {
      uint8_t inv = 0;
      if (i)
        for (int j = 1; j < 256; ++j)
          if (GfMul(static_cast<uint8_t>(i), static_cast<uint8_t>(j)) == 1) {
            inv = static_cast<uint8_t>(j);
            break;
          }
      uint8_t x = inv, r = inv;
      for (int k = 0; k < 4; ++k) {
        x = static_cast<uint8_t>(x << 1 | x >> 7);
        r ^= x;
      }
      s[i] = static_cast<uint8_t>(r ^ 0x63);
    }
  }
};

const uint8_t* Sbox() {
  static const SBox box;
  return box.s;
}

void ExpandKey(const uint8_t key[16], uint8_t rk[176]) {
  const uint8_t* sb = Sbox();
  std::memcpy(rk, key, 16);
  uint8_t rcon = 1;
  for (int i = 16; i < 176; i += 4) {
    uint8_t t[4] = {rk[i - 4], rk[i - 3], rk[i - 2], rk[i - 1]};
    if (i % 16 == 0) {
      const uint8_t first = t[0];
      t[0] = static_cast<uint8_t>(sb[t[1]] ^ rcon);
      t[1] = sb[t[2]];
      t[2] = sb[t[3]];
      t[3] = sb[first];
      rcon = XTime(rcon);
    }
    for (int k = 0; k < 4; ++k) rk[i + k] = static_cast<uint8_t>(rk[i - 16 + k] ^ t[k]);
  }
}

void EncryptBlock(const uint8_t rk[176], uint8_t st[16]) {
  const uint8_t* sb = Sbox();
  for (int i = 0; i < 16; ++i) st[i] ^= rk[i];
  for (int round = 1; round <= 10; ++round) {
    uint8_t t[16];
    // SubBytes and ShiftRows (column-major state: byte r + 4c is row r, column c).
    for (int c = 0; c < 4; ++c)
      for (int r = 0; r < 4; ++r) t[r + 4 * c] = sb[st[r + 4 * ((c + r) % 4)]];
    if (round < 10) {
      for (int c = 0; c < 4; ++c) {
        uint8_t* col = t + 4 * c;
        const uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        const uint8_t all = a0 ^ a1 ^ a2 ^ a3;
        col[0] = static_cast<uint8_t>(a0 ^ all ^ XTime(a0 ^ a1));
        col[1] = static_cast<uint8_t>(a1 ^ all ^ XTime(a1 ^ a2));
        col[2] = static_cast<uint8_t>(a2 ^ all ^ XTime(a2 ^ a3));
        col[3] = static_cast<uint8_t>(a3 ^ all ^ XTime(a3 ^ a0));
      }
    }
    for (int i = 0; i < 16; ++i) st[i] = static_cast<uint8_t>(t[i] ^ rk[16 * round + i]);
  }
}

}  // namespace

void AES128EncryptBlock(const uint8_t Key[16], const uint8_t In[16], uint8_t Out[16]) {
  uint8_t rk[176];
  ExpandKey(Key, rk);
  std::memcpy(Out, In, 16);
  EncryptBlock(rk, Out);
}

std::string AES128CBCEncrypt(const uint8_t Key[16], const uint8_t IV[16], std::string_view Data) {
  uint8_t rk[176];
  ExpandKey(Key, rk);
  const size_t pad = 16 - Data.size() % 16;
  std::string out(16 + Data.size() + pad, '\0');
  auto* o = reinterpret_cast<uint8_t*>(out.data());
  std::memcpy(o, IV, 16);
  std::memcpy(o + 16, Data.data(), Data.size());
  std::memset(o + 16 + Data.size(), static_cast<int>(pad), pad);
  for (size_t at = 16; at < out.size(); at += 16) {
    for (size_t i = 0; i < 16; ++i) o[at + i] ^= o[at - 16 + i];
    EncryptBlock(rk, o + at);
  }
  return out;
}

}  // namespace pdfwriter
