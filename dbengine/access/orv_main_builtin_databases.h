#pragma once
// The engine's two built-in databases, "MEMORY" (tables kept in memory) and "TEMP" (tables in
// temporary files), made at engine start-up.
#include <memory>

#include "dbengine/storage/orv_base_engine_database.h"

namespace orv {

std::unique_ptr<TORVDatabaseData> CreateMemoryDatabaseData();
std::unique_ptr<TORVDatabaseData> CreateTemporaryDatabaseData();

}  // namespace orv
