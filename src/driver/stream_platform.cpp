#include "driver/stream_platform.h"

#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <new>
#include <system_error>

namespace velmoravad {
namespace {

#ifdef _WIN32
// The C runtime's default answer to a bad argument (such as the descriptor of a
// standard output that a process was started without) ends the process. With
// this handler the call fails instead, with errno set, and the run reports it.
void ReturnFromInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned,
                                std::uintptr_t) {}
#endif

}  // namespace

PlatformStreamPlatform::PlatformStreamPlatform(std::FILE* output) : output_(output) {
#ifdef _WIN32
  _set_invalid_parameter_handler(ReturnFromInvalidParameter);
#endif
}

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
