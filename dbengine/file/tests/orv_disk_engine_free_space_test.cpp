#include "dbengine/file/orv_disk_engine_free_space.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <vector>

#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/base/clock.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::LE32;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

class FreeSpaceTest : public testing::DiskFileTest {
 protected:
  std::unique_ptr<TORVDiskPageManager> Create(uint16_t page_size = 4096, uint16_t extent = 8) {
    return testing::CreateDatabase(path, page_size, extent);
  }
  std::unique_ptr<TORVDiskPageManager> Open() {
    bool repair = false;
    return testing::OpenDatabase(path, repair);
  }
  // A file whose header claims Total pages (the added pages free).
  void Resize(int32_t total) {
    std::vector<uint8_t> b = ReadAll(path);
    b.resize(380 + static_cast<size_t>(total) * 4096, 0);
    for (int i = 0; i < 4; ++i) b[30 + static_cast<size_t>(i)] = static_cast<uint8_t>(total >> (8 * i));
    WriteAll(path, b);
  }

};

TEST_F(FreeSpaceTest, TheFirstPageOfANewFile) {
  auto pm = Create();
  TORVDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
  EXPECT_EQ(fsm.GetPage(-1), 2);
  EXPECT_EQ(pm->GetDbHeader()->TotalPageCount, 6);
  EXPECT_EQ(pm->GetDbHeader()->LastUsedPageNo, 2);
  pm->CloseDatabase();
  const std::vector<uint8_t> b = ReadAll(path);
  EXPECT_EQ(b.size(), 380u + 6 * 4096);
  EXPECT_EQ(b[380 + 40], 0x07);
  EXPECT_EQ(b[380 + 4096 + 40], 0x01);
  EXPECT_EQ(LE32(b, 30), 6u);
  EXPECT_EQ(LE32(b, 34), 2u);
}

TEST_F(FreeSpaceTest, ReleaseReuseAndErrors) {
  auto pm = Create();
  TORVDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
  EXPECT_EQ(fsm.GetPage(-1), 2);
  EXPECT_EQ(fsm.GetPage(-1), 3);
  EXPECT_EQ(fsm.GetPage(-1), 4);
  fsm.FreePage(3);
  EXPECT_EQ(pm->GetDbHeader()->TotalPageCount, 6);  // Free 1 of a step of 8: nothing cut
  EXPECT_FALSE(fsm.GetPageUsageFromPFS(3));
  EXPECT_EQ(fsm.GetPage(-1), 3);
  fsm.FreePage(4);
  EXPECT_EQ(pm->GetDbHeader()->LastUsedPageNo, 3);
  const std::vector<uint8_t> before = ReadAll(path);
  EXPECT_EQ(CodeOf([&] { fsm.FreePage(4); }), 30427);
  EXPECT_EQ(ReadAll(path), before);  // counts and maps as they were
  EXPECT_EQ(pm->GetDbHeader()->LastUsedPageNo, 3);
  EXPECT_EQ(CodeOf([&] { fsm.FreePage(6); }), 30430);
  EXPECT_EQ(CodeOf([&] { fsm.CheckPageNoForSystemPages(1); }), 30434);
  EXPECT_EQ(CodeOf([&] { fsm.CheckPageNoForSystemPages(2); }), 0);
  fsm.FreePage(2);
  fsm.FreePage(3);
  EXPECT_EQ(pm->GetDbHeader()->LastUsedPageNo, -1);
}

TEST_F(FreeSpaceTest, GrowthAndShrinkSteps) {
  {
    auto pm = Create();
    pm->FreeSpaceManager()->GetPage(-1);
  }
  Resize(100);
  EXPECT_EQ(Open()->FreeSpaceManager()->GetAddPagesStep(), 10);
  Resize(50);
  EXPECT_EQ(Open()->FreeSpaceManager()->GetAddPagesStep(), 8);

  // A file of 100 pages, all in use.
  Resize(100);
  auto pm = Open();
  TORVDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
  std::set<int32_t> got;
  for (int i = 3; i < 100; ++i) got.insert(fsm.GetPage(-1));
  EXPECT_EQ(got.size(), 97u);
  EXPECT_EQ(*got.rbegin(), 99);
  EXPECT_EQ(pm->GetDbHeader()->TotalPageCount, 100);
  // Releasing the last used page leaves LastUsedPageNo 95: Free 4 of a step of 10, no cut.
  for (int p : {96, 97, 98, 99}) fsm.FreePage(p);
  EXPECT_EQ(pm->GetDbHeader()->LastUsedPageNo, 95);
  EXPECT_EQ(pm->GetDbHeader()->TotalPageCount, 100);
  // One release that leaves LastUsedPageNo 49: Free 50, the file is cut to 50 pages.
  for (int p = 50; p < 95; ++p) fsm.FreePage(p);
  EXPECT_EQ(pm->GetDbHeader()->TotalPageCount, 100);
  fsm.FreePage(95);
  EXPECT_EQ(pm->GetDbHeader()->LastUsedPageNo, 49);
  EXPECT_EQ(pm->GetDbHeader()->TotalPageCount, 50);
  EXPECT_EQ(platform::FileLength(path), 380 + 50 * 4096);
}

TEST_F(FreeSpaceTest, WhereTheMapsLie) {
  {
    auto pm = Create(4096, 8);
    const TORVDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
    for (int32_t p : {0, 1, 32448, 64896, 129792, 129793})
      EXPECT_TRUE(fsm.IsPagePfsOrEam(p)) << p;
    for (int32_t p : {2, 32449, 64897, 129794, 16224})
      EXPECT_FALSE(fsm.IsPagePfsOrEam(p)) << p;
    EXPECT_EQ(fsm.EamPageNoForEamPagePosition(1), 4 * 4056 * 8 + 1);
  }
  auto pm = Create(4096, 1);
  const TORVDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
  for (int32_t p : {16224, 48672, 32449, 64897, 0, 32448})
    EXPECT_TRUE(fsm.IsPagePfsOrEam(p)) << p;
  for (int32_t p : {16225, 32450, 48673, 1 + 16224})
    EXPECT_FALSE(fsm.IsPagePfsOrEam(p)) << p;
  EXPECT_EQ(fsm.EamPageNoForEamPagePosition(1), 16224);
  EXPECT_EQ(fsm.EamPageNoForEamPagePosition(2), 32449);
}

// With one page per extent, EAM pages lie between PFS pages. Shortening the file past one
// clears its bit in the PFS page that stays, so that growing again can make it anew.
TEST_F(FreeSpaceTest, ShrinkingPastAnEamPageAndGrowingAgain) {
  auto pm = Create(512, 1);
  TORVDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
  ASSERT_EQ(fsm.EamPageNoForEamPagePosition(1), 1888);
  std::vector<int32_t> pages;
  while (pm->GetDbHeader()->LastUsedPageNo < 1950) pages.push_back(fsm.GetPage(-1));
  EXPECT_EQ(std::count(pages.begin(), pages.end(), 1888), 0);
  EXPECT_TRUE(fsm.GetPageUsageFromPFS(1888));
  while (pages.size() > 1000) {
    fsm.FreePage(pages.back());
    pages.pop_back();
  }
  ASSERT_LT(pm->GetDbHeader()->TotalPageCount, 1888);
  while (pm->GetDbHeader()->LastUsedPageNo < 1950) pages.push_back(fsm.GetPage(-1));
  EXPECT_TRUE(fsm.GetPageUsageFromPFS(1888));
  EXPECT_EQ(std::count(pages.begin(), pages.end(), 1888), 0);
}

// The used pages as the PFS pages of the file say, read from its bytes.
std::set<int32_t> UsedPagesOnDisk(const std::vector<uint8_t>& b, const TORVDatabaseFreeSpaceManager& fsm,
                                  int32_t page_size, int32_t total) {
  std::set<int32_t> used;
  const int32_t span = fsm.PfsPagesAddressed();
  for (int32_t p = 0; p < total; ++p) {
    if (fsm.IsPagePfsOrEam(p)) continue;
    const size_t pfs = 380 + static_cast<size_t>((p / span) * span) * static_cast<size_t>(page_size);
    const int32_t r = p % span;
    if ((b[pfs + 40 + static_cast<size_t>(r / 8)] >> (r % 8)) & 1) used.insert(p);
  }
  return used;
}

struct SpaceRun {
  uint16_t page_size;
  uint16_t extent;
  int first_fill;  // pages added before the random part
  int steps;
  int32_t end_beyond;  // the run ends with a page in use beyond this one
  const char* name;
};

class SeededSpaceRun : public FreeSpaceTest, public ::testing::WithParamInterface<SpaceRun> {};

// Pages added, released and rolled back at random, committed now and then; after every commit
// the maps on disk hold exactly the pages the model holds.
TEST_P(SeededSpaceRun, MapsFollowTheModel) {
  const SpaceRun run = GetParam();
  const std::string out_dir = std::string(QUIRVEL_TEST_OUTPUT) + "/file";
  std::filesystem::create_directories(out_dir);
  path = out_dir + "/" + run.name;
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-journal");

  std::mt19937 rng(20240611u + run.page_size);
  auto pm = Create(run.page_size, run.extent);
  const TORVDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
  std::set<int32_t> used, added, removed;
  constexpr int32_t kSession = 1;
  int commits = 0;

  auto add = [&] {
    TORVPage* page = pm->AddPage(kSession, ptTableRecord);
    const int32_t no = page->FPageNo;
    page->GetPageData()[0] = static_cast<uint8_t>(no);
    pm->PutPage(page);
    ASSERT_FALSE(used.count(no) || added.count(no)) << no;
    ASSERT_FALSE(fsm.IsPagePfsOrEam(no)) << no;
    ASSERT_LT(no, pm->GetDbHeader()->TotalPageCount);
    added.insert(no);
  };
  auto commit = [&] {
    pm->ApplyChanges(kSession);
    for (int32_t p : removed) used.erase(p);
    used.insert(added.begin(), added.end());
    added.clear();
    removed.clear();
    ++commits;
    const TORVDBHeader& h = *pm->GetDbHeader();
    ASSERT_EQ(h.LastUsedPageNo, used.empty() ? -1 : *used.rbegin());
    ASSERT_EQ(platform::FileLength(path), 380 + static_cast<int64_t>(h.TotalPageCount) * run.page_size);
    if (commits % 10 == 0) {
      ASSERT_EQ(UsedPagesOnDisk(ReadAll(path), fsm, run.page_size, h.TotalPageCount), used);
    }
  };

  for (int i = 0; i < run.first_fill; ++i) {
    ASSERT_NO_FATAL_FAILURE(add());
    if (added.size() >= 400) {
      ASSERT_NO_FATAL_FAILURE(commit());
    }
  }
  ASSERT_NO_FATAL_FAILURE(commit());
  for (int step = 0; step < run.steps; ++step) {
    const int op = static_cast<int>(rng() % 100);
    if (op < 58) {
      ASSERT_NO_FATAL_FAILURE(add());
    } else if (op < 90 && !used.empty()) {
      // Release a committed page, now and then a run of the highest ones (the file shrinks).
      const bool tail = rng() % 16 == 0;
      std::vector<int32_t> candidates;
      for (int32_t p : used)
        if (!removed.count(p)) candidates.push_back(p);
      const size_t count = std::min(candidates.size(), tail ? size_t{1} + rng() % 300 : size_t{1});
      for (size_t c = 0; c < count; ++c) {
        const size_t at = tail ? candidates.size() - 1 - c : rng() % candidates.size();
        pm->RemovePage(kSession, candidates[at]);
        removed.insert(candidates[at]);
      }
      if (tail) {
        ASSERT_NO_FATAL_FAILURE(commit());
      }
    } else if (op < 96) {
      ASSERT_NO_FATAL_FAILURE(commit());
    } else {
      // Roll back: the new pages go back to the maps, the releases are forgotten.
      pm->CancelChanges(kSession);
      added.clear();
      removed.clear();
    }
  }
  // Pages in use past the second PFS page where the run is meant to reach it.
  while (pm->GetDbHeader()->LastUsedPageNo <= run.end_beyond) ASSERT_NO_FATAL_FAILURE(add());
  ASSERT_NO_FATAL_FAILURE(commit());
  ASSERT_EQ(UsedPagesOnDisk(ReadAll(path), fsm, run.page_size, pm->GetDbHeader()->TotalPageCount), used);
  pm->CloseDatabase();
  pm.reset();

  // An independent reader of the closed file.
  const std::string used_list = path + ".used";
  {
    std::ofstream out(used_list);
    for (int32_t p : used) out << p << "\n";
  }
  const std::string command = "python3 " + std::string(QUIRVEL_TEST_DATA) + "/check_space.py '" + path + "' '" +
                              used_list + "' > '" + path + ".check' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream report(path + ".check");
  const std::string text((std::istreambuf_iterator<char>(report)), std::istreambuf_iterator<char>());
  EXPECT_EQ(status, 0) << text;
  std::filesystem::remove(used_list);
  std::filesystem::remove(path + ".check");
}

INSTANTIATE_TEST_SUITE_P(Geometries, SeededSpaceRun,
                         ::testing::Values(SpaceRun{4096, 8, 300, 1500, -1, "space-4096.orv"},
                                           SpaceRun{512, 1, 3900, 1500, 3776 + 50, "space-512.orv"}),
                         [](const ::testing::TestParamInfo<SpaceRun>& param) {
                           return "PageSize" + std::to_string(param.param.page_size);
                         });

}  // namespace
}  // namespace orv
