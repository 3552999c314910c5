// The announce tool's command line: [--raw] [--wait SECONDS] [--quiet] FILE...
// Options come in any order before, between or after the files, each at most
// once; "--" ends the options; "-" is the standard input, at most once.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace velmoravad {

struct AnnounceSettings {
  bool raw = false;        // --raw: headerless stereo 16-bit PCM at 48000 Hz
  bool quiet = false;      // --quiet: no progress line
  DWORD waitSeconds = 10;  // --wait: how long the pipe may be absent or busy
  std::vector<std::wstring> files;
};

// The longest --wait, in seconds: one day.
inline constexpr DWORD kLongestWaitSeconds = 86400;

// The settings, or nothing when the command line is refused. `arguments` are
// those after the program's own name.
std::optional<AnnounceSettings> ParseAnnounceCommandLine(
    const std::vector<std::wstring>& arguments);

}  // namespace velmoravad
