#pragma once
// PPM compression of BLOB blocks and internal files: the PPMd (variant G) coder on memory
// buffers. A compressed buffer is a 4-byte little-endian header word naming the model (order,
// memory, variant letter) followed by the range coder's bytes; the uncompressed size is not
// stored, the caller keeps it.
#include <array>
#include <cstdint>
#include <stdexcept>

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

// A failure of the PPM coder ("PPM Compression error", "PPM Decompression error",
// "PPM DecpmpressBuf: OutSize must be set").
class EPPMError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Compresses InSize bytes at CompressionMode into a new buffer from the process heap (release
// it with std::free). The coder works inside a block of InSize + InSize div 20 + 50 bytes and
// never writes past it: data that would not fit raises EPPMError, and the caller keeps the
// block uncompressed. Raises std::bad_alloc when the heap cannot give the block or the model.
void PPMCompressBuf(const void* InBuf, int32_t InSize, void*& OutBuf, int32_t& OutSize, int32_t CompressionMode);

// The same into the caller's block of OutCapacity bytes, without raising: false (OutSize 0)
// when the coded data would not fit, the model memory cannot be reserved or the arguments are
// invalid. Nothing is written past OutCapacity bytes.
bool PPMCompressInto(const void* InBuf, int32_t InSize, void* OutBuf, int32_t OutCapacity, int32_t& OutSize,
                     int32_t CompressionMode);

// Decompresses a PPM buffer. OutSize comes in as the uncompressed size (it must be above 0)
// and goes out as the decoded one; the decoder never writes more than that many bytes nor reads
// past InSize bytes. A wrong variant letter, a model that cannot be reserved, data that decodes
// to more than OutSize bytes or ends early raise EPPMError.
void PPMDecompressBuf(const void* InBuf, int32_t InSize, void*& OutBuf, int32_t& OutSize);

// The same into the caller's buffer of OutCapacity bytes, without raising: false for every
// failure above.
bool PPMDecompressInto(const void* InBuf, int32_t InSize, void* OutBuf, int32_t OutCapacity, int32_t& OutSize);

// Every PPM call holds this lock for its whole run, so that at most one model (up to 100 MB)
// is alive at a time.
void LockForPPMCompression();
void UnlockForPPMCompression();

}  // namespace orv
