#pragma once
// The rollback journal of a commit, kept beside the database file as "<file>-journal".
//
// Before a commit changes anything in the database file, the journal receives the file header,
// the file length and the before-image of every region the commit will overwrite, each with a
// CRC, and goes to the disk. Whoever takes the file-header lock next and finds a journal that
// belongs to the header on disk (same commit counter) writes the images back: a commit cut off
// by a killed process or a power cut then leaves the file as it was before, never half old and
// half new. A journal whose commit finished (the counter moved on) or that was itself cut off
// (the database file was not touched yet) is discarded.
//
// Layout, little-endian: "ORVJRNL1", Int64 header offset, Int32 commit counter of the header,
// Int64 file length, Int32 region count, UInt32 CRC-32 of these 32 bytes; then per region
// Int32 page number (-1 for the file header), Int64 file offset, Int32 length, the bytes and a
// UInt32 CRC-32 of the region's 16 descriptive bytes and data.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/file.h"

namespace orv {

struct TORVJournalRegion {
  int32_t PageNo = -1;
  int64_t Offset = 0;
  std::vector<uint8_t> Data;
};

struct TORVJournalContent {
  int64_t HeaderOffset = 0;
  int32_t HeaderState = 0;
  int64_t FileLength = 0;
  std::vector<TORVJournalRegion> Regions;
};

class TORVRollbackJournal {
 public:
  explicit TORVRollbackJournal(platform::FileFactory Factory);
  ~TORVRollbackJournal();
  TORVRollbackJournal(const TORVRollbackJournal&) = delete;
  TORVRollbackJournal& operator=(const TORVRollbackJournal&) = delete;

  static std::string JournalName(const std::string& DatabaseFileName) { return DatabaseFileName + "-journal"; }

  // Binds to the journal of a database file; nothing is opened or created yet.
  void Bind(const std::string& DatabaseFileName, bool ReadOnly);
  // Closes the journal; an empty journal that nobody else has open is removed.
  void Close();
  const std::string& FileName() const { return FFileName; }

  // Whether a journal with content lies beside the database (cheap: one size query).
  bool HasContent() const;
  // Writes a whole journal and puts it on the disk. Raises 30511 on failure.
  void Write(const TORVJournalContent& Content);
  // Reads and checks the journal; false when it is absent, empty, cut off or damaged.
  bool Read(TORVJournalContent& Content);
  // Empties the journal. False when that failed (the content stays, and is harmless once the
  // commit counter of the database moved on).
  bool Clear();
  // Removes the journal of a database file that is being created anew. Raises 30513 when a
  // journal exists and cannot be removed.
  static void RemoveStale(const std::string& DatabaseFileName);

 private:
  bool EnsureOpen(bool ForWriting);

  platform::FileFactory FFactory;
  std::unique_ptr<platform::File> FFile;
  std::string FFileName;
  bool FReadOnly = false;
};

}  // namespace orv
