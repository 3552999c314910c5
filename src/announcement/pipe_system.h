// The named-pipe calls the pipe server makes, as one seam: the platform's own
// Win32 calls (the stand-in's on Linux), made by the program's entry and handed
// down, or a test's, which can count them and make any one fail. Each has the
// shape of the Win32 call it stands for and leaves its error in the thread's
// last error on failure.
//
// Threading and lifetime: called from the pipe server thread only, which runs
// until the process ends, so the object it is given must live as long.
// PlatformPipeSystem has no state.
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

 protected:
  ~PipeSystem() = default;
};

// The platform's pipe calls.
class PlatformPipeSystem final : public PipeSystem {
 public:
  HANDLE CreateNamedPipe(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                         DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                         LPSECURITY_ATTRIBUTES attributes) override;
  BOOL ConnectNamedPipe(HANDLE pipe) override;
  BOOL ReadFile(HANDLE pipe, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) override;
  BOOL DisconnectNamedPipe(HANDLE pipe) override;
  void Sleep(DWORD milliseconds) override;
};

}  // namespace velmoravad
