#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/orv_btree_page_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/tests/page_store_double.h"

namespace orv {
namespace {

// Hostile inputs must end at once; this bound only tells "at once" from the endless or
// seconds-long runs they caused, it is not a speed goal.
constexpr auto kHangGuard = std::chrono::seconds(5);

using testing::PageStoreDouble;

std::vector<std::pair<int32_t, int32_t>> Entries(TORVBTreePageIndex& index) {
  std::vector<std::pair<int32_t, int32_t>> out;
  TORVKeyPath p;
  for (bool ok = index.GetFirstPosition(1, p); ok; ok = index.GetNextPosition(1, p))
    out.push_back({index.GetPageNo(1, p), index.GetPageValue(1, p)});
  return out;
}

TEST(TORVBTreePageIndex, StoredBytes) {
  PageStoreDouble pages(4096, 40);
  TORVBTreeRecordPageIndex index(&pages);
  index.FMaxRecordsOnPage = 10;
  index.CreateIndex(1);
  index.AddRecord(1, 9, 3);
  index.AddRecord(1, 7, 2);
  pages.ApplyChanges(1);
  const std::vector<uint8_t>& page = pages.store.at(index.RootPageNo());
  // struct.pack('<BBiiBBHHH', 1, 1, -1, -1, 1, 0, 4, 2, 0) + struct.pack('<iH', 7, 2)
  //   + struct.pack('<iH', 9, 3)
  const std::vector<uint8_t> expected = {1, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 4, 0, 2, 0, 0, 0,
                                         7, 0, 0, 0, 2, 0, 9, 0, 0, 0, 3, 0};
  EXPECT_EQ(std::vector<uint8_t>(page.begin() + 40, page.begin() + 40 + 30), expected);
}

TEST(TORVBTreeRecordPageIndex, CountsAndRecordNumbers) {
  PageStoreDouble pages(4096, 40);
  TORVBTreeRecordPageIndex index(&pages);
  index.FMaxRecordsOnPage = 5;
  int32_t page = 0;
  ExpectCode(20118, [&] { index.AddRecord(1, 7, 1); });
  ExpectCode(20115, [&] { TORVKeyPath p; index.GetFirstPosition(1, p); });
  index.CreateIndex(1);
  EXPECT_FALSE(index.FindPageForNewRecord(1, page));
  EXPECT_FALSE(index.GetFirstRecordPage(1, page));
  index.Validate(1, 0);
  index.AddRecord(1, 7, 2);
  index.AddRecord(1, 9, 3);
  EXPECT_EQ(Entries(index), (std::vector<std::pair<int32_t, int32_t>>{{7, 2}, {9, 3}}));
  int32_t on_page = 0;
  index.GetRecordByRecNo(1, 2, page, on_page);
  EXPECT_EQ(page, 9);
  EXPECT_EQ(on_page, 0);
  int64_t recno = 0;
  index.GetRecNoByRecord(1, 9, 1, recno);
  EXPECT_EQ(recno, 3);
  ExpectCode(20113, [&] { index.GetRecordByRecNo(1, 5, page, on_page); },
             "Cannot set RecNo greater than RecordCount - Native error: 20113");
  ExpectCode(20114, [&] { index.GetRecNoByRecord(1, 8, 0, recno); });
  index.Validate(1, 5);
  ExpectCode(20292, [&] { index.Validate(1, 4); },
             "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=5, "
             "MostUpdated.RecordCount=4 - Native error: 20292");
  // Room: the last page first.
  EXPECT_TRUE(index.FindPageForNewRecord(1, page));
  EXPECT_EQ(page, 9);
  index.AddRecord(1, 9, 2);  // one place left: fits
  ExpectCode(20106, [&] { index.AddRecord(1, 9, 1); }, "Cannot add data item to page. Page is full - Native error: 20106");
  EXPECT_TRUE(index.FindPageForNewRecord(1, page));
  EXPECT_EQ(page, 7);
  int32_t next = 0;
  EXPECT_TRUE(index.GetNextRecordPage(1, 7, next));
  EXPECT_EQ(next, 9);
  EXPECT_FALSE(index.GetNextRecordPage(1, 9, next));
  EXPECT_FALSE(index.GetPriorRecordPage(1, 7, next));
  ExpectCode(20104, [&] { index.GetNextRecordPage(1, 8, next); });
  ExpectCode(20105, [&] { index.GetPriorRecordPage(1, 8, next); });
  EXPECT_TRUE(index.GetLastRecordPage(1, page));
  EXPECT_EQ(page, 9);
  index.DeleteRecord(1, 7, 0);  // a count of 0 removes the entry
  EXPECT_EQ(Entries(index), (std::vector<std::pair<int32_t, int32_t>>{{9, 5}}));
  ExpectCode(20111, [&] { index.DeleteRecord(1, 7, 0); });
  index.DeleteRecord(1, 9, 4);
  EXPECT_EQ(Entries(index), (std::vector<std::pair<int32_t, int32_t>>{{9, 4}}));
  ExpectCode(20107, [&] { TORVKeyPath empty; index.GetPageValue(1, empty); });
  ExpectCode(20099, [&] { TORVKeyPath empty; index.GetNextPosition(1, empty); });
  index.EmptyIndex(1);
  EXPECT_TRUE(Entries(index).empty());
  index.DropIndex(1);
  EXPECT_EQ(index.RootPageNo(), -1);
  pages.ApplyChanges(1);
  EXPECT_EQ(pages.AllocatedCount(), 0u);
}

TEST(TORVBTreeBlobPageIndex, AllocatedSpace) {
  PageStoreDouble pages(4096, 40);  // 4056 bytes of page data
  TORVBTreeBlobPageIndex index(&pages);
  index.CreateIndex(1);
  int32_t page = 0;
  index.AddBlob(1, 4050, 3);  // a new page enters without a test
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(1, 3), 4050);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(1, 4), -1);
  EXPECT_FALSE(index.FindPageForNewBlob(1, 4, page));  // 4050 + 4 = 4054, not below 4054
  EXPECT_TRUE(index.FindPageForNewBlob(1, 3, page));
  EXPECT_EQ(page, 3);
  ExpectCode(20106, [&] { index.AddBlob(1, 4, 3); });
  index.DeleteBlob(1, 50, 3);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(1, 3), 4000);
  index.DeleteBlob(1, 4000, 3);  // down to 0: the entry goes
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(1, 3), -1);
  index.AddBlob(1, 0, 5);
  ExpectCode(20112, [&] { index.DeleteBlob(1, 1, 5); }, "Index error: page is empty - Native error: 20112");
  ExpectCode(20110, [&] {
    TORVBTreeBlobPageIndex none(&pages);
    none.DeleteBlob(1, 1, 5);
  });
}

// On 4096-byte pages with the 40-byte page header a leaf holds exactly 673 entries
// (673 x 6 + 18 = 4056). A leaf that empties between two exactly full neighbours must
// still leave the tree.
TEST(TORVBTreePageIndex, AnEmptyPageBetweenFullNeighboursIsRemoved) {
  PageStoreDouble pages(4096, 40);
  TORVBTreeRecordPageIndex index(&pages);
  index.FMaxRecordsOnPage = 1000;
  index.CreateIndex(1);
  // Ascending inserts split every leaf at its middle: 337 entries each, keys far apart.
  for (int32_t i = 0; i < 1200; ++i) index.AddRecord(1, i * 1000, 1);
  auto leaves = [&] {
    std::vector<std::pair<int32_t, int32_t>> out;  // (page, entry count)
    TORVKeyPath p;
    index.GetFirstPosition(1, p);
    for (int32_t no = p.Last().PageNo; no != -1;) {
      TORVBTreePageRef leaf = index.GetIndexPage(1, no);
      out.push_back({no, leaf->GetEntryCount()});
      no = leaf->GetRightPageNo();
    }
    return out;
  };
  auto first_key = [&](int32_t page_no) {
    TORVBTreePageRef leaf = index.GetIndexPage(1, page_no);
    return static_cast<int32_t>(LoadLE32(leaf->GetPKey(0)));
  };
  auto before = leaves();
  ASSERT_GE(before.size(), 3u);
  ASSERT_EQ(before[0].second, 337);
  // Fill the first and third leaves to exactly 673 with keys inside their ranges.
  for (size_t l : {size_t{0}, size_t{2}}) {
    const int32_t base = first_key(before[l].first);
    for (int32_t k = 1; k <= 673 - before[l].second; ++k) index.AddRecord(1, base + k, 1);
  }
  auto full = leaves();
  ASSERT_EQ(full.size(), before.size());
  ASSERT_EQ(full[0].second, 673);
  ASSERT_EQ(full[2].second, 673);
  // Empty the middle leaf entry by entry.
  const int32_t middle = full[1].first;
  std::vector<int32_t> keys;
  {
    TORVBTreePageRef leaf = index.GetIndexPage(1, middle);
    for (int32_t e = 0; e < leaf->GetEntryCount(); ++e) keys.push_back(static_cast<int32_t>(LoadLE32(leaf->GetPKey(e))));
  }
  for (int32_t k : keys) index.DeleteRecord(1, k, 0);
  const auto after = leaves();
  EXPECT_EQ(after.size(), full.size() - 1);
  for (const auto& [no, count] : after) EXPECT_GT(count, 0) << "empty leaf " << no;
  // Walks in both directions see every remaining page, none of the deleted ones.
  std::vector<int32_t> forward;
  int32_t page = 0;
  for (bool ok = index.GetFirstRecordPage(1, page); ok; ok = index.GetNextRecordPage(1, page, page)) forward.push_back(page);
  size_t total = 0;
  for (const auto& [no, count] : full) total += static_cast<size_t>(count);
  EXPECT_EQ(forward.size(), total - keys.size());
  for (int32_t k : keys) EXPECT_FALSE(std::binary_search(forward.begin(), forward.end(), k));
  std::vector<int32_t> backward;
  for (bool ok = index.GetLastRecordPage(1, page); ok; ok = index.GetPriorRecordPage(1, page, page)) backward.push_back(page);
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, forward);
  index.CheckIntegrity(1);
  index.Validate(1, static_cast<int32_t>(forward.size()));
  pages.ApplyChanges(1);
  EXPECT_FALSE(pages.IsAllocated(middle));
}

TEST(TORVBTreePageIndex, RandomPagesMatchAMap) {
  PageStoreDouble pages(256, 0);
  TORVBTreeRecordPageIndex index(&pages);
  index.FMaxRecordsOnPage = 50;
  index.CreateIndex(1);
  std::map<int32_t, int32_t> model;
  std::mt19937 rng(17);
  for (int op = 0; op < 20000; ++op) {
    const int32_t no = static_cast<int32_t>(rng() % 3000);
    auto it = model.find(no);
    if (it == model.end() || rng() % 3) {
      const int32_t add = 1 + static_cast<int32_t>(rng() % 3);
      if (it != model.end() && it->second >= 50) continue;
      if (it != model.end() && it->second + add > 50) continue;
      index.AddRecord(1, no, add);
      model[no] += add;
    } else {
      const int32_t now = static_cast<int32_t>(rng() % static_cast<unsigned>(it->second));
      index.DeleteRecord(1, no, now);
      if (now == 0)
        model.erase(it);
      else
        it->second = now;
    }
    if (op % 2000 == 1999) {
      std::vector<std::pair<int32_t, int32_t>> expected(model.begin(), model.end());
      ASSERT_EQ(Entries(index), expected);
      index.CheckIntegrity(1);
      // Record numbers for a sample of pages (each lookup walks the leaf level).
      int64_t total = 0;
      int sample = 0;
      for (const auto& [p, c] : model) {
        if (sample++ % 97 == 0) {
          int64_t recno = 0;
          index.GetRecNoByRecord(1, p, 0, recno);
          ASSERT_EQ(recno, total);
          int32_t page = 0, on_page = 0;
          index.GetRecordByRecNo(1, total + c - 1, page, on_page);
          ASSERT_EQ(page, p);
          ASSERT_EQ(on_page, c - 1);
        }
        total += c;
      }
      index.Validate(1, static_cast<int32_t>(total));
      pages.ApplyChanges(1);
    }
  }
}

// Damaged links read from a file: node entries that name one child many times (a shared
// subtree, which a walk would enter exponentially often) or a cycle through different levels.
// Every walk keeps the pages it entered and ends at once with the damaged-index error.
TEST(TORVBTreePageIndex, DamagedLinksEndEveryWalkPromptly) {
  constexpr uint16_t kPageSize = 128;
  // Raw index pages: the 18-byte header, then entries of a 4-byte key and a 4-byte child
  // (nodes) or a 2-byte value (leaves).
  auto page = [&](bool root, bool leaf, int32_t left, int32_t right, const std::vector<int32_t>& children) {
    std::vector<uint8_t> b(kPageSize, 0);
    b[btree_header::IsRoot] = root;
    b[btree_header::IsLeaf] = leaf;
    StoreLE32(b.data() + btree_header::LeftPageNo, static_cast<uint32_t>(left));
    StoreLE32(b.data() + btree_header::RightPageNo, static_cast<uint32_t>(right));
    b[btree_header::HasKeys] = 1;
    StoreLE16(b.data() + btree_header::KeyPrefixSize, 4);
    StoreLE16(b.data() + btree_header::EntryCount, static_cast<uint16_t>(children.size()));
    for (size_t i = 0; i < children.size(); ++i) {
      uint8_t* e = b.data() + btree_header::Size + i * (leaf ? 6 : 8);
      StoreLE32(e, static_cast<uint32_t>(100 * i));
      if (leaf)
        StoreLE16(e + 4, 1);
      else
        StoreLE32(e + 4, static_cast<uint32_t>(children[i]));
    }
    return b;
  };
  const auto started = std::chrono::steady_clock::now();
  {
    // 25 levels of nodes whose 8 entries all name the next level (8^25 paths), each page
    // linked to itself so that the neighbour checks pass; at the bottom an empty leaf.
    PageStoreDouble pages(kPageSize, 0);
    for (int32_t level = 0; level < 25; ++level)
      pages.store[level] = page(level == 0, false, level, level, std::vector<int32_t>(8, level + 1));
    pages.store[25] = page(false, true, 25, 25, {});
    TORVBTreeRecordPageIndex index(&pages);
    index.OpenIndex(0);
    ExpectCode(20032, [&] { index.CheckIntegrity(1); });
    TORVBTreePageRef root = index.GetIndexPage(1, 0);
    TORVKeyPath path;
    ExpectCode(20307, [&] { root->FindByCondition(1, true, nullptr, scNone, path); });
    path.Clear();
    uint8_t key[4] = {100, 0, 0, 0};  // equal to a separator: two children to search
    ExpectCode(20307, [&] { root->FindEntry(1, key, nullptr, path); });
    ExpectCode(20307, [&] { root->FreeAllPages(1, true); });
    EXPECT_EQ(std::count(pages.removed.begin(), pages.removed.end(), 25), 0);  // nothing given back twice
  }
  {
    // A cycle: the root's second child names the root again, one level down.
    PageStoreDouble pages(kPageSize, 0);
    pages.store[0] = page(true, false, -1, -1, {1, 2});
    pages.store[1] = page(false, true, -1, 2, {1});
    pages.store[2] = page(false, false, 1, -1, {0});
    TORVBTreeRecordPageIndex index(&pages);
    index.OpenIndex(0);
    TORVBTreePageRef root = index.GetIndexPage(1, 0);
    ExpectCode(20307, [&] { root->FreeAllPages(1, false); });
    TORVKeyPath path;
    ExpectCode(20307, [&] { root->GetLastPosition(1, path); });
    path.Clear();
    ExpectCode(20307, [&] { root->FindByCondition(1, false, nullptr, scNone, path); });
    ExpectCode(20032, [&] { index.CheckIntegrity(1); });
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, kHangGuard);
}

}  // namespace
}  // namespace orv
