// Turns the bytes of one writer's connection into whole announcement frames: a
// frame is 4 bytes, the first channel's signed 16-bit little-endian sample and
// then the second's. The pipe hands over whatever bytes are there, so a read may
// end inside a frame; up to 3 bytes of it are held and completed by the next read
// of the same connection. One assembler serves one connection: bytes still held
// when the connection ends are dropped with it, so a writer that leaves in the
// middle of a frame cannot shift the channels of the writers after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/output_format.h"

namespace velmoravad {

class FrameAssembler {
 public:
  // The most frames that Assemble completes for `byteCount` bytes.
  static constexpr std::size_t MaximumFrames(std::size_t byteCount) {
    return (byteCount + kAnnouncementFrameBytes - 1) / kAnnouncementFrameBytes;
  }

  // Writes the samples of the whole frames completed by `byteCount` bytes to
  // `samples` (room for MaximumFrames(byteCount) frames of 2 samples), in stream
  // order, and returns the number of frames.
  std::size_t Assemble(const std::uint8_t* bytes, std::size_t byteCount, std::int16_t* samples);

  // Bytes of an incomplete frame held for the next read: 0 to 3.
  std::size_t HeldBytes() const { return heldBytes_; }

 private:
  std::array<std::uint8_t, kAnnouncementFrameBytes> held_{};
  std::size_t heldBytes_ = 0;
};

}  // namespace velmoravad
