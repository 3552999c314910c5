#include "announcement/pipe_system.h"

namespace velmoravad {

HANDLE PlatformPipeSystem::CreateNamedPipe(LPCWSTR name, DWORD openMode, DWORD pipeMode,
                                           DWORD maxInstances, DWORD outBufferSize,
                                           DWORD inBufferSize, DWORD defaultTimeOut,
                                           LPSECURITY_ATTRIBUTES attributes) {
  return ::CreateNamedPipeW(name, openMode, pipeMode, maxInstances, outBufferSize, inBufferSize,
                            defaultTimeOut, attributes);
}

BOOL PlatformPipeSystem::ConnectNamedPipe(HANDLE pipe) { return ::ConnectNamedPipe(pipe, nullptr); }

BOOL PlatformPipeSystem::ReadFile(HANDLE pipe, LPVOID buffer, DWORD bytesToRead,
                                  LPDWORD bytesRead) {
  return ::ReadFile(pipe, buffer, bytesToRead, bytesRead, nullptr);
}

BOOL PlatformPipeSystem::DisconnectNamedPipe(HANDLE pipe) { return ::DisconnectNamedPipe(pipe); }

void PlatformPipeSystem::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace velmoravad
