#include "driver/aggregate_run.h"

#include "capture/fake_audio_system.h"
#include "driver/in_process_run.h"

#include <gtest/gtest.h>

namespace velmoravad {
namespace {

using testing::FakeAudioSystem;
using testing::FakeCall;
using testing::RunInProcess;
using testing::RunResult;

constexpr HRESULT kDeviceInvalidated = static_cast<HRESULT>(0x88890004u);

class AggregateRunTest : public ::testing::Test {
 protected:
  // The run released every reference, each once, before uninitialising COM.
  void ExpectReleasedBeforeUninitialize() {
    EXPECT_EQ(system_.comInitializations, 1);
    EXPECT_EQ(system_.comUninitializations, 1);
    EXPECT_EQ(system_.referencesHeldAtUninitialize, 0);
    EXPECT_EQ(system_.HeldReferences(), 0);
    EXPECT_EQ(system_.overReleases, 0);
    ASSERT_FALSE(system_.calls.empty());
    EXPECT_EQ(system_.calls.back(), "CoUninitialize");
  }

  void AddTwoStereoApplicationsAndOthers() {
    system_.AddEndpoint(L"VelmoraDSP Application 2 Output", L"{app-2}", 2);
    system_.AddEndpoint(L"Line In (Realtek)", L"{line}", 2);
    system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{app-1}", 2);
    system_.AddEndpoint(L"Headset Microphone", L"{mic}", 1);
  }

  FakeAudioSystem system_;
};

TEST_F(AggregateRunTest, ListDescribesTheLayoutAfterOneLinePerEndpoint) {
  AddTwoStereoApplicationsAndOthers();
  const RunResult result = RunInProcess({L"--list"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.error,
            "slot=1 channels=2 name=VelmoraDSP Application 1 Output id={app-1}\n"
            "slot=2 channels=2 name=VelmoraDSP Application 2 Output id={app-2}\n");
  EXPECT_EQ(result.output,
            "{\"endpoints\":2,\"channels\":6,\"applicationChannels\":4,\"liveInputChannels\":0,"
            "\"announcementChannels\":2,\"sampleRate\":48000,\"format\":\"S16LE\"}\n");
  // Listing opens no capture stream.
  EXPECT_TRUE(system_.formatQueries.empty());
  EXPECT_TRUE(system_.initializations.empty());
  ExpectReleasedBeforeUninitialize();
}

TEST_F(AggregateRunTest, ListWithLiveInputCountsItsChannelsButNotItsRecord) {
  AddTwoStereoApplicationsAndOthers();
  const RunResult result = RunInProcess({L"--live-input-id", L"{line}", L"--list"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.error,
            "slot=1 channels=2 name=VelmoraDSP Application 1 Output id={app-1}\n"
            "slot=2 channels=2 name=VelmoraDSP Application 2 Output id={app-2}\n"
            "live_input channels=2 name=Line In (Realtek) id={line}\n");
  EXPECT_EQ(result.output,
            "{\"endpoints\":2,\"channels\":8,\"applicationChannels\":4,\"liveInputChannels\":2,"
            "\"announcementChannels\":2,\"sampleRate\":48000,\"format\":\"S16LE\"}\n");
  ExpectReleasedBeforeUninitialize();
}

TEST_F(AggregateRunTest, RunOpensApplicationsExclusiveAndTheLiveInputShared) {
  AddTwoStereoApplicationsAndOthers();
  const RunResult result = RunInProcess({L"--live-input-id", L"{mic}"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.error,
            "slot=1 channels=2 name=VelmoraDSP Application 1 Output id={app-1}\n"
            "slot=2 channels=2 name=VelmoraDSP Application 2 Output id={app-2}\n"
            "live_input channels=1 name=Headset Microphone id={mic}\n"
            "aggregate_flushed milliseconds=2500\n"
            "aggregate_running endpoints=2 application_channels=4 live_input_channels=1 "
            "announcement_channels=2 channels=7 sample_rate=48000\n"
            "aggregate_stopped reason=stdout_closed\n");
  ASSERT_EQ(system_.initializations.size(), 3u);
  EXPECT_EQ(system_.initializations[0].endpointId, L"{app-1}");
  EXPECT_EQ(system_.initializations[0].shareMode, AUDCLNT_SHAREMODE_EXCLUSIVE);
  EXPECT_EQ(system_.initializations[1].endpointId, L"{app-2}");
  EXPECT_EQ(system_.initializations[2].endpointId, L"{mic}");
  EXPECT_EQ(system_.initializations[2].shareMode, AUDCLNT_SHAREMODE_SHARED);
  // Every opened stream is stopped when its record goes.
  EXPECT_EQ(system_.CallsStartingWith("IAudioClient::Stop").size(), 3u);
  ExpectReleasedBeforeUninitialize();
}

TEST_F(AggregateRunTest, RefusedCommandLineDoesNothingElse) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{app-1}");
  for (const std::vector<std::wstring>& arguments :
       {std::vector<std::wstring>{L"--list", L"--list"}, {L"--live-input-id"}, {L"--verbose"}}) {
    const RunResult result = RunInProcess(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.error,
              "Usage: velmoravad-aggregate.exe [--list] [--live-input-id ENDPOINT_ID]\n");
    EXPECT_EQ(result.output, "");
  }
  EXPECT_TRUE(system_.calls.empty());
}

TEST_F(AggregateRunTest, FailedComInitialisationIsReportedWithoutUninitialising) {
  system_.failures[FakeCall::kCoInitializeEx] = static_cast<HRESULT>(0x80010106u);
  const RunResult result = RunInProcess({L"--list"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.error, "CoInitializeEx failed: 0x80010106\n");
  EXPECT_EQ(system_.comUninitializations, 0);
  EXPECT_EQ(system_.calls, std::vector<std::string>{"CoInitializeEx"});
}

TEST_F(AggregateRunTest, EnumerationFailuresEndTheRunWithoutALayout) {
  struct Case {
    const char* name;
    void (*script)(FakeAudioSystem&);
    const char* report;
  };
  const Case cases[] = {
      {"none", [](FakeAudioSystem& s) { s.AddEndpoint(L"Mic", L"mic"); },
       "VelmoraDSP endpoint enumeration failed: 0x80070490\n"},
      {"duplicate",
       [](FakeAudioSystem& s) {
         s.AddEndpoint(L"VelmoraDSP Application 1 Output", L"a");
         s.AddEndpoint(L"VelmoraDSP Application 01 Output", L"b");
       },
       "VelmoraDSP endpoint enumeration failed: 0x80070034\n"},
      {"enumerator",
       [](FakeAudioSystem& s) { s.failures[FakeCall::kCoCreateInstance] = kDeviceInvalidated; },
       "VelmoraDSP endpoint enumeration failed: 0x88890004\n"},
  };
  for (const Case& failing : cases) {
    FakeAudioSystem system;
    failing.script(system);
    const RunResult result = RunInProcess({L"--list"});
    EXPECT_EQ(result.status, 1) << failing.name;
    EXPECT_EQ(result.error, failing.report) << failing.name;
    EXPECT_EQ(result.output, "") << failing.name;
    EXPECT_EQ(system.referencesHeldAtUninitialize, 0) << failing.name;
    EXPECT_EQ(system.comUninitializations, 1) << failing.name;
  }
}

TEST_F(AggregateRunTest, LiveInputThatIsAnApplicationEndpointIsRefusedBeforeOpening) {
  AddTwoStereoApplicationsAndOthers();
  const RunResult result = RunInProcess({L"--live-input-id", L"{app-2}"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.error, "Live input cannot be a VelmoraDSP application endpoint.\n");
  EXPECT_TRUE(system_.CallsStartingWith("IMMDevice::Activate").empty());
  ExpectReleasedBeforeUninitialize();
}

// An id that names an application endpoint in another spelling passes the
// textual check; the found device's own id gives it away before it is opened.
TEST_F(AggregateRunTest, LiveInputThatIsAnApplicationEndpointInAnotherSpellingIsRefused) {
  for (const bool listOnly : {true, false}) {
    FakeAudioSystem system;
    system.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{app-1}", 2);
    system.AddEndpoint(L"VelmoraDSP Application 2 Output", L"{app-2}", 2);
    std::vector<std::wstring> arguments = {L"--live-input-id", L"{APP-2}"};
    if (listOnly) arguments.push_back(L"--list");
    const RunResult result = RunInProcess(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.error,
              "slot=1 channels=2 name=VelmoraDSP Application 1 Output id={app-1}\n"
              "slot=2 channels=2 name=VelmoraDSP Application 2 Output id={app-2}\n"
              "Live input cannot be a VelmoraDSP application endpoint.\n");
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(system.CallsStartingWith("IMMDevice::Activate").size(), 2u);  // the two applications
    EXPECT_EQ(system.referencesHeldAtUninitialize, 0);
  }
}

TEST_F(AggregateRunTest, FailingApplicationEndpointKeepsTheLinesOfThoseBefore) {
  AddTwoStereoApplicationsAndOthers();
  system_.Endpoints()[0]->failures[FakeCall::kInitialize] = kDeviceInvalidated;  // slot 2
  const RunResult result = RunInProcess({});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.error,
            "slot=1 channels=2 name=VelmoraDSP Application 1 Output id={app-1}\n"
            "Capture endpoint initialization failed: 0x88890004\n");
  ExpectReleasedBeforeUninitialize();
}

TEST_F(AggregateRunTest, FailingLiveInputIsReleasedBeforeUninitialising) {
  for (const FakeCall step : {FakeCall::kOpenPropertyStore, FakeCall::kGetValue,
                              FakeCall::kActivate, FakeCall::kInitialize}) {
    const char* name = testing::FakeCallName(step);
    FakeAudioSystem system;
    system.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{app-1}", 2);
    // A render endpoint, so that only the lookup reads it, not the enumeration.
    testing::FakeEndpointScript& live = system.AddEndpoint(L"Speakers", L"{mic}", 1);
    live.flow = eRender;
    live.failures[step] = kDeviceInvalidated;
    const RunResult result = RunInProcess({L"--live-input-id", L"{mic}"});
    EXPECT_EQ(result.status, 1) << name;
    const std::string label = step == FakeCall::kOpenPropertyStore || step == FakeCall::kGetValue
                                  ? "Live input endpoint lookup"
                                  : "Live input initialization";
    EXPECT_EQ(result.error, "slot=1 channels=2 name=VelmoraDSP Application 1 Output id={app-1}\n" +
                                label + " failed: 0x88890004\n")
        << name;
    EXPECT_EQ(system.referencesHeldAtUninitialize, 0) << name;
    EXPECT_EQ(system.overReleases, 0) << name;
  }
}

TEST_F(AggregateRunTest, FrameOfMoreThan65535ChannelsIsRefusedAtTheEndpointThatOverflows) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"a", 40000);
  system_.AddEndpoint(L"VelmoraDSP Application 2 Output", L"b", 25533);
  system_.AddEndpoint(L"VelmoraDSP Application 3 Output", L"c", 1);
  const RunResult result = RunInProcess({L"--list"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.error,
            "slot=1 channels=40000 name=VelmoraDSP Application 1 Output id=a\n"
            "slot=2 channels=25533 name=VelmoraDSP Application 2 Output id=b\n"
            "Capture endpoint initialization failed: 0x80070216\n");
  EXPECT_EQ(result.output, "");
  ExpectReleasedBeforeUninitialize();
}

TEST_F(AggregateRunTest, LiveInputThatOverflowsTheFrameIsALiveInputFailure) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"a", 65533);
  system_.AddEndpoint(L"Mic", L"mic", 1);
  const RunResult result = RunInProcess({L"--list", L"--live-input-id", L"mic"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.error,
            "slot=1 channels=65533 name=VelmoraDSP Application 1 Output id=a\n"
            "Live input initialization failed: 0x80070216\n");
  ExpectReleasedBeforeUninitialize();
}

TEST_F(AggregateRunTest, LargestFrameThatFitsIsListed) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"a", 65533);
  const RunResult result = RunInProcess({L"--list"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.output.find("\"channels\":65535,"), std::string::npos);
}

// Names and ids go out as UTF-8, bare, but a control character in them can
// neither end the line nor forge another status line.
TEST_F(AggregateRunTest, NamesAndIdsGoOutAsUtf8OnOneLineWithControlCharactersEscaped) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output \x00FC\nslot=9 channels=2 name=x id=y",
                      L"{\x97F3}\r\x7F\t\x1B\\x41", 2);
  const RunResult result = RunInProcess({L"--list"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.error,
            "slot=1 channels=2 name=VelmoraDSP Application 1 Output \xC3\xBC\\x0Aslot=9 "
            "channels=2 name=x id=y id={\xE9\x9F\xB3}\\x0D\\x7F\\x09\\x1B\\x41\n");
}

}  // namespace
}  // namespace velmoravad
