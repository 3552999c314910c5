// The two holds of the announcement queue's mutex: TakeSample, which the
// aggregation loop calls 960 times per 10 ms tick, and the append of one read
// (960 samples) with its trim, which the pipe server thread makes per read.
// Each is measured alone and against the other side running flat out.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "announcement/announcement_source.h"

namespace velmoravad {
namespace {

constexpr std::size_t kReadSamples = 960;
constexpr std::size_t kCap = AnnouncementSource::kQueueCapSamples;

const std::vector<std::int16_t>& OneRead() {
  static const std::vector<std::int16_t> samples(kReadSamples, 0x1234);
  return samples;
}

void FillToCap(AnnouncementSource& source) {
  for (std::size_t queued = 0; queued < kCap; queued += kReadSamples) {
    source.AppendSamples(OneRead().data(), kReadSamples);
  }
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

// Taking from a full queue; it is topped up, untimed, before it runs dry.
void BM_TakeSample(benchmark::State& state) {
  AnnouncementSource source;
  FillToCap(source);
  std::size_t left = kCap;
  for (auto _ : state) {
    benchmark::DoNotOptimize(source.TakeSample());
    if (--left == 0) {
      state.PauseTiming();
      FillToCap(source);
      left = kCap;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_TakeSample);

// Taking from an empty queue: the case while no writer is connected.
void BM_TakeSampleEmpty(benchmark::State& state) {
  AnnouncementSource source;
  for (auto _ : state) benchmark::DoNotOptimize(source.TakeSample());
}
BENCHMARK(BM_TakeSampleEmpty);

// Taking while a writer appends reads as fast as it can, keeping the queue at
// its cap.
void BM_TakeSampleWithWriter(benchmark::State& state) {
  AnnouncementSource source;
  FillToCap(source);
  BusyThread writer([&] { source.AppendSamples(OneRead().data(), kReadSamples); });
  for (auto _ : state) benchmark::DoNotOptimize(source.TakeSample());
}
BENCHMARK(BM_TakeSampleWithWriter)->UseRealTime();

// One read appended to a queue below its cap; drained, untimed, before it fills.
void BM_AppendOneRead(benchmark::State& state) {
  AnnouncementSource source;
  std::size_t queued = 0;
  for (auto _ : state) {
    source.AppendSamples(OneRead().data(), kReadSamples);
    queued += kReadSamples;
    if (queued + kReadSamples > kCap) {
      state.PauseTiming();
      while (queued-- > 0) source.TakeSample();
      queued = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kReadSamples));
}
BENCHMARK(BM_AppendOneRead);

// One read appended to a full queue: the append and a trim of 960 samples, the
// steady state of a writer that runs ahead.
void BM_AppendOneReadAtCap(benchmark::State& state) {
  AnnouncementSource source;
  FillToCap(source);
  for (auto _ : state) source.AppendSamples(OneRead().data(), kReadSamples);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kReadSamples));
}
BENCHMARK(BM_AppendOneReadAtCap);

// One read appended at the cap while a consumer takes samples as fast as it can.
void BM_AppendOneReadWithConsumer(benchmark::State& state) {
  AnnouncementSource source;
  FillToCap(source);
  BusyThread consumer([&] { benchmark::DoNotOptimize(source.TakeSample()); });
  for (auto _ : state) source.AppendSamples(OneRead().data(), kReadSamples);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kReadSamples));
}
BENCHMARK(BM_AppendOneReadWithConsumer)->UseRealTime();

}  // namespace
}  // namespace velmoravad

BENCHMARK_MAIN();
