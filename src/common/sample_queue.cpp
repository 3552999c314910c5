#include "common/sample_queue.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace velmoravad {
namespace {

constexpr std::size_t kMinimumCapacity = 4096;  // samples
// The most samples a queue may hold: twice that must still be a valid array size.
constexpr std::size_t kLargestLoad = SIZE_MAX / sizeof(std::int16_t) / 4;

}  // namespace

SampleQueue::SampleQueue(SampleQueue&& other) noexcept
    : buffer_(std::move(other.buffer_)),
      capacity_(std::exchange(other.capacity_, 0)),
      head_(std::exchange(other.head_, 0)),
      tail_(std::exchange(other.tail_, 0)) {}

SampleQueue& SampleQueue::operator=(SampleQueue&& other) noexcept {
  if (this != &other) {
    buffer_ = std::move(other.buffer_);
    capacity_ = std::exchange(other.capacity_, 0);
    head_ = std::exchange(other.head_, 0);
    tail_ = std::exchange(other.tail_, 0);
  }
  return *this;
}

void SampleQueue::Append(const std::int16_t* samples, std::size_t count) {
  if (count == 0) return;
  std::memcpy(MakeRoom(count), samples, count * sizeof(std::int16_t));
  tail_ += count;
}

void SampleQueue::AppendSilence(std::size_t count) {
  if (count == 0) return;
  std::fill_n(MakeRoom(count), count, std::int16_t{0});
  tail_ += count;
}

void SampleQueue::Reserve(std::size_t samples) {
  if (samples > kLargestLoad) throw std::bad_alloc();
  if (samples * 2 > capacity_) MoveTo(samples * 2);
}

std::int16_t* SampleQueue::MakeRoom(std::size_t count) {
  if (tail_ + count <= capacity_) return buffer_.get() + tail_;
  if (count > kLargestLoad - Size()) throw std::bad_alloc();
  const std::size_t needed = Size() + count;
  // Half the storage or more stays free after the queued samples have moved to
  // the front, so moving them costs at most one sample per appended sample.
  MoveTo(needed * 2 <= capacity_ ? capacity_ : std::max(needed * 2, kMinimumCapacity));
  return buffer_.get() + tail_;
}

void SampleQueue::MoveTo(std::size_t capacity) {
  const std::size_t live = Size();
  if (capacity == capacity_) {
    std::memmove(buffer_.get(), buffer_.get() + head_, live * sizeof(std::int16_t));
  } else {
    std::unique_ptr<std::int16_t[]> storage(new std::int16_t[capacity]);
    if (live > 0) std::memcpy(storage.get(), buffer_.get() + head_, live * sizeof(std::int16_t));
    buffer_ = std::move(storage);
    capacity_ = capacity;
  }
  head_ = 0;
  tail_ = live;
}

}  // namespace velmoravad
