#include "dbengine/sql/orv_sql_processor.h"

#include <limits>
#include <stdexcept>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_session.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/sql/orv_sql_select.h"
#include "dbengine/sql/orv_sql_subquery.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "platform/base/clock.h"

namespace orv {

TTokenTypes NameTokenTypes() { return {tktString, tktQuotedString, tktBracketedString}; }

namespace {

const TTokenTypes kNameWordOrParam{tktString, tktQuotedString, tktBracketedString, tktReservedWord, tktParameter};

// Names a temporary database may be given before the search for a free one gives up.
constexpr int kTemporaryNameTries = 100;
// Lock attempts before a query and the pause between them.
constexpr int kLockTries = 900;
constexpr uint32_t kLockPauseMs = 100;

}  // namespace

// ---- TORVSQLCommand ---------------------------------------------------------------------------

TORVSQLCommand::TORVSQLCommand(TORVLexer& Lexer, IORVSQLQuery* Query) : LLex(&Lexer), LQuery(Query) {}

TORVSQLCommand::~TORVSQLCommand() = default;

bool TORVSQLCommand::GetCurrentToken() { return LLex->GetCurrentToken(Token); }

bool TORVSQLCommand::GetNextToken() { return LLex->GetNextToken(Token); }

bool TORVSQLCommand::GetNextToken(TTokenTypes PermittedTypes, int32_t NativeErrorCode, const char* ErrorText) {
  const TToken last = Token;
  if (!LLex->GetNextToken(Token)) {
    if (NativeErrorCode == -1) return false;
    throw EORVException(30161, "Unexpected end of SQL command found at line %d, column %d",
                        {last.LineNum, last.ColumnNum});
  }
  if (!PermittedTypes.Empty() && NativeErrorCode != -1 && !PermittedTypes.Contains(Token.TokenType))
    RaiseAtToken(NativeErrorCode, ErrorText);
  return true;
}

void TORVSQLCommand::RaiseAtToken(int32_t Code, const char* Text) const {
  throw EORVException(Code, Text, {Token.Text, Token.LineNum, Token.ColumnNum});
}

void TORVSQLCommand::RaiseTokenExpected(int32_t Code, const char* Expected) const {
  throw EORVException(Code, "Token '%s' expected, but '%s' found at line %d, column %d",
                      {Expected, Token.Text, Token.LineNum, Token.ColumnNum});
}

std::string TORVSQLCommand::TokenText() const {
  if (Token.TokenType == tktParameter)
    return Token.ParamValue && !Token.ParamValue->IsNull() ? Token.ParamValue->GetDataAsAnsiString() : std::string();
  return Token.Text;
}

void TORVSQLCommand::ParseTableNameToken(std::string& DatabaseFileName, std::string& TableName,
                                         std::string& TableAlias, std::string& Password, bool& InMemory) {
  DatabaseFileName.clear();
  Password.clear();
  TableAlias.clear();
  InMemory = false;
  static const char* kExpected = "Table name expected, but '%s' found at line %d, column %d";
  if (!IsType(kNameWordOrParam)) RaiseAtToken(30230, kExpected);
  if (IsWord(rwMEMORY)) {
    InMemory = true;
    GetNextToken(kNameWordOrParam, 30231, kExpected);
  }
  TableName = TokenText();
  GetNextToken();
  if (Token.TokenType == tktDot) {
    DatabaseFileName = TableName;
    GetNextToken(kNameWordOrParam, 30230, kExpected);
    TableName = TokenText();
    GetNextToken();
  }
  CheckPseudonym(TableAlias);
  if (IsWord(rwPASSWORD)) {
    GetNextToken({tktQuotedString, tktParameter}, 30238,
                 "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d");
    Password = TokenText();
    GetNextToken();
  }
}

bool TORVSQLCommand::CheckPseudonym(std::string& Pseudonym) {
  if (IsWord(rwAS)) {
    GetNextToken({tktString, tktQuotedString, tktBracketedString, tktParameter}, 30177,
                 "Field pseudonym expected, but '%s' found at line %d, column %d");
    Pseudonym = TokenText();
    GetNextToken();
    return true;
  }
  if (IsType({tktString, tktBracketedString, tktParameter})) {
    Pseudonym = TokenText();
    GetNextToken();
    return true;
  }
  return false;
}

void TORVSQLCommand::ParseColumnList(std::vector<std::string>& Fields) {
  static const char* kExpected = "Field name expected, but expression '%s...' found at line %d, column %d";
  if (!IsType(NameTokenTypes())) RaiseAtToken(10408, kExpected);
  for (;;) {
    Fields.push_back(Token.Text);
    GetNextToken();
    if (Token.TokenType != tktComma) return;
    GetNextToken(NameTokenTypes(), 10406, "Unexpected token '%s' found at line %d, column %d");
  }
}

void TORVSQLCommand::ParseFieldList(TORVFields& Fields) {
  for (;;) {
    TORVExpression expr;
    expr.FInMemory = LQuery && LQuery->GetInMemory();
    const TToken start = Token;
    expr.ParseForValueExpression(LQuery, LLex);
    GetCurrentToken();
    if (!expr.IsField())
      throw EORVException(10409, "Field name expected, but expression '%s...' found at line %d, column %d",
                          {start.Text, start.LineNum, start.ColumnNum});
    TORVSelectListItem item;
    expr.GetFieldInfo(item.TableName, item.FieldName);
    Fields.Append(item);
    if (Token.TokenType != tktComma) return;
    GetNextToken({tktString, tktQuotedString, tktBracketedString, tktReservedWord}, 10410,
                 "Unexpected token '%s' found at line %d, column %d");
  }
}

TORVBaseSession* TORVSQLCommand::CreateDbAndTableComponents(IORVSQLQuery* Query, const std::string& DatabaseFileName,
                                                            const std::string& Password, bool InMemory,
                                                            std::unique_ptr<TORVDatabase>& DB) {
  if (!Query) throw std::logic_error("an SQL statement runs only through a query");
  const bool in_memory = InMemory || Query->GetInMemory();
  if (DatabaseFileName.empty() || in_memory) return Query->GetTableSession(in_memory);
  auto db = std::make_unique<TORVDatabase>(nullptr);
  db->SetMultiUser(Query->GetMultiUser());
  db->SetDisableTempFiles(Query->GetDisableTempFiles());
  db->SetDatabaseFileName(DatabaseFileName);
  db->SetSessionName(Query->GetSessionName());
  // A generated name is taken only when no other database of the session has it; the search
  // is bounded so that a session that refuses every name ends with an error, not a hang.
  for (int attempt = 1;; ++attempt) {
    try {
      db->SetDatabaseName(GetTemporaryName("TEMP_DB"));
      break;
    } catch (const std::exception&) {
      if (attempt >= kTemporaryNameTries)
        throw EORVException(20275, "Cannot find a free temporary database name for file '%s' after %d names",
                            {DatabaseFileName, kTemporaryNameTries});
    }
  }
  db->SetPassword(Password);
  db->SetSilentMode(true);
  db->Open();
  TORVBaseSession* session = db->Handle();
  DB = std::move(db);
  return session;
}

// ---- TORVSQLCursorCommand -----------------------------------------------------------------------

TORVSQLCursorCommand::~TORVSQLCursorCommand() = default;

void TORVSQLCursorCommand::ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
                                   IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  RowsAffected = 0;
  RootAO.reset();
  RootAO = BuildAOTree(Query, RequestLive, ParentQueryAO, ParentCursor, false);
  const bool into = !IntoTable.empty();
  // A query over MEMORY writes there too, unless the statement names the target's database.
  const bool into_memory = IntoMemory || (Query && Query->GetInMemory() && IntoDatabase.empty());
  if (into && !RootAO->IsAOTable()) {
    if (!into_memory && IntoDatabase.empty() && Query) IntoDatabase = Query->GetDatabaseName();
    RootAO->SetResultTable(into_memory, IntoImmediate, IntoDatabase, IntoTable);
  }
  if (!OpenAndLockTablesBeforeSelect()) throw EORVException(20225, "Table is locked");
  try {
    RootAO->Execute(IsRoot, ParentQueryAO, ParentCursor);
  } catch (...) {
    try {
      UnlockTablesAfterSelect();
    } catch (...) {
    }
    throw;
  }
  UnlockTablesAfterSelect();
  if (IsRoot) {
    ReadOnly = !RequestLive || (!RootAO->IsAOTable() && !into);
    if (TORVAODataset* ds = RootAO->ResultDataset(); ds && ds->Active()) ds->Cursor().FReadOnly = ReadOnly;
  }
  if (into) CopyResultInto(Query, into_memory);
}

namespace {

// The result of a statement as a dataset of the access layer, so that the table import reads
// it like any other source: it borrows the result's cursor and leaves it open.
class TORVResultSource : public TORVDataSet {
 public:
  explicit TORVResultSource(TORVCursor* Result) { SetExternalHandle(Result); }
  ~TORVResultSource() override {
    try {
      Close();
    } catch (...) {
    }
  }

 protected:
  TORVCursor* CreateHandle() override { return FExternalHandle; }
};

}  // namespace

void TORVSQLCursorCommand::CopyResultInto(IORVSQLQuery* Query, bool InMemory) {
  TORVAODataset* result = RootAO->ResultDataset();
  if (!result || !result->Active()) throw EORVException(10513, "Nil pointer occured");
  // A live result is the stored table itself: replacing that table by its own rows would read
  // them from the table being made anew and lose them.
  if (RootAO->IsAOTable() && SameName(RootAO->TableName(), IntoTable))
    throw EORVException(10403, "Error importing table. Cannot copy data due to error: %s\r\n",
                        {"Error importing table. Cannot create table due to error: the table " + IntoTable +
                         " is the source of the rows\r\n"});
  TORVCursor& cursor = result->Cursor();
  // The import reads the result from its first row and must not change its projection.
  const bool projection = cursor.FSettingProjection;
  void* const owner = cursor.Dataset;
  cursor.FSettingProjection = true;
  std::string log;
  bool imported = false;
  {
    TORVResultSource source(&cursor);
    source.SetSessionName(Query ? Query->GetSessionName() : std::string());
    source.SetDatabaseName(Query && !Query->GetDatabaseName().empty() ? Query->GetDatabaseName() : "MEMORY");
    source.Open();
    // The result's own indexes (its order, its DISTINCT key) are not the new table's.
    source.IndexDefs().Clear();
    source.AdvIndexDefs().Clear();
    source.IndexDefs().SetUpdated(true);

    TORVTable target;
    target.SetSessionName(Query ? Query->GetSessionName() : std::string());
    target.SetDatabaseName(InMemory ? "MEMORY" : !IntoDatabase.empty() ? IntoDatabase : Query->GetDatabaseName());
    target.SetInMemory(InMemory);
    target.SetTableName(IntoTable);
    TORVDatabase* db = target.GetDBSession() ? target.GetDBSession()->FindDatabase(target.DatabaseName()) : nullptr;
    const bool silent = db && db->SilentMode();
    if (db) db->SetSilentMode(true);
    try {
      imported = target.ImportTable(source, log, nullptr);
    } catch (const std::exception& e) {
      log += e.what();
    }
    if (db) db->SetSilentMode(silent);
  }
  cursor.FSettingProjection = projection;
  cursor.Dataset = owner;
  result->First();
  // Rows that did not arrive are an error with the import's own account, never a success.
  if (!imported)
    throw EORVException(10403, "Error importing table. Cannot copy data due to error: %s\r\n", {log});
}

TORVCursor* TORVSQLCursorCommand::GetResultCursor() {
  TORVAODataset* ds = GetResultDataset();
  return ds && ds->Active() ? &ds->Cursor() : nullptr;
}

TORVAODataset* TORVSQLCursorCommand::GetResultDataset() { return RootAO ? RootAO->ResultDataset() : nullptr; }

bool TORVSQLCursorCommand::OpenAndLockTablesBeforeSelect() {
  if (!RootAO->OpenTables()) return false;
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    if (RootAO->LockTables()) return true;
    if (!RootAO->UnlockTables()) throw EORVException(20226, "Cannot unlock table");
    platform::Sleep(kLockPauseMs);
  }
  return false;
}

void TORVSQLCursorCommand::UnlockTablesAfterSelect() {
  if (!RootAO->UnlockTables()) throw EORVException(20227, "Cannot unlock table");
}

bool TORVSQLCursorCommand::ParseOrderByClause() {
  if (!IsWord(rwORDER)) return false;
  GetNextToken();
  if (!IsWord(rwBY)) RaiseTokenExpected(30188, "BY");
  GetNextToken();
  for (;;) {
    ParseSortSpecification();
    if (Token.TokenType != tktComma) return true;
    GetNextToken({tktString, tktQuotedString, tktBracketedString, tktInt, tktReservedWord}, 30189,
                 "Unexpected token '%s' found at line %d, column %d");
  }
}

void TORVSQLCursorCommand::ParseSortSpecification() {
  if (!IsType({tktString, tktQuotedString, tktBracketedString, tktInt, tktReservedWord, tktParameter}))
    RaiseAtToken(30187, "Field name expected, but '%s' found at line %d, column %d");
  TORVSortSpecification spec;
  spec.ColumnName = TokenText();
  GetNextToken();
  if (Token.TokenType == tktDot) {
    GetNextToken(kNameWordOrParam, 30186, "Unexpected token '%s' found at line %d, column %d");
    spec.TableName = spec.ColumnName;
    spec.ColumnName = TokenText();
    GetNextToken();
  }
  if (IsWord(rwASC)) {
    GetNextToken();
  } else if (IsWord(rwDESC)) {
    spec.Descending = true;
    GetNextToken();
  }
  OrderBySpecs.push_back(std::move(spec));
}

void TORVSQLCursorCommand::ApplyOrderBy(TORVAO& AO) {
  if (OrderBySpecs.empty()) return;
  std::string fields, desc;
  for (TORVSortSpecification spec : OrderBySpecs) {
    bool number = !spec.ColumnName.empty() && spec.TableName.empty();
    for (char c : spec.ColumnName) number = number && c >= '0' && c <= '9';
    if (number) {
      const long position = spec.ColumnName.size() > 9 ? std::numeric_limits<int32_t>::max()
                                                       : std::stol(spec.ColumnName);
      // Without a select list of its own (a set operation) every column is visible in order.
      if (AO.ResultFieldsOrder().ItemCount == 0) {
        if (position < 1 || position > AO.FieldCount())
          throw EORVException(20243, "Invalid field number in ORDER BY clause: %d", {static_cast<int64_t>(position)});
        spec.ColumnName = AO.Link(static_cast<int32_t>(position) - 1).FieldName;
      } else {
        spec.ColumnName = AO.GetFieldNameByVisibleNumber(static_cast<int32_t>(position) - 1);
      }
    }
    TORVIntegerArray numbers;
    if (AO.FieldExists(spec.ColumnName, spec.TableName, !AO.IsAOGroupBy(), &numbers, false, false) == 0 ||
        numbers.ItemCount == 0)
      throw EORVException(30195, "Column '%s' from ORDER BY clause not found", {spec.ColumnName});
    const std::string name = AO.GetFieldName(numbers[0], true);
    fields += (fields.empty() ? "" : ";") + name;
    if (spec.Descending) desc += (desc.empty() ? "" : ";") + name;
  }
  AO.SetIndex(fields, desc, "");
}

// ---- The processor ------------------------------------------------------------------------------

namespace {

std::map<TORVSQLStatement, TORVSQLCommandMaker>& Makers() {
  static std::map<TORVSQLStatement, TORVSQLCommandMaker> makers;
  return makers;
}

}  // namespace

TORVSQLCommandMaker RegisterSQLCommand(TORVSQLStatement Statement, TORVSQLCommandMaker Maker) {
  TORVSQLCommandMaker previous = Makers()[Statement];
  if (Maker)
    Makers()[Statement] = std::move(Maker);
  else
    Makers().erase(Statement);
  return previous;
}

TORVSQLProcessor::TORVSQLProcessor(IORVSQLQuery* Query) : ORVQuery(Query) {
  RegisterSubqueryNodeFactory();
  RegisterStatementCommands();
}

TORVSQLProcessor::~TORVSQLProcessor() {
  // The commands read the lexer while they are freed (subquery nodes): commands go first.
  ClearQueries();
}

void TORVSQLProcessor::PrepareStatement(const std::string& SQLText) { FSqlText = SQLText; }

void TORVSQLProcessor::ClearQueries() { Queries.clear(); }

TORVAODataset* TORVSQLProcessor::GetResultDataset() const {
  TORVSQLCommand* last = LastCommand();
  return last ? last->GetResultDataset() : nullptr;
}

TORVCursor* TORVSQLProcessor::OpenQuery() {
  FRowsAffected = 0;
  ClearQueries();
  FLex.reset();
  FLex = std::make_unique<TORVLexer>(FSqlText, &FSQLParams, false);
  while (ParseNextCommand(*FLex)) {
    TORVSQLCommand& command = *Queries.back();
    command.ExecSQL(ORVQuery, true, FRequestLive, FReadOnly, nullptr, nullptr);
    if (__builtin_add_overflow(FRowsAffected, static_cast<int64_t>(command.RowsAffected), &FRowsAffected))
      throw EORVException(20276, "Rows affected overflow");
  }
  TORVSQLCommand* last = LastCommand();
  TORVCursor* cursor = last ? last->GetResultCursor() : nullptr;
  if (TORVAODataset* ds = last ? last->GetResultDataset() : nullptr; ds && ds->Active()) ds->First();
  return cursor;
}

bool TORVSQLProcessor::ParseNextCommand(TORVLexer& Lexer) {
  if (Lexer.NumCommands() == 0) throw EORVException(30145, "Blank SQL command");
  if (!Lexer.GetNextCommand()) return false;
  ClearQueries();
  TToken token;
  if (!Lexer.GetCurrentToken(token)) throw EORVException(30146, "Blank SQL command");
  const TToken first = token;
  static const char* kObjectExpected = "Object type keyword expected, but '%s' found at line %d, column %d";
  static const char* kEnd = "Unexpected end of SQL command found at line %d, column %d";
  // The keyword after CREATE, DROP or ALTER: the command's parser starts there.
  const auto object_word = [&](int32_t EndCode) -> TToken {
    TToken next;
    if (!Lexer.GetNextToken(next)) throw EORVException(EndCode, kEnd, {first.LineNum, first.ColumnNum});
    return next;
  };
  const auto wrong = [&](const TToken& t, int32_t Code) {
    throw EORVException(Code, kObjectExpected, {t.Text, t.LineNum, t.ColumnNum});
  };
  if (token.TokenType == tktLeftParenthesis || IsReservedWord(token, rwSELECT)) {
    AddSelectQuery(Lexer);
    return true;
  }
  if (token.TokenType != tktReservedWord)
    throw EORVException(30154, "SQL token expected, but '%s' found at line %d, column %d",
                        {token.Text, token.LineNum, token.ColumnNum});
  switch (token.ReservedWord) {
    case rwINSERT:
      AddQuery(TORVSQLStatement::Insert, "INSERT", Lexer);
      return true;
    case rwUPDATE:
      AddQuery(TORVSQLStatement::Update, "UPDATE", Lexer);
      return true;
    case rwDELETE:
      AddQuery(TORVSQLStatement::Delete, "DELETE", Lexer);
      return true;
    case rwCREATE: {
      const TToken next = object_word(30148);
      if (IsReservedWord(next, rwTABLE))
        AddQuery(TORVSQLStatement::CreateTable, "CREATE TABLE", Lexer);
      else if (IsReservedWord(next, rwUNIQUE) || IsReservedWord(next, rwINDEX))
        AddQuery(TORVSQLStatement::CreateIndex, "CREATE INDEX", Lexer);
      else
        wrong(next, 30147);
      return true;
    }
    case rwDROP: {
      const TToken next = object_word(30150);
      if (IsReservedWord(next, rwTABLE))
        AddQuery(TORVSQLStatement::DropTable, "DROP TABLE", Lexer);
      else if (IsReservedWord(next, rwINDEX))
        AddQuery(TORVSQLStatement::DropIndex, "DROP INDEX", Lexer);
      else
        wrong(next, 30149);
      return true;
    }
    case rwALTER: {
      const TToken next = object_word(30152);
      if (IsReservedWord(next, rwTABLE))
        AddQuery(TORVSQLStatement::AlterTable, "ALTER TABLE", Lexer);
      else
        wrong(next, 30151);
      return true;
    }
    case rwRENAME: {
      TToken next;
      if (!Lexer.GetNextToken(next)) throw EORVException(30353, kEnd, {first.LineNum, first.ColumnNum});
      if (IsReservedWord(next, rwTABLE) && !Lexer.GetNextToken(next))
        throw EORVException(30353, kEnd, {first.LineNum, first.ColumnNum});
      AddQuery(TORVSQLStatement::RenameTable, "RENAME TABLE", Lexer);
      return true;
    }
    case rwTRUNCATE:
      AddQuery(TORVSQLStatement::TruncateTable, "TRUNCATE TABLE", Lexer);
      return true;
    case rwSTART:
      AddQuery(TORVSQLStatement::StartTransaction, "START TRANSACTION", Lexer);
      return true;
    case rwCOMMIT:
      AddQuery(TORVSQLStatement::Commit, "COMMIT", Lexer);
      return true;
    case rwROLLBACK:
      AddQuery(TORVSQLStatement::Rollback, "ROLLBACK", Lexer);
      return true;
    default:
      throw EORVException(30153, "SQL token expected, but '%s' found at line %d, column %d",
                          {token.Text, token.LineNum, token.ColumnNum});
  }
}

void TORVSQLProcessor::AddSelectQuery(TORVLexer& Lexer) {
  Queries.push_back(MakeCommand<TORVSQLUnion>(Lexer, ORVQuery));
  TToken token;
  if (Lexer.GetCurrentToken(token))
    throw EORVException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {token.Text, token.LineNum, token.ColumnNum});
}

void TORVSQLProcessor::AddQuery(TORVSQLStatement Statement, const char* Name, TORVLexer& Lexer) {
  const auto found = Makers().find(Statement);
  if (found == Makers().end() || !found->second)
    throw std::logic_error(std::string("the ") + Name + " statement is not built into this SQL processor yet");
  Queries.push_back(found->second(Lexer, ORVQuery));
}

}  // namespace orv
