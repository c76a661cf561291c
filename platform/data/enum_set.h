#pragma once
// A set of enumeration values (the Pascal "set of" the data layer's options are written in).
#include <cstdint>
#include <initializer_list>

namespace platform::data {

template <typename E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }

  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr EnumSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr EnumSet& Exclude(E e) {
    bits_ &= ~Bit(e);
    return *this;
  }
  constexpr EnumSet operator|(EnumSet other) const {
    EnumSet r;
    r.bits_ = bits_ | other.bits_;
    return r;
  }
  constexpr EnumSet operator&(EnumSet other) const {
    EnumSet r;
    r.bits_ = bits_ & other.bits_;
    return r;
  }
  constexpr bool operator==(const EnumSet&) const = default;

 private:
  static constexpr uint64_t Bit(E e) { return uint64_t{1} << static_cast<unsigned>(e); }
  uint64_t bits_ = 0;
};

}  // namespace platform::data
