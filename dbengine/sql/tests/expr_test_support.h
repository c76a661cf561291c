#pragma once
// Building expression trees by hand (as the parser will) and reading their results, plus a
// table of the storage test kind whose record buffers the field references are bound to.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/sql/orv_expressions_aggregates.h"
#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_nodes.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv::testing {

// ---- Constants ------------------------------------------------------------------------------

inline std::unique_ptr<TORVExprNodeConst> Const() { return std::make_unique<TORVExprNodeConst>(); }

// A constant of type t whose value Set stores.
template <class Setter>
TORVExprNodePtr ConstOf(TORVBaseFieldType t, Setter Set) {
  auto c = Const();
  c->Value.Clear(t);
  Set(c->Value);
  return c;
}
inline TORVExprNodePtr Int(int32_t v) { return ConstOf(bftSignedInt32, [v](TORVVariant& x) { x.SetDataAsSignedInt32(v); }); }
inline TORVExprNodePtr Int64(int64_t v) {
  return ConstOf(bftSignedInt64, [v](TORVVariant& x) { x.SetDataAsSignedInt64(v); });
}
inline TORVExprNodePtr Dbl(double v) { return ConstOf(bftDouble, [v](TORVVariant& x) { x.SetDataAsDouble(v); }); }
inline TORVExprNodePtr Str(const std::string& v) {
  return ConstOf(bftVarchar, [&v](TORVVariant& x) { x.SetDataAsAnsiString(v); });
}
inline TORVExprNodePtr WStr(const std::u16string& v) {
  return ConstOf(bftWideVarchar, [&v](TORVVariant& x) { x.SetDataAsWideString(v); });
}
inline TORVExprNodePtr Bool(bool v) { return ConstOf(bftLogical, [v](TORVVariant& x) { x.SetDataAsBoolean(v); }); }
// The parser's NULL: an integer NULL unless a parameter gave it a type.
inline TORVExprNodePtr Null(TORVBaseFieldType t = bftSignedInt32) {
  auto c = Const();
  c->Value.Clear(t);
  return c;
}
// A three-valued truth: True, False or NULL (nullopt).
inline TORVExprNodePtr Truth(std::optional<bool> v) { return v ? Bool(*v) : Null(bftLogical); }

// ---- Operators ------------------------------------------------------------------------------

inline TORVExprNodePtr Cmp(TORVDataOperator op, TORVExprNodePtr a, TORVExprNodePtr b, bool ThreeValued = true,
                           bool CaseInsensitive = false, bool PartialKey = false) {
  return std::make_unique<TORVExprNodeComparison>(op, std::move(a), std::move(b), ThreeValued, CaseInsensitive,
                                                  PartialKey);
}
inline TORVExprNodePtr Bool1(TORVDataOperator op, TORVExprNodePtr a) {
  return std::make_unique<TORVExprNodeBoolean>(op, std::move(a), true, false);
}
inline TORVExprNodePtr Bool2(TORVDataOperator op, TORVExprNodePtr a, TORVExprNodePtr b) {
  return std::make_unique<TORVExprNodeBoolean>(op, std::move(a), std::move(b), true, false);
}
inline TORVExprNodePtr BoolN(TORVDataOperator op, std::vector<TORVExprNodePtr> nodes) {
  auto n = std::make_unique<TORVExprNodeBoolean>(op, true, false, "");
  for (auto& c : nodes) n->AddChild(std::move(c));
  return n;
}
inline TORVExprNodePtr Like(TORVExprNodePtr value, TORVExprNodePtr pattern, const std::string& escape = "",
                            bool CaseInsensitive = false, bool Not = false) {
  auto n = std::make_unique<TORVExprNodeBoolean>(Not ? doNOTLIKE : doLIKE, CaseInsensitive, false, escape);
  n->AddChild(std::move(value));
  n->AddChild(std::move(pattern));
  return n;
}

template <class... Nodes>
std::vector<TORVExprNodePtr> List(Nodes&&... nodes) {
  std::vector<TORVExprNodePtr> v;
  (v.push_back(std::forward<Nodes>(nodes)), ...);
  return v;
}

inline TORVExprNodePtr Arith(TORVDataOperator op, std::vector<TORVExprNodePtr> nodes) {
  auto n = std::make_unique<TORVExprNodeArithmetic>(op, true, false);
  for (auto& c : nodes) n->AddChild(std::move(c));
  return n;
}
inline TORVExprNodePtr StrFn(TORVDataOperator op, std::vector<TORVExprNodePtr> nodes) {
  auto n = std::make_unique<TORVExprNodeStringFunction>(op, true, false);
  for (auto& c : nodes) n->AddChild(std::move(c));
  return n;
}
inline TORVExprNodePtr Cast(TORVExprNodePtr v, TORVAdvancedFieldType t, TORVExprNodePtr size = nullptr) {
  return std::make_unique<TORVExprNodeCast>(std::move(v), t, std::move(size));
}

// ---- Results --------------------------------------------------------------------------------

inline std::optional<bool> TruthOf(TORVExprNode& n) {
  const TORVVariant& v = n.GetDataValue();
  if (v.IsNull()) return std::nullopt;
  return v.GetDataAsBoolean();
}
inline std::string TruthText(std::optional<bool> v) { return v ? (*v ? "TRUE" : "FALSE") : "NULL"; }

// ---- A table of the storage test kind -------------------------------------------------------

// Table T opened through the test cursor; records are buffers of its layout, made here.
class ExprTable {
 public:
  explicit ExprTable(const std::vector<std::pair<std::string, std::pair<TORVAdvancedFieldType, int32_t>>>& Fields) {
    TORVFieldDefs defs;
    for (const auto& [name, type] : Fields) AddField(defs, name, type.first, type.second);
    fixture.Create(defs);
  }
  ~ExprTable() {
    for (void*& b : buffers_) MemoryManager().FreeAndNillMem(b);
  }
  ExprTable(const ExprTable&) = delete;
  ExprTable& operator=(const ExprTable&) = delete;

  TestCursor& cursor() { return *fixture.cursor; }

  // A record with every field NULL.
  void* NewRecord() {
    void* b = cursor().AllocateRecordBuffer();
    buffers_.push_back(b);
    TORVVariant null;
    for (int32_t i = 0; i < cursor().FFieldDefs->GetCount(); ++i) cursor().SetFieldValue(null, i, true, b);
    return b;
  }
  void Set(void* Record, const std::string& Field, TORVVariant& Value) {
    cursor().SetFieldValue(Value, cursor().FFieldDefs->GetDefNumberByName(Field), true, Record);
  }
  void SetInt(void* Record, const std::string& Field, std::optional<int64_t> v) {
    TORVVariant value(bftSignedInt64);
    if (v) value.SetDataAsSignedInt64(*v);
    Set(Record, Field, value);
  }
  void SetDouble(void* Record, const std::string& Field, std::optional<double> v) {
    TORVVariant value(bftDouble);
    if (v) value.SetDataAsDouble(*v);
    Set(Record, Field, value);
  }
  void SetText(void* Record, const std::string& Field, std::optional<std::string> v) {
    TORVVariant value(bftVarchar);
    if (v) value.SetDataAsAnsiString(*v);
    Set(Record, Field, value);
  }
  TORVExprNodePtr Field(const std::string& Name) {
    return std::make_unique<TORVExprNodeField>(&cursor(), Name, "");
  }

  TableFixture fixture;

 private:
  std::vector<void*> buffers_;
};

}  // namespace orv::testing
