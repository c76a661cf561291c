#include "dbengine/access/orv_main_builtin_databases.h"

#include <string>

#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

// The memory and temporary storage kinds are not part of the storage library yet. Until they
// are, their databases exist under their names (so that sessions can reach them) and refuse
// every table and every new object with an error that names the missing engine.
class TORVMissingEngineDatabaseData : public TORVDatabaseData {
 public:
  TORVMissingEngineDatabaseData(const char* Name, const char* Engine) : FEngine(Engine) { FDatabaseName = Name; }

  TORVTableData* CreateTableData(TORVCursor* Cursor) override {
    throw EORVException(30547, "Cannot open table '%s' in database '%s': the %s is not built",
                        {Cursor ? Cursor->FTableName : std::string(), FDatabaseName, FEngine});
  }
  int32_t GetNewObjectId() override {
    throw EORVException(30547, "Cannot number objects of database '%s': the %s is not built",
                        {FDatabaseName, FEngine});
  }

 private:
  std::string FEngine;
};

}  // namespace

std::unique_ptr<TORVDatabaseData> CreateMemoryDatabaseData() {
  return std::make_unique<TORVMissingEngineDatabaseData>(MemoryDatabaseName,
                                                         "memory engine (TORVMemoryDatabaseData)");
}

std::unique_ptr<TORVDatabaseData> CreateTemporaryDatabaseData() {
  return std::make_unique<TORVMissingEngineDatabaseData>(TemporaryDatabaseName,
                                                         "temporary engine (TORVTemporaryDatabaseData)");
}

}  // namespace orv
