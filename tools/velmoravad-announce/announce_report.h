// Every line the announce tool writes: errors on standard error, each one line
// naming the file or the pipe, and the usage line. Names go out as UTF-8.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace velmoravad {

inline constexpr char kAnnounceUsageLine[] =
    "Usage: velmoravad-announce [--raw] [--wait SECONDS] [--quiet] FILE...  "
    "(FILE may be - for standard input)\n";

// Exit statuses.
inline constexpr int kAnnounceSent = 0;
inline constexpr int kAnnounceFailed = 1;         // the pipe could not be had or went away
inline constexpr int kAnnounceRefused = 2;        // usage, or an input that cannot be played
inline constexpr int kAnnounceInterrupted = 130;  // Ctrl+C, as shells report SIGINT

std::string FormatOpenFailureLine(const std::string& name, DWORD error);
// `found` is what the header holds; the line adds what a clip must be and the
// sox command that converts the input.
std::string FormatInputProblemLine(const std::string& name, bool standardInput,
                                   const std::string& found);

enum class PipeUnavailable { kAbsent, kBusy };
std::string FormatPipeTimeoutLine(PipeUnavailable reason, DWORD waitSeconds);
std::string FormatPipeOpenFailureLine(DWORD error);
// How far the clip `name` got: `playedFrames` of `totalFrames` (where known).
std::string FormatPipeClosedLine(const std::string& name, std::uint64_t playedFrames,
                                 std::optional<std::uint64_t> totalFrames);
std::string FormatReadFailureLine(const std::string& name, std::uint64_t playedFrames, DWORD error);

}  // namespace velmoravad
