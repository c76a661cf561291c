#pragma once
// Fixed and variable byte arrays held inside the record. A bytes field keeps exactly Size
// bytes (shorter values are padded with zeros); a var-bytes field a 16-bit little-endian
// length followed by up to Size bytes.
#include "platform/data/field.h"

namespace platform::data {

class TBytesField : public TField {
 public:
  TBytesField();
  int DataSize() const override { return Size(); }

  std::vector<uint8_t> AsBytes() override;
  // Longer values are refused ("Invalid field size"), not cut: bytes have no safe cut.
  void SetAsBytes(const std::vector<uint8_t>& value) override;
  std::string AsString() override;       // the bytes as 8-bit text
  void SetAsString(const std::string& utf8) override;

 protected:
  explicit TBytesField(TFieldType type);
  std::string GetText(bool display_text) override;
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;
  bool HasSize() const override { return true; }
};

class TVarBytesField : public TBytesField {
 public:
  TVarBytesField();
  int DataSize() const override { return Size() + 2; }

  std::vector<uint8_t> AsBytes() override;
  void SetAsBytes(const std::vector<uint8_t>& value) override;
};

}  // namespace platform::data
