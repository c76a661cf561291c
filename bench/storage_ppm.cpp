// The PPM coder against zlib at level 6 on the same data: English text (64 KB) and a
// 1280x1024 24-bit image of a halftone screen with sensor noise, as the archive stores them.
// Each benchmark reports its throughput in bytes per second of uncompressed data, and the
// compressed size as a counter.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "dbengine/storage/orv_ppm.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes& Text() {
  static const Bytes text = [] {
    std::ifstream f(std::string(QUIRVEL_SOURCE_DIR) + "/dbengine/storage/tests/data/ppmd/text64k.in", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }();
  return text;
}

const Bytes& Image() {
  static const Bytes image = [] {
    // A 60 L/cm screen at 45 degrees seen at about 10 pixels per period: dots darken towards the
    // lower right, plus a little noise, gray in all three channels.
    Bytes b(1280 * 1024 * 3);
    uint32_t x = 1;
    for (int r = 0; r < 1024; ++r)
      for (int c = 0; c < 1280; ++c) {
        const double u = (r + c) * 0.4443, v = (r - c) * 0.4443;
        const double screen = std::cos(u) * std::cos(v);
        const double tone = (r + c) / 2304.0 * 2 - 1;
        x = x * 1103515245u + 12345u;
        const int noise = static_cast<int>((x >> 16) % 7) - 3;
        int value = (screen < tone ? 40 : 215) + noise;
        value = value < 0 ? 0 : (value > 255 ? 255 : value);
        for (int k = 0; k < 3; ++k) b[(static_cast<size_t>(r) * 1280 + c) * 3 + k] = static_cast<uint8_t>(value);
      }
    return b;
  }();
  return image;
}

const Bytes& Data(int which) { return which == 0 ? Text() : Image(); }

void PPMCompress(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  const int mode = static_cast<int>(state.range(1));
  int32_t size = 0;
  for (auto _ : state) {
    void* out = nullptr;
    orv::PPMCompressBuf(in.data(), static_cast<int32_t>(in.size()), out, size, mode);
    std::free(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["packed"] = size;
}

void PPMDecompress(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  const int mode = static_cast<int>(state.range(1));
  void* packed = nullptr;
  int32_t packedSize = 0;
  orv::PPMCompressBuf(in.data(), static_cast<int32_t>(in.size()), packed, packedSize, mode);
  for (auto _ : state) {
    void* out = nullptr;
    int32_t size = static_cast<int32_t>(in.size());
    orv::PPMDecompressBuf(packed, packedSize, out, size);
    std::free(out);
  }
  std::free(packed);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["packed"] = packedSize;
}

void ZlibCompress(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  Bytes out(compressBound(in.size()));
  uLongf size = 0;
  for (auto _ : state) {
    size = out.size();
    compress2(out.data(), &size, in.data(), in.size(), 6);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["packed"] = static_cast<double>(size);
}

void ZlibDecompress(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  Bytes packed(compressBound(in.size()));
  uLongf packedSize = packed.size();
  compress2(packed.data(), &packedSize, in.data(), in.size(), 6);
  Bytes out(in.size());
  for (auto _ : state) {
    uLongf size = out.size();
    uncompress(out.data(), &size, packed.data(), packedSize);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["packed"] = static_cast<double>(packedSize);
}

// Arguments: data (0 text64k, 1 image), mode.
BENCHMARK(PPMCompress)->ArgsProduct({{0, 1}, {1, 5, 9}})->Unit(benchmark::kMillisecond);
BENCHMARK(PPMDecompress)->ArgsProduct({{0, 1}, {1, 5, 9}})->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibCompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibDecompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
