#include "dbengine/storage/orv_types.h"

#include <algorithm>

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

}  // namespace orv
