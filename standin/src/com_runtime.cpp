// COM apartment bookkeeping, task memory, PROPVARIANT clearing and the one class
// this program creates: the device enumerator, served by PulseAudio.
#include <mmdeviceapi.h>

#include <cstdlib>

#include "pulse/pulse_device_enumerator.h"

namespace {
// Initialisations of COM on this thread that are not yet balanced.
thread_local int comInitializations = 0;
}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD) { return comInitializations++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (comInitializations > 0) --comInitializations;
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (comInitializations == 0) return CO_E_NOTINITIALIZED;
  if (outer != nullptr || clsid != __uuidof(MMDeviceEnumerator)) return REGDB_E_CLASSNOTREG;
  if (iid != __uuidof(IMMDeviceEnumerator) && iid != __uuidof(IUnknown)) return E_NOINTERFACE;
  return standin::CreatePulseDeviceEnumerator(reinterpret_cast<IMMDeviceEnumerator**>(object));
}

LPVOID CoTaskMemAlloc(std::size_t size) { return std::malloc(size); }
void CoTaskMemFree(LPVOID memory) { std::free(memory); }

HRESULT PropVariantClear(PROPVARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  if (value->vt == VT_LPWSTR) CoTaskMemFree(value->pwszVal);
  if (value->vt == VT_LPSTR) CoTaskMemFree(value->pszVal);
  PropVariantInit(value);
  return S_OK;
}
