#pragma once
// SQLite in memory as the oracle of the storage tests: statements with integer parameters and
// the rows a query gives, NULL as nullopt.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv {

class Sqlite {
 public:
  Sqlite() { sqlite3_open(":memory:", &db_); }
  ~Sqlite() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  }
  // Runs one statement with its parameters (nullopt: NULL); True when SQLite accepted it.
  bool Run(const std::string& sql, const std::vector<std::optional<int64_t>>& params) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    for (size_t i = 0; i < params.size(); ++i) {
      if (params[i])
        sqlite3_bind_int64(st, static_cast<int>(i + 1), *params[i]);
      else
        sqlite3_bind_null(st, static_cast<int>(i + 1));
    }
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    EXPECT_TRUE(rc == SQLITE_DONE || rc == SQLITE_CONSTRAINT) << sqlite3_errmsg(db_);
    return rc == SQLITE_DONE;
  }
  std::vector<std::vector<std::optional<int64_t>>> Rows(const std::string& sql) {
    std::vector<std::vector<std::optional<int64_t>>> out;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db_);
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<std::optional<int64_t>> row;
      for (int i = 0; i < sqlite3_column_count(st); ++i)
        row.push_back(sqlite3_column_type(st, i) == SQLITE_NULL ? std::nullopt
                                                                : std::optional<int64_t>(sqlite3_column_int64(st, i)));
      out.push_back(row);
    }
    sqlite3_finalize(st);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace orv
