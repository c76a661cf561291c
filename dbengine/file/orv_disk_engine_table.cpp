#include "dbengine/file/orv_disk_engine_table.h"

#include <algorithm>
#include <cstring>

#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/file/orv_disk_engine_pages_cache_state.h"
#include "dbengine/storage/orv_base_engine_scoped.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {

namespace {

using Guard = TORVLockGuard<TORVTableData>;
using detail::ScratchBuffer;

constexpr int32_t kOpenLockTries = 50;
constexpr int32_t kOpenLockDelay = 100;
constexpr int32_t kReadLockTries = 2250;
constexpr int32_t kReadLockDelay = 40;

bool InTransaction(const TORVCursor* Cursor) { return Cursor && Cursor->FSession && Cursor->FSession->FInTransaction; }

int32_t SessionOf(const TORVCursor* Cursor) { return Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID; }

// The database's tables lock for a scope (taken only when asked to).
class TablesLock {
 public:
  TablesLock(TORVDiskDatabaseData& Database, bool Take) : db_(Database), held_(Take) {
    if (held_) db_.LockTables();
  }
  ~TablesLock() {
    if (!held_) return;
    try {
      db_.UnlockTables();
    } catch (...) {
    }
  }
  TablesLock(const TablesLock&) = delete;
  TablesLock& operator=(const TablesLock&) = delete;

 private:
  TORVDiskDatabaseData& db_;
  bool held_;
};

// A value of the object put back at the end of a scope.
template <class T>
class Restore {
 public:
  Restore(T& Variable, T Value) : var_(Variable), old_(Variable) { var_ = Value; }
  ~Restore() { var_ = old_; }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

 private:
  T& var_;
  T old_;
};

}  // namespace

// Whether a record change starts with nothing else pending for its session, so that a failure
// can drop every page change of the session and leave the file's state as it was.
class TORVDiskTableData::ChangeGuard {
 public:
  ChangeGuard(TORVDiskTableData& Table, TORVCursor* Cursor) : table_(Table), session_(Cursor->GetSessionID()) {
    clean_ = !InTransaction(Cursor) && !Cursor->FBatchUpdate;
    if (const TORVSessionPageInfo* info = Table.FPageManager->SessionInfo(session_))
      clean_ = clean_ && info->DirtyPages->Count() == 0 && info->AddedPageNumbers->ItemCount == 0 &&
               info->RemovedPageNumbers->ItemCount == 0;
  }
  bool Clean() const { return clean_; }
  // The session's changes go and the counters come back from the file.
  void Abandon() noexcept {
    if (!clean_) return;
    try {
      table_.CancelChanges(session_, false);
    } catch (...) {
      // The failure that brought us here is the one to report.
    }
  }

 private:
  TORVDiskTableData& table_;
  int32_t session_;
  bool clean_ = false;
};

TORVDiskTableData::TORVDiskTableData(TORVDiskDatabaseData* aDatabaseData) : TORVTableData(aDatabaseData) {
  FPageManager = aDatabaseData->GetDiskPageManager();
}

TORVDiskTableData::~TORVDiskTableData() { ReleaseOpenState(); }

TORVDiskDatabaseData& TORVDiskTableData::Database() const { return static_cast<TORVDiskDatabaseData&>(*FDatabaseData); }

TORVDiskPageManager& TORVDiskTableData::DiskPages() const {
  TORVDiskPageManager* pm = Database().GetDiskPageManager();
  if (!pm) throw EORVException(30399, "Error - database file is not opened.");
  return *pm;
}

TORVDiskRecordManager& TORVDiskTableData::Records() const {
  if (!FRecordManager) throw EORVException(20135, "Nil pointer occured");
  return static_cast<TORVDiskRecordManager&>(*FRecordManager);
}

TORVDiskBlobManager& TORVDiskTableData::Blobs() const {
  if (!FBlobManager) throw EORVException(20161, "Pointer is nil");
  return *FBlobManager;
}

bool TORVDiskTableData::IsMultiUser() const { return FDatabaseData->FMultiUser; }

bool TORVDiskTableData::FreeIfNoCursorsConnected() {
  if (!FCursorList.empty()) return false;
  FDatabaseData->DeleteTableData(this);
  return true;
}

void TORVDiskTableData::ReleaseOpenState() noexcept {
  // The indexes first: the temporary ones live in the temporary page manager.
  FIndexManager.reset();
  FConstraintManager.reset();
  if (FBlobManager) FBlobManager->FreeAllBlobCaches();
  FBlobManager.reset();
  FRecordManager.reset();
  FFieldManager.reset();
  FTemporaryPageManager.reset();
  FreeTableFiles();
}

// ---- Internal files ---------------------------------------------------------------------------

void TORVDiskTableData::CreateTableFiles() {
  TORVDiskPageManager& pm = DiskPages();
  FTableLocksFile = std::make_unique<TORVTableLocksFile>(pm);
  FTableLocksFile->CreateFile(Database().FMaxSessionCount);
  FTableMetadataFile = std::make_unique<TORVInternalDBTransactedAccessFile>(pm, ptTableMetaDataFile);
  FTableMetadataFile->CreateFile(SYSTEM_SESSION_ID);
  FTableMostUpdatedFile = std::make_unique<TORVInternalDBTransactedAccessFile>(pm, ptTableMostUpdatedFile);
  FTableMostUpdatedFile->CreateFile(SYSTEM_SESSION_ID);
}

void TORVDiskTableData::OpenTableFiles(int32_t MetadataFilePageNo, int32_t MostUpdatedFilePageNo,
                                       int32_t LocksFilePageNo) {
  TORVDiskPageManager& pm = DiskPages();
  FTableLocksFile = std::make_unique<TORVTableLocksFile>(pm);
  FTableLocksFile->OpenFile(LocksFilePageNo);
  FTableMetadataFile = std::make_unique<TORVInternalDBTransactedAccessFile>(pm, ptTableMetaDataFile);
  FTableMetadataFile->OpenFile(MetadataFilePageNo);
  FTableMostUpdatedFile = std::make_unique<TORVInternalDBTransactedAccessFile>(pm, ptTableMostUpdatedFile);
  FTableMostUpdatedFile->OpenFile(MostUpdatedFilePageNo);
}

void TORVDiskTableData::DeleteTableFiles() {
  if (FTableLocksFile && FTableLocksFile->IsOpened()) FTableLocksFile->DeleteFile();
  if (FTableMetadataFile) FTableMetadataFile->DeleteFile(SYSTEM_SESSION_ID, FTableMetadataFile->GetStartPageNo());
  if (FTableMostUpdatedFile)
    FTableMostUpdatedFile->DeleteFile(SYSTEM_SESSION_ID, FTableMostUpdatedFile->GetStartPageNo());
}

void TORVDiskTableData::FreeTableFiles() {
  FTableLocksFile.reset();
  FTableMetadataFile.reset();
  FTableMostUpdatedFile.reset();
}

void TORVDiskTableData::SaveMetadataFile(int32_t SessionID) {
  if (!FTableMetadataFile) throw EORVException(20176, "Pointer is nil");
  TORVMemoryStream stream;
  FFieldManager->SaveMetadata(stream);
  FIndexManager->SaveMetadata(stream);
  FConstraintManager->SaveMetadata(stream);
  Records().SaveMetadata(stream);
  Blobs().SaveMetadata(stream);
  FTableMetadataFile->WriteFile(SessionID, stream.Memory(), static_cast<int32_t>(stream.GetSize()), acaZLIB, 1);
}

void TORVDiskTableData::LoadMetadataFile(int32_t SessionID) {
  if (!FTableMetadataFile) throw EORVException(20176, "Pointer is nil");
  int32_t size = 0, decompressed = 0;
  TORVCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  FTableMetadataFile->GetFileSize(SessionID, size, decompressed, algorithm, changed, true);
  TORVMemoryStream stream;
  stream.SetSize(decompressed);
  if (decompressed > 0) FTableMetadataFile->ReadFile(SessionID, stream.Memory(), decompressed, true);
  stream.Seek(0, platform::soBeginning);
  FFieldManager->LoadMetadata(stream);
  FIndexManager->LoadMetadata(stream);
  FConstraintManager->LoadMetadata(stream);
  Records().LoadMetadata(stream);
  Blobs().LoadMetadata(stream);
}

void TORVDiskTableData::SaveMostUpdated(int32_t SessionID) {
  if (!FTableMostUpdatedFile) throw EORVException(20176, "Pointer is nil");
  const int32_t size = (FFieldManager->FFieldDefs.GetCount() * 8 + 8) * 4;
  ScratchBuffer buffer(size);
  auto* bytes = static_cast<uint8_t*>(buffer.get());
  int32_t offset = 0;
  FFieldManager->SaveMostUpdated(std::span<uint8_t>(bytes, static_cast<size_t>(size)), offset);
  Records().SaveMostUpdated(bytes, size, offset);
  if (offset > size) throw EORVException(20164, "Invalid table header data");
  FTableMostUpdatedFile->WriteFile(SessionID, bytes, offset, acaNone, 0);
  FLastUsedTableState = Records().FTableState;
}

void TORVDiskTableData::LoadMostUpdated(int32_t SessionID) {
  if (!FTableMostUpdatedFile) throw EORVException(20176, "Pointer is nil");
  // A load counts only while the session holds a lock that keeps other processes from changing
  // the table; without one the file is always asked.
  TORVDiskTablePagesCacheManager* cache = Database().GetTablePagesCacheManager();
  const TORVDTPCTableInfo* info = cache ? &cache->GetSessionInfo(SessionID).GetTableInfo(FTableID) : nullptr;
  const bool locked = info && info->IsTableLockedFromModification();
  const bool loaded = locked && info->IsMostUpdatedLoaded;
  int32_t size = 0, decompressed = 0;
  TORVCompressionAlgorithm algorithm = acaNone;
  bool changed = true;
  FTableMostUpdatedFile->GetFileSize(SessionID, size, decompressed, algorithm, changed, !loaded);
  ScratchBuffer buffer(std::max(decompressed, 1));
  auto* bytes = static_cast<uint8_t*>(buffer.get());
  if (decompressed > 0) FTableMostUpdatedFile->ReadFile(SessionID, bytes, decompressed, changed);
  int32_t offset = 0;
  FFieldManager->LoadMostUpdated(std::span<const uint8_t>(bytes, static_cast<size_t>(decompressed)), offset);
  Records().LoadMostUpdated(bytes, decompressed, offset);
  FLastUsedTableState = Records().FTableState;
  if (locked) cache->SetIsMostUpdatedLoaded(SessionID, FTableID, FLastUsedTableState);
}

void TORVDiskTableData::CleanMostUpdated(int32_t SessionID) {
  if (!FTableMostUpdatedFile) throw EORVException(20176, "Pointer is nil");
  FTableMostUpdatedFile->InitFileHeader(SessionID);
}

int32_t TORVDiskTableData::GetDiskRecordBufferSize() const {
  if (!FFieldManager || FFieldManager->FFieldDefs.GetCount() == 0)
    throw EORVException(20142, "Error creating table - no fields were specified");
  return FFieldManager->FFieldDefs.GetDiskRecordBufferSize();
}

// ---- Managers ---------------------------------------------------------------------------------

void TORVDiskTableData::CreateRecordManager() {
  FBlobManager.reset();  // it refers to the record manager it was made with
  FRecordManager.reset();
  auto records = std::make_unique<TORVDiskRecordManager>(&DiskPages(), this, FFieldManager.get());
  records->Init(GetRecordBufferSize(), GetDiskRecordBufferSize());
  FRecordManager = std::move(records);
}

void TORVDiskTableData::CreateBlobManager() {
  if (FBlobManager) FBlobManager->FreeAllBlobCaches();
  FBlobManager.reset();
  FBlobManager = std::make_unique<TORVDiskBlobManager>(&DiskPages(), FFieldManager.get(), &Records());
}

void TORVDiskTableData::CreateFieldManager(TORVFieldDefs& FieldDefs) {
  FFieldManager = std::make_unique<TORVBaseFieldManager>(this);
  TORVTableData::CreateFieldManager(FieldDefs);
}

void TORVDiskTableData::CreateIndexManager(TORVIndexDefs& IndexDefs) {
  FIndexManager.reset();
  FTemporaryPageManager.reset();
  FTemporaryPageManager = std::make_unique<TORVTemporaryPageManager>(FDisableTempFiles);
  FIndexManager = std::make_unique<TORVBaseIndexManager>(this, FTemporaryPageManager.get());
  TORVTableData::CreateIndexManager(IndexDefs);
}

void TORVDiskTableData::CreateConstraintManager(TORVConstraintDefs& ConstraintDefs) {
  for (int32_t i = 0; i < ConstraintDefs.GetCount(); ++i) {
    const TORVConstraintType type = ConstraintDefs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EORVException(30040, "Not implemented yet");
  }
  TORVTableData::CreateConstraintManager(ConstraintDefs);
}

// ---- Committing -------------------------------------------------------------------------------

void TORVDiskTableData::ApplyChanges(int32_t SessionID, bool InTransaction) {
  TORVTableData::ApplyChanges(SessionID, InTransaction);
  if (FTemporaryPageManager) FTemporaryPageManager->ApplyChanges(SessionID);
}

void TORVDiskTableData::CancelChanges(int32_t SessionID, bool InTransaction) {
  TORVTableData::CancelChanges(SessionID, InTransaction);
  if (FTemporaryPageManager) FTemporaryPageManager->CancelChanges(SessionID);
  // The counters in memory went ahead with the changes just dropped.
  if (!InTransaction && FTableMostUpdatedFile && FRecordManager) LoadMostUpdated(SessionID);
}

void TORVDiskTableData::Rollback(int32_t SessionID) {
  if (FTableMostUpdatedFile && FRecordManager) LoadMostUpdated(SessionID);
  if (FTemporaryPageManager) FTemporaryPageManager->CancelChanges(SessionID);
  TORVTableData::Rollback(SessionID);
  if (FTemporaryPageManager) FTemporaryPageManager->ApplyChanges(SessionID);
}

// ---- Create, open, close ---------------------------------------------------------------------------

void TORVDiskTableData::CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                                    TORVConstraintDefs& ConstraintDefs) {
  Guard guard(*this);
  if (FieldDefs.GetCount() < 1) throw EORVException(20128, "Error creating table - no fields were specified");
  if (Cursor) {
    FTableName = Cursor->FTableName;
    FDisableTempFiles = Cursor->FDisableTempFiles;
  }
  TORVDiskDatabaseData& db = Database();
  FTableID = db.GetNewObjectId();
  TablesLock tables(db, true);
  try {
    struct FileObjects {
      TORVDiskTableData& t;
      ~FileObjects() { t.FreeTableFiles(); }
    } files{*this};
    CreateTableFiles();
    CreateFieldManager(FieldDefs);
    CreateIndexManager(IndexDefs);
    CreateConstraintManager(ConstraintDefs);
    CreateRecordManager();
    CreateBlobManager();
    SaveMostUpdated(SYSTEM_SESSION_ID);
    Records().CreateRecordPageIndex();
    if (FFieldManager->BlobFieldsPresent()) Blobs().CreateBlobPageIndex();
    FIndexManager->CreateIndexesByIndexDefs(nullptr);
    SaveMetadataFile(SYSTEM_SESSION_ID);
    db.AddTable(FTableID, FTableName, FTableMetadataFile->GetStartPageNo(), FTableMostUpdatedFile->GetStartPageNo(),
                FTableLocksFile->GetStartPageNo());
    DiskPages().ApplyChanges(SYSTEM_SESSION_ID);
  } catch (...) {
    try {
      DiskPages().CancelChanges(SYSTEM_SESSION_ID);
    } catch (...) {
    }
    throw;
  }
}

void TORVDiskTableData::OpenTable(TORVCursor* Cursor) {
  Guard guard(*this);
  TORVDiskDatabaseData& db = Database();
  TablesLock tables(db, !FIsChangingTableList);
  if (!FCursorList.empty() && Cursor->FExclusive && !FExclusive)
    throw EORVException(20242, "Cannot access table '%s' in exclusive mode. Table is open by another cursors",
                        {FTableName});
  const int32_t session = Cursor->GetSessionID();
  if (FCursorList.empty()) {
    FDisableTempFiles = Cursor->FDisableTempFiles;
    LoadTable(Cursor, session);
    FExclusive = Cursor->FExclusive;
  }
  FCursorList.push_back(Cursor);
  const TORVLockType type = Cursor->FExclusive ? ltX : ltIS;
  bool locked = false;
  try {
    locked = LockTable(session, type, kOpenLockTries, kOpenLockDelay, true);
  } catch (...) {
    CloseTable(Cursor);
    throw;
  }
  if (!locked) {
    // The cursor does not stay in a table it could not lock.
    CloseTable(Cursor);
    if (type == ltX)
      throw EORVException(20208, "Cannot access table '%s' in exclusive mode. Table is open by another user",
                          {FTableName});
    throw EORVException(20209, "Cannot open table '%s'. Table is locked", {FTableName});
  }
  Cursor->FTableLockedByCursor = true;
}

void TORVDiskTableData::LoadTable(TORVCursor* Cursor, int32_t SessionID) {
  try {
    int32_t metadata = -1, most_updated = -1, locks = -1;
    Database().OpenTable(FTableName, FTableID, metadata, most_updated, locks);
    OpenTableFiles(metadata, most_updated, locks);
    FFieldManager = std::make_unique<TORVBaseFieldManager>(this);
    FTemporaryPageManager = std::make_unique<TORVTemporaryPageManager>(FDisableTempFiles);
    FIndexManager = std::make_unique<TORVBaseIndexManager>(this, FTemporaryPageManager.get());
    FConstraintManager = std::make_unique<TORVBaseConstraintManager>(this);
    FRecordManager = std::make_unique<TORVDiskRecordManager>(&DiskPages(), this, FFieldManager.get());
    CreateBlobManager();
    LoadMetadataFile(SessionID);
    const int32_t root = Records().RecordPageIndex().RootPageNo();
    Records().Init(GetRecordBufferSize(), GetDiskRecordBufferSize());
    Records().RecordPageIndex().OpenIndex(root);
    if (FIsRepairing && Cursor)
      ValidateAndRepairMostUpdatedAndRecordPageIndex(Cursor);
    else
      LoadMostUpdated(SessionID);
  } catch (...) {
    ReleaseOpenState();
    throw;
  }
}

void TORVDiskTableData::LoadForInspection(int32_t SessionID) {
  Guard guard(*this);
  if (!FCursorList.empty()) throw EORVException(20242, "Cannot access table '%s' in exclusive mode. Table is open by another cursors", {FTableName});
  FDisableTempFiles = true;
  LoadTable(nullptr, SessionID);
}

void TORVDiskTableData::CloseTable(TORVCursor* Cursor) {
  Guard guard(*this);
  const auto it = std::find(FCursorList.begin(), FCursorList.end(), Cursor);
  if (it == FCursorList.end()) return;
  if (FTableLocksFile && FTableLocksFile->IsOpened() && Cursor->FTableLockedByCursor) {
    try {
      UnlockTable(Cursor->GetSessionID(), Cursor->FExclusive ? ltX : ltIS, false);
    } catch (...) {
      // Closing goes on; a lock that could not be released goes with the file handle.
    }
    Cursor->FTableLockedByCursor = false;
  }
  FCursorList.erase(std::find(FCursorList.begin(), FCursorList.end(), Cursor));
  if (FCursorList.empty()) ReleaseOpenState();
}

// ---- Delete, empty, rename ---------------------------------------------------------------------------

void TORVDiskTableData::DeleteTable(TORVCursor* Cursor, bool DesignMode) {
  Guard guard(*this);
  TORVTableData::DeleteTable(Cursor, DesignMode);
  TORVDiskDatabaseData& db = Database();
  TablesLock tables(db, true);
  Restore<bool> changing(FIsChangingTableList, true);
  Restore<bool> exclusive(Cursor->FExclusive, true);
  // A table another user has open stays listed and whole: the open fails before anything goes.
  OpenTable(Cursor);
  std::exception_ptr failure;
  try {
    DeleteAllIndexes(nullptr);
    Blobs().Delete(SYSTEM_SESSION_ID);
    Records().Delete(SYSTEM_SESSION_ID);
    if (Cursor->FTableLockedByCursor) {
      UnlockTable(Cursor->GetSessionID(), ltX, false);
      Cursor->FTableLockedByCursor = false;
    }
    DeleteTableFiles();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    CloseTable(Cursor);
    db.RemoveTable(FTableName);
    DiskPages().ApplyChanges(SYSTEM_SESSION_ID);
  } catch (...) {
    try {
      DiskPages().CancelChanges(SYSTEM_SESSION_ID);
    } catch (...) {
    }
    if (!failure) throw;
  }
  if (failure) std::rethrow_exception(failure);
}

void TORVDiskTableData::EmptyTable(TORVCursor* Cursor) {
  Guard guard(*this);
  Restore<bool> exclusive(Cursor->FExclusive, true);
  OpenTable(Cursor);
  const int32_t session = SessionOf(Cursor);
  const bool in_transaction = InTransaction(Cursor);
  try {
    TORVTableData::EmptyTable(Cursor);
    Blobs().Empty(session);
    Records().Empty(session);
    SaveMostUpdated(session);
    ApplyChanges(session, in_transaction);
  } catch (...) {
    try {
      CancelChanges(session, in_transaction);
    } catch (...) {
    }
    CloseTable(Cursor);
    throw;
  }
  CloseTable(Cursor);
}

void TORVDiskTableData::RenameTable(const std::string& NewTableName, TORVCursor* Cursor) {
  Guard guard(*this);
  TORVDiskDatabaseData& db = Database();
  TablesLock tables(db, true);
  Restore<bool> exclusive(Cursor->FExclusive, true);
  {
    Restore<bool> changing(FIsChangingTableList, true);
    OpenTable(Cursor);
    CloseTable(Cursor);
  }
  try {
    db.RenameTable(FTableName, NewTableName);
    DiskPages().ApplyChanges(SYSTEM_SESSION_ID);
  } catch (...) {
    try {
      DiskPages().CancelChanges(SYSTEM_SESSION_ID);
    } catch (...) {
    }
    throw;
  }
}

// ---- Structure changes --------------------------------------------------------------------------------

void TORVDiskTableData::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  Guard guard(*this);
  TORVTableData::RenameField(FieldName, NewFieldName);
  try {
    SaveMetadataFile(SYSTEM_SESSION_ID);
    DiskPages().ApplyChanges(SYSTEM_SESSION_ID);
  } catch (...) {
    try {
      DiskPages().CancelChanges(SYSTEM_SESSION_ID);
    } catch (...) {
    }
    throw;
  }
}

void TORVDiskTableData::AddIndex(TORVIndexDef& IndexDef, TORVCursor* Cursor) {
  Guard guard(*this);
  const int32_t session = SessionOf(Cursor);
  const bool in_transaction = InTransaction(Cursor);
  try {
    TORVTableData::AddIndex(IndexDef, Cursor);
    SaveMetadataFile(session);
    ApplyChanges(session, in_transaction);
  } catch (...) {
    try {
      if (!in_transaction) CancelChanges(session, false);
    } catch (...) {
    }
    throw;
  }
}

void TORVDiskTableData::DeleteIndex(int32_t IndexID, TORVCursor* Cursor) {
  Guard guard(*this);
  const auto* def = static_cast<const TORVIndexDef*>(FIndexManager->FIndexDefs.GetDefByObjectId(IndexID));
  const bool temporary = def && def->Temporary;
  TORVTableData::DeleteIndex(IndexID, Cursor);
  if (!Cursor) return;
  const int32_t session = SessionOf(Cursor);
  if (!temporary) SaveMetadataFile(session);
  ApplyChanges(session, InTransaction(Cursor));
}

// ---- Locks ---------------------------------------------------------------------------------------------

bool TORVDiskTableData::LockTable(int32_t SessionID, TORVLockType LockType, int32_t TryCount, int32_t Delay,
                                  bool AllowXIRWAfterSIRW) {
  if (!IsMultiUser()) return true;
  TORVDatabaseTableLockManager* locks = Database().GetTableLockManager();
  if (!locks || !FTableLocksFile) throw EORVException(20221, "Pointer is nil");
  if (!locks->LockTable(SessionID, LockType, *FTableLocksFile, TryCount, Delay, false, AllowXIRWAfterSIRW))
    return false;
  if (TORVDiskTablePagesCacheManager* cache = Database().GetTablePagesCacheManager()) {
    if (LockType == ltS) cache->TableIsSLocked(SessionID, FTableID);
    if (LockType == ltRW) cache->TableIsRWLocked(SessionID, FTableID);
  }
  return true;
}

bool TORVDiskTableData::UnlockTable(int32_t SessionID, TORVLockType LockType, bool IgnoreIfNoLock) {
  if (!IsMultiUser()) return true;
  TORVDatabaseTableLockManager* locks = Database().GetTableLockManager();
  if (!locks || !FTableLocksFile) throw EORVException(20222, "Pointer is nil");
  const bool result = locks->UnlockTable(SessionID, LockType, *FTableLocksFile, IgnoreIfNoLock, false);
  if (TORVDiskTablePagesCacheManager* cache = Database().GetTablePagesCacheManager()) {
    if (LockType == ltS) cache->TableIsSUnlocked(SessionID, FTableID);
    if (LockType == ltRW) cache->TableIsRWUnlocked(SessionID, FTableID);
  }
  return result;
}

bool TORVDiskTableData::LockRecord(int32_t SessionID, const TORVPageItemID& RecordID, int32_t TryCount, int32_t Delay) {
  if (!IsMultiUser()) return true;
  TORVDatabaseTableLockManager* locks = Database().GetTableLockManager();
  if (!locks || !FTableLocksFile) throw EORVException(20221, "Pointer is nil");
  return locks->LockRecord(SessionID, *FTableLocksFile, RecordID, TryCount, Delay);
}

bool TORVDiskTableData::UnlockRecord(int32_t SessionID, const TORVPageItemID& RecordID) {
  if (!IsMultiUser()) return true;
  TORVDatabaseTableLockManager* locks = Database().GetTableLockManager();
  if (!locks || !FTableLocksFile) throw EORVException(20222, "Pointer is nil");
  return locks->UnlockRecord(SessionID, *FTableLocksFile, RecordID);
}

bool TORVDiskTableData::IsRecordLocked(int32_t SessionID, const TORVPageItemID& RecordID) {
  if (!IsMultiUser()) return false;
  TORVDatabaseTableLockManager* locks = Database().GetTableLockManager();
  if (!locks || !FTableLocksFile) throw EORVException(20221, "Pointer is nil");
  return locks->IsRecordLocked(SessionID, *FTableLocksFile, RecordID);
}

// ---- Repair --------------------------------------------------------------------------------------------

void TORVDiskTableData::RebuildRecordPageIndex(int32_t SessionID) {
  if (GetDiskRecordBufferSize() >= DiskPages().PageDataSize())
    throw EORVException(10512, "Cannot repair page index for large table. Table name: \"" + FTableName + "\"");
  Records().RebuildRecordPageIndex(SessionID);
}

void TORVDiskTableData::ValidateRecordPageIndex(TORVCursor* Cursor) {
  Records().ValidateRecordPageIndex(SessionOf(Cursor));
}

void TORVDiskTableData::ValidateAndRepairMostUpdatedAndRecordPageIndex(TORVCursor* Cursor) {
  const int32_t session = SessionOf(Cursor);
  try {
    LoadMostUpdated(session);
    ValidateRecordPageIndex(Cursor);
    return;
  } catch (const EORVException&) {
    // Repaired below.
  }
  RebuildRecordPageIndex(session);
  SaveMetadataFile(session);
  CleanMostUpdated(session);
  SaveMostUpdated(session);
  ApplyChanges(session, false);
}

// ---- Record bitmaps ---------------------------------------------------------------------------------------

int64_t TORVDiskTableData::GetBitmapRecordCount(int32_t SessionID) {
  int32_t last = 0;
  if (!Records().RecordPageIndex().GetLastRecordPage(SessionID, last)) return 1;
  return (static_cast<int64_t>(last) + 1) * Records().MaxRecordsOnPage();
}

int64_t TORVDiskTableData::GetBitmapRecNoByRecordID(const TORVPageItemID& RecordID) {
  return static_cast<int64_t>(RecordID.PageNo) * Records().MaxRecordsOnPage() + RecordID.PageItemNo;
}

TORVPageItemID TORVDiskTableData::GetRecordIDByBitmapRecNo(int64_t RecordNo) {
  const int64_t per_page = Records().MaxRecordsOnPage();
  return {static_cast<int32_t>(RecordNo / per_page), static_cast<uint16_t>(RecordNo % per_page)};
}

// ---- Reading under other processes' changes ------------------------------------------------------------------

template <class Body>
bool TORVDiskTableData::UnderReadLock(TORVCursor* Cursor, bool Reload, bool Work, bool Synchronize, Body&& body) {
  const int32_t session = Cursor->GetSessionID();
  if (!LockTable(session, ltS, kReadLockTries, kReadLockDelay, true)) return false;
  struct Unlock {
    TORVDiskTableData& t;
    int32_t session;
    ~Unlock() {
      try {
        t.UnlockTable(session, ltS, false);
      } catch (...) {
      }
    }
  } unlock{*this, session};
  if (Reload) LoadMostUpdated(session);
  TORVDiskTablePagesCacheManager* cache = Work ? Database().GetTablePagesCacheManager() : nullptr;
  if (cache) cache->BeginWorkWithTable(session, FTableID);
  struct EndWork {
    TORVDiskTablePagesCacheManager* cache;
    int32_t session, table;
    ~EndWork() {
      if (cache) cache->EndWorkWithTable(session, table);
    }
  } end_work{cache, session, FTableID};
  if (Synchronize) SynchronizeTemporaryIndexes(Cursor, true);
  body();
  return true;
}

void TORVDiskTableData::SynchronizeTemporaryIndexes(TORVCursor* Cursor, bool ApplyWhenChanged) {
  bool changed = false;
  FIndexManager->SynchronizeTemporaryIndexes(Cursor, changed);
  if (changed && ApplyWhenChanged && FTemporaryPageManager) FTemporaryPageManager->ApplyChanges(SessionOf(Cursor));
}

TORVGetRecordResult TORVDiskTableData::GetRecordBuffer(TORVCursor* Cursor, TORVGetRecordMode GetRecordMode) {
  Guard guard(*this);
  // The buffer is about to hold another record: the cached BLOB values of the one it holds go
  // (values written and not yet stored stay).
  // (A record without BLOB fields has no such values: nothing to look for.)
  if (Cursor->FCurrentRecordBuffer && FBlobManager && FRecordManager && Records().HasBlobFields())
    ClearBlobsCacheInRecordBuffer(Cursor->FCurrentRecordBuffer);
  if (!IsMultiUser()) return GetRecordBufferLocked(Cursor, GetRecordMode);
  TORVGetRecordResult result = grrError;
  if (!UnderReadLock(Cursor, true, true, true, [&] { result = GetRecordBufferLocked(Cursor, GetRecordMode); }))
    return grrError;
  return result;
}

bool TORVDiskTableData::Locate(TORVCursor* Cursor, IORVExpression* SearchExpression) {
  Guard guard(*this);
  if (!IsMultiUser()) return TORVTableData::Locate(Cursor, SearchExpression);
  bool result = false;
  if (!UnderReadLock(Cursor, true, true, true, [&] { result = TORVTableData::Locate(Cursor, SearchExpression); }))
    throw EORVException(20214, "Table is locked");
  return result;
}

bool TORVDiskTableData::FindKey(TORVCursor* Cursor, TORVSearchCondition SearchCondition) {
  Guard guard(*this);
  if (!IsMultiUser()) return TORVTableData::FindKey(Cursor, SearchCondition);
  bool result = false;
  if (!UnderReadLock(Cursor, true, true, true, [&] { result = TORVTableData::FindKey(Cursor, SearchCondition); }))
    throw EORVException(20215, "Table is locked");
  return result;
}

void TORVDiskTableData::SetRecNo(TORVCursor* Cursor, int64_t RecNo) {
  Guard guard(*this);
  if (!IsMultiUser()) return TORVTableData::SetRecNo(Cursor, RecNo);
  if (!UnderReadLock(Cursor, true, true, true, [&] { TORVTableData::SetRecNo(Cursor, RecNo); }))
    throw EORVException(20216, "Table is locked");
}

int64_t TORVDiskTableData::GetRecNo(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!IsMultiUser()) return TORVTableData::GetRecNo(Cursor);
  int64_t result = -1;
  if (!UnderReadLock(Cursor, true, true, true, [&] { result = TORVTableData::GetRecNo(Cursor); }))
    throw EORVException(20217, "Table is locked");
  return result;
}

int64_t TORVDiskTableData::InternalGetRecordCount(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!IsMultiUser()) return Records().FRecordCount;
  int64_t result = 0;
  if (!UnderReadLock(Cursor, true, false, false, [&] { result = Records().FRecordCount; }))
    throw EORVException(20218, "Table is locked");
  return result;
}

void TORVDiskTableData::InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) {
  Guard guard(*this);
  const int32_t session = SessionOf(Cursor);
  const auto body = [&] { Records().SetRecNo(session, Cursor->CurrentRecordID, RecNo); };
  if (!IsMultiUser()) return body();
  if (!UnderReadLock(Cursor, true, true, false, body)) throw EORVException(20219, "Table is locked");
}

int64_t TORVDiskTableData::InternalGetRecNo(TORVCursor* Cursor) {
  Guard guard(*this);
  const int32_t session = SessionOf(Cursor);
  int64_t result = -1;
  const auto body = [&] { Records().GetRecNo(session, Cursor->CurrentRecordID, result); };
  if (!IsMultiUser()) {
    body();
    return result;
  }
  if (!UnderReadLock(Cursor, true, true, false, body)) throw EORVException(20220, "Table is locked");
  return result;
}

// ---- Record changes --------------------------------------------------------------------------------------

std::vector<TORVPageItemID> TORVDiskTableData::StoredBlobReferences(int32_t SessionID, const TORVPageItemID& RecordID) {
  std::vector<TORVPageItemID> references;
  const TORVFieldDefs& defs = FFieldManager->FFieldDefs;
  bool any = false;
  for (int32_t i = 0; i < defs.GetCount() && !any; ++i) any = IsBLOBFieldType(defs.GetDef(i)->BaseFieldType);
  if (!any) return references;
  ScratchBuffer buffer(std::max(GetMemoryRecordBufferSize(), 1));
  TORVNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.RecordID = RecordID;
  nav.RecordBuffer = buffer.get();
  Records().GetRecordBuffer(SessionID, nav);
  if (nav.GetRecordResult != grrOK) return references;
  for (int32_t i = 0; i < defs.GetCount(); ++i) {
    const TORVFieldDef* f = defs.GetDef(i);
    if (!IsBLOBFieldType(f->BaseFieldType) || CheckNullFlag(i, buffer.get())) continue;
    const TORVPageItemID reference =
        TORVPageItemID::ReadFrom(static_cast<const uint8_t*>(buffer.get()) + f->MemoryOffset);
    if (reference.PageNo != 0 && reference.PageNo != -1) references.push_back(reference);
  }
  return references;
}

bool TORVDiskTableData::InsertRecord(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(20135, "Nil pointer occured");
  if (!Cursor->FCurrentRecordBuffer) throw EORVException(20136, "Nil pointer occured");
  if (IsMultiUser()) SynchronizeTemporaryIndexes(Cursor, false);
  return StoreRecordChange(Cursor, true);
}

bool TORVDiskTableData::UpdateRecord(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(20138, "Nil pointer occured");
  if (!Cursor->FCurrentRecordBuffer) throw EORVException(20139, "Nil pointer occured");
  const int32_t session = Cursor->GetSessionID();
  if (IsMultiUser()) {
    LoadMostUpdated(session);
    SynchronizeTemporaryIndexes(Cursor, false);
  }
  // Under the table data lock and the record lock nothing can free the slot meanwhile: a record
  // that is gone is refused before its indexes or BLOBs are touched.
  if (!Records().RecordExists(session, Cursor->CurrentRecordID)) return false;
  return StoreRecordChange(Cursor, false);
}

// An insert or update with the modified BLOBs of the cursor's buffer: whole, or nothing of it
// left. A change that fails outside a transaction drops the session's pages (inside one, its
// rollback takes them); one the record store refuses is taken back here, its new BLOBs too.
bool TORVDiskTableData::StoreRecordChange(TORVCursor* Cursor, bool Insert) {
  const int32_t session = Cursor->GetSessionID();
  ChangeGuard change(*this, Cursor);
  void* const record = Cursor->FCurrentRecordBuffer;
  TORVBlobWrites writes;
  TORVRecordOperationSteps steps;
  steps.BeforeStore = [&](TORVCursor&) { writes = Blobs().StoreModifiedBlobs(session, record); };
  steps.AfterStore = [&](TORVCursor&) {
    // An update's replaced values go once the record no longer refers to them.
    if (!Insert) Blobs().DeleteReplacedBlobs(session, writes);
    SaveMostUpdated(session);
  };
  steps.CallApplyChanges = false;
  bool stored = false;
  try {
    stored = Insert ? RunInsertRecord(*Cursor, steps) : RunUpdateRecord(*Cursor, steps);
    if (stored && !Cursor->FBatchUpdate) ApplyChanges(session, InTransaction(Cursor));
  } catch (...) {
    Blobs().UndoBlobWrites(session, record, writes, !change.Clean());
    change.Abandon();
    throw;
  }
  if (!stored) {
    Blobs().UndoBlobWrites(session, record, writes, true);
    change.Abandon();
    return false;
  }
  Blobs().ReleaseWrittenBlobs(record, writes);
  return true;
}

bool TORVDiskTableData::DeleteRecord(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(20137, "Nil pointer occured");
  const int32_t session = Cursor->GetSessionID();
  if (IsMultiUser()) {
    LoadMostUpdated(session);
    SynchronizeTemporaryIndexes(Cursor, false);
  }
  ChangeGuard change(*this, Cursor);
  std::vector<TORVPageItemID> blobs;
  TORVRecordOperationSteps steps;
  steps.BeforeStore = [&](TORVCursor& c) { blobs = StoredBlobReferences(session, c.CurrentRecordID); };
  // The stored BLOBs go after the record: a record that stays never refers to deleted pages.
  steps.AfterStore = [&](TORVCursor&) {
    for (const TORVPageItemID& reference : blobs) Blobs().DeleteStoredBlob(session, reference);
    SaveMostUpdated(session);
  };
  steps.CallApplyChanges = false;
  bool removed = false;
  try {
    removed = RunDeleteRecord(*Cursor, steps);
    if (removed && !Cursor->FBatchUpdate) ApplyChanges(session, InTransaction(Cursor));
  } catch (...) {
    change.Abandon();
    throw;
  }
  if (!removed) change.Abandon();
  return removed;
}

int64_t TORVDiskTableData::LastAutoincValue(int32_t FieldNo, TORVBaseSession* Session) {
  Guard guard(*this);
  return FFieldManager->GetLastAutoinc(Session, FieldNo);
}

// ---- BLOBs ---------------------------------------------------------------------------------------------------

void TORVDiskTableData::WriteBLOBFieldToRecordBuffer(TORVCursor* Cursor, int32_t FieldNo, TORVStream* BLOBStream) {
  Guard guard(*this);
  if (!BLOBStream) return;
  if (!Cursor->FCurrentRecordBuffer) throw EORVException(20136, "Nil pointer occured");
  Blobs().CopyBlobFromStreamToRecordBuffer(Cursor->FCurrentRecordBuffer, FieldNo, *BLOBStream);
}

void TORVDiskTableData::ClearBLOBFieldInRecordBuffer(void* RecordBuffer, int32_t FieldNo) {
  Guard guard(*this);
  if (FBlobManager) FBlobManager->ClearBlobInRecordBuffer(RecordBuffer, FieldNo, false);
}

void TORVDiskTableData::ClearModifiedBLOBFieldsInRecordBuffer(void* RecordBuffer) {
  Guard guard(*this);
  if (!FBlobManager || !FFieldManager || !RecordBuffer) return;
  const TORVFieldDefs& defs = FFieldManager->FFieldDefs;
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBLOBFieldType(defs.GetDef(i)->BaseFieldType)) FBlobManager->ClearBlobInRecordBuffer(RecordBuffer, i, true);
}

void TORVDiskTableData::ClearBlobsCacheInRecordBuffer(void* Buffer) {
  Guard guard(*this);
  ClearBLOBFieldsInRecordBuffer(Buffer);
}

void TORVDiskTableData::ReleaseUnstoredBLOBs(TORVCursor* Cursor) {
  if (Cursor) ClearModifiedBLOBFieldsInRecordBuffer(Cursor->FCurrentRecordBuffer);
}

TORVStream* TORVDiskTableData::InternalCreateBlobStream(TORVCursor* Cursor, bool, int32_t FieldNo,
                                                        TORVBLOBOpenMode OpenMode) {
  Guard guard(*this);
  const TORVFieldDef* def = FFieldManager->FFieldDefs.GetDef(FieldNo);
  if (def->BLOBBlockSize == 0) throw EORVException(20149, "Stream block size = 0 is not allowed");
  TORVBLOBDescriptor descriptor;
  descriptor.BlockSize = def->BLOBBlockSize;
  descriptor.CompressionAlgorithm = def->BLOBCompressionAlgorithm;
  descriptor.CompressionMode = def->BLOBCompressionMode;
  descriptor.StartPosition = 0;
  void* record = Cursor ? Cursor->FCurrentRecordBuffer : nullptr;
  const int32_t session = SessionOf(Cursor);
  std::function<void(TORVStream&)> fill;
  try {
    if (OpenMode != bomWrite && record && !CheckNullFlag(FieldNo, record)) {
      TORVPartialTemporaryBLOBDescriptor stored;
      void* data = nullptr;
      try {
        Blobs().GetDirectBlobInfoFromRecordBuffer(session, record, FieldNo, stored, data);
      } catch (const EORVException& e) {
        if (e.NativeError() == 20291) throw EORVException(20162, "Cannot read BLOB field value");
        throw;
      }
      if (stored.UncompressedSize < 0) throw EORVException(20248, "Invalid blob field size");
      descriptor.NumBlocks = stored.NumBlocks;
      descriptor.UncompressedSize = stored.UncompressedSize;
      fill = [&](TORVStream& s) {
        TORVBLOBDescriptor copied;
        Blobs().CopyBlobFromRecordBufferToStream(session, record, FieldNo, copied, s);
      };
    }
    return CreateLocalBLOBStream(Cursor, OpenMode, FieldNo, descriptor, FDisableTempFiles, fill).release();
  } catch (...) {
    if (record) Blobs().ClearBlobInRecordBuffer(record, FieldNo, true);
    throw;
  }
}

void TORVDiskTableData::GetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                                          TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) {
  Guard guard(*this);
  Blobs().GetDirectBlobInfoFromRecordBuffer(SessionOf(Cursor), RecordBuffer, FieldNo, BLOBDescriptor, pBlobData);
}

void TORVDiskTableData::SetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                                          TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) {
  Guard guard(*this);
  void* record = RecordBuffer ? RecordBuffer : (Cursor ? Cursor->FCurrentRecordBuffer : nullptr);
  if (!record) throw EORVException(20136, "Nil pointer occured");
  Blobs().SetDirectBlobInfoFromRecordBuffer(record, FieldNo, BLOBDescriptor, pBlobData);
}

void TORVDiskTableData::FreeDirectBlobData(TORVCursor*, int32_t FieldNo, void* RecordBuffer,
                                           TORVPartialTemporaryBLOBDescriptor&, void*& pBlobData) {
  Guard guard(*this);
  if (RecordBuffer) Blobs().ClearBlobInRecordBuffer(RecordBuffer, FieldNo, false);
  pBlobData = nullptr;
}

}  // namespace orv
