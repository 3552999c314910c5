// ReadFile and WriteFile, handed to the stream behind the handle.
#include "byte_stream.h"

#include <unistd.h>

#include <cerrno>

#include "last_error.h"

using standin::FailWith;

namespace standin {

BOOL ByteStream::Read(LPVOID, DWORD, DWORD&) { return FailWith(ERROR_ACCESS_DENIED); }
BOOL ByteStream::Write(LPCVOID, DWORD, DWORD&) { return FailWith(ERROR_ACCESS_DENIED); }

BOOL ReadDescriptor(int fd, LPVOID buffer, DWORD count, DWORD& done) {
  for (;;) {
    const ssize_t got = read(fd, buffer, count);
    if (got >= 0) {
      done = static_cast<DWORD>(got);
      return TRUE;
    }
    if (errno != EINTR) {
      SetLastErrorFromErrno();
      return FALSE;
    }
  }
}

}  // namespace standin

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
  if (bytesRead != nullptr) *bytesRead = 0;
  standin::ByteStream* stream = standin::ByteStreamFromHandle(handle);
  if (stream == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (overlapped != nullptr || bytesRead == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return stream->Read(buffer, bytesToRead, *bytesRead);
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  standin::ByteStream* stream = standin::ByteStreamFromHandle(handle);
  if (stream == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (overlapped != nullptr || bytesWritten == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return stream->Write(buffer, bytesToWrite, *bytesWritten);
}
