// The survey as a table for people: one row per endpoint (role, channels,
// friendly name, endpoint id, "ok" or the failure code), a line under a row for
// its note and for what its failure means, then what a run would do. Names and
// ids are escaped as velmoravad-aggregate's status lines escape them.
#pragma once

#include <string>

#include "velmoravad-endpoints/endpoint_survey.h"
#include "velmoravad-endpoints/run_verdict.h"

namespace velmoravad {

std::string FormatSurveyTable(const Survey& survey, const RunVerdict& verdict);

}  // namespace velmoravad
