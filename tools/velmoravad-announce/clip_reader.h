// The audio of one clip as announcement frames: 4 bytes each, the first
// channel's signed 16-bit little-endian sample and then the second's. A stereo
// clip's bytes pass through unchanged; a mono clip's sample goes to both
// channels. Only whole frames come out: bytes of a frame cut short by the end
// of the clip are dropped.
//
// Threading and lifetime: used by one thread; `source` must outlive the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "velmoravad-announce/byte_source.h"

namespace velmoravad {

class ClipReader {
 public:
  // `source` stands at the first byte of the audio; `bytes` is its length, or
  // nothing when the audio runs to the end of the source.
  ClipReader(ByteSource& source, std::uint16_t channels, std::optional<std::uint64_t> bytes);

  // Writes up to `frames` announcement frames to `frameBytes` and sets `got` to
  // their number, 0 once the clip has ended. False when reading failed.
  bool Read(std::uint8_t* frameBytes, std::size_t frames, std::size_t& got);

 private:
  ByteSource& source_;
  const std::uint16_t channels_;
  std::optional<std::uint64_t> bytesLeft_;  // nothing: to the end of the source
  bool ended_ = false;
  std::vector<std::uint8_t> monoBytes_;  // a mono clip's bytes before they are doubled
};

}  // namespace velmoravad
