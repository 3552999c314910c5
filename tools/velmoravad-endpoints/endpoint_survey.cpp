#include "velmoravad-endpoints/endpoint_survey.h"

#include <algorithm>
#include <tuple>

#include "capture/endpoint_discovery.h"
#include "common/hresult.h"
#include "velmoravad-endpoints/mix_format_text.h"

namespace velmoravad {
namespace {

constexpr char kSharedSlotNote[] =
    "another application endpoint has the same slot: a run refuses both (0x80070034) until one "
    "is renamed";

// Application endpoints first, by slot, then the others; names, then ids, after that.
bool ListedBefore(const CaptureEndpoint& left, const CaptureEndpoint& right) {
  const bool leftCounts = left.slot >= 1;
  const bool rightCounts = right.slot >= 1;
  if (leftCounts != rightCounts) return leftCounts;
  if (left.slot != right.slot) return left.slot < right.slot;
  return std::tie(left.friendlyName, left.endpointId) <
         std::tie(right.friendlyName, right.endpointId);
}

// Sets up the stream as a run would, and notes the result, the channel count and,
// when the format was refused, the endpoint's own mix format.
void OpenAsARunWould(CaptureEndpoint& endpoint, bool exclusive, SurveyedEndpoint& row) {
  row.check = endpoint.OpenCaptureStream(true, exclusive);
  row.channels = endpoint.channels;
  if (row.check == AUDCLNT_E_UNSUPPORTED_FORMAT && endpoint.audioClient) {
    row.mixFormat = DescribeMixFormat(*endpoint.audioClient.Get());
  }
}

// An application endpoint's exclusive set-up, on the listed device; the record
// goes, and its stream with it, when this returns.
void CheckApplicationEndpoint(CaptureEndpoint listed, SurveyedEndpoint& row) {
  OpenAsARunWould(listed, true, row);
}

// What --live-input-id with this endpoint's id does: the lookup, then the
// shared set-up.
void CheckLiveInput(const CaptureEndpoint& listed, SurveyedEndpoint& row) {
  CaptureEndpoint liveInput;
  row.check = FindEndpointById(listed.endpointId, liveInput);
  if (!Failed(row.check)) OpenAsARunWould(liveInput, false, row);
}

void NoteSharedSlots(std::vector<SurveyedEndpoint>& rows) {
  for (SurveyedEndpoint& row : rows) {
    const auto sameSlot = std::count_if(
        rows.begin(), rows.end(),
        [&](const SurveyedEndpoint& other) { return row.slot >= 1 && other.slot == row.slot; });
    if (sameSlot > 1) row.note = kSharedSlotNote;
  }
}

// What a run's discovery gives, and with a shared slot the two names it meets.
void Discover(Survey& survey) {
  EndpointList applicationEndpoints;
  survey.discovery = EnumerateApplicationEndpoints(applicationEndpoints);
  if (survey.discovery != kDuplicateSlot) return;
  const auto shared =
      std::adjacent_find(applicationEndpoints.begin(), applicationEndpoints.end(),
                         [](const CaptureEndpoint& left, const CaptureEndpoint& right) {
                           return left.slot == right.slot;
                         });
  if (shared == applicationEndpoints.end()) return;
  survey.sharedSlotNames[0] = shared[0].friendlyName;
  survey.sharedSlotNames[1] = shared[1].friendlyName;
}

}  // namespace

Survey SurveyEndpoints() {
  Survey survey;
  EndpointList listed;
  // The listing makes the very calls of a run's discovery, so its failure is
  // the one a run would stop with.
  survey.discovery = EnumerateCaptureEndpoints(listed);
  if (Failed(survey.discovery)) return survey;
  Discover(survey);

  std::stable_sort(listed.begin(), listed.end(), ListedBefore);
  for (CaptureEndpoint& endpoint : listed) {
    SurveyedEndpoint& row = survey.endpoints.emplace_back();
    row.slot = endpoint.slot;
    row.friendlyName = endpoint.friendlyName;
    row.endpointId = endpoint.endpointId;
    if (endpoint.slot >= 1) {
      CheckApplicationEndpoint(std::move(endpoint), row);
    } else {
      row.note = ApplicationNameMiss(endpoint.friendlyName.c_str());
      CheckLiveInput(endpoint, row);
    }
  }
  NoteSharedSlots(survey.endpoints);
  return survey;
}

}  // namespace velmoravad
