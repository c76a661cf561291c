#pragma once
// Reading and writing the fixed-size values of value buffers, little-endian whatever the
// host, shared by the files of the value module.
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace orv::value_buffer {

template <class T>
T Load(const void* p) {
  using U = std::conditional_t<sizeof(T) == 1, uint8_t,
                               std::conditional_t<sizeof(T) == 2, uint16_t,
                                                   std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
  const auto* b = static_cast<const uint8_t*>(p);
  U v = 0;
  for (size_t i = sizeof(T); i-- > 0;) v = static_cast<U>((v << 8) | b[i]);
  return std::bit_cast<T>(v);
}

template <class T>
void Store(void* p, T value) {
  using U = std::conditional_t<sizeof(T) == 1, uint8_t,
                               std::conditional_t<sizeof(T) == 2, uint16_t,
                                                   std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
  auto v = std::bit_cast<U>(value);
  auto* b = static_cast<uint8_t*>(p);
  for (size_t i = 0; i < sizeof(T); ++i) {
    b[i] = static_cast<uint8_t>(v);
    v = static_cast<U>(v >> 4 >> 4);
  }
}

// Characters of a zero-terminated text of Char, reading at most MaxBytes bytes (-1: no bound).
// Wide text may stand at an odd address inside a record or key: it is read byte by byte.
template <class Char>
int32_t TextLength(const void* p, int32_t MaxBytes) {
  const auto* s = static_cast<const uint8_t*>(p);
  if (!s) return 0;
  const int32_t limit = MaxBytes < 0 ? INT32_MAX : MaxBytes / static_cast<int32_t>(sizeof(Char));
  int32_t n = 0;
  if constexpr (sizeof(Char) == 1) {
    while (n < limit && s[n] != 0) ++n;
  } else {
    while (n < limit && (s[2 * n] | s[2 * n + 1]) != 0) ++n;
  }
  return n;
}

// Count UTF-16 units from a buffer at any alignment (little-endian) into aligned storage.
inline void CopyWide(char16_t* dest, const void* src, int32_t count) {
  const auto* s = static_cast<const uint8_t*>(src);
  for (int32_t i = 0; i < count; ++i) dest[i] = static_cast<char16_t>(s[2 * i] | (s[2 * i + 1] << 8));
}

// Count UTF-16 units into a buffer at any alignment, little-endian.
inline void StoreWide(void* dest, const char16_t* src, int32_t count) {
  auto* d = static_cast<uint8_t*>(dest);
  for (int32_t i = 0; i < count; ++i) {
    d[2 * i] = static_cast<uint8_t>(src[i]);
    d[2 * i + 1] = static_cast<uint8_t>(src[i] >> 8);
  }
}

}  // namespace orv::value_buffer
