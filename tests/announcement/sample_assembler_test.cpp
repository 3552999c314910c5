#include "announcement/sample_assembler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velmoravad {
namespace {

// Feeds `bytes` to one assembler in reads of the given sizes and gathers the samples.
std::vector<std::int16_t> AssembleInReads(const std::vector<std::uint8_t>& bytes,
                                          const std::vector<std::size_t>& readSizes,
                                          SampleAssembler& assembler) {
  std::vector<std::int16_t> samples;
  std::size_t offset = 0;
  for (const std::size_t size : readSizes) {
    std::vector<std::int16_t> out(SampleAssembler::MaximumSamples(size));
    const std::size_t count = assembler.Assemble(bytes.data() + offset, size, out.data());
    EXPECT_LE(count, out.size());
    samples.insert(samples.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count));
    offset += size;
  }
  return samples;
}

TEST(SampleAssembler, ReadsLittleEndianSamplesBitForBit) {
  SampleAssembler assembler;
  const std::vector<std::uint8_t> bytes = {0x00, 0x00, 0xFF, 0x7F, 0x00,
                                           0x80, 0xFF, 0xFF, 0x34, 0x12};
  EXPECT_EQ(AssembleInReads(bytes, {bytes.size()}, assembler),
            (std::vector<std::int16_t>{0, 32767, -32768, -1, 0x1234}));
  EXPECT_FALSE(assembler.HoldsByte());
}

TEST(SampleAssembler, JoinsAnOddTrailingByteToTheNextRead) {
  // Samples 0x0201, 0x0403, ... split at odd offsets, single bytes included.
  std::vector<std::uint8_t> bytes;
  for (std::uint8_t value = 1; value <= 24; ++value) bytes.push_back(value);
  std::vector<std::int16_t> expected;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    expected.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  SampleAssembler assembler;
  EXPECT_EQ(AssembleInReads(bytes, {7, 1, 1, 3, 5, 1, 6}, assembler), expected);
  EXPECT_FALSE(assembler.HoldsByte());
}

TEST(SampleAssembler, HoldsTheOddByteUntilMoreArrives) {
  SampleAssembler assembler;
  const std::vector<std::uint8_t> bytes = {0x11, 0x22, 0x33};
  EXPECT_EQ(AssembleInReads(bytes, {3}, assembler), (std::vector<std::int16_t>{0x2211}));
  EXPECT_TRUE(assembler.HoldsByte());
  // A read of nothing leaves the held byte alone.
  EXPECT_EQ(assembler.Assemble(bytes.data(), 0, nullptr), 0u);
  EXPECT_TRUE(assembler.HoldsByte());
  const std::uint8_t high = 0x44;
  std::int16_t sample = 0;
  EXPECT_EQ(assembler.Assemble(&high, 1, &sample), 1u);
  EXPECT_EQ(sample, 0x4433);
  EXPECT_FALSE(assembler.HoldsByte());
}

TEST(SampleAssembler, AFullReadAfterAHeldByteYieldsAtMostOneTicksSamples) {
  SampleAssembler assembler;
  std::vector<std::uint8_t> bytes(1 + 1920, 0x01);
  EXPECT_EQ(AssembleInReads(bytes, {1, 1920}, assembler).size(), 960u);
  EXPECT_TRUE(assembler.HoldsByte());
  EXPECT_EQ(SampleAssembler::MaximumSamples(1920), 960u);
}

}  // namespace
}  // namespace velmoravad
