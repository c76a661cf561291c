#include "archive/hr_db.h"

#include <QTabWidget>
#include <QVBoxLayout>

namespace archive {

THRDBFrm::THRDBFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("HRDBFrm");
  setWindowTitle("Database");
  resize(1000, 700);
  auto* layout = new QVBoxLayout(this);
  DBPages = new QTabWidget(this);
  DBPages->setObjectName("DBPages");
  layout->addWidget(DBPages);
  for (auto [page, name] : {std::pair{&MASK, "MASK"}, {&PLATE, "PLATE"}, {&STRUCTURE, "STRUCTURE"}, {&FILM, "FILM"}}) {
    *page = new QWidget;
    (*page)->setObjectName(name);
    DBPages->addTab(*page, name);
  }
}

void THRDBFrm::SetDatabaseFileName(const std::string& path) {
  // A different file closes the database first; the same file changes nothing.
  if (path == database_file_name_) return;
  connected_ = false;
  database_file_name_ = path;
}

void THRDBFrm::OpenHRDB() { connected_ = true; }

}  // namespace archive
