#include "dbengine/storage/orv_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace orv {
namespace {

constexpr size_t kSizeOffset = 0;
constexpr size_t kTypeOffset = 4;
constexpr size_t kSignatureOffset = 12;

uint8_t* HeaderOf(const void* data) {
  return const_cast<uint8_t*>(static_cast<const uint8_t*>(data)) - ORVMemoryHeaderSize;
}

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

bool HasSignature(const uint8_t* header) { return Load32(header + kSignatureOffset) == ORVMemorySignature; }

int32_t SizeOf(const uint8_t* header) { return static_cast<int32_t>(Load32(header + kSizeOffset)); }

void* Obtain(TGetMemType method, size_t total) {
  switch (method) {
    case gmtGetMem:
      return std::malloc(total);
    case gmtVirtualAlloc: {
      void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      return p == MAP_FAILED ? nullptr : p;
    }
    case gmtGlobalAlloc:
      return std::aligned_alloc(16, (total + 15) & ~size_t{15});
  }
  throw EORVException(30340, "Unknown GetMem method type: %d", {static_cast<int>(method)});
}

void Release(TGetMemType method, void* block, size_t total) {
  switch (method) {
    case gmtVirtualAlloc:
      munmap(block, total);
      break;
    default:
      std::free(block);
      break;
  }
}

}  // namespace

TORVMemoryManager::TORVMemoryManager() : FGetMemTypes{{2147483647, gmtGetMem}} {}

TORVMemoryManager::TORVMemoryManager(int64_t MaxMemorySize) : TORVMemoryManager() {
  FMaxMemorySize = MaxMemorySize;
}

TGetMemType TORVMemoryManager::MethodFor(int64_t total) const {
  if (FGetMemTypes.empty()) return gmtGetMem;
  for (size_t i = FGetMemTypes.size(); i-- > 0;)
    if (FGetMemTypes[i].Size >= total) return FGetMemTypes[i].GetMemType;
  return FGetMemTypes.front().GetMemType;
}

void* TORVMemoryManager::GetMem(int64_t BufferSize) {
  if (BufferSize == 0) throw EORVException(30286, "Cannot allocate 0 bytes");
  if (FMaxMemorySize != 0 && BufferSize > FMaxMemorySize - TotalMemAllocated())
    throw EORVException(30004, "Memory limit exceeded (Limit = %d bytes)", {FMaxMemorySize});
  try {
    // The header holds a 32-bit size: a larger request could never be checked on free.
    if (BufferSize < 0 || BufferSize > INT32_MAX - ORVMemoryOverhead) throw std::bad_alloc();
    const int64_t total = BufferSize + ORVMemoryOverhead;
    const TGetMemType method = MethodFor(total);
    auto* block = static_cast<uint8_t*>(Obtain(method, static_cast<size_t>(total)));
    if (!block) throw std::bad_alloc();
    std::memset(block, 0, ORVMemoryHeaderSize);
    Store32(block + kSizeOffset, static_cast<uint32_t>(BufferSize));
    block[kTypeOffset] = method;
    Store32(block + kSignatureOffset, ORVMemorySignature);
    Store32(block + ORVMemoryHeaderSize + BufferSize, ORVMemoryEndSignature);
    FTotalMemAllocated.fetch_add(BufferSize, std::memory_order_relaxed);
    return block + ORVMemoryHeaderSize;
  } catch (const std::bad_alloc&) {
    throw EORVException(30015, "GetMem error: %s", {"Out of memory"});
  } catch (const std::exception& e) {
    throw EORVException(30015, "GetMem error: %s", {e.what()});
  }
}

void* TORVMemoryManager::AllocMem(int64_t BufferSize) {
  void* p = GetMem(BufferSize);
  std::memset(p, 0, static_cast<size_t>(BufferSize));
  return p;
}

void TORVMemoryManager::FreeAndNillMem(void*& Buffer) {
  if (!Buffer) return;
  uint8_t* header = HeaderOf(Buffer);
  if (!HasSignature(header)) throw EORVException(30001, "Invalid pointer");
  const int32_t size = SizeOf(header);
  const auto method = static_cast<TGetMemType>(header[kTypeOffset]);
  const bool overrun = Load32(static_cast<uint8_t*>(Buffer) + size) != ORVMemoryEndSignature;
  FTotalMemAllocated.fetch_sub(size, std::memory_order_relaxed);
  // A second free of the same pointer then finds no signature instead of freeing twice.
  Store32(header + kSignatureOffset, 0);
  Release(method, header, static_cast<size_t>(size + ORVMemoryOverhead));
  Buffer = nullptr;
  if (overrun) throw EORVException(30137, "Memory overrun detected");
}

void TORVMemoryManager::FreeMem(const void* Buffer) {
  void* copy = const_cast<void*>(Buffer);
  FreeAndNillMem(copy);
}

void TORVMemoryManager::ReallocMem(void*& Buffer, int64_t BufferSize, bool ClearTail) {
  try {
    if (!Buffer) {
      Buffer = ClearTail ? AllocMem(BufferSize) : GetMem(BufferSize);
      return;
    }
    const uint8_t* header = HeaderOf(Buffer);
    if (!HasSignature(header)) throw EORVException(30002, "Invalid pointer");
    const int64_t old_size = SizeOf(header);
    auto* fresh = static_cast<uint8_t*>(GetMem(BufferSize));
    std::memcpy(fresh, Buffer, static_cast<size_t>(std::min(old_size, BufferSize)));
    if (ClearTail && old_size < BufferSize)
      std::memset(fresh + old_size, 0, static_cast<size_t>(BufferSize - old_size));
    void* old = Buffer;
    Buffer = fresh;
    FreeAndNillMem(old);
  } catch (const std::exception& e) {
    throw EORVException(30014, "ReallocMem error: %s", {e.what()});
  }
}

int64_t TORVMemoryManager::GetMemoryBufferSize(const void* Buffer) const {
  if (!Buffer) return 0;
  const uint8_t* header = HeaderOf(Buffer);
  if (!HasSignature(header)) throw EORVException(30005, "Invalid pointer");
  return SizeOf(header);
}

int64_t TORVMemoryManager::GetFreeMemorySize() {
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  const int64_t free_bytes = (pages > 0 && page_size > 0) ? static_cast<int64_t>(pages) * page_size : 0;
  FFreeSystemMemorySize.store(free_bytes, std::memory_order_relaxed);
  if (FMaxMemorySize == 0) return free_bytes;
  return std::min(FMaxMemorySize, free_bytes);
}

TORVMemoryManager& MemoryManager() {
  static TORVMemoryManager* manager = new TORVMemoryManager();
  return *manager;
}

void ORVMove(const void* Source, void* Dest, int32_t Count) {
  if (Count <= 0 || Source == Dest) return;
  const auto* s = static_cast<const uint8_t*>(Source);
  auto* d = static_cast<uint8_t*>(Dest);
  const auto offset = static_cast<std::intptr_t>(reinterpret_cast<std::uintptr_t>(d) -
                                                reinterpret_cast<std::uintptr_t>(s));
  if (offset > 0 && offset < 4) {
    for (int32_t i = Count; i-- > 0;) d[i] = s[i];
  } else if (offset < 0 && offset > -4) {
    for (int32_t i = 0; i < Count; ++i) d[i] = s[i];
  } else {
    std::memmove(d, s, static_cast<size_t>(Count));
  }
}

}  // namespace orv
