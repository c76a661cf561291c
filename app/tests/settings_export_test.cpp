// The scheduled export on a real archive file: the schedule's arithmetic under a clock the
// test moves, the BACKUP row the buttons write, and export runs whose files Python reads to
// judge that every row lands in exactly one file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTimeEdit>
#include <filesystem>
#include <fstream>

#include "app/language.h"
#include "app/my_message.h"
#include "app/settings.h"
#include "archive/tests/archive_rows.h"
#include "cmake/test_tools.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/storage/orv_converts.h"
#include "platform/base/clock.h"
#include "platform/data/field.h"
#include "platform/ui/scripted_ui.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace app {
namespace {

using platform::EncodeDate;
using platform::EncodeTime;
using platform::TDateTime;

TDateTime At(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, ms);
}

// Expected values from Python's datetime: (datetime(2026,12,11,0,0) - datetime(2026,12,10,0,10))
// / timedelta(milliseconds=1) == 85800000, and 11.5 hours == 41400000.
TEST(ExportSchedule, NextRunAndInterval) {
  struct Case {
    int index;
    TDateTime now;
    TDateTime next;
    uint32_t interval;
  };
  const Case cases[] = {
      {48, At(2026, 12, 10, 12, 0), At(2026, 12, 10, 23, 30), 41400000u},
      {1, At(2026, 12, 10, 0, 10), At(2026, 12, 11, 0, 0), 85800000u},
      {1, At(2026, 12, 10, 0, 0), At(2026, 12, 11, 0, 0), 86400000u},      // the run of this moment is done
      {4, At(2026, 12, 31, 1, 30, 0, 1), At(2027, 1, 1, 1, 30), 86399999u},  // "01.30 AM", into next year
      {25, At(2026, 2, 28, 11, 59, 59, 500), At(2026, 2, 28, 12, 0), 500u},
  };
  for (const Case& c : cases) {
    const auto s = NextExportTime(c.index, c.now);
    ASSERT_TRUE(s) << c.index;
    EXPECT_EQ(platform::FormatIsoDateTime(s->Next), platform::FormatIsoDateTime(c.next)) << c.index;
    EXPECT_EQ(s->IntervalMs, c.interval) << c.index;
  }
  EXPECT_FALSE(NextExportTime(0, At(2026, 12, 10, 12, 0)));
  EXPECT_FALSE(NextExportTime(49, At(2026, 12, 10, 12, 0)));
  const std::string midnight = NextExportText(1, At(2026, 12, 11, 0, 0));
  EXPECT_EQ(midnight, "2026-12-11 00:00:00");
  EXPECT_EQ(NextExportText(48, At(2026, 12, 10, 23, 30)), "2026-12-10 23:30:00");
  EXPECT_EQ(ExportStamp(At(2026, 3, 4, 5, 6, 59, 999)), "202603040506");
}

QApplication& QtApp() {
  static int argc = 1;
  static char name[] = "settings_export_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

class ScheduledExportTest : public ::testing::Test {
 protected:
  ScheduledExportTest() {
    LanguageModule().SetLines({"MESSAGES", "m1", "m2", "m3", "m4", "m5", "m6", "Folder missing", "Exporting ..."});
    settings.Archive = &data;
    settings.MyMessageFrm = &message;
    data.UpdateExportConfig = [this] { settings.UpdateExportConfig(); };
    data.OpenHRDB();
  }
  ~ScheduledExportTest() override {
    data.UpdateExportConfig = nullptr;
    CreateLanguage();
  }

  orv::TORVTable& Backup() {
    data.ORVBackupTable().First();
    return data.ORVBackupTable();
  }
  std::string Mark(const char* field) {
    platform::data::TField* f = Backup().FieldByName(field);
    return f->IsNull() ? "" : orv::DateTimeToEngineText(f->AsDateTime());
  }
  void Add(orv::TORVTable& t, TDateTime dt, const std::string& job) {
    t.Append();
    t.FieldByName("DateTime")->SetAsDateTime(dt);
    t.FieldByName("JOBID")->SetAsString(job);
    t.Post();
  }
  // A fresh folder under the tests' output folder, left for a reader to inspect.
  std::string OutFolder(const std::string& name) {
    const std::string dir = std::string(QUIRVEL_TEST_OUTPUT) + "/scheduled_export/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
  }
  void Apply(const std::string& dir, int index) {
    settings.DestPathEdit->setText(QString::fromStdString(dir));
    settings.BackUpTimeList->setCurrentIndex(index);
    settings.ApplybtnClick();
  }
  std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  QApplication& qapp = QtApp();  // before the first widget
  platform::ManualClock clock{At(2026, 12, 10, 12, 0)};
  platform::ScopedClock scoped_clock{clock};
  archive::testing::ArchiveFixture fx;
  archive::THRDBData& data = fx.Data();
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped_ui{ui};
  TFrmSettings settings;
  TMyMessageFrm message;
};

TEST_F(ScheduledExportTest, ApplyArmsTheTimerAndASuspendedTickExportsNothing) {
  const std::string dir = OutFolder("suspended");
  Add(data.LAMSTAB(), At(2026, 12, 9, 8, 0), "M1");
  Apply(dir, 48);
  EXPECT_EQ(Backup().FieldByName("DIR")->AsString(), dir);
  EXPECT_EQ(Backup().FieldByName("Time")->AsInteger(), 48);
  EXPECT_NE(settings.BackUpTimer(), 0u);
  EXPECT_EQ(settings.BackUpInterval(), 41400000u);
  const QString shown = settings.NextBAckUp->text();
  EXPECT_EQ(shown.toStdString(), "2026-12-10 23:30:00");

  settings.Suspendbx->setChecked(true);
  clock.Advance(41400000u);
  EXPECT_EQ(ui.RunDueTimers(), 1u);
  EXPECT_TRUE(Files(dir).empty());
  EXPECT_EQ(settings.NextBAckUp->text(), shown);
  EXPECT_EQ(settings.BackUpTimer(), 0u);
  EXPECT_EQ(ui.PendingTimers(), 0u);
  EXPECT_EQ(Mark("Mask"), "");

  // Unsuspended and applied again: the tick exports and the timer is armed for tomorrow.
  settings.Suspendbx->setChecked(false);
  clock.Advance(60000);  // 23:31
  Apply(dir, 48);
  EXPECT_EQ(settings.NextBAckUp->text().toStdString(), "2026-12-11 23:30:00");
  clock.Advance(settings.BackUpInterval());
  EXPECT_EQ(ui.RunDueTimers(), 1u);
  EXPECT_EQ(Files(dir), (std::vector<std::string>{"MASK_202612112330.txt"}));
  EXPECT_EQ(settings.BackUpInterval(), 86400000u);
  EXPECT_FALSE(message.isVisible());
}

TEST_F(ScheduledExportTest, MidnightIsWrittenOutAndNeverStopsTheTimer) {
  clock.Set(At(2026, 12, 10, 0, 10));
  Apply(OutFolder("midnight"), 1);
  EXPECT_EQ(settings.NextBAckUp->text().toStdString(), "2026-12-11 00:00:00");
  EXPECT_EQ(settings.BackUpInterval(), 85800000u);
  Apply(OutFolder("midnight"), 0);
  EXPECT_EQ(settings.BackUpTimer(), 0u);
  EXPECT_EQ(ui.PendingTimers(), 0u);
  EXPECT_EQ(Backup().FieldByName("Time")->AsInteger(), 0);
}

TEST_F(ScheduledExportTest, ResetWritesTheFourMarksToTheMillisecond) {
  settings.ResetDate->setDate(QDate(2026, 12, 1));
  settings.TimePicker->setTime(QTime(0, 0, 0, 0));
  settings.ResetbtnClick();
  for (const char* f : {"Mask", "Plate", "Structure", "Film"}) EXPECT_EQ(Mark(f), "2026-12-01") << f;
  EXPECT_EQ(settings.MaskEdit->text().toStdString(), "2026-12-01");
  settings.TimePicker->setTime(QTime(7, 8, 9, 345));
  settings.ResetbtnClick();
  for (const char* f : {"Mask", "Plate", "Structure", "Film"}) EXPECT_EQ(Mark(f), "2026-12-01 07:08:09.345") << f;
}

// Python's reading of every export file of a folder: "file<TAB>JOBID" per row.
std::string JobsByFile(const std::string& dir) {
  const std::string script =
      "import csv,glob,os,sys\n"
      "for p in sorted(glob.glob(os.path.join(sys.argv[1],'*.txt'))):\n"
      "  with open(p,encoding='utf-8-sig',newline='') as f:\n"
      "    lines=f.read().split('\\r\\n')\n"
      "  assert lines[-1]=='', p\n"
      "  rows=[l.split('\\t') for l in lines[:-1]]\n"
      "  h=rows[0]; assert h[-1]=='' and all(len(r)==len(h) for r in rows), p\n"
      "  for r in rows[1:]: print(os.path.basename(p)+'\\t'+r[h.index('JOBID')])\n";
  const std::string py = dir + "/../read_exports.py";
  std::ofstream(py) << script;
  const auto r = quirvel::testing::RunTool("/usr/bin/python3 " + py + " " + dir, false);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return r.output;
}

TEST_F(ScheduledExportTest, EveryRowLandsInExactlyOneFileAndTheMarksAreTheNewestExported) {
  const std::string dir = OutFolder("runs");
  Add(data.LAMSTAB(), At(2026, 12, 9, 0, 0), "M-midnight");
  Add(data.LAMSTAB(), At(2026, 12, 9, 10, 0, 0, 100), "M-100");
  Add(data.PLATETAB(), At(2026, 12, 9, 11, 0), "P1");
  // FILM keeps storage order: the newest row is not the last one.
  Add(data.FILMTAB(), At(2026, 12, 9, 15, 0, 0, 700), "F-newest");
  Add(data.FILMTAB(), At(2026, 12, 9, 9, 0), "F-older");
  Apply(dir, 0);
  settings.ImmediateBackupbtnClick();
  EXPECT_EQ(Files(dir), (std::vector<std::string>{"FILM_202612101200.txt", "MASK_202612101200.txt",
                                                  "PLATE_202612101200.txt"}));
  EXPECT_EQ(Mark("Mask"), "2026-12-09 10:00:00.100");
  EXPECT_EQ(Mark("Plate"), "2026-12-09 11:00:00");
  EXPECT_EQ(Mark("Structure"), "");
  EXPECT_EQ(Mark("Film"), "2026-12-09 15:00:00.700");

  // Rows only milliseconds newer than the marks, and a FILM row between the two old ones.
  Add(data.LAMSTAB(), At(2026, 12, 9, 10, 0, 0, 101), "M-101");
  Add(data.FILMTAB(), At(2026, 12, 9, 15, 0, 0, 701), "F-701");
  Add(data.FILMTAB(), At(2026, 12, 9, 12, 0), "F-between");  // older than the mark: exported before? never
  Add(data.SPLATETAB(), At(2026, 12, 8, 0, 0), "S-midnight");
  clock.Advance(20000);  // the same minute
  settings.ImmediateBackupbtnClick();
  EXPECT_EQ(Mark("Mask"), "2026-12-09 10:00:00.101");
  EXPECT_EQ(Mark("Structure"), "2026-12-08");
  EXPECT_EQ(Mark("Film"), "2026-12-09 15:00:00.701");
  // A third run with nothing new writes nothing and moves nothing.
  settings.ImmediateBackupbtnClick();
  EXPECT_EQ(Mark("Film"), "2026-12-09 15:00:00.701");

  EXPECT_EQ(JobsByFile(dir),
            "FILM_202612101200.txt\tF-newest\nFILM_202612101200.txt\tF-older\n"
            "FILM_202612101200_2.txt\tF-701\n"
            "MASK_202612101200.txt\tM-midnight\nMASK_202612101200.txt\tM-100\n"
            "MASK_202612101200_2.txt\tM-101\n"
            "PLATE_202612101200.txt\tP1\n"
            "STRUCTURE_202612101200.txt\tS-midnight\n");
  EXPECT_FALSE(message.isVisible());
}

TEST_F(ScheduledExportTest, AFileThatCannotBeWrittenKeepsItsMarkAndIsReported) {
  Add(data.LAMSTAB(), At(2026, 12, 9, 11, 0), "M1");
  // A folder that exists but takes no files, for any user.
  Apply("/proc", 48);
  try {
    settings.ImmediateBackupbtnClick();
    ADD_FAILURE() << "the failed write was not reported";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("MASK_202612101200.txt"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Mark("Mask"), "");
  EXPECT_FALSE(message.isVisible());
  EXPECT_NE(settings.BackUpTimer(), 0u);
}

TEST_F(ScheduledExportTest, AMissingFolderWritesNothingMovesNoMarkAndRearms) {
  Add(data.PLATETAB(), At(2026, 12, 9, 11, 0), "P1");
  // A folder stored on another machine is shown as it stands and found missing.
  Apply("D:\\Exports\\QC", 48);
  EXPECT_EQ(settings.DestPathEdit->text().toStdString(), "D:\\Exports\\QC");
  clock.Advance(settings.BackUpInterval());
  EXPECT_EQ(ui.RunDueTimers(), 1u);
  const auto messages = ui.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Folder missing");
  EXPECT_EQ(Mark("Plate"), "");
  EXPECT_FALSE(std::filesystem::exists("D:\\Exports\\QC"));
  EXPECT_NE(settings.BackUpTimer(), 0u);
  EXPECT_EQ(settings.BackUpInterval(), 86400000u);
}

}  // namespace
}  // namespace app
