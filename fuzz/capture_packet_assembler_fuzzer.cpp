// Record-stream fragments of any sizes, holes among them, for a frame of any
// size: the packets handed out are whole frames, and together they are the
// stream (a hole as zeros) up to its last whole frame, in order, each byte once.
#include <algorithm>
#include <vector>

#include "fuzz_input.h"
#include "pulse/capture_packet_assembler.h"

using velmoravad::fuzzing::Require;

namespace {

std::uint8_t StreamByte(std::size_t index) { return static_cast<std::uint8_t>(index * 5 + 1); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t frameBytes = 2 * (1 + data[0] % 32);  // 1 to 32 channels
  standin::CapturePacketAssembler assembler(frameBytes);
  std::vector<std::uint8_t> expected;
  std::vector<std::uint8_t> handedOut;
  std::vector<std::uint8_t> fragment;
  for (std::size_t index = 1; index < size; ++index) {
    const bool hole = (data[index] & 0x80) != 0;
    const std::size_t bytes = (data[index] & 0x7F) * (index % 2 == 0 ? 1 : 37);
    fragment.resize(bytes);
    for (std::size_t offset = 0; offset < bytes; ++offset) {
      fragment[offset] = StreamByte(expected.size() + offset);
    }
    expected.insert(expected.end(), fragment.begin(), fragment.end());
    if (hole) std::fill(expected.end() - static_cast<std::ptrdiff_t>(bytes), expected.end(), 0);
    assembler.Offer(hole ? nullptr : fragment.data(), bytes);
    if (assembler.HasPacket()) {
      const std::uint8_t* packet = assembler.PacketData();
      handedOut.insert(handedOut.end(), packet, packet + assembler.PacketFrames() * frameBytes);
      Require(!assembler.PacketIsSilent() ||
              std::all_of(packet, packet + assembler.PacketFrames() * frameBytes,
                          [](std::uint8_t byte) { return byte == 0; }));
      assembler.Release();
    }
  }
  Require(handedOut.size() == expected.size() / frameBytes * frameBytes);
  Require(std::equal(handedOut.begin(), handedOut.end(), expected.begin()));
  return 0;
}
