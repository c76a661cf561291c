#include "dbengine/file/orv_cipher_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

namespace orv {

namespace {

[[noreturn]] void RaisePlain(const char* text) { throw std::runtime_error(text); }

int ResolveLen(const void* Value, int Len) {
  if (Len < 0) return Value ? static_cast<int>(std::strlen(static_cast<const char*>(Value))) : 0;
  return Len;
}

// --- format registry --------------------------------------------------------------------

struct FormatRegistry {
  std::mutex lock;
  std::vector<TStringFormatClass> classes;
};

FormatRegistry& Formats() {
  static FormatRegistry registry;
  return registry;
}

void AddFormats(std::initializer_list<TStringFormatClass> List) {
  FormatRegistry& registry = Formats();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (TStringFormatClass format : List) {
    if (!format || format->Format() == fmtDEFAULT) continue;
    auto it = std::find_if(registry.classes.begin(), registry.classes.end(),
                           [&](TStringFormatClass c) { return c->Format() == format->Format(); });
    if (it != registry.classes.end())
      *it = format;
    else
      registry.classes.push_back(format);
  }
}

void RegisterStartupFormats() {
  AddFormats({&TStringFormat::Class(), &TStringFormat_HEX::Class(), &TStringFormat_HEXL::Class(),
                         &TStringFormat_MIME64::Class(), &TStringFormat_UU::Class(), &TStringFormat_XX::Class()});
}

// --- live protection objects ------------------------------------------------------------

struct LiveRegistry {
  std::mutex lock;
  std::unordered_map<const void*, uint64_t> serials;
  uint64_t next_serial = 1;
};

LiveRegistry& Live() {
  static LiveRegistry* registry = new LiveRegistry;  // outlives every static object
  return *registry;
}

constexpr char kBase64Table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// The index of each byte in the table above, -1 for bytes outside it: decoding large BLOB
// texts must not search the table per character.
struct Base64Index {
  int8_t index[256];
  constexpr Base64Index() : index() {
    for (int i = 0; i < 256; ++i) index[i] = -1;
    for (int i = 0; i < 65; ++i) index[static_cast<uint8_t>(kBase64Table[i])] = static_cast<int8_t>(i);
  }
  int operator()(char c) const { return index[static_cast<uint8_t>(c)]; }
};
constexpr Base64Index kBase64Index;

}  // namespace

// ---------------------------------------------------------------------------------------
// Text formats.

std::string TStringFormat::ToStr(const void* Value, int Len) const {
  Len = ResolveLen(Value, Len);
  if (!Value || Len <= 0) return {};
  return std::string(static_cast<const char*>(Value), static_cast<size_t>(Len));
}

std::string TStringFormat::StrTo(const void* Value, int Len) const { return TStringFormat::ToStr(Value, Len); }

std::string TStringFormat::Name() const {
  // Only the copy format itself has a name of its own; a class derived from it that does not
  // name itself is called after its class name.
  if (std::string_view(ClassName()) == "TStringFormat") return "copy Input to Output";
  return GetShortClassName(ClassName());
}

bool TStringFormat::IsValid(const void*, int, bool) const { return true; }

const TStringFormat& TStringFormat::Class() {
  static const TStringFormat instance;
  return instance;
}

std::string TStringFormat_HEX::ToStr(const void* Value, int Len) const {
  if (!Value || ResolveLen(Value, Len) == 0) return {};
  CharTable();  // raises: the format has no table
  return {};
}

std::string TStringFormat_HEX::StrTo(const void* Value, int Len) const { return TStringFormat_HEX::ToStr(Value, Len); }

bool TStringFormat_HEX::IsValid(const void* Value, int Len, bool ToStr) const {
  if (!ToStr) return true;
  const char* table = CharTable();
  Len = ResolveLen(Value, Len);
  const char* text = static_cast<const char*>(Value);
  for (int i = 0; i < Len; ++i)
    if (TableFind(text[i], table, 0) < 0) return false;
  return true;
}

const char* TStringFormat_HEX::CharTable() const { RaisePlain("Not Implemented 2"); }

const TStringFormat_HEX& TStringFormat_HEX::Class() {
  static const TStringFormat_HEX instance;
  return instance;
}

const char* TStringFormat_HEXL::CharTable() const { RaisePlain("Not implemented 3"); }

const TStringFormat_HEXL& TStringFormat_HEXL::Class() {
  static const TStringFormat_HEXL instance;
  return instance;
}

const char* TStringFormat_MIME64::CharTable() const { return kBase64Table; }

std::string TStringFormat_MIME64::StrTo(const void* Value, int Len) const {
  Len = ResolveLen(Value, Len);
  if (!Value || Len <= 0) return {};
  const auto* in = static_cast<const uint8_t*>(Value);
  std::string out;
  out.reserve(static_cast<size_t>((Len + 2) / 3) * 4);
  for (int i = 0; i < Len; i += 3) {
    const int n = std::min(3, Len - i);
    uint32_t group = static_cast<uint32_t>(in[i]) << 16;
    if (n > 1) group |= static_cast<uint32_t>(in[i + 1]) << 8;
    if (n > 2) group |= in[i + 2];
    out += kBase64Table[(group >> 18) & 63];
    out += kBase64Table[(group >> 12) & 63];
    out += n > 1 ? kBase64Table[(group >> 6) & 63] : '=';
    out += n > 2 ? kBase64Table[group & 63] : '=';
  }
  return out;
}

std::string TStringFormat_MIME64::ToStr(const void* Value, int Len) const {
  Len = ResolveLen(Value, Len);
  if (!Value || Len <= 0) return {};
  // Only characters of the table count: a line break or space in wrapped text must not make
  // room for bytes that the text does not encode.
  const char* text = static_cast<const char*>(Value);
  std::string chars;
  chars.reserve(static_cast<size_t>(Len) + 3);
  for (int i = 0; i < Len; ++i)
    if (kBase64Index(text[i]) >= 0) chars += text[i];
  while (chars.size() % 4 != 0) chars += '=';

  // Each group of four characters gives three bytes, one fewer per "=" in it. For text with
  // "=" only at its end this is plain Base64; chunks joined with their padding ("Zg==Zg==")
  // decode chunk by chunk instead of leaving zero bytes behind.
  const size_t L = chars.size();
  std::string out(L / 4 * 3, '\0');
  size_t write = 0;
  for (size_t read = 0; read < L; read += 4) {
    uint32_t acc = 0;
    int pads = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int index = kBase64Index(chars[read + k]);
      acc <<= 6;
      if (index < 64)
        acc += static_cast<uint32_t>(index);
      else
        ++pads;
    }
    const uint8_t bytes[3] = {static_cast<uint8_t>(acc >> 16), static_cast<uint8_t>(acc >> 8),
                              static_cast<uint8_t>(acc)};
    for (int b = 0; b < 3 - pads; ++b) out[write++] = static_cast<char>(bytes[b]);
  }
  out.resize(write);
  return out;
}

const TStringFormat_MIME64& TStringFormat_MIME64::Class() {
  static const TStringFormat_MIME64 instance;
  return instance;
}

std::string TStringFormat_UU::ToStr(const void* Value, int Len) const {
  if (!Value || ResolveLen(Value, Len) == 0) return {};
  CharTable();  // raises: the format has no table
  return {};
}

std::string TStringFormat_UU::StrTo(const void* Value, int Len) const { return TStringFormat_UU::ToStr(Value, Len); }

bool TStringFormat_UU::IsValid(const void*, int, bool ToStr) const {
  if (ToStr) CharTable();  // raises
  return true;
}

const char* TStringFormat_UU::CharTable() const { RaisePlain("Not implemented 5"); }

const TStringFormat_UU& TStringFormat_UU::Class() {
  static const TStringFormat_UU instance;
  return instance;
}

const char* TStringFormat_XX::CharTable() const { RaisePlain("Not implemented 6"); }

const TStringFormat_XX& TStringFormat_XX::Class() {
  static const TStringFormat_XX instance;
  return instance;
}

// ---------------------------------------------------------------------------------------
// Registry.

void RegisterStringFormats(std::initializer_list<TStringFormatClass> List) {
  CipherUtilState();  // the start-up registrations come first
  AddFormats(List);
}

TStringFormatClass StringFormat(int Format) {
  CipherUtilState();  // the start-up registrations
  if (Format == fmtDEFAULT) Format = DefaultStringFormat();
  FormatRegistry& registry = Formats();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (TStringFormatClass c : registry.classes)
    if (c->Format() == Format) return c;
  return nullptr;
}

namespace {

TStringFormatClass FormatOrRaise(int Format) {
  TStringFormatClass format = StringFormat(Format);
  if (!format) throw EStringFormat("String Format \"" + std::to_string(Format) + "\" not exists.");
  return format;
}

}  // namespace

std::string StrToFormat(const void* Value, int Len, int Format) {
  if (!Value || Format == fmtNONE) return {};
  Len = ResolveLen(Value, Len);
  if (Len == 0) return {};
  TStringFormatClass format = FormatOrRaise(Format);
  if (!format->IsValid(Value, Len, false))
    throw EStringFormat("Input can not be convert to " + format->Name() + " Format.");
  return format->StrTo(Value, Len);
}

std::string StrToFormat(std::string_view Value, int Format) {
  return StrToFormat(Value.data(), static_cast<int>(Value.size()), Format);
}

std::string FormatToStr(const void* Value, int Len, int Format) {
  if (!Value || Format == fmtNONE) return {};
  Len = ResolveLen(Value, Len);
  if (Len == 0) return {};
  TStringFormatClass format = FormatOrRaise(Format);
  if (!format->IsValid(Value, Len, true))
    throw EStringFormat("Input is not an valid " + format->Name() + " Format.");
  return format->ToStr(Value, Len);
}

std::string FormatToStr(std::string_view Value, int Format) {
  return FormatToStr(Value.data(), static_cast<int>(Value.size()), Format);
}

int DefaultStringFormat() { return CipherUtilState().DefaultStringFormat; }

std::string GetShortClassName(std::string_view ClassName) {
  const size_t underscore = ClassName.find('_');
  if (underscore == std::string_view::npos) return std::string(ClassName);
  return std::string(ClassName.substr(underscore + 1));
}

int TableFind(char Value, const char* Table, int /*Len*/) {
  if (!Table) return -1;
  for (int i = 0; Table[i] != '\0'; ++i)
    if (Table[i] == Value) return i;
  return -1;
}

// ---------------------------------------------------------------------------------------
// Byte helpers and the routines that are not provided.

int MemCompare(const void* P1, const void* P2, int Size) {
  const auto* a = static_cast<const uint8_t*>(P1);
  const auto* b = static_cast<const uint8_t*>(P2);
  for (int i = 0; i < Size; ++i)
    if (a[i] != b[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  return 0;
}

void XORBuffers(const void* I1, const void* I2, int Size, void* Dest) {
  const auto* a = static_cast<const uint8_t*>(I1);
  const auto* b = static_cast<const uint8_t*>(I2);
  auto* d = static_cast<uint8_t*>(Dest);
  for (int i = 0; i < Size; ++i) d[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

uint32_t SwapInt(uint32_t) { RaisePlain("Not implemented: SwapInt"); }
void SwapIntBuf(const void*, void*, int) { RaisePlain("Not implemented 7"); }
void BSwapIntBuf(const void*, void*, int) { RaisePlain("Not implemented 8"); }
void RndXORBuffer(uint32_t, void*, int) { RaisePlain("Not implemented 11"); }
uint32_t RndTimeSeed() { RaisePlain("Not implemented 12"); }
uint16_t CRC16(uint16_t, const void*, uint32_t) { RaisePlain("Not implemented 13"); }
const void* GetTestVector() { RaisePlain("Not implemented 14"); }
int GetCPUType() { return 4; }

void DoProgress(const void* Sender, int64_t Current, int64_t Maximal) {
  const TProgressEvent& progress = CipherUtilState().Progress;
  if (progress) progress(Sender, Current, Maximal);
}

void TCipherUtilState::Reset() {
  DefaultStringFormat = fmtMIME64;
  Progress = nullptr;
  CPUType = GetCPUType();
  if (CPUType > 3) {
    SwapInteger = [](uint32_t v) { return BSwapInt(v); };
    SwapIntegerBuffer = BSwapIntBuf;
  } else {
    SwapInteger = SwapInt;
    SwapIntegerBuffer = SwapIntBuf;
  }
  InitTestIsOk = true;
  IdentityBase = 0x1234;
  {
    FormatRegistry& registry = Formats();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.classes.clear();
  }
  RegisterStartupFormats();
}

TCipherUtilState& CipherUtilState() {
  static TCipherUtilState* state = [] {
    auto* s = new TCipherUtilState;  // never destroyed: protections may be freed after exit starts
    s->Reset();
    return s;
  }();
  return *state;
}

// ---------------------------------------------------------------------------------------
// Streams.

int64_t TProtectionMemoryStream::Read(void* Buffer, int64_t Count) {
  const int64_t size = GetSize();
  if (Count <= 0 || FPosition >= size) return 0;
  const int64_t n = std::min(Count, size - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TProtectionMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  if (FPosition + Count > GetSize()) FData.resize(static_cast<size_t>(FPosition + Count), '\0');
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition += Count;
  return Count;
}

void TProtectionMemoryStream::SetSize(int64_t Size) {
  FData.resize(static_cast<size_t>(std::max<int64_t>(Size, 0)), '\0');
  if (FPosition > Size) FPosition = std::max<int64_t>(Size, 0);
}

TProtectionFileStream::TProtectionFileStream(const std::string& FileName, TMode Mode) : FFileName(FileName) {
  int flags = O_CLOEXEC;
  switch (Mode) {
    case TMode::Read: flags |= O_RDONLY; break;
    case TMode::ReadWrite: flags |= O_RDWR; break;
    case TMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  FHandle = ::open(FileName.c_str(), flags, 0666);
  if (FHandle < 0)
    throw EProtection("Cannot open file \"" + FileName + "\": " + std::strerror(errno));
}

TProtectionFileStream::~TProtectionFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TProtectionFileStream::Read(void* Buffer, int64_t Count) {
  int64_t done = 0;
  auto* p = static_cast<uint8_t*>(Buffer);
  while (done < Count) {
    const ssize_t n = ::pread(FHandle, p + done, static_cast<size_t>(Count - done), FPosition + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EProtection("Cannot read file \"" + FFileName + "\": " + std::strerror(errno));
    if (n == 0) break;
    done += n;
  }
  FPosition += done;
  return done;
}

int64_t TProtectionFileStream::Write(const void* Buffer, int64_t Count) {
  int64_t done = 0;
  const auto* p = static_cast<const uint8_t*>(Buffer);
  while (done < Count) {
    const ssize_t n = ::pwrite(FHandle, p + done, static_cast<size_t>(Count - done), FPosition + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EProtection("Cannot write file \"" + FFileName + "\": " + std::strerror(errno));
    done += n;
  }
  FPosition += done;
  return done;
}

int64_t TProtectionFileStream::GetSize() const {
  struct stat st {};
  if (::fstat(FHandle, &st) != 0) throw EProtection("Cannot read the size of \"" + FFileName + "\"");
  return st.st_size;
}

void TProtectionFileStream::SetSize(int64_t Size) {
  if (::ftruncate(FHandle, Size) != 0)
    throw EProtection("Cannot set the size of \"" + FFileName + "\": " + std::strerror(errno));
}

// ---------------------------------------------------------------------------------------
// Protection objects.

bool IsLiveProtection(const void* AObject, uint64_t Serial) {
  if (!AObject) return false;
  LiveRegistry& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  auto it = live.serials.find(AObject);
  return it != live.serials.end() && (Serial == 0 || it->second == Serial);
}

TProtection* TProtectionLink::Get() const {
  return IsLiveProtection(FObject, FSerial) ? FObject : nullptr;
}

void TProtectionLink::Set(TProtection* Value) {
  TProtection* old = Get();
  FObject = nullptr;
  FSerial = 0;
  if (Value && IsLiveProtection(Value)) {
    FObject = Value;
    FSerial = Value->FSerial;
    TProtection::AddRef(Value);
  }
  if (old) TProtection::Release(old);
}

TProtection::TProtection(TProtection* AProtection) {
  LiveRegistry& live = Live();
  {
    std::lock_guard<std::mutex> guard(live.lock);
    FSerial = live.next_serial++;
    live.serials[this] = FSerial;
  }
  FProtection.Set(AProtection);
}

TProtection::~TProtection() {
  FProtection.Reset();
  LiveRegistry& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  live.serials.erase(this);
}

int TProtection::AddRef(TProtection* AObject) {
  if (!IsObject(AObject)) return 0;
  return ++AObject->FRefCount;
}

int TProtection::Release(TProtection* AObject) {
  if (!IsObject(AObject)) return 0;
  const int count = --AObject->FRefCount;
  if (count <= 0) {
    AObject->FRefCount = 0;
    if (AObject->FCounted) delete AObject;
    return 0;
  }
  return count;
}

TProtection* TProtection::GetProtection() {
  TProtection* chained = FProtection.Get();
  if (!chained) FProtection.Reset();
  return chained;
}

void TProtection::SetProtection(TProtection* Value) {
  if (Value == FProtection.Get() && Value) return;
  if (!Value && !FProtection.Get()) {
    FProtection.Reset();
    return;
  }
  // A chain is followed only through objects that still exist; one that leads back here
  // would make every coding call recurse for ever.
  for (TProtection* p = Value; p && IsObject(p); p = p->FProtection.Get())
    if (p == this) throw EProtection("Circular Protection detected, Protection Object is invalid.");
  FProtection.Set(Value);
}

void TProtection::CodeInit(TPAction Action) {
  if (TProtection* chained = GetProtection()) chained->CodeInit(Action);
}

void TProtection::CodeDone(TPAction Action) {
  if (TProtection* chained = GetProtection()) chained->CodeDone(Action);
}

void TProtection::CodeBuf(void* Buffer, int BufferSize, TPAction Action) {
  if (TProtection* chained = GetProtection()) chained->CodeBuf(Buffer, BufferSize, Action);
}

int TProtection::CodeBuffer(void* Buffer, int BufferSize, TPAction Action) {
  CodeInit(Action);
  try {
    CodeBuf(Buffer, BufferSize, Action);
  } catch (...) {
    CodeDone(Action);
    throw;
  }
  CodeDone(Action);
  return BufferSize;
}

void TProtection::CodeStream(TProtectionStream* Source, TProtectionStream* Dest, int64_t DataSize,
                             TPAction Action) {
  if (!Source) return;
  if (!Dest) Dest = Source;
  if (DataSize < 0) {
    DataSize = Source->GetSize();
    Source->SetPosition(0);
  }
  constexpr int64_t kPiece = 4096;
  std::vector<uint8_t> buffer(kPiece);
  CodeInit(Action);
  try {
    DoProgress(this, 0, DataSize);
    int64_t source_pos = Source->GetPosition();
    int64_t dest_pos = Dest->GetPosition();
    int64_t done = 0;
    while (done < DataSize) {
      const int64_t want = std::min(kPiece, DataSize - done);
      if (Action == paCalc) {
        const int64_t got = Source->Read(buffer.data(), want);
        if (got <= 0) break;
        CodeBuf(buffer.data(), static_cast<int>(got), Action);
        done += got;
      } else {
        // Both positions are remembered, so that Source and Dest may be one stream.
        Source->SetPosition(source_pos);
        const int64_t got = Source->Read(buffer.data(), want);
        if (got <= 0) break;
        source_pos = Source->GetPosition();
        CodeBuf(buffer.data(), static_cast<int>(got), Action);
        Dest->SetPosition(dest_pos);
        if (Dest->Write(buffer.data(), got) != got) throw EProtection("Cannot write the coded data");
        dest_pos = Dest->GetPosition();
        done += got;
      }
      DoProgress(this, done, DataSize);
    }
  } catch (...) {
    DoProgress(this, 0, 0);
    CodeDone(Action);
    throw;
  }
  DoProgress(this, 0, 0);
  CodeDone(Action);
}

namespace {

bool SameFileName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    const auto la = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
    const auto lb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
    if (la != lb) return false;
  }
  return true;
}

bool IsBlank(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

}  // namespace

void TProtection::CodeFile(const std::string& Source, const std::string& Dest, TPAction Action) {
  const bool separate = !SameFileName(Source, Dest) && (!IsBlank(Dest) || Action == paCalc);
  if (separate) {
    TProtectionFileStream source(Source, TProtectionFileStream::TMode::Read);
    if (Action == paCalc) {
      CodeStream(&source, &source, -1, Action);
      return;
    }
    TProtectionFileStream dest(Dest, TProtectionFileStream::TMode::Create);
    CodeStream(&source, &dest, -1, Action);
    dest.SetSize(dest.GetPosition());
  } else {
    TProtectionFileStream source(Source, TProtectionFileStream::TMode::ReadWrite);
    CodeStream(&source, &source, -1, Action);
  }
}

std::string TProtection::CodeString(const std::string& Source, TPAction Action, int Format) {
  if (Source.empty()) return {};
  std::string bytes = Action == paDecode ? FormatToStr(Source, Format) : Source;
  TProtectionMemoryStream stream(std::move(bytes));
  CodeStream(&stream, &stream, -1, Action);
  if (Action == paDecode) return stream.Data();
  return StrToFormat(stream.Data(), Format);
}

uint16_t TProtection::Identity() {
  const uint16_t base = CipherUtilState().IdentityBase;
  return CRC16(base, "TProtection", 11);
}

}  // namespace orv
