#include "velmoravad-announce/announce_command_line.h"

#include <algorithm>

#include "velmoravad-announce/clip_input.h"

namespace velmoravad {
namespace {

// Whole seconds from 0 to kLongestWaitSeconds, digits only.
std::optional<DWORD> ParseWaitSeconds(const std::wstring& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  DWORD seconds = 0;
  for (const wchar_t digit : text) {
    if (digit < L'0' || digit > L'9') return std::nullopt;
    seconds = seconds * 10 + static_cast<DWORD>(digit - L'0');
  }
  if (seconds > kLongestWaitSeconds) return std::nullopt;
  return seconds;
}

}  // namespace

std::optional<AnnounceSettings> ParseAnnounceCommandLine(
    const std::vector<std::wstring>& arguments) {
  AnnounceSettings settings;
  bool waitGiven = false;
  bool optionsEnded = false;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::wstring& argument = arguments[index];
    const bool isOption = !optionsEnded && argument.size() > 1 && argument[0] == L'-';
    if (!isOption) {
      settings.files.push_back(argument);
    } else if (argument == L"--") {
      optionsEnded = true;
    } else if (argument == L"--raw" && !settings.raw) {
      settings.raw = true;
    } else if (argument == L"--quiet" && !settings.quiet) {
      settings.quiet = true;
    } else if (argument == L"--wait" && !waitGiven && index + 1 < arguments.size()) {
      const std::optional<DWORD> seconds = ParseWaitSeconds(arguments[++index]);
      if (!seconds) return std::nullopt;
      settings.waitSeconds = *seconds;
      waitGiven = true;
    } else {
      return std::nullopt;
    }
  }
  const auto standardInputs =
      std::count(settings.files.begin(), settings.files.end(), kStandardInputArgument);
  if (settings.files.empty() || standardInputs > 1) return std::nullopt;
  return settings;
}

}  // namespace velmoravad
