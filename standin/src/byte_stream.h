// A kernel object that ReadFile and WriteFile serve: a file, a standard stream,
// or either end of a named pipe. Each kind overrides the directions it serves;
// the other fails as Windows fails a handle opened without that access.
#pragma once

#include <windows.h>

#include "kernel_object.h"

namespace standin {

class ByteStream : public KernelObject {
 public:
  // Blocking, as a handle opened without overlapped I/O. `done` is in bytes; a
  // read of 0 bytes is the end of the stream.
  virtual BOOL Read(LPVOID buffer, DWORD count, DWORD& done);
  virtual BOOL Write(LPCVOID buffer, DWORD count, DWORD& done);
};

// ReadFile on a descriptor: a read that a signal interrupted is made again, as
// Windows calls are not interrupted; at the end of the stream `done` is 0.
BOOL ReadDescriptor(int fd, LPVOID buffer, DWORD count, DWORD& done);

// The stream behind a handle, or null when the handle is none.
inline ByteStream* ByteStreamFromHandle(HANDLE handle) {
  return dynamic_cast<ByteStream*>(ObjectFromHandle(handle));
}

}  // namespace standin
