// SQL text: the lexer over a whole script (every command and token walked, with a named and a
// positional parameter bound), a default-value text as a value expression, and a filter
// condition parsed against the fields of a small MEMORY table and evaluated for each of its
// rows, as the table layer filters. Any text is either taken or refused with an engine error.
#include <memory>
#include <string>
#include <vector>

#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_sql_lexer.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/tests/support/table_fixture.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace orv;

// T(ID Integer, Name String(12), Area Double, Made DateTime, Ok Boolean) with three rows,
// one of them all NULL but its ID.
struct Table {
  TORVScopedExpressionEngine engine;
  testing::MemoryTableFixture fixture;

  Table() {
    TORVFieldDefs defs;
    testing::AddField(defs, "ID", aftInteger);
    testing::AddField(defs, "Name", aftString, 12);
    testing::AddField(defs, "Area", aftDouble);
    testing::AddField(defs, "Made", aftDateTime);
    testing::AddField(defs, "Ok", aftBoolean);
    fixture.Create(defs);
    Row(1, "Plate 7", 42.5, 45000.25, true);
    Row(2, "mask\xB5", -0.125, 1.5, false);
    Row(3, nullptr, 0, 0, false);
  }

  void Row(int64_t id, const char* name, double area, double made, bool ok) {
    testing::TestCursor& c = *fixture.cursor;
    c.BeginInsert();
    // A variant keeps the type it was given first: one per value.
    const auto set = [&c](int32_t field, const auto& assign) {
      TORVVariant v;
      assign(v);
      c.SetFieldValue(v, field, true, nullptr);
    };
    set(0, [&](TORVVariant& v) { v.SetDataAsSignedInt64(id); });
    if (name) {
      set(1, [&](TORVVariant& v) { v.SetDataAsAnsiString(name); });
      set(2, [&](TORVVariant& v) { v.SetDataAsDouble(area); });
      set(3, [&](TORVVariant& v) { v.SetDataAsTDateTime(made); });
      set(4, [&](TORVVariant& v) { v.SetDataAsBoolean(ok); });
    }
    c.InternalPost(true);
    FUZZ_CHECK(c.FErrorCode == 0);
  }
};

void Lex(const std::string& text) {
  TORVSQLParams params;
  TORVSQLParam* named = params.AddCreated();
  named->Name = "a";
  named->SetDataAsSignedInt64(7);
  params.AddCreated()->SetDataAsAnsiString("x");
  try {
    TORVLexer lexer(text, &params, false);
    while (lexer.GetNextCommand()) {
      TToken token;
      while (lexer.GetNextToken(token)) FUZZ_CHECK(token.LineNum >= 1 && token.ColumnNum >= 1);
    }
    lexer.Test(false, true);
  } catch (const EORVException&) {
  }
}

void DefaultValue(const std::string& text) {
  TORVExpression e;
  if (!e.ParseForDefaultValueExpression(text)) return;
  try {
    e.GetValue(true);
  } catch (const EORVException&) {
  }
}

void Filter(Table& table, const std::string& text, bool case_insensitive, bool partial_key) {
  testing::TestCursor& c = *table.fixture.cursor;
  try {
    c.ActivateFilters(text, case_insensitive, partial_key);
  } catch (const EORVException&) {
    return;
  }
  try {
    int64_t seen = 0;
    c.InternalFirst();
    while (c.GetRecordBuffer(grmNext) == grrOK) ++seen;
    FUZZ_CHECK(seen <= 3);
    c.GetRecordCount();
  } catch (const EORVException&) {
    // An evaluation error (a conversion, a division by zero) for a row.
  }
  c.DeactivateFilters();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Table* table = new Table();  // for the whole process: the rows never change
  const std::string text(reinterpret_cast<const char*>(data), size);
  Lex(text);
  DefaultValue(text);
  Filter(*table, text, (size & 1) != 0, (size & 2) != 0);
  return 0;
}
