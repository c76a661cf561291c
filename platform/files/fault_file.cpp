#include "platform/files/fault_file.h"

namespace platform {

IoResult FaultInjectingFile::ReadAt(void* buffer, size_t count, int64_t position) {
  ++plan_->reads;
  return File::ReadAt(buffer, count, position);
}

IoResult FaultInjectingFile::WriteAt(const void* buffer, size_t count, int64_t position) {
  const int64_t n = ++plan_->writes;
  if (Dead()) return {0, plan_->error};
  if (Hits(n, plan_->fail_write)) {
    plan_->tripped = true;
    if (plan_->short_write) {
      IoResult part = File::WriteAt(buffer, count / 2, position);
      if (part.error == 0) return {part.count, 0};
      return part;
    }
    return {0, plan_->error};
  }
  return File::WriteAt(buffer, count, position);
}

int FaultInjectingFile::SetSize(int64_t size) {
  if (Dead()) return plan_->error;
  return File::SetSize(size);
}

int FaultInjectingFile::Allocate(int64_t offset, int64_t length) {
  const int64_t n = ++plan_->allocates;
  if (Dead()) return plan_->error;
  if (Hits(n, plan_->fail_allocate)) {
    plan_->tripped = true;
    return ENOSPC;
  }
  return File::Allocate(offset, length);
}

int FaultInjectingFile::Sync() {
  const int64_t n = ++plan_->syncs;
  if (Dead()) return plan_->error;
  if (Hits(n, plan_->fail_sync)) {
    plan_->tripped = true;
    return plan_->error;
  }
  return File::Sync();
}

bool FaultInjectingFile::IsDisconnected() {
  if (plan_->disconnects > 0) {
    --plan_->disconnects;
    return true;
  }
  return File::IsDisconnected();
}

FileFactory FaultInjectingFactory(std::shared_ptr<FaultPlan> plan) {
  return [plan](const std::string&) -> std::unique_ptr<File> { return std::make_unique<FaultInjectingFile>(plan); };
}

}  // namespace platform
