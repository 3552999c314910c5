// The announcement source: a pipe server thread receives raw PCM from another
// process through the named pipe "\\.\pipe\VelmoraDSPAnnouncement", one writer at
// a time, and queues it as whole frames of the two announcement channels; the
// aggregation loop takes whole frames, so the two channels can never swap.
//
// Threading and lifetime: the object is created once on the heap and never
// destroyed, because StartPipeThread detaches a thread that runs ServePipe on it
// until the process ends. Only that thread appends; only the aggregation loop
// calls TakeFrames. The one mutex guards the queue and nothing else; it is never
// held across a pipe call or a sleep, and the consumer never waits for data.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "announcement/pipe_system.h"
#include "common/output_format.h"
#include "common/sample_queue.h"
#include "common/unique_handle.h"

namespace velmoravad {

class AnnouncementSource {
 public:
  // The pipe's input buffer, in bytes: one second of the two channels.
  static constexpr DWORD kPipeInputBufferBytes = kFramesPerSecond * kAnnouncementFrameBytes;
  static constexpr DWORD kCreateRetryDelayMilliseconds = 1000;
  // One read, in bytes: the 480 frames that one 10 ms tick takes.
  static constexpr DWORD kReadBytes = kFramesPerTick * kAnnouncementFrameBytes;
  // The queue cap, in frames: one second (96000 samples of the two channels).
  static constexpr std::size_t kQueueCapFrames = kFramesPerSecond;

  // Reserves the queue's storage, so that neither thread allocates afterwards.
  // The pipe calls go to `pipes`, which must live as long as this object.
  explicit AnnouncementSource(PipeSystem& pipes);
  AnnouncementSource(const AnnouncementSource&) = delete;
  AnnouncementSource& operator=(const AnnouncementSource&) = delete;

  // Starts the detached pipe server thread running ServePipe and returns at once.
  // Throws std::system_error when the thread cannot be started.
  void StartPipeThread();

  // Moves up to `frames` of the oldest queued frames out of the queue, under one
  // lock hold: frame i's two samples go to destination[i * stride] and
  // destination[i * stride + 1]. Returns how many frames it moved; the caller
  // fills the rest with silence.
  std::size_t TakeFrames(std::int16_t* destination, std::size_t frames, std::size_t stride);

  // The pipe server loop: one pipe instance after another, each serving one
  // writer. Never returns.
  [[noreturn]] void ServePipe();

  // The steps of ServePipe, usable on their own so that a test can serve one
  // writer on a thread it joins.
  //
  // Creates the pipe instance, trying again every 1000 ms until it succeeds.
  UniqueHandle CreatePipeInstance();
  // Waits for a writer on `pipe`, queues its whole frames until it goes away,
  // then disconnects and closes the instance.
  void ServeConnection(UniqueHandle pipe);
  // Appends `frames` frames (two samples each) and trims the queue to its cap,
  // dropping the oldest whole frames, under one lock hold.
  void AppendFrames(const std::int16_t* samples, std::size_t frames);

 private:
  PipeSystem& pipes_;
  std::mutex mutex_;
  SampleQueue queue_;  // Guarded by mutex_. Whole frames only: an even sample count.
};

// A new AnnouncementSource whose pipe thread serves the pipe through `pipes`;
// never destroyed, as its thread uses it until the process ends. Null when
// memory ran out or the thread could not start: the announcement channels are
// then silent, as a pipe that cannot be created leaves them, for the pipe's
// failures never end a run or reach standard error.
AnnouncementSource* StartAnnouncementSource(PipeSystem& pipes);

}  // namespace velmoravad
