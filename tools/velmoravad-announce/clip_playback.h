// Plays the clips one after another into the announcement pipe, with no gap: a
// chunk of one tick may hold the end of one clip and the start of the next.
// Each chunk goes out whole, on the write pacer's schedule.
//
// Threading: runs on the main thread; `stop` may be set from another.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/clock.h"
#include "velmoravad-announce/chunk_writer.h"
#include "velmoravad-announce/clip_input.h"
#include "velmoravad-announce/progress_line.h"

namespace velmoravad {

struct PlaybackEnd {
  enum class Reason { kFinished, kPipeClosed, kReadFailed, kStopped };
  Reason reason = Reason::kFinished;
  // Where it ended: the clip, and its frames sent (or read, for a read failure).
  std::size_t clip = 0;
  std::uint64_t frames = 0;
  DWORD error = ERROR_SUCCESS;  // of the failed write or read
};

// Chunks go out on the schedule of `clock`.
PlaybackEnd PlayClips(std::vector<ClipInput>& clips, ChunkWriter& pipe, ProgressLine& progress,
                      Clock& clock, const std::atomic<bool>& stop);

}  // namespace velmoravad
