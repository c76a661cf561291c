#include "platform/data/string_field.h"

#include <cstring>
#include <vector>

#include "platform/base/cp1252.h"
#include "platform/base/number_format.h"
#include "platform/base/number_parse.h"
#include "platform/data/database_error.h"
#include "platform/data/date_time_text.h"

namespace platform::data {

TStringField::TStringField(TFieldType type) : TField(type) {
  fixed_char_ = type == ftFixedChar;
  SetSizeValue(20);
}

std::string TStringField::AsAnsiString() {
  std::vector<char> buf(static_cast<size_t>(DataSize()) + 1, '\0');
  if (!GetData(buf.data())) return {};
  buf.back() = '\0';  // whatever the dataset wrote, the text ends inside the buffer
  return std::string(buf.data(), std::strlen(buf.data()));
}

void TStringField::SetAsAnsiString(const std::string& cp1252) {
  std::vector<char> buf(static_cast<size_t>(DataSize()), '\0');
  const size_t n = std::min(cp1252.size(), static_cast<size_t>(Size()));
  std::memcpy(buf.data(), cp1252.data(), n);
  SetData(buf.data());
}

std::string TStringField::AsString() { return Cp1252ToUtf8(AsAnsiString()); }
void TStringField::SetAsString(const std::string& utf8) { SetAsAnsiString(Utf8ToCp1252(utf8)); }

int32_t TStringField::AsInteger() { return StrToInt(AsString()); }
void TStringField::SetAsInteger(int32_t value) { SetAsString(IntToStr(value)); }

int64_t TStringField::AsLargeInt() {
  const std::string s = AsString();
  int64_t v = 0;
  if (!TryStrToInt64(s, v)) throw EConvertError("'" + s + "' is not a valid integer value");
  return v;
}
void TStringField::SetAsLargeInt(int64_t value) { SetAsString(IntToStr(value)); }

double TStringField::AsFloat() { return static_cast<double>(StrToFloat(AsString())); }
void TStringField::SetAsFloat(double value) { SetAsString(FloatToStr(value)); }

bool TStringField::AsBoolean() {
  const std::string s = AsString();
  return !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
}
void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }

TDateTime TStringField::AsDateTime() {
  const std::string s = AsString();
  TDateTime dt = 0;
  if (!TryStrToDateTime(s, dt)) throw EConvertError("'" + s + "' is not a valid date and time");
  return dt;
}
void TStringField::SetAsDateTime(TDateTime value) { SetAsString(DateTimeToStr(value)); }

Variant TStringField::GetAsVariant() { return Variant::FromAnsi(AsAnsiString()); }
void TStringField::SetVarValue(const Variant& value) { SetAsAnsiString(value.AsAnsiString()); }

TGuidField::TGuidField() : TStringField(ftGuid) {
  SetSizeValue(38);  // the text form has a fixed length; HasSize() keeps size changes out
}

void TGuidField::SetAsString(const std::string& utf8) {
  if (!utf8.empty()) {
    bool ok = utf8.size() == 38 && utf8.front() == '{' && utf8.back() == '}';
    for (size_t i = 1; ok && i < 37; ++i) {
      const char c = utf8[i];
      if (i == 9 || i == 14 || i == 19 || i == 24) {
        ok = c == '-';
      } else {
        ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      }
    }
    if (!ok) InvalidValueError(utf8, "GUID");
  }
  TStringField::SetAsString(utf8);
}

TWideStringField::TWideStringField() : TField(ftWideString) { SetSizeValue(20); }

std::u16string TWideStringField::AsWideString() {
  const size_t units = static_cast<size_t>(Size()) + 1;
  std::vector<uint8_t> buf(units * 2 + 2, 0);
  if (!GetData(buf.data())) return {};
  std::u16string out;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(buf[2 * i] | (buf[2 * i + 1] << 8));
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

void TWideStringField::SetAsWideString(const std::u16string& text) {
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()), 0);
  const size_t n = std::min(text.size(), static_cast<size_t>(Size()));
  for (size_t i = 0; i < n; ++i) {
    buf[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    buf[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  SetData(buf.data());
}

std::string TWideStringField::AsString() { return Utf16ToUtf8(AsWideString()); }
void TWideStringField::SetAsString(const std::string& utf8) { SetAsWideString(Utf8ToUtf16(utf8)); }

Variant TWideStringField::GetAsVariant() { return Variant(AsWideString()); }
void TWideStringField::SetVarValue(const Variant& value) { SetAsWideString(value.AsWideString()); }

}  // namespace platform::data
