#pragma once
// The process clock: wall time, a millisecond tick count and sleep, behind one interface so
// that the engine's long lock waits and the application's timers can run fast in tests.
#include <cstdint>

#include "platform/base/datetime.h"

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TDateTime Now() = 0;             // local date and time
  virtual uint32_t TickCount() = 0;        // milliseconds, wraps like the original's tick count
  virtual void Sleep(uint32_t ms) = 0;
};

// The real clock (local time zone, monotonic ticks, real sleep).
Clock& SystemClock();

// A clock that only moves when told to; Sleep advances it instead of waiting.
class ManualClock : public Clock {
 public:
  explicit ManualClock(TDateTime start = 0, uint32_t ticks = 0) : now_(start), ticks_(ticks) {}
  TDateTime Now() override { return now_; }
  uint32_t TickCount() override { return ticks_; }
  void Sleep(uint32_t ms) override { Advance(ms); }
  void Advance(uint32_t ms) {
    ticks_ += ms;
    now_ += static_cast<double>(ms) / kMSecsPerDay;
  }
  void Set(TDateTime now) { now_ = now; }

 private:
  TDateTime now_;
  uint32_t ticks_;
};

// The clock every layer uses. SetClock(nullptr) returns to the system clock.
Clock& GetClock();
void SetClock(Clock* clock);

// Shorthands for GetClock().TickCount() and GetClock().Sleep().
uint32_t GetTickCount();
void Sleep(uint32_t ms);

// Puts a clock in place for a scope (tests).
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace platform
