#include "announcement/announcement_source.h"

#include <array>
#include <thread>

#include "announcement/sample_assembler.h"

namespace velmoravad {

namespace {

// True once a writer is connected to `pipe`, including one that connected
// between the creation of the instance and this wait.
bool WaitForWriter(HANDLE pipe) {
  return ConnectNamedPipe(pipe, nullptr) != FALSE || GetLastError() == ERROR_PIPE_CONNECTED;
}

}  // namespace

void AnnouncementSource::StartPipeThread() {
  std::thread([this] { ServePipe(); }).detach();
}

std::int16_t AnnouncementSource::TakeSample() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.Empty()) return 0;
  const std::int16_t sample = queue_.Front();
  queue_.PopFront();
  return sample;
}

void AnnouncementSource::ServePipe() {
  for (;;) ServeConnection(CreatePipeInstance());
}

UniqueHandle AnnouncementSource::CreatePipeInstance() {
  for (;;) {
    UniqueHandle pipe(CreateNamedPipeW(
        kPipeName, PIPE_ACCESS_INBOUND,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_ACCEPT_REMOTE_CLIENTS,
        /*nMaxInstances=*/1, /*nOutBufferSize=*/0, kPipeInputBufferBytes, /*nDefaultTimeOut=*/0,
        /*lpSecurityAttributes=*/nullptr));
    if (pipe.IsValid()) return pipe;
    Sleep(kCreateRetryDelayMilliseconds);
  }
}

void AnnouncementSource::ServeConnection(UniqueHandle pipe) {
  if (WaitForWriter(pipe.Get())) {
    SampleAssembler assembler;
    std::array<std::uint8_t, kReadBytes> bytes;
    std::array<std::int16_t, SampleAssembler::MaximumSamples(kReadBytes)> samples;
    for (;;) {
      DWORD bytesRead = 0;
      if (!ReadFile(pipe.Get(), bytes.data(), kReadBytes, &bytesRead, nullptr) || bytesRead == 0) {
        break;
      }
      AppendSamples(samples.data(), assembler.Assemble(bytes.data(), bytesRead, samples.data()));
    }
  }
  DisconnectNamedPipe(pipe.Get());
  pipe.Close();
}

void AnnouncementSource::AppendSamples(const std::int16_t* samples, std::size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.Append(samples, count);
  queue_.TrimFront(kQueueCapSamples);
}

}  // namespace velmoravad
