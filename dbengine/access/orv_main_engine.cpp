#include "dbengine/access/orv_main_engine.h"

#include <atomic>
#include <functional>

#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/access/orv_main_builtin_databases.h"
#include "dbengine/access/orv_main_session.h"
#include "dbengine/file/orv_cipher.h"
#include "dbengine/file/orv_cipher_util.h"
#include "dbengine/storage/orv_design_mode.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

std::atomic<TORVEngine*> g_engine{nullptr};

// One module of the engine: what it sets up at start-up and tears down at shut-down. The
// modules of the lower layers keep their state for the life of the process (a freed cipher or
// block may still be released while static objects go); starting them here builds that state
// in the engine's order instead of at some first use.
struct Module {
  const char* Name;
  std::function<void()> Start;
  std::function<void()> Stop;
};

const std::vector<Module>& LowerModules() {
  static const std::vector<Module> modules = {
      // The string formats: the plain copy, HEX, HEXL, MIME64, UU and XX.
      {"ORVCipherUtil", [] { CipherUtilState(); }, {}},
      // The Rijndael cipher, the default hash.
      {"ORVCipher", [] { CipherState(); }, {}},
      {"ORVSecurity", {}, {}},
      {"ORVConst", {}, {}},
      // The engine's memory manager, without a limit.
      {"ORVMemory", [] { MemoryManager(); }, {}},
      {"ORVZlib", {}, {}},
      {"ORVPPM", {}, {}},
      {"ORVCompression", {}, {}},
      // The byte case tables and the character order; the wide-string functions are ICU's.
      {"ORVStrUtils",
       [] {
         ToUpperChars();
         ToLowerChars();
         OrderedChars();
       },
       {}},
      {"ORVLexer", {}, {}},
      {"ORVDiskEngine", {}, {}},
      {"ORVDateFormat", {}, {}},
      {"ORVConverts", {}, {}},
  };
  return modules;
}

constexpr char MainModule[] = "ORVMain";

}  // namespace

// ---- Engine -------------------------------------------------------------------------------

TORVEngine::TORVEngine() = default;

TORVEngine::~TORVEngine() {
  try {
    Shutdown();
  } catch (...) {
    // A destructor never raises.
  }
}

const std::vector<std::string>& TORVEngine::ModuleOrder() {
  static const std::vector<std::string> order = [] {
    std::vector<std::string> names;
    for (const Module& m : LowerModules()) names.emplace_back(m.Name);
    names.emplace_back(MainModule);
    return names;
  }();
  return order;
}

void TORVEngine::Startup() {
  TORVEngine* expected = nullptr;
  if (FStarted || !g_engine.compare_exchange_strong(expected, this))
    throw EORVException(30546, "Database engine is already started");
  FTrace.clear();
  try {
    for (const Module& m : LowerModules()) {
      if (m.Start) m.Start();
      FTrace.push_back(std::string("start ") + m.Name);
    }
    StartMain();
    FTrace.push_back(std::string("start ") + MainModule);
  } catch (...) {
    try {
      StopMain();
    } catch (...) {
    }
    g_engine.store(nullptr);
    throw;
  }
  FStarted = true;
}

void TORVEngine::Shutdown() {
  if (!FStarted) return;
  FStarted = false;
  struct Leave {
    TORVEngine* engine;
    ~Leave() {
      TORVEngine* expected = engine;
      g_engine.compare_exchange_strong(expected, nullptr);
    }
  } leave{this};
  StopMain();
  FTrace.push_back(std::string("stop ") + MainModule);
  const std::vector<Module>& modules = LowerModules();
  for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
    if (it->Stop) it->Stop();
    FTrace.push_back(std::string("stop ") + it->Name);
  }
}

void TORVEngine::StartMain() {
  FDBDataList = std::make_unique<TORVDatabaseDataList>();
  {
    TORVLockGuard<TORVDatabaseDataList> lock(*FDBDataList);
    FMemDBData = FDBDataList->Add(CreateMemoryDatabaseData());
  }
  {
    TORVLockGuard<TORVDatabaseDataList> lock(*FDBDataList);
    FTempDBData = FDBDataList->Add(CreateTemporaryDatabaseData());
  }
  SetDesignMode(false);
  FSessions = std::make_unique<TORVSessionList>(*this);
  // The first session of the list: the default one.
  FSession = new TORVSession(nullptr);
  FSession->SetSessionName("Default");
  WideStringsStack.clear();
}

void TORVEngine::StopMain() {
  // The sessions first: each closes its databases (the files with them) and frees its
  // temporary ones, while the database list they reach is still there.
  if (FSessions) {
    FSessions->CloseAll();
    FSessions.reset();
  }
  FSession = nullptr;
  if (FDBDataList) {
    FDBDataList->Clear();
    FDBDataList.reset();
  }
  FMemDBData = nullptr;
  FTempDBData = nullptr;
  while (!WideStringsStack.empty()) WideStringsStack.erase(WideStringsStack.begin());
  FinalizeORVEngine();
  CurrentSessionManager = nullptr;
}

void TORVEngine::InitializeORVEngine() {
  if (FInitialized) return;
  FInitialized = true;
  FEngineSessionManager = std::make_unique<TORVSessionComponentManager>();
  CurrentSessionManager = FEngineSessionManager.get();
}

void TORVEngine::FinalizeORVEngine() {
  if (!FInitialized) return;
  FInitialized = false;
  if (CurrentSessionManager == FEngineSessionManager.get()) CurrentSessionManager = nullptr;
  FEngineSessionManager.reset();
}

// ---- Engine functions ---------------------------------------------------------------------

TORVEngine& ORVEngine() {
  TORVEngine* engine = g_engine.load();
  if (!engine) throw EORVException(30540, "Database engine is not started");
  return *engine;
}

bool ORVEngineRunning() { return g_engine.load() != nullptr; }

TORVSession* ORVDefaultSession() { return ORVEngine().DefaultSession(); }

TORVSessionComponentManager* ORVGetCurrentSession() {
  TORVEngine& engine = ORVEngine();
  if (!engine.Initialized()) throw EORVException(20007, "Database Engine is not initialized");
  return engine.CurrentSessionManager;
}

void ORVSetCurrentSession(TORVSessionComponentManager* Value) { ORVEngine().CurrentSessionManager = Value; }

void ORVStartSession(std::unique_ptr<TORVSessionComponentManager>& Value) {
  Value = std::make_unique<TORVSessionComponentManager>();
}

void ORVCloseSession(std::unique_ptr<TORVSessionComponentManager>& Value) {
  if (!Value) return;
  TORVEngine& engine = ORVEngine();
  // The engine never keeps a freed manager as its current one.
  if (engine.CurrentSessionManager == Value.get()) engine.CurrentSessionManager = nullptr;
  Value.reset();
}

}  // namespace orv
