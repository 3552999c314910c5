#include "driver/stream_platform.h"

#include <fcntl.h>
#include <io.h>

#include <new>
#include <system_error>

namespace velmoravad {

void PlatformStreamPlatform::WaitMilliseconds(DWORD milliseconds) {
  if (!timer_) timer_.emplace();
  timer_->Sleep(milliseconds);
}

int PlatformStreamPlatform::SetOutputBinaryMode() { return _setmode(_fileno(output_), _O_BINARY); }

void PlatformStreamPlatform::SetOutputUnbuffered() { std::setvbuf(output_, nullptr, _IONBF, 0); }

std::size_t PlatformStreamPlatform::WriteOutput(const std::int16_t* samples, std::size_t count) {
  return std::fwrite(samples, sizeof(std::int16_t), count, output_);
}

AnnouncementSource* PlatformStreamPlatform::StartAnnouncementSource() {
  // The pipe's failures never end the run or reach standard error: a source
  // that cannot be made, or a thread that cannot start, leaves the announcement
  // channels silent, as a pipe that cannot be created does.
  AnnouncementSource* source = nullptr;
  try {
    source = new AnnouncementSource;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  try {
    source->StartPipeThread();
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  return source;
}

}  // namespace velmoravad
