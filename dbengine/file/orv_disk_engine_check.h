#pragma once
// A check of a whole database file, for repair decisions and for the tests that kill and fail
// writers: it follows everything the file stores from the header down and reports what does
// not hold.
//
//   - the header (signature, version, a finished commit, a file long enough for its pages);
//   - the free-space maps in their places, with their page types;
//   - the system directory, the sessions file and the table list;
//   - per table: its metadata, most-updated and locks files, the record page index against the
//     record pages and the stored record count, every index's tree (sound, one entry per
//     record, each record found under its values), every BLOB reference readable, the BLOB
//     page index against the small-BLOB pages;
//   - no page reached twice, every reached page marked used.
//
// Pages marked used that nothing reaches are only leaked: a process that dies between taking a
// page and committing leaves them, and they cost space, not data. Small BLOBs on a reached page
// that no record refers to are counted the same way.
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

class TORVDiskDatabaseData;

struct DatabaseCheckReport {
  std::vector<std::string> Errors;
  int32_t PageCount = 0;
  int32_t UsedPages = 0;
  int32_t ReachedPages = 0;
  int32_t LeakedPages = 0;     // used, not reached
  int32_t OrphanBlobs = 0;     // small BLOBs no record refers to
  struct Table {
    std::string Name;
    int64_t RecordCount = 0;
    int64_t BlobCount = 0;
  };
  std::vector<Table> Tables;

  bool Ok() const { return Errors.empty(); }
  // The errors, one per line, then the counts.
  std::string Text() const;
};

// Reads with the system session; the database must be open. Run it while no process changes
// the file: what another process writes meanwhile may show as an error.
DatabaseCheckReport CheckDatabase(TORVDiskDatabaseData& Database);

}  // namespace orv
