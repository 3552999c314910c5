// velmoravad-endpoints' entry: hands the arguments, as wide strings, and the
// standard streams to the run. On Linux the arguments arrive as UTF-8. On a
// Windows console the output code page is UTF-8 while the run writes, so that
// names outside ASCII show as they are, and is put back afterwards.
#include <cstdio>
#include <string>
#include <vector>

#include "velmoravad-endpoints/endpoints_run.h"

#ifdef _WIN32

#include <windows.h>

namespace {

class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput() {
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
      previous_ = GetConsoleOutputCP();
      SetConsoleOutputCP(CP_UTF8);
    }
  }
  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;
  ~Utf8ConsoleOutput() {
    if (previous_ != 0) SetConsoleOutputCP(previous_);
  }

 private:
  UINT previous_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const Utf8ConsoleOutput console;
  const std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return velmoravad::RunEndpoints(arguments, {stdout, stderr});
}

#else

#include "common/text_encoding.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int index = 1; index < argc; ++index) {
    arguments.push_back(velmoravad::Utf8ToWide(argv[index]));
  }
  return velmoravad::RunEndpoints(arguments, {stdout, stderr});
}

#endif
