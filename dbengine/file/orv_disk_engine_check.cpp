#include "dbengine/file/orv_disk_engine_check.h"

#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/orv_disk_engine_free_space.h"
#include "dbengine/file/orv_disk_engine_layout.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/file/orv_disk_engine_table.h"
#include "dbengine/storage/orv_base_engine_scoped.h"
#include "dbengine/storage/orv_btree_page.h"
#include "dbengine/storage/orv_btree_record_index.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

constexpr int32_t kSession = SYSTEM_SESSION_ID;

class Checker {
 public:
  explicit Checker(TORVDiskDatabaseData& Database)
      : db_(Database), pm_(*Database.GetDiskPageManager()), fsm_(*pm_.FreeSpaceManager()) {}

  DatabaseCheckReport Run() {
    pm_.LoadDBHeader();
    total_ = pm_.GetPageCount();
    report_.PageCount = total_;
    CheckHeader();
    CheckMaps();
    CheckSystemFiles();
    for (const TORVTableListItem& item : db_.GetTableListFile()->Items()) CheckTable(item);
    CountUsage();
    return std::move(report_);
  }

 private:
  void Error(const std::string& Text) { report_.Errors.push_back(Text); }

  // A page reached from a structure; What names the structure for the messages.
  bool Reach(int32_t PageNo, const std::string& What) {
    if (PageNo < 0 || PageNo >= total_) {
      Error(What + ": page " + std::to_string(PageNo) + " lies outside the file");
      return false;
    }
    const auto [it, fresh] = reached_.emplace(PageNo, What);
    if (!fresh) {
      Error(What + ": page " + std::to_string(PageNo) + " is also reached as " + it->second);
      return false;
    }
    return true;
  }

  TORVDiskPageHeader RawHeader(int32_t PageNo) {
    uint8_t bytes[TORVDiskPageHeader::StoredSize];
    pm_.ReadPageRegion(bytes, PageNo, 0, sizeof bytes);
    return TORVDiskPageHeader::ReadFrom(bytes);
  }

  void CheckHeader() {
    const TORVDBHeader& h = *pm_.GetDbHeader();
    if (std::memcmp(h.Signature.data(), ORVDatabaseSignature, ORVDatabaseSignatureSize) != 0)
      Error("header: no database signature");
    if (h.Version < ORVMinimumDatabaseVersion) Error("header: version below 2.99");
    if (h.WriteChangesState != WriteChangesFinished) Error("header: a commit was left unfinished");
    const int64_t needed = pm_.OffsetToFirstPage() + static_cast<int64_t>(total_) * pm_.PageSize();
    if (pm_.DatabaseFile().GetSize() < needed) Error("header: the file ends before its last page");
    if (h.LastUsedPageNo >= total_) Error("header: the last used page lies beyond the pages");
  }

  void CheckMaps() {
    for (int32_t p = 0; p < total_; ++p) {
      if (!fsm_.IsPagePfsOrEam(p)) continue;
      const bool pfs = fsm_.PfsPageNoForPageNo(p) == p;
      const std::string what = pfs ? "PFS page" : "EAM page";
      if (!Reach(p, what)) continue;
      try {
        const uint16_t type = RawHeader(p).PageType;
        if (type != (pfs ? ptPFS : ptEAM)) Error(what + " " + std::to_string(p) + " has page type " + std::to_string(type));
      } catch (const std::exception& e) {
        Error(what + " " + std::to_string(p) + ": " + e.what());
      }
    }
  }

  // The pages of an internal file, by its chain.
  void Chain(int32_t StartPageNo, uint16_t PageType, const std::string& What) {
    int32_t p = StartPageNo;
    int32_t count = 0;
    while (p != -1) {
      if (!Reach(p, What)) return;
      TORVDiskPageHeader header;
      try {
        header = RawHeader(p);
      } catch (const std::exception& e) {
        Error(What + ": " + e.what());
        return;
      }
      if (header.PageType != PageType) {
        Error(What + ": page " + std::to_string(p) + " has page type " + std::to_string(header.PageType));
        return;
      }
      if (++count > total_) return;
      p = header.NextPageNo;
    }
  }

  void CheckSystemFiles() {
    Chain(ORVFirstPageNoSystemDirectory, ptFileSystemDirectory, "system directory");
    const TORVSystemDirectory& dir = *db_.GetSystemDirectory();
    Chain(dir.GetFileFirstPageNo(dbftActiveSessionsList), ptActiveSessionList, "sessions file");
    Chain(dir.GetFileFirstPageNo(dbftTablesList), ptTableList, "table list");
    try {
      db_.GetTableListFile()->Load();
    } catch (const std::exception& e) {
      Error(std::string("table list: ") + e.what());
    }
  }

  // Every page of a B-tree, from its root down.
  void Tree(const TORVBTreePage& Template, int32_t Root, const std::string& What) {
    if (Root == -1) return;
    std::vector<int32_t> stack{Root};
    while (!stack.empty()) {
      const int32_t p = stack.back();
      stack.pop_back();
      if (!Reach(p, What)) continue;
      TORVBTreePageRef page = Template.GetIndexPage(kSession, p);
      if (page->GetIsLeaf()) continue;
      for (int32_t i = 0; i < page->GetEntryCount(); ++i)
        stack.push_back(static_cast<int32_t>(LoadLE32(page->GetPReference(i))));
    }
  }

  void CheckTable(const TORVTableListItem& Item) {
    const std::string name = "table " + Item.TableName;
    DatabaseCheckReport::Table summary;
    summary.Name = Item.TableName;
    Chain(Item.MetaDataFilePageNo, ptTableMetaDataFile, name + " metadata");
    Chain(Item.MostUpdatedFilePageNo, ptTableMostUpdatedFile, name + " most-updated file");
    Chain(Item.LocksFilePageNo, ptTableLocksFile, name + " locks file");
    TORVDiskTableData table(&db_);
    table.FTableName = Item.TableName;
    try {
      table.LoadForInspection(kSession);
    } catch (const std::exception& e) {
      Error(name + ": cannot be loaded: " + e.what());
      report_.Tables.push_back(summary);
      return;
    }
    if (table.FTableID != Item.TableID) Error(name + ": table id differs from the table list");
    try {
      CheckRecords(table, name, summary);
    } catch (const std::exception& e) {
      Error(name + ": " + e.what());
    }
    report_.Tables.push_back(summary);
  }

  void CheckRecords(TORVDiskTableData& Table, const std::string& Name, DatabaseCheckReport::Table& Summary) {
    TORVDiskRecordManager& records = Table.Records();
    TORVBTreeRecordPageIndex& page_index = records.RecordPageIndex();
    if (page_index.RootPageNo() == -1) throw EORVException(20115, "the record page index has no root");
    {
      TORVBTreePageRef root = page_index.GetIndexPage(kSession, page_index.RootPageNo());
      Tree(*root, page_index.RootPageNo(), Name + " record page index");
    }
    page_index.CheckIntegrity(kSession);
    const TORVFieldDefs& defs = Table.FFieldManager->FFieldDefs;
    detail::ScratchBuffer disk(std::max(records.DiskRecordBufferSize(), 1));
    detail::ScratchBuffer memory(std::max(defs.GetMemoryRecordBufferSize(), 1));
    std::vector<TORVPageItemID> ids;
    std::vector<std::vector<uint8_t>> buffers;
    int64_t sum = 0;
    TORVKeyPath position;
    for (bool ok = page_index.GetFirstPosition(kSession, position); ok; ok = page_index.GetNextPosition(kSession, position)) {
      const int32_t p = page_index.GetPageNo(kSession, position);
      const int32_t value = page_index.GetPageValue(kSession, position);
      sum += value;
      if (!Reach(p, Name + " record page")) continue;
      TORVHeldPage page(pm_, pm_.GetPage(kSession, p, 255, true));
      if (!records.IsRecordPageValid(*page.Get())) {
        Error(Name + ": page " + std::to_string(p) + " is no record page of the table");
        continue;
      }
      TORVSmallRecordPage view(page.Get(), records.DiskRecordBufferSize(), records.MaxRecordsOnPage());
      if (view.GetRecordCount() != value)
        Error(Name + ": record page " + std::to_string(p) + " holds " + std::to_string(view.GetRecordCount()) +
              " records, its index entry says " + std::to_string(value));
      for (int32_t slot = 0; slot < records.MaxRecordsOnPage(); ++slot) {
        if (!view.IsSlotUsed(slot)) continue;
        const TORVPageItemID id{p, static_cast<uint16_t>(slot)};
        view.GetRecordBuffer(id, disk.get());
        Table.FFieldManager->DiskRecordBufferToMemRecordBuffer(disk.get(), memory.get());
        ids.push_back(id);
        const auto* bytes = static_cast<const uint8_t*>(memory.get());
        buffers.emplace_back(bytes, bytes + defs.GetMemoryRecordBufferSize());
      }
    }
    if (sum != records.FRecordCount)
      Error(Name + ": the record page index counts " + std::to_string(sum) + " records, the table " +
            std::to_string(records.FRecordCount));
    if (static_cast<int64_t>(ids.size()) != sum)
      Error(Name + ": " + std::to_string(ids.size()) + " records on the pages, " + std::to_string(sum) + " indexed");
    Summary.RecordCount = static_cast<int64_t>(ids.size());
    CheckBlobs(Table, Name, ids, buffers, Summary);
    CheckIndexes(Table, Name, ids, buffers);
  }

  void CheckBlobs(TORVDiskTableData& Table, const std::string& Name, const std::vector<TORVPageItemID>& Ids,
                  const std::vector<std::vector<uint8_t>>& Buffers, DatabaseCheckReport::Table& Summary) {
    TORVDiskBlobManager& blobs = Table.Blobs();
    TORVBTreeBlobPageIndex& index = blobs.BlobPageIndex();
    const TORVFieldDefs& defs = Table.FFieldManager->FFieldDefs;
    // The small-BLOB pages, as the index lists them, with the ids on each.
    std::map<int32_t, std::set<uint16_t>> small;
    if (index.RootPageNo() != -1) {
      {
        TORVBTreePageRef root = index.GetIndexPage(kSession, index.RootPageNo());
        Tree(*root, index.RootPageNo(), Name + " BLOB page index");
      }
      index.CheckIntegrity(kSession);
      TORVKeyPath position;
      for (bool ok = index.GetFirstPosition(kSession, position); ok; ok = index.GetNextPosition(kSession, position)) {
        const int32_t p = index.GetPageNo(kSession, position);
        const int32_t value = index.GetPageValue(kSession, position);
        if (!Reach(p, Name + " small-BLOB page")) continue;
        TORVHeldPage page(pm_, pm_.GetPage(kSession, p, 255, true));
        TORVSmallBlobPage view(page.Get());
        if (page->GetHeaderPageType() != ptTableBlob || !view.EntriesFit()) {
          Error(Name + ": page " + std::to_string(p) + " is no small-BLOB page");
          continue;
        }
        int32_t bytes = 0;
        std::set<uint16_t>& ids = small[p];
        for (int32_t i = 0; i < view.GetBlobCount(); ++i) {
          const TORVDiskBLOBHeader h = TORVDiskBLOBHeader::ReadFrom(view.BlobHeader(i));
          bytes += TORVDiskBLOBHeader::StoredSize + static_cast<int32_t>(h.CompressedSize);
          if (!ids.insert(h.BlobID).second)
            Error(Name + ": BLOB id " + std::to_string(h.BlobID) + " twice on page " + std::to_string(p));
        }
        if (bytes != value)
          Error(Name + ": small-BLOB page " + std::to_string(p) + " holds " + std::to_string(bytes) +
                " bytes, its index entry says " + std::to_string(value));
      }
    }
    for (size_t r = 0; r < Ids.size(); ++r) {
      for (int32_t f = 0; f < defs.GetCount(); ++f) {
        const TORVFieldDef* def = defs.GetDef(f);
        if (!IsBLOBFieldType(def->BaseFieldType) || CheckNullFlag(f, Buffers[r].data())) continue;
        const TORVPageItemID ref = TORVPageItemID::ReadFrom(Buffers[r].data() + def->MemoryOffset);
        const std::string what = Name + " record (" + std::to_string(Ids[r].PageNo) + "," +
                                 std::to_string(Ids[r].PageItemNo) + ") field " + def->Name;
        if (ref.PageNo == 0 || ref.PageNo == -1) {
          Error(what + ": a value without a stored BLOB");
          continue;
        }
        ++Summary.BlobCount;
        const auto page = small.find(ref.PageNo);
        if (ref.PageItemNo != 0xFFFF && page != small.end() && page->second.count(ref.PageItemNo)) {
          page->second.erase(ref.PageItemNo);  // each small BLOB belongs to one record
          continue;
        }
        std::vector<int32_t> data_pages, list_pages;
        if (ref.PageItemNo == 0xFFFF || ref.PageItemNo == 255) {
          if (blobs.ReadLargeBlobPages(kSession, ref.PageNo, true, data_pages, list_pages)) {
            for (int32_t p : data_pages) Reach(p, what + " (BLOB data)");
            for (size_t i = 0; i < list_pages.size(); ++i)
              if (!(i == 0 && list_pages[i] == data_pages.back())) Reach(list_pages[i], what + " (BLOB page list)");
            continue;
          }
        }
        Error(what + ": BLOB (" + std::to_string(ref.PageNo) + "," + std::to_string(ref.PageItemNo) +
              ") cannot be found");
      }
    }
    for (const auto& [p, ids] : small) report_.OrphanBlobs += static_cast<int32_t>(ids.size());
  }

  void CheckIndexes(TORVDiskTableData& Table, const std::string& Name, const std::vector<TORVPageItemID>& Ids,
                    const std::vector<std::vector<uint8_t>>& Buffers) {
    TORVBaseIndexManager& indexes = *Table.FIndexManager;
    for (int32_t i = 0; i < indexes.FIndexDefs.GetCount(); ++i) {
      const TORVIndexDef& def = *indexes.FIndexDefs.GetIndexDef(i);
      if (def.Temporary) continue;
      const std::string what = Name + " index " + def.Name;
      try {
        auto* index = static_cast<TORVBTreeRecordIndex*>(indexes.OpenIndex(def.ObjectID));
        TORVBTreePage tree(indexes.GetPageManager(*index), index->KeyRef());
        Tree(tree, def.RootPageNo, what);
        TORVKeyPath path;
        tree.GetIndexPage(kSession, def.RootPageNo)->CheckIntegrity(kSession, path);
        int64_t entries = 0;
        TORVKeyPath position;
        for (bool ok = index->GetFirstPosition(kSession, position); ok; ok = index->GetNextPosition(kSession, position))
          ++entries;
        if (entries != static_cast<int64_t>(Ids.size()))
          Error(what + ": " + std::to_string(entries) + " entries for " + std::to_string(Ids.size()) + " records");
        for (size_t r = 0; r < Ids.size(); ++r) {
          TORVKeyPath at;
          if (!index->GetIndexPosition(kSession, Ids[r], Buffers[r].data(), &at))
            Error(what + ": record (" + std::to_string(Ids[r].PageNo) + "," + std::to_string(Ids[r].PageItemNo) +
                  ") is not found under its values");
        }
      } catch (const std::exception& e) {
        Error(what + ": " + e.what());
      }
    }
  }

  void CountUsage() {
    for (const auto& [p, what] : reached_) {
      if (p >= total_) continue;
      bool used = false;
      try {
        used = fsm_.GetPageUsageFromPFS(p);
      } catch (const std::exception& e) {
        Error("PFS of page " + std::to_string(p) + ": " + e.what());
        continue;
      }
      if (!used) Error(what + ": page " + std::to_string(p) + " is reached but marked free");
    }
    report_.ReachedPages = static_cast<int32_t>(reached_.size());
    for (int32_t p = 0; p < total_; ++p) {
      bool used = false;
      try {
        used = fsm_.GetPageUsageFromPFS(p);
      } catch (...) {
        continue;
      }
      if (!used) continue;
      ++report_.UsedPages;
      if (!reached_.count(p)) ++report_.LeakedPages;
    }
  }

  TORVDiskDatabaseData& db_;
  TORVDiskPageManager& pm_;
  TORVDatabaseFreeSpaceManager& fsm_;
  int32_t total_ = 0;
  std::map<int32_t, std::string> reached_;
  DatabaseCheckReport report_;
};

}  // namespace

std::string DatabaseCheckReport::Text() const {
  std::ostringstream out;
  for (const std::string& e : Errors) out << e << "\n";
  out << "pages " << PageCount << ", used " << UsedPages << ", reached " << ReachedPages << ", leaked " << LeakedPages
      << ", orphan BLOBs " << OrphanBlobs << "\n";
  for (const Table& t : Tables) out << t.Name << ": " << t.RecordCount << " records, " << t.BlobCount << " BLOBs\n";
  return out.str();
}

DatabaseCheckReport CheckDatabase(TORVDiskDatabaseData& Database) {
  TORVLockGuard<TORVDatabaseData> guard(Database);
  if (!Database.GetDiskPageManager() || !Database.IsOpened() || !Database.GetDiskPageManager()->FreeSpaceManager())
    throw EORVException(30399, "Error - database file is not opened.");
  return Checker(Database).Run();
}

}  // namespace orv
