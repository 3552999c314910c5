// Pipe calls for a pipe server thread that runs on its own, as the program's
// does: writers that the test adds connect one after another and hand over
// their bytes in reads of up to what the server asks; with no writer left, the
// server waits in ConnectNamedPipe for the next. WaitUntilServed tells when
// every byte given so far has been read and the server waits again, so that
// everything it read has been queued.
//
// Threading and lifetime: the test's thread adds writers and waits; the server
// thread makes the calls; one mutex guards the writers. A server thread never
// ends, so NewFakePipeSystem makes one that is never destroyed.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "announcement/pipe_system.h"

namespace velmoravad::testing {

class FakePipeSystem final : public PipeSystem {
 public:
  void AddWriter(std::vector<std::uint8_t> bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    writers_.push_back(std::move(bytes));
    changed_.notify_all();
  }
  // Whether the server took every writer's bytes within `patience` of real time.
  bool WaitUntilServed(std::chrono::milliseconds patience) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, patience, [this] { return writers_.empty() && waiting_; });
  }
  // Whether a pipe instance was ever created.
  bool InstanceCreated() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return instanceCreated_;
  }

  HANDLE CreateNamedPipe(LPCWSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                         LPSECURITY_ATTRIBUTES) override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      instanceCreated_ = true;
    }
    return CreateEventW(nullptr, FALSE, FALSE, nullptr);  // a real handle to close
  }
  BOOL ConnectNamedPipe(HANDLE) override {
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !writers_.empty(); });
    waiting_ = false;
    connected_ = std::move(writers_.front());
    writers_.pop_front();
    delivered_ = 0;
    return TRUE;
  }
  // The connected writer's next bytes; 0 bytes once it has sent them all.
  BOOL ReadFile(HANDLE, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t size = std::min<std::size_t>(bytesToRead, connected_.size() - delivered_);
    std::copy_n(connected_.begin() + static_cast<std::ptrdiff_t>(delivered_), size,
                static_cast<std::uint8_t*>(buffer));
    delivered_ += size;
    *bytesRead = static_cast<DWORD>(size);
    return TRUE;
  }
  BOOL DisconnectNamedPipe(HANDLE) override { return TRUE; }
  void Sleep(DWORD) override {}

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<std::uint8_t>> writers_;  // still to connect
  std::vector<std::uint8_t> connected_;            // the writer being served
  std::size_t delivered_ = 0;                      // of its bytes
  bool waiting_ = false;                           // the server waits for a writer
  bool instanceCreated_ = false;
};

// A FakePipeSystem that lives until the process ends, as a server thread does.
// Each one is kept on a list that a global holds, so that one no thread came to
// use still counts as reachable rather than leaked.
inline FakePipeSystem& NewFakePipeSystem() {
  struct Kept {
    FakePipeSystem pipes;
    Kept* next;
  };
  static Kept* kept = nullptr;
  kept = new Kept{{}, kept};
  return kept->pipes;
}

}  // namespace velmoravad::testing
