#include "velmoravad-endpoints/endpoints_run.h"

#include <optional>

#include "capture/audio_system.h"
#include "common/hresult.h"
#include "common/version.h"
#include "driver/com_scope.h"
#include "velmoravad-endpoints/endpoint_survey.h"
#include "velmoravad-endpoints/run_verdict.h"
#include "velmoravad-endpoints/survey_json.h"
#include "velmoravad-endpoints/survey_table.h"

namespace velmoravad {
namespace {

constexpr char kHelpText[] =
    "\n"
    "Lists every active capture endpoint as velmoravad-aggregate takes it: an application\n"
    "endpoint (\"VelmoraDSP Application <slot> Output\") or a possible live input, with its\n"
    "channels, friendly name and endpoint id (the text to give --live-input-id). Then sets\n"
    "up, for each one, the stream a run would (exclusive for the application endpoints,\n"
    "shared for the others), releases it without starting it, and says what a run would\n"
    "produce or the one reason it would not start.\n"
    "\n"
    "  --json     one JSON document instead of the table\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "\n"
    "Exit status: 0 when a run would open every application endpoint, 1 when it would not,\n"
    "2 for the usage line.\n";

enum class Request { kTable, kJson, kHelp, kVersion };

std::optional<Request> ParseRequest(const std::vector<std::wstring>& arguments) {
  if (arguments.empty()) return Request::kTable;
  if (arguments.size() > 1) return std::nullopt;
  if (arguments[0] == L"--json") return Request::kJson;
  if (arguments[0] == L"--help") return Request::kHelp;
  if (arguments[0] == L"--version") return Request::kVersion;
  return std::nullopt;
}

// Surveys the endpoints and writes the result; COM is initialised.
int SurveyAndReport(bool json, const StandardStreams& streams) {
  std::string text;
  bool runOpens = false;
  const HRESULT result = CatchOutOfMemory([&] {
    const Survey survey = SurveyEndpoints();
    const RunVerdict verdict = JudgeRun(survey);
    text = json ? FormatSurveyJson(survey, verdict) : FormatSurveyTable(survey, verdict);
    runOpens = verdict.RunOpens();
    return S_OK;
  });
  if (Failed(result)) {
    WriteText(streams.error, FailureReport("Endpoint survey", result).Text());
    return kEndpointsRunFails;
  }
  WriteText(streams.output, text);
  return runOpens ? kEndpointsRunOpens : kEndpointsRunFails;
}

}  // namespace

int RunEndpoints(const std::vector<std::wstring>& arguments, const StandardStreams& streams) {
  const std::optional<Request> request = ParseRequest(arguments);
  if (!request) {
    WriteText(streams.error, kEndpointsUsageLine);
    return kEndpointsRefused;
  }
  if (*request == Request::kHelp) {
    WriteText(streams.output, std::string(kEndpointsUsageLine) + kHelpText);
    return kEndpointsRunOpens;
  }
  if (*request == Request::kVersion) {
    WriteText(streams.output, std::string("velmoravad-endpoints ") + kVersion + "\n");
    return kEndpointsRunOpens;
  }
  AudioSystem& audioSystem = CurrentAudioSystem();
  const HRESULT result = audioSystem.InitializeCom();
  if (Failed(result)) {
    WriteText(streams.error, FailureReport("CoInitializeEx", result).Text());
    return kEndpointsRunFails;
  }
  const ComScope com(audioSystem);
  return SurveyAndReport(*request == Request::kJson, streams);
}

}  // namespace velmoravad
