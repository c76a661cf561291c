#include "platform/base/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace platform {
namespace {

class RealClock : public Clock {
 public:
  TDateTime Now() override {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    TDateTime date = 0;
    TDateTime time = 0;
    TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
    TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec < 60 ? local.tm_sec : 59, static_cast<int>(ms), time);
    return date + time;
  }
  uint32_t TickCount() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

Clock& GetClock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : SystemClock();
}

void SetClock(Clock* clock) { g_clock.store(clock, std::memory_order_release); }

uint32_t GetTickCount() { return GetClock().TickCount(); }
void Sleep(uint32_t ms) { GetClock().Sleep(ms); }

ScopedClock::ScopedClock(Clock& clock) : previous_(g_clock.load()) { SetClock(&clock); }
ScopedClock::~ScopedClock() { SetClock(previous_); }

}  // namespace platform
