// The PulseAudio connection: a mainloop and one context, shared by every object
// of the audio system in the process. Each object holds a shared_ptr, so devices
// and clients stay usable after the enumerator that made them is gone; the
// connection closes when the last of them lets go.
//
// The mainloop has no thread of its own: the caller drives it. Waits run it
// until their answer is in (WaitUntil, bounded by a timeout and ended early when
// the context fails), and capture calls take in what the server has sent
// (Dispatch, one pass that serves every stream; see
// PulseRecordStream::FillPacket). Streams of 10 ms fragments then cost no
// wake-ups of their own: at each tick one pass reads what all of them have sent.
// libpulse callbacks run inside those calls and only record results. A
// MainloopLock around each use keeps callers on different threads apart.
#pragma once

#include <pulse/pulseaudio.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace standin {

// How long any single wait for the server may take: connecting, a query, setting
// up a stream, corking.
inline constexpr pa_usec_t kServerReplyTimeout = 5 * PA_USEC_PER_SEC;

// How old what capture calls see of the server may be within a drain, or while
// a packet is held: a period of a shared stream. (A drain that hands out starts
// with a fresh pass.)
inline constexpr pa_usec_t kDispatchInterval = 10 * PA_USEC_PER_MSEC;

class PulseConnection {
 public:
  // The process's connection, connected on first use, or anew when the previous
  // one has failed. A server that cannot be reached gives
  // AUDCLNT_E_SERVICE_NOT_RUNNING.
  static HRESULT Acquire(std::shared_ptr<PulseConnection>* connection);

  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;
  ~PulseConnection();

  pa_context* Context() const { return context_; }

  // With the mainloop locked: runs the mainloop until done() holds (true), or the
  // context fails or the timeout passes (false).
  bool WaitUntil(const std::function<bool()>& done, pa_usec_t timeout = kServerReplyTimeout);

  // With the mainloop locked: handles everything the server has sent so far
  // (data, state changes, a closed connection) without waiting: one pass.
  void Dispatch();
  // Dispatch, unless it last ran less than kDispatchInterval ago.
  void DispatchIfDue();
  // With the mainloop locked: the passes made so far, so that a stream can tell
  // whether one has run since it last looked.
  std::uint64_t Passes() const { return passes_; }
  // With the mainloop locked: the rounds begun so far, a new one begun at `now`
  // when the last began `interval` or longer before. Streams that hand out
  // packets once a round keep in step with each other by them.
  std::uint64_t RoundIfDue(pa_usec_t now, pa_usec_t interval);

  // With the mainloop locked: waits for an operation to finish and drops the
  // reference. An operation that does not finish in time is cancelled, so its
  // callback never runs afterwards. Null (a request that could not be sent)
  // gives false.
  bool WaitForOperation(pa_operation* operation);

  // With the mainloop locked: whether the context is connected.
  bool IsReady() const;

 private:
  PulseConnection() = default;
  HRESULT Connect();

  friend class MainloopLock;
  std::mutex mutex_;
  pa_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_usec_t lastDispatch_ = 0;
  std::uint64_t passes_ = 0;
  std::uint64_t rounds_ = 0;
  pa_usec_t roundBegan_ = 0;
};

// Holds the connection's mainloop lock for a scope.
class MainloopLock {
 public:
  explicit MainloopLock(PulseConnection& connection) : guard_(connection.mutex_) {}
  MainloopLock(const MainloopLock&) = delete;
  MainloopLock& operator=(const MainloopLock&) = delete;

 private:
  std::lock_guard<std::mutex> guard_;
};

}  // namespace standin
