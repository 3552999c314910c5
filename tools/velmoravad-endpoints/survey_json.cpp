#include "velmoravad-endpoints/survey_json.h"

#include <cstdio>

#include "common/hresult.h"
#include "common/text_encoding.h"
#include "velmoravad-endpoints/failure_advice.h"

namespace velmoravad {
namespace {

std::string JsonStringOrNull(const std::string& text) {
  return text.empty() ? "null" : JsonString(text);
}

std::string EndpointObject(const SurveyedEndpoint& endpoint) {
  const bool counts = endpoint.slot >= 1;
  const bool failed = Failed(endpoint.check);
  return std::string("{\"role\":") + (counts ? "\"application\"" : "\"liveInput\"") +
         ",\"slot\":" + (counts ? std::to_string(endpoint.slot) : "null") +
         ",\"channels\":" + (endpoint.channels != 0 ? std::to_string(endpoint.channels) : "null") +
         ",\"name\":" + JsonString(WideToUtf8(endpoint.friendlyName)) +
         ",\"id\":" + JsonString(WideToUtf8(endpoint.endpointId)) +
         ",\"note\":" + JsonStringOrNull(endpoint.note) +
         ",\"check\":" + (failed ? JsonString(CodeText(endpoint.check)) : "\"ok\"") +
         ",\"advice\":" + JsonStringOrNull(failed ? CheckAdvice(endpoint.check, endpoint) : "") +
         "}";
}

std::string SummaryObject(const Survey& survey, const RunVerdict& verdict) {
  if (verdict.RunOpens()) {
    const ChannelLayoutLine line(verdict.applicationEndpoints, verdict.tallies);
    std::string_view layout = line.Text();
    layout.remove_suffix(1);  // its line end
    return "{\"runOpens\":true,\"code\":null,\"failure\":null,\"advice\":null,\"layout\":" +
           std::string(layout) + "}";
  }
  const FailureReport failure(verdict.step, verdict.result);
  std::string_view report = failure.Text();
  report.remove_suffix(1);  // its line end
  const std::string advice =
      VerdictAdvice(verdict, survey, [](std::wstring_view name) { return WideToUtf8(name); });
  return "{\"runOpens\":false,\"code\":" + JsonString(CodeText(verdict.result)) +
         ",\"failure\":" + JsonString(report) + ",\"advice\":" + JsonString(advice) +
         ",\"layout\":null}";
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (character == '"' || character == '\\') {
      quoted += '\\';
      quoted += character;
    } else if (byte < 0x20) {
      char escape[sizeof "\\u0000"];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(byte));
      quoted += escape;
    } else {
      quoted += character;
    }
  }
  return quoted + "\"";
}

std::string FormatSurveyJson(const Survey& survey, const RunVerdict& verdict) {
  std::string json = "{\"endpoints\":[";
  for (std::size_t index = 0; index < survey.endpoints.size(); ++index) {
    if (index > 0) json += ",";
    json += EndpointObject(survey.endpoints[index]);
  }
  return json + "],\"summary\":" + SummaryObject(survey, verdict) + "}\n";
}

}  // namespace velmoravad
