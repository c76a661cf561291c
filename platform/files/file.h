#pragma once
// Files with the sharing and byte-range locking rules the database engine was written for.
//
// Locks are open-file-description locks (F_OFD_SETLK): they belong to one open() of the file,
// so two File objects of one process conflict with each other exactly as two processes do, and
// closing some other descriptor of the same file never drops them. Every File keeps a registry
// of the ranges it holds, because the engine relies on these rules:
//   - a lock on a range that overlaps one this handle already holds is refused;
//   - an unlock must name a held range exactly;
//   - asking whether a range is locked never releases a lock this handle holds (the answer
//     comes from the registry, or from F_OFD_GETLK for other handles' locks);
//   - a count of 0 never means "to the end of the file".
// A refusal (EAGAIN, EACCES, an own overlapping range) is a lock conflict, never an I/O error.
//
// Share modes are emulated with locks on bytes far beyond any data: every opener marks what it
// does (reads, writes) and what it forbids others (reading, writing) with a shared lock on one
// byte each, then looks for other handles whose marks contradict its own. Deleting, renaming
// and creating over an existing file first open it with a share mode that forbids everything,
// so no process ever goes on working in a file that was unlinked under it.
//
// Reads and writes loop over pread/pwrite; a short count is reported to the caller, who decides
// whether it is an error. Nothing here throws: results carry errno values.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class FileAccess : uint8_t { ReadOnly, ReadWrite };

// What the opener allows others to do while it has the file open.
enum class FileShare : uint8_t {
  Exclusive,  // nothing
  DenyNone,   // reading and writing
  DenyWrite,  // reading only
  DenyRead,   // writing only
};

enum class LockResult : uint8_t {
  Granted,
  Refused,  // another handle holds an overlapping range, or this handle does
  Failed,   // the request itself failed (bad handle, I/O error, no lock resources)
};

// Bytes moved and the errno of the call that stopped the transfer (0 when it reached the end of
// the file or moved everything).
struct IoResult {
  size_t count = 0;
  int error = 0;
  bool Complete(size_t wanted) const { return error == 0 && count == wanted; }
};

struct ByteRange {
  int64_t offset = 0;
  int64_t count = 0;
};

// The first byte of the share-mode marks; lock requests at or beyond it are refused as invalid.
inline constexpr int64_t kShareLockBase = INT64_C(0x4000000000000000);

class File {
 public:
  File() = default;
  virtual ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing file. 0 or errno; EBUSY when the share modes of this and another open
  // handle contradict each other.
  int Open(const std::string& path, FileAccess access, FileShare share);
  // Opens for reading and writing, creating the file (empty) when it does not exist; an existing
  // file keeps its content. 0 or errno as Open.
  int OpenOrCreate(const std::string& path, FileShare share);
  // Creates the file, or empties an existing one in place, for reading and writing with no
  // sharing. A file without write permission gets it first. EBUSY while another handle has the
  // file open; nothing is changed then.
  int Create(const std::string& path);
  // A temporary file in the system's temporary folder (TMPDIR, else /tmp), its name starting
  // with "ORV", unlinked at once so that it disappears with its handle. 0 or errno.
  int CreateTemporary();
  // Closes the handle; its locks go with it. 0 or errno (the handle is closed either way).
  int Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }
  FileAccess Access() const { return access_; }
  FileShare Share() const { return share_; }

  // True when the handle no longer reaches its file (a size query on it fails).
  virtual bool IsDisconnected();
  // Closes the handle and opens the same path again with the same modes, then takes the share
  // marks and every registered lock again. 0 or errno; EAGAIN when a registered lock is now held
  // by someone else (that range is dropped from the registry, the others are held).
  int Reopen();

  // Transfers at a position. A read stops early only at the end of the file (error 0) or on an
  // error; a write stops only on an error or when the system stores nothing more.
  virtual IoResult ReadAt(void* buffer, size_t count, int64_t position);
  virtual IoResult WriteAt(const void* buffer, size_t count, int64_t position);
  virtual int GetSize(int64_t& size);
  virtual int SetSize(int64_t size);
  // Reserves disk space for [offset, offset + length), growing the file when it ends before.
  virtual int Allocate(int64_t offset, int64_t length);
  // Data (and the size) on the disk before it returns.
  virtual int Sync();

  // Non-waiting byte-range lock, exclusive against every other handle. On a read-only handle
  // the kernel only grants shared locks; exclusivity is then checked against the other handles'
  // locks and a conflict refuses the request. error receives the errno of a failure.
  LockResult Lock(int64_t offset, int64_t count, int* error = nullptr);
  // Releases a range held by this handle; false (EINVAL in error) when no held range matches it
  // exactly.
  bool Unlock(int64_t offset, int64_t count, int* error = nullptr);
  // True when any byte of the range is locked by this handle or by another one.
  bool IsLocked(int64_t offset, int64_t count);
  // Only this handle's own locks.
  bool HoldsLock(int64_t offset, int64_t count) const;
  std::vector<ByteRange> HeldLocks() const;

 protected:
  // One system call each; the fault-injecting variant overrides them.
  virtual ssize_t RawPread(void* buffer, size_t count, int64_t position);
  virtual ssize_t RawPwrite(const void* buffer, size_t count, int64_t position);

 private:
  int OpenDescriptor(bool create = false);
  int TakeShareMarks();
  LockResult SetLock(int64_t offset, int64_t count, int* error);
  bool OthersLock(int64_t offset, int64_t count, int& error) const;
  bool Overlaps(int64_t offset, int64_t count) const;

  int fd_ = -1;
  std::string path_;
  FileAccess access_ = FileAccess::ReadWrite;
  FileShare share_ = FileShare::Exclusive;
  std::map<int64_t, int64_t> locks_;  // offset -> count of every held range, none overlapping
};

// Makes the File object through which a path is reached (the fault-injecting one in tests).
using FileFactory = std::function<std::unique_ptr<File>(const std::string& path)>;
std::unique_ptr<File> MakePlainFile(const std::string& path);

// Path operations with the sharing rules above. 0 or errno; EBUSY while another handle has the
// file open.
int DeleteFile(const std::string& path);
// EEXIST when the target exists: a file is never replaced by a rename.
int RenameFile(const std::string& from, const std::string& to);
// Puts `from` in the place of `to` in one step, while neither is open anywhere else: both are
// held with no sharing during the rename, so no other process goes on writing into a file
// that was replaced under it. EBUSY (nothing changed) while another handle has either open.
int ReplaceFile(const std::string& from, const std::string& to);
bool FileExists(const std::string& path);
// The length of a regular file, -1 when there is none.
int64_t FileLength(const std::string& path);
// Write permission for nobody: the file's read-only attribute.
bool IsReadOnlyFile(const std::string& path);

// The system's text for an errno value.
std::string ErrorText(int error);

}  // namespace platform
