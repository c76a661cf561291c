// The leaves of an operator tree (a stored table read through its own cursor) and the join.
#include <algorithm>
#include <utility>

#include "dbengine/sql/orv_relational_algebra.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

bool IsLowerSet(TORVCompareResult r) { return r == cmprLower || r == cmprLeftNull || r == cmprBothNull; }

// Signed and unsigned integers up to 32 bits, 64-bit signed and the auto-increment kinds: all
// read exactly as a 64-bit signed value, so they sort and compare as numbers without a collation.
bool IsIntegerKeyType(TORVAdvancedFieldType t) { return t >= aftShortint && t <= aftAutoIncCardinal; }

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
    // Integer keys are sorted by the join itself: the inputs need no order of their own. Other
    // keys are merged in the order of the inputs' indexes, whose collation the comparison shares.
    FKeyWidth = FFields1.ItemCount;
    FSortedKeys = FKeyWidth > 0;
    for (int32_t i = 0; i < FFields1.ItemCount; ++i)
      FSortedKeys = FSortedKeys && IsIntegerKeyType(FFieldLinks[static_cast<size_t>(FFields1[i])].FieldType) &&
                    IsIntegerKeyType(FFieldLinks[static_cast<size_t>(FFields2[i])].FieldType);
    if (!FSortedKeys) {
      if (!left_names.empty()) FLeftAO->SetIndex(left_names, "", "");
      if (!right_names.empty()) FRightAO->SetIndex(right_names, "", "");
    }
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

bool TORVAOJoin::InternalGetEof() {
  // The sorted-key merge reads both inputs to their end first and then places them row by row.
  if (FSortedKeys) return FEof;
  return FEof || (FLeftAO->GetEof() && FRightAO->GetEof());
}

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
  if (FSortedKeys) {
    SortedKeysFirst();
    return;
  }
  FLeftAO->First();
  FRightAO->First();
  switch (FJoinType) {
    case ajtCross: FEof = FLeftAO->GetEof() || FRightAO->GetEof(); break;
    case ajtLeftOuter: FEof = FLeftAO->GetEof(); break;
    case ajtRightOuter: FEof = FRightAO->GetEof(); break;
    case ajtFullOuter: FEof = FLeftAO->GetEof() && FRightAO->GetEof(); break;
    case ajtInner: FEof = false; break;
  }
  if (!FEof) {
    FHasBeginBookmark = false;
    FFirstTimeCalled = true;
    InternalNext();
  }
  FFirstTimeCalled = false;
}

void TORVAOJoin::InternalNext() {
  FLeftAONull = FRightAONull = false;
  if (FSortedKeys) {
    SortedKeysNext();
    return;
  }
  switch (FJoinType) {
    case ajtCross: DekartNext(); break;
    default: MergeNext(); break;
  }
}

void TORVAOJoin::DekartNext() {
  if (FFirstTimeCalled) return;
  FRightAO->Next();
  if (!FRightAO->GetEof()) return;
  FLeftAO->Next();
  if (!FLeftAO->GetEof()) FRightAO->First();
}

// The next left row of a run: it pairs with the same run when its key is the run's key;
// otherwise the run's unmatched right rows are given out before the merge goes on.
void TORVAOJoin::MergeRunLeftNext() {
  FLeftAO->Next();
  FRunLeftMatched = false;
  if (FHasBeginBookmark) FRightAO->ResultDataset()->GotoBookmark(FRightBeginBookmark);
  FRunIndex = 0;
  if (!FLeftAO->GetEof()) {
    CompareRecords();
    if (FCompareResult == cmprEqual) return;
  }
  FMergeStep = TMergeStep::RunRest;
}

// Joins on other keys merge both inputs, ascending on the join columns. A run of equal keys pairs every
// left row with every right row of the run that the rest of the ON condition accepts; a left row
// without a partner goes out alone for a left or full join, and the run's unmatched right rows
// alone for a right or full join, so that no pair and no row is lost whatever the condition
// accepts. Without column pairs every row has the same key: one run, rescanned per left row.
void TORVAOJoin::MergeNext() {
  const bool keep_left = FJoinType == ajtLeftOuter || FJoinType == ajtFullOuter;
  const bool keep_right = FJoinType == ajtRightOuter || FJoinType == ajtFullOuter;
  if (FFirstTimeCalled) {
    FMergeStep = TMergeStep::Merge;
    FMergeMove = TMergeMove::None;
  }
  // Step past the row given out last.
  switch (FMergeMove) {
    case TMergeMove::None: break;
    case TMergeMove::Left: FLeftAO->Next(); break;
    case TMergeMove::Right: FRightAO->Next(); break;
    case TMergeMove::RunRight:
      FRightAO->Next();
      ++FRunIndex;
      break;
    case TMergeMove::RunLeft: MergeRunLeftNext(); break;
  }
  FMergeMove = TMergeMove::None;
  for (;;) {
    switch (FMergeStep) {
      case TMergeStep::Merge: {
        const bool left_end = FLeftAO->GetEof(), right_end = FRightAO->GetEof();
        if (left_end && right_end) {
          FEof = true;
          return;
        }
        if (!left_end && !right_end) CompareRecords();
        // A NULL key never matches: the row with it goes out alone (two NULL keys: left first).
        if (right_end || (!left_end && IsLowerSet(FCompareResult))) {
          if (!keep_left) {
            // A left row below every right key has no partner; past the right end none has.
            if (right_end) {
              FEof = true;
              return;
            }
            FLeftAO->Next();
            break;
          }
          FRightAONull = true;
          FMergeMove = TMergeMove::Left;
          return;
        }
        if (left_end || FCompareResult != cmprEqual) {
          if (!keep_right) {
            if (left_end) {
              FEof = true;
              return;
            }
            FRightAO->Next();
            break;
          }
          FLeftAONull = true;
          FMergeMove = TMergeMove::Right;
          return;
        }
        FRightBeginBookmark = FRightAO->ResultDataset()->GetBookmark();
        FHasBeginBookmark = true;
        FRunLength = -1;
        FRunIndex = 0;
        FRunLeftMatched = false;
        FRunMatched.clear();
        FMergeStep = TMergeStep::RunScan;
        break;
      }
      case TMergeStep::RunScan: {
        bool in_run;
        if (FRunLength >= 0) {
          in_run = FRunIndex < FRunLength;
        } else {
          in_run = !FRightAO->GetEof();
          if (in_run) {
            CompareRecords();
            in_run = FCompareResult == cmprEqual;
          }
          if (in_run)
            FRunMatched.push_back(0);
          else
            FRunLength = FRunIndex;
        }
        if (in_run) {
          if (IsJoinConditionValid()) {
            FRunMatched[static_cast<size_t>(FRunIndex)] = 1;
            FRunLeftMatched = true;
            FMergeMove = TMergeMove::RunRight;
            return;
          }
          FRightAO->Next();
          ++FRunIndex;
          break;
        }
        if (!FRunLeftMatched && keep_left) {
          // The right input stands past the run: the left row reads alone.
          FRightAONull = true;
          FMergeMove = TMergeMove::RunLeft;
          return;
        }
        MergeRunLeftNext();
        break;
      }
      case TMergeStep::RunRest:
        while (FRunIndex < FRunLength) {
          if (keep_right && !FRunMatched[static_cast<size_t>(FRunIndex)]) {
            FLeftAONull = true;
            FMergeMove = TMergeMove::RunRight;
            return;
          }
          FRightAO->Next();
          ++FRunIndex;
        }
        FMergeStep = TMergeStep::Merge;
        break;
    }
  }
}

// ---- Sorted-key merge ---------------------------------------------------------------------------

void TORVAOJoin::ReadSortedKeys(TORVAO* Child, const TORVIntegerArray& Fields, std::vector<int64_t>& Keys,
                                std::vector<uint8_t>& Nulls, std::vector<TORVPageItemID>& Marks,
                                std::vector<int32_t>& Order) {
  Keys.clear();
  Nulls.clear();
  Marks.clear();
  Order.clear();
  TORVVariant& value = Child == FLeftAO.get() ? FLeftValue : FRightValue;
  for (Child->First(); !Child->GetEof(); Child->Next()) {
    uint8_t null = 0;
    for (int32_t i = 0; i < FKeyWidth; ++i) {
      GetFieldValue(value, Fields[i], false, false);
      if (value.IsNull()) {
        null = 1;
        Keys.push_back(0);
      } else {
        Keys.push_back(value.GetDataAsSignedInt64());
      }
    }
    Nulls.push_back(null);
    Marks.push_back(Child->ResultDataset()->GetBookmark());
    Order.push_back(static_cast<int32_t>(Order.size()));
  }
  const size_t width = static_cast<size_t>(FKeyWidth);
  std::sort(Order.begin(), Order.end(), [&](int32_t a, int32_t b) {
    const size_t x = static_cast<size_t>(a), y = static_cast<size_t>(b);
    if (Nulls[x] != Nulls[y]) return Nulls[x] > Nulls[y];
    if (!Nulls[x])
      for (size_t k = 0; k < width; ++k)
        if (Keys[x * width + k] != Keys[y * width + k]) return Keys[x * width + k] < Keys[y * width + k];
    return a < b;
  });
}

int TORVAOJoin::CompareSortedKeys(int32_t Left, int32_t Right) const {
  const size_t width = static_cast<size_t>(FKeyWidth);
  const size_t x = static_cast<size_t>(Left) * width, y = static_cast<size_t>(Right) * width;
  for (size_t k = 0; k < width; ++k) {
    if (FLeftKeys[x + k] != FRightKeys[y + k]) return FLeftKeys[x + k] < FRightKeys[y + k] ? -1 : 1;
  }
  return 0;
}

void TORVAOJoin::PlaceSortedRow(int32_t Left, int32_t Right) {
  if (Left >= 0 && Left != FLeftAt) {
    FLeftAO->ResultDataset()->GotoBookmark(FLeftMarks[static_cast<size_t>(Left)]);
    FLeftAt = Left;
  }
  if (Right >= 0 && Right != FRightAt) {
    FRightAO->ResultDataset()->GotoBookmark(FRightMarks[static_cast<size_t>(Right)]);
    FRightAt = Right;
  }
  FLeftAONull = Left < 0;
  FRightAONull = Right < 0;
}

void TORVAOJoin::SortedKeysFirst() {
  FLeftAONull = FRightAONull = false;
  ReadSortedKeys(FLeftAO.get(), FFields1, FLeftKeys, FLeftNulls, FLeftMarks, FLeftOrder);
  ReadSortedKeys(FRightAO.get(), FFields2, FRightKeys, FRightNulls, FRightMarks, FRightOrder);
  FLeftPos = FRightPos = 0;
  FLeftAt = FRightAt = -1;
  FSortedStep = TSortedStep::Merge;
  FEof = false;
  SortedKeysNext();
}

// One output row by key order: rows of one side without a partner (NULL keys, keys the other
// side lacks, or rows the rest of the ON condition rejected in every pair) go out alone when
// the join keeps that side; every accepted pair of a run of equal keys goes out once.
void TORVAOJoin::SortedKeysNext() {
  const bool keep_left = FJoinType == ajtLeftOuter || FJoinType == ajtFullOuter;
  const bool keep_right = FJoinType == ajtRightOuter || FJoinType == ajtFullOuter;
  const size_t nl = FLeftOrder.size(), nr = FRightOrder.size();
  for (;;) {
    switch (FSortedStep) {
      case TSortedStep::Done: FEof = true; return;
      case TSortedStep::Merge: {
        const bool left_end = FLeftPos >= nl, right_end = FRightPos >= nr;
        if (left_end && right_end) {
          FSortedStep = TSortedStep::Done;
          break;
        }
        const int32_t l = left_end ? -1 : FLeftOrder[FLeftPos];
        const int32_t r = right_end ? -1 : FRightOrder[FRightPos];
        int cmp;
        if (right_end || (!left_end && FLeftNulls[static_cast<size_t>(l)]))
          cmp = -1;
        else if (left_end || FRightNulls[static_cast<size_t>(r)])
          cmp = 1;
        else
          cmp = CompareSortedKeys(l, r);
        if (cmp < 0) {
          ++FLeftPos;
          if (!keep_left) {
            // The rest of the left side can no longer pair once the right side is done.
            if (right_end) FSortedStep = TSortedStep::Done;
            break;
          }
          PlaceSortedRow(l, -1);
          return;
        }
        if (cmp > 0) {
          ++FRightPos;
          if (!keep_right) {
            if (left_end) FSortedStep = TSortedStep::Done;
            break;
          }
          PlaceSortedRow(-1, r);
          return;
        }
        FLeftRunEnd = FLeftPos + 1;
        while (FLeftRunEnd < nl && CompareSortedKeys(FLeftOrder[FLeftRunEnd], r) == 0) ++FLeftRunEnd;
        FRightRunEnd = FRightPos + 1;
        while (FRightRunEnd < nr && CompareSortedKeys(l, FRightOrder[FRightRunEnd]) == 0) ++FRightRunEnd;
        FRunLeft = FLeftPos;
        FRunRight = FRightPos;
        FRunLeftMatched = false;
        FRunMatched.assign(FRightRunEnd - FRightPos, 0);
        FSortedStep = TSortedStep::RunPairs;
        break;
      }
      case TSortedStep::RunPairs: {
        if (FRunLeft >= FLeftRunEnd) {
          FRunRight = FRightPos;
          FSortedStep = TSortedStep::RunRest;
          break;
        }
        const int32_t l = FLeftOrder[FRunLeft];
        if (FRunRight < FRightRunEnd) {
          const size_t place = FRunRight - FRightPos;
          PlaceSortedRow(l, FRightOrder[FRunRight++]);
          if (IsJoinConditionValid()) {
            FRunMatched[place] = 1;
            FRunLeftMatched = true;
            return;
          }
          break;
        }
        const bool alone = !FRunLeftMatched && keep_left;
        ++FRunLeft;
        FRunRight = FRightPos;
        FRunLeftMatched = false;
        if (alone) {
          PlaceSortedRow(l, -1);
          return;
        }
        break;
      }
      case TSortedStep::RunRest: {
        while (FRunRight < FRightRunEnd && (!keep_right || FRunMatched[FRunRight - FRightPos])) ++FRunRight;
        if (FRunRight < FRightRunEnd) {
          PlaceSortedRow(-1, FRightOrder[FRunRight++]);
          return;
        }
        FLeftPos = FLeftRunEnd;
        FRightPos = FRightRunEnd;
        FSortedStep = TSortedStep::Merge;
        break;
      }
    }
  }
}

}  // namespace orv
