// A writer that floods the pipe while the aggregation loop's pace takes frames:
// the two threads meet only at the queue's mutex (run it under ThreadSanitizer).
// The queue stays at its cap, so it is trimmed between every two takes, and
// still no frame comes out torn, shifted by a byte, or with its channels swapped.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <thread>
#include <vector>

#include "announcement/announcement_source.h"
#include "announcement/pipe_writer.h"
#include "announcement/served_connection.h"

namespace velmoravad {
namespace {

// Frame k (1..127) carries k in the high byte of both samples, k ^ 0xA5 in the
// low byte of the first channel's and k ^ 0x5A in the second's. A sample made of
// bytes from two neighbouring samples, or a frame whose channels come from two
// frames or in swapped order, fails the check.
std::int16_t FloodSample(int k, int channel) {
  return static_cast<std::int16_t>((k << 8) | (k ^ (channel == 0 ? 0xA5 : 0x5A)));
}
bool IsFloodFrame(const std::int16_t* frame) {
  const int k = static_cast<std::uint16_t>(frame[0]) >> 8;
  return k >= 1 && k <= 127 && frame[0] == FloodSample(k, 0) && frame[1] == FloodSample(k, 1);
}

TEST(AnnouncementFlood, ConsumerTakingOneTickPer10MsSeesOnlyWholeFramesInChannelOrder) {
  AnnouncementSource source;
  testing::ServedConnection server(source);

  // The stream repeats every `period` bytes; the buffer holds it twice, so that
  // any write of up to `period` bytes can start anywhere in the first half.
  std::vector<std::int16_t> pattern;
  for (int repeat = 0; repeat < 2 * 20; ++repeat) {
    for (int k = 1; k <= 127; ++k) {
      pattern.push_back(FloodSample(k, 0));
      pattern.push_back(FloodSample(k, 1));
    }
  }
  const std::vector<std::uint8_t> bytes = testing::BytesOf(pattern);
  const std::size_t period = bytes.size() / 2;

  std::atomic<bool> stop{false};
  std::atomic<bool> opened{false};
  std::thread flood([&] {
    testing::PipeWriter writer;
    if (!writer.OpenWithin(std::chrono::seconds(10))) return;
    opened = true;
    // Odd-sized writes, so that reads keep ending inside a sample.
    const std::size_t sizes[] = {1921, 7, 3841, 1, 999};
    std::size_t offset = 0;
    for (std::size_t turn = 0; !stop; ++turn) {
      const std::size_t size = sizes[turn % std::size(sizes)];
      if (!writer.Write(bytes.data() + offset, size)) return;
      offset = (offset + size) % period;
    }
  });

  // The aggregation loop's pace: 480 frames every 10 ms, for one second, into the
  // last two channels of a block of six.
  constexpr std::size_t kChannels = 6;
  std::vector<std::int16_t> block(kFramesPerTick * kChannels);
  std::size_t framesSeen = 0;
  std::size_t badFrames = 0;
  auto deadline = std::chrono::steady_clock::now();
  for (int tick = 0; tick < 100; ++tick) {
    deadline += std::chrono::milliseconds(10);
    std::this_thread::sleep_until(deadline);
    const std::size_t taken =
        source.TakeFrames(block.data() + kChannels - 2, kFramesPerTick, kChannels);
    for (std::size_t frame = 0; frame < taken; ++frame) {
      if (!IsFloodFrame(block.data() + frame * kChannels + kChannels - 2)) ++badFrames;
    }
    framesSeen += taken;
  }
  stop = true;
  flood.join();

  EXPECT_TRUE(opened);
  EXPECT_GT(framesSeen, 0u);
  EXPECT_EQ(badFrames, 0u);
  EXPECT_TRUE(server.FinishesWithin(std::chrono::seconds(10)));
}

}  // namespace
}  // namespace velmoravad
