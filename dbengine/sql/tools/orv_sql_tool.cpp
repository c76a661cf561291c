#include "dbengine/sql/tools/orv_sql_tool.h"

#include <cctype>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/tools/orv_tool.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_query.h"

namespace orv::tools {

namespace {

constexpr char kDatabaseName[] = "orvsql";
constexpr char kUsage[] = "usage: orvsql DB [-e SQL | SCRIPT]...\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

std::string ReadFile(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open '" + Name + "'");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void RunOne(const std::string& Database, const std::string& Sql, std::ostream& Out) {
  TORVQuery query;
  query.SetDatabaseName(Database);
  query.SetSQL(Sql);
  if (!ProducesRows(Sql)) {
    query.ExecSQL();
    return;
  }
  query.Open();
  DumpRows(query, Out);
  Out << "\n";
  query.Close();
}

int Run(const std::vector<std::string>& Args, std::ostream& Out) {
  if (Args.empty()) throw UsageError("missing database");
  std::vector<std::string> texts;
  for (size_t i = 1; i < Args.size(); ++i) {
    if (Args[i] == "-e") {
      if (++i == Args.size()) throw UsageError("-e needs an SQL text");
      texts.push_back(Args[i]);
    } else {
      texts.push_back(ReadFile(Args[i]));
    }
  }
  if (texts.empty()) throw UsageError("nothing to run");
  TRunningEngine engine;
  TORVScopedExpressionEngine expressions;
  std::unique_ptr<TORVDatabase> db;
  std::string name = "MEMORY";
  if (Args[0] != "MEMORY") {
    db = std::make_unique<TORVDatabase>(nullptr);
    db->SetDatabaseName(kDatabaseName);
    db->SetDatabaseFileName(Args[0]);
    db->SetMultiUser(true);
    db->SetSilentMode(true);
    db->Open();
    name = kDatabaseName;
  }
  for (const std::string& text : texts) RunOne(name, text, Out);
  return 0;
}

}  // namespace

int RunOrvSql(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  try {
    return Run(Args, Out);
  } catch (const UsageError& e) {
    Err << "orvsql: " << e.what() << "\n" << kUsage;
  } catch (const std::exception& e) {
    Err << e.what() << "\n";
  }
  return 1;
}

}  // namespace orv::tools
