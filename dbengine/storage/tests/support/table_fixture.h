#pragma once
// Small builders for table definitions and a fixture of one database with one session and an
// open cursor over a table "T".
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/orv_mem_engine.h"
#include "dbengine/storage/orv_temp_engine.h"
#include "dbengine/storage/tests/support/test_cursor.h"
#include "dbengine/storage/tests/support/vector_record_store.h"

namespace orv::testing {

inline TORVFieldDef* AddField(TORVFieldDefs& Defs, const std::string& Name, TORVAdvancedFieldType Type,
                              int32_t Size = 0) {
  TORVFieldDef* f = Defs.AddCreated();
  f->Name = Name;
  f->SetFieldDefDataType(Type, Size);
  return f;
}

// An ascending, case-sensitive index over the fields.
inline TORVIndexDef* AddIndexDef(TORVIndexDefs& Defs, const std::string& Name, const std::vector<std::string>& Fields,
                                 bool Unique = false, bool Primary = false) {
  TORVIndexDef* d = Defs.AddCreated();
  d->Name = Name;
  d->Unique = Unique;
  d->Primary = Primary;
  d->AssignByNames(Fields, std::vector<std::string>(Fields.size(), "ASC"),
                   std::vector<std::string>(Fields.size(), "CASE"));
  return d;
}

// One database of the storage kind Database with one session and an open cursor over a table
// "T". The vector kind logs the calls a record change makes into the fixture's log.
template <class Database>
struct BasicTableFixture {
  BasicTableFixture() {
    if constexpr (std::is_base_of_v<VectorDatabaseData, Database>) db.log = &log;
  }

  // Creates table T from the definitions and opens the fixture's cursor on it.
  TestCursor& Create(const TORVFieldDefs& Fields, const TORVIndexDefs& Indexes = TORVIndexDefs(),
                     const TORVConstraintDefs& Constraints = TORVConstraintDefs()) {
    {
      TestCursor creator(session, "T");
      creator.CreateTable(Fields, Indexes, Constraints);
    }
    cursor = Open(session);
    return *cursor;
  }
  std::unique_ptr<TestCursor> Open(TestSession& Session, const std::string& Table = "T") {
    auto c = std::make_unique<TestCursor>(Session, Table);
    c->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    c->log = &log;
    return c;
  }
  auto& Table() const {
    if constexpr (std::is_base_of_v<VectorDatabaseData, Database>)
      return static_cast<VectorTableData&>(*cursor->TableData());
    else if constexpr (std::is_base_of_v<TORVMemoryDatabaseData, Database>)
      return static_cast<TORVMemoryTableData&>(*cursor->TableData());
    else if constexpr (std::is_base_of_v<TORVTemporaryDatabaseData, Database>)
      return static_cast<TORVTemporaryTableData&>(*cursor->TableData());
    else
      return *cursor->TableData();
  }

  CallLog log;
  Database db;
  TestSession session{db};
  std::unique_ptr<TestCursor> cursor;
};

using TableFixture = BasicTableFixture<VectorDatabaseData>;
using MemoryTableFixture = BasicTableFixture<TORVMemoryDatabaseData>;

}  // namespace orv::testing
