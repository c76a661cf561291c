// The archive window's compact command in the running program: the administrator's code and
// the number of connections asked for, the archive file rewritten and open again afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTabWidget>
#include <QToolButton>

#include "app/about.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/program.h"
#include "app/tests/app_test_support.h"
#include "archive/db_grid.h"
#include "archive/hr_db.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/ui/scripted_ui.h"

namespace app {
namespace {

class ArchiveCompactCommandTest : public ::testing::Test {
 protected:
  ArchiveCompactCommandTest() {
    test::App();
    analysis::Analysis().Reset();
    HRMain().Reset();
    program = std::make_unique<Program>();
    program->HRMainFrm->show();
    test::Pump();
    ui.ProcessPending();
  }
  ~ArchiveCompactCommandTest() override { program.reset(); }

  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped{ui};
  test::BuiltHome home;
  ScopedProgramFolder folder{home.Path()};
  ScopedLauncher no_programs{[](const std::vector<std::string>&) { return true; }};
  std::unique_ptr<Program> program;
};

TEST_F(ArchiveCompactCommandTest, TheCodeAndTheNumberDecideAndTheArchiveStaysOpen) {
  archive::THRDBFrm& db = *program->HRDBFrm;
  db.show();
  db.DBPages->setCurrentWidget(db.PLATE);
  test::Pump();
  ASSERT_TRUE(db.Connected());
  for (int i = 0; i < 3; ++i) db.Data.AddPLATEMessung(46000 + i, platform::Bitmap(32, 24), {}, "");
  const int32_t connections = db.Data.HRDatabase().MaxConnections();
  ASSERT_NE(connections, 1);

  // Refused silently: a code in capitals, a cancelled code, a cancelled or empty number.
  for (const std::vector<std::optional<std::string>>& answers :
       std::vector<std::vector<std::optional<std::string>>>{
           {"MOPU7KZAW"}, {std::nullopt}, {"mopu7kzaw", std::nullopt}, {"mopu7kzaw", ""}}) {
    for (const auto& a : answers) ui.QueueInput(a);
    db.CompressDB->click();
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.Data.HRDatabase().MaxConnections(), connections);
  }

  ui.QueueInput("mopu7kzaw");
  ui.QueueInput("501");  // out of range: one connection
  db.CompressDB->click();
  ASSERT_EQ(ui.Inputs().size(), 8u);
  EXPECT_EQ(ui.Inputs().back().caption, "Number of Connections: ");
  EXPECT_EQ(ui.Inputs().back().proposed, "10");
  EXPECT_TRUE(ui.Messages().empty()) << ui.Messages().at(0).text;
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_TRUE(db.Connected());
  EXPECT_EQ(db.Data.HRDatabase().MaxConnections(), 1);
  EXPECT_EQ(db.Data.HRDatabase().PageSize(), 8192);
  test::Pump();
  EXPECT_EQ(db.DBPlateGrid->Model().Grid().RowCount(), 3);
  // Stores go on into the rewritten file.
  db.Data.AddPLATEMessung(46003, platform::Bitmap(32, 24), {}, "");
  EXPECT_EQ(db.Data.PLATETAB().RecordCount(), 4);
}

}  // namespace
}  // namespace app
