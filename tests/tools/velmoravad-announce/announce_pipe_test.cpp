// The announce tool's run against the real announcement pipe, served by the
// project's own announcement source: a real named pipe on Windows (under Wine),
// the stand-in's socket on Linux. The run is in-process, on a thread of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "common/fake_clock.h"
#include "velmoravad-announce/announce_run.h"
#include "tools/velmoravad-announce/wav_builder.h"
#include "velmoravad-announce/write_pacer.h"
#include "announcement/announcement_source.h"
#include "announcement/pipe_writer.h"
#include "announcement/served_connection.h"

namespace velmoravad::testing {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);

// Frame i of a clip: i in the first channel, its complement in the second.
std::vector<std::int16_t> TaggedClip(std::size_t frames) {
  std::vector<std::int16_t> samples;
  for (std::size_t i = 0; i < frames; ++i) {
    samples.push_back(static_cast<std::int16_t>(i % 32768));
    samples.push_back(static_cast<std::int16_t>(~(i % 32768)));
  }
  return samples;
}

// A WAV file of `samples` in the temporary folder, removed with the object.
class ClipFile {
 public:
  explicit ClipFile(const std::vector<std::int16_t>& samples)
      : path_(std::filesystem::temp_directory_path() /
              ("announce-pipe-test-" +
               std::to_string(SteadyClock::now().time_since_epoch().count()) + ".wav")) {
    const std::vector<std::uint8_t> bytes = Wav({Pcm(2), Data(BytesOf(samples))});
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  ~ClipFile() { std::filesystem::remove(path_); }
  std::wstring Path() const { return path_.wstring(); }

 private:
  std::filesystem::path path_;
};

// One run of the tool on a thread, with its standard error kept; its waits and
// pace on real time, or on `clock` where only their outcome matters.
class AnnounceRun {
 public:
  explicit AnnounceRun(std::vector<std::wstring> arguments, Clock* clock = nullptr)
      : error_(std::tmpfile()) {
    result_ = std::async(std::launch::async, [this, arguments, clock] {
      PlatformClock realTime;
      return RunAnnounce(arguments, {error_, false, &stop_}, clock ? *clock : realTime);
    });
  }
  ~AnnounceRun() {
    stop_ = true;
    if (result_.valid()) result_.wait();
    std::fclose(error_);
  }
  void Stop() { stop_ = true; }
  bool IsRunning() {
    return result_.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
  }
  int Status() {
    if (result_.wait_for(kPatience) != std::future_status::ready) return -1;
    return result_.get();
  }
  std::string Error() {
    std::string text(4096, '\0');
    std::rewind(error_);
    text.resize(std::fread(text.data(), 1, text.size(), error_));
    return text;
  }

 private:
  std::FILE* error_;
  std::atomic<bool> stop_{false};
  std::future<int> result_;
};

// Frames taken as they arrive, with the time each batch came.
struct Arrivals {
  std::vector<std::int16_t> samples;
  std::vector<std::pair<SteadyClock::time_point, std::size_t>> batches;  // when, frames so far
};

Arrivals TakeAsTheyArrive(AnnouncementSource& source, std::size_t frames) {
  Arrivals arrivals;
  arrivals.samples.resize(frames * 2);
  std::size_t taken = 0;
  const auto deadline = SteadyClock::now() + kPatience + std::chrono::seconds(frames / 48000);
  while (taken < frames && SteadyClock::now() < deadline) {
    const std::size_t got =
        source.TakeFrames(arrivals.samples.data() + taken * 2, frames - taken, 2);
    if (got > 0) arrivals.batches.emplace_back(SteadyClock::now(), taken += got);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  arrivals.samples.resize(taken * 2);
  return arrivals;
}

TEST(AnnouncePipe, WaitsForAnAbsentPipeThenSendsTheClipWholeAndNeverAheadOfItsPace) {
  const std::vector<std::int16_t> clip = TaggedClip(14400);  // 0.3 s
  const ClipFile file(clip);
  AnnounceRun run({file.Path()});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(run.IsRunning()) << run.Error();

  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  ServedConnection server(source);
  const Arrivals arrivals = TakeAsTheyArrive(source, clip.size() / 2);
  EXPECT_EQ(run.Status(), 0);
  EXPECT_EQ(run.Error(), "");
  ASSERT_EQ(arrivals.samples, clip);

  // No more than the lead and one tick ahead of 48000 frames a second, counted
  // from the first arrival, which comes after the schedule's start.
  const auto [first, firstFrames] = arrivals.batches.front();
  const std::size_t lead = (WritePacer::kLeadTicks + 2) * 480;
  for (const auto& [when, frames] : arrivals.batches) {
    const double seconds = std::chrono::duration<double>(when - first).count();
    EXPECT_LE(frames, seconds * 48000 + lead) << "ahead at " << seconds << " s";
  }
}

TEST(AnnouncePipe, WaitsWhileAnotherWriterHoldsThePipe) {
  const std::vector<std::int16_t> clip = TaggedClip(4800);
  const ClipFile file(clip);
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  std::unique_ptr<AnnounceRun> run;
  {
    ServedConnection first(source);
    PipeWriter other;
    ASSERT_TRUE(other.OpenWithin(kPatience));
    ASSERT_TRUE(other.Write(BytesOf({7, 8})));
    run = std::make_unique<AnnounceRun>(std::vector<std::wstring>{file.Path()});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(run->IsRunning()) << run->Error();
    other.Close();
    ASSERT_TRUE(first.FinishesWithin(kPatience));
  }
  ServedConnection second(source);
  std::vector<std::int16_t> expected = {7, 8};
  expected.insert(expected.end(), clip.begin(), clip.end());
  EXPECT_EQ(TakeAsTheyArrive(source, expected.size() / 2).samples, expected);
  EXPECT_EQ(run->Status(), 0);
}

TEST(AnnouncePipe, AWaitThatRunsOutSaysWhetherThePipeWasAbsentOrBusy) {
  const ClipFile file(TaggedClip(480));
  FakeClock clock;  // the wait runs out at once
  {
    AnnounceRun run({L"--wait", L"0", file.Path()}, &clock);
    EXPECT_EQ(run.Status(), 1);
    EXPECT_EQ(run.Error(),
              "velmoravad-announce: no announcement pipe \\\\.\\pipe\\VelmoraDSPAnnouncement after "
              "waiting 0 s: velmoravad-aggregate is not streaming\n");
  }
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  ServedConnection server(source);
  PipeWriter other;
  ASSERT_TRUE(other.OpenWithin(kPatience));
  AnnounceRun run({L"--wait", L"1", file.Path()}, &clock);
  EXPECT_EQ(run.Status(), 1);
  EXPECT_EQ(run.Error(),
            "velmoravad-announce: the announcement pipe \\\\.\\pipe\\VelmoraDSPAnnouncement was "
            "still busy with another writer after waiting 1 s\n");
}

// The aggregator's end of the pipe, served by hand so that it can go away.
TEST(AnnouncePipe, APipeThatClosesMidClipEndsTheRunWithHowFarTheClipGot) {
  const ClipFile file(TaggedClip(96000));  // 2 s
  AnnounceRun run({file.Path()});
  UniqueHandle pipe(
      CreateNamedPipeW(kAnnouncementPipeName, PIPE_ACCESS_INBOUND, 0, 1, 0, 192000, 0, nullptr));
  ASSERT_TRUE(pipe.IsValid());
  ASSERT_TRUE(ConnectNamedPipe(pipe.Get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
  std::vector<std::uint8_t> bytes(1920);
  for (DWORD total = 0, read = 0; total < 19200; total += read) {
    ASSERT_TRUE(ReadFile(pipe.Get(), bytes.data(), 1920, &read, nullptr));
  }
  DisconnectNamedPipe(pipe.Get());
  pipe.Close();
  EXPECT_EQ(run.Status(), 1);
  const std::string error = run.Error();
  EXPECT_EQ(error.rfind("velmoravad-announce: the announcement pipe closed after 0.", 0), 0u)
      << error;
  EXPECT_NE(error.find(" s of 2.00 s of "), std::string::npos) << error;
  EXPECT_NE(error.find(": velmoravad-aggregate went away\n"), std::string::npos) << error;
}

TEST(AnnouncePipe, AStopRequestEndsTheRunAndItsConnection) {
  const ClipFile file(TaggedClip(96000));
  PlatformPipeSystem pipes;
  AnnouncementSource source(pipes);
  ServedConnection server(source);
  AnnounceRun run({file.Path()});
  ASSERT_EQ(TakeAsTheyArrive(source, 4800).samples.size(), 9600u);
  run.Stop();
  EXPECT_EQ(run.Status(), 130);
  EXPECT_TRUE(server.FinishesWithin(kPatience)) << "the pipe was left open";
  EXPECT_EQ(run.Error(), "");
}

}  // namespace
}  // namespace velmoravad::testing
