// The record search: merging conditions of one index against brute force, the plan's rules,
// and the scans that walk an index for a cursor in another order.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/tests/expect_code.h"
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

// A, B, C Int32; IX_AB over (A, B), IX_C unique over C.
struct SearchFixture : BasicTableFixture<PlannedMemoryDatabase> {
  SearchFixture() {
    TORVFieldDefs f;
    AddField(f, "A", aftInteger);
    AddField(f, "B", aftInteger);
    AddField(f, "C", aftInteger);
    TORVIndexDefs i;
    AddIndexDef(i, "IX_AB", {"A", "B"});
    AddIndexDef(i, "IX_C", {"C"}, true);
    Create(f, i);
  }
  PlannedMemoryTable& T() const { return static_cast<PlannedMemoryTable&>(*cursor->TableData()); }
  TestCursor& c() const { return *cursor; }
  int32_t Index(const char* name) const { return T().FIndexManager->FIndexDefs.GetIndexDefByName(name)->ObjectID; }
  void Insert(int64_t a, int64_t b, int64_t c) {
    ASSERT_EQ(cursor->InsertRow({{"A", a}, {"B", b}, {"C", c}}), 0) << cursor->FErrorMessage;
  }
  int32_t Offset(int32_t field) const { return T().FFieldManager->FFieldDefs.GetDef(field)->MemoryOffset; }
};

// One condition of IX_AB as the test sees it: over A alone (fields 1) or over A and B.
struct Key {
  TORVSearchCondition op;
  int fields;
  int a;
  int b;
};

const char* OpName(TORVSearchCondition op) {
  switch (op) {
    case scEqual: return "=";
    case scLower: return "<";
    case scGreater: return ">";
    case scLowerEqual: return "<=";
    case scGreaterEqual: return ">=";
    default: return "none";
  }
}

std::string Describe(const Key& k) {
  return k.fields == 1 ? std::string("A ") + OpName(k.op) + " " + std::to_string(k.a)
                       : std::string("(A,B) ") + OpName(k.op) + " (" + std::to_string(k.a) + "," +
                             std::to_string(k.b) + ")";
}

// The order of the index: A, then B, over the first Fields fields.
int CompareTuples(int a1, int b1, int a2, int b2, int fields) {
  if (a1 != a2) return a1 < a2 ? -1 : 1;
  if (fields < 2 || b1 == b2) return 0;
  return b1 < b2 ? -1 : 1;
}

bool Accepts(const Key& k, int a, int b) {
  const int c = CompareTuples(a, b, k.a, k.b, k.fields);
  switch (k.op) {
    case scEqual: return c == 0;
    case scLower: return c < 0;
    case scGreater: return c > 0;
    case scLowerEqual: return c <= 0;
    case scGreaterEqual: return c >= 0;
    default: return false;
  }
}

using Points = std::vector<std::pair<int, int>>;

Points AcceptedByAll(const std::vector<Key>& keys) {
  Points out;
  for (int a = -1; a <= 3; ++a)
    for (int b = -1; b <= 3; ++b)
      if (std::all_of(keys.begin(), keys.end(), [&](const Key& k) { return Accepts(k, a, b); })) out.push_back({a, b});
  return out;
}

std::unique_ptr<TORVScanSearchCondition> MakeCondition(const SearchFixture& fx, int32_t index, const Key& k) {
  auto c = std::make_unique<TORVScanSearchCondition>(false);
  const int32_t size = fx.T().GetMemoryRecordBufferSize();
  c->Condition = k.op;
  c->KeyRecordBuffer = MemoryManager().AllocMem(size);
  c->KeyRecordBufferSize = size;
  c->KeyFieldCount = k.fields;
  c->IndexID = index;
  auto* p = static_cast<uint8_t*>(c->KeyRecordBuffer);
  std::memset(p, 0xFF, 1);  // every field NULL ...
  StoreLE32(p + fx.Offset(0), static_cast<uint32_t>(k.a));
  SetNullFlag(false, 0, p);  // ... but the key fields
  if (k.fields == 2) {
    StoreLE32(p + fx.Offset(1), static_cast<uint32_t>(k.b));
    SetNullFlag(false, 1, p);
  }
  return c;
}

Key ReadBack(const SearchFixture& fx, const TORVScanSearchCondition& c) {
  const auto* p = static_cast<const uint8_t*>(c.KeyRecordBuffer);
  return {c.Condition, c.KeyFieldCount, static_cast<int32_t>(LoadLE32(p + fx.Offset(0))),
          c.KeyFieldCount == 2 ? static_cast<int32_t>(LoadLE32(p + fx.Offset(1))) : 0};
}

TEST(ScanConditionMerging, EveryCellOfTheMergeTableAgreesWithBruteForce) {
  SearchFixture fx;
  const int32_t ix = fx.Index("IX_AB");
  std::vector<Key> keys;
  for (TORVSearchCondition op : {scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual})
    for (int a = 0; a <= 2; ++a) {
      keys.push_back({op, 1, a, 0});
      for (int b = 0; b <= 2; ++b) keys.push_back({op, 2, a, b});
    }
  std::set<std::tuple<int, int, int>> cells;
  for (const Key& k1 : keys) {
    for (const Key& k2 : keys) {
      const Points both = AcceptedByAll({k1, k2});
      const std::string pair = Describe(k1) + " and " + Describe(k2);
      auto c1 = MakeCondition(fx, ix, k1);
      auto c2 = MakeCondition(fx, ix, k2);
      if (fx.T().CanBeCorrectlyMerged(*c1, *c2)) {
        const int sign = CompareTuples(k1.a, k1.b, k2.a, k2.b, std::min(k1.fields, k2.fields));
        cells.insert({k1.op, k2.op, sign});
        bool incompatible = false;
        bool merged = false;
        fx.T().MergeAndCheckSearchConditionsCompatibility(*c1, *c2, incompatible, merged);
        if (incompatible) {
          EXPECT_TRUE(both.empty()) << pair << ": called incompatible";
        } else if (merged) {
          EXPECT_EQ(AcceptedByAll({ReadBack(fx, *c1)}), both) << pair << " merged into " << Describe(ReadBack(fx, *c1));
        }
      }
      // The whole optimisation: what is left accepts what both accepted.
      TORVScanSearchConditionArray conditions;
      conditions.AddCondition(*MakeCondition(fx, ix, k1));
      conditions.AddCondition(*MakeCondition(fx, ix, k2));
      bool incompatible = false;
      fx.T().OptimizeSearchConditions(conditions, incompatible);
      if (incompatible) {
        EXPECT_TRUE(both.empty()) << pair;
        continue;
      }
      std::vector<Key> left;
      for (int32_t i = 0; i < conditions.Count(); ++i) left.push_back(ReadBack(fx, conditions[i]));
      EXPECT_EQ(AcceptedByAll(left), both) << pair;
    }
  }
  EXPECT_EQ(cells.size(), 75u) << "every operator pair with every sign of the key comparison";
}

TEST(ScanConditionMerging, TheNamedCasesMergeAsExpected) {
  SearchFixture fx;
  const int32_t ix = fx.Index("IX_AB");
  struct Case {
    Key first, second;
    bool incompatible;
    std::vector<Key> left;
  };
  const Case cases[] = {
      {{scEqual, 1, 5, 0}, {scGreater, 1, 5, 0}, true, {}},
      {{scGreaterEqual, 1, 5, 0}, {scLowerEqual, 1, 5, 0}, false, {{scEqual, 1, 5, 0}}},
      {{scLower, 1, 10, 0}, {scLower, 1, 7, 0}, false, {{scLower, 1, 7, 0}}},
      {{scGreater, 1, 3, 0}, {scGreaterEqual, 1, 3, 0}, false, {{scGreater, 1, 3, 0}}},
      {{scEqual, 1, 4, 0}, {scEqual, 1, 4, 0}, false, {{scEqual, 1, 4, 0}}},  // duplicates go
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.first) + " and " + Describe(c.second));
    TORVScanSearchConditionArray conditions;
    conditions.AddCondition(*MakeCondition(fx, ix, c.first));
    conditions.AddCondition(*MakeCondition(fx, ix, c.second));
    bool incompatible = false;
    fx.T().OptimizeSearchConditions(conditions, incompatible);
    EXPECT_EQ(incompatible, c.incompatible);
    if (c.incompatible) continue;
    ASSERT_EQ(conditions.Count(), static_cast<int32_t>(c.left.size()));
    for (int32_t i = 0; i < conditions.Count(); ++i) {
      const Key got = ReadBack(fx, conditions[i]);
      EXPECT_EQ(Describe(got), Describe(c.left[static_cast<size_t>(i)]));
    }
  }
}

// ---- The plan ------------------------------------------------------------------------------

TEST(ScanPlan, AnEqualityOnAOneColumnUniqueIndexIsTakenEvenForATinyTable) {
  SearchFixture fx;
  fx.Insert(1, 1, 5);
  TORVScanSearchConditionArray conditions;
  conditions.AddCondition(*MakeCondition(fx, fx.Index("IX_AB"), {scGreaterEqual, 2, 0, 0}));
  auto c = MakeCondition(fx, fx.Index("IX_C"), {scEqual, 1, 0, 0});
  StoreLE32(static_cast<uint8_t*>(c->KeyRecordBuffer) + fx.Offset(2), 5);
  SetNullFlag(false, 2, c->KeyRecordBuffer);
  c->KeyFieldCount = 1;
  conditions.AddCondition(*c);
  int32_t scan = -2;
  int32_t end = -2;
  fx.T().ChooseScanConditions(&fx.c(), conditions, true, true, scan, end);
  EXPECT_EQ(scan, 1);
  EXPECT_EQ(end, -1);
}

TEST(ScanPlan, OnlyALowerAndAnUpperBoundMakeARange) {
  SearchFixture fx;
  fx.Insert(1, 1, 1);
  fx.T().ForceIndexScans();
  const int32_t ix = fx.Index("IX_AB");
  const auto plan = [&](const Key& k1, const Key& k2, bool forward) {
    TORVScanSearchConditionArray conditions;
    conditions.AddCondition(*MakeCondition(fx, ix, k1));
    conditions.AddCondition(*MakeCondition(fx, ix, k2));
    int32_t scan = -2;
    int32_t end = -2;
    fx.T().ChooseScanConditions(&fx.c(), conditions, true, forward, scan, end);
    return std::pair{scan, end};
  };
  // Two upper bounds that do not merge: walked as one bound, the other tested per record.
  EXPECT_EQ(plan({scLowerEqual, 1, 5, 0}, {scLower, 2, 5, 3}, true), (std::pair{0, -1}));
  EXPECT_EQ(plan({scEqual, 1, 2, 0}, {scLowerEqual, 2, 2, 3}, true), (std::pair{0, -1}));
  // A lower and an upper bound: a range, walked from the lower one forward, the upper backward.
  EXPECT_EQ(plan({scGreaterEqual, 1, 1, 0}, {scLower, 1, 4, 0}, true), (std::pair{0, 1}));
  EXPECT_EQ(plan({scGreaterEqual, 1, 1, 0}, {scLower, 1, 4, 0}, false), (std::pair{1, 0}));
}

TEST(ScanPlan, AFullScanMustBeStrictlyCheaperThanTheBestRange) {
  SearchFixture fx;
  for (int i = 0; i < 10; ++i) fx.Insert(i, i, i);
  TORVScanSearchConditionArray conditions;
  conditions.AddCondition(*MakeCondition(fx, fx.Index("IX_AB"), {scGreater, 1, 3, 0}));
  const auto plan = [&](double range, double full) {
    fx.T().index_cost = range;
    fx.T().full_scan_cost = full;
    int32_t scan = -2;
    int32_t end = -2;
    fx.T().ChooseScanConditionsWithMinScanCost(&fx.c(), conditions, true, true, scan, end);
    return scan;
  };
  EXPECT_EQ(plan(3, 3), 0) << "a tie keeps the index range";
  EXPECT_EQ(plan(3, 2.99), -1);
  EXPECT_EQ(plan(10, 0), -1) << "a range costing as much as the records is never taken";
}

// ---- Searching -------------------------------------------------------------------------------

// Vector kind with S over a plain index: the record reads can be counted.
struct CountedFixture : testing::TableFixture {
  CountedFixture() {
    TORVFieldDefs f;
    AddField(f, "K", aftInteger);
    AddField(f, "S", aftInteger);
    TORVIndexDefs i;
    AddIndexDef(i, "ByK", {"K"});
    Create(f, i);
    for (int k = 1; k <= 8; ++k) EXPECT_EQ(cursor->InsertRow({{"K", k}, {"S", k * 10}}), 0);
    Table().Records().on_read = [this] { ++reads; };
  }
  int reads = 0;
};

TEST(FindRecord, ConditionsThatExcludeEachOtherReadNoRecord) {
  testing::ScopedExpressionFactory expressions;
  CountedFixture fx;
  TestCursor& c = *fx.cursor;
  c.SetIndexName("ByK");
  c.ActivateFilters("K > 5", false, false);
  void* key = c.AllocateKeyRecordBuffer();
  c.InternalInitKeyBuffer(key);
  TORVVariant five;
  five.SetDataAsSignedInt64(5);
  c.SetFieldValue(five, 0, true, key);
  c.FKeyBuffer = key;
  c.FKeyFieldCount = 1;
  fx.reads = 0;
  EXPECT_FALSE(c.FindKey(scEqual));
  EXPECT_EQ(fx.reads, 0);
  EXPECT_EQ(static_cast<testing::FieldOpConstantExpression*>(c.FFilterExpression.get())->evaluations, 0);
  ASSERT_TRUE(c.FindKey(scGreaterEqual));
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(c.GetInt("K"), 6);
  c.SetIndexName("");
  ExpectCode(20258, [&] { c.FindKey(scEqual); });
  c.FKeyBuffer = nullptr;
  c.FreeRecordBuffer(key);
}

// A table whose index order differs from its physical order.
struct PhysicalFixture : SearchFixture {
  PhysicalFixture() {
    const int a[] = {5, 7, 5, 1, 5, 5, 3};
    for (int slot = 0; slot < 7; ++slot) Insert(a[slot], slot, slot);
    T().ForceIndexScans();
  }
  std::vector<int64_t> Walk(bool forward) {
    std::vector<int64_t> slots;
    if (forward)
      c().InternalFirst();
    else
      c().InternalLast();
    while (c().GetRecordBuffer(forward ? grmNext : grmPrior) == grrOK) slots.push_back(*c().GetInt("C"));
    return slots;
  }
  // The cursor stands on a record, visible to it or not.
  void StandOn(int32_t slot) {
    c().FirstPosition = c().LastPosition = false;
    c().CurrentRecordID = {slot, 0};
  }
  static constexpr int kA[] = {5, 7, 5, 1, 5, 5, 3};
};

TEST(FindRecord, APhysicalCursorWalksAnotherIndexInPhysicalOrder) {
  testing::ScopedExpressionFactory expressions;
  PhysicalFixture fx;
  TestCursor& c = fx.c();
  struct Case {
    const char* filter;
    bool (*accepts)(int);
  };
  for (const Case& f : {Case{"A = 5", [](int a) { return a == 5; }},
                        Case{"A >= 3 AND A <= 5", [](int a) { return a >= 3 && a <= 5; }},
                        Case{"A > 1", [](int a) { return a > 1; }}}) {
    SCOPED_TRACE(f.filter);
    c.ActivateFilters(f.filter, false, false);
    std::vector<int64_t> expected;
    for (int slot = 0; slot < 7; ++slot)
      if (f.accepts(PhysicalFixture::kA[slot])) expected.push_back(slot);
    EXPECT_EQ(fx.Walk(true), expected);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(fx.Walk(false), expected);
    c.DeactivateFilters();
  }
  // On a one-column index equal keys lie in physical order, so the walk may continue from the
  // cursor's own entry; from a record the condition does not hold for (A = 7 lies beyond the
  // range's keys, A = 1 before them) it finds the nearest match all the same.
  TORVIndexDef by_a;
  by_a.Name = "IX_A";
  by_a.AssignByNames({"A"}, {"ASC"}, {"CASE"});
  c.AddIndex(by_a);
  fx.T().preferred_index = fx.Index("IX_A");
  c.ActivateFilters("A = 5", false, false);
  EXPECT_EQ(fx.Walk(true), (std::vector<int64_t>{0, 2, 4, 5}));
  fx.StandOn(1);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(c.GetInt("C"), 2);
  fx.StandOn(3);
  ASSERT_EQ(c.GetRecordBuffer(grmPrior), grrOK);
  EXPECT_EQ(c.GetInt("C"), 2);
  fx.StandOn(3);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(c.GetInt("C"), 4);
}

TEST(FindRecord, StepsOverDistinctKeysBackwardWithinARange) {
  SearchFixture fx;
  for (int a = 3; a <= 6; ++a)
    for (int b = 0; b < 4; ++b) fx.Insert(a, b, a * 10 + b);
  fx.T().ForceIndexScans();
  TestCursor& c = fx.c();
  c.ApplyDistinct({"A"}, {"ASC"}, {"CASE"});
  ASSERT_EQ(c.FIndexID, fx.Index("IX_AB"));
  void* end = c.AllocateKeyRecordBuffer();
  c.InternalInitKeyBuffer(end);
  TORVVariant v;
  v.SetDataAsSignedInt64(5);
  c.SetFieldValue(v, 0, true, end);
  v.SetDataAsSignedInt64(3);
  c.SetFieldValue(v, 1, true, end);
  c.ApplyRange(nullptr, end, 0, 2, false, false);  // up to (5, 3)
  c.FirstPosition = c.LastPosition = false;
  c.CurrentRecordID = {9, 0};  // (5, 1)
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  ASSERT_EQ(c.GetInt("C"), 51);
  ASSERT_EQ(c.GetRecordBuffer(grmPrior), grrOK);
  EXPECT_EQ(c.GetInt("A"), 4) << "the previous key, not another record of A = 5";
  ASSERT_EQ(c.GetRecordBuffer(grmPrior), grrOK);
  EXPECT_EQ(c.GetInt("A"), 3);
  EXPECT_EQ(c.GetRecordBuffer(grmPrior), grrBOF);
  c.InternalFirst();
  std::vector<int64_t> keys;
  while (c.GetRecordBuffer(grmNext) == grrOK) keys.push_back(*c.GetInt("C"));
  EXPECT_EQ(keys, (std::vector<int64_t>{30, 40, 50})) << "one record per key up to the range's end";
  EXPECT_EQ(c.GetRecordCount(), 3);
  c.ResetRange();
  c.FreeRecordBuffer(end);
}

TEST(FindRecord, ACursorOnAnotherIndexFindsInItsOwnOrderAndFillsItsBitmap) {
  testing::ScopedExpressionFactory expressions;
  PhysicalFixture fx;
  TestCursor& c = fx.c();
  c.SetIndexName("IX_C");  // the condition's index is IX_AB
  c.ActivateFilters("A >= 3 AND A <= 5", false, false);
  EXPECT_EQ(fx.Walk(true), (std::vector<int64_t>{0, 2, 4, 5, 6}));
  EXPECT_EQ(fx.Walk(false), (std::vector<int64_t>{6, 5, 4, 2, 0}));
  EXPECT_EQ(c.GetRecordCount(), 5);
  ASSERT_TRUE(c.FRecordBitmap->FActive);
  c.SetRecNo(3);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(c.GetInt("C"), 4);
  EXPECT_EQ(c.GetRecNo(), 3);
  // The record of the cursor is gone: no position in its index to continue from.
  fx.StandOn(4);
  c.DisableRecordBitmap();
  auto other = fx.Open(fx.session);
  other->CurrentRecordID = {4, 0};
  other->FirstPosition = false;
  ASSERT_EQ(other->GetRecordBuffer(grmCurrent), grrOK);
  other->InternalDelete();
  ASSERT_EQ(other->FErrorCode, 0);
  ExpectCode(10387, [&] { c.GetRecordBuffer(grmNext); });
}

}  // namespace
}  // namespace orv
