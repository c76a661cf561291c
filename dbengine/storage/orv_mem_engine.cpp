#include "dbengine/storage/orv_mem_engine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/storage/orv_base_engine_constraints.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_base_engine_indexes.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"

namespace orv {

namespace {

using Guard = TORVLockGuard<TORVTableData>;

constexpr int32_t kPageSize = 4096;
constexpr int64_t kBLOBHeaderSize = TORVPartialBLOBDescriptor::StoredSize;  // NumBlocks, UncompressedSize

int32_t SessionOf(const TORVCursor* Cursor) { return Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID; }

}  // namespace

// ==== Records =====================================================================================

TORVMemoryRecordManager::TORVMemoryRecordManager(int32_t RecordBufferSize, int32_t AllocRecordsBy,
                                                 TORVMemoryManager& Memory)
    : FMemory(Memory), FAllocRecordsBy(std::max(AllocRecordsBy, 1)) {
  if (RecordBufferSize == 0 && !IsDesignMode()) throw EORVException(10011, "Invalid record size = 0");
  FRecordBufferSize = RecordBufferSize;
  for (int b = 0; b < 256; ++b) FBitsTable[b] = static_cast<uint8_t>(8 - std::popcount(static_cast<unsigned>(b)));
}

TORVMemoryRecordManager::~TORVMemoryRecordManager() {
  try {
    Empty(SYSTEM_SESSION_ID);
  } catch (...) {
    // A destructor never raises; an overrun report has nowhere to go.
  }
}

void TORVMemoryRecordManager::Empty(int32_t) {
  FRecordCount = 0;
  FAllocatedRecordCount = 0;
  FCapacity = 0;
  FFirstRecordID = 0;
  FLastRecordID = 0;
  // Bitmaps and temporary indexes built over the old records must see that they are gone.
  ++FTableState;
  FMemory.FreeAndNillMem(FRecordBuffer);
  FMemory.FreeAndNillMem(FDeleteFlagBuffer);
}

bool TORVMemoryRecordManager::Grow() {
  const int64_t wanted = static_cast<int64_t>(FAllocatedRecordCount) + FAllocRecordsBy;
  if (wanted > std::numeric_limits<int32_t>::max() || FRecordBufferSize <= 0) return false;
  // The slots grow by AllocRecordsBy; the memory under them by half again of what it holds,
  // so that a million records are not copied a thousand times.
  if (wanted > FCapacity) {
    const int64_t capacity =
        std::min<int64_t>(std::max<int64_t>(wanted, FCapacity + FCapacity / 2), std::numeric_limits<int32_t>::max());
    const int64_t old_bytes = (FCapacity + 7) / 8;
    const int64_t new_bytes = (capacity + 7) / 8;
    FMemory.ReallocMem(FRecordBuffer, capacity * FRecordBufferSize);
    FMemory.ReallocMem(FDeleteFlagBuffer, new_bytes);
    // Slots not yet written hold no record: rank and select count only the slots written.
    std::memset(FDeleteFlagBuffer + old_bytes, 0xFF, static_cast<size_t>(new_bytes - old_bytes));
    FCapacity = capacity;
  }
  FAllocatedRecordCount = static_cast<int32_t>(wanted);
  return true;
}

bool TORVMemoryRecordManager::IsDeleted(int32_t Slot) const {
  if (Slot < 0 || Slot >= FAllocatedRecordCount) return true;
  return (FDeleteFlagBuffer[Slot >> 3] >> (Slot & 7)) & 1;
}

const uint8_t* TORVMemoryRecordManager::SlotData(int32_t Slot) const {
  if (FRecordCount == 0 || Slot < FFirstRecordID || Slot > FLastRecordID || IsDeleted(Slot)) return nullptr;
  return FRecordBuffer + static_cast<int64_t>(Slot) * FRecordBufferSize;
}

bool TORVMemoryRecordManager::AddRecord(int32_t, const void* RecordBuffer, TORVPageItemID& RecordID) {
  try {
    if (FRecordCount > 0 && FLastRecordID == std::numeric_limits<int32_t>::max()) return false;
    const int32_t slot = FRecordCount > 0 ? FLastRecordID + 1 : 0;
    if (slot >= FAllocatedRecordCount && !Grow()) return false;
    std::memcpy(FRecordBuffer + static_cast<int64_t>(slot) * FRecordBufferSize, RecordBuffer,
                static_cast<size_t>(FRecordBufferSize));
    FDeleteFlagBuffer[slot >> 3] &= static_cast<uint8_t>(~(1u << (slot & 7)));
    ++FRecordCount;
    FFirstRecordID = std::min(FFirstRecordID, slot);
    FLastRecordID = std::max(FLastRecordID, slot);
    ++FTableState;
    RecordID = {slot, 0};
    return true;
  } catch (...) {
    return false;
  }
}

bool TORVMemoryRecordManager::UpdateRecord(int32_t, const void* RecordBuffer, const TORVPageItemID& RecordID) {
  // A deleted slot between the first and the last record holds nothing to update: writing it
  // would bring back a record that its indexes no longer know.
  const int32_t slot = RecordID.PageNo;
  if (FRecordCount == 0 || slot < FFirstRecordID || slot > FLastRecordID || IsDeleted(slot)) return false;
  std::memcpy(FRecordBuffer + static_cast<int64_t>(slot) * FRecordBufferSize, RecordBuffer,
              static_cast<size_t>(FRecordBufferSize));
  ++FTableState;
  return true;
}

bool TORVMemoryRecordManager::DeleteRecord(int32_t, TORVPageItemID& RecordID) {
  RecordID.PageItemNo = 0;
  const int32_t slot = RecordID.PageNo;
  if (FRecordCount == 0 || slot < FFirstRecordID || slot > FLastRecordID || IsDeleted(slot)) return false;
  FDeleteFlagBuffer[slot >> 3] |= static_cast<uint8_t>(1u << (slot & 7));
  --FRecordCount;
  if (FRecordCount > 0) {
    if (slot == FFirstRecordID)
      while (IsDeleted(FFirstRecordID)) ++FFirstRecordID;
    if (slot == FLastRecordID) {
      while (IsDeleted(FLastRecordID)) --FLastRecordID;
      RecordID.PageNo = FLastRecordID;
    }
  } else {
    FFirstRecordID = 0;
    FLastRecordID = 0;
  }
  FNoRecordsDeleted = false;
  ++FTableState;
  return true;
}

void TORVMemoryRecordManager::GetRecordBuffer(int32_t, TORVNavigationInfo& NavigationInfo) {
  TORVNavigationInfo& nav = NavigationInfo;
  if (FRecordCount == 0) {
    nav.GetRecordResult = grrEOF;
    return;
  }
  int32_t slot = -1;
  if (nav.FirstPosition) {
    if (nav.GetRecordMode != grmNext) {
      nav.GetRecordResult = nav.GetRecordMode == grmPrior ? grrBOF : grrError;
      return;
    }
    slot = FFirstRecordID;
  } else if (nav.LastPosition) {
    if (nav.GetRecordMode != grmPrior) {
      nav.GetRecordResult = nav.GetRecordMode == grmNext ? grrEOF : grrError;
      return;
    }
    slot = FLastRecordID;
  } else {
    const int32_t from = nav.RecordID.PageNo;
    switch (nav.GetRecordMode) {
      case grmCurrent:
        if (from < FFirstRecordID || from > FLastRecordID || IsDeleted(from)) {
          nav.GetRecordResult = grrError;
          return;
        }
        slot = from;
        break;
      case grmNext: {
        if (from >= FLastRecordID) {
          nav.GetRecordResult = grrEOF;
          return;
        }
        slot = std::max(from + 1, FFirstRecordID);
        while (slot <= FLastRecordID && IsDeleted(slot)) ++slot;
        if (slot > FLastRecordID) {
          nav.GetRecordResult = grrEOF;
          return;
        }
        break;
      }
      case grmPrior: {
        if (from <= FFirstRecordID) {
          nav.GetRecordResult = grrBOF;
          return;
        }
        slot = std::min(from - 1, FLastRecordID);
        while (slot >= FFirstRecordID && IsDeleted(slot)) --slot;
        if (slot < FFirstRecordID) {
          nav.GetRecordResult = grrBOF;
          return;
        }
        break;
      }
    }
  }
  if (!nav.RecordBuffer) throw EORVException(10019, "Error retrieving record");
  std::memcpy(nav.RecordBuffer, FRecordBuffer + static_cast<int64_t>(slot) * FRecordBufferSize,
              static_cast<size_t>(FRecordBufferSize));
  nav.RecordID = {slot, 0};
  nav.FirstPosition = false;
  nav.LastPosition = false;
  nav.GetRecordResult = grrOK;
}

int32_t TORVMemoryRecordManager::CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) {
  if (RecordID1.PageNo == RecordID2.PageNo) return 0;
  return RecordID1.PageNo > RecordID2.PageNo ? 1 : -1;
}

int64_t TORVMemoryRecordManager::GetApproximateRecNo(int32_t, const TORVPageItemID& RecordID) {
  const int32_t slot = RecordID.PageNo;
  if (FRecordCount == 0 || slot < FFirstRecordID || slot > FLastRecordID) return -1;
  if (FRecordCount == 1 || FLastRecordID == FFirstRecordID) return 1;
  // How far the slot lies between the first and the last record, as a share of the records.
  const double share = static_cast<double>(slot - FFirstRecordID) / static_cast<double>(FLastRecordID - FFirstRecordID);
  const auto position = static_cast<int64_t>(std::nearbyint(share * static_cast<double>(FRecordCount))) + 1;
  return std::clamp<int64_t>(position, 1, FRecordCount);
}

int64_t TORVMemoryRecordManager::GetTablePositionByRecordID(int32_t Slot) const {
  if (Slot < 0 || Slot >= FAllocatedRecordCount) return -1;
  if (FNoRecordsDeleted) return static_cast<int64_t>(Slot) + 1;
  int64_t position = 0;
  const int32_t byte = Slot >> 3;
  for (int32_t i = 0; i < byte; ++i) position += FBitsTable[FDeleteFlagBuffer[i]];
  for (int32_t bit = 0; bit <= (Slot & 7); ++bit)
    if (!((FDeleteFlagBuffer[byte] >> bit) & 1)) ++position;
  return position;
}

int32_t TORVMemoryRecordManager::FindRecord(int64_t Rank) const {
  if (Rank < 0 || Rank >= FRecordCount) return -1;
  if (FNoRecordsDeleted) return static_cast<int32_t>(Rank);
  const int32_t bytes = (FAllocatedRecordCount + 7) / 8;
  int64_t before = 0;  // records in the whole bytes passed
  for (int32_t i = 0; i < bytes; ++i) {
    const uint8_t flags = FDeleteFlagBuffer[i];
    if (before + FBitsTable[flags] <= Rank) {
      before += FBitsTable[flags];
      continue;
    }
    for (int32_t bit = 0; bit < 8; ++bit) {
      if ((flags >> bit) & 1) continue;
      if (before == Rank) return i * 8 + bit;
      ++before;
    }
  }
  return -1;
}

// ==== Pages =======================================================================================

TORVMemoryPageManager::TORVMemoryPageManager(TORVMemoryManager& Memory) : TORVPageManager(Memory) {
  SetPageGeometry(kPageSize, 0);
  FPageCount = 0;
}

TORVMemoryPageManager::~TORVMemoryPageManager() {
  // Cached pages borrow the stored buffers: they go first.
  try {
    Close();
  } catch (...) {
    // Pages a session never applied are dropped with the store.
  }
  FreeBuffers();
}

void TORVMemoryPageManager::FreeBuffers() {
  for (uint8_t*& p : FDataPtrs) FMemory.FreeMem(p);
  FDataPtrs.clear();
}

void TORVMemoryPageManager::GrowBuffers(int32_t Count) {
  // The array grows by fifty entries at a time; each buffer is made when its number is first
  // handed out, so that a store holding a few pages does not take memory for fifty.
  FDataPtrs.resize(static_cast<size_t>(Count), nullptr);
}

bool TORVMemoryPageManager::IsPageAllocated(int32_t PageNo) const {
  return PageNo >= 0 && PageNo < FAllocatedPageMap.BitCount() && FAllocatedPageMap.GetBit(PageNo);
}

const uint8_t* TORVMemoryPageManager::PageBuffer(int32_t PageNo) const {
  if (PageNo < 0 || PageNo >= static_cast<int32_t>(FDataPtrs.size())) return nullptr;
  return FDataPtrs[static_cast<size_t>(PageNo)];
}

void TORVMemoryPageManager::InternalAddPage(TORVPage& Page) {
  int32_t no = -1;
  if (!FAllocatedPageMap.FindBit(false, no)) {
    no = FLastAllocatedPageNo + 1;
    if (no >= FAllocatedPageCount) {
      FAllocatedPageCount += FAllocateBy;
      FAllocatedPageMap.SetSize(FAllocatedPageCount);
    }
  }
  if (FAllocatedPageMap.GetBit(no)) throw EORVException(20037, "Page allocation not released");
  if (no >= static_cast<int32_t>(FDataPtrs.size()))
    GrowBuffers(std::max<int32_t>(no + 1, static_cast<int32_t>(FDataPtrs.size()) + FAllocateBy));
  uint8_t*& buffer = FDataPtrs[static_cast<size_t>(no)];
  if (!buffer) {
    buffer = static_cast<uint8_t*>(FMemory.AllocMem(kPageSize));
  } else {
    // A number given out again starts clean, as a new one does.
    std::memset(buffer, 0, kPageSize);
  }
  FAllocatedPageMap.SetBit(no, true);
  ++FPageCount;
  FLastAllocatedPageNo = std::max(FLastAllocatedPageNo, no);
  Page.FPageNo = no;
  Page.SetBorrowedBuffer(buffer, kPageSize);
}

void TORVMemoryPageManager::InternalRemovePage(int32_t PageNo) {
  if (!IsPageAllocated(PageNo)) return;
  FAllocatedPageMap.SetBit(PageNo, false);
  --FPageCount;
}

bool TORVMemoryPageManager::InternalReadPage(TORVPage& Page) {
  if (!IsPageAllocated(Page.FPageNo)) throw EORVException(10392, "Page allocation not released");
  Page.SetBorrowedBuffer(FDataPtrs[static_cast<size_t>(Page.FPageNo)], kPageSize);
  return true;
}

void TORVMemoryPageManager::InternalWritePage(TORVPage& Page) {
  if (!IsPageAllocated(Page.FPageNo)) throw EORVException(10393, "Page allocation not released");
  uint8_t* stored = FDataPtrs[static_cast<size_t>(Page.FPageNo)];
  // A page on the stored buffer is written already; a private copy (an enlarged page) is not.
  if (Page.FOwnBuffer && Page.FPageBuffer && Page.FPageBuffer != stored) std::memcpy(stored, Page.FPageBuffer, kPageSize);
}

void TORVMemoryPageManager::SaveToStream(platform::TStream& Stream) {
  SaveInt32ToStream(FAllocatedPageCount, Stream, 10362);
  SaveInt32ToStream(FLastAllocatedPageNo, Stream, 10363);
  SaveInt32ToStream(FAllocateBy, Stream, 10364);
  SaveUInt16ToStream(FPageSize, Stream, 10365);
  SaveUInt16ToStream(FPageHeaderSize, Stream, 10366);
  SaveInt32ToStream(FPageCount, Stream, 10367);
  FAllocatedPageMap.SaveToStream(Stream);
  static const uint8_t zeros[kPageSize] = {};
  for (int32_t i = 0; i < FAllocatedPageCount; ++i) {
    const uint8_t* p = PageBuffer(i);
    SaveDataToStream(p ? p : zeros, kPageSize, Stream, 10368);
  }
}

void TORVMemoryPageManager::LoadFromStream(platform::TStream& Stream) {
  // Cached pages borrow the buffers about to be replaced.
  Close();
  const int32_t allocated = LoadInt32FromStream(Stream, 10369);
  const int32_t last = LoadInt32FromStream(Stream, 10370);
  const int32_t allocate_by = LoadInt32FromStream(Stream, 10371);
  const uint16_t page_size = LoadUInt16FromStream(Stream, 10372);
  const uint16_t header_size = LoadUInt16FromStream(Stream, 10373);
  const int32_t page_count = LoadInt32FromStream(Stream, 10374);
  const int64_t map_at = Stream.GetPosition();
  int32_t map_bits = -1;
  if (Stream.GetSize() - map_at >= 4) {
    map_bits = LoadInt32FromStream(Stream, 10375);
    Stream.Seek(map_at, soBeginning);
  }
  // Everything is checked before anything is allocated: a damaged stream must neither ask for
  // more memory than it could fill nor leave a store whose counts disagree with its pages.
  const int64_t needed = 8 + (static_cast<int64_t>(allocated) + 7) / 8 + static_cast<int64_t>(allocated) * kPageSize;
  if (allocated < 0 || last < -1 || last >= allocated || allocate_by <= 0 || page_size != kPageSize ||
      header_size != 0 || page_count < 0 || page_count > allocated || map_bits != allocated ||
      Stream.GetSize() - map_at < needed)
    throw EORVException(10375, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {map_at, Stream.GetSize(), needed, std::max<int64_t>(Stream.GetSize() - map_at, 0)});
  TORVBitsArray map;
  map.LoadFromStream(Stream);
  if (map.NonZeroBitCount() != page_count)
    throw EORVException(10375, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {map_at, Stream.GetSize(), needed, 0});
  std::vector<uint8_t*> buffers;
  try {
    buffers.reserve(static_cast<size_t>(allocated));
    for (int32_t i = 0; i < allocated; ++i) {
      buffers.push_back(static_cast<uint8_t*>(FMemory.AllocMem(kPageSize)));
      LoadDataFromStream(buffers.back(), kPageSize, Stream, 10375);
      // A number never handed out has no buffer, as before the save.
      if (i > last) FMemory.FreeAndNillMem(buffers.back());
    }
  } catch (...) {
    for (uint8_t*& p : buffers) FMemory.FreeMem(p);
    throw;
  }
  FreeBuffers();
  FDataPtrs = std::move(buffers);
  FAllocatedPageMap.SetSize(0);
  FAllocatedPageMap.SetSize(allocated);
  for (int32_t i = 0; i < allocated; ++i)
    if (map.GetBit(i)) FAllocatedPageMap.SetBit(i, true);
  FAllocatedPageCount = allocated;
  FLastAllocatedPageNo = last;
  FAllocateBy = allocate_by;
  FPageCount = page_count;
}

// ==== Tables kept in this process ================================================================

void TORVInProcessTableData::CreateFieldManager(TORVFieldDefs& FieldDefs) {
  FFieldManager = std::make_unique<TORVBaseFieldManager>(this);
  TORVTableData::CreateFieldManager(FieldDefs);
}

void TORVInProcessTableData::CreateIndexManager(TORVIndexDefs& IndexDefs) {
  FIndexManager = std::make_unique<TORVBaseIndexManager>(this, FPageManager);
  TORVTableData::CreateIndexManager(IndexDefs);
}

void TORVInProcessTableData::ApplyChanges(int32_t SessionID, bool) {
  if (FPageManager) FPageManager->ApplyChanges(SessionID);
}

void TORVInProcessTableData::DeleteTable(TORVCursor* Cursor, bool DesignMode) {
  TORVTableData::DeleteTable(Cursor, DesignMode);
  if (DesignMode && !FCursorList.empty()) return;
  FDatabaseData->DeleteTableData(this);
}

void TORVInProcessTableData::OpenTable(TORVCursor* Cursor) {
  if (Cursor) FTableName = Cursor->FTableName;
  TORVTableData::OpenTable(Cursor);
}

void TORVInProcessTableData::AddIndex(TORVIndexDef& IndexDef, TORVCursor* Cursor) {
  Guard guard(*this);
  try {
    TORVTableData::AddIndex(IndexDef, Cursor);
  } catch (...) {
    ApplyChanges(SessionOf(Cursor), false);
    throw;
  }
  ApplyChanges(SessionOf(Cursor), false);
}

void TORVInProcessTableData::DeleteIndex(int32_t IndexID, TORVCursor* Cursor) {
  Guard guard(*this);
  TORVTableData::DeleteIndex(IndexID, Cursor);
  ApplyChanges(SessionOf(Cursor), false);
}

void TORVInProcessTableData::CreateManagers(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                                            TORVConstraintDefs& ConstraintDefs) {
  if (Cursor) FTableName = Cursor->FTableName;
  CreateFieldManager(FieldDefs);
  CreateIndexManager(IndexDefs);
  CreateConstraintManager(ConstraintDefs);
  CreateRecordManager();
  if (Cursor) InitCursor(Cursor);
}

void TORVInProcessTableData::BuildIndexes(TORVCursor* Cursor) {
  try {
    FIndexManager->CreateIndexesByIndexDefs(Cursor);
  } catch (...) {
    ApplyChanges(SessionOf(Cursor), false);
    throw;
  }
  ApplyChanges(SessionOf(Cursor), false);
}

void TORVInProcessTableData::ReleaseIndexes() noexcept {
  try {
    DeleteAllIndexes(nullptr);
    ApplyChanges(SYSTEM_SESSION_ID, false);
  } catch (...) {
    // A destructor never raises; what is left goes with the page manager.
  }
  FIndexManager.reset();
  FPageManager = nullptr;
}

// ==== Memory tables ===============================================================================

TORVMemoryTableData::TORVMemoryTableData(TORVDatabaseData* aDatabaseData, int32_t AllocRecordsBy,
                                         TORVMemoryManager& Memory)
    : TORVInProcessTableData(aDatabaseData),
      FMemory(Memory),
      FAllocRecordsBy(AllocRecordsBy),
      FMemoryPageManager(std::make_unique<TORVMemoryPageManager>(Memory)) {
  FPageManager = FMemoryPageManager.get();
  FDisableTempFiles = true;
}

TORVMemoryTableData::~TORVMemoryTableData() {
  try {
    EmptyTable(nullptr);
  } catch (...) {
    // A destructor never raises; whatever is left goes with the store below.
  }
  ReleaseIndexes();
  FreeAllBLOBBlocks();
  FMemoryPageManager.reset();
}

TORVMemoryRecordManager& TORVMemoryTableData::Records() const {
  if (!FRecordManager) throw EORVException(10009, "Nil pointer occured");
  return static_cast<TORVMemoryRecordManager&>(*FRecordManager);
}

void TORVMemoryTableData::CreateRecordManager() {
  // The records of the store replaced take their BLOB blocks with them.
  FreeStoredBLOBBlocks();
  FRecordManager.reset();
  FRecordManager = std::make_unique<TORVMemoryRecordManager>(GetRecordBufferSize(), FAllocRecordsBy, FMemory);
}

void TORVMemoryTableData::CreateConstraintManager(TORVConstraintDefs& ConstraintDefs) {
  for (int32_t i = 0; i < ConstraintDefs.GetCount(); ++i) {
    const TORVConstraintType type = ConstraintDefs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EORVException(30040, "Not implemented yet");
  }
  TORVTableData::CreateConstraintManager(ConstraintDefs);
}

void TORVMemoryTableData::CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                                      TORVConstraintDefs& ConstraintDefs) {
  Guard guard(*this);
  if (FieldDefs.GetCount() == 0 && !IsDesignMode())
    throw EORVException(10025, "Error creating table - no fields were specified");
  CreateManagers(Cursor, FieldDefs, IndexDefs, ConstraintDefs);
  BuildIndexes(Cursor);
}

void TORVMemoryTableData::EmptyTable(TORVCursor*) {
  Guard guard(*this);
  TORVTableData::EmptyTable(nullptr);
  FreeStoredBLOBBlocks();
  if (FRecordManager) FRecordManager->Empty(SYSTEM_SESSION_ID);
  ApplyChanges(SYSTEM_SESSION_ID, false);
}

void TORVMemoryTableData::CloseTable(TORVCursor* Cursor) {
  Guard guard(*this);
  ReleaseUnstoredBLOBs(Cursor);
  TORVTableData::CloseTable(Cursor);
}

int64_t TORVMemoryTableData::GetBitmapRecordCount(int32_t) {
  if (!FRecordManager || FRecordManager->FRecordCount == 0) return 0;
  return static_cast<int64_t>(Records().LastRecordID()) + 1;
}

bool TORVMemoryTableData::EveryBitmapRecNoHoldsARecord() { return FRecordManager && Records().NoRecordsDeleted(); }

// ---- Records through the table --------------------------------------------------------------------

bool TORVMemoryTableData::InsertRecord(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(10010, "Nil pointer occured");
  if (!Cursor->FCurrentRecordBuffer) throw EORVException(10018, "Nil pointer occured");
  ReleaseUnstoredBLOBsExcept(Cursor, Cursor->FCurrentRecordBuffer);
  TORVRecordOperationSteps steps;
  steps.BeforeStore = [this](TORVCursor& c) { CheckBLOBIds(c.FCurrentRecordBuffer); };
  steps.AfterStore = [this](TORVCursor& c) { AddStoredReferences(BLOBIdsOf(c.FCurrentRecordBuffer)); };
  return RunInsertRecord(*Cursor, steps);
}

bool TORVMemoryTableData::UpdateRecord(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(10014, "Nil pointer occured");
  if (!Cursor->FCurrentRecordBuffer) throw EORVException(10017, "Nil pointer occured");
  ReleaseUnstoredBLOBsExcept(Cursor, Cursor->FCurrentRecordBuffer);
  std::vector<uint64_t> old_ids;
  TORVRecordOperationSteps steps;
  steps.BeforeStore = [&](TORVCursor& c) {
    CheckBLOBIds(c.FCurrentRecordBuffer);
    old_ids = StoredBLOBIds(c.CurrentRecordID);
  };
  // The new record's blocks are taken before the old ones are let go: a block both refer
  // to stays.
  steps.AfterStore = [&](TORVCursor& c) {
    AddStoredReferences(BLOBIdsOf(c.FCurrentRecordBuffer));
    DropStoredReferences(old_ids);
  };
  return RunUpdateRecord(*Cursor, steps);
}

bool TORVMemoryTableData::DeleteRecord(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(10013, "Nil pointer occured");
  ReleaseUnstoredBLOBsExcept(Cursor, nullptr);
  // The blocks of the stored record go only once the store has let go of it: a delete
  // refused (the record was deleted through another cursor) frees nothing.
  std::vector<uint64_t> stored_ids;
  TORVRecordOperationSteps steps;
  steps.BeforeStore = [&](TORVCursor& c) { stored_ids = StoredBLOBIds(c.CurrentRecordID); };
  steps.AfterStore = [&](TORVCursor&) { DropStoredReferences(stored_ids); };
  return RunDeleteRecord(*Cursor, steps);
}

void TORVMemoryTableData::InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(10074, "Nil pointer occured");
  const int32_t slot = Records().FindRecord(RecNo - 1);
  if (slot >= 0) Cursor->CurrentRecordID = {slot, 0};
}

int64_t TORVMemoryTableData::InternalGetRecNo(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(10033, "Nil pointer occured");
  return Records().GetTablePositionByRecordID(Cursor->CurrentRecordID.PageNo);
}

int64_t TORVMemoryTableData::InternalGetRecordCount(TORVCursor*) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(10009, "Nil pointer occured");
  return FRecordManager->FRecordCount;
}

int64_t TORVMemoryTableData::LastAutoincValue(int32_t FieldNo, TORVBaseSession* Session) {
  return FFieldManager->GetLastAutoinc(Session, FieldNo);
}

// ---- BLOB blocks ------------------------------------------------------------------------------------

uint64_t TORVMemoryTableData::BLOBIdOf(const void* RecordBuffer, int32_t FieldNo) const {
  if (!RecordBuffer || CheckNullFlag(FieldNo, RecordBuffer)) return 0;
  const TORVFieldDef* f = FFieldManager->FFieldDefs.GetDef(FieldNo);
  return LoadLE64(static_cast<const uint8_t*>(RecordBuffer) + f->MemoryOffset);
}

void TORVMemoryTableData::SetBLOBId(void* RecordBuffer, int32_t FieldNo, uint64_t Id) const {
  const TORVFieldDef* f = FFieldManager->FFieldDefs.GetDef(FieldNo);
  uint8_t* p = static_cast<uint8_t*>(RecordBuffer) + f->MemoryOffset;
  std::memset(p, 0, static_cast<size_t>(f->MemoryDataSize));
  StoreLE64(p, Id);
  SetNullFlag(Id == 0, FieldNo, RecordBuffer);
}

std::vector<uint64_t> TORVMemoryTableData::BLOBIdsOf(const void* RecordBuffer) const {
  std::vector<uint64_t> ids;
  if (!RecordBuffer || !FFieldManager) return ids;
  const TORVFieldDefs& defs = FFieldManager->FFieldDefs;
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBLOBFieldType(defs.GetDef(i)->BaseFieldType))
      if (const uint64_t id = BLOBIdOf(RecordBuffer, i)) ids.push_back(id);
  return ids;
}

std::vector<uint64_t> TORVMemoryTableData::StoredBLOBIds(const TORVPageItemID& RecordID) const {
  const uint8_t* stored = FRecordManager ? static_cast<const TORVMemoryRecordManager&>(*FRecordManager).SlotData(RecordID.PageNo)
                                         : nullptr;
  return BLOBIdsOf(stored);
}

TORVMemoryTableData::BLOBBlock& TORVMemoryTableData::FindBLOBBlock(uint64_t Id, int32_t Code) {
  auto it = FBLOBBlocks.find(Id);
  if (Id == 0 || it == FBLOBBlocks.end()) throw EORVException(Code, "Nil pointer occured");
  return it->second;
}

uint64_t TORVMemoryTableData::AddBLOBBlock(uint8_t* Data, int64_t Size, TORVCursor* Owner) {
  const uint64_t id = ++FLastBLOBID;
  FBLOBBlocks[id] = BLOBBlock{Data, Size, 0, Owner};
  return id;
}

void TORVMemoryTableData::FreeBLOBBlock(uint64_t Id) {
  auto it = FBLOBBlocks.find(Id);
  if (it == FBLOBBlocks.end()) return;
  uint8_t* data = it->second.Data;
  FBLOBBlocks.erase(it);
  FMemory.FreeMem(data);
}

void TORVMemoryTableData::ReleaseBLOBReference(uint64_t Id) {
  auto it = FBLOBBlocks.find(Id);
  if (it != FBLOBBlocks.end() && it->second.StoredRefs == 0) FreeBLOBBlock(Id);
}

void TORVMemoryTableData::FreeStoredBLOBBlocks() {
  std::vector<uint64_t> stored;
  for (const auto& [id, block] : FBLOBBlocks)
    if (block.StoredRefs > 0) stored.push_back(id);
  for (uint64_t id : stored) FreeBLOBBlock(id);
}

void TORVMemoryTableData::FreeAllBLOBBlocks() {
  for (auto& [id, block] : FBLOBBlocks) {
    try {
      FMemory.FreeMem(block.Data);
    } catch (...) {
      // An overrun report has nowhere to go while the table goes.
    }
  }
  FBLOBBlocks.clear();
}

void TORVMemoryTableData::CheckBLOBIds(const void* RecordBuffer) {
  for (uint64_t id : BLOBIdsOf(RecordBuffer)) FindBLOBBlock(id, 10112);
}

void TORVMemoryTableData::AddStoredReferences(const std::vector<uint64_t>& Ids) {
  for (uint64_t id : Ids) {
    auto it = FBLOBBlocks.find(id);
    if (it == FBLOBBlocks.end()) continue;
    ++it->second.StoredRefs;
    it->second.Owner = nullptr;
  }
}

void TORVMemoryTableData::DropStoredReferences(const std::vector<uint64_t>& Ids) {
  for (uint64_t id : Ids) {
    auto it = FBLOBBlocks.find(id);
    if (it == FBLOBBlocks.end()) continue;
    if (--it->second.StoredRefs <= 0) FreeBLOBBlock(id);
  }
}

void TORVMemoryTableData::ReleaseUnstoredBLOBsExcept(TORVCursor* Cursor, const void* Keep) {
  if (!Cursor || FBLOBBlocks.empty()) return;
  const std::vector<uint64_t> keep = BLOBIdsOf(Keep);
  std::vector<uint64_t> doomed;
  for (const auto& [id, block] : FBLOBBlocks)
    if (block.StoredRefs == 0 && block.Owner == Cursor && std::find(keep.begin(), keep.end(), id) == keep.end())
      doomed.push_back(id);
  for (uint64_t id : doomed) FreeBLOBBlock(id);
}

void TORVMemoryTableData::ReleaseUnstoredBLOBs(TORVCursor* Cursor) {
  Guard guard(*this);
  ReleaseUnstoredBLOBsExcept(Cursor, nullptr);
}

std::vector<uint8_t> TORVMemoryTableData::BLOBBlockBytes(const void* RecordBuffer, int32_t FieldNo) {
  Guard guard(*this);
  const uint64_t id = BLOBIdOf(RecordBuffer, FieldNo);
  if (!id) return {};
  const BLOBBlock& block = FindBLOBBlock(id, 10112);
  return std::vector<uint8_t>(block.Data, block.Data + block.Size);
}

void TORVMemoryTableData::ClearBLOBFieldInRecordBuffer(void* RecordBuffer, int32_t FieldNo) {
  Guard guard(*this);
  if (!RecordBuffer || !FFieldManager || !FFieldManager->BlobFieldsPresent()) return;
  if (CheckNullFlag(FieldNo, RecordBuffer)) return;
  const uint64_t id = BLOBIdOf(RecordBuffer, FieldNo);
  if (id == 0) throw EORVException(10118, "Nil pointer occured");
  ReleaseBLOBReference(id);
  SetBLOBId(RecordBuffer, FieldNo, 0);
}

void TORVMemoryTableData::WriteBLOBFieldToRecordBuffer(TORVCursor* Cursor, int32_t FieldNo, TORVStream* BLOBStream) {
  Guard guard(*this);
  if (!BLOBStream || !BLOBStream->Modified()) return;
  void* record = Cursor->FCurrentRecordBuffer;
  if (!record) throw EORVException(10018, "Nil pointer occured");
  auto* local = dynamic_cast<TORVLocalBLOBStream*>(BLOBStream);
  if (!local) throw EORVException(10112, "Nil pointer occured");
  // The value the buffer held before stays while a stored record refers to it.
  if (const uint64_t old = BLOBIdOf(record, FieldNo)) ReleaseBLOBReference(old);
  SetBLOBId(record, FieldNo, 0);
  if (BLOBStream->GetSize() == 0) return;
  TORVCompressedBLOBStream& compressed = local->TemporaryStream();
  TStream& data = *compressed.CompressedStream();
  const int64_t size = data.GetSize();
  auto* block = static_cast<uint8_t*>(FMemory.GetMem(size + kBLOBHeaderSize));
  TORVPartialBLOBDescriptor header;
  header.NumBlocks = static_cast<int32_t>(compressed.BLOBDescriptor().NumBlocks);
  header.UncompressedSize = compressed.BLOBDescriptor().UncompressedSize;
  header.WriteTo(block);
  data.Seek(0, soBeginning);
  int64_t done = 0;
  while (done < size) {
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(size - done, 1 << 30));
    const int32_t got = data.Read(block + kBLOBHeaderSize + done, chunk);
    if (got <= 0) break;
    done += got;
  }
  if (done != size) {
    FMemory.FreeMem(block);
    throw EORVException(10117, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {0, size, size, done});
  }
  SetBLOBId(record, FieldNo, AddBLOBBlock(block, size + kBLOBHeaderSize, Cursor));
}

TORVStream* TORVMemoryTableData::InternalCreateBlobStream(TORVCursor* Cursor, bool, int32_t FieldNo,
                                                          TORVBLOBOpenMode OpenMode) {
  Guard guard(*this);
  const TORVFieldDef* def = FFieldManager->FFieldDefs.GetDef(FieldNo);
  if (def->BLOBBlockSize == 0) throw EORVException(10420, "Stream block size = 0 is not allowed");
  TORVBLOBDescriptor descriptor;
  descriptor.BlockSize = def->BLOBBlockSize;
  descriptor.CompressionAlgorithm = def->BLOBCompressionAlgorithm;
  descriptor.CompressionMode = def->BLOBCompressionMode;
  const void* record = Cursor ? Cursor->FCurrentRecordBuffer : nullptr;
  std::function<void(TORVStream&)> fill;
  if (OpenMode != bomWrite && record && !CheckNullFlag(FieldNo, record)) {
    const BLOBBlock& block = FindBLOBBlock(BLOBIdOf(record, FieldNo), 10112);
    const TORVPartialBLOBDescriptor header = TORVPartialBLOBDescriptor::ReadFrom(block.Data);
    descriptor.NumBlocks = header.NumBlocks;
    descriptor.UncompressedSize = header.UncompressedSize;
    fill = [&block](TORVStream& s) {
      SaveDataToStream(block.Data + kBLOBHeaderSize, static_cast<int32_t>(block.Size - kBLOBHeaderSize), s, 10117);
    };
  }
  return CreateLocalBLOBStream(Cursor, OpenMode, FieldNo, descriptor, FDisableTempFiles, fill).release();
}

void TORVMemoryTableData::GetDirectBlobData(TORVCursor*, int32_t FieldNo, void* RecordBuffer,
                                            TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) {
  Guard guard(*this);
  BLOBDescriptor = TORVPartialTemporaryBLOBDescriptor{};
  pBlobData = nullptr;
  if (!RecordBuffer || CheckNullFlag(FieldNo, RecordBuffer)) return;
  const BLOBBlock& block = FindBLOBBlock(BLOBIdOf(RecordBuffer, FieldNo), 10511);
  const TORVPartialBLOBDescriptor header = TORVPartialBLOBDescriptor::ReadFrom(block.Data);
  BLOBDescriptor.NumBlocks = header.NumBlocks;
  BLOBDescriptor.UncompressedSize = header.UncompressedSize;
  BLOBDescriptor.CompressedSize = block.Size - kBLOBHeaderSize;
  if (BLOBDescriptor.CompressedSize > 0) {
    pBlobData = FMemory.GetMem(BLOBDescriptor.CompressedSize);
    std::memcpy(pBlobData, block.Data + kBLOBHeaderSize, static_cast<size_t>(BLOBDescriptor.CompressedSize));
  }
}

void TORVMemoryTableData::SetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                                            TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) {
  Guard guard(*this);
  void* record = RecordBuffer ? RecordBuffer : (Cursor ? Cursor->FCurrentRecordBuffer : nullptr);
  if (!record) throw EORVException(10018, "Nil pointer occured");
  if (const uint64_t old = BLOBIdOf(record, FieldNo)) ReleaseBLOBReference(old);
  SetBLOBId(record, FieldNo, 0);
  if (BLOBDescriptor.CompressedSize <= 0) return;
  if (!pBlobData) throw EORVException(10511, "Nil pointer occured");
  const int64_t size = BLOBDescriptor.CompressedSize + kBLOBHeaderSize;
  auto* block = static_cast<uint8_t*>(FMemory.GetMem(size));
  TORVPartialBLOBDescriptor header;
  header.NumBlocks = BLOBDescriptor.NumBlocks;
  header.UncompressedSize = BLOBDescriptor.UncompressedSize;
  header.WriteTo(block);
  std::memcpy(block + kBLOBHeaderSize, pBlobData, static_cast<size_t>(BLOBDescriptor.CompressedSize));
  SetBLOBId(record, FieldNo, AddBLOBBlock(block, size, Cursor));
}

void TORVMemoryTableData::FreeDirectBlobData(TORVCursor*, int32_t, void*, TORVPartialTemporaryBLOBDescriptor&,
                                             void*& pBlobData) {
  Guard guard(*this);
  if (pBlobData) FMemory.FreeAndNillMem(pBlobData);
}

// ==== Database ====================================================================================

TORVMemoryDatabaseData::TORVMemoryDatabaseData(TORVMemoryManager& Memory) : FMemory(Memory) {
  FDatabaseName = "MEMORY";
}

TORVMemoryDatabaseData::~TORVMemoryDatabaseData() {
  // The tables go here, while this object is still whole; each takes itself out of the list.
  while (!FTableDataList.empty()) DeleteTableData(FTableDataList.front().get());
}

void TORVMemoryDatabaseData::ConnectSession(TORVBaseSession* Session) {
  Session->FSessionID = 0;
  TORVDatabaseData::ConnectSession(Session);
}

TORVTableData* TORVMemoryDatabaseData::CreateTableData(TORVCursor* Cursor) {
  auto table = std::make_unique<TORVMemoryTableData>(this, 1000, FMemory);
  table->FTableName = Cursor->FTableName;
  return AddTableData(std::move(table));
}

int32_t TORVMemoryDatabaseData::GetNewObjectId() {
  TORVLockGuard<TORVDatabaseData> guard(*this);
  return ++FLastObjectID;
}

}  // namespace orv
