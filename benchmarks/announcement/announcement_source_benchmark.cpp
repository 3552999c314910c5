// The two holds of the announcement queue's mutex: TakeFrames of one tick's 480
// frames, which the aggregation loop makes every 10 ms, and the append of one
// read (480 frames) with its trim, which the pipe server thread makes per read.
// Each is measured alone and against the other side running flat out.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "announcement/announcement_source.h"

namespace velmoravad {
namespace {

constexpr std::size_t kReadFrames = kFramesPerTick;
constexpr std::size_t kCap = AnnouncementSource::kQueueCapFrames;
constexpr std::size_t kBlockChannels = 20;  // 8 stereo endpoints, a stereo live input, 2

const std::vector<std::int16_t>& OneRead() {
  static const std::vector<std::int16_t> samples(kReadFrames * 2, 0x1234);
  return samples;
}

void FillToCap(AnnouncementSource& source) {
  for (std::size_t queued = 0; queued < kCap; queued += kReadFrames) {
    source.AppendFrames(OneRead().data(), kReadFrames);
  }
}

// One tick's take into the last two channels of a block.
std::size_t TakeTick(AnnouncementSource& source) {
  static std::vector<std::int16_t> block(kFramesPerTick * kBlockChannels);
  return source.TakeFrames(block.data() + kBlockChannels - 2, kFramesPerTick, kBlockChannels);
}

// Runs `work` on its own thread until the benchmark ends.
class BusyThread {
 public:
  template <typename Work>
  explicit BusyThread(Work work)
      : thread_([this, work] {
          while (!stop_.load(std::memory_order_relaxed)) work();
        }) {}
  ~BusyThread() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Taking a tick from a full queue; it is topped up, untimed, before it runs dry.
void BM_TakeTick(benchmark::State& state) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  FillToCap(source);
  std::size_t left = kCap;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TakeTick(source));
    left -= kFramesPerTick;
    if (left < kFramesPerTick) {
      state.PauseTiming();
      FillToCap(source);
      left = kCap;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_TakeTick);

// Taking from an empty queue: the case while no writer is connected.
void BM_TakeTickEmpty(benchmark::State& state) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  for (auto _ : state) benchmark::DoNotOptimize(TakeTick(source));
}
BENCHMARK(BM_TakeTickEmpty);

// Taking while a writer appends reads as fast as it can, keeping the queue at
// its cap.
void BM_TakeTickWithWriter(benchmark::State& state) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  FillToCap(source);
  BusyThread writer([&] { source.AppendFrames(OneRead().data(), kReadFrames); });
  for (auto _ : state) benchmark::DoNotOptimize(TakeTick(source));
}
BENCHMARK(BM_TakeTickWithWriter)->UseRealTime();

// One read appended to a queue below its cap; drained, untimed, before it fills.
void BM_AppendOneRead(benchmark::State& state) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  std::size_t queued = 0;
  for (auto _ : state) {
    source.AppendFrames(OneRead().data(), kReadFrames);
    queued += kReadFrames;
    if (queued + kReadFrames > kCap) {
      state.PauseTiming();
      for (; queued >= kFramesPerTick; queued -= kFramesPerTick) TakeTick(source);
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kReadFrames));
}
BENCHMARK(BM_AppendOneRead);

// One read appended to a full queue: the append and a trim of 960 samples, the
// steady state of a writer that runs ahead.
void BM_AppendOneReadAtCap(benchmark::State& state) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  FillToCap(source);
  for (auto _ : state) source.AppendFrames(OneRead().data(), kReadFrames);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kReadFrames));
}
BENCHMARK(BM_AppendOneReadAtCap);

// One read appended at the cap while a consumer takes samples as fast as it can.
void BM_AppendOneReadWithConsumer(benchmark::State& state) {
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  FillToCap(source);
  BusyThread consumer([&] { benchmark::DoNotOptimize(TakeTick(source)); });
  for (auto _ : state) source.AppendFrames(OneRead().data(), kReadFrames);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kReadFrames));
}
BENCHMARK(BM_AppendOneReadWithConsumer)->UseRealTime();

}  // namespace
}  // namespace velmoravad

BENCHMARK_MAIN();
