#include "driver/command_line.h"

namespace velmoravad {

std::optional<RunSettings> ParseCommandLine(const std::vector<std::wstring>& arguments) {
  RunSettings settings;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::wstring& argument = arguments[index];
    if (argument == L"--list" && !settings.listOnly) {
      settings.listOnly = true;
    } else if (argument == L"--live-input-id" && index + 1 < arguments.size() &&
               settings.liveInputId.empty()) {
      // Taken verbatim, even when it looks like an option. An empty value does
      // not count, so a later --live-input-id may still set one.
      settings.liveInputId = arguments[++index];
    } else {
      return std::nullopt;
    }
  }
  return settings;
}

}  // namespace velmoravad
