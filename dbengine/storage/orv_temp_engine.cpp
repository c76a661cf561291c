#include "dbengine/storage/orv_temp_engine.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_base_engine_indexes.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"

namespace orv {

namespace {

using Guard = TORVLockGuard<TORVTableData>;

constexpr int32_t kPageSize = 4096;
constexpr int32_t kDescriptorSize = TORVPartialTemporaryBLOBDescriptor::StoredSize;
const char* const kCannotRead =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";

// A tenth of the free memory, in units of Size.
int32_t TenthOfFreeMemory(TORVMemoryManager& Memory, int64_t Size) {
  if (Size <= 0) return 0;
  return static_cast<int32_t>(std::min<int64_t>(Memory.GetFreeMemorySize() / 10 / Size, std::numeric_limits<int32_t>::max()));
}

}  // namespace

// ==== Records =====================================================================================

TORVTemporaryRecordManager::TORVTemporaryRecordManager(int32_t RecordBufferSize, int32_t RecordsPerPage,
                                                       int32_t AllocRecordsBy, bool DisableTempFiles,
                                                       TORVMemoryManager& Memory)
    : FMemory(Memory),
      FRecordsPerPage(std::max(RecordsPerPage, 1)),
      FMaxCachedRecordCount(TenthOfFreeMemory(Memory, RecordBufferSize)),
      FAllocRecordsBy(std::max(AllocRecordsBy, 1)),
      FDisableTempFiles(DisableTempFiles) {
  if (RecordBufferSize <= 0) throw EORVException(10124, "Invalid record size = 0");
  FRecordBufferSize = RecordBufferSize;
  FPageSize = FRecordsPerPage * RecordBufferSize;
  FTempPage = static_cast<uint8_t*>(FMemory.GetMem(FPageSize));
}

TORVTemporaryRecordManager::~TORVTemporaryRecordManager() {
  try {
    Empty(SYSTEM_SESSION_ID);
    FMemory.FreeAndNillMem(FTempPage);
  } catch (...) {
    // A destructor never raises.
  }
}

int64_t TORVTemporaryRecordManager::RecordNoOf(const TORVPageItemID& RecordID) {
  return static_cast<int64_t>(static_cast<uint32_t>(RecordID.PageNo)) |
         (static_cast<int64_t>(RecordID.PageItemNo) << 32);
}

TORVPageItemID TORVTemporaryRecordManager::RecordIDOf(int64_t RecordNo) {
  return {static_cast<int32_t>(static_cast<uint32_t>(RecordNo & 0xFFFFFFFF)),
          static_cast<uint16_t>((RecordNo >> 32) & 0xFFFF)};
}

void TORVTemporaryRecordManager::Empty(int32_t) {
  FRecordCount = 0;
  FTempPageRecordCount = 0;
  FCachedRecordCount = 0;
  FAllocatedRecordCount = 0;
  FCapacity = 0;
  // Bitmaps and temporary indexes built over the old records must see that they are gone.
  ++FTableState;
  FTempPageFile.reset();
  FMemory.FreeAndNillMem(FCache);
}

bool TORVTemporaryRecordManager::AddRecord(int32_t, const void* RecordBuffer, TORVPageItemID& RecordID) {
  try {
    bool to_cache = true;
    if (FCachedRecordCount >= FAllocatedRecordCount) {
      if (FDisableTempFiles || FAllocatedRecordCount < FMaxCachedRecordCount) {
        int64_t count = static_cast<int64_t>(FAllocatedRecordCount) + FAllocRecordsBy;
        if (!FDisableTempFiles) count = std::min<int64_t>(count, FMaxCachedRecordCount);
        if (count > std::numeric_limits<int32_t>::max()) return false;
        // The memory under the cache grows by half again, so that a large cache is not copied
        // at every step (never beyond the cache limit).
        if (count > FCapacity) {
          int64_t capacity = std::max<int64_t>(count, FCapacity + FCapacity / 2);
          if (!FDisableTempFiles) capacity = std::min<int64_t>(capacity, FMaxCachedRecordCount);
          FMemory.ReallocMem(FCache, capacity * FRecordBufferSize);
          FCapacity = capacity;
        }
        FAllocatedRecordCount = static_cast<int32_t>(count);
      } else {
        if (!FTempPageFile) FTempPageFile = TORVFileStream::CreateTemporaryFile();
        SaveTempPage();
        std::memcpy(FTempPage + static_cast<int64_t>(FTempPageRecordCount) * FRecordBufferSize, RecordBuffer,
                    static_cast<size_t>(FRecordBufferSize));
        ++FTempPageRecordCount;
        to_cache = false;
      }
    }
    if (to_cache) {
      std::memcpy(FCache + FRecordCount * FRecordBufferSize, RecordBuffer, static_cast<size_t>(FRecordBufferSize));
      ++FCachedRecordCount;
    }
    RecordID = RecordIDOf(FRecordCount);
    ++FRecordCount;
    ++FTableState;
    return true;
  } catch (...) {
    return false;
  }
}

void TORVTemporaryRecordManager::SaveTempPage() {
  if (FTempPageRecordCount == 0) return;
  if (FTempPageRecordCount > FRecordsPerPage)
    throw EORVException(10126, "Invalid record count = %d. Limit is %d", {FTempPageRecordCount, FRecordsPerPage});
  if (!FTempPageFile) throw EORVException(10128, "Cannot set stream position to %d. Position = %d, Size = %d", {0, 0, 0});
  const int64_t position = (FRecordCount - FMaxCachedRecordCount - FTempPageRecordCount) * FRecordBufferSize;
  SetStreamPosition(*FTempPageFile, position, 10128);
  const int32_t bytes = FTempPageRecordCount * FRecordBufferSize;
  if (FTempPageFile->Write(FTempPage, bytes) != bytes) throw EORVException(10125, "Error writing to stream");
  FTempPageRecordCount = 0;
}

bool TORVTemporaryRecordManager::ReadRecord(void* RecordBuffer, int64_t RecordNo) {
  if (FDisableTempFiles || RecordNo < FMaxCachedRecordCount) {
    if (!RecordBuffer || RecordNo < 0 || RecordNo >= FCachedRecordCount)
      throw EORVException(10127, "Error retrieving record");
    std::memcpy(RecordBuffer, FCache + RecordNo * FRecordBufferSize, static_cast<size_t>(FRecordBufferSize));
    return true;
  }
  SaveTempPage();
  const int64_t position = (RecordNo - FMaxCachedRecordCount) * FRecordBufferSize;
  if (!FTempPageFile)
    throw EORVException(10129, "Cannot set stream position to %d. Position = %d, Size = %d", {position, 0, 0});
  SetStreamPosition(*FTempPageFile, position, 10129);
  const int32_t got = FTempPageFile->Read(RecordBuffer, FRecordBufferSize);
  if (got != FRecordBufferSize)
    throw EORVException(10130, kCannotRead, {position, FTempPageFile->GetSize(), FRecordBufferSize, got});
  return true;
}

void TORVTemporaryRecordManager::GetRecordBuffer(int32_t, TORVNavigationInfo& NavigationInfo) {
  TORVNavigationInfo& nav = NavigationInfo;
  int64_t n = RecordNoOf(nav.RecordID);
  if (FRecordCount == 0) {
    nav.GetRecordResult = grrEOF;
    return;
  }
  TORVGetRecordResult result = grrOK;
  if (nav.FirstPosition) {
    if (nav.GetRecordMode == grmNext) {
      n = 0;
      nav.FirstPosition = false;
    } else {
      result = nav.GetRecordMode == grmPrior ? grrBOF : grrError;
    }
  } else if (nav.LastPosition) {
    if (nav.GetRecordMode == grmPrior) {
      n = FRecordCount - 1;
      nav.LastPosition = false;
    } else {
      result = nav.GetRecordMode == grmNext ? grrEOF : grrError;
    }
  } else {
    switch (nav.GetRecordMode) {
      case grmCurrent:
        if (n >= FRecordCount) result = grrError;
        break;
      case grmNext:
        if (n >= FRecordCount - 1)
          result = grrEOF;
        else
          ++n;
        break;
      case grmPrior:
        if (n < 1)
          result = grrBOF;
        else
          --n;
        break;
    }
  }
  if (result == grrOK && !ReadRecord(nav.RecordBuffer, n)) result = grrError;
  nav.GetRecordResult = result;
  nav.RecordID = RecordIDOf(n);
}

int32_t TORVTemporaryRecordManager::CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) {
  const int64_t a = RecordNoOf(RecordID1);
  const int64_t b = RecordNoOf(RecordID2);
  return a == b ? 0 : (a > b ? 1 : -1);
}

int64_t TORVTemporaryRecordManager::GetApproximateRecNo(int32_t, const TORVPageItemID& RecordID) {
  const int64_t n = RecordNoOf(RecordID);
  return n < FRecordCount ? n + 1 : -1;
}

// ==== Pages =======================================================================================

TORVTemporaryPageManager::TORVTemporaryPageManager(bool DisableTempFiles, TORVMemoryManager& Memory)
    : TORVPageManager(Memory),
      FMaxMemoryPageCount(TenthOfFreeMemory(Memory, kPageSize)),
      FMemoryPageManager(std::make_unique<TORVMemoryPageManager>(Memory)),
      FDisableTempFiles(DisableTempFiles) {
  SetPageGeometry(kPageSize, 0);
  FPageCount = 0;
}

TORVTemporaryPageManager::~TORVTemporaryPageManager() {
  // Cached memory pages borrow the memory store's buffers: they go before it.
  try {
    Close();
  } catch (...) {
    // Pages never applied go with the manager.
  }
}

bool TORVTemporaryPageManager::IsAllocated(int32_t PageNo) const {
  return PageNo >= 0 && PageNo < FAllocatedPageMap.BitCount() && FAllocatedPageMap.GetBit(PageNo);
}

void TORVTemporaryPageManager::MakePageFile() {
  if (!FTempPageFile) FTempPageFile = TORVFileStream::CreateTemporaryFile();
}

void TORVTemporaryPageManager::InternalAddPage(TORVPage& Page) {
  if (!FDisableTempFiles && FAllocatedPageCount >= FMaxMemoryPageCount) {
    MakePageFile();
    const int32_t no = FAllocatedPageCount;
    FAllocatedPageMap.SetSize(no + 1);
    FAllocatedPageCount = no + 1;
    FAllocatedPageMap.SetBit(no, true);
    ++FPageCount;
    // The file grows by half again of what it needs, not page by page.
    const int64_t needed = static_cast<int64_t>(FAllocatedPageCount) * kPageSize;
    if (FTempPageFile->GetSize() < needed) FTempPageFile->SetSize(needed * 3 / 2);
    Page.FPageNo = no;
    if (!Page.FPageBuffer || !Page.FOwnBuffer || Page.GetBufferSize() != kPageSize) Page.AllocPageBuffer();
    return;
  }
  FMemoryPageManager->InternalAddPage(Page);
  const int32_t no = Page.FPageNo;
  if (no >= FAllocatedPageCount) {
    FAllocatedPageCount = no + 1;
    FAllocatedPageMap.SetSize(FAllocatedPageCount);
  }
  FAllocatedPageMap.SetBit(no, true);
  ++FPageCount;
}

void TORVTemporaryPageManager::InternalRemovePage(int32_t PageNo) {
  if (!IsAllocated(PageNo)) return;
  --FPageCount;
  FAllocatedPageMap.SetBit(PageNo, false);
  // A file page's space stays in the file.
  if (IsMemoryPage(PageNo)) FMemoryPageManager->InternalRemovePage(PageNo);
}

bool TORVTemporaryPageManager::InternalReadPage(TORVPage& Page) {
  if (!IsAllocated(Page.FPageNo)) throw EORVException(10396, "Page allocation not released");
  if (IsMemoryPage(Page.FPageNo)) return FMemoryPageManager->InternalReadPage(Page);
  if (!FTempPageFile) throw EORVException(30482, "Invalid pointer");
  if (!Page.FPageBuffer || !Page.FOwnBuffer || Page.GetBufferSize() < kPageSize) Page.AllocPageBuffer();
  if (FTempPageFile->Seek(static_cast<int64_t>(Page.FPageNo) * kPageSize, soBeginning) < 0) return false;
  return FTempPageFile->Read(Page.FPageBuffer, kPageSize) == kPageSize;
}

void TORVTemporaryPageManager::InternalWritePage(TORVPage& Page) {
  if (!IsAllocated(Page.FPageNo)) throw EORVException(10397, "Page allocation not released");
  if (IsMemoryPage(Page.FPageNo)) {
    FMemoryPageManager->InternalWritePage(Page);
    return;
  }
  MakePageFile();
  const int64_t position = static_cast<int64_t>(Page.FPageNo) * kPageSize;
  if (FTempPageFile->Seek(position, soBeginning) != position ||
      FTempPageFile->Write(Page.FPageBuffer, kPageSize) != kPageSize)
    throw EORVException(10125, "Error writing to stream");
}

// ==== Tables ======================================================================================

TORVTemporaryTableData::TORVTemporaryTableData(TORVDatabaseData* aDatabaseData, int32_t RecordsPerPage,
                                               int32_t AllocRecordsBy, TORVMemoryManager& Memory)
    : TORVInProcessTableData(aDatabaseData),
      FMemory(Memory),
      FRecordsPerPage(RecordsPerPage),
      FAllocRecordsBy(AllocRecordsBy) {}

TORVTemporaryTableData::~TORVTemporaryTableData() {
  try {
    TORVTableData::EmptyTable(nullptr);
    if (FRecordManager) FRecordManager->Empty(SYSTEM_SESSION_ID);
  } catch (...) {
    // A destructor never raises; what is left goes with the page manager below.
  }
  ReleaseIndexes();
  DeleteBLOBFile();
  FTemporaryPageManager.reset();
}

TORVTemporaryRecordManager& TORVTemporaryTableData::Records() const {
  if (!FRecordManager) throw EORVException(10133, "Nil pointer occured");
  return static_cast<TORVTemporaryRecordManager&>(*FRecordManager);
}

void TORVTemporaryTableData::CreateRecordManager() {
  FRecordManager.reset();
  FRecordManager = std::make_unique<TORVTemporaryRecordManager>(GetRecordBufferSize(), FRecordsPerPage,
                                                                FAllocRecordsBy, FDisableTempFiles, FMemory);
}

void TORVTemporaryTableData::CreateTable(TORVCursor* Cursor, TORVFieldDefs& FieldDefs, TORVIndexDefs& IndexDefs,
                                         TORVConstraintDefs& ConstraintDefs) {
  Guard guard(*this);
  if (FieldDefs.GetCount() == 0) throw EORVException(10132, "Error creating table - no fields were specified");
  if (Cursor) FDisableTempFiles = Cursor->FDisableTempFiles;
  // The indexes and records of a table made before go with the page manager they live in.
  FIndexManager.reset();
  FRecordManager.reset();
  DeleteBLOBFile();
  FTemporaryPageManager = std::make_unique<TORVTemporaryPageManager>(FDisableTempFiles, FMemory);
  FPageManager = FTemporaryPageManager.get();
  CreateManagers(Cursor, FieldDefs, IndexDefs, ConstraintDefs);
  CreateBLOBFile();
  BuildIndexes(Cursor);
}

void TORVTemporaryTableData::EmptyTable(TORVCursor*) {
  Guard guard(*this);
  DeleteBLOBFile();
  TORVTableData::EmptyTable(nullptr);
  if (FRecordManager) FRecordManager->Empty(SYSTEM_SESSION_ID);
  ApplyChanges(SYSTEM_SESSION_ID, false);
  // An emptied table is filled again like a new one, BLOB values included.
  CreateBLOBFile();
}

int64_t TORVTemporaryTableData::GetBitmapRecordCount(int32_t) { return FRecordManager ? FRecordManager->FRecordCount : 0; }

int64_t TORVTemporaryTableData::GetBitmapRecNoByRecordID(const TORVPageItemID& RecordID) {
  return TORVTemporaryRecordManager::RecordNoOf(RecordID);
}

TORVPageItemID TORVTemporaryTableData::GetRecordIDByBitmapRecNo(int64_t RecordNo) {
  return TORVTemporaryRecordManager::RecordIDOf(RecordNo & 0xFFFFFFFFFFFF);
}

bool TORVTemporaryTableData::InsertRecord(TORVCursor* Cursor) {
  Guard guard(*this);
  if (!FRecordManager) throw EORVException(10134, "Nil pointer occured");
  if (!Cursor->FCurrentRecordBuffer) throw EORVException(10135, "Nil pointer occured");
  return RunInsertRecord(*Cursor, TORVRecordOperationSteps{});
}

void TORVTemporaryTableData::InternalSetRecNo(TORVCursor* Cursor, int64_t RecNo) {
  if (!FRecordManager) throw EORVException(10136, "Nil pointer occured");
  Cursor->CurrentRecordID = TORVTemporaryRecordManager::RecordIDOf(RecNo < 2 ? 0 : RecNo - 1);
}

int64_t TORVTemporaryTableData::InternalGetRecNo(TORVCursor* Cursor) {
  if (!FRecordManager) throw EORVException(10137, "Nil pointer occured");
  return TORVTemporaryRecordManager::RecordNoOf(Cursor->CurrentRecordID) + 1;
}

int64_t TORVTemporaryTableData::InternalGetRecordCount(TORVCursor*) {
  if (!FRecordManager) throw EORVException(10133, "Nil pointer occured");
  return FRecordManager->FRecordCount;
}

// ---- BLOB values -----------------------------------------------------------------------------------

void TORVTemporaryTableData::CreateBLOBFile() {
  if (!FFieldManager || !FFieldManager->BlobFieldsPresent()) return;
  DeleteBLOBFile();
  if (FDisableTempFiles)
    FBLOBFile = std::make_unique<TORVMemoryStream>(nullptr, 1048576);
  else
    FBLOBFile = std::make_unique<TORVTemporaryStream>(false);
}

void TORVTemporaryTableData::DeleteBLOBFile() { FBLOBFile.reset(); }

int64_t TORVTemporaryTableData::BLOBOffsetOf(const void* RecordBuffer, int32_t FieldNo) const {
  const TORVFieldDef* f = FFieldManager->FFieldDefs.GetDef(FieldNo);
  return static_cast<int64_t>(LoadLE64(static_cast<const uint8_t*>(RecordBuffer) + f->MemoryOffset));
}

void TORVTemporaryTableData::SetBLOBOffset(void* RecordBuffer, int32_t FieldNo, int64_t Offset) const {
  const TORVFieldDef* f = FFieldManager->FFieldDefs.GetDef(FieldNo);
  StoreLE64(static_cast<uint8_t*>(RecordBuffer) + f->MemoryOffset, static_cast<uint64_t>(Offset));
  SetNullFlag(false, FieldNo, RecordBuffer);
}

void TORVTemporaryTableData::WriteBLOBFieldToRecordBuffer(TORVCursor* Cursor, int32_t FieldNo,
                                                          TORVStream* BLOBStream) {
  Guard guard(*this);
  if (!FBLOBFile) throw EORVException(10144, "Nil pointer occured");
  if (!BLOBStream || !BLOBStream->Modified()) return;
  void* record = Cursor->FCurrentRecordBuffer;
  if (!record) throw EORVException(10135, "Nil pointer occured");
  if (BLOBStream->GetSize() == 0) {
    SetNullFlag(true, FieldNo, record);
    return;
  }
  auto* local = dynamic_cast<TORVLocalBLOBStream*>(BLOBStream);
  if (!local) throw EORVException(10144, "Nil pointer occured");
  TORVCompressedBLOBStream& compressed = local->TemporaryStream();
  TStream& data = *compressed.CompressedStream();
  TORVPartialTemporaryBLOBDescriptor descriptor;
  descriptor.NumBlocks = static_cast<int32_t>(compressed.BLOBDescriptor().NumBlocks);
  descriptor.UncompressedSize = compressed.BLOBDescriptor().UncompressedSize;
  descriptor.CompressedSize = compressed.GetCompressedSize();
  SetStreamPosition(*FBLOBFile, FBLOBFile->GetSize(), 10422);
  const int64_t offset = FBLOBFile->GetPosition();
  uint8_t raw[kDescriptorSize];
  descriptor.WriteTo(raw);
  SaveDataToStream(raw, kDescriptorSize, *FBLOBFile, 10145);
  if (descriptor.CompressedSize > 0) {
    data.Seek(0, soBeginning);
    if (FBLOBFile->CopyFrom(data, descriptor.CompressedSize) != descriptor.CompressedSize)
      throw EORVException(10145,
                          "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                          {offset + kDescriptorSize, FBLOBFile->GetSize(), descriptor.CompressedSize, 0});
  }
  SetBLOBOffset(record, FieldNo, offset);
}

TORVStream* TORVTemporaryTableData::InternalCreateBlobStream(TORVCursor* Cursor, bool ToInsert, int32_t FieldNo,
                                                             TORVBLOBOpenMode OpenMode) {
  Guard guard(*this);
  if (!FBLOBFile) throw EORVException(10140, "Nil pointer occured");
  const TORVFieldDef* def = FFieldManager->FFieldDefs.GetDef(FieldNo);
  TORVBLOBDescriptor descriptor;
  descriptor.BlockSize = def->BLOBBlockSize;
  descriptor.CompressionAlgorithm = def->BLOBCompressionAlgorithm;
  descriptor.CompressionMode = def->BLOBCompressionMode;
  const void* record = Cursor ? Cursor->FCurrentRecordBuffer : nullptr;
  std::function<void(TORVStream&)> fill;
  if (!ToInsert && OpenMode != bomWrite && record && !CheckNullFlag(FieldNo, record)) {
    const int64_t offset = BLOBOffsetOf(record, FieldNo);
    SetStreamPosition(*FBLOBFile, offset, 10141);
    uint8_t raw[kDescriptorSize];
    LoadDataFromStream(raw, kDescriptorSize, *FBLOBFile, 10142);
    const auto stored = TORVPartialTemporaryBLOBDescriptor::ReadFrom(raw);
    const int64_t start = offset + kDescriptorSize;
    if (stored.CompressedSize < 0 || stored.CompressedSize > FBLOBFile->GetSize() - start)
      throw EORVException(10142, kCannotRead, {start, FBLOBFile->GetSize(), stored.CompressedSize, 0});
    descriptor.NumBlocks = stored.NumBlocks;
    descriptor.UncompressedSize = stored.UncompressedSize;
    fill = [this, start, stored](TORVStream& s) {
      s.LoadFromStreamWithPosition(*FBLOBFile, start, stored.CompressedSize);
    };
  }
  return CreateLocalBLOBStream(Cursor, OpenMode, FieldNo, descriptor, FDisableTempFiles, fill).release();
}

void TORVTemporaryTableData::GetDirectBlobData(TORVCursor*, int32_t FieldNo, void* RecordBuffer,
                                               TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) {
  Guard guard(*this);
  BLOBDescriptor = TORVPartialTemporaryBLOBDescriptor{};
  pBlobData = nullptr;
  if (!RecordBuffer || CheckNullFlag(FieldNo, RecordBuffer)) return;
  if (!FBLOBFile) throw EORVException(10506, "Nil pointer occured");
  const int64_t kept = FBLOBFile->GetPosition();
  SetStreamPosition(*FBLOBFile, BLOBOffsetOf(RecordBuffer, FieldNo), 10509);
  uint8_t raw[kDescriptorSize];
  LoadDataFromStream(raw, kDescriptorSize, *FBLOBFile, 10510);
  BLOBDescriptor = TORVPartialTemporaryBLOBDescriptor::ReadFrom(raw);
  const int64_t at = FBLOBFile->GetPosition();
  if (BLOBDescriptor.CompressedSize < 0 || BLOBDescriptor.CompressedSize > FBLOBFile->GetSize() - at ||
      BLOBDescriptor.CompressedSize > std::numeric_limits<int32_t>::max())
    throw EORVException(10510, kCannotRead, {at, FBLOBFile->GetSize(), BLOBDescriptor.CompressedSize, 0});
  if (BLOBDescriptor.CompressedSize > 0) {
    pBlobData = FMemory.GetMem(BLOBDescriptor.CompressedSize);
    try {
      LoadDataFromStream(pBlobData, static_cast<int32_t>(BLOBDescriptor.CompressedSize), *FBLOBFile, 10510);
    } catch (...) {
      FMemory.FreeAndNillMem(pBlobData);
      throw;
    }
  }
  FBLOBFile->Seek(kept, soBeginning);
}

void TORVTemporaryTableData::SetDirectBlobData(TORVCursor* Cursor, int32_t FieldNo, void* RecordBuffer,
                                               TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData) {
  Guard guard(*this);
  if (!FBLOBFile) throw EORVException(10506, "Nil pointer occured");
  void* record = RecordBuffer ? RecordBuffer : (Cursor ? Cursor->FCurrentRecordBuffer : nullptr);
  if (!record) throw EORVException(10506, "Nil pointer occured");
  if (BLOBDescriptor.UncompressedSize == 0) {
    SetNullFlag(true, FieldNo, record);
    return;
  }
  if (BLOBDescriptor.CompressedSize < 0 || BLOBDescriptor.CompressedSize > std::numeric_limits<int32_t>::max() ||
      (BLOBDescriptor.CompressedSize > 0 && !pBlobData))
    throw EORVException(10506, "Nil pointer occured");
  SetStreamPosition(*FBLOBFile, FBLOBFile->GetSize(), 10507);
  const int64_t offset = FBLOBFile->GetPosition();
  uint8_t raw[kDescriptorSize];
  BLOBDescriptor.WriteTo(raw);
  SaveDataToStream(raw, kDescriptorSize, *FBLOBFile, 10508);
  SaveDataToStream(pBlobData, static_cast<int32_t>(BLOBDescriptor.CompressedSize), *FBLOBFile, 10508);
  SetBLOBOffset(record, FieldNo, offset);
}

void TORVTemporaryTableData::FreeDirectBlobData(TORVCursor*, int32_t, void*, TORVPartialTemporaryBLOBDescriptor&,
                                                void*& pBlobData) {
  if (pBlobData) FMemory.FreeAndNillMem(pBlobData);
}

// ==== Database ====================================================================================

TORVTemporaryDatabaseData::TORVTemporaryDatabaseData(TORVMemoryManager& Memory) : FMemory(Memory) {
  FDatabaseName = "TEMP";
}

TORVTemporaryDatabaseData::~TORVTemporaryDatabaseData() {
  while (!FTableDataList.empty()) DeleteTableData(FTableDataList.front().get());
}

TORVTableData* TORVTemporaryDatabaseData::CreateTableData(TORVCursor* Cursor) {
  auto table = std::make_unique<TORVTemporaryTableData>(this, 10, 1000, FMemory);
  table->FTableName = Cursor->FTableName;
  return AddTableData(std::move(table));
}

int32_t TORVTemporaryDatabaseData::GetNewObjectId() {
  TORVLockGuard<TORVDatabaseData> guard(*this);
  return ++FLastObjectID;
}

}  // namespace orv
