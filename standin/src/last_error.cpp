#include "last_error.h"

#include <cerrno>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

namespace standin {

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EPIPE:
    case ECONNRESET:
      return ERROR_BROKEN_PIPE;
    case EADDRINUSE:
      return ERROR_PIPE_BUSY;
    case ENOTCONN:
      return ERROR_PIPE_NOT_CONNECTED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD SetLastErrorFromErrno() {
  const DWORD error = Win32ErrorFromErrno(errno);
  SetLastError(error);
  return error;
}

}  // namespace standin
