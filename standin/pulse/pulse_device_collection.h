// A snapshot of PulseAudio endpoints, taken when the enumerator listed them.
#pragma once

#include <mmdeviceapi.h>

#include <memory>
#include <vector>

#include "pulse/com_object.h"
#include "pulse/pulse_connection.h"
#include "pulse/pulse_endpoint.h"

namespace standin {

class PulseDeviceCollection final : public ComObject<IMMDeviceCollection> {
 public:
  PulseDeviceCollection(std::shared_ptr<PulseConnection> connection,
                        std::vector<PulseEndpoint> endpoints);

  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override;
  // A new device object for the endpoint at that index.
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override;

 private:
  const std::shared_ptr<PulseConnection> connection_;
  const std::vector<PulseEndpoint> endpoints_;
};

}  // namespace standin
