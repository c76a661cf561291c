#include "dbengine/storage/orv_design_mode.h"

#include <atomic>

namespace orv {

namespace {
std::atomic<bool> g_design_mode{false};
}  // namespace

bool IsDesignMode() { return g_design_mode.load(); }
void SetDesignMode(bool Value) { g_design_mode.store(Value); }

}  // namespace orv
