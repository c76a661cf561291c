#include "dbengine/file/orv_disk_engine_journal.h"

#include <cerrno>
#include <cstring>

#include "dbengine/storage/orv_compression.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/byte_order.h"

namespace orv {

namespace {

constexpr char kMagic[] = "ORVJRNL1";
constexpr size_t kMagicSize = 8;
constexpr size_t kHeadSize = 32;        // magic and fields, before their CRC
constexpr size_t kRegionHeadSize = 16;  // page number, offset, length
// A region longer than this is no region the engine writes (a page is at most 64 KiB).
constexpr int32_t kMaxRegionLength = 1 << 20;

uint32_t Crc(const uint8_t* p, size_t n) { return CRC32(0, p, static_cast<uint32_t>(n)); }

}  // namespace

TORVRollbackJournal::TORVRollbackJournal(platform::FileFactory Factory)
    : FFactory(Factory ? std::move(Factory) : platform::FileFactory(platform::MakePlainFile)) {}

TORVRollbackJournal::~TORVRollbackJournal() { Close(); }

void TORVRollbackJournal::Bind(const std::string& DatabaseFileName, bool ReadOnly) {
  Close();
  FFileName = JournalName(DatabaseFileName);
  FReadOnly = ReadOnly;
}

void TORVRollbackJournal::Close() {
  if (!FFile) return;
  int64_t size = -1;
  const bool empty = FFile->GetSize(size) == 0 && size == 0;
  FFile->Close();
  FFile.reset();
  // Fails harmlessly while another process still has it open.
  if (empty && !FReadOnly) platform::DeleteFile(FFileName);
}

bool TORVRollbackJournal::EnsureOpen(bool ForWriting) {
  if (FFile && (!ForWriting || FFile->Access() == platform::FileAccess::ReadWrite)) return true;
  if (FFile) {
    FFile->Close();
    FFile.reset();
  }
  auto file = FFactory(FFileName);
  int error = 0;
  if (ForWriting) {
    // Made with the first commit that needs it.
    error = file->OpenOrCreate(FFileName, platform::FileShare::DenyNone);
  } else {
    error = file->Open(FFileName, FReadOnly ? platform::FileAccess::ReadOnly : platform::FileAccess::ReadWrite,
                       platform::FileShare::DenyNone);
  }
  if (error != 0) {
    errno = error;
    return false;
  }
  FFile = std::move(file);
  return true;
}

bool TORVRollbackJournal::HasContent() const {
  if (FFileName.empty()) return false;
  return platform::FileLength(FFileName) > 0;
}

void TORVRollbackJournal::Write(const TORVJournalContent& Content) {
  if (!EnsureOpen(true))
    throw EORVException(30511, "Cannot write the journal '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, errno, platform::ErrorText(errno)});
  size_t total = kHeadSize + 4;
  for (const auto& r : Content.Regions) total += kRegionHeadSize + r.Data.size() + 4;
  std::vector<uint8_t> bytes(total);
  uint8_t* p = bytes.data();
  std::memcpy(p, kMagic, kMagicSize);
  platform::StoreLE64(p + 8, static_cast<uint64_t>(Content.HeaderOffset));
  platform::StoreLE32(p + 16, static_cast<uint32_t>(Content.HeaderState));
  platform::StoreLE64(p + 20, static_cast<uint64_t>(Content.FileLength));
  platform::StoreLE32(p + 28, static_cast<uint32_t>(Content.Regions.size()));
  platform::StoreLE32(p + kHeadSize, Crc(p, kHeadSize));
  p += kHeadSize + 4;
  for (const auto& r : Content.Regions) {
    platform::StoreLE32(p, static_cast<uint32_t>(r.PageNo));
    platform::StoreLE64(p + 4, static_cast<uint64_t>(r.Offset));
    platform::StoreLE32(p + 12, static_cast<uint32_t>(r.Data.size()));
    if (!r.Data.empty()) std::memcpy(p + kRegionHeadSize, r.Data.data(), r.Data.size());
    const size_t n = kRegionHeadSize + r.Data.size();
    platform::StoreLE32(p + n, Crc(p, n));
    p += n + 4;
  }
  // Emptied first, so that a journal cut off while being written can never pass its checks
  // with the tail of an older one.
  int error = FFile->SetSize(0);
  platform::IoResult w;
  if (error == 0) {
    w = FFile->WriteAt(bytes.data(), bytes.size(), 0);
    error = w.error != 0 ? w.error : (w.count == bytes.size() ? 0 : ENOSPC);
  }
  if (error == 0) error = FFile->Sync();
  if (error != 0)
    throw EORVException(30511, "Cannot write the journal '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, error, platform::ErrorText(error)});
}

bool TORVRollbackJournal::Read(TORVJournalContent& Content) {
  if (!HasContent() || !EnsureOpen(false)) return false;
  int64_t size = 0;
  if (FFile->GetSize(size) != 0 || size < static_cast<int64_t>(kHeadSize + 4)) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!FFile->ReadAt(bytes.data(), bytes.size(), 0).Complete(bytes.size())) return false;
  const uint8_t* p = bytes.data();
  if (std::memcmp(p, kMagic, kMagicSize) != 0 || platform::LoadLE32(p + kHeadSize) != Crc(p, kHeadSize)) return false;
  TORVJournalContent c;
  c.HeaderOffset = static_cast<int64_t>(platform::LoadLE64(p + 8));
  c.HeaderState = static_cast<int32_t>(platform::LoadLE32(p + 16));
  c.FileLength = static_cast<int64_t>(platform::LoadLE64(p + 20));
  const uint32_t count = platform::LoadLE32(p + 28);
  size_t pos = kHeadSize + 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (bytes.size() - pos < kRegionHeadSize + 4) return false;
    const uint8_t* r = p + pos;
    const auto length = static_cast<int32_t>(platform::LoadLE32(r + 12));
    if (length < 0 || length > kMaxRegionLength || bytes.size() - pos < kRegionHeadSize + 4 + static_cast<size_t>(length))
      return false;
    const size_t n = kRegionHeadSize + static_cast<size_t>(length);
    if (platform::LoadLE32(r + n) != Crc(r, n)) return false;
    TORVJournalRegion region;
    region.PageNo = static_cast<int32_t>(platform::LoadLE32(r));
    region.Offset = static_cast<int64_t>(platform::LoadLE64(r + 4));
    if (region.Offset < 0) return false;
    region.Data.assign(r + kRegionHeadSize, r + n);
    c.Regions.push_back(std::move(region));
    pos += n + 4;
  }
  if (c.HeaderOffset < 0 || c.FileLength < 0) return false;
  Content = std::move(c);
  return true;
}

bool TORVRollbackJournal::Clear() {
  if (!HasContent()) return true;
  if (!EnsureOpen(true)) return false;
  return FFile->SetSize(0) == 0;
}

void TORVRollbackJournal::RemoveStale(const std::string& DatabaseFileName) {
  const std::string name = JournalName(DatabaseFileName);
  const int error = platform::DeleteFile(name);
  if (error != 0 && error != ENOENT)
    throw EORVException(30513, "Cannot remove the journal '%s' of a new database. ErrorCode:%d. ErrorMessage: %s",
                        {name, error, platform::ErrorText(error)});
}

}  // namespace orv
