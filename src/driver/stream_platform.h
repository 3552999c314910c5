// What a streaming run needs besides the audio system: the monotonic clock and
// the waits of the tick schedule, the millisecond tick counter and the pause of
// the startup flush, standard output, and the announcement source. The program
// uses PlatformStreamPlatform; tests put simulated time and a recording output
// in its place, so that no test waits in real time.
//
// Threading: called from the main thread only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "announcement/announcement_source.h"
#include "common/high_resolution_timer.h"
#include "common/tick_schedule.h"

namespace velmoravad {

class StreamPlatform {
 public:
  // The monotonic clock of the tick schedule.
  virtual MonotonicClock::time_point Now() = 0;
  // The wait for a tick's deadline: returns once `milliseconds` have passed.
  virtual void WaitMilliseconds(DWORD milliseconds) = 0;
  // The millisecond tick counter of the startup flush (GetTickCount64).
  virtual ULONGLONG TickCount64() = 0;
  // The pause between the passes of the startup flush (Sleep).
  virtual void Pause(DWORD milliseconds) = 0;

  // _setmode(_fileno(standard output), _O_BINARY): -1 on failure, with the
  // system's last error set.
  virtual int SetOutputBinaryMode() = 0;
  // setvbuf(standard output, nullptr, _IONBF, 0).
  virtual void SetOutputUnbuffered() = 0;
  // fwrite of `count` samples to standard output; the count of whole samples
  // written, short when the reader has gone.
  virtual std::size_t WriteOutput(const std::int16_t* samples, std::size_t count) = 0;

  // A new AnnouncementSource with its pipe thread started, never destroyed; null
  // when memory ran out.
  virtual AnnouncementSource* StartAnnouncementSource() = 0;

 protected:
  ~StreamPlatform() = default;
};

// The platform's own: the monotonic clock, high-resolution waits, the tick
// counter, Sleep, the C runtime's stream `output`, and a new AnnouncementSource.
// On Windows, making one also makes C runtime calls on a standard output that
// does not exist fail (and be reported) instead of ending the process.
class PlatformStreamPlatform final : public StreamPlatform {
 public:
  explicit PlatformStreamPlatform(std::FILE* output);

  MonotonicClock::time_point Now() override { return MonotonicClock::now(); }
  void WaitMilliseconds(DWORD milliseconds) override;
  ULONGLONG TickCount64() override { return GetTickCount64(); }
  void Pause(DWORD milliseconds) override { Sleep(milliseconds); }
  int SetOutputBinaryMode() override;
  void SetOutputUnbuffered() override;
  std::size_t WriteOutput(const std::int16_t* samples, std::size_t count) override;
  AnnouncementSource* StartAnnouncementSource() override;

 private:
  std::FILE* output_;
  std::optional<HighResolutionTimer> timer_;  // made on the first wait, kept for the run
};

}  // namespace velmoravad
