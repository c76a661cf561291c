#pragma once
// Record pages of a disk table and the table's record manager.
//
// A record page (page type 10, its header's ObjectID the table's id) holds fixed-size slots of
// disk record images behind a bitmap of the used slots:
//
//   offset 0                      B = ceil(MaxRecordsOnPage / 8) bytes, bit i set = slot i used
//   offset B + i * S              slot i (S = the disk record size)
//
// A record is addressed by (page number, slot); updates never move it. The record page index
// (a B-tree over the table's record pages) keeps each page's record count, finds pages with a
// free slot and maps record numbers to pages. Physical order is pages ascending, then slots.
#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/orv_btree_page_index.h"
#include "dbengine/storage/orv_page.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVDiskPageManager;
class TORVDiskTableData;

// A view over one record page held in the page cache, for one operation.
class TORVSmallRecordPage {
 public:
  // The bitmap and the slots beyond the page's data: 20140.
  TORVSmallRecordPage(TORVPage* Page, int32_t RecordBufferSize, int32_t MaxRecordsOnPage);
  // A read-only view over a copy of page PageNo's data (DataSize bytes); the changing calls
  // raise 30565 on it.
  TORVSmallRecordPage(const uint8_t* Data, int32_t DataSize, int32_t PageNo, int32_t RecordBufferSize,
                      int32_t MaxRecordsOnPage);

  bool FindUnusedRecordSlot(int32_t& SlotNo) const;
  int64_t GetRecordCount() const;
  bool IsSlotUsed(int32_t SlotNo) const;
  // Into the lowest free slot (none: 20141); the page is marked dirty.
  void AddRecord(const void* RecordBuffer, TORVPageItemID& RecordID);
  // False, with nothing changed, for a free slot.
  bool UpdateRecord(const void* RecordBuffer, const TORVPageItemID& RecordID);
  bool DeleteRecord(const TORVPageItemID& RecordID);
  bool GetRecordBuffer(const TORVPageItemID& RecordID, void* RecordBuffer) const;
  // The stored image of a used slot; a free slot: nullptr.
  const uint8_t* RecordData(const TORVPageItemID& RecordID) const;
  // The lowest / highest used slot (the page number is set first); none: 20143 / 20144.
  void GetFirstRecordID(TORVPageItemID& RecordID) const;
  void GetLastRecordID(TORVPageItemID& RecordID) const;
  // The next used slot above / below RecordID's; False (RecordID unchanged) when none.
  bool GetNextRecordID(TORVPageItemID& RecordID) const;
  bool GetPriorRecordID(TORVPageItemID& RecordID) const;
  // The slot of the RecNoOnPage-th used slot (0-based); fewer records: 20146.
  void GetRecordID(int32_t RecNoOnPage, TORVPageItemID& RecordID) const;
  // Used slots below RecordID's slot.
  void GetRecNoOnPage(const TORVPageItemID& RecordID, int32_t& RecNoOnPage) const;

  int32_t RecordDataOffset() const { return FRecordDataOffset; }

 private:
  uint8_t* Slot(int32_t SlotNo) const;
  bool ValidSlot(int32_t SlotNo) const { return SlotNo >= 0 && SlotNo < FMaxRecordsOnPage; }

  // The page's data; a page without a buffer: 30565.
  uint8_t* Data() const;
  // The page to mark dirty after a change; a view over a copy: 30565.
  TORVPage& WritablePage() const;
  int32_t PageNo() const { return LPage ? LPage->FPageNo : FPageNo; }
  TORVPage* LPage;
  uint8_t* FCopy = nullptr;
  int32_t FPageNo = -1;
  int32_t FRecordBufferSize;
  int32_t FMaxRecordsOnPage;
  int32_t FRecordDataOffset;
};

class TORVDiskRecordManager : public TORVBaseRecordManager {
 public:
  TORVDiskRecordManager(TORVDiskPageManager* PageManager, TORVDiskTableData* TableData,
                        TORVBaseFieldManager* FieldManager);
  ~TORVDiskRecordManager() override;

  // Records per page from the disk record size (not even one fits: 20174); counts reset.
  void Init(int32_t RecordBufferSize, int32_t DiskRecordBufferSize);
  // An empty record page index in the system session.
  void CreateRecordPageIndex();
  void LoadMetadata(platform::TStream& Stream);
  void SaveMetadata(platform::TStream& Stream) const;
  // TableState (Int32) and the record count (its low 32 bits) at Buf + Offset; Offset moves on
  // by 8. Beyond Buf: 20164.
  void LoadMostUpdated(const uint8_t* Buf, int32_t Size, int32_t& Offset);
  void SaveMostUpdated(uint8_t* Buf, int32_t Size, int32_t& Offset) const;
  // Every record page goes; the index is emptied (its root stays); counters 0.
  void Empty(int32_t SessionID) override;
  // Empty, then the index with its root.
  void Delete(int32_t SessionID);
  // A record that cannot be stored is refused (False) with every step taken undone: no slot,
  // no count, no new page and no index entry is left behind.
  bool AddRecord(int32_t SessionID, const void* RecordBuffer, TORVPageItemID& RecordID) override;
  bool UpdateRecord(int32_t SessionID, const void* RecordBuffer, const TORVPageItemID& RecordID) override;
  bool DeleteRecord(int32_t SessionID, TORVPageItemID& RecordID) override;
  void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) override;
  int32_t CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) override;
  // RecordCount div 2 for every record (a fixed estimate).
  int64_t GetApproximateRecNo(int32_t SessionID, const TORVPageItemID& RecordID) override;
  // Whether RecordID names a used slot of one of this table's record pages.
  bool RecordExists(int32_t SessionID, const TORVPageItemID& RecordID);

  void SetRecNo(int32_t SessionID, TORVPageItemID& RecordID, int64_t RecNo);
  void GetRecNo(int32_t SessionID, const TORVPageItemID& RecordID, int64_t& RecNo);
  // A new index from the pages of the file that are this table's record pages (repair); the
  // record count follows it.
  void RebuildRecordPageIndex(int32_t SessionID);
  // The index's sum of page counts against RecordCount (20292).
  void ValidateRecordPageIndex(int32_t SessionID);
  bool IsRecordPageValid(const TORVPage& Page) const;

  int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }
  int32_t DiskRecordBufferSize() const { return FDiskRecordBufferSize; }
  TORVBTreeRecordPageIndex& RecordPageIndex() const { return *FRecordPageIndex; }
  // Whether the record has BLOB fields (known from Init on).
  bool HasBlobFields() const { return FHasBlobFields; }

 private:
  struct HeldRecordPage;
  // The record page a sequential read is on, held once: the following records of the page are
  // read from it instead of asking the page cache for every record. It is a page of the scan
  // run or a copy of the cached page, as its session saw it, and is good while nothing could
  // have changed that view: the same session, no record change and no reload that moved the
  // counters (FChanges), and no pages applied, cancelled, added, removed or refreshed from the
  // store (the page manager's change generation). In multi-user mode a read reloads the
  // counters under its lock first, so another process's committed change retires it like a
  // change of ours.
  struct Stamps {
    int32_t SessionID = -1;
    uint64_t Changes = 0;
    uint64_t PagesGeneration = 0;
  };
  struct ScanPage {
    int32_t PageNo = -1;
    Stamps Seen;
    const uint8_t* Data = nullptr;  // Own's bytes or a page of the run
    std::vector<uint8_t> Own;
  };
  // A forward scan's next record pages, read past the page cache: the listed pages lying close
  // together in the file come with one read (Bytes is kept for the next run, so a scan does
  // not allocate per page), and the list says which page comes next. Good under the same
  // stamps as the scan page.
  struct ScanRun {
    std::vector<int32_t> PageNos;
    std::vector<uint8_t> Bytes;
    size_t Next = 0;  // the list's entry after the page the scan is on
    Stamps Seen;
  };
  Stamps CurrentStamps(int32_t SessionID) const;
  bool StampsHold(const Stamps& Seen, int32_t SessionID) const;
  bool HasScanPage(int32_t SessionID, int32_t PageNo) const;
  TORVSmallRecordPage ScanView() const;
  // Copies a valid record page as the scan page.
  void KeepScanPage(int32_t SessionID, const TORVPage& Page);
  void FillBuffer(TORVNavigationInfo& NavigationInfo, const TORVSmallRecordPage& View, const TORVPageItemID& RecordID,
                  int32_t NotFoundCode);
  bool FirstOnPage(int32_t SessionID, int32_t PageNo, bool Last, bool CheckType, TORVNavigationInfo& NavigationInfo);
  // The first record of the page after (Forward) or the last of the page before PageNo.
  void NextPage(int32_t SessionID, int32_t PageNo, bool Forward, TORVNavigationInfo& NavigationInfo);
  // A new run from record page PageNo on; False when PageNo itself cannot be read that way (its
  // ordinary read then reports what is wrong). A listed page that is not a valid record page
  // of this table ends the run before it.
  bool LoadRun(int32_t SessionID, int32_t PageNo);
  // The first record of the run's page No, which becomes the scan page.
  void FirstOnRunPage(size_t No, TORVNavigationInfo& NavigationInfo);
  const uint8_t* RunPage(size_t No) const;
  // The first record of record page PageNo, from a new run when it can be read so.
  void FirstForward(int32_t SessionID, int32_t PageNo, TORVNavigationInfo& NavigationInfo);
  bool IsRecordPageHeaderValid(const uint8_t* Header) const;
  int32_t TableID() const;
  // Page 0 and the free-space maps never hold records (asking the cache for a map page raises).
  bool CanBeRecordPage(int32_t PageNo) const;

  std::unique_ptr<TORVBTreeRecordPageIndex> FRecordPageIndex;
  TORVDiskPageManager* LPageManager;
  TORVBaseFieldManager* LFieldManager;
  int32_t FMaxRecordsOnPage = 0;
  int32_t FDiskRecordBufferSize = 0;
  void* FTempDiskRecordBuffer = nullptr;
  TORVDiskTableData* LTableData;
  // Moves on with every record change, every reset of the counters and every reload that
  // changed them.
  uint64_t FChanges = 0;
  ScanPage FScanPage;
  ScanRun FRun;
  // The record's layout as Init found it (the page geometry is fixed by it too): what a disk
  // image becomes in memory, worked out once instead of for every record read.
  struct FieldCopy {
    int32_t DiskOffset;
    int32_t MemoryOffset;
    int32_t Size;
  };
  std::vector<FieldCopy> FFieldCopies;  // the null flags first
  std::vector<FieldCopy> FMemoryGaps;   // the memory form's bytes no copy fills (DiskOffset unused)
  int32_t FNullFlagsSize = 0;
  int32_t FMemoryRecordSize = 0;
  bool FHasBlobFields = false;
  bool FLayoutKnown = false;
};

}  // namespace orv
