// The thread's last Windows error, and the mapping of errno values onto it.
#pragma once

#include <windows.h>

namespace standin {

DWORD Win32ErrorFromErrno(int error);
// Sets the last error from errno and returns it.
DWORD SetLastErrorFromErrno();
// Sets the last error to `error` and returns FALSE, as a failed call does.
inline BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace standin
