#include "app/settings.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "analysis/myimage.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/ini_settings.h"
#include "app/language.h"
#include "platform/base/cp1252.h"
#include "platform/base/text_file.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/canvas.h"
#include "platform/image/jpeg_codec.h"
#include "platform/net/tcp_server.h"

namespace app {

std::string LowerCaseName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < name.size()) {
      const auto d = static_cast<unsigned char>(name[i + 1]);
      out += static_cast<char>(c);
      out += static_cast<char>(d >= 0x80 && d <= 0x9E && d != 0x97 ? d + 0x20 : d);
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool Like(const std::string& AString, const std::string& APattern) {
  // Characters, not bytes: "?" stands for one letter whatever its encoding length.
  const std::u16string s = platform::Utf8ToUtf16(AString);
  const std::u16string p = platform::Utf8ToUtf16(APattern);
  size_t si = 0, pi = 0;
  size_t star = std::u16string::npos, star_s = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == u'*') {
      star = pi++;
      star_s = si;
    } else if (pi < p.size() && (p[pi] == u'?' || p[pi] == s[si])) {
      ++si;
      ++pi;
    } else if (star != std::u16string::npos) {
      // Only the most recent "*" takes one more character.
      pi = star + 1;
      si = ++star_s;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == u'*') ++pi;
  return pi == p.size();
}

namespace {

void LFindAllFiles(std::vector<std::string>& FileList, std::vector<bool>* IsFolder, const std::string& AParentFolder,
                   const std::string& mask, bool Recurse, bool AddFolderNames, bool IgnoreMaskAtFolderNames,
                   bool AddPathName, bool DelExtension) {
  std::vector<std::pair<std::string, bool>> entries;
  if (DIR* dir = ::opendir(AParentFolder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name == "." || name == ".." || name == "STATISTICS") continue;
      struct stat st {};
      const std::string full = AParentFolder + name;
      if (::stat(full.c_str(), &st) != 0) continue;
      entries.emplace_back(name, S_ISDIR(st.st_mode));
    }
    ::closedir(dir);
  }
  // The file system gives no order of its own; the lists show names in their sorted order.
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    const std::string la = LowerCaseName(a.first), lb = LowerCaseName(b.first);
    return la != lb ? la < lb : a.first < b.first;
  });
  for (const auto& [name, is_dir] : entries) {
    const bool matches = Like(LowerCaseName(name), mask);
    if (is_dir) {
      if (AddFolderNames && (IgnoreMaskAtFolderNames || matches)) {
        FileList.push_back(AddPathName ? AParentFolder + name : name);
        if (IsFolder) IsFolder->push_back(true);
      }
      if (Recurse) {
        LFindAllFiles(FileList, IsFolder, AParentFolder + name + "/", mask, Recurse, AddFolderNames,
                      IgnoreMaskAtFolderNames, AddPathName, DelExtension);
      }
    } else if (matches) {
      std::string entry;
      if (AddPathName) {
        entry = AParentFolder + name;
      } else if (DelExtension) {
        entry = name.size() > 4 ? name.substr(0, name.size() - 4) : std::string();
      } else {
        entry = name;
      }
      FileList.push_back(entry);
      if (IsFolder) IsFolder->push_back(false);
    }
  }
}

}  // namespace

void FindAllFiles(std::vector<std::string>& FileList, const std::string& RootFolder, const std::string& Mask,
                  bool Recurse, bool AddFolderNames, bool IgnoreMaskAtFolderNames, bool AddPathName,
                  bool DelExtension, std::vector<bool>* IsFolder) {
  std::string root = RootFolder;
  if (root.empty() || (root.back() != '/' && root.back() != '\\')) root += '/';
  LFindAllFiles(FileList, IsFolder, root, LowerCaseName(Mask), Recurse, AddFolderNames, IgnoreMaskAtFolderNames,
                AddPathName, DelExtension);
}

// ---- the window ----

namespace {

template <typename T>
T* Named(T* w, const char* name) {
  w->setObjectName(name);
  return w;
}

QLabel* NamedLabel(QWidget* parent, const char* name, const QString& text) {
  return Named(new QLabel(text, parent), name);
}

// The system password of the image-sequence panel (compared exactly).
constexpr const char* kSystemPassword = "KORW5TD";

// The digit texts by unit system, two decimals' worth each (kept as they have always read).
const char* const kDigitTexts[3][2] = {
    {"0.0 µm / 0.0% / 0.0 L/cm", "0.00 µm / 0.00% / 0.00 L/cm"},
    {"0.0 mil / 0.0% / 0.0 LPI", "0.00 mil / 0.00% /0.00 LPI"},
    {"0.0 µm / 0.0% / 0.0 LPI", "0.00 µm / 0.00% / 0.00 LPI"},
};

QTableWidgetItem* FixedCell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled);
  return item;
}

}  // namespace

LogoBox LogoBoxFor(int w, int h) {
  // The box of the report layout is 200 x 78; a picture keeps its proportions inside it.
  if (w > h * 200.0 / 78.0) return {w, static_cast<int>(std::nearbyint(w * 78.0 / 200.0)), 0};
  const int width = static_cast<int>(std::nearbyint(h * 200.0 / 78.0));
  return {width, h, width - w - 1};
}

std::string ReportTextPath() { return ResolveInFolder(ProgramFolder(), "PRLOGO.txt"); }

TFrmSettings::TFrmSettings(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmSettings");
  setWindowTitle("Settings");
  resize(600, 500);
  LogoBmp = std::make_unique<platform::Bitmap>(200, 78);
  LogoBmp->Fill(255);
  OpenPictureDialog1.filter =
      "All (*.png;*.jpg;*.bmp)|*.png;*.jpg;*.bmp;|Portable Network Graphics (*.png)|*.png|JPEG Image File "
      "(*.jpg)|*.jpg|Bitmaps (*.bmp)|*.bmp";
  CreateControls();
  CreateServer();
  ConnectHandlers();
  SetLanguage();
}

TFrmSettings::~TFrmSettings() {
  StopBackUpTimer();
  // The server's handlers use this window and the main window: every connection ends first.
  try {
    DisconnectAllClients();
  } catch (...) {
    // Stop refuses only when called from a connection's own work, which a destructor is not.
  }
}

void TFrmSettings::CreateControls() {
  auto* layout = new QVBoxLayout(this);
  Settingspages = Named(new QTabWidget(this), "Settingspages");
  layout->addWidget(Settingspages);

  // Language
  LanguageTab = Named(new QWidget, "LanguageTab");
  {
    auto* l = new QVBoxLayout(LanguageTab);
    LangFiles = Named(new QListWidget(LanguageTab), "LangFiles");
    // The installed languages in three columns.
    LangFiles->setViewMode(QListView::ListMode);
    LangFiles->setFlow(QListView::TopToBottom);
    LangFiles->setWrapping(true);
    LangFiles->setGridSize(QSize(170, 20));
    l->addWidget(LangFiles);
  }
  Settingspages->addTab(LanguageTab, "Language");

  // Additional
  Additionaltab = Named(new QWidget, "Additionaltab");
  {
    auto* l = new QGridLayout(Additionaltab);
    Screenrulinggrp = Named(new TRadioGroup("Units",
                                            {QString::fromUtf8("mm / µm"), "Inch / mil", QString::fromUtf8("Inch / µm")},
                                            Additionaltab),
                            "Screenrulinggrp");
    l->addWidget(Screenrulinggrp, 0, 0);
    Digitsgrp = Named(new TRadioGroup("Digits", {QString::fromUtf8(kDigitTexts[0][0]), QString::fromUtf8(kDigitTexts[0][1])},
                                      Additionaltab),
                      "Digitsgrp");
    l->addWidget(Digitsgrp, 0, 1);
    GravureWidthLabel = NamedLabel(Additionaltab, "GravureWidthLabel", QString::fromUtf8("Gravure width (µm):"));
    l->addWidget(GravureWidthLabel, 1, 0);
    GravurewidthEdit = Named(new QLineEdit("240", Additionaltab), "GravurewidthEdit");
    l->addWidget(GravurewidthEdit, 1, 1);
    Sharpbx = Named(new QCheckBox("Calculate Sharpness Index when clicking Preview", Additionaltab), "Sharpbx");
    l->addWidget(Sharpbx, 2, 0, 1, 2);
    ShowImgSeqbtn = NamedLabel(Additionaltab, "ShowImgSeqbtn", "...");
    ShowImgSeqbtn->installEventFilter(this);
    l->addWidget(ShowImgSeqbtn, 3, 0);
    ImgPanel = Named(new QFrame(Additionaltab), "ImgPanel");
    static_cast<QFrame*>(ImgPanel)->setFrameShape(QFrame::StyledPanel);
    auto* pl = new QGridLayout(ImgPanel);
    ImgSeqGrid = Named(new QTableWidget(5, 3, ImgPanel), "ImgSeqGrid");
    ImgSeqGrid->horizontalHeader()->hide();
    ImgSeqGrid->verticalHeader()->hide();
    for (int r = 0; r < 5; ++r) {
      for (int c = 0; c < 3; ++c) {
        // Row 0 and column 0 hold the headings; the shutter steps are edited.
        ImgSeqGrid->setItem(r, c, r == 0 || c == 0 ? FixedCell("") : new QTableWidgetItem(""));
      }
    }
    ImgSeqGrid->setFixedHeight(5 * ImgSeqGrid->verticalHeader()->defaultSectionSize() + 4);
    pl->addWidget(ImgSeqGrid, 0, 0, 1, 2);
    WaitLabel = NamedLabel(ImgPanel, "WaitLabel", "Wait frames:");
    pl->addWidget(WaitLabel, 1, 0);
    ImgWait = Named(new QSpinBox(ImgPanel), "ImgWait");
    ImgWait->setRange(1, 5);
    ImgWait->setValue(2);
    pl->addWidget(ImgWait, 1, 1);
    ShowStructPage = Named(new QCheckBox("Show Structure Parameter Page", ImgPanel), "ShowStructPage");
    pl->addWidget(ShowStructPage, 2, 0, 1, 2);
    EnableBRGamaSharpbx =
        Named(new QCheckBox("Disable Brightness Gamma and Sharpness settings", ImgPanel), "EnableBRGamaSharpbx");
    pl->addWidget(EnableBRGamaSharpbx, 3, 0, 1, 2);
    ImgPanel->setVisible(false);
    l->addWidget(ImgPanel, 4, 0, 1, 2);
    l->setRowStretch(5, 1);
  }
  Settingspages->addTab(Additionaltab, "Additional");

  // Reports
  Reports = Named(new QWidget, "Reports");
  {
    auto* l = new QGridLayout(Reports);
    LoadLogoLabel = NamedLabel(Reports, "LoadLogoLabel", "Report logo");
    l->addWidget(LoadLogoLabel, 0, 0);
    PrivateLogo = Named(new TImage(Reports), "PrivateLogo");
    PrivateLogo->setFixedSize(200, 78);
    PrivateLogo->SetStretch(true);
    PrivateLogo->SetPicture(*LogoBmp);
    l->addWidget(PrivateLogo, 1, 0);
    l->addWidget(new QLabel("200x78 pixel", Reports), 1, 1);
    OpenLogobtn = Named(new QPushButton("Logo...", Reports), "OpenLogobtn");
    l->addWidget(OpenLogobtn, 1, 2);
    EnterTextLabel = NamedLabel(Reports, "EnterTextLabel", "Report text");
    l->addWidget(EnterTextLabel, 2, 0);
    Memo1 = Named(new QPlainTextEdit(Reports), "Memo1");
    l->addWidget(Memo1, 3, 0, 1, 3);
  }
  Settingspages->addTab(Reports, "Reports");

  // TCP result server
  TANDORIX = Named(new QWidget, "TANDORIX");
  {
    auto* l = new QGridLayout(TANDORIX);
    TCPIPActivate = Named(new QCheckBox("TCPIP Server active", TANDORIX), "TCPIPActivate");
    l->addWidget(TCPIPActivate, 0, 0);
    TCPIPTest = Named(new QPushButton("TCP-IP Test", TANDORIX), "TCPIPTest");
    l->addWidget(TCPIPTest, 0, 1);
    IPAddressLabel = NamedLabel(TANDORIX, "IPAddressLabel", "");
    l->addWidget(IPAddressLabel, 0, 2);
    TCPIPMemo = Named(new QPlainTextEdit(TANDORIX), "TCPIPMemo");
    TCPIPMemo->setReadOnly(true);
    // The log runs as long as the program does: the oldest lines go.
    TCPIPMemo->setMaximumBlockCount(10000);
    l->addWidget(TCPIPMemo, 1, 0, 1, 3);
    ConnectionsGrid = Named(new QTableWidget(11, 4, TANDORIX), "ConnectionsGrid");
    ConnectionsGrid->horizontalHeader()->hide();
    ConnectionsGrid->verticalHeader()->hide();
    ConnectionsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ConnectionsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    ConnectionsGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int r = 0; r < 11; ++r) {
      for (int c = 0; c < 4; ++c) ConnectionsGrid->setItem(r, c, new QTableWidgetItem(""));
    }
    ConnectionsGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    l->addWidget(ConnectionsGrid, 2, 0, 1, 3);
  }
  Settingspages->addTab(TANDORIX, "TANDORIX");

  // Scheduled export
  ExportData = Named(new QWidget, "ExportData");
  {
    auto* l = new QGridLayout(ExportData);
    int r = 0;
    auto readOnly = [&](const char* name) {
      auto* e = Named(new QLineEdit(ExportData), name);
      e->setReadOnly(true);
      return e;
    };
    DatabaseLabel = NamedLabel(ExportData, "DatabaseLabel", "Database");
    l->addWidget(DatabaseLabel, r, 0);
    DatabaseEdit = readOnly("DatabaseEdit");
    l->addWidget(DatabaseEdit, r++, 1, 1, 2);
    DestPathLabel = NamedLabel(ExportData, "DestPathLabel", "Folder");
    l->addWidget(DestPathLabel, r, 0);
    DestPathEdit = readOnly("DestPathEdit");
    l->addWidget(DestPathEdit, r, 1);
    OpenDestPath = Named(new QPushButton("...", ExportData), "OpenDestPath");
    l->addWidget(OpenDestPath, r++, 2);
    Backuptimelabel = NamedLabel(ExportData, "Backuptimelabel", "Time");
    l->addWidget(Backuptimelabel, r, 0);
    BackUpTimeList = Named(new QComboBox(ExportData), "BackUpTimeList");
    // Only the index is stored; the texts are labels, kept as they have always read.
    static const char* const kTimes[] = {
        "Never", "12:00 AM", "00:30 AM", "01:00 AM", "01.30 AM", "02:00 AM", "02:30 AM", "03:00 AM",
        "03:30 AM", "04:00 AM", "04:30 AM", "05:00 AM", "05:30 AM", "06:00 AM", "06:30 AM", "07:00 AM",
        "07:30 AM", "08:00 AM", "08:30 AM", "09:00 AM", "09:30 AM", "10:00 AM", "10:30 AM", "11:00 AM",
        "11:30 AM", "12:00 PM", "00:30 PM", "01:00 PM", "01:30 PM", "02:00 PM", "02:30 PM", "03:00 PM",
        "03:30 PM", "04:00 PM", "04:30 PM", "05:00 PM", "05:30 PM", "06:00 PM", "06:30 PM ", "07:00 PM",
        "07:30 PM", "08:00 PM", "08:30 PM", "09:00 PM", "09:30 PM", "10:00 PM", "10:30 PM", "11:00 PM",
        "11:30 PM",
    };
    for (const char* t : kTimes) BackUpTimeList->addItem(t);
    l->addWidget(BackUpTimeList, r++, 1);
    LastBackupLabel = NamedLabel(ExportData, "LastBackupLabel", "Last export");
    l->addWidget(LastBackupLabel, r++, 0);
    MaskEdit = readOnly("MaskEdit");
    PlateEdit = readOnly("PlateEdit");
    StructureEdit = readOnly("StructureEdit");
    FilmEdit = readOnly("FilmEdit");
    for (QLineEdit* e : {MaskEdit, PlateEdit, StructureEdit, FilmEdit}) l->addWidget(e, r++, 1);
    NextUpdateLabel = NamedLabel(ExportData, "NextUpdateLabel", "Next export");
    l->addWidget(NextUpdateLabel, r, 0);
    NextBAckUp = NamedLabel(ExportData, "NextBAckUp", "");
    l->addWidget(NextBAckUp, r++, 1);
    Suspendbx = Named(new QCheckBox("Suspend", ExportData), "Suspendbx");
    l->addWidget(Suspendbx, r, 0);
    Applybtn = Named(new QPushButton("Apply", ExportData), "Applybtn");
    l->addWidget(Applybtn, r++, 1);
    RestartLabel = NamedLabel(ExportData, "RestartLabel", "Restart point");
    l->addWidget(RestartLabel, r, 0);
    ResetDate = Named(new QDateEdit(ExportData), "ResetDate");
    ResetDate->setCalendarPopup(true);
    l->addWidget(ResetDate, r, 1);
    TimePicker = Named(new QTimeEdit(ExportData), "TimePicker");
    l->addWidget(TimePicker, r, 2);
    Resetbtn = Named(new QPushButton("Reset", ExportData), "Resetbtn");
    l->addWidget(Resetbtn, r++, 3);
    ImmediateBackupbtn = Named(new QPushButton("Export now", ExportData), "ImmediateBackupbtn");
    l->addWidget(ImmediateBackupbtn, r++, 1);
    l->setRowStretch(r, 1);
  }
  Settingspages->addTab(ExportData, "Export");

  OKbtn = Named(new QPushButton("OK", this), "OKbtn");
  layout->addWidget(OKbtn, 0, Qt::AlignRight);
}

void TFrmSettings::ConnectHandlers() {
  auto on = [this](auto* sender, auto signal, void (TFrmSettings::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  on(LangFiles, &QListWidget::currentRowChanged, &TFrmSettings::LangFilesClick);
  on(Screenrulinggrp, &TRadioGroup::clicked, &TFrmSettings::ScreenrulinggrpClick);
  on(ShowStructPage, &QCheckBox::clicked, &TFrmSettings::ShowStructPageClick);
  on(EnableBRGamaSharpbx, &QCheckBox::clicked, &TFrmSettings::EnableBRGamaSharpbxClick);
  on(OpenLogobtn, &QPushButton::clicked, &TFrmSettings::OpenLogobtnClick);
  on(OKbtn, &QPushButton::clicked, &TFrmSettings::OKbtnClick);
  // Clicked, not toggled: the main window ticks the box at start-up and runs the handler itself.
  on(TCPIPActivate, &QCheckBox::clicked, &TFrmSettings::TCPIPActivateClick);
  on(TCPIPTest, &QPushButton::clicked, &TFrmSettings::TCPIPTestClick);
  on(Applybtn, &QPushButton::clicked, &TFrmSettings::ApplybtnClick);
  on(Resetbtn, &QPushButton::clicked, &TFrmSettings::ResetbtnClick);
  on(ImmediateBackupbtn, &QPushButton::clicked, &TFrmSettings::ImmediateBackupbtnClick);
  on(OpenDestPath, &QPushButton::clicked, &TFrmSettings::OpenDestPathClick);
}

void TFrmSettings::Guarded(const std::function<void()>& handler) {
  if (main_) {
    main_->Guarded(handler);
    return;
  }
  try {
    handler();
  } catch (const EHalt& halt) {
    platform::ui::Services().Terminate(halt.code);
  } catch (const std::exception& e) {
    platform::ui::Services().MessageBox(e.what(), "QUIRVEL", platform::ui::MsgButtons::Ok,
                                        platform::ui::MsgKind::Error);
  }
}

void TFrmSettings::SetMainWindow(THRMainFrm* main) {
  if (main == main_) return;
  // The handlers of the result server answer from the main window: none may run without it.
  if (!main) DisconnectAllClients();
  main_ = main;
}

platform::ui::ModalResult TFrmSettings::ExecModal() {
  const int r = exec();
  return r == static_cast<int>(platform::ui::ModalResult::Ok) ? platform::ui::ModalResult::Ok
                                                               : platform::ui::ModalResult::Cancel;
}

void TFrmSettings::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Activation runs once the window is up, and not for a window hidden again at once (the
  // start-up ticks the server box on a briefly shown window).
  if (activation_queued_) return;
  activation_queued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        activation_queued_ = false;
        if (isVisible()) Guarded([this] { FormActivate(); });
      },
      Qt::QueuedConnection);
}

bool TFrmSettings::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ShowImgSeqbtn && event->type() == QEvent::MouseButtonDblClick) {
    Guarded([this] { ShowImgSeqbtnDblClick(); });
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// ---- handlers ----

void TFrmSettings::FormActivate() {
  if (!report_text_loaded_) {
    // The text of the last session, so that OK does not replace it with an empty one.
    report_text_loaded_ = true;
    LoadReportText();
  }
  std::vector<std::string> names;
  FindAllFiles(names, ResolveInFolder(ProgramFolder(), "Language"), "*.TXT", false, false, false, false, true);
  {
    const QSignalBlocker quiet(LangFiles);
    LangFiles->clear();
    for (const std::string& n : names) LangFiles->addItem(Q(n));
    // List boxes find an item without regard to case.
    const std::string current = main_ ? UpperCaseName(main_->st.Sprache) : std::string();
    for (int i = 0; i < LangFiles->count(); ++i) {
      if (main_ && UpperCaseName(S(LangFiles->item(i)->text())) == current) {
        LangFiles->setCurrentRow(i);
        break;
      }
    }
  }
  LangFilesClick();
  SetLanguage();
}

void TFrmSettings::LoadReportText() {
  const std::string path = ReportTextPath();
  if (!FileExists(path)) return;
  QStringList lines;
  for (const std::string& line : platform::ReadTextFileLines(path)) lines << Q(line);
  Memo1->setPlainText(lines.join('\n'));
}

void TFrmSettings::LangFilesClick() {
  const int row = LangFiles->currentRow();
  if (row < 0 || !main_) return;
  main_->st.Sprache = S(LangFiles->item(row)->text());
  if (LoadLanguage(main_->st.Sprache)) SetLanguage();
}

void TFrmSettings::SetLanguage() {
  const int s = IndexOf("FRMSETTINGS");
  auto text = [s](int offset) { return Q(GetLanguageString(s + offset)); };
  if (s > 0) {
    setWindowTitle(text(1));
    SetCaption(LanguageTab, text(2));
    SetCaption(Additionaltab, text(3));
    SetCaption(Reports, text(4));
    LoadLogoLabel->setText(text(5));
    EnterTextLabel->setText(text(6));
    SetCaption(ExportData, text(7));
    DestPathLabel->setText(text(8));
    OpenDestPath->setToolTip(text(9));
    Backuptimelabel->setText(text(10));
    LastBackupLabel->setText(text(11));
    Applybtn->setToolTip(text(12));
    Applybtn->setText(text(13));
    NextUpdateLabel->setText(text(14));
    DatabaseLabel->setText(text(15));
    BackUpTimeList->setItemText(0, text(16));
    Suspendbx->setText(text(17));
    RestartLabel->setText(text(18));
    Resetbtn->setText(text(19));
    ImmediateBackupbtn->setText(text(20));
    ImmediateBackupbtn->setToolTip(text(21));
    ImgSeqGrid->item(0, 0)->setText(text(22));
    WaitLabel->setText(text(23));
    GravureWidthLabel->setText(text(24));
    Sharpbx->setText(text(25));
  }
  ImgSeqGrid->setColumnWidth(0, 120);
  const int menu = IndexOf("MAINMENU");
  const int pages[4] = {16, 17, 18, 26};
  for (int i = 0; i < 4; ++i) ImgSeqGrid->item(i + 1, 0)->setText(Q(GetLanguageString(menu + pages[i])));
  const int report = IndexOf("FRMREPORT");
  ImgSeqGrid->item(0, 1)->setText(Q(GetLanguageString(report + 5)));
  ImgSeqGrid->item(0, 2)->setText(Q(GetLanguageString(report + 6)));
}

void TFrmSettings::ScreenrulinggrpClick() {
  const int unit = Screenrulinggrp->ItemIndex();
  if (unit < 0 || unit > 2) return;
  for (int i = 0; i < 2; ++i) Digitsgrp->Item(i)->setText(QString::fromUtf8(kDigitTexts[unit][i]));
}

void TFrmSettings::ShowImgSeqbtnDblClick() {
  if (!ImgPanel->isHidden()) {
    ImgPanel->setVisible(false);
    return;
  }
  std::string answer;
  if (!platform::ui::Services().InputQuery("QUIRVEL Image Sequence configuration", "Enter System Password", answer,
                                           true))
    return;
  if (answer == kSystemPassword) ImgPanel->setVisible(true);
}

void TFrmSettings::ShowStructPageClick() {
  if (!main_) return;
  main_->WriteIni(ini::kMain, ini::SHOWSTRUCTPAR.key, ShowStructPage->isChecked() ? "47096" : "0");
  SetPageVisible(main_->StructParPage, main_->Ini().ReadInt(ini::SHOWSTRUCTPAR) == ini::kServiceCode);
}

void TFrmSettings::EnableBRGamaSharpbxClick() {
  if (!main_) return;
  main_->WriteIni(ini::kMain, ini::ENABLEBRGAMASHARP.key, EnableBRGamaSharpbx->isChecked() ? "47096" : "0");
  main_->EnableBRGamaSharp();
}

void TFrmSettings::OpenLogobtnClick() {
  const std::optional<std::string> path = platform::ui::Services().OpenFileDialog(OpenPictureDialog1);
  if (!path) return;
  const std::string name = ExtractFileName(*path);
  const size_t dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? std::string() : UpperCaseName(name.substr(dot));
  platform::Bitmap picture;
  if (ext == ".JPG") {
    picture = platform::LoadJpeg(*path);
  } else if (ext == ".BMP") {
    picture = platform::LoadBmp(*path);
  } else if (ext == ".PNG") {
    analysis::LoadBmpAsPng(picture, *path);
  } else {
    return;
  }
  if (picture.Width() <= 0 || picture.Height() <= 0) return;
  const LogoBox box = LogoBoxFor(picture.Width(), picture.Height());
  platform::Bitmap logo(box.width, box.height);
  {
    platform::Canvas canvas(logo);
    canvas.Brush().Color = platform::clWhite;
    canvas.Brush().Style = platform::TCanvasBrushStyle::bsSolid;
    canvas.Pen().Color = platform::clWhite;
    canvas.FillRect({0, 0, box.width, box.height});
    canvas.Draw(box.x, 0, picture);
  }
  // Written first: a logo that cannot be stored changes nothing.
  platform::SaveBmp(logo, ResolveInFolder(ProgramFolder(), "PRLOGO.bmp"));
  *LogoBmp = std::move(logo);
  PrivateLogo->SetPicture(*LogoBmp);
}

void TFrmSettings::OKbtnClick() {
  std::vector<std::string> lines = platform::SplitLines(S(Memo1->toPlainText()));
  platform::WriteTextFileLines(ReportTextPath(), lines);
  done(static_cast<int>(platform::ui::ModalResult::Ok));
}

}  // namespace app
