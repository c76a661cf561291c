#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <filesystem>
#include <stdexcept>

#include "analysis/analyze.h"
#include "app/about.h"
#include "app/archive_access.h"
#include "app/frm_connect.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/language.h"
#include "app/settings.h"
#include "app/tests/app_test_support.h"
#include "app/tests/main_window_fixture.h"
#include "capture/motiondetect.h"
#include "capture/preview.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/png_codec.h"
#include "platform/ini/profile.h"
#include "platform/ui/scripted_ui.h"

namespace app {
namespace {

using platform::ui::ModalResult;
using platform::ui::ModalWindow;
using test::MainWindowTest;

template <typename T>
void ExpectControls(QObject* root, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const auto found = root->findChildren<T*>(name);
    EXPECT_EQ(found.size(), 1) << name;
  }
}

TEST_F(MainWindowTest, EveryControlExistsOnceUnderItsName) {
  Create();
  QObject* w = frm.get();
  ExpectControls<QMenu>(w, {"File1", "Tools1", "Device1", "Help1", "SharpMenu"});
  ExpectControls<QAction>(w, {"LoadImage1", "SaveImage1", "Settings1", "OpenDatabase1", "CreateDatabase1", "Close1",
                              "Preview1", "Capture1", "Analyze1", "Alternative1", "FFT1", "Video1", "Connect1",
                              "Calibrate1", "About1", "Help2", "SaveSharpness", "ClearSharpness"});
  ExpectControls<QToolButton>(
      w, {"Refreshbtn", "Capturebtn", "ZeroTRBtn", "Zoombtn", "UnZoombtn", "Densitybtn", "Savebtn", "Loadbtn",
          "Reportbtn", "OpenDBbtn", "AnalyzeMaskStruct", "AutoLine", "AnalyzeMaskbtn", "ManMaskbtn", "LineBtn",
          "FixLAMSScreenbtn", "NewStatbtn", "StatPlusbtn", "StatDelBtn", "StatSavebtn", "StatPDFbtn",
          "AnalyzePlateBtn", "Alternativebtn", "DotAnalyze2TH", "DotNXPixel", "BurlDotbtn", "ManPlatebtn", "FLinebtn",
          "FixScreenbtn", "LocalDensbtn", "NewPStatbtn", "StatPPlusbtn", "StatPDelbtn", "StatPSavebtn", "StatPPDFbtn",
          "StructureStreifen", "AnalyzeStructurebtn", "StructAutoLine", "Diffbtn", "NewSStatbtn", "StatSPlusbtn",
          "StatSDelbtn", "StatSSavebtn", "StatSPDFbtn", "AnalyzeFilmbtn", "AnalyseKFilmbtn", "KFilmClusterbtn",
          "FilmAlternative", "ManFilmbtn", "FilmLinebtn", "FixFScreenbtn"});
  ExpectControls<QPushButton>(w, {"Gammabtn", "OpenStructureREfbtn", "SaveRefImg", "Zerobtn", "GrayImg", "FullImg",
                                  "BINImgbtn", "HRBinImgbtn", "Gridbtn", "WGridbtn", "CalTargetbtn", "Calibbtn",
                                  "CreateINI", "CALPDFbtn", "Cancelbtn"});
  ExpectControls<QTabWidget>(w, {"Analyzepages", "MaskPageControl", "PlatePageControl", "StructurePageControl",
                                 "FilmParameterPages"});
  ExpectControls<QSlider>(w, {"DisplayBrBar", "DisplayGammaBar", "PlateTHBar", "FFTAmplitude", "ITBar", "GainBar"});
  ExpectControls<TUpDown>(w, {"ChgBRBar", "ChgGammabar"});
  ExpectControls<QSpinBox>(w, {"SharpSpinEdit", "NumImgs"});
  ExpectControls<QScrollBar>(w, {"BRBar"});
  ExpectControls<TShape>(w, {"BRShape"});
  ExpectControls<QProgressBar>(w, {"MainProgress"});
  ExpectControls<QScrollArea>(w, {"ScrollBox1"});
  ExpectControls<QPlainTextEdit>(w, {"Memo1"});
  ExpectControls<QGroupBox>(w, {"BrandGrp"});
  ExpectControls<QTableWidget>(w, {"MaskGrid", "PlateGrid", "StructGrid"});
  ExpectControls<QRadioButton>(w, {"DiameterRB", "SizeRB", "AreaRB", "DiameterRBPlate", "SizeRBPlate", "AreaRBPlate"});
  ExpectControls<TImage>(w, {"AnalyseImage", "Image2", "CrystalImg", "VOSKALogo", "SharpResImgMask", "SharpResImgP",
                             "SharpResImgStr", "SharpResImgF", "StatMaskImg", "StatPlateImg", "StatStructImg",
                             "StripImage", "PlateStructHist", "MottleImage", "StructRefImg", "HistImg"});
  ExpectControls<QLineEdit>(w, {"TolEdit", "WSILcm", "LineLenEdit", "PlateDotTol", "PlateDensEdit", "SizeLimit",
                                "FLineLenEdit", "TolEditPlate", "WSILcmPlate", "LineLenEditPlate", "GammaEdit",
                                "FilmLineLenEdit", "BinHREdit", "ScreenEdit", "CalDotAreaEdit", "SerialEdit"});
  ExpectControls<QWidget>(
      w, {"Panel9", "Panel10", "SharpPanel", "LAMS", "Plate", "STRUCTURE", "FILM", "Camera", "CALIBRATION",
          "LAMSDotAreaPanel", "LAMSSRPanel", "LAMSDotDetailspanel", "LAMSFreqPanel", "LamsLineWidthPanel",
          "MaskValues", "MaskParameter", "MaskStatTab", "PDotAreaPanel", "PLinePanel", "PlateStatTab",
          "PlateStructPanel", "PlateStructAreaPanel", "StructLCMPanel", "PlateLineStructPanel", "StructValuesPage",
          "StructParPage", "StructStatTab", "Reference", "FilmDotAreaPanel", "FilmDotDetailsPanel",
          "FilmLineWidthPanel", "BrandPanel"});
  ExpectControls<QLabel>(
      w, {"BRRulerLabel", "GammaRulerLabel", "Varianzlabel", "VarDiffLabel", "BRBarLabel", "SharpResLabelMask",
          "DotAreaCapMask", "MaskDotAreaRes", "LCMResult", "LCMlabelMask", "AlphaCapMask", "AlphaRes",
          "EdgefaktorTitle", "LAMSEdgeFaktorRes", "FreqTitleLabel", "FreqLabel", "CycleLabel", "PeriodeLabel",
          "LineWidthLabel", "LineWidthRes", "LWMicronsLabel", "CountCapMask", "DotDiameterCapMask", "DotSizeCapMask",
          "AvgCapMask", "DotAreammG", "DotAreammK", "StdDevCapMask", "CountValue", "CountValueG", "CountValueK",
          "DotDiameterValue", "DotDiameterValueG", "DotDiameterValueK", "DotSizeValue", "DotSizeValueG",
          "DotSizeValueK", "StdDevRes", "DotSizeStdDev", "DotTolCapMask", "PixelPatternLabel", "LineLengthMaskLabel",
          "Densthlabel", "SharpResLabelP", "DotAreaCapPlate", "PlateDotAreaRes", "LCMLabelPlate", "PlateLCMResult",
          "AlphaCapPlate", "PlateAlphaRes", "DotDiameterCapPlate", "PlateDotDiameterRes", "DDPlateUnit",
          "EdgeFactorCapPlate", "EFRes", "StdDevCapPlate", "StdDevPlate", "StdPlateUnit", "PlateLineWidthLabel",
          "FLineWidthRes", "FLineWidthUnit", "DotTolCapPlate", "StructContrast", "DensthlabelPlate",
          "LineLengthPlateLabel", "SharpResLabelStr", "DotCapStruct", "SDotAreaRes", "DotAreaCapStruct",
          "SStructAreaREs", "SLCMResult", "StructLCMLabel", "AlphaCapStruct", "SAlphaRes", "PlateLineStructLabel",
          "PLineStructRes", "StructureCycleLabel", "PeriodePlate", "StructureFreqLabel", "FreqPlate",
          "CountCapStruct", "DotDiameterCapStruct", "DotSizeCapStruct", "AvgCapStruct", "StructmmG", "StructmmK",
          "SCountValue", "SCountValueG", "SCountValueK", "SDotDiameterValue", "SDotDiameterValueG",
          "SDotDiameterValueK", "SDotSizeValue", "SDotSizeValueG", "SDotSizeValueK", "SStdDevRes", "SDotSizeStdDev",
          "DotTolCap", "PixelPatternPlateLabel", "LineLengthLabel", "StructResLabel", "AvgStructRes",
          "FFTStdDevLabel", "SharpResLabelF", "DotAreaCapFilm", "FilmDotAreaRes", "LCMLabelFilm", "FilmLCMResult",
          "AlphaCapFilm", "FilmAlphaREs", "FilmEdgeFaktorTitle", "FilmEdgeFaktorRes", "DotDiameterCapFilm",
          "FilmDotDiameterRes", "DDFilmUnit", "FLineWidthLabel", "FilmLineWidthRes", "FilmLWMicronsLabel",
          "LineLengthFilmLabel", "MaxMicroDot", "MicroDotContrast", "ITLabel", "Gainlabel", "PercLabel", "Label12",
          "Label13", "Sharplabel", "PPIValLabel", "CalLCMREs", "CalDotArea", "BRLabel"});

  // The six analysis pages in their order, the first one shown.
  const QStringList pages = {"LAMS", "Plate", "STRUCTURE", "FILM", "Camera", "CALIBRATION"};
  ASSERT_EQ(frm->Analyzepages->count(), pages.size());
  for (int i = 0; i < pages.size(); ++i) EXPECT_EQ(frm->Analyzepages->widget(i)->objectName(), pages[i]);
  EXPECT_EQ(frm->Analyzepages->currentWidget(), frm->LAMS);
  // The status bar's nine panels and their widths.
  ASSERT_EQ(frm->StatusBar1->PanelCount(), 9);
  const int widths[] = {60, 45, 45, 95, 45, 380, 380, 45, 60};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(frm->StatusBar1->Panel(i)->maximumWidth(), widths[i]) << i;
  // Display and camera controls with their ranges.
  EXPECT_EQ(frm->DisplayBrBar->minimum(), -10);
  EXPECT_EQ(frm->DisplayBrBar->maximum(), 20);
  EXPECT_EQ(frm->DisplayGammaBar->maximum(), 10);
  EXPECT_EQ(frm->SharpSpinEdit->value(), 1);
  EXPECT_EQ(frm->ITBar->value(), 13);
  EXPECT_EQ(frm->GainBar->minimum(), 35);
  EXPECT_EQ(frm->BRBar->minimum(), -4);
  EXPECT_EQ(frm->PlateTHBar->maximum(), 30);
  EXPECT_EQ(frm->MaskGrid->rowCount(), 6);
  EXPECT_EQ(frm->MaskGrid->columnCount(), 3);
}

// ---- creation ----

TEST_F(MainWindowTest, CreationWithoutDefaultPictureStillSetsUpTheViewAndTheMotionDetector) {
  Create();
  EXPECT_TRUE(frm->st.FirstActivate);
  EXPECT_EQ(frm->st.HomeDir, home.Path());
  EXPECT_EQ(frm->st.cf_inifile, home / "QUIRVEL.INI");
  EXPECT_EQ(frm->AnalyseImage->Picture().size(), QSize(1280, 1024));
  EXPECT_EQ(frm->st.ZoomOn, 1);
  EXPECT_EQ(frm->st.OldSharp, 1);
  EXPECT_FALSE(frm->st.StatActive);
  EXPECT_NE(frm->st.motion, nullptr);
  EXPECT_TRUE(frm->st.initmotion);
  EXPECT_TRUE(frm->st.ismoving);
  for (auto* b : {frm->st.ibmp.get(), frm->st.dbmp.get(), frm->st.rbmp.get(), frm->st.bgimg.get()}) {
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width(), 1280);
    EXPECT_EQ(b->Height(), 1024);
  }
  // The calibration of the main ini is read at creation.
  EXPECT_EQ(analysis::Analysis().PixelperInch, 43000);
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(MainWindowTest, CreationLoadsTheDefaultPictureAndAHomeFolderWithTrailingSeparator) {
  platform::Bitmap picture(1280, 1024);
  picture.Fill(77);
  platform::SaveBmp(picture, home / "defaultimage.bmp");
  SetIni("QUIRVELCAL", "PIXELPERINCH", "43210.5");
  folder.reset();
  folder = std::make_unique<ScopedProgramFolder>(home.Path() + "/");
  frm = std::make_unique<THRMainFrm>();
  EXPECT_EQ(frm->st.HomeDir, home.Path());
  EXPECT_EQ(frm->st.cf_inifile, home / "QUIRVEL.INI");
  EXPECT_EQ(frm->AnalyseImage->Picture().pixelColor(10, 10), QColor(77, 77, 77));
  EXPECT_EQ(analysis::Analysis().PixelperInch, 43210.5);
}

// ---- first activation ----

TEST_F(MainWindowTest, FirstActivationWithTheShippedFilesAppliesLanguageSettingsAndArchive) {
  Create();
  Activate();
  EXPECT_FALSE(frm->st.FirstActivate);
  EXPECT_FALSE(ui.TerminatedWith().has_value());
  EXPECT_EQ(frm->windowTitle().toStdString(), "QUIRVEL Dudiv Adavuzed sn0000 v" + BuildVersion());
  EXPECT_EQ(frm->st.SerialNo, "0000");
  EXPECT_EQ(frm->st.Sprache, "English");
  // Captions and hints from English.txt.
  EXPECT_EQ(Text("File1"), "&File");
  EXPECT_EQ(Text("LAMS"), "LAMS Mask");
  EXPECT_EQ(Text("MaskStatTab"), "Statistic");
  EXPECT_EQ(Text("DotAreammG"), "> + Tol.");
  EXPECT_EQ(Text("DotAreammK"), "< - Tol.");
  EXPECT_EQ(HintOf("UnZoombtn"), "Zoom 1:1");
  EXPECT_EQ(HintOf("AnalyzeMaskbtn"), "Analyze Dot Area");
  EXPECT_EQ(HintOf("ManPlatebtn"), "Analyze Selection");
  EXPECT_EQ(HintOf("DisplayBrBar"), "Display brightness");  // HINT + 10 replaces MAINMENU + 29
  EXPECT_EQ(HintOf("NewSStatbtn"), "New statistic");
  // No zero reference file: the zero button asks for one.
  EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), "ZERO!");
  EXPECT_EQ(frm->ITLabel->text().toStdString(), "13:1/750 second");
  EXPECT_EQ(frm->Gainlabel->text().toStdString(), "80");
  // A fresh installation: the archive is looked for in DATABASE and the ini points there.
  const std::string db = home / "DATABASE/QUIRVEL.orv";
  EXPECT_EQ(archive.log, (std::vector<std::string>{"disconnect", "file " + db, "open"}));
  EXPECT_EQ(IniValue("QUIRVEL", "DATABASE"), db);
  EXPECT_EQ(frm->StatusBar1->PanelText(6).toStdString(), "QUIRVEL.orv");
  EXPECT_FALSE(frm->st.ImgCaptured);
  EXPECT_FALSE(frm->SharpPanel->isVisibleTo(frm.get()));
  // Every activation: service pages hidden by the shipped switches.
  EXPECT_FALSE(PageVisible(frm->Camera));
  EXPECT_FALSE(PageVisible(frm->CALIBRATION));
  EXPECT_FALSE(frm->Calibrate1->isVisible());
  EXPECT_FALSE(PageVisible(frm->StructValuesPage));
  EXPECT_FALSE(PageVisible(frm->StructParPage));
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(MainWindowTest, FirstActivationRunsAsAQueuedCallAfterShow) {
  Create();
  frm->show();
  test::Pump();
  EXPECT_TRUE(frm->st.FirstActivate);  // nothing ran inside show()
  EXPECT_GE(ui.ProcessPending(), 1u);
  EXPECT_FALSE(frm->st.FirstActivate);
  EXPECT_EQ(archive.log.size(), 3u);
  // Further activations do not repeat the first one.
  Activate();
  ui.ProcessPending();
  EXPECT_EQ(archive.log.size(), 3u);
  frm->hide();
}

TEST_F(MainWindowTest, MissingEnglishLanguageFileEndsTheProgramWithCodeOne) {
  std::filesystem::remove(home / "LANGUAGE/English.txt");
  Create();
  Activate();
  ASSERT_EQ(ui.TerminatedWith(), 1);
  const auto messages = ui.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Language file " + home.Path() + "/LANGUAGE/English.txt not found!");
  EXPECT_TRUE(frm->st.FirstActivate);
  EXPECT_TRUE(archive.log.empty());
}

TEST_F(MainWindowTest, ProfileLanguageMissingEndsTheProgramToo) {
  SetIni("QUIRVEL", "Language", "Klingon");
  Create();
  Activate();
  EXPECT_EQ(ui.TerminatedWith(), 1);
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_NE(ui.Messages()[0].text.find("Klingon.txt not found!"), std::string::npos);
}

TEST_F(MainWindowTest, ArchiveErrorIsShownAndTheFirstActivationGoesOn) {
  archive.fail_with = "Database file 'QUIRVEL.orv' does not exist";
  platform::Bitmap reference(343, 221);
  reference.Fill(200);
  platform::SaveBmp(reference, home / "QUIRVELStructureReference.bmp");
  Create();
  frm->st.ImgCaptured = true;
  frm->SharpPanel->setVisible(true);
  Activate();
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].text, "Database file 'QUIRVEL.orv' does not exist");
  // The steps after the archive ran.
  EXPECT_FALSE(frm->st.ImgCaptured);
  EXPECT_FALSE(frm->SharpPanel->isVisibleTo(frm.get()));
  EXPECT_EQ(frm->StructRefImg->Picture().pixelColor(5, 5), QColor(200, 200, 200));
  EXPECT_FALSE(frm->st.FirstActivate);
  EXPECT_FALSE(ui.TerminatedWith().has_value());
}

TEST_F(MainWindowTest, DamagedPicturesAreReportedAndTheActivationGoesOn) {
  test::WriteText(home / "QUIRVELStructureReference.bmp", "BM not really a bitmap");
  test::WriteText(home / "PRLOGO.bmp", "BM");
  SetIni("QUIRVEL", "SHOWCAMERA", "47096");
  Create();
  Activate();
  EXPECT_EQ(ui.Messages().size(), 2u);
  EXPECT_TRUE(PageVisible(frm->Camera));  // the part of every activation still ran
  EXPECT_EQ(settings.LogoBmp->Width(), 200);
  EXPECT_FALSE(ui.TerminatedWith().has_value());
}

TEST_F(MainWindowTest, DatabaseSettingIsRedirectedIntoTheDatabaseFolder) {
  test::TempDir elsewhere;
  test::WriteText(elsewhere / "Mine.orv", "x");
  test::WriteText(home / "database/Shop.ORV", "x");
  struct Case {
    std::string value;
    std::string opened;
    std::string written;  // what DATABASE holds afterwards
  };
  const Case cases[] = {
      {"shop.orv", home / "database/Shop.ORV", "shop.orv"},          // bare name found in DATABASE
      {elsewhere / "Mine.orv", elsewhere / "Mine.orv", elsewhere / "Mine.orv"},  // an existing file stays
      {"C:\\Data\\Shop.orv", home / "database/Shop.ORV", home / "database/Shop.ORV"},
      {"C:\\Data\\New.orv", home / "database/New.orv", home / "database/New.orv"},
      {"", home / "database/QUIRVEL.orv", home / "database/QUIRVEL.orv"},  // an emptied setting
  };
  for (const Case& c : cases) {
    SetIni("QUIRVEL", "DATABASE", c.value);
    archive.log.clear();
    Create();
    Activate();
    EXPECT_EQ(archive.file, c.opened) << c.value;
    EXPECT_EQ(IniValue("QUIRVEL", "DATABASE"), c.written) << c.value;
    EXPECT_EQ(frm->StatusBar1->PanelText(6).toStdString(), ExtractFileName(c.value.empty() ? "QUIRVEL.orv" : c.value))
        << c.value;
  }
}

// ---- device profiles ----

TEST_F(MainWindowTest, ProfileChooserListsProfilesAndTheChoiceBecomesTheActiveIni) {
  const std::string profile =
      "[QUIRVEL]\r\nSERIAL=31806\r\nBRAND=2\r\nLanguage=German\r\n[QUIRVELCAL]\r\nPIXELPERINCH=42000\r\n";
  test::WriteText(home / "31806_QUIRVEL.INI", profile);
  test::WriteText(home / "00417_quirvel.ini", "[QUIRVEL]\r\nSERIAL=417\r\n");
  Create();
  std::vector<std::string> listed;
  std::string caption;
  ui.QueueModal([&](ModalWindow& w) {
    auto& chooser = dynamic_cast<TFrmConnect&>(w);
    chooser.FormActivate();
    caption = chooser.windowTitle().toStdString();
    for (int i = 0; i < chooser.Count(); ++i) listed.push_back(chooser.FileList->item(i)->text().toStdString());
    chooser.Select(1);
    return ModalResult::Ok;
  });
  Activate();
  EXPECT_EQ(ui.ModalWindows(), std::vector<std::string>{"TFrmConnect"});
  // The template DEFAULT_QUIRVEL.INI of the home folder is no device profile.
  EXPECT_EQ(listed, (std::vector<std::string>{"00417_quirvel", "31806_QUIRVEL"}));
  EXPECT_EQ(caption, "Selection");  // MAINMENU + 22 of the English file loaded before the choice
  EXPECT_EQ(frm->st.cf_inifile, home / "31806_QUIRVEL.INI");
  EXPECT_EQ(test::ReadText(home / "HUIRVEL.INI"), profile);
  EXPECT_EQ(analysis::Analysis().PixelperInch, 42000);
  EXPECT_EQ(frm->st.SerialNo, "31806");
  EXPECT_EQ(frm->st.Brand, 2);
  EXPECT_EQ(frm->windowTitle().toStdString(), "QUIRVEL Dudiv Adavuzed sn31806 v" + BuildVersion());
  // The profile's language, in every block of the main window's texts.
  EXPECT_EQ(Text("File1"), "&Datei");
  EXPECT_EQ(Text("EdgeFactorCapPlate"), "Kantenfaktor");
  EXPECT_EQ(HintOf("Refreshbtn"), "Live-Vorschau (F2)");
  EXPECT_EQ(HintOf("StatPDFbtn"), "Statistikbericht (PDF)");
  EXPECT_EQ(HintOf("KFilmClusterbtn"), "Analysieren Punktcluster");
  // The profile's settings apply from now on: DATABASE went into the profile, not QUIRVEL.INI.
  EXPECT_EQ(IniValue("QUIRVEL", "DATABASE", "31806_QUIRVEL.INI"), home / "DATABASE/QUIRVEL.orv");
  EXPECT_EQ(IniValue("QUIRVEL", "DATABASE"), "QUIRVEL.orv");
}

TEST_F(MainWindowTest, ProfileWrittenInLowerCaseIsFoundAndCancelKeepsTheIni) {
  test::WriteText(home / "00417_quirvel.ini", "[QUIRVEL]\r\nSERIAL=417\r\n");
  Create();
  ui.QueueModal([](ModalWindow& w) {
    dynamic_cast<TFrmConnect&>(w).Select(0);
    return ModalResult::Ok;
  });
  Activate();
  EXPECT_EQ(frm->st.cf_inifile, home / "00417_quirvel.ini");
  EXPECT_EQ(frm->st.SerialNo, "417");

  // A second choice through the menu: cancelled, and OK without a selection.
  ui.QueueModal(ModalResult::Cancel);
  frm->Guarded([&] { frm->Connect1Click(); });
  EXPECT_EQ(frm->st.cf_inifile, home / "00417_quirvel.ini");
  ui.QueueModal([](ModalWindow& w) {
    dynamic_cast<TFrmConnect&>(w).FileList->clearSelection();
    return ModalResult::Ok;
  });
  frm->Guarded([&] { frm->Connect1Click(); });
  EXPECT_EQ(frm->st.cf_inifile, home / "00417_quirvel.ini");
  EXPECT_EQ(ui.ModalWindows().size(), 3u);
}

TEST_F(MainWindowTest, NoProfileNoChooser) {
  Create();
  Activate();
  EXPECT_TRUE(ui.ModalWindows().empty());
  EXPECT_FALSE(std::filesystem::exists(home / "HUIRVEL.INI"));
  EXPECT_EQ(frm->st.cf_inifile, home / "QUIRVEL.INI");
}

// ---- settings read at activation ----

TEST_F(MainWindowTest, ServiceSwitchesAndStoredTabsApplyOnEveryActivation) {
  SetIni("QUIRVEL", "SHOWCAMERA", "47096");
  SetIni("QUIRVEL", "CALON", "47096");
  SetIni("QUIRVEL", "SHOWSTRUCTPAR", "47095");
  SetIni("QUIRVEL", "MASKPAGE", "2");
  SetIni("QUIRVEL", "PLATEPAGE", "9");  // no such tab: the open tab stays
  Create();
  Activate();
  EXPECT_TRUE(PageVisible(frm->Camera));
  EXPECT_TRUE(frm->Calibrate1->isVisible());
  EXPECT_FALSE(PageVisible(frm->StructParPage));
  EXPECT_EQ(frm->MaskPageControl->currentWidget(), frm->MaskStatTab);
  EXPECT_EQ(frm->PlatePageControl->currentIndex(), 0);
  // The operator's choice of the mask tab is kept for the next start.
  EXPECT_EQ(IniValue("QUIRVEL", "MASKPAGE"), "2");
  frm->MaskPageControl->setCurrentWidget(frm->MaskParameter);
  EXPECT_EQ(IniValue("QUIRVEL", "MASKPAGE"), "1");

  // Coming back to the main window closes the calibration page and re-reads the switches.
  SetPageVisible(frm->CALIBRATION, true);
  SetIni("QUIRVEL", "SHOWCAMERA", "0");
  SetIni("QUIRVEL", "SHOWSTRUCTPAR", "47096");
  Activate();
  EXPECT_FALSE(PageVisible(frm->CALIBRATION));
  EXPECT_FALSE(PageVisible(frm->Camera));
  EXPECT_TRUE(PageVisible(frm->StructParPage));
}

TEST_F(MainWindowTest, DisplayBarsComeFromTheActivePagesKeys) {
  SetIni("QUIRVEL", "BRDLAMS", "4");
  SetIni("QUIRVEL", "GAMMALAMS", "-3");
  SetIni("QUIRVEL", "SHARPLAMS", "5");
  SetIni("QUIRVEL", "BRDPLATE", "50");  // beyond the bar: its end
  Create();
  Activate();
  EXPECT_EQ(frm->DisplayBrBar->value(), 4);
  EXPECT_EQ(frm->DisplayGammaBar->value(), -3);
  EXPECT_EQ(frm->SharpSpinEdit->value(), 5);
  EXPECT_EQ(frm->st.OldBr, 4);
  EXPECT_EQ(frm->st.OldGama, -3);
  EXPECT_EQ(frm->BRRulerLabel->text().toStdString(), "4");
  EXPECT_EQ(frm->GammaRulerLabel->text().toStdString(), "-3");
  ActivatePage(frm->Plate);
  frm->SetDisplayBarPosition();
  EXPECT_EQ(frm->DisplayBrBar->value(), 20);
  EXPECT_EQ(frm->SharpSpinEdit->value(), 0);
  // The camera and calibration pages change nothing.
  ActivatePage(frm->Camera);
  SetIni("QUIRVEL", "BRDPLATE", "1");
  frm->SetDisplayBarPosition();
  EXPECT_EQ(frm->DisplayBrBar->value(), 20);
}

TEST_F(MainWindowTest, DisplayBarLockFollowsItsServiceCode) {
  Create();
  for (auto [value, locked] : {std::pair{"47096", true}, {"1", false}, {"0", false}}) {
    SetIni("QUIRVEL", "ENABLEBRGAMASHARP", value);
    frm->EnableBRGamaSharp();
    EXPECT_EQ(frm->Panel9->isEnabled(), !locked) << value;
    EXPECT_EQ(frm->Panel10->isEnabled(), !locked) << value;
    EXPECT_EQ(frm->SharpSpinEdit->isEnabled(), !locked) << value;
    EXPECT_EQ(settings.EnableBRGamaSharpbx->isChecked(), locked) << value;
  }
}

TEST_F(MainWindowTest, UnitSettingDecidesLabelsEditsAndFactors) {
  struct Case {
    const char* value;
    int sunits;
    double dunits, lunits;
    const char* ruling;
    const char* length;
    const char* pattern;
  };
  const Case cases[] = {
      {"0", 0, 25.4, 2.54, "L/cm", "µm", "564"},    {"1", 1, 1.0, 1.0, "L/Inch", "mil", "1432"},
      {"2", 2, 25.4, 1.0, "L/Inch", "µm", "1432"},  {"7", 0, 25.4, 2.54, "L/cm", "µm", "564"},
      {"mm", 0, 25.4, 2.54, "L/cm", "µm", "564"},
  };
  Create();
  for (const Case& c : cases) {
    SetIni("QUIRVEL", "UNITS_mm", c.value);
    frm->Guarded([&] { frm->DoFirstActivate(); });
    const auto& a = analysis::Analysis();
    EXPECT_EQ(a.SUnits, c.sunits) << c.value;
    EXPECT_EQ(a.DUnits, c.dunits) << c.value;
    EXPECT_EQ(a.LUnits, c.lunits) << c.value;
    for (QLabel* l : {frm->LCMlabelMask, frm->LCMLabelFilm, frm->LCMLabelPlate, frm->StructLCMLabel,
                      frm->PixelPatternLabel, frm->PixelPatternPlateLabel}) {
      EXPECT_EQ(l->text().toStdString(), c.ruling) << c.value << " " << l->objectName().toStdString();
    }
    for (QLabel* l : {frm->DDPlateUnit, frm->DDFilmUnit, frm->StdPlateUnit, frm->LWMicronsLabel,
                      frm->FilmLWMicronsLabel, frm->FLineWidthUnit}) {
      EXPECT_EQ(l->text().toStdString(), c.length) << c.value;
    }
    EXPECT_EQ(frm->WSILcm->text().toStdString(), c.pattern);
    EXPECT_EQ(frm->WSILcmPlate->text().toStdString(), c.pattern);
  }
}

TEST_F(MainWindowTest, AnalysisSettingsAreReadAndKeptInTheirRange) {
  SetIni("QUIRVEL", "BRAND", "7");
  SetIni("QUIRVEL", "DIGITS", "9");
  SetIni("QUIRVEL", "MULTIBEAM", "300");
  SetIni("QUIRVEL", "SHOWSHARP", "1");
  ASSERT_TRUE(platform::DeletePrivateProfileSection("IMGSEQ", home / "QUIRVEL.INI"));
  SetIni("IMGSEQ", "IMGSEQ10", "12");
  SetIni("IMGSEQ", "IMGSEQ11", "15");
  SetIni("IMGSEQ", "WAITIMG", "3");
  Create();
  frm->Guarded([&] { frm->DoFirstActivate(); });
  const auto& a = analysis::Analysis();
  EXPECT_EQ(frm->st.Brand, 0);
  EXPECT_EQ(a.Digits, 3);
  EXPECT_EQ(a.Gravurewidth, 300);
  EXPECT_TRUE(a.ShowSharp);
  EXPECT_EQ(a.WaitImg, 3);
  EXPECT_EQ(a.Imgseq[0][0], 1);  // missing keys: 1 and 18
  EXPECT_EQ(a.Imgseq[0][1], 18);
  EXPECT_EQ(a.Imgseq[1][0], 10);  // (12, 15) is made consistent
  EXPECT_EQ(a.Imgseq[1][1], 18);
  EXPECT_EQ(frm->st.GScreen, 0);
  EXPECT_EQ(frm->st.GFScreen, 0);
  SetIni("QUIRVEL", "BRAND", "-1");
  frm->Guarded([&] { frm->DoFirstActivate(); });
  EXPECT_EQ(frm->st.Brand, 0);
  SetIni("QUIRVEL", "BRAND", "3");
  frm->Guarded([&] { frm->DoFirstActivate(); });
  EXPECT_EQ(frm->st.Brand, 3);
}

TEST_F(MainWindowTest, ZeroButtonShowsTheDateOfTheZeroReference) {
  platform::Bitmap zero(1280, 1024);
  zero.Fill(9);
  platform::SavePng(zero, home / "background.zph");
  Create();
  EXPECT_EQ(*frm->st.bgimg, zero);
  frm->Guarded([&] { frm->DoFirstActivate(); });
  EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), FileDateText(home / "background.zph"));
  EXPECT_EQ(frm->ZeroTRBtn->text().size(), 10);
}

TEST_F(MainWindowTest, TcpSwitchTicksTheServerBoxOfTheSettingsWindow) {
  SetIni("QUIRVEL", "TCPIP", "1");
  Create();
  frm->Guarded([&] { frm->DoFirstActivate(); });
  EXPECT_TRUE(settings.TCPIPActivate->isChecked());
  EXPECT_TRUE(settings.Server().Active());
  EXPECT_EQ(frm->StatusBar1->PanelText(7).toStdString(), "TCPIP");
  EXPECT_FALSE(settings.isVisible());
  EXPECT_EQ(settings.Settingspages->currentIndex(), 0);
}

// ---- language ----

TEST_F(MainWindowTest, LanguageBlocksNeedTheirSectionAndCountFromTheSectionLine) {
  Create();
  // MAINMENU on the tenth line (index 9): File gets line 11. No MEASRESULT section.
  std::string file;
  for (int i = 0; i < 9; ++i) file += "junk " + std::to_string(i) + "\r\n";
  file += "MainMenu\r\n";
  for (int k = 1; k <= 30; ++k) file += "M" + std::to_string(k) + "\r\n";
  file += "HINT\r\n";
  for (int k = 1; k <= 11; ++k) file += "H" + std::to_string(k) + "\r\n";
  file += "MAINPANEL\r\n";
  for (int k = 1; k <= 10; ++k) file += "P" + std::to_string(k) + "\r\n";
  LanguageModule().SetLines(SplitLines(file));
  frm->SetLanguage();
  EXPECT_EQ(Text("File1"), "M1");
  EXPECT_EQ(LanguageModule().langStrings[10], "M1");
  EXPECT_EQ(Text("Help1"), "M9");
  EXPECT_EQ(Text("Help2"), "M9");
  EXPECT_EQ(Text("STRUCTURE"), "M18");
  EXPECT_EQ(Text("DotCapStruct"), "M18");
  EXPECT_EQ(HintOf("StatPlusbtn"), "H3");
  EXPECT_EQ(HintOf("Refreshbtn"), "P1");
  EXPECT_EQ(HintOf("AnalyzeStructurebtn").substr(0, 4), "M14 ");
  // Without MEASRESULT the result captions keep their texts.
  EXPECT_EQ(Text("DotAreaCapMask"), "Dot Area");
  EXPECT_EQ(Text("Gammabtn"), "Gamma");
}

// ---- new device profile ----

TEST_F(MainWindowTest, NewProfileForSerialSevenGetsTheTemplateAndTheThreeKeys) {
  Create();
  Activate();
  frm->SerialEdit->setText("7");
  frm->BrandItems[2]->setChecked(true);
  frm->ScreenEdit->setText("50.00");
  frm->CalDotAreaEdit->setText("9.5");
  frm->Guarded([&] { frm->CreateINIClick(); });
  const std::string profile = home / "CALReports/00007_QUIRVEL.INI";
  ASSERT_TRUE(std::filesystem::exists(profile));
  EXPECT_EQ(frm->st.SerialNo, "00007");
  EXPECT_EQ(IniValue("QUIRVEL", "SERIAL", "CALReports/00007_QUIRVEL.INI"), "00007");
  EXPECT_EQ(IniValue("QUIRVEL", "BRAND", "CALReports/00007_QUIRVEL.INI"), "2");
  // Kept from the template.
  EXPECT_EQ(IniValue("QUIRVEL", "MULTIBEAM", "CALReports/00007_QUIRVEL.INI"), "240");
  EXPECT_NE(test::ReadText(profile).find("PIXELPERINCH= 4.30000000000000E+0004\r\n"), std::string::npos);
  EXPECT_NE(test::ReadText(home / "QUIRVEL.INI").find("PIXELPERINCH= 4.30000000000000E+0004\r\n"), std::string::npos);
  EXPECT_EQ(IniValue("QUIRVELCAL", "REFLCM"), "50.00");
  EXPECT_EQ(IniValue("QUIRVELCAL", "REFDOT"), "9.5");
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(MainWindowTest, NewProfileEdgeCases) {
  std::filesystem::remove(home / "DEFAULT_QUIRVEL.INI");
  Create();
  frm->SerialEdit->setText("123456");
  frm->Guarded([&] { frm->CreateINIClick(); });
  const std::string profile = home / "CALReports/123456_QUIRVEL.INI";
  ASSERT_TRUE(std::filesystem::exists(profile));
  // Without the template only the three keys are there.
  EXPECT_EQ(platform::GetPrivateProfileKeys("QUIRVEL", profile), (std::vector<std::string>{"BRAND", "SERIAL"}));
  EXPECT_EQ(platform::GetPrivateProfileKeys("QUIRVELCAL", profile), std::vector<std::string>{"PIXELPERINCH"});
  EXPECT_EQ(platform::GetPrivateProfileSectionNames(profile).size(), 2u);

  // A serial number that would leave the folder is refused.
  frm->SerialEdit->setText("../../evil");
  frm->Guarded([&] { frm->CreateINIClick(); });
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_NE(ui.Messages()[0].text.find("cannot be part of a file name"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(home / "evil_QUIRVEL.INI"));
  EXPECT_EQ(frm->st.SerialNo, "123456");
}

// ---- statistic pictures, shut-down ----

TEST_F(MainWindowTest, StatisticPicturesShowTheTypeOnItsOwnPage) {
  Create();
  frm->MessIcons.assign(19, QImage());
  for (int i = 0; i < 19; ++i) {
    QImage icon(64, 64, QImage::Format_RGB888);
    icon.fill(QColor(i, 2 * i, 3 * i));
    frm->MessIcons[static_cast<size_t>(i)] = icon;
  }
  frm->UpdateStatImgs();
  EXPECT_EQ(frm->StatPlateImg->Picture().pixelColor(1, 1), QColor(Qt::white));
  HRMain().StatCount = 1;
  HRMain().StatMess[0].aType = analysis::MT_PLATEDOT;
  frm->UpdateStatImgs();
  EXPECT_EQ(frm->StatPlateImg->Picture().pixelColor(1, 1), QColor(5, 10, 15));
  EXPECT_EQ(frm->StatMaskImg->Picture().pixelColor(1, 1), QColor(15, 30, 45));
  EXPECT_EQ(frm->StatStructImg->Picture().pixelColor(1, 1), QColor(15, 30, 45));
  HRMain().StatMess[0].aType = analysis::MT_FILMDOT;  // no page owns it: nothing drawn
  frm->UpdateStatImgs();
  EXPECT_EQ(frm->StatMaskImg->Picture().pixelColor(1, 1), QColor(Qt::white));
}

TEST_F(MainWindowTest, CloseEndsTheProgramAndDestroyFreesTheImages) {
  Create();
  frm->show();
  frm->Guarded([&] { frm->Close1Click(); });
  EXPECT_EQ(ui.TerminatedWith(), 0);
  EXPECT_FALSE(frm->isVisible());
  frm->FormDestroy();
  EXPECT_EQ(frm->st.ibmp, nullptr);
  EXPECT_EQ(frm->st.bgimg, nullptr);
  EXPECT_EQ(frm->st.motion, nullptr);
  ui.ProcessPending();
}

}  // namespace
}  // namespace app
