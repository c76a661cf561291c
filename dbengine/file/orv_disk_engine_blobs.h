#pragma once
// BLOB pages of a disk table and the table's BLOB manager.
//
// A BLOB field's record holds a 6-byte reference; the value's stored (compressed) image lives
// on BLOB pages (page type 11):
//   - a small BLOB (stored size + 24 below the page data size) shares a page with others:
//       offset 0: BlobCount (Word), then per BLOB its 22-byte header and its stored bytes,
//       packed; found by its BlobID (unique on the page, never 255 or 65535 for new ones);
//   - a large BLOB has pages of its own: the first holds the header (0..21), the link to its
//     page list (22..31) and data from 32; further data pages are filled from 0; the list of
//     the data pages (Int32 each, in data order) follows the last data byte and continues at
//     offset 0 of the pages chained through the header's NextPageNo.
//
//   reference     | PageNo      | PageItemNo
//   never stored  | 0           | any
//   deleted       | -1          | 65535
//   small         | its page    | its BlobID
//   large         | first page  | 65535
//
// In a memory record buffer a BLOB field takes 10 bytes: the reference, then the id (UInt32)
// of the field's cache entry in this manager, 0 for none. An id is only an entry while the
// manager lists it (for that field); ids are never handed out twice, so a copy of a buffer whose
// entry went reads as having none, never as someone else's.
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/orv_btree_page_index.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_page.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVDiskPageManager;
class TORVDiskRecordManager;

// A BLOB value travelling between a cursor's record buffer and the pages.
struct TORVDiskBLOBCache {
  ~TORVDiskBLOBCache();
  int32_t FieldNo = -1;
  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  bool Modified = false;
  uint8_t* BlobData = nullptr;  // the engine's memory manager; nil for an empty value
  int64_t CompressedSize = 0;   // bytes at BlobData
};

// A view over one small-BLOB page held in the page cache, for one operation.
class TORVSmallBlobPage {
 public:
  explicit TORVSmallBlobPage(TORVPage* Page) : LPage(Page) {}

  uint16_t GetBlobCount() const;
  void SetBlobCount(uint16_t Value);
  // The page offset of entry Index's header; Index = BlobCount gives the first free byte.
  // Entries that do not fit the page data: 30562.
  int32_t BlobHeaderOffset(int32_t Index) const;
  uint8_t* BlobHeader(int32_t Index) const { return Data() + BlobHeaderOffset(Index); }
  uint8_t* BlobData(int32_t Index) const { return BlobHeader(Index) + TORVDiskBLOBHeader::StoredSize; }
  // Whether every entry lies inside the page data (a page that is no small-BLOB page fails).
  bool EntriesFit() const;
  // The entry with that BlobID; -1 when none (or when the entries do not fit the page).
  int32_t FindBlob(uint16_t BlobID) const;
  // Starting at the BLOB count and never 255 or 65535 (20172 when no id is left).
  uint16_t GetNewBlobID() const;
  // Appended (the caller made sure it fits); PageItemID := (page, new BlobID).
  void AddBlob(const TORVDiskBLOBCache& BlobCache, TORVPageItemID& PageItemID);
  // Removes the entry, moving the rest of the page data down; BlobSize := 22 + its stored
  // size. Not there: 20171.
  void DeleteBlob(const TORVPageItemID& PageItemID, int32_t& BlobSize);
  // Fills the entry from the page; False when the BlobID is not there.
  bool ReadBlob(TORVDiskBLOBCache& BlobCache, const TORVPageItemID& PageItemID) const;

 private:
  // The page's data; a page without a buffer: 30565.
  uint8_t* Data() const;
  TORVPage* LPage;
};

// What storing the modified BLOBs of a record buffer did, field by field, so that the table can
// finish it once the record is stored or take it back when it is not.
struct TORVBlobWrite {
  int32_t FieldNo = -1;
  TORVPageItemID OldReference;  // the buffer's reference before
  TORVPageItemID NewReference;  // the value stored now (or the deleted mark for an empty value)
  bool Stored = false;          // NewReference names pages written for it
};
using TORVBlobWrites = std::vector<TORVBlobWrite>;

class TORVDiskBlobManager {
 public:
  TORVDiskBlobManager(TORVDiskPageManager* PageManager, TORVBaseFieldManager* FieldManager,
                      TORVDiskRecordManager* RecordManager);
  // Frees what is left in the cache without a word: Close reports it.
  ~TORVDiskBlobManager();
  TORVDiskBlobManager(const TORVDiskBlobManager&) = delete;
  TORVDiskBlobManager& operator=(const TORVDiskBlobManager&) = delete;

  // 20150 when cache entries are left (they are freed all the same).
  void Close();
  void CreateBlobPageIndex();
  void LoadMetadata(platform::TStream& Stream);
  void SaveMetadata(platform::TStream& Stream) const;
  // Deletes the stored BLOBs of every record (the records stay), then empties the index.
  void Empty(int32_t SessionID);
  void Delete(int32_t SessionID);

  // ---- Per field of a memory record buffer ----
  // Brings the stored BLOB into a cache entry when the field has none; True when the field has
  // an entry afterwards (a reference that names no stored BLOB gives none).
  bool ReadBlob(int32_t SessionID, void* RecordBuffer, int32_t FieldNo);
  // A modified value is stored, the old stored value deleted and the entry freed.
  void WriteBlob(int32_t SessionID, void* RecordBuffer, int32_t FieldNo);
  // The stored value is deleted (the buffer's reference is left as it was); an entry is marked
  // not modified.
  void DeleteBlob(int32_t SessionID, void* RecordBuffer, int32_t FieldNo);
  void WriteBlobs(int32_t SessionID, void* RecordBuffer);
  void DeleteBlobs(int32_t SessionID, void* RecordBuffer);
  // The stored BLOB of a reference (a small one of id 255 or a large one, decided by what the
  // page holds). One that cannot be found: 20171.
  void DeleteStoredBlob(int32_t SessionID, const TORVPageItemID& Reference);

  // ---- A record change in steps (insert, update) ----
  // Stores every modified value of the buffer and puts its new reference in; the entries stay
  // modified and the old stored values stay where they are. On a failure the values stored so
  // far are deleted again and the references put back.
  TORVBlobWrites StoreModifiedBlobs(int32_t SessionID, void* RecordBuffer);
  // After the record took the new references: the old stored values go.
  void DeleteReplacedBlobs(int32_t SessionID, const TORVBlobWrites& Writes);
  // After the change was applied: the entries are done with.
  void ReleaseWrittenBlobs(void* RecordBuffer, const TORVBlobWrites& Writes);
  // The record did not take them: the old references go back into the buffer, with their
  // entries still modified, and (with DeleteStored) the values stored for it are deleted.
  void UndoBlobWrites(int32_t SessionID, void* RecordBuffer, const TORVBlobWrites& Writes, bool DeleteStored);

  // ---- Between record buffers and streams ----
  // A NULL field: descriptor 0 and the stream untouched. Else the stored bytes are written to
  // Stream; a BLOB that cannot be read: 20162.
  void CopyBlobFromRecordBufferToStream(int32_t SessionID, void* RecordBuffer, int32_t FieldNo,
                                        TORVBLOBDescriptor& BLOBDescriptor, platform::TStream& Stream);
  // A modified cursor stream (a TORVLocalBLOBStream) becomes the field's modified entry.
  void CopyBlobFromStreamToRecordBuffer(void* RecordBuffer, int32_t FieldNo, TORVStream& Stream);
  void ClearBlobInRecordBuffer(void* RecordBuffer, int32_t FieldNo, bool ForceClear);
  // The stored image as the entry holds it (still owned by the entry); a BLOB that cannot be
  // read: 20291.
  void GetDirectBlobInfoFromRecordBuffer(int32_t SessionID, void* RecordBuffer, int32_t FieldNo,
                                         TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor, void*& pBlobData);
  void SetDirectBlobInfoFromRecordBuffer(void* RecordBuffer, int32_t FieldNo,
                                         const TORVPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                         const void* pBlobData);

  // ---- Cache helpers ----
  void GetBlobInfo(const void* RecordBuffer, int32_t FieldNo, TORVPageItemID& PageItemID,
                   TORVDiskBLOBCache*& BlobCache) const;
  void SetBlobInfo(void* RecordBuffer, int32_t FieldNo, const TORVPageItemID& PageItemID) const;
  TORVDiskBLOBCache* CreateBlobCache(void* RecordBuffer, int32_t FieldNo);
  void FreeBlobCache(void* RecordBuffer, int32_t FieldNo, bool ForceClear);
  // Every entry, modified or not (the table is closing).
  void FreeAllBlobCaches();

  // ---- Storage ----
  bool IsSmallBlob(int64_t CompressedSize) const;
  // Reads the stored BLOB of Reference into BlobCache; False when it is not found.
  bool InternalReadBlob(int32_t SessionID, TORVDiskBLOBCache& BlobCache, const TORVPageItemID& Reference);
  TORVPageItemID InternalWriteSmallBlob(int32_t SessionID, const TORVDiskBLOBCache& BlobCache);
  TORVPageItemID InternalWriteLargeBlob(int32_t SessionID, const TORVDiskBLOBCache& BlobCache);
  // The data pages and the pages of the list of a large BLOB, read and checked (inside the
  // file, no page twice, as many data pages as its size needs); False when the first page holds
  // no such BLOB.
  bool ReadLargeBlobPages(int32_t SessionID, int32_t FirstPageNo, bool CheckPageTypes, std::vector<int32_t>& DataPages,
                          std::vector<int32_t>& ListPages, TORVDiskBLOBHeader* Header = nullptr);

  int32_t CacheCount() const { return static_cast<int32_t>(FBlobCacheList.size()); }
  TORVBTreeBlobPageIndex& BlobPageIndex() const { return *FBlobPageIndex; }

 private:
  bool BlobFieldsPresent() const;
  uint8_t* FieldPointer(const void* RecordBuffer, int32_t FieldNo) const;
  bool FindSmallBlob(int32_t SessionID, const TORVPageItemID& Reference, TORVDiskBLOBCache* BlobCache);
  bool PageInFile(int32_t PageNo);

  TORVDiskPageManager* LPageManager;
  TORVBaseFieldManager* LFieldManager;
  TORVDiskRecordManager* LRecordManager;
  std::unordered_map<uint32_t, std::unique_ptr<TORVDiskBLOBCache>> FBlobCacheList;
  std::unique_ptr<TORVBTreeBlobPageIndex> FBlobPageIndex;
};

}  // namespace orv
