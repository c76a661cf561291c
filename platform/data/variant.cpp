#include "platform/data/variant.h"

#include <cmath>
#include <limits>

#include "platform/base/cp1252.h"
#include "platform/base/number_format.h"
#include "platform/base/number_parse.h"
#include "platform/base/numeric.h"
#include "platform/data/date_time_text.h"

namespace platform::data {
namespace {

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

Variant::Variant(bool v) : type_(VarType::Boolean), int_(v ? 1 : 0) {}
Variant::Variant(int v) : type_(VarType::Integer), int_(v) {}
Variant::Variant(unsigned v) : type_(VarType::Int64), int_(v) {}
Variant::Variant(long v) : type_(VarType::Int64), int_(v) {
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) type_ = VarType::Integer;
}
Variant::Variant(unsigned long v) : type_(VarType::Int64), int_(static_cast<int64_t>(v)) {
  if (v > static_cast<unsigned long>(std::numeric_limits<int64_t>::max()))
    throw EVariantError("Arithmetic overflow in variant conversion");
}
Variant::Variant(long long v) : Variant(static_cast<long>(v)) {}
Variant::Variant(double v) : type_(VarType::Double), double_(v) {}
Variant::Variant(const char* utf8) : type_(VarType::String), text_(utf8 ? utf8 : "") {}
Variant::Variant(std::string utf8) : type_(VarType::String), text_(std::move(utf8)) {}
Variant::Variant(const char16_t* text) : type_(VarType::WideString), wide_(text ? text : u"") {}
Variant::Variant(std::u16string text) : type_(VarType::WideString), wide_(std::move(text)) {}

Variant Variant::Null() {
  Variant v;
  v.type_ = VarType::Null;
  return v;
}

Variant Variant::FromAnsi(std::string cp1252_bytes) {
  Variant v;
  v.type_ = VarType::AnsiString;
  v.text_ = std::move(cp1252_bytes);
  return v;
}

Variant Variant::FromDate(TDateTime value) {
  Variant v;
  v.type_ = VarType::Date;
  v.double_ = value;
  return v;
}

Variant Variant::FromCurrency(double value) {
  const long double scaled = static_cast<long double>(value) * 10000.0L;
  if (!std::isfinite(static_cast<double>(scaled)) || std::fabs(static_cast<double>(scaled)) > 9.2e18)
    throw EVariantError("Arithmetic overflow in variant conversion");
  return FromCurrencyUnits(Round64(scaled));
}

Variant Variant::FromCurrencyUnits(int64_t ten_thousandths) {
  Variant v;
  v.type_ = VarType::Currency;
  v.int_ = ten_thousandths;
  return v;
}

Variant Variant::FromBytes(std::vector<uint8_t> bytes) {
  Variant v;
  v.type_ = VarType::Bytes;
  v.bytes_ = std::move(bytes);
  return v;
}

Variant Variant::Array(std::vector<Variant> items) {
  Variant v;
  v.type_ = VarType::Array;
  v.items_ = std::move(items);
  return v;
}

bool Variant::IsNumeric() const {
  switch (type_) {
    case VarType::Integer:
    case VarType::Int64:
    case VarType::Double:
    case VarType::Currency:
      return true;
    default:
      return false;
  }
}

bool Variant::IsText() const {
  return type_ == VarType::String || type_ == VarType::AnsiString || type_ == VarType::WideString;
}

const char* Variant::TypeName(VarType type) {
  switch (type) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Boolean: return "Boolean";
    case VarType::Integer: return "Integer";
    case VarType::Int64: return "Int64";
    case VarType::Double: return "Double";
    case VarType::Currency: return "Currency";
    case VarType::Date: return "Date";
    case VarType::String: return "String";
    case VarType::AnsiString: return "AnsiString";
    case VarType::WideString: return "WideString";
    case VarType::Bytes: return "Bytes";
    case VarType::Array: return "Array";
  }
  return "Unknown";
}

void Variant::CastError(VarType target) const {
  throw EVariantError(std::string("Could not convert variant of type (") + TypeName(type_) + ") into type (" +
                      TypeName(target) + ")");
}

bool Variant::AsBoolean() const {
  switch (type_) {
    case VarType::Empty: return false;
    case VarType::Boolean:
    case VarType::Integer:
    case VarType::Int64:
    case VarType::Currency: return int_ != 0;
    case VarType::Double:
    case VarType::Date: return double_ != 0;
    case VarType::String:
    case VarType::AnsiString:
    case VarType::WideString: {
      const std::string s = AsString();
      if (SameTextAscii(s, "True")) return true;
      if (SameTextAscii(s, "False")) return false;
      double d = 0;
      if (TryStrToFloat(s, d)) return d != 0;
      CastError(VarType::Boolean);
    }
    default: CastError(VarType::Boolean);
  }
}

int64_t Variant::AsInt64() const {
  switch (type_) {
    case VarType::Empty: return 0;
    case VarType::Boolean: return int_ != 0 ? -1 : 0;
    case VarType::Integer:
    case VarType::Int64: return int_;
    case VarType::Currency: return Round64(static_cast<long double>(int_) / 10000.0L);
    case VarType::Double:
    case VarType::Date:
      if (!std::isfinite(double_) || std::fabs(double_) >= 9.2e18) throw EVariantError("Arithmetic overflow in variant conversion");
      return Round64(double_);
    case VarType::String:
    case VarType::AnsiString:
    case VarType::WideString: {
      const std::string s = AsString();
      int64_t i = 0;
      if (TryStrToInt64(s, i)) return i;
      double d = 0;
      if (TryStrToFloat(s, d) && std::isfinite(d) && std::fabs(d) < 9.2e18) return Round64(d);
      CastError(VarType::Int64);
    }
    default: CastError(VarType::Int64);
  }
}

int32_t Variant::AsInteger() const {
  const int64_t v = AsInt64();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw EVariantError("Arithmetic overflow in variant conversion");
  return static_cast<int32_t>(v);
}

double Variant::AsDouble() const {
  switch (type_) {
    case VarType::Empty: return 0;
    case VarType::Boolean: return int_ != 0 ? -1 : 0;
    case VarType::Integer:
    case VarType::Int64: return static_cast<double>(int_);
    case VarType::Currency: return static_cast<double>(static_cast<long double>(int_) / 10000.0L);
    case VarType::Double:
    case VarType::Date: return double_;
    case VarType::String:
    case VarType::AnsiString:
    case VarType::WideString: {
      double d = 0;
      if (TryStrToFloat(AsString(), d)) return d;
      CastError(VarType::Double);
    }
    default: CastError(VarType::Double);
  }
}

int64_t Variant::AsCurrencyUnits() const {
  if (type_ == VarType::Currency) return int_;
  if (type_ == VarType::Integer || type_ == VarType::Int64) {
    if (int_ > 922337203685477 || int_ < -922337203685477) throw EVariantError("Arithmetic overflow in variant conversion");
    return int_ * 10000;
  }
  return FromCurrency(AsDouble()).int_;
}

double Variant::AsCurrency() const { return static_cast<double>(static_cast<long double>(AsCurrencyUnits()) / 10000.0L); }

TDateTime Variant::AsDateTime() const {
  switch (type_) {
    case VarType::String:
    case VarType::AnsiString:
    case VarType::WideString: {
      TDateTime dt = 0;
      if (TryStrToDateTime(AsString(), dt)) return dt;
      CastError(VarType::Date);
    }
    case VarType::Boolean: CastError(VarType::Date);
    default: return AsDouble();
  }
}

std::string Variant::AsString() const {
  switch (type_) {
    case VarType::Empty: return {};
    case VarType::Boolean: return int_ != 0 ? "True" : "False";
    case VarType::Integer:
    case VarType::Int64: return IntToStr(int_);
    case VarType::Currency: return FloatToStr(static_cast<long double>(int_) / 10000.0L);
    case VarType::Double: return FloatToStr(double_);
    case VarType::Date: return DateTimeToStr(double_);
    case VarType::String: return text_;
    case VarType::AnsiString: return Cp1252ToUtf8(text_);
    case VarType::WideString: return Utf16ToUtf8(wide_);
    case VarType::Bytes: return Cp1252ToUtf8(std::string(bytes_.begin(), bytes_.end()));
    default: CastError(VarType::String);
  }
}

std::string Variant::AsAnsiString() const {
  switch (type_) {
    case VarType::AnsiString: return text_;
    case VarType::String: return Utf8ToCp1252(text_);
    case VarType::WideString: return Utf16ToCp1252(wide_);
    case VarType::Bytes: return std::string(bytes_.begin(), bytes_.end());
    default: return Utf8ToCp1252(AsString());
  }
}

std::u16string Variant::AsWideString() const {
  switch (type_) {
    case VarType::WideString: return wide_;
    case VarType::AnsiString: return Cp1252ToUtf16(text_);
    default: return Utf8ToUtf16(AsString());
  }
}

std::vector<uint8_t> Variant::AsBytes() const {
  switch (type_) {
    case VarType::Empty: return {};
    case VarType::Bytes: return bytes_;
    case VarType::String:
    case VarType::AnsiString: {
      const std::string a = AsAnsiString();
      return {a.begin(), a.end()};
    }
    case VarType::WideString: {
      std::vector<uint8_t> out;
      out.reserve(wide_.size() * 2);
      for (char16_t c : wide_) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
      }
      return out;
    }
    default: CastError(VarType::Bytes);
  }
}

const Variant& Variant::operator[](size_t i) const {
  if (type_ != VarType::Array || i >= items_.size()) throw EVariantError("Variant array index out of bounds");
  return items_[i];
}

bool Variant::SameValue(const Variant& other) const {
  if (type_ == VarType::Null || other.type_ == VarType::Null) return type_ == other.type_;
  if (type_ == VarType::Empty || other.type_ == VarType::Empty) return type_ == other.type_;
  const bool num_a = IsNumeric() || type_ == VarType::Date;
  const bool num_b = other.IsNumeric() || other.type_ == VarType::Date;
  if (num_a && num_b) {
    if (type_ == VarType::Currency && other.type_ == VarType::Currency) return int_ == other.int_;
    if ((type_ == VarType::Integer || type_ == VarType::Int64) &&
        (other.type_ == VarType::Integer || other.type_ == VarType::Int64))
      return int_ == other.int_;
    return AsDouble() == other.AsDouble();
  }
  if (IsText() && other.IsText()) {
    if (type_ == other.type_ && type_ != VarType::WideString) return text_ == other.text_;
    return AsWideString() == other.AsWideString();
  }
  if (type_ != other.type_) return false;
  switch (type_) {
    case VarType::Boolean: return (int_ != 0) == (other.int_ != 0);
    case VarType::Bytes: return bytes_ == other.bytes_;
    case VarType::Array:
      if (items_.size() != other.items_.size()) return false;
      for (size_t i = 0; i < items_.size(); ++i)
        if (!items_[i].SameValue(other.items_[i])) return false;
      return true;
    default: return false;
  }
}

std::string VarToStr(const Variant& v) { return v.IsNullOrEmpty() ? std::string() : v.AsString(); }

Variant VarArrayOf(std::initializer_list<Variant> items) { return Variant::Array(std::vector<Variant>(items)); }

}  // namespace platform::data
