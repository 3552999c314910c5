// The PulseAudio-backed IMMDeviceEnumerator: sources (monitors included) are
// capture endpoints, sinks render endpoints, and an endpoint id is the source or
// sink name. Every endpoint is active. Objects made here share the process's
// PulseAudio connection (see pulse_connection.h) and outlive the enumerator.
#pragma once

#include <mmdeviceapi.h>

namespace standin {

// Connects to the server, or shares the live connection. A server that cannot be
// reached gives AUDCLNT_E_SERVICE_NOT_RUNNING within the reply timeout.
HRESULT CreatePulseDeviceEnumerator(IMMDeviceEnumerator** enumerator);

}  // namespace standin
