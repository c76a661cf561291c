#pragma once
// The memory of the PPM model: one arena cut into 12-byte units. Every link inside the model
// (a context's statistics and suffix, a symbol's successor, the free lists) is a 32-bit offset
// into the arena, so a unit stays 12 bytes on a 64-bit machine and a memory size means the
// same number of contexts as for the published coder. That matters for the output itself:
// when the arena runs out the model restarts, and the moment it does depends on exactly how
// blocks are handed out, split and glued back together.
#include <cstdint>
#include <cstring>
#include <memory>

namespace orv::ppm {

inline constexpr uint32_t UNIT_SIZE = 12;
// Block sizes in units: 1..4 step 1, 6..12 step 2, 15..24 step 3, then 28..128 step 4.
inline constexpr unsigned N_INDEXES = 4 + 4 + 4 + (128 + 3 - 1 * 4 - 2 * 4 - 3 * 4) / 4;

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

class TPPMSubAllocator {
 public:
  TPPMSubAllocator();

  // Reserves an arena of SizeBytes (plus one unit that closes the free-block list when blocks
  // are glued). False when the heap cannot give it.
  bool Start(uint32_t SizeBytes);

  // Forgets every block: the text area starts at the bottom, the units area takes the upper
  // 7/8 of the arena (rounded to whole units).
  void Init();

  uint8_t* Ptr(uint32_t ref) const { return base_ + ref; }
  uint32_t Ref(const uint8_t* p) const { return static_cast<uint32_t>(p - base_); }

  // One unit for a new context: from the top of the gap, else a free unit, else the rare path.
  uint8_t* AllocContext();
  // A block for the given size index (see Indx2Units); nullptr when memory is exhausted.
  uint8_t* AllocUnits(unsigned indx);
  // Moves a statistics block of OldNU units to one of OldNU + 1 units when that needs a
  // bigger block size; nullptr when memory is exhausted (the old block is then untouched).
  uint8_t* ExpandUnits(uint8_t* OldPtr, unsigned OldNU);
  // Gives back what a statistics block of OldNU units no longer needs at NewNU units.
  uint8_t* ShrinkUnits(uint8_t* OldPtr, unsigned OldNU, unsigned NewNU);
  void FreeUnits(uint8_t* ptr, unsigned NU) { InsertNode(ptr, U2I(NU)); }

  unsigned U2I(unsigned nu) const { return units2indx_[nu - 1]; }
  unsigned I2U(unsigned indx) const { return indx2units_[indx]; }

  // The text area: the symbols of contexts not yet made into contexts, growing upwards from
  // the arena's start until it meets the units area.
  uint8_t* Text = nullptr;
  uint8_t* UnitsStart = nullptr;

 private:
  void InsertNode(uint8_t* node, unsigned indx);
  uint8_t* RemoveNode(unsigned indx);
  void SplitBlock(uint8_t* ptr, unsigned OldIndx, unsigned NewIndx);
  void GlueFreeBlocks();
  uint8_t* AllocUnitsRare(unsigned indx);

  struct FreeDeleter {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, FreeDeleter> arena_;
  uint8_t* base_ = nullptr;
  uint32_t size_ = 0;
  uint32_t align_offset_ = 0;
  uint8_t* lo_unit_ = nullptr;
  uint8_t* hi_unit_ = nullptr;
  unsigned glue_count_ = 0;
  uint32_t free_list_[N_INDEXES] = {};
  uint8_t indx2units_[N_INDEXES];
  uint8_t units2indx_[128];
};

}  // namespace orv::ppm
