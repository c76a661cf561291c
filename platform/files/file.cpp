#include "platform/files/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// The share-mode marks, one byte each above kShareLockBase.
constexpr int64_t kMarkReads = kShareLockBase + 0;
constexpr int64_t kMarkWrites = kShareLockBase + 1;
constexpr int64_t kMarkDeniesRead = kShareLockBase + 2;
constexpr int64_t kMarkDeniesWrite = kShareLockBase + 3;

struct flock MakeFlock(short type, int64_t offset, int64_t count) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(count);
  fl.l_pid = 0;  // required for open-file-description locks
  return fl;
}

int SetOfdLock(int fd, short type, int64_t offset, int64_t count) {
  struct flock fl = MakeFlock(type, offset, count);
  while (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

bool IsRefusal(int error) { return error == EAGAIN || error == EACCES; }

bool DeniesRead(FileShare share) { return share == FileShare::Exclusive || share == FileShare::DenyRead; }
bool DeniesWrite(FileShare share) { return share == FileShare::Exclusive || share == FileShare::DenyWrite; }

}  // namespace

File::~File() { Close(); }

int File::OpenDescriptor(bool create) {
  const int flags = O_CLOEXEC | (access_ == FileAccess::ReadOnly ? O_RDONLY : O_RDWR) | (create ? O_CREAT : 0);
  int fd = -1;
  do {
    fd = ::open(path_.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  struct stat st;
  int error = 0;
  if (::fstat(fd, &st) != 0)
    error = errno;
  else if (!S_ISREG(st.st_mode))
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  if (error != 0) {
    ::close(fd);
    return error;
  }
  fd_ = fd;
  return 0;
}

// Marks what this handle does and forbids, then looks for other handles whose marks contradict
// them. Two openers racing may both see each other and both give up; never may both succeed.
int File::TakeShareMarks() {
  const bool writes = access_ == FileAccess::ReadWrite;
  const bool denies_read = DeniesRead(share_);
  const bool denies_write = DeniesWrite(share_);
  int error = SetOfdLock(fd_, F_RDLCK, kMarkReads, 1);
  if (error == 0 && writes) error = SetOfdLock(fd_, F_RDLCK, kMarkWrites, 1);
  if (error == 0 && denies_read) error = SetOfdLock(fd_, F_RDLCK, kMarkDeniesRead, 1);
  if (error == 0 && denies_write) error = SetOfdLock(fd_, F_RDLCK, kMarkDeniesWrite, 1);
  if (error != 0) return IsRefusal(error) ? EBUSY : error;
  int probe = 0;
  const bool conflict = (denies_read && OthersLock(kMarkReads, 1, probe)) ||
                        (denies_write && OthersLock(kMarkWrites, 1, probe)) ||
                        OthersLock(kMarkDeniesRead, 1, probe) || (writes && OthersLock(kMarkDeniesWrite, 1, probe));
  if (probe != 0) return probe;
  return conflict ? EBUSY : 0;
}

int File::Open(const std::string& path, FileAccess access, FileShare share) {
  if (IsOpen()) return EBUSY;
  path_ = path;
  access_ = access;
  share_ = share;
  locks_.clear();
  if (const int error = OpenDescriptor()) return error;
  if (const int error = TakeShareMarks()) {
    ::close(fd_);
    fd_ = -1;
    return error;
  }
  return 0;
}

int File::OpenOrCreate(const std::string& path, FileShare share) {
  if (IsOpen()) return EBUSY;
  path_ = path;
  access_ = FileAccess::ReadWrite;
  share_ = share;
  locks_.clear();
  if (const int error = OpenDescriptor(true)) return error;
  if (const int error = TakeShareMarks()) {
    ::close(fd_);
    fd_ = -1;
    return error;
  }
  return 0;
}

int File::Create(const std::string& path) {
  if (IsOpen()) return EBUSY;
  path_ = path;
  access_ = FileAccess::ReadWrite;
  share_ = FileShare::Exclusive;
  locks_.clear();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EACCES) {
    // A read-only file is replaced as it would be once its read-only attribute is cleared.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::chmod(path.c_str(), st.st_mode | S_IWUSR) == 0)
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    else
      errno = EACCES;
  }
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return EISDIR;
  }
  fd_ = fd;
  // Emptied only once no other handle can be writing into it.
  int error = TakeShareMarks();
  if (error == 0 && ::ftruncate(fd_, 0) != 0) error = errno;
  // The new content is an ordinary file again, also where the opener could write regardless.
  if (error == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 && ::fchmod(fd_, st.st_mode | S_IWUSR) != 0)
    error = errno;
  if (error != 0) {
    ::close(fd_);
    fd_ = -1;
  }
  return error;
}

int File::CreateTemporary() {
  if (IsOpen()) return EBUSY;
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir && *dir ? dir : "/tmp") + "/ORVXXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  ::unlink(name.c_str());
  fd_ = fd;
  path_ = name;
  access_ = FileAccess::ReadWrite;
  share_ = FileShare::Exclusive;
  locks_.clear();
  return 0;
}

int File::Close() {
  if (fd_ < 0) return 0;
  // The descriptor is gone after close() whatever it reports (EINTR included).
  const int result = ::close(fd_);
  const int error = result == 0 ? 0 : errno;
  fd_ = -1;
  locks_.clear();
  return error;
}

bool File::IsDisconnected() {
  if (fd_ < 0) return true;
  struct stat st;
  return ::fstat(fd_, &st) != 0;
}

int File::Reopen() {
  if (path_.empty()) return EINVAL;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (const int error = OpenDescriptor()) return error;
  if (const int error = TakeShareMarks()) {
    ::close(fd_);
    fd_ = -1;
    return error;
  }
  int result = 0;
  for (auto it = locks_.begin(); it != locks_.end();) {
    int error = 0;
    if (SetLock(it->first, it->second, &error) == LockResult::Granted) {
      ++it;
    } else {
      result = error != 0 ? error : EAGAIN;
      it = locks_.erase(it);
    }
  }
  return result;
}

ssize_t File::RawPread(void* buffer, size_t count, int64_t position) {
  return ::pread(fd_, buffer, count, static_cast<off_t>(position));
}

ssize_t File::RawPwrite(const void* buffer, size_t count, int64_t position) {
  return ::pwrite(fd_, buffer, count, static_cast<off_t>(position));
}

namespace {

// Moves count bytes with one system call after the other until all are moved, the call moves
// nothing more (the end of the file on reading) or fails.
template <class Call>
IoResult Transfer(int fd, size_t count, int64_t position, Call call) {
  IoResult result;
  if (fd < 0) return {0, EBADF};
  if (position < 0) return {0, EINVAL};
  while (result.count < count) {
    const ssize_t n = call(result.count, position + static_cast<int64_t>(result.count));
    if (n < 0) {
      if (errno == EINTR) continue;
      result.error = errno;
      break;
    }
    if (n == 0) break;
    result.count += static_cast<size_t>(n);
  }
  return result;
}

}  // namespace

IoResult File::ReadAt(void* buffer, size_t count, int64_t position) {
  auto* p = static_cast<uint8_t*>(buffer);
  return Transfer(fd_, count, position,
                  [&](size_t done, int64_t at) { return RawPread(p + done, count - done, at); });
}

IoResult File::WriteAt(const void* buffer, size_t count, int64_t position) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  return Transfer(fd_, count, position,
                  [&](size_t done, int64_t at) { return RawPwrite(p + done, count - done, at); });
}

int File::GetSize(int64_t& size) {
  if (fd_ < 0) return EBADF;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return errno;
  size = static_cast<int64_t>(st.st_size);
  return 0;
}

int File::SetSize(int64_t size) {
  if (fd_ < 0) return EBADF;
  if (size < 0) return EINVAL;
  while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int File::Allocate(int64_t offset, int64_t length) {
  if (fd_ < 0) return EBADF;
  if (offset < 0 || length < 0) return EINVAL;
  if (length == 0) return 0;
  int error = 0;
  do {
    error = ::posix_fallocate(fd_, static_cast<off_t>(offset), static_cast<off_t>(length));
  } while (error == EINTR);
  return error;
}

int File::Sync() {
  if (fd_ < 0) return EBADF;
  while (::fdatasync(fd_) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

bool File::Overlaps(int64_t offset, int64_t count) const {
  // Held ranges never overlap each other, so only the last range starting before the end of
  // the asked range can reach into it.
  auto it = locks_.lower_bound(offset + count);
  if (it == locks_.begin()) return false;
  --it;
  return it->first + it->second > offset;
}

bool File::OthersLock(int64_t offset, int64_t count, int& error) const {
  // An exclusive request conflicts with every lock of another handle, shared or not, and never
  // with this handle's own.
  struct flock fl = MakeFlock(F_WRLCK, offset, count);
  while (::fcntl(fd_, F_OFD_GETLK, &fl) != 0) {
    if (errno != EINTR) {
      error = errno;
      return true;
    }
  }
  error = 0;
  return fl.l_type != F_UNLCK;
}

LockResult File::SetLock(int64_t offset, int64_t count, int* error) {
  const bool read_only = access_ == FileAccess::ReadOnly;
  // The kernel refuses exclusive locks on a descriptor opened for reading (EBADF).
  const int e = SetOfdLock(fd_, read_only ? F_RDLCK : F_WRLCK, offset, count);
  if (e != 0) {
    if (error) *error = e;
    return IsRefusal(e) ? LockResult::Refused : LockResult::Failed;
  }
  if (read_only) {
    int probe = 0;
    if (OthersLock(offset, count, probe)) {
      SetOfdLock(fd_, F_UNLCK, offset, count);
      if (error) *error = probe != 0 ? probe : EAGAIN;
      return probe != 0 ? LockResult::Failed : LockResult::Refused;
    }
  }
  if (error) *error = 0;
  return LockResult::Granted;
}

LockResult File::Lock(int64_t offset, int64_t count, int* error) {
  if (fd_ < 0) {
    if (error) *error = EBADF;
    return LockResult::Failed;
  }
  if (offset < 0 || count <= 0 || offset > kShareLockBase - count) {
    if (error) *error = EINVAL;
    return LockResult::Failed;
  }
  if (Overlaps(offset, count)) {
    if (error) *error = EAGAIN;
    return LockResult::Refused;
  }
  const LockResult result = SetLock(offset, count, error);
  if (result == LockResult::Granted) locks_.emplace(offset, count);
  return result;
}

bool File::Unlock(int64_t offset, int64_t count, int* error) {
  const auto it = locks_.find(offset);
  if (fd_ < 0 || it == locks_.end() || it->second != count) {
    if (error) *error = fd_ < 0 ? EBADF : EINVAL;
    return false;
  }
  const int e = SetOfdLock(fd_, F_UNLCK, offset, count);
  if (error) *error = e;
  if (e != 0) return false;
  locks_.erase(it);
  return true;
}

bool File::IsLocked(int64_t offset, int64_t count) {
  if (count <= 0 || offset < 0) return false;
  if (Overlaps(offset, count)) return true;
  if (fd_ < 0) return true;
  int error = 0;
  // A query that fails counts as locked: nobody may assume a byte is free without knowing.
  return OthersLock(offset, count, error);
}

bool File::HoldsLock(int64_t offset, int64_t count) const { return count > 0 && Overlaps(offset, count); }

std::vector<ByteRange> File::HeldLocks() const {
  std::vector<ByteRange> result;
  result.reserve(locks_.size());
  for (const auto& [offset, count] : locks_) result.push_back({offset, count});
  return result;
}

std::unique_ptr<File> MakePlainFile(const std::string& /*path*/) { return std::make_unique<File>(); }

int DeleteFile(const std::string& path) {
  File guard;
  const int error = guard.Open(path, FileAccess::ReadOnly, FileShare::Exclusive);
  // A file we may not read can still be removed when the folder allows it; its users cannot
  // be seen then.
  if (error != 0 && error != EACCES) return error;
  if (::unlink(path.c_str()) != 0) return errno;
  return 0;
}

int RenameFile(const std::string& from, const std::string& to) {
  File guard;
  const int error = guard.Open(from, FileAccess::ReadOnly, FileShare::Exclusive);
  if (error != 0 && error != EACCES) return error;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without no-replace renames: a hard link fails when the target exists too.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  if (::unlink(from.c_str()) != 0) {
    const int e = errno;
    ::unlink(to.c_str());
    return e;
  }
  return 0;
}

int ReplaceFile(const std::string& from, const std::string& to) {
  File target;
  int error = target.Open(to, FileAccess::ReadOnly, FileShare::Exclusive);
  if (error != 0 && error != ENOENT && error != EACCES) return error;
  File source;
  error = source.Open(from, FileAccess::ReadOnly, FileShare::Exclusive);
  if (error != 0 && error != EACCES) return error;
  if (::rename(from.c_str(), to.c_str()) != 0) return errno;
  return 0;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t FileLength(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::string ErrorText(int error) {
  char buffer[256];
  return std::string(::strerror_r(error, buffer, sizeof buffer));
}

}  // namespace platform
