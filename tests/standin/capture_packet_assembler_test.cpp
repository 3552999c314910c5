// How record-stream fragments become capture packets. Real PulseAudio servers
// hand out whole-frame fragments and seldom a hole, so the cases a server cannot
// be made to produce on demand are covered here.
#include "pulse/capture_packet_assembler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace standin {
namespace {

constexpr std::size_t kStereoFrameBytes = 4;

std::vector<std::uint8_t> Bytes(std::uint8_t first, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

std::vector<std::uint8_t> PacketBytes(const CapturePacketAssembler& assembler) {
  const std::uint8_t* data = assembler.PacketData();
  return {data, data + assembler.PacketFrames() * kStereoFrameBytes};
}

TEST(CapturePacketAssemblerTest, WholeFrameFragmentIsCopiedIntoOnePacket) {
  CapturePacketAssembler assembler(kStereoFrameBytes);
  std::vector<std::uint8_t> fragment = Bytes(1, 4 * kStereoFrameBytes);

  EXPECT_FALSE(assembler.HasPacket());
  assembler.Offer(fragment.data(), fragment.size());
  fragment.assign(fragment.size(), 0xEE);  // the stream has dropped the fragment
  ASSERT_TRUE(assembler.HasPacket());
  EXPECT_EQ(assembler.PacketFrames(), 4u);
  EXPECT_FALSE(assembler.PacketIsSilent());
  EXPECT_EQ(PacketBytes(assembler), Bytes(1, 4 * kStereoFrameBytes));

  assembler.Release();
  EXPECT_FALSE(assembler.HasPacket());
  EXPECT_EQ(assembler.PacketFrames(), 0u);
}

TEST(CapturePacketAssemblerTest, HoleBecomesSilentPacketOfZeros) {
  CapturePacketAssembler assembler(kStereoFrameBytes);

  assembler.Offer(nullptr, 480 * kStereoFrameBytes);
  ASSERT_TRUE(assembler.HasPacket());
  EXPECT_EQ(assembler.PacketFrames(), 480u);
  EXPECT_TRUE(assembler.PacketIsSilent());
  EXPECT_EQ(PacketBytes(assembler), std::vector<std::uint8_t>(480 * kStereoFrameBytes, 0));
  assembler.Release();
  EXPECT_FALSE(assembler.PacketIsSilent());
}

TEST(CapturePacketAssemblerTest, PartialFrameIsHeldBackUntilTheNextFragmentCompletesIt) {
  CapturePacketAssembler assembler(kStereoFrameBytes);
  const std::vector<std::uint8_t> stream = Bytes(10, 4 * kStereoFrameBytes);
  // 1 frame and 2 bytes; then 2 whole frames' worth of bytes, which complete
  // frame 2 and leave 2 bytes held; then the last 2 bytes. The middle fragment
  // is a whole number of frames but must not be taken as a packet of its own.
  const std::size_t cuts[] = {0, kStereoFrameBytes + 2, 3 * kStereoFrameBytes + 2, stream.size()};
  const std::uint32_t frames[] = {1, 2, 1};
  for (std::size_t fragment = 0; fragment < 3; ++fragment) {
    assembler.Offer(stream.data() + cuts[fragment], cuts[fragment + 1] - cuts[fragment]);
    ASSERT_EQ(assembler.PacketFrames(), frames[fragment]) << fragment;
    const std::size_t first = cuts[fragment] / kStereoFrameBytes * kStereoFrameBytes;
    EXPECT_EQ(
        PacketBytes(assembler),
        std::vector<std::uint8_t>(stream.begin() + first,
                                  stream.begin() + first + frames[fragment] * kStereoFrameBytes))
        << fragment;
    assembler.Release();
  }
}

TEST(CapturePacketAssemblerTest, FragmentsSmallerThanAFrameGiveNoPacketUntilAFrameIsWhole) {
  CapturePacketAssembler assembler(6);  // 3 channels
  const std::vector<std::uint8_t> frame = Bytes(1, 6);

  assembler.Offer(frame.data(), 2);
  EXPECT_FALSE(assembler.HasPacket());
  assembler.Offer(frame.data() + 2, 3);
  EXPECT_FALSE(assembler.HasPacket());
  assembler.Offer(frame.data() + 5, 1);
  ASSERT_EQ(assembler.PacketFrames(), 1u);
  EXPECT_EQ(std::vector<std::uint8_t>(assembler.PacketData(), assembler.PacketData() + 6), frame);
}

TEST(CapturePacketAssemblerTest, HoleAfterAPartialFrameFillsWithZerosAndKeepsFrameAlignment) {
  CapturePacketAssembler assembler(kStereoFrameBytes);
  const std::vector<std::uint8_t> start = Bytes(1, 6);  // 1.5 frames

  assembler.Offer(start.data(), start.size());
  assembler.Release();
  // A 6-byte hole completes frame 2 with zeros, then makes one frame of zeros.
  assembler.Offer(nullptr, 6);
  ASSERT_EQ(assembler.PacketFrames(), 2u);
  EXPECT_FALSE(assembler.PacketIsSilent());  // it carries real samples too
  EXPECT_EQ(PacketBytes(assembler), (std::vector<std::uint8_t>{5, 6, 0, 0, 0, 0, 0, 0}));
  assembler.Release();

  // Back in step: the next whole-frame fragment is a packet of its own again.
  const std::vector<std::uint8_t> next = Bytes(20, kStereoFrameBytes);
  assembler.Offer(next.data(), next.size());
  EXPECT_EQ(PacketBytes(assembler), next);
}

}  // namespace
}  // namespace standin
