// Set operations, grouping, computed columns and TOP.
#include <algorithm>
#include <utility>

#include "dbengine/sql/orv_relational_algebra.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

// NULL sorts first and equals NULL.
TORVCompareResult FoldNulls(TORVCompareResult r) {
  switch (r) {
    case cmprBothNull: return cmprEqual;
    case cmprLeftNull: return cmprLower;
    case cmprRightNull: return cmprGreater;
    default: return r;
  }
}

}  // namespace

// ---- TORVAOUnion ----------------------------------------------------------------------------

TORVAOUnion::TORVAOUnion(std::unique_ptr<TORVAO> LeftChild, std::unique_ptr<TORVAO> RightChild,
                         TORVUnionType UnionType, IORVAO* ParentQueryAO, TORVCursor* ParentCursor,
                         bool IsCorresponding, bool bDistinct, const TORVFields* FieldList)
    : TORVAO(std::move(LeftChild), std::move(RightChild), "", ""), FUnionType(UnionType), FDistinct(bDistinct),
      FFields1(0, 10, 100), FFields2(0, 10, 100) {
  FIsMaterialized = false;
  FLeftAO->Execute(false, ParentQueryAO, ParentCursor);
  FRightAO->Execute(false, ParentQueryAO, ParentCursor);
  TORVAODataset& left = L();
  TORVAODataset& right = R();
  const int32_t left_count = left.FieldCount(false), right_count = right.FieldCount(false);
  std::string left_names, right_names;
  const auto add = [&](int32_t i, int32_t j) {
    const TORVFieldDef* a = left.FieldDef(i, false);
    const TORVFieldDef* b = right.FieldDef(j, false);
    const bool keep_all = FUnionType == autUnion && FDistinct;
    if (!keep_all && (!IsConvertableFieldType(a->AdvancedFieldType) || !IsConvertableFieldType(b->AdvancedFieldType)))
      return;
    TORVFieldLink link;
    link.FieldName = link.DisplayName = a->Name;
    link.FieldType = a->AdvancedFieldType;
    link.FieldSize = std::max(a->FieldSize, b->FieldSize);
    link.Dataset = &left;
    link.DirectAccess = false;
    link.FieldNo = i;
    link.BLOBCompressionAlgorithm = a->BLOBCompressionAlgorithm;
    link.BLOBCompressionMode = a->BLOBCompressionMode;
    link.BLOBBlockSize = a->BLOBBlockSize;
    FFieldLinks.push_back(std::move(link));
    FFields1.Append(i);
    FFields2.Append(j);
    left_names += (left_names.empty() ? "" : ";") + a->Name;
    right_names += (right_names.empty() ? "" : ";") + b->Name;
  };
  const auto find = [](TORVAODataset& ds, int32_t count, const std::string& name) {
    for (int32_t k = 0; k < count; ++k)
      if (SameName(ds.FieldDef(k, false)->Name, name)) return k;
    return -1;
  };
  if (!FieldList) {
    for (int32_t i = 0; i < left_count; ++i) {
      const int32_t j = IsCorresponding ? find(right, right_count, left.FieldDef(i, false)->Name)
                                        : (i < right_count ? i : -1);
      if (j >= 0) add(i, j);
    }
  } else {
    if (FieldList->ItemCount() == 0)
      throw EORVException(10337, "Empty field list, item count = %d", {FieldList->ItemCount()});
    for (const TORVSelectListItem& item : FieldList->Items) {
      const int32_t i = find(left, left_count, item.FieldName);
      const int32_t j = find(right, right_count, item.FieldName);
      if (i >= 0 && j >= 0) add(i, j);
    }
  }
  if (FFields1.ItemCount != FFields2.ItemCount)
    throw EORVException(10338, "Error - different list lengths. L1 = %d, L2 = %d",
                        {FFields1.ItemCount, FFields2.ItemCount});
  if (FFields1.ItemCount == 0) throw EORVException(10339, "Empty field list, item count = %d", {0});
  if (FDistinct || FUnionType != autUnion) {
    FLeftAO->SetIndex(left_names, "", "");
    FRightAO->SetIndex(right_names, "", "");
  }
  if (FDistinct) ApplyDistinct(left_names);
}

void TORVAOUnion::ShowLeftAO() {
  FShowLeft = true;
  for (int32_t i = 0; i < FieldCount(); ++i) {
    FFieldLinks[static_cast<size_t>(i)].Dataset = &L();
    FFieldLinks[static_cast<size_t>(i)].FieldNo = FFields1[i];
  }
}

void TORVAOUnion::ShowRightAO() {
  FShowLeft = false;
  for (int32_t i = 0; i < FieldCount(); ++i) {
    FFieldLinks[static_cast<size_t>(i)].Dataset = &R();
    FFieldLinks[static_cast<size_t>(i)].FieldNo = FFields2[i];
  }
}

void TORVAOUnion::CompareRecords() {
  FCompareResult = cmprEqual;
  for (int32_t i = 0; i < FFields1.ItemCount; ++i) {
    L().GetFieldValue(FLeftValue, FFields1[i], false);
    R().GetFieldValue(FRightValue, FFields2[i], false);
    try {
      FCompareResult = FLeftValue.Compare(FRightValue, false, false, false);
    } catch (const EORVException& e) {
      throw EORVException(10335, "Cannot compare values for fields: %s, %s. Error: %s",
                          {L().FieldDef(FFields1[i], false)->Name, R().FieldDef(FFields2[i], false)->Name,
                           std::string(e.what())});
    }
    if (FCompareResult != cmprEqual && FCompareResult != cmprBothNull) break;
  }
  FCompareResult = FoldNulls(FCompareResult);
}

void TORVAOUnion::InternalFirst() {
  FLeftAO->First();
  FRightAO->First();
  FEof = false;
  ShowLeftAO();
  if (FUnionType == autUnion && !FLeftAO->GetEof()) return;
  FFirstTimeCalled = true;
  InternalNext();
}

void TORVAOUnion::InternalNext() {
  if (InternalGetEof()) return;
  switch (FUnionType) {
    case autUnion:
      if (!FDistinct) {
        if (FShowLeft)
          FLeftAO->Next();
        else
          FRightAO->Next();
        if (FShowLeft && FLeftAO->GetEof() && !FRightAO->GetEof()) ShowRightAO();
        break;
      }
      if (FShowLeft && !FLeftAO->GetEof() && !FFirstTimeCalled) FLeftAO->Next();
      if (!FShowLeft && !FRightAO->GetEof()) FRightAO->Next();
      FFirstTimeCalled = false;
      if (FLeftAO->GetEof() || FRightAO->GetEof()) {
        if (!FLeftAO->GetEof())
          ShowLeftAO();
        else
          ShowRightAO();
        break;
      }
      CompareRecords();
      while (FCompareResult == cmprEqual) {
        // Right rows equal to the current left row are passed over.
        FRightAO->Next();
        if (FRightAO->GetEof()) break;
        CompareRecords();
      }
      if (FCompareResult == cmprLower || FRightAO->GetEof())
        ShowLeftAO();
      else
        ShowRightAO();
      break;
    case autIntersect:
      if (!FFirstTimeCalled) FLeftAO->Next();
      FFirstTimeCalled = false;
      while (!InternalGetEof()) {
        CompareRecords();
        if (FCompareResult == cmprEqual) break;
        if (FCompareResult == cmprLower) {
          FLeftAO->Next();
        } else if (FRightAO->GetEof()) {
          FEof = true;
          break;
        } else {
          FRightAO->Next();
          // Past the last right row nothing more can be equal.
          if (FRightAO->GetEof()) {
            FEof = true;
            break;
          }
        }
      }
      break;
    case autExcept:
      if (!FFirstTimeCalled) FLeftAO->Next();
      FFirstTimeCalled = false;
      while (!InternalGetEof() && !FRightAO->GetEof()) {
        CompareRecords();
        if (FCompareResult == cmprEqual) {
          FLeftAO->Next();
        } else if (FCompareResult == cmprLower) {
          break;
        } else {
          FRightAO->Next();
        }
      }
      break;
    default:
      throw EORVException(10336, "Invalid union type = %d", {static_cast<int32_t>(FUnionType)});
  }
}

bool TORVAOUnion::InternalGetEof() {
  if (FEof) return true;
  if (FUnionType == autIntersect && R().IsEmpty()) return true;
  if (FUnionType != autUnion) return FLeftAO->GetEof();
  return FLeftAO->GetEof() && FRightAO->GetEof();
}

// ---- TORVAOGroupBy --------------------------------------------------------------------------

TORVAOGroupBy::TORVAOGroupBy(std::unique_ptr<TORVAO> Child, const std::vector<TORVSelectListItem>& FieldRefs,
                             const TORVFields* FieldList)
    : TORVAO(std::move(Child), nullptr, "", ""), FAllFields(!FieldList || FieldList->ItemCount() == 0),
      FFields(0, 10, 100) {
  FIsMaterialized = false;
  FIsAOGroupBy = true;
  for (int32_t i = 0; i < FLeftAO->FieldCount(); ++i) {
    TORVFieldLink link = LinkTo(FLeftAO.get(), i, FLeftAO->Link(i));
    link.IsHidden = true;
    FFieldLinks.push_back(std::move(link));
  }
  if (FAllFields) return;
  for (int32_t i = 0; i < FieldList->ItemCount(); ++i) {
    const TORVSelectListItem& item = FieldList->Items[static_cast<size_t>(i)];
    int32_t n = FieldExists(item.FieldName, item.TableName, true, &FFields, false, false);
    if (n == 0) {
      // GROUP BY may name the alias of a plain column, never that of an aggregate.
      for (const TORVSelectListItem& ref : FieldRefs) {
        if (!SameName(ref.Pseudonym, item.FieldName)) continue;
        if (!ref.IsExpression || (ref.ValueExpr && !ref.ValueExpr->IsAggregated()))
          n = FieldExists(ref.FieldName, ref.TableName, true, &FFields, false, false);
        break;
      }
    }
    if (n <= 0)
      throw EORVException(
          20245, "Invalid field for 'GROUP BY.' Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
          {item.TableName, item.FieldName, i, n});
    if (!FGroupByFields.empty()) FGroupByFields += ';';
    FGroupByFields += FFieldLinks[static_cast<size_t>(FFields[FFields.ItemCount - 1])].FieldName;
  }
  FLeftAO->SetIndex(FGroupByFields, "", "");
}

TORVAOGroupBy::~TORVAOGroupBy() { FreeLookAhead(); }

void TORVAOGroupBy::FreeLookAhead() { FTempDataset.reset(); }

void TORVAOGroupBy::SetResultFields(std::vector<TORVSelectListItem>& FieldRefs, bool bDistinct) {
  static_cast<void>(bDistinct);  // DISTINCT is applied above a grouping, never at it
  const bool has_items = !FieldRefs.empty();
  std::vector<TORVSelectListItem> columns;
  for (const TORVSelectListItem& item : FieldRefs)
    if (!item.IsExpression && !item.AllFields) columns.push_back(item);
  TORVAO::SetResultFields(FieldRefs, false);
  if (!has_items) return;
  for (const TORVFieldLink& link : FFieldLinks) {
    if (!link.IsExpression || link.IsHidden || !link.Expr) continue;
    if (!link.Expr->CanBeUsedInGroupBy(FGroupByFields))
      throw EORVException(20269,
                          "Expression (Name=\"%s\", DisplayName=\"%s\") cannot be used with GROUP BY. Possibly "
                          "expression is not aggregate, but it uses fields not included into group fields",
                          {link.FieldName, link.DisplayName});
  }
  for (const TORVSelectListItem& item : columns) {
    TORVIntegerArray found(0, 10, 100);
    if (FieldExists(item.FieldName, item.TableName, false, &found, false, false) <= 0)
      throw EORVException(10341, "Cannot find field %s in table %s", {item.FieldName, item.TableName});
    for (int32_t k = 0; k < found.ItemCount; ++k)
      if (!FFields.IsValueExists(found[k]))
        throw EORVException(10342,
                            "Field is not included in GROUP BY list. Table name = '%s', Field name = '%s', FieldNo = "
                            "%d, Found field name = '%s'",
                            {item.TableName, item.FieldName, found[k],
                             FFieldLinks[static_cast<size_t>(found[k])].FieldName});
  }
}

void TORVAOGroupBy::PrepareInputs() {
  if (FAllFields || FTempDataset || !FLeftAO) return;
  TORVAODataset* input = FLeftAO->ResultDataset();
  try {
    FTempDataset = input->OpenSecondReader();
  } catch (const std::exception&) {
    throw EORVException(10304, "Cannot open table %s, InMemory = %d",
                        {input->TableName(), input->Cursor().FInMemory ? 1 : 0});
  }
  if (!input->IndexName().empty()) FTempDataset->SetIndexName(input->IndexName());
  // The same distinct view as the input: the look-ahead reads the same rows one ahead.
  if (input->IsDistinctApplied()) FTempDataset->ApplyDistinctOf(*input);
}

void TORVAOGroupBy::MoveInput() {
  if (FLeftAO->IsAOTable() && FLeftAO->FilterExpr() && FLeftAO->FilterExpr()->Root())
    FLeftAO->ResultDataset()->SetSQLFilter(FLeftAO->FilterExpr(), nullptr, nullptr);
}

void TORVAOGroupBy::MoveLookAhead() {
  if (FLeftAO->IsAOTable() && FLeftAO->FilterExpr() && FLeftAO->FilterExpr()->Root())
    FTempDataset->SetSQLFilter(FLeftAO->FilterExpr(), nullptr, nullptr);
}

void TORVAOGroupBy::CompareRecords() {
  FCompareResult = cmprEqual;
  for (int32_t i = 0; i < FFields.ItemCount; ++i) {
    const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(FFields[i])];
    const TORVFieldLink& input = FLeftAO->Link(link.FieldNo);
    FLeftAO->GetFieldValue(FInputValue, link.FieldNo, false, true);
    FTempDataset->GetFieldValue(FAheadValue, input.FieldNo, input.DirectAccess);
    try {
      FCompareResult = FInputValue.Compare(FAheadValue, false, false, false);
    } catch (const EORVException& e) {
      throw EORVException(10340, "Cannot compare values for fields: %s, %s. Error: %s",
                          {link.FieldName, input.FieldName, std::string(e.what())});
    }
    if (FCompareResult != cmprEqual && FCompareResult != cmprBothNull) break;
  }
  FCompareResult = FoldNulls(FCompareResult);
}

void TORVAOGroupBy::Init() {
  if (FFilterExpr && FFilterExpr->Root()) FFilterExpr->Init();
  if (!FExpressionsExists) return;
  for (TORVFieldLink& link : FFieldLinks)
    if (link.IsAggregate && link.Expr) link.Expr->Init();
}

void TORVAOGroupBy::Accumulate() {
  if (FFilterExpr && FFilterExpr->Root()) FFilterExpr->Accumulate();
  if (!FExpressionsExists) return;
  for (TORVFieldLink& link : FFieldLinks)
    if (link.IsAggregate && link.Expr) link.Expr->Accumulate();
}

bool TORVAOGroupBy::IsCountAll() {
  if (!FAllFields) return false;
  bool any = false;
  for (TORVFieldLink& link : FFieldLinks) {
    if (!link.IsAggregate || !link.Expr) continue;
    if (!link.Expr->IsAggregatedCountAll()) return false;
    any = true;
  }
  return any;
}

void TORVAOGroupBy::DoCountAll() {
  const auto count = static_cast<int32_t>(GetRecordCount());
  for (TORVFieldLink& link : FFieldLinks)
    if (link.IsAggregate && link.Expr && link.Expr->IsAggregatedCountAll()) link.Expr->SetCountAll(count);
}

void TORVAOGroupBy::InternalFirst() {
  FEOF = false;
  MoveInput();
  FLeftAO->First();
  if (!FAllFields) {
    MoveLookAhead();
    FTempDataset->First();
    FEOF = FTempDataset->Eof();
  }
  FFirstTimeCalled = true;
  InternalNext();
}

void TORVAOGroupBy::InternalNext() {
  const bool first = FFirstTimeCalled;
  FFirstTimeCalled = false;
  if (FAllFields) {
    if (!first) {
      FEOF = true;
      return;
    }
    // Without GROUP BY there is exactly one row, also over an empty input.
    if (IsCountAll()) {
      DoCountAll();
      return;
    }
    Init();
    MoveInput();
    while (!FLeftAO->GetEof()) {
      Accumulate();
      FLeftAO->Next();
    }
    FLeftAO->First();
    return;
  }
  if (!first) {
    Iterate(false);
    return;
  }
  Init();
  if (FLeftAO->GetEof()) {
    FEOF = true;
    return;
  }
  MoveLookAhead();
  FTempDataset->Next();
  if (FTempDataset->Eof()) {
    Accumulate();
    return;
  }
  Iterate(true);
}

void TORVAOGroupBy::Iterate(bool FirstTimeCalled) {
  if (!FirstTimeCalled) {
    MoveInput();
    FLeftAO->Next();
    MoveLookAhead();
    FTempDataset->Next();
    Init();
    if (FLeftAO->GetEof()) {
      FEOF = true;
      return;
    }
  }
  do {
    CompareRecords();
    Accumulate();
    if (FCompareResult == cmprEqual) {
      MoveInput();
      FLeftAO->Next();
      MoveLookAhead();
      FTempDataset->Next();
    }
  } while (!FLeftAO->GetEof() && FCompareResult == cmprEqual);
}

// ---- TORVAOTableExpr and TORVAOSQLTopRowCount -------------------------------------------------

TORVAOTableExpr::TORVAOTableExpr(std::unique_ptr<TORVAO> Child) : TORVAO(std::move(Child), nullptr, "", "") {
  FIsMaterialized = false;
  AddVisibleInputLinks();
}

void TORVAOTableExpr::Execute(bool IsRootAO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  if (auto* table = dynamic_cast<TORVAOTable*>(FLeftAO.get())) {
    std::vector<std::string> fields, asc, cs;
    if (table->TransferIndexToParentIfNeeded(fields, asc, cs)) {
      // No index of the stored table serves the order: this operator sorts its result instead.
      CreateResultIndexLists(true);
      FResultIndexFieldsList = std::move(fields);
      FResultIndexAscDescFieldsList = std::move(asc);
      FResultIndexCaseInsFieldsList = std::move(cs);
      ReplacePseudonymsInIndexFields();
      AddHiddenIndexFields();
    }
  }
  TORVAO::Execute(IsRootAO, ParentQueryAO, ParentCursor);
}

void TORVAOTableExpr::ReplacePseudonymsInIndexFields() {
  for (std::string& entry : FResultIndexFieldsList) {
    int32_t no = -1;
    if (FindFieldInFieldLinks(entry, no)) continue;
    if (!FLeftAO->FindFieldInFieldLinks(entry, no)) continue;
    const std::string& display = FLeftAO->Link(no).DisplayName;
    if (!display.empty()) entry = display;
  }
}

void TORVAOTableExpr::AddHiddenIndexFields() {
  for (const std::string& entry : FResultIndexFieldsList) {
    int32_t no = -1;
    if (FindFieldInFieldLinks(entry, no)) continue;
    if (!FLeftAO->FindFieldInFieldLinks(entry, no)) continue;
    // A column of the result table that is not a visible result column.
    AddFieldLink(no, false);
    FFieldLinks.back().IsHidden = false;
  }
}

void TORVAOTableExpr::SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) {
  TORVAO::SetTopRowCount(FirstRowNo, TopRowCount);
  if (FTopRowCount == TopRowCount) FLeftAO->SetTopRowCount(FirstRowNo, TopRowCount);
}

TORVAOSQLTopRowCount::TORVAOSQLTopRowCount(std::unique_ptr<TORVAO> Child)
    : TORVAO(std::move(Child), nullptr, "", "") {
  FIsMaterialized = false;
  AddVisibleInputLinks();
}

void TORVAOSQLTopRowCount::SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) {
  TORVAO::SetTopRowCount(FirstRowNo, TopRowCount);
  // The first-row number applies here only; below, at most the rows up to the last one wanted
  // are kept, so that no level skips rows a second time.
  const int64_t first = FirstRowNo < 1 ? 1 : FirstRowNo;
  const int64_t below = TopRowCount < 0 ? -1 : (TopRowCount == 0 ? 0 : TopRowCount + first - 1);
  FLeftAO->SetTopRowCount(1, below);
}

}  // namespace orv
