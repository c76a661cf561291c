#include "app/settings.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "app/home_path.h"
#include "platform/base/cp1252.h"

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

QLabel* NamedLabel(QWidget* parent, const char* name, const char* text) {
  return Named(new QLabel(text, parent), name);
}

}  // namespace

TFrmSettings::TFrmSettings(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmSettings");
  setWindowTitle("Settings");
  resize(560, 470);
  LogoBmp = std::make_unique<platform::Bitmap>(200, 78);
  LogoBmp->Fill(255);

  auto* layout = new QVBoxLayout(this);
  Settingspages = Named(new QTabWidget(this), "Settingspages");
  layout->addWidget(Settingspages);

  // Language
  LanguageTab = Named(new QWidget, "LanguageTab");
  {
    auto* l = new QVBoxLayout(LanguageTab);
    auto* files = Named(new QListWidget(LanguageTab), "LangFiles");
    files->setViewMode(QListView::ListMode);
    files->setFlow(QListView::TopToBottom);
    files->setWrapping(true);  // the list shows its names in columns
    l->addWidget(files);
  }
  Settingspages->addTab(LanguageTab, "Language");

  // Additional
  Additionaltab = Named(new QWidget, "Additionaltab");
  {
    auto* l = new QGridLayout(Additionaltab);
    auto* units = Named(new QGroupBox("Units", Additionaltab), "Screenrulinggrp");
    auto* ul = new QVBoxLayout(units);
    for (const char* t : {"mm / µm", "Inch / mil", "Inch / µm"}) ul->addWidget(new QRadioButton(QString::fromUtf8(t), units));
    l->addWidget(units, 0, 0);
    auto* digits = Named(new QGroupBox("Digits", Additionaltab), "Digitsgrp");
    auto* dl = new QVBoxLayout(digits);
    dl->addWidget(new QRadioButton(QString::fromUtf8("0.0 µm / 0.0% / 0.0 L/cm"), digits));
    dl->addWidget(new QRadioButton(QString::fromUtf8("0.00 µm / 0.00% / 0.00 L/cm"), digits));
    l->addWidget(digits, 0, 1);
    l->addWidget(NamedLabel(Additionaltab, "GravureWidthLabel", "Gravure width (µm):"), 1, 0);
    l->addWidget(Named(new QLineEdit("240", Additionaltab), "GravurewidthEdit"), 1, 1);
    Sharpbx = Named(new QCheckBox("Calculate Sharpness Index when clicking Preview", Additionaltab), "Sharpbx");
    l->addWidget(Sharpbx, 2, 0, 1, 2);
    l->addWidget(NamedLabel(Additionaltab, "ShowImgSeqbtn", "..."), 3, 0);
    auto* panel = Named(new QFrame(Additionaltab), "ImgPanel");
    panel->setFrameShape(QFrame::StyledPanel);
    auto* pl = new QGridLayout(panel);
    auto* grid = Named(new QTableWidget(5, 3, panel), "ImgSeqGrid");
    pl->addWidget(grid, 0, 0, 1, 2);
    pl->addWidget(NamedLabel(panel, "WaitLabel", "Wait frames:"), 1, 0);
    auto* wait = Named(new QSpinBox(panel), "ImgWait");
    wait->setRange(1, 5);
    wait->setValue(2);
    pl->addWidget(wait, 1, 1);
    ShowStructPage = Named(new QCheckBox("Show Structure Parameter Page", panel), "ShowStructPage");
    pl->addWidget(ShowStructPage, 2, 0, 1, 2);
    EnableBRGamaSharpbx =
        Named(new QCheckBox("Disable Brightness Gamma and Sharpness settings", panel), "EnableBRGamaSharpbx");
    pl->addWidget(EnableBRGamaSharpbx, 3, 0, 1, 2);
    panel->setVisible(false);
    l->addWidget(panel, 4, 0, 1, 2);
    l->setRowStretch(5, 1);
  }
  Settingspages->addTab(Additionaltab, "Additional");

  // Reports
  Reports = Named(new QWidget, "Reports");
  {
    auto* l = new QGridLayout(Reports);
    l->addWidget(NamedLabel(Reports, "LoadLogoLabel", "Report logo"), 0, 0);
    PrivateLogo = Named(new TImage(Reports), "PrivateLogo");
    PrivateLogo->setFixedSize(200, 78);
    PrivateLogo->SetStretch(true);
    PrivateLogo->SetPicture(*LogoBmp);
    l->addWidget(PrivateLogo, 1, 0);
    l->addWidget(new QLabel("200x78 pixel", Reports), 1, 1);
    l->addWidget(Named(new QPushButton("Logo...", Reports), "OpenLogobtn"), 1, 2);
    l->addWidget(NamedLabel(Reports, "EnterTextLabel", "Report text"), 2, 0);
    l->addWidget(Named(new QPlainTextEdit(Reports), "Memo1"), 3, 0, 1, 3);
  }
  Settingspages->addTab(Reports, "Reports");

  // TCP result server
  TANDORIX = Named(new QWidget, "TANDORIX");
  {
    auto* l = new QGridLayout(TANDORIX);
    TCPIPActivate = Named(new QCheckBox("TCPIP Server active", TANDORIX), "TCPIPActivate");
    l->addWidget(TCPIPActivate, 0, 0);
    l->addWidget(Named(new QPushButton("TCP-IP Test", TANDORIX), "TCPIPTest"), 0, 1);
    l->addWidget(NamedLabel(TANDORIX, "IPAddressLabel", ""), 0, 2);
    auto* memo = Named(new QPlainTextEdit(TANDORIX), "TCPIPMemo");
    memo->setReadOnly(true);
    l->addWidget(memo, 1, 0, 1, 3);
    l->addWidget(Named(new QTableWidget(11, 4, TANDORIX), "ConnectionsGrid"), 2, 0, 1, 3);
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
    l->addWidget(NamedLabel(ExportData, "DatabaseLabel", "Database"), r, 0);
    l->addWidget(readOnly("DatabaseEdit"), r++, 1, 1, 2);
    l->addWidget(NamedLabel(ExportData, "DestPathLabel", "Folder"), r, 0);
    l->addWidget(readOnly("DestPathEdit"), r, 1);
    l->addWidget(Named(new QPushButton("...", ExportData), "OpenDestPath"), r++, 2);
    l->addWidget(NamedLabel(ExportData, "Backuptimelabel", "Time"), r, 0);
    auto* times = Named(new QComboBox(ExportData), "BackUpTimeList");
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
    for (const char* t : kTimes) times->addItem(t);
    l->addWidget(times, r++, 1);
    l->addWidget(NamedLabel(ExportData, "LastBackupLabel", "Last export"), r++, 0);
    for (const char* name : {"MaskEdit", "PlateEdit", "StructureEdit", "FilmEdit"}) l->addWidget(readOnly(name), r++, 1);
    l->addWidget(NamedLabel(ExportData, "NextUpdateLabel", "Next export"), r, 0);
    l->addWidget(NamedLabel(ExportData, "NextBAckUp", ""), r++, 1);
    l->addWidget(Named(new QCheckBox("Suspend", ExportData), "Suspendbx"), r, 0);
    l->addWidget(Named(new QPushButton("Apply", ExportData), "Applybtn"), r++, 1);
    l->addWidget(NamedLabel(ExportData, "RestartLabel", "Restart point"), r, 0);
    l->addWidget(Named(new QDateEdit(ExportData), "ResetDate"), r, 1);
    l->addWidget(Named(new QTimeEdit(ExportData), "TimePicker"), r, 2);
    l->addWidget(Named(new QPushButton("Reset", ExportData), "Resetbtn"), r++, 3);
    l->addWidget(Named(new QPushButton("Export now", ExportData), "ImmediateBackupbtn"), r++, 1);
    l->setRowStretch(r, 1);
  }
  Settingspages->addTab(ExportData, "Export");

  auto* ok = Named(new QPushButton("OK", this), "OKbtn");
  connect(ok, &QPushButton::clicked, this, [this] { done(static_cast<int>(platform::ui::ModalResult::Ok)); });
  layout->addWidget(ok, 0, Qt::AlignRight);
}

TFrmSettings::~TFrmSettings() = default;

void TFrmSettings::TCPIPActivateClick() {
  // The result server comes with the settings window's own build; the switch is kept.
}

platform::ui::ModalResult TFrmSettings::ExecModal() {
  const int r = exec();
  return r == static_cast<int>(platform::ui::ModalResult::Ok) ? platform::ui::ModalResult::Ok
                                                               : platform::ui::ModalResult::Cancel;
}

}  // namespace app
