// Opening a database file of our engine: the file header and its checks, the encryption
// header, a rollback journal beside the file, the system directory, the sessions file, the
// table list and the free-space maps. The bytes go to a file of the scratch folder (the journal,
// when the input holds one, beside it); the file is opened through a session as the engine
// opens it, everything that can be read is read, and the session disconnects. Any bytes either
// open or are refused with an engine error.
#include <algorithm>
#include <string>
#include <vector>

#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/orv_disk_engine_free_space.h"
#include "dbengine/file/orv_disk_engine_internal_files.h"
#include "dbengine/file/orv_disk_engine_system_files.h"
#include "dbengine/file/tests/disk_session.h"
#include "dbengine/storage/orv_except.h"
#include "fuzz/db_file_fuzz.h"
#include "fuzz/fuzz_support.h"
#include "platform/base/clock.h"

namespace {

// Lock waits take no time: a file whose lock bytes say "held" must not stall the fuzzer.
platform::ManualClock g_clock;
platform::ScopedClock g_scoped(g_clock);

void ReadInternalFile(orv::TORVDiskPageManager& pm, int32_t session, uint16_t page_type, int32_t start) {
  orv::TORVInternalDBTransactedAccessFile file(pm, page_type);
  file.OpenFile(start);
  try {
    const std::vector<uint8_t> content = file.ReadWholeFile(session, true);
    FUZZ_CHECK(static_cast<int64_t>(content.size()) == std::max(file.GetSize(session), 0));
  } catch (const orv::EORVException&) {
  }
}

void ReadEverything(orv::TORVDiskDatabaseData& db, int32_t session) {
  std::vector<std::string> tables;
  db.GetTablesList(tables);
  orv::TORVDiskPageManager& pm = *db.GetDiskPageManager();
  for (const std::string& name : tables) {
    FUZZ_CHECK(db.TableExists(name));
    int32_t id = 0, metadata = 0, most_updated = 0, locks = 0;
    try {
      db.OpenTable(name, id, metadata, most_updated, locks);
    } catch (const orv::EORVException&) {
      continue;
    }
    ReadInternalFile(pm, session, orv::ptTableMetaDataFile, metadata);
    ReadInternalFile(pm, session, orv::ptTableMostUpdatedFile, most_updated);
  }
  for (const auto& item : db.GetSystemDirectory()->Items()) (void)item;
  db.GetDBFileConnectionsCount();
  const int32_t pages = std::min(pm.GetPageCount(), 4096);
  for (int32_t p = 0; p < pages; ++p) {
    try {
      pm.FreeSpaceManager()->GetPageUsageFromPFS(p);
    } catch (const orv::EORVException&) {
    }
  }
}

// Opens the file with Password through a session of the given kind; false when it was refused
// for the password.
bool OpenAndRead(const std::string& path, const orv::TORVPassword& password, bool multi_user) {
  auto db = std::make_unique<orv::TORVDiskDatabaseData>();
  db->FDatabaseName = path;
  db->FPassword = password;
  orv::testing::DiskSession s(*db, multi_user);
  try {
    const int32_t session = s.Connect();
    ReadEverything(*db, session);
    s.Disconnect();
    FUZZ_CHECK(!db->IsOpened());
  } catch (const orv::EORVException& e) {
    if (e.NativeError() == 30445) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const size_t journal_at = bytes.rfind(fuzz::kJournalSignature);
  const std::string_view file = bytes.substr(0, journal_at);
  static const std::string path = fuzz::ScratchFile("fuzz.orv");
  static const std::string journal = path + "-journal";
  fuzz::WriteFile(path, std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
  std::error_code ec;
  std::filesystem::remove(journal, ec);
  if (journal_at != std::string_view::npos)
    fuzz::WriteFile(journal, std::span(data + journal_at, size - journal_at));
  // Single-user or multi-user: the file's size decides, so that both ways are taken.
  const bool multi_user = (size & 1) != 0;
  if (!OpenAndRead(path, {}, multi_user)) OpenAndRead(path, fuzz::SeedPassword(), multi_user);
  return 0;
}
