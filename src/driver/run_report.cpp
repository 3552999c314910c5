#include "driver/run_report.h"

#include "common/text_encoding.h"

namespace velmoravad {
namespace {

std::string NameAndId(const CaptureEndpoint& endpoint) {
  return " name=" + WideToUtf8(endpoint.friendlyName) + " id=" + WideToUtf8(endpoint.endpointId) +
         "\n";
}

}  // namespace

std::string FormatApplicationEndpointLine(const CaptureEndpoint& endpoint) {
  return "slot=" + std::to_string(endpoint.slot) +
         " channels=" + std::to_string(endpoint.channels) + NameAndId(endpoint);
}

std::string FormatLiveInputLine(const CaptureEndpoint& endpoint) {
  return "live_input channels=" + std::to_string(endpoint.channels) + NameAndId(endpoint);
}

std::string FormatChannelLayout(std::size_t applicationEndpoints, const ChannelTallies& tallies) {
  return "{\"endpoints\":" + std::to_string(applicationEndpoints) +
         ",\"channels\":" + std::to_string(tallies.Total()) +
         ",\"applicationChannels\":" + std::to_string(tallies.applicationChannels) +
         ",\"liveInputChannels\":" + std::to_string(tallies.liveInputChannels) +
         ",\"announcementChannels\":" + std::to_string(kAnnouncementChannels) +
         ",\"sampleRate\":" + std::to_string(kFramesPerSecond) + ",\"format\":\"S16LE\"}\n";
}

std::string FormatFlushedLine(std::uint64_t milliseconds) {
  return "aggregate_flushed milliseconds=" + std::to_string(milliseconds) + "\n";
}

std::string FormatRunningLine(std::size_t applicationEndpoints, const ChannelTallies& tallies) {
  return "aggregate_running endpoints=" + std::to_string(applicationEndpoints) +
         " application_channels=" + std::to_string(tallies.applicationChannels) +
         " live_input_channels=" + std::to_string(tallies.liveInputChannels) +
         " announcement_channels=" + std::to_string(kAnnouncementChannels) +
         " channels=" + std::to_string(tallies.Total()) +
         " sample_rate=" + std::to_string(kFramesPerSecond) + "\n";
}

void WriteText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace velmoravad
