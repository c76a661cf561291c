#include "dbengine/file/orv_disk_engine_blobs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dbengine/file/orv_disk_engine_check.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/file/tests/disk_cursor.h"
#include "dbengine/file/tests/disk_rows.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::DiskTable;
using testing::DiskTestCursor;

// A table with one BLOB field over a fresh file; the tests work on its BLOB manager directly,
// in the cursor's session, and commit before the database check looks at the file.
class DiskBlobTest : public testing::DiskFileTest {
 protected:
  DiskBlobTest() : t(path) {
    TORVFieldDefs f;
    testing::AddField(f, "ID", aftInteger);
    testing::AddField(f, "IMG", aftBlob);
    c = &t.Create("B", f);
  }
  TORVDiskBlobManager& Blobs() { return c->Disk()->Blobs(); }
  TORVDiskPageManager& Pages() { return c->Disk()->DiskPages(); }
  int32_t Session() { return c->GetSessionID(); }
  int32_t DataSize() { return Pages().PageDataSize(); }
  void Commit() { Pages().ApplyChanges(Session()); }

  static std::vector<uint8_t> Pattern(int64_t Size) {
    std::vector<uint8_t> v(static_cast<size_t>(Size));
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>((i * 131 + i / 251) & 0xFF);
    return v;
  }
  // A cache entry holding Bytes as its stored image.
  static void Fill(TORVDiskBLOBCache& Cache, const std::vector<uint8_t>& Bytes) {
    Cache.NumBlocks = 1;
    Cache.UncompressedSize = static_cast<int64_t>(Bytes.size()) * 2;
    Cache.CompressedSize = static_cast<int64_t>(Bytes.size());
    Cache.BlobData = static_cast<uint8_t*>(MemoryManager().GetMem(std::max<int64_t>(Cache.CompressedSize, 1)));
    std::memcpy(Cache.BlobData, Bytes.data(), Bytes.size());
  }
  std::vector<uint8_t> Read(const TORVPageItemID& Reference, bool* Found = nullptr) {
    TORVDiskBLOBCache cache;
    const bool found = Blobs().InternalReadBlob(Session(), cache, Reference);
    if (Found) *Found = found;
    return found && cache.BlobData ? std::vector<uint8_t>(cache.BlobData, cache.BlobData + cache.CompressedSize)
                                   : std::vector<uint8_t>();
  }
  DatabaseCheckReport Check() { return CheckDatabase(*t.db); }

  DiskTable t;
  DiskTestCursor* c = nullptr;
};

// Where small ends and large begins: the 22-byte header and the page's 2-byte count must fit
// beside the stored bytes.
TEST_F(DiskBlobTest, SmallAndLargeMeetAtTheHeaderAndCountSize) {
  struct Case {
    int32_t below_page_data;
    bool small;
  } cases[] = {{25, true}, {24, false}, {4000, true}};
  const int32_t used_before = Check().UsedPages;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.below_page_data);
    const int64_t size = DataSize() - k.below_page_data;
    EXPECT_EQ(Blobs().IsSmallBlob(size), k.small);
    TORVDiskBLOBCache cache;
    const std::vector<uint8_t> bytes = Pattern(size);
    Fill(cache, bytes);
    const TORVPageItemID ref =
        k.small ? Blobs().InternalWriteSmallBlob(Session(), cache) : Blobs().InternalWriteLargeBlob(Session(), cache);
    EXPECT_EQ(ref.PageItemNo == 65535, !k.small);
    EXPECT_EQ(Read(ref), bytes);
    Blobs().DeleteStoredBlob(Session(), ref);
    Commit();
    const DatabaseCheckReport report = Check();
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.UsedPages, used_before) << report.Text();
  }
}

// A large BLOB's page list begins right behind its data: on the last data page when at least
// one entry fits there, else on a fresh page. Read back and deleted, nothing stays used.
TEST_F(DiskBlobTest, PageListsStartBehindTheDataOrOnAFreshPage) {
  const int32_t d = DataSize();
  struct Case {
    const char* name;
    int64_t size;
    int32_t data_pages;
    int32_t start_offset;  // of the list, in its start page
    bool list_on_last_data_page;
  } cases[] = {
      {"list starts 2 bytes before the page end", (d - 32) + (d - 2), 2, d - 2, true},
      {"last page exactly full", (d - 32) + d, 2, 0, false},
      {"room for the whole list", (d - 32) + 100, 2, 100, true},
  };
  const int32_t used_before = Check().UsedPages;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TORVDiskBLOBCache cache;
    const std::vector<uint8_t> bytes = Pattern(k.size);
    Fill(cache, bytes);
    ASSERT_FALSE(Blobs().IsSmallBlob(k.size));
    const TORVPageItemID ref = Blobs().InternalWriteLargeBlob(Session(), cache);
    ASSERT_EQ(ref.PageItemNo, 65535);
    TORVPageListLink link;
    TORVDiskBLOBHeader header;
    {
      TORVHeldPage first(Pages(), Pages().GetPage(Session(), ref.PageNo, ptTableBlob, true));
      header = TORVDiskBLOBHeader::ReadFrom(first.Data());
      link = TORVPageListLink::ReadFrom(first.Data() + 22);
    }
    EXPECT_EQ(header.CompressedSize, k.size);
    EXPECT_EQ(header.UncompressedSize, k.size * 2);
    EXPECT_EQ(link.ItemCount, k.data_pages);
    EXPECT_EQ(link.StartOffset, k.start_offset);
    std::vector<int32_t> data_pages, list_pages;
    ASSERT_TRUE(Blobs().ReadLargeBlobPages(Session(), ref.PageNo, true, data_pages, list_pages));
    ASSERT_EQ(static_cast<int32_t>(data_pages.size()), k.data_pages);
    EXPECT_EQ(data_pages.front(), ref.PageNo);
    EXPECT_EQ(link.StartPageNo == data_pages.back(), k.list_on_last_data_page);
    if (k.start_offset > d - 4) {
      // No entry fits behind the data: the page's NextPageNo leads to the entries.
      TORVHeldPage start(Pages(), Pages().GetPage(Session(), link.StartPageNo, ptTableBlob, true));
      EXPECT_GT(start.NextPageNo(), 0);
    }
    EXPECT_EQ(Read(ref), bytes);
    Blobs().DeleteStoredBlob(Session(), ref);
    Commit();
    const DatabaseCheckReport report = Check();
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.UsedPages, used_before) << report.Text();
  }
}

// New ids start at the page's BLOB count and walk past the taken ones; 255 is never given to a
// new BLOB (a reference of 255 also names large BLOBs).
TEST_F(DiskBlobTest, NewBlobIdsSkipTakenOnesAndNeverGive255) {
  struct Case {
    std::vector<uint16_t> ids;
    uint16_t expected;
  } cases[] = {
      {{0, 1, 3}, 4}, {{}, 0}, {{1, 2}, 3}, {{5}, 1}, {{}, 0},
  };
  std::vector<uint16_t> to255;
  for (uint16_t i = 0; i < 255; ++i) to255.push_back(i);
  std::vector<uint16_t> to254 = to255;
  to254.pop_back();
  to254.push_back(256);  // 255 entries: the count is 255, which is skipped, and 256 is taken
  const Case more[] = {{to255, 256}, {to254, 257}};
  // 256 empty entries need more room than a 4096-byte page has.
  DiskTable big(dir.File("big.orv"), false, 8192);
  TORVFieldDefs f;
  testing::AddField(f, "IMG", aftBlob);
  DiskTestCursor& bc = big.Create("B", f);
  TORVDiskPageManager& pm = bc.Disk()->DiskPages();
  TORVPage* page = pm.AddPage(bc.GetSessionID(), ptTableBlob);
  TORVSmallBlobPage view(page);
  auto run = [&](const Case& k) {
    std::memset(page->GetPageData(), 0, static_cast<size_t>(pm.PageDataSize()));
    int32_t offset = 2;
    for (uint16_t id : k.ids) {
      TORVDiskBLOBHeader{id, 0, 0, 0}.WriteTo(page->GetPageData() + offset);
      offset += TORVDiskBLOBHeader::StoredSize;
    }
    view.SetBlobCount(static_cast<uint16_t>(k.ids.size()));
    EXPECT_EQ(view.GetNewBlobID(), k.expected) << k.ids.size() << " ids";
  };
  for (const Case& k : cases) run(k);
  for (const Case& k : more) run(k);
  pm.PutPage(page);
  pm.CancelChanges(bc.GetSessionID());
}

// A reference of 255 is read and deleted right both for a small BLOB of id 255 (older files)
// and for a large BLOB; one that names neither is an error, never an empty value.
TEST_F(DiskBlobTest, Reference255IsReadAndDeletedForWhatThePageHolds) {
  const int32_t used_before = Check().UsedPages;
  const std::vector<uint8_t> small = Pattern(700), large = Pattern(3 * DataSize());
  // A small-BLOB page with ids 255 and 4, as an older writer may have left it.
  int32_t small_page = -1;
  {
    TORVDiskBLOBCache a, b;
    Fill(a, small);
    Fill(b, Pattern(50));
    const TORVPageItemID ra = Blobs().InternalWriteSmallBlob(Session(), a);
    const TORVPageItemID rb = Blobs().InternalWriteSmallBlob(Session(), b);
    ASSERT_EQ(ra.PageNo, rb.PageNo);
    small_page = ra.PageNo;
    TORVHeldPage page(Pages(), Pages().GetPage(Session(), small_page, ptTableBlob, true));
    TORVSmallBlobPage view(page.Get());
    StoreLE16(view.BlobHeader(0), 255);
    StoreLE16(view.BlobHeader(1), 4);
    page.MarkDirty();
  }
  TORVDiskBLOBCache l;
  Fill(l, large);
  const TORVPageItemID large_ref = Blobs().InternalWriteLargeBlob(Session(), l);
  EXPECT_EQ(Read({small_page, 255}), small);
  EXPECT_EQ(Read({large_ref.PageNo, 255}), large);
  EXPECT_EQ(Read({small_page, 4}), Pattern(50));
  bool found = true;
  Read({small_page, 7}, &found);
  EXPECT_FALSE(found);
  // Through a record buffer the missing BLOB is an error, not an empty value.
  c->BeginInsert();
  const int32_t img = 1;
  Blobs().SetBlobInfo(c->FCurrentRecordBuffer, img, {small_page, 7});
  SetNullFlag(false, img, c->FCurrentRecordBuffer);
  TORVBLOBDescriptor descriptor;
  platform::TMemoryStream stream;
  EXPECT_EQ(CodeOf([&] {
              Blobs().CopyBlobFromRecordBufferToStream(Session(), c->FCurrentRecordBuffer, img, descriptor, stream);
            }),
            20162);
  TORVPartialTemporaryBLOBDescriptor direct;
  void* data = nullptr;
  EXPECT_EQ(
      CodeOf([&] { Blobs().GetDirectBlobInfoFromRecordBuffer(Session(), c->FCurrentRecordBuffer, img, direct, data); }),
      20291);
  EXPECT_EQ(CodeOf([&] { Blobs().DeleteStoredBlob(Session(), {small_page, 7}); }), 20171);
  // Deleting by 255 takes what the page holds, and nothing of the neighbours.
  Blobs().DeleteStoredBlob(Session(), {small_page, 255});
  EXPECT_EQ(Read({small_page, 4}), Pattern(50));
  Blobs().DeleteStoredBlob(Session(), {large_ref.PageNo, 255});
  Blobs().DeleteStoredBlob(Session(), {small_page, 4});
  Commit();
  const DatabaseCheckReport report = Check();
  EXPECT_TRUE(report.Ok()) << report.Text();
  EXPECT_EQ(report.UsedPages, used_before) << report.Text();
}

// Deleting the middle one of three small BLOBs moves the third down; its reference stays good.
TEST_F(DiskBlobTest, DeletingTheMiddleBlobKeepsTheLastOneReachable) {
  TORVDiskBLOBCache a, b, x;
  Fill(a, Pattern(100));
  Fill(b, Pattern(200));
  Fill(x, Pattern(300));
  const TORVPageItemID ra = Blobs().InternalWriteSmallBlob(Session(), a);
  const TORVPageItemID rb = Blobs().InternalWriteSmallBlob(Session(), b);
  const TORVPageItemID rx = Blobs().InternalWriteSmallBlob(Session(), x);
  ASSERT_EQ(ra.PageNo, rx.PageNo);
  EXPECT_EQ(Blobs().BlobPageIndex().GetBlobPageAllocatedSpace(Session(), ra.PageNo), 3 * 22 + 600);
  Blobs().DeleteStoredBlob(Session(), rb);
  EXPECT_EQ(Read(rx), Pattern(300));
  EXPECT_EQ(Read(ra), Pattern(100));
  EXPECT_EQ(Blobs().BlobPageIndex().GetBlobPageAllocatedSpace(Session(), ra.PageNo), 2 * 22 + 400);
  Pages().CancelChanges(Session());
}

}  // namespace
}  // namespace orv
