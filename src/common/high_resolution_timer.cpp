#include "common/high_resolution_timer.h"

#include <timeapi.h>

// Windows 10 1803 and later; older headers do not name it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace velmoravad {
namespace {

constexpr UINT kResolutionMilliseconds = 1;

}  // namespace

HighResolutionTimer::HighResolutionTimer()
    : timer_(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                    TIMER_ALL_ACCESS)) {
  if (!timer_.IsValid()) {
    raisedResolution_ = timeBeginPeriod(kResolutionMilliseconds) == TIMERR_NOERROR;
  }
}

HighResolutionTimer::~HighResolutionTimer() {
  if (raisedResolution_) timeEndPeriod(kResolutionMilliseconds);
}

void HighResolutionTimer::Sleep(DWORD milliseconds) {
  if (timer_.IsValid()) {
    LARGE_INTEGER due{};
    due.QuadPart = RelativeDueTime(milliseconds);
    if (SetWaitableTimer(timer_.Get(), &due, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(timer_.Get(), INFINITE) == WAIT_OBJECT_0) {
      return;
    }
  }
  ::Sleep(milliseconds);
}

}  // namespace velmoravad
