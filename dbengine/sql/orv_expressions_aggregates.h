#pragma once
// The set functions SUM, AVG, MIN, MAX, COUNT and COUNT(*). The grouping operator drives a
// node through Init, Accumulate per record of a group (or SetCountAll) and then reads its
// value, once or more often, before the next group.
#include <cstdint>
#include <memory>
#include <set>

#include "dbengine/sql/orv_expressions_nodes.h"

namespace orv {

class TORVExprNodeAggregated : public TORVExprNode {
 public:
  // COUNT(*): no child.
  explicit TORVExprNodeAggregated(TORVDataOperator Op);
  // SUM, AVG, MIN, MAX, COUNT over Node, with or without DISTINCT.
  TORVExprNodeAggregated(TORVDataOperator Op, bool distinct, TORVExprNodePtr Node);
  ~TORVExprNodeAggregated() override;

  TORVVariant& GetDataValue() override;
  bool IsAggregated() override { return true; }
  bool IsAggregatedCountAll() override { return Operator == doCOUNTALL; }
  void Init() override;
  void Accumulate() override;
  void SetCountAll(int32_t RecordCount) override { count = RecordCount; }
  TORVAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
  // Only a grouping operator evaluates aggregates.
  bool CanBeAssigned(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor, bool ForHavingClause) override;
  bool CanBeUsedInGroupBy(const std::string&) override { return true; }

  int32_t count = 0;  // values counted (AVG, COUNT) or records (COUNT(*))
  bool distinct = false;
  TORVVariant AvgSum{bftUnknown};  // the running sum of AVG, kept apart from the result

 private:
  // False for a value this group has seen before (DISTINCT): it is then not accumulated.
  bool FirstOccurrence(const TORVVariant& v);
  void AddToSum(const TORVVariant& v);

  struct ValueOrder {
    bool operator()(const std::unique_ptr<TORVVariant>& a, const std::unique_ptr<TORVVariant>& b) const;
  };
  // The distinct values of the current group, ordered the way the engine orders keys.
  std::set<std::unique_ptr<TORVVariant>, ValueOrder> FDistinctValues;
};

}  // namespace orv
