#pragma once
// The data-changing statements INSERT, UPDATE and DELETE, and the table they change.
//
// UPDATE and DELETE find their rows with an internal SELECT * over the target table, run as a
// live view, and change the rows through a second cursor of their own on the same table. The
// bookmarks of the selected rows are taken before the first change: a change that moves a
// row within the index the view walks (UPDATE t SET b = b + 1 WHERE b >= 2 over an index on
// b) would otherwise bring the row back into the walk and change it twice.
// INSERT ... SELECT copies the query's rows into a temporary table first, so that a query
// over the target itself reads the rows as they were before the statement.
// Outside a transaction the statements that change many rows take the target's table lock
// (ltRW, retried, then one try at ltXIRW) and write inside a batch update; inside a
// transaction they leave isolation to it and take no table lock of their own.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/sql/orv_sql_processor.h"

namespace orv {

class TORVSQLSelect;
class TORVSQLUnion;

// One stored table opened for changes by a statement: a local cursor with a record buffer and
// the copy an edit starts from. Record operations raise the engine's record error
// (EORVEngineError) with the cursor's result code.
class TORVSQLTargetTable {
 public:
  TORVSQLTargetTable() = default;
  ~TORVSQLTargetTable();
  TORVSQLTargetTable(const TORVSQLTargetTable&) = delete;
  TORVSQLTargetTable& operator=(const TORVSQLTargetTable&) = delete;

  void Open(TORVBaseSession* Session, const std::string& TableName);
  void Close();
  TORVLocalCursor& Cursor() const { return *FCursor; }
  int32_t FieldCount() const;
  // The physical number of a column (any letter case); -1 when none.
  int32_t FieldNo(const std::string& Name) const;
  const TORVFieldDef& FieldDef(int32_t FieldNo) const;

  void Insert();
  // Reads the stored record of Bookmark into the buffer; False when it is gone meanwhile.
  bool GotoBookmark(const TORVPageItemID& Bookmark);
  // A table of a database file: its changes inside a batch update can be cancelled.
  bool IsDiskTable() const;
  void Edit();
  void Post();
  // Drops the record being inserted or edited (errors dropped: it runs after another error).
  void Cancel();
  void Delete();
  bool Editing() const { return FState != State::Browse; }
  bool Inserting() const { return FState == State::Insert; }

  // Table lock for a statement that changes many rows: ltRW, each of up to Tries refusals
  // followed by a pause of PauseMs (the cursor's table data lock given up meanwhile when HoldsTableData), then
  // one try at ltXIRW. False when ltRW was never had.
  bool LockForStatement(int32_t Tries, uint32_t PauseMs, bool HoldsTableData, TORVCursor* DataLockCursor);
  void UnlockAfterStatement();
  bool InTransaction() const;

 private:
  enum class State : uint8_t { Browse, Insert, Edit };
  std::unique_ptr<TORVLocalCursor> FCursor;
  void* FBuffer = nullptr;
  void* FEditBuffer = nullptr;
  State FState = State::Browse;
  bool FHasRW = false;
  bool FHasXIRW = false;
};

// Stores an engine value into field FieldNo (physical) of the target's current record: a nil
// Value raises 30359, a NULL clears the field, a BLOB field takes text or bytes through its
// stream, every other field the value converted to its type.
void SetORVVariantIntoField(TORVVariant* Value, TORVSQLTargetTable& Table, int32_t FieldNo);

class TORVSQLInsert : public TORVSQLCommand {
 public:
  TORVSQLInsert(TORVLexer& Lexer, IORVSQLQuery* Query);
  ~TORVSQLInsert() override;
  void Parse() override;
  void ParseValuesList();
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;

  std::string TableName, DatabaseFileName, Password;
  std::vector<std::string> FieldNames;
  std::vector<std::vector<std::unique_ptr<TORVExpression>>> FieldValues;
  std::unique_ptr<TORVSQLUnion> InternalSelecter;

 private:
  void InsertValues(TORVSQLTargetTable& Target);
  void InsertSelect(IORVSQLQuery* Query, TORVSQLTargetTable& Target);
};

class TORVSQLUpdate : public TORVSQLCommand {
 public:
  TORVSQLUpdate(TORVLexer& Lexer, IORVSQLQuery* Query);
  ~TORVSQLUpdate() override;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;

  std::string DatabaseFileName, TableName, Password, FTablePseudonym;
  std::vector<std::string> FieldNames;
  std::vector<std::unique_ptr<TORVExpression>> FieldValues;
  bool IsFieldValuesSubquery = false;
  std::unique_ptr<TORVExpression> FieldValuesSubqueryExpr;
  // The token stream of the row-finding select; declared before it, so freed after it.
  std::unique_ptr<TORVLexer> FSelectLexer;
  std::unique_ptr<TORVSQLUnion> InternalSelecter;

 private:
  std::string ParseColumnName();
  void RunTableLoop(TORVSQLTargetTable& Target, const std::vector<TORVPageItemID>& Rows);
};

class TORVSQLDelete : public TORVSQLCommand {
 public:
  TORVSQLDelete(TORVLexer& Lexer, IORVSQLQuery* Query);
  ~TORVSQLDelete() override;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;

  std::unique_ptr<TORVSQLUnion> InternalSelecter;
};

// What UPDATE and DELETE share: runs the row-finding select as a live view, opens Target on
// the view's table and returns the bookmarks of the view's rows; the view's dataset stays open
// in Select until it is freed.
std::vector<TORVPageItemID> SelectRowsToChange(TORVSQLUnion& Select, IORVSQLQuery* Query, TORVSQLTargetTable& Target);

// Lock waits of the data-changing statements: 1125 tries 80 ms apart; UPDATE tries 15 times.
struct TORVSQLChangeWaits {
  static constexpr int32_t LockTries = 1125;
  static constexpr uint32_t LockPauseMs = 80;
  static constexpr int32_t UpdateAttempts = 15;
  static constexpr uint32_t UpdateRetryPauseMs = 100;
};

}  // namespace orv
