#pragma once
// The expression object: the one thing through which the engine parses and evaluates an
// expression. It owns a tree of nodes (orv_expressions_nodes.h and the function and aggregate
// nodes) and builds it from a filter text, from the keys of a Locate, from one
// field-operator-value condition, from a field's default-value text, or from the current
// position of an SQL lexer (a search condition, a value expression or a row subquery). It
// binds the tree's field references to a cursor, a record buffer or a relational operator,
// evaluates it for the bound record, and offers the tree edits that grouping and scan
// planning make.
//
// The storage core reaches it only through its seams: IORVExpression (filters, Locate and the
// any-record question of the local cursor, created through IORVExpressionFactory) and
// IORVDefaultValueExpression (field defaults such as NOW). TORVExpressionFactory below is that
// factory; the program registers it at start-up (RegisterExpressionEngine).
//
// Subqueries (EXISTS, IN (SELECT ...), scalar and quantified subqueries) run through the SQL
// statement layer, which registers how a subquery node is made (SetSubqueryNodeFactory). A
// subquery node reads its SELECT from the lexer of the statement, so it may appear only where
// that lexer outlives the tree: filters, Locate and default values lex their text themselves
// and refuse SELECT with error 30626.
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_nodes.h"
#include "dbengine/sql/orv_sql_lexer.h"
#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_types.h"
#include "dbengine/storage/orv_variant.h"

namespace orv {

// What an expression needs of the query component that runs the statement it belongs to:
// LASTAUTOINC opens its table in the query's database and session, and subqueries run
// through the query. The statement processor implements it over its query component.
class IORVQueryDataset {
 public:
  virtual std::string GetDatabaseName() const = 0;
  virtual std::string GetSessionName() const = 0;

 protected:
  virtual ~IORVQueryDataset() = default;
};

// Makes the node of a nested SELECT standing at the lexer's current token (SELECT). The node
// implements IORVSubqueryNode, parses the SELECT to step over it and leaves the lexer on the
// first token after it (before the closing parentheses, which the grammar reads). The lexer
// and the dataset are borrowed by the node and must outlive it.
class IORVSubqueryNodeFactory {
 public:
  virtual ~IORVSubqueryNodeFactory() = default;
  virtual TORVExprNodePtr CreateSubqueryNode(IORVQueryDataset* Dataset, TORVLexer& Lexer, bool MustHaveOneRow,
                                             bool MustHaveOneField) = 0;
};

// Borrowed; nil unregisters. Returns the previous factory. Without one, a SELECT inside an
// SQL expression raises std::logic_error naming the missing statement layer.
IORVSubqueryNodeFactory* SetSubqueryNodeFactory(IORVSubqueryNodeFactory* Factory);
IORVSubqueryNodeFactory* GetSubqueryNodeFactory();

class TORVAO;      // a relational operator (orv_relational_algebra.h)
class TORVFields;  // a join column list (orv_relational_algebra.h)

// The sign in front of a factor.
enum TSign : uint8_t { sgnUndefined, sgnPlus, sgnMinus };

class TORVExpression : public IORVExpression, public IORVDefaultValueExpression {
 public:
  // Empty: no root, no lexer, case-sensitive, whole values, three-valued logic.
  TORVExpression();
  // Takes RootNode over as the root.
  explicit TORVExpression(TORVExprNodePtr RootNode);
  ~TORVExpression() override;
  TORVExpression(const TORVExpression&) = delete;
  TORVExpression& operator=(const TORVExpression&) = delete;

  // Frees the tree.
  void Clear();

  // ---- Entry points that build the tree ----
  // One equality per name of FieldNames (";"-separated) with the key value of the same
  // position, joined by AND; two-valued, so a NULL key finds a NULL field. A number given for
  // a date or time field is a date-time. Counts that differ: 30112; an unknown field: 30115.
  void ParseForLocate(TORVCursor* Cursor, const std::string& FieldNames, const std::vector<TORVVarValue>& KeyValues,
                      bool CaseInsensitive, bool PartialKey);
  // The first search condition of Filter (program text, UTF-8), bound to Cursor; what follows
  // it is not examined. A blank text: 30119. No subqueries (30626).
  void ParseForFilter(TORVCursor* Cursor, const std::string& Filter, bool CaseInsensitive, bool PartialKey);
  // FieldName Operator Value (doEQ to doLE), two-valued, bound to Cursor.
  void ParseForIsAnyRecordMatchCondition(TORVCursor* Cursor, const std::string& FieldName, TORVDataOperator Operator,
                                         const TORVVariant& Value);
  // A search condition from the lexer's current token; the lexer is left on the first token
  // after it. No token: 30118; no condition: 30066. The lexer and the dataset are borrowed.
  void ParseForBooleanExpression(IORVQueryDataset* Dataset, TORVLexer* Lexer);
  // A value expression from the lexer's current token; an empty tree when the tokens form
  // none (the caller checks IsEmpty). No token: 30136.
  void ParseForValueExpression(IORVQueryDataset* Dataset, TORVLexer* Lexer);
  // A row subquery (UPDATE ... SET (a, b) = (SELECT ...)); an empty tree when none starts
  // here. No token: 30497.
  void ParseForRowSubqueryExpression(IORVQueryDataset* Dataset, TORVLexer* Lexer);
  // A default-value text (program text) as a value expression that uses the whole text (one
  // unused token at the end is tolerated). False, never an exception, when it is not one.
  bool ParseForDefaultValueExpression(const std::string& DefaultValue);

  // ---- Evaluation ----
  // The root's value for the bound record, owned by the root node; nil for an empty tree.
  // Without TrueFalseNullLogic a NULL result becomes False (in the node's value).
  TORVVariant* GetValue(bool TrueFalseNullLogic) override;
  // GetValue(False) as a Boolean; an empty tree: 30110.
  bool GetResult() override;

  // ---- Binding (passed to the root; binding to a cursor or operator then patches the
  // wide-string constants compared with 8-bit columns, a record buffer changes no type) ----
  void AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  void AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) override;
  void AssignAO(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor);

  // ---- Aggregation (an empty tree answers False or does nothing) ----
  bool IsAggregated();
  bool IsAggregatedCountAll();
  void Init();
  void Accumulate();
  void SetCountAll(int32_t RecordCount);

  // ---- Row subqueries ----
  void ResetSubqueryFieldValues();
  TORVVariant* GetSubqueryFieldValue(int32_t FieldNo);

  // ---- The result column (an empty tree: aftUnknown, 0) ----
  TORVAdvancedFieldType GetDataType();
  int32_t GetDataSize();
  int32_t GetPrecision();

  // ---- Shape ----
  // No root, or a Boolean root whose children were all taken out.
  bool IsEmpty() const override;
  bool IsField() const;
  // The root, or one of its direct children, is a field reference.
  bool IsFieldsExpression() const;
  // The root field reference's names; another root: 30198.
  void GetFieldInfo(std::string& TableName, std::string& FieldName) const;
  bool CanBeUsedInGroupBy(const std::string& GroupByFields);

  // ---- Tree edits of planning ----
  // AND nodes directly under a root AND are flattened into it (at any depth of AND chains).
  void MoveAndNodesToRoot();
  // Makes Node (a TORVExprNode) the root of an empty expression, else appends it to the
  // root's children; the expression owns it from then on.
  void AddNode(TORVExpressionNode* Node) override;
  // Merges Expr's tree into this one under an AND; Expr is left empty. Expr must have a root.
  void AddAndMoveNodesFromExpression(TORVExpression& Expr);
  void ReplacePseudonyms(const std::vector<TORVSelectListItem>& SelectList);
  // Filter push-down: the conjuncts of the root that AO can evaluate alone move into AO's
  // filter; with AllowRecurse the children of AO are served first (left, then right), so that
  // every part lands at the deepest operator that can evaluate it. Nothing moves below an
  // outer join. (orv_expressions_planning.cpp)
  void ApplyFilterParts(TORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor, bool AllowRecurse,
                        bool ForHavingClause);
  // Join fields: every equality of the root (or of a root AND) between a column of AO1 and a
  // column of AO2 is taken out and its operands appended to FieldList1 and FieldList2, in the
  // comparison's order. Returns the number of pairs.
  int32_t ExtractJoinConditions(TORVAO* AO1, TORVAO* AO2, TORVFields& FieldList1, TORVFields& FieldList2);
  // Index scans: each comparison or IS [NOT] NULL of the root (or of a root AND) is offered to
  // every index; the nodes decide whether they can serve one.
  void CreateIndexScanConditions(const IORVScanIndexDefs& IndexDefs, TORVScanSearchConditionArray& ScanConditions,
                                 int32_t SessionID) override;
  bool ExtendMultiFieldIndexCondition(TORVScanSearchCondition& ScanCondition, const TORVIndexDef* IndexDef) override;
  // Detaches (without freeing) the nodes the chosen conditions were made from; the storage
  // core gives them back with AddNode after the search.
  void RemoveExtractedNodes(TORVScanSearchConditionArray& ScanConditions, int32_t ScanConditionNo,
                            int32_t ScanEndConditionNo) override;

  // ---- Token access of the grammar ----
  bool GetCurrentToken();
  bool GetNextToken();
  // Advances; no further token: 30063 (or False), a type outside a non-empty PermittedTypes:
  // 30064 (or False).
  bool GetNextToken(TTokenTypes PermittedTypes, bool RaiseExceptions);
  void SaveState(int32_t& SavedTokenNo) const;
  void RestoreState(int32_t SavedTokenNo);

  TORVExprNode* Root() const { return FRootExprNode.get(); }
  // Gives the tree away; the expression is empty afterwards.
  TORVExprNodePtr ReleaseRoot() { return std::move(FRootExprNode); }

  TORVLexer* LLex = nullptr;  // borrowed; nil outside parsing for trees built directly
  TToken Token;               // the lexer's current token while parsing
  TORVCursor* LCursor = nullptr;        // borrowed
  IORVQueryDataset* LDataset = nullptr;  // borrowed
  bool FCaseInsensitive = false;
  bool FPartialKey = false;
  bool F3ValueLogic = true;
  bool FInMemory = false;  // LASTAUTOINC opens its table in memory
  std::string FDatabaseName;
  std::string FSessionName;
  // Whether a SELECT may stand in the expression: only where the lexer outlives the tree
  // (filters and default values lex their text for the moment of parsing).
  bool FSubqueriesAllowed = true;

 private:
  // ---- The grammar (orv_expressions_grammar.cpp) ----
  // A recursive-descent parser with backtracking: every method either returns a node and
  // leaves the lexer on the first token after what it used, or returns nil and leaves the
  // lexer where it was, so that the caller can try its next alternative. Errors are raised
  // only where a construct was recognised by its keyword and then turns out malformed.
  TORVExprNodePtr ParseSearchCondition();
  TORVExprNodePtr ParseBooleanTerm();
  TORVExprNodePtr ParseBooleanFactor();
  TORVExprNodePtr ParseBooleanTest();
  TORVExprNodePtr ParseBooleanPrimary();
  TORVExprNodePtr ParsePredicate();
  TORVExprNodePtr ParseTrueFalseConst();
  TORVExprNodePtr ParseNullConst();
  // Every predicate but EXISTS starts with a row value: ParsePredicate reads it once and hands
  // it to these, which take it over on success and leave it untouched otherwise.
  TORVExprNodePtr ParseQuantifiedComparisonPredicate(TORVExprNodePtr& Left);
  TORVExprNodePtr ParseComparisonPredicate(TORVExprNodePtr& Left);
  TORVExprNodePtr ParseLikePredicate(TORVExprNodePtr& Left);
  TORVExprNodePtr ParseNullPredicate(TORVExprNodePtr& Left);
  TORVExprNodePtr ParseBetweenPredicate(TORVExprNodePtr& Left);
  TORVExprNodePtr ParseInPredicate(TORVExprNodePtr& Left);
  TORVExprNodePtr ParseExistsPredicate();
  TORVExprNodePtr ParseRowValueConstructor();
  TORVExprNodePtr ParseRowValueConstructorElement();
  TORVExprNodePtr ParseRowSubquery(bool MustHaveOneRow, bool MustHaveOneField);
  TORVExprNodePtr ParseValueExpression();
  TORVExprNodePtr ParseNumericValueExpression();
  // Sign is the sign written before the term; its first factor takes it.
  TORVExprNodePtr ParseTerm(TSign Sign);
  TORVExprNodePtr ParseFactor(TSign Sign);
  TORVExprNodePtr ParseNumericPrimary();
  TORVExprNodePtr ParseValueExpressionPrimary();
  TORVExprNodePtr ParseUnsignedValueSpecification();
  TORVExprNodePtr ParseUnsignedNumericLiteral();
  TORVExprNodePtr ParseGeneralLiteral();
  TORVExprNodePtr ParseCharacterStringLiteral();
  TORVExprNodePtr ParseDateTimeLiteral();
  TORVExprNodePtr ParseColumnReference();
  TORVExprNodePtr ParseSetFunctionSpecification();
  TORVExprNodePtr ParseCastSpecification();
  TORVExprNodePtr ParseNumericValueFunction();
  TORVExprNodePtr ParsePositionExpression();
  TORVExprNodePtr ParseExtractExpression();
  TORVExprNodePtr ParseLengthExpression();
  TORVExprNodePtr ParseLastAutoIncExpression();
  TORVExprNodePtr ParseRowNumExpression();
  TORVExprNodePtr ParseMathExpression();
  TORVExprNodePtr ParseSingleArgMathExpression(TReservedWord rw, TORVDataOperator op, const std::string& OpText);
  TORVExprNodePtr ParsePOWERExpression();
  TORVExprNodePtr ParseROUNDExpression();
  TORVExprNodePtr ParseStringValueExpression();
  TORVExprNodePtr ParseCharacterFactor();
  TORVExprNodePtr ParseStringValueFunction();
  TORVExprNodePtr ParseDatetimeValueExpression();
  TORVExprNodePtr ParseToDateFunction();
  TORVExprNodePtr ParseIntervalValueExpression();
  TORVExprNodePtr ParseCaseExpression();
  TORVExprNodePtr ParseCoalesce();
  TORVExprNodePtr ParseSimpleCase();
  TORVExprNodePtr ParseSearchedCase();
  TORVExprNodePtr ParseBlobExpression();
  // Each consumes its token only when it recognises one.
  TORVDataOperator ParseCompOp();
  TORVQuantifier ParseQuantifier();
  TSign ParseSign();

  // Grammar helpers.
  bool IsSymbol(const char* Text) const;
  bool IsWord(TReservedWord Word) const;
  bool IsTokenType(TTokenType Type) const;
  // The current token can begin no operand (the end, ")", ",", an operator, a word such as AND
  // or THEN): an operator just read before it has lost its operand.
  bool EndsOperand() const;
  // The operator of the first word of Words that the current token is; doUNDEFINED for none.
  TORVDataOperator WordOperator(std::initializer_list<std::pair<TReservedWord, TORVDataOperator>> Words) const;
  // The current token must be Type (or Word): it is consumed, else Code is raised with Text as
  // the token expected.
  void Expect(TTokenType Type, int32_t Code, const char* Text);
  void ExpectWord(TReservedWord Word, int32_t Code, const char* Text);
  // Node, which a function needs as its argument: nil raises Code naming Function.
  TORVExprNodePtr Argument(TORVExprNodePtr Node, int32_t Code, const std::string& Function) const;
  // [NOT] Word, both consumed; False (with the lexer moved) when Word is not there.
  bool ParseNegatableWord(TReservedWord Word, bool& Negated);
  // [ELSE value] END of both CASE forms.
  void ParseCaseElseAndEnd(TORVExprNodeCase& Node, int32_t ElseCode, int32_t EndCode);
  // A subquery node at the current token (SELECT); refused where no lexer outlives the tree.
  TORVExprNodePtr CreateSubqueryNode(bool MustHaveOneRow, bool MustHaveOneField);
  // Counts parse steps and nesting, so that no text can make the parser run for ever or
  // exhaust the stack (30627, 30628).
  void CountStep();
  class TNesting;
  class TOwnLexer;
  // Backtracking reads the same tokens again and again; with parentheses nested in each other
  // that work would multiply with every level. What one parse learns is kept for the rest of
  // it: the positions where no value expression starts, and the nodes an alternative built and
  // then gave up (a parenthesised text that is no number, a row value no predicate follows),
  // which the next alternative asking for the same thing at the same position takes over.
  enum TStashKind : uint8_t { skPrimary, skStringValue, skRowValue };
  struct TStashed {
    TORVExprNodePtr Node;
    int32_t EndTokenNo = 0;
  };
  void Stash(TStashKind Kind, int32_t StartTokenNo, int32_t EndTokenNo, TORVExprNodePtr Node);
  TORVExprNodePtr Unstash(TStashKind Kind);

  void BeginParse(TORVLexer* Lexer);
  // Clear, bind to the query and the lexer; no current token raises NoTokenCode.
  void BeginStatementParse(IORVQueryDataset* Dataset, TORVLexer* Lexer, int32_t NoTokenCode);
  void EndParse();
  void PatchRoot();
  void SetRoot(TORVExprNodePtr Root) { FRootExprNode = std::move(Root); }

  TORVExprNodePtr FRootExprNode;
  // Nodes a chosen scan condition named that RemoveExtractedNodes found no more in the tree
  // (already detached for the other chosen condition): the AddNode that gives them back once
  // more is ignored, so that a node never gets two owners.
  std::vector<TORVExpressionNode*> FNotDetachedNodes;
  int32_t FNestingDepth = 0;
  int64_t FParseSteps = 0;
  int64_t FCommandTokens = 0;
  // The tokens of the last primary a number was made of.
  int32_t FLastPrimaryStart = -1;
  int32_t FLastPrimaryEnd = -1;
  std::set<int32_t> FNoValueExpressionAt;
  std::map<std::pair<TStashKind, int32_t>, TStashed> FStash;
};

// 1 when Node is exactly a constant holding a non-NULL text ending in "*", which is then
// removed (the text keeps its width); 0 otherwise, Node unchanged.
int32_t IsPartialKey(TORVExprNode* Node);
// Whether a default-value text is an expression to evaluate on insert (NOW) rather than a
// literal (12): it parses as a value expression without field references and evaluates to a
// text other than itself.
bool IsNonConstantExpression(const TORVVariant& Value);
// The column type of an SQL type name (any letter case); aftUnknown when none.
TORVAdvancedFieldType GetFieldType(const std::string& TypeName);

// The expression engine as the storage core sees it: filter, Locate and any-record
// expressions for the cursors, and field default values.
class TORVExpressionFactory : public IORVExpressionFactory, public IORVDefaultValueExpressionFactory {
 public:
  std::unique_ptr<IORVExpression> ParseForFilter(TORVCursor& Cursor, const std::string& Filter, bool CaseInsensitive,
                                                 bool PartialKey) override;
  std::unique_ptr<IORVExpression> ParseForLocate(TORVCursor& Cursor, const std::string& FieldNames,
                                                 const std::vector<TORVVarValue>& KeyValues, bool CaseInsensitive,
                                                 bool PartialKey) override;
  std::unique_ptr<IORVExpression> ParseForIsAnyRecordMatchCondition(TORVCursor& Cursor, const std::string& FieldName,
                                                                    TORVDataOperator Operator,
                                                                    const TORVVariant& Value) override;
  bool IsNonConstantExpression(const TORVVariant& Value) override;
  // DefaultValue is the stored 8-bit text of the field definition.
  std::unique_ptr<IORVDefaultValueExpression> ParseForDefaultValueExpression(const std::string& DefaultValue) override;
};

// Registers one process-wide TORVExpressionFactory with the storage core (filters, Locate and
// defaults); Unregister removes it again. The program does this at start-up.
void RegisterExpressionEngine();
void UnregisterExpressionEngine();

// Registers the factory for its lifetime and restores the previous registrations (tests).
class TORVScopedExpressionEngine {
 public:
  TORVScopedExpressionEngine();
  ~TORVScopedExpressionEngine();
  TORVScopedExpressionEngine(const TORVScopedExpressionEngine&) = delete;
  TORVScopedExpressionEngine& operator=(const TORVScopedExpressionEngine&) = delete;

 private:
  TORVExpressionFactory factory_;
  IORVExpressionFactory* previous_filters_;
  IORVDefaultValueExpressionFactory* previous_defaults_;
};

}  // namespace orv
