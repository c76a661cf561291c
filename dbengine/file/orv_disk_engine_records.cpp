#include "dbengine/file/orv_disk_engine_records.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "dbengine/file/orv_disk_engine_free_space.h"
#include "dbengine/file/orv_disk_engine_internal_files.h"
#include "dbengine/file/orv_disk_engine_layout.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/file/orv_disk_engine_table.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "platform/base/byte_order.h"

namespace orv {

uint8_t* TORVSmallRecordPage::Data() const {
  if (FCopy) return FCopy;
  uint8_t* data = LPage ? LPage->GetPageData() : nullptr;
  if (!data) throw EORVException(30565, "Page has no buffer");
  return data;
}

TORVPage& TORVSmallRecordPage::WritablePage() const {
  if (!LPage) throw EORVException(30565, "Page has no buffer");
  return *LPage;
}

namespace {

constexpr uint16_t kAnyPageType = 255;

int32_t BitmapSize(int32_t MaxRecordsOnPage) { return (MaxRecordsOnPage + 7) / 8; }

}  // namespace

// ==== Record page ===============================================================================

TORVSmallRecordPage::TORVSmallRecordPage(TORVPage* Page, int32_t RecordBufferSize, int32_t MaxRecordsOnPage)
    : LPage(Page),
      FRecordBufferSize(RecordBufferSize),
      FMaxRecordsOnPage(MaxRecordsOnPage),
      FRecordDataOffset(BitmapSize(MaxRecordsOnPage)) {
  const int64_t end = FRecordDataOffset + static_cast<int64_t>(MaxRecordsOnPage) * RecordBufferSize;
  if (MaxRecordsOnPage < 0 || RecordBufferSize < 0 || end > Page->GetPageDataSize())
    throw EORVException(20140, "Invalid number of records on page");
}

TORVSmallRecordPage::TORVSmallRecordPage(const uint8_t* Data, int32_t DataSize, int32_t PageNo,
                                         int32_t RecordBufferSize, int32_t MaxRecordsOnPage)
    : LPage(nullptr),
      FCopy(const_cast<uint8_t*>(Data)),
      FPageNo(PageNo),
      FRecordBufferSize(RecordBufferSize),
      FMaxRecordsOnPage(MaxRecordsOnPage),
      FRecordDataOffset(BitmapSize(MaxRecordsOnPage)) {
  const int64_t end = FRecordDataOffset + static_cast<int64_t>(MaxRecordsOnPage) * RecordBufferSize;
  if (!Data || MaxRecordsOnPage < 0 || RecordBufferSize < 0 || end > DataSize)
    throw EORVException(20140, "Invalid number of records on page");
}

uint8_t* TORVSmallRecordPage::Slot(int32_t SlotNo) const {
  return Data() + FRecordDataOffset + static_cast<int64_t>(SlotNo) * FRecordBufferSize;
}

bool TORVSmallRecordPage::IsSlotUsed(int32_t SlotNo) const {
  if (!ValidSlot(SlotNo)) return false;
  return (Data()[SlotNo / 8] & (1u << (SlotNo % 8))) != 0;
}

bool TORVSmallRecordPage::FindUnusedRecordSlot(int32_t& SlotNo) const {
  const uint8_t* bitmap = Data();
  for (int32_t byte = 0; byte < FRecordDataOffset; ++byte) {
    if (bitmap[byte] == 0xFF) continue;
    for (int32_t bit = 0; bit < 8; ++bit) {
      const int32_t slot = byte * 8 + bit;
      if (slot >= FMaxRecordsOnPage) return false;
      if ((bitmap[byte] & (1u << bit)) == 0) {
        SlotNo = slot;
        return true;
      }
    }
  }
  return false;
}

int64_t TORVSmallRecordPage::GetRecordCount() const {
  int64_t count = 0;
  for (int32_t i = 0; i < FMaxRecordsOnPage; ++i)
    if (IsSlotUsed(i)) ++count;
  return count;
}

void TORVSmallRecordPage::AddRecord(const void* RecordBuffer, TORVPageItemID& RecordID) {
  int32_t slot = 0;
  if (!FindUnusedRecordSlot(slot)) throw EORVException(20141, "Cannot add record to page. Page is full");
  TORVPage& page = WritablePage();
  std::memcpy(Slot(slot), RecordBuffer, static_cast<size_t>(FRecordBufferSize));
  Data()[slot / 8] |= static_cast<uint8_t>(1u << (slot % 8));
  page.FIsDirty = true;
  RecordID = {page.FPageNo, static_cast<uint16_t>(slot)};
}

bool TORVSmallRecordPage::UpdateRecord(const void* RecordBuffer, const TORVPageItemID& RecordID) {
  if (!IsSlotUsed(RecordID.PageItemNo)) return false;
  TORVPage& page = WritablePage();
  std::memcpy(Slot(RecordID.PageItemNo), RecordBuffer, static_cast<size_t>(FRecordBufferSize));
  page.FIsDirty = true;
  return true;
}

bool TORVSmallRecordPage::DeleteRecord(const TORVPageItemID& RecordID) {
  if (!IsSlotUsed(RecordID.PageItemNo)) return false;
  TORVPage& page = WritablePage();
  Data()[RecordID.PageItemNo / 8] &= static_cast<uint8_t>(~(1u << (RecordID.PageItemNo % 8)));
  page.FIsDirty = true;
  return true;
}

const uint8_t* TORVSmallRecordPage::RecordData(const TORVPageItemID& RecordID) const {
  return IsSlotUsed(RecordID.PageItemNo) ? Slot(RecordID.PageItemNo) : nullptr;
}

bool TORVSmallRecordPage::GetRecordBuffer(const TORVPageItemID& RecordID, void* RecordBuffer) const {
  if (!IsSlotUsed(RecordID.PageItemNo)) return false;
  std::memcpy(RecordBuffer, Slot(RecordID.PageItemNo), static_cast<size_t>(FRecordBufferSize));
  return true;
}

void TORVSmallRecordPage::GetFirstRecordID(TORVPageItemID& RecordID) const {
  RecordID.PageNo = PageNo();
  for (int32_t i = 0; i < FMaxRecordsOnPage; ++i) {
    if (IsSlotUsed(i)) {
      RecordID.PageItemNo = static_cast<uint16_t>(i);
      return;
    }
  }
  throw EORVException(20143, "Record not found. PageNo=%d, PageRecordCount=%d",
                      {PageNo(), static_cast<int32_t>(GetRecordCount())});
}

void TORVSmallRecordPage::GetLastRecordID(TORVPageItemID& RecordID) const {
  RecordID.PageNo = PageNo();
  for (int32_t i = FMaxRecordsOnPage - 1; i >= 0; --i) {
    if (IsSlotUsed(i)) {
      RecordID.PageItemNo = static_cast<uint16_t>(i);
      return;
    }
  }
  throw EORVException(20144, "Record not found");
}

bool TORVSmallRecordPage::GetNextRecordID(TORVPageItemID& RecordID) const {
  // A byte of the bitmap at a time: this is every step of a scan.
  const uint8_t* bitmap = Data();
  int32_t i = RecordID.PageItemNo + 1;
  while (i < FMaxRecordsOnPage) {
    const uint32_t bits = bitmap[i / 8] >> (i % 8);
    if (bits == 0) {
      i = (i / 8 + 1) * 8;
      continue;
    }
    i += std::countr_zero(bits);
    if (i >= FMaxRecordsOnPage) return false;
    RecordID.PageItemNo = static_cast<uint16_t>(i);
    return true;
  }
  return false;
}

bool TORVSmallRecordPage::GetPriorRecordID(TORVPageItemID& RecordID) const {
  for (int32_t i = std::min<int32_t>(RecordID.PageItemNo, FMaxRecordsOnPage) - 1; i >= 0; --i) {
    if (IsSlotUsed(i)) {
      RecordID.PageItemNo = static_cast<uint16_t>(i);
      return true;
    }
  }
  return false;
}

void TORVSmallRecordPage::GetRecordID(int32_t RecNoOnPage, TORVPageItemID& RecordID) const {
  RecordID.PageNo = PageNo();
  int32_t seen = 0;
  for (int32_t i = 0; i < FMaxRecordsOnPage; ++i) {
    if (!IsSlotUsed(i)) continue;
    if (seen == RecNoOnPage) {
      RecordID.PageItemNo = static_cast<uint16_t>(i);
      return;
    }
    ++seen;
  }
  throw EORVException(20146, "Record not found");
}

void TORVSmallRecordPage::GetRecNoOnPage(const TORVPageItemID& RecordID, int32_t& RecNoOnPage) const {
  RecNoOnPage = 0;
  for (int32_t i = 0; i < std::min<int32_t>(RecordID.PageItemNo, FMaxRecordsOnPage); ++i)
    if (IsSlotUsed(i)) ++RecNoOnPage;
}

// ==== Record manager ============================================================================

// A page of the cache held for one step, given back on every path.
struct TORVDiskRecordManager::HeldRecordPage {
  HeldRecordPage(TORVDiskRecordManager& Manager, TORVPage* Page)
      : held(*Manager.LPageManager, Page),
        view(Page, Manager.FDiskRecordBufferSize, Manager.FMaxRecordsOnPage) {}
  TORVHeldPage held;
  TORVSmallRecordPage view;
};

TORVDiskRecordManager::TORVDiskRecordManager(TORVDiskPageManager* PageManager, TORVDiskTableData* TableData,
                                             TORVBaseFieldManager* FieldManager)
    : FRecordPageIndex(std::make_unique<TORVBTreeRecordPageIndex>(PageManager)),
      LPageManager(PageManager),
      LFieldManager(FieldManager),
      LTableData(TableData) {}

TORVDiskRecordManager::~TORVDiskRecordManager() {
  if (FTempDiskRecordBuffer) MemoryManager().FreeMem(FTempDiskRecordBuffer);
}

int32_t TORVDiskRecordManager::TableID() const { return LTableData ? LTableData->FTableID : -1; }

void TORVDiskRecordManager::Init(int32_t RecordBufferSize, int32_t DiskRecordBufferSize) {
  FRecordBufferSize = RecordBufferSize;
  FDiskRecordBufferSize = DiskRecordBufferSize;
  if (FTempDiskRecordBuffer) MemoryManager().FreeAndNillMem(FTempDiskRecordBuffer);
  FTempDiskRecordBuffer = MemoryManager().AllocMem(std::max(DiskRecordBufferSize, 1));
  const int32_t data_size = LPageManager->PageDataSize();
  const double per_page = std::trunc((static_cast<double>(data_size) - 1) / (DiskRecordBufferSize + 0.125));
  FMaxRecordsOnPage = per_page > 0 ? static_cast<int32_t>(per_page) : 0;
  if (FMaxRecordsOnPage <= 0)
    throw EORVException(20174,
                        "Cannot create table. Record is too large to fit in current database page. Please increase "
                        "page size of database file or decrease record size");
  FRecordPageIndex->FMaxRecordsOnPage = FMaxRecordsOnPage;
  FRecordCount = 0;
  FTableState = 0;
  ++FChanges;
  FFieldCopies.clear();
  FMemoryGaps.clear();
  FHasBlobFields = false;
  FLayoutKnown = false;
  if (LFieldManager) {
    const TORVFieldDefs& defs = LFieldManager->FFieldDefs;
    FNullFlagsSize = LFieldManager->NullFlagsSize();
    FMemoryRecordSize = defs.GetMemoryRecordBufferSize();
    // The null flags lead both forms; fields stored side by side in both are copied in one go.
    const auto add = [this](int32_t DiskOffset, int32_t MemoryOffset, int32_t Size) {
      if (!FFieldCopies.empty()) {
        FieldCopy& last = FFieldCopies.back();
        if (last.DiskOffset + last.Size == DiskOffset && last.MemoryOffset + last.Size == MemoryOffset) {
          last.Size += Size;
          return;
        }
      }
      FFieldCopies.push_back({DiskOffset, MemoryOffset, Size});
    };
    if (FNullFlagsSize > 0) add(0, 0, FNullFlagsSize);
    for (int32_t i = 0; i < defs.GetCount(); ++i) {
      const TORVFieldDef* f = defs.GetDef(i);
      if (IsBLOBFieldType(f->BaseFieldType)) FHasBlobFields = true;
      add(f->DiskOffset, f->MemoryOffset, f->DiskDataSize);
    }
    // What no copy fills is cleared: the memory form's gaps (a field's room beyond its stored
    // size, padding), found once.
    std::vector<bool> covered(static_cast<size_t>(std::max(FMemoryRecordSize, 0)), false);
    bool fits = true;
    for (const FieldCopy& c : FFieldCopies) {
      if (c.MemoryOffset < 0 || c.Size < 0 || c.MemoryOffset + c.Size > FMemoryRecordSize) fits = false;
      for (int32_t k = 0; fits && k < c.Size; ++k) covered[static_cast<size_t>(c.MemoryOffset + k)] = true;
    }
    for (int32_t k = 0; fits && k < FMemoryRecordSize; ++k) {
      if (covered[static_cast<size_t>(k)]) continue;
      if (!FMemoryGaps.empty() && FMemoryGaps.back().MemoryOffset + FMemoryGaps.back().Size == k)
        ++FMemoryGaps.back().Size;
      else
        FMemoryGaps.push_back({0, k, 1});
    }
    FLayoutKnown = fits;
  }
}

void TORVDiskRecordManager::CreateRecordPageIndex() { FRecordPageIndex->CreateIndex(SYSTEM_SESSION_ID); }

void TORVDiskRecordManager::LoadMetadata(platform::TStream& Stream) {
  FRecordPageIndex->OpenIndex(LoadInt32FromStream(Stream, 30560));
}

void TORVDiskRecordManager::SaveMetadata(platform::TStream& Stream) const {
  SaveInt32ToStream(FRecordPageIndex->RootPageNo(), Stream, 30561);
}

void TORVDiskRecordManager::LoadMostUpdated(const uint8_t* Buf, int32_t Size, int32_t& Offset) {
  if (Offset < 0 || Offset + 8 > Size) throw EORVException(20164, "Invalid table header data");
  const int32_t state = static_cast<int32_t>(platform::LoadLE32(Buf + Offset));
  const int64_t count = static_cast<int64_t>(platform::LoadLE32(Buf + Offset + 4));
  if (state != FTableState || count != FRecordCount) ++FChanges;
  FTableState = state;
  FRecordCount = count;
  Offset += 8;
}

void TORVDiskRecordManager::SaveMostUpdated(uint8_t* Buf, int32_t Size, int32_t& Offset) const {
  if (Offset < 0 || Offset + 8 > Size) throw EORVException(20164, "Invalid table header data");
  platform::StoreLE32(Buf + Offset, static_cast<uint32_t>(FTableState));
  platform::StoreLE32(Buf + Offset + 4, static_cast<uint32_t>(FRecordCount));
  Offset += 8;
}

void TORVDiskRecordManager::Empty(int32_t SessionID) {
  ++FChanges;
  int32_t page_no = 0;
  if (FRecordPageIndex->RootPageNo() != -1 && FRecordPageIndex->GetFirstRecordPage(SessionID, page_no)) {
    do {
      LPageManager->RemovePage(SessionID, page_no);
    } while (FRecordPageIndex->GetNextRecordPage(SessionID, page_no, page_no));
  }
  FRecordPageIndex->EmptyIndex(SessionID);
  FTableState = 0;
  FRecordCount = 0;
}

void TORVDiskRecordManager::Delete(int32_t SessionID) {
  Empty(SessionID);
  FRecordPageIndex->DropIndex(SessionID);
}

bool TORVDiskRecordManager::IsRecordPageValid(const TORVPage& Page) const {
  return IsRecordPageHeaderValid(Page.GetPageHeader());
}

bool TORVDiskRecordManager::IsRecordPageHeaderValid(const uint8_t* Header) const {
  const TORVDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  if (fsm && fsm->GetSuppressDBHeaderErrors()) return true;
  if (LPageManager->GetDbHeader()->Version < ORVMinimumDatabaseVersion) return true;
  if (!Header) return false;
  return static_cast<int32_t>(platform::LoadLE32(Header + page_header::State)) <= LAST_VALID_PAGE_STATE &&
         platform::LoadLE16(Header + page_header::PageType) == ptTableRecord &&
         static_cast<int32_t>(platform::LoadLE32(Header + page_header::ObjectID)) == TableID();
}

bool TORVDiskRecordManager::AddRecord(int32_t SessionID, const void* RecordBuffer, TORVPageItemID& RecordID) {
  // What has been done so far, so that a failure takes it back.
  int32_t page_no = -1;
  bool new_page = false;
  int64_t old_count_on_page = 0;
  bool slot_set = false;
  bool counted = false;
  bool indexing = false;
  TORVPageItemID id;
  ++FChanges;
  try {
    TORVPage* page = nullptr;
    if (FRecordPageIndex->FindPageForNewRecord(SessionID, page_no)) {
      page = LPageManager->GetPage(SessionID, page_no, ptTableRecord, true);
    } else {
      page = LPageManager->AddPage(SessionID, ptTableRecord);
      new_page = true;
      page_no = page->FPageNo;
      platform::StoreLE32(page->GetPageHeader() + page_header::ObjectID, static_cast<uint32_t>(TableID()));
    }
    {
      HeldRecordPage held(*this, page);
      old_count_on_page = held.view.GetRecordCount();
      LFieldManager->MemRecordBufferToDiskRecordBuffer(RecordBuffer, FTempDiskRecordBuffer);
      held.view.AddRecord(FTempDiskRecordBuffer, id);
      slot_set = true;
      ++FRecordCount;
      ++FTableState;
      counted = true;
    }
    indexing = true;
    FRecordPageIndex->AddRecord(SessionID, page_no, 1);
    RecordID = id;
    return true;
  } catch (...) {
    // The undo is best effort: a store that failed may fail again; whatever it leaves is
    // only in the session's uncommitted changes.
    try {
      if (counted) {
        --FRecordCount;
        --FTableState;
      }
      if (indexing) {
        TORVKeyPath position;
        if (FRecordPageIndex->GetPosition(SessionID, page_no, position) &&
            FRecordPageIndex->GetPageValue(SessionID, position) != old_count_on_page)
          FRecordPageIndex->DeleteRecord(SessionID, page_no, static_cast<int32_t>(old_count_on_page));
      }
      if (slot_set) {
        HeldRecordPage held(*this, LPageManager->GetPage(SessionID, page_no, ptTableRecord, true));
        held.view.DeleteRecord(id);
      }
      if (new_page) LPageManager->RemovePage(SessionID, page_no);
    } catch (...) {
    }
    return false;
  }
}

bool TORVDiskRecordManager::UpdateRecord(int32_t SessionID, const void* RecordBuffer, const TORVPageItemID& RecordID) {
  ++FChanges;
  HeldRecordPage held(*this, LPageManager->GetPage(SessionID, RecordID.PageNo, ptTableRecord, true));
  LFieldManager->MemRecordBufferToDiskRecordBuffer(RecordBuffer, FTempDiskRecordBuffer);
  if (!held.view.UpdateRecord(FTempDiskRecordBuffer, RecordID)) return false;
  ++FTableState;
  return true;
}

bool TORVDiskRecordManager::DeleteRecord(int32_t SessionID, TORVPageItemID& RecordID) {
  ++FChanges;
  int64_t left = 0;
  {
    HeldRecordPage held(*this, LPageManager->GetPage(SessionID, RecordID.PageNo, ptTableRecord, true));
    if (!held.view.DeleteRecord(RecordID)) return false;
    left = held.view.GetRecordCount();
  }
  --FRecordCount;
  ++FTableState;
  if (left == 0) LPageManager->RemovePage(SessionID, RecordID.PageNo);
  FRecordPageIndex->DeleteRecord(SessionID, RecordID.PageNo, static_cast<int32_t>(left));
  return true;
}

bool TORVDiskRecordManager::CanBeRecordPage(int32_t PageNo) const {
  const TORVDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  return PageNo > 0 && !(fsm && fsm->IsPagePfsOrEam(PageNo));
}

bool TORVDiskRecordManager::RecordExists(int32_t SessionID, const TORVPageItemID& RecordID) {
  if (!CanBeRecordPage(RecordID.PageNo)) return false;
  HeldRecordPage held(*this, LPageManager->GetPage(SessionID, RecordID.PageNo, kAnyPageType, true));
  return IsRecordPageValid(*held.held.Get()) && held.view.IsSlotUsed(RecordID.PageItemNo);
}

void TORVDiskRecordManager::FillBuffer(TORVNavigationInfo& NavigationInfo, const TORVSmallRecordPage& View,
                                       const TORVPageItemID& RecordID, int32_t NotFoundCode) {
  if (NavigationInfo.RecordBuffer) {
    const uint8_t* from = View.RecordData(RecordID);
    if (!from) throw EORVException(NotFoundCode, "Record not found");
    if (FLayoutKnown) {
      // What the field manager's conversion does, from the slot itself.
      auto* to = static_cast<uint8_t*>(NavigationInfo.RecordBuffer);
      for (const FieldCopy& g : FMemoryGaps) std::memset(to + g.MemoryOffset, 0, static_cast<size_t>(g.Size));
      for (const FieldCopy& c : FFieldCopies)
        std::memcpy(to + c.MemoryOffset, from + c.DiskOffset, static_cast<size_t>(c.Size));
    } else {
      LFieldManager->DiskRecordBufferToMemRecordBuffer(from, NavigationInfo.RecordBuffer);
    }
  }
  NavigationInfo.RecordID = RecordID;
  NavigationInfo.GetRecordResult = grrOK;
  NavigationInfo.FirstPosition = false;
  NavigationInfo.LastPosition = false;
}

TORVDiskRecordManager::Stamps TORVDiskRecordManager::CurrentStamps(int32_t SessionID) const {
  return {SessionID, FChanges, LPageManager->ChangeGeneration()};
}

bool TORVDiskRecordManager::StampsHold(const Stamps& Seen, int32_t SessionID) const {
  return Seen.SessionID == SessionID && Seen.Changes == FChanges &&
         Seen.PagesGeneration == LPageManager->ChangeGeneration();
}

bool TORVDiskRecordManager::HasScanPage(int32_t SessionID, int32_t PageNo) const {
  return FScanPage.PageNo == PageNo && StampsHold(FScanPage.Seen, SessionID);
}

TORVSmallRecordPage TORVDiskRecordManager::ScanView() const {
  return TORVSmallRecordPage(FScanPage.Data, LPageManager->PageDataSize(), FScanPage.PageNo, FDiskRecordBufferSize,
                             FMaxRecordsOnPage);
}

void TORVDiskRecordManager::KeepScanPage(int32_t SessionID, const TORVPage& Page) {
  FScanPage.PageNo = -1;
  const uint8_t* data = Page.GetPageData();
  if (!data || Page.GetPageDataSize() != LPageManager->PageDataSize()) return;
  FScanPage.Own.assign(data, data + Page.GetPageDataSize());
  FScanPage.Data = FScanPage.Own.data();
  FScanPage.PageNo = Page.FPageNo;
  FScanPage.Seen = CurrentStamps(SessionID);
}

const uint8_t* TORVDiskRecordManager::RunPage(size_t No) const {
  const size_t offset = static_cast<size_t>(FRun.PageNos[No] - FRun.PageNos.front()) * LPageManager->PageSize();
  return FRun.Bytes.data() + offset;
}

bool TORVDiskRecordManager::LoadRun(int32_t SessionID, int32_t PageNo) {
  // About 256 KiB a read: large enough that the calls cost little against the copying, small
  // enough to stay in the processor's caches while the scan reads it.
  constexpr int64_t kRunBytes = 256 * 1024;
  const int64_t page_size = LPageManager->PageSize();
  const int32_t span = static_cast<int32_t>(std::max<int64_t>(1, kRunBytes / page_size));
  // The scan page may be one of the run's: it goes with the buffer.
  if (FScanPage.Data != FScanPage.Own.data()) FScanPage.PageNo = -1;
  FRun.PageNos.clear();
  FRun.Next = 0;
  FRun.Seen = Stamps{};
  if (!CanBeRecordPage(PageNo) || LPageManager->PageHeaderSize() == 0) return false;
  FRun.PageNos.push_back(PageNo);
  FRecordPageIndex->GetNextRecordPages(SessionID, PageNo, PageNo + span, static_cast<size_t>(span), FRun.PageNos);
  // The free-space maps among them are no record pages: the run ends before the first one.
  for (size_t i = 1; i < FRun.PageNos.size(); ++i) {
    if (!CanBeRecordPage(FRun.PageNos[i])) {
      FRun.PageNos.resize(i);
      break;
    }
  }
  bool read = false;
  try {
    read = LPageManager->ReadPagesPastCache(SessionID, FRun.PageNos, FRun.Bytes);
  } catch (...) {
    read = false;
  }
  size_t valid = 0;
  while (read && valid < FRun.PageNos.size() && IsRecordPageHeaderValid(RunPage(valid))) ++valid;
  FRun.PageNos.resize(valid);
  if (valid == 0) return false;
  FRun.Seen = CurrentStamps(SessionID);
  return true;
}

void TORVDiskRecordManager::FirstOnRunPage(size_t No, TORVNavigationInfo& NavigationInfo) {
  FScanPage.PageNo = FRun.PageNos[No];
  FScanPage.Data = RunPage(No) + LPageManager->PageHeaderSize();
  FScanPage.Seen = FRun.Seen;
  FRun.Next = No + 1;
  const TORVSmallRecordPage view = ScanView();
  TORVPageItemID id;
  view.GetFirstRecordID(id);
  FillBuffer(NavigationInfo, view, id, 20146);
}

void TORVDiskRecordManager::FirstForward(int32_t SessionID, int32_t PageNo, TORVNavigationInfo& NavigationInfo) {
  if (LoadRun(SessionID, PageNo))
    FirstOnRunPage(0, NavigationInfo);
  else
    FirstOnPage(SessionID, PageNo, false, true, NavigationInfo);
}

bool TORVDiskRecordManager::FirstOnPage(int32_t SessionID, int32_t PageNo, bool Last, bool CheckType,
                                        TORVNavigationInfo& NavigationInfo) {
  HeldRecordPage held(*this, LPageManager->GetPage(SessionID, PageNo, CheckType ? ptTableRecord : kAnyPageType, true));
  const bool valid = IsRecordPageValid(*held.held.Get());
  if (!CheckType && !valid) return false;
  if (valid) KeepScanPage(SessionID, *held.held.Get());
  TORVPageItemID id;
  if (Last)
    held.view.GetLastRecordID(id);
  else
    held.view.GetFirstRecordID(id);
  FillBuffer(NavigationInfo, held.view, id, Last ? 20148 : 20146);
  return true;
}

void TORVDiskRecordManager::GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) {
  TORVNavigationInfo& nav = NavigationInfo;
  if (FRecordCount == 0) {
    nav.GetRecordResult = grrEOF;
    return;
  }
  const auto from_end = [&](bool last) {
    int32_t page_no = 0;
    const bool found =
        last ? FRecordPageIndex->GetLastRecordPage(SessionID, page_no) : FRecordPageIndex->GetFirstRecordPage(SessionID, page_no);
    if (!found) {
      nav.GetRecordResult = grrError;
    } else if (!last && LoadRun(SessionID, page_no)) {
      FirstOnRunPage(0, nav);
    } else if (!FirstOnPage(SessionID, page_no, last, false, nav)) {
      nav.GetRecordResult = grrError;
    }
  };
  if (nav.FirstPosition) {
    if (nav.GetRecordMode == grmCurrent)
      nav.GetRecordResult = grrError;
    else if (nav.GetRecordMode == grmPrior)
      nav.GetRecordResult = grrBOF;
    else
      from_end(false);
    return;
  }
  if (nav.LastPosition) {
    if (nav.GetRecordMode == grmCurrent)
      nav.GetRecordResult = grrError;
    else if (nav.GetRecordMode == grmNext)
      nav.GetRecordResult = grrEOF;
    else
      from_end(true);
    return;
  }
  const TORVPageItemID current = nav.RecordID;
  const bool forward = nav.GetRecordMode == grmNext;
  if (HasScanPage(SessionID, current.PageNo)) {
    const TORVSmallRecordPage view = ScanView();
    TORVPageItemID id = current;
    if (nav.GetRecordMode == grmCurrent) {
      if (!view.IsSlotUsed(current.PageItemNo))
        nav.GetRecordResult = grrError;
      else
        FillBuffer(nav, view, current, 20145);
      return;
    }
    if (forward ? view.GetNextRecordID(id) : view.GetPriorRecordID(id)) {
      FillBuffer(nav, view, id, forward ? 20145 : 20147);
      return;
    }
    NextPage(SessionID, current.PageNo, forward, nav);
    return;
  }
  // A record id that cannot name a page of the file (a cursor's stale position) is no page of
  // this table.
  const bool outside = !CanBeRecordPage(current.PageNo);
  if (nav.GetRecordMode == grmCurrent) {
    if (outside) {
      nav.GetRecordResult = grrError;
      return;
    }
    HeldRecordPage held(*this, LPageManager->GetPage(SessionID, current.PageNo, kAnyPageType, true));
    if (!IsRecordPageValid(*held.held.Get()) || !held.view.IsSlotUsed(current.PageItemNo)) {
      nav.GetRecordResult = grrError;
      return;
    }
    FillBuffer(nav, held.view, current, 20145);
    return;
  }
  bool valid = false;
  if (!outside) {
    HeldRecordPage held(*this, LPageManager->GetPage(SessionID, current.PageNo, kAnyPageType, true));
    valid = IsRecordPageValid(*held.held.Get());
    if (valid) {
      KeepScanPage(SessionID, *held.held.Get());
      TORVPageItemID id = current;
      if (forward ? held.view.GetNextRecordID(id) : held.view.GetPriorRecordID(id)) {
        FillBuffer(nav, held.view, id, forward ? 20145 : 20147);
        return;
      }
    }
  }
  if (!valid) {
    // The page went (its last record deleted by another cursor): forward there is nothing
    // reliable to continue from; backward, the table's last record stands in.
    if (forward)
      nav.GetRecordResult = grrEOF;
    else
      from_end(true);
    return;
  }
  NextPage(SessionID, current.PageNo, forward, nav);
}

void TORVDiskRecordManager::NextPage(int32_t SessionID, int32_t PageNo, bool Forward, TORVNavigationInfo& NavigationInfo) {
  if (Forward && FRun.Next > 0 && FRun.Next < FRun.PageNos.size() && FRun.PageNos[FRun.Next - 1] == PageNo &&
      StampsHold(FRun.Seen, SessionID)) {
    FirstOnRunPage(FRun.Next, NavigationInfo);
    return;
  }
  int32_t page_no = 0;
  const bool more = Forward ? FRecordPageIndex->GetNextRecordPage(SessionID, PageNo, page_no)
                            : FRecordPageIndex->GetPriorRecordPage(SessionID, PageNo, page_no);
  if (!more) {
    NavigationInfo.GetRecordResult = Forward ? grrEOF : grrBOF;
    return;
  }
  if (Forward)
    FirstForward(SessionID, page_no, NavigationInfo);
  else
    FirstOnPage(SessionID, page_no, true, true, NavigationInfo);
}

int32_t TORVDiskRecordManager::CompareRecordID(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) {
  if (RecordID1.PageNo != RecordID2.PageNo) return RecordID1.PageNo < RecordID2.PageNo ? -1 : 1;
  if (RecordID1.PageItemNo != RecordID2.PageItemNo) return RecordID1.PageItemNo < RecordID2.PageItemNo ? -1 : 1;
  return 0;
}

int64_t TORVDiskRecordManager::GetApproximateRecNo(int32_t, const TORVPageItemID&) { return FRecordCount / 2; }

void TORVDiskRecordManager::SetRecNo(int32_t SessionID, TORVPageItemID& RecordID, int64_t RecNo) {
  int32_t page_no = 0, on_page = 0;
  FRecordPageIndex->GetRecordByRecNo(SessionID, RecNo - 1, page_no, on_page);
  HeldRecordPage held(*this, LPageManager->GetPage(SessionID, page_no, ptTableRecord, true));
  held.view.GetRecordID(on_page, RecordID);
}

void TORVDiskRecordManager::GetRecNo(int32_t SessionID, const TORVPageItemID& RecordID, int64_t& RecNo) {
  int32_t on_page = 0;
  {
    HeldRecordPage held(*this, LPageManager->GetPage(SessionID, RecordID.PageNo, ptTableRecord, true));
    held.view.GetRecNoOnPage(RecordID, on_page);
  }
  int64_t before = 0;
  FRecordPageIndex->GetRecNoByRecord(SessionID, RecordID.PageNo, on_page, before);
  RecNo = before + 1;
}

void TORVDiskRecordManager::RebuildRecordPageIndex(int32_t SessionID) {
  ++FChanges;
  FRecordPageIndex->CreateIndex(SessionID);
  FRecordCount = 0;
  TORVDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  const int32_t pages = LPageManager->GetPageCount();
  for (int32_t page_no = 1; page_no < pages; ++page_no) {
    try {
      if (fsm && (fsm->IsPagePfsOrEam(page_no) || !fsm->GetPageUsageFromPFS(page_no))) continue;
      int64_t count = 0;
      {
        HeldRecordPage held(*this, LPageManager->GetPage(SessionID, page_no, kAnyPageType, true));
        const TORVPage& page = *held.held.Get();
        // Pages of other kinds and other tables are skipped before anything else is asked.
        if (page.GetHeaderPageType() != ptTableRecord ||
            static_cast<int32_t>(platform::LoadLE32(page.GetPageHeader() + page_header::ObjectID)) != TableID() ||
            !IsRecordPageValid(page))
          continue;
        count = held.view.GetRecordCount();
      }
      if (count == 0) continue;
      FRecordPageIndex->AddRecord(SessionID, page_no, static_cast<int32_t>(count));
      FRecordCount += count;
    } catch (...) {
      // A page that cannot be examined is left out.
    }
  }
}

void TORVDiskRecordManager::ValidateRecordPageIndex(int32_t SessionID) {
  FRecordPageIndex->Validate(SessionID, static_cast<int32_t>(FRecordCount));
}

}  // namespace orv
