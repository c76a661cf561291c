#include "dbengine/storage/orv_types.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {

void TORVCompressedStreamBlockHeadersArray::SetSize(int64_t NewSize) {
  const auto n = static_cast<size_t>(std::max<int64_t>(NewSize, 0));
  Items.resize(n);
  Positions.resize(n, 0);
  if (n == 0) {
    Items.shrink_to_fit();
    Positions.shrink_to_fit();
  }
}

void TORVCompressedStreamBlockHeadersArray::AppendItem(const TORVCompressedStreamBlockHeader& Value,
                                                       int64_t Position) {
  Items.push_back(Value);
  Positions.push_back(Position);
}

int32_t TORVCompressedStreamBlockHeadersArray::FindPosition(int64_t Pos) const {
  // Positions ascend because blocks are appended in stream order.
  auto it = std::upper_bound(Positions.begin(), Positions.end(), Pos);
  if (it == Positions.begin()) return 0;
  return static_cast<int32_t>((it - Positions.begin()) - 1);
}

// ---- Temporary names ---------------------------------------------------------------------

std::string GetTemporaryName(std::string_view Prefix) {
  // A version 4 GUID from a generator seeded once per thread from the system's entropy.
  thread_local std::mt19937_64 generator{[] {
    std::random_device device;
    std::seed_seq seq{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seq);
  }()};
  uint64_t hi = generator();
  uint64_t lo = generator();
  hi = (hi & ~0xF000ull) | 0x4000ull;                      // version 4
  lo = (lo & ~(0xC0ull << 56)) | (0x80ull << 56);          // RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(hi >> 32),
                static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                static_cast<unsigned>(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
  std::string result(Prefix);
  result += text;
  return result;
}

// ---- TORVIntegerArray ---------------------------------------------------------------------

TORVIntegerArray::TORVIntegerArray(int32_t size, int32_t DefaultAllocBy, int32_t MaximumAllocBy)
    : AllocBy(DefaultAllocBy), deAllocBy(DefaultAllocBy), MaxAllocBy(MaximumAllocBy) {
  SetSize(size);
}

void TORVIntegerArray::SetSize(int32_t newSize) {
  if (newSize < 0) newSize = 0;
  const int32_t alloc = ArrayAllocCountFor<int32_t>(newSize, ItemCount, AllocBy, deAllocBy, MaxAllocBy, AllocItemCount);
  if (alloc < 0) {
    ItemCount = 0;
    AllocItemCount = 0;
    std::vector<int32_t>().swap(Items);
    return;
  }
  if (alloc != AllocItemCount) {
    Items.resize(static_cast<size_t>(alloc));
    if (alloc < AllocItemCount) Items.shrink_to_fit();
    AllocItemCount = alloc;
  }
  ItemCount = newSize;
}

void TORVIntegerArray::Assign(const TORVIntegerArray& v) {
  SetSize(v.ItemCount);
  std::copy_n(v.Items.begin(), v.ItemCount, Items.begin());
}

void TORVIntegerArray::Append(int32_t value) {
  SetSize(ItemCount + 1);
  Items[static_cast<size_t>(ItemCount - 1)] = value;
}

void TORVIntegerArray::Insert(int32_t ItemNo, int32_t value) {
  SetSize(ItemCount + 1);
  if (ItemCount == 1 || ItemNo >= ItemCount - 1) {
    Items[static_cast<size_t>(ItemCount - 1)] = value;
    return;
  }
  if (ItemNo < 0) ItemNo = 0;
  std::copy_backward(Items.begin() + ItemNo, Items.begin() + ItemCount - 1, Items.begin() + ItemCount);
  Items[static_cast<size_t>(ItemNo)] = value;
}

void TORVIntegerArray::Delete(int32_t ItemNo) {
  if (ItemNo < 0 || ItemNo >= ItemCount) return;
  std::copy(Items.begin() + ItemNo + 1, Items.begin() + ItemCount, Items.begin() + ItemNo);
  --ItemCount;
  SetSize(ItemCount);
}

void TORVIntegerArray::MoveTo(int32_t itemNo, int32_t newItemNo) {
  if (itemNo == newItemNo) return;
  const auto first = Items.begin();
  if (newItemNo == itemNo + 1 || newItemNo == itemNo - 1) {
    std::swap(Items[static_cast<size_t>(itemNo)], Items[static_cast<size_t>(newItemNo)]);
  } else if (newItemNo < itemNo) {
    std::rotate(first + newItemNo, first + itemNo, first + itemNo + 1);
  } else {
    // The item lands in front of the item that stood at newItemNo.
    std::rotate(first + itemNo, first + itemNo + 1, first + newItemNo);
  }
}

void TORVIntegerArray::CopyTo(int32_t* ar, int32_t itemNo, int32_t iCount) const {
  if (ItemCount < 1 || iCount <= 0) return;
  std::copy_n(Items.begin() + itemNo, iCount, ar);
}

int32_t TORVIntegerArray::IndexOf(int32_t value) const {
  for (int32_t i = 0; i < ItemCount; ++i)
    if (Items[static_cast<size_t>(i)] == value) return i;
  return -1;
}

// ---- TORVBitsArray ------------------------------------------------------------------------

TORVBitsArray::TORVBitsArray() {
  for (int b = 0; b < 256; ++b) FBitsTable[b] = static_cast<uint8_t>(__builtin_popcount(static_cast<unsigned>(b)));
}

TORVBitsArray::~TORVBitsArray() {
  if (FBits) MemoryManager().FreeMem(FBits);
}

int32_t TORVBitsArray::CountSetBitsBelow(int32_t BitCount) const {
  int32_t count = 0;
  const int32_t whole = BitCount / 8;
  for (int32_t i = 0; i < whole; ++i) count += FBitsTable[FBits[i]];
  for (int32_t bit = whole * 8; bit < BitCount; ++bit) count += (FBits[bit >> 3] >> (bit & 7)) & 1;
  return count;
}

void TORVBitsArray::SetSize(int32_t Value) {
  if (Value <= 0) {
    MemoryManager().FreeAndNillMem(FBits);
    FBitCount = 0;
    FNonZeroBitCount = 0;
    return;
  }
  const int32_t new_bytes = (Value + 7) / 8;
  const int32_t old_count = FBitCount;
  if (FBits) {
    MemoryManager().ReallocMem(FBits, new_bytes, true);
  } else {
    FBits = static_cast<uint8_t*>(MemoryManager().AllocMem(new_bytes));
  }
  if (Value > old_count) {
    // Bits at or above the old count may still be set (SetAllBits fills whole bytes and
    // shrinking keeps the bytes): a grown array must show its new bits clear.
    const int32_t stale_end = std::min(Value, ((old_count + 7) / 8) * 8);
    for (int32_t bit = old_count; bit < stale_end; ++bit) FBits[bit >> 3] &= static_cast<uint8_t>(~(1u << (bit & 7)));
  }
  FBitCount = Value;
  if (Value < old_count) FNonZeroBitCount = CountSetBitsBelow(Value);
}

bool TORVBitsArray::GetBit(int32_t BitNo) const {
  if (BitNo < 0 || BitNo >= FBitCount)
    throw EORVException(10394, "Invalid bit no = %d, number of bits = %d", {BitNo, FBitCount});
  return (FBits[BitNo >> 3] >> (BitNo & 7)) & 1;
}

void TORVBitsArray::SetBit(int32_t BitNo, bool Value) {
  if (BitNo < 0 || BitNo >= FBitCount)
    throw EORVException(10395, "Invalid bit no = %d, number of bits = %d", {BitNo, FBitCount});
  uint8_t& b = FBits[BitNo >> 3];
  const auto mask = static_cast<uint8_t>(1u << (BitNo & 7));
  const bool old = (b & mask) != 0;
  if (old == Value) return;
  if (Value) {
    b = static_cast<uint8_t>(b | mask);
    ++FNonZeroBitCount;
  } else {
    b = static_cast<uint8_t>(b & ~mask);
    --FNonZeroBitCount;
  }
}

int32_t TORVBitsArray::GetNonZeroBitCount() const { return FBits ? CountSetBitsBelow(FBitCount) : 0; }

void TORVBitsArray::SetAllBits() {
  if (FBits) std::memset(FBits, 0xFF, static_cast<size_t>(ByteCount()));
  FNonZeroBitCount = FBitCount;
}

bool TORVBitsArray::FindBit(bool Value, int32_t& BitNo) const {
  for (int32_t i = 0; i < FBitCount; ++i) {
    if (((FBits[i >> 3] >> (i & 7)) & 1) == static_cast<int>(Value)) {
      BitNo = i;
      return true;
    }
  }
  return false;
}

bool TORVBitsArray::Find(bool Restart, bool GoForward, int32_t CurBitNo, int32_t& FoundBitNo) const {
  int32_t i = Restart ? (GoForward ? 0 : FBitCount - 1) : (GoForward ? CurBitNo + 1 : CurBitNo - 1);
  if (GoForward) {
    if (i < 0) i = 0;
    while (i < FBitCount) {
      const uint8_t byte = FBits[i >> 3];
      // Whole empty bytes are skipped at once.
      if ((i & 7) == 0 && byte == 0) {
        i += 8;
        continue;
      }
      if ((byte >> (i & 7)) & 1) {
        FoundBitNo = i;
        return true;
      }
      ++i;
    }
  } else {
    if (i >= FBitCount) i = FBitCount - 1;
    while (i >= 0) {
      const uint8_t byte = FBits[i >> 3];
      if ((i & 7) == 7 && byte == 0) {
        i -= 8;
        continue;
      }
      if ((byte >> (i & 7)) & 1) {
        FoundBitNo = i;
        return true;
      }
      --i;
    }
  }
  return false;
}

int32_t TORVBitsArray::GetBitNoByBitPosition(int32_t BitPosition) const {
  if (BitPosition < 0 || BitPosition >= FNonZeroBitCount)
    throw EORVException(10428, "Invalid bit no = %d, number of bits = %d", {BitPosition, FNonZeroBitCount});
  if (FNonZeroBitCount == FBitCount) return BitPosition;
  int32_t count = 0;
  int32_t byte_no = 0;
  const int32_t whole = FBitCount / 8;
  while (byte_no < whole && count + FBitsTable[FBits[byte_no]] <= BitPosition) count += FBitsTable[FBits[byte_no++]];
  for (int32_t bit = byte_no * 8; bit < FBitCount; ++bit) {
    if ((FBits[bit >> 3] >> (bit & 7)) & 1) {
      if (count == BitPosition) return bit;
      ++count;
    }
  }
  // Only a count that disagrees with the bits gets here (the two are kept in step).
  throw EORVException(10428, "Invalid bit no = %d, number of bits = %d", {BitPosition, FNonZeroBitCount});
}

int32_t TORVBitsArray::GetBitPositionByBitNo(int32_t BitNo) const {
  if (BitNo < 0 || BitNo >= FBitCount)
    throw EORVException(10429, "Invalid bit no = %d, number of bits = %d", {BitNo, FBitCount});
  if (FNonZeroBitCount == FBitCount) return BitNo;
  int32_t rank = -1;
  const int32_t byte_no = BitNo >> 3;
  for (int32_t i = 0; i < byte_no; ++i) rank += FBitsTable[FBits[i]];
  const auto mask = static_cast<uint8_t>(0xFFu >> (7 - (BitNo & 7)));
  return rank + FBitsTable[FBits[byte_no] & mask];
}

void TORVBitsArray::SaveToStream(platform::TStream& Stream) const {
  SaveInt32ToStream(FBitCount, Stream, 10398);
  SaveInt32ToStream(FNonZeroBitCount, Stream, 10427);
  if (FBitCount > 0) {
    if (!FBits) throw EORVException(10399, "Nil pointer occured");
    SaveDataToStream(FBits, ByteCount(), Stream, 10400);
  }
}

void TORVBitsArray::LoadFromStream(platform::TStream& Stream) {
  const int32_t bit_count = LoadInt32FromStream(Stream, 10401);
  const int32_t non_zero = LoadInt32FromStream(Stream, 10426);
  if (bit_count < 0 || non_zero < 0 || non_zero > bit_count)
    throw EORVException(10515, "Invalid bits array: number of bits = %d, set bits = %d", {bit_count, non_zero});
  SetSize(0);
  SetSize(bit_count);
  if (bit_count > 0) {
    try {
      LoadDataFromStream(FBits, ByteCount(), Stream, 10402);
    } catch (...) {
      SetSize(0);
      throw;
    }
    // Rank and select trust the count; one that disagrees with the bits would let them run
    // past the buffer.
    const int32_t actual = CountSetBitsBelow(bit_count);
    if (actual != non_zero) {
      SetSize(0);
      throw EORVException(10515, "Invalid bits array: number of bits = %d, set bits = %d", {bit_count, non_zero});
    }
  }
  FNonZeroBitCount = non_zero;
}

// ---- Scan conditions ----------------------------------------------------------------------

TORVScanSearchCondition::TORVScanSearchCondition(bool ExternalKeyRecordBuffer)
    : FExternalKeyRecordBuffer(ExternalKeyRecordBuffer) {}

TORVScanSearchCondition::~TORVScanSearchCondition() {
  if (!FExternalKeyRecordBuffer && KeyRecordBuffer) MemoryManager().FreeMem(KeyRecordBuffer);
}

void TORVScanSearchCondition::ClearKeyRecordBuffer() {
  if (!FExternalKeyRecordBuffer) MemoryManager().FreeAndNillMem(KeyRecordBuffer);
  KeyRecordBuffer = nullptr;
}

void TORVScanSearchCondition::Assign(const TORVScanSearchCondition& Source) {
  if (&Source == this) return;
  Condition = Source.Condition;
  ClearKeyRecordBuffer();
  if (Source.KeyRecordBuffer && Source.KeyRecordBufferSize > 0) {
    KeyRecordBuffer = MemoryManager().GetMem(Source.KeyRecordBufferSize);
    std::memcpy(KeyRecordBuffer, Source.KeyRecordBuffer, static_cast<size_t>(Source.KeyRecordBufferSize));
  }
  FExternalKeyRecordBuffer = false;
  KeyRecordBufferSize = Source.KeyRecordBufferSize;
  KeyFieldCount = Source.KeyFieldCount;
  IndexID = Source.IndexID;
  Expression = Source.Expression;
  CreatedFromExpression = Source.CreatedFromExpression;
  PartialCompare = Source.PartialCompare;
  ParentExpressions = Source.ParentExpressions;
  ParentExpressionNodes = Source.ParentExpressionNodes;
}

void TORVScanSearchConditionArray::Delete(int32_t ItemNo) {
  if (ItemNo < 0 || ItemNo >= Count())
    throw EORVException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d", {ItemNo, Count()});
  if (!Items[static_cast<size_t>(ItemNo)]) throw EORVException(10414, "Nil pointer occured");
  Items.erase(Items.begin() + ItemNo);
}

void TORVScanSearchConditionArray::AddExpression(IORVScanExpression* Expression) {
  auto condition = std::make_unique<TORVScanSearchCondition>(false);
  condition->Expression = Expression;
  Items.push_back(std::move(condition));
}

void TORVScanSearchConditionArray::AddCondition(const TORVScanSearchCondition& ScanSearchCondition) {
  if (!ScanSearchCondition.Expression && ScanSearchCondition.IndexID == -1)
    throw EORVException(10388, "Invalid scan condition - indexID = %d, count = %d",
                        {ScanSearchCondition.IndexID, Count()});
  auto condition = std::make_unique<TORVScanSearchCondition>(false);
  condition->Assign(ScanSearchCondition);
  Items.push_back(std::move(condition));
}

void TORVScanSearchConditionArray::CreateIndexScanConditionsFromExpressions(const IORVScanIndexDefs& IndexDefs,
                                                                            int32_t SessionID) {
  // Only the conditions present now: the expressions append to this array as they go.
  const int32_t initial = Count();
  for (int32_t i = 0; i < initial; ++i)
    if (IORVScanExpression* e = Items[static_cast<size_t>(i)]->Expression) e->CreateIndexScanConditions(IndexDefs, *this, SessionID);
  std::vector<IORVScanExpression*> expressions;
  for (const auto& c : Items)
    if (c->Expression) expressions.push_back(c->Expression);
  if (expressions.empty()) return;
  for (int32_t i = 0; i < Count(); ++i) {
    const TORVScanSearchCondition& c = *Items[static_cast<size_t>(i)];
    if (c.Expression) continue;
    if (const TORVIndexDef* def = IndexDefs.FindIndexDefByObjectID(c.IndexID))
      TryToExtendMultiFieldIndexCondition(i, IndexDefs, def, expressions);
  }
}

void TORVScanSearchConditionArray::TryToExtendMultiFieldIndexCondition(
    int32_t ConditionNo, const IORVScanIndexDefs& IndexDefs, const TORVIndexDef* IndexDef,
    const std::vector<IORVScanExpression*>& Expressions) {
  if (!IndexDef || IndexDefs.GetIndexColumnCount(IndexDef) < 2) return;
  if (ConditionNo < 0 || ConditionNo >= Count()) return;
  bool extended = true;
  while (extended) {
    extended = false;
    for (IORVScanExpression* e : Expressions) {
      if (e->ExtendMultiFieldIndexCondition(*Items[static_cast<size_t>(ConditionNo)], IndexDef)) {
        extended = true;  // every success starts the pass again from the first expression
        break;
      }
    }
  }
}

namespace {
// The chosen condition numbers are tested as members of a set of 0..255, so -1 (none) and
// numbers beyond that range match no condition.
bool IsChosen(int32_t i, int32_t a, int32_t b) {
  auto in = [i](int32_t n) { return n >= 0 && n <= 255 && n == i; };
  return in(a) || in(b);
}
}  // namespace

void TORVScanSearchConditionArray::RemoveUnusedConditionsCreatedFromExpressions(int32_t& ScanConditionNo,
                                                                                int32_t& ScanEndConditionNo) {
  int32_t i = 0;
  while (i < Count() - 1) {
    const TORVScanSearchCondition& c = *Items[static_cast<size_t>(i)];
    if (IsChosen(i, ScanConditionNo, ScanEndConditionNo) || !c.CreatedFromExpression) {
      ++i;
      continue;
    }
    Delete(i);
    if (ScanConditionNo > i) --ScanConditionNo;
    if (ScanEndConditionNo > i) --ScanEndConditionNo;
    i = 0;
  }
}

void TORVScanSearchConditionArray::ExtractChosenConditionsFromExpressions(int32_t ScanConditionNo,
                                                                          int32_t ScanEndConditionNo) {
  std::vector<IORVScanExpression*> expressions;
  for (const auto& c : Items)
    if (c->Expression) expressions.push_back(c->Expression);
  for (IORVScanExpression* e : expressions) e->RemoveExtractedNodes(*this, ScanConditionNo, ScanEndConditionNo);
}

void TORVScanSearchConditionArray::ReturnExtractedConditionsToExpressions(int32_t ScanConditionNo,
                                                                          int32_t ScanEndConditionNo) {
  for (int32_t i = 0; i < Count(); ++i) {
    if (!IsChosen(i, ScanConditionNo, ScanEndConditionNo)) continue;
    const TORVScanSearchCondition& c = *Items[static_cast<size_t>(i)];
    const size_t n = std::min(c.ParentExpressions.size(), c.ParentExpressionNodes.size());
    for (size_t k = 0; k < n; ++k)
      if (c.ParentExpressions[k]) c.ParentExpressions[k]->AddNode(c.ParentExpressionNodes[k]);
  }
}

}  // namespace orv
