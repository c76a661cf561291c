#include "dbengine/access/orv_main_database.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "cmake/test_tools.h"
#include "dbengine/access/orv_password_dialog.h"
#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/storage/tests/expect_code.h"
#include "platform/base/number_format.h"

namespace orv {
namespace {

using platform::ui::ModalResult;
using platform::ui::MsgButtons;
using platform::ui::MsgKind;
using testing::CodeOf;
using testing::DatabaseErrorOf;
using testing::EngineTest;

using DatabaseTest = EngineTest;

TEST_F(DatabaseTest, ANewComponentHasTheDefaultsAndReportsTheVersionWithAPoint) {
  TORVDatabase db(nullptr);
  EXPECT_EQ(db.PageSize(), 4096);
  EXPECT_EQ(db.PageCountInExtent(), 8);
  EXPECT_EQ(db.CryptoAlgorithm(), craRijndael_128);
  EXPECT_EQ(db.MaxConnections(), 500);
  EXPECT_TRUE(db.KeepConnection());
  EXPECT_FALSE(db.Exclusive());
  EXPECT_FALSE(db.MultiUser());
  EXPECT_FALSE(db.ReadOnly());
  EXPECT_FALSE(db.SilentMode());
  EXPECT_FALSE(db.DisableTempFiles());
  EXPECT_FALSE(db.HandleShared());
  EXPECT_FALSE(db.NoRequestAutoRepair());
  EXPECT_FALSE(db.Temporary());
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ(db.Password(), "");
  EXPECT_EQ(db.GetSessionName(), "Default");
  EXPECT_EQ(db.Session(), ORVDefaultSession());
  EXPECT_EQ(ORVDefaultSession()->GetDatabaseCount(), 1);

  // The version keeps its point under a decimal comma, in the process's settings and in the C
  // library's locale alike (when a German locale is installed).
  platform::FormatSettings& fs = platform::ProcessFormatSettings();
  const platform::FormatSettings saved = fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  const std::string c_locale = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(db.CurrentVersion(), "7.90 ");
  db.SetCurrentVersion("1.00 ");
  EXPECT_EQ(db.CurrentVersion(), "7.90 ");
  std::setlocale(LC_ALL, c_locale.c_str());
  fs = saved;
}

TEST_F(DatabaseTest, ChecksRefuseWhatTheStateDoesNotAllow) {
  const std::string file = dir.File("checks.orv");
  CreateFile(file);
  TORVDatabase unnamed(nullptr);
  EXPECT_EQ(DatabaseErrorOf([&] { unnamed.Open(); }), "Database name missing");
  unnamed.SetName("Db1");
  EXPECT_EQ(DatabaseErrorOf([&] { unnamed.Commit(false); }), "Db1: Cannot perform this operation on a closed database");
  EXPECT_EQ(DatabaseErrorOf([&] { unnamed.StartTransaction(); }),
            "Db1: Cannot perform this operation on a closed database");

  auto db = NewDatabase("QV", file);
  db->SetSessionName("Nowhere");
  ExpectCode(20002, [&] { db->Open(); }, "Invalid session name 'Nowhere' - Native error: 20002");
  db->SetSessionName("Default");
  db->Open();
  for (const auto& refused : std::vector<std::function<void()>>{
           [&] { db->CreateDatabase(); }, [&] { db->DeleteDatabase(); }, [&] { db->TruncateDatabase(); },
           [&] { db->RenameDatabase(dir.File("other.orv")); }, [&] { db->SetDatabaseName("QV2"); },
           [&] { db->SetSessionName("Default"); }})
    EXPECT_EQ(DatabaseErrorOf(refused), "Cannot perform this operation on an open database");
  db->StartTransaction();
  EXPECT_EQ(DatabaseErrorOf([&] { db->StartTransaction(); }), "Database is already within a transaction");
  db->Commit(true);
  EXPECT_FALSE(db->InTransaction());
  // A new file name closes the database first.
  db->SetDatabaseFileName(dir.File("other.orv"));
  EXPECT_FALSE(db->Connected());
}

TEST_F(DatabaseTest, AMissingFileIsReportedByNameAndLeavesTheComponentClosed) {
  const std::string file = dir.File("missing.orv");
  auto db = NewDatabase("QV", file);
  db->SetName("Database1");
  EXPECT_FALSE(db->Exists());
  EXPECT_EQ(DatabaseErrorOf([&] { db->Open(); }), "Database1: Database file '" + file + "' does not exist");
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(ListCount(), 2);
}

TEST_F(DatabaseTest, CreatedOpenedAndClosedTheFileIsLeftForAnOutsider) {
  const std::string folder = std::string(QUIRVEL_TEST_OUTPUT) + "/access";
  std::filesystem::create_directories(folder);
  const std::string file = folder + "/created_by_component.orv";
  std::filesystem::remove(file);
  auto db = NewDatabase("QV", file);
  db->SetPageSize(8192);
  db->SetMaxConnections(64);
  db->CreateDatabase();
  EXPECT_FALSE(db->Connected());
  EXPECT_TRUE(db->Exists());
  EXPECT_EQ(ListCount(), 2);
  // Opened, the component reads the file's values back.
  db->SetPageSize(4096);
  db->SetMaxConnections(500);
  db->Open();
  EXPECT_EQ(db->PageSize(), 8192);
  EXPECT_EQ(db->MaxConnections(), 64);
  std::vector<std::string> tables{"left over"};
  tables.clear();
  db->GetTablesList(tables);
  EXPECT_TRUE(tables.empty());
  EXPECT_FALSE(db->TableExists("MASK"));
  db->Close();
  // Outside the engine: the signature and the page size in the file header.
  const auto check = quirvel::testing::RunTool(
      "python3 -c \"import struct,sys; b=open(sys.argv[1],'rb').read(76); "
      "print(b[:16].decode(), struct.unpack_from('<H', b, 26)[0])\" '" + file + "'");
  EXPECT_EQ(check.exit_code, 0) << check.output;
  EXPECT_EQ(check.output, "ORVETA00DATABASE 8192\n");

  // A file created while the same file is open in the process under that session name: 20092.
  db->Open();
  auto maker = NewDatabase("MAKER", file);
  ExpectCode(20092, [&] { maker->CreateDatabase(); }, "Cannot create database. Database is already open - Native error: 20092");
  EXPECT_TRUE(db->Connected());
  EXPECT_FALSE(db->TableExists("MASK"));
  db->Close();

  // Truncating opens exclusively for the call and puts Exclusive back.
  db->TruncateDatabase();
  EXPECT_FALSE(db->Connected());
  EXPECT_FALSE(db->Exclusive());

  // Renamed and deleted through the component.
  const std::string renamed = folder + "/created_renamed.orv";
  std::filesystem::remove(renamed);
  db->RenameDatabase(renamed);
  EXPECT_EQ(db->DatabaseFileName(), renamed);
  db->DeleteDatabase();
  EXPECT_FALSE(std::filesystem::exists(renamed));
  // The file left for an outsider to check.
  db->SetDatabaseFileName(file);
  db->CreateDatabase();
}

// A wrong password and its answers.
class PasswordTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    CreateFile(file, "secret");
  }
  std::string file = dir.File("locked.orv");
};

TEST_F(PasswordTest, OnPasswordIsAskedOncePerFailureUntilItGivesUp) {
  auto db = NewDatabase("QV", file);
  db->SetPassword("wrong");
  int calls = 0;
  db->OnPassword = [&](TORVDatabase& sender, bool& Continue) {
    ++calls;
    EXPECT_EQ(&sender, db.get());
    // Another wrong password the first time; then it gives up.
    if (calls == 1) sender.SetPassword("still wrong");
    Continue = calls == 1;
  };
  ExpectCode(30445, [&] { db->Open(); });
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(ListCount(), 2);
  EXPECT_TRUE(ui.PasswordPrompts().empty());

  db->OnPassword = [&](TORVDatabase& sender, bool& Continue) {
    sender.SetPassword("secret");
    Continue = true;
  };
  db->Open();
  EXPECT_TRUE(db->Connected());
}

TEST_F(PasswordTest, SilentComponentsFailAtOnceOthersAskThroughTheDialog) {
  auto silent = NewDatabase("SILENT", file);
  silent->SetSilentMode(true);
  ExpectCode(30445, [&] { silent->Open(); }, "Cannot open database - incorrect password - Native error: 30445");
  EXPECT_TRUE(ui.PasswordPrompts().empty());

  auto asking = NewDatabase("ASKING", file);
  asking->SetPassword("wrong");
  ui.QueuePassword(std::nullopt);  // Cancel
  ExpectCode(30445, [&] { asking->Open(); });
  EXPECT_EQ(asking->Password(), "wrong");
  ui.QueuePassword("guess");
  ui.QueuePassword("secret");
  asking->Open();
  EXPECT_TRUE(asking->Connected());
  EXPECT_EQ(asking->Password(), "secret");
  // Three prompts, each without a name above the field.
  EXPECT_EQ(ui.PasswordPrompts(), (std::vector<std::string>{"", "", ""}));
}

TEST_F(EngineTest, ThePasswordReachesTheFileAsWindows1252Bytes) {
  const std::string file = dir.File("cp1252.orv");
  // "µ°²" typed by the operator (UTF-8) is the bytes B5 B0 B2 of the code page.
  CreateFile(file, "\xC2\xB5\xC2\xB0\xC2\xB2");
  bool repair = false;
  TORVPassword bytes{"\xB5\xB0\xB2", craRijndael_128};
  EXPECT_EQ(CodeOf([&] { testing::OpenDatabase(file, repair, bytes); }), 0);
  TORVPassword utf8{"\xC2\xB5\xC2\xB0\xC2\xB2", craRijndael_128};
  EXPECT_EQ(CodeOf([&] { testing::OpenDatabase(file, repair, utf8); }), 30445);
}

TEST_F(EngineTest, ThePasswordDialogWritesTheTypedPasswordIntoTheComponent) {
  TORVDatabase db(nullptr);
  db.SetPassword("old");
  ui.QueuePassword(std::nullopt);
  EXPECT_FALSE(PasswordDialog(&db, "QUIRVEL"));
  EXPECT_EQ(db.Password(), "old");
  ui.QueuePassword("");
  EXPECT_TRUE(PasswordDialog(&db, "QUIRVEL"));
  EXPECT_EQ(db.Password(), "");
  EXPECT_EQ(ui.PasswordPrompts(), (std::vector<std::string>{"QUIRVEL", "QUIRVEL"}));
  TORVComponent not_a_database(nullptr);
  ExpectCode(30550, [&] { PasswordDialog(&not_a_database, ""); });
  EXPECT_EQ(ui.PasswordPrompts().size(), 2u);
}

// Sets the file header's format version and marks a commit that never finished (the header's
// WriteChangesState 1): a little-endian double at byte 18 and one byte at 42.
void MarkUnfinished(const std::string& file, double version) {
  std::vector<uint8_t> bytes = testing::ReadAll(file);
  ASSERT_GE(bytes.size(), 76u);
  uint64_t bits = 0;
  std::memcpy(&bits, &version, sizeof bits);
  for (int i = 0; i < 8; ++i) bytes[18 + static_cast<size_t>(i)] = static_cast<uint8_t>(bits >> (8 * i));
  bytes[42] = 1;
  testing::WriteAll(file, bytes);
}

// A database whose repair is a double: it records its calls and answers with a log or fails.
class RepairDouble : public TORVDatabase {
 public:
  using TORVDatabase::TORVDatabase;
  std::string RepairDatabase() override {
    ++repairs;
    no_request_during_repair = NoRequestAutoRepair();
    if (fail) throw std::runtime_error("the copy failed");
    return log;
  }
  int repairs = 0;
  bool no_request_during_repair = false;
  bool fail = false;
  std::string log;
};

TEST_F(EngineTest, AFileThatNeedsRepairIsOfferedTheRepairOrTheConversion) {
  constexpr const char* kRepairQuestion =
      "Database file was not correctly closed last time. Do you want to repair it?";
  constexpr const char* kConversionNotice =
      "Database file you are opening is of old format. It will be converted to the current Orveta Database format "
      "now. It is recommended to make a backup of the database before continuing.";
  struct Case {
    const char* what;
    double version;
    bool silent;
    bool no_request;
    ModalResult answer;  // to the repair question
    bool repair_fails;
    std::string log;
    std::vector<std::string> messages;  // texts of the boxes shown, in order
    int repairs;
    int32_t error;  // native code Open raises; 0 for none
  };
  const std::vector<Case> cases = {
      {"silent: no question, no repair", 2.99, true, false, ModalResult::Yes, false, "", {}, 0, 0},
      {"no request: no question, no repair", 2.99, false, true, ModalResult::Yes, false, "", {}, 0, 0},
      {"no request also for an old file", 2.98, false, true, ModalResult::Yes, false, "", {}, 0, 0},
      {"2.99 declined", 2.99, false, false, ModalResult::No, false, "", {kRepairQuestion}, 0, 0},
      {"2.99 accepted, a log", 2.99, false, false, ModalResult::Yes, false, "Table 'MASK': 2 records lost",
       {kRepairQuestion, "Table 'MASK': 2 records lost"}, 1, 0},
      {"2.98 converted without a question", 2.98, false, false, ModalResult::No, false, "", {kConversionNotice}, 1, 0},
      {"a failed repair", 2.99, false, false, ModalResult::Yes, true, "", {kRepairQuestion}, 1, 20238},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = dir.File("repair" + std::to_string(n++) + ".orv");
    CreateFile(file);
    MarkUnfinished(file, c.version);
    ui.ClearRecords();
    if (!c.messages.empty() && c.messages.front() == kRepairQuestion) ui.QueueMessageResult(c.answer);
    RepairDouble db(nullptr);
    db.SetDatabaseName("REPAIR");
    db.SetDatabaseFileName(file);
    db.SetSilentMode(c.silent);
    db.SetNoRequestAutoRepair(c.no_request);
    db.fail = c.repair_fails;
    db.log = c.log;
    EXPECT_EQ(CodeOf([&] { db.Open(); }), c.error);
    EXPECT_EQ(db.Connected(), c.error == 0);
    EXPECT_EQ(db.repairs, c.repairs);
    if (c.repairs > 0) EXPECT_TRUE(db.no_request_during_repair);
    EXPECT_EQ(db.NoRequestAutoRepair(), c.no_request);
    std::vector<std::string> shown;
    for (const auto& m : ui.Messages()) shown.push_back(m.text);
    EXPECT_EQ(shown, c.messages);
    const auto messages = ui.Messages();
    if (!messages.empty() && c.messages.front() == kRepairQuestion) {
      EXPECT_EQ(messages.front().buttons, MsgButtons::YesNo);
      EXPECT_EQ(messages.front().kind, MsgKind::Question);
    }
    if (!messages.empty() && c.messages.front() == kConversionNotice) {
      EXPECT_EQ(messages.front().kind, MsgKind::Information);
    }
    if (messages.size() > 1) EXPECT_EQ(messages.back().kind, MsgKind::Warning);
  }
  EXPECT_EQ(ListCount(), 2);
}

TEST_F(EngineTest, OnNeedRepairDecidesInPlaceOfTheQuestion) {
  const std::string file = dir.File("event.orv");
  CreateFile(file);
  MarkUnfinished(file, 7.9);
  RepairDouble db(nullptr);
  db.SetDatabaseName("EVENT");
  db.SetDatabaseFileName(file);
  int asked = 0;
  db.OnNeedRepair = [&](TORVDatabase&, bool& DoRepair) {
    ++asked;
    DoRepair = true;
  };
  db.Open();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(db.repairs, 1);
  EXPECT_TRUE(ui.Messages().empty());
  db.Close();

  // The component's own repair copies the file into a new one and opens that.
  TORVDatabase plain(nullptr);
  plain.SetDatabaseName("PLAIN");
  plain.SetDatabaseFileName(file);
  plain.OnNeedRepair = [](TORVDatabase&, bool& DoRepair) { DoRepair = true; };
  MarkUnfinished(file, 7.9);
  plain.Open();
  EXPECT_TRUE(plain.Connected());
  plain.Close();
}

TEST_F(EngineTest, DatabaseNamesAreUniqueInASessionUnlessBothShareTheirHandle) {
  const std::string file = dir.File("names.orv");
  CreateFile(file);
  auto first = NewDatabase("QV", file);
  TORVDatabase second(nullptr);
  EXPECT_EQ(DatabaseErrorOf([&] { second.SetDatabaseName("qv"); }), "Duplicate database name 'qv'");
  EXPECT_EQ(second.DatabaseName(), "");
  second.SetHandleShared(true);
  EXPECT_EQ(DatabaseErrorOf([&] { second.SetDatabaseName("QV"); }), "Duplicate database name 'QV'");
  first->SetHandleShared(true);
  second.SetDatabaseName("QV");
  EXPECT_EQ(second.DatabaseName(), "QV");

  // A database of another session may carry the name.
  auto* other = new TORVSession(nullptr);
  other->SetSessionName("Other");
  TORVDatabase third(other);
  third.SetDatabaseName("QV");

  // An unreferenced temporary database of the name gives way; a referenced one does not.
  TORVSession* session = ORVDefaultSession();
  TORVDatabase* memory = session->OpenDatabase("MEMORY");
  TORVDatabase named(nullptr);
  EXPECT_EQ(DatabaseErrorOf([&] { named.SetDatabaseName("MEMORY"); }), "Duplicate database name 'MEMORY'");
  session->CloseDatabase(memory);
  ASSERT_EQ(memory->RefCount(), 0);
  const int32_t before = session->GetDatabaseCount();
  named.SetDatabaseName("MEMORY");
  EXPECT_EQ(session->GetDatabaseCount(), before - 1);
  std::vector<std::string> names;
  session->GetDatabaseNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"MEMORY", "QV"}));
}

TEST_F(EngineTest, ABorrowedSharedHandleOutlivesTheBorrowersClose) {
  const std::string file = dir.File("shared.orv");
  CreateFile(file);
  auto lender = NewDatabase("QV", file);
  lender->SetHandleShared(true);
  lender->Open();
  TORVDatabase borrower(nullptr);
  borrower.SetHandleShared(true);
  borrower.SetDatabaseName("QV");
  borrower.Open();
  EXPECT_EQ(borrower.Handle(), lender->Handle());
  EXPECT_EQ(ListCount(), 3);
  EXPECT_EQ(DataOf(*lender)->FSessionList.size(), 1u);

  borrower.Close();
  EXPECT_FALSE(borrower.Connected());
  ASSERT_TRUE(lender->Connected());
  EXPECT_TRUE(lender->Handle()->GetConnected());
  EXPECT_FALSE(lender->TableExists("MASK"));

  // The lender's close frees the storage session: the borrower is closed with it, never left
  // holding it.
  borrower.Open();
  lender->Close();
  EXPECT_FALSE(borrower.Connected());
  EXPECT_EQ(ListCount(), 2);
}

}  // namespace
}  // namespace orv
