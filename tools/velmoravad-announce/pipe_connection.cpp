#include "velmoravad-announce/pipe_connection.h"

#include <algorithm>
#include <chrono>

#include "common/output_format.h"
#include "common/tick_schedule.h"

namespace velmoravad {
namespace {

// How often an absent or busy pipe is tried again: an absent one appears when
// the aggregator has finished its start-up, a busy one is free again once the
// other writer has left and the aggregator has made a new instance.
constexpr std::chrono::milliseconds kRetryPeriod{20};

}  // namespace

PipeConnection ConnectToAnnouncementPipe(DWORD waitSeconds, Clock& clock,
                                         const std::atomic<bool>& stop) {
  const MonotonicClock::time_point deadline = clock.Now() + std::chrono::seconds(waitSeconds);
  PipeConnection connection;
  for (;;) {
    if (stop) {
      connection.stopped = true;
      return connection;
    }
    connection.pipe = UniqueHandle(
        CreateFileW(kAnnouncementPipeName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (connection.pipe.IsValid()) return connection;
    const DWORD error = GetLastError();
    if (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND) {
      connection.error = error;
      return connection;
    }
    connection.unavailable =
        error == ERROR_PIPE_BUSY ? PipeUnavailable::kBusy : PipeUnavailable::kAbsent;
    const MonotonicClock::duration remaining = deadline - clock.Now();
    if (remaining <= MonotonicClock::duration::zero()) return connection;
    clock.Wait(MillisecondsToSleep(std::min<MonotonicClock::duration>(remaining, kRetryPeriod)));
  }
}

}  // namespace velmoravad
