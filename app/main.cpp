#include "app/program.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/sql/orv_expressions.h"

int main(int argc, char** argv) {
  // The database engine runs for the whole program: its modules start before the program
  // block and stop after it, in the reverse order. The database window closes its database
  // when it goes; whatever is still open then is closed by the engine's shut-down.
  orv::TORVEngine engine;
  engine.Startup();
  // Filters, Locate and field defaults are parsed by the SQL layer, which sits above the
  // storage core and is therefore handed to it here rather than found by it.
  orv::TORVScopedExpressionEngine expressions;
  const int code = app::RunProgram(argc, argv);
  engine.Shutdown();
  return code;
}
