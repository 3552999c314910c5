#include "velmoravad-announce/write_pacer.h"

namespace velmoravad {

WritePacer::WritePacer() : schedule_(MonotonicClock::now()) {}

bool WritePacer::WaitForNextChunk(const std::atomic<bool>& stop) {
  // Chunk n is due at the start plus n - kLeadTicks ticks: the first
  // kLeadTicks + 1 go at once, then one a tick.
  if (chunks_++ > kLeadTicks) {
    const MonotonicClock::time_point deadline = schedule_.Advance();
    for (MonotonicClock::time_point now = MonotonicClock::now(); now < deadline && !stop;
         now = MonotonicClock::now()) {
      timer_.Sleep(MillisecondsToSleep(deadline - now));
    }
  }
  return !stop;
}

}  // namespace velmoravad
