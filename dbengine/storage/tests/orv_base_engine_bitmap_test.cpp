#include "dbengine/storage/orv_base_engine_bitmap.h"

#include <gtest/gtest.h>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::TableFixture;

// A table with an index on K, so that both numberings can be tried.
struct BitmapFixture : TableFixture {
  BitmapFixture() {
    TORVFieldDefs f;
    AddField(f, "K", aftInteger);
    TORVIndexDefs i;
    testing::AddIndexDef(i, "ByK", {"K"});
    Create(f, i);
    index_id = cursor->FIndexDefs->GetIndexDef(0)->ObjectID;
  }
  TORVRecordBitmap Make() { return TORVRecordBitmap(&Table()); }
  static TORVPageItemID Rec(int32_t slot) { return {slot, 0}; }
  int32_t index_id = -1;
};

TEST(TORVRecordBitmap, ANewBitmapIsEmptyInactiveAndStampedMinusOne) {
  BitmapFixture fx;
  TORVRecordBitmap b = fx.Make();
  EXPECT_EQ(b.GetSize(), 0);
  EXPECT_EQ(b.GetRecordCount(), 0);
  EXPECT_FALSE(b.FActive);
  EXPECT_FALSE(b.IndexBased());
  EXPECT_TRUE(b.GetOutdated()) << "the table's state is 0";
  fx.Table().FRecordManager->FTableState = -1;
  EXPECT_FALSE(b.GetOutdated());
  ExpectCode(10425, [] { TORVRecordBitmap none(nullptr); });
}

TEST(TORVRecordBitmap, RanksAndStepsOverTheVisibleRecords) {
  BitmapFixture fx;
  TORVRecordBitmap b = fx.Make();
  b.SetSize(12);
  for (int32_t bit : {2, 5, 9}) b.ShowRecord(BitmapFixture::Rec(bit));
  EXPECT_EQ(b.GetRecordCount(), 3);
  EXPECT_EQ(b.GetRecordIDByRecNo(2), BitmapFixture::Rec(5));
  struct {
    int32_t bit;
    int64_t recno;
  } ranks[] = {{2, 1}, {5, 2}, {7, 2}, {9, 3}, {1, 0}, {11, 3}, {12, -1}, {400, -1}};
  for (const auto& r : ranks) EXPECT_EQ(b.GetRecNoByRecordID(BitmapFixture::Rec(r.bit)), r.recno) << "bit " << r.bit;
  ExpectCode(10428, [&] { b.GetRecordIDByRecNo(4); });
  ExpectCode(10428, [&] { b.GetRecordIDByRecNo(0); });

  TORVPageItemID found;
  EXPECT_FALSE(b.FindRecord(false, true, BitmapFixture::Rec(9), found));
  ASSERT_TRUE(b.FindRecord(false, false, BitmapFixture::Rec(9), found));
  EXPECT_EQ(found, BitmapFixture::Rec(5));
  ASSERT_TRUE(b.FindRecord(true, true, BitmapFixture::Rec(9), found));
  EXPECT_EQ(found, BitmapFixture::Rec(2));
  ASSERT_TRUE(b.FindRecord(true, false, BitmapFixture::Rec(0), found));
  EXPECT_EQ(found, BitmapFixture::Rec(9));
  ASSERT_TRUE(b.FindRecord(false, false, BitmapFixture::Rec(1000), found)) << "from beyond the end back";
  EXPECT_EQ(found, BitmapFixture::Rec(9));

  EXPECT_TRUE(b.IsRecordVisible(BitmapFixture::Rec(5)));
  EXPECT_FALSE(b.IsRecordVisible(BitmapFixture::Rec(6)));
  EXPECT_FALSE(b.IsRecordVisible(BitmapFixture::Rec(99)));
}

TEST(TORVRecordBitmap, ShowingOrHidingBeyondTheEndGrowsIt) {
  BitmapFixture fx;
  TORVRecordBitmap b = fx.Make();
  b.ShowRecord(BitmapFixture::Rec(20));
  EXPECT_EQ(b.GetSize(), 21);
  b.HideRecord(BitmapFixture::Rec(40));
  EXPECT_EQ(b.GetSize(), 41);
  EXPECT_FALSE(b.IsRecordVisible(BitmapFixture::Rec(40)));
  EXPECT_EQ(b.GetRecordCount(), 1);
  b.Clear();
  EXPECT_EQ(b.GetSize(), 0);
}

TEST(TORVRecordBitmap, IndexBasedBitmaps) {
  BitmapFixture fx;
  TORVRecordBitmap b = fx.Make();
  fx.Table().InitRecordBitmap(b, fx.index_id);
  ASSERT_TRUE(b.IndexBased());
  b.FActive = true;
  TORVKeyPath pos;
  pos.AddItem(-1, 3, 0);
  b.ShowRecord(fx.index_id, pos);
  EXPECT_TRUE(b.IsRecordVisible(fx.index_id, pos));
  EXPECT_EQ(b.GetRecNoByIndexPos(fx.index_id, pos), 1);
  TORVKeyPath back;
  b.GetIndexPosByRecNo(fx.index_id, 1, back);
  EXPECT_EQ(back.Count, 1);
  EXPECT_EQ(back.Last().EntryNo, 3);

  // Record ids do not number an index-based bitmap: it empties itself to be rebuilt.
  b.ShowRecord(BitmapFixture::Rec(1));
  EXPECT_FALSE(b.FActive);
  EXPECT_EQ(b.GetSize(), 0);
}

TEST(TORVRecordBitmap, APositionBeyondWhatTheBitsCanHoldRaisesInsteadOfWrapping) {
  BitmapFixture fx;
  TORVRecordBitmap b = fx.Make();
  fx.Table().InitRecordBitmap(b, fx.index_id);
  const int32_t m = fx.Table().FIndexManager->OpenIndex(fx.index_id)->GetMaxEntriesPerPage();
  ASSERT_GT(m, 100);
  // Four levels of about m entries number their entries near m^4, far beyond 2^31 bits.
  TORVKeyPath deep;
  for (int level = 0; level < 4; ++level) deep.AddItem(-1, m - 1, m);
  ASSERT_GT(deep.GetBitmapRecNoByIndexPosition(m), TORVRecordBitmap::MaxBits);
  ExpectCode(10430, [&] { b.ShowRecord(fx.index_id, deep); });
  ExpectCode(10430, [&] { b.HideRecord(fx.index_id, deep); });
  EXPECT_EQ(b.GetSize(), 0) << "nothing was set on a wrapped bit number";
  EXPECT_FALSE(b.IsRecordVisible(fx.index_id, deep));
  EXPECT_EQ(b.GetRecNoByIndexPos(fx.index_id, deep), -1);
  ExpectCode(10431, [&] { b.SetSize(TORVRecordBitmap::MaxBits + 1); });

  TORVKeyPath shallow;
  for (int level = 0; level < 2; ++level) shallow.AddItem(-1, m - 1, m);
  b.ShowRecord(fx.index_id, shallow);
  EXPECT_TRUE(b.IsRecordVisible(fx.index_id, shallow));
}

}  // namespace
}  // namespace orv
