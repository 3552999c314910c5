// A first-in, first-out queue of signed 16-bit PCM samples: appended at the
// back, read and removed at the front. Each owner bounds it with TrimFront after
// appending. Not thread-safe; the announcement source guards its own with a mutex.
//
// The queued samples always lie in one contiguous run, so a consumer copies them
// out in bulk straight from Data(). Storage grows when an append needs it and is
// then reused: once a queue has held its largest load, appending and removing
// allocate nothing. An allocation that fails throws std::bad_alloc and leaves
// the queue as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmoravad {

class SampleQueue {
 public:
  SampleQueue() = default;
  SampleQueue(SampleQueue&& other) noexcept;
  SampleQueue& operator=(SampleQueue&& other) noexcept;
  SampleQueue(const SampleQueue&) = delete;
  SampleQueue& operator=(const SampleQueue&) = delete;
  ~SampleQueue() = default;

  // Appends `count` samples read from `samples`, in order, in one insertion.
  void Append(const std::int16_t* samples, std::size_t count);
  // Appends `count` zero samples.
  void AppendSilence(std::size_t count);

  // Drops the oldest samples until at most `maximumSamples` remain.
  void TrimFront(std::size_t maximumSamples) {
    if (Size() > maximumSamples) head_ = tail_ - maximumSamples;
  }

  // The queued samples, oldest first: Size() of them, valid until the next
  // append. Null while nothing was ever stored.
  const std::int16_t* Data() const { return buffer_.get() + head_; }

  // Precondition for Front and PopFront: at least that many samples are queued.
  std::int16_t Front() const { return buffer_[head_]; }
  void PopFront(std::size_t count = 1) {
    head_ += count;
    if (head_ == tail_) Clear();
  }

  void Clear() { head_ = tail_ = 0; }
  std::size_t Size() const { return tail_ - head_; }
  bool Empty() const { return head_ == tail_; }

  // Makes room for holding up to `samples` samples without a further allocation.
  void Reserve(std::size_t samples);

 private:
  // Room for `count` more samples at the back; returns where they go.
  std::int16_t* MakeRoom(std::size_t count);
  // Moves the queued samples to the front of storage of `capacity` samples
  // (the current storage when the capacity is unchanged).
  void MoveTo(std::size_t capacity);

  std::unique_ptr<std::int16_t[]> buffer_;
  std::size_t capacity_ = 0;  // samples in buffer_
  std::size_t head_ = 0;      // index of the oldest queued sample
  std::size_t tail_ = 0;      // index one past the newest
};

}  // namespace velmoravad
