#include "platform/data/blob_field.h"

#include <cstring>

#include "platform/base/cp1252.h"
#include "platform/data/database_error.h"
#include "platform/data/dataset.h"
#include "platform/data/same_text.h"

namespace platform::data {
namespace {

constexpr size_t kGraphicHeaderSize = 8;

bool HasGraphicHeader(TFieldType type) { return type == ftGraphic || type == ftTypedBinary; }

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

std::u16string Utf16FromBytes(const std::vector<uint8_t>& bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return out;
}

}  // namespace

TBlobField::TBlobField(TFieldType blob_type) : TField(ftBlob) { SetBlobType(blob_type); }

void TBlobField::SetBlobType(TFieldType type) {
  if (!IsBlobFieldType(type)) DatabaseError(FormatText("Invalid field type: %s", {FieldTypeName(type)}));
  if (DataSet() != nullptr) DataSet()->CheckInactive();
  SetDataType(type);
}

std::unique_ptr<TStream> TBlobField::OpenStream(TBlobStreamMode mode) {
  if (DataSet() == nullptr) DatabaseError(FormatText("Field '%s' has no dataset", {DisplayName()}));
  std::unique_ptr<TStream> s = DataSet()->CreateBlobStream(this, mode);
  if (!s) DatabaseError(FormatText("Field '%s' has no BLOB stream", {DisplayName()}));
  return s;
}

int64_t TBlobField::BlobSize() { return OpenStream(bmRead)->GetSize(); }

void TBlobField::LoadFromStream(TStream& stream) {
  std::unique_ptr<TStream> s = OpenStream(bmWrite);
  s->CopyFrom(stream, 0);
}

void TBlobField::SaveToStream(TStream& stream) {
  std::unique_ptr<TStream> s = OpenStream(bmRead);
  stream.CopyFrom(*s, 0);
}

std::vector<uint8_t> TBlobField::AsBytes() {
  std::unique_ptr<TStream> s = OpenStream(bmRead);
  s->SetPosition(0);
  return s->ReadToEnd();
}

void TBlobField::SetAsBytes(const std::vector<uint8_t>& value) {
  std::unique_ptr<TStream> s = OpenStream(bmWrite);
  s->WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
}

std::string TBlobField::AsAnsiString() {
  const std::vector<uint8_t> b = AsBytes();
  return std::string(b.begin(), b.end());
}

void TBlobField::SetAsAnsiString(const std::string& cp1252) {
  SetAsBytes(std::vector<uint8_t>(cp1252.begin(), cp1252.end()));
}

std::string TBlobField::AsString() { return Cp1252ToUtf8(AsAnsiString()); }
void TBlobField::SetAsString(const std::string& utf8) { SetAsAnsiString(Utf8ToCp1252(utf8)); }

void TBlobField::Clear() { OpenStream(bmWrite); }

void TBlobField::Assign(TField& source) {
  if (source.IsBlob()) {
    // byte for byte between BLOBs, so that no text conversion touches the data
    if (source.IsNull()) {
      Clear();
    } else {
      SetAsBytes(source.AsBytes());
    }
    return;
  }
  TField::Assign(source);
}

std::vector<uint8_t> TBlobField::GraphicData() {
  std::vector<uint8_t> b = AsBytes();
  if (HasGraphicHeader(DataType()) && b.size() >= kGraphicHeaderSize) {
    const uint16_t count = static_cast<uint16_t>(b[0] | (b[1] << 8));
    const uint16_t type = static_cast<uint16_t>(b[2] | (b[3] << 8));
    const uint32_t size = static_cast<uint32_t>(b[4]) | (static_cast<uint32_t>(b[5]) << 8) |
                          (static_cast<uint32_t>(b[6]) << 16) | (static_cast<uint32_t>(b[7]) << 24);
    if (count == 1 && type == 0x0100 && size == b.size() - kGraphicHeaderSize)
      b.erase(b.begin(), b.begin() + kGraphicHeaderSize);
  }
  return b;
}

void TBlobField::SetGraphicData(const std::vector<uint8_t>& picture) {
  if (!HasGraphicHeader(DataType())) {
    SetAsBytes(picture);
    return;
  }
  if (picture.size() > 0x7FFFFFFFu) DatabaseError(FormatText("Picture too large for field '%s'", {DisplayName()}));
  std::vector<uint8_t> b(kGraphicHeaderSize);
  const auto size = static_cast<uint32_t>(picture.size());
  b[0] = 1;
  b[1] = 0;
  b[2] = 0x00;
  b[3] = 0x01;
  for (int i = 0; i < 4; ++i) b[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
  b.insert(b.end(), picture.begin(), picture.end());
  SetAsBytes(b);
}

std::string TBlobField::GetText(bool display_text) {
  if (!display_text) return AsString();
  std::string word = KindWord();
  if (IsNull()) {
    for (char& c : word) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  return "(" + word + ")";
}

Variant TBlobField::GetAsVariant() { return Variant::FromBytes(AsBytes()); }
void TBlobField::SetVarValue(const Variant& value) { SetAsBytes(value.AsBytes()); }

Variant TMemoField::GetAsVariant() { return Variant::FromAnsi(AsAnsiString()); }
void TMemoField::SetVarValue(const Variant& value) { SetAsAnsiString(value.AsAnsiString()); }

std::u16string TWideMemoField::AsWideString() { return Utf16FromBytes(AsBytes()); }
void TWideMemoField::SetAsWideString(const std::u16string& text) { SetAsBytes(Utf16Bytes(text)); }
std::string TWideMemoField::AsString() { return Utf16ToUtf8(AsWideString()); }
void TWideMemoField::SetAsString(const std::string& utf8) { SetAsWideString(Utf8ToUtf16(utf8)); }
std::string TWideMemoField::AsAnsiString() { return Utf16ToCp1252(AsWideString()); }
void TWideMemoField::SetAsAnsiString(const std::string& cp1252) { SetAsWideString(Cp1252ToUtf16(cp1252)); }
Variant TWideMemoField::GetAsVariant() { return Variant(AsWideString()); }
void TWideMemoField::SetVarValue(const Variant& value) { SetAsWideString(value.AsWideString()); }

}  // namespace platform::data
