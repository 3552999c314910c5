#include "capture/capture_endpoint.h"
#include "capture/stream_timing.h"

#include "capture/fake_audio_system.h"
#include "capture/fake_com_object.h"

#include <gtest/gtest.h>

#include <numeric>

namespace velmoravad {
namespace {

using testing::FakeAudioSystem;
using testing::FakeCall;
using testing::FakeEndpointScript;

constexpr HRESULT kDeviceInvalidated = static_cast<HRESULT>(0x88890004u);

// An application endpoint's stream: exclusive, with 100 ms buffers; in the
// shared-mode test build, shared with the same 100 ms buffer.
constexpr AUDCLNT_SHAREMODE kApplicationShareMode =
    kTestSharedModeBuild ? AUDCLNT_SHAREMODE_SHARED : AUDCLNT_SHAREMODE_EXCLUSIVE;
constexpr REFERENCE_TIME kApplicationPeriodicity = kTestSharedModeBuild ? 0 : 1000000;

class CaptureEndpointTest : public ::testing::Test {
 protected:
  // A record as discovery leaves it: identified, with its device.
  CaptureEndpoint Identified(FakeEndpointScript& script) {
    CaptureEndpoint endpoint;
    endpoint.slot = 1;
    endpoint.friendlyName = script.friendlyName;
    endpoint.endpointId = script.id;
    endpoint.device = ComPtr<IMMDevice>::Adopt(testing::MakeFakeDevice(system_, script));
    return endpoint;
  }

  CaptureEndpoint Opened(FakeEndpointScript& script) {
    CaptureEndpoint endpoint = Identified(script);
    EXPECT_EQ(endpoint.OpenCaptureStream(true, true), S_OK);
    return endpoint;
  }

  static std::vector<std::int16_t> Contents(SampleQueue& queue) {
    std::vector<std::int16_t> out;
    while (!queue.Empty()) {
      out.push_back(queue.Front());
      queue.PopFront();
    }
    return out;
  }

  FakeAudioSystem system_;
};

TEST_F(CaptureEndpointTest, ApplicationOpenRequestsTheFormatWithHundredMillisecondBuffers) {
  FakeEndpointScript& script = system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"app1", 6);
  CaptureEndpoint endpoint = Identified(script);

  ASSERT_EQ(endpoint.OpenCaptureStream(true, true), S_OK);

  EXPECT_EQ(endpoint.channels, 6);
  EXPECT_TRUE(endpoint.audioClient && endpoint.captureClient && endpoint.captureEvent.IsValid());
  EXPECT_EQ(
      system_.CallsStartingWith("IMMDevice::Activate"),
      std::vector<std::string>{"IMMDevice::Activate app1 IAudioClient context=23 params=null"});
  ASSERT_EQ(system_.formatQueries.size(), 1u);
  EXPECT_EQ(system_.formatQueries[0].shareMode, kApplicationShareMode);
  EXPECT_TRUE(system_.formatQueries[0].closestMatchStartedNull);
  ASSERT_EQ(system_.initializations.size(), 1u);
  const testing::FormatRequest& init = system_.initializations[0];
  EXPECT_EQ(init.shareMode, kApplicationShareMode);
  EXPECT_EQ(init.streamFlags, 0x40000u);
  EXPECT_EQ(init.bufferDuration, 1000000);
  EXPECT_EQ(init.periodicity, kApplicationPeriodicity);
  EXPECT_TRUE(init.sessionGuidIsNull);
  EXPECT_EQ(init.format.Format.nChannels, 6);
  EXPECT_EQ(init.format.Format.nBlockAlign, 12);
  EXPECT_EQ(init.format.dwChannelMask, 3u);
  EXPECT_EQ(system_.formatQueries[0].format.Format.nAvgBytesPerSec, 576000u);
  // The stream is set up but not started.
  EXPECT_TRUE(system_.CallsStartingWith("IAudioClient::Start").empty());
  EXPECT_EQ(system_.CallsStartingWith("IAudioClient::SetEventHandle"),
            std::vector<std::string>{"IAudioClient::SetEventHandle app1"});
}

// The timing each kind of stream asks for, in the product and in the test build
// that opens the application endpoints shared (for Wine, which has no exclusive
// capture) with the exclusive streams' buffer.
TEST(StreamTiming, ExclusiveInTheProductSharedWithTheSameBufferInTheTestBuild) {
  struct Case {
    bool exclusive;
    bool testSharedMode;
    AUDCLNT_SHAREMODE shareMode;
    REFERENCE_TIME bufferDuration;
    REFERENCE_TIME periodicity;
  };
  for (const Case& expected : {Case{true, false, AUDCLNT_SHAREMODE_EXCLUSIVE, 1000000, 1000000},
                               Case{true, true, AUDCLNT_SHAREMODE_SHARED, 1000000, 0},
                               Case{false, false, AUDCLNT_SHAREMODE_SHARED, 0, 0},
                               Case{false, true, AUDCLNT_SHAREMODE_SHARED, 0, 0}}) {
    const StreamTiming timing = StreamTimingFor(expected.exclusive, expected.testSharedMode);
    EXPECT_EQ(timing.shareMode, expected.shareMode)
        << expected.exclusive << expected.testSharedMode;
    EXPECT_EQ(timing.bufferDuration, expected.bufferDuration) << expected.exclusive;
    EXPECT_EQ(timing.periodicity, expected.periodicity) << expected.exclusive;
  }
}

TEST_F(CaptureEndpointTest, SharedOpenLeavesBufferTimingToTheSystem) {
  FakeEndpointScript& script = system_.AddEndpoint(L"Microphone", L"mic", 1);
  CaptureEndpoint endpoint = Identified(script);
  ASSERT_EQ(endpoint.OpenCaptureStream(true, false), S_OK);
  ASSERT_EQ(system_.initializations.size(), 1u);
  EXPECT_EQ(system_.initializations[0].shareMode, AUDCLNT_SHAREMODE_SHARED);
  EXPECT_EQ(system_.formatQueries[0].shareMode, AUDCLNT_SHAREMODE_SHARED);
  EXPECT_EQ(system_.initializations[0].bufferDuration, 0);
  EXPECT_EQ(system_.initializations[0].periodicity, 0);
  EXPECT_EQ(system_.initializations[0].format.dwChannelMask, 4u);
}

TEST_F(CaptureEndpointTest, ProbeOnlyReadsTheChannelsAndStillStopsOnDestruction) {
  FakeEndpointScript& script = system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"app1", 2);
  {
    CaptureEndpoint endpoint = Identified(script);
    ASSERT_EQ(endpoint.OpenCaptureStream(false, true), S_OK);
    EXPECT_EQ(endpoint.channels, 2);
    EXPECT_TRUE(endpoint.audioClient);
    EXPECT_FALSE(endpoint.captureClient);
    EXPECT_FALSE(endpoint.captureEvent.IsValid());
    EXPECT_TRUE(system_.formatQueries.empty());
    EXPECT_TRUE(system_.initializations.empty());
  }
  EXPECT_EQ(system_.CallsStartingWith("IAudioClient::Stop").size(), 1u);
  EXPECT_EQ(system_.HeldReferences(), 0);
  EXPECT_EQ(system_.overReleases, 0);
}

TEST_F(CaptureEndpointTest, ZeroChannelMixFormatIsRefusedBeforeAnyStreamSetUp) {
  FakeEndpointScript& script = system_.AddEndpoint(L"Broken", L"broken", 0);
  for (const bool initialize : {false, true}) {
    CaptureEndpoint endpoint = Identified(script);
    EXPECT_EQ(endpoint.OpenCaptureStream(initialize, true), E_INVALIDARG);
    EXPECT_EQ(endpoint.AvailableFrames(), 0u);
  }
  EXPECT_TRUE(system_.formatQueries.empty());
}

TEST_F(CaptureEndpointTest, OnlyExactFormatAcceptanceSetsUpAStream) {
  FakeEndpointScript& closest = system_.AddEndpoint(L"Closest", L"closest", 2);
  closest.formatSupport = S_FALSE;
  CaptureEndpoint closestEndpoint = Identified(closest);
  EXPECT_EQ(closestEndpoint.OpenCaptureStream(true, false), AUDCLNT_E_UNSUPPORTED_FORMAT);

  FakeEndpointScript& refusing = system_.AddEndpoint(L"Refusing", L"refusing", 2);
  refusing.formatSupport = AUDCLNT_E_UNSUPPORTED_FORMAT;
  refusing.failures[FakeCall::kIsFormatSupported] = kDeviceInvalidated;
  CaptureEndpoint refusingEndpoint = Identified(refusing);
  EXPECT_EQ(refusingEndpoint.OpenCaptureStream(true, true), kDeviceInvalidated);

  EXPECT_TRUE(system_.initializations.empty());
}

TEST_F(CaptureEndpointTest, EachFailingStepReturnsItsResultAndKeepsWhatWasObtained) {
  for (const FakeCall step : {FakeCall::kActivate, FakeCall::kGetMixFormat, FakeCall::kInitialize,
                              FakeCall::kSetEventHandle, FakeCall::kGetService}) {
    FakeAudioSystem system;
    FakeEndpointScript& script = system.AddEndpoint(L"Endpoint", L"id", 2);
    script.failures[step] = kDeviceInvalidated;
    CaptureEndpoint endpoint;
    endpoint.device = ComPtr<IMMDevice>::Adopt(testing::MakeFakeDevice(system, script));
    const char* name = testing::FakeCallName(step);
    EXPECT_EQ(endpoint.OpenCaptureStream(true, true), kDeviceInvalidated) << name;
    EXPECT_EQ(static_cast<bool>(endpoint.audioClient), step != FakeCall::kActivate) << name;
    EXPECT_EQ(endpoint.captureEvent.IsValid(),
              step == FakeCall::kSetEventHandle || step == FakeCall::kGetService)
        << name;
    EXPECT_FALSE(endpoint.captureClient) << name;
    endpoint = CaptureEndpoint();
    EXPECT_EQ(system.HeldReferences(), 0) << name;
    EXPECT_EQ(system.overReleases, 0) << name;
  }
}

TEST_F(CaptureEndpointTest, DrainAppendsPacketsInOrderWithSilenceAsZeros) {
  FakeEndpointScript& script = system_.AddEndpoint(L"Endpoint", L"id", 2);
  CaptureEndpoint endpoint = Opened(script);
  script.QueuePacket({1, 2, 3, 4});
  script.QueueSilentPacket(480);
  script.QueuePacketWithoutData(3);  // not flagged silent, yet nothing to read
  // Wine flags the packet after one it overwrote as a discontinuity: still audio.
  script.QueuePacket({5, 6},
                     AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY | AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR);

  ASSERT_EQ(endpoint.DrainCapturePackets(), S_OK);

  EXPECT_EQ(endpoint.AvailableFrames(), 2u + 480u + 3u + 1u);
  std::vector<std::int16_t> expected = {1, 2, 3, 4};
  expected.resize(4 + 960 + 6, 0);
  expected.push_back(5);
  expected.push_back(6);
  EXPECT_EQ(Contents(endpoint.samples), expected);
  EXPECT_EQ(
      system_.CallsStartingWith("IAudioCaptureClient::ReleaseBuffer"),
      (std::vector<std::string>{
          "IAudioCaptureClient::ReleaseBuffer id 2", "IAudioCaptureClient::ReleaseBuffer id 480",
          "IAudioCaptureClient::ReleaseBuffer id 3", "IAudioCaptureClient::ReleaseBuffer id 1"}));
  EXPECT_EQ(system_.CallsStartingWith("IAudioCaptureClient::GetBuffer id positions=null").size(),
            4u);
}

TEST_F(CaptureEndpointTest, DrainWithoutPacketsOnlyAsksForTheNextPacketSize) {
  FakeEndpointScript& script = system_.AddEndpoint(L"Endpoint", L"id", 2);
  CaptureEndpoint endpoint = Opened(script);
  const std::int16_t queued[] = {9, 9};
  endpoint.samples.Append(queued, 2);
  system_.calls.clear();
  EXPECT_EQ(endpoint.DrainCapturePackets(), S_OK);
  EXPECT_EQ(system_.calls, std::vector<std::string>{"IAudioCaptureClient::GetNextPacketSize id"});
  EXPECT_EQ(endpoint.samples.Size(), 2u);
}

TEST_F(CaptureEndpointTest, QueueKeepsTheNewestSecondAfterEveryPacket) {
  FakeEndpointScript& script = system_.AddEndpoint(L"Endpoint", L"id", 2);
  CaptureEndpoint endpoint = Opened(script);
  std::vector<std::int16_t> full(96000);
  std::iota(full.begin(), full.end(), std::int16_t{0});
  endpoint.samples.Append(full.data(), full.size());
  std::vector<std::int16_t> packet(960);
  std::iota(packet.begin(), packet.end(), std::int16_t{-1000});
  script.QueuePacket(packet);

  ASSERT_EQ(endpoint.DrainCapturePackets(), S_OK);

  ASSERT_EQ(endpoint.samples.Size(), 96000u);
  std::vector<std::int16_t> contents = Contents(endpoint.samples);
  EXPECT_EQ(contents.front(), 960);  // the oldest 960 are gone
  EXPECT_EQ(std::vector<std::int16_t>(contents.end() - 960, contents.end()), packet);
}

TEST_F(CaptureEndpointTest, DrainFailuresReturnAtOnceAndKeepEarlierPackets) {
  for (const FakeCall step :
       {FakeCall::kGetNextPacketSize, FakeCall::kGetBuffer, FakeCall::kReleaseBuffer}) {
    const char* name = testing::FakeCallName(step);
    FakeAudioSystem system;
    FakeEndpointScript& script = system.AddEndpoint(L"Endpoint", L"id", 1);
    CaptureEndpoint endpoint;
    endpoint.device = ComPtr<IMMDevice>::Adopt(testing::MakeFakeDevice(system, script));
    ASSERT_EQ(endpoint.OpenCaptureStream(true, true), S_OK);
    script.QueuePacket({7});
    script.failures[step] = kDeviceInvalidated;
    EXPECT_EQ(endpoint.DrainCapturePackets(), kDeviceInvalidated) << name;
    // A packet already read stays queued when its release fails.
    EXPECT_EQ(endpoint.samples.Size(), step == FakeCall::kReleaseBuffer ? 1u : 0u) << name;
  }
}

TEST_F(CaptureEndpointTest, AvailableFramesCountsWholeFramesOnly) {
  CaptureEndpoint endpoint;
  endpoint.samples.AppendSilence(5);
  EXPECT_EQ(endpoint.AvailableFrames(), 0u);  // no channels yet
  endpoint.channels = 2;
  EXPECT_EQ(endpoint.AvailableFrames(), 2u);
  endpoint.samples.Clear();
  EXPECT_EQ(endpoint.AvailableFrames(), 0u);
}

TEST_F(CaptureEndpointTest, MovedFromRecordReleasesNothingAndTheTargetStillWorks) {
  FakeEndpointScript& script = system_.AddEndpoint(L"Endpoint", L"id", 2);
  std::vector<CaptureEndpoint> list;
  {
    CaptureEndpoint endpoint = Opened(script);
    list.push_back(std::move(endpoint));
    EXPECT_FALSE(endpoint.device || endpoint.audioClient || endpoint.captureClient);
    EXPECT_FALSE(endpoint.captureEvent.IsValid());
  }
  EXPECT_TRUE(system_.CallsStartingWith("IAudioClient::Stop").empty());
  // Growing the list moves the opened record again.
  for (int i = 0; i < 8; ++i) list.emplace_back();
  script.QueuePacket({1, 2});
  EXPECT_EQ(list[0].DrainCapturePackets(), S_OK);
  EXPECT_EQ(list[0].AvailableFrames(), 1u);
  EXPECT_EQ(list[0].endpointId, L"id");
  list.clear();
  EXPECT_EQ(system_.CallsStartingWith("IAudioClient::Stop").size(), 1u);
  EXPECT_EQ(system_.HeldReferences(), 0);
  EXPECT_EQ(system_.overReleases, 0);
}

TEST_F(CaptureEndpointTest, MoveAssignmentStopsAndReleasesTheTargetsStreamFirst) {
  FakeEndpointScript& first = system_.AddEndpoint(L"First", L"first", 2);
  FakeEndpointScript& second = system_.AddEndpoint(L"Second", L"second", 1);
  CaptureEndpoint target = Opened(first);
  CaptureEndpoint source = Opened(second);
  const std::int16_t targetSamples[] = {1, 2};
  const std::int16_t sourceSamples[] = {7, 8, 9};
  target.samples.Append(targetSamples, 2);
  source.samples.Append(sourceSamples, 3);
  const int referencesBefore = system_.HeldReferences();
  system_.calls.clear();

  target = std::move(source);

  EXPECT_EQ(system_.calls, std::vector<std::string>{"IAudioClient::Stop first"});
  EXPECT_EQ(system_.HeldReferences(), referencesBefore - 3);
  EXPECT_EQ(target.endpointId, L"second");
  EXPECT_EQ(target.channels, 1);
  // The source's queued samples come along; the target's own go with its stream.
  EXPECT_EQ(Contents(target.samples), (std::vector<std::int16_t>{7, 8, 9}));
  // Self-assignment changes nothing.
  CaptureEndpoint& alias = target;
  target = std::move(alias);
  EXPECT_TRUE(target.captureClient);
  EXPECT_EQ(system_.calls.size(), 1u);
}

TEST_F(CaptureEndpointTest, DestructionStopsThenReleasesCaptureClientAudioClientDevice) {
  FakeEndpointScript& script = system_.AddEndpoint(L"Endpoint", L"id", 2);
  {
    CaptureEndpoint endpoint = Opened(script);
    system_.calls.clear();
  }
  EXPECT_EQ(system_.calls, std::vector<std::string>{"IAudioClient::Stop id"});
  EXPECT_EQ(system_.finalReleases, (std::vector<std::string>{"IAudioCaptureClient id",
                                                             "IAudioClient id", "IMMDevice id"}));
  EXPECT_EQ(system_.HeldReferences(), 0);
  EXPECT_EQ(system_.overReleases, 0);
}

}  // namespace
}  // namespace velmoravad
