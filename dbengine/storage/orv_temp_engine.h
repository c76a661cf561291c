#pragma once
// The temporary engine: tables that are filled once and then read (the intermediate results
// of SQL statements and tables marked temporary), held by the process-wide database "TEMP".
// Records and index pages stay in memory up to a tenth of the free memory each and go to
// temporary files beyond that; BLOB values are appended to one stream per table. Updates and
// deletions are refused. Every temporary file disappears when it is closed or the process
// ends, and none can be opened by name meanwhile.
//
// Like memory tables, temporary tables are not transactional: changes are applied at once.
#include <cstdint>
#include <memory>

#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_mem_engine.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_page.h"

namespace orv {

// ---- Records ----------------------------------------------------------------------------------

// Record ids: the 0-based record number in insertion order, 48 bits (PageNo the low 32,
// PageItemNo the next 16). Record n lies in the cache below the cache limit (always, without
// temporary files), else in the record file at (n - limit) * record size.
class TORVTemporaryRecordManager : public TORVBaseRecordManager {
 public:
  // RecordBufferSize 0: 10124. The cache limit is fixed here: a tenth of Memory's free size,
  // in records.
  TORVTemporaryRecordManager(int32_t RecordBufferSize, int32_t RecordsPerPage, int32_t AllocRecordsBy,
                             bool DisableTempFiles, TORVMemoryManager& Memory = MemoryManager());
  ~TORVTemporaryRecordManager() override;

  void Empty(int32_t SessionID) override;
  bool AddRecord(int32_t SessionID, const void* RecordBuffer, TORVPageItemID& RecordID) override;
  bool UpdateRecord(int32_t, const void*, const TORVPageItemID&) override { return false; }
  bool DeleteRecord(int32_t, TORVPageItemID&) override { return false; }
  void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) override;
  int32_t CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) override;
  // Exact: the record number + 1; -1 beyond the records.
  int64_t GetApproximateRecNo(int32_t SessionID, const TORVPageItemID& RecordID) override;

  // Writes the record waiting for the file (10126, 10128, 10125).
  void SaveTempPage();
  // Record RecordNo into RecordBuffer (10127, 10129, 10130).
  bool ReadRecord(void* RecordBuffer, int64_t RecordNo);

  static int64_t RecordNoOf(const TORVPageItemID& RecordID);
  static TORVPageItemID RecordIDOf(int64_t RecordNo);

  int32_t MaxCachedRecordCount() const { return FMaxCachedRecordCount; }
  int32_t CachedRecordCount() const { return FCachedRecordCount; }
  int32_t AllocatedRecordCount() const { return FAllocatedRecordCount; }
  // Nil until the first record past the cache.
  TORVFileStream* TempPageFile() const { return FTempPageFile.get(); }

 private:
  TORVMemoryManager& FMemory;
  int32_t FRecordsPerPage;
  int32_t FPageSize;
  int32_t FCachedRecordCount = 0;
  uint8_t* FCache = nullptr;
  int32_t FAllocatedRecordCount = 0;
  int64_t FCapacity = 0;  // records the cache's memory holds, at least FAllocatedRecordCount
  uint8_t* FTempPage = nullptr;
  int32_t FTempPageRecordCount = 0;
  std::unique_ptr<TORVFileStream> FTempPageFile;
  int32_t FMaxCachedRecordCount;
  int32_t FAllocRecordsBy;
  bool FDisableTempFiles;
};

// ---- Pages ---------------------------------------------------------------------------------

// Pages below the memory page limit (every page, without temporary files) live in a memory
// page store; later ones in the page file, page n at n * 4096, so the file starts with a gap
// as long as the memory pages (never written: the file is sparse there).
class TORVTemporaryPageManager : public TORVPageManager {
 public:
  explicit TORVTemporaryPageManager(bool DisableTempFiles, TORVMemoryManager& Memory = MemoryManager());
  ~TORVTemporaryPageManager() override;

  void InternalAddPage(TORVPage& Page) override;
  void InternalRemovePage(int32_t PageNo) override;
  // A page not in use: 10396 / 10397; a file page without page file: 30482.
  bool InternalReadPage(TORVPage& Page) override;
  void InternalWritePage(TORVPage& Page) override;

  int32_t MaxMemoryPageCount() const { return FMaxMemoryPageCount; }
  int32_t AllocatedPageCount() const { return FAllocatedPageCount; }
  bool IsMemoryPage(int32_t PageNo) const { return FDisableTempFiles || PageNo < FMaxMemoryPageCount; }
  TORVFileStream* TempPageFile() const { return FTempPageFile.get(); }
  TORVMemoryPageManager& MemoryPages() const { return *FMemoryPageManager; }

 private:
  bool IsAllocated(int32_t PageNo) const;
  void MakePageFile();

  TORVBitsArray FAllocatedPageMap;
  int32_t FAllocatedPageCount = 0;
  std::unique_ptr<TORVFileStream> FTempPageFile;
  int32_t FMaxMemoryPageCount;
  std::unique_ptr<TORVMemoryPageManager> FMemoryPageManager;
  bool FDisableTempFiles;
};

// ---- Tables --------------------------------------------------------------------------------

// A BLOB field holds the Int64 offset of its entry in the table's BLOB stream: NumBlocks
// Int32, UncompressedSize Int64, CompressedSize Int64, then the compressed blocks. Entries are
// only appended; a value written again adds an entry.
class TORVTemporaryTableData : public TORVInProcessTableData {
 public:
  TORVTemporaryTableData(TORVDatabaseData* aDatabaseData, int32_t RecordsPerPage, int32_t AllocRecordsBy,
                         TORVMemoryManager& Memory = MemoryManager());
  ~TORVTemporaryTableData() override;

  void CreateRecordManager() override;
  // No fields: 10132, in design mode too. Temporary files are allowed unless the cursor
  // disables them.
  void CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                   TORVConstraintDefs& ConstraintDefs) override;
  // Also starts a new BLOB stream, so that the emptied table takes BLOB values again.
  void EmptyTable(TORVCursor* Cursor) override;
  int64_t GetBitmapRecordCount(int32_t SessionID) override;
  int64_t GetBitmapRecNoByRecordID(const TORVPageItemID& RecordID) override;
  TORVPageItemID GetRecordIDByBitmapRecNo(int64_t RecordNo) override;
  bool EveryBitmapRecNoHoldsARecord() override { return true; }
  void WriteBLOBFieldToRecordBuffer(TORVCursor* Cursor, int32_t FieldNo, TORVStream* BLOBStream) override;
  TORVStream* InternalCreateBlobStream(TORVCursor* Cursor, bool ToInsert, int32_t FieldNo,
                                       TORVBLOBOpenMode OpenMode) override;
  void GetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                         TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;
  void SetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                         TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;
  void FreeDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                          TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;
  bool InsertRecord(TORVCursor* Cursor) override;
  bool DeleteRecord(TORVCursor*) override { return false; }
  bool UpdateRecord(TORVCursor*) override { return false; }
  void InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) override;
  int64_t InternalGetRecNo(TORVCursor* Cursor) override;
  int64_t InternalGetRecordCount(TORVCursor* Cursor) override;

  TORVTemporaryRecordManager& Records() const;
  TORVTemporaryPageManager* Pages() const { return FTemporaryPageManager.get(); }
  TORVStream* BLOBFile() const { return FBLOBFile.get(); }

 private:
  void CreateBLOBFile();
  void DeleteBLOBFile();
  int64_t BLOBOffsetOf(const void* RecordBuffer, int32_t FieldNo) const;
  void SetBLOBOffset(void* RecordBuffer, int32_t FieldNo, int64_t Offset) const;

  TORVMemoryManager& FMemory;
  std::unique_ptr<TORVStream> FBLOBFile;
  int32_t FRecordsPerPage;
  int32_t FAllocRecordsBy;
  std::unique_ptr<TORVTemporaryPageManager> FTemporaryPageManager;
};

// ---- Database ------------------------------------------------------------------------------

class TORVTemporaryDatabaseData : public TORVDatabaseData {
 public:
  explicit TORVTemporaryDatabaseData(TORVMemoryManager& Memory = MemoryManager());
  ~TORVTemporaryDatabaseData() override;

  TORVTableData* CreateTableData(TORVCursor* Cursor) override;
  int32_t GetNewObjectId() override;

 private:
  TORVMemoryManager& FMemory;
  int32_t FLastObjectID = 0;
};

}  // namespace orv
