// The thread's last Windows error, and the mapping of errno values onto it.
#pragma once

#include <windows.h>

namespace standin {

DWORD Win32ErrorFromErrno(int error);
// Sets the last error from errno and returns it.
DWORD SetLastErrorFromErrno();

}  // namespace standin
