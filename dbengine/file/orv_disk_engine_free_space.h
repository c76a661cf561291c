#pragma once
// Which page numbers of a database file are in use. The bookkeeping lives in the file: PFS
// pages (one bit per page, 1 = used) and EAM pages (two bits per extent of pages, the high bit
// set when the whole extent is used), plus the header's TotalPageCount and LastUsedPageNo.
// Every allocation and release happens under the file-header lock and is written at once, so
// several processes can allocate from one file. The file grows by a tenth of its size at a
// time and shrinks only by whole steps, never inside a commit.
#include <cstdint>
#include <functional>
#include <memory>

#include "dbengine/storage/orv_page.h"

namespace orv {

class TORVDiskPageManager;

class TORVDatabaseFreeSpaceManager {
 public:
  explicit TORVDatabaseFreeSpaceManager(TORVDiskPageManager& aPageManager);
  ~TORVDatabaseFreeSpaceManager();
  TORVDatabaseFreeSpaceManager(const TORVDatabaseFreeSpaceManager&) = delete;
  TORVDatabaseFreeSpaceManager& operator=(const TORVDatabaseFreeSpaceManager&) = delete;

  // A newly allocated page number (the argument is not consulted). Header lock refused: 20231.
  int32_t GetPage(int32_t DesiredStartPageNo);
  // Gives a page number back. Header lock refused: 20232; a free page: 30427.
  void FreePage(int32_t PageNo);
  // 30434 for a PFS or EAM page.
  void CheckPageNoForSystemPages(int32_t PageNo) const;
  bool IsPagePfsOrEam(int32_t PageNo) const;
  bool GetPageUsageFromPFS(int32_t PageNo);
  void SetPageUsage(int32_t PageNo, bool Used);
  void ReReadPageCountVariables();
  void ReWritePageCountVariables();
  // The shortening that releases inside a commit put off; run once the commit is complete.
  void TruncateAfterCommit();
  bool TruncatePending() const { return FTruncatePending; }
  // Gives every free page at the end of the file back (maintenance).
  void TruncateToLastUsed();

  // Positions and page numbers of the maps.
  int32_t PfsPageNoForPfsPagePosition(int32_t k) const;
  int32_t PfsPageNoForPageNo(int32_t p) const;
  int32_t GetLastPfsPagePosition() const;
  int32_t CorrectEamPageNo(int32_t p) const;
  int32_t UncorrectEamPageNo(int32_t p) const;
  int32_t EamPageNoForEamPagePosition(int32_t j) const;
  int32_t EamPageNoToEamPagePosition(int32_t p) const;
  int32_t EamPageNoForPageNo(int32_t p) const;
  int32_t GetLastEamPagePosition() const;
  int32_t GetLastEamPageNo() const;
  bool PfsPositionsForExtentPosition(int32_t e, int32_t& First, int32_t& Last) const;
  int32_t GetAddPagesStep() const;
  int32_t GetDelPagesStep() const;

  int32_t PageCountInExtent() const { return FPageCountInExtent; }
  int32_t PfsPagesAddressed() const { return FPFSPage_PagesAddressed; }
  int32_t EamExtentsAddressed() const { return FEAMPage_ExtentsAddressed; }
  int32_t EamPagesAddressed() const { return FEAMPage_PagesAddressed; }
  int32_t LastUsedPageNo() const { return FLastUsedPageNo; }
  int32_t TotalPageCount() const { return FTotalPageCount; }
  bool GetSuppressDBHeaderErrors() const { return FSuppressDBHeaderErrors; }
  void SetSuppressDBHeaderErrors(bool Value) { FSuppressDBHeaderErrors = Value; }

 private:
  struct PageDeleter {
    void operator()(TORVPage* Page) const { delete Page; }
  };
  using OwnedPage = std::unique_ptr<TORVPage, PageDeleter>;

  OwnedPage NewPage(int32_t PageNo);
  OwnedPage ReadPage(int32_t PageNo, uint16_t WantedType, int32_t ErrorCode);
  void WriteAndFreePage(OwnedPage& Page);
  int32_t FindAndReusePage();
  int32_t FindExtentWithFreePages(int32_t EamPageNo);
  int32_t AddNewPageAndExtentFile();
  void SetPageUsageToPFS(int32_t PageNo, bool Used);
  void SetPageUsageToEAM(int32_t PageNo, bool Used);
  int32_t FindLastUsedPageNo();
  void TruncateFile();
  void ClearPfsBitsOfCutEamPages(int32_t NewTotal, int32_t OldTotal);
  // Takes the header lock (refused: LockErrorCode), reloads the counts, runs Body and writes
  // the counts back, also when Body raises.
  void WithCountsLocked(int32_t LockErrorCode, const std::function<void()>& Body);

  TORVDiskPageManager& LPageManager;
  int32_t FPageCountInExtent;
  int32_t FPFSPage_PagesAddressed;
  int32_t FEAMPage_ExtentsAddressed;
  int32_t FEAMPage_PagesAddressed;
  int32_t FLastUsedPageNo;
  int32_t FTotalPageCount;
  bool FSuppressDBHeaderErrors = false;
  bool FTruncatePending = false;
};

}  // namespace orv
