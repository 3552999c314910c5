// The waits of a paced loop: whole milliseconds taken upward on a simulated
// clock, and the platform's high-resolution timer waiting as long as asked.
#include "common/clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "common/fake_clock.h"

namespace velmoravad {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

struct WaitCase {
  const char* name;
  microseconds remaining;
  std::vector<DWORD> waits;  // as asked of the clock
};

class WaitUntilTest : public ::testing::TestWithParam<WaitCase> {};

// One wait reaches the deadline: a part of a millisecond left is waited as a
// whole one, never as 0 (which would spin the loop).
TEST_P(WaitUntilTest, WaitsTheTimeLeftInWholeMillisecondsTakenUpward) {
  testing::FakeClock clock;
  const MonotonicClock::time_point deadline = clock.Now() + GetParam().remaining;
  EXPECT_TRUE(WaitUntil(clock, deadline));
  std::vector<DWORD> waits;
  for (const testing::FakeClock::WaitRecord& wait : clock.waits) waits.push_back(wait.milliseconds);
  EXPECT_EQ(waits, GetParam().waits);
  EXPECT_GE(clock.Now(), deadline);
}

INSTANTIATE_TEST_SUITE_P(
    Deadlines, WaitUntilTest,
    ::testing::Values(WaitCase{"whole_tick", milliseconds(10), {10}},
                      WaitCase{"part_of_a_millisecond_more", microseconds(9400), {10}},
                      WaitCase{"part_of_a_millisecond", microseconds(200), {1}},
                      WaitCase{"due_now", microseconds(0), {}},
                      WaitCase{"passed", milliseconds(-3), {}},
                      WaitCase{"more_than_a_day", std::chrono::hours(25), {86400000, 3600000}}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

TEST(WaitUntil, AStopEndsTheWaitWithoutWaiting) {
  testing::FakeClock clock;
  const std::atomic<bool> stop{true};
  EXPECT_FALSE(WaitUntil(clock, clock.Now() + milliseconds(10), &stop));
  EXPECT_TRUE(clock.waits.empty());
}

// SetWaitableTimer takes a due time relative to now as a negative count of
// 100-ns units; a positive one names an absolute time long past.
TEST(HighResolutionTimer, AsksForATimeRelativeToNowIn100NanosecondUnits) {
  EXPECT_EQ(RelativeDueTime(10), -100000);
  EXPECT_EQ(RelativeDueTime(1), -10000);
}

// The platform's waits never end early, and at least one of several ends well
// before a second wait's worth (generous, so that a loaded machine passes).
TEST(PlatformClock, WaitsAsLongAsAskedAndNoLonger) {
  PlatformClock clock;
  std::vector<MonotonicClock::duration> waited;
  for (int wait = 0; wait < 10; ++wait) {
    const MonotonicClock::time_point start = MonotonicClock::now();
    clock.Wait(10);
    waited.push_back(MonotonicClock::now() - start);
  }
  // A timer's expiry may lie a little before the clock's reading of it.
  EXPECT_GE(*std::min_element(waited.begin(), waited.end()), microseconds(9500));
  EXPECT_LT(*std::min_element(waited.begin(), waited.end()), milliseconds(19));
}

}  // namespace
}  // namespace velmoravad
