#include "dbengine/sql/orv_sql_dml.h"
#include "dbengine/sql/orv_sql_select.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "platform/base/clock.h"

namespace orv {

namespace {

const TTokenTypes kNameWordOrParam{tktString, tktQuotedString, tktBracketedString, tktReservedWord, tktParameter};

TToken MakeToken(TTokenType Type, std::string Text, const TToken& At, TReservedWord Word = rwNone) {
  TToken t;
  t.TokenType = Type;
  t.ReservedWord = Word;
  t.Text = std::move(Text);
  t.LineNum = At.LineNum;
  t.ColumnNum = At.ColumnNum;
  return t;
}

bool IsSymbol(const TToken& Token, const char* Text) { return Token.TokenType == tktString && Token.Text == Text; }

// Holds a cursor's table data lock for a scope.
class TableDataLock {
 public:
  explicit TableDataLock(TORVCursor& Cursor) : FCursor(Cursor) { FCursor.LockTableData(); }
  ~TableDataLock() {
    try {
      FCursor.UnlockTableData();
    } catch (...) {
    }
  }
  TableDataLock(const TableDataLock&) = delete;
  TableDataLock& operator=(const TableDataLock&) = delete;

 private:
  TORVCursor& FCursor;
};

}  // namespace

std::vector<TORVPageItemID> SelectRowsToChange(TORVSQLUnion& Select, IORVSQLQuery* Query, TORVSQLTargetTable& Target) {
  bool read_only = false;
  Select.ExecSQL(Query, true, true, read_only, nullptr, nullptr);
  TORVAO* root = Select.Root();
  TORVAODataset* view = root ? root->ResultDataset() : nullptr;
  if (!root || !root->IsAOTable() || !view || !view->Active())
    throw EORVException(20277, "UPDATE and DELETE change the rows of one stored table, not the result of a query");
  Target.Open(view->Session(), view->TableName());
  std::vector<TORVPageItemID> rows;
  TableDataLock lock(view->Cursor());
  for (view->First(); !view->Eof(); view->Next()) rows.push_back(view->GetBookmark());
  return rows;
}

TORVSQLUpdate::TORVSQLUpdate(TORVLexer& Lexer, IORVSQLQuery* Query)
    : TORVSQLCommand(Lexer, Query), FSelectLexer(std::make_unique<TORVLexer>(std::string(), nullptr, true)) {}

TORVSQLUpdate::~TORVSQLUpdate() {
  // The select reads its token stream while it is freed; its operators go before the database
  // component of another file that its table references hold.
  if (InternalSelecter) InternalSelecter->FreeTree();
  InternalSelecter.reset();
}

std::string TORVSQLUpdate::ParseColumnName() {
  if (!IsType({tktString, tktQuotedString, tktBracketedString, tktReservedWord}))
    RaiseAtToken(30218, "Field name expected, but '%s' found at line %d, column %d");
  std::string name = Token.Text;
  GetNextToken();
  // table.column names the target's column; the alias does not qualify.
  if (Token.TokenType == tktDot && AnsiUpperCase(name) == AnsiUpperCase(TableName)) {
    GetNextToken({tktString, tktQuotedString, tktBracketedString, tktReservedWord}, 30218,
                 "Field name expected, but '%s' found at line %d, column %d");
    name = Token.Text;
    GetNextToken();
  }
  return name;
}

void TORVSQLUpdate::Parse() {
  if (!GetCurrentToken()) throw EORVException(30216, "Blank SQL command");
  const TToken head = Token;
  if (!GetNextToken())
    throw EORVException(30217, "Table name expected, but '%s' found at line %d, column %d",
                        {std::string(), head.LineNum, head.ColumnNum});
  if (!IsType(kNameWordOrParam)) RaiseAtToken(30217, "Table name expected, but '%s' found at line %d, column %d");
  ParseTableNameToken(DatabaseFileName, TableName, FTablePseudonym, Password, IntoMemory);
  if (!IsWord(rwSET)) RaiseTokenExpected(30220, "SET");
  GetNextToken({}, 0, "");
  if (Token.TokenType == tktLeftParenthesis) {
    IsFieldValuesSubquery = true;
    for (;;) {
      GetNextToken({}, 0, "");
      FieldNames.push_back(ParseColumnName());
      if (Token.TokenType != tktComma) break;
    }
    if (Token.TokenType != tktRightParenthesis) RaiseTokenExpected(30494, ")");
    GetNextToken({}, 0, "");
    if (!IsSymbol(Token, "=")) RaiseTokenExpected(30495, "=");
    GetNextToken({}, 0, "");
    FieldValuesSubqueryExpr = std::make_unique<TORVExpression>();
    FieldValuesSubqueryExpr->FInMemory = LQuery && LQuery->GetInMemory();
    FieldValuesSubqueryExpr->ParseForRowSubqueryExpression(LQuery, LLex);
    GetCurrentToken();
  } else {
    for (;;) {
      FieldNames.push_back(ParseColumnName());
      if (!IsSymbol(Token, "=")) RaiseTokenExpected(30221, "=");
      GetNextToken({}, 0, "");
      auto expr = std::make_unique<TORVExpression>();
      expr->FInMemory = LQuery && LQuery->GetInMemory();
      const TToken start = Token;
      expr->ParseForValueExpression(LQuery, LLex);
      if (expr->IsEmpty())
        throw EORVException(30357, "Error parsing parameter '%s' at line %d, column %d",
                            {start.Text, start.LineNum, start.ColumnNum});
      FieldValues.push_back(std::move(expr));
      if (!GetCurrentToken() || IsWord(rwWHERE)) break;
      if (Token.TokenType != tktComma) RaiseTokenExpected(30222, ",");
      const TToken comma = Token;
      if (!GetNextToken()) throw EORVException(30223, "Unexpected end of SQL command found at line %d, column %d",
                                               {comma.LineNum, comma.ColumnNum});
    }
  }

  // The row-finding select: SELECT * FROM [MEMORY] [file .] table [alias] [PASSWORD 'x']
  // followed by this statement's WHERE clause, its parameters with it.
  const TToken at = Token;
  FSelectLexer->AddCommand();
  FSelectLexer->AddToken(MakeToken(tktReservedWord, "select", head, rwSELECT));
  FSelectLexer->AddToken(MakeToken(tktString, "*", head));
  FSelectLexer->AddToken(MakeToken(tktReservedWord, "from", head, rwFROM));
  if (IntoMemory) FSelectLexer->AddToken(MakeToken(tktReservedWord, "MEMORY", head, rwMEMORY));
  if (!DatabaseFileName.empty()) {
    FSelectLexer->AddToken(MakeToken(tktQuotedString, DatabaseFileName, head));
    FSelectLexer->AddToken(MakeToken(tktDot, ".", head));
  }
  FSelectLexer->AddToken(MakeToken(tktBracketedString, TableName, head));
  if (!FTablePseudonym.empty()) FSelectLexer->AddToken(MakeToken(tktBracketedString, FTablePseudonym, head));
  if (!Password.empty()) {
    FSelectLexer->AddToken(MakeToken(tktReservedWord, "PASSWORD", head, rwPASSWORD));
    FSelectLexer->AddToken(MakeToken(tktQuotedString, Password, head));
  }
  if (at.TokenType != tktNone && IsWord(rwWHERE)) {
    do FSelectLexer->AddToken(Token);
    while (GetNextToken());
  }
  FSelectLexer->SetCurrentTokenNo(0);
  InternalSelecter = MakeCommand<TORVSQLUnion>(*FSelectLexer, LQuery);
  TToken rest;
  if (FSelectLexer->GetCurrentToken(rest))
    throw EORVException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {rest.Text, rest.LineNum, rest.ColumnNum});
}

void TORVSQLUpdate::ExecSQL(IORVSQLQuery* Query, bool /*IsRoot*/, bool /*RequestLive*/, bool& /*ReadOnly*/,
                            IORVAO* /*ParentQueryAO*/, TORVCursor* /*ParentCursor*/) {
  RowsAffected = 0;
  TORVSQLTargetTable target;
  const std::vector<TORVPageItemID> rows = SelectRowsToChange(*InternalSelecter, Query, target);
  TORVCursor& source = InternalSelecter->GetResultDataset()->Cursor();
  TableDataLock data_lock(source);

  std::vector<int32_t> fields;
  for (const std::string& name : FieldNames) {
    const int32_t no = target.FieldNo(name);
    if (no < 0) throw EORVException(30258, "Field '%s' not found in table '%s'", {name, TableName});
    fields.push_back(no);
  }
  for (auto& expr : FieldValues) expr->AssignCursor(&target.Cursor(), nullptr, nullptr);
  if (FieldValuesSubqueryExpr) FieldValuesSubqueryExpr->AssignCursor(&target.Cursor(), nullptr, nullptr);

  const auto loop = [&] {
    std::vector<std::unique_ptr<TORVVariant>> values(fields.size());
    for (const TORVPageItemID& row : rows) {
      // A row another process deleted since the select is no longer there to change.
      if (!target.GotoBookmark(row)) continue;
      // Every value is computed from the row as it was, before any column changes, so that
      // SET a = b, b = a swaps.
      if (IsFieldValuesSubquery) FieldValuesSubqueryExpr->ResetSubqueryFieldValues();
      for (size_t i = 0; i < fields.size(); ++i) {
        TORVVariant* value = IsFieldValuesSubquery
                                 ? FieldValuesSubqueryExpr->GetSubqueryFieldValue(static_cast<int32_t>(i))
                                 : FieldValues[i]->GetValue(true);
        if (!value) throw EORVException(30359, "Value is Null");
        values[i] = std::make_unique<TORVVariant>(bftUnknown);
        values[i]->Assign(*value, true);
      }
      target.Edit();
      try {
        for (size_t i = 0; i < fields.size(); ++i) SetORVVariantIntoField(values[i].get(), target, fields[i]);
        target.Post();
      } catch (...) {
        target.Cancel();
        throw;
      }
      ++RowsAffected;
    }
  };

  TORVLocalCursor& cursor = target.Cursor();
  if (target.InTransaction()) {
    loop();
    return;
  }
  // A change refused by another process is tried again; only a database file's batch can be
  // cancelled, so a table of another kind is never retried over rows already changed.
  const int32_t attempts = target.IsDiskTable() ? TORVSQLChangeWaits::UpdateAttempts : 1;
  for (int32_t attempt = 1;; ++attempt) {
    if (!target.LockForStatement(TORVSQLChangeWaits::LockTries, TORVSQLChangeWaits::LockPauseMs, true, &source))
      throw EORVException(20223, "Table is locked");
    const int32_t before = RowsAffected;
    cursor.BeginBatchUpdate();
    try {
      loop();
      cursor.EndBatchUpdate();
      target.UnlockAfterStatement();
      return;
    } catch (...) {
      try {
        cursor.CancelBatchUpdate();
      } catch (...) {
      }
      target.UnlockAfterStatement();
      if (attempt >= attempts) throw;
      RowsAffected = before;
    }
    source.UnlockTableData();
    platform::Sleep(TORVSQLChangeWaits::UpdateRetryPauseMs);
    source.LockTableData();
  }
}

}  // namespace orv
