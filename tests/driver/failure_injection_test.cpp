// Every failure path, systematically: a run is made once to count the calls it
// makes into the audio system, events and standard output, and the allocations
// it makes; then it is made again for every k with call k (or allocation k)
// failing. Each time the run must end the way that call's failure calls for —
// one report with the right label and code, or the ending of a failure that is
// not reported — with every reference released once, before COM goes.
#include "capture/fake_audio_system.h"
#include "common/allocation_counter.h"
#include "driver/in_process_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velmoravad {
namespace {

using std::chrono::milliseconds;
using testing::FakeAudioSystem;
using testing::FakeCall;
using testing::RunResult;

const std::wstring kIdPrefix = L"{0.0.1.00000000}.{7d1a5b2c-0000-4000-8000-";
const std::wstring kMicrophone = kIdPrefix + L"microphone}";

struct Scenario {
  const char* name;
  std::vector<std::wstring> arguments;
};
void PrintTo(const Scenario& scenario, std::ostream* stream) { *stream << scenario.name; }

// Two application endpoints, a capture endpoint that is none, and the live
// input; a packet for each during the flush and another after it.
struct ScriptedRun {
  explicit ScriptedRun(std::optional<std::size_t> failCall = std::nullopt) {
    system.failCall = failCall.value_or(0);
    // Ids as long as Windows' own, so that copying one allocates.
    system.AddEndpoint(L"VelmoraDSP Application 2 Output", kIdPrefix + L"app2}", 1);
    system.AddEndpoint(L"Line In (High Definition Audio Device)", kIdPrefix + L"line}", 2);
    system.AddEndpoint(L"VelmoraDSP Application 1 Output", kIdPrefix + L"app1}", 2);
    system.AddEndpoint(L"Microphone (High Definition Audio Device)", kMicrophone, 1);
    services.output.injection = &system;
    services.clock.shortestWait = milliseconds(500);  // a flush of five passes
    for (const milliseconds time : {milliseconds(1200), milliseconds(2501)}) {
      services.clock.At(time, [this] {
        for (testing::FakeEndpointScript* endpoint : system.Endpoints()) {
          endpoint->QueuePacket(
              std::vector<std::int16_t>(std::size_t{2} * endpoint->mixChannels, 5));
        }
      });
    }
  }

  RunResult Run(const Scenario& scenario, testing::AllocationCounting counting = {}) {
    return testing::RunInProcess(scenario.arguments, services.Get(), counting);
  }

  FakeAudioSystem system;
  testing::FakeServices services;
};

// How a run ends when a call fails: its report (empty for none) and status.
struct Ending {
  std::string report;
  int status;
};

bool IsOneOf(FakeCall method, std::initializer_list<FakeCall> calls) {
  return std::find(calls.begin(), calls.end(), method) != calls.end();
}

// The ending that the failure of each call of a clean run calls for, by what
// the call was and where in the run it came: the first enumerator serves the
// discovery (and the application endpoints are opened after it), the second
// the live input's lookup.
std::vector<Ending> EndingsOfFailures(const std::vector<FakeAudioSystem::FallibleCall>& calls) {
  const std::string injected = " failed: 0x80004004\n";
  std::vector<Ending> endings;
  bool flushOver = false;
  for (const FakeAudioSystem::FallibleCall& call : calls) {
    const FakeCall method = call.method;
    const bool lookupStage =
        call.enumeratorsCreated >= 2 ||
        (method == FakeCall::kCoCreateInstance && call.enumeratorsCreated == 1);
    if (method == FakeCall::kCoInitializeEx) {
      endings.push_back({"CoInitializeEx" + injected, 1});
    } else if (IsOneOf(method, {FakeCall::kStop, FakeCall::kWriteOutput})) {
      endings.push_back({"", 0});  // ignored; a short write means the reader has gone
    } else if (method == FakeCall::kAvSetMmThreadCharacteristicsW) {
      flushOver = true;
      endings.push_back({"", 0});  // the loop runs at normal priority
    } else if (method == FakeCall::kSetOutputBinaryMode) {
      endings.push_back({"stdout binary mode failed: 0x80070006\n", 1});
    } else if (method == FakeCall::kStart) {
      endings.push_back({"Capture start" + injected, 1});
    } else if (IsOneOf(method, {FakeCall::kGetNextPacketSize, FakeCall::kGetBuffer,
                                FakeCall::kReleaseBuffer})) {
      endings.push_back({(flushOver ? "Capture read" : "Capture startup flush") + injected, 1});
    } else if (IsOneOf(method,
                       {FakeCall::kActivate, FakeCall::kGetMixFormat, FakeCall::kIsFormatSupported,
                        FakeCall::kInitialize, FakeCall::kCreateEventW, FakeCall::kSetEventHandle,
                        FakeCall::kGetService})) {
      const std::string label =
          lookupStage ? "Live input initialization" : "Capture endpoint initialization";
      endings.push_back(
          {label + (method == FakeCall::kCreateEventW ? " failed: 0x80070008\n" : injected), 1});
    } else if (lookupStage) {
      endings.push_back({"Live input endpoint lookup" + injected, 1});
    } else {
      endings.push_back({"VelmoraDSP endpoint enumeration" + injected, 1});
    }
  }
  return endings;
}

// The lines of `text` that are failure reports.
std::vector<std::string> Reports(const std::string& text) {
  std::vector<std::string> reports;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size() - 1);
    const std::string line = text.substr(start, end - start + 1);
    if (line.find(" failed: 0x") != std::string::npos) reports.push_back(line);
    start = end + 1;
  }
  return reports;
}

void ExpectEverythingReleased(const FakeAudioSystem& system, const std::string& context) {
  EXPECT_EQ(system.HeldReferences(), 0) << context;
  EXPECT_EQ(system.overReleases, 0) << context;
  if (system.comInitializations == 1) {
    EXPECT_EQ(system.comUninitializations, 1) << context;
    EXPECT_EQ(system.referencesHeldAtUninitialize, 0) << context;
  } else {
    EXPECT_EQ(system.comUninitializations, 0) << context;
  }
}

class FailureInjectionTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(FailureInjectionTest, EveryCallFailingInTurnEndsTheRunAsItsFailureCallsFor) {
  ScriptedRun clean;
  const RunResult cleanResult = clean.Run(GetParam());
  ASSERT_EQ(cleanResult.status, 0) << cleanResult.error;
  const std::vector<Ending> endings = EndingsOfFailures(clean.system.fallibleCalls);
  ASSERT_GT(endings.size(), 20u);
  RecordProperty("injected_calls", static_cast<int>(endings.size()));

  for (std::size_t k = 1; k <= endings.size(); ++k) {
    ScriptedRun failing(k);
    const RunResult result = failing.Run(GetParam());
    const std::string context = "call " + std::to_string(k) + " " +
                                testing::FakeCallName(clean.system.fallibleCalls[k - 1].method);
    const Ending& expected = endings[k - 1];
    EXPECT_EQ(result.status, expected.status) << context << "\n" << result.error;
    if (expected.report.empty()) {
      EXPECT_TRUE(Reports(result.error).empty()) << context << "\n" << result.error;
    } else {
      EXPECT_EQ(Reports(result.error), std::vector<std::string>{expected.report}) << context;
      EXPECT_TRUE(result.error.size() >= expected.report.size() &&
                  result.error.compare(result.error.size() - expected.report.size(),
                                       std::string::npos, expected.report) == 0)
          << context << ": the report is not the last line\n"
          << result.error;
    }
    ExpectEverythingReleased(failing.system, context);
  }
}

// Memory that runs out at any allocation of the run: one report of the step it
// happened in, with E_OUTOFMEMORY, status 1 and everything released; never an
// exception out of the run.
TEST_P(FailureInjectionTest, EveryAllocationFailingInTurnIsReportedAsOutOfMemory) {
  std::size_t allocations = 0;
  ScriptedRun clean;
  // The announcement source's allocations come after the flush and before the
  // loop's block, the last allocation before the first tick.
  std::size_t flushEnd = 0;
  std::size_t firstTick = 0;
  clean.services.clock.At(milliseconds(2500),
                          [&] { flushEnd = testing::AllocationsCountedSoFar(); });
  clean.services.clock.At(milliseconds(2501),
                          [&] { firstTick = testing::AllocationsCountedSoFar(); });
  ASSERT_EQ(clean.Run(GetParam(), {std::nullopt, &allocations}).status, 0);
  ASSERT_GT(allocations, 5u);
  RecordProperty("injected_allocations", static_cast<int>(allocations));

  for (std::size_t k = 1; k <= allocations; ++k) {
    ScriptedRun failing;
    const RunResult result = failing.Run(GetParam(), {k, nullptr});
    const std::string context = "allocation " + std::to_string(k);
    if (k > flushEnd && k < firstTick) {
      // No announcement source, or one without its thread: silent channels.
      EXPECT_EQ(result.status, 0) << context << "\n" << result.error;
      EXPECT_TRUE(Reports(result.error).empty()) << context << "\n" << result.error;
      ExpectEverythingReleased(failing.system, context);
      continue;
    }
    EXPECT_EQ(result.status, 1) << context << "\n" << result.error;
    const std::vector<std::string> reports = Reports(result.error);
    ASSERT_EQ(reports.size(), 1u) << context << "\n" << result.error;
    EXPECT_NE(reports[0].find(" failed: 0x8007000E\n"), std::string::npos) << context << reports[0];
    ExpectEverythingReleased(failing.system, context);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FailureInjectionTest,
    ::testing::Values(Scenario{"list", {L"--list", L"--live-input-id", kMicrophone}},
                      Scenario{"stream", {L"--live-input-id", kMicrophone}}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
}  // namespace velmoravad
