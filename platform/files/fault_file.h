#pragma once
// A File that fails on request, for the tests of everything that must survive a failing disk:
// the n-th write, sync or space allocation fails (optionally storing only part of a write), and
// from then on, when the plan says so, every change fails as if the process had died there.
// One plan may serve several files (a database and its journal), so that "the n-th write"
// counts across all of them in the order they happen.
#include <cerrno>
#include <cstdint>
#include <memory>

#include "platform/files/file.h"

namespace platform {

struct FaultPlan {
  // 1-based numbers of the call that fails; 0: none fails.
  int64_t fail_write = 0;
  int64_t fail_sync = 0;
  int64_t fail_allocate = 0;
  // How many calls in a row fail from that number on (a caller that retries once needs two).
  int64_t fail_count = 1;
  // The failing write stores the first half of its bytes and reports that count with no error
  // (a full disk, as the system reports it).
  bool short_write = false;
  // After the first fault every write, sync, size change and allocation fails: nothing more
  // reaches the file, as when the process is killed at that point.
  bool sticky = false;
  int error = EIO;
  // The next this many connection tests report the handle as lost.
  int disconnects = 0;

  // Counters (read them, or reset them between phases of a test).
  int64_t writes = 0;
  int64_t syncs = 0;
  int64_t reads = 0;
  int64_t allocates = 0;
  bool tripped = false;

  void ResetCounters() { writes = syncs = reads = allocates = 0; }
};

class FaultInjectingFile : public File {
 public:
  explicit FaultInjectingFile(std::shared_ptr<FaultPlan> plan) : plan_(std::move(plan)) {}

  IoResult ReadAt(void* buffer, size_t count, int64_t position) override;
  IoResult WriteAt(const void* buffer, size_t count, int64_t position) override;
  int SetSize(int64_t size) override;
  int Allocate(int64_t offset, int64_t length) override;
  int Sync() override;
  bool IsDisconnected() override;

  FaultPlan& Plan() { return *plan_; }

 private:
  bool Dead() const { return plan_->sticky && plan_->tripped; }
  bool Hits(int64_t n, int64_t first) const { return first > 0 && n >= first && n < first + plan_->fail_count; }

  std::shared_ptr<FaultPlan> plan_;
};

// A factory whose files all follow one plan.
FileFactory FaultInjectingFactory(std::shared_ptr<FaultPlan> plan);

}  // namespace platform
