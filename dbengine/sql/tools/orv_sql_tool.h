#pragma once
// orvsql: SQL against a database file from the command line.
//   orvsql DB [-e SQL | SCRIPT]...
// Each -e text and each script file runs, in the order given, as one query (a script may hold
// several statements separated by semicolons): opened when it starts with SELECT or "(",
// executed otherwise. Each result set is printed as TSV rows (orvtool's form) followed by an
// empty line. DB "MEMORY" runs against the engine's memory database. The database is opened
// multi-user. Errors: the engine's message on the error stream and the result 1; what ran
// before the error stays done.
#include <iosfwd>
#include <string>
#include <vector>

namespace orv::tools {

// Runs Args (without the program name) with its own running engine.
int RunOrvSql(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace orv::tools
