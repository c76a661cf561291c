#pragma once
// The table component: a dataset over one stored table. Over the engine's dataset it adds how
// its cursor is made and opened, the table's field and index definitions, the current index
// chosen by name or by columns, key search and ranges on the six key buffers, master/detail
// linking through a master data source, default texts of BLOB columns in new records, and the
// maintenance of the stored table (create, delete, empty, rename, indexes, column names).
//
// Names (table, index, column) are UTF-8 here, as everywhere in the data layer; the engine
// keeps them as 8-bit text.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/access/orv_main_dataset.h"
#include "platform/data/data_source.h"

namespace orv {

// The typed copy of one field's value into another (BLOBs as their bytes); a value the
// destination cannot take raises the destination's conversion error.
void AssignField(platform::data::TField& Source, platform::data::TField& Destination);

// What ExportToSQL writes.
class TORVExportToSqlOptions {
 public:
  void Assign(const TORVExportToSqlOptions& Source) { *this = Source; }

  bool Structure = true;     // DROP TABLE (see AddDropTable) and CREATE TABLE
  bool AddDropTable = true;  // only with Structure
  bool BlobSettings = false; // block size and compression of BLOB columns
  bool Data = false;         // one INSERT per record
  bool FieldNamesInInserts = false;
};

class TORVTable : public TORVDataSet {
 public:
  explicit TORVTable(TORVComponent* AOwner = nullptr);
  ~TORVTable() override;

  // ---- properties ----
  const std::string& TableName() const { return FTableName; }
  // Changed (case-sensitive) on a closed table only.
  void SetTableName(const std::string& Value);
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool Value);
  bool Temporary() const { return FTemporary; }
  // True also sets DatabaseName to "TEMP".
  void SetTemporary(bool Value);
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool Value) { FDisableTempFiles = Value; }
  // Empty while the index is chosen by columns.
  std::string IndexName() const { return FFieldsIndex ? std::string() : FIndexName; }
  void SetIndexName(const std::string& Value) { SetIndex(Value, false); }
  // The ";"-separated columns the index was chosen by; empty when it was chosen by name.
  std::string IndexFieldNames() const { return FFieldsIndex ? FIndexName : std::string(); }
  void SetIndexFieldNames(const std::string& Value) { SetIndex(Value, !Value.empty()); }
  // Whether the stored table exists; never raises (False for any failure).
  bool Exists();
  void CheckBlankTableName();

  // ---- master/detail ----
  platform::data::TDataSource* GetDataSource() override { return FMasterLink.DataSource(); }
  platform::data::TDataSource* MasterSource() { return FMasterLink.DataSource(); }
  // "Circular datalinks are not allowed" when this table is Value's dataset or its master.
  void SetMasterSource(platform::data::TDataSource* Value);
  const std::string& MasterFields() const { return FMasterLink.FieldNames(); }
  void SetMasterFields(const std::string& Value) { FMasterLink.SetFieldNames(Value); }

  // ---- index fields and keys ----
  int32_t IndexFieldCount() const { return FIndexFieldCount; }
  platform::data::TField* GetIndexField(int32_t Index);
  void SetIndexField(int32_t Index, platform::data::TField& Value) { GetIndexField(Index)->Assign(Value); }
  bool KeyExclusive();
  void SetKeyExclusive(bool Value);
  int32_t KeyFieldCount();
  void SetKeyFieldCount(int32_t Value);
  void SetKey() { SetKeyBuffer(kiLookup, true); }
  void EditKey() { SetKeyBuffer(kiLookup, false); }
  bool GotoKey();
  void GotoNearest();
  bool FindKey(const std::vector<platform::data::Variant>& KeyValues);
  void FindNearest(const std::vector<platform::data::Variant>& KeyValues);
  void SetRangeStart() { SetKeyBuffer(kiRangeStart, true); }
  void SetRangeEnd() { SetKeyBuffer(kiRangeEnd, true); }
  void EditRangeStart() { SetKeyBuffer(kiRangeStart, false); }
  void EditRangeEnd() { SetKeyBuffer(kiRangeEnd, false); }
  void SetRange(const std::vector<platform::data::Variant>& StartValues,
                const std::vector<platform::data::Variant>& EndValues);
  void ApplyRange();
  void CancelRange();
  void Post() override;
  void Cancel() override;

  // ---- what the SQL layer uses ----
  bool IsRecordLocked();
  int64_t LastAutoincValue(int32_t FieldIndex);
  int64_t LastAutoincValue(const std::string& FieldName);
  std::string FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                const std::vector<std::string>& AscDescList,
                                const std::vector<std::string>& CaseSensitivityList, bool& IsCreated);
  bool IndexExists(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                   const std::vector<std::string>& CaseSensitivityList);
  void ApplyDistinct(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                     const std::vector<std::string>& CaseSensitivityList);
  void ApplyDistinct(TORVDataSet& DataSet);
  // Opens the table with the engine's check and rebuild of its counters and record page index.
  void ValidateAndRepairMostUpdatedAndRecordPageIndex();

  // ---- maintenance of the stored table ----
  // Creates the table from the definitions (advanced ones when filled), replacing one of the
  // same name.
  void CreateTable();
  // Closes the table first when it is open.
  void DeleteTable();
  void EmptyTable();
  void RenameTable(const std::string& NewTableName);
  void AddIndex(const std::string& Name, const std::string& Fields, platform::data::TIndexOptions Options,
                const std::string& DescFields = {}, const std::string& CaseInsFields = {});
  void DeleteIndex(const std::string& Name);
  void DeleteAllIndexes();
  void RenameField(const std::string& FieldName, const std::string& NewFieldName);

  // ---- copying and restructuring ----
  // Copies structure and records into NewTableName of this database (DestDatabaseFileName
  // empty), of the process-wide "MEMORY" database, or of another database file. True once the
  // records were copied (Continue and Log tell whether all were); False when it ended at the
  // already-exists or create step, or when the destination file could not be opened (with
  // IgnoreErrors). A copy onto itself is refused (30447).
  bool CopyTable(const std::string& NewTableName, std::string& Log, bool& Continue,
                 const std::string& DestDatabaseFileName, const std::string& DestDatabasePassword, bool IgnoreErrors,
                 bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress, int32_t MaxProgress);
  void CopyTable(const std::string& NewTableName, const std::string& DestDatabaseFileName = {},
                 const std::string& DestDatabasePassword = {});
  // Gives the stored table the structure of RestructureFieldDefs and RestructureIndexDefs,
  // keeping the data of every column that keeps its object id. The old table is untouched
  // until the copy succeeded and gets its name back on any failure before that.
  bool RestructureTable(std::string& Log);
  bool RestructureTable();
  // Recreates this (closed) table with the structure and data of SourceTable, any dataset; a
  // source that is not an engine dataset gives its columns and the index definitions
  // IndexDefs lists (the first one without a name becomes "idxPrimaryKey"). True when nothing
  // was appended to Log.
  bool ImportTable(platform::data::TDataSet& SourceTable, std::string& Log,
                   const platform::data::TIndexDefs* IndexDefs);
  bool ImportTable(platform::data::TDataSet& SourceTable);
  // Gives DestinationTable this table's structure, lets CreateTablePointer make its stored
  // table, and copies the records into it (left open). True when nothing was appended to Log.
  bool ExportTable(platform::data::TDataSet& DestinationTable, const std::function<void()>& CreateTablePointer,
                   std::string& Log);
  bool ExportTable(platform::data::TDataSet& DestinationTable, const std::function<void()>& CreateTablePointer);
  // Moves the records of Source into this table, matching records through the index named
  // DstTableIndexNameToIdentifyEqualRecords (else the primary index, else one over the common
  // columns).
  void BatchMove(TORVDataSet& SourceTableOrQuery, TORVBatchMoveType MoveType,
                 const std::string& DstTableIndexNameToIdentifyEqualRecords = {});

  // ---- SQL script ----
  TORVExportToSqlOptions& ExportToSqlOptions() { return FExportToSqlOptions; }
  // Writes the (closed) table as a script the SQL layer reads back: DROP TABLE, CREATE TABLE
  // and INSERT statements as ExportToSqlOptions choose, in the engine's 8-bit text. Numbers
  // are written with a point whatever the process's number format says.
  void ExportToSQL(platform::TStream& Stream);
  // Creates or empties the file, which no one else may write meanwhile.
  void ExportToSQL(const std::string& FileName);
  // The script as UTF-8 text.
  std::string ExportToSQL();

  // ---- progress events of the whole-table operations ----
  // Unassigned handlers show the progress form, unless the database is silent or the table
  // temporary.
  TORVDataSetNotifyEvent BeforeCopy;
  TORVDataSetProgressEvent OnCopyProgress;
  TORVDataSetNotifyEvent AfterCopy;
  TORVDataSetNotifyEvent BeforeImport;
  TORVDataSetProgressEvent OnImportProgress;
  TORVDataSetNotifyEvent AfterImport;
  TORVDataSetNotifyEvent BeforeExport;
  TORVDataSetProgressEvent OnExportProgress;
  TORVDataSetNotifyEvent AfterExport;
  TORVDataSetNotifyEvent BeforeRestructure;
  TORVDataSetProgressEvent OnRestructureProgress;
  TORVDataSetNotifyEvent AfterRestructure;
  TORVDataSetNotifyEvent BeforeBatchMove;
  TORVDataSetProgressEvent OnBatchMoveProgress;
  TORVDataSetNotifyEvent AfterBatchMove;

  // ---- reading the structure ----
  void InitFieldDefs() override;
  void UpdateIndexDefs() override;

  // A new cursor on the stored table, open; the caller owns it.
  std::unique_ptr<TORVLocalCursor> GetHandle();

 protected:
  TORVCursor* CreateHandle() override;
  void PrepareCursor() override { CheckMasterRange(); }
  void DataEvent(platform::data::TDataEvent Event, intptr_t Info) override;
  void DoOnNewRecord() override;

 private:
  void SetIndex(const std::string& Value, bool FieldsIndex);
  std::string GetIndexParams(const std::string& IndexName, bool FieldsIndex);
  void SetKeyBuffer(TORVKeyIndex KeyIndex, bool Clear);
  void PostKeyBuffer(bool Commit);
  void SetKeyFields(TORVKeyIndex KeyIndex, const std::vector<platform::data::Variant>& Values);
  // Hands the lookup key to the cursor.
  void PrepareKeySearch();
  bool SetCursorRange();
  void SetLinkRanges(const std::vector<platform::data::TField*>& MasterFields);
  void CheckMasterRange();
  void MasterChanged();
  void MasterDisabled();
  void SetDefaultBlobFieldsValues();
  // Shared table lock around a repositioning, when it can be had.
  bool LockShared();
  void UnlockShared(bool Locked);
  // The cursor of a table-level operation: exclusive, writable.
  std::unique_ptr<TORVLocalCursor> TableOperationCursor();
  bool SessionInTransaction();
  bool DisableTempFilesFor() const;
  // Persistent data fields that the field definitions do not list yet join them.
  void AddPersistentFieldsToFieldDefs();
  // The table's field definitions read again into an open cursor, keeping its buffer layout.
  static void ReloadFieldDefs(TORVCursor& Cursor);
  // One index dropped (Name given) or all of them.
  void DropIndexes(const std::string* Name);

  // The default progress display of the whole-table operations.
  void DoBeforeProgress(const TORVDataSetNotifyEvent& Handler, platform::data::TDataSet& Sender, const char* Message,
                        bool ProcessMessages);
  void DoProgress(const TORVDataSetProgressEvent& Handler, platform::data::TDataSet& Sender, int PercentDone, bool& Continue);
  void DoAfterProgress(const TORVDataSetNotifyEvent& Handler, platform::data::TDataSet& Sender);
  bool ShowsProgressForm() const;
  // Import and export: every record copied with IgnoreErrors while the table's data is locked,
  // between the group's Before and After events; returns the copier's log.
  std::string CopyUnderTableDataLock(TORVCursor& Cursor, platform::data::TDataSet& Source,
                                     platform::data::TDataSet& Destination, const TORVDataSetNotifyEvent& Before,
                                     const TORVDataSetProgressEvent& Progress, const TORVDataSetNotifyEvent& After,
                                     const char* Message);

  std::unique_ptr<platform::ui::ProgressForm> FProgressForm;
  TORVExportToSqlOptions FExportToSqlOptions;
  std::string FTableName;
  bool FExclusive = false;
  bool FTemporary = false;
  std::string FIndexName;
  bool FFieldsIndex = false;
  platform::data::TMasterDataLink FMasterLink;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
};

}  // namespace orv
