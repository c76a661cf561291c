#include "app/archive_access.h"

#include <QTabWidget>

#include "archive/hr_db.h"

namespace app {

void HRDBArchive::Disconnect() { frm_.SetConnected(false); }
void HRDBArchive::SetDatabaseFileName(const std::string& path) { frm_.SetDatabaseFileName(path); }
std::string HRDBArchive::DatabaseFileName() const { return frm_.DatabaseFileName(); }
void HRDBArchive::OpenHRDB() { frm_.OpenHRDB(); }

void HRDBArchive::ShowArchiveWindow(ArchiveTab tab) {
  switch (tab) {
    case ArchiveTab::MASK: frm_.DBPages->setCurrentWidget(frm_.MASK); break;
    case ArchiveTab::PLATE: frm_.DBPages->setCurrentWidget(frm_.PLATE); break;
    case ArchiveTab::STRUCTURE: frm_.DBPages->setCurrentWidget(frm_.STRUCTURE); break;
    case ArchiveTab::Keep: break;
  }
  frm_.show();
  frm_.raise();
  frm_.activateWindow();
}

}  // namespace app
