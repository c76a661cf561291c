#pragma once
// Query statements: TORVSQLSelect for one query specification (SELECT ... FROM ... WHERE ...
// GROUP BY ... HAVING ... ORDER BY), TORVTableReference trees for its FROM clause with joins
// and subqueries, and TORVSQLUnion with a tree of TORVQueryExprNode for UNION, INTERSECT and
// EXCEPT. Every SELECT reaches the processor as a TORVSQLUnion, also one without a set
// operation. Parsing is in orv_sql_select.cpp, the execution plan (the operator tree a
// statement runs as) in orv_sql_select_plan.cpp.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/sql/orv_sql_processor.h"

namespace orv {

class TORVSQLUnion;

class TORVTableReference {
 public:
  TORVTableReference();
  ~TORVTableReference();
  TORVTableReference(const TORVTableReference&) = delete;
  TORVTableReference& operator=(const TORVTableReference&) = delete;

  // This reference becomes a join: what it held moves into a new left operand.
  void MakeJoin(std::unique_ptr<TORVTableReference> RightNode, TORVJoinType JType, bool IsNatural,
                std::unique_ptr<std::vector<std::string>> Fields, std::unique_ptr<TORVExpression> OnCondition);
  void MakeSubQuery(TORVLexer& Lexer, IORVSQLQuery* Query);

  TORVTableType TableType = attTable;
  std::string DatabaseName;  // the database file named before a full stop
  std::string TableName, Pseudonym, Password;
  bool InMemory = false;
  bool NaturalJoin = false;
  TORVJoinType JoinType = ajtInner;
  std::unique_ptr<TORVTableReference> LeftTable, RightTable;
  std::unique_ptr<std::vector<std::string>> UsingFields;
  std::unique_ptr<TORVExpression> SearchCondition;  // ON
  std::unique_ptr<TORVSQLUnion> SubQuery;
  // The database component made for a table of another file while the tree is built.
  std::unique_ptr<TORVDatabase> ExternalDBToFree;
};

class TORVSQLSelect : public TORVSQLCursorCommand {
 public:
  TORVSQLSelect(TORVLexer& Lexer, IORVSQLQuery* Query) : TORVSQLCursorCommand(Lexer, Query) {}
  ~TORVSQLSelect() override;

  void Parse() override;
  bool AllConditionsApplied() override;
  std::unique_ptr<TORVAO> BuildAOTree(IORVSQLQuery* Query, bool RequestLive, IORVAO* ParentQueryAO,
                                       TORVCursor* ParentCursor, bool AllowNotAppliedConditions) override;

  // ---- Parsing steps ----
  void ParseSelectToken();
  void ParseSetQuantifier();
  void ParseTopOperator();
  void ParseSelectList();
  void ParseSelectSubList();
  bool ParseInto();
  void ParseFromClause();
  bool ParseTableReference(TORVTableReference* tblRef);
  void ParseFromSubquery(TORVTableReference* tblRef);
  void ParseJoin(TORVTableReference& tblRef);
  bool ParseWhereClause();
  bool ParseGroupByClause();
  bool ParseHavingClause();
  bool DuplicatedFieldExists(const std::string& TableName, const std::string& FieldName) const;
  bool FieldExists(const std::string& TableName, const std::string& FieldName) const;
  std::string GetFieldNameForDuplicatedField(const std::string& TableName, const std::string& FieldName) const;

  // ---- Plan ----
  std::unique_ptr<TORVAO> BuildOneTableTree(bool RequestLive, IORVAO* ParentQueryAO, TORVCursor* ParentCursor,
                                            bool AllowNotAppliedConditions);
  std::unique_ptr<TORVAO> BuildMultiTablesTree(bool RequestLive, IORVAO* ParentQueryAO, TORVCursor* ParentCursor,
                                               bool AllowNotAppliedConditions);
  std::unique_ptr<TORVAO> CreateAO(TORVTableReference& TableRef, bool RequestLive, IORVAO* ParentQueryAO,
                                   TORVCursor* ParentCursor, bool AllowNotAppliedConditions);
  std::unique_ptr<TORVAO> CreateTableAO(TORVTableReference& TableRef);
  std::unique_ptr<TORVAO> CreateJoinedTableAO(TORVTableReference& TableRef, IORVAO* ParentQueryAO,
                                              TORVCursor* ParentCursor, bool AllowNotAppliedConditions);
  std::unique_ptr<TORVAO> CreateSubQueryAO(TORVTableReference& TableRef, bool RequestLive, IORVAO* ParentQueryAO,
                                           TORVCursor* ParentCursor, bool AllowNotAppliedConditions);

  bool Distinct = false;
  int32_t TopRowCount = -1;
  int32_t FirstRowNo = -1;
  bool AllFields = false;
  // The items own their value expressions until an operator takes them over.
  std::vector<TORVSelectListItem> SelectList;
  std::vector<std::unique_ptr<TORVTableReference>> FromTables;
  std::unique_ptr<TORVExpression> SearchCondition;
  TORVFields GroupByFields;
  std::unique_ptr<TORVExpression> HavingCondition;
  bool FSubqueryHasNotAppliedConditions = false;

 private:
  std::unique_ptr<TORVExpression> NewExpression() const;
};

class TORVQueryExprNode {
 public:
  TORVQueryExprNode() = default;
  // This node becomes an operator node; its previous content moves into a new left child.
  void AddNode(TORVQueryExprType NewType, std::unique_ptr<TORVQueryExprNode> RightNode, bool bAll, bool bCorresponding,
               std::unique_ptr<std::vector<std::string>> ColumnList);
  bool AllConditionsApplied();
  bool HasInto() const;

  TORVQueryExprType NodeType = qetSelect;
  std::unique_ptr<TORVQueryExprNode> Left, Right;
  bool All = false;
  bool Corresponding = false;
  std::unique_ptr<std::vector<std::string>> CorrespondingFields;  // owned: freed with the node
  std::unique_ptr<TORVSQLSelect> SelectCommand;
};

class TORVSQLUnion : public TORVSQLCursorCommand {
 public:
  TORVSQLUnion(TORVLexer& Lexer, IORVSQLQuery* Query) : TORVSQLCursorCommand(Lexer, Query) {}

  void Parse() override;
  bool AllConditionsApplied() override;
  std::unique_ptr<TORVAO> BuildAOTree(IORVSQLQuery* Query, bool RequestLive, IORVAO* ParentQueryAO,
                                       TORVCursor* ParentCursor, bool AllowNotAppliedConditions) override;
  std::unique_ptr<TORVAO> BuildAO(TORVQueryExprNode& Node, bool RequestLive, IORVAO* ParentQueryAO,
                                  TORVCursor* ParentCursor, bool AllowNotAppliedConditions);

  std::unique_ptr<TORVQueryExprNode> ParseQueryExpression();
  std::unique_ptr<TORVQueryExprNode> ParseNonJoinQueryTerm();
  std::unique_ptr<TORVQueryExprNode> ParseNonJoinQueryPrimary();
  std::unique_ptr<TORVQueryExprNode> ParseQuerySpecification();
  bool ParseAll();
  bool ParseCorrespondingSpec(std::unique_ptr<std::vector<std::string>>& ColumnsList);

  std::unique_ptr<TORVQueryExprNode> FRootNode;
};

// The shape of a parsed query as an S-expression, for tests and diagnostics: (union ...),
// (select (from ...)), (join inner (table a) (table b)), (subquery s ...).
std::string QueryShape(const TORVSQLUnion& Union);

}  // namespace orv
