#include "platform/data/field_defs.h"

#include "platform/data/binary_field.h"
#include "platform/data/blob_field.h"
#include "platform/data/database_error.h"
#include "platform/data/dataset.h"
#include "platform/data/date_time_field.h"
#include "platform/data/numeric_field.h"
#include "platform/data/same_text.h"
#include "platform/data/string_field.h"

namespace platform::data {

TFieldDef::TFieldDef(TFieldDefs* owner, std::string name, TFieldType type, int size, bool required)
    : owner_(owner), name_(std::move(name)), data_type_(type), size_(size), required_(required) {}

void TFieldDef::SetName(const std::string& name) {
  if (owner_ != nullptr) {
    const int i = owner_->IndexOf(name);
    if (i >= 0 && (*owner_)[i] != this) DatabaseError(FormatText("Duplicate name '%s' in TFieldDefs", {name}));
  }
  name_ = name;
}

void TFieldDef::SetSize(int size) {
  if (size < 0) DatabaseError("Invalid field size");
  size_ = size;
}

int TFieldDef::FieldNo() const {
  if (owner_ == nullptr) return 0;
  for (int i = 0; i < owner_->Count(); ++i)
    if ((*owner_)[i] == this) return i + 1;
  return 0;
}

std::unique_ptr<TField> TFieldDef::CreateFieldObject() const {
  std::unique_ptr<TField> f;
  switch (data_type_) {
    case ftString: f = std::make_unique<TStringField>(ftString); break;
    case ftFixedChar: f = std::make_unique<TStringField>(ftFixedChar); break;
    case ftGuid: f = std::make_unique<TGuidField>(); break;
    case ftWideString: f = std::make_unique<TWideStringField>(); break;
    case ftSmallint: f = std::make_unique<TSmallintField>(); break;
    case ftInteger: f = std::make_unique<TIntegerField>(); break;
    case ftWord: f = std::make_unique<TWordField>(); break;
    case ftAutoInc: f = std::make_unique<TAutoIncField>(); break;
    case ftLargeint: f = std::make_unique<TLargeintField>(); break;
    case ftFloat: f = std::make_unique<TFloatField>(); break;
    case ftCurrency: f = std::make_unique<TCurrencyField>(); break;
    case ftBoolean: f = std::make_unique<TBooleanField>(); break;
    case ftDate: f = std::make_unique<TDateField>(); break;
    case ftTime: f = std::make_unique<TTimeField>(); break;
    case ftDateTime: f = std::make_unique<TDateTimeField>(); break;
    case ftTimeStamp: f = std::make_unique<TSQLTimeStampField>(); break;
    case ftBytes: f = std::make_unique<TBytesField>(); break;
    case ftVarBytes: f = std::make_unique<TVarBytesField>(); break;
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob: f = std::make_unique<TMemoField>(data_type_); break;
    case ftWideMemo: f = std::make_unique<TWideMemoField>(); break;
    case ftGraphic: f = std::make_unique<TGraphicField>(); break;
    case ftBlob:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob: f = std::make_unique<TBlobField>(data_type_); break;
    default: return nullptr;
  }
  f->SetFieldName(name_);
  if (data_type_ != ftGuid) f->SetSize(size_);
  f->SetRequired(required_);
  if (auto* ff = dynamic_cast<TFloatField*>(f.get()); ff != nullptr && precision_ > 0) ff->SetPrecision(precision_);
  return f;
}

TField* TFieldDef::CreateField(TDataSet& dataset) const {
  std::unique_ptr<TField> f = CreateFieldObject();
  if (!f) return nullptr;
  return dataset.Fields().Add(std::move(f));
}

void TFieldDef::Assign(const TFieldDef& source) {
  SetName(source.name_);
  data_type_ = source.data_type_;
  size_ = source.size_;
  required_ = source.required_;
  precision_ = source.precision_;
}

TFieldDef* TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
  if (name.empty()) DatabaseError("Field name missing");
  if (IndexOf(name) >= 0) DatabaseError(FormatText("Duplicate name '%s' in TFieldDefs", {name}));
  if (size < 0) DatabaseError("Invalid field size");
  defs_.push_back(std::make_unique<TFieldDef>(this, name, type, size, required));
  return defs_.back().get();
}

TFieldDef* TFieldDefs::AddFieldDef() {
  defs_.push_back(std::make_unique<TFieldDef>(this, std::string(), ftUnknown, 0, false));
  return defs_.back().get();
}

int TFieldDefs::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < defs_.size(); ++i)
    if (SameText(defs_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

TFieldDef* TFieldDefs::Find(const std::string& name) const {
  const int i = IndexOf(name);
  if (i < 0) DatabaseError(FormatText("Field '%s' not found", {name}), dataset_ ? dataset_->Name() : "");
  return defs_[static_cast<size_t>(i)].get();
}

void TFieldDefs::Delete(int index) {
  if (index < 0 || index >= Count()) DatabaseError("List index out of bounds");
  defs_.erase(defs_.begin() + index);
}

void TFieldDefs::Clear() { defs_.clear(); }

void TFieldDefs::Assign(const TFieldDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& d : source.defs_) {
    TFieldDef* n = AddFieldDef();
    n->Assign(*d);
  }
}

void TFieldDefs::Update() {
  if (updated_ || dataset_ == nullptr) return;
  dataset_->InitFieldDefs();
  updated_ = true;
}

}  // namespace platform::data
