#include "dbengine/file/orv_disk_engine_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/byte_order.h"
#include "platform/base/clock.h"

namespace orv {

namespace {

constexpr char kSignature[] = "ORVETA00DATABASE";
constexpr int64_t kSignatureSize = 16;
constexpr int64_t kHeaderSize = 76;
constexpr int64_t kScanBlockSize = 10000;

// Reported for a transfer that stopped early without an error of the system: the end of the
// file on reading, a device that stores nothing more on writing.
constexpr int kShortRead = ENODATA;
constexpr int kShortWrite = ENOSPC;

std::string Text(int error) { return platform::ErrorText(error); }

bool IsDatabaseHeaderAt(const uint8_t* p) {
  return std::memcmp(p, kSignature, kSignatureSize) == 0 &&
         static_cast<int16_t>(platform::LoadLE16(p + kSignatureSize)) == kHeaderSize;
}

}  // namespace


// ---- TORVDatabaseFile ---------------------------------------------------------------------

TORVDatabaseFile::TORVDatabaseFile(platform::FileFactory Factory)
    : FFactory(Factory ? std::move(Factory) : platform::FileFactory(platform::MakePlainFile)) {}

TORVDatabaseFile::~TORVDatabaseFile() {
  if (FFile) FFile->Close();
}

void TORVDatabaseFile::CheckOpened(const char* OperationName) const {
  if (!FIsOpened) throw EORVException(30376, "Cannot perform this operation (%s) on a closed file", {OperationName});
}

void TORVDatabaseFile::CheckClosed(const char* OperationName) const {
  if (FIsOpened) throw EORVException(30377, "Cannot perform this operation (%s) on a opened file", {OperationName});
}

void TORVDatabaseFile::CreateAndOpenFile(const std::string& FileName) {
  CheckClosed("CreateFile");
  if (FileName.empty()) throw EORVException(30374, "Cannot create file with blank FileName");
  FFileName = FileName;
  FAccessMode = amReadWrite;
  FShareMode = smExclusive;
  auto file = FFactory(FileName);
  // An existing file is emptied in place, and only while nobody else has it open: on this
  // platform its other users would otherwise go on writing into a file that no longer has a
  // name.
  const int error = file->Create(FileName);
  if (error != 0)
    throw EORVException(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                        {FileName, error, Text(error)});
  FFile = std::move(file);
  FPosition = 0;
  FIsOpened = true;
}

void TORVDatabaseFile::OpenFile(const std::string& FileName, TORVAccessMode AccessMode, TORVShareMode ShareMode) {
  CheckClosed("OpenFile");
  platform::FileAccess access;
  switch (AccessMode) {
    case amReadOnly:
      access = platform::FileAccess::ReadOnly;
      break;
    case amReadWrite:
      access = platform::FileAccess::ReadWrite;
      break;
    default:
      throw EORVException(30366, "Unknown Access mode: '%d'", {static_cast<int>(AccessMode)});
  }
  platform::FileShare share;
  switch (ShareMode) {
    case smExclusive:
      share = platform::FileShare::Exclusive;
      break;
    case smShareDenyNone:
      share = platform::FileShare::DenyNone;
      break;
    case smShareDenyWrite:
      share = platform::FileShare::DenyWrite;
      break;
    default:
      throw EORVException(30367, "Unknown Share mode: '%d'", {static_cast<int>(ShareMode)});
  }
  FFileName = FileName;
  FAccessMode = AccessMode;
  FShareMode = ShareMode;
  auto file = FFactory(FileName);
  const int error = file->Open(FileName, access, share);
  if (error != 0)
    throw EORVException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s", {FileName, error, Text(error)});
  FFile = std::move(file);
  FPosition = 0;
  FIsOpened = true;
}

void TORVDatabaseFile::CloseFile() {
  CheckOpened("CloseFile");
  const int error = FFile->Close();
  FFile.reset();
  FIsOpened = false;
  if (error != 0)
    throw EORVException(30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s",
                        {FFileName, error, Text(error)});
}

void TORVDatabaseFile::DeleteFile(const std::string& FileName) {
  CheckClosed("DeleteFile");
  const std::string& name = FileName.empty() ? FFileName : FileName;
  const int error = platform::DeleteFile(name);
  if (error != 0)
    throw EORVException(30362, "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s", {name, error, Text(error)});
}

void TORVDatabaseFile::RenameFile(const std::string& OldFileName, const std::string& NewFileName) {
  const int error = platform::RenameFile(OldFileName, NewFileName);
  if (error != 0)
    throw EORVException(30378, "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s",
                        {OldFileName, NewFileName, error, Text(error)});
}

void TORVDatabaseFile::OpenFileForDesignTime() {
  if (DesignOpenCount == 0) OpenFile(FFileName, FAccessMode, FShareMode);
  ++DesignOpenCount;
}

void TORVDatabaseFile::CloseFileForDesignTime() {
  if (DesignOpenCount < 1) return;
  if (--DesignOpenCount == 0) CloseFile();
}

bool TORVDatabaseFile::InternalSeek(int64_t Offset) {
  CheckOpened("Seek");
  if (Offset < 0) return false;
  FPosition = Offset;
  return true;
}

void TORVDatabaseFile::Seek(int64_t Offset, int32_t ErrorCode) {
  if (InternalSeek(Offset)) return;
  const int64_t position = GetPosition();
  const int64_t size = GetSize();
  throw EORVException(ErrorCode != 0 ? ErrorCode : 30372,
                      "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                      {Offset, FFileName, position, size});
}

void TORVDatabaseFile::SetPosition(int64_t Offset) {
  CheckOpened("SetPosition");
  Seek(Offset, 0);
}

int64_t TORVDatabaseFile::GetPosition() {
  CheckOpened("GetPosition");
  return FPosition;
}

void TORVDatabaseFile::SetSize(int64_t NewSize) {
  CheckOpened("SetSize");
  Seek(NewSize, 0);
  int error = FFile->SetSize(NewSize);
  if (error != 0 && ReopenDatabaseFile()) error = FFile->SetSize(NewSize);
  if (error != 0)
    throw EORVException(30370, "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, NewSize, error, Text(error)});
}

int64_t TORVDatabaseFile::GetSize() {
  CheckOpened("GetSize");
  int64_t size = 0;
  int error = FFile->GetSize(size);
  if (error != 0 && ReopenDatabaseFile()) error = FFile->GetSize(size);
  if (error != 0)
    throw EORVException(30371, "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, error, Text(error)});
  return size;
}

void TORVDatabaseFile::AllocateSpace(int64_t Offset, int64_t Length, int32_t ErrorCode) {
  CheckOpened("AllocateSpace");
  if (Length <= 0) return;
  const int64_t old_size = GetSize();
  int error = FFile->Allocate(Offset, Length);
  if (error != 0 && ReopenDatabaseFile()) error = FFile->Allocate(Offset, Length);
  if (error != 0) {
    // A partly done allocation may have moved the end of the file.
    int64_t size = old_size;
    if (FFile->GetSize(size) == 0 && size != old_size) FFile->SetSize(old_size);
    throw EORVException(ErrorCode, "Cannot allocate %d bytes at %d in file '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {Length, Offset, FFileName, error, Text(error)});
  }
}

bool TORVDatabaseFile::DoRead(void* Buffer, int64_t Count, int64_t Position, int& Error) {
  if (Count < 0 || !InternalSeek(Position)) {
    Error = EINVAL;
    return false;
  }
  const platform::IoResult r = FFile->ReadAt(Buffer, static_cast<size_t>(Count), Position);
  FPosition = Position + static_cast<int64_t>(r.count);
  Error = r.error != 0 ? r.error : (r.count == static_cast<size_t>(Count) ? 0 : kShortRead);
  return Error == 0;
}

bool TORVDatabaseFile::ReadBuffer(void* Buffer, int64_t Count, int64_t Position) {
  CheckOpened("ReadBuffer");
  int error = 0;
  if (DoRead(Buffer, Count, Position, error)) return true;
  return ReopenDatabaseFile() && DoRead(Buffer, Count, Position, error);
}

void TORVDatabaseFile::ReadBuffer(void* Buffer, int64_t Count, int64_t Position, int32_t ErrorCode) {
  CheckOpened("ReadBuffer");
  int error = 0;
  if (DoRead(Buffer, Count, Position, error)) return;
  if (ReopenDatabaseFile() && DoRead(Buffer, Count, Position, error)) return;
  RaiseTransfer(ErrorCode, "Read from", Position, Count, error);
}

int64_t TORVDatabaseFile::ReadAvailable(void* Buffer, int64_t Count, int64_t Position) {
  CheckOpened("ReadBuffer");
  if (Count <= 0 || Position < 0) return 0;
  const platform::IoResult r = FFile->ReadAt(Buffer, static_cast<size_t>(Count), Position);
  FPosition = Position + static_cast<int64_t>(r.count);
  return static_cast<int64_t>(r.count);
}

void TORVDatabaseFile::WriteBuffer(const void* Buffer, int64_t Count, int64_t Position, int32_t ErrorCode) {
  CheckOpened("WriteBuffer");
  auto attempt = [&](int& error) {
    Seek(Position, ErrorCode);
    const platform::IoResult r = FFile->WriteAt(Buffer, static_cast<size_t>(std::max<int64_t>(Count, 0)), Position);
    FPosition = Position + static_cast<int64_t>(r.count);
    // The count stored is compared: a write that stopped early is a failed write.
    error = r.error != 0 ? r.error : (r.count == static_cast<size_t>(std::max<int64_t>(Count, 0)) ? 0 : kShortWrite);
    return error == 0;
  };
  int error = 0;
  if (attempt(error)) return;
  if (ReopenDatabaseFile() && attempt(error)) return;
  RaiseTransfer(ErrorCode, "Write to", Position, Count, error);
}

void TORVDatabaseFile::RaiseTransfer(int32_t ErrorCode, const char* What, int64_t Position, int64_t Count,
                                     int Error) {
  const int64_t position = GetPosition();
  const int64_t size = GetSize();
  throw EORVException(ErrorCode,
                      std::string("Cannot ") + What +
                          " file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, ErrorCode:%d. "
                          "ErrorMessage: %s",
                      {FFileName, Position, Count, position, size, Error, Text(Error)});
}

void TORVDatabaseFile::FlushFileBuffers() {
  CheckOpened("FlushFileBuffers");
  int error = FFile->Sync();
  if (error != 0 && ReopenDatabaseFile()) error = FFile->Sync();
  if (error != 0)
    throw EORVException(30379, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, error, Text(error)});
}

bool TORVDatabaseFile::DoLock(int64_t Offset, int32_t Count, int& Error) {
  Error = 0;
  const platform::LockResult r = FFile->Lock(Offset, static_cast<uint32_t>(Count), &Error);
  if (r == platform::LockResult::Failed) FWasCriticalError = IsOSCriticalError(Error);
  return r == platform::LockResult::Granted;
}

bool TORVDatabaseFile::DoUnlock(int64_t Offset, int32_t Count, int& Error) {
  Error = 0;
  const bool done = FFile->Unlock(Offset, static_cast<uint32_t>(Count), &Error);
  if (!done && Error != EINVAL) FWasCriticalError = IsOSCriticalError(Error);
  return done;
}

bool TORVDatabaseFile::LockByte(int64_t Offset, int32_t Count) {
  CheckOpened("LockByte");
  int error = 0;
  if (DoLock(Offset, Count, error)) return true;
  // A refusal is the answer; only a failing call is worth a second try on a reopened handle.
  // A failure never counts as a granted lock, whatever its cause.
  if (error == EAGAIN || error == EACCES || error == EINVAL) return false;
  if (!ReopenDatabaseFile()) return false;
  FWasCriticalError = false;
  return DoLock(Offset, Count, error);
}

bool TORVDatabaseFile::UnlockByte(int64_t Offset, int32_t Count) {
  CheckOpened("UnlockByte");
  int error = 0;
  if (DoUnlock(Offset, Count, error)) return true;
  if (IsDesignMode()) return true;
  if (error == EINVAL) return false;  // not a range this handle holds
  if (!ReopenDatabaseFile()) return false;
  FWasCriticalError = false;
  return DoUnlock(Offset, Count, error);
}

bool TORVDatabaseFile::IsByteLocked(int64_t Offset) {
  CheckOpened("IsByteLocked");
  return FFile->IsLocked(Offset, 1);
}

bool TORVDatabaseFile::IsRegionLocked(int64_t Offset, int32_t Count) {
  CheckOpened("IsRegionLocked");
  return FFile->IsLocked(Offset, static_cast<uint32_t>(Count));
}

bool TORVDatabaseFile::ReopenDatabaseFile() {
  if (!FFile) return false;
  if (!FFile->IsDisconnected()) return FFile->IsOpen();
  for (int32_t attempt = 1; attempt <= ReopenDatabaseFileRetries; ++attempt) {
    const int error = FFile->Reopen();
    if (FFile->IsOpen()) {
      // The handle is back, but without a lock the engine believes it holds: going on would let
      // two processes into the same protected area.
      if (error != 0)
        throw EORVException(30509, "Cannot take the locks of file '%s' again after reopening it. ErrorCode:%d. "
                                   "ErrorMessage: %s",
                            {FFileName, error, Text(error)});
      return true;
    }
    if (attempt < ReopenDatabaseFileRetries) platform::Sleep(ReopenDatabaseFileDelay);
  }
  return false;
}

bool TORVDatabaseFile::FindSignature(int64_t& Offset) {
  const int64_t remembered = GetPosition();
  struct Restore {
    TORVDatabaseFile* file;
    int64_t position;
    ~Restore() {
      if (file->IsOpened()) file->FPosition = position;
    }
  } restore{this, remembered};

  uint8_t head[kSignatureSize + kHeaderSize];
  if (ReadAvailable(head, sizeof head, 0) >= kHeaderSize && IsDatabaseHeaderAt(head)) {
    Offset = 0;
    return true;
  }
  std::vector<uint8_t> block(static_cast<size_t>(kScanBlockSize));
  for (int64_t work = 0; work < GetSize(); work += kScanBlockSize - kSignatureSize) {
    const int64_t file_size = GetSize();
    const int64_t got = ReadAvailable(block.data(), kScanBlockSize, work);
    // A signature that runs past the end of the block is tested in the next block, which
    // starts within it; only the HeaderSize field behind it may lie beyond this block.
    for (int64_t o = 0; o + kSignatureSize <= got; ++o) {
      if (work + o + kHeaderSize > file_size) break;
      if (block[static_cast<size_t>(o)] != 'O' ||
          std::memcmp(block.data() + o, kSignature, kSignatureSize) != 0)
        continue;
      uint8_t size_field[2];
      if (o + kSignatureSize + 2 <= got) {
        std::memcpy(size_field, block.data() + o + kSignatureSize, 2);
      } else if (ReadAvailable(size_field, 2, work + o + kSignatureSize) != 2) {
        continue;
      }
      if (static_cast<int16_t>(platform::LoadLE16(size_field)) == kHeaderSize) {
        Offset = work + o;
        return true;
      }
    }
    if (got < kScanBlockSize) break;
  }
  return false;
}

// ---- Free routines ------------------------------------------------------------------------

bool TryUsingTimeOut(const std::function<bool()>& Func, int32_t TryCount, int32_t DelayMS) {
  for (int32_t i = 0; i < TryCount; ++i) {
    if (Func()) return true;
    platform::Sleep(static_cast<uint32_t>(std::max(DelayMS, 0)));
  }
  return false;
}

std::string PageTypeToStr(uint16_t PageType) {
  if (PageType > ptLastType) throw EORVException(30382, "Unknown Page Type: (%d)", {PageType});
  return std::string(ORVPageTypeNames[PageType]);
}

void CheckPageType(uint16_t FoundType, uint16_t WantedType, int32_t ErrorCode) {
  if (FoundType == WantedType) return;
  const std::string found = PageTypeToStr(FoundType);
  throw EORVException(ErrorCode, "Wrong page type. Found '%s', but expecting: '%s'", {found, PageTypeToStr(WantedType)});
}

bool IsOSCriticalError(int Error) {
  switch (Error) {
    case EBADF:
    case EIO:
    case ENXIO:
    case ENODEV:
    case ESTALE:
    case ENOLINK:
    case ECOMM:
    case EREMOTEIO:
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case ECONNABORTED:
    case ECONNRESET:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENOTCONN:
    case ENOLCK:
      return true;
    default:
      return false;
  }
}

}  // namespace orv
