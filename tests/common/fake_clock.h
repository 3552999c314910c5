// A simulated Clock: time passes only when the code under test waits (or a
// test advances it), so a run of any length takes no real time. Every wait is
// recorded. Actions can be scheduled at points of simulated time (queue a
// packet, make a call fail) and run as time reaches them. Its own bookkeeping
// is not counted as allocations of the code under test.
//
// Threading: used by one thread, the one that waits.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "common/allocation_counter.h"
#include "common/clock.h"

namespace velmoravad::testing {

class FakeClock final : public Clock {
 public:
  using Milliseconds = std::chrono::milliseconds;

  // The tick counter's reading when simulated time starts.
  static constexpr ULONGLONG kFirstTickCount = 7000000;
  // A wait of 0 ms still gives the core away for a moment.
  static constexpr std::chrono::microseconds kZeroWait{50};

  MonotonicClock::time_point Now() override { return kStart + elapsed_; }
  ULONGLONG TickCount64() override {
    return kFirstTickCount + static_cast<ULONGLONG>(ElapsedMilliseconds().count());
  }
  void Wait(DWORD milliseconds) override {
    const NotCounted bookkeeping;
    waits.push_back({elapsed_, milliseconds});
    const MonotonicClock::duration asked =
        milliseconds == 0 ? MonotonicClock::duration(kZeroWait) : Milliseconds(milliseconds);
    Advance(std::max<MonotonicClock::duration>(asked, shortestWait));
  }

  // Moves time on by `duration`, running the actions that fall due.
  void Advance(MonotonicClock::duration duration) {
    elapsed_ += duration;
    RunDueActions();
  }
  // Runs `action` once simulated time has reached `time`.
  void At(MonotonicClock::duration time, std::function<void()> action) {
    const NotCounted bookkeeping;
    actions_.emplace(time, std::move(action));
    RunDueActions();
  }
  MonotonicClock::duration Elapsed() const { return elapsed_; }
  Milliseconds ElapsedMilliseconds() const {
    return std::chrono::duration_cast<Milliseconds>(elapsed_);
  }

  // Script: every wait lasts at least this long (a machine that wakes late).
  Milliseconds shortestWait{0};

  // Record.
  struct WaitRecord {
    MonotonicClock::duration at;  // when it began
    DWORD milliseconds;           // as asked
  };
  std::vector<WaitRecord> waits;

 private:
  static constexpr MonotonicClock::time_point kStart{std::chrono::hours(1000)};

  void RunDueActions() {
    const NotCounted bookkeeping;
    while (!actions_.empty() && actions_.begin()->first <= elapsed_) {
      auto action = std::move(actions_.begin()->second);
      actions_.erase(actions_.begin());
      action();
    }
  }

  MonotonicClock::duration elapsed_{};
  std::multimap<MonotonicClock::duration, std::function<void()>> actions_;
};

}  // namespace velmoravad::testing
