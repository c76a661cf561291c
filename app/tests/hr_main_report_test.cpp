// The report builder driven from the running program: the main window's snapshot and the
// report entry the report commands call.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
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

}  // namespace
}  // namespace app
