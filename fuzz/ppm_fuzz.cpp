// PPM buffers of BLOB blocks. A PPM buffer does not hold its own length: the input starts with
// the expected size (16 bits, as the caller stores it beside the block), then the buffer. The
// rest of the input is also compressed (at the small models, 2 to 16 MB) and must read back
// unchanged.
#include "fuzz/compression_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const int32_t expected = input.U16();
  const std::span<const uint8_t> buffer = input.Rest();
  if (expected > 0 && !buffer.empty()) {
    std::vector<uint8_t> out;
    if (fuzz::Decompress(orv::acaPPM, buffer, expected, out)) FUZZ_CHECK(out.size() <= static_cast<size_t>(expected));
  }
  if (!buffer.empty() && buffer.size() <= 16384)
    fuzz::CheckRoundTrip(orv::acaPPM, static_cast<uint8_t>(1 + size % 4), buffer);
  return 0;
}
