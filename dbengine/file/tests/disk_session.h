#pragma once
// A session of the disk database for the tests, doing what the access components' local
// session will do: its mode is set before it connects, it connects and disconnects on request
// (and when destroyed), and its commit and rollback go to the database data.
#include <memory>
#include <stdexcept>
#include <string>

#include "dbengine/file/orv_disk_engine_database.h"

namespace orv::testing {

class DiskSession : public TORVBaseSession {
 public:
  explicit DiskSession(TORVDiskDatabaseData& Database, bool MultiUser = true, bool Exclusive = false)
      : database_(Database) {
    FMultiUser = MultiUser;
    FExclusive = Exclusive;
  }
  ~DiskSession() override {
    try {
      SetConnected(false);
    } catch (...) {
    }
  }

  bool GetConnected() override { return connected_; }
  void SetConnected(bool Value) override {
    if (Value == connected_) return;
    if (Value)
      database_.ConnectSession(this);
    else
      database_.DisconnectSession(this);
    connected_ = Value;
  }
  bool GetSuppressDBHeaderErrors() override { return database_.GetSuppressDBHeaderErrors(); }
  void SetSuppressDBHeaderErrors(bool Value) override { database_.SetSuppressDBHeaderErrors(Value); }
  void CreateDatabase() override { database_.CreateDatabase(); }
  void DeleteDatabase() override { throw std::logic_error("the test session does not delete databases"); }
  void RenameDatabase(const std::string&) override {
    throw std::logic_error("the test session does not rename databases");
  }
  void GetTablesList(std::vector<std::string>& List) override { database_.GetTablesList(List); }
  bool TableExists(const std::string& TableName) override { return database_.TableExists(TableName); }
  void StartTransaction() override { FInTransaction = true; }
  void Commit(bool DoFlushBuffers) override {
    database_.Commit(FSessionID, DoFlushBuffers);
    FInTransaction = false;
  }
  void Rollback() override {
    database_.Rollback(FSessionID);
    FInTransaction = false;
  }
  void FlushBuffers() override { database_.FlushBuffers(); }

  // Connects; the session's number.
  int32_t Connect() {
    SetConnected(true);
    return FSessionID;
  }
  void Disconnect() { SetConnected(false); }

 private:
  TORVDiskDatabaseData& database_;
  bool connected_ = false;
};

// A database data object of the file at Path, with the defaults of a new database.
inline std::unique_ptr<TORVDiskDatabaseData> DiskDatabase(const std::string& Path) {
  auto db = std::make_unique<TORVDiskDatabaseData>();
  db->FDatabaseName = Path;
  return db;
}

}  // namespace orv::testing
