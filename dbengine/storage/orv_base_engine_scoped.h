#pragma once
// Scoped helpers of the table layer: each releases what it holds also when an exception
// passes, so that a failed search or record change leaves no buffer, position or cursor
// state behind.
#include <algorithm>
#include <cstdint>

#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_index.h"
#include "dbengine/storage/orv_memory.h"

namespace orv::detail {

// A zero-filled buffer of the engine's memory manager.
class ScratchBuffer {
 public:
  explicit ScratchBuffer(int64_t size) : p_(MemoryManager().AllocMem(std::max<int64_t>(size, 1))) {}
  ~ScratchBuffer() { MemoryManager().FreeMem(p_); }
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;
  void* get() const { return p_; }

 private:
  void* p_;
};

// A saved cursor position, put back (unless told to keep the new one) and freed.
class SavedPosition {
 public:
  explicit SavedPosition(TORVCursor* cursor) : cursor_(cursor), pos_(cursor ? cursor->SavePosition() : nullptr) {}
  ~SavedPosition() {
    if (!cursor_) return;
    if (restore_) cursor_->RestorePosition(pos_);
    cursor_->FreePosition(pos_);
  }
  SavedPosition(const SavedPosition&) = delete;
  SavedPosition& operator=(const SavedPosition&) = delete;
  void Restore() const {
    if (cursor_) cursor_->RestorePosition(pos_);
  }
  void KeepNewPosition() { restore_ = false; }

 private:
  TORVCursor* cursor_;
  TORVCursorPos* pos_;
  bool restore_ = true;
};

// An index position of one index.
class IndexPosition {
 public:
  explicit IndexPosition(TORVIndex& index) : index_(index), pos_(index.CreateIndexPosition()) {}
  ~IndexPosition() { index_.FreeIndexPosition(pos_); }
  IndexPosition(const IndexPosition&) = delete;
  IndexPosition& operator=(const IndexPosition&) = delete;
  TORVKeyPath& operator*() const { return *pos_; }
  TORVKeyPath* get() const { return pos_; }

 private:
  TORVIndex& index_;
  TORVKeyPath* pos_;
};

// The state of one ranged index search.
class IndexSearchInfo {
 public:
  explicit IndexSearchInfo(TORVIndex& index) : index_(index), info_(index.CreateSearchInfo()) {}
  ~IndexSearchInfo() { index_.FreeSearchInfo(info_); }
  IndexSearchInfo(const IndexSearchInfo&) = delete;
  IndexSearchInfo& operator=(const IndexSearchInfo&) = delete;
  void* get() const { return info_; }

 private:
  TORVIndex& index_;
  void* info_;
};

}  // namespace orv::detail
