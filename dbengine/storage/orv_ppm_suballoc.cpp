#include "dbengine/storage/orv_ppm_suballoc.h"

#include <cstdlib>

namespace orv::ppm {
namespace {
// A free block while the lists are being glued: a stamp that in-use blocks never carry at
// their start (a context starts with its symbol count 1..256, a statistics block with a
// symbol and a frequency of at least 1), its size in units, and the two links of the list.
constexpr uint16_t kFreeStamp = 0;
uint16_t NodeStamp(const uint8_t* n) { return Load16(n); }
uint16_t NodeNU(const uint8_t* n) { return Load16(n + 2); }
uint32_t NodeNext(const uint8_t* n) { return Load32(n + 4); }
uint32_t NodePrev(const uint8_t* n) { return Load32(n + 8); }
void SetNodeStamp(uint8_t* n, uint16_t v) { Store16(n, v); }
void SetNodeNU(uint8_t* n, uint16_t v) { Store16(n + 2, v); }
void SetNodeNext(uint8_t* n, uint32_t v) { Store32(n + 4, v); }
void SetNodePrev(uint8_t* n, uint32_t v) { Store32(n + 8, v); }
}  // namespace

void TPPMSubAllocator::FreeDeleter::operator()(uint8_t* p) const { std::free(p); }

TPPMSubAllocator::TPPMSubAllocator() {
  unsigned k = 0;
  for (unsigned i = 0; i < N_INDEXES; ++i) {
    unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
    do {
      units2indx_[k++] = static_cast<uint8_t>(i);
    } while (--step);
    indx2units_[i] = static_cast<uint8_t>(k);
  }
}

bool TPPMSubAllocator::Start(uint32_t SizeBytes) {
  // Offset 0 stands for "no block", so the text area starts a few bytes in; the extra unit at
  // the end is the head of the list GlueFreeBlocks builds, and stops gluing at the arena's end.
  align_offset_ = 4 - (SizeBytes & 3);
  // Not zero-filled: the model reads no byte it has not written (the text area is read only
  // behind the write position, units only once handed out), and a 100 MB model then costs only
  // the pages the data touches.
  arena_.reset(static_cast<uint8_t*>(std::malloc(size_t{align_offset_} + SizeBytes + UNIT_SIZE)));
  if (!arena_) return false;
  base_ = arena_.get();
  size_ = SizeBytes;
  return true;
}

void TPPMSubAllocator::Init() {
  std::memset(free_list_, 0, sizeof(free_list_));
  Text = base_ + align_offset_;
  hi_unit_ = Text + size_;
  lo_unit_ = UnitsStart = hi_unit_ - size_ / 8 / UNIT_SIZE * 7 * UNIT_SIZE;
  glue_count_ = 0;
}

void TPPMSubAllocator::InsertNode(uint8_t* node, unsigned indx) {
  Store32(node, free_list_[indx]);
  free_list_[indx] = Ref(node);
}

uint8_t* TPPMSubAllocator::RemoveNode(unsigned indx) {
  uint8_t* node = Ptr(free_list_[indx]);
  free_list_[indx] = Load32(node);
  return node;
}

void TPPMSubAllocator::SplitBlock(uint8_t* ptr, unsigned OldIndx, unsigned NewIndx) {
  const unsigned nu = I2U(OldIndx) - I2U(NewIndx);
  ptr += I2U(NewIndx) * UNIT_SIZE;
  unsigned i = U2I(nu);
  if (I2U(i) != nu) {
    const unsigned k = I2U(--i);
    InsertNode(ptr + k * UNIT_SIZE, nu - k - 1);
  }
  InsertNode(ptr, i);
}

void TPPMSubAllocator::GlueFreeBlocks() {
  // All free blocks go into one doubly linked list (the last one freed first), each block then
  // swallows the free blocks that directly follow it, and the glued blocks are cut back into
  // the standard sizes. The order of every step decides which block a later request gets.
  const uint32_t head = align_offset_ + size_;
  uint32_t n = head;
  glue_count_ = 255;
  for (unsigned i = 0; i < N_INDEXES; ++i) {
    const uint16_t nu = I2U(i);
    uint32_t next = free_list_[i];
    free_list_[i] = 0;
    while (next != 0) {
      uint8_t* node = Ptr(next);
      SetNodeNext(node, n);
      SetNodePrev(Ptr(n), next);
      n = next;
      next = Load32(node);
      SetNodeStamp(node, kFreeStamp);
      SetNodeNU(node, nu);
    }
  }
  SetNodeStamp(Ptr(head), 1);
  SetNodeNext(Ptr(head), n);
  SetNodePrev(Ptr(n), head);
  if (lo_unit_ != hi_unit_) SetNodeStamp(lo_unit_, 1);

  while (n != head) {
    uint8_t* node = Ptr(n);
    uint32_t nu = NodeNU(node);
    for (;;) {
      uint8_t* node2 = node + nu * UNIT_SIZE;
      nu += NodeNU(node2);
      if (NodeStamp(node2) != kFreeStamp || nu >= 0x10000) break;
      SetNodeNext(Ptr(NodePrev(node2)), NodeNext(node2));
      SetNodePrev(Ptr(NodeNext(node2)), NodePrev(node2));
      SetNodeNU(node, static_cast<uint16_t>(nu));
    }
    n = NodeNext(node);
  }

  for (n = NodeNext(Ptr(head)); n != head;) {
    uint8_t* node = Ptr(n);
    const uint32_t next = NodeNext(node);
    unsigned nu = NodeNU(node);
    for (; nu > 128; nu -= 128, node += 128 * UNIT_SIZE) InsertNode(node, N_INDEXES - 1);
    unsigned i = U2I(nu);
    if (I2U(i) != nu) {
      const unsigned k = I2U(--i);
      InsertNode(node + k * UNIT_SIZE, nu - k - 1);
    }
    InsertNode(node, i);
    n = next;
  }
}

uint8_t* TPPMSubAllocator::AllocUnitsRare(unsigned indx) {
  if (glue_count_ == 0) {
    GlueFreeBlocks();
    if (free_list_[indx] != 0) return RemoveNode(indx);
  }
  unsigned i = indx;
  do {
    if (++i == N_INDEXES) {
      // Nothing big enough is free: take the units from the top of the text area.
      const uint32_t numBytes = I2U(indx) * UNIT_SIZE;
      --glue_count_;
      return static_cast<uint32_t>(UnitsStart - Text) > numBytes ? (UnitsStart -= numBytes) : nullptr;
    }
  } while (free_list_[i] == 0);
  uint8_t* block = RemoveNode(i);
  SplitBlock(block, i, indx);
  return block;
}

uint8_t* TPPMSubAllocator::AllocContext() {
  if (hi_unit_ != lo_unit_) return hi_unit_ -= UNIT_SIZE;
  if (free_list_[0] != 0) return RemoveNode(0);
  return AllocUnitsRare(0);
}

uint8_t* TPPMSubAllocator::AllocUnits(unsigned indx) {
  if (free_list_[indx] != 0) return RemoveNode(indx);
  const uint32_t numBytes = I2U(indx) * UNIT_SIZE;
  if (numBytes <= static_cast<uint32_t>(hi_unit_ - lo_unit_)) {
    uint8_t* block = lo_unit_;
    lo_unit_ += numBytes;
    return block;
  }
  return AllocUnitsRare(indx);
}

uint8_t* TPPMSubAllocator::ExpandUnits(uint8_t* OldPtr, unsigned OldNU) {
  const unsigned i0 = U2I(OldNU);
  if (i0 == U2I(OldNU + 1)) return OldPtr;
  uint8_t* ptr = AllocUnits(i0 + 1);
  if (ptr) {
    std::memcpy(ptr, OldPtr, OldNU * UNIT_SIZE);
    InsertNode(OldPtr, i0);
  }
  return ptr;
}

uint8_t* TPPMSubAllocator::ShrinkUnits(uint8_t* OldPtr, unsigned OldNU, unsigned NewNU) {
  const unsigned i0 = U2I(OldNU);
  const unsigned i1 = U2I(NewNU);
  if (i0 == i1) return OldPtr;
  if (free_list_[i1] != 0) {
    uint8_t* ptr = RemoveNode(i1);
    std::memcpy(ptr, OldPtr, NewNU * UNIT_SIZE);
    InsertNode(OldPtr, i0);
    return ptr;
  }
  SplitBlock(OldPtr, i0, i1);
  return OldPtr;
}

}  // namespace orv::ppm
