#pragma once
// The engine's streams: the base with its own lock, whole-stream block copies and a progress
// event; a stream in one memory-manager block; a file stream; a temporary stream that starts
// in memory and moves to a self-deleting temporary file; and the checked read, write and
// positioning helpers that every layer uses with its own native error code.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/base/stream.h"

namespace orv {

using platform::soBeginning;
using platform::soCurrent;
using platform::soEnd;
using platform::TSeekOrigin;
using platform::TStream;

// Block sizes and limits of the streams (process-wide settings).
inline int32_t DefaultTemporaryBlockSize = 102400;
inline int32_t DefaultTemporaryLimit = 1048576;
inline int32_t DefaultMemoryBlockSize = 102400;
inline int32_t DefaultFileBlockSize = 102400;
inline int32_t DefaultBLOBBlockSize = 102400;
inline int32_t BlockSizeForFastest = 524288;
inline int32_t BlockSizeForNormal = 1048576;
inline int32_t BlockSizeForMax = 1572864;

// File open modes: fmCreate creates (replacing), otherwise access | sharing.
inline constexpr uint16_t fmCreate = 0xFF00;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

class TORVStream;
// Progress of a copy in percent (0..100); it cannot cancel.
using TORVNoCancelProgressEvent = std::function<void(TORVStream* Sender, double Progress)>;

class TORVStream : public TStream {
 public:
  TORVStream();
  TORVStream(const TORVStream&) = delete;
  TORVStream& operator=(const TORVStream&) = delete;

  // The stream's own lock, for callers that share one stream between threads (re-entrant).
  virtual void Lock();
  virtual void Unlock();

  void DoOnProgress(double Progress);

  // Copies this whole stream, in chunks of BlockSize, into Stream at Stream's position; both
  // positions are restored. Block size <= 0: 10418; short read 10146; short write 10147.
  void SaveToStream(TStream& Stream);
  // LoadFromStreamWithPosition(Stream, 0, size of Stream).
  void LoadFromStream(TStream& Stream);
  // Replaces the contents by StreamSize bytes of Stream starting at FromPosition (note the
  // order: the start comes before the count). Both positions are restored. Block size <= 0:
  // 10419; short read 10148; short write 10149.
  void LoadFromStreamWithPosition(TStream& Stream, int64_t FromPosition, int64_t StreamSize);
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

  int32_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(int32_t Value) { FBlockSize = Value; }
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }

  TORVNoCancelProgressEvent OnProgress;

 protected:
  std::recursive_mutex FCSect;
  int32_t FBlockSize;
  bool FModified = false;
};

// A stream in one MemoryManager block. Sizes stay below 2^31; the block grows to twice the
// requested size and never shrinks before destruction.
class TORVMemoryStream : public TORVStream {
 public:
  // With a Buffer (a MemoryManager block) the stream adopts it: size and capacity are the
  // block's size and the stream frees it. Without one, DefaultAllocatedSize > 0 reserves that
  // capacity.
  explicit TORVMemoryStream(void* Buffer = nullptr, int32_t DefaultAllocatedSize = 0);
  ~TORVMemoryStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override { return FBufferSize; }

  void* Memory() const { return FBuffer; }
  int32_t AllocatedBufferSize() const { return FAllocatedBufferSize; }

 private:
  // Sets the size; bytes between the old size and ZeroUntil are zeroed.
  void Resize(int64_t NewSize, int64_t ZeroUntil);

  uint8_t* FBuffer = nullptr;
  int32_t FBufferSize = 0;
  int32_t FAllocatedBufferSize = 0;
  int64_t FPosition = 0;
};

// A file through plain POSIX I/O. Reads and writes loop until the whole count is moved; a
// failed or short transfer returns the bytes moved so far, which the callers turn into their
// error. A temporary file is unlinked as soon as it is open, so it disappears with the
// handle whatever happens to the process. Sharing flags of the mode are not enforced here.
class TORVFileStream : public TORVStream {
 public:
  // fmCreate creates the file (replacing one), failure 10104; any other mode opens the
  // existing file with its access bits, failure 10105.
  TORVFileStream(const std::string& FileName, uint16_t Mode, bool IsTemporary);
  ~TORVFileStream() override;
  // A new, empty temporary file in the system's temporary folder ($TMPDIR, else /tmp) that no
  // other process can open by its name: made without a name where the file system allows it,
  // else named "ORV....tmp" and unlinked at once. It disappears when the stream is freed or the
  // process ends. Failure: 10104.
  static std::unique_ptr<TORVFileStream> CreateTemporaryFile();

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // Cuts or extends the file; a failure raises std::system_error.
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;

  const std::string& FileName() const { return FFileName; }
  uint16_t Mode() const { return FMode; }
  bool IsTemporary() const { return FIsTemporary; }

 private:
  TORVFileStream(int Handle, std::string FileName);

  int FHandle = -1;
  std::string FFileName;
  uint16_t FMode;
  bool FIsTemporary;
  int64_t FPosition = 0;
};

// Keeps its data in memory up to MemoryLimit bytes; the first write that would pass the
// limit moves everything into a temporary file, where it stays. With DisableTempFiles the
// data stays in memory whatever its size.
class TORVTemporaryStream : public TORVStream {
 public:
  explicit TORVTemporaryStream(bool DisableTempFiles = false);
  ~TORVTemporaryStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;

  bool InMemory() const { return FInMemory; }
  const std::string& FileName() const { return FFileName; }
  int32_t MemoryLimit() const { return FMemoryLimit; }
  void SetMemoryLimit(int32_t Value) { FMemoryLimit = Value; }

 private:
  TStream& Current();

  int32_t FMemoryLimit;
  std::unique_ptr<TORVMemoryStream> FMemoryStream;
  std::unique_ptr<TORVFileStream> FFileStream;
  std::string FFileName;
  bool FInMemory = true;
  bool FDisableTempFiles;
};

// A new, empty, uniquely named file "ORV....tmp" in the system's temporary folder ($TMPDIR,
// else /tmp); empty text when none can be made.
std::string GetTempFileName();

// Writes DataSize bytes or raises ErrorCode "Cannot write to stream. ...".
void SaveDataToStream(const void* Data, int32_t DataSize, TStream& Stream, int32_t ErrorCode);
// Reads DataSize bytes or raises ErrorCode "Cannot read from stream. ...".
void LoadDataFromStream(void* Data, int32_t DataSize, TStream& Stream, int32_t ErrorCode);
// Positions the stream or raises ErrorCode "Cannot set stream position to %d. ...".
void SetStreamPosition(TStream& Stream, int64_t NewPosition, int32_t ErrorCode);

// One little-endian integer item of the engine's stream forms, with the item's own code.
void SaveUInt16ToStream(uint16_t Value, TStream& Stream, int32_t ErrorCode);
void SaveInt32ToStream(int32_t Value, TStream& Stream, int32_t ErrorCode);
void SaveInt64ToStream(int64_t Value, TStream& Stream, int32_t ErrorCode);
uint16_t LoadUInt16FromStream(TStream& Stream, int32_t ErrorCode);
int32_t LoadInt32FromStream(TStream& Stream, int32_t ErrorCode);
int64_t LoadInt64FromStream(TStream& Stream, int32_t ErrorCode);

}  // namespace orv
