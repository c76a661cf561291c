#include "dbengine/access/orv_local_engine_session.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

using ListGuard = TORVLockGuard<TORVDatabaseDataList>;

bool IsDisk(const TORVDatabaseData* DBData) { return dynamic_cast<const TORVDiskDatabaseData*>(DBData) != nullptr; }

}  // namespace

// ---- DBDataList ---------------------------------------------------------------------------

TORVDatabaseDataList::~TORVDatabaseDataList() { Clear(); }

TORVDatabaseData* TORVDatabaseDataList::Add(std::unique_ptr<TORVDatabaseData> DatabaseData) {
  ListGuard guard(*this);
  TORVDatabaseData* added = DatabaseData.get();
  added->LeaveDatabaseList = [this](TORVDatabaseData& d) { Forget(d); };
  added->ReleaseIfUnused = [this](TORVDatabaseData& d) { Release(&d); };
  FItems.push_back(std::move(DatabaseData));
  return added;
}

void TORVDatabaseDataList::Release(TORVDatabaseData* DatabaseData) {
  std::unique_ptr<TORVDatabaseData> doomed;
  ListGuard guard(*this);
  auto it = std::find_if(FItems.begin(), FItems.end(), [&](const auto& p) { return p.get() == DatabaseData; });
  if (it == FItems.end()) return;
  doomed = std::move(*it);
  FItems.erase(it);
  // Freed under the lock: closing the file belongs to the list's serialised work.
  doomed.reset();
}

void TORVDatabaseDataList::Clear() {
  ListGuard guard(*this);
  while (!FItems.empty()) {
    std::unique_ptr<TORVDatabaseData> first = std::move(FItems.front());
    FItems.erase(FItems.begin());
    // Sessions still connected (none of a component: those closed first) must not reach the
    // object once it is gone.
    for (TORVBaseSession* session : first->FSessionList)
      if (auto* local = dynamic_cast<TORVLocalSession*>(session)) local->FDatabaseData = nullptr;
    first.reset();
  }
}

int32_t TORVDatabaseDataList::Count() {
  ListGuard guard(*this);
  return static_cast<int32_t>(FItems.size());
}

TORVDatabaseData* TORVDatabaseDataList::Items(int32_t Index) {
  ListGuard guard(*this);
  return FItems.at(static_cast<size_t>(Index)).get();
}

bool TORVDatabaseDataList::Contains(const TORVDatabaseData* DatabaseData) {
  ListGuard guard(*this);
  return std::any_of(FItems.begin(), FItems.end(), [&](const auto& p) { return p.get() == DatabaseData; });
}

void TORVDatabaseDataList::Forget(TORVDatabaseData& DatabaseData) {
  ListGuard guard(*this);
  auto it = std::find_if(FItems.begin(), FItems.end(), [&](const auto& p) { return p.get() == &DatabaseData; });
  if (it == FItems.end()) return;
  (void)it->release();  // already being destroyed by whoever deleted it
  FItems.erase(it);
}

// ---- Paths --------------------------------------------------------------------------------

std::string CanonicalDatabasePath(const std::string& FileName) {
  namespace fs = std::filesystem;
  if (FileName.empty()) return {};
  std::error_code ec;
  const fs::path path(FileName);
  fs::path resolved = fs::canonical(path, ec);
  if (!ec) return resolved.string();
  // Not there yet (a file to be created): its folder's real path and its own name.
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  resolved = fs::canonical(folder, ec);
  if (!ec && path.has_filename()) return (resolved / path.filename()).string();
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  return absolute.lexically_normal().string();
}

// ---- Local session ------------------------------------------------------------------------

TORVLocalSession::TORVLocalSession(TORVDatabaseDataList& DatabaseDataList, platform::FileFactory Factory)
    : FList(DatabaseDataList), FFactory(std::move(Factory)) {}

TORVLocalSession::~TORVLocalSession() {
  try {
    SetConnected(false);
  } catch (...) {
    // A destructor never raises; a slot left in the sessions file goes with the file handle.
  }
}

bool TORVLocalSession::IsAppropriateDatabaseData(const TORVDatabaseData* DBData) const {
  if (!DBData) return false;
  if (FDatabaseName == MemoryDatabaseName) return AnsiUpperCase(DBData->FDatabaseName) == MemoryDatabaseName;
  if (FDatabaseName == TemporaryDatabaseName) return AnsiUpperCase(DBData->FDatabaseName) == TemporaryDatabaseName;
  // The built-in databases carry their names, a file's object its canonical path: the two
  // never meet.
  return IsDisk(DBData) && DBData->FDatabaseName == CanonicalDatabasePath(FDatabaseFileName) &&
         AnsiUpperCase(DBData->FSessionName) == AnsiUpperCase(FSessionName);
}

TORVDatabaseData* TORVLocalSession::FindDatabaseData() {
  ListGuard guard(FList);
  for (int32_t i = 0; i < FList.Count(); ++i)
    if (IsAppropriateDatabaseData(FList.Items(i))) return FList.Items(i);
  return nullptr;
}

TORVDatabaseData* TORVLocalSession::CreateDatabaseData() {
  auto disk = std::make_unique<TORVDiskDatabaseData>(FFactory);
  disk->FDatabaseName = CanonicalDatabasePath(FDatabaseFileName);
  disk->FReadOnly = FReadOnly;
  disk->FMaxSessionCount = FMaxSessionCount;
  disk->FPassword = FPassword;
  disk->FPageSize = static_cast<int32_t>(FPageSize);
  disk->FPageCountInExtent = static_cast<int32_t>(FPageCountInExtent);
  disk->FSessionName = FSessionName;
  ListGuard guard(FList);
  return FList.Add(std::move(disk));
}

TORVDatabaseData* TORVLocalSession::FindOrCreateDatabaseData() {
  ListGuard guard(FList);
  if (TORVDatabaseData* found = FindDatabaseData()) return found;
  return CreateDatabaseData();
}

TORVDiskDatabaseData* TORVLocalSession::DiskDatabaseData() const {
  return dynamic_cast<TORVDiskDatabaseData*>(FDatabaseData);
}

void TORVLocalSession::ReleaseIfUnused(TORVDatabaseData* DBData) {
  if (!DBData || !IsDisk(DBData)) return;
  DBData->FreeIfNoSessionsConnected();
}

void TORVLocalSession::SetConnected(bool Value) {
  if (Value == GetConnected()) return;
  if (Value)
    Connect();
  else
    Disconnect();
}

void TORVLocalSession::Connect() {
  ListGuard guard(FList);
  TORVDatabaseData* data = FindOrCreateDatabaseData();
  FDatabaseData = data;
  try {
    data->ConnectSession(this);
    FReadOnly = data->FReadOnly;
    if (auto* disk = dynamic_cast<TORVDiskDatabaseData*>(data)) {
      const TORVPassword& open = *disk->GetPassword();
      if (disk->GetEncrypted() && !open.Password.empty() && open.Password != FPassword.Password)
        throw EORVException(20298, "Database password is invalid.");
      FPassword = open;
      FPageSize = static_cast<uint32_t>(disk->FPageSize);
      FPageCountInExtent = static_cast<uint32_t>(disk->FPageCountInExtent);
      FMaxSessionCount = disk->FMaxSessionCount;
    }
  } catch (...) {
    // Nothing half-connected stays behind: the session leaves again, and an object made for
    // it alone goes with it.
    try {
      data->DisconnectSession(this);
    } catch (...) {
    }
    FDatabaseData = nullptr;
    ReleaseIfUnused(data);
    throw;
  }
}

void TORVLocalSession::Disconnect() {
  ListGuard guard(FList);
  TORVDatabaseData* data = FDatabaseData;
  try {
    // A transaction left open is rolled back in here, through this session.
    data->DisconnectSession(this);
  } catch (...) {
    // Whatever the disconnect raised, the two no longer point at each other: this session
    // may be freed next, and the object may be freed by other sessions' disconnects.
    {
      TORVLockGuard<TORVDatabaseData> lock(*data);
      auto& sessions = data->FSessionList;
      sessions.erase(std::remove(sessions.begin(), sessions.end(), this), sessions.end());
    }
    FDatabaseData = nullptr;
    ReleaseIfUnused(data);
    throw;
  }
  FDatabaseData = nullptr;
  ReleaseIfUnused(data);
}

void TORVLocalSession::CreateDatabase() {
  ListGuard guard(FList);
  if (FindDatabaseData()) throw EORVException(20092, "Cannot create database. Database is already open");
  TORVDatabaseData* data = CreateDatabaseData();
  try {
    data->CreateDatabase();
  } catch (...) {
    ReleaseIfUnused(data);
    throw;
  }
  ReleaseIfUnused(data);
}

TORVDatabaseData& TORVLocalSession::Connected(int32_t Code) {
  if (!FDatabaseData)
    throw EORVException(Code, "Session is not connected to database '%s'",
                        {FDatabaseFileName.empty() ? FDatabaseName : FDatabaseFileName});
  return *FDatabaseData;
}

bool TORVLocalSession::GetSuppressDBHeaderErrors() {
  TORVDiskDatabaseData* disk = DiskDatabaseData();
  return disk && disk->GetSuppressDBHeaderErrors();
}

void TORVLocalSession::SetSuppressDBHeaderErrors(bool Value) {
  if (TORVDiskDatabaseData* disk = DiskDatabaseData()) disk->SetSuppressDBHeaderErrors(Value);
}

void TORVLocalSession::GetTablesList(std::vector<std::string>& List) { Connected(30541).GetTablesList(List); }

bool TORVLocalSession::TableExists(const std::string& TableName) { return Connected(30542).TableExists(TableName); }

void TORVLocalSession::Commit(bool DoFlushBuffers) {
  if (!FInTransaction) throw EORVException(20229, "Database is not within a transaction. Cannot perform operation");
  Connected(30543).Commit(FSessionID, DoFlushBuffers);
  FInTransaction = false;
}

void TORVLocalSession::Rollback() {
  if (!FInTransaction) throw EORVException(20229, "Database is not within a transaction. Cannot perform operation");
  Connected(30544).Rollback(FSessionID);
  FInTransaction = false;
}

void TORVLocalSession::FlushBuffers() { Connected(30545).FlushBuffers(); }

void TORVLocalSession::TruncateDatabase() {
  if (TORVDiskDatabaseData* disk = DiskDatabaseData()) disk->TruncateDatabase();
}

int32_t TORVLocalSession::GetDBFileConnectionsCount() {
  TORVDiskDatabaseData* disk = DiskDatabaseData();
  return disk ? disk->GetDBFileConnectionsCount() : 0;
}

std::unique_ptr<TORVLocalSession> ConnectBuiltinDatabase(TORVDatabaseDataList& List, const std::string& Name) {
  auto session = std::make_unique<TORVLocalSession>(List);
  session->FDatabaseName = Name;
  session->SetConnected(true);
  return session;
}

}  // namespace orv
