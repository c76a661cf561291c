#pragma once
// The nodes of an expression tree: the abstract node with its 22 operations, constants, field
// references, comparisons and the Boolean operators. A node evaluates its children first and
// writes its result into a value object of its own, which it returns; the caller reads it
// before the next evaluation and never keeps it. Filters, Locate, defaults and every SQL
// clause are made of these nodes (the function nodes are in orv_expressions_functions.h, the
// aggregates in orv_expressions_aggregates.h).
//
// Three things a node may need live in layers that are built on top of this one: the
// relational operators (a field reference can be bound to an operator's columns instead of a
// cursor), the subquery node (EXISTS, IN (SELECT ...) and quantified comparisons ask it) and
// the scan planning of the expression object. The nodes reach the first two through the small
// interfaces below, so that they are complete and testable on their own.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_types.h"
#include "dbengine/storage/orv_variant.h"

namespace orv {

class TORVExpression;  // the expression object that owns a tree (scan planning hands it on)
class TORVExprNode;
using TORVExprNodePtr = std::unique_ptr<TORVExprNode>;

// The quantifier of a comparison with a subquery: x > ALL (SELECT ...), x = ANY (SELECT ...).
enum TORVQuantifier : uint8_t { qUNDEFINED, qALL, qANY };

// One entry of a select list, GROUP BY list or join column list.
struct TORVSelectListItem {
  std::string TableName;  // the qualifier, empty when none
  bool AllFields = false;  // "*" or "table.*"
  std::string FieldName;
  bool IsExpression = false;  // ValueExpr holds the item
  bool IsDuplicatedField = false;
  // Owned by the item until an operator takes it over; the select list code frees it.
  TORVExpression* ValueExpr = nullptr;
  std::string Pseudonym;  // the alias given with AS
};

// What a field reference needs of a relational operator: its columns by name, their
// description and the current row's values. The operators of the SQL layer implement it.
class IORVAO {
 public:
  // The number of columns FieldName (of TableName, when given) denotes; their numbers are
  // appended to FieldNumbers when it is given. Unhide makes matching hidden columns visible.
  virtual int32_t FieldExists(const std::string& FieldName, const std::string& TableName, bool Unhide,
                              TORVIntegerArray* FieldNumbers, bool UnhideChildrenOnly,
                              bool ScanOnlyVisibleFields) = 0;
  // The current row's value of column FieldNo (linked to the operator's buffer unless bCopy).
  virtual void GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool bCopy, bool AccessToHidden) = 0;
  virtual TORVAdvancedFieldType GetFieldType(int32_t FieldNo) = 0;
  virtual int32_t GetFieldSize(int32_t FieldNo) = 0;
  virtual int32_t GetFieldPrecision(int32_t FieldNo) = 0;
  virtual std::string GetFieldNameByColumnNo(int32_t ColumnNo) = 0;
  // Only a grouping operator can evaluate aggregates.
  virtual bool IsAOGroupBy() const = 0;

 protected:
  virtual ~IORVAO() = default;
};

// What the Boolean and comparison nodes ask of a subquery node (the SQL statement layer's
// subquery node implements it next to TORVExprNode).
class IORVSubqueryNode {
 public:
  virtual bool Exists() = 0;
  virtual bool IsValueIn(const TORVVariant& Value) = 0;
  // Value op ANY (S) or Value op ALL (S).
  virtual bool QuantifiedCompare(TORVDataOperator Operator, TORVQuantifier Quantifier, const TORVVariant& Value) = 0;

 protected:
  virtual ~IORVSubqueryNode() = default;
};

// Scan conditions of the storage core hold the nodes they were made from by this base.
class TORVExpressionNode {
 public:
  virtual ~TORVExpressionNode() = default;
};

// The result of a predicate, kept in two bytes of the node itself that the node's value links
// to: a filter evaluates its predicates for every record, and this way a result costs neither
// an allocation nor the general setter.
class TORVBooleanResult {
 public:
  void Set(TORVVariant& Value, bool Result) {
    bytes_[0] = Result ? 1 : 0;
    bytes_[1] = 0;
    Value.SetData(bytes_, 2, bftLogical, false);
  }

 private:
  uint8_t bytes_[2] = {0, 0};
};

// The operand of a comparison converted to the type both sides are compared in, kept while
// the operand's value stays the same. A filter compares a date-time column with a text constant
// for every record: converting the text each time (parse, allocate, free) was most of the
// filter's work. The conversion depends only on the bytes and the two types, so a kept one is
// used only when all three match.
class TORVCastMemo {
 public:
  TORVCastMemo() = default;
  TORVCastMemo(const TORVCastMemo&) = delete;
  TORVCastMemo& operator=(const TORVCastMemo&) = delete;
  ~TORVCastMemo();
  // Value (not NULL) converted to Type; the buffer stays valid until the next call.
  const void* Get(const TORVVariant& Value, TORVBaseFieldType Type, int32_t& Size);

 private:
  void Free();
  TORVBaseFieldType from_ = bftUnknown;
  TORVBaseFieldType to_ = bftUnknown;
  std::string source_;
  void* cast_ = nullptr;
  int32_t cast_size_ = 0;
};

// ---- The abstract node ----------------------------------------------------------------------

class TORVExprNode : public TORVExpressionNode {
 public:
  TORVExprNode(bool CaseInsensitive, bool PartialKey);
  TORVExprNode(TORVDataOperator Op, bool CaseInsensitive, bool PartialKey);
  TORVExprNode(TORVDataOperator Op, TORVExprNodePtr Node, bool CaseInsensitive, bool PartialKey);
  TORVExprNode(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2, bool CaseInsensitive,
               bool PartialKey);
  TORVExprNode(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2, TORVExprNodePtr Node3,
               bool CaseInsensitive, bool PartialKey);
  ~TORVExprNode() override;
  TORVExprNode(const TORVExprNode&) = delete;
  TORVExprNode& operator=(const TORVExprNode&) = delete;

  // ---- The 22 operations, in slot order ----
  // 0: makes wide-string constants compared with 8-bit columns 8-bit (passed to the children).
  virtual void PatchWideStrings();
  // 1: evaluates the node for the bound record; the value belongs to the node.
  virtual TORVVariant& GetDataValue() = 0;
  // 2, 3: row subqueries (UPDATE ... SET (a, b) = (SELECT ...)); nil when there is no such field.
  virtual void ResetSubqueryFieldValues();
  virtual TORVVariant* GetSubqueryFieldValue(int32_t FieldNo);
  // 4 to 8: aggregation, driven by the grouping operator.
  virtual bool IsAggregated();
  virtual bool IsAggregatedCountAll();
  virtual void Init();
  virtual void Accumulate();
  virtual void SetCountAll(int32_t RecordCount);
  // 9 to 11: binding of the field references.
  virtual void AssignAO(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor);
  virtual void AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor);
  virtual void AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields);
  // 12 to 14: the description of the result column. No type: 30283.
  virtual TORVAdvancedFieldType GetDataType();
  virtual int32_t GetDataSize();
  virtual int32_t GetPrecision();
  // 15: whether the node can be evaluated at AO (filter push-down).
  virtual bool CanBeAssigned(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor, bool ForHavingClause);
  // 16 to 19: index scans and join fields (orv_expressions_planning.cpp). Comparisons of a
  // column with a constant and IS [NOT] NULL can serve an index; equalities of two columns of
  // different operators can pair a join. Every other node serves neither.
  // Whether this node can give the key value of index column IndexColumnNo of IndexDef; a
  // later column only after an equality (ConditionSearchOperator). SessionID: whose temporary
  // indexes may serve the first column.
  virtual bool CanUseIndex(int32_t IndexColumnNo, TORVSearchCondition ConditionSearchOperator,
                           const TORVIndexDef* IndexDef, int32_t SessionID);
  // Appends a new condition on IndexDef's first column made from this node.
  virtual void AddAsIndexScanCondition(TORVScanSearchConditionArray& ScanConditions, const TORVIndexDef* IndexDef,
                                       TORVExpression* Expression);
  // Adds this node's key value as the condition's next key column.
  virtual void ExtendIndexScanCondition(TORVScanSearchCondition& ScanCondition, const TORVIndexDef* IndexDef,
                                        TORVExpression* Expression);
  virtual bool IsJoinCondition(IORVAO* AO1, IORVAO* AO2);
  // 20, 21: select-list aliases and GROUP BY.
  virtual void ReplacePseudonyms(const std::vector<TORVSelectListItem>& SelectList);
  virtual bool CanBeUsedInGroupBy(const std::string& GroupByFields);

  // Writes Value into field FieldNo of the condition's key buffer (a NULL value sets its null
  // flag, another is converted to the field's type), counts the key column and records this
  // node as taken from Expression. A nil Expression records nothing: the node then stays in
  // its expression and is still tested on every record.
  void FillScanCondition(TORVVariant& Value, TORVCursor* Cursor, int32_t IndexColumnNo, int32_t FieldNo,
                         const TORVIndexDef* IndexDef, TORVExpression* Expression,
                         TORVScanSearchCondition& ScanCondition);

  // ---- Tree access ----
  int32_t ChildCount() const { return static_cast<int32_t>(Children.size()); }
  // nil beyond the children.
  TORVExprNode* Child(int32_t i) const {
    return i >= 0 && i < ChildCount() ? Children[static_cast<size_t>(i)].get() : nullptr;
  }
  // The operand i of an evaluation: a missing one is an error (30625), never a crash.
  TORVExprNode& Operand(int32_t i) const;
  void AddChild(TORVExprNodePtr Node) { Children.push_back(std::move(Node)); }
  // Puts a CAST to DataType over the child Node in its place and returns the new child.
  TORVExprNode* WrapChildInCast(TORVExprNode* Node, TORVAdvancedFieldType DataType);

  // Owned, in operand order; planning may leave an entry nil.
  std::vector<TORVExprNodePtr> Children;
  TORVDataOperator Operator = doUNDEFINED;
  TORVVariant Value{bftUnknown};  // the last result
  bool FCaseInsensitive;
  bool FPartialKey;
};

// ---- Constants ------------------------------------------------------------------------------

class TORVExprNodeConst : public TORVExprNode {
 public:
  // The parser fills Value.
  TORVExprNodeConst() : TORVExprNode(true, false) {}

  TORVVariant& GetDataValue() override { return Value; }
  TORVAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
  bool CanBeAssigned(IORVAO*, IORVAO*, TORVCursor*, bool) override { return true; }

  // A text of at least two characters whose first "%" is its last character (a prefix LIKE).
  bool IsLikePatternEqualToPartialComparePattern() const;
  // Removes the last character; the text keeps its width.
  void TruncateForPartialCompare();
  bool IsUpperCase() const;
  bool IsLowerCase() const;
};

// ---- Field references -----------------------------------------------------------------------

class TORVExprNodeField : public TORVExprNode {
 public:
  // Binds to Cursor at once when one is given (an unknown name: 30115).
  TORVExprNodeField(TORVCursor* Cursor, const std::string& FieldName, const std::string& TableName);

  TORVVariant& GetDataValue() override;
  void AssignAO(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  void AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  void AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) override;
  TORVAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override { return FFieldSize; }
  bool CanBeAssigned(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor, bool ForHavingClause) override;
  void ReplacePseudonyms(const std::vector<TORVSelectListItem>& SelectList) override;
  bool CanBeUsedInGroupBy(const std::string& GroupByFields) override;

  void FillItem(TORVSelectListItem& Item) const;
  // The field's number in Cursor's full field list (looked up by name, then among the visible
  // fields, then by the operator column name); False when Cursor has no such field.
  bool FindFieldInCursor(TORVCursor* Cursor, int32_t& FieldNo) const;
  bool TryAssignAO(IORVAO* AOToAssign);

  TORVCursor* LCursor = nullptr;     // borrowed
  IORVAO* LAO = nullptr;             // borrowed
  const void* LRecordBuffer = nullptr;  // borrowed: the record under test
  std::string FTableName;
  std::string FFieldName;
  std::string FFieldNameInAO;
  int32_t FFieldNo = -1;
  int32_t FFieldOffsetInBuffer = 0;
  TORVAdvancedFieldType FFieldType = aftUnknown;
  TORVBaseFieldType FBaseFieldType = bftUnknown;
  int32_t FFieldSize = 0;
  int32_t FFieldPrecision = 0;
  bool FGetFromParent = false;  // a column of the outer query of a subquery
  bool FScanOnlyVisibleFieldsInAO = false;

 private:
  void ReadBlobText();
};

// ---- Comparisons ----------------------------------------------------------------------------

class TORVExprNodeComparison : public TORVExprNode {
 public:
  TORVExprNodeComparison(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2, bool TrueFalseNullLogic,
                         bool CaseInsensitive, bool PartialKey);
  // Node2 is a subquery node.
  TORVExprNodeComparison(TORVDataOperator Op, TORVQuantifier Quantifier, TORVExprNodePtr Node1,
                         TORVExprNodePtr Node2, bool TrueFalseNullLogic, bool CaseInsensitive, bool PartialKey);

  void PatchWideStrings() override;
  TORVVariant& GetDataValue() override;

  // The column and the constant of a comparison an index may serve (either may be nil). A
  // column inside UPPER or LOWER counts when the constant has that case, which makes the
  // comparison case-insensitive for good.
  // The constant side may be a column of the outer query (fixed while this query is scanned).
  void GetFieldAndConstNodes(TORVExprNodeField*& FieldNode, TORVExprNode*& ConstNode);
  // The field reference of Node, looking inside UPPER and LOWER; another node: 30624.
  static TORVExprNodeField* GetFieldNode(TORVExprNode* Node);

  bool CanUseIndex(int32_t IndexColumnNo, TORVSearchCondition ConditionSearchOperator, const TORVIndexDef* IndexDef,
                   int32_t SessionID) override;
  void AddAsIndexScanCondition(TORVScanSearchConditionArray& ScanConditions, const TORVIndexDef* IndexDef,
                               TORVExpression* Expression) override;
  void ExtendIndexScanCondition(TORVScanSearchCondition& ScanCondition, const TORVIndexDef* IndexDef,
                                TORVExpression* Expression) override;
  // An equality of two plain columns of this query, one found once in AO1 and the other once
  // in AO2 (either way round). A column found more than once over both: 10404 (first operand)
  // or 10405 (second).
  bool IsJoinCondition(IORVAO* AO1, IORVAO* AO2) override;

  bool F3ValueLogic;
  TORVQuantifier FQuantifier = qUNDEFINED;

 private:
  void SetResult(bool Result);
  TORVVariant& GetDataValueByCompare();
  TORVVariant& GetDataValueByQuantifiedCompare();
  // The side of the comparison (0 or 1) whose value stays the same from record to record (a
  // constant), -1 for none; looked up again when the children change.
  int32_t ConstantSide();

  TORVBooleanResult FResult;
  TORVCastMemo FConstantCast;
  const TORVExprNode* FSideChecked[2] = {nullptr, nullptr};
  int32_t FConstantSide = -1;
  // The type two operand types are compared in, for the last pair of types seen.
  TORVBaseFieldType FCommonOf[2] = {bftUnknown, bftUnknown};
  TORVBaseFieldType FCommon = bftUnknown;
};

// ---- Boolean operators ----------------------------------------------------------------------

class TORVExprNodeBoolean : public TORVExprNode {
 public:
  TORVExprNodeBoolean(bool CaseInsensitive, bool PartialKey);
  TORVExprNodeBoolean(TORVDataOperator Op, bool CaseInsensitive, bool PartialKey, const std::string& aEscapeStr);
  TORVExprNodeBoolean(TORVDataOperator Op, TORVExprNodePtr Node, bool CaseInsensitive, bool PartialKey);
  TORVExprNodeBoolean(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2, bool CaseInsensitive,
                      bool PartialKey);
  TORVExprNodeBoolean(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2, TORVExprNodePtr Node3,
                      bool CaseInsensitive, bool PartialKey);

  TORVVariant& GetDataValue() override;

  // IS NULL and IS NOT NULL of a column serve an index (a NULL key value).
  bool CanUseIndex(int32_t IndexColumnNo, TORVSearchCondition ConditionSearchOperator, const TORVIndexDef* IndexDef,
                   int32_t SessionID) override;
  void AddAsIndexScanCondition(TORVScanSearchConditionArray& ScanConditions, const TORVIndexDef* IndexDef,
                               TORVExpression* Expression) override;
  void ExtendIndexScanCondition(TORVScanSearchCondition& ScanCondition, const TORVIndexDef* IndexDef,
                                TORVExpression* Expression) override;

  TORVVariant TempVal{bftLogical};  // scratch for child values
  std::string EscapeStr;            // LIKE's escape text (8-bit), empty when none

 private:
  bool bInSubquery();
  bool Exists();
  // The text of a LIKE operand as a terminated 8-bit string, without a copy when the value
  // already is one.
  const char* Text8Of(const TORVVariant& V, std::string& Scratch) const;
  const char16_t* Text16Of(const TORVVariant& V, std::u16string& Scratch) const;
  std::optional<bool> Like();
  std::optional<bool> bIn();
  std::optional<bool> Between();

  // The result is a Boolean or NULL; nullopt stands for NULL.
  void SetResult(std::optional<bool> Result);
  std::optional<bool> Truth(int32_t ChildNo) const;

  std::string FLikeValue8, FLikePattern8;  // reused, so that LIKE allocates nothing per record
  std::u16string FLikeValue16, FLikePattern16;
  TORVBooleanResult FResult;
};

// ---- Unit helpers ---------------------------------------------------------------------------

// A field reference of this query (not of an outer query), or UPPER/LOWER of one.
bool CanUseNodeAsField(TORVExprNode* Node);
// A constant, or a field of the outer query (fixed while the inner query is scanned).
bool CanUseNodeAsConst(TORVExprNode* Node);
// A Boolean AND node (the shape planning flattens and takes conjuncts from).
bool IsAndNode(const TORVExprNode* Node);
// Table, column and alias names are equal regardless of letter case.
bool SameName(std::string_view A, std::string_view B);

// The operator as error messages show it ("=", "AND", "COUNT(*)" ...); "unknown" for the rest.
std::string GetOperatorName(TORVDataOperator op);
// Names separated by ";", each trimmed and upper-cased; empty pieces are kept.
void FillFieldNames(std::vector<std::string>& List, std::string_view Names);
// The piece of Fields from the 1-based Pos to the next ";" (trimmed); Pos moves past the ";".
std::string ExtractFieldName(std::string_view Fields, int32_t& Pos);
// x op y as y op' x (> becomes <); doUNDEFINED for other operators.
TORVDataOperator ReverseComparisonOperator(TORVDataOperator op);
// The negation (> becomes <=); doUNDEFINED for other operators.
TORVDataOperator InvertComparisonOperator(TORVDataOperator op);

}  // namespace orv
