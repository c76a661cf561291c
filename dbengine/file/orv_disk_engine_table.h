#pragma once
// A table kept in a database file: the disk kind of the storage engine's table data, one object
// per open table and process, shared by the process's cursors on it.
//
// Besides its record pages, BLOB pages and index pages, a table has three internal files whose
// first pages the table list keeps:
//   - the metadata file (page type 8, zlib mode 1): field, index and constraint definitions,
//     then the root pages of the record page index and of the BLOB page index (Int32 each);
//   - the most-updated file (page type 9, plain): Int32 n, n Int64 last autoincrement values,
//     Int32 TableState, UInt32 record count; rewritten with every record change;
//   - the locks file: the table and record lock bytes of every session.
//
// In multi-user mode every cursor holds an ltIS (exclusive: ltX) lock on its table while it has
// it open, structure changes run exclusively, and each read first takes an ltS lock and reloads
// the most-updated values, so that other processes' committed changes are seen. Inserts,
// updates and deletes run under the ltRW or ltXIRW lock their cursor took.
//
// A record change either happens whole or leaves nothing: outside a transaction or batch update
// a change that fails drops the session's page changes and reloads the counters; a change the
// record store refuses is taken back step by step (record, BLOBs), also inside a transaction.
#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/file/orv_disk_engine_blobs.h"
#include "dbengine/file/orv_disk_engine_internal_files.h"
#include "dbengine/file/orv_disk_engine_locks.h"
#include "dbengine/file/orv_disk_engine_records.h"
#include "dbengine/file/orv_disk_engine_table_interface.h"
#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/orv_temp_engine.h"

namespace orv {

class TORVDiskDatabaseData;
class TORVDiskPageManager;

class TORVDiskTableData : public TORVTableData, public IORVDiskTableData {
 public:
  explicit TORVDiskTableData(TORVDiskDatabaseData* aDatabaseData);
  ~TORVDiskTableData() override;

  // Frees this object (taking it out of its database data's list) when no cursor has the table
  // open; the caller must not use it afterwards then. True when it was freed.
  bool FreeIfNoCursorsConnected();

  // ---- Internal files ----
  void CreateTableFiles();
  void OpenTableFiles(int32_t MetadataFilePageNo, int32_t MostUpdatedFilePageNo, int32_t LocksFilePageNo);
  void DeleteTableFiles();
  void FreeTableFiles();
  void SaveMetadataFile(int32_t SessionID);
  void LoadMetadataFile(int32_t SessionID);
  void SaveMostUpdated(int32_t SessionID);
  // No file: 20176.
  void LoadMostUpdated(int32_t SessionID);
  void CleanMostUpdated(int32_t SessionID);
  // No fields: 20142.
  int32_t GetDiskRecordBufferSize() const;

  // ---- Managers ----
  void CreateRecordManager() override;
  void CreateBlobManager();
  void CreateFieldManager(TORVFieldDefs& FieldDefs) override;
  void CreateIndexManager(TORVIndexDefs& IndexDefs) override;
  // A foreign key or an unknown type: 30040.
  void CreateConstraintManager(TORVConstraintDefs& ConstraintDefs) override;

  // ---- Table operations ----
  // The session's pages (outside a transaction) and, always, its temporary index pages.
  void ApplyChanges(int32_t SessionID, bool InTransaction) override;
  // Outside a transaction the session's pages are dropped and the counters reloaded from the
  // file; the temporary index pages are dropped always.
  void CancelChanges(int32_t SessionID, bool InTransaction) override;
  // No fields: 20128. Everything in the system session, committed at the end or dropped.
  void CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                   TORVConstraintDefs& ConstraintDefs) override;
  // The table leaves the table list only once the exclusive open succeeded: a table another
  // user has open stays (20208).
  void DeleteTable(TORVCursor* Cursor, bool DesignMode) override;
  void EmptyTable(TORVCursor* Cursor) override;
  // Renames the table list's entry (the object keeps its name; the cursor takes the new one).
  void RenameTable(const std::string& NewTableName, TORVCursor* Cursor) override;
  // Exclusive while other cursors have the table: 20242; table lock refused: 20208 (ltX) or
  // 20209 (ltIS), the cursor not added.
  void OpenTable(TORVCursor* Cursor) override;
  void CloseTable(TORVCursor* Cursor) override;
  // Loads the table's files and managers as a first open does, without a cursor and without
  // locks, for a look at what is stored (the database check); released with the object. Open
  // by cursors: 20242.
  void LoadForInspection(int32_t SessionID);
  void RenameField(const std::string& FieldName, const std::string& NewFieldName) override;
  void AddIndex(TORVIndexDef& IndexDef, TORVCursor* Cursor) override;
  void DeleteIndex(int32_t IndexID, TORVCursor* Cursor) override;
  void Rollback(int32_t SessionID) override;

  // ---- Records ----
  // (last record page + 1) x records per page; 1 without record pages.
  int64_t GetBitmapRecordCount(int32_t SessionID) override;
  int64_t GetBitmapRecNoByRecordID(const TORVPageItemID& RecordID) override;
  TORVPageItemID GetRecordIDByBitmapRecNo(int64_t RecordNo) override;
  void ClearBlobsCacheInRecordBuffer(void* Buffer) override;
  using TORVTableData::GetRecordBuffer;
  // Multi-user: under an ltS lock with the most-updated values reloaded (refused: grrError).
  TORVGetRecordResult GetRecordBuffer(TORVCursor* Cursor, TORVGetRecordMode GetRecordMode) override;
  // Multi-user lock refused: 20214.
  bool Locate(TORVCursor* Cursor, IORVExpression* SearchExpression) override;
  // 20215.
  bool FindKey(TORVCursor* Cursor, TORVSearchCondition SearchCondition) override;
  // 20216, 20217.
  void SetRecNo(TORVCursor* Cursor, int64_t RecNo) override;
  int64_t GetRecNo(TORVCursor* Cursor) override;
  // 20219, 20220, 20218.
  void InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) override;
  int64_t InternalGetRecNo(TORVCursor* Cursor) override;
  int64_t InternalGetRecordCount(TORVCursor* Cursor) override;
  // No record manager: 20135; no record buffer: 20136.
  bool InsertRecord(TORVCursor* Cursor) override;
  // 20138, 20139. A record that is no longer stored is refused before anything changes.
  bool UpdateRecord(TORVCursor* Cursor) override;
  // 20137.
  bool DeleteRecord(TORVCursor* Cursor) override;
  int64_t LastAutoincValue(int32_t FieldNo, TORVBaseSession* Session) override;

  // ---- BLOBs ----
  void WriteBLOBFieldToRecordBuffer(TORVCursor* Cursor, int32_t FieldNo, TORVStream* BLOBStream) override;
  void ClearBLOBFieldInRecordBuffer(void* RecordBuffer, int32_t FieldNo) override;
  // Every BLOB field's entry goes, modified or not (a cancelled edit).
  void ClearModifiedBLOBFieldsInRecordBuffer(void* RecordBuffer);
  void ReleaseUnstoredBLOBs(TORVCursor* Cursor) override;
  // Block size 0: 20149; a stored value that cannot be read: 20162; a negative size: 20248.
  TORVStream* InternalCreateBlobStream(TORVCursor* Cursor, bool ToInsert, int32_t FieldNo,
                                       TORVBLOBOpenMode OpenMode) override;
  // The data stays the cache entry's; FreeDirectBlobData lets go of it.
  void GetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                         TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;
  void SetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                         TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;
  void FreeDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                          TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;

  // ---- Locks (single-user: granted at once, no record locked) ----
  bool LockTable(int32_t SessionID, TORVLockType LockType, int32_t TryCount, int32_t Delay, bool AllowXIRWAfterSIRW);
  bool UnlockTable(int32_t SessionID, TORVLockType LockType, bool IgnoreIfNoLock);
  bool LockRecord(int32_t SessionID, const TORVPageItemID& RecordID, int32_t TryCount, int32_t Delay);
  bool UnlockRecord(int32_t SessionID, const TORVPageItemID& RecordID);
  bool IsRecordLocked(int32_t SessionID, const TORVPageItemID& RecordID);

  // ---- Repair ----
  // The disk record does not fit a page: 10512.
  void RebuildRecordPageIndex(int32_t SessionID);
  void ValidateRecordPageIndex(TORVCursor* Cursor);
  // A most-updated file that cannot be read or disagrees with the record page index: the index
  // is rebuilt from the pages and the counters written anew.
  void ValidateAndRepairMostUpdatedAndRecordPageIndex(TORVCursor* Cursor);

  TORVDiskDatabaseData& Database() const;
  TORVDiskPageManager& DiskPages() const;
  TORVDiskRecordManager& Records() const;
  TORVDiskBlobManager& Blobs() const;
  bool IsMultiUser() const;

  int32_t FTableID = -1;
  std::unique_ptr<TORVTableLocksFile> FTableLocksFile;
  std::unique_ptr<TORVInternalDBTransactedAccessFile> FTableMetadataFile;
  std::unique_ptr<TORVInternalDBTransactedAccessFile> FTableMostUpdatedFile;
  std::unique_ptr<TORVDiskBlobManager> FBlobManager;
  std::unique_ptr<TORVTemporaryPageManager> FTemporaryPageManager;
  bool FExclusive = false;
  bool FIsChangingTableList = false;
  int32_t FLastUsedTableState = -1;

 private:
  class ReadLock;
  class ChangeGuard;
  // Frees the managers, the temporary pages and the files (the table has no cursor left).
  void ReleaseOpenState() noexcept;
  // Files and managers of the table as stored; on a failure nothing stays loaded.
  void LoadTable(TORVCursor* Cursor, int32_t SessionID);
  // The multi-user read sequence around Body; False when the ltS lock was refused.
  template <class Body>
  bool UnderReadLock(TORVCursor* Cursor, bool Reload, bool Work, bool Synchronize, Body&& body);
  void SynchronizeTemporaryIndexes(TORVCursor* Cursor, bool ApplyWhenChanged);
  // Insert (or update) of the cursor's buffer with its modified BLOBs; False when refused.
  bool StoreRecordChange(TORVCursor* Cursor, bool Insert);
  // The BLOB references of the stored record RecordID (NULL fields: none).
  std::vector<TORVPageItemID> StoredBlobReferences(int32_t SessionID, const TORVPageItemID& RecordID);
};

}  // namespace orv
