// One run of the announce tool: checks every input, opens the announcement pipe
// (waiting while it is absent or busy), plays the inputs into it at the output's
// pace, and returns the exit status: 0 when everything was sent, 1 when the pipe
// could not be had or went away (or an input failed mid-clip), 2 for the usage
// line or an input that cannot be played, 130 when stopped.
//
// Threading: runs on the calling thread; `stop` may be set from another.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "common/clock.h"

namespace velmoravad {

struct AnnounceConsole {
  std::FILE* error;               // standard error: error lines, and progress on a console
  bool errorIsConsole;            // whether standard error is a console
  const std::atomic<bool>* stop;  // set when the user asked to stop
};

// `arguments` are those after the program's own name. The waits for the pipe
// and the pace of the writes run on `clock`.
int RunAnnounce(const std::vector<std::wstring>& arguments, const AnnounceConsole& console,
                Clock& clock);

}  // namespace velmoravad
