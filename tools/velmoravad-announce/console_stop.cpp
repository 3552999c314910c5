#include "velmoravad-announce/console_stop.h"

#include <windows.h>

namespace velmoravad {
namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

BOOL WINAPI OnControlEvent(DWORD /*event*/) {
  stopRequested = true;
  return TRUE;
}

}  // namespace

ConsoleStop::ConsoleStop() : registered_(SetConsoleCtrlHandler(OnControlEvent, TRUE) != FALSE) {}

ConsoleStop::~ConsoleStop() {
  if (registered_) SetConsoleCtrlHandler(OnControlEvent, FALSE);
}

const std::atomic<bool>& ConsoleStop::Requested() const { return stopRequested; }

}  // namespace velmoravad
