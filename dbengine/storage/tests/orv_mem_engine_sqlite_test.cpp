// A memory table against SQLite in memory: the same seeded inserts, updates and deletes go to
// both, and at checkpoints random views (an order, a filter, a range of the two-column index,
// DISTINCT) must give the same rows in the same order, the same counts and record numbers, and
// Locate and FindKey the same record. One seed runs with the planner's own choices, another
// with every index range preferred, so that every kind of scan is walked.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/tests/sqlite_oracle.h"
#include "dbengine/storage/tests/support/expression_double.h"
#include "dbengine/storage/tests/support/planned_memory_table.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::BasicTableFixture;
using testing::PlannedMemoryDatabase;
using testing::PlannedMemoryTable;
using testing::TestCursor;

constexpr int64_t kNullS = -1000000;  // where the index puts a NULL: before every value
const char* const kS = "COALESCE(s, -1000000)";

struct Row {
  int64_t id, k;
  std::optional<int64_t> s;
  int64_t rid;
  int64_t SKey() const { return s ? *s : kNullS; }
};

struct View {
  int order = 0;  // physical, by ID, by (K, S)
  std::string filter, where;
  int start_fields = 0, end_fields = 0;  // a range of (K, S): 0 leaves that end open
  int64_t start_k = 0, start_s = 0, end_k = 0, end_s = 0;
  bool start_exclusive = false, end_exclusive = false;
  bool distinct = false;

  std::string Describe() const {
    std::ostringstream o;
    o << (order == 0 ? "physical" : order == 1 ? "by ID" : "by (K,S)");
    if (!filter.empty()) o << ", filter " << filter;
    if (start_fields) o << ", from " << (start_exclusive ? "(" : "[") << start_k << (start_fields == 2 ? "," + std::to_string(start_s) : "");
    if (end_fields) o << ", to " << end_k << (end_fields == 2 ? "," + std::to_string(end_s) : "") << (end_exclusive ? ")" : "]");
    if (distinct) o << ", DISTINCT K";
    return o.str();
  }
  std::string Order() const {
    if (order == 0) return "rid";
    if (order == 1) return "id";
    return std::string("k, ") + kS + ", rid";
  }
  std::string Where() const {
    std::vector<std::string> parts;
    if (!where.empty()) parts.push_back("(" + where + ")");
    const auto bound = [&](int fields, int64_t k, int64_t s, const char* op) {
      if (fields == 1) return "k " + std::string(op) + " " + std::to_string(k);
      return "(k, " + std::string(kS) + ") " + op + " (" + std::to_string(k) + ", " + std::to_string(s) + ")";
    };
    if (start_fields) parts.push_back(bound(start_fields, start_k, start_s, start_exclusive ? ">" : ">="));
    if (end_fields) parts.push_back(bound(end_fields, end_k, end_s, end_exclusive ? "<" : "<="));
    std::string w;
    for (const auto& p : parts) w += (w.empty() ? " WHERE " : " AND ") + p;
    return w;
  }
};

class Differential {
 public:
  Differential(uint32_t seed, bool prefer_index_scans, std::ostream& report) : rng_(seed), report_(report) {
    TORVFieldDefs f;
    AddField(f, "ID", aftInteger);
    AddField(f, "K", aftInteger);
    AddField(f, "S", aftInteger);
    AddField(f, "NAME", aftString, 20);
    TORVIndexDefs i;
    AddIndexDef(i, "PK", {"ID"}, false, true);
    AddIndexDef(i, "IX_KS", {"K", "S"});
    writer_ = &fx_.Create(f, i);
    reader_ = fx_.Open(fx_.session);
    if (prefer_index_scans) static_cast<PlannedMemoryTable&>(*writer_->TableData()).ForceIndexScans();
    sqlite_.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, k INTEGER NOT NULL, s INTEGER, rid INTEGER NOT NULL)");
    report_ << "seed " << seed << (prefer_index_scans ? ", index ranges preferred" : ", planner's choice") << '\n';
  }

  void Run(int operations) {
    for (int op = 1; op <= operations; ++op) {
      const int64_t rows = Count();
      const uint32_t r = rng_() % 10;
      if (rows < 20 || r < 5)
        Insert();
      else if (r < 8)
        Update();
      else
        Delete();
      if (::testing::Test::HasFatalFailure()) return;
      if (op % 60 == 0)
        for (int v = 0; v < 5 && !::testing::Test::HasFailure(); ++v) Check(RandomView());
    }
  }

 private:
  int64_t Pick(int64_t lo, int64_t hi) { return lo + static_cast<int64_t>(rng_() % static_cast<uint32_t>(hi - lo + 1)); }
  std::optional<int64_t> MaybeNullS() { return rng_() % 8 == 0 ? std::nullopt : std::optional<int64_t>(Pick(0, 9)); }
  int64_t Count() { return *sqlite_.Rows("SELECT COUNT(*) FROM t")[0][0]; }
  int64_t UnusedId() {
    for (;;) {
      const int64_t id = Pick(0, 999);
      if (sqlite_.Rows("SELECT 1 FROM t WHERE id = " + std::to_string(id)).empty()) return id;
    }
  }
  std::vector<Row> Rows(const std::string& sql) {
    std::vector<Row> out;
    for (const auto& r : sqlite_.Rows(sql)) out.push_back({*r[0], *r[1], r[2], *r[3]});
    return out;
  }
  Row RandomRow() {
    const auto all = Rows("SELECT id, k, s, rid FROM t ORDER BY rid");
    return all[rng_() % all.size()];
  }
  void StandOn(TestCursor& c, int64_t rid) {
    c.FirstPosition = c.LastPosition = false;
    c.CurrentRecordID = {static_cast<int32_t>(rid), 0};
    ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  }

  void Insert() {
    const int64_t id = UnusedId();
    const int64_t k = Pick(0, 14);
    const std::optional<int64_t> s = MaybeNullS();
    writer_->BeginInsert();
    writer_->Set("ID", id);
    writer_->Set("K", k);
    writer_->Set("S", s);
    writer_->SetText("NAME", "n" + std::to_string(id));
    writer_->InternalPost(true);
    ASSERT_EQ(writer_->FErrorCode, 0) << writer_->FErrorMessage;
    ASSERT_TRUE(sqlite_.Run("INSERT INTO t VALUES (?, ?, ?, ?)", {id, k, s, writer_->CurrentRecordID.PageNo}));
  }
  void Update() {
    const Row row = RandomRow();
    StandOn(*writer_, row.rid);
    const int64_t id = rng_() % 4 == 0 ? UnusedId() : row.id;
    const int64_t k = rng_() % 2 ? Pick(0, 14) : row.k;
    const std::optional<int64_t> s = rng_() % 2 ? MaybeNullS() : row.s;
    writer_->BeginEdit();
    writer_->Set("ID", id);
    writer_->Set("K", k);
    writer_->Set("S", s);
    writer_->InternalPost(false);
    ASSERT_EQ(writer_->FErrorCode, 0) << writer_->FErrorMessage;
    ASSERT_TRUE(sqlite_.Run("UPDATE t SET id = ?, k = ?, s = ? WHERE rid = ?", {id, k, s, row.rid}));
  }
  void Delete() {
    const Row row = RandomRow();
    StandOn(*writer_, row.rid);
    writer_->InternalDelete();
    ASSERT_EQ(writer_->FErrorCode, 0);
    ASSERT_TRUE(sqlite_.Run("DELETE FROM t WHERE rid = ?", {row.rid}));
  }

  View RandomView() {
    View v;
    v.order = static_cast<int>(rng_() % 3);
    const int64_t a = Pick(0, 14), b = Pick(0, 14), c = Pick(0, 9), id = Pick(0, 999);
    switch (rng_() % 9) {
      case 0: break;
      case 1: v.filter = v.where = "K >= " + std::to_string(std::min(a, b)) + " AND K < " + std::to_string(std::max(a, b) + 1); break;
      case 2: v.filter = v.where = "K = " + std::to_string(a); break;
      case 3: v.filter = v.where = "S > " + std::to_string(c) + " OR K = " + std::to_string(a); break;
      case 4: v.filter = v.where = "ID <= " + std::to_string(id) + " AND K > " + std::to_string(a); break;
      case 5: v.filter = v.where = "S IS NULL"; break;
      case 6: v.filter = v.where = "K = " + std::to_string(a) + " AND S = " + std::to_string(c); break;
      case 7: v.filter = v.where = "K >= " + std::to_string(a) + " AND K <= " + std::to_string(a + 4) + " AND S >= " + std::to_string(c); break;
      default: v.filter = v.where = "ID > " + std::to_string(id); break;
    }
    if (v.order == 2 && rng_() % 2) {
      v.start_fields = static_cast<int>(rng_() % 3);
      v.end_fields = v.start_fields == 0 ? 1 + static_cast<int>(rng_() % 2) : static_cast<int>(rng_() % 3);
      v.start_k = Pick(0, 10);
      v.end_k = v.start_k + Pick(0, 5);
      v.start_s = Pick(0, 9);
      v.end_s = Pick(0, 9);
      v.start_exclusive = rng_() % 2;
      v.end_exclusive = rng_() % 2;
    }
    if (rng_() % 4 == 0) {
      v.distinct = true;
      v.order = 2;
    }
    return v;
  }

  // What the view shows, in its order; with DISTINCT the first row of each K.
  std::vector<Row> Expected(const View& v) {
    const std::string rows = "SELECT id, k, s, rid FROM t" + v.Where();
    if (!v.distinct) return Rows(rows + " ORDER BY " + v.Order());
    return Rows("SELECT id, k, s, rid FROM (SELECT id, k, s, rid, ROW_NUMBER() OVER (PARTITION BY k ORDER BY " +
                std::string(kS) + ", rid) AS n FROM t" + v.Where() + ") WHERE n = 1 ORDER BY k");
  }

  void* KeyBuffer(int64_t k, int64_t s, int fields) {
    void* key = reader_->AllocateKeyRecordBuffer();
    reader_->InternalInitKeyBuffer(key);
    TORVVariant value;
    value.SetDataAsSignedInt64(k);
    reader_->SetFieldValue(value, 1, true, key);
    if (fields == 2) {
      value.SetDataAsSignedInt64(s);
      reader_->SetFieldValue(value, 2, true, key);
    }
    keys_.push_back(key);
    return key;
  }

  void Apply(const View& v) {
    TestCursor& c = *reader_;
    c.DeactivateFilters();
    c.ResetRange();
    c.FDistinctFieldCount = 0;
    for (void* key : keys_) c.FreeRecordBuffer(key);
    keys_.clear();
    c.SetIndexName(v.order == 0 ? "" : v.order == 1 ? "PK" : "IX_KS");
    if (v.distinct) c.ApplyDistinct({"K"}, {"ASC"}, {"CASE"});
    if (!v.filter.empty()) c.ActivateFilters(v.filter, false, false);
    if (v.start_fields || v.end_fields)
      c.ApplyRange(v.start_fields ? KeyBuffer(v.start_k, v.start_s, v.start_fields) : nullptr,
                   v.end_fields ? KeyBuffer(v.end_k, v.end_s, v.end_fields) : nullptr, v.start_fields, v.end_fields,
                   v.start_exclusive, v.end_exclusive);
    c.DisableRecordBitmap();
  }

  std::vector<int64_t> Walk(bool forward, bool keys) {
    TestCursor& c = *reader_;
    std::vector<int64_t> out;
    if (forward)
      c.InternalFirst();
    else
      c.InternalLast();
    while (c.GetRecordBuffer(forward ? grmNext : grmPrior) == grrOK) out.push_back(*c.GetInt(keys ? "K" : "ID"));
    return out;
  }

  static std::vector<int64_t> Ids(const std::vector<Row>& rows, bool keys = false) {
    std::vector<int64_t> out;
    for (const Row& r : rows) out.push_back(keys ? r.k : r.id);
    return out;
  }

  void Check(const View& v) {
    SCOPED_TRACE(v.Describe());
    TestCursor& c = *reader_;
    Apply(v);
    const std::vector<Row> expected = Expected(v);
    std::vector<int64_t> forward = Ids(expected), backward = forward;
    std::reverse(backward.begin(), backward.end());
    report_ << "  " << v.Describe() << ": " << expected.size() << " rows\n";
    // Searched step by step ...
    ASSERT_EQ(Walk(true, false), forward);
    if (v.distinct) {
      // ... where a DISTINCT step back lands on the last row of the previous key.
      std::vector<int64_t> keys = Ids(expected, true);
      std::reverse(keys.begin(), keys.end());
      ASSERT_EQ(Walk(false, true), keys);
    } else {
      ASSERT_EQ(Walk(false, false), backward);
    }
    // ... and from the bitmap the count builds.
    ASSERT_EQ(c.GetRecordCount(), static_cast<int64_t>(expected.size()));
    ASSERT_EQ(Walk(true, false), forward);
    ASSERT_EQ(Walk(false, false), backward);
    const int64_t n = static_cast<int64_t>(expected.size());
    for (int i = 0; i < 3 && n > 0; ++i) {
      const int64_t recno = Pick(1, n);
      c.SetRecNo(recno);
      ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
      ASSERT_EQ(c.GetInt("ID"), forward[static_cast<size_t>(recno - 1)]) << "record number " << recno;
      ASSERT_EQ(c.GetRecNo(), recno);
    }
    // Locate: the first row of the view that also meets the expression.
    const int64_t k = Pick(0, 14), id = Pick(0, 999);
    const bool by_k = rng_() % 2;
    const std::string text = by_k ? "K = " + std::to_string(k) : "ID >= " + std::to_string(id);
    auto search = testing::FieldOpConstantFactory().ParseForFilter(c, text, false, false);
    c.InternalFirst();
    const auto found = std::find_if(expected.begin(), expected.end(),
                                    [&](const Row& r) { return by_k ? r.k == k : r.id >= id; });
    ASSERT_EQ(c.TableData()->Locate(&c, search.get()), found != expected.end()) << "Locate " << text;
    if (found != expected.end()) {
      ASSERT_EQ(c.GetInt("ID"), found->id) << "Locate " << text;
    }
    if (v.order != 0) CheckFindKey(v, expected);
  }

  // FindKey: the first row of the view whose key meets the condition.
  void CheckFindKey(const View& v, const std::vector<Row>& expected) {
    TestCursor& c = *reader_;
    const TORVSearchCondition conditions[] = {scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual};
    const TORVSearchCondition cond = conditions[rng_() % 5];
    const int fields = v.order == 1 ? 1 : 1 + static_cast<int>(rng_() % 2);
    const int64_t first = v.order == 1 ? Pick(0, 999) : Pick(0, 14);
    const int64_t second = Pick(0, 9);
    void* key = v.order == 1 ? reader_->AllocateKeyRecordBuffer() : KeyBuffer(first, second, fields);
    if (v.order == 1) {
      reader_->InternalInitKeyBuffer(key);
      TORVVariant value;
      value.SetDataAsSignedInt64(first);
      reader_->SetFieldValue(value, 0, true, key);
      keys_.push_back(key);
    }
    c.FKeyBuffer = key;
    c.FKeyFieldCount = fields;
    const auto meets = [&](const Row& r) {
      int cmp = 0;
      if (v.order == 1) {
        cmp = r.id < first ? -1 : r.id > first;
      } else {
        cmp = r.k < first ? -1 : r.k > first;
        if (cmp == 0 && fields == 2) cmp = r.SKey() < second ? -1 : r.SKey() > second;
      }
      switch (cond) {
        case scEqual: return cmp == 0;
        case scLower: return cmp < 0;
        case scGreater: return cmp > 0;
        case scLowerEqual: return cmp <= 0;
        default: return cmp >= 0;
      }
    };
    const auto found = std::find_if(expected.begin(), expected.end(), meets);
    c.InternalFirst();
    ASSERT_EQ(c.FindKey(cond), found != expected.end()) << "FindKey " << static_cast<int>(cond) << " " << first;
    if (found == expected.end()) return;
    ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
    ASSERT_EQ(c.GetInt("ID"), found->id) << "FindKey " << static_cast<int>(cond) << " " << first;
    c.FKeyBuffer = nullptr;
  }

 public:
  ~Differential() {
    reader_->FKeyBuffer = nullptr;
    reader_->ResetRange();
    for (void* key : keys_) reader_->FreeRecordBuffer(key);
  }

 private:
  std::mt19937 rng_;
  std::ostream& report_;
  testing::ScopedExpressionFactory expressions_;
  BasicTableFixture<PlannedMemoryDatabase> fx_;
  TestCursor* writer_ = nullptr;
  std::unique_ptr<TestCursor> reader_;
  std::vector<void*> keys_;
  Sqlite sqlite_;
};

TEST(MemoryTableAgainstSqlite, RowsOrderCountsAndRecordNumbersAgree) {
  std::filesystem::create_directories(QUIRVEL_TEST_OUTPUT);
  std::ofstream report(std::string(QUIRVEL_TEST_OUTPUT) + "/memory_table_vs_sqlite.txt");
  for (const auto& [seed, prefer_index_scans] : {std::pair{11u, false}, std::pair{12u, true}}) {
    SCOPED_TRACE("seed " + std::to_string(seed) + (prefer_index_scans ? ", index ranges preferred" : ""));
    Differential run(seed, prefer_index_scans, report);
    run.Run(240);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace orv
