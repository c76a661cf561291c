// The leaves of an operator tree (a stored table read through its own cursor) and the join.
#include <utility>

#include "dbengine/sql/orv_relational_algebra.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

bool IsLowerSet(TORVCompareResult r) { return r == cmprLower || r == cmprLeftNull || r == cmprBothNull; }
bool IsGreaterSet(TORVCompareResult r) { return r == cmprGreater || r == cmprRightNull || r == cmprBothNull; }

}  // namespace

// ---- TORVAOTable ----------------------------------------------------------------------------

TORVAOTable::TORVAOTable(const std::string& TableName, std::unique_ptr<TORVAODataset> Table,
                         const std::string& TableAlias, bool DisableTempFiles)
    : TORVAO(nullptr, nullptr, TableName, TableAlias) {
  if (!Table) throw EORVException(10513, "Nil pointer occured");
  FSession = Table->Session();
  FTempSession = Table->TempSession();
  FDisableTempFiles = DisableTempFiles;
  FResultDataset = std::move(Table);
  FIsAOTable = true;
  if (!FResultDataset->Active()) {
    try {
      FResultDataset->Open(TableName);
    } catch (const std::exception& e) {
      // Closing frees the cursor: what the message needs is read before.
      const int32_t in_memory = FResultDataset->Session() && FResultDataset->Session()->FInMemory ? 1 : 0;
      FResultDataset->Close();
      throw EORVException(10303, "Error on opening table \"%s\" (InMemory = %d) in SQL query: %s",
                          {TableName, in_memory, std::string(e.what())});
    }
  }
  const int32_t count = FResultDataset->FieldCount(true);
  for (int32_t i = 0; i < count; ++i) {
    const TORVFieldDef* def = FResultDataset->FieldDef(i, true);
    TORVFieldLink link;
    link.Dataset = FResultDataset.get();
    link.DirectAccess = true;
    link.FieldNo = i;
    link.IsHidden = true;
    link.FieldName = def->Name;
    link.FieldType = def->AdvancedFieldType;
    link.FieldSize = def->FieldSize;
    link.BLOBCompressionAlgorithm = def->BLOBCompressionAlgorithm;
    link.BLOBCompressionMode = def->BLOBCompressionMode;
    link.BLOBBlockSize = def->BLOBBlockSize;
    FFieldLinks.push_back(std::move(link));
  }
}

void TORVAOTable::InternalFirst() { FResultDataset->First(); }
void TORVAOTable::InternalNext() { FResultDataset->Next(); }
bool TORVAOTable::InternalGetEof() { return FResultDataset->Eof(); }
int64_t TORVAOTable::InternalGetRecordCount() { return FResultDataset->RecordCount(); }

void TORVAOTable::Execute(bool IsRootAO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  if (FHasOrderLists && !FResultIndexFieldsList.empty()) InternalSetIndex(!FDistinctApplied);
  if (FDistinctApplied) {
    InternalSetDistinct();
    FreeResultIndexLists();
  }
  if (FFilterExpr && FFilterExpr->Root()) FResultDataset->SetSQLFilter(FFilterExpr.get(), ParentQueryAO, ParentCursor);
  TORVAO::Execute(IsRootAO, ParentQueryAO, ParentCursor);
}

void TORVAOTable::SetResultFields(std::vector<TORVSelectListItem>& FieldRefs, bool bDistinct) {
  if (FieldRefs.empty()) {
    TORVAO::SetResultFields(FieldRefs, bDistinct);
    return;
  }
  std::vector<std::string> fields, aliases;
  for (const TORVSelectListItem& item : FieldRefs) {
    if (!item.TableName.empty() && !SameName(item.TableName, FTableName) && !SameName(item.TableName, FTableAlias))
      throw EORVException(30327, "Invalid table name in reference. Table name = %s, table alias = %s, tname = %s",
                          {AnsiUpperCase(FTableName), AnsiUpperCase(FTableAlias), AnsiUpperCase(item.TableName)});
    // "*" keeps every column of the table visible, without a projection.
    if (item.AllFields) return;
    fields.push_back(item.FieldName);
    aliases.push_back(item.Pseudonym);
  }
  TORVAO::SetResultFields(FieldRefs, bDistinct);
  FResultDataset->ApplyProjection(fields, aliases);
}

bool TORVAOTable::TransferIndexToParentIfNeeded(std::vector<std::string>& FieldNamesList,
                                                std::vector<std::string>& AscDescList,
                                                std::vector<std::string>& CaseSensitivityList) {
  if (!FResultDataset) throw EORVException(10513, "Nil pointer occured");
  if (!FHasOrderLists || FResultIndexFieldsList.empty() || !FResultDataset->IndexName().empty()) return false;
  if (FResultDataset->IndexExists(FResultIndexFieldsList, FResultIndexAscDescFieldsList,
                                  FResultIndexCaseInsFieldsList))
    return false;
  FieldNamesList = std::move(FResultIndexFieldsList);
  AscDescList = std::move(FResultIndexAscDescFieldsList);
  CaseSensitivityList = std::move(FResultIndexCaseInsFieldsList);
  FreeResultIndexLists();
  return true;
}

bool TORVAOTable::OpenTables() {
  try {
    if (!FResultDataset->Active()) FResultDataset->Open(FTableName);
    return true;
  } catch (...) {
    FResultDataset->Close();
    return false;
  }
}

bool TORVAOTable::CloseTables() {
  try {
    FResultDataset->Close();
    return true;
  } catch (...) {
    return false;
  }
}

bool TORVAOTable::LockTables() {
  if (!FResultDataset->Active()) return false;
  FIsLocked = FResultDataset->Cursor().LockTable(ltS, 2, 20, true);
  return FIsLocked;
}

bool TORVAOTable::UnlockTables() {
  if (!FIsLocked) return true;
  if (!FResultDataset->Active()) return false;
  const bool released = FResultDataset->Cursor().UnlockTable(ltS, true);
  FIsLocked = !released;
  return released;
}

// ---- TORVAOJoin -----------------------------------------------------------------------------

TORVAOJoin::TORVAOJoin(std::unique_ptr<TORVAO> LeftChild, std::unique_ptr<TORVAO> RightChild, TORVJoinType JoinType,
                       bool IsNatural, const TORVFields* FieldList1, const TORVFields* FieldList2,
                       std::unique_ptr<TORVExpression> JoinCondition)
    : TORVAO(std::move(LeftChild), std::move(RightChild), "", ""), FJoinType(JoinType), FFields1(0, 10, 100),
      FFields2(0, 10, 100) {
  if (!FLeftAO || !FRightAO) throw EORVException(10330, "Error - different list lengths. L1 = %d, L2 = %d", {0, 0});
  const int32_t n1 = FieldList1 ? FieldList1->ItemCount() : 0;
  const int32_t n2 = FieldList2 ? FieldList2->ItemCount() : 0;
  if (FJoinType == ajtInner && !JoinCondition && FieldList1 && n1 + n2 == 0) FJoinType = ajtCross;
  FJoinCondition = std::move(JoinCondition);
  FInnerJoin = FJoinType == ajtInner;
  FDekart = FJoinType == ajtCross;
  FOuterJoin = FJoinType == ajtLeftOuter || FJoinType == ajtRightOuter || FJoinType == ajtFullOuter;
  if (!FDekart && !IsNatural && n1 != n2)
    throw EORVException(10330, "Error - different list lengths. L1 = %d, L2 = %d", {n1, n2});
  FFieldsLink = n1 > 0;

  FLeftLinkCount = FLeftAO->FieldCount();
  for (TORVAO* child : {FLeftAO.get(), FRightAO.get()})
    for (int32_t i = 0; i < child->FieldCount(); ++i) {
      FFieldLinks.push_back(LinkTo(child, i, child->Link(i)));
    }

  if (IsNatural) {
    // The equally named columns pair up and are compared: an inner join on the common names,
    // both columns kept as with USING.
    for (int32_t r = FLeftLinkCount; r < FieldCount(); ++r)
      for (int32_t l = 0; l < FLeftLinkCount; ++l) {
        if (!SameName(FFieldLinks[static_cast<size_t>(l)].FieldName, FFieldLinks[static_cast<size_t>(r)].FieldName))
          continue;
        FFields1.Append(l);
        FFields2.Append(r);
        FFieldLinks[static_cast<size_t>(l)].IsHidden = false;
        FFieldLinks[static_cast<size_t>(r)].IsHidden = false;
        FLeftAO->FieldExists(FFieldLinks[static_cast<size_t>(l)].FieldName, "", true, nullptr, false, false);
        FRightAO->FieldExists(FFieldLinks[static_cast<size_t>(r)].FieldName, "", true, nullptr, false, false);
      }
    FFieldsLink = FFields1.ItemCount > 0;
  }
  if (!FDekart) {
    if (!IsNatural) {
      for (int32_t i = 0; i < n1; ++i) {
        const TORVSelectListItem& item = FieldList1->Items[static_cast<size_t>(i)];
        const int32_t found = FieldExists(item.FieldName, item.TableName, true, &FFields1, false, false);
        if (found != 1)
          throw EORVException(
              10331, "Invalid field for join operation. Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
              {item.TableName, item.FieldName, i, found});
      }
      for (int32_t i = 0; i < n2; ++i) {
        const TORVSelectListItem& item = FieldList2->Items[static_cast<size_t>(i)];
        const int32_t found = FieldExists(item.FieldName, item.TableName, true, &FFields2, false, false);
        if (found != 1)
          throw EORVException(
              10332, "Invalid field for join operation. Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
              {item.TableName, item.FieldName, i, found});
      }
    }
    if (FFields1.ItemCount != FFields2.ItemCount)
      throw EORVException(10332, "Error - different list lengths. L1 = %d, L2 = %d",
                          {FFields1.ItemCount, FFields2.ItemCount});
    std::string left_names, right_names;
    for (int32_t i = 0; i < FFields1.ItemCount; ++i) {
      TORVFieldLink& a = FFieldLinks[static_cast<size_t>(FFields1[i])];
      TORVFieldLink& b = FFieldLinks[static_cast<size_t>(FFields2[i])];
      if (a.AO == b.AO)
        throw EORVException(10334,
                            "Both join fields are from the same table. Field1 = '%s', Field2 = '%s', No1 = %d, No2 = %d.",
                            {a.FieldName, b.FieldName, FFields1[i], FFields2[i]});
      if (a.AO == FRightAO.get()) std::swap(FFields1[i], FFields2[i]);
      const TORVFieldLink& left = FFieldLinks[static_cast<size_t>(FFields1[i])];
      const TORVFieldLink& right = FFieldLinks[static_cast<size_t>(FFields2[i])];
      left_names += (left_names.empty() ? "" : ";") + FLeftAO->Link(left.FieldNo).FieldName;
      right_names += (right_names.empty() ? "" : ";") + FRightAO->Link(right.FieldNo).FieldName;
    }
    if (!left_names.empty()) FLeftAO->SetIndex(left_names, "", "");
    if (!right_names.empty()) FRightAO->SetIndex(right_names, "", "");
  }
  SetFieldNames();
  FIsMaterialized = false;
}

void TORVAOJoin::PrepareInputs() {
  if ((FJoinType != ajtInner && FJoinType != ajtFullOuter) ||
      FRightAO->GetRecordCount() >= FLeftAO->GetRecordCount())
    return;
  SwapChildren();
  std::swap(FFields1, FFields2);
}

void TORVAOJoin::Execute(bool IsRootAO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  if (FJoinCondition && FJoinCondition->Root()) FJoinCondition->AssignAO(this, ParentQueryAO, ParentCursor);
  TORVAO::Execute(IsRootAO, ParentQueryAO, ParentCursor);
}

bool TORVAOJoin::InternalGetEof() { return FEof || (FLeftAO->GetEof() && FRightAO->GetEof()); }

int64_t TORVAOJoin::InternalGetRecordCount() {
  if (FIsMaterialized) return FResultDataset->RecordCount();
  if (FDekart) return FLeftAO->GetRecordCount() * FRightAO->GetRecordCount();
  return 0;
}

void TORVAOJoin::CompareRecords() {
  FLeftAONull = FRightAONull = false;
  FCompareResult = cmprEqual;
  for (int32_t i = 0; i < FFields1.ItemCount; ++i) {
    if (FLeftAO->ResultDataset()->IsEmpty())
      FLeftValue.SetNull(bftUnknown);
    else
      GetFieldValue(FLeftValue, FFields1[i], false, false);
    if (FRightAO->ResultDataset()->IsEmpty())
      FRightValue.SetNull(bftUnknown);
    else
      GetFieldValue(FRightValue, FFields2[i], false, false);
    try {
      FCompareResult = FLeftValue.Compare(FRightValue, true, false, false);
    } catch (const EORVException& e) {
      throw EORVException(10328, "Cannot compare values for fields: %s, %s. Error: %s",
                          {FFieldLinks[static_cast<size_t>(FFields1[i])].FieldName,
                           FFieldLinks[static_cast<size_t>(FFields2[i])].FieldName, std::string(e.what())});
    }
    if (FCompareResult != cmprEqual) return;
  }
}

bool TORVAOJoin::IsJoinConditionValid() {
  if (!FJoinCondition || !FJoinCondition->Root()) return true;
  const bool left = FLeftAONull, right = FRightAONull;
  FLeftAONull = FRightAONull = false;
  bool result = false;
  try {
    result = FJoinCondition->GetResult();
  } catch (...) {
    FLeftAONull = left;
    FRightAONull = right;
    throw;
  }
  FLeftAONull = left;
  FRightAONull = right;
  return result;
}

void TORVAOJoin::InternalFirst() {
  FLeftAO->First();
  FRightAO->First();
  switch (FJoinType) {
    case ajtCross: FEof = FLeftAO->GetEof() || FRightAO->GetEof(); break;
    case ajtLeftOuter: FEof = FLeftAO->GetEof(); break;
    case ajtRightOuter: FEof = FRightAO->GetEof(); break;
    case ajtFullOuter: FEof = FLeftAO->GetEof() && FRightAO->GetEof(); break;
    case ajtInner: break;
  }
  if (!FEof) {
    FEqualStarted = FBothNullsStarted = false;
    FHasBeginBookmark = FHasEndBookmark = false;
    FLinkCount = 0;
    FFirstTimeCalled = true;
    InternalNext();
  }
  FFirstTimeCalled = false;
}

void TORVAOJoin::InternalNext() {
  FLeftAONull = FRightAONull = false;
  switch (FJoinType) {
    case ajtCross: DekartNext(); break;
    case ajtFullOuter: FullOuterNext(); break;
    default: Nextus(); break;
  }
}

void TORVAOJoin::DekartNext() {
  if (FFirstTimeCalled) return;
  FRightAO->Next();
  if (!FRightAO->GetEof()) return;
  FLeftAO->Next();
  if (!FLeftAO->GetEof()) FRightAO->First();
}

void TORVAOJoin::SaveRight(TORVPageItemID& Bookmark, bool& Saved) {
  TORVAO* scanned = FJoinType == ajtRightOuter ? FLeftAO.get() : FRightAO.get();
  Bookmark = scanned->ResultDataset()->GetBookmark();
  Saved = true;
}

void TORVAOJoin::GotoRight(const TORVPageItemID& Bookmark, bool Saved, bool FirstWhenNone) {
  TORVAO* scanned = FJoinType == ajtRightOuter ? FLeftAO.get() : FRightAO.get();
  if (Saved)
    scanned->ResultDataset()->GotoBookmark(Bookmark);
  else if (FirstWhenNone)
    scanned->First();
}

bool TORVAOJoin::Passed() const {
  if (FJoinType == ajtRightOuter)
    return FLeftAO->GetEof() || (FFieldsLink && IsGreaterSet(FCompareResult));
  return FRightAO->GetEof() || (FFieldsLink && IsLowerSet(FCompareResult));
}

void TORVAOJoin::Nextus() {
  TORVAO* driving = FJoinType == ajtRightOuter ? FRightAO.get() : FLeftAO.get();
  TORVAO* scanned = FJoinType == ajtRightOuter ? FLeftAO.get() : FRightAO.get();
  for (;;) {
    if (!FFirstTimeCalled) {
      if (Passed()) {
        driving->Next();
        if (FInnerJoin && FLeftAO->GetEof() && (!FFieldsLink || IsLowerSet(FCompareResult))) {
          FRightAONull = true;
          FEof = true;
          return;
        }
        FLinkCount = 0;
        if (FOuterJoin && driving->GetEof()) FEof = true;
        if (!InternalGetEof()) GotoRight(FRightBeginBookmark, FHasBeginBookmark, true);
        if (InternalGetEof()) return;
      } else {
        scanned->Next();
      }
    }
    FFirstTimeCalled = false;
    if (FFieldsLink) CompareRecords();
    if (Passed()) {
      if (FLinkCount == 0) {
        if (FJoinType == ajtLeftOuter) {
          FRightAONull = true;
          return;
        }
        if (FJoinType == ajtRightOuter) {
          FLeftAONull = true;
          return;
        }
        if (FLeftAO->GetEof()) {
          FRightAONull = FFieldsLink && IsLowerSet(FCompareResult);
          FEof = true;
          return;
        }
      }
    } else if ((!FFieldsLink || FCompareResult == cmprEqual) && IsJoinConditionValid()) {
      if (FLinkCount == 0 && FFieldsLink) SaveRight(FRightBeginBookmark, FHasBeginBookmark);
      ++FLinkCount;
      return;
    } else if (FInnerJoin && FFieldsLink && FCompareResult == cmprGreater) {
      // The run of the next key starts at or after this row.
      SaveRight(FRightBeginBookmark, FHasBeginBookmark);
    }
    if (InternalGetEof()) return;
  }
}

void TORVAOJoin::LowerestAONext(bool& LeftMoved, bool& RightMoved) {
  LeftMoved = RightMoved = false;
  CompareRecords();
  if (FLeftAO->GetEof() || FRightAO->GetEof()) {
    if (FLeftAO->GetEof()) {
      FRightAO->Next();
      RightMoved = true;
    } else {
      FLeftAO->Next();
      LeftMoved = true;
    }
  } else {
    const TORVCompareResult r = FCompareResult;
    if (IsLowerSet(r)) {
      FLeftAO->Next();
      LeftMoved = true;
    }
    if (r == cmprEqual || IsGreaterSet(r)) {
      FRightAO->Next();
      RightMoved = true;
      if (FRightAO->GetEof() && r == cmprEqual) {
        FLeftAO->Next();
        LeftMoved = true;
      }
    }
  }
  CompareRecords();
}

bool TORVAOJoin::IsRecordsLinked() {
  if (FCompareResult != cmprEqual || !IsJoinConditionValid()) return false;
  if (!FEqualStarted) {
    SaveRight(FRightBeginBookmark, FHasBeginBookmark);
    FEqualStarted = true;
  }
  SaveRight(FRightEndBookmark, FHasEndBookmark);
  return true;
}

bool TORVAOJoin::EqualsRecordsNext(bool LeftMoved) {
  if (FEqualStarted && LeftMoved) GotoRight(FRightBeginBookmark, FHasBeginBookmark, false);
  CompareRecords();
  if (IsRecordsLinked()) return true;
  if (!FEqualStarted) return false;
  for (;;) {
    CompareRecords();
    if (IsRecordsLinked()) return true;
    if (FCompareResult == cmprEqual) {
      FEqualStarted = false;
      GotoRight(FRightBeginBookmark, FHasBeginBookmark, false);
      CompareRecords();
      return false;
    }
    if (FCompareResult == cmprGreater) {
      FEqualStarted = false;
      GotoRight(FRightEndBookmark, FHasEndBookmark, false);
      CompareRecords();
      return false;
    }
    FLeftAO->Next();
    if (FLeftAO->GetEof()) {
      FEqualStarted = false;
      GotoRight(FRightEndBookmark, FHasEndBookmark, false);
      CompareRecords();
      return false;
    }
    GotoRight(FRightBeginBookmark, FHasBeginBookmark, false);
  }
}

void TORVAOJoin::FullOuterNext() {
  bool left_moved = false, right_moved = false;
  if (FFirstTimeCalled || FBothNullsStarted)
    CompareRecords();
  else
    LowerestAONext(left_moved, right_moved);
  if (left_moved && right_moved && FCompareResult == cmprEqual && FJoinCondition && FJoinCondition->Root())
    left_moved = false;
  if (InternalGetEof()) return;
  if (FEqualStarted) {
    if (EqualsRecordsNext(left_moved)) return;
    LowerestAONext(left_moved, right_moved);
  }
  // Two rows whose keys are both NULL go out one after the other; an input at its end (or
  // empty, which reads as NULL) has no row to give.
  if (FCompareResult == cmprBothNull && !FLeftAO->GetEof() && !FRightAO->GetEof()) {
    if (!FBothNullsStarted) {
      FRightAONull = true;
      FBothNullsStarted = true;
    } else {
      FLeftAONull = true;
      FBothNullsStarted = false;
    }
    return;
  }
  if (InternalGetEof()) return;
  if (IsRecordsLinked()) return;
  if (FLeftAO->GetEof() || FRightAO->GetEof()) {
    FLeftAONull = FLeftAO->GetEof();
    FRightAONull = !FLeftAONull;
    return;
  }
  FLeftAONull = FCompareResult == cmprEqual || FCompareResult == cmprGreater || FCompareResult == cmprRightNull;
  FRightAONull = IsLowerSet(FCompareResult);
}

}  // namespace orv
