#include "dbengine/storage/orv_btree_record_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/page_store_double.h"

namespace orv {
namespace {

using testing::PageStoreDouble;
using Record = std::vector<uint8_t>;
using Id = std::pair<int32_t, uint16_t>;

TORVPageItemID ToId(Id id) { return {id.first, id.second}; }

class CursorDouble : public IORVIndexCursor {
 public:
  CursorDouble(int32_t session, Id id, const Record* current, const Record* edit = nullptr)
      : session_(session), id_(id), current_(current), edit_(edit) {}
  int32_t GetSessionID() const override { return session_; }
  std::string GetTableName() const override { return "T"; }
  const void* GetCurrentRecordBuffer() const override { return current_->data(); }
  const void* GetEditRecordBuffer() const override { return edit_ ? edit_->data() : nullptr; }
  TORVPageItemID GetCurrentRecordID() const override { return ToId(id_); }

 private:
  int32_t session_;
  Id id_;
  const Record* current_;
  const Record* edit_;
};

// The table as the index sees it: field definitions K (Int32) and S (String 10), stored
// records by id and the pages of its trees.
class TableDouble : public IORVIndexManager, public IORVKeyTable {
 public:
  explicit TableDouble(uint16_t page_size) : pages(page_size, 0) {
    auto* k = defs.AddCreated();
    k->Name = "K";
    k->SetFieldDefDataType(aftInteger, 0);
    auto* s = defs.AddCreated();
    s->Name = "S";
    s->SetFieldDefDataType(aftString, 10);
    defs.RecalcFieldOffsets();
  }

  TORVPageManager* GetPageManager(const TORVIndex&) override { return &pages; }
  IORVKeyTable* GetTableData() override { return this; }
  void ForEachTableRecord(int32_t SessionID, const std::string& TableName,
                          const std::function<void(IORVIndexCursor&)>& Visit) override {
    EXPECT_EQ(TableName, "T");
    for (const auto& [id, record] : records) {
      CursorDouble c(SessionID, id, &record);
      Visit(c);
    }
  }
  bool HasFieldDefs() const override { return true; }
  bool FindKeyField(std::string_view FieldName, TORVKeyFieldInfo& Info) const override {
    return GetKeyFieldInfo(defs, FieldName, Info);
  }
  int32_t GetMemoryRecordBufferSize() const override { return defs.GetMemoryRecordBufferSize(); }
  void GetRecordBuffer(int32_t, TORVNavigationInfo& NavigationInfo) override {
    auto it = records.find({NavigationInfo.RecordID.PageNo, NavigationInfo.RecordID.PageItemNo});
    if (it == records.end() || NavigationInfo.GetRecordMode != grmCurrent) {
      NavigationInfo.GetRecordResult = grrError;
      return;
    }
    std::memcpy(NavigationInfo.RecordBuffer, it->second.data(), it->second.size());
    NavigationInfo.GetRecordResult = grrOK;
  }

  Record Make(int32_t k, std::optional<std::string> s) const {
    Record r(static_cast<size_t>(defs.GetMemoryRecordBufferSize()), 0);
    StoreLE32(r.data() + defs[0]->MemoryOffset, static_cast<uint32_t>(k));
    if (s)
      std::memcpy(r.data() + defs[1]->MemoryOffset, s->data(), s->size());
    else
      SetNullFlag(true, 1, r.data());
    return r;
  }

  PageStoreDouble pages;
  TORVFieldDefs defs;
  std::map<Id, Record> records;
};

// An index on (S cut to 3 bytes in its keys, K descending), optionally unique.
struct Fixture {
  explicit Fixture(uint16_t page_size = 256, bool unique = false) : table(page_size), index(&table) {
    def.ObjectID = 77;
    def.Unique = unique;
    def.AssignByNames({"S", "K"}, {"ASC", "DESC"}, {"CASE", "CASE"});
    def.Columns(0).MaxIndexedSize = 3;
  }
  // A new tree is made by the system session; the tests read it in session 1.
  void Create() {
    index.CreateIndex(nullptr, def);
    table.pages.ApplyChanges(SYSTEM_SESSION_ID);
  }
  void Insert(Id id, int32_t k, std::optional<std::string> s) {
    table.records[id] = table.Make(k, s);
    CursorDouble c(1, id, &table.records[id]);
    index.InsertRecord(c);
  }
  std::vector<Id> Walk(bool forward, bool use_cache) {
    std::vector<Id> out;
    Record buffer(table.records.empty() ? 1 : table.records.begin()->second.size());
    TORVNavigationInfo ni;
    ni.GetRecordMode = forward ? grmNext : grmPrior;
    ni.FirstPosition = forward;
    ni.LastPosition = !forward;
    ni.RecordBuffer = buffer.data();
    TORVIndexPositionCache cache;
    for (;;) {
      index.GetRecordBuffer(1, ni, use_cache ? &cache : nullptr, 5);
      if (ni.GetRecordResult != grrOK) {
        if (out.empty()) {
          EXPECT_EQ(ni.GetRecordResult, grrError) << "an empty index has no first or last entry";
        } else {
          EXPECT_EQ(ni.GetRecordResult, forward ? grrEOF : grrBOF);
          EXPECT_EQ(ni.LastPosition, forward);
        }
        break;
      }
      out.emplace_back(ni.RecordID.PageNo, ni.RecordID.PageItemNo);
      EXPECT_EQ(buffer, table.records.at(out.back()));
    }
    return out;
  }

  TableDouble table;
  TORVBTreeRecordIndex index;
  TORVIndexDef def;
};

// The order the index must keep: S ascending (byte order equals the collation for the
// letters used), K descending, then the record id.
struct ModelKey {
  std::optional<std::string> s;  // NULL sorts first
  int32_t k;
  Id id;
  bool operator<(const ModelKey& o) const {
    return std::tuple(s, -static_cast<int64_t>(k), id) < std::tuple(o.s, -static_cast<int64_t>(o.k), o.id);
  }
};

std::vector<Id> ModelOrder(const std::map<Id, std::pair<int32_t, std::optional<std::string>>>& model) {
  std::set<ModelKey> keys;
  for (const auto& [id, v] : model) keys.insert({v.second, v.first, id});
  std::vector<Id> out;
  for (const auto& k : keys) out.push_back(k.id);
  return out;
}

TEST(TORVBTreeRecordIndex, RandomChangesKeepTheModelOrder) {
  Fixture f;
  f.Create();
  EXPECT_NE(f.def.RootPageNo, -1);
  std::mt19937 rng(20261211);
  std::map<Id, std::pair<int32_t, std::optional<std::string>>> model;
  auto random_s = [&]() -> std::optional<std::string> {
    if (rng() % 8 == 0) return std::nullopt;
    std::string s(rng() % 6, 'a');
    for (char& c : s) c = static_cast<char>('a' + rng() % 3);
    return s;
  };
  int32_t next_page = -3;  // negative page numbers order before positive ones in record ids
  for (int round = 0; round < 8; ++round) {
    for (int step = 0; step < 120; ++step) {
      const unsigned action = rng() % 10;
      if (action < 6 || model.size() < 5) {
        const Id id{next_page + static_cast<int32_t>(rng() % 40), static_cast<uint16_t>(rng() % 70000)};
        if (model.count(id)) continue;
        const int32_t k = static_cast<int32_t>(rng() % 21) - 10;
        const std::optional<std::string> s = random_s();
        f.Insert(id, k, s);
        model[id] = {k, s};
      } else {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        const Id id = it->first;
        if (action < 8) {
          CursorDouble c(1, id, &f.table.records[id]);
          f.index.DeleteRecord(c);
          f.table.records.erase(id);
          model.erase(it);
        } else {
          const Record old = f.table.records[id];
          const int32_t k = rng() % 2 ? it->second.first : static_cast<int32_t>(rng() % 21) - 10;
          const std::optional<std::string> s = rng() % 2 ? it->second.second : random_s();
          const Record updated = f.table.Make(k, s);
          CursorDouble c(1, id, &updated, &old);
          f.index.UpdateRecord(c, true);
          f.table.records[id] = updated;
          f.index.UpdateRecord(c, false);
          it->second = {k, s};
        }
      }
    }
    const std::vector<Id> expected = ModelOrder(model);
    ASSERT_EQ(f.Walk(true, round % 2 == 0), expected) << "round " << round;
    std::vector<Id> backward = f.Walk(false, round % 2 == 1);
    std::reverse(backward.begin(), backward.end());
    ASSERT_EQ(backward, expected);
    for (size_t i = 0; i < expected.size(); i += 7) {
      const Id id = expected[i];
      EXPECT_EQ(f.index.GetRecNoByRecordID(1, ToId(id), f.table.records[id].data()), static_cast<int64_t>(i + 1));
      EXPECT_EQ(f.index.GetRecordIDByRecNo(1, static_cast<int64_t>(i + 1)), ToId(id));
      // A bitmap number leads back to the same entry.
      TORVKeyPath path, rebuilt;
      ASSERT_TRUE(f.index.GetIndexPosition(1, ToId(id), f.table.records[id].data(), &path));
      rebuilt.FillItemsByBitmapRecNo(path.GetBitmapRecNoByIndexPosition(f.index.GetMaxEntriesPerPage()),
                                     f.index.GetMaxEntriesPerPage());
      TORVPageItemID back;
      f.index.GetRecordIDByIndexPosition(1, rebuilt, back);
      EXPECT_EQ(back, ToId(id));
    }
    ExpectCode(20075, [&] { f.index.GetRecordIDByRecNo(1, static_cast<int64_t>(expected.size() + 1)); });
  }
  // A record not in the index has no number.
  const Record stray = f.table.Make(1, "zz");
  EXPECT_EQ(f.index.GetRecNoByRecordID(1, {999, 1}, stray.data()), -1);
}

TEST(TORVBTreeRecordIndex, CreateFillsFromTheTableAndDropFreesEveryPage) {
  Fixture f;
  f.Create();
  EXPECT_TRUE(f.Walk(true, false).empty());
  TORVNavigationInfo ni;
  ni.GetRecordMode = grmNext;
  ni.FirstPosition = true;
  f.index.GetRecordBuffer(1, ni, nullptr, 0);
  EXPECT_EQ(ni.GetRecordResult, grrError) << "the first record of an empty index";

  Fixture g;
  std::map<Id, std::pair<int32_t, std::optional<std::string>>> model;
  for (int i = 0; i < 150; ++i) {
    const Id id{i % 13, static_cast<uint16_t>(i)};
    const std::optional<std::string> s = std::string(1 + i % 4, static_cast<char>('a' + i % 5));
    g.table.records[id] = g.table.Make(i % 9, s);
    model[id] = {i % 9, s};
  }
  const size_t before = g.table.pages.AllocatedCount();
  Record none;
  CursorDouble cursor(4, {0, 0}, &none);
  g.index.CreateIndex(&cursor, g.def);
  g.table.pages.ApplyChanges(4);
  EXPECT_EQ(g.index.IndexDef()->RootPageNo, g.def.RootPageNo);
  EXPECT_EQ(g.Walk(true, true), ModelOrder(model));
  EXPECT_GT(g.table.pages.AllocatedCount(), before + 2);
  g.index.DropIndex(4);
  g.table.pages.ApplyChanges(4);
  EXPECT_EQ(g.table.pages.AllocatedCount(), before);
  ExpectCode(20121, [&] {
    TORVKeyPath p;
    g.index.GetFirstPosition(4, p);
  });
  // A temporary index is rebuilt from the table.
  g.index.RebuildTemporaryIndex(&cursor);
  g.table.pages.ApplyChanges(4);
  EXPECT_EQ(g.Walk(false, false).size(), model.size());
  g.index.EmptyIndex(4);
  g.table.pages.ApplyChanges(4);
  EXPECT_TRUE(g.Walk(true, false).empty());
  EXPECT_EQ(g.table.pages.AllocatedCount(), before + 1);
}

TEST(TORVBTreeRecordIndex, UniqueKeysAndUpdates) {
  for (bool unique : {false, true}) {
    Fixture f(256, unique);
    f.Create();
    f.Insert({1, 1}, 5, "abcdef");
    f.Insert({1, 2}, 5, "abcdef");
    EXPECT_EQ(f.Walk(true, false), (std::vector<Id>{{1, 1}, {1, 2}})) << "equal keys in record id order";
    const Record same = f.table.Make(5, "abcdef");
    const Record longer = f.table.Make(5, "abcdefg");  // equal in the kept prefix only
    EXPECT_EQ(f.index.CanInsertRecord(1, same.data()), !unique);
    EXPECT_TRUE(f.index.CanInsertRecord(1, longer.data()));
    EXPECT_TRUE(f.index.CanUpdateRecord(1, same.data(), same.data()));
    EXPECT_TRUE(f.index.CanUpdateRecord(1, longer.data(), longer.data()));
    EXPECT_EQ(f.index.CanUpdateRecord(1, longer.data(), same.data()), !unique);
  }
  // An update whose index columns stay leaves the entry in place in both calls.
  Fixture f;
  f.Create();
  f.Insert({2, 1}, 3, "xyz");
  const Record old = f.table.records[{2, 1}];
  CursorDouble unchanged(1, {2, 1}, &old, &old);
  f.index.UpdateRecord(unchanged, true);
  TORVKeyPath path;
  EXPECT_TRUE(f.index.GetIndexPosition(1, {2, 1}, old.data(), &path));
  f.index.UpdateRecord(unchanged, false);
  EXPECT_EQ(f.Walk(true, false).size(), 1u);
  // A changed key leaves the tree before the record is stored and returns after.
  const Record changed = f.table.Make(4, "xyz");
  CursorDouble moved(1, {2, 1}, &changed, &old);
  f.index.UpdateRecord(moved, true);
  EXPECT_FALSE(f.index.GetIndexPosition(1, {2, 1}, old.data(), &path));
  ExpectCode(20250, [&] { f.index.UpdateRecord(moved, true); });
  f.table.records[{2, 1}] = changed;
  f.index.UpdateRecord(moved, false);
  EXPECT_TRUE(f.index.GetIndexPosition(1, {2, 1}, changed.data(), &path));
  CursorDouble gone(1, {9, 9}, &changed);
  ExpectCode(20027, [&] { f.index.DeleteRecord(gone); });
}

// Keys 3, 5, 5, 7 on an index over K ascending.
struct ScanFixture {
  ScanFixture() : table(256), index(&table) {
    def.ObjectID = 5;
    def.AssignByNames({"K"}, {"ASC"}, {"CASE"});
    index.CreateIndex(nullptr, def);
    table.pages.ApplyChanges(SYSTEM_SESSION_ID);
    int n = 0;
    for (int32_t k : {3, 5, 5, 7}) {
      const Id id{1, static_cast<uint16_t>(++n)};
      table.records[id] = table.Make(k, "");
      CursorDouble c(1, id, &table.records[id]);
      index.InsertRecord(c);
    }
  }
  std::unique_ptr<TORVScanSearchCondition> Condition(TORVSearchCondition op, int32_t k) {
    keys.push_back(table.Make(k, ""));
    auto c = std::make_unique<TORVScanSearchCondition>(true);
    c->Condition = op;
    c->KeyRecordBuffer = keys.back().data();
    c->KeyFieldCount = 1;
    return c;
  }
  std::vector<int> Scan(bool forward, const TORVScanSearchCondition* start, const TORVScanSearchCondition* end) {
    std::vector<int> out;
    void* info = index.CreateSearchInfo();
    TORVPageItemID id;
    bool restart = true;
    while (index.FindRecord(1, restart, forward, start, end, nullptr, id, info)) {
      out.push_back(id.PageItemNo);
      restart = false;
    }
    index.FreeSearchInfo(info);
    return out;
  }
  TableDouble table;
  TORVBTreeRecordIndex index;
  TORVIndexDef def;
  std::deque<Record> keys;
};

TEST(TORVBTreeRecordIndex, RangedScans) {
  ScanFixture f;
  auto ge5 = f.Condition(scGreaterEqual, 5);
  EXPECT_EQ(f.Scan(true, ge5.get(), nullptr), (std::vector<int>{2, 3, 4}));
  auto le5 = f.Condition(scLowerEqual, 5);
  EXPECT_EQ(f.Scan(false, le5.get(), nullptr), (std::vector<int>{3, 2, 1}));
  auto gt3 = f.Condition(scGreater, 3);
  auto lt7 = f.Condition(scLower, 7);
  EXPECT_EQ(f.Scan(true, gt3.get(), lt7.get()), (std::vector<int>{2, 3}));
  auto eq5 = f.Condition(scEqual, 5);
  EXPECT_EQ(f.Scan(true, eq5.get(), nullptr), (std::vector<int>{2, 3}));
  auto gt7 = f.Condition(scGreater, 7);
  EXPECT_TRUE(f.Scan(true, gt7.get(), nullptr).empty());
  EXPECT_EQ(f.Scan(false, nullptr, nullptr), (std::vector<int>{4, 3, 2, 1}));

  // Without a restart the scan goes on from the caller's record, inside the range only.
  auto ge5b = f.Condition(scGreaterEqual, 5);
  void* info = f.index.CreateSearchInfo();
  TORVPageItemID id{1, 1};
  ASSERT_TRUE(f.index.FindRecord(1, false, true, ge5b.get(), nullptr, f.table.records[{1, 1}].data(), id, info));
  EXPECT_EQ(id.PageItemNo, 2) << "from before the range: its first record";
  ExpectCode(20078, [&] { f.index.FindRecord(1, true, true, ge5b.get(), nullptr, nullptr, id, info); });
  f.index.FreeSearchInfo(info);
  info = f.index.CreateSearchInfo();
  id = {1, 2};
  ASSERT_TRUE(f.index.FindRecord(1, false, true, ge5b.get(), nullptr, f.table.records[{1, 2}].data(), id, info));
  EXPECT_EQ(id.PageItemNo, 3);
  f.index.FreeSearchInfo(info);
  ExpectCode(20077, [&] { f.index.FindRecord(1, true, true, nullptr, nullptr, nullptr, id, nullptr); });

  EXPECT_EQ(f.index.CompareConditions(*ge5, *le5), -1);
  EXPECT_EQ(f.index.CompareConditions(*le5, *ge5), 1);
  EXPECT_EQ(f.index.CompareConditions(*eq5, *ge5), 0);
  for (auto [a, b] : {std::pair{gt3.get(), lt7.get()}, std::pair{lt7.get(), gt3.get()}, std::pair{ge5.get(), gt7.get()}, std::pair{ge5.get(), le5.get()}}) {
    for (int64_t total : {0, 4, 1000}) {
      const int64_t n = f.index.GetApproxRangeRecordCount(1, total, *a, *b);
      EXPECT_GE(n, 0);
      EXPECT_LE(n, total);
    }
  }
  EXPECT_EQ(f.index.GetApproxRangeRecordCount(1, 4, *ge5, *gt7), 0) << "an end bound that finds nothing";
}

TEST(TORVBTreeRecordIndex, ClosestRecordAndCache) {
  ScanFixture f;
  Record buffer = f.table.Make(7, "");
  TORVNavigationInfo ni;
  ni.GetRecordMode = grmNext;
  ni.RecordBuffer = buffer.data();
  f.index.GetClosestRecordBuffer(1, ni, nullptr, 0);
  EXPECT_EQ(ni.GetRecordResult, grrEOF);
  EXPECT_TRUE(ni.LastPosition);
  const Record five = f.table.Make(5, "");
  std::copy(five.begin(), five.end(), buffer.begin());
  ni.GetRecordMode = grmPrior;
  TORVIndexPositionCache cache;
  f.index.GetClosestRecordBuffer(1, ni, &cache, 9);
  ASSERT_EQ(ni.GetRecordResult, grrOK);
  EXPECT_EQ(ni.RecordID, (TORVPageItemID{1, 1}));
  EXPECT_EQ(ni.GetRecordMode, grmPrior);
  EXPECT_EQ(cache.IndexID, 5);
  EXPECT_EQ(cache.TableState, 9);
  // From the cached position the next record needs no search by key: a record buffer that
  // no longer matches the entry does not mislead it.
  ni.GetRecordMode = grmNext;
  std::memset(buffer.data(), 0, buffer.size());
  f.index.GetRecordBuffer(1, ni, &cache, 9);
  ASSERT_EQ(ni.GetRecordResult, grrOK);
  EXPECT_EQ(ni.RecordID, (TORVPageItemID{1, 2}));
  ExpectCode(20053, [&] {
    ni.GetRecordMode = grmCurrent;
    f.index.GetRecordBuffer(1, ni, nullptr, 0);
  });
}

class BitmapDouble : public IORVIndexRecordBitmap {
 public:
  explicit BitmapDouble(TORVIndex& index) : index_(index) {}
  int64_t Bit(const TORVKeyPath& p) { return p.GetBitmapRecNoByIndexPosition(index_.GetMaxEntriesPerPage()); }
  bool IsRecordVisible(int32_t IndexID, const TORVKeyPath& IndexPos) override {
    EXPECT_EQ(IndexID, 77);
    return !hidden.count(Bit(IndexPos));
  }
  void HideRecord(int32_t, const TORVKeyPath& IndexPos) override { hidden.insert(Bit(IndexPos)); }
  std::set<int64_t> hidden;

 private:
  TORVIndex& index_;
};

TEST(TORVBTreeRecordIndex, DistinctKeepsTheFirstVisibleOfEachRun) {
  Fixture f;
  f.Create();
  // First column values a, a, b, a (index order a, a, a, b), long enough to be cut.
  f.Insert({1, 1}, 1, "aaaaa");
  f.Insert({1, 2}, 2, "aaaaa");
  f.Insert({1, 3}, 3, "aaaab");
  f.Insert({1, 4}, 4, "aaaaa");
  BitmapDouble bitmap(f.index);
  f.index.ApplyDistinctToRecordBitmap(1, &bitmap, 1);
  std::set<Id> visible;
  for (const auto& [id, record] : f.table.records) {
    TORVKeyPath p;
    ASSERT_TRUE(f.index.GetIndexPosition(1, ToId(id), record.data(), &p));
    if (!bitmap.hidden.count(bitmap.Bit(p))) visible.insert(id);
  }
  // Index order is a (K desc: 4, 2, 1), then b: the first of the run is K 4.
  EXPECT_EQ(visible, (std::set<Id>{{1, 4}, {1, 3}}));
  EXPECT_EQ(f.index.KeyRef()->FCompareFieldCount, 2) << "the column count is restored";

  // A record hidden before stays hidden; the first visible one of its run is kept instead.
  BitmapDouble filtered(f.index);
  TORVKeyPath first;
  ASSERT_TRUE(f.index.GetFirstPosition(1, first));
  filtered.HideRecord(77, first);
  f.index.ApplyDistinctToRecordBitmap(1, &filtered, 1);
  std::set<Id> kept;
  for (const auto& [id, record] : f.table.records) {
    TORVKeyPath p;
    ASSERT_TRUE(f.index.GetIndexPosition(1, ToId(id), record.data(), &p));
    if (!filtered.hidden.count(filtered.Bit(p))) kept.insert(id);
  }
  EXPECT_EQ(kept, (std::set<Id>{{1, 2}, {1, 3}}));
  ExpectCode(20076, [&] { f.index.ApplyDistinctToRecordBitmap(1, nullptr, 1); });
  EXPECT_EQ(f.index.CompareRecordBuffersByIndex(f.table.records[{1, 1}].data(), f.table.records[{1, 2}].data(), 1), 0);
  EXPECT_GT(f.index.CompareRecordBuffersByIndex(f.table.records[{1, 1}].data(), f.table.records[{1, 2}].data(), 2), 0);
}

// Walks along a level of a damaged tree whose links run in a circle end with an error.
TEST(TORVBTreeRecordIndex, CircularLeafLinksAreRefused) {
  Fixture f;
  f.Create();
  for (int i = 0; i < 60; ++i) f.Insert({1, static_cast<uint16_t>(i)}, i, "k");
  TORVKeyPath first, last;
  ASSERT_TRUE(f.index.GetFirstPosition(1, first));
  ASSERT_TRUE(f.index.GetLastPosition(1, last));
  ASSERT_NE(first.Last().PageNo, last.Last().PageNo);
  TORVBTreePage pages(&f.table.pages, f.index.KeyRef());
  {
    TORVBTreePageRef leaf = pages.GetIndexPage(1, last.Last().PageNo);
    leaf->SetLeftPageNo(leaf->GetPageNo());
    leaf->SetIsDirty(true);
    TORVBTreePageRef head = pages.GetIndexPage(1, first.Last().PageNo);
    head->SetRightPageNo(head->GetPageNo());
    head->SetIsDirty(true);
  }
  TORVPageItemID id;
  f.index.GetRecordID(1, last, id);
  ExpectCode(20071, [&] { f.index.GetRecNoByRecordID(1, id, f.table.records[{id.PageNo, id.PageItemNo}].data()); });
  ExpectCode(20070, [&] { f.index.GetRecordIDByRecNo(1, 60); });
}

TEST(TORVBTreeRecordIndex, OperationsWithoutATreeAreRefused) {
  TableDouble table(256);
  TORVBTreeRecordIndex index(&table);
  TORVIndexDef def;
  def.AssignByNames({"K"}, {"ASC"}, {"CASE"});
  index.OpenIndex(def);  // RootPageNo -1
  Record r = table.Make(1, "a");
  CursorDouble c(1, {1, 1}, &r);
  TORVNavigationInfo ni;
  ni.GetRecordMode = grmNext;
  ni.RecordBuffer = r.data();
  TORVKeyPath p;
  TORVScanSearchCondition cond(true);
  cond.KeyRecordBuffer = r.data();
  ExpectCode(20119, [&] { index.DropIndex(1); });
  ExpectCode(20120, [&] { index.EmptyIndex(1); });
  ExpectCode(20121, [&] { index.GetFirstPosition(1, p); });
  ExpectCode(20122, [&] { index.GetLastPosition(1, p); });
  ExpectCode(20123, [&] { index.GetRecordBuffer(1, ni, nullptr, 0); }, "Invalid page number - Native error: 20123");
  ExpectCode(20124, [&] { index.GetIndexPosition(1, {1, 1}, r.data(), &p); });
  ExpectCode(20125, [&] { index.GetApproxRangeRecordCount(1, 10, cond, cond); });
  ExpectCode(20126, [&] { index.CanInsertRecord(1, r.data()); });
  ExpectCode(20127, [&] { index.InsertRecord(c); });
  ExpectCode(20293, [&] { index.GetClosestRecordBuffer(1, ni, nullptr, 0); });
  ExpectCode(10384, [&] { index.CompareRecordPositionsInIndex(nullptr, &p); });
  ExpectCode(10385, [&] { index.CompareRecordPositionsInIndex(&p, nullptr); });
  ExpectCode(20068, [&] {
    TORVPageItemID id;
    index.GetRecordID(1, p, id);
  });
  ExpectCode(20069, [&] { index.GetNextPosition(1, p); });

  index.CreateIndex(nullptr, def);
  table.pages.ApplyChanges(SYSTEM_SESSION_ID);
  ExpectCode(20074, [&] { index.GetRecordIDByRecNo(1, 1); });
  // One entry takes the short key (a null flag and 4 bytes) and a 4-byte child number.
  EXPECT_EQ(index.GetMaxEntriesPerPage(), 256 / (5 + 4));
}

}  // namespace
}  // namespace orv
