#include "pulse/pulse_capture_client.h"

namespace standin {

PulseCaptureClient::PulseCaptureClient(std::shared_ptr<PulseRecordStream> stream)
    : stream_(std::move(stream)) {}

HRESULT PulseCaptureClient::GetBuffer(BYTE** data, UINT32* framesToRead, DWORD* flags,
                                      UINT64* devicePosition, UINT64* qpcPosition) {
  return stream_->GetPacket(data, framesToRead, flags, devicePosition, qpcPosition);
}

HRESULT PulseCaptureClient::ReleaseBuffer(UINT32 framesRead) {
  return stream_->ReleasePacket(framesRead);
}

HRESULT PulseCaptureClient::GetNextPacketSize(UINT32* framesInNextPacket) {
  return stream_->NextPacketFrames(framesInNextPacket);
}

}  // namespace standin
