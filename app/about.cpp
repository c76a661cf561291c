#include "app/about.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "app/home_path.h"

extern char** environ;

#ifndef QUIRVEL_FILE_VERSION
#define QUIRVEL_FILE_VERSION "0.0.0.0"
#endif

// The version record of the executable: a marker and the file version as text. It takes the
// place of the version resource a Windows program file carries, and GetVersionInfos reads it
// from the file the same way, so a program can tell the version of any of our executables.
extern "C" __attribute__((used)) const char quirvel_file_version_record[] =
    "\x7FQVFILEVERSION\x7F" QUIRVEL_FILE_VERSION;

namespace app {

const std::array<std::string, 5> Productnames = {"QUIRVEL", "QUIRVEL", "QUIRVEL", "QUIRVEL", "QUIRVEL"};
const std::array<std::string, 5> Productdesc = {"Dudiv Adavuzed", "Dudiv Adavuzed", "Dudiv Adavuzed",
                                                "Dudiv Adavuzed", "Dudiv Adavuzed"};

const char* const kMakerWebAddress = "https://www.quirvel.example";
const char* const kMakerSupportMail = "support@quirvel.example";
const char* const kMakerUpgradePage = "https://www.quirvel.example/upgrade";

namespace {

// Reads up to four dot-separated decimal numbers of at most 65535 after the marker.
bool ParseVersion(const std::string& bytes, size_t pos, std::string& out) {
  unsigned parts[4] = {0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    if (k > 0) {
      if (pos >= bytes.size() || bytes[pos] != '.') return false;
      ++pos;
    }
    size_t digits = 0;
    unsigned long v = 0;
    while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9' && digits < 6) {
      v = v * 10 + static_cast<unsigned>(bytes[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || v > 0xFFFF) return false;
    parts[k] = static_cast<unsigned>(v);
  }
  if (pos >= bytes.size() || bytes[pos] != '\0') return false;
  out = std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
        std::to_string(parts[3]);
  return true;
}

std::mutex g_launch_mutex;
Launcher g_launcher;
pid_t g_sound_pid = 0;
std::vector<pid_t> g_children;

// Children that have ended are collected so that none stays behind as a zombie.
void ReapChildren() {
  for (auto it = g_children.begin(); it != g_children.end();) {
    int status = 0;
    const pid_t r = ::waitpid(*it, &status, WNOHANG);
    if (r == *it || (r < 0 && errno == ECHILD)) {
      if (*it == g_sound_pid) g_sound_pid = 0;
      it = g_children.erase(it);
    } else {
      ++it;
    }
  }
}

pid_t Spawn(const std::vector<std::string>& argv) {
  if (argv.empty()) return 0;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return 0;
  g_children.push_back(pid);
  return pid;
}

bool InPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty()) {
      const std::string candidate = dir + "/" + program;
      if (::access(candidate.c_str(), X_OK) == 0) return true;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string GetVersionInfos(const std::string& filename) {
  std::ifstream in(filename, std::ios::binary);
  if (!in) return "?";
  struct stat st {};
  // A version record sits in the program file itself; huge or special files are not read.
  if (::stat(filename.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (512 << 20)) return "?";
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return "?";
  const std::string marker = std::string("\x7F") + "QVFILE" + "VERSION" + "\x7F";
  for (size_t pos = bytes.find(marker); pos != std::string::npos; pos = bytes.find(marker, pos + 1)) {
    std::string version;
    if (ParseVersion(bytes, pos + marker.size(), version)) return version;
  }
  return "?";
}

std::string BuildVersion() {
  std::string version;
  const std::string record = quirvel_file_version_record;
  if (ParseVersion(record + std::string(1, '\0'), record.find_last_of('\x7F') + 1, version)) return version;
  return "?";
}

void SetLauncher(Launcher launcher) {
  std::lock_guard lock(g_launch_mutex);
  g_launcher = std::move(launcher);
}

ScopedLauncher::ScopedLauncher(Launcher launcher) { SetLauncher(std::move(launcher)); }
ScopedLauncher::~ScopedLauncher() { SetLauncher(nullptr); }

bool ShellOpen(const std::string& target) {
  std::lock_guard lock(g_launch_mutex);
  const std::vector<std::string> argv = {"xdg-open", target};
  if (g_launcher) return g_launcher(argv);
  ReapChildren();
  return Spawn(argv) > 0;
}

std::string FindSoundPlayer() {
  for (const char* player : {"paplay", "pw-play", "aplay"}) {
    if (InPath(player)) return player;
  }
  return {};
}

void PlayMySound(const std::string& SndName) {
  // The name is taken as it comes: a name that ends in ".wav" looks for ".wav.wav".
  const std::string path = ProgramFolder() + "/" + SndName + ".wav";
  if (!FileExists(path)) return;
  std::lock_guard lock(g_launch_mutex);
  if (g_launcher) {
    g_launcher({"<sound>", path});
    return;
  }
  ReapChildren();
  const std::string player = FindSoundPlayer();
  if (player.empty()) return;
  // One sound at a time: the next one replaces a sound still playing.
  if (g_sound_pid > 0) {
    ::kill(g_sound_pid, SIGTERM);
    ::waitpid(g_sound_pid, nullptr, 0);
    std::erase(g_children, g_sound_pid);
    g_sound_pid = 0;
  }
  std::vector<std::string> argv = {player};
  if (player == "aplay") argv.push_back("-q");
  argv.push_back(path);
  g_sound_pid = Spawn(argv);
}

void StopSound() {
  std::lock_guard lock(g_launch_mutex);
  if (g_sound_pid > 0) {
    ::kill(g_sound_pid, SIGTERM);
    ::waitpid(g_sound_pid, nullptr, 0);
    std::erase(g_children, g_sound_pid);
    g_sound_pid = 0;
  }
  ReapChildren();
}

// ---- About box ----

namespace {

// A label that reacts to clicks like the link labels of the original.
class ClickLabel : public QLabel {
 public:
  ClickLabel(const QString& text, std::function<void()> onClick, QWidget* parent)
      : QLabel(text, parent), on_click_(std::move(onClick)) {
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    setStyleSheet("color: #0000ff;");
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && on_click_) on_click_();
    QLabel::mouseReleaseEvent(e);
  }

 private:
  std::function<void()> on_click_;
};

}  // namespace

TAboutFrm::TAboutFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutFrm");
  setWindowTitle("About QUIRVEL");
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  setFixedSize(624, 602);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 6, 10, 4);
  layout->setSpacing(2);

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setFixedSize(604, 470);
  Image1->setAlignment(Qt::AlignCenter);
  layout->addWidget(Image1, 0, Qt::AlignHCenter);

  auto* row = new QHBoxLayout();
  auto* links = new QVBoxLayout();
  Label2 = new ClickLabel(kMakerWebAddress, [this] { Label2Click(); }, this);
  Label2->setObjectName("Label2");
  Label3 = new ClickLabel(kMakerSupportMail, [this] { Label3Click(); }, this);
  Label3->setObjectName("Label3");
  links->addWidget(Label2);
  links->addWidget(Label3);
  row->addLayout(links);
  row->addStretch(1);
  Button1 = new QPushButton(this);
  Button1->setObjectName("Button1");
  Button1->setText("Search software upgrade");
  Button1->setMinimumSize(190, 44);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  row->addWidget(Button1);
  layout->addLayout(row);

  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setAlignment(Qt::AlignRight);
  Label1->setText(QString::fromStdString(Productnames[0] + " " + Productdesc[0] + " - version " + BuildVersion()));
  layout->addWidget(Label1);

  Image2 = new QLabel(this);
  Image2->setObjectName("Image2");
  Image2->setFixedHeight(58);
  Image2->setAlignment(Qt::AlignCenter);
  layout->addWidget(Image2, 0, Qt::AlignHCenter);
}

void TAboutFrm::LoadPictures() {
  // The artwork ships in the home folder; without it the box stays white.
  QImage art(QString::fromStdString(ResolveInFolder(ProgramFolder(), "about.png")));
  if (!art.isNull()) {
    Image1->setPixmap(QPixmap::fromImage(art.scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  }
  QImage strip(QString::fromStdString(ResolveInFolder(ProgramFolder(), "aboutstrip.png")));
  if (!strip.isNull()) {
    Image2->setPixmap(QPixmap::fromImage(strip.scaledToHeight(58, Qt::SmoothTransformation)));
  }
}

void TAboutFrm::showEvent(QShowEvent* event) {
  LoadPictures();
  QDialog::showEvent(event);
}

void TAboutFrm::Button1Click() { ShellOpen(kMakerUpgradePage); }

void TAboutFrm::Label2Click() { ShellOpen(Label2->text().toStdString()); }

void TAboutFrm::Label3Click() {
  ShellOpen(std::string("mailto:") + kMakerSupportMail +
            "?subject=QUIRVEL%20question&body=insert%20your%20question%20here...");
}

platform::ui::ModalResult TAboutFrm::ExecModal() {
  return exec() == QDialog::Accepted ? platform::ui::ModalResult::Ok : platform::ui::ModalResult::Cancel;
}

}  // namespace app
