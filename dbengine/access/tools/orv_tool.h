#pragma once
// orvtool: a database file from the command line.
//   orvtool create DB                      a new, empty database file
//   orvtool load DB TABLE SPEC [TSV]       creates TABLE from SPEC (comma-separated name:TYPE
//                                          with the SQL type names, e.g. VARCHAR(40)), appends
//                                          the rows of TSV (stdin without it), prints their count
//   orvtool dump DB TABLE [--index NAME]   the rows as TSV (see orv_tsv.h), in index order
//   orvtool count DB TABLE                 the number of rows
// The database is opened multi-user, so that other processes may use it meanwhile. Errors:
// the engine's message on the error stream and the result 1.
#include <iosfwd>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_engine.h"

namespace platform::data {
class TDataSet;
}

namespace orv::tools {

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

// The rows of an open dataset in the TSV form (orv_tsv.h), from its first row on.
void DumpRows(platform::data::TDataSet& DataSet, std::ostream& Out);

// Runs one command (Args without the program name) with its own running engine.
int RunOrvTool(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out, std::ostream& Err);

}  // namespace orv::tools
