// B-tree index pages as a damaged file holds them: the input is cut into 256-byte pages,
// page 0 the root of a record-page index. Every walk (check, scans both ways, searches by
// every condition, lookups, inserts and deletes) ends with a result or the damaged-index
// error.
#include <algorithm>

#include "dbengine/storage/orv_btree_page_index.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/tests/page_store_double.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint16_t kPageSize = 256;
constexpr int32_t kSession = 1;

template <class F>
void Try(F&& f) {
  try {
    f();
  } catch (const orv::EORVException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const uint8_t choice = input.U8();
  const int32_t probe = static_cast<int32_t>(input.U32());
  orv::testing::PageStoreDouble pages(kPageSize, 0);
  int32_t count = 0;
  while (input.Left() > 0 && count < 64) {
    const auto page = input.Bytes(kPageSize);
    std::vector<uint8_t>& p = pages.store[count++];
    p.assign(kPageSize, 0);
    std::copy(page.begin(), page.end(), p.begin());
  }
  orv::TORVBTreeRecordPageIndex index(&pages);
  index.FMaxRecordsOnPage = 1 + choice % 100;
  index.OpenIndex(0);

  Try([&] { index.CheckIntegrity(kSession); });
  Try([&] {
    orv::TORVKeyPath p;
    int steps = 0;
    for (bool ok = index.GetFirstPosition(kSession, p); ok && steps < 5000; ok = index.GetNextPosition(kSession, p)) {
      index.GetPageNo(kSession, p);
      index.GetPageValue(kSession, p);
      ++steps;
    }
  });
  Try([&] {
    orv::TORVKeyPath p;
    int steps = 0;
    for (bool ok = index.GetLastPosition(kSession, p); ok && steps < 5000; ok = index.GetPriorPosition(kSession, p))
      ++steps;
  });
  Try([&] {
    orv::TORVKeyPath p;
    index.GetPosition(kSession, probe, p);
  });
  for (int op = 0; op <= 5; ++op) {
    for (bool first : {true, false}) {
      Try([&] {
        orv::TORVBTreePageRef root = index.GetIndexPage(kSession, 0);
        orv::TORVKeyPath p;
        uint8_t key[4];
        orv::StoreLE32(key, static_cast<uint32_t>(probe));
        root->FindByCondition(kSession, first, key, static_cast<orv::TORVSearchCondition>(op), p);
      });
    }
  }
  Try([&] {
    int32_t page = 0, on_page = 0;
    index.GetRecordByRecNo(kSession, probe & 0xFFFF, page, on_page);
  });
  Try([&] { index.Validate(kSession, probe & 0xFFFF); });
  Try([&] {
    int32_t page = 0;
    index.FindPageForNewRecord(kSession, page);
  });
  // Changes: inserts and deletes on a damaged tree split, merge and free its pages.
  Try([&] { index.AddRecord(kSession, probe, 1); });
  Try([&] { index.DeleteRecord(kSession, probe, 0); });
  Try([&] { index.AddRecord(kSession, probe ^ 0x55, 1 + choice % 3); });
  Try([&] { index.CheckIntegrity(kSession); });
  if (choice & 0x80) Try([&] { index.EmptyIndex(kSession); });
  return 0;
}
