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
#include <map>

#include "app/about.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/hr_main_report.h"
#include "app/language.h"
#include "app/program.h"
#include "app/settings.h"
#include "app/tests/app_test_support.h"
#include "archive/cal_rep.h"
#include "archive/db_grid.h"
#include "archive/hr_db.h"
#include "archive/create_pdf_parameter.h"
#include "cmake/test_tools.h"
#include "analysis/mymath.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/data/field.h"
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

TEST_F(ReportEntryTest, AMeasurementReportAppendsItsRowToTheArchive) {
  ASSERT_TRUE(program->HRDBFrm->Connected()) << "the built home folder's archive was not opened";
  program->PDFParam->JobIDEdit->setText("J-9");
  program->PDFParam->OperatorEdit->setText("Jörg");
  const std::string fn = program->CalRepFrm->CreatePDF(archive::rkPlate, true);
  EXPECT_TRUE(std::filesystem::exists(fn));
  EXPECT_EQ(opened, std::vector<std::string>{fn});
  orv::TORVTable& plate = program->HRDBFrm->Data.PLATETAB();
  ASSERT_EQ(plate.RecordCount(), 1);
  plate.First();
  EXPECT_EQ(plate.FieldByName("PDF")->AsString(), fn);
  EXPECT_EQ(plate.FieldByName("JOBID")->AsString(), "J-9");
  EXPECT_EQ(plate.FieldByName("Operator")->AsString(), "Jörg");
}

// The whole store path: a synthetic halftone is loaded and measured on the plate page, stored
// through the report dialog's "archive only" answer, and the archive window's PLATE grid shows
// the row with the window's result and the dialog's job.
TEST_F(ReportEntryTest, AMeasuredHalftoneStoredThroughTheDialogShowsInTheArchiveWindow) {
  THRMainFrm& w = *program->HRMainFrm;
  const auto gen = quirvel::testing::RunTool("python3 '" + std::string(QUIRVEL_TEST_DATA) +
                                             "/measure_images.py' halftone '" + (home / "plate.qvr") +
                                             "' 1 120 37.5 0.30 dark");
  ASSERT_EQ(gen.exit_code, 0) << gen.output;
  ui.QueueOpenFile(home / "plate.qvr");
  w.Loadbtn->click();
  ASSERT_EQ(w.Analyzepages->currentWidget(), w.Plate);
  w.AnalyzePlateBtn->click();
  ASSERT_EQ(HRMain().MyMess.aType, analysis::MT_PLATEDOT);
  const std::string area = w.PlateDotAreaRes->text().toStdString();

  ui.QueueModal([this](platform::ui::ModalWindow&) {
    program->PDFParam->JobIDEdit->setText("Order 4711");
    program->PDFParam->PlateEdit->setText("Cyan");
    return platform::ui::ModalResult::Yes;
  });
  w.Reportbtn->click();
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_TRUE(opened.empty());  // no report

  w.OpenDBbtn->click();
  test::Pump();
  archive::THRDBFrm& db = *program->HRDBFrm;
  EXPECT_TRUE(db.isVisible());
  ASSERT_EQ(db.DBPages->currentWidget(), db.PLATE);
  const platform::data::DataGridModel& grid = db.DBPlateGrid->Model().Grid();
  ASSERT_EQ(grid.RowCount(), 1);
  std::map<std::string, std::string> row;
  for (int c = 0; c < grid.ColumnCount(); ++c) row[grid.ColumnTitle(c)] = grid.CellText(0, c);
  EXPECT_EQ(row["Algorithm"], "PLATE DOT AREA");
  EXPECT_EQ(row["JOBID"], "Order 4711");
  EXPECT_EQ(row["Plate"], "Cyan");
  EXPECT_EQ(row["PDF"], "");
  EXPECT_NEAR(analysis::GetVal(row["DOTAREA"]), analysis::GetVal(area), 0.006) << row["DOTAREA"] << " / " << area;
  EXPECT_EQ(db.DBPlateGrid->model()->rowCount(), 1);
  const std::string out = std::string(QUIRVEL_TEST_OUTPUT);
  std::filesystem::create_directories(out);
  db.grab().save(QString::fromStdString(out + "/archive_window_after_store.png"));

  // The upload brings the stored picture back as the captured image, on its page.
  const platform::Bitmap stored = *w.st.ibmp;
  w.st.ibmp->Fill(0);
  w.st.ImgCaptured = false;
  w.Analyzepages->setCurrentWidget(w.LAMS);
  db.UploadImg->click();
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_TRUE(*w.st.ibmp == stored);
  EXPECT_TRUE(w.st.ImgCaptured);
  EXPECT_EQ(w.Analyzepages->currentWidget(), w.Plate);
  // A row without a report: the report button opens nothing.
  db.Reportbtn->click();
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

  // On the plate page OK makes the report with its row, "archive only" the row alone.
  w.Analyzepages->setCurrentWidget(w.Plate);
  ui.QueueModal(platform::ui::ModalResult::Ok);
  w.Reportbtn->click();
  ui.QueueModal(platform::ui::ModalResult::Yes);
  w.Reportbtn->click();
  EXPECT_TRUE(ui.Messages().empty());
  orv::TORVTable& plate = program->HRDBFrm->Data.PLATETAB();
  ASSERT_EQ(plate.RecordCount(), 2);
  plate.First();
  EXPECT_EQ(plate.FieldByName("PDF")->AsString(), opened.at(1));
  plate.Next();
  EXPECT_EQ(plate.FieldByName("PDF")->AsString(), "");
  EXPECT_EQ(opened.size(), 2u);
}

}  // namespace
}  // namespace app
