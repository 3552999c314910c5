// What a failure means and what to do about it, in one line of plain words, for
// the check of one endpoint and for the one reason a run would not start.
// Names in the texts go through the caller's `quote`, so that each output form
// escapes them its own way.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "velmoravad-endpoints/endpoint_survey.h"
#include "velmoravad-endpoints/run_verdict.h"

namespace velmoravad {

using NameQuote = std::string (*)(std::wstring_view name);

// "0x8889000E": the code as failure reports print it.
std::string CodeText(HRESULT code);

// The meaning of a failed check of `endpoint`, with what to do; empty for a code
// this program has no words for.
std::string CheckAdvice(HRESULT code, const SurveyedEndpoint& endpoint);

// Why a run would not start, naming the endpoints concerned.
std::string VerdictAdvice(const RunVerdict& verdict, const Survey& survey, NameQuote quote);

}  // namespace velmoravad
