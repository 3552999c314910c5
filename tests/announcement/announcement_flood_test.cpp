// A writer that floods the pipe while the aggregation loop's pace takes frames:
// the two threads meet only at the queue's mutex (run it under ThreadSanitizer).
// The queue stays at its cap, so it is trimmed between every two takes, and
// still no frame comes out torn, shifted by a byte, or with its channels swapped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "announcement/announcement_source.h"
#include "announcement/flooding_writer.h"
#include "announcement/served_connection.h"

namespace velmoravad {
namespace {

TEST(AnnouncementFlood, ConsumerTakingOneTickPer10MsSeesOnlyWholeFramesInChannelOrder) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  testing::ServedConnection server(source);

  std::optional<testing::FloodingWriter> flood(std::in_place);

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
      if (!testing::IsFloodFrame(block.data() + frame * kChannels + kChannels - 2)) ++badFrames;
    }
    framesSeen += taken;
  }
  const bool opened = flood->Opened();
  flood.reset();

  EXPECT_TRUE(opened);
  EXPECT_GT(framesSeen, 0u);
  EXPECT_EQ(badFrames, 0u);
  EXPECT_TRUE(server.FinishesWithin(std::chrono::seconds(10)));
}

}  // namespace
}  // namespace velmoravad
