// The settings window's scheduled export: once a day, at the time of day chosen on the export
// page, the four measurement tables of the archive are written as text files into the chosen
// folder, each run taking only the rows newer than the previous run's. The schedule and the
// marks live in the archive's BACKUP row, so that every workstation sharing the archive sees
// the same state.
#include <QComboBox>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTimeEdit>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "app/home_path.h"
#include "app/language.h"
#include "app/my_message.h"
#include "app/settings.h"
#include "archive/hr_db_data.h"
#include "archive/hr_db_export.h"
#include "archive/hr_db_plot.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/storage/orv_converts.h"
#include "platform/base/clock.h"
#include "platform/data/date_time_text.h"
#include "platform/data/field.h"

namespace app {

namespace {

constexpr int kTimeItems = 48;


int64_t MillisecondsOf(platform::TDateTime t) { return std::llround(t * platform::kMSecsPerDay); }

// The four exported tables with the page's edit, the BACKUP field of their mark and the file
// name's prefix.
struct ExportedTable {
  orv::TORVTable& (archive::THRDBData::*table)() const;
  QLineEdit* TFrmSettings::*edit;
  const char* field;
  const char* prefix;
};
const ExportedTable kTables[] = {
    {&archive::THRDBData::LAMSTAB, &TFrmSettings::MaskEdit, "Mask", "MASK_"},
    {&archive::THRDBData::PLATETAB, &TFrmSettings::PlateEdit, "Plate", "PLATE_"},
    {&archive::THRDBData::SPLATETAB, &TFrmSettings::StructureEdit, "Structure", "STRUCTURE_"},
    {&archive::THRDBData::FILMTAB, &TFrmSettings::FilmEdit, "Film", "FILM_"},
};

// Edits the BACKUP row, lets `change` set its fields and posts; a failure cancels the edit.
void EditBackup(orv::TORVTable& backup, const std::function<void(orv::TORVTable&)>& change) {
  backup.First();
  backup.Edit();
  try {
    change(backup);
    backup.Post();
  } catch (...) {
    if (backup.State() == platform::data::dsEdit) backup.Cancel();
    throw;
  }
}

}  // namespace

std::optional<ExportSchedule> NextExportTime(int index, platform::TDateTime now) {
  if (index < 1 || index > kTimeItems) return std::nullopt;
  // Whole milliseconds throughout: the interval is what the timer waits.
  const int64_t nowMs = MillisecondsOf(now);
  const int64_t day = static_cast<int64_t>(std::floor(static_cast<double>(nowMs) / platform::kMSecsPerDay));
  const int64_t timeOfDay = nowMs - day * platform::kMSecsPerDay;
  const int64_t at = static_cast<int64_t>(index - 1) * 30 * 60 * 1000;
  int64_t next = day * platform::kMSecsPerDay + at;
  // At the very moment itself the run is tomorrow's: a timer of 0 ms armed by the run that just
  // ended would export a second time at once.
  if (timeOfDay >= at) next += platform::kMSecsPerDay;
  ExportSchedule s;
  s.Next = static_cast<double>(next) / platform::kMSecsPerDay;
  s.IntervalMs = static_cast<uint32_t>(next - nowMs);
  return s;
}

std::string NextExportText(int index, platform::TDateTime next) {
  std::string text = platform::data::DateTimeToStr(next);
  if (index == 1) text += " " + platform::data::TimeToStr(0);
  return text;
}

std::string ExportStamp(platform::TDateTime start) {
  const platform::DateParts p = platform::DecodeDateTime(start);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute);
  return text;
}

std::string FreeExportFileName(const std::string& folder, const std::string& prefix, const std::string& stamp) {
  const std::filesystem::path dir(folder);
  std::filesystem::path name = dir / (prefix + stamp + ".txt");
  for (int n = 2; std::filesystem::exists(name); ++n) name = dir / (prefix + stamp + "_" + std::to_string(n) + ".txt");
  return name.string();
}

std::string NewerThanFilter(platform::TDateTime mark) {
  return "DateTime > " + archive::QuoteFilterText(orv::DateTimeToEngineText(mark));
}

void TFrmSettings::StopBackUpTimer() {
  if (backup_timer_ != 0) platform::ui::Services().CancelTimer(backup_timer_);
  backup_timer_ = 0;
}

void TFrmSettings::UpdateExportConfig() {
  StopBackUpTimer();
  if (!Archive) throw std::runtime_error("The scheduled export has no measurement archive.");
  orv::TORVTable& backup = Archive->ORVBackupTable();
  backup.First();
  DatabaseEdit->setText(Q(Archive->DatabaseFileName()));
  DestPathEdit->setText(Q(backup.FieldByName("DIR")->AsString()));
  for (const ExportedTable& t : kTables) {
    platform::data::TField* f = backup.FieldByName(t.field);
    (this->*t.edit)->setText(f->IsNull() ? QString() : Q(platform::data::DateTimeToStr(f->AsDateTime())));
  }
  const int index = backup.FieldByName("Time")->AsInteger();
  BackUpTimeList->setCurrentIndex(index >= 0 && index < BackUpTimeList->count() ? index : 0);
  const std::optional<ExportSchedule> s = NextExportTime(index, platform::GetClock().Now());
  if (!s) return;  // never: the timer stays off and the label keeps what it showed
  NextBAckUp->setText(Q(NextExportText(index, s->Next)));
  backup_interval_ = s->IntervalMs;
  backup_timer_ = platform::ui::Services().StartTimer(s->IntervalMs, [this] {
    backup_timer_ = 0;
    Guarded([this] { BackUpTimerTimer(); });
  });
}

void TFrmSettings::BackUpTimerTimer() {
  StopBackUpTimer();
  // A suspended schedule stays off until it is applied, reset or exported by hand.
  if (!Suspendbx->isChecked()) PerformBackup();
}

void TFrmSettings::PerformBackup() {
  if (!Archive) throw std::runtime_error("The scheduled export has no measurement archive.");
  const std::string folder = DestPathEdit->text().toStdString();
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    platform::ui::Services().MessageBox(GetMessageString(7), "QUIRVEL", platform::ui::MsgButtons::Ok,
                                        platform::ui::MsgKind::Warning);
    UpdateExportConfig();
    return;
  }
  // The message window goes away however the run ends.
  struct Shown {
    TMyMessageFrm* frm;
    ~Shown() {
      if (frm) frm->hide();
    }
  } shown{MyMessageFrm};
  if (MyMessageFrm) {
    MyMessageFrm->Label1->setText(Q(GetMessageString(8)));
    MyMessageFrm->show();
  }
  const std::string stamp = ExportStamp(platform::GetClock().Now());
  orv::TORVTable& backup = Archive->ORVBackupTable();
  std::string failure;
  for (const ExportedTable& t : kTables) {
    orv::TORVTable& table = (Archive->*t.table)();
    backup.First();
    platform::data::TField* markField = backup.FieldByName(t.field);
    table.SetFiltered(false);
    if (!markField->IsNull()) {
      // The stored mark, not the edit's text: the text drops milliseconds and a midnight time.
      table.SetFilterText(NewerThanFilter(markField->AsDateTime()));
      table.SetFiltered(true);
    }
    table.First();
    if (table.Eof()) continue;
    // FILM has no index, so its last row need not be its newest: the mark is the greatest
    // DateTime exported.
    double newest = -1e300;
    for (table.First(); !table.Eof(); table.Next())
      newest = std::max(newest, table.FieldByName("DateTime")->AsDateTime());
    table.First();
    try {
      archive::SaveToTxT(FreeExportFileName(folder, t.prefix, stamp), table);
    } catch (const std::exception& e) {
      // The mark stays: these rows go into the next run's file.
      if (!failure.empty()) failure += "\n";
      failure += e.what();
      continue;
    }
    EditBackup(backup, [&](orv::TORVTable& b) { b.FieldByName(t.field)->SetAsDateTime(newest); });
  }
  if (MyMessageFrm) MyMessageFrm->hide();
  UpdateExportConfig();
  if (!failure.empty()) throw std::runtime_error(failure);
}

void TFrmSettings::ApplybtnClick() {
  if (!Archive) throw std::runtime_error("The scheduled export has no measurement archive.");
  const std::string dir = DestPathEdit->text().toStdString();
  const int index = BackUpTimeList->currentIndex();
  EditBackup(Archive->ORVBackupTable(), [&](orv::TORVTable& b) {
    b.FieldByName("DIR")->SetAsString(dir);
    b.FieldByName("Time")->SetAsInteger(index);
  });
  UpdateExportConfig();
}

void TFrmSettings::ResetbtnClick() {
  if (!Archive) throw std::runtime_error("The scheduled export has no measurement archive.");
  const QDate d = ResetDate->date();
  const QTime tm = TimePicker->time();
  const platform::TDateTime t = platform::data::CombineDateTime(
      platform::EncodeDate(d.year(), d.month(), d.day()),
      platform::EncodeTime(tm.hour(), tm.minute(), tm.second(), tm.msec()));
  EditBackup(Archive->ORVBackupTable(), [&](orv::TORVTable& b) {
    for (const ExportedTable& e : kTables) b.FieldByName(e.field)->SetAsDateTime(t);
  });
  UpdateExportConfig();
}

void TFrmSettings::ImmediateBackupbtnClick() { PerformBackup(); }

void TFrmSettings::OpenDestPathClick() {
  platform::ui::FolderDialogOptions options;
  options.initial_dir = ProgramFolder();
  options.allow_create = true;
  if (std::optional<std::string> folder = platform::ui::Services().SelectDirectory(options))
    DestPathEdit->setText(Q(*folder));
}

}  // namespace app
