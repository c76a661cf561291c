#pragma once
// What the engine's ciphers and hashes share: the registry of text formats for byte strings
// (selected by a numeric id; Base64 is the one in real use), the reference-counted base class
// of every cipher and hash, and small byte helpers.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

class EStringFormat : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EProtection : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Format ids. fmtDEFAULT stands for the default format (Base64), fmtNONE for "no conversion".
inline constexpr int fmtDEFAULT = -1;
inline constexpr int fmtNONE = 0;
inline constexpr int fmtCOPY = 1;
inline constexpr int fmtHEX = 16;
inline constexpr int fmtHEXL = 1016;
inline constexpr int fmtMIME64 = 4196;
inline constexpr int fmtUU = 21845;
inline constexpr int fmtXX = 22616;

// A text format is a class without instances; one constant object per class stands for the
// class (the registry and the callers hold pointers to these objects).
class TStringFormat {
 public:
  virtual ~TStringFormat() = default;
  // Formatted text to bytes.
  virtual std::string ToStr(const void* Value, int Len) const;
  // Bytes to formatted text.
  virtual std::string StrTo(const void* Value, int Len) const;
  virtual std::string Name() const;
  virtual int Format() const { return fmtCOPY; }
  virtual bool IsValid(const void* Value, int Len, bool ToStr) const;
  virtual const char* ClassName() const { return "TStringFormat"; }

  static const TStringFormat& Class();
};

class TStringFormat_HEX : public TStringFormat {
 public:
  std::string ToStr(const void* Value, int Len) const override;
  std::string StrTo(const void* Value, int Len) const override;
  std::string Name() const override { return "Hexadecimal"; }
  int Format() const override { return fmtHEX; }
  bool IsValid(const void* Value, int Len, bool ToStr) const override;
  const char* ClassName() const override { return "TStringFormat_HEX"; }
  // The zero-terminated character table of the format.
  virtual const char* CharTable() const;

  static const TStringFormat_HEX& Class();
};

class TStringFormat_HEXL : public TStringFormat_HEX {
 public:
  std::string Name() const override { return "Hexadecimal lowercase"; }
  int Format() const override { return fmtHEXL; }
  const char* ClassName() const override { return "TStringFormat_HEXL"; }
  const char* CharTable() const override;

  static const TStringFormat_HEXL& Class();
};

class TStringFormat_MIME64 : public TStringFormat_HEX {
 public:
  // Decodes Base64. Characters outside the alphabet (line breaks, spaces) are skipped and do
  // not count towards the length, so wrapped text decodes to exactly the bytes it encodes.
  std::string ToStr(const void* Value, int Len) const override;
  // Encodes Base64 without line breaks: 4 x ceil(Len / 3) characters.
  std::string StrTo(const void* Value, int Len) const override;
  std::string Name() const override { return "MIME Base 64"; }
  int Format() const override { return fmtMIME64; }
  const char* ClassName() const override { return "TStringFormat_MIME64"; }
  // The RFC 4648 alphabet followed by "=" (65 characters).
  const char* CharTable() const override;

  static const TStringFormat_MIME64& Class();
};

class TStringFormat_UU : public TStringFormat {
 public:
  std::string ToStr(const void* Value, int Len) const override;
  std::string StrTo(const void* Value, int Len) const override;
  std::string Name() const override { return "UU Coding"; }
  int Format() const override { return fmtUU; }
  bool IsValid(const void* Value, int Len, bool ToStr) const override;
  const char* ClassName() const override { return "TStringFormat_UU"; }
  virtual const char* CharTable() const;

  static const TStringFormat_UU& Class();
};

class TStringFormat_XX : public TStringFormat_UU {
 public:
  std::string Name() const override { return "XX Coding"; }
  int Format() const override { return fmtXX; }
  const char* ClassName() const override { return "TStringFormat_XX"; }
  const char* CharTable() const override;

  static const TStringFormat_XX& Class();
};

using TStringFormatClass = const TStringFormat*;

// Registers each class that is not nil and whose Format is not -1: a class with an id already
// registered replaces that entry in place, any other is appended.
void RegisterStringFormats(std::initializer_list<TStringFormatClass> Formats);
// The registered class with that id (-1: the default id); nullptr when there is none.
TStringFormatClass StringFormat(int Format);
// Bytes to text. Empty for a nil Value, Format 0 or Len 0 (Len below 0: up to the first zero
// byte). An unknown id or input the format cannot take raises EStringFormat.
std::string StrToFormat(const void* Value, int Len, int Format);
std::string StrToFormat(std::string_view Value, int Format);
// Text to bytes, the same steps with the strict validity test of the format.
std::string FormatToStr(const void* Value, int Len, int Format);
std::string FormatToStr(std::string_view Value, int Format);
int DefaultStringFormat();
// The class name with everything up to and including its first "_" removed.
std::string GetShortClassName(std::string_view ClassName);
// The index of the first occurrence of Value in the zero-terminated Table, -1 when absent
// (the terminating zero itself is never found; Len is not consulted).
int TableFind(char Value, const char* Table, int Len);

// ---------------------------------------------------------------------------------------
// Byte and word helpers.

inline constexpr uint32_t ROL(uint32_t Value, unsigned Shift) {
  Shift &= 31;
  return Shift ? (Value << Shift) | (Value >> (32 - Shift)) : Value;
}
inline constexpr uint32_t ROR(uint32_t Value, unsigned Shift) {
  Shift &= 31;
  return Shift ? (Value >> Shift) | (Value << (32 - Shift)) : Value;
}
inline constexpr uint32_t BSwapInt(uint32_t Value) {
  return (Value >> 24) | ((Value >> 8) & 0xFF00u) | ((Value << 8) & 0xFF0000u) | (Value << 24);
}
// Compares Size bytes in order; P1[i] - P2[i] (unsigned bytes) at the first difference.
int MemCompare(const void* P1, const void* P2, int Size);
// Dest[i] := I1[i] xor I2[i]; Dest may be I1 or I2.
void XORBuffers(const void* I1, const void* I2, int Size, void* Dest);

// Routines the framework names but never provides: each raises a plain exception with its
// fixed text whenever it is called.
uint32_t SwapInt(uint32_t Value);
void SwapIntBuf(const void* Source, void* Dest, int Count);
void BSwapIntBuf(const void* Source, void* Dest, int Count);
void RndXORBuffer(uint32_t Seed, void* Buffer, int Size);
uint32_t RndTimeSeed();
uint16_t CRC16(uint16_t CRC, const void* Data, uint32_t DataSize);
const void* GetTestVector();
int GetCPUType();

// ---------------------------------------------------------------------------------------
// Protection objects.

enum TPAction : uint8_t { paEncode = 0, paDecode = 1, paScramble = 2, paCalc = 3, paWipe = 4 };
using TPActions = uint8_t;  // bit (1 << action) set for each action in the set
inline constexpr TPActions PActionBit(TPAction Action) { return static_cast<TPActions>(1u << Action); }
inline constexpr TPActions paAllActions = 0x1F;

// Progress of a stream or file coding: (0, total) at the start, (done, total) after each
// piece, (0, 0) at the end.
using TProgressEvent = std::function<void(const void* Sender, int64_t Current, int64_t Maximal)>;
void DoProgress(const void* Sender, int64_t Current, int64_t Maximal);

// The byte streams the protections code: a position, a size, and reads and writes that
// return the count of bytes moved.
class TProtectionStream {
 public:
  virtual ~TProtectionStream() = default;
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  virtual int64_t GetPosition() const = 0;
  virtual void SetPosition(int64_t Position) = 0;
  virtual int64_t GetSize() const = 0;
  // Cuts or extends the stream to Size bytes.
  virtual void SetSize(int64_t Size) = 0;
};

// A stream over a growable byte string.
class TProtectionMemoryStream : public TProtectionStream {
 public:
  TProtectionMemoryStream() = default;
  explicit TProtectionMemoryStream(std::string Data) : FData(std::move(Data)) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t GetPosition() const override { return FPosition; }
  void SetPosition(int64_t Position) override { FPosition = Position < 0 ? 0 : Position; }
  int64_t GetSize() const override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t Size) override;
  const std::string& Data() const { return FData; }

 private:
  std::string FData;
  int64_t FPosition = 0;
};

// A stream over a file, opened for reading or for reading and writing, or created anew.
// Failures to open raise EProtection with the file name.
class TProtectionFileStream : public TProtectionStream {
 public:
  enum class TMode { Read, ReadWrite, Create };
  TProtectionFileStream(const std::string& FileName, TMode Mode);
  ~TProtectionFileStream() override;
  TProtectionFileStream(const TProtectionFileStream&) = delete;
  TProtectionFileStream& operator=(const TProtectionFileStream&) = delete;
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t GetPosition() const override { return FPosition; }
  void SetPosition(int64_t Position) override { FPosition = Position < 0 ? 0 : Position; }
  int64_t GetSize() const override;
  void SetSize(int64_t Size) override;

 private:
  int FHandle = -1;
  std::string FFileName;
  int64_t FPosition = 0;
};

class TProtection;

// A counted reference to a protection object that notices when the object is gone: each
// object carries a serial number that is never reused, so a freed object (or a new one at the
// same address) is never taken for the one referenced.
class TProtectionLink {
 public:
  TProtectionLink() = default;
  ~TProtectionLink() { Reset(); }
  TProtectionLink(const TProtectionLink&) = delete;
  TProtectionLink& operator=(const TProtectionLink&) = delete;

  // The object, or nullptr when there is none or it no longer exists.
  TProtection* Get() const;
  // Releases the old object (when it still exists) and takes a reference to Value.
  void Set(TProtection* Value);
  void Reset() { Set(nullptr); }

 private:
  TProtection* FObject = nullptr;
  uint64_t FSerial = 0;
};

// The reference-counted base of every cipher and hash. It can chain a second protection
// object behind itself, which then takes part in every coding call.
//
// Ownership: an object made with NewCounted belongs to its counted references and is freed
// by the last Release; any other object (on the stack, in a unique_ptr) belongs to its
// creator, and the counted references to it only notice when it is gone.
class TProtection {
 public:
  explicit TProtection(TProtection* AProtection = nullptr);
  virtual ~TProtection();
  TProtection(const TProtection&) = delete;
  TProtection& operator=(const TProtection&) = delete;

  template <class T, class... Args>
  static T* NewCounted(Args&&... args) {
    T* object = new T(std::forward<Args>(args)...);
    object->FCounted = true;
    return object;
  }
  // Hands an object made with new over to its counted references.
  static void MarkCounted(TProtection* AObject) {
    if (AObject) AObject->FCounted = true;
  }
  // Both act only on a live protection object and return 0 otherwise; Release frees a
  // counted object when its count reaches 0.
  static int AddRef(TProtection* AObject);
  static int Release(TProtection* AObject);
  int RefCount() const { return FRefCount; }
  uint64_t Serial() const { return FSerial; }

  virtual const char* ClassName() const { return "TProtection"; }

  // The chained protection; nullptr when there is none or it no longer exists.
  TProtection* GetProtection();
  // Chains Value (nullptr unchains). A chain leading back to this object raises EProtection
  // and leaves the chain as it was.
  void SetProtection(TProtection* Value);

  virtual void CodeInit(TPAction Action);
  virtual void CodeDone(TPAction Action);
  virtual void CodeBuf(void* Buffer, int BufferSize, TPAction Action);
  // Codes DataSize bytes of Source into Dest (nullptr: Source itself, coded in place); a
  // negative DataSize means the whole of Source from position 0.
  virtual void CodeStream(TProtectionStream* Source, TProtectionStream* Dest, int64_t DataSize,
                          TPAction Action);
  // Codes the file Source into Dest, or in place when the names are equal or Dest is blank.
  virtual void CodeFile(const std::string& Source, const std::string& Dest, TPAction Action);
  // Codes the bytes of Source; paDecode takes Source as text in Format and returns bytes,
  // every other action returns the coded bytes as text in Format.
  virtual std::string CodeString(const std::string& Source, TPAction Action, int Format);
  virtual int CodeBuffer(void* Buffer, int BufferSize, TPAction Action);
  // A 16-bit identity of the class name; its checksum routine is not provided, so it raises.
  static uint16_t Identity();

  TPActions FActions = paAllActions;

 private:
  TProtectionLink FProtection;
  int FRefCount = 0;
  bool FCounted = false;
  uint64_t FSerial = 0;

  friend class TProtectionLink;
  friend bool IsLiveProtection(const void* AObject, uint64_t Serial);
};

// True when AObject is a live protection object (and, with a serial, that very object).
bool IsLiveProtection(const void* AObject, uint64_t Serial = 0);

// True when AObject is a live protection object of class T or a descendant. A pointer to
// anything else, freed or never a protection, gives false without touching it.
template <class T = TProtection>
bool IsObject(const void* AObject) {
  if (!IsLiveProtection(AObject)) return false;
  return dynamic_cast<const T*>(static_cast<const TProtection*>(AObject)) != nullptr;
}

// The unit's state, in one place so that a test can put it back as it was at start-up.
struct TCipherUtilState {
  int DefaultStringFormat = fmtMIME64;
  TProgressEvent Progress;
  uint32_t (*SwapInteger)(uint32_t) = nullptr;
  void (*SwapIntegerBuffer)(const void*, void*, int) = nullptr;
  int CPUType = 0;
  bool InitTestIsOk = true;
  uint16_t IdentityBase = 0x1234;

  // Back to the start-up state: the six formats registered, the default Base64, the swap
  // routines chosen from the CPU type, no progress event.
  void Reset();
};
TCipherUtilState& CipherUtilState();

}  // namespace orv
