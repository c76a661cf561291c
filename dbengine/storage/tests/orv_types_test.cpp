#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/orv_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <set>
#include <vector>

#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_except.h"

namespace orv {
namespace {

TEST(ORVTypes, EnumerationsAndLockMatrix) {
  EXPECT_EQ(doSQRT, 65);
  EXPECT_EQ(doLIKE, 15);
  EXPECT_EQ(doCAST, 46);
  EXPECT_EQ(cmprBothNull, 5);
  EXPECT_EQ(scGreaterEqual, 5);
  EXPECT_EQ(bmtSynchronize, 5);
  EXPECT_EQ(kiSave, 5);
  EXPECT_EQ(aftGuid, 36);
  // The matrix is symmetric; ltX excludes everything, ltIS and ltU admit all but ltX.
  for (int a = 0; a < 7; ++a)
    for (int b = 0; b < 7; ++b) EXPECT_EQ(LocksCompatible[a][b], LocksCompatible[b][a]) << a << "," << b;
  for (int b = 0; b < 7; ++b) {
    EXPECT_FALSE(LocksCompatible[ltX][b]);
    EXPECT_EQ(LocksCompatible[ltIS][b], b != ltX);
    EXPECT_EQ(LocksCompatible[ltU][b], b != ltX);
  }
  EXPECT_FALSE(LocksCompatible[ltS][ltRW]);
  EXPECT_FALSE(LocksCompatible[ltSIRW][ltXIRW]);
  EXPECT_TRUE(LocksCompatible[ltSIRW][ltRW]);
  EXPECT_FALSE(LocksCompatible[ltXIRW][ltXIRW]);
  EXPECT_FALSE(LocksCompatible[ltRW][ltRW]);
}

TEST(ORVTypes, StoredRecordsAreLittleEndianFieldByField) {
  uint8_t b[20] = {};
  TORVPageItemID{0x01020304, 0xA0B0}.WriteTo(b);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 6), (std::vector<uint8_t>{4, 3, 2, 1, 0xB0, 0xA0}));
  EXPECT_EQ(TORVPageItemID::ReadFrom(b), (TORVPageItemID{0x01020304, 0xA0B0}));
  TORVPageItemID{-1, 0}.WriteTo(b);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 6), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0}));

  TORVPartialTemporaryBLOBDescriptor d{3, 0x1122334455, -2};
  d.WriteTo(b);
  // struct.pack('<iqq', 3, 0x1122334455, -2)
  const std::vector<uint8_t> expected = {3, 0, 0, 0, 0x55, 0x44, 0x33, 0x22, 0x11, 0, 0, 0,
                                         0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::vector<uint8_t>(b, b + 20), expected);
  const auto back = TORVPartialTemporaryBLOBDescriptor::ReadFrom(b);
  EXPECT_EQ(back.NumBlocks, 3);
  EXPECT_EQ(back.UncompressedSize, 0x1122334455);
  EXPECT_EQ(back.CompressedSize, -2);
}

TEST(ORVTypes, NullFlags) {
  uint8_t flags[3] = {};
  SetNullFlag(true, 0, flags);
  SetNullFlag(true, 9, flags);
  SetNullFlag(true, 23, flags);
  EXPECT_EQ(flags[0], 0x01);
  EXPECT_EQ(flags[1], 0x02);
  EXPECT_EQ(flags[2], 0x80);
  EXPECT_TRUE(CheckNullFlag(9, flags));
  EXPECT_FALSE(CheckNullFlag(8, flags));
  SetNullFlag(false, 9, flags);
  EXPECT_FALSE(CheckNullFlag(9, flags));
  EXPECT_EQ(flags[1], 0);
}

TEST(ORVTypes, TemporaryNamesAreBracedGuids) {
  const std::regex form(R"(TEMPORARY_TABLE_\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string name = GetTemporaryName("TEMPORARY_TABLE_");
    ASSERT_EQ(name.size(), 54u);
    ASSERT_TRUE(std::regex_match(name, form)) << name;
    seen.insert(name);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST(TORVIntegerArray, GrowthAndShrinkSteps) {
  TORVIntegerArray a(0, 10, 100);
  std::vector<int32_t> allocs;
  for (int i = 1; i <= 141; ++i) {
    a.Append(i);
    if (allocs.empty() || allocs.back() != a.AllocItemCount) allocs.push_back(a.AllocItemCount);
  }
  EXPECT_EQ(allocs, (std::vector<int32_t>{20, 60, 140, 240}));
  EXPECT_EQ(a.AllocBy, 100);

  TORVIntegerArray b(0, 10, 100);
  for (int i = 0; i < 21; ++i) b.Append(i);
  ASSERT_EQ(b.AllocItemCount, 60);
  b.SetSize(20);  // 60 - 20 > 10: the storage shrinks and the shrink step doubles
  EXPECT_EQ(b.AllocItemCount, 20);
  EXPECT_EQ(b.deAllocBy, 20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(b[i], i);
  b.Append(99);  // the step reached so far (40) doubles again
  EXPECT_EQ(b.AllocItemCount, 100);
  b.SetSize(5);  // 100 - 5 > 20
  EXPECT_EQ(b.AllocItemCount, 5);
  b.SetSize(3);  // 5 - 3 <= 40: kept
  EXPECT_EQ(b.AllocItemCount, 5);
  EXPECT_EQ(b.ItemCount, 3);

  // Deleting lowers the count before SetSize, so it never releases storage.
  TORVIntegerArray c(0, 10, 100);
  for (int i = 0; i < 21; ++i) c.Append(i);
  for (int i = 0; i < 15; ++i) c.Delete(0);
  EXPECT_EQ(c.AllocItemCount, 60);
  EXPECT_EQ(c.ItemCount, 6);
  EXPECT_EQ(c[0], 15);
  c.SetSize(0);
  EXPECT_EQ(c.AllocItemCount, 0);
  EXPECT_TRUE(c.Items.empty());
  c.Append(1);
  EXPECT_EQ(c.AllocItemCount, 80);  // the step reached so far doubled, not the initial one
}

TEST(TORVIntegerArray, EditsMatchAVectorModel) {
  std::mt19937 rng(7);
  TORVIntegerArray a(0, 1, 100);
  std::vector<int32_t> model;
  for (int step = 0; step < 5000; ++step) {
    const int op = static_cast<int>(rng() % 6);
    const int n = static_cast<int>(model.size());
    const int32_t v = static_cast<int32_t>(rng() % 1000);
    if (op == 0 || n == 0) {
      a.Append(v);
      model.push_back(v);
    } else if (op == 1) {
      const int at = static_cast<int>(rng() % static_cast<unsigned>(n + 3));  // also beyond the end
      a.Insert(at, v);
      model.insert(model.begin() + std::min(at, n), v);
    } else if (op == 2) {
      const int at = static_cast<int>(rng() % static_cast<unsigned>(n));
      a.Delete(at);
      model.erase(model.begin() + at);
    } else if (op == 3) {
      const int from = static_cast<int>(rng() % static_cast<unsigned>(n));
      const int to = static_cast<int>(rng() % static_cast<unsigned>(n + 1));
      if (to == n && to == from + 1) continue;  // no neighbour to swap with
      a.MoveTo(from, to);
      if (to == from + 1 || to == from - 1) {
        std::swap(model[static_cast<size_t>(from)], model[static_cast<size_t>(to)]);
      } else if (to < from) {
        const int32_t x = model[static_cast<size_t>(from)];
        model.erase(model.begin() + from);
        model.insert(model.begin() + to, x);
      } else if (to > from + 1) {
        const int32_t x = model[static_cast<size_t>(from)];
        model.erase(model.begin() + from);
        model.insert(model.begin() + to - 1, x);
      }
    } else if (op == 4) {
      EXPECT_EQ(a.IndexOf(v), [&] {
        auto it = std::find(model.begin(), model.end(), v);
        return it == model.end() ? -1 : static_cast<int32_t>(it - model.begin());
      }());
    } else {
      const int size = static_cast<int>(rng() % static_cast<unsigned>(n + 1));
      a.SetSize(size);
      model.resize(static_cast<size_t>(size));
    }
    ASSERT_EQ(a.ItemCount, static_cast<int32_t>(model.size()));
    ASSERT_LE(a.ItemCount, a.AllocItemCount);
    ASSERT_TRUE(std::equal(model.begin(), model.end(), a.Items.begin())) << "step " << step;
  }
  TORVIntegerArray copy;
  copy.Assign(a);
  EXPECT_TRUE(std::equal(model.begin(), model.end(), copy.Items.begin()));
  std::vector<int32_t> out(model.size());
  if (!model.empty()) a.CopyTo(out.data(), 0, static_cast<int32_t>(model.size()));
  EXPECT_EQ(out, model);
}

TEST(TORVBitsArray, RankAndSelectMatchBruteForce) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    const int n = 1 + static_cast<int>(rng() % 300);
    const unsigned density = rng() % 4;  // sparse .. all set
    TORVBitsArray bits;
    bits.SetSize(n);
    std::vector<bool> model(static_cast<size_t>(n));
    if (density == 3) {
      bits.SetAllBits();
      model.assign(static_cast<size_t>(n), true);
    }
    for (int i = 0; i < n; ++i) {
      if (density == 3) break;
      const bool v = (rng() % 4) < density;
      bits.SetBit(i, v);
      model[static_cast<size_t>(i)] = v;
    }
    const int set = static_cast<int>(std::count(model.begin(), model.end(), true));
    ASSERT_EQ(bits.NonZeroBitCount(), set);
    ASSERT_EQ(bits.GetNonZeroBitCount(), set);
    int rank = -1;
    std::vector<int> positions;
    for (int i = 0; i < n; ++i) {
      if (model[static_cast<size_t>(i)]) {
        ++rank;
        positions.push_back(i);
      }
      ASSERT_EQ(bits.GetBitPositionByBitNo(i), rank) << "n=" << n << " bit " << i;
      ASSERT_EQ(bits.GetBit(i), model[static_cast<size_t>(i)]);
    }
    for (int r = 0; r < set; ++r) ASSERT_EQ(bits.GetBitNoByBitPosition(r), positions[static_cast<size_t>(r)]);
    // Find in both directions walks exactly the set bits.
    std::vector<int> forward, backward;
    int32_t found = 0;
    for (bool ok = bits.Find(true, true, 0, found); ok; ok = bits.Find(false, true, found, found)) forward.push_back(found);
    for (bool ok = bits.Find(true, false, 0, found); ok; ok = bits.Find(false, false, found, found)) backward.push_back(found);
    EXPECT_EQ(forward, positions);
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, positions);
    int32_t first_clear = -1;
    const auto it = std::find(model.begin(), model.end(), false);
    EXPECT_EQ(bits.FindBit(false, first_clear), it != model.end());
    if (it != model.end()) { EXPECT_EQ(first_clear, static_cast<int32_t>(it - model.begin()));
    }
  }
}

TEST(TORVBitsArray, BoundsAndErrors) {
  TORVBitsArray bits;
  bits.SetSize(10);
  bits.SetBit(5, true);
  EXPECT_EQ(bits.GetBitPositionByBitNo(4), -1);  // an unset bit below the first set bit
  EXPECT_EQ(bits.GetBitPositionByBitNo(9), 0);
  ExpectCode(10394, [&] { bits.GetBit(10); }, "Invalid bit no = 10, number of bits = 10 - Native error: 10394");
  ExpectCode(10395, [&] { bits.SetBit(10, true); });
  ExpectCode(10428, [&] { bits.GetBitNoByBitPosition(1); }, "Invalid bit no = 1, number of bits = 1 - Native error: 10428");
  ExpectCode(10429, [&] { bits.GetBitPositionByBitNo(10); });
  bits.SetBit(5, true);  // unchanged: the count stays
  EXPECT_EQ(bits.NonZeroBitCount(), 1);
}

TEST(TORVBitsArray, GrowingNeverShowsStaleBits) {
  // SetAllBits fills whole bytes and shrinking keeps the bytes; bits that come back with a
  // larger size must read as clear.
  TORVBitsArray bits;
  bits.SetSize(10);
  bits.SetAllBits();
  EXPECT_EQ(bits.Bits()[1], 0xFF);  // the stored bytes keep the filled padding
  EXPECT_EQ(bits.NonZeroBitCount(), 10);
  bits.SetSize(13);
  EXPECT_EQ(bits.NonZeroBitCount(), 10);
  EXPECT_EQ(bits.GetNonZeroBitCount(), 10);
  for (int i = 10; i < 13; ++i) EXPECT_FALSE(bits.GetBit(i)) << i;
  bits.SetSize(4);
  EXPECT_EQ(bits.NonZeroBitCount(), 4);
  bits.SetSize(24);
  EXPECT_EQ(bits.NonZeroBitCount(), 4);
  EXPECT_EQ(bits.GetNonZeroBitCount(), 4);
  for (int i = 4; i < 24; ++i) EXPECT_FALSE(bits.GetBit(i)) << i;
  bits.SetSize(0);
  EXPECT_EQ(bits.BitCount(), 0);
  EXPECT_EQ(bits.Bits(), nullptr);
}

TEST(TORVBitsArray, StreamForm) {
  TORVBitsArray bits;
  bits.SetSize(10);
  bits.SetBit(0, true);
  bits.SetBit(9, true);
  TORVMemoryStream stream;
  bits.SaveToStream(stream);
  ASSERT_EQ(stream.GetSize(), 10);
  const auto* raw = static_cast<const uint8_t*>(stream.Memory());
  // struct.pack('<ii', 10, 2) + bytes([0x01, 0x02])
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + 10), (std::vector<uint8_t>{10, 0, 0, 0, 2, 0, 0, 0, 0x01, 0x02}));
  stream.SetPosition(0);
  TORVBitsArray back;
  back.LoadFromStream(stream);
  EXPECT_EQ(back.BitCount(), 10);
  EXPECT_EQ(back.NonZeroBitCount(), 2);
  EXPECT_EQ(back.GetBitNoByBitPosition(1), 9);

  // A stored count that disagrees with the bits would let select run past the buffer.
  auto load = [](std::vector<uint8_t> bytes) {
    TORVMemoryStream s;
    s.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
    s.SetPosition(0);
    TORVBitsArray b;
    b.LoadFromStream(s);
  };
  ExpectCode(10515, [&] { load({10, 0, 0, 0, 5, 0, 0, 0, 0x01, 0x02}); });
  ExpectCode(10515, [&] { load({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}); });
  ExpectCode(10402, [&] { load({10, 0, 0, 0, 2, 0, 0, 0, 0x01}); });
  ExpectCode(10426, [&] { load({10, 0, 0, 0, 2}); });
}

TEST(TORVCompressedStreamBlockHeadersArray, FindPosition) {
  TORVCompressedStreamBlockHeadersArray a;
  EXPECT_EQ(a.FindPosition(5), 0);
  for (int64_t p : {0, 100, 250}) a.AppendItem({}, p);
  EXPECT_EQ(a.FindPosition(50), 0);
  EXPECT_EQ(a.FindPosition(100), 1);
  EXPECT_EQ(a.FindPosition(1000), 2);
  EXPECT_EQ(a.FindPosition(-5), 0);
  EXPECT_EQ(a.FindPosition(249), 1);
}

// ---- Scan conditions with a stand-in for the expression engine ----------------------------

struct FakeIndexDefs : IORVScanIndexDefs {
  // Object ids 10 (one column) and 20 (three columns); the pointers only need to be distinct.
  const TORVIndexDef* FindIndexDefByObjectID(int32_t ObjectID) const override {
    if (ObjectID == 10) return reinterpret_cast<const TORVIndexDef*>(&one);
    if (ObjectID == 20) return reinterpret_cast<const TORVIndexDef*>(&three);
    return nullptr;
  }
  int32_t GetIndexColumnCount(const TORVIndexDef* d) const override {
    return d == reinterpret_cast<const TORVIndexDef*>(&three) ? 3 : 1;
  }
  int one = 1, three = 3;
};

struct FakeExpression : IORVScanExpression {
  // Adds one condition per entry of `makes` (the index id), created from this expression.
  std::vector<int32_t> makes;
  int extensions_left = 0;
  std::vector<std::pair<int32_t, int32_t>> removed;
  std::vector<TORVExpressionNode*> added;
  std::vector<std::string>* log = nullptr;
  std::string name;

  void CreateIndexScanConditions(const IORVScanIndexDefs&, TORVScanSearchConditionArray& a, int32_t) override {
    for (int32_t id : makes) {
      TORVScanSearchCondition c;
      c.Condition = scEqual;
      c.IndexID = id;
      c.KeyFieldCount = 1;
      c.CreatedFromExpression = true;
      c.ParentExpressions.push_back(this);
      c.ParentExpressionNodes.push_back(reinterpret_cast<TORVExpressionNode*>(static_cast<intptr_t>(id)));
      a.AddCondition(c);
    }
  }
  bool ExtendMultiFieldIndexCondition(TORVScanSearchCondition& c, const TORVIndexDef*) override {
    if (log) log->push_back(name);
    if (extensions_left == 0) return false;
    --extensions_left;
    ++c.KeyFieldCount;
    return true;
  }
  void RemoveExtractedNodes(TORVScanSearchConditionArray&, int32_t a, int32_t b) override { removed.push_back({a, b}); }
  void AddNode(TORVExpressionNode* n) override { added.push_back(n); }
};

TEST(TORVScanSearchConditionArray, PlanningSequence) {
  FakeIndexDefs defs;
  std::vector<std::string> log;
  FakeExpression filter, where;
  filter.name = "filter";
  where.name = "where";
  filter.log = where.log = &log;
  filter.makes = {10, 20};
  where.makes = {20};
  where.extensions_left = 2;

  TORVScanSearchConditionArray a;
  a.AddExpression(&filter);
  a.AddExpression(&where);
  // An explicit condition on the three-column index, with its own key buffer.
  TORVScanSearchCondition explicit_condition(true);
  uint8_t key[4] = {1, 2, 3, 4};
  explicit_condition.KeyRecordBuffer = key;
  explicit_condition.KeyRecordBufferSize = 4;
  explicit_condition.IndexID = 20;
  explicit_condition.KeyFieldCount = 1;
  a.AddCondition(explicit_condition);
  ASSERT_EQ(a.Count(), 3);
  // The array keeps a private copy of the key.
  EXPECT_NE(a[2].KeyRecordBuffer, key);
  EXPECT_FALSE(a[2].ExternalKeyRecordBuffer());
  key[0] = 9;
  EXPECT_EQ(static_cast<uint8_t*>(a[2].KeyRecordBuffer)[0], 1);

  a.CreateIndexScanConditionsFromExpressions(defs, 1);
  ASSERT_EQ(a.Count(), 6);  // 2 expressions, the explicit one, 3 made from expressions
  // Every condition without an expression on a multi-column index was offered for
  // extension; a success restarts the pass at the first expression.
  EXPECT_EQ(a[2].KeyFieldCount, 3);
  EXPECT_EQ(a[4].KeyFieldCount, 1);  // index 20, but the extensions were used up
  EXPECT_EQ(a[3].KeyFieldCount, 1);  // index 10 has one column: never offered
  EXPECT_EQ(log, (std::vector<std::string>{"filter", "where", "filter", "where", "filter", "where", "filter", "where",
                                           "filter", "where"}));

  // Choose condition 4 as start and none as end: the other conditions made from
  // expressions go, except the last one, which is never examined.
  int32_t start = 4, end = -1;
  a.RemoveUnusedConditionsCreatedFromExpressions(start, end);
  ASSERT_EQ(a.Count(), 5);
  EXPECT_EQ(start, 3);
  EXPECT_EQ(end, -1);
  EXPECT_EQ(a[3].IndexID, 20);
  EXPECT_TRUE(a[4].CreatedFromExpression);

  a.ExtractChosenConditionsFromExpressions(start, end);
  EXPECT_EQ(filter.removed, (std::vector<std::pair<int32_t, int32_t>>{{3, -1}}));
  EXPECT_EQ(where.removed, (std::vector<std::pair<int32_t, int32_t>>{{3, -1}}));
  a.ReturnExtractedConditionsToExpressions(start, end);
  EXPECT_EQ(filter.added, (std::vector<TORVExpressionNode*>{reinterpret_cast<TORVExpressionNode*>(20)}));
  EXPECT_TRUE(where.added.empty());

  ExpectCode(10413, [&] { a.Delete(5); }, "Invalid item number - ItemNo = 5, ItemCount = 5 - Native error: 10413");
  TORVScanSearchCondition bad;
  ExpectCode(10388, [&] { a.AddCondition(bad); }, "Invalid scan condition - indexID = -1, count = 5 - Native error: 10388");
  a.Delete(0);
  EXPECT_EQ(a.Count(), 4);
  EXPECT_EQ(a[0].Expression, &where);
}

TEST(TORVScanSearchConditionArray, NoChoiceRemovesAllButTheLast) {
  FakeIndexDefs defs;
  FakeExpression e;
  e.makes = {10, 10, 10};
  TORVScanSearchConditionArray a;
  a.AddExpression(&e);
  a.CreateIndexScanConditionsFromExpressions(defs, 1);
  ASSERT_EQ(a.Count(), 4);
  int32_t start = -1, end = -1;
  a.RemoveUnusedConditionsCreatedFromExpressions(start, end);
  ASSERT_EQ(a.Count(), 2);
  EXPECT_EQ(a[0].Expression, &e);
  EXPECT_TRUE(a[1].CreatedFromExpression);
}

TEST(TORVIndexPositionCache, StartsUnset) {
  TORVIndexPositionCache cache;
  EXPECT_EQ(cache.IndexID, -1);
  EXPECT_EQ(cache.TableState, -1);
  ASSERT_NE(cache.Position, nullptr);
  EXPECT_EQ(cache.Position->Count, 0);
}

// ---- Key paths ----------------------------------------------------------------------------

TEST(TORVKeyPath, OrderAndErrors) {
  TORVKeyPath a, b;
  a.AddItem(5, 1, 3);
  a.AddItem(9, 2, 10);
  b.Assign(a);
  EXPECT_EQ(a.Compare(b), 0);
  b.Items[1].EntryNo = 3;
  EXPECT_EQ(a.Compare(b), -1);
  EXPECT_EQ(b.Compare(a), 1);
  b.Items[0].EntryNo = 0;
  EXPECT_EQ(a.Compare(b), 1);  // the root level decides first
  EXPECT_TRUE(a.PageExists(9));
  EXPECT_FALSE(a.PageExists(7));
  TORVKeyPath c;
  c.AddItem(5, 1, 3);
  ExpectCode(20051, [&] { (void)a.Compare(c); });
  c.AddItem(8, 2, 10);
  ExpectCode(20052, [&] { (void)a.Compare(c); });

  TORVKeyPath deep;
  for (int i = 0; i < TORVKeyPath::MaxLevels; ++i) deep.AddItem(i, 0, 1);
  ExpectCode(20304, [&] { deep.AddItem(99, 0, 1); });
  EXPECT_EQ(deep.Count, TORVKeyPath::MaxLevels);
}

TEST(TORVKeyPath, ApproximatePosition) {
  TORVKeyPath p;
  p.AddItem(1, 0, 10);
  EXPECT_DOUBLE_EQ(p.GetApproxRecNoInPercents(), 0.0);
  p.Items[0].EntryNo = 9;
  EXPECT_DOUBLE_EQ(p.GetApproxRecNoInPercents(), 0.9);
  TORVKeyPath q;
  q.AddItem(1, 1, 4);   // second of four subtrees
  q.AddItem(7, 5, 10);  // halfway through its leaf
  EXPECT_DOUBLE_EQ(q.GetApproxRecNoInPercents(), (1 * 10 + 5) / 40.0);
}

TEST(TORVKeyPath, BitmapNumbersRoundTrip) {
  std::mt19937 rng(3);
  for (int max_entries : {1, 2, 7, 255, 670}) {
    for (int round = 0; round < 300; ++round) {
      TORVKeyPath p;
      const int levels = 1 + static_cast<int>(rng() % 5);
      for (int l = 0; l < levels; ++l)
        p.AddItem(100 + l, static_cast<int32_t>(rng() % static_cast<unsigned>(max_entries)), max_entries);
      const int64_t n = p.GetBitmapRecNoByIndexPosition(max_entries);
      ASSERT_GE(n, 1);
      TORVKeyPath q;
      q.FillItemsByBitmapRecNo(n, max_entries);
      ASSERT_EQ(q.Count, p.Count);
      EXPECT_EQ(q.ItemNo, 0);
      for (int l = 0; l < levels; ++l) {
        EXPECT_EQ(q.Items[static_cast<size_t>(l)].EntryNo, p.Items[static_cast<size_t>(l)].EntryNo);
        EXPECT_EQ(q.Items[static_cast<size_t>(l)].PageNo, -1);
        EXPECT_EQ(q.Items[static_cast<size_t>(l)].EntryCount, 0);
      }
    }
  }
  // Numbers grow with the place in index order.
  TORVKeyPath a, b;
  a.AddItem(1, 0, 3);
  a.AddItem(2, 2, 3);
  b.AddItem(1, 1, 3);
  b.AddItem(3, 0, 3);
  EXPECT_LT(a.GetBitmapRecNoByIndexPosition(3), b.GetBitmapRecNoByIndexPosition(3));
  // A digit 0 stands for no entry: such a number cannot become a path.
  TORVKeyPath z;
  ExpectCode(20306, [&] { z.FillItemsByBitmapRecNo(4, 3); });  // base 4: "10"
  z.FillItemsByBitmapRecNo(0, 3);
  EXPECT_EQ(z.Count, 0);
}

}  // namespace
}  // namespace orv
