// An IMMDevice for one PulseAudio source or sink, as the server described it when
// it was enumerated or looked up. Its id is the source or sink name.
#pragma once

#include <mmdeviceapi.h>

#include <memory>

#include "pulse/com_object.h"
#include "pulse/pulse_connection.h"
#include "pulse/pulse_endpoint.h"

namespace standin {

class PulseDevice final : public ComObject<IMMDevice> {
 public:
  PulseDevice(std::shared_ptr<PulseConnection> connection, PulseEndpoint endpoint);

  // Only IAudioClient can be activated.
  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD context, PROPVARIANT* activationParams,
                                     void** object) override;
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** properties) override;
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override;

 private:
  const std::shared_ptr<PulseConnection> connection_;
  const PulseEndpoint endpoint_;
};

}  // namespace standin
