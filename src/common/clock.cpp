#include "common/clock.h"

namespace velmoravad {

bool WaitUntil(Clock& clock, MonotonicClock::time_point deadline, const std::atomic<bool>* stop) {
  for (MonotonicClock::time_point now = clock.Now(); now < deadline; now = clock.Now()) {
    if (stop != nullptr && *stop) return false;
    clock.Wait(MillisecondsToSleep(deadline - now));
  }
  return stop == nullptr || !*stop;
}

void PlatformClock::Wait(DWORD milliseconds) {
  if (!timer_) timer_.emplace();
  timer_->Sleep(milliseconds);
}

}  // namespace velmoravad
