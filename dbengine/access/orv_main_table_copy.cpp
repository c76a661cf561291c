// Whole-table operations of the table component: copying the table (within its database, into
// the process-wide "MEMORY" database or into another database file) and restructuring it while
// keeping its data. Both copy the records with the dataset's record copier.
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "dbengine/access/orv_main_table.h"
#include "platform/base/scope_exit.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_types.h"
#include "platform/data/field.h"
#include "platform/data/same_text.h"
#include "platform/ui/ui_services.h"

namespace orv {

using namespace platform::data;

// ---- progress display ---------------------------------------------------------------------

bool TORVTable::ShowsProgressForm() const {
  TORVDatabase* db = Database();
  return !(db && db->SilentMode()) && !Temporary();
}

void TORVTable::DoBeforeProgress(const TORVDataSetNotifyEvent& Handler, TDataSet& Sender, const char* Message,
                                 bool ProcessMessages) {
  if (Handler) {
    Handler(Sender);
    return;
  }
  if (!ShowsProgressForm()) return;
  FProgressForm = platform::ui::Services().CreateProgressForm();
  if (!FProgressForm) return;
  FProgressForm->SetPosition(0);
  FProgressForm->Show(Message);
  if (ProcessMessages) FProgressForm->ProcessMessages();
}

void TORVTable::DoProgress(const TORVDataSetProgressEvent& Handler, TDataSet& Sender, int PercentDone,
                           bool& Continue) {
  if (Handler) {
    Handler(Sender, PercentDone, Continue);
    return;
  }
  if (!ShowsProgressForm() || !FProgressForm) return;
  FProgressForm->SetPosition(PercentDone);
  FProgressForm->ProcessMessages();
  Continue = !FProgressForm->Terminated();
}

void TORVTable::DoAfterProgress(const TORVDataSetNotifyEvent& Handler, TDataSet& Sender) {
  if (Handler) {
    Handler(Sender);
    return;
  }
  if (!FProgressForm) return;
  FProgressForm->Close();
  FProgressForm.reset();
}

// ---- CopyTable ----------------------------------------------------------------------------

namespace {

// The same file under two names (links, "..", relative paths) counts as the same file.
bool SameFile(const std::string& A, const std::string& B) {
  if (A.empty() || B.empty()) return false;
  std::error_code ec1, ec2;
  const auto a = std::filesystem::weakly_canonical(A, ec1);
  const auto b = std::filesystem::weakly_canonical(B, ec2);
  if (ec1 || ec2) return A == B;
  return a == b;
}

}  // namespace

bool TORVTable::CopyTable(const std::string& NewTableName, std::string& Log, bool& Continue,
                          const std::string& DestDatabaseFileName, const std::string& DestDatabasePassword,
                          bool IgnoreErrors, bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                          int32_t MaxProgress) {
  const bool wasActive = Active();
  TBookmark bookmark;
  if (wasActive) {
    if (BookmarkAvailable()) bookmark = GetBookmark();
    Close();
  }
  std::unique_ptr<TORVDatabase> destDb;
  std::unique_ptr<TORVTable> newTable;
  bool before = false;
  platform::ScopeExit finish([&] {
    newTable.reset();
    if (before) DoAfterProgress(AfterCopy, *this);
    if (wasActive) {
      if (!bookmark.empty()) GotoBookmark(bookmark);
    } else {
      Close();
    }
    if (destDb) destDb->Close();
    destDb.reset();
  });
  Open();

  // The destination database.
  std::string destName;
  std::string destFile;  // what the messages name
  bool memory = false;
  if (DestDatabaseFileName.empty()) {
    TORVDatabase* own = Database();
    destName = DatabaseName();
    destFile = own ? own->DatabaseFileName() : DatabaseName();
    if (InMemory()) {
      destFile = "MEMORY";
      memory = true;
    }
    if (SameText(NewTableName, TableName()))
      throw EORVException(30447, "Cannot copy table '%s.%s' into it self", {destFile, TableName()});
  } else if (DestDatabaseFileName == "MEMORY") {
    memory = true;
    destName = "MEMORY";
    destFile = "MEMORY";
    if (InMemory() && SameText(NewTableName, TableName()))
      throw EORVException(30447, "Cannot copy table '%s.%s' into it self", {destFile, TableName()});
  } else {
    destFile = DestDatabaseFileName;
    TORVDatabase* own = Database();
    if (own && !InMemory() && SameFile(own->DatabaseFileName(), DestDatabaseFileName) &&
        SameText(NewTableName, TableName()))
      throw EORVException(30447, "Cannot copy table '%s.%s' into it self", {destFile, TableName()});
    destDb = std::make_unique<TORVDatabase>(nullptr);
    destDb->SetDatabaseName(GetTemporaryName("TempDb"));
    if (!SessionName().empty()) destDb->SetSessionName(SessionName());
    destDb->SetDatabaseFileName(DestDatabaseFileName);
    destDb->SetPassword(DestDatabasePassword);
    if (Database()) destDb->FileFactory = Database()->FileFactory;
    try {
      destDb->Open();
    } catch (const std::exception& e) {
      destDb.reset();
      if (!IgnoreErrors) throw;
      Log += "Cannot open database '" + DestDatabaseFileName + "' due to error: " + e.what() + "\r\n";
      return false;
    }
    destName = destDb->DatabaseName();
  }

  for (int i = 0; i < FieldDefs().Count(); ++i)
    if (!FindField(FieldDefs()[i]->Name()))
      throw EORVException(20297, "Cannot copy table \"%s\". Field object for field \"%s\" is not created.",
                          {TableName(), FieldDefs()[i]->Name()});

  before = true;
  DoBeforeProgress(BeforeCopy, *this, "Copy Table...", true);

  newTable = std::make_unique<TORVTable>();
  newTable->SetDatabaseName(destName);
  if (!SessionName().empty()) newTable->SetSessionName(SessionName());
  if (DestDatabaseFileName.empty()) {
    if (InMemory()) newTable->SetInMemory(true);
    if (Temporary()) newTable->SetTemporary(true);
  }
  newTable->SetTableName(NewTableName);
  newTable->AdvFieldDefs().Assign(RestructureFieldDefs());
  if (CopyIndexes) newTable->AdvIndexDefs().Assign(RestructureIndexDefs(), true);

  if (newTable->Exists()) {
    if (OverwriteExistingTable) {
      newTable->DeleteTable();
    } else {
      const int32_t code = memory ? 10515 : 30448;
      if (!IgnoreErrors) throw EORVException(code, "Table '%s.%s' already exists", {destFile, NewTableName});
      Log += "Table '" + destFile + "." + NewTableName + "' already exists";
      return false;
    }
  }
  try {
    newTable->CreateTable();
  } catch (const std::exception& e) {
    if (!IgnoreErrors)
      throw EORVException(30450, "Create table '%s.%s' error: '%s'", {destFile, NewTableName, std::string(e.what())});
    Log += "Create table '" + destFile + "." + NewTableName + "' error: '" + e.what() + "'";
    return false;
  }

  newTable->Open();
  {
    platform::ScopeExit closeNew([&] { newTable->Close(); });
    InternalCopyRecords(
        *this, *newTable, Log, Continue, IgnoreErrors, false,
        [this](TDataSet& Sender, int PercentDone, bool& Cont) { DoProgress(OnCopyProgress, Sender, PercentDone, Cont); },
        MinProgress, MaxProgress);
  }
  return true;
}

void TORVTable::CopyTable(const std::string& NewTableName, const std::string& DestDatabaseFileName,
                          const std::string& DestDatabasePassword) {
  std::string log;
  bool cont = true;
  CopyTable(NewTableName, log, cont, DestDatabaseFileName, DestDatabasePassword, false, false, true, 0, 100);
}

// ---- RestructureTable -----------------------------------------------------------------------

bool TORVTable::RestructureTable(std::string& Log) {
  CheckInactive();
  bool cont = true;
  const std::string oldTableName = TableName();
  RenameTable(GetTemporaryName("OLD_" + oldTableName + "_"));
  const std::string tempTableName = TableName();

  auto dst = std::make_unique<TORVTable>();
  // Puts the old table back under its name: the partly built new one goes first.
  auto rollback = [&] {
    if (Active()) Close();
    if (dst) {
      try {
        dst->Close();
      } catch (...) {
      }
    }
    FTableName = oldTableName;
    if (Exists()) DeleteTable();
    FTableName = tempTableName;
    RenameTable(oldTableName);
  };
  bool result = false;
  try {
    dst->SetDatabaseName(DatabaseName());
    if (InMemory()) dst->SetInMemory(true);
    if (Temporary()) dst->SetTemporary(true);
    if (!SessionName().empty()) dst->SetSessionName(SessionName());
    dst->SetIgnoreDesignMode(IgnoreDesignMode());
    dst->SetTableName(oldTableName);
    dst->AdvFieldDefs().Assign(RestructureFieldDefs());
    dst->AdvIndexDefs().Assign(RestructureIndexDefs(), false);
    try {
      dst->CreateTable();
    } catch (const std::exception& e) {
      Log += std::string("Error restructuring table. Cannot create table due to error: ") + e.what() + "\r\n";
      const auto* orv = dynamic_cast<const EORVException*>(&e);
      if (orv && orv->NativeError() == 20182)
        throw EORVException(20180, "Cannot perform '%s' operation on a database in transaction",
                            {std::string("RestructureTable")});
      rollback();
      return false;
    }
    dst->Open();
    TORVAdvFieldDefs target;
    target.Assign(RestructureFieldDefs());
    Open();
    RestructureFieldDefs().Assign(target);

    DoBeforeProgress(BeforeRestructure, *this, "Restructure Table...", false);
    const bool filtered = Filtered();
    if (filtered) SetFiltered(false);
    {
      platform::ScopeExit after([&] {
        if (filtered) SetFiltered(true);
        DoAfterProgress(AfterRestructure, *this);
      });
      result = InternalCopyRecords(
          *this, *dst, Log, cont, false, true,
          [this](TDataSet& Sender, int PercentDone, bool& Cont) {
            DoProgress(OnRestructureProgress, Sender, PercentDone, Cont);
          },
          0, 99);
    }
    Close();
    dst->Close();
  } catch (...) {
    try {
      rollback();
    } catch (...) {
      // The original error tells what went wrong; the table stays under its temporary name.
    }
    throw;
  }

  if (result) {
    try {
      DeleteTable();
    } catch (const std::exception& e) {
      Log += std::string("Error restructuring table. Cannot delete table due to error: ") + e.what() + "\r\n";
      result = false;
    }
    FTableName = oldTableName;
  } else {
    dst->DeleteTable();
    RenameTable(oldTableName);
  }
  return result;
}

bool TORVTable::RestructureTable() {
  std::string log;
  return RestructureTable(log);
}

}  // namespace orv
