#include "pulse/pulse_connection.h"

#include <audioclient.h>

#include <mutex>

namespace standin {
namespace {

// The connection that objects currently share; empty when none is alive.
std::mutex sharedConnectionMutex;
std::weak_ptr<PulseConnection> sharedConnection;

void SignalConnection(void* connection) { static_cast<PulseConnection*>(connection)->Signal(); }

void OnContextStateChanged(pa_context*, void* connection) { SignalConnection(connection); }

void OnOperationStateChanged(pa_operation*, void* connection) { SignalConnection(connection); }

struct Deadline {
  PulseConnection* connection;
  bool passed = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
  auto* deadline = static_cast<Deadline*>(userdata);
  deadline->passed = true;
  deadline->connection->Signal();
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
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) return E_OUTOFMEMORY;
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "velmoravad-aggregate");
  if (context_ == nullptr) return E_OUTOFMEMORY;
  pa_context_set_state_callback(context_, OnContextStateChanged, this);
  if (pa_threaded_mainloop_start(mainloop_) < 0) return E_FAIL;
  mainloopRunning_ = true;

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
    if (mainloopRunning_) pa_threaded_mainloop_lock(mainloop_);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    if (mainloopRunning_) pa_threaded_mainloop_unlock(mainloop_);
  }
  if (mainloop_ != nullptr) {
    if (mainloopRunning_) pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
  }
}

bool PulseConnection::IsReady() const { return pa_context_get_state(context_) == PA_CONTEXT_READY; }

void PulseConnection::Signal() { pa_threaded_mainloop_signal(mainloop_, 0); }

bool PulseConnection::WaitUntil(const std::function<bool()>& done, pa_usec_t timeout) {
  Deadline deadline{this};
  pa_time_event* timer =
      pa_context_rttime_new(context_, pa_rtclock_now() + timeout, OnDeadline, &deadline);
  if (timer == nullptr) return false;  // no bound on the wait: do not wait at all
  bool finished = false;
  for (;;) {
    if (done()) {
      finished = true;
      break;
    }
    if (deadline.passed || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) break;
    pa_threaded_mainloop_wait(mainloop_);
  }
  pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
  return finished;
}

bool PulseConnection::WaitForOperation(pa_operation* operation) {
  if (operation == nullptr) return false;
  pa_operation_set_state_callback(operation, OnOperationStateChanged, this);
  WaitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
  const pa_operation_state_t state = pa_operation_get_state(operation);
  if (state == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
  pa_operation_set_state_callback(operation, nullptr, nullptr);
  pa_operation_unref(operation);
  return state == PA_OPERATION_DONE;
}

}  // namespace standin
