#pragma once
// One-shot zlib compression of memory buffers. The output buffers come from the process heap
// (std::malloc) and are released by the caller with std::free.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orv {

// A failure of the zlib library: "error " followed by the library's code.
class ECompressionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One zlib stream (window bits 15, memory level 8, default strategy) at level compMode, the
// same bytes zlib's own compress2 gives. Raises ECompressionError or std::bad_alloc; the
// output buffer is released on failure.
void ZLIBCompressBuf(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes, uint8_t compMode);

// Inflates one zlib stream. OutEstimate is the expected size (0: unknown). A stream that does
// not inflate gives OutBuf nil and OutBytes 0 without raising.
void ZLIBDecompressBuf(const void* InBuf, int32_t InBytes, int32_t OutEstimate, void*& OutBuf, int32_t& OutBytes);

// Inflates one zlib stream into the caller's buffer of OutCapacity bytes. False when the
// stream does not inflate or does not end within the buffer; never raises.
bool ZLIBDecompressInto(const void* InBuf, int32_t InBytes, void* OutBuf, int32_t OutCapacity, int32_t& OutBytes);

}  // namespace orv
