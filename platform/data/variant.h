#pragma once
// Variant: the self-describing value of the data layer (field values, Locate keys, Lookup
// results, parameters). Text is held as UTF-8 (the program's strings), as Windows-1252 bytes
// (the engine's 8-bit strings, kept byte for byte) or as UTF-16 (wide strings); the three
// convert into each other.
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/base/datetime.h"

namespace platform::data {

enum class VarType : uint8_t {
  Empty, Null, Boolean, Integer, Int64, Double, Currency, Date, String, AnsiString, WideString, Bytes, Array
};

// "Could not convert variant of type (%s) into type (%s)" and the overflow of a conversion.
class EVariantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(bool v);
  Variant(int v);
  Variant(unsigned v);
  Variant(long v);
  Variant(unsigned long v);
  Variant(long long v);
  Variant(double v);
  Variant(const char* utf8);
  Variant(std::string utf8);
  Variant(const char16_t* text);
  Variant(std::u16string text);
  // Any other pointer would silently become a Boolean.
  template <typename T>
  Variant(T*) = delete;

  static Variant Null();
  static Variant FromAnsi(std::string cp1252_bytes);
  static Variant FromDate(TDateTime value);
  // A currency value is kept as a count of 1/10000 (four decimals, rounded half to even).
  static Variant FromCurrency(double value);
  static Variant FromCurrencyUnits(int64_t ten_thousandths);
  static Variant FromBytes(std::vector<uint8_t> bytes);
  static Variant Array(std::vector<Variant> items);

  VarType Type() const { return type_; }
  bool IsEmpty() const { return type_ == VarType::Empty; }
  bool IsNull() const { return type_ == VarType::Null; }
  bool IsNullOrEmpty() const { return IsNull() || IsEmpty(); }
  bool IsArray() const { return type_ == VarType::Array; }
  bool IsNumeric() const;
  bool IsText() const;

  // Conversions. Empty converts to 0, False and ""; Null, arrays and text that is no number
  // raise EVariantError. Floats become integers rounded half to even; True is -1.
  bool AsBoolean() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  double AsCurrency() const;           // the currency value as a double
  int64_t AsCurrencyUnits() const;     // in 1/10000
  TDateTime AsDateTime() const;
  std::string AsString() const;        // UTF-8
  std::string AsAnsiString() const;    // Windows-1252 bytes
  std::u16string AsWideString() const;
  std::vector<uint8_t> AsBytes() const;  // text: its 8-bit bytes; wide text: UTF-16LE

  // Arrays.
  size_t ArrayLength() const { return items_.size(); }
  const Variant& operator[](size_t i) const;
  const std::vector<Variant>& Items() const { return items_; }

  // Same type family and value: numbers by value, texts by their characters, Null equals
  // Null (the value a key holds), arrays item by item.
  bool SameValue(const Variant& other) const;
  bool operator==(const Variant& other) const { return SameValue(other); }

  static const char* TypeName(VarType type);

 private:
  [[noreturn]] void CastError(VarType target) const;

  VarType type_ = VarType::Empty;
  int64_t int_ = 0;      // Boolean, Integer, Int64, Currency (1/10000)
  double double_ = 0;    // Double, Date
  std::string text_;     // String (UTF-8), AnsiString (bytes)
  std::u16string wide_;  // WideString
  std::vector<uint8_t> bytes_;
  std::vector<Variant> items_;
};

// Variant text for display: "" for Null and Empty, otherwise AsString.
std::string VarToStr(const Variant& v);
Variant VarArrayOf(std::initializer_list<Variant> items);

}  // namespace platform::data
