#pragma once
// The node of a nested SELECT inside an expression: it answers for the query as a scalar
// value, as the first row's values, as EXISTS, as IN and as a quantified comparison. Whether
// the nested query depends on the outer one (correlated) is decided once, when the node is
// made; an uncorrelated query runs once and its result is reused, a correlated one runs again
// for every outer record, against that record.
#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_sql_select.h"

namespace orv {

class TORVExprNodeSubquery : public TORVExprNode, public IORVSubqueryNode {
 public:
  // Parses the SELECT at the lexer's current token to step over it (the lexer is left on the
  // first token after it) and decides whether it is correlated. Lexer and Dataset are
  // borrowed and must outlive the node.
  TORVExprNodeSubquery(bool MustHaveOneField, bool MustHaveOneRow, IORVSQLQuery* Dataset, TORVLexer& Lexer);
  ~TORVExprNodeSubquery() override;

  TORVVariant& GetDataValue() override;
  bool Exists() override;
  bool IsValueIn(const TORVVariant& Value) override;
  bool QuantifiedCompare(TORVDataOperator Operator, TORVQuantifier Quantifier, const TORVVariant& Value) override;
  void ResetSubqueryFieldValues() override;
  TORVVariant* GetSubqueryFieldValue(int32_t FieldNo) override;

  // None of these reaches the nested query's own expressions: they bind the outer record.
  void AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  void AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) override;
  void AssignAO(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  // Whether every condition of the nested query can be applied with AO as its outer query.
  bool CanBeAssigned(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor, bool ForHavingClause) override;
  TORVAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

  bool Correlated() const { return FCorrelated; }
  // How often the nested query has run (tests of the caches).
  int32_t RunCount() const { return FRunCount; }
  int32_t LocateCount() const { return FLocateCount; }

 private:
  using TCheckResultsMethod = bool (TORVExprNodeSubquery::*)();
  bool RunQueryAndCheckResults(TCheckResultsMethod CheckMethod);
  bool CheckGetDataValue();
  bool CheckGetFieldValues();
  bool CheckExists();
  bool CheckIsValueIn();
  bool CheckQuantifiedCompare();
  // The nested statement parsed afresh at its tokens; the lexer's position is restored.
  std::unique_ptr<TORVSQLUnion> ParseAgain();
  TORVAODataset& Result() const;
  std::string FirstFieldName() const;

  bool FMustHaveOneField, FMustHaveOneRow;
  std::vector<std::unique_ptr<TORVVariant>> FFieldValues;
  IORVSQLQuery* LDataset;
  TORVLexer* LLexer;
  IORVAO* LAO = nullptr;
  TORVCursor* LCursor = nullptr;
  const void* LCursorRecordBuffer = nullptr;
  std::unique_ptr<TORVSQLUnion> FSubquery;
  int32_t FCommandNo = -1, FTokenNo = -1;
  const TORVVariant* LValueToCheck = nullptr;
  TORVVariant FPriorValueToCheck;
  bool FPriorResult = false;
  bool FPriorResultInitalized = false;
  TORVDataOperator FCompareOperator = doUNDEFINED;
  TORVQuantifier FCompareQuantifier = qUNDEFINED;
  bool FCorrelated = false;
  int32_t FRunCount = 0;
  int32_t FLocateCount = 0;
};

// Registers the subquery node with the expression grammar once per process, unless another
// factory is registered (the processor does this when it is made).
void RegisterSubqueryNodeFactory();

}  // namespace orv
