#pragma once
// Hex text helpers shared by the cipher tests.
#include <cstdint>
#include <string>

namespace orv::testing {

inline std::string Hex(const void* data, size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto* p = static_cast<const uint8_t*>(data);
  std::string s;
  for (size_t i = 0; i < size; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

inline std::string Hex(const std::string& bytes) { return Hex(bytes.data(), bytes.size()); }

inline std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace orv::testing
