#include "dbengine/storage/orv_btree_key_path.h"

#include <algorithm>

#include "dbengine/storage/orv_except.h"

namespace orv {

void TORVKeyPath::Assign(const TORVKeyPath& KeyPath) {
  Count = KeyPath.Count;
  ItemNo = KeyPath.ItemNo;
  std::copy_n(KeyPath.Items.begin(), std::clamp(Count, 0, MaxLevels), Items.begin());
}

void TORVKeyPath::AddItem(int32_t aPageNo, int32_t aEntryNo, int32_t aEntryCount) {
  // A deeper path would write past the item array; such a tree can only come from corrupt
  // page links.
  if (ItemNo < 0 || ItemNo >= MaxLevels) throw EORVException(20304, "Index error: index tree is too deep");
  Items[static_cast<size_t>(ItemNo)] = {aPageNo, aEntryNo, aEntryCount};
  ++ItemNo;
  ++Count;
}

bool TORVKeyPath::PageExists(int32_t aPageNo) const {
  for (int32_t i = 0; i < Count && i < MaxLevels; ++i)
    if (Items[static_cast<size_t>(i)].PageNo == aPageNo) return true;
  return false;
}

int32_t TORVKeyPath::Compare(const TORVKeyPath& aKeyPath) const {
  if (Count != aKeyPath.Count) throw EORVException(20051, "Invalid index key path");
  for (int32_t i = 0; i < Count && i < MaxLevels; ++i) {
    const auto& a = Items[static_cast<size_t>(i)];
    const auto& b = aKeyPath.Items[static_cast<size_t>(i)];
    if (a.PageNo != b.PageNo) throw EORVException(20052, "Invalid index key path");
    if (a.EntryNo < b.EntryNo) return -1;
    if (a.EntryNo > b.EntryNo) return 1;
  }
  return 0;
}

double TORVKeyPath::GetApproxRecNoInPercents() const {
  int64_t approx_no = 0;
  int64_t approx_count = 1;
  for (int32_t i = std::min(Count, MaxLevels) - 1; i >= 0; --i) {
    const auto& item = Items[static_cast<size_t>(i)];
    approx_no += item.EntryNo * approx_count;
    approx_count *= item.EntryCount;
  }
  if (approx_count == 0) return 0.0;
  return static_cast<double>(approx_no) / static_cast<double>(approx_count);
}

int64_t TORVKeyPath::GetBitmapRecNoByIndexPosition(int32_t MaxEntriesPerPage) const {
  const int64_t base = static_cast<int64_t>(MaxEntriesPerPage) + 1;
  int64_t result = 0;
  for (int32_t i = 0; i < Count && i < MaxLevels; ++i) {
    const int64_t digit = static_cast<int64_t>(Items[static_cast<size_t>(i)].EntryNo) + 1;
    if (__builtin_mul_overflow(result, base, &result) || __builtin_add_overflow(result, digit, &result))
      throw EORVException(20305, "Index error: index position cannot be numbered");
  }
  return result;
}

void TORVKeyPath::FillItemsByBitmapRecNo(int64_t RecordNo, int32_t MaxEntriesPerPage) {
  Clear();
  if (RecordNo < 1) return;
  const int64_t base = static_cast<int64_t>(MaxEntriesPerPage) + 1;
  if (base < 2) throw EORVException(20306, "Index error: invalid index position %d", {RecordNo});
  std::array<int64_t, MaxLevels> digits{};
  int32_t n = 0;
  for (int64_t rest = RecordNo; rest > 0; rest /= base) {
    const int64_t digit = rest % base;
    // No entry of a page stands for the digit 0: such a number names no position.
    if (digit == 0 || n >= MaxLevels) throw EORVException(20306, "Index error: invalid index position %d", {RecordNo});
    digits[static_cast<size_t>(n++)] = digit;
  }
  Count = n;
  for (int32_t level = 0; level < n; ++level)
    Items[static_cast<size_t>(level)] = {-1, static_cast<int32_t>(digits[static_cast<size_t>(n - 1 - level)] - 1), 0};
}

}  // namespace orv
