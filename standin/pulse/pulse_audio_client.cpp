#include "pulse/pulse_audio_client.h"

#include <new>

#include "pulse/pulse_capture_client.h"
#include "pulse/wave_format.h"

namespace standin {
namespace {
// The period a stream is served at, in 100-ns units: 10 ms, as Windows reports.
constexpr REFERENCE_TIME kDevicePeriod = 100000;
}  // namespace

PulseAudioClient::PulseAudioClient(std::shared_ptr<PulseConnection> connection,
                                   PulseEndpoint endpoint)
    : connection_(std::move(connection)), endpoint_(std::move(endpoint)) {}

HRESULT PulseAudioClient::Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags, REFERENCE_TIME,
                                     REFERENCE_TIME, const WAVEFORMATEX* format, const GUID*) {
  if (format == nullptr) return E_POINTER;
  if (shareMode != AUDCLNT_SHAREMODE_SHARED && shareMode != AUDCLNT_SHAREMODE_EXCLUSIVE) {
    return E_INVALIDARG;
  }
  std::lock_guard<std::mutex> guard(mutex_);
  if (stream_ != nullptr) return AUDCLNT_E_ALREADY_INITIALIZED;
  if (!IsEngineFormat(*format, endpoint_.channelMap.channels)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
  const HRESULT result = PulseRecordStream::Open(
      connection_, endpoint_, *format, shareMode == AUDCLNT_SHAREMODE_EXCLUSIVE, &stream_);
  if (SUCCEEDED(result)) streamFlags_ = streamFlags;
  return result;
}

HRESULT PulseAudioClient::GetBufferSize(UINT32*) { return E_NOTIMPL; }

HRESULT PulseAudioClient::GetStreamLatency(REFERENCE_TIME*) { return E_NOTIMPL; }

HRESULT PulseAudioClient::GetCurrentPadding(UINT32*) { return E_NOTIMPL; }

HRESULT PulseAudioClient::IsFormatSupported(AUDCLNT_SHAREMODE shareMode, const WAVEFORMATEX* format,
                                            WAVEFORMATEX** closestMatch) {
  if (closestMatch != nullptr) *closestMatch = nullptr;
  if (format == nullptr) return E_POINTER;
  if (shareMode == AUDCLNT_SHAREMODE_EXCLUSIVE) {
    return IsEngineFormat(*format, endpoint_.channelMap.channels) ? S_OK
                                                                  : AUDCLNT_E_UNSUPPORTED_FORMAT;
  }
  if (shareMode != AUDCLNT_SHAREMODE_SHARED) return E_INVALIDARG;
  if (closestMatch == nullptr) return E_POINTER;  // shared mode must be able to answer one
  if (IsEngineFormat(*format, endpoint_.channelMap.channels)) return S_OK;
  *closestMatch = NewEngineFormat(endpoint_.channelMap);
  return *closestMatch != nullptr ? S_FALSE : E_OUTOFMEMORY;
}

HRESULT PulseAudioClient::GetMixFormat(WAVEFORMATEX** deviceFormat) {
  if (deviceFormat == nullptr) return E_POINTER;
  *deviceFormat = NewEngineFormat(endpoint_.channelMap);
  return *deviceFormat != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT PulseAudioClient::GetDevicePeriod(REFERENCE_TIME* defaultPeriod,
                                          REFERENCE_TIME* minimumPeriod) {
  if (defaultPeriod == nullptr && minimumPeriod == nullptr) return E_POINTER;
  if (defaultPeriod != nullptr) *defaultPeriod = kDevicePeriod;
  if (minimumPeriod != nullptr) *minimumPeriod = kDevicePeriod;
  return S_OK;
}

HRESULT PulseAudioClient::Start() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (stream_ == nullptr) return AUDCLNT_E_NOT_INITIALIZED;
  if (running_) return AUDCLNT_E_NOT_STOPPED;
  if ((streamFlags_ & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) != 0 && eventHandle_ == nullptr) {
    return AUDCLNT_E_EVENTHANDLE_NOT_SET;
  }
  const HRESULT result = stream_->SetCorked(false);
  if (SUCCEEDED(result)) running_ = true;
  return result;
}

HRESULT PulseAudioClient::Stop() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (stream_ == nullptr) return AUDCLNT_E_NOT_INITIALIZED;
  if (!running_) return S_FALSE;
  running_ = false;
  return stream_->SetCorked(true);
}

HRESULT PulseAudioClient::Reset() { return E_NOTIMPL; }

HRESULT PulseAudioClient::SetEventHandle(HANDLE eventHandle) {
  if (eventHandle == nullptr || eventHandle == INVALID_HANDLE_VALUE) return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(mutex_);
  if (stream_ == nullptr) return AUDCLNT_E_NOT_INITIALIZED;
  eventHandle_ = eventHandle;
  return S_OK;
}

HRESULT PulseAudioClient::GetService(REFIID riid, void** service) {
  if (service == nullptr) return E_POINTER;
  *service = nullptr;
  std::lock_guard<std::mutex> guard(mutex_);
  if (stream_ == nullptr) return AUDCLNT_E_NOT_INITIALIZED;
  if (riid != __uuidof(IAudioCaptureClient)) return E_NOINTERFACE;
  auto* client = new (std::nothrow) PulseCaptureClient(stream_);
  if (client == nullptr) return E_OUTOFMEMORY;
  *service = static_cast<IAudioCaptureClient*>(client);
  return S_OK;
}

}  // namespace standin
