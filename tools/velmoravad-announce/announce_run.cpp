#include "velmoravad-announce/announce_run.h"

#include "velmoravad-announce/announce_command_line.h"
#include "velmoravad-announce/announce_report.h"
#include "velmoravad-announce/clip_input.h"
#include "velmoravad-announce/clip_playback.h"
#include "velmoravad-announce/pipe_connection.h"
#include "velmoravad-announce/progress_line.h"

namespace velmoravad {
namespace {

void Write(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// Opens and checks every input; false after one error line for each that
// cannot be played.
bool OpenEveryInput(const AnnounceSettings& settings, std::FILE* error,
                    std::vector<ClipInput>& clips) {
  bool allPlayable = true;
  for (const std::wstring& file : settings.files) {
    std::string errorLine;
    std::optional<ClipInput> clip = OpenClipInput(file, settings.raw, errorLine);
    if (clip) {
      clips.push_back(std::move(*clip));
    } else {
      Write(error, errorLine);
      allPlayable = false;
    }
  }
  return allPlayable;
}

int ReportConnectionFailure(const PipeConnection& connection, DWORD waitSeconds, std::FILE* error) {
  if (connection.stopped) return kAnnounceInterrupted;
  Write(error, connection.unavailable && connection.error == ERROR_SUCCESS
                   ? FormatPipeTimeoutLine(*connection.unavailable, waitSeconds)
                   : FormatPipeOpenFailureLine(connection.error));
  return kAnnounceFailed;
}

int ReportPlaybackEnd(const PlaybackEnd& end, const std::vector<ClipInput>& clips,
                      std::FILE* error) {
  const ClipInput& clip = clips[end.clip];
  switch (end.reason) {
    case PlaybackEnd::Reason::kFinished:
      return kAnnounceSent;
    case PlaybackEnd::Reason::kStopped:
      return kAnnounceInterrupted;
    case PlaybackEnd::Reason::kPipeClosed:
      Write(error, FormatPipeClosedLine(clip.name, end.frames, clip.frames));
      return kAnnounceFailed;
    case PlaybackEnd::Reason::kReadFailed:
      Write(error, FormatReadFailureLine(clip.name, end.frames, end.error));
      return kAnnounceFailed;
  }
  return kAnnounceFailed;
}

}  // namespace

int RunAnnounce(const std::vector<std::wstring>& arguments, const AnnounceConsole& console,
                Clock& clock) {
  const std::optional<AnnounceSettings> settings = ParseAnnounceCommandLine(arguments);
  if (!settings) {
    Write(console.error, kAnnounceUsageLine);
    return kAnnounceRefused;
  }
  std::vector<ClipInput> clips;
  if (!OpenEveryInput(*settings, console.error, clips)) return kAnnounceRefused;

  const PipeConnection connection =
      ConnectToAnnouncementPipe(settings->waitSeconds, clock, *console.stop);
  if (!connection.pipe.IsValid()) {
    return ReportConnectionFailure(connection, settings->waitSeconds, console.error);
  }
  ProgressLine progress(console.errorIsConsole && !settings->quiet ? console.error : nullptr);
  PipeChunkWriter pipe(connection.pipe.Get());
  const PlaybackEnd end = PlayClips(clips, pipe, progress, clock, *console.stop);
  progress.End();
  return ReportPlaybackEnd(end, clips, console.error);
}

}  // namespace velmoravad
