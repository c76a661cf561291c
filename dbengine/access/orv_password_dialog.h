#pragma once
// The password dialog of the database component: asks for the password of a database whose
// file the current one does not open, and writes what was typed into the component.
#include <string>

namespace orv {

class TORVComponent;

// Shows the dialog (through the UI services) with Name above the field. OK: the typed text
// becomes DataBase's password (an empty one included) and the result is true; Cancel leaves
// the password as it was. DataBase must be a database component (otherwise 30550, nothing
// shown).
bool PasswordDialog(TORVComponent* DataBase, const std::string& Name);

}  // namespace orv
