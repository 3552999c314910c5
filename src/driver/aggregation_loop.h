// The streaming half of a run: starting the capture streams, the startup flush,
// and the aggregation loop that writes one block of 480 frames to standard
// output every 10 ms until a write comes up short.
//
// Everything here runs on the main thread, which owns the endpoints, their
// queues and the output block; the only other thread is the announcement
// source's, met only inside its TakeFrames. The loop is paced by its own clock
// and never waits on a capture event.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "announcement/announcement_source.h"
#include "capture/endpoint_discovery.h"
#include "common/clock.h"
#include "driver/standard_output.h"

namespace velmoravad {

// The length of the startup flush, by the millisecond tick counter.
inline constexpr ULONGLONG kStartupFlushMilliseconds = 2500;

// Makes each endpoint's queue storage, then starts every stream in list order;
// the first failure is returned at once (E_OUTOFMEMORY when memory is out).
HRESULT StartCaptureStreams(EndpointList& endpoints);

// Drains every endpoint and throws the audio away, pass after pass with a 1 ms
// wait of `clock` between passes, until 2500 ms of its tick counter have
// passed; every queue is empty afterwards. The waits are the ticks' own
// high-resolution ones, so the last pass comes within about a millisecond of
// the end and the first block holds next to nothing from before it. Returns
// the first failing drain's HRESULT.
HRESULT FlushStartup(EndpointList& endpoints, Clock& clock);

class AggregationLoop {
 public:
  // Allocates the output block; throws std::bad_alloc when memory is out.
  // `frameChannels` counts every endpoint's channels and the two announcement
  // channels; `announcements` may be null (its channels are then silent).
  AggregationLoop(EndpointList& endpoints, AnnouncementSource* announcements,
                  std::size_t frameChannels, Clock& clock, StandardOutput& output);

  // Ticks on an absolute 10 ms schedule from one reading of the clock: waits for
  // the deadline, drains every endpoint once, assembles the block and writes it
  // in one write. Returns S_OK once a write comes up short, or the HRESULT of a
  // drain that failed (its block is dropped unwritten).
  HRESULT Run();

 private:
  EndpointList& endpoints_;
  AnnouncementSource* announcements_;
  std::size_t frameChannels_;
  Clock& clock_;
  StandardOutput& output_;
  std::vector<std::int16_t> block_;  // kFramesPerTick frames, reused by every tick
};

}  // namespace velmoravad
