// The WAV reader and the clip reader on hand-made files, read as a file and as a
// pipe: what each plays, or what it is refused for.
#include "velmoravad-announce/wav_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "velmoravad-announce/clip_reader.h"
#include "tools/velmoravad-announce/memory_byte_source.h"
#include "tools/velmoravad-announce/wav_builder.h"

namespace velmoravad::testing {
namespace {

enum class ReadAs { kFile, kPipe, kBoth };

struct WavCase {
  const char* name;
  std::vector<std::uint8_t> file;
  ReadAs readAs;
  // Announcement frames it plays, as bytes; unused when it is refused.
  std::vector<std::uint8_t> played;
  const char* problem;  // a part of the refusal; null when it plays
};

void PrintTo(const WavCase& wav, std::ostream* stream) { *stream << wav.name; }

// Every announcement frame of a clip, read a few frames at a time.
std::vector<std::uint8_t> PlayAll(ByteSource& source, const WavData& data) {
  ClipReader reader(source, data.channels, data.bytes);
  std::vector<std::uint8_t> played;
  std::uint8_t frames[5 * 4];
  for (std::size_t got = 1; got > 0;) {
    EXPECT_TRUE(reader.Read(frames, 5, got));
    played.insert(played.end(), frames, frames + got * 4);
  }
  return played;
}

class WavHeaderTest : public ::testing::TestWithParam<WavCase> {};

TEST_P(WavHeaderTest, PlaysWhatAClipHoldsOrSaysWhatWasFound) {
  const WavCase& wav = GetParam();
  for (const bool seekable : {true, false}) {
    if (wav.readAs != ReadAs::kBoth && seekable != (wav.readAs == ReadAs::kFile)) continue;
    SCOPED_TRACE(seekable ? "read as a file" : "read as a pipe");
    MemoryByteSource source(wav.file, seekable);
    const WavHeader header = ReadWavHeader(source);
    if (wav.problem != nullptr) {
      EXPECT_FALSE(header.data);
      EXPECT_NE(header.problem.find(wav.problem), std::string::npos) << header.problem;
    } else {
      ASSERT_TRUE(header.data) << header.problem;
      EXPECT_EQ(PlayAll(source, *header.data), wav.played);
    }
  }
}

const std::vector<std::uint8_t> kStereo = Counting(24);  // 6 frames
// Mono samples 0x0201, 0x0403, 0x0605 go to both channels.
const std::vector<std::uint8_t> kMonoDoubled = {1, 2, 1, 2, 3, 4, 3, 4, 5, 6, 5, 6};
const Chunk kList{"LIST", Counting(7, 100), std::nullopt};  // odd: padded
std::vector<std::uint8_t> Concatenated(std::vector<std::uint8_t> first,
                                       const std::vector<std::uint8_t>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}
std::vector<std::uint8_t> Bytes(const char* text) { return {text, text + std::strlen(text)}; }
std::vector<std::uint8_t> FirstBytes(std::vector<std::uint8_t> bytes, std::size_t count) {
  bytes.resize(count);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Clips, WavHeaderTest,
    ::testing::Values(
        WavCase{"Stereo", Wav({Pcm(2), Data(kStereo)}), ReadAs::kBoth, kStereo, nullptr},
        WavCase{"MonoToBothChannels", Wav({Pcm(1), Data(Counting(6))}), ReadAs::kBoth,
                kMonoDoubled, nullptr},
        WavCase{"ExtensiblePcm", Wav({Fmt(0, 2, 48000, 16, 1), Data(kStereo)}), ReadAs::kBoth,
                kStereo, nullptr},
        WavCase{"OddChunksPaddedAndSkipped", Wav({kList, Pcm(2), kList, Data(kStereo), kList}),
                ReadAs::kBoth, kStereo, nullptr},
        WavCase{"OddFmtPadded",
                Wav({Chunk{"fmt ", Concatenated(Pcm(2).body, {0x77}), std::nullopt},
                     Data(kStereo)}),
                ReadAs::kBoth, kStereo, nullptr},
        WavCase{"DataBeforeFmtInAFile", Wav({Data(Counting(7)), kList, Pcm(2)}), ReadAs::kFile,
                Counting(4), nullptr},
        WavCase{"PartialLastFrameDropped", Wav({Pcm(2), Data(Counting(7))}), ReadAs::kBoth,
                Counting(4), nullptr},
        WavCase{"StreamingSizeZeroRunsToTheEnd",
                Concatenated(Wav({Pcm(2), Data({}, 0)}), kStereo), ReadAs::kBoth, kStereo,
                nullptr},
        WavCase{"StreamingSizeMaxRunsToTheEnd",
                Concatenated(Wav({Pcm(2), Data({}, 0xFFFFFFFF)}), kStereo), ReadAs::kBoth,
                kStereo, nullptr},
        WavCase{"SizePastTheEndRunsToTheEnd", Wav({Pcm(2), Data(kStereo, 4000)}), ReadAs::kFile,
                kStereo, nullptr},
        WavCase{"EmptyData", Wav({Pcm(2), Data({})}), ReadAs::kBoth, {}, nullptr},
        WavCase{"DataBeforeFmtInAPipe", Wav({Data(kStereo), Pcm(2)}), ReadAs::kPipe, {},
                "a pipe cannot go back"},
        WavCase{"StreamingDataBeforeFmt", Wav({Data(kStereo, 0), Pcm(2)}), ReadAs::kFile, {},
                "runs to the end of the file before any fmt chunk"},
        WavCase{"Empty", {}, ReadAs::kBoth, {}, "the file is empty"},
        WavCase{"TruncatedRiffHeader", Bytes("RIFF\x24"), ReadAs::kBoth, {},
                "ends after 5 bytes, inside the RIFF header"},
        WavCase{"TruncatedChunkHeader",
                FirstBytes(Wav({Pcm(2)}), 16),
                ReadAs::kBoth, {}, "ends inside a chunk header at byte 12"},
        WavCase{"TruncatedFmt",
                FirstBytes(Wav({Pcm(2)}), 30),
                ReadAs::kBoth, {}, "ends inside the fmt chunk"},
        WavCase{"NotRiff", Bytes("ID3\x04 and what an MP3 file holds"), ReadAs::kBoth, {},
                "not a RIFF/WAVE file"},
        WavCase{"NoData", Wav({Pcm(2), kList}), ReadAs::kBoth, {}, "no data chunk"},
        WavCase{"NoFmt", Wav({kList}), ReadAs::kBoth, {}, "no fmt chunk"},
        WavCase{"ShortFmt", Wav({Chunk{"fmt ", Counting(14), std::nullopt}, Data(kStereo)}),
                ReadAs::kBoth, {}, "the fmt chunk has only 14 bytes"},
        WavCase{"ShortExtensibleFmt",
                Wav({Chunk{"fmt ", FirstBytes(Fmt(0, 2, 48000, 16, 1).body, 38), std::nullopt},
                     Data(kStereo)}),
                ReadAs::kBoth, {}, "WAVE_FORMAT_EXTENSIBLE fmt chunk has only 38 bytes"},
        WavCase{"ChunkPastTheEnd", Wav({Pcm(2), Chunk{"LIST", Counting(4), 5000}, Data(kStereo)}),
                ReadAs::kBoth, {}, "the 'LIST' chunk of 5000 bytes at byte 36 runs past the end"},
        WavCase{"TwentyFourBit", Wav({Pcm(2, 24), Data(Counting(12))}), ReadAs::kBoth, {},
                "found PCM, 24-bit, 48000 Hz, 2 channels"},
        WavCase{"CdRate", Wav({Pcm(2, 16, 44100), Data(kStereo)}), ReadAs::kBoth, {},
                "found PCM, 16-bit, 44100 Hz, 2 channels"},
        WavCase{"SixChannels", Wav({Pcm(6), Data(kStereo)}), ReadAs::kBoth, {},
                "found PCM, 16-bit, 48000 Hz, 6 channels"},
        WavCase{"NoChannels", Wav({Pcm(0), Data(kStereo)}), ReadAs::kBoth, {},
                "found PCM, 16-bit, 48000 Hz, 0 channels"},
        WavCase{"Float", Wav({Fmt(3, 2, 48000, 32), Data(kStereo)}), ReadAs::kBoth, {},
                "found IEEE float, 32-bit"},
        WavCase{"ExtensibleFloat", Wav({Fmt(0, 2, 48000, 32, 3), Data(kStereo)}), ReadAs::kBoth,
                {}, "found IEEE float, 32-bit"},
        WavCase{"Compressed", Wav({Fmt(0x55, 2, 48000, 0), Data(kStereo)}), ReadAs::kBoth, {},
                "found MP3 (compressed)"},
        WavCase{"WrongBlockAlign",
                [] {
                  Chunk fmt = Pcm(2);
                  fmt.body[12] = 2;
                  return Wav({fmt, Data(kStereo)});
                }(),
                ReadAs::kBoth, {}, "gives 2 bytes per frame for 2 channels"}),
    [](const ::testing::TestParamInfo<WavCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoravad::testing
