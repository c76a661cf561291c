#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/orv_btree_key.h"
#include "dbengine/storage/orv_btree_page.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/tests/btree_test_support.h"

namespace orv {
namespace {

using testing::KeyTableDouble;
using testing::PageStoreDouble;
using testing::TreeHarness;

std::vector<uint8_t> Hex(const char* hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  return out;
}

// ---- Keys over one Int32 column -----------------------------------------------------------

// Records of one nullable Int32 field "K": a null-flag byte, then the value.
struct IntKeys {
  IntKeys() {
    table.fields = {{"K", {bftSignedInt32, 4, 1, 0}}};
    table.record_size = 5;
    key_ref.Assign({{"k"}}, &table);
    key_ref.FReferenceSize = 6;
  }
  std::vector<uint8_t> Key(std::optional<int32_t> v) {
    uint8_t record[5] = {};
    if (v)
      StoreLE32(record + 1, static_cast<uint32_t>(*v));
    else
      SetNullFlag(true, 0, record);
    std::vector<uint8_t> key(5);
    key_ref.MakeShortKeyFromRecordBuffer(record, key.data());
    return key;
  }
  static std::vector<uint8_t> Ref(int32_t page, uint16_t item) {
    std::vector<uint8_t> r(6);
    TORVPageItemID{page, item}.WriteTo(r.data());
    return r;
  }
  KeyTableDouble table;
  TORVRecordKeyRef key_ref;
};

TEST(TORVRecordKeyRef, PartsAndErrors) {
  KeyTableDouble table;
  table.fields = {{"ID", {bftSignedInt32, 4, 1, 0}},
                  {"NAME", {bftVarchar, 31, 5, 1}},
                  {"SHORTNAME", {bftVarchar, 11, 36, 2}},
                  {"PIC", {bftBlob, 10, 47, 3}}};
  table.record_size = 57;
  TORVRecordKeyRef k;
  k.Assign({{"Name", false, false, 20}, {"id", true, false, 20}, {"ShortName", false, true, 20}}, &table);
  ASSERT_EQ(k.GetPartCount(), 3);
  // A text longer than MaxIndexedSize keeps 20 bytes and 2 zero bytes; shorter ones stay whole.
  EXPECT_EQ(k.Parts[0].ShortSize, 23);
  EXPECT_EQ(k.Parts[0].AddedSize, 2);
  EXPECT_EQ(k.Parts[0].FullSize, 32);
  EXPECT_EQ(k.Parts[1].OffsetInShortKeyBuffer, 23);
  EXPECT_EQ(k.Parts[1].ShortSize, 5);
  EXPECT_EQ(k.Parts[2].ShortSize, 12);
  EXPECT_EQ(k.Parts[2].AddedSize, 0);
  EXPECT_EQ(k.Parts[2].FullSize, 12);
  EXPECT_EQ(k.FShortKeySize, 40);
  EXPECT_EQ(k.FFullKeySize, 49);
  EXPECT_EQ(k.FCompareFieldCount, 3);
  EXPECT_EQ(k.FCompareLengths, (std::vector<int32_t>{-1, -1, -1}));

  TORVRecordKeyRef bad;
  ExpectCode(20043, [&] { bad.Assign({{"NOPE"}}, &table); }, "Cannot find index field 'NOPE' - Native error: 20043");
  ExpectCode(20295, [&] { bad.Assign({{"PIC"}}, &table); });
  ExpectCode(20044, [&] { bad.Assign({{"ID"}}, nullptr); });
  table.has_field_defs = false;
  ExpectCode(20045, [&] { bad.Assign({{"ID"}}, &table); });
}

TEST(TORVRecordKeyRef, ComparisonRules) {
  KeyTableDouble table;
  // A (Int32, descending) then B (text of 30, 8 bytes kept).
  table.fields = {{"A", {bftSignedInt32, 4, 1, 0}}, {"B", {bftVarchar, 31, 5, 1}}};
  table.record_size = 36;
  TORVRecordKeyRef k;
  k.Assign({{"A", true, false, 20}, {"B", false, true, 8}}, &table);
  k.FReferenceSize = 6;
  ASSERT_EQ(k.Parts[1].AddedSize, 2);
  auto record = [](std::optional<int32_t> a, const char* b) {
    std::vector<uint8_t> r(36, 0);
    if (a)
      StoreLE32(r.data() + 1, static_cast<uint32_t>(*a));
    else
      SetNullFlag(true, 0, r.data());
    if (b)
      std::memcpy(r.data() + 5, b, std::strlen(b));
    else
      SetNullFlag(true, 1, r.data());
    return r;
  };
  auto store = [&](int32_t page, const std::vector<uint8_t>& r) {
    table.records[{page, 0}] = r;
    return IntKeys::Ref(page, 0);
  };
  std::vector<uint8_t> k1(k.FShortKeySize), k2(k.FShortKeySize);
  auto cmp = [&](const std::vector<uint8_t>& r1, const std::vector<uint8_t>& r2, bool full_keys,
                 const std::vector<uint8_t>* ref2) {
    k.MakeShortKeyFromRecordBuffer(r2.data(), k2.data());
    k.MakeShortKeyFromRecordBuffer(r1.data(), k1.data());  // the search key's record stays remembered
    return k.CompareShortKeys(k1.data(), k2.data(), full_keys, 1, nullptr, ref2 ? ref2->data() : nullptr);
  };
  // The descending column reverses only itself; NULL sorts first before the sign change.
  EXPECT_GT(cmp(record(1, "x"), record(2, "x"), false, nullptr), 0);
  EXPECT_LT(cmp(record(1, "a"), record(1, "b"), false, nullptr), 0);
  EXPECT_GT(cmp(record(std::nullopt, "a"), record(5, "a"), false, nullptr), 0);
  EXPECT_EQ(cmp(record(std::nullopt, nullptr), record(std::nullopt, nullptr), false, nullptr), 0);
  EXPECT_EQ(cmp(record(1, "ABC"), record(1, "abc"), false, nullptr), 0);  // case-insensitive column

  // Texts equal in their kept 8 bytes: equal without full keys; by the stored records with.
  const auto long1 = record(1, "abcdefgh-one"), long2 = record(1, "abcdefgh-two");
  const auto ref_long2 = store(20, long2);
  EXPECT_EQ(cmp(long1, long2, false, nullptr), 0);
  EXPECT_EQ(cmp(long1, long2, true, nullptr), 0);  // no reference: nothing to read
  table.reads = 0;
  EXPECT_LT(cmp(long1, long2, true, &ref_long2), 0);
  EXPECT_EQ(table.reads, 1);  // only the stored record; the search key's comes from its buffer
  // A value shorter than the kept bytes never reads a record.
  const auto ref_short = store(21, record(1, "abc"));
  table.reads = 0;
  EXPECT_EQ(cmp(record(1, "abc"), record(1, "abc"), true, &ref_short), 0);
  EXPECT_EQ(table.reads, 0);
  const auto missing = IntKeys::Ref(99, 0);
  ExpectCode(20170, [&] { cmp(long1, long2, true, &missing); }, "Cannot retrieve record for index - Native error: 20170");

  // Fewer compared parts: keys equal on the first part compare equal.
  k.FCompareFieldCount = 1;
  EXPECT_EQ(cmp(record(1, "a"), record(1, "z"), false, nullptr), 0);
  k.FCompareFieldCount = 2;
  // Partial compare: a search text compares as a prefix.
  const auto prefix = record(1, "ab");
  k.SetPartialCompare(prefix.data(), true);
  EXPECT_EQ(k.FCompareLengths, (std::vector<int32_t>{-1, 2}));
  EXPECT_EQ(cmp(prefix, record(1, "abzz"), false, nullptr), 0);
  k.SetPartialCompare(prefix.data(), false);
  EXPECT_LT(cmp(prefix, record(1, "abzz"), false, nullptr), 0);

  // Full keys hold every value whole.
  std::vector<uint8_t> f1(k.FFullKeySize), f2(k.FFullKeySize);
  k.MakeFullKeyFromRecordBuffer(long1.data(), f1.data());
  k.MakeFullKeyFromRecordBuffer(long2.data(), f2.data());
  EXPECT_LT(k.CompareFullKeys(f1.data(), f2.data()), 0);

  TORVPageKeyRef pk;
  uint8_t a[4], b[4];
  StoreLE32(a, static_cast<uint32_t>(-3));
  StoreLE32(b, 2);
  EXPECT_EQ(pk.CompareShortKeys(a, b, false, -1, nullptr, nullptr), -1);
  EXPECT_EQ(pk.CompareFullKeys(b, a), 1);
  EXPECT_EQ(TORVBTreeKeyRef::CompareReferences(IntKeys::Ref(-1, 5).data(), IntKeys::Ref(0, 0).data(), 6), -1);
  EXPECT_EQ(TORVBTreeKeyRef::CompareReferences(IntKeys::Ref(1, 65535).data(), IntKeys::Ref(1, 1).data(), 6), 1);
}

TEST(TORVBTreePage, StoredBytesAreTheIndexPageLayout) {
  // A disk page of 4096 bytes: the index page starts at byte 40 of the page.
  PageStoreDouble pages(4096, 40);
  IntKeys keys;
  TreeHarness tree(pages, keys.key_ref);
  pages.ApplyChanges(1);
  const std::vector<uint8_t>& stored = pages.store.at(tree.RootPageNo());
  // struct.pack('<BBiiBBHHH', 1, 1, -1, -1, 1, 0, 5, 0, 0)
  EXPECT_EQ(std::vector<uint8_t>(stored.begin() + 40, stored.begin() + 58), Hex("0101ffffffffffffffff0100050000000000"));
  EXPECT_EQ(LoadLE16(stored.data() + 8), ptTableIndex);
  tree.Insert(keys.Key(-5).data(), IntKeys::Ref(3, 1).data());
  tree.Insert(keys.Key(std::nullopt).data(), IntKeys::Ref(2, 7).data());
  pages.ApplyChanges(1);
  const std::vector<uint8_t>& filled = pages.store.at(tree.RootPageNo());
  // header (entry count 2) + struct.pack('<Bi', 1, 0) + struct.pack('<iH', 2, 7)
  //                        + struct.pack('<Bi', 0, -5) + struct.pack('<iH', 3, 1)
  EXPECT_EQ(std::vector<uint8_t>(filled.begin() + 40, filled.begin() + 40 + 40),
            Hex("0101ffffffffffffffff0100050002000000010000000002000000070000fbffffff030000000100"));
}

TEST(TORVBTreePage, RootSplitKeepsTheRootAndDepthShrinksBack) {
  PageStoreDouble pages(128, 0);  // (128 - 18) / 11 = 10 leaf entries
  IntKeys keys;
  TreeHarness tree(pages, keys.key_ref);
  const int32_t root = tree.RootPageNo();
  for (int i = 0; i < 10; ++i) tree.Insert(keys.Key(i * 10).data(), IntKeys::Ref(i, 0).data());
  EXPECT_TRUE(tree.Root()->GetIsLeaf());
  tree.Insert(keys.Key(55).data(), IntKeys::Ref(50, 0).data());  // 11 entries: the root splits
  {
    TORVBTreePageRef r = tree.Root();
    EXPECT_EQ(r->GetPageNo(), root);
    EXPECT_FALSE(r->GetIsLeaf());
    EXPECT_TRUE(r->GetIsRoot());
    ASSERT_EQ(r->GetEntryCount(), 2);
    EXPECT_EQ(std::vector<uint8_t>(r->GetPKey(0), r->GetPKey(0) + 5), std::vector<uint8_t>(5, 0));
    TORVBTreePageRef left = tree.Page(static_cast<int32_t>(LoadLE32(r->GetPReference(0))));
    TORVBTreePageRef right = tree.Page(static_cast<int32_t>(LoadLE32(r->GetPReference(1))));
    EXPECT_EQ(left->GetEntryCount(), 5);
    EXPECT_EQ(right->GetEntryCount(), 6);
    EXPECT_FALSE(left->GetIsRoot());
    EXPECT_EQ(std::vector<uint8_t>(r->GetPKey(1), r->GetPKey(1) + 5),
              std::vector<uint8_t>(right->GetPKey(0), right->GetPKey(0) + 5));
    EXPECT_EQ(left->GetRightPageNo(), right->GetPageNo());
    EXPECT_EQ(right->GetLeftPageNo(), left->GetPageNo());
    EXPECT_EQ(left->GetLeftPageNo(), -1);
    EXPECT_EQ(right->GetRightPageNo(), -1);
    // Node entries are 4 bytes shorter than the record index's leaf entries.
    EXPECT_EQ(r->GetEntrySize() + 2, left->GetEntrySize());
  }
  EXPECT_EQ(tree.Verify(), 2);
  // Deleting from the right half until it fits the left one merges them; the root takes
  // the only child back and stays where it was.
  for (int i = 9; i >= 5; --i) ASSERT_TRUE(tree.Delete(keys.Key(i * 10).data(), IntKeys::Ref(i, 0).data())) << i;
  {
    TORVBTreePageRef r = tree.Root();
    EXPECT_EQ(r->GetPageNo(), root);
    EXPECT_TRUE(r->GetIsLeaf());
    EXPECT_TRUE(r->GetIsRoot());
    EXPECT_EQ(r->GetEntryCount(), 6);
  }
  EXPECT_EQ(tree.Verify(), 1);
  EXPECT_FALSE(tree.Delete(keys.Key(90).data(), IntKeys::Ref(9, 0).data()));
  pages.ApplyChanges(1);
  EXPECT_EQ(pages.AllocatedCount(), 1u);  // both halves were given back at the commit
}

TEST(TORVBTreePage, HeaderChecksAndErrors) {
  PageStoreDouble pages(128, 0);
  IntKeys keys;
  TreeHarness tree(pages, keys.key_ref);
  tree.Insert(keys.Key(1).data(), IntKeys::Ref(1, 0).data());
  pages.ApplyChanges(1);
  {
    TORVBTreePageRef r = tree.Root();
    ExpectCode(20020, [&] {
      TORVKeyPath p;
      r->InsertNodeEntry(1, nullptr, nullptr, p);
    });
    ExpectCode(20024, [&] {
      TORVKeyPath p;
      r->DeleteNodeEntry(1, p, true, nullptr);
    });
    ExpectCode(20025, [&] {
      r->FLeafController.DeleteEntry(0);
      r->FLeafController.DeleteEntry(0);
    });
  }
  pages.CancelChanges(1);
  // A stored page whose entry count overruns it is refused before anything reads it.
  pages.Close();
  StoreLE16(pages.store.at(tree.RootPageNo()).data() + btree_header::EntryCount, 500);
  ExpectCode(20307, [&] { tree.Root(); });
  pages.Close();  // the cache keeps what the store held; the store changes underneath it
  StoreLE16(pages.store.at(tree.RootPageNo()).data() + btree_header::EntryCount, 1);
  StoreLE16(pages.store.at(tree.RootPageNo()).data() + btree_header::KeyPrefixSize, 4);
  ExpectCode(20307, [&] { tree.Root(); });
  pages.Close();
  StoreLE16(pages.store.at(tree.RootPageNo()).data() + btree_header::KeyPrefixSize, 5);
  pages.store.at(tree.RootPageNo())[btree_header::IsLeaf] = 0;  // a node whose child is garbage
  StoreLE32(pages.store.at(tree.RootPageNo()).data() + btree_header::Size + 5, 12345);
  ExpectCode(20299, [&] { tree.Insert(keys.Key(2).data(), IntKeys::Ref(2, 0).data()); });
}

// Texts longer than the kept bytes: leaves order them by the whole text read from the
// records, nodes by their prefixes; the tree must still hold every text in order.
TEST(TORVBTreePage, CutTextKeysOrderByTheWholeText) {
  PageStoreDouble pages(256, 0);
  KeyTableDouble table;
  table.fields = {{"T", {bftVarchar, 41, 1, 0}}};
  table.record_size = 42;
  TORVRecordKeyRef key_ref;
  key_ref.Assign({{"T", false, false, 6}}, &table);
  key_ref.FReferenceSize = 6;
  ASSERT_EQ(key_ref.FShortKeySize, 9);  // flag, 6 kept bytes, 2 zero bytes
  TreeHarness tree(pages, key_ref);
  std::mt19937 rng(23);
  std::map<std::pair<std::string, int32_t>, bool> model;  // (text, record page) present
  auto record_of = [&](const std::string& text) {
    std::vector<uint8_t> r(42, 0);
    std::memcpy(r.data() + 1, text.data(), text.size());
    return r;
  };
  std::vector<std::pair<std::string, int32_t>> live;
  for (int op = 0; op < 6000; ++op) {
    if (live.empty() || rng() % 3 != 0) {
      // Long shared prefixes: the kept six bytes rarely decide.
      std::string text = "prefix";
      const size_t n = rng() % 8;
      for (size_t i = 0; i < n; ++i) text += "ab"[rng() % 2];
      const int32_t id = op;
      const auto record = record_of(text);
      table.records[{id, 0}] = record;
      std::vector<uint8_t> key(10);
      key_ref.MakeShortKeyFromRecordBuffer(record.data(), key.data());
      tree.Insert(key.data(), IntKeys::Ref(id, 0).data());
      live.push_back({text, id});
    } else {
      const size_t i = rng() % live.size();
      const auto [text, id] = live[i];
      const auto record = record_of(text);
      std::vector<uint8_t> key(10);
      key_ref.MakeShortKeyFromRecordBuffer(record.data(), key.data());
      ASSERT_TRUE(tree.Delete(key.data(), IntKeys::Ref(id, 0).data())) << text << " " << id;
      live[i] = live.back();
      live.pop_back();
    }
  }
  std::vector<std::pair<std::string, int32_t>> expected = live;
  std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
    const int c = ORVCompareAnsi(a.first, b.first, false);
    return c != 0 ? c < 0 : a.second < b.second;
  });
  std::vector<std::pair<std::string, int32_t>> walked;
  for (const auto& [key, ref] : tree.Walk(true)) {
    const TORVPageItemID id = TORVPageItemID::ReadFrom(ref.data());
    const auto& record = table.records.at({id.PageNo, id.PageItemNo});
    walked.push_back({std::string(reinterpret_cast<const char*>(record.data()) + 1), id.PageNo});
  }
  EXPECT_EQ(walked, expected);
  tree.CheckIntegrity();
  tree.Verify();
  // Searches by condition against the sorted texts, for texts present and absent.
  for (const char* text : {"prefixab", "prefixb", "prefixaaaaaaaaaa", "prefix", "prefixbbbbbbbbb"}) {
    const auto probe = record_of(text);
    std::vector<uint8_t> key(9);
    key_ref.MakeShortKeyFromRecordBuffer(probe.data(), key.data());
    auto cmp = [&](const std::pair<std::string, int32_t>& e) { return ORVCompareAnsi(e.first, text, false); };
    const auto first_ge = std::find_if(expected.begin(), expected.end(), [&](const auto& e) { return cmp(e) >= 0; });
    const auto first_gt = std::find_if(expected.begin(), expected.end(), [&](const auto& e) { return cmp(e) > 0; });
    auto at = [&](std::vector<std::pair<std::string, int32_t>>::const_iterator i) {
      return i == expected.end() ? std::optional<std::string>() : std::optional<std::string>(i->first);
    };
    auto before = [&](std::vector<std::pair<std::string, int32_t>>::const_iterator i) {
      return i == expected.begin() ? std::optional<std::string>() : std::optional<std::string>(std::prev(i)->first);
    };
    const bool any = first_ge != first_gt;
    const std::tuple<bool, TORVSearchCondition, std::optional<std::string>> cases[] = {
        {true, scEqual, any ? at(first_ge) : std::nullopt}, {false, scEqual, any ? before(first_gt) : std::nullopt},
        {true, scGreater, at(first_gt)},                    {true, scGreaterEqual, at(first_ge)},
        {false, scLower, before(first_ge)},                 {false, scLowerEqual, before(first_gt)},
    };
    for (const auto& [first, op, want] : cases) {
      TORVKeyPath path;
      const bool found = tree.FindByCondition(first, key.data(), op, path);
      ASSERT_EQ(found, want.has_value()) << text << " op " << int(op);
      if (!found) continue;
      const TORVPageItemID id = TORVPageItemID::ReadFrom(tree.EntryAt(path).second.data());
      const auto& record = table.records.at({id.PageNo, id.PageItemNo});
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data()) + 1), *want) << text << " op " << int(op);
    }
  }
}

// ---- The model test -----------------------------------------------------------------------

using ModelEntry = std::tuple<bool, int32_t, int32_t, uint16_t>;  // not null, key, page, item

ModelEntry Decode(const std::pair<std::vector<uint8_t>, std::vector<uint8_t>>& e) {
  const bool present = e.first[0] == BTreeKeyIsNotNull;
  const TORVPageItemID id = TORVPageItemID::ReadFrom(e.second.data());
  return {present, present ? static_cast<int32_t>(LoadLE32(e.first.data() + 1)) : 0, id.PageNo, id.PageItemNo};
}

class BTreeModel : public ::testing::TestWithParam<std::tuple<uint16_t, int>> {};

TEST_P(BTreeModel, RandomInsertsAndDeletesMatchAMultiset) {
  const auto [page_size, operations] = GetParam();
  PageStoreDouble pages(page_size, 0);
  IntKeys keys;
  TreeHarness tree(pages, keys.key_ref);
  std::set<ModelEntry> model;  // (key, reference) pairs are unique, keys repeat a lot
  std::vector<ModelEntry> items;  // the same entries, for picking one at random
  std::mt19937 rng(page_size);
  auto pick = [&]() -> size_t { return rng() % items.size(); };
  int32_t next_page = 0;
  auto random_key = [&]() -> std::optional<int32_t> {
    if (rng() % 50 == 0) return std::nullopt;
    return static_cast<int32_t>(rng() % 200) - 100;
  };
  auto key_of = [&](const ModelEntry& m) { return keys.Key(std::get<0>(m) ? std::optional<int32_t>(std::get<1>(m)) : std::nullopt); };
  auto ref_of = [](const ModelEntry& m) { return IntKeys::Ref(std::get<2>(m), std::get<3>(m)); };
  int max_depth = 0;
  const int batch = std::max(1000, operations / 40);
  for (int op = 0; op < operations; ++op) {
    // Mostly inserts in the first half, mostly deletes in the second: the tree grows deep
    // and shrinks back through merges and root changes.
    const bool growing = op < operations / 2;
    const bool insert = model.empty() || (rng() % 100) < (growing ? 65u : 30u);
    if (insert) {
      const auto k = random_key();
      const ModelEntry m{k.has_value(), k.value_or(0), next_page++ % 5000 - 2500, static_cast<uint16_t>(rng())};
      if (model.count(m)) continue;
      tree.Insert(key_of(m).data(), ref_of(m).data());
      model.insert(m);
      items.push_back(m);
    } else if (rng() % 10 == 0) {
      const ModelEntry absent{true, 7, 999999, 1};
      ASSERT_FALSE(tree.Delete(key_of(absent).data(), ref_of(absent).data()));
    } else {
      const size_t i = pick();
      const ModelEntry m = items[i];
      ASSERT_TRUE(tree.Delete(key_of(m).data(), ref_of(m).data())) << "op " << op;
      model.erase(m);
      items[i] = items.back();
      items.pop_back();
    }
    if ((op + 1) % batch != 0 && op + 1 != operations) continue;

    const std::vector<ModelEntry> expected(model.begin(), model.end());
    std::vector<ModelEntry> forward, backward;
    for (const auto& e : tree.Walk(true)) forward.push_back(Decode(e));
    for (const auto& e : tree.Walk(false)) backward.push_back(Decode(e));
    std::reverse(backward.begin(), backward.end());
    ASSERT_EQ(forward, expected) << "after op " << op;
    ASSERT_EQ(backward, expected) << "after op " << op;
    tree.CheckIntegrity();
    max_depth = std::max(max_depth, tree.Verify());
    ASSERT_FALSE(HasFailure());

    // Finding entries among duplicates, and the searches by condition.
    for (int probe = 0; probe < 20 && !model.empty(); ++probe) {
      const auto it = model.find(items[pick()]);
      TORVKeyPath path;
      ASSERT_TRUE(tree.Find(key_of(*it).data(), ref_of(*it).data(), path));
      EXPECT_EQ(Decode(tree.EntryAt(path)), *it);
      const ModelEntry other{std::get<0>(*it), std::get<1>(*it), std::get<2>(*it), static_cast<uint16_t>(std::get<3>(*it) + 1)};
      if (!model.count(other)) {
        EXPECT_FALSE(tree.Find(key_of(other).data(), ref_of(other).data(), path));
      }

      const auto k = random_key();
      const auto search = keys.Key(k);
      const ModelEntry low{k.has_value(), k.value_or(0), INT32_MIN, 0};
      const ModelEntry high{k.has_value(), k.value_or(0), INT32_MAX, 65535};
      const auto first_ge = model.lower_bound(low);
      const auto first_gt = model.upper_bound(high);
      struct Case {
        bool first;
        TORVSearchCondition op;
        std::optional<ModelEntry> expected;
      };
      auto entry = [&](std::set<ModelEntry>::const_iterator i) {
        return i == model.end() ? std::optional<ModelEntry>() : std::optional<ModelEntry>(*i);
      };
      auto before = [&](std::set<ModelEntry>::const_iterator i) {
        return i == model.begin() ? std::optional<ModelEntry>() : std::optional<ModelEntry>(*std::prev(i));
      };
      const bool any_equal = first_ge != first_gt;
      const Case cases[] = {
          {true, scEqual, any_equal ? entry(first_ge) : std::nullopt},
          {false, scEqual, any_equal ? before(first_gt) : std::nullopt},
          {true, scGreaterEqual, entry(first_ge)},
          {true, scGreater, entry(first_gt)},
          {false, scLower, before(first_ge)},
          {false, scLowerEqual, before(first_gt)},
          {true, scLower, first_ge == model.begin() ? std::nullopt : entry(model.begin())},
          {false, scGreaterEqual, first_ge == model.end() ? std::nullopt : before(model.end())},
      };
      for (const Case& c : cases) {
        const bool found = tree.FindByCondition(c.first, search.data(), c.op, path);
        ASSERT_EQ(found, c.expected.has_value()) << "op " << int(c.op) << " first " << c.first;
        if (found) {
          // Equal keys may be met at any of their entries by a search without reference;
          // the key found must be the expected key.
          const ModelEntry got = Decode(tree.EntryAt(path));
          EXPECT_EQ(std::get<0>(got), std::get<0>(*c.expected));
          EXPECT_EQ(std::get<1>(got), std::get<1>(*c.expected)) << "op " << int(c.op) << " first " << c.first;
        }
      }
    }
    pages.ApplyChanges(1);
  }
  EXPECT_GE(max_depth, page_size <= 128 ? 4 : 3);
  // Everything deleted: the root is an empty leaf and every other page was given back.
  for (const ModelEntry& m : std::vector<ModelEntry>(model.begin(), model.end()))
    ASSERT_TRUE(tree.Delete(key_of(m).data(), ref_of(m).data()));
  pages.ApplyChanges(1);
  EXPECT_TRUE(tree.Root()->GetIsLeaf());
  EXPECT_EQ(tree.Root()->GetEntryCount(), 0);
  EXPECT_EQ(pages.AllocatedCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(SmallPages, BTreeModel,
                         ::testing::Values(std::make_tuple(uint16_t{128}, 100000), std::make_tuple(uint16_t{192}, 30000),
                                           std::make_tuple(uint16_t{256}, 30000)));

}  // namespace
}  // namespace orv
