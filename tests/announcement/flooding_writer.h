// A writer that floods the announcement pipe from a thread of its own, as fast
// as the pipe takes bytes, in odd-sized writes so that reads keep ending inside
// samples and frames. Frame k (1..127) carries k in the high byte of both
// samples, k ^ 0xA5 in the low byte of the first channel's and k ^ 0x5A in the
// second's: a sample made of bytes from two samples, or a frame whose channels
// come from two frames or in swapped order, fails IsFloodFrame.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <thread>
#include <vector>

#include "announcement/pipe_writer.h"

namespace velmoravad::testing {

inline std::int16_t FloodSample(int k, int channel) {
  return static_cast<std::int16_t>((k << 8) | (k ^ (channel == 0 ? 0xA5 : 0x5A)));
}

// Whether the two samples at `frame` are one whole flood frame in channel order.
inline bool IsFloodFrame(const std::int16_t* frame) {
  const int k = static_cast<std::uint16_t>(frame[0]) >> 8;
  return k >= 1 && k <= 127 && frame[0] == FloodSample(k, 0) && frame[1] == FloodSample(k, 1);
}

class FloodingWriter {
 public:
  // Connects (waiting up to 10 s for the pipe) and floods until destroyed.
  FloodingWriter() : thread_([this] { Flood(); }) {}
  FloodingWriter(const FloodingWriter&) = delete;
  FloodingWriter& operator=(const FloodingWriter&) = delete;
  ~FloodingWriter() {
    stop_ = true;
    thread_.join();
  }

  bool Opened() const { return opened_; }
  // Bytes the pipe has taken so far.
  std::size_t BytesWritten() const { return written_; }

 private:
  void Flood() {
    // The stream repeats every `period` bytes; the buffer holds it twice, so
    // that any write of up to `period` bytes can start anywhere in the first half.
    std::vector<std::int16_t> pattern;
    for (int repeat = 0; repeat < 2 * 20; ++repeat) {
      for (int k = 1; k <= 127; ++k) {
        pattern.push_back(FloodSample(k, 0));
        pattern.push_back(FloodSample(k, 1));
      }
    }
    const std::vector<std::uint8_t> bytes = BytesOf(pattern);
    const std::size_t period = bytes.size() / 2;
    PipeWriter writer;
    if (!writer.OpenWithin(std::chrono::seconds(10))) return;
    opened_ = true;
    const std::size_t sizes[] = {1921, 7, 3841, 1, 999};
    std::size_t offset = 0;
    for (std::size_t turn = 0; !stop_; ++turn) {
      const std::size_t size = sizes[turn % std::size(sizes)];
      if (!writer.Write(bytes.data() + offset, size)) return;
      written_ += size;
      offset = (offset + size) % period;
    }
  }

  std::atomic<bool> stop_{false};
  std::atomic<bool> opened_{false};
  std::atomic<std::size_t> written_{0};
  std::thread thread_;
};

}  // namespace velmoravad::testing
