#include "archive/hr_db_data.h"

#include <cctype>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "analysis/mymath.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_errors.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_const.h"
#include "platform/data/database_error.h"
#include "platform/data/dataset.h"
#include "platform/data/field.h"
#include "platform/data/field_defs.h"
#include "platform/data/index_defs.h"
#include "platform/files/file.h"
#include "platform/image/png_codec.h"
#include "platform/ui/ui_services.h"

namespace archive {

namespace {

using namespace platform::data;
using orv::TORVTable;

constexpr const char* kDatabaseName = "QUIRVEL";
constexpr const char* kTableNames[5] = {"MASK", "PLATE", "SPLATE", "FILM", "BACKUP"};

// ---- the template's tables ----

struct Column {
  const char* name;
  TFieldType type;
  int size;
};

// Texts of measured values hold at most "-123456.78µm²" and change nothing when longer ones
// would be needed; the job texts take what the dialog's edits take.
constexpr int kValue = 24;
constexpr int kText = 255;

const std::vector<Column>& CommonColumns() {
  static const std::vector<Column> c = {{"DateTime", ftDateTime, 0}, {"Algorithm", ftString, 40},
                                        {"Image", ftBlob, 0},        {"PDF", ftString, kText},
                                        {"JOBID", ftString, kText},  {"Plate", ftString, kText},
                                        {"Operator", ftString, kText}, {"Info", ftString, kText}};
  return c;
}

std::vector<Column> TemplateColumns(std::string_view table) {
  std::vector<Column> c = CommonColumns();
  if (table == "MASK") {
    c.insert(c.end(), {{"DOTAREA", ftString, kValue},   {"LCM", ftString, kValue},
                       {"ANGLE", ftString, kValue},     {"EdgeFaktor", ftString, kValue},
                       {"SizeTol", ftInteger, 0},       {"AVGCount", ftInteger, 0},
                       {"GCount", ftInteger, 0},        {"SCount", ftInteger, 0},
                       {"AVGDiameter", ftString, kValue}, {"GDiameter", ftString, kValue},
                       {"SDiameter", ftString, kValue}, {"AVGSize", ftString, kValue},
                       {"GSize", ftString, kValue},     {"SSize", ftString, kValue},
                       {"StdDevDiam", ftString, kValue}, {"StdDevSize", ftString, kValue},
                       {"LineWidth", ftString, kValue}, {"LineTol", ftString, kValue},
                       {"LineLen", ftInteger, 0},       {"Freq1", ftString, kValue},
                       {"Cycle1", ftString, kValue},    {"Freq2", ftString, kValue},
                       {"Cycle2", ftString, kValue}});
  } else if (table == "PLATE") {
    c.insert(c.end(), {{"DOTAREA", ftString, kValue},
                       {"LCM", ftString, kValue},
                       {"ANGLE", ftString, kValue},
                       {"EdgeFaktor", ftString, kValue},
                       {"SizeTol", ftInteger, 0},
                       {"Diameter", ftString, kValue},
                       {"StdDevDiam", ftString, kValue},
                       {"LineWidth", ftString, kValue},
                       {"LineLen", ftInteger, 0}});
  } else {
    c.insert(c.end(), {{"Structure", ftString, kValue},
                       {"Line Structure", ftString, kValue},
                       {"Freq1", ftString, kValue},
                       {"Cycle1", ftString, kValue},
                       {"Freq2", ftString, kValue},
                       {"Cycle2", ftString, kValue}});
  }
  return c;
}

// ---- values ----

std::string Num(double v) { return analysis::MFTStr(v, platform::TFloatFormat::ffFixed, 5, 2); }

void SetText(TORVTable& t, const char* column, std::string text) { t.FieldByName(column)->SetAsString(text); }
void SetNum(TORVTable& t, const char* column, double v, const char* unit = "") {
  t.FieldByName(column)->SetAsString(Num(v) + unit);
}
double GetNum(TORVTable& t, const char* column) { return analysis::GetVal(t.FieldByName(column)->AsString()); }
int32_t GetInt(TORVTable& t, const char* column) {
  TField* f = t.FieldByName(column);
  return f->IsNull() ? 0 : f->AsInteger();
}

// The picture as the archive keeps it: 24-bit, so that the packed high-range pixels and the
// header line of the bottom row are stored as they are whatever format the caller holds. The
// fast deflate keeps a store of a full capture well inside what an operator waits for; the
// camera's noise leaves little for the slower search to find.
std::vector<uint8_t> ImageBlob(const platform::Bitmap& abmp) {
  constexpr auto kFast = platform::PngCompression::Fast;
  if (abmp.GetPixelFormat() == platform::PixelFormat::pf24bit) return platform::EncodePng(abmp, kFast);
  platform::Bitmap rgb(abmp.Width(), abmp.Height());
  const int bpp = platform::BitsPerPixel(abmp.GetPixelFormat());
  for (int y = 0; y < abmp.Height(); ++y) {
    const uint8_t* s = abmp.ScanLine(y);
    uint8_t* d = rgb.ScanLine(y);
    for (int x = 0; x < abmp.Width(); ++x, d += 3) {
      if (bpp == 1) {
        d[0] = d[1] = d[2] = ((s[x / 8] >> (7 - x % 8)) & 1) ? 255 : 0;
      } else if (bpp == 8) {
        d[0] = d[1] = d[2] = s[x];
      } else {
        d[0] = s[4 * x];
        d[1] = s[4 * x + 1];
        d[2] = s[4 * x + 2];
      }
    }
  }
  return platform::EncodePng(rgb, kFast);
}

}  // namespace

int32_t RoundHalfEven(double v) {
  // nearbyint follows the rounding mode, which is to-nearest-even unless someone changed it.
  const int old = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double r = std::nearbyint(v);
  std::fesetround(old);
  if (!(r >= INT32_MIN && r <= INT32_MAX)) return r > 0 ? INT32_MAX : INT32_MIN;  // NaN too
  return static_cast<int32_t>(r);
}

void CreateArchiveTemplate(const std::string& path) {
  std::remove(path.c_str());
  orv::TORVDatabase db(nullptr);
  db.SetDatabaseName("QUIRVELTEMPLATE");
  db.SetDatabaseFileName(path);
  // The storage settings the compact command writes: a stored picture of a full capture takes
  // half as many pages, each allocated under the file's lock, as with the engine's default.
  db.SetPageSize(8192);
  db.SetPageCountInExtent(8);
  db.CreateDatabase();
  db.Open();
  for (const char* name : {"MASK", "PLATE", "SPLATE"}) {
    TORVTable t;
    t.SetDatabaseName("QUIRVELTEMPLATE");
    t.SetTableName(name);
    for (const Column& c : TemplateColumns(name)) t.FieldDefs().Add(c.name, c.type, c.size, false);
    t.IndexDefs().Add("DateTime", "DateTime", {});
    t.CreateTable();
  }
  db.Close();
}

// ---- the database component ----

THRDBData::THRDBData() = default;

THRDBData::~THRDBData() {
  try {
    Disconnect();
  } catch (...) {
    // The engine's shut-down closes whatever is still open.
  }
  for (auto& t : tables_) t.reset();
  database_.reset();
}

void THRDBData::SetDatabaseFileName(const std::string& path) {
  if (path == file_name_) return;
  Disconnect();
  file_name_ = path;
}

bool THRDBData::Connected() const { return database_ && database_->Connected(); }

void THRDBData::Disconnect() {
  if (database_) database_->SetConnected(false);
}

orv::TORVDatabase& THRDBData::HRDatabase() const {
  if (!database_) throw std::runtime_error("The measurement archive is not open: no database file was opened yet.");
  return *database_;
}

TORVTable& THRDBData::Table(int i) const {
  if (!tables_[i]) throw std::runtime_error("The measurement archive is not open: no database file was opened yet.");
  return *tables_[i];
}

void THRDBData::CheckOpen() const {
  if (!Connected()) {
    throw std::runtime_error("The measurement archive is not open" +
                             (file_name_.empty() ? std::string(".") : " (" + file_name_ + ")."));
  }
}

void THRDBData::MakeComponents() {
  if (database_) return;
  database_ = std::make_unique<orv::TORVDatabase>(nullptr);
  database_->SetName("HRDatabase");
  database_->SetDatabaseName(kDatabaseName);
  database_->SetMultiUser(true);
  database_->SetMaxConnections(500);
  database_->SetExclusive(false);
  const char* names[5] = {"LAMSTAB", "PLATETAB", "SPLATETAB", "FILMTAB", "ORVBackupTable"};
  for (int i = 0; i < 5; ++i) {
    auto t = std::make_unique<TORVTable>();
    t->SetName(names[i]);
    t->SetDatabaseName(kDatabaseName);
    t->SetTableName(kTableNames[i]);
    if (i < 3) t->SetIndexName("DateTime");
    if (i < 4) {
      auto handler = [this](TDataSet& d, EDatabaseError& e, TDataAction& a) { HandleMultiUserError(d, e, a); };
      t->OnPostError = handler;
      t->OnEditError = handler;
      t->OnDeleteError = handler;
    }
    tables_[i] = std::move(t);
  }
}

void THRDBData::OpenHRDB() {
  MakeComponents();
  orv::TORVDatabase& db = *database_;
  db.SetConnected(false);
  db.SetMultiUser(true);
  db.SetDatabaseFileName(file_name_);
  db.SetConnected(true);

  // Another process opening the same fresh copy at this moment may make the table first; its
  // table is then the one used.
  auto create = [&db](const char* name, const std::function<void()>& make) {
    if (db.TableExists(name)) return;
    try {
      make();
    } catch (...) {
      if (!db.TableExists(name)) throw;
    }
  };
  create("FILM", [&] {
    // FILM takes PLATE's columns and indexes and starts empty.
    TORVTable& plate = PLATETAB();
    plate.FieldDefs().Update();
    plate.IndexDefs().Update();
    TORVTable film;
    film.SetDatabaseName(kDatabaseName);
    film.SetTableName("FILM");
    film.FieldDefs().Assign(plate.FieldDefs());
    film.IndexDefs().Assign(plate.IndexDefs());
    film.CreateTable();
    FILMTAB().SetTableName("FILM");
  });

  for (int i = 0; i < 4; ++i) Table(i).Open();

  TORVTable& backup = ORVBackupTable();
  create("BACKUP", [&] {
    backup.SetDatabaseName(kDatabaseName);
    backup.SetTableName("BACKUP");
    backup.FieldDefs().Clear();
    backup.FieldDefs().Add("DIR", ftString, 255, false);
    backup.FieldDefs().Add("Time", ftSmallint, 0, false);
    for (const char* c : {"Mask", "Plate", "Structure", "Film"}) backup.FieldDefs().Add(c, ftDateTime, 0, false);
    backup.CreateTable();
  });
  backup.Open();
  if (backup.RecordCount() == 0) {
    // Two programs opening a new archive at the same moment both find BACKUP empty. The
    // check and the row are made again under the table's exclusive lock, so that the later
    // one sees the earlier one's row instead of adding a second.
    orv::TORVCursor& cursor = *backup.Handle();
    if (!cursor.LockTable(orv::ltX, orv::LockTablesRetries, orv::LockTablesDelay, false)) {
      throw std::runtime_error("The archive's BACKUP table is held by another program: open the archive again.");
    }
    try {
      backup.Refresh();
      if (backup.RecordCount() == 0) {
        if (BeforeFirstBackupRow) BeforeFirstBackupRow();
        backup.Append();
        try {
          backup.FieldByName("DIR")->SetAsString(HomeDir);
          backup.FieldByName("Time")->SetAsInteger(0);
          backup.Post();
        } catch (...) {
          if (backup.State() == dsInsert) backup.Cancel();
          throw;
        }
      }
    } catch (...) {
      cursor.UnlockTable(orv::ltX, true);
      throw;
    }
    cursor.UnlockTable(orv::ltX, true);
  }
  if (UpdateExportConfig) UpdateExportConfig();
}

// ---- indexes ----

bool THRDBData::IndexExists(TORVTable& aTable, const std::string& IName) {
  TIndexDefs& defs = aTable.IndexDefs();
  defs.Update();
  for (int i = 0; i < defs.Count(); ++i) {
    if (defs[i]->Name() == IName) return true;
  }
  return false;
}

void THRDBData::CreateIndex(TORVTable& aTable, const std::string& IName, TIndexOptions Options) {
  // An index over a picture would order rows by their bytes; such a title click orders nothing.
  if (TField* f = aTable.FindField(IName); f && f->IsBlob()) return;
  if (!IndexExists(aTable, IName)) {
    const bool wasOpen = aTable.Active();
    try {
      aTable.AddIndex(IName, IName, Options);
    } catch (...) {
      // The grid keeps showing the table as it was.
      if (wasOpen && !aTable.Active()) aTable.Open();
      throw;
    }
    if (wasOpen && !aTable.Active()) aTable.Open();
  }
  aTable.SetIndexName(IName);
}

// ---- multi-user errors ----

std::string THRDBData::Line(int offset) const {
  if (LanguageLine) return LanguageLine("DBERROR", offset);
  return "DBERROR + " + std::to_string(offset) + " not found";
}

void THRDBData::HandleMultiUserError(TDataSet& DataSet, EDatabaseError& E, TDataAction& Action) {
  using platform::ui::MsgButtons;
  using platform::ui::MsgKind;
  platform::ui::UiServices& ui = platform::ui::Services();
  Action = daAbort;
  auto box = [&](int offset) { ui.MessageBox(Line(offset), "QUIRVEL", MsgButtons::Ok, MsgKind::Information); };
  auto error = [&] { ui.MessageBox(E.what(), "QUIRVEL", MsgButtons::Ok, MsgKind::Error); };
  // A change another process made or deleted first: the pending change is given up and the
  // rows are read again, so that the user sees what is stored and can repeat the change.
  auto refresh = [&] {
    if (DataSet.State() == dsEdit || DataSet.State() == dsInsert) DataSet.Cancel();
    DataSet.Refresh();
  };
  auto* engine = dynamic_cast<orv::EORVEngineError*>(&E);
  if (!engine) return error();
  switch (engine->ErrorCode()) {
    case -13: return box(2);
    case -12: return box(1);
    case -8: return box(4);
    case -7:
    case -6:
      box(4);
      return refresh();
    case -5:
    case -4:
      box(3);
      return refresh();
    default: return error();
  }
}

// ---- rows ----

void THRDBData::AddRow(TORVTable& t, platform::TDateTime DT, const platform::Bitmap& abmp,
                       const analysis::TMessung& aMess, const std::string& fn,
                       const std::function<void(TORVTable&)>& columns) {
  CheckOpen();
  const std::vector<uint8_t> png = ImageBlob(abmp);
  const TJobDesc job = JobSource ? JobSource() : TJobDesc{};
  const auto type = static_cast<size_t>(aMess.aType);
  t.Append();
  try {
    t.FieldByName("DateTime")->SetAsDateTime(DT);
    SetText(t, "Algorithm", std::string(analysis::MTYPENAMES.at(type <= analysis::MT_END ? type : analysis::MT_END)));
    t.FieldByName("Image")->SetAsBytes(png);
    SetText(t, "PDF", fn);
    SetText(t, "JOBID", job.JobID);
    SetText(t, "Plate", job.Plate);
    SetText(t, "Operator", job.User);
    SetText(t, "Info", job.Info);
    columns(t);
    t.Post();
  } catch (...) {
    // A refused or failed row is given up, so that the next store does not post it with its own.
    if (t.State() == dsInsert || t.State() == dsEdit) t.Cancel();
    throw;
  }
}

namespace {

void PlateColumns(TORVTable& t, const analysis::TMessung& m) {
  SetNum(t, "DOTAREA", m.DotArea, "%");
  SetNum(t, "LCM", m.LCM);
  SetNum(t, "ANGLE", m.Alpha, "\u00B0");
  SetNum(t, "EdgeFaktor", m.EdgeFaktor);
  t.FieldByName("SizeTol")->SetAsInteger(RoundHalfEven(m.DSTol));
  SetNum(t, "Diameter", m.DiamAvg, "\u00B5m");
  SetNum(t, "StdDevDiam", m.StdDevDiam, "\u00B5m");
  SetNum(t, "LineWidth", m.LineWidth, "\u00B5m");
  t.FieldByName("LineLen")->SetAsInteger(RoundHalfEven(m.LineLenght));
}

}  // namespace

void THRDBData::AddLAMSMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                               const std::string& fn) {
  AddRow(LAMSTAB(), DT, abmp, aMess, fn, [&](TORVTable& t) {
    const analysis::TMessung& m = aMess;
    SetNum(t, "DOTAREA", m.DotArea, "%");
    SetNum(t, "LCM", m.LCM);
    SetNum(t, "ANGLE", m.Alpha, "\u00B0");
    SetNum(t, "EdgeFaktor", m.EdgeFaktor);
    t.FieldByName("SizeTol")->SetAsInteger(RoundHalfEven(m.DSTol));
    t.FieldByName("AVGCount")->SetAsInteger(m.CountAvg);
    t.FieldByName("GCount")->SetAsInteger(m.CountG);
    t.FieldByName("SCount")->SetAsInteger(m.CountK);
    SetNum(t, "AVGDiameter", m.DiamAvg, "\u00B5m");
    SetNum(t, "GDiameter", m.DiamG, "\u00B5m");
    SetNum(t, "SDiameter", m.DiamK, "\u00B5m");
    SetNum(t, "AVGSize", m.SizeAvg, "\u00B5m\u00B2");
    SetNum(t, "GSize", m.SizeG, "\u00B5m\u00B2");
    SetNum(t, "SSize", m.SizeK, "\u00B5m\u00B2");
    SetNum(t, "StdDevDiam", m.StdDevDiam, "\u00B5m");
    SetNum(t, "StdDevSize", m.StdDevSize, "\u00B5m\u00B2");
    SetNum(t, "LineWidth", m.LineWidth, "\u00B5m");
    SetNum(t, "LineTol", m.LineTol, "\u00B5m");
    t.FieldByName("LineLen")->SetAsInteger(RoundHalfEven(m.LineLenght));
    SetNum(t, "Freq1", m.Freq1);
    SetNum(t, "Cycle1", m.Periode1, "\u00B5m");
    SetNum(t, "Freq2", m.Freq2);
    SetNum(t, "Cycle2", m.Periode2, "\u00B5m");
  });
}

void THRDBData::AddPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                                const std::string& fn) {
  AddRow(PLATETAB(), DT, abmp, aMess, fn, [&](TORVTable& t) { PlateColumns(t, aMess); });
}

void THRDBData::AddFILMMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                               const std::string& fn) {
  AddRow(FILMTAB(), DT, abmp, aMess, fn, [&](TORVTable& t) { PlateColumns(t, aMess); });
}

void THRDBData::AddSPLATEMessung(platform::TDateTime DT, const platform::Bitmap& abmp, const analysis::TMessung& aMess,
                                 const std::string& fn) {
  AddRow(SPLATETAB(), DT, abmp, aMess, fn, [&](TORVTable& t) {
    const analysis::TMessung& m = aMess;
    SetNum(t, "Structure", m.DotArea, m.aType == analysis::MT_PLATEWSIAREA ? "%" : "");
    SetNum(t, "Line Structure", m.LineTol, "%");
    SetNum(t, "Freq1", m.Freq1);
    SetNum(t, "Cycle1", m.Periode1, "\u00B5m");
    SetNum(t, "Freq2", m.Freq2);
    SetNum(t, "Cycle2", m.Periode2, "\u00B5m");
  });
}

void THRDBData::ReadRow(TORVTable& t, platform::TDateTime& DT, platform::Bitmap& abmp, analysis::TMessung& aMess,
                        TJobDesc& Job, std::string& fn) {
  CheckOpen();
  aMess = analysis::TMessung{};
  Job = TJobDesc{};
  DT = t.FieldByName("DateTime")->AsDateTime();
  const std::string alg = t.FieldByName("Algorithm")->AsString();
  aMess.aType = analysis::MT_NONE;
  for (int i = 0; i < analysis::MT_END; ++i) {
    if (analysis::MTYPENAMES[static_cast<size_t>(i)] == alg) {
      aMess.aType = static_cast<analysis::MType>(i);
      break;
    }
  }
  const std::vector<uint8_t> png = t.FieldByName("Image")->AsBytes();
  abmp = platform::DecodePng(png);
  fn = t.FieldByName("PDF")->AsString();
  Job.JobID = t.FieldByName("JOBID")->AsString();
  Job.Plate = t.FieldByName("Plate")->AsString();
  Job.User = t.FieldByName("Operator")->AsString();
  Job.Info = t.FieldByName("Info")->AsString();
}

void THRDBData::GetLAMSMessung(platform::TDateTime& DT, platform::Bitmap& abmp, analysis::TMessung& aMess,
                               TJobDesc& Job, std::string& fn) {
  TORVTable& t = LAMSTAB();
  ReadRow(t, DT, abmp, aMess, Job, fn);
  analysis::TMessung& m = aMess;
  m.DotArea = GetNum(t, "DOTAREA");
  m.LCM = GetNum(t, "LCM");
  m.Alpha = GetNum(t, "ANGLE");
  m.EdgeFaktor = GetNum(t, "EdgeFaktor");
  m.DSTol = GetInt(t, "SizeTol");
  m.CountAvg = GetInt(t, "AVGCount");
  m.CountG = GetInt(t, "GCount");
  m.CountK = GetInt(t, "SCount");
  m.DiamAvg = GetNum(t, "AVGDiameter");
  m.DiamG = GetNum(t, "GDiameter");
  m.DiamK = GetNum(t, "SDiameter");
  m.SizeAvg = GetNum(t, "AVGSize");
  m.SizeG = GetNum(t, "GSize");
  m.SizeK = GetNum(t, "SSize");
  m.StdDevDiam = GetNum(t, "StdDevDiam");
  m.StdDevSize = GetNum(t, "StdDevSize");
  m.LineWidth = GetNum(t, "LineWidth");
  m.LineTol = GetNum(t, "LineTol");
  m.LineLenght = GetInt(t, "LineLen");
  m.Freq1 = GetNum(t, "Freq1");
  m.Periode1 = GetNum(t, "Cycle1");
  m.Freq2 = GetNum(t, "Freq2");
  m.Periode2 = GetNum(t, "Cycle2");
}

void THRDBData::GetPLATEMessung(platform::TDateTime& DT, platform::Bitmap& abmp, analysis::TMessung& aMess,
                                TJobDesc& Job, std::string& fn) {
  TORVTable& t = PLATETAB();
  ReadRow(t, DT, abmp, aMess, Job, fn);
  analysis::TMessung& m = aMess;
  m.DotArea = GetNum(t, "DOTAREA");
  m.LCM = GetNum(t, "LCM");
  m.Alpha = GetNum(t, "ANGLE");
  m.EdgeFaktor = GetNum(t, "EdgeFaktor");
  m.DSTol = GetInt(t, "SizeTol");
  m.DiamAvg = GetNum(t, "Diameter");
  m.StdDevDiam = GetNum(t, "StdDevDiam");
  m.LineWidth = GetNum(t, "LineWidth");
  m.LineLenght = GetInt(t, "LineLen");
}

void THRDBData::GetSPLATEMessung(platform::TDateTime& DT, platform::Bitmap& abmp, analysis::TMessung& aMess,
                                 TJobDesc& Job, std::string& fn) {
  TORVTable& t = SPLATETAB();
  ReadRow(t, DT, abmp, aMess, Job, fn);
  analysis::TMessung& m = aMess;
  m.DotArea = GetNum(t, "Structure");
  m.LineTol = GetNum(t, "Line Structure");
  m.Freq1 = GetNum(t, "Freq1");
  m.Periode1 = GetNum(t, "Cycle1");
  m.Freq2 = GetNum(t, "Freq2");
  m.Periode2 = GetNum(t, "Cycle2");
}

// ---- compaction ----

int32_t THRDBData::ParseConnectionCount(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) d = std::tolower(c) - 'a' + 10;
    if (d < 0) break;
    v = v * base + d;
    if (v > 1'000'000) break;  // far past the limit: the rest does not change the answer
  }
  if (negative) v = -v;
  return (v < 1 || v > 500) ? 1 : static_cast<int32_t>(v);
}

std::string THRDBData::CompactAndRepair(int32_t MaxConnections) {
  orv::TORVDatabase& db = HRDatabase();
  std::string failure;  // what went wrong, in the order it happened
  std::string result;
  try {
    // The engine rewrites only a closed file; every table of ours goes with the disconnect.
    Disconnect();
    std::string log;
    try {
      db.ChangeDatabaseSettings(log, false, "", orv::craRijndael_128, 8192, 8, MaxConnections);
    } catch (const std::exception&) {
      // The file is left as it was; whatever stopped the change stops the compaction below,
      // which reports it.
    }
    db.CompactDatabase();
  } catch (const std::exception& e) {
    // Whatever stopped it (the file held by another process, a page it could not read), the
    // user is told that the compaction failed and why.
    const std::string prefix = "Operation CompactDatabase failed: ";
    failure = std::string(e.what()).rfind(prefix, 0) == 0 ? e.what() : prefix + e.what();
  }
  if (!failure.empty()) {
    // The copy stopped at something it could not read (or could not take the file for
    // itself). The repair copies what it can read, table by table, and logs what it cannot;
    // a file another process holds is refused again and stays as it is.
    try {
      const std::string log = RepairWithLog(db);
      result = failure + "\n" + (log.empty() ? std::string("Database Repair Finished!") : log);
      failure.clear();
    } catch (const std::exception& e) {
      if (failure.find(e.what()) == std::string::npos) failure += std::string("\nThe repair failed too: ") + e.what();
    }
  }
  // The archive is opened again whatever happened, so that stores go on (the main window and
  // the report builder write rows while this window is hidden).
  try {
    OpenHRDB();
  } catch (const std::exception& e) {
    if (failure.empty()) throw;
    failure += std::string("\nThe archive could not be opened again: ") + e.what();
  }
  if (!failure.empty()) throw std::runtime_error(failure);
  return result;
}

std::string THRDBData::RepairWithLog(orv::TORVDatabase& db) {
  // The bool form tells a finished copy from one that was given up, which the string form
  // does not; a given-up copy leaves the file as it was.
  const std::string copy = file_name_ + ".tmp";
  std::string log;
  bool done = false;
  try {
    done = db.RepairDatabase(copy, log);
  } catch (...) {
    (void)platform::DeleteFile(copy);
    throw;
  }
  if (!done) {
    (void)platform::DeleteFile(copy);
    throw std::runtime_error("The repair was given up" + (log.empty() ? std::string(".") : ": " + log) +
                             " The archive file was not changed.");
  }
  if (platform::ReplaceFile(copy, file_name_) != 0) {
    (void)platform::DeleteFile(copy);
    throw std::runtime_error("The repaired copy could not replace the archive file, which another process holds open."
                             " The archive file was not changed.");
  }
  return log;
}

}  // namespace archive
