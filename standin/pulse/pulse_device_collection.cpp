#include "pulse/pulse_device_collection.h"

#include <new>

#include "pulse/pulse_device.h"

namespace standin {

PulseDeviceCollection::PulseDeviceCollection(std::shared_ptr<PulseConnection> connection,
                                             std::vector<PulseEndpoint> endpoints)
    : connection_(std::move(connection)), endpoints_(std::move(endpoints)) {}

HRESULT PulseDeviceCollection::GetCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = static_cast<UINT>(endpoints_.size());
  return S_OK;
}

HRESULT PulseDeviceCollection::Item(UINT index, IMMDevice** device) {
  if (device == nullptr) return E_POINTER;
  *device = nullptr;
  if (index >= endpoints_.size()) return E_INVALIDARG;
  *device = new (std::nothrow) PulseDevice(connection_, endpoints_[index]);
  return *device != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace standin
