#pragma once
// A storage kind for tests: records in a vector of slots (a record id is its slot, a deleted
// slot stays empty for good), index pages in a page store double, object ids and session
// numbers counted up from 1. It stands in for the memory engine until that exists and serves
// the tests of the table layer and of the layers above it.
//
// Every manager call that changes records is written to the database's call log (when one
// is set), so a test can check the order in which a record change reaches them.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/tests/page_store_double.h"

namespace orv::testing {

using CallLog = std::vector<std::string>;

class VectorRecordManager : public TORVBaseRecordManager {
 public:
  VectorRecordManager(int32_t RecordBufferSize, CallLog* Log);

  void Empty(int32_t SessionID) override;
  bool AddRecord(int32_t SessionID, const void* RecordBuffer, TORVPageItemID& RecordID) override;
  bool UpdateRecord(int32_t SessionID, const void* RecordBuffer, const TORVPageItemID& RecordID) override;
  bool DeleteRecord(int32_t SessionID, TORVPageItemID& RecordID) override;
  void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) override;
  int32_t CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) override;
  int64_t GetApproximateRecNo(int32_t SessionID, const TORVPageItemID& RecordID) override;

  int64_t SlotCount() const { return static_cast<int64_t>(slots_.size()); }
  bool IsLive(int64_t Slot) const { return Slot >= 0 && Slot < SlotCount() && live_[static_cast<size_t>(Slot)]; }
  const std::vector<uint8_t>& Slot(int64_t Slot) const { return slots_[static_cast<size_t>(Slot)]; }
  // The slot of the 1-based RecNo-th record, -1 beyond; the 1-based number of a slot.
  int64_t SlotOfRecNo(int64_t RecNo) const;
  int64_t RecNoOfSlot(int64_t Slot) const;

  // Refusals of the store (a full page, a record deleted by another process).
  bool refuse_add = false;
  bool refuse_update = false;
  bool refuse_delete = false;
  // Called before every read: lets a test act while the table is being read.
  std::function<void()> on_read;

 private:
  void Log(const std::string& Entry) const;

  std::vector<std::vector<uint8_t>> slots_;
  std::vector<bool> live_;
  CallLog* log_;
};

// Index manager that logs the record changes it is asked to follow.
class LoggingIndexManager : public TORVBaseIndexManager {
 public:
  LoggingIndexManager(TORVTableData* aTableData, TORVPageManager* TempPageManager, CallLog* Log)
      : TORVBaseIndexManager(aTableData, TempPageManager), log_(Log) {}
  void InsertRecord(TORVCursor* Cursor) override;
  void UpdateRecord(TORVCursor* Cursor, bool BeforeNewRecordIsStored) override;
  bool DeleteRecord(TORVCursor* Cursor) override;
  void RestoreUpdatedRecord(TORVCursor* Cursor) override;
  void RestoreDeletedRecord(TORVCursor* Cursor) override;

 private:
  void Log(const std::string& Entry) const {
    if (log_) log_->push_back(Entry);
  }
  CallLog* log_;
};

class VectorDatabaseData;

class VectorTableData : public TORVTableData {
 public:
  VectorTableData(VectorDatabaseData* Database, const std::string& TableName);
  ~VectorTableData() override;

  void CreateRecordManager() override;
  void CreateFieldManager(TORVFieldDefs& FieldDefs) override;
  void CreateIndexManager(TORVIndexDefs& IndexDefs) override;
  void ApplyChanges(int32_t SessionID, bool InTransaction) override;
  void CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                   TORVConstraintDefs& ConstraintDefs) override;
  void EmptyTable(TORVCursor* Cursor) override;
  void AddIndex(TORVIndexDef& IndexDef, TORVCursor* Cursor) override;
  void DeleteIndex(int32_t IndexID, TORVCursor* Cursor) override;
  int64_t GetBitmapRecordCount(int32_t SessionID) override;
  int64_t GetBitmapRecNoByRecordID(const TORVPageItemID& RecordID) override { return RecordID.PageNo; }
  TORVPageItemID GetRecordIDByBitmapRecNo(int64_t RecordNo) override {
    return {static_cast<int32_t>(RecordNo), 0};
  }
  void ClearBLOBFieldsInRecordBuffer(void* RecordBuffer) override;
  // The vector store keeps no BLOBs: these raise std::logic_error.
  void WriteBLOBFieldToRecordBuffer(TORVCursor*, int32_t, TORVStream*) override;
  TORVStream* InternalCreateBlobStream(TORVCursor*, bool, int32_t, TORVBLOBOpenMode) override;
  void GetDirectBlobData(TORVCursor*, int32_t, void*, TORVPartialTemporaryBLOBDescriptor&, void*&) override;
  void SetDirectBlobData(TORVCursor*, int32_t, void*, TORVPartialTemporaryBLOBDescriptor&, void*&) override;
  void FreeDirectBlobData(TORVCursor*, int32_t, void*, TORVPartialTemporaryBLOBDescriptor&, void*&) override;
  bool InsertRecord(TORVCursor* Cursor) override;
  bool DeleteRecord(TORVCursor* Cursor) override;
  bool UpdateRecord(TORVCursor* Cursor) override;
  void InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) override;
  int64_t InternalGetRecNo(TORVCursor* Cursor) override;
  int64_t InternalGetRecordCount(TORVCursor* Cursor) override;
  int64_t LastAutoincValue(int32_t FieldNo, TORVBaseSession* Session) override;

  VectorRecordManager& Records() const { return static_cast<VectorRecordManager&>(*FRecordManager); }
  PageStoreDouble& Pages() { return pages_; }

  // What the kind adds to the shared order of a record change; a test may log through it.
  TORVRecordOperationSteps steps;

 private:
  TORVRecordOperationSteps StepsFor(TORVCursor* Cursor) const;
  CallLog* Log() const;

  PageStoreDouble pages_{4096, 0};
};

class VectorDatabaseData : public TORVDatabaseData {
 public:
  VectorDatabaseData() { FDatabaseName = "VECTOR"; }
  ~VectorDatabaseData() override;

  // Sessions are numbered 1, 2, ... so that temporary indexes and page changes keep apart.
  void ConnectSession(TORVBaseSession* Session) override;
  TORVTableData* CreateTableData(TORVCursor* Cursor) override;
  int32_t GetNewObjectId() override;

  CallLog* log = nullptr;

 private:
  int32_t last_object_id_ = 0;
  int32_t last_session_ = 0;
};

}  // namespace orv::testing
