// Test helpers around one AnnouncementSource: a pipe instance served on a thread
// that the test joins, and the gathering of queued frames.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "announcement/announcement_source.h"
#include "announcement/pipe_writer.h"

namespace velmoravad::testing {

// Serves one writer on its own thread, as one turn of ServePipe's loop: creates
// the instance (retrying while the name is taken), serves the writer until it
// leaves, and closes the instance. Declare writers after it, so that they close
// first. If a failed test left the server waiting, throwaway writers end the
// wait before the join.
class ServedConnection {
 public:
  explicit ServedConnection(AnnouncementSource& source)
      : thread_([this, &source] {
          source.ServeConnection(source.CreatePipeInstance());
          finished_ = true;
        }) {}
  // Serves an instance created beforehand.
  ServedConnection(AnnouncementSource& source, UniqueHandle pipe)
      : thread_([this, &source, instance = std::move(pipe)]() mutable {
          source.ServeConnection(std::move(instance));
          finished_ = true;
        }) {}
  ServedConnection(const ServedConnection&) = delete;
  ServedConnection& operator=(const ServedConnection&) = delete;
  ~ServedConnection() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!finished_ && std::chrono::steady_clock::now() < deadline) {
      PipeWriter unblock;
      if (!unblock.TryOpen()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread_.join();
  }

  // Waits for the server to end its connection; false after `timeout`.
  bool FinishesWithin(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!finished_) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

// Takes frames until `frames` have arrived or `timeout` has passed; returns
// their samples, two per frame.
inline std::vector<std::int16_t> TakeArrivingFrames(AnnouncementSource& source, std::size_t frames,
                                                    std::chrono::milliseconds timeout) {
  std::vector<std::int16_t> samples(frames * kAnnouncementChannels);
  std::size_t taken = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    taken += source.TakeFrames(samples.data() + taken * kAnnouncementChannels, frames - taken,
                               kAnnouncementChannels);
    if (taken == frames || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  samples.resize(taken * kAnnouncementChannels);
  return samples;
}

// Whether no frame is queued: taking one finds none.
inline bool HoldsNoFrame(AnnouncementSource& source) {
  std::int16_t frame[kAnnouncementChannels];
  return source.TakeFrames(frame, 1, kAnnouncementChannels) == 0;
}

// `count` distinct samples starting at `first` (an even count: whole frames).
inline std::vector<std::int16_t> Sequence(std::int16_t first, std::size_t count) {
  std::vector<std::int16_t> samples;
  for (std::size_t i = 0; i < count; ++i) {
    samples.push_back(static_cast<std::int16_t>(first + static_cast<std::int16_t>(i)));
  }
  return samples;
}

}  // namespace velmoravad::testing
