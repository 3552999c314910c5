// An IAudioClient on a PulseAudio endpoint. The mix format and the only format
// accepted are 16-bit PCM at 48000 frames per second with the endpoint's channel
// count. PulseAudio has no exclusive mode: exclusive mode is accepted and only
// changes the fragment size asked for. Initialize sets up a corked record stream;
// Start uncorks it and Stop corks it again.
#pragma once

#include <audioclient.h>

#include <memory>
#include <mutex>

#include "pulse/com_object.h"
#include "pulse/pulse_connection.h"
#include "pulse/pulse_endpoint.h"
#include "pulse/pulse_record_stream.h"

namespace standin {

class PulseAudioClient final : public ComObject<IAudioClient> {
 public:
  PulseAudioClient(std::shared_ptr<PulseConnection> connection, PulseEndpoint endpoint);

  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags,
                                       REFERENCE_TIME bufferDuration, REFERENCE_TIME periodicity,
                                       const WAVEFORMATEX* format,
                                       const GUID* audioSessionGuid) override;
  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* bufferFrames) override;
  HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override;
  HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* paddingFrames) override;
  HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE shareMode,
                                              const WAVEFORMATEX* format,
                                              WAVEFORMATEX** closestMatch) override;
  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** deviceFormat) override;
  HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod,
                                            REFERENCE_TIME* minimumPeriod) override;
  HRESULT STDMETHODCALLTYPE Start() override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE eventHandle) override;
  HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** service) override;

 private:
  const std::shared_ptr<PulseConnection> connection_;
  const PulseEndpoint endpoint_;

  std::mutex mutex_;                           // guards the members below
  std::shared_ptr<PulseRecordStream> stream_;  // set by a successful Initialize
  DWORD streamFlags_ = 0;
  HANDLE eventHandle_ = nullptr;  // registered, never signalled: nothing waits on it
  bool running_ = false;
};

}  // namespace standin
