// A known stream of announcement bytes, cut into reads at the points the input
// gives: it comes out as its whole frames, in order, each once, and what is
// left of an incomplete frame is held.
#include <vector>

#include "announcement/frame_assembler.h"
#include "fuzz_input.h"

using velmoravad::fuzzing::Require;

namespace {

std::uint8_t StreamByte(std::size_t index) { return static_cast<std::uint8_t>(index * 7 + 3); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmoravad::FrameAssembler assembler;
  std::vector<std::uint8_t> read;
  std::vector<std::int16_t> samples;
  std::size_t streamed = 0;
  for (std::size_t cut = 0; cut < size; ++cut) {
    const std::size_t readBytes = data[cut] * (cut % 3 == 2 ? 16 : 1);  // reads of 0 to 4080
    read.resize(readBytes);
    for (std::size_t index = 0; index < readBytes; ++index)
      read[index] = StreamByte(streamed + index);
    std::vector<std::int16_t> out(velmoravad::FrameAssembler::MaximumFrames(readBytes) * 2);
    const std::size_t frames = assembler.Assemble(read.data(), readBytes, out.data());
    Require(frames * 2 <= out.size());
    samples.insert(samples.end(), out.begin(),
                   out.begin() + static_cast<std::ptrdiff_t>(frames * 2));
    streamed += readBytes;
  }
  Require(samples.size() == streamed / 4 * 2);
  Require(assembler.HeldBytes() == streamed % 4);
  for (std::size_t index = 0; index < samples.size(); ++index) {
    Require(static_cast<std::uint16_t>(samples[index]) ==
            (StreamByte(2 * index) | (StreamByte(2 * index + 1) << 8)));
  }
  return 0;
}
