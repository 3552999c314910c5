#include "driver/aggregate_run.h"

#include "common/hresult.h"

namespace velmoravad {
namespace {

// Whether adding `channels` would push the frame past 16 bits of channels.
bool WouldOverflowFrame(const ChannelTallies& tallies, std::uint16_t channels) {
  return tallies.Total() + channels > 0xFFFF;
}

}  // namespace

int RunAggregate(const std::vector<std::wstring>& arguments, const StandardStreams& streams) {
  std::optional<RunSettings> settings = ParseCommandLine(arguments);
  if (!settings) {
    WriteText(streams.error, kUsageLine);
    return kExitRefused;
  }
  AudioSystem& audioSystem = CurrentAudioSystem();
  const HRESULT result = audioSystem.InitializeCom();
  if (Failed(result)) {
    // Nothing was acquired, so there is nothing to release and no CoUninitialize.
    WriteText(streams.error, FormatFailureReport("CoInitializeEx", result));
    return kExitFailure;
  }
  AggregateRun run(std::move(*settings), streams, audioSystem);
  return run.Execute();
}

AggregateRun::AggregateRun(RunSettings settings, const StandardStreams& streams,
                           AudioSystem& audioSystem)
    : settings_(std::move(settings)), streams_(streams), audioSystem_(audioSystem) {}

int AggregateRun::Execute() {
  HRESULT result = EnumerateApplicationEndpoints(endpoints_);
  if (Failed(result)) {
    return EndRun(ReportFailure("VelmoraDSP endpoint enumeration", result));
  }
  if (!settings_.liveInputId.empty() && ContainsEndpointId(endpoints_, settings_.liveInputId)) {
    WriteText(streams_.error, kLiveInputConflictLine);
    return EndRun(kExitRefused);
  }
  result = OpenApplicationEndpoints();
  if (Failed(result)) return EndRun(ReportFailure("Capture endpoint initialization", result));
  if (!settings_.liveInputId.empty()) {
    if (const std::optional<int> status = OpenLiveInput()) return EndRun(*status);
  }
  if (settings_.listOnly) {
    const std::size_t applicationEndpoints =
        endpoints_.size() - (tallies_.liveInputChannels != 0 ? 1 : 0);
    WriteText(streams_.output, FormatChannelLayout(applicationEndpoints, tallies_));
    return EndRun(kExitSuccess);
  }
  // Every endpoint is open; streaming arrives with the aggregation loop.
  return EndRun(kExitSuccess);
}

HRESULT AggregateRun::OpenApplicationEndpoints() {
  for (CaptureEndpoint& endpoint : endpoints_) {
    const HRESULT result = endpoint.OpenCaptureStream(!settings_.listOnly, true);
    if (Failed(result)) return result;
    if (WouldOverflowFrame(tallies_, endpoint.channels)) return kChannelCountOverflow;
    tallies_.applicationChannels += endpoint.channels;
    WriteText(streams_.error, FormatApplicationEndpointLine(endpoint));
  }
  return S_OK;
}

std::optional<int> AggregateRun::OpenLiveInput() {
  CaptureEndpoint& liveInput = pendingLiveInput_.emplace();
  HRESULT result = FindEndpointById(settings_.liveInputId, liveInput);
  if (Failed(result)) return ReportFailure("Live input endpoint lookup", result);
  result = liveInput.OpenCaptureStream(!settings_.listOnly, false);
  if (!Failed(result) && WouldOverflowFrame(tallies_, liveInput.channels)) {
    result = kChannelCountOverflow;
  }
  if (Failed(result)) return ReportFailure("Live input initialization", result);
  tallies_.liveInputChannels = liveInput.channels;
  WriteText(streams_.error, FormatLiveInputLine(liveInput));
  endpoints_.push_back(std::move(liveInput));
  pendingLiveInput_.reset();
  return std::nullopt;
}

int AggregateRun::ReportFailure(const char* label, HRESULT result) {
  WriteText(streams_.error, FormatFailureReport(label, result));
  return kExitFailure;
}

int AggregateRun::EndRun(int status) {
  endpoints_.clear();
  pendingLiveInput_.reset();
  audioSystem_.UninitializeCom();
  return status;
}

}  // namespace velmoravad
