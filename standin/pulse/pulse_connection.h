// The PulseAudio connection: a threaded mainloop and one context, shared by every
// object of the audio system in the process. Each object holds a shared_ptr, so
// devices and clients stay usable after the enumerator that made them is gone;
// the connection closes when the last of them lets go.
//
// Threading: libpulse callbacks run on the mainloop thread and only record
// results and signal. Every other thread holds a MainloopLock around each
// libpulse call, and waits through WaitUntil, which is bounded by a timeout and
// ends early when the context fails. Nothing may be destroyed on the mainloop
// thread.
#pragma once

#include <pulse/pulseaudio.h>
#include <windows.h>

#include <functional>
#include <memory>

namespace standin {

// How long any single wait for the server may take: connecting, a query, setting
// up a stream, corking.
inline constexpr pa_usec_t kServerReplyTimeout = 5 * PA_USEC_PER_SEC;

class PulseConnection {
 public:
  // The process's connection, connected on first use, or anew when the previous
  // one has failed. A server that cannot be reached gives
  // AUDCLNT_E_SERVICE_NOT_RUNNING.
  static HRESULT Acquire(std::shared_ptr<PulseConnection>* connection);

  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;
  ~PulseConnection();

  pa_threaded_mainloop* Mainloop() const { return mainloop_; }
  pa_context* Context() const { return context_; }

  // With the mainloop locked: waits until done() holds (true), or the context
  // fails or the timeout passes (false). Callbacks that change what done() reads
  // must call Signal.
  bool WaitUntil(const std::function<bool()>& done, pa_usec_t timeout = kServerReplyTimeout);

  // With the mainloop locked: waits for an operation to finish and drops the
  // reference. An operation that does not finish in time is cancelled, so its
  // callback never runs afterwards. Null (a request that could not be sent)
  // gives false.
  bool WaitForOperation(pa_operation* operation);

  // Wakes the threads waiting in WaitUntil; for callbacks on the mainloop thread.
  void Signal();

  // With the mainloop locked: whether the context is connected.
  bool IsReady() const;

 private:
  PulseConnection() = default;
  HRESULT Connect();

  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  bool mainloopRunning_ = false;
};

// Holds the connection's mainloop lock for a scope.
class MainloopLock {
 public:
  explicit MainloopLock(const PulseConnection& connection) : mainloop_(connection.Mainloop()) {
    pa_threaded_mainloop_lock(mainloop_);
  }
  MainloopLock(const MainloopLock&) = delete;
  MainloopLock& operator=(const MainloopLock&) = delete;
  ~MainloopLock() { pa_threaded_mainloop_unlock(mainloop_); }

 private:
  pa_threaded_mainloop* mainloop_;
};

}  // namespace standin
