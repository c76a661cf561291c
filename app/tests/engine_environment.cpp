// The database engine runs for the whole test program, as it does for the program (main.cpp
// starts it before the windows): the archive window opens the built home folder's archive.
#include <gtest/gtest.h>

#include "dbengine/access/orv_main_engine.h"

namespace {

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { engine_.Startup(); }
  void TearDown() override { engine_.Shutdown(); }

 private:
  orv::TORVEngine engine_;
};

[[maybe_unused]] ::testing::Environment* const kEngine = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

}  // namespace
