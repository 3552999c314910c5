#include "announcement/frame_assembler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velmoravad {
namespace {

struct ReadPattern {
  const char* name;
  std::vector<std::size_t> readSizes;
};

class FrameAssemblerTest : public ::testing::TestWithParam<ReadPattern> {};

// Bytes 1, 2, 3, ... cut into reads of the pattern's sizes come out as the
// frames they make, in order, each once, whatever the cuts.
TEST_P(FrameAssemblerTest, CutsAnywhereGiveTheStreamsFramesInOrder) {
  std::size_t total = 0;
  for (const std::size_t size : GetParam().readSizes) total += size;
  std::vector<std::uint8_t> bytes(total);
  for (std::size_t i = 0; i < total; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);

  FrameAssembler assembler;
  std::vector<std::int16_t> samples;
  std::size_t offset = 0;
  for (const std::size_t size : GetParam().readSizes) {
    std::vector<std::int16_t> out(FrameAssembler::MaximumFrames(size) * 2);
    const std::size_t frames = assembler.Assemble(bytes.data() + offset, size, out.data());
    ASSERT_LE(frames * 2, out.size());
    samples.insert(samples.end(), out.begin(),
                   out.begin() + static_cast<std::ptrdiff_t>(frames * 2));
    offset += size;
  }
  ASSERT_EQ(samples.size(), total / 4 * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto expected = static_cast<std::int16_t>(
        static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    ASSERT_EQ(samples[i], expected) << "sample " << i;
  }
  EXPECT_EQ(assembler.HeldBytes(), total % 4);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, FrameAssemblerTest,
    ::testing::Values(ReadPattern{"whole_frames", {8, 1920}},
                      ReadPattern{"single_bytes", {1, 1, 1, 1, 1, 1, 1, 1, 1}},
                      ReadPattern{"between_the_channels", {2, 4, 2, 6}},
                      ReadPattern{"inside_samples", {7, 1, 3, 5, 1, 6, 3}},
                      ReadPattern{"nothing_between", {3, 0, 1, 0, 0, 5}},
                      ReadPattern{"full_read_after_a_held_byte", {1, 1920, 3}}),
    [](const ::testing::TestParamInfo<ReadPattern>& info) { return info.param.name; });

}  // namespace
}  // namespace velmoravad
