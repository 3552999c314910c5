// The survey as one JSON document for scripts:
//   {"endpoints":[{"role":"application","slot":1,"channels":2,"name":"…","id":"…",
//                  "note":null,"check":"ok","advice":null},…],
//    "summary":{"runOpens":true,"code":null,"failure":null,"advice":null,
//               "layout":{…the --list line…}}}
// "role" is "application" or "liveInput"; "slot" is null for the latter,
// "channels" null when it could not be read. Texts are UTF-8, escaped as JSON
// requires.
#pragma once

#include <string>
#include <string_view>

#include "velmoravad-endpoints/endpoint_survey.h"
#include "velmoravad-endpoints/run_verdict.h"

namespace velmoravad {

// `text` (UTF-8) as a JSON string, quotes included.
std::string JsonString(std::string_view text);

std::string FormatSurveyJson(const Survey& survey, const RunVerdict& verdict);

}  // namespace velmoravad
