// Whole-database work on BLOB-heavy tables: CopyTable of 1,000 rows with a 1 MB BLOB each into
// another database file (goal: at least 20 MB/s of BLOB data) and CompactDatabase of that file
// (goal: under 60 s). The BLOBs are stored without compression and filled with bytes that do
// not compress, so the figures measure the copy, not a compressor. Files go to
// QUIRVEL_BENCH_DIR (else the working folder) and are removed afterwards.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_scratch.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 1000;
constexpr size_t kBlobBytes = 1 << 20;

std::unique_ptr<orv::TORVDatabase> MakeDatabase(const std::string& Name, const std::string& File) {
  auto db = std::make_unique<orv::TORVDatabase>(nullptr);
  db->SetDatabaseName(Name);
  db->SetDatabaseFileName(File);
  db->SetSilentMode(true);
  return db;
}

// A file with table PICS (ID, DATA) of kRows rows.
void FillSource(const std::string& File) {
  auto db = MakeDatabase("BenchSrc", File);
  db->CreateDatabase();
  db->Open();
  orv::TORVTable t;
  t.SetDatabaseName("BenchSrc");
  t.SetTableName("PICS");
  t.AdvFieldDefs().Add("ID", orv::aftInteger, 0, true);
  t.AdvFieldDefs().Add("DATA", orv::aftBlob, 0, false);
  t.AdvIndexDefs().Add("PK", "ID", {platform::data::ixPrimary});
  t.CreateTable();
  t.Open();
  std::vector<uint8_t> blob(kBlobBytes);
  uint64_t x = 88172645463325252ull;
  for (int r = 0; r < kRows; ++r) {
    for (size_t i = 0; i < blob.size(); i += 8) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      for (size_t k = 0; k < 8 && i + k < blob.size(); ++k) blob[i + k] = static_cast<uint8_t>(x >> (8 * k));
    }
    t.Append();
    t.FieldByName("ID")->SetAsInteger(r + 1);
    t.FieldByName("DATA")->SetAsBytes(blob);
    t.Post();
  }
  t.Close();
  db->Close();
}

void BM_CopyAndCompactBlobTable(benchmark::State& state) {
  const std::string src = bench::ScratchPath("bench_maint_src.orv");
  const std::string dst = bench::ScratchPath("bench_maint_dst.orv");
  std::filesystem::remove(src);
  std::filesystem::remove(dst);
  orv::TORVEngine engine;
  engine.Startup();
  FillSource(src);
  double copySeconds = 0, compactSeconds = 0;
  for (auto _ : state) {
    std::filesystem::remove(dst);
    MakeDatabase("BenchMaker", dst)->CreateDatabase();
    auto db = MakeDatabase("BenchSrc", src);
    db->Open();
    orv::TORVTable t;
    t.SetDatabaseName("BenchSrc");
    t.SetTableName("PICS");
    auto start = Clock::now();
    t.CopyTable("PICS", dst, "");
    copySeconds = std::chrono::duration<double>(Clock::now() - start).count();
    db->Close();

    auto copy = MakeDatabase("BenchDst", dst);
    start = Clock::now();
    copy->CompactDatabase();
    compactSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(copySeconds + compactSeconds);
  }
  const double mb = static_cast<double>(kRows) * static_cast<double>(kBlobBytes) / 1e6;
  state.counters["copy_s"] = copySeconds;
  state.counters["copy_MB_per_s"] = mb / copySeconds;
  state.counters["compact_s"] = compactSeconds;
  std::printf("CopyTable: %.0f MB of BLOB data in %.2f s = %.1f MB/s (goal >= 20 MB/s)\n", mb, copySeconds,
              mb / copySeconds);
  std::printf("CompactDatabase: %.2f s (goal < 60 s)\n", compactSeconds);
  engine.Shutdown();
  std::filesystem::remove(src);
  std::filesystem::remove(dst);
}
BENCHMARK(BM_CopyAndCompactBlobTable)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
