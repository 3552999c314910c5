#include "velmoravad-announce/pipe_connection.h"

#include <algorithm>
#include <chrono>

#include "common/output_format.h"
#include "common/tick_schedule.h"

namespace velmoravad {
namespace {

// The longest single wait, so that a stop request is seen soon.
constexpr std::chrono::milliseconds kLongestWait{100};
// How often an absent pipe is looked for: WaitNamedPipeW returns at once for a
// pipe that does not exist.
constexpr std::chrono::milliseconds kAbsentPipePoll{20};

}  // namespace

PipeConnection ConnectToAnnouncementPipe(DWORD waitSeconds, const std::atomic<bool>& stop) {
  const MonotonicClock::time_point deadline =
      MonotonicClock::now() + std::chrono::seconds(waitSeconds);
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
    const bool busy = error == ERROR_PIPE_BUSY;
    connection.unavailable = busy ? PipeUnavailable::kBusy : PipeUnavailable::kAbsent;
    const MonotonicClock::duration remaining = deadline - MonotonicClock::now();
    if (remaining <= MonotonicClock::duration::zero()) return connection;
    // A busy pipe is waited for until its instance is free again (or gone); an
    // absent one is looked for again shortly.
    const DWORD slice = MillisecondsToSleep(
        std::min<MonotonicClock::duration>(remaining, busy ? kLongestWait : kAbsentPipePoll));
    if (busy) {
      WaitNamedPipeW(kAnnouncementPipeName, slice);
    } else {
      Sleep(slice);
    }
  }
}

}  // namespace velmoravad
