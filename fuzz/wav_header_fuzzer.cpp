// The WAV reader and the clip reader on any bytes. The first byte says whether
// the rest is read as a file (odd) or as a pipe (even). Whatever they are, the
// header is either playable or refused with a reason, and a playable clip gives
// whole frames, never more than the bytes hold.
#include <cstdint>
#include <cstdlib>

#include "velmoravad-announce/clip_reader.h"
#include "tools/velmoravad-announce/memory_byte_source.h"
#include "velmoravad-announce/wav_header.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  velmoravad::testing::MemoryByteSource source(data + 1, size - 1, (data[0] & 1) != 0);
  const velmoravad::WavHeader header = velmoravad::ReadWavHeader(source);
  Require(header.data.has_value() == header.problem.empty());
  if (!header.data) return 0;
  const velmoravad::WavData& clip = *header.data;
  Require(clip.channels == 1 || clip.channels == 2);
  Require(clip.offset <= size - 1);

  velmoravad::ClipReader reader(source, clip.channels, clip.bytes);
  std::uint8_t frames[480 * 4];
  std::uint64_t inputBytes = 0;
  for (std::size_t got = 1; got > 0;) {
    Require(reader.Read(frames, 480, got));
    Require(got <= 480);
    inputBytes += got * clip.channels * 2;
  }
  Require(clip.offset + inputBytes <= size - 1);
  Require(!clip.bytes || inputBytes <= *clip.bytes);
  return 0;
}
