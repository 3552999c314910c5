#include "driver/aggregate_run.h"

#include "common/hresult.h"
#include "driver/aggregation_loop.h"
#include "driver/pro_audio_thread.h"

namespace velmoravad {
namespace {

// Whether adding `channels` would push the frame past 16 bits of channels.
bool WouldOverflowFrame(const ChannelTallies& tallies, std::uint16_t channels) {
  return tallies.Total() + channels > 0xFFFF;
}

}  // namespace

int RunAggregate(const std::vector<std::wstring>& arguments, const StandardStreams& streams,
                 const StreamingServices& services) {
  std::optional<RunSettings> settings = ParseCommandLine(arguments);
  if (!settings) {
    WriteText(streams.error, kUsageLine);
    return kExitRefused;
  }
  AudioSystem& audioSystem = CurrentAudioSystem();
  const HRESULT result = audioSystem.InitializeCom();
  if (Failed(result)) {
    // Nothing was acquired, so there is nothing to release and no CoUninitialize.
    WriteText(streams.error, FailureReport("CoInitializeEx", result).Text());
    return kExitFailure;
  }
  AggregateRun run(std::move(*settings), streams, audioSystem, services);
  return run.Execute();
}

AggregateRun::AggregateRun(RunSettings settings, const StandardStreams& streams,
                           AudioSystem& audioSystem, const StreamingServices& services)
    : com_(audioSystem),
      settings_(std::move(settings)),
      streams_(streams),
      audioSystem_(audioSystem),
      services_(services) {}

int AggregateRun::Execute() {
  HRESULT result = EnumerateApplicationEndpoints(endpoints_);
  if (Failed(result)) {
    return EndRun(ReportFailure("VelmoraDSP endpoint enumeration", result));
  }
  if (!settings_.liveInputId.empty() && ContainsEndpointId(endpoints_, settings_.liveInputId)) {
    WriteText(streams_.error, kLiveInputConflictLine);
    return EndRun(kExitRefused);
  }
  result = CatchOutOfMemory([this] { return OpenApplicationEndpoints(); });
  if (Failed(result)) return EndRun(ReportFailure("Capture endpoint initialization", result));
  if (!settings_.liveInputId.empty()) {
    if (const std::optional<int> status = OpenLiveInput()) return EndRun(*status);
  }
  if (settings_.listOnly) {
    WriteText(streams_.output, ChannelLayoutLine(ApplicationEndpointCount(), tallies_).Text());
    return EndRun(kExitSuccess);
  }
  return Stream();
}

int AggregateRun::Stream() {
  if (services_.output.SetBinaryMode() == -1) {
    return EndRun(ReportFailure("stdout binary mode", HresultFromFailedWin32Call(GetLastError())));
  }
  services_.output.SetUnbuffered();
  HRESULT result = StartCaptureStreams(endpoints_);
  if (Failed(result)) return EndRun(ReportFailure("Capture start", result));
  result = FlushStartup(endpoints_, services_.clock);
  if (Failed(result)) return EndRun(ReportFailure("Capture startup flush", result));
  WriteText(streams_.error, FlushedLine(kStartupFlushMilliseconds).Text());
  WriteText(streams_.error, RunningLine(ApplicationEndpointCount(), tallies_).Text());

  // The pipe exists from here on, never before the running line.
  AnnouncementSource* announcements = StartAnnouncementSource(services_.pipes);
  result = CatchOutOfMemory([&] {
    AggregationLoop loop(endpoints_, announcements, tallies_.Total(), services_.clock,
                         services_.output);
    const ProAudioThread proAudio(audioSystem_);
    return loop.Run();
  });
  if (Failed(result)) return EndRun(ReportFailure("Capture read", result));
  WriteText(streams_.error, kStoppedLine);
  return EndRun(kExitSuccess);
}

std::size_t AggregateRun::ApplicationEndpointCount() const {
  return endpoints_.size() - (tallies_.liveInputChannels != 0 ? 1 : 0);
}

HRESULT AggregateRun::OpenApplicationEndpoints() {
  for (CaptureEndpoint& endpoint : endpoints_) {
    const HRESULT result = endpoint.OpenCaptureStream(!settings_.listOnly, true);
    if (Failed(result)) return result;
    if (WouldOverflowFrame(tallies_, endpoint.channels)) return kChannelCountOverflow;
    const std::string line = FormatApplicationEndpointLine(endpoint);
    tallies_.applicationChannels += endpoint.channels;
    WriteText(streams_.error, line);
  }
  return S_OK;
}

std::optional<int> AggregateRun::OpenLiveInput() {
  CaptureEndpoint& liveInput = pendingLiveInput_.emplace();
  HRESULT result = FindEndpointById(settings_.liveInputId, liveInput);
  // The id given may name an application endpoint in another spelling (letter
  // case on Windows); the device's own id tells, before anything is opened.
  std::wstring deviceId;
  if (!Failed(result)) result = GetDeviceId(liveInput, deviceId);
  if (Failed(result)) return ReportFailure("Live input endpoint lookup", result);
  if (ContainsEndpointId(endpoints_, deviceId)) {
    WriteText(streams_.error, kLiveInputConflictLine);
    return kExitRefused;
  }
  result = CatchOutOfMemory([&] { return OpenAndAppendLiveInput(liveInput); });
  if (Failed(result)) return ReportFailure("Live input initialization", result);
  pendingLiveInput_.reset();
  return std::nullopt;
}

HRESULT AggregateRun::OpenAndAppendLiveInput(CaptureEndpoint& liveInput) {
  const HRESULT result = liveInput.OpenCaptureStream(!settings_.listOnly, false);
  if (Failed(result)) return result;
  if (WouldOverflowFrame(tallies_, liveInput.channels)) return kChannelCountOverflow;
  endpoints_.reserve(endpoints_.size() + 1);  // so that the move below cannot fail
  const std::string line = FormatLiveInputLine(liveInput);
  tallies_.liveInputChannels = liveInput.channels;
  WriteText(streams_.error, line);
  endpoints_.push_back(std::move(liveInput));
  return S_OK;
}

int AggregateRun::ReportFailure(const char* label, HRESULT result) {
  WriteText(streams_.error, FailureReport(label, result).Text());
  return kExitFailure;
}

int AggregateRun::EndRun(int status) {
  endpoints_.clear();
  pendingLiveInput_.reset();
  com_.Uninitialize();
  return status;
}

}  // namespace velmoravad
