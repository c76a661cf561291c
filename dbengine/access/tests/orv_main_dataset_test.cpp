// The engine's dataset over MEMORY tables: native date and time forms, record numbers and
// bookmarks, editing with the engine's result codes and the error events, BLOB streams.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_errors.h"
#include "dbengine/access/tests/table_test_support.h"
#include "platform/base/datetime.h"
#include "platform/data/blob_field.h"
#include "platform/data/date_time_field.h"

namespace orv::testing {
namespace {

using namespace platform::data;

class DataSetTest : public EngineTest {
 protected:
  // ID INTEGER (primary key), NAME VARCHAR(20), PIC BLOB.
  std::unique_ptr<TORVTable> People() {
    auto t = MakeTable("MEMORY", "PEOPLE", {{"ID", ftInteger}, {"NAME", ftString, 20}, {"PIC", ftBlob}},
                       {{"PK", "ID", {ixPrimary, ixUnique}}});
    t->Open();
    for (int id : {1, 2, 3}) t->AppendRecord({id, "p" + std::to_string(id)});
    t->First();
    return t;
  }
};

TEST_F(DataSetTest, DatesAndTimesReachTheDataLayerInItsNativeForms) {
  auto t = MakeTable("MEMORY", "TIMES",
                     {{"D", ftDate}, {"T", ftTime}, {"DT", ftDateTime}, {"TS", ftTimeStamp}});
  t->Open();
  t->Append();
  const platform::TDateTime day = platform::EncodeDate(2024, 6, 13);
  const platform::TDateTime moment = day + platform::EncodeTime(9, 30, 15, 250);
  t->FieldByName("D")->SetAsDateTime(day);
  t->FieldByName("T")->SetAsDateTime(platform::EncodeTime(12, 0, 0, 0));
  t->FieldByName("DT")->SetAsDateTime(moment);
  t->FieldByName("TS")->SetAsDateTime(moment);
  t->Post();
  t->Close();
  t->Open();

  int32_t native_date = 0;
  ASSERT_TRUE(t->FieldByName("D")->GetData(&native_date));
  EXPECT_EQ(native_date, 739050);  // Python: date(2024, 6, 13).toordinal()
  int32_t native_time = 0;
  ASSERT_TRUE(t->FieldByName("T")->GetData(&native_time));
  EXPECT_EQ(native_time, 43200000);
  double native_ms = 0;
  ASSERT_TRUE(t->FieldByName("DT")->GetData(&native_ms));
  // Python: (datetime(2024,6,13,9,30,15,250000) - datetime(1,1,1)) / timedelta(milliseconds=1)
  // + 86400000 (the platform counts 0001-01-01 as day 1)
  EXPECT_DOUBLE_EQ(native_ms, 63853867815250.0 + 86400000.0);
  EXPECT_DOUBLE_EQ(t->FieldByName("D")->AsDateTime(), day);
  EXPECT_NEAR(t->FieldByName("DT")->AsDateTime(), moment, 1e-9);
  auto* ts = dynamic_cast<TSQLTimeStampField*>(t->FieldByName("TS"));
  ASSERT_NE(ts, nullptr);
  const TSQLTimeStamp stamp = ts->AsSQLTimeStamp();
  EXPECT_EQ(stamp.Year, 2024);
  EXPECT_EQ(stamp.Month, 6);
  EXPECT_EQ(stamp.Day, 13);
  EXPECT_EQ(stamp.Hour, 9);
  EXPECT_EQ(stamp.Second, 15);
  EXPECT_EQ(stamp.Fractions, 250u);
}

TEST_F(DataSetTest, TimesRoundHalfToEvenMilliseconds) {
  auto t = MakeTable("MEMORY", "T2", {{"T", ftTime}});
  t->Open();
  // 0.5 ms and 1.5 ms after midnight, as TDateTime fractions
  for (double ms : {0.5, 1.5, 2.5}) t->AppendRecord({Variant::FromDate(ms / 86400000.0)});
  std::vector<int32_t> seen;
  for (t->First(); !t->Eof(); t->Next()) {
    int32_t v = -1;
    t->FieldByName("T")->GetData(&v);
    seen.push_back(v);
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{0, 2, 2}));
}

TEST_F(DataSetTest, RecordNumbersBookmarksAndCounts) {
  auto t = People();
  EXPECT_EQ(t->RecordCount(), 3);
  EXPECT_EQ(t->CurrentVersion(), "7.90 ");
  t->Next();
  EXPECT_EQ(t->RecNo(), 2);
  const TBookmark second = t->GetBookmark();
  ASSERT_EQ(second.size(), 7u);
  EXPECT_EQ(second[6], 0);
  t->Next();
  const TBookmark third = t->GetBookmark();
  EXPECT_LT(t->CompareBookmarks(second, third), 0);
  EXPECT_GT(t->CompareBookmarks(third, second), 0);
  EXPECT_EQ(t->CompareBookmarks({}, {}), 0);
  EXPECT_EQ(t->CompareBookmarks({}, second), 1);   // nil sorts after a real one
  EXPECT_EQ(t->CompareBookmarks(second, {}), -1);
  EXPECT_FALSE(t->BookmarkValid({}));
  EXPECT_TRUE(t->BookmarkValid(second));
  t->GotoBookmark(second);
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 2);
  t->Delete();
  EXPECT_FALSE(t->BookmarkValid(second));
  EXPECT_TRUE(t->BookmarkValid(third));
  t->SetRecNo(2);
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 3);

  t->Insert();
  EXPECT_EQ(t->RecNo(), -1);
  t->Cancel();
  t->Close();
  EXPECT_EQ(t->RecordCount(), 0);
}

TEST_F(DataSetTest, AnEmptyStringReadsBackAsNull) {
  auto t = People();
  t->Edit();
  t->FieldByName("NAME")->SetAsString("");
  t->Post();
  EXPECT_TRUE(t->FieldByName("NAME")->IsNull());
}

TEST_F(DataSetTest, AFailedPostRaisesTheEngineErrorAndKeepsTheInsert) {
  auto t = People();
  t->Append();
  t->FieldByName("ID")->SetAsInteger(2);  // the key is taken
  try {
    t->Post();
    FAIL() << "duplicate key posted";
  } catch (const EORVEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), -8);
  }
  EXPECT_EQ(t->State(), dsInsert);
  t->FieldByName("ID")->SetAsInteger(4);
  t->Post();
  EXPECT_EQ(t->RecordCount(), 4);
}

TEST_F(DataSetTest, AbortInThePostErrorEventIsSilent) {
  auto t = People();
  int events = 0;
  t->OnPostError = [&](TDataSet&, EDatabaseError& e, TDataAction& action) {
    ++events;
    EXPECT_NE(dynamic_cast<EORVEngineError*>(&e), nullptr);
    action = daAbort;
  };
  t->Append();
  t->FieldByName("ID")->SetAsInteger(1);
  EXPECT_THROW(t->Post(), EAbort);
  EXPECT_EQ(events, 1);
  EXPECT_EQ(t->State(), dsInsert);
  t->Cancel();
  EXPECT_EQ(t->RecordCount(), 3);
}

TEST_F(DataSetTest, ReadOnlyDatasetsRefuseChanges) {
  People().reset();
  auto t = std::make_unique<TORVTable>();
  t->SetName("RO");
  t->SetDatabaseName("memory");
  EXPECT_TRUE(t->InMemory());
  t->SetTableName("PEOPLE");
  t->SetReadOnly(true);
  t->Open();
  EXPECT_EQ(DatabaseErrorOf([&] { t->Edit(); }), "RO: Cannot modify a read-only dataset");
  EXPECT_EQ(t->State(), dsBrowse);
  EXPECT_EQ(CodeOf([&] { t->CreateBlobStream(t->FieldByName("PIC"), bmWrite); }), 10107);
}

TEST_F(DataSetTest, SettingInMemoryNamesTheMemoryDatabase) {
  TORVTable t;
  t.SetInMemory(true);
  EXPECT_EQ(t.DatabaseName(), "MEMORY");
  TORVTable blank;
  blank.SetTableName("X");
  EXPECT_EQ(DatabaseErrorOf([&] { blank.Open(); }), "DatabaseName property is blank");
}

TEST_F(DataSetTest, CalculatedFieldsLiveBehindTheRecord) {
  People().reset();
  TORVTable t;
  t.SetDatabaseName("MEMORY");
  t.SetTableName("PEOPLE");
  for (const char* name : {"ID", "NAME"}) {
    std::unique_ptr<TField> f = TFieldDef(nullptr, name, std::string(name) == "ID" ? ftInteger : ftString,
                                          std::string(name) == "ID" ? 0 : 20, false)
                                    .CreateFieldObject();
    t.AddField(std::move(f));
  }
  std::unique_ptr<TField> twice = TFieldDef(nullptr, "TWICE", ftInteger, 0, false).CreateFieldObject();
  twice->SetFieldKind(fkCalculated);
  t.AddField(std::move(twice));
  t.OnCalcFields = [](TDataSet& ds) {
    ds.FieldByName("TWICE")->SetAsInteger(ds.FieldByName("ID")->AsInteger() * 2);
  };
  t.Open();
  std::vector<int> values;
  for (; !t.Eof(); t.Next()) values.push_back(t.FieldByName("TWICE")->AsInteger());
  EXPECT_EQ(values, (std::vector<int>{2, 4, 6}));
}

// ---- BLOB streams

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

TEST_F(DataSetTest, BlobsRoundTripAndAreStoredOnlyByThePost) {
  auto t = People();
  auto* pic = dynamic_cast<TBlobField*>(t->FieldByName("PIC"));
  ASSERT_NE(pic, nullptr);
  const std::vector<uint8_t> big = RandomBytes(3u << 20, 7);
  t->Edit();
  pic->SetAsBytes(big);
  EXPECT_TRUE(pic->Modified());
  t->Post();
  t->Close();
  t->Open();
  EXPECT_EQ(pic = dynamic_cast<TBlobField*>(t->FieldByName("PIC")), pic);
  EXPECT_TRUE(t->FieldByName("PIC")->AsBytes() == big);

  // written through a bmWrite stream, then cancelled: the stored value stays
  t->Edit();
  {
    std::unique_ptr<platform::TStream> s = t->CreateBlobStream(t->FieldByName("PIC"), bmWrite);
    EXPECT_EQ(s->GetSize(), 0);  // a writing stream starts empty
    s->WriteBuffer("xyz", 3);
  }
  EXPECT_EQ(t->FieldByName("PIC")->AsBytes().size(), 3u);
  t->Cancel();
  EXPECT_TRUE(t->FieldByName("PIC")->AsBytes() == big);
}

TEST_F(DataSetTest, ASecondWriterOnOneFieldIsRefused) {
  auto t = People();
  t->Edit();
  std::unique_ptr<platform::TStream> first = t->CreateBlobStream(t->FieldByName("PIC"), bmWrite);
  EXPECT_EQ(CodeOf([&] { t->CreateBlobStream(t->FieldByName("PIC"), bmWrite); }), 10115);
  first.reset();
  t->Cancel();
  EXPECT_EQ(CodeOf([&] { t->CreateBlobStream(t->FieldByName("PIC"), bmWrite); }), 10111);
}

TEST_F(DataSetTest, AReadingStreamLeavesTheFieldUnmodified) {
  auto t = People();
  t->Edit();
  auto* pic = dynamic_cast<TBlobField*>(t->FieldByName("PIC"));
  t->CreateBlobStream(pic, bmReadWrite).reset();
  EXPECT_FALSE(pic->Modified());
  EXPECT_FALSE(t->Modified());
  t->Cancel();
}

}  // namespace
}  // namespace orv::testing
