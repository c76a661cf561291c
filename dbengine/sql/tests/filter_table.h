#pragma once
// A table of the MEMORY engine with typed rows, filtered through the expression engine the way
// the table layer filters: the cursor's filter expression decides for every record whether it
// is visible, and the record search walks the filtered view and locates in it. Each row
// carries its number in the integer column ID.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "dbengine/sql/orv_expressions.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv::testing {

// A date-time value of a row (days since 1899-12-30).
struct Stamp {
  double days;
};
using Cell = std::variant<std::monostate, int64_t, double, std::string, Stamp>;

// An index of the table: its columns with "ASC"/"DESC" and "CASE"/"NO_CASE" (all ascending and
// case-sensitive when left empty).
struct IndexSpec {
  std::string Name;
  std::vector<std::string> Fields;
  std::vector<std::string> AscDesc;
  std::vector<std::string> CaseIns;
};

class FilterTable {
 public:
  // ID (an integer) comes first; Fields follow.
  explicit FilterTable(const std::vector<std::pair<std::string, std::pair<TORVAdvancedFieldType, int32_t>>>& Fields,
                       const std::vector<std::pair<std::string, std::string>>& Defaults = {},
                       const std::vector<IndexSpec>& Indexes = {}) {
    TORVFieldDefs defs;
    AddField(defs, "ID", aftInteger);
    for (const auto& [name, type] : Fields) {
      TORVFieldDef* f = AddField(defs, name, type.first, type.second);
      for (const auto& [field, text] : Defaults)
        if (field == name) f->DefaultValue->SetDataAsAnsiString(text);
    }
    TORVIndexDefs indexes;
    for (const IndexSpec& spec : Indexes) {
      TORVIndexDef* d = indexes.AddCreated();
      d->Name = spec.Name;
      const size_t n = spec.Fields.size();
      d->AssignByNames(spec.Fields, spec.AscDesc.empty() ? std::vector<std::string>(n, "ASC") : spec.AscDesc,
                       spec.CaseIns.empty() ? std::vector<std::string>(n, "CASE") : spec.CaseIns);
    }
    fixture.Create(defs, indexes);
  }

  TestCursor& cursor() { return *fixture.cursor; }

  // One row: the cells of the fields in their order after ID (missing ones stay as the
  // record's defaults made them).
  int64_t Insert(const std::vector<Cell>& Cells) {
    TestCursor& c = cursor();
    c.BeginInsert();
    const int64_t id = ++rows_;
    SetCell(0, id);
    for (size_t i = 0; i < Cells.size(); ++i) SetCell(static_cast<int32_t>(i) + 1, Cells[i]);
    c.InternalPost(true);
    EXPECT_EQ(c.FErrorCode, 0) << c.FErrorMessage;
    return id;
  }

  // The IDs of the records the filter lets through, walking the filtered view from its first
  // record to its last; the view's record count (counted apart) must agree when asked.
  std::vector<int64_t> Visible(const std::string& Filter, bool CaseInsensitive = false, bool PartialKey = false,
                               bool CheckCount = true) {
    TestCursor& c = cursor();
    c.ActivateFilters(Filter, CaseInsensitive, PartialKey);
    std::vector<int64_t> ids = Scan();
    if (CheckCount) {
      EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(ids.size())) << Filter;
    }
    c.DeactivateFilters();
    return ids;
  }

  // Every record of the cursor's view, in its order.
  std::vector<int64_t> Scan() {
    TestCursor& c = cursor();
    std::vector<int64_t> ids;
    c.InternalFirst();
    while (c.GetRecordBuffer(grmNext) == grrOK) ids.push_back(*c.GetInt("ID"));
    return ids;
  }

  // The record a Locate makes current (the first in the view's order), nullopt when none.
  std::optional<int64_t> Locate(const std::string& Fields, const std::vector<TORVVarValue>& Keys,
                                bool CaseInsensitive = false, bool PartialKey = false) {
    std::unique_ptr<IORVExpression> e =
        GetExpressionFactory().ParseForLocate(cursor(), Fields, Keys, CaseInsensitive, PartialKey);
    return Locate(*e);
  }
  std::optional<int64_t> Locate(IORVExpression& e) {
    if (!fixture.Table().Locate(&cursor(), &e)) return std::nullopt;
    return cursor().GetInt("ID");
  }

  MemoryTableFixture fixture;

 private:
  void SetCell(int32_t FieldNo, const Cell& Value) {
    TORVVariant v;
    if (const auto* i = std::get_if<int64_t>(&Value)) v.SetDataAsSignedInt64(*i);
    if (const auto* d = std::get_if<double>(&Value)) v.SetDataAsDouble(*d);
    if (const auto* s = std::get_if<std::string>(&Value)) v.SetDataAsAnsiString(*s);
    if (const auto* t = std::get_if<Stamp>(&Value)) v.SetDataAsTDateTime(t->days);
    cursor().SetFieldValue(v, FieldNo, true, nullptr);
  }

  int64_t rows_ = 0;
};

}  // namespace orv::testing
