#include "dbengine/file/orv_disk_engine_system_files.h"

#include <algorithm>

#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

constexpr char kCannotUnlock[] = "Cannot unlock sessions file";

std::string CutName(const std::string& Name) { return Name.substr(0, MAX_NAME_LENGTH); }

char FoldAsciiLetter(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool SameTableName(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (FoldAsciiLetter(A[i]) != FoldAsciiLetter(B[i])) return false;
  return true;
}

// ---- System directory ---------------------------------------------------------------------

TORVSystemDirectory::TORVSystemDirectory(TORVDiskPageManager& PageManager)
    : LPageManager(PageManager),
      FHandle(std::make_unique<TORVInternalDBTransactedAccessFile>(PageManager, ptFileSystemDirectory)) {}

TORVSystemDirectory::~TORVSystemDirectory() = default;

void TORVSystemDirectory::CreateDirectory() {
  FHandle->CreateFile(SYSTEM_SESSION_ID);
  // Every process finds the directory at this fixed page.
  if (FHandle->GetStartPageNo() != ORVFirstPageNoSystemDirectory)
    throw EORVException(30392, "Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                        {FHandle->GetStartPageNo(), ORVFirstPageNoSystemDirectory});
}

void TORVSystemDirectory::CreateFile(TORVDBFileType FileType, int32_t FirstPageNo) {
  FFileList.push_back({FileType, FirstPageNo});
}

void TORVSystemDirectory::SaveDirectory() {
  std::vector<uint8_t> bytes(FFileList.size() * TORVSystemDirectoryListItem::StoredSize);
  for (size_t i = 0; i < FFileList.size(); ++i)
    FFileList[i].WriteTo(bytes.data() + i * TORVSystemDirectoryListItem::StoredSize);
  FHandle->WriteFile(SYSTEM_SESSION_ID, bytes.data(), static_cast<int32_t>(bytes.size()), acaNone, 0);
}

void TORVSystemDirectory::LoadDirectory() {
  FHandle->SetStartPageNo(ORVFirstPageNoSystemDirectory);
  const std::vector<uint8_t> bytes = FHandle->ReadWholeFile(SYSTEM_SESSION_ID, true);
  const auto size = static_cast<int32_t>(bytes.size());
  FFileList.clear();
  for (int32_t i = 0; i + TORVSystemDirectoryListItem::StoredSize <= size; i += TORVSystemDirectoryListItem::StoredSize)
    FFileList.push_back(TORVSystemDirectoryListItem::ReadFrom(bytes.data() + i));
}

int32_t TORVSystemDirectory::GetFileFirstPageNo(TORVDBFileType FileType) const {
  for (const auto& item : FFileList)
    if (item.FileID == FileType) return item.FirstPageNo;
  return -1;
}

// ---- Sessions file ------------------------------------------------------------------------

TORVActiveSessionsFile::TORVActiveSessionsFile(TORVDiskPageManager& PageManager) : LPageManager(PageManager) {}

TORVActiveSessionsFile::~TORVActiveSessionsFile() { CloseFile(); }

int32_t TORVActiveSessionsFile::CreateFile(int32_t aMaxSessionCount) {
  FMaxSessionCount = aMaxSessionCount;
  TORVInternalDBDirectAccessFile file(LPageManager, ptActiveSessionList);
  file.CreateFile(aMaxSessionCount);
  return file.GetStartPageNo();
}

void TORVActiveSessionsFile::OpenFile(int32_t aStartPageNo) {
  auto handle = std::make_unique<TORVInternalDBDirectAccessFile>(LPageManager, ptActiveSessionList);
  handle->OpenFile(aStartPageNo);
  FMaxSessionCount = std::min(handle->GetSize(), handle->FileSize());
  FHandle = std::move(handle);
}

void TORVActiveSessionsFile::CloseFile() { FHandle.reset(); }

int32_t TORVActiveSessionsFile::GetStartPageNo() const { return Opened("GetStartPageNo").GetStartPageNo(); }

TORVInternalDBDirectAccessFile& TORVActiveSessionsFile::Opened(const char* OperationName) const {
  if (!FHandle)
    throw EORVException(20156, "Cannot perform this operation (%s) on closed internal file", {OperationName});
  return *FHandle;
}

template <class Body>
auto TORVActiveSessionsFile::UnderMutex(int32_t LockErrorCode, const char* LockErrorText, int32_t UnlockErrorCode,
                                        Body&& body) -> decltype(body()) {
  TORVInternalDBDirectAccessFile& file = Opened("LockFile");
  // Without the mutex another process could take the same session byte at the same moment:
  // nothing is touched then.
  if (!TryUsingTimeOut([&] { return file.LockFile(); }, ConnectSessionLockRetries, ConnectSessionLockDelay))
    throw EORVException(LockErrorCode, LockErrorText);
  struct Release {
    TORVInternalDBDirectAccessFile& file;
    int32_t code;
    bool done = false;
    void Now() {
      done = true;
      if (!file.UnlockFile()) throw EORVException(code, kCannotUnlock);
    }
    ~Release() {
      if (done) return;
      try {
        file.UnlockFile();
      } catch (...) {
      }
    }
  } release{file, UnlockErrorCode};
  if constexpr (std::is_void_v<decltype(body())>) {
    body();
    release.Now();
  } else {
    auto result = body();
    release.Now();
    return result;
  }
}

int32_t TORVActiveSessionsFile::MultiUserConnect() {
  if (!LPageManager.MultiUser()) return 0;
  TORVInternalDBDirectAccessFile& file = Opened("MultiUserConnect");
  return UnderMutex(
      20094, "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode",
      20093, [&] {
        for (int32_t s = 0; s < FMaxSessionCount; ++s)
          if (file.LockByte(s)) return s;
        throw EORVException(
            20094, "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");
      });
}

void TORVActiveSessionsFile::MultiUserDisconnect(int32_t SessionID) {
  if (!LPageManager.MultiUser()) return;
  TORVInternalDBDirectAccessFile& file = Opened("MultiUserDisconnect");
  UnderMutex(20095, "Cannot disconnect session", 20096, [&] {
    if (SessionID < 0 || SessionID >= FMaxSessionCount || !file.UnlockByte(SessionID))
      throw EORVException(20095, "Cannot disconnect session");
  });
}

bool TORVActiveSessionsFile::SingleUserConnect() {
  TORVInternalDBDirectAccessFile& file = Opened("SingleUserConnect");
  return UnderMutex(
      20094, "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode",
      20240, [&] {
        if (file.IsRegionLocked(0, FMaxSessionCount)) return false;
        for (int32_t s = 0; s < FMaxSessionCount; ++s) file.LockByte(s);
        return true;
      });
}

void TORVActiveSessionsFile::SingleUserDisconnect() {
  TORVInternalDBDirectAccessFile& file = Opened("SingleUserDisconnect");
  UnderMutex(20095, "Cannot disconnect session", 20241, [&] {
    for (int32_t s = 0; s < FMaxSessionCount; ++s) file.UnlockByte(s);
  });
}

int32_t TORVActiveSessionsFile::GetDBFileConnectionsCount() {
  TORVInternalDBDirectAccessFile& file = Opened("GetDBFileConnectionsCount");
  return UnderMutex(30484, "Cannot lock sessions file", 30484, [&] {
    int32_t count = 0;
    for (int32_t s = 0; s < FMaxSessionCount; ++s)
      if (file.IsByteLocked(s)) ++count;
    return count;
  });
}

// ---- Table list ---------------------------------------------------------------------------

TORVTableListFile::TORVTableListFile(TORVDiskPageManager& PageManager) : LPageManager(PageManager) {}

TORVTableListFile::~TORVTableListFile() { CloseFile(); }

int32_t TORVTableListFile::CreateFile() {
  TORVInternalDBTransactedAccessFile file(LPageManager, ptTableList);
  file.CreateFile(SYSTEM_SESSION_ID);
  return file.GetStartPageNo();
}

void TORVTableListFile::OpenFile(int32_t aStartPageNo) {
  if (FHandle) throw EORVException(30393, "Table list file already opened.");
  FHandle = std::make_unique<TORVInternalDBTransactedAccessFile>(LPageManager, ptTableList);
  FHandle->OpenFile(aStartPageNo);
}

void TORVTableListFile::CloseFile() { FHandle.reset(); }

int32_t TORVTableListFile::GetStartPageNo() const { return Opened().GetStartPageNo(); }

TORVInternalDBTransactedAccessFile& TORVTableListFile::Opened() const {
  if (!FHandle) throw EORVException(30389, "Cannot perform this operation (%s) on closed internal file", {"TableList"});
  return *FHandle;
}

void TORVTableListFile::Load() {
  TORVInternalDBTransactedAccessFile& file = Opened();
  const std::vector<uint8_t> bytes = file.ReadWholeFile(SYSTEM_SESSION_ID, true);
  const auto size = static_cast<int32_t>(bytes.size());
  FTableList.clear();
  for (int32_t i = 0; i + TORVTableListItem::StoredSize <= size; i += TORVTableListItem::StoredSize)
    FTableList.push_back(TORVTableListItem::ReadFrom(bytes.data() + i));
}

void TORVTableListFile::Save() {
  std::vector<uint8_t> bytes(FTableList.size() * TORVTableListItem::StoredSize);
  for (size_t i = 0; i < FTableList.size(); ++i) FTableList[i].WriteTo(bytes.data() + i * TORVTableListItem::StoredSize);
  Opened().WriteFile(SYSTEM_SESSION_ID, bytes.data(), static_cast<int32_t>(bytes.size()), acaNone, 0);
}

int32_t TORVTableListFile::GetTableIndex(const std::string& TableName) const {
  // Stored names are cut to 255 characters; a longer name is looked up as it was stored.
  const std::string name = CutName(TableName);
  for (size_t i = 0; i < FTableList.size(); ++i)
    if (SameTableName(FTableList[i].TableName, name)) return static_cast<int32_t>(i);
  return -1;
}

void TORVTableListFile::AddTable(int32_t TableID, const std::string& TableName, int32_t MetadataFilePageNo,
                                 int32_t MostUpdatedFilePageNo, int32_t LocksFilePageNo) {
  if (TableExists(TableName))
    throw EORVException(30395, "Cannot create table. Table '%s' already exists", {TableName});
  FTableList.push_back({CutName(TableName), TableID, MetadataFilePageNo, MostUpdatedFilePageNo, LocksFilePageNo});
}

void TORVTableListFile::OpenTable(const std::string& TableName, int32_t& TableID, int32_t& MetadataFilePageNo,
                                  int32_t& MostUpdatedFilePageNo, int32_t& LocksFilePageNo) const {
  const int32_t i = GetTableIndex(TableName);
  if (i < 0) throw EORVException(30396, "Table '%s' not exists.", {TableName});
  const TORVTableListItem& item = FTableList[static_cast<size_t>(i)];
  TableID = item.TableID;
  MetadataFilePageNo = item.MetaDataFilePageNo;
  MostUpdatedFilePageNo = item.MostUpdatedFilePageNo;
  LocksFilePageNo = item.LocksFilePageNo;
}

void TORVTableListFile::RemoveTable(const std::string& TableName) {
  const int32_t i = GetTableIndex(TableName);
  if (i < 0) throw EORVException(30405, "Table '%s' not exists.", {TableName});
  FTableList.erase(FTableList.begin() + i);
}

void TORVTableListFile::RenameTable(const std::string& TableName, const std::string& NewTableName) {
  const int32_t i = GetTableIndex(TableName);
  if (i < 0) throw EORVException(30397, "Table '%s' not exists.", {TableName});
  FTableList[static_cast<size_t>(i)].TableName = CutName(NewTableName);
}

void TORVTableListFile::GetTablesList(std::vector<std::string>& List) {
  Load();
  List.clear();
  for (const auto& item : FTableList) List.push_back(item.TableName);
}

}  // namespace orv
