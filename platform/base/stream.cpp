#include "platform/base/stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace platform {
namespace {

constexpr int64_t kChunk = 1 << 16;

// Read/Write take 32-bit counts; larger requests go through in pieces.
template <typename Op>
void Loop(int64_t count, Op op, const char* error) {
  if (count < 0) throw EStreamError(error);
  int64_t done = 0;
  while (done < count) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(count - done, std::numeric_limits<int32_t>::max()));
    if (op(done, n) != n) throw EStreamError(error);
    done += n;
  }
}

}  // namespace

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  auto* p = static_cast<uint8_t*>(Buffer);
  Loop(Count, [&](int64_t at, int32_t n) { return Read(p + at, n); }, "Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  const auto* p = static_cast<const uint8_t*>(Buffer);
  Loop(Count, [&](int64_t at, int32_t n) { return Write(p + at, n); }, "Stream write error");
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count < 0) throw EStreamError("Stream read error");
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.GetSize();
  }
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(Count, 1), kChunk)));
  int64_t left = Count;
  while (left > 0) {
    const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
    Source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return Count;
}

std::vector<uint8_t> TStream::ReadToEnd() {
  std::vector<uint8_t> out;
  uint8_t chunk[4096];
  for (;;) {
    const int32_t n = Read(chunk, static_cast<int32_t>(sizeof chunk));
    if (n <= 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  return out;
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || pos_ >= GetSize()) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(Count, GetSize() - pos_));
  std::memcpy(Buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  if (pos_ + Count > GetSize()) data_.resize(static_cast<size_t>(pos_ + Count));
  std::memcpy(data_.data() + pos_, Buffer, static_cast<size_t>(Count));
  pos_ += Count;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = 0;
  if (Origin == soCurrent) base = pos_;
  if (Origin == soEnd) base = GetSize();
  const int64_t target = base + Offset;
  if (target < 0) return -1;
  pos_ = target;
  return pos_;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Invalid stream size");
  data_.resize(static_cast<size_t>(NewSize));
  if (pos_ > NewSize) pos_ = NewSize;
}

}  // namespace platform
