#pragma once
// A page manager over pages kept in a map: the stand-in for the storage kinds (memory,
// temporary and disk page managers) in the tests of the page cache and the B-trees. It
// logs reads, writes and freed numbers and can be told to fail reading a page.
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "dbengine/storage/orv_page.h"

namespace orv::testing {

class PageStoreDouble : public TORVPageManager {
 public:
  PageStoreDouble(uint16_t page_size, uint16_t header_size, TORVMemoryManager& memory = MemoryManager())
      : TORVPageManager(memory) {
    SetPageGeometry(page_size, header_size);
  }
  ~PageStoreDouble() override = default;

  void InternalAddPage(TORVPage& Page) override {
    int32_t no = next_;
    if (!free_.empty()) {
      no = *free_.begin();
      free_.erase(free_.begin());
    } else {
      ++next_;
    }
    allocated_.insert(no);
    Page.FPageNo = no;
    Page.AllocPageBuffer();
    ++FPageCount;
  }
  void InternalRemovePage(int32_t PageNo) override {
    removed.push_back(PageNo);
    store.erase(PageNo);
    allocated_.erase(PageNo);
    free_.insert(PageNo);
    --FPageCount;
  }
  bool InternalReadPage(TORVPage& Page) override {
    ++reads;
    auto it = store.find(Page.FPageNo);
    if (it == store.end() || fail_reads.count(Page.FPageNo)) return false;
    if (!Page.FPageBuffer) Page.AllocPageBuffer();
    std::memcpy(Page.FPageBuffer, it->second.data(), PageSize());
    return true;
  }
  void InternalWritePage(TORVPage& Page) override {
    writes.push_back(Page.FPageNo);
    store[Page.FPageNo].assign(Page.FPageBuffer, Page.FPageBuffer + PageSize());
  }

  bool IsAllocated(int32_t no) const { return allocated_.count(no) != 0; }
  size_t AllocatedCount() const { return allocated_.size(); }

  std::map<int32_t, std::vector<uint8_t>> store;
  std::vector<int32_t> writes;
  std::vector<int32_t> removed;
  std::set<int32_t> fail_reads;
  int reads = 0;

 private:
  int32_t next_ = 0;
  std::set<int32_t> free_;
  std::set<int32_t> allocated_;
};

}  // namespace orv::testing
