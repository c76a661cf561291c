#pragma once
// Parameters of the PPMd (variant G) BLOB coder. The coder itself is not part of this build:
// the compression dispatch reports PPM as not available. What is fixed already is how a
// compression mode selects the model and how the stored buffer names it.
#include <array>
#include <cstdint>
#include <mutex>

namespace orv {

// Model order and model memory in MB per compression mode 1..9 (index 0 unused).
inline constexpr std::array<int, 10> PPM_MO = {0, 2, 3, 4, 5, 7, 8, 10, 13, 16};
inline constexpr std::array<int, 10> PPM_SA = {0, 2, 3, 7, 16, 22, 25, 40, 100, 100};

// The little-endian header word in front of a PPM buffer: bits 0-3 order - 1, bits 4-11
// memory in MB - 1, bits 12-15 the variant letter G - A (6). Modes below 1 count as 1 and
// above 9 as 9.
constexpr uint32_t PPMHeaderWord(int CompressionMode) {
  const int m = CompressionMode < 1 ? 1 : (CompressionMode > 9 ? 9 : CompressionMode);
  return static_cast<uint32_t>(PPM_MO[static_cast<size_t>(m)] - 1) |
         (static_cast<uint32_t>(PPM_SA[static_cast<size_t>(m)] - 1) << 4) | (6u << 12);
}

// The coder's model is process-wide, so every PPM call is serialised by this lock.
void LockForPPMCompression();
void UnlockForPPMCompression();

}  // namespace orv
