#pragma once
// The engine's one allocator. Each block carries a guard header and an end signature, so a
// foreign pointer and a write past the end of a block are caught when the block is freed,
// and a running total of the bytes handed out is kept against an optional limit.
//
// Block layout: a 16-byte header {Size: int32, GetMemType: uint8, 7 unused bytes with the
// Signature 0xACCACCAC in the last four}, the caller's Size bytes (16-byte aligned), then
// the end signature 0xACCEACCE. Nothing stored on disk depends on this layout.
#include <atomic>
#include <cstdint>
#include <vector>

#include "dbengine/storage/orv_except.h"

namespace orv {

enum TGetMemType : uint8_t { gmtGetMem = 0, gmtVirtualAlloc = 1, gmtGlobalAlloc = 2 };

// One row of the allocation method table: blocks of a total size up to Size come from
// GetMemType (the rows are scanned from the last towards the first).
struct TGetMemTypeRow {
  int32_t Size;
  TGetMemType GetMemType;
};

inline constexpr uint32_t ORVMemorySignature = 0xACCACCACu;
inline constexpr uint32_t ORVMemoryEndSignature = 0xACCEACCEu;
inline constexpr int64_t ORVMemoryHeaderSize = 16;
inline constexpr int64_t ORVMemoryOverhead = ORVMemoryHeaderSize + 4;

class TORVMemoryManager {
 public:
  TORVMemoryManager();
  explicit TORVMemoryManager(int64_t MaxMemorySize);
  TORVMemoryManager(const TORVMemoryManager&) = delete;
  TORVMemoryManager& operator=(const TORVMemoryManager&) = delete;
  // Live blocks are not freed: they may still be referenced by objects that outlive us.
  ~TORVMemoryManager() = default;

  // A block of BufferSize bytes (contents undefined). 0 bytes: 30286; over the limit: 30004;
  // anything else that goes wrong while obtaining the block: 30015.
  void* GetMem(int64_t BufferSize);
  // GetMem, then the data is zero-filled.
  void* AllocMem(int64_t BufferSize);
  // Frees a block and sets the variable to nil. nil is a no-op. A pointer that does not
  // start a live block: 30001, nothing freed, variable unchanged. A damaged end signature:
  // the block is freed, the variable set to nil, then 30137.
  void FreeAndNillMem(void*& Buffer);
  template <class T>
  void FreeAndNillMem(T*& Buffer) {
    void* p = const_cast<void*>(static_cast<const void*>(Buffer));
    try {
      FreeAndNillMem(p);
    } catch (...) {
      Buffer = static_cast<T*>(p);
      throw;
    }
    Buffer = nullptr;
  }
  // FreeAndNillMem of a copy: the caller's variable keeps its value.
  void FreeMem(const void* Buffer);
  // Moves the block to a new one of BufferSize bytes keeping min(old, new) bytes; with
  // ClearTail the bytes added beyond the old size are zero. nil behaves as GetMem. Every
  // error is reported as 30014 with the inner message.
  void ReallocMem(void*& Buffer, int64_t BufferSize, bool ClearTail = false);
  template <class T>
  void ReallocMem(T*& Buffer, int64_t BufferSize, bool ClearTail = false) {
    void* p = static_cast<void*>(Buffer);
    ReallocMem(p, BufferSize, ClearTail);
    Buffer = static_cast<T*>(p);
  }
  template <class T>
  void ReallocMemAndClearTail(T*& Buffer, int64_t BufferSize) {
    ReallocMem(Buffer, BufferSize, true);
  }
  // The requested size of a block; 0 for nil; 30005 for a pointer that is not a block.
  int64_t GetMemoryBufferSize(const void* Buffer) const;
  // The available physical memory (remembered), or the limit when that is smaller. The bytes
  // already allocated are not subtracted.
  int64_t GetFreeMemorySize();

  int64_t MaxMemorySize() const { return FMaxMemorySize; }
  int64_t TotalMemAllocated() const { return FTotalMemAllocated.load(std::memory_order_relaxed); }
  int64_t FreeSystemMemorySize() const { return FFreeSystemMemorySize.load(std::memory_order_relaxed); }

  // The allocation method table; the engine runs with one row {2147483647, gmtGetMem}.
  const std::vector<TGetMemTypeRow>& GetMemTypes() const { return FGetMemTypes; }
  void SetGetMemTypes(std::vector<TGetMemTypeRow> rows) { FGetMemTypes = std::move(rows); }

 private:
  TGetMemType MethodFor(int64_t total) const;

  int64_t FMaxMemorySize = 0;
  std::atomic<int64_t> FTotalMemAllocated{0};
  std::atomic<int64_t> FFreeSystemMemorySize{0};
  std::vector<TGetMemTypeRow> FGetMemTypes;
};

// The process-wide manager. Created on first use and never destroyed, so that it outlives
// every engine object, whatever the order in which static objects are torn down.
TORVMemoryManager& MemoryManager();

// Copies Count bytes; overlapping ranges are handled (a shift by 1 to 3 bytes is done byte
// by byte in the safe direction, everything else by memmove).
void ORVMove(const void* Source, void* Dest, int32_t Count);

}  // namespace orv
