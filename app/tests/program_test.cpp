#include <gtest/gtest.h>

#include <QApplication>
#include <QTabWidget>
#include <QImage>
#include <QMessageBox>
#include <QTimer>
#include <QMenu>
#include <QToolButton>
#include <filesystem>

#include "app/about.h"
#include "app/fft_from.h"
#include "app/frm_connect.h"
#include "app/frm_help.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/language.h"
#include "app/my_message.h"
#include "app/program.h"
#include "app/qt_ui.h"
#include "app/settings.h"
#include "app/tests/app_test_support.h"
#include "archive/cal_rep.h"
#include "archive/create_pdf_parameter.h"
#include "archive/hr_db.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/access/orv_main_database.h"
#include "archive/db_grid.h"
#include "capture/preview.h"
#include "capture/sv_driver.h"
#include "platform/image/bmp_codec.h"
#include "platform/ui/scripted_ui.h"

namespace app {
namespace {

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() {
    test::App();
    analysis::Analysis().Reset();
    HRMain().Reset();
    CreateLanguage();
  }
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped{ui};
  test::BuiltHome home;
  ScopedProgramFolder folder{home.Path()};
  ScopedLauncher no_programs{[](const std::vector<std::string>&) { return true; }};
};

TEST_F(ProgramTest, TwelveWindowsInTheirOrderAndTheMainWindowLinked) {
  Program program;
  const QObject* windows[] = {program.HRMainFrm.get(), program.FrmConnect.get(),  program.FrmSettings.get(),
                              program.AboutFrm.get(),  program.HRDBFrm.get(),     program.CalRepFrm.get(),
                              program.MyMessageFrm.get(), program.PDFParam.get(), program.FrmPreview.get(),
                              program.SVDriverFrm.get(), program.FFTForm.get(),   program.FrmHelp.get()};
  const char* names[] = {"HRMainFrm", "FrmConnect", "FrmSettings", "AboutFrm", "HRDBFrm", "CalRepFrm",
                         "MyMessageFrm", "PDFParam", "FrmPreview", "SVDriverFrm", "FFTForm", "FrmHelp"};
  for (int i = 0; i < 12; ++i) {
    ASSERT_NE(windows[i], nullptr) << i;
    EXPECT_EQ(windows[i]->objectName().toStdString(), names[i]);
  }
  EXPECT_EQ(HRMainFrm, program.HRMainFrm.get());
  const MainWindowLinks& links = program.HRMainFrm->Links();
  EXPECT_EQ(links.FrmConnect, program.FrmConnect.get());
  EXPECT_EQ(links.FrmSettings, program.FrmSettings.get());
  EXPECT_EQ(links.AboutFrm, program.AboutFrm.get());
  EXPECT_EQ(links.FrmPreview, program.FrmPreview.get());
  EXPECT_NE(links.Archive, nullptr);
  EXPECT_EQ(program.MyMessageFrm->size(), QSize(452, 171));
  EXPECT_EQ(program.SVDriverFrm->windowTitle().toStdString(), "Select QUIRVEL Video Driver");
}

TEST_F(ProgramTest, StartsWithTheShippedHomeFolderAndClosesCleanly) {
  {
    Program program;
    THRMainFrm& frm = *program.HRMainFrm;
    frm.show();
    test::Pump();
    ui.ProcessPending();
    ASSERT_FALSE(frm.st.FirstActivate);
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_FALSE(ui.TerminatedWith().has_value());
    EXPECT_EQ(frm.windowTitle().toStdString(), "QUIRVEL Dudiv Adavuzed sn0000 v" + BuildVersion());
    EXPECT_EQ(Caption(frm.File1).toStdString(), "&File");
    // The start picture and the zero reference of the home folder.
    const QImage shown = frm.AnalyseImage->Image();
    EXPECT_EQ(shown, BitmapToImage(platform::LoadBmp(home / "defaultimage.bmp")));
    EXPECT_EQ(frm.ZeroTRBtn->text().toStdString(), FileDateText(home / "background.zph"));
    // The brand logo is drawn (not the white of a missing file).
    const QImage logo = frm.VOSKALogo->Picture();
    bool drawn = false;
    for (int y = 0; y < logo.height() && !drawn; ++y) {
      for (int x = 0; x < logo.width() && !drawn; ++x) drawn = logo.pixelColor(x, y) != QColor(Qt::white);
    }
    EXPECT_TRUE(drawn);
    // The archive window was given the database file.
    EXPECT_EQ(program.HRDBFrm->DatabaseFileName(), home / "DATABASE/QUIRVEL.orv");
    frm.Close1Click();
    EXPECT_EQ(ui.TerminatedWith(), 0);
  }
  EXPECT_EQ(HRMainFrm, nullptr);
}

TEST_F(ProgramTest, WithoutTheEnglishLanguageFileTheProgramEndsWithCodeOne) {
  std::filesystem::remove(home / "LANGUAGE/English.txt");
  Program program;
  program.HRMainFrm->show();
  test::Pump();
  ui.ProcessPending();
  EXPECT_EQ(ui.TerminatedWith(), 1);
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].text, "Language file " + home.Path() + "/LANGUAGE/English.txt not found!");
}

TEST(ProgramRun, MissingLanguageFileEndsTheEventLoopWithCodeOne) {
  test::App();
  analysis::Analysis().Reset();
  CreateLanguage();
  QtUiServices ui;
  platform::ui::ScopedServices scoped(ui);
  test::BuiltHome home;
  std::filesystem::remove(home / "LANGUAGE/English.txt");
  ScopedProgramFolder folder(home.Path());
  std::vector<std::string> shown;
  // Plays the operator: reads and closes whatever message box comes up.
  QTimer operator_;
  QObject::connect(&operator_, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown.push_back(box->text().toStdString());
      box->accept();
    }
  });
  operator_.start(20);
  QTimer::singleShot(30000, [] { QCoreApplication::exit(99); });  // never hang the suite
  Program program;
  program.HRMainFrm->show();
  EXPECT_EQ(QApplication::exec(), 1);
  EXPECT_EQ(ui.ExitCode(), 1);
  EXPECT_EQ(shown, std::vector<std::string>{"Language file " + home.Path() + "/LANGUAGE/English.txt not found!"});
  EXPECT_TRUE(program.HRMainFrm->st.FirstActivate);
}

// The archive window's compact command: the administrator's code and the number of
// connections asked for, the archive file rewritten and open again afterwards.
TEST_F(ProgramTest, TheCompactCommandAsksCodeAndNumberAndTheArchiveStaysOpen) {
  Program program;
  program.HRMainFrm->show();
  test::Pump();
  ui.ProcessPending();
  archive::THRDBFrm& db = *program.HRDBFrm;
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
