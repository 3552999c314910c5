// The simulated audio client and capture client of one endpoint.
#include "capture/fake_com_object.h"

#include <cstring>
#include <sstream>

namespace velmoravad::testing {
namespace {

WAVEFORMATEXTENSIBLE CopyFormat(const WAVEFORMATEX* format) {
  WAVEFORMATEXTENSIBLE copy{};
  if (format == nullptr) return copy;
  const std::size_t size = format->wFormatTag == WAVE_FORMAT_EXTENSIBLE
                               ? sizeof(WAVEFORMATEXTENSIBLE)
                               : sizeof(WAVEFORMATEX);
  std::memcpy(&copy, format, size);
  return copy;
}

class FakeCaptureClient final : public FakeComObject<IAudioCaptureClient> {
 public:
  FakeCaptureClient(FakeAudioSystem& system, FakeEndpointScript& endpoint)
      : FakeComObject(system, "IAudioCaptureClient " + Narrow(endpoint.id)), endpoint_(endpoint) {}

  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* framesToRead, DWORD* flags,
                                      UINT64* devicePosition, UINT64* qpcPosition) override {
    const NotCounted bookkeeping;
    if (system_.recordCalls) {
      system_.calls.push_back(
          std::string("IAudioCaptureClient::GetBuffer ") + Narrow(endpoint_.id) +
          (devicePosition == nullptr && qpcPosition == nullptr ? " positions=null" : " positions"));
    }
    *data = nullptr;
    *framesToRead = 0;
    *flags = 0;
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kGetBuffer);
    if (failure != S_OK) return failure;
    if (endpoint_.packets.empty()) return AUDCLNT_S_BUFFER_EMPTY;
    current_ = std::move(endpoint_.packets.front());
    endpoint_.packets.pop_front();
    *data = current_.samples.empty() ? nullptr : reinterpret_cast<BYTE*>(current_.samples.data());
    *framesToRead = current_.frames;
    *flags = (current_.silent ? AUDCLNT_BUFFERFLAGS_SILENT : 0) | current_.otherFlags;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 framesRead) override {
    const NotCounted bookkeeping;
    if (system_.recordCalls) {
      system_.calls.push_back("IAudioCaptureClient::ReleaseBuffer " + Narrow(endpoint_.id) + " " +
                              std::to_string(framesRead));
    }
    return system_.FailureFor(&endpoint_, FakeCall::kReleaseBuffer);
  }

  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* framesInNextPacket) override {
    const NotCounted bookkeeping;
    if (system_.recordCalls) {
      system_.calls.push_back("IAudioCaptureClient::GetNextPacketSize " + Narrow(endpoint_.id));
    }
    *framesInNextPacket = 0;
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kGetNextPacketSize);
    if (failure != S_OK) return failure;
    if (!endpoint_.packets.empty()) *framesInNextPacket = endpoint_.packets.front().frames;
    return S_OK;
  }

 private:
  FakeEndpointScript& endpoint_;
  FakePacket current_;
};

class FakeAudioClient final : public FakeComObject<IAudioClient> {
 public:
  FakeAudioClient(FakeAudioSystem& system, FakeEndpointScript& endpoint)
      : FakeComObject(system, "IAudioClient " + Narrow(endpoint.id)), endpoint_(endpoint) {}

  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags,
                                       REFERENCE_TIME bufferDuration, REFERENCE_TIME periodicity,
                                       const WAVEFORMATEX* format,
                                       const GUID* audioSessionGuid) override {
    const NotCounted bookkeeping;
    Log("Initialize");
    FormatRequest request;
    request.endpointId = endpoint_.id;
    request.shareMode = shareMode;
    request.format = CopyFormat(format);
    request.streamFlags = streamFlags;
    request.bufferDuration = bufferDuration;
    request.periodicity = periodicity;
    request.sessionGuidIsNull = audioSessionGuid == nullptr;
    system_.initializations.push_back(request);
    return system_.FailureFor(&endpoint_, FakeCall::kInitialize);
  }

  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE shareMode,
                                              const WAVEFORMATEX* format,
                                              WAVEFORMATEX** closestMatch) override {
    const NotCounted bookkeeping;
    Log("IsFormatSupported");
    FormatRequest request;
    request.endpointId = endpoint_.id;
    request.shareMode = shareMode;
    request.format = CopyFormat(format);
    request.closestMatchStartedNull = closestMatch != nullptr && *closestMatch == nullptr;
    system_.formatQueries.push_back(request);
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kIsFormatSupported);
    if (failure != S_OK) return failure;
    if (endpoint_.formatSupport == S_FALSE && closestMatch != nullptr) {
      // A closest match the caller must free without using.
      auto* match = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
      *match = format != nullptr ? *format : WAVEFORMATEX{};
      match->nSamplesPerSec = 44100;
      *closestMatch = match;
    }
    return endpoint_.formatSupport;
  }

  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** deviceFormat) override {
    const NotCounted bookkeeping;
    Log("GetMixFormat");
    *deviceFormat = nullptr;
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kGetMixFormat);
    if (failure != S_OK) return failure;
    auto* format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    *format = WAVEFORMATEX{};
    format->wFormatTag = 3;  // IEEE float, as shared-mode mix formats usually are
    format->nChannels = endpoint_.mixChannels;
    format->nSamplesPerSec = 44100;
    format->wBitsPerSample = 32;
    *deviceFormat = format;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override {
    const NotCounted bookkeeping;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Start() override {
    const NotCounted bookkeeping;
    Log("Start");
    return system_.FailureFor(&endpoint_, FakeCall::kStart);
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    const NotCounted bookkeeping;
    Log("Stop");
    return system_.FailureFor(&endpoint_, FakeCall::kStop);
  }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE eventHandle) override {
    const NotCounted bookkeeping;
    Log(eventHandle != nullptr && eventHandle != INVALID_HANDLE_VALUE ? "SetEventHandle"
                                                                      : "SetEventHandle none");
    return system_.FailureFor(&endpoint_, FakeCall::kSetEventHandle);
  }

  HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** service) override {
    const NotCounted bookkeeping;
    Log(IsEqualGUID(riid, __uuidof(IAudioCaptureClient)) ? "GetService IAudioCaptureClient"
                                                         : "GetService other");
    *service = nullptr;
    const HRESULT failure = system_.FailureFor(&endpoint_, FakeCall::kGetService);
    if (failure != S_OK) return failure;
    if (!IsEqualGUID(riid, __uuidof(IAudioCaptureClient))) return E_NOINTERFACE;
    *service = system_.Make<FakeCaptureClient>(endpoint_);
    return S_OK;
  }

 private:
  void Log(const std::string& method) {
    system_.calls.push_back("IAudioClient::" + method + " " + Narrow(endpoint_.id));
  }

  FakeEndpointScript& endpoint_;
};

}  // namespace

IAudioClient* MakeFakeAudioClient(FakeAudioSystem& system, FakeEndpointScript& endpoint) {
  return system.Make<FakeAudioClient>(endpoint);
}

}  // namespace velmoravad::testing
