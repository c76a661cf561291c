#include "dbengine/access/orv_local_engine_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/storage/tests/expect_code.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::EngineTest;

class LocalSessionTest : public EngineTest {
 protected:
  // A storage session as the database component makes one.
  std::unique_ptr<TORVLocalSession> NewSession(const std::string& FileName, const std::string& Password = {},
                                               bool MultiUser = false, const std::string& SessionName = {}) {
    auto s = std::make_unique<TORVLocalSession>(engine.DBDataList());
    s->FDatabaseName = "QV";
    s->FDatabaseFileName = FileName;
    s->GetPassword()->Password = Password;
    s->FMaxSessionCount = 500;
    s->FMultiUser = MultiUser;
    s->FSessionName = SessionName;
    return s;
  }
};

TEST_F(LocalSessionTest, ComponentsShareOneObjectPerFileAndSessionName) {
  namespace fs = std::filesystem;
  const std::string a = dir.File("a.orv");
  const std::string upper_a = dir.File("A.orv");
  fs::create_directory(dir.File("sub"));
  CreateFile(a);
  CreateFile(upper_a);
  fs::create_symlink(a, dir.File("link.orv"));
  auto* other = new TORVSession(nullptr);
  other->SetSessionName("Other");

  struct Case {
    const char* what;
    std::string first, second;
    bool multi_user;
    const char* second_session;
    bool shared;
  };
  const std::vector<Case> cases = {
      {"one path, two components", a, a, false, "Default", true},
      {"single-user: the session name does not count", a, a, false, "Other", true},
      {"multi-user: two session names, two objects", a, a, true, "Other", false},
      {"multi-user: one session name", a, a, true, "Default", true},
      {"a.orv and A.orv are two files", a, upper_a, false, "Default", false},
      {"a folder and back", a, dir.File("sub/../a.orv"), false, "Default", true},
      {"a dot folder", a, dir.Path() + "/./a.orv", false, "Default", true},
      {"a symbolic link", dir.File("link.orv"), a, false, "Default", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto first = NewDatabase("FIRST", c.first);
    auto second = NewDatabase("SECOND", c.second);
    second->SetSessionName(c.second_session);
    first->SetMultiUser(c.multi_user);
    second->SetMultiUser(c.multi_user);
    first->Open();
    second->Open();
    EXPECT_EQ(DataOf(*first) == DataOf(*second), c.shared);
    EXPECT_EQ(ListCount(), c.shared ? 3 : 4);
    if (c.multi_user && c.shared) EXPECT_EQ(first->GetDBFileConnectionsCount(), 2);
    // A disk object leaves the list with its last session.
    first->Close();
    EXPECT_EQ(ListCount(), c.shared ? 3 : 3);
    second->Close();
    EXPECT_EQ(ListCount(), 2);
  }
}

TEST_F(LocalSessionTest, ConnectingTwiceAndDisconnectingAnUnconnectedSessionChangeNothing) {
  const std::string file = dir.File("twice.orv");
  CreateFile(file);
  auto s = NewSession(file);
  s->SetConnected(false);
  EXPECT_FALSE(s->GetConnected());
  s->SetConnected(true);
  TORVDatabaseData* data = s->FDatabaseData;
  s->SetConnected(true);
  EXPECT_EQ(s->FDatabaseData, data);
  EXPECT_EQ(data->FSessionList.size(), 1u);
  EXPECT_EQ(CanonicalDatabasePath(file), data->FDatabaseName);
  s->SetConnected(false);
  EXPECT_EQ(s->FDatabaseData, nullptr);
  EXPECT_EQ(ListCount(), 2);
}

TEST_F(LocalSessionTest, MemoryAndTempNameTheBuiltInDatabasesWhateverTheFile) {
  auto s = NewSession(dir.File("ignored.orv"));
  s->FDatabaseName = "MEMORY";
  s->SetConnected(true);
  EXPECT_EQ(s->FDatabaseData, engine.MemDBData());
  EXPECT_EQ(s->GetDBFileConnectionsCount(), 0);
  s->TruncateDatabase();
  s->SetConnected(false);
  EXPECT_EQ(ListCount(), 2);
  s->FDatabaseName = "TEMP";
  s->SetConnected(true);
  EXPECT_EQ(s->FDatabaseData, engine.TempDBData());
  s->SetConnected(false);
  // In another letter case the name is a file's, and that file is not there.
  s->FDatabaseName = "memory";
  EXPECT_NE(CodeOf([&] { s->SetConnected(true); }), 0);
  EXPECT_FALSE(s->GetConnected());
  EXPECT_EQ(ListCount(), 2);
}

TEST_F(LocalSessionTest, TransactionsBelongToTheSession) {
  const std::string file = dir.File("tx.orv");
  CreateFile(file);
  auto s = NewSession(file, {}, true);
  s->SetConnected(true);
  const char* text = "Database is not within a transaction. Cannot perform operation - Native error: 20229";
  ExpectCode(20229, [&] { s->Commit(false); }, text);
  ExpectCode(20229, [&] { s->Rollback(); }, text);
  s->StartTransaction();
  s->Commit(true);
  ExpectCode(20229, [&] { s->Commit(true); }, text);
  s->StartTransaction();
  s->Rollback();
  EXPECT_FALSE(s->FInTransaction);
  // Disconnecting rolls back a transaction left open.
  s->StartTransaction();
  s->SetConnected(false);
  EXPECT_FALSE(s->FInTransaction);
  EXPECT_EQ(ListCount(), 2);
}

TEST_F(LocalSessionTest, CreatingAFileThatIsOpenFailsAndAFailedCreateLeavesNoEntry) {
  const std::string file = dir.File("create.orv");
  auto open = NewSession(file);
  open->CreateDatabase();
  EXPECT_FALSE(open->GetConnected());
  EXPECT_EQ(ListCount(), 2);
  open->SetConnected(true);
  // The same file by another path is the same open file.
  auto again = NewSession(dir.Path() + "/./create.orv");
  ExpectCode(20092, [&] { again->CreateDatabase(); });
  EXPECT_EQ(ListCount(), 3);
  EXPECT_TRUE(open->GetConnected());
  std::vector<std::string> tables;
  open->GetTablesList(tables);
  EXPECT_TRUE(tables.empty());
  // Under another session name in multi-user mode the file is not open, and already exists.
  auto elsewhere = NewSession(file, {}, true, "Other");
  EXPECT_NE(CodeOf([&] { elsewhere->CreateDatabase(); }), 0);
  EXPECT_EQ(ListCount(), 3);

  auto nowhere = NewSession(dir.File("no/such/folder/x.orv"));
  EXPECT_NE(CodeOf([&] { nowhere->CreateDatabase(); }), 0);
  EXPECT_EQ(ListCount(), 3);
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
  // Not connected: nothing to list (the component lists only through a connected session).
  ExpectCode(30541, [&] { nowhere->GetTablesList(tables); });
}

TEST_F(LocalSessionTest, ASecondConnectionMustBringThePasswordOfTheOpenEncryptedFile) {
  const std::string locked = dir.File("locked.orv");
  CreateFile(locked, "secret");
  auto first = NewSession(locked, "secret");
  first->SetConnected(true);
  auto wrong = NewSession(locked, "other");
  ExpectCode(20298, [&] { wrong->SetConnected(true); }, "Database password is invalid. - Native error: 20298");
  EXPECT_FALSE(wrong->GetConnected());
  EXPECT_EQ(first->FDatabaseData->FSessionList.size(), 1u);
  auto right = NewSession(locked, "secret");
  right->SetConnected(true);
  EXPECT_EQ(right->FDatabaseData, first->FDatabaseData);
  EXPECT_EQ(right->GetPassword()->Password, "secret");

  // A file without a password takes any.
  const std::string open = dir.File("open.orv");
  CreateFile(open);
  auto plain = NewSession(open);
  plain->SetConnected(true);
  auto any = NewSession(open, "whatever");
  any->SetConnected(true);
  EXPECT_EQ(any->FDatabaseData, plain->FDatabaseData);
  EXPECT_EQ(any->GetPassword()->Password, "");

  // A wrong password for a file not yet open leaves nothing behind.
  first->SetConnected(false);
  right->SetConnected(false);
  auto guess = NewSession(locked, "guess");
  ExpectCode(30445, [&] { guess->SetConnected(true); });
  EXPECT_FALSE(guess->GetConnected());
  EXPECT_EQ(ListCount(), 3);
}

TEST_F(LocalSessionTest, TheOpenFileGivesItsValuesToTheSession) {
  const std::string file = dir.File("values.orv");
  {
    auto maker = NewSession(file);
    maker->FPageSize = 8192;
    maker->FPageCountInExtent = 4;
    maker->FMaxSessionCount = 32;
    maker->GetPassword()->CryptoAlgorithm = craBlowfish;
    maker->GetPassword()->Password = "k";
    maker->CreateDatabase();
  }
  auto s = NewSession(file, "k", true);
  s->GetPassword()->CryptoAlgorithm = craRijndael_128;
  s->SetConnected(true);
  EXPECT_EQ(s->FPageSize, 8192u);
  EXPECT_EQ(s->FPageCountInExtent, 4u);
  EXPECT_EQ(s->FMaxSessionCount, 32);
  EXPECT_EQ(s->GetPassword()->CryptoAlgorithm, craBlowfish);
  EXPECT_EQ(s->GetDBFileConnectionsCount(), 1);
  EXPECT_FALSE(s->FReadOnly);
}

}  // namespace
}  // namespace orv
