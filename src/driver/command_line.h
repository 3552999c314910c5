// The command line: [--list] [--live-input-id ENDPOINT_ID], each at most once,
// in either order, matched as whole case-sensitive strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoravad {

struct RunSettings {
  bool listOnly = false;          // --list: describe the channel layout and end
  std::wstring_view liveInputId;  // empty: no live input; views an argument
};

inline constexpr char kUsageLine[] =
    "Usage: velmoravad-aggregate.exe [--list] [--live-input-id ENDPOINT_ID]\n";

// The settings, or nothing when the command line is refused. `arguments` are
// those after the program's own name; they must outlive the settings, which
// view them rather than copy (so that reading the command line allocates nothing).
std::optional<RunSettings> ParseCommandLine(const std::vector<std::wstring>& arguments);

}  // namespace velmoravad
