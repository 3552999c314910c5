// The absolute schedule of a 10 ms loop (the aggregator's output, the announce
// tool's writes): deadline n lies exactly n ticks of 10 ms after one reading of
// the monotonic clock, however long each tick took, so no tick is skipped and
// the long-run rate is exactly 48000 frames per second. After a stall the
// deadlines already passed come back to back. Arithmetic only: the loop reads
// the clock and sleeps.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>

#include "common/output_format.h"

namespace velmoravad {

using MonotonicClock = std::chrono::steady_clock;

inline constexpr std::chrono::milliseconds kTickPeriod{kTickMilliseconds};

class TickSchedule {
 public:
  explicit TickSchedule(MonotonicClock::time_point start) : start_(start) {}

  // The next deadline: `start` plus one more tick than the last one returned.
  MonotonicClock::time_point Advance() { return start_ + kTickPeriod * ++ticks_; }

 private:
  MonotonicClock::time_point start_;
  std::int64_t ticks_ = 0;  // deadlines handed out so far
};

// The sleep for `remaining` time: whole milliseconds, taken upward, at most one
// day; 0 when nothing remains.
constexpr DWORD MillisecondsToSleep(MonotonicClock::duration remaining) {
  constexpr std::chrono::milliseconds kLongestSleep = std::chrono::hours(24);
  if (remaining <= MonotonicClock::duration::zero()) return 0;
  if (remaining >= kLongestSleep) return static_cast<DWORD>(kLongestSleep.count());
  return static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(remaining).count());
}

}  // namespace velmoravad
