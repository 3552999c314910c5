#include "common/sample_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmoravad {
namespace {

std::vector<std::int16_t> Drain(SampleQueue& queue) {
  std::vector<std::int16_t> out;
  while (!queue.Empty()) {
    out.push_back(queue.Front());
    queue.PopFront();
  }
  return out;
}

TEST(SampleQueue, HandsSamplesOutOldestFirstWithSilenceInPlace) {
  SampleQueue queue;
  const std::int16_t first[] = {1, -2, 32767};
  const std::int16_t second[] = {-32768};
  queue.Append(first, 3);
  queue.AppendSilence(2);
  queue.Append(second, 1);
  EXPECT_EQ(queue.Size(), 6u);
  EXPECT_EQ(Drain(queue), (std::vector<std::int16_t>{1, -2, 32767, 0, 0, -32768}));
}

TEST(SampleQueue, TrimKeepsTheNewestSamples) {
  SampleQueue queue;
  const std::int16_t samples[] = {1, 2, 3, 4, 5};
  queue.Append(samples, 5);
  queue.TrimFront(5);
  EXPECT_EQ(queue.Size(), 5u);
  queue.TrimFront(2);
  EXPECT_EQ(Drain(queue), (std::vector<std::int16_t>{4, 5}));
  queue.TrimFront(0);
  EXPECT_TRUE(queue.Empty());
}

TEST(SampleQueue, ClearEmptiesTheQueue) {
  SampleQueue queue;
  queue.AppendSilence(10);
  queue.Clear();
  EXPECT_EQ(queue.Size(), 0u);
}

}  // namespace
}  // namespace velmoravad
