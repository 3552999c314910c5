// One capture endpoint that the program reads: what discovery learned about it,
// the Core Audio objects of its capture stream and the queue of captured samples.
//
// Threading: everything runs on the main thread, which initialised COM; nothing
// here is locked. Lifetime: the record is move-only and owns one reference to
// each interface and the event handle. Destruction (and move assignment onto a
// record) stops the stream, releases the capture client, the audio client and the
// device in that order, then closes the event. A moved-from record holds nothing.
#pragma once

#include "capture/com_ptr.h"
#include "capture/core_audio.h"
#include "common/output_format.h"
#include "common/sample_queue.h"
#include "common/unique_handle.h"

#include <cstdint>
#include <string>

namespace velmoravad {

// A queue bound of one second: channels x 48000 samples.
inline constexpr std::size_t kQueueFramesLimit = kFramesPerSecond;

class CaptureEndpoint {
 public:
  CaptureEndpoint() = default;
  CaptureEndpoint(CaptureEndpoint&& other) noexcept = default;
  CaptureEndpoint& operator=(CaptureEndpoint&& other) noexcept;
  CaptureEndpoint(const CaptureEndpoint&) = delete;
  CaptureEndpoint& operator=(const CaptureEndpoint&) = delete;
  ~CaptureEndpoint();

  // Obtains the audio client and the channel count; with `initialize`, also sets
  // up the capture stream (exclusive or shared) in the requested format with its
  // event and capture client. Does not start the stream. Precondition: `device`
  // is set and the record was not opened before. What a failing call obtained
  // stays in the record until it is destroyed.
  HRESULT OpenCaptureStream(bool initialize, bool exclusive);

  // Moves every waiting capture packet into `samples`, oldest first, keeping at
  // most one second after each packet. Precondition: opened with `initialize`.
  HRESULT DrainCapturePackets();

  // Whole frames in `samples`; 0 while `channels` is 0.
  std::uint64_t AvailableFrames() const;

  // Makes the storage of `samples` for one second and one period's packet, so
  // that draining a running stream allocates nothing. Throws std::bad_alloc.
  void ReserveQueue();

  std::int32_t slot = 0;  // application slot; 0 for the live input
  std::wstring friendlyName;
  std::wstring endpointId;
  std::uint16_t channels = 0;  // of the endpoint's mix format
  ComPtr<IMMDevice> device;
  ComPtr<IAudioClient> audioClient;
  ComPtr<IAudioCaptureClient> captureClient;
  UniqueHandle captureEvent;  // auto-reset, registered with the stream, never waited on
  SampleQueue samples;        // interleaved frames, oldest first

 private:
  // Stops the stream and releases the interfaces and the event.
  void ReleaseStreamObjects();
  // DrainCapturePackets itself; throws std::bad_alloc when the queue cannot grow.
  HRESULT MoveWaitingPackets();
};

}  // namespace velmoravad
