#pragma once
// The about box, the program's version text, the brand tables and the sounds.
#include <QDialog>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/ui_services.h"

class QLabel;
class QPushButton;

namespace app {

// Product name and description per brand (index = ini key BRAND); five entries each.
extern const std::array<std::string, 5> Productnames;
extern const std::array<std::string, 5> Productdesc;

// The maker's addresses shown and opened by the about box.
extern const char* const kMakerWebAddress;
extern const char* const kMakerSupportMail;
extern const char* const kMakerUpgradePage;

// The file version of the named executable as "%d.%d.%d.%d" (four 16-bit numbers), or "?"
// when the file carries no version record or cannot be read. The build writes the record
// into the executable (see about.cpp).
std::string GetVersionInfos(const std::string& filename);
// The version record this program was built with, as GetVersionInfos reads it back.
std::string BuildVersion();

// Starting another program without waiting for it: the desktop's opener for links and
// files, a sound player for sounds. Tests install their own launcher so that nothing starts.
// The launcher gets the argument vector (argv[0] is searched in PATH) and returns whether
// the program could be started.
using Launcher = std::function<bool(const std::vector<std::string>& argv)>;
void SetLauncher(Launcher launcher);  // an empty function restores the real one
class ScopedLauncher {
 public:
  explicit ScopedLauncher(Launcher launcher);
  ~ScopedLauncher();
  ScopedLauncher(const ScopedLauncher&) = delete;
  ScopedLauncher& operator=(const ScopedLauncher&) = delete;
};

// Opens a web address, a mail link or a file with the desktop's opener (xdg-open).
bool ShellOpen(const std::string& target);

// The first of the known sound players found in PATH ("" when the machine has none).
std::string FindSoundPlayer();

// Plays the program folder's <SndName>.wav once without waiting; a sound still playing is
// stopped first. Silent when the file or a player is missing.
void PlayMySound(const std::string& SndName);
// Stops a sound still playing (at shut-down).
void StopSound();

// The about box.
class TAboutFrm : public QDialog, public platform::ui::ModalWindow {
  Q_OBJECT
 public:
  explicit TAboutFrm(QWidget* parent = nullptr);

  void Button1Click();
  void Label2Click();
  void Label3Click();

  platform::ui::ModalResult ExecModal() override;
  std::string ModalName() const override { return "TAboutFrm"; }

  QLabel* Image1 = nullptr;  // product artwork
  QLabel* Image2 = nullptr;  // bottom strip
  QLabel* Label1 = nullptr;  // credit line
  QLabel* Label2 = nullptr;  // web address
  QLabel* Label3 = nullptr;  // support address
  QPushButton* Button1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void LoadPictures();
};

}  // namespace app
