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

HRESULT FlushStartup(EndpointList& endpoints, Clock& clock) {
  const ULONGLONG flushDeadline = clock.TickCount64() + kStartupFlushMilliseconds;
  while (clock.TickCount64() < flushDeadline) {
    for (CaptureEndpoint& endpoint : endpoints) {
      const HRESULT result = endpoint.DrainCapturePackets();
      if (Failed(result)) return result;
      endpoint.samples.Clear();
    }
    clock.Wait(kFlushPauseMilliseconds);
  }
  return S_OK;
}

AggregationLoop::AggregationLoop(EndpointList& endpoints, AnnouncementSource* announcements,
                                 std::size_t frameChannels, Clock& clock, StandardOutput& output)
    : endpoints_(endpoints),
      announcements_(announcements),
      frameChannels_(frameChannels),
      clock_(clock),
      output_(output),
      block_(frameChannels * kFramesPerTick) {}

HRESULT AggregationLoop::Run() {
  TickSchedule schedule(clock_.Now());
  for (;;) {
    WaitUntil(clock_, schedule.Advance());
    for (CaptureEndpoint& endpoint : endpoints_) {
      const HRESULT result = endpoint.DrainCapturePackets();
      if (Failed(result)) return result;
    }
    AssembleBlock(endpoints_, announcements_, frameChannels_, block_.data());
    if (output_.Write(block_.data(), block_.size()) != block_.size()) return S_OK;
  }
}

}  // namespace velmoravad
