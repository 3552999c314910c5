// A first-in, first-out queue of signed 16-bit PCM samples: appended at the
// back, read and removed at the front. Each owner bounds it with TrimFront after
// appending. Not thread-safe; the announcement source guards its own with a mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace velmoravad {

class SampleQueue {
 public:
  // Appends `count` samples read from `samples`, in order, in one insertion.
  void Append(const std::int16_t* samples, std::size_t count) {
    queue_.insert(queue_.end(), samples, samples + count);
  }
  // Appends `count` zero samples.
  void AppendSilence(std::size_t count) { queue_.insert(queue_.end(), count, 0); }

  // Drops the oldest samples until at most `maximumSamples` remain.
  void TrimFront(std::size_t maximumSamples) {
    if (queue_.size() > maximumSamples) {
      queue_.erase(queue_.begin(),
                   queue_.begin() + static_cast<std::ptrdiff_t>(queue_.size() - maximumSamples));
    }
  }

  // Precondition for Front and PopFront: the queue is not empty.
  std::int16_t Front() const { return queue_.front(); }
  void PopFront() { queue_.pop_front(); }

  void Clear() { queue_.clear(); }
  std::size_t Size() const { return queue_.size(); }
  bool Empty() const { return queue_.empty(); }

 private:
  std::deque<std::int16_t> queue_;
};

}  // namespace velmoravad
