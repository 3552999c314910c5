// The announce tool's end of the announcement pipe. The pipe may not exist yet
// (the aggregator is still starting) or may be busy (another writer holds its one
// instance): both are waited out, up to a limit.
//
// Threading: called from the main thread; `stop` may be set from another.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>

#include "common/clock.h"
#include "common/unique_handle.h"
#include "velmoravad-announce/announce_report.h"

namespace velmoravad {

struct PipeConnection {
  UniqueHandle pipe;  // open for writing, when connected
  // Why not, when the wait ran out: what the pipe was at the last attempt.
  std::optional<PipeUnavailable> unavailable;
  DWORD error = ERROR_SUCCESS;  // any other failure to open it
  bool stopped = false;         // `stop` was set during the wait
};

// Opens the announcement pipe for writing, trying again every 20 ms of `clock`
// for up to `waitSeconds` while it is absent or busy, and looking at `stop`
// before each try.
PipeConnection ConnectToAnnouncementPipe(DWORD waitSeconds, Clock& clock,
                                         const std::atomic<bool>& stop);

}  // namespace velmoravad
