#pragma once
// The corpus of the filter differential against SQLite: random rows of one table (ID, A
// integer, B integer or NULL, F double or NULL, S text, T text or NULL), random WHERE
// conditions of the subset both define alike (see orv_expressions_filter_sqlite_test.cpp), and
// the same rows in an SQLite database that answers which IDs a condition selects. The filtered
// MEMORY table and the dataset Filter are both checked against it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace orv::testing {

using Ids = std::vector<int64_t>;

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;

// ID, A (integer), B (integer or NULL), F (double or NULL), S (text), T (text or NULL).
struct Row {
  int64_t a;
  std::optional<int64_t> b;
  std::optional<double> f;
  std::string s;
  std::optional<std::string> t;
};

// Random conditions of the common subset.
class Conditions {
 public:
  explicit Conditions(uint32_t seed) : rng_(seed) {}

  struct Part {
    std::string text;
    bool nullable;  // may be unknown for some row
  };

  Part Condition(int depth) {
    const int r = Pick(0, 99);
    if (depth > 0 && r < 35) {
      Part a = Condition(depth - 1), b = Condition(depth - 1);
      const std::string op = Pick(0, 1) ? Word("AND") : Word("OR");
      std::string text = a.text + " " + op + " " + b.text;
      if (Pick(0, 2)) text = "(" + text + ")";
      return {text, a.nullable || b.nullable};
    }
    if (depth > 0 && r < 45) {
      Part a = Condition(depth - 1);
      if (!a.nullable) return {Word("NOT") + " (" + a.text + ")", false};
      return a;
    }
    return Atom();
  }

 private:
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  template <class T>
  const T& OneOf(const std::vector<T>& v) {
    return v[static_cast<size_t>(Pick(0, static_cast<int>(v.size()) - 1))];
  }
  // Keywords in any letter case.
  std::string Word(std::string w) {
    if (Pick(0, 3) == 0)
      for (char& c : w)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return w;
  }
  std::string Text() {
    std::string s;
    const int n = Pick(1, 3);
    for (int i = 0; i < n; ++i) s += "ab01"[Pick(0, 3)];
    return s;
  }
  std::string Quoted() { return "'" + Text() + "'"; }
  std::string Pattern(bool may_match_empty) {
    for (;;) {
      std::string p;
      const int n = Pick(1, 4);
      for (int i = 0; i < n; ++i) p += "ab01%_"[Pick(0, 5)];
      if (may_match_empty || p.find_first_not_of('%') != std::string::npos) return "'" + p + "'";
    }
  }
  std::string Number() {
    if (Pick(0, 3) == 0) return std::to_string(Pick(0, 40)) + ".5";
    return std::to_string(Pick(0, 25));
  }

  Part Operand() {
    switch (Pick(0, 6)) {
      case 0: return {"A", false};
      case 1: return {"B", true};
      case 2: return {"F", true};
      case 3: return {"ID", false};
      case 4: {
        // Never two minus signs in a row: that starts a comment.
        Part q = Operand();
        return {"-" + (q.text[0] == '-' ? "(" + q.text + ")" : q.text), q.nullable};
      }
      default: return {Number(), false};
    }
  }
  Part NumberExpression() {
    Part p = Operand();
    const int ops = Pick(0, 2);
    for (int i = 0; i < ops; ++i) {
      Part q = Operand();
      if (q.text[0] == '-') q.text = "(" + q.text + ")";
      p.text += std::string(" ") + "+-*"[Pick(0, 2)] + " " + q.text;
      p.nullable = p.nullable || q.nullable;
      if (Pick(0, 3) == 0) p.text = "(" + p.text + ")";
    }
    // An operand that is itself nullable through B or F.
    if (p.text.find('B') != std::string::npos || p.text.find('F') != std::string::npos) p.nullable = true;
    return p;
  }
  std::string CompOp() { return OneOf(std::vector<std::string>{"=", "<>", "<", ">", "<=", ">="}); }

  Part Atom() {
    switch (Pick(0, 11)) {
      case 0:
      case 1: {
        Part a = NumberExpression(), b = NumberExpression();
        return {a.text + " " + CompOp() + " " + b.text, a.nullable || b.nullable};
      }
      case 2: return {"S " + CompOp() + " " + Quoted(), false};
      case 3: return {Pick(0, 1) ? "T " + CompOp() + " S" : "S " + CompOp() + " T", true};
      case 4: return {"S " + Word(Pick(0, 2) ? "LIKE" : "NOT LIKE") + " " + Pattern(true), false};
      case 5: return {"T " + Word("LIKE") + " " + Pattern(false), true};
      case 6: {
        const bool text = Pick(0, 1);
        const int column = Pick(0, 1);
        std::string list;
        const int n = Pick(1, 4);
        for (int i = 0; i < n; ++i) list += (i ? ", " : "") + (text ? Quoted() : std::to_string(Pick(-20, 20)));
        const std::string field = text ? (column ? "T" : "S") : (column ? "B" : "A");
        const bool nullable = column == 1;
        const std::string op = !nullable && Pick(0, 2) == 0 ? Word("NOT IN") : Word("IN");
        return {field + " " + op + " (" + list + ")", nullable};
      }
      case 7: {
        const int column = Pick(0, 3);
        const std::string field = std::vector<std::string>{"A", "B", "F", "S"}[static_cast<size_t>(column)];
        const bool nullable = column == 1 || column == 2;
        const std::string op = !nullable && Pick(0, 2) == 0 ? Word("NOT BETWEEN") : Word("BETWEEN");
        std::string low, high;
        if (column == 3) {
          low = Quoted();
          high = Quoted();
        } else {
          low = std::to_string(Pick(-20, 10));
          high = std::to_string(Pick(-10, 20));
        }
        return {field + " " + op + " " + low + " " + Word("AND") + " " + high, nullable};
      }
      case 8:
      case 9: {
        const std::string field = std::vector<std::string>{"B", "F", "T"}[static_cast<size_t>(Pick(0, 2))];
        return {field + " " + Word(Pick(0, 1) ? "IS NULL" : "IS NOT NULL"), false};
      }
      default: {
        Part a = NumberExpression();
        return {a.text + " " + CompOp() + " " + Number(), a.nullable};
      }
    }
  }

  std::mt19937 rng_;
};

inline std::vector<Row> MakeRows(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto text = [&] {
    std::string s;
    const int n = pick(1, 3);
    for (int i = 0; i < n; ++i) s += "ab01"[pick(0, 3)];
    return s;
  };
  std::vector<Row> rows;
  for (int i = 0; i < count; ++i) {
    Row r;
    r.a = pick(-20, 20);
    if (pick(0, 4)) r.b = pick(-20, 20);
    if (pick(0, 4)) r.f = pick(-20, 20) * 0.5;
    r.s = text();
    if (pick(0, 4)) r.t = text();
    rows.push_back(r);
  }
  return rows;
}

// The rows (ID 1, 2, ... in their order) in an in-memory SQLite database with
// case-sensitive LIKE.
class SqliteRows {
 public:
  explicit SqliteRows(const std::vector<Row>& rows) {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
    db_.reset(raw);
    Exec("PRAGMA case_sensitive_like = ON");
    Exec("CREATE TABLE t (ID INTEGER, A INTEGER, B INTEGER, F REAL, S TEXT, T TEXT)");
    Exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db_.get(), "INSERT INTO t VALUES (?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
    for (size_t i = 0; i < rows.size(); ++i) {
      const Row& r = rows[i];
      sqlite3_bind_int64(insert, 1, static_cast<int64_t>(i) + 1);
      sqlite3_bind_int64(insert, 2, r.a);
      r.b ? sqlite3_bind_int64(insert, 3, *r.b) : sqlite3_bind_null(insert, 3);
      r.f ? sqlite3_bind_double(insert, 4, *r.f) : sqlite3_bind_null(insert, 4);
      sqlite3_bind_text(insert, 5, r.s.c_str(), -1, SQLITE_TRANSIENT);
      r.t ? sqlite3_bind_text(insert, 6, r.t->c_str(), -1, SQLITE_TRANSIENT) : sqlite3_bind_null(insert, 6);
      EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }

  Ids Select(const std::string& where) {
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = "SELECT ID FROM t WHERE " + where + " ORDER BY ID";
    EXPECT_EQ(sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db_.get());
    Ids ids;
    while (sqlite3_step(stmt) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(stmt, 0));
    sqlite3_finalize(stmt);
    return ids;
  }

 private:
  void Exec(const char* sql) { EXPECT_EQ(sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr), SQLITE_OK); }

  SqliteDb db_;
};

}  // namespace orv::testing
