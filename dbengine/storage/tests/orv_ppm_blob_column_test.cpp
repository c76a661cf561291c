// A BLOB column compressed with PPM, through the engine's tables: what is posted is what is
// read back from a second cursor, after an update (MEMORY) or a second insert (TEMP).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dbengine/storage/orv_compression.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using namespace orv::testing;

std::vector<uint8_t> Measurements(size_t size, uint32_t seed) {
  // Text rows like the archive's, with some noise: compressible, but not trivially.
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size)
    s += "MASK;" + std::to_string(rng() % 100000) + ";dot area " + std::to_string(rng() % 100) + "." +
         std::to_string(rng() % 100) + ";ruling 60.0\r\n";
  s.resize(size);
  return std::vector<uint8_t>(s.begin(), s.end());
}

template <class Fixture>
void PostReadUpdateRead(Fixture& fx, bool Updates) {
  TORVFieldDefs f;
  AddField(f, "ID", aftInteger);
  TORVFieldDef* data = AddField(f, "DATA", aftBlob);
  data->BLOBCompressionAlgorithm = acaPPM;
  data->BLOBCompressionMode = 2;
  data->BLOBBlockSize = 65536;
  TestCursor& c = fx.Create(f);

  const std::vector<uint8_t> first = Measurements(200000, 1), second = Measurements(70000, 2);
  c.BeginInsert();
  c.Set("ID", int64_t{1});
  c.SetBlob("DATA", first);
  c.InternalPost(true);
  ASSERT_EQ(c.FErrorCode, 0) << c.FErrorMessage;

  auto other = fx.Open(fx.session);
  other->InternalFirst();
  ASSERT_EQ(other->GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(other->GetBlob("DATA"), first);

  if (Updates) {
    other->BeginEdit();
    other->SetBlob("DATA", second);
    other->InternalPost(false);
  } else {  // a TEMP table takes inserts only
    other->BeginInsert();
    other->Set("ID", int64_t{2});
    other->SetBlob("DATA", second);
    other->InternalPost(true);
  }
  ASSERT_EQ(other->FErrorCode, 0) << other->FErrorMessage;

  c.InternalFirst();
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(c.GetBlob("DATA"), Updates ? second : first);
  if (!Updates) {
    ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
    EXPECT_EQ(c.GetBlob("DATA"), second);
  }
}

TEST(PPMBLOBColumn, RoundTripsInAMemoryTable) {
  MemoryTableFixture fx;
  PostReadUpdateRead(fx, true);
}

TEST(PPMBLOBColumn, RoundTripsInATemporaryTable) {
  BasicTableFixture<TORVTemporaryDatabaseData> fx;
  PostReadUpdateRead(fx, false);
}

}  // namespace
}  // namespace orv
