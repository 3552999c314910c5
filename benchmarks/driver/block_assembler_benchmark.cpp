// One tick's assembly: 480 frames from every endpoint's queue and the
// announcement source, for 2, 8 and 64 stereo application endpoints plus a stereo
// live input. Beside it, the limit: the same interleave from plain arrays, with
// no queue and no lock. The queues are filled beforehand with a second of audio
// and topped up, untimed, when they run low.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/block_assembler.h"

namespace velmoravad {
namespace {

constexpr std::size_t kChannels = 2;
constexpr std::size_t kTicksQueued = 100;  // one second

struct Sources {
  explicit Sources(std::size_t applicationEndpoints) : endpoints(applicationEndpoints + 1) {
    for (CaptureEndpoint& endpoint : endpoints) endpoint.channels = kChannels;
    frameChannels = endpoints.size() * kChannels + kAnnouncementChannels;
    block.resize(frameChannels * kFramesPerTick);
    Refill();
  }
  void Refill() {
    static const std::vector<std::int16_t> second(kTicksQueued * kFramesPerTick * kChannels, 7);
    for (CaptureEndpoint& endpoint : endpoints) {
      endpoint.samples.Clear();
      endpoint.samples.Append(second.data(), second.size());
    }
    std::int16_t frames[kFramesPerTick * kAnnouncementChannels] = {};
    for (std::size_t tick = 0; tick < kTicksQueued; ++tick) {
      announcements.AppendFrames(frames, kFramesPerTick);
    }
  }

  EndpointList endpoints;
  PlatformPipeSystem pipes;
  AnnouncementSource announcements{pipes};
  std::size_t frameChannels;
  std::vector<std::int16_t> block;
};

void BM_AssembleBlock(benchmark::State& state) {
  Sources sources(static_cast<std::size_t>(state.range(0)));
  std::size_t ticksLeft = kTicksQueued;
  for (auto _ : state) {
    AssembleBlock(sources.endpoints, &sources.announcements, sources.frameChannels,
                  sources.block.data());
    benchmark::DoNotOptimize(sources.block.data());
    if (--ticksLeft == 0) {
      state.PauseTiming();
      sources.Refill();
      ticksLeft = kTicksQueued;
      state.ResumeTiming();
    }
  }
  state.counters["channels"] = static_cast<double>(sources.frameChannels);
}
BENCHMARK(BM_AssembleBlock)->Arg(2)->Arg(8)->Arg(64);

// The limit: each source's frames, and the announcement frames, copied from a
// plain array into their channels of the block.
void BM_InterleaveFromArrays(benchmark::State& state) {
  const std::size_t sourceCount = static_cast<std::size_t>(state.range(0)) + 1;
  const std::size_t frameChannels = sourceCount * kChannels + kAnnouncementChannels;
  std::vector<std::vector<std::int16_t>> sources(
      sourceCount + 1, std::vector<std::int16_t>(kFramesPerTick * kChannels, 7));
  std::vector<std::int16_t> block(frameChannels * kFramesPerTick);
  for (auto _ : state) {
    for (std::size_t source = 0; source < sources.size(); ++source) {
      const std::int16_t* from = sources[source].data();
      std::int16_t* to = block.data() + source * kChannels;
      for (std::size_t frame = 0; frame < kFramesPerTick; ++frame) {
        std::memcpy(to + frame * frameChannels, from + frame * kChannels,
                    kChannels * sizeof(std::int16_t));
      }
    }
    benchmark::DoNotOptimize(block.data());
  }
  state.counters["channels"] = static_cast<double>(frameChannels);
}
BENCHMARK(BM_InterleaveFromArrays)->Arg(2)->Arg(8)->Arg(64);

}  // namespace
}  // namespace velmoravad

BENCHMARK_MAIN();
