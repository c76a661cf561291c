// The memory engine: its record store (slots, deletion map, record numbers), its page store
// and stream form, its tables (bitmaps, BLOB blocks, no transactions) and its database.
#include "dbengine/storage/orv_mem_engine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::MemoryTableFixture;
using testing::TestCursor;

// ---- Record store --------------------------------------------------------------------------------

struct Store {
  explicit Store(int32_t alloc_by = 1000) : records(4, alloc_by) {}
  TORVPageItemID Add(int32_t value) {
    TORVPageItemID id;
    EXPECT_TRUE(records.AddRecord(0, &value, id));
    return id;
  }
  bool Delete(int32_t slot) {
    TORVPageItemID id{slot, 0};
    return records.DeleteRecord(0, id);
  }
  // Reads with the mode from the slot (or a position flag), giving the result and the slot.
  std::pair<TORVGetRecordResult, int32_t> Get(TORVGetRecordMode mode, int32_t slot, bool first = false,
                                              bool last = false) {
    int32_t value = -1;
    TORVNavigationInfo nav;
    nav.GetRecordMode = mode;
    nav.RecordID = {slot, 0};
    nav.FirstPosition = first;
    nav.LastPosition = last;
    nav.RecordBuffer = &value;
    records.GetRecordBuffer(0, nav);
    return {nav.GetRecordResult, nav.GetRecordResult == grrOK ? nav.RecordID.PageNo : -1};
  }
  TORVMemoryRecordManager records;
};

TEST(TORVMemoryRecordManager, SlotsGrowByOneThousandAndTheLastSlotIsReused) {
  Store s;
  EXPECT_EQ(s.Add(0).PageNo, 0);
  EXPECT_EQ(s.records.AllocatedRecordCount(), 1000);
  for (int32_t i = 1; i < 1000; ++i) s.Add(i);
  EXPECT_EQ(s.records.AllocatedRecordCount(), 1000);
  EXPECT_EQ(s.Add(1000).PageNo, 1000) << "the 1001st record";
  EXPECT_EQ(s.records.AllocatedRecordCount(), 2000);
  for (int32_t i = 0; i <= 1000; ++i) ASSERT_EQ(s.Get(grmCurrent, i).second, i);

  TORVPageItemID last{1000, 0};
  ASSERT_TRUE(s.records.DeleteRecord(0, last));
  EXPECT_EQ(last.PageNo, 999) << "the id moves to the new last slot";
  EXPECT_EQ(s.Add(7).PageNo, 1000) << "a slot freed at the end is used again";
  ASSERT_TRUE(s.Delete(500));
  EXPECT_EQ(s.Add(8).PageNo, 1001) << "one freed in the middle is not";
  EXPECT_EQ(s.Get(grmCurrent, 500).first, grrError);
  EXPECT_FALSE(s.Delete(500)) << "deleted already";
  int32_t value = 99;
  EXPECT_FALSE(s.records.UpdateRecord(0, &value, TORVPageItemID{500, 0})) << "a deleted slot inside the records";
  EXPECT_FALSE(s.records.UpdateRecord(0, &value, TORVPageItemID{1002, 0}));
  EXPECT_TRUE(s.records.UpdateRecord(0, &value, TORVPageItemID{501, 0}));

  for (int32_t i = 0; i <= 1001; ++i) {
    if (i != 500) {
      ASSERT_TRUE(s.Delete(i)) << i;
    }
  }
  EXPECT_EQ(s.records.FRecordCount, 0);
  EXPECT_EQ(s.records.FirstRecordID(), 0);
  EXPECT_EQ(s.records.LastRecordID(), 0);
  EXPECT_EQ(s.Add(3).PageNo, 0) << "an emptied store starts again at slot 0";
}

TEST(TORVMemoryRecordManager, NavigationAtTheEdges) {
  Store s;
  EXPECT_EQ(s.Get(grmNext, 0, true).first, grrEOF) << "no records";
  for (int32_t i = 0; i < 10; ++i) s.Add(i);
  ASSERT_TRUE(s.Delete(0));
  ASSERT_TRUE(s.Delete(4));
  ASSERT_TRUE(s.Delete(9));
  EXPECT_EQ(s.Get(grmNext, 0, true), (std::pair{grrOK, 1}));
  EXPECT_EQ(s.Get(grmPrior, 0, false, true), (std::pair{grrOK, 8}));
  EXPECT_EQ(s.Get(grmPrior, 0, true).first, grrBOF);
  EXPECT_EQ(s.Get(grmNext, 0, false, true).first, grrEOF);
  EXPECT_EQ(s.Get(grmCurrent, 0, true).first, grrError);
  EXPECT_EQ(s.Get(grmNext, 3), (std::pair{grrOK, 5}));
  EXPECT_EQ(s.Get(grmPrior, 5), (std::pair{grrOK, 3}));
  EXPECT_EQ(s.Get(grmNext, 8).first, grrEOF) << "from the last record";
  EXPECT_EQ(s.Get(grmPrior, 1).first, grrBOF) << "from the first record";
  EXPECT_EQ(s.Get(grmPrior, 0).first, grrBOF);
  EXPECT_EQ(s.Get(grmCurrent, 4).first, grrError) << "a deleted slot";
  EXPECT_EQ(s.Get(grmNext, 4), (std::pair{grrOK, 5})) << "from a deleted slot";
}

TEST(TORVMemoryRecordManager, RecordNumbersCountTheSlotsThatHoldRecords) {
  Store s(8);
  for (int32_t i = 0; i < 10; ++i) s.Add(i);
  EXPECT_EQ(s.records.GetTablePositionByRecordID(3), 4) << "before the first deletion: the slot + 1";
  EXPECT_EQ(s.records.FindRecord(3), 3);
  ASSERT_TRUE(s.Delete(3));
  EXPECT_EQ(s.records.FindRecord(3), 4) << "record number 4 is slot 4";
  EXPECT_EQ(s.records.GetTablePositionByRecordID(4), 4);
  EXPECT_EQ(s.records.FindRecord(7), 8) << "rank 7, at a byte boundary";
  EXPECT_EQ(s.records.GetTablePositionByRecordID(8), 8);
  EXPECT_EQ(s.records.FindRecord(8), 9);
  EXPECT_EQ(s.records.FindRecord(9), -1);
  EXPECT_EQ(s.records.FindRecord(-1), -1);
  EXPECT_EQ(s.records.GetTablePositionByRecordID(16), -1) << "beyond the allocated slots";

  // Many additions and deletions against a plain model of the slots.
  std::mt19937 rng(24);
  std::vector<int32_t> live;
  for (int32_t i = 0; i < 10; ++i)
    if (i != 3) live.push_back(i);
  for (int step = 0; step < 3000; ++step) {
    if (live.empty() || rng() % 3 != 0) {
      live.push_back(s.Add(step).PageNo);
    } else {
      const size_t k = rng() % live.size();
      ASSERT_TRUE(s.Delete(live[k]));
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
    }
    if (step % 97 != 0) continue;
    ASSERT_EQ(s.records.FRecordCount, static_cast<int64_t>(live.size()));
    for (size_t r = 0; r < live.size(); r += 7) {
      ASSERT_EQ(s.records.FindRecord(static_cast<int64_t>(r)), live[r]) << "step " << step;
      ASSERT_EQ(s.records.GetTablePositionByRecordID(live[r]), static_cast<int64_t>(r) + 1);
    }
  }
}

TEST(TORVMemoryRecordManager, ApproximateRecordNumbersRunFromFirstToLast) {
  Store s;
  for (int32_t i = 0; i < 100; ++i) s.Add(i);
  for (int32_t i = 0; i < 50; ++i) ASSERT_TRUE(s.Delete(i));
  EXPECT_EQ(s.records.GetApproximateRecNo(0, TORVPageItemID{50, 0}), 1);
  EXPECT_EQ(s.records.GetApproximateRecNo(0, TORVPageItemID{99, 0}), 50);
  EXPECT_NEAR(s.records.GetApproximateRecNo(0, TORVPageItemID{75, 0}), 26, 1);
  EXPECT_EQ(s.records.GetApproximateRecNo(0, TORVPageItemID{10, 0}), -1);
  ExpectCode(10011, [] { TORVMemoryRecordManager m(0, 1000); });
}

// ---- Page store ---------------------------------------------------------------------------------

platform::TMemoryStream Saved(TORVMemoryPageManager& pages) {
  platform::TMemoryStream s;
  pages.SaveToStream(s);
  return s;
}

// A memory table with an index over a text field: several index pages, some given back.
struct IndexedFixture : MemoryTableFixture {
  IndexedFixture() {
    TORVFieldDefs f;
    AddField(f, "ID", aftInteger);
    AddField(f, "NAME", aftString, 40);
    TORVIndexDefs i;
    AddIndexDef(i, "ByName", {"NAME"});
    AddIndexDef(i, "ByID", {"ID"}, true, true);
    Create(f, i);
  }
  void Insert(int64_t id) {
    cursor->BeginInsert();
    cursor->Set("ID", id);
    cursor->SetText("NAME", "name " + std::to_string(id * 7919 % 1000));
    cursor->InternalPost(true);
    ASSERT_EQ(cursor->FErrorCode, 0) << cursor->FErrorMessage;
  }
};

TEST(TORVMemoryPageManager, SavedAndLoadedToTheSameBytes) {
  IndexedFixture fx;
  for (int64_t id = 0; id < 600; ++id) fx.Insert(id);
  fx.cursor->DeleteIndex("ByName");
  TORVMemoryPageManager& pages = fx.Table().Pages();
  ASSERT_GT(pages.AllocatedPageMap().BitCount(), pages.GetPageCount()) << "some pages were given back";
  const std::vector<uint8_t> first = Saved(pages).TakeBytes();
  ASSERT_GE(first.size(), 20u);
  EXPECT_EQ(LoadLE32(first.data()), static_cast<uint32_t>(pages.AllocatedPageCount()));
  EXPECT_EQ(LoadLE32(first.data() + 4), static_cast<uint32_t>(pages.LastAllocatedPageNo()));
  EXPECT_EQ(LoadLE32(first.data() + 8), 50u);
  EXPECT_EQ(LoadLE16(first.data() + 12), 4096);
  EXPECT_EQ(LoadLE16(first.data() + 14), 0);
  EXPECT_EQ(LoadLE32(first.data() + 16), static_cast<uint32_t>(pages.GetPageCount()));

  TORVMemoryPageManager loaded;
  platform::TMemoryStream in(first);
  loaded.LoadFromStream(in);
  EXPECT_EQ(Saved(loaded).TakeBytes(), first);
  EXPECT_EQ(loaded.GetPageCount(), pages.GetPageCount());
  for (int32_t n = 0; n <= pages.LastAllocatedPageNo(); ++n) {
    ASSERT_EQ(loaded.IsPageAllocated(n), pages.IsPageAllocated(n)) << n;
    if (pages.IsPageAllocated(n)) {
      ASSERT_EQ(std::memcmp(loaded.PageBuffer(n), pages.PageBuffer(n), 4096), 0) << n;
    }
  }
  // A loaded store hands out the pages given back before new ones.
  TORVPage page(&loaded);
  int32_t free_no = -1;
  ASSERT_TRUE(loaded.AllocatedPageMap().FindBit(false, free_no));
  loaded.InternalAddPage(page);
  EXPECT_EQ(page.FPageNo, free_no);

  // Damaged streams are refused before anything is taken over.
  for (size_t cut : {size_t{3}, size_t{19}, size_t{40}, first.size() - 1}) {
    TORVMemoryPageManager target;
    platform::TMemoryStream short_stream(std::vector<uint8_t>(first.begin(), first.begin() + static_cast<long>(cut)));
    EXPECT_THROW(target.LoadFromStream(short_stream), EORVException) << cut;
    EXPECT_EQ(target.GetPageCount(), 0);
  }
  std::vector<uint8_t> wrong = first;
  StoreLE32(wrong.data() + 16, LoadLE32(wrong.data() + 16) + 1);  // the page count disagrees with the map
  platform::TMemoryStream wrong_stream(wrong);
  TORVMemoryPageManager target;
  ExpectCode(10375, [&] { target.LoadFromStream(wrong_stream); });
  ExpectCode(10392, [&] {
    TORVPage p(&target);
    p.FPageNo = 3;
    target.InternalReadPage(p);
  });
}

// ---- Tables ---------------------------------------------------------------------------------------

TEST(TORVMemoryTableData, ABitmapCoversTheLastSlotAfterAMiddleDeletion) {
  IndexedFixture fx;
  for (int64_t id = 0; id < 20; ++id) fx.Insert(id);
  TestCursor& c = *fx.cursor;
  TORVMemoryTableData& t = fx.Table();
  const auto build = [&] {
    c.InternalFirst();
    t.BuildCursorRecordBitmap(&c);
    return c.FRecordBitmap.get();
  };
  TORVRecordBitmap* bitmap = build();
  EXPECT_EQ(bitmap->GetRecordCount(), 20);
  EXPECT_EQ(t.GetBitmapRecordCount(0), 20);
  c.CurrentRecordID = {5, 0};
  c.FirstPosition = false;
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  c.InternalDelete();
  ASSERT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(t.GetBitmapRecordCount(0), 20) << "the last slot + 1, not the record count";
  bitmap = build();
  EXPECT_EQ(bitmap->GetRecordCount(), 19);
  EXPECT_FALSE(bitmap->IsRecordVisible(TORVPageItemID{5, 0}));
  EXPECT_TRUE(bitmap->IsRecordVisible(TORVPageItemID{19, 0}));
  EXPECT_EQ(bitmap->GetRecordIDByRecNo(19).PageNo, 19);
}

TEST(TORVMemoryTableData, ChangesInATransactionAreAppliedAtOnce) {
  IndexedFixture fx;
  fx.session.StartTransaction();
  for (int64_t id = 0; id < 50; ++id) fx.Insert(id);
  const TORVSessionPageInfo* info = fx.Table().Pages().SessionInfo(0);
  EXPECT_TRUE(!info || info->DirtyPages->Count() == 0) << "nothing waits for a commit";
  fx.session.Rollback();
  EXPECT_EQ(fx.cursor->GetRecordCount(), 50) << "memory tables are not transactional";
  fx.session.StartTransaction();
  fx.Insert(50);
  fx.session.Commit(false);
  EXPECT_EQ(fx.cursor->GetRecordCount(), 51);
}

TEST(TORVMemoryTableData, DefinitionsAreCheckedBeforeAnythingIsMade) {
  MemoryTableFixture fx;
  TORVFieldDefs f;
  AddField(f, "ID", aftInteger);
  TORVConstraintDefs constraints;
  constraints.AddUnique()->IndexName = "X";
  constraints.GetDef(0)->ConstraintType = ctFK;
  TestCursor creator(fx.session, "T");
  TORVTableData* t = fx.db.FindOrCreateTableData(&creator);
  TORVIndexDefs no_indexes;
  ExpectCode(30040, [&] { t->CreateTable(&creator, f, no_indexes, constraints); });
  EXPECT_EQ(t->FRecordManager, nullptr);
  TORVFieldDefs no_fields;
  TORVConstraintDefs no_constraints;
  ExpectCode(10025, [&] { t->CreateTable(&creator, no_fields, no_indexes, no_constraints); });
  EXPECT_EQ(fx.db.FDatabaseName, "MEMORY");
  EXPECT_EQ(fx.session.FSessionID, 0);
  const int32_t id = fx.db.GetNewObjectId();
  EXPECT_EQ(fx.db.GetNewObjectId(), id + 1);
}

// ---- BLOB blocks ----------------------------------------------------------------------------------

std::vector<uint8_t> SampleBlob(size_t size) {
  std::vector<uint8_t> data(size);
  std::mt19937 rng(7);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i % 251 < 200 ? 'a' + i % 7 : rng());
  return data;
}

// ID, a zlib-compressed BLOB DATA and a plain BLOB NOTE.
struct BlobFixture : MemoryTableFixture {
  BlobFixture() {
    TORVFieldDefs f;
    AddField(f, "ID", aftInteger);
    TORVFieldDef* data = AddField(f, "DATA", aftBlob);
    data->BLOBCompressionAlgorithm = acaZLIB;
    data->BLOBCompressionMode = 6;
    data->BLOBBlockSize = 65536;
    AddField(f, "NOTE", aftMemo);
    Create(f);
  }
  void Insert(int64_t id, const std::vector<uint8_t>& data) {
    cursor->BeginInsert();
    cursor->Set("ID", id);
    cursor->SetBlob("DATA", data);
    cursor->InternalPost(true);
    ASSERT_EQ(cursor->FErrorCode, 0);
  }
  void GoTo(TestCursor& c, int64_t id) {
    c.InternalFirst();
    while (c.GetRecordBuffer(grmNext) == grrOK)
      if (c.GetInt("ID") == id) return;
    FAIL() << "no record " << id;
  }
  void Update(TestCursor& c, int64_t id, const std::vector<uint8_t>& data) {
    GoTo(c, id);
    c.BeginEdit();
    c.SetBlob("DATA", data);
    c.InternalPost(false);
    ASSERT_EQ(c.FErrorCode, 0);
  }
};

TEST(TORVMemoryTableData, ADumpedBLOBBlockIsReadByAnIndependentReader) {
  BlobFixture fx;
  const std::vector<uint8_t> original = SampleBlob(300000);
  fx.Insert(1, original);
  fx.GoTo(*fx.cursor, 1);
  EXPECT_EQ(fx.cursor->GetBlob("DATA"), original);
  const std::vector<uint8_t> block = fx.Table().BLOBBlockBytes(fx.cursor->FCurrentRecordBuffer, 1);
  ASSERT_GT(block.size(), 12u);
  EXPECT_EQ(LoadLE32(block.data()), 5u) << "65536-byte blocks";
  EXPECT_EQ(LoadLE64(block.data() + 4), 300000u);

  const std::filesystem::path dir = std::filesystem::path(QUIRVEL_TEST_OUTPUT);
  std::filesystem::create_directories(dir);
  const auto block_file = dir / "memory_blob_block.bin";
  const auto original_file = dir / "memory_blob_original.bin";
  std::ofstream(block_file, std::ios::binary).write(reinterpret_cast<const char*>(block.data()),
                                                    static_cast<std::streamsize>(block.size()));
  std::ofstream(original_file, std::ios::binary).write(reinterpret_cast<const char*>(original.data()),
                                                       static_cast<std::streamsize>(original.size()));
  const std::string command = "python3 " + std::string(QUIRVEL_TEST_DATA) + "/read_memory_blob_block.py " +
                              block_file.string() + " " + original_file.string() + " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, p) != nullptr;
  EXPECT_EQ(::pclose(p), 0) << line;
  ASSERT_TRUE(got);
  EXPECT_NE(std::string(line).find(" same"), std::string::npos) << line;
}

TEST(TORVMemoryTableData, BLOBBlocksLiveAsLongAsAStoredRecordRefersToThem) {
  BlobFixture fx;
  TestCursor& c = *fx.cursor;
  TORVMemoryTableData& t = fx.Table();
  const std::vector<uint8_t> first = SampleBlob(1000), second = SampleBlob(2000), third = SampleBlob(3000);
  fx.Insert(1, first);
  fx.Insert(2, second);
  EXPECT_EQ(t.BLOBBlockCount(), 2);

  // A cancelled edit: the stored record keeps its value, the block written for it goes.
  fx.GoTo(c, 1);
  c.BeginEdit();
  c.SetBlob("DATA", third);
  EXPECT_EQ(t.BLOBBlockCount(), 3);
  c.InternalCancel(false);
  EXPECT_EQ(t.BLOBBlockCount(), 2);
  fx.GoTo(c, 1);
  EXPECT_EQ(c.GetBlob("DATA"), first);

  // A value written twice before the post: the first of them goes at once.
  c.BeginEdit();
  c.SetBlob("DATA", third);
  c.SetBlob("DATA", second);
  EXPECT_EQ(t.BLOBBlockCount(), 3);
  c.InternalPost(false);
  ASSERT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(t.BLOBBlockCount(), 2) << "the old value went with the update";
  EXPECT_EQ(c.GetBlob("DATA"), second);

  // Another cursor still holding the old value in its buffer gets an error, not freed memory.
  auto other = fx.Open(fx.session);
  fx.GoTo(*other, 2);
  fx.Update(c, 2, third);
  ExpectCode(10112, [&] { other->GetBlob("DATA"); });

  // An empty value makes the field NULL; a NULL field reads as an empty stream.
  fx.Update(c, 2, {});
  EXPECT_EQ(c.GetBlob("DATA"), std::vector<uint8_t>{});
  EXPECT_EQ(c.GetBlob("NOTE"), std::vector<uint8_t>{});
  EXPECT_EQ(t.BLOBBlockCount(), 1);

  // A cancelled insert leaves nothing behind either.
  c.BeginInsert();
  c.Set("ID", 3);
  c.SetBlob("DATA", first);
  c.SetBlob("NOTE", second);
  EXPECT_EQ(t.BLOBBlockCount(), 3);
  c.InternalCancel(true);
  EXPECT_EQ(t.BLOBBlockCount(), 1);

  c.EmptyTable();
  EXPECT_EQ(t.BLOBBlockCount(), 0) << "emptying frees every stored block";
}

TEST(TORVMemoryTableData, ADeleteRefusedAfterAnotherCursorsDeleteFreesNothing) {
  BlobFixture fx;
  fx.Insert(1, SampleBlob(5000));
  fx.Insert(2, SampleBlob(6000));
  TORVMemoryTableData& t = fx.Table();
  auto a = fx.Open(fx.session);
  auto b = fx.Open(fx.session);
  fx.GoTo(*a, 1);
  fx.GoTo(*b, 1);
  b->InternalDelete();
  ASSERT_EQ(b->FErrorCode, 0);
  EXPECT_EQ(t.BLOBBlockCount(), 1);
  EXPECT_FALSE(t.DeleteRecord(a.get())) << "the store refuses: the record is gone";
  EXPECT_EQ(t.BLOBBlockCount(), 1);
  EXPECT_EQ(a->GetRecordCount(), 1);
  a->InternalFirst();
  ASSERT_EQ(a->GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(a->GetBlob("DATA"), SampleBlob(6000));
}

TEST(TORVMemoryTableData, DirectBLOBDataMovesTheStoredForm) {
  BlobFixture fx;
  const std::vector<uint8_t> data = SampleBlob(200000);
  fx.Insert(1, data);
  TestCursor& c = *fx.cursor;
  fx.GoTo(c, 1);
  TORVMemoryTableData& t = fx.Table();
  TORVPartialTemporaryBLOBDescriptor descriptor;
  void* stored = nullptr;
  t.GetDirectBlobData(&c, 1, c.FCurrentRecordBuffer, descriptor, stored);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(descriptor.UncompressedSize, 200000);
  EXPECT_EQ(descriptor.NumBlocks, 4);
  c.BeginInsert();
  c.Set("ID", 2);
  t.SetDirectBlobData(&c, 1, c.FCurrentRecordBuffer, descriptor, stored);
  c.InternalPost(true);
  ASSERT_EQ(c.FErrorCode, 0);
  t.FreeDirectBlobData(&c, 1, nullptr, descriptor, stored);
  EXPECT_EQ(stored, nullptr);
  fx.GoTo(c, 2);
  EXPECT_EQ(c.GetBlob("DATA"), data);
  t.GetDirectBlobData(&c, 2, c.FCurrentRecordBuffer, descriptor, stored);
  EXPECT_EQ(stored, nullptr) << "a NULL field lends nothing";
  EXPECT_EQ(descriptor.CompressedSize, 0);
}

}  // namespace
}  // namespace orv
