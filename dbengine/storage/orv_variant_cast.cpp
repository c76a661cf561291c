// The common type of two operands and the conversion of a value buffer into another type.
#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/orv_variant.h"
#include "dbengine/storage/orv_variant_buffer.h"
#include "platform/base/cp1252.h"
#include "platform/base/number_format.h"
#include "platform/base/number_parse.h"

namespace orv {

namespace vb = value_buffer;

// ---- Common type --------------------------------------------------------------------------

namespace {

bool IsText(TORVBaseFieldType t) { return t >= bftChar && t <= bftWideVarchar; }
bool IsClob(TORVBaseFieldType t) { return t == bftClob || t == bftWideClob; }
bool IsSigned(TORVBaseFieldType t) { return t >= bftSignedInt8 && t <= bftSignedInt64; }
bool IsUnsigned(TORVBaseFieldType t) { return t >= bftUnsignedInt8 && t <= bftUnsignedInt32; }
bool IsInteger(TORVBaseFieldType t) { return IsSigned(t) || IsUnsigned(t); }
bool IsFloat(TORVBaseFieldType t) { return t >= bftSingle && t <= bftExtended; }
bool IsDateKind(TORVBaseFieldType t) { return t == bftDate || t == bftTime || t == bftDateTime; }

bool HasNoCommonType(TORVBaseFieldType t) {
  return t == bftUnknown || t == bftBlob || t == bftBytes || t == bftVarBytes || t >= bftBFile;
}

TORVBaseFieldType CommonInteger(TORVBaseFieldType a, TORVBaseFieldType b) {
  if (IsSigned(a) == IsSigned(b)) return a > b ? a : b;  // the enumerations ascend by width
  const TORVBaseFieldType s = IsSigned(a) ? a : b;
  const TORVBaseFieldType u = IsSigned(a) ? b : a;
  if (s == bftSignedInt64 || u == bftUnsignedInt32) return bftSignedInt64;
  if (s == bftSignedInt32) return bftSignedInt32;
  return u == bftUnsignedInt8 ? bftSignedInt16 : bftSignedInt32;
}

}  // namespace

TORVBaseFieldType GetCommonDataType(TORVBaseFieldType a, TORVBaseFieldType b, bool ForCompare) {
  if (HasNoCommonType(a) || HasNoCommonType(b)) return bftUnknown;
  if (IsText(a) && IsText(b)) {
    for (TORVBaseFieldType t : {bftWideVarchar, bftWideChar, bftVarchar})
      if (a == t || b == t) return t;
    return bftChar;
  }
  if ((IsText(a) && IsClob(b)) || (IsClob(a) && IsText(b))) {
    const TORVBaseFieldType s = IsText(a) ? a : b;
    const TORVBaseFieldType c = IsText(a) ? b : a;
    if (c == bftClob) return s;
    return (s == bftChar || s == bftWideChar) ? bftWideChar : bftWideVarchar;
  }
  if (IsClob(a) && IsClob(b)) return (a == bftClob && b == bftClob) ? bftChar : bftWideChar;
  if (IsText(a) || IsText(b)) {
    const TORVBaseFieldType s = IsText(a) ? a : b;
    const TORVBaseFieldType o = IsText(a) ? b : a;
    if (IsClob(o)) return bftUnknown;
    if (IsDateKind(o)) return ForCompare ? o : s;
    return s;  // integers, floats, currency, logical
  }
  if (IsClob(a) || IsClob(b)) return bftUnknown;
  if (a == bftLogical || b == bftLogical) {
    const TORVBaseFieldType o = a == bftLogical ? b : a;
    if (o == bftLogical) return bftLogical;
    if (IsInteger(o) || IsFloat(o)) return o;
    return bftUnknown;
  }
  if (IsDateKind(a) || IsDateKind(b)) {
    if (IsDateKind(a) && IsDateKind(b)) return a == b ? a : bftDateTime;
    const TORVBaseFieldType d = IsDateKind(a) ? a : b;
    const TORVBaseFieldType o = IsDateKind(a) ? b : a;
    if (IsInteger(o) || IsFloat(o)) return d;
    return bftUnknown;
  }
  if (IsInteger(a) && IsInteger(b)) return CommonInteger(a, b);
  if (IsFloat(a) && IsFloat(b)) return a > b ? a : b;
  if ((IsFloat(a) && IsInteger(b)) || (IsInteger(a) && IsFloat(b))) return IsFloat(a) ? a : b;
  if (a == bftCurrency && b == bftCurrency) return bftCurrency;
  if ((a == bftCurrency && IsInteger(b)) || (IsInteger(a) && b == bftCurrency)) return bftCurrency;
  if (IsFloat(a) && b == bftCurrency) return bftCurrency;
  if (a == bftCurrency && IsFloat(b)) return b;
  return bftUnknown;
}

TORVAdvancedFieldType GetCommonDataType(TORVAdvancedFieldType a, TORVAdvancedFieldType b, bool ForCompare) {
  const TORVBaseFieldType ba = AdvancedFieldTypeToBaseFieldType(a);
  const TORVBaseFieldType bb = AdvancedFieldTypeToBaseFieldType(b);
  const TORVBaseFieldType common = GetCommonDataType(ba, bb, ForCompare);
  if (ba == common) return a;
  if (bb == common) return b;
  return BaseFieldTypeToAdvancedFieldType(common);
}

// ---- Conversion ---------------------------------------------------------------------------

namespace {

// The pair has no conversion (30052).
struct NoConversion {};
// The value does not convert (30051).
struct ConversionFailed {};

// A source value read out of its buffer.
struct Source {
  enum Kind { Text8, Text16, Signed, Unsigned, Float, Currency, Date, Time, DateTime, Logical } kind = Signed;
  bool clob = false;  // CLOB texts: integers always parse as 32-bit, dates only in the engine's form
  std::string text8;  // Text8 (raw bytes; a CLOB may hold zeros)
  std::u16string text16;
  int64_t i = 0;
  uint64_t u = 0;
  long double f = 0;
  double currency = 0;
  int32_t date = 0, time = 0;
  bool logical = false;
};

Source Read(const void* buffer, int32_t size, TORVBaseFieldType type) {
  Source s;
  switch (type) {
    case bftChar:
    case bftVarchar:
      s.kind = Source::Text8;
      s.text8.assign(static_cast<const char*>(buffer), static_cast<size_t>(vb::TextLength<char>(buffer, size)));
      break;
    case bftClob:
      s.kind = Source::Text8;
      s.clob = true;
      if (size >= 0)
        s.text8.assign(static_cast<const char*>(buffer), static_cast<size_t>(size));
      else
        s.text8.assign(static_cast<const char*>(buffer), static_cast<size_t>(vb::TextLength<char>(buffer, -1)));
      break;
    case bftWideChar:
    case bftWideVarchar:
    case bftWideClob: {
      s.kind = Source::Text16;
      s.clob = type == bftWideClob;
      const int32_t n = vb::TextLength<char16_t>(buffer, size);
      s.text16.resize(static_cast<size_t>(n));
      vb::CopyWide(s.text16.data(), buffer, n);
      break;
    }
    case bftSignedInt8: s.i = vb::Load<int8_t>(buffer); break;
    case bftSignedInt16: s.i = vb::Load<int16_t>(buffer); break;
    case bftSignedInt32: s.i = vb::Load<int32_t>(buffer); break;
    case bftSignedInt64: s.i = vb::Load<int64_t>(buffer); break;
    case bftUnsignedInt8: s.kind = Source::Unsigned; s.u = vb::Load<uint8_t>(buffer); break;
    case bftUnsignedInt16: s.kind = Source::Unsigned; s.u = vb::Load<uint16_t>(buffer); break;
    case bftUnsignedInt32: s.kind = Source::Unsigned; s.u = vb::Load<uint32_t>(buffer); break;
    case bftSingle: s.kind = Source::Float; s.f = vb::Load<float>(buffer); break;
    case bftDouble: s.kind = Source::Float; s.f = vb::Load<double>(buffer); break;
    case bftExtended: s.kind = Source::Float; s.f = BytesToExtended(static_cast<const uint8_t*>(buffer)); break;
    case bftCurrency: s.kind = Source::Currency; s.currency = vb::Load<double>(buffer); break;
    case bftDate: s.kind = Source::Date; s.date = vb::Load<int32_t>(buffer); break;
    case bftTime: s.kind = Source::Time; s.time = vb::Load<int32_t>(buffer); break;
    case bftDateTime:
      s.kind = Source::DateTime;
      s.date = vb::Load<int32_t>(buffer);
      s.time = vb::Load<int32_t>(static_cast<const uint8_t*>(buffer) + 4);
      break;
    case bftLogical: s.kind = Source::Logical; s.logical = vb::Load<uint16_t>(buffer) != 0; break;
    default: throw NoConversion{};
  }
  return s;
}

bool IsTextKind(const Source& s) { return s.kind == Source::Text8 || s.kind == Source::Text16; }

std::string AsText8(const Source& s) {
  return s.kind == Source::Text8 ? s.text8 : platform::Utf16ToCp1252(s.text16);
}

int64_t ParseInteger(const Source& s, bool as64) {
  const std::string text = AsText8(s);
  if (as64 && !s.clob) {
    int64_t v = 0;
    if (!platform::TryStrToInt64(text, v)) throw ConversionFailed{};
    return v;
  }
  int32_t v = 0;
  if (!platform::TryStrToInt(text, v)) throw ConversionFailed{};
  return v;
}

long double ParseFloat(const Source& s) {
  // A point is the decimal separator of stored texts, whatever the process's settings.
  static const platform::FormatSettings point{'.', ','};
  long double v = 0;
  if (!platform::TryStrToFloat(AsText8(s), v, point)) throw ConversionFailed{};
  return v;
}

constexpr long double kMaxCurrency = 922337203685477.5807L;

double RoundToCurrency(long double v) {
  if (!(std::fabs(v) <= kMaxCurrency)) throw ConversionFailed{};
  return static_cast<double>(std::nearbyint(v * 10000.0L) / 10000.0L);
}

double ParseCurrency(const Source& s) {
  long double v = 0;
  if (!platform::TryStrToFloat(AsText8(s), v, platform::ProcessFormatSettings())) throw ConversionFailed{};
  return RoundToCurrency(v);
}

int64_t TruncToInt64(long double v) {
  const long double t = std::trunc(v);
  if (!(t >= -9223372036854775808.0L && t < 9223372036854775808.0L)) throw ConversionFailed{};
  return static_cast<int64_t>(t);
}

int32_t TruncToInt32(long double v) {
  const int64_t t = TruncToInt64(v);
  if (t < INT32_MIN || t > INT32_MAX) throw ConversionFailed{};
  return static_cast<int32_t>(t);
}

// The number a non-text source stands for as an integer (low bits are taken by the caller).
int64_t IntegerOf(const Source& s, TORVBaseFieldType target) {
  switch (s.kind) {
    case Source::Text8:
    case Source::Text16: return ParseInteger(s, target == bftSignedInt64);
    case Source::Signed: return s.i;
    case Source::Unsigned: return static_cast<int64_t>(s.u);
    case Source::Float: return TruncToInt64(s.f);
    case Source::Currency: return TruncToInt64(s.currency);
    case Source::Date: return s.date;
    case Source::Time: return s.time;
    case Source::DateTime: return s.date;
    case Source::Logical: return s.logical ? 1 : 0;
  }
  throw NoConversion{};
}

long double FloatOf(const Source& s) {
  switch (s.kind) {
    case Source::Text8:
    case Source::Text16: return ParseFloat(s);
    case Source::Signed: return static_cast<long double>(s.i);
    case Source::Unsigned: return static_cast<long double>(s.u);
    case Source::Float: return s.f;
    case Source::Currency: return s.currency;
    case Source::Date: return s.date;
    case Source::Time: return s.time;
    case Source::DateTime:
      return static_cast<long double>(s.date == DATE_IS_NULL ? 0 : s.date) +
             static_cast<long double>(s.time) / MILSECS_IN_DAY;
    case Source::Logical: return s.logical ? 1.0L : 0.0L;
  }
  throw NoConversion{};
}

std::string CurrencyText(double v) { return platform::FloatToStr(RoundToCurrency(v)); }

std::string Text8Of(const Source& s) {
  switch (s.kind) {
    case Source::Text8: return s.text8;
    case Source::Text16: return platform::Utf16ToCp1252(s.text16);
    case Source::Signed: return std::to_string(s.i);
    case Source::Unsigned: return std::to_string(s.u);
    case Source::Float: return platform::FloatToStr(s.f);
    case Source::Currency: return CurrencyText(s.currency);
    case Source::Date: return s.date == DATE_IS_NULL ? std::string() : DateToEngineText(ORVDateToDate(s.date));
    case Source::Time: return s.time == 0 ? std::string() : TimeToEngineText(ORVTimeToTime(s.time));
    case Source::DateTime:
      if (s.date == DATE_IS_NULL) return s.time == 0 ? std::string() : TimeToEngineText(ORVTimeToTime(s.time));
      return DateTimeToEngineText(ORVDateTimeToDateTime({s.date, s.time}));
    case Source::Logical: return s.logical ? "True" : "False";
  }
  throw NoConversion{};
}

int32_t DateOf(const Source& s) {
  switch (s.kind) {
    case Source::Text8:
    case Source::Text16: {
      const std::string text = AsText8(s);
      TDateTime dt = 0;
      if (s.kind == Source::Text8 && !s.clob) {
        if (ISOTimeStampStrToDateTime(text, dt) || ISODateStrToDate(text, dt)) return DateToORVDate(dt);
      }
      if (!TryEngineTextToDate(text, dt)) throw ConversionFailed{};
      return DateToORVDate(dt);
    }
    case Source::Signed:
    case Source::Unsigned: return static_cast<int32_t>(static_cast<uint32_t>(IntegerOf(s, bftSignedInt64)));
    case Source::Float: return TruncToInt32(s.f);
    case Source::Date: return s.date;
    case Source::Time: return s.time;
    case Source::DateTime: return s.date;
    default: throw NoConversion{};
  }
}

int32_t TimeOf(const Source& s) {
  switch (s.kind) {
    case Source::Text8:
    case Source::Text16: {
      const std::string text = AsText8(s);
      TDateTime dt = 0;
      if (s.kind == Source::Text8 && !s.clob && ISOTimeStrToTime(text, dt)) return TimeToORVTime(dt);
      if (!TryEngineTextToTime(text, dt)) throw ConversionFailed{};
      return TimeToORVTime(dt);
    }
    case Source::Signed:
    case Source::Unsigned: return static_cast<int32_t>(static_cast<uint32_t>(IntegerOf(s, bftSignedInt64)));
    case Source::Float: return static_cast<int32_t>(TruncToInt64(s.f) % MILSECS_IN_DAY);
    case Source::Date: return s.date % MILSECS_IN_DAY;
    case Source::Time: return s.time;
    case Source::DateTime: return s.time;
    default: throw NoConversion{};
  }
}

TORVDateTime DateTimeOf(const Source& s) {
  switch (s.kind) {
    case Source::Text8:
    case Source::Text16: {
      const std::string text = AsText8(s);
      TDateTime dt = 0;
      if (s.kind == Source::Text8 && !s.clob) {
        if (ISOTimeStampStrToDateTime(text, dt) || ISODateStrToDate(text, dt)) return DateTimeToORVDateTime(dt);
      }
      if (!TryEngineTextToDateTime(text, dt)) throw ConversionFailed{};
      return DateTimeToORVDateTime(dt);
    }
    case Source::Signed:
    case Source::Unsigned: return {static_cast<int32_t>(static_cast<uint32_t>(IntegerOf(s, bftSignedInt64))), 0};
    case Source::Float: {
      const int32_t date = TruncToInt32(s.f);
      const long double frac = s.f - std::trunc(s.f);
      return {date, static_cast<int32_t>(std::trunc(frac * MILSECS_IN_DAY))};
    }
    case Source::Date: return {s.date, 0};
    case Source::Time: return {DATE_IS_NULL, s.time};
    case Source::DateTime: return {s.date, s.time};
    default: throw NoConversion{};
  }
}

bool LogicalOf(const Source& s) {
  switch (s.kind) {
    case Source::Text8:
    case Source::Text16: {
      const std::string upper = AnsiUpperCase(AsText8(s));
      return upper == "1" || upper == "TRUE";
    }
    case Source::Signed: return s.i != 0;
    case Source::Unsigned: return s.u != 0;
    case Source::Float: return s.f != 0;
    case Source::Currency: return s.currency != 0;
    case Source::Date: return s.date != DATE_IS_NULL;
    case Source::Time: return s.time != 0;
    case Source::DateTime: return s.date != DATE_IS_NULL || s.time != 0;
    case Source::Logical: return s.logical;
  }
  throw NoConversion{};
}

double CurrencyOf(const Source& s) {
  switch (s.kind) {
    case Source::Text8:
    case Source::Text16: return ParseCurrency(s);
    case Source::Signed: return static_cast<double>(s.i);
    case Source::Unsigned: return static_cast<double>(s.u);
    case Source::Float: return static_cast<double>(s.f);
    case Source::Currency: return s.currency;
    case Source::Date: return s.date;
    case Source::Time: return s.time;
    case Source::DateTime: return RoundToCurrency(FloatOf(s));
    default: throw NoConversion{};
  }
}

// A new buffer of Size bytes, zero-filled.
void* NewBuffer(int32_t size) { return MemoryManager().AllocMem(size); }

void* Text8Buffer(const std::string& text, int32_t& size) {
  size = static_cast<int32_t>(text.size()) + 1;
  void* p = NewBuffer(size);
  std::memcpy(p, text.data(), text.size());
  return p;
}

void* Text16Buffer(const std::u16string& text, int32_t& size) {
  size = (static_cast<int32_t>(text.size()) + 1) * 2;
  void* p = NewBuffer(size);
  vb::StoreWide(p, text.data(), static_cast<int32_t>(text.size()));
  return p;
}

template <class T>
void* FixedBuffer(T value, int32_t& size) {
  size = sizeof(T);
  void* p = NewBuffer(size);
  vb::Store<T>(p, value);
  return p;
}

void* Convert(const Source& s, TORVBaseFieldType target, int32_t& size) {
  switch (target) {
    case bftChar:
    case bftVarchar: return Text8Buffer(Text8Of(s), size);
    case bftWideChar:
    case bftWideVarchar:
      if (s.kind == Source::Text16) return Text16Buffer(s.text16, size);
      return Text16Buffer(platform::Cp1252ToUtf16(Text8Of(s)), size);
    case bftSignedInt8: return FixedBuffer<int8_t>(static_cast<int8_t>(IntegerOf(s, target)), size);
    case bftSignedInt16: return FixedBuffer<int16_t>(static_cast<int16_t>(IntegerOf(s, target)), size);
    case bftSignedInt32: return FixedBuffer<int32_t>(static_cast<int32_t>(IntegerOf(s, target)), size);
    case bftSignedInt64: return FixedBuffer<int64_t>(IntegerOf(s, target), size);
    case bftUnsignedInt8: return FixedBuffer<uint8_t>(static_cast<uint8_t>(IntegerOf(s, target)), size);
    case bftUnsignedInt16: return FixedBuffer<uint16_t>(static_cast<uint16_t>(IntegerOf(s, target)), size);
    case bftUnsignedInt32: return FixedBuffer<uint32_t>(static_cast<uint32_t>(IntegerOf(s, target)), size);
    case bftSingle: return FixedBuffer<float>(static_cast<float>(FloatOf(s)), size);
    case bftDouble: return FixedBuffer<double>(static_cast<double>(FloatOf(s)), size);
    case bftExtended: {
      uint8_t bytes[10];
      ExtendedToBytes(FloatOf(s), bytes);
      size = 10;
      void* p = NewBuffer(size);
      std::memcpy(p, bytes, 10);
      return p;
    }
    case bftCurrency:
      if (s.kind == Source::Logical) throw NoConversion{};
      return FixedBuffer<double>(CurrencyOf(s), size);
    case bftDate: return FixedBuffer<int32_t>(DateOf(s), size);
    case bftTime: return FixedBuffer<int32_t>(TimeOf(s), size);
    case bftDateTime: {
      const TORVDateTime dt = DateTimeOf(s);
      size = 8;
      void* p = NewBuffer(size);
      dt.WriteTo(static_cast<uint8_t*>(p));
      return p;
    }
    case bftBlob:
      if (s.kind == Source::Text8) return Text8Buffer(s.text8, size);
      if (s.kind == Source::Text16) return Text16Buffer(s.text16, size);
      throw NoConversion{};
    case bftLogical: return FixedBuffer<uint16_t>(LogicalOf(s) ? 1 : 0, size);
    default: throw NoConversion{};
  }
}

// Conversions the table leaves out although both types are known.
bool IsExcludedPair(const Source& s, TORVBaseFieldType target) {
  if (s.kind == Source::Logical) return IsDateKind(target) || target == bftCurrency || target == bftBlob;
  if (s.kind == Source::Currency) return IsDateKind(target) || target == bftBlob;
  if (!IsTextKind(s)) return target == bftBlob;
  return false;
}

}  // namespace

void* CastToNewBuffer(const void* Buffer, int32_t DataSize, TORVBaseFieldType DataType, TORVBaseFieldType NewDataType,
                      int32_t& NewDataSize) {
  const bool unsupported_source = DataType == bftUnknown || DataType == bftBlob || DataType == bftBytes ||
                                  DataType == bftVarBytes || DataType >= bftBFile;
  const bool unsupported_target = NewDataType == bftUnknown || NewDataType == bftClob || NewDataType == bftWideClob ||
                                  NewDataType == bftBytes || NewDataType == bftVarBytes || NewDataType >= bftBFile;
  if (unsupported_source || unsupported_target)
    throw EORVException(30052, "Cannot cast from '%s' to '%s'", {BftToStr(DataType), BftToStr(NewDataType)});
  if (!Buffer) throw EORVException(30051, "Cannot cast from '%s' to '%s'", {BftToStr(DataType), BftToStr(NewDataType)});
  try {
    const Source s = Read(Buffer, DataSize, DataType);
    if (IsExcludedPair(s, NewDataType)) throw NoConversion{};
    // A CLOB becomes 8-bit text byte for byte, zeros and all.
    if (DataType == bftClob && (NewDataType == bftChar || NewDataType == bftVarchar))
      return Text8Buffer(s.text8, NewDataSize);
    return Convert(s, NewDataType, NewDataSize);
  } catch (const NoConversion&) {
    throw EORVException(30052, "Cannot cast from '%s' to '%s'", {BftToStr(DataType), BftToStr(NewDataType)});
  } catch (const EORVException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    // Texts that do not parse, dates the calendar rejects, numbers out of range.
    throw EORVException(30051, "Cannot cast from '%s' to '%s'", {BftToStr(DataType), BftToStr(NewDataType)});
  }
}

void* CastToNewBuffer(const void* Buffer, int32_t DataSize, TORVBaseFieldType DataType, TORVBaseFieldType NewDataType) {
  int32_t size = 0;
  return CastToNewBuffer(Buffer, DataSize, DataType, NewDataType, size);
}

}  // namespace orv
