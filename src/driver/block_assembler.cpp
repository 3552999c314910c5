#include "driver/block_assembler.h"

#include <algorithm>
#include <cstring>

#include "common/output_format.h"

namespace velmoravad {
namespace {

// Copies `frames` frames of `channels` samples from `source` (packed) into
// `destination`, whose frames are `stride` samples apart. The channel count is
// a compile-time constant for the common counts, so each frame is a few moves.
template <std::size_t kChannels>
void CopyFramesOf(const std::int16_t* source, std::size_t frames, std::int16_t* destination,
                  std::size_t stride) {
  for (std::size_t frame = 0; frame < frames; ++frame) {
    std::memcpy(destination + frame * stride, source + frame * kChannels,
                kChannels * sizeof(std::int16_t));
  }
}

void CopyFrames(const std::int16_t* source, std::size_t frames, std::size_t channels,
                std::int16_t* destination, std::size_t stride) {
  switch (channels) {
    case 1:
      return CopyFramesOf<1>(source, frames, destination, stride);
    case 2:
      return CopyFramesOf<2>(source, frames, destination, stride);
    case 4:
      return CopyFramesOf<4>(source, frames, destination, stride);
    case 6:
      return CopyFramesOf<6>(source, frames, destination, stride);
    case 8:
      return CopyFramesOf<8>(source, frames, destination, stride);
    default:
      for (std::size_t frame = 0; frame < frames; ++frame) {
        std::memcpy(destination + frame * stride, source + frame * channels,
                    channels * sizeof(std::int16_t));
      }
  }
}

// Zeros `channels` samples in each of `frames` frames, `stride` samples apart.
void ZeroFrames(std::size_t frames, std::size_t channels, std::int16_t* destination,
                std::size_t stride) {
  for (std::size_t frame = 0; frame < frames; ++frame) {
    std::fill_n(destination + frame * stride, channels, std::int16_t{0});
  }
}

}  // namespace

void AssembleBlock(EndpointList& endpoints, AnnouncementSource* announcements,
                   std::size_t frameChannels, std::int16_t* block) {
  std::int16_t* channelsOf = block;  // the first channel of the next source, in frame 0
  for (CaptureEndpoint& endpoint : endpoints) {
    const std::size_t channels = endpoint.channels;
    const auto frames = static_cast<std::size_t>(
        std::min<std::uint64_t>(endpoint.AvailableFrames(), kFramesPerTick));
    CopyFrames(endpoint.samples.Data(), frames, channels, channelsOf, frameChannels);
    ZeroFrames(kFramesPerTick - frames, channels, channelsOf + frames * frameChannels,
               frameChannels);
    endpoint.samples.PopFront(frames * channels);
    channelsOf += channels;
  }
  const std::size_t taken =
      announcements != nullptr
          ? announcements->TakeFrames(channelsOf, kFramesPerTick, frameChannels)
          : 0;
  ZeroFrames(kFramesPerTick - taken, kAnnouncementChannels, channelsOf + taken * frameChannels,
             frameChannels);
}

}  // namespace velmoravad
