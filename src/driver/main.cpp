// The process entry: hands the arguments, as wide strings, the standard streams
// and the platform's clock, standard output and pipe calls to the run. On Linux
// the arguments arrive as UTF-8, and a write to a closed standard output must
// come back short instead of ending the process. Memory that runs out while the
// arguments are copied, before the run has begun, is reported in the run's
// usual form.
#include "common/hresult.h"
#include "driver/aggregate_run.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace {

int RunWithArguments(const std::vector<std::wstring>& arguments) {
  velmoravad::PlatformClock clock;
  velmoravad::PlatformStandardOutput output(stdout);
  // The announcement source's thread serves the pipe until the process ends,
  // after main has returned, so its pipe calls are never destroyed.
  static velmoravad::PipeSystem& pipes = *new velmoravad::PlatformPipeSystem;
  return velmoravad::RunAggregate(arguments, {stdout, stderr}, {clock, output, pipes});
}

int ReportArgumentsOutOfMemory() {
  velmoravad::WriteText(stderr, velmoravad::FailureReport("Command line", E_OUTOFMEMORY).Text());
  return velmoravad::kExitFailure;
}

}  // namespace

#ifdef _WIN32

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> arguments;
  try {
    arguments.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
  } catch (const std::bad_alloc&) {
    return ReportArgumentsOutOfMemory();
  }
  return RunWithArguments(arguments);
}

#else

#include <csignal>

#include "common/text_encoding.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::wstring> arguments;
  try {
    for (int index = 1; index < argc; ++index) {
      arguments.push_back(velmoravad::Utf8ToWide(argv[index]));
    }
  } catch (const std::bad_alloc&) {
    return ReportArgumentsOutOfMemory();
  }
  return RunWithArguments(arguments);
}

#endif
