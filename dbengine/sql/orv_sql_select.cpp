// Parsing of query statements: the select clauses in their fixed order, FROM items with their
// joins and subqueries, and the set operations above query specifications.
#include "dbengine/sql/orv_sql_select.h"

#include <utility>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

const TTokenTypes kNameWordOrParam{tktString, tktQuotedString, tktBracketedString, tktReservedWord, tktParameter};
const char* const kTableExpected = "Table name expected, but '%s' found at line %d, column %d";
const char* const kUnexpected = "Unexpected token '%s' found at line %d, column %d";

bool SameText(const std::string& a, const std::string& b) { return AnsiUpperCase(a) == AnsiUpperCase(b); }

}  // namespace

// ---- TORVTableReference -------------------------------------------------------------------------

TORVTableReference::TORVTableReference() = default;

TORVTableReference::~TORVTableReference() {
  // The operators made over the tables are gone before the database component they used.
  SubQuery.reset();
  LeftTable.reset();
  RightTable.reset();
}

void TORVTableReference::MakeJoin(std::unique_ptr<TORVTableReference> RightNode, TORVJoinType JType, bool IsNatural,
                                  std::unique_ptr<std::vector<std::string>> Fields,
                                  std::unique_ptr<TORVExpression> OnCondition) {
  auto left = std::make_unique<TORVTableReference>();
  left->TableType = TableType;
  left->DatabaseName = DatabaseName;
  left->TableName = TableName;
  left->Pseudonym = Pseudonym;
  left->Password = Password;
  left->InMemory = InMemory;
  left->NaturalJoin = NaturalJoin;
  left->JoinType = JoinType;
  left->LeftTable = std::move(LeftTable);
  left->RightTable = std::move(RightTable);
  left->UsingFields = std::move(UsingFields);
  left->SearchCondition = std::move(SearchCondition);
  left->SubQuery = std::move(SubQuery);
  LeftTable = std::move(left);
  RightTable = std::move(RightNode);
  TableType = attJoinedTable;
  JoinType = JType;
  NaturalJoin = IsNatural;
  UsingFields = std::move(Fields);
  SearchCondition = std::move(OnCondition);
}

void TORVTableReference::MakeSubQuery(TORVLexer& Lexer, IORVSQLQuery* Query) {
  TableType = attSubQuery;
  SubQuery = MakeCommand<TORVSQLUnion>(Lexer, Query);
}

// ---- TORVSQLSelect: parsing -----------------------------------------------------------------------

TORVSQLSelect::~TORVSQLSelect() {
  for (TORVSelectListItem& item : SelectList) delete item.ValueExpr;
}

std::unique_ptr<TORVExpression> TORVSQLSelect::NewExpression() const {
  auto expr = std::make_unique<TORVExpression>();
  expr->FInMemory = LQuery && LQuery->GetInMemory();
  return expr;
}

void TORVSQLSelect::Parse() {
  if (!GetCurrentToken()) throw EORVException(30155, "Blank SQL command");
  ParseSelectToken();
  ParseSetQuantifier();
  ParseTopOperator();
  ParseSelectList();
  ParseInto();
  ParseFromClause();
  ParseWhereClause();
  ParseGroupByClause();
  ParseHavingClause();
  ParseOrderByClause();
}

void TORVSQLSelect::ParseSelectToken() {
  if (!IsWord(rwSELECT)) RaiseAtToken(30156, "SQL token expected, but '%s' found at line %d, column %d");
  GetNextToken({}, 0, nullptr);
}

void TORVSQLSelect::ParseSetQuantifier() {
  if (IsWord(rwALL)) {
    GetNextToken({}, 0, nullptr);
  } else if (IsWord(rwDISTINCT)) {
    Distinct = true;
    GetNextToken({}, 0, nullptr);
  }
}

void TORVSQLSelect::ParseTopOperator() {
  if (!IsWord(rwTOP)) return;
  static const char* kInteger = "Integer expected, but '%s' found at line %d, column %d";
  const auto value = [&]() -> int32_t {
    if (Token.TokenType == tktParameter)
      return Token.ParamValue && !Token.ParamValue->IsNull() ? Token.ParamValue->GetDataAsSignedInt32() : 0;
    return static_cast<int32_t>(std::stol(Token.Text));
  };
  GetNextToken({tktInt, tktParameter}, 30158, kInteger);
  TopRowCount = value();
  GetNextToken({}, 0, nullptr);
  if (Token.TokenType == tktComma) {
    GetNextToken({tktInt, tktParameter}, 30159, kInteger);
    FirstRowNo = value();
    GetNextToken({}, 0, nullptr);
  }
}

void TORVSQLSelect::ParseSelectList() {
  if (Token.TokenType == tktString && Token.Text == "*") {
    AllFields = true;
    GetNextToken();
    return;
  }
  for (;;) {
    ParseSelectSubList();
    if (Token.TokenType != tktComma) return;
    GetNextToken({}, 0, nullptr);
  }
}

void TORVSQLSelect::ParseSelectSubList() {
  std::unique_ptr<TORVExpression> expr = NewExpression();
  expr->ParseForValueExpression(LQuery, LLex);
  GetCurrentToken();
  if (expr->IsEmpty()) RaiseAtToken(30160, "Expression expected, but '%s' found at line %d, column %d");
  TORVSelectListItem item;
  if (IsWord(rwAS)) {
    GetNextToken(NameTokenTypes(), 30162, "Field pseudonym expected, but '%s' found at line %d, column %d");
    item.Pseudonym = Token.Text;
    GetNextToken();
  } else if (IsType(NameTokenTypes())) {
    item.Pseudonym = Token.Text;
    GetNextToken();
  }
  item.IsExpression = !expr->IsField();
  if (!item.IsExpression) {
    std::string table, field;
    expr->GetFieldInfo(table, field);
    if (field != "*" && DuplicatedFieldExists(table, field)) {
      item.IsExpression = true;
      item.IsDuplicatedField = true;
      if (item.Pseudonym.empty()) item.Pseudonym = GetFieldNameForDuplicatedField(table, field);
    } else {
      item.TableName = table;
      item.FieldName = field;
      item.AllFields = field == "*";
      expr.reset();
    }
  }
  item.ValueExpr = expr.release();
  SelectList.push_back(item);
}

bool TORVSQLSelect::DuplicatedFieldExists(const std::string& TableName, const std::string& FieldName) const {
  for (const TORVSelectListItem& item : SelectList)
    if (!item.IsExpression && SameText(item.TableName, TableName) && SameText(item.FieldName, FieldName)) return true;
  return false;
}

bool TORVSQLSelect::FieldExists(const std::string& TableName, const std::string& FieldName) const {
  for (const TORVSelectListItem& item : SelectList)
    if (SameText(item.TableName, TableName) && (SameText(item.FieldName, FieldName) || SameText(item.Pseudonym, FieldName)))
      return true;
  return false;
}

std::string TORVSQLSelect::GetFieldNameForDuplicatedField(const std::string& TableName,
                                                          const std::string& FieldName) const {
  for (int32_t n = 1;; ++n) {
    std::string name = FieldName + "_" + std::to_string(n);
    if (!FieldExists(TableName, name)) return name;
  }
}

bool TORVSQLSelect::ParseInto() {
  if (!IsWord(rwINTO)) return false;
  GetNextToken(kNameWordOrParam, 30165, kTableExpected);
  if (IsWord(rwMEMORY)) {
    IntoMemory = true;
    GetNextToken(kNameWordOrParam, 30165, kTableExpected);
    if (IsWord(rwIMMEDIATE)) {
      IntoImmediate = true;
      GetNextToken(kNameWordOrParam, 30165, kTableExpected);
    }
  }
  IntoTable = TokenText();
  GetNextToken();
  if (Token.TokenType == tktDot) {
    IntoDatabase = IntoTable;
    GetNextToken(kNameWordOrParam, 30166, kTableExpected);
    IntoTable = TokenText();
    GetNextToken();
  }
  return true;
}

void TORVSQLSelect::ParseFromClause() {
  if (!IsWord(rwFROM)) RaiseTokenExpected(30184, "FROM");
  TTokenTypes first = kNameWordOrParam;
  first.Include(tktLeftParenthesis);
  GetNextToken(first, 30180, kTableExpected);
  if (!ParseTableReference(nullptr)) RaiseAtToken(30180, kTableExpected);
  while (Token.TokenType == tktComma) {
    GetNextToken(first, 30181, kTableExpected);
    if (!ParseTableReference(nullptr)) RaiseAtToken(30181, kTableExpected);
  }
}

bool TORVSQLSelect::ParseTableReference(TORVTableReference* tblRef) {
  TORVTableReference* ref = tblRef;
  const auto entry = [&]() -> TORVTableReference* {
    if (!ref) {
      FromTables.push_back(std::make_unique<TORVTableReference>());
      ref = FromTables.back().get();
    }
    return ref;
  };
  if (IsType(kNameWordOrParam)) {
    if (IsWord(rwSELECT)) {
      ParseFromSubquery(entry());
    } else {
      TORVTableReference& t = *entry();
      t.TableType = attTable;
      if (IsWord(rwMEMORY)) {
        t.InMemory = true;
        GetNextToken(kNameWordOrParam, 30180, kTableExpected);
      } else {
        t.InMemory = LQuery && LQuery->GetInMemory();
      }
      std::string name = TokenText();
      // A parameter may name a table of another file: "file name".table
      if (Token.TokenType == tktParameter && name.size() > 2 && name[0] == '"') {
        const size_t close = name.find('"', 1);
        if (close != std::string::npos && close + 1 < name.size() && name[close + 1] == '.') {
          t.DatabaseName = name.substr(1, close - 1);
          name = name.substr(close + 2);
        }
      }
      t.TableName = name;
      GetNextToken();
      if (Token.TokenType == tktDot) {
        t.DatabaseName = t.TableName;
        GetNextToken(kNameWordOrParam, 30180, kTableExpected);
        t.TableName = TokenText();
        GetNextToken();
      }
      CheckPseudonym(t.Pseudonym);
      if (IsWord(rwPASSWORD)) {
        GetNextToken({tktQuotedString, tktParameter}, 30178,
                     "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d");
        t.Password = TokenText();
        GetNextToken();
      }
    }
  } else if (Token.TokenType == tktLeftParenthesis) {
    GetNextToken();
    const size_t before = FromTables.size();
    if (!ParseTableReference(ref)) RaiseAtToken(30179, "Field name expected, but '%s' found at line %d, column %d");
    if (!ref) ref = FromTables.size() > before ? FromTables.back().get() : nullptr;
    if (Token.TokenType == tktRightParenthesis) GetNextToken();
    std::string alias;
    CheckPseudonym(alias);
    if (ref) ref->Pseudonym = alias;
  } else {
    return false;
  }
  if (ref) ParseJoin(*ref);
  return true;
}

void TORVSQLSelect::ParseFromSubquery(TORVTableReference* tblRef) {
  tblRef->MakeSubQuery(*LLex, LQuery);
  GetCurrentToken();
}

void TORVSQLSelect::ParseJoin(TORVTableReference& tblRef) {
  const TTokenTypes word{tktReservedWord};
  for (;;) {
    bool type_word = false;
    bool natural = false;
    TORVJoinType type = ajtInner;
    if (IsWord(rwCROSS)) {
      type = ajtCross;
      type_word = true;
      GetNextToken(word, 30168, kUnexpected);
    } else {
      if (IsWord(rwNATURAL)) {
        natural = true;
        type_word = true;
        GetNextToken(word, 30169, kUnexpected);
      }
      static const struct {
        TReservedWord Word;
        TORVJoinType Type;
        int32_t Code;
      } kTypes[] = {{rwINNER, ajtInner, 30170},
                    {rwLEFT, ajtLeftOuter, 30171},
                    {rwRIGHT, ajtRightOuter, 30172},
                    {rwFULL, ajtFullOuter, 30173}};
      for (const auto& t : kTypes)
        if (IsWord(t.Word)) {
          type = t.Type;
          type_word = true;
          GetNextToken(word, t.Code, kUnexpected);
          break;
        }
      if (type_word && IsWord(rwOUTER)) GetNextToken(word, 30174, kUnexpected);
    }
    if (!IsWord(rwJOIN)) {
      if (type_word) RaiseTokenExpected(30175, "JOIN");
      return;
    }
    GetNextToken();
    auto right = std::make_unique<TORVTableReference>();
    if (!ParseTableReference(right.get())) RaiseAtToken(30176, kTableExpected);
    std::unique_ptr<TORVExpression> on;
    std::unique_ptr<std::vector<std::string>> fields;
    if (IsWord(rwON)) {
      GetNextToken();
      on = NewExpression();
      on->ParseForBooleanExpression(LQuery, LLex);
      GetCurrentToken();
      if (!AllFields) on->ReplacePseudonyms(SelectList);
    } else if (IsWord(rwUSING)) {
      GetNextToken();
      if (Token.TokenType != tktLeftParenthesis) RaiseTokenExpected(30167, "(");
      GetNextToken();
      fields = std::make_unique<std::vector<std::string>>();
      ParseColumnList(*fields);
      if (Token.TokenType == tktRightParenthesis) GetNextToken();
    }
    tblRef.MakeJoin(std::move(right), type, natural, std::move(fields), std::move(on));
  }
}

bool TORVSQLSelect::ParseWhereClause() {
  if (!IsWord(rwWHERE)) return false;
  GetNextToken();
  SearchCondition = NewExpression();
  SearchCondition->ParseForBooleanExpression(LQuery, LLex);
  GetCurrentToken();
  if (!AllFields) SearchCondition->ReplacePseudonyms(SelectList);
  return true;
}

bool TORVSQLSelect::ParseGroupByClause() {
  if (!IsWord(rwGROUP)) return false;
  GetNextToken();
  if (!IsWord(rwBY)) RaiseTokenExpected(30185, "BY");
  GetNextToken();
  ParseFieldList(GroupByFields);
  return true;
}

bool TORVSQLSelect::ParseHavingClause() {
  if (!IsWord(rwHAVING)) return false;
  GetNextToken();
  HavingCondition = NewExpression();
  HavingCondition->ParseForBooleanExpression(LQuery, LLex);
  GetCurrentToken();
  if (!AllFields) HavingCondition->ReplacePseudonyms(SelectList);
  return true;
}

bool TORVSQLSelect::AllConditionsApplied() {
  return !FSubqueryHasNotAppliedConditions && (!SearchCondition || SearchCondition->IsEmpty()) &&
         (!HavingCondition || HavingCondition->IsEmpty());
}

// ---- Set operations ---------------------------------------------------------------------------------

void TORVQueryExprNode::AddNode(TORVQueryExprType NewType, std::unique_ptr<TORVQueryExprNode> RightNode, bool bAll,
                                bool bCorresponding, std::unique_ptr<std::vector<std::string>> ColumnList) {
  auto left = std::make_unique<TORVQueryExprNode>();
  left->NodeType = NodeType;
  left->Left = std::move(Left);
  left->Right = std::move(Right);
  left->All = All;
  left->Corresponding = Corresponding;
  left->CorrespondingFields = std::move(CorrespondingFields);
  left->SelectCommand = std::move(SelectCommand);
  Left = std::move(left);
  Right = std::move(RightNode);
  NodeType = NewType;
  All = bAll;
  Corresponding = bCorresponding;
  CorrespondingFields = std::move(ColumnList);
}

bool TORVQueryExprNode::AllConditionsApplied() {
  if (NodeType == qetSelect) return SelectCommand->AllConditionsApplied();
  return Left->AllConditionsApplied() && Right->AllConditionsApplied();
}

bool TORVQueryExprNode::HasInto() const {
  if (NodeType == qetSelect) return !SelectCommand->IntoTable.empty();
  return Left->HasInto() || Right->HasInto();
}

void TORVSQLUnion::Parse() {
  if (!GetCurrentToken()) throw EORVException(30155, "Blank SQL command");
  FRootNode = ParseQueryExpression();
  if (!ParseOrderByClause() && FRootNode->NodeType != qetSelect && FRootNode->Right->NodeType == qetSelect) {
    // SELECT a FROM t UNION SELECT a FROM u ORDER BY a: the last select parsed the ORDER BY
    // as its own, but it orders the whole union.
    std::vector<TORVSortSpecification>& specs = FRootNode->Right->SelectCommand->OrderBySpecs;
    OrderBySpecs = std::move(specs);
    specs.clear();
  }
  if (FRootNode->NodeType == qetSelect) {
    const TORVSQLSelect& select = *FRootNode->SelectCommand;
    IntoTable = select.IntoTable;
    IntoDatabase = select.IntoDatabase;
    IntoMemory = select.IntoMemory;
    IntoImmediate = select.IntoImmediate;
  } else if (FRootNode->HasInto()) {
    throw EORVException(20272,
                        "UNION subselect cannot contain INTO caluse. Use SELECT * INTO table FROM (select ... union "
                        "select ...) instead");
  }
}

std::unique_ptr<TORVQueryExprNode> TORVSQLUnion::ParseQueryExpression() {
  std::unique_ptr<TORVQueryExprNode> node = ParseNonJoinQueryTerm();
  for (;;) {
    TORVQueryExprType type;
    if (IsWord(rwUNION))
      type = qetUnion;
    else if (IsWord(rwEXCEPT) || IsWord(rwMINUS))
      type = qetExcept;
    else
      return node;
    GetNextToken();
    const bool all = ParseAll();
    std::unique_ptr<std::vector<std::string>> columns;
    const bool corresponding = ParseCorrespondingSpec(columns);
    node->AddNode(type, ParseNonJoinQueryTerm(), all, corresponding, std::move(columns));
  }
}

std::unique_ptr<TORVQueryExprNode> TORVSQLUnion::ParseNonJoinQueryTerm() {
  std::unique_ptr<TORVQueryExprNode> node = ParseNonJoinQueryPrimary();
  while (IsWord(rwINTERSECT)) {
    GetNextToken();
    const bool all = ParseAll();
    std::unique_ptr<std::vector<std::string>> columns;
    const bool corresponding = ParseCorrespondingSpec(columns);
    node->AddNode(qetIntersect, ParseNonJoinQueryPrimary(), all, corresponding, std::move(columns));
  }
  return node;
}

std::unique_ptr<TORVQueryExprNode> TORVSQLUnion::ParseNonJoinQueryPrimary() {
  if (Token.TokenType == tktLeftParenthesis) {
    GetNextToken();
    std::unique_ptr<TORVQueryExprNode> node = ParseQueryExpression();
    if (Token.TokenType == tktRightParenthesis) GetNextToken();
    return node;
  }
  return ParseQuerySpecification();
}

std::unique_ptr<TORVQueryExprNode> TORVSQLUnion::ParseQuerySpecification() {
  if (!IsWord(rwSELECT)) RaiseTokenExpected(30194, "SELECT");
  auto node = std::make_unique<TORVQueryExprNode>();
  node->SelectCommand = MakeCommand<TORVSQLSelect>(*LLex, LQuery);
  GetCurrentToken();
  return node;
}

bool TORVSQLUnion::ParseAll() {
  if (!IsWord(rwALL)) return false;
  GetNextToken();
  return true;
}

bool TORVSQLUnion::ParseCorrespondingSpec(std::unique_ptr<std::vector<std::string>>& ColumnsList) {
  if (!IsWord(rwCORRESPONDING)) return false;
  GetNextToken();
  if (IsWord(rwBY)) {
    GetNextToken();
    if (Token.TokenType != tktLeftParenthesis) RaiseTokenExpected(30193, "(");
    GetNextToken();
    ColumnsList = std::make_unique<std::vector<std::string>>();
    ParseColumnList(*ColumnsList);
    if (Token.TokenType == tktRightParenthesis) GetNextToken();
  }
  return true;
}

bool TORVSQLUnion::AllConditionsApplied() { return FRootNode->AllConditionsApplied(); }

// ---- Shapes ---------------------------------------------------------------------------------------

namespace {

std::string Shape(const TORVQueryExprNode& Node);

std::string Shape(const TORVTableReference& Ref) {
  std::string alias = Ref.Pseudonym.empty() ? "" : " " + Ref.Pseudonym;
  switch (Ref.TableType) {
    case attTable:
      return "(table " + (Ref.DatabaseName.empty() ? "" : Ref.DatabaseName + ".") + Ref.TableName + alias + ")";
    case attSubQuery:
      return "(subquery" + alias + " " + Shape(*Ref.SubQuery->FRootNode) + ")";
    case attJoinedTable: {
      static const char* kTypes[] = {"cross", "inner", "left", "right", "full"};
      std::string s = std::string("(join ") + (Ref.NaturalJoin ? "natural " : "") + kTypes[Ref.JoinType] + " " +
                      Shape(*Ref.LeftTable) + " " + Shape(*Ref.RightTable);
      if (Ref.UsingFields) {
        s += " (using";
        for (const std::string& f : *Ref.UsingFields) s += " " + f;
        s += ")";
      }
      if (Ref.SearchCondition) s += " on";
      return s + ")";
    }
  }
  return "?";
}

std::string Shape(const TORVQueryExprNode& Node) {
  if (Node.NodeType == qetSelect) {
    std::string s = "(select";
    for (const auto& ref : Node.SelectCommand->FromTables) s += " " + Shape(*ref);
    return s + ")";
  }
  static const char* kTypes[] = {"select", "union", "except", "intersect"};
  std::string s = std::string("(") + kTypes[Node.NodeType] + (Node.All ? " all" : "");
  if (Node.Corresponding) {
    s += " corresponding";
    if (Node.CorrespondingFields)
      for (const std::string& f : *Node.CorrespondingFields) s += " " + f;
  }
  return s + " " + Shape(*Node.Left) + " " + Shape(*Node.Right) + ")";
}

}  // namespace

std::string QueryShape(const TORVSQLUnion& Union) { return Union.FRootNode ? Shape(*Union.FRootNode) : "()"; }

}  // namespace orv
