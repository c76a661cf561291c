// Writes the empty archive template (DATABASE/QUIRVEL.GEN of the home folder) with our own
// engine at build time, so that the template always matches the engine that opens it.
//   quirvel_archive_template <output file>
#include <cstdio>
#include <exception>

#include "archive/hr_db_data.h"
#include "dbengine/access/orv_main_engine.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
    return 2;
  }
  orv::TORVEngine engine;
  int code = 0;
  engine.Startup();
  try {
    archive::CreateArchiveTemplate(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: the archive template %s was not written: %s\n", argv[0], argv[1], e.what());
    std::remove(argv[1]);
    code = 1;
  }
  engine.Shutdown();
  return code;
}
