// The texts a run writes: status lines and failure reports on standard error,
// the channel layout on standard output. Names and ids go out as UTF-8, bare.
#pragma once

#include "capture/capture_endpoint.h"
#include "common/output_format.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace velmoravad {

inline constexpr char kLiveInputConflictLine[] =
    "Live input cannot be a VelmoraDSP application endpoint.\n";
inline constexpr char kStoppedLine[] = "aggregate_stopped reason=stdout_closed\n";

// Channels of one output frame, by source. The total must fit 16 bits.
struct ChannelTallies {
  std::uint16_t applicationChannels = 0;
  std::uint16_t liveInputChannels = 0;
  std::uint32_t Total() const {
    return std::uint32_t{applicationChannels} + liveInputChannels + kAnnouncementChannels;
  }
};

struct StandardStreams {
  std::FILE* output;
  std::FILE* error;
};

// "slot=%d channels=%u name=%ls id=%ls\n"
std::string FormatApplicationEndpointLine(const CaptureEndpoint& endpoint);
// "live_input channels=%u name=%ls id=%ls\n"
std::string FormatLiveInputLine(const CaptureEndpoint& endpoint);
// The one-line JSON description of the channel layout.
std::string FormatChannelLayout(std::size_t applicationEndpoints, const ChannelTallies& tallies);
// "aggregate_flushed milliseconds=%lu\n"
std::string FormatFlushedLine(std::uint64_t milliseconds);
// "aggregate_running endpoints=%zu application_channels=%u live_input_channels=%u
// announcement_channels=%u channels=%u sample_rate=%u\n"
std::string FormatRunningLine(std::size_t applicationEndpoints, const ChannelTallies& tallies);

// Writes all of `text` to `stream` and flushes it.
void WriteText(std::FILE* stream, std::string_view text);

}  // namespace velmoravad
