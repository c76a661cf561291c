#pragma once
// orvtool: a database file from the command line.
//   orvtool create DB                      a new, empty database file
//   orvtool load DB TABLE SPEC [TSV]       creates TABLE from SPEC (comma-separated name:TYPE
//                                          with the SQL type names, e.g. VARCHAR(40)), appends
//                                          the rows of TSV (stdin without it), prints their count
//   orvtool dump DB TABLE [--index NAME]   the rows as TSV (see orv_tsv.h), in index order
//   orvtool count DB TABLE                 the number of rows
//   orvtool copy DB TABLE NEWTABLE [DESTDB] copies a table with its indexes and rows, within DB
//                                          or into another database file ("MEMORY" is useless
//                                          here: it ends with the command)
//   orvtool compact DB                     rewrites the file without its free space
//   orvtool repair DB                      copies what can be read into a new file; prints
//                                          what could not
//   orvtool exportsql DB TABLE [--structure] [--data] [--names]
//                                          the table as an SQL script (UTF-8) on stdout; without
//                                          options the structure only, --names (with data)
//                                          names the columns in every INSERT
// The database is opened multi-user, so that other processes may use it meanwhile. Errors:
// the engine's message on the error stream and the result 1.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_engine.h"

namespace platform::data {
class TDataSet;
}

namespace orv {
class TORVAdvFieldDefs;
class TORVTable;
}  // namespace orv

namespace orv::tools {

// A wrong command line; the tool prints its usage after the message.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs Body and gives its result; an error goes to Err (a usage error with the program's name
// and Usage) and gives 1.
int RunReportingErrors(const char* Program, const char* Usage, std::ostream& Err, const std::function<int()>& Body);

// The engine for the duration of one command of a tool.
class TRunningEngine {
 public:
  TRunningEngine() { FEngine.Startup(); }
  ~TRunningEngine() { FEngine.Shutdown(); }
  TRunningEngine(const TRunningEngine&) = delete;
  TRunningEngine& operator=(const TRunningEngine&) = delete;

 private:
  TORVEngine FEngine;
};

// What the engine's tools share:
// the columns of a SPEC ("name:TYPE" or "name:TYPE(size)" with the SQL type names, separated
// by commas) added to Defs; a bad item: std::invalid_argument naming it.
void AddColumns(TORVAdvFieldDefs& Defs, const std::string& Spec);
// Opens Table and appends the TSV rows of In; their count. A line that does not fit:
// std::invalid_argument with its line number (the row is not stored).
int64_t LoadRows(TORVTable& Table, std::istream& In);
// The rows of an open dataset in the TSV form (orv_tsv.h), from its first row on.
void DumpRows(platform::data::TDataSet& DataSet, std::ostream& Out);

// Runs one command (Args without the program name) with its own running engine.
int RunOrvTool(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out, std::ostream& Err);

}  // namespace orv::tools
