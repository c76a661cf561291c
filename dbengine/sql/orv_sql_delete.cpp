#include "dbengine/sql/orv_sql_dml.h"
#include "dbengine/sql/orv_sql_select.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

TORVSQLDelete::TORVSQLDelete(TORVLexer& Lexer, IORVSQLQuery* Query) : TORVSQLCommand(Lexer, Query) {}

TORVSQLDelete::~TORVSQLDelete() {
  // The select's operators go before the database component of another file that its table
  // references hold.
  if (InternalSelecter) InternalSelecter->FreeTree();
}

void TORVSQLDelete::Parse() {
  // DELETE FROM ... reads as SELECT * FROM ...: one token goes in front, the first two become
  // SELECT and the asterisk.
  if (LLex->CurrentCommandNo < 0 || LLex->CurrentCommandNo >= LLex->NumCommands())
    throw EORVException(30224, "Unexpected end of SQL command found at line %d, column %d", {0, 0});
  std::vector<TToken>& tokens = LLex->Commands[static_cast<size_t>(LLex->CurrentCommandNo)].Tokens;
  if (tokens.empty()) throw EORVException(30224, "Unexpected end of SQL command found at line %d, column %d", {0, 0});
  const TToken head = tokens.front();
  tokens.insert(tokens.begin(), head);
  tokens[0].TokenType = tktReservedWord;
  tokens[0].ReservedWord = rwSELECT;
  tokens[0].Text = "select";
  tokens[1].TokenType = tktString;
  tokens[1].ReservedWord = rwNone;
  tokens[1].Text = "*";
  LLex->SetCurrentTokenNo(0);
  if (!GetCurrentToken())
    throw EORVException(30224, "Unexpected end of SQL command found at line %d, column %d",
                        {head.LineNum, head.ColumnNum});
  InternalSelecter = MakeCommand<TORVSQLUnion>(*LLex, LQuery);
  // What the select leaves unread is a mistake: "DELETE FROM t WHER id = 5" must not take
  // WHER for an alias and delete every row.
  if (GetCurrentToken()) RaiseAtToken(20260, "End of SQL command expected, but '%s' found at line %d, column %d");
}

void TORVSQLDelete::ExecSQL(IORVSQLQuery* Query, bool /*IsRoot*/, bool /*RequestLive*/, bool& /*ReadOnly*/,
                            IORVAO* /*ParentQueryAO*/, TORVCursor* /*ParentCursor*/) {
  RowsAffected = 0;
  TORVSQLTargetTable target;
  const std::vector<TORVPageItemID> rows = SelectRowsToChange(*InternalSelecter, Query, target);
  TORVCursor& source = InternalSelecter->GetResultDataset()->Cursor();
  source.LockTableData();
  const bool transaction = target.InTransaction();
  TORVLocalCursor& cursor = target.Cursor();
  try {
    if (!transaction) {
      if (!target.LockForStatement(TORVSQLChangeWaits::LockTries, TORVSQLChangeWaits::LockPauseMs, true, &source))
        throw EORVException(20223, "Table is locked");
      cursor.BeginBatchUpdate();
    }
    for (const TORVPageItemID& row : rows) {
      if (!target.GotoBookmark(row)) continue;
      target.Delete();
      ++RowsAffected;
    }
    if (!transaction) cursor.EndBatchUpdate();
  } catch (...) {
    if (!transaction) {
      try {
        cursor.CancelBatchUpdate();
      } catch (...) {
      }
    }
    try {
      target.UnlockAfterStatement();
      source.UnlockTableData();
    } catch (...) {
    }
    throw;
  }
  target.UnlockAfterStatement();
  source.UnlockTableData();
}

}  // namespace orv
