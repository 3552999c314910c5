#include "velmoravad-announce/write_pacer.h"

namespace velmoravad {

WritePacer::WritePacer(Clock& clock) : clock_(clock), schedule_(clock.Now()) {}

bool WritePacer::WaitForNextChunk(const std::atomic<bool>& stop) {
  // Chunk n is due at the start plus n - kLeadTicks ticks: the first
  // kLeadTicks + 1 go at once, then one a tick.
  if (chunks_++ <= kLeadTicks) return !stop;
  return WaitUntil(clock_, schedule_.Advance(), &stop);
}

}  // namespace velmoravad
