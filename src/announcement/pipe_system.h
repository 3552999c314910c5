// The named-pipe calls the pipe server makes, as one seam: the platform's own
// Win32 calls (the stand-in's on Linux), or a test's, which can count them and
// make any one fail. Each has the shape of the Win32 call it stands for and
// leaves its error in the thread's last error on failure.
//
// Threading: called from the pipe server thread only; the platform's own object
// has no state.
#pragma once

#include <windows.h>

namespace velmoravad {

class PipeSystem {
 public:
  virtual HANDLE CreateNamedPipe(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                                 DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                                 LPSECURITY_ATTRIBUTES attributes) = 0;
  virtual BOOL ConnectNamedPipe(HANDLE pipe) = 0;
  virtual BOOL ReadFile(HANDLE pipe, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) = 0;
  virtual BOOL DisconnectNamedPipe(HANDLE pipe) = 0;
  virtual void Sleep(DWORD milliseconds) = 0;

  // The platform's pipe calls.
  static PipeSystem& Platform();

 protected:
  ~PipeSystem() = default;
};

}  // namespace velmoravad
