#include "platform/data/numeric_field.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/base/number_format.h"
#include "platform/base/number_parse.h"
#include "platform/base/numeric.h"
#include "platform/data/database_error.h"
#include "platform/data/same_text.h"

namespace platform::data {
namespace {

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

}  // namespace

// ---- integers of up to 32 bits

TIntegerField::TIntegerField() : TIntegerField(ftInteger, 4, true, kInt32Min, kInt32Max) {}

TIntegerField::TIntegerField(TFieldType type, int width, bool is_signed, int64_t min_range, int64_t max_range)
    : TNumericField(type), width_(width), signed_(is_signed), min_range_(min_range), max_range_(max_range) {}

TSmallintField::TSmallintField() : TIntegerField(ftSmallint, 2, true, -32768, 32767) {}
TWordField::TWordField() : TIntegerField(ftWord, 2, false, 0, 65535) {}
TAutoIncField::TAutoIncField() : TIntegerField(ftAutoInc, 4, true, kInt32Min, kInt32Max) {}

bool TIntegerField::ReadValue(int64_t& value) {
  uint8_t buf[4] = {0, 0, 0, 0};
  if (!GetData(buf)) return false;
  if (width_ == 2) {
    const uint16_t u = static_cast<uint16_t>(buf[0] | (buf[1] << 8));
    value = signed_ ? static_cast<int16_t>(u) : u;
  } else {
    const uint32_t u = static_cast<uint32_t>(buf[0]) | (static_cast<uint32_t>(buf[1]) << 8) |
                       (static_cast<uint32_t>(buf[2]) << 16) | (static_cast<uint32_t>(buf[3]) << 24);
    value = signed_ ? static_cast<int32_t>(u) : static_cast<int64_t>(u);
  }
  return true;
}

void TIntegerField::CheckRange(int64_t value) {
  int64_t lo = min_range_, hi = max_range_;
  if (min_value_ != 0 || max_value_ != 0) {
    lo = std::max<int64_t>(lo, min_value_);
    hi = std::min<int64_t>(hi, max_value_);
  }
  if (value < lo || value > hi) RangeError(IntToStr(value), IntToStr(lo), IntToStr(hi));
}

std::string TIntegerField::AsString() {
  int64_t v = 0;
  return ReadValue(v) ? IntToStr(v) : std::string();
}

void TIntegerField::SetAsString(const std::string& utf8) {
  if (utf8.empty()) {
    Clear();
    return;
  }
  int64_t v = 0;
  if (!TryStrToInt64(utf8, v)) InvalidValueError(utf8, "integer");
  SetAsLargeInt(v);
}

int32_t TIntegerField::AsInteger() {
  int64_t v = 0;
  if (!ReadValue(v)) return 0;
  if (v > kInt32Max) RangeError(IntToStr(v), IntToStr(kInt32Min), IntToStr(kInt32Max));
  return static_cast<int32_t>(v);
}

void TIntegerField::SetAsInteger(int32_t value) { SetAsLargeInt(value); }

int64_t TIntegerField::AsLargeInt() {
  int64_t v = 0;
  return ReadValue(v) ? v : 0;
}

void TIntegerField::SetAsLargeInt(int64_t value) {
  CheckRange(value);
  uint8_t buf[4];
  const auto u = static_cast<uint64_t>(value);
  for (int i = 0; i < 4; ++i) buf[i] = static_cast<uint8_t>(u >> (8 * i));
  SetData(buf);
}

double TIntegerField::AsFloat() { return static_cast<double>(AsLargeInt()); }

void TIntegerField::SetAsFloat(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 9.0e18) RangeError(FloatToStr(value), IntToStr(min_range_), IntToStr(max_range_));
  SetAsLargeInt(Round64(value));
}

Variant TIntegerField::GetAsVariant() {
  const int64_t v = AsLargeInt();
  return v >= kInt32Min && v <= kInt32Max ? Variant(static_cast<int>(v)) : Variant(static_cast<long>(v));
}

void TIntegerField::SetVarValue(const Variant& value) { SetAsLargeInt(value.AsInt64()); }

// ---- 64-bit integers

TLargeintField::TLargeintField() : TNumericField(ftLargeint) {}

int64_t TLargeintField::AsLargeInt() {
  uint8_t buf[8] = {};
  if (!GetData(buf)) return 0;
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= static_cast<uint64_t>(buf[i]) << (8 * i);
  return static_cast<int64_t>(u);
}

void TLargeintField::SetAsLargeInt(int64_t value) {
  if ((min_value_ != 0 || max_value_ != 0) && (value < min_value_ || value > max_value_))
    RangeError(IntToStr(value), IntToStr(min_value_), IntToStr(max_value_));
  uint8_t buf[8];
  const auto u = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) buf[i] = static_cast<uint8_t>(u >> (8 * i));
  SetData(buf);
}

std::string TLargeintField::AsString() { return IsNull() ? std::string() : IntToStr(AsLargeInt()); }

void TLargeintField::SetAsString(const std::string& utf8) {
  if (utf8.empty()) {
    Clear();
    return;
  }
  int64_t v = 0;
  if (!TryStrToInt64(utf8, v)) InvalidValueError(utf8, "integer");
  SetAsLargeInt(v);
}

int32_t TLargeintField::AsInteger() {
  const int64_t v = AsLargeInt();
  if (v < kInt32Min || v > kInt32Max) RangeError(IntToStr(v), IntToStr(kInt32Min), IntToStr(kInt32Max));
  return static_cast<int32_t>(v);
}

void TLargeintField::SetAsInteger(int32_t value) { SetAsLargeInt(value); }
double TLargeintField::AsFloat() { return static_cast<double>(AsLargeInt()); }

void TLargeintField::SetAsFloat(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 9.2e18)
    RangeError(FloatToStr(value), IntToStr(std::numeric_limits<int64_t>::min()),
               IntToStr(std::numeric_limits<int64_t>::max()));
  SetAsLargeInt(Round64(value));
}

Variant TLargeintField::GetAsVariant() { return Variant(static_cast<long>(AsLargeInt())); }
void TLargeintField::SetVarValue(const Variant& value) { SetAsLargeInt(value.AsInt64()); }

// ---- floats

TFloatField::TFloatField() : TFloatField(ftFloat) {}
TFloatField::TFloatField(TFieldType type) : TNumericField(type) {}

TCurrencyField::TCurrencyField() : TFloatField(ftCurrency) { SetCurrency(true); }

double TFloatField::AsFloat() {
  double v = 0;
  if (!GetData(&v)) return 0;
  return v;
}

void TFloatField::SetAsFloat(double value) {
  if ((min_value_ != 0 || max_value_ != 0) && (value < min_value_ || value > max_value_))
    RangeError(FloatToStr(value), FloatToStr(min_value_), FloatToStr(max_value_));
  SetData(&value);
}

std::string TFloatField::AsString() { return IsNull() ? std::string() : FloatToStr(AsFloat()); }

void TFloatField::SetAsString(const std::string& utf8) {
  if (utf8.empty()) {
    Clear();
    return;
  }
  double v = 0;
  if (!TryStrToFloat(utf8, v)) InvalidValueError(utf8, "floating point");
  SetAsFloat(v);
}

int64_t TFloatField::AsLargeInt() {
  const double v = AsFloat();
  if (!std::isfinite(v) || std::fabs(v) > 9.2e18)
    RangeError(FloatToStr(v), IntToStr(std::numeric_limits<int64_t>::min()),
               IntToStr(std::numeric_limits<int64_t>::max()));
  return Round64(v);
}

int32_t TFloatField::AsInteger() {
  const int64_t v = AsLargeInt();
  if (v < kInt32Min || v > kInt32Max) RangeError(IntToStr(v), IntToStr(kInt32Min), IntToStr(kInt32Max));
  return static_cast<int32_t>(v);
}

void TFloatField::SetAsInteger(int32_t value) { SetAsFloat(value); }
void TFloatField::SetAsLargeInt(int64_t value) { SetAsFloat(static_cast<double>(value)); }

std::string TFloatField::GetText(bool display_text) {
  if (IsNull()) return {};
  const double v = AsFloat();
  if (display_text && currency_) return FloatToStrF(v, TFloatFormat::ffFixed, 15, 2);
  return FloatToStrF(v, TFloatFormat::ffGeneral, display_text ? precision_ : 15, 0);
}

Variant TFloatField::GetAsVariant() { return Variant(AsFloat()); }
void TFloatField::SetVarValue(const Variant& value) { SetAsFloat(value.AsDouble()); }

Variant TCurrencyField::GetAsVariant() { return Variant::FromCurrency(AsFloat()); }

// ---- booleans

TBooleanField::TBooleanField() : TField(ftBoolean) {}

void TBooleanField::SetDisplayValues(const std::string& values) {
  const size_t sep = values.find(';');
  if (sep == std::string::npos) {
    true_text_ = values;
    false_text_.clear();
  } else {
    true_text_ = values.substr(0, sep);
    false_text_ = values.substr(sep + 1);
  }
}

bool TBooleanField::AsBoolean() {
  uint8_t buf[2] = {0, 0};
  if (!GetData(buf)) return false;
  return (buf[0] | buf[1]) != 0;
}

void TBooleanField::SetAsBoolean(bool value) {
  uint8_t buf[2] = {static_cast<uint8_t>(value ? 1 : 0), 0};
  SetData(buf);
}

std::string TBooleanField::AsString() {
  if (IsNull()) return {};
  return AsBoolean() ? true_text_ : false_text_;
}

void TBooleanField::SetAsString(const std::string& utf8) {
  if (utf8.empty()) {
    Clear();
    return;
  }
  const size_t n = utf8.size();
  if (n <= true_text_.size() && SameText(utf8, true_text_.substr(0, n))) {
    SetAsBoolean(true);
  } else if (n <= false_text_.size() && SameText(utf8, false_text_.substr(0, n))) {
    SetAsBoolean(false);
  } else {
    InvalidValueError(utf8, "boolean");
  }
}

Variant TBooleanField::GetAsVariant() { return Variant(AsBoolean()); }
void TBooleanField::SetVarValue(const Variant& value) { SetAsBoolean(value.AsBoolean()); }

}  // namespace platform::data
