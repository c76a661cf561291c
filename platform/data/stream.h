#pragma once
// The byte stream of the data layer: BLOB fields are read and written through streams that
// the dataset creates, and loaded from or saved to any other stream.
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace platform::data {

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads or writes up to count bytes; returns how many moved (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // Default: a stream that cannot change its size raises "Stream size cannot be changed".
  virtual void SetSize(int64_t new_size);
  virtual int64_t Size();

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }

  // All or nothing: "Stream read error" / "Stream write error" on a short count.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; count 0 copies the whole source from its
  // start. Returns the bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);
  // The bytes from the position to the end.
  std::vector<uint8_t> ReadToEnd();
};

// A stream over bytes in memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t new_size) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

  const std::vector<uint8_t>& Bytes() const { return data_; }
  std::vector<uint8_t> TakeBytes() { pos_ = 0; return std::move(data_); }

 private:
  std::vector<uint8_t> data_;
  int64_t pos_ = 0;
};

}  // namespace platform::data
