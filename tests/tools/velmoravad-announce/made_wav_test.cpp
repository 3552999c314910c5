// The WAV reader on files that sox and ffmpeg make, through the real file calls:
// from a file, and, for what they write to a pipe (with the sizes they cannot go
// back to fill in), through a real pipe too.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "velmoravad-announce/clip_input.h"
#include "tools/velmoravad-announce/wav_builder.h"
#include "common/text_encoding.h"

namespace velmoravad::testing {
namespace {

constexpr char kRawIn[] = "-t raw -r 48000 -e signed -b 16";

struct MadeWav {
  const char* name;
  const char* tool;     // sox or ffmpeg
  const char* command;  // IN is the raw audio, OUT the file made
  int inputChannels;    // of the raw audio: 2, or 1 for a clip played in both channels
  bool streamed;        // written to a pipe: read through a pipe as well
  const char* problem;  // a part of the refusal; null when it plays
};

void PrintTo(const MadeWav& made, std::ostream* stream) { *stream << made.name; }

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

// Every announcement frame of the input at `path`, or its error line.
std::vector<std::uint8_t> PlayAll(const std::string& path, std::string& errorLine) {
  std::optional<ClipInput> clip = OpenClipInput(Utf8ToWide(path), false, errorLine);
  std::vector<std::uint8_t> played;
  if (!clip) return played;
  std::uint8_t frames[480 * 4];
  for (std::size_t got = 1; got > 0;) {
    EXPECT_TRUE(clip->reader->Read(frames, 480, got));
    played.insert(played.end(), frames, frames + got * 4);
  }
  return played;
}

class MadeWavTest : public ::testing::TestWithParam<MadeWav> {
 protected:
  void SetUp() override {
    const std::string tool = std::string("command -v ") + GetParam().tool + " >/dev/null";
    if (std::system(tool.c_str()) != 0) GTEST_SKIP() << GetParam().tool << " is not installed";
    char pattern[] = "/tmp/announce-made-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    if (!directory_.empty()) std::system(("rm -rf " + directory_).c_str());
  }
  std::string directory_;
};

TEST_P(MadeWavTest, PlaysTheAudioTheToolWroteOrSaysWhatItFound) {
  const MadeWav& made = GetParam();
  const std::vector<std::uint8_t> raw = Counting(19200);  // 0.1 s of stereo
  const std::string in = directory_ + "/in.raw";
  const std::string out = directory_ + "/out.wav";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(raw.data()), raw.size());
  const std::string command =
      Replaced(Replaced(Replaced(made.command, "RAW", kRawIn), "IN", in), "OUT", out);
  ASSERT_EQ(std::system(("(" + command + ") 2>/dev/null").c_str()), 0) << command;

  std::vector<std::uint8_t> expected = raw;
  if (made.inputChannels == 1) {
    expected.clear();
    for (std::size_t i = 0; i < raw.size(); i += 2) {
      expected.insert(expected.end(), {raw[i], raw[i + 1], raw[i], raw[i + 1]});
    }
  }
  const std::string fifo = directory_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const bool throughPipe : {false, true}) {
    if (throughPipe && !made.streamed) continue;
    SCOPED_TRACE(throughPipe ? "through a pipe" : "from the file");
    std::thread feeder;
    if (throughPipe) {
      feeder = std::thread([&] {
        const std::vector<std::uint8_t> bytes = ReadFile(out);
        std::ofstream(fifo, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      });
    }
    std::string errorLine;
    const std::vector<std::uint8_t> played = PlayAll(throughPipe ? fifo : out, errorLine);
    if (feeder.joinable()) feeder.join();
    if (made.problem == nullptr) {
      EXPECT_EQ(errorLine, "");
      EXPECT_EQ(played, expected);
    } else {
      EXPECT_NE(errorLine.find(made.problem), std::string::npos) << errorLine;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, MadeWavTest,
    ::testing::Values(
        MadeWav{"SoxFile", "sox", "sox RAW -c 2 IN OUT", 2, false, nullptr},
        MadeWav{"SoxMono", "sox", "sox RAW -c 1 IN OUT", 1, false, nullptr},
        MadeWav{"SoxStreamed", "sox", "cat IN | sox RAW -c 2 - -t wav - | cat > OUT", 2, true,
                nullptr},
        MadeWav{"FfmpegFile", "ffmpeg", "ffmpeg -v error -f s16le -ar 48000 -ac 2 -i IN OUT", 2,
                false, nullptr},
        MadeWav{"FfmpegStreamed", "ffmpeg",
                "ffmpeg -v error -f s16le -ar 48000 -ac 2 -i IN -f wav pipe:1 | cat > OUT", 2, true,
                nullptr},
        MadeWav{"Sox24Bit", "sox", "sox RAW -c 2 IN -b 24 OUT", 2, false, "PCM, 24-bit"},
        MadeWav{"Sox44100", "sox", "sox RAW -c 2 IN -r 44100 OUT", 2, false, "44100 Hz"},
        MadeWav{"SoxSixChannels", "sox", "sox RAW -c 2 IN -c 6 OUT", 2, false, "6 channels"},
        MadeWav{"FfmpegFloat", "ffmpeg",
                "ffmpeg -v error -f s16le -ar 48000 -ac 2 -i IN -c:a pcm_f32le OUT", 2, false,
                "IEEE float, 32-bit"}),
    [](const ::testing::TestParamInfo<MadeWav>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoravad::testing
