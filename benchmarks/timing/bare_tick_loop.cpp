// The floor of a 10 ms output loop, for the peer benchmark: only the waits of
// the absolute schedule, taken as the aggregation loop takes them, and one
// block of zeros of the aggregator's size per tick (CHANNELS channels of 480
// frames, default 18: eight stereo endpoints and the announcement channels)
// written to unbuffered standard output, until a write comes up short because
// the reader has gone. What any program with this output pays at the least.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/clock.h"
#include "common/output_format.h"
#include "common/tick_schedule.h"

int main(int argc, char** argv) {
  using namespace velmoravad;
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);  // a closed reader makes the write short
#endif
  const long channels = argc > 1 ? std::clamp(std::strtol(argv[1], nullptr, 10), 1L, 65535L) : 18;
  _setmode(_fileno(stdout), _O_BINARY);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::vector<std::int16_t> block(static_cast<std::size_t>(channels) * kFramesPerTick);
  PlatformClock clock;
  TickSchedule schedule(clock.Now());
  for (;;) {
    WaitUntil(clock, schedule.Advance());
    if (std::fwrite(block.data(), sizeof(std::int16_t), block.size(), stdout) != block.size()) {
      return 0;
    }
  }
}
