#include "dbengine/file/orv_disk_engine_blobs.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

#include "dbengine/file/orv_disk_engine_free_space.h"
#include "dbengine/file/orv_disk_engine_internal_files.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/file/orv_disk_engine_records.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_compression_blob.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {

uint8_t* TORVSmallBlobPage::Data() const {
  uint8_t* data = LPage ? LPage->GetPageData() : nullptr;
  if (!data) throw EORVException(30565, "Page has no buffer");
  return data;
}

namespace {

constexpr int32_t kHeaderSize = TORVDiskBLOBHeader::StoredSize;  // 22
constexpr int32_t kLinkOffset = kHeaderSize;                      // 22
constexpr int32_t kLargeDataOffset = kLinkOffset + TORVPageListLink::StoredSize;  // 32
constexpr uint16_t kLargeBlobID = 0xFFFF;
constexpr uint16_t kAmbiguousBlobID = 255;
constexpr uint16_t kAnyPageType = 255;
constexpr int32_t kCacheIdOffset = TORVPageItemID::StoredSize;

// Cache ids of every manager of the process come from one counter, so that no id is given out
// twice while the process lives (a stale copy of a record buffer then never finds another
// value's entry).
std::atomic<uint32_t> g_next_cache_id{1};

uint32_t NewCacheId() {
  uint32_t id = g_next_cache_id.fetch_add(1);
  while (id == 0) id = g_next_cache_id.fetch_add(1);
  return id;
}

bool IsStoredReference(const TORVPageItemID& Reference) { return Reference.PageNo != 0 && Reference.PageNo != -1; }

const TORVPageItemID kDeletedReference{-1, kLargeBlobID};

}  // namespace

TORVDiskBLOBCache::~TORVDiskBLOBCache() {
  if (BlobData) MemoryManager().FreeMem(BlobData);
}

// ==== Small-BLOB page ===========================================================================

uint16_t TORVSmallBlobPage::GetBlobCount() const { return LoadLE16(Data()); }

void TORVSmallBlobPage::SetBlobCount(uint16_t Value) { StoreLE16(Data(), Value); }

int32_t TORVSmallBlobPage::BlobHeaderOffset(int32_t Index) const {
  const uint8_t* data = Data();
  const int64_t size = LPage->GetPageDataSize();
  int64_t offset = 2;
  for (int32_t i = 0; i < Index; ++i) {
    if (offset + kHeaderSize > size) throw EORVException(30562, "Invalid blob page. PageNo=%d", {LPage->FPageNo});
    const int64_t stored = TORVDiskBLOBHeader::ReadFrom(data + offset).CompressedSize;
    if (stored < 0 || stored > size - offset - kHeaderSize)
      throw EORVException(30562, "Invalid blob page. PageNo=%d", {LPage->FPageNo});
    offset += kHeaderSize + stored;
  }
  if (offset > size) throw EORVException(30562, "Invalid blob page. PageNo=%d", {LPage->FPageNo});
  return static_cast<int32_t>(offset);
}

bool TORVSmallBlobPage::EntriesFit() const {
  try {
    BlobHeaderOffset(GetBlobCount());
    return true;
  } catch (const EORVException&) {
    return false;
  }
}

int32_t TORVSmallBlobPage::FindBlob(uint16_t BlobID) const {
  if (!EntriesFit()) return -1;
  const int32_t count = GetBlobCount();
  int32_t offset = 2;
  for (int32_t i = 0; i < count; ++i) {
    const TORVDiskBLOBHeader header = TORVDiskBLOBHeader::ReadFrom(Data() + offset);
    if (header.BlobID == BlobID) return i;
    offset += kHeaderSize + static_cast<int32_t>(header.CompressedSize);
  }
  return -1;
}

uint16_t TORVSmallBlobPage::GetNewBlobID() const {
  const int32_t count = GetBlobCount();
  std::vector<uint16_t> taken;
  taken.reserve(static_cast<size_t>(count));
  int32_t offset = 2;
  for (int32_t i = 0; i < count; ++i) {
    const TORVDiskBLOBHeader header = TORVDiskBLOBHeader::ReadFrom(Data() + offset);
    taken.push_back(header.BlobID);
    offset += kHeaderSize + static_cast<int32_t>(header.CompressedSize);
  }
  // 255 is never given out: a reference of 255 could otherwise be taken for a large BLOB.
  const auto next = [](uint32_t c) -> uint32_t {
    c = c >= 65534 ? 0 : c + 1;
    return c == kAmbiguousBlobID ? c + 1 : c;
  };
  uint32_t candidate = static_cast<uint32_t>(count);
  if (candidate == kAmbiguousBlobID) candidate = next(candidate);
  for (int32_t tries = 0; tries <= 65535; ++tries) {
    if (candidate == kLargeBlobID) break;
    if (std::find(taken.begin(), taken.end(), static_cast<uint16_t>(candidate)) == taken.end())
      return static_cast<uint16_t>(candidate);
    candidate = next(candidate);
  }
  throw EORVException(20172, "Invalid blob field ID");
}

void TORVSmallBlobPage::AddBlob(const TORVDiskBLOBCache& BlobCache, TORVPageItemID& PageItemID) {
  const uint16_t count = GetBlobCount();
  const int32_t offset = BlobHeaderOffset(count);
  TORVDiskBLOBHeader header;
  header.BlobID = GetNewBlobID();
  header.NumBlocks = BlobCache.NumBlocks;
  header.CompressedSize = BlobCache.CompressedSize;
  header.UncompressedSize = BlobCache.UncompressedSize;
  uint8_t* at = Data() + offset;
  header.WriteTo(at);
  if (BlobCache.CompressedSize > 0)
    std::memcpy(at + kHeaderSize, BlobCache.BlobData, static_cast<size_t>(BlobCache.CompressedSize));
  SetBlobCount(static_cast<uint16_t>(count + 1));
  LPage->FIsDirty = true;
  PageItemID = {LPage->FPageNo, header.BlobID};
}

void TORVSmallBlobPage::DeleteBlob(const TORVPageItemID& PageItemID, int32_t& BlobSize) {
  const int32_t index = FindBlob(PageItemID.PageItemNo);
  if (index < 0) throw EORVException(20171, "Cannot find blob field");
  uint8_t* data = Data();
  const int32_t offset = BlobHeaderOffset(index);
  BlobSize = kHeaderSize + static_cast<int32_t>(TORVDiskBLOBHeader::ReadFrom(data + offset).CompressedSize);
  std::memmove(data + offset, data + offset + BlobSize,
               static_cast<size_t>(LPage->GetPageDataSize() - offset - BlobSize));
  SetBlobCount(static_cast<uint16_t>(GetBlobCount() - 1));
  LPage->FIsDirty = true;
}

bool TORVSmallBlobPage::ReadBlob(TORVDiskBLOBCache& BlobCache, const TORVPageItemID& PageItemID) const {
  const int32_t index = FindBlob(PageItemID.PageItemNo);
  if (index < 0) return false;
  const TORVDiskBLOBHeader header = TORVDiskBLOBHeader::ReadFrom(BlobHeader(index));
  BlobCache.NumBlocks = header.NumBlocks;
  BlobCache.UncompressedSize = header.UncompressedSize;
  BlobCache.Modified = false;
  if (BlobCache.BlobData) MemoryManager().FreeAndNillMem(reinterpret_cast<void*&>(BlobCache.BlobData));
  BlobCache.CompressedSize = header.CompressedSize;
  if (header.CompressedSize > 0) {
    BlobCache.BlobData = static_cast<uint8_t*>(MemoryManager().GetMem(header.CompressedSize));
    std::memcpy(BlobCache.BlobData, BlobData(index), static_cast<size_t>(header.CompressedSize));
  }
  return true;
}

// ==== BLOB manager ==============================================================================

TORVDiskBlobManager::TORVDiskBlobManager(TORVDiskPageManager* PageManager, TORVBaseFieldManager* FieldManager,
                                         TORVDiskRecordManager* RecordManager)
    : LPageManager(PageManager),
      LFieldManager(FieldManager),
      LRecordManager(RecordManager),
      FBlobPageIndex(std::make_unique<TORVBTreeBlobPageIndex>(PageManager)) {}

TORVDiskBlobManager::~TORVDiskBlobManager() = default;

void TORVDiskBlobManager::Close() {
  const bool left = !FBlobCacheList.empty();
  FreeAllBlobCaches();
  if (left) throw EORVException(20150, "Blob cache not released");
}

void TORVDiskBlobManager::FreeAllBlobCaches() { FBlobCacheList.clear(); }

void TORVDiskBlobManager::CreateBlobPageIndex() { FBlobPageIndex->CreateIndex(SYSTEM_SESSION_ID); }

void TORVDiskBlobManager::LoadMetadata(platform::TStream& Stream) {
  FBlobPageIndex->OpenIndex(LoadInt32FromStream(Stream, 30563));
}

void TORVDiskBlobManager::SaveMetadata(platform::TStream& Stream) const {
  SaveInt32ToStream(FBlobPageIndex->RootPageNo(), Stream, 30564);
}

bool TORVDiskBlobManager::BlobFieldsPresent() const {
  const TORVFieldDefs& defs = LFieldManager->FFieldDefs;
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBLOBFieldType(defs.GetDef(i)->BaseFieldType)) return true;
  return false;
}

void TORVDiskBlobManager::Empty(int32_t SessionID) {
  if (!BlobFieldsPresent()) return;
  const int64_t size = std::max<int64_t>(
      {LRecordManager->FRecordBufferSize, LFieldManager->FFieldDefs.GetMemoryRecordBufferSize(), 1});
  struct Buffer {
    void* p;
    ~Buffer() { MemoryManager().FreeMem(p); }
  } buffer{MemoryManager().AllocMem(size)};
  TORVNavigationInfo nav;
  nav.GetRecordMode = grmNext;
  nav.RecordBuffer = buffer.p;
  nav.FirstPosition = true;
  for (;;) {
    LRecordManager->GetRecordBuffer(SessionID, nav);
    if (nav.GetRecordResult != grrOK) break;
    DeleteBlobs(SessionID, buffer.p);
    nav.GetRecordMode = grmNext;
  }
  FBlobPageIndex->EmptyIndex(SessionID);
}

void TORVDiskBlobManager::Delete(int32_t SessionID) {
  if (!BlobFieldsPresent()) return;
  Empty(SessionID);
  FBlobPageIndex->DropIndex(SessionID);
}

// ---- Cache ---------------------------------------------------------------------------------------

uint8_t* TORVDiskBlobManager::FieldPointer(const void* RecordBuffer, int32_t FieldNo) const {
  const TORVFieldDef* def = LFieldManager->FFieldDefs.GetDef(FieldNo);
  return static_cast<uint8_t*>(const_cast<void*>(RecordBuffer)) + def->MemoryOffset;
}

void TORVDiskBlobManager::GetBlobInfo(const void* RecordBuffer, int32_t FieldNo, TORVPageItemID& PageItemID,
                                      TORVDiskBLOBCache*& BlobCache) const {
  const uint8_t* p = FieldPointer(RecordBuffer, FieldNo);
  PageItemID = TORVPageItemID::ReadFrom(p);
  BlobCache = nullptr;
  const uint32_t id = LoadLE32(p + kCacheIdOffset);
  if (id == 0) return;
  const auto it = FBlobCacheList.find(id);
  if (it != FBlobCacheList.end() && it->second->FieldNo == FieldNo) BlobCache = it->second.get();
}

void TORVDiskBlobManager::SetBlobInfo(void* RecordBuffer, int32_t FieldNo, const TORVPageItemID& PageItemID) const {
  PageItemID.WriteTo(FieldPointer(RecordBuffer, FieldNo));
}

TORVDiskBLOBCache* TORVDiskBlobManager::CreateBlobCache(void* RecordBuffer, int32_t FieldNo) {
  const uint32_t id = NewCacheId();
  auto entry = std::make_unique<TORVDiskBLOBCache>();
  entry->FieldNo = FieldNo;
  TORVDiskBLOBCache* result = entry.get();
  FBlobCacheList.emplace(id, std::move(entry));
  StoreLE32(FieldPointer(RecordBuffer, FieldNo) + kCacheIdOffset, id);
  return result;
}

void TORVDiskBlobManager::FreeBlobCache(void* RecordBuffer, int32_t FieldNo, bool ForceClear) {
  uint8_t* p = FieldPointer(RecordBuffer, FieldNo);
  const uint32_t id = LoadLE32(p + kCacheIdOffset);
  if (id == 0) return;
  const auto it = FBlobCacheList.find(id);
  if (it == FBlobCacheList.end() || it->second->FieldNo != FieldNo) {
    // Not an entry (any more): the buffer is told so.
    StoreLE32(p + kCacheIdOffset, 0);
    return;
  }
  if (it->second->Modified && !ForceClear) return;
  FBlobCacheList.erase(it);
  StoreLE32(p + kCacheIdOffset, 0);
}

void TORVDiskBlobManager::ClearBlobInRecordBuffer(void* RecordBuffer, int32_t FieldNo, bool ForceClear) {
  if (!RecordBuffer) return;
  FreeBlobCache(RecordBuffer, FieldNo, ForceClear);
}

// ---- Reading and writing fields ----------------------------------------------------------------------

bool TORVDiskBlobManager::ReadBlob(int32_t SessionID, void* RecordBuffer, int32_t FieldNo) {
  TORVPageItemID reference;
  TORVDiskBLOBCache* entry = nullptr;
  GetBlobInfo(RecordBuffer, FieldNo, reference, entry);
  if (entry) return true;
  if (!IsStoredReference(reference)) return false;
  entry = CreateBlobCache(RecordBuffer, FieldNo);
  bool found = false;
  try {
    found = InternalReadBlob(SessionID, *entry, reference);
  } catch (...) {
    FreeBlobCache(RecordBuffer, FieldNo, true);
    throw;
  }
  if (!found) FreeBlobCache(RecordBuffer, FieldNo, true);
  return found;
}

void TORVDiskBlobManager::WriteBlob(int32_t SessionID, void* RecordBuffer, int32_t FieldNo) {
  TORVPageItemID reference;
  TORVDiskBLOBCache* entry = nullptr;
  GetBlobInfo(RecordBuffer, FieldNo, reference, entry);
  if (!entry || !entry->Modified) return;
  if (IsStoredReference(reference)) {
    DeleteStoredBlob(SessionID, reference);
    reference = kDeletedReference;
  }
  if (entry->UncompressedSize > 0)
    reference = IsSmallBlob(entry->CompressedSize) ? InternalWriteSmallBlob(SessionID, *entry)
                                                   : InternalWriteLargeBlob(SessionID, *entry);
  SetBlobInfo(RecordBuffer, FieldNo, reference);
  entry->Modified = false;
  FreeBlobCache(RecordBuffer, FieldNo, false);
}

void TORVDiskBlobManager::DeleteBlob(int32_t SessionID, void* RecordBuffer, int32_t FieldNo) {
  TORVPageItemID reference;
  TORVDiskBLOBCache* entry = nullptr;
  GetBlobInfo(RecordBuffer, FieldNo, reference, entry);
  if (!CheckNullFlag(FieldNo, RecordBuffer) && IsStoredReference(reference)) DeleteStoredBlob(SessionID, reference);
  if (entry) entry->Modified = false;
}

void TORVDiskBlobManager::WriteBlobs(int32_t SessionID, void* RecordBuffer) {
  const TORVFieldDefs& defs = LFieldManager->FFieldDefs;
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBLOBFieldType(defs.GetDef(i)->BaseFieldType)) WriteBlob(SessionID, RecordBuffer, i);
}

void TORVDiskBlobManager::DeleteBlobs(int32_t SessionID, void* RecordBuffer) {
  const TORVFieldDefs& defs = LFieldManager->FFieldDefs;
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBLOBFieldType(defs.GetDef(i)->BaseFieldType)) DeleteBlob(SessionID, RecordBuffer, i);
}

TORVBlobWrites TORVDiskBlobManager::StoreModifiedBlobs(int32_t SessionID, void* RecordBuffer) {
  TORVBlobWrites writes;
  const TORVFieldDefs& defs = LFieldManager->FFieldDefs;
  try {
    for (int32_t i = 0; i < defs.GetCount(); ++i) {
      if (!IsBLOBFieldType(defs.GetDef(i)->BaseFieldType)) continue;
      TORVPageItemID reference;
      TORVDiskBLOBCache* entry = nullptr;
      GetBlobInfo(RecordBuffer, i, reference, entry);
      if (!entry || !entry->Modified) continue;
      TORVBlobWrite w;
      w.FieldNo = i;
      w.OldReference = reference;
      w.NewReference = IsStoredReference(reference) ? kDeletedReference : reference;
      if (entry->UncompressedSize > 0) {
        w.NewReference = IsSmallBlob(entry->CompressedSize) ? InternalWriteSmallBlob(SessionID, *entry)
                                                            : InternalWriteLargeBlob(SessionID, *entry);
        w.Stored = true;
      }
      writes.push_back(w);
      SetBlobInfo(RecordBuffer, i, w.NewReference);
    }
  } catch (...) {
    UndoBlobWrites(SessionID, RecordBuffer, writes, true);
    throw;
  }
  return writes;
}

void TORVDiskBlobManager::DeleteReplacedBlobs(int32_t SessionID, const TORVBlobWrites& Writes) {
  for (const TORVBlobWrite& w : Writes)
    if (IsStoredReference(w.OldReference) && !(w.OldReference == w.NewReference))
      DeleteStoredBlob(SessionID, w.OldReference);
}

void TORVDiskBlobManager::ReleaseWrittenBlobs(void* RecordBuffer, const TORVBlobWrites& Writes) {
  for (const TORVBlobWrite& w : Writes) {
    TORVPageItemID reference;
    TORVDiskBLOBCache* entry = nullptr;
    GetBlobInfo(RecordBuffer, w.FieldNo, reference, entry);
    if (entry) entry->Modified = false;
    FreeBlobCache(RecordBuffer, w.FieldNo, false);
  }
}

void TORVDiskBlobManager::UndoBlobWrites(int32_t SessionID, void* RecordBuffer, const TORVBlobWrites& Writes,
                                         bool DeleteStored) {
  for (auto it = Writes.rbegin(); it != Writes.rend(); ++it) {
    if (DeleteStored && it->Stored) {
      try {
        DeleteStoredBlob(SessionID, it->NewReference);
      } catch (...) {
        // Left among the session's uncommitted changes, which the caller drops when it can.
      }
    }
    SetBlobInfo(RecordBuffer, it->FieldNo, it->OldReference);
  }
}

// ---- Streams and direct copies ---------------------------------------------------------------------

void TORVDiskBlobManager::CopyBlobFromRecordBufferToStream(int32_t SessionID, void* RecordBuffer, int32_t FieldNo,
                                                           TORVBLOBDescriptor& BLOBDescriptor,
                                                           platform::TStream& Stream) {
  if (CheckNullFlag(FieldNo, RecordBuffer)) {
    BLOBDescriptor.NumBlocks = 0;
    BLOBDescriptor.UncompressedSize = 0;
    return;
  }
  if (!ReadBlob(SessionID, RecordBuffer, FieldNo)) throw EORVException(20162, "Cannot read BLOB field value");
  TORVPageItemID reference;
  TORVDiskBLOBCache* entry = nullptr;
  GetBlobInfo(RecordBuffer, FieldNo, reference, entry);
  if (!entry) throw EORVException(20161, "Pointer is nil");
  int64_t done = 0;
  while (done < entry->CompressedSize) {
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(entry->CompressedSize - done, 1 << 30));
    SaveDataToStream(entry->BlobData + done, chunk, Stream, 20161);
    done += chunk;
  }
  BLOBDescriptor.NumBlocks = entry->NumBlocks;
  BLOBDescriptor.UncompressedSize = entry->UncompressedSize;
}

void TORVDiskBlobManager::CopyBlobFromStreamToRecordBuffer(void* RecordBuffer, int32_t FieldNo, TORVStream& Stream) {
  if (!Stream.Modified()) return;
  auto* local = dynamic_cast<TORVLocalBLOBStream*>(&Stream);
  if (!local) throw EORVException(20161, "Pointer is nil");
  FreeBlobCache(RecordBuffer, FieldNo, true);
  TORVDiskBLOBCache* entry = CreateBlobCache(RecordBuffer, FieldNo);
  TORVCompressedBLOBStream& compressed = local->TemporaryStream();
  entry->NumBlocks = static_cast<int32_t>(compressed.BLOBDescriptor().NumBlocks);
  entry->UncompressedSize = compressed.BLOBDescriptor().UncompressedSize;
  entry->Modified = true;
  platform::TStream& data = *compressed.CompressedStream();
  const int64_t size = data.GetSize();
  if (size > 0) {
    entry->BlobData = static_cast<uint8_t*>(MemoryManager().GetMem(size));
    entry->CompressedSize = size;
    data.Seek(0, platform::soBeginning);
    int64_t done = 0;
    while (done < size) {
      const auto chunk = static_cast<int32_t>(std::min<int64_t>(size - done, 1 << 30));
      LoadDataFromStream(entry->BlobData + done, chunk, data, 20161);
      done += chunk;
    }
  }
  SetNullFlag(Stream.GetSize() == 0, FieldNo, RecordBuffer);
}

void TORVDiskBlobManager::GetDirectBlobInfoFromRecordBuffer(int32_t SessionID, void* RecordBuffer, int32_t FieldNo,
                                                            TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                                            void*& pBlobData) {
  BLOBDescriptor = TORVPartialTemporaryBLOBDescriptor{};
  pBlobData = nullptr;
  if (CheckNullFlag(FieldNo, RecordBuffer)) return;
  if (!ReadBlob(SessionID, RecordBuffer, FieldNo)) throw EORVException(20291, "Cannot read BLOB field value");
  TORVPageItemID reference;
  TORVDiskBLOBCache* entry = nullptr;
  GetBlobInfo(RecordBuffer, FieldNo, reference, entry);
  if (!entry) throw EORVException(20291, "Cannot read BLOB field value");
  BLOBDescriptor.NumBlocks = entry->NumBlocks;
  BLOBDescriptor.UncompressedSize = entry->UncompressedSize;
  BLOBDescriptor.CompressedSize = entry->CompressedSize;
  pBlobData = entry->BlobData;
}

void TORVDiskBlobManager::SetDirectBlobInfoFromRecordBuffer(void* RecordBuffer, int32_t FieldNo,
                                                            const TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                                            const void* pBlobData) {
  FreeBlobCache(RecordBuffer, FieldNo, true);
  TORVDiskBLOBCache* entry = CreateBlobCache(RecordBuffer, FieldNo);
  entry->NumBlocks = BLOBDescriptor.NumBlocks;
  entry->UncompressedSize = BLOBDescriptor.UncompressedSize;
  entry->Modified = true;
  if (BLOBDescriptor.CompressedSize > 0) {
    if (!pBlobData) throw EORVException(20291, "Cannot read BLOB field value");
    entry->BlobData = static_cast<uint8_t*>(MemoryManager().GetMem(BLOBDescriptor.CompressedSize));
    entry->CompressedSize = BLOBDescriptor.CompressedSize;
    std::memcpy(entry->BlobData, pBlobData, static_cast<size_t>(BLOBDescriptor.CompressedSize));
  }
  SetNullFlag(BLOBDescriptor.CompressedSize == 0, FieldNo, RecordBuffer);
}

// ---- Pages -----------------------------------------------------------------------------------------------

bool TORVDiskBlobManager::IsSmallBlob(int64_t CompressedSize) const {
  return CompressedSize + 24 < LPageManager->PageDataSize();
}

bool TORVDiskBlobManager::PageInFile(int32_t PageNo) {
  const TORVDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  if (PageNo <= 0 || (fsm && fsm->IsPagePfsOrEam(PageNo))) return false;
  // Another process may have grown the file since this one last looked.
  if (PageNo < LPageManager->GetDbHeader()->TotalPageCount) return true;
  return PageNo < LPageManager->GetPageCount();
}

bool TORVDiskBlobManager::FindSmallBlob(int32_t SessionID, const TORVPageItemID& Reference,
                                        TORVDiskBLOBCache* BlobCache) {
  TORVHeldPage page(*LPageManager, LPageManager->GetPage(SessionID, Reference.PageNo, kAnyPageType, true));
  if (page->GetHeaderPageType() != ptTableBlob) return false;
  TORVSmallBlobPage view(page.Get());
  if (view.FindBlob(Reference.PageItemNo) < 0) return false;
  return !BlobCache || view.ReadBlob(*BlobCache, Reference);
}

bool TORVDiskBlobManager::ReadLargeBlobPages(int32_t SessionID, int32_t FirstPageNo, bool CheckPageTypes,
                                             std::vector<int32_t>& DataPages, std::vector<int32_t>& ListPages,
                                             TORVDiskBLOBHeader* Header) {
  DataPages.clear();
  ListPages.clear();
  const int32_t d = LPageManager->PageDataSize();
  if (!PageInFile(FirstPageNo)) return false;
  TORVDiskBLOBHeader header;
  TORVPageListLink link;
  {
    TORVHeldPage first(*LPageManager, LPageManager->GetPage(SessionID, FirstPageNo, kAnyPageType, true));
    if (first->GetHeaderPageType() != ptTableBlob) return false;
    header = TORVDiskBLOBHeader::ReadFrom(first.Data());
    link = TORVPageListLink::ReadFrom(first.Data() + kLinkOffset);
  }
  // As many data pages as the size needs, and a list where it can lie.
  if (header.CompressedSize < 0 || header.CompressedSize + 24 < d) return false;
  const int64_t rest = header.CompressedSize - (d - kLargeDataOffset);
  const int64_t pages = rest <= 0 ? 1 : 1 + (rest + d - 1) / d;
  if (link.ItemCount != pages || link.StartOffset > d || !PageInFile(link.StartPageNo)) return false;
  std::set<int32_t> seen;
  int32_t page_no = link.StartPageNo;
  int32_t offset = link.StartOffset;
  int32_t left = link.ItemCount;
  while (left > 0) {
    if (!PageInFile(page_no) || !seen.insert(page_no).second) return false;
    TORVHeldPage page(*LPageManager, LPageManager->GetPage(SessionID, page_no, kAnyPageType, true));
    if (page->GetHeaderPageType() != ptTableBlob) return false;
    ListPages.push_back(page_no);
    const int32_t here = std::min(left, (d - offset) / 4);
    for (int32_t i = 0; i < here; ++i)
      DataPages.push_back(static_cast<int32_t>(LoadLE32(page.Data() + offset + 4 * i)));
    left -= here;
    page_no = page.NextPageNo();
    offset = 0;
  }
  if (DataPages.empty() || DataPages.front() != FirstPageNo) return false;
  std::set<int32_t> data(DataPages.begin(), DataPages.end());
  if (data.size() != DataPages.size()) return false;
  for (int32_t p : DataPages)
    if (!PageInFile(p)) return false;
  // A list page is never a data page, except the last data page holding the list's start.
  for (size_t i = 0; i < ListPages.size(); ++i)
    if (data.count(ListPages[i]) && !(i == 0 && ListPages[i] == DataPages.back())) return false;
  if (CheckPageTypes) {
    for (int32_t p : DataPages) {
      TORVHeldPage page(*LPageManager, LPageManager->GetPage(SessionID, p, kAnyPageType, true));
      if (page->GetHeaderPageType() != ptTableBlob) return false;
    }
  }
  if (Header) *Header = header;
  return true;
}

bool TORVDiskBlobManager::InternalReadBlob(int32_t SessionID, TORVDiskBLOBCache& BlobCache,
                                           const TORVPageItemID& Reference) {
  if (!IsStoredReference(Reference)) return false;
  if (Reference.PageItemNo != kLargeBlobID) {
    if (FindSmallBlob(SessionID, Reference, &BlobCache)) return true;
    // Only 255 may also name a large BLOB (files of older writers gave small BLOBs that id).
    if (Reference.PageItemNo != kAmbiguousBlobID) return false;
  }
  std::vector<int32_t> data_pages, list_pages;
  TORVDiskBLOBHeader header;
  if (!ReadLargeBlobPages(SessionID, Reference.PageNo, Reference.PageItemNo == kAmbiguousBlobID, data_pages,
                          list_pages, &header))
    return false;
  const int32_t d = LPageManager->PageDataSize();
  auto* data = static_cast<uint8_t*>(MemoryManager().GetMem(std::max<int64_t>(header.CompressedSize, 1)));
  try {
    int64_t done = 0;
    for (size_t i = 0; i < data_pages.size() && done < header.CompressedSize; ++i) {
      TORVHeldPage page(*LPageManager, LPageManager->GetPage(SessionID, data_pages[i], ptTableBlob, true));
      const int32_t offset = i == 0 ? kLargeDataOffset : 0;
      const int64_t n = std::min<int64_t>(header.CompressedSize - done, d - offset);
      std::memcpy(data + done, page.Data() + offset, static_cast<size_t>(n));
      done += n;
    }
  } catch (...) {
    MemoryManager().FreeMem(data);
    throw;
  }
  if (BlobCache.BlobData) MemoryManager().FreeMem(BlobCache.BlobData);
  BlobCache.BlobData = data;
  BlobCache.CompressedSize = header.CompressedSize;
  BlobCache.NumBlocks = header.NumBlocks;
  BlobCache.UncompressedSize = header.UncompressedSize;
  BlobCache.Modified = false;
  return true;
}

TORVPageItemID TORVDiskBlobManager::InternalWriteSmallBlob(int32_t SessionID, const TORVDiskBLOBCache& BlobCache) {
  const int32_t d = LPageManager->PageDataSize();
  const auto blob_size = static_cast<int32_t>(BlobCache.CompressedSize + kHeaderSize);
  int32_t page_no = -1;
  TORVPage* page = nullptr;
  bool new_page = false;
  if (FBlobPageIndex->FindPageForNewBlob(SessionID, blob_size, page_no)) {
    page = LPageManager->GetPage(SessionID, page_no, ptTableBlob, true);
  } else {
    page = LPageManager->AddPage(SessionID, ptTableBlob);
    page_no = page->FPageNo;
    new_page = true;
  }
  TORVPageItemID reference;
  bool added = false;
  try {
    {
      TORVHeldPage held(*LPageManager, page);
      TORVSmallBlobPage view(page);
      const int32_t free_offset = view.BlobHeaderOffset(view.GetBlobCount());
      if (free_offset + blob_size > d)
        throw EORVException(20290,
                            "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, "
                            "PageDataSize=%d, SizeInBlobPageIndex=%d",
                            {static_cast<int32_t>(view.GetBlobCount()), free_offset, blob_size, d,
                             FBlobPageIndex->GetBlobPageAllocatedSpace(SessionID, page_no)});
      view.AddBlob(BlobCache, reference);
      added = true;
    }
    FBlobPageIndex->AddBlob(SessionID, blob_size, page_no);
  } catch (...) {
    try {
      if (added) {
        TORVHeldPage held(*LPageManager, LPageManager->GetPage(SessionID, page_no, ptTableBlob, true));
        int32_t size = 0;
        TORVSmallBlobPage(held.Get()).DeleteBlob(reference, size);
      }
      if (new_page) LPageManager->RemovePage(SessionID, page_no);
    } catch (...) {
    }
    throw;
  }
  return reference;
}

TORVPageItemID TORVDiskBlobManager::InternalWriteLargeBlob(int32_t SessionID, const TORVDiskBLOBCache& BlobCache) {
  const int32_t d = LPageManager->PageDataSize();
  std::vector<int32_t> allocated;
  const auto new_page = [&]() {
    TORVPage* page = LPageManager->AddPage(SessionID, ptTableBlob);
    allocated.push_back(page->FPageNo);
    return page;
  };
  try {
    std::vector<int32_t> data_pages;
    int64_t done = 0;
    int32_t offset = kLargeDataOffset;
    const int32_t first_no = [&] {
      TORVHeldPage first(*LPageManager, new_page());
      TORVDiskBLOBHeader header;
      header.BlobID = 0;
      header.NumBlocks = BlobCache.NumBlocks;
      header.CompressedSize = BlobCache.CompressedSize;
      header.UncompressedSize = BlobCache.UncompressedSize;
      header.WriteTo(first.Data());
      return first->FPageNo;
    }();
    int32_t page_no = first_no;
    for (;;) {
      TORVHeldPage page(*LPageManager, page_no == first_no && data_pages.empty()
                                           ? LPageManager->GetPage(SessionID, first_no, ptTableBlob, true)
                                           : new_page());
      page_no = page->FPageNo;
      data_pages.push_back(page_no);
      const int64_t n = std::min<int64_t>(BlobCache.CompressedSize - done, d - offset);
      if (n > 0) std::memcpy(page.Data() + offset, BlobCache.BlobData + done, static_cast<size_t>(n));
      page.MarkDirty();
      done += n;
      offset += static_cast<int32_t>(n);
      if (done >= BlobCache.CompressedSize) break;
      offset = 0;
    }
    // The list: behind the last byte, or on a page of its own when the last page is full.
    TORVPageListLink link;
    link.ItemCount = static_cast<int32_t>(data_pages.size());
    int32_t list_page = page_no;
    if (offset >= d) {
      TORVHeldPage fresh(*LPageManager, new_page());
      list_page = fresh->FPageNo;
      offset = 0;
    }
    link.StartPageNo = list_page;
    link.StartOffset = static_cast<uint16_t>(offset);
    size_t next_entry = 0;
    for (;;) {
      TORVHeldPage page(*LPageManager, LPageManager->GetPage(SessionID, list_page, ptTableBlob, true));
      const int32_t here = std::min<int32_t>(static_cast<int32_t>(data_pages.size() - next_entry), (d - offset) / 4);
      for (int32_t i = 0; i < here; ++i)
        StoreLE32(page.Data() + offset + 4 * i, static_cast<uint32_t>(data_pages[next_entry + static_cast<size_t>(i)]));
      next_entry += static_cast<size_t>(here);
      page.MarkDirty();
      if (next_entry >= data_pages.size()) break;
      TORVHeldPage more(*LPageManager, new_page());
      page.SetNextPageNo(more->FPageNo);
      list_page = more->FPageNo;
      offset = 0;
    }
    TORVHeldPage first(*LPageManager, LPageManager->GetPage(SessionID, first_no, ptTableBlob, true));
    link.WriteTo(first.Data() + kLinkOffset);
    first.MarkDirty();
    return {first_no, kLargeBlobID};
  } catch (...) {
    // Nothing of a BLOB that was not stored whole stays behind for a later commit.
    for (int32_t p : allocated) {
      try {
        LPageManager->RemovePage(SessionID, p);
      } catch (...) {
      }
    }
    throw;
  }
}

void TORVDiskBlobManager::DeleteStoredBlob(int32_t SessionID, const TORVPageItemID& Reference) {
  if (!IsStoredReference(Reference)) return;
  if (Reference.PageItemNo != kLargeBlobID && FindSmallBlob(SessionID, Reference, nullptr)) {
    int32_t size = 0;
    bool empty = false;
    {
      TORVHeldPage page(*LPageManager, LPageManager->GetPage(SessionID, Reference.PageNo, ptTableBlob, true));
      TORVSmallBlobPage view(page.Get());
      view.DeleteBlob(Reference, size);
      empty = view.GetBlobCount() == 0;
    }
    if (empty) LPageManager->RemovePage(SessionID, Reference.PageNo);
    FBlobPageIndex->DeleteBlob(SessionID, size, Reference.PageNo);
    return;
  }
  std::vector<int32_t> data_pages, list_pages;
  if ((Reference.PageItemNo == kLargeBlobID || Reference.PageItemNo == kAmbiguousBlobID) &&
      ReadLargeBlobPages(SessionID, Reference.PageNo, Reference.PageItemNo == kAmbiguousBlobID, data_pages,
                         list_pages)) {
    for (int32_t p : data_pages) LPageManager->RemovePage(SessionID, p);
    for (size_t i = 0; i < list_pages.size(); ++i)
      if (!(i == 0 && list_pages[i] == data_pages.back())) LPageManager->RemovePage(SessionID, list_pages[i]);
    return;
  }
  throw EORVException(20171, "Cannot find blob field");
}

}  // namespace orv
