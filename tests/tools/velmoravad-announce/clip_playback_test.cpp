// The announce tool's pace and its chunks on simulated time: the write pacer's
// lead and absolute schedule, clips joined without a gap, and how far the clips
// got when the pipe breaks.
#include "velmoravad-announce/clip_playback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/fake_clock.h"
#include "tools/velmoravad-announce/memory_byte_source.h"
#include "velmoravad-announce/write_pacer.h"

namespace velmoravad::testing {
namespace {

using std::chrono::milliseconds;

TEST(WritePacer, GoesAheadByItsLeadThenKeepsAnAbsoluteSchedule) {
  FakeClock clock;
  const std::atomic<bool> go{false};
  WritePacer pacer(clock);
  std::vector<milliseconds> released;
  for (int chunk = 0; chunk < 12; ++chunk) {
    ASSERT_TRUE(pacer.WaitForNextChunk(go));
    released.push_back(clock.ElapsedMilliseconds());
    if (chunk == 7) clock.Advance(milliseconds(35));  // a write that stalls
  }
  // Five chunks at once (the lead of four ticks and the one due now), then one
  // a tick; after the stall, those due go back to back and the schedule holds.
  const std::vector<milliseconds> expected = {milliseconds(0),  milliseconds(0),  milliseconds(0),
                                              milliseconds(0),  milliseconds(0),  milliseconds(10),
                                              milliseconds(20), milliseconds(30), milliseconds(65),
                                              milliseconds(65), milliseconds(65), milliseconds(70)};
  EXPECT_EQ(released, expected);

  const std::atomic<bool> stop{true};
  EXPECT_FALSE(pacer.WaitForNextChunk(stop));
  EXPECT_EQ(clock.ElapsedMilliseconds(), milliseconds(70)) << "waited after the stop";
}

// Records every chunk; the write numbered `failAt` (from 1) breaks the pipe.
class RecordingPipe final : public ChunkWriter {
 public:
  bool Write(const std::uint8_t* bytes, DWORD count) override {
    if (++writes == failAt) {
      SetLastError(ERROR_NO_DATA);
      return false;
    }
    chunks.emplace_back(bytes, bytes + count);
    return true;
  }

  std::size_t writes = 0;
  std::size_t failAt = 0;
  std::vector<std::vector<std::uint8_t>> chunks;
};

// Raw stereo clips of the given lengths, byte b of clip c being (c * 64 + b) % 256.
class Clips {
 public:
  explicit Clips(const std::vector<std::size_t>& frames) {
    for (std::size_t clip = 0; clip < frames.size(); ++clip) {
      std::vector<std::uint8_t>& bytes = bytes_.emplace_back(frames[clip] * 4);
      for (std::size_t byte = 0; byte < bytes.size(); ++byte) {
        bytes[byte] = static_cast<std::uint8_t>(clip * 64 + byte);
      }
    }
    for (const std::vector<std::uint8_t>& bytes : bytes_) {
      ClipInput& input = inputs.emplace_back();
      input.name = "clip";
      input.source = std::make_unique<MemoryByteSource>(bytes, false);
      input.reader = std::make_unique<ClipReader>(*input.source, 2, std::nullopt);
    }
  }
  std::vector<std::uint8_t> AllBytes() const {
    std::vector<std::uint8_t> all;
    for (const auto& bytes : bytes_) all.insert(all.end(), bytes.begin(), bytes.end());
    return all;
  }

  std::vector<ClipInput> inputs;

 private:
  std::vector<std::vector<std::uint8_t>> bytes_;
};

TEST(ClipPlayback, JoinsClipsIntoWholeChunksWithoutAGap) {
  Clips clips({700, 700, 2000});
  RecordingPipe pipe;
  ProgressLine progress(nullptr);
  FakeClock clock;
  const std::atomic<bool> stop{false};
  const PlaybackEnd end = PlayClips(clips.inputs, pipe, progress, clock, stop);

  EXPECT_EQ(end.reason, PlaybackEnd::Reason::kFinished);
  // 3400 frames: seven whole chunks of 480 frames and the rest, so the schedule
  // (and the aggregator's lead) never loses a tick at a clip's end.
  ASSERT_EQ(pipe.chunks.size(), 8u);
  std::vector<std::uint8_t> sent;
  for (std::size_t chunk = 0; chunk < pipe.chunks.size(); ++chunk) {
    EXPECT_EQ(pipe.chunks[chunk].size(), chunk < 7 ? 1920u : 3400u * 4 - 7 * 1920) << chunk;
    sent.insert(sent.end(), pipe.chunks[chunk].begin(), pipe.chunks[chunk].end());
  }
  EXPECT_EQ(sent, clips.AllBytes());
  EXPECT_EQ(clock.ElapsedMilliseconds(), milliseconds(30));  // chunks 6 to 8, a tick apart
}

TEST(ClipPlayback, APipeThatBreaksEndsThePlaybackWhereTheLastWholeChunkLeftIt) {
  Clips clips({700, 700});
  RecordingPipe pipe;
  pipe.failAt = 3;  // chunks: 480 of the first; its last 220 and 260 of the second; ...
  ProgressLine progress(nullptr);
  FakeClock clock;
  const std::atomic<bool> stop{false};
  const PlaybackEnd end = PlayClips(clips.inputs, pipe, progress, clock, stop);

  EXPECT_EQ(end.reason, PlaybackEnd::Reason::kPipeClosed);
  EXPECT_EQ(end.error, static_cast<DWORD>(ERROR_NO_DATA));
  EXPECT_EQ(end.clip, 1u);
  EXPECT_EQ(end.frames, 260u);
}

}  // namespace
}  // namespace velmoravad::testing
