#pragma once
// A position in a B-tree: the page and entry taken on every level from the root down to a
// leaf. Besides ordering two positions of one tree it gives every leaf entry an approximate
// place in the tree (for range estimates) and a bitmap record number (the bit that stands
// for the entry in a cursor's record bitmap).
#include <array>
#include <cstddef>
#include <cstdint>

namespace orv {

struct TORVKeyPathItem {
  int32_t PageNo = -1;    // -1 in paths rebuilt from a bitmap record number
  int32_t EntryNo = 0;    // the entry taken on that page
  int32_t EntryCount = 0; // entries the page held when the path was taken
};

class TORVKeyPath {
 public:
  // Trees deeper than this are outside the design; AddItem beyond it raises 20304.
  static constexpr int32_t MaxLevels = 32;

  TORVKeyPath() { Clear(); }

  void Clear() {
    Count = 0;
    ItemNo = 0;
  }
  void Assign(const TORVKeyPath& KeyPath);

  // Writes the item at the current level, then moves one level down.
  void AddItem(int32_t aPageNo, int32_t aEntryNo, int32_t aEntryCount);
  void DeleteLastItem() {
    --ItemNo;
    --Count;
  }
  void IncLevel() { ++ItemNo; }
  void DecLevel() { --ItemNo; }

  int32_t GetCurrentPageNo() const { return Items[static_cast<size_t>(ItemNo)].PageNo; }
  void SetCurrentPageNo(int32_t Value) { Items[static_cast<size_t>(ItemNo)].PageNo = Value; }
  TORVKeyPathItem& Current() { return Items[static_cast<size_t>(ItemNo)]; }
  TORVKeyPathItem& Item(int32_t Level) { return Items[static_cast<size_t>(Level)]; }
  const TORVKeyPathItem& Item(int32_t Level) const { return Items[static_cast<size_t>(Level)]; }
  TORVKeyPathItem& Last() { return Items[static_cast<size_t>(Count - 1)]; }
  const TORVKeyPathItem& Last() const { return Items[static_cast<size_t>(Count - 1)]; }

  bool PageExists(int32_t aPageNo) const;
  // -1, 0 or 1 for two positions of one tree. Paths of different depth: 20051; different
  // pages on an equal prefix: 20052.
  int32_t Compare(const TORVKeyPath& aKeyPath) const;
  // The entry's place as a fraction of the tree, 0 for the first entry and towards 1.
  double GetApproxRecNoInPercents() const;
  // The path's entry numbers (each plus 1) read as base MaxEntriesPerPage + 1 digits, root
  // first; the smallest number is 1. A number beyond 64 bits raises 20305.
  int64_t GetBitmapRecNoByIndexPosition(int32_t MaxEntriesPerPage) const;
  // The inverse: page numbers -1 and entry counts 0, to be found again from the root. A
  // number below 1 gives an empty path; a digit 0 (no entry of a page stands for it) raises
  // 20306 (as does a number of more than MaxLevels digits).
  void FillItemsByBitmapRecNo(int64_t RecordNo, int32_t MaxEntriesPerPage);

  std::array<TORVKeyPathItem, MaxLevels> Items{};
  int32_t Count = 0;
  int32_t ItemNo = 0;
};

}  // namespace orv
