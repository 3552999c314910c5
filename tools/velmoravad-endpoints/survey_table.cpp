#include "velmoravad-endpoints/survey_table.h"

#include <algorithm>
#include <vector>

#include "common/hresult.h"
#include "velmoravad-endpoints/failure_advice.h"

namespace velmoravad {
namespace {

constexpr char kIntroduction[] =
    "Active capture endpoints: the application endpoints by slot, then the others by name,\n"
    "any of which may be the live input (its ID goes after --live-input-id).\n\n";
constexpr char kIndent[] = "    ";

struct TableRow {
  std::string role;
  std::string channels;
  std::string name;
  std::string id;
  std::string check;
};

// Characters on screen: the bytes that do not continue a UTF-8 sequence.
std::size_t DisplayWidth(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  }));
}

std::string PaddedRight(const std::string& text, std::size_t width) {
  return text + std::string(width - std::min(width, DisplayWidth(text)), ' ');
}

std::string PaddedLeft(const std::string& text, std::size_t width) {
  return std::string(width - std::min(width, DisplayWidth(text)), ' ') + text;
}

TableRow RowOf(const SurveyedEndpoint& endpoint) {
  return {endpoint.slot >= 1 ? "slot " + std::to_string(endpoint.slot) : "live input",
          endpoint.channels != 0 ? std::to_string(endpoint.channels) : "?",
          EscapedForStatusLine(endpoint.friendlyName), EscapedForStatusLine(endpoint.endpointId),
          Failed(endpoint.check) ? CodeText(endpoint.check) : "ok"};
}

// The lines under a row: its note, then what its failure means.
std::string LinesUnder(const SurveyedEndpoint& endpoint) {
  std::string lines;
  if (!endpoint.note.empty()) {
    lines += kIndent + std::string(endpoint.slot >= 1 ? "" : "not an application endpoint: ") +
             endpoint.note + "\n";
  }
  const std::string advice = Failed(endpoint.check) ? CheckAdvice(endpoint.check, endpoint) : "";
  if (!advice.empty()) lines += kIndent + advice + "\n";
  return lines;
}

std::string FormatRows(const Survey& survey) {
  std::vector<TableRow> rows{{"ROLE", "CHANNELS", "NAME", "ID", "CHECK"}};
  for (const SurveyedEndpoint& endpoint : survey.endpoints) rows.push_back(RowOf(endpoint));
  std::size_t roleWidth = 0, channelsWidth = 0, nameWidth = 0, idWidth = 0;
  for (const TableRow& row : rows) {
    roleWidth = std::max(roleWidth, DisplayWidth(row.role));
    channelsWidth = std::max(channelsWidth, DisplayWidth(row.channels));
    nameWidth = std::max(nameWidth, DisplayWidth(row.name));
    idWidth = std::max(idWidth, DisplayWidth(row.id));
  }
  std::string table;
  for (std::size_t index = 0; index < rows.size(); ++index) {
    const TableRow& row = rows[index];
    table += PaddedRight(row.role, roleWidth) + "  " + PaddedLeft(row.channels, channelsWidth) +
             "  " + PaddedRight(row.name, nameWidth) + "  " + PaddedRight(row.id, idWidth) + "  " +
             row.check + "\n";
    if (index > 0) table += LinesUnder(survey.endpoints[index - 1]);
  }
  return table;
}

std::string FormatSummary(const Survey& survey, const RunVerdict& verdict) {
  if (verdict.RunOpens()) {
    const ChannelLayoutLine layout(verdict.applicationEndpoints, verdict.tallies);
    return "A run opens every application endpoint; velmoravad-aggregate --list prints:\n" +
           std::string(layout.Text());
  }
  const FailureReport failure(verdict.step, verdict.result);
  return "A run would not start: " + std::string(failure.Text()) + kIndent +
         VerdictAdvice(verdict, survey,
                       [](std::wstring_view name) { return EscapedForStatusLine(name); }) +
         "\n";
}

}  // namespace

std::string FormatSurveyTable(const Survey& survey, const RunVerdict& verdict) {
  const std::string rows =
      survey.endpoints.empty() ? "(no active capture endpoint)\n" : FormatRows(survey);
  return kIntroduction + rows + "\n" + FormatSummary(survey, verdict);
}

}  // namespace velmoravad
