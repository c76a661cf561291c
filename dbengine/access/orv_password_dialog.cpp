#include "dbengine/access/orv_password_dialog.h"

#include "dbengine/access/orv_main_database.h"
#include "dbengine/storage/orv_except.h"
#include "platform/ui/ui_services.h"

namespace orv {

bool PasswordDialog(TORVComponent* DataBase, const std::string& Name) {
  auto* database = dynamic_cast<TORVDatabase*>(DataBase);
  if (!database) throw EORVException(30550, "The password dialog needs a database component");
  std::string typed;
  if (!platform::ui::Services().PasswordDialog(Name, typed)) return false;
  database->SetPassword(typed);
  return true;
}

}  // namespace orv
