#include "dbengine/sql/orv_query.h"

#include <utility>

#include "dbengine/access/orv_main_engine.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "platform/data/database_error.h"

namespace orv {

using platform::data::TParam;
using platform::data::TParams;
using platform::data::Variant;
using platform::data::VarType;

namespace {

// The marker a colon between double quotes becomes while the parameter parser reads the
// text, so that "a:b" is no parameter.
constexpr const char* kQuotedColon = "\":\"";
constexpr const char* kCutColon = "\"<cut colon>\"";

std::string ReplaceAll(std::string Text, const std::string& From, const std::string& To) {
  for (size_t at = Text.find(From); at != std::string::npos; at = Text.find(From, at + To.size()))
    Text.replace(at, From.size(), To);
  return Text;
}

// A data-layer value as the engine's variant value.
TORVVarValue ToVarValue(const Variant& Value) {
  switch (Value.Type()) {
    case VarType::Empty: return {varEmpty, std::monostate{}};
    case VarType::Null: return TORVVarValue::Null();
    case VarType::Boolean: return TORVVarValue::Bool(Value.AsBoolean());
    case VarType::Integer: return TORVVarValue::Int(varInteger, Value.AsInteger());
    case VarType::Int64: return TORVVarValue::Int(varInt64, Value.AsInt64());
    case VarType::Double: return TORVVarValue::Float(varDouble, Value.AsDouble());
    case VarType::Currency: return TORVVarValue::Float(varCurrency, Value.AsCurrency());
    case VarType::Date: return TORVVarValue::Float(varDate, Value.AsDateTime());
    case VarType::String:
    case VarType::AnsiString: return TORVVarValue::Ansi(Value.AsAnsiString());
    case VarType::WideString: return TORVVarValue::Wide(Value.AsWideString());
    default: break;
  }
  throw EORVException(30207, "Parameter value of this type cannot be passed to the engine");
}

}  // namespace

// ---- TORVQueryDataLink --------------------------------------------------------------------------

platform::data::TDataSet* TORVQueryDataLink::GetDetailDataSet() { return FQuery; }

void TORVQueryDataLink::ActiveChanged() {
  if (FQuery->Active()) FQuery->RefreshParams();
}

void TORVQueryDataLink::CheckBrowseMode() {
  if (FQuery->Active()) FQuery->CheckBrowseMode();
}

void TORVQueryDataLink::RecordChanged(platform::data::TField* Field) {
  if (!Field && FQuery->Active()) FQuery->RefreshParams();
}

// ---- TORVQuery ------------------------------------------------------------------------------------

TORVQuery::TORVQuery(TORVComponent* AOwner)
    : TORVDataSet(AOwner), FDataLink(std::make_unique<TORVQueryDataLink>(this)) {}

TORVQuery::~TORVQuery() {
  try {
    Disconnect();
  } catch (...) {
  }
  FDataLink.reset();
}

void TORVQuery::SetSQL(const std::string& Value) {
  if (Value == FSQL) return;
  Disconnect();
  FSQL = Value;
  QueryChanged();
}

void TORVQuery::QueryChanged() {
  Disconnect();
  if (FParamCheck) {
    TParams fresh;
    const std::string parsed = fresh.ParseSQL(ReplaceAll(FSQL, kQuotedColon, kCutColon), true);
    FText = ReplaceAll(parsed, kCutColon, kQuotedColon);
    fresh.AssignValues(FParams);
    FParams.Clear();
    FParams.Assign(fresh);
  } else {
    FText = FSQL;
  }
  DataEvent(platform::data::dePropertyChange, 0);
}

void TORVQuery::SetDataSource(platform::data::TDataSource* Value) {
  // The master, following its own masters, must not come back to this query.
  platform::data::TDataSet* ds = Value ? Value->DataSet() : nullptr;
  for (int guard = 0; ds && guard < 1000; ++guard) {
    if (ds == this) platform::data::DatabaseError("Circular datalinks are not allowed", Name());
    platform::data::TDataSource* master = ds->GetDataSource();
    ds = master ? master->DataSet() : nullptr;
  }
  FDataLink->SetDataSource(Value);
}

void TORVQuery::Prepare() {
  const bool held = DBFlag(dbfPrepared);
  SetDBFlag(dbfPrepared, true);
  try {
    SetPrepared(true);
  } catch (...) {
    // A failed prepare holds nothing: not the flag, not the database.
    if (!held) SetDBFlag(dbfPrepared, false);
    throw;
  }
}

void TORVQuery::UnPrepare() {
  SetPrepared(false);
  SetDBFlag(dbfPrepared, false);
}

void TORVQuery::Disconnect() {
  Close();
  UnPrepare();
}

void TORVQuery::SetPrepared(bool Value) {
  if (Handle()) {
    if (Value) throw EORVException(30141, "Cannot perform this operation on an open dataset");
    FExternalHandle = nullptr;
  }
  if (FPrepared == Value) return;
  if (Value) {
    FRowsAffected = -1;
    FCheckRowsAffected = true;
    if (FSQL.size() < 2) throw EORVException(30142, "No SQL statement available");
    auto processor = std::make_unique<TORVLocalSQLProcessor>(this);
    processor->FRequestLive = FRequestLive;
    processor->FInMemory = InMemory();
    // The processor runs the text the parameter parser returned: its parameters are "?".
    processor->PrepareStatement(FParamCheck ? FText : FSQL);
    FStmtHandle = std::move(processor);
  } else {
    if (FCheckRowsAffected) FRowsAffected = RowsAffected();
    FStmtHandle.reset();
  }
  FPrepared = Value;
}

int32_t TORVQuery::RowsAffected() const {
  if (FPrepared && FStmtHandle) return static_cast<int32_t>(FStmtHandle->FRowsAffected);
  return FRowsAffected;
}

void TORVQuery::SetDBFlag(int32_t Flag, bool Value) {
  if (!Value && DBFlag(Flag)) {
    bool others = false;
    for (int32_t f = dbfOpened; f <= dbfRepair; ++f) others = others || (f != Flag && DBFlag(f));
    if (!others) SetPrepared(false);
  }
  TORVDataSet::SetDBFlag(Flag, Value);
}

void TORVQuery::ExecSQL() {
  CheckInactive();
  TORVDBFlagGuard flag(*this, dbfExecSQL);
  CreateCursor(false);
}

TORVCursor* TORVQuery::CreateHandle() {
  TORVDatabase* db = Database();
  const bool silent = db && db->SilentMode();
  if (db) db->SetSilentMode(true);
  try {
    TORVCursor* cursor = FExternalHandle ? FExternalHandle : CreateCursor(true);
    if (db) db->SetSilentMode(silent);
    return cursor;
  } catch (...) {
    if (db) db->SetSilentMode(silent);
    throw;
  }
}

TORVCursor* TORVQuery::CreateCursor(bool GenHandle) {
  if (FSQL.empty()) throw EORVException(20034, "No SQL statement available");
  SetPrepared(true);
  if (DataSource()) SetParamsFromCursor();
  TORVCursor* cursor = GetQueryCursor(GenHandle);
  FCheckRowsAffected = cursor == nullptr;
  return cursor;
}

TORVCursor* TORVQuery::GetQueryCursor(bool GenHandle) {
  TORVSQLParams& engine = FStmtHandle->FSQLParams;
  engine.Clear();
  for (int i = 0; i < FParams.Count(); ++i) {
    const TParam& p = *FParams[i];
    TORVSQLParam& e = *engine.AddCreated();
    e.Name = p.Name();
    if (p.DataType() == platform::data::ftUnknown) continue;
    e.SetNull();
    if (p.IsNull()) {
      e.SetDataType(AdvancedFieldTypeToBaseFieldType(FieldTypeToORVAdvFieldType(p.DataType())));
      continue;
    }
    switch (p.DataType()) {
      case platform::data::ftTime: e.SetDataAsTTime(p.AsDateTime()); break;
      case platform::data::ftBlob:
      case platform::data::ftGraphic: {
        const std::vector<uint8_t> bytes = p.AsBlob();
        e.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), bftBlob, true);
        break;
      }
      case platform::data::ftMemo:
      case platform::data::ftFmtMemo: {
        const std::string text = p.AsAnsiString();
        e.SetData(text.data(), static_cast<int32_t>(text.size()), bftVarchar, true);
        break;
      }
      case platform::data::ftWideMemo: {
        const std::u16string text = p.AsWideString();
        e.SetData(text.data(), static_cast<int32_t>(text.size() * 2), bftWideVarchar, true);
        break;
      }
      default: e.SetDataAsVariant(ToVarValue(p.Value())); break;
    }
  }
  if (!GenHandle) {
    FStmtHandle->ExecuteQuery();
    return nullptr;
  }
  TORVCursor* cursor = FStmtHandle->OpenQuery();
  if (cursor) {
    // The result's columns are the select list's: the dataset keeps that projection.
    cursor->FSettingProjection = true;
    FExternalHandle = cursor;
    SetReadOnlyValue(FStmtHandle->FReadOnly || (Database() && Database()->ReadOnly()));
  }
  return cursor;
}

void TORVQuery::SetParamsFromCursor() {
  platform::data::TDataSet* master = FDataLink->DataSet();
  if (!master) return;
  master->FieldDefs().Update();
  for (int i = 0; i < FParams.Count(); ++i) {
    TParam& p = *FParams[i];
    if (p.Bound()) continue;
    p.AssignField(*master->FieldByName(p.Name()));
    p.SetBound(false);
    if (p.IsNull()) p.SetDataType(platform::data::ftInteger);
  }
}

void TORVQuery::RefreshParams() {
  DisableControls();
  try {
    platform::data::TDataSet* master = FDataLink->DataSet();
    if (master && master->Active() && master->State() != platform::data::dsSetKey) {
      Close();
      Open();
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TORVQuery::InternalRefresh() {
  if (!Active()) return;
  // A copied result is brought up to date by running the statement again.
  if (ReadOnly()) {
    Close();
    Open();
  } else {
    TORVDataSet::InternalRefresh();
  }
}

TORVBaseSession* TORVQuery::BuiltinSession(std::unique_ptr<TORVLocalSession>& Session, const char* Name) {
  if (!Session) Session = ConnectBuiltinDatabase(ORVEngine().DBDataList(), Name);
  return Session.get();
}

TORVBaseSession* TORVQuery::GetTableSession(bool InMemory) {
  if (InMemory || this->InMemory()) return BuiltinSession(FMemorySession, "MEMORY");
  TORVDatabase* db = Database();
  if (!db || !db->Handle()) throw EORVException(10311, "Nil pointer occured");
  return db->Handle();
}

TORVBaseSession* TORVQuery::GetTempSession() { return BuiltinSession(FTempSession, "TEMP"); }

bool TORVQuery::GetMultiUser() const { return Database() && Database()->MultiUser(); }

bool TORVQuery::GetDisableTempFiles() const { return Database() && Database()->DisableTempFiles(); }

void TORVQuery::StartTransaction() {
  if (!Database()) throw EORVException(10311, "Nil pointer occured");
  Database()->StartTransaction();
}

void TORVQuery::Commit(bool Flush) {
  if (!Database()) throw EORVException(10311, "Nil pointer occured");
  Database()->Commit(Flush);
}

void TORVQuery::Rollback() {
  if (!Database()) throw EORVException(10311, "Nil pointer occured");
  Database()->Rollback();
}

}  // namespace orv
