#include "pulse/pulse_device_enumerator.h"

#include <memory>
#include <new>
#include <vector>

#include "text_conversion.h"
#include "pulse/com_object.h"
#include "pulse/pulse_connection.h"
#include "pulse/pulse_device.h"
#include "pulse/pulse_device_collection.h"
#include "pulse/pulse_endpoint.h"

namespace standin {
namespace {

class PulseDeviceEnumerator final : public ComObject<IMMDeviceEnumerator> {
 public:
  explicit PulseDeviceEnumerator(std::shared_ptr<PulseConnection> connection)
      : connection_(std::move(connection)) {}

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow dataFlow, DWORD stateMask,
                                               IMMDeviceCollection** devices) override {
    if (devices == nullptr) return E_POINTER;
    *devices = nullptr;
    if (dataFlow != eRender && dataFlow != eCapture && dataFlow != eAll) return E_INVALIDARG;
    if ((stateMask & ~DEVICE_STATEMASK_ALL) != 0) return E_INVALIDARG;
    std::vector<PulseEndpoint> endpoints;
    // Every PulseAudio endpoint is active: a mask without ACTIVE selects none.
    if ((stateMask & DEVICE_STATE_ACTIVE) != 0) {
      const HRESULT result = ListPulseEndpoints(*connection_, dataFlow, &endpoints);
      if (FAILED(result)) return result;
    }
    *devices = new (std::nothrow) PulseDeviceCollection(connection_, std::move(endpoints));
    return *devices != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole,
                                                    IMMDevice** endpoint) override {
    if (endpoint == nullptr) return E_POINTER;
    *endpoint = nullptr;
    PulseEndpoint found;
    const HRESULT result = FindDefaultPulseEndpoint(*connection_, dataFlow, &found);
    if (FAILED(result)) return result;
    return NewDevice(std::move(found), endpoint);
  }

  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
    if (device == nullptr || id == nullptr) return E_POINTER;
    *device = nullptr;
    PulseEndpoint found;
    const HRESULT result = FindPulseEndpoint(*connection_, Utf8FromWide(id), &found);
    if (FAILED(result)) return result;
    return NewDevice(std::move(found), device);
  }

  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }

 private:
  HRESULT NewDevice(PulseEndpoint endpoint, IMMDevice** device) {
    *device = new (std::nothrow) PulseDevice(connection_, std::move(endpoint));
    return *device != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  const std::shared_ptr<PulseConnection> connection_;
};

}  // namespace

HRESULT CreatePulseDeviceEnumerator(IMMDeviceEnumerator** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  std::shared_ptr<PulseConnection> connection;
  const HRESULT result = PulseConnection::Acquire(&connection);
  if (FAILED(result)) return result;
  *enumerator = new (std::nothrow) PulseDeviceEnumerator(std::move(connection));
  return *enumerator != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace standin
