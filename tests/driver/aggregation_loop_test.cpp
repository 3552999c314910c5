// Streaming runs in process: the simulated audio system for the endpoints,
// simulated time and standard output, and scripted pipe calls, so a run of any
// length takes no real time.
#include "driver/aggregation_loop.h"

#include "announcement/flooding_writer.h"
#include "announcement/pipe_writer.h"
#include "capture/fake_audio_system.h"
#include "common/allocation_counter.h"
#include "driver/in_process_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <io.h>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace velmoravad {
namespace {

using std::chrono::milliseconds;
using testing::FakeAudioSystem;
using testing::FakeCall;
using testing::FakeEndpointScript;
using testing::RunInProcess;
using testing::RunResult;

constexpr HRESULT kDeviceInvalidated = static_cast<HRESULT>(0x88890004u);
constexpr milliseconds kFlushEnd{2500};
constexpr milliseconds kTick{10};

// Frames `first`..`first + frames - 1` of a source: sample (f, c) = base + 1000 c + f.
std::vector<std::int16_t> Pattern(int base, WORD channels, int first, int frames) {
  std::vector<std::int16_t> samples;
  for (int frame = first; frame < first + frames; ++frame) {
    for (int channel = 0; channel < channels; ++channel) {
      samples.push_back(static_cast<std::int16_t>(base + 1000 * channel + frame));
    }
  }
  return samples;
}

class StreamingRunTest : public ::testing::Test {
 protected:
  FakeEndpointScript& AddApplication(int slot, WORD channels) {
    return system_.AddEndpoint(L"VelmoraDSP Application " + std::to_wstring(slot) + L" Output",
                               L"app" + std::to_wstring(slot), channels);
  }

  // Channel `channel` of every frame of every block written, in order.
  std::vector<std::int16_t> Column(std::size_t channel) const {
    std::vector<std::int16_t> column;
    for (const auto& block : services_.output.blocks) {
      const std::size_t frameChannels = block.size() / kFramesPerTick;
      for (std::size_t frame = 0; frame < kFramesPerTick; ++frame) {
        column.push_back(block[frame * frameChannels + channel]);
      }
    }
    return column;
  }

  // Channel `channel` of a source's pattern over `frames` frames, zeros after.
  static std::vector<std::int16_t> ExpectedColumn(int base, int channel, int frames, int total) {
    std::vector<std::int16_t> column(static_cast<std::size_t>(total), 0);
    for (int frame = 0; frame < frames; ++frame) {
      column[static_cast<std::size_t>(frame)] =
          static_cast<std::int16_t>(base + 1000 * channel + frame);
    }
    return column;
  }

  void ExpectReleasedBeforeUninitialize() {
    EXPECT_EQ(system_.comUninitializations, 1);
    EXPECT_EQ(system_.referencesHeldAtUninitialize, 0);
    EXPECT_EQ(system_.HeldReferences(), 0);
    EXPECT_EQ(system_.overReleases, 0);
  }

  FakeAudioSystem system_;
  testing::FakeServices services_;
};

struct Layout {
  const char* name;
  std::vector<WORD> applicationChannels;  // by slot
  WORD liveInputChannels;                 // 0: none
};

class StreamLayoutTest : public StreamingRunTest, public ::testing::WithParamInterface<Layout> {};

// Every channel of every source lands in its place in the frame, sources in
// slot order, the live input after them and the announcement channels last.
TEST_P(StreamLayoutTest, EachSourceFillsItsOwnChannelsInListOrder) {
  const Layout& layout = GetParam();
  std::vector<std::pair<FakeEndpointScript*, int>> sources;  // script, pattern base
  for (std::size_t index = layout.applicationChannels.size(); index-- > 0;) {  // scrambled
    sources.insert(sources.begin(),
                   {&AddApplication(static_cast<int>(index) + 1, layout.applicationChannels[index]),
                    1000 * static_cast<int>(index + 1)});
  }
  std::vector<std::wstring> arguments;
  if (layout.liveInputChannels != 0) {
    sources.push_back({&system_.AddEndpoint(L"Mic", L"mic", layout.liveInputChannels), -9000});
    arguments = {L"--live-input-id", L"mic"};
  }
  for (auto& [script, base] : sources) {
    FakeEndpointScript* source = script;
    const int patternBase = base;
    services_.clock.At(kFlushEnd, [source, patternBase] {
      source->QueuePacket(Pattern(patternBase, source->mixChannels, 0, 960));
    });
  }
  // A writer whose 700 frames are all queued before the first tick.
  services_.pipes.AddWriter(testing::BytesOf(Pattern(-20000, 2, 0, 700)));
  services_.clock.At(kFlushEnd + milliseconds(1), [this] {
    EXPECT_TRUE(services_.pipes.WaitUntilServed(std::chrono::seconds(10)));
  });
  services_.output.blocksAccepted = 2;

  const RunResult result = RunInProcess(arguments, services_.Get());

  ASSERT_EQ(result.status, 0) << result.error;
  std::size_t frameChannels = 2;
  for (auto& source : sources) frameChannels += source.first->mixChannels;
  ASSERT_EQ(services_.output.blocks.size(), 2u);
  for (const auto& block : services_.output.blocks)
    EXPECT_EQ(block.size(), frameChannels * kFramesPerTick);
  std::size_t channel = 0;
  for (auto& [script, base] : sources) {
    for (int own = 0; own < script->mixChannels; ++own, ++channel) {
      EXPECT_EQ(Column(channel), ExpectedColumn(base, own, 960, 960)) << "channel " << channel;
    }
  }
  EXPECT_EQ(Column(channel), ExpectedColumn(-20000, 0, 700, 960));
  EXPECT_EQ(Column(channel + 1), ExpectedColumn(-20000, 1, 700, 960));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, StreamLayoutTest,
    ::testing::Values(Layout{"two_stereo_applications", {2, 2}, 0},  // 5760-byte blocks
                      Layout{"mono_stereo_six_and_live", {1, 2, 6}, 2},
                      // Counts without a copier of their own, and four.
                      Layout{"three_four_five_nine_and_live_seven", {3, 4, 5, 9}, 7}),
    [](const ::testing::TestParamInfo<Layout>& info) { return info.param.name; });

TEST_F(StreamingRunTest, EachEndpointGivesItsQueuedFramesOldestFirstThenZeros) {
  FakeEndpointScript& hundred = AddApplication(1, 2);
  FakeEndpointScript& thousand = AddApplication(2, 1);
  AddApplication(3, 2);  // delivers nothing
  FakeEndpointScript& silent = AddApplication(4, 2);
  services_.clock.At(kFlushEnd, [&] {
    hundred.QueuePacket(Pattern(1000, 2, 0, 100));
    thousand.QueuePacket(Pattern(5000, 1, 0, 1000));
    silent.QueueSilentPacket(480);  // its data reads 0x5A5A and must not be used
  });
  const RunResult result = RunInProcess({}, services_.Get());

  ASSERT_EQ(result.status, 0) << result.error;
  ASSERT_EQ(services_.output.blocks.size(), 3u);
  EXPECT_EQ(Column(0), ExpectedColumn(1000, 0, 100, 1440));
  EXPECT_EQ(Column(1), ExpectedColumn(1000, 1, 100, 1440));
  EXPECT_EQ(Column(2), ExpectedColumn(5000, 0, 1000, 1440));  // 480, 480, 40 and zeros
  for (std::size_t channel = 3; channel < 9; ++channel) {
    EXPECT_EQ(Column(channel), std::vector<std::int16_t>(1440, 0)) << "channel " << channel;
  }
}

TEST_F(StreamingRunTest, NothingCapturedDuringTheFlushReachesTheOutput) {
  FakeEndpointScript& endpoint = AddApplication(1, 1);
  for (const milliseconds time :
       {milliseconds(0), milliseconds(1200), kFlushEnd - milliseconds(1)}) {
    services_.clock.At(time, [&] { endpoint.QueuePacket(std::vector<std::int16_t>(480, 777)); });
  }
  services_.clock.At(kFlushEnd + milliseconds(1),
                     [&] { endpoint.QueuePacket(Pattern(1, 1, 0, 480)); });
  services_.clock.At(kFlushEnd - milliseconds(1), [this] {
    EXPECT_FALSE(services_.pipes.InstanceCreated()) << "the pipe exists during the flush";
  });
  const RunResult result = RunInProcess({}, services_.Get());

  ASSERT_EQ(result.status, 0) << result.error;
  // The flush ran for 2500 ms of the tick counter, in 1 ms waits of the ticks'
  // own clock, and the pipe appeared only after it; the first block left one
  // tick after the clock was read.
  std::size_t flushWaits = 0;
  for (const testing::FakeClock::WaitRecord& wait : services_.clock.waits) {
    if (wait.at < kFlushEnd) flushWaits += wait.milliseconds == 1 ? 1 : 1000;
  }
  EXPECT_EQ(flushWaits, 2500u);
  EXPECT_TRUE(services_.pipes.WaitUntilServed(std::chrono::seconds(10)));
  EXPECT_TRUE(services_.pipes.InstanceCreated());
  ASSERT_EQ(services_.output.blocks.size(), 3u);
  EXPECT_EQ(services_.output.writeTimes.front(), kFlushEnd + kTick);
  EXPECT_EQ(Column(0), ExpectedColumn(1, 0, 480, 1440));
}

// The loop's thread ticks as a "Pro Audio" task of the scheduler, registered
// after the flush and reverted before the streams are released.
TEST_F(StreamingRunTest, TheTicksRunAsAProAudioTask) {
  AddApplication(1, 2);
  std::vector<int> registered;  // late in the flush, then during the ticks
  for (const milliseconds time : {kFlushEnd - milliseconds(1), kFlushEnd + milliseconds(15)}) {
    services_.clock.At(time, [&] { registered.push_back(system_.threadRegistrations); });
  }
  const RunResult result = RunInProcess({}, services_.Get());

  ASSERT_EQ(result.status, 0) << result.error;
  EXPECT_EQ(registered, (std::vector<int>{0, 1}));
  EXPECT_EQ(system_.CallsStartingWith("AvSetMmThreadCharacteristicsW"),
            std::vector<std::string>{"AvSetMmThreadCharacteristicsW Pro Audio 0"});
  const auto revert =
      std::find(system_.calls.begin(), system_.calls.end(), "AvRevertMmThreadCharacteristics");
  const auto stop = std::find_if(system_.calls.begin(), system_.calls.end(), [](const auto& call) {
    return call.rfind("IAudioClient::Stop", 0) == 0;
  });
  EXPECT_LT(revert, stop);
  EXPECT_EQ(system_.threadRegistrations, 0);
}

// The platform's own registration (the stand-in's on Linux, avrt's under Wine)
// of the calling thread is taken and reverted.
TEST(PlatformAudioSystem, RegistersTheCallingThreadAsAProAudioTaskAndReverts) {
  AudioSystem& platform = CurrentAudioSystem();
  DWORD taskIndex = 0;
  const HANDLE registration = platform.AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
  ASSERT_NE(registration, nullptr);
  EXPECT_TRUE(platform.AvRevertMmThreadCharacteristics(registration));
}

TEST_F(StreamingRunTest, AfterAStallTheDueTicksRunBackToBackAndNoneIsSkipped) {
  AddApplication(1, 2);
  services_.output.blocksAccepted = 19;
  services_.output.stalls[3] = milliseconds(100);  // the write of block 3 takes 100 ms
  const RunResult result = RunInProcess({}, services_.Get());

  ASSERT_EQ(result.status, 0) << result.error;
  ASSERT_EQ(services_.output.writeTimes.size(), 19u);
  for (std::size_t block = 0; block < 19; ++block) {
    const milliseconds due = kFlushEnd + kTick * static_cast<int>(block + 1);
    const milliseconds expected = block >= 3 && block <= 12 ? kFlushEnd + milliseconds(130) : due;
    EXPECT_EQ(services_.output.writeTimes[block], std::max(due, expected)) << "block " << block + 1;
  }
  // No wait at all while the schedule catches up; every other wait is whole ticks.
  for (const testing::FakeClock::WaitRecord& wait : services_.clock.waits) {
    if (wait.at < kFlushEnd) continue;  // the flush's
    EXPECT_FALSE(wait.at > kFlushEnd + milliseconds(30) && wait.at < kFlushEnd + milliseconds(130))
        << std::chrono::duration_cast<milliseconds>(wait.at).count();
    EXPECT_EQ(wait.milliseconds, 10u);
  }
}

struct StreamFailure {
  const char* name;
  std::function<void(FakeAudioSystem&, testing::FakeServices&)> script;
  const char* lines;  // after the endpoints' lines
  std::size_t blocks;
};

class StreamFailureTest : public StreamingRunTest,
                          public ::testing::WithParamInterface<StreamFailure> {};

// Each failure is reported once with its label and the call's HRESULT, ends the
// run with status 1, and every stream (started or not) is stopped and every
// reference released once, before COM goes.
TEST_P(StreamFailureTest, IsReportedOnceAndReleasesEverything) {
  AddApplication(1, 2);
  AddApplication(2, 2);
  GetParam().script(system_, services_);
  const RunResult result = RunInProcess({}, services_.Get());

  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.error,
            "slot=1 channels=2 name=VelmoraDSP Application 1 Output id=app1\n"
            "slot=2 channels=2 name=VelmoraDSP Application 2 Output id=app2\n" +
                std::string(GetParam().lines));
  EXPECT_EQ(services_.output.blocks.size(), GetParam().blocks);
  EXPECT_EQ(system_.CallsStartingWith("IAudioClient::Stop").size(), 2u);
  ExpectReleasedBeforeUninitialize();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, StreamFailureTest,
    ::testing::Values(StreamFailure{"binary_mode",
                                    [](FakeAudioSystem&, testing::FakeServices& services) {
                                      services.output.binaryModeError = 6;  // ERROR_INVALID_HANDLE
                                    },
                                    "stdout binary mode failed: 0x80070006\n", 0},
                      StreamFailure{"binary_mode_without_an_error_number",
                                    [](FakeAudioSystem&, testing::FakeServices& services) {
                                      services.output.binaryModeError = 0;
                                    },
                                    "stdout binary mode failed: 0x80004005\n", 0},
                      StreamFailure{"start_of_the_second_stream",
                                    [](FakeAudioSystem& system, testing::FakeServices&) {
                                      system.Endpoints()[1]->failures[FakeCall::kStart] =
                                          kDeviceInvalidated;
                                    },
                                    "Capture start failed: 0x88890004\n", 0},
                      StreamFailure{
                          "drain_during_the_flush",
                          [](FakeAudioSystem& system, testing::FakeServices& services) {
                            services.clock.At(milliseconds(1000), [&system] {
                              system.Endpoints()[1]->failures[FakeCall::kGetNextPacketSize] =
                                  kDeviceInvalidated;
                            });
                          },
                          "Capture startup flush failed: 0x88890004\n", 0},
                      StreamFailure{"packet_of_the_second_endpoint_in_a_tick",
                                    [](FakeAudioSystem& system, testing::FakeServices& services) {
                                      services.clock.At(kFlushEnd + milliseconds(25), [&system] {
                                        system.Endpoints()[1]->QueuePacket({1, 2});
                                        system.Endpoints()[1]->failures[FakeCall::kGetBuffer] =
                                            static_cast<HRESULT>(0x88890010u);
                                      });
                                    },
                                    "aggregate_flushed milliseconds=2500\n"
                                    "aggregate_running endpoints=2 application_channels=4 "
                                    "live_input_channels=0 announcement_channels=2 channels=6 "
                                    "sample_rate=48000\n"
                                    "Capture read failed: 0x88890010\n",
                                    2}),
    [](const ::testing::TestParamInfo<StreamFailure>& info) { return info.param.name; });

TEST_F(StreamingRunTest, ASteadyTickAllocatesNothing) {
  FakeEndpointScript& stereo = AddApplication(1, 2);
  AddApplication(2, 6);  // delivers nothing
  system_.recordCalls = false;
  services_.output.blocksAccepted = 50;
  // One packet of a tick's frames arrives during every tick, as from a device;
  // early on comes a burst of a second's frames, later a backlog longer than
  // the queue keeps.
  for (int tick = 0; tick < 50; ++tick) {
    services_.clock.At(kFlushEnd + kTick * tick + milliseconds(1),
                       [&] { stereo.QueuePacket(Pattern(0, 2, 0, 480)); });
  }
  for (const auto& [tick, packets] : {std::pair{2, 100}, std::pair{20, 150}}) {
    services_.clock.At(kFlushEnd + kTick * tick + milliseconds(2), [&stereo, count = packets] {
      for (int packet = 0; packet < count; ++packet) stereo.QueuePacket(Pattern(0, 2, 0, 480));
    });
  }
  std::optional<testing::AllocationCounter> counter;
  std::size_t allocations = 0;
  services_.clock.At(kFlushEnd + milliseconds(1), [&] { counter.emplace(); });
  services_.clock.At(kFlushEnd + 40 * kTick, [&] {
    allocations = counter->Count();
    counter.reset();
  });
  const RunResult result = RunInProcess({}, services_.Get());
  ASSERT_EQ(result.status, 0) << result.error;
  EXPECT_EQ(allocations, 0u);
}

// The loop and the pipe server thread meet only inside the announcement source
// (run it under ThreadSanitizer): with a writer flooding the pipe, so that the
// queue is appended and trimmed while the loop takes, every announcement frame
// of every block is whole and in channel order.
TEST_F(StreamingRunTest, AWriterFloodingThePipeNeverTearsAnAnnouncementFrame) {
  AddApplication(1, 2);
  // The run's own source on the real pipe; its thread serves the pipe name for
  // the rest of this test program.
  PipeSystem& pipes = *new PlatformPipeSystem;
  std::optional<testing::FloodingWriter> flood(std::in_place);
  // Before the first tick, the writer has sent more than the pipe holds.
  services_.clock.At(kFlushEnd + milliseconds(1), [&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (flood->BytesWritten() < 400000 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(1));
    }
  });
  services_.output.blocksAccepted = 2000;
  const RunResult result = RunInProcess({}, {services_.clock, services_.output, pipes});
  flood.reset();
  ASSERT_EQ(result.status, 0) << result.error;

  std::size_t frames = 0;
  std::size_t badFrames = 0;
  for (const auto& block : services_.output.blocks) {
    for (std::size_t frame = 0; frame < kFramesPerTick; ++frame) {
      const std::int16_t* announced = block.data() + frame * 4 + 2;
      if (announced[0] == 0 && announced[1] == 0) continue;  // the queue ran dry
      ++frames;
      if (!testing::IsFloodFrame(announced)) ++badFrames;
    }
  }
  EXPECT_GT(frames, 0u);
  EXPECT_EQ(badFrames, 0u);
}

#ifdef _WIN32
constexpr auto CloseDescriptor = _close;
std::FILE* PipeWithoutReader() {
  int ends[2];
  if (_pipe(ends, 65536, _O_BINARY) != 0) return nullptr;
  _close(ends[0]);
  return _fdopen(ends[1], "wb");
}
#else
constexpr auto CloseDescriptor = close;
std::FILE* PipeWithoutReader() {
  int ends[2];
  if (pipe(ends) != 0) return nullptr;
  close(ends[0]);
  return fdopen(ends[1], "wb");
}
#endif

// Standard output as the C runtime has it, a pipe whose reader has gone: the
// write comes back short (no death by SIGPIPE or by the C runtime) and the run
// stops cleanly with status 0.
TEST_F(StreamingRunTest, ARealPipeWhoseReaderHasGoneStopsTheRunWithStatus0) {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);  // as the program's entry does
#endif
  AddApplication(1, 2);
  std::FILE* output = PipeWithoutReader();
  ASSERT_NE(output, nullptr);
  PlatformStandardOutput real(output);
  services_.output.realOutput = &real;
  const RunResult result = RunInProcess({}, services_.Get());
  std::fclose(output);

  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.error,
            "slot=1 channels=2 name=VelmoraDSP Application 1 Output id=app1\n"
            "aggregate_flushed milliseconds=2500\n"
            "aggregate_running endpoints=1 application_channels=2 live_input_channels=0 "
            "announcement_channels=2 channels=4 sample_rate=48000\n"
            "aggregate_stopped reason=stdout_closed\n");
  EXPECT_TRUE(services_.output.blocks.empty());
  ExpectReleasedBeforeUninitialize();
}

// The platform's standard output writes each block whole: every sample, two
// bytes each, in one write that reports the samples.
TEST(PlatformStandardOutput, WritesEverySampleOfABlock) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  PlatformStandardOutput output(file);
  std::vector<std::int16_t> block(kFramesPerTick * 6);
  for (std::size_t sample = 0; sample < block.size(); ++sample) {
    block[sample] = static_cast<std::int16_t>(sample * 7);
  }
  EXPECT_EQ(output.Write(block.data(), block.size()), block.size());
  std::vector<std::int16_t> written(block.size() + 1);
  std::rewind(file);
  EXPECT_EQ(std::fread(written.data(), sizeof(std::int16_t), written.size(), file), block.size());
  written.pop_back();
  EXPECT_EQ(written, block);
  std::fclose(file);
}

// A standard output whose descriptor is not there (a process started without
// one): the C runtime calls fail or come back short instead of ending the
// process through its invalid-parameter handler.
TEST(PlatformStandardOutput, MissingStandardOutputFailsInsteadOfEndingTheProcess) {
  std::FILE* output = std::tmpfile();
  ASSERT_NE(output, nullptr);
  ASSERT_EQ(CloseDescriptor(_fileno(output)), 0);
  PlatformStandardOutput standardOutput(output);
  standardOutput.SetBinaryMode();  // -1 where the runtime checks the descriptor
  standardOutput.SetUnbuffered();
  const std::vector<std::int16_t> block(kFramesPerTick * 4, 1);
  EXPECT_LT(standardOutput.Write(block.data(), block.size()), block.size());
  std::fclose(output);
}

}  // namespace
}  // namespace velmoravad
