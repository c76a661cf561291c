#include "dbengine/access/orv_main_session.h"

#include <algorithm>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_except.h"
#include "platform/data/database_error.h"

namespace orv {

namespace {

using platform::data::DatabaseError;
using platform::data::FormatText;

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Session and database names compare ignoring the case of ASCII letters only.
bool SameAsciiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool AsciiTextLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return AsciiUpper(x) < AsciiUpper(y); });
}

// LockSession for a scope: the session lock, with the session made current.
using SessionLockGuard = TORVLockGuard<TORVSession>;

}  // namespace

// ---- Session list -------------------------------------------------------------------------

TORVSessionList::TORVSessionList(TORVEngine& Engine) : FEngine(Engine) {}

TORVSessionList::~TORVSessionList() { CloseAll(); }

void TORVSessionList::AddSession(TORVSession* Session) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (FSessions.empty()) Session->FDefault = true;
  FSessions.push_back(Session);
}

void TORVSessionList::RemoveSession(TORVSession* Session) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  FSessions.erase(std::remove(FSessions.begin(), FSessions.end(), Session), FSessions.end());
}

void TORVSessionList::CloseAll() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  while (!FSessions.empty()) {
    TORVSession* last = FSessions.back();
    FSessions.pop_back();
    delete last;
  }
}

int32_t TORVSessionList::GetCount() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return static_cast<int32_t>(FSessions.size());
}

TORVSession* TORVSessionList::GetCurrentSession() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  for (TORVSession* s : FSessions)
    if (s->FHandle && s->FHandle == FEngine.CurrentSessionManager) return s;
  return nullptr;
}

TORVSession* TORVSessionList::GetSession(int32_t Index) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return FSessions.at(static_cast<size_t>(Index));
}

TORVSession* TORVSessionList::FindSession(const std::string& SessionName) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (SessionName.empty()) {
    for (TORVSession* s : FSessions)
      if (s->FDefault) return s;
    return nullptr;
  }
  for (TORVSession* s : FSessions)
    if (SameAsciiText(s->FSessionName, SessionName)) return s;
  return nullptr;
}

TORVSession* TORVSessionList::GetSessionByName(const std::string& SessionName) {
  TORVSession* found = FindSession(SessionName);
  if (!found) throw EORVException(20002, "Invalid session name '%s'", {SessionName});
  return found;
}

void TORVSessionList::GetSessionNames(std::vector<std::string>& List) {
  List.clear();
  std::lock_guard<std::recursive_mutex> lock(FLock);
  for (TORVSession* s : FSessions) List.push_back(s->FSessionName);
}

TORVSession* TORVSessionList::OpenSession(const std::string& SessionName) {
  TORVSession* session = FindSession(SessionName);
  if (!session) {
    session = new TORVSession(nullptr);
    try {
      session->SetSessionName(SessionName);
    } catch (...) {
      delete session;
      throw;
    }
  }
  session->SetActive(true);
  return session;
}

void TORVSessionList::SetCurrentSession(TORVSession* Session) { ORVSetCurrentSession(Session ? Session->FHandle : nullptr); }

int32_t TORVSessionList::TakeSessionNumber() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  auto it = std::find(FSessionNumbers.begin(), FSessionNumbers.end(), false);
  const auto number = static_cast<int32_t>(it - FSessionNumbers.begin());
  if (it == FSessionNumbers.end())
    FSessionNumbers.push_back(true);
  else
    *it = true;
  return number;
}

void TORVSessionList::ReleaseSessionNumber(int32_t Number) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (Number >= 0 && static_cast<size_t>(Number) < FSessionNumbers.size())
    FSessionNumbers[static_cast<size_t>(Number)] = false;
}

// ---- Session ------------------------------------------------------------------------------

TORVSession::TORVSession(TORVComponent* AOwner) : TORVComponent(AOwner), FEngine(ORVEngine()) {
  ValidateAutoSession(AOwner, false);
  FEngine.Sessions().AddSession(this);
  NotifyInserted();
}

TORVSession::~TORVSession() {
  MarkDestroying();
  try {
    SetActive(false);
  } catch (...) {
    // A destructor never raises; what could not be closed is detached below.
  }
  FEngine.Sessions().RemoveSession(this);
  // A generated name gives its number back, so that the next session can have it.
  if (FAutoSessionName && FSessionNumber >= 0) FEngine.Sessions().ReleaseSessionNumber(FSessionNumber);
  // The databases still attached learn that their session goes (a database of another
  // session moves to the default one); none keeps a pointer to it.
  const std::vector<TORVDatabase*> attached = FDatabases;
  for (auto it = attached.rbegin(); it != attached.rend(); ++it) {
    TORVDatabase* db = *it;
    if (std::find(FDatabases.begin(), FDatabases.end(), db) == FDatabases.end()) continue;
    try {
      db->Notification(this, opRemove);
    } catch (...) {
    }
    if (db->FSession == this) db->FSession = nullptr;
    FDatabases.erase(std::remove(FDatabases.begin(), FDatabases.end(), db), FDatabases.end());
  }
}

void TORVSession::SetActive(bool Value) {
  if (Loading()) {
    FStreamedActive = Value;
    return;
  }
  if (Value != Active()) StartSession(Value);
}

void TORVSession::Loaded() {
  TORVComponent::Loaded();
  if (FAutoSessionName) SetSessionNames();
  if (FStreamedActive) SetActive(true);
}

void TORVSession::StartSession(bool Value) {
  std::lock_guard<std::recursive_mutex> lock(FEngine.SessionLock());
  if (Value) {
    if (OnStartup) OnStartup(*this);
    if (FSessionName.empty()) DatabaseError("Session name missing", Name());
    if (!FDefault) FEngine.DefaultSession()->SetActive(true);
    if (FDefault) {
      FEngine.InitializeORVEngine();
      FHandle = ORVGetCurrentSession();
    } else {
      ORVStartSession(FOwnHandle);
      FHandle = FOwnHandle.get();
    }
    return;
  }
  ORVSetCurrentSession(FHandle);
  // From the last: freeing a temporary database takes it out of the list.
  for (size_t i = FDatabases.size(); i-- > 0;) {
    if (i >= FDatabases.size()) continue;
    TORVDatabase* db = FDatabases[i];
    if (db->Temporary())
      delete db;
    else
      db->Close();
  }
  if (FDefault) {
    FEngine.FinalizeORVEngine();
  } else {
    ORVCloseSession(FOwnHandle);
    TORVSession* def = FEngine.DefaultSession();
    ORVSetCurrentSession(def ? def->FHandle : nullptr);
  }
  FHandle = nullptr;
}

TORVSessionComponentManager* TORVSession::GetHandle() {
  if (FHandle)
    ORVSetCurrentSession(FHandle);
  else
    SetActive(true);
  return FHandle;
}

void TORVSession::MakeCurrent() { GetHandle(); }

void TORVSession::LockSession() {
  FEngine.SessionLock().lock();
  try {
    MakeCurrent();
  } catch (...) {
    FEngine.SessionLock().unlock();
    throw;
  }
}

void TORVSession::UnlockSession() { FEngine.SessionLock().unlock(); }

void TORVSession::CheckInactive() {
  if (Active()) DatabaseError("Cannot perform this operation on an active session", Name());
}

void TORVSession::SetSessionName(const std::string& Value) {
  if (FAutoSessionName && !FUpdatingAutoSessionName)
    DatabaseError("Cannot modify SessionName while AutoSessionName is enabled", Name());
  CheckInactive();
  if (!Value.empty()) {
    TORVSession* other = FEngine.Sessions().FindSession(Value);
    if (other && other != this) DatabaseError(FormatText("Duplicate session name '%s'", {Value}), Name());
  }
  FSessionName = Value;
}

void TORVSession::SetAutoSessionName(bool Value) {
  if (Value == FAutoSessionName) return;
  if (Value) {
    CheckInactive();
    ValidateAutoSession(Owner(), true);
    FSessionNumber = -1;
    {
      std::lock_guard<std::recursive_mutex> lock(FEngine.SessionLock());
      FSessionNumber = FEngine.Sessions().TakeSessionNumber();
    }
    try {
      UpdateAutoSessionName();
    } catch (...) {
      std::lock_guard<std::recursive_mutex> lock(FEngine.SessionLock());
      FEngine.Sessions().ReleaseSessionNumber(FSessionNumber);
      throw;
    }
  } else if (FSessionNumber >= 0) {
    std::lock_guard<std::recursive_mutex> lock(FEngine.SessionLock());
    FEngine.Sessions().ReleaseSessionNumber(FSessionNumber);
  }
  FAutoSessionName = Value;
}

void TORVSession::SetName(const std::string& Value) {
  TORVComponent::SetName(Value);
  if (FAutoSessionName) UpdateAutoSessionName();
}

void TORVSession::UpdateAutoSessionName() {
  struct Updating {
    bool& flag;
    explicit Updating(bool& f) : flag(f) { flag = true; }
    ~Updating() { flag = false; }
  } updating(FUpdatingAutoSessionName);
  SetSessionName(Name() + "_" + std::to_string(FSessionNumber + 1));
  SetSessionNames();
}

void TORVSession::SetSessionNames() {
  TORVComponent* owner = Owner();
  if (!owner) return;
  for (int32_t i = 0; i < owner->ComponentCount(); ++i) {
    auto* member = dynamic_cast<IORVSessionMember*>(owner->Components(i));
    if (member && !SameAsciiText(member->GetSessionName(), FSessionName)) member->SetSessionName(FSessionName);
  }
}

void TORVSession::ValidateAutoSession(TORVComponent* AOwner, bool AutoSessionName) {
  if (!AOwner) return;
  for (int32_t i = 0; i < AOwner->ComponentCount(); ++i) {
    TORVComponent* c = AOwner->Components(i);
    if (c == this) continue;
    auto* other = dynamic_cast<TORVSession*>(c);
    if (!other) continue;
    if (AutoSessionName)
      DatabaseError("Cannot enable AutoSessionName property with more than one session on a form or data-module",
                    Name());
    if (other->FAutoSessionName)
      DatabaseError(FormatText("Cannot add a session to the form or data-module while session '%s' has "
                               "AutoSessionName enabled",
                               {other->Name()}),
                    Name());
  }
}

void TORVSession::Notification(TORVComponent* AComponent, TOperation Operation) {
  TORVComponent::Notification(AComponent, Operation);
  if (FAutoSessionName && Operation == opInsert && AComponent && AComponent != this && AComponent->Owner() == Owner())
    if (auto* member = dynamic_cast<IORVSessionMember*>(AComponent)) member->JoinAutoSession(*this);
}

// ---- Databases ----------------------------------------------------------------------------

void TORVSession::AddDatabase(TORVDatabase* Database) {
  FDatabases.push_back(Database);
  DBNotification(dbAdd, Database);
}

void TORVSession::RemoveDatabase(TORVDatabase* Database) {
  {
    std::lock_guard<std::recursive_mutex> lock(FEngine.SessionLock());
    FDatabases.erase(std::remove(FDatabases.begin(), FDatabases.end(), Database), FDatabases.end());
  }
  DBNotification(dbRemove, Database);
}

void TORVSession::DBNotification(TORVDatabaseEvent DBEvent, TORVDatabase* Database) {
  if (FOnDBNotify) FOnDBNotify(DBEvent, Database);
}

TORVDatabase* TORVSession::FindDatabase(const std::string& DatabaseName) {
  SessionLockGuard lock(*this);
  for (TORVDatabase* db : FDatabases)
    if ((!db->DatabaseName().empty() || db->Temporary()) && SameAsciiText(db->DatabaseName(), DatabaseName)) return db;
  return nullptr;
}

TORVDatabase* TORVSession::DoFindDatabase(const std::string& DatabaseName, TORVComponent* AOwner) {
  if (AOwner) {
    SessionLockGuard lock(*this);
    for (TORVDatabase* db : FDatabases)
      if (db->Owner() == AOwner && db->HandleShared() && SameAsciiText(db->DatabaseName(), DatabaseName)) return db;
  }
  return FindDatabase(DatabaseName);
}

TORVBaseSession* TORVSession::FindDatabaseHandle(const std::string& DatabaseName) {
  for (TORVDatabase* db : FDatabases)
    if (db->Handle() && db->HandleShared() && SameAsciiText(db->DatabaseName(), DatabaseName)) return db->Handle();
  return nullptr;
}

TORVDatabase* TORVSession::DoOpenDatabase(const std::string& DatabaseName, TORVComponent* AOwner) {
  SessionLockGuard lock(*this);
  TORVDatabase* result = DoFindDatabase(DatabaseName, AOwner);
  TORVDatabase* made = nullptr;
  try {
    if (!result) {
      // One of the built-in databases reached by name: no file, no dialogs.
      made = new TORVDatabase(this);
      result = made;
      made->SetDatabaseName(DatabaseName);
      made->FKeepConnection = FKeepConnections;
      made->FTemporary = true;
      made->FSilentMode = true;
    }
    result->Open();
    ++result->FRefCount;
  } catch (...) {
    delete made;
    throw;
  }
  return result;
}

void TORVSession::CloseDatabase(TORVDatabase* Database) {
  if (!Database) return;
  if (Database->FRefCount > 0) --Database->FRefCount;
  if (Database->FRefCount != 0 || Database->FKeepConnection) return;
  if (!Database->FTemporary)
    Database->Close();
  else if (!Database->Destroying())
    delete Database;
}

void TORVSession::DropConnections() {
  for (size_t i = FDatabases.size(); i-- > 0;) {
    if (i >= FDatabases.size()) continue;
    TORVDatabase* db = FDatabases[i];
    if (db->Temporary() && db->RefCount() == 0) delete db;
  }
}

void TORVSession::GetDatabaseNames(std::vector<std::string>& List) {
  std::vector<std::string> names;
  for (TORVDatabase* db : FDatabases) names.push_back(db->DatabaseName());
  // A sorted list without duplicates, the way a sorted string list keeps names.
  std::sort(names.begin(), names.end(), AsciiTextLess);
  names.erase(std::unique(names.begin(), names.end(), [](const auto& a, const auto& b) { return SameAsciiText(a, b); }),
              names.end());
  List = std::move(names);
}

void TORVSession::GetTableNames(const std::string& DatabaseName, std::vector<std::string>& List) {
  List.clear();
  if (DatabaseName.empty()) return;
  TORVDatabase* db = OpenDatabase(DatabaseName);
  try {
    if (db->Handle()) db->Handle()->GetTablesList(List);
  } catch (...) {
    CloseDatabase(db);
    throw;
  }
  CloseDatabase(db);
}

}  // namespace orv
