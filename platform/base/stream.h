#pragma once
// The one abstract byte stream of the program: the engine's streams, the dataset's BLOB
// streams and plain memory streams all derive from it, so a BLOB can be copied from any of
// them into any other. 64-bit size and position; Read and Write move at most 2 GiB at a time
// and return the bytes actually moved (a short count is the caller's to judge: the engine turns
// it into its own error code, the checked helpers below into EStreamError).
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace platform {

enum TSeekOrigin : uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

  // All or nothing: "Stream read error" / "Stream write error" on a short count.
  void ReadBuffer(void* Buffer, int64_t Count);
  void WriteBuffer(const void* Buffer, int64_t Count);
  // Copies Count bytes from Source's position; Count 0 copies the whole Source from its start.
  // Returns the bytes copied.
  int64_t CopyFrom(TStream& Source, int64_t Count);
  // The bytes from the position to the end.
  std::vector<uint8_t> ReadToEnd();
};

// A stream over bytes in memory; gaps written past the end read as zeros.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }

  const std::vector<uint8_t>& Bytes() const { return data_; }
  std::vector<uint8_t> TakeBytes() {
    pos_ = 0;
    return std::move(data_);
  }

 private:
  std::vector<uint8_t> data_;
  int64_t pos_ = 0;
};

}  // namespace platform
