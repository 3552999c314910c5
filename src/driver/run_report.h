// The texts a run writes: status lines and failure reports on standard error,
// the channel layout on standard output. Every status line is one line: names
// and ids go out as UTF-8, bare, except that each C0 control character and DEL
// in them is written as \x and two upper-case hexadecimal digits, so that no
// name can end a line or forge another one.
//
// Lines without names are formatted without allocating; the name lines allocate
// and throw std::bad_alloc when memory runs out, inside the step that prints them.
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

// `text` as UTF-8 with every C0 control character and DEL written as \xHH.
std::string EscapedForStatusLine(std::wstring_view text);

// "slot=%d channels=%u name=%ls id=%ls\n"
std::string FormatApplicationEndpointLine(const CaptureEndpoint& endpoint);
// "live_input channels=%u name=%ls id=%ls\n"
std::string FormatLiveInputLine(const CaptureEndpoint& endpoint);

// A line of at most a few hundred characters, put together in place.
class FixedLine {
 public:
  std::string_view Text() const { return {text_, length_}; }

  FixedLine& operator<<(std::string_view text);
  FixedLine& operator<<(std::uint64_t number);

 private:
  char text_[256] = {};
  std::size_t length_ = 0;
};

// The one-line JSON description of the channel layout.
struct ChannelLayoutLine : FixedLine {
  ChannelLayoutLine(std::size_t applicationEndpoints, const ChannelTallies& tallies);
};
// "aggregate_flushed milliseconds=%lu\n"
struct FlushedLine : FixedLine {
  explicit FlushedLine(std::uint64_t milliseconds);
};
// "aggregate_running endpoints=%zu application_channels=%u live_input_channels=%u
// announcement_channels=%u channels=%u sample_rate=%u\n"
struct RunningLine : FixedLine {
  RunningLine(std::size_t applicationEndpoints, const ChannelTallies& tallies);
};

// Writes all of `text` to `stream` and flushes it.
void WriteText(std::FILE* stream, std::string_view text);

}  // namespace velmoravad
