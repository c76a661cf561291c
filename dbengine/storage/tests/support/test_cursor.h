#pragma once
// A session and a cursor for tests of the table layer, doing what the access components'
// local session and cursor will do over a database data object: create and open tables,
// initialise records with their defaults, fill autoincrement fields and check constraints
// before a post, insert, edit and delete with result codes, navigate, filter and index.
// BLOB fields through the table data's streams. Locate by values is left to the real cursor
// (it raises std::logic_error here); the multi-user locking of a post or delete is added by
// the cursors of the storage kinds that lock (the database file's tests).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_engine.h"

namespace orv::testing {

using CallLog = std::vector<std::string>;

class TestSession : public TORVBaseSession {
 public:
  // Connects to Database (which numbers the session) in the given mode; disconnects when
  // destroyed.
  explicit TestSession(TORVDatabaseData& Database, bool MultiUser = false);
  ~TestSession() override;

  bool GetConnected() override { return connected_; }
  void SetConnected(bool Value) override;
  bool GetSuppressDBHeaderErrors() override { return false; }
  void SetSuppressDBHeaderErrors(bool) override {}
  void CreateDatabase() override { database_->CreateDatabase(); }
  void DeleteDatabase() override;
  void RenameDatabase(const std::string&) override;
  void GetTablesList(std::vector<std::string>& List) override { database_->GetTablesList(List); }
  bool TableExists(const std::string& TableName) override { return database_->TableExists(TableName); }
  void StartTransaction() override { FInTransaction = true; }
  void Commit(bool DoFlushBuffers) override;
  void Rollback() override;
  void FlushBuffers() override { database_->FlushBuffers(); }

  TORVDatabaseData& Database() const { return *database_; }

 private:
  TORVDatabaseData* database_;
  bool connected_ = false;
};

class TestCursor : public TORVCursor {
 public:
  TestCursor(TestSession& Session, const std::string& TableName);
  ~TestCursor() override;

  void CreateTable(const TORVFieldDefs& FieldDefs, const TORVIndexDefs& IndexDefs,
                   const TORVConstraintDefs& ConstraintDefs) override;
  void DeleteTable() override;
  void EmptyTable() override;
  void RenameTable(const std::string& NewTableName) override;
  void InternalInitFieldDefs() override;
  void OpenTableByFieldDefs(const TORVFieldDefs* FieldDefs, const TORVIndexDefs* IndexDefs,
                            const TORVConstraintDefs* ConstraintDefs) override;
  void CloseTable() override;
  void LockTableData() override;
  void UnlockTableData() override;
  bool LockTable(TORVLockType, int32_t, int32_t, bool) override { return true; }
  bool UnlockTable(TORVLockType, bool) override { return true; }
  void RenameField(const std::string& FieldName, const std::string& NewFieldName) override;
  TORVIndexDefs* GetIndexDefs() override;
  void AddIndex(TORVIndexDef& IndexDef) override;
  void DeleteIndex(const std::string& Name) override;
  void DeleteAllIndexes() override;
  std::string FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                const std::vector<std::string>& AscDescList,
                                const std::vector<std::string>& CaseSensitivityList, bool& IsCreated) override;
  bool IndexExists(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                   const std::vector<std::string>& CaseSensitivityList) override;
  void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo, TORVCursor* DestCursor) override;
  void InternalInitRecord(void* RecordBuffer, bool InsertMode) override;
  int64_t GetRecordCount() override;
  TORVGetRecordResult GetRecordBuffer(TORVGetRecordMode GetRecordMode) override;
  void SetRecNo(int64_t Value) override;
  int64_t GetRecNo() override;
  int32_t CompareRecordsOrder(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInsert() override {}
  void InternalEdit() override;
  // Streams open for writing are closed; an insert's BLOB values are let go, and so is what
  // the table holds for the cursor's unsaved edit.
  void InternalCancel(bool ToInsert) override;
  void InternalPost(bool ToInsert) override;
  void InternalDelete() override;
  bool IsRecordLocked() override { return false; }
  void ApplyDistinct(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                     const std::vector<std::string>& CaseSensitivityList) override;
  void ActivateFilters(const std::string& FilterText, bool CaseInsensitive, bool PartialKey) override;
  void DeactivateFilters() override;
  bool Locate(const std::string&, const std::vector<TORVVarValue>&, bool, bool) override;
  bool FindKey(TORVSearchCondition SearchCondition) override;
  bool IsAnyRecordMatchCondition(const std::string&, TORVDataOperator, const TORVVariant&) override;
  // FieldNo counts in the visible fields (beyond: 10110). A second stream for writing on one
  // field: 10115. The stream stays in FBLOBStreams until its field is closed.
  TORVStream* InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo, TORVBLOBOpenMode OpenMode,
                                       bool CanDoGetRecordBuffer) override;
  // Closes every stream of the field; those opened for writing go into the current buffer.
  void InternalCloseBLOB(int32_t FieldNo) override;
  void ClearBLOBStreams(bool WriteOnly) override;
  int64_t LastAutoincValue(int32_t FieldNo) override;
  void BeginBatchUpdate() override;
  void EndBatchUpdate() override;
  void CancelBatchUpdate() override;
  bool CheckConstraints(bool ToInsert) override;

  // ---- What the dataset would do around the cursor ----
  // A fresh record with its defaults in the current buffer, ready for field values.
  void BeginInsert();
  // The current record copied as the edit's starting point.
  void BeginEdit();
  // Sets a field (by name) of the current buffer; std::nullopt makes it NULL.
  void Set(const std::string& FieldName, const std::optional<int64_t>& Value);
  void SetText(const std::string& FieldName, const std::optional<std::string>& Value);
  std::optional<int64_t> GetInt(const std::string& FieldName);
  std::optional<std::string> GetText(const std::string& FieldName);
  // Insert and post in one go; returns FErrorCode.
  int32_t InsertRow(const std::vector<std::pair<std::string, std::optional<int64_t>>>& Values);
  // Writes Bytes as the value of a BLOB field of the current buffer (an empty value makes it
  // NULL); reads a BLOB field of the current buffer.
  void SetBlob(const std::string& FieldName, const std::vector<uint8_t>& Bytes);
  std::vector<uint8_t> GetBlob(const std::string& FieldName);
  // Every visible record's value of a field from the first on, in the cursor's order.
  std::vector<std::optional<int64_t>> Column(const std::string& FieldName);

  TORVTableData* TableData() const { return table_; }
  TestSession& Session() const { return session_; }
  CallLog* log = nullptr;  // the cursor's own steps (autoincrements, constraints) go here too

 protected:
  // The table data of the cursor's table: the loaded one, else, for a table the database
  // stores, a new one (the database-file kind loads its tables on demand); nil when none.
  TORVTableData* FindTable();

 private:
  int32_t FieldNo(const std::string& FieldName) const;
  int32_t PhysicalFieldNo(int32_t VisibleFieldNo) const;
  void CloseBLOBStream(size_t Index);
  void WriteBookmark(void* Buffer, TORVBookmarkFlag Flag) const;
  TORVPageItemID BookmarkOf(const void* Buffer) const;
  void RefreshDefs();
  void AllocateBuffers();
  void FreeBuffers();

  TestSession& session_;
  TORVTableData* table_ = nullptr;
};

}  // namespace orv::testing
