#include "pulse/pulse_device_enumerator.h"

namespace standin {

HRESULT CreatePulseDeviceEnumerator(IMMDeviceEnumerator** enumerator) {
  *enumerator = nullptr;
  return E_NOTIMPL;
}

}  // namespace standin
