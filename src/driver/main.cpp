// The process entry: hands the arguments, as wide strings, and the standard
// streams to the run. On Linux the arguments arrive as UTF-8, and a write to a
// closed standard output must come back short instead of ending the process.
#include "driver/aggregate_run.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  velmoravad::PlatformStreamPlatform platform(stdout);
  return velmoravad::RunAggregate(arguments, {stdout, stderr}, platform);
}

#else

#include <csignal>

#include "common/text_encoding.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::wstring> arguments;
  for (int index = 1; index < argc; ++index) {
    arguments.push_back(velmoravad::Utf8ToWide(argv[index]));
  }
  velmoravad::PlatformStreamPlatform platform(stdout);
  return velmoravad::RunAggregate(arguments, {stdout, stderr}, platform);
}

#endif
