#pragma once
// What the main window asks of the archive window and its database component: the file
// name, disconnecting, opening the archive, and showing the window on a tab. The archive window answers in the program;
// tests put a double in its place.
#include <string>

namespace archive {
class THRDBFrm;
}

namespace app {

// The tab of the archive window a command asks for; Keep leaves the one it has.
enum class ArchiveTab { MASK, PLATE, STRUCTURE, Keep };

class ArchiveAccess {
 public:
  virtual ~ArchiveAccess() = default;
  // Connected := False of the database component.
  virtual void Disconnect() = 0;
  virtual void SetDatabaseFileName(const std::string& path) = 0;
  virtual std::string DatabaseFileName() const = 0;
  // Closes and reopens the archive; errors of the engine are thrown to the caller.
  virtual void OpenHRDB() = 0;
  // Shows the archive window (not modal) on the tab.
  virtual void ShowArchiveWindow(ArchiveTab tab) = 0;
};

// The archive window as ArchiveAccess.
class HRDBArchive : public ArchiveAccess {
 public:
  explicit HRDBArchive(archive::THRDBFrm& frm) : frm_(frm) {}
  void Disconnect() override;
  void SetDatabaseFileName(const std::string& path) override;
  std::string DatabaseFileName() const override;
  void OpenHRDB() override;
  void ShowArchiveWindow(ArchiveTab tab) override;

 private:
  archive::THRDBFrm& frm_;
};

}  // namespace app
