#pragma once
// One-shot bzip2 compression of memory buffers. The output buffers come from the process
// heap (std::malloc) and are released by the caller with std::free.
#include <cstdint>
#include <stdexcept>

namespace orv {

class EBZCompressionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EBZDecompressionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One bzip2 stream with blockSize100k = bzBlockSize, verbosity 0 and the library's default
// work factor: the bytes the bzip2 program writes at that block size. The buffer keeps the
// size it was allocated with (101 % of the input + 600); OutBytes is the produced size.
void BZCompressBuf(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes, int32_t bzBlockSize);

// Decompresses one bzip2 stream, growing the output while the library reports it full.
void BZDecompressBuf(const void* InBuf, int32_t InBytes, int32_t OutEstimate, void*& OutBuf, int32_t& OutBytes);

// Decompresses one bzip2 stream into the caller's buffer of OutCapacity bytes. False when the
// stream does not decompress or does not fit; never raises.
bool BZDecompressInto(const void* InBuf, int32_t InBytes, void* OutBuf, int32_t OutCapacity, int32_t& OutBytes);

}  // namespace orv
