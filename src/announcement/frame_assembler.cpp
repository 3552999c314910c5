#include "announcement/frame_assembler.h"

#include <algorithm>

namespace velmoravad {
namespace {

std::int16_t SampleFromLittleEndian(const std::uint8_t* bytes) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

void WriteFrame(const std::uint8_t* frame, std::int16_t* samples) {
  samples[0] = SampleFromLittleEndian(frame);
  samples[1] = SampleFromLittleEndian(frame + kBytesPerSample);
}

}  // namespace

std::size_t FrameAssembler::Assemble(const std::uint8_t* bytes, std::size_t byteCount,
                                     std::int16_t* samples) {
  std::size_t frames = 0;
  std::size_t next = 0;
  if (heldBytes_ > 0) {
    next = std::min(kAnnouncementFrameBytes - heldBytes_, byteCount);
    std::copy_n(bytes, next, held_.begin() + static_cast<std::ptrdiff_t>(heldBytes_));
    heldBytes_ += next;
    if (heldBytes_ < kAnnouncementFrameBytes) return 0;
    WriteFrame(held_.data(), samples);
    ++frames;
    heldBytes_ = 0;
  }
  for (; byteCount - next >= kAnnouncementFrameBytes; next += kAnnouncementFrameBytes) {
    WriteFrame(bytes + next, samples + frames * kAnnouncementChannels);
    ++frames;
  }
  heldBytes_ = byteCount - next;
  std::copy_n(bytes + next, heldBytes_, held_.begin());
  return frames;
}

}  // namespace velmoravad
