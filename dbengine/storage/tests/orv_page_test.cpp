#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/orv_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/tests/page_store_double.h"

namespace orv {
namespace {

using testing::PageStoreDouble;

// Adds a page for the session, writes Value into its data and releases it.
int32_t AddWith(TORVPageManager& m, int32_t session, uint8_t value) {
  TORVPage* p = m.AddPage(session, ptTableIndex);
  std::memset(p->GetPageData(), value, static_cast<size_t>(p->GetPageDataSize()));
  const int32_t no = p->FPageNo;
  m.PutPage(p);
  return no;
}

uint8_t Read(TORVPageManager& m, int32_t session, int32_t no) {
  TORVPage* p = m.GetPage(session, no, ptTableIndex, true);
  const uint8_t v = p->GetPageData()[0];
  m.PutPage(p);
  return v;
}

void Change(TORVPageManager& m, int32_t session, int32_t no, uint8_t value) {
  TORVPage* p = m.GetPage(session, no, ptTableIndex, true);
  std::memset(p->GetPageData(), value, static_cast<size_t>(p->GetPageDataSize()));
  p->FIsDirty = true;
  m.PutPage(p);
}

TEST(TORVPage, FreshHeaderAndBuffer) {
  PageStoreDouble m(256, 40);
  TORVPage* p = m.AddPage(1, ptTableIndex);
  const uint8_t* h = p->GetPageHeader();
  // struct.pack('<4siHiIBBBBi', b'ORVP', state, 12, -1, 0, 0, 0, 0, 0, -1) + struct.pack('<iH', -1, 0)
  EXPECT_EQ(std::memcmp(h, "ORVP", 4), 0);
  EXPECT_GE(p->GetHeaderState(), 0);
  EXPECT_LT(p->GetHeaderState(), 0x3FFFFFFF);
  EXPECT_EQ(p->GetHeaderPageType(), ptTableIndex);
  EXPECT_EQ(LoadLE32(h + 10), 0xFFFFFFFFu);
  EXPECT_EQ(LoadLE32(h + 14), 0u);
  EXPECT_EQ(LoadLE32(h + 22), 0xFFFFFFFFu);
  EXPECT_EQ(TORVPageItemID::ReadFrom(h + 26), (TORVPageItemID{-1, 0}));
  EXPECT_EQ(p->GetPageData(), h + 40);
  EXPECT_EQ(p->GetPageDataSize(), 216);
  EXPECT_TRUE(p->FIsDirty);
  EXPECT_EQ(p->FUseCount, 1);

  p->GetPageData()[0] = 0x5A;
  ExpectCode(20039, [&] { p->EnlargePageBuffer(100); }, "Invalid page modification - Native error: 20039");
  p->EnlargePageBuffer(300);
  EXPECT_EQ(p->GetBufferSize(), 300);
  EXPECT_EQ(p->GetPageData()[0], 0x5A);
  uint8_t borrowed[256] = {7};
  TORVPage q(&m);
  ExpectCode(20038, [&] { q.EnlargePageBuffer(300); });
  q.SetBorrowedBuffer(borrowed, 256);
  q.EnlargePageBuffer(260);  // a borrowed buffer is replaced by an owned copy
  EXPECT_TRUE(q.FOwnBuffer);
  EXPECT_EQ(q.FPageBuffer[0], 7);
  m.PutPage(p);
  m.CancelChanges(1);

  // Table states: session -2 lives in entry 0.
  int32_t state = 0;
  EXPECT_FALSE(q.GetTableState(-2, state));
  q.SetTableState(-2, 17);
  EXPECT_EQ(q.FTableStates.size(), 1u);
  EXPECT_TRUE(q.GetTableState(-2, state));
  EXPECT_EQ(state, 17);
  EXPECT_FALSE(q.GetTableState(5, state));
  q.SetTableState(3, 4);
  EXPECT_EQ(q.FTableStates.size(), 6u);
  EXPECT_FALSE(q.GetTableState(2, state));  // grown entries start unassigned
}

TEST(TORVSortedPageList, OrderDeleteAndLRU) {
  PageStoreDouble m(128, 0);
  std::vector<std::unique_ptr<TORVPage>> pages;
  TORVSortedPageList list;
  for (int32_t no : {30, 10, 20}) {
    pages.push_back(std::make_unique<TORVPage>(&m));
    pages.back()->FPageNo = no;
    list.Insert(pages.back().get());
  }
  EXPECT_EQ(list.KeyItems[0], 10);
  EXPECT_EQ(list.KeyItems[2], 30);
  EXPECT_EQ(list.Find(20), pages[2].get());
  EXPECT_EQ(list.FindPositionForInsert(25), 2);
  EXPECT_EQ(list.FindPositionForInsert(99), 3);
  EXPECT_EQ(list.FirstByLRU(), pages[0].get());  // 30 went in first
  EXPECT_EQ(list.NextByLRU(), pages[1].get());
  list.UpdateLRU(pages[0].get());
  EXPECT_EQ(list.FirstByLRU(), pages[1].get());
  TORVPage stranger(&m);
  stranger.FPageNo = 20;
  ExpectCode(20167, [&] { list.UpdateLRU(&stranger); });
  ExpectCode(20166, [&] { list.Delete(15); },
             "TSortedPageList.Delete - element not found, key = 15, itemCount = 3 - Native error: 20166");
  list.Delete(10);
  list.Delete(30);
  // One element left: only its own number deletes it.
  ExpectCode(20166, [&] { list.Delete(99); });
  EXPECT_EQ(list.Count(), 1);
  list.Delete(20);
  ExpectCode(20165, [&] { list.Delete(20); });
  EXPECT_EQ(list.FirstByLRU(), nullptr);
}

TEST(TORVPageManager, SessionsStayIsolatedUntilCommit) {
  PageStoreDouble m(128, 40);
  const int32_t a = AddWith(m, 1, 1);
  m.ApplyChanges(1);
  EXPECT_EQ(Read(m, 2, a), 1);

  Change(m, 1, a, 2);
  EXPECT_EQ(Read(m, 1, a), 2);
  EXPECT_EQ(Read(m, 2, a), 1);  // session 2 reads the store's copy into the cache
  const int32_t b = AddWith(m, 1, 3);
  ExpectCode(20299, [&] { Read(m, 2, b); });  // not in the store before the commit

  // A page session 2 holds cannot be taken by session 1.
  TORVPage* held = m.GetPage(2, a, ptTableIndex, true);
  ExpectCode(20090, [&] { m.GetPage(3, a, ptTableIndex, true); }, "Page is used by other session - Native error: 20090");
  ExpectCode(20152, [&] { m.ApplyChanges(2); });
  m.PutPage(held);

  m.ApplyChanges(1);
  // The commit replaced the copy session 2 had read: it sees the new contents.
  EXPECT_EQ(Read(m, 2, a), 2);
  EXPECT_EQ(Read(m, 2, b), 3);
  m.ApplyChanges(7);  // a session that never touched the manager
  ExpectCode(20186, [&] { m.GetPage(-1, a, ptTableIndex, true); }, "Invalid Session ID - Native error: 20186");
  EXPECT_EQ(m.SessionInfo(-1), nullptr);
}

TEST(TORVPageManager, CommitWritesEachPageOnceInAscendingOrder) {
  PageStoreDouble m(128, 0);
  std::vector<int32_t> pages;
  for (int i = 0; i < 40; ++i) pages.push_back(AddWith(m, 1, static_cast<uint8_t>(i)));
  m.ApplyChanges(1);
  m.writes.clear();
  std::mt19937 rng(5);
  std::vector<int32_t> changed;
  for (int i = 0; i < 60; ++i) {
    const int32_t no = pages[rng() % pages.size()];
    Change(m, 1, no, static_cast<uint8_t>(100 + i));
    changed.push_back(no);
  }
  const int32_t removed = pages[3];
  m.RemovePage(1, removed);
  std::sort(changed.begin(), changed.end());
  changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
  changed.erase(std::remove(changed.begin(), changed.end(), removed), changed.end());
  m.ApplyChanges(1);
  EXPECT_EQ(m.writes, changed);
  EXPECT_EQ(m.removed, std::vector<int32_t>{removed});
  EXPECT_FALSE(m.IsAllocated(removed));
  EXPECT_EQ(m.SessionInfo(1)->DirtyPages->Count(), 0);
  EXPECT_EQ(m.SharedPages().Find(removed), nullptr);
}

TEST(TORVPageManager, RollbackGivesBackAddedPages) {
  PageStoreDouble m(128, 0);
  const int32_t kept = AddWith(m, 1, 1);
  m.ApplyChanges(1);
  Change(m, 1, kept, 9);
  std::vector<int32_t> added;
  for (int i = 0; i < 5; ++i) added.push_back(AddWith(m, 1, 2));
  m.RemovePage(1, kept);
  m.CancelChanges(1);
  EXPECT_EQ(m.removed, added);
  for (int32_t no : added) EXPECT_FALSE(m.IsAllocated(no));
  EXPECT_TRUE(m.IsAllocated(kept));  // the removal was forgotten
  const TORVSessionPageInfo* info = m.SessionInfo(1);
  EXPECT_EQ(info->DirtyPages->Count(), 0);
  EXPECT_EQ(info->AddedPageNumbers->ItemCount, 0);
  EXPECT_EQ(info->RemovedPageNumbers->ItemCount, 0);
  EXPECT_EQ(Read(m, 1, kept), 1);  // the change is gone
  m.Close();
}

TEST(TORVPageManager, CloseRefusesUncommittedPages) {
  PageStoreDouble m(128, 0);
  AddWith(m, 1, 1);
  ExpectCode(20097, [&] { m.Close(); }, "Cannot free non-commited pages - Native error: 20097");
  m.ApplyChanges(1);
  m.Close();
}

TEST(TORVPageManager, LruTrimmingAtASmallCapacity) {
  TORVMemoryManager memory(2 * 65536 + 1000);  // room for a cache of two pages
  PageStoreDouble m(128, 0, memory);
  ASSERT_EQ(m.CacheCapacity(), 2);
  std::vector<int32_t> pages;
  for (int i = 0; i < 6; ++i) pages.push_back(AddWith(m, 1, static_cast<uint8_t>(i)));
  m.ApplyChanges(1);  // the first two go into the cache, the rest are freed
  EXPECT_EQ(m.SharedPages().Count(), 2);
  auto cached = [&] {
    std::vector<int32_t> v;
    for (int32_t i = 0; i < m.SharedPages().Count(); ++i) v.push_back(m.SharedPages().PageAt(i)->FPageNo);
    return v;
  };
  EXPECT_EQ(Read(m, 1, pages[2]), 2);  // 3 in the cache: the least recently used goes
  EXPECT_EQ(cached(), (std::vector<int32_t>{pages[1], pages[2]}));
  EXPECT_EQ(Read(m, 1, pages[1]), 1);  // touched: now page 2 is the oldest
  EXPECT_EQ(Read(m, 1, pages[3]), 3);
  EXPECT_EQ(cached(), (std::vector<int32_t>{pages[1], pages[3]}));
  // A page in use is passed over; the next oldest unused one goes.
  TORVPage* held = m.GetPage(1, pages[1], ptTableIndex, true);
  EXPECT_EQ(Read(m, 1, pages[4]), 4);
  EXPECT_EQ(cached(), (std::vector<int32_t>{pages[1], pages[4]}));
  m.PutPage(held);
  const int reads = m.reads;
  EXPECT_EQ(Read(m, 1, pages[4]), 4);
  EXPECT_EQ(m.reads, reads);  // served from the cache
}

TEST(TORVPageManager, FailedReadsAndForeignTypesLeaveNoPageBehind) {
  PageStoreDouble m(128, 40);
  const int32_t a = AddWith(m, 1, 1);
  m.ApplyChanges(1);
  m.Close();  // empty the cache so that the next request reads the store
  m.fail_reads.insert(a);
  ExpectCode(20299, [&] { Read(m, 1, a); }, "Error reading database file page. Page No: 0, type 12 - Native error: 20299");
  EXPECT_EQ(m.SharedPages().Find(a), nullptr);
  m.fail_reads.clear();
  ExpectCode(20153, [&] { m.GetPage(1, a, ptTableRecord, true); },
             "Invalid page type. Possible data corruption. Expecting type 10, but found 12 - Native error: 20153");
  EXPECT_EQ(m.SharedPages().Find(a), nullptr);  // checked again on the next request
  TORVPage* any = m.GetPage(1, a, ptAnyPage, true);
  m.PutPage(any);
  m.Close();
  m.SetIgnoreCRCErrors(true);
  TORVPage* ignored = m.GetPage(1, a, ptTableRecord, true);
  m.PutPage(ignored);
  EXPECT_EQ(Read(m, 1, a), 1);
}

TEST(TORVPageManager, ANumberGivenOutAgainDropsTheStaleCopy) {
  PageStoreDouble m(128, 0);
  const int32_t a = AddWith(m, 1, 1);
  m.ApplyChanges(1);
  EXPECT_EQ(Read(m, 2, a), 1);  // cached
  m.RemovePage(1, a);
  m.ApplyChanges(1);
  EXPECT_EQ(m.SharedPages().Find(a), nullptr);
  // A stale copy read in between (it still is in the store for the double) must not
  // survive the number being given out again.
  m.store[a] = std::vector<uint8_t>(128, 5);
  EXPECT_EQ(Read(m, 2, a), 5);
  const int32_t b = AddWith(m, 1, 7);
  ASSERT_EQ(b, a);
  EXPECT_EQ(m.SharedPages().Find(a), nullptr);
  EXPECT_EQ(Read(m, 1, a), 7);
  m.ApplyChanges(1);
  EXPECT_EQ(Read(m, 2, a), 7);
}

}  // namespace
}  // namespace orv
