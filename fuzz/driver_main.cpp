// The plain driver of the fuzz targets in the test build: runs every file of the folders (and
// files) named on the command line once through LLVMFuzzerTestOneInput, in name order, so that
// the seed corpus and every input that once failed stay fixed. No fuzzing happens here.
//
// A crash, a sanitizer report or an exception that leaves the target fails the run. So does an
// input that takes longer than QUIRVEL_FUZZ_INPUT_LIMIT_S seconds (default 10, the timeout the
// fuzzer itself uses): a hostile file must end promptly.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path p(argv[i]);
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      for (const auto& e : fs::recursive_directory_iterator(p))
        if (e.is_regular_file() && e.path().filename().string().front() != '.') inputs.push_back(e.path());
    } else if (fs::is_regular_file(p, ec)) {
      inputs.push_back(p);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  const char* limit_text = std::getenv("QUIRVEL_FUZZ_INPUT_LIMIT_S");
  const double limit_ms = 1000.0 * (limit_text ? std::atof(limit_text) : 10.0);
  double slowest_ms = 0;
  fs::path slowest;
  int too_slow = 0;
  for (const fs::path& p : inputs) {
    std::ifstream f(p, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto start = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (ms > slowest_ms) {
      slowest_ms = ms;
      slowest = p;
    }
    if (ms > limit_ms) {
      std::fprintf(stderr, "too slow: %s took %.0f ms\n", p.c_str(), ms);
      ++too_slow;
    }
  }
  std::printf("%zu inputs, slowest %.0f ms (%s)\n", inputs.size(), slowest_ms, slowest.filename().c_str());
  return too_slow == 0 ? 0 : 1;
}
