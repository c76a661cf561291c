#include "dbengine/access/orv_main_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/file/orv_cipher.h"
#include "dbengine/file/orv_cipher_util.h"
#include "dbengine/storage/orv_mem_engine.h"
#include "dbengine/storage/orv_temp_engine.h"
#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::DatabaseErrorOf;
using testing::EngineTest;

TEST(Engine, StartsItsModulesInOrderAndStopsThemInReverse) {
  TORVEngine engine;
  ExpectCode(30540, [] { ORVEngine(); });
  engine.Startup();
  EXPECT_EQ(&ORVEngine(), &engine);
  ExpectCode(30546, [&] { engine.Startup(); });
  TORVEngine second;
  ExpectCode(30546, [&] { second.Startup(); });
  EXPECT_EQ(&ORVEngine(), &engine);

  // The cipher and string format modules registered what they register at start-up.
  EXPECT_NE(StringFormat(fmtMIME64), nullptr);
  const auto ciphers = CipherList();
  EXPECT_TRUE(std::any_of(ciphers.begin(), ciphers.end(),
                          [](const TCipherListItem& c) { return c.Object == &TCipher_Rijndael::Class(); }));

  engine.Shutdown();
  ExpectCode(30540, [] { ORVEngine(); });
  const std::vector<std::string>& order = TORVEngine::ModuleOrder();
  ASSERT_EQ(order.size(), 14u);
  EXPECT_EQ(order.front(), "ORVCipherUtil");
  EXPECT_EQ(order[4], "ORVMemory");
  EXPECT_EQ(order.back(), "ORVMain");
  std::vector<std::string> expected;
  for (const std::string& m : order) expected.push_back("start " + m);
  for (auto it = order.rbegin(); it != order.rend(); ++it) expected.push_back("stop " + *it);
  EXPECT_EQ(engine.Trace(), expected);

  // Another engine may run once this one has stopped; a destroyed running engine stops.
  {
    TORVEngine again;
    again.Startup();
    EXPECT_TRUE(ORVEngineRunning());
  }
  EXPECT_FALSE(ORVEngineRunning());
}

TEST_F(EngineTest, AfterStartUpTheListsHoldTheBuiltInDatabasesAndAnInactiveDefaultSession) {
  ASSERT_EQ(engine.DBDataList().Count(), 2);
  EXPECT_EQ(engine.DBDataList().Items(0)->FDatabaseName, "MEMORY");
  EXPECT_EQ(engine.DBDataList().Items(0), engine.MemDBData());
  EXPECT_EQ(engine.DBDataList().Items(1)->FDatabaseName, "TEMP");
  EXPECT_EQ(engine.DBDataList().Items(1), engine.TempDBData());

  ASSERT_EQ(engine.Sessions().GetCount(), 1);
  TORVSession* def = engine.Sessions().GetSession(0);
  EXPECT_EQ(def, ORVDefaultSession());
  EXPECT_EQ(def->SessionName(), "Default");
  EXPECT_TRUE(def->IsDefault());
  EXPECT_FALSE(def->Active());
  ExpectCode(20007, [] { ORVGetCurrentSession(); }, "Database Engine is not initialized - Native error: 20007");
  EXPECT_EQ(engine.Sessions().GetCurrentSession(), nullptr);

  // A database component naming itself looks for duplicates in its session, which activates it.
  TORVDatabase db(nullptr);
  EXPECT_EQ(db.Session(), def);
  EXPECT_FALSE(def->Active());
  db.SetDatabaseName("QUIRVEL");
  EXPECT_TRUE(def->Active());
  EXPECT_EQ(ORVGetCurrentSession(), def->Handle());
  EXPECT_EQ(engine.Sessions().GetCurrentSession(), def);

  // Deactivating the default session uninitialises the engine again.
  def->Close();
  ExpectCode(20007, [] { ORVGetCurrentSession(); });
}

TEST_F(EngineTest, TheBuiltInDatabasesAreSharedByEveryConnectionOfTheProcess) {
  EXPECT_NE(dynamic_cast<TORVMemoryDatabaseData*>(engine.MemDBData()), nullptr);
  EXPECT_NE(dynamic_cast<TORVTemporaryDatabaseData*>(engine.TempDBData()), nullptr);
  TORVSession* session = ORVDefaultSession();
  auto* other = new TORVSession(nullptr);
  other->SetSessionName("Other");
  for (const char* name : {"MEMORY", "TEMP"}) {
    SCOPED_TRACE(name);
    TORVDatabase* mine = session->OpenDatabase(name);
    TORVDatabase* theirs = other->OpenDatabase(name);
    ASSERT_NE(mine, theirs);
    TORVDatabaseData* data = DataOf(*mine);
    EXPECT_EQ(DataOf(*theirs), data);
    // A table made in the built-in database by any session is there for all.
    {
      testing::TestSession maker(*data);
      testing::TestCursor creator(maker, "Measure");
      TORVFieldDefs fields;
      testing::AddField(fields, "ID", aftInteger);
      creator.CreateTable(fields, TORVIndexDefs(), TORVConstraintDefs());
    }
    EXPECT_TRUE(mine->TableExists("MEASURE"));
    std::vector<std::string> tables;
    theirs->GetTablesList(tables);
    EXPECT_EQ(tables, (std::vector<std::string>{"Measure"}));
    const int32_t id = data->GetNewObjectId();
    EXPECT_LT(id, data->GetNewObjectId());
    session->CloseDatabase(mine);
    other->CloseDatabase(theirs);
  }
  // The tables go with the engine at shut-down.
}

TEST_F(EngineTest, SessionNamesFollowTheirRules) {
  TORVSessionList& sessions = engine.Sessions();
  TORVSession* def = ORVDefaultSession();
  TORVComponent form(nullptr);
  form.SetName("Form1");
  TORVSession* second = nullptr;
  TORVSession* session1 = nullptr;

  struct Step {
    const char* what;
    std::function<void()> run;
    const char* error;  // the database error's message; "" for none
  };
  const std::vector<Step> steps = {
      {"'' finds the default", [&] { EXPECT_EQ(sessions.FindSession(""), def); }, ""},
      {"'' by name", [&] { EXPECT_EQ(sessions.GetSessionByName(""), def); }, ""},
      {"ASCII case is ignored", [&] { EXPECT_EQ(sessions.FindSession("dEFAULT"), def); }, ""},
      {"an unknown name", [&] { ExpectCode(20002, [&] { sessions.GetSessionByName("Nope"); }); }, ""},
      {"a second session without a name", [&] { second = new TORVSession(nullptr); }, ""},
      {"cannot be activated", [&] { second->Open(); }, "Session name missing"},
      {"nor be named like the default", [&] { second->SetSessionName("Default"); },
       "Duplicate session name 'Default'"},
      {"in any letter case", [&] { second->SetSessionName("DEFAULT"); }, "Duplicate session name 'DEFAULT'"},
      {"a name of its own", [&] { second->SetSessionName("Second"); }, ""},
      {"activating it activates the default first",
       [&] {
         second->Open();
         EXPECT_TRUE(def->Active());
         EXPECT_NE(second->Handle(), def->Handle());
         second->MakeCurrent();
         EXPECT_EQ(sessions.GetCurrentSession(), second);
       },
       ""},
      {"an active session keeps its name", [&] { second->SetSessionName("Other"); },
       "Cannot perform this operation on an active session"},
      {"deactivating it makes the default current",
       [&] {
         second->Close();
         EXPECT_EQ(ORVGetCurrentSession(), def->Handle());
       },
       ""},
      {"Session1 generates Session1_1",
       [&] {
         session1 = new TORVSession(&form);
         session1->SetName("Session1");
         session1->SetAutoSessionName(true);
         EXPECT_EQ(session1->SessionName(), "Session1_1");
       },
       ""},
      {"renamed S, it is S_1",
       [&] {
         session1->SetName("S");
         EXPECT_EQ(session1->SessionName(), "S_1");
       },
       ""},
      {"its name is generated", [&] { session1->SetSessionName("Mine"); },
       "S: Cannot modify SessionName while AutoSessionName is enabled"},
      {"no second session beside it", [&] { new TORVSession(&form); },
       "Cannot add a session to the form or data-module while session 'S' has AutoSessionName enabled"},
      {"switched off, a session may join the form",
       [&] {
         session1->SetAutoSessionName(false);
         EXPECT_EQ(session1->SessionName(), "S_1");
         new TORVSession(&form);
       },
       ""},
      {"but two sessions there cannot generate names", [&] { session1->SetAutoSessionName(true); },
       "S: Cannot enable AutoSessionName property with more than one session on a form or data-module"},
      {"the list in creation order",
       [&] {
         std::vector<std::string> names;
         sessions.GetSessionNames(names);
         EXPECT_EQ(names, (std::vector<std::string>{"Default", "Second", "S_1", ""}));
       },
       ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    EXPECT_EQ(DatabaseErrorOf(step.run), step.error);
  }
  // The form frees its sessions; the engine frees the one it still lists at shut-down.
}

TEST_F(EngineTest, AGeneratedNameGoesToTheDatabasesBesideTheSessionAndItsNumberIsReused) {
  TORVComponent form(nullptr);
  auto* session = new TORVSession(&form);
  session->SetName("Session1");
  auto* db = new TORVDatabase(&form);
  session->SetAutoSessionName(true);
  EXPECT_EQ(db->GetSessionName(), "Session1_1");
  EXPECT_EQ(db->Session(), session);
  // A database placed beside the session afterwards joins it.
  auto* later = new TORVDatabase(&form);
  EXPECT_EQ(later->Session(), session);
  EXPECT_EQ(later->GetSessionName(), "Session1_1");
  EXPECT_EQ(session->GetDatabaseCount(), 2);
  // Freed, the session gives its number back and its databases go to the default session.
  delete session;
  EXPECT_EQ(db->Session(), ORVDefaultSession());
  EXPECT_EQ(db->GetSessionName(), "");
  TORVComponent other(nullptr);
  auto* next = new TORVSession(&other);
  next->SetName("T");
  next->SetAutoSessionName(true);
  EXPECT_EQ(next->SessionName(), "T_1");
}

TEST_F(EngineTest, OpeningMemoryByNameMakesOneTemporaryComponentFreedWithItsLastClose) {
  TORVSession* session = ORVDefaultSession();
  session->SetKeepConnections(false);
  TORVDatabase* first = session->OpenDatabase("MEMORY");
  TORVDatabase* second = session->OpenDatabase("MEMORY");
  ASSERT_EQ(first, second);
  EXPECT_TRUE(first->Temporary());
  EXPECT_TRUE(first->SilentMode());
  EXPECT_FALSE(first->KeepConnection());
  EXPECT_EQ(first->Owner(), session);
  EXPECT_EQ(first->DatabaseName(), "MEMORY");
  EXPECT_EQ(first->RefCount(), 2);
  EXPECT_EQ(session->GetDatabaseCount(), 1);
  EXPECT_EQ(DataOf(*first), engine.MemDBData());

  session->CloseDatabase(first);
  EXPECT_EQ(session->GetDatabaseCount(), 1);
  EXPECT_EQ(first->RefCount(), 1);
  session->CloseDatabase(first);
  EXPECT_EQ(session->GetDatabaseCount(), 0);
  // The built-in database outlives its connections.
  EXPECT_EQ(ListCount(), 2);
  EXPECT_EQ(engine.MemDBData()->FSessionList.size(), 0u);

  // TEMP likewise; with connections kept, an unreferenced one waits for DropConnections.
  session->SetKeepConnections(true);
  TORVDatabase* temp = session->OpenDatabase("TEMP");
  EXPECT_EQ(DataOf(*temp), engine.TempDBData());
  session->CloseDatabase(temp);
  EXPECT_EQ(session->GetDatabaseCount(), 1);
  EXPECT_TRUE(temp->Connected());
  session->DropConnections();
  EXPECT_EQ(session->GetDatabaseCount(), 0);

  // Listing the tables of a database by name opens and releases it.
  std::vector<std::string> tables{"stale"};
  session->GetTableNames("MEMORY", tables);
  EXPECT_TRUE(tables.empty());
  ASSERT_EQ(session->GetDatabaseCount(), 1);
  EXPECT_EQ(session->GetDatabase(0)->RefCount(), 0);
}

TEST_F(EngineTest, OpeningANameThatIsNoBuiltInDatabaseFreesTheComponentItMade) {
  TORVSession* session = ORVDefaultSession();
  // Another letter case is no built-in database: a file database without a file.
  EXPECT_NE(CodeOf([&] { session->OpenDatabase("memory"); }), 0);
  EXPECT_EQ(session->GetDatabaseCount(), 0);
  EXPECT_EQ(ListCount(), 2);
}

TEST_F(EngineTest, ShutDownClosesOpenDatabasesBeforeTheListGoes) {
  const std::string file = dir.File("shut.orv");
  CreateFile(file);
  auto db = NewDatabase("QUIRVEL", file);
  db->SetMultiUser(true);
  db->Open();
  TORVSession* session = ORVDefaultSession();
  TORVDatabase* memory = session->OpenDatabase("MEMORY");
  ASSERT_NE(memory, nullptr);
  auto* other = new TORVSession(nullptr);
  other->SetSessionName("Other");
  auto db2 = NewDatabase("SECOND", file);
  db2->SetMultiUser(true);
  db2->SetSessionName("Other");
  db2->Open();
  EXPECT_EQ(ListCount(), 4);
  // A storage session that no component holds, still connected at shut-down.
  auto loose = std::make_unique<TORVLocalSession>(engine.DBDataList());
  loose->FDatabaseName = "MEMORY";
  loose->SetConnected(true);

  engine.Shutdown();
  EXPECT_FALSE(loose->GetConnected());
  loose.reset();
  EXPECT_FALSE(db->Connected());
  EXPECT_FALSE(db2->Connected());
  EXPECT_EQ(db->Session(), nullptr);
  EXPECT_EQ(db2->Session(), nullptr);
  // The file is closed: another engine opens it exclusively.
  engine.Startup();
  auto again = NewDatabase("AGAIN", file);
  again->SetExclusive(true);
  again->Open();
  EXPECT_TRUE(again->Connected());
  // The components left over from the first run are freed after it without harm.
  db.reset();
  db2.reset();
}

}  // namespace
}  // namespace orv
