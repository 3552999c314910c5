#include "pulse/pulse_connection.h"

#include <audioclient.h>

#include <mutex>

namespace standin {
namespace {

// The connection that objects currently share; empty when none is alive.
std::mutex sharedConnectionMutex;
std::weak_ptr<PulseConnection> sharedConnection;

// Mainloop passes per Dispatch: enough for a round's messages (100 ms) of dozens
// of streams read through the socket, two passes each, and a bound should the
// loop keep finding work.
constexpr int kMaxDispatchPasses = 4096;

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* passed) {
  *static_cast<bool*>(passed) = true;
}

}  // namespace

HRESULT PulseConnection::Acquire(std::shared_ptr<PulseConnection>* connection) {
  std::lock_guard<std::mutex> guard(sharedConnectionMutex);
  if (std::shared_ptr<PulseConnection> existing = sharedConnection.lock()) {
    bool ready = false;
    {
      MainloopLock lock(*existing);
      ready = existing->IsReady();
    }
    if (ready) {
      *connection = std::move(existing);
      return S_OK;
    }
  }
  std::shared_ptr<PulseConnection> fresh(new PulseConnection);
  const HRESULT result = fresh->Connect();
  if (FAILED(result)) return result;
  sharedConnection = fresh;
  *connection = std::move(fresh);
  return S_OK;
}

HRESULT PulseConnection::Connect() {
  mainloop_ = pa_mainloop_new();
  if (mainloop_ == nullptr) return E_OUTOFMEMORY;
  context_ = pa_context_new(pa_mainloop_get_api(mainloop_), "velmoravad-aggregate");
  if (context_ == nullptr) return E_OUTOFMEMORY;

  MainloopLock lock(*this);
  // No autospawn: a missing server is a failure, never a daemon started behind
  // the caller's back. libpulse finds the server itself (PULSE_SERVER, ...).
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return AUDCLNT_E_SERVICE_NOT_RUNNING;
  }
  const bool ready = WaitUntil([this] { return IsReady(); });
  return ready ? S_OK : AUDCLNT_E_SERVICE_NOT_RUNNING;
}

PulseConnection::~PulseConnection() {
  if (context_ != nullptr) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (mainloop_ != nullptr) pa_mainloop_free(mainloop_);
}

bool PulseConnection::IsReady() const { return pa_context_get_state(context_) == PA_CONTEXT_READY; }

void PulseConnection::DispatchIfDue() {
  if (pa_rtclock_now() - lastDispatch_ >= kDispatchInterval) Dispatch();
}

std::uint64_t PulseConnection::RoundIfDue(pa_usec_t now, pa_usec_t interval) {
  if (now - roundBegan_ >= interval) {
    roundBegan_ = now;
    ++rounds_;
  }
  return rounds_;
}

void PulseConnection::Dispatch() {
  lastDispatch_ = pa_rtclock_now();
  ++passes_;
  for (int pass = 0; pass < kMaxDispatchPasses; ++pass) {
    if (pa_mainloop_iterate(mainloop_, 0, nullptr) <= 0) return;
  }
}

bool PulseConnection::WaitUntil(const std::function<bool()>& done, pa_usec_t timeout) {
  bool deadlinePassed = false;
  pa_time_event* timer =
      pa_context_rttime_new(context_, pa_rtclock_now() + timeout, OnDeadline, &deadlinePassed);
  if (timer == nullptr) return false;  // no bound on the wait: do not wait at all
  bool finished = false;
  for (;;) {
    if (done()) {
      finished = true;
      break;
    }
    if (deadlinePassed || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) break;
    // Blocks until the server answers or the deadline's timer fires.
    if (pa_mainloop_iterate(mainloop_, 1, nullptr) < 0) break;
  }
  pa_mainloop_get_api(mainloop_)->time_free(timer);
  return finished;
}

bool PulseConnection::WaitForOperation(pa_operation* operation) {
  if (operation == nullptr) return false;
  WaitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
  const pa_operation_state_t state = pa_operation_get_state(operation);
  if (state == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return state == PA_OPERATION_DONE;
}

}  // namespace standin
