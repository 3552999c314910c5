// How late the aggregation loop's waits wake: ticks on the absolute 10 ms
// schedule, each waited for as the loop does (whole milliseconds taken upward
// on the high-resolution timer, then the clock read again), for as many ticks
// as asked (default 1000). Prints the wake-up lateness behind each deadline
// (p50, p99, max) and the average rate; run it under Wine to see Windows waits.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/high_resolution_timer.h"
#include "common/tick_schedule.h"

int main(int argc, char** argv) {
  using namespace velmoravad;
  const long ticks = argc > 1 ? std::max(1L, std::strtol(argv[1], nullptr, 10)) : 1000;
  HighResolutionTimer timer;
  const MonotonicClock::time_point start = MonotonicClock::now();
  TickSchedule schedule(start);
  std::vector<double> lateness;
  MonotonicClock::time_point last = start;
  for (long tick = 0; tick < ticks; ++tick) {
    const MonotonicClock::time_point deadline = schedule.Advance();
    MonotonicClock::time_point now = MonotonicClock::now();
    for (; now < deadline; now = MonotonicClock::now()) {
      timer.Sleep(MillisecondsToSleep(deadline - now));
    }
    lateness.push_back(std::chrono::duration<double, std::milli>(now - deadline).count());
    last = now;
  }
  std::sort(lateness.begin(), lateness.end());
  const auto at = [&](double fraction) {
    return lateness[std::min(lateness.size() - 1,
                             static_cast<std::size_t>(fraction * lateness.size()))];
  };
  const double seconds = std::chrono::duration<double>(last - start).count();
  std::printf("%ld ticks, %s\n", ticks,
              timer.UsesWaitableTimer() ? "high-resolution waitable timer"
                                        : "Sleep with the timer resolution raised");
  std::printf("lateness (ms)  p50 %.3f  p99 %.3f  max %.3f\n", at(0.5), at(0.99), lateness.back());
  std::printf("rate           %.3f ticks/s\n", ticks / seconds);
  return 0;
}
