#include "announcement/pipe_system.h"

namespace velmoravad {
namespace {

class PlatformPipeSystem final : public PipeSystem {
 public:
  HANDLE CreateNamedPipe(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                         DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                         LPSECURITY_ATTRIBUTES attributes) override {
    return ::CreateNamedPipeW(name, openMode, pipeMode, maxInstances, outBufferSize, inBufferSize,
                              defaultTimeOut, attributes);
  }
  BOOL ConnectNamedPipe(HANDLE pipe) override { return ::ConnectNamedPipe(pipe, nullptr); }
  BOOL ReadFile(HANDLE pipe, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) override {
    return ::ReadFile(pipe, buffer, bytesToRead, bytesRead, nullptr);
  }
  BOOL DisconnectNamedPipe(HANDLE pipe) override { return ::DisconnectNamedPipe(pipe); }
  void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

PipeSystem& PipeSystem::Platform() {
  static PlatformPipeSystem platform;
  return platform;
}

}  // namespace velmoravad
