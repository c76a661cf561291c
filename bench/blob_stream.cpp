// Compressed BLOB stream against zlib called directly on the same 5 MB: writing (compress2)
// and reading (uncompress) at level 1. The ratio counter is ours / zlib's time per run.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "dbengine/storage/orv_compression_blob.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kSize = 5 * 1000 * 1000;

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    std::mt19937 rng(7);
    std::vector<uint8_t> d;
    d.reserve(kSize);
    while (d.size() < kSize) {
      const std::string line = "MASK;" + std::to_string(rng() % 100000) + ";dot area " + std::to_string(rng() % 100) +
                               "." + std::to_string(rng() % 100) + ";ruling 60.0;angle " + std::to_string(rng() % 90) + "\r\n";
      d.insert(d.end(), line.begin(), line.end());
    }
    d.resize(kSize);
    return d;
  }();
  return data;
}

orv::TORVBLOBDescriptor Descriptor() {
  orv::TORVBLOBDescriptor d;
  d.CompressionAlgorithm = orv::acaZLIB;
  d.CompressionMode = 1;
  return d;
}

double ZlibWriteSeconds(std::vector<uint8_t>& out) {
  const auto& data = Data();
  uLongf size = compressBound(data.size());
  out.resize(size);
  const auto t0 = Clock::now();
  compress2(out.data(), &size, data.data(), data.size(), 1);
  const auto t1 = Clock::now();
  out.resize(size);
  return std::chrono::duration<double>(t1 - t0).count();
}

double ZlibReadSeconds(const std::vector<uint8_t>& packed) {
  std::vector<uint8_t> out(kSize);
  uLongf size = kSize;
  const auto t0 = Clock::now();
  uncompress(out.data(), &size, packed.data(), packed.size());
  const auto t1 = Clock::now();
  benchmark::DoNotOptimize(out.data());
  return std::chrono::duration<double>(t1 - t0).count();
}

void BM_BlobWrite(benchmark::State& state) {
  const auto& data = Data();
  double ours = 0, zlib = 0;
  std::vector<uint8_t> packed;
  for (auto _ : state) {
    orv::TORVMemoryStream under;
    const auto t0 = Clock::now();
    orv::TORVCompressedBLOBStream blob(&under, Descriptor(), true, false);
    blob.Write(data.data(), static_cast<int32_t>(data.size()));
    const auto t1 = Clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    zlib += ZlibWriteSeconds(packed);
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  state.counters["ratio_vs_zlib"] = ours / zlib;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_BlobRead(benchmark::State& state) {
  const auto& data = Data();
  orv::TORVMemoryStream under;
  orv::TORVBLOBDescriptor desc;
  {
    orv::TORVCompressedBLOBStream blob(&under, Descriptor(), true, false);
    blob.Write(data.data(), static_cast<int32_t>(data.size()));
    desc = blob.BLOBDescriptor();
  }
  std::vector<uint8_t> packed, out(kSize);
  ZlibWriteSeconds(packed);
  double ours = 0, zlib = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    orv::TORVCompressedBLOBStream blob(&under, desc, false, false);
    blob.Read(out.data(), static_cast<int32_t>(kSize));
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(out.data());
    ours += std::chrono::duration<double>(t1 - t0).count();
    zlib += ZlibReadSeconds(packed);
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  state.counters["ratio_vs_zlib"] = ours / zlib;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

}  // namespace

BENCHMARK(BM_BlobWrite)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlobRead)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
