#pragma once
// The database engine's process-wide state and its life: the list of open database data
// objects with the built-in databases "MEMORY" and "TEMP", the list of named sessions with
// the default session "Default", the session lock, and the current session manager.
//
// One TORVEngine object holds all of it. Its owner (the program's main, every test fixture)
// starts it explicitly and shuts it down explicitly: the engine's modules start in a fixed
// order and stop in the reverse one, which static initialisation could not promise. While it
// runs it is the process's engine (ORVEngine()); only one runs at a time.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orv {

class TORVDatabaseData;
class TORVDatabaseDataList;
class TORVSession;
class TORVSessionList;

// The identity of an active session component: no data of its own. The engine's current one
// marks the session the engine works for.
class TORVSessionComponentManager {};

class TORVEngine {
 public:
  TORVEngine();
  // Shuts down when still running.
  ~TORVEngine();
  TORVEngine(const TORVEngine&) = delete;
  TORVEngine& operator=(const TORVEngine&) = delete;

  // Starts the engine's modules in their order (ModuleOrder) and makes this the process's
  // engine. This one or another engine already running: 30546.
  void Startup();
  // Stops them in the reverse order: the sessions go first (each closes its databases and
  // frees its temporary ones), then every database data object, then the wide-string
  // holders. Nothing when not running.
  void Shutdown();
  bool Started() const { return FStarted; }

  // The engine's modules, in start-up order.
  static const std::vector<std::string>& ModuleOrder();
  // What the last start-up and shut-down ran, "start <module>" and "stop <module>" in order.
  const std::vector<std::string>& Trace() const { return FTrace; }

  // ---- state of the running engine ----
  TORVDatabaseDataList& DBDataList() const { return *FDBDataList; }
  TORVSessionList& Sessions() const { return *FSessions; }
  TORVSession* DefaultSession() const { return FSession; }
  TORVDatabaseData* MemDBData() const { return FMemDBData; }
  TORVDatabaseData* TempDBData() const { return FTempDBData; }
  // The session lock: opening, creating and naming databases and activating sessions.
  std::recursive_mutex& SessionLock() { return FCSect; }

  // Set by the default session's activation, cleared by its deactivation.
  bool Initialized() const { return FInitialized; }
  void InitializeORVEngine();
  void FinalizeORVEngine();
  TORVSessionComponentManager* CurrentSessionManager = nullptr;  // borrowed

  // Holders of wide-string values handed out by the datasets; what is left goes at shut-down.
  std::vector<std::unique_ptr<std::u16string>> WideStringsStack;
  // When set, database components would not reconnect after loading; never set.
  bool StartDisconnected = false;

 private:
  void StartMain();
  void StopMain();

  bool FStarted = false;
  std::vector<std::string> FTrace;
  std::recursive_mutex FCSect;
  std::unique_ptr<TORVDatabaseDataList> FDBDataList;
  std::unique_ptr<TORVSessionList> FSessions;
  TORVSession* FSession = nullptr;  // freed with the session list
  TORVDatabaseData* FMemDBData = nullptr;   // owned by the database list
  TORVDatabaseData* FTempDBData = nullptr;  // owned by the database list
  bool FInitialized = false;
  std::unique_ptr<TORVSessionComponentManager> FEngineSessionManager;
};

// The running engine; none: 30540 "Database engine is not started".
TORVEngine& ORVEngine();
bool ORVEngineRunning();

// The engine functions the components call.
TORVSession* ORVDefaultSession();
// Not initialised (no component has activated the default session yet): 20007.
TORVSessionComponentManager* ORVGetCurrentSession();
void ORVSetCurrentSession(TORVSessionComponentManager* Value);
void ORVStartSession(std::unique_ptr<TORVSessionComponentManager>& Value);
void ORVCloseSession(std::unique_ptr<TORVSessionComponentManager>& Value);

}  // namespace orv
