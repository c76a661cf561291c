#pragma once
// The query component: a dataset that runs SQL text through the statement processor. A
// statement that yields rows is opened like a table (its cursor is the processor's result
// cursor); one without rows runs through ExecSQL and reports RowsAffected. Parameters are
// the data layer's TParams, parsed from the text (":name"), handed to the processor as engine
// values before each run; a master data source fills the unbound ones from its current record.
//
// It lives with the SQL layer rather than beside the table component because it owns the
// statement processor, and the access layer below may not reach up to it.
#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/access/orv_main_dataset.h"
#include "dbengine/sql/orv_sql_processor.h"
#include "platform/data/data_source.h"
#include "platform/data/params.h"

namespace orv {

class TORVQuery;

// The link of a detail query to its master's data source.
class TORVQueryDataLink : public platform::data::TDetailDataLink {
 public:
  explicit TORVQueryDataLink(TORVQuery* AQuery) : FQuery(AQuery) {}
  platform::data::TDataSet* GetDetailDataSet() override;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void RecordChanged(platform::data::TField* Field) override;

 private:
  TORVQuery* FQuery;
};

class TORVQuery : public TORVDataSet, public IORVSQLQuery {
 public:
  explicit TORVQuery(TORVComponent* AOwner = nullptr);
  ~TORVQuery() override;

  // ---- the statement ----
  const std::string& SQL() const { return FSQL; }
  // A text other than the current one closes and unprepares the query and parses its
  // parameters again (with ParamCheck).
  void SetSQL(const std::string& Value);
  // The text as the parameter parser returned it.
  const std::string& Text() const { return FText; }
  bool ParamCheck() const { return FParamCheck; }
  void SetParamCheck(bool Value) { FParamCheck = Value; }
  bool RequestLive() const { return FRequestLive; }
  void SetRequestLive(bool Value) { FRequestLive = Value; }

  // ---- parameters ----
  platform::data::TParams& Params() { return FParams; }
  int32_t ParamCount() const { return FParams.Count(); }
  platform::data::TParam* ParamByName(const std::string& Value) const { return FParams.ParamByName(Value); }
  void SetParamsList(const platform::data::TParams& Value) { FParams.AssignValues(Value); }

  // ---- master / detail ----
  platform::data::TDataSource* DataSource() const { return FDataLink->DataSource(); }
  platform::data::TDataSource* GetDataSource() override { return FDataLink->DataSource(); }
  void SetDataSource(platform::data::TDataSource* Value);

  // ---- life cycle ----
  bool Prepared() const { return FPrepared; }
  void Prepare();
  void UnPrepare();
  void SetPrepare(bool Value) { Value ? Prepare() : UnPrepare(); }
  // Runs a statement without a result set (the query must be closed).
  void ExecSQL();
  // While prepared the processor's count, else the one kept; -1 until known.
  int32_t RowsAffected() const;
  TORVSQLProcessor* StmtHandle() const { return FStmtHandle.get(); }

  void SetDBFlag(int32_t Flag, bool Value) override;
  void Disconnect() override;
  bool IsQuery() const override { return true; }

  // Re-runs the query from the master's current record (the link calls it).
  void RefreshParams();

  // ---- IORVSQLQuery ----
  std::string GetDatabaseName() const override { return DatabaseName(); }
  std::string GetSessionName() const override { return SessionName(); }
  bool GetInMemory() const override { return InMemory(); }
  TORVBaseSession* GetTableSession(bool InMemory) override;
  TORVBaseSession* GetTempSession() override;
  bool GetMultiUser() const override;
  bool GetDisableTempFiles() const override;
  // On the database component, which refuses a closed database or a second transaction.
  void StartTransaction() override;
  void Commit(bool Flush) override;
  void Rollback() override;

 protected:
  TORVCursor* CreateHandle() override;
  void InternalRefresh() override;

 private:
  void QueryChanged();
  void SetPrepared(bool Value);
  TORVCursor* CreateCursor(bool GenHandle);
  TORVCursor* GetQueryCursor(bool GenHandle);
  void SetParamsFromCursor();
  // A session of a built-in database of the running engine, made when first needed.
  TORVBaseSession* BuiltinSession(std::unique_ptr<TORVLocalSession>& Session, const char* Name);

  std::string FSQL;
  std::string FText;
  bool FPrepared = false;
  platform::data::TParams FParams;
  int32_t FRowsAffected = -1;
  bool FRequestLive = false;
  bool FParamCheck = true;
  bool FCheckRowsAffected = false;
  // The sessions go after the processor, whose result tables they hold.
  std::unique_ptr<TORVLocalSession> FMemorySession, FTempSession;
  std::unique_ptr<TORVLocalSQLProcessor> FStmtHandle;
  std::unique_ptr<TORVQueryDataLink> FDataLink;
};

}  // namespace orv
