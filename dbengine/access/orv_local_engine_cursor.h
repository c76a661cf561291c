#pragma once
// The engine's one concrete cursor: one table of the database its local session is connected
// to, seen by one client (a dataset, an SQL operator, an index build). Over what the table data
// does it adds three things: table-level operations serialised on the database's lock and
// record operations on the table's; the protocol by which processes sharing a database file
// edit, post and delete (table and record locks taken with retries, the stored record read
// again to find changes and deletions of other processes, a result code for every outcome);
// and the BLOB streams open on the current record.
//
// Record operations never raise for the expected outcomes: they leave a result code (0, or -1
// .. -13) in FErrorCode and a text in FErrorMessage, which the dataset turns into an engine
// error, and the buffer the dataset gave keeps the values it had before the operation, so that
// the dataset can show them and try again. Misuse and storage failures raise EORVException,
// with every lock the operation took released first.
//
// Record buffers are the dataset's: null flags (bit i mod 8 of byte i div 8 set: field i is
// NULL), the fields at their memory offsets, the 7-byte bookmark (record id and bookmark flag)
// at FBookmarkOffset, then the dataset's calculated fields. A key buffer holds the fields and
// then 6 bytes of key header.
//
// Every wait between lock attempts goes through the platform clock's Sleep with the table's
// lock released, so that the other cursors of the process go on meanwhile.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class IORVDiskTableData;
class TORVDatabaseData;
class TORVLocalBLOBStream;
class TORVTableData;

// Whether a post during a batch update checks the unique and primary keys as well; the system
// never switches it off.
inline bool DoUniqueAndPrimaryKeysCheckOnUpdate = true;

// How a multi-user edit, post and delete wait for the table and record locks of other
// processes: tries and the pause in milliseconds between two tries.
struct TORVLockWaits {
  static constexpr int32_t EditTableTries = 900, EditTableDelay = 100;
  static constexpr int32_t PostTableTries = 2250, PostTableDelay = 40;
  static constexpr int32_t DeleteTableTries = 900, DeleteTableDelay = 100;
  static constexpr int32_t RecordTries = 15, RecordDelay = 100;
  static constexpr int32_t BLOBTableTries = 2250, BLOBTableDelay = 40;
};

class TORVLocalCursor : public TORVCursor {
 public:
  // A closed cursor: no table, no definitions, index -1.
  TORVLocalCursor();
  // Closes the table; errors are dropped (a destructor never raises).
  ~TORVLocalCursor() override;

  // ---- Table-level operations (on a closed cursor; each leaves it closed) ----
  // An existing table of that name is deleted first. No table data: 20151.
  void CreateTable(const TORVFieldDefs& FieldDefs, const TORVIndexDefs& IndexDefs,
                   const TORVConstraintDefs& ConstraintDefs) override;
  // No such table: 20132; the session forgets its values of the table's fields.
  void DeleteTable() override;
  // No such table: 20133.
  void EmptyTable() override;
  // No such table: 20134; another table of that name: 30451; the same name exactly: 30452 (a
  // change of letter case only is allowed). FTableName follows.
  void RenameTable(const std::string& NewTableName) override;

  // ---- Opening and closing ----
  // Reloads the field and constraint definitions and sets the buffer layout: record size =
  // bookmark offset + 7 (7 without fields), key buffer = bookmark offset + 6.
  void InternalInitFieldDefs() override;
  // An open cursor returns at once. A table not open in the process: a database file's is
  // loaded; MEMORY and TEMP raise 10028 outside design mode and create it from the
  // definitions in design mode.
  void OpenTableByFieldDefs(const TORVFieldDefs* FieldDefs, const TORVIndexDefs* IndexDefs,
                            const TORVConstraintDefs* ConstraintDefs) override;
  // Streams still open are dropped unwritten: nothing will store the record they belong to.
  // In design mode a memory or temporary table goes with its cursor. FIsOpen keeps its value:
  // a cursor is opened once and freed after closing.
  void CloseTable() override;
  // Opens the cursor over a table data object already loaded (an index being filled); the
  // caller sets FSession and FTableName first.
  void OpenTable(TORVTableData* aTableData);

  // ---- Locks ----
  // No table data: 10260 / 10261.
  void LockTableData() override;
  void UnlockTableData() override;
  // A disk table's lock in the file; other tables: True. No table data: 20221 / 20222.
  bool LockTable(TORVLockType LockType, int32_t TryCount, int32_t Delay, bool AllowXIRWAfterSIRW) override;
  bool UnlockTable(TORVLockType LockType, bool IgnoreIfNoLock) override;

  // ---- Fields and indexes ----
  void RenameField(const std::string& FieldName, const std::string& NewFieldName) override;
  TORVIndexDefs* GetIndexDefs() override;
  // An index of that name: 20022.
  void AddIndex(TORVIndexDef& IndexDef) override;
  // No index of that name: 20021.
  void DeleteIndex(const std::string& Name) override;
  void DeleteAllIndexes() override;
  // Names of a projection's aliases count as the fields they stand for.
  std::string FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                const std::vector<std::string>& AscDescList,
                                const std::vector<std::string>& CaseSensitivityList, bool& IsCreated) override;
  bool IndexExists(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                   const std::vector<std::string>& CaseSensitivityList) override;
  // One field of the current record into a visible field of DestCursor's current record.
  // SrcFieldNo beyond its definitions: 10501; DestFieldNo beyond DestCursor's visible fields:
  // 10502. A BLOB travels in its stored form.
  void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo, TORVCursor* DestCursor) override;

  // ---- Records ----
  // Every null flag set, the rest zeroed; an insert of a table that is not temporary gets the
  // default values.
  void InternalInitRecord(void* RecordBuffer, bool InsertMode) override;
  // Lets go of the BLOB values the buffer holds in the table before freeing it.
  void FreeRecordBuffer(void*& Buffer) override;
  int64_t GetRecordCount() override;
  TORVGetRecordResult GetRecordBuffer(TORVGetRecordMode GetRecordMode) override;
  void SetRecNo(int64_t Value) override;
  int64_t GetRecNo() override;
  // With an index: the index's order of the two records (an unreadable first record -1, an
  // unreadable second 1); equal keys and no index: page number, then slot.
  int32_t CompareRecordsOrder(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInsert() override {}
  // FCurrentRecordBuffer is the record the edit starts from. Temporary table: -9. A disk
  // table of a multi-user session: the table lock (-13) and the record lock (-12), then the
  // stored record read again: gone -6, changed -4 (the buffer keeps its values). On success
  // both locks stay until the post or cancel of the edit.
  void InternalEdit() override;
  // Closes the streams opened for writing and lets go of the BLOB values they put into the
  // buffer; releases the edit's locks.
  void InternalCancel(bool ToInsert) override;
  // FCurrentRecordBuffer holds the new values, FEditRecordBuffer (an edit) the record the edit
  // started from. Multi-user: the table lock first (-13). Autoincrements and constraints:
  // -8 with the message (an edit keeps its locks, to be posted again or cancelled); an insert
  // -1 when refused; an edit -6 / -4 when the stored record is gone or changed, -2 when
  // refused. The buffer keeps the new values in every case.
  void InternalPost(bool ToInsert) override;
  // FCurrentRecordBuffer is the dataset's copy of the record. Multi-user: the table (-13) and
  // record (-12) locks. Temporary table: -10. The stored record gone: -7; different in a value
  // or null flag: -5; refused: -3.
  void InternalDelete() override;
  bool IsRecordLocked() override;

  // ---- Views ----
  void ApplyDistinct(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                     const std::vector<std::string>& CaseSensitivityList) override;
  // These three need the expression engine, reached through its registered factory (none:
  // std::logic_error naming it).
  void ActivateFilters(const std::string& FilterText, bool CaseInsensitive, bool PartialKey) override;
  void DeactivateFilters() override;
  bool Locate(const std::string& KeyFields, const std::vector<TORVVarValue>& KeyValues, bool CaseInsensitive,
              bool PartialKey) override;
  bool FindKey(TORVSearchCondition SearchCondition) override;
  bool IsAnyRecordMatchCondition(const std::string& FieldName, TORVDataOperator Operator,
                                 const TORVVariant& Value) override;

  // ---- BLOB streams ----
  // A stream over a visible BLOB field of the current record, kept open until its field is
  // closed. A multi-user disk table is read under a shared table lock, the stored record read
  // again for a reader in browse state; no lock or no record: nil. FieldNo beyond the visible
  // fields: 10110; a second stream for writing on one field: 10115.
  TORVStream* InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo, TORVBLOBOpenMode OpenMode,
                                       bool CanDoGetRecordBuffer) override;
  // Closes every stream of the field, in list order: those opened for writing go into the
  // current record buffer. FieldNo beyond the visible fields: 10118.
  void InternalCloseBLOB(int32_t FieldNo) override;
  // Closes the streams (with WriteOnly those opened for writing) and every other stream of
  // their fields, each written and freed once; their user streams are told first.
  void ClearBLOBStreams(bool WriteOnly) override;

  // ---- Autoincrements, batches, constraints ----
  int64_t LastAutoincValue(int32_t FieldNo) override;
  // Outside a transaction only.
  void BeginBatchUpdate() override;
  // A disk table's changes since BeginBatchUpdate are written (or, cancelled, dropped).
  void EndBatchUpdate() override;
  void CancelBatchUpdate() override;
  // The current record against the table's constraints; reports instead of raising.
  bool CheckConstraints(bool ToInsert) override;

  TORVTableData* TableData() const { return FTableData; }
  // The database data the table-level operations ran on last.
  TORVDatabaseData* DatabaseData() const { return FDatabaseData; }

 private:
  // The database data of the session; none (no session, not a local session, not
  // connected): 30560.
  TORVDatabaseData& SessionDatabaseData();
  TORVTableData& Table(int32_t Code) const;
  IORVDiskTableData* DiskTable() const;
  bool IsTemporaryTable() const;
  bool MultiUser() const;
  int32_t SessionID() const { return GetSessionID(); }
  bool InTransaction() const;
  // The record id in the bookmark of a record buffer.
  TORVPageItemID BookmarkRecordID(const void* Buffer) const;
  void WriteBookmark(void* Buffer, const TORVPageItemID& RecordID, TORVBookmarkFlag Flag) const;
  // Reads the stored record of CurrentRecordID into the current buffer.
  TORVGetRecordResult ReadCurrentAgain();
  // Tries LockTable(LockType, 1, 0) up to Tries times, sleeping Delay ms between two tries
  // with the table's lock released.
  bool LockTableWithPauses(IORVDiskTableData& Disk, TORVLockType LockType, int32_t Tries, int32_t Delay);
  void ReleaseRecordLock(IORVDiskTableData& Disk);
  // The edit's record lock and, unless it is a transaction's (kept until the commit), its
  // table lock.
  void ReleaseEditLocks(IORVDiskTableData& Disk);
  void PostChanges(bool ToInsert);
  void DeleteCurrent();
  // Rewrites alias names of a projection into the names of the fields they stand for.
  std::vector<std::string> PhysicalNames(const std::vector<std::string>& FieldNamesList) const;
  void RefreshIndexAndConstraintDefs();
  int32_t PhysicalFieldNo(int32_t VisibleFieldNo) const;
  TORVLocalBLOBStream& LocalStream(size_t Index) const;
  // Takes the stream out of the list, tells its user stream, writes it (opened for writing)
  // and frees it; WriteIt False drops it unwritten.
  void CloseStream(size_t Index, bool WriteIt);
  // Closes every stream of one physical field.
  void CloseField(int32_t PhysicalFieldNo);
  // The table data goes (it is unused, or was made for an open that failed).
  void ReleaseTableData(bool CreatedHere);
  // A table-level operation: under the database's lock, on a closed cursor, which is closed
  // again afterwards whether Body succeeds or raises.
  void TableOperation(const std::function<void(TORVDatabaseData&)>& Body);

  TORVTableData* FTableData = nullptr;        // borrowed: the database data owns it
  TORVDatabaseData* FDatabaseData = nullptr;  // borrowed: taken from the session
  // The record lock and the table lock a multi-user edit of a disk table holds until its post
  // or cancel; only what is held is released, so that a post tried again after a refusal or
  // a cancel after a failed post finds nothing missing.
  std::optional<TORVPageItemID> FLockedRecordID;
  std::optional<TORVLockType> FEditTableLock;
};

}  // namespace orv
