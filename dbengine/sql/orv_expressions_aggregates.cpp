#include "dbengine/sql/orv_expressions_aggregates.h"

#include <stdexcept>

#include "dbengine/sql/orv_expressions_results.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

TORVExprNodeAggregated::TORVExprNodeAggregated(TORVDataOperator Op) : TORVExprNode(Op, true, false) {}

TORVExprNodeAggregated::TORVExprNodeAggregated(TORVDataOperator Op, bool distinct, TORVExprNodePtr Node)
    : TORVExprNode(Op, std::move(Node), true, false), distinct(distinct) {}

TORVExprNodeAggregated::~TORVExprNodeAggregated() = default;

bool TORVExprNodeAggregated::ValueOrder::operator()(const std::unique_ptr<TORVVariant>& a,
                                                    const std::unique_ptr<TORVVariant>& b) const {
  // DISTINCT tells values apart as SELECT DISTINCT does: case-sensitive, in the engine's order.
  return a->Compare(*b, false, false, false) == cmprLower;
}

void TORVExprNodeAggregated::Init() {
  count = 0;
  Value.SetNull(Value.DataType());
  AvgSum.Clear(bftUnknown);
  FDistinctValues.clear();
}

bool TORVExprNodeAggregated::FirstOccurrence(const TORVVariant& v) {
  auto copy = std::make_unique<TORVVariant>();
  copy->Assign(v, true);
  return FDistinctValues.insert(std::move(copy)).second;
}

void TORVExprNodeAggregated::AddToSum(const TORVVariant& v) {
  // Integers are summed in 64 bits whatever their width: SUM of integers is a large integer,
  // and a sum beyond 2^31 must not wrap.
  if (IsIntegerFieldType(v.DataType()) && (Value.IsNull() || Value.DataType() == bftSignedInt64)) {
    const int64_t add = v.GetDataAsSignedInt64();
    if (Value.IsNull()) {
      SetInt64Result(Value, add);
      return;
    }
    int64_t sum = 0;
    if (__builtin_add_overflow(Value.GetDataAsSignedInt64(), add, &sum)) throw std::overflow_error("Integer overflow");
    SetInt64Result(Value, sum);
    return;
  }
  if (Value.IsNull())
    Value.Assign(v, true);
  else
    Value.Add(v);
}

void TORVExprNodeAggregated::Accumulate() {
  if (Operator == doCOUNTALL) {
    ++count;
    return;
  }
  const TORVVariant& v = Operand(0).GetDataValue();
  switch (Operator) {
    case doSUM:
      if (v.IsNull()) return;
      if (!v.IsNumericDataType()) throw EORVException(30132, "Not numeric argument in numeric operator '%s'", {"SUM"});
      if (distinct && !FirstOccurrence(v)) return;
      AddToSum(v);
      return;
    case doAVG:
      if (v.IsNull()) return;
      if (!v.IsNumericDataType()) throw EORVException(30133, "Not numeric argument in numeric operator '%s'", {"AVG"});
      if (distinct && !FirstOccurrence(v)) return;
      if (AvgSum.IsNull()) {
        AvgSum.Assign(v, true);
        AvgSum.Cast(bftDouble);
      } else {
        AvgSum.Add(v);
      }
      ++count;
      return;
    case doMIN:
      // Texts compare without regard to case.
      if (Value.IsNull() || (!v.IsNull() && v.Compare(Value, true, true, false) == cmprLower)) Value.Assign(v, true);
      return;
    case doMAX:
      if (Value.IsNull() || (!v.IsNull() && v.Compare(Value, true, true, false) == cmprGreater)) Value.Assign(v, true);
      return;
    case doCOUNT:
      if (v.IsNull()) return;
      if (distinct && !FirstOccurrence(v)) return;
      ++count;
      return;
    default: throw EORVException(30134, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  }
}

TORVVariant& TORVExprNodeAggregated::GetDataValue() {
  switch (Operator) {
    case doAVG:
      // The sum stays as it is, so the value can be read again.
      if (count == 0 || AvgSum.IsNull()) {
        SetNullResult(Value, bftDouble);
      } else {
        Value.Assign(AvgSum, true);
        TORVVariant divisor(bftDouble);
        divisor.SetDataAsDouble(static_cast<double>(count));
        Value.Division(divisor);
      }
      break;
    case doCOUNT:
    case doCOUNTALL: SetInt32Result(Value, count); break;
    default: break;  // SUM, MIN and MAX are accumulated in Value
  }
  return Value;
}

TORVAdvancedFieldType TORVExprNodeAggregated::GetDataType() {
  if (Operator == doCOUNTALL) return aftInteger;
  if (ChildCount() == 0 || !Child(0)) return aftUnknown;  // the argument is missing
  switch (Operator) {
    case doSUM: {
      const TORVAdvancedFieldType t = Operand(0).GetDataType();
      return t == aftSingle || t == aftDouble || t == aftExtended || t == aftCurrency ? t : aftLargeint;
    }
    case doAVG: return aftDouble;
    case doCOUNT: return aftInteger;
    case doMIN:
    case doMAX: return Operand(0).GetDataType();
    default: return aftUnknown;
  }
}

int32_t TORVExprNodeAggregated::GetDataSize() {
  if ((Operator == doMIN || Operator == doMAX) && ChildCount() > 0) return Operand(0).GetDataSize();
  return TORVExprNode::GetDataSize();
}

bool TORVExprNodeAggregated::CanBeAssigned(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor,
                                           bool /*ForHavingClause*/) {
  if (!AO || !AO->IsAOGroupBy()) return false;
  return TORVExprNode::CanBeAssigned(AO, ParentQueryAO, ParentCursor, false);
}

}  // namespace orv
