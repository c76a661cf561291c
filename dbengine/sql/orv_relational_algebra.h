#pragma once
// The relational operators a SELECT runs as: a tree whose leaves read stored tables (TORVAOTable)
// and whose inner operators (joins, set operations, grouping, computed columns, TOP) produce
// their rows once, copy them into a temporary table of the TEMP database and from then on are
// read like a table, their children freed. The operator owns its column list (field links),
// resolves column names through the tree for the expression engine (IORVAO) and reads the
// current row's values for it.
//
// Operators read and fill tables through TORVAODataset: a local cursor of a session with a
// record buffer of its own. Values are linked into that buffer, never copied, so that reading
// a row allocates nothing; a value stays valid until the dataset moves.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_types.h"
#include "dbengine/storage/orv_variant.h"

namespace orv {

// ---- The table an operator reads or fills ---------------------------------------------------

class TORVAODataset {
 public:
  // Session: where the table lives; TempSession: the TEMP database of the same client, where
  // result tables of the operators above are made.
  TORVAODataset(TORVBaseSession* Session, TORVBaseSession* TempSession);
  // Closes; a temporary result table is deleted (errors dropped: a destructor never raises).
  ~TORVAODataset();
  TORVAODataset(const TORVAODataset&) = delete;
  TORVAODataset& operator=(const TORVAODataset&) = delete;

  // Opens an existing table of Session; ReadOnly for a second reader of a result table.
  void Open(const std::string& TableName, bool ReadOnly = false);
  // Creates a table named "TEMPORARY_TABLE_{GUID}" (drawn again while one exists) in the TEMP
  // session and opens it; it is deleted when this dataset goes.
  void CreateTemporary(const TORVFieldDefs& FieldDefs, const TORVIndexDefs& IndexDefs);
  // Another reader of the same table, its own position, read-only, not deleting the table.
  std::unique_ptr<TORVAODataset> OpenSecondReader() const;
  void Close();
  bool Active() const { return FCursor && FCursor->FIsOpen && FBuffer; }

  // ---- Navigation: as a dataset, a move past the end leaves the last row current ----
  void First();
  void Next();
  void Prior();
  bool Eof() const { return FEof; }
  bool Bof() const { return FBof; }
  // At its beginning and at its end at once.
  bool IsEmpty() const { return FBof && FEof; }
  TORVPageItemID GetBookmark() const { return FCursor->CurrentRecordID; }
  void GotoBookmark(const TORVPageItemID& Bookmark);
  int64_t RecordCount();

  // ---- Columns: DirectAccess counts in the table's columns, else in the visible ones ----
  int32_t FieldCount(bool DirectAccess) const;
  const TORVFieldDef* FieldDef(int32_t FieldNo, bool DirectAccess) const;
  // Linked to the current record buffer. Outside the columns: 20191 / 10317.
  void GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess) const;
  // Into column DestFieldNo (physical) of Dest's record being inserted; a BLOB travels in its
  // stored form.
  void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, TORVAODataset& Dest, int32_t DestFieldNo);
  void SetFieldValue(TORVVariant& Value, int32_t DestFieldNo);
  // A new record with every column NULL.
  void Append();
  // Stores the appended record; with MayRefuse a record a unique index refuses is dropped
  // (False). Any other refusal raises the cursor's error.
  bool Post(bool MayRefuse);

  // ---- Order, distinct view, projection, filter ----
  std::string FindOrCreateIndex(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDesc,
                                const std::vector<std::string>& CaseIns);
  bool IndexExists(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDesc,
                   const std::vector<std::string>& CaseIns);
  void AddIndex(const std::string& Name, const std::vector<std::string>& FieldNames,
                const std::vector<std::string>& AscDesc, const std::vector<std::string>& CaseIns, bool Unique);
  void SetIndexName(const std::string& Name);
  const std::string& IndexName() const { return FCursor->FIndexName; }
  void ApplyDistinct(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDesc,
                     const std::vector<std::string>& CaseIns);
  bool IsDistinctApplied() const { return !FDistinctFields.empty(); }
  void ApplyDistinctOf(const TORVAODataset& Other) {
    ApplyDistinct(Other.FDistinctFields, Other.FDistinctAscDesc, Other.FDistinctCaseIns);
  }
  void ApplyProjection(const std::vector<std::string>& FieldNames, const std::vector<std::string>& Aliases);
  // The expression stays the caller's.
  void SetSQLFilter(IORVExpression* FilterExpr, IORVAO* ParentQueryAO, TORVCursor* ParentCursor);

  TORVLocalCursor& Cursor() const { return *FCursor; }
  const std::string& TableName() const { return FTableName; }
  bool Temporary() const { return FTemporary; }
  TORVBaseSession* Session() const { return FSession; }
  TORVBaseSession* TempSession() const { return FTempSession; }
  bool DisableTempFiles = false;

 private:
  void Read(TORVGetRecordMode Mode, bool Forward);
  void FreeBuffers();

  TORVBaseSession* FSession;
  TORVBaseSession* FTempSession;
  std::unique_ptr<TORVLocalCursor> FCursor;
  std::string FTableName;
  bool FTemporary = false;  // a result table this dataset made and deletes
  bool FReadOnly = false;
  int32_t FUniqueIndexID = -1;
  // Two buffers: a read that finds no record leaves the current one untouched.
  void* FBuffer = nullptr;
  void* FScratch = nullptr;
  bool FEof = true;
  bool FBof = true;
  std::vector<std::string> FDistinctFields, FDistinctAscDesc, FDistinctCaseIns;
};

// ---- Column lists -------------------------------------------------------------------------

class TORVAO;

// One column of an operator.
struct TORVFieldLink {
  std::string FieldName;    // unique within the operator after a join's renaming
  std::string DisplayName;  // the alias shown; empty until the result fields are set
  TORVAdvancedFieldType FieldType = aftUnknown;
  int32_t FieldPrecision = 0;
  int32_t FieldSize = 0;
  uint8_t BLOBCompressionAlgorithm = 0;
  uint8_t BLOBCompressionMode = 0;
  int32_t BLOBBlockSize = 0;
  TORVAO* AO = nullptr;                // the child read (the operator itself for a computed column)
  TORVAODataset* Dataset = nullptr;    // read directly when set
  bool DirectAccess = true;            // FieldNo counts in Dataset's table columns, else visible ones
  bool IsHidden = false;
  int32_t FieldNo = -1;
  bool IsExpression = false;
  bool IsAggregate = false;
  std::unique_ptr<TORVExpression> Expr;  // owned while IsExpression
};

// A select list, GROUP BY list or join column list.
class TORVFields {
 public:
  void Append(const TORVSelectListItem& Item) { Items.push_back(Item); }
  int32_t ItemCount() const { return static_cast<int32_t>(Items.size()); }
  std::vector<TORVSelectListItem> Items;
};

// ---- The operator base ----------------------------------------------------------------------

class TORVAO : public IORVAO {
 public:
  ~TORVAO() override;
  TORVAO(const TORVAO&) = delete;
  TORVAO& operator=(const TORVAO&) = delete;

  // ---- Rows ----
  void First();
  void Next();
  bool GetEof();
  int64_t GetRecordCount();

  // ---- Configuration ----
  // Merges into an existing filter under AND; takes FilterExpr over.
  void SetFilter(std::unique_ptr<TORVExpression> FilterExpr);
  TORVExpression* FilterExpr() const { return FFilterExpr.get(); }
  void SetResultTable(bool InMemory, bool Immediate, const std::string& DatabaseName, const std::string& TableName);
  virtual void SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount);
  // ";"-separated names; the descending and case-insensitive ones among them.
  virtual void SetIndex(const std::string& IndexFieldNames, const std::string& DescFields,
                        const std::string& CaseInsensitiveFields);
  // The items' expressions are taken over (ValueExpr becomes nil).
  virtual void SetResultFields(std::vector<TORVSelectListItem>& FieldRefs, bool bDistinct);
  void ApplyDistinct(const std::string& DistinctFields);
  virtual void Execute(bool IsRootAO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor);

  // ---- Names and values (IORVAO) ----
  int32_t FieldExists(const std::string& FieldName, const std::string& TableName, bool Unhide,
                      TORVIntegerArray* FieldNumbers, bool UnhideChildrenOnly, bool ScanOnlyVisibleFields) override;
  void GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool bCopy, bool AccessToHidden) override;
  TORVAdvancedFieldType GetFieldType(int32_t FieldNo) override;
  int32_t GetFieldSize(int32_t FieldNo) override;
  int32_t GetFieldPrecision(int32_t FieldNo) override;
  std::string GetFieldNameByColumnNo(int32_t ColumnNo) override;
  bool IsAOGroupBy() const override { return FIsAOGroupBy; }
  bool FindFieldInFieldLinks(const std::string& FieldName, int32_t& FieldNo) const;
  std::string GetFieldName(int32_t FieldNo, bool ApplyOrderBy);
  std::string GetFieldNameByColumnName(const std::string& ColumnName) const;
  // ORDER BY by column number (0-based here); outside the select list: 20243 with the 1-based number.
  std::string GetFieldNameByVisibleNumber(int32_t VisibleFieldNo) const;
  int32_t GetFieldNoByVisibleNumber(int32_t VisibleFieldNo) const;

  // ---- Tables and locks (depth-first, left before right) ----
  virtual bool OpenTables();
  virtual bool CloseTables();
  virtual bool LockTables();
  virtual bool UnlockTables();

  bool IsMaterialized() const { return FIsMaterialized; }
  bool HasSetResultFields() const { return FHasSetResultFields; }
  int32_t FieldCount() const { return static_cast<int32_t>(FFieldLinks.size()); }
  TORVAODataset* ResultDataset() const { return FResultDataset.get(); }
  const std::string& TableAlias() const { return FTableAlias; }
  // The alias a FROM subquery's result is named by.
  void SetTableAlias(const std::string& Alias) { FTableAlias = Alias; }
  const std::string& TableName() const { return FTableName; }
  TORVAO* LeftAO() const { return FLeftAO.get(); }
  TORVAO* RightAO() const { return FRightAO.get(); }
  bool IsAOTable() const { return FIsAOTable; }
  const TORVFieldLink& Link(int32_t i) const { return FFieldLinks[static_cast<size_t>(i)]; }
  const TORVIntegerArray& ResultFieldsOrder() const { return FResultFieldsOrder; }
  bool DistinctApplied() const { return FDistinctApplied; }
  bool HasOrder() const { return FHasOrderLists; }
  int64_t TopRowCount() const { return FTopRowCount; }
  int64_t FirstRowNo() const { return FFirstRowNo; }
  virtual bool IsOuterJoin() const { return false; }

 protected:
  // The shared construction: the result table's sessions come from the children.
  TORVAO(std::unique_ptr<TORVAO> LeftAO, std::unique_ptr<TORVAO> RightAO, const std::string& TableName,
         const std::string& TableAlias);

  virtual void InternalFirst() {}
  virtual void InternalNext() {}
  virtual bool InternalGetEof() { return false; }
  virtual int64_t InternalGetRecordCount();

  // Makes link names unique (X, X_1, X_12 ...), after naming each link as at its source.
  void SetFieldNames();
  // A link reading the left child's link FieldLinkNo.
  void AddFieldLink(int32_t FieldLinkNo, bool SkipHiddenFields);
  // One link per visible column of the left child (its select list, or every link).
  void AddVisibleInputLinks();
  // A link reading Source (link FieldNo of AO), with its name, type, size and BLOB settings.
  static TORVFieldLink LinkTo(TORVAO* AO, int32_t FieldNo, const TORVFieldLink& Source);
  void CopyFieldValue(int32_t SrcFieldNo, int32_t DestFieldNo);
  bool GetFieldDatsetAndFieldNo(int32_t FieldNo, TORVAODataset*& Dataset, int32_t& DatasetFieldNo, bool& Direct);
  void CreateResultIndexLists(bool ToClear);
  void FreeResultIndexLists();
  void InternalSetIndex(bool ToClearFields);
  void InternalSetDistinct();
  void DoMaterialize();
  // Runs after the children are executed and before this operator is materialised.
  virtual void PrepareInputs() {}
  virtual void FreeLookAhead() {}
  void SwapChildren() { std::swap(FLeftAO, FRightAO); }

  bool FIsRootAO = false;
  bool FIsAOTable = false;
  bool FIsAOGroupBy = false;
  std::unique_ptr<TORVExpression> FFilterExpr;
  int64_t FTopRowCount = -1;
  int64_t FFirstRowNo = -1;
  bool FHasSetResultFields = false;
  std::string FResultTableName;
  bool FResultInMemory = false;
  bool FResultImmediate = false;
  std::string FResultDatabaseName;
  std::string FTableName;
  std::string FTableAlias;
  bool FIsMaterialized = true;
  std::unique_ptr<TORVAODataset> FResultDataset;
  TORVIntegerArray FResultFieldsOrder;
  bool FLeftAONull = false;
  bool FRightAONull = false;
  bool FDistinctApplied = false;
  std::string FDistinctFields;
  std::vector<int32_t> FDistinctFieldsMap;
  bool FHasOrderLists = false;
  std::vector<std::string> FResultIndexFieldsList, FResultIndexAscDescFieldsList, FResultIndexCaseInsFieldsList;
  bool FExpressionsExists = false;
  bool FIsLocked = false;
  bool FDisableTempFiles = false;
  TORVVariant FValue;
  std::vector<TORVFieldLink> FFieldLinks;
  std::unique_ptr<TORVAO> FLeftAO, FRightAO;
  // The sessions result tables are made with (taken from the children).
  TORVBaseSession* FSession = nullptr;
  TORVBaseSession* FTempSession = nullptr;

 private:
  void CreateTableForMaterialize(std::vector<std::string>& FieldList, std::vector<std::string>& AliasList);
  void FillTableForMaterialize();
  void FinalizeMaterialize(std::vector<std::string>& FieldList, std::vector<std::string>& AliasList);
  std::string CreateIndexForMaterialize(bool BeforeCreateTable);
  void ApplyDistinctToChild(TORVAO* Child);
  // Where the values of the visible link I of the result table come from (physical column).
  TORVFieldDefs FMaterializeFieldDefs;
  TORVIndexDefs FMaterializeIndexDefs;
  std::string FMaterializeIndexName;

  friend class TORVAOJoin;
  friend class TORVAOGroupBy;
  friend class TORVAOTableExpr;
  friend class TORVAOUnion;
  friend class TORVAOSQLTopRowCount;
};

// ---- Table and join operators -------------------------------------------------------------

class TORVAOTable : public TORVAO {
 public:
  // Takes Table over and opens it (a failure: 10303). Every column starts hidden.
  TORVAOTable(const std::string& TableName, std::unique_ptr<TORVAODataset> Table, const std::string& TableAlias,
              bool DisableTempFiles = false);
  void Execute(bool IsRootAO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  void SetResultFields(std::vector<TORVSelectListItem>& FieldRefs, bool bDistinct) override;
  // Hands the requested order to the operator above when no index of the table serves it.
  bool TransferIndexToParentIfNeeded(std::vector<std::string>& FieldNamesList, std::vector<std::string>& AscDescList,
                                     std::vector<std::string>& CaseSensitivityList);
  bool OpenTables() override;
  bool CloseTables() override;
  bool LockTables() override;
  bool UnlockTables() override;

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;
  int64_t InternalGetRecordCount() override;
};

class TORVAOJoin : public TORVAO {
 public:
  // FieldList1 / FieldList2: the join columns of the two sides, position by position (nil for
  // NATURAL and CROSS). JoinCondition (taken over): what remains of an outer join's ON.
  TORVAOJoin(std::unique_ptr<TORVAO> LeftChild, std::unique_ptr<TORVAO> RightChild, TORVJoinType JoinType,
             bool IsNatural, const TORVFields* FieldList1, const TORVFields* FieldList2,
             std::unique_ptr<TORVExpression> JoinCondition);
  void Execute(bool IsRootAO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  bool IsOuterJoin() const override { return FOuterJoin; }
  TORVJoinType JoinType() const { return FJoinType; }

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;
  int64_t InternalGetRecordCount() override;
  // The smaller input drives an inner or full join: the inputs swap with their column lists.
  void PrepareInputs() override;

 private:
  void CompareRecords();
  bool IsJoinConditionValid();
  void DekartNext();
  void MergeNext();
  void MergeRunLeftNext();
  // Integer keys: both inputs are read once in their stored order, their keys and positions
  // sorted here, and the rows merged from the sorted lists (no index walk per row).
  void SortedKeysFirst();
  void SortedKeysNext();
  void ReadSortedKeys(TORVAO* Child, const TORVIntegerArray& Fields, std::vector<int64_t>& Keys,
                      std::vector<uint8_t>& Nulls, std::vector<TORVPageItemID>& Marks, std::vector<int32_t>& Order);
  int CompareSortedKeys(int32_t Left, int32_t Right) const;
  // Places the children on the rows of one output row; -1 reads that side as NULL.
  void PlaceSortedRow(int32_t Left, int32_t Right);

  bool FDekart = false;
  bool FOuterJoin = false;
  bool FInnerJoin = false;
  TORVJoinType FJoinType;
  TORVIntegerArray FFields1, FFields2;
  std::unique_ptr<TORVExpression> FJoinCondition;
  TORVCompareResult FCompareResult = cmprEqual;
  bool FFirstTimeCalled = true;
  bool FEof = false;
  TORVPageItemID FRightBeginBookmark;
  bool FHasBeginBookmark = false;
  // The merge over inputs ordered on the join columns: a run of equal keys pairs every left row
  // with every right row of the run that the rest of the ON condition accepts, and then gives
  // out the right rows of the run that found no partner (right and full joins), so that no row
  // and no pair is lost whatever the condition accepts. FRunMatched marks the matched right rows
  // by their place in the run; it keeps its capacity from run to run.
  enum class TMergeStep : uint8_t { Merge, RunScan, RunRest };
  enum class TMergeMove : uint8_t { None, Left, Right, RunRight, RunLeft };
  TMergeStep FMergeStep = TMergeStep::Merge;
  TMergeMove FMergeMove = TMergeMove::None;
  int64_t FRunLength = -1;  // -1 until the first left row of the run has passed its end
  int64_t FRunIndex = 0;    // place of the right input within the run
  bool FRunLeftMatched = false;
  std::vector<uint8_t> FRunMatched;
  // Sorted-key merge (all column pairs of integer types). Keys: FKeyWidth values per row in
  // stored order; Order: the rows sorted by key (NULL keys first, ties in stored order).
  bool FSortedKeys = false;
  int32_t FKeyWidth = 0;
  std::vector<int64_t> FLeftKeys, FRightKeys;
  std::vector<uint8_t> FLeftNulls, FRightNulls;
  std::vector<TORVPageItemID> FLeftMarks, FRightMarks;
  std::vector<int32_t> FLeftOrder, FRightOrder;
  enum class TSortedStep : uint8_t { Merge, RunPairs, RunRest, Done };
  TSortedStep FSortedStep = TSortedStep::Merge;
  size_t FLeftPos = 0, FRightPos = 0;        // next unread place in each sorted list
  size_t FLeftRunEnd = 0, FRightRunEnd = 0;  // the current run of equal keys: [Pos, RunEnd)
  size_t FRunLeft = 0, FRunRight = 0;        // the pair being tried within the run
  int32_t FLeftAt = -1, FRightAt = -1;       // the rows the children stand on
  bool FFieldsLink = false;
  int32_t FLeftLinkCount = 0;
  TORVVariant FLeftValue, FRightValue;
};

// ---- Union, group-by, computed columns, TOP -------------------------------------------------

class TORVAOUnion : public TORVAO {
 public:
  // Executes both inputs at once. bDistinct: the forms without ALL; FieldList: the
  // CORRESPONDING BY list, nil otherwise.
  TORVAOUnion(std::unique_ptr<TORVAO> LeftChild, std::unique_ptr<TORVAO> RightChild, TORVUnionType UnionType,
              IORVAO* ParentQueryAO, TORVCursor* ParentCursor, bool IsCorresponding, bool bDistinct,
              const TORVFields* FieldList);

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;

 private:
  void CompareRecords();
  void ShowLeftAO();
  void ShowRightAO();
  TORVAODataset& L() const { return *FLeftAO->ResultDataset(); }
  TORVAODataset& R() const { return *FRightAO->ResultDataset(); }

  bool FEof = false;
  TORVUnionType FUnionType;
  bool FDistinct;
  TORVIntegerArray FFields1, FFields2;
  TORVCompareResult FCompareResult = cmprEqual;
  bool FFirstTimeCalled = false;
  bool FShowLeft = true;
  TORVVariant FLeftValue, FRightValue;
};

class TORVAOGroupBy : public TORVAO {
 public:
  // FieldRefs: the select list (GROUP BY may name its aliases); FieldList: the GROUP BY list
  // (nil or empty: one group over every row).
  TORVAOGroupBy(std::unique_ptr<TORVAO> Child, const std::vector<TORVSelectListItem>& FieldRefs,
                const TORVFields* FieldList);
  ~TORVAOGroupBy() override;
  void SetResultFields(std::vector<TORVSelectListItem>& FieldRefs, bool bDistinct) override;
  bool IsCountAll();
  const std::string& GroupByFields() const { return FGroupByFields; }

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override { return FEOF; }
  int64_t InternalGetRecordCount() override { return FLeftAO->GetRecordCount(); }
  // Opens the look-ahead reader on the input's result.
  void PrepareInputs() override;
  void FreeLookAhead() override;

 private:
  void CompareRecords();
  void Init();
  void Accumulate();
  void DoCountAll();
  void Iterate(bool FirstTimeCalled);
  void MoveInput();
  void MoveLookAhead();

  std::unique_ptr<TORVAODataset> FTempDataset;
  bool FFirstTimeCalled = false;
  bool FAllFields;
  TORVIntegerArray FFields;
  TORVCompareResult FCompareResult = cmprEqual;
  bool FEOF = false;
  std::string FGroupByFields;
  TORVVariant FInputValue, FAheadValue;
};

class TORVAOTableExpr : public TORVAO {
 public:
  explicit TORVAOTableExpr(std::unique_ptr<TORVAO> Child);
  void Execute(bool IsRootAO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  void SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) override;

 protected:
  void InternalFirst() override { FLeftAO->First(); }
  void InternalNext() override { FLeftAO->Next(); }
  bool InternalGetEof() override { return FLeftAO->GetEof(); }
  int64_t InternalGetRecordCount() override { return FLeftAO->GetRecordCount(); }

 private:
  void ReplacePseudonymsInIndexFields();
  void AddHiddenIndexFields();
};

class TORVAOSQLTopRowCount : public TORVAO {
 public:
  explicit TORVAOSQLTopRowCount(std::unique_ptr<TORVAO> Child);
  // TOP n, m: SetTopRowCount(m, n); m -1 when absent.
  void SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) override;

 protected:
  void InternalFirst() override { FLeftAO->First(); }
  void InternalNext() override { FLeftAO->Next(); }
  bool InternalGetEof() override { return FLeftAO->GetEof(); }
  int64_t InternalGetRecordCount() override { return FLeftAO->GetRecordCount(); }
};

// ---- Unit functions -------------------------------------------------------------------------

void ConvertIndexFieldNamesToLists(const std::string& FieldNames, const std::string& DescFields,
                                   const std::string& CaseInsFields, std::vector<std::string>& FieldList,
                                   std::vector<std::string>& AscDescList, std::vector<std::string>& CaseInsList);
void ConvertListsToIndexFieldNames(std::string& FieldNames, std::string& DescNames, std::string& CaseInsNames,
                                   const std::vector<std::string>& FieldList,
                                   const std::vector<std::string>& AscDescList,
                                   const std::vector<std::string>& CaseInsList);

}  // namespace orv
