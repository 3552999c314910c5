// Turns the bytes of one writer's connection into signed 16-bit little-endian
// samples. The pipe hands over whatever bytes are there, so a read may end inside
// a sample; the odd byte is held and joined to the first byte of the next read of
// the same connection. One assembler serves one connection: a byte still held when
// the connection ends is dropped with it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmoravad {

class SampleAssembler {
 public:
  // The most samples that Assemble writes for `byteCount` bytes.
  static constexpr std::size_t MaximumSamples(std::size_t byteCount) { return (byteCount + 1) / 2; }

  // Writes the whole samples completed by `byteCount` bytes to `samples` (room for
  // MaximumSamples(byteCount)), in stream order, and returns their count.
  std::size_t Assemble(const std::uint8_t* bytes, std::size_t byteCount, std::int16_t* samples) {
    std::size_t sampleCount = 0;
    std::size_t next = 0;
    if (hasHeldByte_ && byteCount > 0) {
      samples[sampleCount++] = FromLittleEndian(heldByte_, bytes[0]);
      hasHeldByte_ = false;
      next = 1;
    }
    for (; next + 1 < byteCount; next += 2) {
      samples[sampleCount++] = FromLittleEndian(bytes[next], bytes[next + 1]);
    }
    if (next < byteCount) {
      heldByte_ = bytes[next];
      hasHeldByte_ = true;
    }
    return sampleCount;
  }

  bool HoldsByte() const { return hasHeldByte_; }

 private:
  static std::int16_t FromLittleEndian(std::uint8_t low, std::uint8_t high) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
  }

  std::uint8_t heldByte_ = 0;
  bool hasHeldByte_ = false;
};

}  // namespace velmoravad
