#include "platform/data/binary_field.h"

#include <algorithm>
#include <cstring>

#include "platform/base/cp1252.h"
#include "platform/data/database_error.h"

namespace platform::data {

TBytesField::TBytesField() : TBytesField(ftBytes) {}
TBytesField::TBytesField(TFieldType type) : TField(type) { SetSizeValue(16); }
TVarBytesField::TVarBytesField() : TBytesField(ftVarBytes) {}

std::vector<uint8_t> TBytesField::AsBytes() {
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()), 0);
  if (!GetData(buf.data())) return {};
  return buf;
}

void TBytesField::SetAsBytes(const std::vector<uint8_t>& value) {
  if (value.size() > static_cast<size_t>(Size()))
    DatabaseError(FormatText("Invalid field size: %d bytes for field '%s'", {std::to_string(value.size()), DisplayName()}));
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()), 0);
  std::copy(value.begin(), value.end(), buf.begin());
  SetData(buf.data());
}

std::vector<uint8_t> TVarBytesField::AsBytes() {
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()), 0);
  if (!GetData(buf.data())) return {};
  // the stored length is data of the record: never trust it beyond the field's size
  size_t len = static_cast<size_t>(buf[0] | (buf[1] << 8));
  len = std::min(len, static_cast<size_t>(Size()));
  return std::vector<uint8_t>(buf.begin() + 2, buf.begin() + 2 + static_cast<std::ptrdiff_t>(len));
}

void TVarBytesField::SetAsBytes(const std::vector<uint8_t>& value) {
  if (value.size() > static_cast<size_t>(Size()) || value.size() > 0xFFFF)
    DatabaseError(FormatText("Invalid field size: %d bytes for field '%s'", {std::to_string(value.size()), DisplayName()}));
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()), 0);
  buf[0] = static_cast<uint8_t>(value.size() & 0xFF);
  buf[1] = static_cast<uint8_t>(value.size() >> 8);
  std::copy(value.begin(), value.end(), buf.begin() + 2);
  SetData(buf.data());
}

std::string TBytesField::AsString() {
  const std::vector<uint8_t> b = AsBytes();
  return Cp1252ToUtf8(std::string(b.begin(), b.end()));
}

void TBytesField::SetAsString(const std::string& utf8) {
  const std::string a = Utf8ToCp1252(utf8);
  SetAsBytes(std::vector<uint8_t>(a.begin(), a.end()));
}

std::string TBytesField::GetText(bool display_text) {
  if (!display_text) return AsString();
  return DataType() == ftVarBytes ? "(VarBytes)" : "(Bytes)";
}

Variant TBytesField::GetAsVariant() { return Variant::FromBytes(AsBytes()); }
void TBytesField::SetVarValue(const Variant& value) { SetAsBytes(value.AsBytes()); }

}  // namespace platform::data
