#pragma once
// Numeric fields. Integers are held in their native width (little-endian in the record);
// floats and currency values as doubles. A value outside the type's range, or outside the
// field's MinValue..MaxValue when those are set (not both 0), is refused with a range error.
#include "platform/data/field.h"

namespace platform::data {

class TNumericField : public TField {
 protected:
  explicit TNumericField(TFieldType type) : TField(type) { SetAlignment(taRightJustify); }
};

// Integers of up to 32 bits: Integer, Smallint, Word and AutoInc.
class TIntegerField : public TNumericField {
 public:
  TIntegerField();

  int DataSize() const override { return width_; }
  int32_t MinValue() const { return min_value_; }
  int32_t MaxValue() const { return max_value_; }
  void SetMinValue(int32_t v) { min_value_ = v; }
  void SetMaxValue(int32_t v) { max_value_ = v; }

  std::string AsString() override;
  void SetAsString(const std::string& utf8) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() override;
  // Rounded half to even.
  void SetAsFloat(double value) override;

 protected:
  TIntegerField(TFieldType type, int width, bool is_signed, int64_t min_range, int64_t max_range);
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;

 private:
  bool ReadValue(int64_t& value);
  void CheckRange(int64_t value);

  int width_;
  bool signed_;
  int64_t min_range_;
  int64_t max_range_;
  int32_t min_value_ = 0;
  int32_t max_value_ = 0;
};

class TSmallintField : public TIntegerField {
 public:
  TSmallintField();
};

class TWordField : public TIntegerField {
 public:
  TWordField();
};

class TAutoIncField : public TIntegerField {
 public:
  TAutoIncField();
};

class TLargeintField : public TNumericField {
 public:
  TLargeintField();

  int DataSize() const override { return 8; }
  int64_t MinValue() const { return min_value_; }
  int64_t MaxValue() const { return max_value_; }
  void SetMinValue(int64_t v) { min_value_ = v; }
  void SetMaxValue(int64_t v) { max_value_ = v; }

  std::string AsString() override;
  void SetAsString(const std::string& utf8) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;

 protected:
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;

 private:
  int64_t min_value_ = 0;
  int64_t max_value_ = 0;
};

class TFloatField : public TNumericField {
 public:
  TFloatField();

  int DataSize() const override { return 8; }
  // Significant digits of the display text (general format), 2..15.
  int Precision() const { return precision_; }
  void SetPrecision(int p) { precision_ = p < 2 ? 2 : (p > 15 ? 15 : p); }
  bool Currency() const { return currency_; }
  void SetCurrency(bool v) { currency_ = v; }
  double MinValue() const { return min_value_; }
  double MaxValue() const { return max_value_; }
  void SetMinValue(double v) { min_value_ = v; }
  void SetMaxValue(double v) { max_value_ = v; }

  std::string AsString() override;
  void SetAsString(const std::string& utf8) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;

 protected:
  explicit TFloatField(TFieldType type);
  // Display: general format with Precision digits; currency fields with two decimals.
  std::string GetText(bool display_text) override;
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;

 private:
  int precision_ = 15;
  bool currency_ = false;
  double min_value_ = 0;
  double max_value_ = 0;
};

class TCurrencyField : public TFloatField {
 public:
  TCurrencyField();

 protected:
  Variant GetAsVariant() override;
};

// A 16-bit boolean (0 false, anything else true; true is stored as 1). Its texts are
// DisplayValues "True;False" unless changed.
class TBooleanField : public TField {
 public:
  TBooleanField();

  int DataSize() const override { return 2; }
  std::string DisplayValues() const { return true_text_ + ";" + false_text_; }
  void SetDisplayValues(const std::string& values);

  std::string AsString() override;
  // Empty clears; otherwise a prefix of the true or false text, in any case.
  void SetAsString(const std::string& utf8) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool value) override;

 protected:
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;

 private:
  std::string true_text_ = "True";
  std::string false_text_ = "False";
};

}  // namespace platform::data
