#include "driver/aggregation_loop.h"

#include "common/hresult.h"
#include "driver/block_assembler.h"

namespace velmoravad {
namespace {

constexpr DWORD kFlushPauseMilliseconds = 1;

}  // namespace

HRESULT StartCaptureStreams(EndpointList& endpoints) {
  const HRESULT reserved = CatchOutOfMemory([&] {
    for (CaptureEndpoint& endpoint : endpoints) endpoint.ReserveQueue();
    return S_OK;
  });
  if (Failed(reserved)) return reserved;
  for (CaptureEndpoint& endpoint : endpoints) {
    const HRESULT result = endpoint.audioClient->Start();
    if (Failed(result)) return result;
  }
  return S_OK;
}

HRESULT FlushStartup(EndpointList& endpoints, StreamPlatform& platform) {
  const ULONGLONG flushDeadline = platform.TickCount64() + kStartupFlushMilliseconds;
  while (platform.TickCount64() < flushDeadline) {
    for (CaptureEndpoint& endpoint : endpoints) {
      const HRESULT result = endpoint.DrainCapturePackets();
      if (Failed(result)) return result;
      endpoint.samples.Clear();
    }
    platform.Pause(kFlushPauseMilliseconds);
  }
  return S_OK;
}

AggregationLoop::AggregationLoop(EndpointList& endpoints, AnnouncementSource* announcements,
                                 std::size_t frameChannels, StreamPlatform& platform)
    : endpoints_(endpoints),
      announcements_(announcements),
      frameChannels_(frameChannels),
      platform_(platform),
      block_(frameChannels * kFramesPerTick) {}

HRESULT AggregationLoop::Run() {
  TickSchedule schedule(platform_.Now());
  for (;;) {
    WaitUntil(schedule.Advance());
    for (CaptureEndpoint& endpoint : endpoints_) {
      const HRESULT result = endpoint.DrainCapturePackets();
      if (Failed(result)) return result;
    }
    AssembleBlock(endpoints_, announcements_, frameChannels_, block_.data());
    if (platform_.WriteOutput(block_.data(), block_.size()) != block_.size()) return S_OK;
  }
}

void AggregationLoop::WaitUntil(MonotonicClock::time_point deadline) {
  for (MonotonicClock::time_point now = platform_.Now(); now < deadline; now = platform_.Now()) {
    platform_.WaitMilliseconds(MillisecondsToSleep(deadline - now));
  }
}

}  // namespace velmoravad
