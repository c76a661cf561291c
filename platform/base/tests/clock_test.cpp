#include "platform/base/clock.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Clock, ManualClockStandsInForTheProcessClockWithinAScope) {
  ManualClock fake(EncodeDate(2026, 1, 2), 1000);
  {
    ScopedClock scope(fake);
    EXPECT_DOUBLE_EQ(Now(), EncodeDate(2026, 1, 2));
    Sleep(60000);  // returns at once and moves the fake clock
    EXPECT_EQ(GetTickCount(), 61000u);
    EXPECT_DOUBLE_EQ(Date(), EncodeDate(2026, 1, 2));
    EXPECT_NEAR(Now() - EncodeDate(2026, 1, 2), 60000.0 / kMSecsPerDay, 1e-9);
  }
  EXPECT_GT(Now(), EncodeDate(2020, 1, 1));  // the system clock again
}

TEST(Clock, SystemTicksAdvance) {
  const uint32_t a = SystemClock().TickCount();
  SystemClock().Sleep(5);
  EXPECT_GE(SystemClock().TickCount() - a, 4u);
}

}  // namespace
}  // namespace platform
