// What a run with the surveyed endpoints would do: open every application
// endpoint and stream the layout that --list prints, or stop with one failure
// report. The run's own order decides which failure: discovery, then each
// application endpoint by slot, then the channel total. Pure logic.
#pragma once

#include <windows.h>

#include <cstddef>

#include "driver/run_report.h"
#include "velmoravad-endpoints/endpoint_survey.h"

namespace velmoravad {

struct RunVerdict {
  HRESULT result = S_OK;
  const char* step = nullptr;                  // the run's label of the step that fails
  const SurveyedEndpoint* endpoint = nullptr;  // the application endpoint it fails at
  std::size_t applicationEndpoints = 0;        // when a run opens
  ChannelTallies tallies;                      // when a run opens; no live input

  bool RunOpens() const { return result >= 0; }
};

// `survey` must outlive the verdict, which points into it.
RunVerdict JudgeRun(const Survey& survey);

}  // namespace velmoravad
