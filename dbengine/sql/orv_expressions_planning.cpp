// Scan planning and filter push-down: the parts of a condition that are better used elsewhere
// than record by record. Comparisons of a column with a constant and IS [NOT] NULL become
// index scan conditions of the storage core's record search (taken out of the expression while
// the scan runs and given back afterwards); conjuncts that one relational operator can
// evaluate alone move into its filter; equalities of columns of two operators become the
// column pairs of a merge join.
//
// An index condition stands for its node only where the index finds exactly the rows the
// comparison accepts. Where it would not (a constant the column cannot hold as it is, a
// three-valued comparison whose range reaches the NULL keys), either no index serves the node
// or the node stays in the expression and is tested on every record of the range.
#include <cmath>

#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_relational_algebra.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

// The first-column rules every node kind shares: the index has the column, it names Field, and
// a temporary index serves only the session that made it.
bool IndexColumnServes(const TORVIndexDef* IndexDef, int32_t IndexColumnNo, const TORVExprNodeField& Field,
                       int32_t SessionID) {
  if (!IndexDef || IndexColumnNo < 0 || IndexColumnNo >= IndexDef->ColumnCount()) return false;
  if (!SameName(IndexDef->Columns(IndexColumnNo).FieldName, Field.FFieldName)) return false;
  if (IndexColumnNo == 0 && IndexDef->Temporary && IndexDef->SessionID != SessionID) return false;
  // The key buffer is laid out as the field's cursor lays out its records.
  return Field.LCursor != nullptr && Field.FFieldNo >= 0;
}

// Whether Value, written into the column's key field, is still the value the comparison
// compares with. A value of another kind, a fraction for an integer column, a date-time for a
// date column or a text longer than the column would be converted or cut on the way in, and
// the index would then find other rows than the comparison accepts. A NULL constant makes a
// three-valued comparison unknown for every row, while the index would find the NULL keys.
bool KeyValueFits(const TORVVariant& Value, const TORVExprNodeField& Field, bool ThreeValued) {
  if (Value.IsNull()) return !ThreeValued;
  const TORVBaseFieldType ft = Field.FBaseFieldType;
  const TORVBaseFieldType vt = Value.DataType();
  const bool same_kind = (IsNumericFieldType(ft) && IsNumericFieldType(vt)) ||
                         (IsStringFieldType(ft) && IsStringFieldType(vt)) ||
                         (IsDateTimeFieldType(ft) && IsDateTimeFieldType(vt)) || ft == vt;
  if (!same_kind) return false;
  if (IsStringFieldType(ft)) {
    // The field's memory size holds the terminator; counted in characters, so that an 8-bit
    // text is measured against a wide column by what the column can hold.
    const int32_t capacity = Field.FFieldSize / (IsWideStringFieldType(ft) ? 2 : 1) - 1;
    if (Value.StrLen() > capacity) return false;
  }
  if (IsIntegerFieldType(ft) && IsFloatFieldType(vt)) {
    const double d = Value.GetDataAsDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) >= 9.0e18) return false;
  }
  try {
    TORVVariant converted;
    converted.Assign(Value, true);
    converted.Cast(ft);
    return converted.Compare(Value, false, false, false) == cmprEqual;
  } catch (const EORVException&) {
    return false;
  }
}

// The scan condition an operator gives on an index whose first column is ascending or
// descending; scNone for an operator no index serves.
TORVSearchCondition ConditionOf(TORVDataOperator Operator, bool Descending) {
  switch (Operator) {
    case doEQ: return scEqual;
    case doGT: return Descending ? scLower : scGreater;
    case doLT: return Descending ? scGreater : scLower;
    case doGE: return Descending ? scLowerEqual : scGreaterEqual;
    case doLE: return Descending ? scGreaterEqual : scLowerEqual;
    default: return scNone;
  }
}

// NULL is the least key, so it sorts first in an ascending and last in a descending index: a
// range that is open towards it holds the NULL keys.
bool ReachesNullKeys(TORVSearchCondition Condition, bool Descending) {
  if (Descending) return Condition == scGreater || Condition == scGreaterEqual;
  return Condition == scLower || Condition == scLowerEqual;
}

// A new condition on IndexDef for Field, its key buffer from Field's cursor.
void InitScanCondition(TORVScanSearchCondition& Condition, const TORVExprNodeField& Field,
                       const TORVIndexDef* IndexDef) {
  Condition.KeyRecordBuffer = Field.LCursor->AllocateRecordBuffer();
  Condition.KeyRecordBufferSize = Field.LCursor->FRecordBufferSize;
  Condition.KeyFieldCount = 0;
  Condition.IndexID = IndexDef->ObjectID;
  Condition.Expression = nullptr;
  Condition.CreatedFromExpression = true;
}

}  // namespace

// ---- The base operation -------------------------------------------------------------------------

void TORVExprNode::FillScanCondition(TORVVariant& Value, TORVCursor* Cursor, int32_t, int32_t FieldNo,
                                     const TORVIndexDef*, TORVExpression* Expression,
                                     TORVScanSearchCondition& ScanCondition) {
  Cursor->SetFieldValue(Value, FieldNo, true, ScanCondition.KeyRecordBuffer);
  ++ScanCondition.KeyFieldCount;
  if (!Expression) return;
  ScanCondition.ParentExpressions.push_back(Expression);
  ScanCondition.ParentExpressionNodes.push_back(this);
}

// ---- Comparisons --------------------------------------------------------------------------------

bool TORVExprNodeComparison::CanUseIndex(int32_t IndexColumnNo, TORVSearchCondition ConditionSearchOperator,
                                         const TORVIndexDef* IndexDef, int32_t SessionID) {
  if (FQuantifier != qUNDEFINED) return false;
  TORVExprNodeField* field = nullptr;
  TORVExprNode* constant = nullptr;
  GetFieldAndConstNodes(field, constant);
  if (!field || !constant) return false;
  if (!IndexColumnServes(IndexDef, IndexColumnNo, *field, SessionID)) return false;
  if (IsBLOBFieldType(field->FBaseFieldType)) return false;
  const bool text = IsStringFieldType(field->FBaseFieldType);
  if (text && IndexDef->Columns(IndexColumnNo).CaseInsensitive != FCaseInsensitive) return false;
  if (FPartialKey) return false;
  if (Operator != doEQ && Operator != doGT && Operator != doLT && Operator != doGE && Operator != doLE) return false;
  if (IndexColumnNo > 0 && (ConditionSearchOperator != scEqual || Operator != doEQ)) return false;
  try {
    return KeyValueFits(constant->GetDataValue(), *field, F3ValueLogic);
  } catch (const EORVException&) {
    return false;  // an outer-query column not readable yet: no index this time
  }
}

void TORVExprNodeComparison::AddAsIndexScanCondition(TORVScanSearchConditionArray& ScanConditions,
                                                     const TORVIndexDef* IndexDef, TORVExpression* Expression) {
  TORVExprNodeField* field = nullptr;
  TORVExprNode* constant = nullptr;
  GetFieldAndConstNodes(field, constant);
  if (!field || !constant) throw EORVException(20055, "Pointer is nil");
  if (!field->LCursor) throw EORVException(20054, "Pointer is nil");
  if (!IndexDef || IndexDef->ColumnCount() == 0) throw EORVException(20057, "Invalid index for search");
  // 5 < X is X > 5: the operator is read from the column's side.
  const bool field_second = CanUseNodeAsField(Child(1)) && GetFieldNode(Child(1)) == field;
  const TORVDataOperator op = field_second ? ReverseComparisonOperator(Operator) : Operator;
  const bool descending = IndexDef->Columns(0).Descending;
  TORVScanSearchCondition condition(false);
  condition.Condition = ConditionOf(op, descending);
  InitScanCondition(condition, *field, IndexDef);
  condition.PartialCompare = FPartialKey;
  // A three-valued comparison is unknown for a NULL column, which a range reaching the NULL
  // keys holds: the node stays in its expression and removes them.
  TORVExpression* owner = F3ValueLogic && ReachesNullKeys(condition.Condition, descending) ? nullptr : Expression;
  // Writing into the key converts the value in place: the constant itself stays as it is.
  TORVVariant key;
  key.Assign(constant->GetDataValue(), true);
  FillScanCondition(key, field->LCursor, 0, field->FFieldNo, IndexDef, owner, condition);
  ScanConditions.AddCondition(condition);
}

void TORVExprNodeComparison::ExtendIndexScanCondition(TORVScanSearchCondition& ScanCondition,
                                                      const TORVIndexDef* IndexDef, TORVExpression* Expression) {
  TORVExprNodeField* field = nullptr;
  TORVExprNode* constant = nullptr;
  GetFieldAndConstNodes(field, constant);
  if (!field || !constant || !field->LCursor) return;
  TORVVariant key;
  key.Assign(constant->GetDataValue(), true);
  FillScanCondition(key, field->LCursor, ScanCondition.KeyFieldCount, field->FFieldNo, IndexDef,
                    Expression, ScanCondition);
}

bool TORVExprNodeComparison::IsJoinCondition(IORVAO* AO1, IORVAO* AO2) {
  if (Operator != doEQ || FQuantifier != qUNDEFINED || ChildCount() != 2) return false;
  auto* first = dynamic_cast<TORVExprNodeField*>(Child(0));
  auto* second = dynamic_cast<TORVExprNodeField*>(Child(1));
  if (!first || !second || first->FGetFromParent || second->FGetFromParent) return false;
  // Where each operand is found: 1 in AO1, 2 in AO2, 0 nowhere.
  const auto side = [&](TORVExprNodeField& f, int32_t AmbiguousCode) {
    int32_t where = 0;
    int32_t found = 0;
    for (int32_t i = 0; i < 2; ++i) {
      IORVAO* ao = i == 0 ? AO1 : AO2;
      if (!ao) continue;
      TORVIntegerArray numbers(0, 100, 10);
      const int32_t n = ao->FieldExists(f.FFieldName, f.FTableName, true, &numbers, false, false);
      if (n > 0) where = i + 1;
      found += n;
    }
    if (found > 1) throw EORVException(AmbiguousCode, "Ambiguous field reference to '%s'", {f.FFieldName});
    return found == 1 ? where : 0;
  };
  const int32_t a = side(*first, 10404);
  const int32_t b = side(*second, 10405);
  return a != 0 && b != 0 && a != b;
}

// ---- IS NULL and IS NOT NULL --------------------------------------------------------------------

namespace {

// The column an IS [NOT] NULL tests (inside UPPER or LOWER when wrapped), nil for another node.
TORVExprNodeField* NullTestField(TORVExprNode& Node) {
  if ((Node.Operator != doISNULL && Node.Operator != doISNOTNULL) || !CanUseNodeAsField(Node.Child(0)))
    return nullptr;
  return TORVExprNodeComparison::GetFieldNode(Node.Child(0));
}

}  // namespace

bool TORVExprNodeBoolean::CanUseIndex(int32_t IndexColumnNo, TORVSearchCondition ConditionSearchOperator,
                                      const TORVIndexDef* IndexDef, int32_t SessionID) {
  TORVExprNodeField* field = NullTestField(*this);
  if (!field || !IndexColumnServes(IndexDef, IndexColumnNo, *field, SessionID)) return false;
  return IndexColumnNo == 0 || (ConditionSearchOperator == scEqual && Operator == doISNULL);
}

void TORVExprNodeBoolean::AddAsIndexScanCondition(TORVScanSearchConditionArray& ScanConditions,
                                                  const TORVIndexDef* IndexDef, TORVExpression* Expression) {
  TORVExprNodeField* field = NullTestField(*this);
  if (!field || !field->LCursor) throw EORVException(20254, "Pointer is nil");
  if (!IndexDef || IndexDef->ColumnCount() == 0) throw EORVException(20255, "Invalid index for search");
  TORVScanSearchCondition condition(false);
  // NULL is the least key: IS NOT NULL is everything above it.
  condition.Condition = Operator == doISNULL ? scEqual : (IndexDef->Columns(0).Descending ? scLower : scGreater);
  InitScanCondition(condition, *field, IndexDef);
  TORVVariant null_value;
  FillScanCondition(null_value, field->LCursor, 0, field->FFieldNo, IndexDef, Expression, condition);
  ScanConditions.AddCondition(condition);
}

void TORVExprNodeBoolean::ExtendIndexScanCondition(TORVScanSearchCondition& ScanCondition,
                                                   const TORVIndexDef* IndexDef, TORVExpression* Expression) {
  TORVExprNodeField* field = NullTestField(*this);
  if (!field || !field->LCursor || Operator != doISNULL) return;
  TORVVariant null_value;
  FillScanCondition(null_value, field->LCursor, ScanCondition.KeyFieldCount, field->FFieldNo, IndexDef, Expression,
                    ScanCondition);
}

// ---- The expression's moves ---------------------------------------------------------------------

void TORVExpression::ApplyFilterParts(TORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor, bool AllowRecurse,
                                      bool ForHavingClause) {
  if (!AO) return;
  // Below an outer join a condition would remove rows before the join pads them with NULLs.
  if (AllowRecurse && !AO->IsOuterJoin()) {
    if (AO->LeftAO()) ApplyFilterParts(AO->LeftAO(), ParentQueryAO, ParentCursor, AllowRecurse, ForHavingClause);
    if (AO->RightAO()) ApplyFilterParts(AO->RightAO(), ParentQueryAO, ParentCursor, AllowRecurse, ForHavingClause);
  }
  if (!FRootExprNode) return;
  const auto assignable = [&](TORVExprNode* Node) {
    return Node && Node->CanBeAssigned(AO, ParentQueryAO, ParentCursor, ForHavingClause);
  };
  TORVExprNodePtr taken;
  if (IsAndNode(FRootExprNode.get())) {
    std::vector<TORVExprNodePtr>& children = FRootExprNode->Children;
    for (size_t i = 0; i < children.size();) {
      if (!assignable(children[i].get())) {
        ++i;
        continue;
      }
      TORVExprNodePtr child = std::move(children[i]);
      children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
      if (!taken)
        taken = std::move(child);
      else if (IsAndNode(taken.get()))
        taken->AddChild(std::move(child));
      else
        taken = std::make_unique<TORVExprNodeBoolean>(doAND, std::move(taken), std::move(child), true, false);
    }
    if (children.empty()) FRootExprNode.reset();
  } else if (assignable(FRootExprNode.get())) {
    taken = std::move(FRootExprNode);
  }
  if (taken) AO->SetFilter(std::make_unique<TORVExpression>(std::move(taken)));
}

int32_t TORVExpression::ExtractJoinConditions(TORVAO* AO1, TORVAO* AO2, TORVFields& FieldList1,
                                              TORVFields& FieldList2) {
  if (!FRootExprNode) return 0;
  const auto append_pair = [&](TORVExprNode& Comparison) {
    TORVSelectListItem item1, item2;
    static_cast<TORVExprNodeField*>(Comparison.Child(0))->FillItem(item1);
    static_cast<TORVExprNodeField*>(Comparison.Child(1))->FillItem(item2);
    FieldList1.Append(item1);
    FieldList2.Append(item2);
  };
  int32_t pairs = 0;
  if (IsAndNode(FRootExprNode.get())) {
    std::vector<TORVExprNodePtr>& children = FRootExprNode->Children;
    for (size_t i = 0; i < children.size();) {
      if (!children[i] || !children[i]->IsJoinCondition(AO1, AO2)) {
        ++i;
        continue;
      }
      append_pair(*children[i]);
      children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
      ++pairs;
    }
    if (children.empty()) FRootExprNode.reset();
  } else if (FRootExprNode->Operator == doEQ && FRootExprNode->IsJoinCondition(AO1, AO2)) {
    append_pair(*FRootExprNode);
    FRootExprNode.reset();
    pairs = 1;
  }
  return pairs;
}

}  // namespace orv
