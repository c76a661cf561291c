#include "dbengine/file/orv_disk_engine_free_space.h"

#include <algorithm>
#include <functional>

#include "dbengine/file/orv_disk_engine_file.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

constexpr uint8_t kFullByte = 0xFF;

bool BitSet(const uint8_t* data, int64_t bit) { return (data[bit >> 3] >> (bit & 7)) & 1; }

// The data of a map page; every page made or read here has its buffer.
uint8_t* MapData(TORVPage& Page) {
  if (!Page.FPageBuffer) throw EORVException(30514, "Nil pointer occured");
  return Page.FPageBuffer + page_header::Size;
}

}  // namespace

TORVDatabaseFreeSpaceManager::TORVDatabaseFreeSpaceManager(TORVDiskPageManager& aPageManager)
    : LPageManager(aPageManager) {
  const TORVDBHeader& h = *LPageManager.GetDbHeader();
  const int32_t d = LPageManager.PageDataSize();
  FPageCountInExtent = h.PageCountInExtent;
  FPFSPage_PagesAddressed = 8 * d;
  FEAMPage_ExtentsAddressed = 4 * d;
  FEAMPage_PagesAddressed = 4 * d * FPageCountInExtent;
  FLastUsedPageNo = h.LastUsedPageNo;
  FTotalPageCount = h.TotalPageCount;
}

TORVDatabaseFreeSpaceManager::~TORVDatabaseFreeSpaceManager() = default;

// ---- Positions ----------------------------------------------------------------------------

int32_t TORVDatabaseFreeSpaceManager::PfsPageNoForPfsPagePosition(int32_t k) const {
  return static_cast<int32_t>(static_cast<int64_t>(k) * FPFSPage_PagesAddressed);
}

int32_t TORVDatabaseFreeSpaceManager::PfsPageNoForPageNo(int32_t p) const {
  return (p / FPFSPage_PagesAddressed) * FPFSPage_PagesAddressed;
}

int32_t TORVDatabaseFreeSpaceManager::GetLastPfsPagePosition() const {
  return std::max(FTotalPageCount - 1, 0) / FPFSPage_PagesAddressed;
}

int32_t TORVDatabaseFreeSpaceManager::CorrectEamPageNo(int32_t p) const {
  return p % FPFSPage_PagesAddressed == 0 ? p + 1 : p;
}

int32_t TORVDatabaseFreeSpaceManager::UncorrectEamPageNo(int32_t p) const {
  return (p / FEAMPage_PagesAddressed) * FEAMPage_PagesAddressed;
}

int32_t TORVDatabaseFreeSpaceManager::EamPageNoForEamPagePosition(int32_t j) const {
  return CorrectEamPageNo(static_cast<int32_t>(static_cast<int64_t>(j) * FEAMPage_PagesAddressed));
}

int32_t TORVDatabaseFreeSpaceManager::EamPageNoToEamPagePosition(int32_t p) const {
  return UncorrectEamPageNo(p) / FEAMPage_PagesAddressed;
}

int32_t TORVDatabaseFreeSpaceManager::EamPageNoForPageNo(int32_t p) const {
  return EamPageNoForEamPagePosition(p / FEAMPage_PagesAddressed);
}

int32_t TORVDatabaseFreeSpaceManager::GetLastEamPagePosition() const {
  return std::max(FTotalPageCount - 1, 0) / FEAMPage_PagesAddressed;
}

int32_t TORVDatabaseFreeSpaceManager::GetLastEamPageNo() const {
  return EamPageNoForEamPagePosition(GetLastEamPagePosition());
}

bool TORVDatabaseFreeSpaceManager::IsPagePfsOrEam(int32_t PageNo) const {
  if (PageNo < 0) return false;
  if (PageNo % FPFSPage_PagesAddressed == 0 || PageNo % FEAMPage_PagesAddressed == 0) return true;
  const int32_t q = PageNo - 1;
  return q % FPFSPage_PagesAddressed == 0 && q % FEAMPage_PagesAddressed == 0;
}

bool TORVDatabaseFreeSpaceManager::PfsPositionsForExtentPosition(int32_t e, int32_t& First, int32_t& Last) const {
  const int64_t ext = FPageCountInExtent;
  First = static_cast<int32_t>(static_cast<int64_t>(e) * ext / FPFSPage_PagesAddressed);
  Last = static_cast<int32_t>(((static_cast<int64_t>(e) + 1) * ext - 1) / FPFSPage_PagesAddressed);
  if (static_cast<int64_t>(First) * FPFSPage_PagesAddressed >= FTotalPageCount) return false;
  while (Last >= First && static_cast<int64_t>(Last) * FPFSPage_PagesAddressed >= FTotalPageCount) --Last;
  return Last >= First;
}

int32_t TORVDatabaseFreeSpaceManager::GetAddPagesStep() const {
  if (FTotalPageCount == 0) return 6;
  return std::max(FTotalPageCount / 10, FPageCountInExtent);
}

int32_t TORVDatabaseFreeSpaceManager::GetDelPagesStep() const { return GetAddPagesStep(); }

void TORVDatabaseFreeSpaceManager::CheckPageNoForSystemPages(int32_t PageNo) const {
  if (IsPagePfsOrEam(PageNo)) throw EORVException(30434, "Cannot delete PFS or EAM page. PageNo=%d", {PageNo});
}

// ---- Private pages ------------------------------------------------------------------------

TORVDatabaseFreeSpaceManager::OwnedPage TORVDatabaseFreeSpaceManager::NewPage(int32_t PageNo) {
  OwnedPage page(new TORVPage(&LPageManager));
  page->FPageNo = PageNo;
  page->FSessionID = SYSTEM_SESSION_ID;
  page->AllocPageBuffer();
  return page;
}

TORVDatabaseFreeSpaceManager::OwnedPage TORVDatabaseFreeSpaceManager::ReadPage(int32_t PageNo, uint16_t WantedType,
                                                                               int32_t ErrorCode) {
  OwnedPage page(new TORVPage(&LPageManager));
  page->FPageNo = PageNo;
  page->FSessionID = SYSTEM_SESSION_ID;
  if (!LPageManager.InternalReadPage(*page))
    throw EORVException(ErrorCode, "Error reading database file page. Page No: %d, type %d", {PageNo, WantedType});
  CheckPageType(page->GetHeaderPageType(), WantedType, ErrorCode);
  return page;
}

void TORVDatabaseFreeSpaceManager::WriteAndFreePage(OwnedPage& Page) {
  if (Page && Page->FIsDirty) LPageManager.InternalWritePage(*Page);
  Page.reset();
}

// ---- Allocation and release ---------------------------------------------------------------

void TORVDatabaseFreeSpaceManager::WithCountsLocked(int32_t LockErrorCode, const std::function<void()>& Body) {
  if (!TryUsingTimeOut([this] { return LPageManager.LockDBHeader(); }, DBHeaderLockRetries, DBHeaderLockDelay))
    throw EORVException(LockErrorCode, "Database is locked");
  bool counts_loaded = false;
  try {
    ReReadPageCountVariables();
    counts_loaded = true;
    Body();
    ReWritePageCountVariables();
  } catch (...) {
    // What was written of the maps stays; the counts go with it.
    if (counts_loaded) {
      try {
        ReWritePageCountVariables();
      } catch (...) {
      }
    }
    LPageManager.UnlockDBHeader();
    throw;
  }
  LPageManager.UnlockDBHeader();
}

int32_t TORVDatabaseFreeSpaceManager::GetPage(int32_t /*DesiredStartPageNo*/) {
  int32_t result = -1;
  WithCountsLocked(20231, [&] {
    result = FindAndReusePage();
    if (result == -1) result = AddNewPageAndExtentFile();
    FLastUsedPageNo = std::max(FLastUsedPageNo, result);
  });
  return result;
}

void TORVDatabaseFreeSpaceManager::FreePage(int32_t PageNo) {
  WithCountsLocked(20232, [&] {
    SetPageUsage(PageNo, false);
    FLastUsedPageNo = FindLastUsedPageNo();
    TruncateFile();
  });
}

void TORVDatabaseFreeSpaceManager::TruncateAfterCommit() {
  if (!FTruncatePending) return;
  FTruncatePending = false;
  ReReadPageCountVariables();
  TruncateFile();
  ReWritePageCountVariables();
}

void TORVDatabaseFreeSpaceManager::TruncateToLastUsed() {
  WithCountsLocked(20232, [&] {
    const int32_t old_total = FTotalPageCount;
    const int32_t n = FTotalPageCount - 1 - FLastUsedPageNo;
    if (n <= 0) return;
    LPageManager.GetDbHeader()->LastUsedPageNo = FLastUsedPageNo;
    LPageManager.TruncateFile(n);
    FTotalPageCount = LPageManager.GetDbHeader()->TotalPageCount;
    ClearPfsBitsOfCutEamPages(FTotalPageCount, old_total);
  });
}

void TORVDatabaseFreeSpaceManager::ReReadPageCountVariables() {
  LPageManager.LoadDBHeader();
  FLastUsedPageNo = LPageManager.GetDbHeader()->LastUsedPageNo;
  FTotalPageCount = LPageManager.GetDbHeader()->TotalPageCount;
}

void TORVDatabaseFreeSpaceManager::ReWritePageCountVariables() {
  TORVDBHeader& h = *LPageManager.GetDbHeader();
  if (h.LastUsedPageNo == FLastUsedPageNo && h.TotalPageCount == FTotalPageCount) return;
  h.LastUsedPageNo = FLastUsedPageNo;
  h.TotalPageCount = FTotalPageCount;
  LPageManager.SaveDBHeader(true);
}

int32_t TORVDatabaseFreeSpaceManager::FindAndReusePage() {
  if (FLastUsedPageNo == -1) return -1;
  int32_t result = FindExtentWithFreePages(GetLastEamPageNo());
  const int32_t last = GetLastEamPagePosition();
  for (int32_t j = 0; result == -1 && j < last; ++j) result = FindExtentWithFreePages(EamPageNoForEamPagePosition(j));
  if (result != -1) SetPageUsage(result, true);
  return result;
}

int32_t TORVDatabaseFreeSpaceManager::FindExtentWithFreePages(int32_t EamPageNo) {
  int64_t extent = -1;
  {
    OwnedPage eam = ReadPage(EamPageNo, ptEAM, 30423);
    const uint8_t* data = MapData(*eam);
    const int32_t d = LPageManager.PageDataSize();
    const int64_t base = static_cast<int64_t>(EamPageNoToEamPagePosition(EamPageNo)) * FEAMPage_ExtentsAddressed;
    for (int32_t i = 0; i < d && extent < 0; ++i) {
      if (data[i] == kFullByte) continue;
      for (int m = 0; m < 4; ++m) {
        if (((data[i] >> (2 * m + 1)) & 1) == 0) {
          extent = base + 4 * static_cast<int64_t>(i) + m;
          break;
        }
      }
    }
  }
  if (extent < 0 || extent > INT32_MAX) return -1;
  int32_t first = 0, last = 0;
  if (!PfsPositionsForExtentPosition(static_cast<int32_t>(extent), first, last)) return -1;
  int64_t found = -1;
  const int32_t d = LPageManager.PageDataSize();
  for (int32_t k = first; k <= last; ++k) {
    const int32_t pfs_no = PfsPageNoForPfsPagePosition(k);
    OwnedPage pfs = ReadPage(pfs_no, ptPFS, 30423);
    const uint8_t* data = MapData(*pfs);
    for (int32_t i = 0; i < d; ++i) {
      if (data[i] == kFullByte) continue;
      int bit = 0;
      while ((data[i] >> bit) & 1) ++bit;
      found = static_cast<int64_t>(pfs_no) + 8 * static_cast<int64_t>(i) + bit;
      break;
    }
  }
  return found >= 0 && found < FTotalPageCount ? static_cast<int32_t>(found) : -1;
}

int32_t TORVDatabaseFreeSpaceManager::AddNewPageAndExtentFile() {
  const bool was_empty = FLastUsedPageNo == -1;
  const int32_t old_pfs = was_empty ? -1 : GetLastPfsPagePosition();
  const int32_t old_eam = was_empty ? -1 : GetLastEamPagePosition();

  int32_t new_page_no = FLastUsedPageNo + 1;
  while (IsPagePfsOrEam(new_page_no)) ++new_page_no;

  int32_t step = GetAddPagesStep();
  if (static_cast<int64_t>(new_page_no) >= static_cast<int64_t>(FTotalPageCount) + step)
    step = new_page_no - FTotalPageCount + 1;
  while (IsPagePfsOrEam(FTotalPageCount + step - 1)) ++step;

  LPageManager.ExtendFile(step);
  FTotalPageCount = LPageManager.GetDbHeader()->TotalPageCount;

  const int32_t new_pfs = GetLastPfsPagePosition();
  if (new_pfs != old_pfs || was_empty) {
    for (int32_t k = old_pfs + 1; k <= new_pfs; ++k) {
      OwnedPage page = NewPage(PfsPageNoForPfsPagePosition(k));
      page->SetHeaderPageType(ptPFS);
      MapData(*page)[0] = 1;  // its own bit
      page->FIsDirty = true;
      WriteAndFreePage(page);
    }
  }
  const int32_t new_eam = GetLastEamPagePosition();
  if (new_eam != old_eam || was_empty) {
    for (int32_t j = old_eam + 1; j <= new_eam; ++j) {
      OwnedPage page = NewPage(EamPageNoForEamPagePosition(j));
      page->SetHeaderPageType(ptEAM);
      MapData(*page)[0] = 1;  // the first extent of its range is partly used
      page->FIsDirty = true;
      WriteAndFreePage(page);
    }
  }
  FLastUsedPageNo = new_page_no;
  for (int32_t j = old_eam + 1; j <= new_eam; ++j) SetPageUsageToPFS(EamPageNoForEamPagePosition(j), true);
  for (int32_t k = old_pfs + 1; k <= new_pfs; ++k) SetPageUsageToEAM(PfsPageNoForPfsPagePosition(k), true);
  // No committed data refers to a page beyond the last used page. A bit still set there was
  // left by a writer that died: a commit that was put back restores the header (and the file's
  // length), not the maps, which allocations write at once. The page is taken all the same.
  if (GetPageUsageFromPFS(new_page_no))
    SetPageUsageToEAM(new_page_no, true);
  else
    SetPageUsage(new_page_no, true);
  return new_page_no;
}

void TORVDatabaseFreeSpaceManager::SetPageUsage(int32_t PageNo, bool Used) {
  SetPageUsageToPFS(PageNo, Used);
  SetPageUsageToEAM(PageNo, Used);
}

void TORVDatabaseFreeSpaceManager::SetPageUsageToPFS(int32_t PageNo, bool Used) {
  if (PageNo < 0 || PageNo >= FTotalPageCount)
    throw EORVException(30430, "Page: %d cannot be addressed. TotalPageCount=%d", {PageNo, FTotalPageCount});
  OwnedPage pfs = ReadPage(PfsPageNoForPageNo(PageNo), ptPFS, 30424);
  const int32_t r = PageNo % FPFSPage_PagesAddressed;
  uint8_t& byte = MapData(*pfs)[r / 8];
  const auto mask = static_cast<uint8_t>(1u << (r % 8));
  if (Used) {
    if (byte & mask) throw EORVException(30425, "Page: %d already used", {PageNo});
    byte = static_cast<uint8_t>(byte | mask);
  } else {
    if (!(byte & mask)) throw EORVException(30427, "Page: %d already free", {PageNo});
    byte = static_cast<uint8_t>(byte & ~mask);
  }
  pfs->FIsDirty = true;
  WriteAndFreePage(pfs);
}

void TORVDatabaseFreeSpaceManager::SetPageUsageToEAM(int32_t PageNo, bool /*Used*/) {
  if (PageNo < 0 || PageNo >= FTotalPageCount)
    throw EORVException(30431, "Page: %d cannot be addressed. TotalPageCount=%d", {PageNo, FTotalPageCount});
  const int32_t x = PageNo / FPageCountInExtent;
  const int32_t i = x % FEAMPage_ExtentsAddressed;
  OwnedPage eam = ReadPage(EamPageNoForPageNo(PageNo), ptEAM, 30428);
  int32_t used = 0, free = 0;
  const int64_t first = static_cast<int64_t>(x) * FPageCountInExtent;
  for (int64_t p = first; p < first + FPageCountInExtent && (used == 0 || free == 0); ++p) {
    if (p <= INT32_MAX && GetPageUsageFromPFS(static_cast<int32_t>(p)))
      ++used;
    else
      ++free;
  }
  // The pair always follows the PFS bits, whatever the caller just did.
  const uint8_t pair = used > 0 && free == 0 ? ORV_EXTENT_IS_FULL : (used == 0 && free == 0 ? ORV_EXTENT_IS_FREE : ORV_EXTENT_IS_PARTIAL_USED);
  uint8_t& byte = MapData(*eam)[i / 4];
  const int shift = 2 * (i % 4);
  const auto updated = static_cast<uint8_t>((byte & ~(3u << shift)) | (static_cast<unsigned>(pair) << shift));
  if (updated != byte) {
    byte = updated;
    eam->FIsDirty = true;
  }
  WriteAndFreePage(eam);
}

bool TORVDatabaseFreeSpaceManager::GetPageUsageFromPFS(int32_t PageNo) {
  if (PageNo < 0) return false;
  const int32_t pfs_no = PfsPageNoForPageNo(PageNo);
  if (pfs_no > FLastUsedPageNo) return false;
  OwnedPage pfs = ReadPage(pfs_no, ptPFS, 30430);
  return BitSet(MapData(*pfs), PageNo % FPFSPage_PagesAddressed);
}

int32_t TORVDatabaseFreeSpaceManager::FindLastUsedPageNo() {
  if (FLastUsedPageNo == -1) return -1;
  const int32_t d = LPageManager.PageDataSize();
  for (int32_t k = GetLastPfsPagePosition(); k >= 0; --k) {
    const int32_t pfs_no = PfsPageNoForPfsPagePosition(k);
    OwnedPage pfs = ReadPage(pfs_no, ptPFS, 30432);
    const uint8_t* data = MapData(*pfs);
    for (int32_t i = d - 1; i >= 0; --i) {
      if (data[i] == 0) continue;
      for (int bit = 7; bit >= 0; --bit) {
        if (!((data[i] >> bit) & 1)) continue;
        const int64_t page = static_cast<int64_t>(pfs_no) + 8 * static_cast<int64_t>(i) + bit;
        if (page <= INT32_MAX && !IsPagePfsOrEam(static_cast<int32_t>(page))) return static_cast<int32_t>(page);
      }
    }
  }
  return -1;
}

void TORVDatabaseFreeSpaceManager::TruncateFile() {
  const int32_t free = FTotalPageCount - FLastUsedPageNo - 1;
  const int32_t step = GetDelPagesStep();
  if (free < step) return;
  // A release inside a commit leaves the length alone: the commit's journal restores what the
  // file held, and a length taken from under a half-written commit could not be given back.
  if (LPageManager.InCommit()) {
    FTruncatePending = true;
    return;
  }
  const int32_t old_total = FTotalPageCount;
  LPageManager.GetDbHeader()->LastUsedPageNo = FLastUsedPageNo;
  LPageManager.TruncateFile((free / step) * step);
  FTotalPageCount = LPageManager.GetDbHeader()->TotalPageCount;
  ClearPfsBitsOfCutEamPages(FTotalPageCount, old_total);
}

// An EAM page that the shortening cut off may have its bit in a PFS page that stays (when the
// extent size puts EAM pages between PFS pages). The bit must go with the page: bits beyond the
// end of the file are 0, and the next growth makes the page anew and marks it used.
void TORVDatabaseFreeSpaceManager::ClearPfsBitsOfCutEamPages(int32_t NewTotal, int32_t OldTotal) {
  if (NewTotal >= OldTotal) return;
  const int32_t first_j = NewTotal / FEAMPage_PagesAddressed;
  const int32_t last_j = std::max(OldTotal - 1, 0) / FEAMPage_PagesAddressed;
  for (int32_t j = first_j; j <= last_j; ++j) {
    const int32_t eam_no = EamPageNoForEamPagePosition(j);
    if (eam_no < NewTotal || eam_no >= OldTotal) continue;
    const int32_t pfs_no = PfsPageNoForPageNo(eam_no);
    if (pfs_no >= NewTotal) continue;
    OwnedPage pfs = ReadPage(pfs_no, ptPFS, 30424);
    const int32_t r = eam_no % FPFSPage_PagesAddressed;
    uint8_t& byte = MapData(*pfs)[r / 8];
    const auto mask = static_cast<uint8_t>(1u << (r % 8));
    if (!(byte & mask)) continue;
    byte = static_cast<uint8_t>(byte & ~mask);
    pfs->FIsDirty = true;
    WriteAndFreePage(pfs);
  }
}

}  // namespace orv
