#include "velmoravad-announce/announce_report.h"

#include <cstdio>

#include "common/output_format.h"
#include "common/text_encoding.h"

namespace velmoravad {
namespace {

constexpr char kPrefix[] = "velmoravad-announce: ";

std::string DescribeError(DWORD error) {
  const char* meaning = nullptr;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      meaning = "no such file";
      break;
    case ERROR_PATH_NOT_FOUND:
      meaning = "no such folder";
      break;
    case ERROR_ACCESS_DENIED:
      meaning = "access denied";
      break;
    default:
      break;
  }
  const std::string code = "Windows error " + std::to_string(error);
  return meaning == nullptr ? code : std::string(meaning) + " (" + code + ")";
}

// Seconds with two decimals, as "1.25 s".
std::string Seconds(std::uint64_t frames) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f s", static_cast<double>(frames) / kFramesPerSecond);
  return text;
}

std::string PipeName() { return WideToUtf8(kAnnouncementPipeName); }

// The converted file's name: the input's, its extension replaced.
std::string ConvertedName(const std::string& name) {
  const std::size_t folder = name.find_last_of("/\\");
  const std::size_t dot = name.rfind('.');
  const bool hasExtension =
      dot != std::string::npos && (folder == std::string::npos || dot > folder);
  return (hasExtension ? name.substr(0, dot) : name) + "-48k.wav";
}

}  // namespace

std::string FormatOpenFailureLine(const std::string& name, DWORD error) {
  return kPrefix + name + ": cannot open it: " + DescribeError(error) + "\n";
}

std::string FormatInputProblemLine(const std::string& name, bool standardInput,
                                   const std::string& found) {
  const std::string command =
      standardInput ? "sox INPUT -t wav -r 48000 -c 2 -b 16 - | velmoravad-announce -"
                    : "sox \"" + name + "\" -r 48000 -c 2 -b 16 -e signed-integer \"" +
                          ConvertedName(name) + "\"";
  return kPrefix + name + ": " + found +
         "; a clip must be a WAV file of 16-bit PCM at 48000 Hz, mono or stereo. Convert it "
         "with: " +
         command + "\n";
}

std::string FormatPipeTimeoutLine(PipeUnavailable reason, DWORD waitSeconds) {
  const std::string waited = " after waiting " + std::to_string(waitSeconds) + " s";
  if (reason == PipeUnavailable::kBusy) {
    return kPrefix + std::string("the announcement pipe ") + PipeName() +
           " was still busy with another writer" + waited + "\n";
  }
  return kPrefix + std::string("no announcement pipe ") + PipeName() + waited +
         ": velmoravad-aggregate is not streaming\n";
}

std::string FormatPipeOpenFailureLine(DWORD error) {
  return kPrefix + std::string("cannot open the announcement pipe ") + PipeName() + ": " +
         DescribeError(error) + "\n";
}

std::string FormatPipeClosedLine(const std::string& name, std::uint64_t playedFrames,
                                 std::optional<std::uint64_t> totalFrames) {
  const std::string of = totalFrames ? " of " + Seconds(*totalFrames) : std::string();
  return kPrefix + std::string("the announcement pipe closed after ") + Seconds(playedFrames) + of +
         " of " + name + ": velmoravad-aggregate went away\n";
}

std::string FormatReadFailureLine(const std::string& name, std::uint64_t playedFrames,
                                  DWORD error) {
  return kPrefix + name + ": reading failed after " + Seconds(playedFrames) + ": " +
         DescribeError(error) + "\n";
}

}  // namespace velmoravad
