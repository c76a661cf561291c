// The report command with the report builder and the archive rows recorded by doubles, the
// calibration page, and the menu commands that reach the archive, the manual and the camera
// window.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <filesystem>
#include <sstream>

#include "analysis/analyze_grid.h"
#include "analysis/mymath.h"
#include "app/report_access.h"
#include "app/tests/main_window_fixture.h"
#include "archive/create_pdf_parameter.h"
#include "archive/report_context.h"
#include "cmake/test_tools.h"
#include "platform/base/clock.h"

namespace app {
namespace {

using analysis::TMessung;
using platform::ui::ModalResult;

class RecordingReports : public ReportAccess {
 public:
  std::string CreatePDF(int Index, bool Show) override {
    calls.push_back({Index, Show, HRMain().MyMess});
    return "report.pdf";
  }
  struct Call {
    int kind;
    bool show;
    TMessung mess;
  };
  std::vector<Call> calls;
};

class RecordingRows : public archive::ReportArchive {
 public:
  struct Row {
    std::string table;
    platform::TDateTime dt;
    int width;
    TMessung mess;
    std::string fn;
  };
  void AddLAMSMessung(platform::TDateTime DT, const platform::Bitmap& b, const TMessung& m,
                      const std::string& fn) override {
    rows.push_back({"MASK", DT, b.Width(), m, fn});
  }
  void AddPLATEMessung(platform::TDateTime DT, const platform::Bitmap& b, const TMessung& m,
                       const std::string& fn) override {
    rows.push_back({"PLATE", DT, b.Width(), m, fn});
  }
  void AddSPLATEMessung(platform::TDateTime DT, const platform::Bitmap& b, const TMessung& m,
                        const std::string& fn) override {
    rows.push_back({"SPLATE", DT, b.Width(), m, fn});
  }
  void AddFILMMessung(platform::TDateTime DT, const platform::Bitmap& b, const TMessung& m,
                      const std::string& fn) override {
    rows.push_back({"FILM", DT, b.Width(), m, fn});
  }
  std::vector<Row> rows;
};

class CommandTest : public test::MainWindowTest {
 protected:
  CommandTest() {
    Create();
    Activate();
    Link(&reports, &rows);
    archive.log.clear();  // the first activation opened the archive
  }
  void Link(ReportAccess* r, archive::ReportArchive* a) {
    MainWindowLinks links = frm->Links();
    links.PDFParam = &dialog;
    links.Reports = r;
    links.Rows = a;
    frm->SetLinks(links);
  }
  // The next report dialog: its box as the operator leaves it, and the button pressed.
  void Answer(ModalResult result, std::optional<bool> show = std::nullopt) {
    ui.QueueModal([this, result, show](platform::ui::ModalWindow&) {
      box_on_open.push_back(dialog.ShowPDFbx->isChecked());
      if (show) dialog.ShowPDFbx->setChecked(*show);
      return result;
    });
  }
  void OnPage(QWidget* page) {
    SetPageVisible(page, true);
    frm->Analyzepages->setCurrentWidget(page);
  }
  std::string Text(const QLabel* l) const { return S(l->text()); }

  archive::TPDFParam dialog;
  RecordingReports reports;
  RecordingRows rows;
  std::vector<bool> box_on_open;
};

// ---- the report command ----

TEST_F(CommandTest, ReportOfTheActivePage) {
  // A missing SHOWPDF ticks the box; OK on a page without a report writes the box's state and
  // nothing else.
  {
    std::istringstream in(test::ReadText(home / "QUIRVEL.INI"));
    std::string kept, line;
    while (std::getline(in, line)) {
      if (line.rfind("SHOWPDF", 0) != 0) kept += line + "\n";
    }
    test::WriteText(home / "QUIRVEL.INI", kept);
  }
  ASSERT_EQ(IniValue("QUIRVEL", "SHOWPDF"), "<none>");
  for (QWidget* page : {frm->Camera, frm->CALIBRATION}) {
    OnPage(page);
    Answer(ModalResult::Ok, false);
    frm->Reportbtn->click();
    EXPECT_EQ(IniValue("QUIRVEL", "SHOWPDF"), "0");
    SetIni("QUIRVEL", "SHOWPDF", "1");
  }
  EXPECT_EQ(box_on_open, (std::vector<bool>{true, true}));
  EXPECT_EQ(ui.ModalWindows(), (std::vector<std::string>{"TPDFParam", "TPDFParam"}));
  EXPECT_TRUE(reports.calls.empty());
  EXPECT_TRUE(rows.rows.empty());

  // OK on an analysis page: the page's kind, shown as the box says.
  const std::pair<QWidget*, int> kinds[] = {
      {frm->LAMS, 1}, {frm->Plate, 2}, {frm->STRUCTURE, 3}, {frm->FILM, 4}};
  for (auto [page, kind] : kinds) {
    OnPage(page);
    Answer(ModalResult::Ok, kind != 3);
    frm->Reportbtn->click();
    ASSERT_FALSE(reports.calls.empty());
    EXPECT_EQ(reports.calls.back().kind, kind);
    EXPECT_EQ(reports.calls.back().show, kind != 3);
  }
  EXPECT_EQ(reports.calls.size(), 4u);
  EXPECT_EQ(IniValue("QUIRVEL", "SHOWPDF"), "1");
  EXPECT_EQ(box_on_open.back(), false);  // the film report found SHOWPDF 0 from the structure one

  // Cancel does nothing.
  Answer(ModalResult::Cancel, true);
  frm->Reportbtn->click();
  EXPECT_EQ(reports.calls.size(), 4u);
  EXPECT_EQ(IniValue("QUIRVEL", "SHOWPDF"), "1");
  EXPECT_TRUE(rows.rows.empty());
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(CommandTest, ArchiveOnlyAppendsTheRowOfThePage) {
  HRMain().MyMess.aType = analysis::MT_FILMDOT;
  HRMain().MyMess.DotArea = 42.5;
  SetIni("QUIRVEL", "SHOWPDF", "1");
  const std::pair<QWidget*, const char*> tables[] = {
      {frm->FILM, "FILM"}, {frm->LAMS, "MASK"}, {frm->Plate, "PLATE"}, {frm->STRUCTURE, "SPLATE"}};
  for (auto [page, table] : tables) {
    OnPage(page);
    Answer(ModalResult::Yes, false);
    const double before = platform::GetClock().Now();
    frm->Reportbtn->click();
    ASSERT_FALSE(rows.rows.empty());
    const RecordingRows::Row& row = rows.rows.back();
    EXPECT_EQ(row.table, table);
    EXPECT_EQ(row.fn, "");
    EXPECT_EQ(row.mess.DotArea, 42.5);
    EXPECT_EQ(row.width, frm->st.ibmp->Width());
    EXPECT_GE(row.dt, before - 1e-6);
    // The box is not taken back: SHOWPDF stays.
    EXPECT_EQ(IniValue("QUIRVEL", "SHOWPDF"), "1");
  }
  EXPECT_EQ(rows.rows.size(), 4u);
  // Pages without a table append nothing.
  OnPage(frm->Camera);
  Answer(ModalResult::Yes);
  frm->Reportbtn->click();
  EXPECT_EQ(rows.rows.size(), 4u);
  EXPECT_TRUE(reports.calls.empty());
}

TEST_F(CommandTest, WithoutReportBuilderOrArchiveTheCommandSaysWhatIsMissing) {
  Link(nullptr, nullptr);
  OnPage(frm->Plate);
  Answer(ModalResult::Ok);
  frm->Reportbtn->click();
  Answer(ModalResult::Yes);
  frm->Reportbtn->click();
  const auto messages = ui.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].text.find("report builder"), std::string::npos) << messages[0].text;
  EXPECT_NE(messages[1].text.find("measurement archive"), std::string::npos) << messages[1].text;
  EXPECT_EQ(messages[1].kind, platform::ui::MsgKind::Error);
}

TEST_F(CommandTest, StatisticsReportShowsTheMeanAndEndsCollection) {
  // A plate statistic of two, collecting.
  TMessung a;
  a.aType = analysis::MT_PLATEDOT;
  a.DotArea = 10;
  TMessung b = a;
  b.DotArea = 20;
  HRMain().MyMess = a;
  frm->StatPPlusbtn->click();
  ASSERT_TRUE(frm->st.StatActive);
  HRMain().MyMess = b;
  frm->AddStatistic();
  ASSERT_EQ(HRMain().StatCount, 2);

  // Restarted with its new button: the report still shows the mean computed before.
  frm->NewPStatbtn->click();
  ASSERT_EQ(HRMain().StatCount, 0);
  Answer(ModalResult::Ok, true);
  frm->StatPPDFbtn->click();
  ASSERT_EQ(reports.calls.size(), 1u);
  EXPECT_EQ(reports.calls[0].kind, 6);
  EXPECT_TRUE(reports.calls[0].show);
  EXPECT_EQ(reports.calls[0].mess.DotArea, 15);
  EXPECT_EQ(reports.calls[0].mess.aType, analysis::MT_PLATEDOT);
  EXPECT_EQ(HRMain().MyMess.DotArea, 15);
  EXPECT_FALSE(frm->st.StatActive);
  EXPECT_FALSE(frm->StatPPlusbtn->isChecked());
  EXPECT_EQ(IniValue("QUIRVEL", "SHOWPDF"), "1");

  // The other two tabs give kinds 5 and 7; "archive only" does nothing for a statistic.
  Answer(ModalResult::Ok, false);
  frm->StatPDFbtn->click();
  Answer(ModalResult::Ok, false);
  frm->StatSPDFbtn->click();
  Answer(ModalResult::Yes);
  frm->StatSPDFbtn->click();
  ASSERT_EQ(reports.calls.size(), 3u);
  EXPECT_EQ(reports.calls[1].kind, 5);
  EXPECT_EQ(reports.calls[2].kind, 7);
  EXPECT_FALSE(reports.calls[2].show);
  EXPECT_TRUE(rows.rows.empty());
}

// ---- the calibration page ----

TEST_F(CommandTest, CalibrationPasswordOpensTheServiceControls) {
  SetIni("QUIRVELCAL", "REFLCM", "60.00");
  frm->st.SerialNo = "4711";
  analysis::Analysis().PixelperInch = 43000;
  struct Case {
    std::optional<std::string> typed;
    bool service;
  };
  for (const Case& c : {Case{"Korw5TD", true}, Case{"korw5td", false}, Case{"Korw5TD ", false},
                        Case{std::nullopt, false}, Case{"KORW5TD", false}}) {
    SetPageVisible(frm->CALIBRATION, false);
    frm->Analyzepages->setCurrentWidget(frm->LAMS);
    ui.QueueInput(c.typed);
    frm->Calibrate1->trigger();
    const std::string typed = c.typed.value_or("<cancel>");
    EXPECT_EQ(frm->Calibbtn->isVisibleTo(frm->CALIBRATION), c.service) << typed;
    EXPECT_EQ(frm->CreateINI->isVisibleTo(frm->CALIBRATION), c.service) << typed;
    EXPECT_EQ(frm->BrandPanel->isVisibleTo(frm->CALIBRATION), c.service) << typed;
    EXPECT_EQ(frm->SerialEdit->isEnabled(), c.service) << typed;
    // The page opens in every case.
    EXPECT_TRUE(PageVisible(frm->CALIBRATION)) << typed;
    EXPECT_EQ(frm->Analyzepages->currentWidget(), frm->CALIBRATION) << typed;
  }
  const auto inputs = ui.Inputs();
  ASSERT_FALSE(inputs.empty());
  EXPECT_EQ(inputs[0].caption, "Password: ");
  EXPECT_EQ(inputs[0].prompt, "Insert Password: ");
  EXPECT_EQ(inputs[0].proposed, "");
  EXPECT_EQ(S(frm->SerialEdit->text()), "4711");
  EXPECT_EQ(S(frm->ScreenEdit->text()), "60.00");
  EXPECT_EQ(S(frm->CalDotAreaEdit->text()), "9.5");
  EXPECT_EQ(Text(frm->PPIValLabel), "43000.00");

  // Leaving the page hides it and opens the LAMS page.
  frm->Cancelbtn->click();
  EXPECT_FALSE(PageVisible(frm->CALIBRATION));
  EXPECT_EQ(frm->Analyzepages->currentWidget(), frm->LAMS);
}

TEST_F(CommandTest, PixelScaleCorrection) {
  analysis::AnalyzeState& a = analysis::Analysis();
  a.PixelperInch = 43000;
  analysis::TSortedDotList* l = analysis::NewSortedDotList(true);
  l->distance = 338;
  l->area = 338 * 338 * 0.1;
  a.GAlternative = a.ActAlternative = l;
  // The measured ruling as the presentation shows it.
  frm->ShowCalAlternative(l);
  ASSERT_EQ(Text(frm->CalLCMREs), "50.09");
  frm->ScreenEdit->setText("50.00");
  frm->Calibbtn->click();
  EXPECT_EQ(analysis::SetVal(a.PixelperInch, 2), "42922.74");
  EXPECT_NEAR(a.PixelperInch, 50.0 * 43000 / 50.09, 1e-9);
  EXPECT_EQ(Text(frm->PPIValLabel), "42922.74");
  EXPECT_EQ(Text(frm->CalLCMREs), "50.00");

  // No correction: a measured ruling of 30 or below, a period of 100 px or less, no population,
  // and a reference that is no ruling above 0 (which would make the scale 0 or negative).
  struct Case {
    std::string measured, reference;
    double distance;
    bool population;
    bool message;
  };
  for (const Case& c : {Case{"30.00", "50.00", 338, true, false}, Case{"29.99", "50.00", 338, true, false},
                        Case{"50.09", "50.00", 100, true, false}, Case{"50.09", "50.00", 338, false, false},
                        Case{"50.09", "0", 338, true, true}, Case{"50.09", "-50.00", 338, true, true},
                        Case{"50.09", "fifty", 338, true, true}, Case{"50.09", "", 338, true, true}}) {
    ui.ClearRecords();
    a.PixelperInch = 43000;
    l->distance = c.distance;
    a.ActAlternative = c.population ? l : nullptr;
    frm->CalLCMREs->setText(Q(c.measured));
    frm->ScreenEdit->setText(Q(c.reference));
    frm->PPIValLabel->setText("43000.00");
    frm->Calibbtn->click();
    const std::string what = c.measured + " / " + c.reference + " / " + std::to_string(c.distance);
    EXPECT_EQ(a.PixelperInch, 43000) << what;
    EXPECT_EQ(Text(frm->CalLCMREs), c.measured) << what;
    EXPECT_EQ(Text(frm->PPIValLabel), "43000.00") << what;
    EXPECT_EQ(ui.Messages().size(), c.message ? 1u : 0u) << what;
  }
}

TEST_F(CommandTest, CertificateAsksTheReportBuilderForKindZeroShown) {
  frm->CALPDFbtn->click();
  ASSERT_EQ(reports.calls.size(), 1u);
  EXPECT_EQ(reports.calls[0].kind, 0);
  EXPECT_TRUE(reports.calls[0].show);
}

// A rendered calibration target of 120 L/cm measured through the page's button.
TEST_F(CommandTest, CalibrationTargetOfKnownRuling) {
  const double ppi = 43000;
  const double period = ppi * 10 / (25.4 * 120);  // pixels per line at 120 L/cm
  std::ostringstream args;
  args.precision(10);
  args << "python3 '" << QUIRVEL_TEST_DATA << "/measure_images.py' halftone '" << (home / "target.qvr") << "' 3 "
       << period << " 0 0.1 dark";
  const quirvel::testing::ToolResult r = quirvel::testing::RunTool(args.str());
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ui.QueueOpenFile(home / "target.qvr");
  frm->Loadbtn->click();
  ASSERT_TRUE(frm->st.ImgCaptured);
  ASSERT_DOUBLE_EQ(analysis::Analysis().PixelperInch, ppi);
  ui.QueueInput(std::nullopt);
  frm->Calibrate1->trigger();
  frm->CalTargetbtn->click();
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_CALDOT);
  EXPECT_EQ(HRMain().MyMess.aType, analysis::MT_CALDOT);
  EXPECT_EQ(frm->MainProgress->value(), 100);
  const double ruling = analysis::GetVal(Text(frm->CalLCMREs));
  EXPECT_NEAR(ruling, 120.0, 0.6) << Text(frm->CalLCMREs);
  EXPECT_NEAR(analysis::GetVal(Text(frm->CalDotArea)), 10, 1.5) << Text(frm->CalDotArea);
  EXPECT_NEAR(HRMain().MyMess.LCM, 120.0, 0.6);
}

// ---- the menu ----

TEST_F(CommandTest, CreateDatabaseCopiesTheTemplateAndNeverOverwrites) {
  std::filesystem::create_directories(home / "DATABASE");
  test::WriteText(home / "DATABASE/QUIRVEL.GEN", "template bytes");
  test::WriteText(home / "DATABASE/old.orv", "an archive with measurements");
  SetIni("QUIRVEL", "DATABASE", home / "DATABASE/old.orv");
  archive.file = home / "DATABASE/old.orv";

  // Onto an existing file: nothing changes; the archive goes on with its database.
  ui.QueueSaveFile(home / "DATABASE/old.orv");
  frm->CreateDatabase1->trigger();
  EXPECT_EQ(test::ReadText(home / "DATABASE/old.orv"), "an archive with measurements");
  EXPECT_EQ(IniValue("QUIRVEL", "DATABASE"), home / "DATABASE/old.orv");
  EXPECT_EQ(archive.log, (std::vector<std::string>{"disconnect", "open"}));
  EXPECT_EQ(archive.file, home / "DATABASE/old.orv");
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_NE(ui.Messages()[0].text.find("old.orv"), std::string::npos);
  const auto dialogs = ui.SaveDialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].filter, "QUIRVEL Database|*.orv");
  EXPECT_EQ(dialogs[0].default_ext, ".orv");
  EXPECT_EQ(dialogs[0].initial_dir, home / "DATABASE");
  EXPECT_EQ(dialogs[0].title, S(Caption(frm->CreateDatabase1)));

  // A new name: a copy of the template, which becomes the archive.
  archive.log.clear();
  ui.ClearRecords();
  ui.QueueSaveFile(home / "DATABASE/new.orv");
  frm->CreateDatabase1->trigger();
  EXPECT_EQ(test::ReadText(home / "DATABASE/new.orv"), "template bytes");
  EXPECT_EQ(IniValue("QUIRVEL", "DATABASE"), home / "DATABASE/new.orv");
  EXPECT_EQ(archive.log,
            (std::vector<std::string>{"disconnect", "file " + (home / "DATABASE/new.orv"), "open"}));
  EXPECT_EQ(S(frm->StatusBar1->PanelText(6)), "new.orv");
  EXPECT_TRUE(ui.Messages().empty());

  // Without the template nothing is created and the message names the template.
  std::filesystem::remove(home / "DATABASE/QUIRVEL.GEN");
  ui.QueueSaveFile(home / "DATABASE/third.orv");
  frm->CreateDatabase1->trigger();
  EXPECT_FALSE(std::filesystem::exists(home / "DATABASE/third.orv"));
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_NE(ui.Messages()[0].text.find("QUIRVEL.GEN"), std::string::npos) << ui.Messages()[0].text;
  EXPECT_EQ(IniValue("QUIRVEL", "DATABASE"), home / "DATABASE/new.orv");

  // A cancelled dialog reopens what was open.
  archive.log.clear();
  ui.QueueSaveFile(std::nullopt);
  frm->CreateDatabase1->trigger();
  EXPECT_EQ(archive.log, (std::vector<std::string>{"disconnect", "open"}));
}

TEST_F(CommandTest, OpenDatabaseChoosesAnotherOrReopens) {
  SetIni("QUIRVEL", "DATABASE", "/data/archives/shop.orv");
  ui.QueueOpenFile(home / "other.orv");
  frm->OpenDatabase1->trigger();
  EXPECT_EQ(archive.log, (std::vector<std::string>{"disconnect", "file " + (home / "other.orv"), "open"}));
  EXPECT_EQ(IniValue("QUIRVEL", "DATABASE"), home / "other.orv");
  EXPECT_EQ(S(frm->StatusBar1->PanelText(6)), "other.orv");
  const auto dialogs = ui.OpenDialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].file_name, "shop.orv");
  EXPECT_EQ(dialogs[0].initial_dir, "/data/archives");
  EXPECT_EQ(dialogs[0].filter, "QUIRVEL Database|*.orv");

  // Cancelled: the database of before is opened again; an engine error is shown.
  archive.log.clear();
  archive.fail_with = "The file other.orv is locked";
  ui.QueueOpenFile(std::nullopt);
  frm->OpenDatabase1->trigger();
  EXPECT_EQ(archive.log, (std::vector<std::string>{"disconnect", "open"}));
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_NE(ui.Messages()[0].text.find("locked"), std::string::npos);

  // A key without a folder starts in the home folder's DATABASE.
  archive.fail_with.clear();
  SetIni("QUIRVEL", "DATABASE", "plain.orv");
  ui.QueueOpenFile(std::nullopt);
  frm->OpenDatabase1->trigger();
  EXPECT_EQ(ui.OpenDialogs().back().initial_dir, home / "DATABASE");
}

TEST_F(CommandTest, ArchiveWindowOnTheTabOfThePage) {
  const std::pair<QWidget*, const char*> tabs[] = {{frm->LAMS, "show MASK"},
                                                   {frm->Plate, "show PLATE"},
                                                   {frm->STRUCTURE, "show STRUCTURE"},
                                                   {frm->FILM, "show keep"}};
  for (auto [page, shown] : tabs) {
    OnPage(page);
    archive.log.clear();
    frm->OpenDBbtn->click();
    EXPECT_EQ(archive.log, std::vector<std::string>{shown});
  }
}

TEST_F(CommandTest, ManualInTheLanguageOrInEnglish) {
  std::vector<std::string> opened;
  ScopedLauncher launcher([&opened](const std::vector<std::string>& argv) {
    opened.push_back(argv.back());
    return true;
  });
  frm->st.Sprache = "German";
  const std::string german = home / "QUIRVEL Manual German.pdf";
  const std::string english = home / "QUIRVEL Manual English.pdf";
  // Neither manual: the message names the English one.
  frm->Help2->trigger();
  EXPECT_TRUE(opened.empty());
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_NE(ui.Messages()[0].text.find(english), std::string::npos) << ui.Messages()[0].text;
  test::WriteText(english, "%PDF-1.4");
  frm->Help2->trigger();
  test::WriteText(german, "%PDF-1.4");
  frm->Help2->trigger();
  EXPECT_EQ(opened, (std::vector<std::string>{english, german}));
}

TEST_F(CommandTest, CameraWindowFromItsHiddenItemAndKey) {
  EXPECT_FALSE(frm->Video1->isVisible());
  EXPECT_EQ(frm->Video1->shortcut(), QKeySequence("Ctrl+K"));
  ASSERT_FALSE(preview.isVisible());
  frm->Video1->trigger();
  EXPECT_TRUE(preview.isVisible());
  preview.hide();
}

}  // namespace
}  // namespace app
