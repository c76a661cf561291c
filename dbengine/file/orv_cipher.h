#pragma once
// The engine's block ciphers and message digests, built on the protection objects of
// orv_cipher_util.h. Database pages are enciphered with TCipher in mode cmCTS, keyed from a
// password through a RIPEMD digest (orv_disk_engine_encryption.h).
//
// Two key schedules here deliberately differ from the published algorithms and must stay as
// they are, because every database enciphered with them depends on them: Rijndael with keys
// longer than 24 bytes, and the odd subkeys of Twofish (see TCipher_Rijndael and
// TCipher_Twofish).
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/file/orv_cipher_util.h"

namespace orv {

// ---------------------------------------------------------------------------------------
// Message digests.

class THash;

// Stands for a hash class: its name, digest size and constructor, and the one-call digests.
struct THashClass {
  const char* ClassName;
  int DigestKeySize;
  const char* TestVectorMessage;
  THash* (*New)(TProtection* AProtection);

  std::unique_ptr<THash> Create(TProtection* AProtection = nullptr) const;
  // An instance owned by its counted references (see TProtection).
  THash* CreateCounted(TProtection* AProtection = nullptr) const;
  // Digests returned as text in Format (fmtDEFAULT: Base64). The chained protection takes no
  // part in them.
  std::string CalcBuffer(const void* Buffer, int BufferSize, TProtection* Protection = nullptr,
                         int Format = fmtDEFAULT) const;
  std::string CalcString(const std::string& Data, TProtection* Protection = nullptr, int Format = fmtDEFAULT) const;
  // StreamSize below 0: the whole stream from position 0.
  std::string CalcStream(TProtectionStream* Stream, int64_t StreamSize, TProtection* Protection = nullptr,
                         int Format = fmtDEFAULT) const;
  std::string CalcFile(const std::string& FileName, TProtection* Protection = nullptr, int Format = fmtDEFAULT) const;
  // Neither the expected digests nor the test data are provided: both raise.
  [[noreturn]] void TestVector() const;
  [[noreturn]] void SelfTest() const;
};

class THash : public TProtection {
 public:
  explicit THash(TProtection* AProtection = nullptr) : TProtection(AProtection) {}

  static const THashClass& Class();
  virtual const THashClass& GetClass() const { return Class(); }
  const char* ClassName() const override { return GetClass().ClassName; }

  virtual void Init() = 0;
  // Adds DataSize bytes (nothing when DataSize <= 0).
  virtual void Calc(const void* Data, int DataSize) = 0;
  // Pads and finishes; the digest is then at DigestKey. Neither the count nor the state is
  // reset: a further Calc continues from the finished state.
  virtual void Done() = 0;
  virtual uint8_t* DigestKey();
  virtual int DigestKeySize() const { return GetClass().DigestKeySize; }
  std::string DigestStr(int Format = fmtDEFAULT);

  void CodeInit(TPAction Action) override;
  void CodeDone(TPAction Action) override;
  void CodeBuf(void* Buffer, int BufferSize, TPAction Action) override;
};

class THash_MD4 : public THash {
 public:
  explicit THash_MD4(TProtection* AProtection = nullptr) : THash(AProtection) { THash_MD4::Init(); }
  ~THash_MD4() override;

  static const THashClass& Class();
  const THashClass& GetClass() const override { return Class(); }

  void Init() override;
  void Calc(const void* Data, int DataSize) override;
  void Done() override;
  uint8_t* DigestKey() override { return FDigest; }

 protected:
  // One 64-byte block of sixteen little-endian words into the chaining state.
  virtual void Transform(const uint8_t* Block);
  void LoadState(uint32_t* Words, int Count) const;
  void StoreState(const uint32_t* Words, int Count);

  // A byte count of 64 bits, so that the bit length in the padding is the published one for
  // messages of any size.
  uint64_t FCount = 0;
  uint8_t FBuffer[64] = {};
  // Ten chaining words, little-endian; MD4 and RIPEMD-128 use four, RIPEMD-256 eight.
  uint8_t FDigest[40] = {};
};

class THash_RipeMD128 : public THash_MD4 {
 public:
  explicit THash_RipeMD128(TProtection* AProtection = nullptr) : THash_MD4(AProtection) {}
  static const THashClass& Class();
  const THashClass& GetClass() const override { return Class(); }

 protected:
  void Transform(const uint8_t* Block) override;
};

class THash_RipeMD256 : public THash_MD4 {
 public:
  explicit THash_RipeMD256(TProtection* AProtection = nullptr) : THash_MD4(AProtection) { THash_RipeMD256::Init(); }
  static const THashClass& Class();
  const THashClass& GetClass() const override { return Class(); }
  void Init() override;

 protected:
  void Transform(const uint8_t* Block) override;
};

// ---------------------------------------------------------------------------------------
// Ciphers.

enum TCipherMode : uint8_t {
  cmCTS = 0,
  cmCBC = 1,
  cmCFB = 2,
  cmOFB = 3,
  cmECB = 4,
  cmCTSMAC = 5,
  cmCBCMAC = 6,
  cmCFBMAC = 7
};

inline constexpr int errGeneric = 0;
inline constexpr int errInvalidKey = 1;
inline constexpr int errInvalidKeySize = 2;
inline constexpr int errNotInitialized = 3;
inline constexpr int errInvalidMACMode = 4;
inline constexpr int errCantCalc = 5;

class ECipherException : public std::runtime_error {
 public:
  ECipherException(int AErrorCode, const std::string& Message) : std::runtime_error(Message), ErrorCode(AErrorCode) {}
  int ErrorCode;
};

struct TCipherContext {
  int BufSize;   // block size in bytes
  int KeySize;   // maximum key bytes
  int UserSize;  // bytes of the key schedule
};

class TCipher;

// Stands for a cipher class: its name, sizes and constructor.
struct TCipherClass {
  const char* ClassName;
  TCipherContext Context;
  const char* TestVectorMessage;
  TCipher* (*New)(const std::string& Password, TProtection* AProtection);

  std::unique_ptr<TCipher> Create(const std::string& Password = {}, TProtection* AProtection = nullptr) const;
  int MaxKeySize() const { return Context.KeySize; }
  [[noreturn]] void TestVector() const;
  // Needs the framework's test data and the class's expected result, neither of which is
  // provided: raises.
  [[noreturn]] void SelfTest() const;
};

class TCipher : public TProtection {
 public:
  ~TCipher() override;

  virtual const TCipherClass& GetClass() const = 0;
  const char* ClassName() const override { return GetClass().ClassName; }

  // Flag 0: a key was set through InitKey; flag 1: the cipher is keyed and may code.
  bool GetFlag(int Index) const { return (FFlags >> Index) & 1u; }
  virtual void SetFlag(int Index, bool Value);

  // Builds the key schedule from Size bytes of Key (cut to the maximum, or refused when
  // CheckCipherKeySize is set) and sets the initial chaining value: IVector's block, or with
  // nullptr the 0xFF block enciphered.
  virtual void Init(const void* Key, int Size, const void* IVector);
  // Keys from the digest of Key with the hash class (the first min(key size, digest size)
  // digest bytes); then wipes the digest and resets the chaining register.
  void InitKey(const std::string& Key, const void* IVector);
  // Resets the chaining register to the initial value, for the next independent coding.
  virtual void Done();
  // Wipes the key schedule and the chaining buffers and clears both flags.
  virtual void Protect();

  virtual void Encode(void* Data) = 0;  // one block in place
  virtual void Decode(void* Data) = 0;

  // Code DataSize bytes from Source to Dest (the same buffer or disjoint ones) in the current
  // mode, continuing the chaining where the previous call left it.
  void EncodeBuffer(const void* Source, void* Dest, int DataSize);
  void DecodeBuffer(const void* Source, void* Dest, int DataSize);

  THash* GetHash();
  const THashClass* GetHashClass() const { return FHashClass; }
  // nullptr: the default hash class.
  void SetHashClass(const THashClass* Value);

  TCipherMode Mode() const { return FMode; }
  void SetMode(TCipherMode Value) { FMode = Value; }
  int BufSize() const { return FBufSize; }
  int KeySize() const { return FKeySize; }
  int UserSize() const { return FUserSize; }
  const uint8_t* Vector() const { return FVector.data(); }
  const uint8_t* Feedback() const { return FFeedback.data(); }
  uint8_t* User() { return reinterpret_cast<uint8_t*>(FUser.data()); }
  const uint8_t* User() const { return reinterpret_cast<const uint8_t*>(FUser.data()); }

  void CodeInit(TPAction Action) override;
  void CodeDone(TPAction Action) override;
  void CodeBuf(void* Buffer, int BufferSize, TPAction Action) override;

 protected:
  TCipher(const TCipherContext& Context, TProtection* AProtection);
  // The end of construction, run by the most derived class once its Encode exists.
  void FinishCreate(const std::string& Password);
  void InitBegin(int& Size);
  virtual void InitEnd(const void* IVector);
  uint32_t* UserWords() { return FUser.data(); }
  const uint32_t* UserWords() const { return FUser.data(); }

 private:
  void CheckInitialized() const;

  TCipherMode FMode = cmCTS;
  TProtectionLink FHash;
  const THashClass* FHashClass = nullptr;
  int FKeySize = 0;
  int FBufSize = 0;
  int FUserSize = 0;
  std::vector<uint8_t> FBuffer;
  std::vector<uint8_t> FVector;
  std::vector<uint8_t> FFeedback;
  std::vector<uint32_t> FUser;
  uint32_t FFlags = 0;
};

// Rijndael with a 16-byte block. Keys are padded with zero bytes to 16, 24 or 32 bytes (10,
// 12 or 14 rounds). For 16 and 24 bytes this is AES. For 32 bytes the key expansion chains
// every word of each new group of eight to its predecessor before the SubWord step on word 4
// and chains words 5 to 7 a second time after it, so the result is not AES-256.
// Key schedule: 240 bytes of encryption round keys (FIPS-197 byte order), then 240 bytes of
// decryption round keys.
class TCipher_Rijndael : public TCipher {
 public:
  explicit TCipher_Rijndael(const std::string& Password = {}, TProtection* AProtection = nullptr)
      : TCipher(Class().Context, AProtection) {
    FinishCreate(Password);
  }
  static const TCipherClass& Class();
  const TCipherClass& GetClass() const override { return Class(); }
  void Init(const void* Key, int Size, const void* IVector) override;
  void Encode(void* Data) override;
  void Decode(void* Data) override;
  int Rounds() const { return FRounds; }

 protected:
  // Builds both schedules; Published selects the FIPS-197 expansion for 32-byte keys.
  void SetupKey(const void* Key, int Size, bool Published);

 private:
  int FRounds = 10;
};

// Blowfish; the key bytes are taken cyclically, the 32-bit halves are big-endian.
// Key schedule: the 18 P words, then the four 256-word S-boxes.
class TCipher_Blowfish : public TCipher {
 public:
  explicit TCipher_Blowfish(const std::string& Password = {}, TProtection* AProtection = nullptr)
      : TCipher(Class().Context, AProtection) {
    FinishCreate(Password);
  }
  static const TCipherClass& Class();
  const TCipherClass& GetClass() const override { return Class(); }
  void Init(const void* Key, int Size, const void* IVector) override;
  void Encode(void* Data) override;
  void Decode(void* Data) override;
};

// DES; the key is copied into 8 zero bytes, the 32-bit halves are big-endian.
// Key schedule per DES key: 32 encryption words, then 32 decryption words.
class TCipher_1DES : public TCipher {
 public:
  explicit TCipher_1DES(const std::string& Password = {}, TProtection* AProtection = nullptr)
      : TCipher(Class().Context, AProtection) {
    FinishCreate(Password);
  }
  static const TCipherClass& Class();
  const TCipherClass& GetClass() const override { return Class(); }
  void Init(const void* Key, int Size, const void* IVector) override;
  void Encode(void* Data) override;
  void Decode(void* Data) override;

 protected:
  TCipher_1DES(const TCipherContext& Context, TProtection* AProtection) : TCipher(Context, AProtection) {}
  // The 64-word schedule of one DES key at Schedule.
  static void MakeSchedule(const uint8_t* Key8, uint32_t* Schedule);
  // One DES block with 32 subkey words (encryption or decryption half of a schedule).
  static void DESFunc(const uint32_t* Subkeys, uint8_t* Block);
};

// Triple DES, encrypt-decrypt-encrypt with three keys: the key is copied into 24 zero bytes,
// K1 = bytes 0-7, K2 = 8-15, K3 = 16-23 (a 16-byte key leaves K3 zero, it is not the two-key
// variant).
class TCipher_3DES : public TCipher_1DES {
 public:
  explicit TCipher_3DES(const std::string& Password = {}, TProtection* AProtection = nullptr)
      : TCipher_1DES(Class().Context, AProtection) {
    FinishCreate(Password);
  }
  static const TCipherClass& Class();
  const TCipherClass& GetClass() const override { return Class(); }
  void Init(const void* Key, int Size, const void* IVector) override;
  void Encode(void* Data) override;
  void Decode(void* Data) override;

 protected:
  TCipher_3DES(const TCipherContext& Context, TProtection* AProtection) : TCipher_1DES(Context, AProtection) {}
};

// The triple DES above over a 24-byte block of three DES blocks: each stage codes the three
// blocks, and bytes 4-7 are exchanged with bytes 8-11 between the stages.
class TCipher_3TDES : public TCipher_3DES {
 public:
  explicit TCipher_3TDES(const std::string& Password = {}, TProtection* AProtection = nullptr)
      : TCipher_3DES(Class().Context, AProtection) {
    FinishCreate(Password);
  }
  static const TCipherClass& Class();
  const TCipherClass& GetClass() const override { return Class(); }
  void Encode(void* Data) override;
  void Decode(void* Data) override;
};

// Twofish with the published S-boxes, whitening and rounds, but odd subkeys made as
// K(2i+1) = ROL(A + (B >> 1), 9) instead of ROL(A + 2B, 9). Keys are padded with zero bytes to
// 16, 24 or 32 bytes. Key schedule: the 40 subkeys, then the four key-dependent 256-word
// S-box tables (MDS columns included).
class TCipher_Twofish : public TCipher {
 public:
  explicit TCipher_Twofish(const std::string& Password = {}, TProtection* AProtection = nullptr)
      : TCipher(Class().Context, AProtection) {
    FinishCreate(Password);
  }
  static const TCipherClass& Class();
  const TCipherClass& GetClass() const override { return Class(); }
  void Init(const void* Key, int Size, const void* IVector) override;
  void Encode(void* Data) override;
  void Decode(void* Data) override;

 protected:
  // Builds the schedule; Published selects the published odd-subkey rule.
  void SetupKey(const void* Key, int Size, bool Published);
};

// Square, 8 rounds, 16-byte key (shorter keys zero-padded). Key schedule: the 9 encryption
// round keys, then the 9 decryption round keys.
class TCipher_Square : public TCipher {
 public:
  explicit TCipher_Square(const std::string& Password = {}, TProtection* AProtection = nullptr)
      : TCipher(Class().Context, AProtection) {
    FinishCreate(Password);
  }
  static const TCipherClass& Class();
  const TCipherClass& GetClass() const override { return Class(); }
  void Init(const void* Key, int Size, const void* IVector) override;
  void Encode(void* Data) override;
  void Decode(void* Data) override;
};

// ---------------------------------------------------------------------------------------
// Registry and the unit's state.

struct TCipherListItem {
  std::string Text;  // name "=" description
  const TCipherClass* Object;
};

// Registers ACipher under AName (trimmed; blank: the class name without its leading "T" and
// everything up to its first "_") with ADescription; a class already registered has its
// item's text replaced. False for a nil class.
bool RegisterCipher(const TCipherClass* ACipher, const std::string& AName = {}, const std::string& ADescription = {});
// A copy of the registry (the Rijndael cipher is registered at start-up).
std::vector<TCipherListItem> CipherList();

struct TCipherState {
  // False: a key longer than the cipher's maximum is cut; true: it is refused.
  bool CheckCipherKeySize = false;
  const THashClass* DefaultHashClass = nullptr;

  // Back to the start-up state (RIPEMD-256 the default hash, only Rijndael registered).
  void Reset();
};
TCipherState& CipherState();
const THashClass& DefaultHashClass();

}  // namespace orv
