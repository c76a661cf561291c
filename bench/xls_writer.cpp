// The spreadsheet export of 10,000 archive-like rows (a date-time, six texts with units and
// job data, three doubles, a picture column) to an .xls file, against the naive baseline of
// walking the same dataset and reading every cell's value without writing anything. The
// goal is under 1 s for the whole file; ratio_vs_walk shows what the workbook itself costs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/datetime.h"
#include "platform/data/tests/vector_dataset.h"
#include "platform/xls/data_to_xls.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::data::Variant;
using platform::data::testing::VectorDataSet;
namespace data = platform::data;

constexpr int kRows = 10000;

const char* const kAlgorithms[] = {"MASK DOT AREA", "PLATE DOT AREA", "PLATE LINE WIDTH", "FILM DOT AREA"};

std::unique_ptr<VectorDataSet> ArchiveRows() {
  auto ds = std::make_unique<VectorDataSet>(std::vector<data::testing::Column>{{"DateTime", data::ftDateTime},
                                                                               {"Algorithm", data::ftString, 40},
                                                                               {"Image", data::ftGraphic},
                                                                               {"JOBID", data::ftString, 40},
                                                                               {"Plate", data::ftString, 40},
                                                                               {"Operator", data::ftString, 40},
                                                                               {"Info", data::ftString, 255},
                                                                               {"DotArea", data::ftString, 20},
                                                                               {"Ruling", data::ftFloat},
                                                                               {"Angle", data::ftFloat},
                                                                               {"LineWidth", data::ftFloat}});
  ds->Open();
  const platform::TDateTime start = platform::EncodeDate(2023, 1, 1);
  for (int i = 0; i < kRows; ++i) {
    ds->AppendRecord({Variant::FromDate(start + i * 0.0137), kAlgorithms[i % 4], Variant::Null(),
                      Variant::FromAnsi("J" + std::to_string(10000 + i % 700)),
                      Variant::FromAnsi("Plate " + std::to_string(i % 37)),
                      Variant::FromAnsi(i % 3 ? "M\xfcller" : "Dupont"),
                      Variant::FromAnsi("Run " + std::to_string(i) + " at 45.00\xb0, 25.40\xb5m"),
                      Variant::FromAnsi(std::to_string(5 + i % 90) + ".25%"), 60.0 + (i % 120) * 0.5,
                      15.0 + (i % 45) * 0.37, 25.4 + (i % 200) * 0.013});
  }
  return ds;
}

VectorDataSet& Rows() {
  static const std::unique_ptr<VectorDataSet> ds = ArchiveRows();
  return *ds;
}

// Reads every value the export reads, through the same field accessors.
double WalkSeconds(VectorDataSet& ds) {
  const auto t0 = Clock::now();
  size_t bytes = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (int f = 0; f < ds.FieldCount(); ++f) {
      data::TField* field = ds.Fields()[f];
      if (field->IsBlob() || field->IsNull()) continue;
      switch (field->DataType()) {
        case data::ftString: bytes += field->AsAnsiString().size(); break;
        default: bytes += static_cast<size_t>(field->AsFloat() > 0); break;
      }
    }
  }
  benchmark::DoNotOptimize(bytes);
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

void BM_XlsExport10000Rows(benchmark::State& state) {
  VectorDataSet& ds = Rows();
  const std::string path =
      (std::filesystem::temp_directory_path() / ("quirvel-bench-" + std::to_string(::getpid()) + ".xls")).string();
  platform::xls::TDataToXLS xls(&ds);
  xls.SheetName = "PLATE";
  double ours = 0, walk = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    xls.SaveDatasetAs(path);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    ours += s;
    walk += WalkSeconds(ds);
    state.SetIterationTime(s);
  }
  state.counters["rows"] = kRows;
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(path));
  state.counters["ms_per_10000_rows"] = 1000 * ours / static_cast<double>(state.iterations());
  state.counters["ratio_vs_walk"] = ours / walk;
  std::filesystem::remove(path);
}

BENCHMARK(BM_XlsExport10000Rows)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
