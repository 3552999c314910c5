// The survey behind velmoravad-endpoints: every active capture endpoint, what
// velmoravad-aggregate makes of it, and how the stream set-up a run makes for
// it goes. Application endpoints get the exclusive set-up, the others the
// shared set-up of a live input (looked up by their id, as --live-input-id
// does); each stream is released as soon as it is set up and never started.
//
// Threading: runs on the calling thread, which has initialised COM; every
// reference the survey takes is released before SurveyEndpoints returns.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velmoravad {

struct SurveyedEndpoint {
  std::int32_t slot = 0;  // application slot; 0 for a possible live input
  std::wstring friendlyName;
  std::wstring endpointId;
  std::uint16_t channels = 0;  // of its mix format; 0 when it could not be read
  std::string note;            // why it does not count, or that its slot is shared
  HRESULT check = S_OK;        // of the stream set-up
  std::string mixFormat;       // described when the set-up refused the format
};

struct Survey {
  // What a run's discovery gives: S_OK, or the failure that stops a run first.
  HRESULT discovery = S_OK;
  // With a shared slot (0x80070034): the first two endpoints a run finds on it.
  std::wstring sharedSlotNames[2];
  // Application endpoints by slot, then the others by name.
  std::vector<SurveyedEndpoint> endpoints;
};

Survey SurveyEndpoints();

}  // namespace velmoravad
