#include "dbengine/access/orv_main_database.h"

#include <algorithm>

#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/access/orv_password_dialog.h"
#include "dbengine/file/orv_disk_engine_layout.h"
#include "dbengine/storage/orv_design_mode.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/cp1252.h"
#include "platform/base/number_format.h"
#include "platform/data/database_error.h"

namespace orv {

namespace {

using platform::data::DatabaseError;
using platform::data::FormatText;
using platform::ui::ModalResult;
using platform::ui::MsgButtons;
using platform::ui::MsgKind;

// The engine's version as the components report it.
constexpr double EngineVersion = 7.9;

// Where a failed conversion sends the operator; no vendor address.
constexpr char SupportContact[] = "your QUIRVEL support";

}  // namespace

TORVDatabase::TORVDatabase(TORVComponent* AOwner) : TORVComponent(AOwner) {
  auto* owner_session = dynamic_cast<TORVSession*>(AOwner);
  FSession = owner_session ? owner_session : ORVEngine().DefaultSession();
  FSessionName = FSession->SessionName();
  FSession->AddDatabase(this);
  if (!IsDesignMode() && AOwner && AOwner->Designing()) SetDesignMode(true);
  NotifyInserted();
}

TORVDatabase::~TORVDatabase() {
  MarkDestroying();
  try {
    Close();
  } catch (...) {
    // A destructor never raises: the storage session is gone whatever its disconnect did.
  }
  FOwnedHandle.reset();
  FHandle = nullptr;
  FDataSets.clear();
  if (FSession) FSession->RemoveDatabase(this);
}

void TORVDatabase::Loaded() {
  TORVComponent::Loaded();
  if (ORVEngine().StartDisconnected) return;
  if (FStreamedConnected)
    Open();
  else
    CheckSessionName(false);
}

void TORVDatabase::Notification(TORVComponent* AComponent, TOperation Operation) {
  TORVComponent::Notification(AComponent, Operation);
  if (Operation != opRemove || !AComponent || AComponent != FSession) return;
  if (FSession->IsDefault()) {
    // Only the engine's shut-down takes the default session away.
    FSession->RemoveDatabase(this);
    FSession = nullptr;
    return;
  }
  Close();
  SetSessionName("");
}

void TORVDatabase::JoinAutoSession(TORVSession& Session) {
  if (FSession == &Session) return;
  if (FSession) FSession->RemoveDatabase(this);
  FSession = &Session;
  FSessionName = Session.SessionName();
  Session.AddDatabase(this);
}

TORVSession& TORVDatabase::AttachedSession() {
  if (!FSession) throw EORVException(30548, "Database '%s' has no session: its session was freed", {FDatabaseName});
  return *FSession;
}

// ---- Properties ---------------------------------------------------------------------------

std::string TORVDatabase::CurrentVersion() const {
  const platform::FormatSettings point{'.', ','};
  return platform::FloatToStrF(EngineVersion, platform::TFloatFormat::ffFixed, 15, 2, point) + " ";
}

void TORVDatabase::SetConnected(bool Value) {
  if (Loading()) {
    FStreamedConnected = Value;
    return;
  }
  if (Value == Connected()) return;
  if (Value)
    Open();
  else
    Close();
}

void TORVDatabase::SetDatabaseName(const std::string& Value) {
  if (Loading()) {
    FDatabaseName = Value;
    return;
  }
  if (Value == FDatabaseName) return;
  CheckInactive();
  ValidateName(Value);
  FDatabaseName = Value;
}

void TORVDatabase::SetDatabaseFileName(const std::string& Value) {
  if (Loading()) {
    FDatabaseFileName = Value;
    return;
  }
  if (Value == FDatabaseFileName) return;
  SetConnected(false);
  FDatabaseFileName = Value;
}

void TORVDatabase::SetSessionName(const std::string& Value) {
  if (Loading()) {
    FSessionName = Value;
    return;
  }
  CheckInactive();
  if (Value == FSessionName) return;
  FSessionName = Value;
  if (!Destroying()) CheckSessionName(false);
}

void TORVDatabase::SetKeepConnection(bool Value) {
  if (Value == FKeepConnection) return;
  FKeepConnection = Value;
  if (!Value && FRefCount == 0) Close();
}

bool TORVDatabase::Exists() const { return platform::FileExists(FDatabaseFileName); }

bool TORVDatabase::InTransaction() const { return FHandle && FHandle->FInTransaction; }

void TORVDatabase::AddDataSet(IORVDatabaseDataSet* DataSet) {
  if (DataSet && std::find(FDataSets.begin(), FDataSets.end(), DataSet) == FDataSets.end())
    FDataSets.push_back(DataSet);
}

void TORVDatabase::RemoveDataSet(IORVDatabaseDataSet* DataSet) {
  FDataSets.erase(std::remove(FDataSets.begin(), FDataSets.end(), DataSet), FDataSets.end());
}

void TORVDatabase::CloseDataSets() {
  // Each dataset leaves the list when it disconnects; one that does not is taken out here, so
  // that the loops always end.
  auto disconnect = [this](IORVDatabaseDataSet* ds) {
    ds->Disconnect();
    RemoveDataSet(ds);
  };
  for (;;) {
    auto query = std::find_if(FDataSets.begin(), FDataSets.end(), [](auto* ds) { return ds->IsQuery(); });
    if (query == FDataSets.end()) break;
    disconnect(*query);
  }
  while (!FDataSets.empty()) disconnect(FDataSets.back());
}

// ---- Checks -------------------------------------------------------------------------------

void TORVDatabase::CheckDatabaseName() {
  if (FDatabaseName.empty() && !FTemporary) DatabaseError("Database name missing", Name());
}

void TORVDatabase::CheckActive() {
  if (!FHandle) DatabaseError("Cannot perform this operation on a closed database", Name());
}

void TORVDatabase::CheckInactive() {
  if (FHandle) DatabaseError("Cannot perform this operation on an open database", Name());
}

void TORVDatabase::CheckConnected() {
  if (FHandle) DatabaseError("Cannot perform this operation on an open database", Name());
}

void TORVDatabase::ValidateName(const std::string& Name) {
  if (Name.empty() || !FSession) return;
  std::lock_guard<std::recursive_mutex> lock(ORVEngine().SessionLock());
  TORVDatabase* other = FSession->FindDatabase(Name);
  if (!other || other == this || (other->FHandleShared && FHandleShared)) return;
  if (!other->FTemporary || other->FRefCount != 0)
    DatabaseError(FormatText("Duplicate database name '%s'", {Name}), this->Name());
  // An unreferenced temporary database of that name gives way.
  delete other;
}

void TORVDatabase::CheckSessionName(bool Required) {
  TORVSessionList& sessions = ORVEngine().Sessions();
  TORVSession* session = Required ? sessions.GetSessionByName(FSessionName) : sessions.FindSession(FSessionName);
  if (session && session != FSession) {
    if (FSession) FSession->RemoveDatabase(this);
    FSession = session;
    session->AddDatabase(this);
    try {
      ValidateName(FDatabaseName);
    } catch (...) {
      FDatabaseName.clear();
      throw;
    }
  }
  if (Required) AttachedSession().SetActive(true);
}

// ---- Storage session ----------------------------------------------------------------------

TORVLocalSession* TORVDatabase::LocalHandle() const { return dynamic_cast<TORVLocalSession*>(FHandle); }

void TORVDatabase::CreateHandle() {
  auto local = std::make_unique<TORVLocalSession>(ORVEngine().DBDataList(), FileFactory);
  local->FDatabaseName = FDatabaseName;
  local->FDatabaseFileName = FDatabaseFileName;
  local->GetPassword()->Password = platform::Utf8ToCp1252(FPassword);
  local->GetPassword()->CryptoAlgorithm = FCryptoAlgorithm;
  local->FPageSize = static_cast<uint32_t>(FPageSize);
  local->FPageCountInExtent = static_cast<uint32_t>(FPageCountInExtent);
  local->FMaxSessionCount = FMaxConnections;
  local->FReadOnly = FReadOnly;
  local->FExclusive = FExclusive;
  local->FMultiUser = FMultiUser;
  // Only in multi-user mode do connections under different session names get objects of
  // their own; single-user connections of the process share one.
  if (FMultiUser) local->FSessionName = FSessionName;
  FAcquiredHandle = false;
  FOwnedHandle = std::move(local);
  FHandle = FOwnedHandle.get();
}

void TORVDatabase::DestroyHandle() {
  std::unique_ptr<TORVLocalSession> handle = std::move(FOwnedHandle);
  FHandle = nullptr;
  if (handle) handle->SetConnected(false);
}

bool TORVDatabase::OpenFromExistingDB() {
  TORVBaseSession* shared = AttachedSession().FindDatabaseHandle(FDatabaseName);
  if (!shared) return false;
  FHandle = shared;
  FAcquiredHandle = true;
  return true;
}

bool TORVDatabase::GetPassword() {
  if (OnPassword) {
    bool Continue = false;
    OnPassword(*this, Continue);
    return Continue;
  }
  if (FSilentMode) return false;
  return PasswordDialog(this, "");
}

bool TORVDatabase::DoOnNeedRepair() {
  if (FNoRequestAutoRepair) return false;
  if (OnNeedRepair) {
    bool DoRepair = false;
    OnNeedRepair(*this, DoRepair);
    return DoRepair;
  }
  return platform::ui::Services().MessageBox(
             "Database file was not correctly closed last time. Do you want to repair it?", "Confirm",
             MsgButtons::YesNo, MsgKind::Question) == ModalResult::Yes;
}

bool TORVDatabase::DoOnNeedConvert() {
  if (FNoRequestAutoRepair) return false;
  platform::ui::Services().MessageBox(
      "Database file you are opening is of old format. It will be converted to the current Orveta Database format "
      "now. It is recommended to make a backup of the database before continuing.",
      "Information", MsgButtons::Ok, MsgKind::Information);
  return true;
}

// ---- Connection ---------------------------------------------------------------------------

void TORVDatabase::ConnectHandle() {
  CreateHandle();
  try {
    FHandle->SetConnected(true);
    TORVDiskDatabaseData* disk = LocalHandle()->DiskDatabaseData();
    if (disk && FHandle->FRepairNeeded && !FSilentMode && !IsDesignMode()) {
      const double version = disk->GetDiskPageManager()->GetDbHeader()->Version;
      const bool repair = version < ORVMinimumDatabaseVersion ? DoOnNeedConvert() : DoOnNeedRepair();
      if (repair) {
        DestroyHandle();
        const bool no_request = FNoRequestAutoRepair;
        // The opening inside the repair must not ask again.
        FNoRequestAutoRepair = true;
        try {
          const std::string log = RepairDatabase();
          if (!log.empty())
            platform::ui::Services().MessageBox(log, "Warning", MsgButtons::Ok, MsgKind::Warning);
        } catch (...) {
          FNoRequestAutoRepair = no_request;
          throw EORVException(20238, "Cannot convert database to the new format. Please contact %s with this issue",
                              {SupportContact});
        }
        FNoRequestAutoRepair = no_request;
        CreateHandle();
        FHandle->SetConnected(true);
      }
    }
  } catch (...) {
    try {
      DestroyHandle();
    } catch (...) {
    }
    throw;
  }
}

void TORVDatabase::Open() {
  if (Connected()) return;
  CheckDatabaseName();
  CheckSessionName(true);
  if (FHandleShared && OpenFromExistingDB()) return;
  {
    std::lock_guard<std::recursive_mutex> lock(ORVEngine().SessionLock());
    if (!FTemporary && !platform::FileExists(FDatabaseFileName))
      DatabaseError(FormatText("Database file '%s' does not exist", {FDatabaseFileName}), Name());
    for (;;) {
      try {
        ConnectHandle();
        break;
      } catch (const EORVException& e) {
        // The password does not open the file: ask for another and try again.
        if (e.NativeError() != 30445 || !GetPassword()) throw;
      }
    }
    TORVLocalSession& local = *LocalHandle();
    if (!Designing()) FReadOnly = local.FReadOnly;
    FCryptoAlgorithm = local.GetPassword()->CryptoAlgorithm;
    FPageSize = static_cast<int32_t>(local.FPageSize);
    FPageCountInExtent = static_cast<int32_t>(local.FPageCountInExtent);
    FMaxConnections = local.FMaxSessionCount;
  }
  AttachedSession().DBNotification(dbOpen, this);
}

void TORVDatabase::Close() {
  if (!Connected()) return;
  if (FSession) FSession->DBNotification(dbClose, this);
  CloseDataSets();
  struct Closed {
    TORVDatabase& db;
    ~Closed() {
      db.FHandle = nullptr;
      db.FRefCount = 0;
    }
  } closed{*this};
  if (FAcquiredHandle) {
    FAcquiredHandle = false;
    return;
  }
  // Those that borrowed this storage session go first: it is freed here.
  if (FSession) {
    for (int32_t i = FSession->GetDatabaseCount(); i-- > 0;) {
      if (i >= FSession->GetDatabaseCount()) continue;
      TORVDatabase* other = FSession->GetDatabase(i);
      if (other != this && other->FAcquiredHandle && other->FHandle == FHandle) other->Close();
    }
  }
  DestroyHandle();
}

// ---- Information and transactions ---------------------------------------------------------

void TORVDatabase::GetTablesList(std::vector<std::string>& List) {
  const bool was_connected = Connected();
  try {
    if (!was_connected) Open();
    if (FHandle) FHandle->GetTablesList(List);
  } catch (...) {
    // What was added stays; the caller asked only for what can be listed.
  }
  if (!was_connected) {
    try {
      Close();
    } catch (...) {
    }
  }
}

bool TORVDatabase::TableExists(const std::string& TableName) {
  if (!Connected()) Open();
  return FHandle ? FHandle->TableExists(TableName) : false;
}

int32_t TORVDatabase::GetDBFileConnectionsCount() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckActive();
  TORVLocalSession* local = LocalHandle();
  return local ? local->GetDBFileConnectionsCount() : 0;
}

void TORVDatabase::FlushBuffers() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckActive();
  FHandle->FlushBuffers();
}

void TORVDatabase::StartTransaction() {
  CheckActive();
  if (InTransaction()) DatabaseError("Database is already within a transaction");
  FHandle->StartTransaction();
}

void TORVDatabase::Commit(bool DoFlushBuffers) {
  CheckActive();
  FHandle->Commit(DoFlushBuffers);
}

void TORVDatabase::Rollback() {
  CheckActive();
  FHandle->Rollback();
}

// ---- File operations ----------------------------------------------------------------------

void TORVDatabase::CreateDatabase() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  std::lock_guard<std::recursive_mutex> lock(ORVEngine().SessionLock());
  CreateHandle();
  try {
    FHandle->CreateDatabase();
  } catch (...) {
    try {
      DestroyHandle();
    } catch (...) {
    }
    throw;
  }
  DestroyHandle();
}

void TORVDatabase::DeleteDatabase() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  // The result is not examined: a file that is not there is as good as deleted.
  (void)platform::DeleteFile(FDatabaseFileName);
}

void TORVDatabase::RenameDatabase(const std::string& NewDatabaseFileName) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  if (platform::RenameFile(FDatabaseFileName, NewDatabaseFileName) == 0) FDatabaseFileName = NewDatabaseFileName;
}

void TORVDatabase::TruncateDatabase() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  const bool exclusive = FExclusive;
  FExclusive = true;
  try {
    Open();
    LocalHandle()->TruncateDatabase();
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    FExclusive = exclusive;
    throw;
  }
  struct Restore {
    TORVDatabase& db;
    bool exclusive;
    ~Restore() { db.FExclusive = exclusive; }
  } restore{*this, exclusive};
  Close();
}

}  // namespace orv
