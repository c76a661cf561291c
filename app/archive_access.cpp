#include "app/archive_access.h"

#include "archive/hr_db.h"

namespace app {

void HRDBArchive::Disconnect() { frm_.SetConnected(false); }
void HRDBArchive::SetDatabaseFileName(const std::string& path) { frm_.SetDatabaseFileName(path); }
std::string HRDBArchive::DatabaseFileName() const { return frm_.DatabaseFileName(); }
void HRDBArchive::OpenHRDB() { frm_.OpenHRDB(); }

}  // namespace app
