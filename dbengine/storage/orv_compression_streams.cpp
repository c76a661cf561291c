#include "dbengine/storage/orv_compression_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "platform/base/byte_order.h"

namespace orv {
namespace {

constexpr int64_t kMaxMemoryStreamSize = INT32_MAX - ORVMemoryOverhead;

const char* kCannotRead = "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
const char* kCannotWrite =
    "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";

// A block copy between two streams puts both positions back where they were, also when the
// copy fails part way.
struct RestorePositions {
  TStream& a;
  TStream& b;
  int64_t a_position, b_position;
  ~RestorePositions() {
    try {
      a.Seek(a_position, soBeginning);
      b.Seek(b_position, soBeginning);
    } catch (...) {
      // Positioning back is best effort once the copy itself has failed.
    }
  }
};

}  // namespace

// ---- TORVStream ---------------------------------------------------------------------------

TORVStream::TORVStream() : FBlockSize(DefaultMemoryBlockSize) {}

void TORVStream::Lock() { FCSect.lock(); }
void TORVStream::Unlock() { FCSect.unlock(); }

void TORVStream::DoOnProgress(double Progress) {
  if (OnProgress) OnProgress(this, Progress);
}

void TORVStream::SaveToStream(TStream& Stream) {
  if (FBlockSize <= 0) throw EORVException(10418, "Stream block size = 0 is not allowed");
  const int64_t own_position = GetPosition();
  const int64_t other_position = Stream.GetPosition();
  const RestorePositions restore{*this, Stream, own_position, other_position};
  Seek(0, soBeginning);
  DoOnProgress(0);
  std::vector<uint8_t> buffer(static_cast<size_t>(FBlockSize));
  const int64_t size = GetSize();
  int64_t copied = 0;
  while (copied < size) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(FBlockSize, size - copied));
    const int64_t read_position = GetPosition();
    const int32_t got = Read(buffer.data(), n);
    if (got != n) throw EORVException(10146, kCannotRead, {read_position, size, n, got});
    const int64_t write_position = Stream.GetPosition();
    const int32_t put = Stream.Write(buffer.data(), n);
    if (put != n) throw EORVException(10147, kCannotWrite, {write_position, Stream.GetSize(), n, put});
    copied += n;
    DoOnProgress(static_cast<double>(copied) / static_cast<double>(size) * 100.0);
  }
  DoOnProgress(100);
}

void TORVStream::LoadFromStream(TStream& Stream) { LoadFromStreamWithPosition(Stream, 0, Stream.GetSize()); }

void TORVStream::LoadFromStreamWithPosition(TStream& Stream, int64_t FromPosition, int64_t StreamSize) {
  if (FBlockSize <= 0) throw EORVException(10419, "Stream block size = 0 is not allowed");
  const int64_t own_position = GetPosition();
  const int64_t other_position = Stream.GetPosition();
  const RestorePositions restore{*this, Stream, own_position, other_position};
  Stream.Seek(FromPosition, soBeginning);
  if (Stream.GetPosition() != FromPosition)
    throw EORVException(10148, kCannotRead, {Stream.GetPosition(), Stream.GetSize(), FBlockSize, 0});
  SetSize(0);
  Seek(0, soBeginning);
  DoOnProgress(0);
  std::vector<uint8_t> buffer(static_cast<size_t>(FBlockSize));
  const int64_t end = FromPosition + std::max<int64_t>(StreamSize, 0);
  for (int64_t position = Stream.GetPosition(); position < end; position = Stream.GetPosition()) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(FBlockSize, end - position));
    const int32_t got = Stream.Read(buffer.data(), n);
    if (got != n) throw EORVException(10148, kCannotRead, {position, Stream.GetSize(), n, got});
    const int64_t write_position = GetPosition();
    const int32_t put = Write(buffer.data(), n);
    if (put != n) throw EORVException(10149, kCannotWrite, {write_position, GetSize(), n, put});
    const int64_t total = Stream.GetSize();
    DoOnProgress(total > 0 ? static_cast<double>(Stream.GetPosition()) / static_cast<double>(total) * 100.0 : 100.0);
  }
  DoOnProgress(100);
}

void TORVStream::LoadFromFile(const std::string& FileName) {
  TORVFileStream file(FileName, fmOpenRead | fmShareDenyWrite, false);
  LoadFromStream(file);
}

void TORVStream::SaveToFile(const std::string& FileName) {
  TORVFileStream file(FileName, fmCreate, false);
  SaveToStream(file);
}

// ---- TORVMemoryStream ---------------------------------------------------------------------

TORVMemoryStream::TORVMemoryStream(void* Buffer, int32_t DefaultAllocatedSize) {
  if (Buffer) {
    const int64_t size = MemoryManager().GetMemoryBufferSize(Buffer);
    FBuffer = static_cast<uint8_t*>(Buffer);
    FBufferSize = static_cast<int32_t>(size);
    FAllocatedBufferSize = FBufferSize;
  } else if (DefaultAllocatedSize > 0) {
    FBuffer = static_cast<uint8_t*>(MemoryManager().GetMem(DefaultAllocatedSize));
    FAllocatedBufferSize = DefaultAllocatedSize;
  }
}

TORVMemoryStream::~TORVMemoryStream() {
  try {
    MemoryManager().FreeAndNillMem(FBuffer);
  } catch (...) {
    // An overrun of our own block cannot be reported from a destructor; the block is freed.
  }
}

void TORVMemoryStream::SetSize(int64_t NewSize) { Resize(NewSize, NewSize); }

void TORVMemoryStream::Resize(int64_t NewSize, int64_t ZeroUntil) {
  const int32_t old_size = FBufferSize;
  if (NewSize <= 0) {
    MemoryManager().FreeAndNillMem(FBuffer);
    FBufferSize = 0;
    FAllocatedBufferSize = 0;
  } else if (!FBuffer) {
    FBuffer = static_cast<uint8_t*>(MemoryManager().GetMem(NewSize));
    FBufferSize = static_cast<int32_t>(NewSize);
    FAllocatedBufferSize = FBufferSize;
  } else {
    if (NewSize > FAllocatedBufferSize) {
      // Twice the request, so a run of small appends reallocates only logarithmically often.
      int64_t capacity = std::min<int64_t>(NewSize * 2, kMaxMemoryStreamSize);
      if (capacity < NewSize) capacity = NewSize;  // too large: the manager refuses it
      MemoryManager().ReallocMem(FBuffer, capacity);
      FAllocatedBufferSize = static_cast<int32_t>(capacity);
    }
    FBufferSize = static_cast<int32_t>(NewSize);
  }
  // Bytes that become part of the stream are zero, never left-over memory (a writer that
  // fills them at once asks for less).
  const int64_t zero_end = std::min<int64_t>(ZeroUntil, FBufferSize);
  if (zero_end > old_size) std::memset(FBuffer + old_size, 0, static_cast<size_t>(zero_end - old_size));
  if (FPosition > FBufferSize) FPosition = FBufferSize;
}

int32_t TORVMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count < 1 || !Buffer || FPosition < 0 || FPosition >= FBufferSize) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(Count, FBufferSize - FPosition));
  std::memcpy(Buffer, FBuffer + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int32_t TORVMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count < 1 || !Buffer || FPosition < 0 || FPosition + Count > kMaxMemoryStreamSize) return 0;
  const int64_t end = FPosition + Count;
  if (end > FBufferSize) Resize(end, FPosition);
  std::memcpy(FBuffer + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  return Count;
}

int64_t TORVMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case soBeginning:
      FPosition = Offset;
      break;
    case soCurrent:
      FPosition += Offset;
      break;
    case soEnd:
      FPosition = FBufferSize + Offset;
      break;
  }
  return FPosition;
}

// ---- TORVFileStream -----------------------------------------------------------------------

TORVFileStream::TORVFileStream(const std::string& FileName, uint16_t Mode, bool IsTemporary)
    : FFileName(FileName), FMode(Mode), FIsTemporary(IsTemporary) {
  FBlockSize = DefaultFileBlockSize;
  if (Mode == fmCreate) {
    FHandle = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0) throw EORVException(10104, "Cannot create file. FileName = %s", {FileName});
    // Gone from the folder at once; the data lives until the handle closes.
    if (IsTemporary) ::unlink(FileName.c_str());
    return;
  }
  int access = O_RDONLY;
  if ((Mode & 3) == fmOpenWrite) access = O_WRONLY;
  else if ((Mode & 3) == fmOpenReadWrite) access = O_RDWR;
  FHandle = ::open(FileName.c_str(), access | O_CLOEXEC);
  struct stat st;
  if (FHandle >= 0 && (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(FHandle);
    FHandle = -1;
  }
  if (FHandle < 0) throw EORVException(10105, "Cannot open file. FileName = %s, Mode = %d", {FileName, Mode});
}

TORVFileStream::TORVFileStream(int Handle, std::string FileName)
    : FHandle(Handle), FFileName(std::move(FileName)), FMode(fmCreate), FIsTemporary(true) {
  FBlockSize = DefaultFileBlockSize;
}

std::unique_ptr<TORVFileStream> TORVFileStream::CreateTemporaryFile() {
  const char* dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  // A file without a name is never visible in the folder, not even for a moment.
  int fd = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return std::unique_ptr<TORVFileStream>(new TORVFileStream(fd, std::string(dir) + "/ORV (unnamed)"));
  std::string name = std::string(dir) + "/ORVXXXXXX.tmp";
  fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
  if (fd < 0) throw EORVException(10104, "Cannot create file. FileName = %s", {name});
  ::unlink(name.c_str());
  return std::unique_ptr<TORVFileStream>(new TORVFileStream(fd, name));
}

TORVFileStream::~TORVFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int32_t TORVFileStream::Read(void* Buffer, int32_t Count) {
  if (Count < 1 || !Buffer || FPosition < 0) return 0;
  auto* p = static_cast<uint8_t*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    const ssize_t n = ::pread(FHandle, p + done, static_cast<size_t>(Count - done), FPosition + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of file or an error: the short count tells the caller
    done += static_cast<int32_t>(n);
  }
  FPosition += done;
  return done;
}

int32_t TORVFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count < 1 || !Buffer || FPosition < 0) return 0;
  const auto* p = static_cast<const uint8_t*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    const ssize_t n = ::pwrite(FHandle, p + done, static_cast<size_t>(Count - done), FPosition + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  FPosition += done;
  return done;
}

int64_t TORVFileStream::GetSize() {
  struct stat st;
  if (::fstat(FHandle, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

int64_t TORVFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t target = FPosition;
  switch (Origin) {
    case soBeginning:
      target = Offset;
      break;
    case soCurrent:
      target = FPosition + Offset;
      break;
    case soEnd:
      target = GetSize() + Offset;
      break;
  }
  if (target < 0) return -1;
  FPosition = target;
  return FPosition;
}

void TORVFileStream::SetSize(int64_t NewSize) {
  const int64_t remembered = FPosition;
  if (NewSize < 0 || ::ftruncate(FHandle, NewSize) != 0)
    throw std::system_error(NewSize < 0 ? EINVAL : errno, std::generic_category(),
                            "Cannot set the size of " + FFileName);
  FPosition = NewSize < remembered ? NewSize : remembered;
}

// ---- TORVTemporaryStream ------------------------------------------------------------------

TORVTemporaryStream::TORVTemporaryStream(bool DisableTempFiles)
    : FMemoryLimit(DefaultTemporaryLimit),
      FMemoryStream(std::make_unique<TORVMemoryStream>()),
      FDisableTempFiles(DisableTempFiles) {
  FBlockSize = DefaultTemporaryBlockSize;
}

TORVTemporaryStream::~TORVTemporaryStream() = default;

TStream& TORVTemporaryStream::Current() {
  if (FInMemory) return *FMemoryStream;
  return *FFileStream;
}

int32_t TORVTemporaryStream::Write(const void* Buffer, int32_t Count) {
  if (FInMemory && !FDisableTempFiles && FMemoryStream->GetSize() + Count > FMemoryLimit) {
    std::unique_ptr<TORVFileStream> file = TORVFileStream::CreateTemporaryFile();
    const std::string name = file->FileName();
    // The memory copy is dropped only once the file holds everything.
    file->LoadFromStream(*FMemoryStream);
    file->Seek(FMemoryStream->GetPosition(), soBeginning);
    FMemoryStream.reset();
    FFileStream = std::move(file);
    FFileName = name;
    FInMemory = false;
  }
  return Current().Write(Buffer, Count);
}

int32_t TORVTemporaryStream::Read(void* Buffer, int32_t Count) { return Current().Read(Buffer, Count); }
int64_t TORVTemporaryStream::Seek(int64_t Offset, TSeekOrigin Origin) { return Current().Seek(Offset, Origin); }
void TORVTemporaryStream::SetSize(int64_t NewSize) { Current().SetSize(NewSize); }
int64_t TORVTemporaryStream::GetSize() { return Current().GetSize(); }

// ---- Module routines ----------------------------------------------------------------------

std::string GetTempFileName() {
  const char* dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  std::string name = std::string(dir) + "/ORVXXXXXX.tmp";
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) return std::string();
  ::close(fd);
  return name;
}

void SaveDataToStream(const void* Data, int32_t DataSize, TStream& Stream, int32_t ErrorCode) {
  const int64_t position = Stream.GetPosition();
  const int32_t written = DataSize > 0 ? Stream.Write(Data, DataSize) : 0;
  if (written != DataSize) throw EORVException(ErrorCode, kCannotWrite, {position, Stream.GetSize(), DataSize, written});
}

void LoadDataFromStream(void* Data, int32_t DataSize, TStream& Stream, int32_t ErrorCode) {
  const int64_t position = Stream.GetPosition();
  const int32_t got = DataSize > 0 ? Stream.Read(Data, DataSize) : 0;
  if (got != DataSize) throw EORVException(ErrorCode, kCannotRead, {position, Stream.GetSize(), DataSize, got});
}

void SetStreamPosition(TStream& Stream, int64_t NewPosition, int32_t ErrorCode) {
  const int64_t before = Stream.GetPosition();
  Stream.Seek(NewPosition, soBeginning);
  if (Stream.GetPosition() != NewPosition)
    throw EORVException(ErrorCode, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {NewPosition, before, Stream.GetSize()});
}

void SaveUInt16ToStream(uint16_t Value, TStream& Stream, int32_t ErrorCode) {
  uint8_t b[2];
  platform::StoreLE16(b, Value);
  SaveDataToStream(b, 2, Stream, ErrorCode);
}

void SaveInt32ToStream(int32_t Value, TStream& Stream, int32_t ErrorCode) {
  uint8_t b[4];
  platform::StoreLE32(b, static_cast<uint32_t>(Value));
  SaveDataToStream(b, 4, Stream, ErrorCode);
}

void SaveInt64ToStream(int64_t Value, TStream& Stream, int32_t ErrorCode) {
  uint8_t b[8];
  platform::StoreLE64(b, static_cast<uint64_t>(Value));
  SaveDataToStream(b, 8, Stream, ErrorCode);
}

uint16_t LoadUInt16FromStream(TStream& Stream, int32_t ErrorCode) {
  uint8_t b[2];
  LoadDataFromStream(b, 2, Stream, ErrorCode);
  return platform::LoadLE16(b);
}

int32_t LoadInt32FromStream(TStream& Stream, int32_t ErrorCode) {
  uint8_t b[4];
  LoadDataFromStream(b, 4, Stream, ErrorCode);
  return static_cast<int32_t>(platform::LoadLE32(b));
}

int64_t LoadInt64FromStream(TStream& Stream, int32_t ErrorCode) {
  uint8_t b[8];
  LoadDataFromStream(b, 8, Stream, ErrorCode);
  return static_cast<int64_t>(platform::LoadLE64(b));
}

}  // namespace orv
