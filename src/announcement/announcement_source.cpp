#include "announcement/announcement_source.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "announcement/frame_assembler.h"

namespace velmoravad {

namespace {

constexpr std::size_t kReadFramesAtMost =
    FrameAssembler::MaximumFrames(AnnouncementSource::kReadBytes);

}  // namespace

AnnouncementSource::AnnouncementSource(PipeSystem& pipes) : pipes_(pipes) {
  queue_.Reserve((kQueueCapFrames + kReadFramesAtMost) * kAnnouncementChannels);
}

void AnnouncementSource::StartPipeThread() {
  std::thread([this] { ServePipe(); }).detach();
}

std::size_t AnnouncementSource::TakeFrames(std::int16_t* destination, std::size_t frames,
                                           std::size_t stride) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t taken = std::min(frames, queue_.Size() / kAnnouncementChannels);
  const std::int16_t* queued = queue_.Data();
  for (std::size_t frame = 0; frame < taken; ++frame) {
    destination[frame * stride] = queued[frame * kAnnouncementChannels];
    destination[frame * stride + 1] = queued[frame * kAnnouncementChannels + 1];
  }
  queue_.PopFront(taken * kAnnouncementChannels);
  return taken;
}

void AnnouncementSource::ServePipe() {
  for (;;) {
    // Nothing here allocates on Windows; should the platform's pipe calls run
    // out of memory, that ends only the connection (its handle closes on the way).
    try {
      ServeConnection(CreatePipeInstance());
    } catch (const std::bad_alloc&) {
      pipes_.Sleep(kCreateRetryDelayMilliseconds);
    }
  }
}

UniqueHandle AnnouncementSource::CreatePipeInstance() {
  for (;;) {
    UniqueHandle pipe(pipes_.CreateNamedPipe(
        kAnnouncementPipeName, PIPE_ACCESS_INBOUND,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_ACCEPT_REMOTE_CLIENTS,
        /*nMaxInstances=*/1, /*nOutBufferSize=*/0, kPipeInputBufferBytes, /*nDefaultTimeOut=*/0,
        /*lpSecurityAttributes=*/nullptr));
    if (pipe.IsValid()) return pipe;
    pipes_.Sleep(kCreateRetryDelayMilliseconds);
  }
}

void AnnouncementSource::ServeConnection(UniqueHandle pipe) {
  // Connected, including a writer that came between the creation and this wait.
  if (pipes_.ConnectNamedPipe(pipe.Get()) || GetLastError() == ERROR_PIPE_CONNECTED) {
    FrameAssembler assembler;
    std::array<std::uint8_t, kReadBytes> bytes;
    std::array<std::int16_t, kReadFramesAtMost * kAnnouncementChannels> samples;
    for (;;) {
      DWORD bytesRead = 0;
      if (!pipes_.ReadFile(pipe.Get(), bytes.data(), kReadBytes, &bytesRead) || bytesRead == 0) {
        break;
      }
      AppendFrames(samples.data(), assembler.Assemble(bytes.data(), bytesRead, samples.data()));
    }
  }
  pipes_.DisconnectNamedPipe(pipe.Get());
  pipe.Close();
}

void AnnouncementSource::AppendFrames(const std::int16_t* samples, std::size_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.Append(samples, frames * kAnnouncementChannels);
  queue_.TrimFront(kQueueCapFrames * kAnnouncementChannels);
}

AnnouncementSource* StartAnnouncementSource(PipeSystem& pipes) {
  try {
    auto source = std::make_unique<AnnouncementSource>(pipes);
    source->StartPipeThread();
    // From here on its thread uses it until the process ends.
    return source.release();
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  return nullptr;
}

}  // namespace velmoravad
