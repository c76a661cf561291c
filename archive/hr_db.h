#pragma once
// The measurement archive window. The window, its tables and its database component are
// built with the archive; until then it holds the page control with the four table tabs and
// remembers the database file the main window gives it.
#include <QWidget>
#include <string>

class QTabWidget;

namespace archive {

class THRDBFrm : public QWidget {
  Q_OBJECT
 public:
  explicit THRDBFrm(QWidget* parent = nullptr);

  // The database component's file name and connection (HRDatabase).
  void SetDatabaseFileName(const std::string& path);
  const std::string& DatabaseFileName() const { return database_file_name_; }
  void SetConnected(bool connected) { connected_ = connected; }
  bool Connected() const { return connected_; }

  // Closes and reopens the archive. Opening the database file comes with the database
  // engine; until then the call only records the request.
  void OpenHRDB();

  QTabWidget* DBPages = nullptr;
  QWidget* MASK = nullptr;
  QWidget* PLATE = nullptr;
  QWidget* STRUCTURE = nullptr;
  QWidget* FILM = nullptr;

 private:
  std::string database_file_name_;
  bool connected_ = false;
};

}  // namespace archive
