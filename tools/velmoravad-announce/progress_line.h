// The progress line on a console: the clip, the time played and its length, and
// a bar, redrawn in place a few times a second:
//   clip.wav  0:01.2 / 0:03.0  [########------------]
// The length and the bar are left out where the length is not known (a stream).
//
// Threading: used by the main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace velmoravad {

// The line for `playedFrames` of a clip `totalFrames` long, without the return.
std::string FormatProgressLine(const std::string& name, std::uint64_t playedFrames,
                               std::optional<std::uint64_t> totalFrames);

class ProgressLine {
 public:
  // Draws on `console`; draws nothing when it is null.
  explicit ProgressLine(std::FILE* console) : console_(console) {}

  // Redraws the line when a clip starts, and otherwise at most every 250 ms.
  void Show(const std::string& name, std::uint64_t playedFrames,
            std::optional<std::uint64_t> totalFrames);
  // Draws the last state shown and ends the line, so that what follows starts
  // on a line of its own.
  void End();

 private:
  void Draw();

  std::FILE* console_;
  std::string name_;  // the last state given to Show
  std::uint64_t playedFrames_ = 0;
  std::optional<std::uint64_t> totalFrames_;
  std::string shownName_;
  std::size_t shownLength_ = 0;  // characters of the line on screen
  std::chrono::steady_clock::time_point shownAt_;
};

}  // namespace velmoravad
