#pragma once
// Parameters of SQL statements (":name" in the text) with their values and types.
#include <memory>
#include <string>
#include <vector>

#include "platform/base/datetime.h"
#include "platform/data/data_types.h"
#include "platform/data/variant.h"

namespace platform::data {

class TField;
class TParams;

enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam {
 public:
  explicit TParam(std::string name = {}, TFieldType type = ftUnknown, TParamType param_type = ptInput);

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType t) { param_type_ = t; }
  // Set whenever a value is given; the query fills unbound parameters from its master.
  bool Bound() const { return bound_; }
  void SetBound(bool v) { bound_ = v; }

  const Variant& Value() const { return value_; }
  // Takes the variant's type when the parameter has none yet.
  void SetValue(const Variant& value);
  bool IsNull() const { return value_.IsNullOrEmpty(); }
  // Null value, type kept.
  void Clear() { value_ = Variant::Null(); }

  // Typed access; each setter also sets the data type.
  std::string AsString() const { return VarToStr(value_); }
  void SetAsString(const std::string& utf8);
  std::string AsAnsiString() const { return value_.IsNullOrEmpty() ? std::string() : value_.AsAnsiString(); }
  std::u16string AsWideString() const { return value_.IsNullOrEmpty() ? std::u16string() : value_.AsWideString(); }
  void SetAsWideString(const std::u16string& text);
  int32_t AsInteger() const { return value_.IsNullOrEmpty() ? 0 : value_.AsInteger(); }
  void SetAsInteger(int32_t v);
  int64_t AsLargeInt() const { return value_.IsNullOrEmpty() ? 0 : value_.AsInt64(); }
  void SetAsLargeInt(int64_t v);
  double AsFloat() const { return value_.IsNullOrEmpty() ? 0 : value_.AsDouble(); }
  void SetAsFloat(double v);
  double AsCurrency() const { return value_.IsNullOrEmpty() ? 0 : value_.AsCurrency(); }
  void SetAsCurrency(double v);
  bool AsBoolean() const { return value_.IsNullOrEmpty() ? false : value_.AsBoolean(); }
  void SetAsBoolean(bool v);
  TDateTime AsDateTime() const { return value_.IsNullOrEmpty() ? 0 : value_.AsDateTime(); }
  void SetAsDateTime(TDateTime v);
  void SetAsDate(TDateTime v);
  void SetAsTime(TDateTime v);
  // Memo text (8-bit), BLOB bytes.
  void SetAsMemo(const std::string& utf8);
  std::vector<uint8_t> AsBlob() const { return value_.IsNullOrEmpty() ? std::vector<uint8_t>() : value_.AsBytes(); }
  void SetAsBlob(const std::vector<uint8_t>& bytes);

  // Name, type and value of a field (NULL included); the parameter counts as bound.
  void AssignField(TField& field);
  // Type and the given value, keeping the name.
  void AssignFieldValue(TField& field, const Variant& value);
  void Assign(const TParam& source);

 private:
  std::string name_;
  TFieldType data_type_;
  TParamType param_type_;
  bool bound_ = false;
  Variant value_;
};

class TParams {
 public:
  TParams() = default;
  TParams(const TParams&) = delete;
  TParams& operator=(const TParams&) = delete;

  int Count() const { return static_cast<int>(params_.size()); }
  TParam* operator[](int i) const { return params_.at(static_cast<size_t>(i)).get(); }
  TParam* Items(int i) const { return (*this)[i]; }

  TParam* CreateParam(TFieldType type, const std::string& name, TParamType param_type);
  TParam* FindParam(const std::string& name) const;
  // "Parameter '%s' not found".
  TParam* ParamByName(const std::string& name) const;
  void Clear();
  // Copies every parameter.
  void Assign(const TParams& source);
  // Copies the values of the source's parameters into the parameters of the same names.
  void AssignValues(const TParams& source);
  // Same names, types and values in the same order.
  bool IsEqual(const TParams& other) const;

  // Finds the parameters of an SQL text and returns the text with each one replaced by "?".
  // With do_create, a parameter (input, type unknown) is added for every name not yet in the
  // list, in the order of first appearance (a name used twice gives one parameter). The
  // rules are in params.cpp.
  std::string ParseSQL(const std::string& sql, bool do_create);

 private:
  std::vector<std::unique_ptr<TParam>> params_;
};

}  // namespace platform::data
