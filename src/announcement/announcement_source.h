// The announcement source: a pipe server thread receives raw PCM from another
// process through the named pipe "\\.\pipe\VelmoraDSPAnnouncement", one writer at
// a time, and queues it; the aggregation loop takes it one sample at a time.
//
// Threading and lifetime: the object is created once on the heap and never
// destroyed, because StartPipeThread detaches a thread that runs ServePipe on it
// until the process ends. Only that thread appends; only the aggregation loop
// calls TakeSample. The one mutex guards the queue and nothing else; it is never
// held across a pipe call or a sleep, and the consumer never waits for data.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "common/output_format.h"
#include "common/sample_queue.h"
#include "common/unique_handle.h"

namespace velmoravad {

class AnnouncementSource {
 public:
  static constexpr const wchar_t* kPipeName = L"\\\\.\\pipe\\VelmoraDSPAnnouncement";
  // The pipe's input buffer, in bytes: one second of the two channels.
  static constexpr DWORD kPipeInputBufferBytes = kFramesPerSecond * kAnnouncementFrameBytes;
  static constexpr DWORD kCreateRetryDelayMilliseconds = 1000;
  // One read, in bytes: the 960 samples that one 10 ms tick takes.
  static constexpr DWORD kReadBytes = kFramesPerTick * kAnnouncementFrameBytes;
  // The queue cap, in samples: one second of the two channels at 48000 frames/s.
  static constexpr std::size_t kQueueCapSamples = kFramesPerSecond * kAnnouncementChannels;

  AnnouncementSource() = default;
  AnnouncementSource(const AnnouncementSource&) = delete;
  AnnouncementSource& operator=(const AnnouncementSource&) = delete;

  // Starts the detached pipe server thread running ServePipe and returns at once.
  void StartPipeThread();

  // The oldest queued sample, removed; 0 when the queue is empty.
  std::int16_t TakeSample();

  // The pipe server loop: one pipe instance after another, each serving one
  // writer. Never returns.
  [[noreturn]] void ServePipe();

  // The steps of ServePipe, usable on their own so that a test can serve one
  // writer on a thread it joins.
  //
  // Creates the pipe instance, trying again every 1000 ms until it succeeds.
  UniqueHandle CreatePipeInstance();
  // Waits for a writer on `pipe`, queues what it sends until it goes away, then
  // disconnects and closes the instance.
  void ServeConnection(UniqueHandle pipe);
  // Appends `count` samples and trims the queue to its cap, under one lock hold.
  void AppendSamples(const std::int16_t* samples, std::size_t count);

 private:
  std::mutex mutex_;
  SampleQueue queue_;  // Guarded by mutex_.
};

}  // namespace velmoravad
