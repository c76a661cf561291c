#include "dbengine/sql/orv_relational_algebra.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

int32_t IndexOfName(const std::vector<std::string>& List, const std::string& Name) {
  for (size_t i = 0; i < List.size(); ++i)
    if (SameName(List[i], Name)) return static_cast<int32_t>(i);
  return -1;
}

std::string JoinNames(const std::vector<std::string>& Names) {
  std::string s;
  for (const std::string& n : Names) {
    if (!s.empty()) s += ';';
    s += n;
  }
  return s;
}

}  // namespace

// ---- TORVAODataset --------------------------------------------------------------------------

TORVAODataset::TORVAODataset(TORVBaseSession* Session, TORVBaseSession* TempSession)
    : FSession(Session), FTempSession(TempSession) {}

TORVAODataset::~TORVAODataset() {
  try {
    Close();
    if (FTemporary && FTempSession && !FTableName.empty()) {
      TORVLocalCursor dropper;
      dropper.FSession = FTempSession;
      dropper.FTableName = FTableName;
      dropper.DeleteTable();
    }
  } catch (...) {
    // A result table that cannot be deleted is dropped with its TEMP database at the latest.
  }
}

void TORVAODataset::FreeBuffers() {
  if (!FCursor) return;
  if (FBuffer) FCursor->FreeRecordBuffer(FBuffer);
  if (FScratch) FCursor->FreeRecordBuffer(FScratch);
  FCursor->FCurrentRecordBuffer = nullptr;
}

void TORVAODataset::Open(const std::string& TableName, bool ReadOnly) {
  Close();
  FCursor = std::make_unique<TORVLocalCursor>();
  FCursor->FSession = FSession;
  FCursor->FTableName = TableName;
  FCursor->FReadOnly = ReadOnly;
  FCursor->FDisableTempFiles = DisableTempFiles;
  FTableName = TableName;
  FReadOnly = ReadOnly;
  FCursor->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  FCursor->InternalInitFieldDefs();
  FBuffer = FCursor->AllocateRecordBuffer();
  FScratch = FCursor->AllocateRecordBuffer();
  FCursor->FCurrentRecordBuffer = FBuffer;
  FEof = FBof = true;
}

void TORVAODataset::CreateTemporary(const TORVFieldDefs& FieldDefs, const TORVIndexDefs& IndexDefs) {
  if (!FTempSession) throw EORVException(10308, "Nil pointer occured");
  Close();
  std::string name;
  do name = GetTemporaryName("TEMPORARY_TABLE_");
  while (FTempSession->TableExists(name));
  {
    TORVLocalCursor creator;
    creator.FSession = FTempSession;
    creator.FTableName = name;
    creator.FDisableTempFiles = DisableTempFiles;
    creator.CreateTable(FieldDefs, IndexDefs, TORVConstraintDefs());
  }
  FSession = FTempSession;
  FTemporary = true;
  Open(name, false);
  // A temporary table keeps no constraints: its unique (DISTINCT) index is asked directly.
  for (int32_t i = 0; FCursor->FIndexDefs && i < FCursor->FIndexDefs->GetCount(); ++i)
    if (FCursor->FIndexDefs->GetIndexDef(i)->Unique) FUniqueIndexID = FCursor->FIndexDefs->GetIndexDef(i)->ObjectID;
}

std::unique_ptr<TORVAODataset> TORVAODataset::OpenSecondReader() const {
  auto second = std::make_unique<TORVAODataset>(FSession, FTempSession);
  second->DisableTempFiles = DisableTempFiles;
  second->Open(FTableName, true);
  return second;
}

void TORVAODataset::Close() {
  if (!FCursor) return;
  FreeBuffers();
  if (FCursor->FIsOpen) FCursor->CloseTable();
  FCursor.reset();
  FEof = FBof = true;
}

void TORVAODataset::Read(TORVGetRecordMode Mode, bool Forward) {
  FCursor->FCurrentRecordBuffer = FScratch;
  const TORVGetRecordResult r = FCursor->GetRecordBuffer(Mode);
  if (r == grrOK) {
    std::swap(FBuffer, FScratch);
    FEof = FBof = false;
  } else if (Forward) {
    FEof = true;
  } else {
    FBof = true;
  }
  FCursor->FCurrentRecordBuffer = FBuffer;
}

void TORVAODataset::First() {
  FCursor->InternalFirst();
  FBof = true;
  FEof = false;
  Read(grmNext, true);
  // Before the first record counts as the beginning; an empty view is at both ends.
  FBof = true;
  if (FEof) return;
}

void TORVAODataset::Next() {
  if (FEof) return;
  FBof = false;
  Read(grmNext, true);
}

void TORVAODataset::Prior() {
  FEof = false;
  Read(grmPrior, false);
}

void TORVAODataset::GotoBookmark(const TORVPageItemID& Bookmark) {
  FCursor->CurrentRecordID = Bookmark;
  FCursor->FirstPosition = FCursor->LastPosition = false;
  FCursor->FCurrentRecordBuffer = FScratch;
  const TORVGetRecordResult r = FCursor->GetRecordBuffer(grmCurrent);
  FCursor->FCurrentRecordBuffer = FBuffer;
  if (r != grrOK) throw EORVException(10329, "Cannot go to a saved position of table %s", {FTableName});
  std::swap(FBuffer, FScratch);
  FCursor->FCurrentRecordBuffer = FBuffer;
  FEof = FBof = false;
}

int64_t TORVAODataset::RecordCount() { return FCursor->GetRecordCount(); }

int32_t TORVAODataset::FieldCount(bool DirectAccess) const {
  const TORVFieldDefs* defs = DirectAccess ? FCursor->FFieldDefs.get() : FCursor->FVisibleFieldDefs.get();
  return defs ? defs->GetCount() : 0;
}

const TORVFieldDef* TORVAODataset::FieldDef(int32_t FieldNo, bool DirectAccess) const {
  const TORVFieldDefs* defs = DirectAccess ? FCursor->FFieldDefs.get() : FCursor->FVisibleFieldDefs.get();
  const int32_t count = defs ? defs->GetCount() : 0;
  if (FieldNo < 0 || FieldNo >= count)
    throw EORVException(DirectAccess ? 20191 : 10317, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {FieldNo, count});
  return defs->GetDef(FieldNo);
}

void TORVAODataset::GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess) const {
  const TORVFieldDef* def = FieldDef(FieldNo, DirectAccess);
  const int32_t flag = DirectAccess ? FieldNo : def->FieldNoReference;
  const auto* record = static_cast<const uint8_t*>(FBuffer);
  if (CheckNullFlag(flag, record)) {
    Value.SetNull(def->BaseFieldType);
    return;
  }
  Value.SetData(record + def->MemoryOffset, def->MemoryDataSize, def->BaseFieldType, false);
}

void TORVAODataset::CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, TORVAODataset& Dest, int32_t DestFieldNo) {
  FCursor->FCurrentRecordBuffer = FBuffer;
  Dest.FCursor->FCurrentRecordBuffer = Dest.FBuffer;
  FCursor->CopyFieldValue(SrcFieldNo, DirectAccess, DestFieldNo, Dest.FCursor.get());
}

void TORVAODataset::SetFieldValue(TORVVariant& Value, int32_t DestFieldNo) {
  FCursor->SetFieldValue(Value, DestFieldNo, true, FBuffer);
}

void TORVAODataset::Append() {
  FCursor->FCurrentRecordBuffer = FBuffer;
  FCursor->InternalInitRecord(FBuffer, true);
}

bool TORVAODataset::Post(bool MayRefuse) {
  FCursor->FCurrentRecordBuffer = FBuffer;
  if (MayRefuse && FUniqueIndexID != -1 && FCursor->TableData() &&
      FCursor->TableData()->IsUniqueConstraintFailed(FCursor->GetSessionID(), FUniqueIndexID, FBuffer, nullptr, true,
                                                     FCursor->CurrentRecordID)) {
    FCursor->InternalCancel(true);
    return false;
  }
  FCursor->InternalPost(true);
  if (FCursor->FErrorCode == 0) return true;
  const int32_t code = FCursor->FErrorCode;
  const std::string message = FCursor->FErrorMessage;
  FCursor->InternalCancel(true);
  if (MayRefuse && (code == -1 || code == -8)) return false;
  throw EORVException(10313, "Cannot insert a row into table %s: %s", {FTableName, message});
}

std::string TORVAODataset::FindOrCreateIndex(const std::vector<std::string>& FieldNames,
                                             const std::vector<std::string>& AscDesc,
                                             const std::vector<std::string>& CaseIns) {
  bool created = false;
  return FCursor->FindOrCreateIndex(FieldNames, AscDesc, CaseIns, created);
}

bool TORVAODataset::IndexExists(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDesc,
                                const std::vector<std::string>& CaseIns) {
  return FCursor->IndexExists(FieldNames, AscDesc, CaseIns);
}

void TORVAODataset::AddIndex(const std::string& Name, const std::vector<std::string>& FieldNames,
                             const std::vector<std::string>& AscDesc, const std::vector<std::string>& CaseIns,
                             bool Unique) {
  TORVIndexDef def;
  def.Name = Name;
  def.Unique = Unique;
  def.AssignByNames(FieldNames, AscDesc, CaseIns);
  FCursor->AddIndex(def);
}

void TORVAODataset::SetIndexName(const std::string& Name) {
  FCursor->SetIndexName(Name);
  FCursor->FIndexName = Name;
}

void TORVAODataset::ApplyDistinct(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDesc,
                                  const std::vector<std::string>& CaseIns) {
  FCursor->ApplyDistinct(FieldNames, AscDesc, CaseIns);
  FDistinctFields = FieldNames;
  FDistinctAscDesc = AscDesc;
  FDistinctCaseIns = CaseIns;
}

void TORVAODataset::ApplyProjection(const std::vector<std::string>& FieldNames,
                                    const std::vector<std::string>& Aliases) {
  FCursor->ApplyProjection(FieldNames, Aliases);
}

void TORVAODataset::SetSQLFilter(IORVExpression* FilterExpr, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  FCursor->FCurrentRecordBuffer = FBuffer;
  FCursor->SetSQLFilter(FilterExpr, ParentQueryAO, ParentCursor);
}

// ---- Unit functions -------------------------------------------------------------------------

void ConvertIndexFieldNamesToLists(const std::string& FieldNames, const std::string& DescFields,
                                   const std::string& CaseInsFields, std::vector<std::string>& FieldList,
                                   std::vector<std::string>& AscDescList, std::vector<std::string>& CaseInsList) {
  std::vector<std::string> desc, caseins;
  FillFieldNames(FieldList, FieldNames);
  if (!DescFields.empty()) FillFieldNames(desc, DescFields);
  if (!CaseInsFields.empty()) FillFieldNames(caseins, CaseInsFields);
  AscDescList.clear();
  CaseInsList.clear();
  for (const std::string& name : FieldList) {
    AscDescList.push_back(IndexOfName(desc, name) >= 0 ? "DESC" : "ASC");
    CaseInsList.push_back(IndexOfName(caseins, name) >= 0 ? "NO_CASE" : "CASE");
  }
}

void ConvertListsToIndexFieldNames(std::string& FieldNames, std::string& DescNames, std::string& CaseInsNames,
                                   const std::vector<std::string>& FieldList,
                                   const std::vector<std::string>& AscDescList,
                                   const std::vector<std::string>& CaseInsList) {
  std::vector<std::string> desc, caseins;
  for (size_t i = 0; i < FieldList.size(); ++i) {
    if (i < AscDescList.size() && AscDescList[i] == "DESC") desc.push_back(FieldList[i]);
    if (i < CaseInsList.size() && CaseInsList[i] == "NO_CASE") caseins.push_back(FieldList[i]);
  }
  FieldNames = JoinNames(FieldList);
  DescNames = JoinNames(desc);
  CaseInsNames = JoinNames(caseins);
}

// ---- TORVAO: construction and configuration --------------------------------------------------

TORVAO::TORVAO(std::unique_ptr<TORVAO> LeftAO, std::unique_ptr<TORVAO> RightAO, const std::string& TableName,
               const std::string& TableAlias)
    : FTableName(TableName), FTableAlias(TableAlias), FResultFieldsOrder(0, 10, 100), FValue(bftUnknown),
      FLeftAO(std::move(LeftAO)), FRightAO(std::move(RightAO)) {
  for (TORVAO* child : {FLeftAO.get(), FRightAO.get()}) {
    if (!child) continue;
    FSession = child->FSession;
    FTempSession = child->FTempSession;
    FDisableTempFiles = FDisableTempFiles || child->FDisableTempFiles;
  }
  FResultDataset = std::make_unique<TORVAODataset>(FSession, FTempSession);
  FResultDataset->DisableTempFiles = FDisableTempFiles;
}

TORVAO::~TORVAO() {
  try {
    if (FIsAOTable && FIsLocked && FResultDataset && FResultDataset->Active())
      FResultDataset->Cursor().UnlockTable(ltS, true);
  } catch (...) {
    // Locks of a closing session are released with it.
  }
  // Children go before this result table: a parent's links may read them, never the reverse.
  FLeftAO.reset();
  FRightAO.reset();
  FFilterExpr.reset();
  FFieldLinks.clear();
  FResultDataset.reset();
}

int64_t TORVAO::InternalGetRecordCount() {
  return FIsMaterialized && FResultDataset && FResultDataset->Active() ? FResultDataset->RecordCount() : 0;
}

void TORVAO::First() {
  if (FIsMaterialized)
    FResultDataset->First();
  else
    InternalFirst();
}

void TORVAO::Next() {
  if (FIsMaterialized)
    FResultDataset->Next();
  else
    InternalNext();
}

bool TORVAO::GetEof() { return FIsMaterialized ? FResultDataset->Eof() : InternalGetEof(); }

int64_t TORVAO::GetRecordCount() { return FIsMaterialized ? FResultDataset->RecordCount() : InternalGetRecordCount(); }

void TORVAO::SetFilter(std::unique_ptr<TORVExpression> FilterExpr) {
  if (!FilterExpr || FilterExpr->Root() == nullptr) return;
  if (FFilterExpr && FFilterExpr->Root())
    FFilterExpr->AddAndMoveNodesFromExpression(*FilterExpr);
  else
    FFilterExpr = std::move(FilterExpr);
}

void TORVAO::SetResultTable(bool InMemory, bool Immediate, const std::string& DatabaseName,
                            const std::string& TableName) {
  FResultInMemory = InMemory;
  FResultImmediate = Immediate;
  FResultDatabaseName = DatabaseName;
  FResultTableName = TableName;
}

void TORVAO::SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) {
  if (FDistinctApplied || (FHasOrderLists && !FResultIndexFieldsList.empty())) return;
  FTopRowCount = TopRowCount;
  FFirstRowNo = FirstRowNo < 0 ? 1 : FirstRowNo;
}

void TORVAO::CreateResultIndexLists(bool ToClear) {
  if (ToClear || !FHasOrderLists) {
    FResultIndexFieldsList.clear();
    FResultIndexAscDescFieldsList.clear();
    FResultIndexCaseInsFieldsList.clear();
  }
  FHasOrderLists = true;
}

void TORVAO::FreeResultIndexLists() {
  FResultIndexFieldsList.clear();
  FResultIndexAscDescFieldsList.clear();
  FResultIndexCaseInsFieldsList.clear();
  FHasOrderLists = false;
}

void TORVAO::SetIndex(const std::string& IndexFieldNames, const std::string& DescFields,
                      const std::string& CaseInsensitiveFields) {
  FreeResultIndexLists();
  CreateResultIndexLists(true);
  ConvertIndexFieldNamesToLists(IndexFieldNames, DescFields, CaseInsensitiveFields, FResultIndexFieldsList,
                                FResultIndexAscDescFieldsList, FResultIndexCaseInsFieldsList);
  if (FDistinctApplied) ApplyDistinct(FDistinctFields);
}

void TORVAO::ApplyDistinct(const std::string& DistinctFields) {
  std::vector<std::string> names;
  FillFieldNames(names, DistinctFields);
  FDistinctApplied = !names.empty();
  if (!FDistinctApplied) return;
  FDistinctFields = DistinctFields;
  FDistinctFieldsMap.assign(names.size(), -1);
  for (size_t i = 0; i < names.size(); ++i)
    for (int32_t l = 0; l < FieldCount(); ++l)
      if (SameName(FFieldLinks[static_cast<size_t>(l)].FieldName, names[i])) {
        FDistinctFieldsMap[i] = l;
        break;
      }
  if (!FFilterExpr && dynamic_cast<TORVAOJoin*>(this)) {
    ApplyDistinctToChild(FLeftAO.get());
    ApplyDistinctToChild(FRightAO.get());
  }
}

void TORVAO::ApplyDistinctToChild(TORVAO* Child) {
  if (!Child || Child->FIsAOTable) return;
  std::string names;
  for (const TORVFieldLink& link : FFieldLinks) {
    if (link.IsHidden || link.AO != Child) continue;
    if (!names.empty()) names += ';';
    names += Child->FFieldLinks[static_cast<size_t>(link.FieldNo)].FieldName;
  }
  if (!names.empty()) Child->ApplyDistinct(names);
}

void TORVAO::SetResultFields(std::vector<TORVSelectListItem>& FieldRefs, bool bDistinct) {
  if (FieldRefs.empty()) {
    FieldExists("*", "", true, &FResultFieldsOrder, false, false);
  } else {
    for (TORVSelectListItem& item : FieldRefs) {
      if (item.IsExpression && item.ValueExpr && (FIsAOGroupBy || !item.ValueExpr->IsAggregated())) {
        TORVFieldLink link;
        link.Expr.reset(item.ValueExpr);
        item.ValueExpr = nullptr;
        link.Expr->AssignAO(this, nullptr, nullptr);
        link.FieldName = item.Pseudonym.empty() ? GetTemporaryName("Expr") : item.Pseudonym;
        link.DisplayName = link.FieldName;
        link.FieldType = link.Expr->GetDataType();
        link.FieldSize = link.Expr->GetDataSize();
        link.FieldPrecision = link.Expr->GetPrecision();
        link.AO = this;
        link.IsExpression = true;
        link.IsAggregate = link.Expr->IsAggregated();
        FExpressionsExists = true;
        const std::string name = link.FieldName;
        FFieldLinks.push_back(std::move(link));
        FResultFieldsOrder.Append(FieldCount() - 1);
        if (!FIsAOGroupBy) {
          // Operators above find the computed column by its name from now on.
          item.IsExpression = false;
          item.FieldName = name;
        }
        continue;
      }
      if (item.IsExpression) continue;  // an aggregate is left for the group-by above
      const std::string name = item.AllFields ? std::string("*") : item.FieldName;
      const int32_t before = FResultFieldsOrder.ItemCount;
      const int32_t n = FieldExists(name, item.TableName, true, &FResultFieldsOrder, false, false);
      if (n == 0) throw EORVException(10305, "Cannot find field %s", {name});
      if (name == "*") continue;
      // A name matching several columns takes the first.
      if (n > 1) FResultFieldsOrder.SetSize(before + 1);
      TORVFieldLink& link = FFieldLinks[static_cast<size_t>(FResultFieldsOrder[before])];
      link.DisplayName = item.Pseudonym.empty() ? name : item.Pseudonym;
    }
  }
  std::string distinct;
  for (int32_t i = 0; i < FResultFieldsOrder.ItemCount; ++i) {
    TORVFieldLink& link = FFieldLinks[static_cast<size_t>(FResultFieldsOrder[i])];
    if (link.DisplayName.empty()) link.DisplayName = link.FieldName;
    if (!distinct.empty()) distinct += ';';
    distinct += link.FieldName;
  }
  if (bDistinct) ApplyDistinct(distinct);
  FHasSetResultFields = true;
}

// ---- Names and values -------------------------------------------------------------------------

int32_t TORVAO::FieldExists(const std::string& FieldName, const std::string& TableName, bool Unhide,
                            TORVIntegerArray* FieldNumbers, bool UnhideChildrenOnly, bool ScanOnlyVisibleFields) {
  if (FIsAOTable && !TableName.empty() && !SameName(TableName, FTableName) && !SameName(TableName, FTableAlias))
    return 0;
  int32_t count = 0;
  const auto take = [&](int32_t l, bool MayUnhide) {
    if (FieldNumbers) {
      if (FieldNumbers->IsValueExists(l)) return;
      FieldNumbers->Append(l);
      ++count;
    }
    if (Unhide && !UnhideChildrenOnly && MayUnhide) FFieldLinks[static_cast<size_t>(l)].IsHidden = false;
  };
  TORVIntegerArray found(0, 10, 100);
  if (FieldName == "*") {
    if (FLeftAO) FLeftAO->FieldExists("*", TableName, Unhide, &found, false, false);
    for (int32_t l = 0; l < FieldCount(); ++l) {
      const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(l)];
      const bool match = FIsAOTable || (link.IsExpression && SameName(TableName, FTableName)) ||
                         (FLeftAO && link.AO == FLeftAO.get() && found.IsValueExists(link.FieldNo));
      // A union's links (and a materialised operator's) read a table: every column belongs to it.
      const bool own = !FIsAOTable && !link.AO && link.Dataset && TableName.empty();
      if (match || own) take(l, !FIsAOGroupBy);
    }
    if (FRightAO) {
      found.SetSize(0);
      FRightAO->FieldExists("*", TableName, Unhide, &found, false, false);
      for (int32_t l = 0; l < FieldCount(); ++l) {
        const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(l)];
        if (link.AO == FRightAO.get() && found.IsValueExists(link.FieldNo)) take(l, true);
      }
    }
    return count;
  }
  for (TORVAO* child : {FLeftAO.get(), FRightAO.get()}) {
    if (!child) continue;
    found.SetSize(0);
    child->FieldExists(FieldName, TableName, Unhide, &found, false, false);
    for (int32_t k = 0; k < found.ItemCount; ++k)
      for (int32_t l = 0; l < FieldCount(); ++l) {
        const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(l)];
        if (link.AO == child && link.FieldNo == found[k] && !(ScanOnlyVisibleFields && link.IsHidden)) take(l, true);
      }
  }
  for (int32_t l = 0; l < FieldCount(); ++l) {
    const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(l)];
    if (!SameName(link.FieldName, FieldName) && !SameName(link.DisplayName, FieldName)) continue;
    if (!TableName.empty() && !SameName(TableName, FTableName) && !SameName(TableName, FTableAlias)) continue;
    if (ScanOnlyVisibleFields && link.IsHidden) continue;
    take(l, true);
    break;
  }
  return count;
}

bool TORVAO::FindFieldInFieldLinks(const std::string& FieldName, int32_t& FieldNo) const {
  for (int32_t l = 0; l < FieldCount(); ++l) {
    const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(l)];
    if (SameName(link.FieldName, FieldName) || SameName(link.DisplayName, FieldName)) {
      FieldNo = l;
      return true;
    }
  }
  return false;
}

std::string TORVAO::GetFieldNameByColumnName(const std::string& ColumnName) const {
  int32_t no = -1;
  return FindFieldInFieldLinks(ColumnName, no) ? FFieldLinks[static_cast<size_t>(no)].FieldName : std::string();
}

std::string TORVAO::GetFieldNameByColumnNo(int32_t ColumnNo) {
  if (ColumnNo < 0 || ColumnNo >= FieldCount())
    throw EORVException(10306, "Invalid field number - FieldNo = %d, FieldCount = %d", {ColumnNo, FieldCount()});
  return FFieldLinks[static_cast<size_t>(ColumnNo)].FieldName;
}

std::string TORVAO::GetFieldNameByVisibleNumber(int32_t VisibleFieldNo) const {
  if (VisibleFieldNo < 0 || VisibleFieldNo >= FResultFieldsOrder.ItemCount)
    throw EORVException(20243, "Invalid field number in ORDER BY clause: %d", {VisibleFieldNo + 1});
  return FFieldLinks[static_cast<size_t>(FResultFieldsOrder[VisibleFieldNo])].DisplayName;
}

int32_t TORVAO::GetFieldNoByVisibleNumber(int32_t VisibleFieldNo) const {
  if (FResultFieldsOrder.ItemCount == 0) return VisibleFieldNo;
  if (VisibleFieldNo < 0 || VisibleFieldNo >= FResultFieldsOrder.ItemCount)
    throw EORVException(20243, "Invalid field number in ORDER BY clause: %d", {VisibleFieldNo + 1});
  return FResultFieldsOrder[VisibleFieldNo];
}

std::string TORVAO::GetFieldName(int32_t FieldNo, bool ApplyOrderBy) {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EORVException(10306, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, FieldCount()});
  const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(FieldNo)];
  if (link.Dataset) {
    if (link.Dataset == FResultDataset.get() && !FIsAOTable) return link.FieldName;
    return link.Dataset->FieldDef(link.FieldNo, link.DirectAccess)->Name;
  }
  if (link.AO && link.AO != this) return ApplyOrderBy ? link.FieldName : link.AO->GetFieldName(link.FieldNo, false);
  return link.FieldName;
}

TORVAdvancedFieldType TORVAO::GetFieldType(int32_t FieldNo) {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EORVException(10376, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, FieldCount()});
  return FFieldLinks[static_cast<size_t>(FieldNo)].FieldType;
}

int32_t TORVAO::GetFieldSize(int32_t FieldNo) {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EORVException(10377, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, FieldCount()});
  return FFieldLinks[static_cast<size_t>(FieldNo)].FieldSize;
}

int32_t TORVAO::GetFieldPrecision(int32_t FieldNo) {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EORVException(10378, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, FieldCount()});
  return FFieldLinks[static_cast<size_t>(FieldNo)].FieldPrecision;
}

void TORVAO::GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool bCopy, bool AccessToHidden) {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EORVException(10307, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, FieldCount()});
  const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(FieldNo)];
  if (!link.Dataset && !link.AO)
    throw EORVException(10309, "Invalid field link: table name = %s, FieldNo = %d", {FTableName, FieldNo});
  if (link.IsHidden && !AccessToHidden)
    throw EORVException(10310,
                        "Cannot access hidden field: table name = %s, field name = %s, display name = %s, FieldNo = %d",
                        {FTableName, link.FieldName, link.DisplayName, FieldNo});
  if (link.IsExpression) {
    TORVVariant* v = link.Expr ? link.Expr->GetValue(true) : nullptr;
    if (v)
      Value.Assign(*v, bCopy);
    else
      Value.SetNull(Value.DataType());
    return;
  }
  if (link.AO) {
    if ((FLeftAONull && link.AO == FLeftAO.get()) || (FRightAONull && link.AO == FRightAO.get())) {
      Value.SetNull(AdvancedFieldTypeToBaseFieldType(link.FieldType));
      return;
    }
    link.AO->GetFieldValue(Value, link.FieldNo, bCopy, AccessToHidden);
    return;
  }
  if (link.Dataset->IsEmpty()) {
    Value.SetNull(AdvancedFieldTypeToBaseFieldType(link.FieldType));
    return;
  }
  // Linked even when a copy is asked for: the value is read before the dataset moves again,
  // and reading a row allocates nothing.
  link.Dataset->GetFieldValue(Value, link.FieldNo, link.DirectAccess);
}

bool TORVAO::GetFieldDatsetAndFieldNo(int32_t FieldNo, TORVAODataset*& Dataset, int32_t& DatasetFieldNo,
                                      bool& Direct) {
  TORVAO* ao = this;
  int32_t no = FieldNo;
  while (ao) {
    const TORVFieldLink& link = ao->FFieldLinks[static_cast<size_t>(no)];
    if (link.IsExpression) return false;
    if (link.Dataset) {
      if (link.Dataset->IsEmpty()) return false;
      Dataset = link.Dataset;
      DatasetFieldNo = link.FieldNo;
      Direct = link.DirectAccess;
      return true;
    }
    if ((ao->FLeftAONull && link.AO == ao->FLeftAO.get()) || (ao->FRightAONull && link.AO == ao->FRightAO.get()))
      return false;
    no = link.FieldNo;
    ao = link.AO == ao ? nullptr : link.AO;
  }
  return false;
}

void TORVAO::CopyFieldValue(int32_t SrcFieldNo, int32_t DestFieldNo) {
  const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(SrcFieldNo)];
  TORVAODataset* source = nullptr;
  int32_t column = -1;
  bool direct = true;
  if (!link.IsHidden && !link.IsExpression && GetFieldDatsetAndFieldNo(SrcFieldNo, source, column, direct)) {
    source->CopyFieldValue(column, direct, *FResultDataset, DestFieldNo);
    return;
  }
  GetFieldValue(FValue, SrcFieldNo, false, true);
  FResultDataset->SetFieldValue(FValue, DestFieldNo);
  FValue.SetNull(bftUnknown);
}

void TORVAO::SetFieldNames() {
  for (int32_t l = 0; l < FieldCount(); ++l) {
    std::string name = GetFieldName(l, false);
    if (name.empty()) name = GetTemporaryName("Expr");
    FFieldLinks[static_cast<size_t>(l)].FieldName = name;
  }
  const auto make_unique = [this](int32_t l) {
    TORVFieldLink& link = FFieldLinks[static_cast<size_t>(l)];
    const auto clashes = [&](const std::string& candidate) {
      for (int32_t k = 0; k < l; ++k)
        if (SameName(FFieldLinks[static_cast<size_t>(k)].FieldName, candidate)) return true;
      return false;
    };
    std::string candidate = link.FieldName;
    for (int32_t k = 1; clashes(candidate); ++k) candidate = k == 1 ? candidate + "_1" : candidate + std::to_string(k);
    link.FieldName = candidate;
  };
  for (int32_t l = 0; l < FieldCount(); ++l)
    if (FFieldLinks[static_cast<size_t>(l)].IsHidden) make_unique(l);
  for (int32_t l = 1; l < FieldCount(); ++l) make_unique(l);
}

TORVFieldLink TORVAO::LinkTo(TORVAO* AO, int32_t FieldNo, const TORVFieldLink& Source) {
  TORVFieldLink link;
  link.AO = AO;
  link.FieldNo = FieldNo;
  link.IsHidden = Source.IsHidden;
  link.FieldName = Source.FieldName;
  link.FieldType = Source.FieldType;
  link.FieldSize = Source.FieldSize;
  link.BLOBCompressionAlgorithm = Source.BLOBCompressionAlgorithm;
  link.BLOBCompressionMode = Source.BLOBCompressionMode;
  link.BLOBBlockSize = Source.BLOBBlockSize;
  return link;
}

void TORVAO::AddFieldLink(int32_t FieldLinkNo, bool SkipHiddenFields) {
  const TORVFieldLink& source = FLeftAO->FFieldLinks[static_cast<size_t>(FieldLinkNo)];
  if (FLeftAO->FHasSetResultFields && source.IsHidden && SkipHiddenFields) return;
  TORVFieldLink link = LinkTo(FLeftAO.get(), FieldLinkNo, source);
  if (FLeftAO->FHasSetResultFields && !source.DisplayName.empty()) link.FieldName = source.DisplayName;
  link.FieldPrecision = source.FieldPrecision;
  FFieldLinks.push_back(std::move(link));
}

void TORVAO::AddVisibleInputLinks() {
  const TORVIntegerArray& order = FLeftAO->ResultFieldsOrder();
  if (FLeftAO->FHasSetResultFields && order.ItemCount > 0) {
    for (int32_t p = 0; p < order.ItemCount; ++p) AddFieldLink(order[p], true);
  } else {
    for (int32_t i = 0; i < FLeftAO->FieldCount(); ++i) AddFieldLink(i, true);
  }
}

// ---- Tables and locks -----------------------------------------------------------------------

bool TORVAO::OpenTables() {
  if (FLeftAO && !FLeftAO->OpenTables()) return false;
  return !FRightAO || FRightAO->OpenTables();
}
bool TORVAO::CloseTables() {
  if (FLeftAO && !FLeftAO->CloseTables()) return false;
  return !FRightAO || FRightAO->CloseTables();
}
bool TORVAO::LockTables() {
  if (FLeftAO && !FLeftAO->LockTables()) return false;
  return !FRightAO || FRightAO->LockTables();
}
bool TORVAO::UnlockTables() {
  if (FLeftAO && !FLeftAO->UnlockTables()) return false;
  return !FRightAO || FRightAO->UnlockTables();
}

// ---- Execution and materialisation ------------------------------------------------------------

void TORVAO::Execute(bool IsRootAO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  FIsRootAO = IsRootAO;
  if (!FIsAOTable && FFilterExpr && FFilterExpr->Root()) FFilterExpr->AssignAO(this, ParentQueryAO, ParentCursor);
  if (FLeftAO) FLeftAO->Execute(false, ParentQueryAO, ParentCursor);
  if (FRightAO) FRightAO->Execute(false, ParentQueryAO, ParentCursor);
  PrepareInputs();
  if (FTopRowCount > 0 && FHasOrderLists && !FResultIndexFieldsList.empty() && FLeftAO) {
    // TOP over ORDER BY: the input is read in that order, so the first rows copied are the right ones.
    TORVAODataset* input = FLeftAO->ResultDataset();
    input->SetIndexName(input->FindOrCreateIndex(FResultIndexFieldsList, FResultIndexAscDescFieldsList,
                                                 FResultIndexCaseInsFieldsList));
  }
  if (FLeftAO) DoMaterialize();
  if (FHasOrderLists) InternalSetIndex(true);
}

void TORVAO::DoMaterialize() {
  if (FIsMaterialized) return;
  std::vector<std::string> fields, aliases;
  CreateTableForMaterialize(fields, aliases);
  FillTableForMaterialize();
  FinalizeMaterialize(fields, aliases);
}

namespace {

void AddResultField(TORVFieldDefs& Defs, const TORVFieldLink& Link, bool ExplicitOrder) {
  TORVAdvancedFieldType type = Link.FieldType;
  if (ExplicitOrder) {
    if (type == aftAutoInc) type = aftInteger;
  } else {
    type = BaseFieldTypeToAdvancedFieldType(AdvancedFieldTypeToBaseFieldType(type));
  }
  TORVFieldDef* def = Defs.AddCreated();
  def->Name = Link.FieldName;
  def->SetFieldDefDataType(type, Link.FieldSize);
  def->BLOBCompressionAlgorithm = Link.BLOBCompressionAlgorithm;
  def->BLOBCompressionMode = Link.BLOBCompressionMode;
  if (Link.BLOBBlockSize > 0) def->BLOBBlockSize = Link.BLOBBlockSize;
}

}  // namespace

void TORVAO::CreateTableForMaterialize(std::vector<std::string>& FieldList, std::vector<std::string>& AliasList) {
  FMaterializeFieldDefs.Clear();
  FMaterializeIndexDefs.Clear();
  FMaterializeIndexName.clear();
  const bool explicit_order = FResultFieldsOrder.ItemCount > 0;
  if (explicit_order) {
    for (int32_t p = 0; p < FResultFieldsOrder.ItemCount; ++p) {
      const int32_t l = FResultFieldsOrder[p];
      const TORVFieldLink& link = FFieldLinks[static_cast<size_t>(l)];
      if (link.IsHidden)
        throw EORVException(
            10312, "Cannot access hidden field: table name = %s, field name = %s, display name = %s, FieldNo = %d",
            {FTableName, link.FieldName, link.DisplayName, l});
      if (!link.DisplayName.empty()) {
        FieldList.push_back(link.FieldName);
        AliasList.push_back(link.DisplayName);
      }
    }
  }
  for (const TORVFieldLink& link : FFieldLinks) {
    if (link.IsHidden) continue;
    if (!explicit_order) {
      FieldList.push_back(link.FieldName);
      AliasList.emplace_back();
    }
    AddResultField(FMaterializeFieldDefs, link, explicit_order);
  }
  if (FTopRowCount >= 0 && FHasOrderLists && !FResultIndexFieldsList.empty())
    FMaterializeIndexName = CreateIndexForMaterialize(true);
  if (FDistinctApplied) {
    std::vector<std::string> names, asc, cs;
    ConvertIndexFieldNamesToLists(FDistinctFields, "", "", names, asc, cs);
    TORVIndexDef* def = FMaterializeIndexDefs.AddCreated();
    def->Name = GetTemporaryName("TEMPORARY_INDEX_");
    def->Unique = true;
    def->AssignByNames(names, asc, cs);
  }
  // A SELECT ... INTO target is written by the statement layer from this result.
  FResultDataset->CreateTemporary(FMaterializeFieldDefs, FMaterializeIndexDefs);
  if (!FMaterializeIndexName.empty()) FResultDataset->SetIndexName(FMaterializeIndexName);
}

std::string TORVAO::CreateIndexForMaterialize(bool BeforeCreateTable) {
  const std::string name = GetTemporaryName("TEMPORARY_INDEX_");
  if (BeforeCreateTable) {
    TORVIndexDef* def = FMaterializeIndexDefs.AddCreated();
    def->Name = name;
    def->AssignByNames(FResultIndexFieldsList, FResultIndexAscDescFieldsList, FResultIndexCaseInsFieldsList);
  } else {
    FResultDataset->AddIndex(name, FResultIndexFieldsList, FResultIndexAscDescFieldsList,
                             FResultIndexCaseInsFieldsList, false);
  }
  return name;
}

void TORVAO::FillTableForMaterialize() {
  const size_t distinct_count = FDistinctApplied ? FDistinctFieldsMap.size() : 0;
  std::vector<std::unique_ptr<TORVVariant>> previous;
  for (size_t i = 0; i < distinct_count; ++i) previous.push_back(std::make_unique<TORVVariant>(bftUnknown));
  TORVVariant current(bftUnknown);
  TORVAODataset& result = *FResultDataset;
  int64_t copied = 0;
  bool any_input = false;
  First();
  for (int64_t j = 1; !GetEof(); ++j) {
    if (FTopRowCount >= 0 && copied >= FTopRowCount) break;
    if (FFirstRowNo >= 0 && j < FFirstRowNo) {
      Next();
      continue;
    }
    if (FFilterExpr && FFilterExpr->Root() && !FFilterExpr->GetResult()) {
      Next();
      continue;
    }
    if (distinct_count > 0) {
      bool same = true;
      for (size_t i = 0; i < distinct_count; ++i) {
        GetFieldValue(current, FDistinctFieldsMap[i], false, true);
        if (any_input && current.Compare(*previous[i], false, false, false) != cmprEqual) same = false;
        previous[i]->Assign(current, true);
      }
      const bool first_row = !any_input;
      any_input = true;
      // A row equal to the previous input row is dropped without touching the table; the
      // unique index catches the duplicates that are not adjacent.
      if (same && !first_row) {
        Next();
        continue;
      }
    }
    result.Append();
    int32_t k = 0;
    for (int32_t l = 0; l < FieldCount(); ++l) {
      if (FFieldLinks[static_cast<size_t>(l)].IsHidden) continue;
      CopyFieldValue(l, k++);
    }
    if (result.Post(distinct_count > 0)) ++copied;
    Next();
  }
  if (FTopRowCount >= 0) FTopRowCount = -1;
}

void TORVAO::FinalizeMaterialize(std::vector<std::string>& FieldList, std::vector<std::string>& AliasList) {
  if (FHasOrderLists && !FResultIndexFieldsList.empty() && FTopRowCount < 0 && !FDistinctApplied &&
      FResultDataset->IndexName().empty()) {
    for (size_t i = 0; i < AliasList.size(); ++i) {
      if (AliasList[i].empty() || IndexOfName(FieldList, AliasList[i]) >= 0) continue;
      for (std::string& entry : FResultIndexFieldsList)
        if (SameName(entry, AliasList[i])) entry = FieldList[i];
    }
    FResultDataset->SetIndexName(CreateIndexForMaterialize(false));
  }
  if (!FieldList.empty()) FResultDataset->ApplyProjection(FieldList, AliasList);
  const auto turn = [this](int32_t l, int32_t column, bool direct) {
    TORVFieldLink& link = FFieldLinks[static_cast<size_t>(l)];
    link.Expr.reset();
    link.IsExpression = link.IsAggregate = false;
    link.AO = nullptr;
    link.Dataset = FResultDataset.get();
    link.FieldNo = column;
    link.DirectAccess = direct;
  };
  if (FIsRootAO && FResultFieldsOrder.ItemCount > 0) {
    for (int32_t p = 0; p < FResultFieldsOrder.ItemCount; ++p) {
      const int32_t l = FResultFieldsOrder[p];
      if (FFieldLinks[static_cast<size_t>(l)].IsHidden)
        throw EORVException(
            10314, "Cannot access hidden field: table name = %s, field name = %s, display name = %s, FieldNo = %d",
            {FTableName, FFieldLinks[static_cast<size_t>(l)].FieldName, FFieldLinks[static_cast<size_t>(l)].DisplayName,
             l});
    }
    // The root's visible columns are the result's, in select-list order.
    for (int32_t p = 0; p < FResultFieldsOrder.ItemCount; ++p) turn(FResultFieldsOrder[p], p, false);
  } else {
    int32_t column = 0;
    for (int32_t l = 0; l < FieldCount(); ++l)
      if (!FFieldLinks[static_cast<size_t>(l)].IsHidden) turn(l, column++, true);
  }
  FIsMaterialized = true;
  FreeLookAhead();
  // Links that are not turned (hidden ones) are never read again.
  for (TORVFieldLink& link : FFieldLinks)
    if (link.AO && link.AO != this) link.AO = nullptr;
  FLeftAO.reset();
  FRightAO.reset();
}

void TORVAO::InternalSetIndex(bool ToClearFields) {
  if (!FResultDataset || !FResultDataset->Active()) throw EORVException(10308, "Nil pointer occured");
  if (!FResultIndexFieldsList.empty() && FResultDataset->IndexName().empty()) {
    try {
      FResultDataset->SetIndexName(FResultDataset->FindOrCreateIndex(
          FResultIndexFieldsList, FResultIndexAscDescFieldsList, FResultIndexCaseInsFieldsList));
    } catch (...) {
      if (ToClearFields) FreeResultIndexLists();
      throw;
    }
    if (ToClearFields) FreeResultIndexLists();
  }
}

void TORVAO::InternalSetDistinct() {
  std::vector<std::string> fields = FResultIndexFieldsList, asc = FResultIndexAscDescFieldsList,
                           cs = FResultIndexCaseInsFieldsList;
  std::vector<std::string> names;
  FillFieldNames(names, FDistinctFields);
  for (const std::string& name : names) {
    if (IndexOfName(fields, name) >= 0) continue;
    fields.push_back(name);
    asc.emplace_back("ASC");
    cs.emplace_back("CASE");
  }
  FResultDataset->ApplyDistinct(fields, asc, cs);
}

}  // namespace orv
