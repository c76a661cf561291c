#include "dbengine/sql/tools/orv_sql_tool.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/access/tools/orv_tool.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_query.h"

namespace orv::tools {

namespace {

constexpr char kDatabaseName[] = "orvsql";
constexpr char kUsage[] =
    "usage: orvsql [--db FILE] [--load TABLE SPEC TSV]... [--index TABLE NAME FIELDS]...\n"
    "              [--filter TABLE CONDITION] [--changes] [--keep-going] [-e SQL | SCRIPT]...\n"
    "  --changes     print \"changes: N\" (the rows changed) after each text without rows\n"
    "  --keep-going  report a failing text on stderr, run the rest, and end with 1\n";

struct LoadStep {
  std::string Table, Spec, File;
};
struct IndexStep {
  std::string Table, Name, Fields;
};

// What one invocation asks for, in the order given.
struct Options {
  std::string Database;  // empty: MEMORY
  std::vector<LoadStep> Loads;
  std::vector<IndexStep> Indexes;
  bool HasFilter = false;
  std::string FilterTable, Condition;
  std::vector<std::string> Texts;  // -e texts and script contents, in order
  bool Changes = false;
  bool KeepGoing = false;
};

std::string ReadFile(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open '" + Name + "'");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Options ParseOptions(const std::vector<std::string>& Args) {
  Options o;
  size_t i = 0;
  const auto take = [&](const std::string& option, size_t count) {
    if (i + count >= Args.size()) throw UsageError(option + " takes " + std::to_string(count) + " arguments");
    std::vector<std::string> values(Args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                    Args.begin() + static_cast<std::ptrdiff_t>(i + count) + 1);
    i += count + 1;
    return values;
  };
  while (i < Args.size()) {
    const std::string option = Args[i];
    if (option == "--db") {
      if (!o.Database.empty()) throw UsageError("--db given twice");
      o.Database = take(option, 1)[0];
    } else if (option == "--load") {
      const auto v = take(option, 3);
      o.Loads.push_back({v[0], v[1], v[2]});
    } else if (option == "--index") {
      const auto v = take(option, 3);
      o.Indexes.push_back({v[0], v[1], v[2]});
    } else if (option == "--filter") {
      if (o.HasFilter) throw UsageError("--filter given twice");
      const auto v = take(option, 2);
      o.HasFilter = true;
      o.FilterTable = v[0];
      o.Condition = v[1];
    } else if (option == "--changes") {
      o.Changes = true;
      ++i;
    } else if (option == "--keep-going") {
      o.KeepGoing = true;
      ++i;
    } else if (option == "-e") {
      if (i + 1 >= Args.size()) throw UsageError("-e needs an SQL text");
      o.Texts.push_back(Args[i + 1]);
      i += 2;
    } else if (option.size() > 1 && option[0] == '-') {
      throw UsageError("unknown option '" + option + "'");
    } else {
      o.Texts.push_back(ReadFile(option));
      ++i;
    }
  }
  if (!o.HasFilter && o.Texts.empty()) throw UsageError("nothing to do: no --filter, -e or script");
  return o;
}

std::unique_ptr<TORVTable> TableOf(const std::string& DatabaseName, const std::string& TableName) {
  auto table = std::make_unique<TORVTable>();
  table->SetName(TableName);
  table->SetDatabaseName(DatabaseName);
  table->SetTableName(TableName);
  return table;
}

// Opened as a result set: the first word is SELECT, or the text starts with "(".
bool ProducesRows(const std::string& Sql) {
  size_t i = 0;
  while (i < Sql.size() && std::isspace(static_cast<unsigned char>(Sql[i]))) ++i;
  if (i < Sql.size() && Sql[i] == '(') return true;
  std::string word;
  while (i < Sql.size() && std::isalpha(static_cast<unsigned char>(Sql[i])))
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(Sql[i++])));
  return word == "SELECT";
}

void RunQuery(const std::string& Database, const std::string& Sql, bool Changes, std::ostream& Out) {
  TORVQuery query;
  query.SetDatabaseName(Database);
  query.SetSQL(Sql);
  if (!ProducesRows(Sql)) {
    query.ExecSQL();
    if (Changes) Out << "changes: " << query.RowsAffected() << "\n";
    return;
  }
  query.Open();
  DumpRows(query, Out);
  Out << "\n";
  query.Close();
}

int Run(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  const Options o = ParseOptions(Args);
  // Every TSV file is opened before anything is created, so that a missing one changes nothing.
  std::vector<std::ifstream> inputs;
  for (const LoadStep& load : o.Loads) {
    inputs.emplace_back(load.File, std::ios::binary);
    if (!inputs.back()) throw std::runtime_error("cannot open '" + load.File + "'");
  }
  TRunningEngine engine;
  TORVScopedExpressionEngine expressions;
  std::unique_ptr<TORVDatabase> db;
  std::string database = "MEMORY";
  if (!o.Database.empty()) {
    database = kDatabaseName;
    db = std::make_unique<TORVDatabase>(nullptr);
    db->SetDatabaseName(kDatabaseName);
    db->SetDatabaseFileName(o.Database);
    db->SetMultiUser(true);
    db->SetSilentMode(true);
    if (!std::filesystem::exists(o.Database)) db->CreateDatabase();
    db->Open();
  }
  for (size_t i = 0; i < o.Loads.size(); ++i) {
    std::unique_ptr<TORVTable> table = TableOf(database, o.Loads[i].Table);
    AddColumns(table->AdvFieldDefs(), o.Loads[i].Spec);
    table->CreateTable();
    LoadRows(*table, inputs[i]);
    table->Close();
  }
  for (const IndexStep& index : o.Indexes) {
    std::unique_ptr<TORVTable> table = TableOf(database, index.Table);
    table->AddIndex(index.Name, index.Fields, {});
  }
  if (o.HasFilter) {
    std::unique_ptr<TORVTable> table = TableOf(database, o.FilterTable);
    table->Open();
    table->SetFilterText(o.Condition);
    table->SetFiltered(true);
    DumpRows(*table, Out);
    table->Close();
  }
  int result = 0;
  for (const std::string& text : o.Texts) {
    try {
      RunQuery(database, text, o.Changes, Out);
    } catch (const std::exception& e) {
      if (!o.KeepGoing) throw;
      Err << e.what() << "\n";
      result = 1;
    }
  }
  return result;
}

}  // namespace

int RunOrvSql(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  return RunReportingErrors("orvsql", kUsage, Err, [&] { return Run(Args, Out, Err); });
}

}  // namespace orv::tools
