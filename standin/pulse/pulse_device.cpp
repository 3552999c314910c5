#include "pulse/pulse_device.h"

#include <audioclient.h>

#include <new>

#include "pulse/pulse_audio_client.h"
#include "pulse/pulse_property_store.h"
#include "pulse/task_memory_string.h"

namespace standin {
namespace {
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);  // E_ACCESSDENIED
}  // namespace

PulseDevice::PulseDevice(std::shared_ptr<PulseConnection> connection, PulseEndpoint endpoint)
    : connection_(std::move(connection)), endpoint_(std::move(endpoint)) {}

HRESULT PulseDevice::Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (iid != __uuidof(IAudioClient)) return E_NOINTERFACE;
  auto* client = new (std::nothrow) PulseAudioClient(connection_, endpoint_);
  if (client == nullptr) return E_OUTOFMEMORY;
  *object = static_cast<IAudioClient*>(client);
  return S_OK;
}

HRESULT PulseDevice::OpenPropertyStore(DWORD access, IPropertyStore** properties) {
  if (properties == nullptr) return E_POINTER;
  *properties = nullptr;
  if (access != STGM_READ) return kAccessDenied;  // the store is read-only
  auto* store = new (std::nothrow) PulsePropertyStore(endpoint_.description);
  if (store == nullptr) return E_OUTOFMEMORY;
  *properties = store;
  return S_OK;
}

HRESULT PulseDevice::GetId(LPWSTR* id) {
  if (id == nullptr) return E_POINTER;
  *id = NewTaskMemWideString(endpoint_.name);
  return *id != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT PulseDevice::GetState(DWORD* state) {
  if (state == nullptr) return E_POINTER;
  *state = DEVICE_STATE_ACTIVE;
  return S_OK;
}

}  // namespace standin
