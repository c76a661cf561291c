#pragma once
// Field definitions: the columns a dataset's cursor offers (name, type, size, required),
// from which the default fields are built when a dataset opens without persistent fields.
#include <memory>
#include <string>
#include <vector>

#include "platform/data/data_types.h"

namespace platform::data {

class TDataSet;
class TField;
class TFieldDefs;

class TFieldDef {
 public:
  TFieldDef(TFieldDefs* owner, std::string name, TFieldType type, int size, bool required);

  const std::string& Name() const { return name_; }
  // A name already used by another definition raises "Duplicate name '%s' in TFieldDefs".
  void SetName(const std::string& name);
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  int Size() const { return size_; }
  void SetSize(int size);
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  int Precision() const { return precision_; }
  void SetPrecision(int p) { precision_ = p; }
  // 1-based position among the definitions.
  int FieldNo() const;

  // A field object of the class for DataType, named, sized and required like this
  // definition; nullptr for types no field class presents (ftUnknown, ftBCD, ftCursor, ...).
  std::unique_ptr<TField> CreateFieldObject() const;
  // The same, added to the dataset's fields; nullptr when there is no class for the type.
  TField* CreateField(TDataSet& dataset) const;

  void Assign(const TFieldDef& source);

 private:
  TFieldDefs* owner_;
  std::string name_;
  TFieldType data_type_;
  int size_;
  bool required_;
  int precision_ = 0;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* dataset = nullptr) : dataset_(dataset) {}
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  int Count() const { return static_cast<int>(defs_.size()); }
  TFieldDef* operator[](int i) const { return defs_.at(static_cast<size_t>(i)).get(); }
  TFieldDef* Items(int i) const { return (*this)[i]; }

  // An empty name raises "Field name missing"; a used one "Duplicate name '%s' in TFieldDefs".
  TFieldDef* Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
  TFieldDef* AddFieldDef();
  TFieldDef* Find(const std::string& name) const;  // "Field '%s' not found"
  int IndexOf(const std::string& name) const;
  void Delete(int index);
  void Clear();
  void Assign(const TFieldDefs& source);

  // Definitions are read from the dataset's cursor on demand: Update fetches them unless
  // they are marked up to date.
  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }
  void Update();

  TDataSet* DataSet() const { return dataset_; }

 private:
  friend class TFieldDef;
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TFieldDef>> defs_;
  bool updated_ = false;
};

}  // namespace platform::data
