#pragma once
// The carry-less range coder of the PPM coder: 32-bit low and range, a byte goes out whenever
// the top byte of the interval is settled (top 2^24), and when the range falls below 2^15
// without settling it is cut to the next 2^15 boundary instead of propagating a carry. Both
// sides work on memory buffers of fixed size and never step outside them.
#include <cstddef>
#include <cstdint>

namespace orv::ppm {

inline constexpr uint32_t kTop = 1u << 24;
inline constexpr uint32_t kBot = 1u << 15;

class TPPMRangeEncoder {
 public:
  TPPMRangeEncoder(uint8_t* Out, size_t Capacity) : out_(Out), cap_(Capacity) {}

  // False once the output would have passed the end of the buffer, or a scale left no room.
  bool Ok() const { return ok_; }
  size_t Size() const { return pos_; }

  void Encode(uint32_t LowCount, uint32_t HighCount, uint32_t Scale) {
    range_ /= Scale;
    low_ += LowCount * range_;
    range_ *= HighCount - LowCount;
    Normalize();
  }
  // The same with a scale of 2^Shift (binary contexts).
  void EncodeShift(uint32_t LowCount, uint32_t HighCount, unsigned Shift) {
    low_ += LowCount * (range_ >>= Shift);
    range_ *= HighCount - LowCount;
    Normalize();
  }
  // The 4 bytes of low, highest first.
  void Flush() {
    for (int i = 0; i < 4; ++i) {
      Put(static_cast<uint8_t>(low_ >> 24));
      low_ <<= 8;
    }
  }

 private:
  void Normalize() {
    // An empty interval would shift forever; the model never asks for one, but a scale above
    // the range could produce it, and a failed call is better than a hang.
    if (range_ == 0) ok_ = false;
    while (ok_ && ((low_ ^ (low_ + range_)) < kTop || (range_ < kBot && ((range_ = (0u - low_) & (kBot - 1)), true)))) {
      Put(static_cast<uint8_t>(low_ >> 24));
      range_ <<= 8;
      low_ <<= 8;
      if (range_ == 0) ok_ = false;
    }
  }
  void Put(uint8_t b) {
    if (pos_ < cap_)
      out_[pos_++] = b;
    else
      ok_ = false;
  }

  uint8_t* out_;
  size_t cap_;
  size_t pos_ = 0;
  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  bool ok_ = true;
};

class TPPMRangeDecoder {
 public:
  TPPMRangeDecoder(const uint8_t* In, size_t Size) : in_(In), size_(Size) {
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | Get();
  }

  // False once the coder wanted a byte behind the end of the input (a valid buffer never
  // does: the decoder reads exactly what the encoder wrote), or the interval collapsed.
  bool Ok() const { return ok_; }

  uint32_t GetCurrentCount(uint32_t Scale) {
    range_ /= Scale;
    if (range_ == 0) {
      ok_ = false;
      return 0;
    }
    return (code_ - low_) / range_;
  }
  uint32_t GetCurrentShiftCount(unsigned Shift) { return (code_ - low_) / (range_ >>= Shift); }
  void RemoveSubrange(uint32_t LowCount, uint32_t HighCount) {
    low_ += range_ * LowCount;
    range_ *= HighCount - LowCount;
    Normalize();
  }

 private:
  void Normalize() {
    if (range_ == 0) ok_ = false;
    while (ok_ && ((low_ ^ (low_ + range_)) < kTop || (range_ < kBot && ((range_ = (0u - low_) & (kBot - 1)), true)))) {
      code_ = (code_ << 8) | Get();
      range_ <<= 8;
      low_ <<= 8;
      if (range_ == 0) ok_ = false;
    }
  }
  uint8_t Get() {
    if (pos_ < size_) return in_[pos_++];
    ok_ = false;
    return 0;
  }

  const uint8_t* in_;
  size_t size_;
  size_t pos_ = 0;
  uint32_t low_ = 0;
  uint32_t code_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  bool ok_ = true;
};

}  // namespace orv::ppm
