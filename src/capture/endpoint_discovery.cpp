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

// Reads one endpoint of the collection; appends it to `endpoints` when its
// friendly name is an application endpoint's. Everything obtained here but the
// device handed to a record is released before returning.
HRESULT AppendIfApplicationEndpoint(IMMDeviceCollection& collection, UINT index,
                                    EndpointList& endpoints) {
  // Declared so that they go in this order: the id string, the value, the
  // property store, then the device unless a record took it.
  ComPtr<IMMDevice> device;
  ComPtr<IPropertyStore> properties;
  PropVariant friendlyName;
  CoTaskMemPtr<wchar_t> endpointId;

  HRESULT result = collection.Item(index, device.Receive());
  if (!Failed(result)) result = device->OpenPropertyStore(STGM_READ, properties.Receive());
  if (!Failed(result))
    result = properties->GetValue(PKEY_Device_FriendlyName, friendlyName.Receive());
  if (!Failed(result)) result = device->GetId(CoTaskMemOut<wchar_t>(endpointId).Address());
  if (Failed(result)) return result;

  const std::int32_t slot = ParseApplicationSlot(friendlyName.WideStringOrNull());
  if (slot >= 1) {
    CaptureEndpoint endpoint;
    endpoint.slot = slot;
    endpoint.friendlyName = friendlyName.WideStringOrNull();
    endpoint.endpointId = endpointId ? endpointId.get() : L"";
    endpoint.device = std::move(device);
    endpoints.push_back(std::move(endpoint));
  }
  return result;
}

HRESULT AppendApplicationEndpoints(EndpointList& endpoints) {
  ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT result = CurrentAudioSystem().CreateDeviceEnumerator(enumerator.Receive());
  if (Failed(result)) return result;

  ComPtr<IMMDeviceCollection> collection;
  result = enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, collection.Receive());
  if (Failed(result)) return result;

  UINT count = 0;
  result = collection->GetCount(&count);
  for (UINT index = 0; !Failed(result) && index < count; ++index) {
    result = AppendIfApplicationEndpoint(*collection.Get(), index, endpoints);
  }
  collection.Reset();
  enumerator.Reset();
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
