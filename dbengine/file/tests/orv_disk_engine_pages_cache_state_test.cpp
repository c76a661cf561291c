#include "dbengine/file/orv_disk_engine_pages_cache_state.h"

#include <gtest/gtest.h>

#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/tests/disk_session.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/files/fault_file.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::DiskSession;

TEST(TablePagesCacheState, ALoadLastsAsLongAsTheLocksOfItsPeriod) {
  TORVDiskTablePagesCacheManager m;
  m.TableIsSLocked(4, 7);
  m.SetIsMostUpdatedLoaded(4, 7, 11);
  m.SetIsMostUpdatedLoaded(4, 7, 12);  // the first state of the period stays
  m.TableIsSLocked(4, 7);
  m.TableIsSUnlocked(4, 7);
  const TORVDTPCTableInfo& info = m.GetSessionInfo(4).GetTableInfo(7);
  EXPECT_EQ(info.TableSLockCount, 1);
  EXPECT_TRUE(m.GetIsMostUpdatedLoaded(4, 7));
  EXPECT_EQ(info.TableState, 11);
  // An ltRW lock keeps the period open when the last ltS goes.
  m.TableIsRWLocked(4, 7);
  m.TableIsSUnlocked(4, 7);
  EXPECT_TRUE(m.GetIsMostUpdatedLoaded(4, 7));
  m.TableIsRWUnlocked(4, 7);
  EXPECT_FALSE(m.GetIsMostUpdatedLoaded(4, 7));
  EXPECT_EQ(info.TableState, -1);
  m.TableIsSUnlocked(4, 7);  // nothing to release: stays at 0
  EXPECT_EQ(info.TableSLockCount, 0);
  // A new period starts clean even if a load was recorded without a lock.
  m.SetIsMostUpdatedLoaded(4, 8, 5);
  m.TableIsRWLocked(4, 8);
  EXPECT_FALSE(m.GetIsMostUpdatedLoaded(4, 8));
}

TEST(TablePagesCacheState, TheInnermostWorkTableAnswers) {
  TORVDiskTablePagesCacheManager m;
  int32_t state = 99;
  EXPECT_FALSE(m.GetWorkTableState(4, state));
  EXPECT_EQ(state, 99);
  for (int32_t table : {7, 9}) {
    m.TableIsSLocked(4, table);
    m.SetIsMostUpdatedLoaded(4, table, table * 10);
  }
  m.BeginWorkWithTable(4, 7);
  m.BeginWorkWithTable(4, 9);
  EXPECT_TRUE(m.GetWorkTableState(4, state));
  EXPECT_EQ(state, 90);
  m.EndWorkWithTable(4, 9);
  EXPECT_TRUE(m.GetWorkTableState(4, state));
  EXPECT_EQ(state, 70);
  m.TableIsSUnlocked(4, 7);
  EXPECT_FALSE(m.GetWorkTableState(4, state));  // no longer locked
  EXPECT_FALSE(m.GetWorkTableState(5, state));  // another session works on nothing
}

TEST(TablePagesCacheState, SessionInfosGrowToTheSessionAsked) {
  TORVDiskTablePagesCacheManager m;
  m.GetSessionInfo(10);
  EXPECT_EQ(m.SessionInfoCount(), 13);  // -2 .. 10
  m.GetSessionInfo(SYSTEM_SESSION_ID);
  EXPECT_EQ(m.SessionInfoCount(), 13);
  EXPECT_EQ(CodeOf([&] { m.GetSessionInfo(-3); }), 30517);
}

TEST(TablePagesCacheState, ASessionWorkingUnderItsTableLockSkipsStateReads) {
  testing::ScratchDir dir;
  const std::string path = dir.File("db.orv");
  testing::DiskDatabase(path)->CreateDatabase();
  auto plan = std::make_shared<platform::FaultPlan>();
  TORVDiskDatabaseData db(platform::FaultInjectingFactory(plan));
  db.FDatabaseName = path;
  DiskSession s(db);
  const int32_t id = s.Connect();
  TORVDiskPageManager& pm = *db.GetDiskPageManager();
  ASSERT_EQ(pm.GetTablePagesCacheManager(), db.GetTablePagesCacheManager());
  TORVPage* added = pm.AddPage(id, ptTableRecord);
  const int32_t no = added->FPageNo;
  pm.PutPage(added);
  pm.ApplyChanges(id);
  auto reads_of_a_get = [&] {
    const int64_t before = plan->reads;
    pm.PutPage(pm.GetPage(id, no, ptTableRecord, true));
    return plan->reads - before;
  };
  EXPECT_EQ(reads_of_a_get(), 1);  // its State
  TORVDiskTablePagesCacheManager& cache = *db.GetTablePagesCacheManager();
  cache.TableIsSLocked(id, 7);
  cache.SetIsMostUpdatedLoaded(id, 7, 42);
  cache.BeginWorkWithTable(id, 7);
  EXPECT_EQ(reads_of_a_get(), 1);  // checked once under the table state, remembered
  EXPECT_EQ(reads_of_a_get(), 0);
  EXPECT_EQ(reads_of_a_get(), 0);
  cache.EndWorkWithTable(id, 7);
  EXPECT_EQ(reads_of_a_get(), 1);
  cache.TableIsSUnlocked(id, 7);
}

}  // namespace
}  // namespace orv
