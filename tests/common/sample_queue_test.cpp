#include "common/sample_queue.h"

#include <gtest/gtest.h>

#include <deque>
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

// Appends and bulk removals of changing sizes, checked against a plain deque,
// take the storage through growth, reuse and the move of its samples to the
// front, while the queue holds from nothing to more than its first capacity.
TEST(SampleQueue, KeepsOrderThroughGrowthAndReuseOfItsStorage) {
  SampleQueue queue;
  std::deque<std::int16_t> model;
  std::int16_t next = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::size_t append = static_cast<std::size_t>((round * 7919) % 1500);
    std::vector<std::int16_t> samples(append);
    for (std::int16_t& sample : samples) sample = next++;
    queue.Append(samples.data(), samples.size());
    model.insert(model.end(), samples.begin(), samples.end());
    const std::size_t remove =
        std::min(model.size(), static_cast<std::size_t>((round * 104729) % 1300));
    ASSERT_EQ(queue.Size(), model.size());
    ASSERT_TRUE(std::equal(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(remove),
                           queue.Data()))
        << "round " << round;
    queue.PopFront(remove);
    model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(remove));
    if (round % 500 == 499) {
      const std::size_t keep = model.size() / 3;
      queue.TrimFront(keep);
      model.erase(model.begin(), model.end() - static_cast<std::ptrdiff_t>(keep));
    }
  }
  EXPECT_EQ(Drain(queue), std::vector<std::int16_t>(model.begin(), model.end()));

  SampleQueue moved(std::move(queue));
  EXPECT_TRUE(queue.Empty());
  queue.AppendSilence(3);  // A moved-from queue is usable again.
  EXPECT_EQ(Drain(queue), std::vector<std::int16_t>(3, 0));
}

TEST(SampleQueue, ClearEmptiesTheQueue) {
  SampleQueue queue;
  queue.AppendSilence(10);
  queue.Clear();
  EXPECT_EQ(queue.Size(), 0u);
}

}  // namespace
}  // namespace velmoravad
