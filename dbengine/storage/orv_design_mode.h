#pragma once
// Set while the database components are used inside a form designer: tables may then be
// defined without fields, database files are open only during each access, failed unlocks
// count as done, and header writes check for changes made by other programs. One flag for the
// whole engine; QUIRVEL itself never sets it.
namespace orv {

bool IsDesignMode();
void SetDesignMode(bool Value);

}  // namespace orv
