// Which command class runs which statement. The processor fills in every statement that has
// no maker yet each time one is made, so a test that puts a stand-in in place (and takes it
// away again) never leaves the processor without the real statement.
#include "dbengine/sql/orv_sql_ddl.h"
#include "dbengine/sql/orv_sql_dml.h"
#include "dbengine/sql/orv_sql_processor.h"

namespace orv {

namespace {

template <class T>
void RegisterIfMissing(TORVSQLStatement Statement) {
  TORVSQLCommandMaker previous = RegisterSQLCommand(Statement, [](TORVLexer& Lexer, IORVSQLQuery* Query) {
    return std::unique_ptr<TORVSQLCommand>(MakeCommand<T>(Lexer, Query));
  });
  if (previous) RegisterSQLCommand(Statement, std::move(previous));
}

}  // namespace

void RegisterStatementCommands() {
  RegisterIfMissing<TORVSQLInsert>(TORVSQLStatement::Insert);
  RegisterIfMissing<TORVSQLUpdate>(TORVSQLStatement::Update);
  RegisterIfMissing<TORVSQLDelete>(TORVSQLStatement::Delete);
  RegisterIfMissing<TORVDDLCreateTable>(TORVSQLStatement::CreateTable);
  RegisterIfMissing<TORVDDLDropTable>(TORVSQLStatement::DropTable);
  RegisterIfMissing<TORVDDLTruncateTable>(TORVSQLStatement::TruncateTable);
  RegisterIfMissing<TORVDDLAlterTable>(TORVSQLStatement::AlterTable);
  RegisterIfMissing<TORVDDLRenameTable>(TORVSQLStatement::RenameTable);
  RegisterIfMissing<TORVDDLCreateIndex>(TORVSQLStatement::CreateIndex);
  RegisterIfMissing<TORVDDLDropIndex>(TORVSQLStatement::DropIndex);
  RegisterIfMissing<TORVSQLStartTransaction>(TORVSQLStatement::StartTransaction);
  RegisterIfMissing<TORVSQLCommit>(TORVSQLStatement::Commit);
  RegisterIfMissing<TORVSQLRollback>(TORVSQLStatement::Rollback);
}

}  // namespace orv
