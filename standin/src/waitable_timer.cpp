// Waitable timers on CLOCK_MONOTONIC. The program waits for one due time at a
// time on its own thread, so a timer is a due time that WaitForSingleObject
// sleeps until (TIMER_ABSTIME, so a wake-up is never early and never drifts).
#include <time.h>

#include <cerrno>
#include <new>

#include "kernel_object.h"

namespace {

constexpr long kNanosecondsPerSecond = 1000000000L;

class WaitableTimer final : public standin::KernelObject {
 public:
  timespec due{};
  bool armed = false;
};

WaitableTimer* TimerFromHandle(HANDLE handle) {
  return dynamic_cast<WaitableTimer*>(standin::ObjectFromHandle(handle));
}

timespec MonotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec Add(timespec time, LONGLONG nanoseconds) {
  time.tv_sec += static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
  time.tv_nsec += static_cast<long>(nanoseconds % kNanosecondsPerSecond);
  if (time.tv_nsec >= kNanosecondsPerSecond) {
    time.tv_nsec -= kNanosecondsPerSecond;
    ++time.tv_sec;
  }
  return time;
}

bool IsBefore(const timespec& left, const timespec& right) {
  return left.tv_sec < right.tv_sec ||
         (left.tv_sec == right.tv_sec && left.tv_nsec < right.tv_nsec);
}

void SleepUntil(const timespec& due) {
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
  }
}

}  // namespace

HANDLE CreateWaitableTimerExW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags, DWORD) {
  if (attributes != nullptr || name != nullptr ||
      (flags & ~CREATE_WAITABLE_TIMER_HIGH_RESOLUTION) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* timer = new (std::nothrow) WaitableTimer;
  if (timer == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return static_cast<standin::KernelObject*>(timer);
}

BOOL SetWaitableTimer(HANDLE handle, const LARGE_INTEGER* dueTime, LONG period,
                      PTIMERAPCROUTINE completionRoutine, LPVOID, BOOL) {
  WaitableTimer* timer = TimerFromHandle(handle);
  if (timer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Only what the program asks for: a one-shot due time relative to now, in
  // 100-ns units as a negative number (0 is due at once).
  if (dueTime == nullptr || dueTime->QuadPart > 0 || period != 0 || completionRoutine != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  timer->due = Add(MonotonicNow(), -dueTime->QuadPart * 100);
  timer->armed = true;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  WaitableTimer* timer = TimerFromHandle(handle);
  if (timer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (!timer->armed && milliseconds == INFINITE) {
    SetLastError(ERROR_INVALID_PARAMETER);  // would never wake: refuse rather than hang
    return WAIT_FAILED;
  }
  if (milliseconds != INFINITE) {
    const timespec limit = Add(MonotonicNow(), LONGLONG{milliseconds} * 1000000);
    if (!timer->armed || IsBefore(limit, timer->due)) {
      SleepUntil(limit);
      return WAIT_TIMEOUT;
    }
  }
  SleepUntil(timer->due);
  timer->armed = false;  // a synchronisation timer resets once a wait is satisfied
  return WAIT_OBJECT_0;
}
