#include "dbengine/access/tools/orv_tool.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/access/tools/orv_tsv.h"
#include "dbengine/storage/orv_converts.h"
#include "platform/base/cp1252.h"

namespace orv::tools {

namespace {

constexpr char kDatabaseName[] = "orvtool";
constexpr char kUsage[] =
    "usage: orvtool create DB\n"
    "       orvtool load DB TABLE SPEC [TSV]\n"
    "       orvtool dump DB TABLE [--index NAME]\n"
    "       orvtool count DB TABLE\n"
    "       orvtool copy DB TABLE NEWTABLE [DESTDB]\n"
    "       orvtool compact DB\n"
    "       orvtool repair DB\n"
    "       orvtool exportsql DB TABLE [--structure] [--data] [--names]\n";


std::unique_ptr<TORVDatabase> OpenDatabase(const std::string& FileName) {
  auto db = std::make_unique<TORVDatabase>(nullptr);
  db->SetDatabaseName(kDatabaseName);
  db->SetDatabaseFileName(FileName);
  db->SetMultiUser(true);
  db->SetSilentMode(true);
  db->Open();
  return db;
}

std::unique_ptr<TORVTable> TableOf(const std::string& TableName) {
  auto table = std::make_unique<TORVTable>();
  table->SetName(TableName);
  table->SetDatabaseName(kDatabaseName);
  table->SetTableName(TableName);
  return table;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

int Run(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out) {
  if (Args.empty()) throw UsageError("missing command");
  const std::string& command = Args[0];
  static const std::vector<std::string> kCommands = {"create",  "load",   "dump",     "count",
                                                     "copy",    "compact", "repair", "exportsql"};
  if (std::find(kCommands.begin(), kCommands.end(), command) == kCommands.end())
    throw UsageError("unknown command '" + command + "'");
  if (Args.size() < 2) throw UsageError("missing database");
  const std::string& file = Args[1];
  if (command == "create") {
    if (Args.size() != 2) throw UsageError("create takes the database only");
    TRunningEngine engine;
    TORVDatabase db(nullptr);
    db.SetDatabaseName(kDatabaseName);
    db.SetDatabaseFileName(file);
    db.SetSilentMode(true);
    db.CreateDatabase();
    return 0;
  }
  if (command == "compact" || command == "repair") {
    if (Args.size() != 2) throw UsageError(command + " takes the database only");
    TRunningEngine engine;
    TORVDatabase db(nullptr);
    db.SetDatabaseName(kDatabaseName);
    db.SetDatabaseFileName(file);
    db.SetSilentMode(true);
    if (command == "compact") {
      db.CompactDatabase();
    } else {
      // What the repair met on its way; empty when the copy went through without a problem.
      Out << db.RepairDatabase();
    }
    return 0;
  }
  if (Args.size() < 3) throw UsageError("missing table");
  const std::string& table_name = Args[2];
  if (command == "load") {
    if (Args.size() != 4 && Args.size() != 5) throw UsageError("load takes DB TABLE SPEC [TSV]");
    std::ifstream file_in;
    if (Args.size() == 5) {
      file_in.open(Args[4], std::ios::binary);
      if (!file_in) throw std::runtime_error("cannot open '" + Args[4] + "'");
    }
    TRunningEngine engine;
    std::unique_ptr<TORVTable> table = TableOf(table_name);
    AddColumns(table->AdvFieldDefs(), Args[3]);
    std::unique_ptr<TORVDatabase> db = OpenDatabase(file);
    table->CreateTable();
    const int64_t rows = LoadRows(*table, Args.size() == 5 ? file_in : In);
    table->Close();
    Out << rows << "\n";
    return 0;
  }
  if (command == "dump") {
    std::string index;
    if (Args.size() == 5 && Args[3] == "--index") {
      index = Args[4];
    } else if (Args.size() != 3) {
      throw UsageError("dump takes DB TABLE [--index NAME]");
    }
    TRunningEngine engine;
    std::unique_ptr<TORVDatabase> db = OpenDatabase(file);
    std::unique_ptr<TORVTable> table = TableOf(table_name);
    table->SetIndexName(index);
    table->Open();
    DumpRows(*table, Out);
    table->Close();
    return 0;
  }
  if (command == "count") {
    if (Args.size() != 3) throw UsageError("count takes DB TABLE");
    TRunningEngine engine;
    std::unique_ptr<TORVDatabase> db = OpenDatabase(file);
    std::unique_ptr<TORVTable> table = TableOf(table_name);
    table->Open();
    Out << table->RecordCount() << "\n";
    table->Close();
    return 0;
  }
  if (command == "copy") {
    if (Args.size() != 4 && Args.size() != 5) throw UsageError("copy takes DB TABLE NEWTABLE [DESTDB]");
    TRunningEngine engine;
    std::unique_ptr<TORVDatabase> db = OpenDatabase(file);
    std::unique_ptr<TORVTable> table = TableOf(table_name);
    std::string log;
    bool cont = true;
    table->CopyTable(Args[3], log, cont, Args.size() == 5 ? Args[4] : std::string(), {}, false, false, true, 0, 100);
    if (!log.empty()) throw std::runtime_error(log);
    return 0;
  }
  if (command == "exportsql") {
    TRunningEngine engine;
    std::unique_ptr<TORVDatabase> db = OpenDatabase(file);
    std::unique_ptr<TORVTable> table = TableOf(table_name);
    TORVExportToSqlOptions& options = table->ExportToSqlOptions();
    bool chosen = false;
    for (size_t i = 3; i < Args.size(); ++i) {
      if (!chosen) {
        options.Structure = false;
        options.Data = false;
        chosen = true;
      }
      if (Args[i] == "--structure") {
        options.Structure = true;
      } else if (Args[i] == "--data") {
        options.Data = true;
      } else if (Args[i] == "--names") {
        options.Data = true;
        options.FieldNamesInInserts = true;
      } else {
        throw UsageError("exportsql takes DB TABLE [--structure] [--data] [--names]");
      }
    }
    Out << table->ExportToSQL();
    return 0;
  }
  throw UsageError("unknown command '" + command + "'");
}

}  // namespace

void AddColumns(TORVAdvFieldDefs& Defs, const std::string& Spec) {
  size_t pos = 0;
  while (pos <= Spec.size()) {
    size_t end = Spec.find(',', pos);
    if (end == std::string::npos) end = Spec.size();
    const std::string item = Trim(Spec.substr(pos, end - pos));
    pos = end + 1;
    const size_t colon = item.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("column '" + item + "' has no type (name:TYPE)");
    const std::string name = Trim(item.substr(0, colon));
    std::string type = Trim(item.substr(colon + 1));
    int32_t size = 0;
    if (const size_t open = type.find('('); open != std::string::npos) {
      const size_t close = type.find(')', open);
      if (close == std::string::npos || close + 1 != type.size())
        throw std::invalid_argument("column '" + name + "': unclosed size in '" + type + "'");
      const std::string digits = type.substr(open + 1, close - open - 1);
      if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
        throw std::invalid_argument("column '" + name + "': invalid size '" + digits + "'");
      size = std::stoi(digits);
      type = Trim(type.substr(0, open));
    }
    TORVAdvancedFieldType aft = aftUnknown;
    if (!SQLNameToAdvancedFieldType(type, aft)) throw std::invalid_argument("column '" + name + "': unknown type '" + type + "'");
    Defs.Add(platform::Utf8ToCp1252(name), aft, size, false);
  }
}

int64_t LoadRows(TORVTable& Table, std::istream& In) {
  Table.Open();
  const int columns = Table.FieldCount();
  std::string line;
  int64_t rows = 0;
  while (std::getline(In, line)) {
    const std::vector<TsvField> fields = TsvSplit(line);
    if (static_cast<int>(fields.size()) != columns)
      throw std::invalid_argument("line " + std::to_string(rows + 1) + ": " + std::to_string(fields.size()) +
                                  " fields, the table has " + std::to_string(columns));
    Table.Append();
    try {
      for (int i = 0; i < columns; ++i) ParseTsvValue(*Table.Fields()[i], fields[static_cast<size_t>(i)]);
      Table.Post();
    } catch (const std::exception& e) {
      Table.Cancel();
      throw std::invalid_argument("line " + std::to_string(rows + 1) + ": " + e.what());
    }
    ++rows;
  }
  return rows;
}

void DumpRows(platform::data::TDataSet& DataSet, std::ostream& Out) {
  const int columns = DataSet.FieldCount();
  std::string line;
  for (DataSet.First(); !DataSet.Eof(); DataSet.Next()) {
    line.clear();
    for (int i = 0; i < columns; ++i) {
      if (i > 0) line += '\t';
      line += FormatTsvValue(*DataSet.Fields()[i]);
    }
    line += '\n';
    Out << line;
  }
}

int RunReportingErrors(const char* Program, const char* Usage, std::ostream& Err, const std::function<int()>& Body) {
  try {
    return Body();
  } catch (const UsageError& e) {
    Err << Program << ": " << e.what() << "\n" << Usage;
  } catch (const std::exception& e) {
    Err << e.what() << "\n";
  }
  return 1;
}

int RunOrvTool(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out, std::ostream& Err) {
  return RunReportingErrors("orvtool", kUsage, Err, [&] { return Run(Args, In, Out); });
}

}  // namespace orv::tools
