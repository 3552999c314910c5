// One run of velmoravad-endpoints: the command line, COM, the survey, and the
// table (or with --json the JSON document) on standard output.
//
// Threading: runs on the calling thread, which it joins to COM's multithreaded
// apartment and leaves again before returning; nothing outlives the call.
#pragma once

#include <string>
#include <vector>

#include "driver/run_report.h"

namespace velmoravad {

inline constexpr char kEndpointsUsageLine[] =
    "Usage: velmoravad-endpoints [--json] | --help | --version\n";

// Exit statuses.
inline constexpr int kEndpointsRunOpens = 0;  // a run would open every application endpoint
inline constexpr int kEndpointsRunFails = 1;  // it would not (or the survey itself failed)
inline constexpr int kEndpointsRefused = 2;   // the usage line

// `arguments` are those after the program's own name.
int RunEndpoints(const std::vector<std::wstring>& arguments, const StandardStreams& streams);

}  // namespace velmoravad
