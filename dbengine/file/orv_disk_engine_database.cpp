#include "dbengine/file/orv_disk_engine_database.h"

#include <algorithm>

#include "dbengine/file/orv_disk_engine_free_space.h"
#include "dbengine/file/orv_disk_engine_table.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

using Guard = TORVLockGuard<TORVDatabaseData>;

}  // namespace

TORVDiskDatabaseData::TORVDiskDatabaseData(platform::FileFactory Factory) : FFactory(std::move(Factory)) {}

TORVDiskDatabaseData::~TORVDiskDatabaseData() {
  // The tables go first, while the file they live in is still open.
  while (!FTableDataList.empty()) {
    std::unique_ptr<TORVTableData> last = std::move(FTableDataList.back());
    FTableDataList.pop_back();
    last.reset();
  }
  try {
    CloseDatabase();
  } catch (...) {
    // A destructor never raises; locks left over go with the file handle.
  }
}

TORVDiskPageManager& TORVDiskDatabaseData::NewPageManager() {
  FDiskPageManager = std::make_unique<TORVDiskPageManager>(MemoryManager(), FFactory);
  auto cache = std::make_unique<TORVDiskTablePagesCacheManager>();
  LTablePagesCacheManager = cache.get();
  FDiskPageManager->SetTablePagesCacheManager(std::move(cache));
  FPageManager = FDiskPageManager.get();
  return *FDiskPageManager;
}

void TORVDiskDatabaseData::FreeFileObjects() {
  FSystemDir.reset();
  FTableListFile.reset();
  FActiveSessionsFile.reset();
}

// ---- File ---------------------------------------------------------------------------------

void TORVDiskDatabaseData::OpenDatabase(TORVBaseSession* Session, bool Exclusive, bool& RepairNeeded) {
  Guard guard(*this);
  if (FDiskPageManager)
    throw EORVException(10462, "Error - database file %s is in use.", {FDatabaseName});
  try {
    TORVDiskPageManager& pm = NewPageManager();
    FMultiUser = Session->FMultiUser;
    pm.OpenDatabase(FDatabaseName, FPassword, FReadOnly, RepairNeeded, Exclusive, FMultiUser);
    // The algorithm stored in the file wins over the caller's.
    FPassword = *pm.GetPassword();
    FPageSize = pm.PageSize();
    FPageCountInExtent = pm.GetDbHeader()->PageCountInExtent;

    FSystemDir = std::make_unique<TORVSystemDirectory>(pm);
    FSystemDir->LoadDirectory();
    FActiveSessionsFile = std::make_unique<TORVActiveSessionsFile>(pm);
    FActiveSessionsFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftActiveSessionsList));
    FMaxSessionCount = FActiveSessionsFile->GetMaxSessionCount();
    FTableListFile = std::make_unique<TORVTableListFile>(pm);
    FTableListFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftTablesList));
    FTableListFile->Load();
    FTableLockManager = std::make_unique<TORVDatabaseTableLockManager>(FMaxSessionCount, pm);
  } catch (...) {
    // Left closed, so that a later connect can try again (another password, say).
    try {
      CloseDatabase();
    } catch (...) {
    }
    throw;
  }
}

void TORVDiskDatabaseData::CloseDatabase() {
  Guard guard(*this);
  FreeFileObjects();
  std::unique_ptr<TORVDatabaseTableLockManager> locks = std::move(FTableLockManager);
  if (FDiskPageManager) FDiskPageManager->CloseDatabase();
  FDiskPageManager.reset();
  FPageManager = nullptr;
  LTablePagesCacheManager = nullptr;
  FSingleUserConnected = false;
  // Locks left over went with the file handle; the mistake of leaving them is reported once
  // everything is closed.
  if (locks) locks->Close();
}

void TORVDiskDatabaseData::CreateDatabase() {
  Guard guard(*this);
  if (FDiskPageManager) throw EORVException(10461, "Error - database file %s is in use.", {FDatabaseName});
  // A value beyond a Word would be stored cut to another geometry than the one asked for.
  if (FPageSize > UINT16_MAX || FPageCountInExtent > UINT16_MAX || FPageCountInExtent < 1)
    throw EORVException(20237, "Invalid database format");
  struct Closer {
    TORVDiskDatabaseData& db;
    ~Closer() {
      if (TORVDiskPageManager* pm = db.FDiskPageManager.get()) {
        try {
          pm->CancelChanges(SYSTEM_SESSION_ID);
        } catch (...) {
        }
      }
      try {
        db.CloseDatabase();
      } catch (...) {
      }
    }
  } closer{*this};
  TORVDiskPageManager& pm = NewPageManager();
  pm.CreateAndOpenDatabase(FDatabaseName, FPassword, static_cast<uint16_t>(FPageSize),
                           static_cast<uint16_t>(FPageCountInExtent));
  // The directory first, so that it lands on its fixed page 2.
  TORVSystemDirectory directory(pm);
  directory.CreateDirectory();
  const int32_t sessions = TORVActiveSessionsFile(pm).CreateFile(FMaxSessionCount);
  const int32_t tables = TORVTableListFile(pm).CreateFile();
  directory.CreateFile(dbftActiveSessionsList, sessions);
  directory.CreateFile(dbftTablesList, tables);
  directory.SaveDirectory();
  pm.ApplyChanges(SYSTEM_SESSION_ID);
}

void TORVDiskDatabaseData::TruncateDatabase() {
  Guard guard(*this);
  if (FDiskPageManager) FDiskPageManager->TruncateDatabase();
}

int32_t TORVDiskDatabaseData::GetDBFileConnectionsCount() {
  Guard guard(*this);
  if (!FActiveSessionsFile) throw EORVException(30518, "Nil pointer occured");
  return FActiveSessionsFile->GetDBFileConnectionsCount();
}

bool TORVDiskDatabaseData::GetEncrypted() const { return FDiskPageManager && FDiskPageManager->GetEncrypted(); }

bool TORVDiskDatabaseData::GetSuppressDBHeaderErrors() const {
  return FDiskPageManager && FDiskPageManager->FreeSpaceManager() &&
         FDiskPageManager->FreeSpaceManager()->GetSuppressDBHeaderErrors();
}

void TORVDiskDatabaseData::SetSuppressDBHeaderErrors(bool Value) {
  if (FDiskPageManager && FDiskPageManager->FreeSpaceManager())
    FDiskPageManager->FreeSpaceManager()->SetSuppressDBHeaderErrors(Value);
}

// ---- Sessions -----------------------------------------------------------------------------

void TORVDiskDatabaseData::ConnectSession(TORVBaseSession* Session) {
  Guard guard(*this);
  if (!FDiskPageManager) {
    bool repair = false;
    OpenDatabase(Session, Session->FExclusive, repair);
    Session->FRepairNeeded = repair;
    Session->FMultiUser = FMultiUser;
  }
  try {
    if (Session->FMultiUser != FMultiUser)
      throw EORVException(20235, "Cannot open database in multi-user and signle-user mode at the same time");
    if (FMultiUser) {
      Session->FSessionID = FActiveSessionsFile->MultiUserConnect();
    } else {
      Session->FSessionID = 0;
      if (!FSingleUserConnected) {
        // Another process is connected: this one may only read.
        if (FActiveSessionsFile->SingleUserConnect())
          FSingleUserConnected = true;
        else
          FReadOnly = true;
      }
    }
  } catch (...) {
    // A file opened for a session that could not connect is not left open without sessions.
    if (FSessionList.empty()) {
      try {
        CloseDatabase();
      } catch (...) {
      }
    }
    throw;
  }
  FSessionList.push_back(Session);
}

void TORVDiskDatabaseData::DisconnectSession(TORVBaseSession* Session) {
  Guard guard(*this);
  const auto it = std::find(FSessionList.begin(), FSessionList.end(), Session);
  // A session that is not connected has no slot to give back (the number it carries may be
  // another session's now).
  if (it == FSessionList.end()) return;
  // Its transaction goes while its number is still its own: page changes and table locks left
  // behind would pass to the next session that gets the number.
  if (Session->FInTransaction) Session->Rollback();
  try {
    if (FActiveSessionsFile) {
      if (FMultiUser) {
        FActiveSessionsFile->MultiUserDisconnect(Session->FSessionID);
      } else if (FSingleUserConnected && FSessionList.size() == 1) {
        FActiveSessionsFile->SingleUserDisconnect();
        FSingleUserConnected = false;
      }
    }
  } catch (...) {
    if (!IsDesignMode()) throw;
  }
  FSessionList.erase(std::find(FSessionList.begin(), FSessionList.end(), Session));
  if (FSessionList.empty()) CloseDatabase();
}

// ---- Tables -------------------------------------------------------------------------------

TORVTableListFile& TORVDiskDatabaseData::TableList(int32_t NilCode) const {
  if (!FTableListFile) throw EORVException(NilCode, "Pointer is nil");
  return *FTableListFile;
}

void TORVDiskDatabaseData::GetTablesList(std::vector<std::string>& List) {
  Guard guard(*this);
  TableList(30519).GetTablesList(List);
}

TORVTableData* TORVDiskDatabaseData::CreateTableData(TORVCursor* Cursor) {
  Guard guard(*this);
  auto table = std::make_unique<TORVDiskTableData>(this);
  if (Cursor) table->FTableName = Cursor->FTableName;
  return AddTableData(std::move(table));
}

void TORVDiskDatabaseData::AddTable(int32_t TableID, const std::string& TableName, int32_t MetadataFilePageNo,
                                    int32_t MostUpdatedFilePageNo, int32_t LocksFilePageNo) {
  Guard guard(*this);
  TORVTableListFile& list = TableList(30519);
  list.Load();
  list.AddTable(TableID, TableName, MetadataFilePageNo, MostUpdatedFilePageNo, LocksFilePageNo);
  list.Save();
}

void TORVDiskDatabaseData::OpenTable(const std::string& TableName, int32_t& TableID, int32_t& MetadataFilePageNo,
                                     int32_t& MostUpdatedFilePageNo, int32_t& LocksFilePageNo) {
  Guard guard(*this);
  TORVTableListFile& list = TableList(20129);
  // A table another process created since the list was loaded is in the file's list.
  if (!list.TableExists(TableName)) list.Load();
  list.OpenTable(TableName, TableID, MetadataFilePageNo, MostUpdatedFilePageNo, LocksFilePageNo);
}

void TORVDiskDatabaseData::RemoveTable(const std::string& TableName) {
  Guard guard(*this);
  TORVTableListFile& list = TableList(20130);
  list.Load();
  list.RemoveTable(TableName);
  list.Save();
}

void TORVDiskDatabaseData::RenameTable(const std::string& TableName, const std::string& NewTableName) {
  Guard guard(*this);
  TORVTableListFile& list = TableList(20131);
  list.Load();
  list.RenameTable(TableName, NewTableName);
  list.Save();
}

void TORVDiskDatabaseData::LockTables() {
  Guard guard(*this);
  if (!FDiskPageManager) throw EORVException(30399, "Error - database file is not opened.");
  TORVDiskPageManager& pm = *FDiskPageManager;
  if (!TryUsingTimeOut([&pm] { return pm.LockTables(); }, LockTablesRetries, LockTablesDelay))
    throw EORVException(20210, "Database tables are locked");
}

void TORVDiskDatabaseData::UnlockTables() {
  Guard guard(*this);
  if (!FDiskPageManager || !FDiskPageManager->UnlockTables())
    throw EORVException(20211, "Cannot unlock database tables");
}

int32_t TORVDiskDatabaseData::GetNewObjectId() {
  Guard guard(*this);
  if (!FDiskPageManager) throw EORVException(30399, "Error - database file is not opened.");
  return FDiskPageManager->GetNextObjectID(5, 100);
}

// ---- Transactions -------------------------------------------------------------------------

void TORVDiskDatabaseData::Commit(int32_t SessionID, bool DoFlushBuffers) {
  Guard guard(*this);
  // The system session holds no table locks.
  const bool with_locks = FMultiUser && FTableLockManager && SessionID >= 0;
  if (with_locks && !FTableLockManager->AddRWLocksBeforeCommit(SessionID))
    throw EORVException(20233, "Cannot commit changes. Locks of modified tables failed");
  TORVDatabaseData::Commit(SessionID, DoFlushBuffers);
  if (DoFlushBuffers) FlushBuffers();
  if (with_locks) FTableLockManager->ClearTransactionLocks(SessionID);
}

void TORVDiskDatabaseData::Rollback(int32_t SessionID) {
  Guard guard(*this);
  if (FMultiUser && FTableLockManager && SessionID >= 0) FTableLockManager->ClearTransactionLocks(SessionID);
  TORVDatabaseData::Rollback(SessionID);
}

void TORVDiskDatabaseData::FlushBuffers() {
  Guard guard(*this);
  if (FDiskPageManager && FDiskPageManager->GetIsOpened()) FDiskPageManager->DatabaseFile().FlushFileBuffers();
}

}  // namespace orv
