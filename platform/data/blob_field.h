#pragma once
// BLOB fields: byte data, memos, wide memos and pictures. Their values live outside the
// record and are read and written through streams the dataset creates (CreateBlobStream);
// a value written through a stream reaches the stored record when the record is posted.
#include <memory>

#include "platform/data/field.h"
#include "platform/base/stream.h"

namespace platform::data {

class TBlobField : public TField {
 public:
  explicit TBlobField(TFieldType blob_type = ftBlob);

  bool IsBlob() const override { return true; }
  TFieldType BlobType() const { return DataType(); }
  // One of the BLOB kinds; anything else raises "Invalid field type".
  void SetBlobType(TFieldType type);
  // Set when a stream wrote to the field since the record was read.
  bool Modified() const { return modified_; }
  void SetModified(bool v) { modified_ = v; }

  int64_t BlobSize();
  // Replaces the value with all bytes of the stream (from its start).
  void LoadFromStream(TStream& stream);
  // Writes the value at the stream's position.
  void SaveToStream(TStream& stream);

  std::vector<uint8_t> AsBytes() override;
  void SetAsBytes(const std::vector<uint8_t>& value) override;
  std::string AsString() override;  // the bytes as 8-bit text
  void SetAsString(const std::string& utf8) override;
  std::string AsAnsiString() override;
  void SetAsAnsiString(const std::string& cp1252) override;
  // Writes an empty value through a stream.
  void Clear() override;
  void Assign(TField& source) override;

  // Pictures. For the graphic kinds (graphic, typed binary) the stored bytes start with an
  // 8-byte header {UInt16 count = 1, UInt16 type = 0x0100, Int32 size of the picture data},
  // which SetGraphicData writes and GraphicData skips when present and consistent; other
  // kinds hold the picture bytes alone.
  std::vector<uint8_t> GraphicData();
  void SetGraphicData(const std::vector<uint8_t>& picture);

 protected:
  std::string GetText(bool display_text) override;
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;
  bool HasSize() const override { return true; }
  std::unique_ptr<TStream> OpenStream(TBlobStreamMode mode);
  // The word shown in place of the value: "BLOB", "MEMO", "GRAPHIC", "WIDEMEMO".
  virtual const char* KindWord() const { return "BLOB"; }

 private:
  bool modified_ = false;
};

// 8-bit text (Windows-1252), also formatted memos.
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TFieldType blob_type = ftMemo) : TBlobField(blob_type) {}

 protected:
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;
  const char* KindWord() const override { return "MEMO"; }
};

// UTF-16 text, 2 bytes per code unit, little-endian, no terminator.
class TWideMemoField : public TBlobField {
 public:
  TWideMemoField() : TBlobField(ftWideMemo) {}

  std::string AsString() override;
  void SetAsString(const std::string& utf8) override;
  std::string AsAnsiString() override;
  void SetAsAnsiString(const std::string& cp1252) override;
  std::u16string AsWideString() override;
  void SetAsWideString(const std::u16string& text) override;

 protected:
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;
  const char* KindWord() const override { return "WIDEMEMO"; }
};

class TGraphicField : public TBlobField {
 public:
  TGraphicField() : TBlobField(ftGraphic) {}

 protected:
  const char* KindWord() const override { return "GRAPHIC"; }
};

}  // namespace platform::data
