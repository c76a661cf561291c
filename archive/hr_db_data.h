#pragma once
// The measurement archive's database side: one database file of our engine opened in
// multi-user mode ("QUIRVEL"), its tables MASK, PLATE, SPLATE (from the template), FILM (an
// empty copy of PLATE made on the first open) and BACKUP (the scheduled export's one row),
// the rows every stored measurement becomes, the translation of the engine's multi-user
// outcomes into the language file's DBERROR lines, and the maintenance command that rewrites
// the file. No window: the archive window (archive/hr_db.h) holds one of these, and tests use
// it directly.
//
// Stored texts are the engine's 8-bit text; they are handed over here as UTF-8 ("12.30%",
// "45.00°", "3.20µm", "8.00µm²").
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "analysis/analyze.h"
#include "archive/report_context.h"
#include "platform/base/datetime.h"
#include "platform/data/data_types.h"
#include "platform/image/bitmap.h"

namespace platform::data {
class TDataSet;
class EDatabaseError;
}  // namespace platform::data

namespace orv {
class TORVDatabase;
class TORVTable;
}  // namespace orv

namespace archive {

// The template every new archive file is a copy of: the tables MASK, PLATE and SPLATE with
// their columns and the "DateTime" index. Written with our own engine (which must be running);
// an existing file at path is replaced.
void CreateArchiveTemplate(const std::string& path);

// The text of a date-time column's value of the current row, and the like, are read through
// the table components; this is the rounding of the integer columns: nearest, ties to even.
int32_t RoundHalfEven(double v);

class THRDBData : public ReportArchive {
 public:
  // Nothing is made or connected until the first OpenHRDB (the engine need not run before).
  THRDBData();
  // Disconnects (FormDestroy).
  ~THRDBData() override;
  THRDBData(const THRDBData&) = delete;
  THRDBData& operator=(const THRDBData&) = delete;

  // ---- what the program hands over ----
  // The program folder: the BACKUP row's first DIR.
  std::string HomeDir;
  // The report parameter dialog's four edits at the moment of a store; empty texts without one.
  std::function<TJobDesc()> JobSource;
  // Line `offset` after the language section `section`'s line (DBERROR); without it the text
  // the language module gives for a missing line.
  std::function<std::string(std::string_view section, int offset)> LanguageLine;
  // The settings window's export configuration, shown and armed from the BACKUP row after
  // every open (UpdateExportConfig). Without one nothing is armed.
  std::function<void()> UpdateExportConfig;
  // Called when an open is about to give a new file its BACKUP row. Tests stretch the moment
  // between finding BACKUP empty and adding the row with it, where two programs opening one
  // new file would otherwise both add a row.
  std::function<void()> BeforeFirstBackupRow;

  // ---- the database component ----
  // A different file disconnects first; the same file changes nothing.
  void SetDatabaseFileName(const std::string& path);
  const std::string& DatabaseFileName() const { return file_name_; }
  bool Connected() const;
  void Disconnect();
  // (Re)connects the file in multi-user mode and prepares the five tables; the engine's errors
  // (missing or damaged file, missing template table) reach the caller.
  void OpenHRDB();

  // The components, made by the first OpenHRDB; using one before throws "The measurement
  // archive is not open: ...".
  orv::TORVDatabase& HRDatabase() const;
  orv::TORVTable& LAMSTAB() const { return Table(0); }
  orv::TORVTable& PLATETAB() const { return Table(1); }
  orv::TORVTable& SPLATETAB() const { return Table(2); }
  orv::TORVTable& FILMTAB() const { return Table(3); }
  orv::TORVTable& ORVBackupTable() const { return Table(4); }

  // ---- indexes of the grid titles ----
  // One of the table's index definitions is named exactly IName (letter case included).
  static bool IndexExists(orv::TORVTable& aTable, const std::string& IName);
  // Makes IName the table's index, first adding a one-column index over the column IName.
  // A BLOB column is not indexed (nothing changes); a failed restructure leaves the table
  // open as it was and raises.
  void CreateIndex(orv::TORVTable& aTable, const std::string& IName, platform::data::TIndexOptions Options);

  // ---- multi-user errors: the body of the tables' post, edit and delete error events ----
  void HandleMultiUserError(platform::data::TDataSet& DataSet, platform::data::EDatabaseError& E,
                            platform::data::TDataAction& Action);

  // ---- rows ----
  // A refused post shows its message through the error events and ends in EAbort with the
  // row cancelled; any other failure cancels the row and passes the error on.
  void AddLAMSMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                      const std::string& fn) override;
  void AddPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                       const std::string& fn) override;
  void AddSPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                        const std::string& fn) override;
  void AddFILMMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                      const std::string& fn) override;
  // The current row of MASK, PLATE or SPLATE. abmp receives the stored picture (an empty or
  // damaged Image raises the picture reader's error).
  void GetLAMSMessung(platform::TDateTime& DT, platform::Bitmap& abmp, analysis::TMessung& aMess, TJobDesc& Job,
                      std::string& fn);
  void GetPLATEMessung(platform::TDateTime& DT, platform::Bitmap& abmp, analysis::TMessung& aMess, TJobDesc& Job,
                       std::string& fn);
  void GetSPLATEMessung(platform::TDateTime& DT, platform::Bitmap& abmp, analysis::TMessung& aMess, TJobDesc& Job,
                        std::string& fn);

  // ---- compaction ----
  // The number of connections typed into the compact command read like the runtime's integer
  // conversion (leading blanks, sign, decimal or "$"/"0x" hexadecimal digits up to the first
  // other character; 0 without digits); below 1 or above 500 gives 1.
  static int32_t ParseConnectionCount(std::string_view text);
  // Rewrites the disconnected file with the fixed storage settings and MaxConnections (a
  // refused change leaves it as it was), compacts it and opens the archive again in every case.
  // A compaction that fails is followed by a repair: the result is then the compaction's error
  // and the repair log ("Database Repair Finished!" when the repair met nothing). Raises when
  // the file could be neither compacted nor repaired (nothing of it changed), naming both.
  std::string CompactAndRepair(int32_t MaxConnections);

 private:
  orv::TORVTable& Table(int i) const;
  void MakeComponents();
  void CheckOpen() const;
  // The repair into a copy that replaces the file; raises when it cannot and leaves the file.
  std::string RepairWithLog(orv::TORVDatabase& db);
  std::string Line(int offset) const;
  void AddRow(orv::TORVTable& t, platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
              const std::string& fn, const std::function<void(orv::TORVTable&)>& columns);
  void ReadRow(orv::TORVTable& t, platform::TDateTime& DT, platform::Bitmap& abmp, analysis::TMessung& aMess,
               TJobDesc& Job, std::string& fn);

  std::string file_name_;
  std::unique_ptr<orv::TORVDatabase> database_;
  std::unique_ptr<orv::TORVTable> tables_[5];
};

}  // namespace archive
