#include "velmoravad-announce/progress_line.h"

#include <algorithm>

#include "common/output_format.h"

namespace velmoravad {
namespace {

constexpr std::chrono::milliseconds kRedrawPeriod{250};
constexpr std::size_t kBarWidth = 20;
constexpr std::size_t kLongestName = 32;  // characters; a longer name keeps its end

// "m:ss.t"
std::string Clock(std::uint64_t frames) {
  const std::uint64_t tenths = frames / (kFramesPerSecond / 10);
  char text[32];
  std::snprintf(text, sizeof(text), "%llu:%02u.%u", static_cast<unsigned long long>(tenths / 600),
                static_cast<unsigned>(tenths / 10 % 60), static_cast<unsigned>(tenths % 10));
  return text;
}

bool IsContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

std::size_t CharacterCount(const std::string& utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char byte) { return !IsContinuationByte(byte); }));
}

// The name, or "..." and its last characters when it is too long.
std::string ShortName(const std::string& name) {
  std::size_t characters = CharacterCount(name);
  std::size_t start = 0;
  while (characters > kLongestName - 3) {
    do ++start;
    while (start < name.size() && IsContinuationByte(name[start]));
    --characters;
  }
  return start == 0 ? name : "..." + name.substr(start);
}

}  // namespace

std::string FormatProgressLine(const std::string& name, std::uint64_t playedFrames,
                               std::optional<std::uint64_t> totalFrames) {
  std::string line = ShortName(name) + "  " + Clock(playedFrames);
  if (!totalFrames) return line;
  const std::uint64_t total = std::max<std::uint64_t>(*totalFrames, 1);
  const auto filled =
      static_cast<std::size_t>(std::min<std::uint64_t>(playedFrames, total) * kBarWidth / total);
  return line + " / " + Clock(*totalFrames) + "  [" + std::string(filled, '#') +
         std::string(kBarWidth - filled, '-') + "]";
}

void ProgressLine::Show(const std::string& name, std::uint64_t playedFrames,
                        std::optional<std::uint64_t> totalFrames) {
  if (console_ == nullptr) return;
  name_ = name;
  playedFrames_ = playedFrames;
  totalFrames_ = totalFrames;
  if (name != shownName_ || std::chrono::steady_clock::now() - shownAt_ >= kRedrawPeriod) Draw();
}

void ProgressLine::End() {
  if (console_ == nullptr || name_.empty()) return;
  Draw();
  std::fputs("\n", console_);
  std::fflush(console_);
  name_.clear();
  shownName_.clear();
  shownLength_ = 0;
}

void ProgressLine::Draw() {
  const std::string line = FormatProgressLine(name_, playedFrames_, totalFrames_);
  const std::size_t length = CharacterCount(line);
  // Blanks over whatever of a longer line before is still on screen.
  const std::string blanks(shownLength_ > length ? shownLength_ - length : 0, ' ');
  std::fprintf(console_, "\r%s%s", line.c_str(), blanks.c_str());
  std::fflush(console_);
  shownName_ = name_;
  shownLength_ = length;
  shownAt_ = std::chrono::steady_clock::now();
}

}  // namespace velmoravad
