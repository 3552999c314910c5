#include "capture/capture_endpoint.h"

#include "capture/audio_system.h"
#include "capture/co_task_mem_ptr.h"
#include "capture/stream_format.h"
#include "capture/stream_timing.h"
#include "common/hresult.h"

namespace velmoravad {

CaptureEndpoint& CaptureEndpoint::operator=(CaptureEndpoint&& other) noexcept {
  if (this != &other) {
    ReleaseStreamObjects();
    slot = other.slot;
    friendlyName = std::move(other.friendlyName);
    endpointId = std::move(other.endpointId);
    channels = other.channels;
    device = std::move(other.device);
    audioClient = std::move(other.audioClient);
    captureClient = std::move(other.captureClient);
    captureEvent = std::move(other.captureEvent);
    samples = std::move(other.samples);
  }
  return *this;
}

CaptureEndpoint::~CaptureEndpoint() { ReleaseStreamObjects(); }

void CaptureEndpoint::ReleaseStreamObjects() {
  // Stopping a stream that never started is harmless, so it is not tracked.
  if (audioClient) audioClient->Stop();
  captureClient.Reset();
  audioClient.Reset();
  device.Reset();
  captureEvent.Close();
}

HRESULT CaptureEndpoint::OpenCaptureStream(bool initialize, bool exclusive) {
  HRESULT result =
      device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, audioClient.ReceiveVoid());
  if (Failed(result)) return result;

  CoTaskMemPtr<WAVEFORMATEX> mixFormat;
  result = audioClient->GetMixFormat(CoTaskMemOut<WAVEFORMATEX>(mixFormat).Address());
  if (Failed(result)) return result;
  channels = mixFormat ? mixFormat->nChannels : 0;
  mixFormat.reset();
  if (channels == 0) return E_INVALIDARG;
  if (!initialize) return S_OK;

  const WAVEFORMATEXTENSIBLE format = BuildRequestedFormat(channels);
  const auto* requested = reinterpret_cast<const WAVEFORMATEX*>(&format);
  const StreamTiming timing = StreamTimingFor(exclusive);

  CoTaskMemPtr<WAVEFORMATEX> closestMatch;
  result = audioClient->IsFormatSupported(timing.shareMode, requested,
                                          CoTaskMemOut<WAVEFORMATEX>(closestMatch).Address());
  // The closest match is never used: only exact acceptance lets a stream be set up.
  closestMatch.reset();
  if (Failed(result)) return result;
  if (result != S_OK) return AUDCLNT_E_UNSUPPORTED_FORMAT;

  result = audioClient->Initialize(timing.shareMode, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                   timing.bufferDuration, timing.periodicity, requested, nullptr);
  if (Failed(result)) return result;

  captureEvent = UniqueHandle(CurrentAudioSystem().CreateCaptureEvent());
  if (!captureEvent.IsValid()) return HresultFromFailedWin32Call(GetLastError());

  result = audioClient->SetEventHandle(captureEvent.Get());
  if (Failed(result)) return result;

  return audioClient->GetService(__uuidof(IAudioCaptureClient), captureClient.ReceiveVoid());
}

HRESULT CaptureEndpoint::DrainCapturePackets() {
  // A queue that cannot grow fails the drain like a failed call would.
  return CatchOutOfMemory([this] { return MoveWaitingPackets(); });
}

HRESULT CaptureEndpoint::MoveWaitingPackets() {
  const std::size_t queueLimit = std::size_t{channels} * kQueueFramesLimit;
  UINT32 packetFrames = 0;
  HRESULT result = captureClient->GetNextPacketSize(&packetFrames);
  while (!Failed(result) && packetFrames != 0) {
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    result = captureClient->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
    if (Failed(result)) return result;

    const std::uint64_t sampleCount = std::uint64_t{frames} * channels;
    // A packet without data is taken as silence rather than read, so that a
    // faulty driver cannot crash the program or shift the frames after it.
    if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || data == nullptr) {
      samples.AppendSilence(static_cast<std::size_t>(sampleCount));
    } else {
      samples.Append(reinterpret_cast<const std::int16_t*>(data),
                     static_cast<std::size_t>(sampleCount));
    }
    result = captureClient->ReleaseBuffer(frames);
    if (Failed(result)) return result;

    samples.TrimFront(queueLimit);
    result = captureClient->GetNextPacketSize(&packetFrames);
  }
  return result;
}

void CaptureEndpoint::ReserveQueue() {
  // A packet is one device period: the exclusive buffer, about 10 ms shared.
  constexpr std::size_t kReferenceTimePerSecond = 10'000'000;  // 100-ns units
  constexpr std::size_t kPeriodFrames =
      kExclusiveBufferDuration * kFramesPerSecond / kReferenceTimePerSecond;
  samples.Reserve((kQueueFramesLimit + kPeriodFrames) * channels);
}

std::uint64_t CaptureEndpoint::AvailableFrames() const {
  return channels == 0 ? 0 : samples.Size() / channels;
}

}  // namespace velmoravad
