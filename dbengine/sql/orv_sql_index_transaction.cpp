#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/sql/orv_sql_ddl.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

const TTokenTypes kNameOrWord{tktString, tktQuotedString, tktBracketedString, tktReservedWord};
constexpr char kEnd[] = "Unexpected end of SQL command found at line %d, column %d";
constexpr char kPasswordExpected[] =
    "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d";

}  // namespace

// ---- CREATE INDEX ---------------------------------------------------------------------------------

void TORVDDLCreateIndex::Parse() {
  if (!GetCurrentToken()) throw EORVException(30266, "Blank SQL command");
  if (IsWord(rwUNIQUE)) {
    Unique = true;
    GetNextToken({tktReservedWord}, 30267, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
  }
  if (!IsWord(rwINDEX)) RaiseAtToken(30268, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
  GetNextToken(kNameOrWord, 30269, "index name expected, but '%s' found at line %d, column %d");
  IndexName = Token.Text;
  GetNextToken({tktReservedWord}, 30270, "'ON' keyword expected, but '%s' found at line %d, column %d");
  if (!IsWord(rwON)) RaiseAtToken(30271, "'ON' keyword expected, but '%s' found at line %d, column %d");
  GetNextToken({}, 0, "");
  ParseTableNameToken(DatabaseFileName, TableName, TableAlias, Password, InMemory);
  if (Token.TokenType != tktLeftParenthesis)
    RaiseAtToken(30273, "'(' symbol expected, but '%s' found at line %d, column %d");
  for (;;) {
    GetNextToken(kNameOrWord, 30274, "Field name expected, but '%s' found at line %d, column %d");
    if (IsWord(rwPASSWORD)) {
      GetNextToken({tktQuotedString, tktParameter}, 30275, kPasswordExpected);
      Password = TokenText();
      GetNextToken({}, 0, "");
      if (Token.TokenType != tktComma && Token.TokenType != tktRightParenthesis)
        RaiseAtToken(30276, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
    } else {
      TORVIndexField field{Token.Text, false, false};
      for (;;) {
        GetNextToken({}, 0, "");
        if (Token.TokenType == tktComma || Token.TokenType == tktRightParenthesis) break;
        if (IsWord(rwASC)) field.desc = false;
        if (IsWord(rwDESC)) field.desc = true;
        if (IsWord(rwCASE)) field.nocase = false;
        if (IsWord(rwNOCASE)) field.nocase = true;
      }
      ORVIndexFields.push_back(field);
    }
    if (Token.TokenType == tktRightParenthesis) break;
  }
}

void TORVDDLCreateIndex::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) {
  std::string fields, desc, nocase;
  for (const TORVIndexField& f : ORVIndexFields) {
    fields += (fields.empty() ? "" : ";") + f.FieldName;
    if (f.desc) desc += (desc.empty() ? "" : ";") + f.FieldName;
    if (f.nocase) nocase += (nocase.empty() ? "" : ";") + f.FieldName;
  }
  std::unique_ptr<TORVDatabase> db;
  std::unique_ptr<TORVTable> table = MakeStatementTable(Query, DatabaseFileName, Password, InMemory, TableName, db);
  TIndexOptions options;
  if (Unique) options.Include(platform::data::ixUnique);
  table->AddIndex(IndexName, fields, options, desc, nocase);
}

// ---- DROP INDEX -----------------------------------------------------------------------------------

void TORVDDLDropIndex::Parse() {
  const TToken head = Token;
  if (!GetNextToken()) throw EORVException(30278, kEnd, {head.LineNum, head.ColumnNum});
  std::string first, second;
  ParseTableNameToken(first, second, TableAlias, Password, InMemory);
  if (Token.TokenType == tktDot) {
    const TToken dot = Token;
    if (!GetNextToken()) throw EORVException(30281, kEnd, {dot.LineNum, dot.ColumnNum});
    DatabaseFileName = first;
    TableName = second;
    IndexName = TokenText();
    GetNextToken();
  } else {
    IndexName = second;
    TableName = first;
  }
  if (TableName.empty())
    throw EORVException(30498, "Table name expected, but '%s' found at line %d, column %d",
                        {IndexName, head.LineNum, head.ColumnNum});
  if (IsWord(rwPASSWORD)) {
    GetNextToken({tktQuotedString, tktParameter}, 30282, kPasswordExpected);
    Password = TokenText();
    GetNextToken();
  }
}

void TORVDDLDropIndex::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) {
  std::unique_ptr<TORVDatabase> db;
  std::unique_ptr<TORVTable> table = MakeStatementTable(Query, DatabaseFileName, Password, InMemory, TableName, db);
  table->DeleteIndex(IndexName);
}

// ---- Transactions ---------------------------------------------------------------------------------

void TORVSQLStartTransaction::Parse() {
  if (!GetCurrentToken()) throw EORVException(30457, "Blank SQL command");
  if (!IsWord(rwSTART)) RaiseTokenExpected(30458, "START");
  const TToken start = Token;
  if (!GetNextToken()) throw EORVException(30459, kEnd, {start.LineNum, start.ColumnNum});
  if (!IsWord(rwTRANSACTION)) RaiseTokenExpected(30460, "TRANSACTION");
  GetNextToken();
}

void TORVSQLStartTransaction::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) {
  Query->StartTransaction();
}

void TORVSQLCommit::Parse() {
  if (!GetCurrentToken()) throw EORVException(30461, "Blank SQL command");
  if (!IsWord(rwCOMMIT)) RaiseTokenExpected(30462, "COMMIT");
  while (GetNextToken())
    if (IsWord(rwFLUSH)) FFlush = true;
}

void TORVSQLCommit::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) { Query->Commit(FFlush); }

void TORVSQLRollback::Parse() {
  if (!GetCurrentToken()) throw EORVException(30463, "Blank SQL command");
  if (!IsWord(rwROLLBACK)) RaiseTokenExpected(30464, "ROLLBACK");
  while (GetNextToken()) {
  }
}

void TORVSQLRollback::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) { Query->Rollback(); }

// The transaction of a query over storage sessions is its table session's.
void IORVSQLQuery::StartTransaction() {
  TORVBaseSession* session = GetTableSession(false);
  if (session->FInTransaction) throw EORVException(30465, "Database is already within a transaction");
  session->StartTransaction();
}

void IORVSQLQuery::Commit(bool Flush) { GetTableSession(false)->Commit(Flush); }

void IORVSQLQuery::Rollback() { GetTableSession(false)->Rollback(); }

}  // namespace orv
