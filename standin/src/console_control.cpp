// Console control handlers on SIGINT (Ctrl+C) and SIGTERM (a request to close).
// One routine may be registered at a time. It runs in the signal handler, so it
// must do no more than a Windows handler that sets a flag; a routine that
// returns FALSE passes the signal on to its default action, which ends the
// process, as Windows' default handler does.
#include <signal.h>

#include <atomic>
#include <cstddef>
#include <iterator>

#include "last_error.h"

namespace {

std::atomic<PHANDLER_ROUTINE> registeredRoutine{nullptr};
static_assert(std::atomic<PHANDLER_ROUTINE>::is_always_lock_free);

constexpr int kSignals[] = {SIGINT, SIGTERM};
// The actions in place before the routine was registered, restored after it.
struct sigaction previousActions[std::size(kSignals)];

void OnSignal(int number) {
  const PHANDLER_ROUTINE routine = registeredRoutine.load();
  const DWORD event = number == SIGINT ? CTRL_C_EVENT : CTRL_CLOSE_EVENT;
  if (routine != nullptr && routine(event)) return;
  signal(number, SIG_DFL);
  raise(number);
}

// No SA_RESTART: a blocking call sees EINTR, and the stand-in's calls go on
// with it, as Windows calls are not interrupted by a control event.
void RouteToRoutine() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], &action, &previousActions[i]);
  }
}

void RestorePreviousActions() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], &previousActions[i], nullptr);
  }
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
  if (routine == nullptr) return standin::FailWith(ERROR_INVALID_PARAMETER);
  if (add) {
    PHANDLER_ROUTINE none = nullptr;
    if (!registeredRoutine.compare_exchange_strong(none, routine)) {
      return standin::FailWith(ERROR_NOT_ENOUGH_MEMORY);  // One routine at a time.
    }
    RouteToRoutine();
    return TRUE;
  }
  PHANDLER_ROUTINE expected = routine;
  if (!registeredRoutine.compare_exchange_strong(expected, nullptr)) {
    return standin::FailWith(ERROR_INVALID_PARAMETER);
  }
  RestorePreviousActions();
  return TRUE;
}
