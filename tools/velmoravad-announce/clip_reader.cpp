#include "velmoravad-announce/clip_reader.h"

#include <algorithm>

#include "common/output_format.h"

namespace velmoravad {

ClipReader::ClipReader(ByteSource& source, std::uint16_t channels,
                       std::optional<std::uint64_t> bytes)
    : source_(source), channels_(channels), bytesLeft_(bytes) {}

bool ClipReader::Read(std::uint8_t* frameBytes, std::size_t frames, std::size_t& got) {
  got = 0;
  const std::size_t inputFrameBytes = channels_ * kBytesPerSample;
  std::size_t wanted = frames * inputFrameBytes;
  if (bytesLeft_) wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, *bytesLeft_));
  if (ended_ || wanted == 0) return true;

  const bool mono = channels_ == 1;
  if (mono) monoBytes_.resize(wanted);
  std::uint8_t* input = mono ? monoBytes_.data() : frameBytes;
  std::size_t read = 0;
  if (!source_.Read(input, wanted, read)) return false;
  if (bytesLeft_) *bytesLeft_ -= read;
  ended_ = read < wanted;
  got = read / inputFrameBytes;
  if (mono) {
    for (std::size_t frame = 0; frame < got; ++frame) {
      std::copy_n(input + frame * kBytesPerSample, kBytesPerSample,
                  frameBytes + frame * kAnnouncementFrameBytes);
      std::copy_n(input + frame * kBytesPerSample, kBytesPerSample,
                  frameBytes + frame * kAnnouncementFrameBytes + kBytesPerSample);
    }
  }
  return true;
}

}  // namespace velmoravad
