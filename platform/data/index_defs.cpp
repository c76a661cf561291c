#include "platform/data/index_defs.h"

#include "platform/data/database_error.h"
#include "platform/data/dataset.h"
#include "platform/data/same_text.h"

namespace platform::data {

void TIndexDef::Assign(const TIndexDef& source) {
  name_ = source.name_;
  fields_ = source.fields_;
  desc_fields_ = source.desc_fields_;
  case_ins_fields_ = source.case_ins_fields_;
  options_ = source.options_;
}

std::vector<std::string> SplitFieldNames(const std::string& names) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= names.size()) {
    const size_t end = names.find(';', pos);
    const std::string part = TrimText(names.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    if (!part.empty()) out.push_back(part);
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return out;
}

TIndexDef* TIndexDefs::Add(const std::string& name, const std::string& fields, TIndexOptions options) {
  if (!name.empty() && IndexOf(name) >= 0) DatabaseError(FormatText("Duplicate name '%s' in TIndexDefs", {name}));
  defs_.push_back(std::make_unique<TIndexDef>(name, fields, options));
  return defs_.back().get();
}

TIndexDef* TIndexDefs::AddIndexDef() {
  defs_.push_back(std::make_unique<TIndexDef>(std::string(), std::string(), TIndexOptions{}));
  return defs_.back().get();
}

int TIndexDefs::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < defs_.size(); ++i)
    if (SameText(defs_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

TIndexDef* TIndexDefs::Find(const std::string& name) const {
  const int i = IndexOf(name);
  if (i < 0) DatabaseError(FormatText("Index '%s' not found", {name}), dataset_ ? dataset_->Name() : "");
  return defs_[static_cast<size_t>(i)].get();
}

void TIndexDefs::Delete(int index) {
  if (index < 0 || index >= Count()) DatabaseError("List index out of bounds");
  defs_.erase(defs_.begin() + index);
}

void TIndexDefs::Clear() { defs_.clear(); }

void TIndexDefs::Assign(const TIndexDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& d : source.defs_) AddIndexDef()->Assign(*d);
}

TIndexDef* TIndexDefs::GetIndexForFields(const std::string& fields, bool case_insensitive) const {
  const std::vector<std::string> wanted = SplitFieldNames(fields);
  if (wanted.empty()) return nullptr;
  TIndexDef* leading = nullptr;
  for (const auto& d : defs_) {
    if (d->Options().Contains(ixExpression)) continue;
    if (d->Options().Contains(ixCaseInsensitive) != case_insensitive) continue;
    const std::vector<std::string> cols = SplitFieldNames(d->Fields());
    if (cols.size() < wanted.size()) continue;
    bool match = true;
    for (size_t i = 0; match && i < wanted.size(); ++i) match = SameText(cols[i], wanted[i]);
    if (!match) continue;
    if (cols.size() == wanted.size()) return d.get();
    if (leading == nullptr) leading = d.get();
  }
  return leading;
}

TIndexDef* TIndexDefs::FindIndexForFields(const std::string& fields) const {
  TIndexDef* d = GetIndexForFields(fields, false);
  if (d == nullptr) DatabaseError(FormatText("No index for fields '%s'", {fields}), dataset_ ? dataset_->Name() : "");
  return d;
}

void TIndexDefs::Update() {
  if (updated_ || dataset_ == nullptr) return;
  dataset_->UpdateIndexDefs();
  updated_ = true;
}

}  // namespace platform::data
