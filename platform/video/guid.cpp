#include "platform/video/guid.h"

#include "platform/base/byte_order.h"

namespace platform::video {

std::array<uint8_t, 16> TGUID::Bytes() const {
  std::array<uint8_t, 16> b{};
  StoreLE32(b.data(), D1);
  StoreLE16(b.data() + 4, D2);
  StoreLE16(b.data() + 6, D3);
  for (size_t i = 0; i < 8; ++i) b[8 + i] = D4[i];
  return b;
}

TGUID TGUID::FromBytes(std::span<const uint8_t, 16> b) {
  TGUID g;
  g.D1 = LoadLE32(b.data());
  g.D2 = LoadLE16(b.data() + 4);
  g.D3 = LoadLE16(b.data() + 6);
  for (size_t i = 0; i < 8; ++i) g.D4[i] = b[8 + i];
  return g;
}

}  // namespace platform::video
