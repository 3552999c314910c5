#include "pulse/pulse_record_stream.h"

#include <audioclient.h>

#include <algorithm>

#include "pulse/wave_format.h"

namespace standin {
namespace {

// ReleaseBuffer with a frame count other than the packet's or 0.
constexpr HRESULT kInvalidSize = static_cast<HRESULT>(0x88890011u);  // AUDCLNT_E_INVALID_SIZE

// Fragments: the device period of a shared stream, the buffer of an exclusive one.
constexpr pa_usec_t kSharedFragment = 10 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kExclusiveFragment = 100 * PA_USEC_PER_MSEC;
// An exclusive stream's round: its buffer, less what a caller's late tick can
// take off the time between two drains.
constexpr pa_usec_t kExclusiveRound = kExclusiveFragment - 5 * PA_USEC_PER_MSEC;
// Drains closer together than this are a caller catching up, or polling.
constexpr pa_usec_t kBackToBack = 5 * PA_USEC_PER_MSEC;

// The failure of a stream the server did not set up, from the context's error.
HRESULT StreamFailure(pa_context* context) {
  switch (pa_context_errno(context)) {
    case PA_ERR_NOENTITY:
    case PA_ERR_KILLED:
      return AUDCLNT_E_DEVICE_INVALIDATED;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
      return AUDCLNT_E_UNSUPPORTED_FORMAT;
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_TIMEOUT:
      return AUDCLNT_E_SERVICE_NOT_RUNNING;
    default:
      return E_FAIL;
  }
}

}  // namespace

PulseRecordStream::PulseRecordStream(std::shared_ptr<PulseConnection> connection,
                                     std::size_t frameBytes)
    : connection_(std::move(connection)),
      assembler_(frameBytes),
      emptyAtPass_(connection_->Passes()) {}

HRESULT PulseRecordStream::Open(std::shared_ptr<PulseConnection> connection,
                                const PulseEndpoint& endpoint, const WAVEFORMATEX& format,
                                bool exclusive, std::shared_ptr<PulseRecordStream>* stream) {
  std::shared_ptr<PulseRecordStream> opened(
      new PulseRecordStream(std::move(connection), format.nBlockAlign));
  const HRESULT result = opened->Connect(endpoint, SampleSpecOf(format), exclusive);
  if (SUCCEEDED(result)) *stream = std::move(opened);
  return result;
}

HRESULT PulseRecordStream::Connect(const PulseEndpoint& endpoint, const pa_sample_spec& sampleSpec,
                                   bool exclusive) {
  MainloopLock lock(*connection_);
  pa_context* context = connection_->Context();
  if (!connection_->IsReady()) return AUDCLNT_E_SERVICE_NOT_RUNNING;

  // The endpoint's own channel positions: the server neither remaps nor remixes.
  stream_ =
      pa_stream_new(context, "velmoravad-aggregate capture", &sampleSpec, &endpoint.channelMap);
  if (stream_ == nullptr) return StreamFailure(context);
  pa_stream_set_read_callback(stream_, OnReadable, this);
  exclusive_ = exclusive;

  // The fragment is what the server hands over at a time, and with
  // ADJUST_LATENCY also the source's own period: a timer-driven source (a sound
  // card, a sink's monitor) then delivers every fragment as it fills, never a
  // burst of its longest latency.
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = static_cast<std::uint32_t>(-1);
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(
      pa_usec_to_bytes(exclusive ? kExclusiveFragment : kSharedFragment, &sampleSpec));
  // A vanished source ends the stream rather than moving it elsewhere.
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE |
                                                    PA_STREAM_ADJUST_LATENCY);
  if (pa_stream_connect_record(stream_, endpoint.recordSource.c_str(), &attributes, flags) < 0) {
    return StreamFailure(context);
  }
  const bool settled = connection_->WaitUntil([this] {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    return state != PA_STREAM_CREATING && state != PA_STREAM_UNCONNECTED;
  });
  if (!settled) return AUDCLNT_E_SERVICE_NOT_RUNNING;
  return pa_stream_get_state(stream_) == PA_STREAM_READY ? S_OK : StreamFailure(context);
}

PulseRecordStream::~PulseRecordStream() {
  if (stream_ == nullptr) return;
  MainloopLock lock(*connection_);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  if (pa_stream_get_state(stream_) == PA_STREAM_READY) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  connection_->Dispatch();  // sends the disconnection now, not at the next wait
}

HRESULT PulseRecordStream::Loss() const {
  if (!connection_->IsReady()) return AUDCLNT_E_SERVICE_NOT_RUNNING;
  return pa_stream_get_state(stream_) == PA_STREAM_READY ? S_OK : AUDCLNT_E_DEVICE_INVALIDATED;
}

HRESULT PulseRecordStream::SetCorked(bool corked) {
  MainloopLock lock(*connection_);
  if (const HRESULT lost = Loss(); FAILED(lost)) return lost;
  if (!connection_->WaitForOperation(pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr))) {
    const HRESULT lost = Loss();
    return FAILED(lost) ? lost : AUDCLNT_E_SERVICE_NOT_RUNNING;  // no answer in time
  }
  return S_OK;
}

void PulseRecordStream::OnReadable(pa_stream*, std::size_t bytes, void* stream) {
  static_cast<PulseRecordStream*>(stream)->readableBytes_ = bytes;
}

HRESULT PulseRecordStream::FillPacket() {
  // A drain that hands out takes in what the server has sent when it starts, in
  // one pass for every stream: the first stream to start one since it last
  // found nothing runs it. So each drain sees the server as it was when the
  // drain began, however closely drains follow each other (after a stall the
  // caller runs them back to back). Within a drain, or while a packet is held,
  // what is seen is at most kDispatchInterval old.
  if (drainStarts_) {
    drainStarts_ = false;
    handingOut_ = HandOutDue();
    if (handingOut_ && emptyAtPass_ == connection_->Passes()) connection_->Dispatch();
  } else {
    connection_->DispatchIfDue();
  }
  if (const HRESULT lost = Loss(); FAILED(lost)) return lost;
  // Only what the read callback announced is peeked: each libpulse stream call
  // costs a system call (its check for a fork), and most drains find nothing.
  while (handingOut_ && !assembler_.HasPacket() && readableBytes_ > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (bytes == 0) {
      readableBytes_ = 0;
      break;
    }
    assembler_.Offer(data, bytes);
    pa_stream_drop(stream_);
    readableBytes_ -= std::min(readableBytes_, bytes);
  }
  if (!assembler_.HasPacket()) {  // nothing waiting: the drain ends here
    drainStarts_ = true;
    emptyAtPass_ = connection_->Passes();
  }
  return S_OK;
}

bool PulseRecordStream::HandOutDue() {
  if (!exclusive_) return true;
  const pa_usec_t now = pa_rtclock_now();
  const bool backToBack = now - lastDrainStart_ < kBackToBack;
  lastDrainStart_ = now;
  const std::uint64_t round = connection_->RoundIfDue(now, backToBack ? 0 : kExclusiveRound);
  if (round == handedOutRound_) return false;
  handedOutRound_ = round;
  return true;
}

HRESULT PulseRecordStream::NextPacketFrames(UINT32* frames) {
  if (frames == nullptr) return E_POINTER;
  MainloopLock lock(*connection_);
  *frames = 0;
  const HRESULT result = FillPacket();
  if (FAILED(result)) return result;
  *frames = assembler_.PacketFrames();
  return S_OK;
}

HRESULT PulseRecordStream::GetPacket(BYTE** data, UINT32* frames, DWORD* flags,
                                     UINT64* devicePosition, UINT64* performanceCounterPosition) {
  if (data == nullptr || frames == nullptr || flags == nullptr) return E_POINTER;
  *data = nullptr;
  *frames = 0;
  *flags = 0;
  MainloopLock lock(*connection_);
  if (packetHandedOut_) return AUDCLNT_E_OUT_OF_ORDER;
  const HRESULT result = FillPacket();
  if (FAILED(result)) return result;
  if (!assembler_.HasPacket()) return AUDCLNT_S_BUFFER_EMPTY;
  *data = const_cast<BYTE*>(assembler_.PacketData());
  *frames = assembler_.PacketFrames();
  *flags = assembler_.PacketIsSilent() ? AUDCLNT_BUFFERFLAGS_SILENT : 0;
  if (devicePosition != nullptr) *devicePosition = framesReleased_;
  // 100-ns units of the monotonic clock.
  if (performanceCounterPosition != nullptr) *performanceCounterPosition = pa_rtclock_now() * 10;
  packetHandedOut_ = true;
  return S_OK;
}

HRESULT PulseRecordStream::ReleasePacket(UINT32 frames) {
  MainloopLock lock(*connection_);
  if (!packetHandedOut_) return AUDCLNT_E_OUT_OF_ORDER;
  if (frames != 0 && frames != assembler_.PacketFrames()) return kInvalidSize;
  packetHandedOut_ = false;
  if (frames == 0) return S_OK;  // nothing read: the same packet comes again
  framesReleased_ += frames;
  assembler_.Release();
  return S_OK;
}

}  // namespace standin
