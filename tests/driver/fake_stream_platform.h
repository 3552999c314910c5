// A simulated StreamPlatform: time passes only when the run waits, pauses or a
// script stalls a write, so a streaming run of any length takes no real time.
// It records every block written and every wait, and ends the run with a short
// write after a set number of blocks. Actions can be scheduled at points of
// simulated time (queue a packet, make a call fail) and run as time reaches them.
// Its own bookkeeping is not counted as allocations of the run.
#pragma once

#include "capture/fake_audio_system.h"
#include "common/allocation_counter.h"
#include "common/hresult.h"
#include "driver/stream_platform.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace velmoravad::testing {

class FakeStreamPlatform final : public StreamPlatform {
 public:
  using Milliseconds = std::chrono::milliseconds;

  // The tick counter's reading when simulated time starts.
  static constexpr ULONGLONG kFirstTickCount = 7000000;

  MonotonicClock::time_point Now() override { return kStart + elapsed_; }
  void WaitMilliseconds(DWORD milliseconds) override {
    const NotCounted bookkeeping;
    waits.push_back({blocks.size(), milliseconds});
    Advance(std::chrono::milliseconds(milliseconds));
  }
  ULONGLONG TickCount64() override {
    return kFirstTickCount +
           static_cast<ULONGLONG>(std::chrono::duration_cast<Milliseconds>(elapsed_).count());
  }
  void Pause(DWORD milliseconds) override {
    ++pauses;
    Advance(pauseLength.count() > 0 ? pauseLength : std::chrono::milliseconds(milliseconds));
  }
  int SetOutputBinaryMode() override {
    if (realOutput != nullptr) return realOutput->SetOutputBinaryMode();
    if (Injected(FakeCall::kSetOutputBinaryMode)) binaryModeError = ERROR_INVALID_HANDLE;
    if (binaryModeError) {
      SetLastError(*binaryModeError);
      return -1;
    }
    return 0x4000;  // _O_TEXT, the mode before
  }
  void SetOutputUnbuffered() override {
    if (realOutput != nullptr) realOutput->SetOutputUnbuffered();
    unbuffered = true;
  }
  std::size_t WriteOutput(const std::int16_t* samples, std::size_t count) override {
    const NotCounted bookkeeping;
    if (Injected(FakeCall::kWriteOutput)) return count - 1;
    if (realOutput != nullptr) {
      const std::size_t written = realOutput->WriteOutput(samples, count);
      if (written != count) return written;
    } else if (blocks.size() == blocksAccepted) {
      return count / 2;
    }
    blocks.emplace_back(samples, samples + count);
    writeTimes.push_back(Elapsed());
    if (const auto stall = stalls.find(blocks.size()); stall != stalls.end()) {
      Advance(stall->second);
    }
    return count;
  }
  AnnouncementSource* StartAnnouncementSource() override {
    announcementStart = Elapsed();
    return Injected(FakeCall::kStartAnnouncementSource) ? nullptr : announcements;
  }

  // Runs `action` once simulated time has reached `time`.
  void At(Milliseconds time, std::function<void()> action) {
    actions_.emplace(time, std::move(action));
    RunDueActions();
  }
  Milliseconds Elapsed() const { return std::chrono::duration_cast<Milliseconds>(elapsed_); }

  // Script.
  std::size_t blocksAccepted = 3;              // the write after these comes up short
  std::map<std::size_t, Milliseconds> stalls;  // after block n (1-based) is written
  std::optional<DWORD> binaryModeError;
  AnnouncementSource* announcements = nullptr;
  // When set, standard output is this platform's (a real stream) and the run
  // ends when a real write comes up short.
  StreamPlatform* realOutput = nullptr;
  // Each pause of the flush takes this long instead, when not zero (fewer passes).
  Milliseconds pauseLength{0};
  // When set, binary mode, writes and the announcement source are calls that
  // can fail, counted in this audio system's sequence of calls (failing: binary
  // mode with ERROR_INVALID_HANDLE, a short write, no announcement source).
  FakeAudioSystem* injection = nullptr;

  // Record.
  struct Wait {
    std::size_t blocksBefore;
    DWORD milliseconds;
  };
  std::vector<Wait> waits;
  std::size_t pauses = 0;
  bool unbuffered = false;
  std::vector<std::vector<std::int16_t>> blocks;
  std::vector<Milliseconds> writeTimes;
  std::optional<Milliseconds> announcementStart;

 private:
  static constexpr MonotonicClock::time_point kStart{std::chrono::hours(1000)};

  bool Injected(FakeCall call) {
    return injection != nullptr && Failed(injection->FailureFor(nullptr, call));
  }

  void Advance(MonotonicClock::duration duration) {
    elapsed_ += duration;
    RunDueActions();
  }
  void RunDueActions() {
    const NotCounted bookkeeping;
    while (!actions_.empty() && actions_.begin()->first <= elapsed_) {
      auto action = std::move(actions_.begin()->second);
      actions_.erase(actions_.begin());
      action();
    }
  }

  MonotonicClock::duration elapsed_{};
  std::multimap<Milliseconds, std::function<void()>> actions_;
};

}  // namespace velmoravad::testing
