// Any argument vector: it is accepted or refused, and when accepted, --list was
// there and the live-input id is one of the arguments, verbatim.
#include <algorithm>

#include "driver/command_line.h"
#include "fuzz_input.h"

using velmoravad::fuzzing::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::wstring> arguments = velmoravad::fuzzing::WideStrings(data, size);
  const std::optional<velmoravad::RunSettings> settings = velmoravad::ParseCommandLine(arguments);
  if (!settings) return 0;
  Require(!settings->listOnly ||
          std::find(arguments.begin(), arguments.end(), L"--list") != arguments.end());
  if (!settings->liveInputId.empty()) {
    Require(std::any_of(arguments.begin(), arguments.end(), [&](const std::wstring& argument) {
      return argument.data() == settings->liveInputId.data() &&
             argument.size() == settings->liveInputId.size();
    }));
  }
  return 0;
}
