// The PulseAudio-backed IMMDeviceEnumerator: sources are capture endpoints,
// sinks render endpoints, and an endpoint id is the source or sink name.
#pragma once

#include <mmdeviceapi.h>

namespace standin {

HRESULT CreatePulseDeviceEnumerator(IMMDeviceEnumerator** enumerator);

}  // namespace standin
