#include "dbengine/storage/orv_variant.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_types_routines.h"
#include "dbengine/storage/orv_variant_buffer.h"
#include "platform/base/cp1252.h"

namespace orv {

namespace vb = value_buffer;

// ---- 10-byte extended reals ---------------------------------------------------------------

void ExtendedToBytes(long double Value, uint8_t* Bytes) {
  uint64_t mantissa = 0;
  uint16_t exponent = 0;
  const bool negative = std::signbit(Value);
  if (std::isnan(Value)) {
    exponent = 0x7FFF;
    mantissa = 0xC000000000000000ull;  // the quiet NaN the x87 produces
  } else if (std::isinf(Value)) {
    exponent = 0x7FFF;
    mantissa = 0x8000000000000000ull;
  } else if (Value != 0) {
    int e = 0;
    const long double m = std::frexp(std::fabs(Value), &e);  // m in [0.5, 1)
    // 64 significant bits with the integer bit explicit; exact for every long double.
    mantissa = static_cast<uint64_t>(std::ldexp(m, 64));
    int biased = e - 1 + 16383;
    if (biased >= 0x7FFF) {
      exponent = 0x7FFF;
      mantissa = 0x8000000000000000ull;
    } else if (biased <= 0) {
      // Below the normal range the exponent field is 0 and the mantissa shifts right.
      const int shift = 1 - biased;
      mantissa = shift >= 64 ? 0 : mantissa >> shift;
      exponent = 0;
    } else {
      exponent = static_cast<uint16_t>(biased);
    }
  }
  for (int i = 0; i < 8; ++i) Bytes[i] = static_cast<uint8_t>(mantissa >> (8 * i));
  const uint16_t top = static_cast<uint16_t>(exponent | (negative ? 0x8000 : 0));
  Bytes[8] = static_cast<uint8_t>(top);
  Bytes[9] = static_cast<uint8_t>(top >> 8);
}

long double BytesToExtended(const uint8_t* Bytes) {
  uint64_t mantissa = 0;
  for (int i = 7; i >= 0; --i) mantissa = (mantissa << 8) | Bytes[i];
  const uint16_t top = static_cast<uint16_t>(Bytes[8] | (Bytes[9] << 8));
  const bool negative = (top & 0x8000) != 0;
  const int exponent = top & 0x7FFF;
  long double v = 0;
  if (exponent == 0x7FFF) {
    v = (mantissa << 1) == 0 ? std::numeric_limits<long double>::infinity()
                             : std::numeric_limits<long double>::quiet_NaN();
  } else if (exponent == 0) {
    v = std::ldexp(static_cast<long double>(mantissa), -16382 - 63);
  } else {
    v = std::ldexp(static_cast<long double>(mantissa), exponent - 16383 - 63);
  }
  return negative ? -v : v;
}

// ---- Life and state -----------------------------------------------------------------------

namespace {
bool IsText8(TORVBaseFieldType t) { return t == bftChar || t == bftVarchar; }
bool IsText16(TORVBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar; }
bool IsTextType(TORVBaseFieldType t) { return IsText8(t) || IsText16(t); }

// Bytes a fixed-size value occupies; 0 for the types of variable size.
int32_t FixedSize(TORVBaseFieldType t) {
  switch (t) {
    case bftSignedInt8:
    case bftUnsignedInt8: return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical: return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDate:
    case bftTime: return 4;
    case bftSignedInt64:
    case bftDouble:
    case bftDateTime:
    case bftCurrency: return 8;
    case bftExtended: return 10;
    default: return 0;
  }
}
}  // namespace

TORVVariant::TORVVariant(TORVBaseFieldType DataType) : FDataType(DataType) {}

TORVVariant::~TORVVariant() {
  if (FPData && !FIsDataLinked) MemoryManager().FreeMem(FPData);
}

void TORVVariant::Clear(TORVBaseFieldType DataType) {
  if (FPData && !FIsDataLinked) MemoryManager().FreeAndNillMem(FPData);
  FPData = nullptr;
  FDataType = DataType;
  FDataSize = 0;
  FIsDataLinked = false;
  FIsNull = true;
}

void TORVVariant::SetNull(TORVBaseFieldType /*DataType*/) { FIsNull = true; }

void TORVVariant::SetDataType(TORVBaseFieldType DataType) {
  if (GetIsNull()) {
    if (FPData)
      Clear(DataType);
    else
      FDataType = DataType;
    return;
  }
  try {
    Cast(DataType);
  } catch (...) {
    Clear(DataType);
  }
}

void TORVVariant::TakeBuffer(void* Buffer, int32_t Size, TORVBaseFieldType DataType) {
  if (FPData && !FIsDataLinked) MemoryManager().FreeMem(FPData);
  FPData = Buffer;
  FDataSize = Size;
  FDataType = DataType;
  FIsDataLinked = false;
  FIsNull = false;
}

void TORVVariant::Cast(TORVBaseFieldType NewDataType) {
  if (NewDataType == FDataType) return;
  if (GetIsNull()) {
    Clear(NewDataType);
    return;
  }
  if (FDataType == bftClob && NewDataType == bftVarchar) {
    // The text stays; it only gains its terminator. A linked buffer is copied first: it is
    // not ours to resize.
    void* p = MemoryManager().GetMem(static_cast<int64_t>(FDataSize) + 1);
    std::memcpy(p, FPData, static_cast<size_t>(FDataSize));
    static_cast<uint8_t*>(p)[FDataSize] = 0;
    TakeBuffer(p, FDataSize + 1, bftVarchar);
    return;
  }
  int32_t size = 0;
  void* p = CastToNewBuffer(FPData, FDataSize, FDataType, NewDataType, size);
  TakeBuffer(p, size, NewDataType);
}

void TORVVariant::Assign(const TORVVariant& Source, bool CopyDataFlag) {
  if (&Source == this) return;
  Clear(Source.FDataType);
  FIsNull = Source.GetIsNull();
  if (FIsNull) return;
  FDataSize = Source.FDataSize;
  if (CopyDataFlag) {
    FPData = MemoryManager().GetMem(FDataSize);
    std::memcpy(FPData, Source.FPData, static_cast<size_t>(FDataSize));
    FIsDataLinked = false;
  } else {
    FPData = Source.FPData;
    FIsDataLinked = true;
  }
}

void TORVVariant::SetData(const void* Buffer, int32_t Size, TORVBaseFieldType DataType, bool CopyDataFlag) {
  if (!CopyDataFlag) {
    Clear(DataType);
    FPData = const_cast<void*>(Buffer);
    FIsDataLinked = true;
  } else {
    if (!(FPData && !FIsDataLinked && FDataSize == Size)) {
      Clear(DataType);
      FPData = MemoryManager().GetMem(Size);
    }
    std::memcpy(FPData, Buffer, static_cast<size_t>(Size));
    FIsDataLinked = false;
  }
  FDataType = DataType;
  FDataSize = Size;
  FIsNull = false;
}

bool TORVVariant::CopyDataToAddress(void* Buffer, int32_t MaxSize) const {
  if (GetIsNull()) return false;
  if (MaxSize != -1 && FDataSize > MaxSize) throw EORVException(20056, "Buffer size exceeded");
  if (IsTextType(FDataType) && FDataSize <= (IsText16(FDataType) ? 2 : 1)) return false;
  std::memcpy(Buffer, FPData, static_cast<size_t>(FDataSize));
  return true;
}

int32_t TORVVariant::StrLen() const {
  if (GetIsNull() || !IsTextType(FDataType)) return -1;
  return IsText16(FDataType) ? FDataSize / 2 - 1 : FDataSize - 1;
}

bool TORVVariant::IsNumericDataType() const { return IsNumericFieldType(FDataType); }
bool TORVVariant::IsStringDataType() const { return IsTextType(FDataType); }
bool TORVVariant::IsWideStringDataType() const { return IsText16(FDataType); }
bool TORVVariant::IsBlobDataType() const { return IsBLOBFieldType(FDataType); }
bool TORVVariant::IsDateTimeDataType() const { return IsDateTimeFieldType(FDataType); }

void TORVVariant::TryToReduceWideStringToAnsiString() {
  if (GetIsNull() || !IsText16(FDataType)) return;
  const std::u16string wide = GetDataAsWideString();
  const std::string ansi = platform::Utf16ToCp1252(wide);
  if (platform::Cp1252ToUtf16(ansi) != wide) return;
  Clear(bftVarchar);
  SetDataAsAnsiString(ansi);
}

// ---- Stream form --------------------------------------------------------------------------

void TORVVariant::SaveToStream(platform::TStream& Stream) const {
  const uint8_t type = FDataType;
  SaveDataToStream(&type, 1, Stream, 10179);
  const bool is_null = GetIsNull();
  const uint8_t flag = is_null ? 0xFF : 0;
  SaveDataToStream(&flag, 1, Stream, 10180);
  if (is_null) return;
  uint8_t raw[4];
  StoreLE32(raw, static_cast<uint32_t>(FDataSize));
  SaveDataToStream(raw, 4, Stream, 10181);
  SaveDataToStream(FPData, FDataSize, Stream, 10182);
}

void TORVVariant::LoadFromStream(platform::TStream& Stream) {
  Clear(bftUnknown);
  uint8_t type = 0;
  LoadDataFromStream(&type, 1, Stream, 10183);
  if (type > bftBFile) throw EORVException(10516, "Invalid stored value: data type %d", {type});
  const auto data_type = static_cast<TORVBaseFieldType>(type);
  uint8_t flag = 0;
  LoadDataFromStream(&flag, 1, Stream, 10184);
  if (flag != 0) {
    FDataType = data_type;
    return;
  }
  uint8_t raw[4];
  LoadDataFromStream(raw, 4, Stream, 10185);
  const auto size = static_cast<int32_t>(LoadLE32(raw));
  // Every reader of the value trusts its size and terminator: a stored value that breaks
  // them is refused before it is used.
  const int32_t fixed = FixedSize(data_type);
  const bool size_ok = fixed ? size == fixed : (size > 0 && (!IsText16(data_type) || size % 2 == 0));
  if (!size_ok || data_type == bftUnknown || data_type == bftBFile)
    throw EORVException(10517, "Invalid stored value: data type %s, size %d", {BftToStr(data_type), size});
  void* p = MemoryManager().GetMem(size);
  try {
    LoadDataFromStream(p, size, Stream, 10186);
  } catch (...) {
    MemoryManager().FreeMem(p);
    throw;
  }
  const auto* bytes = static_cast<const uint8_t*>(p);
  const bool terminated = IsText8(data_type)    ? bytes[size - 1] == 0
                          : IsText16(data_type) ? (bytes[size - 1] | bytes[size - 2]) == 0
                                                : true;
  if (!terminated) {
    MemoryManager().FreeMem(p);
    throw EORVException(10517, "Invalid stored value: data type %s, size %d", {BftToStr(data_type), size});
  }
  TakeBuffer(p, size, data_type);
}

// ---- Common setter and getter -------------------------------------------------------------

void TORVVariant::SetDataValue(const void* Raw, int32_t Size, TORVBaseFieldType ValueType) {
  if (FDataType == ValueType && FPData && !IsTextType(FDataType) && !FIsDataLinked && FDataSize == Size) {
    std::memcpy(FPData, Raw, static_cast<size_t>(Size));
    FIsNull = false;
    return;
  }
  Clear(FDataType);
  if (FDataType == bftUnknown) FDataType = ValueType;
  if (IsTextType(ValueType)) {
    const auto* b = static_cast<const uint8_t*>(Raw);
    if (Size <= (IsText16(ValueType) ? 2 : 1) || (b[0] == 0 && (IsText8(ValueType) || b[1] == 0))) return;
  }
  int32_t size = Size;
  void* p = nullptr;
  if (FDataType == ValueType) {
    p = MemoryManager().GetMem(Size);
    std::memcpy(p, Raw, static_cast<size_t>(Size));
  } else {
    p = CastToNewBuffer(Raw, Size, ValueType, FDataType, size);
  }
  TakeBuffer(p, size, FDataType);
}

void TORVVariant::GetFixedValue(void* Result, int32_t Size, TORVBaseFieldType ValueType) const {
  if (GetIsNull()) throw EORVException(30016, "Value is Null");
  if (ValueType == FDataType) {
    if (FDataSize < Size) throw EORVException(30051, "Cannot cast from '%s' to '%s'", {BftToStr(FDataType), BftToStr(ValueType)});
    std::memcpy(Result, FPData, static_cast<size_t>(Size));
    return;
  }
  int32_t size = 0;
  void* p = CastToNewBuffer(FPData, FDataSize, FDataType, ValueType, size);
  std::memcpy(Result, p, static_cast<size_t>(std::min(size, Size)));
  MemoryManager().FreeMem(p);
}

namespace {
template <class T>
T FromRaw(const uint8_t* raw) {
  return vb::Load<T>(raw);
}
}  // namespace

#define ORV_FIXED_ACCESSORS(Name, CType, Type)                        \
  CType TORVVariant::GetDataAs##Name() const {                        \
    uint8_t raw[sizeof(CType)];                                       \
    GetFixedValue(raw, sizeof(CType), Type);                          \
    return FromRaw<CType>(raw);                                       \
  }                                                                   \
  void TORVVariant::SetDataAs##Name(CType Value) {                    \
    uint8_t raw[sizeof(CType)];                                       \
    vb::Store<CType>(raw, Value);                                     \
    SetDataValue(raw, sizeof(CType), Type);                           \
  }

ORV_FIXED_ACCESSORS(SignedInt8, int8_t, bftSignedInt8)
ORV_FIXED_ACCESSORS(SignedInt16, int16_t, bftSignedInt16)
ORV_FIXED_ACCESSORS(SignedInt32, int32_t, bftSignedInt32)
ORV_FIXED_ACCESSORS(SignedInt64, int64_t, bftSignedInt64)
ORV_FIXED_ACCESSORS(UnsignedInt8, uint8_t, bftUnsignedInt8)
ORV_FIXED_ACCESSORS(UnsignedInt16, uint16_t, bftUnsignedInt16)
ORV_FIXED_ACCESSORS(UnsignedInt32, uint32_t, bftUnsignedInt32)
ORV_FIXED_ACCESSORS(Single, float, bftSingle)
ORV_FIXED_ACCESSORS(Double, double, bftDouble)
ORV_FIXED_ACCESSORS(ORVDate, int32_t, bftDate)
ORV_FIXED_ACCESSORS(ORVTime, int32_t, bftTime)
ORV_FIXED_ACCESSORS(Currency, double, bftCurrency)
#undef ORV_FIXED_ACCESSORS

long double TORVVariant::GetDataAsExtended() const {
  uint8_t raw[10];
  GetFixedValue(raw, 10, bftExtended);
  return BytesToExtended(raw);
}

void TORVVariant::SetDataAsExtended(long double Value) {
  uint8_t raw[10];
  ExtendedToBytes(Value, raw);
  SetDataValue(raw, 10, bftExtended);
}

TORVDateTime TORVVariant::GetDataAsORVDateTime() const {
  uint8_t raw[8];
  GetFixedValue(raw, 8, bftDateTime);
  return TORVDateTime::ReadFrom(raw);
}

void TORVVariant::SetDataAsORVDateTime(const TORVDateTime& Value) {
  uint8_t raw[8];
  Value.WriteTo(raw);
  SetDataValue(raw, 8, bftDateTime);
}

bool TORVVariant::GetDataAsBoolean() const {
  uint8_t raw[2];
  GetFixedValue(raw, 2, bftLogical);
  return vb::Load<uint16_t>(raw) != 0;
}

void TORVVariant::SetDataAsBoolean(bool Value) {
  uint8_t raw[2];
  vb::Store<uint16_t>(raw, Value ? 1 : 0);
  SetDataValue(raw, 2, bftLogical);
}

TDateTime TORVVariant::GetDataAsTDate() const { return ORVDateToDate(GetDataAsORVDate()); }
TDateTime TORVVariant::GetDataAsTTime() const { return ORVTimeToTime(GetDataAsORVTime()); }
TDateTime TORVVariant::GetDataAsTDateTime() const { return ORVDateTimeToDateTime(GetDataAsORVDateTime()); }
void TORVVariant::SetDataAsTDate(TDateTime Value) { SetDataAsORVDate(DateToORVDate(Value)); }
void TORVVariant::SetDataAsTTime(TDateTime Value) { SetDataAsORVTime(TimeToORVTime(Value)); }
void TORVVariant::SetDataAsTDateTime(TDateTime Value) { SetDataAsORVDateTime(DateTimeToORVDateTime(Value)); }

std::string TORVVariant::GetDataAsAnsiString() const {
  if (GetIsNull()) return std::string();
  if (IsText8(FDataType))
    return std::string(static_cast<const char*>(FPData), static_cast<size_t>(vb::TextLength<char>(FPData, FDataSize)));
  int32_t size = 0;
  void* p = CastToNewBuffer(FPData, FDataSize, FDataType, bftVarchar, size);
  std::string result(static_cast<const char*>(p), static_cast<size_t>(std::max(size - 1, 0)));
  MemoryManager().FreeMem(p);
  return result;
}

std::u16string TORVVariant::GetDataAsWideString() const {
  if (GetIsNull()) return std::u16string();
  const void* src = FPData;
  int32_t size = FDataSize;
  void* p = nullptr;
  if (!IsText16(FDataType)) {
    p = CastToNewBuffer(FPData, FDataSize, FDataType, bftWideVarchar, size);
    src = p;
  }
  std::u16string result(static_cast<size_t>(vb::TextLength<char16_t>(src, size)), u'\0');
  vb::CopyWide(result.data(), src, static_cast<int32_t>(result.size()));
  if (p) MemoryManager().FreeMem(p);
  return result;
}

void TORVVariant::SetText8(std::string_view Text, TORVBaseFieldType ValueType) {
  // The value is the text up to its first zero, with its terminator.
  const size_t n = std::min(Text.size(), Text.find('\0'));
  std::string raw(Text.substr(0, n));
  raw.push_back('\0');
  SetDataValue(raw.data(), static_cast<int32_t>(raw.size()), ValueType);
}

void TORVVariant::SetDataAsAnsiString(std::string_view Value) { SetText8(Value, bftVarchar); }

void TORVVariant::SetDataAsWideString(std::u16string_view Value) {
  const size_t n = std::min(Value.size(), Value.find(u'\0'));
  std::string raw((n + 1) * 2, '\0');
  vb::StoreWide(raw.data(), Value.data(), static_cast<int32_t>(n));
  SetDataValue(raw.data(), static_cast<int32_t>(raw.size()), bftWideVarchar);
}

// ---- The variant form ---------------------------------------------------------------------

void TORVVariant::SetDataAsVariant(const TORVVarValue& Value) {
  const auto as_int = [&]() -> int64_t {
    if (const auto* i = std::get_if<int64_t>(&Value.Value)) return *i;
    if (const auto* d = std::get_if<double>(&Value.Value)) return static_cast<int64_t>(*d);
    if (const auto* b = std::get_if<bool>(&Value.Value)) return *b ? -1 : 0;
    return 0;
  };
  const auto as_float = [&]() -> double {
    if (const auto* d = std::get_if<double>(&Value.Value)) return *d;
    if (const auto* i = std::get_if<int64_t>(&Value.Value)) return static_cast<double>(*i);
    return 0;
  };
  const auto as_wide = [&]() -> std::u16string {
    if (const auto* w = std::get_if<std::u16string>(&Value.Value)) return *w;
    if (const auto* s = std::get_if<std::string>(&Value.Value)) return platform::Cp1252ToUtf16(*s);
    return std::u16string();
  };
  const auto as_ansi = [&]() -> std::string {
    if (const auto* s = std::get_if<std::string>(&Value.Value)) return *s;
    if (const auto* w = std::get_if<std::u16string>(&Value.Value)) return platform::Utf16ToCp1252(*w);
    return std::string();
  };
  switch (Value.VType) {
    case varEmpty:
    case varNull: SetNull(FDataType); return;
    case varSmallint: SetDataAsSignedInt16(static_cast<int16_t>(as_int())); return;
    case varInteger: SetDataAsSignedInt32(static_cast<int32_t>(as_int())); return;
    case varSingle: SetDataAsSingle(static_cast<float>(as_float())); return;
    case varDouble: SetDataAsDouble(as_float()); return;
    case varCurrency: SetDataAsCurrency(as_float()); return;
    case varDate: SetDataAsTDateTime(as_float()); return;
    case varOleStr: SetDataAsWideString(as_wide()); return;
    case varBoolean: {
      const auto* b = std::get_if<bool>(&Value.Value);
      SetDataAsBoolean(b ? *b : as_int() != 0);
      return;
    }
    case varShortInt: SetDataAsSignedInt8(static_cast<int8_t>(as_int())); return;
    case varByte: SetDataAsUnsignedInt8(static_cast<uint8_t>(as_int())); return;
    case varWord: SetDataAsUnsignedInt16(static_cast<uint16_t>(as_int())); return;
    case varLongWord: SetDataAsUnsignedInt32(static_cast<uint32_t>(as_int())); return;
    case varInt64: SetDataAsSignedInt64(as_int()); return;
    default:
      if (Value.VType >= 256 && Value.VType <= 287) {
        if (Value.VType == varUString)
          SetDataAsWideString(as_wide());
        else
          SetDataAsAnsiString(as_ansi());
        return;
      }
      throw EORVException(30113, "Unsupported Variant Type %s", {std::to_string(Value.VType)});
  }
}

TORVVarValue TORVVariant::GetDataAsVariant() const {
  if (GetIsNull()) return TORVVarValue::Null();
  switch (FDataType) {
    case bftChar:
    case bftVarchar: return TORVVarValue::Ansi(GetDataAsAnsiString());
    case bftBlob: {
      // Text kept as BLOB carries the terminator of its conversion; the variant is the text.
      const auto* bytes = static_cast<const char*>(FPData);
      const size_t n = FDataSize > 0 ? static_cast<size_t>(FDataSize - 1) : 0;
      return TORVVarValue::Ansi(std::string(bytes, n));
    }
    case bftWideChar:
    case bftWideVarchar: return TORVVarValue::Wide(GetDataAsWideString());
    case bftSignedInt8: return TORVVarValue::Int(varShortInt, GetDataAsSignedInt8());
    case bftSignedInt16: return TORVVarValue::Int(varSmallint, GetDataAsSignedInt16());
    case bftSignedInt32: return TORVVarValue::Int(varInteger, GetDataAsSignedInt32());
    case bftSignedInt64: return TORVVarValue::Int(varInt64, GetDataAsSignedInt64());
    case bftUnsignedInt8: return TORVVarValue::Int(varByte, GetDataAsUnsignedInt8());
    case bftUnsignedInt16: return TORVVarValue::Int(varWord, GetDataAsUnsignedInt16());
    case bftUnsignedInt32: return TORVVarValue::Int(varLongWord, GetDataAsUnsignedInt32());
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency: return TORVVarValue::Float(varDouble, GetDataAsDouble());
    case bftDate: return TORVVarValue::Float(varDate, GetDataAsTDate());
    case bftTime: return TORVVarValue::Float(varDate, GetDataAsTTime());
    case bftDateTime: return TORVVarValue::Float(varDate, GetDataAsTDateTime());
    case bftLogical: return TORVVarValue::Bool(GetDataAsBoolean());
    default: throw EORVException(30114, "Unsupported Variant Type %s", {BftToStr(FDataType)});
  }
}

}  // namespace orv
