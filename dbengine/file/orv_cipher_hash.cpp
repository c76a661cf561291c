// MD4 (RFC 1320), RIPEMD-128 and RIPEMD-256 as message digests and as protection layers.
#include <algorithm>
#include <cstring>

#include "dbengine/file/orv_cipher.h"
#include "platform/base/byte_order.h"

namespace orv {

namespace {

constexpr uint32_t kInit[8] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                               0x76543210u, 0xFEDCBA98u, 0x89ABCDEFu, 0x01234567u};

// RIPEMD message word order and rotations of the first four rounds, left and right line.
constexpr uint8_t kRL[64] = {0, 1, 2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15,
                             7, 4, 13, 1,  10, 6,  15, 3,  12, 0, 9,  5,  2,  14, 11, 8,
                             3, 10, 14, 4, 9,  15, 8,  1,  2,  7, 0,  6,  13, 11, 5,  12,
                             1, 9,  11, 10, 0, 8,  12, 4,  13, 3, 7,  15, 14, 5,  6,  2};
constexpr uint8_t kRR[64] = {5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                             6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                             15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                             8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
constexpr uint8_t kSL[64] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                             7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                             11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                             11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr uint8_t kSR[64] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                             9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                             9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                             15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr uint32_t kKL[4] = {0x00000000u, 0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu};
constexpr uint32_t kKR[4] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x00000000u};

inline uint32_t F1(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t F2(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t F3(uint32_t x, uint32_t y, uint32_t z) { return (x | ~y) ^ z; }
inline uint32_t F4(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }

inline uint32_t LeftF(int round, uint32_t x, uint32_t y, uint32_t z) {
  switch (round) {
    case 0: return F1(x, y, z);
    case 1: return F2(x, y, z);
    case 2: return F3(x, y, z);
    default: return F4(x, y, z);
  }
}
inline uint32_t RightF(int round, uint32_t x, uint32_t y, uint32_t z) { return LeftF(3 - round, x, y, z); }

// One step of a RIPEMD line; the four variables move one place so that the next step sees
// them in the published order.
inline void Step(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t f, uint32_t x, uint32_t k,
                 unsigned s) {
  const uint32_t t = ROL(a + f + x + k, s);
  a = d;
  d = c;
  c = b;
  b = t;
}

void LoadBlock(const uint8_t* block, uint32_t* x) {
  for (int i = 0; i < 16; ++i) x[i] = platform::LoadLE32(block + 4 * i);
}

THash* NewMD4(TProtection* p) { return new THash_MD4(p); }
THash* NewRipeMD128(TProtection* p) { return new THash_RipeMD128(p); }
THash* NewRipeMD256(TProtection* p) { return new THash_RipeMD256(p); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Class descriptors.

std::unique_ptr<THash> THashClass::Create(TProtection* AProtection) const {
  if (!New) throw std::runtime_error(std::string("Cannot create an instance of the abstract class ") + ClassName);
  return std::unique_ptr<THash>(New(AProtection));
}

THash* THashClass::CreateCounted(TProtection* AProtection) const {
  std::unique_ptr<THash> hash = Create(AProtection);
  THash* raw = hash.release();
  TProtection::MarkCounted(raw);
  return raw;
}

std::string THashClass::CalcBuffer(const void* Buffer, int BufferSize, TProtection* Protection, int Format) const {
  std::unique_ptr<THash> hash = Create(Protection);
  hash->Init();
  hash->Calc(Buffer, BufferSize);
  hash->Done();
  return hash->DigestStr(Format);
}

std::string THashClass::CalcString(const std::string& Data, TProtection* Protection, int Format) const {
  return CalcBuffer(Data.data(), static_cast<int>(Data.size()), Protection, Format);
}

std::string THashClass::CalcStream(TProtectionStream* Stream, int64_t StreamSize, TProtection* Protection,
                                   int Format) const {
  std::unique_ptr<THash> hash = Create(Protection);
  hash->Init();
  if (Stream) {
    if (StreamSize < 0) {
      Stream->SetPosition(0);
      StreamSize = Stream->GetSize();
    }
    std::vector<uint8_t> piece(4096);
    int64_t done = 0;
    try {
      DoProgress(hash.get(), 0, StreamSize);
      while (done < StreamSize) {
        const int64_t got = Stream->Read(piece.data(), std::min<int64_t>(4096, StreamSize - done));
        if (got <= 0) break;
        hash->Calc(piece.data(), static_cast<int>(got));
        done += got;
        DoProgress(hash.get(), done, StreamSize);
      }
    } catch (...) {
      DoProgress(hash.get(), 0, 0);
      throw;
    }
    DoProgress(hash.get(), 0, 0);
  }
  hash->Done();
  return hash->DigestStr(Format);
}

std::string THashClass::CalcFile(const std::string& FileName, TProtection* Protection, int Format) const {
  TProtectionFileStream stream(FileName, TProtectionFileStream::TMode::Read);
  return CalcStream(&stream, -1, Protection, Format);
}

void THashClass::TestVector() const { throw std::runtime_error(TestVectorMessage); }

void THashClass::SelfTest() const {
  GetTestVector();  // raises: the test data is not provided
  TestVector();
}

const THashClass& THash::Class() {
  static const THashClass cls{"THash", 0, "Not implemented 14", nullptr};
  return cls;
}

const THashClass& THash_MD4::Class() {
  static const THashClass cls{"THash_MD4", 16, "THash_MD4.TestVector not implemented 28", NewMD4};
  return cls;
}

const THashClass& THash_RipeMD128::Class() {
  static const THashClass cls{"THash_RipeMD128", 16, "THash_RipeMD128.TestVector not implemented 30", NewRipeMD128};
  return cls;
}

const THashClass& THash_RipeMD256::Class() {
  static const THashClass cls{"THash_RipeMD256", 32, "THash_RipeMD256.TestVector not implemented 31", NewRipeMD256};
  return cls;
}

// ---------------------------------------------------------------------------------------
// THash as a protection layer.

uint8_t* THash::DigestKey() { throw std::runtime_error("Not implemented 14"); }

std::string THash::DigestStr(int Format) { return StrToFormat(DigestKey(), DigestKeySize(), Format); }

void THash::CodeInit(TPAction Action) {
  Init();
  if (Action == paWipe) RndTimeSeed();  // the random source is not provided: raises
  TProtection::CodeInit(Action);
}

void THash::CodeDone(TPAction Action) {
  TProtection::CodeDone(Action);
  if (Action == paCalc)
    Done();
  else
    Init();
}

void THash::CodeBuf(void* Buffer, int BufferSize, TPAction Action) {
  if (Action != paDecode) TProtection::CodeBuf(Buffer, BufferSize, Action);
  if ((FActions & PActionBit(Action)) && Buffer && BufferSize > 0) {
    auto* data = static_cast<uint8_t*>(Buffer);
    const int n = DigestKeySize();
    switch (Action) {
      case paCalc:
        Calc(Buffer, BufferSize);
        break;
      case paScramble:
      case paWipe:
        for (int pos = 0; pos < BufferSize; pos += n) {
          const int piece = std::min(n, BufferSize - pos);
          Calc(data + pos, piece);
          Done();
          std::memcpy(data + pos, DigestKey(), static_cast<size_t>(piece));
        }
        break;
      case paEncode:
      case paDecode:
        // A keystream made by hashing the digest over and over; the same call deciphers.
        for (int pos = 0; pos < BufferSize; pos += n) {
          const int piece = std::min(n, BufferSize - pos);
          Calc(DigestKey(), n);
          Done();
          XORBuffers(data + pos, DigestKey(), piece, data + pos);
        }
        break;
    }
  }
  if (Action == paDecode) TProtection::CodeBuf(Buffer, BufferSize, Action);
}

// ---------------------------------------------------------------------------------------
// MD4 family.

THash_MD4::~THash_MD4() {
  // A wipe the compiler may not drop although the memory is released right after.
  explicit_bzero(FDigest, sizeof(FDigest));
  explicit_bzero(FBuffer, sizeof(FBuffer));
}

void THash_MD4::LoadState(uint32_t* Words, int Count) const {
  for (int i = 0; i < Count; ++i) Words[i] = platform::LoadLE32(FDigest + 4 * i);
}

void THash_MD4::StoreState(const uint32_t* Words, int Count) {
  for (int i = 0; i < Count; ++i) platform::StoreLE32(FDigest + 4 * i, Words[i]);
}

void THash_MD4::Init() {
  std::fill(std::begin(FDigest), std::end(FDigest), uint8_t{0});
  StoreState(kInit, 4);
  std::fill(std::begin(FBuffer), std::end(FBuffer), uint8_t{0});
  FCount = 0;
}

void THash_RipeMD256::Init() {
  THash_MD4::Init();
  StoreState(kInit, 8);
}

void THash_MD4::Calc(const void* Data, int DataSize) {
  if (DataSize <= 0 || !Data) return;
  const auto* data = static_cast<const uint8_t*>(Data);
  size_t size = static_cast<size_t>(DataSize);
  const size_t used = static_cast<size_t>(FCount % 64);
  FCount += size;
  if (used) {
    const size_t fill = 64 - used;
    if (size < fill) {
      std::memmove(FBuffer + used, data, size);
      return;
    }
    std::memmove(FBuffer + used, data, fill);
    Transform(FBuffer);
    data += fill;
    size -= fill;
  }
  while (size >= 64) {
    Transform(data);
    data += 64;
    size -= 64;
  }
  std::memmove(FBuffer, data, size);
}

void THash_MD4::Done() {
  size_t i = static_cast<size_t>(FCount % 64);
  FBuffer[i++] = 0x80;
  if (i > 56) {
    std::fill(FBuffer + i, FBuffer + 64, uint8_t{0});
    Transform(FBuffer);
    i = 0;
  }
  std::fill(FBuffer + i, FBuffer + 64, uint8_t{0});
  const uint64_t bits = FCount * 8;
  platform::StoreLE32(FBuffer + 56, static_cast<uint32_t>(bits));
  platform::StoreLE32(FBuffer + 60, static_cast<uint32_t>(bits >> 32));
  Transform(FBuffer);
  std::fill(std::begin(FBuffer), std::end(FBuffer), uint8_t{0});
}

void THash_MD4::Transform(const uint8_t* Block) {
  uint32_t x[16];
  LoadBlock(Block, x);
  uint32_t h[4];
  LoadState(h, 4);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3];

  auto r1 = [&](uint32_t& w, uint32_t p, uint32_t q, uint32_t r, int k, unsigned s) {
    w = ROL(w + ((p & q) | (~p & r)) + x[k], s);
  };
  auto r2 = [&](uint32_t& w, uint32_t p, uint32_t q, uint32_t r, int k, unsigned s) {
    w = ROL(w + ((p & q) | (p & r) | (q & r)) + x[k] + 0x5A827999u, s);
  };
  auto r3 = [&](uint32_t& w, uint32_t p, uint32_t q, uint32_t r, int k, unsigned s) {
    w = ROL(w + (p ^ q ^ r) + x[k] + 0x6ED9EBA1u, s);
  };
  for (int i = 0; i < 16; i += 4) {
    r1(a, b, c, d, i, 3);
    r1(d, a, b, c, i + 1, 7);
    r1(c, d, a, b, i + 2, 11);
    r1(b, c, d, a, i + 3, 19);
  }
  for (int i = 0; i < 4; ++i) {
    r2(a, b, c, d, i, 3);
    r2(d, a, b, c, i + 4, 5);
    r2(c, d, a, b, i + 8, 9);
    r2(b, c, d, a, i + 12, 13);
  }
  constexpr int kOrder3[4] = {0, 2, 1, 3};
  for (int i : kOrder3) {
    r3(a, b, c, d, i, 3);
    r3(d, a, b, c, i + 8, 9);
    r3(c, d, a, b, i + 4, 11);
    r3(b, c, d, a, i + 12, 15);
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  StoreState(h, 4);
}

void THash_RipeMD128::Transform(const uint8_t* Block) {
  uint32_t x[16];
  LoadBlock(Block, x);
  uint32_t h[4];
  LoadState(h, 4);
  uint32_t al = h[0], bl = h[1], cl = h[2], dl = h[3];
  uint32_t ar = h[0], br = h[1], cr = h[2], dr = h[3];
  for (int j = 0; j < 64; ++j) {
    const int round = j / 16;
    Step(al, bl, cl, dl, LeftF(round, bl, cl, dl), x[kRL[j]], kKL[round], kSL[j]);
    Step(ar, br, cr, dr, RightF(round, br, cr, dr), x[kRR[j]], kKR[round], kSR[j]);
  }
  const uint32_t t = h[1] + cl + dr;
  h[1] = h[2] + dl + ar;
  h[2] = h[3] + al + br;
  h[3] = h[0] + bl + cr;
  h[0] = t;
  StoreState(h, 4);
}

void THash_RipeMD256::Transform(const uint8_t* Block) {
  uint32_t x[16];
  LoadBlock(Block, x);
  uint32_t h[8];
  LoadState(h, 8);
  uint32_t al = h[0], bl = h[1], cl = h[2], dl = h[3];
  uint32_t ar = h[4], br = h[5], cr = h[6], dr = h[7];
  for (int j = 0; j < 64; ++j) {
    const int round = j / 16;
    Step(al, bl, cl, dl, LeftF(round, bl, cl, dl), x[kRL[j]], kKL[round], kSL[j]);
    Step(ar, br, cr, dr, RightF(round, br, cr, dr), x[kRR[j]], kKR[round], kSR[j]);
    // After each round the two lines exchange one chaining word: A, B, C, D in turn.
    if (j % 16 == 15) {
      switch (round) {
        case 0: std::swap(al, ar); break;
        case 1: std::swap(bl, br); break;
        case 2: std::swap(cl, cr); break;
        default: std::swap(dl, dr); break;
      }
    }
  }
  h[0] += al;
  h[1] += bl;
  h[2] += cl;
  h[3] += dl;
  h[4] += ar;
  h[5] += br;
  h[6] += cr;
  h[7] += dr;
  StoreState(h, 8);
}

}  // namespace orv
