// Finding the endpoints the program records from: the application endpoints,
// recognised by their friendly name and ordered by the slot number in it, and
// the live input, looked up by the endpoint id the user gave.
//
// All of it runs once, at start-up, on the main thread, with COM initialised.
// Each call makes and releases its own device enumerator; the only references
// that outlive a call are the devices handed to records.
#pragma once

#include "capture/capture_endpoint.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmoravad {

// Application endpoints by ascending slot, then the live input.
using EndpointList = std::vector<CaptureEndpoint>;

// The slot of a friendly name of the form "VelmoraDSP Application <n> Output"
// (anything may follow), saturated to 32 bits; -1 for any other name, null, or a
// number below 1.
std::int32_t ParseApplicationSlot(const wchar_t* friendlyName);

// The first rule of that form a name breaks, in words (for example "no blank
// between \"Application\" and the slot number"), for a name that mentions
// VelmoraDSP in any letter case and still has no slot. Empty for an application
// endpoint's name, for null and for names nowhere near one.
std::string ApplicationNameMiss(const wchar_t* friendlyName);

// Appends every active capture endpoint with an application name to `endpoints`
// (expected empty), sorted by slot. Fails with 0x80070034 when two share a slot
// and 0x80070490 when there is none. Memory that runs out fails it with
// E_OUTOFMEMORY, as it does the other calls here.
HRESULT EnumerateApplicationEndpoints(EndpointList& endpoints);

// Appends every active capture endpoint to `endpoints`, in the audio system's
// order: an application endpoint with its slot, any other with slot 0 (a name
// that is not a string reads as empty). Fails as the enumeration above does,
// but with neither the slot order nor the slot rules applied.
HRESULT EnumerateCaptureEndpoints(EndpointList& endpoints);

// Fills a fresh record from the endpoint with id `endpointId`, whatever its flow
// or state; the record keeps the id as given. The record is untouched on
// failure; 0x80070057 when the endpoint's friendly name is not a string.
HRESULT FindEndpointById(std::wstring_view endpointId, CaptureEndpoint& endpoint);

// The id the audio system itself gives the record's device (IMMDevice::GetId),
// which may spell the endpoint differently from an id a user gave for it.
HRESULT GetDeviceId(const CaptureEndpoint& endpoint, std::wstring& deviceId);

// Whether a record carries exactly this id (case-sensitive, no normalisation).
bool ContainsEndpointId(const EndpointList& endpoints, std::wstring_view endpointId);

}  // namespace velmoravad
