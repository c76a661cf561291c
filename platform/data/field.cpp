#include "platform/data/field.h"

#include <cstring>
#include <limits>

#include "platform/base/cp1252.h"
#include "platform/base/number_format.h"
#include "platform/data/database_error.h"
#include "platform/data/dataset.h"
#include "platform/data/same_text.h"

namespace platform::data {

TField::TField(TFieldType data_type) : data_type_(data_type) {}

TField::~TField() = default;

void TField::SetFieldName(const std::string& name) {
  if (dataset_ != nullptr) {
    dataset_->CheckInactive();
    TField* other = dataset_->Fields().FindField(name);
    if (other != nullptr && other != this)
      DatabaseError(FormatText("Duplicate field name '%s'", {name}), dataset_->Name());
  }
  field_name_ = name;
}

void TField::SetFieldKind(TFieldKind kind) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_kind_ = kind;
}

int TField::Index() const { return dataset_ != nullptr ? dataset_->Fields().IndexOf(this) : -1; }

void TField::SetSize(int size) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (size < 0) DatabaseError("Invalid field size");
  if (HasSize()) size_ = size;
}

bool TField::IsIndexField() { return dataset_ != nullptr && dataset_->GetIsIndexField(this); }

bool TField::GetData(void* buffer, bool native_format) {
  if (dataset_ == nullptr) DatabaseError(FormatText("Field '%s' has no dataset", {DisplayName()}));
  if (validating_) {
    // OnValidate reads the value about to be stored, not the one in the record
    if (validate_buffer_ == nullptr) return false;
    if (buffer != nullptr) {
      if (native_format) {
        std::memcpy(buffer, validate_buffer_, static_cast<size_t>(DataSize()));
      } else {
        dataset_->DataConvert(this, validate_buffer_, buffer, false);
      }
    }
    return true;
  }
  return dataset_->GetFieldData(this, buffer, native_format);
}

void TField::SetData(void* buffer, bool native_format) {
  if (dataset_ == nullptr) DatabaseError(FormatText("Field '%s' has no dataset", {DisplayName()}));
  if (read_only_ && field_kind_ != fkCalculated && field_kind_ != fkLookup) {
    const TDataSetState st = dataset_->State();
    if (st != dsSetKey && st != dsFilter && st != dsCalcFields)
      DatabaseError(FormatText("Field '%s' cannot be modified", {DisplayName()}));
  }
  dataset_->SetFieldData(this, buffer, native_format);
}

bool TField::IsNull() { return !GetData(nullptr); }

void TField::Clear() { SetData(nullptr); }

void TField::Validate(void* buffer) {
  if (!OnValidate) return;
  validating_ = true;
  validate_buffer_ = buffer;
  try {
    OnValidate(*this);
  } catch (...) {
    validating_ = false;
    validate_buffer_ = nullptr;
    throw;
  }
  validating_ = false;
  validate_buffer_ = nullptr;
}

void TField::Change() {
  if (OnChange) OnChange(*this);
}

void TField::AccessError(const char* type_name) {
  DatabaseError(FormatText("Cannot access field '%s' as type %s", {DisplayName(), type_name}));
}

void TField::InvalidValueError(const std::string& text, const char* what) {
  DatabaseError(FormatText("'%s' is not a valid %s value for field '%s'", {text, what, DisplayName()}));
}

void TField::RangeError(const std::string& value, const std::string& min, const std::string& max) {
  DatabaseError(FormatText("%s is not a valid value for field '%s'. The allowed range is %s to %s",
                           {value, DisplayName(), min, max}));
}

std::string TField::AsString() { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
std::string TField::AsAnsiString() { return Utf8ToCp1252(AsString()); }
void TField::SetAsAnsiString(const std::string& cp1252) { SetAsString(Cp1252ToUtf8(cp1252)); }
std::u16string TField::AsWideString() { return Utf8ToUtf16(AsString()); }
void TField::SetAsWideString(const std::u16string& text) { SetAsString(Utf16ToUtf8(text)); }
int32_t TField::AsInteger() { AccessError("Integer"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
int64_t TField::AsLargeInt() { return AsInteger(); }
void TField::SetAsLargeInt(int64_t value) {
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    RangeError(IntToStr(value), IntToStr(std::numeric_limits<int32_t>::min()),
               IntToStr(std::numeric_limits<int32_t>::max()));
  SetAsInteger(static_cast<int32_t>(value));
}
double TField::AsFloat() { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
double TField::AsCurrency() { return AsFloat(); }
void TField::SetAsCurrency(double value) { SetAsFloat(value); }
bool TField::AsBoolean() { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
std::vector<uint8_t> TField::AsBytes() { AccessError("Bytes"); }
void TField::SetAsBytes(const std::vector<uint8_t>&) { AccessError("Bytes"); }
void TField::SetVarValue(const Variant&) { AccessError("Variant"); }

Variant TField::AsVariant() {
  if (IsNull()) return Variant::Null();
  return GetAsVariant();
}

void TField::SetAsVariant(const Variant& value) {
  if (value.IsNullOrEmpty()) {
    Clear();
  } else {
    SetVarValue(value);
  }
}

Variant TField::OldValue() {
  if (dataset_ == nullptr) DatabaseError(FormatText("Field '%s' has no dataset", {DisplayName()}));
  return dataset_->GetStateFieldValue(dsOldValue, this);
}

std::string TField::GetText(bool) { return AsString(); }

std::string TField::Text() {
  if (OnGetText) {
    std::string text;
    OnGetText(*this, text, false);
    return text;
  }
  return GetText(false);
}

void TField::SetText(const std::string& text) {
  if (OnSetText) {
    OnSetText(*this, text);
  } else {
    SetTextValue(text);
  }
}

std::string TField::DisplayText() {
  if (OnGetText) {
    std::string text;
    OnGetText(*this, text, true);
    return text;
  }
  return GetText(true);
}

void TField::Assign(TField& source) {
  if (source.IsNull()) {
    Clear();
  } else {
    SetAsVariant(source.AsVariant());
  }
}

TFields::~TFields() { Clear(); }

TField* TFields::FindField(const std::string& name) const {
  for (const auto& f : fields_)
    if (SameText(f->FieldName(), name)) return f.get();
  return nullptr;
}

TField* TFields::FieldByName(const std::string& name) const {
  TField* f = FindField(name);
  if (f == nullptr) DatabaseError(FormatText("Field '%s' not found", {name}), dataset_ ? dataset_->Name() : "");
  return f;
}

int TFields::IndexOf(const TField* field) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].get() == field) return static_cast<int>(i);
  return -1;
}

TField* TFields::FieldByNumber(int field_no) const {
  if (field_no <= 0) return nullptr;
  for (const auto& f : fields_)
    if (f->FieldNo() == field_no) return f.get();
  return nullptr;
}

TField* TFields::Add(std::unique_ptr<TField> field) {
  if (!field) DatabaseError("Field missing");
  if (field->dataset_ != nullptr && field->dataset_ != dataset_) DatabaseError("Field belongs to another dataset");
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (!field->FieldName().empty() && FindField(field->FieldName()) != nullptr)
    DatabaseError(FormatText("Duplicate field name '%s'", {field->FieldName()}), dataset_ ? dataset_->Name() : "");
  field->dataset_ = dataset_;
  fields_.push_back(std::move(field));
  return fields_.back().get();
}

std::unique_ptr<TField> TFields::Remove(TField* field) {
  for (auto it = fields_.begin(); it != fields_.end(); ++it) {
    if (it->get() == field) {
      std::unique_ptr<TField> out = std::move(*it);
      fields_.erase(it);
      out->dataset_ = nullptr;
      return out;
    }
  }
  return nullptr;
}

void TFields::Clear() {
  for (auto& f : fields_) f->dataset_ = nullptr;
  fields_.clear();
}

}  // namespace platform::data
