// A writer that floods the pipe while the aggregation loop's pace takes samples:
// the two threads meet only at the queue's mutex (run it under ThreadSanitizer),
// and no sample comes out torn or shifted by a byte.
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

// Sample k (1..127) has k in its high byte and k ^ 0xA5 in its low byte. A sample
// made of bytes from two neighbouring samples fails that check.
std::int16_t FloodSample(int k) { return static_cast<std::int16_t>((k << 8) | (k ^ 0xA5)); }
bool IsFloodSample(std::int16_t sample) {
  const int k = static_cast<std::uint16_t>(sample) >> 8;
  return k >= 1 && k <= 127 && (static_cast<std::uint16_t>(sample) & 0xFF) == (k ^ 0xA5);
}

TEST(AnnouncementFlood, ConsumerTakingOneTickPer10MsSeesOnlyWholeSamples) {
  AnnouncementSource source;
  testing::ServedConnection server(source);

  // The stream repeats every `period` bytes; the buffer holds it twice, so that
  // any write of up to `period` bytes can start anywhere in the first half.
  std::vector<std::int16_t> pattern;
  for (int repeat = 0; repeat < 2 * 20; ++repeat) {
    for (int k = 1; k <= 127; ++k) pattern.push_back(FloodSample(k));
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

  // The aggregation loop's pace: 960 samples every 10 ms, for one second.
  std::size_t samplesSeen = 0;
  std::size_t tornSamples = 0;
  auto deadline = std::chrono::steady_clock::now();
  for (int tick = 0; tick < 100; ++tick) {
    deadline += std::chrono::milliseconds(10);
    std::this_thread::sleep_until(deadline);
    for (int i = 0; i < 960; ++i) {
      const std::int16_t sample = source.TakeSample();
      if (sample == 0) continue;
      ++samplesSeen;
      if (!IsFloodSample(sample)) ++tornSamples;
    }
  }
  stop = true;
  flood.join();

  EXPECT_TRUE(opened);
  EXPECT_GT(samplesSeen, 0u);
  EXPECT_EQ(tornSamples, 0u);
  EXPECT_TRUE(server.FinishesWithin(std::chrono::seconds(10)));
}

}  // namespace
}  // namespace velmoravad
