#include "velmoravad-endpoints/endpoints_run.h"

#include "capture/fake_audio_system.h"
#include "common/version.h"
#include "driver/in_process_run.h"

#include <gtest/gtest.h>

#include <optional>

namespace velmoravad {
namespace {

using testing::FakeAudioSystem;
using testing::FakeCall;
using testing::ReadAll;
using testing::RunResult;

RunResult RunTool(const std::vector<std::wstring>& arguments) {
  std::FILE* output = std::tmpfile();
  std::FILE* error = std::tmpfile();
  EXPECT_TRUE(output != nullptr && error != nullptr);
  RunResult result;
  result.status = RunEndpoints(arguments, {output, error});
  result.output = ReadAll(output);
  result.error = ReadAll(error);
  std::fclose(output);
  std::fclose(error);
  return result;
}

constexpr char kIntroduction[] =
    "Active capture endpoints: the application endpoints by slot, then the others by name,\n"
    "any of which may be the live input (its ID goes after --live-input-id).\n\n";

class EndpointsRunTest : public ::testing::Test {
 protected:
  // Every check was released, never started, before COM went.
  void ExpectReleasedUnstarted() {
    EXPECT_EQ(system_.comUninitializations, 1);
    EXPECT_EQ(system_.referencesHeldAtUninitialize, 0);
    EXPECT_EQ(system_.overReleases, 0);
    EXPECT_TRUE(system_.CallsStartingWith("IAudioClient::Start").empty());
  }

  FakeAudioSystem system_;
};

TEST_F(EndpointsRunTest, ListsApplicationEndpointsBySlotThenTheOthersByName) {
  system_.AddEndpoint(L"VelmoraDSP Application 12 Output", L"{app-12}", 2);
  system_.AddEndpoint(L"Line In", L"{line}", 2);
  system_.AddEndpoint(L"VelmoraDSP Application 3 Outputs", L"{app-3}", 1);
  system_.AddEndpoint(L"Desk\nMic \u00fc", L"{desk}", 1).failures[FakeCall::kActivate] =
      E_ACCESSDENIED;
  system_.AddEndpoint(L"velmoraDSP application 4 output", L"{near}", 6);
  system_.AddEndpoint(L"VelmoraDSP Application 5 Output", L"{render}").flow = eRender;
  system_.AddEndpoint(L"VelmoraDSP Application 6 Output", L"{off}").state = DEVICE_STATE_UNPLUGGED;

  const RunResult result = RunTool({});
  EXPECT_EQ(
      result.output,
      std::string(kIntroduction) +
          "ROLE        CHANNELS  NAME                              ID        CHECK\n"
          "slot 3             1  VelmoraDSP Application 3 Outputs  {app-3}   ok\n"
          "slot 12            2  VelmoraDSP Application 12 Output  {app-12}  ok\n"
          "live input         ?  Desk\\x0AMic \u00fc                     {desk}    0x80070005\n"
          "    access denied: allow desktop apps to use the microphone in Windows' privacy "
          "settings (Privacy, Microphone)\n"
          "live input         2  Line In                           {line}    ok\n"
          "live input         6  velmoraDSP application 4 output   {near}    ok\n"
          "    not an application endpoint: the letter case differs from \"VelmoraDSP "
          "Application \"\n"
          "\n"
          "A run opens every application endpoint; velmoravad-aggregate --list prints:\n"
          "{\"endpoints\":2,\"channels\":5,\"applicationChannels\":3,\"liveInputChannels\":0,"
          "\"announcementChannels\":2,\"sampleRate\":48000,\"format\":\"S16LE\"}\n");
  EXPECT_EQ(result.error, "");
  // A live input that cannot open does not stop a run.
  EXPECT_EQ(result.status, 0);

  // The set-up of a run: exclusive with 100 ms buffers for the application
  // endpoints, shared after a lookup by id for the others.
  ASSERT_EQ(system_.initializations.size(), 4u);
  for (const testing::FormatRequest& request : system_.initializations) {
    const bool application = request.endpointId.rfind(L"{app-", 0) == 0;
    EXPECT_EQ(request.shareMode,
              application ? AUDCLNT_SHAREMODE_EXCLUSIVE : AUDCLNT_SHAREMODE_SHARED);
    EXPECT_EQ(request.bufferDuration, application ? 1000000 : 0);
    EXPECT_EQ(request.streamFlags, AUDCLNT_STREAMFLAGS_EVENTCALLBACK);
  }
  EXPECT_EQ(system_.CallsStartingWith("IMMDeviceEnumerator::GetDevice").size(), 3u);
  ExpectReleasedUnstarted();
}

TEST_F(EndpointsRunTest, JsonDocumentEscapesNamesAsJsonRequires) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{0.0.1.00000000}.{a}", 2);
  system_.AddEndpoint(L"Mic \"Pro\" \\ 2\t\u00fc", L"{mic}", 1).failures[FakeCall::kInitialize] =
      static_cast<HRESULT>(0x80004005u);

  const RunResult result = RunTool({L"--json"});
  EXPECT_EQ(result.output,
            "{\"endpoints\":["
            "{\"role\":\"application\",\"slot\":1,\"channels\":2,\"name\":\"VelmoraDSP "
            "Application 1 Output\",\"id\":\"{0.0.1.00000000}.{a}\",\"note\":null,\"check\":\"ok\","
            "\"advice\":null},"
            "{\"role\":\"liveInput\",\"slot\":null,\"channels\":1,\"name\":\"Mic \\\"Pro\\\" \\\\ "
            "2\\u0009\u00fc\",\"id\":\"{mic}\",\"note\":null,\"check\":\"0x80004005\","
            "\"advice\":null}],"
            "\"summary\":{\"runOpens\":true,\"code\":null,\"failure\":null,\"advice\":null,"
            "\"layout\":{\"endpoints\":1,\"channels\":4,\"applicationChannels\":2,"
            "\"liveInputChannels\":0,\"announcementChannels\":2,\"sampleRate\":48000,"
            "\"format\":\"S16LE\"}}}\n");
  EXPECT_EQ(result.status, 0);
  ExpectReleasedUnstarted();
}

// A failure of the check, where the audio system gives it, and its words.
struct CheckFailureCase {
  const char* name;
  FakeCall call;
  std::uint32_t code;
  const char* advice;  // empty: a code without words
};

class CheckFailureTest : public EndpointsRunTest,
                         public ::testing::WithParamInterface<CheckFailureCase> {};

TEST_P(CheckFailureTest, EachCodeGetsItsSentenceOnTheRowAndStopsTheRun) {
  const CheckFailureCase& failure = GetParam();
  const auto code = static_cast<HRESULT>(failure.code);
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{app}", 2).failures[failure.call] =
      code;
  system_.AddEndpoint(L"Mic", L"{mic}", 2).failures[failure.call] = code;

  const RunResult result = RunTool({});
  char codeText[16];
  std::snprintf(codeText, sizeof codeText, "0x%08X", failure.code);
  const std::string advice = *failure.advice ? std::string("    ") + failure.advice + "\n" : "";
  const std::string channels = failure.call == FakeCall::kActivate ? "?" : "2";
  EXPECT_EQ(result.output,
            std::string(kIntroduction) +
                "ROLE        CHANNELS  NAME                             ID     CHECK\n"
                "slot 1             " +
                channels + "  VelmoraDSP Application 1 Output  {app}  " + codeText + "\n" + advice +
                "live input         " + channels + "  Mic                              {mic}  " +
                codeText + "\n" + advice +
                "\nA run would not start: Capture endpoint initialization failed: " + codeText +
                "\n    slot 1, \"VelmoraDSP Application 1 Output\": " +
                (*failure.advice ? failure.advice : "the stream could not be set up") + "\n");
  EXPECT_EQ(result.status, 1);
  ExpectReleasedUnstarted();
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CheckFailureTest,
    ::testing::Values(
        CheckFailureCase{"ExclusiveModeOff", FakeCall::kInitialize, 0x8889000E,
                         "exclusive mode is switched off for this device: in Sound settings open "
                         "the device's Properties, Advanced, and tick \"Allow applications to "
                         "take exclusive control of this device\""},
        CheckFailureCase{"HeldExclusively", FakeCall::kInitialize, 0x8889000A,
                         "another program holds the device in exclusive mode: close it (or the "
                         "velmoravad-aggregate already running) and check again"},
        CheckFailureCase{"FormatRefused", FakeCall::kIsFormatSupported, 0x88890008,
                         "the endpoint does not take 16-bit 48000 Hz with its own 2 channels (its "
                         "mix format is 32-bit float, 44100 Hz, 2 channels): set its Default "
                         "Format to 16 bit, 48000 Hz (Sound settings, the device's Properties, "
                         "Advanced)"},
        CheckFailureCase{"DeviceGone", FakeCall::kGetService, 0x88890004,
                         "the device went away (unplugged, disabled or its driver restarted): "
                         "connect or enable it and check again"},
        CheckFailureCase{"AccessDenied", FakeCall::kActivate, 0x80070005,
                         "access denied: allow desktop apps to use the microphone in Windows' "
                         "privacy settings (Privacy, Microphone)"},
        CheckFailureCase{"Unknown", FakeCall::kSetEventHandle, 0x80004005, ""}),
    [](const ::testing::TestParamInfo<CheckFailureCase>& info) { return info.param.name; });

TEST_F(EndpointsRunTest, AClosestMatchInsteadOfTheFormatIsRefusalToo) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{app}", 1).formatSupport = S_FALSE;
  const RunResult result = RunTool({L"--json"});
  EXPECT_NE(result.output.find("\"check\":\"0x88890008\",\"advice\":\"the endpoint does not take "
                               "16-bit 48000 Hz with its own 1 channel (its mix format is 32-bit "
                               "float, 44100 Hz, 1 channel)"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(result.status, 1);
  ExpectReleasedUnstarted();
}

// Why a run would not start, in the summary of both forms, and the status.
struct SummaryCase {
  const char* name;
  std::vector<std::pair<std::wstring, WORD>> endpoints;  // friendly name, channels
  std::optional<FakeCall> systemFailure;                 // fails with AUDCLNT_E_SERVICE_NOT_RUNNING
  const char* failure;
  const char* advice;
};

class SummaryTest : public EndpointsRunTest, public ::testing::WithParamInterface<SummaryCase> {};

TEST_P(SummaryTest, NamesTheOneReasonARunWouldNotStart) {
  const SummaryCase& summary = GetParam();
  int index = 0;
  for (const auto& [name, channels] : summary.endpoints) {
    system_.AddEndpoint(name, L"{" + std::to_wstring(++index) + L"}", channels);
  }
  if (summary.systemFailure) {
    system_.failures[*summary.systemFailure] = static_cast<HRESULT>(0x88890010u);
  }
  const RunResult table = RunTool({});
  EXPECT_NE(table.output.find("\nA run would not start: " + std::string(summary.failure) +
                              "\n    " + summary.advice + "\n"),
            std::string::npos)
      << table.output;
  EXPECT_EQ(table.status, 1);
  const RunResult json = RunTool({L"--json"});
  EXPECT_NE(json.output.find(",\"failure\":\"" + std::string(summary.failure) + "\""),
            std::string::npos)
      << json.output;
  EXPECT_EQ(json.status, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, SummaryTest,
    ::testing::Values(
        SummaryCase{"NoApplicationEndpoint",
                    {{L"Line In", 2}, {L"VelmoraDSP Application 0 Output", 2}},
                    std::nullopt,
                    "VelmoraDSP endpoint enumeration failed: 0x80070490",
                    "no active capture endpoint is named \"VelmoraDSP Application <slot> Output\": "
                    "name the endpoints of VelmoraDSP's applications so (see the notes above), or "
                    "enable them"},
        SummaryCase{"SharedSlot",
                    {{L"VelmoraDSP Application 01 Output", 2},
                     {L"VelmoraDSP Application 2 Output", 2},
                     {L"VelmoraDSP Application 1 Output (2)", 2}},
                    std::nullopt,
                    "VelmoraDSP endpoint enumeration failed: 0x80070034",
                    "slot 1 is taken by both \"VelmoraDSP Application 01 Output\" and \"VelmoraDSP "
                    "Application 1 Output (2)\": rename one of them"},
        SummaryCase{"ListingFails",
                    {{L"VelmoraDSP Application 1 Output", 2}},
                    FakeCall::kEnumAudioEndpoints,
                    "VelmoraDSP endpoint enumeration failed: 0x88890010",
                    "the Windows Audio service is not running: start it and check again"},
        SummaryCase{"TooManyChannels",
                    {{L"VelmoraDSP Application 1 Output", 40000},
                     {L"VelmoraDSP Application 2 Output", 30000}},
                    std::nullopt,
                    "Capture endpoint initialization failed: 0x80070216",
                    "slot 2, \"VelmoraDSP Application 2 Output\": the channels of the application "
                    "endpoints add up to more than 65535"}),
    [](const ::testing::TestParamInfo<SummaryCase>& info) { return info.param.name; });

TEST_F(EndpointsRunTest, SharedSlotRowsSayWhy) {
  system_.AddEndpoint(L"VelmoraDSP Application 1 Output", L"{a}");
  system_.AddEndpoint(L"VelmoraDSP Application 01 Output", L"{b}");
  const RunResult result = RunTool({});
  const std::string note =
      "    another application endpoint has the same slot: a run refuses both (0x80070034) until "
      "one is renamed\n";
  EXPECT_NE(result.output.find("{b}  ok\n" + note + "slot 1 "), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("{a}  ok\n" + note + "\n"), std::string::npos) << result.output;
}

TEST_F(EndpointsRunTest, CommandLineRefusalsHelpAndVersionNeedNoAudioSystem) {
  for (const std::vector<std::wstring>& refused :
       {std::vector<std::wstring>{L"--list"}, {L"--json", L"--json"}, {L"--JSON"}, {L"-h"}}) {
    const RunResult result = RunTool(refused);
    EXPECT_EQ(result.error, "Usage: velmoravad-endpoints [--json] | --help | --version\n");
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.status, 2);
  }
  const RunResult help = RunTool({L"--help"});
  EXPECT_EQ(help.output.rfind("Usage: velmoravad-endpoints [--json] | --help | --version\n", 0),
            0u);
  EXPECT_NE(help.output.find("Exit status: 0 when a run"), std::string::npos);
  EXPECT_EQ(help.status, 0);
  const RunResult version = RunTool({L"--version"});
  EXPECT_EQ(version.output, std::string("velmoravad-endpoints ") + kVersion + "\n");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(system_.comInitializations, 0);
}

TEST_F(EndpointsRunTest, ComThatCannotStartIsReported) {
  system_.failures[FakeCall::kCoInitializeEx] = static_cast<HRESULT>(0x80010106u);
  const RunResult result = RunTool({});
  EXPECT_EQ(result.error, "CoInitializeEx failed: 0x80010106\n");
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(system_.comUninitializations, 0);
}

}  // namespace
}  // namespace velmoravad
