// One run of the program: the command line, COM, discovery, opening every
// endpoint with its status line, then the channel layout (--list) or the stream.
//
// Everything here runs on the main thread. The run owns the EndpointList and
// every record in it; each exit after COM came up goes through EndRun, which
// releases every record before uninitialising COM.
#pragma once

#include "capture/audio_system.h"
#include "capture/endpoint_discovery.h"
#include "driver/command_line.h"
#include "driver/run_report.h"

#include <optional>
#include <string>
#include <vector>

namespace velmoravad {

// Exit statuses of the process.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitRefused = 2;

// Runs the program with `arguments` (those after its own name) and returns the
// process's exit status.
int RunAggregate(const std::vector<std::wstring>& arguments, const StandardStreams& streams);

class AggregateRun {
 public:
  // COM is already initialised on this thread by `audioSystem`.
  AggregateRun(RunSettings settings, const StandardStreams& streams, AudioSystem& audioSystem);
  AggregateRun(const AggregateRun&) = delete;
  AggregateRun& operator=(const AggregateRun&) = delete;

  // Discovers and opens the endpoints, then lists or streams. Returns the exit
  // status; COM is uninitialised when it returns.
  int Execute();

 private:
  HRESULT OpenApplicationEndpoints();
  // Refusals and failures have been reported when these return a status.
  std::optional<int> OpenLiveInput();

  // "<label> failed: 0x<code>\n" on standard error; returns 1.
  int ReportFailure(const char* label, HRESULT result);
  // Releases every record, uninitialises COM and returns `status`.
  int EndRun(int status);

  RunSettings settings_;
  StandardStreams streams_;
  AudioSystem& audioSystem_;
  EndpointList endpoints_;
  // The live input between its lookup and its move to the end of endpoints_.
  std::optional<CaptureEndpoint> pendingLiveInput_;
  ChannelTallies tallies_;
};

}  // namespace velmoravad
