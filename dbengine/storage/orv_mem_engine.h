#pragma once
// The memory engine: tables kept wholly in the process's memory. The process-wide database
// "MEMORY" holds them; each table keeps its records in one growing array of fixed-size slots
// with a map of deleted slots, its index pages in a page store of its own, and its BLOB values
// in separate blocks. Nothing is written to a file; the data go with the process.
//
// Memory tables are not transactional: every change is applied at once, inside a transaction
// too, so a commit has nothing left to do and a rollback keeps what was done.
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_page.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

// ---- Records ----------------------------------------------------------------------------------

// Record ids: PageNo = the slot, PageItemNo = 0. Slot s lives at s * record size; bit s of the
// deletion map is set when the slot holds no record. Slots are handed out after the last
// record, so slots freed at the end are used again and those freed in the middle are not.
class TORVMemoryRecordManager : public TORVBaseRecordManager {
 public:
  // RecordBufferSize 0 outside design mode: 10011.
  TORVMemoryRecordManager(int32_t RecordBufferSize, int32_t AllocRecordsBy, TORVMemoryManager& Memory = MemoryManager());
  ~TORVMemoryRecordManager() override;

  void Empty(int32_t SessionID) override;
  bool AddRecord(int32_t SessionID, const void* RecordBuffer, TORVPageItemID& RecordID) override;
  // A slot outside first..last or one that holds no record: False.
  bool UpdateRecord(int32_t SessionID, const void* RecordBuffer, const TORVPageItemID& RecordID) override;
  // Deleting the last record moves RecordID to the new last slot.
  bool DeleteRecord(int32_t SessionID, TORVPageItemID& RecordID) override;
  void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) override;
  int32_t CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) override;
  // 1 for the first slot up to the record count for the last, spread evenly between; -1 for
  // a slot outside first..last.
  int64_t GetApproximateRecNo(int32_t SessionID, const TORVPageItemID& RecordID) override;

  // The 1-based position of the record in slot Slot among the records (of the nearest one
  // before it when the slot is empty); -1 beyond the allocated slots.
  int64_t GetTablePositionByRecordID(int32_t Slot) const;
  // The slot of the record of 0-based rank Rank; -1 outside 0 .. count - 1.
  int32_t FindRecord(int64_t Rank) const;

  bool IsDeleted(int32_t Slot) const;
  // The stored bytes of a slot that holds a record; nil otherwise.
  const uint8_t* SlotData(int32_t Slot) const;
  int32_t FirstRecordID() const { return FFirstRecordID; }
  int32_t LastRecordID() const { return FLastRecordID; }
  int32_t AllocatedRecordCount() const { return FAllocatedRecordCount; }
  bool NoRecordsDeleted() const { return FNoRecordsDeleted; }

 private:
  bool Grow();

  TORVMemoryManager& FMemory;
  uint8_t* FRecordBuffer = nullptr;
  uint8_t* FDeleteFlagBuffer = nullptr;
  int32_t FAllocatedRecordCount = 0;
  int64_t FCapacity = 0;  // slots the memory holds, at least FAllocatedRecordCount
  int32_t FAllocRecordsBy;
  int32_t FFirstRecordID = 0;
  int32_t FLastRecordID = 0;
  uint8_t FBitsTable[256];  // clear bits per byte value: the records a byte of the map stands for
  bool FNoRecordsDeleted = true;
};

// ---- Pages ---------------------------------------------------------------------------------

// Pages of 4096 bytes without header, kept until the store goes. A page works directly on the
// stored buffer; a removed page's buffer waits for the next page added.
class TORVMemoryPageManager : public TORVPageManager {
 public:
  explicit TORVMemoryPageManager(TORVMemoryManager& Memory = MemoryManager());
  ~TORVMemoryPageManager() override;

  // Stream form, little-endian: AllocatedPageCount, LastAllocatedPageNo, AllocateBy (Int32
  // each), PageSize, PageHeaderSize (UInt16), PageCount (Int32), the page map, then every
  // allocated page buffer in page order. A short write raises 10362..10368, a short or
  // inconsistent read 10369..10375 (the store is left empty).
  void SaveToStream(platform::TStream& Stream) override;
  void LoadFromStream(platform::TStream& Stream) override;
  // The lowest free number, else the next one never used.
  void InternalAddPage(TORVPage& Page) override;
  void InternalRemovePage(int32_t PageNo) override;
  // A page not in use: 10392 / 10393.
  bool InternalReadPage(TORVPage& Page) override;
  void InternalWritePage(TORVPage& Page) override;

  bool IsPageAllocated(int32_t PageNo) const;
  int32_t AllocatedPageCount() const { return FAllocatedPageCount; }
  int32_t LastAllocatedPageNo() const { return FLastAllocatedPageNo; }
  const TORVBitsArray& AllocatedPageMap() const { return FAllocatedPageMap; }
  // The stored buffer of a page number below the buffers made so far; nil otherwise.
  const uint8_t* PageBuffer(int32_t PageNo) const;

 private:
  void FreeBuffers();
  void GrowBuffers(int32_t Count);

  TORVBitsArray FAllocatedPageMap;
  int32_t FAllocatedPageCount = 0;
  int32_t FAllocateBy = 50;
  int32_t FLastAllocatedPageNo = -1;
  std::vector<uint8_t*> FDataPtrs;
};

// ---- Tables --------------------------------------------------------------------------------

// What the two kinds that keep their tables in this process (memory and temporary) share: base
// field and index managers, the indexes in a page manager of the table's own, changes applied
// at once (these tables are not transactional, so nothing waits for a commit), and a table
// object that frees itself when its table is deleted.
class TORVInProcessTableData : public TORVTableData {
 public:
  using TORVTableData::TORVTableData;

  void CreateFieldManager(TORVFieldDefs& FieldDefs) override;
  void CreateIndexManager(TORVIndexDefs& IndexDefs) override;
  // Applied at once, also inside a transaction.
  void ApplyChanges(int32_t SessionID, bool InTransaction) override;
  // Frees this object (unless DesignMode and cursors remain): nothing may use it afterwards.
  void DeleteTable(TORVCursor* Cursor, bool DesignMode) override;
  void OpenTable(TORVCursor* Cursor) override;
  // Whatever the build did is applied, the pages of a refused build given back included.
  void AddIndex(TORVIndexDef& IndexDef, TORVCursor* Cursor) override;
  void DeleteIndex(int32_t IndexID, TORVCursor* Cursor) override;

 protected:
  // The four managers from the definitions, in this order, and the cursor set up for them.
  void CreateManagers(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                      TORVConstraintDefs& ConstraintDefs);
  // Builds the indexes of the definitions and applies what the build did, also when it fails.
  void BuildIndexes(TORVCursor* Cursor);
  // For the destructors: the indexes go, then everything is let go of the page manager they
  // lived in, which the kind frees next.
  void ReleaseIndexes() noexcept;
};

// A BLOB field of a memory record holds the 64-bit id of a block of this table (0 and the null
// flag set when there is none). Block layout: NumBlocks Int32, UncompressedSize Int64, then the
// compressed BLOB's blocks. A block stays while a stored record refers to it; one written into
// a record buffer but not yet stored belongs to the cursor that wrote it until the record is
// stored, or is freed when the cursor cancels, writes the field again, closes the table or
// stores something else. A record buffer can therefore never point at freed memory: an id
// that is gone raises instead.
class TORVMemoryTableData : public TORVInProcessTableData {
 public:
  TORVMemoryTableData(TORVDatabaseData* aDatabaseData, int32_t AllocRecordsBy,
                      TORVMemoryManager& Memory = MemoryManager());
  ~TORVMemoryTableData() override;

  void CreateRecordManager() override;
  // A foreign key or an unknown constraint type: 30040.
  void CreateConstraintManager(TORVConstraintDefs& ConstraintDefs) override;
  // No fields: 10025.
  void CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                   TORVConstraintDefs& ConstraintDefs) override;
  void EmptyTable(TORVCursor* Cursor) override;
  void CloseTable(TORVCursor* Cursor) override;
  // The last slot + 1: every record id maps below it, deleted slots in the middle included.
  int64_t GetBitmapRecordCount(int32_t SessionID) override;
  int64_t GetBitmapRecNoByRecordID(const TORVPageItemID& RecordID) override { return RecordID.PageNo; }
  TORVPageItemID GetRecordIDByBitmapRecNo(int64_t RecordNo) override {
    return {static_cast<int32_t>(RecordNo), 0};
  }
  bool EveryBitmapRecNoHoldsARecord() override;
  void WriteBLOBFieldToRecordBuffer(TORVCursor* Cursor, int32_t FieldNo, TORVStream* BLOBStream) override;
  // Lets go of the buffer's block: freed when no stored record refers to it.
  void ClearBLOBFieldInRecordBuffer(void* RecordBuffer, int32_t FieldNo) override;
  // A TORVLocalBLOBStream; block size 0: 10420; a block that is gone: 10112.
  TORVStream* InternalCreateBlobStream(TORVCursor* Cursor, bool ToInsert, int32_t FieldNo,
                                       TORVBLOBOpenMode OpenMode) override;
  void GetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                         TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;
  void SetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                         TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;
  void FreeDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                          TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) override;
  bool InsertRecord(TORVCursor* Cursor) override;
  bool DeleteRecord(TORVCursor* Cursor) override;
  bool UpdateRecord(TORVCursor* Cursor) override;
  void InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) override;
  int64_t InternalGetRecNo(TORVCursor* Cursor) override;
  int64_t InternalGetRecordCount(TORVCursor* Cursor) override;
  int64_t LastAutoincValue(int32_t FieldNo, TORVBaseSession* Session) override;
  void ReleaseUnstoredBLOBs(TORVCursor* Cursor) override;

  TORVMemoryRecordManager& Records() const;
  TORVMemoryPageManager& Pages() const { return *FMemoryPageManager; }
  // The block of a BLOB field of a record buffer (its bytes as laid out above); none: empty.
  std::vector<uint8_t> BLOBBlockBytes(const void* RecordBuffer, int32_t FieldNo);
  int64_t BLOBBlockCount() const { return static_cast<int64_t>(FBLOBBlocks.size()); }

 private:
  struct BLOBBlock {
    uint8_t* Data = nullptr;
    int64_t Size = 0;
    int32_t StoredRefs = 0;        // stored records that refer to it
    TORVCursor* Owner = nullptr;  // the cursor that wrote it, while no stored record does
  };

  uint64_t BLOBIdOf(const void* RecordBuffer, int32_t FieldNo) const;
  void SetBLOBId(void* RecordBuffer, int32_t FieldNo, uint64_t Id) const;
  std::vector<uint64_t> BLOBIdsOf(const void* RecordBuffer) const;
  BLOBBlock& FindBLOBBlock(uint64_t Id, int32_t Code);
  uint64_t AddBLOBBlock(uint8_t* Data, int64_t Size, TORVCursor* Owner);
  void FreeBLOBBlock(uint64_t Id);
  // The buffer no longer refers to the block: an unstored one goes.
  void ReleaseBLOBReference(uint64_t Id);
  void FreeStoredBLOBBlocks();
  void FreeAllBLOBBlocks();
  // Raises 10112 for an id of the record that refers to no block.
  void CheckBLOBIds(const void* RecordBuffer);
  void AddStoredReferences(const std::vector<uint64_t>& Ids);
  void DropStoredReferences(const std::vector<uint64_t>& Ids);
  // Blocks of the cursor no stored record refers to, except those Keep refers to, go.
  void ReleaseUnstoredBLOBsExcept(TORVCursor* Cursor, const void* Keep);
  std::vector<uint64_t> StoredBLOBIds(const TORVPageItemID& RecordID) const;

  TORVMemoryManager& FMemory;
  int32_t FAllocRecordsBy;
  std::unique_ptr<TORVMemoryPageManager> FMemoryPageManager;
  std::unordered_map<uint64_t, BLOBBlock> FBLOBBlocks;
  uint64_t FLastBLOBID = 0;
};

// ---- Database ------------------------------------------------------------------------------

class TORVMemoryDatabaseData : public TORVDatabaseData {
 public:
  explicit TORVMemoryDatabaseData(TORVMemoryManager& Memory = MemoryManager());
  ~TORVMemoryDatabaseData() override;

  // Every session works on the memory tables as session 0.
  void ConnectSession(TORVBaseSession* Session) override;
  TORVTableData* CreateTableData(TORVCursor* Cursor) override;
  int32_t GetNewObjectId() override;

 private:
  TORVMemoryManager& FMemory;
  int32_t FLastObjectID = 0;
};

}  // namespace orv
