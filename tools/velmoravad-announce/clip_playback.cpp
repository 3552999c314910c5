#include "velmoravad-announce/clip_playback.h"

#include <array>

#include "velmoravad-announce/write_pacer.h"
#include "common/output_format.h"

namespace velmoravad {
namespace {

// A place in the clips: the clip, and the frames of it read or sent.
struct Position {
  std::size_t clip = 0;
  std::uint64_t frames = 0;
};

}  // namespace

PlaybackEnd PlayClips(std::vector<ClipInput>& clips, ChunkWriter& pipe, ProgressLine& progress,
                      Clock& clock, const std::atomic<bool>& stop) {
  std::array<std::uint8_t, kFramesPerTick * kAnnouncementFrameBytes> chunk;
  WritePacer pacer(clock);
  Position read;
  Position sent;
  bool allRead = false;
  for (;;) {
    std::size_t filled = 0;  // frames
    while (filled < kFramesPerTick && !allRead) {
      std::size_t got = 0;
      if (!clips[read.clip].reader->Read(chunk.data() + filled * kAnnouncementFrameBytes,
                                         kFramesPerTick - filled, got)) {
        return {PlaybackEnd::Reason::kReadFailed, read.clip, read.frames, GetLastError()};
      }
      filled += got;
      read.frames += got;
      if (got > 0) continue;
      allRead = read.clip + 1 == clips.size();
      if (!allRead) read = Position{read.clip + 1, 0};
    }
    if (filled == 0) return {PlaybackEnd::Reason::kFinished, sent.clip, sent.frames};
    if (!pacer.WaitForNextChunk(stop)) {
      return {PlaybackEnd::Reason::kStopped, sent.clip, sent.frames};
    }
    if (!pipe.Write(chunk.data(), static_cast<DWORD>(filled * kAnnouncementFrameBytes))) {
      return {PlaybackEnd::Reason::kPipeClosed, sent.clip, sent.frames, GetLastError()};
    }
    sent = read;
    progress.Show(clips[sent.clip].name, sent.frames, clips[sent.clip].frames);
  }
}

}  // namespace velmoravad
