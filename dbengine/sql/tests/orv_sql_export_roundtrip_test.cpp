// The script a table exports (structure and data) runs back through the query component into
// an equal table: the same columns, indexes and rows. The script is left in test-output/sql.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_table.h"
#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_query.h"
#include "platform/data/field.h"

namespace orv {
namespace {

using platform::data::Variant;

class ExportRoundTrip : public testing::EngineTest {
 protected:
  static std::unique_ptr<TORVTable> Table(const std::string& Name) {
    auto t = std::make_unique<TORVTable>();
    t->SetDatabaseName("MEMORY");
    t->SetTableName(Name);
    return t;
  }
  // Columns (name, type, size, required), indexes and every row as texts.
  static std::string Describe(TORVTable& T) {
    std::string s;
    T.Open();
    for (int i = 0; i < T.FieldCount(); ++i) {
      platform::data::TField* f = T.Fields()[i];
      s += f->FieldName() + ":" + std::to_string(static_cast<int>(f->DataType())) + ":" +
           std::to_string(f->Size()) + (f->Required() ? ":req" : "") + " ";
    }
    s += "\n";
    T.AdvIndexDefs().Update();
    for (int32_t i = 0; i < T.AdvIndexDefs().GetCount(); ++i) {
      const TORVAdvIndexDef* x = T.AdvIndexDefs()[i];
      s += x->Name + "(" + x->Fields + "/" + x->DescFields + "/" + x->CaseInsFields + ")" +
           // A primary index is unique whether or not its definition says so.
           (x->Options.Contains(platform::data::ixPrimary)  ? "P"
            : x->Options.Contains(platform::data::ixUnique) ? "U"
                                                            : "") +
           " ";
    }
    s += "\n";
    for (T.First(); !T.Eof(); T.Next()) {
      for (int i = 0; i < T.FieldCount(); ++i)
        s += (T.Fields()[i]->IsNull() ? std::string("NULL") : T.Fields()[i]->AsString()) + "|";
      s += "\n";
    }
    T.Close();
    // Defaults and bounds as the table keeps them.
    const auto text = [](const std::unique_ptr<TORVVariant>& v) {
      return !v || v->IsNull() ? std::string("-") : v->GetDataAsAnsiString();
    };
    for (int32_t i = 0; i < T.RestructureFieldDefs().GetCount(); ++i) {
      const TORVAdvFieldDef* d = T.RestructureFieldDefs()[i];
      s += d->Name + "[" + text(d->DefaultValue) + "," + text(d->MinValue) + "," + text(d->MaxValue) + "] ";
    }
    return s;
  }
  TORVScopedExpressionEngine expressions;
};

TEST_F(ExportRoundTrip, ScriptRebuildsAnEqualTable) {
  auto t = Table("STOCK");
  TORVAdvFieldDefs& f = t->AdvFieldDefs();
  f.Add("ID", aftAutoInc, 0, false);
  TORVAdvFieldDef* n = f.Add("N", aftInteger, 0, false);
  n->DefaultValue->SetDataAsSignedInt64(7);
  n->MinValue->SetDataAsSignedInt64(-100);
  n->MaxValue->SetDataAsSignedInt64(100);
  f.Add("L", aftLargeint, 0, false);
  f.Add("D", aftDouble, 0, false)->MaxValue->SetDataAsDouble(0.5);
  TORVAdvFieldDef* text = f.Add("S", aftString, 20, true);
  text->MinValue->SetDataAsAnsiString("a");
  text->MaxValue->SetDataAsAnsiString("t's");
  f.Add("DT", aftDate, 0, false);
  f.Add("TS", aftTimeStamp, 0, false);
  f.Add("OK", aftBoolean, 0, false);
  f.Add("M", aftMemo, 0, false);
  f.Add("BL", aftBlob, 0, false, caZLIB, 6);
  t->AdvIndexDefs().Add("PK", "ID", {platform::data::ixPrimary, platform::data::ixUnique});
  t->AdvIndexDefs().Add("ByS", "S", {platform::data::ixUnique}, false, {}, "S");
  t->AdvIndexDefs().Add("ByN", "N;L", {}, false, "N");
  t->CreateTable();
  t->Open();
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<uint8_t>(i * 13));
  for (int row = 0; row < 4; ++row) {
    t->Append();
    if (row != 1) t->FieldByName("N")->SetAsInteger(row * 10 - 5);
    t->FieldByName("L")->SetAsLargeInt(row == 2 ? -9000000000000LL : row);
    if (row != 3) t->FieldByName("D")->SetAsFloat(row / 8.0 - 1e10);
    t->FieldByName("S")->SetAsString(row == 0 ? "it's \"q\"" : "s" + std::to_string(row));
    t->FieldByName("DT")->SetAsDateTime(45000 + row);
    t->FieldByName("TS")->SetAsDateTime(45000.25 + row);
    t->FieldByName("OK")->SetAsBoolean(row % 2 == 0);
    if (row != 2) t->FieldByName("M")->SetAsString("memo line\r\nsecond 'line' " + std::to_string(row));
    if (row == 1) t->FieldByName("BL")->SetAsBytes(bytes);
    t->Post();
  }
  t->Close();
  const std::string before = Describe(*t);
  ASSERT_NE(before.find("N[7,-100,100]"), std::string::npos) << before;

  t->ExportToSqlOptions().Structure = true;
  t->ExportToSqlOptions().AddDropTable = true;
  t->ExportToSqlOptions().BlobSettings = true;
  t->ExportToSqlOptions().Data = true;
  t->ExportToSqlOptions().FieldNamesInInserts = true;
  const std::string script = t->ExportToSQL();
  const std::string folder = std::string(QUIRVEL_TEST_OUTPUT);
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/export_roundtrip.sql", std::ios::binary) << script;

  TORVQuery q;
  q.SetDatabaseName("MEMORY");
  q.SetParamCheck(false);
  q.SetSQL(script);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 4);
  auto back = Table("STOCK");
  EXPECT_EQ(Describe(*back), before) << script;
  // The rebuilt keys refuse what the old ones refused.
  for (const char* duplicate : {"INSERT INTO STOCK (ID, S) VALUES (1, 'new')", "INSERT INTO STOCK (S) VALUES ('S1')",
                                "INSERT INTO STOCK (N, S) VALUES (101, 'new')", "INSERT INTO STOCK (S) VALUES ('u')",
                                "INSERT INTO STOCK (D, S) VALUES (0.75, 'new')"}) {
    TORVQuery again;
    again.SetDatabaseName("MEMORY");
    again.SetSQL(duplicate);
    EXPECT_THROW(again.ExecSQL(), std::exception) << duplicate;
  }
}

}  // namespace
}  // namespace orv
