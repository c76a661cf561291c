// The main window's life cycle: creation, the first and every later activation, the
// device-profile choice, new profiles, the display-bar lock and shut-down.
#include "app/hr_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "analysis/analyze_drivers_freq.h"
#include "analysis/my_fft.h"
#include "analysis/myimage.h"
#include "app/about.h"
#include "app/archive_access.h"
#include "app/frm_connect.h"
#include "app/home_path.h"
#include "app/hr_main_host.h"
#include "app/language.h"
#include "app/settings.h"
#include "capture/motiondetect.h"
#include "capture/preview.h"
#include "platform/base/number_format.h"
#include "platform/base/number_parse.h"
#include "platform/data/database_error.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/image_error.h"

namespace app {

THRMainFrm* HRMainFrm = nullptr;

const std::array<const char*, 19> ITStrings = {
    "1/2 second",   "1/4 second",   "2/15 second",  "1/15 second",  "1/20 second",
    "1/30 second",  "1/50 second",  "1/60 second",  "1/100 second", "1/120 second",
    "1/200 second", "1/250 second", "1/500 second", "1/750 second", "1/1000 second",
    "1/2000 second", "1/3000 second", "1/4000 second", "1/5000 second"};

HRMainModule& HRMain() {
  static HRMainModule module;
  return module;
}

namespace {

std::string ErrorText(const std::exception& e) { return e.what(); }

}  // namespace

THRMainFrm::THRMainFrm(QWidget* parent) : QMainWindow(parent), host_(std::make_unique<MainDriverHost>(*this)) {
  CreateControls();
  Guarded([this] { FormCreate(); });
  connect(Close1, &QAction::triggered, this, [this] { Guarded([this] { Close1Click(); }); });
  connect(Connect1, &QAction::triggered, this, [this] { Guarded([this] { Connect1Click(); }); });
  connect(Settings1, &QAction::triggered, this, [this] { Guarded([this] { Settings1Click(); }); });
  connect(About1, &QAction::triggered, this, [this] { Guarded([this] { About1Click(); }); });
  connect(CreateINI, &QPushButton::clicked, this, [this] { Guarded([this] { CreateINIClick(); }); });
  connect(OpenStructureREfbtn, &QPushButton::clicked, this, [this] { Guarded([this] { OpenStructureREfbtnClick(); }); });
  connect(MaskPageControl, &QTabWidget::currentChanged, this, [this] { Guarded([this] { MaskPageControlChange(); }); });
  ConnectDisplayControls();
  ConnectCaptureControls();
  ConnectMeasurementControls();
  ConnectStatisticControls();
  ConnectMenuCommands();
}

THRMainFrm::~THRMainFrm() {
  FormDestroy();
  if (HRMainFrm == this) HRMainFrm = nullptr;
}

void THRMainFrm::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const EHalt& halt) {
    platform::ui::Services().Terminate(halt.code);
  } catch (const platform::data::EAbort&) {
    // The silent end of an operation whose reason was already shown (an archive table's
    // error event, for one).
  } catch (const std::exception& e) {
    platform::ui::Services().MessageBox(ErrorText(e), "QUIRVEL", platform::ui::MsgButtons::Ok,
                                        platform::ui::MsgKind::Error);
  } catch (...) {
    platform::ui::Services().MessageBox("Unexpected error", "QUIRVEL", platform::ui::MsgButtons::Ok,
                                        platform::ui::MsgKind::Error);
  }
}

bool THRMainFrm::WriteIni(const char* section, const std::string& key, const std::string& value) {
  std::string error;
  if (Ini().Write(section, key, value, &error)) return true;
  platform::ui::Services().MessageBox("The setting " + key + " could not be written to " + st.cf_inifile + ": " + error,
                                      "QUIRVEL", platform::ui::MsgButtons::Ok, platform::ui::MsgKind::Error);
  return false;
}

bool THRMainFrm::ActiveAnalysisPage(ini::Page& page) const {
  const QWidget* current = Analyzepages->currentWidget();
  if (current == LAMS) {
    page = ini::Page::LAMS;
  } else if (current == Plate) {
    page = ini::Page::PLATE;
  } else if (current == STRUCTURE) {
    page = ini::Page::STRUCT;
  } else if (current == FILM) {
    page = ini::Page::FILM;
  } else {
    return false;
  }
  return true;
}

int THRMainFrm::BrandIndex() const {
  for (size_t i = 0; i < BrandItems.size(); ++i) {
    if (BrandItems[i]->isChecked()) return static_cast<int>(i);
  }
  return -1;
}

// ---- creation ----

void THRMainFrm::LoadPictureLists() {
  // The brand logos and the measurement-type icons ship in the home folder; a missing one
  // stays white, so that the window never depends on a picture being there.
  LogoImgs.clear();
  for (int i = 0; i < 4; ++i) {
    QImage logo(200, 78, QImage::Format_RGB888);
    logo.fill(Qt::white);
    const std::string path = ResolveInFolder(st.HomeDir, "LOGOS/LOGO" + std::to_string(i) + ".bmp");
    if (FileExists(path)) {
      try {
        logo = BitmapToImage(platform::LoadBmp(path));
      } catch (const platform::EImageError&) {
        // A damaged logo leaves the white one in place.
      }
    }
    LogoImgs.push_back(logo);
  }
  MessIcons.clear();
  for (int i = 0; i <= analysis::MT_END; ++i) {
    QImage icon(64, 64, QImage::Format_RGB888);
    icon.fill(Qt::white);
    char name[32];
    std::snprintf(name, sizeof name, "ICONS/MTYPE%02d.bmp", i);
    const std::string path = ResolveInFolder(st.HomeDir, name);
    if (FileExists(path)) {
      try {
        icon = BitmapToImage(platform::LoadBmp(path));
      } catch (const platform::EImageError&) {
      }
    }
    MessIcons.push_back(icon);
  }
}

void THRMainFrm::FormCreate() {
  st.FirstActivate = true;
  st.HomeDir = ProgramFolder();
  ActivatePage(LAMS);
  st.ibmp = std::make_unique<platform::Bitmap>(analysis::ImWidth, analysis::ImHeight);
  st.dbmp = std::make_unique<platform::Bitmap>(analysis::ImWidth, analysis::ImHeight);
  st.rbmp = std::make_unique<platform::Bitmap>(analysis::ImWidth, analysis::ImHeight);
  st.bgimg = std::make_unique<platform::Bitmap>(analysis::ImWidth, analysis::ImHeight);
  LoadPictureLists();

  const std::string background = ResolveInFolder(st.HomeDir, "background.zph");
  if (FileExists(background)) {
    try {
      analysis::LoadBmpAsPng(*st.bgimg, background);
    } catch (const std::exception& e) {
      // The zero reference stays black, as without the file.
      st.bgimg = std::make_unique<platform::Bitmap>(analysis::ImWidth, analysis::ImHeight);
      platform::ui::Services().MessageBox(ErrorText(e), "QUIRVEL", platform::ui::MsgButtons::Ok,
                                          platform::ui::MsgKind::Warning);
    }
  }
  CreateLanguage();

  st.cf_inifile = ResolveInFolder(st.HomeDir, "QUIRVEL.INI");
  analysis::LoadCal(st.cf_inifile, capture::GGain);

  // A missing or unreadable default picture must not stop the creation half-way: the view
  // defaults and the motion detector below are needed by the first preview frame.
  platform::Bitmap blank(analysis::ImWidth, analysis::ImHeight);
  blank.Fill(192);  // silver
  const std::string defaultimage = ResolveInFolder(st.HomeDir, "defaultimage.bmp");
  if (FileExists(defaultimage)) {
    try {
      AnalyseImage->SetPicture(platform::LoadBmp(defaultimage));
    } catch (const std::exception&) {
      AnalyseImage->SetPicture(blank);
    }
  } else {
    AnalyseImage->SetPicture(blank);
  }

  st.ZoomOn = 1;
  st.OldBr = 0;
  st.OldGama = 0;
  st.OldSharp = 1;
  st.StatActive = false;

  st.motion = std::make_unique<capture::TMotionDetect_bmp>();
  st.initmotion = true;
  st.ismoving = true;

}

void THRMainFrm::FormDestroy() {
  // The result server answers from this window's pictures and labels: it stops first.
  if (links_.FrmSettings) links_.FrmSettings->SetMainWindow(nullptr);
  st.ibmp.reset();
  st.dbmp.reset();
  st.rbmp.reset();
  st.bgimg.reset();
  st.motion.reset();
  StopSound();
}

void THRMainFrm::Close1Click() { close(); }

void THRMainFrm::closeEvent(QCloseEvent* event) {
  // Closing the main window ends the program, whatever other windows are open.
  event->accept();
  platform::ui::Services().Terminate(0);
}

// ---- activation ----

void THRMainFrm::RequestActivation() {
  if (activation_pending_) return;
  activation_pending_ = true;
  // The queued call may outlive the window (a program closed before its event loop ran it):
  // it holds the window weakly and does nothing once the window is gone.
  platform::ui::Services().Post([self = QPointer<THRMainFrm>(this)] {
    if (!self) return;
    self->activation_pending_ = false;
    self->Guarded([w = self.data()] { w->FormActivate(); });
  });
}

void THRMainFrm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (first_show_) {
    // The first activation runs once the window is on the screen, as a queued call, so that
    // the dialogs it opens have their owner shown.
    first_show_ = false;
    RequestActivation();
  }
}

void THRMainFrm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || first_show_) return;
  if (!isActiveWindow()) {
    // Losing the focus to one of our own modal dialogs is part of the command that opened it;
    // coming back from it is no new activation.
    left_for_modal_ = QApplication::activeModalWidget() != nullptr;
    return;
  }
  if (left_for_modal_) {
    left_for_modal_ = false;
    return;
  }
  RequestActivation();
}

void THRMainFrm::FormActivate() {
  if (in_activate_) return;
  in_activate_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{in_activate_};

  if (st.FirstActivate) {
    LoadLanguage("English");
    SetLanguage();
    Connect1Click();
    OpenArchive();
    SharpPanel->setVisible(false);
    BRBar->setVisible(false);
    BRBarLabel->setVisible(false);
    BRShape->setVisible(false);
    UpdateStatImgs();
    st.ImgCaptured = false;
    const std::string logo = ResolveInFolder(st.HomeDir, "PRLOGO.bmp");
    if (FileExists(logo) && links_.FrmSettings) {
      try {
        *links_.FrmSettings->LogoBmp = platform::LoadBmp(logo);
        links_.FrmSettings->PrivateLogo->SetPicture(*links_.FrmSettings->LogoBmp);
      } catch (const std::exception& e) {
        // The settings window keeps its default logo.
        platform::ui::Services().MessageBox(ErrorText(e), "QUIRVEL", platform::ui::MsgButtons::Ok,
                                            platform::ui::MsgKind::Warning);
      }
    }
    // A damaged reference picture is reported without skipping what follows.
    Guarded([this] { OpenStructureREfbtnClick(); });
  }

  const ini::IniFile ini = Ini();
  SetPageVisible(Camera, ini.ServiceSwitch(ini::SHOWCAMERA));
  SetPageVisible(CALIBRATION, false);
  Calibrate1->setVisible(ini.ServiceSwitch(ini::CALON));
  SetPageVisible(StructValuesPage, false);
  SetPageVisible(StructParPage, ini.ServiceSwitch(ini::SHOWSTRUCTPAR));

  // A stored tab index beyond the tabs of a page leaves its open tab as it is.
  // Opening the stored tab is no change by the operator: nothing is written back.
  auto open_tab = [](QTabWidget* tabs, int index) {
    const QSignalBlocker quiet(tabs);
    if (index >= 0 && index < tabs->count()) tabs->setCurrentIndex(index);
  };
  open_tab(MaskPageControl, ini.ReadInt(ini::MASKPAGE));
  open_tab(PlatePageControl, ini.ReadInt(ini::PLATEPAGE));
  open_tab(StructurePageControl, ini.ReadInt(ini::STRUCTPAGE));
  open_tab(FilmParameterPages, ini.ReadInt(ini::FILMPAGE));

  SetDisplayBarPosition();
  st.OldBr = static_cast<int16_t>(DisplayBrBar->value());
  st.OldGama = static_cast<int16_t>(DisplayGammaBar->value());
  BRRulerLabel->setText(QString::number(DisplayBrBar->value()));
  GammaRulerLabel->setText(QString::number(DisplayGammaBar->value()));
}

void THRMainFrm::OpenArchive() {
  if (!links_.Archive) return;
  links_.Archive->Disconnect();
  std::string path = Ini().ReadString(ini::DATABASE);
  // An emptied setting would name the DATABASE folder itself: it means the default file.
  if (path.empty()) path = ini::DATABASE.def;
  StatusBar1->SetPanelText(6, Q(ExtractFileName(path)));
  if (ExtractFilePath(path).empty()) path = ResolveInFolder(st.HomeDir, "DATABASE/" + path);
  if (!FileExists(path)) {
    // A database of another machine or folder (a Windows path included) is looked for in the
    // home folder's DATABASE folder.
    path = ResolveInFolder(st.HomeDir, "DATABASE/" + ExtractFileName(path));
    WriteIni(ini::kMain, ini::DATABASE.key, path);
  }
  links_.Archive->SetDatabaseFileName(path);
  // A fresh installation has no archive yet: the operator learns why, and the rest of the
  // start-up still runs.
  try {
    links_.Archive->OpenHRDB();
  } catch (const std::exception& e) {
    platform::ui::Services().MessageBox(ErrorText(e), "QUIRVEL", platform::ui::MsgButtons::Ok,
                                        platform::ui::MsgKind::Error);
  }
}

void THRMainFrm::DoFirstActivate() {
  const ini::IniFile ini = Ini();

  const std::string background = ResolveInFolder(st.HomeDir, "background.zph");
  if (FileExists(background)) {
    try {
      analysis::LoadBmpAsPng(*st.bgimg, background);
      ZeroTRBtn->setText(Q(FileDateText(background)));
    } catch (const std::exception& e) {
      ZeroTRBtn->setText("ZERO!");
      platform::ui::Services().MessageBox(ErrorText(e), "QUIRVEL", platform::ui::MsgButtons::Ok,
                                          platform::ui::MsgKind::Warning);
    }
  } else {
    ZeroTRBtn->setText("ZERO!");
  }

  ITLabel->setText(QString::number(ITBar->value()) + ":" + ITStrings[static_cast<size_t>(ITBar->value())]);
  Gainlabel->setText(QString::number(GainBar->value()));
  st.OldMark = {-1, -1};
  st.StartPos = {-1, -1};

  st.SerialNo = ini.ReadString(ini::SERIAL);
  int32_t brand = ini.ReadInt(ini::BRAND);
  // The brand indexes the logo list of four: any other value is the first brand.
  if (brand < 0 || brand > 3) brand = 0;
  st.Brand = static_cast<int16_t>(brand);

  setWindowTitle(Q(Productnames[static_cast<size_t>(st.Brand)] + " " + Productdesc[static_cast<size_t>(st.Brand)] +
                   " sn" + st.SerialNo + " v" + GetVersionInfos(ProgramFile())));

  QImage logo(VOSKALogo->width(), VOSKALogo->height(), QImage::Format_RGB888);
  logo.fill(Qt::white);
  if (static_cast<size_t>(st.Brand) < LogoImgs.size()) {
    QPainter p(&logo);
    p.drawImage(0, 0, LogoImgs[static_cast<size_t>(st.Brand)]);
  }
  VOSKALogo->SetPicture(logo);

  st.Sprache = ini.ReadString(ini::Language);
  LoadLanguage(st.Sprache);
  SetLanguage();

  analysis::AnalyzeState& a = analysis::Analysis();
  // Decimals outside what the settings offer would make every result text unreadable.
  a.Digits = std::clamp(ini.ReadInt(ini::DIGITS), 1, 3);
  a.Gravurewidth = ini.ReadInt(ini::MULTIBEAM);
  // A unit setting that is not a number, or none of the three systems, is the metric one.
  int32_t units = platform::StrToIntDef(ini.ReadString(ini::UNITS_mm), 0);
  a.SUnits = units >= 0 && units <= 2 ? units : 0;
  a.ShowSharp = ini.ReadInt(ini::SHOWSHARP) == 1;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 2; ++j) {
      a.Imgseq[static_cast<size_t>(i)][static_cast<size_t>(j)] =
          ini.ReadInt(ini::kImgSeq, ini::ImgSeqKey(i, j), ini::ImgSeqDefault(j));
    }
  }
  a.WaitImg = ini.ReadInt(ini::WAITIMG);
  analysis::CheckImgSeq();

  ApplyUnits();

  if (ini.ReadInt(ini::TCPIP) == 1 && links_.FrmSettings) {
    TFrmSettings* s = links_.FrmSettings;
    s->show();
    s->Settingspages->setCurrentWidget(s->TANDORIX);
    s->TCPIPActivate->setChecked(true);
    s->TCPIPActivateClick();
    s->hide();
    s->Settingspages->setCurrentIndex(0);
  }

  EnableBRGamaSharp();
  st.GScreen = 0;
  st.GFScreen = 0;
  st.FirstActivate = false;
}

void THRMainFrm::ApplyUnits() {
  analysis::AnalyzeState& a = analysis::Analysis();
  QString ruling, length, pattern;
  switch (a.SUnits) {
    case 1:
      a.DUnits = 1.0;
      a.LUnits = 1.0;
      ruling = "L/Inch";
      length = "mil";
      pattern = "1432";
      break;
    case 2:
      a.DUnits = 25.4;
      a.LUnits = 1.0;
      ruling = "L/Inch";
      length = QString::fromUtf8("µm");
      pattern = "1432";
      break;
    default:
      a.DUnits = 25.4;
      a.LUnits = 2.54;
      ruling = "L/cm";
      length = QString::fromUtf8("µm");
      pattern = "564";
      break;
  }
  for (QLabel* l : {LCMlabelMask, LCMLabelFilm, LCMLabelPlate, StructLCMLabel}) l->setText(ruling);
  for (QLabel* l : {DDPlateUnit, DDFilmUnit, StdPlateUnit, LWMicronsLabel, FilmLWMicronsLabel, FLineWidthUnit}) {
    l->setText(length);
  }
  for (QLabel* l : {PixelPatternLabel, PixelPatternPlateLabel}) l->setText(ruling);
  for (QLineEdit* e : {WSILcm, WSILcmPlate}) e->setText(pattern);
}

void THRMainFrm::SetDisplayBarPosition() {
  ini::Page page;
  if (!ActiveAnalysisPage(page)) return;
  // All three settings are read before any control changes: a redraw writes all three keys
  // of the page, and must not overwrite a stored setting that was not read yet.
  const ini::IniFile ini = Ini();
  const int br = ini.ReadInt(ini::kMain, ini::BrdKey(page), 0);
  const int gamma = ini.ReadInt(ini::kMain, ini::GammaKey(page), 0);
  const int sharp = ini.ReadInt(ini::kMain, ini::SharpKey(page), 0);
  {
    // The controls' change handlers would redraw once per control; one redraw follows.
    const QSignalBlocker quiet_br(DisplayBrBar), quiet_gamma(DisplayGammaBar), quiet_sharp(SharpSpinEdit);
    DisplayBrBar->setValue(br);
    DisplayGammaBar->setValue(gamma);
    SharpSpinEdit->setValue(sharp);
  }
  const bool changed = DisplayBrBar->value() != st.OldBr || DisplayGammaBar->value() != st.OldGama ||
                       SharpSpinEdit->value() != st.OldSharp;
  st.OldBr = static_cast<int16_t>(DisplayBrBar->value());
  st.OldGama = static_cast<int16_t>(DisplayGammaBar->value());
  st.OldSharp = static_cast<int16_t>(SharpSpinEdit->value());
  if (changed) UpdateImage();
}

void THRMainFrm::EnableBRGamaSharp() {
  const bool locked = Ini().ReadInt(ini::ENABLEBRGAMASHARP) == ini::kServiceCode;
  Panel9->setEnabled(!locked);
  Panel10->setEnabled(!locked);
  SharpSpinEdit->setEnabled(!locked);
  if (links_.FrmSettings) links_.FrmSettings->EnableBRGamaSharpbx->setChecked(locked);
}

void THRMainFrm::UpdateStatImgs() {
  const HRMainModule& m = HRMain();
  TImage* pictures[3] = {StatMaskImg, StatPlateImg, StatStructImg};
  for (TImage* p : pictures) {
    QImage img(64, 64, QImage::Format_RGB888);
    img.fill(Qt::white);
    p->SetPicture(img);
  }
  if (m.StatCount <= 0) return;
  const int t = m.StatMess[0].aType;
  int owner = -1;
  if (t >= 1 && t <= 4) {
    owner = 0;
  } else if (t >= 5 && t <= 9) {
    owner = 1;
  } else if (t >= 10 && t <= 12) {
    owner = 2;
  }
  if (owner < 0) return;
  for (int i = 0; i < 3; ++i) {
    const size_t icon = static_cast<size_t>(i == owner ? t : 15);
    if (icon >= MessIcons.size()) continue;
    QPainter painter(&pictures[i]->Picture());
    painter.drawImage(0, 0, MessIcons[icon]);
    painter.end();
    pictures[i]->update();
  }
}

void THRMainFrm::OpenStructureREfbtnClick() {
  const std::string path = ResolveInFolder(st.HomeDir, "QUIRVELStructureReference.bmp");
  if (!FileExists(path)) return;
  StructRefImg->SetPicture(platform::LoadBmp(path));
}

void THRMainFrm::MaskPageControlChange() {
  WriteIni(ini::kMain, ini::MASKPAGE.key, std::to_string(MaskPageControl->currentIndex()));
}

void THRMainFrm::About1Click() {
  if (links_.AboutFrm) platform::ui::Services().ShowModal(*links_.AboutFrm);
}

// ---- device profiles ----

void THRMainFrm::Connect1Click() {
  std::vector<std::string> names;
  FindAllFiles(names, st.HomeDir, "*_QUIRVEL.INI", false, false, false, false, true);
  // The template of new profiles matches the pattern too, but it belongs to no camera:
  // choosing it would make the template the active ini and let every later setting change
  // it.
  std::erase_if(names, [](const std::string& n) { return SameFileName(n, "DEFAULT_QUIRVEL"); });
  if (!names.empty() && links_.FrmConnect) {
    TFrmConnect* chooser = links_.FrmConnect;
    chooser->SetNames(names);
    const platform::ui::ModalResult result = platform::ui::Services().ShowModal(*chooser);
    const std::string selected = chooser->SelectedName();
    if (result == platform::ui::ModalResult::Ok && !selected.empty()) {
      // The listed name lost its ".INI" in whatever case it was written.
      st.cf_inifile = ResolveInFolder(st.HomeDir, selected + ".INI");
      std::error_code ec;
      std::filesystem::copy_file(st.cf_inifile, ResolveInFolder(st.HomeDir, "HUIRVEL.INI"),
                                 std::filesystem::copy_options::overwrite_existing, ec);
      analysis::LoadCal(st.cf_inifile, capture::GGain);
    }
  }
  DoFirstActivate();
}

void THRMainFrm::CreateINIClick() {
  auto& ui = platform::ui::Services();
  auto fail = [&](const std::string& text) {
    ui.MessageBox(text, "QUIRVEL", platform::ui::MsgButtons::Ok, platform::ui::MsgKind::Error);
  };
  std::string s = S(SerialEdit->text());
  // The serial number becomes part of a file name: it must stay a name inside CALReports.
  if (s.find_first_of("/\\") != std::string::npos || s == "." || s == ".." ||
      std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    fail("The serial number " + s + " cannot be part of a file name.");
    return;
  }
  const std::string folder = ResolveInFolder(st.HomeDir, "CALReports");
  std::error_code ec;
  if (!DirectoryExists(folder)) {
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      fail("The folder " + folder + " cannot be created: " + ec.message());
      return;
    }
  }
  while (s.size() < 5) s.insert(s.begin(), '0');
  st.SerialNo = s;
  const std::string target = folder + "/" + s + "_QUIRVEL.INI";
  const std::string templ = ResolveInFolder(st.HomeDir, "DEFAULT_QUIRVEL.INI");
  if (FileExists(templ)) {
    std::filesystem::copy_file(templ, target, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      fail("The profile " + target + " cannot be written: " + ec.message());
      return;
    }
  }
  platform::FormatSettings point;
  std::string ppi = platform::FloatToStrF(analysis::Analysis().PixelperInch, platform::TFloatFormat::ffExponent, 15,
                                          4, point);
  if (ppi.size() < 23) ppi.insert(0, 23 - ppi.size(), ' ');

  const ini::IniFile profile(target);
  std::string error;
  bool ok = profile.Write(ini::kMain, ini::BRAND.key, std::to_string(BrandIndex()), &error) &&
            profile.Write(ini::kMain, ini::SERIAL.key, s, &error) &&
            profile.Write(ini::kCal, ini::PIXELPERINCH.key, ppi, &error);
  if (!ok) {
    fail("The profile " + target + " cannot be written: " + error);
    return;
  }
  if (!WriteIni(ini::kCal, ini::PIXELPERINCH.key, ppi)) return;
  if (!WriteIni(ini::kCal, ini::REFLCM.key, S(ScreenEdit->text()))) return;
  WriteIni(ini::kCal, ini::REFDOT.key, S(CalDotAreaEdit->text()));
}

}  // namespace app
