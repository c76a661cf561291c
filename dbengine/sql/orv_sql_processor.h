#pragma once
// The SQL statement processor and the base of every statement: the processor lexes a script,
// takes one command after the other, recognises each statement by its first token, creates
// the matching command (which parses itself), executes it and adds up the rows it affected.
// Parsing and execution alternate statement by statement and there is no implicit
// transaction: a failure in a later statement leaves the earlier ones done.
//
// TORVSQLCommand holds what all statements share (the token cursor, table names with their
// database file, MEMORY prefix, alias and password, column and field lists, and the database
// component for a table of another file); TORVSQLCursorCommand is the base of the statements
// that produce rows: it runs their operator tree, locks and unlocks its tables around the
// run, and parses and applies ORDER BY.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_relational_algebra.h"
#include "dbengine/sql/orv_sql_lexer.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVDatabase;
class TORVBaseSession;

// What the statements need of the query component that runs them: where its tables live,
// where result tables are made, and its settings. The query component implements it; so do
// the tests over sessions of the built-in databases.
class IORVSQLQuery : public IORVQueryDataset {
 public:
  virtual bool GetInMemory() const = 0;
  // The storage session a table of the query's own database is read through; with InMemory
  // that of the MEMORY database.
  virtual TORVBaseSession* GetTableSession(bool InMemory) = 0;
  // The storage session of the TEMP database, where operators make their result tables.
  virtual TORVBaseSession* GetTempSession() = 0;
  // Settings of the query's database component copied to a database made for another file.
  virtual bool GetMultiUser() const { return false; }
  virtual bool GetDisableTempFiles() const { return false; }
  // The transaction of the query's database (START TRANSACTION, COMMIT [FLUSH], ROLLBACK); by
  // default that of its table session.
  virtual void StartTransaction();
  virtual void Commit(bool Flush);
  virtual void Rollback();

 protected:
  ~IORVSQLQuery() override = default;
};

// A query over storage sessions given to it: tables of one session, result tables in another
// (the MEMORY and TEMP databases for the tools, tests and benchmarks that run statements
// without a query component). The sessions are borrowed.
class TORVSessionSQLQuery : public IORVSQLQuery {
 public:
  TORVSessionSQLQuery(TORVBaseSession* Tables, TORVBaseSession* Temp, std::string DatabaseName = "MEMORY")
      : FTables(Tables), FTemp(Temp), FDatabaseName(std::move(DatabaseName)) {}
  std::string GetDatabaseName() const override { return FDatabaseName; }
  std::string GetSessionName() const override { return ""; }
  bool GetInMemory() const override { return false; }
  TORVBaseSession* GetTableSession(bool) override { return FTables; }
  TORVBaseSession* GetTempSession() override { return FTemp; }

 private:
  TORVBaseSession* FTables;
  TORVBaseSession* FTemp;
  std::string FDatabaseName;
};

// ---- The command base --------------------------------------------------------------------

class TORVSQLCommand {
 public:
  // Keeps the lexer and the query; the command parses itself when made through MakeCommand.
  TORVSQLCommand(TORVLexer& Lexer, IORVSQLQuery* Query);
  virtual ~TORVSQLCommand();
  TORVSQLCommand(const TORVSQLCommand&) = delete;
  TORVSQLCommand& operator=(const TORVSQLCommand&) = delete;

  virtual void Parse() = 0;
  // The one execution entry: IsRoot for the outermost statement; ParentQueryAO and
  // ParentCursor carry the outer query's operator and row to a correlated subquery;
  // ReadOnly receives whether the result can be edited.
  virtual void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
                       TORVCursor* ParentCursor) = 0;
  virtual TORVCursor* GetResultCursor() { return nullptr; }
  virtual TORVAODataset* GetResultDataset() { return nullptr; }

  // ---- Token access ----
  bool GetCurrentToken();
  bool GetNextToken();
  // Moves on and checks: at the end of the command (unless NativeErrorCode is -1) 30161; a
  // type outside a non-empty PermittedTypes raises NativeErrorCode with ErrorText.
  bool GetNextToken(TTokenTypes PermittedTypes, int32_t NativeErrorCode, const char* ErrorText);
  // Raises Code with Text formatted with the current token's text, line and column.
  [[noreturn]] void RaiseAtToken(int32_t Code, const char* Text) const;
  // "Token '%s' expected, but '%s' found ...".
  [[noreturn]] void RaiseTokenExpected(int32_t Code, const char* Expected) const;
  bool IsWord(TReservedWord Word) const { return IsReservedWord(Token, Word) && Word != rwNone; }
  bool IsType(TTokenTypes Types) const { return Types.Contains(Token.TokenType); }
  // The current token's text; a parameter's value read as text.
  std::string TokenText() const;

  // ---- Shared parsing ----
  // [MEMORY] [file .] table [[AS] alias] [PASSWORD 'text'].
  void ParseTableNameToken(std::string& DatabaseFileName, std::string& TableName, std::string& TableAlias,
                           std::string& Password, bool& InMemory);
  bool CheckPseudonym(std::string& Pseudonym);
  void ParseColumnList(std::vector<std::string>& Fields);
  void ParseFieldList(TORVFields& Fields);

  // A database component for DatabaseFileName (opened, its storage session returned in
  // Session) or, without a file name, nothing; the session of the query's own database (or of
  // MEMORY) otherwise. The component, when made, is handed to DB.
  static TORVBaseSession* CreateDbAndTableComponents(IORVSQLQuery* Query, const std::string& DatabaseFileName,
                                                     const std::string& Password, bool InMemory,
                                                     std::unique_ptr<TORVDatabase>& DB);

  TORVLexer* LLex;
  TToken Token;
  IORVSQLQuery* LQuery;
  int32_t RowsAffected = 0;
  bool IntoMemory = false;
};

// Creates a command of class T over the lexer and parses it; a parse error frees it again.
template <class T>
std::unique_ptr<T> MakeCommand(TORVLexer& Lexer, IORVSQLQuery* Query) {
  auto command = std::make_unique<T>(Lexer, Query);
  command->Parse();
  return command;
}

// ---- Row-producing commands ----------------------------------------------------------------

class TORVSQLCursorCommand : public TORVSQLCommand {
 public:
  TORVSQLCursorCommand(TORVLexer& Lexer, IORVSQLQuery* Query) : TORVSQLCommand(Lexer, Query) {}
  ~TORVSQLCursorCommand() override;

  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;
  TORVCursor* GetResultCursor() override;
  TORVAODataset* GetResultDataset() override;

  virtual bool AllConditionsApplied() = 0;
  virtual std::unique_ptr<TORVAO> BuildAOTree(IORVSQLQuery* Query, bool RequestLive, IORVAO* ParentQueryAO,
                                               TORVCursor* ParentCursor, bool AllowNotAppliedConditions) = 0;

  // SELECT ... INTO: the result becomes the table IntoTable (of IntoDatabase, of the query's
  // database, or of MEMORY) through the table import; a failed import raises 10403 with its log.
  void CopyResultInto(IORVSQLQuery* Query, bool InMemory);
  bool OpenAndLockTablesBeforeSelect();
  void UnlockTablesAfterSelect();
  bool ParseOrderByClause();
  void ParseSortSpecification();
  void ApplyOrderBy(TORVAO& AO);

  TORVAO* Root() const { return RootAO.get(); }
  // Frees the operator tree (and with it the result).
  void FreeTree() { RootAO.reset(); }

  IORVSQLQuery* ResultDataset = nullptr;
  std::string IntoDatabase, IntoTable;
  bool IntoImmediate = false;
  std::vector<TORVSortSpecification> OrderBySpecs;
  std::unique_ptr<TORVAO> RootAO;
};

// ---- The processor -------------------------------------------------------------------------

// The statements a script may hold, by the keywords that start them.
enum class TORVSQLStatement : uint8_t {
  Insert,
  Update,
  Delete,
  CreateTable,
  CreateIndex,
  DropTable,
  DropIndex,
  AlterTable,
  RenameTable,
  TruncateTable,
  StartTransaction,
  Commit,
  Rollback,
};

// Makes (and parses) the command of one statement kind. The SELECT command is built in; the
// data-changing, DDL and transaction statements register here when their module is linked.
using TORVSQLCommandMaker = std::function<std::unique_ptr<TORVSQLCommand>(TORVLexer& Lexer, IORVSQLQuery* Query)>;
// Returns the previous maker; an empty maker unregisters.
TORVSQLCommandMaker RegisterSQLCommand(TORVSQLStatement Statement, TORVSQLCommandMaker Maker);
// Registers the statements of this library for every statement that has no maker.
void RegisterStatementCommands();

class TORVSQLProcessor {
 public:
  explicit TORVSQLProcessor(IORVSQLQuery* Query);
  virtual ~TORVSQLProcessor();
  TORVSQLProcessor(const TORVSQLProcessor&) = delete;
  TORVSQLProcessor& operator=(const TORVSQLProcessor&) = delete;

  // Keeps the text (UTF-8); nothing is parsed.
  void PrepareStatement(const std::string& SQLText);
  // Runs the whole script and returns the result cursor of the last command, on its first
  // row, or nil when the last command produces no rows. It stays owned by the last command.
  TORVCursor* OpenQuery();
  void ExecuteQuery() { OpenQuery(); }
  bool ParseNextCommand(TORVLexer& Lexer);
  void ClearQueries();

  // The command left by the last run (nil when none); its result dataset.
  TORVSQLCommand* LastCommand() const { return Queries.empty() ? nullptr : Queries.back().get(); }
  TORVAODataset* GetResultDataset() const;

  IORVSQLQuery* ORVQuery;
  bool FReadOnly = false;
  bool FRequestLive = false;
  bool FInMemory = false;
  int64_t FRowsAffected = 0;
  std::unique_ptr<TORVLexer> FLex;
  std::string FSqlText;
  TORVSQLParams FSQLParams;
  std::vector<std::unique_ptr<TORVSQLCommand>> Queries;

 private:
  void AddSelectQuery(TORVLexer& Lexer);
  void AddQuery(TORVSQLStatement Statement, const char* Name, TORVLexer& Lexer);
};

// The processor the query component makes.
class TORVLocalSQLProcessor : public TORVSQLProcessor {
 public:
  using TORVSQLProcessor::TORVSQLProcessor;
};

// The token types the parsers accept for a name.
TTokenTypes NameTokenTypes();

}  // namespace orv
