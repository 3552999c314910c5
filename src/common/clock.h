// The time a paced loop runs on (the aggregator's 10 ms blocks, the announce
// tool's writes): the monotonic clock that its absolute schedule reads, the
// millisecond tick counter, and a wait of whole milliseconds. Each program's
// entry makes the platform's PlatformClock and hands it down; tests hand in a
// simulated clock whose time moves only when the code waits.
//
// Threading: a clock is used by one thread. PlatformClock owns the
// high-resolution timer of its waits, made on the first wait.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>

#include "common/high_resolution_timer.h"
#include "common/tick_schedule.h"

namespace velmoravad {

class Clock {
 public:
  // The monotonic clock of a tick schedule.
  virtual MonotonicClock::time_point Now() = 0;
  // The millisecond tick counter (GetTickCount64).
  virtual ULONGLONG TickCount64() = 0;
  // Returns once `milliseconds` have passed, never early and, where the system
  // allows, within about a millisecond.
  virtual void Wait(DWORD milliseconds) = 0;

 protected:
  ~Clock() = default;
};

// Waits until `clock` reads `deadline` or later, in waits of the time left in
// whole milliseconds taken upward, reading the clock again after each; no wait
// when the deadline has passed. Returns false, at once or after the current
// wait, when `stop` is set.
bool WaitUntil(Clock& clock, MonotonicClock::time_point deadline,
               const std::atomic<bool>* stop = nullptr);

// The platform's: std::chrono::steady_clock, GetTickCount64, and waits on a
// high-resolution timer.
class PlatformClock final : public Clock {
 public:
  MonotonicClock::time_point Now() override { return MonotonicClock::now(); }
  ULONGLONG TickCount64() override { return GetTickCount64(); }
  void Wait(DWORD milliseconds) override;

 private:
  std::optional<HighResolutionTimer> timer_;
};

}  // namespace velmoravad
