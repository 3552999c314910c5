// What the audio system knows of one endpoint: a PulseAudio source (capture) or
// sink (render), as the server described it when it was looked up.
#pragma once

#include <mmdeviceapi.h>
#include <pulse/pulseaudio.h>

#include <string>
#include <vector>

namespace standin {

class PulseConnection;

struct PulseEndpoint {
  EDataFlow flow = eCapture;
  std::string name;             // source or sink name (UTF-8): the endpoint id
  std::string description;      // device description (UTF-8): the friendly name
  std::string recordSource;     // what a capture stream records: the source, or a sink's monitor
  pa_sample_spec sampleSpec{};  // the server's format of the source or sink
  pa_channel_map channelMap{};  // its channel positions, used unchanged by capture streams
};

// Every endpoint of the flow (eCapture: sources, monitors included; eRender:
// sinks; eAll: sinks, then sources), in the server's order.
HRESULT ListPulseEndpoints(PulseConnection& connection, EDataFlow flow,
                           std::vector<PulseEndpoint>* endpoints);

// The source whose name is exactly `name`, else the sink; neither gives
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND).
HRESULT FindPulseEndpoint(PulseConnection& connection, const std::string& name,
                          PulseEndpoint* endpoint);

// The server's default source (eCapture) or sink (eRender).
HRESULT FindDefaultPulseEndpoint(PulseConnection& connection, EDataFlow flow,
                                 PulseEndpoint* endpoint);

}  // namespace standin
