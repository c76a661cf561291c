#pragma once
// The memory kind with a scan plan a test can steer: with force_index_scans every index range
// costs nothing and a full scan more than any range, so the record search walks an index
// whenever it has a condition for one; with fixed costs both costs are what the test says.
// Everything else is the memory kind's.
#include <memory>
#include <optional>

#include "dbengine/storage/orv_mem_engine.h"

namespace orv::testing {

class PlannedMemoryTable : public TORVMemoryTableData {
 public:
  using TORVMemoryTableData::TORVMemoryTableData;

  double GetIndexScanCost(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions, int32_t StartNo,
                          int32_t EndNo) override {
    if (preferred_index) return Conditions[StartNo].IndexID == *preferred_index ? 0 : 1;
    if (index_cost) return *index_cost;
    return TORVMemoryTableData::GetIndexScanCost(Cursor, Conditions, StartNo, EndNo);
  }
  double GetUnconditionalScanCost(TORVCursor* Cursor, bool Restart, bool GoForward) override {
    if (full_scan_cost) return *full_scan_cost;
    return TORVMemoryTableData::GetUnconditionalScanCost(Cursor, Restart, GoForward);
  }
  void ForceIndexScans() {
    index_cost = 0;
    full_scan_cost = 1e300;
  }

  std::optional<double> index_cost;
  // Ranges of this index cost nothing, those of others a little.
  std::optional<int32_t> preferred_index;
  std::optional<double> full_scan_cost;
};

class PlannedMemoryDatabase : public TORVMemoryDatabaseData {
 public:
  TORVTableData* CreateTableData(TORVCursor* Cursor) override {
    auto table = std::make_unique<PlannedMemoryTable>(this, 1000);
    table->FTableName = Cursor->FTableName;
    return AddTableData(std::move(table));
  }
};

}  // namespace orv::testing
