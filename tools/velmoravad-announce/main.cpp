// The announce tool's entry: hands the arguments, as wide strings, to the run,
// with standard error and whether it is a console, the platform's clock, and
// stops on Ctrl+C; or, with --version alone, prints the version. On Linux the
// arguments arrive as UTF-8.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/version.h"
#include "velmoravad-announce/announce_run.h"
#include "velmoravad-announce/console_stop.h"

namespace {

int Run(const std::vector<std::wstring>& arguments) {
  if (arguments.size() == 1 && arguments[0] == L"--version") {
    std::printf("velmoravad-announce %s\n", velmoravad::kVersion);
    return 0;
  }
  velmoravad::ConsoleStop stop;
  DWORD mode = 0;
  const bool errorIsConsole = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
  velmoravad::PlatformClock clock;
  return velmoravad::RunAnnounce(arguments, {stderr, errorIsConsole, &stop.Requested()}, clock);
}

}  // namespace

#ifdef _WIN32

int wmain(int argc, wchar_t** argv) {
  return Run(std::vector<std::wstring>(argv + (argc > 0 ? 1 : 0), argv + argc));
}

#else

#include "common/text_encoding.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int index = 1; index < argc; ++index) {
    arguments.push_back(velmoravad::Utf8ToWide(argv[index]));
  }
  return Run(arguments);
}

#endif
