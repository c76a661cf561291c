// The SQL script of a table: its exact text for a small table, and INSERT statements that an
// independent SQL engine (sqlite3 through Python, with Python's base64 as MimeToBin) loads into
// the same rows, also under a decimal-comma number format.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "dbengine/access/tests/table_test_support.h"
#include "platform/base/number_format.h"
#include "platform/data/blob_field.h"

namespace orv::testing {
namespace {

using namespace platform::data;

class SqlExportTest : public EngineTest {
 protected:
  static std::string OutputFile(const std::string& Name) {
    const std::string folder = std::string(QUIRVEL_TEST_OUTPUT) + "/access";
    std::filesystem::create_directories(folder);
    return folder + "/" + Name;
  }
  static std::string Run(const std::string& Command) {
    std::string out;
    FILE* p = ::popen(Command.c_str(), "r");
    if (!p) return "popen failed";
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    ::pclose(p);
    return out;
  }
};

TEST_F(SqlExportTest, TheScriptOfASmallTable) {
  auto t = MakeTable("MEMORY", "T", {{"ID", ftAutoInc}, {"Name", ftString, 20, true}},
                     {{"PK", "ID", {ixPrimary, ixUnique}}});
  EXPECT_EQ(t->ExportToSQL(),
            "DROP TABLE T;\r\n"
            "CREATE TABLE T (\r\n"
            "  ID AUTOINC,\r\n"
            "  Name VARCHAR(20) NOT NULL, \r\n"
            "  PRIMARY KEY PK (ID)\r\n"
            ");\r\n"
            "\r\n");
  t->ExportToSqlOptions().AddDropTable = false;
  t->ExportToSqlOptions().Data = true;
  t->ExportToSqlOptions().FieldNamesInInserts = true;
  t->Open();
  t->AppendRecord({Variant(), "it's"});
  t->Close();
  const std::string script = t->ExportToSQL();
  EXPECT_EQ(script.substr(script.find("INSERT")), "INSERT INTO T (ID, Name) values (1, 'it''s');\r\n\r\n");

  // Quotes inside DEFAULT, MINVALUE and MAXVALUE texts are doubled like those of values.
  TORVTable bounds;
  bounds.SetDatabaseName("MEMORY");
  bounds.SetTableName("B");
  TORVAdvFieldDef* s = bounds.AdvFieldDefs().Add("S", aftString, 10, false);
  s->DefaultValue->SetDataAsAnsiString("it's");
  s->MinValue->SetDataAsAnsiString("a'");
  s->MaxValue->SetDataAsAnsiString("z'");
  bounds.CreateTable();
  EXPECT_EQ(bounds.ExportToSQL(),
            "DROP TABLE B;\r\nCREATE TABLE B (\r\n  S VARCHAR(10) DEFAULT 'it''s' MINVALUE 'a''' MAXVALUE "
            "'z'''\r\n);\r\n\r\n");

  // Names that are reserved words or hold a blank or a hyphen are quoted.
  auto order = MakeTable("MEMORY", "Order", {{"my col", ftInteger}, {"a-b", ftInteger}});
  order->ExportToSqlOptions().Structure = false;
  order->ExportToSqlOptions().Data = true;
  order->ExportToSqlOptions().FieldNamesInInserts = true;
  order->Open();
  order->AppendRecord({1, Variant()});
  order->Close();
  EXPECT_EQ(order->ExportToSQL(), "INSERT INTO 'Order' ('my col', 'a-b') values (1, NULL);\r\n\r\n");
  EXPECT_THROW(
      {
        order->Open();
        order->ExportToSQL();
      },
      std::exception);
}

TEST_F(SqlExportTest, TheInsertsLoadIntoSqliteWithTheSameRows) {
  auto t = MakeTable("MEMORY", "DATA",
                     {{"ID", ftInteger}, {"S", ftString, 30}, {"D", ftFloat}, {"B", ftBlob}});
  t->Open();
  t->AppendRecord({1, "O'Brien \"quoted\"", 1234.5625, Variant()});
  t->AppendRecord({2, Variant(), -0.001, Variant()});
  t->Append();
  t->FieldByName("ID")->SetAsInteger(3);
  t->FieldByName("S")->SetAsString("x");
  t->FieldByName("D")->SetAsFloat(1e20);
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
  t->FieldByName("B")->SetAsBytes(bytes);
  t->Post();
  t->Close();

  platform::FormatSettings& fs = platform::ProcessFormatSettings();
  const platform::FormatSettings saved = fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  t->ExportToSqlOptions().Structure = false;
  t->ExportToSqlOptions().Data = true;
  const std::string file = OutputFile("export_sql_inserts.sql");
  t->ExportToSQL(file);
  fs = saved;

  const std::string check = OutputFile("export_sql_check.py");
  std::ofstream(check) << "import base64, sqlite3, sys\n"
                          "c = sqlite3.connect(':memory:')\n"
                          "c.create_function('MimeToBin', 1, lambda s: base64.b64decode(s, validate=True))\n"
                          "c.execute('CREATE TABLE DATA (ID INTEGER, S TEXT, D REAL, B BLOB)')\n"
                          "c.executescript(open(sys.argv[1], encoding='cp1252').read())\n"
                          "for r in c.execute('SELECT ID, S, D, B FROM DATA ORDER BY ID'):\n"
                          "    b = r[3]\n"
                          "    print(r[0], repr(r[1]), repr(r[2]), None if b is None else (len(b), sum(b)))\n";
  long sum = 0;
  for (uint8_t b : bytes) sum += b;
  EXPECT_EQ(Run("python3 " + check + " " + file),
            "1 'O\\'Brien \"quoted\"' 1234.5625 None\n"
            "2 None -0.001 None\n"
            "3 'x' 1e+20 (300, " +
                std::to_string(sum) + ")\n");
}

}  // namespace
}  // namespace orv::testing
