#pragma once
// Text fields. An 8-bit string field holds Windows-1252 bytes, zero-terminated, Size bytes at
// most; a wide string field UTF-16 code units, Size units at most. Longer texts are cut to
// the size. The program reads and writes them as UTF-8 through AsString.
#include "platform/data/field.h"

namespace platform::data {

class TStringField : public TField {
 public:
  explicit TStringField(TFieldType type = ftString);

  int DataSize() const override { return Size() + 1; }
  bool FixedChar() const { return fixed_char_; }
  void SetFixedChar(bool v) { fixed_char_ = v; }

  std::string AsString() override;
  void SetAsString(const std::string& utf8) override;
  std::string AsAnsiString() override;
  void SetAsAnsiString(const std::string& cp1252) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;
  // A text starting with T or Y (any case) is true; writing stores "T" or "F".
  bool AsBoolean() override;
  void SetAsBoolean(bool value) override;
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime value) override;

 protected:
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;
  bool HasSize() const override { return true; }
  int DefaultDisplayWidth() const override { return Size() > 0 ? Size() : 10; }

 private:
  bool fixed_char_ = false;
};

// A GUID in its 38-character text form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
class TGuidField : public TStringField {
 public:
  TGuidField();
  void SetAsString(const std::string& utf8) override;

 protected:
  bool HasSize() const override { return false; }
};

class TWideStringField : public TField {
 public:
  TWideStringField();

  int DataSize() const override { return (Size() + 1) * 2; }

  std::string AsString() override;
  void SetAsString(const std::string& utf8) override;
  std::u16string AsWideString() override;
  void SetAsWideString(const std::u16string& text) override;

 protected:
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;
  bool HasSize() const override { return true; }
  int DefaultDisplayWidth() const override { return Size() > 0 ? Size() : 10; }
};

}  // namespace platform::data
