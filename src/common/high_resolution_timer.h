// Waits of whole milliseconds that end within about a millisecond of their due
// time. Windows' default timer wakes Sleep only every 15.6 ms, which would let
// 10 ms blocks leave in bunches. Where the system offers one, this waits on a
// high-resolution waitable timer; otherwise it raises the system timer
// resolution to 1 ms for its own lifetime and sleeps. On Linux the stand-in's
// timer sleeps on CLOCK_MONOTONIC.
//
// Threading and lifetime: used by one thread. The object owns the timer handle,
// or the raised resolution, which its destructor restores exactly once.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace velmoravad {

// The due time that SetWaitableTimer takes for a wait of `milliseconds` from
// now: negative, for a time relative to the call, in 100-ns units. (A positive
// value would name an absolute time, long past, and the wait would end at once.)
constexpr LONGLONG RelativeDueTime(DWORD milliseconds) {
  return -static_cast<LONGLONG>(milliseconds) * 10000;
}

class HighResolutionTimer {
 public:
  HighResolutionTimer();
  HighResolutionTimer(const HighResolutionTimer&) = delete;
  HighResolutionTimer& operator=(const HighResolutionTimer&) = delete;
  ~HighResolutionTimer();

  // Returns once `milliseconds` have passed (never early).
  void Sleep(DWORD milliseconds);

  // Whether waits go through a high-resolution waitable timer.
  bool UsesWaitableTimer() const { return timer_.IsValid(); }

 private:
  UniqueHandle timer_;
  bool raisedResolution_ = false;  // timeBeginPeriod(1) to be undone
};

}  // namespace velmoravad
