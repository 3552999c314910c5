#include "velmoravad-endpoints/failure_advice.h"

#include <cstdint>
#include <cstdio>

#include "capture/endpoint_discovery.h"
#include "common/hresult.h"

namespace velmoravad {
namespace {

std::string UnsupportedFormatAdvice(const SurveyedEndpoint& endpoint) {
  std::string advice = "the endpoint does not take 16-bit 48000 Hz with its own " +
                       std::to_string(endpoint.channels) +
                       (endpoint.channels == 1 ? " channel" : " channels");
  if (!endpoint.mixFormat.empty()) advice += " (its mix format is " + endpoint.mixFormat + ")";
  return advice +
         ": set its Default Format to 16 bit, 48000 Hz (Sound settings, the device's "
         "Properties, Advanced)";
}

std::string SharedSlotAdvice(const Survey& survey, NameQuote quote) {
  const std::int32_t slot = ParseApplicationSlot(survey.sharedSlotNames[0].c_str());
  return "slot " + std::to_string(slot) + " is taken by both \"" +
         quote(survey.sharedSlotNames[0]) + "\" and \"" + quote(survey.sharedSlotNames[1]) +
         "\": rename one of them";
}

}  // namespace

std::string CodeText(HRESULT code) {
  char text[sizeof "0x12345678"];
  std::snprintf(text, sizeof text, "0x%08lX",
                static_cast<unsigned long>(static_cast<std::uint32_t>(code)));
  return text;
}

std::string CheckAdvice(HRESULT code, const SurveyedEndpoint& endpoint) {
  switch (code) {
    case AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED:
      return "exclusive mode is switched off for this device: in Sound settings open the "
             "device's Properties, Advanced, and tick \"Allow applications to take exclusive "
             "control of this device\"";
    case AUDCLNT_E_DEVICE_IN_USE:
      return "another program holds the device in exclusive mode: close it (or the "
             "velmoravad-aggregate already running) and check again";
    case AUDCLNT_E_UNSUPPORTED_FORMAT:
      return UnsupportedFormatAdvice(endpoint);
    case AUDCLNT_E_DEVICE_INVALIDATED:
      return "the device went away (unplugged, disabled or its driver restarted): connect or "
             "enable it and check again";
    case E_ACCESSDENIED:
      return "access denied: allow desktop apps to use the microphone in Windows' privacy "
             "settings (Privacy, Microphone)";
    case AUDCLNT_E_SERVICE_NOT_RUNNING:
      return "the Windows Audio service is not running: start it and check again";
    case E_INVALIDARG:
      return "the audio system gives no usable friendly name or channel count for this endpoint";
    case E_OUTOFMEMORY:
      return "memory ran out during the check: close other programs and check again";
    default:
      return {};
  }
}

std::string VerdictAdvice(const RunVerdict& verdict, const Survey& survey, NameQuote quote) {
  if (verdict.endpoint != nullptr) {
    const std::string where = "slot " + std::to_string(verdict.endpoint->slot) + ", \"" +
                              quote(verdict.endpoint->friendlyName) + "\": ";
    if (verdict.result == kChannelCountOverflow) {
      return where + "the channels of the application endpoints add up to more than 65535";
    }
    const std::string advice = CheckAdvice(verdict.result, *verdict.endpoint);
    return where + (advice.empty() ? "the stream could not be set up" : advice);
  }
  if (verdict.result == kNoApplicationEndpoint) {
    return "no active capture endpoint is named \"VelmoraDSP Application <slot> Output\": name "
           "the endpoints of VelmoraDSP's applications so (see the notes above), or enable them";
  }
  if (verdict.result == kDuplicateSlot) return SharedSlotAdvice(survey, quote);
  return CheckAdvice(verdict.result, SurveyedEndpoint{});
}

}  // namespace velmoravad
