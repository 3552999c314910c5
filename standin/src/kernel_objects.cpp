// Events and CloseHandle. An event is only created, registered with a stream and
// closed; nothing in the program waits on one, so it carries no state.
#include "kernel_object.h"

#include <new>

namespace {
class Event final : public standin::KernelObject {};
}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) {
  auto* event = new (std::nothrow) Event;
  if (event == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return static_cast<standin::KernelObject*>(event);
}

BOOL CloseHandle(HANDLE handle) {
  standin::KernelObject* object = standin::ObjectFromHandle(handle);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete object;
  return TRUE;
}
