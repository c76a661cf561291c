#pragma once
// The one object through which the disk engine touches the file of a database: create, open,
// close, delete and rename it, read and write at 64-bit positions, change and report its size,
// flush it, take and release byte-range locks, and find the file header when the database does
// not start at offset 0. An operation that fails is tried once more after the file has been
// tested for a lost handle and, if the handle died, reopened (with its locks taken again).
//
// The bytes and locks belong to platform::File (see platform/files/file.h for the locking
// rules); this layer adds the engine's error codes and texts, the file position and the retry.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dbengine/storage/orv_design_mode.h"
#include "dbengine/storage/orv_types.h"
#include "platform/files/file.h"

namespace orv {


class TORVDatabaseFile {
 public:
  // Files are made by Factory (plain files when empty).
  explicit TORVDatabaseFile(platform::FileFactory Factory = {});
  ~TORVDatabaseFile();
  TORVDatabaseFile(const TORVDatabaseFile&) = delete;
  TORVDatabaseFile& operator=(const TORVDatabaseFile&) = delete;

  // Creates the file (an existing one is replaced, also a read-only one) for reading and writing
  // with no sharing. Blank name: 30374; failure, also while another handle has the file open:
  // 30361.
  void CreateAndOpenFile(const std::string& FileName);
  // Unknown modes: 30366, 30367; failure: 30364.
  void OpenFile(const std::string& FileName, TORVAccessMode AccessMode, TORVShareMode ShareMode);
  // 30365 when the system reports a failure (the handle is gone all the same).
  void CloseFile();
  // 30362 on failure, also while another handle has the file open.
  void DeleteFile(const std::string& FileName);
  // 30378 on failure; an existing target is never replaced.
  void RenameFile(const std::string& OldFileName, const std::string& NewFileName);
  void OpenFileForDesignTime();
  void CloseFileForDesignTime();

  bool InternalSeek(int64_t Offset);
  // ErrorCode 0 raises 30372.
  void Seek(int64_t Offset, int32_t ErrorCode);
  void SetPosition(int64_t Offset);
  int64_t GetPosition();
  // 30370 on failure.
  void SetSize(int64_t NewSize);
  // 30371 on failure.
  int64_t GetSize();
  // Reserves the disk space of [Offset, Offset + Length), growing the file when needed, so that
  // a full disk shows here and not in a later write. On failure the size is put back and
  // ErrorCode raised.
  void AllocateSpace(int64_t Offset, int64_t Length, int32_t ErrorCode);

  // True when all Count bytes were read.
  bool ReadBuffer(void* Buffer, int64_t Count, int64_t Position);
  // Raises ErrorCode unless all Count bytes were read.
  void ReadBuffer(void* Buffer, int64_t Count, int64_t Position, int32_t ErrorCode);
  // Reads what there is (the end of the file stops it early); the count read. Never raises
  // beyond the checks of a closed file.
  int64_t ReadAvailable(void* Buffer, int64_t Count, int64_t Position);
  // Raises ErrorCode unless all Count bytes were written.
  void WriteBuffer(const void* Buffer, int64_t Count, int64_t Position, int32_t ErrorCode);
  // Data on the disk before it returns; 30379 on failure.
  void FlushFileBuffers();

  // Non-waiting; False when refused or failed.
  bool LockByte(int64_t Offset, int32_t Count);
  bool UnlockByte(int64_t Offset, int32_t Count);
  // A byte locked through this very handle counts as locked; asking never releases it.
  bool IsByteLocked(int64_t Offset);
  bool IsRegionLocked(int64_t Offset, int32_t Count);

  // Reopens a handle that lost its file (up to 3 attempts, 1 s apart) with its locks. True when
  // the handle is usable. Raises 30509 when a lock this object held is now held by another
  // handle: the engine must not go on as if it still had it.
  bool ReopenDatabaseFile();
  // Finds the file header "ORVETA00DATABASE" with HeaderSize 76; the file position is kept.
  bool FindSignature(int64_t& Offset);

  const std::string& FileName() const { return FFileName; }
  TORVAccessMode AccessMode() const { return FAccessMode; }
  TORVShareMode ShareMode() const { return FShareMode; }
  bool IsOpened() const { return FIsOpened; }
  bool WasCriticalError() const { return FWasCriticalError; }
  platform::File* Handle() const { return FFile.get(); }
  const platform::FileFactory& Factory() const { return FFactory; }

 private:
  void CheckOpened(const char* OperationName) const;
  void CheckClosed(const char* OperationName) const;
  bool DoRead(void* Buffer, int64_t Count, int64_t Position, int& Error);
  bool DoLock(int64_t Offset, int32_t Count, int& Error);
  bool DoUnlock(int64_t Offset, int32_t Count, int& Error);
  [[noreturn]] void RaiseTransfer(int32_t ErrorCode, const char* What, int64_t Position, int64_t Count, int Error);

  platform::FileFactory FFactory;
  std::unique_ptr<platform::File> FFile;
  std::string FFileName;
  TORVAccessMode FAccessMode = amReadWrite;
  TORVShareMode FShareMode = smExclusive;
  int64_t FPosition = 0;
  bool FIsOpened = false;
  int32_t DesignOpenCount = 0;
  bool FWasCriticalError = false;
};

// Calls Func up to TryCount times until it returns True, sleeping DelayMS after every failing
// call (on the engine's clock); False at once for TryCount below 1.
bool TryUsingTimeOut(const std::function<bool()>& Func, int32_t TryCount, int32_t DelayMS);
// The page type's name; above 12: 30382.
std::string PageTypeToStr(uint16_t PageType);
// Equal types pass; otherwise ErrorCode "Wrong page type. Found '%s', but expecting: '%s'" (a
// found type above 12 raises 30382 instead).
void CheckPageType(uint16_t FoundType, uint16_t WantedType, int32_t ErrorCode);
// Whether an errno value means the file or its connection is in trouble (as opposed to a lock
// conflict or a plain misuse).
bool IsOSCriticalError(int Error);

}  // namespace orv
