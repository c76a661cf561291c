#include "dbengine/access/orv_main_builtin_databases.h"

#include "dbengine/storage/orv_mem_engine.h"
#include "dbengine/storage/orv_temp_engine.h"

namespace orv {

// Each is named after its database ("MEMORY", "TEMP"), which is how sessions find it.
std::unique_ptr<TORVDatabaseData> CreateMemoryDatabaseData() { return std::make_unique<TORVMemoryDatabaseData>(); }

std::unique_ptr<TORVDatabaseData> CreateTemporaryDatabaseData() {
  return std::make_unique<TORVTemporaryDatabaseData>();
}

}  // namespace orv
