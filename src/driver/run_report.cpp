#include "driver/run_report.h"

#include <algorithm>
#include <charconv>

#include "common/text_encoding.h"
#include "driver/invalid_parameter_scope.h"

namespace velmoravad {
namespace {

std::string NameAndId(const CaptureEndpoint& endpoint) {
  return " name=" + EscapedForStatusLine(endpoint.friendlyName) +
         " id=" + EscapedForStatusLine(endpoint.endpointId) + "\n";
}

bool IsControlCharacter(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

std::string EscapedForStatusLine(std::wstring_view text) {
  // UTF-8 encodes nothing but these characters themselves with bytes below 0x20
  // or 0x7F, so the escape can work on the encoded bytes.
  const std::string utf8 = WideToUtf8(text);
  std::string escaped;
  escaped.reserve(utf8.size());
  for (const char character : utf8) {
    const auto byte = static_cast<unsigned char>(character);
    if (IsControlCharacter(byte)) {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      escaped += "\\x";
      escaped += kDigits[byte >> 4];
      escaped += kDigits[byte & 0xF];
    } else {
      escaped += character;
    }
  }
  return escaped;
}

std::string FormatApplicationEndpointLine(const CaptureEndpoint& endpoint) {
  return "slot=" + std::to_string(endpoint.slot) +
         " channels=" + std::to_string(endpoint.channels) + NameAndId(endpoint);
}

std::string FormatLiveInputLine(const CaptureEndpoint& endpoint) {
  return "live_input channels=" + std::to_string(endpoint.channels) + NameAndId(endpoint);
}

FixedLine& FixedLine::operator<<(std::string_view text) {
  const std::size_t room = sizeof text_ - length_;
  const std::size_t taken = std::min(text.size(), room);
  std::copy_n(text.data(), taken, text_ + length_);
  length_ += taken;
  return *this;
}

FixedLine& FixedLine::operator<<(std::uint64_t number) {
  const std::to_chars_result result = std::to_chars(text_ + length_, text_ + sizeof text_, number);
  if (result.ec == std::errc()) length_ = static_cast<std::size_t>(result.ptr - text_);
  return *this;
}

ChannelLayoutLine::ChannelLayoutLine(std::size_t applicationEndpoints,
                                     const ChannelTallies& tallies) {
  *this << "{\"endpoints\":" << applicationEndpoints << ",\"channels\":" << tallies.Total()
        << ",\"applicationChannels\":" << tallies.applicationChannels
        << ",\"liveInputChannels\":" << tallies.liveInputChannels
        << ",\"announcementChannels\":" << kAnnouncementChannels
        << ",\"sampleRate\":" << kFramesPerSecond << ",\"format\":\"S16LE\"}\n";
}

FlushedLine::FlushedLine(std::uint64_t milliseconds) {
  *this << "aggregate_flushed milliseconds=" << milliseconds << "\n";
}

RunningLine::RunningLine(std::size_t applicationEndpoints, const ChannelTallies& tallies) {
  *this << "aggregate_running endpoints=" << applicationEndpoints
        << " application_channels=" << tallies.applicationChannels
        << " live_input_channels=" << tallies.liveInputChannels
        << " announcement_channels=" << kAnnouncementChannels << " channels=" << tallies.Total()
        << " sample_rate=" << kFramesPerSecond << "\n";
}

void WriteText(std::FILE* stream, std::string_view text) {
  const InvalidParameterScope failInsteadOfEnding;
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace velmoravad
