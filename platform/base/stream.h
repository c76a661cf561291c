#pragma once
// The abstract byte stream the engine's streams derive from: 64-bit size and position,
// virtual read, write, seek and resize. Read and Write return the bytes actually moved; a
// short count is the caller's to judge (the engine turns it into its own error code).
#include <cstdint>

namespace platform {

enum TSeekOrigin : uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  // Returns the new position, or -1 when the stream refuses it (the position is then kept).
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual void SetSize(int64_t NewSize) = 0;

  // The 32-bit form: an origin other than the three known ones asks for the current position.
  int64_t Seek32(int32_t Offset, uint16_t Origin) {
    if (Origin > soEnd) return Seek(0, soCurrent);
    return Seek(Offset, static_cast<TSeekOrigin>(Origin));
  }

  virtual int64_t GetSize() {
    const int64_t pos = Seek(0, soCurrent);
    const int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
  }
  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Position) { Seek(Position, soBeginning); }
};

}  // namespace platform
