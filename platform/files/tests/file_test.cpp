#include "platform/files/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files/fault_file.h"

namespace platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qvfileXXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/data.bin";
    std::ofstream(path_, std::ios::binary) << std::string(1000, 'x');
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
  }

  // Runs body in a forked child and returns its exit status (the child's own result code).
  template <class F>
  static int InChild(F body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(FileTest, LocksFollowTheHandleNotTheProcess) {
  File a, b, c;
  ASSERT_EQ(a.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  ASSERT_EQ(b.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);

  EXPECT_EQ(a.Lock(10, 1), LockResult::Granted);
  // The same handle asking again, or for an overlapping range, is refused like another handle.
  EXPECT_EQ(a.Lock(10, 1), LockResult::Refused);
  EXPECT_EQ(a.Lock(5, 10), LockResult::Refused);
  EXPECT_EQ(b.Lock(10, 1), LockResult::Refused);
  EXPECT_EQ(b.Lock(0, 20), LockResult::Refused);
  EXPECT_EQ(b.Lock(11, 1), LockResult::Granted);

  // An unlock must match a held range of this very handle.
  int error = 0;
  EXPECT_FALSE(b.Unlock(10, 1, &error));
  EXPECT_EQ(error, EINVAL);
  EXPECT_FALSE(a.Unlock(10, 2));
  EXPECT_FALSE(a.Unlock(9, 1));

  // Asking about an own byte answers True and keeps the lock.
  EXPECT_TRUE(a.IsLocked(10, 1));
  EXPECT_TRUE(a.IsLocked(10, 1));
  EXPECT_EQ(b.Lock(10, 1), LockResult::Refused);
  EXPECT_TRUE(b.IsLocked(10, 1));
  EXPECT_TRUE(b.IsLocked(0, 11));
  EXPECT_FALSE(b.IsLocked(12, 100));

  // Closing another handle of the same file in the same process drops only that handle's locks.
  ASSERT_EQ(c.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  ASSERT_EQ(c.Close(), 0);
  EXPECT_EQ(b.Lock(10, 1), LockResult::Refused);
  ASSERT_EQ(b.Close(), 0);
  EXPECT_EQ(a.Lock(11, 1), LockResult::Granted);

  EXPECT_TRUE(a.Unlock(10, 1));
  EXPECT_FALSE(a.Unlock(10, 1));
  File d;
  ASSERT_EQ(d.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  EXPECT_EQ(d.Lock(10, 1), LockResult::Granted);
  EXPECT_EQ(d.Lock(11, 1), LockResult::Refused);
}

TEST_F(FileTest, LockArgumentsThatNameNoBytesFail) {
  File a;
  ASSERT_EQ(a.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  int error = 0;
  EXPECT_EQ(a.Lock(10, 0, &error), LockResult::Failed);  // never "to the end of the file"
  EXPECT_EQ(error, EINVAL);
  EXPECT_EQ(a.Lock(-1, 1), LockResult::Failed);
  EXPECT_EQ(a.Lock(kShareLockBase, 1), LockResult::Failed);
  EXPECT_FALSE(a.IsLocked(10, 0));
  File closed;
  EXPECT_EQ(closed.Lock(0, 1, &error), LockResult::Failed);
  EXPECT_EQ(error, EBADF);
  // Far beyond the end of the data is a lockable place like any other.
  EXPECT_EQ(a.Lock(INT64_C(1) << 40, 500), LockResult::Granted);
}

TEST_F(FileTest, ReadOnlyHandlesLockExclusivelyToo) {
  File r1, r2, w;
  ASSERT_EQ(r1.Open(path_, FileAccess::ReadOnly, FileShare::DenyNone), 0);
  ASSERT_EQ(r2.Open(path_, FileAccess::ReadOnly, FileShare::DenyNone), 0);
  ASSERT_EQ(w.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  EXPECT_EQ(r1.Lock(100, 4), LockResult::Granted);
  EXPECT_EQ(r2.Lock(102, 1), LockResult::Refused);
  EXPECT_EQ(w.Lock(100, 1), LockResult::Refused);
  EXPECT_TRUE(r2.IsLocked(103, 1));
  EXPECT_EQ(w.Lock(200, 1), LockResult::Granted);
  EXPECT_EQ(r1.Lock(200, 1), LockResult::Refused);
  EXPECT_TRUE(r1.IsLocked(200, 1));
  EXPECT_TRUE(r1.Unlock(100, 4));
  EXPECT_EQ(r2.Lock(102, 1), LockResult::Granted);
}

TEST_F(FileTest, LocksAcrossForkedProcesses) {
  File a;
  ASSERT_EQ(a.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  ASSERT_EQ(a.Lock(50, 1), LockResult::Granted);

  // A child with its own handle is refused; the handle it inherited shares the parent's locks.
  EXPECT_EQ(InChild([&] {
              File own;
              if (own.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone) != 0) return 1;
              if (own.Lock(50, 1) != LockResult::Refused) return 2;
              if (!own.IsLocked(50, 1)) return 3;
              if (!a.IsLocked(50, 1)) return 4;
              // Closing the inherited descriptor leaves the shared description and its locks.
              ::close(a.Descriptor());
              if (own.Lock(50, 1) != LockResult::Refused) return 5;
              if (own.Lock(51, 1) != LockResult::Granted) return 6;
              return 0;
            }),
            0);
  // The child's own lock went with its process; the parent's stays.
  File b;
  ASSERT_EQ(b.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  EXPECT_EQ(b.Lock(51, 1), LockResult::Granted);
  EXPECT_EQ(b.Lock(50, 1), LockResult::Refused);

  // A lock held by a child refuses the parent until the child ends.
  int to_parent[2], to_child[2];
  ASSERT_EQ(::pipe(to_parent), 0);
  ASSERT_EQ(::pipe(to_child), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    File own;
    char c = own.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone) == 0 && own.Lock(70, 2) == LockResult::Granted
                 ? 'y'
                 : 'n';
    (void)!::write(to_parent[1], &c, 1);
    (void)!::read(to_child[0], &c, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(to_parent[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(a.Lock(71, 1), LockResult::Refused);
  EXPECT_TRUE(a.IsLocked(70, 1));
  (void)!::write(to_child[1], &c, 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(a.Lock(71, 1), LockResult::Granted);
  for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) ::close(fd);
}

// Whether a second open succeeds, by the sharing rules of the platform the engine was written
// for: each opener's share mode must allow the other's access.
bool Allows(FileShare share, FileAccess access) {
  switch (share) {
    case FileShare::Exclusive:
      return false;
    case FileShare::DenyNone:
      return true;
    case FileShare::DenyWrite:
      return access == FileAccess::ReadOnly;
    case FileShare::DenyRead:
      return false;  // every access here reads
  }
  return false;
}

TEST_F(FileTest, ShareModesAsTheEngineExpects) {
  const FileAccess accesses[] = {FileAccess::ReadOnly, FileAccess::ReadWrite};
  const FileShare shares[] = {FileShare::Exclusive, FileShare::DenyNone, FileShare::DenyWrite, FileShare::DenyRead};
  for (FileAccess a1 : accesses)
    for (FileShare s1 : shares)
      for (FileAccess a2 : accesses)
        for (FileShare s2 : shares) {
          File first, second;
          ASSERT_EQ(first.Open(path_, a1, s1), 0);
          const bool expected = Allows(s1, a2) && Allows(s2, a1);
          const int error = second.Open(path_, a2, s2);
          EXPECT_EQ(error == 0, expected) << int(a1) << int(s1) << " then " << int(a2) << int(s2);
          if (!expected) {
            EXPECT_EQ(error, EBUSY);
            EXPECT_FALSE(second.IsOpen());
          }
        }
  // The same rules hold against another process.
  File exclusive;
  ASSERT_EQ(exclusive.Open(path_, FileAccess::ReadWrite, FileShare::Exclusive), 0);
  EXPECT_EQ(InChild([&] {
              File f;
              return f.Open(path_, FileAccess::ReadOnly, FileShare::DenyNone);
            }),
            EBUSY);
  exclusive.Close();
  File reader;
  ASSERT_EQ(reader.Open(path_, FileAccess::ReadOnly, FileShare::DenyWrite), 0);
  EXPECT_EQ(InChild([&] {
              File f, g;
              if (f.Open(path_, FileAccess::ReadOnly, FileShare::DenyNone) != 0) return 1;
              return g.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone) == EBUSY ? 0 : 2;
            }),
            0);
}

TEST_F(FileTest, DeleteRenameAndCreateOverWaitForOtherUsers) {
  File user;
  ASSERT_EQ(user.Open(path_, FileAccess::ReadOnly, FileShare::DenyNone), 0);
  EXPECT_EQ(DeleteFile(path_), EBUSY);
  EXPECT_EQ(RenameFile(path_, dir_ + "/moved.bin"), EBUSY);
  File creator;
  EXPECT_EQ(creator.Create(path_), EBUSY);
  EXPECT_FALSE(creator.IsOpen());
  int64_t size = 0;
  ASSERT_EQ(user.GetSize(size), 0);
  EXPECT_EQ(size, 1000);  // nothing was emptied under the reader

  // The same from another process.
  EXPECT_EQ(InChild([&] { return DeleteFile(path_); }), EBUSY);
  user.Close();

  std::ofstream(dir_ + "/other.bin") << "other";
  EXPECT_EQ(RenameFile(path_, dir_ + "/other.bin"), EEXIST);
  EXPECT_EQ(RenameFile(path_, dir_ + "/moved.bin"), 0);
  EXPECT_FALSE(FileExists(path_));
  EXPECT_TRUE(FileExists(dir_ + "/moved.bin"));
  EXPECT_EQ(DeleteFile(dir_ + "/moved.bin"), 0);
  EXPECT_EQ(DeleteFile(dir_ + "/moved.bin"), ENOENT);
}

TEST_F(FileTest, ReplaceWaitsUntilNeitherFileIsInUse) {
  const std::string copy = dir_ + "/copy.bin";
  std::ofstream(copy) << "new";
  for (const std::string& busy : {path_, copy}) {
    File user;
    ASSERT_EQ(user.Open(busy, FileAccess::ReadOnly, FileShare::DenyNone), 0);
    EXPECT_EQ(ReplaceFile(copy, path_), EBUSY);
    EXPECT_EQ(InChild([&] { return ReplaceFile(copy, path_); }), EBUSY);
    EXPECT_EQ(FileLength(path_), 1000);
    EXPECT_TRUE(FileExists(copy));
  }
  EXPECT_EQ(ReplaceFile(copy, path_), 0);
  EXPECT_EQ(FileLength(path_), 3);
  EXPECT_FALSE(FileExists(copy));
  EXPECT_EQ(ReplaceFile(copy, path_), ENOENT);
}

TEST_F(FileTest, CreateReplacesAReadOnlyFileInPlace) {
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  EXPECT_TRUE(IsReadOnlyFile(path_));
  File f;
  ASSERT_EQ(f.Create(path_), 0);
  int64_t size = -1;
  ASSERT_EQ(f.GetSize(size), 0);
  EXPECT_EQ(size, 0);
  EXPECT_FALSE(IsReadOnlyFile(path_));
  // A created file is exclusive.
  File other;
  EXPECT_EQ(other.Open(path_, FileAccess::ReadOnly, FileShare::DenyNone), EBUSY);
  File fresh;
  ASSERT_EQ(fresh.Create(dir_ + "/new.bin"), 0);
  EXPECT_TRUE(FileExists(dir_ + "/new.bin"));
}

TEST_F(FileTest, ReopenTakesTheRegisteredLocksAgain) {
  File a, b;
  ASSERT_EQ(a.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  ASSERT_EQ(b.Open(path_, FileAccess::ReadWrite, FileShare::DenyNone), 0);
  ASSERT_EQ(a.Lock(1, 1), LockResult::Granted);
  ASSERT_EQ(a.Lock(3, 2), LockResult::Granted);
  ASSERT_EQ(a.Reopen(), 0);
  EXPECT_EQ(b.Lock(1, 1), LockResult::Refused);
  EXPECT_EQ(b.Lock(4, 1), LockResult::Refused);

  // A lock lost with the old handle and taken by someone else meanwhile is reported and dropped.
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 1;
  fl.l_len = 1;
  ASSERT_EQ(::fcntl(a.Descriptor(), F_OFD_SETLK, &fl), 0);
  ASSERT_EQ(b.Lock(1, 1), LockResult::Granted);
  EXPECT_EQ(a.Reopen(), EAGAIN);
  EXPECT_FALSE(a.HoldsLock(1, 1));
  EXPECT_TRUE(a.HoldsLock(3, 2));
  EXPECT_EQ(b.Lock(3, 1), LockResult::Refused);
}

TEST_F(FileTest, TransfersReportShortCounts) {
  File f;
  ASSERT_EQ(f.Open(path_, FileAccess::ReadWrite, FileShare::Exclusive), 0);
  std::string buffer(64, '\0');
  IoResult r = f.ReadAt(buffer.data(), 64, 980);
  EXPECT_EQ(r.count, 20u);
  EXPECT_EQ(r.error, 0);
  EXPECT_FALSE(r.Complete(64));
  r = f.WriteAt("abc", 3, 2000);
  EXPECT_TRUE(r.Complete(3));
  int64_t size = 0;
  ASSERT_EQ(f.GetSize(size), 0);
  EXPECT_EQ(size, 2003);
  ASSERT_EQ(f.Allocate(2003, 4096), 0);
  ASSERT_EQ(f.GetSize(size), 0);
  EXPECT_EQ(size, 6099);
  ASSERT_EQ(f.SetSize(10), 0);
  ASSERT_EQ(f.Sync(), 0);
  r = f.ReadAt(buffer.data(), 64, 0);
  EXPECT_EQ(r.count, 10u);

  File ro;
  f.Close();
  ASSERT_EQ(ro.Open(path_, FileAccess::ReadOnly, FileShare::DenyNone), 0);
  r = ro.WriteAt("x", 1, 0);
  EXPECT_EQ(r.error, EBADF);
}

TEST_F(FileTest, FaultInjectionFailsTheChosenCall) {
  auto plan = std::make_shared<FaultPlan>();
  plan->fail_write = 2;
  plan->short_write = true;
  auto f = FaultInjectingFactory(plan)(path_);
  ASSERT_EQ(f->Open(path_, FileAccess::ReadWrite, FileShare::Exclusive), 0);
  EXPECT_TRUE(f->WriteAt("0123", 4, 0).Complete(4));
  const IoResult second = f->WriteAt("abcd", 4, 0);
  EXPECT_EQ(second.count, 2u);
  EXPECT_EQ(second.error, 0);
  EXPECT_TRUE(f->WriteAt("wxyz", 4, 8).Complete(4));  // not sticky: later writes work
  char got[4];
  f->ReadAt(got, 4, 0);
  EXPECT_EQ(std::string(got, 4), "ab23");
  EXPECT_EQ(plan->reads, 1);
  EXPECT_EQ(plan->writes, 3);

  plan->ResetCounters();
  plan->tripped = false;
  plan->fail_write = 0;
  plan->fail_sync = 1;
  plan->sticky = true;
  EXPECT_EQ(f->Sync(), EIO);
  EXPECT_EQ(f->WriteAt("z", 1, 0).error, EIO);
  EXPECT_EQ(f->SetSize(0), EIO);
  EXPECT_EQ(f->Allocate(0, 10), EIO);

  plan->disconnects = 1;
  EXPECT_TRUE(f->IsDisconnected());
  EXPECT_FALSE(f->IsDisconnected());
}

TEST_F(FileTest, TemporaryFilesLeaveNoName) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", dir_.c_str(), 1);
  File t;
  const int error = t.CreateTemporary();
  if (old)
    ::setenv("TMPDIR", saved.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_EQ(error, 0);
  EXPECT_EQ(std::filesystem::path(t.Path()).filename().string().rfind("ORV", 0), 0u);
  EXPECT_EQ(std::filesystem::path(t.Path()).parent_path(), std::filesystem::path(dir_));
  EXPECT_FALSE(std::filesystem::exists(t.Path()));
  EXPECT_TRUE(t.WriteAt("data", 4, 0).Complete(4));
  char got[4];
  EXPECT_TRUE(t.ReadAt(got, 4, 0).Complete(4));
}

}  // namespace
}  // namespace platform
