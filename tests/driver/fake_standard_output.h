// A simulated StandardOutput on a FakeClock: records every block written and
// when, and comes up short after a set number of blocks, as a reader that has
// had enough. A write can stall for a while of simulated time, and binary mode
// can fail. Its own bookkeeping is not counted as allocations of the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "capture/fake_audio_system.h"
#include "common/allocation_counter.h"
#include "common/fake_clock.h"
#include "common/hresult.h"
#include "driver/standard_output.h"

namespace velmoravad::testing {

class FakeStandardOutput final : public StandardOutput {
 public:
  using Milliseconds = std::chrono::milliseconds;

  explicit FakeStandardOutput(FakeClock& clock) : clock_(clock) {}

  int SetBinaryMode() override {
    if (realOutput != nullptr) return realOutput->SetBinaryMode();
    if (Injected(FakeCall::kSetOutputBinaryMode)) binaryModeError = ERROR_INVALID_HANDLE;
    if (binaryModeError) {
      SetLastError(*binaryModeError);
      return -1;
    }
    return 0x4000;  // _O_TEXT, the mode before
  }
  void SetUnbuffered() override {
    if (realOutput != nullptr) realOutput->SetUnbuffered();
    unbuffered = true;
  }
  std::size_t Write(const std::int16_t* samples, std::size_t count) override {
    const NotCounted bookkeeping;
    if (Injected(FakeCall::kWriteOutput)) return count - 1;
    if (realOutput != nullptr) {
      const std::size_t written = realOutput->Write(samples, count);
      if (written != count) return written;
    } else if (blocks.size() == blocksAccepted) {
      return count / 2;
    }
    blocks.emplace_back(samples, samples + count);
    writeTimes.push_back(clock_.ElapsedMilliseconds());
    if (const auto stall = stalls.find(blocks.size()); stall != stalls.end()) {
      clock_.Advance(stall->second);
    }
    return count;
  }

  // Script.
  std::size_t blocksAccepted = 3;              // the write after these comes up short
  std::map<std::size_t, Milliseconds> stalls;  // after block n (1-based) is written
  std::optional<DWORD> binaryModeError;
  // When set, the writes go on to this (a real stream), and the run ends when a
  // real write comes up short.
  StandardOutput* realOutput = nullptr;
  // When set, binary mode and writes are calls that can fail, counted in this
  // audio system's sequence of calls (failing: binary mode with
  // ERROR_INVALID_HANDLE, a short write).
  FakeAudioSystem* injection = nullptr;

  // Record.
  bool unbuffered = false;
  std::vector<std::vector<std::int16_t>> blocks;
  std::vector<Milliseconds> writeTimes;

 private:
  bool Injected(FakeCall call) {
    return injection != nullptr && Failed(injection->FailureFor(nullptr, call));
  }

  FakeClock& clock_;
};

}  // namespace velmoravad::testing
