// The cipher framework: keying, the chaining register, the eight coding modes and the
// registry. The block functions of the seven ciphers live in orv_cipher_<name>.cpp.
#include "dbengine/file/orv_cipher.h"

#include <algorithm>
#include <cstring>

namespace orv {

namespace {

struct CipherRegistry {
  std::mutex lock;
  std::vector<TCipherListItem> items;
};

CipherRegistry& Registry() {
  static CipherRegistry* registry = new CipherRegistry;
  return *registry;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool AddCipher(const TCipherClass* ACipher, const std::string& AName, const std::string& ADescription) {
  if (!ACipher) return false;
  std::string name = Trim(AName);
  if (name.empty()) {
    std::string_view class_name = ACipher->ClassName;
    if (!class_name.empty() && class_name.front() == 'T') class_name.remove_prefix(1);
    name = GetShortClassName(class_name);
  }
  std::string text = name + "=" + ADescription;
  CipherRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (TCipherListItem& item : registry.items)
    if (item.Object == ACipher) {
      item.Text = std::move(text);
      return true;
    }
  registry.items.push_back({std::move(text), ACipher});
  return true;
}

// A wipe the compiler may not drop because the memory is released right after it.
void Wipe(void* p, size_t n) {
  if (n) explicit_bzero(p, n);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Class descriptors.

std::unique_ptr<TCipher> TCipherClass::Create(const std::string& Password, TProtection* AProtection) const {
  return std::unique_ptr<TCipher>(New(Password, AProtection));
}

void TCipherClass::TestVector() const { throw std::runtime_error(TestVectorMessage); }

void TCipherClass::SelfTest() const {
  GetTestVector();  // raises: the framework's test data is not provided
  TestVector();
}

// ---------------------------------------------------------------------------------------
// TCipher.

TCipher::TCipher(const TCipherContext& Context, TProtection* AProtection)
    : TProtection(AProtection),
      FHashClass(&DefaultHashClass()),
      FKeySize(Context.KeySize),
      FBufSize(Context.BufSize),
      FUserSize(Context.UserSize),
      FBuffer(static_cast<size_t>(Context.BufSize)),
      FVector(static_cast<size_t>(Context.BufSize)),
      FFeedback(static_cast<size_t>(Context.BufSize)),
      FUser(static_cast<size_t>((Context.UserSize + 3) / 4)) {
  TCipher::Protect();
}

void TCipher::FinishCreate(const std::string& Password) {
  if (!Password.empty()) InitKey(Password, nullptr);
}

TCipher::~TCipher() {
  TCipher::Protect();
  Wipe(FUser.data(), FUser.size() * sizeof(uint32_t));
  Wipe(FBuffer.data(), FBuffer.size());
}

void TCipher::SetFlag(int Index, bool Value) {
  if (Value)
    FFlags |= 1u << Index;
  else
    FFlags &= ~(1u << Index);
}

void TCipher::Protect() {
  SetFlag(0, false);
  SetFlag(1, false);
  const size_t user_bytes = static_cast<size_t>(FUserSize);
  for (uint8_t fill : {uint8_t{0xAA}, uint8_t{0x55}}) {
    std::fill(FVector.begin(), FVector.end(), fill);
    std::fill(FFeedback.begin(), FFeedback.end(), fill);
    std::fill(FBuffer.begin(), FBuffer.end(), fill);
    std::memset(User(), fill, user_bytes);
  }
  std::fill(FVector.begin(), FVector.end(), uint8_t{0xFF});
  std::fill(FFeedback.begin(), FFeedback.end(), uint8_t{0xFF});
  std::fill(FBuffer.begin(), FBuffer.end(), uint8_t{0});
  std::memset(User(), 0, user_bytes);
}

void TCipher::InitBegin(int& Size) {
  SetFlag(1, false);
  Protect();
  if (Size < 0) Size = 0;
  if (Size > FKeySize) {
    if (CipherState().CheckCipherKeySize)
      throw ECipherException(errInvalidKeySize, std::string("Length from Encryptionkey is invalid.\r\nKeysize for ") +
                                                    ClassName() + " must be to 0-" + std::to_string(FKeySize) +
                                                    " bytes");
    Size = FKeySize;
  }
}

void TCipher::InitEnd(const void* IVector) {
  if (IVector)
    std::memmove(FVector.data(), IVector, static_cast<size_t>(FBufSize));
  else
    Encode(FVector.data());
  FFeedback = FVector;
  SetFlag(1, true);
}

void TCipher::Init(const void*, int, const void*) {}

void TCipher::InitKey(const std::string& Key, const void* IVector) {
  THash* hash = GetHash();
  hash->Init();
  hash->Calc(Key.data(), static_cast<int>(Key.size()));
  hash->Done();
  const int digest_size = hash->DigestKeySize();
  Init(hash->DigestKey(), std::min(FKeySize, digest_size), IVector);
  // The digest is the key: it must not stay readable in the hash object. ECB cannot code a
  // digest shorter than its block (the 24-byte block of 3TDES); it is zeroed instead.
  if (FMode == cmECB && digest_size % FBufSize != 0)
    std::memset(hash->DigestKey(), 0, static_cast<size_t>(digest_size));
  else
    EncodeBuffer(hash->DigestKey(), hash->DigestKey(), digest_size);
  Done();
  SetFlag(0, true);
}

void TCipher::Done() {
  if (MemCompare(FFeedback.data(), FVector.data(), FBufSize) != 0) {
    FBuffer = FFeedback;
    FFeedback = FVector;
  }
}

THash* TCipher::GetHash() {
  TProtection* current = FHash.Get();
  if (auto* hash = dynamic_cast<THash*>(current)) return hash;
  const THashClass& cls = FHashClass ? *FHashClass : DefaultHashClass();
  THash* hash = cls.CreateCounted();
  FHash.Set(hash);
  return hash;
}

void TCipher::SetHashClass(const THashClass* Value) {
  if (Value == FHashClass) return;
  FHash.Reset();
  FHashClass = Value ? Value : &DefaultHashClass();
}

void TCipher::CheckInitialized() const {
  if (!GetFlag(1))
    throw ECipherException(errNotInitialized,
                           std::string(ClassName()) + " is not initialized call Init() or InitKey() before.");
}

namespace {

// The cipher-feedback register moves one byte towards its start and takes a new last byte.
void ShiftIn(std::vector<uint8_t>& F, uint8_t byte) {
  std::memmove(F.data(), F.data() + 1, F.size() - 1);
  F.back() = byte;
}

}  // namespace

void TCipher::EncodeBuffer(const void* Source, void* Dest, int DataSize) {
  CheckInitialized();
  if (DataSize <= 0) return;
  const size_t n = static_cast<size_t>(FBufSize);
  const size_t size = static_cast<size_t>(DataSize);
  const size_t whole = size / n * n;
  const size_t tail = size - whole;
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  uint8_t* F = FFeedback.data();
  uint8_t* B = FBuffer.data();

  switch (FMode) {
    case cmCTS:
    case cmCBC:
      if (out != in) std::memmove(out, in, size);
      for (size_t pos = 0; pos < whole; pos += n) {
        uint8_t* block = out + pos;
        XORBuffers(block, F, FBufSize, block);
        Encode(block);
        if (FMode == cmCTS)
          XORBuffers(F, block, FBufSize, F);
        else
          std::memcpy(F, block, n);
      }
      if (tail) {
        std::memcpy(B, F, n);
        Encode(B);
        XORBuffers(out + whole, B, static_cast<int>(tail), out + whole);
        XORBuffers(F, B, FBufSize, F);
      }
      break;

    case cmCFB:
    case cmOFB:
      for (size_t i = 0; i < size; ++i) {
        std::memcpy(B, F, n);
        Encode(B);
        const uint8_t c = static_cast<uint8_t>(in[i] ^ B[0]);
        out[i] = c;
        ShiftIn(FFeedback, FMode == cmCFB ? c : B[0]);
        F = FFeedback.data();
      }
      break;

    case cmECB:
      // A part shorter than a block has no defined coding in this mode; refusing it before
      // anything is written keeps the caller's data intact.
      if (tail)
        throw ECipherException(errGeneric, std::string(ClassName()) + ": mode ECB codes only whole blocks of " +
                                               std::to_string(n) + " bytes, not " + std::to_string(size));
      if (out != in) std::memmove(out, in, size);
      for (size_t pos = 0; pos < whole; pos += n) Encode(out + pos);
      break;

    case cmCTSMAC:
    case cmCBCMAC:
      for (size_t pos = 0; pos < whole; pos += n) {
        XORBuffers(in + pos, F, FBufSize, B);
        Encode(B);
        if (FMode == cmCTSMAC)
          XORBuffers(B, F, FBufSize, F);
        else
          std::memcpy(F, B, n);
      }
      if (tail) {
        // The last bytes take part as a block filled up with zero bytes, so that they change
        // the code like every other byte of the message.
        std::memcpy(B, F, n);
        XORBuffers(B, in + whole, static_cast<int>(tail), B);
        Encode(B);
        XORBuffers(B, F, FBufSize, F);
      }
      break;

    case cmCFBMAC:
      for (size_t i = 0; i < size; ++i) {
        std::memcpy(B, F, n);
        Encode(B);
        ShiftIn(FFeedback, static_cast<uint8_t>(in[i] ^ B[0]));
        F = FFeedback.data();
      }
      break;
  }
}

void TCipher::DecodeBuffer(const void* Source, void* Dest, int DataSize) {
  CheckInitialized();
  if (DataSize <= 0) return;
  const size_t n = static_cast<size_t>(FBufSize);
  const size_t size = static_cast<size_t>(DataSize);
  const size_t whole = size / n * n;
  const size_t tail = size - whole;
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  uint8_t* F = FFeedback.data();
  uint8_t* B = FBuffer.data();

  switch (FMode) {
    case cmCTS:
    case cmCBC: {
      if (out != in) std::memmove(out, in, size);
      std::vector<uint8_t> cipher_block(n);
      for (size_t pos = 0; pos < whole; pos += n) {
        uint8_t* block = out + pos;
        std::memcpy(cipher_block.data(), block, n);
        Decode(block);
        XORBuffers(block, F, FBufSize, block);
        if (FMode == cmCTS)
          XORBuffers(F, cipher_block.data(), FBufSize, F);
        else
          std::memcpy(F, cipher_block.data(), n);
      }
      if (tail) {
        std::memcpy(B, F, n);
        Encode(B);
        XORBuffers(out + whole, B, static_cast<int>(tail), out + whole);
        XORBuffers(F, B, FBufSize, F);
      }
      break;
    }

    case cmCFB:
    case cmOFB:
      for (size_t i = 0; i < size; ++i) {
        std::memcpy(B, F, n);
        Encode(B);
        const uint8_t c = in[i];
        out[i] = static_cast<uint8_t>(c ^ B[0]);
        ShiftIn(FFeedback, FMode == cmCFB ? c : B[0]);
        F = FFeedback.data();
      }
      break;

    case cmECB:
      if (tail)
        throw ECipherException(errGeneric, std::string(ClassName()) + ": mode ECB codes only whole blocks of " +
                                               std::to_string(n) + " bytes, not " + std::to_string(size));
      if (out != in) std::memmove(out, in, size);
      for (size_t pos = 0; pos < whole; pos += n) Decode(out + pos);
      break;

    case cmCTSMAC:
    case cmCBCMAC:
    case cmCFBMAC:
      // A code of authenticity is computed the same way in both directions.
      EncodeBuffer(Source, Dest, DataSize);
      break;
  }
}

void TCipher::CodeInit(TPAction Action) {
  CheckInitialized();
  if (Action == paWipe)
    RndTimeSeed();  // the random source is not provided: raises
  else if (Action != paCalc)
    Done();
  TProtection::CodeInit(Action);
}

void TCipher::CodeDone(TPAction Action) {
  TProtection::CodeDone(Action);
  if (Action == paWipe)
    RndTimeSeed();
  else if (Action != paCalc)
    Done();
}

void TCipher::CodeBuf(void* Buffer, int BufferSize, TPAction Action) {
  if (Action == paDecode) {
    if (FActions & PActionBit(paDecode)) DecodeBuffer(Buffer, Buffer, BufferSize);
    TProtection::CodeBuf(Buffer, BufferSize, Action);
  } else {
    TProtection::CodeBuf(Buffer, BufferSize, Action);
    if (FActions & PActionBit(Action)) EncodeBuffer(Buffer, Buffer, BufferSize);
  }
}

// ---------------------------------------------------------------------------------------
// Registry and state.

bool RegisterCipher(const TCipherClass* ACipher, const std::string& AName, const std::string& ADescription) {
  CipherState();  // the start-up registration comes first
  return AddCipher(ACipher, AName, ADescription);
}

std::vector<TCipherListItem> CipherList() {
  CipherState();
  CipherRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  return registry.items;
}

void TCipherState::Reset() {
  CheckCipherKeySize = false;
  DefaultHashClass = &THash_RipeMD256::Class();
  {
    CipherRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.items.clear();
  }
  AddCipher(&TCipher_Rijndael::Class(), "", "");
}

TCipherState& CipherState() {
  static TCipherState* state = [] {
    auto* s = new TCipherState;  // never destroyed: ciphers may be freed after exit starts
    s->Reset();
    return s;
  }();
  return *state;
}

const THashClass& DefaultHashClass() {
  const THashClass* cls = CipherState().DefaultHashClass;
  return cls ? *cls : THash_RipeMD256::Class();
}

}  // namespace orv
