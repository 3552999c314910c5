// The multimedia class scheduler's thread registration: accepted for any task
// name and undone by the revert, with nothing to change on Linux. The handle is
// one object's address, good only for AvRevertMmThreadCharacteristics.
#include <avrt.h>

namespace {

int registrationToken = 0;

}  // namespace

HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR taskName, LPDWORD taskIndex) {
  if (taskName == nullptr || taskIndex == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &registrationToken;
}

BOOL AvRevertMmThreadCharacteristics(HANDLE registration) {
  if (registration != &registrationToken) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
