// The IAudioCaptureClient of an initialised PulseAudio audio client: a capture
// packet is one record-stream fragment (see pulse_record_stream.h). It keeps the
// stream alive, as a capture client on Windows keeps its audio stream.
#pragma once

#include <audioclient.h>

#include <memory>

#include "pulse/com_object.h"
#include "pulse/pulse_record_stream.h"

namespace standin {

class PulseCaptureClient final : public ComObject<IAudioCaptureClient> {
 public:
  explicit PulseCaptureClient(std::shared_ptr<PulseRecordStream> stream);

  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* framesToRead, DWORD* flags,
                                      UINT64* devicePosition, UINT64* qpcPosition) override;
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 framesRead) override;
  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* framesInNextPacket) override;

 private:
  const std::shared_ptr<PulseRecordStream> stream_;
};

}  // namespace standin
