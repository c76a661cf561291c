// zlib buffers of BLOB blocks and internal files: the whole input is one compressed buffer,
// decompressed without and with its size; its bytes are also compressed and read back.
#include "fuzz/compression_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> in(data, size);
  fuzz::CheckDecompression(orv::acaZLIB, in, 0);
  if (size > 0 && size <= 16384) fuzz::CheckRoundTrip(orv::acaZLIB, static_cast<uint8_t>(data[0] % 10), in);
  return 0;
}
