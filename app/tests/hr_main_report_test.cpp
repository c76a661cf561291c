// The report builder driven from the running program: the main window's snapshot and the
// report entry the report commands call.
#include <gtest/gtest.h>

#include <QLabel>
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTabWidget>
#include <filesystem>
#include <fstream>

#include "app/about.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/hr_main_report.h"
#include "app/language.h"
#include "app/program.h"
#include "app/settings.h"
#include "app/tests/app_test_support.h"
#include "archive/cal_rep.h"
#include "archive/create_pdf_parameter.h"
#include "cmake/test_tools.h"
#include "platform/ui/scripted_ui.h"

namespace app {
namespace {

class ReportEntryTest : public ::testing::Test {
 protected:
  ReportEntryTest() {
    test::App();
    analysis::Analysis().Reset();
    HRMain().Reset();
    CreateLanguage();
    program = std::make_unique<Program>();
    program->CalRepFrm->Rep.Launcher = [this](const std::string& fn) { opened.push_back(fn); };
    program->HRMainFrm->show();
    test::Pump();
    ui.ProcessPending();
  }
  ~ReportEntryTest() override { program.reset(); }

  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped{ui};
  test::BuiltHome home;
  ScopedProgramFolder folder{home.Path()};
  ScopedLauncher no_programs{[](const std::vector<std::string>&) { return true; }};
  std::unique_ptr<Program> program;
  std::vector<std::string> opened;
};

TEST_F(ReportEntryTest, SnapshotHoldsWhatTheWindowShows) {
  THRMainFrm& w = *program->HRMainFrm;
  w.PlateDotAreaRes->setText("12.34%");
  w.PDotAreaPanel->show();  // a result panel the presentation shows, on a page not on screen
  w.PLinePanel->hide();
  w.MaskPageControl->setTabVisible(w.MaskPageControl->indexOf(w.MaskValues), false);
  w.st.MESSTYPE = analysis::MT_PLATEDOT;
  HRMain().StatCount = 2;
  HRMain().StatMess[1].DotArea = 7;
  std::ofstream(home / "PRLOGO.txt", std::ios::binary) << "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F" "e\r\nLab\r\n";

  MainWindowReportSource source(w, program->FrmSettings.get(), program->PDFParam.get());
  const archive::ReportContext ctx = source.MakeReportContext();
  EXPECT_EQ(ctx.HomeDir, home.Path());
  EXPECT_EQ(ctx.Controls.Text("PlateDotAreaRes"), "12.34%");
  EXPECT_TRUE(ctx.Controls.Visible("PDotAreaPanel"));
  EXPECT_FALSE(ctx.Controls.Visible("PLinePanel"));
  EXPECT_FALSE(ctx.Controls.Visible("MaskValues"));
  EXPECT_EQ(ctx.Controls.Text("SharpnesLabel"), "Sharpness:");
  EXPECT_EQ(ctx.MESSTYPE, analysis::MT_PLATEDOT);
  ASSERT_EQ(ctx.StatMess.size(), 2u);
  EXPECT_EQ(ctx.StatMess[1].DotArea, 7);
  EXPECT_EQ(ctx.Memo1, (std::vector<std::string>{"Grüße", "Lab"}));
  EXPECT_EQ(ctx.LogoBmp.Width(), 200);
  EXPECT_EQ(ctx.LogoBmp.Height(), 78);
  EXPECT_EQ(ctx.AnalyseImage.Width(), 1280);
  EXPECT_EQ(ctx.mmodes[analysis::MT_PLATEDOT], "Plate dot area");
  EXPECT_EQ(ctx.MeasResultText(1), "Dot Area");
  // Every name the reports read is in the window.
  for (std::string_view name : archive::ReportControlNames()) EXPECT_TRUE(ctx.Controls.Has(name)) << name;
}

TEST_F(ReportEntryTest, CertificateFromTheRunningProgramPadsTheSerialEdit) {
  THRMainFrm& w = *program->HRMainFrm;
  w.SerialEdit->setText("77");
  const std::string fn = program->CalRepFrm->CreatePDF(archive::rkCalibration, false);
  EXPECT_EQ(fn.rfind(home / "CALReports/00077_QUIRVEL_", 0), 0u) << fn;
  EXPECT_EQ(w.SerialEdit->text().toStdString(), "00077");
  EXPECT_EQ(opened, std::vector<std::string>{fn});
  const std::string text = quirvel::testing::RunTool("pdftotext '" + fn + "' -", false).output;
  EXPECT_NE(text.find("Calibration Certification"), std::string::npos) << text;
  EXPECT_NE(text.find("Serial Number: 00077"), std::string::npos) << text;
}

TEST_F(ReportEntryTest, MeasurementReportsWaitForTheArchive) {
  // The archive's rows are not there yet: a measurement report is refused whole.
  try {
    program->CalRepFrm->CreatePDF(archive::rkPlate, true);
    FAIL() << "a report was made without its archive row";
  } catch (const archive::EReportError& e) {
    EXPECT_NE(std::string(e.what()).find("measurement archive"), std::string::npos) << e.what();
  }
  std::error_code ec;
  EXPECT_TRUE(!std::filesystem::exists(home / "Reports", ec) || std::filesystem::is_empty(home / "Reports", ec));
  EXPECT_TRUE(opened.empty());
}

// The running program's commands reach the report builder and the built manual.
TEST_F(ReportEntryTest, CommandsOfTheRunningProgram) {
  THRMainFrm& w = *program->HRMainFrm;
  std::vector<std::string> launched;
  ScopedLauncher launcher([&launched](const std::vector<std::string>& argv) {
    launched.push_back(argv.back());
    return true;
  });
  // Help opens the manual the build wrote, in the program's language.
  w.Help2->trigger();
  ASSERT_EQ(launched, std::vector<std::string>{home / ("QUIRVEL Manual " + w.st.Sprache + ".pdf")});
  EXPECT_TRUE(std::filesystem::exists(launched[0]));
  EXPECT_TRUE(ui.Messages().empty());

  // The certificate button writes the certificate and opens it.
  w.SerialEdit->setText("12");
  w.CALPDFbtn->click();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].rfind(home / "CALReports/00012_QUIRVEL_", 0), 0u) << opened[0];
  EXPECT_EQ(w.SerialEdit->text().toStdString(), "00012");

  // A plate report needs the archive's tables, which are not there: the operator is told, and
  // neither report nor row is written. The same for "archive only".
  w.Analyzepages->setCurrentWidget(w.Plate);
  ui.QueueModal(platform::ui::ModalResult::Ok);
  w.Reportbtn->click();
  ui.QueueModal(platform::ui::ModalResult::Yes);
  w.Reportbtn->click();
  const auto messages = ui.Messages();
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) EXPECT_NE(m.text.find("measurement archive"), std::string::npos) << m.text;
  std::error_code ec;
  EXPECT_TRUE(!std::filesystem::exists(home / "Reports", ec) || std::filesystem::is_empty(home / "Reports", ec));
  EXPECT_EQ(opened.size(), 1u);
}

}  // namespace
}  // namespace app
