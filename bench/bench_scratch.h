#pragma once
// Where benchmarks put the files they make: QUIRVEL_BENCH_DIR when set (a disk of one's
// choice), else the working folder.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace bench {

inline std::string ScratchPath(const std::string& name) {
  const char* dir = std::getenv("QUIRVEL_BENCH_DIR");
  std::filesystem::path base = dir && *dir ? std::filesystem::path(dir) : std::filesystem::current_path();
  return (base / name).string();
}

}  // namespace bench
