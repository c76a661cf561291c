// The compressed BLOB stream over a damaged underlying stream. The input is the 32-byte stored
// descriptor, one byte of choices, then the underlying stream's bytes. Reads stay within what
// the stream says it holds; an append that is accepted must read back after reopening.
#include <algorithm>
#include <vector>

#include "dbengine/storage/orv_compression_blob.h"
#include "dbengine/storage/orv_except.h"
#include "fuzz/fuzz_support.h"

namespace {

// Block sizes beyond this let a block claim (and honestly hold) more than a harness should
// inflate per input; the streams' handling of huge block sizes is tested on its own.
constexpr int32_t kMaxFuzzBlockSize = 4 << 20;

using orv::TORVCompressedBLOBStream;

void ReadSome(TORVCompressedBLOBStream& blob, uint8_t choice) {
  const int64_t size = blob.GetSize();
  std::vector<uint8_t> buf(65536);
  for (const int64_t at : {int64_t{0}, size / 2 + choice, size - 10, int64_t{choice} * 4099}) {
    if (at < 0) continue;
    blob.Seek(at, orv::soBeginning);
    const int32_t want = 1 + (choice * 257 + static_cast<int32_t>(at)) % 65536;
    const int32_t got = blob.Read(buf.data(), want);
    FUZZ_CHECK(got == std::clamp<int64_t>(size - at, 0, want));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  uint8_t raw[orv::TORVBLOBDescriptor::StoredSize] = {};
  const auto d = input.Bytes(sizeof raw);
  std::copy(d.begin(), d.end(), raw);
  orv::TORVBLOBDescriptor desc = orv::TORVBLOBDescriptor::ReadFrom(raw);
  if (desc.BlockSize > kMaxFuzzBlockSize) desc.BlockSize = 1 + desc.BlockSize % kMaxFuzzBlockSize;
  const uint8_t choice = input.U8();
  const bool repair = choice & 1;
  const auto bytes = input.Rest();
  orv::TORVMemoryStream under;
  if (!bytes.empty()) under.Write(bytes.data(), static_cast<int32_t>(bytes.size()));

  try {
    TORVCompressedBLOBStream blob(&under, desc, false, repair);
    ReadSome(blob, choice);
  } catch (const orv::EORVException&) {
  }

  // An append to a compressed BLOB that opens, then the BLOB reopened from the descriptor it
  // leaves. (A plain BLOB takes in whatever follows it in the stream once it is written to.)
  if (desc.CompressionAlgorithm < orv::acaZLIB || desc.CompressionAlgorithm > orv::acaPPM) return 0;
  const std::vector<uint8_t> tail(1 + choice % 200, static_cast<uint8_t>(choice));
  orv::TORVBLOBDescriptor after;
  int64_t old_size = 0;
  try {
    TORVCompressedBLOBStream blob(&under, desc, false, repair);
    old_size = blob.GetSize();
    if (old_size > (int64_t{64} << 20)) return 0;
    if (choice & 2) blob.SetSize(old_size / 2);
    old_size = blob.GetSize();
    blob.Seek(0, orv::soEnd);
    if (blob.Write(tail.data(), static_cast<int32_t>(tail.size())) != static_cast<int32_t>(tail.size())) return 0;
    after = blob.BLOBDescriptor();
  } catch (const orv::EORVException&) {
    return 0;
  }
  TORVCompressedBLOBStream reopened(&under, after, false, false);
  FUZZ_CHECK(reopened.GetSize() == old_size + static_cast<int64_t>(tail.size()));
  std::vector<uint8_t> back(tail.size());
  reopened.Seek(old_size, orv::soBeginning);
  FUZZ_CHECK(reopened.Read(back.data(), static_cast<int32_t>(back.size())) == static_cast<int32_t>(back.size()));
  FUZZ_CHECK(back == tail);
  return 0;
}
