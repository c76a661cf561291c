#pragma once
// Index definitions: the indexes a table offers (name, columns separated by ";", options and
// the columns sorted descending or compared without case).
#include <memory>
#include <string>
#include <vector>

#include "platform/data/data_types.h"

namespace platform::data {

class TDataSet;
class TIndexDefs;

class TIndexDef {
 public:
  TIndexDef(std::string name, std::string fields, TIndexOptions options)
      : name_(std::move(name)), fields_(std::move(fields)), options_(options) {}

  const std::string& Name() const { return name_; }
  void SetName(std::string v) { name_ = std::move(v); }
  const std::string& Fields() const { return fields_; }
  void SetFields(std::string v) { fields_ = std::move(v); }
  const std::string& DescFields() const { return desc_fields_; }
  void SetDescFields(std::string v) { desc_fields_ = std::move(v); }
  const std::string& CaseInsFields() const { return case_ins_fields_; }
  void SetCaseInsFields(std::string v) { case_ins_fields_ = std::move(v); }
  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions v) { options_ = v; }

  void Assign(const TIndexDef& source);

 private:
  std::string name_;
  std::string fields_;
  std::string desc_fields_;
  std::string case_ins_fields_;
  TIndexOptions options_;
};

// Column lists: names separated by ";", blanks around a name ignored.
std::vector<std::string> SplitFieldNames(const std::string& names);

class TIndexDefs {
 public:
  // The dataset, when given, reads the definitions of its table on Update.
  explicit TIndexDefs(TDataSet* dataset = nullptr) : dataset_(dataset) {}
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  int Count() const { return static_cast<int>(defs_.size()); }
  TIndexDef* operator[](int i) const { return defs_.at(static_cast<size_t>(i)).get(); }
  TIndexDef* Items(int i) const { return (*this)[i]; }

  // A name already used raises "Duplicate name '%s' in TIndexDefs" (several unnamed
  // definitions are allowed).
  TIndexDef* Add(const std::string& name, const std::string& fields, TIndexOptions options);
  TIndexDef* AddIndexDef();
  // "Index '%s' not found".
  TIndexDef* Find(const std::string& name) const;
  int IndexOf(const std::string& name) const;
  void Delete(int index);
  void Clear();
  void Assign(const TIndexDefs& source);

  // The index over these columns: first one whose column list is exactly this list, else
  // one whose leading columns are these; the case-insensitive option must match
  // CaseInsensitive; expression indexes never qualify. nullptr when none.
  TIndexDef* GetIndexForFields(const std::string& fields, bool case_insensitive) const;
  // The same, case-sensitive, raising "No index for fields '%s'" when none.
  TIndexDef* FindIndexForFields(const std::string& fields) const;

  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }
  // Reads the definitions through the dataset unless marked up to date.
  void Update();

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TIndexDef>> defs_;
  bool updated_ = false;
};

}  // namespace platform::data
