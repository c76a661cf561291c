#include "dbengine/storage/orv_ppm.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "dbengine/storage/orv_ppm_model.h"
#include "dbengine/storage/orv_ppm_rangecoder.h"

namespace orv {
namespace {

std::mutex& FCSect() {
  static std::mutex m;
  return m;
}

struct PPMLock {
  PPMLock() { LockForPPMCompression(); }
  ~PPMLock() { UnlockForPPMCompression(); }
  PPMLock(const PPMLock&) = delete;
  PPMLock& operator=(const PPMLock&) = delete;
};

struct HeapFree {
  void operator()(void* p) const { std::free(p); }
};
using HeapBlock = std::unique_ptr<uint8_t, HeapFree>;

constexpr unsigned kVariantG = 'G' - 'A';

// Decodes into Out; the decoded size, or -1 for any failure.
int64_t Decode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity) {
  if (inSize < 4) return -1;
  const uint32_t header = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                          (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
  if ((header >> 12) != kVariantG) return -1;
  const unsigned order = (header & 0x0F) + 1;
  const unsigned memoryMB = ((header >> 4) & 0xFF) + 1;
  auto model = std::make_unique<ppm::TPPMModel>();
  if (!model->Start(order, memoryMB)) return -1;
  ppm::TPPMRangeDecoder rc(in + 4, inSize - 4);
  return model->DecodeBuffer(rc, out, outCapacity);
}

}  // namespace

void LockForPPMCompression() { FCSect().lock(); }
void UnlockForPPMCompression() { FCSect().unlock(); }

namespace {
enum class Coded { Ok, NoRoom, NoMemory };

Coded Encode(const uint8_t* in, size_t inSize, uint8_t* out, size_t capacity, size_t& produced, int mode) {
  produced = 0;
  const int m = mode < 1 ? 1 : (mode > 9 ? 9 : mode);
  if (capacity < 4) return Coded::NoRoom;
  const uint32_t header = PPMHeaderWord(m);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(header >> (8 * i));
  auto model = std::make_unique<ppm::TPPMModel>();
  if (!model->Start(static_cast<unsigned>(PPM_MO[static_cast<size_t>(m)]),
                    static_cast<unsigned>(PPM_SA[static_cast<size_t>(m)])))
    return Coded::NoMemory;
  ppm::TPPMRangeEncoder rc(out + 4, capacity - 4);
  if (!model->EncodeBuffer(rc, in, inSize)) return Coded::NoRoom;
  produced = 4 + rc.Size();
  return Coded::Ok;
}
}  // namespace

bool PPMCompressInto(const void* InBuf, int32_t InSize, void* OutBuf, int32_t OutCapacity, int32_t& OutSize,
                     int32_t CompressionMode) {
  OutSize = 0;
  if (InSize < 0 || (InSize > 0 && !InBuf) || OutCapacity < 0 || (OutCapacity > 0 && !OutBuf)) return false;
  PPMLock lock;
  size_t produced = 0;
  try {
    if (Encode(static_cast<const uint8_t*>(InBuf), static_cast<size_t>(InSize), static_cast<uint8_t*>(OutBuf),
               static_cast<size_t>(OutCapacity), produced, CompressionMode) != Coded::Ok)
      return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  OutSize = static_cast<int32_t>(produced);
  return true;
}

void PPMCompressBuf(const void* InBuf, int32_t InSize, void*& OutBuf, int32_t& OutSize, int32_t CompressionMode) {
  OutBuf = nullptr;
  OutSize = 0;
  if (InSize < 0 || (InSize > 0 && !InBuf)) throw EPPMError("PPM Compression error");
  // The output block is the input plus 5 % plus 50 bytes; data that would need more is better
  // stored uncompressed, so the coder stops at the block's end.
  const size_t bound = static_cast<size_t>(InSize) + static_cast<size_t>(InSize) / 20 + 50;
  PPMLock lock;
  HeapBlock block(static_cast<uint8_t*>(std::calloc(1, bound)));
  if (!block) throw std::bad_alloc();
  size_t produced = 0;
  switch (Encode(static_cast<const uint8_t*>(InBuf), static_cast<size_t>(InSize), block.get(), bound, produced,
                 CompressionMode)) {
    case Coded::Ok:
      break;
    case Coded::NoMemory:
      throw std::bad_alloc();
    case Coded::NoRoom:
      throw EPPMError("PPM Compression error");
  }
  if (void* shrunk = std::realloc(block.get(), produced)) {
    block.release();
    block.reset(static_cast<uint8_t*>(shrunk));
  }
  OutSize = static_cast<int32_t>(produced);
  OutBuf = block.release();
}

void PPMDecompressBuf(const void* InBuf, int32_t InSize, void*& OutBuf, int32_t& OutSize) {
  OutBuf = nullptr;
  if (OutSize <= 0) throw EPPMError("PPM DecpmpressBuf: OutSize must be set");
  PPMLock lock;
  HeapBlock block(static_cast<uint8_t*>(std::calloc(1, static_cast<size_t>(OutSize))));
  if (!block) throw std::bad_alloc();
  const int64_t decoded = InSize > 0 && InBuf ? Decode(static_cast<const uint8_t*>(InBuf), static_cast<size_t>(InSize),
                                                       block.get(), static_cast<size_t>(OutSize))
                                              : -1;
  if (decoded <= 0) {
    OutSize = 0;
    throw EPPMError("PPM Decompression error");
  }
  OutSize = static_cast<int32_t>(decoded);
  OutBuf = block.release();
}

bool PPMDecompressInto(const void* InBuf, int32_t InSize, void* OutBuf, int32_t OutCapacity, int32_t& OutSize) {
  OutSize = 0;
  if (!InBuf || InSize <= 0 || !OutBuf || OutCapacity <= 0) return false;
  PPMLock lock;
  int64_t decoded = -1;
  try {
    decoded = Decode(static_cast<const uint8_t*>(InBuf), static_cast<size_t>(InSize), static_cast<uint8_t*>(OutBuf),
                     static_cast<size_t>(OutCapacity));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (decoded <= 0) return false;
  OutSize = static_cast<int32_t>(decoded);
  return true;
}

}  // namespace orv
