// One run of the program: the command line, COM, discovery, opening every
// endpoint with its status line, then the channel layout (--list) or the stream
// (aggregation_loop.h) until the reader closes standard output.
//
// Everything here runs on the main thread. The run owns the EndpointList and
// every record in it; each exit after COM came up goes through EndRun, which
// releases every record (stopping its stream) before uninitialising COM. The
// announcement source it starts is never destroyed: its thread ends with the
// process.
#pragma once

#include "announcement/pipe_system.h"
#include "capture/audio_system.h"
#include "capture/endpoint_discovery.h"
#include "common/clock.h"
#include "driver/com_scope.h"
#include "driver/command_line.h"
#include "driver/run_report.h"
#include "driver/standard_output.h"

#include <optional>
#include <string>
#include <vector>

namespace velmoravad {

// Exit statuses of the process.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitRefused = 2;

// What a streaming run reaches besides the audio system: the clock of its
// flush and its ticks, standard output for the PCM stream, and the pipe calls
// of its announcement source. The entry hands down the platform's; a test hands
// in simulated time, a recording output and scripted pipes. `pipes` must live
// until the process ends, as the pipe thread does.
struct StreamingServices {
  Clock& clock;
  StandardOutput& output;
  PipeSystem& pipes;
};

// Runs the program with `arguments` (those after its own name) and returns the
// process's exit status. Text goes to `streams`, the rest to `services`.
int RunAggregate(const std::vector<std::wstring>& arguments, const StandardStreams& streams,
                 const StreamingServices& services);

class AggregateRun {
 public:
  // COM is already initialised on this thread by `audioSystem`; the run
  // uninitialises it.
  AggregateRun(RunSettings settings, const StandardStreams& streams, AudioSystem& audioSystem,
               const StreamingServices& services);
  AggregateRun(const AggregateRun&) = delete;
  AggregateRun& operator=(const AggregateRun&) = delete;

  // Discovers and opens the endpoints, then lists or streams. Returns the exit
  // status; COM is uninitialised when it returns.
  int Execute();

 private:
  // These throw std::bad_alloc when memory runs out; their callers report it.
  HRESULT OpenApplicationEndpoints();
  HRESULT OpenAndAppendLiveInput(CaptureEndpoint& liveInput);
  // Refusals and failures have been reported when this returns a status.
  std::optional<int> OpenLiveInput();
  // Streams until the reader goes; returns the exit status through EndRun.
  int Stream();
  std::size_t ApplicationEndpointCount() const;

  // "<label> failed: 0x<code>\n" on standard error; returns 1.
  int ReportFailure(const char* label, HRESULT result);
  // Releases every record, uninitialises COM and returns `status`.
  int EndRun(int status);

  // First, so that it goes last: every record is gone before COM is.
  ComScope com_;
  RunSettings settings_;
  StandardStreams streams_;
  AudioSystem& audioSystem_;
  StreamingServices services_;
  EndpointList endpoints_;
  // The live input between its lookup and its move to the end of endpoints_.
  std::optional<CaptureEndpoint> pendingLiveInput_;
  ChannelTallies tallies_;
};

}  // namespace velmoravad
