#include "capture/endpoint_discovery.h"

#include "capture/audio_system.h"
#include "capture/co_task_mem_ptr.h"
#include "capture/prop_variant.h"
#include "common/hresult.h"

#include <algorithm>

// The property key is defined, not just declared, in this one file.
#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>

namespace velmoravad {
namespace {

// One endpoint of the collection as discovery reads it. The members go in
// reverse order: the id string, the value, the property store, then the device
// unless a record took it.
struct CollectionEndpoint {
  ComPtr<IMMDevice> device;
  ComPtr<IPropertyStore> properties;
  PropVariant friendlyName;
  CoTaskMemPtr<wchar_t> endpointId;

  // The id is read whatever the name, so that every endpoint makes the same calls.
  HRESULT Read(IMMDeviceCollection& collection, UINT index) {
    HRESULT result = collection.Item(index, device.Receive());
    if (!Failed(result)) result = device->OpenPropertyStore(STGM_READ, properties.Receive());
    if (!Failed(result))
      result = properties->GetValue(PKEY_Device_FriendlyName, friendlyName.Receive());
    if (!Failed(result)) result = device->GetId(CoTaskMemOut<wchar_t>(endpointId).Address());
    return result;
  }

  // A record of this endpoint with `slot`; it takes over the device. A name that
  // is not a string reads as empty.
  CaptureEndpoint TakeRecord(std::int32_t slot) {
    CaptureEndpoint endpoint;
    endpoint.slot = slot;
    const wchar_t* name = friendlyName.WideStringOrNull();
    endpoint.friendlyName = name != nullptr ? name : L"";
    endpoint.endpointId = endpointId ? endpointId.get() : L"";
    endpoint.device = std::move(device);
    return endpoint;
  }
};

// Reads every active capture endpoint in the collection's order and hands each
// to `visit`; the first failing call ends the walk. Everything but the devices
// that `visit` hands to records is released before returning.
template <class Visit>
HRESULT VisitActiveCaptureEndpoints(Visit&& visit) {
  ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT result = CurrentAudioSystem().CreateDeviceEnumerator(enumerator.Receive());
  if (Failed(result)) return result;

  ComPtr<IMMDeviceCollection> collection;
  result = enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, collection.Receive());
  if (Failed(result)) return result;

  UINT count = 0;
  result = collection->GetCount(&count);
  for (UINT index = 0; !Failed(result) && index < count; ++index) {
    CollectionEndpoint endpoint;
    result = endpoint.Read(*collection.Get(), index);
    if (!Failed(result)) visit(endpoint);
  }
  collection.Reset();
  enumerator.Reset();
  return result;
}

HRESULT AppendApplicationEndpoints(EndpointList& endpoints) {
  const HRESULT result = VisitActiveCaptureEndpoints([&](CollectionEndpoint& endpoint) {
    const std::int32_t slot = ParseApplicationSlot(endpoint.friendlyName.WideStringOrNull());
    if (slot >= 1) endpoints.push_back(endpoint.TakeRecord(slot));
  });
  if (Failed(result)) return result;

  std::sort(endpoints.begin(), endpoints.end(),
            [](const CaptureEndpoint& left, const CaptureEndpoint& right) {
              return left.slot < right.slot;
            });
  const auto duplicate =
      std::adjacent_find(endpoints.begin(), endpoints.end(),
                         [](const CaptureEndpoint& left, const CaptureEndpoint& right) {
                           return left.slot == right.slot;
                         });
  if (duplicate != endpoints.end()) return kDuplicateSlot;
  if (endpoints.empty()) return kNoApplicationEndpoint;
  return S_OK;
}

HRESULT LookUpEndpoint(const std::wstring& endpointId, CaptureEndpoint& endpoint) {
  // Declared so that they go in this order: the value, the property store, the
  // device unless the record took it, the enumerator.
  ComPtr<IMMDeviceEnumerator> enumerator;
  ComPtr<IMMDevice> device;
  ComPtr<IPropertyStore> properties;
  PropVariant friendlyName;

  HRESULT result = CurrentAudioSystem().CreateDeviceEnumerator(enumerator.Receive());
  if (!Failed(result)) result = enumerator->GetDevice(endpointId.c_str(), device.Receive());
  if (!Failed(result)) result = device->OpenPropertyStore(STGM_READ, properties.Receive());
  if (!Failed(result))
    result = properties->GetValue(PKEY_Device_FriendlyName, friendlyName.Receive());
  if (!Failed(result)) {
    if (friendlyName.WideStringOrNull() != nullptr) {
      endpoint.slot = 0;
      endpoint.friendlyName = friendlyName.WideStringOrNull();
      endpoint.endpointId = endpointId;
      endpoint.device = std::move(device);
    } else {
      result = E_INVALIDARG;
    }
  }
  return result;
}

}  // namespace

HRESULT EnumerateApplicationEndpoints(EndpointList& endpoints) {
  return CatchOutOfMemory([&] { return AppendApplicationEndpoints(endpoints); });
}

HRESULT EnumerateCaptureEndpoints(EndpointList& endpoints) {
  return CatchOutOfMemory([&] {
    return VisitActiveCaptureEndpoints([&](CollectionEndpoint& endpoint) {
      const std::int32_t slot = ParseApplicationSlot(endpoint.friendlyName.WideStringOrNull());
      endpoints.push_back(endpoint.TakeRecord(slot >= 1 ? slot : 0));
    });
  });
}

HRESULT FindEndpointById(std::wstring_view endpointId, CaptureEndpoint& endpoint) {
  return CatchOutOfMemory([&] { return LookUpEndpoint(std::wstring(endpointId), endpoint); });
}

HRESULT GetDeviceId(const CaptureEndpoint& endpoint, std::wstring& deviceId) {
  return CatchOutOfMemory([&] {
    CoTaskMemPtr<wchar_t> id;
    const HRESULT result = endpoint.device->GetId(CoTaskMemOut<wchar_t>(id).Address());
    if (!Failed(result)) deviceId = id ? id.get() : L"";
    return result;
  });
}

bool ContainsEndpointId(const EndpointList& endpoints, std::wstring_view endpointId) {
  return std::any_of(endpoints.begin(), endpoints.end(), [&](const CaptureEndpoint& endpoint) {
    return endpoint.endpointId == endpointId;
  });
}

}  // namespace velmoravad
