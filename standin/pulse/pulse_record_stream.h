// One PulseAudio record stream: what an initialised audio client captures from,
// shared by the audio client (start, stop) and its capture clients (packets).
// Every member runs under the connection's mainloop lock, which therefore also
// guards the packet state; the capture calls run the mainloop themselves to take
// in what the server has sent. libpulse's read callback, run inside those
// passes, only notes how much is readable.
//
// Packets come as Windows hands them out: a shared stream's at every drain (its
// 10 ms period), an exclusive stream's once a round, when its 100 ms buffer has
// filled, all exclusive streams in step so that one pass serves them. Drains
// that come back to back (a caller catching up after a stall, or polling) hand
// out at every drain in either mode.
#pragma once

#include <windows.h>
// windows.h must come first.
#include <mmreg.h>

#include <cstdint>
#include <memory>

#include "pulse/capture_packet_assembler.h"
#include "pulse/pulse_connection.h"
#include "pulse/pulse_endpoint.h"

namespace standin {

class PulseRecordStream {
 public:
  // Records from the endpoint (a sink's monitor for a render endpoint) in
  // `format`, one that IsEngineFormat accepts, corked, and waits until the
  // server has set the stream up. Shared mode asks for 10 ms fragments,
  // exclusive mode for 100 ms.
  static HRESULT Open(std::shared_ptr<PulseConnection> connection, const PulseEndpoint& endpoint,
                      const WAVEFORMATEX& format, bool exclusive,
                      std::shared_ptr<PulseRecordStream>* stream);

  PulseRecordStream(const PulseRecordStream&) = delete;
  PulseRecordStream& operator=(const PulseRecordStream&) = delete;
  ~PulseRecordStream();

  // Uncorks (capture runs) or corks the stream, waiting for the server.
  HRESULT SetCorked(bool corked);

  // Once the stream is lost (see Loss) the capture calls and SetCorked report
  // that, even while a packet is still held.
  // IAudioCaptureClient: frames of the next packet, 0 when none waits.
  HRESULT NextPacketFrames(UINT32* frames);
  // IAudioCaptureClient: hands out the next packet, or AUDCLNT_S_BUFFER_EMPTY.
  HRESULT GetPacket(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                    UINT64* performanceCounterPosition);
  // IAudioCaptureClient: ends the packet handed out (0 frames keeps it for later).
  HRESULT ReleasePacket(UINT32 frames);

 private:
  PulseRecordStream(std::shared_ptr<PulseConnection> connection, std::size_t frameBytes);
  HRESULT Connect(const PulseEndpoint& endpoint, const pa_sample_spec& sampleSpec, bool exclusive);
  // Locked: S_OK while the stream runs; AUDCLNT_E_SERVICE_NOT_RUNNING once the
  // connection to the server is gone, AUDCLNT_E_DEVICE_INVALIDATED once only
  // the stream is (its source went away).
  HRESULT Loss() const;
  // Locked: takes in what the server has sent when due; then the loss, if any,
  // as above; else peeks (and drops) fragments until a packet is ready or none
  // is waiting.
  HRESULT FillPacket();
  // Locked: whether the drain now starting hands out what libpulse holds.
  bool HandOutDue();
  static void OnReadable(pa_stream*, std::size_t bytes, void* stream);

  std::shared_ptr<PulseConnection> connection_;
  pa_stream* stream_ = nullptr;
  CapturePacketAssembler assembler_;
  bool packetHandedOut_ = false;
  UINT64 framesReleased_ = 0;      // frames of every packet released so far: the device position
  std::size_t readableBytes_ = 0;  // held by libpulse, holes included, not yet peeked
  // The next capture call starts a drain: the last one found no packet.
  bool drainStarts_ = true;
  // The connection's pass count when this stream last found no packet.
  std::uint64_t emptyAtPass_;
  bool exclusive_ = false;
  bool handingOut_ = false;           // this drain hands out what libpulse holds
  std::uint64_t handedOutRound_ = 0;  // the connection's round of the last hand-out
  pa_usec_t lastDrainStart_ = 0;
};

}  // namespace standin
