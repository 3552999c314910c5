#include "velmoravad-endpoints/run_verdict.h"

#include "common/hresult.h"

namespace velmoravad {
namespace {

constexpr char kDiscoveryStep[] = "VelmoraDSP endpoint enumeration";
constexpr char kOpenStep[] = "Capture endpoint initialization";

RunVerdict Fails(const char* step, HRESULT result, const SurveyedEndpoint* endpoint) {
  RunVerdict verdict;
  verdict.result = result;
  verdict.step = step;
  verdict.endpoint = endpoint;
  return verdict;
}

}  // namespace

RunVerdict JudgeRun(const Survey& survey) {
  if (Failed(survey.discovery)) return Fails(kDiscoveryStep, survey.discovery, nullptr);
  RunVerdict verdict;
  for (const SurveyedEndpoint& endpoint : survey.endpoints) {
    if (endpoint.slot < 1) continue;
    if (Failed(endpoint.check)) return Fails(kOpenStep, endpoint.check, &endpoint);
    // A frame holds at most 65535 channels; a run refuses the endpoint that
    // would push it past that.
    if (verdict.tallies.Total() + endpoint.channels > 0xFFFF) {
      return Fails(kOpenStep, kChannelCountOverflow, &endpoint);
    }
    verdict.tallies.applicationChannels += endpoint.channels;
    ++verdict.applicationEndpoints;
  }
  return verdict;
}

}  // namespace velmoravad
