#pragma once
// TField: one column of a dataset as the program sees it. A field reads and writes its
// value through the dataset (GetFieldData / SetFieldData on the dataset's active record
// buffer) in the field's native form; the typed accessors convert.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/datetime.h"
#include "platform/data/data_types.h"
#include "platform/data/variant.h"

namespace platform::data {

class TDataSet;
class TField;

using TFieldNotifyEvent = std::function<void(TField& sender)>;
using TFieldGetTextEvent = std::function<void(TField& sender, std::string& text, bool display_text)>;
using TFieldSetTextEvent = std::function<void(TField& sender, const std::string& text)>;

class TField {
 public:
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TDataSet* DataSet() const { return dataset_; }

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name);
  // The label a grid shows; the field name until one is set.
  std::string DisplayLabel() const { return display_label_.empty() ? field_name_ : display_label_; }
  void SetDisplayLabel(std::string label) { display_label_ = std::move(label); }
  std::string DisplayName() const { return DisplayLabel(); }

  TFieldType DataType() const { return data_type_; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind kind);
  // 1-based number of the field definition it is bound to; 0 while unbound, -1 for
  // calculated and lookup fields.
  int FieldNo() const { return field_no_; }
  // Position among the dataset's fields (-1 without a dataset).
  int Index() const;
  int Size() const { return size_; }
  void SetSize(int size);
  // Bytes of the native value in a record buffer (0 for BLOB fields).
  virtual int DataSize() const { return 0; }
  // Offset of a calculated field inside the calculated-field area (set when fields bind).
  int Offset() const { return offset_; }
  virtual bool IsBlob() const { return false; }
  bool IsIndexField();
  bool Calculated() const { return field_kind_ == fkCalculated; }
  bool Lookup() const { return field_kind_ == fkLookup; }

  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v) { read_only_ = v; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  int DisplayWidth() const { return display_width_ > 0 ? display_width_ : DefaultDisplayWidth(); }
  void SetDisplayWidth(int w) { display_width_ = w; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a) { alignment_ = a; }

  // Lookup fields: the value of LookupResultField in LookupDataSet's record whose
  // LookupKeyFields equal this dataset's KeyFields.
  TDataSet* LookupDataSet = nullptr;
  std::string KeyFields;
  std::string LookupKeyFields;
  std::string LookupResultField;

  // Raw access. A null buffer reads only whether there is a value, or writes NULL.
  bool GetData(void* buffer, bool native_format = true);
  void SetData(void* buffer, bool native_format = true);
  bool IsNull();
  virtual void Clear();
  // Runs OnValidate with the value about to be stored; called by the dataset's SetFieldData.
  void Validate(void* buffer);
  // Runs OnChange; called when the dataset reports the field's change.
  void Change();

  // Typed access. A conversion the type does not offer raises "Cannot access field '%s' as
  // type %s"; a text that is no valid value raises with the text and the field's name.
  virtual std::string AsString();
  virtual void SetAsString(const std::string& utf8);
  virtual std::string AsAnsiString();
  virtual void SetAsAnsiString(const std::string& cp1252);
  virtual std::u16string AsWideString();
  virtual void SetAsWideString(const std::u16string& text);
  virtual int32_t AsInteger();
  virtual void SetAsInteger(int32_t value);
  virtual int64_t AsLargeInt();
  virtual void SetAsLargeInt(int64_t value);
  virtual double AsFloat();
  virtual void SetAsFloat(double value);
  virtual double AsCurrency();
  virtual void SetAsCurrency(double value);
  virtual bool AsBoolean();
  virtual void SetAsBoolean(bool value);
  virtual TDateTime AsDateTime();
  virtual void SetAsDateTime(TDateTime value);
  virtual std::vector<uint8_t> AsBytes();
  virtual void SetAsBytes(const std::vector<uint8_t>& value);
  // Null when the field is NULL.
  Variant AsVariant();
  // Null or Empty clear the field.
  void SetAsVariant(const Variant& value);
  Variant Value() { return AsVariant(); }
  void SetValue(const Variant& value) { SetAsVariant(value); }
  // The value before the current edit.
  Variant OldValue();

  // Text for editing and for display; OnGetText and OnSetText replace them.
  std::string Text();
  void SetText(const std::string& text);
  std::string DisplayText();

  // Copies another field's value (NULL included).
  virtual void Assign(TField& source);
  void AssignValue(const Variant& value) { SetAsVariant(value); }

  TFieldNotifyEvent OnValidate;
  TFieldNotifyEvent OnChange;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

 protected:
  explicit TField(TFieldType data_type);

  virtual std::string GetText(bool display_text);
  virtual void SetTextValue(const std::string& text) { SetAsString(text); }
  virtual Variant GetAsVariant() { AccessError("Variant"); }
  virtual void SetVarValue(const Variant& value);
  virtual int DefaultDisplayWidth() const { return 10; }
  // Sizes below 0 are refused; types without a declared size keep 0.
  virtual bool HasSize() const { return false; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  // Sets the size without the checks (constructors of fields with a fixed or default size).
  void SetSizeValue(int size) { size_ = size; }

  [[noreturn]] void AccessError(const char* type_name);
  // "'%s' is not a valid <what> value for field '%s'".
  [[noreturn]] void InvalidValueError(const std::string& text, const char* what);
  // "%s is not a valid value for field '%s'. The allowed range is %s to %s".
  [[noreturn]] void RangeError(const std::string& value, const std::string& min, const std::string& max);

 private:
  friend class TDataSet;
  friend class TFields;

  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  std::string display_label_;
  TFieldType data_type_;
  TFieldKind field_kind_ = fkData;
  int field_no_ = 0;
  int size_ = 0;
  int offset_ = 0;
  bool required_ = false;
  bool read_only_ = false;
  bool visible_ = true;
  int display_width_ = 0;
  TAlignment alignment_ = taLeftJustify;
  bool validating_ = false;
  void* validate_buffer_ = nullptr;
};

// The fields of a dataset, in order; owns them.
class TFields {
 public:
  explicit TFields(TDataSet* dataset) : dataset_(dataset) {}
  ~TFields();
  TFields(const TFields&) = delete;
  TFields& operator=(const TFields&) = delete;

  int Count() const { return static_cast<int>(fields_.size()); }
  TField* operator[](int i) const { return fields_.at(static_cast<size_t>(i)).get(); }
  TField* FindField(const std::string& name) const;
  // "Field '%s' not found".
  TField* FieldByName(const std::string& name) const;
  int IndexOf(const TField* field) const;
  // The data field bound to definition number field_no (1-based); nullptr when none is.
  TField* FieldByNumber(int field_no) const;

  // Takes the field; a duplicate name raises "Duplicate field name '%s'".
  TField* Add(std::unique_ptr<TField> field);
  std::unique_ptr<TField> Remove(TField* field);
  void Clear();

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TField>> fields_;
};

}  // namespace platform::data
