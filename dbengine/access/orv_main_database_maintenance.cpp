// Maintenance of a database file: compact, repair, new password, new settings. Each copies the
// database table by table into a new file made with the wanted settings and, when the whole
// copy succeeded, puts the new file in the old one's place.
#include <sys/statvfs.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_types.h"
#include "platform/base/scope_exit.h"
#include "platform/files/file.h"

namespace orv {

namespace {

// Bytes the caller may still write in the folder of Path; -1 when the system cannot tell.
int64_t FreeBytesFor(const std::string& Path) {
  std::filesystem::path folder = std::filesystem::path(Path).parent_path();
  if (folder.empty()) folder = ".";
  struct statvfs st;
  if (::statvfs(folder.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

void DeleteCopy(const std::string& FileName) { (void)platform::DeleteFile(FileName); }

[[noreturn]] void OperationFailed(const char* Operation, const std::string& Log) {
  throw EORVException(30456, "Operation %s failed: %s", {std::string(Operation), Log});
}

// Runs a copy into CopyFileName; the copy is deleted when it fails or raises.
template <class F>
bool CopyOrDelete(const std::string& CopyFileName, F&& Body) {
  bool ok = false;
  try {
    ok = Body();
  } catch (...) {
    DeleteCopy(CopyFileName);
    throw;
  }
  if (!ok) DeleteCopy(CopyFileName);
  return ok;
}

const char* const kReplaceRefused = "The database file is in use by another process and was not replaced";

}  // namespace

// ---- progress display ---------------------------------------------------------------------

void TORVDatabase::InternalBefore(const TORVNotifyEvent& Handler, const char* Text, bool Visible) {
  if (Handler) {
    Handler(*this);
    return;
  }
  if (FSilentMode) return;
  frmWait = platform::ui::Services().CreateProgressForm();
  if (!frmWait) return;
  frmWait->SetPosition(0);
  frmWait->Show(Text);
  if (Visible) {
    frmWait->MakeVisible();
    frmWait->ProcessMessages();
  }
}

void TORVDatabase::InternalProgress(const TORVProgressEvent& Handler, int PercentDone, bool& Continue,
                                    bool Visible) {
  if (Handler) {
    Handler(*this, PercentDone, Continue);
    return;
  }
  if (FSilentMode || !frmWait) return;
  if (Visible) frmWait->MakeVisible();
  frmWait->SetPosition(PercentDone);
  frmWait->ProcessMessages();
  Continue = !frmWait->Terminated();
}

void TORVDatabase::InternalAfter(const TORVNotifyEvent& Handler) {
  if (Handler) {
    Handler(*this);
    return;
  }
  if (FSilentMode || !frmWait) return;
  frmWait->Close();
  frmWait.reset();
}

bool TORVDatabase::ReplaceByCopy(const std::string& CopyFileName) {
  if (platform::ReplaceFile(CopyFileName, FDatabaseFileName) == 0) return true;
  DeleteCopy(CopyFileName);
  return false;
}

// ---- the copy -------------------------------------------------------------------------------

bool TORVDatabase::InternalCopyDatabase(const std::string& NewDatabaseFileName, std::string& Log, bool IgnoreErrors,
                                        const std::string& NewPassword, TORVCryptoAlgorithm NewCryptoAlgorithm,
                                        int32_t NewPageSize, int32_t NewPageCountInExtent,
                                        int32_t NewMaxConnections, const TORVNotifyEvent& BeforeEvent,
                                        const TORVProgressEvent& ProgressEvent, const TORVNotifyEvent& AfterEvent) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  bool result = false;
  const bool exclusive = FExclusive;
  const bool silent = FSilentMode;
  Log.clear();
  if (BeforeEvent) BeforeEvent(*this);
  // The After event closes what the Before event showed, also when the copy cannot start.
  platform::ScopeExit after([&] {
    FExclusive = exclusive;
    FSilentMode = silent;
    if (AfterEvent) AfterEvent(*this);
  });

  const int64_t needed = platform::FileLength(FDatabaseFileName);
  const int64_t available = FreeBytesFor(NewDatabaseFileName);
  if (needed > 0 && available >= 0 && available < needed)
    throw EORVException(20303,
                        "There is not enough free space on drive to perform required operation with the database "
                        "file.");

  auto newDb = std::make_unique<TORVDatabase>(nullptr);
  newDb->SetDatabaseFileName(NewDatabaseFileName);
  newDb->SetDatabaseName(GetTemporaryName("TempDatabase"));
  newDb->SetSessionName(FSessionName);
  newDb->SetPassword(NewPassword);
  newDb->SetCryptoAlgorithm(NewCryptoAlgorithm);
  newDb->SetPageSize(NewPageSize);
  newDb->SetPageCountInExtent(NewPageCountInExtent);
  newDb->SetMaxConnections(NewMaxConnections);
  newDb->FileFactory = FileFactory;
  try {
    newDb->CreateDatabase();
    newDb->Open();
  } catch (const std::exception& e) {
    const std::string text = std::string("Create database error: '") + e.what() + "'";
    Log += text;
    if (!IgnoreErrors) throw EORVException(30449, text);
    return false;
  }

  FExclusive = true;
  FSilentMode = true;
  try {
    Open();
  } catch (...) {
    FSilentMode = silent;
    throw;
  }
  FSilentMode = silent;
  LocalHandle()->SetSuppressDBHeaderErrors(true);

  bool cont = true;
  bool completed = false;
  {
    platform::ScopeExit closeThis([&] {
      if (FHandle) LocalHandle()->SetSuppressDBHeaderErrors(false);
      Close();
    });
    std::vector<std::string> tables;
    GetTablesList(tables);
    const int32_t n = static_cast<int32_t>(tables.size());
    completed = true;
    for (int32_t i = 0; i < n; ++i) {
      auto table = std::make_unique<TORVTable>();
      try {
        table->SetTableName(tables[static_cast<size_t>(i)]);
        table->SetDatabaseName(FDatabaseName);
        if (!FSessionName.empty()) table->SetSessionName(FSessionName);
        if (IgnoreErrors) table->ValidateAndRepairMostUpdatedAndRecordPageIndex();
        table->Open();
        table->Close();
        table->OnCopyProgress = [&](platform::data::TDataSet&, int PercentDone, bool& Continue) {
          if (ProgressEvent) ProgressEvent(*this, PercentDone, Continue);
        };
        table->BeforeCopy = [](platform::data::TDataSet&) {};
        table->AfterCopy = [](platform::data::TDataSet&) {};
        table->CopyTable(table->TableName(), Log, cont, NewDatabaseFileName, NewPassword, IgnoreErrors, false, true,
                         i * 100 / n, (i + 1) * 100 / n);
      } catch (const std::exception& e) {
        const std::string text =
            "Problem occured while copying table '" + tables[static_cast<size_t>(i)] + "': '" + e.what() + "'";
        Log += text;
        if (!IgnoreErrors) throw EORVException(20199, text);
      }
      if (!cont) {
        completed = false;
        break;
      }
    }
  }
  if (completed) {
    if (ProgressEvent) ProgressEvent(*this, 100, cont);
    newDb->Close();
    newDb->TruncateDatabase();
    result = IgnoreErrors || Log.empty();
  }
  return result;
}

// ---- the operations ---------------------------------------------------------------------------

bool TORVDatabase::CompactDatabase(const std::string& NewDatabaseFileName) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckInactive();
  Open();
  Close();
  std::string log;
  const bool ok = CopyOrDelete(NewDatabaseFileName, [&] {
    return InternalCopyDatabase(
        NewDatabaseFileName, log, false, FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent, FMaxConnections,
        [this](TORVDatabase&) { InternalBefore(BeforeCompact, "Compacting Database...", false); },
        [this](TORVDatabase&, int p, bool& c) { InternalProgress(OnCompactProgress, p, c, false); },
        [this](TORVDatabase&) { InternalAfter(AfterCompact); });
  });
  if (!ok) OperationFailed("CompactDatabase", log);
  return true;
}

bool TORVDatabase::CompactDatabase() {
  const std::string copy = FDatabaseFileName + ".tmp";
  if (!CompactDatabase(copy)) return false;
  if (!ReplaceByCopy(copy)) OperationFailed("CompactDatabase", kReplaceRefused);
  return true;
}

bool TORVDatabase::RepairDatabase(const std::string& NewDatabaseFileName, std::string& Log) {
  Open();
  Close();
  return InternalCopyDatabase(
      NewDatabaseFileName, Log, true, FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent, FMaxConnections,
      [this](TORVDatabase&) { InternalBefore(BeforeRepair, "Repairing Database...", true); },
      [this](TORVDatabase&, int p, bool& c) { InternalProgress(OnRepairProgress, p, c, true); },
      [this](TORVDatabase&) { InternalAfter(AfterRepair); });
}

std::string TORVDatabase::RepairDatabase() {
  std::string result;
  const std::string copy = FDatabaseFileName + ".tmp";
  if (!CopyOrDelete(copy, [&] { return RepairDatabase(copy, result); })) {
    if (result.empty()) result = "Unknown error";
    return result;
  }
  if (!ReplaceByCopy(copy)) OperationFailed("RepairDatabase", kReplaceRefused);
  return result;
}

std::string TORVDatabase::ChangePassword(const std::string& NewPassword, TORVCryptoAlgorithm NewCryptoAlgorithm) {
  std::string result;
  const std::string copy = FDatabaseFileName + ".tmp";
  const bool ok = CopyOrDelete(copy, [&] {
    return InternalCopyDatabase(
        copy, result, false, NewPassword, NewCryptoAlgorithm, FPageSize, FPageCountInExtent, FMaxConnections,
        [this](TORVDatabase&) { InternalBefore(BeforeChangePassword, "Changing Database Password...", false); },
        [this](TORVDatabase&, int p, bool& c) { InternalProgress(OnChangePasswordProgress, p, c, false); },
        [this](TORVDatabase&) { InternalAfter(AfterChangePassword); });
  });
  if (!ok) return result;
  if (!ReplaceByCopy(copy)) OperationFailed("ChangePassword", kReplaceRefused);
  FPassword = NewPassword;
  FCryptoAlgorithm = NewCryptoAlgorithm;
  return result;
}

std::string TORVDatabase::ChangePassword(const std::string& NewPassword) {
  return ChangePassword(NewPassword, FCryptoAlgorithm);
}

bool TORVDatabase::ChangeDatabaseSettings(std::string& Log, bool IgnoreErrors, const std::string& NewPassword,
                                          TORVCryptoAlgorithm NewCryptoAlgorithm, int32_t NewPageSize,
                                          int32_t NewPageCountInExtent, int32_t NewMaxConnections) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckConnected();
  if (NewMaxConnections <= 0) throw EORVException(20274, "MaxConnections value must be positive ( >= 0)");
  Open();
  Close();
  const std::string copy = FDatabaseFileName + ".tmp";
  const bool ok = CopyOrDelete(copy, [&] {
    return InternalCopyDatabase(
        copy, Log, IgnoreErrors, NewPassword, NewCryptoAlgorithm, NewPageSize, NewPageCountInExtent,
        NewMaxConnections,
        [this](TORVDatabase&) {
          InternalBefore(BeforeChangeDatabaseSettings, "Changing Database Settings...", false);
        },
        [this](TORVDatabase&, int p, bool& c) { InternalProgress(OnChangeDatabaseSettingsProgress, p, c, false); },
        [this](TORVDatabase&) { InternalAfter(AfterChangeDatabaseSettings); });
  });
  if (!ok) return false;
  if (!ReplaceByCopy(copy)) {
    Log += kReplaceRefused;
    return false;
  }
  FPassword = NewPassword;
  FCryptoAlgorithm = NewCryptoAlgorithm;
  return true;
}

}  // namespace orv
