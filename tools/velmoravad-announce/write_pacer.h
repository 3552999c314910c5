// The pace of the announce tool's writes: chunks of one 10 ms tick each, on the
// absolute tick schedule from one reading of the monotonic clock, so a clip of
// any length goes out at exactly 48000 frames per second. The first chunks go
// at once, keeping the aggregator's queue a few ticks ahead, so that a late
// wake-up does not leave it empty; the lead stays far below its one-second cap.
//
// Threading and lifetime: used by one thread, with a clock that outlives it.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/clock.h"
#include "common/tick_schedule.h"

namespace velmoravad {

class WritePacer {
 public:
  // Chunks written ahead of the schedule: 40 ms.
  static constexpr std::int64_t kLeadTicks = 4;

  // The schedule starts at `clock`'s reading now.
  explicit WritePacer(Clock& clock);

  // Waits until the next chunk is due, looking at `stop` at least once a tick.
  // False when `stop` was set before it was due.
  bool WaitForNextChunk(const std::atomic<bool>& stop);

 private:
  Clock& clock_;
  TickSchedule schedule_;
  std::int64_t chunks_ = 0;  // chunks let through so far
};

}  // namespace velmoravad
