#pragma once
// orvsql: the SQL layer from the command line.
//   orvsql [--db FILE] [--load TABLE SPEC TSV]... [--index TABLE NAME FIELDS]...
//          [--filter TABLE CONDITION] [-e SQL | SCRIPT]...
// --load creates TABLE from SPEC (as orvtool load: comma-separated name:TYPE) and appends the
// rows of the TSV file; --index adds an index over FIELDS (";"-separated) to TABLE; --filter
// prints the rows of TABLE that CONDITION (the engine's filter expression) selects, as TSV
// (see orv_tsv.h). Then each -e text and each script file runs, in the order given, as one
// query (a script may hold several statements separated by semicolons): opened when it starts
// with SELECT or "(", executed otherwise; each result set is printed as TSV rows followed by an
// empty line. The tables live on MEMORY without --db; a FILE that does not exist is created and
// is opened multi-user. Errors: the engine's message on the error stream and the result 1; what
// ran before the error stays done.
#include <iosfwd>
#include <string>
#include <vector>

namespace orv::tools {

// Runs one invocation (Args without the program name) with its own running engine.
int RunOrvSql(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace orv::tools
