#pragma once
// What the dataset and table tests share: a running engine (EngineTest) and table components
// made from a short column list, on the MEMORY database or a database component of a file.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_table.h"
#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/storage/orv_except.h"
#include "platform/data/field.h"

namespace orv::testing {

struct ColumnSpec {
  std::string name;
  platform::data::TFieldType type;
  int size = 0;
  bool required = false;
};

struct TableIndexSpec {
  std::string name;
  std::string fields;
  platform::data::TIndexOptions options;
};

// A table component on DatabaseName (closed), its stored table made from the columns and
// indexes (replacing one of that name).
inline std::unique_ptr<TORVTable> MakeTable(const std::string& DatabaseName, const std::string& TableName,
                                            const std::vector<ColumnSpec>& Columns,
                                            const std::vector<TableIndexSpec>& Indexes = {}) {
  auto table = std::make_unique<TORVTable>();
  table->SetName(TableName + "Table");
  table->SetDatabaseName(DatabaseName);
  table->SetTableName(TableName);
  for (const ColumnSpec& c : Columns) table->FieldDefs().Add(c.name, c.type, c.size, c.required);
  for (const TableIndexSpec& i : Indexes) table->IndexDefs().Add(i.name, i.fields, i.options);
  table->CreateTable();
  return table;
}

// A table component over an existing table, open.
inline std::unique_ptr<TORVTable> OpenTable(const std::string& DatabaseName, const std::string& TableName,
                                            const std::string& IndexName = {}) {
  auto table = std::make_unique<TORVTable>();
  table->SetName(TableName + "Reader");
  table->SetDatabaseName(DatabaseName);
  table->SetTableName(TableName);
  if (!IndexName.empty()) table->SetIndexName(IndexName);
  table->Open();
  return table;
}

}  // namespace orv::testing
